// Folders on Windows: the wide-character calls, names turned into UTF-8.
#include "files/Listing.h"

#include <windows.h>

#include "files/FileIo.h"

namespace qel {

namespace {

WideNameHook wideNameHook = nullptr;

bool isHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A link or junction is followed to what it names; a dangling one, or one
// that cannot be opened, is neither a file nor a folder.
EntryKind kindOf(const WIN32_FIND_DATAW& data, const std::string& path, bool reachable) {
    DWORD attributes = data.dwFileAttributes;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!reachable) return EntryKind::other;
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        const HANDLE handle =
            CreateFileW(widePath(path).c_str(), 0, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return EntryKind::other;
        BY_HANDLE_FILE_INFORMATION info;
        const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
        CloseHandle(handle);
        if (!known) return EntryKind::other;
        attributes = info.dwFileAttributes;
    }
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::other;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::folder : EntryKind::file;
}

// The folder with a separator to append a name to, as a Windows user writes
// it; a drive alone ("C:") means its current folder.
std::string withSeparator(const std::string& folder) {
    if (folder.empty()) return folder;
    const char last = folder.back();
    return last == '\\' || last == '/' || last == ':' ? folder : folder + "\\";
}

}  // namespace

void setWideNameHook(WideNameHook hook) { wideNameHook = hook; }

bool nameFromWide(const std::wstring& wide, std::string& name) {
    std::wstring shown = wide;
    bool exact = true;
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (isHighSurrogate(shown[i]) && i + 1 < shown.size() && isLowSurrogate(shown[i + 1])) {
            ++i;  // a pair: one character
        } else if (isHighSurrogate(shown[i]) || isLowSurrogate(shown[i])) {
            shown[i] = 0xFFFD;
            exact = false;
        }
    }
    name = wideToUtf8(shown);
    return exact;
}

bool listFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& errorNumber) {
    entries.clear();
    errorNumber = 0;
    const std::string prefix = withSeparator(folder);
    WIN32_FIND_DATAW data;
    // The basic information: no short names to fetch, nor to match.
    const HANDLE find = FindFirstFileExW(widePath(prefix + "*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return true;  // nothing at all, not even "."
        errorNumber = errnoFromWindowsError(error);
        return false;
    }
    do {
        std::wstring wide = data.cFileName;
        if (wide == L"." || wide == L"..") continue;
        if (wideNameHook) wideNameHook(wide);
        FolderEntry entry;
        entry.exactName = nameFromWide(wide, entry.name);
        entry.kind = kindOf(data, prefix + entry.name, entry.exactName);
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &data));
    const DWORD error = GetLastError();
    FindClose(find);
    if (error == ERROR_NO_MORE_FILES) return true;
    errorNumber = errnoFromWindowsError(error);
    return false;
}

bool isFolder(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The file system's own rules: each UTF-16 unit upper-cased by the system's
// table. The invariant locale, so that the user's language never changes
// which names are one (in Turkish "i" does not upper-case to "I", yet NTFS
// takes both as one); and without LCMAP_LINGUISTIC_CASING, which would take
// a language's casing rules instead of the file system's. CompareStringOrdinal
// folds the same way but only compares two names, and grouping needs a key.
std::string sameFileKey(const std::string& path) {
    const std::wstring wide = utf8ToWide(path);
    if (wide.empty()) return path;
    const int size = static_cast<int>(wide.size());
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, nullptr, 0, nullptr,
                                     nullptr, 0);
    if (length <= 0) return path;
    std::wstring upper(static_cast<std::size_t>(length), L'\0');
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, upper.data(), length, nullptr,
                      nullptr, 0) != length) {
        return path;
    }
    return wideToUtf8(upper);
}

}  // namespace qel

// The file layer on Windows: the wide-character calls, with UTF-8 turned into
// UTF-16 at this edge, and long paths in the "\\?\" form.
#include "files/FileIo.h"

#include <algorithm>
#include <cerrno>

#include <windows.h>

#include "files/FileIoPlatform.h"

namespace qel {

std::string detail::directoryPrefix(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    if (cut != std::string::npos) return path.substr(0, cut + 1);
    // "C:name" names a file in drive C's current directory.
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
}

std::uint64_t detail::processId() { return static_cast<std::uint64_t>(GetCurrentProcessId()); }

// errno values for the Windows errors a file layer meets, so that messages
// read the same on every platform.
int errnoFromWindowsError(unsigned long error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    default:
        return EIO;
    }
}

namespace {

bool writeAll(HANDLE file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr)) return false;
        if (written == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

std::wstring utf8ToWide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string wideToUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

std::wstring widePath(const std::string& path) {
    std::wstring wide = utf8ToWide(path);
    if (wide.empty() || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
    // A relative name is as long as the directory it is in plus itself.
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed < MAX_PATH) return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return wide;
    full.resize(length);
    if (full.compare(0, 4, L"\\\\.\\") == 0) return full;  // a device
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
    close();
    const std::wstring name = widePath(path);
    if (name.empty()) return false;
    // Opening a named pipe or a device never waits here; both are refused
    // below. Others may go on writing, renaming or deleting the file.
    HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return false;
    }
    handle_ = handle;
    sizeWhenOpened_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

bool InputFile::isOpen() const { return handle_ != nullptr; }

bool InputFile::read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) {
    count = 0;
    if (!handle_) return false;
    DWORD got = 0;
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30));
    if (!ReadFile(static_cast<HANDLE>(handle_), buffer, wanted, &got, nullptr)) return false;
    count = got;
    return true;
}

void InputFile::close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
    sizeWhenOpened_ = 0;
}

OutputDirectory::OutputDirectory(const std::string& path, Durability durability) : durability_(durability) {
    if (path.empty()) return;  // the current directory
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error_ = errnoFromWindowsError(GetLastError());
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error_ = ENOTDIR;
        return;
    }
    prefix_ = path;
    const char last = path.back();
    if (last != '\\' && last != '/' && !(path.size() == 2 && last == ':')) prefix_ += '\\';
}

OutputDirectory::~OutputDirectory() = default;

WriteResult OutputDirectory::publish(const std::string& name, const std::uint8_t* data, std::size_t size,
                                     bool replace, PublishMethod) const {
    if (!valid()) return detail::writeFailure(error_);
    const std::wstring target = widePath(prefix_ + name);
    std::string temporaryUtf8;
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    const int createError = detail::createTemporary(prefix_, temporaryUtf8, [&](const std::string& candidate) {
        temporary = widePath(candidate);
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        return file != INVALID_HANDLE_VALUE ? 0 : errnoFromWindowsError(GetLastError());
    });
    if (createError != 0) return detail::writeFailure(createError);
    DWORD error = 0;
    int flushError = 0;  // an errno, from the test hook
    if (!writeAll(file, data, size)) error = GetLastError();
    // The replaced file's hidden and system attributes carry over (a
    // read-only one is refused by the move below, as before).
    const DWORD old = replace ? GetFileAttributesW(target.c_str()) : INVALID_FILE_ATTRIBUTES;
    const DWORD kept = old == INVALID_FILE_ATTRIBUTES ? 0 : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (error == 0 && kept != 0 && (old & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = kept;
        if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) error = GetLastError();
    }
    // Every file is flushed before it takes its name, a batch's too: only an
    // administrator can flush a whole volume.
    if (error == 0) flushError = detail::injectedFlushError();
    if (error == 0 && flushError == 0 && !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    // Without MOVEFILE_REPLACE_EXISTING the move itself refuses a taken name;
    // MOVEFILE_WRITE_THROUGH returns once the new name is on disk.
    const DWORD moveFlags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (error == 0 && flushError == 0 && !MoveFileExW(temporary.c_str(), target.c_str(), moveFlags)) {
        error = GetLastError();
    }
    if (error == 0 && flushError == 0) return WriteResult{WriteOutcome::written, 0};
    DeleteFileW(temporary.c_str());
    int errorNumber = flushError != 0 ? flushError : errnoFromWindowsError(error);
    // Windows refuses to replace a directory as it refuses anything it may
    // not touch; say which it is, in the words Linux uses.
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            errorNumber = EISDIR;
        }
    }
    return detail::writeFailure(errorNumber, !replace && errorNumber == EEXIST);
}

int OutputDirectory::flushAll() { return 0; }

}  // namespace qel

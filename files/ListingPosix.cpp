// Folders on POSIX systems: names are bytes, and reach the files as they are.
#include "files/Listing.h"

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace qel {

namespace {

EntryKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::folder;
    return EntryKind::other;
}

// Links are followed; a dangling one is neither a file nor a folder. The
// name is taken relative to the open folder, so no path grows long here.
EntryKind kindOf(DIR* dir, const dirent& entry) {
#ifdef _DIRENT_HAVE_D_TYPE
    if (entry.d_type == DT_REG) return EntryKind::file;
    if (entry.d_type == DT_DIR) return EntryKind::folder;
#endif
    struct stat info;
    if (::fstatat(::dirfd(dir), entry.d_name, &info, 0) != 0) return EntryKind::other;
    return kindOfMode(info.st_mode);
}

}  // namespace

bool listFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& errorNumber) {
    entries.clear();
    errorNumber = 0;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) {
        errorNumber = errno;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            errorNumber = errno;  // 0 at the end
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        // Any bytes are a name here, and reach the file as they are.
        entries.push_back({name, kindOf(dir, *entry), true});
    }
    ::closedir(dir);
    return errorNumber == 0;
}

bool isFolder(const std::string& path) {
    struct stat info;
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string sameFileKey(const std::string& path) { return path; }

}  // namespace qel

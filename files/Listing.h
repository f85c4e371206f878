// Folders through the file layer: what is in one, whether a path is one, and
// when two names are one file. Names are UTF-8 as everywhere else; on Windows
// the wide-character calls are used with "\\?\" paths where they are long, so
// a folder is listed whatever the length of its entries' paths.
#pragma once

#include <string>
#include <vector>

namespace qel {

enum class EntryKind {
    file,    // a regular file, or a link to one
    folder,  // a folder, or a link to one
    other,   // anything else: a device, a FIFO, a dangling link
};

struct FolderEntry {
    std::string name;  // UTF-8, without the folder
    EntryKind kind = EntryKind::other;
    // False when the system's name has no UTF-8 form (on Windows, UTF-16
    // with an unpaired surrogate): name then shows U+FFFD for each bad unit
    // and cannot be used to reach the entry.
    bool exactName = true;
};

// The entries of folder, "." and ".." left out, in the order the system
// gives them. False with an errno value in errorNumber when the folder
// cannot be read.
bool listFolder(const std::string& folder, std::vector<FolderEntry>& entries, int& errorNumber);

// True when path is a folder or a link to one.
bool isFolder(const std::string& path);

// A key that is equal for two paths exactly when the file system takes them
// as one name: the bytes on Linux; on Windows the names with each UTF-16
// unit upper-cased by the system's own table, as NTFS compares them.
std::string sameFileKey(const std::string& path);

#ifdef _WIN32
// A name as the wide-character calls give it, in UTF-8. False when it holds
// an unpaired surrogate; each one then becomes U+FFFD.
bool nameFromWide(const std::wstring& wide, std::string& name);

// For tests: called on each name listFolder gets from the system before it
// is converted, so that a test can stand in names its system refuses to
// create (Wine keeps names as UTF-8 on the host and takes no unpaired
// surrogate). nullptr, the default, changes nothing. Set it while no folder
// is being listed.
using WideNameHook = void (*)(std::wstring& name);
void setWideNameHook(WideNameHook hook);
#endif

}  // namespace qel

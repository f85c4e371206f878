// What the file layer's portable part (FileIo.cpp) and each platform's part
// (FileIoPosix.cpp, FileIoWin32.cpp) give each other; only files/ uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "files/FileIo.h"

namespace qel::detail {

// Each platform's: the directory part of path with its trailing separator,
// or empty; and this process's id, which sets the temporaries' names apart.
std::string directoryPrefix(const std::string& path);
std::uint64_t processId();

// The portable writer's decisions.
// Gives temporary a fresh short name after prefix until create, which makes
// that file exclusively, gives 0 or an errno other than EEXIST (the name is
// taken). Its last result: EEXIST after too many names in a directory full
// of leftovers.
int createTemporary(const std::string& prefix, std::string& temporary,
                    const std::function<int(const std::string& candidate)>& create);
// "exists" only when the target's name was taken while not replacing.
WriteResult writeFailure(int error, bool targetTaken = false);
// Whether a file is flushed as it is published, its data before it takes
// its name and the directory after: always, but in a batch whose files
// flushAll reaches in one call.
bool flushesEachFile(Durability durability, bool flushAllReaches);
// The errno every flush fails with while a test asks so, or 0.
int injectedFlushError();

}  // namespace qel::detail

// Reading and publishing the files of a batch with as few system calls as
// the guarantees allow: for thousands of sprites the per-file calls are most
// of the cost, far more than inflating them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/FileIo.h"

namespace qel {

// Reads the whole regular file at path into out, as readWholeFile does and
// with the same answers (a directory or a file that cannot be opened is
// cannotOpen, one larger than maxSize tooLarge), through one open, one
// fstat, the reads and one close.
ReadStatus readFileFast(const std::string& path, std::uint64_t maxSize, std::vector<std::uint8_t>& out);

enum class WriteOutcome {
    written,
    exists,  // not replacing, and something is at the path: it is untouched
    failed,  // nothing at the path changed; errorNumber says why
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::failed;
    int errorNumber = 0;
};

enum class PublishMethod {
    fastest,         // a nameless file where the system has them, else a named temporary
    namedTemporary,  // always the named temporary (for tests of that path)
};

// Puts size bytes at path so that the path only ever holds a whole old or a
// whole new file. The bytes go to a temporary file beside path (nameless
// where the system allows, else named "<path>.qeltmp-PID-N"), which then
// takes the name in one step. When replace is false that step itself refuses
// an existing path (any entry, dangling links included), so no file that
// appears between a check and the write can be lost; file systems that
// cannot refuse in the same step get a check just before it instead.
WriteResult publishFile(const std::string& path, const std::uint8_t* data, std::size_t size, bool replace,
                        PublishMethod method = PublishMethod::fastest);
// The same with path relative to the directory open as dirFd: a batch opens
// its output directory once instead of walking to it for every file.
WriteResult publishFileAt(int dirFd, const std::string& path, const std::uint8_t* data, std::size_t size,
                          bool replace, PublishMethod method = PublishMethod::fastest);

// A directory held open for publishFileAt; the current directory when the
// name is empty. valid() is false when it cannot be opened.
class DirectoryHandle {
public:
    explicit DirectoryHandle(const std::string& path);
    ~DirectoryHandle();
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace qel

// The one file layer: every file the programs read goes through InputFile,
// every file they write through publishFile or an OutputDirectory. Paths are
// UTF-8 on every platform; on Windows they are turned into UTF-16 here and
// only the wide-character calls are used, so any name the file system holds
// can be read and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel {

// Bytes read front to back, a piece at a time.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads at most capacity bytes into buffer and sets count to how many
    // came; 0 means the end. False on a read error.
    virtual bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) = 0;
};

// A regular file open for reading. Opening never waits (a FIFO would
// otherwise block until some program writes to it) and takes regular files
// only: a directory, FIFO, device or socket is refused as if it could not be
// opened.
class InputFile final : public ByteSource {
public:
    InputFile() = default;
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False when path is missing, unreadable or not a regular file.
    bool open(const std::string& path);
    bool isOpen() const;
    // The file's size when it was opened. Only a hint: a file can grow or
    // shrink while it is read, and the reads alone say where it ends.
    std::uint64_t sizeWhenOpened() const { return sizeWhenOpened_; }
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override;
    void close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    std::uint64_t sizeWhenOpened_ = 0;
};

// Bytes in memory as a source. maxPiece, when not 0, caps what one read
// hands out, so that a reader can be fed in pieces of any size.
class MemorySource final : public ByteSource {
public:
    MemorySource(const std::uint8_t* data, std::size_t size, std::size_t maxPiece = 0)
        : data_(data), size_(data ? size : 0), maxPiece_(maxPiece) {}
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override;

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t maxPiece_;
    std::size_t offset_ = 0;
};

// The most any single read asks of a file.
constexpr std::size_t kReadChunkSize = 16384;

enum class ReadStatus {
    ok,
    cannotOpen,  // missing, unreadable, or not a regular file
    tooLarge,    // more than the caller's limit
    readError,   // an I/O error, or no memory for the contents
};

// Reads the whole file at path into out, in chunks. Reading stops as soon as
// more than maxSize bytes have come, so a hostile file cannot make the caller
// allocate without bound, whatever size it claims.
ReadStatus readWholeFile(const std::string& path, std::uint64_t maxSize, std::vector<std::uint8_t>& out);

enum class WriteOutcome {
    written,
    exists,  // not replacing, and something is at the path: it is untouched
    failed,  // errorNumber says why; nothing at the path changed, unless only
             // the directory's flush after the naming failed
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::failed;
    int errorNumber = 0;  // an errno value on every platform
};

// The text for an errorNumber of a WriteResult or an OutputDirectory.
std::string describeError(int errorNumber);

enum class PublishMethod {
    fastest,         // a nameless file where the system has them, else a named temporary
    namedTemporary,  // always the named temporary (for tests of that path)
};

// When the files an OutputDirectory publishes reach the disk.
enum class Durability {
    // Each file's data is flushed before it takes its name, and the
    // directory after, so after a power cut the name holds the old file or
    // the whole new one. A failed flush of the data names nothing.
    eachFile,
    // Files take their names unflushed and flushAll() flushes them all at
    // once, for a batch that reports success only after that. Windows has no
    // such flush for every user, so there each file is flushed as it goes.
    batch,
};

// A directory that files are published into. The bytes of each file go to a
// temporary file in the directory, which then takes the target's name in one
// step, so the target only ever holds a whole old or a whole new file, and a
// failure leaves nothing behind. The temporary is nameless where the system
// allows (Linux O_TMPFILE), else it gets a short name of fixed length
// (".qel" and 12 hexadecimal digits and ".tmp"), created exclusively, so any
// target name the file system accepts can be written.
//
// Without replace the naming step itself refuses an existing entry (any
// entry, a dangling link included), so no file that appears between a check
// and the write can be lost. File systems that cannot refuse in one step get
// a check just before it instead.
//
// Replacing follows a symbolic link at the target, a chain of them included,
// and replaces the file at its end, as a copy onto the link would; a dangling
// link makes the file it names (on Windows, where links need privileges, the
// link itself is replaced). The temporary is made beside that file. The
// new file keeps the permission bits of the one it replaces (POSIX: the 0777
// bits; Windows: the hidden and system attributes, and a read-only file is
// refused as before). It is a new file: other hard links to the old one keep
// the old content, and owner, ACLs and extended attributes are the new file's.
class OutputDirectory {
public:
    // The current directory when path is empty.
    explicit OutputDirectory(const std::string& path, Durability durability = Durability::eachFile);
    ~OutputDirectory();
    OutputDirectory(const OutputDirectory&) = delete;
    OutputDirectory& operator=(const OutputDirectory&) = delete;

    // False when the directory cannot be used; errorNumber() says why
    // (ENOENT or ENOTDIR when it is missing or not a directory).
    bool valid() const { return error_ == 0; }
    int errorNumber() const { return error_; }

    // Publishes size bytes as the file name (no directory part) in this
    // directory.
    WriteResult publish(const std::string& name, const std::uint8_t* data, std::size_t size, bool replace,
                        PublishMethod method = PublishMethod::fastest) const;

    // Flushes what a batch published here and the directory itself: 0, or
    // the errno of the failure. With Durability::eachFile there is nothing
    // left to flush.
    int flushAll();

private:
    std::string prefix_;  // the directory with a trailing separator; empty for the current one
    int error_ = 0;
    Durability durability_;
#ifndef _WIN32
    int fd_ = -1;
    bool readable_ = false;  // fd_ can be flushed (it is not only a path)
#endif
};

// For tests: every flush of a file or directory after the first `after`
// fails with errorNumber instead of reaching the system, until it is called
// with 0. A file's data is flushed before it takes its name and, on POSIX
// systems, its directory after: after = 1 fails only the directory's.
void failFlushesForTesting(int errorNumber, int after = 0);

// Publishes size bytes at path as an OutputDirectory does in path's directory.
WriteResult publishFile(const std::string& path, const std::uint8_t* data, std::size_t size, bool replace,
                        PublishMethod method = PublishMethod::fastest);

#ifdef _WIN32
// The Windows edge: UTF-8 to UTF-16 and back. Malformed sequences become
// U+FFFD.
std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);
// A path for the wide-character file calls: longer paths than MAX_PATH get
// the "\\?\" form, so that long names work wherever the file system takes
// them.
std::wstring widePath(const std::string& path);
// The errno value for a Windows error code (GetLastError), as the file
// layer's messages use it.
int errnoFromWindowsError(unsigned long error);
#endif

}  // namespace qel

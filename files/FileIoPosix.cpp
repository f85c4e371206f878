// The file layer on POSIX systems: file descriptors, names relative to an
// open directory, and on Linux nameless temporaries and syncfs.
#include "files/FileIo.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "files/FileIoPlatform.h"

namespace qel {

std::string detail::directoryPrefix(const std::string& path) {
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::uint64_t detail::processId() { return static_cast<std::uint64_t>(::getpid()); }

namespace {

using detail::writeFailure;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether the close succeeded: a delayed write error
    // shows up here on some file systems.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// RENAME_NOREPLACE through the system call itself, so that the C library's
// age does not matter. 0, or -1 with errno as rename(2) sets it.
int renameNoReplace(int dirFd, const char* from, const char* to) {
#ifdef SYS_renameat2
    constexpr unsigned kRenameNoReplace = 1;
    return static_cast<int>(::syscall(SYS_renameat2, dirFd, from, dirFd, to, kRenameNoReplace));
#else
    (void)dirFd, (void)from, (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

// Gives the nameless file open as fd the name in dirFd. 0, or the errno;
// ENOENT also when this kernel lets no one here name a descriptor.
int linkDescriptor(int fd, int dirFd, const std::string& name) {
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
    if (::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT) return errno;
    // Kernels before 6.10 let only privileged processes name a descriptor
    // directly; the same file through /proc is allowed.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, self, dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    return errno;
#else
    (void)fd, (void)dirFd, (void)name;
    return ENOENT;
#endif
}

// Moves the finished temporary to target without replacing anything there.
// 0, or the errno (EEXIST when the name is taken).
int renameWithoutReplacing(int dirFd, const std::string& temporary, const std::string& target) {
    if (renameNoReplace(dirFd, temporary.c_str(), target.c_str()) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // No RENAME_NOREPLACE here. A second name, made only if the target's is
    // free, refuses in one step just as well.
    if (::linkat(dirFd, temporary.c_str(), dirFd, target.c_str(), 0) == 0) {
        ::unlinkat(dirFd, temporary.c_str(), 0);
        return 0;
    }
    if (errno == EEXIST) return EEXIST;
    // No hard links either (FAT and some network file systems): look, then move.
    struct stat info;
    if (::fstatat(dirFd, target.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    return ::renameat(dirFd, temporary.c_str(), dirFd, target.c_str()) == 0 ? 0 : errno;
}

// Puts fd's data on disk: 0, or the errno.
int flushDescriptor(int fd) {
    if (const int injected = detail::injectedFlushError()) return injected;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// A directory to name files in, opened for reading so that it can be
// flushed, or only as a path where it may not be read (then it is not
// flushed: the file's own data still is). -1 with errno on failure.
int openDirectory(int at, const char* path, bool& readable) {
    int fd = ::openat(at, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    readable = fd >= 0;
#ifdef O_PATH
    if (fd < 0 && errno == EACCES) fd = ::openat(at, path, O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
    return fd;
}

// Follows symbolic links from name in dirFd as opening the file would, to
// the file at the end of the chain or the name where nothing is yet, and
// leaves dirFd, readable and name saying where that is; owned keeps a
// directory opened on the way. 0, or the errno.
int followLinks(int& dirFd, bool& readable, std::string& name, Descriptor& owned) {
    constexpr int kMaxLinks = 40;  // as many as the kernel follows in one path
    for (int links = 0;; ++links) {
        char text[4096];
        const ssize_t length = ::readlinkat(dirFd, name.c_str(), text, sizeof text);
        // Not a link, or nothing there: this is the place. Any other error
        // is met again, and reported, by the write itself.
        if (length < 0) return 0;
        if (links == kMaxLinks) return ELOOP;
        if (static_cast<std::size_t>(length) == sizeof text) return ENAMETOOLONG;
        const std::string link(text, static_cast<std::size_t>(length));
        const std::size_t cut = link.rfind('/');
        name = cut == std::string::npos ? link : link.substr(cut + 1);
        if (name.empty() || name == "." || name == "..") return EISDIR;
        if (cut == std::string::npos) continue;  // in the same directory as the link
        const std::string directory = cut == 0 ? std::string("/") : link.substr(0, cut);
        const int fd = openDirectory(dirFd, directory.c_str(), readable);
        if (fd < 0) return errno;
        owned.reset(fd);
        dirFd = fd;
    }
}

struct Publisher {
    int dirFd;
    const std::string& prefix;  // the directory's path from dirFd, with a trailing '/', or empty
    const std::string& target;  // prefix + name
    bool flushNow;              // flush the data before naming, the directory after
    bool dirReadable;           // dirFd can be flushed
    int keepMode;               // the permission bits for the new file, or -1

    // The new file's permissions, and with flushNow its data on disk,
    // before it takes any name. 0, or the errno.
    int ready(int fd) const {
        if (keepMode >= 0 && ::fchmod(fd, static_cast<mode_t>(keepMode)) != 0) return errno;
        return flushNow ? flushDescriptor(fd) : 0;
    }

    // The outcome once the file has its name: with flushNow, the name goes
    // to disk as well (EINVAL: a file system that has no flush for directories).
    WriteResult named() const {
        const int error = flushNow && dirReadable ? flushDescriptor(dirFd) : 0;
        return error != 0 && error != EINVAL ? writeFailure(error) : WriteResult{WriteOutcome::written, 0};
    }

    // Closes the temporary, whose data is all there unless error says why
    // not, and gives it the target's name; on any failure it goes. Closed
    // before the rename: a delayed write error must not replace the target
    // with a file that might be short.
    WriteResult nameTemporary(Descriptor& file, int error, const std::string& temporary, bool replace) const {
        if (!file.close() && error == 0) error = errno;
        if (error == 0) {
            error = !replace ? renameWithoutReplacing(dirFd, temporary, target)
                    : ::renameat(dirFd, temporary.c_str(), dirFd, target.c_str()) == 0 ? 0 : errno;
        }
        if (error == 0) return named();
        ::unlinkat(dirFd, temporary.c_str(), 0);
        return writeFailure(error, !replace && error == EEXIST);
    }

    // Through a nameless file. False when the file system or kernel cannot
    // make or name one: the caller then takes a named temporary.
    bool nameless(const std::uint8_t* data, std::size_t size, bool replace, WriteResult& result) const {
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
        Descriptor file(::openat(dirFd, prefix.empty() ? "." : prefix.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (file.get() < 0) return false;
        int error = writeAll(file.get(), data, size) ? ready(file.get()) : errno;
        if (error != 0) {
            result = writeFailure(error);  // the nameless file goes away with its descriptor
            return true;
        }
        if (!replace) {
            const int linked = linkDescriptor(file.get(), dirFd, target);
            if (linked == ENOENT) return false;
            if (linked != 0) {
                result = writeFailure(linked, linked == EEXIST);
                return true;
            }
            if (!file.close()) {
                // The data may not have reached the disk: take the name
                // back rather than leave a file that might be short.
                result = writeFailure(errno);
                ::unlinkat(dirFd, target.c_str(), 0);
                return true;
            }
            result = named();
            return true;
        }
        // Replacing needs a rename, and a rename needs a name: a short one
        // beside the target, given only once the data is all there.
        std::string temporary;
        const int linked = detail::createTemporary(prefix, temporary, [&](const std::string& candidate) {
            return linkDescriptor(file.get(), dirFd, candidate);
        });
        if (linked == ENOENT) return false;
        if (linked != 0) {
            result = writeFailure(linked);
            return true;
        }
        result = nameTemporary(file, 0, temporary, true);
        return true;
#else
        (void)data, (void)size, (void)replace, (void)result;
        return false;
#endif
    }

    WriteResult viaTemporary(const std::uint8_t* data, std::size_t size, bool replace) const {
        std::string temporary;
        Descriptor file(-1);
        const int created = detail::createTemporary(prefix, temporary, [&](const std::string& candidate) {
            file.reset(::openat(dirFd, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            return file.get() >= 0 ? 0 : errno;
        });
        if (created != 0) return writeFailure(created);  // EEXIST here is a directory full of leftovers, not the target
        return nameTemporary(file, writeAll(file.get(), data, size) ? ready(file.get()) : errno, temporary, replace);
    }
};

#ifdef __linux__
// syncfs flushes a whole file system in one call, and reports the write
// errors met there since the directory was opened.
constexpr bool kFlushesAtEnd = true;
#else
constexpr bool kFlushesAtEnd = false;
#endif

}  // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
    close();
    // O_NONBLOCK: a FIFO opens at once instead of waiting for a writer, and
    // is then refused below; a regular file reads as ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    sizeWhenOpened_ = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool InputFile::isOpen() const { return fd_ >= 0; }

bool InputFile::read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) {
    count = 0;
    if (fd_ < 0) return false;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, capacity);
        if (n >= 0) {
            count = static_cast<std::size_t>(n);
            return true;
        }
        if (errno != EINTR) return false;
    }
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    sizeWhenOpened_ = 0;
}

OutputDirectory::OutputDirectory(const std::string& path, Durability durability) : durability_(durability) {
    fd_ = openDirectory(AT_FDCWD, path.empty() ? "." : path.c_str(), readable_);
    if (fd_ < 0) error_ = errno;
}

OutputDirectory::~OutputDirectory() {
    if (fd_ >= 0) ::close(fd_);
}

WriteResult OutputDirectory::publish(const std::string& name, const std::uint8_t* data, std::size_t size,
                                     bool replace, PublishMethod method) const {
    if (!valid()) return writeFailure(error_);
    int dirFd = fd_;
    bool readable = readable_;
    std::string finalName = name;
    Descriptor linkedDir(-1);
    int keepMode = -1;
    if (replace) {
        if (const int error = followLinks(dirFd, readable, finalName, linkedDir)) return writeFailure(error);
        struct stat info;
        if (::fstatat(dirFd, finalName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
            keepMode = static_cast<int>(info.st_mode & 0777);
        }
    }
    // A file that a link sends elsewhere is flushed at once: flushAll only
    // reaches this directory's file system.
    const bool flushNow = detail::flushesEachFile(durability_, kFlushesAtEnd && readable_ && linkedDir.get() < 0);
    const Publisher publisher{dirFd, prefix_, finalName, flushNow, readable, keepMode};
    WriteResult result;
    if (method == PublishMethod::fastest && publisher.nameless(data, size, replace, result)) return result;
    return publisher.viaTemporary(data, size, replace);
}

int OutputDirectory::flushAll() {
    if (!valid() || detail::flushesEachFile(durability_, kFlushesAtEnd && readable_)) return 0;
#ifdef __linux__
    if (const int injected = detail::injectedFlushError()) return injected;
    if (::syncfs(fd_) != 0) return errno;
#endif
    return 0;
}

}  // namespace qel

#include "tools/FileWrite.h"

#include <atomic>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qel {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    // Closes now and says whether the close succeeded (a delayed write error
    // shows up here on some file systems).
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
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// RENAME_NOREPLACE through the system call itself, so that the C library's
// age does not matter. -1 with errno as rename(2) sets it.
int renameNoReplace(int dirFd, const char* from, const char* to) {
#ifdef SYS_renameat2
    constexpr unsigned kRenameNoReplace = 1;
    return static_cast<int>(::syscall(SYS_renameat2, dirFd, from, dirFd, to, kRenameNoReplace));
#else
    (void)dirFd;
    (void)from;
    (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

}  // namespace

ReadStatus readFileFast(const std::string& path, std::uint64_t maxSize, std::vector<std::uint8_t>& out) {
    // Not blocking: opening a FIFO would otherwise wait for a writer forever.
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return ReadStatus::cannotOpen;
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return ReadStatus::cannotOpen;
    if (static_cast<std::uint64_t>(info.st_size) > maxSize) return ReadStatus::tooLarge;

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return ReadStatus::readError;  // shrank under us, or an I/O error
        done += static_cast<std::size_t>(n);
    }
    out = std::move(bytes);
    return ReadStatus::ok;
}

namespace {

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A nameless file in the target's directory, written whole and then given
// the target's name in one step, which fails if the name is taken. Cheaper
// than a named temporary and a rename, and a killed run leaves nothing
// behind. False when this file system or kernel cannot do it: the caller
// then takes the named temporary.
bool publishNameless(int dirFd, const std::string& path, const std::uint8_t* data, std::size_t size,
                     WriteResult& result) {
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
    Descriptor file(::openat(dirFd, parentOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (file.get() < 0) return false;
    if (!writeAll(file.get(), data, size)) {
        result.errorNumber = errno;  // the nameless file goes away with its descriptor
        return true;
    }
    int linked = ::linkat(file.get(), "", dirFd, path.c_str(), AT_EMPTY_PATH);
    if (linked != 0 && errno == ENOENT) {
        // Kernels before 6.10 let only privileged processes name a
        // descriptor directly; the same file through /proc is allowed.
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", file.get());
        linked = ::linkat(AT_FDCWD, self, dirFd, path.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT) return false;
    }
    if (linked != 0) {
        result.errorNumber = errno;
        if (errno == EEXIST) result.outcome = WriteOutcome::exists;
        return true;
    }
    if (!file.close()) {
        // The data may not have reached the disk: take the name back
        // rather than leave a file that might be short.
        result.errorNumber = errno;
        ::unlinkat(dirFd, path.c_str(), 0);
        return true;
    }
    result.outcome = WriteOutcome::written;
    return true;
#else
    (void)dirFd;
    (void)path;
    (void)data;
    (void)size;
    (void)result;
    return false;
#endif
}

}  // namespace

WriteResult publishFile(const std::string& path, const std::uint8_t* data, std::size_t size, bool replace,
                        PublishMethod method) {
    return publishFileAt(AT_FDCWD, path, data, size, replace, method);
}

WriteResult publishFileAt(int dirFd, const std::string& path, const std::uint8_t* data, std::size_t size,
                          bool replace, PublishMethod method) {
    WriteResult result;
    if (!replace && method == PublishMethod::fastest && publishNameless(dirFd, path, data, size, result)) {
        return result;
    }

    static std::atomic<unsigned> counter{0};
    // Asked once: the C library no longer caches it, and a batch would pay
    // a system call per file.
    static const long pid = static_cast<long>(::getpid());
    std::string temporary;
    int fd = -1;
    // A name left over from a process that died keeps its file; take the next.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".qeltmp-%ld-%u", pid, counter++);
        temporary = path + suffix;
        fd = ::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        result.errorNumber = errno;
        return result;
    }
    Descriptor file(fd);
    const bool written = writeAll(file.get(), data, size);
    int error = errno;
    const bool closed = file.close();
    if (written && !closed) error = errno;

    if (written && closed) {
        int renamed = -1;
        if (replace) {
            renamed = ::renameat(dirFd, temporary.c_str(), dirFd, path.c_str());
        } else {
            renamed = renameNoReplace(dirFd, temporary.c_str(), path.c_str());
            if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
                struct stat info;
                if (::fstatat(dirFd, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
                    errno = EEXIST;
                } else {
                    renamed = ::renameat(dirFd, temporary.c_str(), dirFd, path.c_str());
                }
            }
        }
        if (renamed == 0) {
            result.outcome = WriteOutcome::written;
            return result;
        }
        error = errno;
        if (error == EEXIST && !replace) result.outcome = WriteOutcome::exists;
    }
    ::unlinkat(dirFd, temporary.c_str(), 0);
    result.errorNumber = error;
    return result;
}

#ifdef O_PATH
// Only as a place to name files in: no read permission needed.
constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

DirectoryHandle::DirectoryHandle(const std::string& path)
    : fd_(::open(path.empty() ? "." : path.c_str(), kDirectoryFlags)) {}

DirectoryHandle::~DirectoryHandle() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace qel

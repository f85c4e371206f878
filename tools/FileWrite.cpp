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
int renameNoReplace(const char* from, const char* to) {
#ifdef SYS_renameat2
    constexpr unsigned kRenameNoReplace = 1;
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace));
#else
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

WriteResult publishFile(const std::string& path, const std::uint8_t* data, std::size_t size, bool replace) {
    static std::atomic<unsigned> counter{0};
    // Asked once: the C library no longer caches it, and a batch would pay
    // a system call per file.
    static const long pid = static_cast<long>(::getpid());
    WriteResult result;
    std::string temporary;
    int fd = -1;
    // A name left over from a process that died keeps its file; take the next.
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".qeltmp-%ld-%u", pid, counter++);
        temporary = path + suffix;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
            renamed = std::rename(temporary.c_str(), path.c_str());
        } else {
            renamed = renameNoReplace(temporary.c_str(), path.c_str());
            if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
                struct stat info;
                if (::lstat(path.c_str(), &info) == 0) {
                    errno = EEXIST;
                } else {
                    renamed = std::rename(temporary.c_str(), path.c_str());
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
    ::unlink(temporary.c_str());
    result.errorNumber = error;
    return result;
}

}  // namespace qel

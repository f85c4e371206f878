#include "files/FileIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace qel {

namespace {

// A short name for a temporary file, always 20 characters: ".qel", 12
// hexadecimal digits, ".tmp". The digits come from a per-process starting
// point stepped on each call, so processes and threads rarely meet; a name
// that is taken anyway is skipped by the exclusive create.
std::string temporaryName() {
    static std::atomic<std::uint64_t> next{[] {
        std::uint64_t seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#ifdef _WIN32
        seed ^= static_cast<std::uint64_t>(GetCurrentProcessId()) << 32;
#else
        seed ^= static_cast<std::uint64_t>(::getpid()) << 32;
#endif
        return seed;
    }()};
    std::uint64_t x = next.fetch_add(0x9E3779B97F4A7C15ull, std::memory_order_relaxed);
    // A mixing step (splitmix64), so that consecutive names differ in every digit.
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    char name[24];
    std::snprintf(name, sizeof name, ".qel%012llx.tmp", static_cast<unsigned long long>(x & 0xFFFFFFFFFFFFull));
    return name;
}

// Tries this many names before giving up on a directory full of leftovers.
constexpr int kTemporaryAttempts = 100;

// The directory part of path with its trailing separator, or empty.
std::string directoryPrefix(const std::string& path) {
#ifdef _WIN32
    const std::size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) {
        // "C:name" names a file in drive C's current directory.
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string();
    }
#else
    const std::size_t cut = path.rfind('/');
    if (cut == std::string::npos) return std::string();
#endif
    return path.substr(0, cut + 1);
}

// Set by failFlushesForTesting.
std::atomic<int> injectedFlushError{0};

}  // namespace

void failFlushesForTesting(int errorNumber) { injectedFlushError.store(errorNumber); }

bool MemorySource::read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) {
    std::size_t n = std::min(capacity, size_ - offset_);
    if (maxPiece_ != 0) n = std::min(n, maxPiece_);
    if (n != 0) std::memcpy(buffer, data_ + offset_, n);
    offset_ += n;
    count = n;
    return true;
}

ReadStatus readWholeFile(const std::string& path, std::uint64_t maxSize, std::vector<std::uint8_t>& out) {
    InputFile file;
    if (!file.open(path)) return ReadStatus::cannotOpen;
    if (file.sizeWhenOpened() > maxSize) return ReadStatus::tooLarge;

    std::vector<std::uint8_t> bytes;
    std::size_t used = 0;
    try {
        // Room for the file as it was, and one byte to find its end without
        // a second allocation.
        bytes.resize(static_cast<std::size_t>(file.sizeWhenOpened()) + 1);
        for (;;) {
            if (used == bytes.size()) {
                // The file grew while it was read.
                if (used > maxSize) return ReadStatus::tooLarge;
                bytes.resize(used + kReadChunkSize);
            }
            std::size_t count = 0;
            if (!file.read(bytes.data() + used, std::min(bytes.size() - used, kReadChunkSize), count)) {
                return ReadStatus::readError;
            }
            if (count == 0) break;
            used += count;
        }
    } catch (const std::bad_alloc&) {
        return ReadStatus::readError;
    } catch (const std::length_error&) {  // a size no vector can have
        return ReadStatus::readError;
    }
    if (used > maxSize) return ReadStatus::tooLarge;
    bytes.resize(used);
    out = std::move(bytes);
    return ReadStatus::ok;
}

std::string describeError(int errorNumber) { return std::strerror(errorNumber); }

WriteResult publishFile(const std::string& path, const std::uint8_t* data, std::size_t size, bool replace,
                        PublishMethod method) {
    const std::string prefix = directoryPrefix(path);
    const OutputDirectory directory(prefix);
    if (!directory.valid()) {
        WriteResult result;
        result.errorNumber = directory.errorNumber();
        return result;
    }
    return directory.publish(path.substr(prefix.size()), data, size, replace, method);
}

#ifndef _WIN32

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
    (void)dirFd;
    (void)from;
    (void)to;
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
    (void)fd;
    (void)dirFd;
    (void)name;
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
    if (const int injected = injectedFlushError.load()) return injected;
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
    // to disk as well.
    WriteResult named() const {
        WriteResult result;
        result.outcome = WriteOutcome::written;
        if (flushNow && dirReadable) {
            const int error = flushDescriptor(dirFd);
            // EINVAL: a file system that has no flush for directories.
            if (error != 0 && error != EINVAL) result = fail(error);
        }
        return result;
    }

    // A taken target name is "exists" only when not replacing; anything else,
    // a directory full of leftover temporaries included, is a failure.
    static WriteResult fail(int error, bool targetTaken = false) {
        WriteResult result;
        result.errorNumber = error;
        if (targetTaken) result.outcome = WriteOutcome::exists;
        return result;
    }

    // Through a nameless file. False when the file system or kernel cannot
    // make or name one: the caller then takes a named temporary.
    bool nameless(const std::uint8_t* data, std::size_t size, bool replace, WriteResult& result) const {
#if defined(O_TMPFILE) && defined(AT_EMPTY_PATH)
        Descriptor file(::openat(dirFd, prefix.empty() ? "." : prefix.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (file.get() < 0) return false;
        int error = writeAll(file.get(), data, size) ? ready(file.get()) : errno;
        if (error != 0) {
            result = fail(error);  // the nameless file goes away with its descriptor
            return true;
        }
        if (!replace) {
            const int linked = linkDescriptor(file.get(), dirFd, target);
            if (linked == ENOENT) return false;
            if (linked != 0) {
                result = fail(linked, linked == EEXIST);
                return true;
            }
            if (!file.close()) {
                // The data may not have reached the disk: take the name
                // back rather than leave a file that might be short.
                result = fail(errno);
                ::unlinkat(dirFd, target.c_str(), 0);
                return true;
            }
            result = named();
            return true;
        }
        // Replacing needs a rename, and a rename needs a name: a short one
        // beside the target, given only once the data is all there.
        std::string temporary;
        int linked = EEXIST;
        for (int attempt = 0; attempt < kTemporaryAttempts && linked == EEXIST; ++attempt) {
            temporary = prefix + temporaryName();
            linked = linkDescriptor(file.get(), dirFd, temporary);
        }
        if (linked == ENOENT) return false;
        if (linked != 0) {
            result = fail(linked);
            return true;
        }
        // Closed before the rename: a delayed write error must not replace
        // the target with a file that might be short.
        error = file.close() ? 0 : errno;
        if (error == 0 && ::renameat(dirFd, temporary.c_str(), dirFd, target.c_str()) != 0) error = errno;
        if (error != 0) {
            ::unlinkat(dirFd, temporary.c_str(), 0);
            result = fail(error);
            return true;
        }
        result = named();
        return true;
#else
        (void)data;
        (void)size;
        (void)replace;
        (void)result;
        return false;
#endif
    }

    WriteResult viaTemporary(const std::uint8_t* data, std::size_t size, bool replace) const {
        std::string temporary;
        int fd = -1;
        for (int attempt = 0; attempt < kTemporaryAttempts && fd < 0; ++attempt) {
            temporary = prefix + temporaryName();
            fd = ::openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) return fail(errno);  // EEXIST here is a directory full of leftovers, not the target
        Descriptor file(fd);
        int error = 0;
        if (!writeAll(file.get(), data, size)) error = errno;
        if (error == 0) error = ready(file.get());
        if (!file.close() && error == 0) error = errno;
        if (error == 0) {
            if (replace) {
                if (::renameat(dirFd, temporary.c_str(), dirFd, target.c_str()) != 0) error = errno;
            } else {
                error = renameWithoutReplacing(dirFd, temporary, target);
            }
        }
        if (error == 0) return named();
        ::unlinkat(dirFd, temporary.c_str(), 0);
        return fail(error, !replace && error == EEXIST);
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
    if (!valid()) {
        WriteResult result;
        result.errorNumber = error_;
        return result;
    }
    int dirFd = fd_;
    bool readable = readable_;
    std::string finalName = name;
    Descriptor linkedDir(-1);
    int keepMode = -1;
    if (replace) {
        if (const int error = followLinks(dirFd, readable, finalName, linkedDir)) return Publisher::fail(error);
        struct stat info;
        if (::fstatat(dirFd, finalName.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
            keepMode = static_cast<int>(info.st_mode & 0777);
        }
    }
    // A file that a link sends elsewhere is flushed at once: flushAll only
    // reaches this directory's file system.
    const bool flushNow = durability_ == Durability::eachFile || !kFlushesAtEnd || !readable_ || linkedDir.get() >= 0;
    const Publisher publisher{dirFd, prefix_, finalName, flushNow, readable, keepMode};
    WriteResult result;
    if (method == PublishMethod::fastest && publisher.nameless(data, size, replace, result)) return result;
    return publisher.viaTemporary(data, size, replace);
}

int OutputDirectory::flushAll() {
    if (!valid() || durability_ != Durability::batch || !kFlushesAtEnd || !readable_) return 0;
#ifdef __linux__
    if (const int injected = injectedFlushError.load()) return injected;
    if (::syncfs(fd_) != 0) return errno;
#endif
    return 0;
}

#else  // _WIN32

namespace {

// errno values for the Windows errors a file layer meets, so that messages
// read the same on every platform.
int errnoFromWindows(DWORD error) {
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

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE get() const { return handle_; }
    bool close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != FALSE;
    }

private:
    HANDLE handle_;
};

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
        error_ = errnoFromWindows(GetLastError());
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
    WriteResult result;
    if (!valid()) {
        result.errorNumber = error_;
        return result;
    }
    const std::wstring target = widePath(prefix_ + name);
    std::wstring temporary;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < kTemporaryAttempts && created == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = widePath(prefix_ + temporaryName());
        created = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (created == INVALID_HANDLE_VALUE) {
        result.errorNumber = errnoFromWindows(GetLastError());
        return result;
    }
    Handle file(created);
    DWORD error = 0;
    int flushError = 0;  // an errno, from the test hook
    if (!writeAll(file.get(), data, size)) error = GetLastError();
    // The replaced file's hidden and system attributes carry over (a
    // read-only one is refused by the move below, as before).
    const DWORD old = replace ? GetFileAttributesW(target.c_str()) : INVALID_FILE_ATTRIBUTES;
    const DWORD kept = old == INVALID_FILE_ATTRIBUTES ? 0 : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (error == 0 && kept != 0 && (old & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = kept;
        if (!SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic)) error = GetLastError();
    }
    // Every file is flushed before it takes its name, a batch's too: only an
    // administrator can flush a whole volume.
    if (error == 0) flushError = injectedFlushError.load();
    if (error == 0 && flushError == 0 && !FlushFileBuffers(file.get())) error = GetLastError();
    if (!file.close() && error == 0) error = GetLastError();
    // Without MOVEFILE_REPLACE_EXISTING the move itself refuses a taken name;
    // MOVEFILE_WRITE_THROUGH returns once the new name is on disk.
    const DWORD moveFlags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (error == 0 && flushError == 0 && !MoveFileExW(temporary.c_str(), target.c_str(), moveFlags)) {
        error = GetLastError();
    }
    if (error == 0 && flushError == 0) {
        result.outcome = WriteOutcome::written;
        return result;
    }
    DeleteFileW(temporary.c_str());
    result.errorNumber = flushError != 0 ? flushError : errnoFromWindows(error);
    // Windows refuses to replace a directory as it refuses anything it may
    // not touch; say which it is, in the words Linux uses.
    if (error == ERROR_ACCESS_DENIED) {
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            result.errorNumber = EISDIR;
        }
    }
    if (!replace && result.errorNumber == EEXIST) result.outcome = WriteOutcome::exists;
    return result;
}

int OutputDirectory::flushAll() { return 0; }

#endif  // _WIN32

}  // namespace qel

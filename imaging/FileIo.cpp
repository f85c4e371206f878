#include "imaging/FileIo.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace qel {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool replaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;  // atomic on POSIX
#endif
}

std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".tmp%llx-%u", ticks, counter++);
    return path + suffix;
}

}  // namespace

ReadStatus readWholeFile(const std::string& path, std::uint64_t maxSize, std::vector<std::uint8_t>& out) {
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) return ReadStatus::cannotOpen;
#ifndef _WIN32
    // A directory opens on POSIX systems; whether seeking it then fails or
    // finds it empty depends on the file system (an in-memory one finds it
    // empty), so ask what it is.
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) return ReadStatus::cannotOpen;
#endif
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return ReadStatus::cannotOpen;
    const long end = std::ftell(file.get());
    // A directory opens on some systems but has no size to read.
    if (end < 0) return ReadStatus::cannotOpen;
    if (static_cast<std::uint64_t>(end) > maxSize) return ReadStatus::tooLarge;
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) return ReadStatus::cannotOpen;

    const auto size = static_cast<std::size_t>(end);
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return ReadStatus::readError;
    }
    if (size != 0 && std::fread(bytes.data(), 1, size, file.get()) != size) return ReadStatus::readError;
    out = std::move(bytes);
    return ReadStatus::ok;
}

bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const std::string temporary = temporaryNameFor(path);
    FilePtr file(std::fopen(temporary.c_str(), "wb"));
    if (!file) return false;
    bool written = size == 0 || std::fwrite(data, 1, size, file.get()) == size;
    written = std::fflush(file.get()) == 0 && written;
    written = std::fclose(file.release()) == 0 && written;
    if (written && replaceFile(temporary, path)) return true;
    std::remove(temporary.c_str());
    return false;
}

}  // namespace qel

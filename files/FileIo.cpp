// The file layer's portable part: reading whole files, and the writer's
// policy that every platform follows. The system calls are in
// FileIoPosix.cpp and FileIoWin32.cpp, one of which is built.
#include "files/FileIo.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>

#include "files/FileIoPlatform.h"

namespace qel {

namespace {

// A short name for a temporary file, always 20 characters. The digits come
// from a per-process starting point stepped on each call, so processes and
// threads rarely meet; a name that is taken anyway is skipped by the
// exclusive create.
std::string temporaryName() {
    static std::atomic<std::uint64_t> next{
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (detail::processId() << 32)};
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

// Set by failFlushesForTesting.
std::atomic<int> flushErrorForTests{0};

}  // namespace

namespace detail {

int createTemporary(const std::string& prefix, std::string& temporary,
                    const std::function<int(const std::string& temporary)>& create) {
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryAttempts && error == EEXIST; ++attempt) {
        temporary = prefix + temporaryName();
        error = create(temporary);
    }
    return error;
}

WriteResult writeFailure(int error, bool targetTaken) {
    return WriteResult{targetTaken ? WriteOutcome::exists : WriteOutcome::failed, error};
}

bool flushesEachFile(Durability durability, bool flushAllReaches) {
    return durability == Durability::eachFile || !flushAllReaches;
}

int injectedFlushError() { return flushErrorForTests.load(); }

}  // namespace detail

void failFlushesForTesting(int errorNumber) { flushErrorForTests.store(errorNumber); }

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
    const std::string prefix = detail::directoryPrefix(path);
    const OutputDirectory directory(prefix);
    if (!directory.valid()) return detail::writeFailure(directory.errorNumber());
    return directory.publish(path.substr(prefix.size()), data, size, replace, method);
}

}  // namespace qel

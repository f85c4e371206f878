// Whole-file reads and crash-safe whole-file writes. Portable C I/O; the only
// platform difference (replacing a file in one step) is kept in the .cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qel {

enum class ReadStatus {
    ok,
    cannotOpen,  // missing, unreadable, or not a regular file
    tooLarge,    // larger than the caller's limit
    readError,   // a short read or no memory for the contents
};

// Reads the whole file at path into out. Files larger than maxSize are not
// read at all, so a hostile file cannot make the caller allocate without bound.
ReadStatus readWholeFile(const std::string& path, std::uint64_t maxSize, std::vector<std::uint8_t>& out);

// Writes size bytes to a temporary file beside path, then puts it in place of
// path in one step. An existing file at path is either replaced by the whole
// new content or left untouched; it is never truncated or half written.
bool writeFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace qel

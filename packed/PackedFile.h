/*
 * Packed picture files (".qel").
 *
 * A packed file is one zlib stream (RFC 1950: 2-byte header, deflate data,
 * Adler-32 trailer) and nothing else: no magic, no length field. Decoding
 * starts at byte 0; bytes after the end of the stream are ignored. The
 * inflated content, the payload, is a BMP file image of at most 2048 bytes
 * (a 24x24 24-bit picture is 1,782 bytes; an 8-bit one 1,654).
 *
 * Decoding inflates the whole file in one call into one 2048-byte buffer,
 * loads the payload into the sprite raster and ends the zlib stream on every
 * path. Failures of the zlib stages write two lines to the diagnostic stream:
 *
 *   INFLATE INIT ERROR | INFLATE ERROR | INFLATE END ERROR
 *   ERROR NO : <zlib result code>
 *
 * A payload that needs more than 2048 bytes, or a stream that stops early,
 * therefore gives "INFLATE ERROR" and code -5.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace qel {

class Raster;

constexpr std::size_t kMaxPayloadSize = 2048;
// Packed files larger than this are not read: a real one is a few kilobytes.
constexpr std::uint64_t kMaxPackedFileSize = 16u * 1024u * 1024u;

enum class DecodeOutcome {
    openFailure,     // the file cannot be opened or read whole
    initFailure,     // inflateInit failed
    inflateFailure,  // inflate returned a negative code
    notAPicture,     // the payload is not a BMP the reader accepts
    endFailure,      // inflateEnd failed after the picture was loaded
    success,
};

struct DecodeResult {
    DecodeOutcome outcome = DecodeOutcome::openFailure;
    int zlibCode = 0;          // the zlib result behind init, inflate and end failures
    bool hasPayload = false;   // true for notAPicture, endFailure and success
    std::vector<std::uint8_t> payload;
};

// Decodes a packed file held in memory into sprite. The sprite changes only
// when the payload is a picture the reader accepts.
DecodeResult decodePackedBytes(const std::uint8_t* data, std::size_t size, Raster& sprite, std::ostream& diag);

// Reads the file at path whole and decodes it as decodePackedBytes does.
// A file that cannot be read whole is openFailure and writes nothing.
DecodeResult decodePackedFile(const std::string& path, Raster& sprite, std::ostream& diag);

// The viewer's words for an outcome, for tools that report many files:
// "cannot open", "inflate init error -2", "inflate error -5", "not a picture",
// "inflate end error -2", "ok".
std::string describeOutcome(const DecodeResult& result);

enum class PackRefusal {
    none,
    notAPicture,  // the reader does not accept it
    tooLarge,     // more than kMaxPayloadSize bytes: the viewer could not inflate it
    zlibFailure,
};

struct PackResult {
    PackRefusal refusal = PackRefusal::none;
    std::vector<std::uint8_t> packed;  // the packed file when refusal is none
};

// Packs a BMP file image that the viewer can show, at zlib's best compression.
PackResult packPicture(const std::uint8_t* bmp, std::size_t size);
// "not a picture the viewer can read", "larger than 2048 bytes", ...
std::string describeRefusal(PackRefusal refusal);

// Compresses bytes into a packed file (one zlib stream) at the given zlib
// level. Empty when zlib fails.
std::vector<std::uint8_t> packBytes(const std::uint8_t* data, std::size_t size, int level);

}  // namespace qel

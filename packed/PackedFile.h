/*
 * Packed picture files (".qel").
 *
 * A packed file is one zlib stream (RFC 1950: 2-byte header, deflate data,
 * Adler-32 trailer) and nothing else: no magic, no length field. Decoding
 * starts at byte 0; bytes after the end of the stream are ignored. The
 * inflated content, the payload, is a BMP file image of at most 2048 bytes
 * (a 24x24 24-bit picture is 1,782 bytes; an 8-bit one 1,654).
 *
 * Decoding inflates the file into one 2048-byte buffer, loads the payload
 * into the sprite raster and ends the zlib stream on every path. Failures of
 * the zlib stages are shown as two lines (writeDecodeDiagnostic):
 *
 *   INFLATE INIT ERROR | INFLATE ERROR | INFLATE END ERROR
 *   ERROR NO : <zlib result code>
 *
 * A payload that needs more than 2048 bytes, or a stream that stops early,
 * therefore gives "INFLATE ERROR" and code -5.
 *
 * The file is read in chunks of kReadChunkSize bytes and fed to the inflater
 * as they come, until the stream has ended, has failed, or the full buffer
 * stops it; the rest of the file is never read. Every outcome, code, payload
 * and diagnostic is exactly what one inflate call over the whole file with
 * Z_FINISH into the 2048-byte buffer gives (fuzz_packed_streaming checks
 * this), so no file is too large to open and memory stays small whatever
 * the file's size. A stream can still take input once the buffer is full
 * (empty blocks, its check value), and then reading goes on as long as the
 * inflater takes it.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace qel {

class ByteSource;
class Raster;

constexpr std::size_t kMaxPayloadSize = 2048;

enum class DecodeOutcome {
    openFailure,     // the file cannot be opened (or a read of it failed)
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

// The viewer's diagnostic lines for result, on out, each insertion flushed:
// "INFLATE INIT ERROR", "INFLATE ERROR" or "INFLATE END ERROR", then
// "ERROR NO : " and the zlib code. Nothing for the other outcomes. Decoding
// itself writes nothing: the callers that show these lines write them here.
void writeDecodeDiagnostic(std::ostream& out, const DecodeResult& result);

// The decoder. Fed a packed file's bytes a piece at a time, or pulled from a
// ByteSource in chunks of kReadChunkSize; either way the outcome, code and
// payload are exactly what one inflate call over all the bytes gives, and
// only the 2048-byte payload room is held. Once finished, a decoder takes
// no more bytes and a second finish is an openFailure; decode always starts
// a new input.
//
// A sprite of null: the same outcome, code and payload, but the reader only
// checks the payload (checkBmp) and makes no pixels, for callers that want
// the payload or the verdict alone. (A load can still fail for want of
// memory where the check cannot; that is the one difference.)
//
// With ZlibState::reused the zlib state is made once and reset between
// inputs instead of made and ended for each, for a worker that goes through
// thousands of sprites: the state is then ended only with the decoder, so
// endFailure never comes (a reset that fails counts as an init failure, and
// the next input starts afresh). Not for use by two threads at once.
class PackedDecoder {
public:
    enum class ZlibState { perInput, reused };

    explicit PackedDecoder(ZlibState zlib = ZlibState::perInput);
    ~PackedDecoder();
    PackedDecoder(const PackedDecoder&) = delete;
    PackedDecoder& operator=(const PackedDecoder&) = delete;

    // Offers the next size bytes. False once the outcome is settled (the
    // stream ended or failed, or the payload's room is full and the input
    // left over cannot change that): later pieces are not looked at.
    bool feed(const std::uint8_t* data, std::size_t size);
    // The input is complete: decodes what came into sprite. The second form
    // keeps result's payload room from one input to the next.
    DecodeResult finish(Raster* sprite);
    void finish(Raster* sprite, DecodeResult& result);
    // A whole input pulled from source; a read that fails is an openFailure.
    void decode(ByteSource& source, Raster* sprite, DecodeResult& result);
    // What the input fed so far has inflated to: count bytes at the address
    // returned, valid until the next feed or finish. For hosts that judge a
    // file by its first bytes.
    const std::uint8_t* inflated(std::size_t& count) const;

private:
    bool begin();
    struct State;
    std::unique_ptr<State> state_;
    ZlibState zlib_;
};

// The whole of a packed file, from source, from memory, or from the file at
// path (openFailure when it cannot be opened or read), with a decoder of its
// own. The sprite changes only when the payload is a picture the reader
// accepts.
DecodeResult decodePacked(ByteSource& source, Raster* sprite);
DecodeResult decodePacked(const std::uint8_t* data, std::size_t size, Raster* sprite);
DecodeResult decodePackedFile(const std::string& path, Raster* sprite);

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

#include "packed/PackedFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>

#include <zlib.h>

#include "files/FileIo.h"
#include "imaging/Raster.h"

namespace qel {

namespace {

void writeDiagnostic(std::ostream& diag, const char* line, int code) {
    diag << line << std::flush;
    diag << "ERROR NO : " << std::flush;
    diag << code << std::flush;
    diag << "\n" << std::flush;
}

// The buffers of one decoding: a chunk of input and the payload's room.
struct Buffers {
    std::uint8_t input[kReadChunkSize];
    std::uint8_t output[kMaxPayloadSize];
};

// Owns an initialised inflate stream so that inflateEnd runs on every path;
// only a successful decode asks for inflateEnd's result.
class InflateStream {
public:
    InflateStream() {
        std::memset(&stream_, 0, sizeof stream_);  // default allocator
        initCode_ = inflateInit(&stream_);
    }
    ~InflateStream() { end(); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    int initCode() const { return initCode_; }
    z_stream& get() { return stream_; }
    int end() {
        if (initCode_ != Z_OK || ended_) return Z_OK;
        ended_ = true;
        return inflateEnd(&stream_);
    }

private:
    z_stream stream_;
    int initCode_;
    bool ended_ = false;
};

// Feeds source to the stream a chunk at a time and returns the code that one
// inflate call with Z_FINISH over all of source's bytes would return; the
// output is then what that call would have written. inflate goes exactly as
// far with its input in pieces as with all of it at once, so the only
// question is when to stop asking for more: not before inflate has ended,
// failed, or stopped with input still in hand (the full buffer stops it),
// and not before the input has run out. Z_FINISH on every call keeps zlib
// from keeping a window for a stream that ends in the call, as the one call
// would; one that does not end goes on as with Z_NO_FLUSH.
int inflateChunks(z_stream& stream, ByteSource& source, Buffers& buffers, bool& readFailed) {
    stream.next_out = buffers.output;
    stream.avail_out = sizeof buffers.output;
    stream.next_in = buffers.input;
    stream.avail_in = 0;
    bool atEnd = false;
    for (;;) {
        if (stream.avail_in == 0 && !atEnd) {
            std::size_t count = 0;
            if (!source.read(buffers.input, sizeof buffers.input, count)) {
                readFailed = true;
                return Z_ERRNO;
            }
            atEnd = count == 0;
            stream.next_in = buffers.input;
            stream.avail_in = static_cast<uInt>(count);
        }
        const int code = inflate(&stream, Z_FINISH);
        // Z_BUF_ERROR is "not finished": more input may yet finish it,
        // unless the input is all there or inflate left some untaken.
        if (code != Z_BUF_ERROR || stream.avail_in != 0 || atEnd) return code;
    }
}

// What follows the inflating, for both ways of decoding: the diagnostics,
// the payload and the picture. endStream ends the zlib stream and returns
// inflateEnd's code; null when the state lives on. Without a sprite the
// reader only gives its verdict: no pixels are made.
template <typename EndStream>
void finishDecode(int inflateCode, bool readFailed, const Buffers& buffers, std::size_t produced, Raster* sprite,
                  std::ostream& diag, EndStream endStream, DecodeResult& result) {
    // The payload keeps its room for the next file.
    result.outcome = DecodeOutcome::openFailure;
    result.zlibCode = 0;
    result.hasPayload = false;
    result.payload.clear();
    if (readFailed) return;
    if (inflateCode < 0) {
        result.outcome = DecodeOutcome::inflateFailure;
        result.zlibCode = inflateCode;
        writeDiagnostic(diag, "INFLATE ERROR\n", inflateCode);
        return;
    }

    // A positive code other than Z_STREAM_END (a preset dictionary request)
    // hands on what came out, possibly nothing; the reader judges it.
    result.hasPayload = true;
    result.payload.assign(buffers.output, buffers.output + produced);
    const bool accepted = sprite ? sprite->loadFromMemory(result.payload.data(), result.payload.size())
                                 : checkBmp(result.payload.data(), result.payload.size()).accepted;
    if (!accepted) {
        result.outcome = DecodeOutcome::notAPicture;
        return;
    }

    const int endCode = endStream();
    if (endCode < 0) {
        result.outcome = DecodeOutcome::endFailure;
        result.zlibCode = endCode;
        writeDiagnostic(diag, "INFLATE END ERROR\n", endCode);
        return;
    }
    result.outcome = DecodeOutcome::success;
}

DecodeResult initFailure(int code, std::ostream& diag) {
    DecodeResult result;
    result.outcome = DecodeOutcome::initFailure;
    result.zlibCode = code;
    writeDiagnostic(diag, "INFLATE INIT ERROR\n", code);
    return result;
}

}  // namespace

DecodeResult decodePackedSource(ByteSource& source, Raster& sprite, std::ostream& diag) {
    InflateStream stream;
    if (stream.initCode() != Z_OK) return initFailure(stream.initCode(), diag);
    Buffers buffers;
    bool readFailed = false;
    const int code = inflateChunks(stream.get(), source, buffers, readFailed);
    const std::size_t produced = sizeof buffers.output - stream.get().avail_out;
    DecodeResult result;
    finishDecode(code, readFailed, buffers, produced, &sprite, diag, [&stream] { return stream.end(); }, result);
    return result;
}

DecodeResult decodePackedBytes(const std::uint8_t* data, std::size_t size, Raster& sprite, std::ostream& diag) {
    MemorySource source(data, size);
    return decodePackedSource(source, sprite, diag);
}

DecodeResult decodePackedFile(const std::string& path, Raster& sprite, std::ostream& diag) {
    InputFile file;
    if (!file.open(path)) return DecodeResult{};  // openFailure
    return decodePackedSource(file, sprite, diag);
}

struct PackedDecoder::State {
    z_stream stream;
    bool initialised = false;
    Buffers buffers;
};

PackedDecoder::PackedDecoder() = default;

PackedDecoder::~PackedDecoder() {
    if (state_ && state_->initialised) inflateEnd(&state_->stream);
}

DecodeResult PackedDecoder::decode(ByteSource& source, Raster& sprite, std::ostream& diag) {
    return decode(source, &sprite, diag);
}

DecodeResult PackedDecoder::decode(ByteSource& source, Raster* sprite, std::ostream& diag) {
    DecodeResult result;
    decode(source, sprite, diag, result);
    return result;
}

void PackedDecoder::decode(ByteSource& source, Raster* sprite, std::ostream& diag, DecodeResult& result) {
    if (!state_) {
        state_.reset(new (std::nothrow) State);
        if (!state_) {
            result = initFailure(Z_MEM_ERROR, diag);
            return;
        }
    }
    z_stream& stream = state_->stream;
    if (!state_->initialised) {
        std::memset(&stream, 0, sizeof stream);  // default allocator
        const int code = inflateInit(&stream);
        if (code != Z_OK) {
            result = initFailure(code, diag);
            return;
        }
        state_->initialised = true;
    } else {
        // Back to the state inflateInit leaves, the memory kept.
        const int code = inflateReset(&stream);
        if (code != Z_OK) {
            inflateEnd(&stream);
            state_->initialised = false;
            result = initFailure(code, diag);
            return;
        }
    }
    bool readFailed = false;
    const int code = inflateChunks(stream, source, state_->buffers, readFailed);
    const std::size_t produced = sizeof state_->buffers.output - stream.avail_out;
    finishDecode(code, readFailed, state_->buffers, produced, sprite, diag, [] { return Z_OK; }, result);
}

DecodeResult PackedDecoder::decodeFile(const std::string& path, Raster& sprite, std::ostream& diag) {
    return decodeFile(path, &sprite, diag);
}

DecodeResult PackedDecoder::decodeFile(const std::string& path, Raster* sprite, std::ostream& diag) {
    DecodeResult result;
    decodeFile(path, sprite, diag, result);
    return result;
}

void PackedDecoder::decodeFile(const std::string& path, Raster* sprite, std::ostream& diag, DecodeResult& result) {
    InputFile file;
    if (!file.open(path)) {
        result = DecodeResult{};  // openFailure
        return;
    }
    decode(file, sprite, diag, result);
}

struct PackedStreamDecoder::State {
    InflateStream stream;
    Buffers buffers;
    bool settled = false;   // code is final; no more input is taken
    bool finished = false;  // finish has run
    int code = Z_BUF_ERROR;
};

PackedStreamDecoder::PackedStreamDecoder() : state_(new (std::nothrow) State) {
    if (!state_ || state_->stream.initCode() != Z_OK) return;
    z_stream& stream = state_->stream.get();
    stream.next_out = state_->buffers.output;
    stream.avail_out = sizeof state_->buffers.output;
}

PackedStreamDecoder::~PackedStreamDecoder() = default;

bool PackedStreamDecoder::feed(const std::uint8_t* data, std::size_t size) {
    if (!state_ || state_->stream.initCode() != Z_OK || state_->finished) return false;
    if (state_->settled) return false;
    z_stream& stream = state_->stream.get();
    // zlib counts input in uInt; a larger piece goes in several calls, as the
    // pull decoder's chunks do.
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, kReadChunkSize);
        stream.next_in = const_cast<std::uint8_t*>(data);
        stream.avail_in = static_cast<uInt>(piece);
        // As in inflateChunks: Z_BUF_ERROR with all of the piece taken means
        // more input may yet finish the stream; anything else settles it.
        const int code = inflate(&stream, Z_FINISH);
        if (code != Z_BUF_ERROR || stream.avail_in != 0) {
            state_->settled = true;
            state_->code = code;
            stream.next_in = nullptr;
            stream.avail_in = 0;
            return false;
        }
        data += piece;
        size -= piece;
    }
    stream.next_in = nullptr;
    return true;
}

DecodeResult PackedStreamDecoder::finish(Raster& sprite, std::ostream& diag) {
    if (!state_) return initFailure(Z_MEM_ERROR, diag);
    if (state_->finished) return DecodeResult{};
    state_->finished = true;
    if (state_->stream.initCode() != Z_OK) return initFailure(state_->stream.initCode(), diag);
    z_stream& stream = state_->stream.get();
    if (!state_->settled) {
        // The end of the input: the last call of the one-call decode.
        stream.avail_in = 0;
        state_->code = inflate(&stream, Z_FINISH);
        state_->settled = true;
    }
    const std::size_t produced = sizeof state_->buffers.output - stream.avail_out;
    DecodeResult result;
    finishDecode(state_->code, false, state_->buffers, produced, &sprite, diag,
                 [this] { return state_->stream.end(); }, result);
    return result;
}

std::string describeOutcome(const DecodeResult& result) {
    switch (result.outcome) {
    case DecodeOutcome::openFailure: return "cannot open";
    case DecodeOutcome::initFailure: return "inflate init error " + std::to_string(result.zlibCode);
    case DecodeOutcome::inflateFailure: return "inflate error " + std::to_string(result.zlibCode);
    case DecodeOutcome::notAPicture: return "not a picture";
    case DecodeOutcome::endFailure: return "inflate end error " + std::to_string(result.zlibCode);
    case DecodeOutcome::success: return "ok";
    }
    return "unknown";
}

std::vector<std::uint8_t> packBytes(const std::uint8_t* data, std::size_t size, int level) {
    uLongf packedSize = compressBound(static_cast<uLong>(size));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, data, static_cast<uLong>(size), level) != Z_OK) return {};
    packed.resize(packedSize);
    return packed;
}

PackResult packPicture(const std::uint8_t* bmp, std::size_t size) {
    PackResult result;
    Raster probe;
    if (!probe.loadFromMemory(bmp, size)) {
        result.refusal = PackRefusal::notAPicture;
    } else if (size > kMaxPayloadSize) {
        result.refusal = PackRefusal::tooLarge;
    } else {
        result.packed = packBytes(bmp, size, Z_BEST_COMPRESSION);
        if (result.packed.empty()) result.refusal = PackRefusal::zlibFailure;
    }
    return result;
}

std::string describeRefusal(PackRefusal refusal) {
    switch (refusal) {
    case PackRefusal::none: return "ok";
    case PackRefusal::notAPicture: return "not a picture the viewer can read";
    case PackRefusal::tooLarge: return "larger than 2048 bytes";
    case PackRefusal::zlibFailure: return "compression failed";
    }
    return "unknown";
}

}  // namespace qel

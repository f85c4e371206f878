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

void writeDecodeDiagnostic(std::ostream& out, const DecodeResult& result) {
    const char* line = nullptr;
    switch (result.outcome) {
    case DecodeOutcome::initFailure: line = "INFLATE INIT ERROR\n"; break;
    case DecodeOutcome::inflateFailure: line = "INFLATE ERROR\n"; break;
    case DecodeOutcome::endFailure: line = "INFLATE END ERROR\n"; break;
    default: return;
    }
    // Each insertion flushed, as the viewer's console has always had them.
    out << line << std::flush;
    out << "ERROR NO : " << std::flush;
    out << result.zlibCode << std::flush;
    out << "\n" << std::flush;
}

struct PackedDecoder::State {
    z_stream stream;
    bool initialised = false;  // stream holds zlib state that must be ended
    bool begun = false;        // an input has begun
    bool finished = false;     // and been finished: feed takes no more
    bool settled = false;      // code is final; no more input is taken
    int initCode = Z_OK;       // of the current input's init or reset
    int code = Z_BUF_ERROR;
    std::uint8_t output[kMaxPayloadSize];
    std::uint8_t input[kReadChunkSize];  // decode's chunk of its source

    // One piece of input through inflate. inflate goes exactly as far with
    // its input in pieces as with all of it at once, so the only question is
    // when to stop taking more: Z_BUF_ERROR with all of the piece taken means
    // more input may yet finish the stream; anything else (the stream ended
    // or failed, or the full payload room left input untaken) settles it.
    // Z_FINISH on every call keeps zlib from keeping a window for a stream
    // that ends in the call, as the one call would; one that does not end
    // goes on as with Z_NO_FLUSH.
    bool take(const std::uint8_t* data, uInt size) {
        stream.next_in = const_cast<std::uint8_t*>(data);
        stream.avail_in = size;
        const int result = inflate(&stream, Z_FINISH);
        const bool more = result == Z_BUF_ERROR && stream.avail_in == 0;
        if (!more) {
            settled = true;
            code = result;
        }
        stream.next_in = nullptr;
        stream.avail_in = 0;
        return more;
    }
};

PackedDecoder::PackedDecoder(ZlibState zlib) : zlib_(zlib) {}

PackedDecoder::~PackedDecoder() {
    if (state_ && state_->initialised) inflateEnd(&state_->stream);
}

// Readies the state for a new input: a fresh zlib state, or the kept one
// back to what inflateInit leaves. False when there is no memory for the
// decoder itself.
bool PackedDecoder::begin() {
    if (!state_) {
        state_.reset(new (std::nothrow) State);
        if (!state_) return false;
    }
    State& s = *state_;
    if (s.initialised && zlib_ == ZlibState::reused) {
        s.initCode = inflateReset(&s.stream);
        if (s.initCode != Z_OK) {
            inflateEnd(&s.stream);
            s.initialised = false;
        }
    } else {
        if (s.initialised) inflateEnd(&s.stream);
        std::memset(&s.stream, 0, sizeof s.stream);  // default allocator
        s.initCode = inflateInit(&s.stream);
        s.initialised = s.initCode == Z_OK;
    }
    s.stream.next_out = s.output;
    s.stream.avail_out = sizeof s.output;
    s.stream.next_in = nullptr;
    s.stream.avail_in = 0;
    s.begun = true;
    s.finished = false;
    s.settled = false;
    s.code = Z_BUF_ERROR;
    return true;
}

bool PackedDecoder::feed(const std::uint8_t* data, std::size_t size) {
    if (state_ && state_->finished) return false;
    if ((!state_ || !state_->begun) && !begin()) return false;
    State& s = *state_;
    if (s.initCode != Z_OK || s.settled) return false;
    // zlib counts input in uInt; a larger piece goes in several calls.
    while (size > 0) {
        const std::size_t piece = std::min<std::size_t>(size, kReadChunkSize);
        if (!s.take(data, static_cast<uInt>(piece))) return false;
        data += piece;
        size -= piece;
    }
    return true;
}

DecodeResult PackedDecoder::finish(Raster* sprite) {
    DecodeResult result;
    finish(sprite, result);
    return result;
}

void PackedDecoder::finish(Raster* sprite, DecodeResult& result) {
    // The payload keeps its room for the next input.
    result.outcome = DecodeOutcome::openFailure;
    result.zlibCode = 0;
    result.hasPayload = false;
    result.payload.clear();
    if (state_ && state_->finished) return;
    if ((!state_ || !state_->begun) && !begin()) {
        result.outcome = DecodeOutcome::initFailure;
        result.zlibCode = Z_MEM_ERROR;
        return;
    }
    State& s = *state_;
    s.begun = false;
    s.finished = true;
    if (s.initCode != Z_OK) {
        result.outcome = DecodeOutcome::initFailure;
        result.zlibCode = s.initCode;
        return;
    }
    if (!s.settled) {
        // The end of the input: the last call of the one-call decode.
        s.stream.avail_in = 0;
        s.code = inflate(&s.stream, Z_FINISH);
        s.settled = true;
    }
    // Only a loaded picture asks for inflateEnd's result; every other path
    // ends a state of its own all the same.
    const bool ownState = zlib_ == ZlibState::perInput;
    int endCode = Z_OK;
    auto end = [&] {
        if (ownState && s.initialised) endCode = inflateEnd(&s.stream);
        if (ownState) s.initialised = false;
    };
    if (s.code < 0) {
        end();
        result.outcome = DecodeOutcome::inflateFailure;
        result.zlibCode = s.code;
        return;
    }
    // A positive code other than Z_STREAM_END (a preset dictionary request)
    // hands on what came out, possibly nothing; the reader judges it.
    result.hasPayload = true;
    result.payload.assign(s.output, s.output + (sizeof s.output - s.stream.avail_out));
    const bool accepted = sprite ? sprite->loadFromMemory(result.payload.data(), result.payload.size())
                                 : checkBmp(result.payload.data(), result.payload.size()).accepted;
    end();
    if (!accepted) {
        result.outcome = DecodeOutcome::notAPicture;
    } else if (endCode < 0) {
        result.outcome = DecodeOutcome::endFailure;
        result.zlibCode = endCode;
    } else {
        result.outcome = DecodeOutcome::success;
    }
}

void PackedDecoder::decode(ByteSource& source, Raster* sprite, DecodeResult& result) {
    // A state that failed to start reads nothing; finish reports it.
    if (begin() && state_->initCode == Z_OK) {
        for (;;) {
            std::size_t count = 0;
            if (!source.read(state_->input, sizeof state_->input, count)) {
                // As a file that cannot be opened: the input is dropped.
                state_->settled = true;
                state_->code = Z_ERRNO;
                finish(nullptr, result);
                result.outcome = DecodeOutcome::openFailure;
                result.zlibCode = 0;
                return;
            }
            if (count == 0 || !state_->take(state_->input, static_cast<uInt>(count))) break;
        }
    }
    finish(sprite, result);
}

const std::uint8_t* PackedDecoder::inflated(std::size_t& count) const {
    count = state_ && state_->begun ? sizeof state_->output - state_->stream.avail_out : 0;
    return state_ ? state_->output : nullptr;
}

DecodeResult decodePacked(ByteSource& source, Raster* sprite) {
    PackedDecoder decoder;
    DecodeResult result;
    decoder.decode(source, sprite, result);
    return result;
}

DecodeResult decodePacked(const std::uint8_t* data, std::size_t size, Raster* sprite) {
    MemorySource source(data, size);
    return decodePacked(source, sprite);
}

DecodeResult decodePackedFile(const std::string& path, Raster* sprite) {
    InputFile file;
    if (!file.open(path)) return DecodeResult{};  // openFailure
    return decodePacked(file, sprite);
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

#include "packed/PackedFile.h"

#include <cstring>
#include <ostream>

#include <zlib.h>

#include "imaging/FileIo.h"
#include "imaging/Raster.h"

namespace qel {

namespace {

void writeDiagnostic(std::ostream& diag, const char* line, int code) {
    diag << line << std::flush;
    diag << "ERROR NO : " << std::flush;
    diag << code << std::flush;
    diag << "\n" << std::flush;
}

// Owns an initialised inflate stream so that inflateEnd runs on every path;
// only a successful decode asks for inflateEnd's result.
class InflateStream {
public:
    InflateStream(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t outSize) {
        std::memset(&stream_, 0, sizeof stream_);  // default allocator
        stream_.next_in = const_cast<Bytef*>(in);
        stream_.avail_in = static_cast<uInt>(inSize);
        stream_.next_out = out;
        stream_.avail_out = static_cast<uInt>(outSize);
        initCode_ = inflateInit(&stream_);
    }
    ~InflateStream() { end(); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    int initCode() const { return initCode_; }
    int inflateOnce() { return inflate(&stream_, Z_FINISH); }
    std::size_t totalOut() const { return stream_.total_out; }
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

}  // namespace

DecodeResult decodePackedBytes(const std::uint8_t* data, std::size_t size, Raster& sprite, std::ostream& diag) {
    DecodeResult result;
    static const std::uint8_t kNoInput = 0;
    if (!data) data = &kNoInput;
    // zlib counts input in uInt. Past that many bytes a stream whose output
    // fits in 2048 bytes has long ended, so offering fewer changes nothing.
    const std::size_t maxInput = static_cast<uInt>(-1);
    if (size > maxInput) size = maxInput;

    std::uint8_t output[kMaxPayloadSize];
    InflateStream stream(data, size, output, sizeof output);
    if (stream.initCode() != Z_OK) {
        result.outcome = DecodeOutcome::initFailure;
        result.zlibCode = stream.initCode();
        writeDiagnostic(diag, "INFLATE INIT ERROR\n", result.zlibCode);
        return result;
    }

    const int inflateCode = stream.inflateOnce();
    if (inflateCode < 0) {
        result.outcome = DecodeOutcome::inflateFailure;
        result.zlibCode = inflateCode;
        writeDiagnostic(diag, "INFLATE ERROR\n", inflateCode);
        return result;
    }

    // A positive code other than Z_STREAM_END (a preset dictionary request)
    // hands on what came out, possibly nothing; the reader judges it.
    result.hasPayload = true;
    result.payload.assign(output, output + stream.totalOut());
    if (!sprite.loadFromMemory(result.payload.data(), result.payload.size())) {
        result.outcome = DecodeOutcome::notAPicture;
        return result;
    }

    const int endCode = stream.end();
    if (endCode < 0) {
        result.outcome = DecodeOutcome::endFailure;
        result.zlibCode = endCode;
        writeDiagnostic(diag, "INFLATE END ERROR\n", endCode);
        return result;
    }
    result.outcome = DecodeOutcome::success;
    return result;
}

DecodeResult decodePackedFile(const std::string& path, Raster& sprite, std::ostream& diag) {
    std::vector<std::uint8_t> bytes;
    if (readWholeFile(path, kMaxPackedFileSize, bytes) != ReadStatus::ok) {
        DecodeResult result;
        result.outcome = DecodeOutcome::openFailure;
        return result;
    }
    return decodePackedBytes(bytes.data(), bytes.size(), sprite, diag);
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

// The streaming packed decoder against the one-shot inflate it stands for.
// For each input, zlib itself inflates the whole input in one call with
// Z_FINISH into a 2048-byte buffer, and the outcome, zlib code, payload,
// diagnostic text and sprite that this one call leads to are worked out
// here; then the decoder must give exactly those:
//
//   - decodePacked, all the bytes in one piece;
//   - decodePacked, the bytes handed out in pieces of changing sizes
//     (1 byte up to several hundred), as short reads of a file would;
//   - a PackedDecoder on a reused zlib state kept from input to input, as a
//     worker's is, so that every input also meets a state reset after some
//     earlier one;
//   - a PackedDecoder fed the pieces by its caller, as an image loader's
//     increments come, stopping once it says the rest is not needed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzLimits.h"
#include "files/FileIo.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"

namespace {

struct Expected {
    qel::DecodeOutcome outcome = qel::DecodeOutcome::openFailure;
    int zlibCode = 0;
    bool hasPayload = false;
    std::vector<std::uint8_t> payload;
    std::string diag;
};

void makePlaceholder(qel::Raster& sprite) {
    QEL_FUZZ_CHECK(sprite.create(24, 24));
    sprite.setColour(qel::kTransparentKey);
    sprite.fill();
}

bool sameRaster(const qel::Raster& a, const qel::Raster& b) {
    return a.width() == b.width() && a.height() == b.height() && a.allocated() == b.allocated() &&
           a.pixelBytes() == b.pixelBytes() &&
           std::memcmp(a.header(), b.header(), qel::Raster::kHeaderBlockSize) == 0 &&
           std::memcmp(a.pixels(), b.pixels(), a.pixelBytes()) == 0;
}

// One inflate call over everything, and what follows from it by the
// decoder's rules, but for the picture: see finish().
Expected oneShot(const std::uint8_t* data, std::size_t size) {
    Expected e;
    std::uint8_t output[qel::kMaxPayloadSize];
    z_stream s;
    std::memset(&s, 0, sizeof s);
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(size);
    s.next_out = output;
    s.avail_out = sizeof output;
    QEL_FUZZ_CHECK(inflateInit(&s) == Z_OK);
    const int code = inflate(&s, Z_FINISH);
    const std::size_t produced = sizeof output - s.avail_out;
    QEL_FUZZ_CHECK(inflateEnd(&s) == Z_OK);

    if (code < 0) {
        e.outcome = qel::DecodeOutcome::inflateFailure;
        e.zlibCode = code;
        e.diag = "INFLATE ERROR\nERROR NO : " + std::to_string(code) + "\n";
        return e;
    }
    e.hasPayload = true;
    e.payload.assign(output, output + produced);
    return e;
}

// sprite receives the payload's picture when there is one.
void finish(Expected& e, qel::Raster& sprite) {
    if (!e.hasPayload) return;
    e.outcome = sprite.loadFromMemory(e.payload.data(), e.payload.size()) ? qel::DecodeOutcome::success
                                                                          : qel::DecodeOutcome::notAPicture;
}

// Hands out the input in pieces whose sizes follow a little generator seeded
// from the input itself, so each input is cut the same way on every run.
class PiecewiseSource final : public qel::ByteSource {
public:
    PiecewiseSource(const std::uint8_t* data, std::size_t size, std::uint32_t seed)
        : data_(data), size_(size), state_(seed | 1u) {}

    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        // Mostly short pieces, now and then a long one.
        const std::size_t piece = (state_ & 7u) == 0 ? 1 + (state_ >> 8) % 700 : 1 + (state_ >> 8) % 9;
        count = std::min({capacity, piece, size_ - offset_});
        if (count != 0) std::memcpy(buffer, data_ + offset_, count);
        offset_ += count;
        return true;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    std::uint32_t state_;
};

std::uint32_t seedOf(const std::uint8_t* data, std::size_t size) {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h ^ static_cast<std::uint32_t>(size);
}

template <typename Decode>
void checkAgainst(const Expected& expected, const qel::Raster& expectedSprite, Decode decode) {
    qel::Raster sprite;
    makePlaceholder(sprite);
    std::ostringstream diag;
    const qel::DecodeResult result = decode(sprite);
    qel::writeDecodeDiagnostic(diag, result);
    QEL_FUZZ_CHECK(result.outcome == expected.outcome);
    QEL_FUZZ_CHECK(result.zlibCode == expected.zlibCode);
    QEL_FUZZ_CHECK(result.hasPayload == expected.hasPayload);
    QEL_FUZZ_CHECK(result.payload == expected.payload);
    QEL_FUZZ_CHECK(diag.str() == expected.diag);
    QEL_FUZZ_CHECK(sameRaster(sprite, expectedSprite));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static qel::PackedDecoder* reused = new qel::PackedDecoder(qel::PackedDecoder::ZlibState::reused);

    Expected expected = oneShot(data, size);
    // Keep out the bounded 48 MiB blank pictures (see FuzzLimits.h).
    if (qel::fuzz::declaresLargeBlankPicture(expected.payload.data(), expected.payload.size())) return -1;
    qel::Raster expectedSprite;
    makePlaceholder(expectedSprite);
    finish(expected, expectedSprite);

    checkAgainst(expected, expectedSprite, [&](qel::Raster& sprite) { return qel::decodePacked(data, size, &sprite); });
    const std::uint32_t seed = seedOf(data, size);
    checkAgainst(expected, expectedSprite, [&](qel::Raster& sprite) {
        PiecewiseSource source(data, size, seed);
        return qel::decodePacked(source, &sprite);
    });
    checkAgainst(expected, expectedSprite, [&](qel::Raster& sprite) {
        PiecewiseSource source(data, size, ~seed);
        qel::DecodeResult result;
        reused->decode(source, &sprite, result);
        return result;
    });
    checkAgainst(expected, expectedSprite, [&](qel::Raster& sprite) {
        PiecewiseSource source(data, size, seed ^ 0x5A5A5A5Au);
        qel::PackedDecoder decoder;
        std::uint8_t piece[1024];
        std::size_t count = 0;
        while (source.read(piece, sizeof piece, count) && count != 0 && decoder.feed(piece, count)) {
        }
        return decoder.finish(&sprite);
    });
    return 0;
}

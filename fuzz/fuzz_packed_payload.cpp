// qel::decodePacked on sound zlib streams carrying arbitrary payloads.
// Mutating packed bytes directly rarely gives a stream that inflates, so this
// target packs the input itself (at a zlib level taken from its length, 0 to
// 9) and checks that the decoder hands on every payload that fits byte for
// byte, gives the sprite exactly what the reader makes of it, and refuses
// every payload over 2048 bytes with a buffer error.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzLimits.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (qel::fuzz::declaresLargeBlankPicture(data, size)) return -1;  // keep it out of the corpus
    const int level = static_cast<int>(size % 10);
    const std::vector<std::uint8_t> packed = qel::packBytes(data, size, level);
    QEL_FUZZ_CHECK(!packed.empty());

    qel::Raster sprite;
    QEL_FUZZ_CHECK(sprite.create(24, 24));
    sprite.setColour(qel::kTransparentKey);
    sprite.fill();
    const std::vector<std::uint8_t> headerBefore(sprite.header(), sprite.header() + qel::Raster::kHeaderBlockSize);
    const std::vector<std::uint8_t> pixelsBefore(sprite.pixels(), sprite.pixels() + sprite.pixelBytes());
    const auto unchanged = [&] {
        return sprite.width() == 24 && sprite.height() == 24 &&
               std::memcmp(sprite.header(), headerBefore.data(), headerBefore.size()) == 0 &&
               sprite.pixelBytes() == pixelsBefore.size() &&
               std::memcmp(sprite.pixels(), pixelsBefore.data(), pixelsBefore.size()) == 0;
    };

    std::ostringstream diag;
    const qel::DecodeResult result = qel::decodePacked(packed.data(), packed.size(), &sprite);
    qel::writeDecodeDiagnostic(diag, result);

    if (size > qel::kMaxPayloadSize) {
        QEL_FUZZ_CHECK(result.outcome == qel::DecodeOutcome::inflateFailure && result.zlibCode == -5);
        QEL_FUZZ_CHECK(diag.str() == "INFLATE ERROR\nERROR NO : -5\n");
        QEL_FUZZ_CHECK(!result.hasPayload && result.payload.empty());
        QEL_FUZZ_CHECK(unchanged());
        return 0;
    }

    QEL_FUZZ_CHECK(result.hasPayload && result.payload.size() == size);
    QEL_FUZZ_CHECK(size == 0 || std::memcmp(result.payload.data(), data, size) == 0);
    QEL_FUZZ_CHECK(diag.str().empty());
    qel::Raster direct;
    if (direct.loadFromMemory(data, size)) {
        QEL_FUZZ_CHECK(result.outcome == qel::DecodeOutcome::success);
        QEL_FUZZ_CHECK(sprite.width() == direct.width() && sprite.height() == direct.height());
        QEL_FUZZ_CHECK(std::memcmp(sprite.header(), direct.header(), qel::Raster::kHeaderBlockSize) == 0);
        QEL_FUZZ_CHECK(std::memcmp(sprite.pixels(), direct.pixels(), direct.pixelBytes()) == 0);
    } else {
        QEL_FUZZ_CHECK(result.outcome == qel::DecodeOutcome::notAPicture);
        QEL_FUZZ_CHECK(unchanged());
    }
    return 0;
}

// qel::packPicture followed by qel::decodePacked. Whatever pack accepts
// must come back from the decoder as a success holding the very same bytes
// and the same picture; whatever it refuses must be refused for the reason
// given.
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
    const qel::PackResult packed = qel::packPicture(data, size);
    qel::Raster probe;
    const bool isPicture = probe.loadFromMemory(data, size);

    switch (packed.refusal) {
    case qel::PackRefusal::notAPicture:
        QEL_FUZZ_CHECK(!isPicture);
        break;
    case qel::PackRefusal::tooLarge:
        QEL_FUZZ_CHECK(isPicture && size > qel::kMaxPayloadSize);
        break;
    case qel::PackRefusal::zlibFailure:
        QEL_FUZZ_CHECK(false);  // compressing at most 2048 bytes cannot fail
        break;
    case qel::PackRefusal::none: {
        QEL_FUZZ_CHECK(isPicture && size <= qel::kMaxPayloadSize && !packed.packed.empty());
        qel::Raster sprite;
        std::ostringstream diag;
        const qel::DecodeResult result = qel::decodePacked(packed.packed.data(), packed.packed.size(), &sprite);
        qel::writeDecodeDiagnostic(diag, result);
        QEL_FUZZ_CHECK(result.outcome == qel::DecodeOutcome::success);
        QEL_FUZZ_CHECK(result.hasPayload && result.payload.size() == size);
        QEL_FUZZ_CHECK(size == 0 || std::memcmp(result.payload.data(), data, size) == 0);
        QEL_FUZZ_CHECK(diag.str().empty());
        QEL_FUZZ_CHECK(sprite.width() == probe.width() && sprite.height() == probe.height());
        QEL_FUZZ_CHECK(std::memcmp(sprite.header(), probe.header(), qel::Raster::kHeaderBlockSize) == 0);
        QEL_FUZZ_CHECK(std::memcmp(sprite.pixels(), probe.pixels(), probe.pixelBytes()) == 0);
        break;
    }
    }
    if (packed.refusal != qel::PackRefusal::none) QEL_FUZZ_CHECK(packed.packed.empty());
    return 0;
}

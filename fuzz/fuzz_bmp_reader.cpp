// Raster::loadFromMemory on arbitrary bytes. A refused image must leave the
// raster exactly as it was; an accepted one must be the picture the header
// describes, survive a write and re-read unchanged, and go through the
// operations the viewer applies to a sprite or backdrop without touching
// memory outside either raster.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzLimits.h"
#include "imaging/Bytes.h"
#include "imaging/Raster.h"

namespace {

constexpr std::uint32_t kBefore = 0x123456;

bool allPixelsAre(const qel::Raster& raster, std::uint32_t colour) {
    for (int y = 0; y < raster.height(); ++y) {
        for (int x = 0; x < raster.width(); ++x) {
            if (raster.pixelAt(x, y) != colour) return false;
        }
    }
    return true;
}

bool samePixels(const qel::Raster& a, const qel::Raster& b) {
    return a.width() == b.width() && a.height() == b.height() && a.pixelBytes() == b.pixelBytes() &&
           std::memcmp(a.pixels(), b.pixels(), a.pixelBytes()) == 0;
}

bool isGrey(std::uint32_t c) { return (c & 0xFF) == ((c >> 8) & 0xFF) && (c & 0xFF) == ((c >> 16) & 0xFF); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (qel::fuzz::declaresLargeBlankPicture(data, size)) return -1;  // keep it out of the corpus
    qel::Raster raster;
    QEL_FUZZ_CHECK(raster.create(3, 2));
    raster.setColour(kBefore);
    raster.fill();
    std::uint8_t headerBefore[qel::Raster::kHeaderBlockSize];
    std::memcpy(headerBefore, raster.header(), sizeof headerBefore);

    if (!raster.loadFromMemory(data, size)) {
        QEL_FUZZ_CHECK(raster.width() == 3 && raster.height() == 2);
        QEL_FUZZ_CHECK(std::memcmp(headerBefore, raster.header(), sizeof headerBefore) == 0);
        QEL_FUZZ_CHECK(allPixelsAre(raster, kBefore));
        return 0;
    }

    // Accepted: the header said "BM" and a sane size.
    QEL_FUZZ_CHECK(size >= qel::Raster::kBmpHeaderSize && data[0] == 'B' && data[1] == 'M');
    const int width = raster.width();
    const int height = raster.height();
    QEL_FUZZ_CHECK(width > 0 && height > 0);
    QEL_FUZZ_CHECK(width == qel::readLe32Signed(data + 18) && height == qel::readLe32Signed(data + 22));
    const auto pixelCount = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    QEL_FUZZ_CHECK(pixelCount <= qel::Raster::kMaxPixels);
    QEL_FUZZ_CHECK(raster.allocated() && raster.pixelBytes() == pixelCount * 3);

    const std::uint16_t declaredBits = qel::readLe16(data + 28);
    const bool converted = declaredBits == 8 || declaredBits == 16 || declaredBits == 24;
    QEL_FUZZ_CHECK(raster.bitCount() == (converted ? 24 : declaredBits));
    if (declaredBits == 24) {
        // 24-bit pixels are a plain copy of the bytes at bfOffBits.
        const std::uint32_t offset = qel::readLe32(data + 10);
        QEL_FUZZ_CHECK(offset + pixelCount * 3 <= size);
        QEL_FUZZ_CHECK(std::memcmp(raster.pixels(), data + offset, raster.pixelBytes()) == 0);
    } else if (!converted) {
        QEL_FUZZ_CHECK(allPixelsAre(raster, 0));
    }

    // Writing the raster out and reading it back gives the same picture.
    const std::vector<std::uint8_t> encoded = raster.encodeBmp();
    QEL_FUZZ_CHECK(encoded.size() == qel::Raster::kBmpHeaderSize + raster.pixelBytes());
    QEL_FUZZ_CHECK(qel::readLe16(encoded.data() + 28) == 24);
    qel::Raster reread;
    QEL_FUZZ_CHECK(reread.loadFromMemory(encoded.data(), encoded.size()));
    QEL_FUZZ_CHECK(samePixels(raster, reread));

    // As a backdrop: copied onto a white 144x76 canvas from the top-left.
    qel::Raster canvas(144, 76);
    canvas.setColour(qel::kWhite);
    canvas.fill();
    canvas.blit(0, 0, 0, 0, 144, 76, raster);
    QEL_FUZZ_CHECK(canvas.pixelAt(0, 0) == raster.pixelAt(0, 0));
    if (width < 144) QEL_FUZZ_CHECK(canvas.pixelAt(143, 0) == qel::kWhite);
    if (height < 76) QEL_FUZZ_CHECK(canvas.pixelAt(0, 75) == qel::kWhite);
    const int lastX = (width < 144 ? width : 144) - 1;
    const int lastY = (height < 76 ? height : 76) - 1;
    QEL_FUZZ_CHECK(canvas.pixelAt(lastX, lastY) == raster.pixelAt(lastX, lastY));

    // As a sprite: its top-left 24x24 laid over the canvas, key colour left out.
    const std::uint32_t corner = raster.pixelAt(0, 0);
    canvas.setColour(qel::kWhite);
    canvas.fill();
    canvas.blitKeyed(52, 22, 0, 0, 24, 24, qel::kTransparentKey, raster);
    QEL_FUZZ_CHECK(canvas.pixelAt(52, 22) == (corner == qel::kTransparentKey ? qel::kWhite : corner));
    canvas.blitKeyed(140, 70, 0, 0, 24, 24, qel::kTransparentKey, raster);  // clipped at both edges

    raster.toGray();
    QEL_FUZZ_CHECK(isGrey(raster.pixelAt(0, 0)) && isGrey(raster.pixelAt(width - 1, height - 1)));
    QEL_FUZZ_CHECK(qel::paddedRows(raster).size() ==
                   ((static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3}) * static_cast<std::size_t>(height));
    return 0;
}

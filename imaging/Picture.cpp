#include "imaging/Picture.h"

#include <algorithm>
#include <new>

#include "imaging/Raster.h"

namespace qel {

namespace {

// The source index whose pixel covers the centre of output pixel i when n
// source pixels are drawn as count: for a whole enlarging factor f this is
// i / f exactly.
int sourceIndex(int i, int count, int n) {
    return static_cast<int>((2 * static_cast<std::int64_t>(i) + 1) * n / (2 * static_cast<std::int64_t>(count)));
}

bool usable(const Raster& raster, PictureSize out) {
    return raster.allocated() && raster.width() > 0 && raster.height() > 0 && out.width > 0 && out.height > 0;
}

}  // namespace

PictureSize thumbnailSize(int width, int height, int size) {
    if (width <= 0 || height <= 0 || size <= 0) return {};
    if (width <= size && height <= size) {
        const int factor = std::min(size / width, size / height);
        return {width * factor, height * factor};
    }
    const std::int64_t longer = std::max(width, height);
    const int w = static_cast<int>(static_cast<std::int64_t>(width) * size / longer);
    const int h = static_cast<int>(static_cast<std::int64_t>(height) * size / longer);
    return {std::max(w, 1), std::max(h, 1)};
}

void scaledRgbaRow(const Raster& raster, PictureSize out, int y, KeyPixel key, std::uint8_t* row) {
    if (!usable(raster, out) || y < 0 || y >= out.height) return;
    const int width = raster.width();
    // Buffer rows are stored bottom-up.
    const int sourceRow = raster.height() - 1 - sourceIndex(y, out.height, raster.height());
    const std::uint8_t* source = raster.pixels() + static_cast<std::size_t>(sourceRow) * width * 3;
    for (int x = 0; x < out.width; ++x) {
        const std::uint8_t* bgr = source + static_cast<std::size_t>(sourceIndex(x, out.width, width)) * 3;
        const bool keyed = bgr[0] == 0xFF && bgr[1] == 0x00 && bgr[2] == 0xFF;
        if (keyed && key == KeyPixel::clear) {
            row[0] = row[1] = row[2] = row[3] = 0;
        } else {
            row[0] = bgr[2];
            row[1] = bgr[1];
            row[2] = bgr[0];
            row[3] = keyed ? 0 : 255;
        }
        row += 4;
    }
}

std::vector<std::uint8_t> scaledRgba(const Raster& raster, PictureSize out, KeyPixel key) {
    std::vector<std::uint8_t> pixels;
    if (!usable(raster, out)) return pixels;
    const std::size_t rowBytes = static_cast<std::size_t>(out.width) * 4;
    try {
        pixels.resize(rowBytes * static_cast<std::size_t>(out.height));
    } catch (const std::bad_alloc&) {
        return {};
    }
    for (int y = 0; y < out.height; ++y) scaledRgbaRow(raster, out, y, key, pixels.data() + rowBytes * y);
    return pixels;
}

std::vector<std::uint8_t> pictureRgba(const Raster& raster, KeyPixel key) {
    return scaledRgba(raster, {raster.width(), raster.height()}, key);
}

std::vector<std::uint8_t> thumbnailRgba(const Raster& raster, int size, KeyPixel key, PictureSize& outSize) {
    outSize = thumbnailSize(raster.width(), raster.height(), size);
    std::vector<std::uint8_t> pixels = scaledRgba(raster, outSize, key);
    if (pixels.empty()) outSize = {};
    return pixels;
}

}  // namespace qel

#include "imaging/Picture.h"

#include <algorithm>
#include <cstring>
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

bool convertPicture(const Raster& raster, const PixelTarget& target) {
    const PictureSize out = target.size;
    const int rows = target.rows < 0 ? out.height - target.firstRow : target.rows;
    if (!usable(raster, out) || !target.pixels || target.firstRow < 0 || rows < 0 ||
        rows > out.height - target.firstRow || target.stride < static_cast<std::size_t>(out.width) * 4) {
        return false;
    }
    const int width = raster.width();
    std::uint8_t* row = target.pixels;
    for (int y = target.firstRow; y < target.firstRow + rows; ++y, row += target.stride) {
        // Buffer rows are stored bottom-up.
        const int sourceRow = raster.height() - 1 - sourceIndex(y, out.height, raster.height());
        const std::uint8_t* source = raster.pixels() + static_cast<std::size_t>(sourceRow) * width * 3;
        std::uint8_t* pixel = row;
        for (int x = 0; x < out.width; ++x, pixel += 4) {
            const std::uint8_t* bgr = source + static_cast<std::size_t>(sourceIndex(x, out.width, width)) * 3;
            const bool keyed = target.key != KeyPixel::opaque && bgr[0] == 0xFF && bgr[1] == 0x00 && bgr[2] == 0xFF;
            const bool cleared = keyed && target.key == KeyPixel::clear;
            const std::uint8_t r = cleared ? 0 : bgr[2], g = cleared ? 0 : bgr[1], b = cleared ? 0 : bgr[0];
            const std::uint8_t a = keyed ? 0 : 255;
            switch (target.order) {
            case ChannelOrder::rgba: pixel[0] = r, pixel[1] = g, pixel[2] = b, pixel[3] = a; break;
            case ChannelOrder::bgra: pixel[0] = b, pixel[1] = g, pixel[2] = r, pixel[3] = a; break;
            case ChannelOrder::argb32: {
                const std::uint32_t word = std::uint32_t{a} << 24 | std::uint32_t{r} << 16 | std::uint32_t{g} << 8 | b;
                std::memcpy(pixel, &word, sizeof word);
                break;
            }
            }
        }
    }
    return true;
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
    PixelTarget target;
    target.pixels = pixels.data();
    target.stride = rowBytes;
    target.size = out;
    target.key = key;
    convertPicture(raster, target);
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

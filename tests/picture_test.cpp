// The picture as hosts take it: RGBA rows, the key colour, thumbnail sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/Picture.h"
#include "imaging/Raster.h"

namespace qel {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ThumbnailSize, NeverLargerThanAskedAndWholeFactorsUpward) {
    struct Case {
        int width, height, size, expectWidth, expectHeight;
    };
    const Case cases[] = {
        {24, 24, 128, 120, 120},      // enlarged by 5
        {24, 24, 24, 24, 24},         // as it is
        {30, 10, 100, 90, 30},        // the longer side decides
        {10, 30, 100, 30, 90},
        {24, 24, 23, 23, 23},         // reduced, not kept at factor 1
        {4096, 4096, 128, 128, 128},  // a header's claim does not pass through
        {4096, 1, 256, 256, 1},       // a side never drops to 0
        {1, 4096, 64, 1, 64},
        {100, 50, 1, 1, 1},
        {0, 24, 128, 0, 0},
        {24, 24, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const PictureSize s = thumbnailSize(c.width, c.height, c.size);
        EXPECT_EQ(s.width, c.expectWidth) << c.width << "x" << c.height << " in " << c.size;
        EXPECT_EQ(s.height, c.expectHeight) << c.width << "x" << c.height << " in " << c.size;
    }
}

// A 4x2 picture, colours by column and row, the key at (1, 0).
void paint(Raster& r) {
    r.create(4, 2);
    for (int y = 1; y <= 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            r.setColour(x == 1 && y == 1 ? kTransparentKey : static_cast<std::uint32_t>(0x100000 * (x + 1) + y));
            r.setPixel(x, y);
        }
    }
}

Bytes rgba(std::uint32_t colour, std::uint8_t alpha) {
    return {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
            static_cast<std::uint8_t>(colour), alpha};
}

Bytes pixelOf(const Bytes& pixels, int width, int x, int y) {
    const auto at = pixels.begin() + (static_cast<std::ptrdiff_t>(y) * width + x) * 4;
    return {at, at + 4};
}

TEST(PictureRgba, TopRowFirstWithTheKeyTransparentEitherWay) {
    Raster r;
    paint(r);
    const Bytes kept = pictureRgba(r, KeyPixel::keepColour);
    const Bytes cleared = pictureRgba(r, KeyPixel::clear);
    ASSERT_EQ(kept.size(), 4u * 2 * 4);
    EXPECT_EQ(pixelOf(kept, 4, 0, 0), rgba(0x100001, 255));
    EXPECT_EQ(pixelOf(kept, 4, 3, 1), rgba(0x400002, 255));
    EXPECT_EQ(pixelOf(kept, 4, 1, 0), rgba(kTransparentKey, 0));
    EXPECT_EQ(pixelOf(cleared, 4, 1, 0), rgba(0, 0));
    EXPECT_EQ(pixelOf(cleared, 4, 0, 0), pixelOf(kept, 4, 0, 0));
    EXPECT_TRUE(pictureRgba(Raster(), KeyPixel::clear).empty());
}

TEST(PictureRgba, ScalingTakesWholePixelsNeverBlends) {
    Raster r;
    paint(r);
    const Bytes own = pictureRgba(r, KeyPixel::keepColour);
    // Enlarged by 3, each source pixel is a 3x3 block; halved, each output
    // pixel is the source pixel under its centre.
    const Bytes big = scaledRgba(r, {12, 6}, KeyPixel::keepColour);
    for (int i = 0; i < 12 * 6; ++i) EXPECT_EQ(pixelOf(big, 12, i % 12, i / 12), pixelOf(own, 4, i % 12 / 3, i / 36));
    EXPECT_EQ(scaledRgba(r, {2, 1}, KeyPixel::keepColour), Bytes({0x20, 0, 2, 255, 0x40, 0, 2, 255}));
    EXPECT_TRUE(scaledRgba(r, {0, 3}, KeyPixel::clear).empty());
}

// The one conversion every host uses: each channel order and key policy,
// rows further apart than the pixels, and a range of rows on its own.
TEST(ConvertPicture, ChannelOrdersKeysStrideAndRows) {
    Raster r;
    paint(r);
    const auto word = [](std::uint32_t w) {
        Bytes b(4);
        std::memcpy(b.data(), &w, 4);
        return b;
    };
    struct Case {
        ChannelOrder order;
        KeyPixel key;
        Bytes first, keyed;  // the top-left pixel, and the key beside it
    };
    const Case cases[] = {
        {ChannelOrder::rgba, KeyPixel::keepColour, {0x10, 0, 1, 255}, {0xFF, 0, 0xFF, 0}},
        {ChannelOrder::bgra, KeyPixel::clear, {1, 0, 0x10, 255}, {0, 0, 0, 0}},
        {ChannelOrder::bgra, KeyPixel::opaque, {1, 0, 0x10, 255}, {0xFF, 0, 0xFF, 255}},
        {ChannelOrder::argb32, KeyPixel::keepColour, word(0xFF100001), word(0x00FF00FF)},
        {ChannelOrder::argb32, KeyPixel::clear, word(0xFF100001), word(0)},
    };
    for (const Case& c : cases) {
        Bytes buffer(2 * 20, 0xEE);  // 16 bytes of pixels a row, 4 of the host's own
        PixelTarget target{buffer.data(), 20, {4, 2}, c.order, c.key};
        ASSERT_TRUE(convertPicture(r, target));
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), c.first);
        EXPECT_EQ(Bytes(buffer.begin() + 4, buffer.begin() + 8), c.keyed);
        EXPECT_EQ(Bytes(buffer.begin() + 16, buffer.begin() + 20), Bytes(4, 0xEE));
        Bytes bottom(16);
        target = PixelTarget{bottom.data(), 16, {4, 2}, c.order, c.key, 1, 1};
        ASSERT_TRUE(convertPicture(r, target));
        EXPECT_EQ(bottom, Bytes(buffer.begin() + 20, buffer.begin() + 36));
        target.stride = 15;
        EXPECT_FALSE(convertPicture(r, target));
        target = PixelTarget{bottom.data(), 16, {4, 2}, c.order, c.key, 2, 1};
        EXPECT_FALSE(convertPicture(r, target));
    }
}

}  // namespace
}  // namespace qel

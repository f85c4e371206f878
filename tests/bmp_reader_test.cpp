#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/Bytes.h"
#include "imaging/Raster.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"

namespace qel {
namespace {

using testing::Bytes;

bool load(Raster& r, const Bytes& b) { return r.loadFromMemory(b.data(), b.size()); }

// A raster holding a known picture, to prove a refused load leaves it alone.
struct LoadedRaster {
    Raster raster;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> header;
    LoadedRaster() {
        const Bytes bmp = testing::makeBmp24(3, 2, [](int x, int y) { return 0x102030u + x + 16 * y; });
        EXPECT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
        pixels.assign(raster.pixels(), raster.pixels() + raster.pixelBytes());
        header.assign(raster.header(), raster.header() + Raster::kHeaderBlockSize);
    }
    void expectUnchanged() const {
        ASSERT_TRUE(raster.allocated());
        EXPECT_EQ(raster.width(), 3);
        EXPECT_EQ(raster.height(), 2);
        EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), raster.pixels()));
        EXPECT_TRUE(std::equal(header.begin(), header.end(), raster.header()));
    }
};

TEST(BmpReader, TwentyFourBitPixelsAreCopiedUnchanged) {
    const Bytes bmp = testing::makeBmp24(24, 24, testing::sampleSpriteColour);
    Raster r;
    ASSERT_TRUE(load(r, bmp));
    EXPECT_EQ(r.width(), 24);
    EXPECT_EQ(r.height(), 24);
    ASSERT_EQ(r.pixelBytes(), 1728u);
    EXPECT_EQ(0, std::memcmp(r.pixels(), bmp.data() + 54, 1728));
    // The info header is taken whole, the palette entry from the 4 bytes after it.
    EXPECT_EQ(0, std::memcmp(r.header(), bmp.data() + 14, 44));
}

TEST(BmpReader, RowsAreUnpaddedAndPixelDataStartsAtItsOffset) {
    // A 10-pixel row is 30 bytes; put the data at 60 after six filler bytes.
    Bytes bmp = testing::makeBmp24(10, 2, [](int x, int y) { return y == 0 ? 0x10u * static_cast<std::uint32_t>(x + 1) : 0xFF0000u; });
    bmp.insert(bmp.begin() + 54, {9, 9, 9, 9, 9, 9});
    writeLe32(&bmp[10], 60);
    Raster r;
    ASSERT_TRUE(load(r, bmp));
    EXPECT_EQ(r.pixelAt(0, 1), 0xFF0000u);
    EXPECT_EQ(r.pixelAt(9, 1), 0xFF0000u);
    EXPECT_EQ(r.pixelAt(3, 0), 0x40u);
    EXPECT_EQ(r.pixelAt(9, 0), 0xA0u);
}

TEST(BmpReader, EightBitIndicesAreLookedUpInAFullPaletteFromOffset54) {
    std::vector<std::uint32_t> palette(256, 0);
    palette[3] = 0x302010;  // red 0x30, green 0x20, blue 0x10
    const Bytes bmp = testing::makeBmp8(4, 4, palette, [](int, int) { return std::uint8_t{3}; });
    Raster r;
    ASSERT_TRUE(load(r, bmp));
    EXPECT_EQ(r.bitCount(), 24);
    for (std::size_t p = 0; p < 16; ++p) {
        EXPECT_EQ(r.pixels()[3 * p], 0x10);
        EXPECT_EQ(r.pixels()[3 * p + 1], 0x20);
        EXPECT_EQ(r.pixels()[3 * p + 2], 0x30);
    }
}

TEST(BmpReader, EightBitPaletteIgnoresColoursUsed) {
    // biClrUsed says 16, yet index 200 reads entry 200 of the 256 at offset 54.
    std::vector<std::uint32_t> palette(256, 0);
    palette[200] = 0xC0FFEE;
    Bytes bmp = testing::makeBmp8(2, 1, palette, [](int x, int) { return std::uint8_t(x ? 200 : 1); });
    writeLe32(&bmp[46], 16);
    Raster r;
    ASSERT_TRUE(load(r, bmp));
    EXPECT_EQ(r.pixelAt(1, 0), 0xC0FFEEu);
    EXPECT_EQ(r.pixelAt(0, 0), 0u);
}

TEST(BmpReader, SixteenBitPixelsDecodeAsX1R5G5B5) {
    const std::uint16_t values[] = {0x7FFF, 0x7C00, 0x03E0, 0x001F, 0x0000, 0x4210};
    const Bytes bmp = testing::makeBmp16(6, 1, [&](int x, int) { return values[x]; });
    Raster r;
    ASSERT_TRUE(load(r, bmp));
    EXPECT_EQ(r.bitCount(), 24);
    EXPECT_EQ(r.pixelAt(0, 0), 0xFFFFFFu);
    EXPECT_EQ(r.pixelAt(1, 0), 0xFF0000u);
    EXPECT_EQ(r.pixelAt(2, 0), 0x00FF00u);
    EXPECT_EQ(r.pixelAt(3, 0), 0x0000FFu);
    EXPECT_EQ(r.pixelAt(4, 0), 0x000000u);
    EXPECT_EQ(r.pixelAt(5, 0), 0x848484u);  // 16 of 31 widens to 0x84
}

TEST(BmpReader, MissingBytesAfterTheInfoHeaderReadAsAZeroPaletteEntry) {
    // A picture of an unconverted bit count needs no pixel data, so its
    // 54-byte header alone loads; the entry after the info header is zero.
    Raster r;
    ASSERT_TRUE(load(r, testing::bmpHeader(1, 1, 32, 54, 54)));
    EXPECT_EQ(r.headerField(Raster::paletteEntry), 0u);
}

TEST(BmpReader, LoadFromFileReadsTheWholeFileOrReportsFalse) {
    testing::ScopedWorkDir dir;
    const Bytes bmp = testing::makeBmp24(6, 5, [](int x, int y) { return 0x010101u * static_cast<std::uint32_t>(x + y); });
    testing::writeFile("pic.bmp", bmp);
    Raster r;
    ASSERT_TRUE(r.loadFromFile("pic.bmp"));
    EXPECT_EQ(r.pixelAt(5, 4), 0x090909u);

    LoadedRaster loaded;
    EXPECT_FALSE(loaded.raster.loadFromFile("missing.bmp"));
    loaded.expectUnchanged();
    testing::writeFile("bad.bmp", Bytes{'B', 'M', 0});
    EXPECT_FALSE(loaded.raster.loadFromFile("bad.bmp"));
    loaded.expectUnchanged();
    EXPECT_FALSE(loaded.raster.loadFromFile("."));  // a directory is not a picture
    loaded.expectUnchanged();
}

}  // namespace
}  // namespace qel

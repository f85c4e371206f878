#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "imaging/Raster.h"

namespace qel {
namespace {

// A raster whose every pixel has its own colour, to see where copies land.
void paintPattern(Raster& r) {
    for (int y = 0; y < r.height(); ++y) {
        for (int x = 0; x < r.width(); ++x) {
            r.setColour(static_cast<std::uint32_t>((x << 16) | (y << 8) | 0x40));
            r.setPixel(x, y + 1);  // rows of setPixel count from 1
        }
    }
}

TEST(RasterCore, CreateFillsWithZeroAndWritesA24BitHeader) {
    Raster r;
    EXPECT_FALSE(r.allocated());
    ASSERT_TRUE(r.create(144, 76));
    EXPECT_EQ(r.pixelBytes(), 32832u);
    EXPECT_TRUE(std::all_of(r.pixels(), r.pixels() + r.pixelBytes(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(r.headerField(Raster::biSize), 40u);
    EXPECT_EQ(r.headerField(Raster::biWidth), 144u);
    EXPECT_EQ(r.headerField(Raster::biHeight), 76u);
    EXPECT_EQ(r.bitCount(), 24);
    EXPECT_EQ(r.header()[Raster::biPlanes], 1);
}

TEST(RasterCore, FillWritesColourAsBlueGreenRed) {
    Raster white(144, 76);
    white.setColour(0xFFFFFF);
    white.fill();
    EXPECT_TRUE(std::all_of(white.pixels(), white.pixels() + white.pixelBytes(),
                            [](std::uint8_t b) { return b == 0xFF; }));

    Raster one(1, 1);
    one.setColour(0x123456);
    one.fill();
    EXPECT_EQ(one.pixels()[0], 0x56);
    EXPECT_EQ(one.pixels()[1], 0x34);
    EXPECT_EQ(one.pixels()[2], 0x12);
}

TEST(RasterCore, ColourSurvivesFillAndReleaseButNotCreate) {
    Raster r(2, 2);
    r.setColour(0xABCDEF);
    r.fill();
    r.release();
    EXPECT_EQ(r.colour(), 0xABCDEFu);
    EXPECT_FALSE(r.allocated());
    r.fill();  // nothing to fill, must not crash
    EXPECT_TRUE(r.release());  // releasing twice frees nothing more
    ASSERT_TRUE(r.create(3, 3));
    EXPECT_EQ(r.colour(), 0u);
}

TEST(RasterCore, CreateRefusesNegativeAndOverflowingSizes) {
    Raster r(4, 4);
    EXPECT_FALSE(r.create(-1, 5));
    EXPECT_FALSE(r.allocated());
    EXPECT_FALSE(r.create(5, -1));
    EXPECT_FALSE(r.create(INT_MAX, INT_MAX));
    EXPECT_FALSE(r.allocated());
    EXPECT_TRUE(r.create(0, 0));
    r.fill();
    EXPECT_EQ(r.pixelBytes(), 0u);
}

TEST(RasterCore, PixelAtCountsRowsFromTheTop) {
    Raster r(3, 2);
    r.setColour(0x010203);
    r.setPixel(2, 1);  // top row
    EXPECT_EQ(r.pixelAt(2, 0), 0x010203u);
    // Top row is the last buffer row.
    EXPECT_EQ(r.pixels()[(1 * 3 + 2) * 3], 0x03);
    EXPECT_EQ(r.pixelAt(3, 0), 0u);
    EXPECT_EQ(r.pixelAt(-1, 0), 0u);
}

TEST(RasterBlit, TopSourceRowLandsOnTopDestinationRow) {
    Raster src(5, 4), dst(5, 4);
    paintPattern(src);
    dst.blit(0, 0, 0, 0, 5, 4, src);
    EXPECT_EQ(0, std::memcmp(src.pixels(), dst.pixels(), src.pixelBytes()));
    const std::size_t lastRow = 3 * 5 * 3;
    EXPECT_EQ(0, std::memcmp(src.pixels() + lastRow, dst.pixels() + lastRow, 15));
}

TEST(RasterBlit, ClipsAtTheDestinationsRightAndBottomEdges) {
    Raster src(24, 24), dst(144, 76);
    paintPattern(src);
    dst.setColour(0x000001);
    dst.fill();
    dst.blit(130, 60, 0, 0, 24, 24, src);
    // Only 14 columns and 16 rows arrive: the source's top-left 14x16 part.
    for (int y = 0; y < 76; ++y) {
        for (int x = 0; x < 144; ++x) {
            const bool inside = x >= 130 && y >= 60;
            const std::uint32_t expected = inside ? src.pixelAt(x - 130, y - 60) : 0x000001u;
            ASSERT_EQ(dst.pixelAt(x, y), expected) << x << "," << y;
        }
    }
}

TEST(RasterBlit, PositionAtOrBeyondTheEdgeCopiesNothing) {
    Raster src(24, 24), dst(144, 76);
    src.setColour(0xFF0000);
    src.fill();
    std::vector<std::uint8_t> before(dst.pixels(), dst.pixels() + dst.pixelBytes());
    dst.blit(144, 0, 0, 0, 24, 24, src);
    dst.blit(145, 0, 0, 0, 24, 24, src);
    dst.blit(0, 76, 0, 0, 24, 24, src);
    dst.blit(0, 77, 0, 0, 24, 24, src);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), dst.pixels()));
}

TEST(RasterBlit, ClipsTheSourceAndNegativePositions) {
    Raster src(4, 4), dst(10, 10);
    paintPattern(src);
    // Asking for more than the source holds copies only what it has.
    dst.blit(2, 3, 1, 1, 50, 50, src);
    EXPECT_EQ(dst.pixelAt(2, 3), src.pixelAt(1, 1));
    EXPECT_EQ(dst.pixelAt(4, 5), src.pixelAt(3, 3));
    EXPECT_EQ(dst.pixelAt(5, 5), 0u);
    EXPECT_EQ(dst.pixelAt(4, 6), 0u);

    Raster dst2(10, 10);
    dst2.blit(-2, -1, 0, 0, 4, 4, src);  // the source's (2,1) lands on (0,0)
    EXPECT_EQ(dst2.pixelAt(0, 0), src.pixelAt(2, 1));
    EXPECT_EQ(dst2.pixelAt(1, 2), src.pixelAt(3, 3));
    EXPECT_EQ(dst2.pixelAt(2, 0), 0u);

    Raster dst3(10, 10);
    dst3.blit(0, 0, -1, -1, 3, 3, src);  // the source's (0,0) lands on (1,1)
    EXPECT_EQ(dst3.pixelAt(1, 1), src.pixelAt(0, 0));
    EXPECT_EQ(dst3.pixelAt(0, 0), 0u);

    Raster dst4(10, 10);
    dst4.blit(INT_MIN, INT_MIN, INT_MAX, INT_MAX, INT_MAX, INT_MAX, src);
    dst4.blit(0, 0, INT_MIN, 0, INT_MAX, INT_MAX, src);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) ASSERT_EQ(dst4.pixelAt(x, y), 0u);
}

TEST(RasterBlit, RastersWithoutPixelsAreLeftAlone) {
    Raster empty, dst(4, 4), src(4, 4);
    src.setColour(0xFFFFFF);
    src.fill();
    dst.blit(0, 0, 0, 0, 4, 4, empty);
    dst.blitKeyed(0, 0, 0, 0, 4, 4, kTransparentKey, empty);
    EXPECT_EQ(dst.pixelAt(0, 0), 0u);
    empty.blit(0, 0, 0, 0, 4, 4, src);  // must not write through a missing buffer
    EXPECT_FALSE(empty.allocated());
}

TEST(RasterBlit, KeyedCopySkipsExactKeyMatchesOnly) {
    Raster src(3, 1), dst(3, 1);
    dst.setColour(0x00FF00);
    dst.fill();
    std::uint8_t* s = src.pixels();
    const std::uint8_t bytes[9] = {0xFF, 0x00, 0xFF,   // exactly the key 0xFF00FF
                                   0xFE, 0x00, 0xFF,   // one unit off in blue
                                   0xFF, 0x01, 0xFF};  // one unit off in green
    std::memcpy(s, bytes, 9);
    dst.blitKeyed(0, 0, 0, 0, 3, 1, kTransparentKey, src);
    EXPECT_EQ(dst.pixelAt(0, 0), 0x00FF00u);
    EXPECT_EQ(dst.pixelAt(1, 0), 0xFF00FEu);
    EXPECT_EQ(dst.pixelAt(2, 0), 0xFF01FFu);
}

TEST(RasterDisplay, PaddedRowsAlignEachRowToFourBytes) {
    Raster r(5, 2);  // 15-byte rows become 16
    paintPattern(r);
    const std::vector<std::uint8_t> rows = paddedRows(r);
    ASSERT_EQ(rows.size(), 32u);
    EXPECT_EQ(0, std::memcmp(rows.data(), r.pixels(), 15));
    EXPECT_EQ(0, std::memcmp(rows.data() + 16, r.pixels() + 15, 15));
    EXPECT_EQ(rows[15], 0);
    Raster none;
    EXPECT_TRUE(paddedRows(none).empty());
}

}  // namespace
}  // namespace qel

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "imaging/Bytes.h"
#include "imaging/Raster.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"

namespace qel {
namespace {

std::uint32_t greyOf(std::uint32_t colour) {
    Raster r(1, 1);
    r.setColour(colour);
    r.fill();
    r.toGray();
    return r.pixelAt(0, 0);
}

TEST(RasterFilters, GreyWeightsTruncateAfterDoubleArithmetic) {
    EXPECT_EQ(greyOf(0xFF0000), 0x4C4C4Cu);  // red 255 -> 76 (76.5 truncated)
    EXPECT_EQ(greyOf(0x00FF00), 0x969696u);  // green 255 -> 150
    EXPECT_EQ(greyOf(0x0000FF), 0x1C1C1Cu);  // blue 255 -> 28
    EXPECT_EQ(greyOf(0xFFFFFF), 0xFFFFFFu);
    EXPECT_EQ(greyOf(0x646464), 0x646464u);  // 100 stays 100
    // The weighted sum of these lands just below the whole number.
    EXPECT_EQ(greyOf(0x010101), 0x000000u);
    EXPECT_EQ(greyOf(0x0A0A0A), 0x090909u);
}

TEST(RasterFilters, InvertTwiceRestoresThePicture) {
    const testing::Bytes bmp = testing::makeBmp24(7, 5, testing::sampleSpriteColour);
    Raster r;
    ASSERT_TRUE(r.loadFromMemory(bmp.data(), bmp.size()));
    r.invert();
    EXPECT_EQ(r.pixels()[0], static_cast<std::uint8_t>(~bmp[54]));
    r.invert();
    EXPECT_EQ(0, std::memcmp(r.pixels(), bmp.data() + 54, r.pixelBytes()));
}

TEST(RasterFilters, FiltersOnARasterWithoutPixelsDoNothing) {
    Raster r;
    r.toGray();
    r.invert();
    r.setPixel(0, 1);
    EXPECT_FALSE(r.allocated());
}

TEST(RasterColour, RgbComponentsOutOfRangeAreIgnored) {
    Raster r;
    r.setColour(0x123456);
    r.setColourRgb(256, 0, 0);
    EXPECT_EQ(r.colour(), 0x123456u);
    r.setColourRgb(0, -1, 0);
    EXPECT_EQ(r.colour(), 0x123456u);
    r.setColourRgb(255, 128, 0);
    EXPECT_EQ(r.colour(), 0xFF8000u);
}

TEST(RasterColour, SetPixelCountsRowsFromOneAtTheTopAndClips) {
    Raster r(24, 24);
    r.setColour(0xFF8000);
    r.setPixel(0, 1);  // the top row is buffer row 23
    const std::uint8_t* top = r.pixels() + 23 * 24 * 3;
    EXPECT_EQ(top[0], 0x00);
    EXPECT_EQ(top[1], 0x80);
    EXPECT_EQ(top[2], 0xFF);
    r.setPixel(23, 24);  // bottom-right is buffer row 0
    EXPECT_EQ(r.pixels()[23 * 3 + 2], 0xFF);

    std::vector<std::uint8_t> before(r.pixels(), r.pixels() + r.pixelBytes());
    for (auto [x, y] : {std::pair{0, 0}, {24, 1}, {-1, 1}, {0, 25}, {0, -3}}) r.setPixel(x, y);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), r.pixels()));
}

TEST(BmpWriter, WritesAPlain24BitFile) {
    testing::ScopedWorkDir dir;
    Raster r(24, 24);
    r.setColour(0x00FF00);
    r.fill();
    std::ostringstream diag;
    ASSERT_TRUE(r.saveToFile("out.bmp", diag));
    EXPECT_EQ(diag.str(), "");
    const testing::Bytes file = testing::readFile("out.bmp");
    ASSERT_EQ(file.size(), 1782u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(readLe32(&file[2]), 1782u);
    EXPECT_EQ(readLe32(&file[10]), 54u);
    EXPECT_EQ(readLe32(&file[14]), 40u);
    EXPECT_EQ(readLe16(&file[28]), 24);
    EXPECT_EQ(0, std::memcmp(file.data() + 54, r.pixels(), 1728));
}

TEST(BmpWriter, RoundTripAtAnOddWidthKeepsSizeHeaderAndPixels) {
    testing::ScopedWorkDir dir;
    Raster r(25, 3);  // 75-byte rows: no padding may creep in
    for (int y = 1; y <= 3; ++y)
        for (int x = 0; x < 25; ++x) {
            r.setColourRgb(x * 10, y * 60, 255 - x);
            r.setPixel(x, y);
        }
    ASSERT_TRUE(r.saveToFile("odd.bmp"));
    EXPECT_EQ(testing::readFile("odd.bmp").size(), 54u + 25 * 3 * 3);

    Raster back;
    ASSERT_TRUE(back.loadFromFile("odd.bmp"));
    EXPECT_EQ(back.width(), 25);
    EXPECT_EQ(back.height(), 3);
    EXPECT_EQ(0, std::memcmp(back.header(), r.header(), Raster::kInfoHeaderSize));
    EXPECT_EQ(0, std::memcmp(back.pixels(), r.pixels(), r.pixelBytes()));
    // The palette entry after the header holds the first four pixel bytes.
    EXPECT_EQ(0, std::memcmp(back.header() + 40, r.pixels(), 4));
}

TEST(BmpWriter, AnUnconvertedPictureIsWrittenAsWhatItHolds) {
    // A 32-bit load keeps 32 in its header but holds 24-bit black pixels.
    const testing::Bytes bmp = testing::makeBmpOfBitCount(2, 2, 32);
    Raster r;
    ASSERT_TRUE(r.loadFromMemory(bmp.data(), bmp.size()));
    const std::vector<std::uint8_t> file = r.encodeBmp();
    ASSERT_EQ(file.size(), 54u + 12);
    EXPECT_EQ(readLe16(&file[28]), 24);
    Raster back;
    EXPECT_TRUE(back.loadFromMemory(file.data(), file.size()));
}

TEST(BmpWriter, FailureIsReportedAndLeavesAnExistingFileIntact) {
    testing::ScopedWorkDir dir;
    Raster r(2, 2);
    std::ostringstream diag;
    EXPECT_FALSE(r.saveToFile("no-such-dir/out.bmp", diag));
    EXPECT_EQ(diag.str(), "cant create no-such-dir/out.bmp\n");

    testing::writeFile("keep.bmp", {1, 2, 3});
    Raster empty;
    std::ostringstream diag2;
    EXPECT_FALSE(empty.saveToFile("keep.bmp", diag2));
    EXPECT_NE(diag2.str(), "");
    EXPECT_EQ(testing::readFile("keep.bmp"), (testing::Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace qel

// The BMP reader against hostile file images: every refusal leaves the raster
// exactly as it was, and every image it takes is the picture it declares.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Raster.h"
#include "tests/malformed/Cases.h"
#include "tests/malformed/RasterSnapshot.h"

namespace qel::testing {
namespace {

// A raster with a picture in it that no load below could produce.
void prepare(Raster& raster) {
    ASSERT_TRUE(raster.create(3, 2));
    raster.setColour(0x123456);
    raster.fill();
}

void expectRefused(const std::string& name) {
    SCOPED_TRACE(name);
    const Bytes bmp = hostileBmp(name);
    Raster raster;
    prepare(raster);
    const RasterSnapshot before(raster);
    EXPECT_FALSE(raster.loadFromMemory(bmp.data(), bmp.size()));
    EXPECT_TRUE(RasterSnapshot(raster) == before);
}

TEST(MalformedBmp, TruncatedFileHeaderIsRefused) {
    expectRefused("empty");
    expectRefused("cut-in-file-header");
}

TEST(MalformedBmp, TruncatedInfoHeaderIsRefused) {
    expectRefused("cut-in-info-header");
    expectRefused("one-short-of-headers");
}

TEST(MalformedBmp, TruncatedPaletteIsRefused) { expectRefused("cut-in-palette8"); }

TEST(MalformedBmp, PaletteReachingPastTheEndIsRefused) {
    // The pixel data fits in the 58 bytes; the 1024-byte palette does not.
    const Bytes bmp = hostileBmp("palette-past-end8");
    ASSERT_EQ(bmp.size(), 58u);
    expectRefused("palette-past-end8");
}

TEST(MalformedBmp, TruncatedPixelDataIsRefused) {
    expectRefused("headers-only24");
    expectRefused("cut-in-pixels24");
    expectRefused("one-short24");
    expectRefused("one-short16");
    expectRefused("one-short8");
}

TEST(MalformedBmp, WrongSignatureIsRefused) { expectRefused("not-bm"); }

TEST(MalformedBmp, PixelOffsetPastTheEndIsRefused) {
    expectRefused("offset-at-end");
    expectRefused("offset-max");
    expectRefused("offset-one-late");  // the last pixel would reach one byte past
}

TEST(MalformedBmp, ZeroDimensionsAreRefused) {
    expectRefused("width-zero");
    expectRefused("height-zero");
}

TEST(MalformedBmp, NegativeDimensionsAreRefused) {
    expectRefused("width-negative");
    expectRefused("height-negative");  // a top-down picture
    expectRefused("width-min-int");
}

TEST(MalformedBmp, HugeDimensionsAreRefusedBeforeAnyAllocation) {
    expectRefused("one-over-max-pixels");
    expectRefused("dimensions-max-int");
    expectRefused("product-wraps-32-bits");  // 65536 x 65536 is 0 in 32 bits
    expectRefused("max-pixels-without-data");
}

TEST(MalformedBmp, NullBytesAreRefused) {
    Raster raster;
    prepare(raster);
    const RasterSnapshot before(raster);
    EXPECT_FALSE(raster.loadFromMemory(nullptr, 4096));
    EXPECT_TRUE(RasterSnapshot(raster) == before);
}

TEST(MalformedBmp, LyingSizeFieldsAreIgnored) {
    Raster expected;
    const Bytes sprite24 = sampleSprite24();
    ASSERT_TRUE(expected.loadFromMemory(sprite24.data(), sprite24.size()));
    for (const char* name : {"file-size-zero", "file-size-max", "image-size-max"}) {
        SCOPED_TRACE(name);
        const Bytes bmp = hostileBmp(name);
        Raster raster;
        ASSERT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
        EXPECT_EQ(Bytes(raster.pixels(), raster.pixels() + raster.pixelBytes()),
                  Bytes(expected.pixels(), expected.pixels() + expected.pixelBytes()));
    }
    // An 8-bit picture claiming four billion colours still reads 256 entries.
    const Bytes bmp = hostileBmp("colours-used-max8");
    Raster raster;
    ASSERT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
    EXPECT_EQ(raster.pixelAt(0, 0), 0xFF00FFu);
    EXPECT_EQ(raster.pixelAt(12, 12), 0xFFF2A0u);
    EXPECT_EQ(raster.headerField(Raster::biClrUsed), 0xFFFFFFFFu);
}

TEST(MalformedBmp, UnsupportedBitCountsLoadBlackAtTheirDeclaredSize) {
    for (const char* name : {"bits1", "bits4", "bits32", "bits0", "bits15"}) {
        SCOPED_TRACE(name);
        const Bytes bmp = soundBmp(name);
        Raster raster;
        ASSERT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
        EXPECT_EQ(raster.width(), bmp[18]);
        EXPECT_EQ(raster.height(), bmp[22]);
        EXPECT_EQ(raster.bitCount(), bmp[28]);
        EXPECT_EQ(Bytes(raster.pixels(), raster.pixels() + raster.pixelBytes()), Bytes(raster.pixelBytes(), 0));
    }
    // No pixel data is needed, and a bit count no BMP has is kept as well.
    for (const char* name : {"bits32-without-data", "bits-max"}) {
        SCOPED_TRACE(name);
        const Bytes bmp = hostileBmp(name);
        Raster raster;
        ASSERT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
        EXPECT_EQ(raster.width(), 24);
        EXPECT_EQ(raster.bitCount(), name == std::string("bits-max") ? 0xFFFF : 32);
        EXPECT_EQ(raster.pixelAt(23, 23), 0u);
    }
}

TEST(MalformedBmp, UnsupportedBitCountAtTheLimitAllocatesNoMoreThanTheLimit) {
    // 54 bytes may ask for the largest picture there is, and get exactly that.
    const Bytes bmp = hostileBmp("max-pixels-bits1");
    ASSERT_EQ(bmp.size(), 54u);
    Raster raster;
    ASSERT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
    EXPECT_EQ(raster.width(), 4096);
    EXPECT_EQ(raster.height(), 4096);
    EXPECT_EQ(raster.pixelBytes(), Raster::kMaxPixels * 3);
    EXPECT_EQ(raster.pixelAt(4095, 4095), 0u);
}

TEST(MalformedBmp, TrailingBytesAfterThePixelsAreIgnored) {
    const Bytes bmp = soundBmp("exactly-2048");
    Raster raster;
    ASSERT_TRUE(raster.loadFromMemory(bmp.data(), bmp.size()));
    EXPECT_EQ(raster.width(), (2048 - 54) / 3);
    EXPECT_EQ(raster.height(), 1);
    EXPECT_EQ(raster.pixelAt(2, 0), 0x020406u);
}

TEST(MalformedBmp, CheckingGivesTheLoadsVerdictAndSizeOnEveryImage) {
    // qel info and qel extract take the check's word for the load's.
    std::vector<NamedInput> cases = hostileBmps();
    for (NamedInput& sound : soundBmps()) cases.push_back(std::move(sound));
    for (const NamedInput& input : cases) {
        SCOPED_TRACE(input.name);
        const Bytes& bmp = input.bytes;
        Raster raster;
        const bool loaded = raster.loadFromMemory(bmp.empty() ? nullptr : bmp.data(), bmp.size());
        const BmpInfo info = checkBmp(bmp.empty() ? nullptr : bmp.data(), bmp.size());
        ASSERT_EQ(info.accepted, loaded);
        if (!loaded) continue;
        EXPECT_EQ(info.width, raster.width());
        EXPECT_EQ(info.height, raster.height());
        EXPECT_EQ(info.bitCount, bmp[28] | bmp[29] << 8);  // declared, not the 24 of the conversion
    }
}

TEST(MalformedSizes, SizeNoArrayCanHaveIsRefusedBeforeAskingForMemory) {
    // INT_MAX x INT_MAX x 3 bytes fits in a 64-bit size_t but not in any
    // array; asking for it stops the program under the sanitizers and
    // valgrind, which is where this test catches a regression.
    Raster raster(4, 4);
    EXPECT_FALSE(raster.create(INT_MAX, INT_MAX));
    EXPECT_FALSE(raster.allocated());
    EXPECT_TRUE(raster.create(4, 4));
}

}  // namespace
}  // namespace qel::testing

// The demo folder run.sh prepares. The decoder is tested on its own; these
// tests check what the generator makes: sprites that come back as drawn at
// the bit depth their names promise, a damaged file that fails as its note
// says, and a folder written byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "demo/DemoFiles.h"
#include "imaging/Bytes.h"
#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "viewer/Scene.h"

namespace qel {
namespace {

std::map<std::string, std::vector<std::uint8_t>> demoFilesByName() {
    std::map<std::string, std::vector<std::uint8_t>> byName;
    for (demo::DemoFile& file : demo::makeDemoFiles()) byName[file.name] = std::move(file.bytes);
    return byName;
}

DecodeResult decode(const std::vector<std::uint8_t>& packed, Raster& sprite, std::string& diag) {
    std::ostringstream out;
    DecodeResult result = decodePacked(packed.data(), packed.size(), &sprite);
    writeDecodeDiagnostic(out, result);
    diag = out.str();
    return result;
}

// Largest difference of one channel between the sprite and a drawing; the
// key colour must come back exactly so that it stays transparent.
int worstChannelError(const Raster& sprite, std::uint32_t (*drawing)(int, int), int& keyMisses) {
    int worst = 0;
    keyMisses = 0;
    for (int y = 0; y < kSpriteSize; ++y) {
        for (int x = 0; x < kSpriteSize; ++x) {
            const std::uint32_t want = drawing(x, y), got = sprite.pixelAt(x, y);
            if ((want == kTransparentKey) != (got == kTransparentKey)) ++keyMisses;
            for (int shift = 0; shift <= 16; shift += 8) {
                const int d = std::abs(static_cast<int>((want >> shift) & 0xFF) - static_cast<int>((got >> shift) & 0xFF));
                worst = std::max(worst, d);
            }
        }
    }
    return worst;
}

TEST(DemoFiles, SpritesDecodeToTheirDrawingsAndTheBrokenFileDoesNot) {
    const auto files = demoFilesByName();
    struct Case {
        const char* name;
        std::uint32_t (*drawing)(int, int);
        int bitCount;
        int tolerance;  // 16-bit channels have 5 bits
    };
    const Case cases[] = {
        {"star.qel", testing::sampleSpriteColour, 24, 0},
        {"star16.qel", testing::sampleSpriteColour, 16, 4},
        {"star8.qel", testing::sampleSpriteColour, 8, 0},
        {"heart.qel", demo::heartColour, 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(files.count(c.name), 1u);
        Raster sprite;
        std::string diag;
        const DecodeResult result = decode(files.at(c.name), sprite, diag);
        ASSERT_EQ(result.outcome, DecodeOutcome::success) << diag;
        ASSERT_GE(result.payload.size(), 30u);
        EXPECT_EQ(readLe16(&result.payload[28]), c.bitCount);  // the payload's own biBitCount
        int keyMisses = 0;
        EXPECT_LE(worstChannelError(sprite, c.drawing, keyMisses), c.tolerance);
        EXPECT_EQ(keyMisses, 0);
    }

    ASSERT_EQ(files.count("broken.qel"), 1u);
    Raster sprite;
    std::string diag;
    EXPECT_EQ(decode(files.at("broken.qel"), sprite, diag).outcome, DecodeOutcome::inflateFailure);
}

TEST(DemoFiles, DesignsHaveBothShapeAndTransparency) {
    // A drawing that is all key colour, or has none, would make a useless demo.
    for (auto drawing : {testing::sampleSpriteColour, demo::heartColour}) {
        int key = 0;
        for (int y = 0; y < kSpriteSize; ++y)
            for (int x = 0; x < kSpriteSize; ++x) key += drawing(x, y) == kTransparentKey;
        EXPECT_GT(key, kSpriteSize * kSpriteSize / 4);
        EXPECT_LT(key, kSpriteSize * kSpriteSize * 3 / 4);
    }
}

TEST(DemoFiles, WrittenFolderHoldsBackdropAndFilesByteForByte) {
    testing::ScopedWorkDir work;
    std::ostringstream out, diag;
    ASSERT_TRUE(demo::writeDemoFiles("demo", out, diag)) << diag.str();
    EXPECT_TRUE(diag.str().empty());

    // The backdrop covers the whole canvas.
    Raster backdrop;
    ASSERT_TRUE(backdrop.loadFromFile("demo/bg/bg.bmp"));
    EXPECT_EQ(backdrop.width(), kCanvasWidth);
    EXPECT_EQ(backdrop.height(), kCanvasHeight);

    for (const auto& [name, bytes] : demoFilesByName()) {
        EXPECT_EQ(testing::readFile("demo/" + name), bytes) << name;
        EXPECT_NE(out.str().find(name), std::string::npos) << name;
    }

    // Running it again over an existing folder is fine.
    EXPECT_TRUE(demo::writeDemoFiles("demo", out, diag)) << diag.str();
}

TEST(DemoFiles, UnwritableFolderIsReportedNotIgnored) {
    testing::ScopedWorkDir work;
    testing::writeFile("taken", {1, 2, 3});  // a file where the folder should go
    std::ostringstream out, diag;
    EXPECT_FALSE(demo::writeDemoFiles("taken", out, diag));
    EXPECT_NE(diag.str().find("cant create"), std::string::npos);
}

}  // namespace
}  // namespace qel

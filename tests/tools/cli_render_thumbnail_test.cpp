// qel render and qel thumbnail.
#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/Raster.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"
#include "tools/Commands.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

// A 30x26 sprite, larger than the 24x24 the viewer shows: the key colour on
// diagonal bands, otherwise a colour that tells nearby positions apart
// (within the 256 colours of a palette).
std::uint32_t bigSpriteColour(int x, int y) {
    if ((x + y) % 5 == 0) return 0xFF00FF;
    return static_cast<std::uint32_t>(0x200000 + (x % 16) * 0x000800 + (y % 13) * 4);
}

Bytes bigSprite() {
    // 8-bit to stay within the viewer's 2048 bytes: one palette entry per pixel colour used.
    std::vector<std::uint32_t> palette;
    std::vector<std::uint8_t> index(30 * 26);
    for (int y = 0; y < 26; ++y) {
        for (int x = 0; x < 30; ++x) {
            const std::uint32_t colour = bigSpriteColour(x, y);
            std::size_t i = 0;
            while (i < palette.size() && palette[i] != colour) ++i;
            if (i == palette.size()) palette.push_back(colour);
            index[static_cast<std::size_t>(y * 30 + x)] = static_cast<std::uint8_t>(i);
        }
    }
    return makeBmp8(30, 26, palette, [&](int x, int y) { return index[static_cast<std::size_t>(y * 30 + x)]; });
}

// What the viewer's window shows, worked out here from its description.
std::uint32_t expectedCanvas(int x, int y, const std::function<std::uint32_t(int, int)>& backdrop, int backdropWidth,
                             int backdropHeight) {
    const int sx = x - 52, sy = y - 22;
    if (sx >= 0 && sx < 24 && sy >= 0 && sy < 24 && bigSpriteColour(sx, sy) != 0xFF00FF) return bigSpriteColour(sx, sy);
    if (x < backdropWidth && y < backdropHeight) return backdrop(x, y);
    return 0xFFFFFF;
}

TEST(QelRender, DrawsTheSpritesCornerOnWhiteWithoutABackdrop) {
    ScopedWorkDir dir;
    ASSERT_LE(bigSprite().size(), 2048u);
    writePacked("big.qel", bigSprite());
    // A backdrop where the viewer would look for one is not used.
    fs::create_directories("bg");
    writeFile("bg/bg.bmp", makeBmp24(144, 76, [](int, int) { return 0x000000u; }));

    const CliRun run = runCli({"render", "-o", "canvas.bmp", "big.qel"});
    ASSERT_EQ(run.status, 0) << run.err;
    Raster canvas;
    ASSERT_TRUE(canvas.loadFromFile("canvas.bmp"));
    ASSERT_EQ(canvas.width(), 144);
    ASSERT_EQ(canvas.height(), 76);
    const auto white = [](int, int) { return 0xFFFFFFu; };
    for (int y = 0; y < 76; ++y)
        for (int x = 0; x < 144; ++x) ASSERT_EQ(canvas.pixelAt(x, y), expectedCanvas(x, y, white, 144, 76)) << x << "," << y;
}

TEST(QelRender, DrawsOverTheGivenBackdropToBmpAndPng) {
    ScopedWorkDir dir;
    writePacked("big.qel", bigSprite());
    // Smaller than the canvas: white shows where it does not reach.
    writeFile("sky.bmp", makeBmp24(100, 50, sampleBackdropColour));

    ASSERT_EQ(runCli({"render", "big.qel", "-b", "sky.bmp", "-o", "canvas.bmp"}).status, 0);
    ASSERT_EQ(runCli({"render", "--backdrop=sky.bmp", "--output=canvas.PNG", "big.qel"}).status, 0);
    Raster canvas;
    ASSERT_TRUE(canvas.loadFromFile("canvas.bmp"));
    PngPixels png;
    ASSERT_TRUE(readPng("canvas.PNG", png));
    ASSERT_EQ(png.width, 144);
    ASSERT_EQ(png.height, 76);
    EXPECT_FALSE(png.fileHasAlpha);
    for (int y = 0; y < 76; ++y) {
        for (int x = 0; x < 144; ++x) {
            const std::uint32_t expected = expectedCanvas(x, y, sampleBackdropColour, 100, 50);
            ASSERT_EQ(canvas.pixelAt(x, y), expected) << x << "," << y;
            ASSERT_EQ(png.rgbAt(x, y), expected) << x << "," << y;
            ASSERT_EQ(png.alphaAt(x, y), 255);
        }
    }
}

TEST(QelRender, AnUnreadableBackdropOrFileWritesNothing) {
    ScopedWorkDir dir;
    writePacked("big.qel", bigSprite());
    writePacked("text.qel", {'x'});
    writeFile("junk.bmp", {'B', 'M', 1});

    CliRun run = runCli({"render", "-b", "junk.bmp", "-o", "out.bmp", "big.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: junk.bmp: not a picture the viewer can read\n");
    run = runCli({"render", "-b", "nothere.bmp", "-o", "out.bmp", "big.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: nothere.bmp: cannot open\n");
    run = runCli({"render", "-o", "out.bmp", "text.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: text.qel: not a picture\n");
    // What is not a regular file cannot be opened, whatever size it claims.
    fs::create_directories("folder");
    run = runCli({"render", "-b", "folder", "-o", "out.bmp", "big.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: folder: cannot open\n");
    run = runCli({"render", "-b", "/dev/zero", "-o", "out.bmp", "big.qel"});
    EXPECT_EQ(run.err, "qel: /dev/zero: cannot open\n");
    EXPECT_FALSE(fs::exists("out.bmp"));
}

TEST(QelRender, NeedsOneFileAndAnOutput) {
    ScopedWorkDir dir;
    EXPECT_EQ(runCli({"render", "big.qel"}).status, 2);
    EXPECT_EQ(runCli({"render", "-o", "out.bmp"}).status, 2);
    EXPECT_EQ(runCli({"render", "-o", "out.bmp", "a.qel", "b.qel"}).status, 2);
    EXPECT_EQ(runCli({"render", "-o"}).status, 2);
}

TEST(QelThumbnail, EnlargesTheWholePictureWithTransparentKey) {
    ScopedWorkDir dir;
    writePacked("big.qel", bigSprite());
    const CliRun run = runCli({"thumbnail", "-s", "100", "big.qel", "thumb.png"});
    ASSERT_EQ(run.status, 0) << run.err;
    PngPixels png;
    ASSERT_TRUE(readPng("thumb.png", png));
    EXPECT_TRUE(png.fileHasAlpha);
    ASSERT_EQ(png.width, 90);  // 30 x 3; 26 x 3 = 78 also fits
    ASSERT_EQ(png.height, 78);
    for (int y = 0; y < 78; ++y) {
        for (int x = 0; x < 90; ++x) {
            const std::uint32_t source = bigSpriteColour(x / 3, y / 3);
            if (source == 0xFF00FF) {
                ASSERT_EQ(png.alphaAt(x, y), 0) << x << "," << y;
            } else {
                ASSERT_EQ(png.alphaAt(x, y), 255) << x << "," << y;
                ASSERT_EQ(png.rgbAt(x, y), source) << x << "," << y;
            }
        }
    }
}

TEST(QelThumbnail, APictureLargerThanTheSizeIsReducedToFit) {
    ScopedWorkDir dir;
    // A header alone that claims 4096x4096 at 1 bit, which the reader takes
    // as a blank picture of that size: a file manager asking for 128 pixels
    // must not get 4096.
    Bytes claim = starBmp();
    claim.resize(54);
    for (const std::size_t offset : {18u, 22u}) {
        claim[offset] = 0x00;
        claim[offset + 1] = 0x10;
        claim[offset + 2] = claim[offset + 3] = 0;
    }
    claim[28] = 1;
    writePacked("claim.qel", claim);
    for (const int side : {128, 1}) {
        ASSERT_EQ(runCli({"thumbnail", "-s", std::to_string(side), "claim.qel", "t.png"}).status, 0) << side;
        PngPixels png;
        ASSERT_TRUE(readPng("t.png", png));
        EXPECT_EQ(png.width, side);
        EXPECT_EQ(png.height, side);
    }
}

TEST(QelThumbnail, RejectsABadSizeAndReportsABadFile) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    for (const char* size : {"0", "-3", "12px", "", "4097", "99999999999"}) {
        EXPECT_EQ(runCli({"thumbnail", "-s", size, "star.qel", "t.png"}).status, 2) << size;
    }
    EXPECT_EQ(runCli({"thumbnail", "star.qel", "t.png"}).status, 2);
    EXPECT_EQ(runCli({"thumbnail", "-s", "64", "star.qel"}).status, 2);
    EXPECT_FALSE(fs::exists("t.png"));

    const CliRun run = runCli({"thumbnail", "-s", "64", "missing.qel", "t.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: missing.qel: cannot open\n");
    EXPECT_FALSE(fs::exists("t.png"));
}

}  // namespace
}  // namespace qel::testing

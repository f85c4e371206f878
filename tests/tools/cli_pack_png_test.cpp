// qel pack of PNG pictures: every colour type and bit depth, the refusals,
// and the round trip through qel extract --png.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <png.h>

#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kKey = 0xFF00FF;

// The payload of a packed file, which must be a picture the viewer shows,
// and that picture's colours, top row first.
struct Unpacked {
    Bytes payload;
    std::vector<std::uint32_t> colours;
};

Unpacked unpack(const std::string& path) {
    Unpacked unpacked;
    Raster sprite;
    const DecodeResult result = decodePackedFile(path, &sprite);
    EXPECT_EQ(result.outcome, DecodeOutcome::success) << path;
    unpacked.payload = result.payload;
    for (int y = 0; y < sprite.height(); ++y) {
        for (int x = 0; x < sprite.width(); ++x) unpacked.colours.push_back(sprite.pixelAt(x, y));
    }
    return unpacked;
}

struct PngCase {
    const char* name;
    PngSpec spec;
    std::vector<std::uint32_t> expected;  // 2x2, top row first
};

PngSpec spec2x2(int colourType, int bitDepth, std::vector<unsigned> samples) {
    PngSpec spec;
    spec.width = 2;
    spec.height = 2;
    spec.colourType = colourType;
    spec.bitDepth = bitDepth;
    spec.samples = std::move(samples);
    return spec;
}

std::vector<PngCase> everyKindOfPng() {
    std::vector<PngCase> cases;
    cases.push_back({"grey1", spec2x2(PNG_COLOR_TYPE_GRAY, 1, {0, 1, 1, 0}), {0x000000, 0xFFFFFF, 0xFFFFFF, 0x000000}});
    cases.push_back({"grey2", spec2x2(PNG_COLOR_TYPE_GRAY, 2, {0, 1, 2, 3}), {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF}});
    cases.push_back({"grey4", spec2x2(PNG_COLOR_TYPE_GRAY, 4, {0, 5, 10, 15}), {0x000000, 0x555555, 0xAAAAAA, 0xFFFFFF}});
    cases.push_back({"grey8", spec2x2(PNG_COLOR_TYPE_GRAY, 8, {0x00, 0x12, 0x80, 0xFF}), {0x000000, 0x121212, 0x808080, 0xFFFFFF}});
    // Sixteen bits are scaled to eight with rounding: 0x12FF is nearer 0x13.
    cases.push_back({"grey16", spec2x2(PNG_COLOR_TYPE_GRAY, 16, {0x0000, 0x12FF, 0x8080, 0xFFFF}), {0x000000, 0x131313, 0x808080, 0xFFFFFF}});
    cases.push_back({"greyAlpha8", spec2x2(PNG_COLOR_TYPE_GRAY_ALPHA, 8, {0x40, 255, 0x40, 0, 0x80, 255, 0xC0, 0}), {0x404040, kKey, 0x808080, kKey}});
    cases.push_back({"greyAlpha16", spec2x2(PNG_COLOR_TYPE_GRAY_ALPHA, 16, {0x4040, 0xFFFF, 0x4040, 0, 0x8080, 0xFFFF, 0xC0C0, 0}), {0x404040, kKey, 0x808080, kKey}});
    cases.push_back({"rgb8", spec2x2(PNG_COLOR_TYPE_RGB, 8, {0x12, 0x34, 0x56, 0xFF, 0, 0xFF, 0, 0, 0, 0xFE, 0xDC, 0xBA}), {0x123456, kKey, 0x000000, 0xFEDCBA}});
    cases.push_back({"rgb16", spec2x2(PNG_COLOR_TYPE_RGB, 16, {0x1212, 0x3434, 0x5656, 0xFFFF, 0, 0xFFFF, 0, 0, 0, 0x12FF, 0xDCDC, 0xBABA}), {0x123456, kKey, 0x000000, 0x13DCBA}});
    // A fully transparent pixel is the key colour whatever colour it holds.
    cases.push_back({"rgba8", spec2x2(PNG_COLOR_TYPE_RGB_ALPHA, 8, {0x12, 0x34, 0x56, 255, 1, 2, 3, 0, 0xFF, 0, 0xFF, 255, 0, 0, 0, 0}), {0x123456, kKey, kKey, kKey}});
    cases.push_back({"rgba16", spec2x2(PNG_COLOR_TYPE_RGB_ALPHA, 16, {0x1212, 0x3434, 0x5656, 0xFFFF, 1, 2, 3, 0, 0, 0, 0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}), {0x123456, kKey, 0x000000, 0xFFFFFF}});
    for (const int depth : {1, 2, 4, 8}) {
        PngCase palette{"palette", spec2x2(PNG_COLOR_TYPE_PALETTE, depth, {0, 1, 1, 0}), {0x102030, 0xA0B0C0, 0xA0B0C0, 0x102030}};
        palette.spec.palette = {0x102030, 0xA0B0C0};
        cases.push_back(palette);
    }
    PngCase paletteAlpha{"paletteAlpha", spec2x2(PNG_COLOR_TYPE_PALETTE, 4, {0, 1, 2, 0}), {kKey, 0x0000FF, 0x00FF00, kKey}};
    paletteAlpha.spec.palette = {0x102030, 0x0000FF, 0x00FF00};
    paletteAlpha.spec.paletteAlpha = {0, 255};  // entries past the list are opaque
    cases.push_back(paletteAlpha);
    PngCase greyKey{"greyKey", spec2x2(PNG_COLOR_TYPE_GRAY, 8, {7, 8, 7, 9}), {kKey, 0x080808, kKey, 0x090909}};
    greyKey.spec.transparentValue = {7};
    cases.push_back(greyKey);
    PngCase rgbKey{"rgbKey", spec2x2(PNG_COLOR_TYPE_RGB, 16, {1, 2, 3, 1, 2, 4, 0xFFFF, 0, 0, 1, 2, 3}), {kKey, 0x000000, 0xFF0000, kKey}};
    rgbKey.spec.transparentValue = {1, 2, 3};
    cases.push_back(rgbKey);
    return cases;
}

TEST(QelPackPng, EveryColourTypeAndBitDepthBecomesA24BitBmp) {
    ScopedWorkDir dir;
    for (const PngCase& c : everyKindOfPng()) {
        const std::string name = std::string(c.name) + "-" + std::to_string(c.spec.bitDepth);
        SCOPED_TRACE(name);
        writeFile(name + ".png", makePng(c.spec));
        const CliRun run = runCli({"pack", name + ".png"});
        ASSERT_EQ(run.status, 0) << run.err;
        const Unpacked unpacked = unpack(name + ".qel");
        EXPECT_EQ(unpacked.colours, c.expected);
        // The plain 24-bit BMP the viewer reads: 54-byte header, rows unpadded.
        ASSERT_EQ(unpacked.payload.size(), 54u + 2 * 2 * 3);
        EXPECT_EQ(unpacked.payload[28], 24);
        EXPECT_EQ(unpacked.payload[10], 54);
    }
}

TEST(QelPackPng, InterlacedPicturesComeOutWhole) {
    ScopedWorkDir dir;
    PngSpec spec;
    spec.width = 11;
    spec.height = 9;
    spec.colourType = PNG_COLOR_TYPE_RGB;
    spec.interlaced = true;
    std::vector<std::uint32_t> expected;
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            const std::uint32_t colour = static_cast<std::uint32_t>(x * 20) << 16 | static_cast<std::uint32_t>(y * 25) << 8 | 0x40;
            expected.push_back(colour);
            spec.samples.insert(spec.samples.end(), {colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF});
        }
    }
    writeFile("laced.png", makePng(spec));
    ASSERT_EQ(runCli({"pack", "laced.png"}).status, 0);
    EXPECT_EQ(unpack("laced.qel").colours, expected);
}

// extract --png, then pack: the same pixels as the original, and for a
// 24-bit original with the plain header the same BMP and the same file.
TEST(QelPackPng, RoundTripThroughExtractPngKeepsThePixels) {
    ScopedWorkDir dir;
    const Bytes eight = makeBmp8(24, 20, {kKey, 0x00FF00, 0x123456, 0xFFFFFF},
                                 [](int x, int y) { return static_cast<std::uint8_t>((x / 3 + y) % 4); });
    const Bytes sixteen = makeBmp16(23, 24, [](int x, int y) {
        return static_cast<std::uint16_t>(x < 4 ? 0x7C1F : (x * 1009 + y * 31) & 0x7FFF);  // 0x7C1F: the key
    });
    const Bytes twentyFour = starBmp();
    fs::create_directories("png");
    fs::create_directories("again");
    for (const auto& [name, bmp] : {std::pair<std::string, Bytes>{"eight", eight}, {"sixteen", sixteen},
                                    {"star", twentyFour}}) {
        SCOPED_TRACE(name);
        writePacked(name + ".qel", bmp);
        ASSERT_EQ(runCli({"extract", "--png", "-o", "png", name + ".qel"}).status, 0);
        const CliRun packedAgain = runCli({"pack", "-o", "again", "png/" + name + ".png"});
        ASSERT_EQ(packedAgain.status, 0) << packedAgain.err;
        const Unpacked original = unpack(name + ".qel");
        const Unpacked repacked = unpack("again/" + name + ".qel");
        EXPECT_EQ(repacked.colours, original.colours);
        EXPECT_EQ(repacked.payload[28], 24);
    }
    EXPECT_EQ(unpack("again/star.qel").payload, twentyFour);
    EXPECT_EQ(readFile("again/star.qel"), readFile("star.qel"));
    // The key colour was in all three and came back as the key colour.
    EXPECT_EQ(unpack("again/eight.qel").colours[0], kKey);
    EXPECT_EQ(unpack("again/sixteen.qel").colours[0], kKey);
}

PngSpec solid(int width, int height) {
    PngSpec spec;
    spec.width = width;
    spec.height = height;
    spec.colourType = PNG_COLOR_TYPE_RGB;
    spec.samples.assign(static_cast<std::size_t>(width * height * 3), 0x5A);
    return spec;
}

TEST(QelPackPng, RefusesEachProblemInOneLineAndPacksTheRest) {
    ScopedWorkDir dir;
    PngSpec halfAlpha = spec2x2(PNG_COLOR_TYPE_RGB_ALPHA, 8, {1, 2, 3, 255, 1, 2, 3, 128, 0, 0, 0, 0, 9, 9, 9, 255});
    writeFile("half.png", makePng(halfAlpha));
    // Sixteen-bit alpha that does not round to 0 or 255 is partly transparent too.
    writeFile("half16.png", makePng(spec2x2(PNG_COLOR_TYPE_GRAY_ALPHA, 16, {1, 0xFFFF, 1, 0x8000, 1, 0, 1, 0})));
    PngSpec paletteHalf = spec2x2(PNG_COLOR_TYPE_PALETTE, 8, {0, 1, 0, 1});
    paletteHalf.palette = {0x111111, 0x222222};
    paletteHalf.paletteAlpha = {255, 100};
    writeFile("palette-half.png", makePng(paletteHalf));
    // The largest picture that fits: 83 x 8 x 3 + 54 = 2046 bytes; one pixel
    // more (35 x 19) needs 2049.
    writeFile("fits.png", makePng(solid(83, 8)));
    writeFile("big.png", makePng(solid(35, 19)));
    // A header that claims a huge picture is refused before any decoding.
    Bytes huge = makePng(solid(1, 1));
    huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x86, huge[19] = 0xA0;  // width 100000
    huge[20] = 0x00, huge[21] = 0x01, huge[22] = 0x86, huge[23] = 0xA0;  // height 100000
    writeFile("huge.png", huge);
    writeFile("text.png", {'n', 'o', 't', ' ', 'a', ' ', 'P', 'N', 'G'});
    Bytes cut = makePng(solid(20, 20));
    cut.resize(cut.size() - 30);
    writeFile("cut.png", cut);
    Bytes damaged = makePng(solid(20, 20));
    damaged[damaged.size() - 20] ^= 0xFF;  // the pixel data's own checksum
    writeFile("damaged.png", damaged);
    Bytes badHeader = makePng(solid(2, 2));
    badHeader[29] ^= 0xFF;  // the header chunk's CRC
    writeFile("bad-header.png", badHeader);

    const CliRun run = runCli({"pack", "half.png", "half16.png", "palette-half.png", "fits.png", "big.png",
                               "huge.png", "text.png", "cut.png", "damaged.png", "bad-header.png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "qel: half.png: has partly transparent pixels; the viewer has only fully transparent ones\n"
              "qel: half16.png: has partly transparent pixels; the viewer has only fully transparent ones\n"
              "qel: palette-half.png: has partly transparent pixels; the viewer has only fully transparent ones\n"
              "qel: big.png: its BMP would be 2049 bytes, larger than 2048\n"
              "qel: huge.png: its BMP would be 30000000054 bytes, larger than 2048\n"
              "qel: text.png: cannot decode PNG: Not a PNG file\n"
              "qel: cut.png: cannot decode PNG: the file ends early\n"
              "qel: damaged.png: cannot decode PNG: IDAT: incorrect data check\n"
              "qel: bad-header.png: cannot decode PNG: IHDR: CRC error\n");
    EXPECT_EQ(unpack("fits.qel").payload.size(), 2046u);
    for (const char* refused : {"half", "half16", "palette-half", "big", "huge", "text", "cut", "damaged", "bad-header"}) {
        EXPECT_FALSE(fs::exists(std::string(refused) + ".qel")) << refused;
    }
}

TEST(QelPackPng, APngIsKnownByItsNameOrItsSignature) {
    ScopedWorkDir dir;
    const Bytes png = makePng(solid(3, 2));
    writeFile("upper.PNG", png);
    writeFile("disguised.bmp", png);
    writeFile("noname", png);
    const CliRun run = runCli({"pack", "upper.PNG", "disguised.bmp", "noname"});
    EXPECT_EQ(run.status, 0) << run.err;
    for (const char* name : {"upper.qel", "disguised.qel", "noname.qel"}) {
        EXPECT_EQ(unpack(name).colours, std::vector<std::uint32_t>(6, 0x5A5A5A)) << name;
    }
}

TEST(QelPackPng, ADirectoryStandsForItsBmpAndPngFiles) {
    ScopedWorkDir dir;
    fs::create_directories("pics");
    fs::create_directories("out");
    fs::create_directories("none");
    writeFile("pics/a.bmp", starBmp());
    writeFile("pics/b.png", makePng(solid(2, 2)));
    writeFile("pics/C.Png", makePng(solid(1, 1)));
    writeFile("pics/notes.txt", {'x'});
    writeFile("none/notes.txt", {'x'});
    const CliRun run = runCli({"pack", "-o", "out", "pics", "none"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: none: no .bmp or .png files in this directory\n");
    EXPECT_EQ(namesIn("out"), (std::vector<std::string>{"C.qel", "a.qel", "b.qel"}));
}

}  // namespace
}  // namespace qel::testing

// qel info and qel pack.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "imaging/Raster.h"
#include "packed/PackedFile.h"
#include "imaging/Bytes.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

Bytes paletted(int width, int height) {
    return makeBmp8(width, height, {0xFF00FF, 0x00FF00, 0x0000FF},
                    [](int x, int y) { return static_cast<std::uint8_t>((x * 3 + y) % 3); });
}

TEST(QelInfo, DescribesEveryPictureByItsOwnHeader) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    writePacked("eight.qel", paletted(30, 20));
    writePacked("sixteen.qel", makeBmp16(24, 24, [](int x, int y) { return static_cast<std::uint16_t>(x * y); }));
    // An unconverted bit count still shows (black), with the count it declares.
    writePacked("wide.qel", makeBmpOfBitCount(5, 3, 32));

    const CliRun run = runCli({"info", "star.qel", "eight.qel", "sixteen.qel", "wide.qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out,
              "star.qel: 24x24, 24-bit, 1782 bytes\n"
              "eight.qel: 30x20, 8-bit, 1678 bytes\n"
              "sixteen.qel: 24x24, 16-bit, 1206 bytes\n"
              "wide.qel: 5x3, 32-bit, 114 bytes\n");
}

TEST(QelInfo, EveryHostileFileGetsTheVerdictOfTheDecodeThatLoadsThePicture) {
    // qel info only checks payloads; its verdict, size and bit count must be
    // those of the viewer's decode, which converts the pixels. Two workers,
    // each going from file to file on one kept result.
    ScopedWorkDir dir;
    std::vector<NamedInput> cases = hostilePackedFiles();
    for (const NamedInput& sound : soundBmps()) cases.push_back({"sound-" + sound.name, packed(sound.bytes)});
    std::vector<std::string> args{"info"};
    std::string expected;
    for (const NamedInput& input : cases) {
        const std::string name = input.name + ".qel";
        writeFile(name, input.bytes);
        args.push_back(name);
        Raster sprite;
        const DecodeResult r = decodePacked(input.bytes.data(), input.bytes.size(), &sprite);
        expected += name + ": ";
        if (r.outcome != DecodeOutcome::success) {
            expected += describeOutcome(r) + "\n";
            continue;
        }
        expected += std::to_string(sprite.width()) + "x" + std::to_string(sprite.height()) + ", " +
                    std::to_string(readLe16(r.payload.data() + 28)) + "-bit, " + std::to_string(r.payload.size()) +
                    " bytes\n";
    }
    EXPECT_EQ(runCli(args, 2).out, expected);
}

TEST(QelInfo, FilesTheViewerWouldNotShowGetItsWordsAndStatusOne) {
    ScopedWorkDir dir;
    Bytes cut = packed(starBmp());
    cut.resize(20);
    writeFile("cut.qel", cut);
    writePacked("text.qel", {'t', 'e', 'x', 't'});
    // Inflates to more than the viewer's 2048-byte buffer.
    writePacked("big.qel", makeBmp24(30, 30, [](int, int) { return 0x102030u; }));
    writePacked("star.qel", starBmp());

    const CliRun run = runCli({"info", "cut.qel", "text.qel", "missing.qel", "big.qel", "star.qel", "x.bmp"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "cut.qel: inflate error -5\n"
              "text.qel: not a picture\n"
              "missing.qel: cannot open\n"
              "big.qel: inflate error -5\n"
              "star.qel: 24x24, 24-bit, 1782 bytes\n"
              "x.bmp: not a .qel file name\n");
    EXPECT_EQ(run.err, "");
}

TEST(QelInfo, WhatIsNotARegularFileCannotBeOpenedAndNothingHangs) {
    ScopedWorkDir dir;
    fs::create_directories("folder.qel/inner.qel");
#ifndef _WIN32
    ASSERT_EQ(::mkfifo("pipe.qel", 0600), 0);  // Windows has none: there it is simply missing
#endif
    writeFile("empty.qel", {});
    const CliRun run = runCli({"info", "folder.qel/inner.qel", "pipe.qel", "empty.qel"});
    EXPECT_EQ(run.status, 1);
    // A directory named on the command line stands for its files: it has none here.
    EXPECT_EQ(run.err, "qel: folder.qel/inner.qel: no .qel files in this directory\n");
    EXPECT_EQ(run.out,
              "pipe.qel: cannot open\n"
              "empty.qel: inflate error -5\n");

    // A listed directory only offers regular files.
    const CliRun listed = runCli({"info", "."});
    EXPECT_EQ(listed.out, native("./empty.qel") + ": inflate error -5\n");

#ifndef _WIN32
    // Nor is a device a file, even under a packed name.
    fs::create_symlink("/dev/zero", "zero.qel");
    EXPECT_EQ(runCli({"info", "zero.qel"}).out, "zero.qel: cannot open\n");
#endif
}

TEST(QelInfo, AFileOfAnySizeIsReadAsFarAsItsStream) {
    // A sound stream followed by more than 16 MiB of other data.
    ScopedWorkDir dir;
    writePacked("big.qel", starBmp());
    fs::resize_file("big.qel", (std::uintmax_t{1} << 24) + 4096);
    const CliRun run = runCli({"info", "big.qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "big.qel: 24x24, 24-bit, 1782 bytes\n");
}

TEST(QelInfo, ListsADirectoryInNameOrderWithManyWorkers) {
    ScopedWorkDir dir;
    fs::create_directories("d");
    std::string expected;
    for (int i = 0; i < 30; ++i) {
        const std::string name = "s" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".qel";
        if (i % 7 == 3) {
            writeFile("d/" + name, {0x78, 0x9C});
            expected += native("d/" + name) + ": inflate error -5\n";
        } else {
            writePacked("d/" + name, makeBmp24(i + 1, 2, [](int, int) { return 0x445566u; }));
            expected += native("d/" + name) + ": " + std::to_string(i + 1) + "x2, 24-bit, " +
                        std::to_string(54 + (i + 1) * 2 * 3) + " bytes\n";
        }
    }
    const CliRun run = runCli({"info", "-j", "3", "d"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expected);
}

TEST(QelPack, PacksWhatTheViewerReadsBackToTheSamePayload) {
    ScopedWorkDir dir;
    const Bytes star = starBmp();
    const Bytes eight = paletted(20, 20);
    writeFile("star.bmp", star);
    writeFile("eight.BMP", eight);

    const CliRun run = runCli({"pack", "star.bmp", "eight.BMP"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const auto& [name, bmp] : {std::pair<std::string, Bytes>{"star.qel", star}, {"eight.qel", eight}}) {
        Raster sprite;
        std::ostringstream diag;
        const DecodeResult result = decodePackedFile(name, &sprite);
        writeDecodeDiagnostic(diag, result);
        EXPECT_EQ(result.outcome, DecodeOutcome::success) << name;
        EXPECT_EQ(result.payload, bmp) << name;
        EXPECT_EQ(diag.str(), "");
    }
    // Best compression: what zlib makes at level 9.
    EXPECT_EQ(readFile("star.qel"), packed(star));

    // And extract gives the original back.
    fs::create_directories("back");
    EXPECT_EQ(runCli({"extract", "-o", "back", "star.qel"}).status, 0);
    EXPECT_EQ(readFile("back/star.bmp"), star);
}

TEST(QelPack, RefusesWhatTheViewerCouldNotShow) {
    ScopedWorkDir dir;
    writeFile("text.bmp", {'h', 'e', 'l', 'l', 'o'});
    writeFile("big.bmp", makeBmp24(30, 30, [](int, int) { return 0u; }));  // 2754 bytes
    Bytes shortData = starBmp();
    shortData.resize(shortData.size() - 1);
    writeFile("short.bmp", shortData);
    writeFile("star.bmp", starBmp());

    const CliRun run = runCli({"pack", "text.bmp", "big.bmp", "short.bmp", "missing.bmp", "star.bmp"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "qel: text.bmp: not a picture the viewer can read\n"
              "qel: big.bmp: larger than 2048 bytes\n"
              "qel: short.bmp: not a picture the viewer can read\n"
              "qel: missing.bmp: cannot open\n");
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"big.bmp", "short.bmp", "star.bmp", "star.qel", "text.bmp"}));
}

TEST(QelPack, KeepsExistingFilesWithoutForce) {
    ScopedWorkDir dir;
    fs::create_directories("out");
    writeFile("star.bmp", starBmp());
    writeFile("out/star.qel", {'o', 'l', 'd'});
    const CliRun kept = runCli({"pack", "-o", "out", "star.bmp"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "qel: star.bmp: " + native("out/star.qel") + " exists (use -f to overwrite)\n");
    EXPECT_EQ(readFile("out/star.qel"), (Bytes{'o', 'l', 'd'}));

    EXPECT_EQ(runCli({"pack", "-f", "-o", "out", "star.bmp"}).status, 0);
    EXPECT_EQ(readFile("out/star.qel"), packed(starBmp()));
}

TEST(QelPack, ADirectoryStandsForItsBmpFiles) {
    ScopedWorkDir dir;
    fs::create_directories("pics");
    fs::create_directories("out");
    writeFile("pics/a.bmp", starBmp());
    writeFile("pics/B.Bmp", paletted(4, 4));
    writeFile("pics/notes.txt", {'x'});
    writePacked("pics/c.qel", starBmp());
    EXPECT_EQ(runCli({"pack", "-o", "out", "pics"}).status, 0);
    EXPECT_EQ(namesIn("out"), (std::vector<std::string>{"B.qel", "a.qel"}));
}

}  // namespace
}  // namespace qel::testing

// qel extract: the viewer's "Extract(BMP)" over many files.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "files/FileIo.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

TEST(QelExtract, WritesThePayloadByteForByteUnderTheBaseName) {
    ScopedWorkDir dir;
    fs::create_directories("in/sub.dir");
    const Bytes star = starBmp();
    writePacked("in/sub.dir/star.qel", star);
    // The extension only has to start with ".qel"; the base name stops at the last dot.
    const Bytes eight = makeBmp8(24, 24, {0xFF00FF, 0x123456}, [](int x, int y) { return (x + y) % 2; });
    writePacked("in/my.sprite.qelx", eight);

    const CliRun run = runCli({"extract", "in/sub.dir/star.qel", "in/my.sprite.qelx"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    // In the working directory, as the viewer does, not beside the input.
    EXPECT_EQ(readFile("star.bmp"), star);
    EXPECT_EQ(readFile("my.sprite.bmp"), eight);
    EXPECT_FALSE(fs::exists("in/sub.dir/star.bmp"));
}

TEST(QelExtract, WritesIntoTheOutputDirectory) {
    ScopedWorkDir dir;
    fs::create_directories("out");
    writePacked("a.qel", starBmp());
    EXPECT_EQ(runCli({"extract", "-o", "out", "a.qel"}).status, 0);
    EXPECT_EQ(readFile("out/a.bmp"), starBmp());
    EXPECT_FALSE(fs::exists("a.bmp"));

    // The other spellings of the option.
    EXPECT_EQ(runCli({"extract", "a.qel", "--output=out", "-f"}).status, 0);
    EXPECT_EQ(runCli({"extract", "-foout", "a.qel"}).status, 0);
    EXPECT_EQ(namesIn("out"), std::vector<std::string>{"a.bmp"});
}

TEST(QelExtract, AnOutputDirectoryThatIsMissingFailsBeforeAnyWork) {
    ScopedWorkDir dir;
    writePacked("a.qel", starBmp());
    const CliRun run = runCli({"extract", "-o", "nowhere", "a.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: nowhere: not a directory\n");
    EXPECT_FALSE(fs::exists("a.bmp"));
}

TEST(QelExtract, WritesPayloadsThatAreNotPicturesAsTheViewerDoes) {
    ScopedWorkDir dir;
    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'B', 'M', 'P'};
    writePacked("text.qel", text);
    const CliRun run = runCli({"extract", "text.qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile("text.bmp"), text);
}

TEST(QelExtract, FailuresUseTheViewersWordsAndTheOtherFilesAreStillDone) {
    ScopedWorkDir dir;
    Bytes truncated = packed(starBmp());
    truncated.resize(truncated.size() / 2);
    writeFile("cut.qel", truncated);
    writeFile("garbage.qel", {'B', 'M', 0, 1, 2, 3});
    writePacked("good.qel", starBmp());
    writePacked("named.txt", starBmp());

    const CliRun run = runCli({"extract", "cut.qel", "missing.qel", "garbage.qel", "named.txt", "good.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "qel: cut.qel: inflate error -5\n"
              "qel: missing.qel: cannot open\n"
              "qel: garbage.qel: inflate error -3\n"
              "qel: named.txt: not a .qel file name\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(readFile("good.bmp"), starBmp());
    EXPECT_FALSE(fs::exists("cut.bmp"));
    EXPECT_FALSE(fs::exists("garbage.bmp"));
    EXPECT_FALSE(fs::exists("named.bmp"));
}

TEST(QelExtract, AnExistingFileIsKeptWithoutForceAndReplacedWithIt) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    writePacked("other.qel", starBmp());
    const Bytes previous = {'o', 'l', 'd'};
    writeFile("star.bmp", previous);

    const CliRun kept = runCli({"extract", "star.qel", "other.qel"});
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "qel: star.qel: star.bmp exists (use -f to overwrite)\n");
    EXPECT_EQ(readFile("star.bmp"), previous);
    EXPECT_EQ(readFile("other.bmp"), starBmp());

    const CliRun replaced = runCli({"extract", "-f", "star.qel"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(readFile("star.bmp"), starBmp());
}

TEST(QelExtract, TheLongestNamesAreWrittenWithAndWithoutForce) {
    // A base name of 240 characters: its ".bmp" fits the file system's
    // 255-byte limit, and so must every step of writing it.
    ScopedWorkDir dir;
    fs::create_directories("out");
    const std::string base(240, 'b');
    writePacked(base + ".qel", starBmp());
    CliRun run = runCli({"extract", "-o", "out", base + ".qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = runCli({"extract", "-f", "-o", "out", base + ".qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = runCli({"extract", "-f", base + ".qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile("out/" + base + ".bmp"), starBmp());
    EXPECT_EQ(readFile(base + ".bmp"), starBmp());
    EXPECT_EQ(namesIn("out"), std::vector<std::string>{base + ".bmp"});

    // pack writes through the same steps.
    const std::string bmpBase(251, 'p');
    writeFile(bmpBase + ".bmp", starBmp());
    run = runCli({"pack", "-f", "-o", "out", bmpBase + ".bmp"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile("out/" + bmpBase + ".qel"), packed(starBmp()));
}

TEST(QelExtract, ADanglingLinkCountsAsExisting) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    std::error_code ec;
    fs::create_symlink("gone.bmp", "star.bmp", ec);
    // Windows lets only some users make links.
    if (ec) GTEST_SKIP() << "cannot make a symbolic link here: " << ec.message();
    EXPECT_EQ(runCli({"extract", "star.qel"}).status, 1);
    EXPECT_TRUE(fs::is_symlink("star.bmp"));
    EXPECT_FALSE(fs::exists("gone.bmp"));
}

#ifndef _WIN32
TEST(QelWriting, EveryCommandReplacesThroughALinkAndKeepsThePermissions) {
    struct Case {
        std::vector<std::string> args;
        std::string link, linkText;  // the output path, a link to kept/real
        fs::perms mode;              // kept/real's before and after
    };
    const Case cases[] = {
        {{"extract", "-f", "star.qel"}, "star.bmp", "kept/real", fs::perms(0640)},
        {{"pack", "-f", "-o", "packed", "in.bmp"}, "packed/in.qel", "../kept/real", fs::perms(0600)},
        {{"render", "-o", "out.bmp", "star.qel"}, "out.bmp", "kept/real", fs::perms(0444)},
        {{"thumbnail", "-s", "16", "star.qel", "out.png"}, "out.png", "kept/real", fs::perms(0755)},
    };
    for (const Case& c : cases) {
        const fs::perms mode = c.mode;
        ScopedWorkDir dir;
        writePacked("star.qel", starBmp());
        writeFile("in.bmp", starBmp());
        fs::create_directories("kept");
        fs::create_directories("packed");
        writeFile("kept/real", {'o'});
        fs::permissions("kept/real", mode);
        fs::create_symlink(c.linkText, c.link);
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
        EXPECT_TRUE(fs::is_symlink(c.link)) << c.args[0];
        EXPECT_GT(fs::file_size("kept/real"), 1u) << c.args[0];
        EXPECT_EQ(fs::status("kept/real").permissions() & fs::perms::all, mode) << c.args[0];
    }
}
#else
TEST(QelWriting, EveryCommandReplacesAndKeepsTheHiddenAndSystemAttributes) {
    const struct {
        std::vector<std::string> args;
        std::string target;
        DWORD attributes;  // the target's before and after
    } cases[] = {
        {{"extract", "-f", "star.qel"}, "star.bmp", FILE_ATTRIBUTE_HIDDEN},
        {{"pack", "-f", "-o", "packed", "in.bmp"}, "packed/in.qel", FILE_ATTRIBUTE_SYSTEM},
        {{"render", "-o", "out.bmp", "star.qel"}, "out.bmp", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {{"thumbnail", "-s", "16", "star.qel", "out.png"}, "out.png", FILE_ATTRIBUTE_HIDDEN},
    };
    for (const auto& c : cases) {
        ScopedWorkDir dir;
        writePacked("star.qel", starBmp());
        writeFile("in.bmp", starBmp());
        fs::create_directories("packed");
        writeFile(c.target, {'o'});
        ASSERT_TRUE(SetFileAttributesA(c.target.c_str(), c.attributes));
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
        EXPECT_GT(fs::file_size(c.target), 1u) << c.args[0];
        EXPECT_EQ(GetFileAttributesA(c.target.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), c.attributes)
            << c.args[0];
    }
}
#endif

TEST(QelWriting, AFailedFlushFailsTheCommandWithItsReason) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    writeFile("in.bmp", starBmp());
    failFlushesForTesting(EIO);
    const CliRun extracted = runCli({"extract", "star.qel"});
    const CliRun packedRun = runCli({"pack", "in.bmp"});
    const CliRun rendered = runCli({"render", "-o", "canvas.bmp", "star.qel"});
    failFlushesForTesting(0);
    EXPECT_EQ(extracted.status, 1);
    EXPECT_EQ(packedRun.status, 1);
#ifndef _WIN32
    EXPECT_EQ(extracted.err, "qel: .: cannot flush: " + describeError(EIO) + "\n");
    EXPECT_EQ(packedRun.err, extracted.err);  // the batch's flush at its end
#else  // flushed file by file
    EXPECT_EQ(extracted.err, "qel: star.qel: cannot write star.bmp: " + describeError(EIO) + "\n");
    EXPECT_EQ(packedRun.err, "qel: in.bmp: cannot write in.qel: " + describeError(EIO) + "\n");
#endif
    EXPECT_EQ(rendered.status, 1);
    EXPECT_EQ(rendered.err, "qel: star.qel: cannot write canvas.bmp: " + describeError(EIO) + "\n");
    EXPECT_FALSE(fs::exists("canvas.bmp"));
}

TEST(QelExtract, AFailedReplacementLeavesTheExistingTargetWholeAndNoLitter) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    // A directory in the way makes the final rename fail after the data was written.
    fs::create_directories("star.bmp/keep");
    writeFile("star.bmp/keep/file", {1, 2, 3});
    const CliRun run = runCli({"extract", "-f", "star.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: star.qel: cannot write star.bmp: Is a directory\n");
    EXPECT_EQ(readFile("star.bmp/keep/file"), (Bytes{1, 2, 3}));
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"star.bmp", "star.qel"}));
}

TEST(QelExtract, PngIsThePictureInRgbaWithTheKeyColourTransparent) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    // A 16-bit picture: the PNG holds the colours the reader converted.
    const Bytes sixteen = makeBmp16(3, 2, [](int x, int y) {
        return static_cast<std::uint16_t>(x == 0 && y == 0 ? 0x7C1F : (x * 10) << 5 | y * 31);
    });
    writePacked("sixteen.qel", sixteen);

    const CliRun run = runCli({"extract", "--png", "star.qel", "sixteen.qel"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(fs::exists("star.bmp"));

    PngPixels png;
    ASSERT_TRUE(readPng("star.png", png));
    EXPECT_TRUE(png.fileHasAlpha);
    ASSERT_EQ(png.width, 24);
    ASSERT_EQ(png.height, 24);
    int transparent = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            const std::uint32_t colour = sampleSpriteColour(x, y);
            if (colour == 0xFF00FF) {
                ++transparent;
                EXPECT_EQ(png.alphaAt(x, y), 0) << x << "," << y;
            } else {
                EXPECT_EQ(png.alphaAt(x, y), 255) << x << "," << y;
                EXPECT_EQ(png.rgbAt(x, y), colour) << x << "," << y;
            }
        }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 24 * 24);

    ASSERT_TRUE(readPng("sixteen.png", png));
    ASSERT_EQ(png.width, 3);
    ASSERT_EQ(png.height, 2);
    EXPECT_EQ(png.alphaAt(0, 0), 0);  // 0x7C1F widens to the key colour
    EXPECT_EQ(png.alphaAt(1, 0), 255);
    EXPECT_EQ(png.rgbAt(1, 0), 0x005200u);  // green 10 of 31 widened: 10 << 3 | 10 >> 2
    EXPECT_EQ(png.rgbAt(2, 1), 0x00A5FFu);  // green 20 and blue 31 of 31
}

TEST(QelExtract, PngNeedsAPicture) {
    ScopedWorkDir dir;
    writePacked("text.qel", {'h', 'i'});
    const CliRun run = runCli({"extract", "--png", "text.qel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: text.qel: not a picture\n");
    EXPECT_FALSE(fs::exists("text.png"));
}

TEST(QelExtract, ADirectoryStandsForItsPackedFilesInNameOrder) {
    ScopedWorkDir dir;
    fs::create_directories("set/nested.qel");  // a directory, not a file: skipped
    fs::create_directories("set/deeper");
    writePacked("set/deeper/hidden.qel", starBmp());  // not recursive
    writePacked("set/b.qel", {'b'});
    writePacked("set/a.qel", {'a'});
    writePacked("set/c.qelz", {'c'});
    writePacked("set/D.QEL", {'d'});  // the viewer's check is case-sensitive
    writePacked("set/e.qel.bak", {'e'});
    writeFile("set/cut.qel", {0x78});

    const CliRun run = runCli({"extract", "set/"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: set/cut.qel: inflate error -5\n");
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"a.bmp", "b.bmp", "c.bmp", "set"}));
    EXPECT_EQ(readFile("c.bmp"), Bytes{'c'});
}

TEST(QelExtract, ADirectoryWithoutPackedFilesIsReported) {
    ScopedWorkDir dir;
    fs::create_directories("empty");
    const CliRun run = runCli({"extract", "empty"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: empty: no .qel files in this directory\n");
}

TEST(QelExtract, FilesWithTheSameBaseNameAreDecidedInInputOrder) {
    ScopedWorkDir dir;
    fs::create_directories("one");
    fs::create_directories("two");
    writePacked("one/x.qel", {'1'});
    writePacked("two/x.qel", {'2'});
    for (int i = 0; i < 40; ++i) writePacked("one/f" + std::to_string(i) + ".qel", {'f'});

    // Many workers, so that a careless split would race on x.bmp.
    const CliRun kept = runCli({"extract", "one/x.qel", "one", "two/x.qel"}, 4);
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(kept.err, "qel: " + native("one/x.qel") + ": x.bmp exists (use -f to overwrite)\n"
                        "qel: two/x.qel: x.bmp exists (use -f to overwrite)\n");
    EXPECT_EQ(readFile("x.bmp"), Bytes{'1'});

    const CliRun forced = runCli({"extract", "-f", "one/x.qel", "one", "two/x.qel"}, 4);
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(readFile("x.bmp"), Bytes{'2'});
}

}  // namespace
}  // namespace qel::testing

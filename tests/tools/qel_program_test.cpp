// The qel program as a shell or a console runs it: streams, exit statuses,
// names outside any 8-bit code page, and (on Linux) a write cut short by the
// file size limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

using ProgramRun = CliRun;

ProgramRun runProgram(const std::string& args) {
    // Split on spaces; the tests that need other arguments pass a list.
    std::vector<std::string> list;
    std::size_t start = 0;
    while (start < args.size()) {
        const std::size_t space = args.find(' ', start);
        const std::size_t end = space == std::string::npos ? args.size() : space;
        if (end > start) list.push_back(args.substr(start, end - start));
        start = end + 1;
    }
    return testing::runProgram(list);
}

TEST(QelProgram, ExitStatusesAndStreams) {
    ScopedWorkDir dir;
    ProgramRun run = runProgram("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: qel"), std::string::npos);
    EXPECT_EQ(run.err, "");

    run = runProgram("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("qel ", 0), 0u);

    run = runProgram("extract --nonsense x.qel");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qel: unrecognized option '--nonsense'\nTry 'qel extract --help' for more information.\n");

    writePacked("good.qel", starBmp());
    run = runProgram("extract good.qel");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile("good.bmp"), starBmp());

    run = runProgram("info good.qel missing.qel");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "good.qel: 24x24, 24-bit, 1782 bytes\nmissing.qel: cannot open\n");
}

TEST(QelProgram, NoProgressLineWhenStandardErrorIsNotATerminal) {
    ScopedWorkDir dir;
    fs::create_directories("many");
    for (int i = 0; i < 60; ++i) writePacked("many/s" + std::to_string(i) + ".qel", {'x'});
    writeFile("many/zz.qel", {1, 2, 3});
    const ProgramRun run = runProgram("extract many");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: " + native("many/zz.qel") + ": inflate error -3\n");
    EXPECT_EQ(namesIn(".").size(), 61u) << ::testing::PrintToString(namesIn("."));  // 60 extracted files and the folder
}

// libpng writes nothing of its own: a broken PNG is one line of qel's, and a
// damaged chunk that does not touch the pixels is no line at all.
TEST(QelProgram, PackingPngsLeavesLibpngSilent) {
    ScopedWorkDir dir;
    PngSpec spec;
    spec.width = 2;
    spec.height = 1;
    spec.colourType = 2;  // RGB
    spec.samples = {1, 2, 3, 4, 5, 6};
    const Bytes png = makePng(spec);
    Bytes cut = png;
    cut.resize(cut.size() - 20);
    writeFile("cut.png", cut);
    // A text chunk with a wrong checksum right after the header.
    Bytes noted(png.begin(), png.begin() + 33);
    const Bytes text = {0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 0xDE, 0xAD, 0xBE, 0xEF};
    noted.insert(noted.end(), text.begin(), text.end());
    noted.insert(noted.end(), png.begin() + 33, png.end());
    writeFile("noted.png", noted);

    const ProgramRun run = runProgram("pack cut.png noted.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "qel: cut.png: cannot decode PNG: the file ends early\n");
    EXPECT_TRUE(fs::exists("noted.qel"));
}

// A name no 8-bit code page holds goes whole through the command line, the
// file calls, a directory listing and the output streams (UTF-8 when they
// are redirected).
TEST(QelProgram, NamesOutsideTheCodePageGoThroughExtractAndPack) {
    ScopedWorkDir dir;
    const std::string name = "\xE6\x98\x9F \xC3\xA9toile \xE2\x98\x86";  // star, "etoile" and a star sign
    writePacked(name + ".qel", starBmp());
    fs::create_directories("out");

    ProgramRun run = testing::runProgram({"extract", "-o", "out", name + ".qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile("out/" + name + ".bmp"), starBmp());
    run = testing::runProgram({"extract", "--png", name + ".qel"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = testing::runProgram({"pack", "-o", "out", name + ".png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFile("out/" + name + ".qel"), readFile(name + ".qel"));

    run = testing::runProgram({"info", name + ".qel", "out"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, name + ".qel: 24x24, 24-bit, 1782 bytes\n" + native("out/" + name + ".qel") +
                           ": 24x24, 24-bit, 1782 bytes\n");
    run = testing::runProgram({"pack", "-o", "out", name + ".png"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: " + name + ".png: " + native("out/" + name + ".qel") + " exists (use -f to overwrite)\n");
}

TEST(QelProgram, TheThumbnailerEntrysCommandLineWorks) {
    ScopedWorkDir dir;
    writePacked("in put.qel", starBmp());
    // As a file manager runs it: Exec=qel thumbnail -s %s %i %o
    const ProgramRun run = testing::runProgram({"thumbnail", "-s", "128", "in put.qel", "out put.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    PngPixels png;
    ASSERT_TRUE(readPng("out put.png", png));
    EXPECT_EQ(png.width, 120);
    EXPECT_EQ(png.height, 120);
}

TEST(QelProgram, LibpngsComplaintsBecomeTheOneLineReport) {
    // A blank picture a million pixels wide: libpng refuses to encode it,
    // and would say so in two lines of its own.
    ScopedWorkDir dir;
    const int width = 1000001;
    writePacked("wide.qel", bmpHeader(width, 1, 1, 54, 54));
    ProgramRun run = runProgram("extract --png wide.qel");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: wide.qel: cannot encode PNG: Invalid IHDR data (Image width exceeds user limit in IHDR)\n");
    EXPECT_EQ(namesIn("."), std::vector<std::string>{"wide.qel"});
    // A thumbnail of it fits the size asked for, so libpng takes it.
    run = runProgram("thumbnail -s 16 wide.qel wide.png");
    EXPECT_EQ(run.status, 0) << run.err;
    PngPixels png;
    ASSERT_TRUE(readPng("wide.png", png));
    EXPECT_EQ(png.width, 16);
    EXPECT_EQ(png.height, 1);
}

#ifndef _WIN32
// Runs "qel ARGS" through the shell after a shell prefix, with the streams
// captured as runProgram does.
ProgramRun runInShell(const std::string& args, const std::string& prefix, const std::string& stdoutTo = "qel.out") {
    const std::string command = prefix + "'" QEL_PROGRAM "' " + args + " </dev/null >" + stdoutTo + " 2>qel.err";
    const int raw = std::system(command.c_str());
    ProgramRun run;
    if (raw != -1 && WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    const Bytes out = readFile("qel.out");
    const Bytes err = readFile("qel.err");
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    fs::remove("qel.out");
    fs::remove("qel.err");
    return run;
}

TEST(QelProgram, AWriteCutShortKeepsTheExistingFileWhole) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());  // a 1782-byte payload
    const Bytes previous(900, 0x5A);
    writeFile("star.bmp", previous);
    // A file size limit of 1 block (at most 1024 bytes) lets the write start
    // and fails it part way.
    const ProgramRun run = runInShell("extract -f star.qel", "ulimit -f 1 && ");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: star.qel: cannot write star.bmp: File too large\n");
    EXPECT_EQ(readFile("star.bmp"), previous);
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"star.bmp", "star.qel"}));

    // A new file cut short leaves no file, whole or partial, and no litter.
    fs::create_directories("out");
    const ProgramRun fresh = runInShell("extract -o out star.qel", "ulimit -f 1 && ");
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(fresh.err, "qel: star.qel: cannot write out/star.bmp: File too large\n");
    EXPECT_TRUE(fs::is_empty("out"));
}

TEST(QelProgram, AnOutputThatCannotBeWrittenIsAnError) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    for (const char* args : {"info star.qel", "--help", "extract --help"}) {
        const ProgramRun run = runInShell(args, "", "/dev/full");
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_EQ(run.err, "qel: write error: No space left on device\n") << args;
    }
}

#endif

}  // namespace
}  // namespace qel::testing

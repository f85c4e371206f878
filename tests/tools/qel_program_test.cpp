// The qel program as a shell runs it: streams, exit statuses, and a write cut
// short by the file size limit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <sys/wait.h>

#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs "qel ARGS" through the shell, after an optional shell prefix, with
// standard input empty and both output streams captured in files (not a
// terminal), or standard output sent to stdoutTo.
ProgramRun runProgram(const std::string& args, const std::string& prefix = std::string(),
                      const std::string& stdoutTo = "qel.out") {
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
    EXPECT_EQ(run.err, "qel: many/zz.qel: inflate error -3\n");
    EXPECT_EQ(namesIn(".").size(), 61u);  // 60 extracted files and the folder
}

TEST(QelProgram, AWriteCutShortKeepsTheExistingFileWhole) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());  // a 1782-byte payload
    const Bytes previous(900, 0x5A);
    writeFile("star.bmp", previous);
    // A file size limit of 1 block (at most 1024 bytes) lets the write start
    // and fails it part way.
    const ProgramRun run = runProgram("extract -f star.qel", "ulimit -f 1 && ");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: star.qel: cannot write star.bmp: File too large\n");
    EXPECT_EQ(readFile("star.bmp"), previous);
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"star.bmp", "star.qel"}));

    // A new file cut short leaves no file, whole or partial, and no litter.
    fs::create_directories("out");
    const ProgramRun fresh = runProgram("extract -o out star.qel", "ulimit -f 1 && ");
    EXPECT_EQ(fresh.status, 1);
    EXPECT_EQ(fresh.err, "qel: star.qel: cannot write out/star.bmp: File too large\n");
    EXPECT_TRUE(fs::is_empty("out"));
}

TEST(QelProgram, AnOutputThatCannotBeWrittenIsAnError) {
    ScopedWorkDir dir;
    writePacked("star.qel", starBmp());
    for (const char* args : {"info star.qel", "--help", "extract --help"}) {
        const ProgramRun run = runProgram(args, "", "/dev/full");
        EXPECT_EQ(run.status, 1) << args;
        EXPECT_EQ(run.err, "qel: write error: No space left on device\n") << args;
    }
}

TEST(QelProgram, LibpngsComplaintsBecomeTheOneLineReport) {
    // A blank picture a million pixels wide: libpng refuses to encode it,
    // and would say so in two lines of its own.
    ScopedWorkDir dir;
    const int width = 1000001;
    writePacked("wide.qel", bmpHeader(width, 1, 1, 54, 54));
    ProgramRun run = runProgram("thumbnail -s 16 wide.qel wide.png");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "qel: wide.qel: cannot encode wide.png: Invalid IHDR data (Image width exceeds user limit in IHDR)\n");
    run = runProgram("extract --png wide.qel");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "qel: wide.qel: cannot encode PNG: Invalid IHDR data (Image width exceeds user limit in IHDR)\n");
    EXPECT_EQ(namesIn("."), std::vector<std::string>{"wide.qel"});
}

TEST(QelProgram, TheThumbnailerEntrysCommandLineWorks) {
    ScopedWorkDir dir;
    writePacked("in put.qel", starBmp());
    // As a file manager runs it: Exec=qel thumbnail -s %s %i %o
    const ProgramRun run = runProgram("thumbnail -s 128 'in put.qel' 'out put.png'");
    EXPECT_EQ(run.status, 0) << run.err;
    PngPixels png;
    ASSERT_TRUE(readPng("out put.png", png));
    EXPECT_EQ(png.width, 120);
    EXPECT_EQ(png.height, 120);
}

}  // namespace
}  // namespace qel::testing

// The command line itself and runs over many files: usage errors, help,
// progress on a terminal, parallel runs that report as a serial one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <sstream>
#include <stdexcept>

#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"
#include "tools/BatchRunner.h"
#include "tools/Cli.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

TEST(QelCommandLine, HelpAndVersionGoToStandardOutput) {
    CliRun run = runCli({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Usage: qel COMMAND", 0), 0u) << run.out;
    for (const char* command : {"extract", "info", "pack", "render", "thumbnail"}) {
        EXPECT_NE(run.out.find(command), std::string::npos) << command;
        const CliRun commandHelp = runCli({command, "--help"});
        EXPECT_EQ(commandHelp.status, 0);
        EXPECT_EQ(commandHelp.out.rfind(std::string("Usage: qel ") + command, 0), 0u) << commandHelp.out;
    }
    run = runCli({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("qel ", 0), 0u);
    EXPECT_EQ(run.out.back(), '\n');

    // Shortened as every long option may be.
    EXPECT_EQ(runCli({"--he"}).out, runCli({"--help"}).out);
    EXPECT_EQ(runCli({"--vers"}).out, run.out);
    const CliRun shortHelp = runCli({"extract", "--hel"});
    EXPECT_EQ(shortHelp.status, 0) << shortHelp.err;
    EXPECT_EQ(shortHelp.out, runCli({"extract", "--help"}).out);
    EXPECT_EQ(runCli({"info", "--h", "x.qel"}).out.rfind("Usage: qel info", 0), 0u);
    EXPECT_EQ(runCli({"--helpful"}).status, 2);
}

std::vector<std::string> makeMixedSet(int count) {
    fs::create_directories("in");
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "in/f%03d.qel", i);
        if (i % 9 == 4) {
            writeFile(name, {0x78, 0x01, 0x07});  // a reserved block type
        } else {
            writePacked(name, makeBmp24(1 + i % 24, 1 + i % 5, [i](int x, int y) {
                return static_cast<std::uint32_t>(i * 977 + x * 31 + y);
            }));
        }
        args.emplace_back(name);
    }
    return args;
}

TEST(QelBatch, ParallelRunsReportExactlyAsASerialRun) {
    ScopedWorkDir dir;
    const std::vector<std::string> files = makeMixedSet(120);
    std::vector<std::string> info = {"info"};
    info.insert(info.end(), files.begin(), files.end());
    const CliRun serial = runCli(info, 1);
    const CliRun parallel = runCli(info, 3);
    EXPECT_EQ(serial.status, 1);
    EXPECT_EQ(parallel.status, 1);
    EXPECT_EQ(parallel.out, serial.out);
    EXPECT_EQ(std::count(serial.out.begin(), serial.out.end(), '\n'), 120);

    fs::create_directories("one");
    fs::create_directories("many");
    const CliRun serialExtract = runCli({"extract", "-o", "one", "in"}, 1);
    const CliRun parallelExtract = runCli({"extract", "-o", "many", "in"}, 3);
    EXPECT_EQ(serialExtract.status, 1);
    EXPECT_EQ(parallelExtract.err, serialExtract.err);
    EXPECT_EQ(std::count(serialExtract.err.begin(), serialExtract.err.end(), '\n'), 13);  // 4, 13, ..., 112
    EXPECT_EQ(namesIn("many"), namesIn("one"));
    for (const std::string& name : namesIn("one")) EXPECT_EQ(readFile("many/" + name), readFile("one/" + name));

    // And packed back, in parallel as well: one file per picture, the same bytes.
    fs::create_directories("packedOne");
    fs::create_directories("packedMany");
    const CliRun serialPack = runCli({"pack", "-o", "packedOne", "one"}, 1);
    const CliRun parallelPack = runCli({"pack", "-o", "packedMany", "one"}, 3);
    EXPECT_EQ(serialPack.status, 0) << serialPack.err;
    EXPECT_EQ(parallelPack.status, 0) << parallelPack.err;
    EXPECT_EQ(namesIn("packedOne").size(), namesIn("one").size());
    EXPECT_EQ(namesIn("packedMany"), namesIn("packedOne"));
    for (const std::string& name : namesIn("packedOne")) {
        EXPECT_EQ(readFile("packedMany/" + name), readFile("packedOne/" + name));
    }
}

// What a terminal shows for text written to it: a carriage return goes back
// to the start of the line, later text overwrites, trailing blanks vanish.
std::vector<std::string> shownLines(const std::string& text) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (const char c : text) {
        if (c == '\n') {
            lines.emplace_back();
            column = 0;
        } else if (c == '\r') {
            column = 0;
        } else {
            std::string& line = lines.back();
            if (column < line.size()) {
                line[column] = c;
            } else {
                line.push_back(c);
            }
            ++column;
        }
    }
    for (std::string& line : lines) line.erase(line.find_last_not_of(' ') + 1);
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

TEST(QelBatch, ResultsSharingTheTerminalWithTheProgressLineComeOutClean) {
    ScopedWorkDir dir;
    const std::vector<std::string> files = makeMixedSet(120);
    for (const char* command : {"info", "extract"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {command, "-f"};
        if (std::string(command) == "info") args.pop_back();
        args.insert(args.end(), files.begin(), files.end());
        // Both streams on one terminal, as a shell starts it.
        std::ostringstream terminal;
        CliContext context;
        context.defaultJobs = 2;
        context.errIsTerminal = true;
        context.outIsTerminal = true;
        runQel(args, terminal, terminal, context);
        std::ostringstream plain;
        CliContext plainContext;
        plainContext.defaultJobs = 1;
        runQel(args, plain, plain, plainContext);
        EXPECT_NE(terminal.str().find("\r120/120"), std::string::npos);
        EXPECT_EQ(shownLines(terminal.str()), shownLines(plain.str()));
    }
}

TEST(QelBatch, AnExceptionInAWorkerIsThatItemsFailure) {
    // Out of memory in one item, something else in another: the run goes on.
    std::vector<std::string> keys(20);
    const auto work = [](std::size_t i) -> ItemReport {
        if (i == 7) throw std::bad_alloc();
        if (i == 12) throw std::runtime_error("broken");
        ItemReport report;
        report.outLine = "item " + std::to_string(i);
        return report;
    };
    const auto failed = [](std::size_t i, const std::string& why) {
        ItemReport report;
        report.ok = false;
        report.errLine = "item " + std::to_string(i) + ": " + why;
        return report;
    };
    for (const unsigned jobs : {1u, 3u}) {
        std::ostringstream out, err;
        EXPECT_FALSE(runBatch(keys, jobs, work, failed, BatchStreams{out, err, false, false}));
        EXPECT_EQ(err.str(), "qel: item 7: out of memory\nqel: item 12: broken\n");
        const std::string results = out.str();
        EXPECT_EQ(std::count(results.begin(), results.end(), '\n'), 18);
        EXPECT_NE(results.find("item 19\n"), std::string::npos);
    }
}

TEST(QelBatch, ATerminalSeesProgressOnlyForMoreThanFiftyFiles) {
    ScopedWorkDir dir;
    const std::vector<std::string> files = makeMixedSet(51);
    std::vector<std::string> args = {"info"};
    args.insert(args.end(), files.begin(), files.end() - 1);

    EXPECT_EQ(runCli(args, 1, true).err.find('\r'), std::string::npos);  // 50 files
    args.push_back(files.back());
    EXPECT_EQ(runCli(args, 1, false).err.find('\r'), std::string::npos);  // not a terminal

    const CliRun run = runCli(args, 2, true);
    EXPECT_NE(run.err.find("\r51/51"), std::string::npos) << run.err;
    // Wiped at the end, and before each diagnostic line.
    EXPECT_EQ(run.err.substr(run.err.size() - 7), "\r     \r");
    std::vector<std::string> extract = {"extract"};
    extract.insert(extract.end(), files.begin(), files.end());
    const CliRun extracted = runCli(extract, 2, true);
    EXPECT_NE(extracted.err.find(" \rqel: in/f004.qel: inflate error -3\n"), std::string::npos)
        << extracted.err;
}

}  // namespace
}  // namespace qel::testing

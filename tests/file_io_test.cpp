// The file layer: what it reads (regular files only, never waiting, in
// chunks) and how it publishes (whole or not at all, never over an existing
// file unless asked, any name the file system takes, nothing left behind).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/FileIo.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"

#ifndef _WIN32
#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> entriesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().u8string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes numbered(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

class PublishFile : public ::testing::TestWithParam<PublishMethod> {
protected:
    WriteResult publish(const std::string& path, const Bytes& bytes, bool replace) {
        return publishFile(path, bytes.data(), bytes.size(), replace, GetParam());
    }
};

TEST_P(PublishFile, WritesANewFileWhole) {
    ScopedWorkDir dir;
    fs::create_directories("sub");
    const Bytes bytes = numbered(70000);  // more than one write's worth on some systems
    EXPECT_EQ(publish("sub/new.bmp", bytes, false).outcome, WriteOutcome::written);
    EXPECT_EQ(publish("top.bmp", {}, false).outcome, WriteOutcome::written);
    EXPECT_EQ(readFile("sub/new.bmp"), bytes);
    EXPECT_EQ(fs::file_size("top.bmp"), 0u);
    EXPECT_EQ(entriesIn("sub"), std::vector<std::string>{"new.bmp"});
#ifndef _WIN32
    // The usual permissions of a new file, not a temporary's.
    struct stat info;
    ASSERT_EQ(::stat("sub/new.bmp", &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
#endif
}

TEST_P(PublishFile, NeverReplacesAnythingUnlessAsked) {
    ScopedWorkDir dir;
    writeFile("file.bmp", {'o', 'l', 'd'});
    fs::create_directories("folder.bmp");
    std::vector<std::string> taken = {"file.bmp", "folder.bmp"};
#ifndef _WIN32
    fs::create_symlink("nowhere", "link.bmp");
    taken.push_back("link.bmp");
#endif
    for (const std::string& name : taken) {
        const WriteResult result = publish(name, {'n', 'e', 'w'}, false);
        EXPECT_EQ(result.outcome, WriteOutcome::exists) << name;
        EXPECT_EQ(result.errorNumber, EEXIST) << name;
    }
    EXPECT_EQ(readFile("file.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_FALSE(fs::exists("nowhere"));
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(entriesIn("."), taken);

    EXPECT_EQ(publish("file.bmp", {'n', 'e', 'w'}, true).outcome, WriteOutcome::written);
    EXPECT_EQ(readFile("file.bmp"), (Bytes{'n', 'e', 'w'}));
    // A directory cannot be replaced by a file: a failure, not "exists".
    const WriteResult overFolder = publish("folder.bmp", {'x'}, true);
    EXPECT_EQ(overFolder.outcome, WriteOutcome::failed);
    EXPECT_NE(overFolder.errorNumber, 0);
    EXPECT_EQ(entriesIn("."), taken);
}

TEST_P(PublishFile, AMissingDirectoryFailsWithItsReason) {
    ScopedWorkDir dir;
    const WriteResult result = publish("absent/x.bmp", {'x'}, false);
    EXPECT_EQ(result.outcome, WriteOutcome::failed);
    EXPECT_EQ(result.errorNumber, ENOENT);
    EXPECT_EQ(describeError(result.errorNumber), describeError(ENOENT));
    EXPECT_TRUE(fs::is_empty("."));
}

TEST_P(PublishFile, AnyNameTheFileSystemTakesCanBeWrittenAndReplaced) {
    // Temporaries are named apart from the target, so a target name near the
    // file system's 255-byte limit leaves no room to spare and needs none.
    ScopedWorkDir dir;
    fs::create_directories("out");
    const std::string longName = std::string(240, 'n') + ".bmp";
    const std::string wide = "\xe6\x98\x9f \xc3\xa9toile.bmp";  // "星 étoile.bmp" in UTF-8
    for (const std::string& name : {longName, wide}) {
        EXPECT_EQ(publish("out/" + name, {'1'}, false).outcome, WriteOutcome::written) << name;
        EXPECT_EQ(publish("out/" + name, {'2'}, false).outcome, WriteOutcome::exists) << name;
        EXPECT_EQ(publish("out/" + name, {'3'}, true).outcome, WriteOutcome::written) << name;
        EXPECT_EQ(readFile("out/" + name), Bytes{'3'}) << name;
    }
    EXPECT_EQ(entriesIn("out"), (std::vector<std::string>{longName, wide}));

    const OutputDirectory out("out");
    ASSERT_TRUE(out.valid());
    const Bytes bytes = {'4', '5'};
    EXPECT_EQ(out.publish(longName, bytes.data(), bytes.size(), true, GetParam()).outcome, WriteOutcome::written);
    EXPECT_EQ(readFile("out/" + longName), bytes);
    EXPECT_EQ(entriesIn("out").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(BothWays, PublishFile,
                         ::testing::Values(PublishMethod::fastest, PublishMethod::namedTemporary),
                         [](const auto& info) {
                             return info.param == PublishMethod::fastest ? std::string("Fastest")
                                                                         : std::string("NamedTemporary");
                         });

TEST(OutputDirectory, SaysWhyItCannotBeUsed) {
    ScopedWorkDir dir;
    writeFile("plain", {1});
    EXPECT_TRUE(OutputDirectory("").valid());
    EXPECT_EQ(OutputDirectory("absent").errorNumber(), ENOENT);
    EXPECT_EQ(OutputDirectory("plain").errorNumber(), ENOTDIR);
    const OutputDirectory missing("absent");
    const WriteResult result = missing.publish("x.bmp", nullptr, 0, true);
    EXPECT_EQ(result.outcome, WriteOutcome::failed);
    EXPECT_EQ(result.errorNumber, ENOENT);
}

#ifndef _WIN32
TEST_P(PublishFile, AWriteCutShortLeavesTheOldFileAndNothingElse) {
    // A file size limit fails the write part way, as a full disk would.
    ScopedWorkDir dir;
    writeFile("keep.bmp", {'o', 'l', 'd'});
    const Bytes bytes = numbered(5000);
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const WriteResult replaced = publish("keep.bmp", bytes, true);
    const WriteResult fresh = publish("new.bmp", bytes, false);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(replaced.outcome, WriteOutcome::failed);
    EXPECT_EQ(replaced.errorNumber, EFBIG);
    EXPECT_EQ(fresh.outcome, WriteOutcome::failed);
    EXPECT_EQ(fresh.errorNumber, EFBIG);
    EXPECT_EQ(readFile("keep.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(entriesIn("."), std::vector<std::string>{"keep.bmp"});
}
#endif

TEST(InputFile, ReadsRegularFilesInPiecesToTheirEnd) {
    ScopedWorkDir dir;
    const Bytes bytes = numbered(40000);
    writeFile("data", bytes);
    InputFile file;
    ASSERT_TRUE(file.open("data"));
    EXPECT_EQ(file.sizeWhenOpened(), bytes.size());
    Bytes back;
    std::uint8_t piece[kReadChunkSize];
    std::size_t count = 0;
    int reads = 0;
    while (file.read(piece, sizeof piece, count) && count != 0) {
        EXPECT_LE(count, sizeof piece);
        back.insert(back.end(), piece, piece + count);
        ++reads;
    }
    EXPECT_EQ(back, bytes);
    EXPECT_GE(reads, 3);
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.read(piece, sizeof piece, count));
}

TEST(InputFile, TakesRegularFilesOnly) {
    ScopedWorkDir dir;
    fs::create_directories("folder.qel");
    InputFile file;
    EXPECT_FALSE(file.open("folder.qel"));
    EXPECT_FALSE(file.open("missing.qel"));
    EXPECT_FALSE(file.open(""));
    EXPECT_FALSE(file.isOpen());
#ifndef _WIN32
    // A FIFO is refused at once rather than waited on, and devices are not
    // files either, through a link or not.
    ASSERT_EQ(::mkfifo("pipe.qel", 0600), 0);
    EXPECT_FALSE(file.open("pipe.qel"));
    fs::create_symlink("/dev/zero", "zero.qel");
    EXPECT_FALSE(file.open("zero.qel"));
    EXPECT_FALSE(file.open("/dev/null"));
#else
    EXPECT_FALSE(file.open("NUL"));
#endif
}

TEST(ReadWholeFile, ReadsUpToTheLimitAndNoFurther) {
    ScopedWorkDir dir;
    const Bytes bytes = numbered(50000);
    writeFile("data", bytes);
    writeFile("empty", {});
    fs::create_directories("folder");
    Bytes out = {9};
    EXPECT_EQ(readWholeFile("data", bytes.size(), out), ReadStatus::ok);
    EXPECT_EQ(out, bytes);
    EXPECT_EQ(readWholeFile("empty", 0, out), ReadStatus::ok);
    EXPECT_TRUE(out.empty());

    out = {9};
    EXPECT_EQ(readWholeFile("data", bytes.size() - 1, out), ReadStatus::tooLarge);
    EXPECT_EQ(readWholeFile("folder", 100, out), ReadStatus::cannotOpen);
    EXPECT_EQ(readWholeFile("missing", 100, out), ReadStatus::cannotOpen);
    EXPECT_EQ(out, Bytes{9});  // untouched by every failure
}

TEST(MemorySource, HandsOutPiecesOfAtMostTheAskedSize) {
    const Bytes bytes = numbered(10);
    MemorySource source(bytes.data(), bytes.size(), 4);
    std::uint8_t piece[8];
    std::vector<std::size_t> counts;
    Bytes back;
    std::size_t count = 0;
    while (source.read(piece, 3, count) && count != 0) {
        counts.push_back(count);
        back.insert(back.end(), piece, piece + count);
    }
    EXPECT_EQ(counts, (std::vector<std::size_t>{3, 3, 3, 1}));
    EXPECT_EQ(back, bytes);
    MemorySource none(nullptr, 5);
    EXPECT_TRUE(none.read(piece, sizeof piece, count));
    EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace qel::testing

// The file layer: what it reads (regular files only, never waiting, in
// chunks) and how it publishes (whole, never over an existing file unless
// asked, any name the file system takes, nothing left behind).
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "files/FileIo.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"

#ifndef _WIN32
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
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)  // no umask to speak of in the browser's file system
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
    // Temporaries are named apart from the target, so a target name at the
    // file system's 255-byte limit leaves no room to spare and needs none.
    ScopedWorkDir dir;
    const std::string name = std::string(251, 'n') + ".bmp";
    EXPECT_EQ(publish(name, {'1'}, false).outcome, WriteOutcome::written);
    EXPECT_EQ(publish(name, {'2'}, false).outcome, WriteOutcome::exists);
    EXPECT_EQ(publish(name, {'3'}, true).outcome, WriteOutcome::written);
    EXPECT_EQ(readFile(name), Bytes{'3'});
    EXPECT_EQ(entriesIn("."), std::vector<std::string>{name});
}

#ifndef _WIN32
TEST_P(PublishFile, ReplacingThroughLinksWritesWhereTheyLeadAndKeepsThem) {
    // link -> what the link names, relative to the link's own directory;
    // written: where the bytes must land.
    struct Case {
        std::vector<std::pair<std::string, std::string>> links;
        std::string written;
    };
    const Case cases[] = {
        {{{"out.bmp", "real.bmp"}}, "real.bmp"},
        {{{"out.bmp", "sub/mid.bmp"}, {"sub/mid.bmp", "../sub/deep/real.bmp"}}, "sub/deep/real.bmp"},
        {{{"out.bmp", "made.bmp"}}, "made.bmp"},  // dangling: the file it names is made, as cp makes it
    };
    for (const Case& c : cases) {
        ScopedWorkDir dir;
        fs::create_directories("sub/deep");
        writeFile("real.bmp", {'o'});
        writeFile("sub/deep/real.bmp", {'o'});
        for (const auto& link : c.links) fs::create_symlink(link.second, link.first);
        EXPECT_EQ(publish("out.bmp", {'n', 'e', 'w'}, true).outcome, WriteOutcome::written) << c.written;
        EXPECT_EQ(readFile(c.written), (Bytes{'n', 'e', 'w'})) << c.written;
        for (const auto& link : c.links) EXPECT_TRUE(fs::is_symlink(link.first)) << link.first;
        // No temporary left beside the link or the file.
        for (const char* folder : {".", "sub", "sub/deep"}) {
            for (const std::string& name : entriesIn(folder)) EXPECT_NE(name.rfind(".qel", 0), 0u) << name;
        }
    }
}

TEST_P(PublishFile, ALinkThatLeadsNowhereUsableFails) {
    ScopedWorkDir dir;
    fs::create_symlink("loop.bmp", "loop.bmp");
    fs::create_symlink("absent/x.bmp", "lost.bmp");
    EXPECT_EQ(publish("loop.bmp", {'x'}, true).errorNumber, ELOOP);
    EXPECT_EQ(publish("lost.bmp", {'x'}, true).errorNumber, ENOENT);
    EXPECT_EQ(entriesIn("."), (std::vector<std::string>{"loop.bmp", "lost.bmp"}));
}
#endif

// A flush that fails stops the name from being taken; the flush happens
// before the name, or the file would be there with nothing safe in it.
TEST_P(PublishFile, AFailedFlushNamesNothingAndSaysWhy) {
    ScopedWorkDir dir;
    writeFile("old.bmp", {'o'});
    failFlushesForTesting(EIO);
    const WriteResult fresh = publish("new.bmp", {'n'}, false);
    const WriteResult replacing = publish("old.bmp", {'n'}, true);
    failFlushesForTesting(0);
    for (const WriteResult& result : {fresh, replacing}) {
        EXPECT_EQ(result.outcome, WriteOutcome::failed);
        EXPECT_EQ(result.errorNumber, EIO);
    }
    EXPECT_EQ(readFile("old.bmp"), Bytes{'o'});
    EXPECT_EQ(entriesIn("."), std::vector<std::string>{"old.bmp"});
#ifndef _WIN32
    // Only the folder's flush after the naming fails: the file is there, and the caller is told all the same.
    failFlushesForTesting(EIO, 1);
    const WriteResult named = publish("new.bmp", {'n'}, false);
    failFlushesForTesting(0);
    EXPECT_EQ(std::make_pair(named.outcome, named.errorNumber), std::make_pair(WriteOutcome::failed, EIO));
    EXPECT_EQ(readFile("new.bmp"), Bytes{'n'});
#endif
}

INSTANTIATE_TEST_SUITE_P(BothWays, PublishFile,
                         ::testing::Values(PublishMethod::fastest, PublishMethod::namedTemporary),
                         [](const auto& info) {
                             return info.param == PublishMethod::fastest ? std::string("Fastest")
                                                                         : std::string("NamedTemporary");
                         });

TEST(InputFile, TakesRegularFilesOnly) {
    ScopedWorkDir dir;
    fs::create_directories("folder.qel");
    InputFile file;
    EXPECT_FALSE(file.open("folder.qel"));
    EXPECT_FALSE(file.open("missing.qel"));
    EXPECT_FALSE(file.open(""));
    EXPECT_FALSE(file.isOpen());
#ifndef _WIN32
#ifndef __EMSCRIPTEN__  // the browser's file system has no FIFOs
    // A FIFO is refused at once rather than waited on.
    ASSERT_EQ(::mkfifo("pipe.qel", 0600), 0);
    EXPECT_FALSE(file.open("pipe.qel"));
#endif
    // Devices are not files either, through a link or not.
    fs::create_symlink("/dev/null", "null.qel");
    EXPECT_FALSE(file.open("null.qel"));
    EXPECT_FALSE(file.open("/dev/null"));
#else
    EXPECT_FALSE(file.open("NUL"));
#endif
}

TEST(ReadWholeFile, ReadsInChunksUpToTheLimitAndNoFurther) {
    ScopedWorkDir dir;
    const Bytes bytes = numbered(50000);
    writeFile("data", bytes);
    Bytes out = {9};
    EXPECT_EQ(readWholeFile("data", bytes.size() - 1, out), ReadStatus::tooLarge);
    EXPECT_EQ(readWholeFile("missing", 100, out), ReadStatus::cannotOpen);
    EXPECT_EQ(out, Bytes{9});  // untouched by every failure
    EXPECT_EQ(readWholeFile("data", bytes.size(), out), ReadStatus::ok);
    EXPECT_EQ(out, bytes);
}

}  // namespace
}  // namespace qel::testing

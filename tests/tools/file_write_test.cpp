// Publishing output files: whole or not at all, never over an existing one
// unless asked, by both ways of writing.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include <sys/stat.h>

#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"
#include "tools/FileWrite.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

class PublishFile : public ::testing::TestWithParam<PublishMethod> {
protected:
    WriteResult publish(const std::string& path, const Bytes& bytes, bool replace) {
        return publishFile(path, bytes.data(), bytes.size(), replace, GetParam());
    }
};

TEST_P(PublishFile, WritesANewFileWhole) {
    ScopedWorkDir dir;
    fs::create_directories("sub");
    const Bytes bytes = starBmp();
    EXPECT_EQ(publish("sub/new.bmp", bytes, false).outcome, WriteOutcome::written);
    EXPECT_EQ(publish("top.bmp", {}, false).outcome, WriteOutcome::written);
    EXPECT_EQ(readFile("sub/new.bmp"), bytes);
    EXPECT_EQ(fs::file_size("top.bmp"), 0u);
    EXPECT_EQ(namesIn("sub"), std::vector<std::string>{"new.bmp"});
    // The usual permissions of a new file, not a temporary's.
    struct stat info;
    ASSERT_EQ(::stat("sub/new.bmp", &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_P(PublishFile, NeverReplacesAnythingUnlessAsked) {
    ScopedWorkDir dir;
    writeFile("file.bmp", {'o', 'l', 'd'});
    fs::create_symlink("nowhere", "link.bmp");
    fs::create_directories("folder.bmp");
    for (const char* name : {"file.bmp", "link.bmp", "folder.bmp"}) {
        const WriteResult result = publish(name, {'n', 'e', 'w'}, false);
        EXPECT_EQ(result.outcome, WriteOutcome::exists) << name;
        EXPECT_EQ(result.errorNumber, EEXIST) << name;
    }
    EXPECT_EQ(readFile("file.bmp"), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::is_symlink("link.bmp"));
    EXPECT_FALSE(fs::exists("nowhere"));
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"file.bmp", "folder.bmp", "link.bmp"}));

    EXPECT_EQ(publish("file.bmp", {'n', 'e', 'w'}, true).outcome, WriteOutcome::written);
    EXPECT_EQ(readFile("file.bmp"), (Bytes{'n', 'e', 'w'}));
}

TEST_P(PublishFile, AMissingDirectoryFailsWithItsReason) {
    ScopedWorkDir dir;
    const WriteResult result = publish("absent/x.bmp", {'x'}, false);
    EXPECT_EQ(result.outcome, WriteOutcome::failed);
    EXPECT_EQ(result.errorNumber, ENOENT);
    EXPECT_TRUE(fs::is_empty("."));
}

INSTANTIATE_TEST_SUITE_P(BothWays, PublishFile,
                         ::testing::Values(PublishMethod::fastest, PublishMethod::namedTemporary),
                         [](const auto& info) {
                             return info.param == PublishMethod::fastest ? std::string("Fastest")
                                                                         : std::string("NamedTemporary");
                         });

TEST(ReadFileFast, AnswersAsReadWholeFileDoes) {
    ScopedWorkDir dir;
    writeFile("data", {1, 2, 3, 4, 5});
    writeFile("empty", {});
    fs::create_directories("folder");
    for (const char* name : {"data", "empty", "folder", "missing"}) {
        for (const std::uint64_t limit : {std::uint64_t{0}, std::uint64_t{4}, std::uint64_t{5}, std::uint64_t{100}}) {
            std::vector<std::uint8_t> fast, slow;
            const ReadStatus fastStatus = readFileFast(name, limit, fast);
            ReadStatus slowStatus = readWholeFile(name, limit, slow);
            // A directory may open on some systems and then fail to read:
            // either way it cannot be read whole.
            if (std::string(name) == "folder" && slowStatus != ReadStatus::ok) slowStatus = ReadStatus::cannotOpen;
            EXPECT_EQ(fastStatus, slowStatus) << name << " limit " << limit;
            EXPECT_EQ(fast, slow) << name << " limit " << limit;
        }
    }
}

}  // namespace
}  // namespace qel::testing

// Folders, wildcards and output names as each platform's file system sees
// them: long paths, names with no UTF-8 form, names that differ only in case.
#include <gtest/gtest.h>

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#endif

#include "files/FileIo.h"
#include "files/Listing.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/QelTestSupport.h"

namespace qel::testing {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kFoldsCase = true;
#else
constexpr bool kFoldsCase = false;
#endif

// Items writing one file must share a group, or two workers race for it.
TEST(QelOutputNames, NamesTheFileSystemTakesAsOneShareAKey) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"out/X.bmp", "out/x.bmp", kFoldsCase},
        {"\xC3\x89t\xC3\xA9.bmp", "\xC3\xA9T\xC3\x89.bmp", kFoldsCase},  // beyond ASCII
        {"\xC3\x9F.bmp", "SS.bmp", false},  // one unit to one unit, as the file system
        {"a.bmp", "b.bmp", false},
    };
    for (const auto& c : cases) EXPECT_EQ(sameFileKey(c.a) == sameFileKey(c.b), c.same) << c.a << " " << c.b;
}

TEST(QelOutputNames, OneFileUnderTwoSpellingsComesOutAsInASerialRun) {
    ScopedWorkDir dir;
    for (const char* folder : {"a", "b", "out"}) fs::create_directories(folder);
    // Adjacent pairs, so that two workers would write each name at once.
    std::vector<std::string> args = {"extract", "-f", "-j", "2", "-o", "out"};
    for (int i = 0; i < 24; ++i) {
        const std::string n = std::to_string(i);
        writePacked("a/X" + n + ".qel", {'a'});
        writePacked("b/x" + n + ".qel", {'b'});
        args.insert(args.end(), {"a/X" + n + ".qel", "b/x" + n + ".qel"});
    }
    const CliRun run = runProgram(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(namesIn("out").size(), kFoldsCase ? 24u : 48u);
    for (int i = 0; i < 24; ++i) EXPECT_EQ(readFile("out/x" + std::to_string(i) + ".bmp"), Bytes{'b'}) << i;
}

TEST(QelListing, AFolderIsListedWhateverTheLengthOfItsEntriesPaths) {
    ScopedWorkDir dir;
    const std::string folder = std::string(150, 'f') + "/" + std::string(150, 'g');
    const std::string name = std::string(150, 'n') + ".qel";
    fs::create_directories(folder);
    const Bytes bytes = packed(starBmp());
    ASSERT_EQ(publishFile(folder + "/" + name, bytes.data(), bytes.size(), false).outcome, WriteOutcome::written);
    const CliRun run = runCli({"info", folder});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, folder + native("/") + name + ": 24x24, 24-bit, 1782 bytes\n");
#ifdef _WIN32
    // What std::filesystem cannot reach, it cannot remove either.
    DeleteFileW(widePath(folder + "/" + name).c_str());
    RemoveDirectoryW(widePath(folder).c_str());
#endif
}

#ifdef _WIN32
TEST(QelListing, WildcardsMatchTheLastPartInTheFileSystemsCaseRules) {
    ScopedWorkDir dir;
    fs::create_directories("in/sub");
    for (const char* name : {"in/a.qel", "in/ab.qel", "in/\xC3\xA9.qel", "in/sub/s.qel"}) writePacked(name, starBmp());
    writeFile("in/c.txt", {'c'});
    const std::string line = ": 24x24, 24-bit, 1782 bytes\n";
    const struct {
        const char* operand;
        std::string out;
    } cases[] = {
        {"in\\*.qel", "in\\a.qel" + line + "in\\ab.qel" + line + "in\\\xC3\xA9.qel" + line},
        {"in/?.QEL", "in/a.qel" + line + "in/\xC3\xA9.qel" + line},  // one character, two bytes
        {"in\\s*", "in\\sub\\s.qel" + line},  // a folder stands for its files
        {"in\\*b*", "in\\ab.qel" + line + "in\\sub\\s.qel" + line},
        {"in\\none*.qel", "in\\none*.qel: cannot open\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(runCli({"info", c.operand}).out, c.out) << c.operand;
}

TEST(QelListing, ANameWithoutUtf8FormIsReportedAndTheRestDone) {
    ScopedWorkDir dir;
    fs::create_directories("in");
    writePacked("in/ok.qel", starBmp());
    // A lone low and a lone high surrogate around a pair. Where the system
    // refuses such a name (Wine does), the listing is handed it in place of a
    // file's own.
    static const wchar_t* const kOdd = L"a\xDC00\xD83D\xDE00\xD800.qel";
    const HANDLE odd = CreateFileW((L"in\\" + std::wstring(kOdd)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0,
                                   nullptr);
    if (odd != INVALID_HANDLE_VALUE) CloseHandle(odd);
    if (odd == INVALID_HANDLE_VALUE) writePacked("in/a-odd.qel", starBmp());
    setWideNameHook([](std::wstring& name) {
        if (name == L"a-odd.qel") name = kOdd;
    });
    for (const char* operand : {"in", "in\\*"}) {
        const CliRun run = runCli({"info", operand});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "in\\ok.qel: 24x24, 24-bit, 1782 bytes\n") << operand;
        EXPECT_EQ(run.err, "qel: in\\a\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD.qel: the name is not valid "
                           "Unicode (an unpaired surrogate, shown as \xEF\xBF\xBD); rename the file to use it\n")
            << operand;
    }
    setWideNameHook(nullptr);
}
#else
TEST(QelListing, TheShellAloneExpandsWildcards) {
    ScopedWorkDir dir;
    writePacked("a.qel", starBmp());
    EXPECT_EQ(runCli({"info", "*.qel"}).out, "*.qel: cannot open\n");
}
#endif

}  // namespace
}  // namespace qel::testing

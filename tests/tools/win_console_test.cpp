// qel.exe's standard streams: UTF-8 bytes unchanged when redirected, every
// character shown on a console, even where a buffer boundary cuts one.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tools/WinConsole.h"

namespace qel::testing {
namespace {

// Text longer than the stream's buffer, with a three-byte character across
// its 4096-byte boundary (one a console shows in one cell).
std::string longText() {
    std::string text(4095, 'a');
    text += "\xE2\x82\xAC";  // the euro sign, bytes 4095 to 4097
    text += " \xC3\xA9toile\n";
    return text;
}

// Sets a standard handle for the life of the object.
class StandardHandleSwap {
public:
    StandardHandleSwap(DWORD which, HANDLE handle) : which_(which), previous_(GetStdHandle(which)) {
        SetStdHandle(which, handle);
    }
    ~StandardHandleSwap() { SetStdHandle(which_, previous_); }

private:
    DWORD which_;
    HANDLE previous_;
};

TEST(WinConsole, RedirectedOutputIsTheUtf8BytesThemselves) {
    ScopedWorkDir dir;
    HANDLE file = CreateFileW(L"out.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    {
        const StandardHandleSwap swap(STD_OUTPUT_HANDLE, file);
        StandardHandleStream out(STD_OUTPUT_HANDLE);
        EXPECT_FALSE(out.isConsole());
        out << longText() << "second line\n" << std::flush;
        EXPECT_TRUE(out.good());
    }
    CloseHandle(file);
    const Bytes written = readFile("out.txt");
    EXPECT_EQ(std::string(written.begin(), written.end()), longText() + "second line\n");
}

TEST(WinConsole, AFailedWriteFailsTheStream) {
    ScopedWorkDir dir;
    HANDLE file = CreateFileW(L"in.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    // Open for reading only: every write to it fails.
    file = CreateFileW(L"in.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    {
        const StandardHandleSwap swap(STD_ERROR_HANDLE, file);
        StandardHandleStream err(STD_ERROR_HANDLE);
        err << "qel: a line\n" << std::flush;
        EXPECT_TRUE(err.bad());
        EXPECT_NE(err.error(), 0);
    }
    CloseHandle(file);
}

TEST(WinConsole, AConsoleShowsEveryCharacter) {
    // The test's own console, or a new one when it runs without.
    const bool made = GetConsoleWindow() == nullptr && AllocConsole();
    HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) GTEST_SKIP() << "no console here";
    std::string text = longText();
    text.pop_back();  // no line end: the cursor stays right after the text
    {
        const StandardHandleSwap swap(STD_OUTPUT_HANDLE, console);
        StandardHandleStream out(STD_OUTPUT_HANDLE);
        EXPECT_TRUE(out.isConsole());
        out << text << std::flush;
        EXPECT_TRUE(out.good());
    }
    // The last eight cells before the cursor, however the lines wrapped and
    // scrolled.
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_TRUE(GetConsoleScreenBufferInfo(console, &info));
    const DWORD width = static_cast<DWORD>(info.dwSize.X);
    const DWORD cursor = static_cast<DWORD>(info.dwCursorPosition.Y) * width + info.dwCursorPosition.X;
    ASSERT_GE(cursor, 8u);
    const COORD from{static_cast<SHORT>((cursor - 8) % width), static_cast<SHORT>((cursor - 8) / width)};
    wchar_t shown[8] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadConsoleOutputCharacterW(console, shown, 8, from, &read));
    EXPECT_EQ(std::wstring(shown, read), std::wstring(L"\u20ac \u00e9toile"));
    CloseHandle(console);
    if (made) FreeConsole();
}

}  // namespace
}  // namespace qel::testing

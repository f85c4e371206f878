// QelViewer.exe as a process: started, sent one way of ending, and expected
// to end on its own with exit status 0; started with a file on its command
// line, and expected to open it.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/FileIo.h"
#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "tests/win32/Win32TestSupport.h"

#ifndef QEL_VIEWER_EXE_NAME
#error "QEL_VIEWER_EXE_NAME names the viewer program beside this test"
#endif

namespace {

// Wine starts a process in a second or two; these leave room for a slow host.
constexpr DWORD kWindowTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 30000;

// A started program that is ended by force if a test leaves it running.
class Process {
public:
    Process() = default;
    ~Process() {
        if (info_.hProcess) {
            if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
                TerminateProcess(info_.hProcess, 99);
                WaitForSingleObject(info_.hProcess, 5000);
            }
            CloseHandle(info_.hProcess);
        }
        if (info_.hThread) CloseHandle(info_.hThread);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts program (UTF-8 paths) with arguments on its wide command line.
    bool start(const std::string& program, const std::string& workingDirectory,
               const std::vector<std::string>& arguments = {}) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        std::vector<std::wstring> words{qel::utf8ToWide(program)};
        for (const std::string& argument : arguments) words.push_back(qel::utf8ToWide(argument));
        std::wstring commandLine = qel::testing::quotedCommandLine(words);
        return CreateProcessW(words[0].c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              qel::utf8ToWide(workingDirectory).c_str(), &startup, &info_) != FALSE;
    }

    // The viewer's window in this process, once it exists; null on timeout.
    HWND waitForWindow() const {
        const DWORD start = GetTickCount();
        do {
            HWND candidate = nullptr;
            while ((candidate = FindWindowExA(nullptr, candidate, "QelView", nullptr)) != nullptr) {
                DWORD owner = 0;
                GetWindowThreadProcessId(candidate, &owner);
                if (owner == info_.dwProcessId) return candidate;
            }
            Sleep(50);
        } while (GetTickCount() - start < kWindowTimeoutMs);
        return nullptr;
    }

    bool waitForExit(DWORD& status) const {
        if (WaitForSingleObject(info_.hProcess, kExitTimeoutMs) != WAIT_OBJECT_0) return false;
        return GetExitCodeProcess(info_.hProcess, &status) != FALSE;
    }

private:
    PROCESS_INFORMATION info_{};
};

struct Ending {
    const char* name;
    UINT message;
    WPARAM wParam;
};

class ViewerProcessTest : public ::testing::TestWithParam<Ending> {};

TEST_P(ViewerProcessTest, EndsWithStatusZero) {
    const Ending ending = GetParam();
    const std::string program = qel::testing::programDirectory() + QEL_VIEWER_EXE_NAME;
    ASSERT_NE(GetFileAttributesA(program.c_str()), INVALID_FILE_ATTRIBUTES) << program;

    qel::testing::ScopedWorkDir work;
    Process viewer;
    ASSERT_TRUE(viewer.start(program, work.path().string())) << "CreateProcess failed: " << GetLastError();
    HWND window = viewer.waitForWindow();
    ASSERT_NE(window, nullptr) << "no QelView window within " << kWindowTimeoutMs << " ms";

    ASSERT_TRUE(PostMessageA(window, ending.message, ending.wParam, 0));
    DWORD status = 12345;
    ASSERT_TRUE(viewer.waitForExit(status)) << ending.name << " did not end the program";
    EXPECT_EQ(status, 0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, ViewerProcessTest,
                         ::testing::Values(Ending{"Escape", WM_KEYDOWN, VK_ESCAPE},
                                           Ending{"Exit", WM_COMMAND, MAKEWPARAM(8, 0)},
                                           Ending{"Close", WM_CLOSE, 0}),
                         [](const ::testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

// "QelViewer.exe FILE OTHER" as the open verb starts it: FILE's name reaches
// the window whole, spaced or outside the ANSI code page.
TEST(ViewerCommandLine, OpensTheFirstFileSpacedOrNamedOutsideTheCodePage) {
    qel::testing::ScopedWorkDir work;
    std::filesystem::create_directory(work.path() / "My Sprites");
    const qel::testing::Bytes bmp = qel::testing::makeBmp24(24, 24, qel::testing::sampleSpriteColour);
    for (const std::string base : {"star sprite", "\xE6\x98\x9F"}) {  // U+661F
        const std::string file = work.file("My Sprites/" + base + ".qel");
        qel::testing::writeFile(file, qel::packBytes(bmp.data(), bmp.size(), 9));
        Process viewer;
        ASSERT_TRUE(viewer.start(qel::testing::programDirectory() + QEL_VIEWER_EXE_NAME, work.path().string(),
                                 {file, "other.qel"}));
        HWND window = viewer.waitForWindow();
        std::string title;
        for (int i = 0; i < 600 && (title = qel::testing::windowTitle(window)) != base; ++i) Sleep(50);
        EXPECT_EQ(title, base);  // the process is ended when viewer goes
    }
}

}  // namespace

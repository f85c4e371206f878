// QelViewer.exe as a process: started, sent one way of ending, and expected
// to end on its own with exit status 0.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

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

    bool start(const std::string& program, const std::string& workingDirectory) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        std::string commandLine = "\"" + program + "\"";
        return CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              workingDirectory.c_str(), &startup, &info_) != FALSE;
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

}  // namespace

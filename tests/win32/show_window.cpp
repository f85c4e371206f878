// Shows the viewer's window with a sample file dropped on it, for a look by
// eye or a screenshot, then closes it.
//
//   qel_win32_show [milliseconds [backdrop]]
//
// Writes star.qel (and with "backdrop", bg\bg.bmp) into the working
// directory first. The window closes after the given time (10 s by default).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/win32/Win32TestSupport.h"
#include "viewer/win32/ViewerWindowWin32.h"

namespace {

HWND shownWindow = nullptr;

void CALLBACK closeShownWindow(HWND, UINT, UINT_PTR, DWORD) { PostMessageA(shownWindow, WM_CLOSE, 0, 0); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showState) {
    const long requested = std::strtol(commandLine, nullptr, 10);
    const UINT holdMs = requested > 0 ? static_cast<UINT>(requested) : 10000u;
    if (std::strstr(commandLine, "backdrop")) {
        CreateDirectoryA("bg", nullptr);
        qel::testing::writeFile("bg\\bg.bmp", qel::testing::makeBmp24(144, 76, qel::testing::sampleBackdropColour));
    }
    const qel::testing::Bytes bmp = qel::testing::makeBmp24(24, 24, qel::testing::sampleSpriteColour);
    qel::testing::writeFile("star.qel", qel::packBytes(bmp.data(), bmp.size(), 9));

    if (!qel::win32::registerViewerClass(instance)) return 1;
    shownWindow = qel::win32::createViewerWindow(instance);
    if (!shownWindow) return 1;
    ShowWindow(shownWindow, showState);
    UpdateWindow(shownWindow);

    char directory[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, directory);
    HDROP drop = qel::testing::makeDrop({std::string(directory) + "\\star.qel"});
    if (drop) SendMessageA(shownWindow, WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);

    SetTimer(nullptr, 0, holdMs, closeShownWindow);
    return qel::win32::runMessageLoop();
}

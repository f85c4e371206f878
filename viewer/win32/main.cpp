// QelViewer.exe: registers the window class, shows the viewer's window and
// runs its message loop; a file named on the command line is opened as if
// it were dropped once the window shows ("Open" on a .qel file in Explorer
// starts "QelViewer.exe" "FILE"). Everything else lives in the qel_win32
// library.
#include <windows.h>

#include "viewer/win32/ViewerWindowWin32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
    if (!qel::win32::registerViewerClass(instance)) return 0;
    HWND window = qel::win32::createViewerWindow(instance);
    if (!window) return 0;
    ShowWindow(window, showState);
    UpdateWindow(window);
    // The wide command line: the ANSI one passed to WinMain has already lost
    // every character outside the code page.
    qel::win32::openFromCommandLine(window, qel::win32::commandLineArguments(GetCommandLineW()));
    return qel::win32::runMessageLoop();
}

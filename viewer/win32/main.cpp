// QelViewer.exe: registers the window class, shows the viewer's window and
// runs its message loop. Everything else lives in the qel_win32 library.
#include <windows.h>

#include "viewer/win32/ViewerWindowWin32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
    if (!qel::win32::registerViewerClass(instance)) return 0;
    HWND window = qel::win32::createViewerWindow(instance);
    if (!window) return 0;
    ShowWindow(window, showState);
    UpdateWindow(window);
    return qel::win32::runMessageLoop();
}

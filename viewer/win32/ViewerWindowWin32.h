/*
 * The native Windows front end: the "QelView" window class, its window
 * procedure and the ViewerWindow the core drives, kept in a library so that
 * tests can create the real window in their own process.
 *
 * Each window made from the class owns its viewer: the procedure creates it
 * when the window is created (WM_NCCREATE) and deletes it with the window
 * (WM_NCDESTROY). The menu bar and the icon are resources of the executable
 * (resources/win32/QelViewer.rc), which every program linking this library
 * gets compiled in.
 */
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "imaging/Raster.h"

namespace qel::win32 {

// The class and first title, as other programs look them up; the window
// itself is a Unicode window registered under the same name.
constexpr const char* kWindowClassName = "QelView";
constexpr const char* kWindowTitle = "QelViewer";
// The window is fixed in size and fitted to the canvas: its client area,
// below the menu bar, is the canvas at canvasScaleForDpi of the window's
// screen, and WM_DPICHANGED fits it again when that changes. The program's
// manifest declares it aware of each screen's scale, so Windows leaves the
// scaling to it rather than stretching the window as a bitmap.

// Registers the window class with the menu and icon resources of instance.
// False when registration fails (also when the class is already registered).
bool registerViewerClass(HINSTANCE instance);

// Creates the viewer's window (hidden until shown); null on failure.
HWND createViewerWindow(HINSTANCE instance);

// Runs the message loop until WM_QUIT; returns the quit message's wParam.
int runMessageLoop();

// The arguments of a command line after the program's name, split as every
// Windows program splits its own (CommandLineToArgvW: quotes, backslashes)
// and turned into UTF-8, so that spaced paths and names outside the ANSI
// code page come through whole.
std::vector<std::string> commandLineArguments(const wchar_t* commandLine);

// Opens the file a command line names (see qel::fileArgumentIndex) as a drop
// of it would, once the message loop runs: after the window has shown and
// painted, as when a user drops a file. Nothing happens without one.
void openFromCommandLine(HWND window, const std::vector<std::string>& arguments);

LRESULT CALLBACK viewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws the raster with its top-left corner at (x, y) of the device context,
// each pixel a scale x scale block. A raster without pixels draws nothing.
void present(HDC dc, const Raster& raster, int x, int y, int scale = 1);

}  // namespace qel::win32

// Helpers for tests that drive the real viewer window in their own process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qel::testing {

// An HDROP as the shell makes one: DROPFILES followed by the ANSI paths, each
// NUL-terminated, and a final NUL. The window that receives it in
// WM_DROPFILES frees it (DragFinish). Null when memory runs out.
HDROP makeDrop(const std::vector<std::string>& paths);

// Dispatches every waiting message except WM_QUIT, which stays queued for
// takeQuit().
void pumpMessages();

// Removes a posted quit request and returns its exit status, if there is one.
std::optional<int> takeQuit();

// The colour (0x00RRGGBB) at a client position of the window as drawn.
std::uint32_t clientPixel(HWND window, int x, int y);

std::string windowTitle(HWND window);

// The directory of the running test program, with a trailing backslash.
std::string programDirectory();

}  // namespace qel::testing

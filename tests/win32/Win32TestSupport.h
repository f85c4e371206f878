// Helpers for tests that drive the real viewer window in their own process.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace qel::testing {

// An HDROP as the shell makes one: DROPFILES followed by the paths (given in
// UTF-8) in UTF-16, each NUL-terminated, and a final NUL. The window that
// receives it in WM_DROPFILES frees it (DragFinish). Null when memory runs
// out.
HDROP makeDrop(const std::vector<std::string>& paths);

// Dispatches every waiting message except WM_QUIT, which stays queued for
// takeQuit().
void pumpMessages();

// Removes a posted quit request and returns its exit status, if there is one.
std::optional<int> takeQuit();

// The window's title in UTF-8.
std::string windowTitle(HWND window);

// The directory of the running test program, with a trailing backslash.
std::string programDirectory();

// A command line that gives words back unchanged when a program splits it
// (CommandLineToArgvW, the C runtime): each word quoted, backslashes doubled
// only before a quote.
std::wstring quotedCommandLine(const std::vector<std::wstring>& words);

}  // namespace qel::testing

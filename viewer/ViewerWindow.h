// The window as the viewer's core sees it. Each front end implements this on
// its own window system; tests use a recording fake.
#pragma once

#include <string>

namespace qel {

constexpr int kExtractCommand = 40001;  // "Extract(BMP)"
constexpr int kExitCommand = 8;         // "Exit"

class ViewerWindow {
public:
    virtual ~ViewerWindow() = default;
    virtual void setTitle(const std::string& title) = 0;
    // Enables or grays a menu command.
    virtual void setCommandEnabled(int commandId, bool enabled) = 0;
    // Redraws the whole canvas before returning.
    virtual void repaintNow() = 0;
    // Ends the event loop; the program then exits with status.
    virtual void quit(int status) = 0;
    // Makes the window a target for files dragged from the desktop.
    virtual void acceptDrops() = 0;
};

}  // namespace qel

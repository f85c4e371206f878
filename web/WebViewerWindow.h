// The viewer on a web page. The page (page/app.js) owns the DOM; this class
// is the window the core sees: it runs qel::Viewer on files the page puts in
// the module's in-memory file system and hands titles, menu states, frames,
// diagnostics and extracted files back to the page.
#pragma once

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "viewer/Viewer.h"
#include "viewer/ViewerWindow.h"

namespace qel::web {

// The most of a dropped file the page copies into the module: the browser
// need not read a huge file whole. The decoder stops reading where its
// outcome is decided, which for a packed file is a few hundred bytes in.
constexpr std::uint64_t kPageCopyLimit = 16u * 1024u * 1024u;

// A stream buffer that hands each complete line written to it to the page,
// which shows it in the status line and on the console. The core flushes
// after every insertion, also in mid-line, so flushing sends nothing.
class PageLineBuffer : public std::streambuf {
protected:
    int_type overflow(int_type c) override;

private:
    void emitLine();
    std::string line_;
};

class WebViewerWindow : public ViewerWindow {
public:
    WebViewerWindow();

    // Sets up the scene from the working directory (bg/bg.bmp or white)
    // and draws the first frame.
    void start();
    // A file dropped on the page or chosen in its file picker, already
    // copied to path (or missing there when the browser could not read it).
    // cut: the file is larger than the page copies, and the copy holds its
    // first kPageCopyLimit bytes only. The copy is removed afterwards.
    void drop(const std::string& path, bool cut);
    // A click on a menu item.
    void command(int commandId);
    bool ended() const { return ended_; }

    // ViewerWindow
    void setTitle(const std::string& title) override;
    void setCommandEnabled(int commandId, bool enabled) override;
    void repaintNow() override;
    void quit(int status) override;
    void acceptDrops() override;

private:
    void present();
    void offerExtractedFile();

    PageLineBuffer diagBuffer_;
    std::ostream diag_;
    Viewer viewer_;
    std::vector<std::uint8_t> rgba_;  // the frame handed to the page
    bool ended_ = false;
};

}  // namespace qel::web

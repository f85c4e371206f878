#include "web/WebViewerWindow.h"

#include <emscripten/emscripten.h>

#include <cstdio>

#include "files/FileIo.h"
#include "imaging/Picture.h"
#include "packed/PackedFile.h"

namespace {

// The page's side of the window: functions of the `page` object the page
// passes to the module when it creates it (page/app.js).
// clang-format off
EM_JS(void, pageSetTitle, (const char* title), {
    Module.page.setTitle(UTF8ToString(title));
});
EM_JS(void, pageSetCommandEnabled, (int commandId, int enabled), {
    Module.page.setCommandEnabled(commandId, enabled !== 0);
});
EM_JS(void, pagePresent, (const std::uint8_t* rgba, int width, int height), {
    Module.page.present(HEAPU8.slice(rgba, rgba + width * height * 4), width, height);
});
EM_JS(void, pageQuit, (int status), {
    Module.page.quit(status);
});
EM_JS(void, pageAcceptDrops, (), {
    Module.page.acceptDrops();
});
EM_JS(void, pageDiagnostic, (const char* line), {
    Module.page.diagnostic(UTF8ToString(line));
});
EM_JS(void, pageDownload, (const char* name, const std::uint8_t* bytes, int size), {
    Module.page.download(UTF8ToString(name), HEAPU8.slice(bytes, bytes + size));
});
// clang-format on

}  // namespace

namespace qel::web {

PageLineBuffer::int_type PageLineBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (traits_type::to_char_type(c) == '\n') {
        emitLine();
    } else {
        line_.push_back(traits_type::to_char_type(c));
    }
    return c;
}

void PageLineBuffer::emitLine() {
    pageDiagnostic(line_.c_str());
    line_.clear();
}

WebViewerWindow::WebViewerWindow() : diag_(&diagBuffer_), viewer_(*this, diag_) {}

void WebViewerWindow::start() {
    viewer_.initScene();
    present();
}

namespace {

// The page's copy of a dropped file. When the copy was cut, its end is not
// the file's: a decoder that reads that far fails to read the file, rather
// than decide on a file cut short.
class PageCopy final : public ByteSource {
public:
    explicit PageCopy(bool cut) : cut_(cut) {}
    bool open(const std::string& path) { return file_.open(path); }
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& count) override {
        if (!file_.read(buffer, capacity, count)) return false;
        return count != 0 || !cut_;
    }

private:
    InputFile file_;
    bool cut_;
};

}  // namespace

void WebViewerWindow::drop(const std::string& path, bool cut) {
    if (!ended_) {
        PageCopy copy(cut);
        if (copy.open(path)) {
            viewer_.onDropFiles(path, copy);
        } else {
            viewer_.onDropFiles(path);  // nothing there: the core says so
        }
    }
    // The copy was made for this drop only; the payload the core keeps is its own.
    std::remove(path.c_str());
}

void WebViewerWindow::command(int commandId) {
    if (ended_) return;
    viewer_.onCommand(commandId);
    if (commandId == kExtractCommand) offerExtractedFile();
}

void WebViewerWindow::offerExtractedFile() {
    // The core wrote "<base name>.bmp" in the working directory, exactly as
    // the desktop programs do; here the browser's download takes it on to
    // the user, and the in-memory copy goes.
    const std::optional<std::string>& baseName = viewer_.scene().document.baseName;
    if (!baseName) return;
    const std::string name = *baseName + ".bmp";
    std::vector<std::uint8_t> bytes;
    if (readWholeFile(name, kMaxPayloadSize, bytes) != ReadStatus::ok) return;
    std::remove(name.c_str());
    pageDownload(name.c_str(), bytes.data(), static_cast<int>(bytes.size()));
}

void WebViewerWindow::setTitle(const std::string& title) { pageSetTitle(title.c_str()); }

void WebViewerWindow::setCommandEnabled(int commandId, bool enabled) {
    pageSetCommandEnabled(commandId, enabled ? 1 : 0);
}

void WebViewerWindow::repaintNow() { present(); }

void WebViewerWindow::quit(int status) {
    ended_ = true;
    rgba_ = {};
    pageQuit(status);
}

void WebViewerWindow::acceptDrops() { pageAcceptDrops(); }

void WebViewerWindow::present() {
    viewer_.composeScene();
    rgba_ = pictureRgba(viewer_.scene().canvas, KeyPixel::opaque);
    if (rgba_.empty()) return;  // released on Exit: nothing left to show
    pagePresent(rgba_.data(), viewer_.scene().canvas.width(), viewer_.scene().canvas.height());
}

}  // namespace qel::web

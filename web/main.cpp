// The module's entry points, called by the page (page/app.js) once the
// module is loaded. One window per page.
#include <emscripten/emscripten.h>

#include <memory>

#include "packed/PackedFile.h"
#include "web/WebViewerWindow.h"

namespace {
std::unique_ptr<qel::web::WebViewerWindow> window;
}

extern "C" {

// Starts the viewer in the working directory the page prepared.
EMSCRIPTEN_KEEPALIVE void qel_web_start() {
    if (!window) window = std::make_unique<qel::web::WebViewerWindow>();
    window->start();
}

EMSCRIPTEN_KEEPALIVE void qel_web_drop(const char* path) {
    if (window && path) window->drop(path);
}

EMSCRIPTEN_KEEPALIVE void qel_web_command(int commandId) {
    if (window) window->command(commandId);
}

// How many bytes of a dropped file the page copies at most: one more than
// the decoder reads, so that a larger file is still refused as too large
// without the browser reading all of it.
EMSCRIPTEN_KEEPALIVE double qel_web_copy_limit() {
    return static_cast<double>(qel::kMaxPackedFileSize + 1);
}

}  // extern "C"

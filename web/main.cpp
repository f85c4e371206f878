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

// cut: the page copied only the file's first qel_web_copy_limit() bytes.
EMSCRIPTEN_KEEPALIVE void qel_web_drop(const char* path, int cut) {
    if (window && path) window->drop(path, cut != 0);
}

EMSCRIPTEN_KEEPALIVE void qel_web_command(int commandId) {
    if (window) window->command(commandId);
}

// How many bytes of a dropped file the page copies at most.
EMSCRIPTEN_KEEPALIVE double qel_web_copy_limit() { return static_cast<double>(qel::web::kPageCopyLimit); }

}  // extern "C"

// The desktop's outcomes for the browser tests (scripts/test-web.sh).
//
//   qel_web_expectations DIR
//
// Writes the files the tests drop on the web page into DIR (the demo folder
// in DIR/demo, hostile and odd files in DIR/files), then runs the viewer's
// core natively, as the desktop programs do, through the same drops and
// commands, and prints on standard output what each step leaves: title,
// "Extract(BMP)" state, diagnostic lines, the canvas as last painted and
// each extracted file. The browser test replays the steps on the page and
// wants the same at every step. JSON:
//
//   {"runs": [{"name": "...", "backdrop": PATH|null, "steps": [STEP...]}]}
//   STEP: {"do": "start"|"drop"|"pick"|"extract"|"exit", "files": [PATH...],
//          "accepted": bool, "title": "...", "extract": bool,
//          "diag": ["line", ...], "canvas": BASE64 RGB rows top-down | null,
//          "success": bool, "download": "name.bmp", "bytes": BASE64}
//
// Diagnostics name a dropped file by the path the page gives it,
// "/dropped/<file name>".
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "demo/DemoFiles.h"
#include "files/FileIo.h"
#include "packed/PackedFile.h"
#include "tests/malformed/HostileInputs.h"
#include "tests/support/RecordingWindow.h"
#include "tests/support/TestFiles.h"
#include "viewer/Viewer.h"
#include "web/WebViewerWindow.h"

namespace fs = std::filesystem;
using qel::testing::Bytes;

namespace {

std::string base64(const std::uint8_t* data, std::size_t size) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < size; i += 3) {
        const std::uint32_t n = (std::uint32_t{data[i]} << 16) | (i + 1 < size ? data[i + 1] << 8 : 0) |
                                (i + 2 < size ? data[i + 2] : 0);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < size ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < size ? kDigits[n & 63] : '=';
    }
    return out;
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string quotedList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? ", " : "") + quoted(items[i]);
    return out + "]";
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The canvas, top row first, RGB: what the page's canvas must hold.
std::string canvasRgb(const qel::Raster& canvas) {
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const std::uint32_t c = canvas.pixelAt(x, y);
            rgb.push_back(static_cast<std::uint8_t>(c >> 16));
            rgb.push_back(static_cast<std::uint8_t>(c >> 8));
            rgb.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return base64(rgb.data(), rgb.size());
}

// One viewer run natively, step by step, as the page is driven.
class Run {
public:
    Run(const std::string& name, const std::optional<std::string>& backdrop, std::ostream& out)
        : viewer_(window_, diag_), out_(out) {
        window_.title = "QelViewer";
        out_ << "{\"name\": " << quoted(name) << ", \"backdrop\": " << (backdrop ? quoted(*backdrop) : "null")
             << ", \"steps\": [\n";
        viewer_.initScene(backdrop.value_or(std::string()));
        step("start", {}, false);
    }
    ~Run() { out_ << "\n]}"; }

    // A drop (or a file chosen in the picker) of files, the first one counting.
    void drop(const std::vector<std::string>& files, bool picked = false) {
        if (ended_) {
            out_ << ",\n{\"do\": \"drop\", \"files\": " << quotedList(files) << ", \"afterExit\": true}";
            return;
        }
        const std::size_t callsBefore = window_.calls.size();
        viewer_.onDropFiles(files.front());
        bool accepted = false;
        for (std::size_t i = callsBefore; i < window_.calls.size(); ++i) {
            accepted = accepted || window_.calls[i].rfind("title ", 0) == 0;
        }
        step(picked ? "pick" : "drop", files, accepted);
        // The desktop's "Extract(BMP)" wherever it is enabled, so every
        // payload the page could hand out is compared.
        if (viewer_.extractEnabled()) extract();
    }

    void exit() {
        viewer_.onCommand(qel::kExitCommand);
        ended_ = true;
        step("exit", {}, false);
    }

private:
    void extract() {
        viewer_.onCommand(qel::kExtractCommand);
        const std::string name = *viewer_.scene().document.baseName + ".bmp";
        std::vector<std::uint8_t> bytes;
        if (qel::readWholeFile(name, qel::kMaxPayloadSize, bytes) != qel::ReadStatus::ok) {
            std::cerr << "qel_web_expectations: extract wrote no " << name << "\n";
            failed = true;
            return;
        }
        fs::remove(name);
        out_ << ",\n{\"do\": \"extract\", \"download\": " << quoted(name)
             << ", \"bytes\": " << quoted(base64(bytes.data(), bytes.size())) << "}";
    }

    void step(const char* action, const std::vector<std::string>& files, bool accepted) {
        std::string diag = diag_.str();
        diag_.str("");
        if (!files.empty()) {
            const std::string pagePath = "/dropped/" + fs::path(files.front()).filename().string();
            for (std::size_t at; (at = diag.find(files.front())) != std::string::npos;) {
                diag.replace(at, files.front().size(), pagePath);
            }
        }
        // What the window shows: composed at start and whenever the core
        // asks for a repaint, released on Exit.
        if (window_.repaints != paintedAt_ || !started_) {
            viewer_.composeScene();
            canvas_ = viewer_.scene().canvas.allocated() ? quoted(canvasRgb(viewer_.scene().canvas)) : "null";
            paintedAt_ = window_.repaints;
            started_ = true;
        }
        if (ended_) canvas_ = "null";
        out_ << (std::string(action) == "start" ? "" : ",\n") << "{\"do\": " << quoted(action)
             << ", \"files\": " << quotedList(files) << ", \"accepted\": " << (accepted ? "true" : "false")
             << ", \"title\": " << quoted(window_.title)
             << ", \"extract\": " << (viewer_.extractEnabled() ? "true" : "false")
             << ", \"success\": " << (accepted && window_.repaints != repaintsBefore_ ? "true" : "false")
             << ", \"diag\": " << quotedList(linesOf(diag)) << ", \"canvas\": " << canvas_ << "}";
        repaintsBefore_ = window_.repaints;
    }

    qel::testing::RecordingWindow window_;
    std::ostringstream diag_;
    qel::Viewer viewer_;
    std::ostream& out_;
    std::string canvas_ = "null";
    int paintedAt_ = 0;
    int repaintsBefore_ = 0;
    bool started_ = false;
    bool ended_ = false;

public:
    static inline bool failed = false;
};

std::string put(const fs::path& dir, const std::string& name, const Bytes& bytes) {
    const fs::path path = dir / name;
    qel::testing::writeFile(path.string(), bytes);
    return path.string();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: qel_web_expectations DIR\n";
        return 2;
    }
    const fs::path root = fs::absolute(argv[1]);
    const fs::path demo = root / "demo";
    const fs::path files = root / "files";
    fs::create_directories(files);
    std::ostringstream listing;
    if (!qel::demo::writeDemoFiles(demo.string(), listing, std::cerr)) return 1;
    const auto demoFile = [&](const std::string& name) { return (demo / name).string(); };

    const std::string notes = put(files, "notes.txt", Bytes{'n', 'o', 't', ' ', 'p', 'a', 'c', 'k', 'e', 'd'});
    std::ifstream starFile(demoFile("star.qel"), std::ios::binary);
    const Bytes starBytes((std::istreambuf_iterator<char>(starFile)), std::istreambuf_iterator<char>());
    const std::string upperCase = put(files, "star.QEL", starBytes);
    const std::string accented = put(files, "\xC3\xA9toile filante.qel", starBytes);

    std::vector<std::string> hostile;
    for (const auto& input : qel::testing::hostilePackedFiles()) {
        hostile.push_back(put(files, "packed-" + input.name + ".qel", input.bytes));
    }
    for (const auto& input : qel::testing::hostileBmps()) {
        hostile.push_back(put(files, "picture-" + input.name + ".qel",
                              qel::packBytes(input.bytes.data(), input.bytes.size(), 9)));
    }
    // At the page's copy limit and one byte over it (a sound file padded
    // with zeros), and a file far over it that the page must not read whole
    // (sparse: it takes no room on disk). The decoder reads only the stream,
    // so the page decides each as the desktop does.
    Bytes atLimit = starBytes;
    atLimit.resize(qel::web::kPageCopyLimit, 0);
    hostile.push_back(put(files, "at-limit.qel", atLimit));
    atLimit.push_back(0);
    hostile.push_back(put(files, "over-limit.qel", atLimit));
    const std::string huge = put(files, "huge.qel", starBytes);
    fs::resize_file(huge, std::uintmax_t{1} << 30);
    hostile.push_back(huge);
    // A folder with a packed file's name: nothing the browser can read.
    fs::create_directories(files / "folder.qel");
    hostile.push_back((files / "folder.qel").string());

    // Extracted files land in a scratch working directory, as on the desktop.
    const qel::testing::ScopedWorkDir work;
    std::cout << "{\"runs\": [\n";
    {
        Run run("demo", demoFile("bg/bg.bmp"), std::cout);
        run.drop({demoFile("star.qel")});
        run.drop({notes});
        run.drop({upperCase});
        run.drop({demoFile("broken.qel")});
        run.drop({demoFile("star16.qel")});
        run.drop({demoFile("star8.qel")}, true);
        run.drop({demoFile("heart.qel"), demoFile("star.qel")});
        run.drop({accented});
        for (const std::string& file : hostile) run.drop({file});
        run.drop({demoFile("star.qel")});
        run.exit();
        run.drop({demoFile("heart.qel")});
    }
    std::cout << ",\n";
    {
        Run run("white", std::nullopt, std::cout);
        for (const char* name : {"star.qel", "star16.qel", "star8.qel", "heart.qel", "broken.qel"}) {
            run.drop({demoFile(name)});
        }
        run.exit();
    }
    std::cout << "\n]}\n";
    return Run::failed ? 1 : 0;
}

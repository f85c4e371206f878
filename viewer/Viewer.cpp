#include "viewer/Viewer.h"

#include <iostream>

#include "files/FileIo.h"
#include "packed/PackedFile.h"

namespace qel {

namespace {

// Where a dropped path's name starts, and its last dot (npos without one).
struct NameCut {
    std::size_t nameStart = 0;
    std::size_t lastDot = std::string::npos;
};

NameCut cutDroppedPath(const std::string& path) {
    NameCut cut;
    const std::size_t first = path.size() >= 2 && path[1] == ':' ? 2 : 0;  // after a drive letter
    // From the end back to the last separator: only the name is looked at.
    // Every byte of a UTF-8 multibyte character is 0x80 or above, so a byte
    // test is a character test for the ASCII separators and the dot.
    std::size_t i = path.size();
    for (; i > first; --i) {
        const char c = path[i - 1];
        if (c == '\\' || c == '/') break;
        if (c == '.' && cut.lastDot == std::string::npos) cut.lastDot = i - 1;
    }
    cut.nameStart = i;
    return cut;
}

}  // namespace

DroppedName splitDroppedPath(const std::string& path) {
    const NameCut cut = cutDroppedPath(path);
    DroppedName name;
    if (cut.lastDot == std::string::npos) {
        name.baseName = path.substr(cut.nameStart);
    } else {
        name.baseName = path.substr(cut.nameStart, cut.lastDot - cut.nameStart);
        name.extension = path.substr(cut.lastDot);
    }
    return name;
}

std::string_view droppedExtension(const std::string& path) {
    const std::size_t lastDot = cutDroppedPath(path).lastDot;
    return lastDot == std::string::npos ? std::string_view() : std::string_view(path).substr(lastDot);
}

bool isPackedExtension(std::string_view extension) {
    return extension.substr(0, 4) == ".qel";
}

std::optional<std::size_t> fileArgumentIndex(const std::vector<std::string>& arguments) {
    std::size_t first = 0;
    if (!arguments.empty() && arguments[0] == "--") ++first;
    if (first < arguments.size()) return first;
    return std::nullopt;
}

Viewer::Viewer(ViewerWindow& window) : Viewer(window, std::cerr) {}

Viewer::Viewer(ViewerWindow& window, std::ostream& diag) : window_(window), diag_(diag) {}

void Viewer::initScene(const std::string& backdropPath) {
    scene_.initScene(backdropPath);
    window_.acceptDrops();
    setExtractEnabled(false);
}

void Viewer::setExtractEnabled(bool enabled) {
    extractEnabled_ = enabled;
    window_.setCommandEnabled(kExtractCommand, enabled);
}

int Viewer::onDropFiles(const std::string& path) { return takeDrop(path, nullptr); }

int Viewer::onDropFiles(const std::string& path, ByteSource& source) { return takeDrop(path, &source); }

int Viewer::takeDrop(const std::string& path, ByteSource* source) {
    const DroppedName name = splitDroppedPath(path);
    if (!isPackedExtension(name.extension)) return 0;

    scene_.document.baseName = name.baseName;
    window_.setTitle(name.baseName);

    DecodeResult result = source ? decodePackedSource(*source, scene_.sprite, diag_)
                                 : decodePackedFile(path, scene_.sprite, diag_);
    if (result.hasPayload) scene_.document.payload = std::move(result.payload);

    switch (result.outcome) {
    case DecodeOutcome::openFailure:
        diag_ << "cant open " << path << "\n" << std::flush;
        setExtractEnabled(false);
        break;
    case DecodeOutcome::initFailure:
    case DecodeOutcome::inflateFailure:
        // The payload left in the document belongs to an earlier file, not
        // to the one the title now names: extracting it would mislabel it.
        setExtractEnabled(false);
        break;
    case DecodeOutcome::notAPicture:
    case DecodeOutcome::endFailure:
        break;
    case DecodeOutcome::success:
        setExtractEnabled(true);
        window_.repaintNow();
        break;
    }
    return 0;
}

int Viewer::onCommand(int commandId) {
    if (commandId == kExtractCommand) {
        extract();
    } else if (commandId == kExitCommand) {
        releaseForExit();
        window_.quit(0);
    }
    return 0;
}

void Viewer::extract() {
    // The command is grayed whenever this could not succeed; a stray message
    // while it is grayed does nothing.
    if (!extractEnabled_ || !scene_.document.baseName || !scene_.document.payload) return;
    const std::string outputName = *scene_.document.baseName + ".bmp";
    const std::vector<std::uint8_t>& payload = *scene_.document.payload;
    if (publishFile(outputName, payload.data(), payload.size(), true).outcome != WriteOutcome::written) {
        diag_ << "cant create " << outputName << "\n" << std::flush;
    }
}

void Viewer::onEscape() { window_.quit(0); }

void Viewer::onDestroy() {
    releaseForExit();
    window_.quit(0);
}

void Viewer::releaseForExit() {
    scene_.canvas.release();
    scene_.document.payload.reset();
}

}  // namespace qel

#include "viewer/Viewer.h"

#include <iostream>

#include "files/FileIo.h"
#include "packed/PackedFile.h"

namespace qel {

DroppedName splitDroppedPath(const std::string& path) {
    std::size_t nameStart = 0;
    if (path.size() >= 2 && path[1] == ':') nameStart = 2;  // drive letter
    std::size_t lastDot = std::string::npos;
    // Every byte of a UTF-8 multibyte character is 0x80 or above, so a byte
    // test is a character test for the ASCII separators and the dot.
    for (std::size_t i = nameStart; i < path.size(); ++i) {
        const char c = path[i];
        if (c == '\\' || c == '/') {
            nameStart = i + 1;
            lastDot = std::string::npos;
        } else if (c == '.') {
            lastDot = i;
        }
    }
    DroppedName name;
    if (lastDot == std::string::npos) {
        name.baseName = path.substr(nameStart);
    } else {
        name.baseName = path.substr(nameStart, lastDot - nameStart);
        name.extension = path.substr(lastDot);
    }
    return name;
}

bool isPackedExtension(const std::string& extension) {
    return extension.compare(0, 4, ".qel") == 0;
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

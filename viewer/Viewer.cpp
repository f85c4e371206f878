#include "viewer/Viewer.h"

#include <iostream>

#include "files/FileIo.h"
#include "packed/PackedFile.h"

namespace qel {

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

    DecodeResult result = source ? decodePacked(*source, &scene_.sprite) : decodePackedFile(path, &scene_.sprite);
    writeDecodeDiagnostic(diag_, result);
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

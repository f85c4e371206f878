/*
 * The viewer's behaviour, free of any window system: it owns the scene and
 * the document and acts on its window only through ViewerWindow. A front end
 * turns its platform's events into these calls and draws scene().canvas.
 *
 * Dropping a file: the first dropped path, in UTF-8, is split into
 * directory, base name and extension (a leading "X:" drive, everything up to
 * the last '\' or '/', the extension from the last '.'; no byte of a UTF-8
 * multibyte character can be taken for one of those); only files whose
 * extension starts with ".qel" (case-sensitive) are taken. The base name becomes the title, the file
 * is decoded into the sprite, and the outcome decides the rest:
 *
 *   outcome                  payload    sprite     "Extract(BMP)"
 *   cannot open              kept       kept       grayed ("cant open PATH")
 *   init or inflate failure  kept       kept       grayed
 *   not a picture            replaced   kept       unchanged
 *   end failure              replaced   replaced   unchanged
 *   success                  replaced   replaced   enabled, repainted now
 *
 * "Extract(BMP)" writes the payload byte for byte to "<base name>.bmp" in the
 * working directory; "Exit" releases the canvas and the payload and quits
 * with status 0.
 */
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "packed/PackedName.h"
#include "viewer/Scene.h"
#include "viewer/ViewerWindow.h"

namespace qel {

class ByteSource;

// Which of a viewer's command-line arguments (the program's name left out)
// names the file to open as if it were dropped: the first, or the one after
// a leading "--". Any further files are left out, as a drop of several
// counts only the first. Nothing when there is none. Every front end starts
// from this, so "QelViewer.exe FILE" and "qelviewer FILE" open the same.
std::optional<std::size_t> fileArgumentIndex(const std::vector<std::string>& arguments);

class Viewer {
public:
    explicit Viewer(ViewerWindow& window);
    Viewer(ViewerWindow& window, std::ostream& diag);
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    // Sets up the scene, accepts drops and grays "Extract(BMP)".
    void initScene(const std::string& backdropPath = kBackdropPath);
    void composeScene() { scene_.composeScene(); }

    // The first path of a drop. Returns 0.
    int onDropFiles(const std::string& path);
    // The same for a front end that holds the file's bytes itself: path
    // names the file, source gives its bytes, and a failed read of source
    // counts as a file that cannot be opened.
    int onDropFiles(const std::string& path, ByteSource& source);
    // A menu command. Other ids do nothing. Returns 0.
    int onCommand(int commandId);
    // Escape ends the viewer; other keys do nothing.
    void onEscape();
    // The window is being destroyed: release the canvas and payload, quit.
    void onDestroy();

    bool extractEnabled() const { return extractEnabled_; }
    Scene& scene() { return scene_; }
    const Scene& scene() const { return scene_; }

private:
    int takeDrop(const std::string& path, ByteSource* source);
    void setExtractEnabled(bool enabled);
    void extract();
    void releaseForExit();

    ViewerWindow& window_;
    std::ostream& diag_;
    Scene scene_;
    bool extractEnabled_ = false;
};

}  // namespace qel

/*
 * The viewer's scene and current document.
 *
 * The window shows a 144x76 canvas. Before every repaint the canvas is filled
 * white, the backdrop's top-left 144x76 pixels are copied over it, and the
 * sprite's top-left 24x24 pixels are laid on top at (52, 22), leaving out
 * pixels of the key colour 0xFF00FF. The backdrop comes from "bg/bg.bmp"
 * ("bg\bg.bmp" on Windows) in the working directory, or is plain white; the
 * sprite starts as a key-coloured placeholder, so the first frame shows the
 * backdrop alone.
 */
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/Raster.h"

namespace qel {

constexpr int kCanvasWidth = 144;
constexpr int kCanvasHeight = 76;
constexpr int kSpriteSize = 24;
constexpr int kSpriteX = 52;
constexpr int kSpriteY = 22;

// The whole factor at which a window shows the canvas on a screen of dpi dots
// per inch (96 is 100%): the scale rounded to the nearest whole number, halves
// up, and at least 1. Each canvas pixel is then a k x k block of screen
// pixels, drawn nearest-neighbour, so sprites stay as sharp as at 100%:
// 100% and 125% give 1, 150% and 200% give 2, 250% and 300% give 3.
int canvasScaleForDpi(int dpi);

#ifdef _WIN32
constexpr const char* kBackdropPath = "bg\\bg.bmp";
#else
constexpr const char* kBackdropPath = "bg/bg.bmp";
#endif

// The file the viewer shows: its base name (the title and the extract file's
// name) and the payload inflated from it.
struct ViewerDocument {
    std::optional<std::string> baseName;
    std::optional<std::vector<std::uint8_t>> payload;

    std::size_t payloadSize() const { return payload ? payload->size() : 0; }
};

class Scene {
public:
    Raster canvas;
    Raster backdrop;
    Raster sprite;
    ViewerDocument document;

    // Reads the backdrop (white 144x76 when it cannot be read), creates the
    // white canvas and the placeholder sprite, and empties the document.
    void initScene(const std::string& backdropPath = kBackdropPath);
    // Rebuilds the canvas from the backdrop and the sprite.
    void composeScene();
};

}  // namespace qel

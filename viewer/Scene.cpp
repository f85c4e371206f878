#include "viewer/Scene.h"

namespace qel {

int canvasScaleForDpi(int dpi) {
    // (dpi - 48) / 96 + 1 is dpi / 96 rounded, halves up, without the
    // overflow of dpi + 48 near the top of int.
    return dpi < 144 ? 1 : (dpi - 48) / 96 + 1;
}

void Scene::initScene(const std::string& backdropPath) {
    if (!backdrop.loadFromFile(backdropPath)) {
        backdrop.create(kCanvasWidth, kCanvasHeight);
        backdrop.setColour(kWhite);
        backdrop.fill();
    }
    canvas.create(kCanvasWidth, kCanvasHeight);
    canvas.setColour(kWhite);
    canvas.fill();
    sprite.create(kSpriteSize, kSpriteSize);
    sprite.setColour(kTransparentKey);
    sprite.fill();
    document = ViewerDocument{};
}

void Scene::composeScene() {
    // White first, so a backdrop smaller than the canvas leaves white around
    // it rather than whatever the previous frame drew there.
    canvas.setColour(kWhite);
    canvas.fill();
    canvas.blit(0, 0, 0, 0, kCanvasWidth, kCanvasHeight, backdrop);
    canvas.blitKeyed(kSpriteX, kSpriteY, 0, 0, kSpriteSize, kSpriteSize, kTransparentKey, sprite);
}

}  // namespace qel

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "viewer/Scene.h"

namespace qel {
namespace {

void writeBackdrop(int width, int height, const testing::ColourAt& colourAt) {
    std::filesystem::create_directories("bg");
    testing::writeFile(kBackdropPath, testing::makeBmp24(width, height, colourAt));
}

void loadSprite(Scene& scene, const testing::Bytes& bmp) {
    ASSERT_TRUE(scene.sprite.loadFromMemory(bmp.data(), bmp.size()));
}

TEST(Scene, SetUpWithoutABackdropShowsWhite) {
    testing::ScopedWorkDir dir;
    Scene scene;
    scene.initScene();
    EXPECT_EQ(scene.backdrop.width(), 144);
    EXPECT_EQ(scene.backdrop.height(), 76);
    EXPECT_EQ(scene.sprite.width(), 24);
    EXPECT_EQ(scene.sprite.pixelAt(0, 0), kTransparentKey);
    EXPECT_FALSE(scene.document.baseName);
    EXPECT_FALSE(scene.document.payload);
    scene.composeScene();
    ASSERT_EQ(scene.canvas.width(), 144);
    ASSERT_EQ(scene.canvas.height(), 76);
    for (int y = 0; y < 76; ++y)
        for (int x = 0; x < 144; ++x) ASSERT_EQ(scene.canvas.pixelAt(x, y), kWhite) << x << "," << y;
}

TEST(Scene, TheCanvasShowsTheBackdropsTopLeftCorner) {
    testing::ScopedWorkDir dir;
    const auto pattern = [](int x, int y) { return static_cast<std::uint32_t>((x << 8) | y); };
    writeBackdrop(200, 90, pattern);
    Scene scene;
    scene.initScene();
    scene.composeScene();
    for (int y = 0; y < 76; ++y)
        for (int x = 0; x < 144; ++x) ASSERT_EQ(scene.canvas.pixelAt(x, y), pattern(x, y)) << x << "," << y;
}

TEST(Scene, ABackdropThatIsNotABmpFallsBackToWhite) {
    testing::ScopedWorkDir dir;
    std::filesystem::create_directories("bg");
    testing::writeFile(kBackdropPath, {'X', 'Y', 1, 2, 3});
    Scene scene;
    scene.initScene();
    EXPECT_EQ(scene.backdrop.width(), 144);
    EXPECT_EQ(scene.backdrop.pixelAt(100, 50), kWhite);
}

TEST(Scene, ASmallerBackdropLeavesWhiteWhereItDoesNotReach) {
    testing::ScopedWorkDir dir;
    writeBackdrop(10, 8, [](int, int) { return 0x0000AAu; });
    Scene scene;
    scene.initScene();
    scene.canvas.setColour(0x123456);  // whatever a previous frame left
    scene.canvas.fill();
    scene.composeScene();
    EXPECT_EQ(scene.canvas.pixelAt(0, 0), 0x0000AAu);
    EXPECT_EQ(scene.canvas.pixelAt(9, 7), 0x0000AAu);
    EXPECT_EQ(scene.canvas.pixelAt(10, 7), kWhite);
    EXPECT_EQ(scene.canvas.pixelAt(9, 8), kWhite);
    EXPECT_EQ(scene.canvas.pixelAt(143, 75), kWhite);
}

TEST(Scene, TheSpriteIsLaidOnTopWithTheKeyColourLeftOut) {
    testing::ScopedWorkDir dir;
    const auto backdrop = [](int x, int y) { return static_cast<std::uint32_t>(0x100000 + x * 256 + y); };
    writeBackdrop(144, 76, backdrop);
    Scene scene;
    scene.initScene();
    // Key-coloured corners, red elsewhere.
    loadSprite(scene, testing::makeBmp24(24, 24, [](int x, int y) {
        const bool corner = (x < 4 || x > 19) && (y < 4 || y > 19);
        return corner ? kTransparentKey : 0xFF0000u;
    }));
    scene.composeScene();
    EXPECT_EQ(scene.canvas.pixelAt(52, 22), backdrop(52, 22));
    EXPECT_EQ(scene.canvas.pixelAt(75, 45), backdrop(75, 45));
    EXPECT_EQ(scene.canvas.pixelAt(64, 34), 0xFF0000u);
    EXPECT_EQ(scene.canvas.pixelAt(56, 22), 0xFF0000u);
    EXPECT_EQ(scene.canvas.pixelAt(51, 30), backdrop(51, 30));
    EXPECT_EQ(scene.canvas.pixelAt(76, 30), backdrop(76, 30));
    EXPECT_EQ(scene.canvas.pixelAt(60, 46), backdrop(60, 46));
}

TEST(Scene, OnlyTheSpritesTopLeft24PixelsAreDrawn) {
    testing::ScopedWorkDir dir;
    Scene scene;
    scene.initScene();
    loadSprite(scene, testing::makeBmp24(40, 30, [](int x, int y) { return x < 24 && y < 24 ? 0x00FF00u : 0x0000FFu; }));
    scene.composeScene();
    for (int y = 0; y < 76; ++y)
        for (int x = 0; x < 144; ++x) {
            const bool inSprite = x >= 52 && x < 76 && y >= 22 && y < 46;
            ASSERT_EQ(scene.canvas.pixelAt(x, y), inSprite ? 0x00FF00u : kWhite) << x << "," << y;
        }
}

TEST(Scene, ASmallerSpriteDrawsOnlyThePixelsItHas) {
    testing::ScopedWorkDir dir;
    Scene scene;
    scene.initScene();
    loadSprite(scene, testing::makeBmp24(3, 2, [](int, int) { return 0x000080u; }));
    scene.composeScene();
    EXPECT_EQ(scene.canvas.pixelAt(54, 23), 0x000080u);
    EXPECT_EQ(scene.canvas.pixelAt(55, 23), kWhite);
    EXPECT_EQ(scene.canvas.pixelAt(54, 24), kWhite);
}

TEST(Scene, ComposingAReleasedCanvasDoesNothing) {
    testing::ScopedWorkDir dir;
    Scene scene;
    scene.initScene();
    scene.canvas.release();
    scene.composeScene();
    EXPECT_FALSE(scene.canvas.allocated());
}

}  // namespace
}  // namespace qel

// The real main window driven through Qt's event system: drops, the two
// commands, keys, closing, and the pixels it draws.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <memory>

#include "packed/PackedFile.h"
#include "tests/support/BmpFactory.h"
#include "tests/support/TestFiles.h"
#include "viewer/Scene.h"
#include "viewer/qt/MainWindow.h"

namespace qel {
namespace {

using testing::Bytes;

constexpr std::uint32_t kRgbMask = 0xFFFFFF;

// A sprite unlike the star, so that showing the wrong file is visible.
std::uint32_t ringColour(int x, int y) {
    const int dx = x - 12, dy = y - 12;
    const int d = dx * dx + dy * dy;
    return d >= 36 && d <= 100 ? 0x2040E0 : kTransparentKey;
}

Bytes packedOf(const Bytes& bmp) {
    const PackResult packed = packPicture(bmp.data(), bmp.size());
    EXPECT_EQ(packed.refusal, PackRefusal::none);
    return packed.packed;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory("bg");
        testing::writeFile("bg/bg.bmp", testing::makeBmp24(kCanvasWidth, kCanvasHeight, testing::sampleBackdropColour));
        starBmp = testing::makeBmp24(kSpriteSize, kSpriteSize, testing::sampleSpriteColour);
        testing::writeFile(work.file("star.qel"), packedOf(starBmp));
        ringBmp = testing::makeBmp24(kSpriteSize, kSpriteSize, ringColour);
        testing::writeFile(work.file("ring.qel"), packedOf(ringBmp));
        testing::writeFile(work.file("a.bmp"), starBmp);
        // Not a zlib stream at all: inflate fails.
        testing::writeFile(work.file("junk.qel"), Bytes(64, 0x5A));
        window = std::make_unique<MainWindow>();
    }

    QUrl fileUrl(const std::string& name) const { return QUrl::fromLocalFile(QString::fromStdString(work.file(name))); }

    // Enter then drop, as a drag from the desktop arrives. Returns whether
    // the window took the drag.
    bool drop(const QMimeData& mime) {
        const QPoint at(70, 40);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent dropEvent(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropEvent);
        return enter.isAccepted();
    }
    bool dropUrls(const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        return drop(mime);
    }

    // The area under the menu bar as drawn, in device pixels.
    QImage grabCanvas() const {
        return window->canvasView()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    // Device pixels that differ from expected(x, y), x and y in canvas pixels.
    static int mismatches(const QImage& image, const std::function<std::uint32_t(int, int)>& expected) {
        const qreal ratio = image.devicePixelRatio();
        int count = 0;
        for (int dy = 0; dy < image.height(); ++dy) {
            for (int dx = 0; dx < image.width(); ++dx) {
                const int x = static_cast<int>(dx / ratio), y = static_cast<int>(dy / ratio);
                if ((image.pixel(dx, dy) & kRgbMask) != expected(x, y)) ++count;
            }
        }
        return count;
    }

    // The backdrop with sprite laid over its key colour at the sprite's place.
    static std::function<std::uint32_t(int, int)> sceneWith(std::uint32_t (*sprite)(int, int)) {
        return [sprite](int x, int y) {
            const int sx = x - kSpriteX, sy = y - kSpriteY;
            if (sprite && sx >= 0 && sy >= 0 && sx < kSpriteSize && sy < kSpriteSize) {
                const std::uint32_t c = sprite(sx, sy);
                if (c != kTransparentKey) return c;
            }
            return testing::sampleBackdropColour(x, y);
        };
    }

    // Runs the event loop until the window ends it; a watchdog ends it with
    // 99 if it never does, and 98 marks "still running" for negative checks.
    static int runEventLoop(QObject* context, const std::function<void()>& action, int timeoutMs = 5000) {
        QTimer::singleShot(0, context, action);
        QTimer::singleShot(timeoutMs, context, [] { QCoreApplication::exit(99); });
        return QCoreApplication::exec();
    }

    testing::ScopedWorkDir work;  // first: the window reads bg/bg.bmp from here
    Bytes starBmp;
    Bytes ringBmp;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, StartsWithTitleGrayedExtractAndBackdropAlone) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QelViewer"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
    EXPECT_TRUE(window->exitAction()->isEnabled());
    EXPECT_TRUE(window->QWidget::acceptDrops());
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(nullptr)), 0);
}

TEST_F(MainWindowTest, MenuBarHoldsExactlyTheTwoCommandsWithoutMenus) {
    const QList<QAction*> actions = window->menuBar()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions[0], window->extractAction());
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Extract(BMP)"));
    EXPECT_EQ(actions[1], window->exitAction());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Exit"));
    for (QAction* action : actions) EXPECT_EQ(action->menu(), nullptr);
}

TEST_F(MainWindowTest, WindowIsFixedAtCanvasSizeUnderTheMenuBar) {
    window->show();
    QApplication::processEvents();
    const int barHeight = window->menuBar()->height();
    EXPECT_GT(barHeight, 0);
    EXPECT_EQ(window->canvasView()->geometry(), QRect(0, barHeight, kCanvasWidth, kCanvasHeight));
    EXPECT_EQ(window->size(), QSize(kCanvasWidth, barHeight + kCanvasHeight));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    window->showMaximized();
    QApplication::processEvents();
    EXPECT_FALSE(window->isMaximized());
    EXPECT_EQ(window->size(), QSize(kCanvasWidth, barHeight + kCanvasHeight));
    window->showFullScreen();
    QApplication::processEvents();
    EXPECT_FALSE(window->isFullScreen());
    EXPECT_EQ(window->size(), QSize(kCanvasWidth, barHeight + kCanvasHeight));
}

TEST_F(MainWindowTest, DropOfPackedFileShowsSpriteRenamesAndEnablesExtract) {
    EXPECT_TRUE(dropUrls({fileUrl("star.qel")}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("star"));
    EXPECT_TRUE(window->extractAction()->isEnabled());
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(testing::sampleSpriteColour)), 0);

    EXPECT_TRUE(dropUrls({fileUrl("ring.qel")}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ring"));
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(ringColour)), 0);
}

TEST_F(MainWindowTest, CanvasIsComposedAgainForEveryPaint) {
    dropUrls({fileUrl("star.qel")});
    // Change the sprite behind the window's back: the next paint must show it.
    Raster& sprite = window->viewer().scene().sprite;
    sprite.setColour(kTransparentKey);
    sprite.fill();
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(nullptr)), 0);
}

TEST_F(MainWindowTest, DropOfFileThatIsNotPackedChangesNothing) {
    const QImage before = grabCanvas();
    dropUrls({fileUrl("a.bmp")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QelViewer"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
    EXPECT_EQ(grabCanvas(), before);

    dropUrls({fileUrl("star.qel")});
    dropUrls({fileUrl("a.bmp")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("star"));
    EXPECT_TRUE(window->extractAction()->isEnabled());
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(testing::sampleSpriteColour)), 0);
}

TEST_F(MainWindowTest, OnlyTheFirstOfSeveralFilesIsShown) {
    dropUrls({fileUrl("ring.qel"), fileUrl("star.qel")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ring"));
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(ringColour)), 0);
}

TEST_F(MainWindowTest, RemoteAndNonUrlDropsAreIgnored) {
    dropUrls({QUrl(QStringLiteral("https://example.com/star.qel"))});
    // A remote first item is not replaced by a local second one.
    dropUrls({QUrl(QStringLiteral("https://example.com/ring.qel")), fileUrl("star.qel")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QelViewer"));
    EXPECT_FALSE(window->extractAction()->isEnabled());

    QMimeData text;
    text.setText(QString::fromStdString(work.file("star.qel")));
    EXPECT_FALSE(drop(text));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QelViewer"));
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(nullptr)), 0);
}

TEST_F(MainWindowTest, DragWithFilesIsAcceptedAndOthersAreRefused) {
    QMimeData files;
    files.setUrls({fileUrl("star.qel")});
    QDragEnterEvent withFiles(QPoint(10, 40), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    withFiles.setAccepted(false);
    QApplication::sendEvent(window.get(), &withFiles);
    EXPECT_TRUE(withFiles.isAccepted());

    QMimeData text;
    text.setText(QStringLiteral("star.qel"));
    QDragEnterEvent withText(QPoint(10, 40), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &withText);
    EXPECT_FALSE(withText.isAccepted());
}

TEST_F(MainWindowTest, FailedDropAfterGoodOneGraysExtract) {
    dropUrls({fileUrl("star.qel")});
    ASSERT_TRUE(window->extractAction()->isEnabled());
    dropUrls({fileUrl("junk.qel")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("junk"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
    // The sprite of the last good file stays on screen.
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(testing::sampleSpriteColour)), 0);

    dropUrls({fileUrl("star.qel")});
    ASSERT_TRUE(window->extractAction()->isEnabled());
    dropUrls({fileUrl("missing.qel")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("missing"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
}

TEST_F(MainWindowTest, ExtractWritesThePayloadUnderTheBaseName) {
    dropUrls({fileUrl("star.qel")});
    window->extractAction()->trigger();
    EXPECT_EQ(testing::readFile("star.bmp"), starBmp);

    dropUrls({fileUrl("ring.qel")});
    window->extractAction()->trigger();
    EXPECT_EQ(testing::readFile("ring.bmp"), ringBmp);
    EXPECT_EQ(testing::readFile("star.bmp"), starBmp);
}

TEST_F(MainWindowTest, GrayedExtractWritesNothing) {
    window->extractAction()->trigger();
    dropUrls({fileUrl("star.qel")});
    dropUrls({fileUrl("junk.qel")});
    window->extractAction()->trigger();
    EXPECT_FALSE(std::filesystem::exists("junk.bmp"));
    EXPECT_FALSE(std::filesystem::exists("star.bmp"));
    EXPECT_FALSE(std::filesystem::exists(".bmp"));
}

TEST_F(MainWindowTest, FileNamesOutsideAsciiSurviveTheRoundTrip) {
    const QString name = QStringLiteral("\u00e9toile");
    const std::string path = QFile::encodeName(QString::fromStdString(work.path().string()) + "/" + name + ".qel").toStdString();
    testing::writeFile(path, packedOf(starBmp));
    dropUrls({QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path)))});
    EXPECT_EQ(window->windowTitle(), name);
    window->extractAction()->trigger();
    EXPECT_EQ(testing::readFile(QFile::encodeName(name + ".bmp").toStdString()), starBmp);
}

TEST_F(MainWindowTest, EscapeQuitsWithStatusZero) {
    window->show();
    const int status = runEventLoop(window.get(), [this] { QTest::keyClick(window.get(), Qt::Key_Escape); });
    EXPECT_EQ(status, 0);
}

TEST_F(MainWindowTest, OtherKeysAndClicksDoNothing) {
    window->show();
    dropUrls({fileUrl("star.qel")});
    const QImage before = grabCanvas();
    const int status = runEventLoop(window.get(), [this] {
        QTest::keyClick(window.get(), Qt::Key_Q);
        QTest::keyClick(window.get(), Qt::Key_Return);
        QTest::mouseClick(window->canvasView(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 30));
        QTest::mouseDClick(window->canvasView(), Qt::LeftButton, Qt::NoModifier, QPoint(60, 30));
        QTest::mouseClick(window->canvasView(), Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QTimer::singleShot(100, window.get(), [] { QCoreApplication::exit(98); });
    });
    EXPECT_EQ(status, 98);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("star"));
    EXPECT_EQ(grabCanvas(), before);
}

TEST_F(MainWindowTest, ExitQuitsWithStatusZeroAndLeavesNothingToDraw) {
    window->show();
    dropUrls({fileUrl("star.qel")});
    const int status = runEventLoop(window.get(), [this] { window->exitAction()->trigger(); });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(window->viewer().scene().canvas.allocated());
    EXPECT_FALSE(window->viewer().scene().document.payload.has_value());

    // Nothing of the scene is drawn any more: the area is plain background.
    const QImage after = grabCanvas();
    const QRgb background = after.pixel(0, 0);
    EXPECT_EQ(mismatches(after, [&](int, int) { return background & kRgbMask; }), 0);
    EXPECT_NE(background & kRgbMask, testing::sampleBackdropColour(0, 0));
}

TEST_F(MainWindowTest, ClosingTheWindowQuitsWithStatusZero) {
    window->show();
    dropUrls({fileUrl("star.qel")});
    const int status = runEventLoop(window.get(), [this] { window->close(); });
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(window->viewer().scene().canvas.allocated());
}

// Each canvas pixel fills a whole block of device pixels of its own colour:
// no smoothing blends the sprite into the backdrop on a scaled screen. The
// suite runs a second time with QT_SCALE_FACTOR=2 to exercise that.
TEST_F(MainWindowTest, CanvasStaysCrispAtTheScreensPixelRatio) {
    window->show();
    dropUrls({fileUrl("star.qel")});
    const QImage image = grabCanvas();
    const qreal ratio = image.devicePixelRatio();
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    if (!scale.isEmpty()) {
        EXPECT_DOUBLE_EQ(ratio, scale.toDouble());
    }
    EXPECT_EQ(image.size(), QSize(qRound(kCanvasWidth * ratio), qRound(kCanvasHeight * ratio)));
    EXPECT_EQ(mismatches(image, sceneWith(testing::sampleSpriteColour)), 0);
}

}  // namespace
}  // namespace qel

// The real main window driven through Qt's event system. What the viewer
// decides (which files count, what a failure does, what Extract writes) is
// tested on the core; these tests cover what the Qt code itself does: which
// drags and drops it takes, the path it hands on, the actions and keys it
// wires, its size, and the pixels it draws.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QMenuBar>
#include <QMimeData>
#include <QPixmap>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>

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
        testing::writeFile(work.file("ring.qel"), packedOf(testing::makeBmp24(kSpriteSize, kSpriteSize, ringColour)));
        // Not a zlib stream at all: inflate fails.
        testing::writeFile(work.file("junk.qel"), Bytes(64, 0x5A));
        window = std::make_unique<MainWindow>();
    }

    QUrl fileUrl(const std::string& name) const { return QUrl::fromLocalFile(QString::fromStdString(work.file(name))); }

    // Enter, move, drop, as a drag from the desktop arrives. Returns whether
    // the window took the drag on entering and moving.
    bool drop(const QMimeData& mime) {
        const QPoint at(70, 40);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(window.get(), &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        move.setAccepted(false);
        QApplication::sendEvent(window.get(), &move);
        QDropEvent dropEvent(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(window.get(), &dropEvent);
        return enter.isAccepted() && move.isAccepted();
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

    // Runs the event loop with action queued and returns its exit status; a
    // watchdog ends it with 99 if nothing else does.
    static int runEventLoop(const std::function<void()>& action) {
        QTimer watchdog;
        watchdog.setSingleShot(true);
        QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        watchdog.start(5000);
        QTimer::singleShot(0, action);
        return QCoreApplication::exec();
    }

    testing::ScopedWorkDir work;  // first: the window reads bg/bg.bmp from here
    Bytes starBmp;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, StartsWithTitleGrayedExtractBackdropAndTwoPlainCommands) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QelViewer"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
    EXPECT_TRUE(window->QWidget::acceptDrops());
    EXPECT_FALSE(window->windowIcon().isNull());  // the icon is compiled in
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(nullptr)), 0);

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
    const QSize fixed(kCanvasWidth, barHeight + kCanvasHeight);
    EXPECT_GT(barHeight, 0);
    EXPECT_EQ(window->canvasView()->geometry(), QRect(0, barHeight, kCanvasWidth, kCanvasHeight));
    EXPECT_EQ(window->size(), fixed);
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));

    window->showMaximized();
    QApplication::processEvents();
    EXPECT_FALSE(window->isMaximized());
    EXPECT_EQ(window->size(), fixed);
    window->showFullScreen();
    QApplication::processEvents();
    EXPECT_FALSE(window->isFullScreen());
    EXPECT_EQ(window->size(), fixed);
}

// The suite runs a second time with QT_SCALE_FACTOR=2: each canvas pixel must
// then fill a whole block of device pixels of its own colour, with no
// smoothing blending the sprite into the backdrop.
TEST_F(MainWindowTest, DropShowsTheFirstFileCrisplyRenamesAndExtracts) {
    window->show();
    // The canvas is composed again for every paint: the first frame shows the
    // backdrop alone, the frame after the drop the sprite on it.
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(nullptr)), 0);
    EXPECT_TRUE(dropUrls({fileUrl("star.qel"), fileUrl("ring.qel")}));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("star"));
    EXPECT_TRUE(window->extractAction()->isEnabled());

    const QImage image = grabCanvas();
    const qreal ratio = image.devicePixelRatio();
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    if (!scale.isEmpty()) {
        EXPECT_DOUBLE_EQ(ratio, scale.toDouble());
    }
    EXPECT_EQ(image.size(), QSize(qRound(kCanvasWidth * ratio), qRound(kCanvasHeight * ratio)));
    EXPECT_EQ(mismatches(image, sceneWith(testing::sampleSpriteColour)), 0);

    window->extractAction()->trigger();
    EXPECT_EQ(testing::readFile("star.bmp"), starBmp);
}

TEST_F(MainWindowTest, OnlyDragsOfLocalPackedFilesAreTaken) {
    QMimeData text;
    text.setText(QString::fromStdString(work.file("star.qel")));
    EXPECT_FALSE(drop(text));
    // A remote document has no path; a local second item does not stand in
    // for a remote first one.
    dropUrls({QUrl(QStringLiteral("https://example.com/star.qel"))});
    dropUrls({QUrl(QStringLiteral("https://example.com/ring.qel")), fileUrl("star.qel")});
    // A local file whose name the viewer does not take changes nothing either.
    testing::writeFile(work.file("picture.bmp"), starBmp);
    dropUrls({fileUrl("picture.bmp")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("QelViewer"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
    EXPECT_EQ(mismatches(grabCanvas(), sceneWith(nullptr)), 0);
}

TEST_F(MainWindowTest, FailedDropGraysExtractAndItsTriggerWritesNothing) {
    dropUrls({fileUrl("star.qel")});
    ASSERT_TRUE(window->extractAction()->isEnabled());
    dropUrls({fileUrl("junk.qel")});
    EXPECT_EQ(window->windowTitle(), QStringLiteral("junk"));
    EXPECT_FALSE(window->extractAction()->isEnabled());
    window->extractAction()->trigger();
    EXPECT_FALSE(std::filesystem::exists("junk.bmp"));
    EXPECT_FALSE(std::filesystem::exists("star.bmp"));
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

TEST_F(MainWindowTest, EscapeExitAndClosingQuitWithStatusZero) {
    window->show();
    dropUrls({fileUrl("star.qel")});
    // Other keys do not quit: the loop ends on the status queued after them.
    EXPECT_EQ(runEventLoop([this] {
                  QTest::keyClick(window.get(), Qt::Key_Q);
                  QTest::keyClick(window.get(), Qt::Key_Return);
                  QTimer::singleShot(0, [] { QCoreApplication::exit(98); });
              }),
              98);
    EXPECT_EQ(runEventLoop([this] { QTest::keyClick(window.get(), Qt::Key_Escape); }), 0);
    EXPECT_EQ(runEventLoop([this] { window->exitAction()->trigger(); }), 0);

    // Exit released the canvas: a later paint draws plain background, not a
    // stale scene.
    const QImage after = grabCanvas();
    const QRgb background = after.pixel(0, 0) & kRgbMask;
    EXPECT_EQ(mismatches(after, [&](int, int) { return background; }), 0);
    EXPECT_NE(background, testing::sampleBackdropColour(0, 0));

    EXPECT_EQ(runEventLoop([this] { window->close(); }), 0);
}

// Collects what the viewer writes to the error stream while it lives.
class CapturedErrors {
public:
    CapturedErrors() : previous_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~CapturedErrors() { std::cerr.rdbuf(previous_); }
    std::string text() const { return text_.str(); }

private:
    std::ostringstream text_;
    std::streambuf* previous_;
};

TEST(FileArgument, IsTheFirstOperandAfterAnEndOfOptions) {
    char program[] = "qelviewer", first[] = "a.qel", second[] = "b.qel", dashes[] = "--", dashed[] = "-x.qel";
    char* none[] = {program, nullptr};
    EXPECT_EQ(fileArgument(1, none), nullptr);
    EXPECT_EQ(fileArgument(0, none), nullptr);
    char* two[] = {program, first, second, nullptr};
    EXPECT_STREQ(fileArgument(3, two), "a.qel");
    char* ended[] = {program, dashes, dashed, first, nullptr};
    EXPECT_STREQ(fileArgument(4, ended), "-x.qel");
    char* onlyDashes[] = {program, dashes, nullptr};
    EXPECT_EQ(fileArgument(2, onlyDashes), nullptr);
}

// A file opened from the command line ends exactly as a drop of it: the same
// title, the same Extract state, the same pixels and the same diagnostics,
// for every kind of outcome.
TEST_F(MainWindowTest, AFileOnTheCommandLineIsTakenAsADropOnceTheWindowShows) {
    testing::writeFile(work.file("picture.bmp"), starBmp);
    for (const std::string name : {"star.qel", "junk.qel", "missing.qel", "picture.bmp", "ring.qel"}) {
        SCOPED_TRACE(name);
        MainWindow opened;
        std::string openedErrors;
        {
            const CapturedErrors errors;
            opened.openWhenShown(work.file(name));
            // Nothing happens before the window shows.
            QApplication::processEvents();
            EXPECT_EQ(opened.windowTitle(), QStringLiteral("QelViewer"));
            opened.show();
            QApplication::processEvents();
            openedErrors = errors.text();
        }

        window.reset();  // drop() sends its events to window
        window = std::make_unique<MainWindow>();
        window->show();
        std::string droppedErrors;
        {
            const CapturedErrors errors;
            dropUrls({fileUrl(name)});
            droppedErrors = errors.text();
        }
        EXPECT_EQ(opened.windowTitle(), window->windowTitle());
        EXPECT_EQ(opened.extractAction()->isEnabled(), window->extractAction()->isEnabled());
        EXPECT_EQ(opened.canvasView()->grab().toImage().convertToFormat(QImage::Format_RGB32), grabCanvas());
        EXPECT_EQ(openedErrors, droppedErrors);
    }
    // The outcomes above differ from one another, so equality means something.
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ring"));
}

TEST_F(MainWindowTest, OpeningFromTheCommandLineHappensOnce) {
    window->openWhenShown(work.file("star.qel"));
    window->show();
    QApplication::processEvents();
    ASSERT_EQ(window->windowTitle(), QStringLiteral("star"));
    dropUrls({fileUrl("ring.qel")});
    window->hide();
    window->show();
    QApplication::processEvents();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("ring"));
}

// The program itself: QApplication takes "-platform offscreen" off the command
// line before the viewer looks for its file, so the file is what it opens.
TEST(ViewerProgram, QtOptionsComeOffBeforeTheFileIsTaken) {
    testing::ScopedWorkDir work;
    QProcess viewer;
    viewer.setProcessChannelMode(QProcess::SeparateChannels);
    viewer.start(QStringLiteral(QELVIEWER_PROGRAM),
                 {QStringLiteral("-platform"), QStringLiteral("offscreen"), QStringLiteral("absent.qel"),
                  QStringLiteral("other.qel")});
    ASSERT_TRUE(viewer.waitForStarted(10000));
    const QByteArray expected("cant open absent.qel\n");
    QByteArray errors;
    // The diagnostic comes once the window shows; wait for it rather than a
    // fixed time, so a busy machine only makes the test slower.
    for (int i = 0; i < 60 && !errors.contains(expected); ++i) {
        viewer.waitForReadyRead(500);
        errors += viewer.readAllStandardError();
    }
    viewer.kill();
    viewer.waitForFinished(10000);
    errors += viewer.readAllStandardError();
    // Qt may say things of its own; of the viewer's lines there is exactly one.
    QByteArrayList viewerLines;
    for (const QByteArray& line : errors.split('\n')) {
        if (line.startsWith("cant ")) viewerLines.append(line);
    }
    EXPECT_EQ(viewerLines, QByteArrayList{"cant open absent.qel"}) << errors.toStdString();
}

}  // namespace
}  // namespace qel

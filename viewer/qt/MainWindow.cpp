#include "viewer/qt/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cmath>
#include <optional>
#include <vector>

#include "imaging/Picture.h"
#include "viewer/Scene.h"

namespace qel {

namespace {

// The canvas as a top-down QImage; null when the raster holds no pixels.
QImage canvasImage(const Raster& canvas) {
    QImage image(canvas.width(), canvas.height(), QImage::Format_RGB32);
    PixelTarget target;
    target.pixels = image.bits();
    target.stride = static_cast<std::size_t>(image.bytesPerLine());
    target.size = {canvas.width(), canvas.height()};
    target.order = ChannelOrder::argb32;
    target.key = KeyPixel::opaque;
    if (image.isNull() || !convertPicture(canvas, target)) return QImage();
    return image;
}

}  // namespace

const char* fileArgument(int argc, char** argv) {
    if (argc < 2) return nullptr;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::optional<std::size_t> at = fileArgumentIndex(arguments);
    return at ? argv[*at + 1] : nullptr;
}

// Draws the composed canvas 1:1 in logical pixels. On a scaled screen each
// canvas pixel becomes a block of device pixels taken whole, never blended,
// so the sprite's edges stay as hard as they are in the file.
class CanvasView : public QWidget {
public:
    CanvasView(Viewer& viewer, QWidget* parent) : QWidget(parent), viewer_(viewer) {
        setFixedSize(kCanvasWidth, kCanvasHeight);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        viewer_.composeScene();
        QImage image = canvasImage(viewer_.scene().canvas);
        if (image.isNull()) return;  // released on Exit: nothing left to show

        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        const qreal ratio = painter.device()->devicePixelRatioF();
        if (ratio != 1.0) {
            const int w = static_cast<int>(std::lround(image.width() * ratio));
            const int h = static_cast<int>(std::lround(image.height() * ratio));
            image = image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            image.setDevicePixelRatio(ratio);
        }
        painter.drawImage(QPointF(0, 0), image);
    }

private:
    Viewer& viewer_;
};

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), viewer_(*this) {
    setWindowTitle(QString::fromLatin1(kInitialTitle));
    setWindowIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(kAppId))));
    // A fixed size leaves nothing to maximise; the button goes too so the
    // window manager does not offer it.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    // Two plain commands straight on the bar, kept in the window even where
    // the desktop would move menus to a global bar, so the canvas is always
    // right under them.
    menuBar()->setNativeMenuBar(false);
    extractAction_ = menuBar()->addAction(QStringLiteral("Extract(BMP)"), this, &MainWindow::onExtract);
    exitAction_ = menuBar()->addAction(QStringLiteral("Exit"), this, &MainWindow::onExit);

    canvas_ = new CanvasView(viewer_, this);
    setCentralWidget(canvas_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Last: the core enables drops and grays "Extract(BMP)" through the
    // actions made above.
    viewer_.initScene();
}

MainWindow::~MainWindow() = default;

QWidget* MainWindow::canvasView() const { return canvas_; }

void MainWindow::setTitle(const std::string& title) {
    // The base name comes from a path in the local 8-bit encoding.
    setWindowTitle(QFile::decodeName(QByteArray::fromStdString(title)));
}

void MainWindow::setCommandEnabled(int commandId, bool enabled) {
    if (commandId == kExtractCommand) {
        extractAction_->setEnabled(enabled);
    } else if (commandId == kExitCommand) {
        exitAction_->setEnabled(enabled);
    }
}

void MainWindow::repaintNow() { canvas_->repaint(); }

void MainWindow::quit(int status) { QCoreApplication::exit(status); }

void MainWindow::acceptDrops() { setAcceptDrops(true); }

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData() && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (!mime || !mime->hasUrls()) {
        event->ignore();
        return;
    }
    // Only the first item of a drop counts, and only when it is a file here:
    // a remote document has no path to read it from.
    const QList<QUrl> urls = mime->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    viewer_.onDropFiles(QFile::encodeName(urls.first().toLocalFile()).toStdString());
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        viewer_.onEscape();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    viewer_.onDestroy();
    event->accept();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // Window managers honour the fixed size, but a platform that ignores it
    // (or a keyboard shortcut of the desktop) could still stretch the window
    // over the screen: the canvas has one size, so go back to it.
    if (event->type() == QEvent::WindowStateChange) {
        const Qt::WindowStates stretched = Qt::WindowMaximized | Qt::WindowFullScreen;
        if (windowState() & stretched) setWindowState(windowState() & ~stretched);
    }
}

void MainWindow::openWhenShown(const std::string& path) {
    pendingFile_ = path;
    hasPendingFile_ = true;
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!hasPendingFile_) return;
    hasPendingFile_ = false;
    // Queued, so that the window is up and painted before the file is read,
    // just as it is when a user drops one on it.
    QTimer::singleShot(0, this, [this, path = std::move(pendingFile_)] { viewer_.onDropFiles(path); });
}

void MainWindow::onExtract() { viewer_.onCommand(kExtractCommand); }

void MainWindow::onExit() { viewer_.onCommand(kExitCommand); }

}  // namespace qel

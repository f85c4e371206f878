// The viewer's main window on Qt Widgets. Everything the viewer does is
// decided by qel::Viewer; this class only turns Qt events into its calls and
// draws its canvas.
#pragma once

#include <QMainWindow>
#include <string>

#include "viewer/Viewer.h"
#include "viewer/ViewerWindow.h"

class QAction;
class QCloseEvent;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;
class QKeyEvent;
class QShowEvent;

namespace qel {

// The reverse-DNS name of the desktop entry and icon.
constexpr const char* kAppId = "io.github.qelviewer.QelViewer";
constexpr const char* kInitialTitle = "QelViewer";

class CanvasView;

// The file named on a command line that QApplication has already taken its
// own options from: the first argument after the program name, or the one
// after a leading "--". Null when there is none. Any further files are left
// out, as a drop of several files counts only the first.
const char* fileArgument(int argc, char** argv);

class MainWindow : public QMainWindow, public ViewerWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // ViewerWindow
    void setTitle(const std::string& title) override;
    void setCommandEnabled(int commandId, bool enabled) override;
    void repaintNow() override;
    void quit(int status) override;
    void acceptDrops() override;

    // Opens path exactly as a drop of it would, once the window has shown:
    // the same outcomes, title, menu state and diagnostics.
    void openWhenShown(const std::string& path);

    Viewer& viewer() { return viewer_; }
    QAction* extractAction() const { return extractAction_; }
    QAction* exitAction() const { return exitAction_; }
    // The widget the canvas is drawn on: the whole area under the menu bar.
    QWidget* canvasView() const;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void onExtract();
    void onExit();

private:
    Viewer viewer_;
    QAction* extractAction_ = nullptr;
    QAction* exitAction_ = nullptr;
    CanvasView* canvas_ = nullptr;
    std::string pendingFile_;
    bool hasPendingFile_ = false;
};

}  // namespace qel

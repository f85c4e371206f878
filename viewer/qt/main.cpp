// The Linux viewer: a QApplication and the main window, nothing else.
// QApplication takes its usual options (-platform, -display, ...) off the
// command line first; what is left may name one file, which is opened as if
// it were dropped on the window once it shows, so that "Open With" in a file
// manager works.
#include <QApplication>

#include "viewer/qt/MainWindow.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QelViewer"));
    // Lets the desktop match the running window to its entry and icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(qel::kAppId));

    qel::MainWindow window;
    if (const char* file = qel::fileArgument(argc, argv)) window.openWhenShown(file);
    window.show();
    return app.exec();
}

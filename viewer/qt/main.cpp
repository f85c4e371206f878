// The Linux viewer: a QApplication and the main window, nothing else. The
// program takes no options of its own; QApplication handles its usual ones
// (-platform, -display, ...).
#include <QApplication>

#include "viewer/qt/MainWindow.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QelViewer"));
    // Lets the desktop match the running window to its entry and icon.
    QGuiApplication::setDesktopFileName(QString::fromLatin1(qel::kAppId));

    qel::MainWindow window;
    window.show();
    return app.exec();
}

// Makes docs/screenshot.png: the real main window, offscreen, showing the
// demo star on the demo backdrop, enlarged without smoothing so the pixels
// can be seen.
//
//   qel_screenshot OUTPUT.png [SCALE]     SCALE 1..8, default 3
#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QPixmap>
#include <QTemporaryDir>
#include <QUrl>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "demo/DemoFiles.h"
#include "viewer/qt/MainWindow.h"

int main(int argc, char* argv[]) {
    // Rendered off screen unless the caller chose a platform.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const int scale = args.size() > 2 ? args.at(2).toInt() : 3;
    if (args.size() < 2 || args.size() > 3 || scale < 1 || scale > 8) {
        std::cerr << "usage: qel_screenshot OUTPUT.png [SCALE]\n";
        return 2;
    }
    const QString output = QDir::current().absoluteFilePath(args.at(1));

    QTemporaryDir dir;
    std::ostringstream listing;
    if (!dir.isValid() || !qel::demo::writeDemoFiles(dir.path().toStdString(), listing, std::cerr) ||
        !QDir::setCurrent(dir.path())) {
        std::cerr << "cant prepare the demo files\n";
        return 1;
    }

    qel::MainWindow window;
    window.show();
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(dir.filePath(QStringLiteral("star.qel")))});
    // As a desktop drag does it: the enter makes the window the drop target.
    QDragEnterEvent enter(QPoint(72, 38), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(72, 38), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    QApplication::processEvents();

    QImage shot = window.grab().toImage();
    shot = shot.scaled(shot.width() * scale, shot.height() * scale, Qt::IgnoreAspectRatio,
                       Qt::FastTransformation);
    QDir::setCurrent(QDir::tempPath());  // let the temporary folder go
    if (!shot.save(output, "PNG")) {
        std::cerr << "cant create " << output.toStdString() << "\n";
        return 1;
    }
    std::cout << "wrote " << output.toStdString() << " (" << shot.width() << "x" << shot.height() << ")\n";
    return 0;
}

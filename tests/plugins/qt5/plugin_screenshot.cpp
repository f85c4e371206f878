// Makes docs/plugin-screenshot.png: a small Qt 5 window that knows nothing
// of packed files and opens the demo sprites through QImageReader, as any
// Qt 5 image viewer does, with the qel plugin of this build. The sprites are
// enlarged without smoothing on a checkerboard, so that the transparent key
// colour shows as such. Fails when a sprite does not load.
//
//   qel_plugin_screenshot OUTPUT.png
#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <iostream>
#include <sstream>

#include "demo/DemoFiles.h"

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::addLibraryPath(QStringLiteral(QEL_QT_PLUGIN_DIR));
    QApplication app(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: qel_plugin_screenshot OUTPUT.png\n";
        return 2;
    }
    QTemporaryDir dir;
    std::ostringstream listing;
    if (!dir.isValid() || !qel::demo::writeDemoFiles(dir.path().toStdString(), listing, std::cerr)) return 1;

    QPixmap checks(16, 16);
    checks.fill(QColor(0xcc, 0xcc, 0xcc));
    QPainter(&checks).fillRect(0, 0, 8, 8, QColor(0x99, 0x99, 0x99));
    QPainter(&checks).fillRect(8, 8, 8, 8, QColor(0x99, 0x99, 0x99));

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Opened by QImageReader (Qt %1) through the qel plugin:").arg(QT_VERSION_STR)));
    auto* row = new QHBoxLayout;
    layout->addLayout(row);
    for (const char* name : {"star.qel", "heart.qel", "star8.qel"}) {
        QImageReader reader(dir.filePath(QString::fromLatin1(name)));
        const QImage image = reader.read();
        if (image.isNull()) {
            std::cerr << name << ": " << reader.errorString().toStdString() << "\n";
            return 1;
        }
        QPixmap shown(image.size() * 6);
        QPainter painter(&shown);
        painter.fillRect(shown.rect(), QBrush(checks));
        painter.drawImage(shown.rect(), image);  // no smoothing: sprite pixels stay blocks
        painter.end();
        auto* column = new QVBoxLayout;
        auto* picture = new QLabel;
        picture->setPixmap(shown);
        column->addWidget(picture);
        column->addWidget(new QLabel(QStringLiteral("%1 (%2x%3)").arg(QString::fromLatin1(name)).arg(image.width()).arg(image.height())));
        row->addLayout(column);
    }
    window.show();
    QApplication::processEvents();
    return window.grab().save(QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1])), "PNG") ? 0 : 1;
}

// The Qt image plugin as Qt programs reach it: QImageReader and QImageWriter
// with the build's plugin folder added. Built once against Qt 5 and once
// against Qt 6 (QEL_QT_PLUGIN_DIR names the matching build).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include "tests/malformed/Cases.h"
#include "tests/plugins/PluginCases.h"

namespace qel::testing {
namespace {

Bytes rgbaOf(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    Bytes bytes;
    for (int y = 0; y < rgba.height(); ++y) {
        const uchar* row = rgba.constScanLine(y);
        bytes.insert(bytes.end(), row, row + rgba.width() * 4);
    }
    return bytes;
}

QByteArray bytesOf(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
}

TEST(QtImagePlugin, ShowsAndRefusesWhatTheViewerDoes) {
    for (const PluginCase& c : pluginCases()) {
        SCOPED_TRACE(c.name);
        QByteArray data = bytesOf(c.file);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "qel");
        const QSize size = reader.size();
        const QImage image = reader.read();
        EXPECT_EQ(image.isNull(), !c.expected.ok());
        if (!c.expected.ok()) continue;
        EXPECT_EQ(size, QSize(c.expected.width, c.expected.height));
        EXPECT_EQ(image.format(), QImage::Format_ARGB32);
        EXPECT_TRUE(rgbaOf(image) == c.expected.rgba);
    }
}

// A packed file is recognised by its zlib header without being consumed;
// other formats are left to their own handlers.
TEST(QtImagePlugin, KnowsPackedFilesByContent) {
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("qel"));
    EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-qel"));
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    const struct {
        const char* what;
        QByteArray data;
        bool packed;
    } cases[] = {
        {"packed", bytesOf(hostilePacked("sprite8")), true},
        {"gzip", bytesOf(hostilePacked("gzip")), false},
        {"zlib header of another method", bytesOf(hostilePacked("unknown-method")), false},
        {"png", [&] { QByteArray b; QBuffer o(&b); o.open(QIODevice::WriteOnly); picture.save(&o, "PNG"); return b; }(), false},
        {"bmp", [&] { QByteArray b; QBuffer o(&b); o.open(QIODevice::WriteOnly); picture.save(&o, "BMP"); return b; }(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QByteArray data = c.data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        EXPECT_EQ(QImageReader(&buffer, "qel").canRead(), c.packed);
        EXPECT_EQ(buffer.pos(), 0);
        EXPECT_EQ(QImageReader::imageFormat(&buffer) == "qel", c.packed);
    }
}

TEST(QtImagePlugin, WritesWhatQelPackAccepts) {
    for (const SaveCase& c : saveCases()) {
        SCOPED_TRACE(c.what);
        Bytes rgba = rgbaPicture(c.width, c.height, c.alphaOfFirst);
        const QImage image(rgba.data(), c.width, c.height, c.width * 4, QImage::Format_RGBA8888);
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_EQ(QImageWriter(&buffer, "qel").write(image), c.accepted);
        if (!c.accepted) {
            EXPECT_TRUE(data.isEmpty());
            continue;
        }
        const HostPicture back =
            hostPictureFromBytes(reinterpret_cast<const std::uint8_t*>(data.constData()), static_cast<std::size_t>(data.size()));
        EXPECT_TRUE(back.rgba == shownAs(rgba));
    }
}

}  // namespace
}  // namespace qel::testing

int main(int argc, char** argv) {
    QCoreApplication::addLibraryPath(QStringLiteral(QEL_QT_PLUGIN_DIR));
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

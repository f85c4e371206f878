// The Qt image plugin as Qt programs reach it: QImageReader and QImageWriter
// with the build's plugin folder added. Built once against Qt 5 and once
// against Qt 6 (QEL_QT_PLUGIN_DIR names the matching build).
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QImageWriter>

#include "tests/malformed/Cases.h"
#include "tests/plugins/PluginCases.h"

namespace qel::testing {
namespace {

QByteArray bytesOf(const Bytes& b) { return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size())); }

TEST(QtImagePlugin, ShowsAndRefusesWhatTheViewerDoes) {
    for (const PluginCase& c : pluginCases()) {
        SCOPED_TRACE(c.name);
        QByteArray data = bytesOf(c.file);
        QBuffer buffer(&data);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "qel");
        const QSize size = reader.size();
        const QImage image = reader.read().convertToFormat(QImage::Format_RGBA8888);
        Shown got{image.width(), image.height(), {}, image.isNull() ? "refused" : ""};
        for (int y = 0; y < image.height(); ++y) {
            got.rgba.insert(got.rgba.end(), image.constScanLine(y), image.constScanLine(y) + image.width() * 4);
        }
        EXPECT_TRUE(samePicture(got, c.expected));
        EXPECT_EQ(size, c.expected.ok() ? image.size() : QSize());
    }
}

// A packed file is recognised by its zlib header without being consumed;
// other formats are left to their own handlers.
TEST(QtImagePlugin, KnowsPackedFilesByContent) {
    EXPECT_TRUE(QImageReader::supportedImageFormats().contains("qel"));
    EXPECT_TRUE(QImageReader::supportedMimeTypes().contains("image/x-qel"));
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    Bytes rgba = rgbaPicture(4, 4, 255);
    QImage(rgba.data(), 4, 4, 16, QImage::Format_RGBA8888).save(&out, "PNG");
    const struct { const char* what; QByteArray data; bool packed; } cases[] = {
        {"packed", bytesOf(hostilePacked("sprite8")), true},
        {"gzip", bytesOf(hostilePacked("gzip")), false},
        {"zlib header of another method", bytesOf(hostilePacked("unknown-method")), false},
        {"png", png, false},
        {"bmp", bytesOf(soundBmp("sprite24")), false},
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

// Refused pictures write nothing; accepted ones come back as their pixels.
TEST(QtImagePlugin, WritesWhatQelPackAccepts) {
    for (const SaveCase& c : saveCases()) {
        SCOPED_TRACE(c.what);
        Bytes rgba = rgbaPicture(c.width, c.height, c.alphaOfFirst);
        const QImage image(rgba.data(), c.width, c.height, c.width * 4, QImage::Format_RGBA8888);
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_EQ(QImageWriter(&buffer, "qel").write(image), !*c.refusal);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
        const Shown back = shownOf(hostPictureFromBytes(bytes, static_cast<std::size_t>(data.size())));
        EXPECT_TRUE(back.rgba == (*c.refusal ? Bytes() : shownAs(rgba)));
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

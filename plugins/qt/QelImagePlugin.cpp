#include "plugins/qt/QelImagePlugin.h"

#include <QIODevice>
#include <QVariant>
#include <QtGlobal>

#include <new>
#include <vector>

#include "imaging/Picture.h"
#include "packed/HostPicture.h"
#include "packed/PackedFile.h"

namespace {

constexpr qint64 kChunk = 4096;

}  // namespace

bool QelImageHandler::canRead() const {
    if (!canRead(device())) return false;
    setFormat("qel");
    return true;
}

bool QelImageHandler::canRead(QIODevice* device) {
    if (!device) return false;
    const QByteArray head = device->peek(2);
    return qel::looksPacked(reinterpret_cast<const std::uint8_t*>(head.constData()), static_cast<std::size_t>(head.size()));
}

bool QelImageHandler::load() const {
    if (loaded_) return !image_.isNull();
    loaded_ = true;
    if (!device()) {
        refusal_ = QStringLiteral("no device");
        return false;
    }
    try {
        // Read a chunk at a time until the stream's outcome is settled, so a
        // huge file is never held whole.
        qel::PackedDecoder decoder;
        char buffer[kChunk];
        for (;;) {
            const qint64 got = device()->read(buffer, kChunk);
            if (got <= 0 || !decoder.feed(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(got))) {
                break;
            }
        }
        const qel::HostPicture picture = qel::hostPictureFromStream(decoder);
        if (!picture.ok()) {
            refusal_ = QString::fromStdString(picture.refusal);
            return false;
        }
        QImage image(picture.width(), picture.height(), QImage::Format_ARGB32);
        qel::PixelTarget target;
        target.pixels = image.bits();
        target.stride = static_cast<std::size_t>(image.bytesPerLine());
        target.size = {picture.width(), picture.height()};
        target.order = qel::ChannelOrder::argb32;
        if (image.isNull() || !qel::convertPicture(picture.sprite, target)) {
            refusal_ = QStringLiteral("out of memory");
            return false;
        }
        image_ = image;
        return true;
    } catch (const std::bad_alloc&) {
        refusal_ = QStringLiteral("out of memory");
        return false;
    }
}

bool QelImageHandler::read(QImage* image) {
    if (!load()) {
        qWarning("qel: cannot show this packed picture: %s", qPrintable(refusal_));
        return false;
    }
    *image = image_;
    return true;
}

bool QelImageHandler::write(const QImage& image) {
    // Straight alpha, so that a transparent pixel stays alpha 0 and an
    // opaque one keeps its colour exactly.
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    if (rgba.isNull() || !device()) return false;
    qel::PackedFromRgba packed;
    try {
        packed = qel::packRgba(rgba.constBits(), rgba.width(), rgba.height(),
                               static_cast<std::size_t>(rgba.bytesPerLine()), 4);
    } catch (const std::bad_alloc&) {
        packed.refusal = "is more than there is memory for";
    }
    if (!packed.refusal.empty()) {
        qWarning("qel: cannot save as a packed picture: %s", packed.refusal.c_str());
        return false;
    }
    const qint64 size = static_cast<qint64>(packed.packed.size());
    return device()->write(reinterpret_cast<const char*>(packed.packed.data()), size) == size;
}

QVariant QelImageHandler::option(ImageOption option) const {
    if (option == ImageFormat) return QImage::Format_ARGB32;
    if (option == Size && load()) return image_.size();
    return QVariant();
}

bool QelImageHandler::supportsOption(ImageOption option) const { return option == Size || option == ImageFormat; }

QImageIOPlugin::Capabilities QelImagePlugin::capabilities(QIODevice* device, const QByteArray& format) const {
    if (format == "qel") return CanRead | CanWrite;
    // Another format named, or a guess by content: only what looks packed.
    if (!format.isEmpty() || !device || !device->isOpen()) return {};
    Capabilities capabilities;
    if (device->isReadable() && QelImageHandler::canRead(device)) capabilities |= CanRead;
    return capabilities;
}

QImageIOHandler* QelImagePlugin::create(QIODevice* device, const QByteArray& format) const {
    auto* handler = new QelImageHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("qel") : format);
    return handler;
}

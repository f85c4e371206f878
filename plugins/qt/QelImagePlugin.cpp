#include "plugins/qt/QelImagePlugin.h"

#include <QIODevice>
#include <QVariant>
#include <QtGlobal>

#include <new>
#include <vector>

#include "imaging/Picture.h"
#include "imaging/Raster.h"
#include "packed/HostPicture.h"
#include "packed/PackedFile.h"

namespace {

constexpr qint64 kChunk = 4096;

}  // namespace

bool QelImageHandler::canRead() const {
    // Once decoded, the handler knows: its one picture, until it is read.
    if (loaded_ ? refusal_.isEmpty() && !delivered_ : canRead(device())) {
        setFormat("qel");
        return true;
    }
    return false;
}

bool QelImageHandler::canRead(QIODevice* device) {
    if (!device) return false;
    // A packed file holds at most 2048 bytes of BMP, so its stream nearly
    // always ends within the peek, and the viewer's own verdict decides.
    // One that goes on past it (empty blocks after the picture) is decided
    // by the BMP check on what it has inflated to so far.
    const QByteArray head = device->peek(kChunk);
    try {
        return qel::looksLikePackedPicture(reinterpret_cast<const std::uint8_t*>(head.constData()),
                                           static_cast<std::size_t>(head.size()), head.size() < kChunk);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool QelImageHandler::load() const {
    if (loaded_) return refusal_.isEmpty();
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
        qel::DecodeResult result = decoder.finish(nullptr);  // the verdict; pixels come with read()
        if (result.outcome != qel::DecodeOutcome::success) {
            refusal_ = QString::fromStdString(qel::describeOutcome(result));
            return false;
        }
        const qel::BmpInfo info = qel::checkBmp(result.payload.data(), result.payload.size());
        size_ = QSize(info.width, info.height);
        payload_ = std::move(result.payload);
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
    if (delivered_) return false;  // the file's one picture was read
    delivered_ = true;
    try {
        // The host's buffer first, through Qt 6's allocation limit; then the
        // sprite, converted straight into it.
        QImage out;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
        if (!allocateImage(size_, QImage::Format_ARGB32, &out)) {
            qWarning("qel: a %dx%d picture is more than the allocation limit allows", size_.width(), size_.height());
            return false;
        }
#else
        out = QImage(size_, QImage::Format_ARGB32);
#endif
        qel::Raster sprite;
        qel::PixelTarget target;
        target.pixels = out.bits();
        target.stride = static_cast<std::size_t>(out.bytesPerLine());
        target.size = {size_.width(), size_.height()};
        target.order = qel::ChannelOrder::argb32;
        if (out.isNull() || !sprite.loadFromMemory(payload_.data(), payload_.size()) ||
            !qel::convertPicture(sprite, target)) {
            qWarning("qel: out of memory");
            return false;
        }
        *image = out;
        return true;
    } catch (const std::bad_alloc&) {
        qWarning("qel: out of memory");
        return false;
    }
}

int QelImageHandler::imageCount() const { return load() ? 1 : 0; }

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
    if (option == Size && load()) return size_;
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

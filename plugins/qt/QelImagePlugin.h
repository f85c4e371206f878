// The Qt image I/O plugin for packed picture files, built once against Qt 6
// and once against Qt 5 from this one source: Qt image viewers, paint
// programs and KDE's thumbnails read and write `.qel` files through it, with
// the pictures and refusals of the viewer and qel (packed/HostPicture.h).
#pragma once

#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QSize>
#include <QString>

#include <cstdint>
#include <vector>

// One handler reads one file, which holds one picture: once the file is
// decoded, canRead() says whether that picture is still to be read, and a
// second read() fails rather than giving it again (a host reading until
// canRead() is false, as QMovie does, stops).
class QelImageHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage* image) override;
    int imageCount() const override;
    bool write(const QImage& image) override;
    QVariant option(ImageOption option) const override;
    bool supportsOption(ImageOption option) const override;

    // True when device's next bytes are a packed file the viewer shows:
    // peeked, never consumed, and inflated only as far as the payload (at
    // most 2048 bytes, no pixels), whose BMP check decides. Any other zlib
    // stream is someone else's.
    static bool canRead(QIODevice* device);

private:
    // Decodes the device's file once to its verdict and the picture's size,
    // for canRead, the size and read; no pixels until read.
    bool load() const;

    mutable bool loaded_ = false;
    mutable bool delivered_ = false;  // read() has given the picture
    mutable std::vector<std::uint8_t> payload_;  // the BMP, when shown
    mutable QSize size_;
    mutable QString refusal_;
};

class QelImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "qel.json")

public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;
};

// The Qt image I/O plugin for packed picture files, built once against Qt 6
// and once against Qt 5 from this one source: Qt image viewers, paint
// programs and KDE's thumbnails read and write `.qel` files through it, with
// the pictures and refusals of the viewer and qel (packed/HostPicture.h).
#pragma once

#include <QImage>
#include <QImageIOHandler>
#include <QImageIOPlugin>
#include <QString>

class QelImageHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage* image) override;
    bool write(const QImage& image) override;
    QVariant option(ImageOption option) const override;
    bool supportsOption(ImageOption option) const override;

    // True when device's next bytes start as a packed file can: peeked,
    // never consumed.
    static bool canRead(QIODevice* device);

private:
    // Decodes the device's file once, for the size and for read.
    bool load() const;

    mutable bool loaded_ = false;
    mutable QImage image_;
    mutable QString refusal_;
};

class QelImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "qel.json")

public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;
};

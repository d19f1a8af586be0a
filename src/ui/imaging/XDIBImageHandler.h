#pragma once

// TDIB as Qt's picture class for the "dib" format ("Device Independent
// Bitmap"): QImageReader and QImageWriter read and write BMP files through
// TDIB's own reader and writer when asked for the format "dib" or given a
// ".dib" file. The program enters the class at start-up and takes it out again
// at exit (TDIBPictureClassEntry).

#include <QImageIOHandler>
#include <QImageIOPlugin>

namespace zx {

class TDIBImageIOHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage* image) override;
    bool write(const QImage& image) override;

    // Whether the device's next bytes start a BMP file; the position stays.
    static bool CanRead(QIODevice* device);
};

class TDIBImageIOPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "dib.json")

public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

// While one of these lives, the "dib" format is entered with Qt; afterwards
// the plugin declines every request (Qt keeps a static plugin for the rest of
// the process, but nothing reaches TDIB through it any more).
class TDIBPictureClassEntry {
public:
    TDIBPictureClassEntry();
    ~TDIBPictureClassEntry();
    TDIBPictureClassEntry(const TDIBPictureClassEntry&) = delete;
    TDIBPictureClassEntry& operator=(const TDIBPictureClassEntry&) = delete;

    static bool Registered();
};

} // namespace zx

#include "ui/imaging/XDIBImageHandler.h"

#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QIODevice>
#include <QImage>
#include <QtPlugin>
#include <exception>

// moc makes this for the plugin class because the library is built with
// QT_STATICPLUGIN; Q_IMPORT_PLUGIN would declare it the same way.
extern const QStaticPlugin qt_static_plugin_TDIBImageIOPlugin();

namespace zx {

namespace {

    bool g_registered = false;
    bool g_staticPluginAdded = false;

} // namespace

bool TDIBImageIOHandler::CanRead(QIODevice* device)
{
    return device && device->peek(2) == "BM";
}

bool TDIBImageIOHandler::canRead() const
{
    if (!CanRead(device()))
        return false;
    setFormat("dib");
    return true;
}

bool TDIBImageIOHandler::read(QImage* image)
{
    if (!device() || !image)
        return false;
    const QByteArray bytes = device()->readAll();
    try {
        TSpanStream stream(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
        TDIB picture;
        picture.LoadFromStream(stream);
        if (picture.Empty())
            return false;
        *image = DIBToQImage(picture);
        return !image->isNull();
    } catch (const std::exception&) {
        // Qt's readers report failure, not exceptions; QImageReader says "unable
        // to read" for it.
        return false;
    }
}

bool TDIBImageIOHandler::write(const QImage& image)
{
    if (!device() || image.isNull())
        return false;
    try {
        const TDIB picture = QImageToDIB(image);
        TMemoryStream stream;
        picture.SaveToStream(stream);
        const auto& data = stream.Data();
        return device()->write(reinterpret_cast<const char*>(data.data()), qint64(data.size()))
            == qint64(data.size());
    } catch (const std::exception&) {
        return false;
    }
}

QImageIOPlugin::Capabilities TDIBImageIOPlugin::capabilities(
    QIODevice* device, const QByteArray& format) const
{
    if (!g_registered)
        return {};
    if (format == "dib")
        return CanRead | CanWrite;
    if (!format.isEmpty() || !device)
        return {};
    Capabilities result;
    if (device->isReadable() && TDIBImageIOHandler::CanRead(device))
        result |= CanRead;
    return result;
}

QImageIOHandler* TDIBImageIOPlugin::create(QIODevice* device, const QByteArray& format) const
{
    if (!g_registered)
        return nullptr;
    auto* handler = new TDIBImageIOHandler;
    handler->setDevice(device);
    handler->setFormat(format.isEmpty() ? QByteArray("dib") : format);
    return handler;
}

TDIBPictureClassEntry::TDIBPictureClassEntry()
{
    if (!g_staticPluginAdded) {
        // What Q_IMPORT_PLUGIN does at static initialisation, done here so that
        // the entry is made at start-up, in the program's own order.
        qRegisterStaticPluginFunction(qt_static_plugin_TDIBImageIOPlugin());
        g_staticPluginAdded = true;
    }
    g_registered = true;
}

TDIBPictureClassEntry::~TDIBPictureClassEntry()
{
    g_registered = false;
}

bool TDIBPictureClassEntry::Registered()
{
    return g_registered;
}

} // namespace zx

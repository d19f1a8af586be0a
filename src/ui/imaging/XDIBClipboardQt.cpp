#include "ui/imaging/XDIBClipboardQt.h"

#include "core/Stream.h"
#include "core/imaging/XDIBClipboard.h"
#include "core/imaging/XDIBUnitMessages.h"
#include "core/imaging/XImageFileUnitRGBA.h"
#include "ui/imaging/XDIBCanvas.h"

#include <QByteArray>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <exception>

namespace zx {

QMimeData* MakePictureMimeData(const TDIB& picture)
{
    auto* data = new QMimeData;
    if (picture.Empty())
        return data;
    TMemoryStream file;
    picture.SaveToStream(file);
    data->setData(QString::fromLatin1(kBmpMimeType),
        QByteArray(
            reinterpret_cast<const char*>(file.Data().data()), qsizetype(file.Data().size())));
    data->setImageData(DIBToQImage(picture));
    return data;
}

void CopyPictureToClipboard(const TDIB& picture, QClipboard* clipboard)
{
    clipboard->setMimeData(MakePictureMimeData(picture));
}

bool ClipboardHasPicture(const QMimeData* data)
{
    return data && (data->hasImage() || data->hasFormat(QString::fromLatin1(kBmpMimeType)));
}

bool ClipboardHasPicture(const QClipboard* clipboard)
{
    return ClipboardHasPicture(clipboard->mimeData());
}

TDIB PictureFromClipboard(const QMimeData* data)
{
    TDIB picture;
    if (!data)
        return picture;
    const QString bmp = QString::fromLatin1(kBmpMimeType);
    if (data->hasFormat(bmp)) {
        const QByteArray bytes = data->data(bmp);
        try {
            TSpanStream stream(std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                std::size_t(bytes.size())));
            picture.LoadFromStream(stream);
            if (!picture.Empty())
                return picture;
        } catch (const std::exception&) {
            // Not a BMP we read: let Qt try the same bytes and the other formats.
        }
    }
    if (data->hasImage())
        picture = QImageToDIB(qvariant_cast<QImage>(data->imageData()));
    return picture;
}

TDIB PictureFromClipboard(const QClipboard* clipboard)
{
    return PictureFromClipboard(clipboard->mimeData());
}

TPicture PictureWithAlphaFromClipboard(const QMimeData* data)
{
    TPicture picture;
    const bool bmp = data && data->hasFormat(QString::fromLatin1(kBmpMimeType));
    const QImage image
        = data && !bmp && data->hasImage() ? qvariant_cast<QImage>(data->imageData()) : QImage();
    if (image.isNull() || !image.hasAlphaChannel()) {
        picture.Color = PictureFromClipboard(data);
        return picture;
    }
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    TRGBAPictureBuilder builder(
        std::uint64_t(rgba.width()), std::uint64_t(rgba.height()), true, DIBMessages::sInvalidDIB);
    for (int y = 0; y < rgba.height(); ++y)
        builder.SetRow(y, rgba.constScanLine(y));
    builder.Finish(picture);
    return picture;
}

} // namespace zx

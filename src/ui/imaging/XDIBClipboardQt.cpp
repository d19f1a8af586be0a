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
#include <QStringList>
#include <algorithm>
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
    return DecodeClipboardPicture(TakeClipboardPicture(data, true));
}

TClipboardPicture TakeClipboardPicture(const QMimeData* data, bool ownData)
{
    TClipboardPicture taken;
    if (!data)
        return taken;
    const QString bmp = QString::fromLatin1(kBmpMimeType);
    taken.HasBmp = data->hasFormat(bmp);
    if (taken.HasBmp)
        taken.Bmp = data->data(bmp);
    if (!data->hasImage())
        return taken;
    if (!ownData) {
        // Another program's picture comes encoded; fetching the bytes is
        // cheap, decoding them is not.
        QStringList formats = data->formats();
        std::stable_partition(formats.begin(), formats.end(),
            [](const QString& format) { return format == QLatin1String("image/png"); });
        for (const QString& format : formats) {
            if (!format.startsWith(QLatin1String("image/")) || format == bmp)
                continue;
            taken.Encoded = data->data(format);
            if (!taken.Encoded.isEmpty())
                return taken;
        }
    }
    taken.Image = qvariant_cast<QImage>(data->imageData());
    return taken;
}

TPicture DecodeClipboardPicture(const TClipboardPicture& taken)
{
    TPicture picture;
    if (taken.HasBmp) {
        try {
            TSpanStream stream(std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(taken.Bmp.constData()),
                std::size_t(taken.Bmp.size())));
            picture.Color.LoadFromStream(stream);
            if (!picture.Color.Empty())
                return picture;
        } catch (const std::exception&) {
            // Not a BMP we read: the image, if there is one, without alpha.
        }
        picture.Color.Clear();
    }
    const QImage image = taken.Image.isNull() && !taken.Encoded.isEmpty()
        ? QImage::fromData(taken.Encoded)
        : taken.Image;
    if (taken.HasBmp || image.isNull() || !image.hasAlphaChannel()) {
        picture.Color = QImageToDIB(image);
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

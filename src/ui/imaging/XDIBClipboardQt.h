#pragma once

// The system clipboard's side of pictures. A picture goes on the clipboard as
// "image/bmp" (a BMP file: the file header followed by the packed-DIB block of
// SaveToClipboardFormat) and as an image for programs that prefer another
// format; paste takes whatever bitmap the clipboard offers.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <QByteArray>
#include <QImage>

class QClipboard;
class QMimeData;

namespace zx {

inline constexpr const char* kBmpMimeType = "image/bmp";

// The mime data for a picture; the caller owns it (QClipboard::setMimeData
// takes it over).
QMimeData* MakePictureMimeData(const TDIB& picture);
void CopyPictureToClipboard(const TDIB& picture, QClipboard* clipboard);

// True when the clipboard holds a bitmap of any kind.
bool ClipboardHasPicture(const QMimeData* data);
bool ClipboardHasPicture(const QClipboard* clipboard);

// The clipboard's bitmap: a BMP block read through TDIB's own reader when one is
// there and reads, otherwise the image Qt decodes. Empty when there is none.
TDIB PictureFromClipboard(const QMimeData* data);
TDIB PictureFromClipboard(const QClipboard* clipboard);

// The same with the bitmap's transparency: an image with an alpha channel
// gives its colours unmultiplied and an alpha plane (none when every pixel is
// opaque); the BMP block and opaque images give the colours of
// PictureFromClipboard and no plane.
TPicture PictureWithAlphaFromClipboard(const QMimeData* data);

// The clipboard's picture as it is taken on the window's thread, for
// decoding on any other: the bytes of its BMP block, the bytes of the first
// encoded picture it offers ("image/png" first), and the image itself where
// that costs no decoding (the program's own clipboard: ownData) or nothing
// encoded is offered.
struct TClipboardPicture {
    bool HasBmp = false;
    QByteArray Bmp;
    QByteArray Encoded;
    QImage Image;
};
TClipboardPicture TakeClipboardPicture(const QMimeData* data, bool ownData);
// What PictureWithAlphaFromClipboard gives for the data it was taken from.
TPicture DecodeClipboardPicture(const TClipboardPicture& taken);

} // namespace zx

#pragma once

// The system clipboard's side of pictures. A picture goes on the clipboard as
// "image/bmp" (a BMP file: the file header followed by the packed-DIB block of
// SaveToClipboardFormat) and as an image for programs that prefer another
// format; paste takes whatever bitmap the clipboard offers.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

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

} // namespace zx

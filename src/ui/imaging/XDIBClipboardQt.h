#pragma once

// The system clipboard's side of pictures. A picture goes on the clipboard as
// "image/bmp" (a BMP file: the file header followed by the packed-DIB block of
// SaveToClipboardFormat) and as an image for programs that prefer another
// format; paste takes whatever bitmap the clipboard offers.

#include "core/imaging/XDIBUnit.h"

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

} // namespace zx

#pragma once

// Picture loading: a picture file, the built-in picture or a pasted bitmap
// becomes the flag's source picture, always a 24-bit TDIB of the picture's own
// size. A load that fails leaves the target exactly as it was.

#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <span>
#include <string>

namespace zx {

// Loads a picture file into target, choosing the reader by the file name's
// extension: ".JPG" is read as JPEG, ".GIF" as GIF, anything else as BMP.
// Every failure is raised, and target then keeps its storage and pixels.
void LoadPictureFile(const std::string& fileName, TDIB& target);

// Makes target a 24-bit picture of bitmap's size showing bitmap at (0, 0).
void ImportBitmap(const TDIB& bitmap, TDIB& target);

// The extension that chooses the reader: the part of the name from the last
// "." after the last "/", "\" or ":", dot included, ASCII letters upper-cased;
// empty when there is none.
std::string PictureFileExtension(const std::string& fileName);

// The JPEG road on a whole file in memory: target becomes the decoded 24-bit
// picture. Errors are EInvalidGraphic "JPEG-Fehler #%d" with libjpeg's message
// code, EInvalidGraphic "JPEG 文件的扫描超过 100 个" for a file of more than 100
// scans, or EImageTooLarge; target is then left as it was.
void LoadJPEGPicture(std::span<const std::uint8_t> file, TDIB& target);

} // namespace zx

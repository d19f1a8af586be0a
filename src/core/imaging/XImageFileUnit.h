#pragma once

// Picture loading: a picture file, the built-in picture or a pasted bitmap
// becomes the flag's source picture, always a 24-bit TDIB of the picture's own
// size, and, for a picture with transparency, an 8-bit alpha plane beside it.
// A load that fails leaves the target exactly as it was.

#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <span>
#include <string>

namespace zx {

// A loaded picture. Color is 24 bits per pixel with the colours as the file
// stores them (not multiplied by alpha). Alpha is empty for an opaque picture,
// otherwise an 8-bit TDIB of Color's size, one byte per pixel, 255 = opaque.
// A picture whose every pixel is opaque has no alpha plane, so that it renders
// exactly like the same picture without one.
struct TPicture {
    TDIB Color;
    TDIB Alpha;

    bool HasAlpha() const { return !Alpha.Empty(); }
};

// The decoders the loader knows, and Unknown for content none of them claims.
enum class TPictureFormat { Unknown, BMP, JPEG, GIF, PNG, WebP, SVG };

// The format a file's first bytes announce: "BM", FF D8 FF, "GIF87a" or
// "GIF89a", the PNG signature, "RIFF" size "WEBP", or XML text whose root
// element is svg.
TPictureFormat DetectPictureFormat(std::span<const std::uint8_t> file);

// The road a file takes: the format its content announces, else the one its
// name's extension chooses (".JPG" JPEG, ".GIF" GIF, anything else BMP).
TPictureFormat PictureFormatFor(const std::string& fileName, std::span<const std::uint8_t> file);

// The format's name for messages ("PNG", "WebP", ...; "unknown").
const char* PictureFormatName(TPictureFormat format);

// Loads a picture file into target, choosing the reader by the file's content
// and, for content no reader claims, by its extension. Every failure is
// raised, and target then keeps its storage and pixels.
void LoadPictureFile(const std::string& fileName, TPicture& target);
// The same for callers that take the colours only.
void LoadPictureFile(const std::string& fileName, TDIB& target);
// The same on a file already in memory; fileName only supplies the extension.
void LoadPicture(std::span<const std::uint8_t> file, const std::string& fileName, TPicture& target);

// Makes target a 24-bit picture of bitmap's size showing bitmap at (0, 0).
void ImportBitmap(const TDIB& bitmap, TDIB& target);

// The extension that chooses the reader: the part of the name from the last
// "." after the last "/", "\" or ":", dot included, ASCII letters upper-cased;
// empty when there is none.
std::string PictureFileExtension(const std::string& fileName);

// The JPEG road on a whole file in memory: target becomes the decoded 24-bit
// picture, turned and mirrored as the file's EXIF orientation asks. Errors are
// EInvalidGraphic "JPEG-Fehler #%d" with libjpeg's message code,
// EInvalidGraphic "JPEG 文件的扫描超过 100 个" for a file of more than 100
// scans, or EImageTooLarge; target is then left as it was.
void LoadJPEGPicture(std::span<const std::uint8_t> file, TDIB& target);

// The PNG road (libspng): every colour type and bit depth, palettes with tRNS,
// Adam7; 16-bit samples keep their high byte; gamma and colour chunks are not
// applied. Errors are EInvalidGraphic "PNG 文件无效: <reason>" or
// EImageTooLarge; target is then left as it was.
void LoadPNGPicture(std::span<const std::uint8_t> file, TPicture& target);

// The WebP road (libwebp): lossy and lossless still pictures with or without
// alpha; of an animation its first frame on the canvas. Errors are
// EInvalidGraphic "WebP 文件无效: <reason>" or EImageTooLarge.
void LoadWebPPicture(std::span<const std::uint8_t> file, TPicture& target);

// The SVG road (librsvg): the drawing rendered with its own proportions, its
// longer side kSVGRenderSize pixels, transparent where it draws nothing.
// Nothing outside the file is ever read. Errors are EInvalidGraphic
// "SVG 文件无效: <reason>".
//
// Drawing a hostile file can take without end (filters are not bounded by
// librsvg), so the drawing is watched: past limit.CpuSeconds of the drawing's
// CPU time, or limit.WallSeconds of waiting, the load fails with
// "SVG 文件无效: drawing it takes too long ..." at once; the abandoned
// drawing finishes by itself and its result is dropped.
struct TSVGTimeLimit {
    double CpuSeconds = 10;
    double WallSeconds = 120;
};
inline constexpr TSVGTimeLimit kSVGTimeLimit {};
void LoadSVGPicture(std::span<const std::uint8_t> file, TPicture& target);
void LoadSVGPicture(std::span<const std::uint8_t> file, TPicture& target, TSVGTimeLimit limit);

// The longer side of a rendered SVG: four samples per pixel of the widest
// frame (320) at 4x4 antialiasing, so a drawing never looks magnified.
inline constexpr std::int32_t kSVGRenderSize = 1280;

// The EXIF orientation (TIFF tag 0x0112) of a JPEG file: 1..8, or 1 when the
// file has no APP1 "Exif" segment before its first scan, or the tag is
// missing, malformed or out of range. Never reads outside file.
std::int32_t ReadExifOrientation(std::span<const std::uint8_t> file);

// Turns and mirrors a picture stored with EXIF orientation 2..8 into the
// picture meant to be shown (1 and any other value leave it alone).
// 2: mirrored left-right; 3: turned 180 degrees; 4: mirrored top-bottom;
// 5: mirrored along the main diagonal; 6: turned 90 degrees clockwise;
// 7: mirrored along the other diagonal; 8: turned 90 degrees anticlockwise.
void ApplyExifOrientation(TDIB& picture, std::int32_t orientation);

} // namespace zx

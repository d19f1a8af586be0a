#pragma once

// The one BMP parser. It serves TDIB's own stream reader (strict: the shapes a
// TDIB can hold, kept as stored) and the picture loader's BMP road (lenient: what
// a platform bitmap reader accepts, always converted to a 24-bit picture).

#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <memory>
#include <span>

namespace zx {

// The two readers the parser acts as.
enum class TBMPReadMode {
    // TDIB's own reader: 12- and 40-byte info headers and the shapes a storage
    // can hold; RLE pixels are kept compressed.
    bmStrict,
    // The picture loader's reader: every header version, bit count and mask a
    // platform bitmap reader takes, converted to 24 bits.
    bmLenient,
};

// A BMP file header (BITMAPFILEHEADER) and where it began in its stream; the
// pixel-data offset counts from there.
struct TBMPFileHeader {
    std::uint64_t Start = 0;
    std::uint32_t FileSize = 0;
    std::uint32_t PixelOffset = 0;
};

// What the info header, the masks and the colour table of a packed DIB say.
struct TBMPInfo {
    std::uint32_t HeaderSize = 0;
    std::int64_t Width = 0;
    // The absolute row count; TopDown tells the sign the header stored.
    std::int64_t Height = 0;
    bool TopDown = false;
    std::uint32_t Planes = 0;
    std::int32_t BitCount = 0;
    std::uint32_t Compression = 0;
    std::uint32_t ImageSize = 0;
    std::uint32_t ColorsUsed = 0;
    // Red, green, blue and alpha masks; meaningful when HasMasks is set.
    bool HasMasks = false;
    std::uint32_t Masks[4] = {};
    // Entries beyond ColorCount are zero (black).
    TDIBColorTable ColorTable {};
    std::int32_t ColorCount = 0;
    // Stream position of the first byte of pixel data.
    std::uint64_t PixelPosition = 0;
};

// Reads the 14-byte file header at the stream's position. Returns false when
// the stream has no bytes left; raises "DIB 无效" (EInvalidGraphic) when fewer
// than 14 bytes come or the type is not "BM".
bool ReadBMPFileHeader(TStream& stream, TBMPFileHeader& header);

// Reads the info header, masks and colour table of a packed DIB at the
// stream's position, with the acceptance rules of mode. file is the header of
// the BMP file the DIB belongs to, or null for a bare packed DIB. Returns false
// (strict mode only) when the stream has no bytes left. Leaves the stream at
// the end of the colour table.
bool ReadBMPInfo(TStream& stream, TBMPReadMode mode, const TBMPFileHeader* file, TBMPInfo& info);

// TDIB's reader: a packed DIB at the stream's position as a new storage, RLE
// pixels kept compressed. The shared empty storage when the stream has no
// bytes left. Raises "DIB 无效", Allocate's errors, EImageTooLarge or the
// stream's read error; nothing is changed but the stream's position.
std::shared_ptr<TDIBSharedImage> ReadDIBStorage(
    TStream& stream, bool plainMemory, const TBMPFileHeader* file);

// The picture loader's BMP road: reads a complete BMP file and makes target a
// 24-bit picture of the file's size with the colours the file shows. On any
// failure target is left exactly as it was and the error is raised.
void LoadBMPPicture(std::span<const std::uint8_t> file, TDIB& target);

} // namespace zx

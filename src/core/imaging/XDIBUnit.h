#pragma once

// TDIB: the program's in-memory bitmap. Pixels are stored exactly as the rows of
// a BMP file (bottom-up, each row padded to 4 bytes) with 1, 4, 8, 16, 24 or 32
// bits per pixel and a 256-entry colour table. The pixel storage is shared
// between copies and copied on the first write.

#include "core/Stream.h"
#include "core/ZeroedBlock.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zx {

// ---------------------------------------------------------------------------
// Colour entries and channel layouts

// One colour-table entry in BMP order: blue, green, red, 0.
struct TRGBQuad {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
    std::uint8_t Reserved = 0;

    friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};
static_assert(sizeof(TRGBQuad) == 4);

using TDIBColorTable = std::array<TRGBQuad, 256>;

// A table with entry i = (i, i, i, 0): the colour table nobody has set.
TDIBColorTable GreyRamp();
void GreyRamp(TDIBColorTable& table);

// How the three colour channels are packed into a 16- or 32-bit pixel.
struct TDIBChannelLayout {
    std::int32_t RedMask = 0;
    std::int32_t GreenMask = 0;
    std::int32_t BlueMask = 0;
    std::int32_t RedBits = 0;
    std::int32_t GreenBits = 0;
    std::int32_t BlueBits = 0;
    std::int32_t RedShift = 0;
    std::int32_t GreenShift = 0;
    std::int32_t BlueShift = 0;
    std::int32_t RedFill = 0;
    std::int32_t GreenFill = 0;
    std::int32_t BlueFill = 0;

    bool SameMasks(const TDIBChannelLayout& other) const
    {
        return RedMask == other.RedMask && GreenMask == other.GreenMask
            && BlueMask == other.BlueMask;
    }
    friend bool operator==(const TDIBChannelLayout&, const TDIBChannelLayout&) = default;
};

// Builds a layout from three channel widths, red most significant.
TDIBChannelLayout MakeChannelLayout(
    std::int32_t redBits, std::int32_t greenBits, std::int32_t blueBits);
// Measures each mask's width (the run of ones from its lowest set bit) and builds
// the layout from the widths alone; the masks' positions are not used.
TDIBChannelLayout MakeChannelLayoutFromMasks(
    std::uint32_t redMask, std::uint32_t greenMask, std::uint32_t blueMask);

// The three named layouts.
const TDIBChannelLayout& Layout555(); // masks 0x7C00, 0x03E0, 0x001F
const TDIBChannelLayout& Layout565(); // masks 0xF800, 0x07E0, 0x001F
const TDIBChannelLayout& Layout888(); // masks 0xFF0000, 0xFF00, 0xFF

// Pixel packing with a layout (16- and 32-bit pixels).
std::uint32_t PackPixel(
    const TDIBChannelLayout& layout, std::int32_t red, std::int32_t green, std::int32_t blue);
void UnpackPixel(const TDIBChannelLayout& layout, std::uint32_t value, std::uint8_t& red,
    std::uint8_t& green, std::uint8_t& blue);
// A colour-table entry as the little-endian value 0x00RRGGBB.
std::uint32_t MakeColorEntry(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
// Exchanges the lowest and the third byte and clears the top byte.
std::uint32_t SwapRedBlue(std::uint32_t value);

// Bytes per row for a width and bit count: rows are padded to 4 bytes.
std::int64_t DIBRowBytes(std::int64_t width, std::int32_t bitCount);

// ---------------------------------------------------------------------------
// Palette cache. Pictures with equal colour tables share one palette. No
// platform palette is made (the drawing layer shows indexed pixels through the
// colour table), so a handle only stands for a shared table; 0 is "none".

using HPalette = std::uint32_t;

class TPaletteManager {
public:
    // Returns a palette for the first count entries, sharing an existing one
    // whose checksum, count and entries are equal (it gains a reference).
    HPalette AcquirePalette(const TRGBQuad* entries, std::int32_t count);
    // Drops one reference; the palette is destroyed with its last reference.
    // The caller's handle becomes 0 when it was found.
    void ReleasePalette(HPalette& handle);

    // Inspection (tests, and SetPalette reading a palette's entries).
    std::size_t ItemCount() const { return m_items.size(); }
    std::int32_t RefCount(HPalette handle) const;
    // The palette's entries in a platform palette's order: red, green, blue,
    // flags 0. Empty for an unknown handle.
    std::vector<std::array<std::uint8_t, 4>> Entries(HPalette handle) const;

private:
    struct TPaletteItem {
        std::int32_t Checksum = 0;
        HPalette Palette = 0;
        std::int32_t RefCount = 0;
        std::vector<TRGBQuad> Entries;
    };
    std::vector<TPaletteItem> m_items;
    HPalette m_nextHandle = 1;
};

// The one global palette cache.
TPaletteManager& PaletteManager();

// ---------------------------------------------------------------------------
// Pixel storage

class TDIBSharedImage {
public:
    TDIBSharedImage();
    ~TDIBSharedImage();
    TDIBSharedImage(const TDIBSharedImage&) = delete;
    TDIBSharedImage& operator=(const TDIBSharedImage&) = delete;

    // The one place where a storage gets its shape. Throws "Bitcount in invalid
    // (%d)" or "像素格式无效". With compressed set no pixel memory is allocated:
    // the caller supplies the compressed bytes with SetCompressedData.
    static std::shared_ptr<TDIBSharedImage> Allocate(std::int32_t width, std::int32_t height,
        std::int32_t bitCount, const TDIBChannelLayout& layout, const TDIBColorTable& colorTable,
        bool plainMemory, bool compressed);
    // An exact copy (a compressed source stays compressed).
    static std::shared_ptr<TDIBSharedImage> Duplicate(
        const TDIBSharedImage& source, bool plainMemory);
    // An uncompressed copy; RLE8/RLE4 streams are decoded into rows.
    static std::shared_ptr<TDIBSharedImage> Decompress(
        const TDIBSharedImage& source, bool plainMemory);

    // The shape Allocate gave the storage; all 0 for an empty one.
    std::int32_t Width() const { return m_width; }
    std::int32_t Height() const { return m_height; }
    std::int32_t BitCount() const { return m_bitCount; }
    // Bytes per row (padded to 4) and from one row to the next one down.
    std::int32_t RowBytes() const { return m_rowBytes; }
    std::int32_t RowStep() const { return m_rowStep; }
    // Bytes of pixel memory.
    std::int32_t Size() const { return m_size; }
    const TDIBChannelLayout& Layout() const { return m_layout; }
    // 2^BitCount entries of the colour table are the palette (0 above 8 bits).
    std::int32_t PaletteCount() const { return m_paletteCount; }
    // The committed colour table, all 256 entries.
    const TDIBColorTable& ColorTable() const { return m_colorTable; }
    // The pixels are an RLE stream (CompressedData) rather than rows.
    bool Compressed() const { return m_compressed; }
    // Every storage here is ordinary memory that the canvas can draw into; the
    // flag is kept because copies carry it along.
    bool PlainMemory() const { return m_plainMemory; }
    // The packed DIB's header as written to a file: the 40-byte info header,
    // the three masks for 16 and 32 bits, then PaletteCount colour entries.
    std::span<const std::uint8_t> BitmapInfo() const { return m_bitmapInfo; }
    std::int32_t BitmapInfoSize() const { return m_bitmapInfoSize; }

    // Copies all 256 entries and marks the palette dirty; with pixels and a
    // palette, also the first PaletteCount entries into BitmapInfo.
    void SetColorTable(const TDIBColorTable& table);
    // The palette for the colour table, remade when dirty; 0 without a palette.
    HPalette GetPalette();
    // The header's biClrImportant field: how many entries of the colour table
    // the picture needs (0: all of them).
    void SetImportantColorCount(std::uint32_t count);

    // The compressed RLE stream of a Compressed storage; records its length as
    // the header's image size.
    void SetCompressedData(std::vector<std::uint8_t> data);
    std::span<const std::uint8_t> CompressedData() const { return m_rleStream; }
    // The header's image size field: Size, or the compressed stream's length.
    std::uint32_t ImageSize() const;
    // The compression field of the header: 0 (rows), 1 (RLE8), 2 (RLE4), 3 (bit fields).
    std::uint32_t Compression() const;

    // The pixel memory, bottom row first; null for an empty or compressed
    // storage. TopBits is the first byte of the top row.
    std::uint8_t* Bits() { return m_pixels.get(); }
    const std::uint8_t* Bits() const { return m_pixels.get(); }
    std::uint8_t* TopBits()
    {
        return m_pixels ? m_pixels.get() + std::int64_t(m_height - 1) * m_rowBytes : nullptr;
    }
    const std::uint8_t* TopBits() const
    {
        return m_pixels ? m_pixels.get() + std::int64_t(m_height - 1) * m_rowBytes : nullptr;
    }

private:
    // Tests that forge a damaged header reach it through this.
    friend struct TDIBSharedImageTestAccess;

    std::int32_t m_bitCount = 0;
    std::vector<std::uint8_t> m_bitmapInfo;
    std::int32_t m_bitmapInfoSize = 0;
    // The colour table changed since the palette was made.
    bool m_paletteDirty = false;
    TDIBColorTable m_colorTable {};
    std::int32_t m_colorTableOffset = 40;
    bool m_compressed = false;
    std::int32_t m_height = 0;
    bool m_plainMemory = true;
    std::int32_t m_rowStep = 0;
    HPalette m_palette = 0;
    std::int32_t m_paletteCount = 0;
    TDIBChannelLayout m_layout;
    std::int32_t m_size = 0;
    std::int32_t m_width = 0;
    std::int32_t m_rowBytes = 0;

    // Zeroed, and in large pages when big (core/ZeroedBlock.h).
    using TPixels = TZeroedBlock;
    TPixels m_pixels;
    std::vector<std::uint8_t> m_rleStream;
};

// The one empty storage every new or cleared picture refers to.
const std::shared_ptr<TDIBSharedImage>& SharedEmptyImage();

// Decodes an RLE8 (bitCount 8) or RLE4 (bitCount 4) stream into the rows of an
// uncompressed storage of the same shape. Runs and offsets that leave the
// picture are clipped: nothing is written outside the pixel memory. A bitCount
// other than the target's decodes nothing.
void DecodeRLE(
    std::span<const std::uint8_t> stream, std::int32_t bitCount, TDIBSharedImage& target);

// ---------------------------------------------------------------------------
// Progress notifications of row-by-row operations.

enum class TProgressStage { psStarting, psRunning, psEnding };

struct TProgressRect {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    friend bool operator==(const TProgressRect&, const TProgressRect&) = default;
};

using TProgressEvent = std::function<void(TProgressStage stage, std::int32_t percentDone,
    bool redrawNow, const TProgressRect& rect, const std::string& message)>;

// ---------------------------------------------------------------------------
// The picture

class TDIB {
public:
    TDIB();
    ~TDIB();
    // Copies share the storage, as Assign does.
    TDIB(const TDIB& other);
    TDIB& operator=(const TDIB& other);

    // --- shape
    void SetSize(std::int32_t width, std::int32_t height, std::int32_t bitCount);
    void Clear();
    void SetWidth(std::int32_t value);
    void SetHeight(std::int32_t value);
    std::int32_t Width() const { return m_image->Width(); }
    std::int32_t Height() const { return m_image->Height(); }
    std::int32_t BitCount() const { return m_image->BitCount(); }
    std::int32_t Size() const { return m_image->Size(); }
    std::int32_t RowBytes() const { return m_image->RowBytes(); }
    std::int32_t RowStep() const { return m_image->RowStep(); }
    bool Empty() const { return m_image->Size() == 0; }
    const TDIBChannelLayout& Layout() const { return m_image->Layout(); }
    std::int32_t PaletteCount() const { return m_image->PaletteCount(); }

    // --- pixel access. The writable accessors unshare first (copy on write).
    // ScanLine(y) is row y counted from the top; throws "扫描线指针超过范围。(%d)".
    std::uint8_t* ScanLine(std::int32_t y);
    std::uint8_t* Bits();
    std::uint8_t* TopBits();
    // Read-only access never copies; a compressed storage is decoded first.
    const std::uint8_t* ConstScanLine(std::int32_t y) const;
    const std::uint8_t* ConstBits() const;
    // The pixel at (x, y) from the top; 0 outside the picture. 1/4/8 bits: the
    // index; 16: the raw word; 24: red | green << 8 | blue << 16; 32: the raw word.
    std::uint32_t Pixel(std::int32_t x, std::int32_t y) const;

    // --- colours
    // The working table; edits take effect with UpdatePalette.
    TDIBColorTable& ColorTable() { return m_colorTable; }
    const TDIBColorTable& ColorTable() const { return m_colorTable; }
    void UpdatePalette();
    HPalette GetPalette();
    // Takes ownership of a palette: reads its entries and releases it.
    void SetPalette(HPalette palette);
    // The layout the next SetSize uses.
    TDIBChannelLayout& PixelFormat() { return m_pixelFormat; }
    void SetPixelFormat(const TDIBChannelLayout& layout) { m_pixelFormat = layout; }
    bool PaletteModified() const { return m_paletteModified; }
    void SetPaletteModified(bool value) { m_paletteModified = value; }
    // Sets the header's biClrImportant field (written with the picture): how
    // many entries of the colour table the picture needs, 0 for all. Unshares
    // the storage first.
    void SetImportantColorCount(std::uint32_t count);

    // --- copying
    // Shares the source's storage (the next write unshares).
    void Assign(const TDIB& source);

    // --- BMP files and packed DIBs. A failed read leaves the picture's storage
    // as it was; only the stream's position has moved.
    void LoadFromStream(TStream& stream);
    void SaveToStream(TStream& stream) const;
    void ReadData(TStream& stream);
    void WriteData(TStream& stream) const;

    // --- operations
    // Box blur in place, leaving the picture at bitCount bits.
    void Blur(std::int32_t bitCount, std::int32_t radius);

    // Progress of long row-by-row operations; nobody has to listen.
    TProgressEvent OnProgress;
    void StartProgress(const std::string& name);
    void StepProgress(std::int32_t row);
    void EndProgress();

    // --- storage
    const std::shared_ptr<TDIBSharedImage>& Image() const { return m_image; }
    // Switches to another storage (shared); refreshes the working table and
    // PixelFormat from it.
    void SetImage(std::shared_ptr<TDIBSharedImage> image);
    bool Compressed() const { return m_image->Compressed(); }
    // Gives the picture a private, uncompressed storage.
    void MakeWritable(bool allowPlainMemory = true);
    void EnsureDecompressed() const;

private:
    void SwitchImage(std::shared_ptr<TDIBSharedImage> image) const;

    // mutable: reading a compressed picture decodes it in place of the stream.
    mutable std::shared_ptr<TDIBSharedImage> m_image;
    mutable TDIBColorTable m_colorTable;
    mutable TDIBChannelLayout m_pixelFormat;
    bool m_paletteModified = false;

    std::string m_progressName;
    std::uint64_t m_progressTime = 0;
    std::int32_t m_progressPercent = 0;
    std::int32_t m_progressRow = 0;
    std::int32_t m_progressRedrawRow = 0;
};

} // namespace zx

#include "core/imaging/XDIBUnit.h"

#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/Limits.h"
#include "core/LittleEndian.h"
#include "core/imaging/XDIBUnitMessages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zx {

namespace {

    // Offsets of the info header's fields (BITMAPINFOHEADER).
    constexpr std::size_t kInfoWidth = 4;
    constexpr std::size_t kInfoHeight = 8;
    constexpr std::size_t kInfoPlanes = 12;
    constexpr std::size_t kInfoBitCount = 14;
    constexpr std::size_t kInfoCompression = 16;
    constexpr std::size_t kInfoSizeImage = 20;
    constexpr std::size_t kInfoClrImportant = 36;
    constexpr std::size_t kInfoHeaderSize = 40;

    std::uint32_t ChannelMask(std::int32_t bits)
    {
        return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u;
    }

    // Width of the run of one bits that starts at the mask's lowest set bit.
    std::int32_t MaskWidth(std::uint32_t mask)
    {
        if (mask == 0)
            return 0;
        while ((mask & 1u) == 0)
            mask >>= 1;
        std::int32_t width = 0;
        while ((mask & 1u) != 0 && width < 32) {
            ++width;
            mask >>= 1;
        }
        return width;
    }

} // namespace

// ---------------------------------------------------------------------------
// Colour tables and layouts

TDIBColorTable GreyRamp()
{
    TDIBColorTable table;
    GreyRamp(table);
    return table;
}

void GreyRamp(TDIBColorTable& table)
{
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(i);
        table[i] = TRGBQuad { v, v, v, 0 };
    }
}

TDIBChannelLayout MakeChannelLayout(
    std::int32_t redBits, std::int32_t greenBits, std::int32_t blueBits)
{
    // Masks are computed in 32 unsigned bits, as a register would; widths that
    // do not fit simply shift their bits out.
    auto shifted = [](std::uint32_t mask, std::int32_t by) -> std::int32_t {
        return by >= 32 || by < 0 ? 0 : static_cast<std::int32_t>(mask << by);
    };
    TDIBChannelLayout layout;
    layout.RedMask = shifted(ChannelMask(redBits), greenBits + blueBits);
    layout.GreenMask = shifted(ChannelMask(greenBits), blueBits);
    layout.BlueMask = static_cast<std::int32_t>(ChannelMask(blueBits));
    layout.RedBits = redBits;
    layout.GreenBits = greenBits;
    layout.BlueBits = blueBits;
    layout.RedShift = redBits + greenBits + blueBits - 8;
    layout.GreenShift = greenBits + blueBits - 8;
    layout.BlueShift = 8 - blueBits;
    layout.RedFill = 8 - redBits;
    layout.GreenFill = 8 - greenBits;
    layout.BlueFill = 8 - blueBits;
    return layout;
}

TDIBChannelLayout MakeChannelLayoutFromMasks(
    std::uint32_t redMask, std::uint32_t greenMask, std::uint32_t blueMask)
{
    return MakeChannelLayout(MaskWidth(redMask), MaskWidth(greenMask), MaskWidth(blueMask));
}

const TDIBChannelLayout& Layout555()
{
    static const TDIBChannelLayout layout = MakeChannelLayout(5, 5, 5);
    return layout;
}

const TDIBChannelLayout& Layout565()
{
    static const TDIBChannelLayout layout = MakeChannelLayout(5, 6, 5);
    return layout;
}

const TDIBChannelLayout& Layout888()
{
    static const TDIBChannelLayout layout = MakeChannelLayout(8, 8, 8);
    return layout;
}

std::int64_t DIBRowBytes(std::int64_t width, std::int32_t bitCount)
{
    return (bitCount * width + 31) / 32 * 4;
}

// ---------------------------------------------------------------------------
// Palette cache

HPalette TPaletteManager::AcquirePalette(const TRGBQuad* entries, std::int32_t count)
{
    count = std::clamp(count, 0, 256);
    std::int32_t checksum = count;
    for (std::int32_t i = 0; i < count; ++i)
        checksum += entries[i].Red + entries[i].Green + entries[i].Blue;

    for (auto& item : m_items) {
        if (item.Checksum == checksum && static_cast<std::int32_t>(item.Entries.size()) == count
            && std::equal(item.Entries.begin(), item.Entries.end(), entries)) {
            ++item.RefCount;
            return item.Palette;
        }
    }

    TPaletteItem item;
    item.Checksum = checksum;
    item.Palette = m_nextHandle++;
    item.RefCount = 1;
    item.Entries.assign(entries, entries + count);
    m_items.push_back(std::move(item));
    return m_items.back().Palette;
}

void TPaletteManager::ReleasePalette(HPalette& handle)
{
    if (handle == 0)
        return;
    const auto it = std::find_if(m_items.begin(), m_items.end(),
        [handle](const TPaletteItem& item) { return item.Palette == handle; });
    if (it == m_items.end())
        return;
    handle = 0;
    if (--it->RefCount <= 0)
        m_items.erase(it);
}

std::int32_t TPaletteManager::RefCount(HPalette handle) const
{
    for (const auto& item : m_items) {
        if (item.Palette == handle)
            return item.RefCount;
    }
    return 0;
}

std::vector<std::array<std::uint8_t, 4>> TPaletteManager::Entries(HPalette handle) const
{
    std::vector<std::array<std::uint8_t, 4>> entries;
    for (const auto& item : m_items) {
        if (item.Palette != handle)
            continue;
        entries.reserve(item.Entries.size());
        for (const TRGBQuad& entry : item.Entries)
            entries.push_back({ entry.Red, entry.Green, entry.Blue, 0 });
        break;
    }
    return entries;
}

TPaletteManager& PaletteManager()
{
    static TPaletteManager manager;
    return manager;
}

// ---------------------------------------------------------------------------
// Pixel storage

TDIBSharedImage::TDIBSharedImage()
{
    GreyRamp(m_colorTable);
    m_layout = Layout888();
}

TDIBSharedImage::~TDIBSharedImage()
{
    PaletteManager().ReleasePalette(m_palette);
}

std::shared_ptr<TDIBSharedImage> TDIBSharedImage::Allocate(std::int32_t width, std::int32_t height,
    std::int32_t bitCount, const TDIBChannelLayout& layout, const TDIBColorTable& colorTable,
    bool plainMemory, bool compressed)
{
    switch (bitCount) {
    case 16:
        if (!layout.SameMasks(Layout555()) && !layout.SameMasks(Layout565()))
            throw EInvalidGraphicOperation(DIBMessages::sBadPixelFormat);
        break;
    case 1:
    case 4:
    case 8:
    case 24:
    case 32:
        if (!layout.SameMasks(Layout888()))
            throw EInvalidGraphicOperation(DIBMessages::sBadPixelFormat);
        break;
    default:
        throw EInvalidGraphicOperation(FormatMessage(DIBMessages::sBadBitCount, bitCount));
    }
    // The shape comes from callers that checked it (SetSize clears for sizes of
    // 0 and below, the readers refuse them), but a storage must never be made
    // with a size its 32-bit fields cannot hold.
    if (width <= 0 || height <= 0)
        throw EInvalidGraphic(DIBMessages::sInvalidDIB);
    const std::int64_t rowBytes = DIBRowBytes(width, bitCount);
    CheckPixelMemory(static_cast<std::uint64_t>(rowBytes), static_cast<std::uint64_t>(height), 1);

    auto image = std::make_shared<TDIBSharedImage>();
    image->m_bitCount = bitCount;
    image->m_width = width;
    image->m_height = height;
    image->m_rowBytes = static_cast<std::int32_t>(rowBytes);
    image->m_rowStep = -image->m_rowBytes;
    image->m_size = static_cast<std::int32_t>(rowBytes * height);
    image->m_layout = layout;
    image->m_paletteCount = bitCount <= 8 ? 1 << bitCount : 0;

    const bool masks = bitCount == 16 || bitCount == 32;
    image->m_colorTableOffset = masks ? 52 : 40;
    image->m_bitmapInfoSize = image->m_colorTableOffset + image->m_paletteCount * 4;
    image->m_bitmapInfo.assign(image->m_bitmapInfoSize, 0);
    std::uint32_t compression = 0;
    if (masks)
        compression = 3;
    else if (compressed && bitCount == 4)
        compression = 2;
    else if (compressed && bitCount == 8)
        compression = 1;
    auto& info = image->m_bitmapInfo;
    PutLE32(info.data() + 0, kInfoHeaderSize);
    PutLE32(info.data() + kInfoWidth, static_cast<std::uint32_t>(width));
    PutLE32(info.data() + kInfoHeight, static_cast<std::uint32_t>(height));
    PutLE16(info.data() + kInfoPlanes, 1);
    PutLE16(info.data() + kInfoBitCount, static_cast<std::uint16_t>(bitCount));
    PutLE32(info.data() + kInfoCompression, compression);
    PutLE32(info.data() + kInfoSizeImage, static_cast<std::uint32_t>(image->m_size));
    if (masks) {
        PutLE32(info.data() + 40, static_cast<std::uint32_t>(layout.RedMask));
        PutLE32(info.data() + 44, static_cast<std::uint32_t>(layout.GreenMask));
        PutLE32(info.data() + 48, static_cast<std::uint32_t>(layout.BlueMask));
    }

    image->m_colorTable = colorTable;
    std::memcpy(info.data() + image->m_colorTableOffset, colorTable.data(),
        static_cast<std::size_t>(image->m_paletteCount) * 4);
    // A palette is made from the table the first time somebody asks for it.
    image->m_paletteDirty = image->m_paletteCount > 0;

    image->m_compressed = compression == 1 || compression == 2;
    image->m_plainMemory = plainMemory || image->m_compressed;
    if (!image->m_compressed) {
        // Zero-filled rather than left undefined: a reader that stops early (RLE
        // data that never reaches some pixels) then leaves black, not stale heap.
        image->m_pixels = NewZeroedBlock(static_cast<std::size_t>(image->m_size));
    }
    return image;
}

std::shared_ptr<TDIBSharedImage> TDIBSharedImage::Duplicate(
    const TDIBSharedImage& source, bool plainMemory)
{
    if (source.m_size == 0) {
        auto image = std::make_shared<TDIBSharedImage>();
        image->m_plainMemory = plainMemory;
        return image;
    }
    auto image = Allocate(source.m_width, source.m_height, source.m_bitCount, source.m_layout,
        source.m_colorTable, plainMemory, source.m_compressed);
    if (source.m_compressed)
        image->SetCompressedData(source.m_rleStream);
    else
        std::memcpy(
            image->m_pixels.get(), source.m_pixels.get(), static_cast<std::size_t>(source.m_size));
    return image;
}

std::shared_ptr<TDIBSharedImage> TDIBSharedImage::Decompress(
    const TDIBSharedImage& source, bool plainMemory)
{
    if (!source.m_compressed)
        return Duplicate(source, plainMemory);
    auto image = Allocate(source.m_width, source.m_height, source.m_bitCount, source.m_layout,
        source.m_colorTable, plainMemory, false);
    DecodeRLE(source.m_rleStream, source.Compression() == 2 ? 4 : 8, *image);
    return image;
}

void TDIBSharedImage::SetColorTable(const TDIBColorTable& table)
{
    m_colorTable = table;
    m_paletteDirty = true;
    if (m_size > 0 && m_paletteCount > 0 && !m_bitmapInfo.empty())
        std::memcpy(m_bitmapInfo.data() + m_colorTableOffset, table.data(),
            static_cast<std::size_t>(m_paletteCount) * 4);
}

HPalette TDIBSharedImage::GetPalette()
{
    if (m_paletteCount <= 0)
        return 0;
    if (m_paletteDirty) {
        m_paletteDirty = false;
        PaletteManager().ReleasePalette(m_palette);
        m_palette = PaletteManager().AcquirePalette(m_colorTable.data(), m_paletteCount);
    }
    return m_palette;
}

void TDIBSharedImage::SetImportantColorCount(std::uint32_t count)
{
    if (m_bitmapInfo.size() >= kInfoHeaderSize)
        PutLE32(m_bitmapInfo.data() + kInfoClrImportant, count);
}

void TDIBSharedImage::SetCompressedData(std::vector<std::uint8_t> data)
{
    // Only a storage allocated as RLE holds a stream; for any other the bytes
    // have nowhere safe to go and the rows stay as allocated.
    if (!m_compressed)
        return;
    m_rleStream = std::move(data);
    PutLE32(m_bitmapInfo.data() + kInfoSizeImage, static_cast<std::uint32_t>(m_rleStream.size()));
}

std::uint32_t TDIBSharedImage::ImageSize() const
{
    if (m_bitmapInfo.size() < kInfoHeaderSize)
        return 0;
    return GetLE32(m_bitmapInfo.data() + kInfoSizeImage);
}

std::uint32_t TDIBSharedImage::Compression() const
{
    if (m_bitmapInfo.size() < kInfoHeaderSize)
        return 0;
    return GetLE32(m_bitmapInfo.data() + kInfoCompression);
}

const std::shared_ptr<TDIBSharedImage>& SharedEmptyImage()
{
    static const std::shared_ptr<TDIBSharedImage> empty = std::make_shared<TDIBSharedImage>();
    return empty;
}

// ---------------------------------------------------------------------------
// RLE decoding (BMP's BI_RLE8 and BI_RLE4). Rows are counted from the first
// stored row, which is the bottom of the picture. Pixels outside the picture are
// dropped: runs past the end of a row, offsets past the last row and data after
// the last row never touch memory outside the rows.

void DecodeRLE(std::span<const std::uint8_t> stream, std::int32_t bitCount, TDIBSharedImage& target)
{
    // The code must match the rows it decodes into: RLE8 codes written into
    // 4-bit rows would put a byte per pixel into half a byte's room and run
    // past the end of the pixel memory. A storage whose header names the
    // other code decodes to nothing.
    if (target.Size() == 0 || target.Bits() == nullptr || (bitCount != 4 && bitCount != 8)
        || bitCount != target.BitCount())
        return;
    std::uint8_t* const bits = target.Bits();
    const std::int64_t width = target.Width();
    const std::int64_t height = target.Height();
    const std::int64_t rowBytes = target.RowBytes();
    // Column and row are 64-bit so that any number of offsets cannot overflow.
    std::int64_t x = 0;
    std::int64_t row = 0;
    std::size_t pos = 0;

    auto put = [&](std::int64_t column, std::uint8_t value) {
        if (column < 0 || column >= width || row < 0 || row >= height)
            return;
        std::uint8_t* line = bits + row * rowBytes;
        if (bitCount == 8) {
            line[column] = value;
        } else {
            std::uint8_t& byte = line[column / 2];
            if (column % 2 == 0)
                byte = static_cast<std::uint8_t>((byte & 0x0F) | (value << 4));
            else
                byte = static_cast<std::uint8_t>((byte & 0xF0) | (value & 0x0F));
        }
    };

    while (pos + 2 <= stream.size()) {
        const std::uint8_t n = stream[pos];
        const std::uint8_t v = stream[pos + 1];
        pos += 2;
        if (n > 0) {
            // An encoded run; a run that starts past the row's end writes nothing.
            if (row < height && x < width) {
                for (int i = 0; i < n; ++i) {
                    if (bitCount == 8)
                        put(x + i, v);
                    else
                        put(x + i, i % 2 == 0 ? v >> 4 : v & 0x0F);
                }
            }
            x += n;
            continue;
        }
        switch (v) {
        case 0: // end of row
            x = 0;
            ++row;
            break;
        case 1: // end of picture
            return;
        case 2: // offset
            if (pos + 2 > stream.size())
                return;
            x += stream[pos];
            row += stream[pos + 1];
            pos += 2;
            break;
        default: { // absolute run of v pixels
            const std::size_t bytes = bitCount == 8 ? v : (v + 1u) / 2;
            const std::size_t available = std::min(bytes, stream.size() - pos);
            for (int i = 0; i < v; ++i) {
                const std::size_t at = bitCount == 8 ? std::size_t(i) : std::size_t(i) / 2;
                if (at >= available)
                    break;
                const std::uint8_t byte = stream[pos + at];
                if (bitCount == 8)
                    put(x + i, byte);
                else
                    put(x + i, i % 2 == 0 ? byte >> 4 : byte & 0x0F);
            }
            x += v;
            pos += bytes;
            pos += pos & 1u; // runs are padded to an even offset
            break;
        }
        }
        if (row >= height)
            return;
    }
}

// ---------------------------------------------------------------------------
// TDIB

TDIB::TDIB()
    : m_image(SharedEmptyImage())
    , m_colorTable(m_image->ColorTable())
    , m_pixelFormat(m_image->Layout())
{
}

TDIB::~TDIB() = default;

TDIB::TDIB(const TDIB& other)
    : m_image(other.m_image)
    , m_colorTable(other.m_image->ColorTable())
    , m_pixelFormat(other.m_image->Layout())
{
}

TDIB& TDIB::operator=(const TDIB& other)
{
    Assign(other);
    return *this;
}

void TDIB::SwitchImage(std::shared_ptr<TDIBSharedImage> image) const
{
    if (image == m_image)
        return;
    m_image = std::move(image);
    m_colorTable = m_image->ColorTable();
    m_pixelFormat = m_image->Layout();
}

void TDIB::SetImage(std::shared_ptr<TDIBSharedImage> image)
{
    SwitchImage(image ? std::move(image) : SharedEmptyImage());
}

void TDIB::SetSize(std::int32_t width, std::int32_t height, std::int32_t bitCount)
{
    if (width == m_image->Width() && height == m_image->Height() && bitCount == m_image->BitCount()
        && m_image->Layout().SameMasks(m_pixelFormat))
        return;
    if (width <= 0 || height <= 0) {
        Clear();
        return;
    }
    SwitchImage(TDIBSharedImage::Allocate(
        width, height, bitCount, m_pixelFormat, m_colorTable, m_image->PlainMemory(), false));
    m_paletteModified = true;
}

void TDIB::Clear()
{
    SwitchImage(SharedEmptyImage());
}

void TDIB::SetWidth(std::int32_t value)
{
    if (value <= 0)
        Clear();
    else if (Empty())
        SetSize(value, std::max(Height(), 1), 8);
    else
        SetSize(value, Height(), BitCount());
}

void TDIB::SetHeight(std::int32_t value)
{
    if (value <= 0)
        Clear();
    else if (Empty())
        SetSize(std::max(Width(), 1), value, 8);
    else
        SetSize(Width(), value, BitCount());
}

void TDIB::MakeWritable(bool allowPlainMemory)
{
    if (m_image.use_count() > 1 || m_image->Compressed())
        SwitchImage(
            TDIBSharedImage::Decompress(*m_image, allowPlainMemory && m_image->PlainMemory()));
}

void TDIB::EnsureDecompressed() const
{
    if (m_image->Compressed())
        SwitchImage(TDIBSharedImage::Decompress(*m_image, m_image->PlainMemory()));
}

std::uint8_t* TDIB::ScanLine(std::int32_t y)
{
    MakeWritable(true);
    if (y < 0 || y >= m_image->Height())
        throw EInvalidGraphicOperation(FormatMessage(DIBMessages::sScanLineRange, y));
    return m_image->TopBits() + std::int64_t(y) * m_image->RowStep();
}

std::uint8_t* TDIB::Bits()
{
    MakeWritable(true);
    return m_image->Bits();
}

std::uint8_t* TDIB::TopBits()
{
    MakeWritable(true);
    return m_image->TopBits();
}

const std::uint8_t* TDIB::ConstScanLine(std::int32_t y) const
{
    EnsureDecompressed();
    if (y < 0 || y >= m_image->Height())
        throw EInvalidGraphicOperation(FormatMessage(DIBMessages::sScanLineRange, y));
    return m_image->TopBits() + std::int64_t(y) * m_image->RowStep();
}

const std::uint8_t* TDIB::ConstBits() const
{
    EnsureDecompressed();
    return m_image->Bits();
}

std::uint32_t TDIB::Pixel(std::int32_t x, std::int32_t y) const
{
    EnsureDecompressed();
    const TDIBSharedImage& image = *m_image;
    if (x < 0 || x >= image.Width() || y < 0 || y >= image.Height())
        return 0;
    const std::uint8_t* row = image.TopBits() + std::int64_t(y) * image.RowStep();
    switch (image.BitCount()) {
    case 1:
        return (row[x / 8] >> (7 - x % 8)) & 1u;
    case 4:
        return x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 0x0Fu;
    case 8:
        return row[x];
    case 16:
        return GetLE16(row + 2 * std::int64_t(x));
    case 24: {
        const std::uint8_t* p = row + 3 * std::int64_t(x);
        return std::uint32_t(p[2]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[0]) << 16;
    }
    case 32:
        return GetLE32(row + 4 * std::int64_t(x));
    default:
        return 0;
    }
}

void TDIB::UpdatePalette()
{
    if (std::memcmp(m_colorTable.data(), m_image->ColorTable().data(), sizeof(TDIBColorTable)) == 0)
        return;
    const TDIBColorTable saved = m_colorTable;
    MakeWritable(true);
    m_colorTable = saved;
    m_image->SetColorTable(saved);
    m_paletteModified = true;
}

HPalette TDIB::GetPalette()
{
    if (m_image->PaletteCount() == 0)
        return 0;
    return m_image->GetPalette();
}

void TDIB::SetPalette(HPalette palette)
{
    const auto entries = PaletteManager().Entries(palette);
    PaletteManager().ReleasePalette(palette);
    TDIBColorTable table {};
    for (std::size_t i = 0; i < entries.size() && i < table.size(); ++i)
        table[i] = TRGBQuad { entries[i][2], entries[i][1], entries[i][0], 0 };
    m_colorTable = table;
    UpdatePalette();
}

void TDIB::SetImportantColorCount(std::uint32_t count)
{
    MakeWritable(true);
    m_image->SetImportantColorCount(count);
}

void TDIB::Assign(const TDIB& source)
{
    if (&source == this)
        return;
    SwitchImage(source.m_image);
}

} // namespace zx

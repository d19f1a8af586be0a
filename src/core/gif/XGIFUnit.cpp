// The GIF model: colour tables, the header and trailer, frames and the image
// with its painter registry. Extensions, reading, writing, LZW and colour
// merging have files of their own (XGIFUnit*.cpp).

#include "core/gif/XGIFUnit.h"

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/gif/XGIFUnitInternal.h"

#include <algorithm>
#include <cstring>

namespace zx {

using namespace gifio;

std::int32_t ColourBits(std::int32_t count)
{
    if (count <= 0)
        return 0;
    std::int32_t bits = 1;
    while ((1 << bits) < count && bits < 8)
        ++bits;
    return bits;
}

// ---------------------------------------------------------------------------
// TGIFColorMap

void TGIFColorMap::Reserve(std::int32_t wanted)
{
    if (wanted <= m_capacity)
        return;
    // Small tables get 16 entries at once, larger ones grow in steps of 32.
    std::int32_t capacity = wanted <= 16 ? 16 : (wanted + 31) / 32 * 32;
    m_capacity = std::min(capacity, kMaxColors);
    m_colors.reserve(static_cast<std::size_t>(m_capacity));
}

std::int32_t TGIFColorMap::Add(TGIFColor color)
{
    if (Count() >= kMaxColors)
        throw GIFException(GIFMessages::sOutOfColors);
    Reserve(Count() + 1);
    m_colors.push_back(color);
    m_sortedByUse = false;
    return Count() - 1;
}

void TGIFColorMap::Clear()
{
    m_colors.clear();
    m_sortedByUse = false;
}

void TGIFColorMap::Assign(const TGIFColorMap& source)
{
    Reserve(source.Count());
    m_colors = source.m_colors;
    m_sortedByUse = source.m_sortedByUse;
}

void TGIFColorMap::LoadFromStream(TStream& stream, std::int32_t count)
{
    std::uint8_t bytes[kMaxColors * 3];
    count = std::clamp(count, 0, kMaxColors);
    ReadExact(stream, bytes, static_cast<std::size_t>(count) * 3);
    Clear();
    Reserve(count);
    for (std::int32_t i = 0; i < count; ++i)
        m_colors.push_back(TGIFColor { bytes[i * 3], bytes[i * 3 + 1], bytes[i * 3 + 2] });
}

void TGIFColorMap::SaveToStream(std::vector<std::uint8_t>& out) const
{
    for (const TGIFColor& c : m_colors) {
        out.push_back(c.Red);
        out.push_back(c.Green);
        out.push_back(c.Blue);
    }
    // The file's table always has a power-of-two size; the rest is black.
    const std::int32_t padded = Empty() ? 0 : 1 << BitsPerPixel();
    out.insert(out.end(), static_cast<std::size_t>(padded - Count()) * 3, 0);
}

// ---------------------------------------------------------------------------
// TGIFItem, TGIFHeader, TGIFTrailer

void TGIFItem::Warning(const std::string& message) const
{
    if (m_image)
        m_image->Warning(message);
}

void TGIFHeader::Clear()
{
    m_width = 0;
    m_height = 0;
    m_packed = 0;
    m_backgroundColorIndex = 0;
    m_aspectRatio = 0;
    m_colorMap.Clear();
}

void TGIFTrailer::LoadFromStream(TStream& stream)
{
    const std::int32_t value = TryReadByte(stream);
    if (value >= 0 && value != 0x3B)
        Warning(GIFMessages::sBadTrailer);
}

void TGIFTrailer::SaveToStream(std::vector<std::uint8_t>& out) const
{
    out.push_back(0x3B);
}

// ---------------------------------------------------------------------------
// TGIFSubImage

TGIFSubImage::TGIFSubImage(TGIFImage* image)
    : TGIFItem(image)
{
}

TGIFSubImage::~TGIFSubImage()
{
    // The graphic control extension detaches itself from m_gce.
    m_extensions.Clear();
}

void TGIFSubImage::SetInterlaced(bool value)
{
    Materialize();
    m_packed = static_cast<std::uint8_t>(value ? (m_packed | 0x40) : (m_packed & ~0x40));
}

void TGIFSubImage::SetSize(std::uint16_t width, std::uint16_t height)
{
    CheckPixelMemory(width, height, 1);
    m_width = width;
    m_height = height;
    m_pixelCount = std::uint64_t(width) * height;
    m_coded.clear();
    m_pending = false;
    m_data.assign(m_pixelCount, 0);
    FreeBitmap();
}

std::span<const std::uint8_t> TGIFSubImage::Data() const
{
    Materialize();
    return m_data;
}

std::span<std::uint8_t> TGIFSubImage::Data()
{
    Materialize();
    return m_data;
}

void TGIFSubImage::Materialize() const
{
    if (!m_pending)
        return;
    std::vector<std::uint8_t> data(m_pixelCount, m_fill);
    const std::size_t width = m_width;
    if (!Interlaced()) {
        std::copy(m_coded.begin(), m_coded.end(), data.begin());
    } else if (width != 0) {
        const std::vector<std::uint32_t> rows = InterlacedRows(m_height);
        for (std::size_t k = 0; k < rows.size() && k * width < m_coded.size(); ++k) {
            const std::size_t n = std::min(width, m_coded.size() - k * width);
            std::memcpy(data.data() + rows[k] * width, m_coded.data() + k * width, n);
        }
    }
    m_data = std::move(data);
    m_coded = {};
    m_pending = false;
}

std::vector<std::uint8_t> TGIFSubImage::CodedPixels() const
{
    Materialize();
    if (!Interlaced())
        return m_data;
    std::vector<std::uint8_t> coded;
    coded.reserve(m_data.size());
    for (const std::uint32_t y : InterlacedRows(m_height)) {
        const auto row = m_data.begin() + static_cast<std::ptrdiff_t>(std::size_t(y) * m_width);
        coded.insert(coded.end(), row, row + m_width);
    }
    return coded;
}

TGIFColorMap& TGIFSubImage::ActiveColorMap()
{
    if (!m_colorMap.Empty())
        return m_colorMap;
    if (Image() && !Image()->GlobalColorMap().Empty())
        return Image()->GlobalColorMap();
    return m_colorMap;
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const
{
    return const_cast<TGIFSubImage*>(this)->ActiveColorMap();
}

std::uint8_t TGIFSubImage::TransparentColorIndex() const
{
    return m_gce ? m_gce->TransparentColorIndex() : 0;
}

TGIFVersion TGIFSubImage::Version() const
{
    if (m_colorMap.SortedByUse())
        return TGIFVersion::gv89a;
    if (!m_extensions.Empty() && m_extensions[0].Version() == TGIFVersion::gv89a)
        return TGIFVersion::gv89a;
    return TGIFVersion::gv87a;
}

void TGIFSubImage::Clear()
{
    m_extensions.Clear();
    m_gce = nullptr;
    m_transparent = false;
    m_colorMap.Clear();
    m_left = m_top = m_width = m_height = 0;
    m_packed = 0;
    m_pixelCount = 0;
    m_data.clear();
    m_coded.clear();
    m_pending = false;
    m_fill = 0;
    FreeBitmap();
}

void TGIFSubImage::Assign(const TDIB& bitmap)
{
    Clear();
    if (bitmap.Empty())
        return;
    const std::int32_t bitCount = bitmap.BitCount();
    if (bitCount != 1 && bitCount != 4 && bitCount != 8)
        throw GIFException(GIFMessages::sUnsupportedClass);
    if (bitmap.Width() > 0xFFFF || bitmap.Height() > 0xFFFF)
        throw GIFException(GIFMessages::sFrameTooLarge);
    SetSize(
        static_cast<std::uint16_t>(bitmap.Width()), static_cast<std::uint16_t>(bitmap.Height()));

    const TDIBColorTable& table = bitmap.ColorTable();
    const std::int32_t entries = std::min(1 << bitCount, TGIFColorMap::kMaxColors);
    for (std::int32_t i = 0; i < entries; ++i)
        m_colorMap.Add(table[static_cast<std::size_t>(i)].Red,
            table[static_cast<std::size_t>(i)].Green, table[static_cast<std::size_t>(i)].Blue);

    const std::int32_t width = m_width;
    for (std::int32_t y = 0; y < m_height; ++y) {
        const std::uint8_t* row = bitmap.ConstScanLine(y);
        std::uint8_t* out = m_data.data() + std::size_t(y) * m_width;
        switch (bitCount) {
        case 8:
            std::memcpy(out, row, static_cast<std::size_t>(width));
            break;
        case 4:
            for (std::int32_t x = 0; x < width; ++x)
                out[x] = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
            break;
        default:
            for (std::int32_t x = 0; x < width; ++x)
                out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        }
    }
}

void TGIFSubImage::FreeBitmap()
{
    m_bitmap.reset();
    m_mask.reset();
}

const TDIB& TGIFSubImage::FrameBitmap()
{
    if (m_bitmap)
        return *m_bitmap;
    const TGIFColorMap& map = ActiveColorMap();
    if (map.Empty())
        throw GIFException(GIFMessages::sNoColorTable);

    const std::int32_t width = m_width;
    const std::int32_t height = m_height;
    CheckPixelMemory(static_cast<std::uint64_t>(DIBRowBytes(width, 8)), std::uint64_t(height), 1);

    TDIBColorTable table {};
    for (std::int32_t i = 0; i < map.Count(); ++i)
        table[static_cast<std::size_t>(i)] = TRGBQuad { map[i].Blue, map[i].Green, map[i].Red, 0 };

    auto bitmap = std::make_unique<TDIB>();
    bitmap->SetSize(width, height, 8);
    bitmap->ColorTable() = table;
    bitmap->UpdatePalette();
    const std::span<const std::uint8_t> data = Data();
    if (!Empty())
        for (std::int32_t y = 0; y < height; ++y)
            std::memcpy(bitmap->ScanLine(y), data.data() + std::size_t(y) * m_width,
                static_cast<std::size_t>(width));

    std::unique_ptr<TDIB> mask;
    if (m_transparent && !Empty()) {
        const std::uint8_t transparentIndex = TransparentColorIndex();
        mask = std::make_unique<TDIB>();
        mask->SetSize(width, height, 1);
        TDIBColorTable maskTable {};
        maskTable[1] = TRGBQuad { 255, 255, 255, 0 };
        mask->ColorTable() = maskTable;
        mask->UpdatePalette();
        bool any = false;
        for (std::int32_t y = 0; y < height; ++y) {
            std::uint8_t* row = mask->ScanLine(y);
            std::memset(row, 0, static_cast<std::size_t>(mask->RowBytes()));
            const std::uint8_t* in = data.data() + std::size_t(y) * m_width;
            for (std::int32_t x = 0; x < width; ++x)
                if (in[x] == transparentIndex) {
                    row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
                    any = true;
                }
        }
        if (!any)
            mask.reset();
    }
    m_mask = std::move(mask);
    m_bitmap = std::move(bitmap);
    return *m_bitmap;
}

// ---------------------------------------------------------------------------
// TGIFImage

std::uint32_t TGIFImage::DefaultDrawOptions
    = goAsync | goTransparent | goAnimate | goLoop | goDither | goAutoDither;

TGIFImage::TGIFImage()
    : m_header(this)
    , m_drawOptions(DefaultDrawOptions)
    , m_decodeLimit(kMaxAnimationBytes)
{
}

TGIFImage::~TGIFImage()
{
    StopPainters();
}

void TGIFImage::Warning(const std::string& message) const
{
    if (OnWarning)
        OnWarning(message);
}

void TGIFImage::SetWidth(std::uint16_t value)
{
    for (const auto& frame : m_images)
        if (std::uint32_t(frame->Left()) + frame->Width() > value)
            throw GIFException(GIFMessages::sScreenWidthTooSmall);
    m_header.SetWidth(value);
}

void TGIFImage::SetHeight(std::uint16_t value)
{
    for (const auto& frame : m_images)
        if (std::uint32_t(frame->Top()) + frame->Height() > value)
            throw GIFException(GIFMessages::sScreenHeightTooSmall);
    m_header.SetHeight(value);
}

std::int32_t TGIFImage::BitsPerPixel() const
{
    std::int32_t bits = GlobalColorMap().BitsPerPixel();
    for (const auto& frame : m_images)
        bits = std::max(bits, frame->ColorMap().BitsPerPixel());
    return bits;
}

std::int32_t TGIFImage::ColorResolution() const
{
    std::int32_t resolution = GlobalColorMap().BitsPerPixel() - 1;
    for (const auto& frame : m_images)
        resolution = std::max(resolution, frame->ColorMap().BitsPerPixel() - 1);
    return resolution;
}

void TGIFImage::FitScreenToFrame(const TGIFSubImage& frame)
{
    const std::uint32_t right
        = std::min<std::uint32_t>(std::uint32_t(frame.Left()) + frame.Width(), 0xFFFF);
    const std::uint32_t bottom
        = std::min<std::uint32_t>(std::uint32_t(frame.Top()) + frame.Height(), 0xFFFF);
    bool grew = false;
    if (right > m_header.Width()) {
        if (m_header.Width() != 0) {
            Warning(GIFMessages::sScreenWidthTooSmall);
            grew = true;
        }
        m_header.SetWidth(static_cast<std::uint16_t>(right));
    }
    if (bottom > m_header.Height()) {
        if (m_header.Height() != 0) {
            Warning(GIFMessages::sScreenHeightTooSmall);
            grew = true;
        }
        m_header.SetHeight(static_cast<std::uint16_t>(bottom));
    }
    if (grew)
        Warning(GIFMessages::sBadDimension);
}

std::int32_t TGIFImage::AddFrame(const TDIB& bitmap)
{
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(bitmap);
    FitScreenToFrame(*frame);
    m_images.Add(std::move(frame));
    return m_images.Count() - 1;
}

std::int32_t TGIFImage::AddFrame(std::unique_ptr<TGIFSubImage> frame)
{
    if (!frame || frame->Image() != this)
        throw GIFException(GIFMessages::sUnsupportedClass);
    FitScreenToFrame(*frame);
    m_images.Add(std::move(frame));
    return m_images.Count() - 1;
}

void TGIFImage::Clear()
{
    StopPainters();
    m_images.Clear();
    m_header.Clear();
}

void TGIFImage::RegisterPainter(TGIFPainterLink* painter)
{
    std::lock_guard lock(m_painterLock);
    m_painters.push_back(painter);
}

void TGIFImage::UnregisterPainter(TGIFPainterLink* painter)
{
    std::lock_guard lock(m_painterLock);
    std::erase(m_painters, painter);
}

void TGIFImage::StopPainters()
{
    std::lock_guard lock(m_painterLock);
    StopPaintersLocked();
}

void TGIFImage::StopPaintersLocked()
{
    for (TGIFPainterLink* painter : m_painters)
        painter->Stop();
}

} // namespace zx

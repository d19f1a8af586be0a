#include "core/imaging/BMPFormat.h"

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/LittleEndian.h"
#include "core/imaging/XDIBUnitMessages.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace zx {

namespace {

    // biCompression values of the Windows info header. OS/2 2.x headers use 3 and
    // 4 for Huffman 1D and RLE24 instead; neither is supported.
    constexpr std::uint32_t kBiRgb = 0;
    constexpr std::uint32_t kBiRle8 = 1;
    constexpr std::uint32_t kBiRle4 = 2;
    constexpr std::uint32_t kBiBitFields = 3;
    constexpr std::uint32_t kBiAlphaBitFields = 6;

    constexpr std::uint32_t kCoreHeaderSize = 12; // BITMAPCOREHEADER (OS/2 1.x)
    constexpr std::uint32_t kInfoHeaderSize = 40; // BITMAPINFOHEADER
    constexpr std::uint32_t kV2HeaderSize = 52; // ... plus red, green, blue masks
    constexpr std::uint32_t kV3HeaderSize = 56; // ... plus the alpha mask
    constexpr std::uint32_t kLargestHeaderSize = 124; // BITMAPV5HEADER
    constexpr std::size_t kFileHeaderSize = 14;

    [[noreturn]] void Invalid()
    {
        throw EInvalidGraphic(DIBMessages::sInvalidDIB);
    }

    // Reads up to count bytes: as many as the stream has.
    std::size_t ReadUpTo(TStream& stream, std::uint8_t* buffer, std::size_t count)
    {
        std::size_t got = 0;
        while (got < count) {
            const std::size_t n = stream.Read(buffer + got, count - got);
            if (n == 0)
                break;
            got += n;
        }
        return got;
    }

    bool IsOS2V2Header(std::uint32_t size)
    {
        return size == 16 || size == 64;
    }

    bool IsLenientHeaderSize(std::uint32_t size)
    {
        switch (size) {
        case 12: // BITMAPCOREHEADER
        case 16: // OS/2 2.x header cut after the bit count
        case 40: // BITMAPINFOHEADER
        case 52: // BITMAPV2INFOHEADER
        case 56: // BITMAPV3INFOHEADER
        case 64: // OS/2 2.x BITMAPINFOHEADER2
        case 108: // BITMAPV4HEADER
        case 124: // BITMAPV5HEADER
            return true;
        default:
            return false;
        }
    }

    // Bytes per row, padded to 4 bytes, computed wide enough for any header value.
    std::uint64_t RowBytesOf(std::uint64_t width, std::uint32_t bitCount)
    {
        return (width * bitCount + 31) / 32 * 4;
    }

    // Refuses a picture whose pixel memory would exceed the bound, before anything
    // is allocated. The row alone is checked too: a storage computes it in 32 bits
    // even when there are no rows.
    void CheckPictureMemory(std::uint64_t rowBytes, std::uint64_t height)
    {
        CheckPixelBytes(rowBytes);
        CheckPixelMemory(rowBytes, height, 1);
    }

    // ---------------------------------------------------------------------------
    // Conversion of stored rows to 24-bit rows (the picture loader)

    // One colour channel of a 16- or 32-bit pixel: where it sits and how its
    // values widen to 8 bits.
    struct TChannel {
        std::uint32_t Mask = 0;
        int Shift = 0;
        std::vector<std::uint8_t> Widen;
    };

    // A channel mask the loader accepts: 1 to 16 contiguous one bits inside the
    // pixel. Wider channels, holes and empty masks are refused.
    TChannel MakeChannel(std::uint32_t mask, std::int32_t bitCount)
    {
        if (mask == 0 || (bitCount == 16 && mask > 0xFFFF))
            Invalid();
        const int shift = std::countr_zero(mask);
        const int bits = std::popcount(mask);
        const std::uint32_t field = mask >> shift;
        if (bits > 16 || field != (std::uint32_t(1) << bits) - 1)
            Invalid();
        TChannel channel;
        channel.Mask = mask;
        channel.Shift = shift;
        // round(v * 255 / max); the quotient is never exactly half way because max
        // is odd, so adding max / 2 before the division rounds correctly.
        channel.Widen.resize(std::size_t(field) + 1);
        for (std::uint32_t v = 0; v <= field; ++v)
            channel.Widen[v] = static_cast<std::uint8_t>((v * 255 + field / 2) / field);
        return channel;
    }

    class TRowConverter {
    public:
        explicit TRowConverter(const TBMPInfo& info)
            : m_bitCount(info.BitCount)
            , m_width(static_cast<std::size_t>(info.Width))
            , m_table(info.ColorTable)
        {
            if (m_bitCount != 16 && m_bitCount != 32)
                return;
            std::uint32_t masks[3];
            if (info.HasMasks)
                std::copy(info.Masks, info.Masks + 3, masks);
            else if (m_bitCount == 16) {
                masks[0] = 0x7C00;
                masks[1] = 0x03E0;
                masks[2] = 0x001F;
            } else {
                masks[0] = 0xFF0000;
                masks[1] = 0x00FF00;
                masks[2] = 0x0000FF;
            }
            m_byteAligned32 = m_bitCount == 32 && masks[0] == 0xFF0000 && masks[1] == 0x00FF00
                && masks[2] == 0x0000FF;
            m_red = MakeChannel(masks[0], m_bitCount);
            m_green = MakeChannel(masks[1], m_bitCount);
            m_blue = MakeChannel(masks[2], m_bitCount);
        }

        // Converts the first width pixels of a stored row to blue, green, red.
        // Everything the loops read is copied to locals first: the byte stores
        // may alias any object, which would otherwise force a reload per pixel.
        void Convert(const std::uint8_t* src, std::uint8_t* dst) const
        {
            const std::size_t width = m_width;
            const TRGBQuad* const table = m_table.data();
            auto putIndex = [table, dst](std::size_t x, unsigned index) {
                const TRGBQuad entry = table[index];
                dst[3 * x] = entry.Blue;
                dst[3 * x + 1] = entry.Green;
                dst[3 * x + 2] = entry.Red;
            };
            switch (m_bitCount) {
            case 1:
                for (std::size_t x = 0; x < width; ++x)
                    putIndex(x, (src[x >> 3] >> (7 - (x & 7))) & 1);
                break;
            case 2:
                for (std::size_t x = 0; x < width; ++x)
                    putIndex(x, (src[x >> 2] >> (6 - 2 * (x & 3))) & 3);
                break;
            case 4:
                for (std::size_t x = 0; x < width; ++x)
                    putIndex(x, (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
                break;
            case 8:
                for (std::size_t x = 0; x < width; ++x)
                    putIndex(x, src[x]);
                break;
            case 16:
                ConvertMasked<2>(src, dst, width);
                break;
            case 24:
                std::memcpy(dst, src, 3 * width);
                break;
            case 32:
                if (m_byteAligned32) {
                    for (std::size_t x = 0; x < width; ++x) {
                        dst[3 * x] = src[4 * x];
                        dst[3 * x + 1] = src[4 * x + 1];
                        dst[3 * x + 2] = src[4 * x + 2];
                    }
                } else {
                    ConvertMasked<4>(src, dst, width);
                }
                break;
            default:
                break;
            }
        }

    private:
        template <int kBytes>
        void ConvertMasked(const std::uint8_t* src, std::uint8_t* dst, std::size_t width) const
        {
            const TChannel& red = m_red;
            const TChannel& green = m_green;
            const TChannel& blue = m_blue;
            const std::uint32_t redMask = red.Mask, greenMask = green.Mask, blueMask = blue.Mask;
            const int redShift = red.Shift, greenShift = green.Shift, blueShift = blue.Shift;
            const std::uint8_t* const redWiden = red.Widen.data();
            const std::uint8_t* const greenWiden = green.Widen.data();
            const std::uint8_t* const blueWiden = blue.Widen.data();
            for (std::size_t x = 0; x < width; ++x) {
                const std::uint32_t value
                    = kBytes == 2 ? GetLE16(src + 2 * x) : GetLE32(src + 4 * x);
                dst[3 * x] = blueWiden[(value & blueMask) >> blueShift];
                dst[3 * x + 1] = greenWiden[(value & greenMask) >> greenShift];
                dst[3 * x + 2] = redWiden[(value & redMask) >> redShift];
            }
        }

        std::int32_t m_bitCount;
        std::size_t m_width;
        const TDIBColorTable& m_table;
        bool m_byteAligned32 = false;
        TChannel m_red, m_green, m_blue;
    };

    // Checks what the loader accepts beyond the header structure.
    void CheckLenientShape(const TBMPInfo& info)
    {
        if (info.Height == 0 || info.Planes != 1)
            Invalid();
        switch (info.BitCount) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            Invalid();
        }
        switch (info.Compression) {
        case kBiRgb:
            break;
        case kBiRle8:
        case kBiRle4:
            // RLE rows always run bottom-up; a top-down RLE file is malformed.
            if (info.BitCount != (info.Compression == kBiRle8 ? 8 : 4) || info.TopDown)
                Invalid();
            break;
        case kBiBitFields:
        case kBiAlphaBitFields:
            if (info.BitCount != 16 && info.BitCount != 32)
                Invalid();
            break;
        default:
            Invalid();
        }
    }

    std::shared_ptr<TDIBSharedImage> DecodeBMPPicture(
        std::span<const std::uint8_t> file, const TDIBColorTable& colorTable, bool plainMemory)
    {
        TSpanStream stream(file);
        TBMPFileHeader fileHeader;
        if (!ReadBMPFileHeader(stream, fileHeader))
            Invalid();
        TBMPInfo info;
        ReadBMPInfo(stream, TBMPReadMode::bmLenient, &fileHeader, info);
        CheckLenientShape(info);
        const TRowConverter converter(info);

        const auto width = static_cast<std::uint64_t>(info.Width);
        const auto height = static_cast<std::uint64_t>(info.Height);
        const std::uint64_t outRowBytes = RowBytesOf(width, 24);
        CheckPictureMemory(outRowBytes, height);
        const std::uint64_t srcRowBytes
            = RowBytesOf(width, static_cast<std::uint32_t>(info.BitCount));
        const std::uint64_t available = file.size() - info.PixelPosition;

        // The stored rows, first stored row first: straight from the file, or
        // decoded from RLE into a temporary indexed storage of the same shape.
        const std::uint8_t* rows = nullptr;
        std::shared_ptr<TDIBSharedImage> decoded;
        if (info.Compression == kBiRle8 || info.Compression == kBiRle4) {
            // biSizeImage is the stream's length; writers that leave it 0 mean
            // "up to the end of the file".
            if (info.ImageSize > available)
                Invalid();
            const std::uint64_t length = info.ImageSize != 0 ? info.ImageSize : available;
            decoded = TDIBSharedImage::Allocate(static_cast<std::int32_t>(width),
                static_cast<std::int32_t>(height), info.BitCount, Layout888(), info.ColorTable,
                true, false);
            // Pixels the stream never reaches are left undefined by the format;
            // here they show palette entry 0.
            std::memset(decoded->Bits(), 0, static_cast<std::size_t>(decoded->Size()));
            DecodeRLE(file.subspan(static_cast<std::size_t>(info.PixelPosition),
                          static_cast<std::size_t>(length)),
                info.BitCount, *decoded);
            rows = decoded->Bits();
        } else {
            // biSizeImage is not trusted for uncompressed rows: the shape says
            // how many bytes there must be.
            if (srcRowBytes * height > available)
                Invalid();
            rows = file.data() + info.PixelPosition;
        }

        auto image = TDIBSharedImage::Allocate(static_cast<std::int32_t>(width),
            static_cast<std::int32_t>(height), 24, Layout888(), colorTable, plainMemory, false);
        const std::size_t pixelBytes = 3 * static_cast<std::size_t>(width);
        const auto rowBytes = static_cast<std::size_t>(image->RowBytes());
        for (std::uint64_t k = 0; k < height; ++k) {
            // Stored row k is the k-th row from the bottom unless the file is
            // top-down; the storage is bottom-up either way.
            const std::uint64_t target = info.TopDown ? height - 1 - k : k;
            std::uint8_t* dst = image->Bits() + target * rowBytes;
            converter.Convert(rows + k * srcRowBytes, dst);
            std::memset(dst + pixelBytes, 0, rowBytes - pixelBytes);
        }
        return image;
    }

} // namespace

bool ReadBMPFileHeader(TStream& stream, TBMPFileHeader& header)
{
    header.Start = stream.Position();
    std::uint8_t bytes[kFileHeaderSize];
    const std::size_t got = ReadUpTo(stream, bytes, sizeof bytes);
    if (got == 0)
        return false;
    if (got < sizeof bytes || bytes[0] != 'B' || bytes[1] != 'M')
        Invalid();
    header.FileSize = GetLE32(bytes + 2);
    header.PixelOffset = GetLE32(bytes + 10);
    return true;
}

bool ReadBMPInfo(TStream& stream, TBMPReadMode mode, const TBMPFileHeader* file, TBMPInfo& info)
{
    const bool strict = mode == TBMPReadMode::bmStrict;
    info = TBMPInfo {};
    std::uint8_t header[kLargestHeaderSize] = {};
    const std::size_t got = ReadUpTo(stream, header, 4);
    if (got == 0 && strict)
        return false;
    if (got < 4)
        Invalid();
    const std::uint32_t size = GetLE32(header);
    if (strict ? size != kCoreHeaderSize && size != kInfoHeaderSize : !IsLenientHeaderSize(size))
        Invalid();
    info.HeaderSize = size;
    stream.ReadBuffer(header + 4, size - 4);

    std::size_t entrySize = 4;
    if (size == kCoreHeaderSize) {
        // bcWidth and bcHeight are unsigned 16-bit: always bottom-up.
        info.Width = GetLE16(header + 4);
        info.Height = GetLE16(header + 6);
        info.Planes = GetLE16(header + 8);
        info.BitCount = GetLE16(header + 10);
        entrySize = 3;
    } else {
        info.Width = static_cast<std::int32_t>(GetLE32(header + 4));
        const std::int64_t height = static_cast<std::int32_t>(GetLE32(header + 8));
        info.TopDown = height < 0;
        info.Height = height < 0 ? -height : height;
        info.Planes = GetLE16(header + 12);
        info.BitCount = GetLE16(header + 14);
        // A 16-byte OS/2 header ends here; the rest reads as zeros.
        info.Compression = GetLE32(header + 16);
        info.ImageSize = GetLE32(header + 20);
        info.ColorsUsed = GetLE32(header + 32);
    }
    // A width of 0 or less describes no picture; a storage would compute its
    // rows from it regardless.
    if (info.Width <= 0)
        Invalid();

    if (strict) {
        if (info.Compression == kBiBitFields) {
            std::uint8_t masks[12];
            stream.ReadBuffer(masks, sizeof masks);
            for (int i = 0; i < 3; ++i)
                info.Masks[i] = GetLE32(masks + 4 * i);
            info.HasMasks = true;
        }
    } else {
        if (IsOS2V2Header(size) && info.Compression >= 3)
            Invalid(); // OS/2 Huffman 1D (3) and RLE24 (4)
        if (info.Compression == kBiBitFields || info.Compression == kBiAlphaBitFields) {
            if (size >= kV2HeaderSize) {
                // Version 2 and later headers carry the masks themselves.
                for (int i = 0; i < 3; ++i)
                    info.Masks[i] = GetLE32(header + 40 + 4 * i);
                if (size >= kV3HeaderSize)
                    info.Masks[3] = GetLE32(header + 52);
            } else {
                // After a 40-byte header: red, green, blue, and for
                // BI_ALPHABITFIELDS alpha.
                const int count = info.Compression == kBiAlphaBitFields ? 4 : 3;
                std::uint8_t masks[16];
                stream.ReadBuffer(masks, std::size_t(count) * 4);
                for (int i = 0; i < count; ++i)
                    info.Masks[i] = GetLE32(masks + 4 * i);
            }
            info.HasMasks = true;
        }
    }

    // biClrUsed 0 means a full table for indexed pixels. More than 256
    // entries are never read: pixel values cannot reach them.
    std::uint32_t count = info.ColorsUsed;
    if (count == 0 && info.BitCount <= 8)
        count = std::uint32_t(1) << info.BitCount;
    count = std::min<std::uint32_t>(count, 256);
    // OS/2 writers shorten the core header's table to what the image uses;
    // only bfOffBits tells where it ends.
    const std::uint32_t coreTableStart = kFileHeaderSize + kCoreHeaderSize;
    if (size == kCoreHeaderSize && file != nullptr && file->PixelOffset >= coreTableStart)
        count = std::min<std::uint32_t>(count, (file->PixelOffset - coreTableStart) / 3);
    std::uint8_t entries[256 * 4];
    stream.ReadBuffer(entries, count * entrySize);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = entries + i * entrySize;
        info.ColorTable[i] = TRGBQuad { entry[0], entry[1], entry[2],
            entrySize == 4 ? entry[3] : std::uint8_t(0) };
    }
    info.ColorCount = static_cast<std::int32_t>(count);

    // The pixel data follows the colour table unless the file header points
    // further on (gaps and oversized tables are common). An offset into the
    // headers or beyond the stream is a writer's mistake and is ignored.
    info.PixelPosition = stream.Position();
    if (file != nullptr) {
        const std::uint64_t at = file->Start + file->PixelOffset;
        if (at >= info.PixelPosition && at <= stream.Size())
            info.PixelPosition = at;
    }
    return true;
}

std::shared_ptr<TDIBSharedImage> ReadDIBStorage(
    TStream& stream, bool plainMemory, const TBMPFileHeader* file)
{
    TBMPInfo info;
    if (!ReadBMPInfo(stream, TBMPReadMode::bmStrict, file, info))
        return SharedEmptyImage();

    TDIBChannelLayout layout;
    if (info.Compression == kBiBitFields)
        layout = MakeChannelLayoutFromMasks(info.Masks[0], info.Masks[1], info.Masks[2]);
    else if (info.BitCount == 16)
        layout = Layout555();
    else
        layout = Layout888();
    // Allocate is the judge of bit counts and layouts. Asking it for a 1 x 1
    // storage without pixel memory raises its errors before the header's
    // dimensions are trusted with anything.
    TDIBSharedImage::Allocate(1, 1, info.BitCount, layout, info.ColorTable, true, true);
    if (info.Compression > kBiBitFields)
        Invalid();
    // An RLE code that does not match the bit count would leave a storage
    // that claims rows but holds a stream, or decode with the wrong code.
    const bool compressed = info.Compression == kBiRle8 || info.Compression == kBiRle4;
    if (compressed && info.BitCount != (info.Compression == kBiRle8 ? 8 : 4))
        Invalid();

    const auto width = static_cast<std::uint64_t>(info.Width);
    const auto height = static_cast<std::uint64_t>(info.Height);
    const std::uint64_t rowBytes = RowBytesOf(width, static_cast<std::uint32_t>(info.BitCount));
    CheckPictureMemory(rowBytes, height);

    stream.SetPosition(info.PixelPosition);
    if (compressed) {
        if (info.ImageSize > stream.Remaining())
            throw EReadError(kStreamReadError);
        std::vector<std::uint8_t> data(info.ImageSize);
        stream.ReadBuffer(data.data(), data.size());
        auto image = TDIBSharedImage::Allocate(static_cast<std::int32_t>(width),
            static_cast<std::int32_t>(height), info.BitCount, layout, info.ColorTable, plainMemory,
            true);
        image->SetCompressedData(std::move(data));
        return image;
    }

    if (rowBytes * height > stream.Remaining())
        throw EReadError(kStreamReadError);
    auto image = TDIBSharedImage::Allocate(static_cast<std::int32_t>(width),
        static_cast<std::int32_t>(height), info.BitCount, layout, info.ColorTable, plainMemory,
        false);
    if (!info.TopDown) {
        stream.ReadBuffer(image->Bits(), static_cast<std::size_t>(image->Size()));
    } else {
        for (std::int32_t y = 0; y < image->Height(); ++y)
            stream.ReadBuffer(image->TopBits() + std::int64_t(y) * image->RowStep(),
                static_cast<std::size_t>(image->RowBytes()));
    }
    return image;
}

void LoadBMPPicture(std::span<const std::uint8_t> file, TDIB& target)
{
    std::shared_ptr<TDIBSharedImage> image;
    try {
        image = DecodeBMPPicture(file, target.ColorTable(), target.Image()->PlainMemory());
    } catch (const EReadError&) {
        // A file that ends inside its headers is as invalid as any other
        // malformed bitmap to the loader.
        throw EInvalidGraphic(DIBMessages::sInvalidDIB);
    }
    target.SetImage(std::move(image));
    target.SetPaletteModified(true);
}

} // namespace zx

// JPEG orientation: the EXIF Orientation tag of a JPEG file, and the turn or
// mirror it asks for.
//
// Cameras store the picture as the sensor saw it and record in EXIF how to
// show it. The tag lives in the first IFD of the TIFF structure inside the
// APP1 segment "Exif\0\0" (EXIF 2.32 §4.5.4, §4.6.4 A; TIFF 6.0 §2). Every
// offset and count in there comes from the file, so every read is checked;
// anything malformed means "no orientation", never an error: the picture
// itself is intact.

#include "core/imaging/XImageFileUnit.h"

#include <cstring>
#include <optional>

namespace zx {

namespace {

    constexpr std::uint16_t kOrientationTag = 0x0112;
    constexpr std::uint16_t kTypeShort = 3;

    // Reads the TIFF structure in one EXIF block; every read is checked
    // against the block's end and fails softly.
    class TTiffReader {
    public:
        explicit TTiffReader(std::span<const std::uint8_t> tiff)
            : m_tiff(tiff)
        {
        }

        bool ReadByteOrder()
        {
            if (m_tiff.size() < 8)
                return false;
            if (m_tiff[0] == 'I' && m_tiff[1] == 'I')
                m_bigEndian = false;
            else if (m_tiff[0] == 'M' && m_tiff[1] == 'M')
                m_bigEndian = true;
            else
                return false;
            const auto magic = U16(2);
            return magic && *magic == 42;
        }

        std::optional<std::uint16_t> U16(std::size_t at) const
        {
            if (at > m_tiff.size() || m_tiff.size() - at < 2)
                return std::nullopt;
            const std::uint8_t* p = m_tiff.data() + at;
            return static_cast<std::uint16_t>(m_bigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
        }

        std::optional<std::uint32_t> U32(std::size_t at) const
        {
            const auto first = U16(at);
            const auto second = U16(at + 2);
            if (!first || !second)
                return std::nullopt;
            return m_bigEndian ? std::uint32_t(*first) << 16 | *second
                               : std::uint32_t(*second) << 16 | *first;
        }

    private:
        std::span<const std::uint8_t> m_tiff;
        bool m_bigEndian = false;
    };

    std::int32_t OrientationInExif(std::span<const std::uint8_t> tiff)
    {
        TTiffReader reader(tiff);
        if (!reader.ReadByteOrder())
            return 1;
        const auto ifd = reader.U32(4);
        if (!ifd)
            return 1;
        const auto count = reader.U16(*ifd);
        if (!count)
            return 1;
        // 12 bytes per entry: tag, type, count, value (TIFF 6.0 §2, "IFD
        // Entry"). A SHORT value of count 1 sits in the first two bytes of the
        // value field.
        for (std::uint32_t i = 0; i < *count; ++i) {
            const std::size_t entry = std::size_t(*ifd) + 2 + std::size_t(i) * 12;
            const auto tag = reader.U16(entry);
            if (!tag)
                return 1;
            if (*tag != kOrientationTag)
                continue;
            const auto type = reader.U16(entry + 2);
            const auto values = reader.U32(entry + 4);
            const auto value = reader.U16(entry + 8);
            if (!type || *type != kTypeShort || !values || *values != 1 || !value)
                return 1;
            return *value >= 1 && *value <= 8 ? *value : 1;
        }
        return 1;
    }

    void CopyPixel(const std::uint8_t* from, std::uint8_t* to)
    {
        std::memcpy(to, from, 3);
    }

} // namespace

std::int32_t ReadExifOrientation(std::span<const std::uint8_t> file)
{
    // The marker segments up to the first scan (ITU T.81 B.1.1): FF, marker,
    // big-endian length counting itself, payload. Fill bytes (FF) may stand
    // before a marker; SOI, EOI, RSTn and TEM have no length.
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8)
        return 1;
    std::size_t at = 2;
    while (at + 1 < file.size()) {
        if (file[at] != 0xFF)
            return 1;
        const std::uint8_t marker = file[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        at += 2;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD9 || marker == 0xDA || at + 2 > file.size())
            return 1;
        const std::size_t length = std::size_t(file[at]) << 8 | file[at + 1];
        if (length < 2 || length > file.size() - at)
            return 1;
        const std::span<const std::uint8_t> payload = file.subspan(at + 2, length - 2);
        if (marker == 0xE1 && payload.size() >= 6
            && std::memcmp(payload.data(), "Exif\0\0", 6) == 0)
            return OrientationInExif(payload.subspan(6));
        at += length;
    }
    return 1;
}

void ApplyExifOrientation(TDIB& picture, std::int32_t orientation)
{
    if (orientation < 2 || orientation > 8 || picture.Empty() || picture.BitCount() != 24)
        return;
    const std::int32_t w = picture.Width();
    const std::int32_t h = picture.Height();
    const bool swapped = orientation >= 5;
    const std::int32_t outW = swapped ? h : w;
    const std::int32_t outH = swapped ? w : h;

    // The stored rows are evenly spaced, so two scan-line look-ups give them all.
    const std::uint8_t* top = picture.ConstScanLine(0);
    const std::ptrdiff_t stride = h > 1 ? picture.ConstScanLine(1) - top : 0;
    TDIB turned;
    turned.SetSize(outW, outH, 24);
    for (std::int32_t y = 0; y < outH; ++y) {
        std::uint8_t* out = turned.ScanLine(y);
        for (std::int32_t x = 0; x < outW; ++x) {
            // The stored pixel that the shown pixel (x, y) is.
            std::int32_t sx = x, sy = y;
            switch (orientation) {
            case 2:
                sx = w - 1 - x;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = h - 1 - x;
                break;
            case 7:
                sx = w - 1 - y;
                sy = h - 1 - x;
                break;
            case 8:
                sx = w - 1 - y;
                sy = x;
                break;
            default:
                break;
            }
            CopyPixel(top + sy * stride + std::ptrdiff_t(sx) * 3, out + std::ptrdiff_t(x) * 3);
        }
    }
    picture = turned;
}

} // namespace zx

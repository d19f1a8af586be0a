// Pixel operations of TDIB beyond storage: packing 16- and 32-bit pixels with a
// channel layout, colour-entry conversions, the box blur and the progress
// notifications of row-by-row operations.

#include "core/IntMath.h"
#include "core/LittleEndian.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace zx {

namespace {

    // A shift by a layout's signed amount. Layouts measured from unusual masks
    // can ask for a negative shift or one of 32 and more; both are meaningful
    // ("the other way", "everything gone") but undefined for the C++ operators.
    std::uint32_t ShiftLeft(std::uint32_t value, std::int32_t amount)
    {
        if (amount <= -32 || amount >= 32)
            return 0;
        return amount >= 0 ? value << amount : value >> -amount;
    }

    std::uint32_t ShiftRight(std::uint32_t value, std::int32_t amount)
    {
        if (amount <= -32 || amount >= 32)
            return 0;
        return amount >= 0 ? value >> amount : value << -amount;
    }

    // The channel value under a mask, brought to 8 bits and widened by repeating
    // its top bits into the low ones (5 bits: 31 -> 255, 16 -> 144, 1 -> 9).
    std::uint8_t Widen(std::uint32_t narrowed, std::int32_t fill)
    {
        const std::uint32_t v = narrowed & 255u;
        return static_cast<std::uint8_t>(v | ShiftRight(v, fill));
    }

    std::uint64_t NowMilliseconds()
    {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

    // One column's running sums. The sums are 64-bit: with a radius as large as
    // the picture, a column or the row total covers every pixel, and 32 bits
    // would overflow from about 8.4 million pixels on.
    struct BlurColumn {
        std::int64_t Red = 0;
        std::int64_t Green = 0;
        std::int64_t Blue = 0;
        std::int64_t Count = 0;
    };

    // Reads the pixels of one source row into the column sums, with the source's
    // own encoding; Sign is +1 to add the row, -1 to take it out again.
    class BlurSource {
    public:
        explicit BlurSource(const TDIB& source)
            : m_source(source)
            , m_bitCount(source.BitCount())
            , m_width(source.Width())
            , m_layout(source.Layout())
            , m_table(source.ColorTable())
        {
        }

        template <int Sign>
        void Accumulate(std::int32_t row, std::vector<BlurColumn>& columns) const
        {
            const std::uint8_t* p = m_source.ConstScanLine(row);
            BlurColumn* c = columns.data();
            switch (m_bitCount) {
            case 24:
                for (std::int32_t x = 0; x < m_width; ++x, p += 3)
                    Add<Sign>(c[x], p[2], p[1], p[0]);
                break;
            case 32:
                for (std::int32_t x = 0; x < m_width; ++x, p += 4)
                    AddPacked<Sign>(c[x], GetLE32(p));
                break;
            case 16:
                for (std::int32_t x = 0; x < m_width; ++x, p += 2)
                    AddPacked<Sign>(c[x], GetLE16(p));
                break;
            case 8:
                for (std::int32_t x = 0; x < m_width; ++x)
                    AddIndex<Sign>(c[x], p[x]);
                break;
            case 4:
                for (std::int32_t x = 0; x < m_width; ++x) {
                    const std::uint8_t byte = p[x >> 1];
                    AddIndex<Sign>(c[x], (x & 1) == 0 ? byte >> 4 : byte & 15);
                }
                break;
            case 1:
                for (std::int32_t x = 0; x < m_width; ++x)
                    AddIndex<Sign>(c[x], (p[x >> 3] >> (7 - (x & 7))) & 1);
                break;
            default:
                break;
            }
        }

    private:
        template <int Sign>
        static void Add(BlurColumn& column, std::int32_t red, std::int32_t green, std::int32_t blue)
        {
            column.Red += Sign * red;
            column.Green += Sign * green;
            column.Blue += Sign * blue;
            column.Count += Sign;
        }

        template <int Sign> void AddPacked(BlurColumn& column, std::uint32_t value) const
        {
            std::uint8_t red, green, blue;
            UnpackPixel(m_layout, value, red, green, blue);
            Add<Sign>(column, red, green, blue);
        }

        template <int Sign> void AddIndex(BlurColumn& column, std::uint32_t index) const
        {
            const TRGBQuad& entry = m_table[index];
            Add<Sign>(column, entry.Red, entry.Green, entry.Blue);
        }

        const TDIB& m_source;
        std::int32_t m_bitCount;
        std::int32_t m_width;
        TDIBChannelLayout m_layout;
        TDIBColorTable m_table;
    };

    void AddColumn(BlurColumn& total, const BlurColumn& column)
    {
        total.Red += column.Red;
        total.Green += column.Green;
        total.Blue += column.Blue;
        total.Count += column.Count;
    }

    void SubtractColumn(BlurColumn& total, const BlurColumn& column)
    {
        total.Red -= column.Red;
        total.Green -= column.Green;
        total.Blue -= column.Blue;
        total.Count -= column.Count;
    }

    // Writes pixel x of a row of the blurred picture from the window totals. Sum
    // is the type the division runs in: 32 bits where every window's totals fit,
    // which is much faster than 64-bit division.
    template <std::int32_t BitCount, typename Sum>
    void WritePixel(
        std::uint8_t* row, std::int32_t x, const BlurColumn& total, const TDIBChannelLayout& layout)
    {
        const auto n = static_cast<Sum>(total.Count);
        const auto red = static_cast<Sum>(total.Red);
        const auto green = static_cast<Sum>(total.Green);
        const auto blue = static_cast<Sum>(total.Blue);
        if constexpr (BitCount == 24) {
            row[3 * x] = static_cast<std::uint8_t>(blue / n);
            row[3 * x + 1] = static_cast<std::uint8_t>(green / n);
            row[3 * x + 2] = static_cast<std::uint8_t>(red / n);
        } else if constexpr (BitCount == 32 || BitCount == 16) {
            const std::uint32_t value = PackPixel(layout, static_cast<std::int32_t>(red / n),
                static_cast<std::int32_t>(green / n), static_cast<std::int32_t>(blue / n));
            if constexpr (BitCount == 32)
                PutLE32(row + 4 * x, value);
            else
                PutLE16(row + 2 * x, static_cast<std::uint16_t>(value));
        } else {
            // The grey of the three totals, then divided down to the index range.
            const Sum grey = (red + green + blue) / n / 3;
            if constexpr (BitCount == 8) {
                row[x] = static_cast<std::uint8_t>(grey);
            } else if constexpr (BitCount == 4) {
                const auto nibble = static_cast<std::uint8_t>(grey >> 4);
                std::uint8_t& byte = row[x >> 1];
                byte = (x & 1) == 0 ? std::uint8_t((byte & 0x0F) | nibble << 4)
                                    : std::uint8_t((byte & 0xF0) | nibble);
            } else {
                const auto bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
                std::uint8_t& byte = row[x >> 3];
                byte = grey > 127 ? std::uint8_t(byte | bit) : std::uint8_t(byte & ~bit);
            }
        }
    }

    // One output row: the horizontal window slides over the column sums. At the
    // right edge the window cannot move on; the last column is then added once
    // more and stays counted twice for the rest of the row.
    template <std::int32_t BitCount, typename Sum>
    void BlurRow(const std::vector<BlurColumn>& columns, std::int32_t r,
        const TDIBChannelLayout& layout, std::uint8_t* out)
    {
        const auto width = static_cast<std::int32_t>(columns.size());
        std::int32_t firstCol = 0;
        std::int32_t lastCol = std::min(r, width - 1);
        BlurColumn total;
        for (std::int32_t x = firstCol; x <= lastCol; ++x)
            AddColumn(total, columns[static_cast<std::size_t>(x)]);

        for (std::int32_t x = 0; x < width; ++x) {
            if (x - firstCol == r + 1) {
                SubtractColumn(total, columns[static_cast<std::size_t>(firstCol)]);
                ++firstCol;
            }
            if (lastCol - x == r - 1) {
                lastCol = std::min(lastCol + 1, width - 1);
                AddColumn(total, columns[static_cast<std::size_t>(lastCol)]);
            }
            WritePixel<BitCount, Sum>(out, x, total, layout);
        }
    }

    using BlurRowFunction = void (*)(
        const std::vector<BlurColumn>&, std::int32_t, const TDIBChannelLayout&, std::uint8_t*);

    template <typename Sum> BlurRowFunction BlurRowFor(std::int32_t bitCount)
    {
        switch (bitCount) {
        case 1:
            return BlurRow<1, Sum>;
        case 4:
            return BlurRow<4, Sum>;
        case 8:
            return BlurRow<8, Sum>;
        case 16:
            return BlurRow<16, Sum>;
        case 32:
            return BlurRow<32, Sum>;
        default:
            return BlurRow<24, Sum>;
        }
    }

    // The totals of a window hold at most (2r + 1 + 1) samples along each axis
    // (the window plus the extra edge copy), each channel at most 255 per sample,
    // and the grey adds three channels.
    bool TotalsFitIn32Bits(std::int32_t width, std::int32_t height, std::int32_t r)
    {
        const std::uint64_t span = 2 * std::uint64_t(r) + 1;
        const std::uint64_t across = std::min<std::uint64_t>(span, std::uint64_t(width)) + 1;
        const std::uint64_t down = std::min<std::uint64_t>(span, std::uint64_t(height)) + 1;
        return across * down * 3 * 255 <= 0xFFFFFFFFu;
    }

} // namespace

// ---------------------------------------------------------------------------
// Pixel packing

std::uint32_t PackPixel(
    const TDIBChannelLayout& layout, std::int32_t red, std::int32_t green, std::int32_t blue)
{
    const auto r = static_cast<std::uint32_t>(red) & 255u;
    const auto g = static_cast<std::uint32_t>(green) & 255u;
    const auto b = static_cast<std::uint32_t>(blue) & 255u;
    return (ShiftLeft(r, layout.RedShift) & static_cast<std::uint32_t>(layout.RedMask))
        | (ShiftLeft(g, layout.GreenShift) & static_cast<std::uint32_t>(layout.GreenMask))
        | (ShiftRight(b, layout.BlueShift) & static_cast<std::uint32_t>(layout.BlueMask));
}

void UnpackPixel(const TDIBChannelLayout& layout, std::uint32_t value, std::uint8_t& red,
    std::uint8_t& green, std::uint8_t& blue)
{
    red = Widen(ShiftRight(value & static_cast<std::uint32_t>(layout.RedMask), layout.RedShift),
        layout.RedFill);
    green
        = Widen(ShiftRight(value & static_cast<std::uint32_t>(layout.GreenMask), layout.GreenShift),
            layout.GreenFill);
    blue = Widen(ShiftLeft(value & static_cast<std::uint32_t>(layout.BlueMask), layout.BlueShift),
        layout.BlueFill);
}

std::uint32_t MakeColorEntry(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return std::uint32_t(red) << 16 | std::uint32_t(green) << 8 | std::uint32_t(blue);
}

std::uint32_t SwapRedBlue(std::uint32_t value)
{
    return (value & 0xFFu) << 16 | (value & 0xFF00u) | (value >> 16 & 0xFFu);
}

// ---------------------------------------------------------------------------
// Box blur

void TDIB::Blur(std::int32_t bitCount, std::int32_t radius)
{
    if (Empty() || radius == 0)
        return;

    // A radius that reaches past both edges behaves like one just past the
    // larger side: the window then always covers the whole picture and the
    // extra edge copies no longer arise. Clamping keeps every window
    // comparison below in 32 bits, also for INT32_MIN.
    const std::int64_t wanted = radius < 0 ? -std::int64_t(radius) : std::int64_t(radius);
    const std::int32_t r = static_cast<std::int32_t>(
        std::min<std::int64_t>(wanted, std::int64_t(std::max(Width(), Height())) + 1));

    StartProgress("Blur");
    try {
        // The source shares our storage; the first write to our rows gives us a
        // private copy, so the source keeps the pixels as they were.
        const TDIB source(*this);
        const std::int32_t width = source.Width();
        const std::int32_t height = source.Height();

        SetSize(width, height, bitCount);
        if (bitCount <= 8) {
            TDIBColorTable& table = ColorTable();
            table.fill(TRGBQuad {});
            const std::int32_t entries = 1 << bitCount;
            for (std::int32_t i = 0; i < entries; ++i) {
                std::int32_t v = i << (8 - bitCount);
                v = v | (v >> bitCount);
                const auto grey = static_cast<std::uint8_t>(v);
                table[static_cast<std::size_t>(i)] = TRGBQuad { grey, grey, grey, 0 };
            }
            UpdatePalette();
        }

        const BlurSource reader(source);
        const BlurRowFunction blurRow = TotalsFitIn32Bits(width, height, r)
            ? BlurRowFor<std::uint32_t>(BitCount())
            : BlurRowFor<std::int64_t>(BitCount());
        const TDIBChannelLayout layout = Layout();
        std::vector<BlurColumn> columns(static_cast<std::size_t>(width));

        std::int32_t firstRow = 0;
        std::int32_t lastRow = std::min(r, height - 1);
        for (std::int32_t row = firstRow; row <= lastRow; ++row)
            reader.Accumulate<+1>(row, columns);

        for (std::int32_t y = 0; y < height; ++y) {
            if (y - firstRow == r + 1) {
                reader.Accumulate<-1>(firstRow, columns);
                ++firstRow;
            }
            // At the bottom the window cannot move on either; the last row is
            // added once more and stays counted twice.
            if (lastRow - y == r - 1) {
                lastRow = std::min(lastRow + 1, height - 1);
                reader.Accumulate<+1>(lastRow, columns);
            }
            blurRow(columns, r, layout, ScanLine(y));
            StepProgress(y);
        }
    } catch (...) {
        EndProgress();
        throw;
    }
    EndProgress();
}

// ---------------------------------------------------------------------------
// Progress notifications

void TDIB::StartProgress(const std::string& name)
{
    m_progressName = name;
    m_progressPercent = 0;
    m_progressTime = NowMilliseconds();
    m_progressRow = 0;
    m_progressRedrawRow = 0;
    if (OnProgress)
        OnProgress(TProgressStage::psStarting, 0, false, TProgressRect { 0, 0, Width(), Height() },
            m_progressName);
}

void TDIB::StepProgress(std::int32_t row)
{
    const std::uint64_t now = NowMilliseconds();
    const bool redraw = now - m_progressTime > 200
        && std::int64_t(m_progressRow) - m_progressRedrawRow > 32
        && (m_progressRedrawRow != 0 || m_progressRow < Height() / 3);
    // A picture without rows has nothing to report a fraction of.
    const std::int32_t percent
        = Height() > 0 ? static_cast<std::int32_t>(std::int64_t(row) * 100 / Height()) : 0;
    if (percent != m_progressPercent || redraw) {
        if (OnProgress)
            OnProgress(TProgressStage::psRunning, percent, redraw,
                TProgressRect { 0, m_progressRedrawRow, Width(), m_progressRow }, m_progressName);
        if (redraw) {
            m_progressRedrawRow = m_progressRow;
            m_progressTime = now;
        }
    }
    m_progressPercent = percent;
    m_progressRow = AddWrap(m_progressRow, 1);
}

void TDIB::EndProgress()
{
    if (OnProgress)
        OnProgress(TProgressStage::psEnding, 100, true,
            TProgressRect { 0, m_progressRedrawRow, Width(), Height() }, m_progressName);
}

} // namespace zx

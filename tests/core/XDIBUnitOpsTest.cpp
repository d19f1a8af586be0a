#include "core/Errors.h"
#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <set>
#include <vector>

using namespace zx;

namespace {

struct Rgb {
    int Red = 0, Green = 0, Blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << c.Red << ", " << c.Green << ", " << c.Blue << ")";
}

Rgb Unpacked(const TDIBChannelLayout& layout, std::uint32_t value)
{
    std::uint8_t r, g, b;
    UnpackPixel(layout, value, r, g, b);
    return { r, g, b };
}

// The colour a picture shows at (x, y), decoded independently of the blur's
// own row reader.
Rgb ColourAt(const TDIB& dib, int x, int y)
{
    const std::uint8_t* row = dib.ConstScanLine(y);
    const auto entry = [&](int index) {
        const TRGBQuad& q = dib.ColorTable()[static_cast<std::size_t>(index)];
        return Rgb { q.Red, q.Green, q.Blue };
    };
    switch (dib.BitCount()) {
    case 1:
        return entry((row[x / 8] >> (7 - x % 8)) & 1);
    case 4:
        return entry(x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15);
    case 8:
        return entry(row[x]);
    case 16:
        return Unpacked(dib.Layout(), row[2 * x] | row[2 * x + 1] << 8);
    case 24:
        return { row[3 * x + 2], row[3 * x + 1], row[3 * x] };
    case 32: {
        std::uint32_t v;
        std::memcpy(&v, row + 4 * x, 4);
        return Unpacked(dib.Layout(), v);
    }
    }
    return {};
}

// How often sample i of an axis of the given length counts for output
// position p: once inside the window [p - r, p + r] clipped to the axis, and
// the last sample once more from position length - r on, when length >= r
// (the window cannot move past the edge and adds the last sample again).
int Weight(int i, int p, int length, int r)
{
    int w = (i >= p - r && i <= p + r) ? 1 : 0;
    if (i == length - 1 && length >= r && p >= length - r)
        ++w;
    return w;
}

// The window sums of red, green, blue and the sample count, computed by brute
// force, independently of the running sums: every output pixel weighs every
// source pixel.
using Sums = std::array<long long, 4>;

std::vector<std::vector<Sums>> BruteForceSums(const TDIB& source, int r)
{
    const int w = source.Width(), h = source.Height();
    std::vector<std::vector<Sums>> sums(
        static_cast<std::size_t>(h), std::vector<Sums>(static_cast<std::size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            long long red = 0, green = 0, blue = 0, n = 0;
            for (int j = 0; j < h; ++j) {
                const int wy = Weight(j, y, h, r);
                if (wy == 0)
                    continue;
                for (int i = 0; i < w; ++i) {
                    const int weight = wy * Weight(i, x, w, r);
                    if (weight == 0)
                        continue;
                    const Rgb c = ColourAt(source, i, j);
                    red += weight * c.Red;
                    green += weight * c.Green;
                    blue += weight * c.Blue;
                    n += weight;
                }
            }
            sums[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]
                = { red, green, blue, n };
        }
    return sums;
}

// The means of the brute-force sums, as 24-bit pixels get them.
std::vector<std::vector<std::array<long long, 3>>> BruteForceMeans(const TDIB& source, int r)
{
    std::vector<std::vector<std::array<long long, 3>>> means;
    for (const auto& row : BruteForceSums(source, r)) {
        means.emplace_back();
        for (const Sums& s : row)
            means.back().push_back({ s[0] / s[3], s[1] / s[3], s[2] / s[3] });
    }
    return means;
}

TDIB RandomPicture(int width, int height, int bitCount, unsigned seed)
{
    TDIB dib;
    if (bitCount == 16)
        dib.SetPixelFormat(Layout565());
    dib.SetSize(width, height, bitCount);
    std::mt19937 random(seed);
    if (bitCount <= 8) {
        for (auto& entry : dib.ColorTable())
            entry = TRGBQuad { std::uint8_t(random()), std::uint8_t(random()),
                std::uint8_t(random()), 0 };
        dib.UpdatePalette();
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (int i = 0; i < dib.RowBytes(); ++i)
            row[i] = std::uint8_t(random());
    }
    return dib;
}

TDIB GreyRow(std::initializer_list<int> values)
{
    TDIB dib;
    dib.SetSize(static_cast<int>(values.size()), 1, 24);
    std::uint8_t* row = dib.ScanLine(0);
    for (const int v : values) {
        *row++ = std::uint8_t(v);
        *row++ = std::uint8_t(v);
        *row++ = std::uint8_t(v);
    }
    return dib;
}

std::vector<int> RedValues(const TDIB& dib, int y = 0)
{
    std::vector<int> values;
    for (int x = 0; x < dib.Width(); ++x)
        values.push_back(ColourAt(dib, x, y).Red);
    return values;
}

std::vector<std::uint8_t> AllRows(const TDIB& dib)
{
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < dib.Height(); ++y) {
        const std::uint8_t* row = dib.ConstScanLine(y);
        bytes.insert(bytes.end(), row, row + dib.RowBytes());
    }
    return bytes;
}

struct Notification {
    TProgressStage Stage;
    int Percent;
    bool Redraw;
    TProgressRect Rect;
    std::string Message;
};

std::vector<Notification>& Listen(TDIB& dib, std::vector<Notification>& log)
{
    dib.OnProgress = [&log](TProgressStage stage, std::int32_t percent, bool redraw,
                         const TProgressRect& rect, const std::string& message) {
        log.push_back({ stage, percent, redraw, rect, message });
    };
    return log;
}

} // namespace

// ---------------------------------------------------------------------------
// Pixel packing and colour entries

TEST(XDIBUnitOps, UnpackWidensNarrowChannelsByOrOfTwoOverlappingParts)
{
    const TDIBChannelLayout& l555 = Layout555();
    EXPECT_EQ(Unpacked(l555, 31u << 10), (Rgb { 255, 0, 0 }));
    EXPECT_EQ(Unpacked(l555, 16u << 5), (Rgb { 0, 144, 0 }));
    EXPECT_EQ(Unpacked(l555, 1u), (Rgb { 0, 0, 9 }));
    EXPECT_EQ(Unpacked(l555, 0x7FFF), (Rgb { 255, 255, 255 }));
    const TDIBChannelLayout& l565 = Layout565();
    EXPECT_EQ(Unpacked(l565, 63u << 5), (Rgb { 0, 255, 0 }));
    // v << 3 | v: 16 -> 128 | 16, not the 132 of bit replication.
    EXPECT_EQ(Unpacked(l565, 16u << 11 | 1u << 5 | 16u), (Rgb { 144, 5, 144 }));
    // Eight-bit channels come back unchanged; the top byte carries no colour.
    EXPECT_EQ(Unpacked(Layout888(), 0xFF123456u), (Rgb { 0x12, 0x34, 0x56 }));
}

TEST(XDIBUnitOps, PackKeepsTheTopBitsOfEachChannel)
{
    EXPECT_EQ(PackPixel(Layout555(), 255, 128, 7), 0x7C00u | 16u << 5);
    EXPECT_EQ(PackPixel(Layout565(), 7, 255, 255), 0x07E0u | 0x1Fu);
    EXPECT_EQ(PackPixel(Layout888(), 0x12, 0x34, 0x56), 0x123456u);
    // Only the low byte of each argument counts.
    EXPECT_EQ(PackPixel(Layout888(), 0x112, -1, 0x256), 0x12FF56u);
    for (std::uint32_t v = 0; v < 256; ++v) {
        const int c = int(v);
        ASSERT_EQ(PackPixel(Layout555(), c, c, c), (v >> 3) << 10 | (v >> 3) << 5 | v >> 3);
        ASSERT_EQ(PackPixel(Layout565(), c, c, c), (v >> 3) << 11 | (v >> 2) << 5 | v >> 3);
        // Eight-bit channels pass through both ways.
        const Rgb back = Unpacked(Layout888(), PackPixel(Layout888(), c, 255 - c, c / 3));
        ASSERT_EQ(back, (Rgb { c, 255 - c, c / 3 }));
    }
    // Five-bit values survive unpacking and packing again only where the two
    // widened parts do not overlap in the top bits: 14 widens to 112 | 14 =
    // 126 and packs to 15, 16 to 144 and 18; 1 widens to 9 and packs to 1.
    EXPECT_EQ(PackPixel(Layout555(), 0, 0, Unpacked(Layout555(), 14).Blue), 15u);
    EXPECT_EQ(PackPixel(Layout555(), 0, 0, Unpacked(Layout555(), 16).Blue), 18u);
    EXPECT_EQ(PackPixel(Layout555(), 0, 0, Unpacked(Layout555(), 1).Blue), 1u);
}

TEST(XDIBUnitOps, OddLayoutsNeverShiftOutOfRange)
{
    // One-bit channels ask for negative shifts: red and green move right.
    const TDIBChannelLayout tiny = MakeChannelLayout(1, 1, 1);
    const std::uint32_t packed = PackPixel(tiny, 255, 0, 255);
    EXPECT_EQ(packed, 0b101u);
    EXPECT_EQ(Unpacked(tiny, packed), (Rgb { 129, 0, 129 }));
    // Shifts of 32 and more move everything out (UBSan checks the rest).
    TDIBChannelLayout wide = Layout888();
    wide.RedShift = 40;
    wide.GreenShift = -33;
    wide.BlueShift = 32;
    wide.RedFill = -40;
    EXPECT_EQ(PackPixel(wide, 255, 255, 255), 0u);
    EXPECT_EQ(Unpacked(wide, 0xFFFFFFFFu), (Rgb { 0, 0, 0 }));
}

TEST(XDIBUnitOps, ColorEntriesAndPaletteEntriesSwapRedAndBlue)
{
    EXPECT_EQ(MakeColorEntry(0x12, 0x34, 0x56), 0x123456u);
    // The entry is the colour table's byte order read as a little-endian word.
    const TRGBQuad quad { 0x56, 0x34, 0x12, 0 };
    std::uint32_t word;
    std::memcpy(&word, &quad, 4);
    EXPECT_EQ(word, MakeColorEntry(0x12, 0x34, 0x56));
    EXPECT_EQ(SwapRedBlue(0xAA112233u), 0x00332211u);
    EXPECT_EQ(SwapRedBlue(SwapRedBlue(0x00ABCDEFu)), 0x00ABCDEFu);
}

// ---------------------------------------------------------------------------
// Blur

TEST(XDIBUnitOps, BlurAveragesThreeColumnsAndCountsTheLastColumnTwice)
{
    TDIB middle = GreyRow({ 0, 0, 255, 0, 0 });
    middle.Blur(24, 1);
    EXPECT_EQ(RedValues(middle), (std::vector<int> { 0, 85, 85, 85, 0 }));
    EXPECT_EQ(middle.BitCount(), 24);

    TDIB last = GreyRow({ 0, 0, 0, 0, 255 });
    last.Blur(24, 1);
    // Pixel 4 averages columns 3, 4 and 4 again: 510 / 6, not 255 / 2.
    EXPECT_EQ(RedValues(last), (std::vector<int> { 0, 0, 0, 85, 170 }));
}

TEST(XDIBUnitOps, BlurWithoutRadiusOrPixelsDoesNothing)
{
    TDIB dib = RandomPicture(9, 7, 24, 1);
    const auto storage = dib.Image();
    const auto before = AllRows(dib);
    std::vector<Notification> log;
    Listen(dib, log);
    dib.Blur(24, 0);
    dib.Blur(8, 0);
    EXPECT_EQ(dib.Image(), storage);
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(AllRows(dib), before);

    TDIB empty;
    Listen(empty, log);
    empty.Blur(24, 3);
    EXPECT_TRUE(empty.Empty());
    EXPECT_TRUE(log.empty());
}

TEST(XDIBUnitOps, BlurMatchesBruteForceBoxMeansWithEdgeCounting)
{
    struct Case {
        int Width, Height, Radius;
    };
    // Radii below, at and beyond the picture's sides, so that the extra edge
    // copy arises on neither, one or both axes.
    for (const Case c : { Case { 13, 11, 1 }, Case { 13, 11, 2 }, Case { 13, 11, 5 },
             Case { 7, 9, 7 }, Case { 7, 9, 9 }, Case { 7, 9, 8 }, Case { 1, 6, 2 },
             Case { 6, 1, 3 }, Case { 1, 1, 1 }, Case { 20, 3, 4 } }) {
        const TDIB source
            = RandomPicture(c.Width, c.Height, 24, static_cast<unsigned>(c.Width * 100 + c.Radius));
        const auto expected = BruteForceMeans(source, c.Radius);
        TDIB dib = source;
        dib.Blur(24, c.Radius);
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x) {
                const auto& m = expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
                ASSERT_EQ(ColourAt(dib, x, y), (Rgb { int(m[0]), int(m[1]), int(m[2]) }))
                    << c.Width << "x" << c.Height << " r=" << c.Radius << " at " << x << "," << y;
            }
        // The picture it shared its storage with keeps the old pixels.
        EXPECT_EQ(AllRows(source),
            AllRows(RandomPicture(
                c.Width, c.Height, 24, static_cast<unsigned>(c.Width * 100 + c.Radius))));
    }
}

TEST(XDIBUnitOps, BlurReadsEveryIndexedAndPackedSourceThroughItsOwnColours)
{
    for (const int bitCount : { 1, 4, 8, 16, 32 }) {
        const TDIB source = RandomPicture(11, 6, bitCount, static_cast<unsigned>(bitCount));
        const auto expected = BruteForceMeans(source, 2);
        TDIB dib = source;
        // A 16-bit picture keeps its 5-6-5 layout, which 24 bits cannot use.
        dib.SetPixelFormat(Layout888());
        dib.Blur(24, 2);
        ASSERT_EQ(dib.BitCount(), 24);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 11; ++x) {
                const auto& m = expected[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
                ASSERT_EQ(ColourAt(dib, x, y), (Rgb { int(m[0]), int(m[1]), int(m[2]) }))
                    << bitCount << " bits at " << x << "," << y;
            }
    }
}

TEST(XDIBUnitOps, BlurNegativeRadiusEqualsPositive)
{
    TDIB a = RandomPicture(17, 13, 24, 5);
    TDIB b = RandomPicture(17, 13, 24, 5);
    a.Blur(24, -2);
    b.Blur(24, 2);
    EXPECT_EQ(AllRows(a), AllRows(b));
}

TEST(XDIBUnitOps, BlurKeepsASingleColour)
{
    for (const int r : { 1, 3, 40 }) {
        TDIB dib;
        dib.SetSize(23, 9, 24);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 23; ++x) {
                dib.ScanLine(y)[3 * x] = 0x12;
                dib.ScanLine(y)[3 * x + 1] = 0xC4;
                dib.ScanLine(y)[3 * x + 2] = 0x7F;
            }
        dib.Blur(24, r);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 23; ++x)
                ASSERT_EQ(ColourAt(dib, x, y), (Rgb { 0x7F, 0xC4, 0x12 })) << "r=" << r;
    }
}

TEST(XDIBUnitOps, BlurBeyondBothSidesGivesTheWholePictureMean)
{
    const TDIB source = RandomPicture(10, 6, 24, 9);
    long long sum[3] = {};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x) {
            const Rgb c = ColourAt(source, x, y);
            sum[0] += c.Red;
            sum[1] += c.Green;
            sum[2] += c.Blue;
        }
    const Rgb mean { int(sum[0] / 60), int(sum[1] / 60), int(sum[2] / 60) };
    for (const int r : { 11, 12, 1000, std::numeric_limits<std::int32_t>::max(),
             std::numeric_limits<std::int32_t>::min() }) {
        TDIB dib = source;
        dib.Blur(24, r);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(ColourAt(dib, x, y), mean) << "r=" << r;
    }
}

TEST(XDIBUnitOps, BlurToIndexedBitCountsGivesGreyPalettes)
{
    const TDIB source = RandomPicture(12, 5, 24, 3);
    const auto sums = BruteForceSums(source, 1);
    // The grey of the three totals, not the mean of the three means.
    const auto grey = [&](int x, int y) {
        const Sums& s = sums[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
        return int((s[0] + s[1] + s[2]) / s[3] / 3);
    };

    TDIB eight = source;
    eight.Blur(8, 1);
    ASSERT_EQ(eight.BitCount(), 8);
    EXPECT_EQ(eight.Image()->ColorTable(), GreyRamp());
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(eight.Pixel(x, y), std::uint32_t(grey(x, y)));

    TDIB four = source;
    four.Blur(4, 1);
    ASSERT_EQ(four.BitCount(), 4);
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t v = i < 16 ? std::uint8_t(i * 17) : 0;
        ASSERT_EQ(four.Image()->ColorTable()[std::size_t(i)], (TRGBQuad { v, v, v, 0 })) << i;
    }
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(four.Pixel(x, y), std::uint32_t(grey(x, y) >> 4));

    TDIB one = source;
    one.Blur(1, 1);
    ASSERT_EQ(one.BitCount(), 1);
    TDIBColorTable twoGreys {};
    twoGreys[1] = TRGBQuad { 192, 192, 192, 0 };
    EXPECT_EQ(one.Image()->ColorTable(), twoGreys);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(one.Pixel(x, y), grey(x, y) > 127 ? 1u : 0u);
}

TEST(XDIBUnitOps, BlurToPackedBitCountsUsesThePixelFormat)
{
    const TDIB source = RandomPicture(9, 4, 24, 4);
    const auto means = BruteForceMeans(source, 2);

    TDIB sixteen = source;
    sixteen.SetPixelFormat(Layout565());
    sixteen.Blur(16, 2);
    ASSERT_EQ(sixteen.BitCount(), 16);
    ASSERT_TRUE(sixteen.Layout().SameMasks(Layout565()));
    TDIB thirtyTwo = source;
    thirtyTwo.Blur(32, 2);
    ASSERT_EQ(thirtyTwo.BitCount(), 32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            const auto& m = means[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            const int r = int(m[0]), g = int(m[1]), b = int(m[2]);
            ASSERT_EQ(sixteen.Pixel(x, y), PackPixel(Layout565(), r, g, b));
            ASSERT_EQ(thirtyTwo.Pixel(x, y) & 0xFFFFFFu, PackPixel(Layout888(), r, g, b));
        }
}

TEST(XDIBUnitOps, BlurToAnUnsuitableLayoutFailsButStillEndsItsProgress)
{
    TDIB dib = RandomPicture(6, 6, 24, 2);
    std::vector<Notification> log;
    Listen(dib, log);
    try {
        dib.Blur(16, 1); // a 24-bit picture's 8-8-8 layout cannot hold 16 bits
        FAIL() << "expected an error";
    } catch (const EInvalidGraphicOperation& error) {
        EXPECT_STREQ(error.what(), "像素格式无效");
    }
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Stage, TProgressStage::psStarting);
    EXPECT_EQ(log[1].Stage, TProgressStage::psEnding);
}

TEST(XDIBUnitOps, BlurReportsItsProgressRowByRow)
{
    TDIB dib = RandomPicture(4, 300, 24, 8);
    std::vector<Notification> log;
    Listen(dib, log);
    dib.Blur(24, 3);

    ASSERT_GE(log.size(), 3u);
    const Notification& first = log.front();
    EXPECT_EQ(first.Stage, TProgressStage::psStarting);
    EXPECT_EQ(first.Percent, 0);
    EXPECT_FALSE(first.Redraw);
    EXPECT_EQ(first.Rect, (TProgressRect { 0, 0, 4, 300 }));
    EXPECT_EQ(first.Message, "Blur");
    const Notification& last = log.back();
    EXPECT_EQ(last.Stage, TProgressStage::psEnding);
    EXPECT_EQ(last.Percent, 100);
    EXPECT_EQ(last.Rect.Bottom, 300);
    EXPECT_EQ(last.Message, "Blur");

    // Every change of the percentage (row * 100 / 300) is reported once, in
    // order; a redraw request may add a report without a change.
    std::vector<int> changes;
    for (std::size_t i = 1; i + 1 < log.size(); ++i) {
        const Notification& n = log[i];
        ASSERT_EQ(n.Stage, TProgressStage::psRunning);
        EXPECT_EQ(n.Message, "Blur");
        EXPECT_LE(n.Rect.Top, n.Rect.Bottom);
        if (changes.empty() || changes.back() != n.Percent)
            changes.push_back(n.Percent);
    }
    std::vector<int> expected;
    for (int p = 1; p <= 99; ++p)
        expected.push_back(p);
    EXPECT_EQ(changes, expected);
}

// The high quality level: the exact nearest-colour search against a plain
// scan, the palette's size and exactness, the background left out, still
// areas kept still, and the same results on any number of threads.

#include "core/gif/XGIFUnitQuantizeHigh.h"

#include "core/Errors.h"
#include "core/flag/FlagParameters.h"
#include "core/flag/FlagRenderer.h"
#include "core/flag/LightTable.h"
#include "core/gif/XGIFUnitDitherHigh.h"
#include "core/gif/XGIFUnitQuantize.h"
#include "core/imaging/XImageFileUnit.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace zx;

namespace {

struct TRgb {
    std::uint8_t R, G, B;
};

TDIB MakePicture(
    std::int32_t w, std::int32_t h, const std::function<TRgb(std::int32_t, std::int32_t)>& at)
{
    TDIB dib;
    dib.SetSize(w, h, 24);
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (std::int32_t x = 0; x < w; ++x) {
            const TRgb c = at(x, y);
            row[3 * x] = c.B;
            row[3 * x + 1] = c.G;
            row[3 * x + 2] = c.R;
        }
    }
    return dib;
}

TRgb PixelOf(const TDIB& dib, std::int32_t x, std::int32_t y)
{
    const std::uint8_t* p = dib.ConstScanLine(y) + 3 * x;
    return { p[2], p[1], p[0] };
}

// Smooth colour gradients with a shifting pattern and some noise, like a
// photograph on a moving flag: far more colours than any palette holds.
std::vector<TDIB> PhotoLikeFrames(std::int32_t count, std::int32_t w, std::int32_t h)
{
    std::vector<TDIB> frames;
    std::mt19937 noise(7);
    for (std::int32_t k = 0; k < count; ++k) {
        frames.push_back(MakePicture(w, h, [&](std::int32_t x, std::int32_t y) {
            const double u = double(x) / w, v = double(y) / h;
            const double wave = std::sin(6.0 * u + 0.7 * k) * 0.5 + 0.5;
            const int n = int(noise() % 9) - 4;
            auto clamp = [](double c) { return std::uint8_t(std::clamp(c, 0.0, 255.0)); };
            return TRgb { clamp(40 + 180 * u * wave + n), clamp(30 + 200 * v + n),
                clamp(200 - 150 * u * v + 30 * wave + n) };
        }));
    }
    return frames;
}

std::vector<std::uint8_t> Indices(const TDIB& reduced)
{
    std::vector<std::uint8_t> out;
    for (std::int32_t y = 0; y < reduced.Height(); ++y)
        for (std::int32_t x = 0; x < reduced.Width(); ++x)
            out.push_back(reduced.ConstScanLine(y)[x]);
    return out;
}

// PSNR over red, green and blue of the reduced frames against the sources.
double Psnr(const std::vector<TDIB>& sources, const std::vector<TDIB>& reduced,
    const TColorPalette& palette)
{
    double sum = 0;
    double count = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        for (std::int32_t y = 0; y < sources[i].Height(); ++y) {
            for (std::int32_t x = 0; x < sources[i].Width(); ++x) {
                const TRgb s = PixelOf(sources[i], x, y);
                const TPaletteEntry& p = palette[reduced[i].ConstScanLine(y)[x]];
                for (const double d :
                    { double(s.R) - p.Red, double(s.G) - p.Green, double(s.B) - p.Blue })
                    sum += d * d;
                count += 3;
            }
        }
    }
    return 10 * std::log10(255.0 * 255.0 / (sum / count));
}

// The nearest entry by a scan of the whole palette, lowest index on ties.
std::int32_t PlainNearest(const TColorPalette& palette, int r, int g, int b)
{
    std::int32_t best = -1;
    std::int32_t bestDistance = 0;
    for (std::size_t i = 0; i < palette.size() && i < 256; ++i) {
        const int dr = palette[i].Red - r, dg = palette[i].Green - g, db = palette[i].Blue - b;
        const int d = dr * dr + dg * dg + db * db;
        if (best < 0 || d < bestDistance) {
            best = std::int32_t(i);
            bestDistance = d;
        }
    }
    return best;
}

} // namespace

TEST(XGIFUnitQuantizeHigh, NearestColorAgreesWithAPlainScan)
{
    std::mt19937 random(11);
    // A few kinds of palette: tiny, dense, clustered with duplicates (ties),
    // and one of more than 256 entries, of which only the first 256 count.
    std::vector<TColorPalette> palettes;
    palettes.push_back({ { 10, 200, 30, 0 } });
    palettes.push_back({ { 0, 0, 0, 0 }, { 255, 255, 255, 0 } });
    TColorPalette dense, clustered, large;
    for (int i = 0; i < 256; ++i)
        dense.push_back(
            { std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random()), 0 });
    for (int i = 0; i < 200; ++i) {
        const std::uint8_t base = std::uint8_t(100 + (random() % 8) * 4);
        clustered.push_back({ base, std::uint8_t(base + random() % 3), base, 0 });
    }
    for (int i = 0; i < 300; ++i)
        large.push_back({ std::uint8_t(i * 7), std::uint8_t(i * 13), std::uint8_t(i * 29), 0 });
    palettes.push_back(dense);
    palettes.push_back(clustered);
    palettes.push_back(large);

    for (const TColorPalette& palette : palettes) {
        TNearestColor search(palette);
        EXPECT_EQ(search.EntryCount(), std::int32_t(std::min<std::size_t>(palette.size(), 256)));
        for (int n = 0; n < 60000; ++n) {
            const int r = int(random() % 256), g = int(random() % 256), b = int(random() % 256);
            ASSERT_EQ(search.Find(r, g, b), PlainNearest(palette, r, g, b))
                << palette.size() << " entries, colour " << r << "," << g << "," << b;
        }
        // The corners and edges of the cube, where the cells end.
        for (int r : { 0, 7, 8, 255 })
            for (int g : { 0, 31, 32, 255 })
                for (int b : { 0, 128, 254, 255 })
                    ASSERT_EQ(search.Find(r, g, b), PlainNearest(palette, r, g, b));
    }
    EXPECT_THROW(TNearestColor(TColorPalette {}), EInvalidGraphicOperation);
}

TEST(XGIFUnitQuantizeHigh, NearestColorRecallsWhatItFoundInCrowdedCells)
{
    // Entries crowded into the dark corner, as a dark picture's palette is:
    // the cells there and the far ones (white's too, none being near it)
    // list many candidates,
    // whose answers the search keeps by colour. Every colour of the corner,
    // asked twice in two orders (so that colours sharing a slot displace
    // each other), and white before anything else was kept there.
    std::mt19937 random(23);
    TColorPalette dark;
    for (int i = 0; i < 250; ++i)
        dark.push_back({ std::uint8_t(random() % 40), std::uint8_t(random() % 40),
            std::uint8_t(random() % 40), 0 });
    for (const bool whiteFirst : { true, false }) {
        TNearestColor search(dark);
        if (whiteFirst) {
            ASSERT_EQ(search.Find(20, 20, 20), PlainNearest(dark, 20, 20, 20));
            ASSERT_EQ(search.Find(255, 255, 255), PlainNearest(dark, 255, 255, 255));
        }
        for (int pass = 0; pass < 2; ++pass) {
            for (int n = 0; n < 48 * 48 * 48; ++n) {
                const int v = pass == 0 ? n : 48 * 48 * 48 - 1 - n;
                const int r = v % 48, g = v / 48 % 48, b = v / (48 * 48);
                ASSERT_EQ(search.Find(r, g, b), PlainNearest(dark, r, g, b))
                    << "colour " << r << "," << g << "," << b << " pass " << pass;
            }
        }
        for (int v : { 255, 254, 250 })
            ASSERT_EQ(search.Find(v, v, v), PlainNearest(dark, v, v, v)) << v;
    }
}

TEST(XGIFUnitQuantizeHigh, ExactColoursAreFoundAsTheSearchFindsThem)
{
    // Colours shared by several entries (the lowest index wins), black and
    // white (the hash's smallest and largest keys), a palette of more than
    // 256 entries (its later ones do not count), and colours near entries
    // that are none of them.
    std::mt19937 random(5);
    TColorPalette shared { { 0, 0, 0, 0 }, { 9, 9, 9, 0 }, { 0, 0, 0, 0 }, { 255, 255, 255, 0 },
        { 9, 9, 9, 0 }, { 255, 255, 255, 0 } };
    TColorPalette clustered, large;
    for (int i = 0; i < 256; ++i)
        clustered.push_back(
            { std::uint8_t(100 + random() % 6), std::uint8_t(50 + random() % 6), 7, 0 });
    for (int i = 0; i < 256; ++i)
        large.push_back({ std::uint8_t(i * 7), std::uint8_t(i * 13), std::uint8_t(i * 29), 0 });
    for (int i = 0; i < 40; ++i)
        large.push_back({ 1, 2, std::uint8_t(i), 0 });
    for (const TColorPalette& palette : { shared, clustered, large }) {
        TNearestColor search(palette);
        const highq::TExactColours exact(search);
        const auto key = [](const TPaletteEntry& e) {
            return (std::uint32_t(e.Red) << 16) | (std::uint32_t(e.Green) << 8) | e.Blue;
        };
        std::set<std::uint32_t> counted;
        for (std::int32_t i = 0; i < search.EntryCount(); ++i) {
            const TPaletteEntry& e = palette[std::size_t(i)];
            counted.insert(key(e));
            ASSERT_EQ(exact.Find(key(e)), search.Find(e.Red, e.Green, e.Blue)) << i;
        }
        for (const TPaletteEntry& e : palette) {
            for (const int d : { -1, 1 }) {
                const TPaletteEntry near { std::uint8_t(e.Red + d), e.Green, e.Blue, 0 };
                if (!counted.count(key(near))) {
                    EXPECT_EQ(exact.Find(key(near)), -1);
                }
            }
        }
        for (std::size_t i = 256; i < palette.size(); ++i)
            EXPECT_EQ(exact.Find(key(palette[i])), -1) << i;
    }
}

TEST(XGIFUnitQuantizeHigh, FewColoursAreKeptExactly)
{
    // Four colours, two of them in the same counting cell (they differ by 1).
    const std::vector<TRgb> colours { { 200, 10, 10 }, { 201, 10, 10 }, { 0, 90, 255 },
        { 250, 250, 250 } };
    std::vector<TDIB> frames;
    for (int k = 0; k < 3; ++k)
        frames.push_back(MakePicture(
            30, 20, [&](std::int32_t x, std::int32_t y) { return colours[(x / 3 + y + k) % 4]; }));
    for (const std::int32_t size : { 4, 7, 256 }) {
        const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, size);
        ASSERT_EQ(palette.size(), std::size_t(size));
        const std::vector<TDIB> reduced = ReduceFramesHighQuality(frames, {}, {}, palette);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            for (std::int32_t y = 0; y < 20; ++y) {
                for (std::int32_t x = 0; x < 30; ++x) {
                    const TRgb want = PixelOf(frames[i], x, y);
                    const TPaletteEntry& got = palette[reduced[i].ConstScanLine(y)[x]];
                    ASSERT_EQ(got.Red, want.R);
                    ASSERT_EQ(got.Green, want.G);
                    ASSERT_EQ(got.Blue, want.B);
                }
            }
        }
    }
    // One flat colour: entry 0 is that colour, the rest black.
    const std::vector<TDIB> flat { MakePicture(16, 16, [](auto, auto) {
        return TRgb { 9, 99, 199 };
    }) };
    const TColorPalette palette = CreateHighQualityPalette(flat, {}, {}, 16);
    EXPECT_EQ(palette[0], (TPaletteEntry { 9, 99, 199, 0 }));
    for (std::size_t i = 1; i < palette.size(); ++i)
        EXPECT_EQ(palette[i], TPaletteEntry {});
}

TEST(XGIFUnitQuantizeHigh, TheMostFrequentColoursAreEntriesWhereverTheyAreCounted)
{
    // Fields of colours at the ends of the counting map's 64-colour words
    // (black, 0x00003F and 0x000040, 0x7FFFC0, white and its neighbour), each
    // beside one that has fewer pixels, and 200 rare colours between them.
    // Of the colours of at least 2 per mille, the four with the most pixels
    // get exact entries of a 16-entry palette: a count put at a
    // neighbouring colour would give its entry to that one.
    struct TField {
        std::uint32_t Colour;
        std::int32_t Rows;
    };
    const TField fields[] = { { 0x00003F, 30 }, { 0x000040, 3 }, { 0xFFFFFF, 25 }, { 0xFFFFFE, 2 },
        { 0x000000, 20 }, { 0x7FFFC0, 14 } };
    const auto rgb = [](std::uint32_t c) {
        return TRgb { std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c) };
    };
    std::vector<TDIB> frames;
    for (int k = 0; k < 2; ++k)
        frames.push_back(MakePicture(100, 100, [&](std::int32_t x, std::int32_t y) {
            std::int32_t row = y;
            for (const TField& field : fields) {
                if (row < field.Rows)
                    return rgb(field.Colour);
                row -= field.Rows;
            }
            // The last 6 rows: 200 colours of 3 pixels each over both frames.
            const std::uint32_t rare = std::uint32_t((row * 100 + x + k * 600) / 6 % 200);
            return rgb(0x204060 + rare * 0x010305);
        }));
    for (const unsigned threads : { 1u, 2u, 3u }) {
        const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, 16, threads);
        std::set<std::uint32_t> entries;
        for (const TPaletteEntry& e : palette)
            entries.insert((std::uint32_t(e.Red) << 16) | (std::uint32_t(e.Green) << 8) | e.Blue);
        for (const std::uint32_t wanted : { 0x00003Fu, 0xFFFFFFu, 0x000000u, 0x7FFFC0u })
            EXPECT_EQ(entries.count(wanted), 1u) << std::hex << wanted << ", " << threads;
    }
}

TEST(XGIFUnitQuantizeHigh, ManyColoursFillEveryEntryAndStayInThePalette)
{
    const std::vector<TDIB> frames = PhotoLikeFrames(3, 64, 48);
    for (const std::int32_t size : { 7, 16, 255, 256 }) {
        const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, size);
        ASSERT_EQ(palette.size(), std::size_t(size));
        std::set<std::uint32_t> distinct;
        for (const TPaletteEntry& e : palette)
            distinct.insert((std::uint32_t(e.Red) << 16) | (e.Green << 8) | e.Blue);
        // Far more colours than entries: the greedy split gives every entry
        // a group, and the refinements keep them apart.
        EXPECT_GE(distinct.size(), std::size_t(size) * 9 / 10) << size;
        const std::vector<TDIB> reduced = ReduceFramesHighQuality(frames, {}, {}, palette);
        ASSERT_EQ(reduced.size(), frames.size());
        for (const TDIB& frame : reduced) {
            ASSERT_EQ(frame.BitCount(), 8);
            ASSERT_EQ(frame.Width(), 64);
            for (const std::uint8_t index : Indices(frame))
                ASSERT_LT(index, size);
        }
    }
}

TEST(XGIFUnitQuantizeHigh, PsnrOnAFlagFromTheTestPictureIsAboveItsFloor)
{
    // Six frames of 160 x 100 of the flag made from a test JPEG (gradients,
    // shapes, a thin line), rendered as the export renders them.
    FlagParameters params;
    params.Frames = 6;
    TDIB texture;
    LoadPictureFile(std::string(ZX_TEST_DATA_DIR) + "/jpeg/odd-333x77-420.jpg", texture);
    const TLightTable light
        = BuildLightTable(params.Brightness, params.Contrast, params.InvertLightMode);
    const TFlagDerived derived = DeriveFlagValues(params, 160, 100);
    TFrameStore store;
    for (std::int32_t k = 0; k < params.Frames; ++k)
        RenderFrame(
            store, std::uint16_t(k), FramePhase(k, params.Frames), params, derived, texture, light);
    const std::vector<TDIB> frames(store.FrameBitmaps.begin(), store.FrameBitmaps.begin() + 6);

    for (const std::int32_t bits : { 4, 8 }) {
        const std::int32_t size = 1 << bits;
        const TColorPalette high = CreateHighQualityPalette(frames, {}, {}, size);
        const double highPsnr = Psnr(frames, ReduceFramesHighQuality(frames, {}, {}, high), high);
        const TColorPalette standard = CreateSharedPalette(frames, size, bits);
        const double standardPsnr = Psnr(frames, ReduceFramesToPalette(frames, standard), standard);
        // Measured 42.5 and 28.5 dB; the standard level gives 37.8 and 22.2.
        EXPECT_GT(highPsnr, bits == 8 ? 40.5 : 27.5) << bits << " bits";
        EXPECT_GT(highPsnr, standardPsnr + 2.5) << bits << " bits";
    }
}

TEST(XGIFUnitQuantizeHigh, BackgroundPixelsTakeNoPartAndGetIndexZero)
{
    // The flag is red and blue; the background, green, exists only where the
    // mask says background. A third frame has no transparency and a mask
    // that must not be read.
    std::vector<TDIB> frames, masks;
    for (int k = 0; k < 3; ++k) {
        frames.push_back(MakePicture(20, 10, [&](std::int32_t x, std::int32_t y) {
            if (k < 2 && x >= 15)
                return TRgb { 0, 255, 0 };
            return (x + y) % 2 ? TRgb { 255, 0, 0 } : TRgb { 0, 0, 255 };
        }));
        TDIB mask;
        mask.SetSize(20, 10, 8);
        for (std::int32_t y = 0; y < 10; ++y)
            for (std::int32_t x = 0; x < 20; ++x)
                mask.ScanLine(y)[x] = (k < 2 && x >= 15) ? 255 : 0;
        masks.push_back(mask);
    }
    masks[2].SetSize(3, 3, 8);
    const bool transparent[3] = { true, true, false };

    const TColorPalette palette = CreateHighQualityPalette(frames, masks, transparent, 255);
    for (const TPaletteEntry& e : palette)
        EXPECT_FALSE(e.Red == 0 && e.Green == 255 && e.Blue == 0);
    const std::vector<TDIB> reduced = ReduceFramesHighQuality(frames, masks, transparent, palette);
    for (int k = 0; k < 3; ++k) {
        for (std::int32_t y = 0; y < 10; ++y) {
            for (std::int32_t x = 0; x < 20; ++x) {
                const std::uint8_t index = reduced[k].ConstScanLine(y)[x];
                if (k < 2 && x >= 15) {
                    ASSERT_EQ(index, 0);
                    continue;
                }
                const TRgb want = PixelOf(frames[k], x, y);
                ASSERT_EQ(palette[index].Red, want.R);
                ASSERT_EQ(palette[index].Blue, want.B);
            }
        }
    }

    // A mask that does not fit its transparent frame is refused.
    TDIB small;
    small.SetSize(19, 10, 8);
    std::vector<TDIB> badMasks { small, masks[1], masks[2] };
    EXPECT_THROW(
        CreateHighQualityPalette(frames, badMasks, transparent, 16), EInvalidGraphicOperation);
    EXPECT_THROW(
        ReduceFramesHighQuality(frames, badMasks, transparent, palette), EInvalidGraphicOperation);
}

TEST(XGIFUnitQuantizeHigh, StillPixelsKeepTheirIndexFromFrameToFrame)
{
    // A noisy picture whose left half stands still in every frame, whose
    // right half changes, and whose frame 2 repeats frame 0 in the top rows.
    std::mt19937 random(5);
    std::vector<std::vector<TRgb>> colours(4, std::vector<TRgb>(48 * 32));
    for (auto& frame : colours)
        for (auto& c : frame)
            c = { std::uint8_t(random()), std::uint8_t(random()), std::uint8_t(random()) };
    for (int k = 1; k < 4; ++k)
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 24; ++x)
                colours[k][y * 48 + x] = colours[0][y * 48 + x];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 48; ++x)
            colours[2][y * 48 + x] = colours[0][y * 48 + x];
    std::vector<TDIB> frames;
    for (int k = 0; k < 4; ++k)
        frames.push_back(MakePicture(
            48, 32, [&](std::int32_t x, std::int32_t y) { return colours[k][y * 48 + x]; }));

    const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, 64);
    const std::vector<TDIB> reduced = ReduceFramesHighQuality(frames, {}, {}, palette);
    std::int32_t changed = 0;
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            for (std::int32_t y = 0; y < 32; ++y) {
                for (std::int32_t x = 0; x < 48; ++x) {
                    const TRgb a = colours[i][y * 48 + x], b = colours[j][y * 48 + x];
                    const std::uint8_t ia = reduced[i].ConstScanLine(y)[x];
                    const std::uint8_t ib = reduced[j].ConstScanLine(y)[x];
                    if (a.R == b.R && a.G == b.G && a.B == b.B)
                        ASSERT_EQ(ia, ib) << "frames " << i << "," << j << " at " << x << "," << y;
                    else
                        changed += ia != ib;
                }
            }
        }
    }
    // The moving half is dithered afresh in every frame.
    EXPECT_GT(changed, 1000);
}

TEST(XGIFUnitQuantizeHigh, SameResultsOnAnyNumberOfThreadsAndRuns)
{
    const std::vector<TDIB> frames = PhotoLikeFrames(7, 50, 30);
    const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, 128, 1);
    const std::vector<TDIB> reduced = ReduceFramesHighQuality(frames, {}, {}, palette, 1);
    for (const unsigned threads : { 1u, 2u, 3u, 8u, 0u }) {
        EXPECT_EQ(CreateHighQualityPalette(frames, {}, {}, 128, threads), palette) << threads;
        const std::vector<TDIB> again = ReduceFramesHighQuality(frames, {}, {}, palette, threads);
        ASSERT_EQ(again.size(), reduced.size());
        for (std::size_t i = 0; i < reduced.size(); ++i)
            ASSERT_EQ(Indices(again[i]), Indices(reduced[i])) << threads << " threads, frame " << i;
    }
}

TEST(XGIFUnitQuantizeHigh, ManyColoursAreFittedAlikeOnAnyNumberOfThreads)
{
    // Some 150 000 distinct colours, counted exactly: enough points for the
    // fit's rounds to share them out among threads, whose sums must add up
    // to what one thread finds.
    std::vector<TDIB> frames;
    for (std::int32_t k = 0; k < 3; ++k)
        frames.push_back(MakePicture(256, 200, [&](std::int32_t x, std::int32_t y) {
            return TRgb { std::uint8_t(x), std::uint8_t(y + 17 * k),
                std::uint8_t((x ^ y) * 3 + 50 * k) };
        }));
    for (const std::int32_t size : { 256, 16 }) {
        const TColorPalette one = CreateHighQualityPalette(frames, {}, {}, size, 1);
        for (const unsigned threads : { 2u, 3u })
            EXPECT_EQ(CreateHighQualityPalette(frames, {}, {}, size, threads), one)
                << size << " colours, " << threads << " threads";
    }
}

TEST(XGIFUnitQuantizeHigh, TooManyColoursForTheExactCountAreTooManyOnAnyNumberOfThreads)
{
    // Two frames of 150 000 distinct colours each, none shared: each frame
    // alone could be counted exactly, both together are past the 2^18 the
    // exact count holds, so the palette comes from the cells whether the
    // frames are counted together or side by side. The top row of each is
    // one colour, dominant in the two frames together (800 of 300 000
    // pixels, above 2 per mille) but not in either alone: it gets its entry
    // whichever way the frames are counted.
    std::vector<TDIB> frames;
    for (std::uint32_t k = 0; k < 2; ++k)
        frames.push_back(MakePicture(400, 375, [&](std::int32_t x, std::int32_t y) {
            const std::uint32_t colour = (std::uint32_t(y) * 400 + std::uint32_t(x)) * 2 + k;
            return y == 0 ? TRgb { 10, 200, 30 }
                          : TRgb { std::uint8_t(colour >> 16), std::uint8_t(colour >> 8),
                                std::uint8_t(colour) };
        }));
    const TColorPalette one = CreateHighQualityPalette(frames, {}, {}, 64, 1);
    EXPECT_NE(std::find(one.begin(), one.end(), TPaletteEntry { 10, 200, 30, 0 }), one.end());
    for (const unsigned threads : { 2u, 3u })
        EXPECT_EQ(CreateHighQualityPalette(frames, {}, {}, 64, threads), one) << threads;
}

TEST(XGIFUnitQuantizeHigh, BadInputIsRefused)
{
    const std::vector<TDIB> frames = PhotoLikeFrames(2, 20, 10);
    EXPECT_THROW(CreateHighQualityPalette({}, {}, {}, 16), GIFException);
    EXPECT_THROW(ReduceFramesHighQuality({}, {}, {}, TColorPalette(4)), GIFException);
    EXPECT_THROW(CreateHighQualityPalette(frames, {}, {}, 0), EInvalidGraphicOperation);
    EXPECT_THROW(CreateHighQualityPalette(frames, {}, {}, 257), EInvalidGraphicOperation);
    std::vector<TDIB> mixed = frames;
    mixed.push_back(MakePicture(21, 10, [](auto, auto) { return TRgb {}; }));
    EXPECT_THROW(CreateHighQualityPalette(mixed, {}, {}, 16), EInvalidGraphicOperation);
    EXPECT_THROW(
        ReduceFramesHighQuality(mixed, {}, {}, TColorPalette(4)), EInvalidGraphicOperation);
    // No palette: empty results, as ReduceToPalette gives.
    for (const TDIB& frame : ReduceFramesHighQuality(frames, {}, {}, {}))
        EXPECT_TRUE(frame.Empty());
    // A plan made ahead gives the same frames; one of other frames is refused.
    const TColorPalette palette = CreateHighQualityPalette(frames, {}, {}, 16);
    const THighQualityPlan plan = MakeHighQualityPlan(frames, {}, {});
    const std::vector<TDIB> reduced = ReduceFramesHighQuality(frames, {}, {}, palette, 2, plan);
    const std::vector<TDIB> again = ReduceFramesHighQuality(frames, {}, {}, palette, 2);
    ASSERT_EQ(reduced.size(), again.size());
    for (std::size_t i = 0; i < reduced.size(); ++i)
        EXPECT_EQ(Indices(reduced[i]), Indices(again[i]));
    const std::vector<TDIB> one(frames.begin(), frames.begin() + 1);
    EXPECT_THROW(
        ReduceFramesHighQuality(frames, {}, {}, palette, 2, MakeHighQualityPlan(one, {}, {})),
        EInvalidGraphicOperation);
}

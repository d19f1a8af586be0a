#include "core/gif/XGIFUnitQuantize.h"

#include "core/Errors.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace zx;

namespace {

struct RGB {
    int r, g, b;
};

TDIB MakeBitmap(int width, int height, const std::function<RGB(int x, int y)>& colour)
{
    TDIB dib;
    dib.SetSize(width, height, 24);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const RGB c = colour(x, y);
            row[3 * x] = std::uint8_t(c.b);
            row[3 * x + 1] = std::uint8_t(c.g);
            row[3 * x + 2] = std::uint8_t(c.r);
        }
    }
    return dib;
}

TDIB RandomBitmap(std::mt19937& rng, int width, int height, int levels)
{
    std::uniform_int_distribution<int> pick(0, levels - 1);
    const int step = 255 / std::max(levels - 1, 1);
    return MakeBitmap(width, height, [&](int, int) {
        return RGB { pick(rng) * step, pick(rng) * step, pick(rng) * step };
    });
}

TPaletteEntry Entry(int r, int g, int b)
{
    return TPaletteEntry { std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), 0 };
}

TColorPalette Palette(std::initializer_list<RGB> colours)
{
    TColorPalette palette;
    for (const RGB& c : colours)
        palette.push_back(Entry(c.r, c.g, c.b));
    return palette;
}

std::vector<std::vector<int>> Indices(const TDIB& reduced)
{
    std::vector<std::vector<int>> rows(reduced.Height());
    for (int y = 0; y < reduced.Height(); ++y)
        rows[y].assign(reduced.ConstScanLine(y), reduced.ConstScanLine(y) + reduced.Width());
    return rows;
}

template <typename E, typename Fn> void ExpectError(Fn fn, const std::string& text)
{
    try {
        fn();
        FAIL() << "expected an error: " << text;
    } catch (const E& error) {
        EXPECT_EQ(error.what(), text);
    }
}

// A plain octree kept as simply as possible (owning pointers, recursion) to
// check the pooled, cached one against.
struct RefOctree {
    struct Node {
        bool leaf = false;
        long long hits = 0, r = 0, g = 0, b = 0;
        Node* nextFold = nullptr;
        std::unique_ptr<Node> child[8];
    };
    RefOctree(int colourLimit, int treeDepth)
        : limit(colourLimit)
        , depth(treeDepth)
    {
    }
    int limit, depth, leaves = 0;
    std::unique_ptr<Node> root;
    Node* lists[8] = {};

    void Insert(std::unique_ptr<Node>& slot, int r, int g, int b, int level)
    {
        if (!slot) {
            slot = std::make_unique<Node>();
            if (level == depth) {
                slot->leaf = true;
                ++leaves;
            } else {
                slot->nextFold = lists[level];
                lists[level] = slot.get();
            }
        }
        if (slot->leaf) {
            ++slot->hits, slot->r += r, slot->g += g, slot->b += b;
            return;
        }
        const int m = 0x80 >> level;
        Insert(
            slot->child[(r & m ? 4 : 0) | (g & m ? 2 : 0) | (b & m ? 1 : 0)], r, g, b, level + 1);
    }
    void Fold()
    {
        int level = depth - 1;
        while (level > 0 && !lists[level])
            --level;
        Node* n = lists[level];
        lists[level] = n->nextFold;
        int k = 0;
        for (auto& c : n->child) {
            if (c) {
                n->hits += c->hits, n->r += c->r, n->g += c->g, n->b += c->b;
                c.reset();
                ++k;
            }
        }
        n->leaf = true;
        leaves -= k - 1;
    }
    void Add(int r, int g, int b)
    {
        Insert(root, r, g, b, 0);
        while (leaves > limit)
            Fold();
    }
    void List(const Node* n, TColorPalette& out) const
    {
        if (n->leaf) {
            out.push_back(n->hits
                    ? Entry(int(n->r / n->hits), int(n->g / n->hits), int(n->b / n->hits))
                    : Entry(0, 0, 0));
            return;
        }
        for (const auto& c : n->child)
            if (c)
                List(c.get(), out);
    }
};

// Stucki diffusion written out per channel with three separate rows.
std::vector<std::vector<int>> RefDither(const TDIB& bitmap, const TColorPalette& palette)
{
    const int w = bitmap.Width();
    TFastColorLookup lookup(palette);
    std::vector<std::vector<int>> rows[3];
    for (auto& channel : rows)
        channel.assign(3, std::vector<int>(w + 4, 0));
    std::vector<std::vector<int>> out(bitmap.Height(), std::vector<int>(w));
    const int row0[5] = { 0, 0, 0, 8, 4 }, row1[5] = { 2, 4, 8, 4, 2 }, row2[5] = { 1, 2, 4, 2, 1 };
    int d = 1;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = d > 0 ? 0 : w - 1; x >= 0 && x < w; x += d) {
            const std::uint32_t p = bitmap.Pixel(x, y);
            const int src[3] = { int(p & 255), int(p >> 8 & 255), int(p >> 16 & 255) };
            int v[3];
            for (int c = 0; c < 3; ++c) {
                const int q = rows[c][0][x + 2] + 21;
                v[c] = std::clamp(src[c] + (q < 0 ? -(-q / 42) : q / 42), 0, 255);
            }
            TPaletteEntry chosen;
            out[y][x] = lookup.Lookup(v[0], v[1], v[2], chosen);
            const int e[3] = { v[0] - chosen.Red, v[1] - chosen.Green, v[2] - chosen.Blue };
            for (int c = 0; c < 3; ++c)
                for (int k = -2; k <= 2; ++k) {
                    rows[c][0][x + 2 + k * d] += row0[k + 2] * e[c];
                    rows[c][1][x + 2 + k * d] += row1[k + 2] * e[c];
                    rows[c][2][x + 2 + k * d] += row2[k + 2] * e[c];
                }
        }
        for (auto& channel : rows) {
            std::rotate(channel.begin(), channel.begin() + 1, channel.end());
            std::fill(channel[2].begin(), channel[2].end(), 0);
        }
        d = -d;
    }
    return out;
}

} // namespace

// --- octree quantizer -------------------------------------------------------

TEST(CreateSharedPalette, FlatColourGivesOneExactEntryAndIndexZero)
{
    const TDIB frame = MakeBitmap(17, 16, [](int, int) { return RGB { 10, 200, 77 }; });
    for (const auto& [colours, depth] : { std::pair { 256, 8 }, std::pair { 7, 3 } }) {
        const TColorPalette palette
            = CreateSharedPalette(std::vector { frame, frame }, colours, depth);
        ASSERT_EQ(palette.size(), std::size_t(colours));
        EXPECT_EQ(palette[0], Entry(10, 200, 77));
        for (int i = 1; i < colours; ++i)
            EXPECT_EQ(palette[i], Entry(0, 0, 0)) << i;
        for (const auto& row : Indices(ReduceToPalette(frame, palette)))
            EXPECT_EQ(row, std::vector<int>(17, 0));
    }
}

TEST(CreateSharedPalette, DepthThreeAveragesColoursSharingTheTopBits)
{
    // 64 and 95 share the top bits 010 (as do 128/159, 192/223): one leaf,
    // averaged with truncation: (64+95+95)/3 = 84, 446/3 = 148, 638/3 = 212.
    // 31 and 32 differ in the third bit: two leaves.
    const RGB pixels[] = { { 64, 128, 192 }, { 95, 159, 223 }, { 95, 159, 223 }, { 255, 0, 0 },
        { 31, 0, 0 }, { 32, 0, 0 } };
    const TDIB frame = MakeBitmap(6, 1, [&](int x, int) { return pixels[x]; });
    const TColorPalette palette = CreateSharedPalette(std::vector { frame }, 8, 3);
    const TColorPalette expected = Palette({ { 31, 0, 0 }, { 32, 0, 0 }, { 84, 148, 212 },
        { 255, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 }, { 0, 0, 0 } });
    EXPECT_EQ(palette, expected);
}

TEST(TColorQuantizer, FoldsTheNewestNodeOfTheDeepestLevelFirst)
{
    // Limit 3, depth 2. The fourth colour makes four leaves; the newest
    // level-1 node (the 255 branch) is folded, not the older 0 branch.
    TColorQuantizer q(3, 2);
    q.AddColor(0, 0, 0);
    q.AddColor(0, 0, 64);
    q.AddColor(255, 255, 255);
    q.AddColor(255, 255, 191);
    EXPECT_EQ(q.Leaves(), 3);
    TColorPalette leaves;
    q.ListLeafColours(leaves);
    EXPECT_EQ(leaves, Palette({ { 0, 0, 0 }, { 0, 0, 64 }, { 255, 255, 223 } }));
}

TEST(TColorQuantizer, FoldingClimbsLevelsOnlyWhenDeeperListsAreEmpty)
{
    TColorQuantizer q(2, 3);
    TColorPalette leaves;
    q.AddColor(0, 0, 0);
    q.AddColor(0, 0, 32);
    EXPECT_EQ(q.Leaves(), 2);
    // (255,0,0) adds a level-1 and a level-2 node. Level 2 is folded newest
    // first: the single-child red node (no gain), then the two blacks.
    q.AddColor(255, 0, 0);
    EXPECT_EQ(q.Leaves(), 2);
    q.ListLeafColours(leaves);
    EXPECT_EQ(leaves, Palette({ { 0, 0, 16 }, { 255, 0, 0 } }));
    // Green needs a third leaf; folding single-child nodes gains nothing, so
    // it goes on up to the root: everything averaged into one leaf.
    q.AddColor(0, 255, 0);
    EXPECT_EQ(q.Leaves(), 1);
    leaves.clear();
    q.ListLeafColours(leaves);
    EXPECT_EQ(leaves, Palette({ { 63, 63, 8 } }));
    q.AddColor(255, 255, 255);
    leaves.clear();
    q.ListLeafColours(leaves);
    EXPECT_EQ(leaves, Palette({ { 102, 102, 57 } }));
}

TEST(TColorQuantizer, LeafCountStaysWithinTheLimitAndMatchesAPlainOctree)
{
    std::mt19937 rng(7);
    for (const auto& [limit, depth] :
        { std::pair { 256, 8 }, std::pair { 255, 8 }, std::pair { 16, 4 }, std::pair { 7, 3 },
            std::pair { 1, 1 }, std::pair { 2, 8 }, std::pair { 100, 6 } }) {
        SCOPED_TRACE(testing::Message() << limit << " colours, depth " << depth);
        TColorQuantizer single(limit, depth), bulk(limit, depth);
        RefOctree ref(limit, depth);
        bool reachedLimit = false;
        for (int frame = 0; frame < 3; ++frame) {
            const TDIB bitmap = RandomBitmap(rng, 61, 23, frame == 0 ? 4 : 256);
            for (int y = 0; y < bitmap.Height(); ++y) {
                for (int x = 0; x < bitmap.Width(); ++x) {
                    const std::uint32_t p = bitmap.Pixel(x, y);
                    single.AddColor(p & 255, p >> 8 & 255, p >> 16 & 255);
                    ref.Add(p & 255, p >> 8 & 255, p >> 16 & 255);
                    ASSERT_LE(single.Leaves(), limit);
                    reachedLimit = reachedLimit || ref.leaves == limit;
                    // One fold removes at most seven leaves.
                    if (reachedLimit) {
                        ASSERT_GE(single.Leaves(), std::max(limit - 6, 1));
                    }
                }
            }
            bulk.AddBitmap(bitmap);
            ASSERT_EQ(bulk.Leaves(), ref.leaves);
        }
        TColorPalette a, b, expected;
        single.ListLeafColours(a);
        bulk.ListLeafColours(b);
        ref.List(ref.root.get(), expected);
        EXPECT_EQ(a, expected);
        EXPECT_EQ(b, expected);
        EXPECT_EQ(int(expected.size()), ref.leaves);
    }
}

TEST(CreateSharedPalette, ReadsEveryBitCountAsTwentyFourBits)
{
    std::mt19937 rng(3);
    const TDIB rgb = RandomBitmap(rng, 13, 9, 5);
    TDIB indexed, wide;
    indexed.SetSize(13, 9, 8);
    wide.SetSize(13, 9, 32);
    std::vector<std::uint32_t> colours;
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x) {
            const std::uint32_t p = rgb.Pixel(x, y);
            auto at = std::find(colours.begin(), colours.end(), p);
            if (at == colours.end())
                at = colours.insert(at, p);
            indexed.ScanLine(y)[x] = std::uint8_t(at - colours.begin());
            std::uint8_t* px = wide.ScanLine(y) + 4 * x;
            px[0] = p >> 16 & 255, px[1] = p >> 8 & 255, px[2] = p & 255, px[3] = 0x5A;
        }
    ASSERT_LE(colours.size(), 256u);
    for (std::size_t i = 0; i < colours.size(); ++i)
        indexed.ColorTable()[i] = TRGBQuad { std::uint8_t(colours[i] >> 16),
            std::uint8_t(colours[i] >> 8), std::uint8_t(colours[i]), 0 };
    indexed.UpdatePalette();

    const TColorPalette palette = CreateSharedPalette(std::vector { rgb }, 16, 4);
    EXPECT_EQ(CreateSharedPalette(std::vector { indexed }, 16, 4), palette);
    EXPECT_EQ(CreateSharedPalette(std::vector { wide }, 16, 4), palette);
    const auto expected = Indices(ReduceToPalette(rgb, palette));
    EXPECT_EQ(Indices(ReduceToPalette(indexed, palette)), expected);
    EXPECT_EQ(Indices(ReduceToPalette(wide, palette)), expected);
}

TEST(CreateSharedPalette, RefusesAnEmptyListAndImpossibleSettings)
{
    const TDIB frame = MakeBitmap(2, 2, [](int, int) { return RGB { 1, 2, 3 }; });
    ExpectError<GIFException>(
        [] { CreateSharedPalette(std::span<const TDIB> {}, 256, 8); }, "无效的位图列表");
    const TDIB* withNull[] = { &frame, nullptr };
    ExpectError<GIFException>([&] { CreateSharedPalette(withNull, 256, 8); }, "无效的位图列表");
    EXPECT_THROW(CreateSharedPalette(std::vector { frame }, 0, 8), EInvalidGraphicOperation);
    EXPECT_THROW(CreateSharedPalette(std::vector { frame }, 257, 8), EInvalidGraphicOperation);
    EXPECT_THROW(CreateSharedPalette(std::vector { frame }, 8, 9), EInvalidGraphicOperation);
    EXPECT_THROW(CreateSharedPalette(std::vector { frame }, 8, 0), EInvalidGraphicOperation);
}

// --- colour lookup ----------------------------------------------------------

TEST(TFastColorLookup, LowestIndexKeepsASharedCellAndWinsTies)
{
    // 16 and 17 lie in the same cell: entry 0 is seeded and answers even for
    // the exact colour of entry 1.
    TFastColorLookup shared(Palette({ { 16, 16, 16 }, { 17, 17, 17 } }));
    EXPECT_EQ(shared.CachedIndex(TFastColorLookup::Cell(17, 17, 17)), 0);
    TPaletteEntry colour;
    EXPECT_EQ(shared.Lookup(17, 17, 17, colour), 0);
    EXPECT_EQ(colour, Entry(16, 16, 16));

    // (10,10,10) is 30 from both entries: the lower index, whichever colour.
    EXPECT_EQ(TFastColorLookup(Palette({ { 0, 0, 0 }, { 20, 20, 20 } })).Lookup(10, 10, 10), 0);
    EXPECT_EQ(TFastColorLookup(Palette({ { 20, 20, 20 }, { 0, 0, 0 } })).Lookup(10, 10, 10), 0);
    EXPECT_EQ(TFastColorLookup(Palette({ { 200, 0, 0 }, { 0, 0, 0 }, { 20, 20, 20 } }))
                  .Lookup(10, 10, 10),
        1);
}

TEST(TFastColorLookup, AResolvedCellAnswersWithoutSearching)
{
    TFastColorLookup lookup(Palette({ { 0, 0, 0 }, { 20, 20, 20 } }));
    EXPECT_EQ(lookup.CachedIndex(TFastColorLookup::Cell(15, 15, 15)), -1);
    EXPECT_EQ(lookup.Lookup(15, 15, 15), 1); // 45 against 15
    EXPECT_EQ(lookup.CachedIndex(TFastColorLookup::Cell(15, 15, 15)), 1);
    // (8,8,8) is in the same cell: entry 1 although black is nearer.
    EXPECT_EQ(lookup.Lookup(8, 8, 8), 1);
    EXPECT_EQ(TFastColorLookup(Palette({ { 0, 0, 0 }, { 20, 20, 20 } })).Lookup(8, 8, 8), 0);
}

TEST(TFastColorLookup, SearchFindsTheFirstNearestEntryForEveryPaletteSize)
{
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int size : { 1, 2, 5, 8, 13, 64, 255, 256, 300 }) {
        TColorPalette palette;
        for (int i = 0; i < size; ++i)
            palette.push_back(Entry(byte(rng) & 0xF0, byte(rng) & 0xF0, byte(rng) & 0xF0));
        for (int n = 0; n < 200; ++n) {
            TFastColorLookup lookup(palette);
            const int r = byte(rng), g = byte(rng), b = byte(rng);
            if (lookup.CachedIndex(TFastColorLookup::Cell(r, g, b)) >= 0)
                continue;
            int best = 0, bestDistance = 1 << 30;
            for (int i = 0; i < std::min(size, 256); ++i) {
                const int d = std::abs(palette[i].Red - r) + std::abs(palette[i].Green - g)
                    + std::abs(palette[i].Blue - b);
                if (d < bestDistance)
                    best = i, bestDistance = d;
            }
            ASSERT_EQ(lookup.Lookup(r, g, b), best) << size << " entries";
        }
        EXPECT_EQ(TFastColorLookup(palette).EntryCount(), std::min(size, 256));
    }
}

TEST(TFastColorLookup, OneLookupSearchesEveryRegionOfColourSpaceExactly)
{
    // One lookup asked once in each of 4096 cells spread over the whole cube,
    // for an even palette, a tight cluster (every entry a candidate almost
    // everywhere) and a palette full of ties (repeated colours).
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> byte(0, 255), near(100, 140);
    std::vector<TColorPalette> palettes(3);
    for (int i = 0; i < 256; ++i) {
        palettes[0].push_back(Entry(byte(rng), byte(rng), byte(rng)));
        palettes[1].push_back(Entry(near(rng), near(rng), near(rng)));
        palettes[2].push_back(Entry((i % 5) * 60, (i % 3) * 120, (i % 7) * 40));
    }
    for (const TColorPalette& palette : palettes) {
        TFastColorLookup lookup(palette);
        for (int r = 4; r < 256; r += 16)
            for (int g = 4; g < 256; g += 16)
                for (int b = 4; b < 256; b += 16) {
                    if (lookup.CachedIndex(TFastColorLookup::Cell(r, g, b)) >= 0)
                        continue;
                    int best = 0, bestDistance = 1 << 30;
                    for (int i = 0; i < 256; ++i) {
                        const int d = std::abs(palette[i].Red - r) + std::abs(palette[i].Green - g)
                            + std::abs(palette[i].Blue - b);
                        if (d < bestDistance)
                            best = i, bestDistance = d;
                    }
                    ASSERT_EQ(lookup.Lookup(r, g, b), best) << r << "," << g << "," << b;
                }
    }
}

// --- ditherer and reduction -------------------------------------------------

TEST(TStuckiDitherer, SerpentineRowsTurnAtEachEdge)
{
    // Grey 100 on black and white. Row 0, left to right: 100 -> 0 (error 100);
    // 100 + (800+21) div 42 = 119 -> 0; 100 + (400+952+21) div 42 = 132 -> 1.
    // Row 1 runs from the right: x=2 gets 100 + (-308+21) div 42 = 94 -> 0,
    // x=1 gets 100 + (1612+21) div 42 = 138 -> 1, x=0 gets 111 -> 0.
    const TDIB grey = MakeBitmap(3, 2, [](int, int) { return RGB { 100, 100, 100 }; });
    const TColorPalette bw = Palette({ { 0, 0, 0 }, { 255, 255, 255 } });
    EXPECT_EQ(Indices(ReduceToPalette(grey, bw)),
        (std::vector<std::vector<int>> { { 0, 0, 1 }, { 0, 1, 0 } }));

    TFastColorLookup lookup(bw);
    TStuckiDitherer ditherer(3, lookup);
    EXPECT_EQ(ditherer.Direction(), 1);
    std::vector<int> row0, row1;
    for (int i = 0; i < 3; ++i)
        row0.push_back(ditherer.DitherPixel(100, 100, 100));
    ditherer.NextRow();
    EXPECT_EQ(ditherer.Direction(), -1);
    EXPECT_EQ(ditherer.Column(), 2);
    for (int i = 0; i < 3; ++i)
        row1.push_back(ditherer.DitherPixel(100, 100, 100));
    EXPECT_EQ(row0, (std::vector { 0, 0, 1 }));
    EXPECT_EQ(row1, (std::vector { 0, 1, 0 })); // visited right to left
    ditherer.NextRow();
    EXPECT_EQ(ditherer.Direction(), 1);
    EXPECT_EQ(ditherer.Column(), 0);
}

TEST(TStuckiDitherer, AnUnfinishedRowIsClearedLikeAFinishedOne)
{
    // Row 0 stops after one pixel. The error it pushed to the two cells it
    // never reached must be gone when that row comes back as row 3.
    TFastColorLookup lookup(Palette({ { 0, 0, 0 }, { 255, 255, 255 } }));
    TStuckiDitherer ditherer(3, lookup);
    std::vector<std::vector<int>> visited { { ditherer.DitherPixel(100, 100, 100) } };
    for (int y = 1; y <= 3; ++y) {
        ditherer.NextRow();
        visited.emplace_back();
        for (int i = 0; i < 3; ++i)
            visited.back().push_back(ditherer.DitherPixel(100, 100, 100));
    }
    EXPECT_EQ(
        visited, (std::vector<std::vector<int>> { { 0 }, { 0, 1, 0 }, { 0, 0, 1 }, { 0, 1, 0 } }));
    // A fourth pixel in a row of three has no column to go to.
    EXPECT_THROW(ditherer.DitherPixel(1, 2, 3), EInvalidGraphicOperation);
    TFastColorLookup empty(TColorPalette {});
    EXPECT_THROW(TStuckiDitherer(3, empty), EInvalidGraphicOperation);
}

TEST(TStuckiDitherer, ErrorIsTakenFromTheClampedValue)
{
    // Row 1 starts at its right pixel (250) with a value pushed past 255. The
    // clamped value is exactly white, so no error goes on: the last pixel
    // (30) reaches 70 and stays black. Measuring from the unclamped value
    // would carry +11 and make it 129, white.
    const int grey[3][2] = { { 250, 200 }, { 250, 120 }, { 120, 30 } };
    const TDIB bitmap = MakeBitmap(2, 3, [&](int x, int y) {
        return RGB { grey[y][x], grey[y][x], grey[y][x] };
    });
    const TColorPalette bw = Palette({ { 0, 0, 0 }, { 255, 255, 255 } });
    EXPECT_EQ(Indices(ReduceToPalette(bitmap, bw)),
        (std::vector<std::vector<int>> { { 1, 1 }, { 1, 0 }, { 0, 0 } }));
}

TEST(ReduceToPalette, MatchesPlainStuckiDiffusionOnRandomFrames)
{
    std::mt19937 rng(5);
    for (const auto& [w, h] :
        { std::pair { 1, 7 }, std::pair { 2, 5 }, std::pair { 3, 3 }, std::pair { 40, 17 } }) {
        const TDIB frame = RandomBitmap(rng, w, h, 256);
        for (int colours : { 1, 2, 16, 255 }) {
            const TColorPalette palette
                = CreateSharedPalette(std::vector { RandomBitmap(rng, 9, 9, 256) }, colours, 8);
            const TDIB reduced = ReduceToPalette(frame, palette);
            ASSERT_EQ(Indices(reduced), RefDither(frame, palette))
                << w << "x" << h << ", " << colours;
            for (const auto& row : Indices(reduced))
                for (int index : row)
                    ASSERT_LT(index, colours);
        }
    }
}

TEST(ReduceToPalette, ResultIsAnEightBitBitmapWithThePaletteThenBlack)
{
    std::mt19937 rng(9);
    const TDIB frame = RandomBitmap(rng, 21, 11, 256);
    const TColorPalette palette = CreateSharedPalette(std::vector { frame }, 31, 5);
    const TDIB reduced = ReduceToPalette(frame, palette);
    EXPECT_EQ(reduced.BitCount(), 8);
    EXPECT_EQ(reduced.Width(), 21);
    EXPECT_EQ(reduced.Height(), 11);
    // biClrImportant: the palette's own 31 entries.
    ASSERT_GE(reduced.Image()->BitmapInfo().size(), 40u);
    EXPECT_EQ(reduced.Image()->BitmapInfo()[36], 31);
    for (int i = 0; i < 256; ++i) {
        const TRGBQuad& e = reduced.ColorTable()[i];
        const TPaletteEntry expected = i < 31 ? palette[i] : Entry(0, 0, 0);
        EXPECT_EQ(Entry(e.Red, e.Green, e.Blue), expected) << i;
        EXPECT_EQ(reduced.Image()->ColorTable()[i], e);
    }
}

TEST(ReduceToPalette, ReproducesAPictureWhosePaletteHoldsEveryColourExactly)
{
    // Ten colours in ten different cells: each becomes its own leaf with its
    // exact colour, its cell is seeded with it, and no error ever arises.
    const RGB colours[10] = { { 0, 0, 0 }, { 255, 255, 255 }, { 200, 30, 40 }, { 17, 99, 250 },
        { 128, 128, 128 }, { 60, 200, 90 }, { 250, 250, 0 }, { 3, 140, 141 }, { 90, 10, 180 },
        { 220, 120, 60 } };
    const TDIB frame
        = MakeBitmap(37, 19, [&](int x, int y) { return colours[(x * 7 + y * 3 + x * y) % 10]; });
    for (const auto& [count, depth] :
        { std::pair { 256, 8 }, std::pair { 10, 8 }, std::pair { 63, 6 } }) {
        const TColorPalette palette = CreateSharedPalette(std::vector { frame }, count, depth);
        const TDIB reduced = ReduceToPalette(frame, palette);
        for (int y = 0; y < 19; ++y)
            for (int x = 0; x < 37; ++x) {
                const TPaletteEntry& e = palette[reduced.ConstScanLine(y)[x]];
                ASSERT_EQ(e.Red | e.Green << 8 | e.Blue << 16, int(frame.Pixel(x, y)))
                    << x << "," << y;
            }
    }
}

TEST(ReduceToPalette, ParallelFramesGiveTheSameResultAsOneByOne)
{
    // Runs of frames of one size go four or two at a time, the rest alone:
    // 33 x 14 six times (four and two), 20 x 9 three times (two and one),
    // then 33 x 14 once more.
    std::mt19937 rng(21);
    std::vector<TDIB> frames;
    for (int i = 0; i < 6; ++i)
        frames.push_back(RandomBitmap(rng, 33, 14, 256));
    for (int i = 0; i < 3; ++i)
        frames.push_back(RandomBitmap(rng, 20, 9, 256));
    frames.push_back(RandomBitmap(rng, 33, 14, 256));
    const TColorPalette palette = CreateSharedPalette(frames, 64, 6);
    for (unsigned threads : { 0u, 1u, 2u, 4u }) {
        const std::vector<TDIB> reduced = ReduceFramesToPalette(frames, palette, threads);
        ASSERT_EQ(reduced.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_EQ(Indices(reduced[i]), Indices(ReduceToPalette(frames[i], palette))) << i;
    }
}

TEST(ReduceToPalette, EmptyPaletteGivesAnEmptyBitmapAndEmptySourceIsRefused)
{
    const TDIB frame = MakeBitmap(4, 4, [](int x, int) { return RGB { x, x, x }; });
    EXPECT_TRUE(ReduceToPalette(frame, TColorPalette {}).Empty());
    EXPECT_TRUE(ReduceToPalette(TDIB {}, TColorPalette {}).Empty());
    ExpectError<GIFException>(
        [] {
            ReduceToPalette(TDIB {}, Palette({ { 0, 0, 0 } }));
        },
        "无效的图像维数尺寸");
    const std::vector<TDIB> frames { frame, TDIB {} };
    ExpectError<GIFException>(
        [&] {
            ReduceFramesToPalette(frames, Palette({ { 0, 0, 0 } }));
        },
        "无效的图像维数尺寸");
}

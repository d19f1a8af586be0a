#pragma once

// Lossy GIF coding. A GIF frame is coded with LZW, whose codes stand for
// strings of pixels seen before; a frame whose neighbouring pixels often
// repeat a string codes in fewer bytes. A lossy coder reduces a frame to the
// palette and follows the writer's LZW string table at the same time, in the
// order the file stores the pixels: where the entry a pixel would get ends
// the string being coded, it may take another entry that continues it, as
// long as that entry is not much farther from the pixel's colour. The error
// diffusion carries the difference on to the neighbouring pixels, so the loss
// is spread like dithering instead of being left as streaks.
//
// How much farther is the lossy level N (1..200): an entry that continues the
// string is taken when its squared RGB distance from the pixel's value (its
// colour plus the error diffused to it, each component 0..255) exceeds the
// nearest entry's by at most LossySlack(N) = N * N / 16 (1 at N = 4, 625 at
// N = 100, 2 500 at N = 200: within a distance of 50 of a pixel whose colour
// the palette holds exactly), spread from pixel to pixel over 1/2 to 3/2 of
// it (LossySlackAt). Level 0 is no loss at all.

#include "core/gif/XGIFUnitQuantize.h"
#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace zx {

// The lossy levels: 0 codes every pixel with its own entry.
inline constexpr std::int32_t kLossyMin = 0;
inline constexpr std::int32_t kLossyMax = 200;

// The extra squared distance a continuing entry may have at level N (0..200).
constexpr std::int32_t LossySlack(std::int32_t level)
{
    return level * level / 16;
}

// The extra squared distance at one pixel: LossySlack's spread over 1/2 to
// 3/2 of it by an 8 x 8 ordered pattern (the same on average). A palette's
// entries lie at a few typical distances from each other (the shades of a
// flag's fields), and where one slack for all pixels crosses such a distance
// most of a picture's pixels could take another entry at once: the size fell
// by a quarter to a third from one level to the next. Spread, each distance
// is let in over a few levels, a share of the pixels at a time, evenly over
// the picture. Column x and row y count from the frame's top left.
constexpr std::int32_t LossySlackAt(std::int32_t level, std::int32_t x, std::int32_t y)
{
    constexpr std::uint8_t kOrder[8][8] = {
        { 0, 32, 8, 40, 2, 34, 10, 42 },
        { 48, 16, 56, 24, 50, 18, 58, 26 },
        { 12, 44, 4, 36, 14, 46, 6, 38 },
        { 60, 28, 52, 20, 62, 30, 54, 22 },
        { 3, 35, 11, 43, 1, 33, 9, 41 },
        { 51, 19, 59, 27, 49, 17, 57, 25 },
        { 15, 47, 7, 39, 13, 45, 5, 37 },
        { 63, 31, 55, 23, 61, 29, 53, 21 },
    };
    // level^2 / 16 times (1/2 + (b + 1/2) / 64), b the pattern's 0..63.
    return level * level * (65 + 2 * kOrder[y & 7][x & 7]) / 2048;
}

// The GIF writer's LZW string table (XGIFUnitLZW.cpp) followed symbol by
// symbol: the same strings, cleared at the same points, with the children of
// every string listed, and the bits the writer spends on the codes counted.
// Given a frame's pixels in file order it knows at every pixel which symbols
// continue the string the writer is building, and at the end how many bytes
// the frame's image data take.
//
// Strings are known by nodes of their own: node s < 256 is the one-symbol
// string s, and the strings the table learns are nodes 256 and up in the
// order the writer gives them codes. Symbols are palette indices as the
// reduction makes them (0..255); the colour-map merge renumbers them before
// the writer sees them, which changes neither the strings nor their lengths.
class TLzwStringTable {
public:
    // minCodeSize: the writer's minimum code size for the frame, 2..8.
    explicit TLzwStringTable(std::int32_t minCodeSize);

    // A new frame: an empty table, no string, no bits.
    void Start();

    bool HasString() const { return m_string >= 0; }
    // The node of the current string (-1 before the frame's first pixel).
    std::int32_t String() const { return m_string; }
    // The node of the current string followed by symbol, or -1.
    std::int32_t Find(std::int32_t symbol) const
    {
        return m_string < 0 ? -1 : Lookup(Key(m_string, symbol));
    }
    // The strings one symbol longer than a node's: walk from FirstChild with
    // NextSibling while the node is not negative; Symbol gives each one's
    // last symbol.
    std::int32_t FirstChild(std::int32_t node) const { return m_firstChild[std::size_t(node)]; }
    std::int32_t NextSibling(std::int32_t node) const { return m_nextSibling[std::size_t(node)]; }
    std::int32_t Symbol(std::int32_t node) const { return m_symbol[std::size_t(node)]; }
    // How many symbols the longest string that starts with a node's has
    // beyond it (0: no string goes on from it).
    std::int32_t Height(std::int32_t node) const { return m_height[std::size_t(node)]; }
    // The node a node's string is one symbol longer than (-1 for a
    // one-symbol string).
    std::int32_t Parent(std::int32_t node) const { return m_parent[std::size_t(node)]; }

    // The next pixel of the frame.
    void Push(std::int32_t symbol);
    // The same for a pixel known to continue the current string: node is
    // the current string's child that ends with it.
    void Follow(std::int32_t node) { m_string = node; }
    // Counts the times the table has started over: the nodes learnt before
    // are gone.
    std::uint32_t Generation() const { return m_generation; }
    // The size of the frame's image data as the writer stores it once the
    // pixels pushed so far are all: the code size byte, the codes in data
    // sub-blocks with their count bytes, and the terminator.
    std::uint64_t DataBytes() const;

private:
    static constexpr std::int32_t kRoots = 256;
    static constexpr std::int32_t kNodes = kRoots + 4096;
    static constexpr std::int32_t kLastAssignedCode = 4094;
    static constexpr std::uint32_t kSlotBits = 13;
    static constexpr std::uint32_t kSlots = 1u << kSlotBits;
    static constexpr std::uint32_t kFreeSlot = 0xFFFFFFFFu;

    static std::uint32_t Key(std::int32_t node, std::int32_t symbol)
    {
        return (std::uint32_t(node) << 8) | std::uint32_t(symbol);
    }
    std::uint32_t Slot(std::uint32_t key) const
    {
        std::uint32_t at = (key * 0x9E3779B1u) >> (32 - kSlotBits);
        while (m_keys[at] != kFreeSlot && m_keys[at] != key)
            at = (at + 1) & (kSlots - 1);
        return at;
    }
    std::int32_t Lookup(std::uint32_t key) const
    {
        const std::uint32_t at = Slot(key);
        return m_keys[at] == kFreeSlot ? -1 : m_values[at];
    }
    void Clear();

    std::int32_t m_minCodeSize;
    std::int32_t m_firstFree;
    // The writer's next free code, its code width and the largest code that
    // width holds.
    std::int32_t m_nextFree = 0;
    std::int32_t m_width = 0;
    std::int32_t m_largest = 0;
    std::int32_t m_string = -1;
    std::uint64_t m_bits = 0;
    std::uint32_t m_generation = 0;
    std::vector<std::uint32_t> m_keys;
    std::vector<std::int16_t> m_values;
    std::vector<std::int16_t> m_firstChild;
    std::vector<std::int16_t> m_nextSibling;
    std::vector<std::uint8_t> m_symbol;
    std::vector<std::int16_t> m_parent;
    std::vector<std::int16_t> m_height;
};

// What a lossy reduction needs besides the frames and the palette.
struct TLossyCoding {
    // The lossy level, 1..200.
    std::int32_t Level = 0;
    // The minimum code size the writer will use for the frames: that of the
    // merged colour table (XGIFUnitMerge.cpp), 2..8.
    std::int32_t CodeSize = 8;
    // The index background pixels of transparent frames get (2^B - 1).
    std::uint8_t TransparentIndex = 0;
};

// Frames reduced by a lossy coder, with the size of their image data.
struct TLossyFrames {
    // 8-bit bitmaps as ReduceToPalette makes them, the transparent index
    // already in place.
    std::vector<TDIB> Frames;
    // Per frame, the bytes of its image data when the writer codes it with
    // the code size the reduction was made for; the merge of the colour maps
    // renumbers the entries, which changes no string and so no size.
    std::vector<std::uint64_t> DataBytes;
    // Which palette entries some frame uses, and whether some background
    // pixel has the transparent index.
    std::array<bool, 256> Used {};
    bool UsesTransparentIndex = false;
};

// The palette entry every entry stands for in a lossy frame: the lowest index
// with the same colour. The colour-map merge makes entries of one colour one
// entry, so a coder that used two of them would follow a string table the
// writer never builds.
std::array<std::uint8_t, 256> CanonicalEntries(const TColorPalette& palette);

// The standard level with loss: the same palette lookup and Stucki kernel,
// but every row scanned from the left, in file order, since the coder must
// see the pixels in the order the writer codes them. Background pixels of
// transparent frames (mask 255) get the transparent index and take no part
// in the diffusion. masks[i] is read only where transparent[i] is set.
// Frames run side by side on up to threads threads (0: one per processor);
// the result does not depend on how many.
TLossyFrames ReduceFramesLossy(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, const TLossyCoding& coding,
    unsigned threads = 0);

// The high quality level with loss: its Floyd-Steinberg diffusion in file
// order, at the strength it chooses for the animation, and its exact
// nearest-colour search, with the lossy level's slack for continuing entries.
// A pixel that has the colour it had in an earlier frame takes the index it
// got there, as without loss; so a frame codes a row once the frames before it
// have, and the frames run side by side a row apart. Masks, threads and the
// result as for ReduceFramesLossy; also throws as ReduceFramesHighQuality does
// for frames that do not match.
TLossyFrames ReduceFramesLossyHigh(std::span<const TDIB> frames, std::span<const TDIB> masks,
    std::span<const bool> transparent, const TColorPalette& palette, const TLossyCoding& coding,
    unsigned threads = 0);

} // namespace zx

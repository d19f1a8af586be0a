#pragma once

// Colour reduction for the GIF export: an octree quantizer that builds one
// palette for all frames of an animation, a nearest-colour lookup with a
// 15-bit cell cache, and Stucki error diffusion that maps a 24-bit frame onto
// the palette. All of it is exact integer arithmetic: the same frames and
// settings always give the same palette and the same indices.

#include "core/imaging/XDIBUnit.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zx {

// One palette entry in the platform's order: red, green, blue, flags.
struct TPaletteEntry {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    std::uint8_t Flags = 0;

    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};
static_assert(sizeof(TPaletteEntry) == 4);

using TColorPalette = std::vector<TPaletteEntry>;

// ---------------------------------------------------------------------------
// Octree quantizer

class TColorQuantizer {
public:
    // colourLimit: the most leaves the tree may keep (1..256); treeDepth: the
    // level at which nodes are leaves (1..8). Anything else raises
    // EInvalidGraphicOperation.
    TColorQuantizer(std::int32_t colourLimit, std::int32_t treeDepth);
    ~TColorQuantizer();
    TColorQuantizer(const TColorQuantizer&);
    TColorQuantizer& operator=(const TColorQuantizer&);

    // Inserts every pixel of the bitmap (read as 24 bits, rows from the top,
    // pixels from the left), folding after each one while there are more
    // leaves than the limit.
    void AddBitmap(const TDIB& bitmap);
    // The same for count pixels stored blue, green, red.
    void AddPixels(const std::uint8_t* bgr, std::int32_t count);
    // One pixel: InsertColor, then FoldNode while Leaves > ColourLimit.
    void AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

    // Sends one colour down from the root, creating the missing nodes on its
    // way, and accumulates it in the leaf it ends in. Does not fold.
    void InsertColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue);
    // Merges the children of the newest inner node on the deepest level that
    // has one into that node, which becomes a leaf.
    void FoldNode();
    // Appends one colour per leaf, depth first with children in index order:
    // the average of the leaf's pixels (truncated), black for a leaf without
    // pixels.
    void ListLeafColours(TColorPalette& out) const;

    std::int32_t Leaves() const { return m_leaves; }
    std::int32_t ColourLimit() const { return m_colourLimit; }
    std::int32_t TreeDepth() const { return m_treeDepth; }

private:
    // The tree's node and the two shortcuts' entries (XGIFUnitQuantize.cpp).
    struct TOctreeNode;
    struct TPrefixEntry;
    struct TLeafEntry;

    std::int32_t NewNode(std::int32_t level);
    void FreeNode(std::int32_t node);
    // Walks from node towards the colour with the given path key, creating
    // missing nodes, until a leaf or a node of level stopLevel is reached.
    std::int32_t Descend(std::int32_t node, std::uint32_t key, std::int32_t stopLevel);
    std::int32_t Root();
    void AddToLeaf(std::int32_t node, std::int32_t red, std::int32_t green, std::int32_t blue);
    void FoldExcess();
    std::uint32_t Key(std::int32_t red, std::int32_t green, std::int32_t blue) const;
    // AddPixels with or without the leaf cache; returns the cache's hits.
    template <bool UseLeafCache>
    std::int32_t AddPixelsWith(const std::uint8_t* bgr, std::int32_t count);

    std::int32_t m_colourLimit;
    std::int32_t m_treeDepth;
    std::int32_t m_root = 0;
    std::int32_t m_leaves = 0;
    std::array<std::int32_t, 8> m_foldLists {};
    // Node pool: slot 0 is the sentinel; freed nodes are chained through
    // NextFold starting at m_freeList.
    std::vector<TOctreeNode> m_nodes;
    std::int32_t m_freeList = 0;

    // Shortcut into the tree: for each combination of the top bits of the
    // three components (the first m_prefixLevels levels of a path), the node
    // the path reaches at that level, or the leaf it ends in above it. A
    // remembered node stays on its path for as long as it exists: a fold only
    // frees leaves, and a node below a folded one has always been freed
    // first. The slot's stamp tells whether it still holds that node.
    std::int32_t m_prefixLevels;
    std::vector<TPrefixEntry> m_prefix;
    // The leaf each recently seen colour ended in, by a hash of its path key:
    // a leaf never turns into an inner node, so it stays the end of that path
    // until it is freed, which its stamp shows.
    static constexpr std::int32_t kLeafCacheBits = 12;
    std::vector<TLeafEntry> m_leafCache;
    bool m_leafCacheOn = true;
    std::uint32_t m_rowsWithoutCache = 0;
    // Interleaves the top treeDepth bits of a component into a path key:
    // level l's child index sits at bit 3 * (treeDepth - 1 - l).
    std::array<std::uint32_t, 256> m_spreadR {};
    std::array<std::uint32_t, 256> m_spreadG {};
    std::array<std::uint32_t, 256> m_spreadB {};
};

// One palette of exactly colours entries for all bitmaps: the octree's leaf
// colours in tree order, then black. Throws GIFException "无效的位图列表" for
// an empty list or a null entry.
TColorPalette CreateSharedPalette(
    std::span<const TDIB* const> bitmaps, std::int32_t colours, std::int32_t depth);
TColorPalette CreateSharedPalette(
    std::span<const TDIB> bitmaps, std::int32_t colours, std::int32_t depth);
// The same palette of a tree the bitmaps went into: its leaf colours, then
// black up to its colour limit.
TColorPalette SharedPaletteOf(const TColorQuantizer& quantizer);

// ---------------------------------------------------------------------------
// Nearest-colour lookup

class TFastColorLookup {
public:
    // Copies at most 256 entries and seeds each entry's own colour cell with
    // the lowest index that lies in it.
    explicit TFastColorLookup(const TColorPalette& palette);

    // The palette index for a colour and that entry's colour. A colour whose
    // cell is resolved gets the cell's index without a search; otherwise the
    // entry with the smallest Manhattan distance (lowest index on ties) is
    // found and stored for the whole cell.
    std::int32_t Lookup(
        std::int32_t red, std::int32_t green, std::int32_t blue, TPaletteEntry& colour);
    std::int32_t Lookup(std::int32_t red, std::int32_t green, std::int32_t blue)
    {
        TPaletteEntry colour;
        return Lookup(red, green, blue, colour);
    }

    std::int32_t EntryCount() const { return m_entryCount; }
    const TPaletteEntry& Entry(std::int32_t index) const { return m_entries[index]; }

    // The 15-bit colour cell: five bits per component, red lowest.
    static std::int32_t Cell(std::int32_t red, std::int32_t green, std::int32_t blue)
    {
        return (red >> 3) | ((green >> 3) << 5) | ((blue >> 3) << 10);
    }
    // The cached index of a cell, or -1 while it is unresolved.
    std::int32_t CachedIndex(std::int32_t cell) const { return m_cellCache[cell]; }

    // The cell lookup inlined for the ditherer's pixel loop.
    std::int32_t LookupIndex(std::int32_t red, std::int32_t green, std::int32_t blue)
    {
        return LookupCell(Cell(red, green, blue), red, green, blue);
    }
    // The same when the caller has computed the colour's cell already.
    std::int32_t LookupCell(
        std::int32_t cell, std::int32_t red, std::int32_t green, std::int32_t blue)
    {
        const std::int32_t index = m_cellCache[cell];
        if (index >= 0)
            return index;
        return Resolve(cell, red, green, blue);
    }

private:
    std::int32_t Resolve(
        std::int32_t cell, std::int32_t red, std::int32_t green, std::int32_t blue);
    void MakeBox(std::int32_t box);

    std::array<TPaletteEntry, 256> m_entries {};
    std::int32_t m_entryCount = 0;
    // Component planes of the entries for the distance scan, padded to a
    // multiple of 8 with a colour no search can pick. 16 bits are plenty
    // (distances stay below 32768) and let one vector hold eight entries.
    alignas(16) std::array<std::int16_t, 256> m_red {};
    alignas(16) std::array<std::int16_t, 256> m_green {};
    alignas(16) std::array<std::int16_t, 256> m_blue {};
    std::vector<std::int16_t> m_cellCache;

    // The search narrowed to candidates: colour space is cut into 512 boxes
    // of 32 x 32 x 32, and a box lists, in index order, only the entries that
    // can be nearest (or tie for nearest) to some colour in it. A box's list
    // is made the first time a colour in it is searched and kept in a pool of
    // fixed size; a box that no longer fits is searched in full.
    static constexpr std::int32_t kBoxNotMade = -1;
    static constexpr std::int32_t kBoxFullScan = -2;
    static constexpr std::int32_t kBoxPoolSize = 16384;
    bool m_useBoxes = false;
    std::array<std::int32_t, 512> m_boxStart {};
    std::array<std::int16_t, 512> m_boxCount {};
    std::unique_ptr<std::int16_t[]> m_poolRed;
    std::unique_ptr<std::int16_t[]> m_poolGreen;
    std::unique_ptr<std::int16_t[]> m_poolBlue;
    std::unique_ptr<std::uint8_t[]> m_poolIndex;
    std::int32_t m_poolUsed = 0;
};

// ---------------------------------------------------------------------------
// Error diffusion

// Stucki error diffusion (kernel 8 4 / 2 4 8 4 2 / 1 2 4 2 1, out of 42) in
// serpentine rows: rows alternate direction, starting left to right, and each
// pixel's error goes to the two pixels ahead of it and the five below it on
// each of the next two rows. Error pushed past the frame's edges is dropped.
class TStuckiDitherer {
public:
    // The lookup must have at least one entry (else EInvalidGraphicOperation)
    // and outlive the ditherer.
    TStuckiDitherer(std::int32_t width, TFastColorLookup& lookup);
    ~TStuckiDitherer();
    TStuckiDitherer(TStuckiDitherer&&) noexcept;
    TStuckiDitherer& operator=(TStuckiDitherer&&) noexcept;

    // The frame width, the scan direction of the current row (1 or -1) and
    // the column of the next pixel.
    std::int32_t Width() const;
    std::int32_t Direction() const;
    std::int32_t Column() const;

    // Maps the pixel at Column to a palette index, diffuses its error and
    // steps Column one pixel in Direction.
    std::int32_t DitherPixel(std::int32_t red, std::int32_t green, std::int32_t blue);
    // Moves on to the next row: the error rows move up one, the scan turns.
    void NextRow();
    // Dithers one whole row of Width pixels stored blue, green, red into
    // Width indices, in the current direction, then calls NextRow.
    void DitherRow(const std::uint8_t* bgr, std::uint8_t* indices);
    // DitherRow for each ditherer: ditherers[k] dithers bgr[k] into
    // indices[k]. Two or four of one width standing at the same place
    // (direction and column) go with the pixels of their rows interleaved;
    // each frame's result is exactly what DitherRow gives, the interleaving
    // only lets the processor work on independent chains of pixels at once.
    static void DitherRows(std::span<TStuckiDitherer* const> ditherers,
        const std::uint8_t* const* bgr, std::uint8_t* const* indices);

private:
    // The diffusion engine with Stucki's kernel (XGIFUnitDither.cpp).
    class TEngine;
    std::unique_ptr<TEngine> m_engine;
};

// ---------------------------------------------------------------------------
// Reduction of whole frames

// Maps a bitmap (read as 24 bits) onto the palette with Stucki error diffusion
// in serpentine rows. The result is an 8-bit bitmap of the same size whose
// colour table is the palette (at most 256 entries) followed by black; every
// index is below the palette's size. An empty palette gives an empty bitmap.
// Throws GIFException "无效的图像维数尺寸" for a bitmap without pixels and
// EOutOfResources "用于 GIF DIB 分配内存失败" when the result cannot be allocated.
TDIB ReduceToPalette(const TDIB& bitmap, const TColorPalette& palette);

// The bitmap ReduceToPalette fills: 8 bits, the size of source, the palette
// (at most 256 entries) then black as its colour table, those entries marked
// important; empty for an empty palette. Throws as ReduceToPalette does.
TDIB MakeReducedBitmap(const TDIB& source, const TColorPalette& palette);

// ReduceToPalette for each bitmap, with the frames spread over up to threads
// worker threads (0: one per processor). Each frame gets its own lookup and
// ditherer, so the results are exactly those of ReduceToPalette frame by frame.
std::vector<TDIB> ReduceFramesToPalette(
    std::span<const TDIB> bitmaps, const TColorPalette& palette, unsigned threads = 0);

} // namespace zx

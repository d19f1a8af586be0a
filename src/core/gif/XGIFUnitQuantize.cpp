#include "core/gif/XGIFUnitQuantize.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/IntMath.h"
#include "core/gif/XGIFUnitMessages.h"
#include "core/gif/XGIFUnitReadRGB.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace zx {

namespace {

    // Child links are 16-bit pool indices.
    constexpr std::size_t kMaxPoolNodes = 32767;

} // namespace

// A node of the colour octree. Nodes live in the quantizer's pool and refer to
// each other by pool index (the pool never holds more than a few thousand);
// index 0 is the "no node" sentinel. The fields a walk down the tree reads
// come first, and a node fills one cache line.
struct alignas(64) TColorQuantizer::TOctreeNode {
    bool Terminal = false;
    // The level the node was made for (0 = root).
    std::uint8_t Level = 0;
    // Next inner node of the same level's fold list (inner nodes only).
    std::int16_t NextFold = 0;
    std::array<std::int16_t, 8> Child {};
    // Counts how often this pool slot was freed, so that a remembered slot
    // can tell whether it still holds the same node.
    std::uint32_t Stamp = 0;
    // 64-bit so that no amount of pixels can wrap a sum (a 32-bit sum would
    // overflow after about 8.4 million white pixels in one leaf).
    std::int64_t Hits = 0;
    std::int64_t SumR = 0;
    std::int64_t SumG = 0;
    std::int64_t SumB = 0;
};

struct TColorQuantizer::TPrefixEntry {
    std::int32_t Node = 0;
    std::uint32_t Stamp = 0;
};

struct TColorQuantizer::TLeafEntry {
    std::uint32_t Key = 0;
    std::int32_t Node = 0;
    std::uint32_t Stamp = 0;
};

TColorQuantizer::TColorQuantizer(std::int32_t colourLimit, std::int32_t treeDepth)
    : m_colourLimit(colourLimit)
    , m_treeDepth(treeDepth)
    , m_prefixLevels(std::min(treeDepth, 4))
{
    static_assert(sizeof(TOctreeNode) == 64, "a node no longer fills one cache line");
    // A limit of 0 could never be met (folding ends with one leaf) and depths
    // outside 1..8 have no colour bits to choose children with.
    if (colourLimit < 1 || colourLimit > 256)
        throw EInvalidGraphicOperation(FormatMessage(GIFMessages::sColourLimitRange, colourLimit));
    if (treeDepth < 1 || treeDepth > 8)
        throw EInvalidGraphicOperation(FormatMessage(GIFMessages::sTreeDepthRange, treeDepth));

    // Every inner node has a leaf below it and every leaf at most treeDepth
    // ancestors, and there are never more than colourLimit + 1 leaves, so this
    // many nodes are all the tree can ever hold at once: the pool is not
    // reallocated while pixels go in.
    m_nodes.reserve(std::size_t(colourLimit + 1) * std::size_t(treeDepth + 1) + 1);
    m_nodes.emplace_back();
    m_prefix.resize(std::size_t(1) << (3 * m_prefixLevels));
    m_leafCache.resize(std::size_t(1) << kLeafCacheBits);

    for (std::uint32_t v = 0; v < 256; ++v) {
        std::uint32_t spread = 0;
        for (std::int32_t level = 0; level < treeDepth; ++level) {
            if (v & (0x80u >> level))
                spread |= 1u << (3 * (treeDepth - 1 - level));
        }
        m_spreadR[v] = spread << 2;
        m_spreadG[v] = spread << 1;
        m_spreadB[v] = spread;
    }
}

TColorQuantizer::~TColorQuantizer() = default;
TColorQuantizer::TColorQuantizer(const TColorQuantizer&) = default;
TColorQuantizer& TColorQuantizer::operator=(const TColorQuantizer&) = default;

std::uint32_t TColorQuantizer::Key(std::int32_t red, std::int32_t green, std::int32_t blue) const
{
    return m_spreadR[red] | m_spreadG[green] | m_spreadB[blue];
}

std::int32_t TColorQuantizer::NewNode(std::int32_t level)
{
    std::int32_t node;
    if (m_freeList != 0) {
        node = m_freeList;
        m_freeList = m_nodes[node].NextFold;
        const std::uint32_t stamp = m_nodes[node].Stamp;
        m_nodes[node] = TOctreeNode {};
        m_nodes[node].Stamp = stamp;
    } else {
        if (m_nodes.size() >= kMaxPoolNodes)
            throw std::logic_error("octree node pool exhausted");
        node = static_cast<std::int32_t>(m_nodes.size());
        m_nodes.emplace_back();
    }
    TOctreeNode& created = m_nodes[node];
    created.Level = static_cast<std::uint8_t>(level);
    if (level == m_treeDepth) {
        created.Terminal = true;
        ++m_leaves;
    } else {
        created.NextFold = static_cast<std::int16_t>(m_foldLists[level]);
        m_foldLists[level] = node;
    }
    return node;
}

void TColorQuantizer::FreeNode(std::int32_t node)
{
    ++m_nodes[node].Stamp;
    m_nodes[node].NextFold = static_cast<std::int16_t>(m_freeList);
    m_freeList = node;
}

std::int32_t TColorQuantizer::Root()
{
    if (m_root == 0)
        m_root = NewNode(0);
    return m_root;
}

std::int32_t TColorQuantizer::Descend(std::int32_t node, std::uint32_t key, std::int32_t stopLevel)
{
    std::int32_t level = m_nodes[node].Level;
    while (level < stopLevel && !m_nodes[node].Terminal) {
        const std::uint32_t childIndex = (key >> (3 * (m_treeDepth - 1 - level))) & 7;
        std::int32_t child = m_nodes[node].Child[childIndex];
        if (child == 0) {
            child = NewNode(level + 1);
            m_nodes[node].Child[childIndex] = static_cast<std::int16_t>(child);
        }
        node = child;
        ++level;
    }
    return node;
}

void TColorQuantizer::AddToLeaf(
    std::int32_t node, std::int32_t red, std::int32_t green, std::int32_t blue)
{
    TOctreeNode& leaf = m_nodes[node];
    ++leaf.Hits;
    leaf.SumR += red;
    leaf.SumG += green;
    leaf.SumB += blue;
}

void TColorQuantizer::InsertColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    AddToLeaf(Descend(Root(), Key(red, green, blue), m_treeDepth), red, green, blue);
}

void TColorQuantizer::FoldNode()
{
    std::int32_t level = m_treeDepth - 1;
    while (level > 0 && m_foldLists[level] == 0)
        --level;
    const std::int32_t node = m_foldLists[level];
    if (node == 0)
        return; // no inner node left: the tree is a single leaf or empty
    m_foldLists[level] = m_nodes[node].NextFold;
    m_nodes[node].NextFold = 0;

    // The deepest level with inner nodes was chosen, so every child is a leaf:
    // inner nodes one level down would still be on that level's fold list.
    std::int32_t children = 0;
    for (std::int16_t& child : m_nodes[node].Child) {
        if (child == 0)
            continue;
        TOctreeNode& folded = m_nodes[node];
        const TOctreeNode& leaf = m_nodes[child];
        folded.Hits += leaf.Hits;
        folded.SumR += leaf.SumR;
        folded.SumG += leaf.SumG;
        folded.SumB += leaf.SumB;
        FreeNode(child);
        child = 0;
        ++children;
    }
    m_nodes[node].Terminal = true;
    m_leaves -= children - 1;
}

void TColorQuantizer::FoldExcess()
{
    // A tree with more than one leaf always has an inner node to fold; the
    // check only guards against looping for ever should that ever fail.
    auto anyInner = [this] {
        return std::any_of(
            m_foldLists.begin(), m_foldLists.end(), [](std::int32_t head) { return head != 0; });
    };
    while (m_leaves > m_colourLimit && anyInner())
        FoldNode();
}

void TColorQuantizer::AddColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    InsertColor(red, green, blue);
    FoldExcess();
}

template <bool UseLeafCache>
std::int32_t TColorQuantizer::AddPixelsWith(const std::uint8_t* bgr, std::int32_t count)
{
    // The prefix table skips the top levels of the walk; what follows is the
    // walk InsertColor makes, from the remembered node on.
    const std::int32_t prefixShift = 3 * (m_treeDepth - m_prefixLevels);
    std::int32_t hits = 0;
    for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
        const std::int32_t blue = bgr[0];
        const std::int32_t green = bgr[1];
        const std::int32_t red = bgr[2];
        const std::uint32_t key = Key(red, green, blue);
        TLeafEntry* leaf = nullptr;
        if constexpr (UseLeafCache) {
            leaf = &m_leafCache[(key * 0x9E3779B1u) >> (32 - kLeafCacheBits)];
            const std::int32_t node = leaf->Node;
            if (node != 0 && leaf->Key == key && m_nodes[node].Stamp == leaf->Stamp) {
                AddToLeaf(node, red, green, blue);
                ++hits;
                continue; // an existing leaf: no new node, so nothing to fold
            }
        }
        TPrefixEntry& entry = m_prefix[key >> prefixShift];
        std::int32_t node = entry.Node;
        if (node == 0 || m_nodes[node].Stamp != entry.Stamp) {
            node = Descend(Root(), key, m_prefixLevels);
            entry = TPrefixEntry { node, m_nodes[node].Stamp };
        }
        node = Descend(node, key, m_treeDepth);
        if constexpr (UseLeafCache)
            *leaf = TLeafEntry { key, node, m_nodes[node].Stamp };
        AddToLeaf(node, red, green, blue);
        if (m_leaves > m_colourLimit)
            FoldExcess();
    }
    return hits;
}

void TColorQuantizer::AddPixels(const std::uint8_t* bgr, std::int32_t count)
{
    // Pictures with few colours (a drawing, an indexed picture under the
    // flag's shading) find most pixels in the leaf cache; photographs rarely
    // do, and there the cache only costs time. So the cache is used while it
    // answers at least a quarter of the pixels of a row, and retried every
    // 16th row once switched off. Either way the tree ends up the same.
    if (m_leafCacheOn || (++m_rowsWithoutCache & 15) == 0) {
        const std::int32_t hits = AddPixelsWith<true>(bgr, count);
        m_leafCacheOn = hits * 4 >= count;
    } else {
        AddPixelsWith<false>(bgr, count);
    }
}

void TColorQuantizer::AddBitmap(const TDIB& bitmap)
{
    if (bitmap.Empty())
        return;
    TRowReader24 rows(bitmap);
    for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
        ThrowIfCancelled();
        AddPixels(rows.Row(y), bitmap.Width());
    }
}

void TColorQuantizer::ListLeafColours(TColorPalette& out) const
{
    if (m_root == 0)
        return;
    // Depth at most 8, so an explicit stack of (node, next child) is small.
    struct TFrame {
        std::int32_t Node;
        std::int32_t NextChild;
    };
    std::array<TFrame, 10> stack {};
    std::int32_t top = 0;
    stack[0] = { m_root, 0 };
    while (top >= 0) {
        TFrame& frame = stack[top];
        const TOctreeNode& node = m_nodes[frame.Node];
        if (node.Terminal) {
            TPaletteEntry colour;
            if (node.Hits != 0) {
                colour.Red = static_cast<std::uint8_t>(node.SumR / node.Hits);
                colour.Green = static_cast<std::uint8_t>(node.SumG / node.Hits);
                colour.Blue = static_cast<std::uint8_t>(node.SumB / node.Hits);
            }
            out.push_back(colour);
            --top;
            continue;
        }
        while (frame.NextChild < 8 && node.Child[frame.NextChild] == 0)
            ++frame.NextChild;
        if (frame.NextChild == 8) {
            --top;
            continue;
        }
        const std::int32_t child = node.Child[frame.NextChild++];
        stack[++top] = { child, 0 };
    }
}

TColorPalette CreateSharedPalette(
    std::span<const TDIB* const> bitmaps, std::int32_t colours, std::int32_t depth)
{
    if (bitmaps.empty())
        throw GIFException(GIFMessages::sInvalidBitmapList);
    for (const TDIB* bitmap : bitmaps) {
        if (bitmap == nullptr)
            throw GIFException(GIFMessages::sInvalidBitmapList);
    }

    TColorQuantizer quantizer(colours, depth);
    for (const TDIB* bitmap : bitmaps)
        quantizer.AddBitmap(*bitmap);
    return SharedPaletteOf(quantizer);
}

TColorPalette SharedPaletteOf(const TColorQuantizer& quantizer)
{
    const std::size_t colours = std::size_t(std::max(quantizer.ColourLimit(), 0));
    TColorPalette palette;
    palette.reserve(colours);
    quantizer.ListLeafColours(palette);
    palette.resize(colours);
    return palette;
}

TColorPalette CreateSharedPalette(
    std::span<const TDIB> bitmaps, std::int32_t colours, std::int32_t depth)
{
    std::vector<const TDIB*> list;
    list.reserve(bitmaps.size());
    for (const TDIB& bitmap : bitmaps)
        list.push_back(&bitmap);
    return CreateSharedPalette(std::span<const TDIB* const>(list), colours, depth);
}

} // namespace zx

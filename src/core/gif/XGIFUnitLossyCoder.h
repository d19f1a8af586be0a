#pragma once

// The look-ahead of the lossy coders, the same for every error diffusion.
// Where the writer's LZW string may go on, or a new one starts, the coder
// looks ahead along the row for the longest string of the table whose pixels
// can all take entries within the slack, following the error the chosen
// entries pass on to the pixels ahead of them, and codes those pixels with
// it. A diffusion comes in as a model:
//
//   TAhead                  the error the pixels ahead on the row get from
//                           the ones coded before them
//   TValue                  a pixel's value as the model needs it
//   Fixed(x, symbol)        whether column x has a fixed index (a
//                           background pixel, or one another frame decides),
//                           and which
//   Value(x, ahead, value)  the value of column x
//   Nearest(value)          the entry nearest to it (a canonical one)
//   Distance(value, entry)  its squared distance from an entry's colour
//   Limit(nearest, slack)   the largest distance an entry may have, given
//                           the nearest entry's (at least slack)
//   Step(ahead, value, nearest, entry)   the error ahead once column x of
//                           that value is coded with entry
//   StepFixed(ahead)        the same for a fixed column
//   Commit(x, ahead, symbol, nearest)   codes column x: spreads its error to
//                           the rows below and moves ahead on; nearest is
//                           the column's nearest entry where Step reads it,
//                           else -1
//   kStepNeedsNearest       whether Step (and so Commit) reads the nearest
//                           entry

#include "core/gif/XGIFUnitLossy.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace zx::lossy {

// The entries nearest to each entry (canonical ones only), nearest first:
// where a string starts, these are the other entries a pixel may take.
inline constexpr std::size_t kNeighbours = 8;
struct TNeighbourLists {
    std::vector<std::array<std::uint8_t, kNeighbours>> Lists;
    std::vector<std::uint8_t> Counts;
};
TNeighbourLists FindNeighbours(
    const TColorPalette& palette, const std::array<std::uint8_t, 256>& canonical);

template <class TModel> class TLookaheadCoder {
public:
    using TAhead = typename TModel::TAhead;
    using TValue = typename TModel::TValue;

    // level: the lossy level, whose slack (LossySlackAt) is the extra squared
    // distance a continuing entry may have.
    TLookaheadCoder(TModel& model, TLzwStringTable& table, const TNeighbourLists& neighbours,
        std::int32_t entries, std::int32_t level, std::int32_t width)
        : m_model(model)
        , m_table(table)
        , m_neighbours(neighbours)
        , m_entries(entries)
        , m_level(level)
        , m_width(width)
        , m_levels(std::size_t(width) + 1)
        , m_plan(std::size_t(width) + 1)
        , m_planNodes(std::size_t(width) + 1)
        , m_planNearest(std::size_t(width) + 1, -1)
    {
    }

    // Codes row y into indices, every pixel through the model's Commit.
    void CodeRow(std::uint8_t* indices, std::int32_t y)
    {
        for (std::int32_t x = 0; x < 8; ++x)
            m_rowSlack[std::size_t(x)] = LossySlackAt(m_level, x, y);
        TAhead ahead {};
        std::int32_t x = 0;
        while (x < m_width) {
            std::int32_t count = 0;
            // After a string that nothing continues the next one starts
            // here; at the start of a row the string may go on.
            if (m_table.HasString() && !(x > 0 && m_bestMaximal))
                count = Plan(x, ahead, m_table.String());
            const std::int32_t before = m_table.String();
            const std::uint32_t generation = m_table.Generation();
            if (count == 0)
                count = Plan(x, ahead, -1);
            // The planned string's nodes are in the table: past its first
            // pixel (and from it on when it continues the current string)
            // the coder follows them instead of looking each one up.
            const bool continues = m_table.HasString() && m_table.String() == before && count > 0
                && m_planNodes[0] >= 0 && m_table.Parent(m_planNodes[0]) == before;
            for (std::int32_t k = 0; k < count; ++k, ++x) {
                const std::int32_t symbol = m_plan[std::size_t(k)];
                indices[x] = static_cast<std::uint8_t>(symbol);
                if (k > 0 || continues)
                    m_table.Follow(m_planNodes[std::size_t(k)]);
                else
                    m_table.Push(symbol);
                // A full table starts over at the first pixel, and the
                // strings planned beyond it are gone.
                if (m_table.Generation() != generation) {
                    count = k + 1;
                    m_bestMaximal = false;
                }
                m_model.Commit(x, ahead, symbol, m_planNearest[std::size_t(k)]);
            }
            // Coding the first pixel gave the string before it a child, and
            // when that string is the one just coded again, the child may
            // continue it.
            if (m_table.String() == before)
                m_bestMaximal = false;
        }
    }

private:
    // One step of the look-ahead: the candidates still to look at for the
    // column, the error ahead and the distances summed on the way there.
    struct TLevel {
        std::int32_t Next;
        TAhead Ahead;
        std::int64_t Error;
        TValue Value;
        std::int32_t Nearest;
        std::int32_t Limit;
        std::int32_t Slack;
        bool Fixed;
        std::int32_t FixedSymbol;
    };

    void Enter(TLevel& level, std::int32_t x)
    {
        level.Nearest = -1;
        level.Slack = m_rowSlack[std::size_t(x & 7)];
        level.Fixed = m_model.Fixed(x, level.FixedSymbol);
        if (!level.Fixed)
            m_model.Value(x, level.Ahead, level.Value);
    }

    std::int32_t NearestOf(TLevel& level)
    {
        if (level.Nearest < 0) {
            level.Nearest = m_model.Nearest(level.Value);
            level.Limit = m_model.Limit(m_model.Distance(level.Value, level.Nearest), level.Slack);
        }
        return level.Nearest;
    }

    // Whether symbol may code the level's column; the error summed and the
    // error ahead after it.
    bool Accept(TLevel& level, std::int32_t symbol, std::int64_t& error, TAhead& ahead)
    {
        if (level.Fixed) {
            if (symbol != level.FixedSymbol)
                return false;
            ahead = level.Ahead;
            error = level.Error;
            m_model.StepFixed(ahead);
            return true;
        }
        if (symbol >= m_entries)
            return false;
        // Any entry within the slack passes whatever the nearest is, so the
        // nearest is looked for only past it.
        const std::int32_t d = m_model.Distance(level.Value, symbol);
        if (d > level.Slack) {
            NearestOf(level);
            if (d > level.Limit)
                return false;
        }
        ahead = level.Ahead;
        error = level.Error + d;
        const std::int32_t nearest = TModel::kStepNeedsNearest ? NearestOf(level) : symbol;
        m_model.Step(ahead, level.Value, nearest, symbol);
        return true;
    }

    // Looks ahead from column x0 for the longest string that starts with the
    // current one (node >= 0) or a new one (node < 0), and leaves the symbols
    // it adds from x0 on in m_plan. Returns how many columns they code (0:
    // the current string cannot go on). Of strings equally long the one with
    // the smaller sum of squared distances wins.
    std::int32_t Plan(std::int32_t x0, const TAhead& ahead, std::int32_t node)
    {
        // Every step costs a value and the scan of a node's children; a bound
        // keeps the worst pixels cheap. It is rarely reached.
        constexpr std::int32_t kBudget = 64;
        std::int32_t bestDepth = 0;
        std::int32_t bestNode = -1;
        std::int64_t bestError = 0;
        std::int32_t roots[1 + kNeighbours];
        std::int32_t rootCount = 0;

        TLevel& top = m_levels[0];
        top.Ahead = ahead;
        top.Error = 0;
        Enter(top, x0);
        if (node >= 0) {
            top.Next = m_table.FirstChild(node);
        } else {
            // A new string may start with the nearest entry or one of its
            // neighbours.
            top.Next = 0;
            if (top.Fixed) {
                roots[rootCount++] = top.FixedSymbol;
            } else {
                const std::int32_t nearest = NearestOf(top);
                roots[rootCount++] = nearest;
                for (std::int32_t k = 0; k < m_neighbours.Counts[std::size_t(nearest)]; ++k)
                    roots[rootCount++] = m_neighbours.Lists[std::size_t(nearest)][std::size_t(k)];
            }
        }

        m_bestMaximal = false;
        bool bestOpen = false;
        // The levels from here on were entered since the nearest entries of
        // the best string's columns were last kept.
        std::int32_t fresh = 0;
        std::int32_t depth = 0;
        std::int32_t budget = kBudget;
        while (depth >= 0 && budget > 0) {
            TLevel& level = m_levels[std::size_t(depth)];
            const std::int32_t x = x0 + depth;
            std::int32_t child = -1;
            std::int64_t error = 0;
            TAhead nextAhead {};
            // The next candidate that may code column x. A string that
            // cannot get longer than the best one found is not worth a look.
            if (depth == 0 && node < 0) {
                while (level.Next < rootCount) {
                    const std::int32_t symbol = roots[level.Next++];
                    if (1 + m_table.Height(symbol) < bestDepth)
                        continue;
                    if (Accept(level, symbol, error, nextAhead)) {
                        child = symbol;
                        break;
                    }
                }
            } else {
                while (level.Next >= 0) {
                    const std::int32_t candidate = level.Next;
                    level.Next = m_table.NextSibling(candidate);
                    if (depth + 1 + m_table.Height(candidate) < bestDepth)
                        continue;
                    if (Accept(level, m_table.Symbol(candidate), error, nextAhead)) {
                        child = candidate;
                        break;
                    }
                }
            }
            if (child < 0) {
                // Every candidate after the best string's end has been looked
                // at: nothing continues it within the row.
                if (bestOpen && depth == bestDepth) {
                    m_bestMaximal = true;
                    bestOpen = false;
                }
                --depth;
                continue;
            }
            --budget;
            const std::int32_t reached = depth + 1;
            bool improved = false;
            if (reached > bestDepth || (reached == bestDepth && error < bestError)) {
                improved = true;
                m_bestMaximal = false;
                bestOpen = false;
                bestDepth = reached;
                bestNode = child;
                bestError = error;
                if constexpr (TModel::kStepNeedsNearest) {
                    for (std::int32_t k = fresh; k < reached; ++k) {
                        const TLevel& on = m_levels[std::size_t(k)];
                        m_planNearest[std::size_t(k)] = on.Fixed ? -1 : on.Nearest;
                    }
                    fresh = reached;
                }
                if (x0 + reached >= m_width)
                    break;
            }
            if (x + 1 >= m_width)
                continue;
            TLevel& deeper = m_levels[std::size_t(reached)];
            deeper.Next = m_table.FirstChild(child);
            if (deeper.Next < 0) {
                m_bestMaximal = m_bestMaximal || improved;
                continue;
            }
            bestOpen = improved;
            deeper.Ahead = nextAhead;
            deeper.Error = error;
            Enter(deeper, x + 1);
            fresh = std::min(fresh, reached);
            depth = reached;
        }
        // The string's symbols from its end back to where the plan began.
        for (std::int32_t k = bestDepth - 1, at = bestNode; k >= 0; --k) {
            m_plan[std::size_t(k)] = static_cast<std::uint8_t>(m_table.Symbol(at));
            m_planNodes[std::size_t(k)] = at;
            at = m_table.Parent(at);
        }
        return bestDepth;
    }

    TModel& m_model;
    TLzwStringTable& m_table;
    const TNeighbourLists& m_neighbours;
    std::int32_t m_entries;
    std::int32_t m_level;
    // The slack of each column of the row, by column modulo 8.
    std::array<std::int32_t, 8> m_rowSlack {};
    std::int32_t m_width;
    std::vector<TLevel> m_levels;
    std::vector<std::uint8_t> m_plan;
    std::vector<std::int32_t> m_planNodes;
    // The nearest entry of each planned column's value (kStepNeedsNearest).
    std::vector<std::int32_t> m_planNearest;
    // The string Plan found cannot go on within the row.
    bool m_bestMaximal = false;
};

// What the frames' workers found, gathered into the reduction: the entries
// some frame uses and whether some frame has the transparent index.
template <class TReduction>
void GatherUsedEntries(TReduction& result, const std::vector<std::array<bool, 256>>& used,
    const std::vector<char>& usesTransparent)
{
    for (std::size_t i = 0; i < used.size(); ++i) {
        for (std::size_t e = 0; e < 256; ++e)
            result.Used[e] = result.Used[e] || used[i][e];
        result.UsesTransparentIndex = result.UsesTransparentIndex || usesTransparent[i];
    }
}

} // namespace zx::lossy

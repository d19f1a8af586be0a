#pragma once

// A failed load leaves the picture as it was: every reader's tests check that
// with these. A marked target has storage of its own and known pixels (3 x 2 at
// 24 bits, and for a TPicture an 8-bit alpha plane); after a failure it must
// hold the very same storage with the same bytes.

#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstdint>
#include <exception>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace zx::load_test {

// Every row of the picture, as stored.
inline std::vector<std::uint8_t> AllRows(const TDIB& picture)
{
    std::vector<std::uint8_t> bytes;
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.ConstScanLine(y);
        bytes.insert(bytes.end(), row, row + picture.RowBytes());
    }
    return bytes;
}

template <class T> class TMarkedTarget {
    static_assert(std::is_same_v<T, TDIB> || std::is_same_v<T, TPicture>);

public:
    TMarkedTarget()
    {
        TDIB& color = Color();
        color.SetSize(3, 2, 24);
        for (std::int32_t y = 0; y < 2; ++y)
            for (std::int32_t i = 0; i < 9; ++i)
                color.ScanLine(y)[i] = std::uint8_t(17 * y + 3 * i + 1);
        if constexpr (std::is_same_v<T, TPicture>) {
            Target.Alpha.SetSize(3, 2, 8);
            for (std::int32_t y = 0; y < 2; ++y)
                for (std::int32_t x = 0; x < 3; ++x)
                    Target.Alpha.ScanLine(y)[x] = std::uint8_t(40 * y + x);
        }
        m_color = Color().Image();
        m_colorRows = AllRows(Color());
        if constexpr (std::is_same_v<T, TPicture>) {
            m_alpha = Target.Alpha.Image();
            m_alphaRows = AllRows(Target.Alpha);
        }
    }
    TMarkedTarget(const TMarkedTarget&) = delete;
    TMarkedTarget& operator=(const TMarkedTarget&) = delete;

    // Still the very storage it had, with its pixels.
    bool Untouched() const
    {
        bool same = Color().Image() == m_color && AllRows(Color()) == m_colorRows;
        if constexpr (std::is_same_v<T, TPicture>)
            same = same && Target.Alpha.Image() == m_alpha && AllRows(Target.Alpha) == m_alphaRows;
        return same;
    }
    void ExpectUntouched() const
    {
        EXPECT_TRUE(Untouched()) << "the failed load changed its target";
    }

    T Target;

private:
    TDIB& Color()
    {
        if constexpr (std::is_same_v<T, TPicture>)
            return Target.Color;
        else
            return Target;
    }
    const TDIB& Color() const { return const_cast<TMarkedTarget*>(this)->Color(); }

    std::shared_ptr<TDIBSharedImage> m_color;
    std::shared_ptr<TDIBSharedImage> m_alpha;
    std::vector<std::uint8_t> m_colorRows;
    std::vector<std::uint8_t> m_alphaRows;
};

// Runs load on a marked target (a TDIB or a TPicture, as load takes it); the
// load must fail with Error and leave the target as it was. Returns the
// error's message.
template <typename Error, typename Load> std::string ExpectLoadFails(Load load)
{
    using Target = std::conditional_t<std::is_invocable_v<Load, TPicture&>, TPicture, TDIB>;
    TMarkedTarget<Target> marked;
    std::string message;
    try {
        load(marked.Target);
        ADD_FAILURE() << "the load succeeded";
    } catch (const std::exception& error) {
        message = error.what();
        EXPECT_NE(dynamic_cast<const Error*>(&error), nullptr) << "another error: " << message;
    }
    marked.ExpectUntouched();
    return message;
}

} // namespace zx::load_test

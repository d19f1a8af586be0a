#include "core/flag/XSinusUnit.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace zx {
namespace {

    TEST(XSinusUnit, TablesHoldTheCheckValues)
    {
        const auto& sinTable = SinTable();
        const auto& cosTable = CosTable();
        EXPECT_EQ(sinTable[0], 0);
        EXPECT_EQ(sinTable[1024], 4096);
        EXPECT_EQ(sinTable[2048], 0);
        EXPECT_EQ(sinTable[3072], -4096);
        // The step 6.28318 / 4096 falls short of a full turn, so the last entry is
        // -6 rather than the -6.28 a true 2 pi step would round to.
        EXPECT_EQ(sinTable[4095], -6);
        EXPECT_EQ(sinTable[170], 1056);
        EXPECT_EQ(cosTable[170], 3958);
        EXPECT_EQ(cosTable[0], 4096);
    }

    TEST(XSinusUnit, CosineIsTheSineAQuarterTurnOn)
    {
        const auto& sinTable = SinTable();
        const auto& cosTable = CosTable();
        for (std::int32_t i = 0; i < kSinusTableSize; ++i) {
            ASSERT_EQ(cosTable[i], sinTable[(i + 1024) & 4095]) << i;
            ASSERT_GE(sinTable[i], -4096) << i;
            ASSERT_LE(sinTable[i], 4096) << i;
        }
    }

    TEST(XSinusUnit, PhasesWrapIncludingNegativeOnes)
    {
        EXPECT_EQ(FixedSin(1024 + 5 * 4096, 100), 100);
        EXPECT_EQ(FixedSin(-1024, 100), -100);
        EXPECT_EQ(FixedSin(-1, 4096), -6);
        EXPECT_EQ(FixedCos(-4096, 16), 16);
        EXPECT_EQ(FixedCos(std::numeric_limits<std::int32_t>::min(), 50), 50);
    }

    TEST(XSinusUnit, ShiftRoundsTowardsMinusInfinity)
    {
        // -6 / 4096 floors to -1; a truncating division would give 0.
        EXPECT_EQ(FixedSin(4095, 1), -1);
        EXPECT_EQ(FixedSin(170, 1), 0);
        // 1056 x 25 = 26400 -> 6; -1056 x 25 -> floor(-6.45) = -7.
        EXPECT_EQ(FixedSin(170, 25), 6);
        EXPECT_EQ(FixedSin(2048 + 170, 25), -7);
    }

    TEST(XSinusUnit, ProductWrapsAt32Bits)
    {
        // 4096 x (2^31 - 1) = 0x7FFFFFF000 wraps to 0xFFFFF000 = -4096, shifted -1.
        EXPECT_EQ(FixedSin(1024, std::numeric_limits<std::int32_t>::max()), -1);
        EXPECT_EQ(FixedCos(0, std::numeric_limits<std::int32_t>::min()), 0);
    }

} // namespace
} // namespace zx

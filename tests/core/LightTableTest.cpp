#include "core/flag/LightTable.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace zx {
namespace {

    TEST(LightTable, DefaultsKeepFlatPartsAndShadeTheSlopes)
    {
        const TLightTable table = BuildLightTable(100, 50, false);
        for (int j = 0; j < 256; ++j) {
            ASSERT_EQ(table[16][j], j) << j;
            // Row 0 is L = +16, the darkest: gain 1750 / 2550.
            ASSERT_EQ(table[0][j], j * 1750 / 2550) << j;
            // Row 32 is L = -16, the brightest: gain 3350 / 2550, clamped.
            ASSERT_EQ(table[32][j], std::min(255, j * 3350 / 2550)) << j;
        }
        EXPECT_EQ(table[32][194], 254);
        EXPECT_EQ(table[32][195], 255);
        // Row 10 (L = 6): m = 50 x -6 + 2550 = 2250.
        EXPECT_EQ(table[10][200], 200 * 2250 / 2550);
    }

    TEST(LightTable, ZeroContrastShadesNothing)
    {
        const TLightTable table = BuildLightTable(130, 0, false);
        for (int row = 0; row < kLightLevels; ++row)
            EXPECT_EQ(table[row], table[16]) << row;
        EXPECT_EQ(table[16][100], 100 * 3150 / 2550);
    }

    TEST(LightTable, InvertedLightSwapsTheRows)
    {
        const TLightTable normal = BuildLightTable(80, 70, false);
        const TLightTable inverted = BuildLightTable(80, 70, true);
        for (int i = -16; i <= 16; ++i)
            EXPECT_EQ(inverted[16 + i], normal[16 - i]) << i;
        EXPECT_NE(inverted[0], normal[0]);
    }

    TEST(LightTable, NegativeGainsClampToBlack)
    {
        // m = 100 x i + 550: rows 0..10 (m <= -50) are black, row 11 (m = 50)
        // reaches at most 50 x 255 div 2550 = 5.
        const TLightTable table = BuildLightTable(0, 100, false);
        for (int row = 0; row <= 10; ++row) {
            for (int j = 0; j < 256; ++j)
                ASSERT_EQ(table[row][j], 0) << row << "," << j;
        }
        EXPECT_EQ(*std::max_element(table[11].begin(), table[11].end()), 5);
        EXPECT_EQ(table[16][255], 550 * 255 / 2550);
    }

} // namespace
} // namespace zx

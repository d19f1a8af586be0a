#include "core/controls/XIntegerEditComp.h"

#include <gtest/gtest.h>

namespace zx {
namespace {

    TEST(XIntegerEditComp, FilterLetsDigitsMinusAndControlKeysThrough)
    {
        for (char32_t ch = U'0'; ch <= U'9'; ++ch)
            EXPECT_TRUE(IsValidIntegerChar(ch));
        EXPECT_TRUE(IsValidIntegerChar(U'-'));
        EXPECT_TRUE(IsValidIntegerChar(8)); // backspace
        EXPECT_TRUE(IsValidIntegerChar(3)); // Ctrl+C
        EXPECT_TRUE(IsValidIntegerChar(22)); // Ctrl+V
        EXPECT_TRUE(IsValidIntegerChar(27)); // Escape
        EXPECT_TRUE(IsValidIntegerChar(0));
        EXPECT_FALSE(IsValidIntegerChar(13)); // Enter
        for (char32_t ch : { U'a', U'Z', U'+', U' ', U'.', U',', U'\x7F', U'\u4E00', U'\uFF10' })
            EXPECT_FALSE(IsValidIntegerChar(ch)) << std::uint32_t(ch);
    }

    TEST(XIntegerEditComp, TextReadsClampedOrAsTheMinimum)
    {
        EXPECT_EQ(TextToInteger("300", 0, 255), 255);
        EXPECT_EQ(TextToInteger("-5", 0, 255), 0);
        EXPECT_EQ(TextToInteger("-5", -10, 255), -5);
        EXPECT_EQ(TextToInteger("1-2", 0, 255), 0);
        EXPECT_EQ(TextToInteger("1-2", 7, 255), 7);
        EXPECT_EQ(TextToInteger("", 3, 255), 3);
        EXPECT_EQ(TextToInteger("-", 3, 255), 3);
        EXPECT_EQ(TextToInteger("12a", 3, 255), 3);
        EXPECT_EQ(TextToInteger(" 12", 3, 255), 3);
        EXPECT_EQ(TextToInteger("+12", 3, 255), 12);
        EXPECT_EQ(TextToInteger("007", 0, 255), 7);
        EXPECT_EQ(TextToInteger("42", 0, 255), 42);
        // Numbers past 32 bits are still numbers and clamp to their side.
        EXPECT_EQ(TextToInteger("99999999999999999999999", 0, 255), 255);
        EXPECT_EQ(TextToInteger("-99999999999999999999999", 0, 255), 0);
        EXPECT_EQ(TextToInteger("2147483648", INT32_MIN, INT32_MAX), INT32_MAX);
        EXPECT_EQ(TextToInteger("-2147483648", INT32_MIN, INT32_MAX), INT32_MIN);
    }

    TEST(XIntegerEditComp, ValuesAreWrittenClamped)
    {
        EXPECT_EQ(IntegerToText(300, 0, 255), "255");
        EXPECT_EQ(IntegerToText(-1, 0, 255), "0");
        EXPECT_EQ(IntegerToText(-1, -5, 5), "-1");
        // Below the minimum wins when a broken range has max below min.
        EXPECT_EQ(ClampInteger(5, 10, 0), 10);
    }

    TEST(XIntegerEditComp, RangeLimitsGiveWayToEachOther)
    {
        TIntegerRange range;
        EXPECT_EQ(range.MinValue(), 0);
        EXPECT_EQ(range.MaxValue(), 100);
        EXPECT_FALSE(range.SetMinValue(0));
        EXPECT_TRUE(range.SetMinValue(50));
        EXPECT_EQ(range.MinValue(), 50);
        // A maximum below the minimum is stored as the minimum.
        EXPECT_TRUE(range.SetMaxValue(20));
        EXPECT_EQ(range.MaxValue(), 50);
        // A minimum above the maximum is stored as the maximum.
        EXPECT_TRUE(range.SetMaxValue(60));
        EXPECT_TRUE(range.SetMinValue(80));
        EXPECT_EQ(range.MinValue(), 60);
        EXPECT_EQ(range.MaxValue(), 60);
    }

} // namespace
} // namespace zx

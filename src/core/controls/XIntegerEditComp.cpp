#include "core/controls/XIntegerEditComp.h"

#include <limits>

namespace zx {

bool IsValidIntegerChar(char32_t ch)
{
    if (ch == U'-' || (ch >= U'0' && ch <= U'9'))
        return true;
    return ch < 32 && ch != 13;
}

std::int32_t ClampInteger(std::int64_t value, std::int32_t minValue, std::int32_t maxValue)
{
    if (value < minValue)
        return minValue;
    if (value > maxValue)
        return maxValue;
    return static_cast<std::int32_t>(value);
}

std::int32_t TextToInteger(std::string_view text, std::int32_t minValue, std::int32_t maxValue)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        return minValue;
    // Beyond this the magnitude only matters for its side of the range.
    constexpr std::int64_t kCap = std::int64_t(1) << 40;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch < '0' || ch > '9')
            return minValue;
        if (magnitude < kCap)
            magnitude = magnitude * 10 + (ch - '0');
    }
    return ClampInteger(negative ? -magnitude : magnitude, minValue, maxValue);
}

std::string IntegerToText(std::int64_t value, std::int32_t minValue, std::int32_t maxValue)
{
    return std::to_string(ClampInteger(value, minValue, maxValue));
}

bool TIntegerRange::SetMinValue(std::int32_t value)
{
    if (value == m_minValue)
        return false;
    m_minValue = value > m_maxValue ? m_maxValue : value;
    return true;
}

bool TIntegerRange::SetMaxValue(std::int32_t value)
{
    if (value == m_maxValue)
        return false;
    m_maxValue = value < m_minValue ? m_minValue : value;
    return true;
}

} // namespace zx

#pragma once

// The rules of the integer edit without the widget: which typed characters it
// lets through, how a text reads as a value within a range, and how the range
// limits give way to each other. The widget in ui/controls/XIntegerEditComp.h
// applies them to its text.

#include <cstdint>
#include <string>
#include <string_view>

namespace zx {

// Digits, the minus sign (anywhere: the text is checked when it is read) and
// the control characters below 32 except carriage return, so that backspace and
// the clipboard keys work and Enter never reaches the text.
bool IsValidIntegerChar(char32_t ch);

// Below minValue gives minValue, otherwise above maxValue gives maxValue.
std::int32_t ClampInteger(std::int64_t value, std::int32_t minValue, std::int32_t maxValue);

// The value a text stands for: an optional sign and at least one decimal digit,
// nothing else, clamped to the range (a number too large for 32 bits clamps
// like any other). Any other text reads as minValue.
std::int32_t TextToInteger(std::string_view text, std::int32_t minValue, std::int32_t maxValue);

// The text the edit shows for a value: its decimal form after clamping.
std::string IntegerToText(std::int64_t value, std::int32_t minValue, std::int32_t maxValue);

// The range limits with their setters' rules. Each setter returns false when
// the value given equals the stored one (then nothing happens).
class TIntegerRange {
public:
    std::int32_t MinValue() const { return m_minValue; }
    std::int32_t MaxValue() const { return m_maxValue; }
    // Stored lowered to MaxValue when above it.
    bool SetMinValue(std::int32_t value);
    // Stored raised to MinValue when below it.
    bool SetMaxValue(std::int32_t value);

private:
    std::int32_t m_minValue = 0;
    std::int32_t m_maxValue = 100;
};

} // namespace zx

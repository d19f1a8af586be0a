#include "core/controls/XNiceScrollBarComp.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace zx {

namespace {

    constexpr std::array<std::int64_t, 10> kPowersOfTen { 1, 10, 100, 1000, 10000, 100000, 1000000,
        10000000, 100000000, 1000000000 };

    char UpperAscii(char c)
    {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }

    bool IsDigit(char c)
    {
        return c >= '0' && c <= '9';
    }

    // Digits of a non-negative number with the thousands separator every three.
    std::string Grouped(std::int64_t value, const std::string& thousands)
    {
        const std::string digits = std::to_string(value);
        std::string out;
        for (std::size_t i = 0; i < digits.size(); ++i) {
            if (i > 0 && (digits.size() - i) % 3 == 0)
                out += thousands;
            out += digits[i];
        }
        return out;
    }

    // position / 10^decimals with exactly that many decimals. A 32-bit position
    // has at most ten digits, well inside the sixteen significant digits a
    // floating-point rendering would keep, so integer arithmetic gives the same
    // text without any rounding question.
    std::string FormatDiv(
        std::int32_t position, std::int32_t decimals, const TNumberSeparators& separators)
    {
        const std::int64_t scale = kPowersOfTen[decimals];
        const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(position));
        std::string out = position < 0 ? "-" : "";
        out += Grouped(magnitude / scale, separators.Thousands);
        if (decimals > 0) {
            std::string fraction = std::to_string(magnitude % scale);
            fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
            out += separators.Decimal + fraction;
        }
        return out;
    }

} // namespace

std::string ExpandLabel(
    const std::string& templ, std::int32_t position, const TNumberSeparators& separators)
{
    std::string out;
    std::size_t scan = 0;
    while (true) {
        const std::size_t marker = templ.find("<#", scan);
        if (marker == std::string::npos) {
            out.append(templ, scan, std::string::npos);
            return out;
        }
        out.append(templ, scan, marker - scan);
        const std::size_t name = marker + 2;
        std::string replacement;
        std::size_t next = 0;
        if (templ.size() - name >= 3) {
            std::string upper;
            for (std::size_t i = 0; i < 3; ++i)
                upper += UpperAscii(templ[name + i]);
            const std::size_t after = name + 3;
            const auto closedAt
                = [&](std::size_t at) { return at < templ.size() && templ[at] == '>'; };
            if ((upper == "POS" || upper == "SHL") && closedAt(after)) {
                replacement = upper == "POS"
                    ? std::to_string(position)
                    : std::to_string(static_cast<std::int32_t>(1u << (position & 31)));
                next = after + 1;
            } else if ((upper == "DIV" || upper == "MUL") && after < templ.size()
                && IsDigit(templ[after]) && closedAt(after + 1)) {
                const std::int32_t n = templ[after] - '0';
                replacement = upper == "DIV"
                    ? FormatDiv(position, n, separators)
                    : std::to_string(static_cast<std::int64_t>(position) * kPowersOfTen[n]);
                next = after + 2;
            }
        }
        if (next == 0) {
            // Not a tag we know, or not completed: the marker is ordinary text.
            out += "<#";
            scan = name;
        } else {
            out += replacement;
            scan = next;
        }
    }
}

std::int32_t TNiceScrollBarModel::Clamp(std::int32_t value) const
{
    return std::clamp(value, m_min, m_max);
}

bool TNiceScrollBarModel::SetMin(std::int32_t value)
{
    if (value == m_min)
        return false;
    m_min = std::min(value, m_max);
    if (m_position < m_min)
        m_position = m_min;
    if (m_smallChange < 1 && m_min != m_max)
        m_smallChange = 1;
    return true;
}

bool TNiceScrollBarModel::SetMax(std::int32_t value)
{
    if (value == m_max)
        return false;
    m_max = std::max(value, m_min);
    if (m_position > m_max)
        m_position = m_max;
    if (m_smallChange < 1 && m_min != m_max)
        m_smallChange = 1;
    return true;
}

bool TNiceScrollBarModel::SetPosition(std::int32_t value)
{
    if (value == m_position)
        return false;
    const bool changed = ChangePosition(value);
    if (m_defaultMode == dmAuto)
        m_defaultPos = m_position;
    return changed;
}

bool TNiceScrollBarModel::ChangePosition(std::int32_t v)
{
    if (v == m_position)
        return false;
    const std::int32_t old = m_position;
    m_position = Clamp(v);
    return m_position != old;
}

bool TNiceScrollBarModel::SetDefaultPos(std::int32_t value)
{
    if (value == m_defaultPos)
        return false;
    m_defaultPos = Clamp(value);
    return true;
}

bool TNiceScrollBarModel::SetDefaultMode(TDefaultModes value)
{
    if (value == m_defaultMode)
        return false;
    m_defaultMode = value;
    return true;
}

bool TNiceScrollBarModel::SetSmallChange(std::int32_t value)
{
    if (value == m_smallChange)
        return false;
    const std::int64_t range = static_cast<std::int64_t>(m_max) - m_min;
    std::int64_t stored = std::max<std::int64_t>(value, 1);
    if (stored > range)
        stored = range;
    m_smallChange = static_cast<std::int32_t>(stored);
    return true;
}

bool TNiceScrollBarModel::SetKind(TScrollBarKind value)
{
    if (value == m_kind)
        return false;
    m_kind = value;
    return true;
}

bool TNiceScrollBarModel::SetButton(TScrollBarKind value)
{
    if (value == m_button)
        return false;
    m_button = value;
    return true;
}

bool TNiceScrollBarModel::SetLabelVisible(bool value)
{
    if (value == m_labelVisible)
        return false;
    m_labelVisible = value;
    return true;
}

TSliderPoint TNiceScrollBarModel::ThumbSize() const
{
    return m_button == sbHorizontal ? TSliderPoint { 24, 12 } : TSliderPoint { 12, 24 };
}

TSliderPoint TNiceScrollBarModel::TrackCenter(
    std::int32_t width, std::int32_t height, std::int32_t textHeight) const
{
    const TSliderPoint thumb = ThumbSize();
    if (LabelVisible())
        return { width / 2, textHeight + (height - thumb.Y - textHeight) / 2 + thumb.Y / 2 };
    return { width / 2, height / 2 };
}

TSliderPoint TNiceScrollBarModel::ThumbOrigin(
    std::int32_t width, std::int32_t height, std::int32_t textHeight) const
{
    const TSliderPoint thumb = ThumbSize();
    const TSliderPoint centre = TrackCenter(width, height, textHeight);
    const std::int64_t range = static_cast<std::int64_t>(m_max) - m_min;
    if (m_kind == sbHorizontal) {
        const std::int64_t x = range == 0
            ? 0
            : (static_cast<std::int64_t>(m_position) - m_min) * (width - thumb.X) / range;
        return { static_cast<std::int32_t>(x), centre.Y - thumb.Y / 2 };
    }
    const std::int64_t y = range == 0
        ? 0
        : (static_cast<std::int64_t>(m_max) - m_position) * (height - thumb.Y) / range;
    return { centre.X - thumb.X / 2, static_cast<std::int32_t>(y) };
}

TSliderPoint TNiceScrollBarModel::LabelAnchor(
    std::int32_t width, std::int32_t height, std::int32_t textHeight) const
{
    const TSliderPoint thumb = ThumbSize();
    const TSliderPoint centre = TrackCenter(width, height, textHeight);
    return { centre.X, centre.Y - thumb.Y / 2 - textHeight };
}

std::int32_t TNiceScrollBarModel::PixelToPosition(
    std::int32_t a, std::int32_t b, std::int32_t width, std::int32_t height) const
{
    if (m_min == m_max)
        return m_min;
    const TSliderPoint thumb = ThumbSize();
    const std::int64_t range = static_cast<std::int64_t>(m_max) - m_min;
    const std::int64_t s = std::max(m_smallChange, 1);
    std::int64_t r;
    if (m_kind == sbHorizontal) {
        // A control no wider than its thumb has no track: every place is Min.
        const std::int64_t track = std::max(width - thumb.X, 1);
        r = m_min + s * ((range * a / s + track / 2) / track);
    } else {
        const std::int64_t track = std::max(height - thumb.Y, 1);
        r = m_max - s * ((range * b / s + track / 2) / track);
    }
    if (r < m_min)
        return m_min;
    if (r > m_max)
        return m_max;
    return static_cast<std::int32_t>(r);
}

} // namespace zx

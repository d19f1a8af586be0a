#pragma once

// The arithmetic of the labelled slider, without any widget: the label template,
// the thumb's place for a position and the position for a thumb place, and the
// clamping rules of the slider's properties. The widget in
// ui/controls/XNiceScrollBarComp.h paints and handles input on top of it.

#include <cstdint>
#include <string>

namespace zx {

// What a double-click does: nothing, return to the position the program last
// set, or return to a fixed default.
enum TDefaultModes : std::int32_t { dmDisabled = 0, dmAuto = 1, dmFixed = 2 };

// The slider's orientation, and separately the thumb's shape.
enum TScrollBarKind : std::int32_t { sbHorizontal = 0, sbVertical = 1 };

// The codes OnScroll receives.
enum TScrollCode : std::int32_t {
    scLineUp = 0, // one step towards Min
    scLineDown = 1, // one step towards Max
    scPosition = 4, // jump to the default position (double-click)
    scTrack = 5, // mouse press or drag
    scEndScroll = 8, // mouse release
};

// The user's locale separators for <#DivN> (UTF-8).
struct TNumberSeparators {
    std::string Decimal = ".";
    std::string Thousands = ",";
};

// Expands a label template: "<#Pos>" is the position, "<#Shl>" 1 shl (position
// and 31), "<#DivN>" position / 10^N with N decimals and thousands grouping,
// "<#MulN>" position x 10^N. Tag names match in any case; anything else, and a
// tag that is not completed, is copied as it stands.
std::string ExpandLabel(
    const std::string& templ, std::int32_t position, const TNumberSeparators& separators = {});

struct TSliderPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    friend bool operator==(const TSliderPoint&, const TSliderPoint&) = default;
};

// The slider's value and range with the setters' clamping rules, and its
// geometry for a control of a given size. Setters return whether they changed
// anything; none of them notifies anybody.
class TNiceScrollBarModel {
public:
    std::int32_t Min() const { return m_min; }
    std::int32_t Max() const { return m_max; }
    std::int32_t Position() const { return m_position; }
    std::int32_t DefaultPos() const { return m_defaultPos; }
    TDefaultModes DefaultMode() const { return m_defaultMode; }
    std::int32_t SmallChange() const { return m_smallChange; }
    TScrollBarKind Kind() const { return m_kind; }
    TScrollBarKind Button() const { return m_button; }
    // The stored flag; the label shows only when it is set and the slider is
    // horizontal.
    bool LabelVisibleFlag() const { return m_labelVisible; }
    bool LabelVisible() const { return m_labelVisible && m_kind == sbHorizontal; }

    // Lowered to Max if above it; then Position is raised to Min if below.
    bool SetMin(std::int32_t value);
    // Raised to Min if below it; then Position is lowered to Max if above.
    bool SetMax(std::int32_t value);
    // Clamped to Min..Max; with dmAuto DefaultPos follows the stored value.
    bool SetPosition(std::int32_t value);
    bool SetDefaultPos(std::int32_t value);
    bool SetDefaultMode(TDefaultModes value);
    // Raised to 1, then lowered to Max - Min. A 0 left by an empty range becomes
    // 1 as soon as Min or Max widens the range, so the mouse arithmetic never
    // divides by 0.
    bool SetSmallChange(std::int32_t value);
    bool SetKind(TScrollBarKind value);
    bool SetButton(TScrollBarKind value);
    bool SetLabelVisible(bool value);

    // Stores v clamped to Min..Max, as the user's actions do; true when the
    // position changed. DefaultPos is left alone.
    bool ChangePosition(std::int32_t v);

    // The thumb: 24 x 12 for a horizontal button, 12 x 24 for a vertical one.
    TSliderPoint ThumbSize() const;
    // The centre of the track; textHeight is the height of "0" in the
    // control's font, used only while the label shows.
    TSliderPoint TrackCenter(
        std::int32_t width, std::int32_t height, std::int32_t textHeight) const;
    // The thumb's top-left corner for the current position.
    TSliderPoint ThumbOrigin(
        std::int32_t width, std::int32_t height, std::int32_t textHeight) const;
    // The label's top centre, directly above the thumb.
    TSliderPoint LabelAnchor(
        std::int32_t width, std::int32_t height, std::int32_t textHeight) const;
    // The position for a wanted thumb origin (a, b), snapped to the grid of
    // SmallChange counted from Min (horizontal) or Max (vertical), clamped.
    std::int32_t PixelToPosition(
        std::int32_t a, std::int32_t b, std::int32_t width, std::int32_t height) const;

private:
    std::int32_t Clamp(std::int32_t value) const;

    std::int32_t m_min = 0;
    std::int32_t m_max = 100;
    std::int32_t m_position = 0;
    std::int32_t m_defaultPos = 0;
    TDefaultModes m_defaultMode = dmDisabled;
    std::int32_t m_smallChange = 1;
    TScrollBarKind m_kind = sbHorizontal;
    TScrollBarKind m_button = sbHorizontal;
    bool m_labelVisible = true;
};

} // namespace zx

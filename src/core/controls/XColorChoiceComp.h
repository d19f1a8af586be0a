#pragma once

// The arithmetic of the colour chooser's chart, without any widget: the
// lightness ramp, the colour a pick at a point gives, and the chart's picture.
// Across (or down) the chart the hue runs backwards from a full turn, so that
// from the start of the hue axis the order is red, magenta, blue, cyan, green,
// yellow, red; the other axis runs from black through the full colour to
// white. The widget in ui/controls/XColorChoiceComp.h shows and picks from it.

#include "core/controls/XColorUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>

namespace zx {

enum TColorChoiceKind : std::int32_t {
    ccHorizontal = 0, // hue across, white along the top, black along the bottom
    ccVertical = 1, // hue down, black on the left, white on the right
};

// A lightness 0..65535 as saturation and brightness: below the middle from
// black up to the full colour, above it from the full colour up to white.
struct TLightness {
    std::uint16_t Saturation = 0;
    std::uint16_t Brightness = 0;
};
TLightness LightnessRamp(std::int32_t lightness);

// The colour of a hue at a lightness.
TColor ChartColor(std::int32_t hue, std::int32_t lightness);

// The colour a pick at (x, y) of a chart of width x height gives; points
// outside are taken at the nearest edge.
TColor ChartPick(
    TColorChoiceKind kind, std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);

// Paints the chart into a 32-bit picture of its size: every pixel, or with
// blocks set 8 x 8 blocks in the colour of their top-left pixel (for screens
// that could not show the smooth field anyway). The hue and the lightness of a
// column and a row come from stepped accumulators, so a pixel can differ a
// little from what a pick there gives. A chart one pixel wide or high steps by
// 0 along that axis.
void PaintChart(TDIB& picture, TColorChoiceKind kind, bool blocks);

// The colour the swatch writes its caption in over a colour: black on light
// colours, white on dark ones.
TColor CaptionColor(TColor color);

} // namespace zx

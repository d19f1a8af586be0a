#pragma once

// The flag settings the frames are rendered with, with each one's range and
// default (the settings table, FlagSettings.h, describes them further). Also the
// values derived from them when the frames are invalidated, and the GIF page's
// loop-count mapping and captions.

#include <cstdint>
#include <string>

namespace zx {

// The frame store has 40 slots; the Frames control is limited to them.
inline constexpr std::int32_t kFrameSlots = 40;

// The flag window's paint area, and with it the frame, stays within these
// bounds; 150 x 97 is its size at first start.
inline constexpr std::int32_t kMinFrameWidth = 16;
inline constexpr std::int32_t kMaxFrameWidth = 320;
inline constexpr std::int32_t kMinFrameHeight = 16;
inline constexpr std::int32_t kMaxFrameHeight = 200;
inline constexpr std::int32_t kDefaultFrameWidth = 150;
inline constexpr std::int32_t kDefaultFrameHeight = 97;

// One control's range and default.
struct TFlagRange {
    std::int32_t Min = 0;
    std::int32_t Max = 0;
    std::int32_t Default = 0;

    constexpr bool Contains(std::int32_t value) const { return value >= Min && value <= Max; }
    constexpr std::int32_t Clamp(std::int32_t value) const
    {
        return value < Min ? Min : (value > Max ? Max : value);
    }
};

inline constexpr TFlagRange kFramesRange { 1, kFrameSlots, 8 };
inline constexpr TFlagRange kDistanceRange { -50, 50, 0 };
// 0 none, 1 = 2x2, 2 = 4x4 samples per pixel.
inline constexpr TFlagRange kAntialiasingRange { 0, 2, 0 };
inline constexpr TFlagRange kAmplitudeRange { 0, 100, 50 };
inline constexpr TFlagRange kFrequencyRange { -100, 100, 50 };
inline constexpr TFlagRange kAngleRange { 0, 360, 15 };
inline constexpr TFlagRange kBumpIntensityRange { 0, 100, 25 };
inline constexpr TFlagRange kBumpFrequencyRange { 0, 100, 25 };
inline constexpr TFlagRange kBrightnessRange { 0, 200, 100 };
inline constexpr TFlagRange kContrastRange { 0, 100, 50 };
inline constexpr TFlagRange kGIFDelayRange { 1, 50, 5 };
inline constexpr TFlagRange kGIFLoopsRange { 0, 101, 0 };
inline constexpr TFlagRange kGIFBitsRange { 3, 8, 8 };
// The pin point in 1024ths of the frame size from its centre. A click in the
// flag window always gives a value in this range.
inline constexpr TFlagRange kSpotRange { -512, 511, 0 };
// A colour value 0x00BBGGRR (red in the low byte).
inline constexpr TFlagRange kColorRange { 0, 0xFFFFFF, 0 };
inline constexpr TFlagRange kBooleanRange { 0, 1, 0 };

struct FlagParameters {
    std::int32_t Frames = kFramesRange.Default;
    std::int32_t Distance = kDistanceRange.Default;
    std::int32_t Antialiasing = kAntialiasingRange.Default;
    std::int32_t Amplitude = kAmplitudeRange.Default;
    std::int32_t Frequency = kFrequencyRange.Default;
    std::int32_t Angle = kAngleRange.Default;
    bool Radial = false;
    std::int32_t BumpIntensity = kBumpIntensityRange.Default;
    std::int32_t BumpFrequency = kBumpFrequencyRange.Default;
    std::int32_t Brightness = kBrightnessRange.Default;
    std::int32_t Contrast = kContrastRange.Default;
    bool InvertLightMode = false;
    bool TransparentMode = true;
    std::uint32_t BackgroundColor = 0;
    std::int32_t GIFDelay = kGIFDelayRange.Default;
    std::int32_t GIFLoops = kGIFLoopsRange.Default;
    std::int32_t GIFBits = kGIFBitsRange.Default;
    std::int32_t SpotX = kSpotRange.Default;
    std::int32_t SpotY = kSpotRange.Default;

    friend bool operator==(const FlagParameters&, const FlagParameters&) = default;
};

// The values the panel stores when it invalidates the frames: the frame size and
// the wave's step per frame pixel along and across the direction of travel.
struct TFlagDerived {
    std::int32_t FrameWidth = kDefaultFrameWidth;
    std::int32_t FrameHeight = kDefaultFrameHeight;
    std::int32_t FreqStep = 0;
    std::int32_t FreqCos = 0;
    std::int32_t FreqSin = 0;

    friend bool operator==(const TFlagDerived&, const TFlagDerived&) = default;
};

// FreqStep = Frequency, FreqCos = FixedCos(Angle x 4096 div 360, Frequency),
// FreqSin = FixedSin(Angle x 4096 div 360, Frequency).
TFlagDerived DeriveFlagValues(
    const FlagParameters& params, std::int32_t frameWidth, std::int32_t frameHeight);

// The phase of frame k in a loop of frames frames: k x 4096 div frames.
std::uint16_t FramePhase(std::int32_t k, std::int32_t frames);

// The GIF loop count for a loop-slider position (0 = repeat for ever):
// 1..50 -> position, 51..95 -> 10 x position - 450 (60..500),
// 96..100 -> 100 x position - 9000 (600..1000), 0 and 101 -> 0. Positions
// outside the slider's range also mean for ever.
std::int32_t LoopCount(std::int32_t position);

// The loop slider's caption: "循环：" + count, or "循环：连续不断" for ever.
std::string LoopsCaption(std::int32_t position);

// The colour-depth slider's caption, "颜色：256 (8 位)" at 8 bits. Bits outside 3..8,
// which the slider cannot hold, are clamped to that range.
std::string BitsCaption(std::int32_t bits);

} // namespace zx

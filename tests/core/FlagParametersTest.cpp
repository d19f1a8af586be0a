#include "core/flag/FlagParameters.h"

#include <gtest/gtest.h>

namespace zx {
namespace {

    TEST(FlagParameters, DefaultsAreTheControlsDefaults)
    {
        const FlagParameters defaults;
        EXPECT_EQ(defaults.Frames, 8);
        EXPECT_EQ(defaults.Amplitude, 50);
        EXPECT_EQ(defaults.Frequency, 50);
        EXPECT_EQ(defaults.Angle, 15);
        EXPECT_EQ(defaults.BumpIntensity, 25);
        EXPECT_EQ(defaults.BumpFrequency, 25);
        EXPECT_EQ(defaults.Brightness, 100);
        EXPECT_EQ(defaults.Contrast, 50);
        EXPECT_EQ(defaults.GIFDelay, 5);
        EXPECT_EQ(defaults.GIFBits, 8);
        EXPECT_TRUE(defaults.TransparentMode);
        EXPECT_FALSE(defaults.InvertLightMode);
        EXPECT_FALSE(defaults.Radial);
        EXPECT_EQ(defaults.BackgroundColor, 0u);
        EXPECT_EQ(kFramesRange.Clamp(100), 40);
        EXPECT_EQ(kFramesRange.Clamp(0), 1);
    }

    TEST(FlagParameters, DerivedWaveStepsAtTheDefaults)
    {
        // Angle 15 degrees is phase 15 x 4096 div 360 = 170.
        const TFlagDerived derived = DeriveFlagValues(FlagParameters {}, 150, 97);
        EXPECT_EQ(derived.FrameWidth, 150);
        EXPECT_EQ(derived.FrameHeight, 97);
        EXPECT_EQ(derived.FreqStep, 50);
        EXPECT_EQ(derived.FreqCos, 48);
        EXPECT_EQ(derived.FreqSin, 12);

        FlagParameters params;
        params.Angle = 90;
        params.Frequency = -100;
        const TFlagDerived turned = DeriveFlagValues(params, 320, 200);
        EXPECT_EQ(turned.FreqStep, -100);
        EXPECT_EQ(turned.FreqCos, 0);
        EXPECT_EQ(turned.FreqSin, -100);
    }

    TEST(FlagParameters, FramePhasesSpanOnePeriod)
    {
        EXPECT_EQ(FramePhase(0, 8), 0);
        EXPECT_EQ(FramePhase(3, 8), 1536);
        EXPECT_EQ(FramePhase(8, 8), 4096);
        EXPECT_EQ(FramePhase(2, 3), 2730);
        EXPECT_EQ(FramePhase(39, 40), 3993);
    }

    TEST(FlagParameters, LoopCountMapsTheSliderPositions)
    {
        EXPECT_EQ(LoopCount(0), 0);
        EXPECT_EQ(LoopCount(1), 1);
        EXPECT_EQ(LoopCount(50), 50);
        EXPECT_EQ(LoopCount(51), 60);
        EXPECT_EQ(LoopCount(95), 500);
        EXPECT_EQ(LoopCount(96), 600);
        EXPECT_EQ(LoopCount(100), 1000);
        EXPECT_EQ(LoopCount(101), 0);
        EXPECT_EQ(LoopCount(-1), 0);
        EXPECT_EQ(LoopCount(102), 0);
    }

    TEST(FlagParameters, GifPageCaptions)
    {
        EXPECT_EQ(LoopsCaption(0), "循环：连续不断");
        EXPECT_EQ(LoopsCaption(101), "循环：连续不断");
        EXPECT_EQ(LoopsCaption(51), "循环：60");
        EXPECT_EQ(LoopsCaption(100), "循环：1000");
        EXPECT_EQ(LoopsCaption(7), "循环：7");
        EXPECT_EQ(BitsCaption(8), "颜色：256 (8 位)");
        EXPECT_EQ(BitsCaption(3), "颜色：8 (3 位)");
    }

} // namespace
} // namespace zx

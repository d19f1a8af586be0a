// The slider's arithmetic: label templates, the thumb's place and the mouse
// position mapping, and the clamping rules of its properties.

#include "core/controls/XNiceScrollBarComp.h"

#include <gtest/gtest.h>

using namespace zx;

TEST(XNiceScrollBarComp, ExpandsTheKnownTagsInAnyCase)
{
    EXPECT_EQ(ExpandLabel("Position: <#Pos>", 42), "Position: 42");
    EXPECT_EQ(ExpandLabel("Position: <#pos>", 42), "Position: 42");
    EXPECT_EQ(ExpandLabel("帧数：<#Pos>", 8), "帧数：8");
    EXPECT_EQ(ExpandLabel("<#Pos>/<#POS>", -7), "-7/-7");
    EXPECT_EQ(ExpandLabel("延迟：<#Mul1> 毫秒", 5), "延迟：50 毫秒");
    EXPECT_EQ(ExpandLabel("<#MUL3>", -2), "-2000");
    // Products beyond 32 bits are shown as they are, not wrapped.
    EXPECT_EQ(ExpandLabel("<#Mul9>", 5), "5000000000");
    EXPECT_EQ(ExpandLabel("<#Shl>", 8), "256");
    EXPECT_EQ(ExpandLabel("<#shl>", 31), "-2147483648");
    EXPECT_EQ(ExpandLabel("<#Shl>", 33), "2"); // only the low five bits count
    EXPECT_EQ(ExpandLabel("no tags", 3), "no tags");
}

TEST(XNiceScrollBarComp, FormatsDivWithTheLocaleSeparators)
{
    EXPECT_EQ(ExpandLabel("<#Div1>", 25), "2.5");
    EXPECT_EQ(ExpandLabel("<#Div1>", 12345), "1,234.5");
    EXPECT_EQ(ExpandLabel("<#Div0>", 1234567), "1,234,567");
    EXPECT_EQ(ExpandLabel("<#Div3>", 5), "0.005");
    EXPECT_EQ(ExpandLabel("<#Div1>", -5), "-0.5");
    EXPECT_EQ(ExpandLabel("<#Div2>", -123456), "-1,234.56");
    EXPECT_EQ(ExpandLabel("<#div9>", 2147483647), "2.147483647");
    const TNumberSeparators german { ",", "." };
    EXPECT_EQ(ExpandLabel("<#Div1>", 12345, german), "1.234,5");
    const TNumberSeparators french { ",", "\u202f" };
    EXPECT_EQ(ExpandLabel("<#Div2>", 123456, french), "1\u202f234,56");
}

TEST(XNiceScrollBarComp, CopiesUnknownAndIncompleteTagsAsText)
{
    EXPECT_EQ(ExpandLabel("a<#xyz>b", 1), "a<#xyz>b");
    EXPECT_EQ(ExpandLabel("abc<#", 1), "abc<#");
    EXPECT_EQ(ExpandLabel("abc<#Po", 1), "abc<#Po");
    EXPECT_EQ(ExpandLabel("<#Pos", 1), "<#Pos");
    EXPECT_EQ(ExpandLabel("<#Posx>", 1), "<#Posx>");
    EXPECT_EQ(ExpandLabel("<#Mul>", 1), "<#Mul>");
    EXPECT_EQ(ExpandLabel("<#MulX>", 1), "<#MulX>");
    EXPECT_EQ(ExpandLabel("<#Mul12>", 1), "<#Mul12>");
    // A broken marker does not hide a good tag right after it.
    EXPECT_EQ(ExpandLabel("<#<#Pos>", 9), "<#9");
    EXPECT_EQ(ExpandLabel("<#Po<#Pos>", 9), "<#Po9");
}

TEST(XNiceScrollBarComp, PlacesTheThumbAndSnapsTheMouseToTheGrid)
{
    // A horizontal slider 136 wide from -100 to 100 in steps of 2.
    TNiceScrollBarModel model;
    model.SetMin(-100);
    model.SetSmallChange(2);
    model.SetPosition(-100);
    EXPECT_EQ(model.ThumbOrigin(136, 32, 13).X, 0);
    model.SetPosition(100);
    EXPECT_EQ(model.ThumbOrigin(136, 32, 13).X, 112);
    model.SetPosition(0);
    EXPECT_EQ(model.ThumbOrigin(136, 32, 13).X, 56);
    for (std::int32_t a = -30; a <= 150; ++a) {
        const std::int32_t p = model.PixelToPosition(a, 0, 136, 32);
        EXPECT_EQ(p % 2, 0) << "at " << a;
        EXPECT_GE(p, -100);
        EXPECT_LE(p, 100);
    }
    EXPECT_EQ(model.PixelToPosition(-50, 0, 136, 32), -100);
    EXPECT_EQ(model.PixelToPosition(500, 0, 136, 32), 100);
    EXPECT_EQ(model.PixelToPosition(56, 0, 136, 32), 0);
}

TEST(XNiceScrollBarComp, VerticalSlidersPutMaxAtTheTop)
{
    TNiceScrollBarModel model;
    model.SetKind(sbVertical);
    model.SetButton(sbVertical);
    model.SetPosition(100);
    EXPECT_EQ(model.ThumbOrigin(32, 124, 13), (TSliderPoint { 10, 0 }));
    model.SetPosition(0);
    EXPECT_EQ(model.ThumbOrigin(32, 124, 13), (TSliderPoint { 10, 100 }));
    EXPECT_EQ(model.PixelToPosition(0, 0, 32, 124), 100);
    EXPECT_EQ(model.PixelToPosition(0, 100, 32, 124), 0);
    EXPECT_EQ(model.PixelToPosition(0, 50, 32, 124), 50);
    // The label never shows on a vertical slider, whatever the flag says.
    EXPECT_TRUE(model.LabelVisibleFlag());
    EXPECT_FALSE(model.LabelVisible());
}

TEST(XNiceScrollBarComp, TheLabelSitsAboveTheThumb)
{
    TNiceScrollBarModel model;
    // cy = th + (H - h - th) div 2 + h div 2 = 13 + 3 + 6.
    EXPECT_EQ(model.TrackCenter(120, 32, 13), (TSliderPoint { 60, 22 }));
    EXPECT_EQ(model.ThumbOrigin(120, 32, 13).Y, 16);
    EXPECT_EQ(model.LabelAnchor(120, 32, 13), (TSliderPoint { 60, 3 }));
    model.SetLabelVisible(false);
    EXPECT_EQ(model.TrackCenter(120, 32, 13), (TSliderPoint { 60, 16 }));
}

TEST(XNiceScrollBarComp, SettersClampAsTheControlDoes)
{
    TNiceScrollBarModel model;
    EXPECT_TRUE(model.SetPosition(500));
    EXPECT_EQ(model.Position(), 100);
    EXPECT_EQ(model.DefaultPos(), 0); // not dmAuto

    TNiceScrollBarModel automatic;
    automatic.SetDefaultMode(dmAuto);
    automatic.SetPosition(500);
    EXPECT_EQ(automatic.DefaultPos(), 100);

    model.SetSmallChange(0);
    EXPECT_EQ(model.SmallChange(), 1);
    model.SetMax(20);
    EXPECT_EQ(model.Position(), 20); // lowered with Max
    model.SetSmallChange(50);
    EXPECT_EQ(model.SmallChange(), 20);

    // Min above Max is lowered to Max; Max below Min is raised to Min.
    model.SetMin(30);
    EXPECT_EQ(model.Min(), 20);
    model.SetMax(-5);
    EXPECT_EQ(model.Max(), 20);
    EXPECT_EQ(model.Position(), 20);
    EXPECT_EQ(model.PixelToPosition(77, 0, 120, 32), 20); // Min = Max
    EXPECT_EQ(model.ThumbOrigin(120, 32, 13).X, 0);

    // The empty range clamped SmallChange to 0; widening it brings back a step.
    model.SetSmallChange(5);
    EXPECT_EQ(model.SmallChange(), 0);
    model.SetMax(60);
    EXPECT_EQ(model.SmallChange(), 1);
    EXPECT_EQ(model.PixelToPosition(96, 0, 120, 32), 60);

    // Neither Min nor Max re-clamps DefaultPos.
    TNiceScrollBarModel defaults;
    defaults.SetDefaultPos(90);
    defaults.SetMax(50);
    EXPECT_EQ(defaults.DefaultPos(), 90);
    EXPECT_FALSE(defaults.SetDefaultPos(90));
    defaults.SetDefaultPos(95);
    EXPECT_EQ(defaults.DefaultPos(), 50);
}

// The flag model: what each kind of change invalidates, the lighting table and
// the derived values following the parameters, the texture item, and frames
// rendered through it exactly as the renderer renders them.

#include "core/flag/FlagModel.h"

#include "core/imaging/DefaultImage.h"

#include <cstring>
#include <gtest/gtest.h>

namespace zx {
namespace {

    TDIB DefaultPicture()
    {
        TDIB picture;
        LoadDefaultImage(picture);
        return picture;
    }

    bool SamePixels(const TDIB& a, const TDIB& b)
    {
        if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
            return false;
        for (std::int32_t y = 0; y < a.Height(); ++y) {
            if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), std::size_t(a.RowBytes())) != 0)
                return false;
        }
        return true;
    }

    // A model with the built-in picture and all eight frames rendered.
    struct TRenderedModel {
        TFlagModel Model;
        int Invalidations = 0;

        TRenderedModel()
        {
            Model.OnInvalidate = [this] { ++Invalidations; };
            Model.SetTexture(DefaultPicture(), TDIB());
            Model.PrepareTexture();
            Model.InvalidateFrames();
            RenderAll();
            Invalidations = 0;
        }
        void RenderAll()
        {
            for (std::uint16_t k = 0; k < 8; ++k)
                Model.RenderSlot(k, FramePhase(k, 8));
        }
        int Rendered() const
        {
            int count = 0;
            for (std::int32_t k = 0; k < kFrameSlots; ++k)
                count += Model.FrameRendered(k) ? 1 : 0;
            return count;
        }
    };

    TEST(FlagModel, EachKindOfChangeInvalidatesWhatItMust)
    {
        TRenderedModel flag;
        ASSERT_EQ(flag.Rendered(), 8);
        FlagParameters params = flag.Model.Parameters();

        // The GIF settings change what is saved only.
        params.GIFBits = 4;
        flag.Model.ChangeParameters(params, TSettingEffect::None);
        EXPECT_EQ(flag.Rendered(), 8);
        EXPECT_EQ(flag.Model.Parameters().GIFBits, 4);
        EXPECT_EQ(flag.Invalidations, 0);

        // A colour not seen on a transparent flag changes nothing either.
        params.BackgroundColor = 0x123456;
        flag.Model.ChangeParameters(params, TSettingEffect::RerenderOpaque);
        EXPECT_EQ(flag.Rendered(), 8);
        EXPECT_EQ(flag.Model.Parameters().BackgroundColor, 0x123456u);

        params.TransparentMode = false;
        flag.Model.ChangeParameters(params, TSettingEffect::Rerender);
        EXPECT_EQ(flag.Rendered(), 0);
        EXPECT_EQ(flag.Invalidations, 1);
        flag.RenderAll();
        params.BackgroundColor = 0x654321;
        flag.Model.ChangeParameters(params, TSettingEffect::RerenderOpaque);
        EXPECT_EQ(flag.Rendered(), 0);

        // The wave's steps follow the parameters at every invalidation.
        const TLightTable light = flag.Model.LightTable();
        params.Angle = 90;
        params.Frequency = -100;
        flag.Model.ChangeParameters(params, TSettingEffect::Rerender);
        EXPECT_EQ(flag.Model.Derived(), DeriveFlagValues(params, 150, 97));
        EXPECT_EQ(flag.Model.LightTable(), light);

        // The light rebuilds the lighting table first.
        params.Brightness = 170;
        params.InvertLightMode = true;
        flag.Model.ChangeParameters(params, TSettingEffect::Relight);
        EXPECT_EQ(flag.Model.LightTable(), BuildLightTable(170, 50, true));
        EXPECT_EQ(flag.Invalidations, 4);
    }

    TEST(FlagModel, SettingEverythingRebuildsTheLightAndTheSize)
    {
        TRenderedModel flag;
        FlagParameters params;
        params.Contrast = 10;
        flag.Model.SetParameters(params);
        EXPECT_EQ(flag.Model.LightTable(), BuildLightTable(100, 10, false));
        EXPECT_EQ(flag.Rendered(), 0);

        flag.RenderAll();
        flag.Model.SetFrameSize(320, 16);
        EXPECT_EQ(flag.Rendered(), 0);
        EXPECT_EQ(flag.Model.Derived().FrameWidth, 320);
        EXPECT_EQ(flag.Model.Derived().FrameHeight, 16);
        flag.Model.RenderSlot(0, 0);
        EXPECT_EQ(flag.Model.FrameStore().FrameBitmaps[0].Width(), 320);
        EXPECT_EQ(flag.Model.FrameStore().FrameBitmaps[0].Height(), 16);
        EXPECT_FALSE(flag.Model.FrameRendered(-1));
        EXPECT_FALSE(flag.Model.FrameRendered(kFrameSlots));
    }

    TEST(FlagModel, TheTextureItemIsMadeOnceAndPreparedWithTheText)
    {
        TFlagModel model;
        EXPECT_EQ(model.Texture(), nullptr);
        // Nothing to render yet, and nothing happens.
        model.RenderSlot(0, 0);
        EXPECT_FALSE(model.FrameRendered(0));

        TDIB eight;
        eight.SetSize(4, 3, 8);
        eight.ScanLine(1)[2] = 200;
        model.SetTexture(eight, TDIB());
        const TTextureItem* item = model.Texture();
        ASSERT_NE(item, nullptr);
        int painted = 0;
        model.PrepareTexture([&](TDIB& prepared) {
            ++painted;
            EXPECT_EQ(prepared.BitCount(), 24);
            prepared.ScanLine(0)[0] = 77;
        });
        EXPECT_EQ(painted, 1);
        EXPECT_EQ(item->Prepared.BitCount(), 24);
        EXPECT_EQ(item->Prepared.Width(), 4);
        EXPECT_EQ(item->Prepared.ConstScanLine(0)[0], 77);
        // The source stays the picture as loaded.
        EXPECT_EQ(item->Source.BitCount(), 8);
        EXPECT_EQ(item->Source.ConstScanLine(0)[0], 0);

        // A new picture replaces the item's content, not the item.
        TDIB alpha;
        alpha.SetSize(150, 100, 8);
        model.SetTexture(DefaultPicture(), alpha);
        EXPECT_EQ(model.Texture(), item);
        EXPECT_EQ(item->Alpha.Width(), 150);
        model.PrepareTexture();
        EXPECT_EQ(item->Prepared.Width(), 150);
    }

    TEST(FlagModel, FramesAreTheRenderersOwn)
    {
        FlagParameters params;
        params.Antialiasing = 1;
        params.SpotX = 200;
        params.Radial = true;
        TFlagModel model;
        model.SetFrameSize(120, 90);
        model.SetParameters(params);
        model.SetTexture(DefaultPicture(), TDIB());
        model.PrepareTexture();
        std::string status;
        model.RenderSlot(3, FramePhase(3, 8), [&](const std::string& text) { status = text; });
        EXPECT_EQ(status, "正在渲染 帧 #4");

        TFrameStore direct;
        RenderFrame(direct, 3, FramePhase(3, 8), params, DeriveFlagValues(params, 120, 90),
            model.Texture()->Prepared, TDIB(), BuildLightTable(100, 50, false));
        EXPECT_TRUE(SamePixels(model.FrameStore().FrameBitmaps[3], direct.FrameBitmaps[3]));
        EXPECT_TRUE(SamePixels(model.FrameStore().FrameMasks[3], direct.FrameMasks[3]));
        EXPECT_EQ(model.FrameStore().FrameTransparent[3], direct.FrameTransparent[3]);
    }

} // namespace
} // namespace zx

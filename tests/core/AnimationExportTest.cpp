// The export's side of the animation writers: the format a name asks for, and
// the frames with their alpha planes gathered from the frame store.

#include "core/gif/AnimationExport.h"

#include "core/Errors.h"
#include "core/flag/LightTable.h"
#include "core/imaging/DefaultImage.h"

#include <gtest/gtest.h>
#include <vector>

namespace zx {
namespace {

    TEST(AnimationExport, TheNameGivesTheFormat)
    {
        EXPECT_EQ(AnimationFormatOfName("flag.gif"), TAnimationFormat::Gif);
        EXPECT_EQ(AnimationFormatOfName("/a/b/Flag.GIF"), TAnimationFormat::Gif);
        EXPECT_EQ(AnimationFormatOfName("flag.WebP"), TAnimationFormat::WebP);
        EXPECT_EQ(AnimationFormatOfName("flag.png"), TAnimationFormat::APNG);
        EXPECT_EQ(AnimationFormatOfName("flag.tar.apng"), TAnimationFormat::APNG);
        EXPECT_EQ(AnimationFormatOfName("flag.webp.bak"), std::nullopt);
        EXPECT_EQ(AnimationFormatOfName("pictures.webp/flag"), std::nullopt);
        EXPECT_EQ(AnimationFormatOfName("flag"), std::nullopt);
        EXPECT_EQ(AnimationFormatOfName("flag.pn"), std::nullopt);
        EXPECT_STREQ(AnimationFormatName(TAnimationFormat::APNG), "APNG");
    }

    class GatherAnimation : public ::testing::Test {
    protected:
        void SetUp() override
        {
            LoadDefaultImage(m_texture);
            m_params.Antialiasing = 1;
            m_params.Distance = 40;
        }
        void Render(std::int32_t k, std::uint16_t phase)
        {
            const TFlagDerived derived = DeriveFlagValues(m_params, 80, 50);
            const TLightTable light
                = BuildLightTable(m_params.Brightness, m_params.Contrast, m_params.InvertLightMode);
            RenderFrame(
                m_store, static_cast<std::uint16_t>(k), phase, m_params, derived, m_texture, light);
            m_rendered.push_back(k);
        }
        TExportAnimation Gather(std::int32_t count)
        {
            return GatherExportAnimation(
                m_store, count, [this](std::int32_t k, std::uint16_t phase) { Render(k, phase); });
        }

        TDIB m_texture;
        FlagParameters m_params;
        TFrameStore m_store;
        std::vector<std::int32_t> m_rendered;
    };

    TEST_F(GatherAnimation, TransparentFramesGetTheirMaskAsAlpha)
    {
        m_params.TransparentMode = true;
        Render(1, FramePhase(1, 3)); // already there: not rendered again
        m_rendered.clear();
        const TExportAnimation animation = Gather(3);
        EXPECT_EQ(m_rendered, (std::vector<std::int32_t> { 0, 2 }));
        ASSERT_EQ(animation.Frames.size(), 3u);
        ASSERT_EQ(animation.Alpha.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) {
            const TDIB& mask = m_store.FrameMasks[k];
            const TDIB& alpha = animation.Alpha[k];
            ASSERT_EQ(alpha.Width(), 80);
            ASSERT_EQ(alpha.Height(), 50);
            EXPECT_EQ(alpha.BitCount(), 8);
            std::int32_t clear = 0;
            for (std::int32_t y = 0; y < 50; ++y)
                for (std::int32_t x = 0; x < 80; ++x) {
                    const std::uint32_t a = alpha.Pixel(x, y);
                    EXPECT_EQ(a, mask.Pixel(x, y) == 255 ? 0u : 255u) << x << "," << y;
                    clear += a == 0;
                    EXPECT_EQ(animation.Frames[k].Pixel(x, y), m_store.FrameBitmaps[k].Pixel(x, y));
                }
            EXPECT_GT(clear, 0);
            EXPECT_LT(clear, 80 * 50);
        }
        const TAnimationFrames view = animation.View(7, 101);
        EXPECT_EQ(view.Delay, 7);
        EXPECT_EQ(view.Loops, 101);
        EXPECT_EQ(view.Frames.size(), 3u);
        EXPECT_TRUE(FrameIsTranslucent(view, 2));
    }

    TEST_F(GatherAnimation, OpaqueFramesHaveNoPlaneAndCountsAreChecked)
    {
        m_params.TransparentMode = false;
        const TExportAnimation animation = Gather(2);
        ASSERT_EQ(animation.Alpha.size(), 2u);
        EXPECT_TRUE(animation.Alpha[0].Empty());
        EXPECT_TRUE(animation.Alpha[1].Empty());
        EXPECT_EQ(FrameAlpha(animation.View(5, 0), 0), nullptr);
        EXPECT_THROW(Gather(0), EInvalidGraphicOperation);
        EXPECT_THROW(Gather(kFrameSlots + 1), EInvalidGraphicOperation);
        EXPECT_THROW(
            SaveAnimationFile(TAnimationFormat::Gif, "/nonexistent/x.gif", animation.View(5, 0)),
            EInvalidGraphicOperation);
    }

} // namespace
} // namespace zx

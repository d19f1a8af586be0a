// The playback tick: rendering one stale frame at a time while the display
// follows the render cursor, cycling once all frames are there, doing nothing
// but the status while busy, stepping while paused, and the pin counted down by
// presented frames alone.

#include "core/flag/FlagPlayback.h"

#include "core/imaging/DefaultImage.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zx {
namespace {

    struct TPlayer {
        TFlagModel Model;
        TFlagPlayback Playback;
        std::vector<std::string> Status;

        explicit TPlayer(std::int32_t frames = 8)
        {
            TDIB picture;
            LoadDefaultImage(picture);
            Model.SetTexture(picture, TDIB());
            Model.PrepareTexture();
            FlagParameters params;
            params.Frames = frames;
            Model.SetParameters(params);
        }
        void Tick(int n = 1)
        {
            for (int i = 0; i < n; ++i)
                Playback.Tick(Model, [this](const std::string& text) { Status.push_back(text); });
        }
        int Rendered() const
        {
            int count = 0;
            for (std::int32_t k = 0; k < kFrameSlots; ++k)
                count += Model.FrameRendered(k) ? 1 : 0;
            return count;
        }
    };

    TEST(FlagPlayback, TheDisplayFollowsTheRenderingThenCycles)
    {
        TPlayer player;
        player.Tick();
        EXPECT_EQ(player.Rendered(), 1);
        EXPECT_EQ(player.Status.back(), "正在渲染 帧 #1");
        EXPECT_EQ(player.Playback.ShownFrame(), 0);
        EXPECT_EQ(player.Playback.RenderCursor(), 1);
        player.Tick(7);
        EXPECT_EQ(player.Rendered(), 8);
        EXPECT_EQ(player.Playback.ShownFrame(), 7);
        EXPECT_EQ(player.Playback.RenderCursor(), 0);
        // All there: one frame a tick, and the status names the frame shown
        // when the tick began.
        player.Tick();
        EXPECT_EQ(player.Playback.ShownFrame(), 0);
        EXPECT_EQ(player.Status.back(), "正在显示的帧序号 #8");
        player.Tick();
        EXPECT_EQ(player.Playback.ShownFrame(), 1);
        EXPECT_EQ(player.Status.back(), "正在显示的帧序号 #1");
        EXPECT_EQ(player.Rendered(), 8);
    }

    TEST(FlagPlayback, WhileBusyOnlyTheStatusIsShown)
    {
        TPlayer player;
        player.Tick(3);
        player.Model.InvalidateFrames();
        player.Playback.SetBusyBits(bfPaused | bfDialog);
        player.Tick(4);
        EXPECT_EQ(player.Rendered(), 0);
        EXPECT_EQ(player.Status.back(), "帧序号 #3 无效。");
        EXPECT_EQ(player.Playback.RenderCursor(), 3);
        player.Playback.ClearBusyBits(bfDialog);
        player.Tick();
        EXPECT_EQ(player.Rendered(), 0);
        player.Playback.ClearBusyBits(bfPaused);
        EXPECT_EQ(player.Playback.BusyFlags(), 0);
        player.Tick();
        EXPECT_EQ(player.Rendered(), 1);
        EXPECT_TRUE(player.Model.FrameRendered(3));
    }

    TEST(FlagPlayback, FewerFramesRenderTheOldCursorSlotOnce)
    {
        TPlayer player;
        player.Tick(6);
        ASSERT_EQ(player.Playback.RenderCursor(), 6);
        FlagParameters params = player.Model.Parameters();
        params.Frames = 3;
        player.Model.ChangeParameters(params, TSettingEffect::Rerender);
        player.Tick();
        // Slot 6 with the phase 6 x 4096 div 3, which is 0 modulo 4096.
        EXPECT_TRUE(player.Model.FrameRendered(6));
        EXPECT_EQ(player.Playback.RenderCursor(), 1);
        player.Model.RenderSlot(0, 0);
        EXPECT_EQ(std::memcmp(player.Model.FrameStore().FrameBitmaps[6].ConstBits(),
                      player.Model.FrameStore().FrameBitmaps[0].ConstBits(),
                      std::size_t(player.Model.FrameStore().FrameBitmaps[0].Size())),
            0);
    }

    TEST(FlagPlayback, StepsWrapAroundTheLoop)
    {
        TPlayer player(5);
        player.Playback.StepBack(5);
        EXPECT_EQ(player.Playback.ShownFrame(), 4);
        player.Playback.StepForward(5);
        EXPECT_EQ(player.Playback.ShownFrame(), 0);
        player.Playback.StepForward(5);
        EXPECT_EQ(player.Playback.ShownFrame(), 1);
    }

    TEST(FlagPlayback, OnlyPresentedValidFramesCountThePinDown)
    {
        TPlayer player;
        player.Playback.ShowPin();
        // A blank shows no pin and does not count.
        TFramePresentation shown = player.Playback.Present(player.Model);
        EXPECT_EQ(shown.Frame, nullptr);
        EXPECT_FALSE(shown.Pin);
        EXPECT_EQ(player.Playback.PinCountdown(), kPinPaints);
        for (int i = 0; i < kPinPaints; ++i) {
            player.Tick();
            shown = player.Playback.Present(player.Model);
            EXPECT_TRUE(shown.Pin) << i;
            ASSERT_NE(shown.Frame, nullptr);
            EXPECT_EQ(shown.Frame,
                &player.Model.FrameStore().FrameBitmaps[std::size_t(player.Playback.ShownFrame())]);
        }
        player.Tick();
        EXPECT_FALSE(player.Playback.Present(player.Model).Pin);
        EXPECT_EQ(player.Playback.PinCountdown(), 0);
    }

    TEST(FlagPlayback, AFailedRenderMovesNothing)
    {
        TPlayer player;
        player.Tick(2);
        // A distance the renderer refuses.
        FlagParameters params = player.Model.Parameters();
        params.Distance = 99;
        player.Model.ChangeParameters(params, TSettingEffect::Rerender);
        EXPECT_THROW(player.Tick(), std::exception);
        EXPECT_EQ(player.Playback.RenderCursor(), 2);
        EXPECT_EQ(player.Playback.ShownFrame(), 1);
        player.Playback.Reset();
        EXPECT_EQ(player.Playback.RenderCursor(), 0);
        EXPECT_EQ(player.Playback.ShownFrame(), 0);
        EXPECT_EQ(player.Playback.BusyFlags(), 0);
    }

} // namespace
} // namespace zx

// The list of running animation painters a TGIFImage keeps: every operation
// that changes or drops pixels asks the registered painters to stop first,
// and the merge does so holding the list's lock.

#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

namespace zx {
namespace {

    // Records its stops and whether the image's painter lock was held at
    // the time (asked from another thread, as the owner may not try a lock
    // it holds).
    class TRecordingPainter : public TGIFPainterLink {
    public:
        explicit TRecordingPainter(TGIFImage* image)
            : m_image(image)
        {
        }
        void Stop() override
        {
            ++Stops;
            bool locked = false;
            std::thread probe([&] {
                std::unique_lock lock(m_image->PainterLock(), std::try_to_lock);
                locked = !lock.owns_lock();
            });
            probe.join();
            LockHeld = LockHeld && locked;
        }
        std::atomic<int> Stops = 0;
        bool LockHeld = true;

    private:
        TGIFImage* m_image;
    };

    // Two frames of 4 x 2 with local tables, the way the export adds them.
    std::unique_ptr<TGIFImage> TwoFrames()
    {
        auto gif = std::make_unique<TGIFImage>();
        for (int k = 0; k < 2; ++k) {
            TDIB bitmap;
            bitmap.SetSize(4, 2, 8);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 4; ++x)
                    bitmap.ScanLine(y)[x] = static_cast<std::uint8_t>(x + k);
            gif->AddFrame(bitmap);
        }
        return gif;
    }

} // namespace

TEST(XGIFUnitPainters, MergeStopsRegisteredPaintersUnderTheLock)
{
    auto gif = TwoFrames();
    TRecordingPainter painter(gif.get());
    gif->RegisterPainter(&painter);
    gif->MergeColourMaps();
    EXPECT_EQ(painter.Stops, 1);
    EXPECT_TRUE(painter.LockHeld);
    gif->UnregisterPainter(&painter);
}

TEST(XGIFUnitPainters, ClearLoadAndDestructionStopPainters)
{
    auto gif = TwoFrames();
    const std::vector<std::uint8_t> bytes = gif->SaveToBytes(1);
    TRecordingPainter painter(gif.get());
    gif->RegisterPainter(&painter);

    gif->Clear();
    EXPECT_EQ(painter.Stops, 1);
    TMemoryStream stream(bytes);
    gif->LoadFromStream(stream);
    EXPECT_EQ(painter.Stops, 2);
    EXPECT_EQ(gif->Images().Count(), 2);
    gif.reset();
    EXPECT_EQ(painter.Stops, 3);
    EXPECT_TRUE(painter.LockHeld);
}

TEST(XGIFUnitPainters, OnlyRegisteredPaintersAreStopped)
{
    auto gif = TwoFrames();
    TRecordingPainter first(gif.get());
    TRecordingPainter second(gif.get());
    gif->RegisterPainter(&first);
    gif->RegisterPainter(&second);
    gif->UnregisterPainter(&first);
    gif->StopPainters();
    EXPECT_EQ(first.Stops, 0);
    EXPECT_EQ(second.Stops, 1);
    gif->UnregisterPainter(&second);
    gif->StopPainters();
    EXPECT_EQ(second.Stops, 1);
}

TEST(XGIFUnitPainters, PaintersComeAndGoWhileOthersAreStopped)
{
    // Painters of other threads register and leave while the image stops
    // its painters over and over; the list stays consistent (and a thread
    // checker sees every access under the lock).
    auto gif = TwoFrames();
    class TCounting : public TGIFPainterLink {
    public:
        void Stop() override { ++Stops; }
        std::atomic<int> Stops = 0;
    };
    std::vector<std::unique_ptr<TCounting>> painters;
    for (int i = 0; i < 4; ++i)
        painters.push_back(std::make_unique<TCounting>());
    std::atomic<bool> done = false;
    std::vector<std::thread> threads;
    for (auto& painter : painters)
        threads.emplace_back([&, p = painter.get()] {
            for (int round = 0; round < 2000; ++round) {
                gif->RegisterPainter(p);
                gif->UnregisterPainter(p);
            }
        });
    std::thread stopper([&] {
        while (!done)
            gif->StopPainters();
    });
    for (auto& thread : threads)
        thread.join();
    done = true;
    stopper.join();
    // All have left: nobody is stopped any more.
    std::vector<int> before;
    for (auto& painter : painters)
        before.push_back(painter->Stops);
    gif->StopPainters();
    for (std::size_t i = 0; i < painters.size(); ++i)
        EXPECT_EQ(painters[i]->Stops, before[i]);
}

} // namespace zx

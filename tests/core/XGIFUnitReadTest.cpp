// The GIF reader, frame bitmaps and the ".GIF" road of picture loading.

#include "GIFTestUtil.h"
#include "ManifestTestUtil.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>

namespace zx {
namespace {

    using namespace gif_test;

    const std::vector<TGIFColor> kFour
        = { { 0, 0, 0 }, { 255, 0, 0 }, { 0, 255, 0 }, { 0, 0, 255 } };

    struct TLoaded {
        std::unique_ptr<TGIFImage> Gif = std::make_unique<TGIFImage>();
        std::shared_ptr<std::vector<std::string>> Warnings
            = std::make_shared<std::vector<std::string>>();
    };

    TLoaded Load(const Bytes& bytes)
    {
        TLoaded loaded;
        loaded.Gif->OnWarning = [w = loaded.Warnings](const std::string& m) { w->push_back(m); };
        TSpanStream stream(bytes);
        loaded.Gif->LoadFromStream(stream);
        return loaded;
    }

    std::string LoadError(const Bytes& bytes)
    {
        try {
            Load(bytes);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(loaded)";
    }

    std::vector<std::uint8_t> Pixels(const TGIFSubImage& frame)
    {
        return std::vector<std::uint8_t>(frame.Data().begin(), frame.Data().end());
    }

    // A 4 x 3 picture with a 2-bit global table: the baseline file.
    Bytes Baseline(const char* signature = "GIF89a")
    {
        Bytes out = GifHeader(4, 3, kFour, 2, signature);
        AppendDescriptor(out, 0, 0, 4, 3);
        Append(out, NaiveLzw({ 0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2 }, 2));
        out.push_back(0x3B);
        return out;
    }
    const std::vector<std::uint8_t> kBaselinePixels = { 0, 1, 2, 3, 3, 2, 1, 0, 1, 1, 2, 2 };

    TEST(TGIFReader, SignatureIsComparedUpperCasedAndTriedAgainFourBytesOn)
    {
        for (const char* signature : { "GIF89a", "gif89a", "GIF87a", "GIF00a", "Gif9xx" }) {
            const TLoaded loaded = Load(Baseline(signature));
            ASSERT_EQ(loaded.Gif->Images().Count(), 1) << signature;
            EXPECT_EQ(Pixels(loaded.Gif->Images()[0]), kBaselinePixels) << signature;
            EXPECT_TRUE(loaded.Warnings->empty());
        }
        Bytes junk = { 0xDE, 0xAD, 0xBE, 0xEF };
        Append(junk, Baseline());
        EXPECT_EQ(Pixels(Load(junk).Gif->Images()[0]), kBaselinePixels);

        Bytes five = { 1, 2, 3, 4, 5 };
        Append(five, Baseline());
        EXPECT_EQ(LoadError(five), "无效的 GIF 标识信号");
        EXPECT_EQ(LoadError({ 'P', 'N', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0 }), "无效的 GIF 标识信号");
        EXPECT_EQ(LoadError({}), "过早的数据末端");
        EXPECT_EQ(LoadError({ 'G', 'I', 'F' }), "过早的数据末端");
    }

    TEST(TGIFReader, ShortFixedFieldsRaisePrematureEnd)
    {
        const Bytes full = Baseline();
        // Inside the screen descriptor, the global table and the image descriptor.
        for (const std::size_t cut : { 8u, 12u, 14u, 24u, 26u, 30u })
            EXPECT_EQ(
                LoadError(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut))),
                "过早的数据末端")
                << cut;
    }

    TEST(TGIFReader, TrailerMayBeMissingButAStrangeOneIsReported)
    {
        Bytes noTrailer = Baseline();
        noTrailer.pop_back();
        TLoaded loaded = Load(noTrailer);
        EXPECT_EQ(Pixels(loaded.Gif->Images()[0]), kBaselinePixels);
        EXPECT_TRUE(loaded.Warnings->empty());

        Bytes strange = Baseline();
        strange.back() = 0x55;
        loaded = Load(strange);
        EXPECT_EQ(loaded.Gif->Images().Count(), 1);
        EXPECT_EQ(*loaded.Warnings,
            (std::vector<std::string> { "未知 GIF 数据块类型", "无效的图像尾部" }));
    }

    TEST(TGIFReader, TruncatedDataKeepsTheFillValue)
    {
        // Transparent frame with index 3: the pixels after the cut are 3; a
        // control extension without the transparent bit fills with 0.
        for (const bool transparent : { true, false }) {
            Bytes out = GifHeader(4, 2, kFour);
            AppendGce(out, transparent, 3);
            AppendDescriptor(out, 0, 0, 4, 2);
            // Four pixels of two 3-bit codes each end exactly on a byte.
            Append(out, NaiveLzw({ 1, 2, 1, 2 }, 2, false, false));
            const TLoaded loaded = Load(out);
            const std::uint8_t fill = transparent ? 3 : 0;
            EXPECT_EQ(Pixels(loaded.Gif->Images()[0]),
                (std::vector<std::uint8_t> { 1, 2, 1, 2, fill, fill, fill, fill }));
            EXPECT_EQ(loaded.Gif->Images()[0].Transparent(), transparent);
        }
        // The stream ends right after the descriptor: nothing decoded at all.
        Bytes out = GifHeader(2, 2, kFour);
        AppendGce(out, true, 2);
        AppendDescriptor(out, 0, 0, 2, 2);
        EXPECT_EQ(Pixels(Load(out).Gif->Images()[0]), (std::vector<std::uint8_t> { 2, 2, 2, 2 }));
    }

    TEST(TGIFReader, InterlacedFramesFillEveryRowOnce)
    {
        // Rows are coded 0, 8, 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, 5, ...
        const std::pair<int, std::vector<std::uint8_t>> cases[] = {
            { 1, { 10 } },
            { 2, { 10, 11 } },
            { 5, { 10, 13, 12, 14, 11 } },
            { 9, { 10, 15, 13, 16, 12, 17, 14, 18, 11 } },
        };
        for (const auto& [height, rows] : cases) {
            std::vector<TGIFColor> colours(32);
            Bytes out = GifHeader(2, static_cast<std::uint16_t>(height), colours, 5);
            AppendDescriptor(out, 0, 0, 2, static_cast<std::uint16_t>(height), 0x40);
            std::vector<std::uint8_t> coded;
            for (int k = 0; k < height; ++k)
                coded.insert(coded.end(), 2, static_cast<std::uint8_t>(10 + k));
            Append(out, NaiveLzw(coded, 5));
            out.push_back(0x3B);
            const TLoaded loaded = Load(out);
            std::vector<std::uint8_t> expected;
            for (std::uint8_t v : rows)
                expected.insert(expected.end(), 2, v);
            EXPECT_EQ(Pixels(loaded.Gif->Images()[0]), expected) << height;
            // giflib agrees.
            EXPECT_EQ(GiflibDecode(out).Frames[0].Pixels, expected) << height;
        }
    }

    TEST(TGIFReader, TruncatedInterlacedFrameKeepsTheFillInTheRowsNotReached)
    {
        Bytes out = GifHeader(2, 5, kFour);
        AppendGce(out, true, 3);
        AppendDescriptor(out, 0, 0, 2, 5, 0x40);
        Append(out, NaiveLzw({ 1, 1, 2, 2, 0 }, 2, false, false)); // rows 0, 4 and half of 2
        EXPECT_EQ(Pixels(Load(out).Gif->Images()[0]),
            (std::vector<std::uint8_t> { 1, 1, 3, 3, 0, 3, 3, 3, 2, 2 }));
    }

    TEST(TGIFReader, ZeroSizeDescriptorTakesTheScreenSize)
    {
        Bytes out = GifHeader(3, 2, kFour);
        AppendDescriptor(out, 0, 0, 0, 0);
        Append(out, NaiveLzw({ 1, 2, 3, 3, 2, 1 }, 2));
        out.push_back(0x3B);
        const TLoaded loaded = Load(out);
        const TGIFSubImage& frame = loaded.Gif->Images()[0];
        EXPECT_EQ(frame.Width(), 3);
        EXPECT_EQ(frame.Height(), 2);
        EXPECT_EQ(Pixels(frame), (std::vector<std::uint8_t> { 1, 2, 3, 3, 2, 1 }));
        EXPECT_EQ(*loaded.Warnings, (std::vector<std::string> { "图像超出了合理的屏幕大小" }));
    }

    TEST(TGIFReader, ExtensionsAreReadIntoTheFrame)
    {
        Bytes out = GifHeader(4, 3, kFour);
        Append(out, { 0x21, 0xFF, 0x0B });
        AppendText(out, "NETSCAPE2.0");
        Append(out,
            { 0x03, 0x01, 0x07, 0x00, 0x05, 0x02, 0x04, 0x03, 0x02, 0x01, 0x02, 0x0B, 0x09, 0x00 });
        Append(out, { 0x21, 0xFE, 0x02, 'h', 'i', 0x03, 'y', 'o', 'u', 0x00 });
        Append(out, { 0x21, 0x2A, 0x03, 1, 2, 3, 0x00 }); // unknown label: skipped
        Append(out, { 0x21, 0xFF, 0x0B });
        AppendText(out, "XMP DataXMP");
        Append(out, { 0x02, 0xAA, 0xBB, 0x01, 0xCC, 0x00 });
        AppendGce(out, false, 0, 25);
        Append(out, { 0x21, 0x01, 0x0C, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 0x02, 'o', 'k', 0x00 });
        AppendDescriptor(out, 0, 0, 4, 3);
        Append(out, NaiveLzw(kBaselinePixels, 2));
        out.push_back(0x3B);

        const TLoaded loaded = Load(out);
        ASSERT_EQ(loaded.Gif->Images().Count(), 1);
        const TGIFSubImage& frame = loaded.Gif->Images()[0];
        EXPECT_EQ(Pixels(frame), kBaselinePixels);
        ASSERT_EQ(frame.Extensions().Count(), 5);
        const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(&frame.Extensions()[0]);
        ASSERT_NE(loop, nullptr);
        EXPECT_EQ(loop->Loops(), 7);
        EXPECT_EQ(loop->BufferSize(), 0x01020304u);
        const auto* comment = dynamic_cast<const TGIFCommentExtension*>(&frame.Extensions()[1]);
        ASSERT_NE(comment, nullptr);
        EXPECT_EQ(comment->Text(), (std::vector<std::string> { "hi", "you" }));
        const auto* unknown = dynamic_cast<const TGIFUnknownAppExtension*>(&frame.Extensions()[2]);
        ASSERT_NE(unknown, nullptr);
        EXPECT_EQ(unknown->IdentifierText(), "XMP DataXMP");
        EXPECT_EQ(unknown->Blocks(),
            (std::vector<std::vector<std::uint8_t>> { { 0xAA, 0xBB }, { 0xCC } }));
        EXPECT_EQ(frame.GraphicControlExtension(), &frame.Extensions()[3]);
        EXPECT_EQ(frame.GraphicControlExtension()->Delay(), 25);
        EXPECT_FALSE(frame.Transparent());
        const auto* text = dynamic_cast<const TGIFTextExtension*>(&frame.Extensions()[4]);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->Text(), (std::vector<std::string> { "ok" }));
        EXPECT_TRUE(loaded.Warnings->empty());

        // ANIMEXTS1.0 is read as a loop extension too.
        Bytes anim = GifHeader(4, 3, kFour);
        Append(anim, { 0x21, 0xFF, 0x0B });
        AppendText(anim, "ANIMEXTS1.0");
        Append(anim, { 0x03, 0x01, 0x02, 0x00, 0x00 });
        AppendDescriptor(anim, 0, 0, 4, 3);
        Append(anim, NaiveLzw(kBaselinePixels, 2));
        const TLoaded animLoaded = Load(anim);
        const auto* animLoop
            = dynamic_cast<const TGIFAppExtNSLoop*>(&animLoaded.Gif->Images()[0].Extensions()[0]);
        ASSERT_NE(animLoop, nullptr);
        EXPECT_EQ(animLoop->Loops(), 2);
    }

    TEST(TGIFReader, BadExtensionsRaiseTheirMessages)
    {
        auto withExtension = [](const Bytes& extension) {
            Bytes out = GifHeader(4, 3, kFour);
            Append(out, extension);
            AppendDescriptor(out, 0, 0, 4, 3);
            Append(out, NaiveLzw(kBaselinePixels, 2));
            out.push_back(0x3B);
            return out;
        };
        Bytes small = { 0x21, 0xFF, 0x09 };
        AppendText(small, "NETSCAPE2");
        Append(small, { 0x00 });
        EXPECT_EQ(LoadError(withExtension(small)), "不被支持的应用程序扩展数据快尺寸");

        Bytes shortLoop = { 0x21, 0xFF, 0x0B };
        AppendText(shortLoop, "NETSCAPE2.0");
        Append(shortLoop, { 0x02, 0x01, 0x07, 0x00 });
        EXPECT_EQ(LoadError(withExtension(shortLoop)), "无效 GIF 数据");

        Bytes shortBuffer = { 0x21, 0xFF, 0x0B };
        AppendText(shortBuffer, "NETSCAPE2.0");
        Append(shortBuffer, { 0x04, 0x02, 0x07, 0x00, 0x00, 0x00 });
        EXPECT_EQ(LoadError(withExtension(shortBuffer)), "无效 GIF 数据");

        // A comment cut by the end of the file.
        Bytes cut = GifHeader(4, 3, kFour);
        Append(cut, { 0x21, 0xFE, 0x05, 'a', 'b' });
        EXPECT_EQ(LoadError(cut), "过早的数据末端");

        // A short graphic control extension is only a warning.
        Bytes shortGce = GifHeader(4, 3, kFour);
        Append(shortGce, { 0x21, 0xF9, 0x04, 0x01 });
        const TLoaded loaded = Load(shortGce);
        EXPECT_EQ(*loaded.Warnings, (std::vector<std::string> { "过早的数据末端" }));
    }

    TEST(TGIFReader, TheStreamPositionIsRestoredOnError)
    {
        Bytes out = { 'x', 'y' };
        Bytes gif = GifHeader(2, 2, kFour);
        AppendDescriptor(gif, 0, 0, 2, 2);
        Append(gif, { 12, 0x02, 0xFF, 0xFF, 0x00, 0x3B }); // minimum code size 12
        Append(out, gif);
        TSpanStream stream(out);
        stream.SetPosition(2);
        TGIFImage image;
        EXPECT_THROW(image.LoadFromStream(stream), GIFException);
        EXPECT_EQ(stream.Position(), 2u);

        // Sizes up to 11 are accepted (twelve-bit codes from the start).
        Bytes eleven = GifHeader(1, 1, kFour);
        AppendDescriptor(eleven, 0, 0, 1, 1);
        Append(eleven, NaiveLzw({ 2 }, 11));
        EXPECT_EQ(Pixels(Load(eleven).Gif->Images()[0]), (std::vector<std::uint8_t> { 2 }));
    }

    TEST(TGIFReader, RefusesHugeFramesBeforeAllocating)
    {
        Bytes out = GifHeader(1, 1, kFour);
        AppendDescriptor(out, 0, 0, 65535, 65535);
        Append(out, NaiveLzw({ 1 }, 2));
        EXPECT_THROW(Load(out), EImageTooLarge);

        // A zero-size descriptor on a huge screen is just as large.
        Bytes screen = GifHeader(65535, 65535, kFour);
        AppendDescriptor(screen, 0, 0, 0, 0);
        Append(screen, NaiveLzw({ 1 }, 2));
        EXPECT_THROW(Load(screen), EImageTooLarge);
    }

    TEST(TGIFReader, ManyFramesWithoutDataCostNoMemory)
    {
        // 10000 frames of 4000 x 4000 pixels (16 MB each once filled) holding
        // one coded pixel each: only what the data holds is kept until a frame
        // is looked at.
        Bytes out = GifHeader(4000, 4000, kFour);
        for (int i = 0; i < 10000; ++i) {
            AppendGce(out, true, 3);
            AppendDescriptor(out, 0, 0, 0, 0);
            Append(out, NaiveLzw({ 1 }, 2));
        }
        out.push_back(0x3B);
        const TLoaded loaded = Load(out);
        ASSERT_EQ(loaded.Gif->Images().Count(), 10000);
        const TGIFSubImage& last = loaded.Gif->Images()[9999];
        EXPECT_EQ(last.Width(), 4000);
        const auto data = last.Data();
        EXPECT_EQ(data[0], 1);
        EXPECT_EQ(data[1], 3);
        EXPECT_EQ(data[data.size() - 1], 3);

        // Frames with no image at all (extensions only).
        Bytes empty = GifHeader(2, 2, kFour);
        for (int i = 0; i < 10000; ++i) {
            AppendGce(empty, false, 0);
            empty.push_back(0x00);
        }
        empty.push_back(0x3B);
        const TLoaded emptyLoaded = Load(empty);
        ASSERT_EQ(emptyLoaded.Gif->Images().Count(), 10000);
        EXPECT_TRUE(emptyLoaded.Gif->Images()[5].Empty());
    }

    TEST(TGIFFrameBitmap, PaletteIsPaddedWithBlackAndTheBitmapCached)
    {
        Bytes out = GifHeader(4, 3, { { 9, 8, 7 }, { 6, 5, 4 } }, 1);
        AppendGce(out, true, 1);
        AppendDescriptor(out, 0, 0, 4, 3);
        Append(out, NaiveLzw({ 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1 }, 2));
        TLoaded loaded = Load(out);
        TGIFSubImage& frame = loaded.Gif->Images()[0];
        const TDIB& bitmap = frame.FrameBitmap();
        EXPECT_EQ(&bitmap, &frame.FrameBitmap());
        EXPECT_EQ(bitmap.BitCount(), 8);
        EXPECT_EQ(bitmap.Width(), 4);
        EXPECT_EQ(bitmap.Height(), 3);
        EXPECT_EQ(bitmap.ColorTable()[0], (TRGBQuad { 7, 8, 9, 0 }));
        EXPECT_EQ(bitmap.ColorTable()[1], (TRGBQuad { 4, 5, 6, 0 }));
        for (int i = 2; i < 256; ++i)
            EXPECT_EQ(bitmap.ColorTable()[static_cast<std::size_t>(i)], (TRGBQuad { 0, 0, 0, 0 }));
        EXPECT_EQ(bitmap.ConstScanLine(0)[1], 1);
        EXPECT_EQ(bitmap.ConstScanLine(2)[3], 1);
        EXPECT_EQ(bitmap.ConstScanLine(2)[0], 0);

        const TDIB* mask = frame.FrameMask();
        ASSERT_NE(mask, nullptr);
        EXPECT_EQ(mask->BitCount(), 1);
        EXPECT_EQ(mask->ConstScanLine(0)[0] & 0xF0, 0x60);
        EXPECT_EQ(mask->ConstScanLine(1)[0] & 0xF0, 0x80);
        EXPECT_EQ(mask->ConstScanLine(2)[0] & 0xF0, 0x10);
    }

    TEST(TGIFFrameBitmap, NoColourTableIsAnErrorOnlyWhenTheBitmapIsAsked)
    {
        Bytes out = GifHeader(2, 1);
        AppendDescriptor(out, 0, 0, 2, 1);
        Append(out, NaiveLzw({ 0, 1 }, 2));
        out.push_back(0x3B);
        TLoaded loaded = Load(out);
        ASSERT_EQ(loaded.Gif->Images().Count(), 1);
        try {
            loaded.Gif->FrameBitmap(0);
            FAIL();
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), "未定义整体或局部颜色表");
        }
        TDIB target;
        target.SetSize(1, 1, 24);
        target.ScanLine(0)[0] = 77;
        EXPECT_THROW(LoadGIFPicture(out, target), GIFException);
        EXPECT_EQ(target.Width(), 1);
        EXPECT_EQ(target.ConstScanLine(0)[0], 77);
    }

    TEST(TGIFFrameBitmap, AFrameWithoutImageGivesAnEmptyBitmap)
    {
        // A control extension followed by the trailer makes a frame without
        // pixels; its bitmap is empty and the picture is the bare screen.
        Bytes out = GifHeader(3, 2, kFour);
        AppendGce(out, true, 1);
        out.push_back(0x3B);
        TLoaded loaded = Load(out);
        ASSERT_EQ(loaded.Gif->Images().Count(), 1);
        EXPECT_TRUE(loaded.Gif->Images()[0].Empty());
        EXPECT_TRUE(loaded.Gif->FrameBitmap(0).Empty());
        EXPECT_EQ(loaded.Gif->Images()[0].FrameMask(), nullptr);
        TDIB target;
        LoadGIFPicture(out, target);
        EXPECT_EQ(target.Width(), 3);
        EXPECT_EQ(target.Height(), 2);
    }

    TEST(LoadGIFPicture, DrawsFrameZeroAtTheTopLeftWithItsOwnColours)
    {
        // A 2 x 2 frame at (2, 1) of a 5 x 3 screen with a local table; the
        // transparent index 1 shows its own colour.
        Bytes out = GifHeader(5, 3, kFour);
        AppendGce(out, true, 1);
        AppendDescriptor(out, 2, 1, 2, 2, 0x81);
        Append(out, { 10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3 });
        Append(out, NaiveLzw({ 0, 1, 2, 3 }, 2));
        out.push_back(0x3B);
        TDIB target;
        LoadGIFPicture(out, target);
        ASSERT_EQ(target.Width(), 5);
        ASSERT_EQ(target.Height(), 3);
        EXPECT_EQ(target.BitCount(), 24);
        EXPECT_EQ(target.Pixel(0, 0), 10u | 20u << 8 | 30u << 16);
        EXPECT_EQ(target.Pixel(1, 0), 40u | 50u << 8 | 60u << 16);
        EXPECT_EQ(target.Pixel(0, 1), 70u | 80u << 8 | 90u << 16);
        EXPECT_EQ(target.Pixel(1, 1), 1u | 2u << 8 | 3u << 16);
    }

    TEST(LoadGIFPicture, IndicesBeyondTheTableAreBlack)
    {
        Bytes out = GifHeader(2, 1, { { 255, 255, 255 }, { 255, 255, 255 } }, 1);
        AppendDescriptor(out, 0, 0, 2, 1);
        Append(out, NaiveLzw({ 1, 3 }, 2));
        TDIB target;
        LoadGIFPicture(out, target);
        EXPECT_EQ(target.Pixel(0, 0), 0xFFFFFFu);
        EXPECT_EQ(target.Pixel(1, 0), 0u);
    }

    TEST(LoadGIFPicture, FailuresLeaveTheTargetUnchanged)
    {
        TDIB target;
        target.SetSize(3, 2, 24);
        target.ScanLine(1)[2] = 99;
        Bytes noFrames = GifHeader(3, 3, kFour);
        noFrames.push_back(0x3B);
        Bytes zeroScreen = GifHeader(0, 3, kFour);
        AppendDescriptor(zeroScreen, 0, 0, 1, 1);
        Append(zeroScreen, NaiveLzw({ 1 }, 2));
        Bytes hugeScreen = GifHeader(65535, 65535, kFour);
        AppendDescriptor(hugeScreen, 0, 0, 1, 1);
        Append(hugeScreen, NaiveLzw({ 1 }, 2));
        for (const Bytes& bytes : { noFrames, zeroScreen, hugeScreen, Bytes { 'G', 'I', 'F' } }) {
            EXPECT_ANY_THROW(LoadGIFPicture(bytes, target));
            EXPECT_EQ(target.Width(), 3);
            EXPECT_EQ(target.Height(), 2);
            EXPECT_EQ(target.ConstScanLine(1)[2], 99);
        }
    }

    TEST(TGIFReader, TruncatedAndCorruptedFilesNeverCrash)
    {
        // A file with every kind of block: loop, comment, control, local table,
        // interlace, several frames.
        Bytes out = GifHeader(7, 5, kFour);
        Append(out, { 0x21, 0xFF, 0x0B });
        AppendText(out, "NETSCAPE2.0");
        Append(out, { 0x03, 0x01, 0x00, 0x00, 0x00 });
        Append(out, { 0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00 });
        AppendGce(out, true, 2, 4);
        AppendDescriptor(out, 1, 1, 5, 4, 0x40);
        std::vector<std::uint8_t> pixels(20);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(i % 4);
        Append(out, NaiveLzw(pixels, 2));
        AppendGce(out, false, 0, 4);
        AppendDescriptor(out, 0, 0, 7, 5, 0x82);
        for (int i = 0; i < 8; ++i)
            Append(out, { static_cast<std::uint8_t>(i * 30), 0, 0 });
        std::vector<std::uint8_t> second(35);
        for (std::size_t i = 0; i < second.size(); ++i)
            second[i] = static_cast<std::uint8_t>((i * 3) % 8);
        Append(out, NaiveLzw(second, 3));
        out.push_back(0x3B);

        // Reads the bytes and, when the result is small enough to be cheap,
        // makes the frame bitmaps and the picture.
        auto tryLoad = [](const Bytes& bytes) {
            try {
                TGIFImage gif;
                TSpanStream stream(bytes);
                gif.LoadFromStream(stream);
                for (auto& frame : gif.Images())
                    if (frame->PixelCount() <= 1'000'000)
                        frame->FrameBitmap();
                if (std::int64_t(gif.Width()) * gif.Height() <= 1'000'000
                    && (gif.Images().Empty() || gif.Images()[0].PixelCount() <= 1'000'000)) {
                    TDIB target;
                    LoadGIFPicture(bytes, target);
                    EXPECT_EQ(target.Width(), gif.Width());
                }
            } catch (const GIFException&) {
            } catch (const EInvalidGraphic&) {
            }
        };
        for (std::size_t cut = 0; cut <= out.size(); ++cut)
            tryLoad(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(cut)));
        std::mt19937 random(12345);
        for (int round = 0; round < 3000; ++round) {
            Bytes corrupt = out;
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips; ++i)
                corrupt[random() % corrupt.size()] = static_cast<std::uint8_t>(random());
            tryLoad(corrupt);
        }
    }

    // ---------------------------------------------------------------------------
    // The sample files and their manifest.

    std::vector<std::uint8_t> ReadData(const std::string& relative)
    {
        return ReadFileBytes(std::string(ZX_TEST_DATA_DIR) + "/gif/" + relative);
    }

    TEST(LoadGIFPicture, EveryManifestFileLoadsOrFailsAsListed)
    {
        int loaded = 0, failed = 0;
        for (const auto& cells :
            zx::test::ReadManifestCells(std::string(ZX_TEST_DATA_DIR) + "/gif/MANIFEST.tsv")) {
            ASSERT_GE(cells.size(), 14u) << (cells.empty() ? std::string() : cells[0]);
            const std::string& file = cells[0];
            const int width = std::stoi(cells[3]);
            const int height = std::stoi(cells[4]);
            const std::string& expected = cells[11];
            const std::string& loaderError = cells[12];
            const std::string& reference = cells[13];
            SCOPED_TRACE(file);

            const std::vector<std::uint8_t> bytes = ReadData(file);
            TDIB target;
            if (expected == "error") {
                try {
                    LoadGIFPicture(bytes, target);
                    ADD_FAILURE() << "loaded";
                } catch (const std::exception& e) {
                    // Messages of the reader are exact; the loader's own cases
                    // (no frame, empty screen, size) only have to fail.
                    if (loaderError.find("(") == std::string::npos
                        && loaderError.find(":") == std::string::npos
                        && loaderError.find("minimum code size") == std::string::npos) {
                        EXPECT_EQ(std::string(e.what()), loaderError);
                    }
                }
                EXPECT_TRUE(target.Empty());
                ++failed;
                continue;
            }
            ASSERT_EQ(expected, "load");
            ASSERT_NO_THROW(LoadGIFPicture(bytes, target));
            ASSERT_EQ(target.Width(), width);
            ASSERT_EQ(target.Height(), height);
            ASSERT_EQ(target.BitCount(), 24);
            const std::vector<std::uint8_t> rgba = ReadData(reference);
            ASSERT_EQ(rgba.size(), std::size_t(width) * height * 4);
            int mismatches = 0;
            for (int y = 0; y < height && mismatches < 5; ++y)
                for (int x = 0; x < width && mismatches < 5; ++x) {
                    const std::uint8_t* ref = rgba.data() + (std::size_t(y) * width + x) * 4;
                    if (ref[3] == 0)
                        continue;
                    const std::uint32_t want = ref[0] | (ref[1] << 8) | (ref[2] << 16);
                    const std::uint32_t got = target.Pixel(x, y);
                    if (got != want) {
                        ++mismatches;
                        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got
                                      << " not " << want;
                    }
                }
            ++loaded;
        }
        EXPECT_GT(loaded, 80);
        EXPECT_GT(failed, 15);
    }

} // namespace
} // namespace zx

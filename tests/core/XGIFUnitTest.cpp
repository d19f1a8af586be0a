// The GIF model, the colour-table merge and the writer.

#include "core/gif/XGIFUnit.h"

#include "GIFTestUtil.h"
#include "core/Errors.h"
#include "core/Stream.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <string>

namespace zx {
namespace {

    using namespace gif_test;

    template <class F> std::string MessageOf(F&& f)
    {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no exception)";
    }

    // Walks the data sub-blocks starting at offset and returns the offset just
    // after the block terminator; block sizes are collected.
    std::size_t SkipBlocks(
        const Bytes& bytes, std::size_t at, std::vector<std::size_t>* sizes = nullptr)
    {
        while (at < bytes.size() && bytes[at] != 0) {
            if (sizes)
                sizes->push_back(bytes[at]);
            at += 1 + bytes[at];
        }
        return at + 1;
    }

    TEST(TGIFColorMap, CapacityGrowsTo16ThenInStepsOf32AndStopsAt256)
    {
        TGIFColorMap map;
        EXPECT_EQ(map.Capacity(), 0);
        map.Add(1, 2, 3);
        EXPECT_EQ(map.Capacity(), 16);
        for (int i = 1; i < 16; ++i)
            map.Add(0, 0, 0);
        EXPECT_EQ(map.Capacity(), 16);
        map.Add(0, 0, 0);
        EXPECT_EQ(map.Capacity(), 32);
        for (int i = 17; i < 33; ++i)
            map.Add(0, 0, 0);
        EXPECT_EQ(map.Capacity(), 64);
        while (map.Count() < 256)
            map.Add(9, 9, 9);
        EXPECT_EQ(map.Capacity(), 256);
        EXPECT_EQ(MessageOf([&] { map.Add(1, 1, 1); }), "颜色表溢出");
        EXPECT_EQ(map.Count(), 256);
        EXPECT_EQ(map[0], (TGIFColor { 1, 2, 3 }));
    }

    TEST(TGIFColorMap, AddingClearsSortedByUseAndBitsFollowTheCount)
    {
        TGIFColorMap map;
        EXPECT_EQ(map.BitsPerPixel(), 0);
        map.SetSortedByUse(true);
        map.Add(0, 0, 0);
        EXPECT_FALSE(map.SortedByUse());
        const std::pair<int, int> cases[] = { { 1, 1 }, { 2, 1 }, { 3, 2 }, { 4, 2 }, { 5, 3 },
            { 16, 4 }, { 17, 5 }, { 128, 7 }, { 129, 8 }, { 256, 8 } };
        for (auto [count, bits] : cases)
            EXPECT_EQ(ColourBits(count), bits) << count;
        EXPECT_EQ(ColourBits(0), 0);
    }

    TEST(TGIFImage, AddFrameCopiesTableAndIndicesOfEveryIndexedDepth)
    {
        for (const int bitCount : { 1, 4, 8 }) {
            TDIB dib;
            dib.SetSize(13, 3, bitCount);
            TDIBColorTable table {};
            for (int i = 0; i < (1 << bitCount); ++i)
                table[static_cast<std::size_t>(i)] = TRGBQuad { static_cast<std::uint8_t>(i), 7,
                    static_cast<std::uint8_t>(255 - i), 0 };
            dib.ColorTable() = table;
            dib.UpdatePalette();
            const int mask = (1 << bitCount) - 1;
            for (int y = 0; y < 3; ++y) {
                std::uint8_t* row = dib.ScanLine(y);
                std::fill(row, row + dib.RowBytes(), 0);
                for (int x = 0; x < 13; ++x) {
                    const int v = (x * 5 + y * 3) & mask;
                    if (bitCount == 8)
                        row[x] = static_cast<std::uint8_t>(v);
                    else if (bitCount == 4)
                        row[x / 2] = static_cast<std::uint8_t>(row[x / 2] | (x % 2 ? v : v << 4));
                    else
                        row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (v << (7 - x % 8)));
                }
            }
            TGIFImage gif;
            EXPECT_EQ(gif.AddFrame(dib), 0);
            const TGIFSubImage& frame = gif.Images()[0];
            EXPECT_EQ(gif.Width(), 13);
            EXPECT_EQ(gif.Height(), 3);
            ASSERT_EQ(frame.ColorMap().Count(), 1 << bitCount);
            EXPECT_EQ(frame.ColorMap()[mask],
                (TGIFColor {
                    static_cast<std::uint8_t>(255 - mask), 7, static_cast<std::uint8_t>(mask) }));
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 13; ++x)
                    ASSERT_EQ(frame.Data()[std::size_t(y) * 13 + x], (x * 5 + y * 3) & mask)
                        << bitCount;
        }
    }

    TEST(TGIFImage, AddFrameRejectsBitmapsDeeperThan8Bits)
    {
        TDIB dib;
        dib.SetSize(2, 2, 24);
        TGIFImage gif;
        EXPECT_EQ(MessageOf([&] { gif.AddFrame(dib); }), "此操作不支持此对象类型");
        TGIFImage other;
        EXPECT_EQ(MessageOf([&] { gif.AddFrame(std::make_unique<TGIFSubImage>(&other)); }),
            "此操作不支持此对象类型");
    }

    TEST(TGIFImage, ScreenGrowsWithFramesAndWarns)
    {
        std::vector<std::string> warnings;
        TGIFImage gif;
        gif.OnWarning = [&](const std::string& m) { warnings.push_back(m); };
        gif.AddFrame(MakeIndexed(4, 4, { { 1, 1, 1 } }, [](int, int) { return 0; }));
        EXPECT_TRUE(warnings.empty());
        gif.AddFrame(MakeIndexed(6, 3, { { 1, 1, 1 } }, [](int, int) { return 0; }));
        EXPECT_EQ(gif.Width(), 6);
        EXPECT_EQ(gif.Height(), 4);
        EXPECT_EQ(warnings,
            (std::vector<std::string> {
                "Image width too small for contained frames", "图像超出了合理的屏幕大小" }));

        EXPECT_EQ(
            MessageOf([&] { gif.SetWidth(5); }), "Image width too small for contained frames");
        EXPECT_EQ(
            MessageOf([&] { gif.SetHeight(3); }), "Image height too small for contained frames");
        gif.SetWidth(7);
        EXPECT_EQ(gif.Width(), 7);
    }

    TEST(TGIFGraphicControlExtension, TransparentIndexBeyondTheTableBecomesZeroWithAWarning)
    {
        std::vector<std::string> warnings;
        TGIFImage gif;
        gif.OnWarning = [&](const std::string& m) { warnings.push_back(m); };
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->SetSize(2, 2);
        frame->ColorMap().Add(1, 2, 3);
        frame->ColorMap().Add(4, 5, 6);
        auto& gce
            = frame->Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(frame.get()));
        EXPECT_EQ(frame->GraphicControlExtension(), &gce);
        gce.SetTransparent(true);
        EXPECT_TRUE(frame->Transparent());
        gce.SetTransparentColorIndex(1);
        EXPECT_EQ(gce.TransparentColorIndex(), 1);
        EXPECT_TRUE(warnings.empty());
        gce.SetTransparentColorIndex(2);
        EXPECT_EQ(gce.TransparentColorIndex(), 0);
        EXPECT_EQ(warnings, (std::vector<std::string> { "无效的颜色指数" }));
        gce.SetTransparent(false);
        EXPECT_FALSE(frame->Transparent());
        // A second control extension does not take over the frame.
        auto& second
            = frame->Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(frame.get()));
        second.SetTransparent(true);
        EXPECT_FALSE(frame->Transparent());
    }

    TEST(TGIFWriter, OneColourGivesPacked88AndTheExactFrameBytes)
    {
        TGIFImage gif;
        AddExportFrame(gif, MakeIndexed(5, 3, { { 10, 20, 30 } }, [](int, int) { return 0; }), 8,
            false, 0, 5, 3);
        gif.MergeColourMaps();
        const Bytes bytes = gif.SaveToBytes();
        Bytes expected;
        AppendText(expected, "GIF89a");
        Append(expected, { 5, 0, 3, 0, 0x88, 0, 0 });
        Append(expected, { 10, 20, 30, 0, 0, 0 }); // one colour padded to two
        Append(expected, { 0x21, 0xFF, 0x0B });
        AppendText(expected, "NETSCAPE2.0");
        Append(expected, { 0x03, 0x01, 0x03, 0x00, 0x00 });
        Append(expected, { 0x21, 0xF9, 0x04, 0x08, 0x05, 0x00, 0x00, 0x00 });
        Append(expected, { 0x2C, 0, 0, 0, 0, 5, 0, 3, 0, 0x00 });
        Append(expected, { 0x02 }); // minimum code size
        ASSERT_GT(bytes.size(), expected.size());
        EXPECT_EQ(
            Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(expected.size())),
            expected);
        EXPECT_EQ(SkipBlocks(bytes, expected.size()), bytes.size() - 1);
        EXPECT_EQ(bytes.back(), 0x3B);

        const TGiflibImage decoded = GiflibDecode(bytes);
        ASSERT_EQ(decoded.Frames.size(), 1u);
        EXPECT_EQ(decoded.Frames[0].Pixels, Bytes(15, 0));
        EXPECT_EQ(decoded.Loops, 3);
    }

    TEST(TGIFWriter, TwoHundredFiftySixColoursGivePackedFFAndCodeSize8)
    {
        std::vector<TGIFColor> colours;
        for (int i = 0; i < 256; ++i)
            colours.push_back(TGIFColor { static_cast<std::uint8_t>(i),
                static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i / 3) });
        TGIFImage gif;
        AddExportFrame(gif,
            MakeIndexed(16, 16, colours,
                [](int x, int y) { return static_cast<std::uint8_t>(y * 16 + x); }),
            8, false, 0, 1, 0);
        gif.MergeColourMaps();
        EXPECT_EQ(gif.BitsPerPixel(), 8);
        EXPECT_EQ(gif.ColorResolution(), 7);
        const Bytes bytes = gif.SaveToBytes();
        EXPECT_EQ(bytes[10], 0xFF);
        std::set<std::uint32_t> table;
        for (int i = 0; i < 256; ++i)
            table.insert(bytes[13 + i * 3] | (bytes[14 + i * 3] << 8) | (bytes[15 + i * 3] << 16));
        EXPECT_EQ(table.size(), 256u);
        // Loop extension (19 bytes) and control extension (8) come before the
        // descriptor at 13 + 768.
        const std::size_t descriptor = 13 + 768 + 19 + 8;
        EXPECT_EQ(bytes[descriptor], 0x2C);
        EXPECT_EQ(bytes[descriptor + 10], 8);

        const TGiflibImage decoded = GiflibDecode(bytes);
        for (int i = 0; i < 256; ++i)
            EXPECT_EQ(decoded.GlobalColours[decoded.Frames[0].Pixels[static_cast<std::size_t>(i)]],
                colours[static_cast<std::size_t>(i)]);
    }

    TEST(TGIFWriter, TransparentEntryIsLastAndBlackInEveryTransparentFrame)
    {
        // Three colours at 3 bits; index 7 marks the background as the export
        // does when transparency is on.
        const std::vector<TGIFColor> colours = { { 200, 0, 0 }, { 0, 200, 0 }, { 0, 0, 200 } };
        auto pixel0
            = [](int x, int y) { return static_cast<std::uint8_t>(x == 0 ? 7 : (x + y) % 3); };
        auto pixel1 = [](int x, int) { return static_cast<std::uint8_t>(x % 2); };
        TGIFImage gif;
        AddExportFrame(gif, MakeIndexed(4, 4, colours, pixel0), 3, true, 7, 2, 0);
        AddExportFrame(gif, MakeIndexed(4, 4, colours, pixel1), 3, false, 0, 2, 0);
        AddExportFrame(gif, MakeIndexed(4, 4, colours, pixel0), 3, true, 7, 2, 0);
        gif.MergeColourMaps();

        const TGIFGlobalColorMap& global = gif.GlobalColorMap();
        ASSERT_EQ(global.Count(), 4);
        EXPECT_EQ(global[3], (TGIFColor { 0, 0, 0 }));
        EXPECT_TRUE(global.SortedByUse());
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(gif.Images()[i].ColorMap().Empty());

        const Bytes bytes = gif.SaveToBytes();
        EXPECT_EQ(bytes[10], 0x80 | 0x08 | 0x10 | 0x01);
        const TGiflibImage decoded = GiflibDecode(bytes);
        ASSERT_EQ(decoded.Frames.size(), 3u);
        EXPECT_EQ(decoded.Frames[0].TransparentIndex, 3);
        EXPECT_EQ(decoded.Frames[1].TransparentIndex, -1);
        EXPECT_EQ(decoded.Frames[2].TransparentIndex, 3);
        for (int f = 0; f < 3; ++f) {
            EXPECT_EQ(decoded.Frames[static_cast<std::size_t>(f)].Disposal, 2);
            EXPECT_EQ(decoded.Frames[static_cast<std::size_t>(f)].Delay, 2);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 4; ++x) {
                    const std::uint8_t original = f == 1 ? pixel1(x, y) : pixel0(x, y);
                    const std::uint8_t index = decoded.Frames[static_cast<std::size_t>(f)]
                                                   .Pixels[static_cast<std::size_t>(y * 4 + x)];
                    if (original == 7)
                        EXPECT_EQ(index, 3);
                    else
                        EXPECT_EQ(decoded.GlobalColours[index], colours[original]);
                }
        }
        // The control extensions' packed fields: restore to background, with
        // the transparent flag where the frame has one.
        std::vector<int> packed;
        for (std::size_t i = 13 + 12; i + 3 < bytes.size(); ++i)
            if (bytes[i] == 0x21 && bytes[i + 1] == 0xF9 && bytes[i + 2] == 0x04)
                packed.push_back(bytes[i + 3]);
        EXPECT_EQ(packed, (std::vector<int> { 0x09, 0x08, 0x09 }));
    }

    TEST(TGIFWriter, LaterFramesStartWithTheControlExtension)
    {
        TGIFImage gif;
        for (int i = 0; i < 2; ++i)
            AddExportFrame(gif,
                MakeIndexed(2, 2, { { 9, 9, 9 }, { 1, 1, 1 } },
                    [](int x, int) { return static_cast<std::uint8_t>(x); }),
                8, false, 0, 50, 0);
        gif.MergeColourMaps();
        const Bytes bytes = gif.SaveToBytes();
        const std::size_t frame0 = 13 + 2 * 3;
        EXPECT_EQ(Bytes(bytes.begin() + frame0, bytes.begin() + frame0 + 14),
            (Bytes { 0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0' }));
        EXPECT_EQ(Bytes(bytes.begin() + frame0 + 14, bytes.begin() + frame0 + 19),
            (Bytes { 0x03, 0x01, 0x00, 0x00, 0x00 }));
        EXPECT_EQ(Bytes(bytes.begin() + frame0 + 19, bytes.begin() + frame0 + 27),
            (Bytes { 0x21, 0xF9, 0x04, 0x08, 50, 0, 0, 0 }));
        const std::size_t frame1 = SkipBlocks(bytes, frame0 + 27 + 10 + 1);
        EXPECT_EQ(Bytes(bytes.begin() + frame1, bytes.begin() + frame1 + 8),
            (Bytes { 0x21, 0xF9, 0x04, 0x08, 50, 0, 0, 0 }));
        EXPECT_EQ(bytes[frame1 + 8], 0x2C);
    }

    TEST(TGIFWriter, ImageDataOfExactly255BytesIsOneFullBlockThenTheTerminator)
    {
        // Random 8-bit pixels code to about 9 bits each; search the pixel count
        // whose data is exactly 255 bytes.
        std::mt19937 random(7);
        std::vector<std::uint8_t> noise(400);
        for (auto& v : noise)
            v = static_cast<std::uint8_t>(random());
        std::vector<TGIFColor> colours(256);
        bool found = false;
        for (int n = 150; n < 400 && !found; ++n) {
            TGIFImage gif;
            gif.AddFrame(MakeIndexed(
                n, 1, colours, [&](int x, int) { return noise[static_cast<std::size_t>(x)]; }));
            const Bytes bytes = gif.SaveToBytes();
            const std::size_t data
                = 13 + 10 + 768 + 1; // header, descriptor, local table, code size
            std::vector<std::size_t> sizes;
            const std::size_t end = SkipBlocks(bytes, data, &sizes);
            ASSERT_EQ(end, bytes.size() - 1);
            std::size_t total = 0;
            for (std::size_t s : sizes)
                total += s;
            for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
                EXPECT_EQ(sizes[i], 255u);
            if (total == 255) {
                found = true;
                EXPECT_EQ(sizes, (std::vector<std::size_t> { 255 }));
                EXPECT_EQ(bytes[data + 256], 0);
                EXPECT_EQ(bytes[data + 257], 0x3B);
            }
        }
        EXPECT_TRUE(found);
    }

    TEST(TGIFWriter, CommentsTextAndApplicationDataGoOutAsSubBlocksPerPiece)
    {
        TGIFImage gif;
        TGIFSubImage frame(&gif);
        const std::string longLine(300, 'x');

        Bytes comment;
        TGIFCommentExtension commentExtension(&frame);
        commentExtension.Text() = { "hi", "", longLine };
        commentExtension.SaveToStream(comment);
        Bytes expected { 0x21, 0xFE, 2, 'h', 'i', 255 }; // the empty line writes no block
        expected.insert(expected.end(), 255, 'x');
        expected.push_back(45); // the rest of the 300-byte line in a block of its own
        expected.insert(expected.end(), 45, 'x');
        expected.push_back(0); // block terminator
        EXPECT_EQ(comment, expected);

        Bytes unknown;
        TGIFUnknownAppExtension unknownExtension(&frame);
        unknownExtension.SetIdentifier({ 'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P' });
        unknownExtension.Blocks() = { { 0xAA, 0xBB }, { 0xCC } };
        unknownExtension.SaveToStream(unknown);
        Bytes expectedUnknown { 0x21, 0xFF, 11 };
        AppendText(expectedUnknown, "XMP DataXMP");
        Append(expectedUnknown, { 2, 0xAA, 0xBB, 1, 0xCC, 0 });
        EXPECT_EQ(unknown, expectedUnknown);

        // No pieces at all: the terminator alone.
        Bytes empty;
        TGIFCommentExtension(&frame).SaveToStream(empty);
        EXPECT_EQ(empty, (Bytes { 0x21, 0xFE, 0 }));

        // What the reader makes of them: the same pieces (the empty line is
        // gone, the long one comes back in its blocks).
        Bytes file = GifHeader(1, 1, { { 0, 0, 0 }, { 255, 255, 255 } });
        Append(file, comment);
        Append(file, unknown);
        AppendDescriptor(file, 0, 0, 1, 1);
        Append(file, NaiveLzw({ 1 }, 2));
        file.push_back(0x3B);
        TGIFImage read;
        TMemoryStream stream(file);
        read.LoadFromStream(stream);
        ASSERT_EQ(read.Images().Count(), 1);
        const auto& extensions = read.Images()[0].Extensions();
        ASSERT_EQ(extensions.Count(), 2);
        const auto* readComment = dynamic_cast<const TGIFCommentExtension*>(&extensions[0]);
        ASSERT_NE(readComment, nullptr);
        EXPECT_EQ(readComment->Text(),
            (std::vector<std::string> { "hi", std::string(255, 'x'), std::string(45, 'x') }));
        const auto* readUnknown = dynamic_cast<const TGIFUnknownAppExtension*>(&extensions[1]);
        ASSERT_NE(readUnknown, nullptr);
        EXPECT_EQ(readUnknown->Blocks(), unknownExtension.Blocks());
    }

    TEST(TGIFWriter, VersionAndLocalTablesFollowTheFrames)
    {
        TGIFImage gif;
        gif.AddFrame(MakeIndexed(3, 2, { { 1, 2, 3 }, { 4, 5, 6 } },
            [](int x, int) { return static_cast<std::uint8_t>(x & 1); }));
        Bytes bytes = gif.SaveToBytes();
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF87a");
        // No global table: packed fields hold only resolution and size bits.
        EXPECT_EQ(bytes[10], 0x77);
        // Descriptor with a 256-entry local table.
        EXPECT_EQ(bytes[13 + 9], 0x87);
        gif.Images()[0].ColorMap().SetSortedByUse(true);
        bytes = gif.SaveToBytes();
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF89a");
        EXPECT_EQ(bytes[13 + 9], 0xA7);
    }

    TEST(TGIFWriter, GlobalTableSizeFieldMatchesTheTableWhenALocalOneIsLarger)
    {
        TGIFImage gif;
        gif.GlobalColorMap().Add(1, 2, 3);
        gif.GlobalColorMap().Add(4, 5, 6);
        std::vector<TGIFColor> colours(256, TGIFColor { 7, 7, 7 });
        gif.AddFrame(MakeIndexed(
            3, 2, colours, [](int x, int y) { return static_cast<std::uint8_t>(x * 80 + y); }));
        auto second = std::make_unique<TGIFSubImage>(&gif);
        second->SetSize(3, 2);
        second->Data()[4] = 1;
        gif.AddFrame(std::move(second));
        const Bytes bytes = gif.SaveToBytes();
        EXPECT_EQ(bytes[10] & 0x87, 0x80); // a 2-entry global table follows
        const TGiflibImage decoded = GiflibDecode(bytes);
        ASSERT_EQ(decoded.Frames.size(), 2u);
        EXPECT_EQ(decoded.GlobalColours.size(), 2u);
        EXPECT_EQ(decoded.Frames[0].Pixels, (Bytes { 0, 80, 160, 1, 81, 161 }));
        EXPECT_EQ(decoded.Frames[1].Pixels, (Bytes { 0, 0, 0, 0, 1, 0 }));
    }

    TEST(TGIFWriter, InterlacedFrameWithLocalTableKeepsItsInterlaceBit)
    {
        TGIFImage gif;
        gif.AddFrame(MakeIndexed(3, 9, { { 1, 2, 3 }, { 4, 5, 6 }, { 7, 8, 9 } },
            [](int x, int y) { return static_cast<std::uint8_t>((x + y) % 3); }));
        gif.Images()[0].SetInterlaced(true);
        const Bytes bytes = gif.SaveToBytes();
        EXPECT_EQ(bytes[13 + 9] & 0x40, 0x40);
        const TGiflibImage decoded = GiflibDecode(bytes);
        ASSERT_TRUE(decoded.Frames[0].Interlaced);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(
                    decoded.Frames[0].Pixels[static_cast<std::size_t>(y * 3 + x)], (x + y) % 3);
    }

    TEST(TGIFWriter, Errors)
    {
        TGIFImage empty;
        EXPECT_EQ(MessageOf([&] { empty.SaveToBytes(); }), "未被支持 GIF 样式");

        // A pixel beyond the colours of its table cannot be written.
        TGIFImage gif;
        auto frame = std::make_unique<TGIFSubImage>(&gif);
        frame->SetSize(2, 1);
        frame->ColorMap().Add(1, 1, 1);
        frame->ColorMap().Add(2, 2, 2);
        frame->ColorMap().Add(3, 3, 3);
        frame->Data()[1] = 3;
        gif.AddFrame(std::move(frame));
        EXPECT_EQ(MessageOf([&] { gif.SaveToBytes(); }), "颜色不在颜色表中");
    }

    TEST(TGIFWriter, SaveGifFileWritesTheBytesAndKeepsTheOldFileOnFailure)
    {
        const auto dir
            = std::filesystem::temp_directory_path() / ("zx-gif-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        const std::string path = (dir / "out.gif").string();
        TGIFImage gif;
        AddExportFrame(
            gif, MakeIndexed(3, 3, { { 1, 2, 3 } }, [](int, int) { return 0; }), 3, false, 0, 5, 0);
        gif.MergeColourMaps();
        gif.SaveGifFile(path);
        EXPECT_EQ(ReadFileBytes(path), gif.SaveToBytes());

        TGIFImage broken;
        EXPECT_THROW(broken.SaveGifFile(path), GIFException);
        EXPECT_EQ(ReadFileBytes(path), gif.SaveToBytes());
        EXPECT_ANY_THROW(gif.SaveGifFile((dir / "missing" / "x.gif").string()));
        std::filesystem::remove_all(dir);
    }

    TEST(TColorMapOptimizer, PoolsEqualColoursAndSortsByUse)
    {
        // Frame A: red x5, green x2, blue x1 in its own table order; frame B
        // uses the same colours from a table in another order plus white.
        const TGIFColor red { 255, 0, 0 }, green { 0, 255, 0 }, blue { 0, 0, 255 },
            white { 255, 255, 255 };
        const std::vector<std::uint8_t> a = { 0, 0, 0, 0, 0, 1, 1, 2 };
        const std::vector<std::uint8_t> b = { 0, 0, 0, 0, 0, 0, 0, 1 };
        TGIFImage gif;
        gif.AddFrame(MakeIndexed(8, 1, { red, green, blue },
            [&](int x, int) { return a[static_cast<std::size_t>(x)]; }));
        gif.AddFrame(MakeIndexed(8, 1, { blue, white, green },
            [&](int x, int) { return b[static_cast<std::size_t>(x)]; }));
        gif.MergeColourMaps();
        const TGIFGlobalColorMap& global = gif.GlobalColorMap();
        ASSERT_EQ(global.Count(), 4);
        EXPECT_EQ(global[0], blue); // 1 + 7
        EXPECT_EQ(global[1], red); // 5
        EXPECT_EQ(global[2], green); // 2
        EXPECT_EQ(global[3], white); // 1
        EXPECT_EQ(
            std::vector<std::uint8_t>(gif.Images()[0].Data().begin(), gif.Images()[0].Data().end()),
            (std::vector<std::uint8_t> { 1, 1, 1, 1, 1, 2, 2, 0 }));
        EXPECT_EQ(
            std::vector<std::uint8_t>(gif.Images()[1].Data().begin(), gif.Images()[1].Data().end()),
            (std::vector<std::uint8_t> { 0, 0, 0, 0, 0, 0, 0, 3 }));
    }

    TEST(TColorMapOptimizer, ColoursBeyond256GoToTheClosestComponentSum)
    {
        // 256 greys used twice each fill the table; a dark red used once does
        // not fit and goes to the grey whose sum 3g is closest to 101: g = 34.
        std::vector<TGIFColor> greys;
        for (int g = 0; g < 256; ++g)
            greys.push_back(TGIFColor { static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(g),
                static_cast<std::uint8_t>(g) });
        TGIFImage gif;
        gif.AddFrame(MakeIndexed(32, 16, greys,
            [](int x, int y) { return static_cast<std::uint8_t>((y * 32 + x) / 2); }));
        gif.AddFrame(MakeIndexed(1, 1, { { 100, 0, 1 } }, [](int, int) { return 0; }));
        gif.MergeColourMaps();
        ASSERT_EQ(gif.GlobalColorMap().Count(), 256);
        const std::uint8_t index = gif.Images()[1].Data()[0];
        EXPECT_EQ(gif.GlobalColorMap()[index], (TGIFColor { 34, 34, 34 }));
        for (int i = 0; i < 512; ++i) {
            const std::uint8_t g = static_cast<std::uint8_t>(i / 2);
            ASSERT_EQ(gif.GlobalColorMap()[gif.Images()[0].Data()[static_cast<std::size_t>(i)]],
                (TGIFColor { g, g, g }));
        }
    }

    TEST(TColorMapOptimizer, UnusedTransparencyIsDroppedAndBadIndicesBecomeZero)
    {
        std::vector<std::string> warnings;
        TGIFImage gif;
        gif.OnWarning = [&](const std::string& m) { warnings.push_back(m); };
        TGIFSubImage& frame = AddExportFrame(gif,
            MakeIndexed(2, 2, { { 5, 5, 5 }, { 6, 6, 6 } },
                [](int x, int) { return static_cast<std::uint8_t>(x); }),
            3, true, 7, 1, 0);
        // A second frame with a 2-entry table and a pixel beyond it.
        auto second = std::make_unique<TGIFSubImage>(&gif);
        second->SetSize(2, 1);
        second->ColorMap().Add(6, 6, 6);
        second->ColorMap().Add(9, 9, 9);
        second->Data()[0] = 1;
        second->Data()[1] = 5;
        gif.AddFrame(std::move(second));
        ASSERT_TRUE(frame.Transparent());
        gif.MergeColourMaps();
        EXPECT_FALSE(frame.Transparent());
        EXPECT_EQ(frame.GraphicControlExtension()->TransparentColorIndex(), 0);
        EXPECT_EQ(frame.GraphicControlExtension()->Packed(), 0x08);
        EXPECT_EQ(gif.GlobalColorMap().Count(), 3); // no transparent entry
        EXPECT_EQ(warnings, (std::vector<std::string> { "颜色不在颜色表中" }));
        const TGIFColorMap& global = gif.GlobalColorMap();
        EXPECT_EQ(global[gif.Images()[1].Data()[0]], (TGIFColor { 9, 9, 9 }));
        EXPECT_EQ(global[gif.Images()[1].Data()[1]], (TGIFColor { 6, 6, 6 }));
    }

    TEST(TColorMapOptimizer, DropsCachedBitmaps)
    {
        TGIFImage gif;
        gif.AddFrame(MakeIndexed(2, 1, { { 5, 5, 5 }, { 6, 6, 6 } },
            [](int x, int) { return static_cast<std::uint8_t>(1 - x); }));
        const TDIB& before = gif.FrameBitmap(0);
        EXPECT_EQ(before.ColorTable()[0], (TRGBQuad { 5, 5, 5, 0 }));
        gif.MergeColourMaps();
        EXPECT_FALSE(gif.Images()[0].HasBitmap());
        const TDIB& after = gif.FrameBitmap(0);
        EXPECT_EQ(after.ColorTable()[after.ConstScanLine(0)[1]], (TRGBQuad { 5, 5, 5, 0 }));
        EXPECT_EQ(after.ColorTable()[after.ConstScanLine(0)[0]], (TRGBQuad { 6, 6, 6, 0 }));
    }

} // namespace
} // namespace zx

// Hostile GIF files: huge screens and frames, LZW tables that loop, endless
// sub-block chains, thousands of empty frames, files cut at every byte. Each
// input is made here. The reader must refuse such a file with its error
// (before allocating anything large), or load it; it must never crash, read or
// write outside its buffers (the sanitizer build watches), or leave its target
// half-changed.

#include "GIFTestUtil.h"
#include "HostileTestUtil.h"
#include "core/Errors.h"
#include "core/Limits.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitLZW.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

using namespace zx;
using namespace zx::hostile_test;

namespace {

// ---------------------------------------------------------------------------
// GIF files

// Signature, logical screen descriptor and a global table of two colours.
Bytes GIFStart(std::uint16_t width, std::uint16_t height)
{
    Bytes out;
    AppendText(out, "GIF89a"); // signature and version
    U16(out, width); // logical screen width
    U16(out, height); // logical screen height
    U8(out, 0x80); // global table present, 2 entries
    U8(out, 0); // background colour index
    U8(out, 0); // pixel aspect ratio
    Append(out, { 0, 0, 0, 255, 255, 255 }); // black, white
    return out;
}

void ImageDescriptor(Bytes& out, std::uint16_t width, std::uint16_t height)
{
    U8(out, 0x2C); // image separator
    U16(out, 0); // left
    U16(out, 0); // top
    U16(out, width);
    U16(out, height);
    U8(out, 0); // no local table, not interlaced
}

// Packs codes of the given widths, least significant bit first, into bytes.
using gif_test::PackCodeBits;

// Image data: minimum code size, the bytes as one sub-block, terminator.
void ImageData(Bytes& out, std::uint8_t minCodeSize, const Bytes& data)
{
    U8(out, minCodeSize);
    if (!data.empty()) {
        U8(out, static_cast<std::uint32_t>(data.size()));
        Append(out, data);
    }
    U8(out, 0);
}

// A whole GIF: a screen of width x height with one frame of the same size
// whose image data is the codes given.
Bytes OneFrameGIF(
    std::uint16_t width, std::uint16_t height, std::uint8_t minCodeSize, const Bytes& data)
{
    Bytes out = GIFStart(width, height);
    ImageDescriptor(out, width, height);
    ImageData(out, minCodeSize, data);
    U8(out, 0x3B); // trailer
    return out;
}

// Loads into a TGIFImage, checking that a failure restores the stream's
// position. Returns the error text, empty on success.
std::string LoadGIF(const Bytes& file, TGIFImage& gif, std::uint64_t startAt = 0)
{
    TSpanStream stream(file);
    stream.SetPosition(startAt);
    try {
        gif.LoadFromStream(stream);
        return {};
    } catch (const std::exception& e) {
        EXPECT_EQ(stream.Position(), startAt) << "stream left elsewhere after: " << e.what();
        return e.what();
    }
}

// LoadGIFPicture into a marked target; on failure checks the target is as it
// was and returns the error text.
std::string LoadGIFTexture(const Bytes& file)
{
    TMarkedTarget<TDIB> marked;
    TDIB& target = marked.Target;
    try {
        LoadGIFPicture(file, target);
        return {};
    } catch (const std::exception& e) {
        marked.ExpectUntouched();
        return e.what();
    }
}

TEST(HostileGIF, HugeLogicalScreenLoadsAsAModelButNeverAsATexture)
{
    // 65535 x 65535 screen, one 1 x 1 frame: the model holds only the frame;
    // the 12 GiB texture is refused before it is made.
    const Bytes file = OneFrameGIF(1, 1, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 5, 3 } }));
    Bytes huge = file;
    huge[6] = huge[7] = huge[8] = huge[9] = 0xFF; // screen 65535 x 65535
    TGIFImage gif;
    EXPECT_EQ(LoadGIF(huge, gif), "");
    EXPECT_EQ(gif.Width(), 65535);
    EXPECT_EQ(gif.Images().Count(), 1);

    TMarkedTarget<TDIB> marked;
    TDIB& target = marked.Target;
    EXPECT_THROW(LoadGIFPicture(huge, target), EImageTooLarge);
    marked.ExpectUntouched();
}

TEST(HostileGIF, HugeFramesAreRefusedBeforeTheirPixelsExist)
{
    // A 65535 x 65535 frame (4 GiB of indices), and a 0 x 0 frame on a
    // 65535 x 65535 screen (which takes the screen's size).
    const Bytes data = PackCodeBits({ { 4, 3 }, { 1, 3 }, { 5, 3 } });
    Bytes bigFrame = GIFStart(10, 10);
    ImageDescriptor(bigFrame, 65535, 65535);
    ImageData(bigFrame, 2, data);
    Bytes zeroFrame = GIFStart(65535, 65535);
    ImageDescriptor(zeroFrame, 0, 0);
    ImageData(zeroFrame, 2, data);
    for (const Bytes& file : { bigFrame, zeroFrame }) {
        Bytes withPrefix = { 1, 2, 3 }; // the GIF starts at offset 3 of its stream
        Append(withPrefix, file);
        TSpanStream stream(withPrefix);
        stream.SetPosition(3);
        TGIFImage gif;
        EXPECT_THROW(gif.LoadFromStream(stream), EImageTooLarge);
        EXPECT_EQ(stream.Position(), 3u);
        TMarkedTarget<TDIB> marked;
        TDIB& target = marked.Target;
        EXPECT_THROW(LoadGIFPicture(file, target), EImageTooLarge);
        marked.ExpectUntouched();
    }
}

TEST(HostileGIF, LargestAllowedFrameKeepsOnlyTheDataItHolds)
{
    // 65535 x 8192 is just under 512 MiB: accepted, but three codes of data
    // give one pixel, and that is all that is stored until the pixels are
    // asked for.
    const std::size_t before = HeapInUse();
    TGIFImage gif;
    EXPECT_EQ(
        LoadGIF(OneFrameGIF(65535, 8192, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 5, 3 } })), gif),
        "");
    ASSERT_EQ(gif.Images().Count(), 1);
    EXPECT_EQ(gif.Images()[0].PixelCount(), 65535u * 8192u);
    EXPECT_LT(HeapInUse() - before, std::size_t(1) << 20);
}

TEST(HostileGIF, CodesBeyondTheTableDecodeAsThePreviousString)
{
    // Minimum code size 2 (clear 4, end 5, first free 6), 3-bit codes:
    // clear, 1, then 7 (two beyond the table): "the first pixel, then the
    // previous string" gives 1, 1; then end.
    const Bytes file
        = OneFrameGIF(3, 1, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 7, 3 }, { 5, 3 } }));
    TGIFImage gif;
    ASSERT_EQ(LoadGIF(file, gif), "");
    const auto data = gif.Images()[0].Data();
    EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes { 1, 1, 1 }));
}

TEST(HostileGIF, CircularTableEntriesAreAnError)
{
    // clear, 6 (beyond the table as the first code), 7 (beyond: makes entry
    // 6 its own prefix), 6: the walk through entry 6 leads back to itself.
    const Bytes selfLoop
        = OneFrameGIF(8, 8, 2, PackCodeBits({ { 4, 3 }, { 6, 3 }, { 7, 3 }, { 6, 3 } }));
    // clear, 7, 6 (entry 6 -> 7), 7 (entry 7 -> 6), then 6 at 4 bits: a
    // loop of two entries.
    const Bytes twoLoop
        = OneFrameGIF(8, 8, 2, PackCodeBits({ { 4, 3 }, { 7, 3 }, { 6, 3 }, { 7, 3 }, { 6, 4 } }));
    for (const Bytes& file : { selfLoop, twoLoop }) {
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(file, gif), "Circular decoder table entry");
        EXPECT_EQ(LoadGIFTexture(file), "Circular decoder table entry");
    }
}

TEST(HostileGIF, MinimumCodeSizesAtAndBeyondTheEdges)
{
    // Sizes 0 and 1 decode as they come; 12 and 255 are refused.
    Bytes noise(200);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
    for (std::uint8_t size : { 0, 1 }) {
        SCOPED_TRACE(int(size));
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(OneFrameGIF(16, 16, size, noise), gif), "");
        const auto data = gif.Images()[0].Data();
        EXPECT_EQ(data.size(), 256u);
        EXPECT_EQ(LoadGIFTexture(OneFrameGIF(16, 16, size, noise)), "");
    }
    for (std::uint8_t size : { 12, 255 }) {
        SCOPED_TRACE(int(size));
        TGIFImage gif;
        EXPECT_NE(LoadGIF(OneFrameGIF(16, 16, size, noise), gif), "");
        EXPECT_NE(LoadGIFTexture(OneFrameGIF(16, 16, size, noise)), "");
    }
}

TEST(HostileGIF, ExtensionsRunningPastTheEndAreAPrematureEnd)
{
    const std::vector<Bytes> extensions = {
        { 0x21, 0xFE, 16, 'a', 'b', 'c' }, // comment sub-block cut
        { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S' }, // application block cut
        { 0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3,
            1 }, // loop data cut
        { 0x21, 0x01, 12, 0, 0, 0 }, // plain text header cut
        { 0x21, 0x99, 5, 1, 2 }, // unknown label, sub-block cut
        { 0x21 }, // introducer alone
    };
    for (const Bytes& extension : extensions) {
        Bytes file = GIFStart(4, 4);
        Append(file, extension);
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(file, gif), "过早的数据末端");
        EXPECT_EQ(LoadGIFTexture(file), "过早的数据末端");
    }
}

// 1 MB of data sub-blocks of 255 bytes each, every data byte fill, without a
// terminator.
Bytes EndlessSubBlocks(std::uint8_t fill)
{
    Bytes out;
    while (out.size() < (1u << 20)) {
        out.push_back(255);
        out.insert(out.end(), 255, fill);
    }
    return out;
}

TEST(HostileGIF, EndlessSubBlockChainsEndAtTheEndOfTheFile)
{
    // In extensions the chain runs into the end of the file.
    for (const Bytes& head : { Bytes { 0x21, 0xFE }, Bytes { 0x21, 0x99 },
             Bytes { 0x21, 0xFF, 11, 'X', 'X', 'X', 'X', 'X', 'X', 'X', 'X', '1', '.', '0' } }) {
        Bytes file = GIFStart(4, 4);
        Append(file, head);
        Append(file, EndlessSubBlocks(0xFF));
        TGIFImage gif;
        EXPECT_EQ(LoadGIF(file, gif), "过早的数据末端");
    }

    // As image data (codes 0 over and over) it is decoded up to the end of
    // the file; a cut data sub-block is only a warning. A small frame fills
    // up and the rest is skipped.
    for (std::uint16_t size : { 100, 1000 }) {
        Bytes file = GIFStart(size, size);
        ImageDescriptor(file, size, size);
        U8(file, 8); // minimum code size
        Append(file, EndlessSubBlocks(0));
        TGIFImage gif;
        std::vector<std::string> warnings;
        gif.OnWarning = [&warnings](const std::string& message) { warnings.push_back(message); };
        ASSERT_EQ(LoadGIF(file, gif), "");
        const auto data = gif.Images()[0].Data();
        EXPECT_EQ(data.size(), std::size_t(size) * size);
        EXPECT_EQ(std::count(data.begin(), data.end(), 0), std::ptrdiff_t(data.size()));
        EXPECT_EQ(LoadGIFTexture(file), "");
    }
}

TEST(HostileGIF, ManyConsecutiveExtensionsLoad)
{
    // 100000 empty comments and 1000 graphic control extensions before one
    // frame.
    Bytes file = GIFStart(2, 1);
    for (int i = 0; i < 100000; ++i)
        Append(file, { 0x21, 0xFE, 0 });
    for (int i = 0; i < 1000; ++i)
        Append(file, { 0x21, 0xF9, 4, 0x01, 0, 0, 1, 0 }); // transparent index 1
    ImageDescriptor(file, 2, 1);
    ImageData(file, 2, PackCodeBits({ { 4, 3 }, { 0, 3 }, { 1, 3 }, { 5, 3 } }));
    U8(file, 0x3B);
    TGIFImage gif;
    ASSERT_EQ(LoadGIF(file, gif), "");
    ASSERT_EQ(gif.Images().Count(), 1);
    EXPECT_EQ(gif.Images()[0].Extensions().Count(), 101000);
    EXPECT_TRUE(gif.Images()[0].Transparent());
    EXPECT_EQ(LoadGIFTexture(file), "");
}

TEST(HostileGIF, TenThousandFramesWithoutDataLoadWithoutPixelStorage)
{
    // 10000 frames of 256 x 256 whose image data is a code size and a
    // terminator. Stored as full index arrays they would take 655 MB; kept
    // as the data they hold they take next to nothing.
    Bytes file = GIFStart(256, 256);
    for (int i = 0; i < 10000; ++i) {
        ImageDescriptor(file, 256, 256);
        ImageData(file, 2, {});
    }
    U8(file, 0x3B);
    const std::size_t before = HeapInUse();
    TGIFImage gif;
    std::size_t underRuns = 0;
    gif.OnWarning = [&underRuns](const std::string& message) {
        underRuns += message == "Decoder bit buffer under-run";
    };
    ASSERT_EQ(LoadGIF(file, gif), "");
    ASSERT_EQ(gif.Images().Count(), 10000);
    // Each frame's terminator came where its first code should have.
    EXPECT_EQ(underRuns, 10000u);
    const std::size_t grown = HeapInUse() - before;
    EXPECT_LT(grown, std::size_t(10000) * 2048) << "bytes per frame: " << grown / 10000;

    // Data that ends right after the code size: no warning, no pixels.
    Bytes cut = GIFStart(4, 4);
    ImageDescriptor(cut, 4, 4);
    U8(cut, 2);
    TGIFImage cutGif;
    cutGif.OnWarning = [](const std::string& message) { ADD_FAILURE() << message; };
    EXPECT_EQ(LoadGIF(cut, cutGif), "");
    EXPECT_EQ(cutGif.Images()[0].Data().size(), 16u);

    // Asked for, a frame's pixels exist and keep the fill value.
    const auto data = gif.Images()[9999].Data();
    EXPECT_EQ(data.size(), 65536u);
    EXPECT_EQ(std::count(data.begin(), data.end(), 0), 65536);
    EXPECT_EQ(LoadGIFTexture(file), "");
}

TEST(HostileGIF, FramesTogetherStopAtTheAnimationLimit)
{
    // LZW packs a run of 1000 x 1000 zeros into under 2 KB, so a small file
    // of many such frames asks for far more memory than its size suggests.
    // The reader keeps a running total and stops at the image's limit,
    // whichever frame crosses it.
    const Bytes zeros(1000 * 1000, 0);
    Bytes data;
    TLZWEncoder::Encode(zeros, 1, 2, data);
    ASSERT_LT(data.size(), 2048u);
    Bytes file = GIFStart(1000, 1000);
    for (int i = 0; i < 5; ++i) {
        ImageDescriptor(file, 1000, 1000);
        Append(file, data);
    }
    U8(file, 0x3B);

    TGIFImage gif;
    ASSERT_EQ(LoadGIF(file, gif), "");
    EXPECT_EQ(gif.DecodeLimit(), kMaxAnimationBytes);
    ASSERT_EQ(gif.Images().Count(), 5);

    // Room for four frames and a half: the fifth frame is refused, and the
    // same image then reads a smaller file again from a zero total.
    TGIFImage limited;
    limited.SetDecodeLimit(4500000);
    EXPECT_EQ(LoadGIF(file, limited), "图像太大: 动画各帧的像素内存合计超过 4 MiB");
    Bytes four = GIFStart(1000, 1000);
    for (int i = 0; i < 4; ++i) {
        ImageDescriptor(four, 1000, 1000);
        Append(four, data);
    }
    U8(four, 0x3B);
    EXPECT_EQ(LoadGIF(four, limited), "");
    EXPECT_EQ(LoadGIF(four, limited), "");
    EXPECT_EQ(limited.Images().Count(), 4);
}

TEST(HostileGIF, EveryTruncationFailsCleanlyOrLoads)
{
    // Two frames with a loop extension, a graphic control extension and a
    // comment, cut at every byte.
    Bytes whole = GIFStart(3, 2);
    Append(whole, { 0x21, 0xFF, 11 });
    AppendText(whole, "NETSCAPE2.0");
    Append(whole, { 3, 1, 0, 0, 0 });
    Append(whole, { 0x21, 0xF9, 4, 0x05, 10, 0, 1, 0 });
    ImageDescriptor(whole, 3, 2);
    ImageData(
        whole, 2, PackCodeBits({ { 4, 3 }, { 0, 3 }, { 1, 3 }, { 6, 3 }, { 7, 3 }, { 5, 3 } }));
    Append(whole, { 0x21, 0xFE, 2, 'h', 'i', 0 });
    ImageDescriptor(whole, 3, 2);
    ImageData(whole, 2, PackCodeBits({ { 4, 3 }, { 1, 3 }, { 1, 3 }, { 5, 3 } }));
    U8(whole, 0x3B);
    {
        TGIFImage gif;
        ASSERT_EQ(LoadGIF(whole, gif), "");
        ASSERT_EQ(gif.Images().Count(), 2);
    }
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        TGIFImage gif;
        if (LoadGIF(file, gif).empty()) {
            for (auto& frame : gif.Images())
                EXPECT_EQ(frame->Data().size(), frame->PixelCount());
        }
        LoadGIFTexture(file);
    }
}

} // namespace

#include "core/imaging/XDIBUnit.h"

#include "core/Errors.h"
#include "core/Stream.h"
#include "core/imaging/XDIBDraw.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace zx;

namespace {

// Expects fn to throw exception type E whose message is exactly text.
template <typename E, typename Fn> void ExpectError(Fn fn, const std::string& text)
{
    try {
        fn();
        FAIL() << "expected an error: " << text;
    } catch (const E& error) {
        EXPECT_EQ(error.what(), text);
    }
}

} // namespace

TEST(TDIB, NewPictureIsEmpty)
{
    TDIB dib;
    EXPECT_TRUE(dib.Empty());
    EXPECT_EQ(dib.Width(), 0);
    EXPECT_EQ(dib.Height(), 0);
    EXPECT_EQ(dib.BitCount(), 0);
    EXPECT_EQ(dib.Image(), SharedEmptyImage());
    EXPECT_EQ(dib.ColorTable(), GreyRamp());
    ExpectError<EInvalidGraphicOperation>([&] { dib.ScanLine(0); }, "扫描线指针超过范围。(0)");
}

TEST(TDIB, RowLayoutFollowsBitCount)
{
    struct Case {
        int bitCount, width, rowBytes;
    };
    for (const Case c : { Case { 1, 1, 4 }, Case { 1, 33, 8 }, Case { 4, 9, 8 }, Case { 8, 5, 8 },
             Case { 16, 3, 8 }, Case { 24, 5, 16 }, Case { 32, 3, 12 } }) {
        TDIB dib;
        if (c.bitCount == 16)
            dib.SetPixelFormat(Layout565());
        dib.SetSize(c.width, 3, c.bitCount);
        EXPECT_EQ(dib.RowBytes(), c.rowBytes) << c.bitCount << " bits, width " << c.width;
        EXPECT_EQ(dib.Size(), c.rowBytes * 3);
        EXPECT_EQ(dib.RowStep(), -c.rowBytes);
        EXPECT_EQ(dib.PaletteCount(), c.bitCount <= 8 ? 1 << c.bitCount : 0);
        // Row 0 is the top row, stored last; Bits is the bottom row.
        EXPECT_EQ(dib.ScanLine(0), dib.Bits() + 2 * c.rowBytes);
        EXPECT_EQ(dib.TopBits(), dib.ScanLine(0));
        EXPECT_EQ(dib.ScanLine(2), dib.Bits());
    }
}

TEST(TDIB, AllocateRejectsBadBitCountsAndLayouts)
{
    TDIB dib;
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 2); }, "Bitcount in invalid (2)");
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 16); }, "像素格式无效");
    dib.SetPixelFormat(Layout555());
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 24); }, "像素格式无效");
    dib.SetPixelFormat(MakeChannelLayout(4, 4, 4));
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 16); }, "像素格式无效");
    EXPECT_TRUE(dib.Empty());
}

TEST(TDIB, SetSizeKeepsPixelsWhenNothingChanges)
{
    TDIB dib;
    dib.SetSize(7, 5, 24);
    dib.ScanLine(3)[4] = 0xAB;
    const auto storage = dib.Image();
    dib.SetSize(7, 5, 24);
    EXPECT_EQ(dib.Image(), storage);
    EXPECT_EQ(dib.ScanLine(3)[4], 0xAB);
    dib.SetSize(0, 5, 24);
    EXPECT_TRUE(dib.Empty());
    dib.SetSize(5, -1, 24);
    EXPECT_TRUE(dib.Empty());
}

TEST(TDIB, LargePicturesStartBlackAndHoldEveryByte)
{
    // Around the sizes where the storage changes kind (a mapping of its own
    // from 2 MiB on): every byte starts at zero, takes a write, and a copy
    // holds the same bytes once the first is gone.
    for (const auto& [width, height] : { std::pair { 698, 1000 }, std::pair { 699, 1000 },
             std::pair { 1280, 720 }, std::pair { 1920, 1200 }, std::pair { 2000, 2000 } }) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        TDIB copy;
        {
            TDIB dib;
            dib.SetSize(width, height, 24);
            const std::size_t size = static_cast<std::size_t>(dib.Size());
            const std::uint8_t* bits = dib.Bits();
            ASSERT_EQ(std::count(bits, bits + size, 0), static_cast<std::ptrdiff_t>(size));
            std::uint8_t* out = dib.Bits();
            for (std::size_t i = 0; i < size; ++i)
                out[i] = static_cast<std::uint8_t>(i * 7 + i / 4099);
            copy.Assign(dib);
            copy.ScanLine(0)[0] ^= 0xFF;
        }
        // The copy is its own storage: the flipped byte is in it alone.
        const std::uint8_t* bits = copy.ConstBits();
        const std::size_t size = static_cast<std::size_t>(copy.Size());
        const std::size_t flipped = static_cast<std::size_t>(copy.ConstScanLine(0) - bits);
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const auto expected
                = static_cast<std::uint8_t>((i * 7 + i / 4099) ^ (i == flipped ? 0xFF : 0));
            wrong += bits[i] != expected;
        }
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(TDIB, WidthAndHeightSetters)
{
    TDIB dib;
    dib.SetWidth(10);
    EXPECT_EQ(dib.Width(), 10);
    EXPECT_EQ(dib.Height(), 1);
    EXPECT_EQ(dib.BitCount(), 8);
    EXPECT_EQ(dib.ColorTable(), GreyRamp());
    dib.SetHeight(4);
    EXPECT_EQ(dib.Width(), 10);
    EXPECT_EQ(dib.Height(), 4);
    EXPECT_EQ(dib.BitCount(), 8);
    dib.SetHeight(0);
    EXPECT_TRUE(dib.Empty());
    TDIB tall;
    tall.SetHeight(6);
    EXPECT_EQ(tall.Width(), 1);
    EXPECT_EQ(tall.Height(), 6);
}

TEST(TDIB, AssignSharesAndWritesCopy)
{
    TDIB a;
    a.SetSize(4, 2, 24);
    std::memset(a.Bits(), 0x11, a.Size());
    TDIB b;
    b.Assign(a);
    EXPECT_EQ(a.Image(), b.Image());
    b.ScanLine(1)[0] = 0x99;
    EXPECT_NE(a.Image(), b.Image());
    EXPECT_EQ(a.ConstScanLine(1)[0], 0x11);
    EXPECT_EQ(b.ConstScanLine(1)[0], 0x99);
    EXPECT_EQ(b.ConstScanLine(0)[0], 0x11);

    // Copy construction shares too; reading never unshares.
    const TDIB c(a);
    EXPECT_EQ(c.Image(), a.Image());
    EXPECT_EQ(c.Pixel(0, 0), a.Pixel(0, 0));
    EXPECT_EQ(c.Image(), a.Image());
}

TEST(TDIB, PixelByteOrders)
{
    TDIB rgb;
    rgb.SetSize(2, 2, 24);
    std::uint8_t* row = rgb.ScanLine(1);
    row[3] = 0x10;
    row[4] = 0x20;
    row[5] = 0x30;
    EXPECT_EQ(rgb.Pixel(1, 1), 0x102030u); // red in the low byte
    EXPECT_EQ(rgb.Pixel(-1, 0), 0u);
    EXPECT_EQ(rgb.Pixel(2, 0), 0u);
    EXPECT_EQ(rgb.Pixel(0, 2), 0u);

    TDIB quad;
    quad.SetSize(2, 1, 32);
    std::uint8_t* p = quad.ScanLine(0) + 4;
    p[0] = 0x10;
    p[1] = 0x20;
    p[2] = 0x30;
    p[3] = 0x00;
    EXPECT_EQ(quad.Pixel(1, 0), 0x302010u); // the raw word, blue in the low byte

    TDIB mono;
    mono.SetSize(9, 1, 1);
    mono.ScanLine(0)[0] = 0x40;
    mono.ScanLine(0)[1] = 0x80;
    EXPECT_EQ(mono.Pixel(1, 0), 1u);
    EXPECT_EQ(mono.Pixel(0, 0), 0u);
    EXPECT_EQ(mono.Pixel(8, 0), 1u);

    TDIB nibbles;
    nibbles.SetSize(3, 1, 4);
    nibbles.ScanLine(0)[0] = 0xA5;
    nibbles.ScanLine(0)[1] = 0xC0;
    EXPECT_EQ(nibbles.Pixel(0, 0), 0xAu);
    EXPECT_EQ(nibbles.Pixel(1, 0), 0x5u);
    EXPECT_EQ(nibbles.Pixel(2, 0), 0xCu);

    TDIB words;
    words.SetPixelFormat(Layout555());
    words.SetSize(1, 1, 16);
    words.ScanLine(0)[0] = 0x34;
    words.ScanLine(0)[1] = 0x12;
    EXPECT_EQ(words.Pixel(0, 0), 0x1234u);
}

TEST(TDIB, UpdatePaletteCommitsOnlyChanges)
{
    TDIB dib;
    dib.SetSize(2, 2, 8);
    dib.SetPaletteModified(false);
    const auto storage = dib.Image();
    dib.UpdatePalette();
    EXPECT_FALSE(dib.PaletteModified());
    EXPECT_EQ(dib.Image(), storage);

    TDIB shared(dib);
    dib.ColorTable()[3] = TRGBQuad { 1, 2, 3, 0 };
    dib.UpdatePalette();
    EXPECT_TRUE(dib.PaletteModified());
    EXPECT_EQ(dib.Image()->ColorTable()[3], (TRGBQuad { 1, 2, 3, 0 }));
    EXPECT_EQ(dib.ColorTable()[3], (TRGBQuad { 1, 2, 3, 0 }));
    // The other picture kept its table: the change unshared the storage.
    EXPECT_EQ(shared.Image()->ColorTable()[3], (TRGBQuad { 3, 3, 3, 0 }));
    // The table inside the header follows the committed one.
    EXPECT_EQ(dib.Image()->BitmapInfo()[40 + 12], 1);
    EXPECT_EQ(dib.Image()->BitmapInfo()[40 + 14], 3);
}

TEST(TDIB, ImportantColourCountIsWrittenForThisPictureOnly)
{
    TDIB dib;
    dib.SetSize(2, 2, 8);
    TDIB shared(dib);
    dib.SetImportantColorCount(0x01020311);
    // The other picture keeps its header: the change unshared the storage.
    EXPECT_NE(dib.Image(), shared.Image());

    // biClrImportant is bytes 36..39 of the info header, after the 14-byte
    // file header.
    auto importantField = [](const TDIB& picture) {
        TMemoryStream bmp;
        picture.SaveToStream(bmp);
        const auto& bytes = bmp.Data();
        return std::vector<std::uint8_t>(bytes.begin() + 14 + 36, bytes.begin() + 14 + 40);
    };
    EXPECT_EQ(importantField(dib), (std::vector<std::uint8_t> { 0x11, 0x03, 0x02, 0x01 }));
    EXPECT_EQ(importantField(shared), (std::vector<std::uint8_t> { 0, 0, 0, 0 }));
    // Nothing else of the header changed.
    EXPECT_EQ(dib.Image()->ImageSize(), shared.Image()->ImageSize());
    EXPECT_EQ(dib.Image()->BitmapInfoSize(), shared.Image()->BitmapInfoSize());

    // An empty picture has no header to write into.
    TDIB empty;
    empty.SetImportantColorCount(5);
    EXPECT_TRUE(empty.Empty());
}

TEST(TDIB, UnsavedTableEditsAreLostOnStorageSwitch)
{
    TDIB dib;
    dib.SetSize(2, 2, 8);
    dib.ColorTable()[0] = TRGBQuad { 9, 9, 9, 0 };
    TDIB other;
    other.SetSize(3, 3, 8);
    dib.Assign(other);
    EXPECT_EQ(dib.ColorTable()[0], (TRGBQuad { 0, 0, 0, 0 }));
}

TEST(TPaletteManager, EqualTablesShareOnePalette)
{
    TDIB a;
    a.SetSize(2, 2, 8);
    TDIB b;
    b.SetSize(3, 3, 8);
    const auto itemsBefore = PaletteManager().ItemCount();
    const HPalette pa = a.GetPalette();
    const HPalette pb = b.GetPalette();
    ASSERT_NE(pa, 0u);
    EXPECT_EQ(pa, pb);
    EXPECT_EQ(PaletteManager().RefCount(pa), 2);
    EXPECT_LE(PaletteManager().ItemCount(), itemsBefore + 1);

    b.ColorTable()[5] = TRGBQuad { 0, 0, 255, 0 };
    b.UpdatePalette();
    const HPalette pc = b.GetPalette();
    EXPECT_NE(pc, pa);
    EXPECT_EQ(PaletteManager().RefCount(pa), 1);
    // The platform palette holds red, green, blue, flags.
    const auto entries = PaletteManager().Entries(pc);
    ASSERT_EQ(entries.size(), 256u);
    EXPECT_EQ(entries[5], (std::array<std::uint8_t, 4> { 255, 0, 0, 0 }));

    a.Clear();
    EXPECT_EQ(PaletteManager().RefCount(pa), 0);

    TDIB rgb;
    rgb.SetSize(2, 2, 24);
    EXPECT_EQ(rgb.GetPalette(), 0u);
}

TEST(TPaletteManager, ReleaseOfUnknownHandleDoesNothing)
{
    TPaletteManager manager;
    const TDIBColorTable table = GreyRamp();
    HPalette first = manager.AcquirePalette(table.data(), 16);
    HPalette second = manager.AcquirePalette(table.data(), 16);
    EXPECT_EQ(first, second);
    HPalette other = manager.AcquirePalette(table.data(), 2);
    EXPECT_NE(other, first);
    HPalette none = 0;
    manager.ReleasePalette(none);
    HPalette unknown = 12345;
    manager.ReleasePalette(unknown);
    EXPECT_EQ(unknown, 12345u);
    manager.ReleasePalette(first);
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(manager.RefCount(second), 1);
    manager.ReleasePalette(second);
    EXPECT_EQ(manager.ItemCount(), 1u);
}

TEST(TDIB, SetPaletteTakesPlatformEntries)
{
    TDIBColorTable table {};
    table[1] = TRGBQuad { 10, 20, 30, 0 };
    HPalette palette = PaletteManager().AcquirePalette(table.data(), 2);
    TDIB dib;
    dib.SetSize(2, 2, 1);
    dib.SetPalette(palette);
    EXPECT_EQ(dib.Image()->ColorTable()[1], (TRGBQuad { 10, 20, 30, 0 }));
    EXPECT_EQ(PaletteManager().RefCount(palette), 0);
}

TEST(TDIBChannelLayout, LayoutsFromWidthsAndMasks)
{
    const auto l565 = MakeChannelLayout(5, 6, 5);
    EXPECT_EQ(l565.RedMask, 0xF800);
    EXPECT_EQ(l565.GreenMask, 0x07E0);
    EXPECT_EQ(l565.BlueMask, 0x001F);
    EXPECT_EQ(l565.RedShift, 8);
    EXPECT_EQ(l565.GreenShift, 3);
    EXPECT_EQ(l565.BlueShift, 3);
    EXPECT_EQ(l565.GreenFill, 2);
    EXPECT_EQ(Layout888().RedMask, 0xFF0000);
    EXPECT_EQ(Layout555().RedMask, 0x7C00);
    // Only the widths count, not the positions.
    EXPECT_EQ(MakeChannelLayoutFromMasks(0xFF, 0xFF00, 0xFF0000), Layout888());
    EXPECT_EQ(MakeChannelLayoutFromMasks(0x001F, 0x07E0, 0xF800), Layout565());
    const auto zero = MakeChannelLayoutFromMasks(0, 0, 0);
    EXPECT_EQ(zero.RedBits, 0);
    EXPECT_EQ(zero.BlueMask, 0);
    // A run of 32 ones stops counting at 32 and does not loop forever.
    EXPECT_EQ(MakeChannelLayoutFromMasks(0xFFFFFFFF, 0, 0).RedBits, 32);
}

TEST(DecodeRLE, Rle8RunsAbsoluteRunsAndOffsets)
{
    auto image = TDIBSharedImage::Allocate(6, 3, 8, Layout888(), GreyRamp(), true, false);
    const std::uint8_t stream[] = {
        3, 7, // run: three pixels of 7 in the bottom row
        0, 3, 1, 2, 3, 0, // absolute run of 3, padded to an even offset
        0, 0, // end of row
        0, 2, 2, 1, // offset: two right, one up
        2, 9, // two pixels of 9 at (2, 2) counted from the bottom
        0, 1, // end of picture
        5, 5, // ignored
    };
    DecodeRLE(stream, 8, *image);
    const std::uint8_t* bottom = image->Bits();
    EXPECT_EQ(bottom[0], 7);
    EXPECT_EQ(bottom[2], 7);
    EXPECT_EQ(bottom[3], 1);
    EXPECT_EQ(bottom[5], 3);
    const std::uint8_t* top = image->Bits() + 2 * image->RowBytes();
    EXPECT_EQ(top[1], 0);
    EXPECT_EQ(top[2], 9);
    EXPECT_EQ(top[3], 9);
    EXPECT_EQ(top[4], 0);
}

TEST(DecodeRLE, Rle4KeepsTheOtherNibble)
{
    auto image = TDIBSharedImage::Allocate(5, 1, 4, Layout888(), GreyRamp(), true, false);
    const std::uint8_t stream[] = {
        3,
        0x12, // pixels 1, 2, 1
        0,
        3,
        0xAB,
        0xC0, // absolute: A, B, C
        0,
        1,
    };
    DecodeRLE(stream, 4, *image);
    const std::uint8_t* row = image->Bits();
    EXPECT_EQ(row[0], 0x12);
    EXPECT_EQ(row[1], 0x1A);
    EXPECT_EQ(row[2], 0xB0); // pixel 5 lies outside the 5-pixel row
}

TEST(DecodeRLE, MalformedStreamsStayInsideThePixels)
{
    // Runs past the row, offsets past the last row, absolute runs cut by the end
    // of the stream: none may write outside the 4 x 2 picture (ASan checks).
    auto image = TDIBSharedImage::Allocate(4, 2, 8, Layout888(), GreyRamp(), true, false);
    const std::uint8_t runs[]
        = { 255, 1, 255, 2, 0, 0, 0, 2, 255, 255, 9, 9, 0, 0, 0, 0, 0, 0, 4, 4 };
    DecodeRLE(runs, 8, *image);
    const std::uint8_t cut[] = { 0, 200, 1, 2 };
    DecodeRLE(cut, 8, *image);
    const std::uint8_t deltaCut[] = { 0, 2, 1 };
    DecodeRLE(deltaCut, 4, *image);
    EXPECT_EQ(image->Bits()[0], 1);
    EXPECT_EQ(image->Bits()[3], 1);
    EXPECT_EQ(image->Bits()[4], 0); // the second row of a 4-pixel picture at 8 bits
}

TEST(TDIB, CompressedStorageDecodesOnFirstPixelAccess)
{
    auto image = TDIBSharedImage::Allocate(4, 2, 8, Layout888(), GreyRamp(), true, true);
    ASSERT_TRUE(image->Compressed());
    EXPECT_EQ(image->Bits(), nullptr);
    image->SetCompressedData({ 4, 5, 0, 0, 2, 6, 0, 1 });
    EXPECT_EQ(image->ImageSize(), 8u);
    EXPECT_EQ(image->Compression(), 1u);
    TDIB dib;
    dib.SetImage(image);
    EXPECT_TRUE(dib.Compressed());
    TDIB copy(dib);
    EXPECT_EQ(dib.Pixel(0, 1), 5u); // bottom row
    EXPECT_EQ(dib.Pixel(1, 0), 6u);
    EXPECT_EQ(dib.Pixel(2, 0), 0u);
    EXPECT_FALSE(dib.Compressed());
    // The other picture still shares the stream.
    EXPECT_TRUE(copy.Compressed());
    EXPECT_EQ(copy.Image(), image);
}

TEST(XDIBDraw, DrawConvertsAndClips)
{
    TDIB indexed;
    indexed.SetSize(3, 2, 8);
    indexed.ColorTable()[1] = TRGBQuad { 0x30, 0x20, 0x10, 0 };
    indexed.UpdatePalette();
    std::memset(indexed.Bits(), 1, indexed.Size());
    indexed.ScanLine(0)[0] = 0;

    TDIB target;
    target.SetSize(4, 3, 24);
    std::memset(target.Bits(), 0xEE, target.Size());
    DrawDIB(target, 2, 2, indexed);
    // Only the top-left 2 x 1 corner of the source lands inside.
    EXPECT_EQ(target.Pixel(2, 2), 0x000000u);
    EXPECT_EQ(target.Pixel(3, 2), 0x302010u);
    EXPECT_EQ(target.Pixel(1, 2), 0xEEEEEEu);
    EXPECT_EQ(target.Pixel(3, 1), 0xEEEEEEu);

    DrawDIB(target, -1, -1, indexed);
    EXPECT_EQ(target.Pixel(0, 0), 0x302010u);
    EXPECT_EQ(target.Pixel(1, 0), 0x302010u);
    EXPECT_EQ(target.Pixel(2, 0), 0xEEEEEEu);

    TDIB words;
    words.SetPixelFormat(Layout555());
    words.SetSize(1, 1, 16);
    words.ScanLine(0)[0] = 0xFF; // 0x7FFF: white
    words.ScanLine(0)[1] = 0x7F;
    DrawDIB(target, 0, 0, words);
    EXPECT_EQ(target.Pixel(0, 0), 0xFFFFFFu);

    TDIB mono;
    mono.SetSize(2, 1, 1);
    mono.ColorTable()[1] = TRGBQuad { 0, 0, 255, 0 };
    mono.UpdatePalette();
    mono.ScanLine(0)[0] = 0x40;
    DrawDIB(target, 0, 1, mono);
    EXPECT_EQ(target.Pixel(0, 1), 0x000000u);
    EXPECT_EQ(target.Pixel(1, 1), 0x0000FFu);

    TDIB eight;
    eight.SetSize(2, 2, 8);
    EXPECT_THROW(DrawDIB(eight, 0, 0, indexed), EInvalidGraphicOperation);
}

TEST(XDIBDraw, DrawingOntoASharedPictureLeavesTheSourceAlone)
{
    TDIB a;
    a.SetSize(2, 1, 24);
    std::memset(a.Bits(), 0x40, a.Size());
    TDIB b(a);
    DrawDIB(b, 1, 0, a);
    FillRect(b, 0, 0, 1, 1, 0x0000FF);
    EXPECT_EQ(a.Pixel(0, 0), 0x404040u);
    EXPECT_EQ(b.Pixel(0, 0), 0x0000FFu);
    EXPECT_EQ(b.Pixel(1, 0), 0x404040u);
}

TEST(XDIBDraw, StretchIsNearestNeighbour)
{
    TDIB src;
    src.SetSize(2, 1, 24);
    FillRect(src, 0, 0, 1, 1, 0x0000FF);
    FillRect(src, 1, 0, 2, 1, 0x00FF00);
    TDIB target;
    target.SetSize(5, 2, 24);
    StretchDraw(target, 0, 0, 4, 2, src);
    EXPECT_EQ(target.Pixel(0, 0), 0x0000FFu);
    EXPECT_EQ(target.Pixel(1, 1), 0x0000FFu);
    EXPECT_EQ(target.Pixel(2, 0), 0x00FF00u);
    EXPECT_EQ(target.Pixel(3, 1), 0x00FF00u);
    EXPECT_EQ(target.Pixel(4, 0), 0u); // outside the rectangle: untouched zeros
}

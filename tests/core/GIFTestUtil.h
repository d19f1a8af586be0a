#pragma once

// Helpers shared by the GIF tests: building indexed bitmaps, hand-made GIF
// byte streams with an independent (deliberately naive) LZW coder, and
// decoding through giflib as an independent reader.

#include "core/gif/XGIFUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <gif_lib.h>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zx::gif_test {

using Bytes = std::vector<std::uint8_t>;

// An 8-bit bitmap with the given colours at the start of its table (the
// rest black) and pixel(x, y) as indices.
inline TDIB MakeIndexed(std::int32_t width, std::int32_t height,
    const std::vector<TGIFColor>& colours,
    const std::function<std::uint8_t(std::int32_t, std::int32_t)>& pixel)
{
    TDIBColorTable table {};
    for (std::size_t i = 0; i < colours.size() && i < 256; ++i)
        table[i] = TRGBQuad { colours[i].Blue, colours[i].Green, colours[i].Red, 0 };
    TDIB dib;
    dib.SetSize(width, height, 8);
    dib.ColorTable() = table;
    dib.UpdatePalette();
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = dib.ScanLine(y);
        for (std::int32_t x = 0; x < width; ++x)
            row[x] = pixel(x, y);
    }
    return dib;
}

// What the export does with one reduced frame: append it, pad its table to
// 2^bits entries, put the loop extension on frame 0 and a graphic control
// extension (restore to background) on every frame.
inline TGIFSubImage& AddExportFrame(TGIFImage& gif, const TDIB& reduced, std::int32_t bits,
    bool transparent, std::uint8_t transparentIndex, std::uint16_t delay, std::uint16_t loops)
{
    const std::int32_t k = gif.AddFrame(reduced);
    TGIFSubImage& frame = gif.Images()[k];
    while (frame.ActiveColorMap().Count() < (1 << bits))
        frame.ActiveColorMap().Add(0, 0, 0);
    if (k == 0)
        frame.Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(&frame)).SetLoops(loops);
    auto& gce = frame.Extensions().Add(std::make_unique<TGIFGraphicControlExtension>(&frame));
    gce.SetDelay(delay);
    gce.SetTransparent(transparent);
    if (transparent)
        gce.SetTransparentColorIndex(transparentIndex);
    gce.SetDisposal(TGIFDisposal::dmBackground);
    return frame;
}

// Packs codes of the given widths, least significant bit first, into bytes
// (no sub-blocks, no code size byte).
inline Bytes PackCodeBits(const std::vector<std::pair<int, int>>& codes)
{
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    for (const auto& [code, width] : codes) {
        bits |= static_cast<std::uint32_t>(code) << count;
        count += width;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0)
        out.push_back(static_cast<std::uint8_t>(bits));
    return out;
}

// Image data made of those codes: the minimum code size byte, the codes in
// data sub-blocks of blockSize bytes and, unless told otherwise, the block
// terminator.
inline Bytes PackCodes(int minCodeSize, const std::vector<std::pair<int, int>>& codes,
    std::size_t blockSize = 255, bool terminate = true)
{
    const Bytes raw = PackCodeBits(codes);
    Bytes data { static_cast<std::uint8_t>(minCodeSize) };
    for (std::size_t at = 0; at < raw.size(); at += blockSize) {
        const std::size_t n = std::min(blockSize, raw.size() - at);
        data.push_back(static_cast<std::uint8_t>(n));
        data.insert(data.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
            raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    if (terminate)
        data.push_back(0);
    return data;
}

// A naive but valid LZW coder: a clear code before every pixel keeps the
// code width at minCodeSize + 1 and never builds a table (GIF89a appendix F
// allows clear codes anywhere). Returns the minimum code size byte, the
// sub-blocks and, when terminate, the block terminator.
inline Bytes NaiveLzw(const std::vector<std::uint8_t>& pixels, std::int32_t minCodeSize,
    bool endCode = true, bool terminate = true)
{
    const int clear = 1 << minCodeSize;
    const int width = minCodeSize + 1;
    std::vector<std::pair<int, int>> codes;
    for (const std::uint8_t p : pixels) {
        codes.emplace_back(clear, width);
        codes.emplace_back(p, width);
    }
    if (endCode)
        codes.emplace_back(clear + 1, width);
    return PackCodes(minCodeSize, codes, 255, terminate);
}

inline void Append(Bytes& out, std::initializer_list<std::uint8_t> bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void Append(Bytes& out, const Bytes& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void AppendText(Bytes& out, const char* text)
{
    out.insert(out.end(), text, text + std::strlen(text));
}
inline void AppendWord(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// "GIF89a", a logical screen descriptor and, when colours are given, a
// global table of 2^bits entries.
inline Bytes GifHeader(std::uint16_t width, std::uint16_t height,
    const std::vector<TGIFColor>& colours = {}, std::int32_t bits = 2,
    const char* signature = "GIF89a")
{
    Bytes out;
    AppendText(out, signature);
    AppendWord(out, width);
    AppendWord(out, height);
    out.push_back(colours.empty() ? 0 : static_cast<std::uint8_t>(0x80 | (bits - 1)));
    out.push_back(0);
    out.push_back(0);
    if (!colours.empty())
        for (std::int32_t i = 0; i < (1 << bits); ++i) {
            const TGIFColor c
                = i < static_cast<std::int32_t>(colours.size()) ? colours[i] : TGIFColor {};
            Append(out, { c.Red, c.Green, c.Blue });
        }
    return out;
}

inline void AppendDescriptor(Bytes& out, std::uint16_t left, std::uint16_t top, std::uint16_t width,
    std::uint16_t height, std::uint8_t packed = 0)
{
    out.push_back(0x2C);
    AppendWord(out, left);
    AppendWord(out, top);
    AppendWord(out, width);
    AppendWord(out, height);
    out.push_back(packed);
}

inline void AppendGce(Bytes& out, bool transparent, std::uint8_t index, std::uint16_t delay = 0)
{
    Append(out, { 0x21, 0xF9, 0x04, static_cast<std::uint8_t>(transparent ? 1 : 0) });
    AppendWord(out, delay);
    Append(out, { index, 0x00 });
}

// Everything giflib reads from one file.
struct TGiflibFrame {
    std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool Interlaced = false;
    std::vector<TGIFColor> LocalColours;
    // The table in force for this frame: the local one, else the global one.
    std::vector<TGIFColor> Colours;
    std::vector<std::uint8_t> Pixels; // row-major
    std::int32_t TransparentIndex = -1;
    std::int32_t Delay = 0;
    std::int32_t Disposal = 0;
};
struct TGiflibImage {
    std::int32_t Width = 0, Height = 0;
    std::vector<TGIFColor> GlobalColours;
    std::vector<TGiflibFrame> Frames;
    std::int32_t Loops = -1; // -1: no loop extension
    std::int32_t LoopFrame = -1; // the frame whose extensions hold it
};

inline std::vector<TGIFColor> ToColours(const ColorMapObject* map)
{
    std::vector<TGIFColor> colours;
    if (map)
        for (int i = 0; i < map->ColorCount; ++i)
            colours.push_back(
                TGIFColor { map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue });
    return colours;
}

struct TMemoryReader {
    const Bytes* Data;
    std::size_t Position = 0;
};

inline int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* reader = static_cast<TMemoryReader*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(
        static_cast<std::size_t>(count), reader->Data->size() - reader->Position);
    std::memcpy(buffer, reader->Data->data() + reader->Position, n);
    reader->Position += n;
    return static_cast<int>(n);
}

inline TGiflibImage GiflibDecode(const Bytes& bytes)
{
    TMemoryReader reader { &bytes };
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    if (!gif)
        throw std::runtime_error("DGifOpen failed: " + std::to_string(error));
    if (DGifSlurp(gif) != GIF_OK) {
        const int code = gif->Error;
        DGifCloseFile(gif, &error);
        throw std::runtime_error("DGifSlurp failed: " + std::to_string(code));
    }
    TGiflibImage image;
    image.Width = gif->SWidth;
    image.Height = gif->SHeight;
    image.GlobalColours = ToColours(gif->SColorMap);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& saved = gif->SavedImages[i];
        TGiflibFrame frame;
        frame.Left = saved.ImageDesc.Left;
        frame.Top = saved.ImageDesc.Top;
        frame.Width = saved.ImageDesc.Width;
        frame.Height = saved.ImageDesc.Height;
        frame.Interlaced = saved.ImageDesc.Interlace;
        frame.LocalColours = ToColours(saved.ImageDesc.ColorMap);
        frame.Colours = frame.LocalColours.empty() ? image.GlobalColours : frame.LocalColours;
        frame.Pixels.assign(
            saved.RasterBits, saved.RasterBits + std::size_t(frame.Width) * frame.Height);
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK) {
            frame.TransparentIndex = gcb.TransparentColor;
            frame.Delay = gcb.DelayTime;
            frame.Disposal = gcb.DisposalMode;
        }
        for (int e = 0; e + 1 < saved.ExtensionBlockCount; ++e) {
            const ExtensionBlock& block = saved.ExtensionBlocks[e];
            if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11
                && std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0) {
                const ExtensionBlock& data = saved.ExtensionBlocks[e + 1];
                if (data.ByteCount >= 3 && data.Bytes[0] == 1) {
                    image.Loops = data.Bytes[1] | (data.Bytes[2] << 8);
                    image.LoopFrame = i;
                }
            }
        }
        image.Frames.push_back(std::move(frame));
    }
    DGifCloseFile(gif, &error);
    return image;
}

inline int WriteToMemory(GifFileType* gif, const GifByteType* buffer, int count)
{
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), buffer, buffer + count);
    return count;
}

inline ColorMapObject* MakeGiflibMap(const std::vector<TGIFColor>& colours)
{
    std::vector<GifColorType> entries;
    for (const TGIFColor& c : colours)
        entries.push_back(GifColorType { c.Red, c.Green, c.Blue });
    return GifMakeMapObject(static_cast<int>(entries.size()), entries.data());
}

// Writes image with giflib's own encoder to memory (interlaced frames get
// their rows in the interlaced order, as GIF89a appendix E has it).
inline Bytes GiflibEncode(const TGiflibImage& image)
{
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToMemory, &error);
    if (!gif)
        throw std::runtime_error("EGifOpen failed");
    EGifSetGifVersion(gif, true);
    bool ok = true;
    ColorMapObject* global
        = image.GlobalColours.empty() ? nullptr : MakeGiflibMap(image.GlobalColours);
    ok = ok && EGifPutScreenDesc(gif, image.Width, image.Height, 8, 0, global) == GIF_OK;
    GifFreeMapObject(global);
    for (std::size_t i = 0; ok && i < image.Frames.size(); ++i) {
        const TGiflibFrame& frame = image.Frames[i];
        if (frame.TransparentIndex >= 0 || frame.Delay > 0) {
            GraphicsControlBlock gcb {};
            gcb.DisposalMode = frame.Disposal;
            gcb.DelayTime = frame.Delay;
            gcb.TransparentColor
                = frame.TransparentIndex >= 0 ? frame.TransparentIndex : NO_TRANSPARENT_COLOR;
            GifByteType extension[4];
            const size_t length = EGifGCBToExtension(&gcb, extension);
            ok = ok
                && EGifPutExtension(
                       gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension)
                    == GIF_OK;
        }
        ColorMapObject* local
            = frame.LocalColours.empty() ? nullptr : MakeGiflibMap(frame.LocalColours);
        ok = ok
            && EGifPutImageDesc(
                   gif, frame.Left, frame.Top, frame.Width, frame.Height, frame.Interlaced, local)
                == GIF_OK;
        GifFreeMapObject(local);
        std::vector<int> rows;
        if (frame.Interlaced) {
            const int start[4] = { 0, 4, 2, 1 }, step[4] = { 8, 8, 4, 2 };
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < frame.Height; y += step[pass])
                    rows.push_back(y);
        } else {
            for (int y = 0; y < frame.Height; ++y)
                rows.push_back(y);
        }
        for (const int y : rows) {
            std::vector<GifPixelType> line(
                frame.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * frame.Width,
                frame.Pixels.begin() + static_cast<std::ptrdiff_t>(y + 1) * frame.Width);
            ok = ok && EGifPutLine(gif, line.data(), frame.Width) == GIF_OK;
        }
    }
    if (EGifCloseFile(gif, &error) != GIF_OK || !ok)
        throw std::runtime_error("giflib could not write the file");
    return out;
}

} // namespace zx::gif_test

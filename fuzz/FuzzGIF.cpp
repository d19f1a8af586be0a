// The GIF reader, frame bitmaps and the picture loader's ".GIF" road on
// arbitrary files, and a write-then-read round trip of whatever was read.
//
// Invariants: a failed read restores the stream position and throws one of
// our exceptions; every frame read has width x height indices; a frame
// bitmap has the frame's size; the picture has the logical screen's size at
// 24 bits, and a failed load leaves the target as it was; the frames read,
// written again by our writer, read back to the same pixels.

#include "FuzzTarget.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <algorithm>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Frames and screens above this many pixels are valid but only slow the
// search down.
constexpr std::uint64_t kMaxFuzzPixels = std::uint64_t(1) << 18;

bool Small(const zx::TGIFImage& gif)
{
    if (std::uint64_t(gif.Width()) * std::uint64_t(gif.Height()) > kMaxFuzzPixels)
        return false;
    // The frames together too: bitmaps and the round trip touch every pixel
    // of every frame several times.
    std::uint64_t total = 0;
    for (const auto& frame : gif.Images()) {
        total += frame->PixelCount();
        if (frame->PixelCount() > kMaxFuzzPixels || total > kMaxFuzzPixels)
            return false;
    }
    return true;
}

// Copies the frames' descriptors, tables, pixels and transparency into a new
// image, writes it and reads it back.
void CheckRoundTrip(zx::TGIFImage& gif)
{
    zx::TGIFImage copy;
    copy.GlobalColorMap().Assign(gif.GlobalColorMap());
    for (auto& frame : gif.Images()) {
        if (frame->Empty())
            return; // an image-less frame merges with the next one on reading
        auto out = std::make_unique<zx::TGIFSubImage>(&copy);
        out->SetSize(frame->Width(), frame->Height());
        out->SetLeft(frame->Left());
        out->SetTop(frame->Top());
        out->ColorMap().Assign(frame->ColorMap());
        const auto data = frame->Data();
        std::copy(data.begin(), data.end(), out->Data().begin());
        out->SetInterlaced(frame->Interlaced());
        if (frame->Transparent()) {
            auto& gce = out->Extensions().Add(
                std::make_unique<zx::TGIFGraphicControlExtension>(out.get()));
            gce.SetTransparent(true);
            gce.SetTransparentColorIndex(frame->TransparentColorIndex());
        }
        copy.AddFrame(std::move(out));
    }
    if (copy.Images().Empty())
        return;
    std::vector<std::uint8_t> bytes;
    try {
        bytes = copy.SaveToBytes();
    } catch (const zx::GIFException&) {
        return; // a pixel beyond its colour table cannot be written
    }
    zx::TGIFImage back;
    zx::TSpanStream stream(bytes);
    back.LoadFromStream(stream);
    ZX_FUZZ_CHECK(back.Images().Count() == copy.Images().Count());
    for (std::int32_t i = 0; i < copy.Images().Count(); ++i) {
        const auto a = copy.Images()[i].Data();
        const auto b = back.Images()[i].Data();
        ZX_FUZZ_CHECK(back.Images()[i].Width() == copy.Images()[i].Width());
        ZX_FUZZ_CHECK(back.Images()[i].Height() == copy.Images()[i].Height());
        ZX_FUZZ_CHECK(std::equal(a.begin(), a.end(), b.begin(), b.end()));
    }
}

void CheckReader(std::span<const std::uint8_t> file)
{
    zx::TGIFImage gif;
    // Warnings go to a listener, as they do in the program; every one has a text.
    gif.OnWarning = [](const std::string& message) { ZX_FUZZ_CHECK(!message.empty()); };
    zx::TSpanStream stream(file);
    try {
        gif.LoadFromStream(stream);
    } catch (const zx::GIFException&) {
        ZX_FUZZ_CHECK(stream.Position() == 0);
        return;
    } catch (const zx::EInvalidGraphic&) {
        ZX_FUZZ_CHECK(stream.Position() == 0);
        return;
    }
    if (!Small(gif))
        return;
    for (auto& frame : gif.Images()) {
        ZX_FUZZ_CHECK(frame->Data().size() == std::size_t(frame->Width()) * frame->Height());
        try {
            const zx::TDIB& bitmap = frame->FrameBitmap();
            ZX_FUZZ_CHECK(frame->Empty()
                || (bitmap.Width() == frame->Width() && bitmap.Height() == frame->Height()));
        } catch (const zx::GIFException&) {
            ZX_FUZZ_CHECK(frame->ActiveColorMap().Empty());
        }
    }
    CheckRoundTrip(gif);
}

void CheckLoader(std::span<const std::uint8_t> file)
{
    zx::TDIB dib;
    dib.SetSize(2, 2, 8);
    const auto before = dib.Image();
    try {
        zx::LoadGIFPicture(file, dib);
    } catch (const std::runtime_error&) {
        ZX_FUZZ_CHECK(dib.Image() == before);
        return;
    }
    ZX_FUZZ_CHECK(dib.BitCount() == 24 && dib.Width() > 0 && dib.Height() > 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> file(data, size);
    // Only files whose screen and frames are small go to the loader.
    {
        zx::TGIFImage gif;
        zx::TSpanStream stream(file);
        try {
            gif.LoadFromStream(stream);
            if (!Small(gif))
                return 0;
        } catch (const std::runtime_error&) {
        }
    }
    CheckReader(file);
    CheckLoader(file);
    return 0;
}

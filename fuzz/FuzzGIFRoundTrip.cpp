// The GIF writer against the reader: frames made from random indices and
// palettes, optionally with transparency, interlacing and the export's merge
// into one global colour table, are written and read back.
//
// Input: byte 0 flags (bits 0-1 frames - 1, bit 2 merge, bit 3 interlace,
// bit 4 transparency, bits 5-6 bit depth 8/4/1/8), then per frame its width,
// height and transparent index, then the palette and pixel bytes, taken from
// the rest of the input in a cycle.
//
// Invariants: writing succeeds, and reading gives every frame back with the
// same size and, pixel for pixel, the same colour (or transparency); without
// the merge, the very same indices.

#include "FuzzTarget.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/imaging/XDIBUnit.h"

#include <memory>
#include <vector>

namespace {

struct TExpectedPixel {
    bool transparent;
    zx::TGIFColor colour;
    std::uint8_t index;
};

std::vector<TExpectedPixel> Expected(const zx::TGIFSubImage& frame)
{
    std::vector<TExpectedPixel> pixels;
    const zx::TGIFColorMap& map = frame.ActiveColorMap();
    for (const std::uint8_t index : frame.Data()) {
        const bool transparent = frame.Transparent() && index == frame.TransparentColorIndex();
        ZX_FUZZ_CHECK(transparent || index < map.Count());
        pixels.push_back({ transparent, transparent ? zx::TGIFColor {} : map[index], index });
    }
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t flags = data[0];
    const int frames = 1 + (flags & 3);
    const bool merge = (flags & 4) != 0;
    const bool interlace = (flags & 8) != 0;
    const bool transparency = (flags & 16) != 0;
    static constexpr std::int32_t kDepths[] = { 8, 4, 1, 8 };
    const std::int32_t bits = kDepths[(flags >> 5) & 3];
    zx::fuzz::TByteCycle source(data + 1, size - 1);

    struct TShape {
        std::int32_t width, height;
        std::uint8_t transparentIndex;
    };
    std::vector<TShape> shapes;
    for (int f = 0; f < frames; ++f)
        shapes.push_back({ 1 + source.Next() % 48, 1 + source.Next() % 48, source.Next() });

    // Merged frames share one palette and use at most 255 of its entries, as
    // the export's frames do, so that every colour keeps a table entry.
    zx::TDIBColorTable shared {};
    for (auto& entry : shared)
        entry = { source.Next(), source.Next(), source.Next(), 0 };

    zx::TGIFImage gif;
    for (const TShape& shape : shapes) {
        zx::TDIB bitmap;
        bitmap.SetSize(shape.width, shape.height, bits);
        if (merge) {
            bitmap.ColorTable() = shared;
        } else {
            for (auto& entry : bitmap.ColorTable())
                entry = { source.Next(), source.Next(), source.Next(), 0 };
        }
        const int limit = merge ? std::min(1 << bits, 255) : 1 << bits;
        for (std::int32_t y = 0; y < shape.height; ++y) {
            std::uint8_t* row = bitmap.ScanLine(y);
            for (std::int32_t x = 0; x < shape.width; ++x) {
                const int index = source.Next() % limit;
                if (bits == 8)
                    row[x] = static_cast<std::uint8_t>(index);
                else if (bits == 4)
                    row[x / 2]
                        = static_cast<std::uint8_t>(row[x / 2] | (index << ((x & 1) ? 0 : 4)));
                else
                    row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (index << (7 - (x & 7))));
            }
        }
        zx::TGIFSubImage& frame = gif.Images()[gif.AddFrame(bitmap)];
        frame.SetInterlaced(interlace);
        if (transparency) {
            auto& control
                = frame.Extensions().Add(std::make_unique<zx::TGIFGraphicControlExtension>(&frame));
            control.SetTransparentColorIndex(shape.transparentIndex);
            control.SetTransparent(true);
        }
    }

    std::vector<std::vector<TExpectedPixel>> expected;
    for (std::int32_t i = 0; i < gif.Images().Count(); ++i)
        expected.push_back(Expected(gif.Images()[i]));
    if (merge)
        gif.MergeColourMaps();

    const std::vector<std::uint8_t> written = gif.SaveToBytes();
    zx::TGIFImage again;
    zx::TSpanStream stream(written);
    again.LoadFromStream(stream);
    ZX_FUZZ_CHECK(stream.Position() == written.size());

    ZX_FUZZ_CHECK(again.Images().Count() == frames);
    for (int f = 0; f < frames; ++f) {
        const zx::TGIFSubImage& frame = again.Images()[f];
        ZX_FUZZ_CHECK(frame.Width() == shapes[std::size_t(f)].width);
        ZX_FUZZ_CHECK(frame.Height() == shapes[std::size_t(f)].height);
        ZX_FUZZ_CHECK(frame.Interlaced() == interlace);
        const std::vector<TExpectedPixel> got = Expected(frame);
        const std::vector<TExpectedPixel>& want = expected[std::size_t(f)];
        ZX_FUZZ_CHECK(got.size() == want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            ZX_FUZZ_CHECK(got[i].transparent == want[i].transparent);
            ZX_FUZZ_CHECK(got[i].colour == want[i].colour);
            if (!merge)
                ZX_FUZZ_CHECK(got[i].index == want[i].index);
        }
    }
    return 0;
}

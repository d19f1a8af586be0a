// Both BMP readers on arbitrary files: TDIB's own stream reader (RLE kept
// compressed, then decoded by a pixel access) and the picture loader's road.
//
// Invariants: a failed read leaves the picture as it was; a picture TDIB
// reads has the row layout of its shape, decodes without touching memory
// outside its rows and survives a write and a read unchanged; the loader
// yields a 24-bit picture of the header's size.

#include "FuzzTarget.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdlib>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

namespace {

// Pictures above this many pixels are valid but only slow the search down.
constexpr std::int64_t kMaxFuzzPixels = std::int64_t(1) << 22;

std::int64_t ClaimedPixels(const std::uint8_t* data, std::size_t size)
{
    if (size < 26)
        return 0;
    auto u16 = [&](std::size_t at) { return std::int64_t(data[at] | data[at + 1] << 8); };
    auto i32 = [&](std::size_t at) {
        return std::int64_t(
            static_cast<std::int32_t>(std::uint32_t(data[at]) | std::uint32_t(data[at + 1]) << 8
                | std::uint32_t(data[at + 2]) << 16 | std::uint32_t(data[at + 3]) << 24));
    };
    if (data[14] == 12)
        return u16(18) * u16(20);
    return std::llabs(i32(18)) * std::llabs(i32(22));
}

std::vector<std::uint8_t> PixelBytes(const zx::TDIB& dib)
{
    const std::uint8_t* bits = dib.ConstBits();
    return std::vector<std::uint8_t>(bits, bits + dib.Size());
}

void CheckStreamReader(std::span<const std::uint8_t> file)
{
    zx::TDIB dib;
    dib.SetSize(2, 2, 8);
    const auto before = dib.Image();
    zx::TSpanStream stream(file);
    try {
        dib.LoadFromStream(stream);
    } catch (const std::runtime_error&) {
        ZX_FUZZ_CHECK(dib.Image() == before);
        return;
    }
    if (dib.Empty())
        return;
    ZX_FUZZ_CHECK(dib.Width() > 0 && dib.Height() > 0);
    ZX_FUZZ_CHECK(
        std::int64_t(dib.RowBytes()) == (std::int64_t(dib.Width()) * dib.BitCount() + 31) / 32 * 4);
    ZX_FUZZ_CHECK(std::int64_t(dib.Size()) == std::int64_t(dib.RowBytes()) * dib.Height());

    // An untouched RLE picture writes back its stream; it reads back the same.
    if (dib.Compressed()) {
        zx::TMemoryStream saved;
        dib.SaveToStream(saved);
        saved.SetPosition(0);
        zx::TDIB again;
        again.LoadFromStream(saved);
        ZX_FUZZ_CHECK(again.Compressed());
        const auto a = dib.Image()->CompressedData();
        const auto b = again.Image()->CompressedData();
        ZX_FUZZ_CHECK(a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin()));
    }
    (void)dib.Pixel(dib.Width() - 1, dib.Height() - 1); // decodes an RLE stream
    ZX_FUZZ_CHECK(!dib.Compressed());

    zx::TMemoryStream saved;
    dib.SaveToStream(saved);
    saved.SetPosition(0);
    zx::TDIB again;
    again.LoadFromStream(saved);
    ZX_FUZZ_CHECK(again.Width() == dib.Width() && again.Height() == dib.Height());
    ZX_FUZZ_CHECK(again.BitCount() == dib.BitCount());
    ZX_FUZZ_CHECK(PixelBytes(again) == PixelBytes(dib));
}

void CheckLoader(std::span<const std::uint8_t> file)
{
    zx::TDIB dib;
    dib.SetSize(2, 2, 8);
    const auto before = dib.Image();
    try {
        zx::LoadBMPPicture(file, dib);
    } catch (const zx::EInvalidGraphic&) {
        ZX_FUZZ_CHECK(dib.Image() == before);
        return;
    }
    ZX_FUZZ_CHECK(dib.BitCount() == 24 && dib.Width() > 0 && dib.Height() > 0);
    ZX_FUZZ_CHECK(
        std::int64_t(dib.Width()) * dib.Height() == ClaimedPixels(file.data(), file.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (ClaimedPixels(data, size) > kMaxFuzzPixels)
        return 0;
    const std::span<const std::uint8_t> file(data, size);
    CheckStreamReader(file);
    CheckLoader(file);
    return 0;
}

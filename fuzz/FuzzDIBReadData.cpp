// TDIB::ReadData: a packed DIB (info header, colour table, pixels; what the
// clipboard hands over). BMP files serve as seeds: input starting with "BM"
// loses its 14-byte file header first. (FuzzBMP covers BMP files.)
//
// Invariants when the read succeeds: the shape is one a TDIB can hold; every
// row can be read (for RLE pictures the first access decodes the stream, which
// must stay inside the pixel memory); and what the picture writes with
// WriteData, ReadData gives back with the same shape and pixels, both before
// and after an RLE picture was decoded.

#include "FuzzBMPHeader.h"
#include "FuzzTarget.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"

#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

using zx::TDIB;

bool ValidShape(const TDIB& dib)
{
    const std::int32_t bits = dib.BitCount();
    const bool knownDepth
        = bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    return knownDepth && dib.Width() > 0 && dib.Height() > 0
        && std::int64_t(dib.RowBytes()) == (std::int64_t(dib.Width()) * bits + 31) / 32 * 4;
}

// Reads every byte of every row; the checksum keeps the reads from being
// optimised away.
std::uint32_t TouchRows(const TDIB& dib)
{
    std::uint32_t sum = 0;
    for (std::int32_t y = 0; y < dib.Height(); ++y) {
        const std::uint8_t* row = dib.ConstScanLine(y);
        for (std::int32_t x = 0; x < dib.RowBytes(); ++x)
            sum = sum * 31 + row[x];
    }
    return sum;
}

bool SamePixels(const TDIB& a, const TDIB& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.BitCount() != b.BitCount())
        return false;
    const auto used = static_cast<std::size_t>((std::int64_t(a.Width()) * a.BitCount() + 7) / 8);
    for (std::int32_t y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), used) != 0)
            return false;
    return true;
}

TDIB WrittenAndRead(const TDIB& dib)
{
    zx::TMemoryStream saved;
    dib.WriteData(saved);
    saved.SetPosition(0);
    TDIB again;
    again.ReadData(saved);
    return again;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> input(data, size);
    if (size >= 14 && data[0] == 'B' && data[1] == 'M')
        input = input.subspan(14);
    if (!zx::fuzz::AcceptableBMPSize(input, 0, 0))
        return 0;

    TDIB dib;
    try {
        zx::TSpanStream stream(input);
        dib.ReadData(stream);
    } catch (const std::runtime_error&) {
        ZX_FUZZ_CHECK(dib.Empty());
        return 0;
    }
    if (dib.Empty())
        return 0;
    ZX_FUZZ_CHECK(ValidShape(dib));

    // An RLE picture is still its stream here: written and read as such.
    const TDIB beforeDecoding = WrittenAndRead(dib);
    volatile std::uint32_t keep = TouchRows(dib);
    (void)keep;
    ZX_FUZZ_CHECK(SamePixels(dib, beforeDecoding));
    ZX_FUZZ_CHECK(SamePixels(dib, WrittenAndRead(dib)));
    return 0;
}

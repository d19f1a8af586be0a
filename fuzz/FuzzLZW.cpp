// The GIF LZW decoder on arbitrary image data.
//
// Input: byte 0 the minimum code size (any value, so that the rejection of
// sizes above 11 is exercised too), bytes 1-2 the number of pixels wanted
// (little-endian), byte 3 the chunk size the pixels are asked for in (0: all
// at once; the reader asks row by row), then the data sub-blocks.
//
// Invariants: never more pixels than asked for; the stream is never read past
// its end; decoding in chunks gives what decoding at once gives, ending at the
// same position; and what was decoded, encoded again, decodes to itself.

#include "FuzzTarget.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnitLZW.h"

#include <algorithm>
#include <span>
#include <stdexcept>
#include <vector>

namespace {

struct TResult {
    std::vector<std::uint8_t> pixels;
    std::uint64_t position = 0;
    std::size_t warnings = 0;
};

TResult Decode(std::span<const std::uint8_t> data, std::int32_t minCodeSize, std::size_t wanted,
    std::size_t chunk)
{
    zx::TSpanStream stream(data);
    TResult result;
    const zx::TGIFWarningHandler handler = [&result](const std::string&) { ++result.warnings; };
    zx::TLZWDecoder decoder(stream, minCodeSize, &handler);
    result.pixels.assign(wanted, 0);
    std::size_t got = 0;
    if (chunk == 0)
        chunk = wanted;
    while (got < wanted) {
        const std::size_t n = std::min(chunk, wanted - got);
        const std::size_t part = decoder.Decode(std::span(result.pixels).subspan(got, n));
        ZX_FUZZ_CHECK(part <= n);
        got += part;
        if (part < n)
            break;
    }
    decoder.Finish();
    result.pixels.resize(got);
    result.position = stream.Position();
    ZX_FUZZ_CHECK(result.position <= data.size());
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::int32_t minCodeSize = data[0];
    const std::size_t wanted
        = static_cast<std::size_t>(data[1]) | (static_cast<std::size_t>(data[2]) << 8);
    const std::size_t chunk = data[3];
    const std::span<const std::uint8_t> imageData(data + 4, size - 4);

    TResult whole;
    try {
        whole = Decode(imageData, minCodeSize, wanted, 0);
    } catch (const std::runtime_error&) {
        return 0;
    }
    ZX_FUZZ_CHECK(minCodeSize <= 11);

    if (chunk != 0) {
        const TResult pieces = Decode(imageData, minCodeSize, wanted, chunk);
        ZX_FUZZ_CHECK(pieces.pixels == whole.pixels);
        ZX_FUZZ_CHECK(pieces.position == whole.position);
        ZX_FUZZ_CHECK(pieces.warnings == whole.warnings);
    }

    std::vector<std::uint8_t> encoded;
    zx::TLZWEncoder::Encode(whole.pixels, 8, 256, encoded);
    const TResult again = Decode(std::span(encoded).subspan(1), encoded[0], whole.pixels.size(), 0);
    ZX_FUZZ_CHECK(again.pixels == whole.pixels);
    ZX_FUZZ_CHECK(again.position == encoded.size() - 1);
    ZX_FUZZ_CHECK(again.warnings == 0);
    return 0;
}

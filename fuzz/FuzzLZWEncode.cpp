// The GIF LZW encoder on arbitrary pixels, checked by our decoder and by
// giflib's.
//
// Input: byte 0 the bits per pixel (0..8 in its low nibble), byte 1 the colour
// limit (0 means 256), then the pixel indices.
//
// Invariants: the encoder refuses exactly the frames holding an index at or
// above the colour limit (or one that no code of its size can carry); the
// data is framed in full 255-byte sub-blocks, one shorter last block and the
// terminator; our decoder and giflib both give back the pixels.

#include "FuzzTarget.h"
#include "core/Errors.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnitLZW.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <span>
#include <vector>

namespace {

struct TMemoryReader {
    const std::vector<std::uint8_t>* data;
    std::size_t position;
};

int ReadFromMemory(GifFileType* gif, GifByteType* buffer, int count)
{
    auto* reader = static_cast<TMemoryReader*>(gif->UserData);
    const std::size_t n = std::min<std::size_t>(
        static_cast<std::size_t>(count), reader->data->size() - reader->position);
    std::memcpy(buffer, reader->data->data() + reader->position, n);
    reader->position += n;
    return static_cast<int>(n);
}

// One row of pixels in a minimal GIF around the image data, read by giflib.
std::vector<std::uint8_t> DecodeWithGiflib(const std::vector<std::uint8_t>& imageData, int width)
{
    std::vector<std::uint8_t> file { 'G', 'I', 'F', '8', '9', 'a' };
    auto put16 = [&file](int value) {
        file.push_back(static_cast<std::uint8_t>(value & 0xFF));
        file.push_back(static_cast<std::uint8_t>(value >> 8));
    };
    put16(width);
    put16(1);
    file.insert(file.end(), { 0x87, 0, 0 }); // 256-colour global table
    file.resize(file.size() + 768, 0);
    file.push_back(0x2C);
    put16(0);
    put16(0);
    put16(width);
    put16(1);
    file.push_back(0);
    file.insert(file.end(), imageData.begin(), imageData.end());
    file.push_back(0x3B);

    TMemoryReader reader { &file, 0 };
    int error = 0;
    GifFileType* gif = DGifOpen(&reader, ReadFromMemory, &error);
    ZX_FUZZ_CHECK(gif != nullptr);
    ZX_FUZZ_CHECK(DGifSlurp(gif) == GIF_OK);
    ZX_FUZZ_CHECK(gif->ImageCount == 1);
    const GifByteType* raster = gif->SavedImages[0].RasterBits;
    std::vector<std::uint8_t> pixels(raster, raster + width);
    DGifCloseFile(gif, &error);
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::int32_t bits = data[0] & 0x0F;
    const std::int32_t colourLimit = data[1] == 0 ? 256 : data[1];
    const std::span<const std::uint8_t> pixels(data + 2, size - 2);

    const std::int32_t codeSize = std::max(bits, 2);
    const int largest = pixels.empty() ? -1 : *std::max_element(pixels.begin(), pixels.end());
    const bool encodable = bits <= 8 && largest < std::min(colourLimit, 1 << codeSize);

    std::vector<std::uint8_t> encoded { 0x5A };
    try {
        zx::TLZWEncoder::Encode(pixels, bits, colourLimit, encoded);
    } catch (const zx::GIFException&) {
        ZX_FUZZ_CHECK(!encodable);
        ZX_FUZZ_CHECK(encoded.size() == 1);
        return 0;
    }
    ZX_FUZZ_CHECK(encodable);
    ZX_FUZZ_CHECK(encoded[0] == 0x5A);
    const std::vector<std::uint8_t> imageData(encoded.begin() + 1, encoded.end());
    ZX_FUZZ_CHECK(imageData[0] == codeSize);

    // Sub-block framing.
    std::size_t at = 1;
    bool sawShort = false;
    for (;;) {
        ZX_FUZZ_CHECK(at < imageData.size());
        const std::size_t n = imageData[at++];
        if (n == 0)
            break;
        ZX_FUZZ_CHECK(!sawShort);
        sawShort = n != 255;
        at += n;
    }
    ZX_FUZZ_CHECK(at == imageData.size());

    zx::TSpanStream stream { std::span(imageData).subspan(1) };
    std::size_t warnings = 0;
    const zx::TGIFWarningHandler handler = [&warnings](const std::string&) { ++warnings; };
    zx::TLZWDecoder decoder(stream, codeSize, &handler);
    std::vector<std::uint8_t> decoded(pixels.size() + 1);
    ZX_FUZZ_CHECK(decoder.Decode(decoded) == pixels.size());
    decoder.Finish();
    decoded.resize(pixels.size());
    ZX_FUZZ_CHECK(std::equal(decoded.begin(), decoded.end(), pixels.begin()));
    ZX_FUZZ_CHECK(stream.Position() == stream.Size());
    ZX_FUZZ_CHECK(warnings == 0);

    // giflib wants a picture of at least one pixel and at most 65535 wide.
    if (!pixels.empty() && pixels.size() <= 65535) {
        const auto oracle = DecodeWithGiflib(imageData, static_cast<int>(pixels.size()));
        ZX_FUZZ_CHECK(std::equal(oracle.begin(), oracle.end(), pixels.begin()));
    }
    return 0;
}

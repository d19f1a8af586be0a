#pragma once

// GIF's variable-length-code LZW (GIF89a, appendix F): the encoder the writer
// uses for every frame and the decoder the reader uses.

#include "core/Stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace zx {

// Non-fatal problems met while reading a GIF go here; the reader goes on.
using TGIFWarningHandler = std::function<void(const std::string& message)>;

class TLZWEncoder {
public:
    // Appends one frame's image data to out: the minimum code size byte
    // (max(bitsPerPixel, 2)), the codes in data sub-blocks of at most 255
    // bytes, and the block terminator 0. colourLimit is the number of colours
    // the pixels may use; an index at or above it raises GIFException
    // "颜色不在颜色表中".
    static void Encode(std::span<const std::uint8_t> pixels, std::int32_t bitsPerPixel,
        std::int32_t colourLimit, std::vector<std::uint8_t>& out);
};

class TLZWDecoder {
public:
    // Starts decoding at the stream's position, just after the minimum code
    // size byte. Throws GIFException when minCodeSize is above 11.
    TLZWDecoder(TStream& stream, std::int32_t minCodeSize, const TGIFWarningHandler* warnings);

    // Decodes pixels in stream order into out, stopping when out is full or
    // the data ends (end code, terminator, end of stream). Returns how many
    // pixels were stored; the rest of out is left untouched. Throws
    // GIFException "Circular decoder table entry".
    std::size_t Decode(std::span<std::uint8_t> out);

    // Takes one more code after the pixels: for well-formed data this is the
    // end code, which skips any remaining data sub-blocks up to and including
    // the block terminator.
    void Finish();

private:
    struct Impl;
    // Owned decoder state; see XGIFUnitLZW.cpp.
    std::shared_ptr<Impl> m_impl;
};

} // namespace zx

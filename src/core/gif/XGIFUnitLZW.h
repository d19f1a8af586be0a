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
    // the pixels may use; an index at or above it (or at or above 2^code size,
    // which no code could carry) raises GIFException "颜色不在颜色表中", and
    // then out is left as it was. A cancelled token (core/Cancel.h) stops
    // the coding with ECancelled, out holding part of the data. No pixels
    // give the end code alone. A
    // bitsPerPixel above 8 raises GIFException "无效的 LZW 最小代码长度 (%d)".
    static void Encode(std::span<const std::uint8_t> pixels, std::int32_t bitsPerPixel,
        std::int32_t colourLimit, std::vector<std::uint8_t>& out);
};

class TLZWDecoder {
public:
    // Starts decoding at the stream's position, just after the minimum code
    // size byte. Throws GIFException "无效的 LZW 最小代码长度 (%d)" when
    // minCodeSize is above 11 (or negative): 12-bit codes leave no room for a
    // larger alphabet. Sizes 0 and 1 are decoded as they come. warnings may be
    // null; when set it receives "过早的数据末端" (a data sub-block cut by the
    // end of the stream) and "Decoder bit buffer under-run" (the block
    // terminator came where a code was expected, with no bits left over).
    TLZWDecoder(TStream& stream, std::int32_t minCodeSize, const TGIFWarningHandler* warnings);

    // Decodes pixels in stream order into out, stopping when out is full or
    // the data ends (end code, terminator, end of stream). Returns how many
    // pixels were stored; the rest of out is left untouched. May be called
    // again to continue (row by row, say) until it returns fewer pixels than
    // asked for. Throws GIFException "Circular decoder table entry" when a
    // table entry leads back to itself. The stream is only ever read up to the
    // end of the current data sub-block.
    std::size_t Decode(std::span<std::uint8_t> out);

    // Takes one more code after the pixels: for well-formed data this is the
    // end code. Whatever it is, any remaining data sub-blocks are then skipped
    // up to and including the block terminator, so that the stream stands just
    // after the image data. Pixels decoded but not handed out are dropped.
    // Does nothing once the data has ended.
    void Finish();

private:
    struct Impl;
    // Makes the decoder state on the first call that needs it. Returns false
    // (and ends the data) when the image data has no sub-block at all: long
    // animations hold thousands of such frames, and the state's tables cost
    // more to set up than the frame is worth.
    bool Start();

    TStream* m_stream;
    std::int32_t m_minCodeSize;
    const TGIFWarningHandler* m_warnings;
    bool m_ended = false;
    // Owned decoder state; see XGIFUnitLZW.cpp.
    std::shared_ptr<Impl> m_impl;
};

} // namespace zx

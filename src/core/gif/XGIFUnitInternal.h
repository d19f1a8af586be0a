#pragma once

// Byte-level helpers shared by the GIF reader and writer.

#include "core/Errors.h"
#include "core/LittleEndian.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zx::gifio {

// Reads exactly count bytes or raises "过早的数据末端".
inline void ReadExact(TStream& stream, void* buffer, std::size_t count)
{
    if (count != 0 && stream.Read(buffer, count) != count)
        throw GIFException(GIFMessages::sPrematureEOF);
}

inline std::uint8_t ReadByte(TStream& stream)
{
    std::uint8_t value = 0;
    ReadExact(stream, &value, 1);
    return value;
}

// One byte, or -1 at the end of the stream.
inline std::int32_t TryReadByte(TStream& stream)
{
    std::uint8_t value = 0;
    return stream.Read(&value, 1) == 1 ? value : -1;
}

// The next byte without consuming it, or -1 at the end of the stream.
inline std::int32_t PeekByte(TStream& stream)
{
    const std::int32_t value = TryReadByte(stream);
    if (value >= 0)
        stream.SetPosition(stream.Position() - 1);
    return value;
}

// Reads data sub-blocks up to and including the block terminator; each
// block's bytes go to sink. A short read raises "过早的数据末端".
template <class Sink> void ReadSubBlocks(TStream& stream, Sink&& sink)
{
    std::uint8_t block[255];
    for (;;) {
        const std::uint8_t size = ReadByte(stream);
        if (size == 0)
            return;
        ReadExact(stream, block, size);
        sink(std::span<const std::uint8_t>(block, size));
    }
}

// Writes each piece (a byte string, a comment line) as data sub-blocks of at
// most 255 bytes, then the block terminator. A piece never shares a block with
// the next one, so a reader gets the pieces back block by block as long as
// none is longer than 255 bytes; an empty piece writes no block.
template <class Pieces> void WriteSubBlocks(std::vector<std::uint8_t>& out, const Pieces& pieces)
{
    for (const auto& piece : pieces) {
        for (std::size_t at = 0; at < piece.size(); at += 255) {
            const std::size_t size = std::min<std::size_t>(255, piece.size() - at);
            out.push_back(static_cast<std::uint8_t>(size));
            out.insert(out.end(), piece.begin() + static_cast<std::ptrdiff_t>(at),
                piece.begin() + static_cast<std::ptrdiff_t>(at + size));
        }
    }
    out.push_back(0);
}

// The row order of an interlaced frame (GIF89a §20, appendix E): every 8th
// row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
inline std::vector<std::uint32_t> InterlacedRows(std::uint32_t height)
{
    std::vector<std::uint32_t> rows;
    rows.reserve(height);
    static constexpr std::uint32_t kStart[4] = { 0, 4, 2, 1 };
    static constexpr std::uint32_t kStep[4] = { 8, 8, 4, 2 };
    for (int pass = 0; pass < 4; ++pass)
        for (std::uint32_t y = kStart[pass]; y < height; y += kStep[pass])
            rows.push_back(y);
    return rows;
}

} // namespace zx::gifio

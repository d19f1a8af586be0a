#pragma once

// A small, strict APNG reader for the tests and the round-trip fuzz target,
// written from the PNG and APNG formats independently of the writer:
// zlib inflates the image data and checks each chunk's CRC, the filters are
// undone here, and the frames are composed on the canvas as a viewer does
// (dispose and blend operations). Anything the formats forbid, or
// that this program never writes, is an error.

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>
#include <zlib.h>

namespace zx::apng_test {

struct TFrameControl {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint32_t X = 0;
    std::uint32_t Y = 0;
    std::uint16_t DelayNum = 0;
    std::uint16_t DelayDen = 0;
    std::uint8_t Dispose = 0;
    std::uint8_t Blend = 0;
    // The filter type of each row, as stored.
    std::vector<std::uint8_t> Filters;
};

struct TAPNG {
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
    std::uint8_t ColourType = 0;
    std::uint32_t Plays = 0;
    std::vector<TFrameControl> Controls;
    // Each frame as shown: RGBA, top row first, Width x Height.
    std::vector<std::vector<std::uint8_t>> Canvases;
    // The chunk types in file order.
    std::vector<std::string> Chunks;
};

inline std::uint32_t Be32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline std::vector<std::uint8_t> Inflate(const std::vector<std::uint8_t>& data, std::size_t size)
{
    std::vector<std::uint8_t> out(size);
    z_stream stream {};
    if (inflateInit(&stream) != Z_OK)
        throw std::runtime_error("inflateInit");
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool whole = result == Z_STREAM_END && stream.total_out == size && stream.avail_in == 0;
    inflateEnd(&stream);
    if (!whole)
        throw std::runtime_error("image data does not inflate to exactly the frame's rows");
    return out;
}

inline int Paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

// Undoes the filters of rows of n bytes (bpp bytes per pixel) in place,
// dropping the filter bytes; records the filter types.
inline std::vector<std::uint8_t> Unfilter(const std::vector<std::uint8_t>& raw, std::size_t rows,
    std::size_t n, std::size_t bpp, std::vector<std::uint8_t>& filters)
{
    std::vector<std::uint8_t> out(rows * n);
    for (std::size_t y = 0; y < rows; ++y) {
        const std::uint8_t type = raw[y * (n + 1)];
        if (type > 4)
            throw std::runtime_error("filter type " + std::to_string(type));
        filters.push_back(type);
        const std::uint8_t* in = &raw[y * (n + 1) + 1];
        std::uint8_t* row = &out[y * n];
        const std::uint8_t* up = y > 0 ? row - n : nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            const int a = i >= bpp ? row[i - bpp] : 0;
            const int b = up ? up[i] : 0;
            const int c = up && i >= bpp ? up[i - bpp] : 0;
            int predicted = 0;
            switch (type) {
            case 1:
                predicted = a;
                break;
            case 2:
                predicted = b;
                break;
            case 3:
                predicted = (a + b) / 2;
                break;
            case 4:
                predicted = Paeth(a, b, c);
                break;
            default:
                break;
            }
            row[i] = static_cast<std::uint8_t>(in[i] + predicted);
        }
    }
    return out;
}

inline TAPNG ReadAPNG(const std::vector<std::uint8_t>& file)
{
    static const std::uint8_t kSignature[8] = { 137, 80, 78, 71, 13, 10, 26, 10 };
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0)
        throw std::runtime_error("no PNG signature");
    TAPNG png;
    std::size_t at = 8;
    std::uint32_t nextSequence = 0;
    std::uint32_t frameCount = 0;
    bool haveIhdr = false;
    bool haveActl = false;
    bool ended = false;
    std::vector<std::uint8_t> canvas;
    std::vector<std::uint8_t> data;
    bool dataIsIdat = false;
    std::size_t channels = 0;

    const auto finishFrame = [&]() {
        if (png.Controls.size() != png.Canvases.size() + 1)
            return;
        TFrameControl& control = png.Controls.back();
        if (data.empty())
            throw std::runtime_error("a frame without image data");
        const std::size_t n = control.Width * channels;
        const std::vector<std::uint8_t> pixels = Unfilter(
            Inflate(data, (n + 1) * control.Height), control.Height, n, channels, control.Filters);
        data.clear();
        const std::vector<std::uint8_t> before = canvas;
        for (std::uint32_t y = 0; y < control.Height; ++y)
            for (std::uint32_t x = 0; x < control.Width; ++x) {
                const std::uint8_t* src = &pixels[(y * control.Width + x) * channels];
                std::uint8_t* dst = &canvas[((control.Y + y) * png.Width + control.X + x) * 4];
                const std::uint8_t alpha = channels == 4 ? src[3] : 255;
                if (control.Blend == 1 && alpha == 0)
                    continue;
                if (control.Blend == 1 && alpha != 255 && dst[3] != 0)
                    throw std::runtime_error("blending of partial alpha is not checked here");
                std::memcpy(dst, src, 3);
                dst[3] = alpha;
            }
        png.Canvases.push_back(canvas);
        if (control.Dispose == 1) {
            for (std::uint32_t y = 0; y < control.Height; ++y)
                std::memset(
                    &canvas[((control.Y + y) * png.Width + control.X) * 4], 0, control.Width * 4);
        } else if (control.Dispose == 2) {
            canvas = before;
        }
    };

    while (!ended) {
        if (file.size() - at < 12)
            throw std::runtime_error("truncated chunk");
        const std::uint32_t length = Be32(&file[at]);
        if (length > 0x7FFFFFFF || file.size() - at - 12 < length)
            throw std::runtime_error("chunk longer than the file");
        const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
        const std::uint8_t* body = &file[at + 8];
        const uLong crc = crc32(crc32(0L, Z_NULL, 0), &file[at + 4], length + 4);
        if (crc != Be32(body + length))
            throw std::runtime_error("bad CRC in " + type);
        png.Chunks.push_back(type);
        at += 12 + length;

        if (!haveIhdr && type != "IHDR")
            throw std::runtime_error("IHDR is not first");
        if (type == "IHDR") {
            if (haveIhdr || length != 13)
                throw std::runtime_error("bad IHDR");
            haveIhdr = true;
            png.Width = Be32(body);
            png.Height = Be32(body + 4);
            png.ColourType = body[9];
            if (png.Width == 0 || png.Height == 0 || body[8] != 8
                || (png.ColourType != 2 && png.ColourType != 6) || body[10] != 0 || body[11] != 0
                || body[12] != 0)
                throw std::runtime_error("IHDR outside what is read here");
            channels = png.ColourType == 6 ? 4 : 3;
            canvas.assign(std::size_t(png.Width) * png.Height * 4, 0);
        } else if (type == "acTL") {
            if (haveActl || length != 8 || !png.Canvases.empty() || !data.empty())
                throw std::runtime_error("acTL misplaced");
            haveActl = true;
            frameCount = Be32(body);
            png.Plays = Be32(body + 4);
            if (frameCount == 0)
                throw std::runtime_error("acTL with no frames");
        } else if (type == "fcTL") {
            if (length != 26 || Be32(body) != nextSequence++)
                throw std::runtime_error("bad fcTL or sequence number");
            finishFrame();
            TFrameControl control;
            control.Width = Be32(body + 4);
            control.Height = Be32(body + 8);
            control.X = Be32(body + 12);
            control.Y = Be32(body + 16);
            control.DelayNum = static_cast<std::uint16_t>(body[20] << 8 | body[21]);
            control.DelayDen = static_cast<std::uint16_t>(body[22] << 8 | body[23]);
            control.Dispose = body[24];
            control.Blend = body[25];
            if (control.Width == 0 || control.Height == 0 || control.X + control.Width > png.Width
                || control.Y + control.Height > png.Height || control.Dispose > 2
                || control.Blend > 1)
                throw std::runtime_error("fcTL outside the canvas");
            if (png.Controls.empty()
                && (control.X != 0 || control.Y != 0 || control.Width != png.Width
                    || control.Height != png.Height))
                throw std::runtime_error("the first frame does not cover the canvas");
            png.Controls.push_back(control);
        } else if (type == "IDAT") {
            if (!haveActl || png.Controls.size() != 1 || !png.Canvases.empty()
                || (!data.empty() && !dataIsIdat))
                throw std::runtime_error("IDAT is not frame 0's data");
            dataIsIdat = true;
            data.insert(data.end(), body, body + length);
        } else if (type == "fdAT") {
            if (length < 4 || Be32(body) != nextSequence++ || png.Controls.size() < 2)
                throw std::runtime_error("bad fdAT or sequence number");
            if (png.Canvases.size() + 1 != png.Controls.size())
                throw std::runtime_error("fdAT without its fcTL");
            dataIsIdat = false;
            data.insert(data.end(), body + 4, body + length);
        } else if (type == "IEND") {
            finishFrame();
            ended = true;
        } else {
            throw std::runtime_error("unexpected chunk " + type);
        }
    }
    if (at != file.size())
        throw std::runtime_error("bytes after IEND");
    if (png.Canvases.size() != frameCount || png.Controls.size() != frameCount)
        throw std::runtime_error("acTL's frame count is not the number of frames");
    return png;
}

} // namespace zx::apng_test

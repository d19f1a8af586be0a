#include "core/gif/APNGWriter.h"

#include "core/Errors.h"
#include "core/Stream.h"
#include "core/WorkerPool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <span>

namespace zx {

namespace {

    // The five PNG row filter types.
    enum : std::uint8_t { kFilterNone, kFilterSub, kFilterUp, kFilterAverage, kFilterPaeth };
    constexpr int kFilterTypes = 5;

    // The part of a frame that is stored: the whole canvas for frame 0.
    struct TRect {
        std::int32_t X = 0;
        std::int32_t Y = 0;
        std::int32_t Width = 0;
        std::int32_t Height = 0;
    };

    // fcTL's dispose_op and blend_op values.
    constexpr std::uint8_t kDisposeNone = 0;
    constexpr std::uint8_t kBlendSource = 0;

    std::uint8_t PaethPredictor(int a, int b, int c)
    {
        const int p = a + b - c;
        const int pa = std::abs(p - a);
        const int pb = std::abs(p - b);
        const int pc = std::abs(p - c);
        if (pa <= pb && pa <= pc)
            return static_cast<std::uint8_t>(a);
        if (pb <= pc)
            return static_cast<std::uint8_t>(b);
        return static_cast<std::uint8_t>(c);
    }

    // Filters one row of n bytes with bpp bytes per pixel; prior is the
    // unfiltered row above (all zero for the first row).
    void FilterRow(std::uint8_t type, const std::uint8_t* row, const std::uint8_t* prior,
        std::size_t n, std::size_t bpp, std::uint8_t* out)
    {
        switch (type) {
        case kFilterNone:
            std::memcpy(out, row, n);
            break;
        case kFilterSub:
            std::memcpy(out, row, std::min(bpp, n));
            for (std::size_t i = bpp; i < n; ++i)
                out[i] = static_cast<std::uint8_t>(row[i] - row[i - bpp]);
            break;
        case kFilterUp:
            for (std::size_t i = 0; i < n; ++i)
                out[i] = static_cast<std::uint8_t>(row[i] - prior[i]);
            break;
        case kFilterAverage:
            for (std::size_t i = 0; i < std::min(bpp, n); ++i)
                out[i] = static_cast<std::uint8_t>(row[i] - (prior[i] >> 1));
            for (std::size_t i = bpp; i < n; ++i)
                out[i] = static_cast<std::uint8_t>(row[i] - ((row[i - bpp] + prior[i]) >> 1));
            break;
        default:
            for (std::size_t i = 0; i < std::min(bpp, n); ++i)
                out[i] = static_cast<std::uint8_t>(row[i] - PaethPredictor(0, prior[i], 0));
            for (std::size_t i = bpp; i < n; ++i)
                out[i] = static_cast<std::uint8_t>(
                    row[i] - PaethPredictor(row[i - bpp], prior[i], prior[i - bpp]));
            break;
        }
    }

    // The sum of the filtered bytes' magnitudes as signed values: the usual
    // estimate of how well a filtered row will compress.
    std::uint64_t SignedMagnitude(const std::uint8_t* bytes, std::size_t n)
    {
        std::uint64_t sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
        return sum;
    }

    // The bits an order-0 entropy coder would need for the bytes:
    // n log2 n - sum over the byte values of c log2 c, for counts c.
    double EntropyBits(const std::uint8_t* bytes, std::size_t n)
    {
        // c log2 c for the counts a row of up to 4096 bytes can have.
        static const std::vector<double> kTable = [] {
            std::vector<double> table(4097, 0.0);
            for (std::size_t c = 1; c < table.size(); ++c)
                table[c] = double(c) * std::log2(double(c));
            return table;
        }();
        const auto cLogC = [&](std::size_t c) {
            return c < kTable.size() ? kTable[c] : double(c) * std::log2(double(c));
        };
        std::array<std::uint32_t, 256> counts {};
        for (std::size_t i = 0; i < n; ++i)
            ++counts[bytes[i]];
        double bits = cLogC(n);
        for (const std::uint32_t c : counts)
            if (c != 0)
                bits -= cLogC(c);
        return bits;
    }

    // The filtered image data of a rectangle of pixels (rows of stride bytes,
    // channels bytes per pixel), once per way of choosing the filters asked
    // for: for each row its filter type byte, then the filtered row. One
    // pass filters every row with all five types and lets each way pick.
    std::vector<std::vector<std::uint8_t>> FilterImage(const std::uint8_t* pixels,
        std::size_t stride, const TRect& rect, std::size_t channels,
        std::span<const TPNGFilterChoice> choices)
    {
        const std::size_t n = static_cast<std::size_t>(rect.Width) * channels;
        std::vector<std::vector<std::uint8_t>> images(choices.size());
        for (auto& image : images)
            image.resize((n + 1) * static_cast<std::size_t>(rect.Height));
        const std::vector<std::uint8_t> zeros(n, 0);
        std::array<std::vector<std::uint8_t>, kFilterTypes> trial;
        for (auto& t : trial)
            t.resize(n);
        const std::uint8_t* base
            = pixels + static_cast<std::size_t>(rect.Y) * stride + rect.X * channels;
        for (std::int32_t y = 0; y < rect.Height; ++y) {
            const std::uint8_t* row = base + static_cast<std::size_t>(y) * stride;
            const std::uint8_t* prior = y > 0 ? row - stride : zeros.data();
            for (std::uint8_t type = 0; type < kFilterTypes; ++type)
                FilterRow(type, row, prior, n, channels, trial[type].data());
            for (std::size_t k = 0; k < choices.size(); ++k) {
                std::uint8_t best = 0;
                if (choices[k] == TPNGFilterChoice::SmallestSum) {
                    std::uint64_t bestSum = UINT64_MAX;
                    for (std::uint8_t type = 0; type < kFilterTypes; ++type) {
                        const std::uint64_t sum = SignedMagnitude(trial[type].data(), n);
                        if (sum < bestSum) {
                            bestSum = sum;
                            best = type;
                        }
                    }
                } else if (choices[k] == TPNGFilterChoice::SmallestEntropy) {
                    double bestBits = HUGE_VAL;
                    for (std::uint8_t type = 0; type < kFilterTypes; ++type) {
                        const double bits = EntropyBits(trial[type].data(), n);
                        if (bits < bestBits) {
                            bestBits = bits;
                            best = type;
                        }
                    }
                } else {
                    // The fixed types share their numbers with the filter bytes.
                    best = static_cast<std::uint8_t>(choices[k]);
                }
                std::uint8_t* o = images[k].data() + static_cast<std::size_t>(y) * (n + 1);
                o[0] = best;
                std::memcpy(o + 1, trial[best].data(), n);
            }
        }
        return images;
    }

    using TCompressor
        = std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)>;

    TCompressor MakeCompressor(std::int32_t level)
    {
        TCompressor compressor(libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
        if (!compressor)
            throw EOutOfResources(FormatMessage(AnimationMessages::sEncoderFailed, "APNG"));
        return compressor;
    }

    // A zlib stream (RFC 1950) of the data, as IDAT and fdAT carry it.
    std::vector<std::uint8_t> Deflate(
        libdeflate_compressor* compressor, const std::vector<std::uint8_t>& data)
    {
        std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor, data.size()));
        const std::size_t size = libdeflate_zlib_compress(
            compressor, data.data(), data.size(), out.data(), out.size());
        if (size == 0)
            throw EInvalidGraphic(FormatMessage(AnimationMessages::sEncoderFailed, "APNG"));
        out.resize(size);
        return out;
    }

    // The zlib stream of one frame's rectangle with the filters and the level
    // the options ask for.
    std::vector<std::uint8_t> CodeFrame(const std::uint8_t* pixels, std::size_t stride,
        const TRect& rect, std::size_t channels, const TAPNGOptions& options)
    {
        if (options.Filter != TPNGFilterChoice::Trial && options.Level != kAPNGAutomaticLevel) {
            const TPNGFilterChoice choice[] = { options.Filter };
            return Deflate(MakeCompressor(std::clamp(options.Level, 1, 12)).get(),
                FilterImage(pixels, stride, rect, channels, choice).front());
        }
        static constexpr TPNGFilterChoice kCandidates[] = { TPNGFilterChoice::SmallestEntropy,
            TPNGFilterChoice::SmallestSum, TPNGFilterChoice::Up };
        const std::span<const TPNGFilterChoice> candidates
            = options.Filter == TPNGFilterChoice::Trial
            ? std::span<const TPNGFilterChoice>(kCandidates)
            : std::span<const TPNGFilterChoice>(&options.Filter, 1);
        std::vector<std::vector<std::uint8_t>> images
            = FilterImage(pixels, stride, rect, channels, candidates);
        const TCompressor quick = MakeCompressor(1);
        std::size_t best = 0;
        std::size_t bestSize = SIZE_MAX;
        for (std::size_t k = 0; k < images.size(); ++k) {
            const std::size_t size = Deflate(quick.get(), images[k]).size();
            if (size < bestSize) {
                bestSize = size;
                best = k;
            }
        }
        std::int32_t level = std::clamp(options.Level, 1, 12);
        if (options.Level == kAPNGAutomaticLevel)
            level = bestSize * 3 > images[best].size() ? 10 : 7;
        return Deflate(MakeCompressor(level).get(), images[best]);
    }

    // The smallest rectangle outside which frame i equals frame i - 1 (RGB
    // and alpha); a frame equal to the one before keeps one pixel, since a
    // frame cannot be empty.
    TRect ChangedRect(const TAnimationFrames& frames, std::size_t i, const TAnimationShape& shape)
    {
        const TDIB& now = frames.Frames[i];
        const TDIB& before = frames.Frames[i - 1];
        const TDIB* alphaNow = FrameAlpha(frames, i);
        const TDIB* alphaBefore = FrameAlpha(frames, i - 1);
        const auto alphaAt = [](const TDIB* plane, std::int32_t x, std::int32_t y) {
            return plane ? plane->ConstScanLine(y)[x] : std::uint8_t(255);
        };
        const auto same = [&](std::int32_t x, std::int32_t y) {
            return std::memcmp(now.ConstScanLine(y) + 3 * x, before.ConstScanLine(y) + 3 * x, 3)
                == 0
                && alphaAt(alphaNow, x, y) == alphaAt(alphaBefore, x, y);
        };
        const auto rowSame = [&](std::int32_t y) {
            if (std::memcmp(now.ConstScanLine(y), before.ConstScanLine(y),
                    static_cast<std::size_t>(shape.Width) * 3)
                != 0)
                return false;
            if (!alphaNow && !alphaBefore)
                return true;
            for (std::int32_t x = 0; x < shape.Width; ++x)
                if (alphaAt(alphaNow, x, y) != alphaAt(alphaBefore, x, y))
                    return false;
            return true;
        };
        std::int32_t top = 0;
        while (top < shape.Height && rowSame(top))
            ++top;
        if (top == shape.Height)
            return TRect { 0, 0, 1, 1 };
        std::int32_t bottom = shape.Height - 1;
        while (rowSame(bottom))
            --bottom;
        std::int32_t left = shape.Width;
        std::int32_t right = -1;
        for (std::int32_t y = top; y <= bottom; ++y) {
            std::int32_t x = 0;
            while (x < left && same(x, y))
                ++x;
            left = std::min(left, x);
            x = shape.Width - 1;
            while (x > right && same(x, y))
                --x;
            right = std::max(right, x);
        }
        return TRect { left, top, right - left + 1, bottom - top + 1 };
    }

    // One coded frame: where it goes and its zlib stream.
    struct TCodedFrame {
        TRect Rect;
        std::vector<std::uint8_t> Data;
    };

    // Appends big-endian numbers, and chunks with their length, type, data
    // and CRC-32 over type and data.
    class TChunkWriter {
    public:
        std::vector<std::uint8_t> Bytes;

        void Put32(std::vector<std::uint8_t>& to, std::uint32_t value)
        {
            to.push_back(static_cast<std::uint8_t>(value >> 24));
            to.push_back(static_cast<std::uint8_t>(value >> 16));
            to.push_back(static_cast<std::uint8_t>(value >> 8));
            to.push_back(static_cast<std::uint8_t>(value));
        }
        void Put16(std::vector<std::uint8_t>& to, std::uint16_t value)
        {
            to.push_back(static_cast<std::uint8_t>(value >> 8));
            to.push_back(static_cast<std::uint8_t>(value));
        }

        // A chunk whose data is head followed by tail.
        void Chunk(const char (&type)[5], const std::vector<std::uint8_t>& head,
            const std::vector<std::uint8_t>& tail = {})
        {
            const std::size_t length = head.size() + tail.size();
            if (length > 0x7FFFFFFFu)
                throw EInvalidGraphic(FormatMessage(AnimationMessages::sEncoderFailed, "APNG"));
            Put32(Bytes, static_cast<std::uint32_t>(length));
            const std::size_t start = Bytes.size();
            Bytes.insert(Bytes.end(), type, type + 4);
            Bytes.insert(Bytes.end(), head.begin(), head.end());
            Bytes.insert(Bytes.end(), tail.begin(), tail.end());
            // The CRC covers the type and the data, not the length.
            Put32(Bytes, libdeflate_crc32(0, Bytes.data() + start, Bytes.size() - start));
        }
    };

} // namespace

std::vector<std::uint8_t> EncodeAPNG(
    const TAnimationFrames& frames, const TAPNGOptions& options, const TFrameCoded& frameCoded)
{
    const TAnimationShape shape = CheckAnimationFrames(frames, kAPNGMaxSide);
    const std::size_t channels = shape.Translucent ? 4 : 3;
    const std::size_t stride = static_cast<std::size_t>(shape.Width) * channels;

    // The frames are independent once their rectangles are known, so they
    // are filtered and compressed side by side.
    std::vector<TCodedFrame> coded(static_cast<std::size_t>(shape.Count));
    ParallelFor(coded.size(), 0, [&](std::size_t i) {
        TCodedFrame& frame = coded[i];
        frame.Rect = i > 0 && options.ChangedArea ? ChangedRect(frames, i, shape)
                                                  : TRect { 0, 0, shape.Width, shape.Height };
        std::vector<std::uint8_t> pixels(stride * static_cast<std::size_t>(shape.Height));
        CopyFramePixels(frames, i, static_cast<std::int32_t>(channels), pixels.data(), stride);
        frame.Data = CodeFrame(pixels.data(), stride, frame.Rect, channels, options);
        if (frameCoded)
            frameCoded(frame.Data.size());
    });

    TChunkWriter out;
    static constexpr std::uint8_t kSignature[8] = { 137, 80, 78, 71, 13, 10, 26, 10 };
    out.Bytes.assign(std::begin(kSignature), std::end(kSignature));

    std::vector<std::uint8_t> ihdr;
    out.Put32(ihdr, static_cast<std::uint32_t>(shape.Width));
    out.Put32(ihdr, static_cast<std::uint32_t>(shape.Height));
    ihdr.push_back(8); // bit depth
    ihdr.push_back(shape.Translucent ? 6 : 2); // colour type: RGBA or RGB
    ihdr.push_back(0); // compression method: deflate
    ihdr.push_back(0); // filter method: adaptive, five types
    ihdr.push_back(0); // no interlace
    out.Chunk("IHDR", ihdr);

    std::vector<std::uint8_t> actl;
    out.Put32(actl, static_cast<std::uint32_t>(shape.Count)); // num_frames
    out.Put32(actl, static_cast<std::uint32_t>(LoopCount(frames.Loops))); // num_plays, 0 = for ever
    out.Chunk("acTL", actl);

    std::uint32_t sequence = 0;
    for (std::size_t i = 0; i < coded.size(); ++i) {
        const TCodedFrame& frame = coded[i];
        std::vector<std::uint8_t> fctl;
        out.Put32(fctl, sequence++);
        out.Put32(fctl, static_cast<std::uint32_t>(frame.Rect.Width));
        out.Put32(fctl, static_cast<std::uint32_t>(frame.Rect.Height));
        out.Put32(fctl, static_cast<std::uint32_t>(frame.Rect.X));
        out.Put32(fctl, static_cast<std::uint32_t>(frame.Rect.Y));
        // The delay as a fraction of a second: hundredths, like the GIF's.
        out.Put16(fctl, static_cast<std::uint16_t>(frames.Delay));
        out.Put16(fctl, 100);
        fctl.push_back(kDisposeNone);
        fctl.push_back(kBlendSource);
        out.Chunk("fcTL", fctl);
        if (i == 0) {
            out.Chunk("IDAT", frame.Data);
        } else {
            std::vector<std::uint8_t> head;
            out.Put32(head, sequence++);
            out.Chunk("fdAT", head, frame.Data);
        }
    }
    out.Chunk("IEND", {});
    return std::move(out.Bytes);
}

void SaveAPNGFile(
    const std::string& path, const TAnimationFrames& frames, const TAPNGOptions& options)
{
    const std::vector<std::uint8_t> bytes = EncodeAPNG(frames, options);
    WriteFileAtomic(path, bytes);
}

} // namespace zx

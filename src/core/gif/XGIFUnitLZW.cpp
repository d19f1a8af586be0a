#include "core/gif/XGIFUnitLZW.h"

#include "core/Cancel.h"
#include "core/Errors.h"
#include "core/ZeroedBlock.h"
#include "core/gif/XGIFUnitMessages.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zx {

namespace {

    // GIF codes are at most 12 bits wide (GIF89a appendix F).
    constexpr int kMaxCodeBits = 12;
    constexpr int kTableSize = 1 << kMaxCodeBits;
    // The writer never assigns 4095 and clears the table when it would have to:
    // some decoders treat a full table as an error.
    constexpr int kLastAssignedCode = 4094;
    constexpr std::int32_t kMaxMinCodeSize = kMaxCodeBits - 1;

    // ---------------------------------------------------------------------------
    // Encoder

    // The dictionary as a direct table: the code of the string "prefix, then
    // pixel" is at pixel x 4096 + prefix, 0 where there is none (no string's
    // code is 0: they start at the first free code, 6 or more). That is 2 MiB a
    // thread, of which a frame touches a few hundred KB; by pixel first, the
    // strings made one after the other in a part of a picture share cache
    // lines, which makes flags a third faster than by prefix. A clear resets only
    // the entries made since the last one, which the log lists. With one
    // load and no probing, the coder below runs without a branch per pixel:
    // whether a string goes on or ends is the least predictable thing in the
    // whole export, and a hash table's probes added branches of their own.
    class TLZWDictionary {
    public:
        static constexpr std::size_t kEntries = std::size_t { 256 } << kMaxCodeBits;

        TLZWDictionary()
            : m_block(NewZeroedBlock(kEntries * sizeof(std::uint16_t)))
        {
        }

        std::uint16_t* Child() { return reinterpret_cast<std::uint16_t*>(m_block.get()); }
        std::uint32_t* Log() { return m_log.data(); }

        // Empties the table; logged is how many entries of the log were set.
        void Clear(std::uint32_t logged)
        {
            std::uint16_t* const child = Child();
            for (std::uint32_t i = 0; i < logged; ++i)
                child[m_log[i]] = 0;
        }

        // How many log entries are set, kept here between calls so that a
        // frame cancelled halfway leaves the next one a table it can clear.
        std::uint32_t Logged = 0;

    private:
        // 2 MiB, in large pages where there are: a look-up that missed
        // the first-level cache would otherwise often miss the address
        // cache too.
        TZeroedBlock m_block;
        std::array<std::uint32_t, kTableSize> m_log {};
    };

    // Packs codes least significant bit first into data sub-blocks (GIF89a §22:
    // a count byte, then that many bytes; never an empty block before the
    // terminator). Codes come in batches; the bytes of each go into the blocks
    // at once.
    class TCodeWriter {
    public:
        explicit TCodeWriter(std::vector<std::uint8_t>& out)
            : m_out(out)
        {
        }

        // Room for the bytes of count codes of up to 12 bits, and the
        // two-byte store of the last one.
        static constexpr std::size_t BytesFor(std::size_t count) { return count * 3 / 2 + 4; }

        // Packs one code into raw at bytes, returning the bytes now whole.
        // Branch-free: a code of up to 12 bits on top of up to 7 left over
        // makes at most two bytes.
        std::size_t Put(std::uint8_t* raw, std::size_t bytes, std::uint32_t code, int width)
        {
            m_bits |= code << m_bitCount;
            m_bitCount += width;
            raw[bytes] = static_cast<std::uint8_t>(m_bits);
            raw[bytes + 1] = static_cast<std::uint8_t>(m_bits >> 8);
            const int whole = m_bitCount >> 3;
            m_bits >>= whole * 8;
            m_bitCount &= 7;
            return bytes + static_cast<std::size_t>(whole);
        }

        // Appends count packed bytes to the blocks.
        void Append(const std::uint8_t* raw, std::size_t count)
        {
            while (count > 0) {
                if (m_blockLength == 0) {
                    m_blockAt = m_out.size();
                    m_out.push_back(0);
                }
                const std::size_t take = std::min<std::size_t>(count, 255 - m_blockLength);
                m_out.insert(m_out.end(), raw, raw + take);
                raw += take;
                count -= take;
                m_blockLength += static_cast<int>(take);
                m_out[m_blockAt] = static_cast<std::uint8_t>(m_blockLength);
                if (m_blockLength == 255)
                    m_blockLength = 0;
            }
        }

        // Writes the last partial byte (high bits 0) and the block terminator.
        void Finish()
        {
            if (m_bitCount > 0) {
                const auto last = static_cast<std::uint8_t>(m_bits);
                Append(&last, 1);
            }
            m_bits = 0;
            m_bitCount = 0;
            m_out.push_back(0);
        }

    private:
        std::vector<std::uint8_t>& m_out;
        std::size_t m_blockAt = 0;
        int m_blockLength = 0;
        std::uint32_t m_bits = 0;
        int m_bitCount = 0;
    };

    // The code width the encoder uses next: back to S + 1 after a clear code, one
    // more bit once the next free code no longer fits (never beyond 12 bits).
    class TCodeWidth {
    public:
        explicit TCodeWidth(int minCodeSize)
            : m_minCodeSize(minCodeSize)
        {
            Reset();
        }

        int Width() const { return m_width; }

        void Reset()
        {
            m_width = m_minCodeSize + 1;
            m_largest = (1 << m_width) - 1;
        }

        void Grow(int nextFree)
        {
            if (nextFree > m_largest) {
                ++m_width;
                m_largest = m_width >= kMaxCodeBits ? kTableSize : (1 << m_width) - 1;
            }
        }

    private:
        int m_minCodeSize;
        int m_width = 0;
        int m_largest = 0;
    };

} // namespace

void TLZWEncoder::Encode(std::span<const std::uint8_t> pixels, std::int32_t bitsPerPixel,
    std::int32_t colourLimit, std::vector<std::uint8_t>& out)
{
    if (bitsPerPixel > 8)
        throw GIFException(FormatMessage(GIFMessages::sBadMinCodeSize, bitsPerPixel));
    const int minCodeSize = std::max<std::int32_t>(bitsPerPixel, 2);
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    const int firstFree = clearCode + 2;

    // Check every index before writing anything, so a failure leaves out as
    // it was. An index at or above the clear code could not be told apart
    // from a control code, whatever the colour table says.
    const std::int32_t limit = std::min<std::int32_t>(colourLimit, clearCode);
    if (!pixels.empty()) {
        const std::uint8_t largest = *std::max_element(pixels.begin(), pixels.end());
        if (static_cast<std::int32_t>(largest) >= limit)
            throw GIFException(GIFMessages::sBadColorIndex);
    }

    // Noisy frames come out at up to 1.5 bytes per pixel; grow geometrically
    // so that a writer appending many frames to one buffer stays linear.
    const std::size_t expected = out.size() + 4 + pixels.size() + pixels.size() / 2;
    if (out.capacity() < expected)
        out.reserve(std::max(expected, 2 * out.capacity()));
    out.push_back(static_cast<std::uint8_t>(minCodeSize));
    TCodeWriter writer(out);
    TCodeWidth width(minCodeSize);

    // The codes of a batch of pixels are found first and packed after, the
    // width of each following from its place since the last clear code: the
    // search then has nothing else in its chain.
    constexpr std::size_t kBatch = 8192;
    // Each pixel ends at most one string; a batch holds at most two clear
    // codes (a clear needs over 3800 strings), and the first batch the first clear
    // code and the last the last string and the end code.
    constexpr std::size_t kMaxCodes = kBatch + 8;
    std::array<std::uint16_t, kMaxCodes> codes;
    std::array<std::uint8_t, TCodeWriter::BytesFor(kMaxCodes)> raw;
    int packFree = firstFree;
    auto pack = [&](std::size_t count) {
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const int code = codes[i];
            bytes = writer.Put(raw.data(), bytes, static_cast<std::uint32_t>(code), width.Width());
            if (code == clearCode) {
                width.Reset();
                packFree = firstFree;
            } else {
                width.Grow(packFree);
                ++packFree;
            }
        }
        writer.Append(raw.data(), bytes);
    };

    if (pixels.empty()) {
        codes[0] = static_cast<std::uint16_t>(endCode);
        pack(1);
        writer.Finish();
        return;
    }

    // One dictionary per thread, reused from frame to frame.
    thread_local TLZWDictionary dictionary;
    dictionary.Clear(dictionary.Logged);
    dictionary.Logged = 0;
    std::uint16_t* const child = dictionary.Child();
    std::uint32_t* const log = dictionary.Log();
    std::uint32_t logged = 0;

    std::uint32_t nextFree = static_cast<std::uint32_t>(firstFree);
    std::size_t n = 0;
    codes[n++] = static_cast<std::uint16_t>(clearCode);
    std::uint32_t prefix = pixels[0];
    const std::size_t count = pixels.size();
    for (std::size_t begin = 1; begin < count; begin += kBatch) {
        const std::size_t end = std::min(count, begin + kBatch);
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint32_t pixel = pixels[i];
            const std::uint32_t at = (pixel << kMaxCodeBits) | prefix;
            const std::uint32_t code = child[at];
            // All ones where the string is new, and then code is 0.
            const std::uint32_t ends = std::uint32_t { 0 } - std::uint32_t { code == 0 };
            codes[n] = static_cast<std::uint16_t>(prefix);
            log[logged] = at;
            child[at] = static_cast<std::uint16_t>(code | (nextFree & ends));
            const std::uint32_t ended = ends & 1;
            n += ended;
            logged += ended;
            nextFree += ended;
            prefix = code | (pixel & ends);
            if (nextFree > kLastAssignedCode + 1) [[unlikely]] {
                // The string that would take 4095 gets none: the table starts
                // again instead.
                codes[n++] = static_cast<std::uint16_t>(clearCode);
                dictionary.Clear(logged);
                logged = 0;
                nextFree = static_cast<std::uint32_t>(firstFree);
            }
        }
        dictionary.Logged = logged;
        if (end < count) {
            pack(n);
            n = 0;
            // Every batch: a cancelled export stops here.
            ThrowIfCancelled();
        }
    }
    codes[n++] = static_cast<std::uint16_t>(prefix);
    codes[n++] = static_cast<std::uint16_t>(endCode);
    pack(n);
    writer.Finish();
}

// ---------------------------------------------------------------------------
// Decoder

struct TLZWDecoder::Impl {
    // A string is at most 4096 - 2 codes long; one more slot for the pixel
    // pushed by the KwKwK rule. A walk that needs more than this is a loop in
    // the table.
    static constexpr int kStackSize = kTableSize + 1;

    Impl(TStream& source, std::int32_t minCodeSize, const TGIFWarningHandler* handler)
        : stream(source)
        , warnings(handler)
        , clearCode(1 << minCodeSize)
        , endCode(clearCode + 1)
        , firstFree(clearCode + 2)
        , minCodeBits(minCodeSize)
    {
        // The tables start as a clear code leaves them, so a stream that does
        // not begin with one still decodes its root codes as themselves.
        std::memset(prefix.data(), 0, sizeof prefix);
        std::memset(suffix.data(), 0, sizeof suffix);
        for (int code = 0; code < clearCode; ++code)
            suffix[code] = static_cast<std::uint8_t>(code);
        ResetTable();
        highWater = firstFree;
    }

    void Warn(const char* message) const
    {
        if (warnings != nullptr && *warnings)
            (*warnings)(message);
    }

    void ResetTable()
    {
        // Only entries assigned since the last reset can be dirty.
        if (highWater > firstFree) {
            const auto from = static_cast<std::size_t>(firstFree);
            const auto n = static_cast<std::size_t>(highWater - firstFree);
            std::memset(prefix.data() + from, 0, n * sizeof prefix[0]);
            std::memset(suffix.data() + from, 0, n * sizeof suffix[0]);
        }
        highWater = firstFree;
        codeSize = minCodeBits + 1;
        widthLimit = 2 * clearCode;
        nextFree = firstFree;
        fresh = true;
    }

    // Reads the next data sub-block into block. Returns false at the block
    // terminator or the end of the stream.
    bool ReadBlock()
    {
        if (terminatorRead || streamEnded)
            return false;
        std::uint8_t size = 0;
        if (stream.Read(&size, 1) != 1) {
            streamEnded = true;
            return false;
        }
        if (size == 0) {
            terminatorRead = true;
            return false;
        }
        const std::size_t got = stream.Read(block.data(), size);
        if (got < size)
            Warn(GIFMessages::sPrematureEOF);
        blockLength = static_cast<int>(got);
        blockPos = 0;
        return true;
    }

    // The next code of the current width, least significant bit first across
    // sub-block boundaries; -1 when the data ends first.
    int NextCode()
    {
        while (bitCount < codeSize) {
            if (blockPos < blockLength) {
                bits |= static_cast<std::uint32_t>(block[blockPos++]) << bitCount;
                bitCount += 8;
            } else if (!ReadBlock()) {
                // A terminator exactly where a code should start means the
                // data lacked its end code; a few padding bits do not.
                if (terminatorRead && bitCount == 0)
                    Warn(GIFMessages::sBitBufferUnderRun);
                return -1;
            }
        }
        const int code = static_cast<int>(bits & ((1u << codeSize) - 1));
        bits >>= codeSize;
        bitCount -= codeSize;
        return code;
    }

    void SkipRemainingBlocks()
    {
        blockPos = blockLength;
        while (ReadBlock())
            blockPos = blockLength;
    }

    void Push(std::uint8_t pixel)
    {
        if (sp >= kStackSize)
            throw GIFException(GIFMessages::sCircularEntry);
        stack[sp++] = pixel;
    }

    // Reads one code and pushes its pixels. Returns false when the data has
    // ended (end code, terminator, end of stream).
    bool DecodeCode()
    {
        int code = NextCode();
        if (fresh) {
            while (code == clearCode)
                code = NextCode();
            if (code < 0)
                return false;
            if (code == endCode) {
                SkipRemainingBlocks();
                return false;
            }
            // The first code after a clear stands for itself.
            fresh = false;
            prevCode = code;
            firstPixel = static_cast<std::uint8_t>(code);
            Push(firstPixel);
            return true;
        }
        if (code < 0)
            return false;
        if (code == clearCode) {
            ResetTable();
            return DecodeCode();
        }
        if (code == endCode) {
            SkipRemainingBlocks();
            return false;
        }

        const int incoming = code;
        if (code >= nextFree) {
            // KwKwK: the string is the previous one plus its own first pixel.
            // Codes further beyond the table are read the same way.
            Push(firstPixel);
            code = prevCode;
        }
        while (code >= clearCode) {
            Push(suffix[code]);
            const int next = prefix[code];
            if (next == code)
                throw GIFException(GIFMessages::sCircularEntry);
            code = next;
        }
        firstPixel = suffix[code];
        Push(firstPixel);

        if (nextFree < kTableSize) {
            prefix[nextFree] = static_cast<std::uint16_t>(prevCode);
            suffix[nextFree] = firstPixel;
            ++nextFree;
            highWater = std::max(highWater, nextFree);
            if (nextFree >= widthLimit && widthLimit < kTableSize) {
                widthLimit *= 2;
                ++codeSize;
            }
        }
        prevCode = incoming;
        return true;
    }

    std::size_t Decode(std::span<std::uint8_t> out)
    {
        std::size_t n = 0;
        const std::size_t wanted = out.size();
        while (n < wanted) {
            if (sp == 0) {
                if (ended || !DecodeCode()) {
                    ended = true;
                    break;
                }
            }
            // Hand out the stack top first: it holds the string reversed.
            const std::size_t take
                = std::min<std::size_t>(static_cast<std::size_t>(sp), wanted - n);
            std::uint8_t* dest = out.data() + n;
            for (std::size_t i = 0; i < take; ++i)
                dest[i] = stack[static_cast<std::size_t>(--sp)];
            n += take;
        }
        return n;
    }

    void Finish()
    {
        sp = 0;
        if (ended)
            return;
        ended = true;
        if (NextCode() < 0)
            return;
        SkipRemainingBlocks();
    }

    TStream& stream;
    const TGIFWarningHandler* warnings;

    const int clearCode;
    const int endCode;
    const int firstFree;
    const int minCodeBits;
    int codeSize = 0;
    int widthLimit = 0;
    int nextFree = 0;
    int highWater = 0;
    bool fresh = true;
    int prevCode = 0;
    std::uint8_t firstPixel = 0;

    std::array<std::uint16_t, kTableSize> prefix;
    std::array<std::uint8_t, kTableSize> suffix;
    std::array<std::uint8_t, kStackSize> stack;
    int sp = 0;

    std::array<std::uint8_t, 256> block;
    int blockLength = 0;
    int blockPos = 0;
    std::uint32_t bits = 0;
    int bitCount = 0;
    bool terminatorRead = false;
    bool streamEnded = false;
    bool ended = false;
};

TLZWDecoder::TLZWDecoder(
    TStream& stream, std::int32_t minCodeSize, const TGIFWarningHandler* warnings)
    : m_stream(&stream)
    , m_minCodeSize(minCodeSize)
    , m_warnings(warnings)
{
    if (minCodeSize < 0 || minCodeSize > kMaxMinCodeSize)
        throw GIFException(FormatMessage(GIFMessages::sBadMinCodeSize, minCodeSize));
}

bool TLZWDecoder::Start()
{
    if (m_impl)
        return true;
    if (m_ended)
        return false;
    // The same outcomes as the full decoder on data without a sub-block: at
    // the end of the stream nothing, at a terminator the under-run warning.
    std::uint8_t size = 0;
    if (m_stream->Read(&size, 1) != 1) {
        m_ended = true;
        return false;
    }
    if (size == 0) {
        m_ended = true;
        if (m_warnings != nullptr && *m_warnings)
            (*m_warnings)(GIFMessages::sBitBufferUnderRun);
        return false;
    }
    m_stream->SetPosition(m_stream->Position() - 1);
    m_impl = std::make_shared<Impl>(*m_stream, m_minCodeSize, m_warnings);
    return true;
}

std::size_t TLZWDecoder::Decode(std::span<std::uint8_t> out)
{
    if (out.empty() || !Start())
        return 0;
    return m_impl->Decode(out);
}

void TLZWDecoder::Finish()
{
    if (Start())
        m_impl->Finish();
}

} // namespace zx

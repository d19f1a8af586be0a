// Reading GIF87a and GIF89a files into the model, and the ".GIF" road of
// picture loading.

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitInternal.h"
#include "core/gif/XGIFUnitLZW.h"
#include "core/imaging/XDIBDraw.h"

#include <algorithm>
#include <cstring>

namespace zx {

using namespace gifio;

namespace {

    // The signature is compared case-insensitively and the version is not
    // examined: "gif89a" and "GIF90a" files exist and decode fine.
    bool IsSignature(const std::uint8_t* bytes)
    {
        for (int i = 0; i < 3; ++i) {
            std::uint8_t c = bytes[i];
            if (c >= 'a' && c <= 'z')
                c = static_cast<std::uint8_t>(c - 'a' + 'A');
            if (c != "GIF"[i])
                return false;
        }
        return true;
    }

    // Blocks may be separated by stray zero bytes (some writers pad after the
    // image data); they carry nothing.
    void SkipZeros(TStream& stream)
    {
        std::int32_t value;
        while ((value = TryReadByte(stream)) == 0) { }
        if (value > 0)
            stream.SetPosition(stream.Position() - 1);
    }

    void StepBack(TStream& stream)
    {
        stream.SetPosition(stream.Position() - 1);
    }

    // Decides the class of the extension at the stream's position (its
    // introducer) from the label and, for application extensions, the block
    // size and identifier. Returns null for a label this reader does not know.
    // The stream is left at the introducer.
    std::unique_ptr<TGIFExtension> CreateExtension(TStream& stream, TGIFSubImage* frame)
    {
        const std::uint64_t start = stream.Position();
        std::uint8_t head[2];
        ReadExact(stream, head, 2);
        std::unique_ptr<TGIFExtension> extension;
        switch (head[1]) {
        case TGIFTextExtension::kLabel:
            extension = std::make_unique<TGIFTextExtension>(frame);
            break;
        case TGIFGraphicControlExtension::kLabel:
            extension = std::make_unique<TGIFGraphicControlExtension>(frame);
            break;
        case TGIFCommentExtension::kLabel:
            extension = std::make_unique<TGIFCommentExtension>(frame);
            break;
        case TGIFApplicationExtension::kLabel: {
            std::uint8_t block[12] = {};
            const std::size_t got = stream.Read(block, sizeof block);
            const bool loop = got == sizeof block && block[0] >= 11
                && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0
                    || std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
            if (loop)
                extension = std::make_unique<TGIFAppExtNSLoop>(frame);
            else
                extension = std::make_unique<TGIFUnknownAppExtension>(frame);
            break;
        }
        default:
            break;
        }
        stream.SetPosition(start);
        return extension;
    }

} // namespace

void TGIFHeader::LoadFromStream(TStream& stream)
{
    Clear();
    const std::uint64_t start = stream.Position();
    std::uint8_t signature[6];
    ReadExact(stream, signature, sizeof signature);
    if (!IsSignature(signature)) {
        // Some files carry four bytes of something else before the
        // signature; look once more behind them.
        stream.SetPosition(start + 4);
        ReadExact(stream, signature, sizeof signature);
        if (!IsSignature(signature))
            throw GIFException(GIFMessages::sBadSignature);
    }

    // Logical screen descriptor (GIF89a §18).
    std::uint8_t descriptor[7];
    ReadExact(stream, descriptor, sizeof descriptor);
    m_width = GetLE16(descriptor);
    m_height = GetLE16(descriptor + 2);
    m_packed = descriptor[4];
    m_backgroundColorIndex = descriptor[5];
    m_aspectRatio = descriptor[6];
    if (m_packed & 0x80) {
        m_colorMap.LoadFromStream(stream, 2 << (m_packed & 0x07));
        m_colorMap.SetSortedByUse((m_packed & 0x08) != 0);
    }
}

void TGIFSubImage::LoadExtensions(TStream& stream)
{
    std::int32_t next = TryReadByte(stream);
    while (next >= 0 && next != 0x2C && next != 0x3B) {
        if (next != 0x21) {
            Warning(GIFMessages::sBadExtensionLabel);
            break;
        }
        StepBack(stream);
        if (auto extension = CreateExtension(stream, this)) {
            extension->LoadFromStream(stream);
            m_extensions.Add(std::move(extension));
        } else {
            // GIF89a §23 asks decoders to skip extensions they do not know:
            // introducer, label, then data sub-blocks up to the terminator.
            std::uint8_t head[2];
            ReadExact(stream, head, 2);
            ReadSubBlocks(stream, [](std::span<const std::uint8_t>) {});
        }
        next = TryReadByte(stream);
    }
    if (next >= 0)
        StepBack(stream);
}

void TGIFSubImage::LoadFromStream(TStream& stream)
{
    Clear();
    LoadExtensions(stream);

    const std::int32_t next = PeekByte(stream);
    if (next < 0 || next == 0x3B || next == 0)
        return;

    // Image descriptor (GIF89a §20).
    std::uint8_t descriptor[10];
    ReadExact(stream, descriptor, sizeof descriptor);
    m_left = GetLE16(descriptor + 1);
    m_top = GetLE16(descriptor + 3);
    m_width = GetLE16(descriptor + 5);
    m_height = GetLE16(descriptor + 7);
    m_packed = descriptor[9];
    if (m_width == 0 || m_height == 0) {
        // A frame without area takes the whole logical screen.
        m_width = Image() ? static_cast<std::uint16_t>(Image()->Width()) : 0;
        m_height = Image() ? static_cast<std::uint16_t>(Image()->Height()) : 0;
        Warning(GIFMessages::sBadDimension);
    }
    if (m_packed & 0x80) {
        m_colorMap.LoadFromStream(stream, 2 << (m_packed & 0x07));
        m_colorMap.SetSortedByUse((m_packed & 0x20) != 0);
    }
    LoadImageData(stream);
}

void TGIFSubImage::LoadImageData(TStream& stream)
{
    // Pixels the data never reaches keep the fill value: the transparent
    // index for a transparent frame, else 0.
    CheckPixelMemory(m_width, m_height, 1);
    m_pixelCount = std::uint64_t(m_width) * m_height;
    m_fill = m_transparent ? TransparentColorIndex() : 0;
    m_data.clear();
    m_coded.clear();
    m_pending = true;

    const std::int32_t minCodeSize = TryReadByte(stream);
    if (minCodeSize < 0)
        return;
    const TGIFWarningHandler* warnings
        = Image() && Image()->OnWarning ? &Image()->OnWarning : nullptr;
    TLZWDecoder decoder(stream, minCodeSize, warnings);

    // Decode in growing chunks so that memory follows the data actually
    // present, not the size the descriptor claims. The first chunk is small:
    // files of thousands of frames without data are common enough in the
    // wild, and each chunk is allocated and cleared before it is decoded.
    std::size_t total = 0;
    std::size_t chunk = std::size_t(1) << 12;
    const std::uint64_t earlier = Image() ? Image()->m_decodedBytes : 0;
    while (total < m_pixelCount) {
        const std::size_t want = std::min<std::uint64_t>(chunk, m_pixelCount - total);
        if (Image())
            CheckAnimationBytes(earlier + total + want, Image()->m_decodeLimit);
        if (total + want > m_coded.capacity())
            m_coded.reserve(std::min<std::uint64_t>(
                m_pixelCount, std::max<std::uint64_t>(m_coded.capacity() * 2, total + want)));
        m_coded.resize(total + want);
        const std::size_t got
            = decoder.Decode(std::span<std::uint8_t>(m_coded.data() + total, want));
        total += got;
        if (got < want)
            break;
        chunk = std::min<std::size_t>(chunk * 2, std::size_t(1) << 24);
    }
    m_coded.resize(total);
    decoder.Finish();
    if (Image())
        Image()->m_decodedBytes = earlier + total;

    if (total == m_pixelCount && !Interlaced()) {
        m_data = std::move(m_coded);
        m_coded = {};
        m_pending = false;
    } else if (m_coded.capacity() - total > total / 4 + 64) {
        // Cut data: keep only what was decoded.
        m_coded.shrink_to_fit();
    }
}

void TGIFImage::LoadFromStream(TStream& stream)
{
    Clear();
    m_decodedBytes = 0;
    const std::uint64_t start = stream.Position();
    try {
        m_header.LoadFromStream(stream);
        SkipZeros(stream);
        for (;;) {
            const std::int32_t next = PeekByte(stream);
            if (next < 0 || next == 0x3B)
                break;
            if (next != 0x21 && next != 0x2C) {
                Warning(GIFMessages::sUnknownBlockType);
                break;
            }
            auto frame = std::make_unique<TGIFSubImage>(this);
            frame->LoadFromStream(stream);
            m_images.Add(std::move(frame));
            SkipZeros(stream);
        }
        TGIFTrailer(this).LoadFromStream(stream);
    } catch (...) {
        stream.SetPosition(start);
        throw;
    }
}

void TGIFImage::LoadGifFile(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    TSpanStream stream(bytes);
    LoadFromStream(stream);
}

void LoadGIFPicture(std::span<const std::uint8_t> file, TDIB& target)
{
    TGIFImage gif;
    TSpanStream stream(file);
    gif.LoadFromStream(stream);

    // A texture without area, or with nothing to show, is never installed.
    const std::int32_t width = gif.Width();
    const std::int32_t height = gif.Height();
    if (width == 0 || height == 0)
        throw GIFException(GIFMessages::sScreenEmpty);
    if (gif.Images().Empty())
        throw GIFException(GIFMessages::sNoFrames);
    CheckPixelMemory(static_cast<std::uint64_t>(DIBRowBytes(width, 24)), std::uint64_t(height), 1);

    // Frame 0 goes to the top-left corner whatever its position on the
    // logical screen; its transparent pixels show their colour.
    const TDIB& frame = gif.FrameBitmap(0);
    TDIB picture;
    picture.SetSize(width, height, 24);
    DrawDIB(picture, 0, 0, frame);
    target = picture;
}

} // namespace zx

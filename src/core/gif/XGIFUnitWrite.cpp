// Writing the model as a GIF file (GIF89a §17-§27).

#include "core/Errors.h"
#include "core/WorkerPool.h"
#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitInternal.h"
#include "core/gif/XGIFUnitLZW.h"

#include <algorithm>

namespace zx {

using namespace gifio;

void TGIFHeader::SaveToStream(std::vector<std::uint8_t>& out) const
{
    // A file needs "89a" as soon as one frame uses a feature of it (any
    // extension, or a sorted local table).
    bool version89a = false;
    std::int32_t bitsPerPixel = m_colorMap.BitsPerPixel();
    std::int32_t resolution = bitsPerPixel - 1;
    if (const TGIFImage* image = Image()) {
        for (const auto& frame : image->Images())
            version89a = version89a || frame->Version() == TGIFVersion::gv89a;
        bitsPerPixel = image->BitsPerPixel();
        resolution = image->ColorResolution();
    }
    const char* signature = version89a ? "GIF89a" : "GIF87a";
    out.insert(out.end(), signature, signature + 6);

    // Logical screen descriptor (§18). The colour resolution and the size of
    // the global table are stored minus one in three bits each.
    AppendLE16(out, m_width);
    AppendLE16(out, m_height);
    std::uint32_t packed = 0;
    if (!m_colorMap.Empty())
        packed |= 0x80;
    if (m_colorMap.SortedByUse())
        packed |= 0x08;
    packed |= (static_cast<std::uint32_t>(resolution) << 4) & 0x70;
    // The size field tells readers how many table bytes follow, so with a
    // global table it must be that table's own size, even when a local
    // table of a frame is larger.
    if (!m_colorMap.Empty())
        bitsPerPixel = m_colorMap.BitsPerPixel();
    packed |= static_cast<std::uint32_t>(bitsPerPixel - 1) & 0x07;
    out.push_back(static_cast<std::uint8_t>(packed));
    out.push_back(0); // background colour index
    out.push_back(0); // pixel aspect ratio

    if (!m_colorMap.Empty())
        m_colorMap.SaveToStream(out);
}

void TGIFSubImage::SaveToStream(std::vector<std::uint8_t>& out) const
{
    for (const auto& extension : m_extensions)
        extension->SaveToStream(out);
    if (Empty())
        return;

    // Image descriptor (§20). The interlace bit and the reserved bits are
    // kept with or without a local table: the pixels below are coded in
    // interlaced order whenever the bit is set, so it must reach the file.
    out.push_back(0x2C);
    AppendLE16(out, m_left);
    AppendLE16(out, m_top);
    AppendLE16(out, m_width);
    AppendLE16(out, m_height);
    std::uint32_t packed = m_packed & 0x58u;
    if (!m_colorMap.Empty()) {
        packed |= 0x80;
        if (m_colorMap.SortedByUse())
            packed |= 0x20;
        packed |= static_cast<std::uint32_t>(m_colorMap.BitsPerPixel() - 1) & 0x07;
    }
    out.push_back(static_cast<std::uint8_t>(packed));

    std::int32_t bits = 0;
    std::int32_t colourLimit = 0;
    if (!m_colorMap.Empty()) {
        m_colorMap.SaveToStream(out);
        bits = m_colorMap.BitsPerPixel();
        colourLimit = m_colorMap.Count();
    } else {
        bits = Image() ? Image()->BitsPerPixel() : 0;
        colourLimit = 1 << bits;
    }

    if (Interlaced())
        TLZWEncoder::Encode(CodedPixels(), bits, colourLimit, out);
    else
        TLZWEncoder::Encode(Data(), bits, colourLimit, out);
}

void TGIFImage::SaveToStream(TStream& stream) const
{
    const std::vector<std::uint8_t> bytes = SaveToBytes();
    stream.WriteBytes(bytes);
}

std::vector<std::uint8_t> TGIFImage::SaveToBytes(
    unsigned threads, const std::function<void(std::size_t bytes)>& frameCoded) const
{
    if (m_images.Empty())
        throw GIFException(GIFMessages::sEmptyImage);
    std::vector<std::uint8_t> out;
    m_header.SaveToStream(out);

    // A frame's bytes depend only on the frame, its tables and the image's
    // bit depth, so the frames are coded side by side, each into its own
    // buffer, and joined in order. Coding only reads the model; a frame read
    // from a file is completed on first use by the one worker that codes it.
    const auto frameCount = static_cast<std::size_t>(m_images.Count());
    std::vector<std::vector<std::uint8_t>> parts(frameCount);
    // The pool rethrows the first failing frame in file order: the one a
    // frame-by-frame writer would have reported.
    ParallelFor(frameCount, threads, [&](std::size_t i) {
        m_images[static_cast<std::int32_t>(i)].SaveToStream(parts[i]);
        if (frameCoded)
            frameCoded(parts[i].size());
    });

    std::size_t total = out.size() + 1;
    for (const auto& part : parts)
        total += part.size();
    out.reserve(total);
    for (auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
        part = {};
    }
    TGIFTrailer(const_cast<TGIFImage*>(this)).SaveToStream(out);
    return out;
}

void TGIFImage::SaveGifFile(const std::string& path) const
{
    const std::vector<std::uint8_t> bytes = SaveToBytes();
    WriteFileAtomic(path, bytes);
}

} // namespace zx

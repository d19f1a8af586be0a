// TDIB's BMP streams: complete BMP files and packed DIBs (info header, masks,
// colour table and pixels without the file header).

#include "core/LittleEndian.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBUnit.h"

#include <cstdint>

namespace zx {

void TDIB::LoadFromStream(TStream& stream)
{
    TBMPFileHeader header;
    if (!ReadBMPFileHeader(stream, header))
        return;
    SetImage(ReadDIBStorage(stream, m_image->PlainMemory(), &header));
}

void TDIB::ReadData(TStream& stream)
{
    SetImage(ReadDIBStorage(stream, m_image->PlainMemory(), nullptr));
}

void TDIB::SaveToStream(TStream& stream) const
{
    if (Empty())
        return;
    // BITMAPFILEHEADER: "BM", bfSize, two reserved words, bfOffBits.
    const auto offset = static_cast<std::uint32_t>(14 + m_image->BitmapInfoSize());
    std::uint8_t header[14] = { 'B', 'M' };
    PutLE32(header + 2, offset + m_image->ImageSize());
    PutLE32(header + 10, offset);
    stream.WriteBuffer(header, sizeof header);
    WriteData(stream);
}

void TDIB::WriteData(TStream& stream) const
{
    if (Empty())
        return;
    const TDIBSharedImage& image = *m_image;
    stream.WriteBuffer(image.BitmapInfo().data(), static_cast<std::size_t>(image.BitmapInfoSize()));
    // A picture read with RLE and not touched since still holds its stream;
    // its header says RLE and gives the stream's length as the image size.
    if (image.Compressed())
        stream.WriteBytes(image.CompressedData());
    else
        stream.WriteBuffer(image.Bits(), image.ImageSize());
}

} // namespace zx

// The extension blocks of the GIF model (GIF89a §23-§26): graphic control,
// application (the Netscape loop and any other), comment and plain text.

#include "core/gif/XGIFUnit.h"
#include "core/gif/XGIFUnitInternal.h"

#include <cstring>

namespace zx {

using namespace gifio;

TGIFExtension::TGIFExtension(TGIFSubImage* subImage)
    : TGIFItem(subImage ? subImage->Image() : nullptr)
    , m_subImage(subImage)
{
}

void TGIFExtension::LoadFromStream(TStream& stream)
{
    if (ReadByte(stream) != 0x21)
        throw GIFException(GIFMessages::sBadExtensionLabel);
    if (ReadByte(stream) != ExtensionType())
        throw GIFException(GIFMessages::sBadExtensionInstance);
    LoadBody(stream);
}

void TGIFExtension::SaveToStream(std::vector<std::uint8_t>& out) const
{
    out.push_back(0x21);
    out.push_back(ExtensionType());
    SaveBody(out);
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* subImage)
    : TGIFExtension(subImage)
{
    if (subImage && !subImage->m_gce)
        subImage->m_gce = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension()
{
    if (SubImage() && SubImage()->m_gce == this) {
        SubImage()->m_gce = nullptr;
        SubImage()->m_transparent = false;
    }
}

void TGIFGraphicControlExtension::SetTransparent(bool value)
{
    m_packed = static_cast<std::uint8_t>(value ? (m_packed | 0x01) : (m_packed & ~0x01));
    if (SubImage() && SubImage()->m_gce == this && SubImage()->m_transparent != value) {
        SubImage()->m_transparent = value;
        SubImage()->FreeBitmap();
    }
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(std::uint8_t value)
{
    if (SubImage()) {
        const TGIFColorMap& map = SubImage()->ActiveColorMap();
        if (!map.Empty() && value >= map.Count()) {
            Warning(GIFMessages::sInvalidColorIndex);
            value = 0;
        }
        if (SubImage()->m_gce == this && value != m_transparentColorIndex)
            SubImage()->FreeBitmap();
    }
    m_transparentColorIndex = value;
}

void TGIFGraphicControlExtension::SetDisposal(TGIFDisposal value)
{
    m_packed = static_cast<std::uint8_t>((m_packed & ~0x1C) | ((static_cast<int>(value) & 7) << 2));
}

void TGIFGraphicControlExtension::SetUserInput(bool value)
{
    m_packed = static_cast<std::uint8_t>(value ? (m_packed | 0x02) : (m_packed & ~0x02));
}

void TGIFGraphicControlExtension::LoadBody(TStream& stream)
{
    // Block size, packed fields, delay, transparent index, terminator. A cut
    // block keeps what was there; the rest reads as 0.
    std::uint8_t bytes[6] = {};
    if (stream.Read(bytes, sizeof bytes) != sizeof bytes)
        Warning(GIFMessages::sPrematureEOF);
    m_blockSize = bytes[0];
    m_packed = bytes[1];
    m_delay = GetLE16(bytes + 2);
    m_transparentColorIndex = bytes[4];
    if (SubImage() && SubImage()->m_gce == this)
        SubImage()->m_transparent = Transparent();
}

void TGIFGraphicControlExtension::SaveBody(std::vector<std::uint8_t>& out) const
{
    out.push_back(4);
    out.push_back(m_packed);
    AppendLE16(out, m_delay);
    out.push_back(m_transparentColorIndex);
    out.push_back(0);
}

std::string TGIFApplicationExtension::IdentifierText() const
{
    return std::string(m_identifier.begin(), m_identifier.end());
}

void TGIFApplicationExtension::LoadBody(TStream& stream)
{
    const std::uint8_t size = ReadByte(stream);
    if (size < 10)
        throw GIFException(GIFMessages::sInvalidAppBlockSize);
    m_identifier.fill(0);
    ReadExact(stream, m_identifier.data(), m_identifier.size());
    if (size == 10) {
        // A 10-byte block: the eleventh byte read is already the first
        // sub-block's size.
        stream.SetPosition(stream.Position() - 1);
    } else if (size > 11) {
        std::uint8_t rest[255];
        ReadExact(stream, rest, size - 11u);
    }
    LoadData(stream);
}

void TGIFApplicationExtension::SaveBody(std::vector<std::uint8_t>& out) const
{
    out.push_back(11);
    out.insert(out.end(), m_identifier.begin(), m_identifier.end());
    SaveData(out);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* subImage)
    : TGIFApplicationExtension(subImage)
{
    std::memcpy(m_identifier.data(), "NETSCAPE2.0", 11);
}

void TGIFAppExtNSLoop::LoadData(TStream& stream)
{
    ReadSubBlocks(stream, [this](std::span<const std::uint8_t> block) {
        switch (block[0] & 0x07) {
        case 1:
            if (block.size() < 3)
                throw GIFException(GIFMessages::sInvalidData);
            m_loops = GetLE16(block.data() + 1);
            break;
        case 2:
            if (block.size() < 5)
                throw GIFException(GIFMessages::sInvalidData);
            m_bufferSize = GetLE32(block.data() + 1);
            break;
        default:
            break;
        }
    });
}

void TGIFAppExtNSLoop::SaveData(std::vector<std::uint8_t>& out) const
{
    out.push_back(3);
    out.push_back(1);
    AppendLE16(out, m_loops);
    if (m_bufferSize > 0) {
        out.push_back(5);
        out.push_back(2);
        AppendLE32(out, m_bufferSize);
    }
    out.push_back(0);
}

void TGIFUnknownAppExtension::LoadData(TStream& stream)
{
    m_blocks.clear();
    ReadSubBlocks(stream, [this](std::span<const std::uint8_t> block) {
        m_blocks.emplace_back(block.begin(), block.end());
    });
}

void TGIFUnknownAppExtension::SaveData(std::vector<std::uint8_t>& out) const
{
    WriteSubBlocks(out, m_blocks);
}

namespace {

    void LoadLines(TStream& stream, std::vector<std::string>& lines)
    {
        lines.clear();
        ReadSubBlocks(stream, [&lines](std::span<const std::uint8_t> block) {
            lines.emplace_back(block.begin(), block.end());
        });
    }

} // namespace

void TGIFCommentExtension::LoadBody(TStream& stream)
{
    LoadLines(stream, m_text);
}

void TGIFCommentExtension::SaveBody(std::vector<std::uint8_t>& out) const
{
    WriteSubBlocks(out, m_text);
}

void TGIFTextExtension::LoadBody(TStream& stream)
{
    const std::uint8_t size = ReadByte(stream);
    m_header.assign(size, 0);
    ReadExact(stream, m_header.data(), size);
    LoadLines(stream, m_text);
}

void TGIFTextExtension::SaveBody(std::vector<std::uint8_t>& out) const
{
    out.push_back(static_cast<std::uint8_t>(m_header.size()));
    out.insert(out.end(), m_header.begin(), m_header.end());
    WriteSubBlocks(out, m_text);
}

} // namespace zx

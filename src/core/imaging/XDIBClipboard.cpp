#include "core/imaging/XDIBClipboard.h"

#include "core/Stream.h"

namespace zx {

TClipboardBlock SaveToClipboardFormat(const TDIB& picture)
{
    TMemoryStream stream;
    picture.WriteData(stream);
    TClipboardBlock block;
    block.Format = kClipboardFormatDIB;
    block.Data = std::move(stream.Data());
    return block;
}

void LoadFromClipboardFormat(
    TDIB& picture, std::uint32_t, std::span<const std::uint8_t> data, HPalette)
{
    TSpanStream stream(data);
    picture.ReadData(stream);
}

} // namespace zx

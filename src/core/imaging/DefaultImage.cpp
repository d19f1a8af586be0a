#include "core/imaging/DefaultImage.h"

#include "core/Stream.h"
#include "core/imaging/XDIBDraw.h"

#include <span>

namespace zx {

void LoadDefaultImage(TDIB& target)
{
    TSpanStream stream(std::span<const std::uint8_t>(kDefaultImageBmp, kDefaultImageBmpSize));
    TDIB picture;
    picture.LoadFromStream(stream);
    TDIB converted;
    converted.SetSize(picture.Width(), picture.Height(), 24);
    DrawDIB(converted, 0, 0, picture);
    target = converted;
}

} // namespace zx

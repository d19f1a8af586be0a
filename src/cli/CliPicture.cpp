#include "cli/CliPicture.h"

#include "core/Stream.h"
#include "core/imaging/DefaultImage.h"
#include "core/imaging/XDIBDraw.h"

namespace zx::cli {

void LoadSourcePicture(const std::optional<std::string>& path, TDIB& target)
{
    if (!path) {
        LoadDefaultImage(target);
        return;
    }
    const std::vector<std::uint8_t> bytes = ReadFileBytes(*path);
    TSpanStream stream(bytes);
    TDIB picture;
    picture.LoadFromStream(stream);
    TDIB converted;
    converted.SetSize(picture.Width(), picture.Height(), 24);
    DrawDIB(converted, 0, 0, picture);
    target = converted;
}

} // namespace zx::cli

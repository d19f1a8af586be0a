#include "cli/CliPicture.h"

#include "core/imaging/DefaultImage.h"
#include "core/imaging/XImageFileUnit.h"

namespace zx::cli {

void LoadSourcePicture(const std::optional<std::string>& path, TDIB& target)
{
    if (!path) {
        LoadDefaultImage(target);
        return;
    }
    LoadPictureFile(*path, target);
}

} // namespace zx::cli

#include "cli/CliPicture.h"

#include "core/Errors.h"
#include "core/Stream.h"
#include "core/imaging/DefaultImage.h"

#include <stdexcept>
#include <vector>

namespace zx::cli {

namespace {

    // What the file was taken for, in words, for the front of an error.
    std::string WhatWasExpected(
        TPictureFormat detected, TPictureFormat road, const std::exception& error)
    {
        if (detected == TPictureFormat::Unknown)
            return std::string("not a picture Zephyrix reads (") + kPictureFormats + ")";
        if (dynamic_cast<const EImageTooLarge*>(&error))
            return std::string("a ") + PictureFormatName(road) + " picture too large to load";
        return std::string("a damaged or unsupported ") + PictureFormatName(road) + " picture";
    }

} // namespace

void LoadSourcePicture(const std::optional<std::string>& path, TPicture& target)
{
    if (!path) {
        TDIB picture;
        LoadDefaultImage(picture);
        target.Color = picture;
        target.Alpha = TDIB();
        return;
    }
    // A file that cannot be opened says so, with its name, already.
    const std::vector<std::uint8_t> file = ReadFileBytes(*path);
    try {
        LoadPicture(file, *path, target);
    } catch (const std::exception& error) {
        const TPictureFormat detected = DetectPictureFormat(file);
        throw std::runtime_error(*path + ": "
            + WhatWasExpected(detected, PictureFormatFor(*path, file), error) + ": "
            + error.what());
    }
}

void LoadSourcePicture(const std::optional<std::string>& path, TDIB& target)
{
    TPicture picture;
    LoadSourcePicture(path, picture);
    target.Assign(picture.Color);
}

} // namespace zx::cli

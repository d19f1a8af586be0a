// Picture loading: the file loader with its choice of reader by extension, and
// the import of an already decoded bitmap.

#include "core/imaging/XImageFileUnit.h"

#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBDraw.h"

#include <vector>

namespace zx {

namespace {

    enum class TPictureRoad { JPEG, GIF, BMP };

    TPictureRoad RoadForExtension(const std::string& ext)
    {
        // Exact comparisons: ".JPEG", ".JPE" and ".PNG" go to the BMP reader and
        // fail there, as they always have.
        if (ext == ".JPG")
            return TPictureRoad::JPEG;
        if (ext == ".GIF")
            return TPictureRoad::GIF;
        return TPictureRoad::BMP;
    }

} // namespace

std::string PictureFileExtension(const std::string& fileName)
{
    const std::size_t separator = fileName.find_last_of("/\\:");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return {};
    std::string ext = fileName.substr(dot);
    for (char& c : ext)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return ext;
}

void LoadPictureFile(const std::string& fileName, TDIB& target)
{
    const TPictureRoad road = RoadForExtension(PictureFileExtension(fileName));
    const std::vector<std::uint8_t> file = ReadFileBytes(fileName);

    // Every road decodes into a picture of its own; target only takes it over
    // once the whole file has been read, so a failed load never leaves a
    // half-drawn or resized texture behind.
    TDIB picture;
    switch (road) {
    case TPictureRoad::JPEG:
        LoadJPEGPicture(file, picture);
        break;
    case TPictureRoad::GIF:
        LoadGIFPicture(file, picture);
        break;
    case TPictureRoad::BMP:
        LoadBMPPicture(file, picture);
        break;
    }
    target.Assign(picture);
}

void ImportBitmap(const TDIB& bitmap, TDIB& target)
{
    // Built apart from target, which may be bitmap itself.
    TDIB picture;
    picture.SetSize(bitmap.Width(), bitmap.Height(), 24);
    if (!picture.Empty())
        DrawDIB(picture, 0, 0, bitmap);
    target.Assign(picture);
}

} // namespace zx

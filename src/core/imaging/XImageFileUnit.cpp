// Picture loading: the file loader with its choice of reader, and the import
// of an already decoded bitmap.
//
// The reader is chosen by the file's content first. Pictures come with names
// that do not match what they hold ("photo.jpeg", a PNG saved as ".bmp"), and
// the first bytes of every format we read say unmistakably what it is. Only
// content that no reader claims falls back to the extension rule of old
// (".JPG" JPEG, ".GIF" GIF, anything else BMP), with that reader's messages.

#include "core/imaging/XImageFileUnit.h"

#include "core/Errors.h"
#include "core/Limits.h"
#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "core/imaging/BMPFormat.h"
#include "core/imaging/XDIBDraw.h"
#include "core/imaging/XImageFileUnitRGBA.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zx {

namespace {

    bool StartsWith(std::span<const std::uint8_t> file, const char* prefix, std::size_t at = 0)
    {
        const std::size_t length = std::strlen(prefix);
        return file.size() >= at + length && std::memcmp(file.data() + at, prefix, length) == 0;
    }

    bool IsXMLSpace(std::uint8_t c)
    {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    }

    bool IsNameChar(std::uint8_t c)
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
            || c == '_' || c == '-' || c == '.' || c == ':' || c >= 0x80;
    }

    // Moves at past the first occurrence of terminator; false when there is none.
    bool SkipPast(std::span<const std::uint8_t> text, std::size_t& at, const char* terminator)
    {
        const std::size_t length = std::strlen(terminator);
        const auto found = std::search(
            text.begin() + std::ptrdiff_t(at), text.end(), terminator, terminator + length);
        if (found == text.end())
            return false;
        at = std::size_t(found - text.begin()) + length;
        return true;
    }

    // A document type declaration, from after "<!DOCTYPE": its internal subset
    // in brackets may hold quoted strings and '>' characters.
    bool SkipDoctype(std::span<const std::uint8_t> text, std::size_t& at)
    {
        std::uint8_t quote = 0;
        bool inSubset = false;
        for (; at < text.size(); ++at) {
            const std::uint8_t c = text[at];
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                inSubset = true;
            } else if (c == ']') {
                inSubset = false;
            } else if (c == '>' && !inSubset) {
                ++at;
                return true;
            }
        }
        return false;
    }

    // XML whose root element is svg (in any namespace prefix): after an
    // optional UTF-8 byte order mark, only white space, the XML declaration,
    // comments, processing instructions and a document type may come before
    // the root's start tag. One pass over the text, however long it is.
    bool IsSVGDocument(std::span<const std::uint8_t> text)
    {
        std::size_t at = StartsWith(text, "\xEF\xBB\xBF") ? 3 : 0;
        for (;;) {
            while (at < text.size() && IsXMLSpace(text[at]))
                ++at;
            if (at >= text.size() || text[at] != '<')
                return false;
            if (StartsWith(text, "<?", at)) {
                if (!SkipPast(text, at, "?>"))
                    return false;
            } else if (StartsWith(text, "<!--", at)) {
                at += 4;
                if (!SkipPast(text, at, "-->"))
                    return false;
            } else if (StartsWith(text, "<!DOCTYPE", at)) {
                at += 9;
                if (!SkipDoctype(text, at))
                    return false;
            } else {
                std::size_t end = ++at;
                while (end < text.size() && IsNameChar(text[end]))
                    ++end;
                const std::string name(
                    text.begin() + std::ptrdiff_t(at), text.begin() + std::ptrdiff_t(end));
                const std::size_t colon = name.rfind(':');
                const std::string local
                    = colon == std::string::npos ? name : name.substr(colon + 1);
                const bool nameEnds = end == text.size() || IsXMLSpace(text[end])
                    || text[end] == '>' || text[end] == '/';
                return local == "svg" && nameEnds;
            }
        }
    }

    TPictureFormat FormatForExtension(const std::string& ext)
    {
        // Exact comparisons, as they always were: ".JPEG", ".JPE" and ".PNG"
        // go to the BMP reader (and reach it only when the content is none of
        // the formats we read).
        if (ext == ".JPG")
            return TPictureFormat::JPEG;
        if (ext == ".GIF")
            return TPictureFormat::GIF;
        return TPictureFormat::BMP;
    }

    void ToPicture(const TDIB& color, TPicture& target)
    {
        target.Color = color;
        target.Alpha = TDIB();
    }

} // namespace

TPictureFormat DetectPictureFormat(std::span<const std::uint8_t> file)
{
    if (StartsWith(file, "BM"))
        return TPictureFormat::BMP;
    if (StartsWith(file, "\xFF\xD8\xFF"))
        return TPictureFormat::JPEG;
    if (StartsWith(file, "GIF87a") || StartsWith(file, "GIF89a"))
        return TPictureFormat::GIF;
    if (StartsWith(file, "\x89PNG\r\n\x1A\n"))
        return TPictureFormat::PNG;
    if (StartsWith(file, "RIFF") && StartsWith(file, "WEBP", 8))
        return TPictureFormat::WebP;
    if (IsSVGDocument(file))
        return TPictureFormat::SVG;
    return TPictureFormat::Unknown;
}

TPictureFormat PictureFormatFor(const std::string& fileName, std::span<const std::uint8_t> file)
{
    const TPictureFormat format = DetectPictureFormat(file);
    return format != TPictureFormat::Unknown ? format
                                             : FormatForExtension(PictureFileExtension(fileName));
}

const char* PictureFormatName(TPictureFormat format)
{
    switch (format) {
    case TPictureFormat::BMP:
        return "BMP";
    case TPictureFormat::JPEG:
        return "JPEG";
    case TPictureFormat::GIF:
        return "GIF";
    case TPictureFormat::PNG:
        return "PNG";
    case TPictureFormat::WebP:
        return "WebP";
    case TPictureFormat::SVG:
        return "SVG";
    case TPictureFormat::Unknown:
        break;
    }
    return "unknown";
}

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

void LoadPicture(std::span<const std::uint8_t> file, const std::string& fileName, TPicture& target)
{
    // Every road decodes into a picture of its own; target only takes it over
    // once the whole file has been read, so a failed load never leaves a
    // half-drawn or resized texture behind.
    TPicture picture;
    TDIB color;
    switch (PictureFormatFor(fileName, file)) {
    case TPictureFormat::JPEG:
        LoadJPEGPicture(file, color);
        ToPicture(color, picture);
        break;
    case TPictureFormat::GIF:
        LoadGIFPicture(file, color);
        ToPicture(color, picture);
        break;
    case TPictureFormat::PNG:
        LoadPNGPicture(file, picture);
        break;
    case TPictureFormat::WebP:
        LoadWebPPicture(file, picture);
        break;
    case TPictureFormat::SVG:
        LoadSVGPicture(file, picture);
        break;
    case TPictureFormat::BMP:
    case TPictureFormat::Unknown:
        LoadBMPPicture(file, color);
        ToPicture(color, picture);
        break;
    }
    target.Color.Assign(picture.Color);
    target.Alpha.Assign(picture.Alpha);
}

void LoadPictureFile(const std::string& fileName, TPicture& target)
{
    const std::vector<std::uint8_t> file = ReadFileBytes(fileName);
    LoadPicture(file, fileName, target);
}

void LoadPictureFile(const std::string& fileName, TDIB& target)
{
    TPicture picture;
    LoadPictureFile(fileName, picture);
    target.Assign(picture.Color);
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

// ---------------------------------------------------------------------------
// TRGBAPictureBuilder

TRGBAPictureBuilder::TRGBAPictureBuilder(
    std::uint64_t width, std::uint64_t height, bool withAlpha, const std::string& emptyMessage)
{
    if (width == 0 || height == 0)
        throw EInvalidGraphic(emptyMessage);
    // 3 + 1 bytes of a pixel bound the width well below 2^31 before the row
    // sizes are computed.
    CheckPixelMemory(width, height, withAlpha ? 4 : 3);
    m_width = static_cast<std::int32_t>(width);
    m_height = static_cast<std::int32_t>(height);
    std::uint64_t rowBytes = std::uint64_t(DIBRowBytes(m_width, 24));
    if (withAlpha)
        rowBytes += std::uint64_t(DIBRowBytes(m_width, 8));
    CheckPixelMemory(rowBytes, height, 1);
    m_picture.Color.SetSize(m_width, m_height, 24);
    if (withAlpha)
        m_picture.Alpha.SetSize(m_width, m_height, 8);
}

void TRGBAPictureBuilder::SetRow(
    std::int32_t y, const std::uint8_t* rgba, std::int32_t first, std::int32_t step)
{
    std::uint8_t* color = m_picture.Color.ScanLine(y);
    std::uint8_t* alpha = m_picture.HasAlpha() ? m_picture.Alpha.ScanLine(y) : nullptr;
    for (std::int32_t x = first; x < m_width; x += step) {
        const std::uint8_t* in = rgba + std::ptrdiff_t(x) * 4;
        std::uint8_t* out = color + std::ptrdiff_t(x) * 3;
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if (alpha)
            alpha[x] = in[3];
    }
}

void TRGBAPictureBuilder::Finish(TPicture& target)
{
    if (m_picture.HasAlpha()) {
        bool opaque = true;
        for (std::int32_t y = 0; y < m_height && opaque; ++y) {
            const std::uint8_t* row = m_picture.Alpha.ConstScanLine(y);
            opaque = std::all_of(row, row + m_width, [](std::uint8_t a) { return a == 255; });
        }
        if (opaque)
            m_picture.Alpha = TDIB();
    }
    target.Color = m_picture.Color;
    target.Alpha = m_picture.Alpha;
}

} // namespace zx

#pragma once

// The BMP sample corpora in tests/data/bmp: their manifests, files and raw RGBA
// references, plus a small writer of hand-made BMP files.

#include "core/Stream.h"

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace zx::test {

inline std::string BMPDataDir()
{
    return std::string(ZX_TEST_DATA_DIR) + "/bmp/";
}

// One manifest row, by column name.
struct TManifestRow {
    std::string Corpus; // "bmpsuite" or "bmp-imagemagick"
    std::map<std::string, std::string> Fields;

    const std::string& operator[](const std::string& column) const { return Fields.at(column); }
    std::string Path() const { return BMPDataDir() + Corpus + "/" + Fields.at("file"); }
    std::string Name() const { return Corpus + "/" + Fields.at("file"); }
};

inline std::vector<std::string> SplitString(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.push_back("");
    return parts;
}

inline std::vector<TManifestRow> ReadManifest(const std::string& corpus)
{
    const std::vector<std::uint8_t> bytes = ReadFileBytes(BMPDataDir() + corpus + "/MANIFEST.tsv");
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines = SplitString(text, '\n');
    std::vector<TManifestRow> rows;
    if (lines.empty())
        return rows;
    const std::vector<std::string> columns = SplitString(lines[0], '\t');
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        const std::vector<std::string> cells = SplitString(lines[i], '\t');
        TManifestRow row;
        row.Corpus = corpus;
        for (std::size_t c = 0; c < columns.size() && c < cells.size(); ++c)
            row.Fields[columns[c]] = cells[c];
        rows.push_back(row);
    }
    return rows;
}

// Both corpora, every file.
inline std::vector<TManifestRow> AllBMPSamples()
{
    std::vector<TManifestRow> rows = ReadManifest("bmpsuite");
    for (TManifestRow& row : ReadManifest("bmp-imagemagick"))
        rows.push_back(row);
    return rows;
}

// ---------------------------------------------------------------------------
// Reference pixels

// A decoded picture as red, green, blue per pixel, top row first.
struct TRGBPicture {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<std::uint8_t> Rgb;
};

// Compares a picture with one raw RGBA reference (top row first). Reference
// pixels with alpha 0 are "don't care"; others must match within tolerance per
// channel. Returns an empty string on a match, else the first difference.
inline std::string CompareWithReference(
    const TRGBPicture& picture, const std::string& refPath, int tolerance)
{
    const std::vector<std::uint8_t> ref = ReadFileBytes(refPath);
    const std::size_t pixels = std::size_t(picture.Width) * std::size_t(picture.Height);
    if (ref.size() != pixels * 4 || picture.Rgb.size() != pixels * 3)
        return "size differs from " + refPath;
    for (std::size_t i = 0; i < pixels; ++i) {
        if (ref[4 * i + 3] == 0)
            continue;
        for (int c = 0; c < 3; ++c) {
            const int got = picture.Rgb[3 * i + c];
            const int want = ref[4 * i + c];
            if (got - want > tolerance || want - got > tolerance) {
                std::ostringstream text;
                text << refPath << ": pixel (" << i % picture.Width << ", " << i / picture.Width
                     << ") channel " << c << " is " << got << ", expected " << want;
                return text.str();
            }
        }
    }
    return "";
}

// refList holds alternatives separated by '|', relative to the corpus folder;
// any one may match. Returns an empty string on a match.
inline std::string CompareWithReferences(
    const TRGBPicture& picture, const TManifestRow& row, int tolerance)
{
    std::string failures;
    for (const std::string& ref : SplitString(row["ref_rgba"], '|')) {
        const std::string result
            = CompareWithReference(picture, BMPDataDir() + row.Corpus + "/" + ref, tolerance);
        if (result.empty())
            return "";
        failures += result + "; ";
    }
    return failures;
}

// Widened channels (not 8 bits wide in the file) may be 1 off the reference.
inline int ReferenceTolerance(const TManifestRow& row)
{
    return row["notes"].find("allow +-1") != std::string::npos ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Hand-made BMP files

inline void AppendU16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void AppendU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    AppendU16(out, value);
    AppendU16(out, value >> 16);
}

// The fields of a BITMAPINFOHEADER-based file, with the parts after it.
struct TBMPFields {
    std::uint32_t HeaderSize = 40; // 12, 40, 52, 56, 108 or 124
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t Planes = 1;
    std::uint16_t BitCount = 24;
    std::uint32_t Compression = 0;
    std::uint32_t ImageSize = 0; // 0: the length of Pixels
    std::uint32_t ColorsUsed = 0;
    // Masks written inside a header of 52 bytes and more, or after a 40-byte one.
    std::vector<std::uint32_t> Masks;
    // Colour entries as blue, green, red (and a zero fourth byte unless 12).
    std::vector<std::uint32_t> Colors; // 0x00RRGGBB
    std::uint32_t Gap = 0; // bytes between colour table and pixels
    std::vector<std::uint8_t> Pixels;
    bool OmitOffset = false; // bfOffBits 0
};

inline std::vector<std::uint8_t> MakeBMP(const TBMPFields& fields)
{
    std::vector<std::uint8_t> info;
    AppendU32(info, fields.HeaderSize);
    if (fields.HeaderSize == 12) {
        AppendU16(info, static_cast<std::uint32_t>(fields.Width));
        AppendU16(info, static_cast<std::uint32_t>(fields.Height));
        AppendU16(info, fields.Planes);
        AppendU16(info, fields.BitCount);
    } else {
        AppendU32(info, static_cast<std::uint32_t>(fields.Width));
        AppendU32(info, static_cast<std::uint32_t>(fields.Height));
        AppendU16(info, fields.Planes);
        AppendU16(info, fields.BitCount);
        AppendU32(info, fields.Compression);
        AppendU32(info, fields.ImageSize ? fields.ImageSize : std::uint32_t(fields.Pixels.size()));
        AppendU32(info, 0); // biXPelsPerMeter
        AppendU32(info, 0); // biYPelsPerMeter
        AppendU32(info, fields.ColorsUsed);
        AppendU32(info, 0); // biClrImportant
        if (fields.HeaderSize > 40) {
            for (std::size_t i = 0; i < 4; ++i)
                if (info.size() < fields.HeaderSize)
                    AppendU32(info, i < fields.Masks.size() ? fields.Masks[i] : 0);
            info.resize(fields.HeaderSize, 0);
        } else {
            for (const std::uint32_t mask : fields.Masks)
                AppendU32(info, mask);
        }
    }
    for (const std::uint32_t color : fields.Colors) {
        info.push_back(static_cast<std::uint8_t>(color));
        info.push_back(static_cast<std::uint8_t>(color >> 8));
        info.push_back(static_cast<std::uint8_t>(color >> 16));
        if (fields.HeaderSize != 12)
            info.push_back(0);
    }
    info.resize(info.size() + fields.Gap, 0xEE);

    std::vector<std::uint8_t> file { 'B', 'M' };
    const auto offset = static_cast<std::uint32_t>(14 + info.size());
    AppendU32(file, offset + static_cast<std::uint32_t>(fields.Pixels.size()));
    AppendU32(file, 0);
    AppendU32(file, fields.OmitOffset ? 0 : offset);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), fields.Pixels.begin(), fields.Pixels.end());
    return file;
}

} // namespace zx::test

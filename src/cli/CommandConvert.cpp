// zephyrix-cli convert PICTURE OUT.bmp: loads a picture exactly as the desktop
// program's open command does and writes the 24-bit result as a BMP file, so
// the loader can be checked from the command line.

#include "cli/CliCommand.h"
#include "cli/CliOptions.h"
#include "cli/CliPicture.h"
#include "cli/CliTextOptions.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zx::cli {

namespace {

    std::vector<std::uint8_t> BmpBytes(const TDIB& picture)
    {
        TMemoryStream bmp;
        picture.SaveToStream(bmp);
        return std::move(bmp.Data());
    }

    int RunConvert(std::span<const std::string> args)
    {
        TCliSettings text;
        std::vector<std::string> files;
        std::optional<std::string> alphaPath;
        for (std::size_t i = 0; i < args.size();) {
            if (const std::size_t used = ParseSettingOption(kCliConvert, args, i, text)) {
                i += used;
                continue;
            }
            if (args[i] == "--alpha" || args[i].starts_with("--alpha=")) {
                std::size_t used = 0;
                alphaPath = OptionValue(args, i, "--alpha", used);
                i += used;
                continue;
            }
            if (args[i].empty() || args[i].front() == '-')
                throw EUsageError("unknown option " + args[i]);
            files.push_back(args[i]);
            ++i;
        }
        if (files.size() != 2)
            throw EUsageError("expected PICTURE OUT.bmp");
        if (alphaPath && alphaPath->empty())
            throw EUsageError("--alpha needs a file name");
        TPicture picture;
        LoadSourcePicture(files[0], picture);
        ApplyTextOverlay(picture.Color, text.Values.Text, text.FontRequired);
        // Both files are encoded before either is written.
        const std::vector<std::uint8_t> color = BmpBytes(picture.Color);
        std::vector<std::uint8_t> alpha;
        if (alphaPath) {
            TDIB plane = picture.Alpha;
            if (!picture.HasAlpha()) {
                plane.SetSize(picture.Color.Width(), picture.Color.Height(), 8);
                for (std::int32_t y = 0; y < plane.Height(); ++y)
                    std::memset(plane.ScanLine(y), 255, std::size_t(plane.Width()));
            }
            alpha = BmpBytes(plane);
        }
        WriteFileAtomic(files[1], color);
        if (alphaPath)
            WriteFileAtomic(*alphaPath, alpha);
        return 0;
    }

    const CliCommandRegistration kRegistration { CliCommand {
        "convert",
        "convert PICTURE OUT.bmp [--alpha ALPHA.bmp] [text options]",
        "Loads PICTURE (a BMP, JPEG, GIF, PNG, WebP or SVG file, recognised by its\n"
        "content; content of no such kind is read by the extension: .jpg as JPEG, .gif\n"
        "as GIF, anything else as BMP) as the flag's source picture and writes it to\n"
        "OUT.bmp as a 24-bit BMP file, with the text of the text options drawn on it.\n"
        "Nothing is written when the picture cannot be loaded.\n\n"
        "  --alpha ALPHA.bmp         also write the picture's alpha plane as an 8-bit\n"
        "                            BMP (255 = opaque; all 255 for an opaque picture)\n\n"
            + TextOptionsHelp(),
        RunConvert,
    } };

} // namespace

} // namespace zx::cli

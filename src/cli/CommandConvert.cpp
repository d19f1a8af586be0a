// zephyrix-cli convert PICTURE OUT.bmp: loads a picture exactly as the desktop
// program's open command does and writes the 24-bit result as a BMP file, so
// the loader can be checked from the command line.

#include "cli/CliCommand.h"
#include "cli/CliFlagOptions.h"
#include "cli/CliTextOptions.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <string>
#include <vector>

namespace zx::cli {

namespace {

    int RunConvert(std::span<const std::string> args)
    {
        TTextOverlaySettings text;
        std::vector<std::string> files;
        for (std::size_t i = 0; i < args.size();) {
            if (const std::size_t used = ParseTextOption(args, i, text)) {
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
        TDIB picture;
        LoadPictureFile(files[0], picture);
        ApplyTextOverlay(picture, text);
        TMemoryStream bmp;
        picture.SaveToStream(bmp);
        WriteFileAtomic(files[1], bmp.Data());
        return 0;
    }

    const CliCommandRegistration kRegistration { CliCommand {
        "convert",
        "convert PICTURE OUT.bmp [text options]",
        "Loads PICTURE (BMP, JPEG as .jpg, or GIF as .gif, chosen by the file name's\n"
        "extension) as the flag's source picture and writes it to OUT.bmp as a 24-bit\n"
        "BMP file, with the text of the text options drawn on it. Nothing is written\n"
        "when the picture cannot be loaded.\n\n"
            + TextOptionsHelp(),
        RunConvert,
    } };

} // namespace

} // namespace zx::cli

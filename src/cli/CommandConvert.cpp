// zephyrix-cli convert PICTURE OUT.bmp: loads a picture exactly as the desktop
// program's open command does and writes the 24-bit result as a BMP file, so
// the loader can be checked from the command line.

#include "cli/CliCommand.h"
#include "core/Stream.h"
#include "core/imaging/XDIBUnit.h"
#include "core/imaging/XImageFileUnit.h"

#include <iostream>
#include <string>

namespace zx::cli {

namespace {

    int RunConvert(std::span<const std::string> args)
    {
        // Options start with '-'; convert takes none.
        if (args.size() != 2 || args[0].empty() || args[1].empty() || args[0][0] == '-'
            || args[1][0] == '-') {
            std::cerr << "zephyrix-cli convert: expected PICTURE OUT.bmp\n";
            return 2;
        }
        TDIB picture;
        LoadPictureFile(args[0], picture);
        TMemoryStream bmp;
        picture.SaveToStream(bmp);
        WriteFileAtomic(args[1], bmp.Data());
        return 0;
    }

    const CliCommandRegistration kRegistration { CliCommand {
        "convert",
        "convert PICTURE OUT.bmp",
        "Loads PICTURE (BMP, JPEG as .jpg, or GIF as .gif, chosen by the file name's\n"
        "extension) as the flag's source picture and writes it to OUT.bmp as a 24-bit\n"
        "BMP file. Nothing is written when the picture cannot be loaded.\n",
        RunConvert,
    } };

} // namespace

} // namespace zx::cli

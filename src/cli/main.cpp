// zephyrix-cli: the headless front end. It renders the flag from a picture and
// writes the GIF (and, for checking, frames and converted pictures as BMP).

#include "cli/CliCommand.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace zx::cli {

namespace {

    std::vector<CliCommand>& Registry()
    {
        static std::vector<CliCommand> commands;
        return commands;
    }

    void PrintUsage(std::ostream& out)
    {
        out << "Usage: zephyrix-cli COMMAND [arguments]\n\n"
               "Turns a picture (BMP, JPEG, GIF, PNG, WebP, SVG, or the built-in one) into a\n"
               "waving-flag animation.\n\nCommands:\n";
        for (const auto& command : Commands())
            out << "  zephyrix-cli " << command.Synopsis << "\n";
        out << "\n`zephyrix-cli COMMAND --help` lists a command's options;\n"
               "`zephyrix-cli --version` prints the version.\n";
    }

} // namespace

const std::vector<CliCommand>& Commands()
{
    auto& commands = Registry();
    std::sort(commands.begin(), commands.end(),
        [](const CliCommand& a, const CliCommand& b) { return a.Name < b.Name; });
    return commands;
}

CliCommandRegistration::CliCommandRegistration(CliCommand command)
{
    Registry().push_back(std::move(command));
}

} // namespace zx::cli

int main(int argc, char** argv)
{
    using namespace zx::cli;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintUsage(std::cout);
        return args.empty() ? 2 : 0;
    }
    if (args[0] == "--version") {
        std::cout << "zephyrix-cli " ZX_VERSION "\n";
        return 0;
    }
    for (const auto& command : Commands()) {
        if (command.Name != args[0])
            continue;
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
            std::cout << "Usage: zephyrix-cli " << command.Synopsis << "\n\n" << command.Help;
            return 0;
        }
        try {
            return command.Run(rest);
        } catch (const std::exception& error) {
            std::cerr << "zephyrix-cli " << command.Name << ": " << error.what() << "\n";
            return 1;
        }
    }
    std::cerr << "zephyrix-cli: unknown command \"" << args[0] << "\"\n";
    PrintUsage(std::cerr);
    return 2;
}

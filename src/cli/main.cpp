// zephyrix-cli: the headless front end. It renders the flag from a picture and
// writes the GIF (and, for checking, frames and converted pictures as BMP).

#include "cli/CliCommand.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#if defined(__linux__) && defined(__GLIBC__)
#include <unistd.h>
#endif

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

    // The pictures, plans and frames of a command are tens to hundreds of
    // megabytes, and the system hands each page of them over at its first
    // touch: on a virtual machine those faults were a sixth to a quarter of
    // an export's time. glibc's allocator asks for large pages when told so
    // by its tunables, which it reads only as a process starts, so the CLI
    // starts itself once more with them set (and with ZX_MALLOC_TUNED, which
    // also keeps it from doing so: set it to run the CLI as it is, under a
    // debugger say). Should that fail, the command runs as it is. The
    // sanitizers' builds bring their own allocator.
    //
    // The allocator also grows its heaps by 32 MiB at a time: in steps of
    // the size asked for, the heaps of the palette's counts, the plan and the
    // points grew a few pages at a time, too little to be given large pages,
    // and those faults were a fifth of a high-level encode of 40 frames of
    // 320 x 200 (5 300 faults, now 600). Untouched, the room costs no memory;
    // the peak grows by the large pages' rounding (about 10 MB there).
    void UseLargePages(char** argv)
    {
#if defined(__linux__) && defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
        if (std::getenv("ZX_MALLOC_TUNED"))
            return;
        const char* tunables = std::getenv("GLIBC_TUNABLES");
        if (tunables && std::strstr(tunables, "glibc.malloc.hugetlb"))
            return;
        std::string tuned = tunables && *tunables ? std::string(tunables) + ":" : std::string();
        tuned += "glibc.malloc.hugetlb=1:glibc.malloc.top_pad=33554432";
        if (setenv("ZX_MALLOC_TUNED", "1", 1) != 0
            || setenv("GLIBC_TUNABLES", tuned.c_str(), 1) != 0)
            return;
        execv("/proc/self/exe", argv);
        // Still here: the command runs with the allocator as it is.
        if (tunables)
            setenv("GLIBC_TUNABLES", tunables, 1);
        else
            unsetenv("GLIBC_TUNABLES");
#else
        (void)argv;
#endif
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
    UseLargePages(argv);
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

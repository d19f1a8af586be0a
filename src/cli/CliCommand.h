#pragma once

// Each command of zephyrix-cli lives in its own file and registers itself here
// with a static CliCommandRegistration, so adding a command touches no other file.

#include <span>
#include <string>
#include <vector>

namespace zx::cli {

struct CliCommand {
    std::string Name;
    // One line for the command list, e.g. "frames [picture] -d DIR [options]".
    std::string Synopsis;
    // The full option text shown by `zephyrix-cli COMMAND --help`.
    std::string Help;
    // Runs with the arguments after the command name; returns the exit status.
    int (*Run)(std::span<const std::string> args) = nullptr;
};

const std::vector<CliCommand>& Commands();

struct CliCommandRegistration {
    explicit CliCommandRegistration(CliCommand command);
};

} // namespace zx::cli

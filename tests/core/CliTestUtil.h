#pragma once

// Running zephyrix-cli from a test: a fresh folder per test, the exit status,
// and what the program wrote to stdout and stderr. A test that reads the
// desktop program's settings gives the CLI a store of its own in that folder.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zx::cli_test {

class TCliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = std::filesystem::temp_directory_path()
            / (std::string("zx-cli-") + info->test_suite_name() + "-" + info->name() + "-"
                + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Runs the CLI with the arguments (a shell command line) and returns its
    // exit status; stdout and stderr go to files in the test's folder.
    int Run(const std::string& arguments) const
    {
        std::string command;
        if (m_ownStore) {
            // No display either: the CLI must not need one.
            command = "env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME="
                + Quote((m_dir / "config").string())
                + " XDG_CONFIG_DIRS=" + Quote((m_dir / "system").string()) + " ";
        }
        command += Quote(ZX_CLI_PATH) + " " + arguments + " >" + Quote((m_dir / "stdout").string())
            + " 2>" + Quote((m_dir / "stderr").string());
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // The same with each argument quoted for the shell.
    int Run(const std::string& command, const std::vector<std::string>& args) const
    {
        std::string line = command;
        for (const std::string& arg : args) {
            line += ' ';
            line += Quote(arg);
        }
        return Run(line);
    }
    std::string Stderr() const { return ReadText(m_dir / "stderr"); }
    std::string Stdout() const { return ReadText(m_dir / "stdout"); }
    std::filesystem::path Path(const std::string& name) const { return m_dir / name; }

    // The desktop program's store for the runs that follow: the per-user and
    // the machine-wide settings in the test's folder.
    void UseOwnStore() { m_ownStore = true; }
    std::filesystem::path StoreFile() const
    {
        return m_dir / "config" / "Tarnwick" / "Zephyrix.conf";
    }
    void WriteStore(const std::string& text) const
    {
        std::filesystem::create_directories(StoreFile().parent_path());
        std::ofstream(StoreFile(), std::ios::binary) << text;
    }

    static std::string Quote(const std::string& text)
    {
        std::string quoted = "'";
        for (const char c : text)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    static std::string ReadText(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path m_dir;

private:
    bool m_ownStore = false;
};

} // namespace zx::cli_test

#pragma once

// Running zephyrix-cli from a test: a fresh folder per test, the exit status,
// and what the program wrote to stderr.

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
        const std::string command = "'" + std::string(ZX_CLI_PATH) + "' " + arguments + " >'"
            + (m_dir / "stdout").string() + "' 2>'" + (m_dir / "stderr").string() + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Stderr() const { return ReadText(m_dir / "stderr"); }
    std::string Stdout() const { return ReadText(m_dir / "stdout"); }
    std::filesystem::path Path(const std::string& name) const { return m_dir / name; }

    static std::string ReadText(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path m_dir;
};

} // namespace zx::cli_test

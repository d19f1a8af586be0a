// Reading whole files: every byte of regular files of any size, of a pipe,
// the error of a file that is not there, and the limit on what is read.

#include "core/Stream.h"

#include "core/Errors.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zx {
namespace {

    std::vector<std::uint8_t> Pattern(std::size_t size)
    {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 131 + i / 251);
        return bytes;
    }

    std::filesystem::path TestFolder()
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        auto dir = std::filesystem::temp_directory_path()
            / (std::string("zx-stream-") + info->name() + "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        return dir;
    }

    TEST(ReadFileBytes, ReadsEveryByteOfFilesOfAnySize)
    {
        const auto dir = TestFolder();
        // Around the first read's room and the doubling of a pipe's.
        for (const std::size_t size :
            { std::size_t(0), std::size_t(1), std::size_t(65535), std::size_t(65536),
                std::size_t(65537), std::size_t(131073), std::size_t(3000001) }) {
            SCOPED_TRACE(size);
            const auto path = (dir / "file.bin").string();
            const std::vector<std::uint8_t> bytes = Pattern(size);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
            EXPECT_EQ(ReadFileBytes(path), bytes);
        }
        std::filesystem::remove_all(dir);
    }

    TEST(ReadFileBytes, ReadsAPipeToItsEnd)
    {
        // A pipe has no size to go by: its bytes come as the writer sends
        // them, in pieces, well beyond the first room.
        const auto dir = TestFolder();
        const auto path = (dir / "pipe").string();
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        const std::vector<std::uint8_t> bytes = Pattern(300007);
        // A reader that stops early fails the test rather than kill it.
        std::signal(SIGPIPE, SIG_IGN);
        std::thread writer([&] {
            std::FILE* out = std::fopen(path.c_str(), "wb");
            ASSERT_NE(out, nullptr);
            for (std::size_t at = 0; at < bytes.size(); at += 10007)
                std::fwrite(
                    bytes.data() + at, 1, std::min<std::size_t>(10007, bytes.size() - at), out);
            std::fclose(out);
        });
        const std::vector<std::uint8_t> read = ReadFileBytes(path);
        writer.join();
        EXPECT_EQ(read, bytes);
        std::filesystem::remove_all(dir);
    }

    // The message of a refused read: the reason the system gives for EFBIG.
    std::string TooLargeText(const std::function<void()>& read)
    {
        try {
            read();
        } catch (const EFOpenError& error) {
            return error.what();
        }
        return "read without an error";
    }

    TEST(ReadFileBytes, RefusesMoreThanTheLimitFromAFileAPipeOrADevice)
    {
        const auto dir = TestFolder();
        const std::string tooLarge = std::strerror(EFBIG);
        constexpr std::size_t kLimit = 100000;
        const auto path = (dir / "file.bin").string();
        for (const std::size_t size : { kLimit, kLimit + 1, 3 * kLimit }) {
            SCOPED_TRACE(size);
            const std::vector<std::uint8_t> bytes = Pattern(size);
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(size));
            if (size <= kLimit)
                EXPECT_EQ(ReadFileBytes(path, kLimit), bytes);
            else
                EXPECT_NE(TooLargeText([&] { ReadFileBytes(path, kLimit); }).find(tooLarge),
                    std::string::npos);
        }
        // A pipe has no size: it is refused once a byte past the limit
        // arrives, and the writer, whose reader is gone, is not left waiting.
        const auto pipe = (dir / "pipe").string();
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
        std::signal(SIGPIPE, SIG_IGN);
        const std::vector<std::uint8_t> bytes = Pattern(5 * kLimit);
        std::thread writer([&] {
            std::FILE* out = std::fopen(pipe.c_str(), "wb");
            ASSERT_NE(out, nullptr);
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        });
        const std::string text = TooLargeText([&] { ReadFileBytes(pipe, kLimit); });
        writer.join();
        EXPECT_NE(text.find(tooLarge), std::string::npos) << text;
        EXPECT_NE(text.find(pipe), std::string::npos) << text;
        // A device that never ends.
        EXPECT_NE(TooLargeText([&] { ReadFileBytes("/dev/zero", 3 * kLimit); }).find(tooLarge),
            std::string::npos);
        std::filesystem::remove_all(dir);
    }

    TEST(ReadFileBytes, AMissingFileIsAnOpenError)
    {
        EXPECT_THROW(ReadFileBytes("/nonexistent/zephyrix/file.bmp"), EFOpenError);
    }

} // namespace
} // namespace zx

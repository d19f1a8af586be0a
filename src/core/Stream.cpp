#include "core/Stream.h"

#include "core/Cancel.h"
#include "core/Errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zx {

namespace {

    std::string OpenErrorText(const std::string& path, int error)
    {
        return "Cannot open file \"" + path + "\". " + std::strerror(error);
    }

    // A file that could be created but not written whole: the disk is full,
    // the file would grow past a limit, the device failed.
    std::string WriteErrorText(const std::string& path, int error)
    {
        return "Cannot write file \"" + path + "\". " + std::strerror(error);
    }

    // Copies up to count bytes from position on and advances the position.
    std::size_t ReadMemory(std::span<const std::uint8_t> data, std::uint64_t& position,
        void* buffer, std::size_t count)
    {
        if (position >= data.size())
            return 0;
        const std::size_t n = std::min<std::uint64_t>(count, data.size() - position);
        std::memcpy(buffer, data.data() + position, n);
        position += n;
        return n;
    }

} // namespace

void TStream::ReadBuffer(void* buffer, std::size_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError(kStreamReadError);
}

std::size_t TMemoryStream::Read(void* buffer, std::size_t count)
{
    return ReadMemory(m_data, m_position, buffer, count);
}

void TMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0)
        return;
    const std::uint64_t end = m_position + count;
    if (end > m_data.size())
        m_data.resize(end);
    std::memcpy(m_data.data() + m_position, buffer, count);
    m_position = end;
}

std::size_t TSpanStream::Read(void* buffer, std::size_t count)
{
    return ReadMemory(m_data, m_position, buffer, count);
}

void TSpanStream::Write(const void*, std::size_t count)
{
    if (count != 0)
        throw EWriteError(kStreamWriteError);
}

std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(OpenErrorText(path, errno));
    // Closed however the read ends, a failed allocation included.
    struct TCloser {
        int Fd;
        ~TCloser() { ::close(Fd); }
    } closer { fd };
    const auto refuse = [&](int error) { throw EFOpenError(OpenErrorText(path, error)); };
    // Read straight into the vector: a regular file's size is known, and one
    // byte more lets the read that finds the end need no room of its own.
    // Anything else (a pipe, a device, a file that grows) doubles the room as
    // it fills, up to one byte past the limit: a byte there means too many.
    struct stat info { };
    const std::uint64_t most = std::min<std::uint64_t>(maxBytes, SIZE_MAX - 1);
    std::size_t room = 65536;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
        if (std::uint64_t(info.st_size) > most)
            refuse(EFBIG);
        room = static_cast<std::size_t>(info.st_size) + 1;
    }
    room = static_cast<std::size_t>(std::min<std::uint64_t>(room, most + 1));
    std::vector<std::uint8_t> bytes(room);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > most)
                refuse(EFBIG);
            bytes.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(2 * std::uint64_t(bytes.size()), most + 1)));
        }
        const ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            refuse(errno);
        }
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    bytes.resize(filled);
    return bytes;
}

namespace {

    // A new file beside path for the bytes, named path + "." + six letters,
    // made with the usual permissions (0666 less the umask, which the system
    // applies itself: changing the umask to read it would race with any
    // other thread creating a file meanwhile).
    int CreateTemporaryFile(const std::string& path, std::string& temp)
    {
        static std::atomic<std::uint64_t> counter { 0 };
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::uint64_t seed
            = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())
            ^ (std::uint64_t(::getpid()) << 32);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::uint64_t n = (seed + counter++) * 0x9E3779B97F4A7C15ull;
            temp = path + ".";
            for (int i = 0; i < 6; ++i) {
                temp += kLetters[n % 36];
                n /= 36;
            }
            const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0 || errno != EEXIST)
                return fd;
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        }
        errno = EEXIST;
        return -1;
    }

    // CreateTemporaryFile, or the error a write to path reports.
    int OpenTemporaryFile(const std::string& path, std::string& temp)
    {
        const int fd = CreateTemporaryFile(path, temp);
        if (fd < 0)
            throw EFOpenError(OpenErrorText(path, errno));
        return fd;
    }

} // namespace

void CheckWritable(const std::string& path)
{
    std::string temp;
    ::close(OpenTemporaryFile(path, temp));
    ::unlink(temp.c_str());
}

void WriteFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes,
    const std::function<void(std::uint64_t written)>& progress)
{
    std::string temp;
    const int fd = OpenTemporaryFile(path, temp);
    const auto abandon = [&] {
        ::close(fd);
        ::unlink(temp.c_str());
    };

    // Pieces of 1 MiB: small enough that a cancel is seen at once.
    constexpr std::size_t kPiece = std::size_t(1) << 20;
    std::size_t done = 0;
    while (done < bytes.size()) {
        try {
            ThrowIfCancelled();
        } catch (...) {
            abandon();
            throw;
        }
        const std::size_t piece = std::min(kPiece, bytes.size() - done);
        const ssize_t n = ::write(fd, bytes.data() + done, piece);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            abandon();
            throw EWriteError(WriteErrorText(path, error));
        }
        done += static_cast<std::size_t>(n);
        if (progress)
            progress(done);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw EWriteError(WriteErrorText(path, error));
    }
    // The last moment to stop: from here on the new file is the result.
    TCancelToken* const token = CurrentCancelToken();
    if (token && !token->Commit()) {
        ::unlink(temp.c_str());
        throw ECancelled();
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw EFOpenError(OpenErrorText(path, error));
    }
}

} // namespace zx

#include "core/Stream.h"

#include "core/Errors.h"

#include <algorithm>
#include <cerrno>
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

std::vector<std::uint8_t> ReadFileBytes(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFOpenError(OpenErrorText(path, errno));
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            throw EFOpenError(OpenErrorText(path, error));
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    return bytes;
}

void WriteFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes)
{
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw EFOpenError(OpenErrorText(path, errno));
    // mkstemp makes the file private; give it the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);

    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            ::unlink(temp.c_str());
            throw EWriteError(kStreamWriteError);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        throw EFOpenError(OpenErrorText(path, error));
    }
}

} // namespace zx

#pragma once

// A small byte stream: what the BMP and GIF code read from and write to. Memory
// streams do the work; files are read into memory and written atomically at the
// edges (ReadFileBytes, WriteFileAtomic).

#include "core/Limits.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace zx {

// The stream errors' texts. Readers that refuse a read before trying it,
// because the stream cannot hold what a header claims, raise the same one.
inline constexpr const char* kStreamReadError = "Stream read error";
inline constexpr const char* kStreamWriteError = "Stream write error";

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many came.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Writes all count bytes or throws EWriteError.
    virtual void Write(const void* buffer, std::size_t count) = 0;
    virtual std::uint64_t Position() const = 0;
    virtual void SetPosition(std::uint64_t position) = 0;
    virtual std::uint64_t Size() const = 0;

    std::uint64_t Remaining() const { return Position() < Size() ? Size() - Position() : 0; }
    // Reads exactly count bytes or throws EReadError ("Stream read error").
    void ReadBuffer(void* buffer, std::size_t count);
    void WriteBuffer(const void* buffer, std::size_t count) { Write(buffer, count); }
    void WriteBytes(std::span<const std::uint8_t> bytes) { Write(bytes.data(), bytes.size()); }
};

// A growable in-memory stream that owns its bytes.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> data)
        : m_data(std::move(data))
    {
    }

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::uint64_t Position() const override { return m_position; }
    void SetPosition(std::uint64_t position) override { m_position = position; }
    std::uint64_t Size() const override { return m_data.size(); }

    const std::vector<std::uint8_t>& Data() const { return m_data; }
    std::vector<std::uint8_t>& Data() { return m_data; }

private:
    std::vector<std::uint8_t> m_data;
    std::uint64_t m_position = 0;
};

// A read-only stream over memory someone else owns (a file image, a clipboard
// block). Writing throws EWriteError.
class TSpanStream : public TStream {
public:
    explicit TSpanStream(std::span<const std::uint8_t> data)
        : m_data(data)
    {
    }

    std::size_t Read(void* buffer, std::size_t count) override;
    void Write(const void* buffer, std::size_t count) override;
    std::uint64_t Position() const override { return m_position; }
    void SetPosition(std::uint64_t position) override { m_position = position; }
    std::uint64_t Size() const override { return m_data.size(); }

private:
    std::span<const std::uint8_t> m_data;
    std::uint64_t m_position = 0;
};

// Reads a whole file. Throws EFOpenError when it cannot be opened or read,
// and when it holds more than maxBytes (strerror(EFBIG) as the reason), which
// is known before anything is read for a regular file and found on the way
// for anything else.
std::vector<std::uint8_t> ReadFileBytes(
    const std::string& path, std::uint64_t maxBytes = kMaxFileBytes);

// Writes bytes to a temporary file beside path and renames it over path only
// when everything has been written, so a failure never destroys an existing
// file. The bytes go out in pieces; progress, when given, is told how many
// are written after each. Under a cancel token (core/Cancel.h) the write
// stops with ECancelled when the token is cancelled, and the file is renamed
// into place only if the token can be committed; otherwise, as after any
// failure, the temporary file is removed and path is as it was. Throws
// EFOpenError / EWriteError.
void WriteFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes,
    const std::function<void(std::uint64_t written)>& progress = {});

// Throws the EFOpenError WriteFileAtomic would throw where path's folder
// takes no new file, by making its temporary file and removing it again: for
// a caller that makes its bytes long before it writes them. Nothing stays
// behind, also when the work that follows is cut short.
void CheckWritable(const std::string& path);

} // namespace zx

#pragma once

// What the hostile-input tests of every reader share: byte writers for
// hand-made files, the heap in use, and a marked target that a failed load
// must leave alone.

#include "core/imaging/XDIBUnit.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ZX_HOSTILE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZX_HOSTILE_ASAN 1
#endif
#endif

#ifdef ZX_HOSTILE_ASAN
// The sanitizer runtime's count of live heap bytes (declared here: not every
// compiler installs the sanitizer headers).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace zx::hostile_test {

using Bytes = std::vector<std::uint8_t>;

inline void U8(Bytes& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
}

inline void U16(Bytes& out, std::uint32_t value)
{
    U8(out, value);
    U8(out, value >> 8);
}

inline void U32(Bytes& out, std::uint32_t value)
{
    U16(out, value);
    U16(out, value >> 16);
}

inline void Append(Bytes& out, const Bytes& more)
{
    out.insert(out.end(), more.begin(), more.end());
}

inline void AppendText(Bytes& out, const char* text)
{
    out.insert(out.end(), text, text + std::strlen(text));
}

// Bytes of heap in use right now: the sanitizer's own count in the sanitizer
// build, glibc's otherwise.
inline std::size_t HeapInUse()
{
#ifdef ZX_HOSTILE_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

// A picture with a storage of its own, to see that failed loads leave it alone.
inline TDIB MarkedTarget()
{
    TDIB target;
    target.SetSize(3, 2, 24);
    target.ScanLine(0)[0] = 0x5A;
    return target;
}

// The target still holds the very storage it had, with its pixels.
inline void ExpectUntouched(const TDIB& target, const std::shared_ptr<TDIBSharedImage>& before)
{
    EXPECT_EQ(target.Image(), before);
    EXPECT_EQ(target.Width(), 3);
    EXPECT_EQ(target.Height(), 2);
    EXPECT_EQ(target.ConstScanLine(0)[0], 0x5A);
}

} // namespace zx::hostile_test

#pragma once

// What the hostile-input tests of every reader share: byte writers for
// hand-made files, the heap in use, and (LoadFailureTestUtil.h) a marked target
// that a failed load must leave alone.

#include "LoadFailureTestUtil.h"
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

using load_test::ExpectLoadFails;
using load_test::TMarkedTarget;

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
    // Byte by byte: GCC 12 takes a range insert into an empty vector for an
    // overflow in the release build.
    for (const char* c = text; *c != '\0'; ++c)
        out.push_back(static_cast<std::uint8_t>(*c));
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

} // namespace zx::hostile_test

#pragma once

// Shared by the fuzz targets: the libFuzzer entry point and the check that
// stops the run when an invariant fails.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// An invariant that decoding must keep. A failure aborts, which libFuzzer
// reports as a crash with the input that caused it.
#define ZX_FUZZ_CHECK(condition)                                                                   \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace zx::fuzz {

// The input's bytes, one after another and then from the start again (zeros
// for an empty input), for targets that make pictures out of them.
class TByteCycle {
public:
    TByteCycle(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    std::uint8_t Next()
    {
        if (m_size == 0)
            return 0;
        const std::uint8_t byte = m_data[m_at];
        m_at = (m_at + 1) % m_size;
        return byte;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace zx::fuzz

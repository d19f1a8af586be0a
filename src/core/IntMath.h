#pragma once

// Integer arithmetic with the semantics the pixel code is written in: division
// truncates toward zero, right shifts of signed values are arithmetic (floor),
// and 32-bit products wrap instead of overflowing. Every formula that can wrap
// goes through these helpers so that UBSan can prove the rest is overflow-free.

#include <cmath>
#include <cstdint>
#include <limits>

namespace zx {

// Truncating division; INT32_MIN / -1 wraps to INT32_MIN instead of trapping.
constexpr std::int32_t Div(std::int32_t a, std::int32_t b)
{
    if (b == -1)
        return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(a));
    return a / b;
}

// Remainder matching Div (sign of the dividend).
constexpr std::int32_t Mod(std::int32_t a, std::int32_t b)
{
    if (b == -1)
        return 0;
    return a % b;
}

// Arithmetic shift right (floor division by 2^n). Well defined in C++20.
constexpr std::int32_t Sar(std::int32_t a, int n)
{
    return a >> n;
}

// Shift left without signed overflow: the bits shifted out are lost, as in a
// 32-bit register.
constexpr std::int32_t Shl(std::int32_t a, int n)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) << n);
}

// 32-bit products, sums and differences that wrap modulo 2^32.
constexpr std::int32_t MulWrap(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
constexpr std::int32_t AddWrap(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t SubWrap(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// The low 12 bits: an index into the 4096-entry sine tables.
constexpr std::int32_t Mask12(std::int32_t a)
{
    return a & 4095;
}

// Round to nearest, halves to even (the FPU's default mode).
inline std::int64_t RoundHalfEven(double x)
{
    return static_cast<std::int64_t>(std::nearbyint(x));
}

// Cut toward zero.
inline std::int64_t Trunc(double x)
{
    return static_cast<std::int64_t>(std::trunc(x));
}

// Checked arithmetic for sizes read from files: returns false on overflow.
inline bool CheckedMul(std::uint64_t a, std::uint64_t b, std::uint64_t& out)
{
    return !__builtin_mul_overflow(a, b, &out);
}
inline bool CheckedAdd(std::uint64_t a, std::uint64_t b, std::uint64_t& out)
{
    return !__builtin_add_overflow(a, b, &out);
}

} // namespace zx

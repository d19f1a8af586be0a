#pragma once

// Fixed-point sine and cosine for the flag renderer. A full turn is 4096 phase
// units and the values carry 12 fractional bits (-4096..4096), so every wave
// computation stays in integers. Tables are indexed with the low 12 bits of a
// phase, which lets phases wrap freely, negative ones included.

#include "core/IntMath.h"

#include <array>
#include <cstdint>

namespace zx {

inline constexpr std::int32_t kSinusTableSize = 4096;

using TSinusTable = std::array<std::int32_t, kSinusTableSize>;

// SinTable[i] = Round(Sin(i x 6.28318 / 4096) x 4096), halves to even. The step
// is 6.28318 / 4096 rather than 2 pi / 4096, so the table ends about 5.3e-6 rad
// short of a full turn; the animation's look depends on these exact values.
// Both tables are filled on first use (thread-safe) and never change.
const TSinusTable& SinTable();
// CosTable[i] = SinTable[(i + 1024) and 4095].
const TSinusTable& CosTable();

// b x sin(a) in the units of b: the table value times b as a wrapping 32-bit
// product, then an arithmetic shift by 12 (floor division by 4096).
inline std::int32_t FixedSin(std::int32_t a, std::int32_t b)
{
    return Sar(MulWrap(SinTable()[Mask12(a)], b), 12);
}

// b x cos(a), computed the same way on CosTable.
inline std::int32_t FixedCos(std::int32_t a, std::int32_t b)
{
    return Sar(MulWrap(CosTable()[Mask12(a)], b), 12);
}

} // namespace zx

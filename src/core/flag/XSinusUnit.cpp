#include "core/flag/XSinusUnit.h"

#include <cmath>

namespace zx {

namespace {

    struct TSinusTables {
        TSinusTable Sin {};
        TSinusTable Cos {};

        TSinusTables()
        {
            // The step is the rounded constant 6.28318 / 4096, not 2 pi / 4096: the
            // frames must come out byte for byte as they always have.
            constexpr double kStep = 6.28318 / 4096;
            for (std::int32_t i = 0; i < kSinusTableSize; ++i)
                Sin[i] = static_cast<std::int32_t>(RoundHalfEven(std::sin(i * kStep) * 4096));
            for (std::int32_t i = 0; i < kSinusTableSize; ++i)
                Cos[i] = Sin[Mask12(i + 1024)];
        }
    };

    const TSinusTables& Tables()
    {
        static const TSinusTables tables;
        return tables;
    }

} // namespace

const TSinusTable& SinTable()
{
    return Tables().Sin;
}

const TSinusTable& CosTable()
{
    return Tables().Cos;
}

} // namespace zx

#include "core/ZeroedBlock.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zx {

TZeroedBlock NewZeroedBlock(std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // The rest of the mapping (the slack before the boundary and after the
    // last whole large page) is never touched, so it costs no memory.
    constexpr std::size_t kLargePage = std::size_t(2) << 20;
    if (bytes >= kLargePage) {
        const std::size_t length = bytes + kLargePage;
        void* mapping
            = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED)
            throw std::bad_alloc();
        const std::uintptr_t start
            = (reinterpret_cast<std::uintptr_t>(mapping) + kLargePage - 1) & ~(kLargePage - 1);
        // Only advice: without large pages the block is ordinary memory.
        madvise(reinterpret_cast<void*>(start), bytes / kLargePage * kLargePage, MADV_HUGEPAGE);
        return TZeroedBlock(
            reinterpret_cast<std::uint8_t*>(start), TFreeZeroedBlock { mapping, length });
    }
#endif
    void* block = std::calloc(bytes, 1);
    if (!block)
        throw std::bad_alloc();
    return TZeroedBlock(static_cast<std::uint8_t*>(block));
}

void TFreeZeroedBlock::operator()(std::uint8_t* block) const
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (Mapping) {
        munmap(Mapping, MappedBytes);
        return;
    }
#endif
    std::free(block);
}

} // namespace zx

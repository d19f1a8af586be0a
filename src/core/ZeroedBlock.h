#pragma once

// Zero-filled blocks of memory for big working sets. A large block comes
// straight from the system, whose pages are zero already and are first
// touched by whoever writes them (a frame is so faulted in by the worker that
// renders it, not by the thread that shaped it). Blocks of 2 MiB or more get
// a mapping of their own that starts on a large page's boundary, and every
// whole large page of them is asked for as one where the system offers them:
// a 1280 x 720 frame is then faulted in a handful of times instead of 675.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zx {

struct TFreeZeroedBlock {
    void operator()(std::uint8_t* block) const;
    // The mapping the block lies in; null for a block from calloc.
    void* Mapping = nullptr;
    std::size_t MappedBytes = 0;
};
using TZeroedBlock = std::unique_ptr<std::uint8_t[], TFreeZeroedBlock>;

// bytes zero bytes; throws std::bad_alloc when there is no room.
TZeroedBlock NewZeroedBlock(std::size_t bytes);

} // namespace zx

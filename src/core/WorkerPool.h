#pragma once

// The core's one worker pool: a loop over the frames of an animation whose
// steps run side by side. Frame dithering and GIF frame coding both use it,
// and no other code of the core starts a thread.

#include <cstddef>
#include <functional>

namespace zx {

// Calls task(i) once for each i in 0 .. count - 1, on up to workers threads:
// the calling thread and workers - 1 helpers (0: one thread per processor;
// never more threads than indices). Indices are handed out in increasing
// order, so a task must not depend on others having finished; for results
// that match a plain loop, each task writes only what belongs to its index.
//
// Failures: once a task throws, indices not yet handed out are skipped; the
// ones already running finish. After every helper has been joined, the
// exception of the lowest failing index is rethrown on the calling thread,
// which is the one a plain loop in index order would have met first.
//
// The helpers work under the calling thread's cancel token (Cancel.h), and
// no index is started once it is cancelled: the call then ends with
// ECancelled like any other failure.
//
// Helpers only add speed: when the system cannot start one, the calling
// thread works through what is left alone.
void ParallelFor(
    std::size_t count, unsigned workers, const std::function<void(std::size_t index)>& task);

} // namespace zx

#include "core/WorkerPool.h"

#include "core/Cancel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zx {

void ParallelFor(
    std::size_t count, unsigned workers, const std::function<void(std::size_t index)>& task)
{
    if (count == 0)
        return;
    if (workers == 0)
        workers = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min<std::size_t>(workers, count);

    std::atomic<std::size_t> next { 0 };
    // The lowest failing index so far (count while none failed) and its
    // exception. Written only under the lock, so index and exception agree.
    std::atomic<std::size_t> firstFailure { count };
    std::exception_ptr failure;
    std::mutex failureLock;
    // The helpers stop when the caller's work is cancelled, as it does.
    TCancelToken* const token = CurrentCancelToken();

    auto work = [&] {
        const TCancelScope scope(token);
        // Every index below a failed one was handed out before it, so
        // stopping at the first failure still runs all that a plain loop
        // would have run before meeting it.
        for (std::size_t i = next++; i < firstFailure; i = next++) {
            try {
                ThrowIfCancelled();
                task(i);
            } catch (...) {
                std::lock_guard lock(failureLock);
                if (i < firstFailure) {
                    firstFailure = i;
                    failure = std::current_exception();
                }
            }
        }
    };

    {
        // jthread joins on destruction: the helpers are joined when this
        // block ends, however it ends.
        std::vector<std::jthread> helpers;
        helpers.reserve(threads - 1);
        try {
            for (std::size_t k = 1; k < threads; ++k)
                helpers.emplace_back(work);
        } catch (const std::system_error&) {
        }
        work();
    }
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace zx

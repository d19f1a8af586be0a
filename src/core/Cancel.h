#pragma once

// Stopping long work from another thread. The work runs with a cancel token
// installed on its thread (TCancelScope); its long loops call
// ThrowIfCancelled, which throws ECancelled once someone has cancelled the
// token. ParallelFor hands the token of the thread that calls it on to its
// helpers, so a loop inside any task of the pool stops as well. Without a
// token, as for the flag window's own rendering, the checks cost a load and
// a compare and never throw.
//
// A token also decides the race between cancelling and finishing: work that
// is about to make its result visible (a file renamed into place) commits the
// token first, and from then on a cancel is refused; a cancelled token can no
// longer be committed. So a caller whose cancel succeeded knows that nothing
// is written, and one whose cancel was refused knows that the result comes.

#include <atomic>
#include <cstdint>
#include <stdexcept>

namespace zx {

// Thrown where long work notices that its token was cancelled.
class ECancelled : public std::runtime_error {
public:
    ECancelled();
};

class TCancelToken {
public:
    // Asks the work to stop. False when the work has committed its result
    // already (then it runs to its end).
    bool Cancel();
    // The work is about to make its result visible: true, and every later
    // Cancel fails, unless the token was cancelled already.
    bool Commit();

    bool Cancelled() const { return m_state.load(std::memory_order_acquire) == kCancelled; }
    bool Committed() const { return m_state.load(std::memory_order_acquire) == kCommitted; }

private:
    static constexpr std::int32_t kRunning = 0;
    static constexpr std::int32_t kCancelled = 1;
    static constexpr std::int32_t kCommitted = 2;
    std::atomic<std::int32_t> m_state { kRunning };
};

// Installs a token (null: none) as the current thread's for the scope's
// lifetime; the previous one comes back afterwards.
class TCancelScope {
public:
    explicit TCancelScope(TCancelToken* token);
    ~TCancelScope();
    TCancelScope(const TCancelScope&) = delete;
    TCancelScope& operator=(const TCancelScope&) = delete;

private:
    TCancelToken* m_previous;
};

// The current thread's token, or null.
TCancelToken* CurrentCancelToken();

// Throws ECancelled when the current thread's token was cancelled.
void ThrowIfCancelled();

} // namespace zx

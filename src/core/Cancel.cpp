#include "core/Cancel.h"

#include "core/Translatable.h"

namespace zx {

namespace {

    thread_local TCancelToken* tCurrentToken = nullptr;

} // namespace

ECancelled::ECancelled()
    : std::runtime_error(ZX_TR_NOOP("Messages", "已取消"))
{
}

bool TCancelToken::Cancel()
{
    std::int32_t expected = kRunning;
    return m_state.compare_exchange_strong(expected, kCancelled, std::memory_order_acq_rel)
        || expected == kCancelled;
}

bool TCancelToken::Commit()
{
    std::int32_t expected = kRunning;
    return m_state.compare_exchange_strong(expected, kCommitted, std::memory_order_acq_rel)
        || expected == kCommitted;
}

TCancelScope::TCancelScope(TCancelToken* token)
    : m_previous(tCurrentToken)
{
    tCurrentToken = token;
}

TCancelScope::~TCancelScope()
{
    tCurrentToken = m_previous;
}

TCancelToken* CurrentCancelToken()
{
    return tCurrentToken;
}

void ThrowIfCancelled()
{
    const TCancelToken* token = tCurrentToken;
    if (token && token->Cancelled())
        throw ECancelled();
}

} // namespace zx

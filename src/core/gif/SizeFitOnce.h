#pragma once

// What the tries of a size fit share: values made once, by whichever try
// needs them first, and read by every later try from any thread.

#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace zx {

template <class T> class TOnce {
public:
    template <class Make> const T& Get(Make&& make)
    {
        std::call_once(m_once, [&] { m_value = make(); });
        return m_value;
    }

private:
    std::once_flag m_once;
    T m_value;
};

// One TOnce per key; a key's value is made once even when two threads ask
// for it at the same time, and different keys are made side by side.
template <class Key, class T> class TOnceMap {
public:
    template <class Make> const T& Get(const Key& key, Make&& make)
    {
        std::shared_ptr<TOnce<T>> entry;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            auto& slot = m_entries[key];
            if (!slot)
                slot = std::make_shared<TOnce<T>>();
            entry = slot;
        }
        return entry->Get(std::forward<Make>(make));
    }

    // Whether some thread has asked for the key's value (it may still be
    // being made).
    bool Asked(const Key& key)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries.count(key) > 0;
    }

private:
    std::mutex m_mutex;
    std::map<Key, std::shared_ptr<TOnce<T>>> m_entries;
};

} // namespace zx

#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The registry behind the notification centre, property observation and the defaults'
// per-key observers. Delivery works on a snapshot, so observers may add or remove observers
// (themselves included) while being called: an observer removed during a delivery is not
// called afterwards, an observer added during a delivery is first called by the next one.
// Callbacks run on the delivering thread with no lock held.
template <typename Filter, typename Callback>
class KRObserverList
{
public:
    struct Entry
    {
        std::uint64_t id = 0;
        Filter filter;
        Callback callback;
        std::atomic<bool> removed{false};
    };

    // The token holds the list weakly: the owner may go first.
    static KRObservationToken add(const std::shared_ptr<KRObserverList> &list, Filter filter,
                                  Callback callback)
    {
        auto entry = std::make_shared<Entry>();
        entry->filter = std::move(filter);
        entry->callback = std::move(callback);
        {
            std::lock_guard lock(list->m_mutex);
            entry->id = ++list->m_lastId;
            list->m_entries.push_back(entry);
        }
        std::weak_ptr<KRObserverList> weak = list;
        const std::uint64_t id = entry->id;
        return KRObservationToken([weak, id] {
            if (auto strong = weak.lock())
                strong->remove(id);
        });
    }

    void remove(std::uint64_t id)
    {
        std::shared_ptr<Entry> removed; // released after the lock: its callback's captures
                                        // may remove other observers when destroyed
        std::lock_guard lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if ((*it)->id == id) {
                (*it)->removed = true;
                removed = std::move(*it);
                m_entries.erase(it);
                break;
            }
        }
    }

    // Calls every observer whose filter the predicate accepts, in registration order.
    template <typename Predicate, typename... Args>
    void deliver(const Predicate &accepts, const Args &...args)
    {
        std::vector<std::shared_ptr<Entry>> snapshot;
        {
            std::lock_guard lock(m_mutex);
            snapshot.reserve(m_entries.size());
            for (const auto &entry : m_entries) {
                if (accepts(entry->filter))
                    snapshot.push_back(entry);
            }
        }
        for (const auto &entry : snapshot) {
            if (!entry->removed)
                entry->callback(args...);
        }
    }

    template <typename Predicate>
    bool contains(const Predicate &accepts) const
    {
        std::lock_guard lock(m_mutex);
        for (const auto &entry : m_entries) {
            if (accepts(entry->filter))
                return true;
        }
        return false;
    }

    // Drops every observer; outstanding tokens become harmless.
    void clear()
    {
        std::vector<std::shared_ptr<Entry>> removed;
        std::lock_guard lock(m_mutex);
        for (auto &entry : m_entries)
            entry->removed = true;
        removed.swap(m_entries);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<Entry>> m_entries;
    std::uint64_t m_lastId = 0;
};

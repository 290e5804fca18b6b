#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <algorithm>
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
        Callback callback;
        std::atomic<bool> removed{false};
    };

    // The token holds the list weakly: the owner may go first.
    static KRObservationToken add(const std::shared_ptr<KRObserverList> &list, Filter filter,
                                  Callback callback)
    {
        auto entry = std::make_shared<Entry>();
        entry->callback = std::move(callback);
        {
            std::lock_guard lock(list->m_mutex);
            entry->id = ++list->m_lastId;
            list->m_slots.push_back({entry->id, std::move(filter), entry});
            list->m_live.fetch_add(1, std::memory_order_relaxed);
        }
        return KRObservationToken(std::weak_ptr<void>(list),
                                  [](void *target, std::uint64_t id) { static_cast<KRObserverList *>(target)->remove(id); },
                                  entry->id);
    }

    void remove(std::uint64_t id)
    {
        std::shared_ptr<Entry> removed; // released after the lock: its callback's captures
                                        // may remove other observers when destroyed
        std::lock_guard lock(m_mutex);
        // Slots stay in registration order, so their ids ascend.
        const auto it = std::lower_bound(m_slots.begin(), m_slots.end(), id,
                                         [](const Slot &slot, std::uint64_t wanted) { return slot.id < wanted; });
        if (it == m_slots.end() || it->id != id || !it->entry)
            return;
        it->entry->removed = true;
        removed = std::move(it->entry);
        m_live.fetch_sub(1, std::memory_order_relaxed);
        // An emptied slot stays until many are: removing all observers one by one (a page
        // closing) then costs a pass over the list, not one per observer.
        if (++m_emptySlots * 2 > m_slots.size()) {
            std::erase_if(m_slots, [](const Slot &slot) { return !slot.entry; });
            m_emptySlots = 0;
        }
    }

    // Calls every observer whose filter the predicate accepts, in registration order.
    template <typename Predicate, typename... Args>
    void deliver(const Predicate &accepts, const Args &...args)
    {
        std::vector<std::shared_ptr<Entry>> snapshot;
        {
            std::lock_guard lock(m_mutex);
            for (const Slot &slot : m_slots) {
                if (slot.entry && accepts(slot.filter))
                    snapshot.push_back(slot.entry);
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
        // Most objects are never observed: answered without the lock.
        if (isEmpty())
            return false;
        std::lock_guard lock(m_mutex);
        for (const Slot &slot : m_slots) {
            if (slot.entry && accepts(slot.filter))
                return true;
        }
        return false;
    }

    bool isEmpty() const { return m_live.load(std::memory_order_relaxed) == 0; }

    // Drops every observer; outstanding tokens become harmless.
    void clear()
    {
        std::vector<Slot> removed;
        std::lock_guard lock(m_mutex);
        for (Slot &slot : m_slots) {
            if (slot.entry)
                slot.entry->removed = true;
        }
        removed.swap(m_slots);
        m_emptySlots = 0;
        m_live.store(0, std::memory_order_relaxed);
    }

private:
    // What a delivery looks at lies in the list itself: a long list is read straight through,
    // not entry by entry wherever each was allocated.
    struct Slot
    {
        std::uint64_t id;
        Filter filter;
        std::shared_ptr<Entry> entry; // null once removed
    };
    mutable std::mutex m_mutex;
    std::vector<Slot> m_slots;
    std::size_t m_emptySlots = 0;
    std::atomic<std::size_t> m_live{0}; // observers not removed; read without the lock
    std::uint64_t m_lastId = 0;
};

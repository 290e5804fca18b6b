#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <QString>
#include <QVariant>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

template <typename Filter, typename Callback>
class KRObserverList;

// Property observation for one model object: the object holds a KRObservable, announces each
// change of an observable property with notifyChange (or the willChange/didChange pair around
// the assignment), and observers receive the object, the key and the old and new values.
// Delivery is synchronous and re-entrancy safe like the notification centre's.
class KRObservable
{
public:
    using Callback = std::function<void(const void *object, const QString &key,
                                        const QVariant &oldValue, const QVariant &newValue)>;

    // The owner is the object identity passed to the observers.
    explicit KRObservable(const void *owner = nullptr);
    ~KRObservable();
    KRObservable(const KRObservable &) = delete;
    KRObservable &operator=(const KRObservable &) = delete;

    const void *owner() const { return m_owner; }
    void setOwner(const void *owner) { m_owner = owner; }

    // Observes one key (empty: every key) until the token goes away.
    [[nodiscard]] KRObservationToken observe(const QString &key, Callback callback);

    void notifyChange(const QString &key, const QVariant &oldValue, const QVariant &newValue);

    // The pair form: willChange remembers the old value, didChange delivers it with the new
    // one. Pairs for the same key may nest; each didChange closes the latest willChange.
    void willChange(const QString &key, const QVariant &oldValue);
    void didChange(const QString &key, const QVariant &newValue);

    bool hasObservers(const QString &key) const;
    // No observer of any key (answered without a lock).
    bool isUnobserved() const;

private:
    using List = KRObserverList<QString, Callback>;
    // One bit per key length ever observed (all for every key): a key none of whose length
    // was is observed by nobody, answered without going through the list. A project has
    // thousands of observers of a few settings, and its other changes reach none of them.
    static std::uint64_t lengthBit(const QString &key) { return std::uint64_t(1) << (key.size() & 63); }
    bool mayBeObserved(const QString &key) const
    {
        return (m_observedLengths.load(std::memory_order_acquire) & lengthBit(key)) != 0;
    }
    const void *m_owner;
    std::shared_ptr<List> m_observers;
    std::atomic<std::uint64_t> m_observedLengths{0};
    std::vector<std::pair<QString, QVariant>> m_pending; // open willChange calls, innermost last
};

#include "KRObservable.h"

#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRObserverList.h>

KRObservable::KRObservable(const void *owner) : m_owner(owner), m_observers(std::make_shared<List>())
{
}

KRObservable::~KRObservable()
{
    m_observers->clear();
}

KRObservationToken KRObservable::observe(const QString &key, Callback callback)
{
    // Marked before the observer is added: whoever finds it finds the mark.
    m_observedLengths.fetch_or(key.isEmpty() ? ~std::uint64_t(0) : lengthBit(key), std::memory_order_acq_rel);
    return List::add(m_observers, key, std::move(callback));
}

void KRObservable::notifyChange(const QString &key, const QVariant &oldValue,
                                const QVariant &newValue)
{
    if (!mayBeObserved(key))
        return;
    const std::shared_ptr<List> observers = m_observers;
    const void *owner = m_owner;
    observers->deliver(
        [&key](const QString &observedKey) { return observedKey.isEmpty() || observedKey == key; },
        owner, key, oldValue, newValue);
}

void KRObservable::willChange(const QString &key, const QVariant &oldValue)
{
    m_pending.emplace_back(key, oldValue);
}

void KRObservable::didChange(const QString &key, const QVariant &newValue)
{
    // Innermost open willChange for the key; other keys may be open around it.
    for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it) {
        if (it->first == key) {
            const QVariant oldValue = std::move(it->second);
            m_pending.erase(std::next(it).base());
            notifyChange(key, oldValue, newValue);
            return;
        }
    }
    KR_ASSERT(false, "didChange without a matching willChange");
}

bool KRObservable::isUnobserved() const
{
    return m_observers->isEmpty();
}

bool KRObservable::hasObservers(const QString &key) const
{
    if (!mayBeObserved(key))
        return false;
    return m_observers->contains(
        [&key](const QString &observedKey) { return observedKey.isEmpty() || observedKey == key; });
}

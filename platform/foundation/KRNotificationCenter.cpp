#include "KRNotificationCenter.h"

#include <platform/foundation/KRObserverList.h>

KRNotificationCenter &KRNotificationCenter::defaultCenter()
{
    static KRNotificationCenter center;
    return center;
}

KRNotificationCenter::KRNotificationCenter() : m_observers(std::make_shared<List>()) {}

KRNotificationCenter::~KRNotificationCenter()
{
    m_observers->clear();
}

KRObservationToken KRNotificationCenter::addObserver(const QString &name, const void *sender,
                                                     Callback callback)
{
    return List::add(m_observers, Filter{name, sender}, std::move(callback));
}

void KRNotificationCenter::post(const QString &name, const void *sender,
                                const QVariantMap &userInfo)
{
    post(KRNotification{name, sender, userInfo});
}

void KRNotificationCenter::post(const KRNotification &notification)
{
    // The list stays alive for the whole delivery even if an observer destroys the centre's
    // last user.
    const std::shared_ptr<List> observers = m_observers;
    observers->deliver(
        [&notification](const Filter &filter) {
            return (filter.name.isEmpty() || filter.name == notification.name)
                && (!filter.sender || filter.sender == notification.sender);
        },
        notification);
}

bool KRNotificationCenter::hasObservers(const QString &name) const
{
    return m_observers->contains(
        [&name](const Filter &filter) { return filter.name.isEmpty() || filter.name == name; });
}

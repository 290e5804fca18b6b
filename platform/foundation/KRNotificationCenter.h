#pragma once

#include <platform/foundation/KRObservationToken.h>

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

template <typename Filter, typename Callback>
class KRObserverList;

// One posted notification: its name, the object that posted it (identity only, may be null)
// and a map of extra values.
struct KRNotification
{
    QString name;
    const void *sender = nullptr;
    QVariantMap userInfo;
};

// Broadcasts model events by name. Delivery is synchronous, on the posting thread, in the
// order the observers were added; observers may add and remove observers while a
// notification is delivered (see KRObserverList). Notification names are QString constants
// defined by the classes that post them.
class KRNotificationCenter
{
public:
    using Callback = std::function<void(const KRNotification &)>;

    // The process's shared centre.
    static KRNotificationCenter &defaultCenter();

    KRNotificationCenter();
    ~KRNotificationCenter();
    KRNotificationCenter(const KRNotificationCenter &) = delete;
    KRNotificationCenter &operator=(const KRNotificationCenter &) = delete;

    // Observes notifications of the name (empty: every name) posted by the sender (null:
    // any sender) until the returned token goes away.
    [[nodiscard]] KRObservationToken addObserver(const QString &name, const void *sender,
                                                 Callback callback);

    void post(const QString &name, const void *sender = nullptr, const QVariantMap &userInfo = {});
    void post(const KRNotification &notification);

    bool hasObservers(const QString &name) const;

private:
    struct Filter
    {
        QString name;
        const void *sender = nullptr;
    };
    using List = KRObserverList<Filter, Callback>;
    std::shared_ptr<List> m_observers;
};

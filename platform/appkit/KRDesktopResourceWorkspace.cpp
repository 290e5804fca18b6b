#include "KRDesktopResourceWorkspace.h"

#include <core/KRRunLogger.h>
#include <platform/appkit/KROpenURL.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace {

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");

// Whether a file manager answers on the session bus now or is started by the bus on a call.
bool fileManagerOnBus(const QDBusConnection &bus)
{
    const QDBusConnectionInterface *busInterface = bus.isConnected() ? bus.interface() : nullptr;
    if (!busInterface)
        return false;
    if (busInterface->isServiceRegistered(fileManagerService))
        return true;
    const QDBusReply<QStringList> activatable = busInterface->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(fileManagerService);
}

bool openOutside(const QUrl &url)
{
    const bool opened = KROpenURLService::current().openURL(url);
    if (!opened)
        KR_LOG(QStringLiteral("The desktop did not open %1").arg(url.toString()));
    return opened;
}

} // namespace

bool KRDesktopResourceWorkspace::openURL(const QUrl &url)
{
    return openOutside(url);
}

bool KRDesktopResourceWorkspace::selectItem(const QString &path, const QString &rootFolder)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!fileManagerOnBus(bus))
        return openOutside(QUrl::fromLocalFile(rootFolder));
    QDBusMessage call = QDBusMessage::createMethodCall(fileManagerService, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       fileManagerService, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Not waited for: a file manager started by the call may take a while to answer, and the
    // window stays responsive meanwhile. A refusal opens the folder instead.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [rootFolder](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        const QDBusPendingReply<> reply = *done;
        if (!reply.isError())
            return;
        KR_LOG(QStringLiteral("The file manager did not show the item: %1").arg(reply.error().message()));
        openOutside(QUrl::fromLocalFile(rootFolder));
    });
    return true;
}

#include "KRSingleInstance.h"

#include <core/KRRunLogger.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVirtualObject>
#include <QDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr const char *singleInstanceOpen = "Open";
// More is no request a start makes: a command line names a few projects.
constexpr qsizetype singleInstanceMostProjects = 64;
constexpr qsizetype singleInstanceLongestPath = 4096;
constexpr int singleInstanceCallTimeout = 10000; // ms

} // namespace

// The object the running instance answers "Open" on. What the bus brings is checked: a list of
// absolute paths, few and of bounded length.
class KRSingleInstanceObject final : public QDBusVirtualObject
{
public:
    KRSingleInstance::Opener opener;
    QList<QStringList> waiting; // requests that came before the opener

    QString introspect(const QString &) const override
    {
        return QStringLiteral("<interface name=\"%1\"><method name=\"%2\"><arg name=\"projects\" type=\"as\" "
                              "direction=\"in\"/></method></interface>")
            .arg(QLatin1String(KRSingleInstance::InterfaceName), QLatin1String(singleInstanceOpen));
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage || message.member() != QLatin1String(singleInstanceOpen)
            || (!message.interface().isEmpty() && message.interface() != QLatin1String(KRSingleInstance::InterfaceName)))
            return false;
        const QList<QVariant> arguments = message.arguments();
        const QStringList projects = arguments.size() == 1 ? arguments.first().toStringList() : QStringList();
        const bool valid = arguments.size() == 1 && arguments.first().canConvert<QStringList>()
                           && message.signature() == QLatin1String("as") && projects.size() <= singleInstanceMostProjects
                           && std::all_of(projects.begin(), projects.end(), [](const QString &path) {
                                  return !path.isEmpty() && path.size() <= singleInstanceLongestPath && QDir::isAbsolutePath(path)
                                         && !path.contains(QChar(0));
                              });
        if (!valid) {
            connection.send(message.createErrorReply(QDBusError::InvalidArgs,
                                                     QStringLiteral("Open takes a short list of absolute paths.")));
            return true;
        }
        connection.send(message.createReply());
        KR_LOG(QStringLiteral("Another start asked to open %1").arg(projects.join(QStringLiteral(", "))));
        // After the answer: opening a project takes a while, and the other start waits for it.
        if (opener)
            QTimer::singleShot(0, [open = opener, projects] { open(projects); });
        else
            waiting.append(projects);
        return true;
    }
};

KRSingleInstance::KRSingleInstance() = default;

KRSingleInstance::~KRSingleInstance()
{
    if (!m_object)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QLatin1String(ObjectPath));
    bus.unregisterService(QLatin1String(ServiceName));
}

bool KRSingleInstance::handedToRunningInstance(const QStringList &projects)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface *busInterface = bus.isConnected() ? bus.interface() : nullptr;
    if (!busInterface)
        return false; // no session bus: on its own
    auto object = std::make_unique<KRSingleInstanceObject>();
    // The object first, so that a start that sees the name finds it answering.
    const bool registered = bus.registerVirtualObject(QLatin1String(ObjectPath), object.get());
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> taken = busInterface->registerService(
        QLatin1String(ServiceName), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (registered && taken.isValid() && taken.value() == QDBusConnectionInterface::ServiceRegistered) {
        m_object = std::move(object);
        return false;
    }
    if (registered)
        bus.unregisterObject(QLatin1String(ObjectPath));
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(ServiceName), QLatin1String(ObjectPath),
                                                       QLatin1String(InterfaceName), QLatin1String(singleInstanceOpen));
    call << projects;
    const QDBusMessage reply = bus.call(call, QDBus::Block, singleInstanceCallTimeout);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // The running one does not answer (hung, or no Korvane holds the name): this start runs
    // on its own rather than not at all.
    std::fprintf(stderr, "korvane: the running Korvane did not answer (%s); starting another one.\n",
                 qPrintable(reply.errorMessage()));
    return false;
}

void KRSingleInstance::setOpener(Opener opener)
{
    if (!m_object)
        return;
    m_object->opener = std::move(opener);
    for (const QStringList &projects : std::exchange(m_object->waiting, {}))
        QTimer::singleShot(0, [open = m_object->opener, projects] { open(projects); });
}

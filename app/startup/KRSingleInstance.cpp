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

KRSingleInstance::Result KRSingleInstance::start(const QStringList &projects)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface *busInterface = bus.isConnected() ? bus.interface() : nullptr;
    if (!busInterface)
        return {Outcome::First}; // no session bus: on its own
    auto object = std::make_unique<KRSingleInstanceObject>();
    // The object first, so that a start that sees the name finds it answering.
    const bool registered = bus.registerVirtualObject(QLatin1String(ObjectPath), object.get());
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> taken = busInterface->registerService(
        QLatin1String(ServiceName), QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    const bool ours = taken.isValid() && taken.value() == QDBusConnectionInterface::ServiceRegistered;
    if (ours && registered) {
        m_object = std::move(object);
        return {Outcome::First};
    }
    if (ours) {
        // The name without the object to answer on it would keep later starts waiting.
        busInterface->unregisterService(QLatin1String(ServiceName));
        return {Outcome::First};
    }
    if (registered)
        bus.unregisterObject(QLatin1String(ObjectPath));
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(ServiceName), QLatin1String(ObjectPath),
                                                       QLatin1String(InterfaceName), QLatin1String(singleInstanceOpen));
    call << projects;
    const QDBusMessage reply = bus.call(call, QDBus::Block, singleInstanceCallTimeout);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {Outcome::HandedOver};
    // Nobody holds the name after all (the bus refused it to this start, or its holder has
    // just ended): this start runs on its own.
    if (!busInterface->isServiceRegistered(QLatin1String(ServiceName)).value())
        return {Outcome::First};
    // The one that holds the name does not answer (it hangs): a second one beside it would
    // bring back two instances saving over each other.
    return {Outcome::Refused, reply.errorMessage()};
}

void KRSingleInstance::setOpener(Opener opener)
{
    if (!m_object)
        return;
    m_object->opener = std::move(opener);
    for (const QStringList &projects : std::exchange(m_object->waiting, {}))
        QTimer::singleShot(0, [open = m_object->opener, projects] { open(projects); });
}

#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

// Posted on the default notification centre (no sender) each time the application-wide local
// runtime server has started answering (again, after a restart); user info "port".
inline const QString KRLocalServerDidStartNotification = QStringLiteral("KRLocalServerDidStartNotification");

// Where the model and the build find the port of the application-wide local runtime server.
// The application shell installs a provider at launch (it asks the shared runner, which may
// wait for the server's hand-shake); tests install a constant. Without a provider the port
// reads -1 (no server).
class KRLocalServerPort
{
public:
    using Provider = std::function<qint64()>;
    // Installs the process-wide provider; returns the previous one.
    static Provider setProvider(Provider provider);
    static qint64 port();
    // Tells the model that the server answers on `port` now (whoever runs the server calls it):
    // posts KRLocalServerDidStartNotification.
    static void serverDidStart(qint64 port);
};

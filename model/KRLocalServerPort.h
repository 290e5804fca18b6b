#pragma once

#include <QtGlobal>

#include <functional>

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
};

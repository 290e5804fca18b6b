#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>

// Evaluates a proxy auto-configuration script (FindProxyForURL) with the usual helper
// functions and returns its answer as a list of entries, each "DIRECT" or a proxy.
struct NetPACProxy {
    bool direct = true;
    bool socks = false;
    QString host;
    int port = 0;
};

class NetPACScript
{
public:
    // Empty when the script fails, answers nothing or runs past the time limit (which also
    // bounds its host-name look-ups).
    static QList<NetPACProxy> proxiesForURL(const QString &script, const QUrl &url,
                                            std::chrono::milliseconds timeLimit = std::chrono::seconds(5));
    static QList<NetPACProxy> parseResult(const QString &result);
};

#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

class NetHTTPRequest;

// The build's view of the application-wide local runtime server: where to find its port and
// how to send it one JSON request.
//
// The port comes from a provider the application shell installs at launch (it asks the shared
// runner's portNumber(), which may wait for the server's hand-shake); -1 means the server is
// unavailable. Without a provider the server counts as unavailable.
class KRRuntimeServer
{
public:
    using PortProvider = std::function<qint64()>;

    // Installs the process-wide provider (an empty one: no server); returns the previous one.
    static PortProvider setPortProvider(PortProvider provider);
    static qint64 portNumber();
    // The server has reported its port (at launch, and again after a restart): design views
    // waiting for it load their libraries now.
    static void serverDidStart(qint64 port);

    // POSTs `request` as JSON ("content-type: application/json") to http://127.0.0.1:<port><path>,
    // with the token of the server this process started on that port (KRNodeRunner), and waits
    // for the answer, blocking the calling thread. The answer must be a 200 response
    // whose body is a JSON object; anything else (no connection, time-out, an error status, a
    // body that is not a JSON object) is an error.
    static KRResult<QJsonObject> postJSON(qint64 port, const QString &path, const QJsonObject &request,
                                          double timeOutSeconds);
    // The same request without waiting: `done` runs on the main thread with the answer. The
    // returned request is the caller's to keep while it runs; clearDelegatesAndCancel() drops
    // the answer.
    static std::shared_ptr<NetHTTPRequest> postJSONAsynchronously(qint64 port, const QString &path,
                                                                  const QJsonObject &request, double timeOutSeconds,
                                                                  std::function<void(KRResult<QJsonObject>)> done);

    static const QString errorDomain; // "KRRuntimeServerErrorDomain"
    enum ErrorCode { NoResponseError = 1, BadStatusError = 2, BadAnswerError = 3 };
    // Whether the error is that the work ran out of time: no answer came within the time-out,
    // or the server stopped the work at its own time limit (it then answers 503 with
    // "timedOut": true). The error's user info holds it under "timedOut".
    static bool ranOutOfTime(const KRError &error);
};

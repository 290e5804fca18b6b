#pragma once

#include <platform/foundation/KRError.h>

#include <QString>

#include <functional>

struct KRAlert;

// Minifies a script with the local runtime server ("/__kr_uglify"), synchronously.
//
// Any failure is an error result, never a text: the server without a port (after the alert
// "Unable to process JavaScript"), no answer, an error status, or an answer without "src".
// The builder then writes the unminified script, never an empty one.
class KRUglifyJavaScript
{
public:
    using PortProvider = std::function<qint64()>;

    // Without a provider, the application-wide server's port (KRRuntimeServer) is used.
    explicit KRUglifyJavaScript(PortProvider portProvider = {});

    KRResult<QString> uglifyJavaScript(const QString &text);

    static const QString errorDomain; // "KRUglifyJavaScriptErrorDomain"
    enum ErrorCode { ServerUnavailableError = 1, NoResponseDataError = 2, NoResponseSourceError = 3 };

    // What a minification says when the server has no port: the message "Unable to process
    // JavaScript" (for the run log), the alert that shows it and the error it returns.
    static const QString serverUnavailableMessage;
    static KRAlert serverUnavailableAlert();
    static KRError serverUnavailableError();

    // Minifying a large script can take a while.
    static constexpr double requestTimeOutSeconds = 60.0;

private:
    PortProvider m_portProvider;
};

#include "KRUglifyJavaScript.h"

#include <builder/KRRuntimeServer.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRAlertService.h>

#include <QJsonObject>

const QString KRUglifyJavaScript::errorDomain = QStringLiteral("KRUglifyJavaScriptErrorDomain");
const QString KRUglifyJavaScript::serverUnavailableMessage = QStringLiteral("Unable to process JavaScript");

KRAlert KRUglifyJavaScript::serverUnavailableAlert()
{
    KRAlert alert;
    alert.messageText = serverUnavailableMessage;
    alert.informativeText = serverUnavailableMessage;
    alert.buttonTitles = {QStringLiteral("OK")};
    return alert;
}

KRError KRUglifyJavaScript::serverUnavailableError()
{
    return KRError(errorDomain, ServerUnavailableError, serverUnavailableMessage);
}

KRUglifyJavaScript::KRUglifyJavaScript(PortProvider portProvider) : m_portProvider(std::move(portProvider)) {}

KRResult<QString> KRUglifyJavaScript::uglifyJavaScript(const QString &text)
{
    const qint64 port = m_portProvider ? m_portProvider() : KRRuntimeServer::portNumber();
    if (port < 0) {
        KR_LOG(serverUnavailableMessage);
        KRAlertService::current().runModal(serverUnavailableAlert());
        return serverUnavailableError();
    }

    const KRResult<QJsonObject> answer = KRRuntimeServer::postJSON(
        port, QStringLiteral("/__kr_uglify"), QJsonObject{{QStringLiteral("src"), text}}, requestTimeOutSeconds);
    if (!answer) {
        if (answer.error().code() == KRRuntimeServer::NoResponseError) {
            KR_LOG(QStringLiteral("Error, no responseData received from node while minifying JavaScript: %1")
                       .arg(answer.error().message()));
            return KRError(errorDomain, NoResponseDataError, answer.error().message());
        }
        KR_LOG(QStringLiteral("Error, no responseSource in node's answer while minifying JavaScript: %1")
                   .arg(answer.error().message()));
        return KRError(errorDomain, NoResponseSourceError, answer.error().message());
    }
    const QJsonValue source = answer->value(QStringLiteral("src"));
    if (!source.isString()) {
        const QString message = QStringLiteral("Error, no responseSource in node's answer while minifying JavaScript.");
        KR_LOG(message);
        return KRError(errorDomain, NoResponseSourceError, message);
    }
    return source.toString();
}

#include "KRUglifyJavaScript.h"

#include <builder/KRRuntimeServer.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRAlertService.h>

#include <QJsonObject>

const QString KRUglifyJavaScript::errorDomain = QStringLiteral("KRUglifyJavaScriptErrorDomain");

KRUglifyJavaScript::KRUglifyJavaScript(PortProvider portProvider) : m_portProvider(std::move(portProvider)) {}

KRResult<QString> KRUglifyJavaScript::uglifyJavaScript(const QString &text)
{
    const qint64 port = m_portProvider ? m_portProvider() : KRRuntimeServer::portNumber();
    if (port < 0) {
        const QString message = QStringLiteral("Unable to process JavaScript");
        KR_LOG(message);
        KRAlert alert;
        alert.messageText = message;
        alert.informativeText = message;
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
        return KRError(errorDomain, ServerUnavailableError, message);
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

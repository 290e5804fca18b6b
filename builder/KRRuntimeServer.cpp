#include "KRRuntimeServer.h"

#include <core/KRNodeRunner.h>
#include <model/KRLocalServerPort.h>

#include <network/NetHTTPRequest.h>

#include <QJsonDocument>
#include <QJsonParseError>
#include <QUrl>

#include <mutex>

const QString KRRuntimeServer::errorDomain = QStringLiteral("KRRuntimeServerErrorDomain");

// One provider for the whole application: the model's.
KRRuntimeServer::PortProvider KRRuntimeServer::setPortProvider(PortProvider provider)
{
    return KRLocalServerPort::setProvider(std::move(provider));
}

qint64 KRRuntimeServer::portNumber()
{
    return KRLocalServerPort::port();
}

void KRRuntimeServer::serverDidStart(qint64 port)
{
    KRLocalServerPort::serverDidStart(port);
}

namespace {

std::shared_ptr<NetHTTPRequest> krRuntimeServerRequest(qint64 port, const QString &path, const QJsonObject &request,
                                                       double timeOutSeconds)
{
    const QUrl url(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    auto http = NetHTTPRequest::requestWithURL(url);
    http->setDownloadCache(nullptr);
    http->setRequestMethod(QStringLiteral("POST"));
    http->addRequestHeader(QStringLiteral("content-type"), QStringLiteral("application/json"));
    // Control requests need the token of the server's run; only the process that started it knows it.
    http->addRequestHeader(QString::fromLatin1(KRNodeRunner::tokenHeaderName),
                           QString::fromLatin1(KRNodeRunner::tokenForPort(port)));
    http->appendPostData(QJsonDocument(request).toJson(QJsonDocument::Compact));
    http->setTimeOutSeconds(timeOutSeconds);
    return http;
}

const QString timedOutKey = QStringLiteral("timedOut");

KRResult<QJsonObject> krRuntimeServerAnswer(NetHTTPRequest &http, const QString &path)
{
    const QByteArray data = http.responseData();
    if (data.isNull()) {
        const KRError cause = http.error();
        const bool timedOut =
            cause.domain() == NetHTTPRequest::errorDomain && cause.code() == NetHTTPRequest::RequestTimedOutErrorType;
        return KRError(KRRuntimeServer::errorDomain, KRRuntimeServer::NoResponseError,
                       QStringLiteral("No response from the local runtime server at %1: %2")
                           .arg(http.url().toString(), cause.message()),
                       timedOut ? QVariantMap{{timedOutKey, true}} : QVariantMap());
    }
    if (http.responseStatusCode() != 200) {
        const bool timedOut = http.responseStatusCode() == 503
                              && QJsonDocument::fromJson(data).object().value(timedOutKey).toBool();
        return KRError(KRRuntimeServer::errorDomain, KRRuntimeServer::BadStatusError,
                       QStringLiteral("The local runtime server answered %1 with status %2: %3")
                           .arg(path)
                           .arg(http.responseStatusCode())
                           .arg(QString::fromUtf8(data.left(200))),
                       timedOut ? QVariantMap{{timedOutKey, true}} : QVariantMap());
    }
    QJsonParseError parseError;
    const QJsonDocument answer = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !answer.isObject())
        return KRError(KRRuntimeServer::errorDomain, KRRuntimeServer::BadAnswerError,
                       QStringLiteral("The local runtime server's answer to %1 is not a JSON object").arg(path));
    return answer.object();
}

} // namespace

bool KRRuntimeServer::ranOutOfTime(const KRError &error)
{
    return error.domain() == errorDomain && error.userInfo().value(timedOutKey).toBool();
}

KRResult<QJsonObject> KRRuntimeServer::postJSON(qint64 port, const QString &path, const QJsonObject &request,
                                                double timeOutSeconds)
{
    const std::shared_ptr<NetHTTPRequest> http = krRuntimeServerRequest(port, path, request, timeOutSeconds);
    http->startSynchronous();
    return krRuntimeServerAnswer(*http, path);
}

std::shared_ptr<NetHTTPRequest> KRRuntimeServer::postJSONAsynchronously(qint64 port, const QString &path,
                                                                        const QJsonObject &request, double timeOutSeconds,
                                                                        std::function<void(KRResult<QJsonObject>)> done)
{
    const std::shared_ptr<NetHTTPRequest> http = krRuntimeServerRequest(port, path, request, timeOutSeconds);
    const std::weak_ptr<NetHTTPRequest> weak = http;
    auto finish = [weak, path, done] {
        if (const std::shared_ptr<NetHTTPRequest> finished = weak.lock())
            done(krRuntimeServerAnswer(*finished, path));
    };
    http->setCompletionBlock(finish);
    http->setFailedBlock(finish);
    http->startAsynchronous();
    return http;
}

#include "KRJSONRPC.h"

#include <core/KRJSONSerialization.h>
#include <core/KRPasswordValueTransformer.h>
#include <core/KRRunLogger.h>
#include <network/NetHTTPRequest.h>
#include <platform/foundation/KRMainThread.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QSysInfo>

namespace {
std::mutex configurationMutex;
std::function<QString(const QString &)> passwordTransformer;
QString serviceDomain;
KRJSONRPC::ProxyCredentialPrompt proxyPrompt;

// The proxy credentials the user gave, kept for the session (main thread only). Requests that
// need them while the prompt is open wait for its answer instead of asking again; a request
// that was given the kept answer and asks once more had it refused, and the user is asked anew.
struct ProxyAnswer
{
    QString user;
    QString password;
};
bool proxyPromptOpen = false;
std::vector<std::shared_ptr<NetHTTPRequest>> requestsWaitingForProxyPrompt;
QHash<QString, ProxyAnswer> proxyAnswers; // by proxy host, port and realm
std::vector<std::weak_ptr<NetHTTPRequest>> requestsGivenProxyAnswer;

QString proxyAnswerKey(const NetHTTPRequest &request)
{
    return QStringLiteral("%1:%2 %3").arg(request.proxyHost()).arg(request.proxyPort()).arg(request.proxyAuthenticationRealm());
}

// Records that the request was given the kept answer; true when it had been given it before.
bool markGivenProxyAnswer(const std::shared_ptr<NetHTTPRequest> &request)
{
    std::erase_if(requestsGivenProxyAnswer, [](const std::weak_ptr<NetHTTPRequest> &given) { return given.expired(); });
    for (const std::weak_ptr<NetHTTPRequest> &given : requestsGivenProxyAnswer) {
        if (given.lock() == request)
            return true;
    }
    requestsGivenProxyAnswer.push_back(request);
    return false;
}

void answerProxyChallenge(const std::shared_ptr<NetHTTPRequest> &request, const ProxyAnswer &answer)
{
    request->setProxyUsername(answer.user);
    request->setProxyPassword(answer.password);
    request->retryUsingSuppliedCredentials();
}

// A user default. The shared defaults object is main-thread only; another thread reads the
// stored value from the same file, else the registered default.
QVariant userDefault(const QString &key)
{
    if (KRMainThread::isMainThread())
        return KRUserDefaults::sharedInstance().value(key);
    const QString path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                         + QStringLiteral("/Korvane/Korvane.conf");
    const QVariant stored = QSettings(path, QSettings::IniFormat).value(key);
    return stored.isValid() ? stored : KRUserDefaults::sharedRegisteredValue(key);
}
} // namespace

std::shared_ptr<KRJSONRPC> KRJSONRPC::create()
{
    std::shared_ptr<KRJSONRPC> client(new KRJSONRPC);
    client->m_apiURL = userDefault(QStringLiteral("apiURL")).toString();
    return client;
}

QString KRJSONRPC::apiURL() const { std::lock_guard<std::mutex> g(m_mutex); return m_apiURL; }
void KRJSONRPC::setApiURL(const QString &url) { std::lock_guard<std::mutex> g(m_mutex); m_apiURL = url; }
std::shared_ptr<KRJSONRPCDelegate> KRJSONRPC::delegate() const { std::lock_guard<std::mutex> g(m_mutex); return m_delegate; }
void KRJSONRPC::setDelegate(std::shared_ptr<KRJSONRPCDelegate> d) { std::lock_guard<std::mutex> g(m_mutex); m_delegate = std::move(d); }
bool KRJSONRPC::useProxyAuthenticationDialog() const { std::lock_guard<std::mutex> g(m_mutex); return m_useProxyAuthenticationDialog; }
void KRJSONRPC::setUseProxyAuthenticationDialog(bool on) { std::lock_guard<std::mutex> g(m_mutex); m_useProxyAuthenticationDialog = on; }
std::shared_ptr<NetHTTPRequest> KRJSONRPC::request() const { std::lock_guard<std::mutex> g(m_mutex); return m_request; }

void KRJSONRPC::setPasswordTransformer(std::function<QString(const QString &)> transformer)
{
    std::lock_guard<std::mutex> g(configurationMutex);
    passwordTransformer = std::move(transformer);
}

void KRJSONRPC::setServiceDomain(const QString &domain)
{
    std::lock_guard<std::mutex> g(configurationMutex);
    serviceDomain = domain;
}

void KRJSONRPC::setProxyCredentialPrompt(ProxyCredentialPrompt prompt)
{
    std::lock_guard<std::mutex> g(configurationMutex);
    proxyPrompt = std::move(prompt);
}

QJsonObject KRJSONRPC::argumentsDictionary()
{
    QJsonObject args;
    args.insert(QStringLiteral("appVersion"), QCoreApplication::applicationVersion());
    args.insert(QStringLiteral("OSVersion"), QSysInfo::prettyProductName());
    return args;
}

QJsonObject KRJSONRPC::credentialedArgumentsDictionary()
{
    QJsonObject args = argumentsDictionary();
    const QVariant email = userDefault(QStringLiteral("hostingEmail"));
    if (email.isValid())
        args.insert(QStringLiteral("hostingEmail"), email.toString());
    const QVariant storedPassword = userDefault(QStringLiteral("hostingPassword"));
    if (storedPassword.isValid()) {
        const QString stored = storedPassword.toString();
        std::function<QString(const QString &)> transform;
        {
            std::lock_guard<std::mutex> g(configurationMutex);
            transform = passwordTransformer;
        }
        if (!transform)
            transform = [](const QString &text) { return KRPasswordValueTransformer().transformedValue(text); };
        const QString password = stored.isEmpty() ? stored : transform(stored);
        // A stored password that does not decipher is left out rather than sent as it is.
        if (password.isNull() && !stored.isNull())
            KR_LOG(QStringLiteral("The stored hosting password could not be deciphered; sending none."));
        else
            args.insert(QStringLiteral("hostingPassword"), password);
    }
    return args;
}

void KRJSONRPC::callMethod(const QString &method, const QJsonObject &arguments)
{
    callMethod(method, arguments, nullptr);
}

void KRJSONRPC::callMethod(const QString &method, const QJsonObject &arguments, Block block)
{
    auto self = shared_from_this();
    // Without a service address there is no one to ask: nothing is sent, and the caller hears
    // why on the main thread, as it would hear any failure.
    if (apiURL().trimmed().isEmpty()) {
        KR_LOG(QStringLiteral("JSONRPC %1 not sent: no service address is set").arg(method));
        KRMainThread::post([self, block] {
            const KRError error(QStringLiteral("KRJSONRPCErrorDomain"), NoServiceAddressError,
                                QStringLiteral("No service address is set."));
            if (block)
                block(QJsonDocument(), error);
            else if (auto d = self->delegate())
                d->jsonRPCDidCompleteWithError(*self, error);
        });
        return;
    }
    const QByteArray body = QJsonDocument(arguments).toJson(QJsonDocument::Compact);
    const QUrl url(QStringLiteral("%1?method=%2").arg(apiURL(), method));
    auto request = NetHTTPRequest::requestWithURL(url);
    {
        std::lock_guard<std::mutex> g(m_mutex);
        m_request = request;
    }
    request->setUseKeychainPersistence(true);
    {
        std::lock_guard<std::mutex> g(configurationMutex);
        if (!serviceDomain.isEmpty())
            request->setSslPeerName(QStringLiteral("*.") + serviceDomain);
    }
    request->setMaximumResponseSize(MaximumReplySize);
    request->setTotalDeadlineSeconds(ReplyDeadlineSeconds);
    request->setRequestMethod(QStringLiteral("POST"));
    request->addRequestHeader(QStringLiteral("content-type"), QStringLiteral("application/json"));
    request->appendPostData(body);
    request->setDelegate(std::static_pointer_cast<NetHTTPRequestDelegate>(self));
    // The blocks hold the client (and this call's block) until the result is delivered.
    std::weak_ptr<NetHTTPRequest> weakRequest = request;
    request->setCompletionBlock([self, weakRequest, block] {
        if (auto r = weakRequest.lock())
            self->deliver(r, block);
    });
    request->setFailedBlock([self, weakRequest, block] {
        if (auto r = weakRequest.lock())
            self->deliver(r, block);
    });
    request->startAsynchronous();
}

void KRJSONRPC::deliver(const std::shared_ptr<NetHTTPRequest> &request, const Block &block)
{
    // The request's blocks hold this client; let go of them once the result is out.
    request->setCompletionBlock(nullptr);
    request->setFailedBlock(nullptr);
    QJsonDocument reply;
    KRError error = request->error();
    // The bounds are the service's: said in its words.
    if (error.code() == NetHTTPRequest::ResponseTooLargeErrorType)
        error = KRError(error.domain(), error.code(),
                        QStringLiteral("The service's answer was larger than %1 MB and was refused.").arg(MaximumReplySize >> 20));
    else if (error.code() == NetHTTPRequest::RequestTimedOutErrorType)
        error = KRError(error.domain(), error.code(), QStringLiteral("The service did not answer in time."));
    if (error) {
        KR_LOG(QStringLiteral("JSONRPC failure: %1").arg(error.message()));
    } else {
        // JSON is UTF-8 unless the server names another character set.
        const QByteArray data = request->responseData();
        const QString charset = request->responseHeader(QStringLiteral("Content-Type")).contains(QLatin1String("charset="), Qt::CaseInsensitive)
                                    ? request->responseEncoding()
                                    : QString();
        const bool utf8 = charset.isEmpty() || charset.compare(QLatin1String("utf-8"), Qt::CaseInsensitive) == 0
                          || charset.compare(QLatin1String("utf8"), Qt::CaseInsensitive) == 0;
        const QByteArray bytes = utf8 ? data : request->responseString().toUtf8();
        const KRResult<QJsonDocument> read = KRJSONSerialization::readDocument(bytes);
        reply = read ? read.value() : QJsonDocument();
        if (!read || !(reply.isObject() || reply.isArray())) {
            const QString text = !read ? read.error().message() : QStringLiteral("the reply is not an object or an array");
            error = KRError(QStringLiteral("KRJSONRPCErrorDomain"), 3840,
                            QStringLiteral("The reply could not be read as JSON: %1").arg(text));
            KR_LOG(QStringLiteral("JSONRPC responseString: %1").arg(QString::fromUtf8(bytes)));
            KR_LOG(QStringLiteral("JSONRPC failure: %1").arg(error.message()));
            reply = QJsonDocument();
        }
    }
    if (block) {
        block(error ? QJsonDocument() : reply, error);
        return;
    }
    if (auto d = delegate()) {
        if (error)
            d->jsonRPCDidCompleteWithError(*this, error);
        else
            d->jsonRPCDidCompleteWithResponse(*this, reply);
    }
}

void KRJSONRPC::proxyAuthenticationNeededForRequest(const NetHTTPRequestPtr &request)
{
    KR_LOG(QString());
    ProxyCredentialPrompt prompt;
    {
        std::lock_guard<std::mutex> g(configurationMutex);
        prompt = proxyPrompt;
    }
    if (!useProxyAuthenticationDialog() || !prompt) {
        request->cancelAuthentication();
        return;
    }
    // Another request of the same burst is asking the user right now: this one takes that answer.
    if (proxyPromptOpen) {
        requestsWaitingForProxyPrompt.push_back(request);
        return;
    }
    const QString key = proxyAnswerKey(*request);
    const bool refusedBefore = markGivenProxyAnswer(request);
    if (proxyAnswers.contains(key) && !refusedBefore) {
        answerProxyChallenge(request, proxyAnswers.value(key));
        return;
    }
    proxyAnswers.remove(key); // refused, or none yet
    KR_LOG(QStringLiteral("using"));
    ProxyAnswer answer;
    proxyPromptOpen = true;
    // The prompt names the proxy as configured here; the challenge's realm is the sender's text.
    const bool given = prompt(QStringLiteral("%1:%2").arg(request->proxyHost()).arg(request->proxyPort()), &answer.user,
                              &answer.password);
    proxyPromptOpen = false;
    const std::vector<std::shared_ptr<NetHTTPRequest>> waiting = std::exchange(requestsWaitingForProxyPrompt, {});
    if (!given) {
        request->cancelAuthentication();
        for (const auto &other : waiting)
            other->cancelAuthentication();
        return;
    }
    proxyAnswers.insert(key, answer);
    answerProxyChallenge(request, answer);
    for (const auto &other : waiting) {
        markGivenProxyAnswer(other);
        answerProxyChallenge(other, answer);
    }
    KR_LOG(QStringLiteral("ret"));
}

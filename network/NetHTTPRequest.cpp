#include "NetHTTPRequest.h"

#include <network/NetAuthChallenge.h>
#include <network/NetCacheDelegate.h>
#include <network/NetDataCompressor.h>
#include <network/NetDataDecompressor.h>
#include <network/NetInputStream.h>
#include <network/NetMainThread.h>
#include <network/NetOperationQueue.h>
#include <network/NetPACScript.h>
#include <network/NetRequestQueue.h>
#include <network/NetTransportLoop.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRPaths.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMimeDatabase>
#include <QNetworkCookieJar>
#include <QNetworkProxyFactory>
#include <QStringDecoder>
#include <QSysInfo>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <vector>

using Clock = std::chrono::steady_clock;

const QString NetHTTPRequest::errorDomain = QStringLiteral("NetHTTPRequestErrorDomain");

namespace {

// ---------------------------------------------------------------- class-wide state

// Lock order: a request's own lock, then bandwidthLock, then connectionsLock.
std::recursive_mutex connectionsLock;
std::recursive_mutex progressLock;
std::mutex sessionCookiesLock;
std::recursive_mutex sessionCredentialsLock;
std::recursive_mutex delegateAuthenticationLock;
std::mutex bandwidthLock; // not recursive
std::mutex classSettingsLock;

struct ConnectionRecord {
    int id = 0;
    QString host;
    int port = 0;
    QString scheme;
    const NetHTTPRequest *request = nullptr; // not owned: the request running on it
    bool hasExpiry = false;
    Clock::time_point expires;
};
std::vector<std::shared_ptr<ConnectionRecord>> connectionPool;
int nextConnectionNumber = 0;
int nextRequestID = 0;
int scheduledStreams = 0;

double defaultTimeOut = 10.0;
std::shared_ptr<NetCacheDelegate> sharedDefaultCache;
bool defaultUserAgentComputed = false;
QString defaultUserAgent;

// The shared cookie storage.
class NetCookieStore : public QNetworkCookieJar
{
public:
    QList<QNetworkCookie> cookiesFor(const QUrl &url)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        return cookiesForUrl(url);
    }
    void setCookiesFrom(const QList<QNetworkCookie> &cookies, const QUrl &url)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        setCookiesFromUrl(cookies, url);
    }
    void remove(const QNetworkCookie &cookie)
    {
        std::lock_guard<std::mutex> g(m_mutex);
        deleteCookie(cookie);
    }

private:
    std::mutex m_mutex;
};
NetCookieStore &cookieStore()
{
    static auto *store = new NetCookieStore; // lives for the process
    return *store;
}
QList<QNetworkCookie> sessionCookieList;

struct CredentialRecord {
    std::shared_ptr<NetAuthChallenge> authentication;
    QString user, password, domain;
    QUrl url;
    QString scheme;
    QString realm;
    QString proxyHost;
    int proxyPort = 0;
};
using CredentialPtr = std::shared_ptr<CredentialRecord>;
std::vector<CredentialPtr> sessionCredentials;
std::vector<CredentialPtr> sessionProxyCredentials;
// Credentials saved "persistently" by protection space (host, port, scheme, realm); kept for
// the process only, so no password is ever written to disk in clear text.
QMap<QString, QPair<QString, QString>> savedCredentials;

QString protectionSpaceKey(const QString &host, int port, const QString &scheme, const QString &realm)
{
    return QStringLiteral("%1\n%2\n%3\n%4").arg(host).arg(port).arg(scheme, realm);
}

struct Bandwidth {
    std::uint64_t maxPerSecond = 0;
    std::uint64_t usedInPeriod = 0;
    bool hasMeasurementDate = false;
    Clock::time_point measurementDate;
    bool hasWakeUp = false;
    Clock::time_point wakeUp;
    std::deque<std::uint64_t> history;
    std::uint64_t average = 0;
};
Bandwidth bandwidth;

// Called with bandwidthLock held.
void recordBandwidthUsageLocked()
{
    const auto now = Clock::now();
    if (bandwidth.usedInPeriod == 0) {
        bandwidth.history.clear();
    } else {
        double seconds = bandwidth.hasMeasurementDate
                             ? std::chrono::duration<double>(bandwidth.measurementDate - now).count()
                             : 0.0;
        while ((seconds < 0 || bandwidth.history.size() >= 6) && !bandwidth.history.empty()) {
            bandwidth.history.pop_front();
            seconds += 1;
        }
    }
    bandwidth.history.push_back(bandwidth.usedInPeriod);
    bandwidth.measurementDate = now + std::chrono::seconds(1);
    bandwidth.hasMeasurementDate = true;
    bandwidth.usedInPeriod = 0;
    std::uint64_t sum = 0;
    for (auto v : bandwidth.history)
        sum += v;
    bandwidth.average = bandwidth.history.empty() ? 0 : sum / bandwidth.history.size();
}

void measureBandwidthLocked()
{
    if (!bandwidth.hasMeasurementDate || bandwidth.measurementDate <= Clock::now())
        recordBandwidthUsageLocked();
    if (bandwidth.maxPerSecond > 0 && bandwidth.usedInPeriod > bandwidth.maxPerSecond) {
        const double excess = double(bandwidth.usedInPeriod - bandwidth.maxPerSecond) / double(bandwidth.maxPerSecond);
        bandwidth.wakeUp = bandwidth.measurementDate
                           + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(excess));
        bandwidth.hasWakeUp = true;
    }
}

QString canonicalHeaderName(const QString &name)
{
    QStringList parts = name.trimmed().split(u'-');
    for (QString &p : parts) {
        p = p.toLower();
        if (!p.isEmpty())
            p[0] = p[0].toUpper();
    }
    return parts.join(u'-');
}

QString temporaryPath()
{
    return QDir(KRPaths::temporaryDirectory()).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
}

bool isMethodWithoutBody(const QString &m)
{
    return m == QLatin1String("GET") || m == QLatin1String("DELETE") || m == QLatin1String("HEAD");
}

} // namespace

// ---------------------------------------------------------------- private state

struct NetHTTPRequest::Private
{
    // request
    QUrl url, originalURL, redirectURL;
    QString requestMethod = QStringLiteral("GET");
    QList<QPair<QString, QString>> requestHeaders;
    QList<QNetworkCookie> requestCookies;
    QByteArray postBody, compressedPostBody;
    QString postBodyFilePath, compressedPostBodyFilePath;
    bool shouldStreamPostDataFromDisk = false;
    bool didCreateTemporaryPostDataFile = false;
    bool shouldCompressRequestBody = false;
    bool haveBuiltPostBody = false;
    std::uint64_t postLength = 0;
    QString userAgent;

    // credentials
    QString username, password, domain, authenticationScheme, authenticationRealm;
    bool hasRequestCredentials = false;
    QString credUser, credPassword, credDomain;
    std::shared_ptr<NetAuthChallenge> serverAuthentication;
    int authenticationRetryCount = 0;
    QString proxyUsername, proxyPassword, proxyDomain, proxyHost;
    int proxyPort = 0;
    ProxyType proxyType = ProxyTypeHTTP;
    QUrl PACurl;
    QString proxyAuthenticationScheme, proxyAuthenticationRealm;
    bool hasProxyCredentials = false;
    QString proxyCredUser, proxyCredPassword, proxyCredDomain;
    std::shared_ptr<NetAuthChallenge> proxyAuthentication;
    int proxyAuthenticationRetryCount = 0;
    CredentialPtr appliedSessionRecord, appliedProxySessionRecord;
    bool serverRefused = false, proxyRefused = false; // the last challenge refused applied credentials
    bool useKeychainPersistence = false;
    bool useSessionPersistence = true;
    bool useCookiePersistence = true;
    bool shouldPresentCredentialsBeforeChallenge = true;
    bool shouldPresentAuthenticationDialog = false;
    bool shouldPresentProxyAuthenticationDialog = true;

    // settings
    bool allowCompressedResponse = true;
    bool shouldWaitToInflateCompressedResponses = true;
    QString downloadDestinationPath, temporaryFileDownloadPath, temporaryUncompressedDataDownloadPath;
    bool allowResumeForFileDownloads = false;
    double timeOutSeconds = 10.0;
    int numberOfTimesToRetryOnTimeout = 0;
    int retryCount = 0;
    bool shouldRedirect = true;
    bool shouldUseRFC2616RedirectBehaviour = false;
    int redirectCount = 0;
    bool validatesSecureCertificate = true;
    QString sslPeerName;
    bool shouldAttemptPersistentConnection = true;
    double persistentConnectionTimeoutSeconds = 60.0;
    bool useHTTPVersionOne = false;
    QString defaultResponseEncoding = QStringLiteral("ISO-8859-1");
    QString responseEncoding;
    bool showAccurateProgress = true;
    bool shouldResetDownloadProgress = true;
    bool shouldResetUploadProgress = true;
    std::shared_ptr<NetCacheDelegate> downloadCache;
    int cachePolicy = 0;
    int cacheStoragePolicy = 0;
    double secondsToCache = 0;
    bool didUseCachedResponse = false;
    QVariantMap userInfo;
    std::int64_t tag = 0;

    // delegates and blocks
    std::weak_ptr<NetHTTPRequestDelegate> delegate;
    std::shared_ptr<NetRequestQueue> queue;
    std::weak_ptr<NetProgressDelegate> uploadProgressDelegate, downloadProgressDelegate;
    std::weak_ptr<NetHTTPRequest> mainRequest;
    std::weak_ptr<NetOperationQueue> operationQueue;
    Block startedBlock, completionBlock, failureBlock, authenticationNeededBlock, proxyAuthenticationNeededBlock,
        requestRedirectedBlock;
    HeadersBlock headersReceivedBlock;
    ProgressBlock bytesReceivedBlock, bytesSentBlock;
    SizeBlock downloadSizeIncrementedBlock, uploadSizeIncrementedBlock;
    DataBlock dataReceivedBlock;

    // state
    bool complete = false, finished = false, cancelled = false, inProgress = false, isSynchronous = false;
    KRError error;
    bool downloadComplete = false, needsRedirect = false;
    int authenticationNeeded = 0;
    bool willRetryRequest = false;
    bool readStreamIsScheduled = false;
    bool connectionCanBeReused = false;
    std::shared_ptr<ConnectionRecord> connectionInfo;
    int requestID = 0;
    bool hasLastActivity = false;
    Clock::time_point lastActivityTime;
    bool haveBuiltRequestHeaders = false;
    bool updatedProgress = false;
    bool messageBuilt = false;
    std::shared_ptr<NetTransportLoop> loop;
    bool started = false; // main() has run at least once

    // transport
    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    std::unique_ptr<NetInputStream> bodyStream;
    bool inCallback = false;
    KRError callbackError;
    bool receivePaused = false, sendPaused = false;
    bool freshConnection = false;
    // header parsing of the current attempt
    int parseStatus = 0;
    QString parseStatusLine;
    QString parseVersion;
    QList<QPair<QString, QString>> parseHeaders;
    bool headersRead = false;
    bool sawTunnelResponse = false;
    QString responseHTTPVersion;

    // response
    QList<QPair<QString, QString>> rawHeaders;
    QMap<QString, QString> responseHeaders;
    int responseStatusCode = 0;
    QString responseStatusMessage;
    QList<QNetworkCookie> responseCookies;
    QByteArray rawResponseData;
    std::uint64_t contentLength = 0, partialDownloadSize = 0, totalBytesRead = 0, lastBytesRead = 0;
    std::uint64_t totalBytesSent = 0, lastBytesSent = 0, uploadBufferSize = 0;
    std::unique_ptr<NetDataDecompressor> dataDecompressor;
    std::unique_ptr<QFile> fileDownloadOutputStream, inflatedFileDownloadOutputStream;

    // The credentials to send to the server or (proxy) the proxy.
    void setCredentials(bool proxy, const QString &user, const QString &password, const QString &domain)
    {
        (proxy ? hasProxyCredentials : hasRequestCredentials) = true;
        (proxy ? proxyCredUser : credUser) = user;
        (proxy ? proxyCredPassword : credPassword) = password;
        (proxy ? proxyCredDomain : credDomain) = domain;
    }
};

// ---------------------------------------------------------------- creation

NetHTTPRequest::NetHTTPRequest(Passkey, const QUrl &url) : d(std::make_unique<Private>())
{
    d->url = url;
    {
        std::lock_guard<std::mutex> g(classSettingsLock);
        d->timeOutSeconds = defaultTimeOut;
        d->downloadCache = sharedDefaultCache;
    }
}

NetHTTPRequest::~NetHTTPRequest()
{
    d->authenticationNeeded = 0;
    if (d->easy) {
        // Only reached when the loop already let go of the transfer.
        curl_easy_cleanup(d->easy);
        d->easy = nullptr;
    }
    if (d->headerList)
        curl_slist_free_all(d->headerList);
    d->fileDownloadOutputStream.reset();
    d->inflatedFileDownloadOutputStream.reset();
    if (!d->complete && !d->temporaryFileDownloadPath.isEmpty() && !d->allowResumeForFileDownloads)
        QFile::remove(d->temporaryFileDownloadPath);
    if (!d->temporaryUncompressedDataDownloadPath.isEmpty())
        QFile::remove(d->temporaryUncompressedDataDownloadPath);
    if (d->didCreateTemporaryPostDataFile) {
        QFile::remove(d->postBodyFilePath);
        if (!d->compressedPostBodyFilePath.isEmpty())
            QFile::remove(d->compressedPostBodyFilePath);
    }
    releaseBlocksOnMainThread();
}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::requestWithURL(const QUrl &url)
{
    return std::make_shared<NetHTTPRequest>(Passkey{}, url);
}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::requestWithURL(const QUrl &url, std::shared_ptr<NetCacheDelegate> cache,
                                                               int cachePolicy)
{
    auto r = requestWithURL(url);
    r->d->downloadCache = std::move(cache);
    r->d->cachePolicy = cachePolicy;
    return r;
}

KRError NetHTTPRequest::errorWithCode(int code, const QString &message) const
{
    return KRError(errorDomain, code, message);
}

// ---------------------------------------------------------------- accessors

#define LOCKED std::lock_guard<std::recursive_mutex> guard_(m_lock)

bool NetHTTPRequest::isCancelled() const { LOCKED; return d->cancelled; }
bool NetHTTPRequest::isFinished() const { LOCKED; return d->finished; }
bool NetHTTPRequest::isExecuting() const { LOCKED; return d->inProgress; }
bool NetHTTPRequest::complete() const { LOCKED; return d->complete; }
QUrl NetHTTPRequest::url() const { LOCKED; return d->url; }
void NetHTTPRequest::setURL(const QUrl &url)
{
    LOCKED;
    if (url == d->url)
        return;
    d->url = url;
    d->serverAuthentication.reset();
    d->proxyAuthentication.reset();
    d->messageBuilt = false;
    d->redirectURL = QUrl();
}
QUrl NetHTTPRequest::originalURL() const { LOCKED; return d->originalURL; }
QString NetHTTPRequest::requestMethod() const { LOCKED; return d->requestMethod; }
void NetHTTPRequest::setRequestMethod(const QString &method)
{
    LOCKED;
    if (method == d->requestMethod)
        return;
    d->requestMethod = method;
    if (method == QLatin1String("POST") || method == QLatin1String("PUT") || !d->postBody.isEmpty()
        || !d->postBodyFilePath.isEmpty())
        d->shouldAttemptPersistentConnection = false;
}
void NetHTTPRequest::addRequestHeader(const QString &name, const QString &value)
{
    LOCKED;
    for (auto &h : d->requestHeaders) {
        if (h.first == name) {
            h.second = value;
            return;
        }
    }
    d->requestHeaders.append({name, value});
}
QList<QPair<QString, QString>> NetHTTPRequest::requestHeaders() const { LOCKED; return d->requestHeaders; }
QString NetHTTPRequest::requestHeader(const QString &name) const
{
    LOCKED;
    for (const auto &h : d->requestHeaders) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}
void NetHTTPRequest::setRequestCookies(const QList<QNetworkCookie> &c) { LOCKED; d->requestCookies = c; }
QList<QNetworkCookie> NetHTTPRequest::requestCookies() const { LOCKED; return d->requestCookies; }

void NetHTTPRequest::appendPostData(const QByteArray &data)
{
    LOCKED;
    if (data.isEmpty())
        return;
    if (d->shouldStreamPostDataFromDisk) {
        if (d->postBodyFilePath.isEmpty()) {
            d->postBodyFilePath = temporaryPath();
            d->didCreateTemporaryPostDataFile = true;
        }
        QFile f(d->postBodyFilePath);
        if (f.open(QIODevice::Append))
            f.write(data);
    } else {
        d->postBody.append(data);
    }
    if (isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

void NetHTTPRequest::appendPostDataFromFile(const QString &path)
{
    LOCKED;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return;
    if (d->shouldStreamPostDataFromDisk) {
        if (d->postBodyFilePath.isEmpty()) {
            d->postBodyFilePath = temporaryPath();
            d->didCreateTemporaryPostDataFile = true;
        }
        QFile out(d->postBodyFilePath);
        if (!out.open(QIODevice::Append))
            return;
        for (;;) {
            const QByteArray chunk = in.read(262144);
            if (chunk.isEmpty()) // end, or a read error: stop either way
                break;
            out.write(chunk);
        }
    } else {
        d->postBody.append(in.readAll());
    }
    if (isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

void NetHTTPRequest::setPostBody(const QByteArray &body)
{
    LOCKED;
    d->postBody = body;
    d->postLength = std::uint64_t(body.size());
    if (!body.isEmpty() && isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}
QByteArray NetHTTPRequest::postBody() const { LOCKED; return d->postBody; }
void NetHTTPRequest::setPostBodyFilePath(const QString &path)
{
    LOCKED;
    d->postBodyFilePath = path;
    d->shouldStreamPostDataFromDisk = true;
}
QString NetHTTPRequest::postBodyFilePath() const { LOCKED; return d->postBodyFilePath; }
void NetHTTPRequest::setShouldStreamPostDataFromDisk(bool on) { LOCKED; d->shouldStreamPostDataFromDisk = on; }
void NetHTTPRequest::setShouldCompressRequestBody(bool on) { LOCKED; d->shouldCompressRequestBody = on; }
std::uint64_t NetHTTPRequest::postLength() const { LOCKED; return d->postLength; }
void NetHTTPRequest::setUserAgent(const QString &ua) { LOCKED; d->userAgent = ua; }
QString NetHTTPRequest::userAgent() const { LOCKED; return d->userAgent; }

QString NetHTTPRequest::defaultUserAgentString()
{
    std::lock_guard<std::mutex> g(classSettingsLock);
    if (defaultUserAgentComputed)
        return defaultUserAgent;
    const QString name = QCoreApplication::applicationName();
    if (name.isEmpty())
        return {};
    const QString version = QCoreApplication::applicationVersion();
    defaultUserAgent = QStringLiteral("%1 %2 (%3; %4 %5; %6)")
                           .arg(QString::fromLatin1(name.toUtf8()), version, QStringLiteral("X11"),
                                QStringLiteral("Linux"), QSysInfo::kernelVersion(), QLocale().name());
    defaultUserAgentComputed = true;
    return defaultUserAgent;
}

void NetHTTPRequest::setDefaultUserAgentString(const QString &ua)
{
    std::lock_guard<std::mutex> g(classSettingsLock);
    defaultUserAgent = ua;
    defaultUserAgentComputed = true;
}

void NetHTTPRequest::setUsername(const QString &v) { LOCKED; d->username = v; }
QString NetHTTPRequest::username() const { LOCKED; return d->username; }
void NetHTTPRequest::setPassword(const QString &v) { LOCKED; d->password = v; }
QString NetHTTPRequest::password() const { LOCKED; return d->password; }
void NetHTTPRequest::setDomain(const QString &v) { LOCKED; d->domain = v; }
QString NetHTTPRequest::domain() const { LOCKED; return d->domain; }
void NetHTTPRequest::setAuthenticationScheme(const QString &v) { LOCKED; d->authenticationScheme = v; }
QString NetHTTPRequest::authenticationScheme() const { LOCKED; return d->authenticationScheme; }
QString NetHTTPRequest::authenticationRealm() const { LOCKED; return d->authenticationRealm; }
void NetHTTPRequest::setProxyUsername(const QString &v) { LOCKED; d->proxyUsername = v; }
QString NetHTTPRequest::proxyUsername() const { LOCKED; return d->proxyUsername; }
void NetHTTPRequest::setProxyPassword(const QString &v) { LOCKED; d->proxyPassword = v; }
QString NetHTTPRequest::proxyPassword() const { LOCKED; return d->proxyPassword; }
void NetHTTPRequest::setProxyDomain(const QString &v) { LOCKED; d->proxyDomain = v; }
void NetHTTPRequest::setProxyHost(const QString &v) { LOCKED; d->proxyHost = v; }
QString NetHTTPRequest::proxyHost() const { LOCKED; return d->proxyHost; }
void NetHTTPRequest::setProxyPort(int p) { LOCKED; d->proxyPort = p; }
int NetHTTPRequest::proxyPort() const { LOCKED; return d->proxyPort; }
void NetHTTPRequest::setProxyType(ProxyType t) { LOCKED; d->proxyType = t; }
NetHTTPRequest::ProxyType NetHTTPRequest::proxyType() const { LOCKED; return d->proxyType; }
void NetHTTPRequest::setPACurl(const QUrl &u) { LOCKED; d->PACurl = u; }
QUrl NetHTTPRequest::PACurl() const { LOCKED; return d->PACurl; }
QString NetHTTPRequest::proxyAuthenticationRealm() const { LOCKED; return d->proxyAuthenticationRealm; }
int NetHTTPRequest::authenticationRetryCount() const { LOCKED; return d->authenticationRetryCount; }
void NetHTTPRequest::setUseKeychainPersistence(bool on) { LOCKED; d->useKeychainPersistence = on; }
void NetHTTPRequest::setUseSessionPersistence(bool on) { LOCKED; d->useSessionPersistence = on; }
void NetHTTPRequest::setUseCookiePersistence(bool on) { LOCKED; d->useCookiePersistence = on; }
void NetHTTPRequest::setShouldPresentCredentialsBeforeChallenge(bool on) { LOCKED; d->shouldPresentCredentialsBeforeChallenge = on; }
void NetHTTPRequest::setShouldPresentAuthenticationDialog(bool on) { LOCKED; d->shouldPresentAuthenticationDialog = on; }
void NetHTTPRequest::setShouldPresentProxyAuthenticationDialog(bool on) { LOCKED; d->shouldPresentProxyAuthenticationDialog = on; }
int NetHTTPRequest::authenticationNeeded() const { LOCKED; return d->authenticationNeeded; }
void NetHTTPRequest::setTimeOutSeconds(double s) { LOCKED; d->timeOutSeconds = s; }
double NetHTTPRequest::timeOutSeconds() const { LOCKED; return d->timeOutSeconds; }
double NetHTTPRequest::defaultTimeOutSeconds() { std::lock_guard<std::mutex> g(classSettingsLock); return defaultTimeOut; }
void NetHTTPRequest::setDefaultTimeOutSeconds(double s) { std::lock_guard<std::mutex> g(classSettingsLock); defaultTimeOut = s; }
void NetHTTPRequest::setNumberOfTimesToRetryOnTimeout(int n) { LOCKED; d->numberOfTimesToRetryOnTimeout = n; }
int NetHTTPRequest::retryCount() const { LOCKED; return d->retryCount; }
void NetHTTPRequest::setShouldRedirect(bool on) { LOCKED; d->shouldRedirect = on; }
void NetHTTPRequest::setShouldUseRFC2616RedirectBehaviour(bool on) { LOCKED; d->shouldUseRFC2616RedirectBehaviour = on; }
int NetHTTPRequest::redirectCount() const { LOCKED; return d->redirectCount; }
void NetHTTPRequest::setValidatesSecureCertificate(bool on) { LOCKED; d->validatesSecureCertificate = on; }
void NetHTTPRequest::setSslPeerName(const QString &n) { LOCKED; d->sslPeerName = n; }
QString NetHTTPRequest::sslPeerName() const { LOCKED; return d->sslPeerName; }
void NetHTTPRequest::setShouldAttemptPersistentConnection(bool on) { LOCKED; d->shouldAttemptPersistentConnection = on; }
bool NetHTTPRequest::shouldAttemptPersistentConnection() const { LOCKED; return d->shouldAttemptPersistentConnection; }
void NetHTTPRequest::setPersistentConnectionTimeoutSeconds(double s) { LOCKED; d->persistentConnectionTimeoutSeconds = s; }
double NetHTTPRequest::persistentConnectionTimeoutSeconds() const { LOCKED; return d->persistentConnectionTimeoutSeconds; }
bool NetHTTPRequest::connectionCanBeReused() const { LOCKED; return d->connectionCanBeReused; }
int NetHTTPRequest::connectionID() const
{
    LOCKED;
    std::lock_guard<std::recursive_mutex> g(connectionsLock);
    return d->connectionInfo ? d->connectionInfo->id : 0;
}
void NetHTTPRequest::setUseHTTPVersionOne(bool on) { LOCKED; d->useHTTPVersionOne = on; }
void NetHTTPRequest::setAllowCompressedResponse(bool on) { LOCKED; d->allowCompressedResponse = on; }
void NetHTTPRequest::setShouldWaitToInflateCompressedResponses(bool on) { LOCKED; d->shouldWaitToInflateCompressedResponses = on; }
void NetHTTPRequest::setDefaultResponseEncoding(const QString &n) { LOCKED; d->defaultResponseEncoding = n; }
QString NetHTTPRequest::responseEncoding() const { LOCKED; return d->responseEncoding.isEmpty() ? d->defaultResponseEncoding : d->responseEncoding; }
void NetHTTPRequest::setDownloadDestinationPath(const QString &p) { LOCKED; d->downloadDestinationPath = p; }
QString NetHTTPRequest::downloadDestinationPath() const { LOCKED; return d->downloadDestinationPath; }
void NetHTTPRequest::setTemporaryFileDownloadPath(const QString &p) { LOCKED; d->temporaryFileDownloadPath = p; }
QString NetHTTPRequest::temporaryFileDownloadPath() const { LOCKED; return d->temporaryFileDownloadPath; }
void NetHTTPRequest::setAllowResumeForFileDownloads(bool on) { LOCKED; d->allowResumeForFileDownloads = on; }
std::uint64_t NetHTTPRequest::partialDownloadSize() const { LOCKED; return d->partialDownloadSize; }
void NetHTTPRequest::setDownloadCache(std::shared_ptr<NetCacheDelegate> c) { LOCKED; d->downloadCache = std::move(c); }
std::shared_ptr<NetCacheDelegate> NetHTTPRequest::downloadCache() const { LOCKED; return d->downloadCache; }
void NetHTTPRequest::setDefaultCache(std::shared_ptr<NetCacheDelegate> c) { std::lock_guard<std::mutex> g(classSettingsLock); sharedDefaultCache = std::move(c); }
std::shared_ptr<NetCacheDelegate> NetHTTPRequest::defaultCache() { std::lock_guard<std::mutex> g(classSettingsLock); return sharedDefaultCache; }
void NetHTTPRequest::setCachePolicy(int p) { LOCKED; d->cachePolicy = p; }
int NetHTTPRequest::cachePolicy() const { LOCKED; return d->cachePolicy; }
void NetHTTPRequest::setCacheStoragePolicy(int p) { LOCKED; d->cacheStoragePolicy = p; }
int NetHTTPRequest::cacheStoragePolicy() const { LOCKED; return d->cacheStoragePolicy; }
void NetHTTPRequest::setSecondsToCache(double s) { LOCKED; d->secondsToCache = s; }
double NetHTTPRequest::secondsToCache() const { LOCKED; return d->secondsToCache; }
bool NetHTTPRequest::didUseCachedResponse() const { LOCKED; return d->didUseCachedResponse; }
void NetHTTPRequest::setUserInfo(const QVariantMap &i) { LOCKED; d->userInfo = i; }
QVariantMap NetHTTPRequest::userInfo() const { LOCKED; return d->userInfo; }
void NetHTTPRequest::setTag(std::int64_t t) { LOCKED; d->tag = t; }
std::int64_t NetHTTPRequest::tag() const { LOCKED; return d->tag; }
void NetHTTPRequest::setDelegate(std::weak_ptr<NetHTTPRequestDelegate> dl) { LOCKED; d->delegate = std::move(dl); }
std::shared_ptr<NetHTTPRequestDelegate> NetHTTPRequest::delegate() const { LOCKED; return d->delegate.lock(); }
void NetHTTPRequest::setQueue(std::shared_ptr<NetRequestQueue> q) { LOCKED; d->queue = std::move(q); }
std::shared_ptr<NetRequestQueue> NetHTTPRequest::queue() const { LOCKED; return d->queue; }
void NetHTTPRequest::setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> pd)
{
    LOCKED;
    d->uploadProgressDelegate = pd;
    netPerformOnMainThread([pd] { if (auto p = pd.lock()) p->setMaxValue(1.0); });
}
void NetHTTPRequest::setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> pd)
{
    LOCKED;
    d->downloadProgressDelegate = pd;
    netPerformOnMainThread([pd] { if (auto p = pd.lock()) p->setMaxValue(1.0); });
}
void NetHTTPRequest::setShowAccurateProgress(bool on) { LOCKED; d->showAccurateProgress = on; }
bool NetHTTPRequest::showAccurateProgress() const { LOCKED; return d->showAccurateProgress; }
void NetHTTPRequest::setShouldResetDownloadProgress(bool on) { LOCKED; d->shouldResetDownloadProgress = on; }
void NetHTTPRequest::setShouldResetUploadProgress(bool on) { LOCKED; d->shouldResetUploadProgress = on; }
void NetHTTPRequest::setStartedBlock(Block b) { LOCKED; d->startedBlock = std::move(b); }
void NetHTTPRequest::setHeadersReceivedBlock(HeadersBlock b) { LOCKED; d->headersReceivedBlock = std::move(b); }
void NetHTTPRequest::setCompletionBlock(Block b) { LOCKED; d->completionBlock = std::move(b); }
void NetHTTPRequest::setFailedBlock(Block b) { LOCKED; d->failureBlock = std::move(b); }
void NetHTTPRequest::setBytesReceivedBlock(ProgressBlock b) { LOCKED; d->bytesReceivedBlock = std::move(b); }
void NetHTTPRequest::setBytesSentBlock(ProgressBlock b) { LOCKED; d->bytesSentBlock = std::move(b); }
void NetHTTPRequest::setDownloadSizeIncrementedBlock(SizeBlock b) { LOCKED; d->downloadSizeIncrementedBlock = std::move(b); }
void NetHTTPRequest::setUploadSizeIncrementedBlock(SizeBlock b) { LOCKED; d->uploadSizeIncrementedBlock = std::move(b); }
void NetHTTPRequest::setDataReceivedBlock(DataBlock b) { LOCKED; d->dataReceivedBlock = std::move(b); }
void NetHTTPRequest::setAuthenticationNeededBlock(Block b) { LOCKED; d->authenticationNeededBlock = std::move(b); }
void NetHTTPRequest::setProxyAuthenticationNeededBlock(Block b) { LOCKED; d->proxyAuthenticationNeededBlock = std::move(b); }
void NetHTTPRequest::setRequestRedirectedBlock(Block b) { LOCKED; d->requestRedirectedBlock = std::move(b); }
KRError NetHTTPRequest::error() const { LOCKED; return d->error; }
int NetHTTPRequest::responseStatusCode() const { LOCKED; return d->responseStatusCode; }
QString NetHTTPRequest::responseStatusMessage() const { LOCKED; return d->responseStatusMessage; }
QMap<QString, QString> NetHTTPRequest::responseHeaders() const { LOCKED; return d->responseHeaders; }
QString NetHTTPRequest::responseHeader(const QString &name) const
{
    LOCKED;
    return d->responseHeaders.value(canonicalHeaderName(name));
}
QList<QNetworkCookie> NetHTTPRequest::responseCookies() const { LOCKED; return d->responseCookies; }
QByteArray NetHTTPRequest::rawResponseData() const { LOCKED; return d->rawResponseData; }
bool NetHTTPRequest::downloadComplete() const { LOCKED; return d->downloadComplete; }
std::uint64_t NetHTTPRequest::contentLength() const { LOCKED; return d->contentLength; }
std::uint64_t NetHTTPRequest::totalBytesRead() const { LOCKED; return d->totalBytesRead; }
std::uint64_t NetHTTPRequest::totalBytesSent() const { LOCKED; return d->totalBytesSent; }
std::shared_ptr<NetHTTPRequest> NetHTTPRequest::mainRequest() const { LOCKED; return d->mainRequest.lock(); }
void NetHTTPRequest::setHaveBuiltPostBody(bool on) { LOCKED; d->haveBuiltPostBody = on; }
bool NetHTTPRequest::haveBuiltPostBody() const { LOCKED; return d->haveBuiltPostBody; }

bool NetHTTPRequest::isResponseCompressed() const
{
    LOCKED;
    return d->responseHeaders.value(QStringLiteral("Content-Encoding")).contains(QLatin1String("gzip"), Qt::CaseInsensitive);
}

QByteArray NetHTTPRequest::responseData() const
{
    LOCKED;
    if (d->error)
        return {};
    if (isResponseCompressed() && d->shouldWaitToInflateCompressedResponses && !d->didUseCachedResponse) {
        KRError e;
        QByteArray out = NetDataDecompressor::uncompressData(d->rawResponseData, &e);
        return e ? QByteArray() : out;
    }
    return d->rawResponseData.isNull() ? QByteArray("") : d->rawResponseData;
}

QString NetHTTPRequest::responseString() const
{
    LOCKED;
    const QByteArray data = responseData();
    if (data.isNull())
        return {};
    QStringDecoder decoder(responseEncoding().toLatin1().constData());
    if (!decoder.isValid())
        return QString::fromLatin1(data);
    return decoder.decode(data);
}

// ---------------------------------------------------------------- starting

std::shared_ptr<NetOperationQueue> NetHTTPRequest::sharedQueue()
{
    static std::shared_ptr<NetOperationQueue> queue = std::make_shared<NetOperationQueue>(4);
    return queue;
}

void NetHTTPRequest::startAsynchronous()
{
    auto self = shared_from_this();
    auto q = sharedQueue();
    {
        LOCKED;
        d->operationQueue = q;
    }
    q->addOperation(self);
}

void NetHTTPRequest::start()
{
    auto self = shared_from_this();
    std::shared_ptr<NetTransportLoop> loop = NetTransportLoop::networkLoop();
    {
        LOCKED;
        d->inProgress = true;
        d->loop = loop;
    }
    loop->post([self] { self->main(); });
}

void NetHTTPRequest::startSynchronous()
{
    auto self = shared_from_this();
    auto loop = std::make_shared<NetTransportLoop>();
    bool run = false;
    {
        LOCKED;
        d->isSynchronous = true;
        d->inProgress = true;
        d->loop = loop;
        run = !d->cancelled && !d->complete;
    }
    if (run) {
        main();
        while (!complete())
            loop->runOnce(250);
    }
    {
        LOCKED;
        d->inProgress = false;
        d->finished = true;
        loop->detach(this);
        d->loop.reset();
    }
    loop.reset(); // ends any transfer left behind on this thread
}

void NetHTTPRequest::performOnRequestThread(std::function<void()> fn)
{
    std::shared_ptr<NetTransportLoop> loop;
    {
        LOCKED;
        loop = d->loop;
    }
    if (loop && !loop->isLoopThread())
        loop->post(std::move(fn));
    else
        fn();
}

void NetHTTPRequest::main()
{
    auto self = shared_from_this();
    LOCKED;
    if (d->loop)
        d->loop->attach(self);
    d->started = true;
    if (d->error) {
        d->complete = true;
        markAsFinished();
        return;
    }
    d->complete = false;
    d->didUseCachedResponse = false;
    const QString scheme = d->url.scheme().toLower();
    if (!d->url.isValid() || d->url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failWithError(errorWithCode(UnableToCreateRequestErrorType, QStringLiteral("Unable to create request (bad url?)")));
        return;
    }
    try {
        if (d->mainRequest.expired()) {
            if (!d->haveBuiltPostBody) {
                buildPostBody();
                d->haveBuiltPostBody = true;
            }
            if (d->error)
                return;
            setupPostBody();
            if (d->error)
                return;
        }
        if (d->requestMethod != QLatin1String("GET"))
            d->downloadCache.reset();
        d->messageBuilt = true;
        buildRequestHeaders();
        if (d->downloadCache) {
            if (d->cachePolicy == 0)
                d->cachePolicy = d->downloadCache->defaultCachePolicy();
            if (d->downloadCache->canUseCachedDataForRequest(*this)) {
                useDataFromCache();
                return;
            }
            if (d->cachePolicy & (NetCachePolicy::AskServerIfModifiedWhenStale | NetCachePolicy::AskServerIfModified)) {
                const QVariantMap cached = d->downloadCache->cachedResponseHeadersForURL(d->url);
                if (!cached.isEmpty()) {
                    const QString etag = cached.value(QStringLiteral("Etag")).toString();
                    const QString lastModified = cached.value(QStringLiteral("Last-Modified")).toString();
                    if (!etag.isEmpty())
                        addRequestHeader(QStringLiteral("If-None-Match"), etag);
                    if (!lastModified.isEmpty())
                        addRequestHeader(QStringLiteral("If-Modified-Since"), lastModified);
                }
            }
        }
        applyAuthorizationHeader();
        // A wildcard peer name ("*.example.com") confines the request to that domain, on top
        // of the usual certificate check of the host.
        if (d->validatesSecureCertificate && !d->sslPeerName.isEmpty() && scheme == QLatin1String("https")) {
            QString domain = d->sslPeerName;
            const bool wildcard = domain.startsWith(QLatin1String("*."));
            if (wildcard)
                domain = domain.mid(2);
            const QString host = d->url.host().toLower();
            const bool matches = wildcard ? (host == domain.toLower() || host.endsWith(u'.' + domain.toLower()))
                                          : host == domain.toLower();
            if (!matches) {
                failWithError(errorWithCode(ConnectionFailureErrorType,
                                            QStringLiteral("A connection failure occurred: SSL problem (Possible causes may "
                                                           "include a bad/expired/self-signed certificate, clock set to wrong date)")));
                return;
            }
        }
        if (configureProxies())
            startRequest();
    } catch (const KRException &e) {
        KRError underlying(errorDomain, UnhandledExceptionError, e.name());
        QVariantMap info;
        info.insert(QStringLiteral("NSLocalizedFailureReason"), e.reason());
        info.insert(QStringLiteral("NSUnderlyingError"), QVariant::fromValue(underlying.toString()));
        failWithError(KRError(errorDomain, UnhandledExceptionError, e.name(), info));
    }
}

void NetHTTPRequest::buildPostBody()
{
}

void NetHTTPRequest::setupPostBody()
{
    if (d->shouldStreamPostDataFromDisk && !d->postBodyFilePath.isEmpty()) {
        QString path = d->postBodyFilePath;
        if (d->shouldCompressRequestBody) {
            if (d->compressedPostBodyFilePath.isEmpty()) {
                d->compressedPostBodyFilePath = temporaryPath();
                KRError e;
                if (!NetDataCompressor::compressDataFromFile(d->postBodyFilePath, d->compressedPostBodyFilePath, &e)) {
                    failWithError(e);
                    return;
                }
            }
            path = d->compressedPostBodyFilePath;
        }
        QFileInfo info(path);
        if (!info.exists()) {
            failWithError(errorWithCode(FileManagementError,
                                        QStringLiteral("Failed to get attributes for file at path '%1'").arg(path)));
            return;
        }
        d->postLength = std::uint64_t(info.size());
    } else if (d->shouldCompressRequestBody && !d->postBody.isEmpty()) {
        KRError e;
        d->compressedPostBody = NetDataCompressor::compressData(d->postBody, &e);
        if (e) {
            failWithError(e);
            return;
        }
        d->postLength = std::uint64_t(d->compressedPostBody.size());
    } else {
        d->postLength = std::uint64_t(d->postBody.size());
    }
    if (d->postLength > 0 && isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

void NetHTTPRequest::buildRequestHeaders()
{
    if (d->haveBuiltRequestHeaders)
        return;
    d->haveBuiltRequestHeaders = true;
    applyCookieHeader();
    if (requestHeader(QStringLiteral("User-Agent")).isEmpty()) {
        const QString ua = d->userAgent.isEmpty() ? defaultUserAgentString() : d->userAgent;
        if (!ua.isEmpty())
            addRequestHeader(QStringLiteral("User-Agent"), ua);
    }
    if (d->allowCompressedResponse)
        addRequestHeader(QStringLiteral("Accept-Encoding"), QStringLiteral("gzip"));
    if (d->shouldCompressRequestBody)
        addRequestHeader(QStringLiteral("Content-Encoding"), QStringLiteral("gzip"));
    updatePartialDownloadSize();
    if (d->partialDownloadSize > 0)
        addRequestHeader(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(d->partialDownloadSize));
}

void NetHTTPRequest::applyCookieHeader()
{
    if (d->useCookiePersistence) {
        for (const QNetworkCookie &c : cookieStore().cookiesFor(d->url)) {
            bool present = false;
            for (const QNetworkCookie &r : d->requestCookies)
                present = present || r.hasSameIdentifier(c);
            if (!present)
                d->requestCookies.append(c);
        }
    }
    QList<QNetworkCookie> cookies = d->requestCookies;
    if (auto main = d->mainRequest.lock())
        cookies = main->requestCookies();
    if (cookies.isEmpty())
        return;
    QStringList parts;
    for (const QNetworkCookie &c : cookies)
        parts << QString::fromLatin1(c.name()) + u'=' + QString::fromLatin1(c.value());
    addRequestHeader(QStringLiteral("Cookie"), parts.join(QStringLiteral("; ")));
}

void NetHTTPRequest::addBasicAuthenticationHeader(const QString &user, const QString &password)
{
    addRequestHeader(QStringLiteral("Authorization"), QString::fromLatin1(NetAuthChallenge::basicValue(user, password)));
    d->authenticationScheme = QStringLiteral("Basic");
}

namespace {
CredentialPtr findSessionRecord(const QUrl &url, const QString &realm, const QString &user, const QString &password)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    CredentialPtr close;
    for (const CredentialPtr &r : sessionCredentials) {
        const bool exact = r->url == url;
        if (!exact) {
            if (close)
                continue;
            const bool samePort = (r->url.port() == -1 && url.port() == -1) || (url.port() != -1 && r->url.port() == url.port());
            if (r->url.host() != url.host() || !samePort || r->url.scheme() != url.scheme())
                continue;
        }
        if (!realm.isEmpty() && !r->realm.isEmpty() && realm != r->realm)
            continue;
        if (!user.isEmpty() && !password.isEmpty() && (r->user != user || r->password != password))
            continue;
        if (exact)
            return r;
        close = r;
    }
    return close;
}

CredentialPtr findSessionProxyRecord(const QString &host, int port)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    for (const CredentialPtr &r : sessionProxyCredentials) {
        if (r->proxyHost == host && r->proxyPort == port)
            return r;
    }
    return nullptr;
}

void storeRecord(std::vector<CredentialPtr> &store, const CredentialPtr &record)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    store.erase(std::remove_if(store.begin(), store.end(),
                               [&](const CredentialPtr &r) {
                                   return r->user == record->user && r->password == record->password
                                          && r->domain == record->domain && r->url == record->url
                                          && r->proxyHost == record->proxyHost && r->proxyPort == record->proxyPort;
                               }),
                store.end());
    store.push_back(record);
}

void removeRecord(std::vector<CredentialPtr> &store, const CredentialPtr &record)
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    auto it = std::find(store.begin(), store.end(), record);
    if (it != store.end())
        store.erase(it);
}
} // namespace

void NetHTTPRequest::applyAuthorizationHeader()
{
    if (!d->shouldPresentCredentialsBeforeChallenge)
        return;
    if (requestHeader(QStringLiteral("Authorization")).isEmpty()) {
        if (!d->username.isEmpty() && !d->password.isEmpty()
            && d->authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0) {
            addBasicAuthenticationHeader(d->username, d->password);
        } else if (d->useSessionPersistence) {
            if (CredentialPtr r = findSessionRecord(d->url, d->authenticationRealm, d->username, d->password)) {
                if (r->authentication) {
                    d->serverAuthentication = r->authentication;
                    d->serverAuthentication->applied = true;
                    d->setCredentials(false, r->user, r->password, r->domain);
                    d->appliedSessionRecord = r;
                    d->authenticationScheme = r->scheme;
                } else {
                    addBasicAuthenticationHeader(r->user, r->password);
                }
            }
        }
    }
    if (d->useSessionPersistence && !d->proxyHost.isEmpty()) {
        if (CredentialPtr r = findSessionProxyRecord(d->proxyHost, d->proxyPort)) {
            d->proxyAuthentication = r->authentication;
            if (d->proxyAuthentication)
                d->proxyAuthentication->applied = true;
            d->setCredentials(true, r->user, r->password, r->domain);
            d->appliedProxySessionRecord = r;
        }
    }
}

namespace {
bool isLoopbackHost(const QString &host)
{
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") || host == QLatin1String("::1")
           || host == QLatin1String("[::1]");
}
} // namespace

bool NetHTTPRequest::configureProxies()
{
    if (!d->proxyHost.isEmpty() || d->proxyPort != 0)
        return true;
    if (d->PACurl.isValid() && !d->PACurl.isEmpty()) {
        fetchPACFile(); // starts the request itself
        return false;
    }
    // Loopback traffic never goes through a system proxy (and skips a slow lookup).
    if (isLoopbackHost(d->url.host()))
        return true;
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(d->url));
    if (proxies.isEmpty())
        return true;
    const QNetworkProxy &p = proxies.first();
    if (p.type() == QNetworkProxy::HttpProxy || p.type() == QNetworkProxy::HttpCachingProxy) {
        d->proxyHost = p.hostName();
        d->proxyPort = p.port();
        d->proxyType = ProxyTypeHTTP;
        if (d->proxyUsername.isEmpty() && !p.user().isEmpty()) {
            d->proxyUsername = p.user();
            d->proxyPassword = p.password();
        }
    } else if (p.type() == QNetworkProxy::Socks5Proxy) {
        d->proxyHost = p.hostName();
        d->proxyPort = p.port();
        d->proxyType = ProxyTypeSOCKS;
    }
    return true;
}

// ---------------------------------------------------------------- the transfer


size_t NetHTTPRequest::curlHeader(char *data, size_t size, size_t n, void *user)
{
    return static_cast<NetHTTPRequest *>(user)->onHeaderLine(data, size * n);
}

size_t NetHTTPRequest::curlWrite(char *data, size_t size, size_t n, void *user)
{
    return static_cast<NetHTTPRequest *>(user)->onBodyBytes(data, size * n);
}

size_t NetHTTPRequest::curlRead(char *data, size_t size, size_t n, void *user)
{
    return static_cast<NetHTTPRequest *>(user)->onReadBody(data, size * n);
}

int NetHTTPRequest::curlSeek(void *user, std::int64_t offset, int origin)
{
    auto *self = static_cast<NetHTTPRequest *>(user);
    std::lock_guard<std::recursive_mutex> g(self->m_lock);
    if (offset != 0 || origin != SEEK_SET || !self->d->bodyStream)
        return CURL_SEEKFUNC_CANTSEEK;
    return self->d->bodyStream->rewind() ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

void NetHTTPRequest::setOperationQueue(std::weak_ptr<NetOperationQueue> queue)
{
    LOCKED;
    d->operationQueue = std::move(queue);
}

namespace {
struct CallbackScope {
    explicit CallbackScope(bool &flag) : f(flag) { f = true; }
    ~CallbackScope() { f = false; }
    bool &f;
};
} // namespace

void NetHTTPRequest::startRequest()
{
    auto self = shared_from_this();
    if (d->cancelled)
        return;
    requestStarted();

    d->downloadComplete = false;
    d->complete = false;
    d->totalBytesRead = 0;
    d->lastBytesRead = 0;
    if (d->redirectCount == 0)
        d->originalURL = d->url;
    if (d->totalBytesSent > 0)
        removeUploadProgressSoFar();
    d->lastBytesSent = 0;
    d->totalBytesSent = 0;
    d->uploadBufferSize = 0;
    d->contentLength = 0;
    d->responseHeaders.clear();
    d->rawHeaders.clear();
    d->responseStatusCode = 0;
    d->responseStatusMessage.clear();
    d->parseStatus = 0;
    d->parseHeaders.clear();
    d->headersRead = false;
    d->sawTunnelResponse = false;
    d->callbackError = KRError();
    d->needsRedirect = false;
    d->connectionCanBeReused = false;
    d->fileDownloadOutputStream.reset();
    d->inflatedFileDownloadOutputStream.reset();
    d->dataDecompressor.reset();
    if (d->downloadDestinationPath.isEmpty())
        d->rawResponseData = QByteArray("");
    d->readStreamIsScheduled = false;
    d->receivePaused = d->sendPaused = false;

    if (d->mainRequest.expired()) {
        if (d->shouldResetUploadProgress) {
            incrementUploadSizeBy(d->showAccurateProgress ? std::int64_t(d->postLength) : 1);
            setIndicatorValue(true, 0, 1);
        }
        if (d->shouldResetDownloadProgress && d->partialDownloadSize == 0)
            setIndicatorValue(false, 0, 1);
    }

    // Body stream.
    d->bodyStream.reset();
    if (d->postLength > 0) {
        if (d->shouldStreamPostDataFromDisk && !d->postBodyFilePath.isEmpty())
            d->bodyStream = NetInputStream::inputStreamWithFileAtPath(
                d->shouldCompressRequestBody ? d->compressedPostBodyFilePath : d->postBodyFilePath, self);
        else
            d->bodyStream = NetInputStream::inputStreamWithData(
                d->shouldCompressRequestBody ? d->compressedPostBody : d->postBody, self);
        if (!d->bodyStream->open()) {
            failWithError(errorWithCode(InternalErrorWhileBuildingRequestType, QStringLiteral("Unable to create read stream")));
            return;
        }
    }

    CURL *easy = curl_easy_init();
    if (!easy) {
        failWithError(errorWithCode(InternalErrorWhileBuildingRequestType, QStringLiteral("Unable to create read stream")));
        return;
    }
    d->easy = easy;
    const QByteArray urlBytes = d->url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, urlBytes.constData());
    curl_easy_setopt(easy, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(d->useHTTPVersionOne ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &NetHTTPRequest::curlHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &NetHTTPRequest::curlWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, isBandwidthThrottled() ? 16384L : 262144L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, d->validatesSecureCertificate ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, d->validatesSecureCertificate ? 2L : 0L);

    const QString method = d->requestMethod;
    if (method == QLatin1String("HEAD")) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (d->postLength > 0 || method == QLatin1String("POST") || method == QLatin1String("PUT")) {
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(d->postLength));
        if (d->postLength > 0) {
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, &NetHTTPRequest::curlRead);
            curl_easy_setopt(easy, CURLOPT_READDATA, this);
            curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, &NetHTTPRequest::curlSeek);
            curl_easy_setopt(easy, CURLOPT_SEEKDATA, this);
        } else {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
        }
        if (method != QLatin1String("POST"))
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    } else if (method != QLatin1String("GET")) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.toLatin1().constData());
    }

    // Headers exactly as the request holds them; curl adds Host and Content-Length itself.
    if (d->headerList) {
        curl_slist_free_all(d->headerList);
        d->headerList = nullptr;
    }
    bool haveContentType = false;
    QString authorization;
    if (d->serverAuthentication && d->serverAuthentication->applied && d->hasRequestCredentials
        && d->serverAuthentication->scheme() != QLatin1String("NTLM")) {
        QByteArray uri = d->url.path(QUrl::FullyEncoded).toLatin1();
        if (uri.isEmpty())
            uri = "/";
        if (d->url.hasQuery())
            uri += '?' + d->url.query(QUrl::FullyEncoded).toLatin1();
        authorization = QString::fromLatin1(d->serverAuthentication->authorizationValue(method, uri, d->credUser, d->credPassword));
    }
    for (const auto &h : d->requestHeaders) {
        if (h.first.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) == 0)
            continue;
        if (!authorization.isEmpty() && h.first.compare(QLatin1String("Authorization"), Qt::CaseInsensitive) == 0)
            continue;
        if (h.first.compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0)
            haveContentType = true;
        d->headerList = curl_slist_append(d->headerList, (h.first + QStringLiteral(": ") + h.second).toLatin1().constData());
    }
    if (!authorization.isEmpty())
        d->headerList = curl_slist_append(d->headerList, ("Authorization: " + authorization).toLatin1().constData());
    d->headerList = curl_slist_append(d->headerList, "Expect:");
    if (!haveContentType)
        d->headerList = curl_slist_append(d->headerList, "Content-Type:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, d->headerList);

    if (d->serverAuthentication && d->serverAuthentication->scheme() == QLatin1String("NTLM") && d->hasRequestCredentials) {
        const QString user = d->credDomain.isEmpty() ? d->credUser : d->credDomain + u'\\' + d->credUser;
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_NTLM);
        curl_easy_setopt(easy, CURLOPT_USERNAME, user.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, d->credPassword.toUtf8().constData());
    }

    // Proxy: only the one chosen here, never curl's own environment lookup.
    if (!d->proxyHost.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_PROXY, d->proxyHost.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PROXYPORT, long(d->proxyPort));
        curl_easy_setopt(easy, CURLOPT_PROXYTYPE, long(d->proxyType == ProxyTypeSOCKS ? CURLPROXY_SOCKS5 : CURLPROXY_HTTP));
        if (d->hasProxyCredentials) {
            long scheme = CURLAUTH_BASIC;
            if (d->proxyAuthentication && d->proxyAuthentication->scheme() == QLatin1String("Digest"))
                scheme = CURLAUTH_DIGEST;
            else if (d->proxyAuthentication && d->proxyAuthentication->scheme() == QLatin1String("NTLM"))
                scheme = CURLAUTH_NTLM;
            const QString user = d->proxyCredDomain.isEmpty() ? d->proxyCredUser : d->proxyCredDomain + u'\\' + d->proxyCredUser;
            curl_easy_setopt(easy, CURLOPT_PROXYAUTH, scheme);
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, user.toUtf8().constData());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, d->proxyCredPassword.toUtf8().constData());
        }
    } else {
        curl_easy_setopt(easy, CURLOPT_PROXY, "");
    }

    // Connection records: a reused record lets curl reuse its idle connection; a new
    // record always opens a fresh one.
    bool fresh = true;
    if (d->shouldAttemptPersistentConnection && !d->url.host().isEmpty()) {
        expirePersistentConnections();
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        const QString host = d->url.host();
        const QString scheme = d->url.scheme();
        const int port = d->url.port(scheme == QLatin1String("https") ? 443 : 80);
        auto matches = [&](const std::shared_ptr<ConnectionRecord> &r) {
            return r->host == host && r->scheme == scheme && r->port == port && !r->request;
        };
        if (d->connectionInfo && !matches(d->connectionInfo))
            d->connectionInfo.reset();
        if (d->connectionInfo && std::find(connectionPool.begin(), connectionPool.end(), d->connectionInfo) == connectionPool.end())
            d->connectionInfo.reset();
        if (!d->connectionInfo) {
            for (auto it = connectionPool.rbegin(); it != connectionPool.rend(); ++it) {
                if (matches(*it)) {
                    d->connectionInfo = *it;
                    break;
                }
            }
        }
        if (d->connectionInfo && !d->freshConnection) {
            fresh = false;
        } else {
            d->connectionInfo = std::make_shared<ConnectionRecord>();
            d->connectionInfo->id = ++nextConnectionNumber;
            d->connectionInfo->host = host;
            d->connectionInfo->port = port;
            d->connectionInfo->scheme = scheme;
            connectionPool.push_back(d->connectionInfo);
        }
        d->connectionInfo->request = this;
        d->connectionInfo->hasExpiry = false;
        if (d->requestID == 0)
            d->requestID = ++nextRequestID;
        curl_easy_setopt(easy, CURLOPT_MAXAGE_CONN, long(std::max(1.0, d->persistentConnectionTimeoutSeconds)));
    } else {
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        d->connectionInfo.reset();
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    }
    d->freshConnection = false;
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, fresh ? 1L : 0L);

    {
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        ++scheduledStreams;
    }
    d->readStreamIsScheduled = true;
    d->loop->addTransfer(easy, self);
    d->hasLastActivity = true;
    d->lastActivityTime = Clock::now();
}

void NetHTTPRequest::destroyReadStream()
{
    if (!d->easy)
        return;
    if (d->inCallback)
        return; // the callback returns an abort; the loop reports the end and we clean up then
    {
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        --scheduledStreams;
    }
    CURL *easy = d->easy;
    d->easy = nullptr;
    d->readStreamIsScheduled = false;
    if (d->loop)
        d->loop->removeTransfer(easy);
    curl_easy_cleanup(easy);
    if (d->headerList) {
        curl_slist_free_all(d->headerList);
        d->headerList = nullptr;
    }
    d->bodyStream.reset();
}

void NetHTTPRequest::transferAbandoned(CURL *easy)
{
    LOCKED;
    if (d->easy == easy) {
        curl_easy_cleanup(easy);
        d->easy = nullptr;
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        --scheduledStreams;
    }
}

std::size_t NetHTTPRequest::onReadBody(char *buffer, std::size_t size)
{
    LOCKED;
    CallbackScope scope(d->inCallback);
    if (d->complete || d->cancelled || !d->bodyStream)
        return CURL_READFUNC_ABORT;
    if (isBandwidthThrottled()) {
        std::lock_guard<std::mutex> g(bandwidthLock);
        measureBandwidthLocked();
        if (bandwidth.hasWakeUp && bandwidth.wakeUp > Clock::now()) {
            d->sendPaused = true;
            d->readStreamIsScheduled = false;
            return CURL_READFUNC_PAUSE;
        }
    }
    const qint64 n = d->bodyStream->read(buffer, qint64(size));
    if (n < 0) {
        d->callbackError = errorWithCode(ConnectionFailureErrorType, QStringLiteral("A connection failure occurred"));
        return CURL_READFUNC_ABORT;
    }
    d->hasLastActivity = true;
    d->lastActivityTime = Clock::now();
    return size_t(n);
}

std::size_t NetHTTPRequest::onHeaderLine(const char *data, std::size_t size)
{
    LOCKED;
    CallbackScope scope(d->inCallback);
    if (d->complete || d->cancelled)
        return 0;
    d->hasLastActivity = true;
    d->lastActivityTime = Clock::now();
    QByteArray line(data, qsizetype(size));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        const int space = line.indexOf(' ');
        d->parseVersion = QString::fromLatin1(line.mid(5, space - 5));
        d->parseStatus = line.mid(space + 1, 3).toInt();
        d->parseStatusLine = QString::fromLatin1(line);
        d->parseHeaders.clear();
        return size;
    }
    if (line.isEmpty()) {
        if (d->parseStatus >= 100 && d->parseStatus < 200) {
            d->parseHeaders.clear();
            return size;
        }
        // The proxy's answer to CONNECT comes before the server's response.
        if (!d->proxyHost.isEmpty() && d->url.scheme() == QLatin1String("https") && !d->sawTunnelResponse
            && d->parseStatus == 200) {
            d->sawTunnelResponse = true;
            d->parseHeaders.clear();
            return size;
        }
        d->rawHeaders = d->parseHeaders;
        readResponseHeaders();
        if (d->callbackError || d->complete)
            return 0;
        return size;
    }
    if ((line.startsWith(' ') || line.startsWith('\t')) && !d->parseHeaders.isEmpty()) {
        d->parseHeaders.last().second += u' ' + QString::fromLatin1(line.trimmed());
        return size;
    }
    const int colon = line.indexOf(':');
    if (colon > 0)
        d->parseHeaders.append({QString::fromLatin1(line.left(colon).trimmed()), QString::fromLatin1(line.mid(colon + 1).trimmed())});
    return size;
}

static QString parseCharset(const QString &contentType, QString *mimeType)
{
    const int semi = contentType.indexOf(u';');
    if (mimeType)
        *mimeType = (semi < 0 ? contentType : contentType.left(semi)).trimmed();
    const int at = contentType.indexOf(QLatin1String("charset="), 0, Qt::CaseInsensitive);
    if (at < 0)
        return {};
    QString name = contentType.mid(at + 8);
    const int end = name.indexOf(u';');
    if (end >= 0)
        name = name.left(end);
    name = name.trimmed();
    if (name.startsWith(u'"') && name.endsWith(u'"') && name.size() >= 2)
        name = name.mid(1, name.size() - 2);
    QStringDecoder decoder(name.toLatin1().constData());
    return decoder.isValid() ? name : QString();
}

void NetHTTPRequest::readResponseHeaders()
{
    d->authenticationNeeded = 0;
    d->headersRead = true;
    d->responseHeaders.clear();
    for (const auto &h : d->rawHeaders) {
        const QString key = canonicalHeaderName(h.first);
        auto it = d->responseHeaders.find(key);
        if (it == d->responseHeaders.end())
            d->responseHeaders.insert(key, h.second);
        else
            it.value() += QStringLiteral(", ") + h.second;
    }
    d->responseStatusCode = d->parseStatus;
    d->responseStatusMessage = d->parseStatusLine;
    d->responseHTTPVersion = d->parseVersion;

    if (d->downloadCache) {
        bool usable = false;
        try {
            usable = d->downloadCache->canUseCachedDataForRequest(*this);
            if (usable)
                d->downloadCache->updateExpiryForRequest(*this, d->secondsToCache);
        } catch (const KRException &e) {
            KR_LOG(QStringLiteral("Response cache failed: %1 %2").arg(e.name(), e.reason()));
            usable = false;
        }
        if (usable) {
            useDataFromCache();
            return;
        }
    }

    if (d->responseStatusCode == 401 || d->responseStatusCode == 407) {
        QStringList challenges;
        const QString name = d->responseStatusCode == 401 ? QStringLiteral("WWW-Authenticate") : QStringLiteral("Proxy-Authenticate");
        for (const auto &h : d->rawHeaders) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                challenges << h.second;
        }
        auto challenge = NetAuthChallenge::fromHeaderValues(challenges);
        if (d->responseStatusCode == 401) {
            d->authenticationNeeded = HTTPAuthenticationNeeded;
            const bool refused = d->serverAuthentication && d->serverAuthentication->applied
                                 && !(challenge && challenge->isStale());
            d->serverAuthentication = challenge;
            d->serverRefused = refused;
        } else {
            d->authenticationNeeded = ProxyAuthenticationNeeded;
            const bool refused = d->proxyAuthentication && d->proxyAuthentication->applied
                                 && !(challenge && challenge->isStale());
            d->proxyAuthentication = challenge;
            d->proxyRefused = refused;
        }
    } else {
        storePreemptiveBasicRecord();
    }

    const QString charset = parseCharset(d->responseHeaders.value(QStringLiteral("Content-Type")), nullptr);
    d->responseEncoding = charset.isEmpty() ? d->defaultResponseEncoding : charset;

    QList<QNetworkCookie> cookies;
    for (const auto &h : d->rawHeaders) {
        if (h.first.compare(QLatin1String("Set-Cookie"), Qt::CaseInsensitive) == 0) {
            for (QNetworkCookie c : QNetworkCookie::parseCookies(h.second.toLatin1())) {
                c.normalize(d->url);
                cookies << c;
            }
        }
    }
    d->responseCookies = cookies;
    if (d->useCookiePersistence && !cookies.isEmpty()) {
        cookieStore().setCookiesFrom(cookies, d->url);
        for (const QNetworkCookie &c : cookies)
            addSessionCookie(c);
    }

    if (!willRedirect()) {
        auto main = d->mainRequest.lock();
        const QString lengthText = d->responseHeaders.value(QStringLiteral("Content-Length"));
        bool ok = false;
        const std::uint64_t length = lengthText.toULongLong(&ok);
        if (ok) {
            if (main) {
                if (d->allowCompressedResponse && length == 20 && main->showAccurateProgress()) {
                    main->setShowAccurateProgress(false);
                    main->incrementDownloadSizeBy(1);
                } else {
                    // The twin learns the size for its main request, which no longer resets
                    // (and so counts) its own download size.
                    std::lock_guard<std::recursive_mutex> g(main->m_lock);
                    main->d->contentLength = length;
                    if (d->showAccurateProgress && d->shouldResetDownloadProgress)
                        main->incrementDownloadSizeBy(std::int64_t(length + main->d->partialDownloadSize));
                }
            } else {
                d->contentLength = length;
                // One allocation for a body kept in memory (bounded: the length is the server's word).
                if (d->downloadDestinationPath.isEmpty() && !isResponseCompressed() && length <= (std::uint64_t(1) << 30))
                    d->rawResponseData.reserve(qsizetype(length));
                if (d->showAccurateProgress && d->shouldResetDownloadProgress)
                    incrementDownloadSizeBy(std::int64_t(length + d->partialDownloadSize));
            }
        } else {
            NetHTTPRequest *target = main ? main.get() : this;
            std::lock_guard<std::recursive_mutex> g(target->m_lock);
            if (target->d->showAccurateProgress && target->d->shouldResetDownloadProgress) {
                target->d->showAccurateProgress = false;
                target->incrementDownloadSizeBy(1);
            }
        }
    }

    d->connectionCanBeReused = false;
    if (d->shouldAttemptPersistentConnection) {
        const QString connection = d->responseHeaders.value(QStringLiteral("Connection")).toLower();
        const bool http10 = d->responseHTTPVersion == QLatin1String("1.0");
        if (!(http10 && !connection.contains(QLatin1String("keep-alive"))) && connection != QLatin1String("close")) {
            const QString keepAlive = d->responseHeaders.value(QStringLiteral("Keep-Alive"));
            if (!keepAlive.isEmpty()) {
                int timeout = -1, max = -1;
                for (const QString &part : keepAlive.split(u',')) {
                    const QString p = part.trimmed().toLower();
                    if (p.startsWith(QLatin1String("timeout=")))
                        timeout = p.mid(8).toInt();
                    else if (p.startsWith(QLatin1String("max=")))
                        max = p.mid(4).toInt();
                }
                if (timeout >= 0 && max >= 6) {
                    d->connectionCanBeReused = true;
                    d->persistentConnectionTimeoutSeconds = timeout;
                }
            } else {
                d->connectionCanBeReused = true;
            }
        }
    }

    requestReceivedResponseHeaders(d->responseHeaders);
}

void NetHTTPRequest::storePreemptiveBasicRecord()
{
    if (d->serverAuthentication || d->authenticationScheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) != 0
        || d->username.isEmpty() || d->password.isEmpty() || !d->useSessionPersistence)
        return;
    auto r = std::make_shared<CredentialRecord>();
    r->user = d->username;
    r->password = d->password;
    r->url = d->url;
    r->scheme = QStringLiteral("Basic");
    storeRecord(sessionCredentials, r);
}

bool NetHTTPRequest::willRedirect()
{
    const int status = d->responseStatusCode;
    const QString location = d->responseHeaders.value(QStringLiteral("Location"));
    if (!d->shouldRedirect || location.isEmpty() || !(status == 301 || status == 302 || status == 303 || status == 307))
        return false;
    requestRedirected();
    if (status == 307 || ((status == 301 || status == 302) && d->shouldUseRFC2616RedirectBehaviour)) {
        d->haveBuiltRequestHeaders = false; // the cookie header is applied again
    } else {
        d->requestMethod = QStringLiteral("GET");
        d->postBody.clear();
        d->compressedPostBody.clear();
        if (d->didCreateTemporaryPostDataFile)
            QFile::remove(d->postBodyFilePath);
        d->postBodyFilePath.clear();
        d->shouldStreamPostDataFromDisk = false;
        d->postLength = 0;
        d->haveBuiltPostBody = true;
        QList<QPair<QString, QString>> kept;
        for (const auto &h : d->requestHeaders) {
            if (h.first.compare(QLatin1String("User-Agent"), Qt::CaseInsensitive) == 0
                || h.first.compare(QLatin1String("Accept"), Qt::CaseInsensitive) == 0)
                kept << h;
        }
        d->requestHeaders = kept;
        d->haveBuiltRequestHeaders = false;
    }
    d->redirectURL = d->url.resolved(QUrl(location));
    d->needsRedirect = true;
    d->requestCookies.clear();
    return true;
}

bool NetHTTPRequest::openDownloadFiles()
{
    bool append = false;
    if (d->temporaryFileDownloadPath.isEmpty()) {
        d->temporaryFileDownloadPath = temporaryPath();
    } else if (d->allowResumeForFileDownloads) {
        const bool sentRange = !requestHeader(QStringLiteral("Range")).isEmpty();
        if (sentRange && d->responseHeaders.contains(QStringLiteral("Content-Range"))) {
            append = true;
        } else if (sentRange) {
            incrementDownloadSizeBy(-std::int64_t(d->partialDownloadSize));
            d->partialDownloadSize = 0;
        }
    }
    const auto mode = append ? QIODevice::Append : (QIODevice::WriteOnly | QIODevice::Truncate);
    d->fileDownloadOutputStream = std::make_unique<QFile>(d->temporaryFileDownloadPath);
    if (!d->fileDownloadOutputStream->open(mode))
        return false;
    if (isResponseCompressed() && !d->shouldWaitToInflateCompressedResponses) {
        if (d->temporaryUncompressedDataDownloadPath.isEmpty())
            d->temporaryUncompressedDataDownloadPath = temporaryPath();
        d->inflatedFileDownloadOutputStream = std::make_unique<QFile>(d->temporaryUncompressedDataDownloadPath);
        if (!d->inflatedFileDownloadOutputStream->open(mode))
            return false;
    }
    return true;
}

std::size_t NetHTTPRequest::onBodyBytes(const char *data, std::size_t size)
{
    LOCKED;
    CallbackScope scope(d->inCallback);
    if (d->complete || d->cancelled)
        return 0;
    if (!d->headersRead) {
        readResponseHeaders();
        if (d->complete || d->callbackError)
            return 0;
    }
    if (isBandwidthThrottled()) {
        std::lock_guard<std::mutex> g(bandwidthLock);
        measureBandwidthLocked();
        if (bandwidth.hasWakeUp && bandwidth.wakeUp > Clock::now()) {
            d->receivePaused = true;
            d->readStreamIsScheduled = false;
            return CURL_WRITEFUNC_PAUSE;
        }
    }
    QByteArray inflated;
    const bool inflating = isResponseCompressed() && !d->shouldWaitToInflateCompressedResponses;
    if (inflating) {
        if (!d->dataDecompressor)
            d->dataDecompressor = NetDataDecompressor::decompressor();
        KRError e;
        inflated = d->dataDecompressor->uncompressBytes(data, qsizetype(size), &e);
        if (e) {
            d->callbackError = e;
            return 0;
        }
    }
    d->totalBytesRead += size;
    d->hasLastActivity = true;
    d->lastActivityTime = Clock::now();
    incrementBandwidthUsedInLastSecond(size);

    if (d->needsRedirect)
        return size; // the body of a redirect is not kept

    auto dl = d->delegate.lock();
    const bool toDelegate = d->dataReceivedBlock || (dl && dl->answersDidReceiveData());
    if (!toDelegate) {
        if (d->downloadDestinationPath.isEmpty()) {
            if (inflating)
                d->rawResponseData.append(inflated);
            else
                d->rawResponseData.append(data, qsizetype(size));
        } else {
            if (!d->fileDownloadOutputStream && !openDownloadFiles()) {
                d->callbackError = errorWithCode(FileManagementError,
                                                 QStringLiteral("Failed to write to file at path '%1'").arg(d->temporaryFileDownloadPath));
                return 0;
            }
            if (d->fileDownloadOutputStream->write(data, qint64(size)) != qint64(size)
                || (inflating && d->inflatedFileDownloadOutputStream->write(inflated) != inflated.size())) {
                d->callbackError = errorWithCode(FileManagementError,
                                                 QStringLiteral("Failed to write to file at path '%1'").arg(d->temporaryFileDownloadPath));
                return 0;
            }
        }
    } else {
        passOnReceivedData(inflating ? inflated : QByteArray(data, qsizetype(size)));
    }
    return size;
}

void NetHTTPRequest::transferDone(CURL *easy, int curlCode)
{
    auto self = shared_from_this();
    LOCKED;
    if (easy != d->easy) {
        if (d->loop)
            d->loop->removeTransfer(easy);
        curl_easy_cleanup(easy);
        return;
    }
    if (d->complete || d->cancelled) {
        destroyReadStream();
        return;
    }
    if (d->callbackError) {
        const KRError e = d->callbackError;
        destroyReadStream();
        failWithError(e);
        cancelLoad();
        return;
    }
    if (curlCode != CURLE_OK) {
        handleStreamError(curlCode);
        return;
    }
    handleStreamComplete();
    if (d->needsRedirect && d->shouldRedirect) {
        if (!willAskDelegateToConfirmRedirect())
            performRedirect();
    } else if (d->authenticationNeeded) {
        attemptToApplyCredentialsAndResume();
    }
}

void NetHTTPRequest::handleStreamComplete()
{
    d->readStreamIsScheduled = false;
    d->downloadComplete = true;
    if (!d->headersRead)
        readResponseHeaders();
    if (d->complete)
        return; // answered from the cache
    {
        std::lock_guard<std::recursive_mutex> g(progressLock);
        d->lastBytesSent = d->totalBytesSent;
        curl_off_t sent = 0;
        if (d->easy)
            curl_easy_getinfo(d->easy, CURLINFO_SIZE_UPLOAD_T, &sent);
        d->totalBytesSent = std::uint64_t(sent);
        d->complete = true;
        if (d->contentLength == 0)
            d->contentLength = d->totalBytesRead;
        updateProgressIndicators();
        d->dataDecompressor.reset();
    }
    if (d->didCreateTemporaryPostDataFile && !d->authenticationNeeded) {
        QFile::remove(d->postBodyFilePath);
        if (!d->compressedPostBodyFilePath.isEmpty())
            QFile::remove(d->compressedPostBodyFilePath);
        d->didCreateTemporaryPostDataFile = false;
    }

    KRError fileError;
    if (d->fileDownloadOutputStream) {
        d->fileDownloadOutputStream->close();
        d->fileDownloadOutputStream.reset();
        if (d->inflatedFileDownloadOutputStream) {
            d->inflatedFileDownloadOutputStream->close();
            d->inflatedFileDownloadOutputStream.reset();
        }
        if (!(d->needsRedirect && d->shouldRedirect && d->allowResumeForFileDownloads) && !d->authenticationNeeded) {
            const QString dest = d->downloadDestinationPath;
            if (isResponseCompressed() && d->shouldWaitToInflateCompressedResponses) {
                NetDataDecompressor::uncompressDataFromFile(d->temporaryFileDownloadPath, dest, &fileError);
                QFile::remove(d->temporaryFileDownloadPath);
                d->temporaryFileDownloadPath.clear();
            } else if (isResponseCompressed()) {
                QFile::remove(dest);
                if (!QFile::rename(d->temporaryUncompressedDataDownloadPath, dest))
                    fileError = errorWithCode(FileManagementError, QStringLiteral("Failed to move file from '%1' to '%2'")
                                                                       .arg(d->temporaryUncompressedDataDownloadPath, dest));
                d->temporaryUncompressedDataDownloadPath.clear();
                QFile::remove(d->temporaryFileDownloadPath);
                d->temporaryFileDownloadPath.clear();
            } else {
                if (!removeFileAtPath(dest, &fileError)) {
                    // reported below
                } else if (!QFile::rename(d->temporaryFileDownloadPath, dest)) {
                    fileError = errorWithCode(FileManagementError, QStringLiteral("Failed to move file from '%1' to '%2'")
                                                                       .arg(d->temporaryFileDownloadPath, dest));
                } else {
                    d->temporaryFileDownloadPath.clear();
                }
            }
        }
    } else if (!d->downloadDestinationPath.isEmpty() && !d->needsRedirect && !d->authenticationNeeded) {
        // An empty body still produces the file.
        QFile f(d->downloadDestinationPath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fileError = errorWithCode(FileManagementError,
                                      QStringLiteral("Failed to write to file at path '%1'").arg(d->downloadDestinationPath));
    }

    if (d->downloadCache && !d->didUseCachedResponse && !d->needsRedirect && !d->authenticationNeeded && !fileError) {
        try {
            d->downloadCache->storeResponseForRequest(*this, d->secondsToCache);
        } catch (const KRException &e) {
            KR_LOG(QStringLiteral("Response cache failed: %1 %2").arg(e.name(), e.reason()));
        }
    }

    {
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        if (d->connectionInfo) {
            d->connectionInfo->request = nullptr;
            d->connectionInfo->hasExpiry = true;
            d->connectionInfo->expires = Clock::now()
                                         + std::chrono::milliseconds(qint64(d->persistentConnectionTimeoutSeconds * 1000));
            if (!d->connectionCanBeReused) {
                connectionPool.erase(std::remove(connectionPool.begin(), connectionPool.end(), d->connectionInfo),
                                     connectionPool.end());
                d->connectionInfo.reset();
            }
        }
    }
    destroyReadStream();

    if (!d->needsRedirect && !d->authenticationNeeded && !d->didUseCachedResponse) {
        if (fileError) {
            failWithError(fileError);
        } else {
            requestFinished();
            markAsFinished();
        }
    }
}

void NetHTTPRequest::handleStreamError(int curlCode)
{
    long newConnections = 0;
    if (d->easy)
        curl_easy_getinfo(d->easy, CURLINFO_NUM_CONNECTS, &newConnections);
    const bool dropped = curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR || curlCode == CURLE_GOT_NOTHING;
    if (dropped && newConnections == 0 && d->retryCount == 0) {
        retryUsingNewConnection();
        return;
    }
    QString message = QStringLiteral("A connection failure occurred");
    switch (curlCode) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        message = QStringLiteral("%1: SSL problem (Possible causes may include a bad/expired/self-signed certificate, clock set to wrong date)").arg(message);
        break;
    default:
        break;
    }
    QVariantMap info;
    info.insert(QStringLiteral("NSUnderlyingError"),
                QStringLiteral("%1 (curl %2)").arg(QString::fromUtf8(curl_easy_strerror(CURLcode(curlCode)))).arg(curlCode));
    destroyReadStream();
    failWithError(KRError(errorDomain, ConnectionFailureErrorType, message, info));
    cancelLoad();
}

void NetHTTPRequest::retryUsingNewConnection()
{
    d->willRetryRequest = true;
    cancelLoad();
    d->willRetryRequest = false;
    {
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        if (d->connectionInfo) {
            connectionPool.erase(std::remove(connectionPool.begin(), connectionPool.end(), d->connectionInfo), connectionPool.end());
            d->connectionInfo.reset();
        }
    }
    d->freshConnection = true;
    ++d->retryCount;
    startRequest();
}

bool NetHTTPRequest::willAskDelegateToConfirmRedirect()
{
    auto dl = d->delegate.lock();
    auto q = d->queue;
    const bool delegateAsks = dl && dl->answersWillRedirect();
    const bool queueAsks = q && static_cast<NetHTTPRequestDelegate *>(q.get())->answersWillRedirect();
    if (!delegateAsks && !queueAsks)
        return false;
    const QUrl target = d->redirectURL;
    d->redirectURL = QUrl();
    auto self = shared_from_this();
    netPerformOnMainThread([self, target, delegateAsks, queueAsks] {
        if (delegateAsks) {
            if (auto dl = self->delegate())
                dl->requestWillRedirectToURL(self, target);
        }
        if (queueAsks) {
            if (auto q = self->queue())
                static_cast<NetHTTPRequestDelegate *>(q.get())->requestWillRedirectToURL(self, target);
        }
    });
    return true;
}

void NetHTTPRequest::redirectToURL(const QUrl &url)
{
    auto self = shared_from_this();
    performOnRequestThread([self, url] {
        std::lock_guard<std::recursive_mutex> g(self->m_lock);
        if (self->d->cancelled || self->d->error)
            return;
        self->d->redirectURL = url;
        self->performRedirect();
    });
}

void NetHTTPRequest::performRedirect()
{
    const QUrl target = d->redirectURL;
    setURL(target);
    d->complete = true;
    d->needsRedirect = false;
    ++d->redirectCount;
    if (d->redirectCount < 6) {
        main();
    } else {
        failWithError(errorWithCode(TooMuchRedirectionErrorType,
                                    QStringLiteral("The request failed because it redirected too many times")));
        d->complete = true;
    }
}

void NetHTTPRequest::useDataFromCache()
{
    auto cache = d->downloadCache;
    QVariantMap headers;
    QString path;
    try {
        headers = cache->cachedResponseHeadersForURL(d->url);
        path = cache->pathToCachedResponseDataForURL(d->url);
    } catch (const KRException &e) {
        KR_LOG(QStringLiteral("Response cache failed: %1 %2").arg(e.name(), e.reason()));
    }
    if (!headers.isEmpty() && !path.isEmpty()) {
        d->responseStatusCode = headers.value(QStringLiteral("X-NetHTTPRequest-Response-Status-Code")).toInt();
        d->didUseCachedResponse = true;
        d->responseHeaders.clear();
        d->rawHeaders.clear();
        for (auto it = headers.begin(); it != headers.end(); ++it) {
            d->responseHeaders.insert(it.key(), it.value().toString());
            d->rawHeaders.append({it.key(), it.value().toString()});
        }
        if (d->downloadDestinationPath.isEmpty())
            d->rawResponseData = cache->cachedResponseDataForURL(d->url);
        else
            d->downloadDestinationPath = path; // the cache's own file, not a copy
        d->contentLength = d->totalBytesRead = d->responseHeaders.value(QStringLiteral("Content-Length")).toULongLong();
        const QString charset = parseCharset(d->responseHeaders.value(QStringLiteral("Content-Type")), nullptr);
        d->responseEncoding = charset.isEmpty() ? d->defaultResponseEncoding : charset;
        QList<QNetworkCookie> cookies;
        for (const QString &line : d->responseHeaders.value(QStringLiteral("Set-Cookie")).split(u'\n', Qt::SkipEmptyParts))
            cookies += QNetworkCookie::parseCookies(line.toLatin1());
        d->responseCookies = cookies;
        d->headersRead = true;
        if (willRedirect()) {
            destroyReadStream();
            if (!willAskDelegateToConfirmRedirect()) {
                if (d->inCallback) {
                    // Inside a transfer callback: end this transfer first, follow afterwards.
                    d->complete = true;
                    auto self = shared_from_this();
                    d->loop->post([self] {
                        std::lock_guard<std::recursive_mutex> g(self->m_lock);
                        if (!self->d->cancelled && !self->d->error)
                            self->performRedirect();
                    });
                } else {
                    performRedirect();
                }
            }
            return;
        }
    }
    d->complete = true;
    d->downloadComplete = true;
    if (d->redirectCount == 0)
        d->originalURL = d->url;
    destroyReadStream();
    updateProgressIndicators();
    requestFinished();
    markAsFinished();
}

void NetHTTPRequest::updatePartialDownloadSize()
{
    if (d->allowResumeForFileDownloads && !d->downloadDestinationPath.isEmpty() && !d->temporaryFileDownloadPath.isEmpty()) {
        QFileInfo info(d->temporaryFileDownloadPath);
        if (info.exists())
            d->partialDownloadSize = std::uint64_t(info.size());
    }
}

bool NetHTTPRequest::removeFileAtPath(const QString &path, KRError *error)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return true;
    if (QFile::remove(path))
        return true;
    if (error)
        *error = KRError(errorDomain, FileManagementError, QStringLiteral("Failed to delete file at path '%1'").arg(path));
    return false;
}

// ---------------------------------------------------------------- status, time-out, cancel, finish

void NetHTTPRequest::statusTick()
{
    LOCKED;
    checkRequestStatus();
}

bool NetHTTPRequest::shouldTimeOut() const
{
    if (!d->easy || !d->readStreamIsScheduled || !d->hasLastActivity || d->timeOutSeconds <= 0)
        return false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - d->lastActivityTime).count();
    if (elapsed <= d->timeOutSeconds)
        return false;
    if (d->postLength == 0)
        return true;
    if (d->uploadBufferSize > 0 && d->totalBytesSent > d->uploadBufferSize)
        return true;
    return elapsed > 1.5 * d->timeOutSeconds;
}

void NetHTTPRequest::checkRequestStatus()
{
    if (d->cancelled || d->complete)
        return;
    performThrottling();
    if (shouldTimeOut()) {
        if (d->retryCount >= d->numberOfTimesToRetryOnTimeout) {
            failWithError(errorWithCode(RequestTimedOutErrorType, QStringLiteral("The request timed out")));
            cancelLoad();
            d->complete = true;
            return;
        }
        updatePartialDownloadSize();
        if (d->partialDownloadSize > 0)
            addRequestHeader(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(d->partialDownloadSize));
        ++d->retryCount;
        destroyReadStream();
        startRequest();
        return;
    }
    if (d->easy) {
        if (d->postLength > 0) {
            d->lastBytesSent = d->totalBytesSent;
            curl_off_t sent = 0;
            curl_easy_getinfo(d->easy, CURLINFO_SIZE_UPLOAD_T, &sent);
            if (std::uint64_t(sent) > d->totalBytesSent) {
                const std::uint64_t growth = std::uint64_t(sent) - d->totalBytesSent;
                d->totalBytesSent = std::uint64_t(sent);
                d->hasLastActivity = true;
                d->lastActivityTime = Clock::now();
                incrementBandwidthUsedInLastSecond(growth);
            }
        }
        updateProgressIndicators();
    }
}

void NetHTTPRequest::cancel()
{
    auto self = shared_from_this();
    std::shared_ptr<NetTransportLoop> loop;
    {
        LOCKED;
        loop = d->loop;
    }
    if (loop && !loop->isLoopThread())
        loop->post([self] { self->cancelOnLoopThread(); });
    else
        cancelOnLoopThread();
}

void NetHTTPRequest::cancelOnLoopThread()
{
    auto self = shared_from_this();
    LOCKED;
    if (d->cancelled || d->complete)
        return;
    failWithError(errorWithCode(RequestCancelledErrorType, QStringLiteral("The request was cancelled")));
    d->complete = true;
    cancelLoad();
    d->cancelled = true;
}

void NetHTTPRequest::clearDelegatesAndCancel()
{
    {
        LOCKED;
        d->delegate.reset();
        d->queue.reset();
        d->uploadProgressDelegate.reset();
        d->downloadProgressDelegate.reset();
        releaseBlocksOnMainThread();
    }
    cancel();
}

void NetHTTPRequest::cancelLoad()
{
    destroyReadStream();
    d->bodyStream.reset();
    if (d->fileDownloadOutputStream || !d->temporaryFileDownloadPath.isEmpty()) {
        d->fileDownloadOutputStream.reset();
        d->inflatedFileDownloadOutputStream.reset();
        if (!d->downloadComplete) {
            if (!d->allowResumeForFileDownloads && !d->temporaryFileDownloadPath.isEmpty()) {
                QFile::remove(d->temporaryFileDownloadPath);
                d->temporaryFileDownloadPath.clear();
            }
            if (!d->temporaryUncompressedDataDownloadPath.isEmpty()) {
                QFile::remove(d->temporaryUncompressedDataDownloadPath);
                d->temporaryUncompressedDataDownloadPath.clear();
            }
        }
    } else if (!d->complete) {
        d->rawResponseData.clear();
    }
    if (!d->authenticationNeeded && !d->willRetryRequest && d->didCreateTemporaryPostDataFile) {
        QFile::remove(d->postBodyFilePath);
        if (!d->compressedPostBodyFilePath.isEmpty())
            QFile::remove(d->compressedPostBodyFilePath);
        d->didCreateTemporaryPostDataFile = false;
    }
}

void NetHTTPRequest::failWithError(const KRError &error)
{
    auto self = shared_from_this();
    LOCKED;
    d->complete = true;
    if (error.code() != AuthenticationErrorType && error.code() != TooMuchRedirectionErrorType) {
        {
            std::lock_guard<std::recursive_mutex> g(connectionsLock);
            if (d->connectionInfo) {
                connectionPool.erase(std::remove(connectionPool.begin(), connectionPool.end(), d->connectionInfo),
                                     connectionPool.end());
                d->connectionInfo.reset();
            }
        }
        destroyReadStream();
    }
    if (d->connectionCanBeReused && d->connectionInfo) {
        std::lock_guard<std::recursive_mutex> g(connectionsLock);
        d->connectionInfo->request = nullptr;
        d->connectionInfo->hasExpiry = true;
        d->connectionInfo->expires = Clock::now() + std::chrono::milliseconds(qint64(d->persistentConnectionTimeoutSeconds * 1000));
    }
    if (d->cancelled || d->error)
        return;
    if (d->downloadCache && (d->cachePolicy & NetCachePolicy::FallbackToCacheIfLoadFails)
        && error.code() != RequestCancelledErrorType) {
        bool usable = false;
        try {
            usable = d->downloadCache->canUseCachedDataForRequest(*this);
        } catch (const KRException &) {
        }
        if (usable) {
            useDataFromCache();
            return;
        }
    }
    d->error = error;
    auto main = d->mainRequest.lock();
    if (main) {
        {
            std::lock_guard<std::recursive_mutex> g(main->m_lock);
            main->d->error = error;
        }
        main->reportFailure();
    } else {
        reportFailure();
    }
    if (d->inProgress)
        markAsFinished();
}

void NetHTTPRequest::markAsFinished()
{
    auto self = shared_from_this();
    std::shared_ptr<NetOperationQueue> q;
    {
        LOCKED;
        if (d->finished && !d->inProgress)
            return;
        d->inProgress = false;
        d->finished = true;
        if (d->loop && !d->isSynchronous)
            d->loop->detach(this);
        q = d->operationQueue.lock();
        d->operationQueue.reset();
    }
    if (q)
        q->requestFinished(this);
}

void NetHTTPRequest::expirePersistentConnections()
{
    std::lock_guard<std::recursive_mutex> g(connectionsLock);
    const auto now = Clock::now();
    connectionPool.erase(std::remove_if(connectionPool.begin(), connectionPool.end(),
                                        [&](const std::shared_ptr<ConnectionRecord> &r) {
                                            return !r->request && (!r->hasExpiry || r->expires <= now);
                                        }),
                         connectionPool.end());
}

bool NetHTTPRequest::isNetworkInUse()
{
    std::lock_guard<std::recursive_mutex> g(connectionsLock);
    return scheduledStreams > 0;
}

// ---------------------------------------------------------------- authentication

bool NetHTTPRequest::findCredentials(QString *user, QString *password, QString *domain)
{
    QString u = QUrl::fromPercentEncoding(d->url.userName(QUrl::FullyEncoded).toLatin1());
    QString p = d->url.password();
    auto main = d->mainRequest.lock();
    if ((u.isEmpty() || p.isEmpty()) && main && !main->username().isEmpty() && !main->password().isEmpty()) {
        u = main->username();
        p = main->password();
    }
    if (u.isEmpty() || p.isEmpty()) {
        u = d->username;
        p = d->password;
    }
    if ((u.isEmpty() || p.isEmpty()) && d->useKeychainPersistence) {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        const QString key = protectionSpaceKey(d->url.host(), d->url.port(), d->url.scheme(), d->authenticationRealm);
        if (savedCredentials.contains(key)) {
            u = savedCredentials.value(key).first;
            p = savedCredentials.value(key).second;
        }
    }
    QString dom;
    if (d->serverAuthentication && d->serverAuthentication->requiresAccountDomain()) {
        QString splitDomain, splitUser;
        if (!d->domain.isEmpty())
            dom = d->domain;
        else if (NetAuthChallenge::splitDomainUser(u, &splitDomain, &splitUser)) {
            dom = splitDomain;
            u = splitUser;
        }
    }
    if (u.isEmpty() || p.isEmpty())
        return false;
    *user = u;
    *password = p;
    *domain = dom;
    return true;
}

bool NetHTTPRequest::findProxyCredentials(QString *user, QString *password, QString *domain)
{
    QString u, p;
    auto main = d->mainRequest.lock();
    if (main && !main->proxyUsername().isEmpty() && !main->proxyPassword().isEmpty()) {
        u = main->proxyUsername();
        p = main->proxyPassword();
    } else {
        u = d->proxyUsername;
        p = d->proxyPassword;
    }
    if ((u.isEmpty() || p.isEmpty()) && d->proxyAuthentication && d->proxyAuthentication->scheme() == QLatin1String("NTLM")) {
        u = d->username;
        p = d->password;
    }
    if (u.isEmpty() || p.isEmpty()) {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        const QString key = protectionSpaceKey(d->proxyHost, d->proxyPort, QStringLiteral("proxy"), d->proxyAuthenticationRealm);
        if (savedCredentials.contains(key)) {
            u = savedCredentials.value(key).first;
            p = savedCredentials.value(key).second;
        }
    }
    QString dom = d->proxyDomain;
    if (dom.isEmpty()) {
        QString splitDomain, splitUser;
        if (NetAuthChallenge::splitDomainUser(u, &splitDomain, &splitUser)) {
            dom = splitDomain;
            u = splitUser;
        } else {
            dom = d->domain;
        }
    }
    if (u.isEmpty() || p.isEmpty())
        return false;
    *user = u;
    *password = p;
    *domain = dom;
    return true;
}

bool NetHTTPRequest::applyCredentialsFor(bool proxy, const QString &user, const QString &password, const QString &domain)
{
    ++(proxy ? d->proxyAuthenticationRetryCount : d->authenticationRetryCount);
    const std::shared_ptr<NetAuthChallenge> &authentication = proxy ? d->proxyAuthentication : d->serverAuthentication;
    if ((user.isEmpty() && password.isEmpty()) || !authentication || !authentication->isUsable())
        return false;
    authentication->applied = true;
    d->setCredentials(proxy, user, password, domain);
    if (d->useKeychainPersistence) {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        const QString key = proxy ? protectionSpaceKey(d->proxyHost, d->proxyPort, QStringLiteral("proxy"), d->proxyAuthenticationRealm)
                                  : protectionSpaceKey(d->url.host(), d->url.port(), d->url.scheme(), d->authenticationRealm);
        savedCredentials.insert(key, {user, password});
    }
    if (d->useSessionPersistence) {
        auto r = std::make_shared<CredentialRecord>();
        r->authentication = authentication;
        r->user = user;
        r->password = password;
        r->domain = domain;
        r->scheme = authentication->scheme();
        if (proxy) {
            r->proxyHost = d->proxyHost;
            r->proxyPort = d->proxyPort;
        } else {
            r->url = d->url;
            r->realm = d->authenticationRealm;
        }
        storeRecord(proxy ? sessionProxyCredentials : sessionCredentials, r);
        (proxy ? d->appliedProxySessionRecord : d->appliedSessionRecord) = r;
    }
    return true;
}

bool NetHTTPRequest::applySessionCredentials()
{
    CredentialPtr r = findSessionRecord(d->url, d->authenticationRealm, d->username, d->password);
    if (!r || !d->serverAuthentication || !d->serverAuthentication->isUsable())
        return false;
    if (d->appliedSessionRecord == r)
        return false; // these were just refused
    d->serverAuthentication->applied = true;
    d->setCredentials(false, r->user, r->password, r->domain);
    d->appliedSessionRecord = r;
    return true;
}

// Hands the challenge to the delegate (or the queue standing in for it), else to the block;
// false when nobody will answer, so the caller fails at once.
bool NetHTTPRequest::willAskDelegateForAuthentication(bool proxy)
{
    if (d->isSynchronous)
        return false;
    auto dl = d->delegate.lock();
    std::shared_ptr<NetHTTPRequestDelegate> target = dl;
    if (!target && d->queue)
        target = std::static_pointer_cast<NetHTTPRequestDelegate>(d->queue);
    const bool answers = target && (proxy ? target->answersProxyAuthenticationNeeded() : target->answersAuthenticationNeeded());
    if (!answers && !(proxy ? d->proxyAuthenticationNeededBlock : d->authenticationNeededBlock))
        return false;
    auto self = shared_from_this();
    std::weak_ptr<NetHTTPRequestDelegate> weakTarget = target;
    netPerformOnMainThread([self, weakTarget, answers, proxy] {
        if (answers) {
            if (auto t = weakTarget.lock()) {
                if (proxy)
                    t->proxyAuthenticationNeededForRequest(self);
                else
                    t->authenticationNeededForRequest(self);
            }
            return;
        }
        Block b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            b = proxy ? self->d->proxyAuthenticationNeededBlock : self->d->authenticationNeededBlock;
        }
        if (b)
            b();
    });
    return true;
}

void NetHTTPRequest::attemptToApplyCredentialsAndResume()
{
    if (d->error || d->cancelled)
        return;
    if (d->authenticationNeeded == ProxyAuthenticationNeeded) {
        attemptToApplyProxyCredentialsAndResume();
        return;
    }
    bool refused = false;
    if (!takeChallenge(false, &refused))
        return;
    if (!refused) {
        cancelLoad();
        if (d->hasRequestCredentials) {
            const bool ntlm = d->authenticationScheme == QLatin1String("NTLM");
            if (!(ntlm && d->authenticationRetryCount > 1) && applyCredentialsFor(false, d->credUser, d->credPassword, d->credDomain)) {
                startRequest();
                return;
            }
            if (ntlm && d->authenticationRetryCount >= 2)
                failAuthenticationNeeded();
            else
                failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType, QStringLiteral("Failed to apply credentials to request")));
            return;
        }
        std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
        if (d->error || d->cancelled)
            return;
        if (d->useSessionPersistence && applySessionCredentials()) {
            startRequest();
            return;
        }
        applyFoundCredentialsOrAsk(false);
        return;
    }
    // The server refused the credentials we applied.
    std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
    if (d->appliedSessionRecord)
        removeRecord(sessionCredentials, d->appliedSessionRecord);
    d->hasRequestCredentials = false;
    if (d->error || d->cancelled)
        return;
    if (d->useSessionPersistence && applySessionCredentials()) {
        cancelLoad();
        startRequest();
        return;
    }
    askDelegateAfterRefusal(false);
}

void NetHTTPRequest::attemptToApplyProxyCredentialsAndResume()
{
    if (d->error || d->cancelled)
        return;
    bool refused = false;
    if (!takeChallenge(true, &refused))
        return;
    if (!refused) {
        cancelLoad();
        if (d->hasProxyCredentials) {
            if (applyCredentialsFor(true, d->proxyCredUser, d->proxyCredPassword, d->proxyCredDomain)) {
                startRequest();
                return;
            }
            failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType, QStringLiteral("Failed to apply proxy credentials to request")));
            return;
        }
        std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
        if (d->error || d->cancelled)
            return;
        applyFoundCredentialsOrAsk(true);
        return;
    }
    // Refused proxy credentials: forget them and wait for the delegate, as for servers.
    std::lock_guard<std::recursive_mutex> g(delegateAuthenticationLock);
    if (d->appliedProxySessionRecord)
        removeRecord(sessionProxyCredentials, d->appliedProxySessionRecord);
    d->hasProxyCredentials = false;
    d->proxyUsername.clear();
    d->proxyPassword.clear();
    if (d->error || d->cancelled)
        return;
    askDelegateAfterRefusal(true);
}

// Reads the scheme and realm of the server's or (proxy) the proxy's challenge and whether it
// refused credentials we had applied. False, with the request failed, when there is no
// challenge or none we can answer (instead of waiting for ever).
bool NetHTTPRequest::takeChallenge(bool proxy, bool *refused)
{
    const std::shared_ptr<NetAuthChallenge> &authentication = proxy ? d->proxyAuthentication : d->serverAuthentication;
    if (!authentication) {
        cancelLoad();
        failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType,
                                    QStringLiteral("Failed to get authentication object from response headers")));
        return false;
    }
    (proxy ? d->proxyAuthenticationScheme : d->authenticationScheme) = authentication->scheme();
    QString &realm = proxy ? d->proxyAuthenticationRealm : d->authenticationRealm;
    realm.clear();
    if (!authentication->requiresAccountDomain())
        realm = authentication->realm();
    bool &refusedFlag = proxy ? d->proxyRefused : d->serverRefused;
    *refused = refusedFlag;
    refusedFlag = false;
    if (!authentication->isUsable()) {
        failAuthenticationNeeded();
        return false;
    }
    return true;
}

// Applies the credentials found in the request, its main request or the saved ones and
// restarts; with none, hands the question to the delegate or fails.
void NetHTTPRequest::applyFoundCredentialsOrAsk(bool proxy)
{
    QString u, p, dom;
    if (!(proxy ? findProxyCredentials(&u, &p, &dom) : findCredentials(&u, &p, &dom))) {
        if (!willAskDelegateForAuthentication(proxy))
            failAuthenticationNeeded();
        return;
    }
    if (applyCredentialsFor(proxy, u, p, dom))
        startRequest();
    else
        failWithError(errorWithCode(InternalErrorWhileApplyingCredentialsType,
                                    proxy ? QStringLiteral("Failed to apply proxy credentials to request")
                                          : QStringLiteral("Failed to apply credentials to request")));
}

void NetHTTPRequest::askDelegateAfterRefusal(bool proxy)
{
    d->hasLastActivity = false;
    if (willAskDelegateForAuthentication(proxy)) {
        cancelLoad();
        return;
    }
    failAuthenticationNeeded();
}

void NetHTTPRequest::failAuthenticationNeeded()
{
    cancelLoad();
    failWithError(errorWithCode(AuthenticationErrorType, QStringLiteral("Authentication needed")));
}

void NetHTTPRequest::retryUsingSuppliedCredentials()
{
    auto self = shared_from_this();
    performOnRequestThread([self] {
        std::lock_guard<std::recursive_mutex> g(self->m_lock);
        if (self->d->error || self->d->cancelled)
            return;
        if (self->d->messageBuilt)
            self->attemptToApplyCredentialsAndResume();
        else
            self->main();
    });
}

void NetHTTPRequest::cancelAuthentication()
{
    auto self = shared_from_this();
    performOnRequestThread([self] {
        std::lock_guard<std::recursive_mutex> g(self->m_lock);
        self->failAuthenticationNeeded();
    });
}

void NetHTTPRequest::removeAllSessionCredentials()
{
    std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
    sessionCredentials.clear();
    sessionProxyCredentials.clear();
    savedCredentials.clear();
}

// ---------------------------------------------------------------- cookies and session

QList<QNetworkCookie> NetHTTPRequest::sessionCookies()
{
    std::lock_guard<std::mutex> g(sessionCookiesLock);
    return sessionCookieList;
}

void NetHTTPRequest::setSessionCookies(const QList<QNetworkCookie> &cookies)
{
    std::lock_guard<std::mutex> g(sessionCookiesLock);
    for (const QNetworkCookie &c : sessionCookieList)
        cookieStore().remove(c);
    sessionCookieList = cookies;
}

void NetHTTPRequest::addSessionCookie(const QNetworkCookie &cookie)
{
    std::lock_guard<std::mutex> g(sessionCookiesLock);
    for (int i = 0; i < sessionCookieList.size(); ++i) {
        if (sessionCookieList[i].hasSameIdentifier(cookie)) {
            sessionCookieList.removeAt(i);
            break;
        }
    }
    sessionCookieList.append(cookie);
}

void NetHTTPRequest::clearSession()
{
    {
        std::lock_guard<std::recursive_mutex> g(sessionCredentialsLock);
        sessionCredentials.clear();
    }
    setSessionCookies({});
    if (auto cache = defaultCache()) {
        try {
            cache->clearCachedResponsesForStoragePolicy(NetCacheStoragePolicy::ForSessionDuration);
        } catch (const KRException &e) {
            KR_LOG(QStringLiteral("Clearing the session cache failed: %1 %2").arg(e.name(), e.reason()));
        }
    }
}

// ---------------------------------------------------------------- progress and throttle

void NetHTTPRequest::setIndicatorValue(bool upload, double progress, double total)
{
    const double value = total > 0 ? progress / total : 0.0;
    auto self = shared_from_this();
    netPerformOnMainThread([self, upload, value] {
        std::shared_ptr<NetProgressDelegate> target;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            target = (upload ? self->d->uploadProgressDelegate : self->d->downloadProgressDelegate).lock();
        }
        if (target) {
            std::lock_guard<std::recursive_mutex> g(progressLock);
            target->setDoubleValue(value);
        }
    });
}

void NetHTTPRequest::incrementUploadSizeBy(std::int64_t amount)
{
    postSizeIncrement(true, amount);
}

void NetHTTPRequest::incrementDownloadSizeBy(std::int64_t amount)
{
    postSizeIncrement(false, amount);
}

// Tells the queue, the progress delegate and the block of one direction, in that order, on the
// main thread.
void NetHTTPRequest::postSizeIncrement(bool upload, std::int64_t amount)
{
    auto self = shared_from_this();
    netPerformOnMainThread([self, upload, amount] {
        std::shared_ptr<NetProgressDelegate> pd;
        std::shared_ptr<NetRequestQueue> q;
        SizeBlock b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            pd = (upload ? self->d->uploadProgressDelegate : self->d->downloadProgressDelegate).lock();
            q = self->d->queue;
            b = upload ? self->d->uploadSizeIncrementedBlock : self->d->downloadSizeIncrementedBlock;
        }
        auto *queueProgress = static_cast<NetProgressDelegate *>(q.get());
        if (upload) {
            if (q)
                queueProgress->requestIncrementUploadSizeBy(self, amount);
            if (pd)
                pd->requestIncrementUploadSizeBy(self, amount);
        } else {
            if (q)
                queueProgress->requestIncrementDownloadSizeBy(self, amount);
            if (pd)
                pd->requestIncrementDownloadSizeBy(self, amount);
        }
        if (b)
            b(amount);
    });
}

void NetHTTPRequest::postBytesTransferred(bool upload, std::int64_t step, std::uint64_t total, bool resetIndicator)
{
    auto self = shared_from_this();
    netPerformOnMainThread([self, upload, step, total, resetIndicator] {
        std::shared_ptr<NetProgressDelegate> pd;
        std::shared_ptr<NetRequestQueue> q;
        ProgressBlock b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            pd = (upload ? self->d->uploadProgressDelegate : self->d->downloadProgressDelegate).lock();
            q = self->d->queue;
            b = upload ? self->d->bytesSentBlock : self->d->bytesReceivedBlock;
        }
        auto *queueProgress = static_cast<NetProgressDelegate *>(q.get());
        if (upload) {
            if (q)
                queueProgress->requestDidSendBytes(self, step);
            if (pd)
                pd->requestDidSendBytes(self, step);
        } else {
            if (q)
                queueProgress->requestDidReceiveBytes(self, step);
            if (pd)
                pd->requestDidReceiveBytes(self, step);
        }
        if (pd && resetIndicator)
            pd->setDoubleValue(0);
        if (b)
            b(std::uint64_t(step), total);
    });
}

void NetHTTPRequest::removeUploadProgressSoFar()
{
    postBytesTransferred(true, -std::int64_t(d->totalBytesSent), d->postLength, true);
}

void NetHTTPRequest::updateProgressIndicators()
{
    if (!d->mainRequest.expired())
        return;
    if (d->showAccurateProgress || (d->complete && !d->updatedProgress)) {
        updateUploadProgress();
        updateDownloadProgress();
    }
}

void NetHTTPRequest::updateUploadProgress()
{
    if (d->cancelled || d->totalBytesSent == 0 || d->postLength == 0)
        return;
    if (d->uploadBufferSize == 0 && d->totalBytesSent != d->postLength) {
        d->uploadBufferSize = d->totalBytesSent;
        incrementUploadSizeBy(-std::int64_t(d->uploadBufferSize));
    }
    std::int64_t step = std::int64_t(d->totalBytesSent) - std::int64_t(d->lastBytesSent);
    if (d->showAccurateProgress) {
        if (!(d->totalBytesSent == d->postLength || d->lastBytesSent > 0))
            step = 0;
    } else {
        if (d->updatedProgress)
            return;
        step = 1;
        d->updatedProgress = true;
    }
    if (step == 0)
        return;
    const std::uint64_t buffer = d->uploadBufferSize;
    const double progress = double(d->totalBytesSent - std::min(buffer, d->totalBytesSent));
    const double total = double(d->postLength - std::min(buffer, d->postLength));
    postBytesTransferred(true, step, d->postLength);
    setIndicatorValue(true, progress, total);
}

void NetHTTPRequest::updateDownloadProgress()
{
    if (!d->headersRead || d->needsRedirect || (d->contentLength == 0 && !d->complete))
        return;
    const std::uint64_t soFar = d->totalBytesRead + d->partialDownloadSize;
    const std::uint64_t total = d->contentLength + d->partialDownloadSize;
    std::int64_t step = 0;
    if (d->showAccurateProgress && d->contentLength > 0) {
        step = std::int64_t(soFar) - std::int64_t(d->lastBytesRead);
        if (step == 0)
            return;
    } else {
        if (d->updatedProgress)
            return;
        step = 1;
        d->updatedProgress = true;
    }
    postBytesTransferred(false, step, total);
    setIndicatorValue(false, double(soFar), double(total));
    d->lastBytesRead = soFar;
}

void NetHTTPRequest::performThrottling()
{
    if (!d->easy)
        return;
    bool holdBack = false;
    const bool throttled = isBandwidthThrottled();
    {
        std::lock_guard<std::mutex> g(bandwidthLock);
        measureBandwidthLocked();
        holdBack = throttled && bandwidth.hasWakeUp && bandwidth.wakeUp > Clock::now();
    }
    if (holdBack) {
        if (d->readStreamIsScheduled) {
            d->readStreamIsScheduled = false;
            d->receivePaused = d->sendPaused = true;
            curl_easy_pause(d->easy, CURLPAUSE_ALL);
        }
    } else if (d->receivePaused || d->sendPaused || !d->readStreamIsScheduled) {
        d->receivePaused = d->sendPaused = false;
        d->readStreamIsScheduled = true;
        d->hasLastActivity = true;
        d->lastActivityTime = Clock::now(); // time held back does not count towards the time-out
        curl_easy_pause(d->easy, CURLPAUSE_CONT);
    }
}

void NetHTTPRequest::setMaxBandwidthPerSecond(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    bandwidth.maxPerSecond = bytes;
    if (bytes == 0)
        bandwidth.hasWakeUp = false;
}

std::uint64_t NetHTTPRequest::maxBandwidthPerSecond()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    return bandwidth.maxPerSecond;
}

bool NetHTTPRequest::isBandwidthThrottled()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    return bandwidth.maxPerSecond != 0;
}

void NetHTTPRequest::incrementBandwidthUsedInLastSecond(std::uint64_t bytes)
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    bandwidth.usedInPeriod += bytes;
}

std::uint64_t NetHTTPRequest::averageBandwidthUsedPerSecond()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    return bandwidth.average;
}

void NetHTTPRequest::measureBandwidthUsage()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    measureBandwidthLocked();
}

std::uint64_t NetHTTPRequest::maxUploadReadLength()
{
    std::lock_guard<std::mutex> g(bandwidthLock);
    std::int64_t allowance = std::int64_t(bandwidth.maxPerSecond / 4);
    const std::int64_t left = std::int64_t(bandwidth.maxPerSecond) - std::int64_t(bandwidth.usedInPeriod);
    allowance = std::max<std::int64_t>(0, std::min(allowance, left));
    if (allowance == 0 || !bandwidth.hasMeasurementDate || bandwidth.measurementDate <= Clock::now()) {
        bandwidth.wakeUp = bandwidth.measurementDate;
        bandwidth.hasWakeUp = bandwidth.hasMeasurementDate;
    }
    return std::uint64_t(allowance);
}

// ---------------------------------------------------------------- delivery

void NetHTTPRequest::requestStarted()
{
    if (d->error || !d->mainRequest.expired())
        return;
    deliverOnMainThread(&NetHTTPRequestDelegate::requestStarted, &Private::startedBlock);
}

// The delegate hears first, then the block, then the queue.
void NetHTTPRequest::deliverOnMainThread(void (NetHTTPRequestDelegate::*event)(const NetHTTPRequestPtr &),
                                         Block Private::*block)
{
    auto self = shared_from_this();
    netPerformOnMainThread([self, event, block] {
        if (auto dl = self->delegate())
            ((*dl).*event)(self);
        Block b;
        std::shared_ptr<NetRequestQueue> q;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            b = (*self->d).*block;
            q = self->d->queue;
        }
        if (b)
            b();
        if (q)
            (static_cast<NetHTTPRequestDelegate &>(*q).*event)(self);
    });
}

void NetHTTPRequest::requestReceivedResponseHeaders(const QMap<QString, QString> &headers)
{
    if (d->error || !d->mainRequest.expired())
        return;
    auto self = shared_from_this();
    netPerformOnMainThread([self, headers] {
        if (auto dl = self->delegate())
            dl->requestDidReceiveResponseHeaders(self, headers);
        HeadersBlock b;
        std::shared_ptr<NetRequestQueue> q;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            b = self->d->headersReceivedBlock;
            q = self->d->queue;
        }
        if (b)
            b(headers);
        if (q)
            static_cast<NetHTTPRequestDelegate *>(q.get())->requestDidReceiveResponseHeaders(self, headers);
    });
}

void NetHTTPRequest::requestFinished()
{
    if (d->error || !d->mainRequest.expired())
        return;
    reportFinished();
}

void NetHTTPRequest::reportFinished()
{
    deliverOnMainThread(&NetHTTPRequestDelegate::requestFinished, &Private::completionBlock);
}

void NetHTTPRequest::reportFailure()
{
    deliverOnMainThread(&NetHTTPRequestDelegate::requestFailed, &Private::failureBlock);
}

void NetHTTPRequest::requestRedirected()
{
    if (d->error || !d->mainRequest.expired())
        return;
    auto self = shared_from_this();
    netPerformOnMainThread([self] {
        if (auto dl = self->delegate())
            dl->requestRedirected(self);
        Block b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            b = self->d->requestRedirectedBlock;
        }
        if (b)
            b();
    });
}

void NetHTTPRequest::passOnReceivedData(const QByteArray &data)
{
    auto self = shared_from_this();
    netPerformOnMainThread([self, data] {
        auto dl = self->delegate();
        if (dl && dl->answersDidReceiveData())
            dl->requestDidReceiveData(self, data);
        DataBlock b;
        {
            std::lock_guard<std::recursive_mutex> g(self->m_lock);
            b = self->d->dataReceivedBlock;
        }
        if (b)
            b(data);
    });
}

void NetHTTPRequest::releaseBlocksOnMainThread()
{
    struct Blocks {
        Block a, b, c, e, f, g;
        HeadersBlock h;
        ProgressBlock i, j;
        SizeBlock k, l;
        DataBlock m;
    };
    auto blocks = std::make_shared<Blocks>();
    blocks->a = std::move(d->startedBlock);
    blocks->b = std::move(d->completionBlock);
    blocks->c = std::move(d->failureBlock);
    blocks->e = std::move(d->authenticationNeededBlock);
    blocks->f = std::move(d->proxyAuthenticationNeededBlock);
    blocks->g = std::move(d->requestRedirectedBlock);
    blocks->h = std::move(d->headersReceivedBlock);
    blocks->i = std::move(d->bytesReceivedBlock);
    blocks->j = std::move(d->bytesSentBlock);
    blocks->k = std::move(d->downloadSizeIncrementedBlock);
    blocks->l = std::move(d->uploadSizeIncrementedBlock);
    blocks->m = std::move(d->dataReceivedBlock);
    d->startedBlock = d->completionBlock = d->failureBlock = nullptr;
    d->authenticationNeededBlock = d->proxyAuthenticationNeededBlock = d->requestRedirectedBlock = nullptr;
    d->headersReceivedBlock = nullptr;
    d->bytesReceivedBlock = d->bytesSentBlock = nullptr;
    d->downloadSizeIncrementedBlock = d->uploadSizeIncrementedBlock = nullptr;
    d->dataReceivedBlock = nullptr;
    netPerformOnMainThread([blocks]() mutable { blocks.reset(); });
}

// ---------------------------------------------------------------- copies and helpers

namespace {

// What a copy and a HEAD request both carry over: headers, cookies, credentials, proxy and
// connection settings.
template <typename P>
void copyConnectionSettings(P &o, const P &d)
{
    o.requestHeaders = d.requestHeaders;
    o.requestCookies = d.requestCookies;
    o.useCookiePersistence = d.useCookiePersistence;
    o.useKeychainPersistence = d.useKeychainPersistence;
    o.useSessionPersistence = d.useSessionPersistence;
    o.allowCompressedResponse = d.allowCompressedResponse;
    o.username = d.username;
    o.password = d.password;
    o.domain = d.domain;
    o.proxyUsername = d.proxyUsername;
    o.proxyPassword = d.proxyPassword;
    o.proxyDomain = d.proxyDomain;
    o.proxyHost = d.proxyHost;
    o.proxyPort = d.proxyPort;
    o.proxyType = d.proxyType;
    o.shouldPresentAuthenticationDialog = d.shouldPresentAuthenticationDialog;
    o.shouldPresentProxyAuthenticationDialog = d.shouldPresentProxyAuthenticationDialog;
    o.timeOutSeconds = d.timeOutSeconds;
    o.useHTTPVersionOne = d.useHTTPVersionOne;
    o.validatesSecureCertificate = d.validatesSecureCertificate;
    o.sslPeerName = d.sslPeerName;
    o.PACurl = d.PACurl;
    o.shouldPresentCredentialsBeforeChallenge = d.shouldPresentCredentialsBeforeChallenge;
    o.numberOfTimesToRetryOnTimeout = d.numberOfTimesToRetryOnTimeout;
    o.shouldUseRFC2616RedirectBehaviour = d.shouldUseRFC2616RedirectBehaviour;
    o.shouldAttemptPersistentConnection = d.shouldAttemptPersistentConnection;
    o.persistentConnectionTimeoutSeconds = d.persistentConnectionTimeoutSeconds;
}

} // namespace

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::copy() const
{
    LOCKED;
    auto r = requestWithURL(d->url);
    Private &o = *r->d;
    copyConnectionSettings(o, *d);
    o.delegate = d->delegate;
    o.requestMethod = d->requestMethod;
    o.postBody = d->postBody;
    o.shouldStreamPostDataFromDisk = d->shouldStreamPostDataFromDisk;
    o.postBodyFilePath = d->postBodyFilePath;
    o.downloadDestinationPath = d->downloadDestinationPath;
    o.temporaryFileDownloadPath = d->temporaryFileDownloadPath;
    o.uploadProgressDelegate = d->uploadProgressDelegate;
    o.downloadProgressDelegate = d->downloadProgressDelegate;
    o.postLength = d->postLength;
    o.haveBuiltPostBody = d->haveBuiltPostBody;
    o.shouldResetDownloadProgress = d->shouldResetDownloadProgress;
    o.shouldResetUploadProgress = d->shouldResetUploadProgress;
    o.showAccurateProgress = d->showAccurateProgress;
    o.defaultResponseEncoding = d->defaultResponseEncoding;
    o.allowResumeForFileDownloads = d->allowResumeForFileDownloads;
    o.userInfo = d->userInfo;
    o.tag = d->tag;
    o.shouldRedirect = d->shouldRedirect;
    return r;
}

std::shared_ptr<NetHTTPRequest> NetHTTPRequest::HEADRequest()
{
    LOCKED;
    auto r = requestWithURL(d->url);
    Private &o = *r->d;
    copyConnectionSettings(o, *d);
    o.mainRequest = weak_from_this();
    o.requestMethod = QStringLiteral("HEAD");
    o.haveBuiltPostBody = true;
    return r;
}

QDateTime NetHTTPRequest::dateFromRFC1123String(const QString &text)
{
    const QString t = text.trimmed();
    const QLocale c = QLocale::c();
    QString format = (t.contains(u',') ? QStringLiteral("ddd, ") : QString()) + QStringLiteral("dd MMM yyyy HH:mm")
                     + (t.split(u':').size() == 3 ? QStringLiteral(":ss") : QString());
    // The zone is always GMT/UTC on the wire; parse it off by hand.
    QString body = t;
    const int lastSpace = body.lastIndexOf(u' ');
    QString zone;
    if (lastSpace > 0) {
        zone = body.mid(lastSpace + 1);
        body = body.left(lastSpace);
    }
    QDateTime dt = c.toDateTime(body, format);
    if (!dt.isValid())
        return {};
    dt.setTimeSpec(Qt::UTC);
    if (zone.startsWith(u'+') || zone.startsWith(u'-')) {
        const int sign = zone.startsWith(u'-') ? -1 : 1;
        const int hh = zone.mid(1, 2).toInt(), mm = zone.mid(3, 2).toInt();
        dt = dt.addSecs(-sign * (hh * 3600 + mm * 60));
    }
    return dt;
}

QString NetHTTPRequest::mimeTypeForFileAtPath(const QString &path)
{
    if (!QFileInfo::exists(path))
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    return type.isDefault() ? QStringLiteral("application/octet-stream") : type.name();
}

// ---------------------------------------------------------------- proxy auto-configuration

void NetHTTPRequest::fetchPACFile()
{
    const QUrl pac = d->PACurl;
    QString script;
    if (pac.isLocalFile()) {
        QFile f(pac.toLocalFile());
        if (f.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = f.readAll();
            auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            script = decoder.decode(bytes);
            if (decoder.hasError())
                script = QString::fromLatin1(bytes);
        }
    } else if (pac.scheme() == QLatin1String("http") || pac.scheme() == QLatin1String("https")) {
        // Fetched on this thread before the request goes out; the script is small.
        auto download = requestWithURL(pac);
        download->setTimeOutSeconds(d->timeOutSeconds);
        download->setProxyHost(QString()); // never through a proxy it is about to choose
        download->d->proxyPort = 0;
        download->d->PACurl = QUrl();
        download->startSynchronous();
        if (!download->error())
            script = download->responseString();
    }
    if (!script.isEmpty())
        runPACScript(script);
    if (d->proxyHost.isEmpty())
        d->proxyPort = 0;
    startRequest();
}

void NetHTTPRequest::runPACScript(const QString &script)
{
    if (script.isEmpty())
        return;
    const QList<NetPACProxy> proxies = NetPACScript::proxiesForURL(script, d->url);
    if (proxies.isEmpty() || proxies.first().direct)
        return;
    d->proxyHost = proxies.first().host;
    d->proxyPort = proxies.first().port;
    d->proxyType = proxies.first().socks ? ProxyTypeSOCKS : ProxyTypeHTTP;
}

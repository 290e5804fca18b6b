#include "NetHTTPRequestPrivate.h"

using namespace nethttp;

const QString NetHTTPRequest::errorDomain = QStringLiteral("NetHTTPRequestErrorDomain");

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

KRError NetHTTPRequest::responseTooLargeError() const
{
    // The bound as people say it: whole megabytes or kilobytes where it is one.
    const std::uint64_t limit = d->maximumResponseSize;
    QString size = QStringLiteral("%1 bytes").arg(limit);
    if (limit >= (1u << 20) && limit % (1u << 20) == 0)
        size = QStringLiteral("%1 MB").arg(limit >> 20);
    else if (limit >= 1024 && limit % 1024 == 0)
        size = QStringLiteral("%1 KB").arg(limit >> 10);
    return errorWithCode(ResponseTooLargeErrorType, QStringLiteral("The server's answer was larger than %1 and was refused").arg(size));
}

// ---------------------------------------------------------------- accessors


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
void NetHTTPRequest::setTotalDeadlineSeconds(double s) { LOCKED; d->totalDeadlineSeconds = std::max(0.0, s); }
double NetHTTPRequest::totalDeadlineSeconds() const { LOCKED; return d->totalDeadlineSeconds; }
void NetHTTPRequest::setMaximumResponseSize(std::uint64_t bytes) { LOCKED; d->maximumResponseSize = bytes; }
std::uint64_t NetHTTPRequest::maximumResponseSize() const { LOCKED; return d->maximumResponseSize; }
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

namespace {
// The synchronous requests of a thread share one loop, and with it the connections its transport
// keeps open; a synchronous request started while another runs on the same thread gets a loop
// of its own.
thread_local std::shared_ptr<NetTransportLoop> synchronousLoop;
thread_local int synchronousDepth = 0;
} // namespace

void NetHTTPRequest::startSynchronous()
{
    auto self = shared_from_this();
    std::shared_ptr<NetTransportLoop> loop;
    if (synchronousDepth == 0) {
        if (!synchronousLoop)
            synchronousLoop = std::make_shared<NetTransportLoop>();
        loop = synchronousLoop;
    } else {
        loop = std::make_shared<NetTransportLoop>();
    }
    ++synchronousDepth;
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
        destroyReadStream(); // a transfer left behind ends here; a finished one keeps its connection
        d->inProgress = false;
        d->finished = true;
        loop->detach(this);
        d->loop.reset();
    }
    --synchronousDepth;
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
    if (!d->hasStartTime) {
        d->hasStartTime = true;
        d->startTime = Clock::now();
    }
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

void NetHTTPRequest::setOperationQueue(std::weak_ptr<NetOperationQueue> queue)
{
    LOCKED;
    d->operationQueue = std::move(queue);
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

bool NetHTTPRequest::pastTotalDeadline() const
{
    if (d->totalDeadlineSeconds <= 0 || !d->hasStartTime)
        return false;
    return std::chrono::duration<double>(Clock::now() - d->startTime).count() > d->totalDeadlineSeconds;
}

void NetHTTPRequest::checkRequestStatus()
{
    if (d->cancelled || d->complete)
        return;
    // However steadily bytes arrive, the request ends at its deadline (a server dripping its
    // answer would otherwise keep it open for good).
    if (pastTotalDeadline()) {
        failWithError(errorWithCode(RequestTimedOutErrorType,
                                    QStringLiteral("The request timed out: it did not finish within %1 seconds")
                                        .arg(d->totalDeadlineSeconds)));
        cancelLoad();
        d->complete = true;
        return;
    }
    performThrottling();
    if (shouldTimeOut()) {
        if (d->retryCount >= d->numberOfTimesToRetryOnTimeout) {
            failWithError(errorWithCode(RequestTimedOutErrorType, QStringLiteral("The request timed out")));
            cancelLoad();
            d->complete = true;
            return;
        }
        applyResumeHeaders();
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
    o.totalDeadlineSeconds = d.totalDeadlineSeconds;
    o.maximumResponseSize = d.maximumResponseSize;
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
    copySettingsTo(*r);
    return r;
}

void NetHTTPRequest::copySettingsTo(NetHTTPRequest &r) const
{
    LOCKED;
    Private &o = *r.d;
    copyConnectionSettings(o, *d);
    o.delegate = d->delegate;
    o.requestMethod = d->requestMethod;
    o.postBody = d->postBody;
    o.shouldStreamPostDataFromDisk = d->shouldStreamPostDataFromDisk;
    o.postBodyFilePath = d->postBodyFilePath;
    o.postBodyParts = d->postBodyParts;
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

#include "NetHTTPRequestPrivate.h"

using namespace nethttp;

// ---------------------------------------------------------------- building the request

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
    applyResumeHeaders();
}

// Why the method, a header, or a name that goes out raw in an Authorization value cannot be
// sent as it is; empty when all are sound.
QString NetHTTPRequest::unsafeRequestField() const
{
    if (!isHTTPToken(d->requestMethod))
        return QStringLiteral("'%1' is not a valid request method").arg(printableRequestText(d->requestMethod));
    for (const auto &h : d->requestHeaders) {
        if (!isHTTPToken(h.first))
            return QStringLiteral("'%1' is not a valid header name").arg(printableRequestText(h.first));
        if (breaksHeaderLine(h.second))
            return QStringLiteral("the value of the header '%1' holds a line break or NUL character").arg(h.first);
    }
    if (d->hasRequestCredentials && (breaksHeaderLine(d->credUser) || breaksHeaderLine(d->credDomain)))
        return QStringLiteral("the user name holds a line break or NUL character");
    return {};
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

void NetHTTPRequest::startRequest()
{
    auto self = shared_from_this();
    if (d->cancelled)
        return;
    // Refused before anything is sent: the request as given cannot be written as it means.
    const QString unsafe = unsafeRequestField();
    if (!unsafe.isEmpty()) {
        failWithError(errorWithCode(UnableToCreateRequestErrorType, QStringLiteral("Unable to create request: ") + unsafe));
        return;
    }
    requestStarted();

    d->downloadComplete = false;
    d->complete = false;
    d->totalBytesRead = 0;
    d->inflatedBytesKept = 0;
    d->lastBytesRead = 0;
    if (d->redirectCount == 0)
        d->originalURL = d->url;
    if (d->totalBytesSent > 0 && d->postLength > 0)
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
    d->rawResponseData = d->downloadDestinationPath.isEmpty() ? QByteArray("") : QByteArray();
    d->bodyToMemory = d->appendToPartial = d->partialIsComplete = d->restartDownload = false;
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
        if (!d->postBodyParts.isEmpty())
            d->bodyStream = NetInputStream::inputStreamWithParts(d->postBodyParts, self);
        else if (d->shouldStreamPostDataFromDisk && !d->postBodyFilePath.isEmpty())
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
    // A throttled transfer reads in small steps; any other takes what the socket holds in
    // one read, for one write of the body file per megabyte at most.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, isBandwidthThrottled() ? 16384L : 1048576L);
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
        const NetTransportLoop *loop = d->loop.get();
        auto matches = [&](const std::shared_ptr<ConnectionRecord> &r) {
            return r->host == host && r->scheme == scheme && r->port == port && r->loop == loop && !r->request;
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
            d->connectionInfo->loop = loop;
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

#include "NetHTTPRequestPrivate.h"

using namespace nethttp;

// ---------------------------------------------------------------- response

size_t NetHTTPRequest::curlHeader(char *data, size_t size, size_t n, void *user)
{
    return static_cast<NetHTTPRequest *>(user)->onHeaderLine(data, size * n);
}

size_t NetHTTPRequest::curlWrite(char *data, size_t size, size_t n, void *user)
{
    return static_cast<NetHTTPRequest *>(user)->onBodyBytes(data, size * n);
}

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

bool NetHTTPRequest::proxyMayChallenge() const
{
    if (d->proxyHost.isEmpty() || d->proxyType != ProxyTypeHTTP)
        return false;
    // Through a tunnel, the proxy answers only the CONNECT that opens it.
    return d->url.scheme() != QLatin1String("https") || !d->sawTunnelResponse;
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

    // Only the proxy the request goes through asks for proxy credentials: a 407 from the server
    // itself (over a direct connection, a SOCKS proxy or an HTTPS tunnel already open) asks
    // for nothing, and no one is asked for a password on its word.
    if (d->responseStatusCode == 407 && !proxyMayChallenge()) {
        KR_LOG(QStringLiteral("407 refused: not from the proxy (%1)").arg(d->url.host()));
        d->callbackError = errorWithCode(AuthenticationErrorType,
                                         QStringLiteral("The server asked for proxy credentials, but the request does not "
                                                        "go through an HTTP proxy that could ask for them"));
        return;
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

    if (!willRedirect())
        chooseDownloadTarget();
    if (!d->needsRedirect && !d->restartDownload && !d->partialIsComplete) {
        auto main = d->mainRequest.lock();
        const QString lengthText = d->responseHeaders.value(QStringLiteral("Content-Length"));
        bool ok = false;
        const std::uint64_t length = lengthText.toULongLong(&ok);
        if (ok) {
            if (main) {
                std::lock_guard<std::recursive_mutex> g(main->m_lock);
                if (d->allowCompressedResponse && length == 20 && main->d->showAccurateProgress
                    && !main->d->downloadAsOneStep) {
                    main->d->downloadAsOneStep = true;
                    main->incrementDownloadSizeBy(1);
                } else {
                    // The twin learns the size for its main request, which no longer resets
                    // (and so counts) its own download size.
                    main->d->contentLength = length;
                    if (d->showAccurateProgress && d->shouldResetDownloadProgress)
                        main->incrementDownloadSizeBy(std::int64_t(length + main->d->partialDownloadSize));
                }
            } else {
                d->contentLength = length;
                // One allocation for a body kept in memory, up to a bound.
                if ((d->downloadDestinationPath.isEmpty() || d->bodyToMemory) && !isResponseCompressed())
                    d->rawResponseData.reserve(qsizetype(std::min(length, maximumBodyReservation)));
                if (d->showAccurateProgress && !d->downloadAsOneStep && d->shouldResetDownloadProgress)
                    incrementDownloadSizeBy(std::int64_t(length + d->partialDownloadSize));
            }
        } else {
            // Only the download loses its measure: the body going up is still counted in bytes.
            NetHTTPRequest *target = main ? main.get() : this;
            std::lock_guard<std::recursive_mutex> g(target->m_lock);
            if (target->d->showAccurateProgress && !target->d->downloadAsOneStep && target->d->shouldResetDownloadProgress) {
                target->d->downloadAsOneStep = true;
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
                // A max of 5 or less means too few requests are left to bother; no max, no limit.
                if (max < 0 || max >= 6) {
                    d->connectionCanBeReused = true;
                    if (timeout >= 0)
                        d->persistentConnectionTimeoutSeconds = timeout;
                }
            } else {
                d->connectionCanBeReused = true;
            }
        }
    }

    requestReceivedResponseHeaders(d->responseHeaders);
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
        if (e.code() == CompressionError || e.code() == ResponseTooLargeErrorType)
            discardDownloadFiles();
        if (e.code() == ResponseTooLargeErrorType)
            d->rawResponseData = QByteArray(); // nothing of a refused answer is kept
        failWithError(e);
        cancelLoad();
        return;
    }
    if (curlCode != CURLE_OK) {
        handleStreamError(curlCode);
        return;
    }
    if (d->restartDownload) {
        restartDownloadWithoutPartial();
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

// The connection is free for the next request and expires after the persistent-connection
// timeout; one that cannot be reused leaves the pool.
void NetHTTPRequest::releaseConnection()
{
    std::lock_guard<std::recursive_mutex> g(connectionsLock);
    if (!d->connectionInfo)
        return;
    d->connectionInfo->request = nullptr;
    d->connectionInfo->hasExpiry = true;
    d->connectionInfo->expires = Clock::now() + std::chrono::milliseconds(qint64(d->persistentConnectionTimeoutSeconds * 1000));
    if (!d->connectionCanBeReused) {
        connectionPool.erase(std::remove(connectionPool.begin(), connectionPool.end(), d->connectionInfo), connectionPool.end());
        d->connectionInfo.reset();
    }
}

void NetHTTPRequest::handleStreamComplete()
{
    d->readStreamIsScheduled = false;
    d->downloadComplete = true;
    if (!d->headersRead)
        readResponseHeaders();
    if (d->callbackError) {
        failWithError(d->callbackError);
        return;
    }
    if (d->complete)
        return; // answered from the cache
    bool inflatedStreamEnded = true;
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
        inflatedStreamEnded = !d->dataDecompressor || d->dataDecompressor->streamEnded();
        d->dataDecompressor.reset();
    }
    if (d->didCreateTemporaryPostDataFile && !d->authenticationNeeded) {
        QFile::remove(d->postBodyFilePath);
        if (!d->compressedPostBodyFilePath.isEmpty())
            QFile::remove(d->compressedPostBodyFilePath);
        d->didCreateTemporaryPostDataFile = false;
    }

    KRError fileError;
    const bool wroteFile = d->fileDownloadOutputStream != nullptr;
    if (wroteFile) {
        // The end of the body is written as the files close: a file that could not take all of
        // it is a failed download, never one put in place.
        bool written = d->fileDownloadOutputStream->close();
        d->fileDownloadOutputStream.reset();
        if (d->inflatedFileDownloadOutputStream) {
            written = d->inflatedFileDownloadOutputStream->close() && written;
            d->inflatedFileDownloadOutputStream.reset();
        }
        if (!written)
            fileError = errorWithCode(FileManagementError,
                                      QStringLiteral("Failed to write to file at path '%1'").arg(d->temporaryFileDownloadPath));
    }
    const bool finalAnswer = !d->needsRedirect && !d->authenticationNeeded;
    if (fileError)
        discardDownloadFiles();
    else if (finalAnswer && !d->downloadDestinationPath.isEmpty() && !d->bodyToMemory)
        fileError = finishDownloadFile(wroteFile, inflatedStreamEnded);
    else if (finalAnswer && isResponseCompressed())
        fileError = checkCompressedBody(inflatedStreamEnded);

    if (d->downloadCache && !d->didUseCachedResponse && !d->needsRedirect && !d->authenticationNeeded && !fileError) {
        try {
            d->downloadCache->storeResponseForRequest(*this, d->secondsToCache);
        } catch (const KRException &e) {
            KR_LOG(QStringLiteral("Response cache failed: %1 %2").arg(e.name(), e.reason()));
        }
    }

    releaseConnection();
    destroyReadStream();

    if (!d->needsRedirect && !d->authenticationNeeded && !d->didUseCachedResponse) {
        if (fileError) {
            if (fileError.code() == ResponseTooLargeErrorType)
                d->rawResponseData = QByteArray();
            failWithError(fileError);
        } else {
            requestFinished();
            markAsFinished();
        }
    }
}

// A compressed body kept in memory must inflate whole: a corrupt or cut-short one fails the
// request instead of passing for an empty body.
KRError NetHTTPRequest::checkCompressedBody(bool inflatedStreamEnded) const
{
    if (!d->shouldWaitToInflateCompressedResponses)
        return d->totalBytesRead > 0 && !inflatedStreamEnded ? NetDataDecompressor::inflateErrorWithCode(-3) : KRError();
    const QByteArray &raw = d->rawResponseData;
    if (raw.isEmpty())
        return {};
    auto inflater = NetDataDecompressor::decompressor();
    constexpr qsizetype chunk = 16384; // the inflated text is not kept: bounded memory
    std::uint64_t inflatedSize = 0;
    for (qsizetype at = 0; at < raw.size() && !inflater->streamEnded(); at += chunk) {
        KRError error;
        inflatedSize += std::uint64_t(inflater->uncompressBytes(raw.constData() + at, std::min(chunk, raw.size() - at), &error).size());
        if (error)
            return error;
        if (d->maximumResponseSize > 0 && inflatedSize > d->maximumResponseSize)
            return responseTooLargeError();
    }
    return inflater->streamEnded() ? KRError() : NetDataDecompressor::inflateErrorWithCode(-3);
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

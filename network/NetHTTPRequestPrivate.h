#pragma once

// Shared between the files that implement NetHTTPRequest: the class-wide state, the private
// data and small helpers. Not part of the public interface.

#include <network/NetHTTPRequest.h>

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

namespace nethttp {


// ---------------------------------------------------------------- class-wide state

// Lock order: a request's own lock, then bandwidthLock, then connectionsLock.
inline std::recursive_mutex connectionsLock;
inline std::recursive_mutex progressLock;
inline std::mutex sessionCookiesLock;
inline std::recursive_mutex sessionCredentialsLock;
inline std::recursive_mutex delegateAuthenticationLock;
inline std::mutex bandwidthLock; // not recursive
inline std::mutex classSettingsLock;

struct ConnectionRecord {
    int id = 0;
    QString host;
    int port = 0;
    QString scheme;
    const NetHTTPRequest *request = nullptr; // not owned: the request running on it
    const NetTransportLoop *loop = nullptr;  // not owned: the loop whose transport holds the connection
    bool hasExpiry = false;
    Clock::time_point expires;
};
inline std::vector<std::shared_ptr<ConnectionRecord>> connectionPool;
inline int nextConnectionNumber = 0;
inline int nextRequestID = 0;
inline int scheduledStreams = 0;

inline double defaultTimeOut = 10.0;
inline std::shared_ptr<NetCacheDelegate> sharedDefaultCache;
inline bool defaultUserAgentComputed = false;
inline QString defaultUserAgent;

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
inline NetCookieStore &cookieStore()
{
    static auto *store = new NetCookieStore; // lives for the process
    return *store;
}
inline QList<QNetworkCookie> sessionCookieList;

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
inline std::vector<CredentialPtr> sessionCredentials;
inline std::vector<CredentialPtr> sessionProxyCredentials;
// Credentials saved "persistently" by protection space (host, port, scheme, realm); kept for
// the process only, so no password is ever written to disk in clear text.
inline QMap<QString, QPair<QString, QString>> savedCredentials;

inline QString protectionSpaceKey(const QString &host, int port, const QString &scheme, const QString &realm)
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
inline Bandwidth bandwidth;

// Called with bandwidthLock held.
inline void recordBandwidthUsageLocked()
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

inline void measureBandwidthLocked()
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

inline QString canonicalHeaderName(const QString &name)
{
    QStringList parts = name.trimmed().split(u'-');
    for (QString &p : parts) {
        p = p.toLower();
        if (!p.isEmpty())
            p[0] = p[0].toUpper();
    }
    return parts.join(u'-');
}

inline QString temporaryPath()
{
    return QDir(KRPaths::temporaryDirectory()).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
}

// A download's file. The transfer hands the body over in pieces of a few kilobytes: they are
// gathered and written a megabyte at a time, so a fast download costs few writes while the
// memory it takes stays that megabyte, whatever the size of the body.
class DownloadFile
{
public:
    static constexpr qsizetype gatheredSize = qsizetype(1) << 20;

    explicit DownloadFile(const QString &path) : m_file(path) {}
    // What is gathered is written (a file kept for resuming keeps it); errors are not reported.
    ~DownloadFile() { flush(); }
    DownloadFile(const DownloadFile &) = delete;
    DownloadFile &operator=(const DownloadFile &) = delete;

    bool open(bool append)
    {
        return m_file.open(QIODevice::Unbuffered
                           | (append ? QIODevice::Append : (QIODevice::WriteOnly | QIODevice::Truncate)));
    }
    // False once anything could not be written.
    bool write(const char *data, qsizetype size)
    {
        if (m_pending.size() + size > gatheredSize && !flush())
            return false;
        if (size >= gatheredSize)
            return writeOut(data, size);
        if (m_pending.capacity() < gatheredSize)
            m_pending.reserve(gatheredSize);
        m_pending.append(data, size);
        return !m_failed;
    }
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // Writes what is gathered.
    bool flush()
    {
        const bool written = m_pending.isEmpty() || writeOut(m_pending.constData(), m_pending.size());
        m_pending.resize(0);
        return written && !m_failed;
    }
    // Writes what is gathered and closes the file; false when any of the body could not be
    // written or the file not closed.
    bool close()
    {
        const bool written = flush();
        m_file.close();
        return written && m_file.error() == QFileDevice::NoError;
    }

private:
    bool writeOut(const char *data, qsizetype size)
    {
        if (!m_failed && m_file.write(data, size) != size)
            m_failed = true;
        return !m_failed;
    }

    QFile m_file;
    QByteArray m_pending;
    bool m_failed = false;
};

inline bool isMethodWithoutBody(const QString &m)
{
    return m == QLatin1String("GET") || m == QLatin1String("DELETE") || m == QLatin1String("HEAD");
}

// Same scheme, host and port (the scheme's default port when none is given).
inline bool isSameOrigin(const QUrl &a, const QUrl &b)
{
    const QString scheme = a.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
           && a.port(defaultPort) == b.port(defaultPort);
}

// A line break or NUL would end a header line early and let the rest pass as headers of its own.
inline bool breaksHeaderLine(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n') || text.contains(QChar(0));
}

// A method or a header name: one or more letters, digits or "!#$%&'*+-.^_`|~". A space, a
// colon or a control character would change what the request line or header line says.
inline bool isHTTPToken(const QString &text)
{
    static constexpr char marks[] = "!#$%&'*+-.^_`|~";
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool alnum = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
        if (!alnum && (u > 0x7e || !std::char_traits<char>::find(marks, sizeof marks - 1, char(u))))
            return false;
    }
    return true;
}

// Text of a refused request field for an error message: control characters are shown escaped.
inline QString printableRequestText(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

// The most memory reserved ahead for a body kept in memory: the announced length is only the
// server's word.
constexpr std::uint64_t maximumBodyReservation = std::uint64_t(4) << 20;

// The validator (ETag or Last-Modified) of the answer a partial download file holds, kept on
// the file as an extended attribute so that a later request can resume it safely.
inline const QString resumeValidatorAttribute = QStringLiteral("com.korvane.downloadValidator");


// Session credential records (defined with the authentication code).
CredentialPtr findSessionRecord(const QUrl &url, const QString &realm, const QString &user, const QString &password);
CredentialPtr findSessionProxyRecord(const QString &host, int port);
void storeRecord(std::vector<CredentialPtr> &store, const CredentialPtr &record);
void removeRecord(std::vector<CredentialPtr> &store, const CredentialPtr &record);

struct CallbackScope {
    explicit CallbackScope(bool &flag) : f(flag) { f = true; }
    ~CallbackScope() { f = false; }
    bool &f;
};

} // namespace nethttp

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
    QList<NetBodyPart> postBodyParts;
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
    nethttp::CredentialPtr appliedSessionRecord, appliedProxySessionRecord;
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
    double totalDeadlineSeconds = 0;
    std::uint64_t maximumResponseSize = 0;
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
    // Where the body of a file download goes (decided once the headers are read).
    bool bodyToMemory = false;      // an error status: kept in memory, the files stay as they were
    bool appendToPartial = false;   // a 206 answer continuing the partial file
    bool partialIsComplete = false; // a 416 answer naming the partial file's size: it is the whole file
    bool restartDownload = false;   // the partial file cannot be continued: start again without it
    bool restartedDownload = false;
    QString resumeValidator;
    int authenticationNeeded = 0;
    bool willRetryRequest = false;
    bool readStreamIsScheduled = false;
    bool connectionCanBeReused = false;
    std::shared_ptr<nethttp::ConnectionRecord> connectionInfo;
    int requestID = 0;
    bool hasLastActivity = false;
    Clock::time_point lastActivityTime;
    bool haveBuiltRequestHeaders = false;
    bool updatedProgress = false; // the download step, without accurate progress
    // The answer gave no usable length: the download counts as one step. The upload still
    // counts its bytes when progress is accurate.
    bool downloadAsOneStep = false;
    bool updatedUploadProgress = false;
    std::int64_t uploadProgressReported = 0; // upload steps reported by this attempt
    bool messageBuilt = false;
    std::shared_ptr<NetTransportLoop> loop;
    bool started = false; // main() has run at least once
    bool hasStartTime = false;
    Clock::time_point startTime; // when main() first ran: the total deadline counts from here

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
    std::uint64_t inflatedBytesKept = 0; // of this attempt's body, inflated as it arrived
    std::uint64_t totalBytesSent = 0, lastBytesSent = 0, uploadBufferSize = 0;
    std::unique_ptr<NetDataDecompressor> dataDecompressor;
    std::unique_ptr<nethttp::DownloadFile> fileDownloadOutputStream, inflatedFileDownloadOutputStream;

    // The credentials to send to the server or (proxy) the proxy.
    void setCredentials(bool proxy, const QString &user, const QString &password, const QString &domain)
    {
        (proxy ? hasProxyCredentials : hasRequestCredentials) = true;
        (proxy ? proxyCredUser : credUser) = user;
        (proxy ? proxyCredPassword : credPassword) = password;
        (proxy ? proxyCredDomain : credDomain) = domain;
    }
};

#define LOCKED std::lock_guard<std::recursive_mutex> guard_(m_lock)

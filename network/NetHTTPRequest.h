#pragma once

#include <network/NetHTTPRequestDelegate.h>
#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QNetworkCookie>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class NetAuthChallenge;
class NetCacheDelegate;
class NetDataDecompressor;
class NetInputStream;
struct NetBodyPart;
class NetOperationQueue;
class NetRequestQueue;
class NetTransportLoop;
class QFile;
typedef void CURL;

// One HTTP exchange (with its redirects, authentication rounds and retries) over libcurl.
// Asynchronous requests run on the process's network thread; startSynchronous() runs the
// request on the calling thread, in a loop that the thread's synchronous requests share so
// that they reuse its open connections. Every delegate call and block runs on
// the main thread. Create requests with requestWithURL(); creating, configuring and starting
// them is safe from any thread.
//
// A 4xx/5xx status other than 401/407 is not a failure: read responseStatusCode(). With a
// download destination, the body of such an answer stays in memory (responseData()) and the
// destination and any partial download file stay as they were. A resumed download whose server
// answers 416 for exactly the partial file's size is complete: the partial file becomes the
// destination and the status stays 416.
//
// A redirect to another origin (scheme, host or port) goes without the credentials and the
// Authorization, Cookie and Proxy-Authorization headers the caller set. A redirect that would
// send the request's body again (307, 308) to another origin is refused: the body may hold
// credentials (RedirectRefusedErrorType).
class NetHTTPRequest : public std::enable_shared_from_this<NetHTTPRequest>
{
protected:
    struct Passkey {};

public:
    enum ErrorCode {
        ConnectionFailureErrorType = 1,
        RequestTimedOutErrorType = 2,
        AuthenticationErrorType = 3,
        RequestCancelledErrorType = 4,
        UnableToCreateRequestErrorType = 5,
        InternalErrorWhileBuildingRequestType = 6,
        InternalErrorWhileApplyingCredentialsType = 7,
        FileManagementError = 8,
        TooMuchRedirectionErrorType = 9,
        UnhandledExceptionError = 10,
        CompressionError = 11,
        ResponseTooLargeErrorType = 12,
        RedirectRefusedErrorType = 13,
    };
    enum ProxyType { ProxyTypeHTTP, ProxyTypeHTTPS, ProxyTypeSOCKS };
    enum AuthenticationState { NoAuthenticationNeeded = 0, HTTPAuthenticationNeeded = 1, ProxyAuthenticationNeeded = 2 };

    static const QString errorDomain; // "NetHTTPRequestErrorDomain"

    using Block = std::function<void()>;
    using HeadersBlock = std::function<void(const QMap<QString, QString> &)>;
    using ProgressBlock = std::function<void(std::uint64_t size, std::uint64_t total)>;
    using SizeBlock = std::function<void(std::int64_t size)>;
    using DataBlock = std::function<void(const QByteArray &data)>;

    explicit NetHTTPRequest(Passkey, const QUrl &url);
    virtual ~NetHTTPRequest();

    static std::shared_ptr<NetHTTPRequest> requestWithURL(const QUrl &url);
    static std::shared_ptr<NetHTTPRequest> requestWithURL(const QUrl &url, std::shared_ptr<NetCacheDelegate> cache,
                                                          int cachePolicy = 0);

    // ---- starting and cancelling
    void startAsynchronous();
    void startSynchronous();
    void cancel();
    void clearDelegatesAndCancel();
    bool isCancelled() const;
    bool isFinished() const;
    bool isExecuting() const;
    bool complete() const;

    // ---- request
    QUrl url() const;
    void setURL(const QUrl &url);
    QUrl originalURL() const;
    QString requestMethod() const;
    void setRequestMethod(const QString &method);
    void addRequestHeader(const QString &name, const QString &value);
    QList<QPair<QString, QString>> requestHeaders() const;
    QString requestHeader(const QString &name) const; // case-insensitive
    void setRequestCookies(const QList<QNetworkCookie> &cookies);
    QList<QNetworkCookie> requestCookies() const;
    void appendPostData(const QByteArray &data);
    void appendPostDataFromFile(const QString &path);
    void setPostBody(const QByteArray &body);
    QByteArray postBody() const;
    void setPostBodyFilePath(const QString &path);
    QString postBodyFilePath() const;
    void setShouldStreamPostDataFromDisk(bool on);
    void setShouldCompressRequestBody(bool on);
    std::uint64_t postLength() const;
    void setUserAgent(const QString &userAgent);
    QString userAgent() const;
    static QString defaultUserAgentString();
    static void setDefaultUserAgentString(const QString &userAgent);

    // ---- credentials and proxies
    void setUsername(const QString &v);
    QString username() const;
    void setPassword(const QString &v);
    QString password() const;
    void setDomain(const QString &v);
    QString domain() const;
    void setAuthenticationScheme(const QString &v);
    QString authenticationScheme() const;
    QString authenticationRealm() const;
    void setProxyUsername(const QString &v);
    QString proxyUsername() const;
    void setProxyPassword(const QString &v);
    QString proxyPassword() const;
    void setProxyDomain(const QString &v);
    void setProxyHost(const QString &v);
    QString proxyHost() const;
    void setProxyPort(int port);
    int proxyPort() const;
    void setProxyType(ProxyType type);
    ProxyType proxyType() const;
    void setPACurl(const QUrl &url);
    QUrl PACurl() const;
    QString proxyAuthenticationRealm() const;
    int authenticationRetryCount() const;
    void setUseKeychainPersistence(bool on);
    void setUseSessionPersistence(bool on);
    void setUseCookiePersistence(bool on);
    void setShouldPresentCredentialsBeforeChallenge(bool on);
    void setShouldPresentAuthenticationDialog(bool on);
    void setShouldPresentProxyAuthenticationDialog(bool on);
    // Answers to authenticationNeeded…ForRequest(); both perform on the request's thread.
    void retryUsingSuppliedCredentials();
    void cancelAuthentication();
    int authenticationNeeded() const;

    // ---- transfer settings
    void setTimeOutSeconds(double seconds);
    double timeOutSeconds() const;
    static double defaultTimeOutSeconds();
    static void setDefaultTimeOutSeconds(double seconds);
    // The longest the whole request may take, redirects and retries included, however steadily
    // the answer arrives (the time-out above only bounds a silence); after it the request fails
    // with RequestTimedOutErrorType. 0, the default: no bound.
    void setTotalDeadlineSeconds(double seconds);
    double totalDeadlineSeconds() const;
    // The most bytes of body the answer may have (received, and once inflated); a larger
    // answer is refused while it arrives: the request fails with ResponseTooLargeErrorType,
    // keeps nothing of the body and leaves no download file. 0, the default: no bound.
    void setMaximumResponseSize(std::uint64_t bytes);
    std::uint64_t maximumResponseSize() const;
    void setNumberOfTimesToRetryOnTimeout(int n);
    int retryCount() const;
    void setShouldRedirect(bool on);
    void setShouldUseRFC2616RedirectBehaviour(bool on);
    int redirectCount() const;
    void redirectToURL(const QUrl &url);
    void setValidatesSecureCertificate(bool on);
    void setSslPeerName(const QString &name);
    QString sslPeerName() const;
    void setShouldAttemptPersistentConnection(bool on);
    bool shouldAttemptPersistentConnection() const;
    void setPersistentConnectionTimeoutSeconds(double seconds);
    double persistentConnectionTimeoutSeconds() const;
    bool connectionCanBeReused() const;
    int connectionID() const;
    void setUseHTTPVersionOne(bool on);
    void setAllowCompressedResponse(bool on);
    void setShouldWaitToInflateCompressedResponses(bool on);
    void setDefaultResponseEncoding(const QString &ianaName);
    QString responseEncoding() const;

    // ---- download destination, resume
    void setDownloadDestinationPath(const QString &path);
    QString downloadDestinationPath() const;
    void setTemporaryFileDownloadPath(const QString &path);
    QString temporaryFileDownloadPath() const;
    void setAllowResumeForFileDownloads(bool on);
    std::uint64_t partialDownloadSize() const;

    // ---- cache
    void setDownloadCache(std::shared_ptr<NetCacheDelegate> cache);
    std::shared_ptr<NetCacheDelegate> downloadCache() const;
    static void setDefaultCache(std::shared_ptr<NetCacheDelegate> cache);
    static std::shared_ptr<NetCacheDelegate> defaultCache();
    void setCachePolicy(int policy);
    int cachePolicy() const;
    void setCacheStoragePolicy(int policy);
    int cacheStoragePolicy() const;
    void setSecondsToCache(double seconds);
    double secondsToCache() const;
    bool didUseCachedResponse() const;

    // ---- caller's data
    void setUserInfo(const QVariantMap &info);
    QVariantMap userInfo() const;
    void setTag(std::int64_t tag);
    std::int64_t tag() const;

    // ---- delegates and blocks (not owned; a destroyed delegate is never called)
    void setDelegate(std::weak_ptr<NetHTTPRequestDelegate> delegate);
    std::shared_ptr<NetHTTPRequestDelegate> delegate() const;
    void setQueue(std::shared_ptr<NetRequestQueue> queue);
    std::shared_ptr<NetRequestQueue> queue() const;
    void setUploadProgressDelegate(std::weak_ptr<NetProgressDelegate> d);
    void setDownloadProgressDelegate(std::weak_ptr<NetProgressDelegate> d);
    void setShowAccurateProgress(bool on);
    bool showAccurateProgress() const;
    void setShouldResetDownloadProgress(bool on);
    void setShouldResetUploadProgress(bool on);
    void setStartedBlock(Block b);
    void setHeadersReceivedBlock(HeadersBlock b);
    // Runs on success only; a failure (time-out, refused connection, cancellation, …) runs
    // the failed block. Set both to hear about every end of the request.
    void setCompletionBlock(Block b);
    void setFailedBlock(Block b);
    void setBytesReceivedBlock(ProgressBlock b);
    void setBytesSentBlock(ProgressBlock b);
    void setDownloadSizeIncrementedBlock(SizeBlock b);
    void setUploadSizeIncrementedBlock(SizeBlock b);
    void setDataReceivedBlock(DataBlock b);
    void setAuthenticationNeededBlock(Block b);
    void setProxyAuthenticationNeededBlock(Block b);
    void setRequestRedirectedBlock(Block b);

    // ---- response
    KRError error() const;
    int responseStatusCode() const;
    QString responseStatusMessage() const;
    QMap<QString, QString> responseHeaders() const; // names canonical ("Etag", "Content-Type")
    QString responseHeader(const QString &name) const; // case-insensitive
    QList<QNetworkCookie> responseCookies() const;
    QByteArray rawResponseData() const;
    // The body (inflated when it came compressed); null when the request failed.
    QByteArray responseData() const;
    QString responseString() const;
    bool isResponseCompressed() const;
    bool downloadComplete() const;
    std::uint64_t contentLength() const;
    std::uint64_t totalBytesRead() const;
    std::uint64_t totalBytesSent() const;

    // ---- copies
    // A new request of the same class with this one's settings and body (a form request
    // also carries its form over).
    virtual std::shared_ptr<NetHTTPRequest> copy() const;
    std::shared_ptr<NetHTTPRequest> HEADRequest();
    std::shared_ptr<NetHTTPRequest> mainRequest() const;

    // ---- class-wide state
    static QList<QNetworkCookie> sessionCookies();
    static void setSessionCookies(const QList<QNetworkCookie> &cookies);
    static void addSessionCookie(const QNetworkCookie &cookie);
    static void clearSession();
    static void removeAllSessionCredentials();
    static bool isNetworkInUse();
    static void expirePersistentConnections();
    static QDateTime dateFromRFC1123String(const QString &text);
    static QString mimeTypeForFileAtPath(const QString &path);
    static bool removeFileAtPath(const QString &path, KRError *error);

    // Bandwidth throttle (process-wide).
    static void setMaxBandwidthPerSecond(std::uint64_t bytes);
    static std::uint64_t maxBandwidthPerSecond();
    static bool isBandwidthThrottled();
    static void incrementBandwidthUsedInLastSecond(std::uint64_t bytes);
    static std::uint64_t averageBandwidthUsedPerSecond();
    static void measureBandwidthUsage();
    static std::uint64_t maxUploadReadLength();

    // The shared operation queue (4 at a time).
    static std::shared_ptr<NetOperationQueue> sharedQueue();

protected:
    // Subclasses (form data) fill the body here; runs on the request's thread before sending.
    virtual void buildPostBody();
    void setHaveBuiltPostBody(bool on);
    bool haveBuiltPostBody() const;
    // The body as a sequence of bytes and files (in place of the post body); the files are
    // read while the body is sent, never held in memory or copied. Empty parts: no such body.
    void setPostBodyParts(const QList<NetBodyPart> &parts);
    // Gives `r` what copy() carries over; subclasses' copy() starts from it.
    void copySettingsTo(NetHTTPRequest &r) const;
    void failWithError(const KRError &error);
    KRError errorWithCode(int code, const QString &message) const;
    mutable std::recursive_mutex m_lock; // "cancelledLock"

private:
    friend class NetTransportLoop;
    friend class NetOperationQueue;
    friend class NetInputStream;
    struct Private;
    std::unique_ptr<Private> d;

    // lifecycle
    void start(); // queue entry point
    void main();
    void startRequest();
    void markAsFinished();
    void cancelOnLoopThread();
    void cancelLoad();
    void destroyReadStream();
    void releaseConnection();
    void transferDone(CURL *easy, int curlCode);
    void transferAbandoned(CURL *easy);
    void statusTick();
    void checkRequestStatus();
    bool shouldTimeOut() const;
    void performOnRequestThread(std::function<void()> fn);

    // building
    void setupPostBody();
    bool writePostBodyPartsToFile();
    void buildRequestHeaders();
    void applyCookieHeader();
    void applyAuthorizationHeader();
    void addBasicAuthenticationHeader(const QString &user, const QString &password);
    bool configureProxies();
    void fetchPACFile();
    void runPACScript(const QString &script);

    // transport callbacks (libcurl)
    static std::size_t curlHeader(char *data, std::size_t size, std::size_t n, void *user);
    static std::size_t curlWrite(char *data, std::size_t size, std::size_t n, void *user);
    static std::size_t curlRead(char *data, std::size_t size, std::size_t n, void *user);
    static int curlSeek(void *user, std::int64_t offset, int origin);
    void setOperationQueue(std::weak_ptr<NetOperationQueue> queue);

    // response
    std::size_t onHeaderLine(const char *data, std::size_t size);
    std::size_t onBodyBytes(const char *data, std::size_t size);
    std::size_t onReadBody(char *buffer, std::size_t size);
    void readResponseHeaders();
    // True when a 407 of this response can come from the proxy the request goes through.
    bool proxyMayChallenge() const;
    bool willRedirect();
    bool willAskDelegateToConfirmRedirect();
    void performRedirect();
    void handleStreamComplete();
    void handleStreamError(int curlCode);
    void retryUsingNewConnection();
    void useDataFromCache();
    void updatePartialDownloadSize();
    bool openDownloadFiles();
    void chooseDownloadTarget();
    void rememberResumeValidator();
    void applyResumeHeaders();
    void restartDownloadWithoutPartial();
    KRError finishDownloadFile(bool wroteFile, bool inflatedStreamEnded);
    KRError moveToDestination(const QString &source);
    KRError inflateFileWithinBound(const QString &source, const QString &destination);
    void discardDownloadFiles();
    KRError checkCompressedBody(bool inflatedStreamEnded) const;
    QString unsafeRequestField() const;
    void withholdCredentialsFromNewOrigin();
    bool hasRequestBody() const;
    KRError responseTooLargeError() const;
    bool pastTotalDeadline() const;

    // authentication (a `proxy` argument picks the proxy's challenge and credentials over the server's)
    void attemptToApplyCredentialsAndResume();
    void attemptToApplyProxyCredentialsAndResume();
    bool takeChallenge(bool proxy, bool *refused);
    void applyFoundCredentialsOrAsk(bool proxy);
    void askDelegateAfterRefusal(bool proxy);
    void failAuthenticationNeeded();
    bool willAskDelegateForAuthentication(bool proxy);
    bool findCredentials(QString *user, QString *password, QString *domain);
    bool findProxyCredentials(QString *user, QString *password, QString *domain);
    bool applyCredentialsFor(bool proxy, const QString &user, const QString &password, const QString &domain);
    bool applySessionCredentials();
    void storePreemptiveBasicRecord();

    // progress and throttle
    void updateProgressIndicators();
    void updateUploadProgress();
    void updateDownloadProgress();
    void incrementUploadSizeBy(std::int64_t amount);
    void incrementDownloadSizeBy(std::int64_t amount);
    void removeUploadProgressSoFar();
    void completeUploadProgress();
    template <typename TakeBlock, typename Tell, typename Finish>
    void postToProgressListeners(bool upload, TakeBlock takeBlock, Tell tell, Finish finish);
    void postSizeIncrement(bool upload, std::int64_t amount);
    void postBytesTransferred(bool upload, std::int64_t step, std::uint64_t total, bool resetIndicator = false);
    void performThrottling();
    void setIndicatorValue(bool upload, double progress, double total);

    // delivery
    void requestStarted();
    void requestReceivedResponseHeaders(const QMap<QString, QString> &headers);
    void requestFinished();
    void reportFinished();
    void reportFailure();
    void deliverOnMainThread(void (NetHTTPRequestDelegate::*event)(const NetHTTPRequestPtr &), Block Private::*block);
    void requestRedirected();
    void passOnReceivedData(const QByteArray &data);
    void releaseBlocksOnMainThread();
};

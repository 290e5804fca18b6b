#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QUrl>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// A stand-in HTTP/1.1 server on 127.0.0.1 for the network tests and benchmarks. It runs on
// threads of its own (one per connection), answers through scripted handlers and logs every
// request. It also serves as an HTTP proxy: absolute-URI request targets are routed by path.
struct KRTestRequest
{
    QByteArray method;
    QByteArray target;  // as sent: "/path?q" or "http://host:port/path?q" through a proxy
    QByteArray version; // "HTTP/1.1"
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 bodyLength = 0; // bytes of body received (also when discarded)
    int connection = 0; // 1-based number of the TCP connection it came on

    QByteArray header(const QByteArray &name) const; // case-insensitive; empty when absent
    bool hasHeader(const QByteArray &name) const;
    QByteArray path() const;             // without query
    QByteArray queryItem(const QByteArray &name) const;
};

struct KRTestResponse
{
    int status = 200;
    QByteArray reason;                   // default text for the status when empty
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray version = "HTTP/1.1";
    bool chunked = false;                // Transfer-Encoding: chunked
    bool gzip = false;                   // compress body, add Content-Encoding: gzip
    bool noContentLength = false;        // body delimited by closing the connection
    bool close = false;                  // Connection: close, then close
    bool stall = false;                  // accept the request, never answer
    bool stallAfterHeaders = false;      // send the headers (with a length), then nothing
    qint64 dropAfterBodyBytes = -1;      // close the socket after this many body bytes
    qint64 generatedBodyLength = -1;     // send this many pattern bytes instead of `body`
    int dripIntervalMs = 0;              // send `body` one byte at a time, this long apart

    KRTestResponse &header(const QByteArray &name, const QByteArray &value)
    {
        headers.append({name, value});
        return *this;
    }
    static KRTestResponse text(const QByteArray &body, int status = 200,
                               const QByteArray &contentType = "text/plain; charset=utf-8");
    static KRTestResponse redirect(int status, const QByteArray &location);
    // Accepts the request and never answers.
    static KRTestResponse stalled()
    {
        KRTestResponse r;
        r.stall = true;
        return r;
    }
};

class KRTestHTTPServer
{
public:
    using Handler = std::function<KRTestResponse(const KRTestRequest &)>;

    KRTestHTTPServer();
    ~KRTestHTTPServer();

    bool start(); // listens on 127.0.0.1 with a free port
    void stop();
    int port() const { return m_port; }
    QUrl url(const QString &pathAndQuery = QStringLiteral("/")) const;

    // Handlers by path (exact match); `fallback` answers the rest (404 by default).
    void route(const QByteArray &path, Handler handler);
    void setFallback(Handler handler);
    // Bodies of requests to `path` are read and counted (bodyLength), not kept: big uploads.
    void discardBodies(const QByteArray &path);

    QList<KRTestRequest> requests() const;
    int requestCount() const;
    int acceptCount() const { return m_accepts.load(); }
    void clearLog();

    // Ready-made handlers.
    static KRTestResponse basicAuth(const KRTestRequest &r, const QByteArray &user, const QByteArray &password,
                                    const QByteArray &realm, const KRTestResponse &ok, bool proxy = false);
    KRTestResponse digestAuth(const KRTestRequest &r, const QByteArray &user, const QByteArray &password,
                              const QByteArray &realm, const KRTestResponse &ok);
    static KRTestResponse range(const KRTestRequest &r, const QByteArray &body, bool honourRange = true);
    // ETag "v1" and Cache-Control max-age; answers 304 to a matching If-None-Match.
    static KRTestResponse cacheable(const KRTestRequest &r, const QByteArray &body, const QByteArray &etag,
                                    const QByteArray &cacheControl);
    // The hosting API on "/api.php": "sampleGallery", "feedURL", "crashReport"; "feedURL"
    // names "news/feed.rss", served with newsFeed().
    void installHostingAPI();
    // An RSS document of the service's news: a channel link and `itemCount` items with
    // "title", "description", "published" and "link" (links with "&" and "%" in them).
    static QByteArray newsFeed(int itemCount = 3);

    static QByteArray gzip(const QByteArray &data);
    static QByteArray gunzip(const QByteArray &data);

private:
    void acceptLoop();
    void serveConnection(int fd, int number);
    bool sendAll(int fd, const char *data, qint64 size);
    void waitForStop();

    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    int m_port = 0;
    std::thread m_acceptThread;
    std::mutex m_threadsMutex;
    std::vector<std::thread> m_threads;
    std::vector<int> m_openFds;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepts{0};
    std::mutex m_stopMutex;
    std::condition_variable m_stopCondition;

    mutable std::mutex m_mutex;
    std::map<QByteArray, Handler> m_routes;
    QList<QByteArray> m_discardPaths;
    Handler m_fallback;
    QList<KRTestRequest> m_log;
    int m_nonceCounter = 0;
};

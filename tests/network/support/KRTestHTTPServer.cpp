#include "KRTestHTTPServer.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

QByteArray KRTestRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

bool KRTestRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QByteArray KRTestRequest::path() const
{
    QByteArray t = target;
    if (t.startsWith("http://") || t.startsWith("https://")) {
        const int slash = t.indexOf('/', t.indexOf("//") + 2);
        t = slash < 0 ? QByteArray("/") : t.mid(slash);
    }
    const int q = t.indexOf('?');
    return q < 0 ? t : t.left(q);
}

QByteArray KRTestRequest::queryItem(const QByteArray &name) const
{
    const int q = target.indexOf('?');
    if (q < 0)
        return {};
    QUrlQuery query(QString::fromLatin1(target.mid(q + 1)));
    return query.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded).toUtf8();
}

KRTestResponse KRTestResponse::text(const QByteArray &body, int status, const QByteArray &contentType)
{
    KRTestResponse r;
    r.status = status;
    r.body = body;
    r.header("Content-Type", contentType);
    return r;
}

KRTestResponse KRTestResponse::redirect(int status, const QByteArray &location)
{
    KRTestResponse r;
    r.status = status;
    r.header("Location", location);
    r.body = "moved";
    return r;
}

static QByteArray reasonFor(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

KRTestHTTPServer::KRTestHTTPServer()
{
    m_fallback = [](const KRTestRequest &) { return KRTestResponse::text("not found", 404); };
}

KRTestHTTPServer::~KRTestHTTPServer()
{
    stop();
}

bool KRTestHTTPServer::start()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    int one = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(m_listenFd, 64) != 0)
        return false;
    socklen_t len = sizeof addr;
    getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0)
        return false;
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void KRTestHTTPServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    if (m_wakePipe[1] >= 0) {
        char c = 'x';
        (void)!::write(m_wakePipe[1], &c, 1);
    }
    {
        std::lock_guard<std::mutex> g(m_stopMutex);
    }
    m_stopCondition.notify_all();
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    {
        std::lock_guard<std::mutex> g(m_threadsMutex);
        for (int fd : m_openFds)
            ::shutdown(fd, SHUT_RDWR);
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> g(m_threadsMutex);
        threads.swap(m_threads);
    }
    for (auto &t : threads)
        t.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    for (int fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
    }
    m_listenFd = -1;
    m_wakePipe[0] = m_wakePipe[1] = -1;
}

QUrl KRTestHTTPServer::url(const QString &pathAndQuery) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery));
}

void KRTestHTTPServer::route(const QByteArray &path, Handler handler)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_routes[path] = std::move(handler);
}

void KRTestHTTPServer::setFallback(Handler handler)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_fallback = std::move(handler);
}

void KRTestHTTPServer::discardBodies(const QByteArray &path)
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_discardPaths.append(path);
}

QList<KRTestRequest> KRTestHTTPServer::requests() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return m_log;
}

int KRTestHTTPServer::requestCount() const
{
    std::lock_guard<std::mutex> g(m_mutex);
    return int(m_log.size());
}

void KRTestHTTPServer::clearLog()
{
    std::lock_guard<std::mutex> g(m_mutex);
    m_log.clear();
}

void KRTestHTTPServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents || m_stopping)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        const int number = ++m_accepts;
        std::lock_guard<std::mutex> g(m_threadsMutex);
        m_openFds.push_back(fd);
        m_threads.emplace_back([this, fd, number] { serveConnection(fd, number); });
    }
}

bool KRTestHTTPServer::sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

void KRTestHTTPServer::waitForStop()
{
    std::unique_lock<std::mutex> g(m_stopMutex);
    m_stopCondition.wait(g, [this] { return m_stopping.load(); });
}

void KRTestHTTPServer::serveConnection(int fd, int number)
{
    QByteArray buffer;
    char chunk[65536];
    auto readMore = [&]() -> bool {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        buffer.append(chunk, qsizetype(n));
        return true;
    };
    bool open = true;
    while (open && !m_stopping) {
        int end;
        while ((end = buffer.indexOf("\r\n\r\n")) < 0) {
            if (!readMore()) {
                open = false;
                break;
            }
        }
        if (!open)
            break;
        KRTestRequest req;
        req.connection = number;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        buffer.remove(0, end + 4);
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        req.method = first.value(0);
        req.target = first.value(1);
        req.version = first.value(2);
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const int colon = line.indexOf(':');
            if (colon > 0)
                req.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        const qint64 length = req.header("Content-Length").toLongLong();
        req.bodyLength = length;
        bool discard = false;
        {
            std::lock_guard<std::mutex> g(m_mutex);
            discard = m_discardPaths.contains(req.path());
        }
        if (discard) {
            qint64 left = length - std::min<qint64>(length, buffer.size());
            buffer.remove(0, std::min<qint64>(length, buffer.size()));
            while (left > 0) {
                const ssize_t n = ::recv(fd, chunk, size_t(std::min<qint64>(left, qint64(sizeof chunk))), 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                left -= n;
            }
        }
        while (!discard && buffer.size() < length) {
            if (!readMore()) {
                open = false;
                break;
            }
        }
        if (!open)
            break;
        if (!discard) {
            req.body = buffer.left(length);
            buffer.remove(0, length);
        }

        Handler handler;
        {
            std::lock_guard<std::mutex> g(m_mutex);
            m_log.append(req);
            auto it = m_routes.find(req.path());
            handler = it != m_routes.end() ? it->second : m_fallback;
        }
        KRTestResponse resp = handler(req);
        if (resp.stall) {
            waitForStop();
            break;
        }
        QByteArray body = resp.body;
        if (resp.gzip) {
            body = gzip(body);
            resp.header("Content-Encoding", "gzip");
        }
        const bool generated = resp.generatedBodyLength >= 0;
        const qint64 bodyLength = generated ? resp.generatedBodyLength : body.size();
        const bool headOnly = req.method == "HEAD";
        const bool noBody = resp.status == 304 || resp.status == 204;
        QByteArray head = resp.version + ' ' + QByteArray::number(resp.status) + ' '
                          + (resp.reason.isEmpty() ? reasonFor(resp.status) : resp.reason) + "\r\n";
        for (const auto &h : resp.headers)
            head += h.first + ": " + h.second + "\r\n";
        if (resp.chunked)
            head += "Transfer-Encoding: chunked\r\n";
        else if (!resp.noContentLength && !noBody)
            head += "Content-Length: " + QByteArray::number(bodyLength) + "\r\n";
        const bool closeAfter = resp.close || resp.noContentLength || resp.dropAfterBodyBytes >= 0
                                || (resp.version == "HTTP/1.0" && !resp.headers.contains({"Connection", "keep-alive"}));
        if (resp.close)
            head += "Connection: close\r\n";
        head += "\r\n";
        if (!sendAll(fd, head.constData(), head.size()))
            break;
        if (resp.stallAfterHeaders) {
            waitForStop();
            break;
        }
        if (!headOnly && !noBody) {
            qint64 limit = resp.dropAfterBodyBytes >= 0 ? std::min(resp.dropAfterBodyBytes, bodyLength) : bodyLength;
            if (generated) {
                static const QByteArray pattern = [] {
                    QByteArray p(262144, Qt::Uninitialized);
                    for (int i = 0; i < p.size(); ++i)
                        p[i] = char('a' + i % 26);
                    return p;
                }();
                qint64 sent = 0;
                bool ok = true;
                while (ok && sent < limit) {
                    const qint64 n = std::min<qint64>(pattern.size(), limit - sent);
                    ok = sendAll(fd, pattern.constData(), n);
                    sent += n;
                }
                if (!ok)
                    break;
            } else if (resp.dripIntervalMs > 0) {
                bool ok = true;
                for (qint64 at = 0; ok && at < limit && !m_stopping.load(); ++at) {
                    ok = sendAll(fd, body.constData() + at, 1);
                    std::this_thread::sleep_for(std::chrono::milliseconds(resp.dripIntervalMs));
                }
                if (!ok)
                    break;
            } else if (resp.chunked) {
                QByteArray out;
                for (qint64 off = 0; off < body.size(); off += 7) {
                    const QByteArray piece = body.mid(off, 7);
                    out += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
                }
                out += "0\r\n\r\n";
                if (!sendAll(fd, out.constData(), out.size()))
                    break;
            } else if (!sendAll(fd, body.constData(), limit)) {
                break;
            }
        }
        if (closeAfter)
            break;
    }
    ::shutdown(fd, SHUT_RDWR);
    std::lock_guard<std::mutex> g(m_threadsMutex);
    m_openFds.erase(std::remove(m_openFds.begin(), m_openFds.end(), fd), m_openFds.end());
    ::close(fd);
}

KRTestResponse KRTestHTTPServer::basicAuth(const KRTestRequest &r, const QByteArray &user, const QByteArray &password,
                                           const QByteArray &realm, const KRTestResponse &ok, bool proxy)
{
    const QByteArray expected = "Basic " + (user + ':' + password).toBase64();
    if (!proxy && r.header("Authorization") == expected)
        return ok;
    if (proxy && r.header("Proxy-Authorization") == expected)
        return ok;
    KRTestResponse resp = KRTestResponse::text("auth needed", proxy ? 407 : 401);
    resp.header(proxy ? "Proxy-Authenticate" : "WWW-Authenticate", "Basic realm=\"" + realm + "\"");
    return resp;
}

static QMap<QByteArray, QByteArray> parseAuthParams(QByteArray v)
{
    QMap<QByteArray, QByteArray> out;
    v = v.mid(v.indexOf(' ') + 1);
    int i = 0;
    while (i < v.size()) {
        while (i < v.size() && (v[i] == ' ' || v[i] == ','))
            ++i;
        const int eq = v.indexOf('=', i);
        if (eq < 0)
            break;
        const QByteArray key = v.mid(i, eq - i).trimmed();
        i = eq + 1;
        QByteArray value;
        if (i < v.size() && v[i] == '"') {
            const int close = v.indexOf('"', i + 1);
            value = v.mid(i + 1, close - i - 1);
            i = close + 1;
        } else {
            const int comma = v.indexOf(',', i);
            value = v.mid(i, (comma < 0 ? v.size() : comma) - i).trimmed();
            i = comma < 0 ? v.size() : comma;
        }
        out.insert(key, value);
    }
    return out;
}

KRTestResponse KRTestHTTPServer::digestAuth(const KRTestRequest &r, const QByteArray &user, const QByteArray &password,
                                            const QByteArray &realm, const KRTestResponse &ok)
{
    const QByteArray auth = r.header("Authorization");
    auto md5 = [](const QByteArray &d) { return QCryptographicHash::hash(d, QCryptographicHash::Md5).toHex(); };
    if (auth.startsWith("Digest ")) {
        const auto p = parseAuthParams(auth);
        const QByteArray ha1 = md5(user + ':' + realm + ':' + password);
        const QByteArray ha2 = md5(r.method + ':' + p.value("uri"));
        const QByteArray expected = md5(ha1 + ':' + p.value("nonce") + ':' + p.value("nc") + ':' + p.value("cnonce") + ":auth:" + ha2);
        if (p.value("username") == user && p.value("qop") == "auth" && p.value("uri") == r.target && p.value("response") == expected)
            return ok;
    }
    int nonce;
    {
        std::lock_guard<std::mutex> g(m_mutex);
        nonce = ++m_nonceCounter;
    }
    KRTestResponse resp = KRTestResponse::text("auth needed", 401);
    resp.header("WWW-Authenticate", "Digest realm=\"" + realm + "\", qop=\"auth\", nonce=\"n" + QByteArray::number(nonce)
                                        + "\", opaque=\"op\", algorithm=MD5");
    return resp;
}

KRTestResponse KRTestHTTPServer::range(const KRTestRequest &r, const QByteArray &body, bool honourRange)
{
    const QByteArray range = r.header("Range");
    if (honourRange && range.startsWith("bytes=") && range.endsWith('-')) {
        const qint64 from = range.mid(6, range.size() - 7).toLongLong();
        KRTestResponse resp;
        resp.status = 206;
        resp.body = body.mid(from);
        resp.header("Content-Range", "bytes " + QByteArray::number(from) + '-' + QByteArray::number(body.size() - 1) + '/'
                                         + QByteArray::number(body.size()));
        return resp;
    }
    KRTestResponse resp;
    resp.body = body;
    return resp;
}

KRTestResponse KRTestHTTPServer::cacheable(const KRTestRequest &r, const QByteArray &body, const QByteArray &etag,
                                           const QByteArray &cacheControl)
{
    KRTestResponse resp;
    if (r.header("If-None-Match") == etag) {
        resp.status = 304;
    } else {
        resp.body = body;
        resp.header("Content-Type", "image/png");
    }
    resp.header("Etag", etag);
    if (!cacheControl.isEmpty())
        resp.header("Cache-Control", cacheControl);
    return resp;
}

void KRTestHTTPServer::installHostingAPI()
{
    route("/api.php", [](const KRTestRequest &r) {
        const QByteArray method = r.queryItem("method");
        QJsonParseError error;
        const QJsonDocument args = QJsonDocument::fromJson(r.body, &error);
        if (r.method != "POST" || !args.isObject())
            return KRTestResponse::text("{\"result\":\"ERR\",\"errortext\":\"bad request\"}", 400, "application/json");
        QJsonObject reply;
        if (method == "sampleGallery") {
            QJsonArray samples;
            QJsonObject s;
            s.insert(QStringLiteral("name"), QStringLiteral("Café menu"));
            s.insert(QStringLiteral("description"), QStringLiteral("A small menu — with prices"));
            s.insert(QStringLiteral("url"), QStringLiteral("samples/cafe.zip"));
            s.insert(QStringLiteral("image"), QStringLiteral("samples/cafe.png"));
            s.insert(QStringLiteral("imageThumb"), QStringLiteral("samples/cafe-thumb.png"));
            s.insert(QStringLiteral("isNew"), true);
            samples.append(s);
            reply.insert(QStringLiteral("result"), QStringLiteral("OK"));
            reply.insert(QStringLiteral("samples"), samples);
        } else if (method == "feedURL") {
            reply.insert(QStringLiteral("result"), QStringLiteral("OK"));
            reply.insert(QStringLiteral("feedURL"), QStringLiteral("news/feed.rss"));
        } else if (method == "crashReport") {
            const bool ok = args.object().contains(QStringLiteral("crashReportBase64"));
            reply.insert(QStringLiteral("result"), ok ? QStringLiteral("OK") : QStringLiteral("ERR"));
            if (!ok)
                reply.insert(QStringLiteral("errortext"), QStringLiteral("no report"));
        } else {
            reply.insert(QStringLiteral("result"), QStringLiteral("ERR"));
            reply.insert(QStringLiteral("errortext"), QStringLiteral("unknown method"));
        }
        // No charset on purpose: JSON is UTF-8.
        return KRTestResponse::text(QJsonDocument(reply).toJson(QJsonDocument::Compact), 200, "application/json");
    });
    route("/news/feed.rss", [](const KRTestRequest &) {
        return KRTestResponse::text(newsFeed(), 200, "application/rss+xml");
    });
}

QByteArray KRTestHTTPServer::newsFeed(int itemCount)
{
    static const char *const titles[] = {"Version 2 is out", "Tips & tricks: grids", "Café meet-up"};
    static const char *const days[] = {"Tue", "Wed", "Thu", "Fri", "Sat", "Sun", "Mon"}; // 1-7 December 2026
    QByteArray rss = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                     "<title>News</title><link>https://news.example.com/</link>";
    for (int i = 0; i < itemCount; ++i) {
        const QByteArray title = QByteArray(titles[i % 3]).replace("&", "&amp;");
        rss += "<item><title>" + title + (i >= 3 ? " " + QByteArray::number(i) : QByteArray())
            + "</title><description>&lt;p&gt;Item " + QByteArray::number(i)
            + " of the news.&lt;/p&gt;</description><published>" + days[i % 7] + " Dec 0" + QByteArray::number(1 + i % 7)
            + " 10:30:00 +0000 2026</published><link>https://news.example.com/post?id=" + QByteArray::number(i)
            + "&amp;ref=app%20feed</link></item>";
    }
    return rss + "</channel></rss>\n";
}

QByteArray KRTestHTTPServer::gzip(const QByteArray &data)
{
    z_stream z{};
    deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 32, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray KRTestHTTPServer::gunzip(const QByteArray &data)
{
    z_stream z{};
    inflateInit2(&z, 47);
    QByteArray out;
    char buf[65536];
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef *>(buf);
        z.avail_out = sizeof buf;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buf, qsizetype(sizeof buf - z.avail_out));
        if (status == Z_BUF_ERROR)
            break;
    }
    inflateEnd(&z);
    return out;
}

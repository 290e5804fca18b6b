#include "NetPACScript.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QJSEngine>
#include <QNetworkInterface>
#include <QObject>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// The longest a single host-name look-up may take; the script's deadline may cut it shorter.
constexpr auto maximumLookupTime = std::chrono::seconds(2);

// Native helpers the script prelude calls.
class PACHelpers : public QObject
{
    Q_OBJECT
public:
    explicit PACHelpers(Clock::time_point deadline) : m_deadline(deadline) {}

    // The system resolver cannot be told to give up, so it runs on a thread of its own that
    // is left to finish alone when the answer comes too late.
    Q_INVOKABLE QString dnsResolve(const QString &host) const
    {
        QHostAddress literal(host);
        if (!literal.isNull())
            return literal.toString();
        struct Lookup {
            std::mutex mutex;
            std::condition_variable done;
            bool finished = false;
            QString address;
        };
        const auto wait = std::min<Clock::duration>(maximumLookupTime, m_deadline - Clock::now());
        if (wait <= Clock::duration::zero())
            return {};
        auto lookup = std::make_shared<Lookup>();
        std::thread([lookup, host] {
            QString address;
            const QHostInfo info = QHostInfo::fromName(host);
            for (const QHostAddress &a : info.addresses()) {
                if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                    address = a.toString();
                    break;
                }
            }
            std::lock_guard<std::mutex> g(lookup->mutex);
            lookup->address = address;
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
        std::unique_lock<std::mutex> lock(lookup->mutex);
        lookup->done.wait_for(lock, wait, [&] { return lookup->finished; });
        return lookup->address;
    }
    Q_INVOKABLE QString myIpAddress() const
    {
        for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                return a.toString();
        }
        return QStringLiteral("127.0.0.1");
    }

private:
    Clock::time_point m_deadline;
};

// Interrupts the script engine when the deadline passes before the watchdog is dismissed.
class Watchdog
{
public:
    Watchdog(QJSEngine &engine, Clock::time_point deadline)
        : m_thread([this, &engine, deadline] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_done.wait_until(lock, deadline, [this] { return m_dismissed; }))
                  engine.setInterrupted(true);
          })
    {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> g(m_mutex);
            m_dismissed = true;
        }
        m_done.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_dismissed = false;
    std::thread m_thread; // last: starts once the rest is ready
};

const char *prelude = R"JS(
function dnsResolve(host) { var r = __pac.dnsResolve(host); return r === "" ? null : r; }
function myIpAddress() { return __pac.myIpAddress(); }
function isPlainHostName(host) { return host.indexOf('.') < 0; }
function dnsDomainIs(host, domain) { return host.length >= domain.length && host.substring(host.length - domain.length) === domain; }
function localHostOrDomainIs(host, hostdom) { return host === hostdom || hostdom.lastIndexOf(host + '.', 0) === 0; }
function isResolvable(host) { return dnsResolve(host) !== null; }
function __ip(a) { var p = a.split('.'); if (p.length !== 4) return null; var n = 0; for (var i = 0; i < 4; i++) n = n * 256 + (parseInt(p[i], 10) >>> 0); return n >>> 0; }
function isInNet(host, pattern, mask) { var ip = /^\d+\.\d+\.\d+\.\d+$/.test(host) ? host : dnsResolve(host); if (!ip) return false; var h = __ip(ip), p = __ip(pattern), m = __ip(mask); return ((h & m) >>> 0) === ((p & m) >>> 0); }
function dnsDomainLevels(host) { return host.split('.').length - 1; }
function shExpMatch(str, shexp) { var re = '^' + shexp.replace(/[.+^${}()|[\]\\]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.') + '$'; return new RegExp(re).test(str); }
function weekdayRange() { return true; }
function dateRange() { return true; }
function timeRange() { return true; }
)JS";

} // namespace

QList<NetPACProxy> NetPACScript::parseResult(const QString &result)
{
    QList<NetPACProxy> out;
    for (const QString &entry : result.split(u';', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.trimmed().split(u' ', Qt::SkipEmptyParts);
        if (parts.isEmpty())
            continue;
        const QString kind = parts.first().toUpper();
        NetPACProxy p;
        if (kind == QLatin1String("DIRECT")) {
            out << p;
            continue;
        }
        if (parts.size() < 2)
            continue;
        const int colon = parts[1].lastIndexOf(u':');
        p.direct = false;
        p.socks = kind.startsWith(QLatin1String("SOCKS"));
        p.host = colon > 0 ? parts[1].left(colon) : parts[1];
        p.port = colon > 0 ? parts[1].mid(colon + 1).toInt() : (p.socks ? 1080 : 80);
        out << p;
    }
    return out;
}

QList<NetPACProxy> NetPACScript::proxiesForURL(const QString &script, const QUrl &url, std::chrono::milliseconds timeLimit)
{
    const Clock::time_point deadline = Clock::now() + timeLimit;
    QJSEngine engine;
    PACHelpers helpers(deadline);
    Watchdog watchdog(engine, deadline);
    QJSEngine::setObjectOwnership(&helpers, QJSEngine::CppOwnership);
    engine.globalObject().setProperty(QStringLiteral("__pac"), engine.newQObject(&helpers));
    engine.evaluate(QString::fromUtf8(prelude));
    QJSValue loaded = engine.evaluate(script);
    if (loaded.isError())
        return {};
    QJSValue fn = engine.globalObject().property(QStringLiteral("FindProxyForURL"));
    if (!fn.isCallable())
        return {};
    QJSValue result = fn.call({QJSValue(url.toString()), QJSValue(url.host())});
    // The helper object belongs to this function; the engine must not delete it.
    engine.globalObject().deleteProperty(QStringLiteral("__pac"));
    if (result.isError() || !result.isString())
        return {};
    return parseResult(result.toString());
}

#include "NetPACScript.moc"

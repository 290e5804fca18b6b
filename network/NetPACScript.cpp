#include "NetPACScript.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QJSEngine>
#include <QNetworkInterface>
#include <QObject>

namespace {

// Native helpers the script prelude calls.
class PACHelpers : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE QString dnsResolve(const QString &host) const
    {
        QHostAddress literal(host);
        if (!literal.isNull())
            return literal.toString();
        const QHostInfo info = QHostInfo::fromName(host);
        for (const QHostAddress &a : info.addresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
                return a.toString();
        }
        return {};
    }
    Q_INVOKABLE QString myIpAddress() const
    {
        for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                return a.toString();
        }
        return QStringLiteral("127.0.0.1");
    }
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

QList<NetPACProxy> NetPACScript::proxiesForURL(const QString &script, const QUrl &url)
{
    QJSEngine engine;
    PACHelpers helpers;
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

#include "NetAuthChallenge.h"

#include <core/KRDataExtensions.h>

#include <QRandomGenerator>

namespace {

struct Parsed {
    QString scheme;
    QMap<QString, QString> params;
};

// Splits "Digest realm="a, b", nonce=x, Basic realm=y" into challenges.
QList<Parsed> parseChallenges(const QString &text)
{
    QList<Parsed> out;
    int i = 0;
    const int n = text.size();
    auto skipSpace = [&] { while (i < n && (text[i] == u' ' || text[i] == u'\t' || text[i] == u',')) ++i; };
    while (i < n) {
        skipSpace();
        int start = i;
        while (i < n && text[i] != u' ' && text[i] != u',' && text[i] != u'=')
            ++i;
        if (i == start)
            break;
        QString token = text.mid(start, i - start);
        if (i < n && text[i] == u'=') {
            // a parameter of the current challenge
            ++i;
            QString value;
            if (i < n && text[i] == u'"') {
                ++i;
                while (i < n && text[i] != u'"') {
                    if (text[i] == u'\\' && i + 1 < n)
                        ++i;
                    value += text[i++];
                }
                ++i;
            } else {
                int vs = i;
                while (i < n && text[i] != u',')
                    ++i;
                value = text.mid(vs, i - vs).trimmed();
            }
            if (!out.isEmpty())
                out.last().params.insert(token.toLower(), value);
        } else {
            out.append({token, {}});
        }
    }
    return out;
}

int rank(const QString &scheme)
{
    if (scheme.compare(QLatin1String("Digest"), Qt::CaseInsensitive) == 0)
        return 3;
    if (scheme.compare(QLatin1String("NTLM"), Qt::CaseInsensitive) == 0)
        return 2;
    if (scheme.compare(QLatin1String("Basic"), Qt::CaseInsensitive) == 0)
        return 1;
    return 0;
}

QByteArray md5Hex(const QByteArray &data)
{
    return KRData::MD5String(data).toLatin1();
}

} // namespace

std::shared_ptr<NetAuthChallenge> NetAuthChallenge::fromHeaderValues(const QStringList &values)
{
    if (values.isEmpty())
        return nullptr;
    QList<Parsed> all;
    for (const QString &v : values)
        all += parseChallenges(v);
    if (all.isEmpty())
        return nullptr;
    const Parsed *best = &all.first();
    for (const Parsed &p : all) {
        if (rank(p.scheme) > rank(best->scheme))
            best = &p;
    }
    auto c = std::make_shared<NetAuthChallenge>();
    switch (rank(best->scheme)) {
    case 3: c->m_scheme = QStringLiteral("Digest"); break;
    case 2: c->m_scheme = QStringLiteral("NTLM"); break;
    case 1: c->m_scheme = QStringLiteral("Basic"); break;
    default: c->m_scheme = best->scheme; break;
    }
    c->m_params = best->params;
    return c;
}

bool NetAuthChallenge::isUsable() const
{
    if (rank(m_scheme) == 0)
        return false;
    if (m_scheme == QLatin1String("Digest")) {
        const QString algorithm = param(QStringLiteral("algorithm"));
        if (!algorithm.isEmpty() && algorithm.compare(QLatin1String("MD5"), Qt::CaseInsensitive) != 0
            && algorithm.compare(QLatin1String("MD5-sess"), Qt::CaseInsensitive) != 0)
            return false;
        return !param(QStringLiteral("nonce")).isEmpty();
    }
    return true;
}

QByteArray NetAuthChallenge::basicValue(const QString &user, const QString &password)
{
    return "Basic " + QStringLiteral("%1:%2").arg(user, password).toUtf8().toBase64();
}

bool NetAuthChallenge::splitDomainUser(const QString &name, QString *domain, QString *user)
{
    if (name.count(u'\\') != 1)
        return false;
    const int i = name.indexOf(u'\\');
    *domain = name.left(i);
    *user = name.mid(i + 1);
    return true;
}

QByteArray NetAuthChallenge::authorizationValue(const QString &method, const QByteArray &uri, const QString &user,
                                                const QString &password)
{
    if (m_scheme == QLatin1String("Basic"))
        return basicValue(user, password);
    if (m_scheme != QLatin1String("Digest"))
        return {};
    const QByteArray realmB = realm().toUtf8();
    const QByteArray nonce = param(QStringLiteral("nonce")).toUtf8();
    const QByteArray opaque = param(QStringLiteral("opaque")).toUtf8();
    const QString algorithm = param(QStringLiteral("algorithm"));
    const bool sess = algorithm.compare(QLatin1String("MD5-sess"), Qt::CaseInsensitive) == 0;
    bool qopAuth = false;
    for (const QString &q : param(QStringLiteral("qop")).split(u',')) {
        if (q.trimmed() == QLatin1String("auth"))
            qopAuth = true;
    }
    const QByteArray cnonce = QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    int count = 0;
    {
        std::lock_guard<std::mutex> g(m_nonceMutex);
        count = ++m_nonceCount;
    }
    const QByteArray nc = QByteArray::number(count, 16).rightJustified(8, '0');
    QByteArray ha1 = md5Hex(user.toUtf8() + ':' + realmB + ':' + password.toUtf8());
    if (sess)
        ha1 = md5Hex(ha1 + ':' + nonce + ':' + cnonce);
    const QByteArray ha2 = md5Hex(method.toUtf8() + ':' + uri);
    const QByteArray response = qopAuth ? md5Hex(ha1 + ':' + nonce + ':' + nc + ':' + cnonce + ":auth:" + ha2)
                                        : md5Hex(ha1 + ':' + nonce + ':' + ha2);
    auto quote = [](QByteArray v) { return '"' + v.replace('\\', "\\\\").replace('"', "\\\"") + '"'; };
    QByteArray out = "Digest username=" + quote(user.toUtf8()) + ", realm=" + quote(realmB) + ", nonce=" + quote(nonce)
                     + ", uri=" + quote(uri) + ", response=" + quote(response);
    if (!algorithm.isEmpty())
        out += ", algorithm=" + algorithm.toUtf8();
    if (!opaque.isEmpty())
        out += ", opaque=" + quote(opaque);
    if (qopAuth)
        out += ", qop=auth, nc=" + nc + ", cnonce=" + quote(cnonce);
    return out;
}

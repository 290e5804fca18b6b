#include "KRScriptCache.h"

#include <QCryptographicHash>

KRScriptCache &KRScriptCache::sharedInstance()
{
    static KRScriptCache cache;
    return cache;
}

QByteArray KRScriptCache::keyOf(const QString &prefix, const QString &source)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray head = prefix.toUtf8();
    // The prefix's length first, so that no prefix and text run into another pair's.
    hash.addData(QByteArray::number(head.size()) + ':' + head);
    hash.addData(QByteArrayView(reinterpret_cast<const char *>(source.constData()), source.size() * qsizetype(sizeof(QChar))));
    return hash.result();
}

void KRScriptCache::makeRoom(qint64 characters)
{
    if (m_characters + characters <= maximumCharacters)
        return;
    m_minified.clear();
    m_findings.clear();
    m_characters = 0;
}

std::optional<QString> KRScriptCache::minified(const QString &source) const
{
    const QByteArray key = keyOf(QString(), source);
    const std::lock_guard lock(m_lock);
    const auto found = m_minified.constFind(key);
    if (found == m_minified.cend())
        return std::nullopt;
    return *found;
}

void KRScriptCache::setMinified(const QString &source, const QString &minified)
{
    const QByteArray key = keyOf(QString(), source);
    const std::lock_guard lock(m_lock);
    makeRoom(minified.size());
    m_characters += minified.size();
    m_minified.insert(key, minified);
}

std::optional<QVariantList> KRScriptCache::findings(const QString &optionsKey, const QString &source) const
{
    const QByteArray key = keyOf(QStringLiteral("check ") + optionsKey, source);
    const std::lock_guard lock(m_lock);
    const auto found = m_findings.constFind(key);
    if (found == m_findings.cend())
        return std::nullopt;
    return *found;
}

void KRScriptCache::setFindings(const QString &optionsKey, const QString &source, const QVariantList &findings)
{
    const QByteArray key = keyOf(QStringLiteral("check ") + optionsKey, source);
    // A finding list costs about what its text does; a clean one next to nothing.
    const qint64 characters = 64 + findings.size() * 256;
    const std::lock_guard lock(m_lock);
    makeRoom(characters);
    m_characters += characters;
    m_findings.insert(key, findings);
}

void KRScriptCache::clear()
{
    const std::lock_guard lock(m_lock);
    m_minified.clear();
    m_findings.clear();
    m_characters = 0;
}

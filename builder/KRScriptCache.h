#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariantList>

#include <mutex>
#include <optional>

// What the syntax check and the minifier answered for a text, kept in memory by the text's
// content, so that a rebuild asks the local runtime server only about what changed since. A
// finding list is kept under the checked text and the options it was checked with. Safe to
// use from several threads at once. Bounded: past `maximumCharacters` of kept text the cache
// starts afresh.
class KRScriptCache
{
public:
    static constexpr qint64 maximumCharacters = qint64(16) << 20;

    // The application's cache, shared by its windows.
    static KRScriptCache &sharedInstance();

    std::optional<QString> minified(const QString &source) const;
    void setMinified(const QString &source, const QString &minified);

    // `optionsKey`: the options' text (e.g. their JSON), part of the key.
    std::optional<QVariantList> findings(const QString &optionsKey, const QString &source) const;
    void setFindings(const QString &optionsKey, const QString &source, const QVariantList &findings);

    void clear();

private:
    static QByteArray keyOf(const QString &prefix, const QString &source);
    void makeRoom(qint64 characters);

    mutable std::mutex m_lock;
    QHash<QByteArray, QString> m_minified;
    QHash<QByteArray, QVariantList> m_findings;
    qint64 m_characters = 0;
};

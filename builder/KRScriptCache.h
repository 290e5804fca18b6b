#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariantList>

#include <mutex>
#include <optional>

// What the syntax check and the minifier answered for a text, kept by the text's content, so
// that a rebuild asks the local runtime server only about what changed since. A finding list
// is kept under the checked text and the options it was checked with. Safe to use from several
// threads at once.
//
// In memory: bounded, past `maximumCharacters` of kept text the memory starts afresh. On disk
// (once given a folder): every answer is also written there, one file each, under the versions
// of the tools that gave it, so that the application's next run (another cache on the same
// folder and tools) finds what this one learnt and the first build after reopening a project
// costs only what changed. The folder is bounded as well: past `maximumBytes` on disk (a small
// file takes a whole block) the files used least lately are removed. A file that cannot be read, or whose content does not match its
// checksum, counts as not there (and is removed); a file that cannot be written is left out.
class KRScriptCache
{
public:
    static constexpr qint64 maximumCharacters = qint64(16) << 20;
    static constexpr qint64 defaultMaximumDiskBytes = qint64(64) << 20;

    KRScriptCache() = default;
    KRScriptCache(const KRScriptCache &) = delete;
    KRScriptCache &operator=(const KRScriptCache &) = delete;

    // The application's cache, shared by its windows; it keeps its answers in "Scripts" in the
    // caches folder (~/.cache/Korvane) under toolsKey(), when both are known.
    static KRScriptCache &sharedInstance();

    // Keeps the answers in `folder` as well (made when missing), under `toolsKey`; answers
    // kept there under another key are not seen. Call before the cache is used.
    void setPersistentFolder(const QString &folder, const QByteArray &toolsKey,
                             qint64 maximumBytes = defaultMaximumDiskBytes);
    QString persistentFolder() const { return m_folder; }

    // What the local runtime server's answers depend on beyond a text and its options: the
    // versions of its syntax checker and minifier and the text of the script that runs them
    // (which sets the minifier's options). Empty when they cannot be read.
    static QByteArray toolsKey(const QString &localServerFolder);

    std::optional<QString> minified(const QString &source) const;
    void setMinified(const QString &source, const QString &minified);

    // `optionsKey`: the options' text (e.g. their JSON), part of the key.
    std::optional<QVariantList> findings(const QString &optionsKey, const QString &source) const;
    void setFindings(const QString &optionsKey, const QString &source, const QVariantList &findings);

    // Forgets what is kept in memory; the files stay.
    void clear();

private:
    static QByteArray keyOf(const QString &prefix, const QString &source);
    void makeRoom(qint64 characters) const; // with m_lock held

    // The file of `key`, or "" without a folder.
    QString fileOf(const QByteArray &key) const;
    std::optional<QByteArray> readEntry(const QByteArray &key, char kind) const;
    void writeEntry(const QByteArray &key, char kind, const QByteArray &payload);
    // Removes the files used least lately until the folder holds at most three quarters of
    // its bound, once it holds more than the bound.
    void keepFolderBounded(qint64 written);

    // What was read from the folder is kept in memory as well.
    mutable std::mutex m_lock;
    mutable QHash<QByteArray, QString> m_minified;
    mutable QHash<QByteArray, QVariantList> m_findings;
    mutable qint64 m_characters = 0;

    QString m_folder;
    QByteArray m_toolsKey;
    qint64 m_maximumBytes = defaultMaximumDiskBytes;
    std::mutex m_diskLock; // the folder's size and its trimming
    qint64 m_diskBytes = -1; // not counted yet
};

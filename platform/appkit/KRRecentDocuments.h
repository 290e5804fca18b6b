#pragma once

#include <QString>
#include <QStringList>

class KRUserDefaults;

// The list of recently opened documents, stored in the user defaults as absolute paths, the
// most recent first, each once, at most maximumCount() long.
class KRRecentDocuments
{
public:
    static constexpr int DefaultMaximumCount = 10;

    explicit KRRecentDocuments(KRUserDefaults &defaults,
                               const QString &key = QStringLiteral("KRRecentDocumentPaths"),
                               int maximumCount = DefaultMaximumCount);

    QStringList paths() const;
    int maximumCount() const { return m_maximumCount; }

    // Puts the document first (moving it up when already listed) and drops the oldest beyond
    // the maximum. Paths are compared after making them absolute and clean.
    void noteDocument(const QString &path);
    void removeDocument(const QString &path);
    // Drops the entries whose file or folder no longer exists.
    void removeMissingDocuments();
    void clear();

private:
    void store(QStringList paths);

    KRUserDefaults &m_defaults; // not owned
    QString m_key;
    int m_maximumCount;
};

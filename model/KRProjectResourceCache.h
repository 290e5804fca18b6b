#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The modified-resource cache of a project: the edited, not yet saved bytes of each resource
// under its relative path, and the name of the text encoding they are in under the relative
// path followed by "//enc". The resource editor fills it; saving writes it; deleting or
// renaming a resource and a successful save drop the entries concerned.
class KRProjectResourceCache
{
public:
    static QString encodingKey(const QString &relativePath)
    {
        return relativePath + QStringLiteral("//enc");
    }

    // Stores the bytes and their encoding name ("UTF-8", "ISO-8859-1", "windows-1252", ...);
    // an empty name means UTF-8.
    void setContents(const QString &relativePath, const QByteArray &bytes, const QString &encoding);
    bool contains(const QString &relativePath) const;
    // The edited bytes; nullopt when the resource has none.
    std::optional<QByteArray> contents(const QString &relativePath) const;
    // The stored encoding name; empty when none was stored.
    QString encoding(const QString &relativePath) const;
    // Both entries of the path.
    void remove(const QString &relativePath);
    // The entries of the path and of everything below it (for a folder).
    void removeTree(const QString &relativePath);
    // Relative paths holding edited bytes, in key order.
    QStringList relativePaths() const;
    bool isEmpty() const { return m_entries.isEmpty(); }
    void clear() { m_entries.clear(); }

    // The raw entries under the exact keys above (bytes as QByteArray, encodings as QString).
    const QMap<QString, QVariant> &entries() const { return m_entries; }
    // The same, writable: the project hands it out as its modified-resource cache.
    QMap<QString, QVariant> &mutableEntries() { return m_entries; }

    // Decodes bytes in the named encoding (UTF-8 when empty). Nullopt for an encoding that
    // is not known or bytes that are not valid in it.
    static std::optional<QString> decode(const QByteArray &bytes, const QString &encoding);

private:
    QMap<QString, QVariant> m_entries;
};

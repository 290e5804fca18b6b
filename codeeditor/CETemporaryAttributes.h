#pragma once

#include "CERegex.h"

#include <QHash>
#include <QList>
#include <QVariantMap>

#include <vector>

// Attributes laid over a text without being part of it (syntax colours, the current-line
// highlight, marks such as "KRSyntaxErrorLineNumber"): never saved, never undone. Each UTF-16
// position carries one attribute dictionary; equal dictionaries are stored once, so reading
// and comparing the attributes at a position is cheap. Ranges are clamped to the text length,
// and edits (replace) keep the positions after them in step with the text.
class CETemporaryAttributes
{
public:
    inline static const QString foregroundColour = QStringLiteral("foregroundColour");
    inline static const QString backgroundColour = QStringLiteral("backgroundColour");

    CETemporaryAttributes();

    qsizetype length() const { return static_cast<qsizetype>(m_ids.size() - m_gapLength); }
    // Drops every attribute and sets the length.
    void reset(qsizetype length);
    // An edit of the text: `removed` units at `position` became `inserted` units, which carry
    // no attributes.
    void replace(qsizetype position, qsizetype removed, qsizetype inserted);

    void addAttributes(const QVariantMap &attributes, CERange range);
    void removeAttribute(const QString &key, CERange range);
    void removeAll() { reset(length()); }

    // The whole dictionary at a position (empty outside the text) and, optionally, the
    // widest range around it that carries the same dictionary.
    QVariantMap attributesAt(qsizetype position, CERange *effectiveRange = nullptr) const;
    QVariant attributeAt(const QString &key, qsizetype position) const { return attributesAt(position).value(key); }
    // Whether the dictionary at the position is exactly `attributes`.
    bool attributesEqual(qsizetype position, const QVariantMap &attributes) const;
    // A handle of a dictionary for quick comparisons with hasDictionary (valid for the
    // object's life).
    quint32 dictionaryHandle(const QVariantMap &attributes) { return intern(attributes); }
    bool hasDictionary(qsizetype position, quint32 handle) const
    {
        return position >= 0 && position < length() ? idAt(position) == handle : handle == 0;
    }
    // The runs of equal dictionaries covering the range, in order (for pushing into a layout).
    QList<QPair<CERange, QVariantMap>> runs(CERange range) const;
    // The same runs as lengths and dictionary handles: equal lists mean equal runs.
    QList<QPair<qsizetype, quint32>> runHandles(CERange range) const;

private:
    using Id = quint32;
    Id intern(const QVariantMap &attributes);
    Id findId(const QVariantMap &attributes) const;
    CERange clamp(CERange range) const;
    template <typename Transform>
    void transformRange(CERange range, quint64 operationKey, Transform transform);

    Id idAt(qsizetype position) const
    {
        const auto i = static_cast<size_t>(position);
        return m_ids[i < m_gapStart ? i : i + m_gapLength];
    }
    void moveGap(size_t to);

    // One id per UTF-16 unit, with a gap at the last edit: typing moves only the ids between
    // one edit and the next, not every id after the edit.
    std::vector<Id> m_ids;
    size_t m_gapStart = 0;
    size_t m_gapLength = 0;
    QList<QVariantMap> m_dictionaries;  // index 0 is the empty dictionary
    QHash<quint64, Id> m_transitions;   // (dictionary, operation) → dictionary
    QHash<QString, quint32> m_operations;
};

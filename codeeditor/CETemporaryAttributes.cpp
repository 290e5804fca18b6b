#include "CETemporaryAttributes.h"

#include <algorithm>

CETemporaryAttributes::CETemporaryAttributes()
{
    m_dictionaries.append(QVariantMap());
}

void CETemporaryAttributes::reset(qsizetype length)
{
    m_ids.assign(static_cast<size_t>(std::max<qsizetype>(0, length)), 0);
    m_gapStart = m_ids.size();
    m_gapLength = 0;
}

void CETemporaryAttributes::moveGap(size_t to)
{
    const auto begin = m_ids.begin();
    if (to < m_gapStart)
        std::move_backward(begin + qsizetype(to), begin + qsizetype(m_gapStart), begin + qsizetype(m_gapStart + m_gapLength));
    else if (to > m_gapStart)
        std::move(begin + qsizetype(m_gapStart + m_gapLength), begin + qsizetype(to + m_gapLength), begin + qsizetype(m_gapStart));
    m_gapStart = to;
}

void CETemporaryAttributes::replace(qsizetype position, qsizetype removed, qsizetype inserted)
{
    position = std::clamp<qsizetype>(position, 0, length());
    removed = std::clamp<qsizetype>(removed, 0, length() - position);
    const auto added = static_cast<size_t>(std::max<qsizetype>(0, inserted));
    moveGap(static_cast<size_t>(position));
    m_gapLength += static_cast<size_t>(removed); // the removed ids join the gap
    if (m_gapLength < added) {
        const size_t grow = added - m_gapLength + std::max<size_t>(1024, m_ids.size() / 16);
        m_ids.insert(m_ids.begin() + qsizetype(m_gapStart + m_gapLength), grow, 0);
        m_gapLength += grow;
    }
    std::fill_n(m_ids.begin() + qsizetype(m_gapStart), added, Id(0));
    m_gapStart += added;
    m_gapLength -= added;
}

CERange CETemporaryAttributes::clamp(CERange range) const
{
    const qsizetype start = std::clamp<qsizetype>(range.location, 0, length());
    const qsizetype end = std::clamp<qsizetype>(range.location + std::max<qsizetype>(0, range.length), start, length());
    return {start, end - start};
}

CETemporaryAttributes::Id CETemporaryAttributes::findId(const QVariantMap &attributes) const
{
    const qsizetype index = m_dictionaries.indexOf(attributes);
    return index < 0 ? Id(-1) : Id(index);
}

CETemporaryAttributes::Id CETemporaryAttributes::intern(const QVariantMap &attributes)
{
    const Id existing = findId(attributes);
    if (existing != Id(-1))
        return existing;
    m_dictionaries.append(attributes);
    return Id(m_dictionaries.size() - 1);
}

template <typename Transform>
void CETemporaryAttributes::transformRange(CERange range, quint64 operationKey, Transform transform)
{
    range = clamp(range);
    Id lastFrom = Id(-1);
    Id lastTo = 0;
    // The range in storage: the part before the gap, then the part after it.
    const auto start = static_cast<size_t>(range.location), end = static_cast<size_t>(range.end());
    const size_t segments[2][2] = {{start, std::min(end, m_gapStart)},
                                   {std::max(start, m_gapStart) + m_gapLength, std::max(end, m_gapStart) + m_gapLength}};
    for (const auto &segment : segments) {
        for (size_t i = segment[0]; i < segment[1]; ++i) {
            Id &id = m_ids[i];
            if (id != lastFrom) {
                lastFrom = id;
                const quint64 key = (quint64(id) << 32) | operationKey;
                auto found = m_transitions.constFind(key);
                if (found == m_transitions.constEnd()) {
                    QVariantMap changed = m_dictionaries.at(id);
                    transform(changed);
                    found = m_transitions.insert(key, intern(changed));
                }
                lastTo = *found;
            }
            id = lastTo;
        }
    }
}

void CETemporaryAttributes::addAttributes(const QVariantMap &attributes, CERange range)
{
    // An operation is named by the dictionary it adds (interned too) or the key it removes.
    const quint32 operation = 2 * intern(attributes);
    transformRange(range, operation, [&attributes](QVariantMap &map) { map.insert(attributes); });
}

void CETemporaryAttributes::removeAttribute(const QString &key, CERange range)
{
    auto found = m_operations.constFind(key);
    if (found == m_operations.constEnd())
        found = m_operations.insert(key, quint32(2 * m_operations.size() + 1));
    transformRange(range, *found, [&key](QVariantMap &map) { map.remove(key); });
}

QVariantMap CETemporaryAttributes::attributesAt(qsizetype position, CERange *effectiveRange) const
{
    if (position < 0 || position >= length()) {
        if (effectiveRange)
            *effectiveRange = {position, 0};
        return {};
    }
    const Id id = idAt(position);
    if (effectiveRange) {
        qsizetype start = position;
        while (start > 0 && idAt(start - 1) == id)
            --start;
        qsizetype end = position + 1;
        while (end < length() && idAt(end) == id)
            ++end;
        *effectiveRange = {start, end - start};
    }
    return m_dictionaries.at(id);
}

bool CETemporaryAttributes::attributesEqual(qsizetype position, const QVariantMap &attributes) const
{
    if (position < 0 || position >= length())
        return attributes.isEmpty();
    return m_dictionaries.at(idAt(position)) == attributes;
}

QList<QPair<CERange, QVariantMap>> CETemporaryAttributes::runs(CERange range) const
{
    range = clamp(range);
    QList<QPair<CERange, QVariantMap>> result;
    qsizetype i = range.location;
    for (const auto &[length, id] : runHandles(range)) {
        result.append({CERange{i, length}, m_dictionaries.at(id)});
        i += length;
    }
    return result;
}

QList<QPair<qsizetype, quint32>> CETemporaryAttributes::runHandles(CERange range) const
{
    range = clamp(range);
    QList<QPair<qsizetype, quint32>> result;
    qsizetype i = range.location;
    while (i < range.end()) {
        const Id id = idAt(i);
        qsizetype j = i + 1;
        while (j < range.end() && idAt(j) == id)
            ++j;
        result.append({j - i, id});
        i = j;
    }
    return result;
}

#include "KRLayoutCache.h"

KRLayoutCache::KRLayoutCache(QObject *parent) : QObject(parent) {}

KRNodeGeometry KRLayoutCache::geometryForNode(std::uint64_t nodeId) const
{
    const auto found = m_geometry.constFind(nodeId);
    if (found != m_geometry.cend())
        return *found;
    if (nodeId != 0 && m_ask && !m_asked.contains(nodeId)) {
        m_asked.insert(nodeId);
        m_ask(nodeId);
    }
    return {};
}

void KRLayoutCache::applyReport(const QVariantList &rows)
{
    QList<quint64> changed;
    qsizetype i = 0;
    while (i < rows.size()) {
        const QVariant head = rows.at(i);
        if (head.typeId() == QMetaType::QVariantList) { // a nested row
            const QVariantList row = head.toList();
            ++i;
            bool ok = false;
            const quint64 id = row.value(0).toULongLong(&ok);
            if (!ok || id == 0)
                continue;
            if (row.size() == 1) {
                if (m_geometry.remove(id))
                    changed.append(id);
                continue;
            }
            if (row.size() < RowLength)
                continue;
            KRNodeGeometry g;
            g.valid = true;
            int *ints[] = {&g.offsetLeft, &g.offsetTop, &g.offsetWidth, &g.offsetHeight,
                           &g.scrollWidth, &g.scrollHeight, &g.clientWidth, &g.clientHeight};
            for (int k = 0; k < 8; ++k)
                *ints[k] = qRound(row.at(k + 1).toDouble());
            g.clientLeft = row.at(9).toDouble();
            g.clientTop = row.at(10).toDouble();
            g.boundingWidth = row.at(11).toDouble();
            g.boundingHeight = row.at(12).toDouble();
            auto it = m_geometry.find(id);
            if (it == m_geometry.end() || !(*it == g)) {
                m_geometry.insert(id, g);
                changed.append(id);
            }
        } else {
            ++i; // not a row: skip it
        }
    }
    if (!changed.isEmpty())
        emit geometryDidChange(changed);
}

void KRLayoutCache::removeNode(std::uint64_t nodeId)
{
    m_geometry.remove(nodeId);
}

void KRLayoutCache::clear()
{
    m_geometry.clear();
}

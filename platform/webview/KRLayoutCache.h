#pragma once

#include <platform/dom/KRLayoutSource.h>

#include <functional>

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QVariantList>

// The layout source of a live view: the design agent measures the controls' elements, and the
// nodes read here, after every applied batch (and after the page changed itself, e.g. jQuery
// Mobile enhancing a widget) and sends the rows that changed; reads answer from the last
// report, which may be one batch behind the model. A node read before it was ever measured
// answers "not measured" and is asked for (see setAskHandler): the next report has it.
class KRLayoutCache : public QObject, public KRLayoutSource
{
    Q_OBJECT

public:
    // Numbers per row of a report, in this order: node id, offsetLeft, offsetTop, offsetWidth,
    // offsetHeight, scrollWidth, scrollHeight, clientWidth, clientHeight, bounding left, top,
    // width, height. A row with only the node id means the node left the view.
    static constexpr int RowLength = 13;

    explicit KRLayoutCache(QObject *parent = nullptr);

    KRNodeGeometry geometryForNode(std::uint64_t nodeId) const override;
    int count() const { return int(m_geometry.size()); }

    // Applies a report (a flat list of rows); malformed rows are skipped.
    void applyReport(const QVariantList &rows);
    void removeNode(std::uint64_t nodeId);
    // Forgets the geometry (a new load of the view); the nodes asked for stay asked for.
    void clear();

    // Called once for each node read here that has no geometry, so that the view measures it
    // from then on.
    void setAskHandler(std::function<void(quint64)> ask) { m_ask = std::move(ask); }
    QList<quint64> askedNodes() const { return m_asked.values(); }
    // Another document: its nodes are asked for anew.
    void forgetAskedNodes() { m_asked.clear(); }

signals:
    // The nodes whose geometry changed in one report.
    void geometryDidChange(const QList<quint64> &nodeIds);

private:
    QHash<quint64, KRNodeGeometry> m_geometry;
    std::function<void(quint64)> m_ask;
    mutable QSet<quint64> m_asked;
};

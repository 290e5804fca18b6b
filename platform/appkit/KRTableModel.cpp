#include "KRTableModel.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

#include <algorithm>
#include <utility>

void KRTableModelBase::setSelectionIndexes(QList<int> rows)
{
    const int count = rowCount();
    rows.erase(std::remove_if(rows.begin(), rows.end(), [count](int r) { return r < 0 || r >= count; }),
               rows.end());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows == m_selection)
        return;
    m_selection = std::move(rows);
    pushSelectionToViews();
    emit selectionChanged();
}

void KRTableModelBase::rowsWillBeInserted(int first, int count)
{
    for (int &row : m_selection) {
        if (row >= first)
            row += count;
    }
}

void KRTableModelBase::rowsWillBeRemoved(int first, int count)
{
    QList<int> kept;
    for (int row : std::as_const(m_selection)) {
        if (row < first)
            kept.append(row);
        else if (row >= first + count)
            kept.append(row - count);
    }
    const bool changed = kept.size() != m_selection.size();
    m_selection = std::move(kept);
    // The views drop the removed rows themselves; only a lost selected row is news.
    if (changed)
        emit selectionChanged();
}

void KRTableModelBase::allRowsWillBeReplaced()
{
    if (m_selection.isEmpty())
        return;
    m_selection.clear();
    emit selectionChanged();
}

void KRTableModelBase::attachView(QAbstractItemView *view)
{
    view->setModel(this);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_views.append(view);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, view] { pullSelectionFromView(view); });
    pushSelectionToViews();
}

void KRTableModelBase::pushSelectionToViews()
{
    if (m_syncing)
        return;
    const bool wasSyncing = std::exchange(m_syncing, true);
    for (const QPointer<QAbstractItemView> &view : std::as_const(m_views)) {
        if (!view || view->model() != this)
            continue;
        QItemSelection selection;
        for (int row : std::as_const(m_selection))
            selection.select(index(row, 0), index(row, std::max(0, columnCount() - 1)));
        view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    m_syncing = wasSyncing;
}

void KRTableModelBase::pullSelectionFromView(QAbstractItemView *view)
{
    if (m_syncing)
        return;
    QList<int> rows;
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    for (const QModelIndex &index : selected)
        rows.append(index.row());
    // Also brings the other attached views along.
    setSelectionIndexes(std::move(rows));
}

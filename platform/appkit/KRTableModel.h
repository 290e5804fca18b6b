#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <utility>

class QAbstractItemView;

// The part of a table model that does not depend on the row type: the selection, kept as
// sorted row indexes and carried along when rows are inserted or removed, and its link to
// item views.
class KRTableModelBase : public QAbstractTableModel
{
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    // Selected rows, ascending, each valid.
    const QList<int> &selectionIndexes() const { return m_selection; }
    // The first selected row, -1 when none.
    int selectionIndex() const { return m_selection.isEmpty() ? -1 : m_selection.first(); }
    // Rows out of range are dropped; duplicates count once.
    void setSelectionIndexes(QList<int> rows);
    void setSelectionIndex(int row) { setSelectionIndexes(row < 0 ? QList<int>{} : QList<int>{row}); }

    // Shows the model in the view and keeps the view's row selection and this one in step.
    void attachView(QAbstractItemView *view);

signals:
    void selectionChanged();

protected:
    void rowsWillBeInserted(int first, int count);
    void rowsWillBeRemoved(int first, int count);
    void allRowsWillBeReplaced();

private:
    void pushSelectionToViews();
    void pullSelectionFromView(QAbstractItemView *view);

    QList<int> m_selection;
    QList<QPointer<QAbstractItemView>> m_views;
    bool m_syncing = false;
};

// One column of a KRTableModel: it reads a row for a role; with a setter it is editable.
template <typename Row>
struct KRTableColumn {
    QString title;
    std::function<QVariant(const Row &row, int role)> value;
    std::function<bool(Row &row, const QVariant &value)> setValue;
};

// A table over a list of rows of any type.
template <typename Row>
class KRTableModel : public KRTableModelBase
{
public:
    using Column = KRTableColumn<Row>;

    explicit KRTableModel(QList<Column> columns, QObject *parent = nullptr)
        : KRTableModelBase(parent), m_columns(std::move(columns))
    {
    }

    const QList<Row> &rows() const { return m_rows; }
    const Row &at(int row) const { return m_rows.at(row); }
    int count() const { return static_cast<int>(m_rows.size()); }

    // Replaces every row; the selection is cleared.
    void setRows(QList<Row> rows)
    {
        beginResetModel();
        allRowsWillBeReplaced();
        m_rows = std::move(rows);
        endResetModel();
    }

    void insert(int index, Row row)
    {
        beginInsertRows({}, index, index);
        rowsWillBeInserted(index, 1);
        m_rows.insert(index, std::move(row));
        endInsertRows();
    }
    void append(Row row) { insert(count(), std::move(row)); }

    void removeAt(int index)
    {
        beginRemoveRows({}, index, index);
        rowsWillBeRemoved(index, 1);
        m_rows.removeAt(index);
        endRemoveRows();
    }

    void replace(int index, Row row)
    {
        m_rows[index] = std::move(row);
        emit dataChanged(this->index(index, 0), this->index(index, columnCount() - 1));
    }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : count();
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        const Column &column = m_columns.at(index.column());
        return column.value ? column.value(m_rows.at(index.row()), role) : QVariant();
    }

    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return false;
        const Column &column = m_columns.at(index.column());
        if (!column.setValue || !column.setValue(m_rows[index.row()], value))
            return false;
        emit dataChanged(index, index);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags flags = QAbstractTableModel::flags(index);
        if (index.isValid() && m_columns.at(index.column()).setValue)
            flags |= Qt::ItemIsEditable;
        return flags;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0
            && section < columnCount())
            return m_columns.at(section).title;
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    QList<Column> m_columns;
    QList<Row> m_rows;
};

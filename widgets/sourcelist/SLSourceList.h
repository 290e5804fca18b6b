#pragma once

#include "SLSourceListInterfaces.h"

#include <QHash>
#include <QSizeF>
#include <QTreeView>

#include <vector>

class SLSourceListModel;

// An outline for a side bar. Top-level items are group headings: never selected, edited or
// dragged, and for groups the delegate calls always expanded, never collapsed and drawn
// without a disclosure triangle. Other rows can carry an icon at the left and a rounded count
// badge at the right. Rows are counted as shown, top to bottom, from 0.
//
// Notifications are signals and are also posted on the default notification centre (sender:
// the list) under the names below; the delegate receives those of its own list.
class SLSourceList : public QTreeView
{
    Q_OBJECT

public:
    static const QString SelectionIsChangingNotification;
    static const QString SelectionDidChangeNotification;
    static const QString ItemWillExpandNotification;
    static const QString ItemDidExpandNotification;
    static const QString ItemWillCollapseNotification;
    static const QString ItemDidCollapseNotification;
    static const QString DeleteKeyPressedOnRowsNotification; // user info "rows": QVariantList of ints

    explicit SLSourceList(QWidget *parent = nullptr);
    ~SLSourceList() override;

    SLSourceListDelegate *delegate() const { return m_delegate; }
    void setDelegate(SLSourceListDelegate *delegate); // not owned
    SLSourceListDataSource *dataSource() const;
    void setDataSource(SLSourceListDataSource *dataSource); // not owned; reloads

    // Icons are scaled down to the row height, keeping their proportions.
    QSizeF itemIconSize() const { return m_iconSize; }
    void setItemIconSize(const QSizeF &size);
    double rowHeight() const { return m_rowHeight; }
    void setRowHeight(double height);
    bool allowsEmptySelection() const { return m_allowsEmptySelection; }
    void setAllowsEmptySelection(bool allows) { m_allowsEmptySelection = allows; }

    // Reads everything again, expands the always-expanded groups and keeps a row selected
    // when an empty selection is not allowed.
    void reloadData();

    int numberOfRows() const;
    int numberOfGroups() const;
    int rowForItem(SLItem item) const; // -1 when not shown
    SLItem itemAtRow(int row) const;
    QModelIndex indexAtRow(int row) const;
    int rowForIndex(const QModelIndex &index) const; // -1 when not shown
    SLItem itemForIndex(const QModelIndex &index) const;
    int levelForRow(int row) const;
    bool isGroupItem(SLItem item) const;
    bool isGroupAlwaysExpanded(SLItem item) const;
    bool itemHasBadge(SLItem item) const;
    bool itemHasIcon(SLItem item) const;

    int selectedRow() const; // -1 when none
    QList<int> selectedRowIndexes() const; // ascending
    // Group rows are left out; a request of nothing but groups (or of nothing, when an empty
    // selection is not allowed) changes nothing.
    void selectRowIndexes(const QList<int> &rows, bool extend);

    // Badge text: the value, else the string; empty without a badge.
    QString badgeStringForItem(SLItem item) const;
    QSizeF sizeOfBadgeAtRow(int row) const;
    struct BadgeColors
    {
        QColor background;
        QColor text;
    };
    BadgeColors badgeColorsForRow(int row) const;
    void drawBadgeForRow(QPainter &painter, int row, const QRectF &rect) const;

    // Where the text of a row goes, in viewport coordinates: after the indentation and the
    // icon, before the badge; a heading of an always-expanded group starts at 7.
    QRectF frameOfCellAtRow(int row) const;
    QRectF iconRectAtRow(int row) const;
    QRectF badgeRectAtRow(int row) const;

    bool shouldEditIndex(const QModelIndex &index) const;
    bool shouldSelectIndex(const QModelIndex &index) const;
    static QFont badgeFont();

signals:
    void selectionIsChanging();
    void selectionDidChange();
    void itemDidExpand(SLItem item);
    void itemDidCollapse(SLItem item);
    void deleteKeyPressedOnRows(const QList<int> &rows);
    // Return or Enter on the one selected row, outside renaming.
    void returnKeyPressedOnRow(int row);

protected:
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void post(const QString &name, const QVariantMap &userInfo = {});
    void rowsChanged() const { m_rowsValid = false; }
    void ensureRows() const;
    void onExpanded(const QModelIndex &index);
    void onCollapsed(const QModelIndex &index);
    QColor selectionColor() const;
    QColor delegateColor(const std::optional<QColor> &answer, const QColor &fallback) const;

    SLSourceListModel *m_model;                  // owned through Qt parenting
    SLSourceListDelegate *m_delegate = nullptr;  // not owned
    std::vector<KRObservationToken> m_delegateObservations;
    QSizeF m_iconSize{16, 16};
    double m_rowHeight = 20;
    bool m_allowsEmptySelection = true;
    bool m_adjustingExpansion = false;
    mutable bool m_rowsValid = false;
    mutable std::vector<QModelIndex> m_rows;
    mutable QHash<const void *, int> m_rowOfNode;
};

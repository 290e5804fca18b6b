#pragma once

#include <QStyledItemDelegate>

class SLSourceList;

// Paints a row's text where the list puts it (past icon and indentation, short of the badge),
// headings in small grey capitals, and places the rename editor on the same frame.
class SLSourceListItemDelegate : public QStyledItemDelegate
{
public:
    explicit SLSourceListItemDelegate(SLSourceList *list);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    static QFont headingFont();
    static QFont rowFont();

private:
    SLSourceList *m_list; // not owned: the list owns its item delegate
};

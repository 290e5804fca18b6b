#include "SLSourceListItemDelegate.h"

#include "SLSourceList.h"

#include <QFontMetricsF>
#include <QPainter>

SLSourceListItemDelegate::SLSourceListItemDelegate(SLSourceList *list)
    : QStyledItemDelegate(list)
    , m_list(list)
{
}

QFont SLSourceListItemDelegate::headingFont()
{
    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    font.setCapitalization(QFont::AllUppercase);
    return font;
}

QFont SLSourceListItemDelegate::rowFont()
{
    QFont font;
    font.setPixelSize(12);
    return font;
}

void SLSourceListItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                     const QModelIndex &index) const
{
    const int shownRow = m_list->rowForIndex(index);
    if (shownRow < 0)
        return;
    const QRectF frame = m_list->frameOfCellAtRow(shownRow);
    const QString text = index.data(Qt::DisplayRole).toString();
    painter->save();
    if (m_list->levelForRow(shownRow) == 0) {
        painter->setFont(headingFont());
        painter->setPen(QColor(112, 118, 128));
    } else {
        painter->setFont(rowFont());
        const bool selected = option.state & QStyle::State_Selected;
        painter->setPen(selected ? option.palette.color(QPalette::HighlightedText) : QColor(30, 30, 30));
    }
    const QFontMetricsF metrics(painter->font());
    painter->drawText(frame, Qt::AlignLeft | Qt::AlignVCenter, metrics.elidedText(text, Qt::ElideRight, frame.width()));
    painter->restore();
}

QSize SLSourceListItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    double height = m_list->rowHeight();
    if (m_list->delegate())
        height = m_list->delegate()->heightOfRow(m_list, m_list->itemForIndex(index)).value_or(height);
    return QSize(QStyledItemDelegate::sizeHint(option, index).width(), int(height));
}

void SLSourceListItemDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                                    const QModelIndex &index) const
{
    const int row = m_list->rowForIndex(index);
    if (row < 0) {
        QStyledItemDelegate::updateEditorGeometry(editor, option, index);
        return;
    }
    const QRectF frame = m_list->frameOfCellAtRow(row);
    const QRect rowRect = m_list->visualRect(index);
    editor->setFont(rowFont());
    editor->setGeometry(QRectF(frame.x() - 3, rowRect.y(), frame.width() + 3, rowRect.height()).toRect());
}

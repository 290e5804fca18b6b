#include "KRTabView.h"

TBTabViewItem *KRTabView::addTabViewItem(const QString &identifier, const QString &label, QWidget *view)
{
    if (view)
        view->setGeometry(QRect(QPoint(0, 0), size()));
    return addItem(identifier, label, view);
}

QString KRTabView::selectedIdentifier() const
{
    return selectedItem() ? selectedItem()->identifier().toString() : QString();
}

#pragma once

#include <widgets/tabbar/TBTabView.h>

// The tab view placed under a tab bar in the panes: a view added with an item first takes
// the tab view's own frame, so that it does not flash at its own size before the first layout.
class KRTabView : public TBTabView
{
    Q_OBJECT
public:
    using TBTabView::TBTabView;

    TBTabViewItem *addTabViewItem(const QString &identifier, const QString &label, QWidget *view);
    // The identifier of the selected item; empty when none.
    QString selectedIdentifier() const;
    TBTabViewItem *item(const QString &identifier) const { return itemWithIdentifier(identifier); }
};

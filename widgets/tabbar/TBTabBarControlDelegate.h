#pragma once

// What a tab bar's host may answer. Every call is optional: a query answering nullopt counts
// as not implemented, and the bar then uses its own default.

#include <QString>
#include <QStringList>

#include <optional>

class QAction;
class QMenu;
class QPoint;
class TBTabBarControl;
class TBTabView;
class TBTabViewItem;

class TBTabBarControlDelegate
{
public:
    virtual ~TBTabBarControlDelegate() = default;

    // Forwarded from the tab view.
    virtual std::optional<bool> tabViewShouldSelectItem(TBTabView *, TBTabViewItem *) { return std::nullopt; }
    virtual void tabViewWillSelectItem(TBTabView *, TBTabViewItem *) {}
    virtual void tabViewDidSelectItem(TBTabView *, TBTabViewItem *) {}
    virtual void tabViewDidChangeNumberOfItems(TBTabView *) {}

    // Closing: false keeps the tab; the second call comes after the item left the tab view.
    virtual std::optional<bool> tabViewShouldCloseItem(TBTabView *, TBTabViewItem *) { return std::nullopt; }
    virtual void tabViewDidCloseItem(TBTabView *, TBTabViewItem *) {}
    // True offers no close button on that tab.
    virtual std::optional<bool> tabViewDisableTabCloseForItem(TBTabView *, TBTabViewItem *) { return std::nullopt; }

    // The context menu of a tab (owned by the delegate), or null for none.
    virtual QMenu *tabViewMenuForItem(TBTabView *, TBTabViewItem *) { return nullptr; }
    virtual std::optional<QString> tabViewToolTipForItem(TBTabView *, TBTabViewItem *) { return std::nullopt; }
    virtual std::optional<bool> tabViewValidateOverflowMenuItem(TBTabView *, QAction *, TBTabViewItem *) { return std::nullopt; }
    virtual void tabViewItemIsInOverflowMenu(TBTabBarControl *, TBTabViewItem *, bool) {}
    // The word for the counted objects of a tab, read out after its count.
    virtual std::optional<QString> accessibilityStringForTabView(TBTabView *, long) { return std::nullopt; }

    virtual std::optional<double> desiredWidthForVerticalTabBar(TBTabBarControl *) { return std::nullopt; }
    virtual void tabViewTabBarDidHide(TBTabView *, TBTabBarControl *) {}
    virtual void tabViewTabBarDidUnhide(TBTabView *, TBTabBarControl *) {}

    // Dragging tabs.
    virtual std::optional<bool> tabViewShouldDragItem(TBTabView *, TBTabViewItem *, TBTabBarControl *) { return std::nullopt; }
    // May the item land in that bar; with a null bar: may it be torn off into a new window.
    virtual std::optional<bool> tabViewShouldDropItem(TBTabView *, TBTabViewItem *, TBTabBarControl *) { return std::nullopt; }
    virtual std::optional<bool> tabViewShouldAllowItemToLeaveTabBar(TBTabView *, TBTabViewItem *, TBTabBarControl *) { return std::nullopt; }
    virtual void tabViewDidDropItem(TBTabView *, TBTabViewItem *, TBTabBarControl *) {}
    // Makes the window of a torn-off tab and answers its bar (null: the tab goes back).
    virtual std::optional<TBTabBarControl *> tabViewNewTabBarForDraggedItem(TBTabView *, TBTabViewItem *, const QPoint &) { return std::nullopt; }
    virtual void tabViewCloseWindowForLastItem(TBTabView *, TBTabViewItem *) {}
    virtual std::optional<QStringList> allowedDraggedTypesForTabView(TBTabView *) { return std::nullopt; }
    // A foreign drag was dropped on a tab; answers whether it was taken.
    virtual std::optional<bool> tabViewAcceptedDrop(TBTabView *, const class QMimeData *, TBTabViewItem *) { return std::nullopt; }
};

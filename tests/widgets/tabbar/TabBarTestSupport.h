#pragma once

// A tab bar over a tab view in a window, a delegate that records what it hears, and
// screenshots under test-artifacts/tabbar/.

#include <widgets/tabbar/TBTabBarCell.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabBarControlDelegate.h>
#include <widgets/tabbar/TBTabView.h>

#include <QImage>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

#include <functional>
#include <memory>

struct RecordingDelegate : TBTabBarControlDelegate
{
    QStringList heard;
    std::function<bool(TBTabViewItem *)> disableClose;
    std::optional<bool> shouldClose;
    std::optional<bool> shouldDrag;
    std::optional<bool> shouldTearOff;
    std::function<TBTabBarControl *(TBTabViewItem *)> newBar;

    std::optional<bool> tabViewShouldCloseItem(TBTabView *, TBTabViewItem *) override { return shouldClose; }
    void tabViewDidCloseItem(TBTabView *, TBTabViewItem *item) override { heard << "closed " + item->label(); }
    std::optional<bool> tabViewDisableTabCloseForItem(TBTabView *, TBTabViewItem *item) override
    {
        return disableClose ? std::optional<bool>(disableClose(item)) : std::nullopt;
    }
    std::optional<QString> tabViewToolTipForItem(TBTabView *, TBTabViewItem *item) override { return "tip " + item->label(); }
    std::optional<bool> tabViewShouldDragItem(TBTabView *, TBTabViewItem *, TBTabBarControl *) override { return shouldDrag; }
    std::optional<bool> tabViewShouldDropItem(TBTabView *, TBTabViewItem *, TBTabBarControl *bar) override
    {
        return bar ? std::optional<bool>(true) : shouldTearOff;
    }
    void tabViewDidDropItem(TBTabView *, TBTabViewItem *item, TBTabBarControl *) override { heard << "dropped " + item->label(); }
    std::optional<TBTabBarControl *> tabViewNewTabBarForDraggedItem(TBTabView *, TBTabViewItem *item, const QPoint &) override
    {
        return newBar ? std::optional<TBTabBarControl *>(newBar(item)) : std::nullopt;
    }
    void tabViewTabBarDidHide(TBTabView *, TBTabBarControl *) override { heard << "hid"; }
    void tabViewTabBarDidUnhide(TBTabView *, TBTabBarControl *) override { heard << "unhid"; }
};

// A window holding a bar of the given width over its tab view, set up as a host would.
struct BarWindow
{
    explicit BarWindow(int width = 500, const QString &style = QStringLiteral("Unified"), bool fit = false);
    // Adds items labelled with the given titles; identifiers are the titles too.
    void addTabs(const QStringList &titles);
    QStringList labels() const;
    QStringList visibleTitles() const;

    std::unique_ptr<QWidget> window;
    TBTabBarControl *bar = nullptr;
    TBTabView *tabView = nullptr;
    RecordingDelegate delegate;
};

QPoint cellCentre(const TBTabBarCell *cell);
QPoint closeButtonCentre(const TBTabBarCell *cell);
QImage renderWidget(QWidget &widget);
// Writes the widget, at twice its size, to test-artifacts/tabbar/<name>.
void screenshot(QWidget &widget, const QString &name);

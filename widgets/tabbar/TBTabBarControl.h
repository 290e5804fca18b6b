#pragma once

// A strip of tabs drawn over a tab view whose own tabs are hidden. One cell per tab view item,
// in the tab view's order. The user selects, closes (and drags) tabs with the mouse; tabs that
// do not fit are listed in the overflow menu. The current style draws everything; the layout
// engine computes every frame.

#include <widgets/tabbar/TBTabBarTypes.h>
#include <widgets/tabbar/TBTabView.h>

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QMenu;
class QMimeData;
class TBOverflowPopUpButton;
class TBRolloverButton;
class TBTabBarCell;
class TBTabBarControlDelegate;
class TBTabBarController;
class TBTabStyle;

class TBTabBarControl : public QWidget, public TBTabViewDelegate
{
    Q_OBJECT
public:
    explicit TBTabBarControl(QWidget *parent = nullptr);
    ~TBTabBarControl() override;

    // Binding. The bar makes itself its tab view's delegate and adds a cell for every item.
    TBTabView *tabView() const { return m_tabView; }
    void setTabView(TBTabView *tabView);
    TBTabBarControlDelegate *delegate() const { return m_delegate; }
    void setDelegate(TBTabBarControlDelegate *delegate);
    QWidget *partnerView() const { return m_partnerView; }
    void setPartnerView(QWidget *view) { m_partnerView = view; }

    // Style.
    TBTabStyle *style() const { return m_style.get(); }
    void setStyle(std::unique_ptr<TBTabStyle> style);
    QString styleName() const;
    void setStyleNamed(const QString &name);

    // Settings.
    TBTabBarOrientation orientation() const { return m_orientation; }
    void setOrientation(TBTabBarOrientation orientation);
    bool canCloseOnlyTab() const { return m_canCloseOnlyTab; }
    void setCanCloseOnlyTab(bool value);
    bool disableTabClose() const { return m_disableTabClose; }
    void setDisableTabClose(bool value) { m_disableTabClose = value; updateTabs(); }
    bool hideForSingleTab() const { return m_hideForSingleTab; }
    void setHideForSingleTab(bool value) { m_hideForSingleTab = value; updateTabs(); }
    bool showAddTabButton() const { return m_showAddTabButton; }
    void setShowAddTabButton(bool value);
    long cellMinWidth() const { return m_cellMinWidth; }
    void setCellMinWidth(long value) { m_cellMinWidth = value; updateTabs(); }
    long cellMaxWidth() const { return m_cellMaxWidth; }
    void setCellMaxWidth(long value) { m_cellMaxWidth = value; updateTabs(); }
    long cellOptimumWidth() const { return m_cellOptimumWidth; }
    void setCellOptimumWidth(long value) { m_cellOptimumWidth = value; updateTabs(); }
    bool sizeCellsToFit() const { return m_sizeCellsToFit; }
    void setSizeCellsToFit(bool value) { m_sizeCellsToFit = value; updateTabs(); }
    bool useOverflowMenu() const { return m_useOverflowMenu; }
    void setUseOverflowMenu(bool value) { m_useOverflowMenu = value; updateTabs(); }
    bool allowsBackgroundTabClosing() const { return m_allowsBackgroundTabClosing; }
    void setAllowsBackgroundTabClosing(bool value) { m_allowsBackgroundTabClosing = value; }
    bool allowsResizing() const { return m_allowsResizing; }
    void setAllowsResizing(bool value) { m_allowsResizing = value; }
    bool selectsTabsOnMouseDown() const { return m_selectsTabsOnMouseDown; }
    void setSelectsTabsOnMouseDown(bool value) { m_selectsTabsOnMouseDown = value; }
    bool automaticallyAnimates() const { return m_automaticallyAnimates; }
    void setAutomaticallyAnimates(bool value) { m_automaticallyAnimates = value; }
    bool alwaysShowActiveTab() const { return m_alwaysShowActiveTab; }
    void setAlwaysShowActiveTab(bool value) { m_alwaysShowActiveTab = value; }
    bool allowsScrubbing() const { return m_allowsScrubbing; }
    void setAllowsScrubbing(bool value) { m_allowsScrubbing = value; }
    int tearOffStyle() const { return m_tearOffStyle; }
    void setTearOffStyle(int value) { m_tearOffStyle = value; }

    // Parts and geometry.
    const std::vector<TBTabBarCell *> &cells() const { return m_cells; }
    TBTabBarCell *cellForItem(const TBTabViewItem *item) const;
    TBRolloverButton *addTabButton() const { return m_addTabButton; }
    TBOverflowPopUpButton *overflowPopUpButton() const { return m_overflowButton; }
    TBTabBarController *layoutEngine() const { return m_controller.get(); }
    // The collapsed state of hide-for-single-tab (not QWidget's visibility).
    bool isTabBarHidden() const { return m_isHidden; }
    bool isAnimating() const { return m_cellAnimation.isActive(); }
    double availableCellWidth() const;
    QRectF genericCellRect() const;
    QList<TBTabViewItem *> representedTabViewItems() const;
    TBTabBarCell *cellForPoint(const QPointF &point, QRectF *cellFrame = nullptr) const;
    TBTabBarCell *lastVisibleTab() const;
    int numberOfVisibleTabs() const;

    // Cells.
    void addTabViewItem(TBTabViewItem *item);
    void removeTabForCell(TBTabBarCell *cell);
    void bindPropertiesForCell(TBTabBarCell *cell, TBTabViewItem *item);
    // Inserts a cell the caller made (a drag moving a tab between bars) at an index.
    void insertCell(std::unique_ptr<TBTabBarCell> cell, int index);
    std::unique_ptr<TBTabBarCell> takeCell(TBTabBarCell *cell);

    // Actions.
    void closeTabViewItem(TBTabViewItem *item);
    void closeCurrentTab();
    void closeTabClick(TBTabBarCell *cell);
    // Closes every tab but the one of kept that has a close button (Alt-click on a close
    // button, or "Close Other Tabs" in a tab's context menu).
    void closeOtherTabs(TBTabBarCell *kept);
    void tabClick(TBTabBarCell *cell);
    void overflowMenuAction(TBTabViewItem *item);

    // Lays the tabs out again (not QWidget::update, which only repaints).
    void updateTabs() { updateTabs(m_automaticallyAnimates); }
    void updateTabs(bool animate);
    void hideTabBar(bool hide, bool animate);
    void placeView(const QRect &frame);

    // The overflow menu of the last layout (its entries only, without the button's face).
    QMenu *overflowMenu() const { return m_overflowMenu.get(); }

    // Tab view delegate.
    std::optional<bool> tabViewShouldSelectItem(TBTabView *, TBTabViewItem *) override;
    void tabViewWillSelectItem(TBTabView *, TBTabViewItem *) override;
    void tabViewDidSelectItem(TBTabView *, TBTabViewItem *) override;
    void tabViewDidChangeNumberOfItems(TBTabView *) override;

    // A drag of another kind hovering at a point: the tab under it is selected after a delay.
    void springLoad(const QPointF &point);
    bool isSpringLoading() const { return m_springTimer.isActive(); }

    // The tool tip for a point of the bar: the delegate's text for the tab under it.
    QString toolTipAt(const QPointF &point) const;

signals:
    void tabBarDidHide();
    void tabBarDidUnhide();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void modelPropertyChanged();

private:
    TBTabBarCell *cellForItemExcept(const TBTabViewItem *item, const TBTabBarCell *except) const;
    void createButtons();
    void placeOverflowButton();
    void applyAddButtonImages();
    void rebuildOverflowMenu();
    void trackMouse(const QPointF &point, Qt::KeyboardModifiers modifiers);
    void animateCellsStep();
    void showHideStep();
    void refreshModelProperties(TBTabBarCell *cell);
    void followTabView();
    bool acceptsForeignDrag(const QMimeData *data) const;
    void fireSpring();
    // Whether "close the others than kept" closes other: it has a close button.
    bool isClosableOther(const TBTabBarCell *other, const TBTabBarCell *kept) const;

    std::vector<TBTabBarCell *> m_cells;               // owned
    std::vector<std::unique_ptr<TBTabBarCell>> m_retired;   // removed cells, freed on the next pass
    QPointer<TBTabView> m_tabView;
    TBOverflowPopUpButton *m_overflowButton = nullptr;
    TBRolloverButton *m_addTabButton = nullptr;
    std::unique_ptr<TBTabBarController> m_controller;
    std::unique_ptr<TBTabStyle> m_style;
    std::unique_ptr<QMenu> m_overflowMenu;
    QPointer<QMenu> m_tabMenu;  // a tab's context menu while open; deletes itself on closing
    TBTabBarControlDelegate *m_delegate = nullptr;
    QPointer<QWidget> m_partnerView;

    bool m_canCloseOnlyTab = false;
    bool m_disableTabClose = false;
    bool m_hideForSingleTab = false;
    bool m_showAddTabButton = false;
    bool m_sizeCellsToFit = false;
    bool m_useOverflowMenu = true;
    bool m_alwaysShowActiveTab = false;
    bool m_allowsScrubbing = false;
    // Room kept free for a window's resize corner; no window here draws one, so it stays 0.
    double m_resizeAreaCompensation = 0;
    TBTabBarOrientation m_orientation = TBTabBarOrientation::Horizontal;
    bool m_automaticallyAnimates = false;
    int m_tearOffStyle = 0;
    bool m_allowsBackgroundTabClosing = true;
    bool m_selectsTabsOnMouseDown = false;
    bool m_allowsResizing = false;
    bool m_resizing = false;
    long m_cellMinWidth = 100;
    long m_cellMaxWidth = 280;
    long m_cellOptimumWidth = 130;
    int m_currentStep = -1;
    bool m_isHidden = false;
    bool m_awakened = false;
    double m_tabBarWidth = 120;

    // Cell-frame animation.
    QTimer m_cellAnimation;
    QElapsedTimer m_cellAnimationClock;
    std::vector<QRectF> m_cellTargets;
    // Show/hide animation: start and target of bar and partner along the bar's axis.
    QTimer m_showHideTimer;
    struct Span { double origin, size; };
    Span m_showHideStart[2] {}, m_showHideTarget[2] {};
    bool m_showHideWindowPartner = false;

    // Mouse.
    bool m_hasMouseDown = false;
    QPointF m_mouseDownPoint;
    QPointF m_lastMousePoint;
    bool m_didDrag = false;
    bool m_closeClicked = false;

    QTimer m_springTimer;
    TBTabViewItem *m_springItem = nullptr;
    QPointF m_springPoint;
};

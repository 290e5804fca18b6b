#pragma once

// Runs a tab drag: takes the dragged cell out of its bar, opens placeholder gaps along a sine
// curve in every bar under the pointer, moves the tab when dropped (within its bar or into
// another), tears it off into a new window the delegate makes, or puts it back.
//
// A tab drag never leaves the application, so it runs on the source bar's mouse grab: the bar
// passes its pointer moves and the release here, and the assistant finds the bar under the
// pointer itself. Each step is a call of its own.

#include <QElapsedTimer>
#include <QObject>
#include <QPixmap>
#include <QWidget>
#include <QPointF>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>
#include <vector>

class QWidget;
class TBTabBarCell;
class TBTabDragWindow;
class TBTabBarControl;
class TBTabViewItem;

// A floating, click-through window showing a picture of a dragged tab. With tear-off style 1 it
// turns into a miniature of the window the tab would make while outside every bar, growing or
// shrinking over a quarter of a second and cross-fading the two pictures.
class TBTabDragWindow : public QWidget
{
    Q_OBJECT
public:
    explicit TBTabDragWindow(const QPixmap &image);

    QPixmap image() const { return m_image; }
    QPixmap alternateImage() const { return m_alternate; }
    void setAlternateImage(const QPixmap &image) { m_alternate = image; }
    bool showingAlternate() const { return m_showingAlternate; }
    bool isAnimating() const { return m_timer.isActive(); }
    // Switches between the two pictures; the window stays centred on the pointer.
    void switchImages();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void animateStep();

    QPixmap m_image, m_alternate;
    bool m_showingAlternate = false;
    double m_fade = 1.0;             // opacity of the tab's own picture
    double m_startProgress = 0;
    QSize m_startSize;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

class TBTabDragAssistant : public QObject
{
    Q_OBJECT
public:
    static TBTabDragAssistant &sharedDragAssistant();
    ~TBTabDragAssistant() override;

    bool isDragging() const { return m_isDragging; }
    TBTabBarControl *sourceTabBar() const { return m_sourceTabBar; }
    TBTabBarControl *destinationTabBar() const { return m_destinationTabBar; }
    TBTabBarCell *draggedCell() const { return m_draggedCell.get(); }
    int draggedCellIndex() const { return m_draggedCellIndex; }
    TBTabBarCell *targetCell() const { return m_targetCell; }
    QPointF currentMouseLoc() const { return m_currentMouseLoc; }
    const std::vector<int> &sineCurveWidths() const { return m_sineCurveWidths; }
    bool isParticipating(TBTabBarControl *bar) const { return m_participating.contains(bar); }
    // The floating picture of the tab while a tear-off is allowed.
    TBTabDragWindow *tabWindow() const { return m_tabWindow.get(); }

    // Placeholder widths for the eight animation steps of a cell of that size.
    static std::vector<int> sineCurve(double size, double fullSize);

    void startDraggingCell(TBTabBarCell *cell, TBTabBarControl *bar, const QPointF &mouseDownPoint);
    // The pointer moved to a point on the screen: enters, moves over or leaves bars.
    void draggingMovedTo(const QPoint &globalPoint);
    // The mouse was released there: drops on the bar under it, tears off, or puts the tab back.
    void dropAt(const QPoint &globalPoint);

    void draggingEnteredTabBar(TBTabBarControl *bar, const QPointF &point);
    void draggingUpdatedInTabBar(TBTabBarControl *bar, const QPointF &point);
    void draggingExitedTabBar(TBTabBarControl *bar);
    bool performDragOperation();
    void draggedImageEndedAt(const QPoint &globalPoint);
    void finishDrag();

    // One tick of the placeholder animation (30 a second while dragging).
    void animateDrag();
    void calculateDragAnimationForTabBar(TBTabBarControl *bar);
    void distributePlaceholdersInTabBar(TBTabBarControl *bar);
    void distributePlaceholdersInTabBar(TBTabBarControl *bar, TBTabBarCell *draggedCell);
    void removeAllPlaceholdersFromTabBar(TBTabBarControl *bar);

    // Bars that can receive tabs; a bar registers itself while it exists.
    void registerTabBar(TBTabBarControl *bar);
    void unregisterTabBar(TBTabBarControl *bar);

signals:
    void dragDidBegin();
    void dragDidEnd();

private:
    TBTabDragAssistant();
    TBTabBarControl *tabBarAt(const QPoint &globalPoint) const;
    void insertPlaceholder(TBTabBarControl *bar, int index, bool expanded, const QRectF &frame);

    QPointer<TBTabBarControl> m_sourceTabBar;
    QPointer<TBTabBarControl> m_destinationTabBar;
    QSet<TBTabBarControl *> m_participating;
    std::unique_ptr<TBTabBarCell> m_draggedCell;
    int m_draggedCellIndex = -1;
    TBTabViewItem *m_draggedItem = nullptr;
    bool m_isDragging = false;
    std::unique_ptr<TBTabDragWindow> m_tabWindow;
    int m_currentTearOffStyle = 0;
    QTimer m_animationTimer;
    std::vector<int> m_sineCurveWidths;
    QPointF m_currentMouseLoc {-1, -1};
    TBTabBarCell *m_targetCell = nullptr;
    QPointF m_grabOffset;
    std::vector<TBTabBarControl *> m_bars;
};

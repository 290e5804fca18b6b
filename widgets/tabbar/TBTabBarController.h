#pragma once

// The layout engine of a tab bar: gives each cell its frame, decides which cells go into the
// overflow menu, records the rectangles the bar tracks the mouse in, places the add button and
// moves the selection marks.

#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

class TBTabBarCell;
class TBTabBarControl;
class TBTabViewItem;

struct TBOverflowEntry
{
    QString title;
    TBTabViewItem *item = nullptr;
};

class TBTabBarController
{
public:
    explicit TBTabBarController(TBTabBarControl *control) : m_control(control) {}

    void layoutCells();

    // Rectangles of the last layout by cell index; a bad index is logged and answers a zero rectangle.
    QRectF cellFrameAtIndex(int index) const;
    QRectF cellTrackingRectAtIndex(int index) const;
    QRectF closeButtonTrackingRectAtIndex(int index) const;
    QRectF addButtonRect() const { return m_addButtonRect; }
    // The entries of the overflow menu in cell order; none when every cell is visible.
    const std::optional<std::vector<TBOverflowEntry>> &overflowMenu() const { return m_overflowMenu; }

    void setSelectedCell(TBTabBarCell *cell);

private:
    void setupCells(const std::vector<double> &widths);

    TBTabBarControl *m_control;
    std::vector<QRectF> m_cellTrackingRects;
    std::vector<QRectF> m_closeButtonTrackingRects;
    std::vector<QRectF> m_cellFrames;
    QRectF m_addButtonRect;
    std::optional<std::vector<TBOverflowEntry>> m_overflowMenu;
};

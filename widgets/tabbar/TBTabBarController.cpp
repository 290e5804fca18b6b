#include "TBTabBarController.h"

#include "TBTabBarButtons.h"
#include "TBTabBarCell.h"
#include "TBTabBarControl.h"
#include "TBTabBarControlDelegate.h"
#include "TBTabLayout.h"
#include "TBTabStyle.h"

#include <QtGlobal>

namespace {

QRectF tbControllerRectAt(const std::vector<QRectF> &rects, int index, const char *what)
{
    if (index < 0 || std::size_t(index) >= rects.size()) {
        qWarning("%s: Invalid index (%ld)", what, long(index));
        return QRectF();
    }
    return rects[std::size_t(index)];
}

} // namespace

QRectF TBTabBarController::cellFrameAtIndex(int index) const
{
    return tbControllerRectAt(m_cellFrames, index, "cellFrameAtIndex:");
}

QRectF TBTabBarController::cellTrackingRectAtIndex(int index) const
{
    return tbControllerRectAt(m_cellTrackingRects, index, "cellTrackingRectAtIndex:");
}

QRectF TBTabBarController::closeButtonTrackingRectAtIndex(int index) const
{
    return tbControllerRectAt(m_closeButtonTrackingRects, index, "closeButtonTrackingRectAtIndex:");
}

void TBTabBarController::layoutCells()
{
    TBTabView *tabView = m_control->tabView();
    const std::vector<TBTabBarCell *> &cells = m_control->cells();
    if (!tabView || int(cells.size()) != tabView->numberOfItems())
        return;
    m_cellTrackingRects.clear();
    m_closeButtonTrackingRects.clear();
    m_cellFrames.clear();

    const bool vertical = m_control->orientation() == TBTabBarOrientation::Vertical;
    TBTabBarControlDelegate *delegate = m_control->delegate();
    TBTabWidthInput input;
    input.vertical = vertical;
    input.available = m_control->availableCellWidth();
    if (m_control->showAddTabButton())
        input.available -= m_addButtonRect.width();
    input.sizeCellsToFit = m_control->sizeCellsToFit();
    input.useOverflowMenu = m_control->useOverflowMenu();
    input.cellMinWidth = m_control->cellMinWidth();
    input.cellMaxWidth = m_control->cellMaxWidth();
    input.cellOptimumWidth = m_control->cellOptimumWidth();
    input.topMargin = vertical ? m_control->style()->topMarginForTabBarControl() : 0;
    input.frameHeight = m_control->height();
    input.cellHeight = m_control->genericCellRect().height();
    for (TBTabBarCell *cell : cells) {
        bool suppressed = false;
        if (cells.size() == 1 && !m_control->canCloseOnlyTab())
            suppressed = true;
        else if (m_control->disableTabClose())
            suppressed = true;
        else if (delegate)
            suppressed = delegate->tabViewDisableTabCloseForItem(tabView, cell->representedItem()).value_or(false);
        cell->setCloseButtonSuppressed(suppressed);
        input.desiredWidths.push_back(cell->desiredWidthOfCell());
    }
    const TBTabWidthResult result = TBGenerateTabWidths(input);
    setupCells(result.widths);

    const QRectF generic = m_control->genericCellRect();
    const QSizeF buttonSize = m_control->addTabButton() ? QSizeF(m_control->addTabButton()->size()) : QSizeF(16, 16);
    if (!vertical) {
        double sum = 0;
        for (double w : result.widths)
            sum += w;
        m_addButtonRect = QRectF(QPointF(generic.x() + sum + 2, 3), buttonSize);
    } else {
        m_addButtonRect = QRectF(QPointF(0, result.widths.empty() ? 0.0 : result.widths.back()), buttonSize);
    }
}

void TBTabBarController::setupCells(const std::vector<double> &widths)
{
    m_overflowMenu.reset();
    const std::vector<TBTabBarCell *> &cells = m_control->cells();
    const bool vertical = m_control->orientation() == TBTabBarOrientation::Vertical;
    QRectF frame = m_control->genericCellRect();
    TBTabViewItem *selected = m_control->tabView()->selectedItem();
    const double rightMargin = m_control->style()->rightMarginForTabBarControl();

    for (std::size_t i = 0; i < cells.size(); ++i) {
        TBTabBarCell *cell = cells[i];
        if (i < widths.size()) {
            if (!vertical) {
                frame.setWidth(widths[i]);
            } else {
                frame.moveTo(0, widths[i]);
                frame.setWidth(m_control->width());
            }
            m_cellFrames.push_back(frame);
            m_closeButtonTrackingRects.push_back(cell->closeButtonRectForFrame(frame));
            m_cellTrackingRects.push_back(frame);

            long state = 0;
            if (cell->representedItem() == selected) {
                cell->setState(1);
                state = TBTabState::Selected;
                if (i > 0)
                    cells[i - 1]->setTabState(cells[i - 1]->tabState() | TBTabState::RightIsSelected);
            } else {
                cell->setState(0);
                state = i > 0 && cells[i - 1]->state() == 1 ? TBTabState::LeftIsSelected : 0;
            }
            if (widths.size() == 1)
                state |= TBTabState::First | TBTabState::Last | TBTabState::Only;
            else if (i == 0)
                state |= TBTabState::First;
            else if (i == widths.size() - 1)
                state |= TBTabState::Last;
            cell->setTabState(state);
            cell->setIsInOverflowMenu(false);

            if (TBProgressIndicator *indicator = cell->indicator()) {
                if (!indicator->isSpinnerHidden() && !m_control->isTabBarHidden()) {
                    indicator->setParent(m_control);
                    indicator->show();
                    indicator->startAnimation();
                }
            }
            if (!vertical)
                frame.moveLeft(frame.x() + widths[i]);
        } else {
            cell->setState(0);
            cell->setIsInOverflowMenu(true);
            if (TBProgressIndicator *indicator = cell->indicator())
                indicator->setParent(nullptr);
            if (!vertical)
                frame.moveLeft(frame.x() + rightMargin + 20);
            else
                frame.moveTop(m_control->height() + 2);
            m_cellFrames.push_back(frame);
            if (!m_overflowMenu)
                m_overflowMenu.emplace();
            QString title = TBTabDrawing::truncatedWithEllipsis(cell->stringValue(), 60);
            if (cell->count() > 0)
                title += QStringLiteral(" (%1)").arg(cell->count());
            m_overflowMenu->push_back({title, cell->representedItem()});
        }
    }
}

void TBTabBarController::setSelectedCell(TBTabBarCell *cell)
{
    const std::vector<TBTabBarCell *> &cells = m_control->cells();
    const auto old = std::find_if(cells.begin(), cells.end(), [](TBTabBarCell *c) { return c->state() == 1; });
    if (old != cells.end()) {
        TBTabBarCell *oldCell = *old;
        oldCell->setState(0);
        oldCell->setTabState(TBTabState::WasSelected);
        if (old != cells.begin()) {
            TBTabBarCell *before = *(old - 1);
            if (before != m_control->lastVisibleTab())
                before->setTabState(before->tabState() & ~TBTabState::RightIsSelected);
        }
        if (old + 1 != cells.end())
            (*(old + 1))->setTabState((*(old + 1))->tabState() & ~TBTabState::LeftIsSelected);
    }
    cell->setState(1);
    cell->setTabState(TBTabState::Selected);
    if (!cell->isInOverflowMenu()) {
        const auto it = std::find(cells.begin(), cells.end(), cell);
        if (it != cells.end() && it != cells.begin())
            (*(it - 1))->setTabState((*(it - 1))->tabState() | TBTabState::RightIsSelected);
        if (it != cells.end() && it + 1 != cells.end())
            (*(it + 1))->setTabState((*(it + 1))->tabState() | TBTabState::LeftIsSelected);
    }
}

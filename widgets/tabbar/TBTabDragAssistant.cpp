#include "TBTabDragAssistant.h"

#include "TBTabBarCell.h"
#include "TBTabBarControl.h"
#include "TBTabBarControlDelegate.h"
#include "TBTabStyle.h"

#include <QEasingCurve>
#include <QPainter>
#include <QPropertyAnimation>

#include <cmath>

TBTabDragWindow::TBTabDragWindow(const QPixmap &image)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_image(image)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowOpacity(0.75);
    resize(image.deviceIndependentSize().toSize());
    m_timer.setInterval(1000 / 30);
    connect(&m_timer, &QTimer::timeout, this, &TBTabDragWindow::animateStep);
}

void TBTabDragWindow::switchImages()
{
    if (m_alternate.isNull())
        return;
    m_showingAlternate = !m_showingAlternate;
    // Reversing half way starts from where the last switch had got to.
    const double done = m_timer.isActive() ? std::min(1.0, double(m_clock.elapsed()) / 250.0) : 1.0;
    m_startProgress = m_timer.isActive() ? 1.0 - done : 0.0;
    m_startSize = size();
    m_clock.start();
    m_timer.start();
    animateStep();
}

void TBTabDragWindow::animateStep()
{
    const double t = std::min(1.0, m_startProgress + double(m_clock.elapsed()) / 250.0);
    const double v = QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(t);
    const QSizeF target = (m_showingAlternate ? m_alternate : m_image).deviceIndependentSize();
    const QSizeF now = QSizeF(m_startSize) + (target - QSizeF(m_startSize)) * v;
    m_fade = m_showingAlternate ? 1.0 - v : v;
    const QPoint centre = geometry().center();
    setGeometry(QRect(QPoint(centre.x() - int(now.width() / 2), centre.y() - int(now.height() / 2)), now.toSize()));
    update();
    if (t >= 1.0)
        m_timer.stop();
}

void TBTabDragWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(m_fade + 0.001);
    painter.drawPixmap(rect(), m_image);
    if (!m_alternate.isNull()) {
        painter.setOpacity(1.001 - m_fade);
        painter.drawPixmap(rect(), m_alternate);
    }
}

TBTabDragAssistant &TBTabDragAssistant::sharedDragAssistant()
{
    static TBTabDragAssistant assistant;
    return assistant;
}

TBTabDragAssistant::TBTabDragAssistant()
{
    m_animationTimer.setInterval(1000 / 30);
    connect(&m_animationTimer, &QTimer::timeout, this, &TBTabDragAssistant::animateDrag);
}

TBTabDragAssistant::~TBTabDragAssistant() = default;

void TBTabDragAssistant::registerTabBar(TBTabBarControl *bar)
{
    m_bars.push_back(bar);
}

void TBTabDragAssistant::unregisterTabBar(TBTabBarControl *bar)
{
    m_bars.erase(std::remove(m_bars.begin(), m_bars.end(), bar), m_bars.end());
    m_participating.remove(bar);
}

std::vector<int> TBTabDragAssistant::sineCurve(double size, double fullSize)
{
    std::vector<int> widths;
    for (int k = 0; k < 7; ++k)
        widths.push_back(int(size - (std::sin(k * 0.125 * 3.1417 + 1.57085) * size * 0.5 + size * 0.5)));
    widths.push_back(int(fullSize));
    return widths;
}

TBTabBarControl *TBTabDragAssistant::tabBarAt(const QPoint &globalPoint) const
{
    for (TBTabBarControl *bar : m_bars)
        if (bar->isVisible() && bar->rect().contains(bar->mapFromGlobal(globalPoint)))
            return bar;
    return nullptr;
}

void TBTabDragAssistant::insertPlaceholder(TBTabBarControl *bar, int index, bool expanded, const QRectF &frame)
{
    bar->insertCell(std::make_unique<TBTabBarCell>(frame, expanded, bar), index);
}

void TBTabDragAssistant::startDraggingCell(TBTabBarCell *cell, TBTabBarControl *bar, const QPointF &mouseDownPoint)
{
    m_isDragging = true;
    m_sourceTabBar = bar;
    m_destinationTabBar = bar;
    m_participating.insert(bar);
    const auto &cells = bar->cells();
    m_draggedCellIndex = int(std::find(cells.begin(), cells.end(), cell) - cells.begin());
    m_draggedItem = cell->representedItem();
    const QRectF f = cell->frame();
    const bool vertical = bar->orientation() == TBTabBarOrientation::Vertical;
    m_sineCurveWidths = vertical ? sineCurve(f.height() + 1, f.height()) : sineCurve(f.width() + 6, f.width());
    bar->overflowPopUpButton()->hide();
    bar->addTabButton()->hide();
    bar->setCursor(Qt::ClosedHandCursor);
    const QPixmap image = bar->grab(bar->style()->dragRectForTabCell(*cell, bar->orientation()).toAlignedRect());
    if (cell->indicator())
        cell->indicator()->setParent(nullptr);
    m_grabOffset = mouseDownPoint - f.topLeft();
    distributePlaceholdersInTabBar(bar, cell);
    m_draggedCell->setHighlighted(false);
    m_animationTimer.start();
    emit dragDidBegin();

    TBTabBarControlDelegate *delegate = bar->delegate();
    if (delegate && delegate->tabViewShouldDropItem(bar->tabView(), m_draggedCell->representedItem(), nullptr).value_or(false)) {
        // A tab that may be torn off follows the pointer as a floating picture.
        m_currentTearOffStyle = bar->tearOffStyle();
        m_tabWindow = std::make_unique<TBTabDragWindow>(image);
        m_tabWindow->move(bar->mapToGlobal(f.topLeft().toPoint()));
        m_tabWindow->show();
    }
}

void TBTabDragAssistant::distributePlaceholdersInTabBar(TBTabBarControl *bar)
{
    const int n = bar->numberOfVisibleTabs();
    const QRectF frame = m_draggedCell ? m_draggedCell->frame() : QRectF(bar->genericCellRect().topLeft(), QSizeF(0, 0));
    for (int i = 0; i < n; ++i)
        insertPlaceholder(bar, 2 * i, false, frame);
    insertPlaceholder(bar, std::min(2 * n, int(bar->cells().size())), false, frame);
}

void TBTabDragAssistant::distributePlaceholdersInTabBar(TBTabBarControl *bar, TBTabBarCell *cell)
{
    const QRectF frame = cell->frame();
    // The frame the collapsed placeholders start from is the dragged cell's.
    const int n = bar->numberOfVisibleTabs();
    for (int i = 0; i < n; ++i)
        insertPlaceholder(bar, 2 * i, false, frame);
    insertPlaceholder(bar, std::min(2 * n, int(bar->cells().size())), false, frame);

    const auto &cells = bar->cells();
    const int index = int(std::find(cells.begin(), cells.end(), cell) - cells.begin());
    m_draggedCell = bar->takeCell(cell);
    insertPlaceholder(bar, index, true, frame);
    // The collapsed placeholders on both sides of the gap go.
    bar->removeTabForCell(bar->cells()[std::size_t(index + 1)]);
    bar->removeTabForCell(bar->cells()[std::size_t(index - 1)]);
    if (index - 2 >= 0) {
        TBTabBarCell *left = bar->cells()[std::size_t(index - 2)];
        left->setTabState(left->tabState() & ~TBTabState::RightIsSelected);
    }
}

void TBTabDragAssistant::removeAllPlaceholdersFromTabBar(TBTabBarControl *bar)
{
    const std::vector<TBTabBarCell *> cells = bar->cells();
    for (auto it = cells.rbegin(); it != cells.rend(); ++it)
        if ((*it)->isPlaceholder())
            bar->removeTabForCell(*it);
    bar->updateTabs(false);
}

void TBTabDragAssistant::animateDrag()
{
    for (TBTabBarControl *bar : QSet<TBTabBarControl *>(m_participating)) {
        calculateDragAnimationForTabBar(bar);
        bar->update();
    }
}

void TBTabDragAssistant::calculateDragAnimationForTabBar(TBTabBarControl *bar)
{
    const bool vertical = bar->orientation() == TBTabBarOrientation::Vertical;
    double p = vertical ? bar->style()->topMarginForTabBarControl() : bar->style()->leftMarginForTabBarControl();
    const QPointF m = m_currentMouseLoc;
    TBTabBarCell *target = nullptr;
    bool release = true;
    const auto &cells = bar->cells();
    if (bar == m_destinationTabBar) {
        release = false;
        if (bar->style()->leftMarginForTabBarControl() > m.x() && !cells.empty()) {
            target = cells.front();
        } else if (TBTabBarCell *under = bar->cellForPoint(m)) {
            if (under->isPlaceholder()) {
                target = under;
            } else {
                const auto it = std::find(cells.begin(), cells.end(), under);
                const QRectF f = under->frame();
                const bool before = vertical ? f.center().y() > m.y() : f.center().x() > m.x();
                if (before && it != cells.begin())
                    target = *(it - 1);
                else if (!before && it + 1 != cells.end())
                    target = *(it + 1);
            }
        } else {
            target = bar->lastVisibleTab();
        }
        m_targetCell = target;
    }
    for (TBTabBarCell *cell : cells) {
        if (cell->isInOverflowMenu())
            break;
        QRectF frame = cell->frame();
        if (cell->isPlaceholder()) {
            cell->setCurrentStep(cell->currentStep() + (cell == target ? 1 : -1));
            if (cell != target && cell->currentStep() > 0)
                release = false;
            const double size = m_sineCurveWidths.empty() ? 0 : m_sineCurveWidths[std::size_t(cell->currentStep())];
            if (vertical)
                frame.setHeight(size);
            else
                frame.setWidth(size);
        }
        if (vertical)
            frame.moveTop(p);
        else
            frame.moveLeft(p);
        cell->setFrame(frame);
        p += vertical ? frame.height() : frame.width();
    }
    if (release) {
        m_participating.remove(bar);
        removeAllPlaceholdersFromTabBar(bar);
    }
}

void TBTabDragAssistant::draggingEnteredTabBar(TBTabBarControl *bar, const QPointF &point)
{
    if (m_tabWindow && m_currentTearOffStyle == 1 && !m_destinationTabBar && m_tabWindow->showingAlternate())
        m_tabWindow->switchImages();
    m_destinationTabBar = bar;
    m_currentMouseLoc = point;
    bar->overflowPopUpButton()->hide();
    bar->addTabButton()->hide();
    if (bar->cells().empty() || !bar->cells().front()->isPlaceholder())
        distributePlaceholdersInTabBar(bar);
    m_participating.insert(bar);
}

void TBTabDragAssistant::draggingUpdatedInTabBar(TBTabBarControl *bar, const QPointF &point)
{
    m_destinationTabBar = bar;
    m_currentMouseLoc = point;
}

void TBTabDragAssistant::draggingExitedTabBar(TBTabBarControl *bar)
{
    if (bar->delegate() && m_draggedCell
        && !bar->delegate()->tabViewShouldAllowItemToLeaveTabBar(bar->tabView(), m_draggedCell->representedItem(), bar).value_or(true))
        return;
    m_destinationTabBar = nullptr;
    m_currentMouseLoc = QPointF(-1, -1);
    if (m_tabWindow && m_currentTearOffStyle == 1) {
        if (m_tabWindow->alternateImage().isNull()) {
            // A miniature of the window the tab leaves, 125 points on its longer side.
            const QPixmap shot = bar->window()->grab();
            m_tabWindow->setAlternateImage(shot.scaled(QSize(125, 125), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        }
        m_tabWindow->switchImages();
    }
}

void TBTabDragAssistant::draggingMovedTo(const QPoint &globalPoint)
{
    if (!m_isDragging)
        return;
    if (m_tabWindow) {
        if (m_tabWindow->showingAlternate())
            m_tabWindow->move(globalPoint - QPoint(m_tabWindow->width() / 2, m_tabWindow->height() / 2));
        else
            m_tabWindow->move(globalPoint - m_grabOffset.toPoint());
    }
    TBTabBarControl *bar = tabBarAt(globalPoint);
    if (bar && m_draggedCell && bar->delegate()
        && !bar->delegate()->tabViewShouldDropItem(m_sourceTabBar->tabView(), m_draggedCell->representedItem(), bar).value_or(true))
        bar = nullptr;
    if (bar != m_destinationTabBar && m_destinationTabBar) {
        TBTabBarControl *left = m_destinationTabBar;
        draggingExitedTabBar(left);
        if (m_destinationTabBar == left)
            return;
    }
    if (!bar)
        return;
    const QPointF local = bar->mapFromGlobal(QPointF(globalPoint));
    if (bar != m_destinationTabBar)
        draggingEnteredTabBar(bar, local);
    else
        draggingUpdatedInTabBar(bar, local);
}

void TBTabDragAssistant::dropAt(const QPoint &globalPoint)
{
    if (!m_isDragging)
        return;
    draggingMovedTo(globalPoint);
    if (m_destinationTabBar)
        performDragOperation();
    else
        draggedImageEndedAt(globalPoint);
}

bool TBTabDragAssistant::performDragOperation()
{
    TBTabBarControl *destination = m_destinationTabBar;
    TBTabBarControl *source = m_sourceTabBar;
    if (!m_isDragging || !destination || !source || !m_draggedCell)
        return false;
    const auto &cells = destination->cells();
    int i = int(std::find(cells.begin(), cells.end(), m_targetCell) - cells.begin());
    if (i >= int(cells.size()))
        i = int(cells.size()) - 1;
    TBTabBarCell *cell = m_draggedCell.get();
    TBTabViewItem *item = cell->representedItem();
    if (i >= 0) {
        destination->removeTabForCell(cells[std::size_t(i)]);
        destination->insertCell(std::move(m_draggedCell), i);
    } else {
        destination->insertCell(std::move(m_draggedCell), 0);
    }
    m_targetCell = nullptr;

    TBTabView *sourceView = source->tabView();
    if (destination == source) {
        removeAllPlaceholdersFromTabBar(destination);
        const auto &now = destination->cells();
        const int j = now.empty() ? 0 : int(std::find(now.begin(), now.end(), cell) - now.begin());
        const bool wasSelected = sourceView->selectedItem() == item;
        TBTabViewDelegate *keep = sourceView->delegate();
        sourceView->setDelegate(nullptr);
        sourceView->insertItem(sourceView->takeItem(item), j);
        sourceView->setDelegate(keep);
        destination->bindPropertiesForCell(cell, item);
        if (wasSelected)
            sourceView->selectItem(item);
        destination->updateTabs(false);
    } else {
        int j = 0;
        for (TBTabBarCell *c : destination->cells()) {
            if (c == cell)
                break;
            if (!c->isPlaceholder())
                ++j;
        }
        destination->tabView()->insertItem(sourceView->takeItem(item), j);
        destination->bindPropertiesForCell(cell, item);
        destination->tabView()->selectItem(item);
    }
    const auto &after = destination->cells();
    const int finalIndex = int(std::find(after.begin(), after.end(), cell) - after.begin());
    if (!(destination == source && finalIndex == m_draggedCellIndex) && source->delegate())
        source->delegate()->tabViewDidDropItem(sourceView, item, destination);
    emit dragDidEnd();
    finishDrag();
    return true;
}

void TBTabDragAssistant::draggedImageEndedAt(const QPoint &globalPoint)
{
    if (!m_isDragging || !m_draggedCell)
        return;
    TBTabBarControl *source = m_sourceTabBar;
    TBTabBarControlDelegate *delegate = source ? source->delegate() : nullptr;
    TBTabViewItem *item = m_draggedCell->representedItem();
    bool placed = false;
    if (!m_destinationTabBar && delegate && delegate->tabViewShouldDropItem(source->tabView(), item, nullptr).value_or(false)) {
        if (const auto made = delegate->tabViewNewTabBarForDraggedItem(source->tabView(), item, globalPoint)) {
            if (TBTabBarControl *bar = *made) {
                TBTabBarCell *cell = m_draggedCell.get();
                bar->insertCell(std::move(m_draggedCell), 0);
                bar->tabView()->addItem(source->tabView()->takeItem(item));
                bar->bindPropertiesForCell(cell, item);
                bar->updateTabs(false);
                QWidget *window = bar->window();
                if (m_currentTearOffStyle != 0) {
                    // The new window grows into place around the pointer, fading in.
                    window->move(globalPoint - QPoint(window->width() / 2, window->height() / 2));
                    window->setWindowOpacity(0);
                    auto *fade = new QPropertyAnimation(window, "windowOpacity", window);
                    fade->setDuration(250);
                    fade->setStartValue(0.1);
                    fade->setEndValue(1.0);
                    fade->setEasingCurve(QEasingCurve::InOutQuad);
                    fade->start(QAbstractAnimation::DeleteWhenStopped);
                }
                window->show();
                window->activateWindow();
                delegate->tabViewDidDropItem(source->tabView(), item, bar);
                placed = true;
            } else {
                qWarning("Delegate returned no control to add to.");
            }
        }
    }
    if (!placed && source) {
        // Back where it was, once the gaps have closed.
        removeAllPlaceholdersFromTabBar(source);
        TBTabBarCell *cell = m_draggedCell.get();
        source->insertCell(std::move(m_draggedCell), m_draggedCellIndex);
        source->bindPropertiesForCell(cell, item);
    }
    emit dragDidEnd();
    finishDrag();
}

void TBTabDragAssistant::finishDrag()
{
    TBTabBarControl *source = m_sourceTabBar;
    if (source && source->tabView() && source->tabView()->numberOfItems() == 0 && source->delegate())
        source->delegate()->tabViewCloseWindowForLastItem(source->tabView(), m_draggedItem);
    m_tabWindow.reset();
    m_isDragging = false;
    if (source) {
        removeAllPlaceholdersFromTabBar(source);
        source->unsetCursor();
    }
    m_sourceTabBar = nullptr;
    m_destinationTabBar = nullptr;
    for (TBTabBarControl *bar : QSet<TBTabBarControl *>(m_participating))
        removeAllPlaceholdersFromTabBar(bar);
    m_participating.clear();
    if (m_draggedCell && source) {
        TBTabBarCell *cell = m_draggedCell.get();
        source->insertCell(std::move(m_draggedCell), m_draggedCellIndex);
        source->bindPropertiesForCell(cell, cell->representedItem());
        source->updateTabs(false);
    }
    m_draggedCell.reset();
    m_draggedItem = nullptr;
    m_animationTimer.stop();
    m_sineCurveWidths.clear();
    m_targetCell = nullptr;
    m_currentMouseLoc = QPointF(-1, -1);
}

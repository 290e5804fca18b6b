#include "TBTabBarControl.h"

#include "TBTabBarAccessible.h"
#include "TBTabBarButtons.h"
#include "TBTabBarCell.h"
#include "TBTabBarControlDelegate.h"
#include "TBTabBarController.h"
#include "TBTabDragAssistant.h"
#include "TBTabStyle.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLayout>
#include <QMenu>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

// Properties of a tab's model object that the cell shows.
const char *const tbControlModelProperties[] = {"isProcessing", "icon", "objectCount", "countColor", "largeImage", "isEdited"};

QObject *tbControlModelOf(const TBTabViewItem *item)
{
    return item ? item->identifier().value<QObject *>() : nullptr;
}

bool tbControlHasProperty(const QObject *model, const char *name)
{
    return model && (model->metaObject()->indexOfProperty(name) >= 0 || model->dynamicPropertyNames().contains(name));
}

} // namespace

TBTabBarControl::TBTabBarControl(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
    m_style = TBMakeTabStyle(QString());
    m_controller = std::make_unique<TBTabBarController>(this);
    createButtons();
    setAcceptDrops(true);
    TBTabDragAssistant::sharedDragAssistant().registerTabBar(this);
    static const bool accessibilityInstalled = (QAccessible::installFactory(&TBTabBarAccessible::factory), true);
    Q_UNUSED(accessibilityInstalled);
    m_springTimer.setSingleShot(true);
    m_springTimer.setInterval(668);
    connect(&m_springTimer, &QTimer::timeout, this, &TBTabBarControl::fireSpring);
    m_cellAnimation.setInterval(1000 / 30);
    connect(&m_cellAnimation, &QTimer::timeout, this, &TBTabBarControl::animateCellsStep);
    m_showHideTimer.setInterval(1000 / 30);
    connect(&m_showHideTimer, &QTimer::timeout, this, &TBTabBarControl::showHideStep);
}

TBTabBarControl::~TBTabBarControl()
{
    TBTabDragAssistant::sharedDragAssistant().unregisterTabBar(this);
    m_cellAnimation.stop();
    m_showHideTimer.stop();
    if (m_tabView && m_tabView->delegate() == this)
        m_tabView->setDelegate(nullptr);
    // No relayout while going: the cells are simply dropped.
    for (TBTabBarCell *cell : m_cells)
        delete cell;
    m_cells.clear();
}

void TBTabBarControl::createButtons()
{
    const double w = width(), h = height(), r = m_style->rightMarginForTabBarControl();
    m_overflowButton = new TBOverflowPopUpButton(this);
    m_overflowButton->setGeometry(QRectF(w - r + 1, 0, r - 1, h).toRect());
    m_overflowButton->hide();
    placeOverflowButton();
    m_addTabButton = new TBRolloverButton(this);
    m_addTabButton->setGeometry(QRectF(w - r + 1, 3, 16, 16).toRect());
    applyAddButtonImages();
    m_addTabButton->setVisible(m_showAddTabButton);
}

void TBTabBarControl::applyAddButtonImages()
{
    if (!m_style->addTabButtonImage().isNull())
        m_addTabButton->setUsualImage(m_style->addTabButtonImage());
    if (!m_style->addTabButtonPressedImage().isNull())
        m_addTabButton->setAlternateImage(m_style->addTabButtonPressedImage());
    if (!m_style->addTabButtonRolloverImage().isNull())
        m_addTabButton->setRolloverImage(m_style->addTabButtonRolloverImage());
}

void TBTabBarControl::placeOverflowButton()
{
    const double c = m_resizeAreaCompensation, h = m_style->tabCellHeight(), r = m_style->rightMarginForTabBarControl();
    if (m_orientation == TBTabBarOrientation::Horizontal)
        m_overflowButton->setGeometry(QRectF(width() - r + 1 - c, 0, r, h).toRect());
    else
        m_overflowButton->setGeometry(QRectF(0, height() - h, width(), h).toRect());
}

void TBTabBarControl::setTabView(TBTabView *tabView)
{
    if (m_tabView == tabView)
        return;
    if (m_tabView && m_tabView->delegate() == this)
        m_tabView->setDelegate(nullptr);
    for (TBTabBarCell *cell : std::vector<TBTabBarCell *>(m_cells))
        removeTabForCell(cell);
    m_tabView = tabView;
    if (!tabView)
        return;
    tabView->setDelegate(this);
    for (TBTabViewItem *item : tabView->items())
        if (!cellForItem(item))
            addTabViewItem(item);
}

void TBTabBarControl::setDelegate(TBTabBarControlDelegate *delegate)
{
    m_delegate = delegate;
}

void TBTabBarControl::setStyle(std::unique_ptr<TBTabStyle> style)
{
    if (!style || style.get() == m_style.get())
        return;
    m_style = std::move(style);
    m_style->setOrientation(m_orientation);
    applyAddButtonImages();
    for (TBTabBarCell *cell : m_cells)
        cell->setStringValue(cell->stringValue());
    updateTabs();
}

QString TBTabBarControl::styleName() const
{
    return m_style->name();
}

void TBTabBarControl::setStyleNamed(const QString &name)
{
    setStyle(TBMakeTabStyle(name));
}

void TBTabBarControl::setOrientation(TBTabBarOrientation orientation)
{
    const bool changed = orientation != m_orientation;
    m_orientation = orientation;
    if (m_tabBarWidth <= 9)
        m_tabBarWidth = 120;
    if (changed) {
        m_style->setOrientation(orientation);
        placeOverflowButton();
        updateTabs(false);
    }
}

void TBTabBarControl::setCanCloseOnlyTab(bool value)
{
    m_canCloseOnlyTab = value;
    if (m_cells.size() == 1)
        updateTabs();
}

void TBTabBarControl::setShowAddTabButton(bool value)
{
    m_showAddTabButton = value;
    if (!m_controller->addButtonRect().isEmpty())
        m_addTabButton->setGeometry(m_controller->addButtonRect().toRect());
    m_addTabButton->setVisible(value);
    m_addTabButton->update();
    updateTabs();
}

TBTabBarCell *TBTabBarControl::cellForItem(const TBTabViewItem *item) const
{
    for (TBTabBarCell *cell : m_cells)
        if (cell->representedItem() == item)
            return cell;
    return nullptr;
}

double TBTabBarControl::availableCellWidth() const
{
    return width() - m_style->leftMarginForTabBarControl() - m_style->rightMarginForTabBarControl() - m_resizeAreaCompensation;
}

QRectF TBTabBarControl::genericCellRect() const
{
    return QRectF(m_style->leftMarginForTabBarControl(), 0, availableCellWidth(), m_style->tabCellHeight());
}

QList<TBTabViewItem *> TBTabBarControl::representedTabViewItems() const
{
    QList<TBTabViewItem *> items;
    for (TBTabBarCell *cell : m_cells)
        if (cell->representedItem())
            items.append(cell->representedItem());
    return items;
}

TBTabBarCell *TBTabBarControl::cellForPoint(const QPointF &point, QRectF *cellFrame) const
{
    if (m_orientation == TBTabBarOrientation::Horizontal && !genericCellRect().contains(point))
        return nullptr;
    for (std::size_t i = 0; i < m_cells.size(); ++i) {
        TBTabBarCell *cell = m_cells[i];
        if (cell->isInOverflowMenu())
            continue;
        if (cell->frame().contains(point)) {
            if (cellFrame)
                *cellFrame = cell->frame();
            return cell;
        }
    }
    return nullptr;
}

TBTabBarCell *TBTabBarControl::lastVisibleTab() const
{
    for (std::size_t i = 0; i < m_cells.size(); ++i)
        if (m_cells[i]->isInOverflowMenu())
            return i > 0 ? m_cells[i - 1] : nullptr;
    return m_cells.empty() ? nullptr : m_cells.back();
}

int TBTabBarControl::numberOfVisibleTabs() const
{
    int count = 0;
    for (TBTabBarCell *cell : m_cells) {
        if (cell->isInOverflowMenu())
            break;
        if (!cell->isPlaceholder())
            ++count;
    }
    return count;
}

void TBTabBarControl::addTabViewItem(TBTabViewItem *item)
{
    auto *cell = new TBTabBarCell(this);
    const QRectF last = m_cells.empty() ? QRectF() : m_cells.back()->frame();
    QRectF frame = genericCellRect();
    if (m_orientation == TBTabBarOrientation::Horizontal) {
        frame.moveLeft(last.x() + last.width());
        frame.setWidth(30);
    } else {
        frame = QRectF(frame.x(), last.y() + last.height(), last.width(), 0);
    }
    cell->setRepresentedItem(item);
    cell->setFrame(frame);
    m_cells.push_back(cell);
    bindPropertiesForCell(cell, item);
    if (m_tabView && int(m_cells.size()) == m_tabView->numberOfItems())
        updateTabs();
}

void TBTabBarControl::bindPropertiesForCell(TBTabBarCell *cell, TBTabViewItem *item)
{
    if (cell->indicator())
        cell->indicator()->setSpinnerHidden(true);
    disconnect(item, nullptr, this, nullptr);
    if (QObject *old = tbControlModelOf(item))
        disconnect(old, nullptr, this, nullptr);
    refreshModelProperties(cell);
    if (QObject *model = tbControlModelOf(item)) {
        const QMetaMethod refresh = metaObject()->method(metaObject()->indexOfSlot("modelPropertyChanged()"));
        for (const char *name : tbControlModelProperties) {
            const int index = model->metaObject()->indexOfProperty(name);
            if (index >= 0 && model->metaObject()->property(index).hasNotifySignal())
                connect(model, model->metaObject()->property(index).notifySignal(), this, refresh);
        }
    }
    cell->setStringValue(item->label());
    connect(item, &TBTabViewItem::labelChanged, this, [this, item](const QString &label) {
        for (TBTabBarCell *c : m_cells)
            if (c->representedItem() == item)
                c->setStringValue(label);
    });
    connect(item, &TBTabViewItem::identifierChanged, this, [this, item] {
        for (TBTabBarCell *c : m_cells)
            if (c->representedItem() == item)
                bindPropertiesForCell(c, item);
    });
}

void TBTabBarControl::refreshModelProperties(TBTabBarCell *cell)
{
    QObject *model = tbControlModelOf(cell->representedItem());
    cell->setHasIcon(false);
    cell->setCount(0);
    cell->setCountColor(QColor());
    cell->setHasLargeImage(false);
    cell->setEdited(false);
    if (!model)
        return;
    if (tbControlHasProperty(model, "isProcessing") && cell->indicator())
        cell->indicator()->setSpinnerHidden(!model->property("isProcessing").toBool());
    if (tbControlHasProperty(model, "icon"))
        cell->setHasIcon(!model->property("icon").isNull() && model->property("icon").isValid()
                         && !(model->property("icon").canConvert<QPixmap>() && model->property("icon").value<QPixmap>().isNull()));
    if (tbControlHasProperty(model, "objectCount"))
        cell->setCount(model->property("objectCount").toLongLong());
    if (tbControlHasProperty(model, "countColor"))
        cell->setCountColor(model->property("countColor").value<QColor>());
    if (tbControlHasProperty(model, "largeImage"))
        cell->setHasLargeImage(!model->property("largeImage").value<QPixmap>().isNull());
    if (tbControlHasProperty(model, "isEdited"))
        cell->setEdited(model->property("isEdited").toBool());
}

void TBTabBarControl::modelPropertyChanged()
{
    QObject *model = sender();
    for (TBTabBarCell *cell : m_cells)
        if (tbControlModelOf(cell->representedItem()) == model)
            refreshModelProperties(cell);
    QTimer::singleShot(0, this, [this] { updateTabs(); });
}

void TBTabBarControl::removeTabForCell(TBTabBarCell *cell)
{
    auto taken = takeCell(cell);
    if (!taken)
        return;
    m_retired.push_back(std::move(taken));
    if (m_retired.size() == 1)
        QTimer::singleShot(0, this, [this] { m_retired.clear(); });
    updateTabs();
}

std::unique_ptr<TBTabBarCell> TBTabBarControl::takeCell(TBTabBarCell *cell)
{
    const auto it = std::find(m_cells.begin(), m_cells.end(), cell);
    if (it == m_cells.end())
        return nullptr;
    TBTabViewItem *item = cell->representedItem();
    if (item && !cellForItemExcept(item, cell)) {
        disconnect(item, nullptr, this, nullptr);
        if (QObject *model = tbControlModelOf(item))
            disconnect(model, nullptr, this, nullptr);
    }
    if (cell->indicator() && cell->indicator()->parent() == this)
        cell->indicator()->setParent(nullptr);
    if (auto *accessible = dynamic_cast<TBTabBarAccessible *>(QAccessible::queryAccessibleInterface(this)))
        accessible->forgetCell(cell);
    m_cells.erase(it);
    return std::unique_ptr<TBTabBarCell>(cell);
}

TBTabBarCell *TBTabBarControl::cellForItemExcept(const TBTabViewItem *item, const TBTabBarCell *except) const
{
    for (TBTabBarCell *cell : m_cells)
        if (cell != except && cell->representedItem() == item)
            return cell;
    return nullptr;
}

void TBTabBarControl::insertCell(std::unique_ptr<TBTabBarCell> cell, int index)
{
    index = std::clamp(index, 0, int(m_cells.size()));
    cell->setControlView(this);
    m_cells.insert(m_cells.begin() + index, cell.release());
}

void TBTabBarControl::closeTabViewItem(TBTabViewItem *item)
{
    if (!m_tabView)
        return;
    const int index = m_tabView->indexOfItem(item);
    if (index >= 0 && index < int(m_cells.size()))
        closeTabClick(m_cells[std::size_t(index)]);
}

void TBTabBarControl::closeCurrentTab()
{
    if (m_tabView && m_tabView->selectedItem())
        closeTabViewItem(m_tabView->selectedItem());
}

void TBTabBarControl::closeTabClick(TBTabBarCell *cell)
{
    if (!m_tabView || !cell)
        return;
    if (m_cells.size() == 1 && !m_canCloseOnlyTab)
        return;
    TBTabViewItem *item = cell->representedItem();
    if (m_delegate && !m_delegate->tabViewShouldCloseItem(m_tabView, item).value_or(true)) {
        cell->setCloseButtonPressed(false);
        update();
        return;
    }
    m_tabView->removeItem(item);
}

bool TBTabBarControl::isClosableOther(const TBTabBarCell *other, const TBTabBarCell *kept) const
{
    return other != kept && !other->isCloseButtonSuppressed() && other->hasCloseButton();
}

void TBTabBarControl::closeOtherTabs(TBTabBarCell *kept)
{
    // Tabs without a close button stay. Closing one may close or move others (a delegate
    // asked about unsaved changes), so each is looked for again before it is closed.
    for (TBTabBarCell *other : std::vector<TBTabBarCell *>(m_cells)) {
        if (std::find(m_cells.begin(), m_cells.end(), other) == m_cells.end() || !isClosableOther(other, kept))
            continue;
        closeTabClick(other);
    }
}

void TBTabBarControl::tabClick(TBTabBarCell *cell)
{
    if (m_tabView && cell)
        m_tabView->selectItem(cell->representedItem());
}

void TBTabBarControl::overflowMenuAction(TBTabViewItem *item)
{
    if (m_tabView)
        m_tabView->selectItem(item);
}

void TBTabBarControl::rebuildOverflowMenu()
{
    const auto &entries = m_controller->overflowMenu();
    if (!entries) {
        m_overflowMenu.reset();
        m_overflowButton->setMenu(nullptr);
        m_overflowButton->hide();
        return;
    }
    if (!m_overflowMenu) {
        m_overflowMenu = std::make_unique<QMenu>();
        // Marks and enabled states are asked for each time the menu opens.
        connect(m_overflowMenu.get(), &QMenu::aboutToShow, this, [this] {
            for (QAction *action : m_overflowMenu->actions()) {
                auto *item = static_cast<TBTabViewItem *>(action->data().value<void *>());
                action->setCheckable(true);
                action->setChecked(m_tabView && item == m_tabView->selectedItem());
                if (m_delegate)
                    action->setEnabled(m_delegate->tabViewValidateOverflowMenuItem(m_tabView, action, item).value_or(true));
                if (QObject *model = tbControlModelOf(item); tbControlHasProperty(model, "icon"))
                    action->setIcon(QIcon(model->property("icon").value<QPixmap>()));
            }
        });
    }
    m_overflowMenu->clear();
    for (const TBOverflowEntry &entry : *entries) {
        QAction *action = m_overflowMenu->addAction(entry.title);
        action->setData(QVariant::fromValue(static_cast<void *>(entry.item)));
        TBTabViewItem *item = entry.item;
        connect(action, &QAction::triggered, this, [this, item] { overflowMenuAction(item); });
    }
    m_overflowButton->setMenu(m_overflowMenu.get());
    m_overflowButton->show();
}

void TBTabBarControl::updateTabs(bool animate)
{
    if (!m_tabView || int(m_cells.size()) != m_tabView->numberOfItems())
        return;
    if (m_hideForSingleTab && m_cells.size() < 2) {
        hideTabBar(true, true);
        return;
    }
    hideTabBar(false, true);
    m_controller->layoutCells();
    rebuildOverflowMenu();
    m_cellAnimation.stop();
    if (animate) {
        m_cellTargets.clear();
        for (std::size_t i = 0; i < m_cells.size(); ++i)
            m_cellTargets.push_back(m_controller->cellFrameAtIndex(int(i)));
        m_addTabButton->setVisible(m_showAddTabButton);
        m_cellAnimationClock.start();
        m_cellAnimation.start();
        animateCellsStep();
        return;
    }
    for (std::size_t i = 0; i < m_cells.size(); ++i)
        m_cells[i]->setFrame(m_controller->cellFrameAtIndex(int(i)));
    trackMouse(mapFromGlobal(QCursor::pos()), QGuiApplication::queryKeyboardModifiers());
    m_addTabButton->setGeometry(m_controller->addButtonRect().toRect());
    m_addTabButton->setVisible(m_showAddTabButton);
    update();
}

void TBTabBarControl::animateCellsStep()
{
    const double elapsed = double(m_cellAnimationClock.elapsed()) / 500.0;
    const bool running = elapsed < 1.0 && !m_cells.empty();
    const double p = running ? QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(elapsed) : 1.0;
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    const std::size_t n = std::min(m_cellTargets.size(), m_cells.size());
    for (std::size_t i = 0; i < n; ++i) {
        QRectF f = m_cells[i]->frame();
        const QRectF &t = m_cellTargets[i];
        if (!vertical) {
            f.moveLeft(f.x() + (t.x() - f.x()) * p);
            f.setWidth(f.width() + (t.width() - f.width()) * p);
        } else {
            f.moveTop(f.y() + (t.y() - f.y()) * p);
            f.setHeight(f.height() + (t.height() - f.height()) * p);
        }
        m_cells[i]->setFrame(f);
    }
    if (m_showAddTabButton) {
        QRect b = m_addTabButton->geometry();
        b.moveLeft(int(b.x() + (m_controller->addButtonRect().x() - b.x()) * p));
        m_addTabButton->setGeometry(b);
    }
    trackMouse(mapFromGlobal(QCursor::pos()), Qt::NoModifier);
    if (!running)
        m_cellAnimation.stop();
    update();
}

void TBTabBarControl::hideTabBar(bool hide, bool animate)
{
    if (!m_awakened || m_isHidden == hide || m_currentStep != -1)
        return;
    m_isHidden = hide;
    m_currentStep = animate ? 0 : 3;
    m_overflowButton->setVisible(false);
    m_addTabButton->setVisible(false);

    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    QWidget *partner = m_partnerView ? m_partnerView.data() : nullptr;
    const QRect b = geometry();
    const QRect p = partner ? partner->geometry() : QRect();
    const double T = m_tabBarWidth;
    // Along the bar's axis: index 0 the bar, 1 the partner.
    Span bar = vertical ? Span{double(b.x()), double(b.width())} : Span{double(b.y()), double(b.height())};
    Span other = vertical ? Span{double(p.x()), double(p.width())} : Span{double(p.y()), double(p.height())};
    Span barTarget = bar, otherTarget = other;
    if (!vertical) {
        const bool barAbove = partner && b.y() - 22 < p.y();
        const double d = hide ? 21 : -21;
        barTarget.size = bar.size - d;
        if (barAbove) {
            // The partner below grows into the room the bar gives up.
            otherTarget.origin = other.origin - d;
            otherTarget.size = other.size + d;
        } else if (partner) {
            // The bar sits below the partner: its top moves, the partner grows down.
            barTarget.origin = bar.origin + d;
            otherTarget.size = other.size + d;
        }
    } else {
        const bool partnerRight = partner && p.x() + p.width() > b.x();
        if (hide) {
            m_tabBarWidth = b.width();
            if (partnerRight) {
                barTarget.size = 1;
                otherTarget = {other.origin - bar.size + 1, other.size + bar.size - 1};
            } else {
                barTarget = {bar.origin + bar.size, 1};
                otherTarget.size = other.size + bar.size;
            }
        } else {
            double width = T;
            if (m_delegate)
                width = m_delegate->desiredWidthForVerticalTabBar(this).value_or(T);
            if (partnerRight) {
                barTarget.size = bar.size + width;
                otherTarget = {other.origin + width, other.size - width};
            } else {
                barTarget = {bar.origin - width, bar.size + width};
                otherTarget.size = other.size - width;
            }
        }
    }
    m_showHideStart[0] = bar;
    m_showHideStart[1] = other;
    m_showHideTarget[0] = barTarget;
    m_showHideTarget[1] = otherTarget;
    m_showHideTimer.start();
    if (!animate)
        showHideStep();
}

void TBTabBarControl::showHideStep()
{
    const double f = double(m_currentStep) / 3.0;
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    const auto place = [vertical, f](QWidget *w, const Span &start, const Span &target) {
        const double origin = start.origin + (target.origin - start.origin) * f;
        const double size = start.size + (target.size - start.size) * f;
        QRect g = w->geometry();
        if (vertical)
            g = QRect(int(origin), g.y(), int(size), g.height());
        else
            g = QRect(g.x(), int(origin), g.width(), int(size));
        w->setGeometry(g);
    };
    QLayout *layout = parentWidget() ? parentWidget()->layout() : nullptr;
    if (layout && layout->indexOf(this) >= 0) {
        // In a layout the bar only changes its size; the layout moves its neighbours.
        const double size = m_showHideStart[0].size + (m_showHideTarget[0].size - m_showHideStart[0].size) * f;
        if (vertical)
            setFixedWidth(int(size));
        else
            setFixedHeight(int(size));
    } else {
        if (m_partnerView)
            place(m_partnerView, m_showHideStart[1], m_showHideTarget[1]);
        place(this, m_showHideStart[0], m_showHideTarget[0]);
    }
    ++m_currentStep;
    if (m_currentStep < 4)
        return;
    m_currentStep = -1;
    m_showHideTimer.stop();
    if (m_isHidden) {
        if (m_delegate)
            m_delegate->tabViewTabBarDidHide(m_tabView, this);
        emit tabBarDidHide();
    } else {
        updateTabs(false);
        if (m_delegate)
            m_delegate->tabViewTabBarDidUnhide(m_tabView, this);
        emit tabBarDidUnhide();
    }
}

void TBTabBarControl::placeView(const QRect &frame)
{
    setGeometry(frame);
    updateTabs(false);
}

// Tab view delegate.

std::optional<bool> TBTabBarControl::tabViewShouldSelectItem(TBTabView *tabView, TBTabViewItem *item)
{
    return m_delegate ? m_delegate->tabViewShouldSelectItem(tabView, item).value_or(true) : true;
}

void TBTabBarControl::tabViewWillSelectItem(TBTabView *tabView, TBTabViewItem *item)
{
    if (m_delegate)
        m_delegate->tabViewWillSelectItem(tabView, item);
}

void TBTabBarControl::tabViewDidSelectItem(TBTabView *tabView, TBTabViewItem *item)
{
    const int index = tabView->indexOfItem(item);
    if (index >= 0 && index < int(m_cells.size())) {
        TBTabBarCell *cell = m_cells[std::size_t(index)];
        if (!m_alwaysShowActiveTab || !cell->isInOverflowMenu()) {
            m_controller->setSelectedCell(cell);
            update();
        } else {
            // Bring the tab to the front so that it shows.
            tabView->setDelegate(nullptr);
            auto owned = tabView->takeItem(item);
            tabView->insertItem(std::move(owned), 0);
            m_cells.erase(m_cells.begin() + index);
            m_cells.insert(m_cells.begin(), cell);
            cell->setIsInOverflowMenu(false);
            m_cells.back()->setIsInOverflowMenu(true);
            tabView->setDelegate(this);
            tabView->selectItem(item);
            updateTabs();
        }
    }
    if (m_delegate)
        m_delegate->tabViewDidSelectItem(tabView, item);
}

void TBTabBarControl::tabViewDidChangeNumberOfItems(TBTabView *tabView)
{
    followTabView();
    if (m_delegate)
        m_delegate->tabViewDidChangeNumberOfItems(tabView);
}

void TBTabBarControl::followTabView()
{
    if (!m_tabView)
        return;
    for (TBTabBarCell *cell : std::vector<TBTabBarCell *>(m_cells)) {
        TBTabViewItem *item = cell->representedItem();
        if (!item || m_tabView->indexOfItem(item) >= 0)
            continue;   // placeholders of a drag stand for no item
        if (m_delegate)
            m_delegate->tabViewDidCloseItem(m_tabView, item);
        removeTabForCell(cell);
    }
    for (TBTabViewItem *item : m_tabView->items())
        if (!cellForItem(item))
            addTabViewItem(item);
}

// Drawing and events.

void TBTabBarControl::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    m_style->drawTabBar(painter, *this, event->rect());
}

void TBTabBarControl::trackMouse(const QPointF &point, Qt::KeyboardModifiers modifiers)
{
    bool changed = false;
    const bool inside = rect().contains(point.toPoint()) && underMouse();
    for (std::size_t i = 0; i < m_cells.size(); ++i) {
        TBTabBarCell *cell = m_cells[i];
        const bool tracked = !cell->isInOverflowMenu() && inside;
        const bool over = tracked && cell->frame().contains(point);
        const bool closeOver = over && cell->hasCloseButton() && !cell->isCloseButtonSuppressed()
            && cell->closeButtonRectForFrame(cell->frame()).contains(point);
        if (over && !cell->isHighlighted() && m_allowsScrubbing && (modifiers & Qt::AltModifier))
            tabClick(cell);
        if (over != cell->isHighlighted() || closeOver != cell->closeButtonOverRaw()) {
            cell->setHighlighted(over);
            cell->setCloseButtonOver(closeOver);
            changed = true;
        }
    }
    if (changed)
        update();
}

void TBTabBarControl::mousePressEvent(QMouseEvent *event)
{
    const QPointF point = event->position();
    m_didDrag = false;
    m_hasMouseDown = true;
    m_mouseDownPoint = point;
    m_lastMousePoint = point;
    if (m_orientation == TBTabBarOrientation::Vertical && m_allowsResizing && m_partnerView && point.x() > width() - 3)
        m_resizing = true;
    QRectF frame;
    TBTabBarCell *cell = cellForPoint(point, &frame);
    if (!cell)
        return;
    const bool commandDown = event->modifiers() & Qt::ControlModifier;
    if (cell->closeButtonRectForFrame(frame).contains(point) && !m_disableTabClose && !cell->isCloseButtonSuppressed()
        && (m_allowsBackgroundTabClosing || cell->representedItem() == m_tabView->selectedItem() || commandDown)) {
        cell->setCloseButtonPressed(true);
        cell->setCloseButtonOver(false);
        m_closeClicked = true;
    } else {
        cell->setCloseButtonPressed(false);
        if (m_selectsTabsOnMouseDown)
            tabClick(cell);
    }
    update();
}

void TBTabBarControl::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF point = event->position();
    TBTabDragAssistant &drag = TBTabDragAssistant::sharedDragAssistant();
    if (drag.isDragging() && drag.sourceTabBar() == this) {
        drag.draggingMovedTo(event->globalPosition().toPoint());
        return;
    }
    if (!(event->buttons() & Qt::LeftButton) || !m_hasMouseDown) {
        trackMouse(point, event->modifiers());
        return;
    }
    const double dx = point.x() - m_lastMousePoint.x();
    m_lastMousePoint = point;
    if (m_resizing) {
        if ((point.x() > width() && dx > 0) || (point.x() < width() && dx < 0)) {
            setCursor(Qt::SizeHorCursor);
            const double newWidth = width() + dx;
            if (newWidth > m_cellMinWidth && newWidth < m_cellMaxWidth) {
                QRect g = geometry();
                g.setWidth(int(newWidth));
                setGeometry(g);
                QRect p = m_partnerView->geometry();
                p.setLeft(p.left() + int(dx));
                m_partnerView->setGeometry(p);
            }
        }
        return;
    }
    QRectF frame;
    TBTabBarCell *cell = cellForPoint(m_mouseDownPoint, &frame);
    if (!cell)
        return;
    const QRectF closeRect = cell->closeButtonRectForFrame(frame);
    if (m_closeClicked && closeRect.contains(m_mouseDownPoint)
        && (m_allowsBackgroundTabClosing || cell->representedItem() == m_tabView->selectedItem())) {
        cell->setCloseButtonPressed(closeRect.contains(point));
        update();
        return;
    }
    const QPointF d = point - m_mouseDownPoint;
    if (std::hypot(d.x(), d.y()) >= 10 && !m_didDrag && !TBTabDragAssistant::sharedDragAssistant().isDragging() && m_delegate
        && m_delegate->tabViewShouldDragItem(m_tabView, cell->representedItem(), this).value_or(false)) {
        m_didDrag = true;
        TBTabDragAssistant::sharedDragAssistant().startDraggingCell(cell, this, m_mouseDownPoint);
    }
}

void TBTabBarControl::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_resizing) {
        m_resizing = false;
        unsetCursor();
        return;
    }
    if (!m_hasMouseDown)
        return;
    m_hasMouseDown = false;
    TBTabDragAssistant &drag = TBTabDragAssistant::sharedDragAssistant();
    if (drag.isDragging() && drag.sourceTabBar() == this) {
        drag.dropAt(event->globalPosition().toPoint());
        m_closeClicked = false;
        return;
    }
    const QPointF point = event->position();
    QRectF releasedFrame, pressedFrame;
    TBTabBarCell *released = cellForPoint(point, &releasedFrame);
    TBTabBarCell *pressed = cellForPoint(m_mouseDownPoint, &pressedFrame);
    if (released && pressed) {
        if (pressed->closeButtonRectForFrame(pressedFrame).contains(point) && !m_disableTabClose
            && !released->isCloseButtonSuppressed() && pressed->closeButtonPressed()) {
            if (event->modifiers() & Qt::AltModifier) {
                closeOtherTabs(released);
                if (std::find(m_cells.begin(), m_cells.end(), released) != m_cells.end())
                    released->setCloseButtonPressed(false);
            } else {
                closeTabClick(released);
            }
        } else if (pressedFrame.contains(point)) {
            if (released->closeButtonRectForFrame(releasedFrame).contains(m_mouseDownPoint) && m_allowsBackgroundTabClosing
                && !m_disableTabClose) {
                pressed->setCloseButtonPressed(false);
            } else {
                pressed->setCloseButtonPressed(false);
                if (!m_selectsTabsOnMouseDown)
                    tabClick(released);
            }
        } else {
            pressed->setCloseButtonPressed(false);
        }
    } else if (pressed) {
        pressed->setCloseButtonPressed(false);
    }
    m_closeClicked = false;
    update();
}

void TBTabBarControl::leaveEvent(QEvent *event)
{
    for (TBTabBarCell *cell : m_cells) {
        cell->setHighlighted(false);
        cell->setCloseButtonOver(false);
    }
    update();
    QWidget::leaveEvent(event);
}

void TBTabBarControl::contextMenuEvent(QContextMenuEvent *event)
{
    TBTabBarCell *cell = cellForPoint(event->pos());
    if (!cell || !cell->representedItem())
        return;
    if (m_delegate) {
        if (QMenu *menu = m_delegate->tabViewMenuForItem(m_tabView, cell->representedItem())) {
            menu->popup(event->globalPos());
            return;
        }
    }
    if (m_disableTabClose)
        return;
    // Without a menu of the delegate's the bar offers its own: closing the other tabs, which
    // the Alt-click on a close button also does, but which window managers often take.
    delete m_tabMenu;
    m_tabMenu = new QMenu(this);
    m_tabMenu->setAttribute(Qt::WA_DeleteOnClose);
    QAction *closeOthers = m_tabMenu->addAction(QStringLiteral("Close Other Tabs"));
    closeOthers->setEnabled(std::any_of(m_cells.begin(), m_cells.end(), [&](const TBTabBarCell *other) {
        return isClosableOther(other, cell);
    }));
    // The tab is found again when the item is chosen: it may have closed while the menu was open.
    TBTabViewItem *item = cell->representedItem();
    connect(closeOthers, &QAction::triggered, this, [this, item] {
        const auto kept = std::find_if(m_cells.begin(), m_cells.end(),
                                       [item](const TBTabBarCell *c) { return c->representedItem() == item; });
        if (kept != m_cells.end())
            closeOtherTabs(*kept);
    });
    m_tabMenu->popup(event->globalPos());
}

QString TBTabBarControl::toolTipAt(const QPointF &point) const
{
    TBTabBarCell *cell = cellForPoint(point);
    if (!cell || !m_delegate || !cell->representedItem())
        return QString();
    return m_delegate->tabViewToolTipForItem(m_tabView, cell->representedItem()).value_or(QString());
}

bool TBTabBarControl::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const QString tip = toolTipAt(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

void TBTabBarControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeOverflowButton();
    updateTabs(false);
}

void TBTabBarControl::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_awakened)
        return;
    // The first pass of the event loop after the bar first shows.
    QTimer::singleShot(0, this, [this] {
        if (m_awakened)
            return;
        if (m_hideForSingleTab && m_cells.size() < 2) {
            m_awakened = true;
            hideTabBar(true, false);
        }
        m_awakened = true;
        update();
    });
}

void TBTabBarControl::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange || event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

// Drags of other kinds: hovering over a tab selects it after the spring-loading delay.

bool TBTabBarControl::acceptsForeignDrag(const QMimeData *data) const
{
    if (!m_delegate || !m_tabView)
        return false;
    const QStringList types = m_delegate->allowedDraggedTypesForTabView(m_tabView).value_or(QStringList());
    for (const QString &type : types)
        if (data->hasFormat(type))
            return true;
    return false;
}

void TBTabBarControl::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptsForeignDrag(event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void TBTabBarControl::dragMoveEvent(QDragMoveEvent *event)
{
    springLoad(event->position());
    event->acceptProposedAction();
}

void TBTabBarControl::springLoad(const QPointF &point)
{
    m_springPoint = point;
    TBTabBarCell *cell = cellForPoint(point);
    TBTabViewItem *item = cell ? cell->representedItem() : nullptr;
    if (!item) {
        m_springTimer.stop();
        m_springItem = nullptr;
        return;
    }
    if (item != m_springItem) {
        m_springTimer.stop();
        m_springItem = item;
    }
    if (!m_springTimer.isActive())
        m_springTimer.start();
}

void TBTabBarControl::fireSpring()
{
    if (TBTabBarCell *cell = cellForPoint(m_springPoint))
        tabClick(cell);
    m_springItem = nullptr;
}

void TBTabBarControl::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_springTimer.stop();
    m_springItem = nullptr;
    QWidget::dragLeaveEvent(event);
}

void TBTabBarControl::dropEvent(QDropEvent *event)
{
    m_springTimer.stop();
    m_springItem = nullptr;
    TBTabBarCell *cell = cellForPoint(event->position());
    // A drop nobody takes is reported as refused.
    const bool taken = cell && m_delegate
        && m_delegate->tabViewAcceptedDrop(m_tabView, event->mimeData(), cell->representedItem()).value_or(false);
    if (taken)
        event->acceptProposedAction();
    else
        event->ignore();
}

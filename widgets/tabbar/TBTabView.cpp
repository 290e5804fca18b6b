#include "TBTabView.h"

TBTabViewItem::TBTabViewItem(const QVariant &identifier, const QString &label, QWidget *view)
    : m_identifier(identifier), m_label(label), m_view(view ? view : new QWidget)
{
}

TBTabViewItem::~TBTabViewItem()
{
    // A view still in a stack belongs to it; a detached one belongs to the item.
    if (m_view && !m_view->parent())
        delete m_view.data();
}

void TBTabViewItem::setIdentifier(const QVariant &identifier)
{
    if (m_identifier == identifier)
        return;
    m_identifier = identifier;
    emit identifierChanged();
}

void TBTabViewItem::setLabel(const QString &label)
{
    if (m_label == label)
        return;
    m_label = label;
    emit labelChanged(label);
}

TBTabView::TBTabView(QWidget *parent) : QStackedWidget(parent) {}

TBTabView::~TBTabView()
{
    m_delegate = nullptr;
    const QList<TBTabViewItem *> items = m_items;
    m_items.clear();
    for (TBTabViewItem *item : items) {
        item->m_tabView = nullptr;
        delete item;
    }
}

TBTabViewItem *TBTabView::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

int TBTabView::indexOfItem(const TBTabViewItem *item) const
{
    return int(m_items.indexOf(const_cast<TBTabViewItem *>(item)));
}

int TBTabView::indexOfItemWithIdentifier(const QVariant &identifier) const
{
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items.at(i)->identifier() == identifier)
            return i;
    return -1;
}

TBTabViewItem *TBTabView::itemWithIdentifier(const QVariant &identifier) const
{
    return itemAt(indexOfItemWithIdentifier(identifier));
}

TBTabViewItem *TBTabView::addItem(std::unique_ptr<TBTabViewItem> item)
{
    return insertItem(std::move(item), numberOfItems());
}

TBTabViewItem *TBTabView::addItem(const QVariant &identifier, const QString &label, QWidget *view)
{
    return addItem(std::make_unique<TBTabViewItem>(identifier, label, view));
}

TBTabViewItem *TBTabView::insertItem(std::unique_ptr<TBTabViewItem> owned, int index)
{
    TBTabViewItem *item = owned.release();
    index = std::clamp(index, 0, numberOfItems());
    item->setParent(this);
    item->m_tabView = this;
    m_items.insert(index, item);
    addWidget(item->view());
    if (!m_selected)
        changeSelection(item, true);
    if (m_delegate)
        m_delegate->tabViewDidChangeNumberOfItems(this);
    return item;
}

std::unique_ptr<TBTabViewItem> TBTabView::takeItem(TBTabViewItem *item)
{
    const int index = indexOfItem(item);
    if (index < 0)
        return nullptr;
    m_items.removeAt(index);
    item->setParent(nullptr);
    item->m_tabView = nullptr;
    if (item->view()) {
        removeWidget(item->view());
        item->view()->setParent(nullptr);
    }
    if (m_selected == item) {
        m_selected = nullptr;
        TBTabViewItem *next = itemAt(std::min(index, numberOfItems() - 1));
        if (next)
            changeSelection(next, false);
        else
            emit selectedItemChanged(nullptr);
    }
    if (m_delegate)
        m_delegate->tabViewDidChangeNumberOfItems(this);
    return std::unique_ptr<TBTabViewItem>(item);
}

void TBTabView::removeItem(TBTabViewItem *item)
{
    if (auto taken = takeItem(item))
        taken.release()->deleteLater();
}

void TBTabView::dropPendingRedraws(QWidget *page)
{
    // Windows among them (a pop-over of the page, say) draw on their own.
    if (!page || page->isWindow())
        return;
    QCoreApplication::removePostedEvents(page, QEvent::UpdateLater);
    for (QObject *child : page->children())
        if (child->isWidgetType())
            dropPendingRedraws(static_cast<QWidget *>(child));
}

void TBTabView::selectItem(TBTabViewItem *item)
{
    if (!item || item == m_selected || indexOfItem(item) < 0)
        return;
    changeSelection(item, true);
}

bool TBTabView::selectItemWithIdentifier(const QVariant &identifier)
{
    TBTabViewItem *item = itemWithIdentifier(identifier);
    selectItem(item);
    return item && m_selected == item;
}

void TBTabView::changeSelection(TBTabViewItem *item, bool ask)
{
    // A selection forced by a removal cannot be refused: some item has to show.
    if (ask && m_delegate && !m_delegate->tabViewShouldSelectItem(this, item).value_or(true))
        return;
    if (m_delegate)
        m_delegate->tabViewWillSelectItem(this, item);
    m_selected = item;
    // The stacked layout turns the updates of this view off and on again around the switch,
    // which walks every widget of every page it holds (the pages of a pane that keeps what it
    // made add up): the view says its updates are off already, so the layout leaves them be.
    // Nothing is painted before the event loop comes round anyway, both pages settled by then.
    const bool updatesWereOn = !testAttribute(Qt::WA_UpdatesDisabled);
    if (updatesWereOn)
        setAttribute(Qt::WA_UpdatesDisabled, true);
    setCurrentWidget(item->view());
    if (updatesWereOn) {
        setAttribute(Qt::WA_UpdatesDisabled, false);
        update();
        // Each widget of the page now shown has asked to be drawn once the event loop comes
        // round; the update of the whole view above covers them all, and answering every one
        // of those requests (a page of rows holds a few hundred widgets) costs more than
        // drawing does.
        dropPendingRedraws(item->view());
    }
    if (m_delegate)
        m_delegate->tabViewDidSelectItem(this, item);
    emit selectedItemChanged(item);
}

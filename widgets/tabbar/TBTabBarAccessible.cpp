#include "TBTabBarAccessible.h"

#include "TBTabBarCell.h"
#include "TBTabBarControl.h"

#include <QPointer>

namespace {

class TBTabCellAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    TBTabCellAccessible(TBTabBarControl *bar, TBTabBarCell *cell) : m_bar(bar), m_cell(cell) {}

    bool isValid() const override
    {
        return m_bar && std::find(m_bar->cells().begin(), m_bar->cells().end(), m_cell) != m_bar->cells().end();
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_bar.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        if (t == QAccessible::Name)
            return m_cell->stringValue();
        if (t == QAccessible::Help)
            return m_cell->accessibilityHelp();
        return QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return QRect();
        return QRect(m_bar->mapToGlobal(m_cell->frame().topLeft().toPoint()), m_cell->frame().size().toSize());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.focusable = true;
        s.focused = isValid() && m_cell->accessibilityFocused();
        s.hotTracked = isValid() && m_cell->isHighlighted();
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && isValid())
            m_bar->tabClick(m_cell);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<TBTabBarControl> m_bar;
    TBTabBarCell *m_cell;
};

} // namespace

TBTabBarAccessible::TBTabBarAccessible(TBTabBarControl *bar) : QAccessibleWidget(bar, QAccessible::Grouping) {}

TBTabBarAccessible::~TBTabBarAccessible()
{
    for (const auto &[cell, id] : m_children)
        QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface *TBTabBarAccessible::factory(const QString &className, QObject *object)
{
    if (className == QLatin1String("TBTabBarControl") && object && object->isWidgetType())
        return new TBTabBarAccessible(static_cast<TBTabBarControl *>(object));
    return nullptr;
}

TBTabBarControl *TBTabBarAccessible::bar() const
{
    return static_cast<TBTabBarControl *>(widget());
}

std::vector<TBTabBarCell *> TBTabBarAccessible::shownCells() const
{
    std::vector<TBTabBarCell *> cells;
    for (TBTabBarCell *cell : bar()->cells())
        if (!cell->isPlaceholder() && !cell->isInOverflowMenu())
            cells.push_back(cell);
    return cells;
}

int TBTabBarAccessible::childCount() const
{
    return int(shownCells().size());
}

QAccessibleInterface *TBTabBarAccessible::child(int index) const
{
    const std::vector<TBTabBarCell *> cells = shownCells();
    if (index < 0 || index >= int(cells.size()))
        return nullptr;
    TBTabBarCell *cell = cells[std::size_t(index)];
    auto it = m_children.find(cell);
    if (it == m_children.end())
        it = m_children.emplace(cell, QAccessible::registerAccessibleInterface(new TBTabCellAccessible(bar(), cell))).first;
    return QAccessible::accessibleInterface(it->second);
}

int TBTabBarAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    for (int i = 0; i < childCount(); ++i)
        if (this->child(i) == child)
            return i;
    return -1;
}

QAccessibleInterface *TBTabBarAccessible::childAt(int x, int y) const
{
    // The tab under the mouse answers for the bar.
    const std::vector<TBTabBarCell *> cells = shownCells();
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (cells[i]->isHighlighted())
            return child(int(i));
    Q_UNUSED(x);
    Q_UNUSED(y);
    return nullptr;
}

void TBTabBarAccessible::forgetCell(const TBTabBarCell *cell)
{
    auto it = m_children.find(cell);
    if (it == m_children.end())
        return;
    QAccessible::deleteAccessibleInterface(it->second);
    m_children.erase(it);
}

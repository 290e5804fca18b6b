#include "SBScopeBarAccessible.h"

#include "SBScopeBar.h"
#include "SBScopeBarGroup.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <map>
#include <utility>

namespace {

class SBScopeBarButtonAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    SBScopeBarButtonAccessible(SBScopeBar *bar, int group, int object) : m_bar(bar), m_group(group), m_object(object) {}

    bool isValid() const override
    {
        return m_bar && m_group < m_bar->numberOfGroups() && m_object < m_bar->groupAtIndex(m_group)->numberOfObjects();
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return m_bar ? QAccessible::queryAccessibleInterface(m_bar) : nullptr; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Name || !isValid())
            return {};
        const std::optional<SBScopeBarCell> cell = m_bar->preparedButtonCellForGroup(m_group, m_object);
        return cell ? cell->title : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const std::vector<QRect> rects = m_bar->buttonRects(m_group);
        if (m_object >= int(rects.size()))
            return {};
        const QRect local = rects[size_t(m_object)];
        return QRect(m_bar->mapToGlobal(local.topLeft()), local.size());
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.checkable = true;
        if (!isValid() || rect().isEmpty() || !m_bar->isVisible()) {
            state.invisible = true;
            return state;
        }
        const std::optional<SBScopeBarCell> cell = m_bar->preparedButtonCellForGroup(m_group, m_object);
        state.checked = cell && cell->on;
        state.disabled = !m_bar->isEnabled();
        return state;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name != pressAction() || !isValid() || !m_bar->isEnabled())
            return;
        const std::vector<QRect> rects = m_bar->buttonRects(m_group);
        if (m_object >= int(rects.size()))
            return;
        // A press and release on the button: the same rules as a click (a refused object
        // stays off).
        const QPointF at = rects[size_t(m_object)].center();
        const QPointF global = m_bar->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_bar, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_bar, &release);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<SBScopeBar> m_bar;
    int m_group;
    int m_object;
};

class SBScopeBarAccessible : public QAccessibleWidget
{
public:
    explicit SBScopeBarAccessible(SBScopeBar *bar) : QAccessibleWidget(bar, QAccessible::ToolBar) {}
    ~SBScopeBarAccessible() override
    {
        for (const auto &[place, id] : m_buttons)
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(places().size()) + QAccessibleWidget::childCount(); }
    QAccessibleInterface *child(int index) const override
    {
        const std::vector<std::pair<int, int>> buttons = places();
        if (index < 0)
            return nullptr;
        if (index >= int(buttons.size()))
            return QAccessibleWidget::child(index - int(buttons.size()));
        return button(buttons[size_t(index)]);
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        const std::vector<std::pair<int, int>> buttons = places();
        for (int i = 0; i < int(buttons.size()); ++i) {
            const auto found = m_buttons.find(buttons[size_t(i)]);
            if (found != m_buttons.end() && QAccessible::accessibleInterface(found->second) == child)
                return i;
        }
        const int widget = QAccessibleWidget::indexOfChild(child);
        return widget < 0 ? -1 : widget + int(buttons.size());
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (QAccessibleInterface *c = child(i); c && c->rect().contains(x, y))
                return c;
        return nullptr;
    }

private:
    SBScopeBar *bar() const { return static_cast<SBScopeBar *>(widget()); }

    // The (group, object) of each button shown, in order.
    std::vector<std::pair<int, int>> places() const
    {
        std::vector<std::pair<int, int>> result;
        SBScopeBar *b = bar();
        for (int g = 0; g < b->numberOfGroups(); ++g) {
            const int shown = int(b->buttonRects(g).size());
            for (int o = 0; o < shown && o < b->groupAtIndex(g)->numberOfObjects(); ++o)
                result.emplace_back(g, o);
        }
        return result;
    }
    QAccessibleInterface *button(const std::pair<int, int> &place) const
    {
        auto found = m_buttons.find(place);
        if (found == m_buttons.end())
            found = m_buttons
                        .emplace(place, QAccessible::registerAccessibleInterface(
                                            new SBScopeBarButtonAccessible(bar(), place.first, place.second)))
                        .first;
        return QAccessible::accessibleInterface(found->second);
    }

    mutable std::map<std::pair<int, int>, QAccessible::Id> m_buttons;
};

QAccessibleInterface *scopeBarAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("SBScopeBar") && object && object->isWidgetType())
        return new SBScopeBarAccessible(static_cast<SBScopeBar *>(object));
    return nullptr;
}

} // namespace

void SBInstallScopeBarAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(scopeBarAccessibleFactory);
        return true;
    }();
    (void)installed;
}

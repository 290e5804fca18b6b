#pragma once

// Accessibility of a tab bar: a group whose children are its shown tabs, each a button that
// can be pressed to select it.

#include <QAccessibleWidget>

class TBTabBarCell;
class TBTabBarControl;

class TBTabBarAccessible : public QAccessibleWidget
{
public:
    explicit TBTabBarAccessible(TBTabBarControl *bar);
    ~TBTabBarAccessible() override;

    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *childAt(int x, int y) const override;

    // Drops the interfaces of tabs the bar no longer has.
    void forgetCell(const TBTabBarCell *cell);
    static QAccessibleInterface *factory(const QString &className, QObject *object);

private:
    TBTabBarControl *bar() const;
    std::vector<TBTabBarCell *> shownCells() const;

    mutable std::map<const TBTabBarCell *, QAccessible::Id> m_children;
};

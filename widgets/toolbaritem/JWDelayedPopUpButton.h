#pragma once

#include <QPointer>
#include <QPointF>
#include <QTimer>
#include <QToolButton>

#include <chrono>

QT_BEGIN_NAMESPACE
class QMenu;
QT_END_NAMESPACE

// A button that sends its action (clicked) on an ordinary click and pops up its menu when it
// is pressed and held still: the hold delay counts from the press and starts again with every
// mouse movement. Without a menu it behaves as a plain button and never pops anything up.
// Dragging out of the button ends the press without an action.
//
// The menu is kept apart from QToolButton's own menu so that the base class neither starts
// its own (non-restarting) delay nor draws a menu arrow.
class JWDelayedPopUpButton : public QToolButton
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultHoldDelay{600};

    explicit JWDelayedPopUpButton(QWidget *parent = nullptr);
    ~JWDelayedPopUpButton() override;

    void setPopUpMenu(QMenu *menu); // not owned
    QMenu *popUpMenu() const;

    void setHoldDelay(std::chrono::milliseconds delay);
    std::chrono::milliseconds holdDelay() const;

    // Where the menu's top-left corner goes, in the button's coordinates: one point right of
    // the button's left edge and 5.5 points below its bottom edge.
    QPointF menuPosition() const;

signals:
    // The press became a hold and the menu was popped up.
    void menuPoppedUp();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void holdElapsed();
    void endPress();

    QPointer<QMenu> m_menu;
    QTimer m_holdTimer;
    // The current press no longer leads to the action: the menu came up or the pointer left.
    bool m_pressEnded = false;
};

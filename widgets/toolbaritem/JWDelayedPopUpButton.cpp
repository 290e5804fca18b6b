#include "JWDelayedPopUpButton.h"

#include <QMenu>
#include <QMouseEvent>

JWDelayedPopUpButton::JWDelayedPopUpButton(QWidget *parent)
    : QToolButton(parent)
{
    m_holdTimer.setSingleShot(true);
    m_holdTimer.setInterval(kDefaultHoldDelay);
    connect(&m_holdTimer, &QTimer::timeout, this, &JWDelayedPopUpButton::holdElapsed);
}

JWDelayedPopUpButton::~JWDelayedPopUpButton() = default;

void JWDelayedPopUpButton::setPopUpMenu(QMenu *menu)
{
    m_menu = menu;
    if (!menu)
        m_holdTimer.stop();
}

QMenu *JWDelayedPopUpButton::popUpMenu() const
{
    return m_menu;
}

void JWDelayedPopUpButton::setHoldDelay(std::chrono::milliseconds delay)
{
    m_holdTimer.setInterval(delay);
}

std::chrono::milliseconds JWDelayedPopUpButton::holdDelay() const
{
    return m_holdTimer.intervalAsDuration();
}

QPointF JWDelayedPopUpButton::menuPosition() const
{
    return QPointF(1.0, height() + 5.5);
}

void JWDelayedPopUpButton::mousePressEvent(QMouseEvent *event)
{
    m_pressEnded = false;
    QToolButton::mousePressEvent(event);
    if (event->button() == Qt::LeftButton && isDown() && m_menu)
        m_holdTimer.start();
}

void JWDelayedPopUpButton::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton)) {
        QToolButton::mouseMoveEvent(event);
        return;
    }
    if (m_pressEnded)
        return;
    if (!hitButton(event->position().toPoint())) {
        // Leaving the button ends the press: no menu, and no action even when it comes back.
        endPress();
        return;
    }
    if (m_menu)
        m_holdTimer.start(); // every movement starts the wait again
    QToolButton::mouseMoveEvent(event);
}

void JWDelayedPopUpButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_holdTimer.stop();
        if (m_pressEnded) {
            // The menu took this press (or the pointer left); its release sends nothing.
            m_pressEnded = false;
            setDown(false);
            event->accept();
            return;
        }
    }
    QToolButton::mouseReleaseEvent(event);
}

void JWDelayedPopUpButton::holdElapsed()
{
    if (!m_menu || !isDown())
        return;
    endPress();
    QMenu *menu = m_menu;
    menu->popup(mapToGlobal(menuPosition()).toPoint());
    emit menuPoppedUp();
}

void JWDelayedPopUpButton::endPress()
{
    m_holdTimer.stop();
    m_pressEnded = true;
    setDown(false);
}

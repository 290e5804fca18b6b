#include "KRBadgedButton.h"

#include "KRBadgeView.h"

#include <network/KRNewsController.h>

#include <QEvent>

KRBadgedButton::KRBadgedButton(QWidget *parent, KRNewsController *news)
    : QToolButton(parent)
    , m_news(news ? news : &KRNewsController::shared())
{
    if (parent)
        viewDidMoveToSuperview();
}

KRBadgedButton::~KRBadgedButton()
{
    delete m_badgeView.data();
}

void KRBadgedButton::setBadgeCount()
{
    if (!m_badgeView)
        return;
    const int count = m_news ? m_news->unreadCount() : 0;
    m_badgeView->setBadgeCount(count == 0 ? QString() : QString::number(count));
}

bool KRBadgedButton::event(QEvent *event)
{
    const bool handled = QToolButton::event(event);
    switch (event->type()) {
    case QEvent::ParentChange:
        viewDidMoveToSuperview();
        break;
    case QEvent::Move:
    case QEvent::Resize:
        placeBadge();
        break;
    case QEvent::Show:
    case QEvent::Hide:
        if (m_badgeView)
            m_badgeView->setVisible(isVisible());
        break;
    default:
        break;
    }
    return handled;
}

void KRBadgedButton::viewDidMoveToSuperview()
{
    delete m_badgeView.data();
    if (!parentWidget())
        return;
    m_badgeView = new KRBadgeView(parentWidget());
    placeBadge();
    setBadgeCount();
    if (!m_observing && m_news) {
        m_observing = true;
        connect(m_news, &KRNewsController::newsItemsChanged, this, &KRBadgedButton::setBadgeCount);
    }
    m_badgeView->setVisible(isVisible());
    m_badgeView->raise();
}

void KRBadgedButton::placeBadge()
{
    if (!m_badgeView)
        return;
    // Along the button's top edge, as wide as the button: the badge, drawn at the view's right
    // end, sits in the button's top right corner and never past the toolbar's edge (the news
    // button is the toolbar's last item).
    m_badgeView->setGeometry(x(), y() + 1, width(), 14);
    m_badgeView->raise();
}

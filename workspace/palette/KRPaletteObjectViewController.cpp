#include "KRPaletteObjectViewController.h"

#include <model/KRObjectInfo.h>
#include <widgets/help/KRHelpButtonController.h>

#include <QEvent>
#include <QToolButton>

KRPaletteObjectViewController::KRPaletteObjectViewController(QWidget *viewport, QObject *parent)
    : QObject(parent), m_view(new QWidget(viewport)), m_helpButton(new QToolButton(viewport))
{
    // The list underneath draws the row and takes its clicks and drags.
    m_view->setObjectName(QStringLiteral("paletteObjectView"));
    m_view->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->installEventFilter(this);

    // The button is the view's sibling: a child of a mouse-transparent view would never be hit.
    m_helpButton->setObjectName(QStringLiteral("paletteHelpButton"));
    m_helpButton->setAutoRaise(true);
    m_helpButton->setFocusPolicy(Qt::NoFocus);
    m_helpButton->setIcon(QIcon(KRHelpButtonController::helpButtonImage()));
    m_helpButton->setIconSize(QSize(HelpButtonSize, HelpButtonSize));
    m_helpButton->setFixedSize(HelpButtonSize, HelpButtonSize);
    m_helpButton->setToolTip(QStringLiteral("Help"));

    QPointer<KRPaletteObjectViewController> self(this);
    m_helpButtonController = std::make_unique<KRHelpButtonController>(
        m_view, QRect(), m_helpButton, QList<QWidget *>{m_view}, KRPopover::RightEdge,
        [self] { return self ? self->m_objectHelpHTML : QString(); });
    placeHelpButton();
}

KRPaletteObjectViewController::~KRPaletteObjectViewController()
{
    m_helpButtonController.reset();
    delete m_helpButton.data();
    delete m_view.data();
}

void KRPaletteObjectViewController::setKrClassName(const QString &className)
{
    m_className = className;
    const KRObjectInfo &info = KRObjectInfo::sharedInstance();
    m_objectIcon = info.objectIcon(className);
    m_objectDescription = info.objectDescription(className);
    m_objectHelpHTML = info.objectHelpHTML(className);
}

void KRPaletteObjectViewController::setCompactMode(bool compact)
{
    if (compact == m_compactMode)
        return;
    m_compactMode = compact;
    placeHelpButton();
}

void KRPaletteObjectViewController::placeHelpButton()
{
    if (!m_view || !m_helpButton)
        return;
    // The button stands 16 points above the bottom of a normal row and on the bottom of a
    // compact one.
    const QRect row = m_view->geometry();
    const int fromBottom = m_compactMode ? 0 : 16;
    m_helpButton->move(row.right() + 1 - HelpButtonRightMargin - HelpButtonSize,
                       row.bottom() + 1 - fromBottom - HelpButtonSize);
    m_helpButton->setVisible(!m_view->isHidden());
    m_helpButton->raise();
}

void KRPaletteObjectViewController::pointerMoved(const QPoint &viewportPos, bool overViewport)
{
    if (!m_view || !m_helpButtonController)
        return;
    m_helpButtonController->pointerMoved(m_view->mapFromParent(viewportPos), overViewport && m_view->isVisible());
}

bool KRPaletteObjectViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            placeHelpButton();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

#include "KRHelpButtonController.h"

#include "KRHelpViewController.h"

#include <platform/foundation/KRResources.h>

#include <QAbstractButton>
#include <QDir>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QWebEngineView>

#include <utility>

static void initHelpResources()
{
    Q_INIT_RESOURCE(krhelp);
}

KRHelpButtonController::KRHelpButtonController(QWidget *view, const QRect &displayRect,
                                               QAbstractButton *helpButton, const QList<QWidget *> &controls,
                                               KRPopover::Edge edge, ContentGenerator contentGenerator,
                                               QObject *parent)
    : KRHelpButtonController(view, displayRect, ButtonMaker(), QRect(), controls, edge, std::move(contentGenerator),
                             parent)
{
    m_helpButton = helpButton;
    attachButton();
}

KRHelpButtonController::KRHelpButtonController(QWidget *view, const QRect &displayRect, ButtonMaker makeButton,
                                               const QRect &buttonFrame, const QList<QWidget *> &controls,
                                               KRPopover::Edge edge, ContentGenerator contentGenerator,
                                               QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_displayRect(displayRect)
    , m_makeButton(std::move(makeButton))
    , m_buttonFrame(buttonFrame)
    , m_edge(edge)
    , m_contentGenerator(std::move(contentGenerator))
{
    for (QWidget *control : controls)
        m_controls.append(control);
    m_timer.setSingleShot(true);
    m_timer.setInterval(DefaultFadeInDelay);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_timerFired = true;
        startHelpButtonAnimation();
    });
    if (m_view) {
        // Moves over the controls reach the host when the controls do not track the mouse.
        m_view->setMouseTracking(true);
        m_view->installEventFilter(this);
    }
    for (const auto &control : std::as_const(m_controls))
        if (control)
            control->installEventFilter(this);
    setupTracking();
}

// The button starts invisible; clicking it shows the help.
void KRHelpButtonController::attachButton()
{
    if (!m_helpButton)
        return;
    m_opacity = new QGraphicsOpacityEffect(m_helpButton);
    m_opacity->setOpacity(0.0);
    m_helpButton->setGraphicsEffect(m_opacity);
    connect(m_helpButton, &QAbstractButton::clicked, this, &KRHelpButtonController::buttonAction);
    m_helpButton->installEventFilter(this);
}

KRHelpButtonController::~KRHelpButtonController()
{
    if (m_helpButton && m_opacity)
        m_helpButton->setGraphicsEffect(nullptr);
    delete m_popover.data();
}

QAbstractButton *KRHelpButtonController::helpButton() const
{
    return m_helpButton;
}

QPixmap KRHelpButtonController::helpButtonImage()
{
    initHelpResources();
    return QPixmap(QStringLiteral(":/krhelp/helpButton.png"));
}

QPoint KRHelpButtonController::toHost(QWidget *widget, const QPoint &pos) const
{
    if (widget == m_view || m_view->isAncestorOf(widget))
        return widget->mapTo(m_view.data(), pos);
    return m_view->mapFromGlobal(widget->mapToGlobal(pos));
}

QRect KRHelpButtonController::trackingRect() const
{
    if (m_trackingStale)
        const_cast<KRHelpButtonController *>(this)->setupTracking();
    return m_trackingRect;
}

void KRHelpButtonController::setupTracking()
{
    m_trackingStale = false;
    if (!m_view)
        return;
    QRect area = m_buttonFrame;
    for (const auto &control : std::as_const(m_controls)) {
        if (!control || control->isHidden())
            continue;
        const QRect frame(toHost(control, QPoint(0, 0)), control->size());
        area = area.isNull() ? frame : area.united(frame);
    }
    m_trackingRect = area.intersected(m_view->rect());
}

void KRHelpButtonController::pointerMoved(const QPoint &hostPos, bool overHost)
{
    const bool inside = overHost && trackingRect().contains(hostPos);
    if (inside == m_inside)
        return;
    m_inside = inside;
    if (inside)
        mouseEntered();
    else
        mouseExited();
}

void KRHelpButtonController::mouseEntered()
{
    if (!m_helpButton && m_makeButton) {
        m_helpButton = std::exchange(m_makeButton, ButtonMaker())();
        attachButton();
        if (m_helpButton)
            m_helpButton->show();
    }
    if (!m_helpButton || m_helpButton->isHidden())
        return;
    // A new entry replaces a pending fade-in, so a timer is never left behind that would show
    // the button after the pointer has gone.
    m_timer.stop();
    m_timerFired = false;
    m_timer.start();
}

void KRHelpButtonController::mouseExited()
{
    if (m_timer.isActive()) {
        m_timer.stop();
    } else if (m_timerFired) {
        fadeTo(0.0);
    }
    m_timerFired = false;
}

void KRHelpButtonController::startHelpButtonAnimation()
{
    fadeTo(ShownOpacity);
}

double KRHelpButtonController::helpButtonOpacity() const
{
    return m_opacity ? m_opacity->opacity() : 0.0;
}

void KRHelpButtonController::fadeTo(double opacity)
{
    if (!m_opacity)
        return;
    if (m_animation)
        m_animation->stop();
    auto *animation = new QPropertyAnimation(m_opacity, "opacity", this);
    animation->setDuration(m_fadeDuration);
    animation->setStartValue(m_opacity->opacity());
    animation->setEndValue(opacity);
    m_animation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KRHelpButtonController::buttonAction()
{
    if (!m_view)
        return;
    if (!m_popover) {
        m_helpViewController = new KRHelpViewController(this);
        m_popover = new KRPopover(m_view);
        m_popover->setBehavior(KRPopover::Behavior::Transient);
        m_popover->setContentWidget(m_helpViewController->webView());
        m_popover->setContentSize(PopoverContentSize);
    }
    const QString html = m_contentGenerator ? m_contentGenerator() : QString();
    const QUrl base = QUrl::fromLocalFile(QDir(KRResources::resourcesDirectory()).absolutePath() + QLatin1Char('/'));
    if (QWebEngineView *webView = m_helpViewController->webView())
        webView->setHtml(html, base);
    const QRect anchor = m_displayRect.width() == 0 ? trackingRect() : m_displayRect;
    m_popover->showRelativeToRect(anchor, m_view, m_edge);
}

bool KRHelpButtonController::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !m_view)
        return false;
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        m_trackingStale = true;
        break;
    case QEvent::Enter:
        pointerMoved(toHost(widget, static_cast<QEnterEvent *>(event)->position().toPoint()));
        break;
    case QEvent::MouseMove:
        pointerMoved(toHost(widget, static_cast<QMouseEvent *>(event)->position().toPoint()));
        break;
    case QEvent::Leave:
        if (widget == m_view)
            pointerMoved(QPoint(), false);
        break;
    default:
        break;
    }
    return false;
}

#pragma once

#include <platform/appkit/KRPopover.h>

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include <functional>
#include <memory>

#include "KRHelpViewController.h"
class QAbstractButton;
class QGraphicsOpacityEffect;
class QPropertyAnimation;
class QWidget;

// Gives a group of controls a help button that fades in while the pointer rests over the group
// and, when clicked, shows a transient pop-over with help HTML made on demand.
//
// The hover area is the union of the controls' frames (hidden controls left out) in the host
// view, clipped to the host; it follows the controls when they or the host move or resize.
class KRHelpButtonController : public QObject
{
    Q_OBJECT

public:
    using ContentGenerator = std::function<QString()>;
    using ButtonMaker = std::function<QAbstractButton *()>;

    static constexpr double ShownOpacity = 0.5;
    static constexpr int DefaultFadeInDelay = 100;  // ms of rest before the button fades in
    static constexpr int DefaultFadeDuration = 250; // ms of the fade itself
    static constexpr QSize PopoverContentSize{320, 240};

    // displayRect: where the pop-over points, in the host view; an empty width means the
    // hover area. The help button starts invisible.
    KRHelpButtonController(QWidget *view, const QRect &displayRect, QAbstractButton *helpButton,
                           const QList<QWidget *> &controls, KRPopover::Edge edge,
                           ContentGenerator contentGenerator, QObject *parent = nullptr);
    // The same for a button made the first time the pointer comes over the group, for hosts
    // with many groups of which few are ever pointed at. buttonFrame: where the button will
    // stand in the host view, part of the hover area from the start.
    KRHelpButtonController(QWidget *view, const QRect &displayRect, ButtonMaker makeButton, const QRect &buttonFrame,
                           const QList<QWidget *> &controls, KRPopover::Edge edge,
                           ContentGenerator contentGenerator, QObject *parent = nullptr);
    ~KRHelpButtonController() override;

    // Null while a button made on demand is still to be made.
    QAbstractButton *helpButton() const;

    // The picture of a help button (a round question mark), for the rows and panes that make one.
    static QPixmap helpButtonImage();

    // Recomputes the hover area. A move, resize, show or hide of the host or a control marks it
    // out of date, and it is computed again when next needed: a pane that shows or hides many
    // rows at once does not compute every row's area on the way.
    void setupTracking();
    QRect trackingRect() const;

    // The pointer is at a position of the host view (inside: over the host at all).
    void pointerMoved(const QPoint &hostPos, bool overHost = true);
    bool isPointerInside() const { return m_inside; }

    void mouseEntered();
    void mouseExited();
    // Fades the button in; called when the delay after entering has passed.
    void startHelpButtonAnimation();
    // The help button's action: shows the pop-over with fresh help.
    void buttonAction();

    double helpButtonOpacity() const;
    bool isFadeInPending() const { return m_timer.isActive(); }
    void setFadeInDelay(int ms) { m_timer.setInterval(ms); }
    void setFadeDuration(int ms) { m_fadeDuration = ms; }

    KRPopover *popover() const { return m_popover; }
    KRHelpViewController *helpViewController() const { return m_helpViewController; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void attachButton();
    void fadeTo(double opacity);
    QPoint toHost(QWidget *widget, const QPoint &pos) const;

    QPointer<QWidget> m_view;
    QRect m_displayRect;
    QPointer<QAbstractButton> m_helpButton;
    ButtonMaker m_makeButton;
    QRect m_buttonFrame;
    QList<QPointer<QWidget>> m_controls;
    KRPopover::Edge m_edge;
    ContentGenerator m_contentGenerator;

    QRect m_trackingRect;
    bool m_trackingStale = false;
    bool m_inside = false;
    QTimer m_timer;
    bool m_timerFired = false;
    bool m_fadedIn = false;
    int m_fadeDuration = DefaultFadeDuration;
    QPointer<QGraphicsOpacityEffect> m_opacity;
    QPointer<QPropertyAnimation> m_animation;

    QPointer<KRHelpViewController> m_helpViewController;
    QPointer<KRPopover> m_popover;
};

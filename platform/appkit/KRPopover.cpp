#include "KRPopover.h"

#include <QAction>
#include <QApplication>
#include <QHideEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace {

KRPopover::Edge opposite(KRPopover::Edge edge)
{
    return KRPopover::Edge((int(edge) + 2) % 4);
}

bool isHorizontal(KRPopover::Edge edge)
{
    return edge == KRPopover::LeftEdge || edge == KRPopover::RightEdge;
}

// Room between the anchor and the area's border on the given side.
int roomAt(const QRect &anchor, const QRect &available, KRPopover::Edge edge)
{
    switch (edge) {
    case KRPopover::LeftEdge: return anchor.left() - available.left();
    case KRPopover::RightEdge: return available.right() - anchor.right();
    case KRPopover::TopEdge: return anchor.top() - available.top();
    case KRPopover::BottomEdge: return available.bottom() - anchor.bottom();
    }
    return 0;
}

// The enabled action of the window's menus (or the window itself) whose shortcut is the key.
QAction *shortcutAction(QWidget *window, const QKeySequence &key)
{
    QList<QAction *> actions = window->actions();
    for (QMenuBar *bar : window->findChildren<QMenuBar *>())
        actions += bar->actions();
    for (qsizetype i = 0; i < actions.size(); ++i) {
        QAction *action = actions.at(i);
        if (QMenu *menu = action->menu())
            actions += menu->actions();
        else if (action->isEnabled() && action->shortcuts().contains(key))
            return action;
    }
    return nullptr;
}

// Whether the widget (of this pop-over's content) takes the key itself, as a text field takes
// Ctrl+C: it says so when asked before the key press, as the shortcuts are.
bool widgetOverridesKey(QWidget *widget, const QKeyEvent *event)
{
    QKeyEvent asked(QEvent::ShortcutOverride, event->key(), event->modifiers(), event->nativeScanCode(),
                    event->nativeVirtualKey(), event->nativeModifiers(), event->text(), event->isAutoRepeat(),
                    event->count());
    asked.ignore();
    QCoreApplication::sendEvent(widget, &asked);
    return asked.isAccepted();
}

int clampInto(int pos, int length, int low, int high)
{
    // Keeps [pos, pos + length) inside [low, high); the start wins when it cannot fit.
    return std::max(low, std::min(pos, high - length));
}

} // namespace

QSize KRPopover::frameSize(const QSize &contentSize, Edge edge)
{
    QSize size = contentSize + QSize(2 * ContentInset, 2 * ContentInset);
    if (isHorizontal(edge))
        size.rwidth() += ArrowLength;
    else
        size.rheight() += ArrowLength;
    return size;
}

KRPopover::Placement KRPopover::placement(const QRect &anchor, const QSize &contentSize, Edge preferred,
                                          const QRect &available)
{
    auto fits = [&](Edge edge) {
        const QSize size = frameSize(contentSize, edge);
        return roomAt(anchor, available, edge) >= (isHorizontal(edge) ? size.width() : size.height());
    };
    Edge edge = preferred;
    if (!fits(preferred) && fits(opposite(preferred)))
        edge = opposite(preferred);

    const QSize size = frameSize(contentSize, edge);
    const QPoint center = anchor.center();
    QPoint origin;
    switch (edge) {
    case LeftEdge: origin = {anchor.left() - size.width(), center.y() - size.height() / 2}; break;
    case RightEdge: origin = {anchor.right() + 1, center.y() - size.height() / 2}; break;
    case TopEdge: origin = {center.x() - size.width() / 2, anchor.top() - size.height()}; break;
    case BottomEdge: origin = {center.x() - size.width() / 2, anchor.bottom() + 1}; break;
    }
    origin.setX(clampInto(origin.x(), size.width(), available.left(), available.right() + 1));
    origin.setY(clampInto(origin.y(), size.height(), available.top(), available.bottom() + 1));

    const QRect frame(origin, size);
    // The arrow points at the anchor's middle as far as the body's straight side allows.
    const int along = isHorizontal(edge) ? center.y() - frame.top() : center.x() - frame.left();
    const int sideLength = isHorizontal(edge) ? size.height() : size.width();
    const int margin = CornerRadius + ArrowHalfWidth;
    const int arrow = sideLength < 2 * margin ? sideLength / 2 : std::clamp(along, margin, sideLength - margin);
    return {frame, edge, arrow};
}

KRPopover::KRPopover(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setBehavior(Behavior::ApplicationDefined);
}

KRPopover::~KRPopover() = default;

void KRPopover::setBehavior(Behavior behavior)
{
    m_behavior = behavior;
    // A held pop-over keeps its plain window until the hold ends.
    if (isHeld())
        return;
    setWindowKind(behavior == Behavior::Transient ? Qt::Popup : Qt::Tool);
}

// Changing the window flags hides the window and makes a new native one: shown again where it
// was, and without reporting a close.
void KRPopover::setWindowKind(Qt::WindowFlags kind)
{
    const Qt::WindowFlags flags = kind | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint;
    if (windowFlags() == flags)
        return;
    const bool wasVisible = isVisible();
    // Where it was put, whatever a window manager did with the plain window meanwhile.
    const QRect frame = m_placement.frame.isEmpty() ? geometry() : m_placement.frame;
    // Hiding the window takes the keyboard focus from its content: given back once shown.
    const QPointer<QWidget> focused = focusWidget();
    m_changingKind = true;
    // A new native window: the window manager may still be letting go of the old one (a plain
    // window it kept) when it is shown again as a pop-up, and would take it off the screen.
    if (testAttribute(Qt::WA_WState_Created)) {
        hide();
        destroy();
    }
    setWindowFlags(flags);
    if (wasVisible) {
        setGeometry(frame);
        updateMask();
        show();
        if (focused && focused->window() == this)
            focused->setFocus(Qt::PopupFocusReason);
    }
    m_changingKind = false;
}

KRPopover::ModalHold::ModalHold()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *popover = qobject_cast<KRPopover *>(widget);
        if (popover && popover->isVisible() && popover->behavior() == Behavior::Transient) {
            popover->hold();
            m_held.append(popover);
        }
    }
}

KRPopover::ModalHold::~ModalHold()
{
    for (const QPointer<KRPopover> &popover : std::as_const(m_held))
        if (popover)
            popover->release();
}

void KRPopover::hold()
{
    if (m_holds++ > 0)
        return;
    // Whether the content shows where the keyboard is (the user came by Tab): shown again after.
    m_keyboardFocusShown = testAttribute(Qt::WA_KeyboardFocusChange);
    // A plain window that never takes the keyboard: not from the dialog about to show, and not
    // when the dialog goes (a window manager would hand the focus to the pop-over, whose window
    // is then replaced, leaving no window of the application with the keyboard).
    const bool quiet = testAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowKind(Qt::Tool | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating, quiet);
}

void KRPopover::release()
{
    if (m_holds == 0 || --m_holds > 0)
        return;
    if (m_closedWhileHeld) {
        m_closedWhileHeld = false;
        setBehavior(m_behavior); // its own kind of window again, for a later showing
        emit closed();
        return;
    }
    QTimer::singleShot(0, this, &KRPopover::reopenAfterHold);
}

// Its own kind of window again once the dialog's event loop has ended and, for a shown pop-up,
// once the window it points into is active again: a pop-up that takes the mouse and keyboard
// sooner would keep the window system's note of that window's activation from the application
// (which is waited for a second at most).
void KRPopover::reopenAfterHold()
{
    if (isHeld()) {
        m_reopenTries = 0;
        return;
    }
    const QWidget *owner = ownerWindow();
    // The window went while the dialog was up (its question closed it): so does the pop-over.
    if (isVisible() && owner && !owner->isVisible()) {
        m_reopenTries = 0;
        setBehavior(m_behavior);
        close();
        return;
    }
    if (isVisible() && m_behavior == Behavior::Transient && owner && !owner->isActiveWindow() && ++m_reopenTries < 50) {
        QTimer::singleShot(20, this, &KRPopover::reopenAfterHold);
        return;
    }
    m_reopenTries = 0;
    setBehavior(m_behavior);
    if (m_keyboardFocusShown)
        setAttribute(Qt::WA_KeyboardFocusChange);
    if (isVisible()) {
        raise();
        update();
    }
}

QWidget *KRPopover::ownerWindow() const
{
    return parentWidget() ? parentWidget()->window() : nullptr;
}

void KRPopover::followOwnerWindow()
{
    if (QWidget *owner = ownerWindow())
        owner->installEventFilter(this); // once, however often it is shown
}

void KRPopover::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel) && m_escapeTakenAbove == event->timestamp()) {
        m_escapeTakenAbove.reset();
        event->accept();
        return;
    }
    if (runOwnerCommand(event))
        return;
    QWidget::keyPressEvent(event);
}

bool KRPopover::runOwnerCommand(QKeyEvent *event)
{
    // Command keys only: a bare key (Delete, say) the content left alone is no command for the
    // window behind.
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return false;
    const QPointer<QWidget> owner = ownerWindow();
    if (!owner)
        return false;
    // Alt+F4 is the window manager's, which a pop-up holding the keyboard keeps from it: it
    // closes the window behind, as it would have.
    const bool closesWindow = event->key() == Qt::Key_F4 && event->modifiers() == Qt::AltModifier;
    const QPointer<QAction> action = closesWindow ? nullptr : shortcutAction(owner, QKeySequence(event->keyCombination()));
    if (!action && !closesWindow)
        return false;
    event->accept();
    close();
    // Nothing of the pop-over is used past this point: the command may close the window.
    if (action)
        action->trigger();
    else if (owner)
        owner->close();
    return true;
}

void KRPopover::setContentWidget(QWidget *widget)
{
    if (m_content == widget)
        return;
    delete m_content.data();
    m_content = widget;
    if (widget) {
        widget->setParent(this);
        layoutContent();
        widget->show();
    }
}

QSize KRPopover::contentSize() const
{
    if (!m_contentSize.isEmpty())
        return m_contentSize;
    return m_content ? m_content->sizeHint().expandedTo(QSize(1, 1)) : QSize(1, 1);
}

void KRPopover::showRelativeToRect(const QRect &rect, QWidget *view, Edge preferredEdge)
{
    QRect anchor = rect;
    QRect available;
    if (view) {
        anchor.moveTopLeft(view->mapToGlobal(rect.topLeft()));
        if (QScreen *screen = view->screen())
            available = screen->availableGeometry();
    }
    if (available.isEmpty()) // no screen: nothing to stay inside
        available = anchor.adjusted(-100000, -100000, 100000, 100000);
    m_placement = placement(anchor, contentSize(), preferredEdge, available);
    followOwnerWindow();
    setGeometry(m_placement.frame);
    layoutContent();
    updateMask(); // the arrow may have moved within the same size
    show();
    raise();
    // One that only shows something (WA_ShowWithoutActivating) leaves the keyboard where it is.
    if (m_behavior == Behavior::ApplicationDefined && !testAttribute(Qt::WA_ShowWithoutActivating))
        activateWindow();
    update();
}

QRect KRPopover::bodyRect() const
{
    QRect body = rect();
    switch (m_placement.edge) {
    case LeftEdge: body.setRight(body.right() - ArrowLength); break;
    case RightEdge: body.setLeft(body.left() + ArrowLength); break;
    case TopEdge: body.setBottom(body.bottom() - ArrowLength); break;
    case BottomEdge: body.setTop(body.top() + ArrowLength); break;
    }
    return body;
}

void KRPopover::layoutContent()
{
    if (m_content)
        m_content->setGeometry(bodyRect().adjusted(ContentInset, ContentInset, -ContentInset, -ContentInset));
}

void KRPopover::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutContent();
    updateMask();
}

void KRPopover::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    qApp->installEventFilter(this);
}

// An Escape that closes a list opened from the content (a pop-up over this one, such as a combo
// box's) closes that list only. The list closes on the shortcut check that comes before the key
// press; the key press itself then goes to the content, now the active pop-up's, and from there
// here, where it would close the pop-over as well.
bool KRPopover::eventFilter(QObject *watched, QEvent *event)
{
    // The pop-over goes with the window it points into.
    if (watched == ownerWindow() && event->type() == QEvent::Hide && isVisible())
        close();
    // A command key of the window behind works whatever has the keyboard in the content: a
    // control that would take it for something else (a combo box's type-ahead takes Ctrl and a
    // letter, and Alt+F4) never sees it, unless it asks for the key before the shortcuts do.
    if (event->type() == QEvent::KeyPress && isVisible() && !isHeld()) {
        auto *widget = qobject_cast<QWidget *>(watched);
        auto *key = static_cast<QKeyEvent *>(event);
        if (widget && widget != this && widget->window() == this && widget == QApplication::focusWidget()
            && (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            && !widgetOverridesKey(widget, key))
            return runOwnerCommand(key);
    }
    if (event->type() == QEvent::ShortcutOverride && isVisible()) {
        auto *key = static_cast<QKeyEvent *>(event);
        auto *widget = qobject_cast<QWidget *>(watched);
        // Told apart by the window system's time of the key (events made up in code have none).
        if (widget && widget->window() != this && key->matches(QKeySequence::Cancel) && key->timestamp() != 0 &&
            QApplication::activePopupWidget() == widget->window())
            m_escapeTakenAbove = key->timestamp();
    }
    return QWidget::eventFilter(watched, event);
}

void KRPopover::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    qApp->removeEventFilter(this);
    if (event->spontaneous() || m_changingKind)
        return;
    if (isHeld())
        m_closedWhileHeld = true;
    else
        emit closed();
}

// The body's rounded outline with the arrow joined to it, in window coordinates.
QPainterPath KRPopover::outline() const
{
    const QRectF body = QRectF(bodyRect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(body, CornerRadius, CornerRadius);

    const qreal a = m_placement.arrowCenter;
    QPolygonF arrow;
    switch (m_placement.edge) {
    case LeftEdge: // body on the left, arrow pointing right
        arrow << QPointF(body.right() - 1, a - ArrowHalfWidth) << QPointF(width() - 0.5, a)
              << QPointF(body.right() - 1, a + ArrowHalfWidth);
        break;
    case RightEdge:
        arrow << QPointF(body.left() + 1, a - ArrowHalfWidth) << QPointF(0.5, a)
              << QPointF(body.left() + 1, a + ArrowHalfWidth);
        break;
    case TopEdge:
        arrow << QPointF(a - ArrowHalfWidth, body.bottom() - 1) << QPointF(a, height() - 0.5)
              << QPointF(a + ArrowHalfWidth, body.bottom() - 1);
        break;
    case BottomEdge:
        arrow << QPointF(a - ArrowHalfWidth, body.top() + 1) << QPointF(a, 0.5)
              << QPointF(a + ArrowHalfWidth, body.top() + 1);
        break;
    }
    QPainterPath arrowPath;
    arrowPath.addPolygon(arrow);
    arrowPath.closeSubpath();
    return path.united(arrowPath);
}

// Without a compositing window manager a window's transparent pixels show black, so the
// window is cut to its outline: a pixel is kept when its middle lies inside the outline or
// within half a pixel of it. Those pixels are drawn opaque, so that they look the same whether
// or not a compositor blends them.
void KRPopover::updateMask()
{
    const QPainterPath path = outline();
    QPainterPathStroker edge;
    edge.setWidth(1);
    const QPainterPath kept = path.united(edge.createStroke(path));
    setMask(QRegion(kept.toFillPolygon().toPolygon(), Qt::WindingFill));
}

void KRPopover::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = palette().color(QPalette::Window);
    // A faint line, as black at 70/255 over the fill would be, but opaque.
    const float shade = 1.0f - 70.0f / 255.0f;
    const QColor line = QColor::fromRgbF(fill.redF() * shade, fill.greenF() * shade, fill.blueF() * shade);
    // The pixels the mask keeps beyond the smoothed outline take the line's colour, so that
    // none of them is left transparent.
    painter.fillRect(rect(), line);
    painter.setPen(QPen(line, 1));
    painter.setBrush(fill);
    painter.drawPath(outline());
}

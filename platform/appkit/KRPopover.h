#pragma once

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <optional>

class QPainterPath;

// A small window beside a rectangle of another widget, pointing at it with an arrow, that
// holds one content widget. A transient pop-over closes when the user clicks anywhere
// outside it; an application-defined one stays until close() is called. Either closes when the
// window it points into hides (closed, minimised), and a command key of that window's menus
// that the focused control of the content does not claim for itself closes it and runs the
// command (Ctrl+Q quits), whatever control has the keyboard.
class KRPopover : public QWidget
{
    Q_OBJECT

public:
    // Held by whoever runs a modal dialog (an alert, say) for as long as the dialog is up. Every
    // shown transient pop-over then stays open: it stops grabbing the mouse and the keyboard, so
    // that the dialog gets them, and a click outside it no longer closes it. A close() asked for
    // meanwhile hides it at once but reports `closed` only when the last hold ends, so that
    // whoever deletes the pop-over on `closed` never deletes the controller of its content while
    // that controller still waits for the dialog's answer. Holds nest.
    class ModalHold
    {
    public:
        ModalHold();
        ~ModalHold();
        ModalHold(const ModalHold &) = delete;
        ModalHold &operator=(const ModalHold &) = delete;

        // Whether a pop-over was held: the dialog should then block the whole application, since
        // a window-modal one would leave the pop-over's content answering clicks behind it.
        bool holdsAny() const { return !m_held.isEmpty(); }

    private:
        QList<QPointer<KRPopover>> m_held;
    };

    // The side of the anchor rectangle the pop-over opens on. The numbers are the ones callers
    // store (0 = the left side, 2 = the right side).
    enum Edge { LeftEdge = 0, BottomEdge = 1, RightEdge = 2, TopEdge = 3 };
    enum class Behavior { ApplicationDefined, Transient };

    // Length of the arrow from the body to its tip, and the body's corner radius.
    static constexpr int ArrowLength = 9;
    static constexpr int ArrowHalfWidth = 9;
    static constexpr int CornerRadius = 6;
    // Space between the body's outline and the content widget.
    static constexpr int ContentInset = 4;

    struct Placement
    {
        QRect frame;      // whole window, arrow included, in screen coordinates
        Edge edge;        // the side actually used (the preferred one, or its opposite)
        int arrowCenter;  // position of the arrow's tip along the arrow side, in window coordinates
    };

    // Where a pop-over with content of the given size goes next to the anchor (screen
    // coordinates) inside the available area: on the preferred side when it fits, on the
    // opposite side when only that fits, then moved along both axes to stay inside the area.
    static Placement placement(const QRect &anchor, const QSize &contentSize, Edge preferred,
                               const QRect &available);
    static QSize frameSize(const QSize &contentSize, Edge edge);

    explicit KRPopover(QWidget *parent = nullptr);
    ~KRPopover() override;

    Behavior behavior() const { return m_behavior; }
    void setBehavior(Behavior behavior);

    // The widget shown inside; the pop-over takes ownership (a previous one is deleted).
    QWidget *contentWidget() const { return m_content; }
    void setContentWidget(QWidget *widget);

    // Size of the content area; an empty size means the content widget's size hint.
    QSize contentSize() const;
    void setContentSize(const QSize &size) { m_contentSize = size; }

    // Shows the pop-over pointing at a rectangle given in the view's coordinates, inside the
    // available area of the view's screen. Shown again while open, it moves.
    void showRelativeToRect(const QRect &rect, QWidget *view, Edge preferredEdge);
    bool isShown() const { return isVisible(); }
    // Whether a modal dialog holds the pop-over open (see ModalHold).
    bool isHeld() const { return m_holds > 0; }
    // The side used by the last showRelativeToRect.
    Edge shownEdge() const { return m_placement.edge; }

signals:
    // The pop-over has closed, by close() or (transient) by a click outside it.
    void closed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QRect bodyRect() const;
    QPainterPath outline() const;
    void layoutContent();
    void updateMask();
    void setWindowKind(Qt::WindowFlags kind);
    void hold();
    void release();
    void reopenAfterHold();
    // The window the pop-over points into (its parent's window), or null.
    QWidget *ownerWindow() const;
    void followOwnerWindow();
    // A command key of the owner window's menus (or Alt+F4): closes the pop-over and runs the
    // command; whether the key was one.
    bool runOwnerCommand(QKeyEvent *event);

    Behavior m_behavior = Behavior::ApplicationDefined;
    QPointer<QWidget> m_content;
    QSize m_contentSize;
    Placement m_placement{QRect(), RightEdge, 0};
    int m_holds = 0;
    bool m_closedWhileHeld = false;
    int m_reopenTries = 0;
    bool m_keyboardFocusShown = false;
    bool m_changingKind = false; // the window is hidden to change its kind, not closed
    // The time of the last Escape that a pop-up opened over this one (a combo box's list)
    // received first; its key press comes here once that pop-up has closed.
    std::optional<quint64> m_escapeTakenAbove;
};

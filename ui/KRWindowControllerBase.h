#pragma once

#include <ui/KRMainMenu.h>

#include <QObject>
#include <QPointer>
#include <QWidget>

// The base of the secondary windows' controllers (preferences, gallery, preview, …). It owns
// its window and answers the application's edit commands for it: Cut, Copy, Paste, Delete
// and Select All go to the standard editing actions of the window's focused widget, and each
// is enabled only where that widget can carry it out. Close closes the window.
class KRWindowControllerBase : public QObject, public KRMenuResponder
{
    Q_OBJECT

public:
    enum class EditCommand { Cut, Copy, Paste, Delete, SelectAll };

    explicit KRWindowControllerBase(QObject *parent = nullptr);
    ~KRWindowControllerBase() override;

    QWidget *window() const { return m_window; }
    // Takes ownership of the window (deleting any previous one) and answers its menu commands.
    void setWindow(QWidget *window);
    // Shows the window in front, the active one, also when it was minimised or a menu is open
    // (the menu closes).
    void showWindow();
    static void orderFront(QWidget *window);
    // Puts a window that has not been placed yet in the middle of the active window (the one
    // whose command opened it), or of the screen, inside the screen's free area. A window the
    // user or the code has moved stays where it is.
    static void placeOnFirstShow(QWidget *window);

    // Sends the command to the window's focus widget or, when that widget has no such
    // action, to the nearest ancestor that has one (as a command travels up the responder
    // chain). Text widgets use their own cut, copy, paste, delete and select-all; other
    // widgets provide invokable methods named cut, copy, paste, del and selectAll. Returns
    // whether some widget took the command.
    static bool sendEditCommand(QWidget *window, EditCommand command);
    // Whether sendEditCommand would do something now: a text widget cuts, copies and deletes
    // only a selection, and a read-only one takes no cut, paste or delete.
    static bool canSendEditCommand(QWidget *window, EditCommand command);

    // KRMenuResponder: the edit commands and Close for this window.
    bool performMenuCommand(const QString &identifier) override;
    bool validateMenuCommand(const QString &identifier, QAction *action) override;

public slots:
    void krCutAction() { sendEditCommand(m_window, EditCommand::Cut); }
    void krCopyAction() { sendEditCommand(m_window, EditCommand::Copy); }
    void krPasteAction() { sendEditCommand(m_window, EditCommand::Paste); }
    void krDeleteAction() { sendEditCommand(m_window, EditCommand::Delete); }
    void krSelectAllAction() { sendEditCommand(m_window, EditCommand::SelectAll); }

private:
    QPointer<QWidget> m_window;
};

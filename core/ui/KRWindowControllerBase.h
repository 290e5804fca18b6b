#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// The base of the secondary windows' controllers (preferences, gallery, preview, …). It owns
// its window and turns the application's edit commands into the standard editing actions of
// the window's focused widget.
class KRWindowControllerBase : public QObject
{
    Q_OBJECT

public:
    enum class EditCommand { Cut, Copy, Paste, Delete, SelectAll };

    explicit KRWindowControllerBase(QObject *parent = nullptr);
    ~KRWindowControllerBase() override;

    QWidget *window() const { return m_window; }
    // Takes ownership of the window (deleting any previous one).
    void setWindow(QWidget *window);

    // Sends the command to the window's focus widget or, when that widget has no such
    // action, to the nearest ancestor that has one (as a command travels up the responder
    // chain). Text widgets use their own cut, copy, paste, delete and select-all; other
    // widgets provide invokable methods named cut, copy, paste, del and selectAll. Returns
    // whether some widget took the command.
    static bool sendEditCommand(QWidget *window, EditCommand command);

public slots:
    void krCutAction() { sendEditCommand(m_window, EditCommand::Cut); }
    void krCopyAction() { sendEditCommand(m_window, EditCommand::Copy); }
    void krPasteAction() { sendEditCommand(m_window, EditCommand::Paste); }
    void krDeleteAction() { sendEditCommand(m_window, EditCommand::Delete); }
    void krSelectAllAction() { sendEditCommand(m_window, EditCommand::SelectAll); }

private:
    QPointer<QWidget> m_window;
};

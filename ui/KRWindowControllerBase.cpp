#include "KRWindowControllerBase.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QScreen>
#include <QComboBox>
#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QTextEdit>

#include <algorithm>
#include <optional>

namespace {

using EditCommand = KRWindowControllerBase::EditCommand;

const char *methodName(EditCommand command)
{
    switch (command) {
    case EditCommand::Cut:
        return "cut";
    case EditCommand::Copy:
        return "copy";
    case EditCommand::Paste:
        return "paste";
    case EditCommand::Delete:
        return "del";
    case EditCommand::SelectAll:
        break;
    }
    return "selectAll";
}

// The menu commands this base answers, by identifier.
const QHash<QString, EditCommand> &editCommands()
{
    static const QHash<QString, EditCommand> commands{
        {QStringLiteral("cut"), EditCommand::Cut},         {QStringLiteral("copy"), EditCommand::Copy},
        {QStringLiteral("paste"), EditCommand::Paste},     {QStringLiteral("delete"), EditCommand::Delete},
        {QStringLiteral("selectAll"), EditCommand::SelectAll},
    };
    return commands;
}

// An editable combo box edits through its line edit.
QWidget *textTarget(QWidget *widget)
{
    if (auto *combo = qobject_cast<QComboBox *>(widget); combo && combo->lineEdit())
        return combo->lineEdit();
    return widget;
}

// What a text widget can do now; nullopt for a widget that is no text widget.
std::optional<bool> textWidgetCan(QWidget *widget, EditCommand command)
{
    bool readOnly = false;
    bool selection = false;
    bool empty = false;
    bool hidden = false; // a password: never copied out
    if (auto *line = qobject_cast<QLineEdit *>(widget)) {
        readOnly = line->isReadOnly();
        selection = line->hasSelectedText();
        empty = line->text().isEmpty();
        hidden = line->echoMode() != QLineEdit::Normal;
    } else if (auto *text = qobject_cast<QTextEdit *>(widget)) {
        readOnly = text->isReadOnly();
        selection = text->textCursor().hasSelection();
        empty = text->document()->isEmpty();
    } else if (auto *plain = qobject_cast<QPlainTextEdit *>(widget)) {
        readOnly = plain->isReadOnly();
        selection = plain->textCursor().hasSelection();
        empty = plain->document()->isEmpty();
    } else {
        return std::nullopt;
    }
    switch (command) {
    case EditCommand::Cut:
        return !readOnly && selection && !hidden;
    case EditCommand::Copy:
        return selection && !hidden;
    case EditCommand::Paste:
        return !readOnly;
    case EditCommand::Delete:
        return !readOnly && selection;
    case EditCommand::SelectAll:
        return !empty;
    }
    return false;
}

// Delete removes the selection, like the standard command; Qt's text widgets have no
// invokable method for it.
bool deleteSelection(QWidget *widget)
{
    if (auto *line = qobject_cast<QLineEdit *>(widget)) {
        if (!line->isReadOnly() && line->hasSelectedText())
            line->del();
        return true;
    }
    if (auto *text = qobject_cast<QTextEdit *>(widget)) {
        if (!text->isReadOnly())
            text->textCursor().removeSelectedText();
        return true;
    }
    if (auto *plain = qobject_cast<QPlainTextEdit *>(widget)) {
        if (!plain->isReadOnly())
            plain->textCursor().removeSelectedText();
        return true;
    }
    return false;
}

// The widget that takes the command: the focus widget or its nearest ancestor in the window
// with such an action.
QWidget *commandTarget(QWidget *window, EditCommand command)
{
    if (!window)
        return nullptr;
    const QByteArray signature = QByteArray(methodName(command)) + "()";
    // The widget the user works in, also while the keys walk the menu bar.
    for (QWidget *w = KRMainMenu::workingFocus(window); w; w = w->parentWidget()) {
        QWidget *target = textTarget(w);
        if (command == EditCommand::Delete && textWidgetCan(target, command))
            return target;
        if (target->metaObject()->indexOfMethod(signature.constData()) >= 0)
            return target;
        if (w == window)
            break;
    }
    return nullptr;
}

// Places a window when it is first shown; see placeOnFirstShow.
class WindowPlacer : public QObject
{
public:
    explicit WindowPlacer(QWidget *window) : QObject(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The show event comes before the window is mapped: a move now is where it appears.
        if (event->type() == QEvent::Show && watched == parent()) {
            auto *window = static_cast<QWidget *>(watched);
            window->removeEventFilter(this);
            deleteLater();
            if (!window->testAttribute(Qt::WA_Moved))
                KRWindowControllerBase::placeOnFirstShow(window);
        }
        return false;
    }
};

} // namespace

void KRWindowControllerBase::placeOnFirstShow(QWidget *window)
{
    if (!window || !window->isWindow())
        return;
    QWidget *anchor = QApplication::activeWindow();
    if (anchor == window || (anchor && !anchor->isVisible()))
        anchor = nullptr;
    if (!anchor && window->parentWidget())
        anchor = window->parentWidget()->window();
    QScreen *screen = anchor ? anchor->screen() : QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect around = anchor ? anchor->frameGeometry() : area;
    QSize size = window->frameGeometry().size().expandedTo(window->size());
    // A window the window manager has not framed yet gets a frame like the anchor's.
    if (anchor && window->frameGeometry().size() == window->size())
        size += anchor->frameGeometry().size() - anchor->size();
    QPoint topLeft = around.center() - QPoint(size.width() / 2, size.height() / 2);
    topLeft.setX(std::clamp(topLeft.x(), area.left(), std::max(area.left(), area.right() - size.width() + 1)));
    topLeft.setY(std::clamp(topLeft.y(), area.top(), std::max(area.top(), area.bottom() - size.height() + 1)));
    window->move(topLeft);
}

KRWindowControllerBase::KRWindowControllerBase(QObject *parent) : QObject(parent) {}

KRWindowControllerBase::~KRWindowControllerBase()
{
    // Validation may run while the window goes: it must no longer reach this controller.
    KRMainMenu::setResponder(m_window.data(), nullptr);
    delete m_window.data();
}

void KRWindowControllerBase::setWindow(QWidget *window)
{
    if (m_window == window)
        return;
    KRMainMenu::setResponder(m_window.data(), nullptr);
    delete m_window.data();
    m_window = window;
    KRMainMenu::setResponder(window, this);
    if (window && window->isWindow() && !window->isVisible())
        new WindowPlacer(window);
}

void KRWindowControllerBase::showWindow()
{
    orderFront(m_window);
}

void KRWindowControllerBase::orderFront(QWidget *window)
{
    if (!window)
        return;
    // A menu still open (the user went on into the menus while what brings this window was under
    // way) closes first: while one is open the application takes no activation, and the menu,
    // as it closes, gives the keyboard back to the window it was opened from, which would come
    // back in front of this one and stay there.
    for (QWidget *popup = QApplication::activePopupWidget(); popup;) {
        popup->close();
        QWidget *next = QApplication::activePopupWidget();
        popup = next != popup ? next : nullptr; // one that refuses to close stays
    }
    // A minimised window stays visible to Qt: show() alone would leave it in the dock.
    if (window->windowState() & Qt::WindowMinimized)
        window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
}

bool KRWindowControllerBase::sendEditCommand(QWidget *window, EditCommand command)
{
    QWidget *target = commandTarget(window, command);
    if (!target)
        return false;
    if (command == EditCommand::Delete && deleteSelection(target))
        return true;
    return QMetaObject::invokeMethod(target, methodName(command));
}

bool KRWindowControllerBase::canSendEditCommand(QWidget *window, EditCommand command)
{
    QWidget *target = commandTarget(window, command);
    if (!target)
        return false;
    // A list that holds one choice at a time has nothing to select all of.
    if (auto *items = qobject_cast<QAbstractItemView *>(target); items && command == EditCommand::SelectAll)
        return items->selectionMode() == QAbstractItemView::MultiSelection
               || items->selectionMode() == QAbstractItemView::ExtendedSelection;
    return textWidgetCan(target, command).value_or(true);
}

bool KRWindowControllerBase::performMenuCommand(const QString &identifier)
{
    if (identifier == QLatin1String("closeWindow")) {
        if (m_window)
            m_window->close();
        return true;
    }
    const auto command = editCommands().constFind(identifier);
    if (command == editCommands().constEnd())
        return false;
    sendEditCommand(m_window, command.value());
    return true;
}

bool KRWindowControllerBase::validateMenuCommand(const QString &identifier, QAction *action)
{
    if (identifier == QLatin1String("closeWindow")) {
        action->setEnabled(m_window != nullptr);
        return true;
    }
    const auto command = editCommands().constFind(identifier);
    if (command == editCommands().constEnd())
        return false;
    action->setEnabled(canSendEditCommand(m_window, command.value()));
    return true;
}

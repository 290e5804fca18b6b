#include "KRWindowControllerBase.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

const char *methodName(KRWindowControllerBase::EditCommand command)
{
    switch (command) {
    case KRWindowControllerBase::EditCommand::Cut:
        return "cut";
    case KRWindowControllerBase::EditCommand::Copy:
        return "copy";
    case KRWindowControllerBase::EditCommand::Paste:
        return "paste";
    case KRWindowControllerBase::EditCommand::Delete:
        return "del";
    case KRWindowControllerBase::EditCommand::SelectAll:
        break;
    }
    return "selectAll";
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

} // namespace

KRWindowControllerBase::KRWindowControllerBase(QObject *parent) : QObject(parent) {}

KRWindowControllerBase::~KRWindowControllerBase()
{
    delete m_window.data();
}

void KRWindowControllerBase::setWindow(QWidget *window)
{
    if (m_window == window)
        return;
    delete m_window.data();
    m_window = window;
}

bool KRWindowControllerBase::sendEditCommand(QWidget *window, EditCommand command)
{
    if (!window)
        return false;
    const QByteArray signature = QByteArray(methodName(command)) + "()";
    for (QWidget *w = window->focusWidget(); w; w = w->parentWidget()) {
        if (command == EditCommand::Delete && deleteSelection(w))
            return true;
        if (w->metaObject()->indexOfMethod(signature.constData()) >= 0)
            return QMetaObject::invokeMethod(w, methodName(command));
        if (w == window)
            break;
    }
    return false;
}

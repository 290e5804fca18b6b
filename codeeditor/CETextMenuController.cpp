#include "CETextMenuController.h"

#include "CEEditor.h"
#include "CEFindBar.h"
#include "CETextView.h"

#include <QHash>
#include <QMenu>
#include <QPointer>

namespace CETextMenuController {

namespace {

CEMenuCommand ceCommand(const char *identifier, const char *title, const QKeySequence &shortcut = {},
                        const char *parent = "")
{
    return {CEMenuCommand::Kind::Command, QString::fromUtf8(identifier), QString::fromUtf8(title), shortcut,
            QString::fromUtf8(parent)};
}

CEMenuCommand ceSeparator()
{
    return {CEMenuCommand::Kind::Separator, {}, {}, {}, {}};
}

bool ceIsFindCommand(const QString &identifier)
{
    for (const CEMenuCommand &command : findCommands())
        if (command.identifier == identifier)
            return true;
    return false;
}

} // namespace

const QList<CEMenuCommand> &findCommands()
{
    static const QList<CEMenuCommand> commands{
        ceCommand("find", "Find…", QKeySequence::Find),
        ceCommand("findNext", "Find Next", QKeySequence(Qt::Key_F3)),
        ceCommand("findPrevious", "Find Previous", QKeySequence(Qt::SHIFT | Qt::Key_F3)),
    };
    return commands;
}

const QList<CEMenuCommand> &textCommands()
{
    static const QList<CEMenuCommand> commands{
        ceCommand("shiftRight", "Shift Right", QKeySequence(Qt::CTRL | Qt::Key_BracketRight)),
        ceCommand("shiftLeft", "Shift Left", QKeySequence(Qt::CTRL | Qt::Key_BracketLeft)),
        ceSeparator(),
        ceCommand("commentOrUncomment", "Comment or Uncomment", QKeySequence(Qt::CTRL | Qt::Key_Slash)),
        ceSeparator(),
        {CEMenuCommand::Kind::Submenu, QStringLiteral("changeCase"), QStringLiteral("Change Case"), {}, {}},
        ceCommand("toUppercase", "Upper Case", {}, "changeCase"),
        ceCommand("toLowercase", "Lower Case", {}, "changeCase"),
        ceCommand("capitalise", "Capitalise", {}, "changeCase"),
        ceCommand("transpose", "Transpose", QKeySequence(Qt::CTRL | Qt::Key_T)),
        ceCommand("removeNeedlessWhitespace", "Remove Needless Whitespace"),
        ceCommand("removeLineEndings", "Remove Line Endings"),
        ceSeparator(),
        ceCommand("entab", "Entab…"),
        ceCommand("detab", "Detab…"),
        ceSeparator(),
        ceCommand("closeTag", "Close Tag"),
        ceCommand("prepareForXML", "Prepare for XML"),
        ceSeparator(),
        ceCommand("goToLine", "Go to Line…", QKeySequence(Qt::CTRL | Qt::Key_G)),
        ceSeparator(),
        {CEMenuCommand::Kind::Submenu, QStringLiteral("syntaxDefinitionMenu"), QStringLiteral("Syntax Colouring"), {}, {}},
        {CEMenuCommand::Kind::Submenu, QStringLiteral("encodingMenu"), QStringLiteral("Encoding"), {}, {}},
        {CEMenuCommand::Kind::Submenu, QStringLiteral("reloadEncodingMenu"), QStringLiteral("Reload with Encoding"), {}, {}},
        {CEMenuCommand::Kind::Submenu, QStringLiteral("lineEndingsMenu"), QStringLiteral("Line Endings"), {}, {}},
    };
    return commands;
}

bool isSettingsMenu(const QString &identifier)
{
    return identifier == QLatin1String("syntaxDefinitionMenu") || identifier == QLatin1String("encodingMenu")
           || identifier == QLatin1String("reloadEncodingMenu") || identifier == QLatin1String("lineEndingsMenu");
}

namespace {

// The editor whose text holds the focus, when its text was read from a file.
CEEditor *fileEditorForFocus(const QWidget *focus)
{
    CEEditor *editor = editorForWidget(focus);
    if (!editor || !editor->settings().contains(CEKeys::encodingName))
        return nullptr;
    for (const QWidget *w = focus; w; w = w->parentWidget())
        if (qobject_cast<const CETextView *>(w))
            return editor;
    return nullptr;
}

void fillFromEditor(const QString &identifier, QMenu *menu, CEEditor &editor)
{
    if (identifier == QLatin1String("syntaxDefinitionMenu"))
        editor.fillSyntaxDefinitionMenu(menu);
    else if (identifier == QLatin1String("encodingMenu"))
        editor.fillEncodingMenu(menu);
    else if (identifier == QLatin1String("reloadEncodingMenu"))
        editor.fillReloadEncodingMenu(menu);
    else if (identifier == QLatin1String("lineEndingsMenu"))
        editor.fillLineEndingsMenu(menu);
}

} // namespace

bool validateSettingsMenu(const QString &identifier, const QWidget *focus)
{
    return isSettingsMenu(identifier) && fileEditorForFocus(focus);
}

void fillSettingsMenu(const QString &identifier, QMenu *menu, const QWidget *focus)
{
    if (CEEditor *editor = isSettingsMenu(identifier) ? fileEditorForFocus(focus) : nullptr)
        fillFromEditor(identifier, menu, *editor);
    else
        menu->clear();
}

bool isCommand(const QString &identifier)
{
    if (identifier.isEmpty())
        return false;
    for (const QList<CEMenuCommand> *list : {&findCommands(), &textCommands()})
        for (const CEMenuCommand &command : *list)
            if (command.kind == CEMenuCommand::Kind::Command && command.identifier == identifier)
                return true;
    return false;
}

CEEditor *editorForWidget(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (auto *view = qobject_cast<const CETextView *>(w))
            return &view->editor();
        if (auto *bar = qobject_cast<const CEFindBar *>(w))
            return &bar->editor();
        if (w->isWindow())
            break;
    }
    return nullptr;
}

bool validate(const QString &identifier, const QWidget *focus)
{
    CEEditor *editor = editorForWidget(focus);
    if (!editor || !isCommand(identifier))
        return false;
    if (ceIsFindCommand(identifier))
        return editor->textView() != nullptr;
    // Text commands act on the text the focus was in, not on the find bar.
    bool inText = false;
    for (const QWidget *w = focus; w && !inText; w = w->parentWidget())
        inText = qobject_cast<const CETextView *>(w) != nullptr;
    return inText && editor->validateCommand(identifier, false);
}

bool perform(const QString &identifier, const QWidget *focus)
{
    if (!validate(identifier, focus))
        return false;
    perform(identifier, *editorForWidget(focus));
    return true;
}

void perform(const QString &identifier, CEEditor &editor)
{
    using Action = void (*)(CEEditor &);
    static const QHash<QString, Action> actions{
        {QStringLiteral("find"), [](CEEditor &e) { e.showFindBar(); }},
        {QStringLiteral("findNext"), [](CEEditor &e) { e.findNext(false); }},
        {QStringLiteral("findPrevious"), [](CEEditor &e) { e.findNext(true); }},
        {QStringLiteral("shiftRight"), [](CEEditor &e) { e.shiftRight(); }},
        {QStringLiteral("shiftLeft"), [](CEEditor &e) { e.shiftLeft(); }},
        {QStringLiteral("commentOrUncomment"), [](CEEditor &e) { e.commentOrUncomment(); }},
        {QStringLiteral("toUppercase"), [](CEEditor &e) { e.changeCase(CETextCommands::CaseChange::Upper); }},
        {QStringLiteral("toLowercase"), [](CEEditor &e) { e.changeCase(CETextCommands::CaseChange::Lower); }},
        {QStringLiteral("capitalise"), [](CEEditor &e) { e.changeCase(CETextCommands::CaseChange::Capitalise); }},
        {QStringLiteral("transpose"), [](CEEditor &e) { e.transpose(); }},
        {QStringLiteral("removeNeedlessWhitespace"), [](CEEditor &e) { e.removeNeedlessWhitespace(); }},
        {QStringLiteral("removeLineEndings"), [](CEEditor &e) { e.removeLineEndings(); }},
        {QStringLiteral("entab"), [](CEEditor &e) { e.showEntabSheet(); }},
        {QStringLiteral("detab"), [](CEEditor &e) { e.showDetabSheet(); }},
        {QStringLiteral("closeTag"), [](CEEditor &e) { e.closeTag(); }},
        {QStringLiteral("prepareForXML"), [](CEEditor &e) { e.prepareForXML(); }},
        {QStringLiteral("goToLine"), [](CEEditor &e) { e.showGoToLineSheet(); }},
    };
    if (Action action = actions.value(identifier))
        action(editor);
}

void addToContextMenu(QMenu *menu, CEEditor &editor)
{
    QPointer<CEEditor> target(&editor);
    auto add = [&](QMenu *into, const CEMenuCommand &command) {
        QString title = command.title;
        if (!command.shortcut.isEmpty())
            title += QLatin1Char('\t') + command.shortcut.toString(QKeySequence::NativeText);
        QAction *action = into->addAction(title);
        action->setObjectName(command.identifier);
        action->setEnabled(ceIsFindCommand(command.identifier) || editor.validateCommand(command.identifier, false));
        QObject::connect(action, &QAction::triggered, menu, [target, identifier = command.identifier] {
            if (target)
                perform(identifier, *target);
        });
    };
    menu->addSeparator();
    add(menu, findCommands().first());
    menu->addSeparator();
    QHash<QString, QMenu *> submenus;
    for (const CEMenuCommand &command : textCommands()) {
        QMenu *into = command.parent.isEmpty() ? menu : submenus.value(command.parent, menu);
        switch (command.kind) {
        case CEMenuCommand::Kind::Separator:
            into->addSeparator();
            break;
        case CEMenuCommand::Kind::Submenu:
            if (!isSettingsMenu(command.identifier)) {
                submenus.insert(command.identifier, into->addMenu(command.title));
            } else if (editor.settings().contains(CEKeys::encodingName)) {
                QMenu *settings = into->addMenu(command.title);
                settings->setObjectName(command.identifier);
                fillFromEditor(command.identifier, settings, editor);
            }
            break;
        case CEMenuCommand::Kind::Command:
            add(into, command);
            break;
        }
    }
}

} // namespace CETextMenuController

#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class CEEditor;
class QMenu;
class QWidget;

// One entry of the editor's menus: a command, a separator, or a submenu that the entries
// naming it as their parent go into.
struct CEMenuCommand
{
    enum class Kind { Command, Separator, Submenu };
    Kind kind = Kind::Command;
    QString identifier;
    QString title;
    QKeySequence shortcut;
    QString parent; // the submenu's identifier; empty for the menu itself
};

// The editor's menu commands: the find commands (for the Edit menu), the text commands (a
// Text menu of their own) and the editor's context menu. A command acts on the editor that
// holds the focus: the text commands only while its text view has it, the find commands also
// while its find bar has it.
namespace CETextMenuController {

const QList<CEMenuCommand> &findCommands();
const QList<CEMenuCommand> &textCommands();
bool isCommand(const QString &identifier);

// The editor whose text view or find bar holds the widget; null for any other widget.
CEEditor *editorForWidget(const QWidget *widget);
// Whether the command can run with the focus on `focus`.
bool validate(const QString &identifier, const QWidget *focus);
// Runs the command on the focused editor; false when there is none or it cannot run.
bool perform(const QString &identifier, const QWidget *focus);
void perform(const QString &identifier, CEEditor &editor);

// The submenus of the text's own settings among the text commands (Syntax Colouring, Encoding,
// Reload with Encoding, Line Endings): they apply to an editor whose text was read from a file
// (it has an encoding), and are filled from that editor each time they open.
bool isSettingsMenu(const QString &identifier);
// Whether the settings submenu applies with the focus on `focus` (in an editor's text).
bool validateSettingsMenu(const QString &identifier, const QWidget *focus);
// Fills the settings submenu from the editor the focus is in; empties it when none applies.
void fillSettingsMenu(const QString &identifier, QMenu *menu, const QWidget *focus);

// Appends Find and the text commands (with their shortcuts shown) to a context menu of the
// editor's text view.
void addToContextMenu(QMenu *menu, CEEditor &editor);

} // namespace CETextMenuController

#pragma once

#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// Whoever answers the menu commands of a window (its controller) or of the whole application
// (the application delegate).
class KRMenuResponder
{
public:
    virtual ~KRMenuResponder() = default;
    // Carries out the command; false when the command is not this responder's.
    virtual bool performMenuCommand(const QString &identifier) = 0;
    // Sets the action's enabled (and checked) state; false when the command is not this
    // responder's.
    virtual bool validateMenuCommand(const QString &identifier, QAction *action) = 0;
};

// The application's one set of menu commands. Every command is one shared QAction; every
// top-level window gets a menu bar of its own made of those actions. A triggered command goes
// to the responder of the active window (or of the nearest window above it, for a dialog or a
// pop-over), then to the application's responder. Validation enables and checks every action
// for the active window; it runs when a menu is about to show, when the focus or the active
// window changes, and when asked (after a selection change, say). A command nobody knows is
// disabled, and Qt runs no shortcut of a disabled action.
//
// A responder that goes away must be removed first (setResponder(window, nullptr)), since
// validation may run while its window is being torn down. Main thread only.
class KRMainMenu : public QObject
{
    Q_OBJECT

public:
    static KRMainMenu &shared();

    // Appends a shared action to the named top menu ("File", "Edit", "View", "Project",
    // "Window", "Help"; menus appear in the order they are first used). `menu` may also name a
    // submenu made with addSubmenu. Adding an identifier twice returns the existing action.
    QAction *addCommand(const QString &menu, const QString &identifier, const QString &title,
                        const QKeySequence &shortcut = {}, bool checkable = false);
    void addSeparator(const QString &menu);
    // A submenu shared by every menu bar (Open Recent, Snap to Grid). Its own action answers
    // to action(identifier); it is enabled when a responder says so or, when none claims it,
    // while it holds an enabled action.
    QMenu *addSubmenu(const QString &menu, const QString &identifier, const QString &title);

    // The command's action; null for an unknown identifier.
    QAction *action(const QString &identifier) const;
    // The top menus' titles in order.
    QStringList menuTitles() const;

    // A menu bar of the shared actions, owned by the window (set as its menu bar when the
    // window is a QMainWindow). Menus added later appear in it too.
    QMenuBar *createMenuBar(QWidget *window);

    static void setResponder(QWidget *window, KRMenuResponder *responder);
    // The widget of the window the user works in, which the commands are about: the window's
    // focus widget, or while the keys walk its menu bar (which then takes the keyboard), the
    // one that had the focus before the bar; null when none. An open menu holds the focus in
    // a window of its own and leaves the window's focus widget as it was.
    static QWidget *workingFocus(const QWidget *window);
    void setApplicationResponder(KRMenuResponder *responder);

    // Sends the command along the responder chain; false when nobody carried it out.
    bool perform(const QString &identifier);
    void validate();

private:
    KRMainMenu();
    ~KRMainMenu() override;
    static void cleanUp();

    struct Menu {
        QString title;
        QMenu *menu = nullptr;  // shared; owned here
    };

    QMenu *menuNamed(const QString &name);
    QList<KRMenuResponder *> responderChain() const;
    void attachTopMenu(QMenuBar *bar, QMenu *menu);

    QList<Menu> m_topMenus;
    QHash<QString, QMenu *> m_submenus;      // by identifier
    QHash<QString, QAction *> m_actions;     // commands and submenus' actions, by identifier
    QStringList m_order;                     // identifiers in the order they were added
    QList<QPointer<QMenuBar>> m_bars;
    QHash<const QWidget *, KRMenuResponder *> m_responders;
    KRMenuResponder *m_applicationResponder = nullptr;
    QPointer<QWidget> m_focusBeforeMenuBar; // see workingFocus
    bool m_validating = false;
};

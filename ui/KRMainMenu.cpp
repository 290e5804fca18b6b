#include <ui/KRMainMenu.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QWindow>

#include <algorithm>

namespace {

KRMainMenu *g_krMainMenu = nullptr;

} // namespace

void KRMainMenu::cleanUp()
{
    // Run from the application's destructor while widgets may still be deleted.
    delete g_krMainMenu;
    g_krMainMenu = nullptr;
}

KRMainMenu &KRMainMenu::shared()
{
    if (!g_krMainMenu) {
        g_krMainMenu = new KRMainMenu;
        qAddPostRoutine(&KRMainMenu::cleanUp);
    }
    return *g_krMainMenu;
}

KRMainMenu::KRMainMenu()
{
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance())) {
        connect(app, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
            // Noted before validating, which asks for it. The bar takes the keyboard from a
            // widget (Alt), from an open menu (Escape in it) or from nowhere (the window coming
            // back to the front with its bar in use); only a widget is what the user works in.
            if (qobject_cast<QMenuBar *>(now) && old && !qobject_cast<QMenuBar *>(old) && !qobject_cast<QMenu *>(old->window()))
                m_focusBeforeMenuBar = old;
            validate();
        });
        connect(app, &QGuiApplication::focusWindowChanged, this, [this] { validate(); });
    }
}

KRMainMenu::~KRMainMenu()
{
    for (const Menu &menu : std::as_const(m_topMenus))
        delete menu.menu;
    // Submenus are children of their parent menus and went with them.
}

QMenu *KRMainMenu::menuNamed(const QString &name)
{
    if (QMenu *submenu = m_submenus.value(name))
        return submenu;
    for (const Menu &menu : std::as_const(m_topMenus))
        if (menu.title == name)
            return menu.menu;
    auto *menu = new QMenu(name);
    menu->setObjectName(name);
    connect(menu, &QMenu::aboutToShow, this, &KRMainMenu::validate);
    m_topMenus.append({name, menu});
    for (const QPointer<QMenuBar> &bar : std::as_const(m_bars))
        if (bar)
            attachTopMenu(bar, menu);
    return menu;
}

void KRMainMenu::attachTopMenu(QMenuBar *bar, QMenu *menu)
{
    bar->addMenu(menu);
}

QAction *KRMainMenu::addCommand(const QString &menu, const QString &identifier, const QString &title,
                                const QKeySequence &shortcut, bool checkable)
{
    if (QAction *existing = m_actions.value(identifier))
        return existing;
    QMenu *target = menuNamed(menu);
    auto *action = new QAction(title, target);
    action->setObjectName(identifier);
    action->setShortcut(shortcut);
    action->setCheckable(checkable);
    action->setEnabled(false);
    connect(action, &QAction::triggered, this, [this, identifier] { perform(identifier); });
    target->addAction(action);
    m_actions.insert(identifier, action);
    m_order.append(identifier);
    return action;
}

void KRMainMenu::addSeparator(const QString &menu)
{
    menuNamed(menu)->addSeparator();
}

QMenu *KRMainMenu::addSubmenu(const QString &menu, const QString &identifier, const QString &title)
{
    if (QMenu *existing = m_submenus.value(identifier))
        return existing;
    QMenu *parent = menuNamed(menu);
    auto *submenu = new QMenu(title, parent);
    submenu->setObjectName(identifier);
    submenu->menuAction()->setObjectName(identifier);
    connect(submenu, &QMenu::aboutToShow, this, &KRMainMenu::validate);
    parent->addMenu(submenu);
    m_submenus.insert(identifier, submenu);
    m_actions.insert(identifier, submenu->menuAction());
    m_order.append(identifier);
    return submenu;
}

QAction *KRMainMenu::action(const QString &identifier) const
{
    return m_actions.value(identifier);
}

QStringList KRMainMenu::menuTitles() const
{
    QStringList titles;
    for (const Menu &menu : m_topMenus)
        titles << menu.title;
    return titles;
}

QMenuBar *KRMainMenu::createMenuBar(QWidget *window)
{
    auto *bar = new QMenuBar(window);
    bar->setObjectName(QStringLiteral("KRMainMenuBar"));
    for (const Menu &menu : std::as_const(m_topMenus))
        attachTopMenu(bar, menu.menu);
    m_bars.removeAll(nullptr);
    m_bars.append(bar);
    // The accessible item of a shared menu's title is made once, for the first bar asked for
    // it, and is no longer valid once that bar has gone: it is forgotten then, and made again
    // for the bars left, or assistive tools would find no menus in them once the first window
    // has closed.
    connect(bar, &QObject::destroyed, this, [this] {
        for (const Menu &menu : std::as_const(m_topMenus))
            if (QAccessibleInterface *item = QAccessible::queryAccessibleInterface(menu.menu->menuAction()))
                QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(item));
    });
    if (auto *mainWindow = qobject_cast<QMainWindow *>(window))
        mainWindow->setMenuBar(bar);
    validate();
    return bar;
}

void KRMainMenu::setResponder(QWidget *window, KRMenuResponder *responder)
{
    if (!window)
        return;
    KRMainMenu &menu = shared();
    if (!responder) {
        menu.m_responders.remove(window);
    } else {
        if (!menu.m_responders.contains(window))
            connect(window, &QObject::destroyed, &menu, [&menu, window] { menu.m_responders.remove(window); });
        menu.m_responders.insert(window, responder);
    }
    menu.validate();
}

void KRMainMenu::setApplicationResponder(KRMenuResponder *responder)
{
    m_applicationResponder = responder;
    validate();
}

QWidget *KRMainMenu::workingFocus(const QWidget *window)
{
    QWidget *focus = window ? window->focusWidget() : nullptr;
    if (!qobject_cast<QMenuBar *>(focus))
        return focus;
    QWidget *before = shared().m_focusBeforeMenuBar;
    return before && before->window() == window ? before : nullptr;
}

QList<KRMenuResponder *> KRMainMenu::responderChain() const
{
    QList<KRMenuResponder *> chain;
    // A dialog, sheet or pop-over has no responder of its own: its commands go to the window
    // it belongs to.
    for (QWidget *window = QApplication::activeWindow(); window;) {
        if (KRMenuResponder *responder = m_responders.value(window)) {
            chain << responder;
            break;
        }
        QWidget *parent = window->parentWidget();
        window = parent ? parent->window() : nullptr;
    }
    if (m_applicationResponder)
        chain << m_applicationResponder;
    return chain;
}

bool KRMainMenu::perform(const QString &identifier)
{
    bool done = false;
    for (KRMenuResponder *responder : responderChain()) {
        if (responder->performMenuCommand(identifier)) {
            done = true;
            break;
        }
    }
    // The command may have changed what the others apply to (and a checkable action toggled
    // itself before it got here).
    validate();
    return done;
}

void KRMainMenu::validate()
{
    if (m_validating)
        return;
    m_validating = true;
    const QList<KRMenuResponder *> chain = responderChain();
    // The first responder that knows the command sets its action's state.
    auto claimed = [&chain](const QString &identifier, QAction *action) {
        return std::any_of(chain.begin(), chain.end(), [&](KRMenuResponder *responder) {
            return responder->validateMenuCommand(identifier, action);
        });
    };
    for (const QString &identifier : std::as_const(m_order)) {
        if (m_submenus.contains(identifier))
            continue;
        QAction *action = m_actions.value(identifier);
        if (!claimed(identifier, action))
            action->setEnabled(false);
    }
    // Submenus after their contents, innermost first: a submenu nobody claims is enabled while
    // it holds an enabled action.
    for (auto it = m_order.crbegin(); it != m_order.crend(); ++it) {
        QMenu *submenu = m_submenus.value(*it);
        if (!submenu || claimed(*it, submenu->menuAction()))
            continue;
        const QList<QAction *> actions = submenu->actions();
        submenu->menuAction()->setEnabled(std::any_of(actions.begin(), actions.end(), [](QAction *a) {
            return !a->isSeparator() && a->isEnabled();
        }));
    }
    m_validating = false;
}

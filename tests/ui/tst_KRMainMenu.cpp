#include <ui/KRMainMenu.h>

#include <KRTestSupport.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Knows a fixed set of commands; records what it carried out.
struct RecordingResponder : KRMenuResponder {
    QStringList known;
    QStringList checked;
    QStringList performed;

    bool performMenuCommand(const QString &identifier) override
    {
        if (!known.contains(identifier))
            return false;
        performed << identifier;
        return true;
    }
    bool validateMenuCommand(const QString &identifier, QAction *action) override
    {
        if (!known.contains(identifier))
            return false;
        action->setEnabled(true);
        action->setChecked(checked.contains(identifier));
        return true;
    }
};

void activate(QWidget *window)
{
    window->show();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(KRTest::processEventsUntil([window] { return QApplication::activeWindow() == window; }));
}

QStringList titlesOf(QMenuBar *bar)
{
    QStringList titles;
    for (QAction *action : bar->actions())
        titles << action->text();
    return titles;
}

} // namespace

// Commands go to the active window's responder, then to the application's; a dialog's commands
// go to its window; validation follows the active window; one shared action serves every menu
// bar, also for menus added after the bar was made.
TEST(KRMainMenu, CommandsFollowTheActiveWindowThroughSharedMenuBars)
{
    KRMainMenu &menu = KRMainMenu::shared();
    QAction *build = menu.addCommand(QStringLiteral("Project"), QStringLiteral("tstBuild"), QStringLiteral("Build"),
                                     QKeySequence(Qt::CTRL | Qt::Key_B));
    QAction *grid = menu.addCommand(QStringLiteral("View"), QStringLiteral("tstGrid"), QStringLiteral("Show Grid"), {}, true);
    QAction *about = menu.addCommand(QStringLiteral("Help"), QStringLiteral("tstAbout"), QStringLiteral("About"));
    QAction *orphan = menu.addCommand(QStringLiteral("Help"), QStringLiteral("tstOrphan"), QStringLiteral("Nobody's"));
    EXPECT_EQ(menu.addCommand(QStringLiteral("File"), QStringLiteral("tstBuild"), QStringLiteral("Again")), build);
    EXPECT_EQ(menu.action(QStringLiteral("tstGrid")), grid);
    EXPECT_EQ(menu.action(QStringLiteral("nothing")), nullptr);

    RecordingResponder app, first, second;
    app.known = {QStringLiteral("tstAbout"), QStringLiteral("tstBuild")};
    first.known = {QStringLiteral("tstBuild"), QStringLiteral("tstGrid")};
    first.checked = {QStringLiteral("tstGrid")};
    second.known = {QStringLiteral("tstGrid")};
    menu.setApplicationResponder(&app);

    auto window1 = std::make_unique<QMainWindow>();
    auto window2 = std::make_unique<QMainWindow>();
    window1->setCentralWidget(new QLineEdit);
    window2->setCentralWidget(new QLineEdit);
    QMenuBar *bar1 = menu.createMenuBar(window1.get());
    QMenuBar *bar2 = menu.createMenuBar(window2.get());
    EXPECT_EQ(window1->menuBar(), bar1);
    KRMainMenu::setResponder(window1.get(), &first);
    KRMainMenu::setResponder(window2.get(), &second);

    // Menus in first-use order; a menu that appears later joins the existing bars.
    const qsizetype before = titlesOf(bar1).size();
    QMenu *snap = menu.addSubmenu(QStringLiteral("tstLate"), QStringLiteral("tstSnap"), QStringLiteral("Snap to Grid"));
    QAction *snap8 = menu.addCommand(QStringLiteral("tstSnap"), QStringLiteral("tstSnap8"), QStringLiteral("8 × 8"));
    EXPECT_EQ(titlesOf(bar1).size(), before + 1);
    EXPECT_EQ(titlesOf(bar2).last(), QStringLiteral("tstLate"));
    EXPECT_EQ(menu.menuTitles().indexOf(QStringLiteral("Project")) < menu.menuTitles().indexOf(QStringLiteral("Help")), true);
    EXPECT_EQ(snap->actions(), QList<QAction *>{snap8});

    activate(window1.get());
    EXPECT_TRUE(build->isEnabled());
    EXPECT_TRUE(grid->isEnabled());
    EXPECT_TRUE(grid->isChecked());
    EXPECT_TRUE(about->isEnabled());
    EXPECT_FALSE(orphan->isEnabled());
    EXPECT_FALSE(snap->menuAction()->isEnabled()) << "a submenu of disabled commands";
    build->trigger();
    about->trigger();
    EXPECT_EQ(first.performed, QStringList{QStringLiteral("tstBuild")});
    EXPECT_EQ(app.performed, QStringList{QStringLiteral("tstAbout")});

    // The second window knows no Build: the application's responder gets it.
    activate(window2.get());
    EXPECT_FALSE(grid->isChecked());
    build->trigger();
    EXPECT_EQ(app.performed, (QStringList{QStringLiteral("tstAbout"), QStringLiteral("tstBuild")}));
    EXPECT_EQ(first.performed.size(), 1);

    // Validation runs again when the responder's state changes and someone asks.
    second.known << QStringLiteral("tstSnap8");
    menu.validate();
    EXPECT_TRUE(snap->menuAction()->isEnabled());

    // A dialog of the first window sends its commands to that window.
    auto *dialog = new QDialog(window1.get());
    activate(dialog);
    EXPECT_TRUE(grid->isChecked());
    grid->trigger();
    EXPECT_EQ(first.performed.last(), QStringLiteral("tstGrid"));
    EXPECT_TRUE(grid->isChecked()) << "validation after the command sets the responder's state";
    delete dialog;

    // A window that goes away takes its responder with it.
    KRMainMenu::setResponder(window2.get(), nullptr);
    window1.reset();
    window2.reset();
    menu.validate();
    EXPECT_FALSE(grid->isEnabled());
    menu.setApplicationResponder(nullptr);
}

// A shortcut of an enabled command runs exactly once in the window that has the focus; a
// command that is disabled for the active window does not run at all.
TEST(KRMainMenu, ShortcutsRunOnceAndOnlyWhenEnabled)
{
    KRMainMenu &menu = KRMainMenu::shared();
    QAction *paste = menu.addCommand(QStringLiteral("Edit"), QStringLiteral("tstPaste"), QStringLiteral("Paste"),
                                     QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    RecordingResponder responder;
    auto window = std::make_unique<QMainWindow>();
    auto *field = new QLineEdit;
    window->setCentralWidget(field);
    menu.createMenuBar(window.get());
    KRMainMenu::setResponder(window.get(), &responder);
    activate(window.get());
    field->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return field->hasFocus(); }));

    EXPECT_FALSE(paste->isEnabled());
    QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(responder.performed.isEmpty());

    responder.known << QStringLiteral("tstPaste");
    menu.validate();
    QTest::keyClick(field, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(responder.performed, QStringList{QStringLiteral("tstPaste")});
    KRMainMenu::setResponder(window.get(), nullptr);
}

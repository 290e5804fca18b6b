#include "../../model/KRPageTestSupport.h"
#include "KRTestSupport.h"
#include "KRWidgetTestSupport.h"

#include <model/KRObjectInfo.h>
#include <model/KRUserDeviceInformation.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/help/KRHelpButtonController.h>
#include <workspace/settings/KRProjectSettingsViewController.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMimeData>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

struct SettingsPane : ::testing::Test
{
    void SetUp() override
    {
        alerts = std::make_shared<KRScriptedAlertService>();
        previousAlerts = KRAlertService::setCurrent(alerts);
    }
    void TearDown() override
    {
        pane.reset();
        KRUserDeviceInformation::storeDevices({}, KRUserDefaults::sharedInstance());
        KRAlertService::setCurrent(previousAlerts);
    }

    void open(const QString &settings)
    {
        project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"home\" title=\"Home\"><KRContents/></KRPage>"
                                                            "<KRPage id=\"about\" title=\"About\"><KRContents/></KRPage>"),
                                             settings),
                                true, &document);
        ASSERT_TRUE(project);
        pane = KRCachingViewController::create<KRProjectSettingsViewController>();
        pane->setProject(project);
        pane->view()->show();
        QApplication::setActiveWindow(pane->view());
        turn();
    }
    template <typename T>
    T *child(const char *name) const
    {
        return pane->view()->findChild<T *>(QString::fromLatin1(name));
    }
    QStringList titles(QComboBox *popUp) const
    {
        QStringList list;
        for (int i = 0; i < popUp->count(); ++i)
            list << popUp->itemText(i);
        return list;
    }
    // Picks a pop-up item by keyboard, as a user would.
    static void choose(QComboBox *popUp, int index)
    {
        popUp->setFocus();
        // Arrow keys from the shown item (from above the first when none is shown).
        const int steps = index - popUp->currentIndex();
        for (int i = 0; i < std::abs(steps); ++i)
            QTest::keyClick(popUp, steps > 0 ? Qt::Key_Down : Qt::Key_Up);
        turn();
    }
    static void turn()
    {
        QApplication::processEvents();
        QApplication::processEvents();
    }
    KRUndoManager &undo() { return document->undoManager(); }

    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRAlertService> previousAlerts;
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    std::unique_ptr<KRProjectSettingsViewController> pane;
};

// Sends a drag of `from` over the table's viewport to pos, then the drop; true when accepted.
bool dragRow(KRProjectSettingsViewController &pane, QTableWidget *table, int from, const QPoint &pos)
{
    std::unique_ptr<QMimeData> data(pane.writeRows(table, {from}));
    QDragEnterEvent enter(pos, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDragMoveEvent move(pos, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &move);
    if (!move.isAccepted())
        return false;
    QDropEvent drop(pos, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &drop);
    return drop.isAccepted();
}

} // namespace

TEST_F(SettingsPane, DesignTargetsLeaveOutTheDesignViewAndEditsAreUndoable)
{
    auto designView = std::make_shared<KRUserDeviceInformation>();
    designView->deviceID = QStringLiteral("designView");
    designView->name = QStringLiteral("Design View");
    designView->width = 320;
    designView->height = 480;
    auto watch = std::make_shared<KRUserDeviceInformation>();
    watch->deviceID = QStringLiteral("Watch");
    watch->name = QStringLiteral("Watch");
    watch->width = 50;
    watch->height = 60;
    KRUserDeviceInformation::storeDevices({designView, watch}, KRUserDefaults::sharedInstance());

    open(QStringLiteral("designTarget=\"nowhere\""));
    QComboBox *popUp = pane->designTargetPopup();
    QStringList expected;
    for (const auto &device : KRObjectInfo::sharedInstance().standardDeviceInformation().allValues())
        expected << device->name;
    expected << QStringLiteral("Watch");
    EXPECT_EQ(titles(popUp), expected);
    // An unknown target selects nothing.
    EXPECT_EQ(popUp->currentIndex(), -1);

    choose(popUp, int(expected.size()) - 1);
    EXPECT_EQ(project->designTarget(), QStringLiteral("Watch"));
    undo().undo();
    turn();
    EXPECT_EQ(project->designTarget(), QStringLiteral("nowhere"));
    EXPECT_EQ(popUp->currentIndex(), -1);
    undo().redo();
    EXPECT_EQ(popUp->currentText(), QStringLiteral("Watch"));
}

TEST_F(SettingsPane, OnlySwitchingToFixedObjectsAsks)
{
    open(QStringLiteral("autoAdjustObjects=\"true\""));
    QComboBox *popUp = pane->autoAdjustObjectsPopup();
    EXPECT_EQ(titles(popUp), (QStringList{QStringLiteral("Fixed, regardless of device"),
                                         QStringLiteral("Customized for each device type")}));
    EXPECT_EQ(popUp->currentIndex(), 1);

    alerts->scriptButton(QStringLiteral("Cancel"));
    choose(popUp, 0);
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("Switch to fixed objects?"));
    EXPECT_EQ(popUp->currentIndex(), 1);
    EXPECT_TRUE(project->autoAdjustObjects());

    alerts->scriptButton(QStringLiteral("Discard Customizations"));
    choose(popUp, 0);
    EXPECT_FALSE(project->autoAdjustObjects());

    choose(popUp, 1);
    EXPECT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_TRUE(project->autoAdjustObjects());
    undo().undo();
    turn();
    EXPECT_FALSE(project->autoAdjustObjects());
    EXPECT_EQ(popUp->currentIndex(), 0);
}

TEST_F(SettingsPane, IncludeListsAddEditRemoveAndReorder)
{
    open(QStringLiteral("JQMVersion=\"1.4\""));
    QTableWidget *table = pane->javascriptIncludesTableView();

    // Adding twice without renaming edits the first new row both times.
    QTest::mouseClick(pane->javascriptIncludesAddButton(), Qt::LeftButton);
    QTest::mouseClick(pane->javascriptIncludesAddButton(), Qt::LeftButton);
    turn();
    EXPECT_EQ(project->javascriptIncludes(), (QStringList{QStringLiteral("javascript.js"), QStringLiteral("javascript.js")}));
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->currentRow(), 0);
    auto *editor = table->viewport()->findChild<QLineEdit *>();
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->selectedText(), QStringLiteral("javascript.js"));

    QTest::keyClicks(editor, QStringLiteral("lib.js"));
    QTest::keyClick(editor, Qt::Key_Return);
    turn();
    EXPECT_EQ(project->javascriptIncludes(), (QStringList{QStringLiteral("lib.js"), QStringLiteral("javascript.js")}));
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("lib.js"));

    // A cleared row is removed.
    table->item(1, 0)->setText(QString());
    turn();
    EXPECT_EQ(project->javascriptIncludes(), QStringList{QStringLiteral("lib.js")});
    EXPECT_EQ(table->rowCount(), 1);

    project->setJavascriptIncludes({QStringLiteral("a.js"), QStringLiteral("b.js"), QStringLiteral("c.js")});
    EXPECT_EQ(table->rowCount(), 3);
    // The first row dropped below the second: they swap.
    const QRect second = table->visualItemRect(table->item(1, 0));
    EXPECT_TRUE(dragRow(*pane, table, 0, QPoint(second.center().x(), second.bottom() - 1)));
    EXPECT_EQ(project->javascriptIncludes(), (QStringList{QStringLiteral("b.js"), QStringLiteral("a.js"), QStringLiteral("c.js")}));
    // The last row dropped above the first.
    const QRect first = table->visualItemRect(table->item(0, 0));
    EXPECT_TRUE(dragRow(*pane, table, 2, QPoint(first.center().x(), first.top() + 1)));
    EXPECT_EQ(project->javascriptIncludes(), (QStringList{QStringLiteral("c.js"), QStringLiteral("b.js"), QStringLiteral("a.js")}));
    // Onto a row, or from the other list: refused.
    EXPECT_FALSE(dragRow(*pane, table, 0, table->visualItemRect(table->item(1, 0)).center()));
    std::unique_ptr<QMimeData> cssRows(pane->writeRows(pane->cssIncludesTableView(), {0}));
    EXPECT_FALSE(pane->acceptDrop(table, cssRows.get(), 2, KRProjectSettingsViewController::DropOperation::Above));
    EXPECT_EQ(project->javascriptIncludes(), (QStringList{QStringLiteral("c.js"), QStringLiteral("b.js"), QStringLiteral("a.js")}));
    turn();

    // Remove: nothing without a selection, else the selected row.
    table->clearSelection();
    pane->removeJavascriptIncludeAction();
    EXPECT_EQ(project->javascriptIncludes().size(), 3);
    table->selectRow(1);
    QTest::mouseClick(pane->view()->findChild<QPushButton *>(QStringLiteral("javascriptIncludesRemoveButton")), Qt::LeftButton);
    turn();
    EXPECT_EQ(project->javascriptIncludes(), (QStringList{QStringLiteral("c.js"), QStringLiteral("a.js")}));
    undo().undo();
    turn();
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("b.js"));

    // The CSS list is the same with its own name.
    QTest::mouseClick(pane->cssIncludesAddButton(), Qt::LeftButton);
    turn();
    EXPECT_EQ(project->cssIncludes(), QStringList{QStringLiteral("style.css")});
}

TEST_F(SettingsPane, BoundSettingsWriteTheProjectAndFollowUndo)
{
    open(QStringLiteral("JQMVersion=\"1.4\" startPage=\"home\""));
    auto *sitemap = child<QCheckBox>("sitemapCheckBox");
    QTest::mouseClick(sitemap, Qt::LeftButton);
    turn();
    EXPECT_TRUE(project->sitemap());
    undo().undo();
    turn();
    EXPECT_FALSE(project->sitemap());
    EXPECT_FALSE(sitemap->isChecked());

    auto *hosted = child<QRadioButton>("exportJQueryHostedRadio");
    auto *local = child<QRadioButton>("exportJQueryLocalRadio");
    EXPECT_TRUE(hosted->isChecked());
    QTest::mouseClick(local, Qt::LeftButton);
    turn();
    EXPECT_TRUE(project->exportLocalJQuerySources());
    EXPECT_FALSE(hosted->isChecked());
    undo().undo();
    turn();
    EXPECT_FALSE(project->exportLocalJQuerySources());
    EXPECT_TRUE(hosted->isChecked());

    auto *icon = child<QLineEdit>("homescreenIconField");
    icon->setFocus();
    QTest::keyClicks(icon, QStringLiteral("icon.png"));
    QTest::keyClick(icon, Qt::Key_Return);
    turn();
    EXPECT_EQ(project->appleTouchIcon(), QStringLiteral("icon.png"));

    // Pop-ups show titles and store values.
    QComboBox *startPage = pane->startPagePopup();
    EXPECT_EQ(startPage->currentText(), QStringLiteral("home"));
    choose(startPage, startPage->findText(QStringLiteral("about")));
    EXPECT_EQ(project->startPage(), QStringLiteral("about"));
    EXPECT_EQ(titles(pane->defaultThemePopup()).first(), QStringLiteral("(default)"));
    EXPECT_EQ(pane->defaultThemePopup()->currentIndex(), 0);
    QComboBox *deploy = pane->singlePageDeployPopup();
    choose(deploy, 1);
    EXPECT_TRUE(project->singlePageDeploy());
    undo().undo();
    turn();
    EXPECT_FALSE(project->singlePageDeploy());
    EXPECT_EQ(deploy->currentIndex(), 0);
    EXPECT_EQ(titles(pane->jqmVersionPopup()), (QStringList{QStringLiteral("Version 1.4")}));
    EXPECT_EQ(pane->jqmVersionPopup()->currentIndex(), 0);
}

// Only the shipped release is offered: a project that names 1.3, or no version, shows none
// chosen and keeps what it names until the user picks 1.4.
TEST_F(SettingsPane, AnUnshippedVersionIsKeptUntilTheShippedOneIsChosen)
{
    for (const QString &settings : {QStringLiteral("JQMVersion=\"1.3\""), QStringLiteral("designTarget=\"iPhone\"")}) {
        SCOPED_TRACE(settings.toStdString());
        open(settings);
        QComboBox *version = pane->jqmVersionPopup();
        EXPECT_EQ(titles(version), (QStringList{QStringLiteral("Version 1.4")}));
        EXPECT_EQ(version->currentIndex(), -1);
        EXPECT_EQ(version->currentText(), QString());
        EXPECT_EQ(version->placeholderText(), QStringLiteral("Not shipped: runs on 1.4"));
        const QString before = project->projectSettingForKey(QStringLiteral("JQMVersion"));
        EXPECT_EQ(project->JQMVersion(), QStringLiteral("1.3"));
        turn();
        EXPECT_EQ(project->projectSettingForKey(QStringLiteral("JQMVersion")), before);
        choose(version, 0);
        EXPECT_EQ(version->currentIndex(), 0);
        EXPECT_EQ(project->JQMVersion(), QStringLiteral("1.4"));
        EXPECT_TRUE(project->unshippedJQMVersionNotice().isNull());
        EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    }
}

TEST_F(SettingsPane, ShownInAPopoverWithAHelpButtonPerSetting)
{
    open(QStringLiteral("JQMVersion=\"1.4\" designTarget=\"iPhone\""));
    project->setJavascriptIncludes({QStringLiteral("lib/jquery.cookie.js"), QStringLiteral("app.js")});
    project->setCssIncludes({QStringLiteral("style.css")});
    EXPECT_EQ(pane->helpButtonControllers().size(), 12u);

    QWidget anchor;
    anchor.resize(300, 60);
    anchor.show();
    KRPopover popover;
    popover.setBehavior(KRPopover::Behavior::Transient);
    pane->view()->hide();
    popover.setContentWidget(pane->view());
    popover.showRelativeToRect(anchor.rect(), &anchor, KRPopover::RightEdge);
    turn();
    const QImage shot = KRTest::saveScreenshot(popover, QStringLiteral("settings"), QStringLiteral("settings-popover.png"));
    EXPECT_FALSE(shot.isNull());
    // The include table draws its first entry: dark text pixels in the row, none below the rows.
    QTableWidget *table = pane->javascriptIncludesTableView();
    auto darkPixels = [&](const QRect &tableRect) {
        const QRect r(table->viewport()->mapTo(&popover, tableRect.topLeft()) * 2, tableRect.size() * 2);
        int dark = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                dark += shot.pixelColor(x, y).lightness() < 100;
        return dark;
    };
    const QRect firstRow = table->visualItemRect(table->item(0, 0));
    EXPECT_GT(darkPixels(firstRow), 20);
    EXPECT_EQ(darkPixels(firstRow.translated(0, 3 * firstRow.height())), 0);
    pane.reset(); // the pane deletes its view, which the pop-over holds
}

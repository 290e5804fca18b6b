// The project window without live pages (no web views): loading, commands, questions, key
// routing by focus, menu validation, saving and closing.
#include "WindowTestSupport.h"

#include "../../network/support/KRTestHTTPServer.h"

#include <KRWidgetTestSupport.h>

#include <builder/KRRuntimeServer.h>
#include <codeeditor/CETextView.h>
#include <ui/KRMainMenu.h>
#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <platform/appkit/KRColorPanel.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <workspace/palette/KRObjectBrowser.h>
#include <workspace/palette/KRPalettePane.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRPropertyPaneViewController.h>
#include <workspace/panes/KRTabPaneViewController.h>
#include <workspace/panes/KRTabPropertyGroupViewController.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QPointer>
#include <QTest>
#include <QToolBar>
#include <QDialog>

using namespace KRWindowTest;

namespace {

const QString kTwoPages = QStringLiteral(
    "<KRPage id=\"alpha\" title=\"Alpha\"><KRContents><KRLabel id=\"label1\" top=\"10\" left=\"10\">Hi</KRLabel></KRContents></KRPage>"
    "<KRPage id=\"beta\" title=\"Beta\"><KRContents/></KRPage>");

class ProjectWindow : public ::testing::Test
{
protected:
    void TearDown() override
    {
        KRProjectWindows::closeAll();
        KRWindowController::setImportPathChooser({});
        KRWindowController::setExportFolderChooser({});
        KRWindowController::setSavePathChooser({});
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSCheckSyntax"));
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("SuppressExportWarning"));
    }

    QAction *command(const char *identifier) { return KRMainMenu::shared().action(QString::fromLatin1(identifier)); }
    // What the window's status line says.
    static QString status(KRWindowController *controller)
    {
        auto *line = controller->projectWindow()->findChild<QLabel *>(QStringLiteral("statusLine"));
        return line && line->isVisible() ? line->text() : QStringLiteral("(no status line)");
    }
};

} // namespace

// A start-page setting that names no page opens the first page; a valid one opens that page.
// Once loaded the overlay is gone; the Run item offers no dead external entry; the settings
// pop-over opens one at a time.
TEST_F(ProjectWindow, OpensOnTheStartPageOrTheFirstReadyWithItsCommands)
{
    KRWindowController *fallback = open(writePackage(QStringLiteral("Fallback"), kTwoPages, QStringLiteral("startPage=\"gone\"")));
    ASSERT_TRUE(fallback);
    EXPECT_EQ(fallback->currentPage()->kr_id(), QStringLiteral("alpha"));
    KRWindowController *start = open(writePackage(QStringLiteral("Start"), kTwoPages, QStringLiteral("startPage=\"beta\"")));
    ASSERT_TRUE(start);
    EXPECT_EQ(start->currentPage()->kr_id(), QStringLiteral("beta"));

    KRWindow *window = start->projectWindow();
    EXPECT_FALSE(start->loadingView()->isVisible());
    auto *runMenu = window->findChild<QMenu *>(QStringLiteral("runMenu"));
    ASSERT_TRUE(runMenu);
    QStringList runEntries;
    for (QAction *entry : runMenu->actions())
        runEntries << entry->text();
    EXPECT_EQ(runEntries, (QStringList{QStringLiteral("Run in Device Preview"), QStringLiteral("Run in Browser")}));

    // The settings pop-over opens beside the outline's header, one at a time.
    start->projectSettingsAction();
    QPointer<KRPopover> settings = start->popover();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_EQ(settings->contentWidget()->objectName(), QStringLiteral("projectSettingsView"));
    start->projectSettingsAction();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return settings.isNull(); }));
    EXPECT_TRUE(start->popover());

    // A second open of the same package brings its window forward instead of a second one.
    EXPECT_EQ(open(start->document().fileURL()), start);
    EXPECT_EQ(KRProjectWindows::openWindows().size(), 2);
}

// With the check switched on and no local server, the build neither passes silently nor
// builds without asking: "Cancel" builds nothing, "Build Anyway" builds. A server that stops a
// check at its time limit is no absent server: the question says that the check ran out of time.
TEST_F(ProjectWindow, BuildAsksWhenTheSyntaxCheckCannotRun)
{
    KRWindowController *controller = open(writePackage(
        QStringLiteral("Check"),
        QStringLiteral("<KRPage id=\"alpha\" onshow=\"shown\"><KRContents><KRFunction id=\"shown\">var a = 1;"
                       "</KRFunction></KRContents></KRPage>")));
    ASSERT_TRUE(controller);
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSCheckSyntax"), true);
    KRTestHTTPServer server;
    ASSERT_TRUE(server.start());
    server.route("/__kr_check_syntax", [](const KRTestRequest &) {
        return KRTestResponse::text(R"({"error": "The syntax check took longer than 20 s", "timedOut": true})", 503,
                                    "application/json");
    });
    const auto previousProvider = KRRuntimeServer::setPortProvider([&server] { return qint64(server.port()); });
    ScriptedAlerts alerts;
    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_FALSE(controller->buildProject(KRWindowController::FollowUp::None));
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("Unable to perform syntax check"));
    EXPECT_TRUE(alerts->shownAlerts().first().informativeText.startsWith(QStringLiteral("The syntax check ran out of time")))
        << alerts->shownAlerts().first().informativeText.toStdString();
    EXPECT_GE(server.requestCount(), 1);
    EXPECT_EQ(status(controller), QStringLiteral("Build cancelled."));
    alerts->clear();

    KRRuntimeServer::setPortProvider({});
    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_FALSE(controller->buildProject(KRWindowController::FollowUp::None));
    EXPECT_EQ(alerts.messages(), QStringList{QStringLiteral("Unable to perform syntax check")});
    EXPECT_TRUE(alerts->shownAlerts().first().informativeText.contains(QStringLiteral("local server is not available")));
    EXPECT_TRUE(controller->builtProjectIndex().isEmpty());
    EXPECT_EQ(status(controller), QStringLiteral("Build cancelled."));

    // The window says that the build is done, which build it was, when and where its output is.
    alerts->scriptButton(QStringLiteral("Build Anyway"));
    EXPECT_TRUE(controller->buildProject(KRWindowController::FollowUp::None));
    EXPECT_TRUE(QFileInfo::exists(controller->builtProjectIndex())) << controller->builtProjectIndex().toStdString();
    const QRegularExpression finished(QStringLiteral("^Build 1 finished at \\d\\d:\\d\\d:\\d\\d in \\d+\\.\\d\\d s: ")
                                      + QRegularExpression::escape(QFileInfo(controller->builtProjectIndex()).absolutePath())
                                      + QLatin1Char('$'));
    EXPECT_TRUE(finished.match(status(controller)).hasMatch()) << status(controller).toStdString();
    EXPECT_EQ(QFileInfo(controller->builtProjectIndex()).absolutePath(), QFileInfo(controller->document().fileURL() + QStringLiteral("/kr-web")).absoluteFilePath());
    KRRuntimeServer::setPortProvider(previousProvider);
}

// The server-script warning: a ticked box with "Cancel" stores the suppression and exports
// nothing; the next export asks no more and goes to the folder chooser.
TEST_F(ProjectWindow, ExportWarningSuppressedWithCancelExportsNothingThenStopsAsking)
{
    KRWindowController *controller = open(writePackage(
        QStringLiteral("Server"),
        QStringLiteral("<KRPage id=\"home\" onGET=\"serve\"><KRContents><KRFunction id=\"serve\"/></KRContents></KRPage>")));
    ASSERT_TRUE(controller);
    ASSERT_TRUE(controller->krProject()->serverScriptsEnabled());
    int chooserCalls = 0;
    const QString target = KRTest::makeTempDir(QStringLiteral("export"));
    KRWindowController::setExportFolderChooser([&](QWidget *) {
        ++chooserCalls;
        return QStringList{target};
    });
    ScriptedAlerts alerts;
    alerts->scriptSuppressionChecked(true);
    alerts->scriptButton(QStringLiteral("Cancel"));
    controller->exportProjectAction();
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    const KRAlert &warning = alerts->shownAlerts().first();
    EXPECT_EQ(warning.messageText, QStringLiteral("Exporting projects with server-side scripting"));
    EXPECT_TRUE(warning.informativeText.contains(QStringLiteral("hosting service.  The onGET()")));
    EXPECT_EQ(warning.suppressionButtonTitle, QStringLiteral("Do not show this message again."));
    EXPECT_TRUE(KRUserDefaults::sharedInstance().boolValue(QStringLiteral("SuppressExportWarning")));
    EXPECT_EQ(chooserCalls, 0);

    alerts->clear();
    controller->exportProjectAction();
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_FALSE(alerts.messages().contains(QStringLiteral("Exporting projects with server-side scripting")));
    EXPECT_TRUE(QFileInfo::exists(target + QStringLiteral("/home.html")));
    EXPECT_EQ(status(controller), QStringLiteral("Exported to ") + target);

    // An export that stops says so: here the folder is the project's own web folder.
    const QString webFolder = QFileInfo(controller->document().fileURL() + QStringLiteral("/kr-web")).absoluteFilePath();
    KRWindowController::setExportFolderChooser([&](QWidget *) { return QStringList{webFolder}; });
    controller->exportProjectAction();
    EXPECT_EQ(status(controller), QStringLiteral("Export to %1 did not finish.").arg(webFolder));
}

// Files up to 1,000,000 bytes come in without a question; a larger one and a folder ask
// (the folder never about its size), and "Skip" leaves it out.
TEST_F(ProjectWindow, ImportAsksForFoldersAndFilesOverAMillionBytes)
{
    KRWindowController *controller = open(writePackage(QStringLiteral("Import"), kTwoPages));
    ASSERT_TRUE(controller);
    const QString source = KRTest::makeTempDir(QStringLiteral("import"));
    KRTest::writeFile(source + QStringLiteral("/exact.bin"), QByteArray(1000000, 'a'));
    KRTest::writeFile(source + QStringLiteral("/over.bin"), QByteArray(1000001, 'b'));
    KRTest::writeFile(source + QStringLiteral("/folder/big.bin"), QByteArray(3000000, 'c'));
    ScriptedAlerts alerts;
    alerts->scriptButton(QStringLiteral("Skip"));  // over.bin
    alerts->scriptButton(QStringLiteral("Copy"));  // folder
    controller->addResources({source + QStringLiteral("/exact.bin"), source + QStringLiteral("/over.bin"),
                              source + QStringLiteral("/folder")});

    ASSERT_EQ(alerts->shownAlerts().size(), 2);
    const KRAlert &file = alerts->shownAlerts()[0];
    EXPECT_EQ(file.messageText, QStringLiteral("Import File"));
    EXPECT_EQ(file.informativeText,
              QStringLiteral("Import the file '%1/over.bin' (1.0MB) into this project?").arg(source));
    EXPECT_EQ(file.buttonTitles, (QStringList{QStringLiteral("Import"), QStringLiteral("Skip")}));
    const KRAlert &folder = alerts->shownAlerts()[1];
    EXPECT_EQ(folder.messageText, QStringLiteral("Import Folder"));
    EXPECT_EQ(folder.informativeText,
              QStringLiteral("Copy the contents of the folder '%1/folder' into this project?").arg(source));
    EXPECT_EQ(folder.buttonTitles, (QStringList{QStringLiteral("Copy"), QStringLiteral("Skip")}));

    const QString web = controller->document().fileURL() + QStringLiteral("/kr-web");
    EXPECT_TRUE(QFileInfo::exists(web + QStringLiteral("/exact.bin")));
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/over.bin")));
    EXPECT_TRUE(QFileInfo::exists(web + QStringLiteral("/folder/big.bin")) || QFileInfo::exists(web + QStringLiteral("/big.bin")));
}

// The only page cannot be deleted (no question); with two pages the question names the page,
// "Cancel" keeps it, "Delete Page" deletes it undoably and shows the first page.
TEST_F(ProjectWindow, DeletingPagesAsksAndIgnoresTheOnlyPage)
{
    KRWindowController *single = open(writePackage(QStringLiteral("Single"), QStringLiteral("<KRPage id=\"only\"><KRContents/></KRPage>")));
    ASSERT_TRUE(single);
    ScriptedAlerts alerts;
    single->deletePage(single->currentPage());
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(single->krProject()->krPages().size(), 1);

    KRWindowController *controller = open(writePackage(QStringLiteral("Pages"), kTwoPages, QStringLiteral("startPage=\"beta\"")));
    ASSERT_TRUE(controller);
    std::shared_ptr<KRPage> beta = controller->currentPage();
    alerts->scriptButton(QStringLiteral("Cancel"));
    controller->deletePage(beta);
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts()[0].messageText, QStringLiteral("Delete Page"));
    EXPECT_EQ(alerts->shownAlerts()[0].informativeText,
              QStringLiteral("Do you want to delete the page \"beta\" from this project?"));
    EXPECT_EQ(controller->krProject()->krPages().size(), 2);

    alerts->scriptButton(QStringLiteral("Delete Page"));
    controller->deletePage(beta);
    EXPECT_EQ(controller->krProject()->krPages().size(), 1);
    EXPECT_EQ(controller->currentPage()->kr_id(), QStringLiteral("alpha"));
    controller->document().undoManager().undo();
    EXPECT_EQ(controller->krProject()->krPages().size(), 2);
}

// Grid items: "Show Grid" is off while the grid is 0 and shows the project's state; "None" is
// chosen below 2; a size item sets the grid from its title and is the only one chosen. Import
// is for saved projects only; Undo names the step.
TEST_F(ProjectWindow, MenuValidationFollowsTheGridTheDocumentAndTheUndoStack)
{
    KRWindowController *controller = open(writePackage(QStringLiteral("Grid"), kTwoPages, QStringLiteral("snapGrid=\"0\"")));
    ASSERT_TRUE(controller);
    activate(controller->projectWindow());
    KRMainMenu &menu = KRMainMenu::shared();
    std::shared_ptr<KRProject> project = controller->krProject();

    menu.validate();
    EXPECT_FALSE(command("showGrid")->isEnabled());
    EXPECT_TRUE(command("snapGridNone")->isChecked());
    EXPECT_TRUE(command("importResource")->isEnabled());

    project->setSnapGrid(1);
    menu.validate();
    EXPECT_TRUE(command("showGrid")->isEnabled());
    EXPECT_TRUE(command("snapGridNone")->isChecked());

    command("snapGrid10")->trigger();
    EXPECT_EQ(project->snapGrid(), 10);
    EXPECT_TRUE(command("snapGrid10")->isChecked());
    EXPECT_FALSE(command("snapGrid5")->isChecked());
    EXPECT_FALSE(command("snapGridNone")->isChecked());

    const bool shown = project->showGrid();
    command("showGrid")->trigger();
    EXPECT_EQ(project->showGrid(), !shown);
    EXPECT_EQ(command("showGrid")->isChecked(), !shown);
    EXPECT_TRUE(command("undo")->isEnabled());
    EXPECT_TRUE(command("undo")->text().startsWith(QStringLiteral("Undo")));

    command("snapGridNone")->trigger();
    EXPECT_EQ(project->snapGrid(), 0);
    EXPECT_FALSE(command("showGrid")->isEnabled());
    EXPECT_FALSE(command("alignLeft")->isEnabled()) << "nothing selected on a design surface";
}

// Keys act once, where the focus is: Ctrl+V in a text field pastes once (no second paste
// through the menu's shortcut); an arrow key there moves the text cursor and is not taken for
// page objects; the menu's edit commands reach the text.
TEST_F(ProjectWindow, KeysActOnceWhereTheFocusIs)
{
    KRWindowController *controller = open(writePackage(QStringLiteral("Keys"), kTwoPages));
    ASSERT_TRUE(controller);
    KRWindow *window = controller->projectWindow();
    activate(window);
    auto *field = new QLineEdit;
    controller->toolbar()->addWidget(field);
    field->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return field->hasFocus(); }));
    KRMainMenu::shared().validate();

    QApplication::clipboard()->setText(QStringLiteral("xyz"));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("xyz"));
    command("paste")->trigger();
    EXPECT_EQ(field->text(), QStringLiteral("xyzxyz")) << "the menu's Paste reaches the field";

    field->setCursorPosition(3);
    QTest::keyClick(field, Qt::Key_Left);
    EXPECT_EQ(field->cursorPosition(), 2);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), QStringLiteral("xyzxyz"));
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("xyzxyz"));
    EXPECT_TRUE(field->text().isEmpty());

    // The menu's Delete with the focus in a text deletes the selected text.
    field->setText(QStringLiteral("abc"));
    field->setSelection(1, 1);
    KRMainMenu::shared().validate();
    ASSERT_TRUE(command("delete")->isEnabled());
    command("delete")->trigger();
    EXPECT_EQ(field->text(), QStringLiteral("ac"));
}

// A press anywhere in the window puts the colour panel away; one in the panel itself leaves it.
TEST_F(ProjectWindow, APressInTheWindowPutsTheColourPanelAway)
{
    KRWindowController *controller = open(writePackage(QStringLiteral("Colours"), kTwoPages));
    ASSERT_TRUE(controller);
    KRWindow *window = controller->projectWindow();
    activate(window);
    auto *field = new QLineEdit;
    controller->toolbar()->addWidget(field);
    KRColorPanel &panel = KRColorPanel::shared();
    panel.orderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QTest::mouseClick(panel.htmlColorList()->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(panel.isVisible()) << "pressed in the panel";
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_FALSE(panel.isVisible()) << "pressed in the window";
    QTest::mouseClick(field, Qt::LeftButton);
    EXPECT_FALSE(panel.isVisible());
}

// The window's menu shortcuts work from an inspector field, also where the field would take
// the key for itself (the X11 key scheme makes Ctrl+E "end of line" and Ctrl+K "delete to
// the end" in every line edit): the field's pending edit is committed first, the command
// runs, and the keys the field edits with stay the field's.
TEST_F(ProjectWindow, MenuShortcutsWorkFromAnInspectorField)
{
    KRWindowController *controller = open(writePackage(QStringLiteral("Shortcuts"), kTwoPages));
    ASSERT_TRUE(controller);
    activate(controller->projectWindow());
    QLineEdit *title = nullptr;
    for (QLineEdit *field : controller->projectWindow()->findChildren<QLineEdit *>(QStringLiteral("textField")))
        if (field->text() == QLatin1String("Alpha") && field->isVisible())
            title = field;
    ASSERT_NE(title, nullptr) << "the page's title row";
    // What a line edit does under the X11 key scheme: it claims Ctrl+E and Ctrl+B.
    struct ClaimsKeys : QObject {
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() != QEvent::ShortcutOverride)
                return false;
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->modifiers() == Qt::ControlModifier && (key->key() == Qt::Key_E || key->key() == Qt::Key_B))
                event->accept();
            return false;
        }
    } claims;
    title->installEventFilter(&claims);
    const QString target = KRTest::makeTempDir(QStringLiteral("exported"));
    int chooserCalls = 0;
    KRWindowController::setExportFolderChooser([&](QWidget *) {
        ++chooserCalls;
        return QStringList{target};
    });

    title->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return title->hasFocus(); }));
    title->selectAll();
    QTest::keyClicks(title, QStringLiteral("Welcome"));
    QTest::keyClick(title, Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(chooserCalls, 1) << "Ctrl+E exported";
    EXPECT_EQ(controller->currentPage()->value(QStringLiteral("kr_title")), QStringLiteral("Welcome"))
        << "the pending edit went into the model first";
    QFile exported(target + QStringLiteral("/alpha.html"));
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_TRUE(exported.readAll().contains("Welcome"));

    ASSERT_TRUE(KRTest::processEventsUntil([&] { return title->hasFocus(); }));
    QTest::keyClick(title, Qt::Key_B, Qt::ControlModifier);
    // The build runs beside the window; its end is shown when it has finished.
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !controller->builtProjectIndex().isEmpty(); }))
        << "Ctrl+B built";
    // What follows is no longer typed into the field in place of the command.
    EXPECT_EQ(title->text(), QStringLiteral("Welcome"));

    // Select All and Copy stay the field's.
    QTest::keyClick(title, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(title, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("Welcome"));
    title->removeEventFilter(&claims);
}

// With the focus in the object browser the Edit menu is enabled exactly where it acts, on the
// object chosen there: Cut takes the label away; then the page is chosen, there is nothing to
// cut or delete, and Paste puts the label back on the page and chooses it. Select All (which
// the browser has not) is never offered there.
TEST_F(ProjectWindow, EditCommandsInTheObjectBrowserActWhereTheyAreEnabled)
{
    KRWindowController *controller = open(writePackage(QStringLiteral("Browser"), kTwoPages));
    ASSERT_TRUE(controller);
    activate(controller->projectWindow());
    KRTabPaneViewController *tabs =
        controller->masterTabPaneViewController()->currentTabPropertyGroupViewController()->tabPaneViewController();
    tabs->selectObjectView();
    KRObjectBrowser *browser = tabs->objectViewController();
    ASSERT_TRUE(browser);
    QListView *list = browser->isShowingIcons() ? browser->iconView() : browser->listView();
    list->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return list->hasFocus(); })) << list->isVisible();
    const std::shared_ptr<KRPage> page = controller->currentPage();
    const auto enabled = [&](const char *identifier) {
        KRMainMenu::shared().validate();
        return command(identifier)->isEnabled();
    };

    // An object chosen in the inspector's list of the page's objects: the keyboard comes back
    // to the browser, where the commands act on it. An arrow on the closed list only steps to
    // the next object: the keyboard stays on the list (where the next arrow steps on, and does
    // not move the object); Return in the open list chooses.
    KRPropertyPaneViewController *inspector =
        controller->masterTabPaneViewController()->currentTabPropertyGroupViewController()->propertyPaneViewController();
    QComboBox *objects = inspector->popupButton();
    objects->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return objects->hasFocus(); }));
    EXPECT_FALSE(enabled("copy"));
    const int label1 = objects->findText(QStringLiteral("label1"));
    ASSERT_EQ(label1, objects->currentIndex() + 1);
    QTest::keyClick(objects, Qt::Key_Down);
    EXPECT_EQ(tabs->selectedObject(), page->objectForID(QStringLiteral("label1")));
    EXPECT_TRUE(objects->hasFocus());
    EXPECT_FALSE(list->hasFocus());
    objects->showPopup();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return objects->view()->isVisible(); }));
    QTest::keyClick(objects->view(), Qt::Key_Return);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return list->hasFocus(); }));
    EXPECT_EQ(tabs->selectedObject(), page->objectForID(QStringLiteral("label1")));
    EXPECT_TRUE(enabled("copy"));
    EXPECT_TRUE(enabled("delete"));
    EXPECT_FALSE(enabled("selectAll"));
    ASSERT_TRUE(enabled("cut"));
    command("cut")->trigger();
    EXPECT_FALSE(page->objectForID(QStringLiteral("label1")));

    tabs->selectObject(page);
    EXPECT_FALSE(enabled("cut"));
    EXPECT_FALSE(enabled("delete"));
    ASSERT_TRUE(enabled("paste"));
    command("paste")->trigger();
    const std::shared_ptr<KRObject> pasted = page->objectForID(QStringLiteral("label1"));
    ASSERT_TRUE(pasted);
    EXPECT_EQ(tabs->selectedObject(), pasted);
    EXPECT_EQ(browser->selectedObject(), pasted);
    KRMainMenu::shared().validate();
    EXPECT_EQ(command("undo")->text(), QStringLiteral("Undo Paste"));
}

// Unsaved changes, edited resources included, are asked about: "Cancel" keeps the window,
// "Don't Save" closes it; Revert goes back to the saved package; saved edits come back when
// the project is opened again.
TEST_F(ProjectWindow, ClosingAsksAboutUnsavedChangesAndSavedEditsComeBack)
{
    const QString path = writePackage(QStringLiteral("Dirty"), kTwoPages);
    KRWindowController *controller = open(path);
    ASSERT_TRUE(controller);
    EXPECT_FALSE(controller->hasUnsavedChanges());
    controller->krProject()->modifiedResourceCache().insert(QStringLiteral("app.css"), QByteArray("body{}"));
    EXPECT_TRUE(controller->hasUnsavedChanges());
    controller->krProject()->modifiedResourceCache().clear();

    controller->createPageAction();
    ASSERT_EQ(controller->krProject()->krPages().size(), 3);
    ScriptedAlerts alerts;
    alerts->scriptButton(QStringLiteral("Cancel"));
    QSignalSpy closed(controller, &KRWindowController::windowDidClose);
    controller->projectWindow()->close();
    EXPECT_EQ(alerts.messages(), QStringList{QStringLiteral("Do you want to save the changes made to the document “Dirty”?")});
    EXPECT_TRUE(controller->projectWindow()->isVisible());
    EXPECT_EQ(closed.count(), 0);

    EXPECT_TRUE(controller->saveDocument());
    EXPECT_FALSE(controller->hasUnsavedChanges());

    // Revert reads the saved package into a fresh window in place of this one.
    controller->createPageAction();
    alerts->scriptButton(QStringLiteral("Revert"));
    controller->revertDocumentToSaved();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return KRProjectWindows::openWindows().size() == 1
                                                        && KRProjectWindows::openWindows().first() != controller; }));
    controller = KRProjectWindows::openWindows().first();
    EXPECT_EQ(controller->krProject()->krPages().size(), 3);
    EXPECT_FALSE(controller->hasUnsavedChanges());
    QSignalSpy closedAfterRevert(controller, &KRWindowController::windowDidClose);

    controller->createPageAction();
    alerts->scriptButton(QStringLiteral("Don’t Save"));
    controller->projectWindow()->close();
    EXPECT_EQ(closedAfterRevert.count(), 1);
    ASSERT_TRUE(KRTest::processEventsUntil([] { return KRProjectWindows::openWindows().isEmpty(); }));

    KRWindowController *again = open(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->krProject()->krPages().size(), 3) << "the saved page is there, the unsaved one is not";
}

// The text commands are in a Text menu after Edit and find is in Edit. They are enabled only
// while an editor has the focus (the ones that work on a selection only with one), and their
// shortcuts reach the focused editor.
TEST_F(ProjectWindow, TextMenuCommandsActOnTheFocusedEditor)
{
    const QString path = writePackage(QStringLiteral("Text"), kTwoPages);
    KRTest::writeFile(path + QStringLiteral("/kr-web/app.js"), "a();\nb();\n");
    KRWindowController *controller = open(path);
    ASSERT_TRUE(controller);
    KRWindow *window = controller->projectWindow();
    activate(window);
    KRMainMenu &menu = KRMainMenu::shared();
    const QStringList titles = menu.menuTitles();
    ASSERT_TRUE(titles.contains(QStringLiteral("Text"))) << titles.join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(titles.indexOf(QStringLiteral("Text")), titles.indexOf(QStringLiteral("Edit")) + 1);

    std::shared_ptr<KRProjectResource> script;
    for (const auto &resource : controller->krProject()->resources())
        if (resource->name() == QStringLiteral("app.js"))
            script = resource;
    ASSERT_TRUE(script);
    controller->editResource(script);
    CETextView *view = nullptr;
    for (CETextView *candidate : window->findChildren<CETextView *>())
        if (candidate->isVisible() && candidate->text() == QStringLiteral("a();\nb();\n"))
            view = candidate;
    ASSERT_TRUE(view);

    auto *field = new QLineEdit;
    controller->toolbar()->addWidget(field);
    field->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return field->hasFocus(); }));
    menu.validate();
    for (const char *identifier : {"shiftRight", "shiftLeft", "commentOrUncomment", "goToLine", "closeTag", "find", "findNext"}) {
        ASSERT_TRUE(command(identifier)) << identifier;
        EXPECT_FALSE(command(identifier)->isEnabled()) << identifier << " without an editor";
    }

    view->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view->hasFocus(); }));
    view->setSelectedRange({0, 0});
    menu.validate();
    EXPECT_TRUE(command("shiftRight")->isEnabled());
    EXPECT_TRUE(command("commentOrUncomment")->isEnabled()) << "scripts have a line comment token";
    EXPECT_FALSE(command("toUppercase")->isEnabled()) << "nothing selected";
    view->setSelectedRange({0, 9});
    menu.validate();
    ASSERT_TRUE(command("toUppercase")->isEnabled());
    command("toUppercase")->trigger();
    EXPECT_EQ(view->text(), QStringLiteral("A();\nB();\n"));

    view->setSelectedRange({0, 9});
    QTest::keyClick(view, Qt::Key_BracketRight, Qt::ControlModifier);
    EXPECT_EQ(view->text(), QStringLiteral("\tA();\n\tB();\n"));
    QTest::keyClick(view, Qt::Key_BracketLeft, Qt::ControlModifier);
    EXPECT_EQ(view->text(), QStringLiteral("A();\nB();\n"));
    view->setSelectedRange({0, 9});
    QTest::keyClick(view, Qt::Key_Slash, Qt::ControlModifier);
    EXPECT_EQ(view->text(), QStringLiteral("//A();\n//B();\n"));
    QTest::keyClick(view, Qt::Key_Slash, Qt::ControlModifier);
    EXPECT_EQ(view->text(), QStringLiteral("A();\nB();\n"));

    view->setSelectedRange({0, 0});
    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    auto *bar = window->findChild<QWidget *>(QStringLiteral("CEFindBar"));
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->isVisible());
    auto *findField = bar->findChild<QLineEdit *>(QStringLiteral("findField"));
    ASSERT_TRUE(findField);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return findField->hasFocus(); }));
    QTest::keyClicks(findField, QStringLiteral("()"));
    QTest::keyClick(findField, Qt::Key_F3);
    EXPECT_EQ(view->selectedRange(), (CERange{1, 2}));
    QTest::keyClick(findField, Qt::Key_Escape);
    EXPECT_TRUE(view->hasFocus());

    QTest::keyClick(view, Qt::Key_G, Qt::ControlModifier);
    auto *goTo = window->findChild<QDialog *>(QStringLiteral("CEGoToLine"));
    ASSERT_TRUE(goTo);
    EXPECT_TRUE(goTo->isVisible());
    goTo->reject();
}

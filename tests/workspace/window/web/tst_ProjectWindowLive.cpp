// The project window with live pages: a person's session on the Showcase sample from the
// palette to the preview window, the run and build edge cases, and keys on the design surface.
#include "../WindowTestSupport.h"
#include "../../designview/DesignViewTestSupport.h"

#include <KRWebTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <builder/KRRuntimeServer.h>
#include <workspace/preview/KRDeviceBrowserWindowController.h>
#include <codeeditor/CETextView.h>
#include <ui/KRMainMenu.h>
#include <inspector/KRPropertyEditorItemViewController.h>
#include <inspector/KRPropertyEditorViewController.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <platform/webview/KRWebView.h>
#include <platform/webview/KRWebViewFactory.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/palette/KRPalettePane.h>
#include <workspace/panes/KRFunctionViewController.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRPropertyPaneViewController.h>
#include <workspace/panes/KRTabPaneViewController.h>
#include <workspace/panes/KRTabPropertyGroupViewController.h>
#include <workspace/panes/KRTabView.h>
#include <workspace/surface/KRDesignCanvas.h>

#include <QAction>
#include <QApplication>
#include <QDirIterator>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineView>

using namespace KRWindowTest;

namespace {

using std::chrono::seconds;

bool waitFor(const std::function<bool()> &condition)
{
    return KRTest::processEventsUntil(condition);
}

QVariant js(QWebEnginePage *page, const QString &script)
{
    return KRTest::evaluateScript(page, script);
}

QString copySample(const QString &name)
{
    const QString from = QStringLiteral(KR_SOURCE_DIR "/resources/samples/") + name + QStringLiteral(".krproj");
    const QString to = KRTest::makeTempDir(QStringLiteral("sample")) + QLatin1Char('/') + name + QStringLiteral(".krproj");
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::copy(file, target);
    }
    return to;
}

class ProjectWindowLive : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        prepare(false);
        s_serverRuns = KRDesignViewTest::startRuntimeServer();
        const qint64 port = KRDesignViewTest::runtimeServerPort();
        s_previousPortProvider = KRRuntimeServer::setPortProvider([port] { return port; });
        s_previousFactory = KRProject::setWebViewFactory(std::make_shared<KRWebViewFactory>());
    }
    static void TearDownTestSuite()
    {
        KRProjectWindows::closeAll();
        KRProject::setWebViewFactory(s_previousFactory);
        KRRuntimeServer::setPortProvider(s_previousPortProvider);
        KRDesignViewTest::stopRuntimeServer();
    }
    void SetUp() override
    {
        if (!s_serverRuns)
            GTEST_SKIP() << "the runtime server cannot run here (no node)";
    }
    void TearDown() override
    {
        KRProjectWindows::closeAll();
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSCheckSyntax"));
    }

    // Opens the package at the size given and shows the page's design tab, loaded.
    KRWindowController *openOnPage(const QString &package, const QString &pageID, QSize size = QSize(1280, 800))
    {
        KRWindowController *controller = open(package);
        if (!controller)
            return nullptr;
        controller->projectWindow()->resize(size);
        activate(controller->projectWindow());
        controller->selectPage(controller->krProject()->pageForID(pageID));
        EXPECT_TRUE(waitForDesign(controller)) << "the page did not load in its design view";
        return controller;
    }
    static KRTabPaneViewController *tabPane(KRWindowController *controller)
    {
        auto *group = controller->masterTabPaneViewController()->currentTabPropertyGroupViewController();
        return group ? group->tabPaneViewController() : nullptr;
    }
    static KRPageDesignView *live(KRWindowController *controller)
    {
        KRTabPaneViewController *pane = tabPane(controller);
        return pane && pane->designCanvas() ? pane->designCanvas()->designView() : nullptr;
    }
    static bool waitForDesign(KRWindowController *controller)
    {
        return waitFor([&] {
            KRPageDesignView *shown = live(controller);
            return shown && shown->isDesignDocumentLoaded() && controller->currentDesignViewController();
        });
    }
    static bool settle(KRWindowController *controller)
    {
        return waitFor([&] {
            KRPageDesignView *shown = live(controller);
            if (!shown)
                return false;
            shown->webView()->flush();
            return shown->webView()->isInStep() && !shown->isWaitingForSizes()
                   && controller->document().undoManager().groupingLevel() == 0;
        });
    }
    // Counts the clicks the shown page has from now on.
    static void countPageClicks(KRWindowController *controller)
    {
        js(live(controller)->webView()->page(),
           QStringLiteral("window.__krClicks = 0; document.addEventListener('click', function () { ++window.__krClicks; }, true); 0"));
    }
    // Waits until the page has had that many clicks and the window has heard all the page
    // said about them: a script queued behind them in the view's stream is acknowledged
    // through the bridge that carried them.
    static bool clicksHandled(KRWindowController *controller, int clicks)
    {
        KRWebView *view = live(controller)->webView();
        if (!waitFor([&] { return js(view->page(), QStringLiteral("window.__krClicks")).toInt() >= clicks; }))
            return false;
        view->evaluateScript(QStringLiteral("void 0"));
        return settle(controller);
    }
    // Drags a palette class onto the page at a page point, as the palette's drag delivers it.
    static std::shared_ptr<KRObject> dropFromPalette(KRWindowController *controller, const QString &className, QPoint at)
    {
        KRPaletteModel *model = controller->palettePane()->model();
        const int row = int(model->classNames().indexOf(className));
        EXPECT_GE(row, 0) << className.toStdString();
        std::unique_ptr<QMimeData> data(model->mimeData({model->index(row, 0)}));
        controller->palettePaneWillDragObject(className);
        QWidget *input = live(controller)->webView()->focusProxy();
        const double zoom = tabPane(controller)->designCanvas()->zoom();
        const QPoint point(qRound(at.x() * zoom), qRound(at.y() * zoom));
        QDragEnterEvent enter(point, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(input, &enter);
        QDropEvent drop(QPointF(point), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(input, &drop);
        settle(controller);
        const auto selected = controller->currentDesignViewController()->selectedObjects();
        return selected.isEmpty() ? nullptr : selected.first();
    }
    static KRPropertyEditorItemViewController *inspectorRow(KRWindowController *controller,
                                                           const std::shared_ptr<KRObject> &object, const QString &property)
    {
        auto *group = controller->masterTabPaneViewController()->currentTabPropertyGroupViewController();
        KRPropertyEditorViewController *inspector =
            group->propertyPaneViewController()->propertyEditorViewControllerForObject(object);
        if (!inspector)
            return nullptr;
        for (const auto &row : inspector->propertyEditorItems())
            if (row->propertyName() == property)
                return row.get();
        return nullptr;
    }
    QAction *command(const char *identifier) { return KRMainMenu::shared().action(QString::fromLatin1(identifier)); }

    static inline bool s_serverRuns = false;
    static inline KRRuntimeServer::PortProvider s_previousPortProvider;
    static inline std::shared_ptr<KRWebViewCacheViewFactory> s_previousFactory;
};

} // namespace

// A person's session: the Showcase sample opened, a label and a button dropped from the
// palette on the second page, an onClick handler that changes the label, the button's text
// set in the inspector, undone and redone; saved, closed and opened again with everything
// there; built and run in the preview window, where a click on the button changes the label.
TEST_F(ProjectWindowLive, ShowcaseSessionFromThePaletteToThePreview)
{
    const QString package = copySample(QStringLiteral("Showcase"));
    KRWindowController *controller = openOnPage(package, QStringLiteral("forms"));
    ASSERT_TRUE(controller);
    ASSERT_EQ(controller->currentPage()->kr_id(), QStringLiteral("forms"));

    // The whole window as a person sees it, at two screen sizes.
    for (const QSize size : {QSize(1280, 800), QSize(1920, 1080)}) {
        controller->projectWindow()->resize(size);
        settle(controller);
        EXPECT_TRUE(KRTest::framesDrawn(live(controller)->webView()));
        const QImage shot = controller->projectWindow()->grab().toImage();
        const QString path = KRTest::artifactsDir(QStringLiteral("window"))
                             + QStringLiteral("/project-window-showcase-%1x%2.png").arg(size.width()).arg(size.height());
        EXPECT_TRUE(shot.save(path)) << path.toStdString();
        // Nothing is squeezed: the outline, the palette and the page group all have room.
        EXPECT_GE(controller->projectPaneContainerView()->width(), 180);
        EXPECT_GE(controller->palettePaneContainerView()->width(), 200);
        EXPECT_GE(controller->masterTabPaneContainerView()->width(), 600);
    }
    controller->projectWindow()->resize(1280, 800);
    settle(controller);

    std::shared_ptr<KRObject> label = dropFromPalette(controller, QStringLiteral("KRLabel"), QPoint(20, 620));
    ASSERT_TRUE(label);
    ASSERT_EQ(label->kr_className(), QStringLiteral("KRLabel"));
    std::shared_ptr<KRObject> button = dropFromPalette(controller, QStringLiteral("JQMButton"), QPoint(20, 560));
    ASSERT_TRUE(button);
    ASSERT_EQ(button->kr_className(), QStringLiteral("JQMButton"));
    const QString labelID = label->kr_id();
    const QString buttonID = button->kr_id();

    // The handler: made from the inspector's event row, written in its editor.
    auto *onClick = dynamic_cast<KRPropertyEditorItemEventViewController *>(inspectorRow(controller, button, QStringLiteral("onClick")));
    ASSERT_TRUE(onClick);
    onClick->actionButton()->click();
    KRFunctionViewController *editor = nullptr;
    ASSERT_TRUE(waitFor([&] { return (editor = tabPane(controller)->selectedFunctionViewController()) != nullptr; }));
    const std::shared_ptr<KRFunction> handler = editor->function();
    ASSERT_TRUE(handler);
    EXPECT_EQ(button->value(QStringLiteral("kr_onClick")), handler->kr_id());
    editor->textView()->setFocus();
    QTest::keyClicks(editor->textView(), QStringLiteral("application._pages.forms.%1.setValue('Clicked');").arg(labelID));
    editor->saveContents();
    EXPECT_TRUE(handler->functionSource().contains(QStringLiteral("setValue('Clicked')")));

    // The button's text from the inspector, undone and redone.
    tabPane(controller)->selectDesignView();
    controller->currentDesignViewController()->selectObject(button);
    const QString before = button->value(QStringLiteral("kr_value"));
    KRPropertyEditorItemViewController *valueRow = inspectorRow(controller, button, QStringLiteral("value"));
    ASSERT_TRUE(valueRow);
    auto *field = valueRow->view()->findChild<QLineEdit *>();
    ASSERT_TRUE(field);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Press me"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_EQ(button->value(QStringLiteral("kr_value")), QStringLiteral("Press me"));
    KRMainMenu::shared().validate();
    command("undo")->trigger();
    EXPECT_EQ(button->value(QStringLiteral("kr_value")), before);
    KRMainMenu::shared().validate();
    command("redo")->trigger();
    EXPECT_EQ(button->value(QStringLiteral("kr_value")), QStringLiteral("Press me"));

    // Saved, closed, opened again: everything is there.
    ASSERT_TRUE(controller->saveDocument());
    KRProjectWindows::closeProject(controller);
    controller = open(package);
    ASSERT_TRUE(controller);
    activate(controller->projectWindow());
    std::shared_ptr<KRPage> forms = controller->krProject()->pageForID(QStringLiteral("forms"));
    ASSERT_TRUE(forms);
    ASSERT_TRUE(forms->objectForID(buttonID));
    ASSERT_TRUE(forms->objectForID(labelID));
    EXPECT_EQ(forms->objectForID(buttonID)->value(QStringLiteral("kr_value")), QStringLiteral("Press me"));
    EXPECT_EQ(forms->objectForID(buttonID)->value(QStringLiteral("kr_onClick")), handler->kr_id());
    auto reopenedHandler = std::dynamic_pointer_cast<KRFunction>(forms->objectForID(handler->kr_id()));
    ASSERT_TRUE(reopenedHandler);
    EXPECT_TRUE(reopenedHandler->functionSource().contains(QStringLiteral("setValue('Clicked')")));

    // Built (with the syntax check) and run in the preview window.
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSCheckSyntax"), true);
    ScriptedAlerts alerts;
    command("run")->trigger();
    // The build runs beside the window; the preview follows once it has finished.
    ASSERT_TRUE(waitFor([&] { return !controller->isBuilding(); }));
    EXPECT_TRUE(alerts->shownAlerts().isEmpty()) << alerts.messages().join(QStringLiteral("; ")).toStdString();
    KRDeviceBrowserWindowController *preview = controller->deviceBrowserWindowController();
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->mode(), 0);
    EXPECT_EQ(preview->indexFilePath(), controller->builtProjectIndex());
    // The preview has its view from the run on, and shows the page once its own server runs.
    ASSERT_TRUE(waitFor([&] { return preview->webView() != nullptr; }));
    QWebEngineView *view = preview->webView();
    QWebEnginePage *page = view->page();
    ASSERT_TRUE(waitFor([&] { return js(page, QStringLiteral("!!(window.$ && $.mobile && $.mobile.activePage)")).toBool(); }));
    js(page, QStringLiteral("$.mobile.changePage('forms.html')"));
    const QString buttonInput = QStringLiteral("#_forms_%1_inp").arg(buttonID);
    const QString labelElement = QStringLiteral("#forms_%1").arg(labelID);
    ASSERT_TRUE(waitFor([&] { return js(page, QStringLiteral("$('%1').length").arg(buttonInput)).toInt() > 0; }))
        << js(page, QStringLiteral("$('.ui-page-active').html()")).toString().left(2000).toStdString();
    ASSERT_TRUE(waitFor([&] { return js(page, QStringLiteral("$.mobile.activePage.attr('id')")).toString() == QStringLiteral("forms"); }));
    js(page, QStringLiteral("$('%1')[0].click()").arg(buttonInput));
    EXPECT_TRUE(waitFor([&] { return js(page, QStringLiteral("$('%1').text()").arg(labelElement)).toString().contains(QStringLiteral("Clicked")); }))
        << js(page, QStringLiteral("$('%1').text()").arg(labelElement)).toString().toStdString();
    js(page, QStringLiteral("$('%1')[0].scrollIntoView()").arg(labelElement));
    EXPECT_TRUE(KRTest::framesDrawn(view)); // the changed label drawn
    const QString previewShot = KRTest::artifactsDir(QStringLiteral("window")) + QStringLiteral("/preview-after-click.png");
    EXPECT_TRUE(view->grab().toImage().save(previewShot)) << previewShot.toStdString();
}

// Two runs share one preview window; once it is closed the next run makes a new one. The
// browser run uses mode 1 without a device. The design-tab command toggles; the news pop-over
// opens under its item.
TEST_F(ProjectWindowLive, RunsReuseOnePreviewWindowUntilItCloses)
{
    KRWindowController *controller = openOnPage(copySample(QStringLiteral("Showcase")), QStringLiteral("home"));
    ASSERT_TRUE(controller);
    ASSERT_TRUE(controller->buildProject(KRWindowController::FollowUp::Run));
    KRDeviceBrowserWindowController *first = controller->deviceBrowserWindowController();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->deviceID(), controller->krProject()->designTarget());
    ASSERT_TRUE(controller->buildProject(KRWindowController::FollowUp::RunDefaultBrowser));
    EXPECT_EQ(controller->deviceBrowserWindowController(), first);
    EXPECT_EQ(first->mode(), 1);

    // The design-tab command goes between the design tab and the tab shown before it.
    KRTabPaneViewController *tabs = tabPane(controller);
    tabs->selectObjectView();
    controller->selectDesignViewAction();
    EXPECT_TRUE(tabs->isDesignViewSelected());
    controller->selectDesignViewAction();
    EXPECT_EQ(tabs->tabView()->selectedIdentifier(), KRTabPaneViewController::ObjectsTabIdentifier);

    // The news pop-over hangs under the news item.
    controller->newsAction();
    ASSERT_TRUE(controller->popover());
    EXPECT_TRUE(controller->popover()->isVisible());
    EXPECT_EQ(controller->popover()->shownEdge(), KRPopover::BottomEdge);
    controller->popover()->close();

    QPointer<KRDeviceBrowserWindowController> closed(first);
    first->window()->close();
    EXPECT_EQ(controller->deviceBrowserWindowController(), nullptr);
    ASSERT_TRUE(waitFor([&] { return closed.isNull(); })) << "the closed one goes";
    ASSERT_TRUE(controller->buildProject(KRWindowController::FollowUp::Run));
    ASSERT_TRUE(controller->deviceBrowserWindowController());
    EXPECT_EQ(controller->deviceBrowserWindowController()->mode(), 0);
}

// Syntax errors stop the build: with an erroneous function's editor shown, that editor shows
// its first error; from the design tab the syntax-error tab comes up. Nothing is built.
TEST_F(ProjectWindowLive, SyntaxErrorsStopTheBuildAndShowTheFirstError)
{
    const QString package = writePackage(
        QStringLiteral("Broken"),
        QStringLiteral("<KRPage id=\"home\"><KRContents><KRFunction id=\"broken\" arguments=\"event\">var = ;</KRFunction>"
                       "</KRContents></KRPage>"));
    KRWindowController *controller = openOnPage(package, QStringLiteral("home"));
    ASSERT_TRUE(controller);
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSCheckSyntax"), true);
    auto function = std::dynamic_pointer_cast<KRFunction>(controller->currentPage()->objectForID(QStringLiteral("broken")));
    ASSERT_TRUE(function);

    EXPECT_FALSE(controller->buildProject(KRWindowController::FollowUp::Run));
    EXPECT_TRUE(controller->builtProjectIndex().isEmpty());
    EXPECT_FALSE(controller->deviceBrowserWindowController());
    EXPECT_EQ(controller->masterTabPaneViewController()->tabView()->selectedIdentifier(),
              KRMasterTabPaneViewController::SyntaxErrorsTabIdentifier);

    controller->editFunction(function);
    KRFunctionViewController *editor = tabPane(controller)->selectedFunctionViewController();
    ASSERT_TRUE(editor);
    editor->textView()->setSelectedRange({0, 0});
    EXPECT_FALSE(controller->buildProject(KRWindowController::FollowUp::None));
    EXPECT_EQ(tabPane(controller)->selectedFunctionViewController(), editor) << "the editor stays in front";
    EXPECT_GT(editor->textView()->selectedRange().location, 0) << "the insertion point is at the first error";
}

// A person's presses on the design surface, each held until the selection box of what it
// selected lies under the pointer: the click that follows keeps what the press selected (a
// plain click, a Shift-click that adds, a click on a selected control's box); where controls
// overlap the one painted on top is chosen; a press on a control that is not selected yet,
// then dragged, moves that control as one undo step.
TEST_F(ProjectWindowLive, APressSelectsTheTopmostControlAndTheClickAfterItKeepsTheSelection)
{
    const QString package = writePackage(
        QStringLiteral("Presses"),
        QStringLiteral("<KRPage id=\"home\"><KRContents>"
                       "<KRLabel id=\"label1\" top=\"20\" left=\"20\" width=\"100\" height=\"30\">One</KRLabel>"
                       "<KRLabel id=\"label2\" top=\"80\" left=\"20\" width=\"100\" height=\"30\">Two</KRLabel>"
                       "<KRLabel id=\"label3\" top=\"140\" left=\"20\" width=\"100\" height=\"30\">Three</KRLabel>"
                       "<KRLabel id=\"back\" top=\"200\" left=\"20\" width=\"60\" height=\"60\">Back</KRLabel>"
                       "<KRLabel id=\"front\" top=\"210\" left=\"10\" width=\"150\" height=\"60\">Front</KRLabel>"
                       "</KRContents></KRPage>"));
    KRWindowController *controller = openOnPage(package, QStringLiteral("home"));
    ASSERT_TRUE(controller);
    ASSERT_TRUE(settle(controller));
    std::shared_ptr<KRPage> page = controller->currentPage();
    KRDesignViewController *surface = controller->currentDesignViewController();
    QWidget *input = live(controller)->webView()->focusProxy();
    QWebEnginePage *web = live(controller)->webView()->page();
    const double zoom = tabPane(controller)->designCanvas()->zoom();
    const auto at = [zoom](QPointF p) { return QPoint(qRound(p.x() * zoom), qRound(p.y() * zoom)); };
    const auto object = [&](const char *id) { return page->objectForID(QString::fromLatin1(id)); };
    const auto selection = [&] { return surface->selectedObjects(); };
    // The ids of the selection, to read in a failure.
    const auto selected = [&] {
        QStringList ids;
        for (const auto &o : surface->selectedObjects())
            ids.append(o->kr_id());
        return ids.join(QLatin1Char(' ')).toStdString();
    };
    // Whether the element the page shows at a page point belongs to a selection box.
    const auto boxUnder = [&](QPointF p) {
        return js(web, QStringLiteral("(function(e){ return !!e && e.hasAttribute('data-kr-drag'); })"
                                      "(document.elementFromPoint(%1, %2))").arg(p.x()).arg(p.y()))
            .toBool();
    };
    js(web, QStringLiteral("window.krClicks = 0; window.addEventListener('click', function () { ++window.krClicks; }, true);"));
    // The page has handled the click, and what it told the program has arrived (the page's
    // answers come in the order it sent them).
    const auto clickHandled = [&](int clicks) {
        return waitFor([&] { return js(web, QStringLiteral("window.krClicks")).toInt() > clicks; }) && settle(controller);
    };
    const auto click = [&](QPointF p, Qt::KeyboardModifiers modifiers) {
        const int clicks = js(web, QStringLiteral("window.krClicks")).toInt();
        QTest::mousePress(input, Qt::LeftButton, modifiers, at(p));
        EXPECT_TRUE(waitFor([&] { return !selection().isEmpty() && boxUnder(p); })) << "no box came under the pointer";
        QTest::mouseRelease(input, Qt::LeftButton, modifiers, at(p));
        EXPECT_TRUE(clickHandled(clicks));
    };

    click(QPointF(60, 35), Qt::NoModifier);
    EXPECT_EQ(selected(), "label1");
    click(QPointF(60, 95), Qt::ShiftModifier);
    EXPECT_EQ(selected(), "label1 label2");
    click(QPointF(60, 35), Qt::NoModifier); // on the box of a selected control
    EXPECT_EQ(selected(), "label1 label2");
    click(QPointF(40, 235), Qt::NoModifier); // where "front" (lower down, so drawn later) covers "back"
    EXPECT_EQ(selected(), "front");

    // Pressed, held, then dragged 40 right and 25 down in 16 steps.
    KRUndoManager &undo = controller->document().undoManager();
    undo.removeAllActions();
    const int clicks = js(web, QStringLiteral("window.krClicks")).toInt();
    const QPointF from(60, 155);
    QTest::mousePress(input, Qt::LeftButton, Qt::NoModifier, at(from));
    ASSERT_TRUE(waitFor([&] { return selection() == QList{object("label3")} && boxUnder(from); }));
    for (int step = 1; step <= 16; ++step)
        QTest::mouseMove(input, at(from + QPointF(40, 25) * step / 16));
    QTest::mouseRelease(input, Qt::LeftButton, Qt::NoModifier, at(from + QPointF(40, 25)));
    ASSERT_TRUE(clickHandled(clicks));
    EXPECT_EQ(object("label3")->value(QStringLiteral("kr_left")).toInt(), 60);
    EXPECT_EQ(object("label3")->value(QStringLiteral("kr_top")).toInt(), 165);
    EXPECT_EQ(selected(), "label3");
    EXPECT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(undo.undoActionName().toStdString(), "Drag KRLabel");
}

// On the design surface the window routes the pointer and the keys: a press selects the
// control under it first (Shift adds); Ctrl+C and Ctrl+V copy and paste the selected objects once; Delete of several selected objects is one undo step "Delete Objects";
// an arrow moves the selection; Ctrl+Shift+X cuts like Ctrl+X.
TEST_F(ProjectWindowLive, KeysOnTheDesignSurfaceActOnPageObjectsOnce)
{
    const QString package = writePackage(
        QStringLiteral("Keys"),
        QStringLiteral("<KRPage id=\"home\"><KRContents>"
                       "<KRLabel id=\"label1\" top=\"20\" left=\"20\" width=\"100\" height=\"30\">One</KRLabel>"
                       "<KRLabel id=\"label2\" top=\"80\" left=\"20\" width=\"100\" height=\"30\">Two</KRLabel>"
                       "<KRLabel id=\"label3\" top=\"140\" left=\"20\" width=\"100\" height=\"30\">Three</KRLabel>"
                       "</KRContents></KRPage>"));
    KRWindowController *controller = openOnPage(package, QStringLiteral("home"));
    ASSERT_TRUE(controller);
    std::shared_ptr<KRPage> page = controller->currentPage();
    KRDesignViewController *surface = controller->currentDesignViewController();
    // A press is answered from the view's latest measurements: the page in step first.
    ASSERT_TRUE(settle(controller));
    QWidget *input = live(controller)->webView()->focusProxy();
    input->setFocus();
    ASSERT_TRUE(waitFor([&] { return input->hasFocus(); }));
    const auto object = [&](const char *id) { return page->objectForID(QString::fromLatin1(id)); };

    // A press selects the control under it, before the release; Shift adds. The clicks go
    // at a person's pace: the page draws the new box under the pointer before the release,
    // and the click leaves the selection as the press made it.
    const double zoom = tabPane(controller)->designCanvas()->zoom();
    const auto at = [zoom](double x, double y) { return QPoint(qRound(x * zoom), qRound(y * zoom)); };
    countPageClicks(controller);
    surface->deselectAll();
    QTest::mousePress(input, Qt::LeftButton, Qt::NoModifier, at(60, 35));
    EXPECT_TRUE(waitFor([&] { return surface->selectedObjects() == QList<std::shared_ptr<KRObject>>{object("label1")}; }));
    ASSERT_TRUE(settle(controller));
    QTest::mouseRelease(input, Qt::LeftButton, Qt::NoModifier, at(60, 35));
    ASSERT_TRUE(clicksHandled(controller, 1));
    EXPECT_EQ(surface->selectedObjects(), QList<std::shared_ptr<KRObject>>{object("label1")});
    QTest::mousePress(input, Qt::LeftButton, Qt::ShiftModifier, at(60, 95));
    EXPECT_TRUE(waitFor([&] { return surface->selectedObjects().size() == 2; }));
    ASSERT_TRUE(settle(controller));
    QTest::mouseRelease(input, Qt::LeftButton, Qt::ShiftModifier, at(60, 95));
    ASSERT_TRUE(clicksHandled(controller, 2));
    EXPECT_EQ(surface->selectedObjects(), (QList<std::shared_ptr<KRObject>>{object("label1"), object("label2")}));

    surface->selectObjects({object("label1"), object("label2")});
    KRMainMenu::shared().validate();
    EXPECT_TRUE(command("alignLeft")->isEnabled());
    const qsizetype count = page->allObjects().size();
    QTest::keyClick(input, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(input, Qt::Key_V, Qt::ControlModifier);
    settle(controller);
    EXPECT_EQ(page->allObjects().size(), count + 2) << "pasted once";

    surface->selectObject(object("label3"));
    QTest::keyClick(input, Qt::Key_Right);
    EXPECT_EQ(object("label3")->value(QStringLiteral("kr_left")).toInt(), 21);

    surface->selectObjects({object("label1"), object("label2"), object("label3")});
    KRUndoManager &undo = controller->document().undoManager();
    QTest::keyClick(input, Qt::Key_Delete);
    settle(controller);
    EXPECT_FALSE(object("label1") || object("label2") || object("label3"));
    EXPECT_EQ(undo.undoActionName(), QStringLiteral("Delete Objects"));
    undo.undo();
    settle(controller);
    EXPECT_TRUE(object("label1") && object("label2") && object("label3")) << "one step restores all three";

    surface->selectObject(object("label2"));
    QTest::keyClick(input, Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    settle(controller);
    EXPECT_FALSE(object("label2"));
}

// What a person does to jQuery Mobile controls with the Edit menu. Dropped, undone and redone,
// or deleted or cut and then undone, a button and a text box come back in the design view
// exactly as they were: enhanced, and inert (the text box cannot be typed into). Each step is
// named in the menu, and Redo names the step that was undone. Paste is enabled after a cut
// with the page selected and then puts the objects back on the page, selected; with a control
// selected it adds copies, selected. Cut and Delete are enabled exactly when they act.
TEST_F(ProjectWindowLive, EditMenuRestoresControlsAsTheyWereAndPastesWhereItIsEnabled)
{
    KRWindowController *controller =
        openOnPage(writePackage(QStringLiteral("Edit"), QStringLiteral("<KRPage id=\"home\"><KRContents/></KRPage>")),
                   QStringLiteral("home"));
    ASSERT_TRUE(controller);
    const std::shared_ptr<KRPage> page = controller->currentPage();
    KRDesignViewController *surface = controller->currentDesignViewController();
    QWebEnginePage *livePage = live(controller)->webView()->page();
    QWidget *input = live(controller)->webView()->focusProxy();
    KRMainMenu &menu = KRMainMenu::shared();
    const auto title = [&](const char *identifier) {
        menu.validate();
        return command(identifier)->text();
    };
    const auto enabled = [&](const char *identifier) {
        menu.validate();
        return command(identifier)->isEnabled();
    };

    // The first drop undone offers itself for redo.
    const std::shared_ptr<KRObject> button = dropFromPalette(controller, QStringLiteral("JQMButton"), QPoint(20, 40));
    ASSERT_TRUE(button);
    EXPECT_EQ(title("undo"), QStringLiteral("Undo Create JQMButton"));
    command("undo")->trigger();
    settle(controller);
    ASSERT_FALSE(page->objectForID(button->kr_id()));
    EXPECT_EQ(title("redo"), QStringLiteral("Redo Create JQMButton"));
    command("redo")->trigger();
    settle(controller);
    ASSERT_TRUE(page->objectForID(button->kr_id()));
    const std::shared_ptr<KRObject> textbox = dropFromPalette(controller, QStringLiteral("JQMTextbox"), QPoint(20, 140));
    ASSERT_TRUE(textbox);
    input->setFocus();
    ASSERT_TRUE(waitFor([&] { return input->hasFocus(); }));

    // The control's element in the view, with what jQuery Mobile made of it (style attributes
    // as the engine reads them: a rewritten one spells the same declarations its own way).
    const auto markup = [&](const std::shared_ptr<KRObject> &object) {
        settle(controller);
        return js(livePage, QStringLiteral("(function(){var n = window.___kr_agent.node(%1);"
                                           "if (!n || !n.isConnected) return '';"
                                           "var c = n.cloneNode(true);"
                                           "[c].concat(Array.from(c.querySelectorAll('[style]'))).forEach(function(e){"
                                           "if (e.hasAttribute('style')) e.setAttribute('style', e.style.cssText);});"
                                           "return c.outerHTML;})()")
                                .arg(object->domElement()->nodeId()))
            .toString();
    };
    const auto inert = [&](const std::shared_ptr<KRObject> &object) {
        return js(livePage, QStringLiteral("(function(){var i = window.___kr_agent.node(%1).querySelector('input');"
                                           "return !!i && i.disabled;})()")
                                .arg(object->domElement()->nodeId()))
            .toBool();
    };
    QString buttonMarkup, textboxMarkup;
    ASSERT_TRUE(waitFor([&] {
        buttonMarkup = markup(button);
        textboxMarkup = markup(textbox);
        return buttonMarkup.contains(QLatin1String("ui-btn")) && textboxMarkup.contains(QLatin1String("ui-input-text"));
    })) << buttonMarkup.toStdString() << "\n" << textboxMarkup.toStdString();
    ASSERT_TRUE(inert(textbox));
    const auto expectAsBefore = [&](const char *step) {
        SCOPED_TRACE(step);
        EXPECT_TRUE(waitFor([&] { return markup(button) == buttonMarkup && markup(textbox) == textboxMarkup; }))
            << markup(button).toStdString() << "\n" << markup(textbox).toStdString();
        EXPECT_TRUE(inert(textbox));
    };

    // Delete both, undo.
    surface->selectObjects({button, textbox});
    ASSERT_TRUE(enabled("delete"));
    command("delete")->trigger();
    settle(controller);
    ASSERT_FALSE(page->objectForID(button->kr_id()) || page->objectForID(textbox->kr_id()));
    EXPECT_EQ(title("undo"), QStringLiteral("Undo Delete Objects"));
    command("undo")->trigger();
    EXPECT_EQ(title("redo"), QStringLiteral("Redo Delete Objects"));
    expectAsBefore("delete undone");

    // Cut the text box, undo.
    surface->selectObject(textbox);
    ASSERT_TRUE(enabled("cut"));
    command("cut")->trigger();
    settle(controller);
    ASSERT_FALSE(page->objectForID(textbox->kr_id()));
    EXPECT_EQ(title("undo"), QStringLiteral("Undo Cut"));
    command("undo")->trigger();
    expectAsBefore("cut undone");

    // Undo the text box's drop, redo it.
    ASSERT_EQ(title("undo"), QStringLiteral("Undo Create JQMTextbox"));
    command("undo")->trigger();
    settle(controller);
    ASSERT_FALSE(page->objectForID(textbox->kr_id()));
    EXPECT_EQ(title("redo"), QStringLiteral("Redo Create JQMTextbox"));
    command("redo")->trigger();
    EXPECT_EQ(title("undo"), QStringLiteral("Undo Create JQMTextbox"));
    expectAsBefore("drop redone");

    // Cut the button: the page is selected, nothing to cut or delete; Paste brings the button
    // back where it was, selected.
    surface->selectObject(button);
    ASSERT_TRUE(enabled("cut"));
    command("cut")->trigger();
    settle(controller);
    ASSERT_FALSE(page->objectForID(button->kr_id()));
    EXPECT_EQ(controller->masterTabPaneViewController()->selectedObject(), std::static_pointer_cast<KRObject>(page));
    EXPECT_FALSE(enabled("cut"));
    EXPECT_FALSE(enabled("delete"));
    ASSERT_TRUE(enabled("paste"));
    command("paste")->trigger();
    settle(controller);
    const std::shared_ptr<KRObject> pasted = page->objectForID(button->kr_id());
    ASSERT_TRUE(pasted);
    EXPECT_EQ(surface->selectedObjects(), QList<std::shared_ptr<KRObject>>{pasted});
    EXPECT_EQ(pasted->value(QStringLiteral("kr_left")), button->value(QStringLiteral("kr_left")));
    EXPECT_EQ(title("undo"), QStringLiteral("Undo Paste"));

    // With a control selected: a copy of the text box, selected, and as inert as the original.
    surface->selectObject(textbox);
    ASSERT_TRUE(enabled("copy"));
    command("copy")->trigger();
    const qsizetype count = page->allObjects().size();
    ASSERT_TRUE(enabled("paste"));
    command("paste")->trigger();
    settle(controller);
    ASSERT_EQ(page->allObjects().size(), count + 1);
    ASSERT_EQ(surface->selectedObjects().size(), 1);
    const std::shared_ptr<KRObject> copy = surface->selectedObjects().first();
    EXPECT_NE(copy, textbox);
    EXPECT_EQ(copy->kr_className(), QStringLiteral("JQMTextbox"));
    EXPECT_TRUE(waitFor([&] { return markup(copy).contains(QLatin1String("ui-input-text")) && inert(copy); }));

    // A look at the restored and pasted controls.
    const QString shot = KRTest::artifactsDir(QStringLiteral("window")) + QStringLiteral("/edit-menu-restored-controls.png");
    EXPECT_TRUE(controller->projectWindow()->grab().toImage().save(shot)) << shot.toStdString();
}

#include "PanesTestSupport.h"

#include <KRWidgetTestSupport.h>

#include <codeeditor/CEEditor.h>
#include <inspector/KRItemEditorViewController.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>
#include <widgets/tabbar/TBTabBarCell.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRTabView.h>

#include <QListView>
#include <QTest>

using namespace KRPanesTest;

namespace {

class PageTabs : public SampleTest
{
protected:
    void SetUp() override
    {
        SampleTest::SetUp();
        if (HasFatalFailure())
            return;
        master = KRCachingViewController::create<KRMasterTabPaneViewController>();
        master->setProject(f.project);
        master->view()->resize(1000, 620);
        master->view()->show();
        group = master->selectTabWithPage(f.page);
        ASSERT_TRUE(group);
        pane = group->tabPaneViewController();
        inspector = group->propertyPaneViewController();
    }
    QStringList tabs(TBTabView *view) const
    {
        QStringList list;
        for (TBTabViewItem *item : view->items())
            list << item->identifier().toString() + QLatin1Char('|') + item->label();
        return list;
    }
    QString selected() const { return pane->tabView()->selectedIdentifier(); }

    std::unique_ptr<KRMasterTabPaneViewController> master;
    KRTabPropertyGroupViewController *group = nullptr;
    KRTabPaneViewController *pane = nullptr;
    KRPropertyPaneViewController *inspector = nullptr;
};

TEST_F(PageTabs, PagesGetOneGroupEachThatFollowsTheirIdAndGoesWithThem)
{
    EXPECT_EQ(tabs(pane->tabView()), (QStringList{"!!Design|Design", "!!Objects|Objects"}));
    EXPECT_TRUE(pane->isDesignViewSelected());
    EXPECT_EQ(master->selectedObject(), f.page);
    EXPECT_EQ(inspector->selectedObject(), f.page);

    // A second selection reuses the group with its editor tabs.
    pane->editFunction(function("onClick"));
    auto page2 = f.project->pageForID(QStringLiteral("page2"));
    KRTabPropertyGroupViewController *second = master->selectTabWithPage(page2);
    EXPECT_NE(second, group);
    EXPECT_EQ(master->currentTabPropertyGroupViewController(), second);
    EXPECT_EQ(master->selectTabWithPage(f.page), group);
    EXPECT_EQ(pane->tabView()->numberOfItems(), 3);
    EXPECT_EQ(master->groupCount(), 2);

    // A new page id keeps the tab and its group.
    f.page->setKr_id(QStringLiteral("start"));
    EXPECT_EQ(master->groupForPageID(QStringLiteral("start")), group);
    EXPECT_FALSE(master->groupForPageID(QStringLiteral("page1")));
    EXPECT_EQ(master->tabView()->selectedIdentifier(), QStringLiteral("start"));
    EXPECT_EQ(master->selectTabWithPage(f.page), group);
    EXPECT_EQ(master->groupCount(), 2);

    // Resources and syntax errors are tabs of their own, where no page object is selected.
    master->selectSyntaxErrorTab();
    EXPECT_FALSE(master->currentTabPropertyGroupViewController());
    EXPECT_FALSE(master->selectedObject());
    ASSERT_TRUE(master->syntaxErrorViewController());
    EXPECT_EQ(master->selectSyntaxErrorTab(), master->syntaxErrorViewController());
    master->selectResourceTab();
    EXPECT_EQ(master->tabView()->selectedIdentifier(), QStringLiteral("!!Resources"));
    EXPECT_EQ(master->tabView()->numberOfItems(), 4);

    // Deleting a page drops its tab and group.
    f.project->deletePage(page2);
    EXPECT_FALSE(master->groupForPageID(QStringLiteral("page2")));
    EXPECT_EQ(master->tabView()->numberOfItems(), 3);
}

TEST_F(PageTabs, EditorTabsAreKeyedByTheObjectIdAndKeepTheirLabelFormat)
{
    // Nothing shown before: no previous tab to go back to.
    pane->selectPreviousTab();
    EXPECT_EQ(selected(), QStringLiteral("!!Design"));
    KRFunctionViewController *editor = pane->editFunction(function("onClick"));
    ASSERT_TRUE(editor);
    EXPECT_EQ(selected(), QStringLiteral("onClick"));
    EXPECT_EQ(pane->selectedFunctionViewController(), editor);
    EXPECT_FALSE(pane->selectedDesignViewController());
    auto *list = pane->editListViewItems(object("listview1"));
    ASSERT_TRUE(list);
    EXPECT_EQ(tabs(pane->tabView()).mid(2), (QStringList{"onClick|onClick", "listview1|List View: listview1"}));

    // New ids relabel the tabs in their own format and move the editors.
    function("onClick")->setKr_id(QStringLiteral("onTap"));
    object("listview1")->setKr_id(QStringLiteral("fruits"));
    EXPECT_EQ(tabs(pane->tabView()).mid(2), (QStringList{"onTap|onTap", "fruits|List View: fruits"}));
    EXPECT_EQ(pane->editFunction(function("onTap")), editor);
    EXPECT_EQ(pane->selectedFunctionViewController(), editor);
    EXPECT_EQ(pane->editListViewItems(object("fruits")), list);
    EXPECT_EQ(pane->cachedEditorCount(), 2);

    // Going back to the tab shown before; fixed tabs offer no close button, editor tabs do.
    pane->selectPreviousTab();
    EXPECT_EQ(selected(), QStringLiteral("onTap"));
    EXPECT_TRUE(pane->tabViewDisableTabCloseForItem(pane->tabView(), pane->tabView()->item("!!Design")).value());
    EXPECT_TRUE(pane->tabViewDisableTabCloseForItem(pane->tabView(), pane->tabView()->item("!!Objects")).value());
    EXPECT_FALSE(pane->tabViewDisableTabCloseForItem(pane->tabView(), pane->tabView()->item("onTap")).value());

    // Control-Tab walks the tabs round.
    pane->nextTab();
    EXPECT_EQ(selected(), QStringLiteral("fruits"));
    pane->nextTab();
    EXPECT_EQ(selected(), QStringLiteral("!!Design"));

    // Closing a tab in the bar lets go of its editor; opening it again makes a fresh one.
    pane->tabBarControl()->closeTabViewItem(pane->tabView()->item("onTap"));
    EXPECT_FALSE(pane->cachedEditor(QStringLiteral("onTap")));
    EXPECT_EQ(pane->cachedEditorCount(), 1);
    KRFunctionViewController *fresh = pane->editFunction(function("onTap"));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->codeEditor()->string(), QStringLiteral("// Client function: onTap\nfunction onTap(event) {\nalert(event);\n}"));
}

TEST_F(PageTabs, DeletingAnObjectClosesItsTabsAndItsEditorWritesNoMore)
{
    KRFunctionViewController *editor = pane->editFunction(function("onClick"));
    ASSERT_TRUE(editor);
    QTest::keyClicks(editor->textView(), QStringLiteral("x"));
    EXPECT_EQ(function("onClick")->kr_source(), QStringLiteral("xalert(event);"));
    // A change the editor does not show (the editor follows only the id and the arguments).
    function("onClick")->setKr_source(QStringLiteral("changed();"));
    group->selectObject(function("onClick"));
    EXPECT_EQ(inspector->selectedObject(), function("onClick"));
    pane->editListViewItems(object("listview1"));

    const std::shared_ptr<KRFunction> deleted = function("onClick");
    f.page->deleteObjects({deleted});
    const int undoCount = f.document->undoManager().undoCount();
    EXPECT_FALSE(pane->tabView()->item(QStringLiteral("onClick")));
    EXPECT_FALSE(pane->cachedEditor(QStringLiteral("onClick")));
    EXPECT_EQ(pane->cachedEditorCount(), 1);
    EXPECT_FALSE(inspector->cachedPropertyEditor(QStringLiteral("onClick")));
    EXPECT_EQ(inspector->selectedObject(), f.page);
    EXPECT_EQ(group->selectedObject(), f.page);

    // Saving afterwards leaves the deleted function and the history alone.
    KRNotificationCenter::defaultCenter().post(KRWillSaveDocumentNotification, f.document->identity());
    EXPECT_EQ(deleted->kr_source(), QStringLiteral("changed();"));
    EXPECT_EQ(f.document->undoManager().undoCount(), undoCount);
    QCoreApplication::processEvents();
}

TEST_F(PageTabs, DoubleClicksInTheObjectBrowserOpenTheRightPlace)
{
    pane->selectObjectView();
    KRObjectBrowser *browser = pane->objectViewController();
    EXPECT_TRUE(browser->isShowingIcons());
    browser->selectIconView();
    // As a person does it: the first click of a double click selects.
    const auto doubleClick = [&](QListView *view, const QModelIndex &index) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
    };
    const auto rowOf = [&](const char *id) {
        for (int row = 0; row < browser->model()->rowCount(); ++row)
            if (browser->model()->objectAt(row)->kr_id() == QLatin1String(id))
                return browser->model()->index(row);
        return QModelIndex();
    };
    QListView *icons = browser->iconView();
    QTest::qWait(50); // the icon grid lays itself out on a timer
    ASSERT_TRUE(icons->isVisible());
    ASSERT_FALSE(icons->visualRect(rowOf("ready")).isEmpty());
    // A function opens its editor.
    doubleClick(icons, rowOf("ready"));
    EXPECT_EQ(selected(), QStringLiteral("ready"));
    EXPECT_TRUE(pane->selectedFunctionViewController());
    // A control shows the design tab and its inspector, which edits the default property.
    pane->selectObjectView();
    QTest::qWait(50);
    doubleClick(icons, rowOf("label1"));
    EXPECT_TRUE(pane->isDesignViewSelected());
    EXPECT_EQ(inspector->selectedObject(), object("label1"));
    EXPECT_EQ(group->selectedObject(), object("label1"));
    // A button's default property is its click handler: made and opened in its own tab.
    pane->selectObjectView();
    QTest::qWait(50);
    doubleClick(icons, rowOf("button1"));
    EXPECT_EQ(selected(), QStringLiteral("button1_onClick"));
    EXPECT_TRUE(object("button1_onClick"));
    // A single click selects in both halves of the group.
    pane->selectObjectView();
    QTest::qWait(50);
    QTest::mouseClick(icons->viewport(), Qt::LeftButton, Qt::NoModifier, icons->visualRect(rowOf("timer1")).center());
    EXPECT_EQ(inspector->selectedObject(), object("timer1"));
}

TEST_F(PageTabs, TheInspectorKeepsItsWidthAndNeverGetsNarrowerThan200)
{
    QSplitter *split = group->splitView();
    QWidget *side = inspector->view();
    EXPECT_EQ(side->width(), 275);
    master->view()->resize(1400, 620);
    QCoreApplication::processEvents();
    EXPECT_EQ(side->width(), 275);
    EXPECT_GT(pane->view()->width(), 1000);

    // Dragging the divider far to the right stops 200 short of the edge.
    QSplitterHandle *handle = split->handle(1);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(600, 0)), handle->mapToGlobal(QPointF(grip + QPoint(600, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip + QPoint(600, 0));
    EXPECT_EQ(side->width(), 200);
    // ... and a wider inspector stays as wide when the window shrinks again.
    split->setSizes({900, 400});
    master->view()->resize(1200, 620);
    QCoreApplication::processEvents();
    EXPECT_EQ(side->width(), 400);
}

TEST_F(PageTabs, ScreenshotOfAPageGroupWithAFunctionTab)
{
    pane->editFunction(function("ready"));
    pane->editListViewItems(object("listview1"));
    pane->editFunction(function("ready"));
    group->selectObject(object("button1"));
    QCoreApplication::processEvents();
    const QImage shot = KRTest::saveScreenshot(*master->view(), QStringLiteral("workspace-panes"), QStringLiteral("page-group.png"));
    // The inspector's header sits at the top right, drawn over its gradient.
    const QPoint header = inspector->headerView()->mapTo(master->view(), QPoint(inspector->headerView()->width() - 4, 4)) * 2;
    const QColor c = shot.pixelColor(header);
    EXPECT_NEAR(c.red(), c.blue(), 3);
    EXPECT_GT(c.red(), 200);
}

} // namespace

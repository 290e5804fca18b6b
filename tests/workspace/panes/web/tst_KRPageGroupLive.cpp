// A page group with the live design surface, and the function editor's error pop-over with
// its real help view.
#include "../../designview/DesignViewTestSupport.h"

#include <KRWebTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <codeeditor/CETextView.h>
#include <model/KRFunction.h>
#include <platform/appkit/KRPopover.h>
#include <widgets/help/KRHelpViewController.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>

#include <QWebEngineView>

using namespace KRDesignViewTest;

namespace {

const QString kPages = QStringLiteral(
    "<KRPage id=\"page1\"><KRContents>"
    "<KRLabel id=\"label1\" top=\"20\" left=\"20\" width=\"140\" height=\"30\">Welcome</KRLabel>"
    "<JQMButton id=\"button1\" top=\"80\" left=\"20\" width=\"160\">Start</JQMButton>"
    "<KRFunction id=\"ready\">go();\nstop(1);</KRFunction>"
    "</KRContents></KRPage>");

class PageGroupLive : public LivePageTest
{
protected:
    void SetUp() override
    {
        openPages(kPages);
        if (IsSkipped() || HasFatalFailure())
            return;
        master = KRCachingViewController::create<KRMasterTabPaneViewController>();
        master->setProject(project);
        master->view()->resize(1100, 760);
        master->view()->show();
        group = master->selectTabWithPage(page);
        ASSERT_TRUE(group);
    }
    void TearDown() override
    {
        master.reset();
        project.reset();
    }

    std::unique_ptr<KRMasterTabPaneViewController> master;
    KRTabPropertyGroupViewController *group = nullptr;
};

TEST_F(PageGroupLive, TheDesignTabShowsThePageAndSharesTheSelection)
{
    KRTabPaneViewController *pane = group->tabPaneViewController();
    ASSERT_TRUE(pane->designCanvas());
    KRPageDesignView *live = pane->designCanvas()->designView();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isDesignDocumentLoaded(); }));
    EXPECT_EQ(pane->selectedDesignViewController(), pane->designViewController());

    // The group's selection reaches the surface; the surface's reaches the inspector.
    group->selectObject(page->objectForID(QStringLiteral("label1")));
    EXPECT_EQ(pane->designViewController()->selectedObjects(), (QList<std::shared_ptr<KRObject>>{page->objectForID("label1")}));
    pane->designViewController()->selectObject(page->objectForID(QStringLiteral("button1")));
    EXPECT_EQ(group->propertyPaneViewController()->selectedObject(), page->objectForID(QStringLiteral("button1")));

    EXPECT_TRUE(KRTest::framesDrawn(live->webView()));
    KRTest::saveScreenshot(*master->view(), QStringLiteral("workspace-panes"), QStringLiteral("page-group-live.png"), {1});
}

TEST_F(PageGroupLive, TheErrorPopoverShowsTheEscapedFindingInTheHelpView)
{
    auto function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(QStringLiteral("ready")));
    ASSERT_TRUE(function);
    function->setSyntaxErrors({{{QStringLiteral("line"), 4}, {QStringLiteral("character"), 6},
                                {QStringLiteral("reason"), QStringLiteral("Expected ')' to match '(' and saw '<'")},
                                {QStringLiteral("evidence"), QStringLiteral("stop(<b>")}}});
    KRFunctionViewController *editor = group->editFunction(function);
    ASSERT_TRUE(editor);
    editor->showFirstSyntaxError();
    ASSERT_TRUE(editor->popover());
    auto *web = qobject_cast<QWebEngineView *>(editor->popover()->contentWidget());
    ASSERT_TRUE(web);
    // One request for the text at a time; the editor takes the pop-over and its page away
    // with it at the end.
    QString text;
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        text = KRTest::plainText(web->page());
        return text.contains(QStringLiteral("stop(<b>"));
    })) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Line 4, character 6")));
    EXPECT_TRUE(KRTest::framesDrawn(web));
    KRTest::saveScreenshot(*editor->view(), QStringLiteral("workspace-panes"), QStringLiteral("function-editor-live.png"), {1});
    KRTest::saveScreenshot(*editor->popover(), QStringLiteral("workspace-panes"), QStringLiteral("function-editor-live-popover.png"), {1});
}

} // namespace

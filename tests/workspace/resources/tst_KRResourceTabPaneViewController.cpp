// Resource editor tabs over a saved project: edits go to the project's cache and reach the
// file only with the project; closing an edited tab asks; text the file's encoding cannot
// hold is told and kept; an unreadable file leaves its tab empty.

#include "../KRWorkspaceProjectTest.h"
#include "../../model/KRModelTestFixtures.h"
#include "../../model/KRPageTestSupport.h"

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <codeeditor/CEEditor.h>
#include <codeeditor/CETextView.h>
#include <model/KRProjectResource.h>
#include <platform/dom/DOMElement.h>
#include <model/KRWebFolder.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabView.h>
#include <workspace/resources/KRResourceTabPaneViewController.h>
#include <workspace/resources/KRResourceViewController.h>

#include <QFile>
#include <QFocusEvent>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class RecordingWindow : public KRResourceTabPaneDelegate
{
public:
    void lastResourceTabClosedAction(KRResourceTabPaneViewController *) override { ++lastTabClosed; }
    int lastTabClosed = 0;
};

// Stands in for the theme component's editor.
class ThemeEditorStandIn : public KRCachingViewController
{
public:
    ThemeEditorStandIn()
    {
        if (!KRInterfaceRegistry::hasInterface("KRTestThemeEditorView"))
            KRInterfaceRegistry::registerInterface("KRTestThemeEditorView", [](QObject *) { return new QWidget; });
    }
    QString nibName() const override { return QStringLiteral("KRTestThemeEditorView"); }
};

class ResourceTabs : public KRWorkspaceProjectTest
{
protected:
    void SetUp() override
    {
        openProject(QStringLiteral("<KRPage id=\"page1\"/>"));
        if (HasFatalFailure())
            return;
        KRTest::writeFile(web + "/site.css", "body { color: red; }\n");
        KRTest::writeFile(web + "/latin.txt", "caf\xe9 cr\xe8me br\xfbl\xe9""e, na\xefve fa\xe7""ade\n");
        KRTest::writeFile(web + "/app.js", "var a = 1;\n");
        project->reloadResources();

        pane = KRCachingViewController::create<KRResourceTabPaneViewController>();
        pane->setProject(project);
        pane->setDelegate(&window);
        pane->view()->resize(560, 320);
        pane->view()->show();
    }
    void TearDown() override
    {
        pane.reset();
        KRWorkspaceProjectTest::TearDown();
    }

    // Types at the end of the text, then leaves the editor, which ends editing.
    void type(KRResourceViewController *editor, const QString &text)
    {
        editor->textView()->setFocus();
        editor->textView()->moveCursor(QTextCursor::End);
        for (const QChar c : text) {
            // Characters beyond ASCII arrive as text without a key of their own.
            if (c.unicode() < 0x80)
                QTest::keyClicks(editor->textView(), QString(c));
            else
                QTest::sendKeyEvent(QTest::Click, editor->textView(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(editor->textView(), &out);
    }
    void backspace(KRResourceViewController *editor, int count)
    {
        editor->textView()->setFocus();
        for (int i = 0; i < count; ++i)
            QTest::keyClick(editor->textView(), Qt::Key_Backspace);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(editor->textView(), &out);
    }
    std::optional<QByteArray> cached(const QString &name) const
    {
        return project->webFolder()->modifiedResourceCache().contents(resource(name)->relativePath());
    }
    void closeTab(const QString &name)
    {
        pane->tabBarControl()->closeTabViewItem(pane->tabView()->itemWithIdentifier(resource(name)->fullPath()));
        QCoreApplication::processEvents();
    }

    RecordingWindow window;
    std::unique_ptr<KRResourceTabPaneViewController> pane;
};

} // namespace

TEST_F(ResourceTabs, EditsWaitInTheCacheUntilTheProjectIsSavedAndReopenWithTheTab)
{
    KRResourceViewController *editor = pane->editResource(resource("site.css"));
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->codeEditor()->string(), "body { color: red; }\n");
    EXPECT_EQ(pane->tabView()->selectedItem()->label(), "site.css");
    EXPECT_TRUE(pane->isResourceOpenInTab(resource("site.css")));

    type(editor, "p { margin: 0; }");
    EXPECT_TRUE(editor->isDirty());
    EXPECT_EQ(cached("site.css"), QByteArray("body { color: red; }\np { margin: 0; }"));
    EXPECT_EQ(KRTest::readFile(web + "/site.css"), "body { color: red; }\n");
    KRTest::saveScreenshot(*pane->view(), "resources", "resource-tab.png");

    // Asking again selects the open tab.
    pane->editResource(resource("app.js"));
    EXPECT_EQ(pane->editResource(resource("site.css")), editor);
    EXPECT_EQ(pane->numberOfTabs(), 2);
    pane->nextTab();
    EXPECT_EQ(pane->tabView()->selectedItem()->label(), "app.js");
    pane->nextTab();
    EXPECT_EQ(pane->tabView()->selectedItem()->label(), "site.css");

    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(web + "/site.css"), "body { color: red; }\np { margin: 0; }");
    EXPECT_FALSE(editor->isDirty());

    // A saved tab closes without asking; the last one closed shows the pages again.
    closeTab("site.css");
    closeTab("app.js");
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(pane->numberOfTabs(), 0);
    EXPECT_EQ(window.lastTabClosed, 1);
    EXPECT_FALSE(pane->resourceViewController(resource("site.css")));
    EXPECT_EQ(pane->editResource(resource("site.css"))->codeEditor()->string(), "body { color: red; }\np { margin: 0; }");
}

TEST_F(ResourceTabs, ClosingAnEditedTabAsksAndOnlyDontSaveDropsTheEdits)
{
    KRResourceViewController *editor = pane->editResource(resource("app.js"));
    type(editor, "var b;");

    alerts->scriptButton("Cancel");
    closeTab("app.js");
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    const KRAlert &asked = alerts->shownAlerts().first();
    EXPECT_EQ(asked.messageText,
              "Do you want to save the changes you've made to the resource \"app.js\" before closing this tab?");
    EXPECT_EQ(asked.buttonTitles, (QStringList{"Save Project", "Cancel", "Don't Save"}));
    EXPECT_EQ(pane->numberOfTabs(), 1);
    EXPECT_TRUE(cached("app.js"));

    alerts->scriptButton("Don't Save");
    closeTab("app.js");
    EXPECT_EQ(pane->numberOfTabs(), 0);
    EXPECT_FALSE(cached("app.js"));
    editor = pane->editResource(resource("app.js"));
    EXPECT_EQ(editor->codeEditor()->string(), "var a = 1;\n");

    type(editor, "var c;");
    alerts->scriptButton("Save Project");
    closeTab("app.js");
    EXPECT_EQ(pane->numberOfTabs(), 0);
    EXPECT_EQ(KRTest::readFile(web + "/app.js"), "var a = 1;\nvar c;");
}

TEST_F(ResourceTabs, TextTheFilesEncodingCannotHoldIsToldAndNeverLost)
{
    KRResourceViewController *editor = pane->editResource(resource("latin.txt"));
    ASSERT_TRUE(editor);
    EXPECT_NE(editor->encoding(), "UTF-8");
    EXPECT_TRUE(editor->codeEditor()->string().startsWith(QString::fromUtf8("café crème")));

    // What the encoding holds is stored in it.
    type(editor, QString::fromUtf8("ü"));
    ASSERT_TRUE(cached("latin.txt"));
    EXPECT_TRUE(cached("latin.txt")->endsWith("\n\xfc"));

    type(editor, QString::fromUtf8("✓"));
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(alerts->shownAlerts().first().messageText.contains("latin.txt"));
    EXPECT_TRUE(cached("latin.txt")->endsWith("\n\xfc"));

    // Saving the project writes the last text the encoding held and leaves the tab edited,
    // so that closing it still asks.
    ASSERT_TRUE(document->save().ok());
    EXPECT_TRUE(KRTest::readFile(web + "/latin.txt").endsWith("\n\xfc"));
    EXPECT_TRUE(editor->isDirty());
    EXPECT_TRUE(editor->codeEditor()->string().endsWith(QString::fromUtf8("ü✓")));
    alerts->scriptButton("Cancel");
    closeTab("latin.txt");
    EXPECT_EQ(pane->numberOfTabs(), 1);
    // "Save Project" cannot store it either: the tab stays.
    alerts->scriptButton("Save Project");
    closeTab("latin.txt");
    EXPECT_EQ(pane->numberOfTabs(), 1);

    // Without the character the text is stored again.
    alerts->clear();
    backspace(editor, 1);
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_TRUE(cached("latin.txt"));
    ASSERT_TRUE(document->save().ok());
    EXPECT_FALSE(editor->isDirty());
}

TEST_F(ResourceTabs, AnUnreadableFileIsToldAndLeavesItsTabEmpty)
{
    const auto gone = resource("app.js");
    QFile::remove(gone->fullPath());
    KRResourceViewController *editor = pane->editResource(gone);
    ASSERT_TRUE(editor);
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(editor->codeEditor()->string().isEmpty());
}

TEST_F(ResourceTabs, ThemeTabsComeFromTheThemeEditorAndShareTheBar)
{
    EXPECT_FALSE(pane->editTheme("blue"));
    KRResourceTabPaneViewController::setThemeEditorFactory([](const QString &) {
        return std::unique_ptr<KRCachingViewController>(KRCachingViewController::create<ThemeEditorStandIn>().release());
    });
    KRCachingViewController *theme = pane->editTheme("blue");
    ASSERT_TRUE(theme);
    EXPECT_TRUE(pane->themeIsOpenInTab("blue"));
    EXPECT_EQ(pane->tabView()->selectedItem()->label(), "blue");
    EXPECT_EQ(pane->editTheme("blue"), theme);
    pane->editResource(resource("app.js"));
    pane->selectTheme("blue");
    EXPECT_EQ(pane->selectedViewController(), theme);
    KRResourceTabPaneViewController::setThemeEditorFactory({});
}

TEST_F(ResourceTabs, EditingTheSelectedThemeReloadsItInThePagesWhenEditingEnds)
{
    KRTest::writeFile(web + "/theme.css", ".ui-btn{} .ui-body-a{} .ui-bar-a{} .ui-shadow{}");
    project->reloadResources();
    project->setDefaultTheme("theme");
    const auto page = project->pageForID("page1");
    ASSERT_TRUE(page->themeStyleElement());

    KRResourceViewController *editor = pane->editResource(resource("theme.css"));
    editor->textView()->setFocus();
    editor->textView()->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor->textView(), " .mine{}");
    EXPECT_FALSE(page->themeStyleElement()->textContent().contains(".mine{}"));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QCoreApplication::sendEvent(editor->textView(), &out);
    EXPECT_TRUE(page->themeStyleElement()->textContent().contains(".mine{}"));
}

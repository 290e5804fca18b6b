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
#include <platform/foundation/KRUndoManager.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabView.h>
#include <workspace/resources/KRResourceTabPaneViewController.h>
#include <workspace/resources/KRResourceViewController.h>

#include <QApplication>
#include <QFile>
#include <QFocusEvent>
#include <QMenu>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>
#include <QPushButton>

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

    // Clicks the button of the editor's bar and chooses the item at the end of the path of
    // (sub)menu titles.
    void choose(KRResourceViewController *editor, const QString &button, const QStringList &path)
    {
        auto *tool = editor->view()->findChild<QPushButton *>(button);
        ASSERT_TRUE(tool) << button.toStdString();
        bool chosen = false;
        auto *poll = new QTimer;
        poll->setInterval(10);
        QObject::connect(poll, &QTimer::timeout, poll, [poll, path, &chosen] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible())
                return;
            poll->stop();
            poll->deleteLater();
            QAction *item = nullptr;
            for (const QString &title : path) {
                item = nullptr;
                for (QAction *action : menu->actions())
                    if (action->text() == title)
                        item = action;
                if (!item)
                    break;
                if (item->menu()) {
                    emit item->menu()->aboutToShow();
                    menu = item->menu();
                }
            }
            menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (item) {
                chosen = true;
                item->trigger();
            }
            menu->close();
        });
        poll->start();
        QTest::mouseClick(tool, Qt::LeftButton);
        EXPECT_TRUE(chosen) << path.join(" > ").toStdString();
    }
    static QByteArray utf16(const QString &text)
    {
        return QStringEncoder(QStringConverter::Utf16LE).encode(text);
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

// An edited file is written with its own line endings and byte-order mark. The bar under the
// text shows and changes its syntax, the encoding it is written in and its line endings (each
// change marks the file edited and can be undone), and reads it again in another encoding.
TEST_F(ResourceTabs, FilesKeepTheirLineEndingsAndEncodingAndTheBarChangesThem)
{
    KRTest::writeFile(web + "/dos.css", "a {}\r\nb {}\r\n");
    const QByteArray bom("\xff\xfe", 2);
    KRTest::writeFile(web + "/wide.js", bom + utf16("x = 1;\n"));
    KRTest::writeFile(web + "/note.txt", "caf\xc3\xa9\n");
    project->reloadResources();

    KRResourceViewController *dos = pane->editResource(resource("dos.css"));
    ASSERT_TRUE(dos);
    EXPECT_EQ(dos->codeEditor()->string(), "a {}\nb {}\n");
    type(dos, "c {}");
    EXPECT_EQ(cached("dos.css"), QByteArray("a {}\r\nb {}\r\nc {}"));

    KRResourceViewController *wide = pane->editResource(resource("wide.js"));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->codeEditor()->string(), "x = 1;\n");
    type(wide, "y");
    EXPECT_EQ(cached("wide.js"), bom + utf16("x = 1;\ny"));
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(web + "/wide.js"), bom + utf16("x = 1;\ny"));
    EXPECT_EQ(KRTest::readFile(web + "/dos.css"), "a {}\r\nb {}\r\nc {}");

    KRResourceViewController *note = pane->editResource(resource("note.txt"));
    ASSERT_TRUE(note);
    EXPECT_EQ(note->codeEditor()->string(), QString::fromUtf8("café\n"));
    choose(note, "lineEndingsButton", {"Windows (CR LF)"});
    EXPECT_TRUE(note->isDirty());
    EXPECT_EQ(cached("note.txt"), QByteArray("caf\xc3\xa9\r\n"));
    choose(note, "encodingButton", {"ISO-8859-1"});
    EXPECT_EQ(note->encoding(), "ISO-8859-1");
    EXPECT_EQ(cached("note.txt"), QByteArray("caf\xe9\r\n"));
    QCoreApplication::processEvents();
    KRTest::saveScreenshot(*pane->view(), "resources", "resource-tab-bar.png");
    document->undoManager().undo();
    EXPECT_EQ(cached("note.txt"), QByteArray("caf\xc3\xa9\r\n")) << "the encoding change undone";
    document->undoManager().undo();
    EXPECT_EQ(cached("note.txt"), QByteArray("caf\xc3\xa9\n")) << "the line endings change undone";
    choose(note, "syntaxButton", {"JavaScript"});
    EXPECT_EQ(note->codeEditor()->settings().value(CEKeys::syntaxDefinition).toString(), "JavaScript");

    // Reloading drops unsaved edits only when the user says so.
    alerts->scriptButton("Cancel");
    choose(note, "encodingButton", {"Reload with Encoding", "ISO-8859-1"});
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(note->codeEditor()->string(), QString::fromUtf8("café\n"));
    alerts->scriptButton("Reload");
    choose(note, "encodingButton", {"Reload with Encoding", "ISO-8859-1"});
    EXPECT_EQ(note->codeEditor()->string(), QString::fromUtf8("cafÃ©\n"));
    EXPECT_EQ(note->encoding(), "ISO-8859-1");
    EXPECT_FALSE(note->isDirty());
    EXPECT_FALSE(cached("note.txt"));
    choose(note, "encodingButton", {"Reload with Encoding", "UTF-8"});
    EXPECT_EQ(note->codeEditor()->string(), QString::fromUtf8("café\n"));
    EXPECT_EQ(note->encoding(), "UTF-8");

    // Bytes that are not text in the chosen encoding are told and change nothing.
    KRResourceViewController *latin = pane->editResource(resource("latin.txt"));
    const QString before = latin->codeEditor()->string();
    const qsizetype told = alerts->shownAlerts().size();
    choose(latin, "encodingButton", {"Reload with Encoding", "UTF-8"});
    ASSERT_EQ(alerts->shownAlerts().size(), told + 1);
    EXPECT_TRUE(alerts->shownAlerts().last().messageText.contains("UTF-8"));
    EXPECT_EQ(latin->codeEditor()->string(), before);
    EXPECT_NE(latin->encoding(), "UTF-8");
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

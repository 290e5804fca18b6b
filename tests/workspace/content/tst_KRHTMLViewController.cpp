#include "../../controls/KRCompositeTestSupport.h"
#include "KRTestSupport.h"
#include "KRWidgetTestSupport.h"

#include <codeeditor/CEEditor.h>
#include <codeeditor/CETextView.h>
#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <workspace/content/KRHTMLViewController.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString contentKey = QStringLiteral("kr_content");

// A page with one div holding the stored content, and its tab, shown.
struct ContentTab : ::testing::Test
{
    void SetUp() override
    {
        alerts = std::make_shared<KRScriptedAlertService>();
        previousAlerts = KRAlertService::setCurrent(alerts);
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("defaultDIVEditMode"));
    }
    void TearDown() override
    {
        if (tab)
            tab->close();
        tab.reset();
        KRAlertService::setCurrent(previousAlerts);
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("defaultDIVEditMode"));
    }

    void open(const QString &stored)
    {
        krRegisterCompositeTestClasses();
        const QString element = stored.isEmpty() ? QStringLiteral("<KRDiv id=\"d\"/>")
                                                 : QStringLiteral("<KRDiv id=\"d\"><![CDATA[%1]]></KRDiv>").arg(stored);
        project = krOpenPageProject(element, true, &document);
        ASSERT_TRUE(project);
        div = project->krPages().first()->objectForID(QStringLiteral("d"));
        ASSERT_TRUE(div);
        ASSERT_EQ(div->value(contentKey), stored);
        tab = KRCachingViewController::create<KRHTMLViewController>();
        tab->setObject(div, contentKey);
        tab->view()->resize(520, 300);
        tab->view()->show();
        view().setFocus();
        QApplication::setActiveWindow(tab->view());
        turn();
    }

    CETextView &view() { return *static_cast<CETextView *>(tab->textView()); }
    QString stored() const { return div->value(contentKey); }
    KRUndoManager &undo() { return document->undoManager(); }
    // Ends the event turn, which closes the automatic undo group.
    static void turn() { QApplication::processEvents(); }
    // Chooses the other mode with the keyboard, as a user would.
    void chooseOtherMode()
    {
        QComboBox *popUp = tab->modePopUp();
        popUp->setFocus();
        QTest::keyClick(popUp, popUp->currentText() == KRHTMLViewController::MarkdownMode ? Qt::Key_Down : Qt::Key_Up);
        turn();
    }
    void typeAtEnd(const QString &text)
    {
        view().setFocus();
        view().setSelectedRange({view().text().size(), 0});
        QTest::keyClicks(&view(), text);
        turn();
    }

    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRAlertService> previousAlerts;
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    std::shared_ptr<KRObject> div;
    std::unique_ptr<KRHTMLViewController> tab;
};

} // namespace

TEST_F(ContentTab, EmptyContentOpensInTheDefaultModeAndSwitchesWithoutAQuestion)
{
    open(QString());
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    EXPECT_EQ(view().text(), QString());

    chooseOtherMode();
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(stored(), QString());

    // The mode of empty content is not kept: a new tab takes the user's default.
    tab->close();
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("defaultDIVEditMode"), QStringLiteral("HTML"));
    tab = KRCachingViewController::create<KRHTMLViewController>();
    tab->setObject(div, contentKey);
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("defaultDIVEditMode"), QString());
    tab->setObject(div, contentKey);
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
}

TEST_F(ContentTab, PrefixedContentOpensInItsModeAndEditsKeepThePrefix)
{
    open(QStringLiteral("html:<b>x</b>"));
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    EXPECT_EQ(view().text(), QStringLiteral("<b>x</b>"));
    EXPECT_EQ(view().selectedRange().location, 0);

    typeAtEnd(QStringLiteral("y"));
    EXPECT_EQ(stored(), QStringLiteral("html:<b>x</b>y"));

    // Deleting everything stores no bare prefix.
    view().setSelectedRange({0, view().text().size()});
    QTest::keyClick(&view(), Qt::Key_Backspace);
    turn();
    EXPECT_EQ(view().text(), QString());
    EXPECT_EQ(stored(), QString());

    // Typing into empty content takes the pop-up's mode.
    typeAtEnd(QStringLiteral("*a*"));
    EXPECT_EQ(stored(), QStringLiteral("html:*a*"));

    // A bare prefix opens an empty editor in its mode; only a prefix at the start counts.
    div->setValue(contentKey, QStringLiteral("markdown:"));
    tab->setObject(div, contentKey);
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    EXPECT_EQ(view().text(), QString());
    div->setValue(contentKey, QStringLiteral("html:see markdown: here"));
    tab->setObject(div, contentKey);
    EXPECT_EQ(view().text(), QStringLiteral("see markdown: here"));
}

// A typed word is one undo step, with the model edits it made.
TEST_F(ContentTab, TypedWordIsOneUndoStep)
{
    open(QStringLiteral("html:<b>x</b>"));
    for (const QChar c : QStringLiteral("abc"))
        typeAtEnd(QString(c)); // a turn of the event loop after each key
    EXPECT_EQ(stored(), QStringLiteral("html:<b>x</b>abc"));
    undo().undo();
    EXPECT_EQ(view().text(), QStringLiteral("<b>x</b>"));
    EXPECT_EQ(stored(), QStringLiteral("html:<b>x</b>"));
    EXPECT_FALSE(undo().canUndo());
}

// Content stored before there were modes is rendered as HTML; one keystroke must not turn it
// into Markdown.
TEST_F(ContentTab, UnprefixedContentStaysHTML)
{
    open(QStringLiteral("<p>old</p>"));
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    EXPECT_EQ(view().text(), QStringLiteral("<p>old</p>"));
    typeAtEnd(QStringLiteral("!"));
    EXPECT_EQ(stored(), QStringLiteral("html:<p>old</p>!"));
}

TEST_F(ContentTab, SwitchingModeOfContentAsksAndIsOneUndoStep)
{
    open(QStringLiteral("markdown:# Hi"));
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    // Picking the mode in effect again asks nothing.
    emit tab->modePopUp()->activated(tab->modePopUp()->currentIndex());
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(stored(), QStringLiteral("markdown:# Hi"));

    // Cancel: nothing changes, and the pop-up is put back.
    alerts->scriptButton(QStringLiteral("Cancel"));
    chooseOtherMode();
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    const KRAlert &question = alerts->shownAlerts().first();
    EXPECT_EQ(question.messageText, QStringLiteral("Delete this object's content and change editing mode?"));
    EXPECT_EQ(question.informativeText,
              QStringLiteral("The existing content of this object will be discarded when changing to HTML editing mode."));
    EXPECT_EQ(question.buttonTitles, (QStringList{QStringLiteral("Delete Content"), QStringLiteral("Cancel")}));
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    EXPECT_EQ(stored(), QStringLiteral("markdown:# Hi"));
    EXPECT_FALSE(undo().canUndo());

    alerts->scriptButton(QStringLiteral("Delete Content"));
    chooseOtherMode();
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    EXPECT_EQ(view().text(), QString());
    EXPECT_EQ(stored(), QString());
    EXPECT_EQ(undo().undoCount(), 1);
    EXPECT_EQ(undo().undoActionName(), QStringLiteral("Edit Mode Change"));

    KRTest::saveScreenshot(*tab->view(), QStringLiteral("content"), QStringLiteral("html-mode-empty.png"));

    undo().undo();
    turn();
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    EXPECT_EQ(view().text(), QStringLiteral("# Hi"));
    EXPECT_EQ(stored(), QStringLiteral("markdown:# Hi"));

    undo().redo();
    turn();
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    EXPECT_EQ(view().text(), QString());
    EXPECT_EQ(stored(), QString());

    undo().undo();
    turn();
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    EXPECT_EQ(stored(), QStringLiteral("markdown:# Hi"));
}

// Content emptied by hand switches without a question, and the switch is the step Undo names
// first: undoing it puts the mode back before the deleted text returns, in its own mode.
TEST_F(ContentTab, SwitchingModeOfEmptiedContentIsItsOwnUndoStep)
{
    open(QStringLiteral("markdown:# Hi"));
    view().setFocus();
    view().setSelectedRange({0, view().text().size()});
    QTest::keyClick(&view(), Qt::Key_Backspace);
    turn();
    ASSERT_EQ(stored(), QString());
    const int steps = undo().undoCount();
    chooseOtherMode(); // the pop-up takes the focus from the emptied editor
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::HTMLMode);
    EXPECT_EQ(undo().undoCount(), steps + 1);
    EXPECT_EQ(undo().undoMenuItemTitle(), QStringLiteral("Undo Edit Mode Change"));

    undo().undo();
    turn();
    EXPECT_EQ(tab->editMode(), KRHTMLViewController::MarkdownMode);
    EXPECT_EQ(undo().undoMenuItemTitle(), QStringLiteral("Undo Typing"));
    undo().undo();
    turn();
    EXPECT_EQ(view().text(), QStringLiteral("# Hi"));
    EXPECT_EQ(stored(), QStringLiteral("markdown:# Hi"));
}

TEST_F(ContentTab, PendingTextReachesTheModelBeforeSavingAndOnClose)
{
    open(QStringLiteral("markdown:a"));
    // A write that bypasses the tab: the will-save notification puts the editor's text back.
    div->setValue(contentKey, QStringLiteral("markdown:stale"));
    ASSERT_TRUE(bool(document->save()));
    EXPECT_EQ(stored(), QStringLiteral("markdown:a"));

    div->setValue(contentKey, QStringLiteral("markdown:stale"));
    tab->close();
    EXPECT_EQ(stored(), QStringLiteral("markdown:a"));
    EXPECT_EQ(tab->textView(), nullptr);
    tab.reset();
}

TEST_F(ContentTab, HeaderDrawsItsGradientAndBottomLine)
{
    open(QStringLiteral("markdown:# Title\n\nSome *Markdown* text."));
    const QImage shot = KRTest::saveScreenshot(*tab->view(), QStringLiteral("content"), QStringLiteral("markdown-tab.png"),
                                               KRTest::RenderOptions{1});
    QWidget *header = tab->view()->findChild<QWidget *>(QStringLiteral("headerView"));
    ASSERT_TRUE(header);
    const int x = header->width() - 4;
    const QColor top = shot.pixelColor(x, 1);
    const QColor bottomInside = shot.pixelColor(x, header->height() - 3);
    const QColor line = shot.pixelColor(x, header->height() - 1);
    EXPECT_GT(top.lightness(), bottomInside.lightness());
    EXPECT_LT(line.lightness(), bottomInside.lightness());
}

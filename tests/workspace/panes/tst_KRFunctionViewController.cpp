#include "PanesTestSupport.h"

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <builder/KRProjectSyntaxCheck.h>
#include <codeeditor/CEEditor.h>
#include <codeeditor/CELineNumbers.h>
#include <codeeditor/CETextView.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTextBlock>

using namespace KRPanesTest;

namespace {

class FunctionEditor : public SampleTest
{
protected:
    void SetUp() override
    {
        SampleTest::SetUp();
        if (HasFatalFailure())
            return;
        f.document->undoManager().removeAllActions();
    }
    KRFunctionViewController &open(const char *id)
    {
        editor = KRCachingViewController::create<KRFunctionViewController>();
        editor->view()->resize(900, 320);
        editor->view()->show();
        editor->setFunction(function(id));
        QCoreApplication::processEvents();
        return *editor;
    }
    CETextView &text() const { return *editor->textView(); }
    QString string() const { return editor->codeEditor()->string(); }
    void key(int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier) { QTest::keyClick(&text(), Qt::Key(k), modifiers); }
    // The caret (or selection) after a click at the start of the given line (1-based).
    QPoint lineStartPoint(int line) const
    {
        const QTextBlock block = text().document()->findBlockByNumber(line - 1);
        QTextCursor cursor(block);
        return text().cursorRect(cursor).center();
    }
    void postSyntaxCheck() { KRNotificationCenter::defaultCenter().post(KRDidPerformSyntaxCheckDocumentNotification, f.document->identity()); }

    std::unique_ptr<KRFunctionViewController> editor;
};

TEST(KRFunctionText, HeadBodyAndTheEditableRange)
{
    const Fixture f = openSample();
    auto onClick = std::dynamic_pointer_cast<KRFunction>(f.object(QStringLiteral("onClick")));
    EXPECT_EQ(KRFunctionText::head(*onClick), QStringLiteral("// Client function: onClick\nfunction onClick(event) {\n"));
    onClick->setKr_serverFunction(QStringLiteral("Yes"));
    onClick->setKr_arguments(QString());
    EXPECT_EQ(KRFunctionText::head(*onClick), QStringLiteral("// Server function: onClick\nfunction onClick() {\n"));

    // head "H\n" (2), body "ab", tail "\n}": text length 6, body from 2 to 4.
    EXPECT_EQ(KRFunctionText::body(QStringLiteral("H\nab\n}"), 2), QStringLiteral("ab"));
    // A text that lost part of its tail never gives a negative length.
    EXPECT_EQ(KRFunctionText::body(QStringLiteral("H\n}"), 2), QString());
    EXPECT_TRUE(KRFunctionText::allowsChange({2, 0}, 2, 6));   // at the start of the body
    EXPECT_TRUE(KRFunctionText::allowsChange({4, 0}, 2, 6));   // at the end of the body
    EXPECT_TRUE(KRFunctionText::allowsChange({2, 2}, 2, 6));   // the whole body
    EXPECT_FALSE(KRFunctionText::allowsChange({1, 0}, 2, 6));  // inside the head, even empty
    EXPECT_FALSE(KRFunctionText::allowsChange({1, 1}, 2, 6));  // the head's newline
    EXPECT_FALSE(KRFunctionText::allowsChange({4, 1}, 2, 6));  // the tail's newline
    EXPECT_FALSE(KRFunctionText::allowsChange({5, 0}, 2, 6));  // between "\n" and "}"
    EXPECT_FALSE(KRFunctionText::allowsChange({3, 2}, 2, 6));  // across the end of the body

    EXPECT_EQ(KRFunctionText::clipSelection({0, 1}, 2, 6), (CERange{2, 0}));
    EXPECT_EQ(KRFunctionText::clipSelection({0, 6}, 2, 6), (CERange{2, 2}));
    EXPECT_EQ(KRFunctionText::clipSelection({5, 1}, 2, 6), (CERange{4, 0}));
    EXPECT_EQ(KRFunctionText::clipSelection({3, 0}, 2, 6), (CERange{3, 0}));
}

TEST(KRFunctionText, ErrorPositionsLandOnTheirLine)
{
    const QString text = QStringLiteral("// c\nfunction f() {\nabc\n\nxy\n}");
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 3, 2), 21);  // "b"
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 3, 0), 20);  // column 0: the line start
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 4, 5), 24);  // an empty line: its start
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 3, 99), 22); // clamped to the line
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 40, 1), text.size() - 1); // the last line
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 1, 3), -1);  // the comment line
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(text, 0, 1), -1);
    EXPECT_EQ(KRFunctionText::offsetForRowColumn(QString(), 2, 1), -1);

    const QString html = KRFunctionText::errorHTML(QStringLiteral("<p>{{reason}}</p><code>{{evidence}}</code>{{line}}{{reason}}{{absent}}"),
                                                   {{QStringLiteral("reason"), QStringLiteral("Expected '<' & saw \"x\"")},
                                                    {QStringLiteral("evidence"), QStringLiteral("<img src=x onerror=alert(1)>")},
                                                    {QStringLiteral("line"), 4}});
    EXPECT_EQ(html, QStringLiteral("<p>Expected '&lt;' &amp; saw &quot;x&quot;</p><code>&lt;img src=x onerror=alert(1)&gt;</code>"
                                   "4Expected '&lt;' &amp; saw &quot;x&quot;"));
    // The quoted source may hold braces of its own: they are neither filled nor dropped.
    const QString quoted = KRFunctionText::errorHTML(QStringLiteral("{{evidence}}|{{reason}}"),
                                                     {{QStringLiteral("evidence"), QStringLiteral("t = \"{{reason}} {{name}}\";")},
                                                      {QStringLiteral("reason"), QStringLiteral("Missing ';'")}});
    EXPECT_EQ(quoted, QStringLiteral("t = &quot;{{reason}} {{name}}&quot;;|Missing ';'"));
}

TEST_F(FunctionEditor, ShowsTheWholeFunctionAndFollowsItsIdAndArguments)
{
    open("onClick");
    EXPECT_EQ(string(), QStringLiteral("// Client function: onClick\nfunction onClick(event) {\nalert(event);\n}"));
    EXPECT_EQ(text().selectedRange(), (CERange{editor->headerLength(), 0}));

    function("onClick")->setKr_id(QStringLiteral("onTap"));
    function("onTap")->setKr_arguments(QStringLiteral("e, ui"));
    EXPECT_EQ(string(), QStringLiteral("// Client function: onTap\nfunction onTap(e, ui) {\nalert(event);\n}"));

    // A new handler opens with its placeholder selected.
    auto handler = f.object(QStringLiteral("button1"))->createEventHandlerForProperty(QStringLiteral("click"));
    ASSERT_TRUE(handler);
    editor->setFunction(handler);
    const CERange selection = text().selectedRange();
    EXPECT_EQ(string().mid(selection.location, selection.length), QStringLiteral("// Your code here"));
}

TEST_F(FunctionEditor, TypingWritesTheBodyAndUndoGoesBackToClean)
{
    open("onClick");
    const QString original = string();
    EXPECT_FALSE(f.document->isDocumentEdited());
    text().setFocus();
    key(Qt::Key_End, Qt::ControlModifier);
    for (const QChar c : QStringLiteral(" ok")) {
        QTest::keyClicks(&text(), QString(c));
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(function("onClick")->kr_source(), QStringLiteral("alert(event); ok"));
    EXPECT_TRUE(f.document->isDocumentEdited());

    // The typed word is one step, with the model edits it made.
    key(Qt::Key_Z, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(string(), original);
    EXPECT_EQ(function("onClick")->kr_source(), QStringLiteral("alert(event);"));
    EXPECT_FALSE(f.document->undoManager().canUndo());
    EXPECT_FALSE(f.document->isDocumentEdited());
}

TEST_F(FunctionEditor, HeadAndTailCannotBeChanged)
{
    open("ready");
    const QString original = string();
    const qsizetype bodyEnd = original.size() - 2;

    // Clicking into the head puts the caret at the start of the body; Backspace there is refused.
    QTest::mouseClick(text().viewport(), Qt::LeftButton, Qt::NoModifier, lineStartPoint(1) + QPoint(30, 0));
    EXPECT_EQ(text().selectedRange(), (CERange{editor->headerLength(), 0}));
    key(Qt::Key_Backspace);
    EXPECT_EQ(string(), original);

    // Delete at the end of the body would take the tail's newline.
    text().setSelectedRange({bodyEnd, 0});
    key(Qt::Key_Delete);
    EXPECT_EQ(string(), original);
    EXPECT_EQ(function("ready")->kr_source(), QStringLiteral("go();\n\nstop();"));

    // Select All stops short of the tail; typing replaces the body only.
    key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(text().selectedRange(), (CERange{editor->headerLength(), bodyEnd - editor->headerLength()}));
    QTest::keyClicks(&text(), QStringLiteral("x"));
    EXPECT_EQ(string(), QStringLiteral("// Client function: ready\nfunction ready() {\nx\n}"));
    EXPECT_EQ(function("ready")->kr_source(), QStringLiteral("x"));

    // An empty body: forward delete and backspace leave the text as it is.
    key(Qt::Key_Backspace);
    EXPECT_EQ(function("ready")->kr_source(), QString());
    key(Qt::Key_Delete);
    key(Qt::Key_Backspace);
    EXPECT_EQ(string(), QStringLiteral("// Client function: ready\nfunction ready() {\n\n}"));
    EXPECT_EQ(function("ready")->kr_source(), QString());
}

TEST_F(FunctionEditor, ErrorLinesAreMarkedAndExplainedEscaped)
{
    RecordingHelpInstaller recorder;
    open("ready");
    // Line 3 "go();", line 4 empty, line 5 "stop();".
    function("ready")->setSyntaxErrors({{{QStringLiteral("line"), 4}, {QStringLiteral("character"), 0},
                                         {QStringLiteral("reason"), QStringLiteral("Expected '<' here")},
                                         {QStringLiteral("evidence"), QStringLiteral("<img src=x onerror=alert(1)>")}},
                                        {{QStringLiteral("line"), 5}, {QStringLiteral("character"), 3},
                                         {QStringLiteral("reason"), QStringLiteral("Missing semicolon")}}});
    postSyntaxCheck();
    QCoreApplication::processEvents();

    // The caret for an error at character 0 on an empty line stands at that line's start.
    editor->showFirstSyntaxError();
    const QTextBlock line4 = text().document()->findBlockByNumber(3);
    EXPECT_EQ(text().selectedRange(), (CERange{line4.position(), 0}));
    ASSERT_TRUE(editor->popover());
    EXPECT_TRUE(editor->popover()->isShown());
    EXPECT_EQ(editor->lastSyntaxErrorLineNumber(), 4);
    EXPECT_TRUE(RecordingHelpContent::lastHTML.contains(QStringLiteral("&lt;img src=x onerror=alert(1)&gt;")));
    EXPECT_TRUE(RecordingHelpContent::lastHTML.contains(QStringLiteral("Expected '&lt;' here")));
    EXPECT_FALSE(RecordingHelpContent::lastHTML.contains(QStringLiteral("<img")));

    // The marked lines carry the attribute and the error colour, in the gutter and under the text.
    editor->selectRow(5, 3);
    EXPECT_EQ(editor->lastSyntaxErrorLineNumber(), 5);
    EXPECT_EQ(RecordingHelpContent::loads, 2);
    const QList<CELineNumberEntry> entries = CELineNumbers::entries(*editor->codeEditor(), text());
    ASSERT_GE(entries.size(), 5);
    EXPECT_EQ(entries[4].attributes.value(KRFunctionViewController::SyntaxErrorLineNumberAttribute).toInt(), 5);
    EXPECT_TRUE(entries[2].attributes.isEmpty());
    const QImage shot = KRTest::saveScreenshot(*editor->view(), QStringLiteral("workspace-panes"),
                                               QStringLiteral("function-editor-error.png"), {1});
    // The error colour is a light red: red well above green and blue.
    const auto reddish = [](QColor c) { return c.red() > 200 && c.red() - c.green() > 30 && c.red() - c.blue() > 30; };
    const QTextBlock line5 = text().document()->findBlockByNumber(4);
    const QRect caret = text().cursorRect(QTextCursor(line5));
    const QPoint inText = text().viewport()->mapTo(editor->view(), QPoint(caret.left() + 2, caret.center().y()));
    int red = 0;
    for (int x = inText.x(); x < inText.x() + 30; ++x)
        red += reddish(shot.pixelColor(x, inText.y())) ? 1 : 0;
    EXPECT_GT(red, 10);
    const QPoint gutter = editor->codeEditor()->gutterView()->mapTo(editor->view(), QPoint(4, caret.center().y()));
    EXPECT_TRUE(reddish(shot.pixelColor(gutter)));
    const QRect lineOne = text().cursorRect(QTextCursor(text().document()->firstBlock()));
    EXPECT_FALSE(reddish(shot.pixelColor(editor->codeEditor()->gutterView()->mapTo(editor->view(), QPoint(4, lineOne.center().y())))));
    KRTest::saveScreenshot(*editor->popover(), QStringLiteral("workspace-panes"), QStringLiteral("function-editor-error-popover.png"));

    // A line without an error closes the pop-over; the comment line cannot be jumped to.
    editor->selectRow(3, 1);
    EXPECT_FALSE(editor->popover());
    const CERange before = text().selectedRange();
    editor->selectRow(1, 4);
    EXPECT_EQ(text().selectedRange(), before);

    // A check that finds nothing more closes an open pop-over.
    editor->selectRow(5, 1);
    ASSERT_TRUE(editor->popover());
    function("ready")->setSyntaxErrors({});
    postSyntaxCheck();
    EXPECT_FALSE(editor->popover());
}

// The error pop-over does not outstay the error: it goes as soon as the user edits the
// function (and stays away until the next check, the marked lines being old news), and when
// the function's tab is left.
TEST_F(FunctionEditor, TheErrorPopoverGoesOnAnEditAndWhenTheTabIsLeft)
{
    RecordingHelpInstaller recorder;
    open("ready");
    const auto markLine5 = [&] {
        function("ready")->setSyntaxErrors({{{QStringLiteral("line"), 5}, {QStringLiteral("character"), 3},
                                             {QStringLiteral("reason"), QStringLiteral("Missing semicolon")}}});
        postSyntaxCheck();
    };
    markLine5();
    text().activateWindow();
    text().setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::focusWidget() == &text(); }));
    editor->showFirstSyntaxError();
    ASSERT_TRUE(editor->popover());
    // The explanation only shows: the keyboard stays with the code, so the user can fix it.
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::activeWindow(), text().window());
    EXPECT_EQ(QApplication::focusWidget(), &text());
    QTest::keyClicks(&text(), QStringLiteral(";"));
    EXPECT_FALSE(editor->popover()) << "an edit closes it";
    editor->selectRow(3, 1);
    editor->selectRow(5, 2);
    EXPECT_FALSE(editor->popover()) << "the old finding is not shown again before the next check";

    // The next check that still finds the error explains it again where the caret stands.
    markLine5();
    ASSERT_TRUE(editor->popover());
    EXPECT_TRUE(editor->popover()->isShown());
    // Another tab is shown: the editor's view is hidden.
    editor->view()->hide();
    EXPECT_FALSE(editor->popover());
}

TEST_F(FunctionEditor, AClosedEditorWritesNothingMore)
{
    open("onClick");
    editor->close();
    EXPECT_FALSE(editor->textView());
    function("onClick")->setKr_source(QStringLiteral("changed"));
    f.document->undoManager().removeAllActions();
    KRNotificationCenter::defaultCenter().post(KRWillSaveDocumentNotification, f.document->identity());
    EXPECT_EQ(function("onClick")->kr_source(), QStringLiteral("changed"));
    EXPECT_FALSE(f.document->undoManager().canUndo());
}

} // namespace

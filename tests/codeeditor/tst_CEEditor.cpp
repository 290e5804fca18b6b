#include "KRTestSupport.h"
#include "CodeEditorTestSupport.h"

#include <codeeditor/CEEditor.h>
#include <codeeditor/CELineNumbers.h>
#include <codeeditor/CESyntaxColouring.h>
#include <codeeditor/CESyntaxController.h>
#include <codeeditor/CETextMenuController.h>
#include <codeeditor/CETextView.h>
#include <codeeditor/CEFindBar.h>

#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QDir>
#include <QInputMethodEvent>
#include <QMenu>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>
#include <QPaintEvent>
#include <QScreen>
#include <QGuiApplication>
#include <QCheckBox>
#include <QContextMenuEvent>

namespace {

// Refuses every change that touches the first `guarded` characters (a protected header).
struct Host : CEEditorDelegate
{
    qsizetype guarded = 0;
    int asked = 0;
    int refused = 0;
    int changes = 0;
    void textDidChange(CETextView *) override { ++changes; }
    bool shouldChangeText(CETextView *, CERange range, const QString &) override
    {
        ++asked;
        if (range.location < guarded) {
            ++refused;
            return false;
        }
        return true;
    }
    QVariantMap attributesForLineNumber(int line) override
    {
        if (line != markedLine)
            return {};
        return {{CETemporaryAttributes::backgroundColour, QColor(255, 0, 0)}};
    }
    int markedLine = 0;
};

struct EditorFixture
{
    EditorFixture(const QString &definition = QStringLiteral("JavaScript"))
        : directory(KRTest::makeTempDir(QStringLiteral("editor")))
        , defaults(QDir(directory).filePath("defaults.conf"))
        , controller(KR_SOURCE_DIR "/resources/syntax", directory)
        , special(undo)
        , editor(&defaults, &controller)
    {
        host.resize(520, 260);
        editor.setObject(true, CEKeys::showLineNumberGutter);
        editor.setDelegate(&delegate);
        editor.setUndoManagerProvider([this] { return &special; });
        editor.embedInView(&host);
        editor.setObject(definition, CEKeys::syntaxDefinition);
        host.show();
        view().setFocus();
        QApplication::setActiveWindow(&host);
        QApplication::processEvents();
    }
    CETextView &view() { return *editor.textView(); }
    // Ends the current event turn, which closes the automatic undo group.
    static void turn() { QApplication::processEvents(); }
    void select(qsizetype location, qsizetype length = 0) { view().setSelectedRange({location, length}); }

    QString directory;
    KRUserDefaults defaults;
    CESyntaxController controller;
    KRUndoManager undo;
    KRSpecialUndoManager special;
    Host delegate;
    QWidget host;
    CEEditor editor;
};

QColor colourAt(CETextView &view, qsizetype position)
{
    return view.editor().colouring()->temporaryAttributes().attributeAt(CETemporaryAttributes::foregroundColour, position).value<QColor>();
}

// Runs `inspect` on the next pop-up menu that opens (once it shows), then closes it.
void onNextPopup(const std::function<void(QMenu *)> &inspect)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, inspect] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        inspect(menu);
        menu->close();
    });
    poll->start();
}

// The titles of a menu's actions (without the shortcut shown after a tab), submenus' actions
// after their submenu's title.
QStringList menuTitles(QMenu *menu)
{
    QStringList titles;
    for (QAction *action : menu->actions()) {
        if (action->isSeparator())
            continue;
        titles << action->text().section(QLatin1Char('\t'), 0, 0);
        if (action->menu())
            titles << menuTitles(action->menu());
    }
    return titles;
}

QAction *menuAction(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions()) {
        if (action->text().section(QLatin1Char('\t'), 0, 0) == title)
            return action;
        if (action->menu())
            if (QAction *inner = menuAction(action->menu(), title))
                return inner;
    }
    return nullptr;
}

QString artifactsDir()
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/codeeditor");
    QDir().mkpath(dir);
    return dir;
}

} // namespace

TEST(CEEditor, SettingsAndLayout)
{
    KRUserDefaults defaults(QDir(KRTest::makeTempDir()).filePath("d.conf"));
    CESyntaxController controller(KR_SOURCE_DIR "/resources/syntax", KRTest::makeTempDir());
    CEEditor editor(&defaults, &controller);
    EXPECT_EQ(CEEditor::currentInstance(), &editor);
    EXPECT_EQ(editor.objectForKey(CEKeys::syntaxDefinition).toString(), "Standard");
    EXPECT_TRUE(editor.objectForKey(CEKeys::isSyntaxColoured).toBool());
    EXPECT_EQ(editor.objectForKey(CEKeys::firstTextView).value<QObject *>(), nullptr);
    editor.setObject(5, CEKeys::gutterWidth);
    editor.setSetting(CEKeys::name, "a.js");
    EXPECT_FALSE(editor.settings().contains(CEKeys::gutterWidth));
    EXPECT_FALSE(editor.objectForKey(CEKeys::name).isValid());

    // The application's default beats the editor's initial value; a stored value beats both.
    EXPECT_EQ(defaults.integerValue("TabWidth"), 4);
    defaults.registerDefaults({{"GutterWidth", 50}});
    CEEditor::initializeValues(defaults);
    EXPECT_EQ(defaults.integerValue("GutterWidth"), 50);

    // The settings' wrap beats the user default; with the gutter hidden the text keeps x = G.
    defaults.setValue(CEKeys::lineWrapNewDocuments, false);
    editor.setObject(true, CEKeys::lineWrapNewDocuments);
    QWidget host;
    host.resize(400, 200);
    editor.embedInView(&host);
    host.show();
    EXPECT_EQ(editor.textView()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(editor.textView()->geometry(), QRect(50, 0, 350, 200));
    EXPECT_EQ(editor.gutterView(), nullptr);
    host.resize(500, 300);
    QApplication::sendPostedEvents();
    EXPECT_EQ(editor.textView()->geometry(), QRect(50, 0, 450, 300)) << "follows the host";
}

TEST(CEEditor, TypingCommandsAndModelEditsShareOneHistory)
{
    EditorFixture f;
    f.editor.setString("a\r\n  b\r\n");
    EXPECT_FALSE(f.special.canUndo()) << "loading text is not undoable";
    const QString original = f.editor.stringWithLineEndings();
    EXPECT_EQ(original, "a\r\n  b\r\n");
    int modelValue = 0; // a design edit of the same document
    std::function<void(int)> setModel = [&](int v) {
        const int old = modelValue;
        modelValue = v;
        f.undo.registerUndo(&modelValue, [&setModel, old] { setModel(old); });
    };
    QList<QPair<QString, int>> states{{f.editor.string(), modelValue}};
    auto record = [&] {
        f.turn();
        states.append({f.editor.string(), modelValue});
    };

    // Characters typed in a row are one step; leaving the view ends the run.
    auto *inspector = new QLineEdit(&f.host);
    inspector->move(0, 250);
    inspector->show();
    f.select(1);
    QTest::keyClicks(&f.view(), "xy");
    f.turn();
    EXPECT_EQ(f.undo.undoCount(), 0) << "the run is still open";
    inspector->setFocus();
    record();
    EXPECT_EQ(f.undo.undoCount(), 1);
    EXPECT_EQ(f.special.undoActionName(), "Typing");
    EXPECT_TRUE(f.editor.settings().value(CEKeys::isEdited).toBool());
    setModel(7);
    record();
    f.view().setFocus();
    f.select(0, 6);
    f.editor.shiftRight();
    record();
    EXPECT_EQ(f.editor.string(), "\taxy\n\t  b\n");
    EXPECT_EQ(f.special.undoActionName(), "Shift Right");
    f.select(10);
    QTest::keyClick(&f.view(), Qt::Key_Backspace);
    record();
    EXPECT_EQ(f.editor.string(), "\taxy\n\t  b");
    // A moved caret starts a new run.
    f.select(1);
    QTest::keyClicks(&f.view(), "1");
    f.select(6);
    record();
    QTest::keyClicks(&f.view(), "2");
    f.view().breakUndoCoalescing();
    record();
    EXPECT_EQ(f.undo.undoCount(), 6);
    EXPECT_EQ(f.editor.string(), "\t1axy\n2\t  b");

    for (qsizetype i = states.size() - 2; i >= 0; --i) {
        f.special.undo();
        EXPECT_EQ(f.editor.string(), states.at(i).first) << "undo to state " << i;
        EXPECT_EQ(modelValue, states.at(i).second) << "undo to state " << i;
    }
    EXPECT_FALSE(f.special.canUndo());
    EXPECT_FALSE(f.editor.settings().value(CEKeys::isEdited).toBool()) << "nothing left to undo";
    EXPECT_EQ(f.editor.stringWithLineEndings(), original);
    while (f.special.canRedo())
        f.special.redo();
    EXPECT_EQ(f.editor.string(), states.last().first);
    EXPECT_EQ(modelValue, 7);
    // The colouring followed every change.
    EXPECT_EQ(f.editor.colouring()->string(), f.editor.string());
}

TEST(CEEditor, TheHostCanRefuseEveryInputPath)
{
    EditorFixture f;
    f.editor.setString("head\nbody");
    EXPECT_EQ(f.delegate.asked, 0) << "loading is no edit";
    EXPECT_FALSE(f.editor.settings().value(CEKeys::isEdited).toBool());
    f.delegate.guarded = 4;
    const QString text = f.editor.string();
    int refusals = 0;
    auto unchanged = [&](const char *path) {
        EXPECT_EQ(f.delegate.refused, ++refusals) << path << " was put to the host";
        EXPECT_EQ(f.editor.string(), text) << path;
        EXPECT_EQ(f.editor.colouring()->string(), text) << path;
    };
    f.select(2);
    QTest::keyClicks(&f.view(), "z");
    unchanged("typing");
    QTest::keyClick(&f.view(), Qt::Key_Backspace);
    unchanged("backspace");
    QTest::keyClick(&f.view(), Qt::Key_Delete);
    unchanged("delete");
    QTest::keyClick(&f.view(), Qt::Key_Return);
    unchanged("return");
    QApplication::clipboard()->setText("pasted");
    f.view().paste();
    unchanged("paste");
    QInputMethodEvent composing;
    composing.setCommitString("ime");
    QApplication::sendEvent(&f.view(), &composing);
    unchanged("input method");
    f.select(0, 3);
    QTest::keyClick(&f.view(), Qt::Key_X, Qt::ControlModifier);
    unchanged("cut");
    f.select(9);
    QMimeData dragged;
    dragged.setText("dropped");
    QTextCursor target(f.view().document());
    target.setPosition(2);
    const QPoint onHead = f.view().cursorRect(target).center();
    QDragEnterEvent enter(onHead, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view().viewport(), &enter);
    QDropEvent drop(onHead, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view().viewport(), &drop);
    unchanged("drop");
    f.select(0, 3);
    f.editor.changeCase(CETextCommands::CaseChange::Upper);
    unchanged("case");
    f.select(1, 0);
    f.editor.shiftRight();
    unchanged("shift");
    EXPECT_FALSE(f.editor.settings().value(CEKeys::isEdited).toBool()) << "nothing was changed";
    // An edit that no guarded path asked about (here straight into the document) is put back.
    QTextCursor raw(f.view().document());
    raw.setPosition(1);
    raw.insertText("q");
    unchanged("document");

    f.select(7);
    QTest::keyClicks(&f.view(), "Z");
    EXPECT_EQ(f.editor.string(), "head\nboZdy") << "the body stays editable";
    target.setPosition(10);
    const QPoint onBody = f.view().cursorRect(target).center();
    QDragEnterEvent enterBody(onBody, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view().viewport(), &enterBody);
    QDropEvent dropBody(onBody, Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view().viewport(), &dropBody);
    EXPECT_EQ(f.editor.string(), "head\nboZdydropped");
}

TEST(CEEditor, TypingBehaviours)
{
    EditorFixture f;
    f.defaults.setValue("AutoInsertAClosingParenthesis", true);
    f.defaults.setValue("IndentWithSpaces", true);
    f.editor.setString("");
    QTest::keyClicks(&f.view(), "f(");
    EXPECT_EQ(f.editor.string(), "f()");
    EXPECT_EQ(f.view().selectedRange(), (CERange{2, 0}));

    // Converting a bracket's case is not typing it.
    f.select(1, 1);
    f.editor.changeCase(CETextCommands::CaseChange::Upper);
    EXPECT_EQ(f.editor.string(), "f()");

    f.editor.setString("  if {");
    f.select(6);
    QTest::keyClick(&f.view(), Qt::Key_Return);
    EXPECT_EQ(f.editor.string(), "  if {\n    ");
    QTest::keyClicks(&f.view(), "}");
    EXPECT_EQ(f.editor.string(), "  if {\n  }") << "the brace goes back to its opener's indentation";

    f.editor.setString("abcdef");
    f.select(6);
    QTest::keyClick(&f.view(), Qt::Key_Tab);
    EXPECT_EQ(f.editor.string(), "abcdef  ") << "to the tab stop at 8";
    f.editor.setString("  ab\n  cd");
    f.select(1, 6);
    QTest::keyClick(&f.view(), Qt::Key_Tab);
    EXPECT_EQ(f.editor.string(), "     ab\n     cd") << "a selection from the indentation shifts its lines to the stop";
    f.defaults.setValue("IndentWithSpaces", false);
    f.select(6, 1);
    QTest::keyClick(&f.view(), Qt::Key_Tab);
    EXPECT_EQ(f.view().selectedRange(), (CERange{7, 0})) << "one after the first word collapses";

    // Double-clicking a bracket selects its whole block; an unmatched one only itself.
    auto doubleClick = [&](qsizetype position) {
        QTextCursor at(f.view().document());
        at.setPosition(int(position));
        const QRect box = f.view().cursorRect(at);
        QTest::mouseDClick(f.view().viewport(), Qt::LeftButton, {}, QPoint(box.left() + 3, box.center().y()));
    };
    f.editor.setString("f(a, (b)) + g(a");
    doubleClick(1);
    EXPECT_EQ(f.view().selectedRange(), (CERange{1, 8}));
    doubleClick(8);
    EXPECT_EQ(f.view().selectedRange(), (CERange{1, 8}));
    doubleClick(13);
    EXPECT_EQ(f.view().selectedRange(), (CERange{13, 1}));

    f.select(2);
    EXPECT_TRUE(f.editor.transpose());
    EXPECT_EQ(f.editor.string(), "fa(, (b)) + g(a") << "the characters on either side of the caret";
    EXPECT_EQ(f.view().selectedRange(), (CERange{3, 0}));

    // Backspace, Delete and Transpose take an emoji with its skin tone whole.
    const QString thumb = QStringLiteral("\U0001F44D\U0001F3FD"), grin = QStringLiteral("\U0001F600");
    f.editor.setString("x" + thumb + grin + thumb);
    f.select(1 + thumb.size());
    EXPECT_TRUE(f.editor.transpose());
    EXPECT_EQ(f.editor.string(), "x" + grin + thumb + thumb);
    EXPECT_EQ(f.view().selectedRange(), (CERange{1 + grin.size() + thumb.size(), 0}));
    QTest::keyClick(&f.view(), Qt::Key_Backspace);
    EXPECT_EQ(f.editor.string(), "x" + grin + thumb);
    f.select(1);
    QTest::keyClick(&f.view(), Qt::Key_Delete);
    EXPECT_EQ(f.editor.string(), "x" + thumb);
    f.select(f.editor.string().size());
    EXPECT_TRUE(f.editor.transpose());
    EXPECT_EQ(f.editor.string(), thumb + "x") << "at the end, the last two characters";

    // Dragging with Ctrl and Alt scrolls instead of selecting.
    QString lines;
    for (int i = 0; i < 200; ++i)
        lines += "line\n";
    f.editor.setString(lines);
    const Qt::KeyboardModifiers both = Qt::ControlModifier | Qt::AltModifier;
    QTest::mousePress(f.view().viewport(), Qt::LeftButton, both, QPoint(50, 200));
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 100), f.view().viewport()->mapToGlobal(QPointF(50, 100)),
                     Qt::NoButton, Qt::LeftButton, both);
    QApplication::sendEvent(f.view().viewport(), &move);
    QTest::mouseRelease(f.view().viewport(), Qt::LeftButton, both, QPoint(50, 100));
    EXPECT_EQ(f.view().verticalScrollBar()->value(), 100 / f.view().lineHeight());
    EXPECT_EQ(f.view().selectedRange(), (CERange{0, 0}));
}

TEST(CEEditor, ColoursFollowEverySameLengthChange)
{
    EditorFixture f;
    f.defaults.setValue("HighlightCurrentLine", true);
    f.editor.setString("var x;\nbar y;");
    const QColor keyword = f.editor.colouring()->colourAttributes("KeywordsColourWell").value(CETemporaryAttributes::foregroundColour).value<QColor>();
    EXPECT_EQ(colourAt(f.view(), 0), keyword);
    EXPECT_NE(colourAt(f.view(), 7), keyword);
    f.select(7, 1);
    QTest::keyClicks(&f.view(), "v");
    EXPECT_EQ(colourAt(f.view(), 7), keyword) << "bar became var on the same line";
    f.select(0, 1);
    QTest::keyClicks(&f.view(), "b");
    EXPECT_NE(colourAt(f.view(), 0), keyword);
    // What is stored is what the layout shows.
    const QList<QTextLayout::FormatRange> formats = f.view().document()->findBlockByNumber(1).layout()->formats();
    const bool keywordShown = std::any_of(formats.begin(), formats.end(), [&](const QTextLayout::FormatRange &r) {
        return r.start == 0 && r.length == 3 && r.format.foreground().color() == keyword;
    });
    EXPECT_TRUE(keywordShown);

    // A new keyword colour shows at once.
    f.defaults.setValue("KeywordsColourWell", "#ff00a000");
    const QList<QTextLayout::FormatRange> recoloured = f.view().document()->findBlockByNumber(1).layout()->formats();
    EXPECT_TRUE(std::any_of(recoloured.begin(), recoloured.end(), [](const QTextLayout::FormatRange &r) {
        return r.start == 0 && r.length == 3 && r.format.foreground().color() == QColor(0, 160, 0);
    }));
}

TEST(CEEditor, SettingCommandsAreSingleUndoSteps)
{
    EditorFixture f;
    f.editor.setString("a\r\nb\r\n");
    EXPECT_EQ(f.editor.settings().value(CEKeys::lineEndings).toInt(), 3);
    f.editor.changeLineEndings(1);
    f.turn();
    EXPECT_EQ(f.editor.stringWithLineEndings(), "a\nb\n");
    f.special.undo();
    EXPECT_EQ(f.editor.stringWithLineEndings(), "a\r\nb\r\n");
    EXPECT_EQ(f.editor.settings().value(CEKeys::lineEndings).toInt(), 3);
    f.special.redo();
    EXPECT_EQ(f.editor.stringWithLineEndings(), "a\nb\n");

    // Mixed endings: each line keeps its own, new lines take the style most lines have, and a
    // chosen style is given to every line (undone to the mixed ones).
    f.editor.setString("one\r\ntwo\nthree\r\n");
    EXPECT_TRUE(f.editor.hasMixedLineEndings());
    EXPECT_EQ(f.editor.settings().value(CEKeys::lineEndings).toInt(), 3);
    f.select(7);
    QTest::keyClick(&f.view(), Qt::Key_Return);
    QTest::keyClicks(&f.view(), "2b");
    f.select(0);
    QTest::keyClick(&f.view(), Qt::Key_Return);
    f.turn();
    EXPECT_EQ(f.editor.stringWithLineEndings(), "\r\none\r\ntwo\n2b\r\nthree\r\n");
    f.editor.changeLineEndings(3);
    f.turn();
    EXPECT_FALSE(f.editor.hasMixedLineEndings());
    EXPECT_EQ(f.editor.stringWithLineEndings(), "\r\none\r\ntwo\r\n2b\r\nthree\r\n");
    f.special.undo();
    EXPECT_EQ(f.editor.stringWithLineEndings(), "\r\none\r\ntwo\n2b\r\nthree\r\n");
    f.editor.setString("a\nb\r\n");
    f.select(1, 1);
    QTest::keyClick(&f.view(), Qt::Key_Delete);
    EXPECT_FALSE(f.editor.hasMixedLineEndings()) << "the one LF went";
    EXPECT_EQ(f.editor.stringWithLineEndings(), "ab\r\n");

    int notices = 0;
    QObject::connect(&f.editor, &CEEditor::textEncodingChanged, [&] { ++notices; });
    f.editor.changeEncoding("UTF-8");
    f.turn();
    f.editor.changeEncoding("ISO-8859-1");
    f.turn();
    f.special.undo();
    EXPECT_EQ(f.editor.settings().value(CEKeys::encodingName).toString(), "UTF-8");
    f.special.undo();
    EXPECT_FALSE(f.editor.settings().contains(CEKeys::encodingName)) << "the first change undoes to none";
    EXPECT_EQ(notices, 4);

    QMenu menu;
    f.editor.fillSyntaxDefinitionMenu(&menu);
    QStringList titles;
    for (QAction *a : menu.actions())
        titles << a->text();
    EXPECT_TRUE(titles.contains("JavaScript") && titles.contains("HTML") && titles.first() == "Standard") << titles.join(",").toStdString();
    menu.actions().at(titles.indexOf("HTML"))->trigger();
    EXPECT_EQ(f.editor.settings().value(CEKeys::syntaxDefinition).toString(), "HTML");
    EXPECT_TRUE(f.editor.settings().value(CEKeys::hasManuallyChangedSyntaxDefinition).toBool());
}

TEST(CEEditor, CompletionOffersCatalogueWords)
{
    EditorFixture f;
    f.editor.colouring()->setAdditionalKeywords({"alertDialog", "alphaValue"});
    f.editor.colouring()->applySyntaxDefinition();
    EXPECT_EQ(f.view().completions("ALP"), QStringList({"alphaValue"}));
    EXPECT_TRUE(f.view().completions("al").contains("alertDialog"));

    f.editor.setString("x = AlP");
    f.select(7);
    EXPECT_EQ(f.view().rangeForUserCompletion(), (CERange{4, 3}));
    f.view().complete();
    ASSERT_TRUE(f.view().completer()->popup()->isVisible());
    EXPECT_EQ(f.view().completer()->completionModel()->rowCount(), 1);
    QTest::keyClicks(&f.view(), "z");
    EXPECT_FALSE(f.view().completer()->popup()->isVisible()) << "no word begins with alpz";
    QTest::keyClick(&f.view(), Qt::Key_Backspace);
    f.view().complete();
    f.view().completer()->popup()->hide();
    emit f.view().completer()->activated("alphaValue");
    EXPECT_EQ(f.editor.string(), "x = alphaValue");

    // Suggested by itself after the delay, only at the end of a word.
    f.defaults.setValue("AutocompleteSuggestAutomatically", true);
    f.defaults.setValue("AutocompleteAfterDelay", 0.05);
    f.editor.setString("al;");
    f.select(1);
    QTest::keyClicks(&f.view(), "x");
    QTest::qWait(150);
    EXPECT_FALSE(f.view().completer()->popup()->isVisible()) << "inside a word";
    f.editor.setString("\n;");
    f.select(0);
    QTest::keyClicks(&f.view(), "al");
    EXPECT_TRUE(f.view().isCompletionTimerActive());
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return f.view().completer()->popup()->isVisible(); }, std::chrono::seconds(2)));

    f.view().completer()->popup()->hide();
    f.defaults.setValue("HighlightCurrentLine", true);
    f.editor.setString("// Greets the visitor by name.\nfunction greet(name) {\n  var text = 'Hello, ' + name;\n"
                       "  if (text.length > 40) {\n    return false;\n  }\n  al\n}\n");
    f.select(f.editor.string().indexOf("al\n") + 2);
    f.view().complete();
    ASSERT_TRUE(f.view().completer()->popup()->isVisible());
    QImage shot = f.host.grab().toImage();
    {
        QPainter painter(&shot);
        QWidget *popup = f.view().completer()->popup();
        painter.drawImage(f.host.mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab().toImage());
    }
    f.view().completer()->popup()->hide();
    ASSERT_TRUE(shot.save(artifactsDir() + "/editor-completion.png"));
}

TEST(CEEditor, DrawsCaretGuideGutterAndBraceFlash)
{
    EditorFixture f;
    f.defaults.setValue("TextColourWell", "#ffff0000");
    f.defaults.setValue("ShowPageGuide", true);
    f.defaults.setValue("ShowPageGuideAtColumn", 20);
    f.delegate.markedLine = 3;
    QString script = "function greet(name) {\n  // say hello\n  var s = \"Hello, \" + name;\n  alert(s);\n}\n";
    for (int i = 0; i < 8; ++i)
        script += QString("greet(\"%1\");\n").arg(i);
    f.editor.setString(script);
    f.select(5);
    f.view().setFocus();
    QApplication::processEvents();

    const QImage text = f.view().viewport()->grab().toImage();
    const QRect caret = f.view().cursorRect();
    EXPECT_EQ(text.pixelColor(caret.left(), caret.center().y()), QColor(255, 0, 0)) << "caret in the text colour";
    const int guide = int(f.view().pageGuideX());
    const int below = text.height() - 5;
    EXPECT_LT(text.pixelColor(guide, below).green(), 250) << "the page guide";
    EXPECT_GT(text.pixelColor(guide, below).red(), 150);
    EXPECT_EQ(text.pixelColor(guide + 4, below), QColor(Qt::white));

    // The gutter numbers every line; the host's mark on line 3 fills the number's row.
    CEGutterView *gutter = f.editor.gutterView();
    ASSERT_NE(gutter, nullptr);
    ASSERT_EQ(gutter->entries().size(), 14);
    EXPECT_EQ(gutter->entries().first().label, "1");
    EXPECT_EQ(gutter->entries().last().label, "14");
    const QImage numbers = gutter->grab().toImage();
    auto inkIn = [&](const CELineNumberEntry &entry) {
        int ink = 0;
        for (int y = int(entry.top) + 1; y < int(entry.top + entry.height) - 1; ++y)
            for (int x = 0; x < numbers.width() - 3; ++x)
                ink += numbers.pixelColor(x, y).lightness() < 200;
        return ink;
    };
    EXPECT_GT(inkIn(gutter->entries().at(0)), 3);
    EXPECT_EQ(numbers.pixelColor(2, int(gutter->entries().at(2).top) + 2), QColor(255, 0, 0));
    EXPECT_EQ(f.editor.colouring()->temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour,
                                                                       script.indexOf("  var")).value<QColor>(), QColor(255, 0, 0));

    f.delegate.markedLine = 0;
    f.editor.recolor();
    EXPECT_FALSE(f.editor.colouring()->temporaryAttributes().attributeAt(CETemporaryAttributes::backgroundColour,
                                                                          script.indexOf("  var")).isValid())
        << "recolouring drops a mark the host no longer gives";

    // A font change keeps the numbers' colour.
    QFont bigger = f.view().font();
    bigger.setPixelSize(16);
    f.defaults.setValue("TextFont", bigger.toString());
    QApplication::processEvents();
    const QImage after = gutter->grab().toImage();
    bool grey = false;
    const CELineNumberEntry first = gutter->entries().first();
    for (int y = int(first.top); y < int(first.top + first.height) && !grey; ++y)
        for (int x = 0; x < after.width() - 3 && !grey; ++x)
            grey = after.pixelColor(x, y).red() < 200 && std::abs(after.pixelColor(x, y).red() - after.pixelColor(x, y).blue()) < 8;
    EXPECT_TRUE(grey) << "grey numbers after the font change";

    // Typing ")" flashes its opener; moving by two does not.
    f.editor.setString("f(a");
    f.select(3);
    QTest::keyClicks(&f.view(), ")");
    EXPECT_EQ(f.view().flashedRange(), (CERange{1, 1}));
    const QImage flashed = f.view().viewport()->grab().toImage();
    const QRect opener = f.view().cursorRect([&] { QTextCursor c(f.view().document()); c.setPosition(1); return c; }());
    const QColor behind = flashed.pixelColor(opener.left() + 1, opener.bottom() - 1);
    EXPECT_GT(behind.red(), 200);
    EXPECT_LT(behind.blue(), 80) << "the yellow indicator";
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return f.view().flashedRange().location < 0; }, std::chrono::seconds(2)));
    f.select(2);
    f.select(4);
    EXPECT_EQ(f.view().flashedRange().location, -1);
    f.select(3);
    EXPECT_EQ(f.view().flashedRange(), (CERange{1, 1})) << "moving left onto a closer";
}

TEST(CEEditor, Sheets)
{
    EditorFixture f;
    f.editor.setString("one\n        two\nthree");
    f.host.resize(520, 260);

    f.editor.showGoToLineSheet();
    auto *goTo = f.host.findChild<QDialog *>("CEGoToLine");
    ASSERT_NE(goTo, nullptr);
    QTest::keyClicks(goTo->findChild<QLineEdit *>("line"), "2nd");
    QApplication::processEvents();
    ASSERT_TRUE(goTo->grab().save(artifactsDir() + "/goto-line-sheet.png"));
    goTo->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(f.view().selectedRange(), (CERange{4, 12}));

    f.select(0);
    f.editor.showGoToLineSheet();
    goTo = f.host.findChild<QDialog *>("CEGoToLine");
    ASSERT_NE(goTo, nullptr);
    goTo->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(f.view().selectedRange(), (CERange{0, 0})) << "cancel changes nothing";

    f.select(4, 12);
    f.editor.showEntabSheet();
    auto *entab = f.host.findChild<QDialog *>("CEEntab");
    ASSERT_NE(entab, nullptr);
    entab->findChild<QSpinBox *>("spaces")->setValue(8);
    ASSERT_TRUE(entab->grab().save(artifactsDir() + "/entab-sheet.png"));
    entab->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(f.editor.string(), "one\n\ttwo\nthree");
    EXPECT_EQ(f.defaults.integerValue("SpacesPerTabEntabDetab"), 8);
}

TEST(CEEditor, InvisibleCharactersAreMarked)
{
    EditorFixture f(QStringLiteral("None"));
    f.editor.setString("a\tb\nc");
    f.select(0);
    auto inkAfter = [&](qsizetype position) {
        QTextCursor at(f.view().document());
        at.setPosition(int(position));
        const QRect box = f.view().cursorRect(at);
        const QImage image = f.view().viewport()->grab().toImage();
        int ink = 0;
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left() + 1; x < box.left() + 6; ++x)
                ink += image.pixelColor(x, y).lightness() < 160;
        return ink;
    };
    EXPECT_EQ(inkAfter(1), 0);
    EXPECT_EQ(inkAfter(3), 0);
    f.defaults.setValue("ShowInvisibleCharacters", true);
    EXPECT_GT(inkAfter(1), 0) << "the tab's mark";
    EXPECT_GT(inkAfter(3), 0) << "the line end's mark";
    EXPECT_EQ(inkAfter(5), 0) << "no mark after the last line";
}

TEST(CEEditor, GutterWidensAndMarksWrappedLines)
{
    EditorFixture f(QStringLiteral("None"));
    f.editor.setString(QString(400, u'w') + "\nshort\n");
    const QList<CELineNumberEntry> entries = f.editor.gutterView()->entries();
    ASSERT_GE(entries.size(), 4);
    EXPECT_EQ(entries.at(0).label, "1");
    EXPECT_EQ(entries.at(1).label, "\u00B7") << "the wrapped rest of line 1";
    EXPECT_EQ(entries.at(entries.size() - 2).label, "2");
    EXPECT_EQ(entries.last().label, "3") << "the empty line after the final line break";

    const int before = f.view().x();
    EXPECT_EQ(before, 40);
    QString many;
    for (int i = 0; i < 100000; ++i)
        many += "x\n";
    f.editor.setString(many);
    const int wider = f.editor.settings().value(CEKeys::gutterWidth).toInt();
    EXPECT_EQ(wider, QFontMetrics(f.view().font()).horizontalAdvance("100001") + 20);
    EXPECT_EQ(f.view().x(), wider);
    f.editor.setString("x");
    EXPECT_EQ(f.view().x(), wider) << "the gutter never narrows";

    // Any text colour but black gets its own I-beam.
    EXPECT_EQ(CETextView::ibeamCursor(Qt::black).shape(), Qt::IBeamCursor);
    const QCursor red = CETextView::ibeamCursor(QColor(200, 0, 0));
    EXPECT_EQ(red.shape(), Qt::BitmapCursor);
    EXPECT_EQ(red.hotSpot(), QPoint(4, 9));
    EXPECT_EQ(red.pixmap().toImage().pixelColor(4, 9), QColor(200, 0, 0));
}

TEST(CEEditor, CommandsKeepSeveralSelectedRanges)
{
    EditorFixture f;
    f.editor.setString("a\nb\nc\nd\n");
    f.view().setSelectedRanges({{0, 1}, {4, 3}});
    EXPECT_TRUE(f.editor.commentOrUncomment());
    EXPECT_EQ(f.editor.string(), "//a\nb\n//c\n//d\n");
    EXPECT_EQ(f.view().selectedRanges(), QList<CERange>({{0, 4}, {6, 8}}));
    f.turn();
    EXPECT_EQ(f.special.undoActionName(), "Comment or Uncomment");
    EXPECT_TRUE(f.editor.commentOrUncomment());
    EXPECT_EQ(f.editor.string(), "a\nb\nc\nd\n");
    f.turn();
    f.special.undo();
    EXPECT_EQ(f.editor.string(), "//a\nb\n//c\n//d\n");
    f.special.undo();
    EXPECT_EQ(f.editor.string(), "a\nb\nc\nd\n") << "each command is one step";
}

// A run of typed characters is one undo step. It ends when typing pauses, when the user moves
// the caret and when a command runs.
TEST(CEEditor, TypingRunsEndWithAPauseAMovedCaretOrACommand)
{
    EditorFixture f;
    f.editor.setString("one two\n");
    f.select(3);
    QTest::keyClicks(&f.view(), "abc");
    f.turn();
    EXPECT_EQ(f.undo.undoCount(), 0) << "the run is still open";
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return f.undo.undoCount() == 1; }, std::chrono::seconds(5)))
        << "a pause ends the run";
    QTest::keyClicks(&f.view(), "d");
    QTextCursor start(f.view().document());
    QTest::mouseClick(f.view().viewport(), Qt::LeftButton, {}, f.view().cursorRect(start).center() + QPoint(1, 0));
    EXPECT_EQ(f.view().selectedRange(), (CERange{0, 0}));
    EXPECT_EQ(f.undo.undoCount(), 2) << "a click elsewhere ends the run";
    QTest::keyClicks(&f.view(), "e");
    f.turn();
    EXPECT_EQ(f.undo.undoCount(), 2);
    f.editor.shiftRight();
    f.turn();
    EXPECT_EQ(f.editor.string(), "\teoneabcd two\n");
    EXPECT_EQ(f.undo.undoCount(), 4) << "the command is a step of its own";
    const QStringList states{"eoneabcd two\n", "oneabcd two\n", "oneabc two\n", "one two\n"};
    for (const QString &state : states) {
        f.special.undo();
        EXPECT_EQ(f.editor.string(), state);
    }
}

// A double click inside a dotted or colon-joined name selects the part around the character
// under the pointer, wherever in the character the click lands.
TEST(CEEditor, DoubleClickSelectsThePartOfADottedName)
{
    EditorFixture f;
    const QString text = "x = page.button1.title + ns:tag;";
    f.editor.setString(text);
    const QFontMetrics metrics(f.view().font());
    auto doubleClick = [&](qsizetype position, bool rightHalf) {
        QTextCursor at(f.view().document());
        at.setPosition(int(position));
        const QRect box = f.view().cursorRect(at);
        const int width = metrics.horizontalAdvance(text.at(position));
        const int x = box.left() + (rightHalf ? width * 3 / 4 : width / 4);
        QTest::mouseDClick(f.view().viewport(), Qt::LeftButton, {}, QPoint(x, box.center().y()));
        const CERange selected = f.view().selectedRange();
        return text.mid(selected.location, selected.length);
    };
    for (bool rightHalf : {false, true}) {
        EXPECT_EQ(doubleClick(text.indexOf("button1") + 2, rightHalf), "button1") << rightHalf;
        EXPECT_EQ(doubleClick(text.indexOf("page") + 3, rightHalf), "page") << "its last letter " << rightHalf;
        EXPECT_EQ(doubleClick(text.indexOf("button1") + 6, rightHalf), "button1") << rightHalf;
        EXPECT_EQ(doubleClick(text.indexOf("title"), rightHalf), "title") << "its first letter " << rightHalf;
        EXPECT_EQ(doubleClick(text.indexOf("tag") + 2, rightHalf), "tag") << rightHalf;
        EXPECT_EQ(doubleClick(text.indexOf("ns") + 1, rightHalf), "ns") << rightHalf;
        EXPECT_EQ(doubleClick(0, rightHalf), "x") << "a plain word " << rightHalf;
    }
}

// Ctrl+F opens the find bar under the text with the focus in its field; Return and F3 find
// the next match, Shift+F3 the previous one, wrapping around; the case toggle narrows the
// matches; Replace replaces the selected match and moves on; Replace All is one undo step;
// Escape closes the bar and gives the focus back to the text.
TEST(CEEditor, FindBarFindsAndReplaces)
{
    EditorFixture f;
    f.editor.setString("alpha Beta alpha\nALPHA beta\n");
    f.select(0);
    QTest::keyClick(&f.view(), Qt::Key_F, Qt::ControlModifier);
    auto *bar = f.host.findChild<QWidget *>("CEFindBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    auto *field = bar->findChild<QLineEdit *>("findField");
    auto *replacement = bar->findChild<QLineEdit *>("replaceField");
    auto *matchCase = bar->findChild<QCheckBox *>("matchCase");
    auto *replace = bar->findChild<QAbstractButton *>("replaceButton");
    auto *replaceAll = bar->findChild<QAbstractButton *>("replaceAllButton");
    ASSERT_TRUE(field && replacement && matchCase && replace && replaceAll);
    EXPECT_TRUE(field->hasFocus());
    EXPECT_LE(f.view().geometry().bottom(), bar->geometry().top()) << "the text makes room for the bar";

    QTest::keyClicks(field, "alpha");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(f.view().selectedRange(), (CERange{0, 5}));
    QTest::keyClick(field, Qt::Key_F3);
    EXPECT_EQ(f.view().selectedRange(), (CERange{11, 5}));
    QTest::keyClick(field, Qt::Key_F3);
    EXPECT_EQ(f.view().selectedRange(), (CERange{17, 5})) << "any case by default";
    QTest::keyClick(field, Qt::Key_F3);
    EXPECT_EQ(f.view().selectedRange(), (CERange{0, 5})) << "round to the start";
    QTest::keyClick(field, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(f.view().selectedRange(), (CERange{17, 5})) << "back round to the end";
    QTest::mouseClick(matchCase, Qt::LeftButton);
    EXPECT_TRUE(matchCase->isChecked());
    QTest::keyClick(field, Qt::Key_F3);
    EXPECT_EQ(f.view().selectedRange(), (CERange{0, 5})) << "ALPHA no longer matches";

    QTest::keyClicks(replacement, "omega");
    QTest::mouseClick(replace, Qt::LeftButton);
    EXPECT_EQ(f.editor.string(), "omega Beta alpha\nALPHA beta\n");
    EXPECT_EQ(f.view().selectedRange(), (CERange{11, 5})) << "on to the next match";
    f.turn();
    QTest::mouseClick(matchCase, Qt::LeftButton);
    QTest::mouseClick(replaceAll, Qt::LeftButton);
    EXPECT_EQ(f.editor.string(), "omega Beta omega\nomega beta\n");
    f.turn();
    EXPECT_EQ(f.special.undoActionName(), "Replace All");
    f.special.undo();
    EXPECT_EQ(f.editor.string(), "omega Beta alpha\nALPHA beta\n") << "Replace All is one step";
    ASSERT_TRUE(f.host.grab().save(artifactsDir() + "/find-bar.png"));

    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(f.view().hasFocus());
    EXPECT_EQ(f.view().geometry().bottom(), f.host.height() - 1) << "the text has the room back";
}

// Replace All over a few thousand matches is one edit: the host hears of one change, one undo
// brings back the text and the selection exactly, one redo the replaced text and its selection.
// Matches the host guards stay; case follows Match Case.
TEST(CEEditor, ReplaceAllOverManyMatchesIsOneEdit)
{
    EditorFixture f;
    QString text = QStringLiteral("// Total: keep this line\n");
    for (int i = 0; i < 3000; ++i)
        text += QStringLiteral("var total%1 = Total + total * %1; // TOTAL\n").arg(i);
    f.editor.setString(text);
    f.delegate.guarded = text.indexOf(u'\n');
    f.editor.showFindBar();
    auto *bar = f.host.findChild<QWidget *>("CEFindBar");
    ASSERT_NE(bar, nullptr);
    bar->findChild<QLineEdit *>("findField")->setText("total");
    bar->findChild<QLineEdit *>("replaceField")->setText("sum");
    // The selection runs from inside the first body line's first match into the second line's
    // second one.
    const qsizetype body = f.delegate.guarded + 1;
    const qsizetype secondLine = text.indexOf(u'\n', body) + 1;
    const CERange before{body + 6, text.indexOf("Total", secondLine) + 2 - (body + 6)};
    f.select(before.location, before.length);
    f.turn();
    const int changesBefore = f.delegate.changes;

    const QString expected = text.left(body) + QString(text.mid(body)).replace("total", "sum", Qt::CaseInsensitive);
    EXPECT_EQ(f.editor.replaceAll(), 4 * 3000) << "the guarded first line's match is passed over";
    EXPECT_EQ(f.editor.string(), expected);
    EXPECT_EQ(f.delegate.changes - changesBefore, 1) << "one change for the host, not one a match";
    EXPECT_TRUE(f.editor.settings().value(CEKeys::isEdited).toBool());
    // From the start of the first match's replacement to the end of the one the selection ended in.
    const qsizetype afterStart = body + 4;
    const qsizetype afterEnd = expected.indexOf("sum", expected.indexOf(u'\n', body) + 1);
    const CERange after{afterStart, expected.indexOf("sum", afterEnd + 1) + 3 - afterStart};
    EXPECT_EQ(f.view().selectedRange(), after);
    f.turn();
    EXPECT_EQ(f.special.undoActionName(), "Replace All");

    f.special.undo();
    EXPECT_EQ(f.editor.string(), text) << "one undo takes back every replacement";
    EXPECT_EQ(f.view().selectedRange(), before);
    EXPECT_EQ(f.delegate.changes - changesBefore, 2);
    f.special.redo();
    EXPECT_EQ(f.editor.string(), expected);
    EXPECT_EQ(f.view().selectedRange(), after);
    f.special.undo();
    EXPECT_EQ(f.editor.string(), text);
    EXPECT_EQ(f.delegate.changes - changesBefore, 4);

    // With Match Case only the lower-case matches, and the colours follow the new text.
    QTest::mouseClick(bar->findChild<QCheckBox *>("matchCase"), Qt::LeftButton);
    f.turn();
    const QString exact = text.left(body) + QString(text.mid(body)).replace("total", "sum");
    EXPECT_EQ(f.editor.replaceAll(), 2 * 3000);
    EXPECT_EQ(f.editor.string(), exact);
    EXPECT_EQ(f.editor.colouring()->string(), exact);
    f.turn();
    f.special.undo();
    EXPECT_EQ(f.editor.string(), text);
    EXPECT_EQ(f.editor.colouring()->string(), text);
}

// A line of 100,000 characters (a minified script) gets its colours where it is in view and a
// margin around it, not along its whole length: its layout, made again on every key, stays as
// costly as a short line's formats make it. What comes into view, by typing or scrolling, is
// coloured as the colouring says.
TEST(CEEditor, ALongLineIsColouredWhereItIsInView)
{
    EditorFixture f;
    QString longLine;
    for (int i = 0; longLine.size() < 100'000; ++i)
        longLine += QStringLiteral("var a%1=b(%1,'x');").arg(i);
    const QString head = QStringLiteral("var x = 1;\n");
    f.editor.setString(head + longLine + "\n" + head);
    const QTextBlock block = f.view().document()->findBlockByNumber(1);
    // The string nearest a place of the long line, its colour in the layout and in the colouring.
    auto coloursAgree = [&](qsizetype near) {
        const qsizetype string = block.text().indexOf("'x'", near) + 1;
        const qsizetype at = block.position() + string;
        const QColor expected = colourAt(f.view(), at);
        EXPECT_TRUE(expected.isValid()) << "the string at " << string << " is coloured";
        QColor shown;
        for (const QTextLayout::FormatRange &format : block.layout()->formats())
            if (format.start <= string && string < format.start + format.length)
                shown = format.format.foreground().color();
        EXPECT_EQ(shown, expected) << "in the layout at " << string;
    };
    auto formatsSpan = [&] {
        qsizetype from = longLine.size(), to = 0;
        for (const QTextLayout::FormatRange &format : block.layout()->formats()) {
            from = std::min<qsizetype>(from, format.start);
            to = std::max<qsizetype>(to, format.start + format.length);
        }
        return to - from;
    };

    const qsizetype middle = longLine.size() / 2;
    f.select(block.position() + middle);
    f.view().ensureCursorVisible();
    f.turn();
    QTest::keyClick(&f.view(), Qt::Key_Z);
    f.turn();
    EXPECT_EQ(f.editor.string().mid(block.position() + middle, 1), "z");
    EXPECT_LT(formatsSpan(), 30'000) << "the colours cover the part in view, not the whole line";
    coloursAgree(middle);

    const qsizetype nearEnd = longLine.size() - 200;
    f.select(block.position() + nearEnd);
    f.view().ensureCursorVisible();
    f.turn();
    EXPECT_LT(formatsSpan(), 30'000);
    coloursAgree(nearEnd);
    f.select(0);
    f.view().ensureCursorVisible();
    f.turn();
    coloursAgree(0);
}

// A line of 100,000 characters without a space (a picture written into a style sheet) wraps
// where the view ends, however it comes to be laid out: opened, typed into, in a wider view,
// in another font, shortened and lengthened again. Wrapping it at word boundaries looked for
// one to the end of the line for each line made: a key there took most of a second. Shorter
// lines still wrap at word boundaries, and the document keeps its own wrap mode.
TEST(CEEditor, ALongLineWithoutSpacesWrapsWhereTheViewEnds)
{
    EditorFixture f;
    QString bare;
    while (bare.size() < 100'000)
        bare += QStringLiteral("iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB");
    const QString words = QStringLiteral("a few words that wrap at their spaces ").repeated(6);
    f.editor.setString(words + "\n" + bare + "\n" + words + "\n");
    QTextDocument &document = *f.view().document();
    const QTextBlock block = document.findBlockByNumber(1);
    auto wrapsAtTheEdge = [&](const char *after, QTextOption::WrapMode expected = QTextOption::WrapAnywhere) {
        f.view().ensureCursorVisible();
        f.turn(); // the view draws the line, laying it out
        const QTextLayout *layout = block.layout();
        ASSERT_GT(layout->lineCount(), expected == QTextOption::WrapAnywhere ? 100 : 0) << after;
        EXPECT_EQ(layout->textOption().wrapMode(), expected) << after;
        for (int i = 0; i < layout->lineCount(); ++i)
            EXPECT_LE(layout->lineAt(i).naturalTextWidth(), f.view().viewport()->width()) << after << ", line " << i;
        for (const int number : {0, 2}) {
            const QTextBlock wordy = document.findBlockByNumber(number);
            document.documentLayout()->blockBoundingRect(wordy);
            EXPECT_EQ(wordy.layout()->textOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere) << after;
            for (int i = 0; i + 1 < wordy.layout()->lineCount(); ++i) {
                const QTextLine line = wordy.layout()->lineAt(i);
                EXPECT_TRUE(wordy.text().mid(line.textStart(), line.textLength()).endsWith(u' '))
                    << after << ": line " << i << " of block " << number << " ends at a space";
            }
        }
        EXPECT_EQ(document.defaultTextOption().wrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere) << after;
    };
    wrapsAtTheEdge("opened");

    const qsizetype middle = block.position() + bare.size() / 2;
    f.select(middle);
    f.view().ensureCursorVisible();
    f.turn();
    QTest::keyClicks(&f.view(), "xyz");
    EXPECT_EQ(f.editor.string().mid(middle, 3), "xyz");
    wrapsAtTheEdge("typed into");
    f.host.resize(700, 300);
    wrapsAtTheEdge("in a wider view");
    QFont font = f.view().font();
    font.setPixelSize(font.pixelSize() > 0 ? font.pixelSize() + 3 : 16);
    f.view().setFont(font);
    wrapsAtTheEdge("in another font");

    f.turn();
    f.select(block.position() + 10, block.length() - 11);
    QTest::keyClick(&f.view(), Qt::Key_Backspace);
    ASSERT_EQ(block.length(), 11);
    wrapsAtTheEdge("shortened", QTextOption::WrapAtWordBoundaryOrAnywhere);
    f.turn();
    f.special.undo();
    ASSERT_EQ(block.length() - 1, bare.size() + 3);
    wrapsAtTheEdge("lengthened again");
}

// The text's context menu offers undo and redo of its history, find and the text commands.
TEST(CEEditor, ContextMenuOffersTheTextCommands)
{
    EditorFixture f;
    f.editor.setString("a\nb\n");
    f.select(3);
    QTest::keyClicks(&f.view(), "c");
    f.select(0, 3);
    QStringList titles;
    bool undoEnabled = false;
    bool shown = false;
    onNextPopup([&](QMenu *menu) {
        shown = true;
        titles = menuTitles(menu);
        if (QAction *undo = menuAction(menu, "&Undo"))
            undoEnabled = undo->isEnabled();
        if (QAction *comment = menuAction(menu, "Comment or Uncomment"))
            comment->trigger();
        menu->grab().save(artifactsDir() + "/context-menu.png");
    });
    const QPoint at = f.view().cursorRect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, f.view().viewport()->mapToGlobal(at));
    QApplication::sendEvent(f.view().viewport(), &event);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return shown; }));
    for (const char *title : {"&Undo", "Cu&t", "&Paste", "Find…", "Shift Right", "Shift Left", "Comment or Uncomment",
                              "Upper Case", "Lower Case", "Capitalise", "Transpose", "Remove Needless Whitespace",
                              "Remove Line Endings", "Entab…", "Detab…", "Close Tag", "Prepare for XML", "Go to Line…"})
        EXPECT_TRUE(titles.contains(title)) << title << " in " << titles.join(", ").toStdString();
    EXPECT_TRUE(undoEnabled) << "the typing can be undone from here";
    EXPECT_EQ(f.editor.string(), "//a\n//bc\n");
}

// The text's own settings (syntax, encoding, reload, line endings) are menus wherever the text
// was read from a file: in the main menu, filled from the editor the focus is in, and in the
// text's context menu. A text of no file (a function) has none. The find bar's buttons say what
// they do to a screen reader.
TEST(CEEditor, TheTextsSettingsAreMenusAndTheFindBarNamesItsButtons)
{
    EditorFixture f;
    f.editor.setString("a\nb\n");
    const QStringList settingsMenus{"syntaxDefinitionMenu", "encodingMenu", "reloadEncodingMenu", "lineEndingsMenu"};
    for (const QString &identifier : settingsMenus) {
        EXPECT_TRUE(CETextMenuController::isSettingsMenu(identifier)) << identifier.toStdString();
        EXPECT_FALSE(CETextMenuController::validateSettingsMenu(identifier, &f.view())) << identifier.toStdString();
    }
    QMenu context;
    CETextMenuController::addToContextMenu(&context, f.editor);
    EXPECT_FALSE(menuTitles(&context).contains("Encoding"));

    f.editor.setEncoding(QStringLiteral("UTF-8"));
    QMenu menu;
    for (const QString &identifier : settingsMenus) {
        EXPECT_TRUE(CETextMenuController::validateSettingsMenu(identifier, &f.view())) << identifier.toStdString();
        EXPECT_FALSE(CETextMenuController::validateSettingsMenu(identifier, nullptr)) << identifier.toStdString();
    }
    CETextMenuController::fillSettingsMenu(QStringLiteral("lineEndingsMenu"), &menu, &f.view());
    EXPECT_EQ(menuTitles(&menu), (QStringList{"Unix (LF)", "Mac (CR)", "Windows (CR LF)"}));
    menuAction(&menu, "Windows (CR LF)")->trigger();
    EXPECT_EQ(f.editor.settings().value(CEKeys::lineEndings).toInt(), 3);
    CETextMenuController::fillSettingsMenu(QStringLiteral("encodingMenu"), &menu, &f.view());
    menuAction(&menu, "ISO-8859-1")->trigger();
    EXPECT_EQ(f.editor.settings().value(CEKeys::encodingName).toString(), QStringLiteral("ISO-8859-1"));
    QStringList reloads;
    QObject::connect(&f.editor, &CEEditor::reloadTextRequested, [&reloads](const QString &name) { reloads << name; });
    CETextMenuController::fillSettingsMenu(QStringLiteral("reloadEncodingMenu"), &menu, &f.view());
    menuAction(&menu, "windows-1252")->trigger();
    EXPECT_EQ(reloads, QStringList{"windows-1252"});
    CETextMenuController::fillSettingsMenu(QStringLiteral("syntaxDefinitionMenu"), &menu, &f.view());
    ASSERT_TRUE(menuAction(&menu, "CSS"));
    menuAction(&menu, "CSS")->trigger();
    EXPECT_EQ(f.editor.settings().value(CEKeys::syntaxDefinition).toString(), QStringLiteral("CSS"));
    CETextMenuController::fillSettingsMenu(QStringLiteral("syntaxDefinitionMenu"), &menu, nullptr);
    EXPECT_TRUE(menu.actions().isEmpty());
    QMenu fileContext;
    CETextMenuController::addToContextMenu(&fileContext, f.editor);
    for (const char *title : {"Syntax Colouring", "Encoding", "Reload with Encoding", "Line Endings"})
        EXPECT_TRUE(menuTitles(&fileContext).contains(title)) << title;

    f.editor.showFindBar();
    for (const auto &[name, title] : {std::pair{"findPreviousButton", "Find Previous"}, {"findNextButton", "Find Next"},
                                      {"closeButton", "Close Find Bar"}}) {
        auto *button = f.editor.findBar()->findChild<QToolButton *>(QString::fromLatin1(name));
        ASSERT_TRUE(button) << name;
        EXPECT_EQ(button->accessibleName(), QString::fromUtf8(title));
        EXPECT_TRUE(button->toolTip().startsWith(QString::fromUtf8(title))) << button->toolTip().toStdString();
    }
}

namespace {

// The regions a widget is painted in, from when it is watched; onPaint runs before each paint.
struct PaintWatch : QObject
{
    explicit PaintWatch(QWidget *widget) { widget->installEventFilter(this); }
    QRegion painted;
    std::function<void()> onPaint;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        painted += static_cast<QPaintEvent *>(event)->region();
        if (onPaint)
            onPaint();
        return false;
    }
};

// The window as it was last put on screen (the backing store), within a widget.
QImage onScreen(QWidget &widget)
{
    const QRect area(widget.mapTo(widget.window(), QPoint(0, 0)), widget.size());
    return QGuiApplication::primaryScreen()->grabWindow(widget.window()->winId()).toImage().copy(area);
}

// Shows a script of `lines` lines, each a declaration, a string and a comment, in a taller view.
QString showNotes(EditorFixture &f, int lines)
{
    f.host.resize(520, 400);
    QString script;
    for (int i = 0; i < lines; ++i)
        script += QStringLiteral("var value%1 = \"text\"; // note %1\n").arg(i);
    f.editor.setString(script);
    return script;
}

} // namespace

// Typing within a line draws that line again and nothing else: neither the rest of the view nor
// the gutter, whose numbers stay. The line then shows the colours a recolour of the whole view
// gives it. After a scroll the gutter draws only the rows that changed, and what is on screen is
// what drawing it afresh puts there.
TEST(CEEditor, TypingDrawsOnlyItsLine)
{
    EditorFixture f;
    const QString script = showNotes(f, 80);
    const qsizetype line5 = script.indexOf(QStringLiteral("var value5 "));
    f.select(line5 + 4);
    f.view().setFocus();
    QApplication::processEvents();

    PaintWatch text(f.view().viewport());
    PaintWatch gutter(f.editor.gutterView());
    QTest::keyClicks(&f.view(), "if");
    QApplication::processEvents();
    const QTextBlock block = f.view().document()->findBlock(int(line5));
    const QRect lineBox = f.view().blockBoundingGeometry(block).translated(f.view().contentOffset()).toAlignedRect();
    EXPECT_FALSE(text.painted.isEmpty());
    EXPECT_LE(text.painted.boundingRect().height(), lineBox.height() + 4) << "only the typed line is drawn";
    EXPECT_TRUE(text.painted.boundingRect().intersects(lineBox));
    EXPECT_TRUE(gutter.painted.isEmpty()) << "the numbers stay as they were";

    const QList<QTextLayout::FormatRange> typed = block.layout()->formats();
    EXPECT_FALSE(typed.isEmpty());
    f.editor.recolor();
    EXPECT_EQ(block.layout()->formats(), typed) << "the colours of a recolour of the whole view";

    f.view().verticalScrollBar()->setValue(f.view().verticalScrollBar()->value() + 7);
    QApplication::processEvents();
    const QImage scrolled = onScreen(*f.editor.gutterView());
    EXPECT_EQ(f.editor.gutterView()->entries().first().label, "8");
    f.editor.gutterView()->update();
    QApplication::processEvents();
    EXPECT_EQ(scrolled, onScreen(*f.editor.gutterView()));
}

// A key's line is on screen before the key's event has ended, in the colours it moved with the
// text; where the colouring then finds others (a keyword broken, a string opened), the line is
// drawn again. A key that wraps the line onto another moves the lines below. Each time, what is
// on screen (text and gutter) is what drawing the view afresh gives, in the colours of a
// recolour of the whole view, and the text is what was typed.
TEST(CEEditor, ATypedLineIsDrawnAtOnceAndAgainWhereItsColoursChange)
{
    EditorFixture f;
    const QString script = showNotes(f, 40);
    const qsizetype line5 = script.indexOf(QStringLiteral("var value5 "));
    const QTextBlock block = f.view().document()->findBlock(int(line5));
    QList<QTextLayout::FormatRange> drawn;
    int paints = 0;
    PaintWatch watch(f.view().viewport());
    watch.onPaint = [&] {
        if (paints++ == 0)
            drawn = block.layout()->formats();
    };

    // Each edit is a range of the line ("var value5 = \"text\"; // note 5" at first) and what is
    // typed over it.
    struct Case
    {
        const char *what;
        std::function<CERange(const QString &line)> range;
        QString typed;
        enum { Kept, Changed, Wrapped } colours;
    };
    const QList<Case> cases{
        {"inside a string", [](const QString &line) { return CERange{line.indexOf(u'"') + 3, 0}; }, "a", Case::Kept},
        {"after a keyword, breaking it", [](const QString &) { return CERange{3, 0}; }, "x", Case::Changed},
        {"at the line's start", [](const QString &) { return CERange{0, 0}; }, " ", Case::Kept},
        {"over a string's end and into a comment",
         [](const QString &line) {
             const qsizetype from = line.indexOf(QStringLiteral("xt\""));
             return CERange{from, line.indexOf(QStringLiteral("ote")) - from};
         },
         "q", Case::Changed},
        {"at the line's end, on until it wraps", [](const QString &line) { return CERange{line.size(), 0}; },
         QString(60, u'w'), Case::Wrapped},
    };
    QString expected = script;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const CERange inLine = c.range(block.text());
        const CERange range{block.position() + inLine.location, inLine.length};
        f.select(range.location, range.length);
        QApplication::processEvents();
        paints = 0;
        expected.replace(range.location, range.length, c.typed);
        QTest::keyClicks(&f.view(), c.typed);
        EXPECT_GE(paints, 1) << "drawn within the key's own event";
        QApplication::processEvents();
        EXPECT_EQ(f.editor.string(), expected);
        EXPECT_EQ(f.view().document()->toPlainText(), expected);
        const QList<QTextLayout::FormatRange> kept = block.layout()->formats();
        if (c.colours == Case::Kept) {
            EXPECT_EQ(drawn, kept) << "the colours drawn at once are the ones the line keeps";
            EXPECT_EQ(paints, 1) << "and the line is not drawn again";
        } else if (c.colours == Case::Changed) {
            EXPECT_NE(drawn, kept);
        } else {
            EXPECT_GT(block.lineCount(), 1);
        }
        const QImage shown = onScreen(*f.view().viewport());
        const QImage numbers = onScreen(*f.editor.gutterView());
        f.editor.recolor();
        EXPECT_EQ(block.layout()->formats(), kept) << "the colours of a recolour of the whole view";
        f.view().viewport()->update();
        f.editor.gutterView()->update();
        QApplication::processEvents();
        EXPECT_EQ(shown, onScreen(*f.view().viewport())) << "what is on screen is what a fresh drawing gives";
        EXPECT_EQ(numbers, onScreen(*f.editor.gutterView()));
    }
}

// A block comment typed open in a line runs on over the lines below it, up to its end, as a
// recolour of the whole text shows it.
TEST(CEEditor, ABlockCommentTypedOpenRunsOnOverTheLinesBelow)
{
    EditorFixture f;
    QString script;
    for (int i = 0; i < 400; ++i)
        script += i % 8 == 0 ? QStringLiteral("/* note %1 */\n").arg(i) : QStringLiteral("var value%1 = 2;\n").arg(i);
    f.editor.setString(script);
    const qsizetype lineEnd = script.indexOf(QStringLiteral("\nvar value204"));
    f.select(lineEnd);
    f.view().centerCursor();
    QApplication::processEvents();
    QTest::keyClick(&f.view(), Qt::Key_Return);
    QTest::keyClicks(&f.view(), "var s = \"abc\"; // note");
    QTest::keyClick(&f.view(), Qt::Key_Return);
    QTest::keyClicks(&f.view(), "/* open");
    QApplication::processEvents();
    CESyntaxColouring &colouring = *f.editor.colouring();
    const QString text = f.editor.string();
    EXPECT_EQ(constructAt(colouring, text.indexOf(QStringLiteral("value205"))), "comment");
    EXPECT_EQ(constructAt(colouring, text.indexOf(QStringLiteral("var value207"))), "comment");
    EXPECT_EQ(constructAt(colouring, text.indexOf(QStringLiteral("var value209"))), "keyword");
}

// The view's scroll bar looks as a plain one in the same state, also after a scroll.
TEST(CEEditor, TheScrollBarLooksAsAPlainOne)
{
    EditorFixture f;
    QString script;
    for (int i = 0; i < 300; ++i)
        script += QStringLiteral("var value%1 = 2;\n").arg(i);
    f.editor.setString(script);
    QApplication::processEvents();
    QScrollBar *bar = f.view().verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    // In the same window, away from the pointer.
    QScrollBar plain(Qt::Vertical, &f.host);
    plain.move(200, 0);
    plain.show();
    const auto same = [&] {
        plain.resize(bar->size());
        plain.setRange(bar->minimum(), bar->maximum());
        plain.setPageStep(bar->pageStep());
        plain.setValue(bar->value());
        return bar->grab().toImage() == plain.grab().toImage();
    };
    EXPECT_TRUE(same());
    bar->setValue(bar->maximum() / 3);
    QApplication::processEvents();
    EXPECT_TRUE(same()) << "scrolled";
}

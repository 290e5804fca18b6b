#include <core/ui/KRWindowControllerBase.h>

#include <KRTestSupport.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A custom widget that takes the commands through invokable methods.
class Surface : public QWidget
{
    Q_OBJECT

public:
    QStringList received;
    Q_INVOKABLE void copy() { received << QStringLiteral("copy"); }
    Q_INVOKABLE void del() { received << QStringLiteral("del"); }
};

struct Window {
    KRWindowControllerBase controller;
    QWidget *window = new QWidget;
    QLineEdit *field = new QLineEdit(QStringLiteral("Hello world"));
    QPlainTextEdit *text = new QPlainTextEdit(QStringLiteral("one two"));
    Surface *surface = new Surface;
    QWidget *child = new QWidget(surface);

    Window()
    {
        auto *layout = new QVBoxLayout(window);
        layout->addWidget(field);
        layout->addWidget(text);
        layout->addWidget(surface);
        child->setFocusPolicy(Qt::StrongFocus);
        controller.setWindow(window);
        window->show();
        QApplication::setActiveWindow(window);
    }
    void focus(QWidget *w)
    {
        w->setFocus();
        EXPECT_TRUE(KRTest::processEventsUntil([&] { return window->focusWidget() == w; }));
    }
};

} // namespace

// Copy takes exactly the field's selection, as the standard command does.
TEST(KRWindowControllerBase, EditActionsReachTheFocusedTextWidget)
{
    Window w;
    w.focus(w.field);
    w.field->setSelection(6, 5);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    w.controller.krCopyAction();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("world"));
    EXPECT_EQ(w.field->text(), QStringLiteral("Hello world"));

    w.controller.krCutAction();
    EXPECT_EQ(w.field->text(), QStringLiteral("Hello "));
    w.controller.krSelectAllAction();
    w.controller.krPasteAction();
    EXPECT_EQ(w.field->text(), QStringLiteral("world"));

    w.focus(w.text);
    QTextCursor cursor = w.text->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    w.text->setTextCursor(cursor);
    w.controller.krDeleteAction();
    EXPECT_EQ(w.text->toPlainText(), QStringLiteral("two"));
    EXPECT_EQ(w.field->text(), QStringLiteral("world")); // only the focused widget
}

// A command the focused widget lacks goes up to the nearest ancestor that has it.
TEST(KRWindowControllerBase, CommandsTravelUpToAWidgetThatTakesThem)
{
    Window w;
    w.focus(w.child);
    w.controller.krCopyAction();
    w.controller.krDeleteAction();
    EXPECT_EQ(w.surface->received, (QStringList{QStringLiteral("copy"), QStringLiteral("del")}));
    EXPECT_FALSE(KRWindowControllerBase::sendEditCommand(w.window, KRWindowControllerBase::EditCommand::Paste));
}

#include "tst_KRWindowControllerBase.moc"

#include <core/ui/KRWindowControllerBase.h>

#include <KRTestSupport.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A custom widget that takes commands through invokable methods.
class Surface : public QWidget
{
    Q_OBJECT

public:
    QStringList received;
    Q_INVOKABLE void copy() { received << QStringLiteral("copy"); }
};

} // namespace

// Commands go to the focused widget only; copy takes exactly the field's selection as the
// standard command does; a command the focused widget lacks goes up to an ancestor.
TEST(KRWindowControllerBase, EditActionsReachTheFocusedWidget)
{
    KRWindowControllerBase controller;
    auto *window = new QWidget;
    auto *field = new QLineEdit(QStringLiteral("Hello world"));
    auto *text = new QPlainTextEdit(QStringLiteral("one two"));
    auto *surface = new Surface;
    auto *inner = new QWidget(surface);
    inner->setFocusPolicy(Qt::StrongFocus);
    auto *layout = new QVBoxLayout(window);
    for (QWidget *w : {static_cast<QWidget *>(field), static_cast<QWidget *>(text), static_cast<QWidget *>(surface)})
        layout->addWidget(w);
    controller.setWindow(window);
    window->show();
    QApplication::setActiveWindow(window);
    const auto focus = [&](QWidget *w) {
        w->setFocus();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return window->focusWidget() == w; }));
    };

    focus(field);
    field->setSelection(6, 5);
    controller.krCopyAction();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("world"));
    controller.krCutAction();
    controller.krSelectAllAction();
    controller.krPasteAction();
    EXPECT_EQ(field->text(), QStringLiteral("world"));

    focus(text);
    QTextCursor cursor = text->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(4, QTextCursor::KeepAnchor);
    text->setTextCursor(cursor);
    controller.krDeleteAction();
    EXPECT_EQ(text->toPlainText(), QStringLiteral("two"));
    EXPECT_EQ(field->text(), QStringLiteral("world"));

    focus(inner);
    controller.krCopyAction();
    EXPECT_EQ(surface->received, QStringList{QStringLiteral("copy")});
    EXPECT_FALSE(KRWindowControllerBase::sendEditCommand(window, KRWindowControllerBase::EditCommand::Paste));
}

#include "tst_KRWindowControllerBase.moc"

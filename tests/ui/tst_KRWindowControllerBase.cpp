#include <ui/KRMainMenu.h>
#include <ui/KRWindowControllerBase.h>

#include <KRTestSupport.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
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

// A secondary window answers the shared Edit menu: each command is enabled exactly where the
// focused widget can carry it out (a selection to cut or copy, an editable field to paste
// into, never a read-only field), reaches that widget when chosen, and Close closes the
// window.
TEST(KRWindowControllerBase, AnswersTheEditMenuForItsWindow)
{
    KRMainMenu &menu = KRMainMenu::shared();
    const QStringList identifiers{QStringLiteral("cut"), QStringLiteral("copy"), QStringLiteral("paste"),
                                  QStringLiteral("delete"), QStringLiteral("selectAll"), QStringLiteral("closeWindow")};
    for (const QString &identifier : identifiers)
        menu.addCommand(identifier == QLatin1String("closeWindow") ? QStringLiteral("File") : QStringLiteral("Edit"),
                        identifier, identifier);
    const auto enabled = [&] {
        menu.validate();
        QStringList on;
        for (const QString &identifier : identifiers)
            if (menu.action(identifier)->isEnabled())
                on << identifier;
        return on.join(u' ');
    };

    auto controller = std::make_unique<KRWindowControllerBase>();
    auto *window = new QWidget;
    auto *field = new QLineEdit(QStringLiteral("Hello world"));
    auto *shown = new QLineEdit(QStringLiteral("read only"));
    shown->setReadOnly(true);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(field);
    layout->addWidget(shown);
    controller->setWindow(window);
    controller->showWindow();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::activeWindow() == window; }));

    field->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return window->focusWidget() == field; }));
    field->deselect();
    EXPECT_EQ(enabled(), QStringLiteral("paste selectAll closeWindow"));
    field->setSelection(6, 5);
    EXPECT_EQ(enabled(), QStringLiteral("cut copy paste delete selectAll closeWindow"));
    EXPECT_TRUE(menu.perform(QStringLiteral("copy")));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("world"));
    EXPECT_TRUE(menu.perform(QStringLiteral("delete")));
    EXPECT_EQ(field->text(), QStringLiteral("Hello "));

    shown->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return window->focusWidget() == shown; }));
    shown->selectAll();
    EXPECT_EQ(enabled(), QStringLiteral("copy selectAll closeWindow"));

    // While the keys walk the menu bar and then an open menu, each of which takes the keyboard,
    // the commands stay with the field the user works in (which loses its selection to the bar,
    // as it does to any other widget).
    field->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::focusWidget() == field; }));
    QMenuBar *bar = menu.createMenuBar(window);
    bar->show();
    bar->setFocus(Qt::MenuBarFocusReason);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::focusWidget() == bar; }));
    EXPECT_EQ(enabled(), QStringLiteral("paste selectAll closeWindow"));
    auto *edit = qobject_cast<QMenu *>(menu.action(QStringLiteral("copy"))->parent());
    ASSERT_TRUE(edit);
    edit->popup(window->mapToGlobal(QPoint(0, 0)));
    edit->setFocus(Qt::PopupFocusReason);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::focusWidget() == edit; }));
    EXPECT_EQ(enabled(), QStringLiteral("paste selectAll closeWindow"));
    edit->hide();
    field->setFocus(Qt::MenuBarFocusReason);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::focusWidget() == field; }));
    field->setSelection(0, 5);
    EXPECT_EQ(enabled(), QStringLiteral("cut copy paste delete selectAll closeWindow"));

    // A minimised window comes back when shown again.
    window->showMinimized();
    ASSERT_TRUE(window->windowState() & Qt::WindowMinimized);
    controller->showWindow();
    EXPECT_FALSE(window->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(window->isVisible());

    EXPECT_TRUE(menu.perform(QStringLiteral("closeWindow")));
    EXPECT_FALSE(window->isVisible());
    // Once the controller is gone its window no longer answers.
    window->show();
    QApplication::setActiveWindow(window);
    controller.reset();
    EXPECT_EQ(enabled(), QString());
}

#include "tst_KRWindowControllerBase.moc"

#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/appkit/KRPopover.h>

#include <KRTestSupport.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

KRAlert saveAlert()
{
    KRAlert alert;
    alert.messageText = QStringLiteral("Do you want to save the changes made to the page?");
    alert.informativeText = QStringLiteral("Your changes will be lost if you don't save them.");
    alert.buttonTitles = {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don't Save")};
    return alert;
}

// Runs the alert and hands the box, once up, to `act`, which must end it.
int runWith(const KRAlert &alert, const std::function<void(QMessageBox *)> &act)
{
    QTimer::singleShot(0, [&] {
        KRTest::processEventsUntil([] { return QApplication::activeModalWidget() != nullptr; });
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        act(box);
    });
    return KRMessageBoxAlertService().runModal(alert);
}

void click(QMessageBox *box, const QString &title)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == title)
            return QTest::mouseClick(button, Qt::LeftButton);
    }
    ADD_FAILURE() << "no button " << title.toStdString();
}

} // namespace

// The answer is the button's place in the order added, whatever the platform's layout;
// Return takes the first button, Escape the "Cancel" one.
TEST(KRMessageBoxAlertService, AnswersThousandPlusButtonIndex)
{
    const KRAlert alert = saveAlert();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(runWith(alert, [&](QMessageBox *box) { click(box, alert.buttonTitles[i]); }), 1000 + i);
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }), 1000);
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }), 1001);
}

// A sheet on the active window; the check box's state reaches the caller whichever button
// ends the alert.
TEST(KRMessageBoxAlertService, SheetWithSuppressionBox)
{
    QWidget window;
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::activeWindow() == &window; }));
    KRAlert alert = saveAlert();
    alert.suppressionButtonTitle = QStringLiteral("Do not show this message again");
    const int code = runWith(alert, [&](QMessageBox *box) {
        EXPECT_EQ(box->parentWidget(), &window);
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        ASSERT_NE(box->checkBox(), nullptr);
        QTest::mouseClick(box->checkBox(), Qt::LeftButton);
        EXPECT_TRUE(box->grab().save(KRTest::artifactsDir(QStringLiteral("appkit")) + QStringLiteral("/alert-with-suppression.png")));
        click(box, QStringLiteral("Don't Save"));
    });
    EXPECT_EQ(code, 1002);
    EXPECT_TRUE(*alert.suppressionButtonChecked);

    runWith(alert, [](QMessageBox *box) {
        EXPECT_TRUE(box->checkBox()->isChecked()); // shown as the caller left it
        QTest::mouseClick(box->checkBox(), Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_FALSE(*alert.suppressionButtonChecked);
}

// An alert asked from inside a transient pop-over, as a settings form does when a choice needs
// confirming: the pop-over stays open and alive under the box (which gets the clicks, the
// pop-over no longer grabbing them), and is transient again once answered. A close asked for
// while the box is up is reported only after it, so that a pop-over deleted on `closed` does
// not take the asking controller with it in the box's event loop.
TEST(KRMessageBoxAlertService, PopoverStaysOpenAndAliveWhileItsQuestionIsUp)
{
    QWidget window;
    window.resize(600, 400);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::activeWindow() == &window; }));
    QPointer<KRPopover> popover = new KRPopover(&window);
    popover->setBehavior(KRPopover::Behavior::Transient);
    auto *choice = new QComboBox;
    choice->addItems({QStringLiteral("Fixed"), QStringLiteral("Customized")});
    popover->setContentWidget(choice);
    // Deleted when it closes, with the controller of its content, as the project window does.
    QPointer<QObject> controller = new QObject(popover);
    QObject::connect(popover, &KRPopover::closed, popover, &QObject::deleteLater);
    popover->showRelativeToRect(QRect(10, 10, 40, 20), &window, KRPopover::RightEdge);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(popover));
    ASSERT_EQ(QApplication::activePopupWidget(), popover.data());

    KRAlert alert;
    alert.messageText = QStringLiteral("Switch to fixed objects?");
    alert.buttonTitles = {QStringLiteral("Discard Customizations"), QStringLiteral("Cancel")};
    const int code = runWith(alert, [&](QMessageBox *box) {
        ASSERT_TRUE(popover);
        EXPECT_TRUE(popover->isVisible());
        EXPECT_TRUE(popover->isHeld());
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr); // the box has the mouse and keys
        EXPECT_EQ(box->parentWidget(), &window);
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        click(box, QStringLiteral("Cancel"));
        QApplication::processEvents();
        EXPECT_TRUE(controller);
    });
    EXPECT_EQ(code, 1001);
    ASSERT_TRUE(popover);
    EXPECT_TRUE(controller);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_FALSE(popover->isHeld());
    // A pop-up again once the window it points into is active again.
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return QApplication::activePopupWidget() == popover.data(); }));
    EXPECT_EQ(popover->windowType(), Qt::Popup);
    EXPECT_TRUE(popover->isVisible());

    // Closed while the box is up: hidden at once, reported (and so deleted) after the answer.
    QSignalSpy closed(popover.data(), &KRPopover::closed);
    runWith(alert, [&](QMessageBox *box) {
        popover->close();
        EXPECT_FALSE(popover->isVisible());
        click(box, QStringLiteral("Discard Customizations"));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(controller);
        EXPECT_EQ(closed.count(), 0);
    });
    EXPECT_TRUE(controller);
    EXPECT_EQ(closed.count(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(popover.isNull());
    EXPECT_TRUE(controller.isNull());
}

// A question that removes something: neither Return, Escape, the close button, a cancel (as
// quitting does) nor the end of its window answers with the destructive first button; a
// question without "Cancel" is escaped with its last button.
TEST(KRMessageBoxAlertService, OnlyAClickChoosesTheDestructiveButton)
{
    KRAlert alert;
    alert.messageText = QStringLiteral("Remove Device?");
    alert.buttonTitles = {QStringLiteral("Remove Device"), QStringLiteral("Keep Device")};
    alert.destructive = true;
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }), 1001);
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }), 1001);
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) { box->close(); }), 1001);
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) {
        EXPECT_TRUE(KRMessageBoxAlertService::hasOpenQuestions());
        EXPECT_TRUE(KRMessageBoxAlertService::cancelOpenQuestions());
        Q_UNUSED(box);
    }), 1001);
    EXPECT_FALSE(KRMessageBoxAlertService::hasOpenQuestions());
    EXPECT_FALSE(KRMessageBoxAlertService::cancelOpenQuestions());
    EXPECT_EQ(runWith(alert, [](QMessageBox *box) { click(box, QStringLiteral("Remove Device")); }), 1000);

    // The window the question was asked on goes while it is up.
    auto *window = new QWidget;
    window->show();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::activeWindow() == window; }));
    EXPECT_EQ(runWith(alert, [&](QMessageBox *box) {
        EXPECT_EQ(box->parentWidget(), window);
        delete window;
    }), 1001);

    // Not destructive: Return takes the first button, Escape the last when none is "Cancel".
    KRAlert add;
    add.messageText = QStringLiteral("Add to cssIncludes?");
    add.buttonTitles = {QStringLiteral("Add"), QStringLiteral("Skip")};
    EXPECT_EQ(runWith(add, [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }), 1000);
    EXPECT_EQ(runWith(add, [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }), 1001);
}

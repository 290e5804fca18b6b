#include <platform/appkit/KRMessageBoxAlertService.h>

#include <KRTestSupport.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
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

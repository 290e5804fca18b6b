#include <platform/appkit/KRMessageBoxAlertService.h>

#include <KRTestSupport.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

namespace {

KRAlert threeButtonAlert()
{
    KRAlert alert;
    alert.messageText = QStringLiteral("Do you want to save the changes made to the page?");
    alert.informativeText = QStringLiteral("Your changes will be lost if you don't save them.");
    alert.buttonTitles = {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don't Save")};
    return alert;
}

// Runs the alert and, once the box is up, hands it to `act`, which must close it.
int runWith(const KRAlert &alert, std::function<void(QMessageBox *)> act, QWidget **parentSeen = nullptr)
{
    bool acted = false;
    QTimer::singleShot(0, [&] {
        KRTest::processEventsUntil([] { return qobject_cast<QMessageBox *>(QApplication::activeModalWidget()); });
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        if (parentSeen)
            *parentSeen = box->parentWidget();
        acted = true;
        act(box);
    });
    KRMessageBoxAlertService service;
    const int code = service.runModal(alert);
    EXPECT_TRUE(acted);
    return code;
}

QAbstractButton *buttonTitled(QMessageBox *box, const QString &title)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == title)
            return button;
    }
    ADD_FAILURE() << "no button " << title.toStdString();
    return nullptr;
}

} // namespace

// The answer is the button's place in the order added, whatever the platform's layout.
TEST(KRMessageBoxAlertService, AnswersThousandPlusButtonIndex)
{
    const KRAlert alert = threeButtonAlert();
    for (int i = 0; i < 3; ++i) {
        const QString title = alert.buttonTitles.at(i);
        const int code = runWith(alert, [&](QMessageBox *box) {
            QTest::mouseClick(buttonTitled(box, title), Qt::LeftButton);
        });
        EXPECT_EQ(code, 1000 + i) << title.toStdString();
    }
}

TEST(KRMessageBoxAlertService, ReturnTakesTheFirstButtonAndEscapeTheCancelButton)
{
    EXPECT_EQ(runWith(threeButtonAlert(), [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); }),
              KRAlertService::FirstButtonReturn);
    EXPECT_EQ(runWith(threeButtonAlert(), [](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Escape); }),
              KRAlertService::SecondButtonReturn);
}

// Without buttons there is one "OK"; the box is window-modal on the active window.
TEST(KRMessageBoxAlertService, DefaultButtonAndSheetOnTheActiveWindow)
{
    QWidget window;
    window.resize(300, 200);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::activeWindow() == &window; }));

    KRAlert alert;
    alert.messageText = QStringLiteral("Plain");
    QWidget *parent = nullptr;
    QStringList titles;
    Qt::WindowModality modality = Qt::NonModal;
    const int code = runWith(alert, [&](QMessageBox *box) {
        for (QAbstractButton *b : box->buttons())
            titles << b->text();
        modality = box->windowModality();
        QTest::keyClick(box, Qt::Key_Escape);
    }, &parent);
    EXPECT_EQ(code, 1000);
    EXPECT_EQ(titles, QStringList{QStringLiteral("OK")});
    EXPECT_EQ(parent, &window);
    EXPECT_EQ(modality, Qt::WindowModal);
}

// The check box's state reaches the caller whichever button ends the alert.
TEST(KRMessageBoxAlertService, ReportsTheSuppressionBoxState)
{
    KRAlert alert = threeButtonAlert();
    alert.suppressionButtonTitle = QStringLiteral("Do not show this message again");
    ASSERT_FALSE(*alert.suppressionButtonChecked);

    const int code = runWith(alert, [](QMessageBox *box) {
        ASSERT_NE(box->checkBox(), nullptr);
        EXPECT_EQ(box->checkBox()->text(), QStringLiteral("Do not show this message again"));
        QTest::mouseClick(box->checkBox(), Qt::LeftButton);
        box->adjustSize();
        const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/appkit");
        QDir().mkpath(dir);
        EXPECT_TRUE(box->grab().save(dir + QStringLiteral("/alert-with-suppression.png")));
        QTest::mouseClick(buttonTitled(box, QStringLiteral("Don't Save")), Qt::LeftButton);
    });
    EXPECT_EQ(code, KRAlertService::ThirdButtonReturn);
    EXPECT_TRUE(*alert.suppressionButtonChecked);

    // Ticked going in, unticked by the user on the Cancel path.
    const int cancelled = runWith(alert, [](QMessageBox *box) {
        EXPECT_TRUE(box->checkBox()->isChecked());
        QTest::mouseClick(box->checkBox(), Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_Escape);
    });
    EXPECT_EQ(cancelled, KRAlertService::SecondButtonReturn);
    EXPECT_FALSE(*alert.suppressionButtonChecked);
}

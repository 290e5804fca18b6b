#include <widgets/help/KRHelpButtonController.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

namespace {

// A row like an inspector row: a label and a field make the hover area, the help button
// sits at the right end.
struct Row
{
    QWidget host;
    QLabel *label = new QLabel(QStringLiteral("Title"));
    QLineEdit *field = new QLineEdit;
    QToolButton *button = new QToolButton;
    std::unique_ptr<KRHelpButtonController> controller;

    Row()
    {
        auto *layout = new QHBoxLayout(&host);
        layout->addWidget(label);
        layout->addWidget(field, 1);
        layout->addWidget(button);
        host.resize(300, 60);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        controller = std::make_unique<KRHelpButtonController>(&host, QRect(), button, QList<QWidget *>{label, field},
                                                              KRPopover::LeftEdge, [] { return QString(); });
        controller->setFadeDuration(40);
    }

    QPoint outside() const { return QPoint(host.width() - 2, host.height() - 2); }
    double opacity() const { return controller->helpButtonOpacity(); }
    bool opacityBecomes(double value)
    {
        return KRTest::processEventsUntil([&] { return qFuzzyCompare(1 + opacity(), 1 + value); }, std::chrono::seconds(2));
    }
};

TEST(KRHelpButtonHover, FadesInAfterTheDelayAndOutOnLeaving)
{
    Row row;
    EXPECT_EQ(row.controller->trackingRect(), row.label->geometry().united(row.field->geometry()));
    QTest::mouseMove(&row.host, row.field->geometry().center());
    EXPECT_TRUE(row.controller->isPointerInside());
    QTest::qWait(50);
    EXPECT_EQ(row.opacity(), 0.0);
    EXPECT_TRUE(row.opacityBecomes(KRHelpButtonController::ShownOpacity));

    QTest::mouseMove(row.field, QPoint(3, 3)); // over a control: still inside
    QTest::qWait(100);
    EXPECT_EQ(row.opacity(), KRHelpButtonController::ShownOpacity);
    QTest::mouseMove(&row.host, row.outside());
    EXPECT_TRUE(row.opacityBecomes(0.0));
}

TEST(KRHelpButtonHover, NeverShowsWhenLeftEarlyReenteredOrHidden)
{
    Row row;
    QTest::mouseMove(&row.host, row.field->geometry().center());
    QTest::qWait(40);
    QTest::mouseMove(&row.host, row.outside());
    EXPECT_FALSE(row.controller->isFadeInPending());

    // A second entry while a fade-in is pending (the area rebuilt under the pointer) leaves
    // no timer behind that would show the button after the pointer has gone.
    row.controller->mouseEntered();
    QTest::qWait(40);
    row.controller->mouseEntered();
    row.controller->mouseExited();
    QTest::qWait(250);
    EXPECT_EQ(row.opacity(), 0.0);

    row.button->hide();
    QTest::mouseMove(&row.host, row.field->geometry().center());
    QTest::qWait(200);
    EXPECT_EQ(row.opacity(), 0.0);
    QTest::mouseMove(&row.host, row.outside());

    row.button->show();
    row.label->hide();
    row.field->hide();
    EXPECT_TRUE(row.controller->trackingRect().isEmpty());
    QTest::mouseMove(&row.host, QPoint(100, 30));
    QTest::qWait(200);
    EXPECT_EQ(row.opacity(), 0.0);
}

TEST(KRHelpButtonHover, AreaFollowsTheControlsAndStaysInsideTheHost)
{
    Row row;
    const QRect before = row.controller->trackingRect();
    row.host.resize(500, 80);
    QCoreApplication::processEvents();
    const QRect after = row.controller->trackingRect();
    EXPECT_EQ(after, row.label->geometry().united(row.field->geometry()));
    ASSERT_GT(after.right(), before.right() + 100);
    QTest::mouseMove(&row.host, QPoint(after.right() - 2, after.center().y()));
    EXPECT_TRUE(row.opacityBecomes(KRHelpButtonController::ShownOpacity));

    row.field->move(450, row.field->y()); // partly beyond the host's right side
    EXPECT_EQ(row.controller->trackingRect().right(), row.host.rect().right());
}

TEST(KRHelpButtonImage, ShipsTheHelpButtonPictures)
{
    const QImage image = KRHelpButtonController::helpButtonImage().toImage();
    ASSERT_EQ(image.size(), QSize(22, 22));
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(image.pixelColor(11, 3).alpha(), 255);
    EXPECT_EQ(QPixmap(QStringLiteral(":/krhelp/helpButton@2x.png")).size(), QSize(44, 44));
}

} // namespace

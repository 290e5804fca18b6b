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

    explicit Row(bool withLayout = true)
    {
        button->setIcon(QIcon(KRHelpButtonController::helpButtonImage()));
        if (withLayout) {
            auto *layout = new QHBoxLayout(&host);
            layout->addWidget(label);
            layout->addWidget(field, 1);
            layout->addWidget(button);
        } else {
            for (QWidget *w : {static_cast<QWidget *>(label), static_cast<QWidget *>(field), static_cast<QWidget *>(button)})
                w->setParent(&host);
            label->setGeometry(10, 10, 60, 20);
            field->setGeometry(80, 10, 150, 20);
            button->setGeometry(250, 10, 22, 22);
        }
        host.resize(300, 60);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        controller = std::make_unique<KRHelpButtonController>(
            &host, QRect(), button, QList<QWidget *>{label, field}, KRPopover::LeftEdge,
            [] { return QStringLiteral("<p>Help</p>"); });
        controller->setFadeDuration(40);
    }

    QRect expectedArea() const { return label->geometry().united(field->geometry()).intersected(host.rect()); }
    QPoint inside() const { return field->geometry().center(); }
    QPoint outside() const { return QPoint(host.width() - 2, host.height() - 2); }
    bool opacityBecomes(double value)
    {
        return KRTest::processEventsUntil([&] { return qFuzzyCompare(1 + controller->helpButtonOpacity(), 1 + value); },
                                          std::chrono::seconds(2));
    }
};

TEST(KRHelpButtonHover, FadesInAfterTheDelayAndOutOnLeaving)
{
    Row row;
    EXPECT_EQ(row.controller->trackingRect(), row.expectedArea());
    EXPECT_EQ(row.controller->helpButtonOpacity(), 0.0);

    QTest::mouseMove(&row.host, row.inside());
    EXPECT_TRUE(row.controller->isPointerInside());
    QTest::qWait(50);
    EXPECT_EQ(row.controller->helpButtonOpacity(), 0.0);
    EXPECT_TRUE(row.opacityBecomes(KRHelpButtonController::ShownOpacity));

    // Moving over the controls keeps it shown.
    QTest::mouseMove(row.field, QPoint(3, 3));
    QTest::qWait(150);
    EXPECT_EQ(row.controller->helpButtonOpacity(), KRHelpButtonController::ShownOpacity);

    QTest::mouseMove(&row.host, row.outside());
    EXPECT_FALSE(row.controller->isPointerInside());
    EXPECT_TRUE(row.opacityBecomes(0.0));
}

TEST(KRHelpButtonHover, LeavingOrReenteringBeforeTheDelayNeverShowsTheButton)
{
    Row row;
    QTest::mouseMove(&row.host, row.inside());
    QTest::qWait(40);
    QTest::mouseMove(&row.host, row.outside());
    EXPECT_FALSE(row.controller->isFadeInPending());
    QTest::qWait(250);
    EXPECT_EQ(row.controller->helpButtonOpacity(), 0.0);

    // A second entry while a fade-in is pending (the area rebuilt under the pointer) leaves
    // no timer behind that would show the button after the pointer has gone.
    row.controller->mouseEntered();
    QTest::qWait(40);
    row.controller->mouseEntered();
    row.controller->mouseExited();
    QTest::qWait(250);
    EXPECT_EQ(row.controller->helpButtonOpacity(), 0.0);
}

TEST(KRHelpButtonHover, HiddenButtonOrHiddenControlsNeverFadeIn)
{
    Row row;
    row.button->hide();
    QTest::mouseMove(&row.host, row.inside());
    QTest::qWait(250);
    EXPECT_EQ(row.controller->helpButtonOpacity(), 0.0);
    QTest::mouseMove(&row.host, row.outside());

    row.button->show();
    row.label->hide();
    row.field->hide();
    QCoreApplication::processEvents();
    EXPECT_TRUE(row.controller->trackingRect().isEmpty());
    QTest::mouseMove(&row.host, QPoint(100, 30));
    QTest::qWait(250);
    EXPECT_EQ(row.controller->helpButtonOpacity(), 0.0);
}

TEST(KRHelpButtonHover, AreaFollowsTheControlsWhenTheHostOrAControlChanges)
{
    Row row;
    const QRect before = row.controller->trackingRect();
    row.host.resize(500, 80);
    QCoreApplication::processEvents();
    EXPECT_NE(row.controller->trackingRect(), before);
    EXPECT_EQ(row.controller->trackingRect(), row.expectedArea());

    // The pointer where only the widened field now is: the button fades in.
    QTest::mouseMove(&row.host, QPoint(row.field->geometry().right() - 2, row.field->geometry().center().y()));
    EXPECT_GT(row.field->geometry().right() - 2, before.right());
    EXPECT_TRUE(row.opacityBecomes(KRHelpButtonController::ShownOpacity));

    // A control moved partly out of the host: the area is clipped to the host.
    Row loose(false);
    loose.field->move(200, 10);
    QCoreApplication::processEvents();
    EXPECT_EQ(loose.controller->trackingRect(), QRect(10, 10, 290, 20));
}

TEST(KRHelpButtonImage, ShipsTheHelpButtonPictures)
{
    const QPixmap image = KRHelpButtonController::helpButtonImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(22, 22));
    EXPECT_EQ(QPixmap(QStringLiteral(":/krhelp/helpButton@2x.png")).size(), QSize(44, 44));
    // The face is drawn, the corners are clear.
    const QImage pixels = image.toImage();
    EXPECT_EQ(pixels.pixelColor(0, 0).alpha(), 0);
    EXPECT_EQ(pixels.pixelColor(11, 3).alpha(), 255);
}

} // namespace

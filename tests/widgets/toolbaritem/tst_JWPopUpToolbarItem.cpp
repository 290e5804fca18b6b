// Press-and-hold tracking driven with QTest, and the item inside a real toolbar.

#include <widgets/toolbaritem/JWDelayedPopUpButton.h>
#include <widgets/toolbaritem/JWPopUpToolbarItem.h>

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>

using namespace std::chrono_literals;

namespace {

// Long enough that the waits below stay well inside or well past it on a loaded machine.
constexpr auto kDelay = 500ms;

struct Fixture {
    QMainWindow window;
    QToolBar *toolBar = new QToolBar;
    QMenu menu;
    JWPopUpToolbarItem *item = new JWPopUpToolbarItem(QStringLiteral("Run"), &window);
    JWDelayedPopUpButton *button = nullptr;

    Fixture()
    {
        window.addToolBar(toolBar);
        toolBar->setIconSize(QSize(32, 32));
        menu.addAction(QStringLiteral("Run in Browser"));
        item->setPopUpMenu(&menu);
        item->setHoldDelay(kDelay);
        toolBar->addAction(item);
        window.resize(300, 120);
        window.show();
        button = item->buttonIn(toolBar);
    }
};

QImage runImage()
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 140, 60));
    painter.setPen(Qt::NoPen);
    painter.drawPolygon(QPolygonF({QPointF(16, 8), QPointF(56, 32), QPointF(16, 56)}));
    return image;
}

} // namespace

TEST(JWDelayedPopUpButton, ClickSendsTheActionOnceAndHoldOpensTheMenuInstead)
{
    Fixture f;
    ASSERT_NE(f.button, nullptr);
    EXPECT_EQ(f.button->size(), QSize(32, 32));
    QSignalSpy triggered(f.item, &QAction::triggered);
    QSignalSpy shown(&f.menu, &QMenu::aboutToShow);

    // A quick click: the action once, no menu, also after the delay has gone by.
    QTest::mouseClick(f.button, Qt::LeftButton, {}, QPoint(16, 16));
    QTest::qWait(int(kDelay.count()) + 200);
    EXPECT_EQ(triggered.size(), 1);
    EXPECT_EQ(shown.size(), 0);

    // Held still: the menu pops up 1 right and 5.5 below the button; the release sends nothing.
    QTest::mousePress(f.button, Qt::LeftButton, {}, QPoint(16, 16));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return shown.size() == 1; }, 5s));
    EXPECT_EQ(f.menu.pos(), f.button->mapToGlobal(QPoint(1, 32 + 6)));
    EXPECT_FALSE(f.button->isDown());
    QTest::mouseRelease(f.button, Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_EQ(triggered.size(), 1);
    f.menu.hide();

    // The next press is an ordinary click again.
    QTest::mouseClick(f.button, Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_EQ(triggered.size(), 2);
}

TEST(JWDelayedPopUpButton, EveryMoveRestartsTheHoldAndLeavingEndsThePress)
{
    Fixture f;
    QSignalSpy triggered(f.item, &QAction::triggered);
    QSignalSpy shown(&f.menu, &QMenu::aboutToShow);

    // Moved at 300 ms, checked at 600 ms: past the delay from the press, not from the move.
    QTest::mousePress(f.button, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::qWait(300);
    QMouseEvent move(QEvent::MouseMove, QPointF(14, 12), f.button->mapToGlobal(QPointF(14, 12)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.button, &move);
    QTest::qWait(300);
    EXPECT_EQ(shown.size(), 0);
    QTest::mouseRelease(f.button, Qt::LeftButton, {}, QPoint(14, 12));
    EXPECT_EQ(triggered.size(), 1);

    // Dragged out and back in: neither menu nor action.
    QTest::mousePress(f.button, Qt::LeftButton, {}, QPoint(10, 10));
    for (QPointF p : {QPointF(60, 10), QPointF(10, 10)}) {
        QMouseEvent drag(QEvent::MouseMove, p, f.button->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.button, &drag);
    }
    QTest::qWait(int(kDelay.count()) + 200);
    QTest::mouseRelease(f.button, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(shown.size(), 0);
    EXPECT_EQ(triggered.size(), 1);
}

TEST(JWDelayedPopUpButton, WithoutAMenuAHoldIsAnOrdinaryClick)
{
    Fixture f;
    f.item->setPopUpMenu(nullptr);
    QSignalSpy triggered(f.item, &QAction::triggered);
    QSignalSpy popped(f.button, &JWDelayedPopUpButton::menuPoppedUp);

    QTest::mousePress(f.button, Qt::LeftButton, {}, QPoint(16, 16));
    QTest::qWait(int(kDelay.count()) + 200);
    EXPECT_TRUE(f.button->isDown());
    QTest::mouseRelease(f.button, Qt::LeftButton, {}, QPoint(16, 16));
    EXPECT_EQ(popped.size(), 0);
    EXPECT_EQ(triggered.size(), 1);
}

TEST(JWPopUpToolbarItem, ImageFollowsTheToolbarSizeAndValidationEnables)
{
    Fixture f;
    f.item->setToolTip(QStringLiteral("Run the project"));
    f.item->setImage(runImage());
    EXPECT_EQ(f.item->regularImage().size(), QSize(32, 32));
    EXPECT_EQ(f.item->smallImage().size(), QSize(24, 24));
    EXPECT_EQ(f.button->toolTip(), QStringLiteral("Run the project"));

    const auto shownSize = [&] {
        return f.button->icon().pixmap(f.button->iconSize()).deviceIndependentSize().toSize();
    };
    EXPECT_EQ(shownSize(), QSize(32, 32));
    f.toolBar->setIconSize(QSize(24, 24));
    EXPECT_EQ(shownSize(), QSize(24, 24));
    EXPECT_EQ(f.button->size(), QSize(32, 32));

    f.toolBar->setIconSize(QSize(32, 32));
    KRTest::saveScreenshot(f.window, QStringLiteral("widgets"), QStringLiteral("toolbar-item.png"));

    // No validator: enabled. A validator that refuses disables the button too.
    f.item->setEnabled(false);
    f.item->validate();
    EXPECT_TRUE(f.button->isEnabled());
    f.item->setValidator([](const JWPopUpToolbarItem &item) { return item.itemIdentifier() != QStringLiteral("Run"); });
    f.item->validate();
    EXPECT_FALSE(f.button->isEnabled());
}

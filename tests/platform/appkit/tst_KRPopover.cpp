#include "AppKitTestSupport.h"

#include <platform/appkit/KRPopover.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>

namespace {

const QRect kScreen(0, 0, 1000, 800);

KRPopover::Placement place(const QRect &anchor, KRPopover::Edge edge)
{
    return KRPopover::placement(anchor, QSize(200, 100), edge, kScreen);
}

TEST(KRPopoverPlacement, OpensBesideTheAnchorFlippingAndClampingNearTheScreenBorders)
{
    const QRect anchor(400, 300, 100, 40);
    const auto left = place(anchor, KRPopover::LeftEdge);
    EXPECT_EQ(left.frame, QRect(400 - 217, 319 - 54, 217, 108));
    EXPECT_EQ(left.frame.top() + left.arrowCenter, anchor.center().y());
    EXPECT_EQ(place(anchor, KRPopover::RightEdge).frame.left(), anchor.right() + 1);
    const auto below = place(anchor, KRPopover::BottomEdge);
    EXPECT_EQ(below.frame, QRect(449 - 104, 340, 208, 117));
    EXPECT_EQ(below.frame.left() + below.arrowCenter, anchor.center().x());
    EXPECT_EQ(place(anchor, KRPopover::TopEdge).frame.bottom(), anchor.top() - 1);

    // No room on the preferred side: the opposite one.
    EXPECT_EQ(place(QRect(50, 300, 40, 20), KRPopover::LeftEdge).edge, KRPopover::RightEdge);
    EXPECT_EQ(place(QRect(900, 300, 40, 20), KRPopover::RightEdge).frame.right(), 899);
    EXPECT_EQ(place(QRect(400, 760, 40, 20), KRPopover::BottomEdge).edge, KRPopover::TopEdge);
    EXPECT_EQ(place(QRect(400, 10, 40, 20), KRPopover::TopEdge).edge, KRPopover::BottomEdge);

    // In a corner the body slides inside the screen; the arrow stays on its straight side.
    const auto corner = place(QRect(990, 780, 10, 20), KRPopover::BottomEdge);
    EXPECT_EQ(corner.edge, KRPopover::TopEdge);
    EXPECT_TRUE(kScreen.contains(corner.frame));
    EXPECT_EQ(corner.arrowCenter, corner.frame.width() - KRPopover::CornerRadius - KRPopover::ArrowHalfWidth);

    // Room on neither side: the preferred side, pushed inside.
    const auto wide = place(QRect(150, 300, 700, 20), KRPopover::LeftEdge);
    EXPECT_EQ(wide.edge, KRPopover::LeftEdge);
    EXPECT_EQ(wide.frame.left(), 0);
}

struct Host
{
    QWidget window;
    QWidget *anchor = new QWidget(&window);

    Host()
    {
        window.resize(600, 400);
        anchor->setGeometry(250, 150, 100, 30);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    KRPopover *popover(KRPopover::Behavior behavior, KRPopover::Edge edge)
    {
        auto *popover = new KRPopover(&window);
        popover->setBehavior(behavior);
        popover->setContentWidget(new QLabel(QStringLiteral("Pop-over content")));
        popover->setContentSize(QSize(180, 70));
        popover->showRelativeToRect(anchor->rect(), anchor, edge);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(popover));
        return popover;
    }
};

TEST(KRPopoverWindow, TransientClosesOnAClickOutsideApplicationDefinedOnlyWhenClosed)
{
    Host host;
    KRPopover *transient = host.popover(KRPopover::Behavior::Transient, KRPopover::BottomEdge);
    QSignalSpy closed(transient, &KRPopover::closed);
    EXPECT_EQ(transient->windowType(), Qt::Popup);
    EXPECT_EQ(transient->geometry().top(), host.anchor->mapToGlobal(QPoint(0, 30)).y());
    EXPECT_EQ(transient->contentWidget()->size(), QSize(180, 70));
    QTest::mouseClick(transient->contentWidget(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(transient->isShown());
    QTest::mouseClick(transient, Qt::LeftButton, {}, QPoint(-40, -40));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !transient->isShown(); }, std::chrono::seconds(2)));
    EXPECT_EQ(closed.count(), 1);

    KRPopover *stays = host.popover(KRPopover::Behavior::ApplicationDefined, KRPopover::RightEdge);
    QSignalSpy staysClosed(stays, &KRPopover::closed);
    QTest::mouseClick(&host.window, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::qWait(50);
    EXPECT_TRUE(stays->isShown());
    stays->close();
    EXPECT_EQ(staysClosed.count(), 1);
}

// A pop-over goes with its window; a command key of the window's menus closes it and runs the
// command (a bare key the content leaves alone does not).
TEST(KRPopoverWindow, GoesWithItsWindowAndLetsTheWindowsCommandKeysThrough)
{
    Host host;
    auto *bar = new QMenuBar(&host.window);
    QMenu *file = bar->addMenu(QStringLiteral("File"));
    QAction *quit = file->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction *remove = file->addAction(QStringLiteral("Delete"));
    remove->setShortcut(QKeySequence(Qt::Key_Delete));
    QSignalSpy quits(quit, &QAction::triggered);
    QSignalSpy removes(remove, &QAction::triggered);

    KRPopover *popover = host.popover(KRPopover::Behavior::Transient, KRPopover::BottomEdge);
    QSignalSpy closed(popover, &KRPopover::closed);
    QTest::keyClick(popover->contentWidget(), Qt::Key_Delete);
    EXPECT_EQ(removes.count(), 0);
    EXPECT_TRUE(popover->isShown());
    QTest::keyClick(popover->contentWidget(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits.count(), 1);
    EXPECT_FALSE(popover->isShown());
    EXPECT_EQ(closed.count(), 1);

    for (auto behavior : {KRPopover::Behavior::Transient, KRPopover::Behavior::ApplicationDefined}) {
        KRPopover *shown = host.popover(behavior, KRPopover::RightEdge);
        QSignalSpy gone(shown, &KRPopover::closed);
        host.window.hide();
        EXPECT_FALSE(shown->isShown());
        EXPECT_EQ(gone.count(), 1);
        host.window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host.window));
        QTest::qWait(50);
        EXPECT_FALSE(shown->isShown()) << "came back with its window";
    }
}

TEST(KRPopoverWindow, DrawsItsArrowTowardsTheAnchor)
{
    Host host;
    const QColor backdrop(236, 236, 236);
    const int a = KRPopover::ArrowLength;
    for (const auto edge : {KRPopover::RightEdge, KRPopover::BottomEdge}) {
        KRPopover *popover = host.popover(KRPopover::Behavior::Transient, edge);
        ASSERT_EQ(popover->shownEdge(), edge);
        const bool right = edge == KRPopover::RightEdge;
        const QImage shot = KRAppKitTest::saveScreenshot(*popover, right ? "popover-right" : "popover-bottom");
        const QColor fill = popover->palette().color(QPalette::Window);
        // Filled just short of the arrow's tip (at the anchor's middle), backdrop beside it.
        const QPoint middle = host.anchor->mapToGlobal(QPoint(50, 15)) - popover->pos();
        EXPECT_EQ(shot.pixelColor(right ? QPoint(a - 2, middle.y()) : QPoint(middle.x(), a - 2)), fill);
        EXPECT_EQ(shot.pixelColor(right ? QPoint(1, 2) : QPoint(2, 1)), backdrop);
        EXPECT_EQ(shot.pixelColor(a + 20, a + 20), fill);
        // Cut to its outline, so that no window manager shows the rest: the body, the arrow
        // and the outline are in, and the outline is opaque; the corners and the arrow's
        // sides are out.
        const QRegion mask = popover->mask();
        const QPoint tip = right ? QPoint(3, middle.y()) : QPoint(middle.x(), 3);
        const QPoint besideTip = right ? QPoint(1, middle.y() - a) : QPoint(middle.x() - a, 1);
        const int w = popover->width(), h = popover->height();
        EXPECT_TRUE(mask.contains(tip));
        EXPECT_TRUE(mask.contains(QPoint(a + 20, a + 20)));
        const QPoint outlinePixel = right ? QPoint(w - 1, h / 2) : QPoint(w / 2, h - 1);
        EXPECT_TRUE(mask.contains(outlinePixel));
        QImage alone(popover->size(), QImage::Format_ARGB32_Premultiplied);
        alone.fill(Qt::transparent);
        // render() puts the corner of what the mask keeps at the offset given.
        popover->render(&alone, mask.boundingRect().topLeft(), QRegion(), QWidget::DrawChildren);
        EXPECT_EQ(alone.pixelColor(outlinePixel).alpha(), 255);
        EXPECT_FALSE(mask.contains(besideTip));
        EXPECT_FALSE(mask.contains(QPoint(w - 1, h - 1)));
        EXPECT_FALSE(mask.contains(right ? QPoint(a, 0) : QPoint(0, a)));
        popover->close();
    }
}

} // namespace

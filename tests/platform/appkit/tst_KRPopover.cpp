#include "AppKitTestSupport.h"

#include <platform/appkit/KRPopover.h>

#include <KRTestSupport.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {

const QRect kScreen(0, 0, 1000, 800);
const QSize kContent(200, 100);

KRPopover::Placement place(const QRect &anchor, KRPopover::Edge edge)
{
    return KRPopover::placement(anchor, kContent, edge, kScreen);
}

TEST(KRPopoverPlacement, OpensOnThePreferredSideCentredOnTheAnchor)
{
    const QRect anchor(400, 300, 100, 40); // centre (449, 319)
    const int w = kContent.width() + 2 * KRPopover::ContentInset;
    const int h = kContent.height() + 2 * KRPopover::ContentInset;

    const auto left = place(anchor, KRPopover::LeftEdge);
    EXPECT_EQ(left.edge, KRPopover::LeftEdge);
    EXPECT_EQ(left.frame.right(), anchor.left() - 1);
    EXPECT_EQ(left.frame.size(), QSize(w + KRPopover::ArrowLength, h));
    EXPECT_EQ(left.frame.top() + left.arrowCenter, anchor.center().y());

    const auto right = place(anchor, KRPopover::RightEdge);
    EXPECT_EQ(right.edge, KRPopover::RightEdge);
    EXPECT_EQ(right.frame.left(), anchor.right() + 1);

    const auto below = place(anchor, KRPopover::BottomEdge);
    EXPECT_EQ(below.edge, KRPopover::BottomEdge);
    EXPECT_EQ(below.frame.top(), anchor.bottom() + 1);
    EXPECT_EQ(below.frame.size(), QSize(w, h + KRPopover::ArrowLength));
    EXPECT_EQ(below.frame.left() + below.arrowCenter, anchor.center().x());

    const auto above = place(anchor, KRPopover::TopEdge);
    EXPECT_EQ(above.edge, KRPopover::TopEdge);
    EXPECT_EQ(above.frame.bottom(), anchor.top() - 1);
}

TEST(KRPopoverPlacement, FlipsToTheOppositeSideWhenThePreferredOneHasNoRoom)
{
    const auto atLeftBorder = place(QRect(50, 300, 40, 20), KRPopover::LeftEdge);
    EXPECT_EQ(atLeftBorder.edge, KRPopover::RightEdge);
    EXPECT_EQ(atLeftBorder.frame.left(), 90);

    const auto atRightBorder = place(QRect(900, 300, 40, 20), KRPopover::RightEdge);
    EXPECT_EQ(atRightBorder.edge, KRPopover::LeftEdge);
    EXPECT_EQ(atRightBorder.frame.right(), 899);

    const auto atBottom = place(QRect(400, 760, 40, 20), KRPopover::BottomEdge);
    EXPECT_EQ(atBottom.edge, KRPopover::TopEdge);
    EXPECT_EQ(atBottom.frame.bottom(), 759);

    const auto atTop = place(QRect(400, 10, 40, 20), KRPopover::TopEdge);
    EXPECT_EQ(atTop.edge, KRPopover::BottomEdge);
}

TEST(KRPopoverPlacement, StaysInsideTheScreenAndKeepsTheArrowOnTheBody)
{
    // Near the top-left corner: the body slides down, the arrow still points at the anchor.
    const auto corner = place(QRect(600, 0, 40, 10), KRPopover::RightEdge);
    EXPECT_TRUE(kScreen.contains(corner.frame));
    EXPECT_EQ(corner.frame.top(), 0);
    EXPECT_EQ(corner.arrowCenter, KRPopover::CornerRadius + KRPopover::ArrowHalfWidth);

    // Near the bottom-right corner, opening below: flips up and slides left.
    const auto far = place(QRect(990, 780, 10, 20), KRPopover::BottomEdge);
    EXPECT_EQ(far.edge, KRPopover::TopEdge);
    EXPECT_TRUE(kScreen.contains(far.frame));
    EXPECT_LE(far.arrowCenter, far.frame.width() - KRPopover::CornerRadius - KRPopover::ArrowHalfWidth);

    // No room on either side: the preferred side is kept and the frame is pushed inside.
    const auto wide = KRPopover::placement(QRect(150, 300, 700, 20), kContent, KRPopover::LeftEdge, kScreen);
    EXPECT_EQ(wide.edge, KRPopover::LeftEdge);
    EXPECT_EQ(wide.frame.left(), 0);
}

struct PopoverHost
{
    QWidget window;
    QWidget *anchorView = nullptr;

    PopoverHost()
    {
        window.resize(600, 400);
        anchorView = new QWidget(&window);
        anchorView->setGeometry(250, 150, 100, 30);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
};

QWidget *makeContent(const QString &text)
{
    auto *label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

TEST(KRPopoverWindow, TransientClosesOnAClickOutsideAndReportsIt)
{
    PopoverHost host;
    KRPopover popover(&host.window);
    popover.setBehavior(KRPopover::Behavior::Transient);
    popover.setContentWidget(makeContent(QStringLiteral("Transient")));
    popover.setContentSize(QSize(160, 60));
    QSignalSpy closed(&popover, &KRPopover::closed);

    popover.showRelativeToRect(host.anchorView->rect(), host.anchorView, KRPopover::BottomEdge);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover));
    EXPECT_EQ(popover.windowType(), Qt::Popup);
    EXPECT_EQ(popover.geometry().top(), host.anchorView->mapToGlobal(QPoint(0, 0)).y() + 30);
    EXPECT_EQ(popover.contentWidget()->geometry().size(), QSize(160, 60));

    // A click on the content keeps it open.
    QTest::mouseClick(popover.contentWidget(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(popover.isShown());

    QTest::mouseClick(&popover, Qt::LeftButton, {}, QPoint(-40, -40));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !popover.isShown(); }, std::chrono::seconds(2)));
    EXPECT_EQ(closed.count(), 1);
}

TEST(KRPopoverWindow, ApplicationDefinedStaysUntilClosed)
{
    PopoverHost host;
    KRPopover popover(&host.window);
    popover.setContentWidget(makeContent(QStringLiteral("Stays")));
    QSignalSpy closed(&popover, &KRPopover::closed);
    popover.showRelativeToRect(host.anchorView->rect(), host.anchorView, KRPopover::RightEdge);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover));

    QTest::mouseClick(&host.window, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::qWait(50);
    EXPECT_TRUE(popover.isShown());
    EXPECT_EQ(closed.count(), 0);

    popover.close();
    EXPECT_FALSE(popover.isShown());
    EXPECT_EQ(closed.count(), 1);
}

TEST(KRPopoverWindow, DrawsBodyAndArrowTowardsTheAnchor)
{
    PopoverHost host;
    struct Case { KRPopover::Edge edge; const char *name; };
    for (const Case c : {Case{KRPopover::RightEdge, "popover-right"}, Case{KRPopover::BottomEdge, "popover-bottom"}}) {
        KRPopover popover(&host.window);
        popover.setContentWidget(makeContent(QStringLiteral("Pop-over content")));
        popover.setContentSize(QSize(180, 70));
        popover.showRelativeToRect(host.anchorView->rect(), host.anchorView, c.edge);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&popover));
        ASSERT_EQ(popover.shownEdge(), c.edge);

        const QImage shot = KRAppKitTest::saveScreenshot(popover, QString::fromLatin1(c.name));
        const QColor fill = popover.palette().color(QPalette::Window);
        const QColor backdrop(236, 236, 236);
        const int a = KRPopover::ArrowLength;
        // The arrow's tip side: filled next to the arrow's root, backdrop beside the tip.
        if (c.edge == KRPopover::RightEdge) {
            const int mid = host.anchorView->mapToGlobal(QPoint(0, 15)).y() - popover.y();
            EXPECT_EQ(shot.pixelColor(a - 2, mid), fill);
            EXPECT_EQ(shot.pixelColor(1, 2), backdrop);
            EXPECT_EQ(shot.pixelColor(a + 20, 20), fill);
        } else {
            const int mid = host.anchorView->mapToGlobal(QPoint(50, 0)).x() - popover.x();
            EXPECT_EQ(shot.pixelColor(mid, a - 2), fill);
            EXPECT_EQ(shot.pixelColor(2, 1), backdrop);
            EXPECT_EQ(shot.pixelColor(20, a + 20), fill);
        }
        popover.close();
    }
}

} // namespace

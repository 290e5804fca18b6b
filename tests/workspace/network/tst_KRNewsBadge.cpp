#include <network/KRNewsController.h>
#include <workspace/network/KRBadgeView.h>
#include <workspace/network/KRBadgedButton.h>
#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QApplication>
#include <QStyle>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

QList<KRNewsItem> newsBadgeItems(int count)
{
    QList<KRNewsItem> items;
    for (int i = 0; i < count; ++i)
        items.append({QStringLiteral("Item %1").arg(i), {}, {}, QStringLiteral("https://example.com/%1").arg(i), true});
    return items;
}

bool isBadgeRed(QRgb pixel)
{
    return qRed(pixel) > 200 && qGreen(pixel) < 110 && qBlue(pixel) < 100 && qAlpha(pixel) == 255;
}

TEST(KRBadgeView, DrawsARightAlignedRedBadgeThatGrowsWithItsText)
{
    KRBadgeView badge;
    badge.resize(60, 14);
    const QImage empty = KRTest::renderWidget(badge, {1, Qt::transparent, false});
    for (int x = 0; x < empty.width(); ++x)
        ASSERT_EQ(qAlpha(empty.pixel(x, 7)), 0) << "nothing drawn without a count, x " << x;

    badge.setBadgeCount(QStringLiteral("3"));
    const QRectF narrow = badge.badgeRect();
    badge.setBadgeCount(QStringLiteral("12"));
    const QRectF wide = badge.badgeRect();
    EXPECT_GT(wide.width(), narrow.width());
    EXPECT_DOUBLE_EQ(wide.right(), 57.0);
    EXPECT_DOUBLE_EQ(narrow.right(), 57.0);

    const QImage image = KRTest::renderWidget(badge, {1, Qt::transparent, false});
    // Red inside the badge (beside the white digits), a white rim, nothing to its left.
    EXPECT_TRUE(isBadgeRed(image.pixel(int(wide.left()) + 3, 7)));
    EXPECT_GT(QColor(image.pixel(int(wide.left()) - 1, 7)).lightness(), 240);
    EXPECT_EQ(qAlpha(image.pixel(int(wide.left()) - 4, 7)), 0);
    EXPECT_EQ(qAlpha(image.pixel(59, 7)), 0) << "3 pixels stay free at the right";
}

TEST(KRBadgedButton, BadgeSitsOnTheButtonsCornerAndFollowsTheUnreadCount)
{
    KRNewsController news(QString{});
    news.setNewsItems(newsBadgeItems(3));
    QWidget window;
    window.resize(200, 80);
    auto *button = new KRBadgedButton(nullptr, &news);
    EXPECT_EQ(button->badgeView(), nullptr);
    button->setParent(&window);
    button->setGeometry(40, 30, 32, 32);
    window.show();

    KRBadgeView *badge = button->badgeView();
    ASSERT_NE(badge, nullptr);
    EXPECT_EQ(badge->parentWidget(), &window) << "a sibling, so the button does not clip it";
    EXPECT_EQ(badge->geometry(), QRect(40, 31, 32, 14));
    EXPECT_TRUE(badge->isVisible());
    EXPECT_EQ(badge->badgeCount(), QStringLiteral("3"));
    // The badge is drawn whole inside its button, so a button at the toolbar's end keeps it.
    EXPECT_TRUE(QRectF(button->geometry()).contains(badge->badgeRect().translated(badge->pos())));

    news.markIndexAsRead(0);
    EXPECT_EQ(badge->badgeCount(), QStringLiteral("2"));
    news.setNewsItems(newsBadgeItems(12));
    EXPECT_EQ(badge->badgeCount(), QStringLiteral("12"));
    news.markAllAsRead();
    EXPECT_EQ(badge->badgeCount(), QString());

    button->move(10, 40);
    EXPECT_EQ(badge->geometry().topLeft(), QPoint(10, 41));
    button->hide();
    EXPECT_FALSE(badge->isVisible());
    delete button;
    EXPECT_EQ(window.findChildren<KRBadgeView *>().size(), 0) << "the badge goes with its button";
}

TEST(KRBadgedButton, Screenshot)
{
    KRNewsController news(QString{});
    news.setNewsItems(newsBadgeItems(4));
    QToolBar toolbar;
    toolbar.setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar.setIconSize(QSize(24, 24));
    toolbar.addWidget(new QWidget)->setVisible(true);
    toolbar.resize(200, 64);
    auto *button = new KRBadgedButton(nullptr, &news);
    button->setText(QStringLiteral("News"));
    button->setIcon(toolbar.style()->standardIcon(QStyle::SP_MessageBoxInformation));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar.addWidget(button);
    toolbar.show();
    QApplication::processEvents();
    const QImage shot = KRTest::saveScreenshot(toolbar, QStringLiteral("network-ui"), QStringLiteral("news-button.png"));
    const QRectF badge = button->badgeView()->badgeRect().translated(button->badgeView()->pos());
    EXPECT_TRUE(isBadgeRed(shot.pixel(int(badge.left() + 3) * 2, int(badge.center().y()) * 2)));
}

} // namespace

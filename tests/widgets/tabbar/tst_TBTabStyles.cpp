// The styles: cell geometry and widths, the ellipsis helper, sampled pixels, and a screenshot
// of each style with selected, rolled-over, edited, counted and overflowing tabs.

#include "TabBarTestSupport.h"

#include <widgets/tabbar/TBTabBarButtons.h>
#include <widgets/tabbar/TBTabStyle.h>
#include <widgets/tabbar/TBTabStyleBase.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QTest>

#include <cmath>

namespace {

int grey(const QImage &image, int x, int y)
{
    return qGray(image.pixel(x, y));
}

double counterWidth(const QString &digits)
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(11);
    font.setBold(true);
    return std::max(20.0, QFontMetricsF(font).horizontalAdvance(digits) + 8);
}

} // namespace

TEST(TBTabStyles, UnifiedWidthsAndRectanglesOfAFullCell)
{
    TBTabBarControl bar;
    bar.setStyleNamed("Unified");
    TBTabStyle *style = bar.style();
    TBTabBarCell cell(&bar);
    cell.setFrame(QRectF(40, 0, 200, 22));
    cell.setHasIcon(true);
    cell.setCount(3);
    cell.indicator()->setSpinnerHidden(false);
    const double close = 13;
    EXPECT_EQ(style->minimumWidthOfTabCell(cell), std::ceil(6 + close + 4 + 20 + 30 + counterWidth("3") + 4 + 20 + 6));
    EXPECT_EQ(style->objectCounterRectForTabCell(cell), QRectF(240 - 6 - counterWidth("3") - 20, 4, counterWidth("3"), 14));
    EXPECT_EQ(style->indicatorRectForTabCell(cell), QRectF(240 - 22, 2, 16, 16));
    EXPECT_EQ(style->closeButtonRectForTabCell(cell, cell.frame()), QRectF(46, 4, 13, 13));
    EXPECT_EQ(style->iconRectForTabCell(cell), QRectF(46 + 13 + 4, 2, 16, 16));

    // A suppressed close button keeps its rectangle but shifts neither icon nor widths.
    cell.setCloseButtonSuppressed(true);
    EXPECT_FALSE(style->closeButtonRectForTabCell(cell, cell.frame()).isEmpty());
    EXPECT_EQ(style->iconRectForTabCell(cell).x(), 46);
    EXPECT_EQ(style->minimumWidthOfTabCell(cell), std::ceil(6 + 20 + 30 + counterWidth("3") + 4 + 20 + 6));

    // A counter badge is at least 20 wide, else its text and 8.
    cell.setCount(123456789);
    EXPECT_EQ(style->objectCounterRectForTabCell(cell).width(), counterWidth("123456789"));
    EXPECT_GT(counterWidth("123456789"), 20);
    cell.setCount(0);
    EXPECT_TRUE(style->objectCounterRectForTabCell(cell).isNull());
}

TEST(TBTabStyles, MetalMovesTheSelectedTabsContentUpAPoint)
{
    TBTabBarControl bar;
    TBTabStyle *style = bar.style();
    EXPECT_EQ(style->leftMarginForTabBarControl(), 10);
    TBTabBarCell cell(&bar);
    cell.setFrame(QRectF(10, 0, 120, 22));
    EXPECT_EQ(style->closeButtonRectForTabCell(cell, cell.frame()).topLeft(), QPointF(16, 5));
    cell.setState(1);
    EXPECT_EQ(style->closeButtonRectForTabCell(cell, cell.frame()).topLeft(), QPointF(16, 4));
    EXPECT_EQ(style->dragRectForTabCell(cell, TBTabBarOrientation::Horizontal), QRectF(10, 0, 121, 20));
}

TEST(TBTabStyles, EllipsisNeverSplitsACharacter)
{
    using TBTabDrawing::truncatedWithEllipsis;
    const QString twelve = QStringLiteral("abcdefghijkl");
    EXPECT_EQ(truncatedWithEllipsis(twelve, 10), QStringLiteral("abcdefghi") + QChar(0x2026));
    EXPECT_EQ(truncatedWithEllipsis(QStringLiteral("abc"), 10), QStringLiteral("abc"));
    EXPECT_EQ(truncatedWithEllipsis(twelve, 1), QString(QChar(0x2026)));
    EXPECT_EQ(truncatedWithEllipsis(twelve, 0), QString());
    // A surrogate pair straddling the cut goes whole.
    const QString emoji = QStringLiteral("abcd") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("efgh");
    EXPECT_EQ(truncatedWithEllipsis(emoji, 6), QStringLiteral("abcd") + QChar(0x2026));
    EXPECT_EQ(truncatedWithEllipsis(emoji, 7), QStringLiteral("abcd") + QString::fromUcs4(U"\U0001F600") + QChar(0x2026));
    // So does a letter with its combining accent.
    const QString accented = QStringLiteral("abce") + QChar(0x0301) + QStringLiteral("fghij");
    EXPECT_EQ(truncatedWithEllipsis(accented, 5), QStringLiteral("abc") + QChar(0x2026));
    EXPECT_EQ(truncatedWithEllipsis(accented, 6), accented.left(5) + QChar(0x2026));
}

TEST(TBTabStyles, UnifiedPixels)
{
    BarWindow w(500);
    w.addTabs({"Design", "Objects", "Script"});
    QTest::mouseMove(w.bar, cellCentre(w.bar->cells()[2]));
    const QImage image = renderWidget(*w.bar);
    const int right = w.bar->width() - 3;
    EXPECT_NEAR(grey(image, right, 10), 213, 2);           // bar gradient, 0.835 to 0.843
    EXPECT_NEAR(grey(image, right, 21), 147, 2);           // the line along the bottom
    const int selectedX = int(w.bar->cells()[0]->frame().right()) - 10;
    EXPECT_GE(grey(image, selectedX, 6), 245);             // selected: white 0.99 to 0.941
    const int plainX = int(w.bar->cells()[1]->frame().right()) - 10;
    EXPECT_NEAR(grey(image, plainX, 12), 214, 3);
    const int hoverX = int(w.bar->cells()[2]->frame().right()) - 10;
    EXPECT_NEAR(grey(image, hoverX, 12), 204, 2);          // highlighted: white 0.8
    // The tab outline: its left edge in the line colour.
    const int edge = int(w.bar->cells()[1]->frame().x());
    EXPECT_LT(grey(image, edge, 14), 190);

    // A window that is not key shows the window colour over the bar.
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QTest::qWait(1);
    const QImage inactive = renderWidget(*w.bar);
    EXPECT_EQ(QColor(inactive.pixel(right, 10)), w.bar->palette().window().color());
}

TEST(TBTabStyles, BarWithoutTabViewNamesItself)
{
    TBTabBarControl bar;
    bar.setStyleNamed("Unified");
    bar.resize(300, 22);
    const QImage image = renderWidget(bar);
    int dark = 0;
    for (int x = 100; x < 200; ++x)
        for (int y = 4; y < 20; ++y)
            dark += grey(image, x, y) < 120;
    EXPECT_GT(dark, 20);
}

TEST(TBTabStyles, MetalDarkensTheStripAndLinesIt)
{
    BarWindow w(500, "Metal");
    w.addTabs({"Design", "Objects"});
    const QImage image = renderWidget(*w.bar);
    const int right = w.bar->width() - 3;
    const int window = qGray(w.bar->palette().window().color().rgb());
    EXPECT_NEAR(grey(image, right, 10), window * 0.8, 3);
    EXPECT_NEAR(grey(image, right, 0), 85, 2);
    const int selectedX = int(w.bar->cells()[0]->frame().center().x());
    EXPECT_NEAR(grey(image, selectedX, 17), window, 2);
}

namespace {

void styleScreenshot(const QString &style, const QString &file)
{
    BarWindow w(640, style, true);
    auto *edited = new QObject(w.window.get());
    edited->setProperty("isEdited", true);
    auto *counted = new QObject(w.window.get());
    counted->setProperty("objectCount", 4);
    w.addTabs({"Design", "Objects"});
    w.tabView->addItem(QVariant::fromValue(edited), "index.html");
    w.addTabs({"Hover me"});
    w.tabView->addItem(QVariant::fromValue(counted), "Timers");
    w.addTabs({"Overflowing one", "Overflowing two"});
    w.tabView->selectItemAtIndex(1);
    TBTabBarCell *hover = w.bar->cells()[3];
    QTest::mouseMove(w.bar, closeButtonCentre(hover));
    ASSERT_TRUE(hover->closeButtonOver());
    ASSERT_TRUE(w.bar->overflowMenu());
    w.window->resize(640, 40);
    QTest::qWait(1);
    screenshot(*w.window, file);

    // What the picture must show: each tab that fits with its title, the others left to the
    // overflow menu behind its button, and the selected tab filled apart from the plain one
    // beside it.
    const QImage image = renderWidget(*w.window);
    const QPoint origin = w.bar->mapTo(w.window.get(), QPoint());
    const auto inkIn = [&](const QRectF &rect) {
        int ink = 0;
        const QRect r = rect.toRect().translated(origin).intersected(image.rect());
        for (int x = r.left(); x <= r.right(); ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                ink += grey(image, x, y) < 110;
        return ink;
    };
    const auto meanGrey = [&](const QRectF &rect) {
        const QRect r = rect.toRect().translated(origin).intersected(image.rect());
        double sum = 0;
        for (int x = r.left(); x <= r.right(); ++x)
            for (int y = r.top(); y <= r.bottom(); ++y)
                sum += grey(image, x, y);
        return sum / std::max(1, r.width() * r.height());
    };
    const std::string name = file.toStdString();
    const int visible = w.bar->numberOfVisibleTabs();
    EXPECT_GE(visible, 4) << name;
    EXPECT_LT(visible, int(w.bar->cells().size())) << name;
    EXPECT_TRUE(w.bar->overflowPopUpButton()->isVisible()) << name;
    for (int i = 0; i < visible; ++i)
        EXPECT_GT(inkIn(w.bar->cells()[size_t(i)]->frame()), 8) << name << ": no title on tab " << i;
    EXPECT_GT(std::abs(meanGrey(w.bar->cells()[1]->frame()) - meanGrey(w.bar->cells()[0]->frame())), 3) << name;
}

} // namespace

TEST(TBTabStyles, Screenshots)
{
    styleScreenshot("Unified", "unified.png");
    styleScreenshot("Metal", "metal.png");
    styleScreenshot("Aqua", "aqua.png");
    styleScreenshot("Welvo", "welvo.png");
}

TEST(TBTabStyles, AquaRepaintsItsStripOnlyForLowRectangles)
{
    BarWindow w(400, "Aqua");
    w.addTabs({"A", "B"});
    QImage image(w.bar->size(), QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        w.bar->style()->drawBackgroundInRect(painter, QRectF(0, 0, 400, 23));
    }
    EXPECT_EQ(grey(image, 380, 10), 255);
    {
        QPainter painter(&image);
        w.bar->style()->drawBackgroundInRect(painter, QRectF(0, 0, 400, 22));
    }
    EXPECT_LT(grey(image, 380, 10), 240);
}

TEST(TBTabStyles, WelvoVerticalTabsShowTheirCounterWhereTheCloseButtonGoes)
{
    TBTabBarControl bar;
    bar.setStyleNamed("Welvo");
    bar.setOrientation(TBTabBarOrientation::Vertical);
    auto *welvo = static_cast<TBWelvoTabStyle *>(bar.style());
    EXPECT_EQ(welvo->tabCellHeight(), 28);
    EXPECT_EQ(welvo->leftMarginForTabBarControl(), 3);
    TBTabBarCell cell(&bar);
    cell.setFrame(QRectF(0, 10, 150, 28));
    cell.setCount(5);
    EXPECT_EQ(welvo->closeSpotShows(cell), TBWelvoTabStyle::CloseSpot::Counter);
    cell.setCloseButtonOver(true);
    EXPECT_EQ(welvo->closeSpotShows(cell), TBWelvoTabStyle::CloseSpot::CloseButton);
    EXPECT_EQ(welvo->closeButtonRectForTabCell(cell, cell.frame()), QRectF(150 - 8 - 13, 10 + 14 - 6.5 + 1, 13, 13));
    cell.setCloseButtonSuppressed(true);
    EXPECT_TRUE(welvo->closeButtonRectForTabCell(cell, cell.frame()).isNull());
    EXPECT_EQ(welvo->minimumWidthOfTabCell(cell), 4 + 30 + 4);
}

TEST(TBTabStyles, WelvoVerticalScreenshot)
{
    QWidget window;
    window.resize(360, 150);
    auto *bar = new TBTabBarControl(&window);
    auto *view = new TBTabView(&window);
    bar->setGeometry(0, 0, 160, 150);
    view->setGeometry(160, 0, 200, 150);
    bar->setStyleNamed("Welvo");
    bar->setOrientation(TBTabBarOrientation::Vertical);
    bar->setTabView(view);
    auto *counted = new QObject(&window);
    counted->setProperty("objectCount", 12);
    view->addItem("a", "Design");
    view->addItem(QVariant::fromValue(counted), "Timers");
    view->addItem("c", "Styles");
    window.show();
    QTest::qWait(1);
    QTest::mouseMove(bar, bar->cells()[2]->frame().center().toPoint());
    screenshot(window, "welvo-vertical.png");
    const QImage image = renderWidget(window);
    // The counter pill stands where the close button of "Timers" would be.
    const QRectF close = bar->cells()[1]->closeButtonRectForFrame(bar->cells()[1]->frame());
    EXPECT_LT(grey(image, int(close.center().x()) - 3, int(close.top()) + 1), 200);
}

TEST(TBTabStyles, WelvoTextHeightsAreMeasuredPerWidth)
{
    const TBStyledText text{QStringLiteral("A title long enough to wrap onto several lines"), TBTabStyleBase::systemFont(11),
                            QColor(), QColor(), QPointF(), false};
    const double wide = TBWelvoTabStyle::heightOfText(text, 1000);
    const double narrow = TBWelvoTabStyle::heightOfText(text, 60);
    EXPECT_GT(narrow, 2 * wide);
    EXPECT_EQ(TBWelvoTabStyle::heightOfText(text, 1000), wide);
}

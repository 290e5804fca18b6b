// Tab widths as pure functions: fixed and fitted widths, shrink sweeps, the distribution of
// leftovers, squeezing without an overflow menu, "show at least two" and vertical overflow.

#include <widgets/tabbar/TBTabLayout.h>

#include <gtest/gtest.h>

namespace {

TBTabWidthInput fixedBar(double available, int cells)
{
    TBTabWidthInput in;
    in.available = available;
    in.desiredWidths.assign(std::size_t(cells), 150.0);
    return in;
}

TBTabWidthInput fittedBar(double available, std::vector<double> desired)
{
    TBTabWidthInput in;
    in.available = available;
    in.sizeCellsToFit = true;
    in.desiredWidths = std::move(desired);
    return in;
}

using Widths = std::vector<double>;

} // namespace

TEST(TBTabLayout, FixedWidthsShareTheBarUntilTheMinimumThenOverflow)
{
    EXPECT_EQ(TBGenerateTabWidths(fixedBar(500, 3)).widths, Widths(3, 130));
    EXPECT_EQ(TBGenerateTabWidths(fixedBar(500, 4)).widths, Widths(4, 125));
    EXPECT_EQ(TBGenerateTabWidths(fixedBar(500, 5)).widths, Widths(5, 100));
    // The sixth would get 83: it and every later cell overflow, the five keep 100.
    EXPECT_EQ(TBGenerateTabWidths(fixedBar(500, 6)).widths, Widths(5, 100));
    EXPECT_EQ(TBGenerateTabWidths(fixedBar(500, 9)).widths, Widths(5, 100));
}

TEST(TBTabLayout, FittedWidthsShrinkTowardTheAverageThenTheMinimum)
{
    // 90 is raised to the minimum; the widest gives way first.
    EXPECT_EQ(TBGenerateTabWidths(fittedBar(400, {90, 200, 120})).widths, (Widths{100, 180, 120}));
    EXPECT_EQ(TBGenerateTabWidths(fittedBar(300, {150, 150, 150})).widths, Widths(3, 100));
    const TBTabWidthResult four = TBGenerateTabWidths(fittedBar(300, {150, 150, 150, 150}));
    EXPECT_EQ(four.widths, Widths(3, 100));
    EXPECT_FALSE(four.failed);
    // Wishes above the maximum are capped; what is left over goes to the leftmost cells.
    EXPECT_EQ(TBGenerateTabWidths(fittedBar(1000, {500, 120})).widths, (Widths{280, 120}));
    EXPECT_EQ(TBGenerateTabWidths(fittedBar(352, {130, 130, 130})).widths, (Widths{118, 117, 117}));
}

TEST(TBTabLayout, ShrinkAndDistributeRules)
{
    Widths w{150, 120, 101};
    // Sweeps from the right take a point off every entry that stays at or above 110.
    EXPECT_EQ(TBShrinkTabWidths(w, 110, 340), 31);
    EXPECT_EQ(w, (Widths{129, 110, 101}));
    Widths unchanged{100, 100};
    EXPECT_EQ(TBShrinkTabWidths(unchanged, 100, 50), 0);

    Widths d{10.7, 10.2, 10.9};
    TBDistributeTabWidth(d, 5, 3);
    EXPECT_EQ(d, (Widths{12, 12, 11}));
    Widths partial{10, 10, 10};
    TBDistributeTabWidth(partial, 3, 2);
    EXPECT_EQ(partial, (Widths{12, 11, 10}));
}

TEST(TBTabLayout, WithoutOverflowMenuEveryCellIsSqueezedIn)
{
    TBTabWidthInput in = fixedBar(500, 7);
    in.useOverflowMenu = false;
    EXPECT_EQ(TBGenerateTabWidths(in).widths, Widths(7, 71));
    TBTabWidthInput fit = fittedBar(300, {50, 200, 200, 200});
    fit.useOverflowMenu = false;
    EXPECT_EQ(TBGenerateTabWidths(fit).widths, (Widths{50, 75, 75, 75}));
}

TEST(TBTabLayout, AtLeastTwoCellsShowWhenOnlyOneFits)
{
    // 150 available, minimum 100: the second cell's share would be 75.
    TBTabWidthInput in = fixedBar(150, 3);
    in.desiredWidths = {60, 200, 80};
    EXPECT_EQ(TBGenerateTabWidths(in).widths, (Widths{60, 90}));
    in.desiredWidths = {60, 40, 80};
    // The first is widened to fill the gap.
    EXPECT_EQ(TBGenerateTabWidths(in).widths, (Widths{110, 40}));
    in.desiredWidths = {300, 300};
    EXPECT_EQ(TBGenerateTabWidths(in).widths, (Widths{75, 75}));
    // A single cell stays single.
    EXPECT_EQ(TBGenerateTabWidths(fixedBar(80, 1)).widths, Widths{});
}

TEST(TBTabLayout, VerticalBarsStackCellsAndOverflowTheLastCramped)
{
    TBTabWidthInput in;
    in.vertical = true;
    in.topMargin = 10;
    in.cellHeight = 22;
    in.desiredWidths.assign(6, 100);
    in.frameHeight = 10 + 3 * 22 + 17;   // room for three and 17 points more
    EXPECT_EQ(TBGenerateTabWidths(in).widths, (Widths{10, 32, 54}));
    in.frameHeight = 10 + 3 * 22 + 16;   // less than 17 points left: the third goes too
    EXPECT_EQ(TBGenerateTabWidths(in).widths, (Widths{10, 32}));
}

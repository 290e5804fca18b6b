// The fold-to-fit rules of the scope bar, on measured widths alone: squeeze, collapse from the
// right, peel into the overflow menu, and back as the bar widens.

#include <widgets/scopebar/SBScopeBarLayout.h>

#include <gtest/gtest.h>

#include <numeric>

namespace {

const QSize overflowSize(28, 16);

// g0: no header, max 145 / min 125 (collapsed 70..80);
// g1: separator, max 321 / min 231 (collapsed 81..121);
// g2: separator, max 156 / min 146 (collapsed 81..101).
std::vector<SBGroupMeasure> threeGroups()
{
    return {{0, {50, 90}, 80, false}, {11, {100, 100, 100}, 110, false}, {11, {80, 60}, 90, false}};
}

// Lays out at `width` starting from the collapsed states of the previous layout, as the bar does.
SBBarLayout layoutAt(std::vector<SBGroupMeasure> &groups, int width, const SBMayChangeCollapse &ask = {})
{
    SBBarLayout layout = sbLayoutBar(QRect(0, 0, width, 25), groups, SBLayoutMetrics(), overflowSize, QSize(), ask);
    for (size_t g = 0; g < groups.size(); ++g)
        groups[g].collapsed = layout.groups[g].collapsed;
    return layout;
}

std::vector<bool> collapsedOf(const SBBarLayout &layout)
{
    std::vector<bool> collapsed;
    for (const SBGroupPlacement &p : layout.groups)
        collapsed.push_back(p.collapsed);
    return collapsed;
}

std::vector<int> widthsOf(const SBBarLayout &layout)
{
    std::vector<int> widths;
    for (const SBGroupPlacement &p : layout.groups)
        widths.push_back(p.frame.width());
    return widths;
}

SBOverflowEntry item(int group, int object)
{
    return {group, object};
}

} // namespace

TEST(SBScopeBarLayout, groupWidthsCountHeaderSpacingAndMinimumButtonWidth)
{
    EXPECT_EQ(sbHeaderWidth(true, 40.7, true), int(1 + 40.7 + 10) + 11);
    EXPECT_EQ(sbHeaderWidth(false, 40, false), 0);

    const SBGroupMeasure group{11, {100, 40, 90}, 85, false};
    const SBGroupWidths all = sbGroupWidths(group, 0, SBLayoutMetrics());
    EXPECT_EQ(all.maximum, 11 + 100 + 40 + 90 + 10);
    EXPECT_EQ(all.minimum, 11 + 70 + 40 + 70 + 10);
    // Peeling takes the right-most button away.
    EXPECT_EQ(sbGroupWidths(group, 1, SBLayoutMetrics()).maximum, 11 + 100 + 40 + 5);

    SBGroupMeasure collapsed = group;
    collapsed.collapsed = true;
    EXPECT_EQ(sbGroupWidths(collapsed, 0, SBLayoutMetrics()).maximum, 11 + 85);
    EXPECT_EQ(sbGroupWidths(collapsed, 0, SBLayoutMetrics()).minimum, 11 + 70);

    // Fully peeled, or nothing to show: the group takes no room at all.
    EXPECT_EQ(sbGroupWidths(group, 3, SBLayoutMetrics()).maximum, 0);
    EXPECT_EQ(sbGroupWidths(SBGroupMeasure{11, {}, 0, false}, 0, SBLayoutMetrics()).minimum, 0);
}

TEST(SBScopeBarLayout, buttonsSqueezeInProportionToTheirRoomAndFillTheStrip)
{
    const SBGroupMeasure group{11, {100, 60, 130}, 0, false};
    const SBGroupWidths widths = sbGroupWidths(group, 0, SBLayoutMetrics());

    const std::vector<QRect> natural = sbButtonFrames(QRect(20, 3, 300, 20), widths.maximum, group, 3, SBLayoutMetrics());
    ASSERT_EQ(natural.size(), 3u);
    EXPECT_EQ(natural[1], QRect(20 + 105, 3, 60, 20));

    // 40 points too narrow: 30 and 60 points of room above the minimum share them 1:2;
    // the 60-point button, below the minimum, keeps its width.
    const QRect strip(20, 3, 300 - 40, 20);
    const std::vector<QRect> squeezed = sbButtonFrames(strip, widths.maximum - 40, group, 3, SBLayoutMetrics());
    ASSERT_EQ(squeezed.size(), 3u);
    EXPECT_EQ(squeezed[0].width(), 100 - 13);
    EXPECT_EQ(squeezed[1].width(), 60);
    EXPECT_EQ(squeezed[2].width(), 130 - 27);
    EXPECT_EQ(squeezed[2].right(), strip.right());

    // All buttons below the minimum: maximum equals minimum, yet the frame is narrower. No
    // division by zero; every width stays between 0 and the natural width and they fit.
    const SBGroupMeasure small{0, {60, 50}, 0, false};
    const QRect narrow(0, 0, 80, 20);
    const std::vector<QRect> tight = sbButtonFrames(narrow, 80, small, 2, SBLayoutMetrics());
    ASSERT_EQ(tight.size(), 2u);
    for (size_t i = 0; i < tight.size(); ++i) {
        EXPECT_GE(tight[i].width(), 0);
        EXPECT_LE(tight[i].width(), small.buttonWidths[i]);
    }
    EXPECT_LE(tight[1].right(), narrow.right());

    // A strip with no room at all still gives no negative widths.
    for (const QRect &r : sbButtonFrames(QRect(0, 0, 0, 20), 0, group, 3, SBLayoutMetrics()))
        EXPECT_GE(r.width(), 0);
}

TEST(SBScopeBarLayout, narrowingSqueezesThenCollapsesFromTheRightThenOverflows)
{
    std::vector<SBGroupMeasure> groups = threeGroups();

    // Just fits at maximum width: no pop-up, no overflow.
    SBBarLayout layout = layoutAt(groups, 666);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(widthsOf(layout), (std::vector<int>{145, 321, 156}));
    EXPECT_TRUE(layout.overflow.empty());
    EXPECT_EQ(layout.groups[1].frame.x(), 11 + 145 + 11);

    // 66 too narrow: shared by the groups' room above their minima (20, 90, 10).
    layout = layoutAt(groups, 600);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(widthsOf(layout), (std::vector<int>{134, 271, 151}));
    EXPECT_EQ(layout.groups[2].frame.right(), 600 - 11 - 1);

    // The minima no longer fit: the right-most group folds, then the next one leftwards.
    layout = layoutAt(groups, 540);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, false, true}));
    layout = layoutAt(groups, 460);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, true, true}));
    layout = layoutAt(groups, 330);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{true, true, true}));
    EXPECT_TRUE(layout.overflow.empty());
    EXPECT_TRUE(layout.overflowRect.isEmpty());

    // Nothing left to fold: a collapsed group moves into the overflow menu all at once.
    layout = layoutAt(groups, 250);
    EXPECT_EQ(layout.overflow, (std::vector<SBOverflowEntry>{item(2, 0), item(2, 1)}));
    EXPECT_EQ(layout.groups[2].peeled, 2);
    EXPECT_EQ(layout.groups[2].frame.width(), 0);
    EXPECT_EQ(layout.overflowRect, QRect(250 - 11 - 28, (25 - 16) / 2, 28, 16));

    // Narrower still: the next group follows, listed left to right with a separator.
    layout = layoutAt(groups, 150);
    EXPECT_EQ(layout.overflow, (std::vector<SBOverflowEntry>{item(1, 0), item(1, 1), item(1, 2), SBOverflowEntry{},
                                                             item(2, 0), item(2, 1)}));
    EXPECT_EQ(layout.groups[0].peeled, 0);

    // Widening restores every step: groups expand, the overflow menu empties.
    layout = layoutAt(groups, 460);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, true, true}));
    EXPECT_TRUE(layout.overflow.empty());
    layout = layoutAt(groups, 666);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(widthsOf(layout), (std::vector<int>{145, 321, 156}));
}

TEST(SBScopeBarLayout, refusedCollapseFoldsTheNextGroupOrPeelsButtonByButton)
{
    std::vector<SBGroupMeasure> groups = threeGroups();
    const auto notTheLast = [](int group, bool collapse) { return !(collapse && group == 2); };
    SBBarLayout layout = layoutAt(groups, 540, notTheLast);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, true, false}));

    // No group may fold: buttons leave from the right end, one at a time.
    groups = threeGroups();
    const auto never = [](int, bool collapse) { return !collapse; };
    layout = layoutAt(groups, 400, never);
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(layout.overflow, (std::vector<SBOverflowEntry>{item(1, 2), SBOverflowEntry{}, item(2, 0), item(2, 1)}));
    EXPECT_EQ(layout.groups[1].peeled, 1);
    EXPECT_LE(layout.groups[1].frame.right(), layout.overflowRect.left());

    // A group that keeps some buttons still needs the spacing before it: peeling goes on
    // until the remaining groups fit at their minimum widths, spacing included.
    groups = threeGroups();
    layout = layoutAt(groups, 340, never);
    EXPECT_EQ(layout.overflow, (std::vector<SBOverflowEntry>{item(1, 1), item(1, 2), SBOverflowEntry{}, item(2, 0),
                                                             item(2, 1)}));
    for (const SBGroupPlacement &p : layout.groups)
        EXPECT_GE(p.frame.width(), p.widths.minimum);
}

TEST(SBScopeBarLayout, degenerateBarsLayOutWithoutNegativeWidths)
{
    // Narrower than its margins, empty, and with a group that has no objects.
    std::vector<SBGroupMeasure> groups = threeGroups();
    groups.insert(groups.begin() + 1, SBGroupMeasure{11, {}, 0, false});
    for (int width : {0, 5, 21, 40}) {
        std::vector<SBGroupMeasure> copy = groups;
        const SBBarLayout layout = layoutAt(copy, width);
        for (const SBGroupPlacement &p : layout.groups) {
            EXPECT_GE(p.frame.width(), 0) << width;
            EXPECT_LE(p.frame.width(), p.widths.maximum) << width;
        }
    }
    std::vector<SBGroupMeasure> none;
    EXPECT_TRUE(layoutAt(none, 0).groups.empty());

    // A group with no objects takes no room wherever it sits.
    std::vector<SBGroupMeasure> roomy = groups;
    const SBBarLayout layout = layoutAt(roomy, 700);
    EXPECT_EQ(layout.groups[1].frame.width(), 0);
    EXPECT_TRUE(layout.overflow.empty());
}

TEST(SBScopeBarLayout, withoutAutoResizeGroupsStayAtMaximumAndAccessoryTakesTheRightEnd)
{
    SBLayoutMetrics fixed;
    fixed.autoResizesGroups = false;
    const SBBarLayout layout = sbLayoutBar(QRect(0, 0, 200, 25), threeGroups(), fixed, overflowSize, QSize(40, 20));
    EXPECT_EQ(widthsOf(layout), (std::vector<int>{145, 321, 156}));
    EXPECT_EQ(collapsedOf(layout), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(layout.accessoryRect, QRect(200 - 11 - 40, 2, 40, 20));
}

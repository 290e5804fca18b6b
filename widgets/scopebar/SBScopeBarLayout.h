#pragma once

#include <QRect>

#include <functional>
#include <vector>

// The scope bar's geometry as pure functions of measured widths, so that the fold-to-fit
// rules can be exercised without a widget. All widths are whole points: the bar measures its
// cells rounded up.

struct SBLayoutMetrics
{
    int minimumButtonWidth = 70;
    int minimumPopUpWidth = 70;
    int intercellSpacing = 5;
    int outerMargin = 11;   // at both ends of the bar
    int groupSpacing = 11;  // between two groups
    int accessorySpacing = 11;
    int overflowGap = 5;
    bool autoResizesGroups = true;
};

// What the layout needs to know of one group.
struct SBGroupMeasure
{
    int headerWidth = 0;               // separator and label
    std::vector<int> buttonWidths;     // natural width (rounded up) of every object's button, in order
    int popUpWidth = 0;                // natural width (rounded up) of the group's pop-up when collapsed
    bool collapsed = false;
};

struct SBGroupWidths
{
    int minimum = 0;
    int maximum = 0;
};

// Header width: the label (1 inset + its width + 10 after it) and the separator (1 + 10).
int sbHeaderWidth(bool showsLabel, double labelWidth, bool showsSeparator);

// Minimum and maximum width of a group with `peeled` objects moved into the overflow menu;
// zero for a group whose objects are all peeled off (or that has none).
SBGroupWidths sbGroupWidths(const SBGroupMeasure &group, int peeled, const SBLayoutMetrics &metrics);

// The rectangles of the visible buttons inside the button strip. At the group's maximum width
// every button has its natural width; narrower, each loses a share of the excess in proportion
// to how far it lies above the minimum button width, and the last takes the rest. A button
// never gets a negative width nor more than its natural width.
std::vector<QRect> sbButtonFrames(const QRect &buttonStrip, int frameWidth, const SBGroupMeasure &group,
                                  int visibleCount, const SBLayoutMetrics &metrics);

// One entry of the overflow menu below its face item: an object of a group, or a separator
// between two groups (object < 0).
struct SBOverflowEntry
{
    int group = -1;
    int object = -1;
    bool isSeparator() const { return object < 0; }
    friend bool operator==(const SBOverflowEntry &, const SBOverflowEntry &) = default;
};

struct SBGroupPlacement
{
    bool collapsed = false;
    int peeled = 0;
    SBGroupWidths widths;
    QRect frame;
};

struct SBBarLayout
{
    std::vector<SBGroupPlacement> groups;
    std::vector<SBOverflowEntry> overflow; // empty: no overflow button
    QRect overflowRect;
    QRect accessoryRect;
};

// Asked before a group changes its collapsed state (group index, true to collapse); false
// keeps the state.
using SBMayChangeCollapse = std::function<bool(int group, bool collapse)>;

// Lays the groups out in `bounds` (top-left coordinates): every group starts expanded; while
// the minimum widths do not fit, groups collapse from the right; when no group can collapse any
// more, objects move into the overflow menu from the right; what remains is squeezed in
// proportion to each group's room between its minimum and maximum width. `accessory` is the
// accessory view's size, empty without one; `overflowSize` the overflow button's size.
SBBarLayout sbLayoutBar(const QRect &bounds, const std::vector<SBGroupMeasure> &groups,
                        const SBLayoutMetrics &metrics, const QSize &overflowSize, const QSize &accessory,
                        const SBMayChangeCollapse &mayChangeCollapse = {});

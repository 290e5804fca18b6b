#include "SBScopeBarLayout.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr int SBLayoutSeparatorWidth = 1;
constexpr int SBLayoutSpaceAfterSeparator = 10;
constexpr int SBLayoutLabelInset = 1;
constexpr int SBLayoutSpaceAfterLabel = 10;

int sbLayoutVisible(const SBGroupMeasure &group, int peeled)
{
    const int count = int(group.buttonWidths.size());
    return std::max(0, count - std::clamp(peeled, 0, count));
}

} // namespace

int sbHeaderWidth(bool showsLabel, double labelWidth, bool showsSeparator)
{
    int width = 0;
    if (showsLabel)
        width += int(SBLayoutLabelInset + labelWidth + SBLayoutSpaceAfterLabel);
    if (showsSeparator)
        width += SBLayoutSeparatorWidth + SBLayoutSpaceAfterSeparator;
    return width;
}

SBGroupWidths sbGroupWidths(const SBGroupMeasure &group, int peeled, const SBLayoutMetrics &metrics)
{
    const int visible = sbLayoutVisible(group, peeled);
    if (visible == 0)
        return {};
    if (group.collapsed)
        return {group.headerWidth + std::min(group.popUpWidth, metrics.minimumPopUpWidth),
                group.headerWidth + group.popUpWidth};
    int maximum = 0;
    int minimum = 0;
    for (int i = 0; i < visible; ++i) {
        const int width = group.buttonWidths[size_t(i)];
        maximum += width + metrics.intercellSpacing;
        minimum += std::min(metrics.minimumButtonWidth, width) + metrics.intercellSpacing;
    }
    return {group.headerWidth + minimum - metrics.intercellSpacing,
            group.headerWidth + maximum - metrics.intercellSpacing};
}

std::vector<QRect> sbButtonFrames(const QRect &buttonStrip, int frameWidth, const SBGroupMeasure &group,
                                  int visibleCount, const SBLayoutMetrics &metrics)
{
    std::vector<QRect> frames;
    const int visible = std::clamp(visibleCount, 0, int(group.buttonWidths.size()));
    if (visible == 0 || group.collapsed)
        return frames;
    const SBGroupWidths widths = sbGroupWidths(group, int(group.buttonWidths.size()) - visible, metrics);
    int x = buttonStrip.x();
    if (frameWidth >= widths.maximum) {
        for (int i = 0; i < visible; ++i) {
            const int width = group.buttonWidths[size_t(i)];
            frames.emplace_back(x, buttonStrip.y(), width, buttonStrip.height());
            x += width + metrics.intercellSpacing;
        }
        return frames;
    }

    const int excess = std::max(0, (widths.maximum - group.headerWidth) - buttonStrip.width());
    const int range = widths.maximum - widths.minimum;
    // With every button at or below the minimum there is no room above it to share the excess
    // by; the buttons then give it up in proportion to their own widths.
    const long long total = std::accumulate(group.buttonWidths.begin(), group.buttonWidths.begin() + visible, 0LL);
    int remaining = excess;
    for (int i = 0; i < visible; ++i) {
        const int width = group.buttonWidths[size_t(i)];
        int reduction;
        if (i == visible - 1) {
            reduction = remaining;
        } else if (range > 0) {
            const int room = width - std::min(metrics.minimumButtonWidth, width);
            reduction = int(double(room) / range * excess);
        } else {
            reduction = total > 0 ? int(double(width) / double(total) * excess) : 0;
        }
        reduction = std::clamp(reduction, 0, width);
        remaining -= reduction;
        frames.emplace_back(x, buttonStrip.y(), width - reduction, buttonStrip.height());
        x += width - reduction + metrics.intercellSpacing;
    }
    return frames;
}

namespace {

struct SBLayoutState
{
    const std::vector<SBGroupMeasure> &measures;
    const SBLayoutMetrics &metrics;
    std::vector<SBGroupMeasure> groups; // with the collapsed state the layout settles on
    SBBarLayout result;

    void recompute(size_t g)
    {
        result.groups[g].collapsed = groups[g].collapsed;
        result.groups[g].widths = sbGroupWidths(groups[g], result.groups[g].peeled, metrics);
    }
    long long sum(bool maximum) const
    {
        long long total = 0;
        for (const SBGroupPlacement &p : result.groups)
            total += maximum ? p.widths.maximum : p.widths.minimum;
        return total;
    }
    bool fullyPeeled(size_t g) const
    {
        return result.groups[g].peeled >= int(groups[g].buttonWidths.size());
    }
};

// Moves objects into the overflow menu, right-most first, until the minimum widths fit.
void sbLayoutPeel(SBLayoutState &state, long long width)
{
    std::vector<SBOverflowEntry> &menu = state.result.overflow;
    for (size_t g = state.groups.size(); g-- > 0;) {
        SBGroupPlacement &placement = state.result.groups[g];
        const int count = int(state.groups[g].buttonWidths.size());
        std::vector<SBOverflowEntry> items;
        while (!state.fullyPeeled(g) && state.sum(false) > width) {
            if (state.groups[g].collapsed) {
                for (int i = count - 1; i >= placement.peeled; --i)
                    items.insert(items.begin(), {int(g), i});
                placement.peeled = count;
            } else {
                ++placement.peeled;
                items.insert(items.begin(), {int(g), count - placement.peeled});
            }
            state.recompute(g);
        }
        menu.insert(menu.begin(), items.begin(), items.end());
        // A group that left the bar no longer needs the spacing before it.
        if (g > 0 && state.fullyPeeled(g) && count > 0)
            width += state.metrics.groupSpacing;
        if (state.sum(false) <= width)
            break;
        if (!menu.empty() && !menu.front().isSeparator())
            menu.insert(menu.begin(), SBOverflowEntry{});
    }
    if (!menu.empty() && menu.front().isSeparator())
        menu.erase(menu.begin());
}

void sbLayoutPlaceAtMaximum(SBLayoutState &state, const QRect &bounds)
{
    int x = bounds.x() + state.metrics.outerMargin;
    for (SBGroupPlacement &p : state.result.groups) {
        p.frame = QRect(x, bounds.y(), p.widths.maximum, bounds.height());
        x += p.widths.maximum + state.metrics.groupSpacing;
    }
}

} // namespace

SBBarLayout sbLayoutBar(const QRect &bounds, const std::vector<SBGroupMeasure> &measures,
                        const SBLayoutMetrics &metrics, const QSize &overflowSize, const QSize &accessory,
                        const SBMayChangeCollapse &mayChangeCollapse)
{
    SBLayoutState state{measures, metrics, measures, {}};
    const size_t count = measures.size();
    state.result.groups.resize(count);
    for (size_t g = 0; g < count; ++g) {
        if (metrics.autoResizesGroups && state.groups[g].collapsed
            && (!mayChangeCollapse || mayChangeCollapse(int(g), false)))
            state.groups[g].collapsed = false;
        state.recompute(g);
    }

    const int gaps = count > 0 ? int(count) - 1 : 0;
    long long available = bounds.width() - 2LL * metrics.outerMargin - gaps * metrics.groupSpacing;
    int right = bounds.x() + bounds.width() - metrics.outerMargin;
    int accessoryShare = 0;
    if (!accessory.isEmpty()) {
        state.result.accessoryRect = QRect(right - accessory.width(), bounds.y() + (bounds.height() - accessory.height()) / 2,
                                           accessory.width(), accessory.height());
        accessoryShare = accessory.width() + metrics.accessorySpacing;
        available -= accessoryShare;
        right -= accessoryShare;
    }
    if (!metrics.autoResizesGroups) {
        sbLayoutPlaceAtMaximum(state, bounds);
        return std::move(state.result);
    }

    bool collapsedEnough = true;
    while (state.sum(false) > available) {
        bool collapsedOne = false;
        for (size_t g = count; g-- > 0;) {
            if (state.groups[g].collapsed)
                continue;
            if (mayChangeCollapse && !mayChangeCollapse(int(g), true))
                continue;
            state.groups[g].collapsed = true;
            state.recompute(g);
            collapsedOne = true;
            break;
        }
        if (!collapsedOne) {
            collapsedEnough = false;
            break;
        }
    }

    if (!collapsedEnough) {
        state.result.overflowRect = QRect(right - overflowSize.width(),
                                          bounds.y() + (bounds.height() - overflowSize.height()) / 2,
                                          overflowSize.width(), overflowSize.height());
        const long long beside = available - overflowSize.width() - metrics.overflowGap;
        if (state.sum(false) > beside) {
            sbLayoutPeel(state, beside);
            int remainingGroups = 0;
            for (size_t g = 0; g < count; ++g)
                remainingGroups += state.fullyPeeled(g) ? 0 : 1;
            available = bounds.width() - 2LL * metrics.outerMargin - accessoryShare
                      - std::max(0, remainingGroups - 1) * metrics.groupSpacing - overflowSize.width();
            if (state.sum(false) > 0)
                available -= metrics.overflowGap;
        } else {
            available = beside;
        }
        // Nothing peeled: the button is not shown.
        if (state.result.overflow.empty())
            state.result.overflowRect = QRect();
    }

    const long long sumMax = state.sum(true);
    if (sumMax <= available) {
        sbLayoutPlaceAtMaximum(state, bounds);
        return std::move(state.result);
    }
    const long long excess = sumMax - std::max(0LL, available);
    const long long range = sumMax - state.sum(false);
    long long remaining = excess;
    int x = bounds.x() + metrics.outerMargin;
    for (size_t g = 0; g < count; ++g) {
        SBGroupPlacement &p = state.result.groups[g];
        long long reduction;
        if (g == count - 1)
            reduction = remaining;
        else if (range > 0)
            reduction = qRound64(double(p.widths.maximum - p.widths.minimum) / double(range) * double(excess));
        else // every group already at its minimum: give up width in proportion to size
            reduction = sumMax > 0 ? qRound64(double(p.widths.maximum) / double(sumMax) * double(excess)) : 0;
        reduction = std::clamp<long long>(reduction, 0, p.widths.maximum);
        remaining -= reduction;
        const int width = p.widths.maximum - int(reduction);
        p.frame = QRect(x, bounds.y(), width, bounds.height());
        x += width + metrics.groupSpacing;
    }
    return std::move(state.result);
}

#include "TBTabLayout.h"

#include <QtGlobal>

#include <algorithm>
#include <cmath>

namespace {

long tbLayoutTruncatedSum(const std::vector<double> &widths)
{
    long sum = 0;
    for (double w : widths)
        sum += long(w);
    return sum;
}

// The shown width of one cell of a horizontal bar.
double tbLayoutCellWidth(const TBTabWidthInput &in, std::size_t i)
{
    double width = double(in.cellOptimumWidth);
    if (in.sizeCellsToFit) {
        width = in.desiredWidths[i];
        if (width > in.cellMaxWidth)
            width = double(in.cellMaxWidth);
        if (width < in.cellMinWidth)
            width = double(in.cellMinWidth);
    }
    return std::ceil(width);
}

void tbLayoutSqueeze(const TBTabWidthInput &in, std::vector<double> &widths)
{
    const std::size_t n = in.desiredWidths.size();
    widths.clear();
    const long even = long(in.available / double(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double desired = in.desiredWidths[i];
        widths.push_back(in.sizeCellsToFit && desired < even ? desired : double(even));
    }
}

TBTabWidthResult tbLayoutVertical(const TBTabWidthInput &in)
{
    TBTabWidthResult result;
    double y = in.topMargin;
    for (std::size_t i = 0; i < in.desiredWidths.size(); ++i) {
        if (in.frameHeight < y + in.cellHeight) {
            if (!result.widths.empty() && in.frameHeight - y < 17)
                result.widths.pop_back();
            break;
        }
        result.widths.push_back(y);
        y += in.cellHeight;
    }
    return result;
}

} // namespace

long TBShrinkTabWidths(std::vector<double> &widths, long minimum, double available)
{
    const long start = tbLayoutTruncatedSum(widths);
    long current = start;
    bool changed = true;
    while (changed && current > available) {
        changed = false;
        for (std::size_t i = widths.size(); i-- > 0;) {
            if (widths[i] - 1 >= minimum) {
                widths[i] -= 1;
                --current;
                changed = true;
            }
        }
    }
    return start - current;
}

void TBDistributeTabWidth(std::vector<double> &widths, long amount, std::size_t k)
{
    k = std::min(k, widths.size());
    for (std::size_t m = k; m >= 1; --m) {
        const long share = amount / long(m);
        widths[m - 1] = double(long(widths[m - 1]) + share);
        amount -= share;
    }
}

TBTabWidthResult TBGenerateTabWidths(const TBTabWidthInput &in)
{
    if (in.vertical)
        return tbLayoutVertical(in);

    TBTabWidthResult result;
    std::vector<double> &widths = result.widths;
    const std::size_t n = in.desiredWidths.size();
    const double available = in.available;
    std::size_t visible = 1;
    double total = 0;

    for (std::size_t i = 0; i < n; ++i) {
        const double width = tbLayoutCellWidth(in, i);
        if (total + width < available) {
            widths.push_back(width);
            total += width;
            visible = n;
            continue;
        }
        if (!in.useOverflowMenu) {
            tbLayoutSqueeze(in, widths);
            return result;
        }
        if (!in.sizeCellsToFit) {
            const std::size_t k = i + 1;
            const long w = long(available / double(k));
            if (w < in.cellMinWidth) {
                visible = i;
                break;
            }
            std::fill(widths.begin(), widths.end(), double(w));
            widths.push_back(double(w));
            total = double(k) * double(w);
            visible = k;
            continue;
        }

        // Fitted widths: make room by shrinking the cells already placed.
        const long current = tbLayoutTruncatedSum(widths);
        long floorSum = 0;
        for (double w : widths)
            floorSum += std::min(long(w), in.cellMinWidth);
        if (available < double(floorSum) + std::min(width, double(in.cellMinWidth))) {
            TBDistributeTabWidth(widths, long(available - double(current)), i);
            visible = i;
            break;
        }
        widths.push_back(width);
        total = double(current) + width;
        long average = 0;
        {
            const long sum = tbLayoutTruncatedSum(widths);
            average = sum / long(widths.size());
        }
        total -= double(TBShrinkTabWidths(widths, average, available));
        if (total > available) {
            long smallest = long(widths.front());
            for (double w : widths)
                smallest = std::min(smallest, long(w));
            if (smallest > in.cellMinWidth)
                total -= double(TBShrinkTabWidths(widths, smallest, available));
        }
        if (total > available)
            total -= double(TBShrinkTabWidths(widths, in.cellMinWidth, available));
        visible = i + 1;
        const bool failed = total > available;
        if (failed) {
            qWarning("**** -[TBTabBarController generateWidthsFromCells:] This is a failure (available %f, total %f, width is %f)",
                     available, total, width);
            result.failed = true;
        }
        if (total < available) {
            const long leftover = long(available - total);
            if (leftover > 0) {
                TBDistributeTabWidth(widths, leftover, i + 1);
                total += double(leftover);
            }
        }
        if (failed)
            break;
    }

    if (visible <= 1 && n >= 2) {
        double w0 = in.desiredWidths[0] < available / 2 ? in.desiredWidths[0] : available / 2;
        const double w1 = in.desiredWidths[1] < available - w0 ? in.desiredWidths[1] : available - w0;
        if (w0 + w1 < available)
            w0 = available - w1;
        widths = {w0, w1};
    }
    return result;
}

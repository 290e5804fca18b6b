#pragma once

// The tab widths of a bar, as pure functions of the bar's settings and the cells' wishes.
// Horizontal bars get one width per visible cell; vertical bars one y origin per visible cell.
// The length of the result is the number of visible cells; the others go to the overflow menu.

#include <vector>

struct TBTabWidthInput
{
    double available = 0;            // width the cells may take (horizontal bar)
    bool vertical = false;
    bool sizeCellsToFit = false;     // desired widths instead of the optimum width
    bool useOverflowMenu = true;     // without it every cell is squeezed in
    long cellMinWidth = 100;
    long cellMaxWidth = 280;
    long cellOptimumWidth = 130;
    std::vector<double> desiredWidths;   // one per cell
    // Vertical bar only.
    double topMargin = 0;
    double frameHeight = 0;
    double cellHeight = 22;
};

struct TBTabWidthResult
{
    std::vector<double> widths;
    bool failed = false;             // widths could not be brought within the available width
};

TBTabWidthResult TBGenerateTabWidths(const TBTabWidthInput &input);

// Takes one point at a time off every entry that stays at or above the minimum, sweeping from
// the last entry to the first, until the sum fits or a sweep changes nothing. Answers the
// amount taken off.
long TBShrinkTabWidths(std::vector<double> &widths, long minimum, double available);

// Hands an integer amount out over the first k entries, the larger shares to the leftmost
// (5 over 3 entries adds 2, 2 and 1); the entries become whole numbers.
void TBDistributeTabWidth(std::vector<double> &widths, long amount, std::size_t k);

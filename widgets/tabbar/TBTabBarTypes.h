#pragma once

// Small shared definitions of the tab bar family.

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QString>

enum class TBTabBarOrientation { Horizontal = 0, Vertical = 1 };

// Marks the layout sets on each cell (tabState).
namespace TBTabState {
constexpr long Selected = 0x2;          // this tab is selected
constexpr long LeftIsSelected = 0x4;    // the tab on its left (above it) is selected
constexpr long RightIsSelected = 0x8;   // the tab on its right (below it) is selected
constexpr long First = 0x10;            // first tab of the bar
constexpr long WasSelected = 0x20;      // lost the selection
constexpr long Last = 0x40;             // last visible tab
constexpr long Only = 0x80;             // the only visible tab
} // namespace TBTabState

// Text with the look a style gives it.
struct TBStyledText
{
    QString text;
    QFont font;
    QColor color;                 // invalid: the palette's text colour
    QColor shadowColor;           // invalid: no shadow
    QPointF shadowOffset;
    bool centred = false;
};

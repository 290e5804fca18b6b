#pragma once

#include <QImage>
#include <QRect>
#include <QString>

class QPainter;

// A small recessed toggle button of the scope bar, or a collapsed group's pop-up: its title in
// bold 11 pixels, an optional 16-pixel image left of it, a rounded face while on, pressed or
// under the mouse. Natural size: 10 of padding either side of the content (3 between image
// and title), plus 12 for a pop-up's arrow; 19 high.
struct SBScopeBarCell
{
    QString title;
    QImage image;
    bool popUp = false;
    bool on = false;
    bool highlighted = false;  // pressed with the mouse inside
    bool hovered = false;      // the mouse is over it
    bool alwaysBordered = false;

    static constexpr int Height = 19;

    QSize naturalSize() const;
    void draw(QPainter &painter, const QRect &rect) const;

    static QFont font();
};

#pragma once

// What a tab bar asks of its look: every measurement and every pixel of the bar and its cells.
// The bar's coordinates are Qt's (y grows downwards).

#include <widgets/tabbar/TBTabBarTypes.h>

#include <QPixmap>
#include <QRectF>

#include <memory>

class QPainter;
class TBTabBarCell;
class TBTabBarControl;

class TBTabStyle
{
public:
    virtual ~TBTabStyle() = default;

    virtual QString name() const = 0;
    virtual double leftMarginForTabBarControl() const = 0;
    virtual double rightMarginForTabBarControl() const = 0;
    virtual double topMarginForTabBarControl() const = 0;
    virtual void setOrientation(TBTabBarOrientation orientation) = 0;

    virtual QPixmap addTabButtonImage() const = 0;
    virtual QPixmap addTabButtonPressedImage() const = 0;
    virtual QPixmap addTabButtonRolloverImage() const = 0;

    virtual QRectF dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const = 0;
    virtual QRectF closeButtonRectForTabCell(const TBTabBarCell &cell, const QRectF &frame) const = 0;
    virtual QRectF iconRectForTabCell(const TBTabBarCell &cell) const = 0;
    virtual QRectF indicatorRectForTabCell(const TBTabBarCell &cell) const = 0;
    virtual QRectF objectCounterRectForTabCell(const TBTabBarCell &cell) const = 0;
    virtual double minimumWidthOfTabCell(const TBTabBarCell &cell) const = 0;
    virtual double desiredWidthOfTabCell(const TBTabBarCell &cell) const = 0;
    virtual double tabCellHeight() const = 0;
    virtual TBStyledText attributedObjectCountValueForTabCell(const TBTabBarCell &cell) const = 0;
    virtual TBStyledText attributedStringValueForTabCell(const TBTabBarCell &cell) const = 0;

    virtual void drawTabCell(QPainter &painter, const TBTabBarCell &cell) = 0;
    virtual void drawBackgroundInRect(QPainter &painter, const QRectF &rect) = 0;
    virtual void drawTabBar(QPainter &painter, TBTabBarControl &bar, const QRectF &rect) = 0;
};

// "Aqua", "Unified" and "Welvo" select those styles; any other name selects Metal.
std::unique_ptr<TBTabStyle> TBMakeTabStyle(const QString &name);

// Drawing helpers shared by the styles.
namespace TBTabDrawing {

// An image of the tab bar's resources by name ("AquaTabNew"), or a null pixmap when missing.
QPixmap image(const QString &name);

// Fills a path with a two-colour gradient over its bounds: along y (top to bottom) for the
// "horizontal" fills, along x for the vertical one. The bilinear fill shows the outer colour at
// both ends and the inner colour in the middle.
void linearGradientFill(QPainter &painter, const QPainterPath &path, const QColor &start, const QColor &end);
void linearVerticalGradientFill(QPainter &painter, const QPainterPath &path, const QColor &start, const QColor &end);
void bilinearGradientFill(QPainter &painter, const QPainterPath &path, const QColor &outer, const QColor &inner);

// The string cut to at most n UTF-16 units, the last of them an ellipsis, never inside a
// character (a surrogate pair, or a base letter and its combining marks): such a cut moves
// left, so the result may be shorter than n. n = 0 gives an empty string.
QString truncatedWithEllipsis(const QString &text, qsizetype n);

QColor white(double level, double alpha = 1.0);

} // namespace TBTabDrawing

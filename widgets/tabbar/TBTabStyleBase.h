#pragma once

// What the styles share: their close and add images, the object-counter badge, the width
// rules, the bar's drawing loop and the cell content (close button, icon, counter, title).

#include <widgets/tabbar/TBTabBarCell.h>
#include <widgets/tabbar/TBTabStyle.h>

#include <array>

class TBTabStyleBase : public TBTabStyle
{
public:
    // Close images: normal, pressed, over; then the same three for an edited tab. Add images:
    // normal, pressed, over.
    TBTabStyleBase(const std::array<const char *, 6> &closeImages, const std::array<const char *, 3> &addImages);

    void setOrientation(TBTabBarOrientation orientation) override { m_orientation = orientation; }
    double rightMarginForTabBarControl() const override { return 24; }
    double tabCellHeight() const override { return 22; }
    QPixmap addTabButtonImage() const override { return m_add[0]; }
    QPixmap addTabButtonPressedImage() const override { return m_add[1]; }
    QPixmap addTabButtonRolloverImage() const override { return m_add[2]; }

    // The 16-point icon 6 points in, after the close button; the indicator 6 points from the
    // right edge; both partsTop below the frame's top. The close button sits 2 points lower.
    QRectF closeButtonRectForTabCell(const TBTabBarCell &cell, const QRectF &frame) const override;
    QRectF iconRectForTabCell(const TBTabBarCell &cell) const override;
    QRectF indicatorRectForTabCell(const TBTabBarCell &cell) const override;
    QRectF objectCounterRectForTabCell(const TBTabBarCell &cell) const override;
    double minimumWidthOfTabCell(const TBTabBarCell &cell) const override;
    double desiredWidthOfTabCell(const TBTabBarCell &cell) const override;
    TBStyledText attributedObjectCountValueForTabCell(const TBTabBarCell &cell) const override;
    void drawTabBar(QPainter &painter, TBTabBarControl &bar, const QRectF &rect) override;

    // The cell's content, drawn last by drawTabCell.
    virtual void drawInteriorWithTabCell(QPainter &painter, const TBTabBarCell &cell);

    QSizeF closeButtonSize() const { return m_close[0].deviceIndependentSize(); }
    // The image the close button of a cell shows now.
    QPixmap closeButtonImageForCell(const TBTabBarCell &cell) const;
    // The icon of a tab: the "icon" property of its item's identifier, when it is an object.
    static QPixmap iconForCell(const TBTabBarCell &cell);
    static void drawStyledText(QPainter &painter, const QRectF &rect, const TBStyledText &text, const QPalette &palette);
    static double textWidth(const TBStyledText &text);
    static QFont systemFont(double pixelSize, bool bold = false);

protected:
    // The close and add images Unified, Aqua and Welvo share.
    static const std::array<const char *, 6> aquaCloseImages;
    static const std::array<const char *, 3> aquaAddImages;

    // How far below the frame's top a cell's icon and indicator sit.
    virtual double partsTop(const TBTabBarCell &) const { return 3; }

    double widthOfCell(const TBTabBarCell &cell, double titleWidth) const;
    // Where the title goes in the cell content, given its left edge p.
    virtual QRectF titleRect(const TBTabBarCell &cell, double p, double titleHeight) const = 0;
    // Whether the counter badge moves up a point for this cell.
    virtual bool liftsCounter(const TBTabBarCell &cell) const = 0;
    virtual QColor defaultCountColor() const { return TBTabDrawing::white(0.3, 0.6); }
    void drawCounter(QPainter &painter, const TBTabBarCell &cell, QRectF rect) const;

    std::array<QPixmap, 6> m_close;
    std::array<QPixmap, 3> m_add;
    TBTabBarOrientation m_orientation = TBTabBarOrientation::Horizontal;
    TBTabBarControl *m_tabBar = nullptr;
};

// The look of the project window's tab bars: grey gradients, rounded tabs.
class TBUnifiedTabStyle : public TBTabStyleBase
{
public:
    TBUnifiedTabStyle();

    QString name() const override { return QStringLiteral("Unified"); }
    double leftMarginForTabBarControl() const override { return m_leftMargin; }
    void setLeftMarginForTabBarControl(double margin) { m_leftMargin = margin; }
    double topMarginForTabBarControl() const override { return 10; }
    void setOrientation(TBTabBarOrientation) override {}

    QRectF dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const override;
    TBStyledText attributedStringValueForTabCell(const TBTabBarCell &cell) const override;
    void drawTabCell(QPainter &painter, const TBTabBarCell &cell) override;
    void drawBackgroundInRect(QPainter &painter, const QRectF &rect) override;

protected:
    QRectF titleRect(const TBTabBarCell &cell, double p, double titleHeight) const override;
    bool liftsCounter(const TBTabBarCell &) const override { return true; }
    double partsTop(const TBTabBarCell &) const override { return 2; }

private:
    double m_leftMargin = 5;
};

// A new bar's look: flat tabs on a darkened strip, the selected tab in the window colour.
class TBMetalTabStyle : public TBTabStyleBase
{
public:
    TBMetalTabStyle();

    QString name() const override { return QStringLiteral("Metal"); }
    double leftMarginForTabBarControl() const override { return 10; }
    double topMarginForTabBarControl() const override { return 10; }

    QRectF dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const override;
    TBStyledText attributedStringValueForTabCell(const TBTabBarCell &cell) const override;
    void drawTabCell(QPainter &painter, const TBTabBarCell &cell) override;
    void drawBackgroundInRect(QPainter &painter, const QRectF &rect) override;

protected:
    QRectF titleRect(const TBTabBarCell &cell, double p, double titleHeight) const override;
    bool liftsCounter(const TBTabBarCell &cell) const override { return cell.state() == 1; }
    // The selected tab's parts move up a point.
    double partsTop(const TBTabBarCell &cell) const override { return 3 - (cell.state() == 1 ? 1 : 0); }
};

// Picture-strip tabs: a stretched background, a bright selected tab, dividers between tabs.
class TBAquaTabStyle : public TBTabStyleBase
{
public:
    TBAquaTabStyle();

    QString name() const override { return QStringLiteral("Aqua"); }
    double leftMarginForTabBarControl() const override { return 0; }
    double topMarginForTabBarControl() const override { return 0; }
    void setOrientation(TBTabBarOrientation) override {}

    QRectF dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const override;
    TBStyledText attributedStringValueForTabCell(const TBTabBarCell &cell) const override;
    void drawTabCell(QPainter &painter, const TBTabBarCell &cell) override;
    void drawBackgroundInRect(QPainter &painter, const QRectF &rect) override;

protected:
    QRectF titleRect(const TBTabBarCell &cell, double p, double titleHeight) const override;
    bool liftsCounter(const TBTabBarCell &) const override { return false; }
    QColor defaultCountColor() const override { return TBTabDrawing::white(0.3, 0.45); }

private:
    QPixmap m_background, m_down, m_downNonKey, m_divider;
};

// Light tabs for horizontal and vertical bars; vertical tabs can show a large image and keep
// their counter where the close button goes until the mouse is over it.
class TBWelvoTabStyle : public TBTabStyleBase
{
public:
    TBWelvoTabStyle();

    QString name() const override { return QStringLiteral("Welvo"); }
    double leftMarginForTabBarControl() const override { return 3; }
    double topMarginForTabBarControl() const override { return 10; }
    double tabCellHeight() const override { return m_orientation == TBTabBarOrientation::Vertical ? 28 : 22; }

    bool drawsUnified() const { return m_drawsUnified; }
    void setDrawsUnified(bool value) { m_drawsUnified = value; }
    bool drawsRight() const { return m_drawsRight; }
    void setDrawsRight(bool value) { m_drawsRight = value; }
    bool closeButtonIsEnabledForCell(const TBTabBarCell &cell) const;
    QSizeF sizeForObjectCounterRectForTabCell(const TBTabBarCell &cell) const;
    // Height of the text wrapped to the width; remembered per text and width.
    static double heightOfText(const TBStyledText &text, double width);

    enum class CloseSpot { Nothing, CloseButton, Counter, Icon };
    // What the close button's place shows while the button is neither hovered nor pressed.
    CloseSpot closeSpotShows(const TBTabBarCell &cell) const;

    QRectF dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const override;
    QRectF closeButtonRectForTabCell(const TBTabBarCell &cell, const QRectF &frame) const override;
    QRectF iconRectForTabCell(const TBTabBarCell &cell) const override;
    QRectF indicatorRectForTabCell(const TBTabBarCell &cell) const override;
    QRectF objectCounterRectForTabCell(const TBTabBarCell &cell) const override;
    double minimumWidthOfTabCell(const TBTabBarCell &cell) const override;
    double desiredWidthOfTabCell(const TBTabBarCell &cell) const override;
    TBStyledText attributedStringValueForTabCell(const TBTabBarCell &cell) const override;
    void drawTabCell(QPainter &painter, const TBTabBarCell &cell) override;
    void drawBackgroundInRect(QPainter &painter, const QRectF &rect) override;
    void drawInteriorWithTabCell(QPainter &painter, const TBTabBarCell &cell) override;

protected:
    QRectF titleRect(const TBTabBarCell &cell, double p, double titleHeight) const override;
    bool liftsCounter(const TBTabBarCell &cell) const override { return cell.state() == 1; }

private:
    double welvoWidth(const TBTabBarCell &cell, double titleWidth) const;
    void drawWelvoCounter(QPainter &painter, const TBTabBarCell &cell, QRectF rect) const;

    bool m_drawsUnified = false;
    bool m_drawsRight = false;
    QPixmap m_gradient;
};

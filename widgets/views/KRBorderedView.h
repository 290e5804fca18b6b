#pragma once

#include <ui/KRUIColors.h>

#include <QColor>
#include <QWidget>

#include <optional>

QT_BEGIN_NAMESPACE
class QPainter;
QT_END_NAMESPACE

// A view that can fill itself with a vertical gradient and draw a one-pixel line along any of
// its edges. Everything is off by default, so a fresh view draws nothing. Without a gradient
// of its own the background is the shared header gradient (lighter at the top); a border
// without a colour of its own is the shared grey line colour.
class KRBorderedView : public QWidget
{
    Q_OBJECT

public:
    explicit KRBorderedView(QWidget *parent = nullptr);
    ~KRBorderedView() override;

    bool drawBackground() const { return m_drawBackground; }
    void setDrawBackground(bool draw);
    bool drawTopBorder() const { return m_drawTopBorder; }
    void setDrawTopBorder(bool draw);
    bool drawBottomBorder() const { return m_drawBottomBorder; }
    void setDrawBottomBorder(bool draw);
    bool drawLeftBorder() const { return m_drawLeftBorder; }
    void setDrawLeftBorder(bool draw);
    bool drawRightBorder() const { return m_drawRightBorder; }
    void setDrawRightBorder(bool draw);

    // Runs from the start colour at the bottom to the end colour at the top.
    std::optional<KRGradient> backgroundGradient() const { return m_backgroundGradient; }
    void setBackgroundGradient(std::optional<KRGradient> gradient);

    std::optional<QColor> topBorderColor() const { return m_topBorderColor; }
    void setTopBorderColor(std::optional<QColor> color);
    std::optional<QColor> bottomBorderColor() const { return m_bottomBorderColor; }
    void setBottomBorderColor(std::optional<QColor> color);
    std::optional<QColor> leftBorderColor() const { return m_leftBorderColor; }
    void setLeftBorderColor(std::optional<QColor> color);
    std::optional<QColor> rightBorderColor() const { return m_rightBorderColor; }
    void setRightBorderColor(std::optional<QColor> color);

protected:
    void paintEvent(QPaintEvent *event) override;
    // Draws the background, then the top, bottom, left and right borders. Subclasses draw
    // their own content on top after calling this.
    virtual void draw(QPainter &painter);

private:
    bool m_drawTopBorder = false;
    bool m_drawBottomBorder = false;
    bool m_drawLeftBorder = false;
    bool m_drawRightBorder = false;
    bool m_drawBackground = false;
    std::optional<KRGradient> m_backgroundGradient;
    std::optional<QColor> m_topBorderColor;
    std::optional<QColor> m_bottomBorderColor;
    std::optional<QColor> m_leftBorderColor;
    std::optional<QColor> m_rightBorderColor;
};

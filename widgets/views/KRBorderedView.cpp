#include "KRBorderedView.h"

#include <QPainter>

KRBorderedView::KRBorderedView(QWidget *parent)
    : QWidget(parent)
{
}

KRBorderedView::~KRBorderedView() = default;

void KRBorderedView::setDrawBackground(bool draw)
{
    m_drawBackground = draw;
    update();
}

void KRBorderedView::setDrawTopBorder(bool draw)
{
    m_drawTopBorder = draw;
    update();
}

void KRBorderedView::setDrawBottomBorder(bool draw)
{
    m_drawBottomBorder = draw;
    update();
}

void KRBorderedView::setDrawLeftBorder(bool draw)
{
    m_drawLeftBorder = draw;
    update();
}

void KRBorderedView::setDrawRightBorder(bool draw)
{
    m_drawRightBorder = draw;
    update();
}

void KRBorderedView::setBackgroundGradient(std::optional<KRGradient> gradient)
{
    m_backgroundGradient = std::move(gradient);
    update();
}

void KRBorderedView::setTopBorderColor(std::optional<QColor> color)
{
    m_topBorderColor = color;
    update();
}

void KRBorderedView::setBottomBorderColor(std::optional<QColor> color)
{
    m_bottomBorderColor = color;
    update();
}

void KRBorderedView::setLeftBorderColor(std::optional<QColor> color)
{
    m_leftBorderColor = color;
    update();
}

void KRBorderedView::setRightBorderColor(std::optional<QColor> color)
{
    m_rightBorderColor = color;
    update();
}

void KRBorderedView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    draw(painter);
}

void KRBorderedView::draw(QPainter &painter)
{
    const int w = width();
    const int h = height();
    if (m_drawBackground) {
        const KRGradient gradient = m_backgroundGradient.value_or(KRUIColors::headerGradient());
        painter.fillRect(rect(), gradient.linearGradient(QRectF(rect()), 90.0));
    }
    // Each border is the whole pixel row or column along its edge, inside the view.
    const QColor gray = KRUIColors::grayLineColor();
    if (m_drawTopBorder)
        painter.fillRect(QRect(0, 0, w, 1), m_topBorderColor.value_or(gray));
    if (m_drawBottomBorder)
        painter.fillRect(QRect(0, h - 1, w, 1), m_bottomBorderColor.value_or(gray));
    if (m_drawLeftBorder)
        painter.fillRect(QRect(0, 0, 1, h), m_leftBorderColor.value_or(gray));
    if (m_drawRightBorder)
        painter.fillRect(QRect(w - 1, 0, 1, h), m_rightBorderColor.value_or(gray));
}

#include "KRCornerBadgeView.h"

#include "KRViewDrawing.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace {

QSizeF textSize(const QString &text, const QFont &font)
{
    const QFontMetricsF metrics(font);
    return QSizeF(metrics.horizontalAdvance(text), metrics.height());
}

} // namespace

KRCornerBadgeView::KRCornerBadgeView(QWidget *parent)
    : QWidget(parent)
    , m_label(QStringLiteral("New"))
    , m_textAttributes{KRViewDrawing::systemFont(11, true), Qt::white}
    , m_labelSize(textSize(m_label, m_textAttributes.font))
    , m_fillColor(QColor::fromRgbF(0.88f, 0.33f, 0.27f))
    , m_gradient{m_fillColor, QColor::fromRgbF(0.76f, 0.29f, 0.24f)}
{
}

KRCornerBadgeView::~KRCornerBadgeView() = default;

void KRCornerBadgeView::paintEvent(QPaintEvent *)
{
    using KRViewDrawing::fromBottomLeft;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const qreal w = width();
    const qreal h = height();

    const QPolygonF ribbon{fromBottomLeft(QPointF(0, 0), h), fromBottomLeft(QPointF(w, h), h), fromBottomLeft(QPointF(0, h), h)};
    painter.setBrush(m_fillColor);
    painter.drawPolygon(ribbon);

    // The shaded inside leaves a 2-pixel edge of the plain fill along the diagonal.
    const QPolygonF inside{fromBottomLeft(QPointF(0, 2), h), fromBottomLeft(QPointF(w - 2, h), h), fromBottomLeft(QPointF(0, h), h)};
    painter.setBrush(m_gradient.linearGradient(inside.boundingRect(), 135.0));
    painter.drawPolygon(inside);

    // Along the diagonal, rising from the bottom-left corner, 1.5 pixels above it.
    painter.translate(fromBottomLeft(QPointF(0, 0), h));
    painter.rotate(-45.0);
    painter.setFont(m_textAttributes.font);
    painter.setPen(m_textAttributes.color);
    const qreal x = w * std::sqrt(2.0) / 2.0 - m_labelSize.width() / 2.0;
    const qreal baseline = -1.5 - QFontMetricsF(m_textAttributes.font).descent();
    painter.drawText(QPointF(x, baseline), m_label);
}

#include "KRBadgeView.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

KRBadgeView::KRBadgeView(QWidget *parent)
    : QWidget(parent)
{
    m_font.setBold(true);
    m_font.setPixelSize(11);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

KRBadgeView::~KRBadgeView() = default;

void KRBadgeView::setBadgeCount(const QString &count)
{
    m_badgeCount = count;
    update();
}

QRectF KRBadgeView::badgeRect() const
{
    if (m_badgeCount.isEmpty())
        return {};
    const double badgeWidth = QFontMetricsF(m_font).horizontalAdvance(m_badgeCount) + 8;
    // 1 pixel in from the top and bottom, 3 from the right edge.
    return QRectF(width() - badgeWidth - 3, 1, badgeWidth, height() - 2);
}

void KRBadgeView::paintEvent(QPaintEvent *)
{
    const QRectF badge = badgeRect();
    if (badge.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double radius = std::min(badge.width(), badge.height()) / 2;
    QPainterPath path;
    path.addRoundedRect(badge, radius, radius);
    // The white rim is stroked first; the fill then covers its inner half.
    painter.strokePath(path, QPen(Qt::white, 3));
    painter.fillPath(path, QColor::fromRgbF(0.88f, 0.33f, 0.27f, 1.0f));
    painter.setFont(m_font);
    painter.setPen(Qt::white);
    const QFontMetricsF metrics(m_font);
    // The text's box stands half a pixel above the view's bottom edge.
    const QRectF textBox(badge.x() + 5, height() - 0.5 - metrics.height(), metrics.horizontalAdvance(m_badgeCount),
                         metrics.height());
    painter.drawText(textBox, Qt::AlignLeft | Qt::AlignVCenter, m_badgeCount);
}

#include "SBScopeBarCell.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

constexpr int SBCellPadding = 10;
constexpr int SBCellImageSize = 16;
constexpr int SBCellImageGap = 3;
constexpr int SBCellArrowWidth = 12;

} // namespace

QFont SBScopeBarCell::font()
{
    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    return font;
}

QSize SBScopeBarCell::naturalSize() const
{
    double width = 2 * SBCellPadding + QFontMetricsF(font()).horizontalAdvance(title);
    if (!image.isNull())
        width += SBCellImageSize + (title.isEmpty() ? 0 : SBCellImageGap);
    if (popUp)
        width += SBCellArrowWidth;
    return QSize(int(std::ceil(width)), Height);
}

void SBScopeBarCell::draw(QPainter &painter, const QRect &rect) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = QRectF(rect).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = face.height() / 2;
    QColor fill;
    if (highlighted)
        fill = QColor(72, 72, 72, 190);
    else if (on)
        fill = QColor(92, 92, 92, 150);
    else if (hovered || alwaysBordered)
        fill = QColor(255, 255, 255, 90);
    if (fill.isValid()) {
        painter.setPen(on || highlighted ? QPen(QColor(70, 70, 70, 140), 1)
                                         : QPen(QColor(120, 120, 120, 160), 1));
        painter.setBrush(fill);
        painter.drawRoundedRect(face, radius, radius);
    }

    const bool light = on || highlighted;
    QRectF content = QRectF(rect).adjusted(SBCellPadding, 0, -SBCellPadding, 0);
    if (popUp) {
        content.setRight(content.right() - SBCellArrowWidth);
        // Two small chevrons, up and down, at the right end.
        const double ax = rect.right() - SBCellPadding - 3.5;
        const double ay = rect.center().y() + 0.5;
        QPainterPath arrows;
        arrows.moveTo(ax - 3, ay - 2);
        arrows.lineTo(ax, ay - 5);
        arrows.lineTo(ax + 3, ay - 2);
        arrows.moveTo(ax - 3, ay + 2);
        arrows.lineTo(ax, ay + 5);
        arrows.lineTo(ax + 3, ay + 2);
        painter.setPen(QPen(light ? Qt::white : QColor(60, 60, 60), 1.4));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(arrows);
    }
    if (!image.isNull() && content.width() > 0) {
        const QRectF imageRect(content.x(), rect.y() + (rect.height() - SBCellImageSize) / 2.0, SBCellImageSize,
                               SBCellImageSize);
        painter.drawImage(imageRect, image);
        content.setLeft(content.left() + SBCellImageSize + SBCellImageGap);
    }
    if (content.width() > 0 && !title.isEmpty()) {
        painter.setFont(font());
        const QFontMetricsF metrics(font());
        const QString text = metrics.elidedText(title, Qt::ElideRight, content.width() + 1);
        if (!light) {
            painter.setPen(QColor(255, 255, 255, 150));
            painter.drawText(content.translated(0, 1), Qt::AlignLeft | Qt::AlignVCenter, text);
        }
        painter.setPen(light ? Qt::white : QColor(50, 50, 50));
        painter.drawText(content, Qt::AlignLeft | Qt::AlignVCenter, text);
    }
    painter.restore();
}

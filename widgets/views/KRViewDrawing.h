#pragma once

// Helpers shared by the drawn views. Their drawing is laid out with the origin at the
// bottom-left corner and y growing upwards; these turn such geometry into Qt's top-left,
// y-down coordinates for a view of the given height.

#include <QFont>
#include <QPointF>
#include <QRectF>

namespace KRViewDrawing {

inline QRectF fromBottomLeft(const QRectF &rect, qreal viewHeight)
{
    return QRectF(rect.x(), viewHeight - rect.y() - rect.height(), rect.width(), rect.height());
}

inline QPointF fromBottomLeft(const QPointF &point, qreal viewHeight)
{
    return QPointF(point.x(), viewHeight - point.y());
}

// The application font at a size in pixels, rounded to whole pixels so that it is the same
// size whatever the screen's dots per inch.
QFont systemFont(qreal pixelSize, bool bold = false);

} // namespace KRViewDrawing

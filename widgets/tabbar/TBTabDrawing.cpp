#include "TBTabStyle.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>

static void tbInitTabBarResources()
{
    Q_INIT_RESOURCE(tabbar);
}

namespace TBTabDrawing {

QPixmap image(const QString &name)
{
    static QHash<QString, QPixmap> cache;
    static const bool loaded = (tbInitTabBarResources(), true);
    Q_UNUSED(loaded);
    auto it = cache.constFind(name);
    if (it != cache.constEnd())
        return *it;
    // The @2x picture is found by QPixmap itself on a high-density screen.
    QPixmap pixmap(QStringLiteral(":/tabbar/%1.png").arg(name));
    cache.insert(name, pixmap);
    return pixmap;
}

static void fillAlong(QPainter &painter, const QPainterPath &path, QLinearGradient gradient)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(path);
    painter.restore();
}

void linearGradientFill(QPainter &painter, const QPainterPath &path, const QColor &start, const QColor &end)
{
    const QRectF b = path.boundingRect();
    QLinearGradient gradient(QPointF(0, b.top()), QPointF(0, b.bottom()));
    gradient.setColorAt(0, start);
    gradient.setColorAt(1, end);
    fillAlong(painter, path, gradient);
}

void linearVerticalGradientFill(QPainter &painter, const QPainterPath &path, const QColor &start, const QColor &end)
{
    const QRectF b = path.boundingRect();
    QLinearGradient gradient(QPointF(b.left(), 0), QPointF(b.right(), 0));
    gradient.setColorAt(0, start);
    gradient.setColorAt(1, end);
    fillAlong(painter, path, gradient);
}

void bilinearGradientFill(QPainter &painter, const QPainterPath &path, const QColor &outer, const QColor &inner)
{
    const QRectF b = path.boundingRect();
    QLinearGradient gradient(QPointF(0, b.top()), QPointF(0, b.bottom()));
    gradient.setColorAt(0, outer);
    gradient.setColorAt(0.5, inner);
    gradient.setColorAt(1, outer);
    fillAlong(painter, path, gradient);
}

QString truncatedWithEllipsis(const QString &text, qsizetype n)
{
    if (text.size() <= n)
        return text;
    if (n <= 0)
        return QString();
    // Keep the longest run of whole characters within n - 1 units.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.setPosition(n - 1);
    qsizetype cut = finder.isAtBoundary() ? n - 1 : finder.toPreviousBoundary();
    if (cut < 0)
        cut = 0;
    return text.left(cut) + QChar(0x2026);
}

QColor white(double level, double alpha)
{
    QColor c;
    c.setRgbF(float(level), float(level), float(level), float(alpha));
    return c;
}

} // namespace TBTabDrawing

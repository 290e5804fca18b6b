#include "TBTabBarCell.h"
#include "TBTabBarControl.h"
#include "TBTabStyleBase.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

// A 1 x 22 strip stretched over a rectangle.
void tbOtherStretch(QPainter &painter, const QRectF &target, const QPixmap &strip)
{
    if (!strip.isNull())
        painter.drawPixmap(target, strip, QRectF(QPointF(0, 0), strip.size()));
}

// A one-point line with a soft white shadow offset as given (in Qt's y-down coordinates).
void tbOtherShadowedLine(QPainter &painter, QPointF a, QPointF b, QPointF shadow)
{
    painter.setPen(QPen(TBTabDrawing::white(0.6, 0.6), 1));
    painter.drawLine(a + shadow / 2, b + shadow / 2);
    painter.setPen(QPen(QColor(128, 128, 128), 1));
    painter.drawLine(a, b);
}

bool tbOtherWindowIsKey(const TBTabBarCell &cell)
{
    return cell.controlView() && cell.controlView()->isActiveWindow();
}

} // namespace

// Aqua

TBAquaTabStyle::TBAquaTabStyle()
    : TBTabStyleBase(aquaCloseImages, aquaAddImages),
      m_background(TBTabDrawing::image(QStringLiteral("AquaTabsBackground"))),
      m_down(TBTabDrawing::image(QStringLiteral("AquaTabsDown"))),
      m_downNonKey(TBTabDrawing::image(QStringLiteral("AquaTabsDownNonKey"))),
      m_divider(TBTabDrawing::image(QStringLiteral("AquaTabsSeparator")))
{
}

QRectF TBAquaTabStyle::dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation) const
{
    return cell.frame();
}

TBStyledText TBAquaTabStyle::attributedStringValueForTabCell(const TBTabBarCell &cell) const
{
    return TBStyledText{cell.stringValue(), systemFont(11), QColor(), QColor(), QPointF(), true};
}

QRectF TBAquaTabStyle::titleRect(const TBTabBarCell &cell, double p, double) const
{
    const QRectF f = cell.frame();
    return QRectF(p, f.y() + 4, f.width() - (p - f.x()) - 4, f.height());
}

void TBAquaTabStyle::drawBackgroundInRect(QPainter &painter, const QRectF &rect)
{
    // Only a strip as high as the bar's tabs is repainted with the picture.
    if (!m_tabBar || rect.height() > 22)
        return;
    tbOtherStretch(painter, m_tabBar->rect(), m_background);
}

void TBAquaTabStyle::drawTabCell(QPainter &painter, const TBTabBarCell &cell)
{
    const QRectF f = cell.frame();
    if (cell.state() == 1) {
        tbOtherStretch(painter, f, tbOtherWindowIsKey(cell) ? m_down : m_downNonKey);
    } else if (cell.isHighlighted()) {
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.fillRect(QRectF(f.x() + 0.5, f.y() + 0.5, f.width(), f.height()), QColor(0, 0, 0, 26));
        painter.restore();
    }
    // The divider stands on the cell's bottom edge at its right end.
    painter.drawPixmap(QPointF(f.right() - 1, f.bottom() - m_divider.deviceIndependentSize().height()), m_divider);
    drawInteriorWithTabCell(painter, cell);
}

// Welvo

TBWelvoTabStyle::TBWelvoTabStyle()
    : TBTabStyleBase(aquaCloseImages, aquaAddImages), m_gradient(TBTabDrawing::image(QStringLiteral("WelvoGradient")))
{
}

bool TBWelvoTabStyle::closeButtonIsEnabledForCell(const TBTabBarCell &cell) const
{
    return cell.hasCloseButton() && !cell.isCloseButtonSuppressed();
}

QSizeF TBWelvoTabStyle::sizeForObjectCounterRectForTabCell(const TBTabBarCell &cell) const
{
    return QSizeF(std::max(20.0, textWidth(attributedObjectCountValueForTabCell(cell)) + 11), 14);
}

double TBWelvoTabStyle::heightOfText(const TBStyledText &text, double width)
{
    // Keyed by text and width: a bar resized to another width measures again.
    static QHash<QPair<QString, int>, double> cache;
    if (cache.size() > 100)
        cache.clear();
    const QPair<QString, int> key(text.text + QLatin1Char('\n') + text.font.key(), int(std::lround(width * 64)));
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    const QRectF used = QFontMetricsF(text.font).boundingRect(QRectF(0, 0, std::max(1.0, width), 1e7),
                                                              Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text.text);
    cache.insert(key, used.height());
    return used.height();
}

QRectF TBWelvoTabStyle::dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const
{
    QRectF r = cell.frame();
    if (cell.state() == 1 && orientation == TBTabBarOrientation::Horizontal) {
        r.setWidth(r.width() + 1);
        r.setHeight(r.height() - 2);
    }
    return r;
}

QRectF TBWelvoTabStyle::closeButtonRectForTabCell(const TBTabBarCell &cell, const QRectF &frame) const
{
    if (!closeButtonIsEnabledForCell(cell))
        return QRectF();
    const QSizeF s = closeButtonSize();
    if (m_orientation == TBTabBarOrientation::Vertical)
        return QRectF(QPointF(frame.right() - 8 - s.width(), frame.y() + frame.height() / 2 - s.height() / 2 + 1), s);
    return QRectF(QPointF(frame.x() + 4, frame.y() + 5 - (cell.state() == 1 ? 1 : 0)), s);
}

QRectF TBWelvoTabStyle::iconRectForTabCell(const TBTabBarCell &cell) const
{
    if (!cell.hasIcon())
        return QRectF();
    const QRectF f = cell.frame();
    QSizeF s = iconForCell(cell).deviceIndependentSize();
    if (s.isEmpty())
        s = QSizeF(16, 16);
    QPointF at;
    if (m_orientation == TBTabBarOrientation::Vertical) {
        at = QPointF(f.right() - 8 - s.width(), f.y() + f.height() / 2 - s.height() / 2 + 1);
    } else {
        at = QPointF(f.x() + 4, f.y() + 3);
        if (s.width() < 16)
            at.rx() += (16 - s.width()) / 2;
        if (s.height() < 16)
            at.ry() += (16 - s.height()) / 2;
    }
    if (cell.state() == 1)
        at.ry() -= 1;
    return QRectF(at, s);
}

QRectF TBWelvoTabStyle::indicatorRectForTabCell(const TBTabBarCell &cell) const
{
    if (!cell.indicatorVisible())
        return QRectF();
    return QRectF(cell.frame().right() - 20, cell.frame().y() + 3 - (cell.state() == 1 ? 1 : 0), 16, 16);
}

QRectF TBWelvoTabStyle::objectCounterRectForTabCell(const TBTabBarCell &cell) const
{
    if (cell.count() == 0)
        return QRectF();
    const QSizeF s = sizeForObjectCounterRectForTabCell(cell);
    double x = cell.frame().right() - 4 - s.width();
    if (cell.indicatorVisible())
        x -= 18;
    return QRectF(QPointF(x, cell.frame().y() + 4), s);
}

double TBWelvoTabStyle::welvoWidth(const TBTabBarCell &cell, double titleWidth) const
{
    double c = 4;
    if (closeButtonIsEnabledForCell(cell))
        c = std::max(closeButtonSize().width(), iconRectForTabCell(cell).width()) + 6;
    double width = c + titleWidth;
    if (cell.count() > 0 && m_orientation == TBTabBarOrientation::Horizontal)
        width += objectCounterRectForTabCell(cell).width() + 2;
    if (cell.indicatorVisible())
        width += 18;
    return std::ceil(width + 4);
}

double TBWelvoTabStyle::minimumWidthOfTabCell(const TBTabBarCell &cell) const
{
    return welvoWidth(cell, 30);
}

double TBWelvoTabStyle::desiredWidthOfTabCell(const TBTabBarCell &cell) const
{
    return welvoWidth(cell, textWidth(cell.attributedStringValue()) + 2);
}

TBStyledText TBWelvoTabStyle::attributedStringValueForTabCell(const TBTabBarCell &cell) const
{
    return TBStyledText{cell.stringValue(), systemFont(11), QGuiApplication::palette().color(QPalette::ButtonText), QColor(),
                        QPointF(), false};
}

QRectF TBWelvoTabStyle::titleRect(const TBTabBarCell &cell, double, double) const
{
    const QRectF f = cell.frame();
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    return QRectF(f.x() + 4, vertical ? f.y() : f.y() + 4, f.width() - 6, f.height());
}

void TBWelvoTabStyle::drawBackgroundInRect(QPainter &painter, const QRectF &)
{
    if (!m_tabBar)
        return;
    const QRectF b = m_tabBar->rect();
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    painter.save();
    if (!vertical) {
        QPainterPath all;
        all.addRect(b);
        if (m_drawsUnified && m_tabBar->isActiveWindow())
            TBTabDrawing::linearGradientFill(painter, all, TBTabDrawing::white(0.835), TBTabDrawing::white(0.843));
        else
            painter.fillRect(b, TBTabDrawing::white(0.85, 0.6));
    } else {
        QColor blue;
        blue.setRgbF(0.9059f, 0.9294f, 0.9647f);
        painter.fillRect(b, blue);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (!vertical) {
        tbOtherShadowedLine(painter, QPointF(b.left(), b.top() + 1), QPointF(b.right(), b.top() + 1), QPointF(2, 2));
    } else {
        const double x = m_drawsRight ? b.left() : b.right() - 1;
        tbOtherShadowedLine(painter, QPointF(x, b.top()), QPointF(x, b.bottom()), QPointF(m_drawsRight ? 2 : -2, 2));
        tbOtherShadowedLine(painter, QPointF(b.left(), b.top()), QPointF(b.right(), b.top()), QPointF(0, 1));
    }
    painter.restore();
}

void TBWelvoTabStyle::drawTabCell(QPainter &painter, const TBTabBarCell &cell)
{
    const QRectF f = cell.frame();
    const double x = f.x(), y = f.y(), w = f.width(), h = f.height();
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    const bool key = tbOtherWindowIsKey(cell);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (cell.state() == 1 && !vertical) {
        const QRectF a(x, y, w, h - 2.5);
        if (m_drawsUnified) {
            QPainterPath path;
            path.addRect(a);
            if (key)
                TBTabDrawing::linearGradientFill(painter, path, TBTabDrawing::white(0.835), TBTabDrawing::white(0.843));
            else
                painter.fillRect(a, cell.controlView()->palette().window());
        } else {
            tbOtherStretch(painter, a, m_gradient);
        }
        tbOtherShadowedLine(painter, a.topLeft(), a.bottomLeft(), QPointF(-2, 2));
        tbOtherShadowedLine(painter, a.bottomLeft(), a.bottomRight(), QPointF(2, 2));
        tbOtherShadowedLine(painter, a.bottomRight(), a.topRight(), QPointF(2, 2));
        if (!cell.controlView() || cell.controlView()->height() < 2)
            tbOtherShadowedLine(painter, QPointF(a.x(), a.y() + 0.5), QPointF(a.right(), a.y() + 0.5), QPointF(2, 2));
    } else if (cell.state() == 1) {
        const QRectF b = m_drawsRight ? QRectF(x - 1, y, w - 3, h) : QRectF(x + 2, y, w - 2, h);
        QPainterPath path;
        path.addRect(b);
        if (m_drawsUnified)
            TBTabDrawing::linearGradientFill(painter, path, TBTabDrawing::white(0.835), TBTabDrawing::white(0.843));
        else if (m_drawsRight)
            TBTabDrawing::linearVerticalGradientFill(painter, path, TBTabDrawing::white(0.92), TBTabDrawing::white(0.98));
        else
            TBTabDrawing::linearVerticalGradientFill(painter, path, TBTabDrawing::white(0.98), TBTabDrawing::white(0.92));
        painter.setPen(QPen(QColor(128, 128, 128), 1));
        painter.drawLine(b.topLeft(), b.topRight());
        if (m_drawsRight) {
            tbOtherShadowedLine(painter, b.topRight(), b.bottomRight(), QPointF(2, 2));
            tbOtherShadowedLine(painter, b.bottomRight(), b.bottomLeft(), QPointF(2, 2));
        } else {
            tbOtherShadowedLine(painter, b.topLeft(), b.bottomLeft(), QPointF(-2, 2));
            tbOtherShadowedLine(painter, b.bottomLeft(), b.bottomRight(), QPointF(-2, 2));
        }
    } else {
        if (cell.isHighlighted()) {
            painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            painter.fillRect(f, QColor(0, 0, 0, 26));
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        if (!vertical) {
            painter.setPen(QPen(QColor(128, 128, 128), 1));
            painter.drawLine(QPointF(x, y), QPointF(x + w, y));
            if (!(cell.tabState() & TBTabState::RightIsSelected))
                painter.drawLine(QPointF(x + w, y), QPointF(x + w, y + h));
        }
    }
    painter.restore();
    drawInteriorWithTabCell(painter, cell);
}

TBWelvoTabStyle::CloseSpot TBWelvoTabStyle::closeSpotShows(const TBTabBarCell &cell) const
{
    if (!closeButtonIsEnabledForCell(cell))
        return cell.hasIcon() ? CloseSpot::Icon : CloseSpot::Nothing;
    if (cell.closeButtonPressed() || cell.closeButtonOver())
        return CloseSpot::CloseButton;
    if (m_orientation == TBTabBarOrientation::Vertical && cell.count() > 0)
        return CloseSpot::Counter;
    if (cell.hasIcon())
        return CloseSpot::Icon;
    return CloseSpot::CloseButton;
}

void TBWelvoTabStyle::drawWelvoCounter(QPainter &painter, const TBTabBarCell &cell, QRectF rect) const
{
    rect = QRectF(rect.x() + 3, rect.y() - (cell.state() == 1 ? 1 : 0), rect.width() - 3, rect.height());
    drawCounter(painter, cell, rect);
}

void TBWelvoTabStyle::drawInteriorWithTabCell(QPainter &painter, const TBTabBarCell &cell)
{
    const QRectF f = cell.frame();
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    QRectF t = titleRect(cell, 0, 0);
    if (vertical && cell.hasLargeImage() && cell.representedItem()) {
        QObject *model = cell.representedItem()->identifier().value<QObject *>();
        const QPixmap large = model ? model->property("largeImage").value<QPixmap>() : QPixmap();
        const QRectF box(f.x() + 4, f.y() + 2, 24, 24);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(box, 3, 3);
        painter.setClipPath(clip);
        painter.drawPixmap(box, large, QRectF(QPointF(0, 0), large.size()));
        painter.restore();
        t.setLeft(t.left() + 24);
    }
    const QPixmap icon = cell.hasIcon() ? iconForCell(cell) : QPixmap();
    const QRectF iconRect = iconRectForTabCell(cell);
    QRectF spot;
    switch (closeSpotShows(cell)) {
    case CloseSpot::CloseButton: {
        spot = cell.closeButtonRectForFrame(f);
        if (cell.hasIcon() && iconRect.width() > spot.width())
            spot.moveCenter(iconRect.center());
        painter.drawPixmap(spot.topLeft(), closeButtonImageForCell(cell));
        break;
    }
    case CloseSpot::Counter: {
        const QSizeF s = sizeForObjectCounterRectForTabCell(cell);
        const QRectF close = cell.closeButtonRectForFrame(f);
        spot = QRectF(QPointF(close.right() - s.width(), f.y() + (f.height() - s.height()) / 2), s);
        drawWelvoCounter(painter, cell, spot);
        break;
    }
    case CloseSpot::Icon:
        spot = iconRect;
        painter.drawPixmap(spot.topLeft(), icon);
        break;
    case CloseSpot::Nothing:
        break;
    }
    if (!spot.isNull()) {
        if (vertical) {
            t.setRight(spot.left() - 2);
        } else {
            const double start = std::max(spot.right(), closeButtonIsEnabledForCell(cell) ? iconRect.right() : 0.0)
                + (closeButtonIsEnabledForCell(cell) ? 4 : 2);
            t.setLeft(start);
        }
    }
    if (cell.state() == 1)
        t.translate(0, -1);
    if (cell.indicatorVisible())
        t.setWidth(t.width() - 18);
    if (!vertical && cell.count() > 0) {
        const QRectF c = objectCounterRectForTabCell(cell);
        drawWelvoCounter(painter, cell, c);
        t.setWidth(t.width() - (c.width() + 2));
    }
    const TBStyledText title = cell.attributedStringValue();
    if (vertical) {
        const double height = heightOfText(title, t.width());
        if (height < f.height())
            t = QRectF(t.x(), f.y() + (f.height() - height) / 2, t.width(), height);
    }
    drawStyledText(painter, t, title, m_tabBar ? m_tabBar->palette() : QPalette());
}

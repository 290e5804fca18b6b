#include "TBTabBarCell.h"
#include "TBTabBarControl.h"
#include "TBTabStyleBase.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor &tbUnifiedLineColor()
{
    static const QColor line = TBTabDrawing::white(0.576);
    return line;
}

// The window's toolbar shows its baseline separator: the window controller says so through a
// property of the top-level widget.
bool tbUnifiedToolbarShowsBaseline(const TBTabBarCell &cell)
{
    const QWidget *bar = cell.controlView();
    return bar && bar->window()->property("krToolbarShowsBaselineSeparator").toBool();
}

bool tbUnifiedApplicationActive()
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

} // namespace

TBUnifiedTabStyle::TBUnifiedTabStyle()
    : TBTabStyleBase(aquaCloseImages, aquaAddImages)
{
}

QRectF TBUnifiedTabStyle::dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation) const
{
    QRectF r = cell.frame();
    r.setWidth(r.width() + 1);
    return r;
}

TBStyledText TBUnifiedTabStyle::attributedStringValueForTabCell(const TBTabBarCell &cell) const
{
    return TBStyledText{cell.stringValue(), systemFont(11), QColor(), QColor(), QPointF(), false};
}

QRectF TBUnifiedTabStyle::titleRect(const TBTabBarCell &cell, double p, double titleHeight) const
{
    const QRectF f = cell.frame();
    return QRectF(p, f.y() + (f.height() - titleHeight) / 2 - 1, f.width() - (p - f.x()) - 4, titleHeight);
}

void TBUnifiedTabStyle::drawBackgroundInRect(QPainter &painter, const QRectF &)
{
    if (!m_tabBar)
        return;
    const QRectF b = m_tabBar->rect();
    QPainterPath g;
    g.addRect(QRectF(b.x(), b.y(), b.width(), b.height() - 1));
    TBTabDrawing::linearGradientFill(painter, g, TBTabDrawing::white(0.835), TBTabDrawing::white(0.843));
    painter.save();
    painter.setPen(QPen(tbUnifiedLineColor(), 1));
    painter.drawLine(QPointF(b.left(), b.bottom() - 0.5), QPointF(b.right(), b.bottom() - 0.5));
    painter.restore();
    if (!m_tabBar->isActiveWindow())
        painter.fillPath(g, m_tabBar->palette().window());
}

void TBUnifiedTabStyle::drawTabCell(QPainter &painter, const TBTabBarCell &cell)
{
    QRectF f = cell.frame();
    const bool baseline = tbUnifiedToolbarShowsBaseline(cell);
    if (!baseline) {
        f.setY(f.y() + 1);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!baseline || cell.state() == 1) {
        const QRectF r(f.x() + 0.5, f.y() - 0.5, f.width(), f.height());
        const double radius = std::min(6.0, std::min(r.width(), r.height()) / 2);
        const QRectF inset = r.adjusted(radius, radius, -radius, -radius);
        QPainterPath path;
        path.moveTo(r.left(), inset.top());
        path.arcTo(QRectF(inset.left() - radius, inset.top() - radius, 2 * radius, 2 * radius), 180, -90);
        path.arcTo(QRectF(inset.right() - radius, inset.top() - radius, 2 * radius, 2 * radius), 90, -90);
        path.lineTo(r.right(), r.bottom());
        path.lineTo(r.left(), r.bottom());
        path.closeSubpath();
        if (tbUnifiedApplicationActive()) {
            if (cell.state() == 1)
                TBTabDrawing::linearGradientFill(painter, path, TBTabDrawing::white(0.99), TBTabDrawing::white(0.941));
            else if (cell.isHighlighted())
                TBTabDrawing::linearGradientFill(painter, path, TBTabDrawing::white(0.8), TBTabDrawing::white(0.8));
            else
                TBTabDrawing::linearGradientFill(painter, path, TBTabDrawing::white(0.835), TBTabDrawing::white(0.843));
        }
        painter.setPen(QPen(tbUnifiedLineColor(), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
    } else {
        const QRectF r(f.x() + 0.5, f.y() + 0.5, f.width(), f.height());
        if (cell.isHighlighted()) {
            painter.save();
            painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            painter.fillRect(r, QColor(0, 0, 0, 26));
            painter.restore();
        }
        const bool rightSelected = cell.tabState() & TBTabState::RightIsSelected;
        if (!rightSelected) {
            painter.setPen(QPen(tbUnifiedLineColor(), 1));
            painter.drawLine(QPointF(r.right(), r.y() - 0.5), QPointF(r.right(), r.bottom()));
            painter.setPen(QPen(TBTabDrawing::white(1, 0.5), 1));
            painter.drawLine(QPointF(r.right() + 1, r.y() - 0.5), QPointF(r.right() + 1, r.bottom() - 2.5));
        }
        if (cell.tabState() & TBTabState::First) {
            painter.setPen(QPen(tbUnifiedLineColor(), 1));
            painter.drawLine(QPointF(r.x(), r.y() - 0.5), QPointF(r.x(), r.bottom() - 2.5));
            painter.setPen(QPen(TBTabDrawing::white(1, 0.5), 1));
            painter.drawLine(QPointF(r.x() + 1, r.y() - 0.5), QPointF(r.x() + 1, r.bottom() - 2.5));
        }
    }
    painter.restore();
    drawInteriorWithTabCell(painter, cell);
}

TBMetalTabStyle::TBMetalTabStyle()
    : TBTabStyleBase({"TabClose_Front", "TabClose_Front_Pressed", "TabClose_Front_Rollover",
                      "TabClose_Dirty", "TabClose_Dirty_Pressed", "TabClose_Dirty_Rollover"},
                     {"TabNewMetal", "TabNewMetalPressed", "TabNewMetalRollover"})
{
}

QRectF TBMetalTabStyle::dragRectForTabCell(const TBTabBarCell &cell, TBTabBarOrientation orientation) const
{
    QRectF r = cell.frame();
    r.setWidth(r.width() + 1);
    const bool vertical = orientation == TBTabBarOrientation::Vertical;
    if (cell.state() == 1) {
        if (vertical)
            r = QRectF(r.x() + 2, r.y() - 1, r.width() - 2, r.height() + 1);
        else
            r.setHeight(r.height() - 2);
    } else if (vertical) {
        r.moveLeft(r.x() - 1);
    }
    return r;
}

TBStyledText TBMetalTabStyle::attributedStringValueForTabCell(const TBTabBarCell &cell) const
{
    QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    text.setAlphaF(0.75f);
    const double shadowAlpha = cell.state() == 1 || cell.isHighlighted() ? 0.8 : 0.5;
    // The shadow falls one point below the text.
    return TBStyledText{cell.stringValue(), systemFont(11, true), text, TBTabDrawing::white(1, shadowAlpha), QPointF(0, 1), true};
}

QRectF TBMetalTabStyle::titleRect(const TBTabBarCell &cell, double p, double) const
{
    const QRectF f = cell.frame();
    return QRectF(p, f.y() + (cell.state() == 1 ? 3 : 4), f.width() - (p - f.x()) - 4, f.height());
}

void TBMetalTabStyle::drawBackgroundInRect(QPainter &painter, const QRectF &)
{
    if (!m_tabBar)
        return;
    const QRectF b = m_tabBar->rect();
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    if (vertical && b.width() < 2)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(b, QColor(0, 0, 0, 51));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(QPen(TBTabDrawing::white(0.333), 1));
    if (!vertical) {
        painter.drawLine(QPointF(b.left(), b.top() + 0.5), QPointF(b.right(), b.top() + 0.5));
        painter.drawLine(QPointF(b.left(), b.bottom() - 0.5), QPointF(b.right(), b.bottom() - 0.5));
    } else {
        painter.drawLine(QPointF(b.left() + 0.5, b.top() + 0.5), QPointF(b.left() + 0.5, b.bottom() + 0.5));
        painter.drawLine(QPointF(b.right() - 0.5, b.top() + 0.5), QPointF(b.right() - 0.5, b.bottom() + 0.5));
    }
    painter.restore();
}

void TBMetalTabStyle::drawTabCell(QPainter &painter, const TBTabBarCell &cell)
{
    const QRectF f = cell.frame();
    const double x = f.x(), y = f.y(), w = f.width(), h = f.height();
    const bool vertical = m_orientation == TBTabBarOrientation::Vertical;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QPen line(TBTabDrawing::white(0.333), 1);
    const QBrush window = m_tabBar ? m_tabBar->palette().window() : QGuiApplication::palette().window();
    if (cell.state() == 1) {
        QPainterPath outline;
        if (!vertical) {
            painter.fillRect(QRectF(x + 1, y, w - 1, h - 3), window);
            const QRectF r(x + 0.5, y, w, h - 2.5);
            outline.moveTo(r.x(), r.y());
            outline.lineTo(r.x(), r.bottom() - 1.5);
            outline.lineTo(r.x() + 1.5, r.bottom());
            outline.lineTo(r.right() - 2.5, r.bottom());
            outline.lineTo(r.right(), r.bottom() - 1.5);
            outline.lineTo(r.right(), r.y());
            if (!cell.controlView() || cell.controlView()->height() < 2) {
                outline.moveTo(r.x(), r.y() + 0.5);
                outline.lineTo(r.right(), r.y() + 0.5);
            }
        } else {
            painter.fillRect(QRectF(x + 3, y, w - 2, h - 1), window);
            const QRectF r(x + 2, y, w - 2, h);
            outline.moveTo(r.right(), r.y());
            outline.lineTo(r.x() + 2, r.y());
            outline.lineTo(r.x() + 0.5, r.y() + 2);
            outline.lineTo(r.x() + 0.5, r.bottom() - 3);
            outline.lineTo(r.x() + 3, r.bottom());
            outline.lineTo(r.right(), r.bottom());
        }
        painter.setPen(line);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(outline);
    } else {
        if (cell.isHighlighted()) {
            painter.save();
            painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            painter.fillRect(QRectF(x + 1.5, y + 0.5, w - 1, h), QColor(0, 0, 0, 26));
            painter.restore();
        }
        painter.setPen(line);
        if (!vertical) {
            painter.drawLine(QPointF(x + 0.5, y + 0.5), QPointF(x + 0.5 + w, y + 0.5));
            if (!(cell.tabState() & TBTabState::RightIsSelected))
                painter.drawLine(QPointF(x + 0.5 + w, y + 0.5), QPointF(x + 0.5 + w, y + 0.5 + h));
        } else {
            if (!(cell.tabState() & TBTabState::LeftIsSelected))
                painter.drawLine(QPointF(x + 1.5, y + 0.5), QPointF(x + 0.5 + w, y + 0.5));
            if (!(cell.tabState() & TBTabState::RightIsSelected))
                painter.drawLine(QPointF(x + 1.5, y + 0.5 + h), QPointF(x + 0.5 + w, y + 0.5 + h));
        }
    }
    painter.restore();
    drawInteriorWithTabCell(painter, cell);
}

std::unique_ptr<TBTabStyle> TBMakeTabStyle(const QString &name)
{
    if (name == QLatin1String("Unified"))
        return std::make_unique<TBUnifiedTabStyle>();
    if (name == QLatin1String("Aqua"))
        return std::make_unique<TBAquaTabStyle>();
    if (name == QLatin1String("Welvo"))
        return std::make_unique<TBWelvoTabStyle>();
    return std::make_unique<TBMetalTabStyle>();
}

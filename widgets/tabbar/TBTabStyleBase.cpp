#include "TBTabStyleBase.h"

#include "TBTabBarCell.h"
#include "TBTabBarControl.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

TBTabStyleBase::TBTabStyleBase(const std::array<const char *, 6> &closeImages, const std::array<const char *, 3> &addImages)
{
    for (std::size_t i = 0; i < closeImages.size(); ++i)
        m_close[i] = TBTabDrawing::image(QLatin1String(closeImages[i]));
    for (std::size_t i = 0; i < addImages.size(); ++i)
        m_add[i] = TBTabDrawing::image(QLatin1String(addImages[i]));
}

const std::array<const char *, 6> TBTabStyleBase::aquaCloseImages = {
    "AquaTabClose_Front",      "AquaTabClose_Front_Pressed",      "AquaTabClose_Front_Rollover",
    "AquaTabCloseDirty_Front", "AquaTabCloseDirty_Front_Pressed", "AquaTabCloseDirty_Front_Rollover"};
const std::array<const char *, 3> TBTabStyleBase::aquaAddImages = {"AquaTabNew", "AquaTabNewPressed", "AquaTabNewRollover"};

QRectF TBTabStyleBase::closeButtonRectForTabCell(const TBTabBarCell &cell, const QRectF &frame) const
{
    if (!cell.hasCloseButton())
        return QRectF();
    return QRectF(QPointF(frame.x() + 6, frame.y() + partsTop(cell) + 2), closeButtonSize());
}

QRectF TBTabStyleBase::iconRectForTabCell(const TBTabBarCell &cell) const
{
    if (!cell.hasIcon())
        return QRectF();
    const QRectF f = cell.frame();
    double x = f.x() + 6;
    if (cell.hasCloseButton() && !cell.isCloseButtonSuppressed())
        x += closeButtonSize().width() + 4;
    return QRectF(x, f.y() + partsTop(cell), 16, 16);
}

QRectF TBTabStyleBase::indicatorRectForTabCell(const TBTabBarCell &cell) const
{
    if (!cell.indicatorVisible())
        return QRectF();
    const QRectF f = cell.frame();
    return QRectF(f.right() - 22, f.y() + partsTop(cell), 16, 16);
}

QFont TBTabStyleBase::systemFont(double pixelSize, bool bold)
{
    QFont font = QApplication::font();
    font.setPixelSize(int(std::lround(pixelSize)));
    font.setBold(bold);
    return font;
}

double TBTabStyleBase::textWidth(const TBStyledText &text)
{
    return QFontMetricsF(text.font).horizontalAdvance(text.text);
}

TBStyledText TBTabStyleBase::attributedObjectCountValueForTabCell(const TBTabBarCell &cell) const
{
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(11);
    font.setBold(true);
    return TBStyledText{QString::number(cell.count()), font, TBTabDrawing::white(1, 0.85), QColor(), QPointF(), false};
}

QRectF TBTabStyleBase::objectCounterRectForTabCell(const TBTabBarCell &cell) const
{
    if (cell.count() == 0)
        return QRectF();
    const QRectF f = cell.frame();
    const double width = std::max(20.0, textWidth(attributedObjectCountValueForTabCell(cell)) + 8);
    double x = f.right() - 6 - width;
    if (cell.indicatorVisible())
        x -= 20;
    return QRectF(x, f.y() + 4, width, 14);
}

double TBTabStyleBase::widthOfCell(const TBTabBarCell &cell, double titleWidth) const
{
    double width = 6;
    if (cell.hasCloseButton() && !cell.isCloseButtonSuppressed())
        width = 6 + closeButtonSize().width() + 4;
    if (cell.hasIcon())
        width += 20;
    width += titleWidth;
    if (cell.count() > 0)
        width += objectCounterRectForTabCell(cell).width() + 4;
    if (cell.indicatorVisible())
        width += 20;
    width += 6;
    return std::ceil(width);
}

double TBTabStyleBase::minimumWidthOfTabCell(const TBTabBarCell &cell) const
{
    return widthOfCell(cell, 30);
}

double TBTabStyleBase::desiredWidthOfTabCell(const TBTabBarCell &cell) const
{
    return widthOfCell(cell, textWidth(cell.attributedStringValue()));
}

QPixmap TBTabStyleBase::closeButtonImageForCell(const TBTabBarCell &cell) const
{
    const std::size_t kind = cell.isEdited() ? 3 : 0;
    if (cell.closeButtonPressed())
        return m_close[kind + 1];
    if (cell.closeButtonOver())
        return m_close[kind + 2];
    return m_close[kind];
}

QPixmap TBTabStyleBase::iconForCell(const TBTabBarCell &cell)
{
    if (!cell.representedItem())
        return QPixmap();
    QObject *model = cell.representedItem()->identifier().value<QObject *>();
    if (!model)
        return QPixmap();
    const QVariant icon = model->property("icon");
    if (icon.canConvert<QPixmap>() && !icon.value<QPixmap>().isNull())
        return icon.value<QPixmap>();
    if (icon.canConvert<QIcon>())
        return icon.value<QIcon>().pixmap(16, 16);
    return QPixmap();
}

void TBTabStyleBase::drawStyledText(QPainter &painter, const QRectF &rect, const TBStyledText &text, const QPalette &palette)
{
    painter.save();
    painter.setFont(text.font);
    const QFontMetricsF metrics(text.font);
    const QString shown = metrics.elidedText(text.text, Qt::ElideRight, std::max(0.0, rect.width()));
    const int flags = Qt::TextSingleLine | Qt::AlignTop | (text.centred ? Qt::AlignHCenter : Qt::AlignLeft);
    if (text.shadowColor.isValid()) {
        painter.setPen(text.shadowColor);
        painter.drawText(rect.translated(text.shadowOffset), flags, shown);
    }
    painter.setPen(text.color.isValid() ? text.color : palette.color(QPalette::WindowText));
    painter.drawText(rect, flags, shown);
    painter.restore();
}

void TBTabStyleBase::drawCounter(QPainter &painter, const TBTabBarCell &cell, QRectF c) const
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(cell.countColor().isValid() ? cell.countColor() : defaultCountColor());
    painter.drawRoundedRect(c, 7, 7);
    painter.restore();
    const TBStyledText text = attributedObjectCountValueForTabCell(cell);
    const QSizeF s = QFontMetricsF(text.font).size(Qt::TextSingleLine, text.text);
    drawStyledText(painter, QRectF(c.x() + (c.width() - s.width()) / 2 + 0.25, c.y() + (c.height() - s.height()) / 2 + 0.5,
                                   s.width() + 1, s.height()),
                   text, QPalette());
}

void TBTabStyleBase::drawInteriorWithTabCell(QPainter &painter, const TBTabBarCell &cell)
{
    const QRectF f = cell.frame();
    double p = f.x() + 6;
    if (cell.hasCloseButton() && !cell.isCloseButtonSuppressed()) {
        const QRectF r = cell.closeButtonRectForFrame(f);
        const QPixmap image = closeButtonImageForCell(cell);
        painter.drawPixmap(r.topLeft(), image);
        p += image.deviceIndependentSize().width() + 4;
    }
    if (cell.hasIcon()) {
        QRectF r = iconRectForTabCell(cell);
        const QPixmap icon = iconForCell(cell);
        if (!icon.isNull()) {
            const QSizeF s = icon.deviceIndependentSize();
            QPointF at = r.topLeft();
            if (s.width() < 16)
                at.rx() += (16 - s.width()) / 2;
            if (s.height() < 16)
                at.ry() += (16 - s.height()) / 2;
            painter.drawPixmap(at, icon);
        }
        p += r.width() + 4;
    }
    const TBStyledText title = cell.attributedStringValue();
    const double titleHeight = QFontMetricsF(title.font).height();
    QRectF t = titleRect(cell, p, titleHeight);
    if (cell.indicatorVisible())
        t.setWidth(t.width() - 20);
    if (cell.count() > 0) {
        QRectF c = objectCounterRectForTabCell(cell);
        if (liftsCounter(cell))
            c.translate(0, -1);
        drawCounter(painter, cell, c);
        t.setWidth(t.width() - (c.width() + 4));
    }
    drawStyledText(painter, t, title, m_tabBar ? m_tabBar->palette() : QPalette());
}

void TBTabStyleBase::drawTabBar(QPainter &painter, TBTabBarControl &bar, const QRectF &rect)
{
    m_tabBar = &bar;
    drawBackgroundInRect(painter, rect);
    if (!bar.tabView()) {
        QFont font = systemFont(11);
        painter.setFont(font);
        painter.setPen(bar.palette().color(QPalette::WindowText));
        const QRectF box(rect.x(), rect.y() + 4, rect.width(), rect.height() - 4);
        painter.drawText(box, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("TBTabBarControl"));
        return;
    }
    const bool animating = bar.isAnimating();
    for (TBTabBarCell *cell : bar.cells()) {
        if (!animating && (cell->isInOverflowMenu() || !cell->frame().intersects(rect)))
            continue;
        if (cell->isPlaceholder()) {
            painter.save();
            painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
            painter.fillRect(cell->frame(), QColor(0, 0, 0, 51));
            painter.restore();
            continue;
        }
        drawTabCell(painter, *cell);
    }
}

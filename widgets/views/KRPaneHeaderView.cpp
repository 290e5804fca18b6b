#include "KRPaneHeaderView.h"

#include "KRViewDrawing.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPainter>

KRPaneHeaderView::KRPaneHeaderView(QWidget *parent)
    : KRBorderedView(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize KRPaneHeaderView::sizeHint() const
{
    return {QFontMetrics(labelFont()).horizontalAdvance(m_labelText) + 2 * PreferredHeight, PreferredHeight};
}

QSize KRPaneHeaderView::minimumSizeHint() const
{
    return {PreferredHeight, PreferredHeight};
}

KRPaneHeaderView::~KRPaneHeaderView() = default;

void KRPaneHeaderView::setLabelText(const QString &text)
{
    m_labelText = text;
    update();
}

void KRPaneHeaderView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void KRPaneHeaderView::setButton(QAbstractButton *button)
{
    if (button == m_button)
        return;
    if (QAbstractButton *previous = m_button) {
        previous->hide();
        previous->setParent(nullptr);
        // Later, so that a button may replace itself from its own click.
        previous->deleteLater();
    }
    m_button = button;
    if (button) {
        button->setParent(this);
        placeButton();
        button->show();
    }
}

QFont KRPaneHeaderView::labelFont()
{
    return KRViewDrawing::systemFont(11, true);
}

QRectF KRPaneHeaderView::imageRect() const
{
    if (m_image.isNull() || m_image.height() <= 0)
        return {};
    const qreal width = 16.0 * m_image.width() / m_image.height();
    return KRViewDrawing::fromBottomLeft(QRectF(3, 3, width, 16), height());
}

QPointF KRPaneHeaderView::labelOrigin() const
{
    const QRectF icon = imageRect();
    const qreal x = icon.isEmpty() ? 4.0 : icon.width() + 8.0;
    const qreal lineHeight = QFontMetricsF(labelFont()).height();
    return QPointF(x, height() - 4.0 - lineHeight);
}

void KRPaneHeaderView::draw(QPainter &painter)
{
    KRBorderedView::draw(painter);
    const QRectF icon = imageRect();
    if (!icon.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(icon, m_image);
    }
    if (m_labelText.isEmpty())
        return;
    const QFont font = labelFont();
    const QPointF baseline = labelOrigin() + QPointF(0, QFontMetricsF(font).ascent());
    painter.setFont(font);
    // The shadow: the same text one pixel lower in white.
    painter.setPen(QColor::fromRgbF(1, 1, 1, 0.8f));
    painter.drawText(baseline + QPointF(0, 1), m_labelText);
    painter.setPen(QColor::fromRgbF(0, 0, 0, 0.85f));
    painter.drawText(baseline, m_labelText);
}

void KRPaneHeaderView::resizeEvent(QResizeEvent *event)
{
    KRBorderedView::resizeEvent(event);
    placeButton();
}

void KRPaneHeaderView::placeButton()
{
    if (m_button)
        m_button->setGeometry(width() - height(), 0, height(), height());
}

#include "KRDeviceBackgroundView.h"

#include <QMouseEvent>
#include <QPainter>

KRDeviceBackgroundView::KRDeviceBackgroundView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

KRDeviceBackgroundView::~KRDeviceBackgroundView() = default;

void KRDeviceBackgroundView::setImage(const QImage &image)
{
    m_image = image;
    update();
}

void KRDeviceBackgroundView::paintEvent(QPaintEvent *)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The view's frame is the picture at the current zoom; draw in picture pixels.
    const double scale = double(width()) / m_image.width();
    painter.scale(scale, scale);
    const double boundsWidth = m_image.width();
    painter.drawImage(QPointF(boundsWidth / 2 - m_image.width() / 2.0, 0), m_image);
}

void KRDeviceBackgroundView::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    emit mouseUp(this, event);
}

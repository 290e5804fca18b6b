#include "KRDeviceBrowserHeaderView.h"

#include <ui/KRUIColors.h>

#include <QEvent>
#include <QPainter>

KRDeviceBrowserHeaderView::KRDeviceBrowserHeaderView(QWidget *parent)
    : QWidget(parent)
{
}

KRDeviceBrowserHeaderView::~KRDeviceBrowserHeaderView() = default;

void KRDeviceBrowserHeaderView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const KRGradient gradient = isActiveWindow()
        ? KRGradient{KRUIColors::white(0.74), KRUIColors::white(0.73)}
        : KRGradient{KRUIColors::white(0.9), KRUIColors::white(0.85)};
    painter.fillRect(rect(), gradient.linearGradient(QRectF(rect()), 270.0));
    painter.fillRect(QRect(0, height() - 1, width(), 1), Qt::black);
}

void KRDeviceBrowserHeaderView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange)
        update();
    QWidget::changeEvent(event);
}

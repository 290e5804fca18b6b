#include "QZTextField.h"

#include "KRViewDrawing.h"

#include <ui/KRUIColors.h>

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace {

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

bool applicationIsActive()
{
    return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

} // namespace

QZTextField::QZTextField(QWidget *parent)
    : QLineEdit(parent)
{
    // The field draws its own background; the line edit only draws the text and the cursor.
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    setPalette(pal);
    // Text inside (6, 3, w - 8, h - 6); the line edit keeps 2 pixels of its own at each side.
    setTextMargins(4, 2, 0, 2);
    setControlSize(ControlSize::Regular);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, qOverload<>(&QWidget::update));
}

QZTextField::~QZTextField() = default;

void QZTextField::setControlSize(ControlSize size)
{
    m_controlSize = size;
    qreal pixels = 11.88;
    if (size == ControlSize::Small)
        pixels = 9.4;
    else if (size == ControlSize::Mini)
        pixels = 8.0;
    setFont(KRViewDrawing::systemFont(pixels));
}

void QZTextField::setDrawsFocusRing(bool draws)
{
    m_drawsFocusRing = draws;
    update();
}

bool QZTextField::isFocusRingVisible() const
{
    return m_drawsFocusRing && hasFocus() && applicationIsActive();
}

void QZTextField::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal w = width();
        const qreal h = height();
        const auto rect = [h](qreal x, qreal y, qreal width, qreal height) {
            return KRViewDrawing::fromBottomLeft(QRectF(x, y, width, height), h);
        };
        const QRectF frame = rect(0, 0, w, h - 1);
        const KRGradient frameGradient{KRUIColors::white(0.55), KRUIColors::white(applicationIsActive() ? 0.63 : 0.558)};
        painter.fillPath(roundedRect(frame, 3.6), frameGradient.linearGradient(frame, 90.0));
        painter.fillPath(roundedRect(rect(1, 1, w - 2, 10), 2.9), KRUIColors::white(0.88));
        painter.fillPath(roundedRect(rect(1, 2, w - 2, h - 4), 2.6), Qt::white);
        if (isFocusRingVisible()) {
            // A ring cannot reach outside the widget, so it hugs the frame from inside.
            QColor ring = palette().color(QPalette::Active, QPalette::Highlight);
            ring.setAlphaF(0.8f);
            painter.setPen(QPen(ring, 2.0));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(roundedRect(frame.adjusted(1, 1, -1, -1), 3.6));
        }
    }
    QLineEdit::paintEvent(event);
}

void QZTextField::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::ActivationChange)
        update();
    QLineEdit::changeEvent(event);
}

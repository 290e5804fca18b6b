#include "TBTabBarButtons.h"

#include "TBTabBarControl.h"
#include "TBTabStyle.h"

#include <QMenu>
#include <QPainter>

#include <cmath>

TBRolloverButton::TBRolloverButton(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void TBRolloverButton::setUsualImage(const QPixmap &image)
{
    m_usualImage = image;
    update();
}

QPixmap TBRolloverButton::currentImage() const
{
    if (isDown() && !m_alternateImage.isNull())
        return m_alternateImage;
    if (m_over && !m_rolloverImage.isNull())
        return m_rolloverImage;
    return m_usualImage;
}

void TBRolloverButton::paintEvent(QPaintEvent *)
{
    const QPixmap image = currentImage();
    if (image.isNull())
        return;
    QPainter p(this);
    const QSizeF size = image.deviceIndependentSize();
    p.drawPixmap(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), image);
}

void TBRolloverButton::enterEvent(QEnterEvent *event)
{
    m_over = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TBRolloverButton::leaveEvent(QEvent *event)
{
    m_over = false;
    update();
    QAbstractButton::leaveEvent(event);
}

TBProgressIndicator::TBProgressIndicator(QWidget *parent) : QWidget(parent)
{
    resize(16, 16);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_phase = (m_phase + 1) % 12;
        update();
    });
    QWidget::setVisible(false);
}

void TBProgressIndicator::setSpinnerHidden(bool hidden)
{
    if (m_spinnerHidden == hidden)
        return;
    m_spinnerHidden = hidden;
    QWidget::setVisible(!hidden && parentWidget());
    if (auto *bar = qobject_cast<TBTabBarControl *>(parentWidget()))
        bar->updateTabs();
}

void TBProgressIndicator::startAnimation()
{
    if (!m_timer.isActive())
        m_timer.start();
}

void TBProgressIndicator::stopAnimation()
{
    m_timer.stop();
}

void TBProgressIndicator::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        const double angle = (i + m_phase) * M_PI / 6;
        const QPointF c(8, 8), d(std::cos(angle), std::sin(angle));
        p.setPen(QPen(QColor(60, 60, 60, 40 + i * 18), 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + d * 3.5, c + d * 7);
    }
}

TBOverflowPopUpButton::TBOverflowPopUpButton(QWidget *parent)
    : QWidget(parent),
      m_image(TBTabDrawing::image(QStringLiteral("overflowImage"))),
      m_downImage(TBTabDrawing::image(QStringLiteral("overflowImagePressed")))
{
    m_pulse.setInterval(1000 / 15);
    connect(&m_pulse, &QTimer::timeout, this, &TBOverflowPopUpButton::animateStep);
}

void TBOverflowPopUpButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QPixmap image = m_down ? m_downImage : m_image;
    if (image.isNull())
        return;
    const auto centred = [this](const QPixmap &pixmap) {
        const QSizeF s = pixmap.deviceIndependentSize();
        return QPointF(width() / 2.0 - s.width() / 2, height() / 2.0 - s.height() / 2);
    };
    p.setOpacity(m_animatingAlternateImage ? 0.7 : 1.0);
    p.drawPixmap(centred(image), image);
    if (m_animatingAlternateImage && !m_alternateImage.isNull()) {
        p.setOpacity(std::sin(m_animationValue * M_PI));
        p.drawPixmap(centred(m_alternateImage), m_alternateImage);
    }
}

void TBOverflowPopUpButton::mousePressEvent(QMouseEvent *)
{
    if (!m_menu)
        return;
    m_down = true;
    update();
    connect(m_menu, &QMenu::aboutToHide, this, [this] {
        m_down = false;
        update();
        if (m_menu)
            disconnect(m_menu, &QMenu::aboutToHide, this, nullptr);
    });
    m_menu->popup(mapToGlobal(QPoint(0, height())));
}

void TBOverflowPopUpButton::setAnimatingAlternateImage(bool value)
{
    if (m_animatingAlternateImage == value)
        return;
    m_animatingAlternateImage = value;
    if (isVisible()) {
        setPulse(value);
        update();
    }
}

void TBOverflowPopUpButton::setVisible(bool visible)
{
    if (visible != isVisible())
        setPulse(visible && m_animatingAlternateImage);
    QWidget::setVisible(visible);
}

void TBOverflowPopUpButton::setPulse(bool on)
{
    if (on) {
        m_animationValue = double(0.033f);
        m_pulse.start();
    } else {
        m_pulse.stop();
    }
}

void TBOverflowPopUpButton::animateStep()
{
    m_animationValue += double(0.033f);
    if (m_animationValue >= 1.0)
        m_animationValue = double(0.033f);
    update();
}

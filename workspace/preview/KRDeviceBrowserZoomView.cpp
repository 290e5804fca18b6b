#include "KRDeviceBrowserZoomView.h"

#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QMouseEvent>
#include <QPainter>

KRDeviceBrowserZoomView::KRDeviceBrowserZoomView(QWidget *parent, KRUserDefaults *defaults)
    : QWidget(parent)
    , m_defaults(defaults ? defaults : &KRUserDefaults::sharedInstance())
{
    m_backgroundToken = m_defaults->observe(QStringLiteral("designViewBackground"),
                                            [this](const QString &, const QVariant &) { loadBackground(); });
    loadBackground();
}

KRDeviceBrowserZoomView::~KRDeviceBrowserZoomView() = default;

void KRDeviceBrowserZoomView::loadBackground()
{
    QString name = m_defaults->stringValue(QStringLiteral("designViewBackground"));
    if (name.isEmpty())
        name = QStringLiteral("KR-design-background-grid");
    // Only a plain image name: the default is user data.
    if (name.contains(u'/') || name.contains(u'\\') || name.startsWith(u'.'))
        name.clear();
    m_backgroundImage = name.isEmpty() ? QImage()
                                       : QImage(KRResources::pathForResource(QStringLiteral("backgrounds/") + name
                                                                             + QStringLiteral(".png")));
    update();
}

void KRDeviceBrowserZoomView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_backgroundImage.isNull())
        painter.fillRect(rect(), QColor(0xe8, 0xe8, 0xe8));
    else
        painter.fillRect(rect(), QBrush(m_backgroundImage));
}

void KRDeviceBrowserZoomView::mouseReleaseEvent(QMouseEvent *event)
{
    QWidget::mouseReleaseEvent(event);
    emit mouseUp(this, event);
}

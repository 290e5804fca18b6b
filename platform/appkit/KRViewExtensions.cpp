#include "KRViewExtensions.h"

#include <QObject>
#include <QTransform>
#include <QWidget>

#include <algorithm>

namespace KRView {

void addSubviewAndResize(QWidget *view, QWidget *subview)
{
    const bool explicitlyHidden = subview->testAttribute(Qt::WA_WState_ExplicitShowHide)
                                  && subview->testAttribute(Qt::WA_WState_Hidden);
    subview->setParent(view);
    subview->setGeometry(0, 0, view->width(), view->height());
    if (!explicitlyHidden)
        subview->show();
}

bool isDescendantOfViewClass(const QWidget *view, const QMetaObject &viewClass)
{
    for (const QWidget *w = view; w; w = w->parentWidget()) {
        if (w->metaObject()->inherits(&viewClass))
            return true;
    }
    return false;
}

void centerViewHorizontally(QWidget *view)
{
    const QWidget *parent = view->parentWidget();
    if (!parent)
        return;
    view->move(parent->width() / 2 - view->width() / 2, view->y());
}

// Half the parent's height minus half the view's: the same in flipped and unflipped
// coordinates, so no mirroring is needed.
void centerViewVertically(QWidget *view)
{
    const QWidget *parent = view->parentWidget();
    if (!parent)
        return;
    view->move(view->x(), parent->height() / 2 - view->height() / 2);
}

bool hasParentResponder(const QObject *object, const QObject *responder)
{
    for (const QObject *o = object; o; o = o->parent()) {
        if (o == responder)
            return true;
    }
    return false;
}

} // namespace KRView

namespace KRPath {

QPointF centreOfBounds(const QPainterPath &path)
{
    const QRectF bounds = path.boundingRect();
    return {bounds.x() + bounds.width() / 2, bounds.y() + bounds.height() / 2};
}

static qreal insetScale(qreal extent, float inset)
{
    if (extent <= 0)
        return 1.0;
    return static_cast<float>(std::max<qreal>(0.0, extent - 2.0 * inset) / extent);
}

QPainterPath insetPathBy(const QPainterPath &path, float inset)
{
    if (inset == 0.0f)
        return path;
    const QRectF bounds = path.boundingRect();
    const qreal sx = insetScale(bounds.width(), inset);
    const qreal sy = insetScale(bounds.height(), inset);
    const QPointF centre = centreOfBounds(path);
    QTransform transform;
    transform.translate(centre.x(), centre.y());
    transform.scale(sx, sy);
    transform.translate(-centre.x(), -centre.y());
    return transform.map(path);
}

} // namespace KRPath

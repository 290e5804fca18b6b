#pragma once

#include <QMetaObject>
#include <QPainterPath>
#include <QPointF>

class QObject;
class QWidget;

// Helpers on widgets, the responder chain and painter paths that panes and custom views
// share. Widgets stand for views; a widget's parent chain stands for both the superview
// chain and the responder chain.
namespace KRView {

// Makes `subview` a child of `view` filling it: origin (0, 0) and the view's current size.
// The subview is shown unless it was hidden explicitly.
void addSubviewAndResize(QWidget *view, QWidget *subview);

// True when the view or one of its ancestors is an instance of the class or a subclass.
bool isDescendantOfViewClass(const QWidget *view, const QMetaObject &viewClass);
template <typename ViewClass>
bool isDescendantOfViewClass(const QWidget *view)
{
    return isDescendantOfViewClass(view, ViewClass::staticMetaObject);
}

// Moves the view so that its centre lies on its parent's middle, horizontally or vertically;
// the size and the other coordinate stay. A view without a parent stays where it is.
void centerViewHorizontally(QWidget *view);
void centerViewVertically(QWidget *view);

// Walks from `object` up its parents; true when it meets `responder` (the object itself
// counts), false at the top.
bool hasParentResponder(const QObject *object, const QObject *responder);

} // namespace KRView

namespace KRPath {

// The centre of the path's bounding rectangle.
QPointF centreOfBounds(const QPainterPath &path);

// The path scaled about the centre of its bounds so that the bounds shrink by `inset` on
// every side (grow for a negative inset); an inset of 0 returns the path unchanged. An axis
// of zero extent keeps its scale of 1, and an inset larger than half an extent collapses that
// axis onto the centre rather than mirroring the path.
QPainterPath insetPathBy(const QPainterPath &path, float inset);

} // namespace KRPath

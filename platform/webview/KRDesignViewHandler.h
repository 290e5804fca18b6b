#pragma once

#include <QVariantMap>

#include <memory>

class DOMNode;

// What the design surface does with the events that the page's scripts report through the
// "___kr_dwc" bridge (KRDesignViewControllerProxy). Elements arrive as nodes of the page's
// own document: the nearest mirrored node of what the page touched, null when there is none
// (a node the page made itself that is not in any mirrored element, or one removed meanwhile).
// Events are plain maps (see KRWebView for the keys). Every operation does nothing by default.
class KRDesignViewHandler
{
public:
    virtual ~KRDesignViewHandler() = default;

    virtual void onClickElement(const std::shared_ptr<DOMNode> & /*element*/, const QVariantMap & /*event*/) {}
    virtual void onDoubleClickElement(const std::shared_ptr<DOMNode> & /*element*/, const QVariantMap & /*event*/) {}
    virtual void onClickBody(const QVariantMap & /*event*/) {}
    virtual void onDoubleClickBody(const QVariantMap & /*event*/) {}
    virtual void onDragStart(const std::shared_ptr<DOMNode> & /*element*/, const QVariantMap & /*event*/) {}
    virtual void onDrag(const std::shared_ptr<DOMNode> & /*element*/, const QVariantMap & /*event*/) {}
    virtual void onDragEnd(const std::shared_ptr<DOMNode> & /*element*/, const QVariantMap & /*event*/) {}
    virtual void onDragEnter(const QVariantMap & /*event*/) {}
    virtual void onDragOver(const QVariantMap & /*event*/) {}
    virtual void onMouseDown(const QVariantMap & /*event*/) {}
    virtual void onMouseMove(const QVariantMap & /*event*/) {}
    virtual void onMouseUp(const QVariantMap & /*event*/) {}
    virtual void runPluginDesignDraw() {}
};

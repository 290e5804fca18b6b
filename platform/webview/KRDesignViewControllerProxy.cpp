#include "KRDesignViewControllerProxy.h"

#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMNode.h>
#include <platform/webview/KRDesignViewHandler.h>

std::shared_ptr<DOMNode> KRDesignViewControllerProxy::nodeForId(quint64 nodeId) const
{
    const auto document = m_document.lock();
    return document && nodeId != 0 ? document->nodeForId(nodeId) : nullptr;
}

void KRDesignViewControllerProxy::onClickElement_withEvent_(quint64 element, const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onClickElement(nodeForId(element), event);
}

void KRDesignViewControllerProxy::onDoubleClickElement_withEvent_(quint64 element, const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDoubleClickElement(nodeForId(element), event);
}

void KRDesignViewControllerProxy::onClickBody_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onClickBody(event);
}

void KRDesignViewControllerProxy::onDoubleClickBody_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDoubleClickBody(event);
}

void KRDesignViewControllerProxy::onDragStart_withEvent_(quint64 element, const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDragStart(nodeForId(element), event);
}

void KRDesignViewControllerProxy::onDrag_withEvent_(quint64 element, const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDrag(nodeForId(element), event);
}

void KRDesignViewControllerProxy::onDragEnd_withEvent_(quint64 element, const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDragEnd(nodeForId(element), event);
}

void KRDesignViewControllerProxy::onDragEnter_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDragEnter(event);
}

void KRDesignViewControllerProxy::onDragOver_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onDragOver(event);
}

void KRDesignViewControllerProxy::onMouseDown_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onMouseDown(event);
}

void KRDesignViewControllerProxy::onMouseMove_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onMouseMove(event);
}

void KRDesignViewControllerProxy::onMouseUp_(const QVariantMap &event)
{
    if (m_delegate)
        m_delegate->onMouseUp(event);
}

void KRDesignViewControllerProxy::runPluginDesignDraw()
{
    if (m_delegate)
        m_delegate->runPluginDesignDraw();
}

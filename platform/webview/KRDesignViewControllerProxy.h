#pragma once

#include <QObject>
#include <QVariantMap>

#include <memory>

class DOMDocument;
class DOMNode;
class KRDesignViewHandler;

// The design surface's script bridge: installed as "___kr_dwc" on a page's web view, it
// takes the page's calls under their script names (exactly these thirteen are callable) and
// forwards each to the handler, with node ids turned into nodes of the page's own document.
// The proxy keeps neither the handler nor the document alive; a call that arrives when the
// handler is gone does nothing.
class KRDesignViewControllerProxy : public QObject
{
    Q_OBJECT

public:
    explicit KRDesignViewControllerProxy(QObject *parent = nullptr) : QObject(parent) {}

    KRDesignViewHandler *delegate() const { return m_delegate; }
    void setDelegate(KRDesignViewHandler *delegate) { m_delegate = delegate; }
    // The document whose node ids the page sends (the view's attached document).
    void setDocument(const std::shared_ptr<DOMDocument> &document) { m_document = document; }
    std::shared_ptr<DOMNode> nodeForId(quint64 nodeId) const;

    Q_INVOKABLE void onClickElement_withEvent_(quint64 element, const QVariantMap &event);
    Q_INVOKABLE void onDoubleClickElement_withEvent_(quint64 element, const QVariantMap &event);
    Q_INVOKABLE void onClickBody_(const QVariantMap &event);
    Q_INVOKABLE void onDoubleClickBody_(const QVariantMap &event);
    Q_INVOKABLE void onDragStart_withEvent_(quint64 element, const QVariantMap &event);
    Q_INVOKABLE void onDrag_withEvent_(quint64 element, const QVariantMap &event);
    Q_INVOKABLE void onDragEnd_withEvent_(quint64 element, const QVariantMap &event);
    Q_INVOKABLE void onDragEnter_(const QVariantMap &event);
    Q_INVOKABLE void onDragOver_(const QVariantMap &event);
    Q_INVOKABLE void onMouseDown_(const QVariantMap &event);
    Q_INVOKABLE void onMouseMove_(const QVariantMap &event);
    Q_INVOKABLE void onMouseUp_(const QVariantMap &event);
    Q_INVOKABLE void runPluginDesignDraw();

private:
    KRDesignViewHandler *m_delegate = nullptr;
    std::weak_ptr<DOMDocument> m_document;
};

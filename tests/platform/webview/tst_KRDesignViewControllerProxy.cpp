// The design surface's script bridge: page calls under their script names reach the handler
// with nodes of the page's own document.
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/webview/KRDesignViewControllerProxy.h>
#include <platform/webview/KRDesignViewHandler.h>

#include <gtest/gtest.h>

#include <QMetaMethod>
#include <QSet>

namespace {

struct Recorder : KRDesignViewHandler {
    QStringList calls;
    std::shared_ptr<DOMNode> lastNode;
    void onClickElement(const std::shared_ptr<DOMNode> &element, const QVariantMap &) override
    {
        calls << QStringLiteral("onClickElement");
        lastNode = element;
    }
    void onDragEnd(const std::shared_ptr<DOMNode> &element, const QVariantMap &) override
    {
        calls << QStringLiteral("onDragEnd");
        lastNode = element;
    }
    void onClickBody(const QVariantMap &event) override { calls << QStringLiteral("onClickBody:") + event.value(QStringLiteral("type")).toString(); }
    void runPluginDesignDraw() override { calls << QStringLiteral("runPluginDesignDraw"); }
};

} // namespace

TEST(KRDesignViewControllerProxy, ExactlyTheThirteenScriptNamesAreCallable)
{
    KRDesignViewControllerProxy proxy;
    QSet<QString> names;
    const QMetaObject *meta = proxy.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).methodType() == QMetaMethod::Method && meta->method(i).access() == QMetaMethod::Public)
            names.insert(QString::fromLatin1(meta->method(i).name()));
    const QSet<QString> expected{
        "onClickElement_withEvent_", "onDoubleClickElement_withEvent_", "onClickBody_", "onDoubleClickBody_",
        "onDragStart_withEvent_", "onDrag_withEvent_", "onDragEnd_withEvent_", "onDragEnter_", "onDragOver_",
        "onMouseDown_", "onMouseMove_", "onMouseUp_", "runPluginDesignDraw"};
    EXPECT_EQ(names, expected);
}

TEST(KRDesignViewControllerProxy, NodeIdsBecomeNodesOfTheDocument)
{
    auto document = DOMDocument::createHTMLDocument();
    auto div = document->createElement(QStringLiteral("div"));
    document->body()->appendChild(div);
    KRDesignViewControllerProxy proxy;
    Recorder handler;
    proxy.setDelegate(&handler);
    proxy.setDocument(document);

    proxy.onClickElement_withEvent_(div->nodeId(), {});
    EXPECT_EQ(handler.lastNode, div);
    // 0 (no mirrored node) and an id no node has any more arrive as null.
    proxy.onDragEnd_withEvent_(0, {});
    EXPECT_EQ(handler.lastNode, nullptr);
    const quint64 gone = [&] {
        auto temporary = document->createElement(QStringLiteral("span"));
        return quint64(temporary->nodeId());
    }();
    proxy.onClickElement_withEvent_(gone, {});
    EXPECT_EQ(handler.lastNode, nullptr);
    proxy.onClickBody_({{QStringLiteral("type"), QStringLiteral("click")}});
    proxy.runPluginDesignDraw();
    EXPECT_EQ(handler.calls, (QStringList{"onClickElement", "onDragEnd", "onClickElement", "onClickBody:click", "runPluginDesignDraw"}));

    // Without a handler, or once the document is gone, calls do nothing.
    proxy.setDelegate(nullptr);
    proxy.onClickElement_withEvent_(div->nodeId(), {});
    proxy.setDelegate(&handler);
    const quint64 divId = div->nodeId();
    div.reset();
    document.reset();
    proxy.onClickElement_withEvent_(divId, {});
    EXPECT_EQ(handler.calls.size(), 6);
    EXPECT_EQ(handler.lastNode, nullptr);
}

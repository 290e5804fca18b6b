#pragma once

// Shared pieces of the live design view tests: a design-like page document in the own DOM,
// bridge doubles standing in for the page and the design surface, and bounded waits.

#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>
#include <platform/foundation/KRResources.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <platform/webview/KRWebView.h>

#include <KRTestSupport.h>
#include <KRWebTestSupport.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QObject>
#include <QUrl>
#include <QVariantMap>
#include <QWebEnginePage>

#include <memory>
#include <vector>

namespace KRWebTest {

// Runs before the test main makes the application object.
inline const bool g_environmentPrepared = (KRWebEngineEnvironment::prepare(), true);

inline QString libraryURL(const QString &relativePath)
{
    return QUrl::fromLocalFile(KRResources::pathForResource(QStringLiteral("local-server/") + relativePath)).toString();
}

inline bool webLibrariesStaged()
{
    return QFile::exists(KRResources::pathForResource(QStringLiteral("local-server/jquery-1.9.0/jquery.min.js")))
        && QFile::exists(KRResources::pathForResource(QStringLiteral("local-server/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js")));
}

// The runs of the script bridges, as the page and the design surface would receive them.
class PageBridge : public QObject
{
    Q_OBJECT
public:
    std::weak_ptr<DOMDocument> document;
    int jqueryLoadedCalls = 0;
    int jqueryMobileLoadedCalls = 0;

    // As the page does: once jQuery is in, the mobile-init script and jQuery Mobile follow.
    Q_INVOKABLE void jqueryLoaded()
    {
        ++jqueryLoadedCalls;
        auto doc = document.lock();
        if (!doc)
            return;
        auto init = doc->createElement(QStringLiteral("script"));
        init->setTextContent(QStringLiteral("$(document).bind(\"mobileinit\", function() {\n$.mobile.ajaxEnabled = false;\n"
                                            "$.mobile.hashListeningEnabled = false;\n$.mobile.pushStateEnabled = false;\n});\n"));
        doc->head()->appendChild(init);
        auto jqm = doc->createElement(QStringLiteral("script"));
        jqm->setAttribute(QStringLiteral("src"), libraryURL(QStringLiteral("jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js")));
        jqm->setAttribute(QStringLiteral("onload"), QStringLiteral("window.___kr_page.jqueryMobileLoaded()"));
        doc->head()->appendChild(jqm);
    }
    Q_INVOKABLE void jqueryMobileLoaded() { ++jqueryMobileLoadedCalls; }
};

struct BridgeCall {
    QString method;
    quint64 node = 0;
    QVariantMap event;
};

class SurfaceBridge : public QObject
{
    Q_OBJECT
public:
    std::vector<BridgeCall> calls;

    Q_INVOKABLE void onClickElement_withEvent_(quint64 node, const QVariantMap &event) { calls.push_back({"onClickElement_withEvent_", node, event}); }
    Q_INVOKABLE void onDoubleClickElement_withEvent_(quint64 node, const QVariantMap &event) { calls.push_back({"onDoubleClickElement_withEvent_", node, event}); }
    Q_INVOKABLE void onClickBody_(const QVariantMap &event) { calls.push_back({"onClickBody_", 0, event}); }
    Q_INVOKABLE void onMouseDown_(const QVariantMap &event) { calls.push_back({"onMouseDown_", 0, event}); }
    Q_INVOKABLE void onMouseUp_(const QVariantMap &event) { calls.push_back({"onMouseUp_", 0, event}); }
    Q_INVOKABLE void onDragEnter_(const QVariantMap &event) { calls.push_back({"onDragEnter_", 0, event}); }
    Q_INVOKABLE void onDragOver_(const QVariantMap &event) { calls.push_back({"onDragOver_", 0, event}); }
    Q_INVOKABLE void onDragStart_withEvent_(quint64 node, const QVariantMap &event) { calls.push_back({"onDragStart_withEvent_", node, event}); }
    Q_INVOKABLE void runPluginDesignDraw() { calls.push_back({"runPluginDesignDraw", 0, {}}); }

    const BridgeCall *find(const QString &method) const
    {
        for (const auto &c : calls)
            if (c.method == method)
                return &c;
        return nullptr;
    }
};

// The page's ids: a design document as the page builds it, with a label, a button and a
// select control on the jQuery Mobile page.
struct DesignPage {
    std::shared_ptr<DOMDocument> doc;
    std::shared_ptr<DOMElement> style;
    std::shared_ptr<DOMElement> pageDiv;
    std::shared_ptr<DOMElement> label;
    std::shared_ptr<DOMText> labelText;
    std::shared_ptr<DOMElement> button;
    std::shared_ptr<DOMElement> selectControl;
    std::shared_ptr<DOMElement> select;
};

inline std::shared_ptr<DOMElement> control(DesignPage &p, const QString &id, int top, int left)
{
    auto div = p.doc->createElement(QStringLiteral("div"));
    div->setAttribute(QStringLiteral("id"), QStringLiteral("page1_") + id);
    div->setAttribute(QStringLiteral("data-role"), QStringLiteral("none"));
    div->setAttribute(QStringLiteral("onclick"), QStringLiteral("window.___kr_dwc.onClickElement_withEvent_(this, event);"));
    div->setAttribute(QStringLiteral("ondblclick"), QStringLiteral("window.___kr_dwc.onDoubleClickElement_withEvent_(this,event);"));
    div->style().setProperty(QStringLiteral("position"), QStringLiteral("absolute"), {});
    div->style().setProperty(QStringLiteral("top"), QString::number(top) + QStringLiteral("px"), {});
    div->style().setProperty(QStringLiteral("left"), QString::number(left) + QStringLiteral("px"), {});
    p.pageDiv->appendChild(div);
    return div;
}

inline DesignPage makeDesignPage()
{
    DesignPage p;
    p.doc = DOMDocument::createHTMLDocument();
    auto head = p.doc->head();
    auto body = p.doc->body();
    auto title = p.doc->createElement(QStringLiteral("title"));
    head->appendChild(title);
    p.style = p.doc->createElement(QStringLiteral("style"));
    p.style->setAttribute(QStringLiteral("type"), QStringLiteral("text/css"));
    p.style->setTextContent(QStringLiteral("html, body { font-size: 16px; font-family: \"Helvetica\"; background-color: #eee;}\n"
                                           "div { -webkit-box-sizing: border-box;}\n"
                                           "p.kr-css-marker {}\n"));
    head->appendChild(p.style);
    for (const QString &css : {QStringLiteral("jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css"),
                               QStringLiteral("jquery.mobile-1.4.0/jquery.mobile.icons-1.4.0.min.css"),
                               QStringLiteral("jquery.mobile-1.4.0/jquery.mobile.theme-1.4.0.min.css")}) {
        auto link = p.doc->createElement(QStringLiteral("link"));
        link->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
        link->setAttribute(QStringLiteral("href"), libraryURL(css));
        head->appendChild(link);
    }
    auto jquery = p.doc->createElement(QStringLiteral("script"));
    jquery->setAttribute(QStringLiteral("src"), libraryURL(QStringLiteral("jquery-1.9.0/jquery.min.js")));
    jquery->setAttribute(QStringLiteral("onload"), QStringLiteral("window.___kr_page.jqueryLoaded()"));
    head->appendChild(jquery);

    body->setAttribute(QStringLiteral("ondragenter"), QStringLiteral("window.___kr_dwc.onDragEnter_(event)"));
    body->setAttribute(QStringLiteral("ondragover"), QStringLiteral("window.___kr_dwc.onDragOver_(event)"));
    body->setAttribute(QStringLiteral("onclick"), QStringLiteral("window.___kr_dwc.onClickBody_(event)"));
    body->setAttribute(QStringLiteral("onmousedown"), QStringLiteral("window.___kr_dwc.onMouseDown_(event)"));
    body->setAttribute(QStringLiteral("onmouseup"), QStringLiteral("window.___kr_dwc.onMouseUp_(event)"));
    body->style().setProperty(QStringLiteral("-webkit-user-select"), QStringLiteral("none"), {});
    auto dragDiv = p.doc->createElement(QStringLiteral("div"));
    dragDiv->setAttribute(QStringLiteral("id"), QStringLiteral("___kr_dragdiv"));
    dragDiv->setAttribute(QStringLiteral("style"), QStringLiteral("position: absolute; top: 1; left: 1; width: 1; height: 1; z-index: -9999999"));
    body->appendChild(dragDiv);
    auto dragScript = p.doc->createElement(QStringLiteral("script"));
    dragScript->setAttribute(QStringLiteral("type"), QStringLiteral("text/javascript"));
    dragScript->setTextContent(QStringLiteral("function dragstart(element, event) { event.dataTransfer.setDragImage(document.getElementById(\"___kr_dragdiv\"), 0, 0); window.___kr_dwc.onDragStart_withEvent_(element, event);}"));
    body->appendChild(dragScript);

    p.pageDiv = p.doc->createElement(QStringLiteral("div"));
    p.pageDiv->setAttribute(QStringLiteral("id"), QStringLiteral("page1"));
    p.pageDiv->setAttribute(QStringLiteral("data-role"), QStringLiteral("page"));
    body->appendChild(p.pageDiv);
    body->style().setProperty(QStringLiteral("margin"), QStringLiteral("0"), {});
    body->style().setProperty(QStringLiteral("padding"), QStringLiteral("0"), {});

    p.label = control(p, QStringLiteral("label1"), 10, 10);
    p.label->style().setProperty(QStringLiteral("width"), QStringLiteral("100px"), {});
    p.label->style().setProperty(QStringLiteral("height"), QStringLiteral("24px"), {});
    p.label->style().setProperty(QStringLiteral("overflow"), QStringLiteral("hidden"), {});
    p.labelText = p.doc->createTextNode(QStringLiteral("Hello"));
    p.label->appendChild(p.labelText);

    p.button = control(p, QStringLiteral("button1"), 60, 10);
    p.button->setInnerHTML(QStringLiteral("<a href=\"#\" id=\"_page1_button1_inp\" data-role=\"button\">Go</a>"));

    p.selectControl = control(p, QStringLiteral("select1"), 140, 10);
    p.selectControl->style().setProperty(QStringLiteral("width"), QStringLiteral("200px"), {});
    p.selectControl->setInnerHTML(QStringLiteral("<select id=\"_page1_select1_sel\"><option value=\"1\">One</option></select>"));
    p.select = p.selectControl->firstElementByTagName(QStringLiteral("select"));
    return p;
}

// The result of a script in the live page; an invalid QVariant when none came in time.
inline QVariant js(KRWebView &view, const QString &script)
{
    return KRTest::evaluateScript(&view, script);
}

// Waits until every change made so far is applied in the view.
inline bool waitInStep(KRWebView &view)
{
    view.flush();
    return KRTest::processEventsUntil([&] { return view.isInStep(); });
}

inline QString artifactsDir() { return KRTest::artifactsDir(QStringLiteral("webview")); }

} // namespace KRWebTest

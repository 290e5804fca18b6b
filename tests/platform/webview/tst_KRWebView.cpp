// The own DOM mirrored into a live QtWebEngine view: jQuery Mobile enhancement, edits that
// must show in the live page (some surviving jQuery Mobile's own changes), the bridges, the
// layout cache and a screenshot kept as a test artifact.
#include "WebViewTestSupport.h"

#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/webview/KRLayoutCache.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <platform/webview/KRWebPage.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace KRWebTest;

namespace {

class KRWebViewLive : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!webLibrariesStaged())
            GTEST_SKIP() << "web libraries not staged (run the build's stage_web_libs)";
        webFolder = KRTest::makeTempDir(QStringLiteral("kr-web"));
        page = makeDesignPage();
        pageBridge.document = page.doc;
        view = std::make_unique<KRWebView>();
        view->setHostObject(QStringLiteral("___kr_page"), &pageBridge);
        view->setHostObject(QStringLiteral("___kr_dwc"), &surface);
        // Attached before the view is ready: the document goes over once the agent connects.
        view->attachDocument(page.doc);
        view->loadEmptyDocument(QUrl::fromLocalFile(webFolder + QStringLiteral("/")));
        view->show();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return pageBridge.jqueryMobileLoadedCalls > 0; }))
            << "jQuery Mobile did not report loading; agent errors: "
            << view->agentErrors().join(QStringLiteral("; ")).toStdString();
        ASSERT_TRUE(KRTest::processEventsUntil([&] {
            return js(*view, QStringLiteral("document.getElementById('page1').classList.contains('ui-page')")).toBool();
        }));
        ASSERT_TRUE(waitInStep(*view));
    }

    void TearDown() override
    {
        if (view)
            view->detachDocument();
    }

    QString liveText(const QString &script) { return js(*view, script).toString(); }

    QString webFolder;
    DesignPage page;
    PageBridge pageBridge;
    SurfaceBridge surface;
    std::unique_ptr<KRWebView> view;
};

} // namespace

TEST_F(KRWebViewLive, MirrorsTheDocumentInQuirksModeAndJQueryMobileEnhancesIt)
{
    EXPECT_EQ(pageBridge.jqueryLoadedCalls, 1);
    EXPECT_EQ(pageBridge.jqueryMobileLoadedCalls, 1);
    EXPECT_EQ(liveText(QStringLiteral("document.compatMode")), QStringLiteral("BackCompat"));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').textContent")), QStringLiteral("Hello"));
    // jQuery Mobile made the page active and wrapped the select in widgets of its own.
    EXPECT_TRUE(js(*view, QStringLiteral("document.getElementById('page1').classList.contains('ui-page-active')")).toBool());
    EXPECT_EQ(js(*view, QStringLiteral("$('#_page1_select1_sel').closest('.ui-select').length")).toInt(), 1);
    EXPECT_TRUE(js(*view, QStringLiteral("$('#_page1_button1_inp').hasClass('ui-btn')")).toBool());
    // The bridges exist as the page's scripts call them.
    EXPECT_EQ(liveText(QStringLiteral("typeof window.___kr_dwc.onDragStart_withEvent_")), QStringLiteral("function"));
    EXPECT_EQ(liveText(QStringLiteral("typeof dragstart")), QStringLiteral("function"));
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

TEST_F(KRWebViewLive, PropertyEditsAppearInTheLiveView)
{
    // text, colour, position, attribute
    page.labelText->setData(QStringLiteral("World"));
    page.label->style().setProperty(QStringLiteral("color"), QStringLiteral("rgb(255, 0, 0)"), QStringLiteral("important"));
    page.label->style().setProperty(QStringLiteral("top"), QStringLiteral("50px"), {});
    page.label->setAttribute(QStringLiteral("title"), QStringLiteral("tip"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').textContent")), QStringLiteral("World"));
    EXPECT_EQ(liveText(QStringLiteral("getComputedStyle(document.getElementById('page1_label1')).color")),
              QStringLiteral("rgb(255, 0, 0)"));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').style.getPropertyPriority('color')")),
              QStringLiteral("important"));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').style.top")), QStringLiteral("50px"));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').title")), QStringLiteral("tip"));

    // Removing an attribute and a style property.
    page.label->removeAttribute(QStringLiteral("title"));
    page.label->style().removeProperty(QStringLiteral("color"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_FALSE(js(*view, QStringLiteral("document.getElementById('page1_label1').hasAttribute('title')")).toBool());
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').style.color")), QString());

    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

TEST_F(KRWebViewLive, OptionListsAndRebuiltWidgetsKeepJQueryMobileMarkupInStep)
{
    // An option list rebuilt by inner HTML, then refreshed by the widget's script: the
    // script runs after the new options are in.
    page.select->setInnerHTML(QStringLiteral("<option value=\"a\">Alpha</option><option value=\"b\" selected>Beta</option>"
                                             "<option value=\"c\">Gamma</option>"));
    page.doc->evaluateScript(QStringLiteral("$('#_page1_select1_sel').selectmenu('refresh');"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(js(*view, QStringLiteral("document.getElementById('_page1_select1_sel').options.length")).toInt(), 3);
    EXPECT_EQ(liveText(QStringLiteral("$('#page1_select1 .ui-btn span').first().text()")), QStringLiteral("Beta"));
    EXPECT_EQ(js(*view, QStringLiteral("$('#page1_select1 .ui-select').length")).toInt(), 1);

    // A widget rebuilt as a whole: the control's children are replaced, jQuery Mobile's
    // wrapper of the old select goes with them, and the fresh markup is enhanced again.
    page.selectControl->setInnerHTML(QStringLiteral("<select id=\"_page1_select1_sel\"><option value=\"x\">Xray</option></select>"));
    page.select = page.selectControl->firstElementByTagName(QStringLiteral("select"));
    page.doc->evaluateScript(QStringLiteral("$('#page1_select1').enhanceWithin();"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(js(*view, QStringLiteral("$('#page1_select1 .ui-select').length")).toInt(), 1);
    EXPECT_EQ(js(*view, QStringLiteral("$('#page1_select1 select').length")).toInt(), 1);
    EXPECT_EQ(liveText(QStringLiteral("$('#page1_select1 .ui-btn span').first().text()")), QStringLiteral("Xray"));

    // Removing a control whose inner element jQuery Mobile wrapped.
    page.pageDiv->removeChild(page.button);
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(js(*view, QStringLiteral("document.getElementById('page1_button1') === null")).toBool(), true);
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

TEST_F(KRWebViewLive, ClassEditsKeepTheClassesJQueryMobileAdded)
{
    page.pageDiv->addClass(QStringLiteral("ui-body-b"));
    page.label->setClasses({QStringLiteral("kr-one"), QStringLiteral("kr-two")});
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_TRUE(js(*view, QStringLiteral("document.getElementById('page1').classList.contains('ui-body-b')")).toBool());
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').className")), QStringLiteral("kr-one kr-two"));

    page.pageDiv->removeClassWithPrefix(QStringLiteral("ui-body-"));
    page.pageDiv->addClass(QStringLiteral("ui-body-c"));
    page.label->setAttribute(QStringLiteral("class"), QStringLiteral("kr-two kr-three"));
    ASSERT_TRUE(waitInStep(*view));
    const QString classes = liveText(QStringLiteral("document.getElementById('page1').className"));
    EXPECT_TRUE(classes.contains(QStringLiteral("ui-page-active"))) << classes.toStdString();
    EXPECT_TRUE(classes.contains(QStringLiteral("ui-body-c"))) << classes.toStdString();
    EXPECT_FALSE(classes.contains(QStringLiteral("ui-body-b"))) << classes.toStdString();
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').className")), QStringLiteral("kr-two kr-three"));
}

TEST_F(KRWebViewLive, StyleRulesAreInsertedDeletedAndEditedByIndex)
{
    auto sheet = page.style->sheet();
    ASSERT_TRUE(sheet);
    const int index = sheet->insertRule(QStringLiteral(".kr-green { color: rgb(0, 128, 0); }"), sheet->length());
    ASSERT_EQ(index, 3);
    page.label->addClass(QStringLiteral("kr-green"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(QStringLiteral("getComputedStyle(document.getElementById('page1_label1')).color")),
              QStringLiteral("rgb(0, 128, 0)"));

    sheet->item(index)->style().setProperty(QStringLiteral("color"), QStringLiteral("rgb(0, 0, 255)"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(QStringLiteral("getComputedStyle(document.getElementById('page1_label1')).color")),
              QStringLiteral("rgb(0, 0, 255)"));

    sheet->deleteRule(index);
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(js(*view, QStringLiteral("document.querySelector('style').sheet.cssRules.length")).toInt(), 3);
    EXPECT_NE(liveText(QStringLiteral("getComputedStyle(document.getElementById('page1_label1')).color")),
              QStringLiteral("rgb(0, 0, 255)"));
}

// Rules changed through the sheet are in the sheet only, not in the style element's text: a
// view that mirrors the document anew gets them too, at the same places, so that the rule
// edits after it reach the right rules.
TEST_F(KRWebViewLive, AViewMirroringTheDocumentAnewGetsTheRulesOfTheSheet)
{
    auto sheet = page.style->sheet();
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->length(), 3);
    ASSERT_TRUE(sheet->deleteRule(0)); // html, body
    const int green = sheet->insertRule(QStringLiteral(".kr-green { color: rgb(0, 128, 0); }"), sheet->length());
    const int big = sheet->insertRule(QStringLiteral(".kr-big { font-size: 30px; }"), sheet->length());
    page.label->addClass(QStringLiteral("kr-green"));
    page.label->addClass(QStringLiteral("kr-big"));

    QSignalSpy ready(view.get(), &KRWebView::agentReady);
    view->loadEmptyDocument(view->baseURL());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return ready.count() == 1; }, std::chrono::seconds(30)));
    ASSERT_TRUE(waitInStep(*view));
    const QString label = QStringLiteral("getComputedStyle(document.getElementById('page1_label1'))");
    EXPECT_EQ(js(*view, QStringLiteral("document.querySelector('style').sheet.cssRules.length")).toInt(), sheet->length());
    EXPECT_EQ(liveText(label + QStringLiteral(".color")), QStringLiteral("rgb(0, 128, 0)"));
    EXPECT_EQ(liveText(label + QStringLiteral(".fontSize")), QStringLiteral("30px"));

    sheet->item(green)->style().setProperty(QStringLiteral("color"), QStringLiteral("rgb(0, 0, 255)"));
    sheet->item(big)->style().setProperty(QStringLiteral("font-size"), QStringLiteral("12px"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(label + QStringLiteral(".color")), QStringLiteral("rgb(0, 0, 255)"));
    EXPECT_EQ(liveText(label + QStringLiteral(".fontSize")), QStringLiteral("12px"));
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

TEST_F(KRWebViewLive, ScriptsRunAfterTheChangesMadeBeforeThemAndFailuresDoNotStopTheStream)
{
    auto fresh = page.doc->createElement(QStringLiteral("div"));
    fresh->setAttribute(QStringLiteral("id"), QStringLiteral("fresh"));
    fresh->setTextContent(QStringLiteral("new"));
    page.pageDiv->appendChild(fresh);
    page.doc->evaluateScript(QStringLiteral("window.__seen = document.getElementById('fresh').textContent;"));
    page.doc->evaluateScript(QStringLiteral("this is not javascript"));
    fresh->setTextContent(QStringLiteral("newer"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(QStringLiteral("window.__seen")), QStringLiteral("new"));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('fresh').textContent")), QStringLiteral("newer"));
    EXPECT_EQ(view->agentErrors().size(), 1);
}

TEST_F(KRWebViewLive, ClicksArriveAtTheBridgeWithTheNodeIds)
{
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view->layoutCache()->geometryForNode(page.label->nodeId()).valid; }));
    const KRNodeGeometry g = view->layoutCache()->geometryForNode(page.label->nodeId());
    const QPoint centre(int(g.clientLeft + g.boundingWidth / 2), int(g.clientTop + g.boundingHeight / 2));

    // A real mouse click on the view's input widget.
    QWidget *input = view->focusProxy();
    ASSERT_NE(input, nullptr);
    QTest::mouseClick(input, Qt::LeftButton, Qt::ShiftModifier, centre);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return surface.find(QStringLiteral("onClickElement_withEvent_")); }));
    const BridgeCall *click = surface.find(QStringLiteral("onClickElement_withEvent_"));
    EXPECT_EQ(click->node, page.label->nodeId());
    EXPECT_EQ(click->event.value(QStringLiteral("type")).toString(), QStringLiteral("click"));
    EXPECT_TRUE(click->event.value(QStringLiteral("shiftKey")).toBool());
    EXPECT_EQ(click->event.value(QStringLiteral("target")).toULongLong(), page.label->nodeId());
    // The mouse-down went to the body's handler with the element under the pointer.
    const BridgeCall *down = surface.find(QStringLiteral("onMouseDown_"));
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->event.value(QStringLiteral("hit")).toULongLong(), page.label->nodeId());
    EXPECT_EQ(down->event.value(QStringLiteral("hitTag")).toString(), QStringLiteral("DIV"));

    // A click on a node that jQuery Mobile created stands for its nearest mirrored ancestor.
    surface.calls.clear();
    js(*view, QStringLiteral("$('#page1_select1 .ui-btn span')[0].dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true}));"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return surface.find(QStringLiteral("onClickBody_")); }));
    const BridgeCall *inner = surface.find(QStringLiteral("onClickElement_withEvent_"));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->node, page.selectControl->nodeId());
    EXPECT_EQ(inner->event.value(QStringLiteral("target")).toULongLong(), page.selectControl->nodeId());
    EXPECT_EQ(inner->event.value(QStringLiteral("targetTag")).toString(), QStringLiteral("SPAN"));
    // A click on a control cancels the event's default action in the page.
    EXPECT_TRUE(js(*view, QStringLiteral("(function(){ var e = new MouseEvent('click', {bubbles: true, cancelable: true});"
                                         " document.getElementById('page1_label1').dispatchEvent(e); return e.defaultPrevented; })()"))
                    .toBool());
    // A method the receiver does not have is reported, not fatal.
    QSignalSpy failed(view.get(), &KRWebView::hostCallFailed);
    js(*view, QStringLiteral("window.___kr_dwc.onMouseMove_({})"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return failed.count() == 1; }));
    EXPECT_EQ(failed.at(0).at(1).toString(), QStringLiteral("onMouseMove_"));
}

TEST_F(KRWebViewLive, GeometryReportsFollowOverflowingText)
{
    const auto id = page.label->nodeId();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view->layoutSource().geometryForNode(id).valid; }));
    const KRNodeGeometry before = view->layoutSource().geometryForNode(id);
    EXPECT_EQ(before.offsetWidth, 100);
    EXPECT_EQ(before.offsetHeight, 24);
    EXPECT_LE(before.scrollHeight, 24);

    page.labelText->setData(QStringLiteral("A label whose text is far too long for a hundred pixels of width, so it wraps"));
    ASSERT_TRUE(waitInStep(*view));
    const KRNodeGeometry after = view->layoutSource().geometryForNode(id);
    EXPECT_EQ(after.offsetHeight, 24);
    EXPECT_GT(after.scrollHeight, 24 * 2);

    // A removed node leaves the cache.
    page.pageDiv->removeChild(page.label);
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_FALSE(view->layoutSource().geometryForNode(id).valid);
}

TEST_F(KRWebViewLive, ScreenshotOfTheDesignViewIsKept)
{
    ASSERT_TRUE(waitInStep(*view));
    const auto id = page.button->firstElementByTagName(QStringLiteral("a"))->nodeId();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view->layoutSource().geometryForNode(id).valid; }));
    const KRNodeGeometry g = view->layoutSource().geometryForNode(id);
    // jQuery Mobile draws the button with a light face and a border; the page background is
    // #eee. Wait (bounded) for the compositor to deliver a frame that shows the widgets.
    const QPoint face(int(g.clientLeft + 6), int(g.clientTop + g.boundingHeight / 2));
    QImage shot;
    const bool drawn = KRTest::processEventsUntil([&] {
        shot = view->grab().toImage();
        return !shot.isNull() && shot.pixelColor(face) != QColor(0xee, 0xee, 0xee);
    });
    ASSERT_FALSE(shot.isNull());
    const QString path = artifactsDir() + QStringLiteral("/design-page.png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    EXPECT_TRUE(drawn) << "the screenshot does not show the enhanced button: " << path.toStdString();
    EXPECT_EQ(shot.size(), view->size() * shot.devicePixelRatio());
}

TEST(KRWebView, ANewDocumentReplacesTheMirroredOneAndDetachingStopsTheStream)
{
    auto first = DOMDocument::createHTMLDocument();
    auto p1 = first->createElement(QStringLiteral("p"));
    p1->setTextContent(QStringLiteral("first"));
    first->body()->appendChild(p1);
    KRWebView view;
    view.loadEmptyDocument(QUrl::fromLocalFile(KRTest::makeTempDir() + QStringLiteral("/")));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view.isReady(); }));
    view.attachDocument(first);
    ASSERT_TRUE(waitInStep(view));
    EXPECT_EQ(js(view, QStringLiteral("document.body.textContent")).toString(), QStringLiteral("first"));
    EXPECT_EQ(first->scriptHost(), &view);

    auto second = DOMDocument::createHTMLDocument();
    auto p2 = second->createElement(QStringLiteral("p"));
    p2->setTextContent(QStringLiteral("second"));
    second->body()->appendChild(p2);
    view.attachDocument(second);
    EXPECT_NE(first->scriptHost(), &view);
    p1->setTextContent(QStringLiteral("not mirrored"));
    ASSERT_TRUE(waitInStep(view));
    EXPECT_EQ(js(view, QStringLiteral("document.body.textContent")).toString(), QStringLiteral("second"));

    view.detachDocument();
    EXPECT_FALSE(second->hasMutationListeners());
    p2->setTextContent(QStringLiteral("not mirrored either"));
    ASSERT_TRUE(waitInStep(view));
    EXPECT_EQ(js(view, QStringLiteral("document.body.textContent")).toString(), QStringLiteral("second"));

    // A document that dies while attached leaves the view usable.
    {
        auto third = DOMDocument::createHTMLDocument();
        view.attachDocument(third);
    }
    EXPECT_EQ(view.attachedDocument(), nullptr);
    view.evaluateScript(QStringLiteral("window.__alive = 1;"));
    ASSERT_TRUE(waitInStep(view));
    EXPECT_EQ(js(view, QStringLiteral("window.__alive")).toInt(), 1);
}

TEST(KRWebView, PageScriptsCannotNavigateTheDesignViewAway)
{
    const QString folder = KRTest::makeTempDir();
    KRTest::writeFile(folder + QStringLiteral("/other.html"), "<p>another page</p>");
    KRWebView view;
    view.loadEmptyDocument(QUrl::fromLocalFile(folder + QStringLiteral("/")));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view.isReady(); }));
    const QString before = view.url().toString();
    view.evaluateScript(QStringLiteral("window.__marker = 7; location.href = 'other.html';"));
    ASSERT_TRUE(waitInStep(view));
    // Give a navigation the chance to happen, then check the document is still ours.
    EXPECT_EQ(js(view, QStringLiteral("window.__marker")).toInt(), 7);
    EXPECT_TRUE(view.isReady());
    EXPECT_EQ(view.url().toString(), before);
}

TEST(KRWebView, BridgeCallsMadeBeforeTheChannelIsConnectedAreDeliveredInOrder)
{
    PageBridge pageBridge;
    SurfaceBridge surface;
    KRWebView view;
    view.setHostObject(QStringLiteral("___kr_page"), &pageBridge);
    view.setHostObject(QStringLiteral("___kr_dwc"), &surface);
    // A document whose own script calls the bridges while it is parsed, long before the
    // channel's asynchronous hand-shake can have finished.
    static_cast<KRWebPage *>(view.page())->allowNextNavigation();
    view.page()->setHtml(QStringLiteral("<body><div id=a></div><script>"
                                        "window.___kr_dwc.runPluginDesignDraw();"
                                        "window.___kr_dwc.onClickElement_withEvent_(document.getElementById('a'), {type: 'click', clientX: 3});"
                                        "window.___kr_page.jqueryMobileLoaded();"
                                        "</script></body>"),
                         QUrl::fromLocalFile(KRTest::makeTempDir() + QStringLiteral("/")));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return pageBridge.jqueryMobileLoadedCalls == 1; }));
    ASSERT_EQ(surface.calls.size(), 2u);
    EXPECT_EQ(surface.calls[0].method, QStringLiteral("runPluginDesignDraw"));
    EXPECT_EQ(surface.calls[1].method, QStringLiteral("onClickElement_withEvent_"));
    // The element is not mirrored (the page made it itself): no node id.
    EXPECT_EQ(surface.calls[1].node, 0u);
    EXPECT_EQ(surface.calls[1].event.value(QStringLiteral("clientX")).toInt(), 3);
    // The bridges cannot be replaced by page scripts.
    EXPECT_EQ(js(view, QStringLiteral("window.___kr_dwc = 1; typeof window.___kr_dwc")).toString(), QStringLiteral("object"));
}

TEST(KRWebView, ADocumentInTheWebFolderLoadsScriptsFromTheLocalServer)
{
    // A minimal stand-in for the runtime server on 127.0.0.1: every request gets a script
    // that reports back through the page bridge.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QByteArray requested;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&requested, socket] {
                const QByteArray request = socket->readAll();
                requested += request.left(request.indexOf("\r\n"));
                const QByteArray body = "window.__fromServer = 42;";
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/javascript\r\nConnection: close\r\n"
                              "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });

    PageBridge pageBridge;
    auto doc = DOMDocument::createHTMLDocument();
    KRWebView::setLibraryServerPortProvider([&server] { return qint64(server.serverPort()); });
    KRWebView view;
    view.setHostObject(QStringLiteral("___kr_page"), &pageBridge);
    view.attachDocument(doc);
    view.loadEmptyDocument(QUrl::fromLocalFile(KRTest::makeTempDir(QStringLiteral("kr-web")) + QStringLiteral("/")));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view.isReady(); }));
    auto script = doc->createElement(QStringLiteral("script"));
    // Addresses are formed with two slashes after the port.
    script->setAttribute(QStringLiteral("src"), QStringLiteral("http://127.0.0.1:%1//__kr_bundle/jquery-1.9.0/jquery.min.js").arg(server.serverPort()));
    script->setAttribute(QStringLiteral("onload"), QStringLiteral("window.___kr_page.jqueryMobileLoaded()"));
    doc->head()->appendChild(script);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return pageBridge.jqueryMobileLoadedCalls == 1; }))
        << "requests: " << requested.toStdString();
    EXPECT_EQ(js(view, QStringLiteral("window.__fromServer")).toInt(), 42);
    EXPECT_TRUE(requested.contains("GET //__kr_bundle/jquery-1.9.0/jquery.min.js")) << requested.toStdString();
    KRWebView::setLibraryServerPortProvider(nullptr);
}

TEST_F(KRWebViewLive, AContextMenuRequestNamesTheNodeAndReloadingMirrorsTheDocumentAgain)
{
    QSignalSpy menu(view.get(), &KRWebView::contextMenuRequested);
    const bool prevented = js(*view, QStringLiteral("(function(){ var e = new MouseEvent('contextmenu', {bubbles: true, cancelable: true, clientX: 20, clientY: 30});"
                                                    " $('#_page1_button1_inp')[0].dispatchEvent(e); return e.defaultPrevented; })()"))
                               .toBool();
    EXPECT_TRUE(prevented);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return menu.count() == 1; }));
    EXPECT_EQ(menu.at(0).at(0).toULongLong(), page.button->firstElementByTagName(QStringLiteral("a"))->nodeId());
    EXPECT_EQ(menu.at(0).at(1).toPoint(), QPoint(20, 30));

    // A fresh document in the view (as after a renderer crash) gets the own document again,
    // with the edits made while it was loading.
    QSignalSpy ready(view.get(), &KRWebView::agentReady);
    view->loadEmptyDocument(view->baseURL());
    page.labelText->setData(QStringLiteral("while reloading"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return ready.count() == 1; }));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('page1_label1').textContent")), QStringLiteral("while reloading"));
    EXPECT_EQ(liveText(QStringLiteral("document.compatMode")), QStringLiteral("BackCompat"));
}

TEST_F(KRWebViewLive, InsertingBeforeAWrappedNodeGoesBeforeItsWrapper)
{
    // jQuery Mobile wrapped the select in its own nodes; a node inserted before the select in
    // the own DOM lands before that wrapper in the control, not inside it.
    auto caption = page.doc->createElement(QStringLiteral("span"));
    caption->setAttribute(QStringLiteral("id"), QStringLiteral("caption"));
    page.selectControl->insertBefore(caption, page.select);
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('caption').parentNode.id")), QStringLiteral("page1_select1"));
    EXPECT_EQ(liveText(QStringLiteral("document.getElementById('caption').nextSibling.className")), QStringLiteral("ui-select"));
}

TEST_F(KRWebViewLive, MarkupInAControlRunsAndFramesNothingWhileTheProgramsHandlersAndScriptsWork)
{
    // Markup put into a control directly (the design writer leaves such parts out of content
    // before; the view does not count on it), and attributes set on a control later.
    auto box = control(page, QStringLiteral("box"), 200, 10);
    box->setInnerHTML(QStringLiteral(
        "<img id=h1 src=nowhere.png onerror=\"window.__ran = 'onerror'\">"
        "<a id=h2 href=\" JaVa\tScRiPt:window.__ran = 'href'\">link</a>"
        "<script id=h3>window.__ran = 'script';</script>"
        "<iframe id=h4 width=120 height=40 srcdoc=\"<b>frame</b>\"></iframe>"
        "<meta id=h5 http-equiv=refresh content=\"0;url=other.html\">"
        "<div id=h6 onclick=\"window.___kr_page.libraryFailedToLoad()\">page bridge</div>"
        "<form id=h7 action=\"http://127.0.0.1:9/\"><button id=h8 formaction=\"javascript:window.__ran = 'form'\">b</button></form>"));
    page.label->setAttribute(QStringLiteral("onmouseover"), QStringLiteral("window.__ran = 'later'"));
    page.label->setAttribute(QStringLiteral("title"), QStringLiteral("javascript:window.__ran = 'title'"));
    ASSERT_TRUE(waitInStep(*view));
    const auto live = [this](const QString &script) { return liveText(script); };
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('h1').getAttribute('onerror'))")), QStringLiteral("null"));
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('h2').getAttribute('href'))")), QStringLiteral("null"));
    // Left out, an inert stand-in keeps its place; a frame's keeps its box.
    EXPECT_EQ(live(QStringLiteral("document.getElementById('h3').localName")), QStringLiteral("kr-left-out"));
    EXPECT_EQ(live(QStringLiteral("document.getElementById('h4').localName")), QStringLiteral("kr-left-out"));
    EXPECT_EQ(js(*view, QStringLiteral("document.getElementById('h4').offsetWidth")).toInt(), 120);
    EXPECT_EQ(live(QStringLiteral("document.getElementById('h5').localName")), QStringLiteral("kr-left-out"));
    EXPECT_EQ(js(*view, QStringLiteral("document.querySelectorAll('iframe, meta[http-equiv=refresh]').length")).toInt(), 0);
    // Only the page's own scripts may call the page bridge.
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('h6').getAttribute('onclick'))")), QStringLiteral("null"));
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('h7').getAttribute('action'))")), QStringLiteral("null"));
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('h8').getAttribute('formaction'))")), QStringLiteral("null"));
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('page1_label1').getAttribute('onmouseover'))")), QStringLiteral("null"));
    EXPECT_EQ(live(QStringLiteral("String(document.getElementById('page1_label1').getAttribute('title'))")), QStringLiteral("null"));
    // Even a handler or script that reached the document would not run: its policy runs
    // neither handler text nor eval.
    EXPECT_EQ(live(QStringLiteral("(function () { var d = document.createElement('div'); d.setAttribute('onclick', 'window.__ran = 1');"
                                  "document.body.appendChild(d); d.click(); d.remove(); try { eval('1'); return 'eval ran'; }"
                                  "catch (e) { return String(window.__ran); } })()")),
              QStringLiteral("undefined"));
    // The control's own handlers are there, and the program's scripts run.
    EXPECT_TRUE(liveText(QStringLiteral("document.getElementById('page1_box').getAttribute('onclick')")).contains(QStringLiteral("onClickElement_withEvent_")));
    page.doc->evaluateScript(QStringLiteral("window.__programRan = document.querySelectorAll('kr-left-out').length;"));
    ASSERT_TRUE(waitInStep(*view));
    EXPECT_EQ(js(*view, QStringLiteral("window.__programRan")).toInt(), 3);
    js(*view, QStringLiteral("document.getElementById('page1_box').click()"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return surface.find(QStringLiteral("onClickElement_withEvent_")) != nullptr; }));
    EXPECT_EQ(surface.find(QStringLiteral("onClickElement_withEvent_"))->node, box->nodeId());
    EXPECT_EQ(live(QStringLiteral("String(window.__ran)")), QStringLiteral("undefined"));
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

TEST(KRWebView, ZoomIsPerViewThoughAllDesignDocumentsShareAnOrigin)
{
    const QUrl base = QUrl::fromLocalFile(KRTest::makeTempDir(QStringLiteral("kr-web")) + QStringLiteral("/"));
    KRWebView a;
    KRWebView b;
    a.loadEmptyDocument(base);
    b.loadEmptyDocument(base);
    a.show();
    b.show();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return a.isReady() && b.isReady(); }));
    a.setZoomFactor(2.0);
    // The device width in CSS pixels halves in the zoomed view only.
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return js(a, QStringLiteral("window.innerWidth")).toInt() == 160; }));
    EXPECT_EQ(js(b, QStringLiteral("window.innerWidth")).toInt(), 320);
    EXPECT_DOUBLE_EQ(b.zoomFactor(), 1.0);
}

// Views are drawn on the CPU only where OpenGL itself is: a hardware driver whose name merely
// mentions the compiler it was built with keeps its graphics hardware.
TEST(KRWebEngineEnvironment, OnlyRenderersThatRunOnTheCPUAreTakenForSoftware)
{
    using KRWebEngineEnvironment::isSoftwareRenderer;
    for (const char *software : {"llvmpipe (LLVM 15.0.6, 256 bits)", "softpipe", "Mesa DRI Software Rasterizer",
                                 "Google SwiftShader", "D3D12 (Microsoft Basic Render Driver)"})
        EXPECT_TRUE(isSoftwareRenderer(software)) << software;
    for (const char *hardware : {"AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)",
                                 "Mesa Intel(R) UHD Graphics 620 (KBL GT2)", "NVIDIA GeForce GTX 1650/PCIe/SSE2",
                                 "virgl (Intel(R) Iris(R) Xe Graphics)", ""})
        EXPECT_FALSE(isSoftwareRenderer(hardware)) << hardware;
}

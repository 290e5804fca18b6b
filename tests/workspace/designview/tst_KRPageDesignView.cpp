// Pages of the model with the real controls shown live: the design document mirrored into a
// design view from the project's pool, jQuery Mobile loaded through the page's bridge from the
// runtime server, edits made through the model showing in the view, clicks reaching the design
// surface's bridge, and late sizes joining the undo step of the edit that caused them.
#include "DesignViewTestSupport.h"

#include <builder/KRProjectBuilder.h>
#include <controls/KRControl.h>
#include <core/KRJavaScript.h>
#include <model/KRLocalServerPort.h>
#include <model/KRWebViewCache.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/webview/KRDesignViewControllerProxy.h>
#include <platform/webview/KRLayoutCache.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/designview/KRPageDesignViews.h>

#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QWebEngineView>
#include <QTest>

using namespace KRDesignViewTest;

// Readable text in test failures.
static void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

const QString kPage = QStringLiteral(
    "<KRPage id=\"page1\"><KRContents>"
    "<KRLabel id=\"label1\" top=\"10\" left=\"10\" width=\"100\" height=\"24\">Hello</KRLabel>"
    "<KRLabel id=\"label2\" top=\"40\" left=\"10\" width=\"100\" height=\"24\" color=\"green\">Second</KRLabel>"
    "<JQMButton id=\"button1\" top=\"80\" left=\"10\" width=\"150\" value=\"Go\"/>"
    "<JQMSelect id=\"select1\" top=\"150\" left=\"10\" width=\"200\">1|One\n2|Two</JQMSelect>"
    "</KRContents></KRPage>"
    "<KRPage id=\"page2\"><KRContents>"
    "<KRLabel id=\"label1\" top=\"70\" left=\"50\" width=\"120\" height=\"24\">Other page</KRLabel>"
    "</KRContents></KRPage>");

class KRPageDesignViewLive : public LivePageTest
{
protected:
    void SetUp() override
    {
        openPages(kPage);
        if (IsSkipped() || HasFatalFailure())
            return;
        auto made = KRPageDesignView::create(page);
        ASSERT_TRUE(made) << made.error().message().toStdString();
        live = std::move(made.value());
        live->setHandler(&surface);
        QObject::connect(live.get(), &KRPageDesignView::designDocumentDidLoad, [this] { ++didLoad; });
        view = live->webView();
        view->resize(320, 420);
        view->show();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isDesignDocumentLoaded(); }))
            << "jQuery Mobile did not load; agent errors: " << view->agentErrors().join(QStringLiteral("; ")).toStdString();
        ASSERT_TRUE(KRTest::processEventsUntil([&] {
            return js(*view, QStringLiteral("document.getElementById('page1').classList.contains('ui-page-active')")).toBool();
        }));
        ASSERT_TRUE(settle());
        // Loading marks nothing as changed.
        document->undoManager().removeAllActions();
    }

    void TearDown() override
    {
        live.reset();
        project.reset();
    }

    bool settle() { return LivePageTest::settle(*live); }

    std::shared_ptr<KRObject> object(const QString &id) const { return page->objectForID(id); }
    QString live_(const QString &script) { return js(*view, script).toString(); }
    QString liveOf(const QString &id, const QString &expression)
    {
        return live_(QStringLiteral("(function(e){ return %1; })(%2)").arg(expression, liveNode(object(id)->domElement())));
    }

    std::unique_ptr<KRPageDesignView> live;
    KRWebView *view = nullptr;
    RecordingHandler surface;
    int didLoad = 0;
};

} // namespace

TEST_F(KRPageDesignViewLive, ThePageIsMirroredFromThePoolAndEnhancedByJQueryMobile)
{
    // The view came from the project's pool, loaded with the project's web folder.
    EXPECT_EQ(view->baseURL(), project->webViewCache()->baseURL());
    EXPECT_EQ(page->scriptHost(), static_cast<DOMScriptHost *>(view));
    EXPECT_TRUE(live->isDesignDocumentLoaded());
    EXPECT_EQ(didLoad, 1);
    EXPECT_NE(page->layoutSource(), nullptr);
    EXPECT_EQ(live_(QStringLiteral("document.compatMode")), QStringLiteral("BackCompat"));
    // jQuery and jQuery Mobile came from the runtime server and reported through "___kr_page".
    EXPECT_TRUE(js(*view, QStringLiteral("typeof jQuery === 'function' && !!jQuery.mobile")).toBool());
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.textContent")), QStringLiteral("Hello"));
    EXPECT_EQ(liveOf(QStringLiteral("label2"), QStringLiteral("getComputedStyle(e).color")), QStringLiteral("rgb(0, 128, 0)"));
    EXPECT_EQ(js(*view, QStringLiteral("$('#_page1_button1_inp').closest('.ui-btn').length")).toInt(), 1);
    EXPECT_EQ(js(*view, QStringLiteral("$('#_page1_select1_sel').closest('.ui-select').length")).toInt(), 1);
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
    // The layout source answers for the controls.
    const KRNodeGeometry g = page->layoutSource()->geometryForNode(object(QStringLiteral("label1"))->domElement()->nodeId());
    EXPECT_TRUE(g.valid);
    EXPECT_EQ(g.offsetWidth, 100);
    EXPECT_EQ(g.offsetHeight, 24);
}

TEST_F(KRPageDesignViewLive, PropertyEditsMadeThroughTheModelAppearInTheView)
{
    const auto label = object(QStringLiteral("label1"));
    const auto label2 = object(QStringLiteral("label2"));
    const auto select = object(QStringLiteral("select1"));
    const auto button = object(QStringLiteral("button1"));
    label->setValue(QStringLiteral("kr_value"), QStringLiteral("Changed"));
    label2->setValue(QStringLiteral("kr_color"), QStringLiteral("#ff0000"));
    label2->setValue(QStringLiteral("kr_top"), QStringLiteral("200"));
    label2->setValue(QStringLiteral("kr_left"), QStringLiteral("33"));
    select->setValue(QStringLiteral("kr_options"), QStringLiteral("r|Red\ng|Green\nb|Blue"));
    select->setValue(QStringLiteral("kr_value"), QStringLiteral("g"));
    button->setValue(QStringLiteral("kr_value"), QStringLiteral("Send now"));
    ASSERT_TRUE(settle());

    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.textContent")), QStringLiteral("Changed"));
    EXPECT_EQ(liveOf(QStringLiteral("label2"), QStringLiteral("getComputedStyle(e).color")), QStringLiteral("rgb(255, 0, 0)"));
    EXPECT_EQ(liveOf(QStringLiteral("label2"), QStringLiteral("e.offsetTop + ',' + e.offsetLeft")), QStringLiteral("200,33"));
    // The option list inside jQuery Mobile's wrapper, with the chosen entry selected.
    EXPECT_EQ(live_(QStringLiteral("$('#_page1_select1_sel option').map(function(){return this.textContent;}).get().join('|')")),
              QStringLiteral("Red|Green|Blue"));
    EXPECT_EQ(live_(QStringLiteral("$('#_page1_select1_sel').val()")), QStringLiteral("g"));
    EXPECT_EQ(js(*view, QStringLiteral("$('#_page1_select1_sel').closest('.ui-select').length")).toInt(), 1);
    // The rebuilt button: one new input, enhanced again by the script the control queued.
    EXPECT_EQ(js(*view, QStringLiteral("$('#page1_button1 input').length")).toInt(), 1);
    EXPECT_EQ(live_(QStringLiteral("$('#_page1_button1_inp').val()")), QStringLiteral("Send now"));
    EXPECT_EQ(js(*view, QStringLiteral("$('#_page1_button1_inp').closest('.ui-btn').length")).toInt(), 1);
    // The class edits kept jQuery Mobile's own classes of the page.
    EXPECT_TRUE(js(*view, QStringLiteral("document.getElementById('page1').classList.contains('ui-page-active')")).toBool());
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();

    // Undo goes back through the model and the view follows.
    document->undoManager().undo();
    ASSERT_TRUE(settle());
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.textContent")), QStringLiteral("Hello"));
    EXPECT_EQ(live_(QStringLiteral("$('#_page1_button1_inp').val()")), QStringLiteral("Go"));
    EXPECT_EQ(liveOf(QStringLiteral("label2"), QStringLiteral("e.offsetTop + ',' + e.offsetLeft")), QStringLiteral("40,10"));
}

TEST_F(KRPageDesignViewLive, AClickInTheViewReachesTheSurfaceWithItsObject)
{
    const auto label = object(QStringLiteral("label2"));
    const KRNodeGeometry g = page->layoutSource()->geometryForNode(label->domElement()->nodeId());
    ASSERT_TRUE(g.valid);
    const QPoint centre(int(g.clientLeft + g.boundingWidth / 2), int(g.clientTop + g.boundingHeight / 2));
    QWidget *input = view->focusProxy();
    ASSERT_NE(input, nullptr);
    QTest::mouseClick(input, Qt::LeftButton, Qt::NoModifier, centre);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return surface.find(QStringLiteral("onClickElement")) != nullptr; }));
    const auto *click = surface.find(QStringLiteral("onClickElement"));
    EXPECT_EQ(click->element, label->domElement());
    EXPECT_EQ(live->objectForElement(click->element), label);
    EXPECT_EQ(click->event.value(QStringLiteral("type")).toString(), QStringLiteral("click"));
    ASSERT_NE(surface.find(QStringLiteral("onMouseDown")), nullptr);

    // A click on a node that jQuery Mobile made inside a control finds that control.
    surface.calls.clear();
    js(*view, QStringLiteral("$('#page1_select1 .ui-btn span')[0].dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true}));"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return surface.find(QStringLiteral("onClickElement")) != nullptr; }));
    EXPECT_EQ(live->objectForElement(surface.find(QStringLiteral("onClickElement"))->element), object(QStringLiteral("select1")));

    // Once the surface is gone, calls arrive nowhere.
    live->setHandler(nullptr);
    surface.calls.clear();
    QTest::mouseClick(input, Qt::LeftButton, Qt::NoModifier, centre);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(surface.calls.empty());
}

// One user action on a label: new text and a new font size (the font size runs checkSize).
static void editLabel(const std::shared_ptr<KRObject> &label, const QString &text, const QString &fontSize)
{
    label->setValue(QStringLiteral("kr_value"), text);
    label->setValue(QStringLiteral("kr_fontSize"), fontSize);
}

TEST_F(KRPageDesignViewLive, CheckSizeGrowsAnOverflowingLabelInTheSameUndoStep)
{
    const auto label = object(QStringLiteral("label1"));
    KRUndoManager &undo = document->undoManager();
    const QString longText = QStringLiteral("A label whose text is far too long for a hundred pixels of width, so it wraps");
    editLabel(label, longText, QStringLiteral("17"));
    // The view has not measured the new text yet: the size check waits for it. Meanwhile
    // positions and outer sizes still answer, without overflow.
    EXPECT_TRUE(live->isWaitingForSizes());
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("24"));
    const KRNodeGeometry meanwhile = page->layoutSource()->geometryForNode(label->domElement()->nodeId());
    EXPECT_TRUE(meanwhile.valid);
    EXPECT_EQ(meanwhile.offsetHeight, 24);
    EXPECT_EQ(meanwhile.scrollHeight, meanwhile.clientHeight);
    EXPECT_EQ(static_cast<KRControl &>(*label).controlHeight(), 24);
    ASSERT_TRUE(settle());

    const int grown = label->value(QStringLiteral("kr_height")).toInt();
    EXPECT_GT(grown, 24 * 2);
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.offsetHeight")).toInt(), grown);
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.scrollHeight")).toInt(), grown);
    EXPECT_EQ(label->value(QStringLiteral("kr_width")), QStringLiteral("100")); // it wraps, it does not widen
    // Text, font size and the grown height are one step.
    EXPECT_EQ(undo.undoCount(), 1);
    undo.undo();
    ASSERT_TRUE(settle());
    EXPECT_EQ(label->value(QStringLiteral("kr_value")), QStringLiteral("Hello"));
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("24"));
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.offsetHeight")).toInt(), 24);
    undo.redo();
    ASSERT_TRUE(settle());
    EXPECT_EQ(label->value(QStringLiteral("kr_height")).toInt(), grown);
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.textContent")), longText);

    // Text that fits changes nothing, even when the last measurement (of the long text in a
    // box made small again) overflowed; a size in percent is never touched.
    undo.removeAllActions();
    label->setValue(QStringLiteral("kr_height"), QStringLiteral("24"));
    ASSERT_TRUE(settle());
    ASSERT_GT(page->layoutSource()->geometryForNode(label->domElement()->nodeId()).scrollHeight, 24 * 2);
    editLabel(label, QStringLiteral("Hi"), QStringLiteral("16"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("24"));
    label->setValue(QStringLiteral("kr_height"), QStringLiteral("10%"));
    editLabel(label, longText + longText, QStringLiteral("18"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("10%"));
}

TEST_F(KRPageDesignViewLive, UndoWhileASizeIsOnItsWayLetsTheStepGo)
{
    const auto label = object(QStringLiteral("label1"));
    KRUndoManager &undo = document->undoManager();
    editLabel(label, QStringLiteral("Overflowing text for a narrow label, wrapping over several lines"), QStringLiteral("17"));
    ASSERT_TRUE(live->isWaitingForSizes());
    undo.undo(); // in the same turn: the held group closes first
    EXPECT_FALSE(live->isWaitingForSizes());
    EXPECT_EQ(label->value(QStringLiteral("kr_value")), QStringLiteral("Hello"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(label->value(QStringLiteral("kr_height")), QStringLiteral("24"));
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.textContent")), QStringLiteral("Hello"));
    EXPECT_EQ(undo.undoCount(), 0);
    EXPECT_EQ(undo.redoCount(), 1);
}

TEST_F(KRPageDesignViewLive, ScreenshotOfTheLiveDesignViewIsKept)
{
    const auto anchor = object(QStringLiteral("button1"))->domElement()->firstElementByTagName(QStringLiteral("input"));
    ASSERT_TRUE(anchor);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view->layoutSource().geometryForNode(anchor->nodeId()).valid; }));
    const KRNodeGeometry g = view->layoutSource().geometryForNode(anchor->nodeId());
    const QPoint face(int(g.clientLeft + 6), int(g.clientTop + g.boundingHeight / 2));
    QImage shot;
    const bool drawn = KRTest::processEventsUntil([&] {
        shot = view->grab().toImage();
        return !shot.isNull() && shot.pixelColor(face) != QColor(0xee, 0xee, 0xee);
    });
    ASSERT_FALSE(shot.isNull());
    const QString path = artifactsDir() + QStringLiteral("/design-view-page1.png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    EXPECT_TRUE(drawn) << "the screenshot does not show the enhanced button: " << path.toStdString();
}

// Each page has its own view, its own "___kr_page" bridge and queue, and its own surface bridge.
TEST_F(KRPageDesignViewLive, TwoPagesOfOneProjectHaveTheirOwnViewsAndBridges)
{
    const auto page2 = project->pageForID(QStringLiteral("page2"));
    ASSERT_TRUE(page2);
    EXPECT_FALSE(page2->didJQueryMobileLoad());
    auto made = KRPageDesignView::create(page2);
    ASSERT_TRUE(made) << made.error().message().toStdString();
    const std::unique_ptr<KRPageDesignView> second = std::move(made.value());
    RecordingHandler surface2;
    second->setHandler(&surface2);
    KRWebView *view2 = second->webView();
    view2->resize(320, 420);
    view2->show();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return second->isDesignDocumentLoaded(); }));
    EXPECT_NE(view2, view);
    EXPECT_EQ(page2->scriptHost(), static_cast<DOMScriptHost *>(view2));

    const auto other = page2->objectForID(QStringLiteral("label1"));
    other->setValue(QStringLiteral("kr_value"), QStringLiteral("Only here"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { view2->flush(); return view2->isInStep(); }));
    ASSERT_TRUE(settle());
    EXPECT_EQ(js(*view2, liveNode(other->domElement()) + QStringLiteral(".textContent")).toString(), QStringLiteral("Only here"));
    EXPECT_EQ(js(*view2, QStringLiteral("document.getElementById('page1') === null")).toBool(), true);
    EXPECT_EQ(liveOf(QStringLiteral("label1"), QStringLiteral("e.textContent")), QStringLiteral("Hello"));

    js(*view2, liveNode(other->domElement()) + QStringLiteral(".click()"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return surface2.find(QStringLiteral("onClickElement")) != nullptr; }));
    EXPECT_EQ(second->objectForElement(surface2.find(QStringLiteral("onClickElement"))->element), other);
    EXPECT_EQ(surface.find(QStringLiteral("onClickElement")), nullptr);
}

// The project built into the runtime server's folder and opened from it in a plain web view
// shows the controls where the design view shows them. Both screenshots are kept for a look
// by eye.
TEST_F(KRPageDesignViewLive, TheBuiltPageShowsTheControlsWhereTheDesignViewDoes)
{
    KRProjectBuilder builder(project);
    builder.setOutputDirectory(runtimeServerDocumentRoot());
    builder.setMinifier([](const QString &script) -> KRResult<QString> { return script; });
    const KRResult<QString> start = builder.build();
    ASSERT_TRUE(start) << start.error().message().toStdString();
    ASSERT_TRUE(QFile::exists(runtimeServerDocumentRoot() + QStringLiteral("/page1.html")));

    QWebEngineView built;
    built.resize(view->size());
    built.show();
    built.load(QUrl(QStringLiteral("http://127.0.0.1:%1/page1.html").arg(runtimeServerPort())));
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        return js(built, QStringLiteral("!!window.jQuery && !!jQuery.mobile && $('#page1').hasClass('ui-page-active')")).toBool();
    }));

    const QString boxes = QStringLiteral(
        "['page1_label1', 'page1_label2', 'page1_button1', 'page1_select1'].map(function(id) {"
        " var r = document.getElementById(id).getBoundingClientRect();"
        " return id + ':' + [r.left, r.top, r.width, r.height].map(Math.round).join(','); }).join(' ')");
    const QString designBoxes = live_(boxes);
    EXPECT_EQ(js(built, boxes).toString(), designBoxes);
    EXPECT_TRUE(js(built, QStringLiteral("$('#_page1_button1_inp').closest('.ui-btn').length == 1 && $('#page1_select1 .ui-select').length == 1")).toBool());

    // Waits (bounded) for a frame that shows the button's face, unlike the empty corner.
    const auto shoot = [](QWebEngineView &shown, const QString &name) {
        const QVariantList r = js(shown, QStringLiteral("(function(){ var r = document.getElementById('page1_button1')"
                                                         ".getBoundingClientRect(); return [r.left, r.top, r.height]; })()"))
                                   .toList();
        const QPoint face(int(r.value(0).toDouble() + 6), int(r.value(1).toDouble() + r.value(2).toDouble() / 2));
        QImage shot;
        const bool drawn = KRTest::processEventsUntil([&] {
            shot = shown.grab().toImage();
            return !shot.isNull() && shot.pixelColor(face) != shot.pixelColor(shot.width() - 4, shot.height() - 4);
        });
        EXPECT_TRUE(shot.save(artifactsDir() + QLatin1Char('/') + name));
        EXPECT_TRUE(drawn) << name.toStdString() << " does not show the button";
    };
    shoot(*view, QStringLiteral("compare-design-view.png"));
    shoot(built, QStringLiteral("compare-built-page.png"));
}

TEST_F(KRPageDesignViewLive, TheViewLetsThePageGoWhenItIsDestroyed)
{
    const auto doc = page->domDocument();
    live.reset();
    EXPECT_EQ(page->layoutSource(), nullptr);
    EXPECT_NE(page->scriptHost(), nullptr);
    EXPECT_NE(doc->scriptHost(), nullptr);
    // Edits go on headless.
    object(QStringLiteral("label1"))->setValue(QStringLiteral("kr_value"), QStringLiteral("Headless"));
    EXPECT_EQ(object(QStringLiteral("label1"))->domElement()->textContent(), QStringLiteral("Headless"));
}

namespace {

// A view the pool counts as alive and on screen, standing for another page's view.
class OnScreenStandIn : public KRWebViewCacheView
{
public:
    void loadHTMLString(const QString &, const QUrl &) override {}
    bool isLoading() const override { return false; }
    bool hasDocument() const override { return true; }
    bool hasFailed() const override { return false; }
};

} // namespace

// When the pool needs room it takes back the view of a page that is not on screen; the page
// is mirrored into a new view when shown again, jQuery Mobile loads there once, and the
// controls are set up there as in the first view (enhanced, disabled, drawn).
TEST_F(KRPageDesignViewLive, APageWhoseViewWasTakenBackIsShownAgainInANewView)
{
    KRWebViewCache *pool = project->webViewCache();
    KRPageDesignViews views(project);
    QList<KRPageDesignView *> dropped;
    QObject::connect(&views, &KRPageDesignViews::viewWillBeDropped, [&](KRPageDesignView *v) { dropped << v; });
    const auto page2 = project->pageForID(QStringLiteral("page2"));
    const auto list = page2->createNewObject(QStringLiteral("JQMListView"), 10, 100, QString());
    const auto select = page2->createNewObject(QStringLiteral("JQMSelect"), 10, 260, QString());
    const auto graph = page2->createNewObject(QStringLiteral("KRBluffGraph"), 10, 330, QString());
    ASSERT_TRUE(list && select && graph);
    const QString setUpState =
        QStringLiteral("(function(l, s, g) { var c = g.getElementsByTagName('canvas')[0], ink = false;"
                       " var d = c && c.width ? c.getContext('2d').getImageData(0, 0, c.width, c.height).data : [];"
                       " for (var i = 3; i < d.length && !ink; i += 4) ink = d[i] > 0;"
                       " return [$(l).find('ul').hasClass('ui-listview'), $(l).find('li').length > 0 &&"
                       " $(l).find('li').length === $(l).find('li.ui-disabled').length, $(s).find('.ui-select').length === 1,"
                       " !!$(s).find('select').prop('disabled'), ink].join(' '); })(%1, %2, %3)")
            .arg(liveNode(list->domElement()), liveNode(select->domElement()), liveNode(graph->domElement()));
    const QString allSetUp = QStringLiteral("true true true true true");
    QString state;
    const auto isSetUp = [&](KRWebView &v) {
        return KRTest::processEventsUntil([&] { return (state = js(v, setUpState).toString()) == allSetUp; });
    };
    auto first = views.show(page2);
    ASSERT_TRUE(first) << first.error().message().toStdString();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return first.value()->isDesignDocumentLoaded(); }));
    EXPECT_TRUE(isSetUp(*first.value()->webView())) << state.toStdString();
    EXPECT_EQ(views.show(page2).value(), first.value()); // shown again: the same view
    first.value()->webView()->hide();

    // Other pages on screen fill the bound, and no spare is left.
    std::vector<OnScreenStandIn> others(KRWebViewCache::MaximumLiveViews - 1);
    for (const auto &other : others)
        pool->viewInUse(&other, [] { return true; }, {});
    while (pool->pooledViewCount() > 0)
        ASSERT_TRUE(pool->newWebView());
    const auto page3 = project->createNewPage();
    ASSERT_TRUE(page3);
    ASSERT_TRUE(views.show(page3));
    EXPECT_EQ(dropped, QList<KRPageDesignView *>{first.value()});
    EXPECT_EQ(views.viewForPage(page2.get()), nullptr);
    EXPECT_EQ(pool->liveViewCount(), KRWebViewCache::MaximumLiveViews);
    EXPECT_NE(page2->scriptHost(), nullptr); // headless again, edits go on
    for (const auto &other : others)
        pool->viewReleased(&other);

    auto again = views.show(page2);
    ASSERT_TRUE(again) << again.error().message().toStdString();
    KRWebView *view2 = again.value()->webView();
    view2->resize(320, 640);
    view2->show();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return again.value()->isDesignDocumentLoaded(); }));
    EXPECT_EQ(page2->scriptHost(), static_cast<DOMScriptHost *>(view2));
    EXPECT_TRUE(js(*view2, QStringLiteral("typeof jQuery === 'function' && !!jQuery.mobile")).toBool());
    EXPECT_EQ(js(*view2, QStringLiteral("performance.getEntriesByType('resource').filter(function(e) {"
                                        " return e.name.indexOf('jquery.mobile-1.4.0.min.js') >= 0; }).length")).toInt(), 1);
    EXPECT_EQ(js(*view2, QStringLiteral("$('#page2').hasClass('ui-page-active')")).toBool(), true);
    const auto label = page2->objectForID(QStringLiteral("label1"));
    EXPECT_EQ(js(*view2, liveNode(label->domElement()) + QStringLiteral(".textContent")).toString(), QStringLiteral("Other page"));
    EXPECT_TRUE(isSetUp(*view2)) << state.toStdString();
    EXPECT_TRUE(view2->agentErrors().isEmpty()) << view2->agentErrors().join(QStringLiteral("; ")).toStdString();
    // The screenshot once the graph's drawing has reached the screen.
    const QVariantList box = js(*view2, QStringLiteral("(function(r) { return [r.left, r.top, r.width, r.height]; })(%1.getBoundingClientRect())")
                                            .arg(liveNode(graph->domElement())))
                                 .toList();
    ASSERT_EQ(box.size(), 4);
    const QRect graphArea(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt());
    QImage shot;
    const bool graphShown = KRTest::processEventsUntil([&] {
        shot = view2->grab().toImage();
        if (shot.isNull() || !shot.rect().contains(graphArea))
            return false;
        const QColor background = shot.pixelColor(graphArea.topLeft() - QPoint(1, 1));
        for (int y = graphArea.top(); y < graphArea.bottom(); y += 3)
            for (int x = graphArea.left(); x < graphArea.right(); x += 3)
                if (shot.pixelColor(x, y) != background)
                    return true;
        return false;
    });
    const QString path = artifactsDir() + QStringLiteral("/design-view-shown-again.png");
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
    EXPECT_TRUE(graphShown) << "the screenshot shows no graph: " << path.toStdString();
}

namespace {

// Pages shown live one at a time, the size of a phone's screen.
class KRPageStylesLive : public LivePageTest
{
protected:
    void show(const QString &pagesXML)
    {
        openPages(pagesXML);
        if (IsSkipped() || HasFatalFailure())
            return;
        auto made = KRPageDesignView::create(page);
        ASSERT_TRUE(made) << made.error().message().toStdString();
        live = std::move(made.value());
        view = live->webView();
        view->resize(320, 480);
        view->show();
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isDesignDocumentLoaded(); }, std::chrono::seconds(60)))
            << "jQuery Mobile did not load; agent errors: " << view->agentErrors().join(QStringLiteral("; ")).toStdString();
        ASSERT_TRUE(settle());
        document->undoManager().removeAllActions();
    }

    void TearDown() override
    {
        live.reset();
        project.reset();
    }

    bool settle() { return LivePageTest::settle(*live); }

    // Builds the project into the runtime server's folder and shows the page there.
    void showBuiltPage(QWebEngineView &built)
    {
        KRProjectBuilder builder(project);
        builder.setOutputDirectory(runtimeServerDocumentRoot());
        builder.setMinifier([](const QString &script) -> KRResult<QString> { return script; });
        const KRResult<QString> start = builder.build();
        ASSERT_TRUE(start) << start.error().message().toStdString();
        built.resize(view->size());
        built.show();
        built.load(QUrl(QStringLiteral("http://127.0.0.1:%1/page1.html").arg(runtimeServerPort())));
        ASSERT_TRUE(KRTest::processEventsUntil([&] {
            return js(built, QStringLiteral("!!window.jQuery && !!jQuery.mobile && $('#page1').hasClass('ui-page-active')")).toBool();
        }, std::chrono::seconds(30)));
    }

    // The computed style of the first element the selector finds: "color|font-family|font-size|font-weight".
    static QString textStyle(QWebEngineView &shown, const QString &selector)
    {
        return js(shown, QStringLiteral("(function(e) { if (!e) return 'missing'; var c = getComputedStyle(e);"
                                        " return [c.color, c.fontFamily, c.fontSize, c.fontWeight].join('|'); })"
                                        "(document.querySelector(%1))")
                             .arg(KRJavaScript::quotedString(selector)))
            .toString();
    }

    std::unique_ptr<KRPageDesignView> live;
    KRWebView *view = nullptr;
};

// What the themes give a widget's text that sets nothing of its own (theme "a").
const QString kThemeText = QStringLiteral("rgb(51, 51, 51)|sans-serif|16px|700");

} // namespace

// jQuery Mobile draws a widget's text with elements of its own, which its theme styles: the
// text properties set on the widget (in the inspector, or through its style class) reach them,
// in the design view and in the built page, and a widget that sets none keeps the theme's.
TEST_F(KRPageStylesLive, TextPropertiesOfJQueryMobileWidgetsShowInTheDesignViewAndTheBuiltPage)
{
    const QString red = QStringLiteral(" color=\"rgb(255, 0, 0)\" fontFamily=\"Courier New\" fontSize=\"21\" fontWeight=\"normal\"");
    show(QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                        "<KRStyleClass id=\"Calm\" color=\"rgb(0, 128, 0)\" fontSize=\"19\" borderWidth=\"1\"/>"
                        "<JQMButton id=\"button1\" top=\"10\" left=\"10\" width=\"150\" value=\"Red\"%1/>"
                        "<JQMButton id=\"plain\" top=\"70\" left=\"10\" width=\"150\" value=\"Plain\"/>"
                        "<JQMButton id=\"classy\" top=\"130\" left=\"10\" width=\"150\" value=\"Calm\" styleClass=\"Calm\"/>"
                        "<JQMSelect id=\"select1\" top=\"190\" left=\"10\" width=\"200\"%1>1|One</JQMSelect>"
                        "<JQMSlideToggle id=\"toggle1\" top=\"250\" left=\"10\"%1>Off\nOn</JQMSlideToggle>"
                        "<JQMCheckboxGroup id=\"check1\" top=\"300\" left=\"10\" label=\"Pick\"%1>a|A</JQMCheckboxGroup>"
                        "<JQMTextbox id=\"text1\" top=\"380\" left=\"10\" value=\"typed\"%1/>"
                        "<JQMListView id=\"list1\" top=\"420\" left=\"10\" width=\"200\" height=\"60\"%1>"
                        "[{\"label\":\"Item\"}]</JQMListView>"
                        "</KRContents></KRPage>").arg(red));
    if (IsSkipped() || HasFatalFailure())
        return;
    // A face named without a generic family falls back to the one of its kind where it is missing.
    const QString redText = QStringLiteral("rgb(255, 0, 0)|\"Courier New\", monospace|21px|400");
    // The visible element that carries each widget's text.
    const QStringList texts = {QStringLiteral("#page1_button1 .ui-btn"), QStringLiteral("#page1_select1 .ui-btn span"),
                               QStringLiteral("#page1_toggle1 .ui-slider-label"), QStringLiteral("#page1_check1 label.ui-btn"),
                               QStringLiteral("#page1_check1 legend"), QStringLiteral("#page1_text1 input"),
                               QStringLiteral("#page1_list1 a.ui-btn")};
    const auto expectShown = [&](QWebEngineView &shown, const char *where) {
        for (const QString &selector : texts)
            EXPECT_EQ(textStyle(shown, selector), redText) << where << ": " << selector.toStdString();
        EXPECT_EQ(textStyle(shown, QStringLiteral("#page1_plain .ui-btn")), kThemeText) << where;
        EXPECT_EQ(textStyle(shown, QStringLiteral("#page1_classy .ui-btn")), QStringLiteral("rgb(0, 128, 0)|sans-serif|19px|700")) << where;
    };
    expectShown(*view, "design view");

    // Set in the inspector: shown at once, and gone again with undo.
    const auto plain = page->objectForID(QStringLiteral("plain"));
    plain->setValue(QStringLiteral("kr_color"), QStringLiteral("rgb(0, 0, 255)"));
    plain->setValue(QStringLiteral("kr_fontFamily"), QStringLiteral("Georgia"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_plain .ui-btn")), QStringLiteral("rgb(0, 0, 255)|Georgia, serif|16px|700"));
    document->undoManager().undo();
    ASSERT_TRUE(settle());
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_plain .ui-btn")), kThemeText);

    QWebEngineView built;
    showBuiltPage(built);
    if (HasFatalFailure())
        return;
    expectShown(built, "built page");
    const QImage shot = view->grab().toImage();
    EXPECT_TRUE(shot.save(artifactsDir() + QStringLiteral("/widget-text-styles.png")));
}

// The style classes of a page show on the surface: those the page loads with and one made
// while the page is shown, on a plain control and on a jQuery Mobile widget.
TEST_F(KRPageStylesLive, StyleClassesShowInTheDesignView)
{
    show(QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                        "<KRStyleClass id=\"Loud\" color=\"rgb(0, 128, 0)\" fontSize=\"31\"/>"
                        "<KRLabel id=\"label1\" top=\"10\" left=\"10\" width=\"200\" height=\"40\" styleClass=\"Loud\">Loud</KRLabel>"
                        "<KRLabel id=\"label2\" top=\"60\" left=\"10\" width=\"200\" height=\"40\">Later</KRLabel>"
                        "<JQMButton id=\"button1\" top=\"110\" left=\"10\" width=\"200\" value=\"Loud\" styleClass=\"Loud\"/>"
                        "</KRContents></KRPage>"));
    if (IsSkipped() || HasFatalFailure())
        return;
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_label1")), QStringLiteral("rgb(0, 128, 0)|sans-serif|31px|400"));
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_button1 .ui-btn")), QStringLiteral("rgb(0, 128, 0)|sans-serif|31px|700"));

    // A class dropped on the page, given a colour, then assigned; then its colour changed.
    const auto made = page->createNewObject(QStringLiteral("KRStyleClass"), 0, 0, QString());
    ASSERT_TRUE(made);
    made->setValue(QStringLiteral("kr_color"), QStringLiteral("rgb(0, 0, 255)"));
    page->objectForID(QStringLiteral("label2"))->setValue(QStringLiteral("kr_styleClass"), made->kr_id());
    ASSERT_TRUE(settle());
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_label2")), QStringLiteral("rgb(0, 0, 255)|sans-serif|16px|400"));
    made->setValue(QStringLiteral("kr_color"), QStringLiteral("rgb(128, 0, 128)"));
    page->objectForID(QStringLiteral("Loud"))->setValue(QStringLiteral("kr_fontSize"), QStringLiteral("25"));
    ASSERT_TRUE(settle());
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_label2")), QStringLiteral("rgb(128, 0, 128)|sans-serif|16px|400"));
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_label1")), QStringLiteral("rgb(0, 128, 0)|sans-serif|25px|400"));
    EXPECT_EQ(textStyle(*view, QStringLiteral("#page1_button1 .ui-btn")), QStringLiteral("rgb(0, 128, 0)|sans-serif|25px|700"));
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

// A page loaded with its fixed bars fills the screen, as a page does that gets them later:
// jQuery Mobile sizes the page while the bars pad it, and the design view takes the padding
// away.
TEST_F(KRPageStylesLive, APageWithFixedBarsFillsTheScreen)
{
    show(QStringLiteral("<KRPage id=\"page1\" backgroundGradient=\"top, #fff, #369\"><KRContents>"
                        "<JQMHeaderToolbar id=\"header1\" title=\"Top\" position=\"fixed\"/>"
                        "<KRLabel id=\"label1\" top=\"60\" left=\"10\" width=\"100\" height=\"24\">Hello</KRLabel>"
                        "</KRContents></KRPage>"));
    if (IsSkipped() || HasFatalFailure())
        return;
    const QString extent = QStringLiteral("(function(p) { var r = p.getBoundingClientRect(); return [r.top, r.bottom, window.innerHeight].join(','); })"
                                          "(document.getElementById('page1'))");
    EXPECT_EQ(js(*view, extent).toString(), QStringLiteral("0,480,480"));
    // The device changes: the page follows the screen.
    view->resize(320, 568);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return js(*view, extent).toString() == QStringLiteral("0,568,568"); }))
        << js(*view, extent).toString().toStdString();
}

// Every jQuery Mobile widget of the palette, dropped on a page and rebuilt twice (a new
// theme): each is drawn once, not once more with every rebuild, and keeps the size it had after
// the drop. jQuery Mobile puts parts of some widgets beside the enhanced element rather than
// around it (a flip switch's track after its select); those go with the element they belong to.
TEST_F(KRPageStylesLive, EveryJQueryMobileWidgetIsDrawnOnceAndKeepsItsSizeWhenRebuilt)
{
    show(QStringLiteral("<KRPage id=\"page1\"><KRContents/></KRPage>"));
    if (IsSkipped() || HasFatalFailure())
        return;
    // The palette's widget classes, with the element jQuery Mobile makes as each one's root
    // (the simple pop-up has nothing on the page until the built page opens it).
    struct Widget {
        const char *className;
        const char *root; // a selector, inside the control's element
    };
    const Widget widgets[] = {
        {"JQMButton", ".ui-btn"},
        {"JQMTextbox", ".ui-input-text"},
        {"JQMTextArea", ".ui-input-text"},
        {"JQMSlider", ".ui-slider-track"},
        {"JQMSlideToggle", "div.ui-slider-switch"},
        {"JQMCheckboxGroup", ".ui-controlgroup"},
        {"JQMRadioButtonGroup", ".ui-controlgroup"},
        {"JQMSelect", ".ui-select"},
        {"JQMListView", ".ui-listview"},
        {"JQMHeaderToolbar", ".ui-title"},
        {"JQMFooterToolbar", ".ui-title"},
    };
    struct Made {
        QString className;
        QString root;
        std::shared_ptr<KRObject> object;
        QString height;
        int drawnHeight = 0;
        int elements = 0;
    };
    std::vector<Made> made;
    int y = 60;
    for (const Widget &widget : widgets) {
        const QString className = QString::fromLatin1(widget.className);
        // As a drop does: the creation and its size check in one step.
        document->undoManager().beginUndoGrouping();
        const auto object = page->createNewObject(className, 10, y, QString());
        document->undoManager().endUndoGrouping();
        ASSERT_TRUE(object) << widget.className;
        made.push_back({className, QString::fromLatin1(widget.root), object});
        y += 70;
    }
    const auto settled = [&] {
        // The rebuilds that a new id queues run first.
        QCoreApplication::processEvents();
        return settle();
    };
    ASSERT_TRUE(settled());

    const auto count = [&](const Made &m, const QString &selector) {
        return js(*view, QStringLiteral("%1.querySelectorAll(%2).length")
                             .arg(liveNode(m.object->domElement()), KRJavaScript::quotedString(selector)))
            .toInt();
    };
    const QString allElements = QStringLiteral("document.getElementsByTagName('*').length");
    for (Made &m : made) {
        EXPECT_EQ(count(m, m.root), 1) << m.className.toStdString() << " after the drop";
        m.height = m.object->value(QStringLiteral("kr_height"));
        m.drawnHeight = js(*view, liveNode(m.object->domElement()) + QStringLiteral(".offsetHeight")).toInt();
        m.elements = count(m, QStringLiteral("*"));
    }
    const auto toggle = std::find_if(made.begin(), made.end(), [](const Made &m) { return m.className == QLatin1String("JQMSlideToggle"); });
    EXPECT_EQ(toggle->height, QStringLiteral("42")) << "the flip toggle's default height";
    const int pageElements = js(*view, allElements).toInt();

    for (const QString &theme : {QStringLiteral("b"), QStringLiteral("a")}) {
        for (Made &m : made)
            m.object->setValue(QStringLiteral("kr_theme"), theme);
        ASSERT_TRUE(settled());
        for (const Made &m : made) {
            const std::string what = m.className.toStdString() + " rebuilt in theme " + theme.toStdString();
            EXPECT_EQ(count(m, m.root), 1) << what;
            EXPECT_EQ(count(m, QStringLiteral("*")), m.elements) << what;
            EXPECT_EQ(m.object->value(QStringLiteral("kr_height")), m.height) << what;
            EXPECT_EQ(js(*view, liveNode(m.object->domElement()) + QStringLiteral(".offsetHeight")).toInt(), m.drawnHeight)
                << what;
        }
        EXPECT_EQ(js(*view, allElements).toInt(), pageElements) << "the page rebuilt in theme " << theme.toStdString();
    }
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
}

// What the design view draws of each jQuery Mobile widget is what the built page draws, after
// its properties change (a rebuild in another theme or shape, a filter switched on), after a
// paste and after the design device changes: a list's filter field and its items below it, a
// button's face filling the box the user sized, which is also the box that takes the clicks,
// and a text area as tall as the built page makes it, which is the height its size check keeps.
TEST_F(KRPageStylesLive, EachWidgetIsDrawnAsTheBuiltPageDrawsItAfterEveryChange)
{
    show(QStringLiteral("<KRPage id=\"page1\"><KRContents>"
                        "<JQMListView id=\"filtered\" top=\"10\" left=\"0\" width=\"100%\" height=\"150\" filter=\"true\">"
                        "[{\"label\":\"Apple\"},{\"label\":\"Pear\"}]</JQMListView>"
                        "<JQMListView id=\"plain\" top=\"170\" left=\"0\" width=\"100%\" height=\"150\">"
                        "[{\"label\":\"Plum\"},{\"label\":\"Fig\"}]</JQMListView>"
                        "<JQMButton id=\"button1\" top=\"330\" left=\"10\" width=\"190\" height=\"90\" value=\"Big\"/>"
                        "<JQMTextArea id=\"area1\" top=\"430\" left=\"10\" width=\"200\" height=\"32\" value=\"Some words\"/>"
                        "<JQMSlideToggle id=\"toggle1\" top=\"520\" left=\"10\">Off\nOn</JQMSlideToggle>"
                        "</KRContents></KRPage>"));
    if (IsSkipped() || HasFatalFailure())
        return;
    // A list rebuilt twice (a theme, an inset), a list that starts to filter, a text area pasted.
    const auto filtered = page->objectForID(QStringLiteral("filtered"));
    filtered->setValue(QStringLiteral("kr_theme"), QStringLiteral("b"));
    ASSERT_TRUE(settle());
    filtered->setValue(QStringLiteral("kr_inset"), QStringLiteral("true"));
    page->objectForID(QStringLiteral("plain"))->setValue(QStringLiteral("kr_filter"), QStringLiteral("true"));
    page->pasteboardCopyObjects({page->objectForID(QStringLiteral("area1"))});
    const auto pasted = page->pasteObjects();
    ASSERT_EQ(pasted.size(), 1);
    pasted.first()->setValue(QStringLiteral("kr_top"), QStringLiteral("470"));
    ASSERT_TRUE(settle());
    // Another device: a wider screen.
    project->setDesignTarget(QStringLiteral("iPhone6"));
    view->resize(375, 667);
    ASSERT_TRUE(settle());

    // Each control's drawn parts, as boxes relative to its element's corner.
    const QString pastedID = QStringLiteral("page1_") + pasted.first()->kr_id();
    const QString drawing = QStringLiteral(
        "(function() { var parts = {page1_filtered: 'form, .ui-input-search, ul, li', page1_plain: 'form, .ui-input-search, ul, li',"
        " page1_button1: '.ui-btn', page1_area1: 'textarea', %1: 'textarea', page1_toggle1: '.ui-slider-track'};"
        " return Object.keys(parts).map(function(id) { var e = document.getElementById(id); if (!e) return id + ' missing';"
        " var o = e.getBoundingClientRect();"
        " return id + ': ' + $(e).find(parts[id]).map(function() {"
        "  var r = this.getBoundingClientRect(); return this.tagName.toLowerCase() + '@' + [r.left - o.left, r.top - o.top, r.width, r.height]"
        "  .map(Math.round).join(','); }).get().join(' '); }).join('\\n'); })()")
                                .arg(KRJavaScript::quotedString(pastedID));
    QWebEngineView built;
    showBuiltPage(built);
    if (HasFatalFailure())
        return;
    QString inBuilt, inDesign;
    // Text areas take their height a moment after they show.
    KRTest::processEventsUntil([&] {
        inBuilt = js(built, drawing).toString();
        inDesign = js(*view, drawing).toString();
        return inDesign == inBuilt;
    });
    EXPECT_EQ(inDesign, inBuilt);
    EXPECT_EQ(js(*view, QStringLiteral("$('#page1_filtered .ui-input-search').length + ',' + $('#page1_plain .ui-input-search').length"))
                  .toString(),
              QStringLiteral("1,1"))
        << "each filtering list shows one filter field";
    // The button's face is the box the user gave it, in both.
    const QString face = QStringLiteral("(function() { var o = document.getElementById('page1_button1').getBoundingClientRect();"
                                        " var f = $('#page1_button1 .ui-btn')[0].getBoundingClientRect();"
                                        " return [f.left - o.left, f.top - o.top, f.width, f.height].map(Math.round).join(','); })()");
    EXPECT_EQ(js(*view, face).toString(), QStringLiteral("0,0,190,90"));
    EXPECT_EQ(js(built, face).toString(), QStringLiteral("0,0,190,90"));
    // The pasted text area's size check measured it at the height the built page draws it.
    const QString extent = QStringLiteral("(function(e) { return Math.round(e.querySelector('textarea').getBoundingClientRect().bottom"
                                          " - e.getBoundingClientRect().top); })(document.getElementById(%1))")
                               .arg(KRJavaScript::quotedString(pastedID));
    EXPECT_EQ(pasted.first()->value(QStringLiteral("kr_height")).toInt(), js(built, extent).toInt());
    EXPECT_TRUE(view->agentErrors().isEmpty()) << view->agentErrors().join(QStringLiteral("; ")).toStdString();
    EXPECT_TRUE(view->grab().toImage().save(artifactsDir() + QStringLiteral("/widgets-after-changes-design.png")));
    EXPECT_TRUE(built.grab().toImage().save(artifactsDir() + QStringLiteral("/widgets-after-changes-built.png")));
}

// A project opened before the runtime server answers (at launch, the server still starting):
// its page's view waits for the server instead of asking it for the libraries; libraries asked
// of a port nothing listens on yet fail and are asked again a few times, then once the server
// starts; the page then loads with its controls set up, and pages made later load at once.
class KRPageDesignViewLateServer : public LivePageTest
{
protected:
    void TearDown() override
    {
        views.clear();
        project.reset();
        KRLocalServerPort::setProvider(previousProvider);
    }

    qint64 answer = -1; // what the port provider answers
    KRLocalServerPort::Provider previousProvider = KRLocalServerPort::setProvider([this] { return answer; });
    std::vector<std::unique_ptr<KRPageDesignView>> views;
};

TEST_F(KRPageDesignViewLateServer, APageShownBeforeTheServerAnswersLoadsOnceItDoes)
{
    openPages(kPage);
    if (IsSkipped() || HasFatalFailure())
        return;
    int failures = 0;
    const KRObservationToken failed = KRNotificationCenter::defaultCenter().addObserver(
        KRPageLibraryDidFailToLoadNotification, page->identity(), [&](const KRNotification &) { ++failures; });
    const auto show = [&](const std::shared_ptr<KRPage> &shown) -> KRPageDesignView * {
        auto made = KRPageDesignView::create(shown);
        EXPECT_TRUE(made) << made.error().message().toStdString();
        if (!made)
            return nullptr;
        views.push_back(std::move(made.value()));
        views.back()->webView()->resize(320, 420);
        views.back()->webView()->show();
        return views.back().get();
    };

    KRPageDesignView *live = show(page);
    ASSERT_NE(live, nullptr);
    EXPECT_TRUE(live->isWaitingForServer());
    EXPECT_EQ(live->webView()->attachedDocument(), nullptr) << "nothing could load its libraries";

    // A port is known before the server listens there.
    QTcpServer reserved;
    ASSERT_TRUE(reserved.listen(QHostAddress::LocalHost));
    answer = reserved.serverPort();
    reserved.close();
    KRLocalServerPort::serverDidStart(answer);
    EXPECT_EQ(live->webView()->attachedDocument(), page->domDocument());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isWaitingForServer(); }, std::chrono::seconds(30)));
    EXPECT_EQ(failures, 1 + KRPageDesignView::MaximumQuickReloads);
    EXPECT_FALSE(live->isDesignDocumentLoaded());

    // The server answers.
    answer = runtimeServerPort();
    KRLocalServerPort::serverDidStart(answer);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return live->isDesignDocumentLoaded(); }, std::chrono::seconds(60)))
        << "agent errors: " << live->webView()->agentErrors().join(QStringLiteral("; ")).toStdString();
    KRWebView &view = *live->webView();
    EXPECT_TRUE(js(view, QStringLiteral("typeof jQuery === 'function' && !!jQuery.mobile")).toBool());
    EXPECT_TRUE(KRTest::processEventsUntil([&] {
        return js(view, QStringLiteral("$('#_page1_button1_inp').closest('.ui-btn').length")).toInt() == 1;
    })) << "the controls are set up";
    EXPECT_TRUE(js(view, QStringLiteral("$('script[src]').first().attr('src')"))
                    .toString()
                    .startsWith(QStringLiteral("http://127.0.0.1:%1/").arg(answer)));

    // Pages made from now on load at once.
    KRPageDesignView *later = show(project->createNewPage());
    ASSERT_NE(later, nullptr);
    EXPECT_FALSE(later->isWaitingForServer());
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return later->isDesignDocumentLoaded(); }, std::chrono::seconds(60)));
    EXPECT_EQ(failures, 1 + KRPageDesignView::MaximumQuickReloads);
}

// Without a view factory (a headless program) a project has no design views to give.
TEST(KRPageDesignViewHeadless, APageOfAProjectWithoutViewsCannotBeShown)
{
    const auto previous = KRProject::setWebViewFactory(nullptr);
    std::shared_ptr<KRDocument> document;
    const auto project = openProject(projectXML(kPage), document);
    ASSERT_TRUE(project);
    auto made = KRPageDesignView::create(project->pageForID(QStringLiteral("page1")));
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().code(), KRWebViewCache::NoViews);
    KRProject::setWebViewFactory(previous);
}

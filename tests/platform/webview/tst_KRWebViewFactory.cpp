// The pool of pre-loaded design views filled with real design views: counts, hand-out order,
// the base address and the bounded wait for a view whose web engine never brings up a document.
#include "WebViewTestSupport.h"

#include <model/KRWebViewCache.h>
#include <platform/webview/KRWebViewFactory.h>

#include <QAccessible>
#include <QDir>
#include <QTimer>

using namespace KRWebTest;

namespace {

// A design view whose renderer never brings up a document: nothing is loaded at all.
class InertWebView : public KRWebView
{
public:
    void loadHTMLString(const QString &, const QUrl &) override {}
};

// Names every view it makes ("view-1", "view-2", ...) so that tests can follow them.
struct CountingFactory : KRWebViewFactory {
    int made = 0;
    bool loads = true;
    std::unique_ptr<KRWebViewCacheView> createWebView(const QRect &frame) override
    {
        std::unique_ptr<KRWebView> view;
        if (loads) {
            view = KRWebViewFactory::webView(KRWebViewFactory::createWebView(frame));
        } else {
            view = std::make_unique<InertWebView>();
        }
        view->setObjectName(QStringLiteral("view-%1").arg(++made));
        return view;
    }
};

// The design view a request handed out (null when it failed).
std::unique_ptr<KRWebView> take(KRResult<std::unique_ptr<KRWebViewCacheView>> &&result)
{
    return result.ok() ? KRWebViewFactory::webView(std::move(result).value()) : nullptr;
}

} // namespace

TEST(KRWebViewFactory, ANewPoolHoldsFiveLoadedViewsBeforeAnyoneAsks)
{
    const QUrl web = QUrl::fromLocalFile(KRTest::makeTempDir(QStringLiteral("kr-web")) + QStringLiteral("/"));
    auto factory = std::make_shared<CountingFactory>();
    KRWebViewCache cache(factory, [&] { return web; });
    EXPECT_EQ(cache.cachedInstanceCount(), 5);
    EXPECT_EQ(cache.pooledViewCount(), 5);
    EXPECT_EQ(factory->made, 5);

    auto result = cache.newWebView();
    ASSERT_TRUE(result.ok()) << result.error().toString().toStdString();
    auto view = take(std::move(result));
    EXPECT_EQ(view->objectName(), QStringLiteral("view-1"));
    EXPECT_TRUE(view->isReady());
    EXPECT_EQ(view->baseURL(), web);
    // The document of a pooled view has the web folder as its address, and no doctype.
    EXPECT_EQ(js(*view, QStringLiteral("document.compatMode")).toString(), QStringLiteral("BackCompat"));
    EXPECT_EQ(js(*view, QStringLiteral("document.baseURI")).toString(), web.toString());
    // Topped up before the hand-out, not after: four remain until the next request.
    EXPECT_EQ(cache.pooledViewCount(), 4);
    EXPECT_EQ(factory->made, 5);
    auto next = take(cache.newWebView());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->objectName(), QStringLiteral("view-2"));
    EXPECT_EQ(factory->made, 6);
}

TEST(KRWebViewFactory, AViewTellsWhenItHasItsDocument)
{
    // The pool's wait ends when a view tells of a change: a view must tell when it becomes
    // ready to hand out, not only at some earlier or later change.
    KRWebViewFactory factory;
    auto view = KRWebViewFactory::webView(factory.createWebView(KRWebViewCache::ViewFrame));
    ASSERT_TRUE(view);
    int told = 0;
    bool toldReady = false;
    view->setStateObserver([&] {
        ++told;
        toldReady = toldReady || (!view->isLoading() && view->hasDocument());
    });
    view->loadHTMLString(QString(), QUrl());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return toldReady; })) << told << " changes told";
    view->setStateObserver({});
    const int before = told;
    view->loadHTMLString(QString(), QUrl());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return view->isReady(); }));
    EXPECT_EQ(told, before);
}

TEST(KRWebViewFactory, TargetFollowsThePagesAndViewsComeOldestFirst)
{
    auto factory = std::make_shared<CountingFactory>();
    KRWebViewCache cache(factory, [] { return QUrl(); });
    // A project opening three pages adds one per page: a target of eight, but five spares.
    cache.setCachedInstanceCount(cache.cachedInstanceCount() + 3);
    EXPECT_EQ(cache.pooledViewCount(), 5);
    std::vector<std::unique_ptr<KRWebView>> pages;
    for (int i = 0; i < 3; ++i) {
        auto view = cache.newWebView();
        ASSERT_TRUE(view.ok()) << view.error().toString().toStdString();
        pages.push_back(take(std::move(view)));
        // Topped up to the five spares before each hand-out, never to the target.
        EXPECT_EQ(cache.pooledViewCount(), KRWebViewCache::MaximumPooledViews - 1);
    }
    EXPECT_EQ(pages[0]->objectName(), QStringLiteral("view-1"));
    EXPECT_EQ(pages[1]->objectName(), QStringLiteral("view-2"));
    EXPECT_EQ(pages[2]->objectName(), QStringLiteral("view-3"));
    EXPECT_NE(pages[0].get(), pages[1].get());

    // Deleting a page lowers the target but removes no view.
    cache.setCachedInstanceCount(cache.cachedInstanceCount() - 1);
    cache.fillCache();
    EXPECT_EQ(cache.cachedInstanceCount(), 7);
    EXPECT_EQ(cache.pooledViewCount(), KRWebViewCache::MaximumPooledViews);

    // Without a web folder the views are based on the application's resources.
    const QUrl resources = QUrl::fromLocalFile(QDir(KRResources::resourcesDirectory()).absolutePath() + QStringLiteral("/"));
    EXPECT_EQ(pages[0]->baseURL(), resources);
}

TEST(KRWebViewFactory, AViewThatNeverLoadsFailsTheRequestInsteadOfHanging)
{
    auto factory = std::make_shared<CountingFactory>();
    factory->loads = false;
    KRWebViewCache cache(factory, [] { return QUrl(); });
    cache.setLoadTimeout(std::chrono::milliseconds(600));
    auto failed = cache.newWebView();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().domain(), QStringLiteral("KRWebViewCache"));
    EXPECT_EQ(failed.error().code(), KRWebViewCache::LoadTimedOut);
    EXPECT_FALSE(failed.error().message().isEmpty());
    // The broken view is gone from the pool; the pool was topped up before the hand-out.
    EXPECT_EQ(cache.pooledViewCount(), 4);

    // The four broken views left fail in turn; the views made since then load.
    factory->loads = true;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(cache.newWebView().ok());
    cache.setLoadTimeout(KRWebViewCache::DefaultLoadTimeout);
    auto ok = cache.newWebView();
    ASSERT_TRUE(ok.ok()) << ok.error().toString().toStdString();
    EXPECT_TRUE(take(std::move(ok))->isReady());
}

TEST(KRWebViewFactory, AViewWaitedForReentrantlyIsNotHandedOutTwice)
{
    auto factory = std::make_shared<CountingFactory>();
    KRWebViewCache cache(factory, [] { return QUrl(); });
    std::unique_ptr<KRWebView> inner;
    // A request made from inside the wait of another (the event loop runs while waiting).
    bool asked = false;
    QTimer::singleShot(0, [&] {
        asked = true;
        auto v = cache.newWebView();
        if (v.ok())
            inner = take(std::move(v));
    });
    auto outer = take(cache.newWebView());
    ASSERT_TRUE(outer);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return inner != nullptr; }));
    EXPECT_TRUE(asked);
    EXPECT_NE(outer.get(), inner.get());
    EXPECT_NE(outer->objectName(), inner->objectName());
}

namespace {

// The engine describes its documents to assistive tools as it does when one listens (a
// screen reader running); set before the engine starts, in the test's main.
const bool g_describedToTools = [] {
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --force-renderer-accessibility");
    return true;
}();

// The rectangle that assistive tools are told for the view's document (empty when it has none).
QRect accessibleDocumentRect(QWidget *view)
{
    std::vector<QAccessibleInterface *> pending{QAccessible::queryAccessibleInterface(view)};
    while (!pending.empty()) {
        QAccessibleInterface *node = pending.back();
        pending.pop_back();
        if (!node)
            continue;
        if (node->role() == QAccessible::WebDocument)
            return node->rect();
        for (int i = 0; i < node->childCount(); ++i)
            pending.push_back(node->child(i));
    }
    return {};
}

} // namespace

TEST(KRWebViewFactory, WhileAssistiveToolsListenAViewComesWithItsDocumentLaidOut)
{
    // A tool asks what a document offers once, as soon as it sees it (its window opening), and
    // keeps the answer: a document not laid out yet has no place on the screen, for good. The
    // first view of a new pool is the one a project's first page gets as its window opens.
    for (int pool = 0; pool < 3; ++pool) {
        auto factory = std::make_shared<CountingFactory>();
        KRWebViewCache cache(factory, [] { return QUrl(); });
        auto view = take(cache.newWebView());
        ASSERT_TRUE(view);
        EXPECT_FALSE(accessibleDocumentRect(view.get()).isEmpty()) << "pool " << pool;
        // Handed out hidden, to be shown on a surface.
        EXPECT_FALSE(view->isVisible());
    }
}

// The pool of pre-loaded design views: counts, hand-out order, the base address and the
// bounded wait for a view whose web engine never brings up a document.
#include "WebViewTestSupport.h"

#include <platform/webview/KRWebViewCache.h>

#include <QDir>
#include <QTimer>

using namespace KRWebTest;

namespace {

// Names every view it makes ("view-1", "view-2", ...) so that tests can follow them.
struct CountingFactory {
    int made = 0;
    bool loads = true;
    std::unique_ptr<KRWebView> operator()(const QUrl &baseURL)
    {
        std::unique_ptr<KRWebView> view;
        if (loads) {
            view = KRWebViewCache::makeView(baseURL);
        } else {
            // A view whose renderer never brings up a document: nothing is loaded at all.
            view = std::make_unique<KRWebView>();
        }
        view->setObjectName(QStringLiteral("view-%1").arg(++made));
        return view;
    }
};

} // namespace

TEST(KRWebViewCache, ANewPoolHoldsFiveLoadedViewsBeforeAnyoneAsks)
{
    const QUrl web = QUrl::fromLocalFile(KRTest::makeTempDir(QStringLiteral("kr-web")) + QStringLiteral("/"));
    CountingFactory factory;
    KRWebViewCache cache([&] { return web; }, std::ref(factory));
    EXPECT_EQ(cache.cachedInstanceCount(), 5);
    EXPECT_EQ(cache.count(), 5);
    EXPECT_EQ(factory.made, 5);

    auto view = cache.newWebView();
    ASSERT_TRUE(view.ok()) << view.error().toString().toStdString();
    EXPECT_EQ(view.value()->objectName(), QStringLiteral("view-1"));
    EXPECT_TRUE(view.value()->isReady());
    EXPECT_EQ(view.value()->baseURL(), web);
    // The document of a pooled view has the web folder as its address, and no doctype.
    EXPECT_EQ(js(*view.value(), QStringLiteral("document.compatMode")).toString(), QStringLiteral("BackCompat"));
    EXPECT_EQ(js(*view.value(), QStringLiteral("document.baseURI")).toString(), web.toString());
    // Topped up before the hand-out, not after: four remain until the next request.
    EXPECT_EQ(cache.count(), 4);
    EXPECT_EQ(factory.made, 5);
    auto next = cache.newWebView();
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(next.value()->objectName(), QStringLiteral("view-2"));
    EXPECT_EQ(factory.made, 6);
}

TEST(KRWebViewCache, TargetFollowsThePagesAndViewsComeOldestFirst)
{
    CountingFactory factory;
    KRWebViewCache cache([] { return QUrl(); }, std::ref(factory));
    // A project opening three pages adds one per page: eight, filled on the next request.
    cache.setCachedInstanceCount(cache.cachedInstanceCount() + 3);
    EXPECT_EQ(cache.count(), 5);
    std::vector<std::unique_ptr<KRWebView>> pages;
    for (int i = 0; i < 3; ++i) {
        auto view = cache.newWebView();
        ASSERT_TRUE(view.ok()) << view.error().toString().toStdString();
        pages.push_back(std::move(view).value());
        EXPECT_EQ(cache.count(), 7);
    }
    EXPECT_EQ(pages[0]->objectName(), QStringLiteral("view-1"));
    EXPECT_EQ(pages[1]->objectName(), QStringLiteral("view-2"));
    EXPECT_EQ(pages[2]->objectName(), QStringLiteral("view-3"));
    EXPECT_NE(pages[0].get(), pages[1].get());

    // Deleting a page lowers the target but removes no view.
    cache.setCachedInstanceCount(cache.cachedInstanceCount() - 1);
    cache.fillCache();
    EXPECT_EQ(cache.cachedInstanceCount(), 7);
    EXPECT_EQ(cache.count(), 7);

    // Without a web folder the views are based on the application's resources.
    const QUrl resources = QUrl::fromLocalFile(QDir(KRResources::resourcesDirectory()).absolutePath() + QStringLiteral("/"));
    EXPECT_EQ(pages[0]->baseURL(), resources);
}

TEST(KRWebViewCache, AViewThatNeverLoadsFailsTheRequestInsteadOfHanging)
{
    CountingFactory factory;
    factory.loads = false;
    KRWebViewCache cache([] { return QUrl(); }, std::ref(factory));
    cache.setWaitLimit(std::chrono::milliseconds(600));
    auto failed = cache.newWebView();
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().domain(), QStringLiteral("KRWebViewCache"));
    EXPECT_EQ(failed.error().code(), 1);
    EXPECT_FALSE(failed.error().message().isEmpty());
    // The broken view is gone from the pool; the pool was topped up before the hand-out.
    EXPECT_EQ(cache.count(), 4);

    // The four broken views left fail in turn; the views made since then load.
    factory.loads = true;
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(cache.newWebView().ok());
    cache.setWaitLimit(KRWebViewCache::DefaultWaitLimit);
    auto ok = cache.newWebView();
    ASSERT_TRUE(ok.ok()) << ok.error().toString().toStdString();
    EXPECT_TRUE(ok.value()->isReady());
}

TEST(KRWebViewCache, AViewWaitedForReentrantlyIsNotHandedOutTwice)
{
    CountingFactory factory;
    KRWebViewCache cache([] { return QUrl(); }, std::ref(factory));
    std::unique_ptr<KRWebView> inner;
    // A request made from inside the wait of another (the event loop runs while waiting).
    bool asked = false;
    QTimer::singleShot(0, [&] {
        asked = true;
        auto v = cache.newWebView();
        if (v.ok())
            inner = std::move(v).value();
    });
    auto outer = cache.newWebView();
    ASSERT_TRUE(outer.ok());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return inner != nullptr; }, std::chrono::seconds(30)));
    EXPECT_TRUE(asked);
    EXPECT_NE(outer.value().get(), inner.get());
    EXPECT_NE(outer.value()->objectName(), inner->objectName());
}

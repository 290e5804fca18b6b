#include <model/KRWebViewCache.h>
#include <platform/foundation/KRResources.h>

#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <map>
#include <ostream>
#include <set>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

struct ViewLog
{
    int created = 0;
    int alive = 0;
    int peakAlive = 0;
    QList<QUrl> loadedWith;
    QList<QRect> frames;
};

class FakeView : public KRWebViewCacheView
{
public:
    enum class Loading { AtOnce, OnEventLoop, Never };

    FakeView(int serial, Loading loading, ViewLog &log) : serial(serial), m_loading(loading), m_log(log)
    {
        m_log.peakAlive = std::max(m_log.peakAlive, ++m_log.alive);
    }

    void loadHTMLString(const QString &html, const QUrl &baseURL) override
    {
        EXPECT_EQ(html, QString());
        m_log.loadedWith.append(baseURL);
        m_isLoading = true;
        if (m_loading == Loading::AtOnce)
            finish();
        else if (m_loading == Loading::OnEventLoop)
            QTimer::singleShot(0, [this, alive = m_alive] {
                if (*alive)
                    finish();
            });
    }
    bool isLoading() const override { return m_isLoading; }
    bool hasDocument() const override { return m_hasDocument; }
    bool hasFailed() const override { return failed; }
    void setStateObserver(std::function<void()> changed) override
    {
        if (tells)
            m_observer = std::move(changed);
    }
    ~FakeView() override
    {
        *m_alive = false;
        --m_log.alive;
    }

    const int serial;
    bool failed = false;
    bool tells = true; // tells its observer when it has its document

private:
    void finish()
    {
        m_isLoading = false;
        m_hasDocument = true;
        if (m_observer)
            m_observer();
    }
    Loading m_loading;
    ViewLog &m_log;
    bool m_isLoading = false;
    bool m_hasDocument = false;
    std::function<void()> m_observer;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

class FakeFactory : public KRWebViewCacheViewFactory
{
public:
    std::unique_ptr<KRWebViewCacheView> createWebView(const QRect &frame) override
    {
        log.frames.append(frame);
        auto view = std::make_unique<FakeView>(++log.created, loading, log);
        views.push_back(view.get());
        return view;
    }
    std::vector<FakeView *> views; // every view made, in order; not owned
    FakeView::Loading loading = FakeView::Loading::AtOnce;
    ViewLog log;
};

int serialOf(const KRResult<std::unique_ptr<KRWebViewCacheView>> &view)
{
    return view.ok() ? static_cast<const FakeView &>(*view.value()).serial : -1;
}

const QUrl webFolder = QUrl::fromLocalFile(QStringLiteral("/projects/A.krproj/kr-web/"));

TEST(WebViewCache, NewPoolHoldsFiveLoadedViews)
{
    auto factory = std::make_shared<FakeFactory>();
    KRWebViewCache cache(factory, [] { return webFolder; });
    EXPECT_EQ(cache.cachedInstanceCount(), 5);
    EXPECT_EQ(cache.pooledViewCount(), 5);
    EXPECT_EQ(factory->log.created, 5);
    EXPECT_EQ(factory->log.loadedWith, QList<QUrl>(5, webFolder));
    EXPECT_EQ(factory->log.frames.value(0), QRect(0, 0, 320, 420));
}

TEST(WebViewCache, HandsOutOldestFirstAndTopsUpBeforeEachRequest)
{
    auto factory = std::make_shared<FakeFactory>();
    KRWebViewCache cache(factory, [] { return webFolder; });
    // A project opening with three pages: the target grows by one per page.
    std::vector<std::unique_ptr<KRWebViewCacheView>> pages;
    for (int page = 0; page < 3; ++page) {
        cache.setCachedInstanceCount(cache.cachedInstanceCount() + 1);
        auto view = cache.newWebView();
        EXPECT_EQ(serialOf(view), page + 1);
        pages.push_back(std::move(view).value());
    }
    EXPECT_EQ(cache.cachedInstanceCount(), 8);
    // Before each hand-out the pool was topped up to its five spares, never to the target:
    // 5 + 1 + 1 views made.
    EXPECT_EQ(factory->log.created, 7);
    EXPECT_EQ(cache.pooledViewCount(), 4);
    // Setting the target alone does not fill; filling stops at five spares.
    cache.setCachedInstanceCount(10);
    EXPECT_EQ(cache.pooledViewCount(), 4);
    cache.fillCache();
    EXPECT_EQ(cache.pooledViewCount(), KRWebViewCache::MaximumPooledViews);
}

TEST(WebViewCache, LoweringTheTargetRemovesNoView)
{
    auto factory = std::make_shared<FakeFactory>();
    KRWebViewCache cache(factory, [] { return webFolder; });
    cache.setCachedInstanceCount(4);
    cache.fillCache();
    EXPECT_EQ(cache.pooledViewCount(), 5);
    auto view = cache.newWebView();
    EXPECT_EQ(serialOf(view), 1);
    EXPECT_EQ(cache.pooledViewCount(), 4);
    EXPECT_EQ(factory->log.created, 5);
}

TEST(WebViewCache, WithoutAWebFolderViewsUseTheResourcesFolder)
{
    auto factory = std::make_shared<FakeFactory>();
    KRWebViewCache cache(factory, [] { return QUrl(); });
    const QUrl expected = QUrl::fromLocalFile(KRResources::resourcesDirectory() + QLatin1Char('/'));
    EXPECT_EQ(cache.baseURL(), expected);
    EXPECT_EQ(factory->log.loadedWith.value(0), expected);
}

TEST(WebViewCache, WaitsThroughTheEventLoopForADocument)
{
    auto factory = std::make_shared<FakeFactory>();
    factory->loading = FakeView::Loading::OnEventLoop;
    KRWebViewCache cache(factory, [] { return webFolder; });
    auto view = cache.newWebView();
    ASSERT_TRUE(view.ok());
    EXPECT_TRUE(view.value()->hasDocument());
    EXPECT_FALSE(view.value()->isLoading());
    EXPECT_EQ(serialOf(view), 1);
}

TEST(WebViewCache, AViewIsHandedOutAsSoonAsItTellsOfItsDocument)
{
    // The views get their documents on the event loop's first pass. One that tells is handed
    // out then; one that cannot tell is found on the next look, a quarter second on.
    for (const bool tells : {true, false}) {
        auto factory = std::make_shared<FakeFactory>();
        factory->loading = FakeView::Loading::OnEventLoop;
        KRWebViewCache cache(factory, [] { return webFolder; });
        factory->views[0]->tells = tells;
        bool lookedAgain = false;
        QTimer late;
        late.setSingleShot(true);
        QObject::connect(&late, &QTimer::timeout, [&] { lookedAgain = true; });
        late.start(200);
        const auto view = cache.newWebView();
        EXPECT_EQ(serialOf(view), 1);
        EXPECT_EQ(lookedAgain, !tells) << (tells ? "a view that tells" : "a view that cannot tell");
    }
}

TEST(WebViewCache, AViewThatNeverLoadsFailsTheRequestInsteadOfHanging)
{
    auto factory = std::make_shared<FakeFactory>();
    factory->loading = FakeView::Loading::Never;
    KRWebViewCache cache(factory, [] { return webFolder; });
    cache.setLoadTimeout(std::chrono::milliseconds(0));
    const auto view = cache.newWebView();
    ASSERT_FALSE(view.ok());
    EXPECT_EQ(view.error().code(), KRWebViewCache::LoadTimedOut);
    // The broken view is dropped; the pool is refilled on the next request.
    EXPECT_EQ(cache.pooledViewCount(), 4);
    factory->loading = FakeView::Loading::AtOnce;
    cache.fillCache();
    EXPECT_EQ(cache.pooledViewCount(), 5);
}

TEST(WebViewCache, HeadlessPoolHasNoViews)
{
    KRWebViewCache cache(nullptr, [] { return webFolder; });
    EXPECT_EQ(cache.pooledViewCount(), 0);
    const auto view = cache.newWebView();
    ASSERT_FALSE(view.ok());
    EXPECT_EQ(view.error().code(), KRWebViewCache::NoViews);
}

TEST(WebViewCache, ViewsThatFailWhilePooledAreDroppedAndReplaced)
{
    auto factory = std::make_shared<FakeFactory>();
    KRWebViewCache cache(factory, [] { return webFolder; });
    factory->views[0]->failed = true;
    factory->views[2]->failed = true;
    auto view = cache.newWebView();
    EXPECT_EQ(serialOf(view), 2);
    // 1 and 3 were dropped, 6 and 7 made in their place, 2 handed out.
    EXPECT_EQ(factory->log.created, 7);
    EXPECT_EQ(cache.pooledViewCount(), 4);
    EXPECT_EQ(serialOf(cache.newWebView()), 4);
}

TEST(WebViewCache, AViewThatFailsWhileAwaitedFailsTheRequest)
{
    auto factory = std::make_shared<FakeFactory>();
    factory->loading = FakeView::Loading::Never;
    KRWebViewCache cache(factory, [] { return webFolder; });
    FakeView *first = factory->views[0];
    QTimer::singleShot(0, [first] { first->failed = true; });
    const auto view = cache.newWebView();
    ASSERT_FALSE(view.ok());
    EXPECT_EQ(view.error().code(), KRWebViewCache::ViewFailed);
    EXPECT_EQ(cache.pooledViewCount(), 4);
}

TEST(WebViewCache, AViewTakenAndDestroyedByANestedRequestIsNotTouchedAgain)
{
    auto factory = std::make_shared<FakeFactory>();
    factory->loading = FakeView::Loading::OnEventLoop;
    KRWebViewCache cache(factory, [] { return webFolder; });
    // A request made while another waits (the event loop runs); its caller drops the view.
    int nested = 0;
    QTimer::singleShot(0, [&] { nested = serialOf(cache.newWebView()); });
    const auto outer = cache.newWebView();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(serialOf(outer), 2);
}

// What the design surface does with the views: one per page shown, kept until the pool
// takes it back.
struct Holder
{
    KRWebViewCache &cache;
    std::map<int, std::unique_ptr<KRWebViewCacheView>> views;
    std::set<int> onScreen;
    QList<int> takenBack;

    void show(int page)
    {
        onScreen.insert(page);
        if (const auto it = views.find(page); it != views.end()) {
            cache.viewShown(it->second.get());
            return;
        }
        auto made = cache.newWebView();
        ASSERT_TRUE(made.ok());
        const KRWebViewCacheView *view = made.value().get();
        views[page] = std::move(made).value();
        cache.viewInUse(
            view, [this, page] { return onScreen.count(page) > 0; },
            [this, page, view] {
                takenBack << page;
                views.erase(page);
                cache.viewReleased(view);
            });
    }
};

TEST(WebViewCache, PagesShownInTurnKeepTheLiveViewsBounded)
{
    auto factory = std::make_shared<FakeFactory>();
    KRWebViewCache cache(factory, [] { return webFolder; });
    Holder holder{cache, {}, {}, {}};
    // A fifty-page project, each page shown once in turn: the target follows the pages, the
    // number of views does not.
    cache.setCachedInstanceCount(cache.cachedInstanceCount() + 50);
    for (int page = 1; page <= 50; ++page) {
        holder.onScreen.clear();
        holder.show(page);
    }
    EXPECT_EQ(cache.cachedInstanceCount(), 55);
    EXPECT_EQ(factory->log.peakAlive, KRWebViewCache::MaximumLiveViews);
    EXPECT_EQ(factory->log.alive, KRWebViewCache::MaximumLiveViews);
    EXPECT_EQ(cache.inUseViewCount(), 8);
    EXPECT_EQ(holder.takenBack.size(), 42);
    EXPECT_EQ(holder.takenBack.value(0), 1);
    EXPECT_EQ(holder.takenBack.value(41), 42);

    // Shown again, a page becomes the last to give its view up.
    holder.onScreen.clear();
    holder.show(43);
    holder.onScreen.clear();
    holder.show(1);
    EXPECT_EQ(holder.takenBack.value(42), 44);
    EXPECT_TRUE(holder.views.count(43));

    // A view on screen is never taken: with every page on screen, the bound gives way.
    for (const auto &[page, view] : holder.views)
        holder.onScreen.insert(page);
    holder.show(2);
    EXPECT_EQ(holder.takenBack.size(), 43);
    EXPECT_EQ(factory->log.alive, KRWebViewCache::MaximumLiveViews + 1);
    // A released view is no longer counted.
    cache.viewReleased(holder.views.at(2).get());
    holder.views.erase(2);
    EXPECT_EQ(cache.inUseViewCount(), KRWebViewCache::MaximumLiveViews);
}

} // namespace

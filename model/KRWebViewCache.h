#pragma once

#include <platform/foundation/KRError.h>
#include <platform/foundation/KRWebViewCacheView.h>

#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

// A project's pool of design web views that have already loaded an empty document with the
// project's web folder as base, so that pages open without waiting for a view to start. The
// project keeps the target count at five more than its number of pages.
//
// Every view costs a renderer's memory, so the pool is bounded: it keeps at most
// MaximumPooledViews spare views, and spares only while fewer than MaximumLiveViews views are
// alive, counting the views handed out that their holders registered (viewInUse). When a
// request finds no spare and that many are alive, the registered view shown least recently
// whose page is not on screen is taken back from its holder, and a view is made for the
// request; views on screen are never taken, so many pages on screen at once can pass the
// bound.
class KRWebViewCache
{
public:
    static constexpr const char *ErrorDomain = "KRWebViewCache";
    enum ErrorCode {
        NoViews = 1,       // no factory: a headless project has no design views
        LoadTimedOut = 2,  // the view never got a document
        ViewFailed = 3,    // the view failed while the request waited for it
    };
    static constexpr int InitialCachedInstanceCount = 5;
    static constexpr int MaximumPooledViews = 5;
    static constexpr int MaximumLiveViews = 8;
    static constexpr QRect ViewFrame{0, 0, 320, 420};
    static constexpr std::chrono::milliseconds DefaultLoadTimeout{60000};

    // The factory may be null (headless: the pool stays empty). The provider gives the
    // project's web-folder URL; an empty URL means the application's resources folder.
    // Fills the pool at once.
    KRWebViewCache(std::shared_ptr<KRWebViewCacheViewFactory> factory,
                   std::function<QUrl()> webFolderURL);
    KRWebViewCache(const KRWebViewCache &) = delete;
    KRWebViewCache &operator=(const KRWebViewCache &) = delete;

    int cachedInstanceCount() const { return m_cachedInstanceCount; }
    // Sets the target; does not fill the pool by itself.
    void setCachedInstanceCount(int count) { m_cachedInstanceCount = count; }
    // Views waiting in the pool.
    int pooledViewCount() const { return static_cast<int>(m_pool.size()); }

    // Adds views until the pool holds the target count, at most MaximumPooledViews, as long
    // as fewer than MaximumLiveViews views are alive; never removes surplus views.
    void fillCache();
    // Drops pooled views that have failed, fills the pool, then hands out the oldest view once
    // it has a document; the caller owns it. With no spare left, first takes a view back from
    // a page not on screen when MaximumLiveViews are alive, then makes one for the request.
    // Waits by running the event loop until the view tells of a change, or in 0.25 s steps
    // for a view that cannot (callers must tolerate re-entry), at most loadTimeout: a view
    // that does not get a document by then, or fails meanwhile, is dropped and the request
    // fails with an error instead of hanging the application.
    KRResult<std::unique_ptr<KRWebViewCacheView>> newWebView();

    // Registers a handed-out view as alive and shown now. `isOnScreen` tells whether its page
    // is on screen; `takeBack` must make the holder destroy the view and call viewReleased.
    void viewInUse(const KRWebViewCacheView *view, std::function<bool()> isOnScreen, std::function<void()> takeBack);
    // The registered view's page was shown: it is the last to be taken back.
    void viewShown(const KRWebViewCacheView *view);
    // The registered view is destroyed (or no longer counted).
    void viewReleased(const KRWebViewCacheView *view);
    // Views registered as in use.
    int inUseViewCount() const { return static_cast<int>(m_inUse.size()); }
    // Pooled views and views in use.
    int liveViewCount() const { return pooledViewCount() + inUseViewCount(); }

    std::chrono::milliseconds loadTimeout() const { return m_loadTimeout; }
    void setLoadTimeout(std::chrono::milliseconds timeout) { m_loadTimeout = timeout; }

    // The base URL the pool loads its views with.
    QUrl baseURL() const;

private:
    struct InUse {
        const KRWebViewCacheView *view; // not owned: its holder owns it
        std::function<bool()> isOnScreen;
        std::function<void()> takeBack;
    };

    void dropFailedViews();
    bool isPooled(const KRWebViewCacheView *view) const;
    bool addView();
    bool takeBackHiddenView();

    std::shared_ptr<KRWebViewCacheViewFactory> m_factory;
    std::function<QUrl()> m_webFolderURL;
    std::deque<std::unique_ptr<KRWebViewCacheView>> m_pool; // oldest first
    std::vector<InUse> m_inUse; // least recently shown first
    int m_cachedInstanceCount = InitialCachedInstanceCount;
    std::chrono::milliseconds m_loadTimeout = DefaultLoadTimeout;
};

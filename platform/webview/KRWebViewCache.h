#pragma once

#include <platform/foundation/KRError.h>

#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class KRWebView;

// A project's pool of web views that have already loaded an empty document, so that a page
// gets its design view without waiting for the web engine to start. Views are handed out
// oldest first; the pool is topped up to its target before every hand-out. Main thread only.
class KRWebViewCache
{
public:
    // Gives the base address of new views: the project's web folder, or empty when the
    // project has none (the application's resources folder is used then).
    using BaseURLProvider = std::function<QUrl()>;
    // Makes a view and starts loading the empty document (tests replace it).
    using ViewFactory = std::function<std::unique_ptr<KRWebView>(const QUrl &baseURL)>;

    static constexpr int InitialCachedInstanceCount = 5;
    static constexpr std::chrono::milliseconds DefaultWaitLimit{30000};

    // Fills the pool at once.
    explicit KRWebViewCache(BaseURLProvider baseURL, ViewFactory factory = {});
    ~KRWebViewCache();
    KRWebViewCache(const KRWebViewCache &) = delete;
    KRWebViewCache &operator=(const KRWebViewCache &) = delete;

    // The target size of the pool; setting it does not fill the pool.
    int cachedInstanceCount() const { return m_target; }
    void setCachedInstanceCount(int count) { m_target = count; }
    // Views in the pool now.
    int count() const { return int(m_pool.size()); }

    // Adds views until the pool holds the target; surplus views are never discarded.
    void fillCache();

    // Tops up the pool, takes the oldest view and waits (running the event loop re-entrantly
    // in steps of 0.25 s) until it has a document. A view whose renderer does not come up
    // within the wait limit, or ends, is dropped and the request fails with an error instead
    // of hanging the application. The caller owns the returned view.
    KRResult<std::unique_ptr<KRWebView>> newWebView();

    std::chrono::milliseconds waitLimit() const { return m_waitLimit; }
    void setWaitLimit(std::chrono::milliseconds limit) { m_waitLimit = limit; }

    // The default factory: a hidden view loading the empty document.
    static std::unique_ptr<KRWebView> makeView(const QUrl &baseURL);

private:
    QUrl baseURL() const;

    BaseURLProvider m_baseURL;
    ViewFactory m_factory;
    std::deque<std::unique_ptr<KRWebView>> m_pool;
    int m_target = InitialCachedInstanceCount;
    std::chrono::milliseconds m_waitLimit = DefaultWaitLimit;
};

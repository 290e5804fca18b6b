#include "KRWebViewCache.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRResources.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>

KRWebViewCache::KRWebViewCache(std::shared_ptr<KRWebViewCacheViewFactory> factory,
                               std::function<QUrl()> webFolderURL)
    : m_factory(std::move(factory)), m_webFolderURL(std::move(webFolderURL))
{
    fillCache();
}

QUrl KRWebViewCache::baseURL() const
{
    const QUrl url = m_webFolderURL ? m_webFolderURL() : QUrl();
    if (!url.isEmpty())
        return url;
    return QUrl::fromLocalFile(KRResources::resourcesDirectory() + QLatin1Char('/'));
}

bool KRWebViewCache::addView()
{
    if (!m_factory)
        return false;
    std::unique_ptr<KRWebViewCacheView> view = m_factory->createWebView(ViewFrame);
    if (!view) {
        KR_LOG(QStringLiteral("The design view factory made no view"));
        return false;
    }
    view->loadHTMLString(QString(), baseURL());
    m_pool.push_back(std::move(view));
    return true;
}

void KRWebViewCache::fillCache()
{
    const int spares = std::min(m_cachedInstanceCount, MaximumPooledViews);
    while (pooledViewCount() < spares && liveViewCount() < MaximumLiveViews) {
        if (!addView())
            return;
    }
}

void KRWebViewCache::viewInUse(const KRWebViewCacheView *view, std::function<bool()> isOnScreen,
                               std::function<void()> takeBack)
{
    viewReleased(view);
    m_inUse.push_back({view, std::move(isOnScreen), std::move(takeBack)});
}

void KRWebViewCache::viewShown(const KRWebViewCacheView *view)
{
    const auto it = std::find_if(m_inUse.begin(), m_inUse.end(), [view](const InUse &u) { return u.view == view; });
    if (it != m_inUse.end())
        std::rotate(it, it + 1, m_inUse.end());
}

void KRWebViewCache::viewReleased(const KRWebViewCacheView *view)
{
    std::erase_if(m_inUse, [view](const InUse &u) { return u.view == view; });
}

bool KRWebViewCache::takeBackHiddenView()
{
    for (const InUse &candidate : m_inUse) {
        if (candidate.isOnScreen && candidate.isOnScreen())
            continue;
        const KRWebViewCacheView *view = candidate.view;
        const std::function<void()> takeBack = candidate.takeBack; // the call may change the list
        KR_LOG(QStringLiteral("%1 design views alive: the one shown least recently that is off screen is dropped")
                   .arg(liveViewCount()));
        if (takeBack)
            takeBack();
        viewReleased(view); // in case the holder did not
        return true;
    }
    return false;
}

bool KRWebViewCache::isPooled(const KRWebViewCacheView *view) const
{
    return std::any_of(m_pool.begin(), m_pool.end(), [view](const auto &pooled) { return pooled.get() == view; });
}

void KRWebViewCache::dropFailedViews()
{
    const auto failed = std::remove_if(m_pool.begin(), m_pool.end(), [](const auto &view) { return view->hasFailed(); });
    const auto dropped = std::distance(failed, m_pool.end());
    if (dropped == 0)
        return;
    KR_LOG(QStringLiteral("Dropped %1 pooled design view(s) that failed").arg(dropped));
    m_pool.erase(failed, m_pool.end());
}

KRResult<std::unique_ptr<KRWebViewCacheView>> KRWebViewCache::newWebView()
{
    for (;;) {
        dropFailedViews();
        fillCache();
        if (m_pool.empty() && m_factory) {
            // No spare: a view for this request, made now, in place of a hidden page's view
            // when the bound is reached.
            if (liveViewCount() >= MaximumLiveViews)
                takeBackHiddenView();
            addView();
        }
        if (m_pool.empty()) {
            return KRError(QString::fromLatin1(ErrorDomain), NoViews,
                           QStringLiteral("No design view is available."));
        }
        KRWebViewCacheView *view = m_pool.front().get();
        const auto ready = [view] { return !view->isLoading() && view->hasDocument(); };
        QElapsedTimer elapsed;
        elapsed.start();
        bool takenMeanwhile = false;
        while (!ready() && !view->hasFailed() && elapsed.elapsed() < m_loadTimeout.count()) {
            // Until the view tells of a change, or a quarter second for a view that cannot.
            QEventLoop loop;
            view->setStateObserver([wait = QPointer<QEventLoop>(&loop)] {
                if (wait)
                    wait->quit();
            });
            QTimer::singleShot(250, &loop, &QEventLoop::quit);
            loop.exec();
            // The event loop may have run another request that took this very view, and its
            // caller may have destroyed it already: look it up before touching it again.
            if (!isPooled(view)) {
                takenMeanwhile = true;
                break;
            }
            view->setStateObserver({});
        }
        if (takenMeanwhile)
            continue;
        const auto it = std::find_if(m_pool.begin(), m_pool.end(),
                                     [view](const auto &pooled) { return pooled.get() == view; });
        std::unique_ptr<KRWebViewCacheView> taken = std::move(*it);
        m_pool.erase(it);
        if (!taken->hasFailed() && ready())
            return taken;
        const bool failed = taken->hasFailed();
        const QString why = failed
            ? QStringLiteral("the view failed")
            : QStringLiteral("it got no document within %1 seconds").arg(m_loadTimeout.count() / 1000.0);
        KR_LOG(QStringLiteral("Design view not ready, dropped: %1").arg(why));
        return KRError(QString::fromLatin1(ErrorDomain), failed ? ViewFailed : LoadTimedOut,
                       QStringLiteral("The page's design view could not be started: %1.").arg(why));
    }
}

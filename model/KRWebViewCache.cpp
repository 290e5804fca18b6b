#include "KRWebViewCache.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRResources.h>

#include <QElapsedTimer>
#include <QEventLoop>
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

void KRWebViewCache::fillCache()
{
    if (!m_factory)
        return;
    while (static_cast<int>(m_pool.size()) < m_cachedInstanceCount) {
        std::unique_ptr<KRWebViewCacheView> view = m_factory->createWebView(ViewFrame);
        if (!view) {
            KR_LOG(QStringLiteral("The design view factory made no view"));
            return;
        }
        view->loadHTMLString(QString(), baseURL());
        m_pool.push_back(std::move(view));
    }
}

KRResult<std::unique_ptr<KRWebViewCacheView>> KRWebViewCache::newWebView()
{
    for (;;) {
        fillCache();
        if (m_pool.empty()) {
            return KRError(QString::fromLatin1(ErrorDomain), NoViews,
                           QStringLiteral("No design view is available."));
        }
        KRWebViewCacheView *view = m_pool.front().get();
        const auto ready = [view] { return !view->isLoading() && view->hasDocument(); };
        QElapsedTimer elapsed;
        elapsed.start();
        while (!ready() && elapsed.elapsed() < m_loadTimeout.count()) {
            QEventLoop loop;
            QTimer::singleShot(250, &loop, &QEventLoop::quit);
            loop.exec();
        }
        // The event loop may have run another request that took this very view.
        const auto it = std::find_if(m_pool.begin(), m_pool.end(),
                                     [view](const auto &pooled) { return pooled.get() == view; });
        if (it == m_pool.end())
            continue;
        std::unique_ptr<KRWebViewCacheView> taken = std::move(*it);
        m_pool.erase(it);
        if (!ready()) {
            KR_LOG(QStringLiteral("A design view got no document within %1 ms; dropped")
                       .arg(m_loadTimeout.count()));
            return KRError(QString::fromLatin1(ErrorDomain), LoadTimedOut,
                           QStringLiteral("The design view could not be prepared."));
        }
        return taken;
    }
}

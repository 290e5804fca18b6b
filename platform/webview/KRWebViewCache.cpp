#include "KRWebViewCache.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRResources.h>
#include <platform/webview/KRWebView.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

KRWebViewCache::KRWebViewCache(BaseURLProvider baseURL, ViewFactory factory)
    : m_baseURL(std::move(baseURL)), m_factory(factory ? std::move(factory) : ViewFactory(&KRWebViewCache::makeView))
{
    fillCache();
}

KRWebViewCache::~KRWebViewCache() = default;

std::unique_ptr<KRWebView> KRWebViewCache::makeView(const QUrl &baseURL)
{
    auto view = std::make_unique<KRWebView>();
    view->loadEmptyDocument(baseURL);
    return view;
}

QUrl KRWebViewCache::baseURL() const
{
    QUrl url = m_baseURL ? m_baseURL() : QUrl();
    if (url.isEmpty())
        url = QUrl::fromLocalFile(QDir(KRResources::resourcesDirectory()).absolutePath() + QLatin1Char('/'));
    return url;
}

void KRWebViewCache::fillCache()
{
    while (int(m_pool.size()) < m_target)
        m_pool.push_back(m_factory(baseURL()));
}

KRResult<std::unique_ptr<KRWebView>> KRWebViewCache::newWebView()
{
    fillCache();
    if (m_pool.empty())
        return KRError(QStringLiteral("KRWebViewCache"), 2, QStringLiteral("No design view could be made."));
    // Taken out before the wait: a request made while this one waits (the event loop runs)
    // gets the next view instead of this one.
    std::unique_ptr<KRWebView> view = std::move(m_pool.front());
    m_pool.pop_front();

    const QDeadlineTimer deadline(m_waitLimit);
    while (!view->isReady() && !view->rendererTerminated() && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(250, &loop, &QEventLoop::quit);
        QObject::connect(view.get(), &KRWebView::agentReady, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!view->isReady()) {
        const QString why = view->rendererTerminated()
            ? QStringLiteral("its web engine process ended")
            : QStringLiteral("its web engine did not load a document within %1 seconds").arg(m_waitLimit.count() / 1000.0);
        KR_LOG(QStringLiteral("Design view not ready: %1").arg(why));
        view.release()->deleteLater(); // may be inside one of its own signals
        return KRError(QStringLiteral("KRWebViewCache"), 1,
                       QStringLiteral("The page's design view could not be started: %1.").arg(why));
    }
    return view;
}

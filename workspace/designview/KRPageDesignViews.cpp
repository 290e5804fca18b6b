#include "KRPageDesignViews.h"

#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRWebViewCache.h>
#include <platform/webview/KRWebView.h>
#include <workspace/designview/KRPageDesignView.h>

#include <QPointer>

KRPageDesignViews::KRPageDesignViews(const std::shared_ptr<KRProject> &project, QObject *parent)
    : QObject(parent), m_project(project)
{}

KRPageDesignViews::~KRPageDesignViews()
{
    const auto project = m_project.lock();
    KRWebViewCache *pool = project ? project->webViewCache() : nullptr;
    for (const auto &[page, view] : m_views) {
        if (pool)
            pool->viewReleased(view->webView());
    }
}

KRPageDesignView *KRPageDesignViews::viewForPage(const KRPage *page) const
{
    const auto it = m_views.find(page);
    // A page that has gone may have left its address to a new one.
    return it != m_views.end() && it->second->page().get() == page ? it->second.get() : nullptr;
}

KRResult<KRPageDesignView *> KRPageDesignViews::show(const std::shared_ptr<KRPage> &page)
{
    const auto project = m_project.lock();
    KRWebViewCache *pool = project ? project->webViewCache() : nullptr;
    if (!page || page->project() != project || !pool)
        return KRError(QString::fromLatin1(KRWebViewCache::ErrorDomain), KRWebViewCache::NoViews,
                       QStringLiteral("The page has no project with design views."));
    if (KRPageDesignView *shown = viewForPage(page.get())) {
        pool->viewShown(shown->webView());
        return shown;
    }
    drop(page.get()); // the view of a page that had the same address

    // Waiting for the view runs the event loop: the page may have got a view meanwhile.
    KRResult<std::unique_ptr<KRPageDesignView>> made = KRPageDesignView::create(page);
    if (!made)
        return made.error();
    if (KRPageDesignView *shown = viewForPage(page.get())) {
        pool->viewShown(shown->webView());
        return shown;
    }
    KRPageDesignView *view = made.value().get();
    m_views[page.get()] = std::move(made.value());
    const QPointer<KRWebView> webView = view->webView();
    const QPointer<KRPageDesignViews> self = this;
    const KRPage *key = page.get();
    pool->viewInUse(
        webView.data(), [webView] { return webView && webView->isVisible(); },
        [self, key] {
            if (self)
                self->drop(key);
        });
    return view;
}

void KRPageDesignViews::drop(const KRPage *page)
{
    const auto it = m_views.find(page);
    if (it == m_views.end())
        return;
    emit viewWillBeDropped(it->second.get());
    // The signal's receivers may have dropped it themselves.
    const auto still = m_views.find(page);
    if (still == m_views.end())
        return;
    std::unique_ptr<KRPageDesignView> view = std::move(still->second);
    m_views.erase(still);
    if (const auto project = m_project.lock()) {
        if (KRWebViewCache *pool = project->webViewCache())
            pool->viewReleased(view->webView());
    }
}

#pragma once

#include <platform/foundation/KRError.h>

#include <QObject>

#include <map>
#include <memory>

class KRPage;
class KRPageDesignView;
class KRProject;

// The design views of one project's pages. A page gets its view from the project's pool when
// it is first shown and keeps it while the pool allows: the pool bounds the views alive, and
// when it needs room it takes back the view of the page shown least recently whose web view
// is not visible; that page's design view is dropped here, and the page is mirrored into a
// new view when it is shown again.
class KRPageDesignViews : public QObject
{
    Q_OBJECT

public:
    explicit KRPageDesignViews(const std::shared_ptr<KRProject> &project, QObject *parent = nullptr);
    ~KRPageDesignViews() override;

    // The page's design view, made when it has none (failing as KRPageDesignView::create
    // does); it becomes the most recently shown. The caller puts its web view on screen.
    KRResult<KRPageDesignView *> show(const std::shared_ptr<KRPage> &page);
    // The page's design view; null when it has none (never shown, or dropped).
    KRPageDesignView *viewForPage(const KRPage *page) const;
    int count() const { return static_cast<int>(m_views.size()); }

signals:
    // The page's view is about to be destroyed to make room; whoever shows it lets go.
    void viewWillBeDropped(KRPageDesignView *view);

private:
    void drop(const KRPage *page);

    std::weak_ptr<KRProject> m_project; // the project owns the pool the views come from
    std::map<const KRPage *, std::unique_ptr<KRPageDesignView>> m_views;
};

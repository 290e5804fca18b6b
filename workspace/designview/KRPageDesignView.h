#pragma once

#include <platform/dom/KRLayoutSource.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservationToken.h>

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <memory>

class DOMNode;
class KRDesignViewControllerProxy;
class KRDesignViewHandler;
class KRObject;
class KRPage;
class KRUndoManager;
class KRWebView;

// One page of a project shown live. It owns the page's design web view (taken from the
// project's pool), mirrors the page's design document into it, connects the page's
// "___kr_page" bridge (so the library scripts' "loaded" calls run the page's queue) and the
// design surface's "___kr_dwc" bridge, and is the page's layout source while it lives.
//
// Sizes lag one round trip behind the model. A read made inside a user action while changes
// are still on their way to the view answers from the last measurement, but without overflow
// (scroll sizes equal to client sizes): positions and outer sizes (controlHeight) stay
// usable, while a size check cannot act on content that has changed since. The read is
// noted, and the action's undo group is held open (nested in it) until the view has applied
// the changes; then each noted control runs checkSize again with fresh sizes, so what it
// changes joins the same undo step. The group is let go at once when undo or redo starts,
// and after LateSizeWait when the view does not answer. While undo or redo runs, reads behind
// the view get no answer at all (an invalid geometry): they restore recorded sizes. Reads
// outside any recorded action answer from the last measurement.
//
// The design document loads jQuery and jQuery Mobile from the application's runtime server,
// so it is mirrored only once the server answers: with the server unavailable the view waits
// for it to start. A document whose libraries fail to load is loaded anew, at once a few times
// while the server answers, and otherwise when the server (re)starts.
class KRPageDesignView : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds LateSizeWait{2000};
    // Rounds of late checks per action: each check can change sizes again.
    static constexpr int MaximumLateRounds = 3;
    // Loads of a document whose libraries failed, made at once; more wait for a server start.
    static constexpr int MaximumQuickReloads = 2;
    // A page of this many elements or more that is not drawn after SlowLoadWait says why.
    static constexpr std::chrono::milliseconds SlowLoadWait{3000};
    static constexpr qsizetype ManyElements = 10000;

    // Takes a view from the page's project pool (which waits for a pre-loaded view, bounded
    // by the pool's time limit). Fails when the project has no design views (headless, no
    // factory installed) or the view does not start.
    static KRResult<std::unique_ptr<KRPageDesignView>> create(const std::shared_ptr<KRPage> &page);
    // Shows the page in that view (one loaded through loadEmptyDocument or by the pool).
    KRPageDesignView(const std::shared_ptr<KRPage> &page, std::unique_ptr<KRWebView> view);
    ~KRPageDesignView() override;

    std::shared_ptr<KRPage> page() const { return m_page.lock(); }
    KRWebView *webView() const { return m_view.get(); }
    // The "___kr_dwc" bridge; its calls go to the handler (the design surface).
    KRDesignViewControllerProxy *designViewControllerProxy() const { return m_proxy; }
    void setHandler(KRDesignViewHandler *handler);
    // The page object whose element is the node or encloses it; text nodes count as their
    // parent element. Null when none.
    std::shared_ptr<KRObject> objectForElement(const std::shared_ptr<DOMNode> &node) const;

    // True once jQuery Mobile has loaded in the view and the page's queued work has run: the
    // surface shows the view from then on (designDocumentDidLoad).
    bool isDesignDocumentLoaded() const { return m_designDocumentLoaded; }

    // True while an action's undo group is held open for sizes still on their way.
    bool isWaitingForSizes() const { return !m_heldUndoManager.isNull(); }

    // True while the view waits for the runtime server before it loads the design document.
    bool isWaitingForServer() const { return m_waitingForServer; }
    // While it waits: why the page cannot be shown (no server, or libraries that did not load),
    // or what takes so long (a page of very many elements), for the user; empty otherwise.
    QString loadProblem() const { return m_loadProblem; }

signals:
    // loadProblem() changed.
    void loadProblemDidChange();
    // The page's design document is enhanced and its queued work has run.
    void designDocumentDidLoad();
    // The late size checks of an action are done and its undo group is let go.
    void sizesSettled();

private:
    // The page's layout source: the view's measurements, as readMode allows.
    class NotingLayoutSource : public KRLayoutSource
    {
    public:
        explicit NotingLayoutSource(KRPageDesignView *owner) : m_owner(owner) {}
        KRNodeGeometry geometryForNode(std::uint64_t nodeId) const override;

    private:
        KRPageDesignView *m_owner;
    };

    enum class ReadMode { Current, WithoutOverflow, Unknown };
    // How a read of the node's geometry is answered now; notes reads made behind the view.
    ReadMode readMode(std::uint64_t nodeId);
    void onBatchApplied(quint64 batch);
    void runLateChecks();
    void letGo();
    KRUndoManager *undoManager() const;
    void mirrorDocument();
    void reloadDocument();
    void librariesFailedToLoad();
    void serverDidStart();
    void setLoadProblem(const QString &problem);
    void sayWhatTakesTime();

    std::weak_ptr<KRPage> m_page;
    std::unique_ptr<KRWebView> m_view;
    KRDesignViewControllerProxy *m_proxy; // owned by this (Qt parent)
    NotingLayoutSource m_layoutSource;
    QPointer<KRUndoManager> m_heldUndoManager; // set while this holds a group open in it
    QSet<std::uint64_t> m_lateNodes;
    quint64 m_lateBatch = 0;
    int m_lateRounds = 0;
    bool m_runningLateChecks = false;
    bool m_designDocumentLoaded = false;
    bool m_mirrored = false;
    bool m_waitingForServer = false;
    QString m_loadProblem;
    int m_quickReloads = 0;
    quint64 m_loads = 0; // loads of the document into the view
    KRObservationToken m_libraryFailureToken;
    KRObservationToken m_serverStartToken;
    QTimer m_lateTimer;
    QTimer m_slowLoadTimer;
};

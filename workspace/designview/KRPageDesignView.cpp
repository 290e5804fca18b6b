#include "KRPageDesignView.h"

#include <controls/KRControl.h>
#include <core/KRRunLogger.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRWebViewCache.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMNode.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/webview/KRDesignViewControllerProxy.h>
#include <platform/webview/KRLayoutCache.h>
#include <platform/webview/KRWebView.h>
#include <platform/webview/KRWebViewFactory.h>

#include <algorithm>

KRResult<std::unique_ptr<KRPageDesignView>> KRPageDesignView::create(const std::shared_ptr<KRPage> &page)
{
    const auto project = page ? page->project() : nullptr;
    if (!project || !project->webViewCache())
        return KRError(QString::fromLatin1(KRWebViewCache::ErrorDomain), KRWebViewCache::NoViews,
                       QStringLiteral("The page has no project with design views."));
    KRResult<std::unique_ptr<KRWebViewCacheView>> taken = project->webViewCache()->newWebView();
    if (!taken)
        return taken.error();
    std::unique_ptr<KRWebView> view = KRWebViewFactory::webView(std::move(taken.value()));
    return std::make_unique<KRPageDesignView>(page, std::move(view));
}

KRPageDesignView::KRPageDesignView(const std::shared_ptr<KRPage> &page, std::unique_ptr<KRWebView> view)
    : m_page(page), m_view(std::move(view)), m_proxy(new KRDesignViewControllerProxy(this)), m_layoutSource(this)
{
    // The controls read their sizes from their page's layout source, which a shown page has.
    static const bool providerInstalled = [] {
        KRControl::setLayoutSourceProvider([](const KRPage *shown) { return shown ? shown->layoutSource() : nullptr; });
        // The design views load the web libraries from the local runtime server, and nothing else over http.
        KRWebView::setLibraryServerPortProvider([] { return KRLocalServerPort::port(); });
        return true;
    }();
    Q_UNUSED(providerInstalled);
    m_proxy->setDocument(page->domDocument());
    m_view->setHostObject(QStringLiteral("___kr_dwc"), m_proxy);
    page->setLayoutSource(&m_layoutSource);

    const QPointer<KRPageDesignView> self(this);
    m_libraryFailureToken = KRNotificationCenter::defaultCenter().addObserver(
        KRPageLibraryDidFailToLoadNotification, page->identity(), [self](const KRNotification &) {
            // Reported from inside the view's own call: the view is left alone until it returns.
            QTimer::singleShot(0, self, [self] {
                if (self)
                    self->librariesFailedToLoad();
            });
        });
    m_serverStartToken = KRNotificationCenter::defaultCenter().addObserver(
        KRLocalServerDidStartNotification, nullptr, [self](const KRNotification &) {
            if (self)
                self->serverDidStart();
        });
    // Without the server nothing could load: the document waits for it (port() waits a little
    // for a server that is starting).
    if (KRLocalServerPort::port() < 0) {
        KR_LOG(QStringLiteral("The design view of %1 waits for the local runtime server").arg(page->kr_id()));
        m_waitingForServer = true;
        m_loadProblem = QStringLiteral("The local runtime server is not running, so the page cannot be shown yet. "
                                       "It shows as soon as the server starts.");
    } else {
        mirrorDocument();
    }

    connect(m_view.get(), &KRWebView::batchApplied, this, &KRPageDesignView::onBatchApplied);
    // A page that fails before it is drawn says so on the surface rather than staying grey.
    connect(m_view.get(), &KRWebView::documentFailed, this, [this](const QString &message) {
        if (m_designDocumentLoaded || m_waitingForServer || !m_mirrored)
            return;
        setLoadProblem(QStringLiteral("The page could not be drawn: %1. The run log has the details.").arg(message));
    });
    m_slowLoadTimer.setSingleShot(true);
    m_slowLoadTimer.setInterval(SlowLoadWait);
    connect(&m_slowLoadTimer, &QTimer::timeout, this, &KRPageDesignView::sayWhatTakesTime);
    m_lateTimer.setSingleShot(true);
    m_lateTimer.setInterval(LateSizeWait);
    connect(&m_lateTimer, &QTimer::timeout, this, [this] {
        KR_LOG(QStringLiteral("The design view did not report sizes in time; the action's undo step closes without them"));
        letGo();
    });
}

KRPageDesignView::~KRPageDesignView()
{
    letGo();
    if (const auto page = m_page.lock()) {
        if (page->layoutSource() == &m_layoutSource)
            page->setLayoutSource(nullptr);
        if (page->scriptHost() == m_view.get())
            page->setScriptHost(nullptr);
    }
    m_view->setHostObject(QStringLiteral("___kr_dwc"), nullptr);
    m_view->detachDocument();
}

void KRPageDesignView::setHandler(KRDesignViewHandler *handler) { m_proxy->setDelegate(handler); }

void KRPageDesignView::mirrorDocument()
{
    const auto page = m_page.lock();
    if (!page)
        return;
    m_mirrored = true;
    // The addresses of the libraries as the server has them now (the page may have been made
    // before it answered).
    page->refreshLibraryAddresses();
    // The page names its "___kr_page" bridge on its new host, then the view takes the document.
    page->setScriptHost(m_view.get());
    m_view->attachDocument(page->domDocument());
    // Queued after the page's own blocks (the toolbar fix among them); a load that the view
    // gave up for a fresh one does not count.
    const quint64 load = ++m_loads;
    m_slowLoadTimer.start();
    page->onJQueryMobileLoaded([self = QPointer<KRPageDesignView>(this), load] {
        if (!self || self->m_loads != load)
            return;
        self->m_designDocumentLoaded = true;
        self->m_slowLoadTimer.stop();
        self->setLoadProblem(QString());
        emit self->designDocumentDidLoad();
    });
}

// The document again, in a fresh load of the view: the page starts over as in a new view (its
// set-ups queued again for jQuery Mobile).
void KRPageDesignView::reloadDocument()
{
    const auto page = m_page.lock();
    if (!page)
        return;
    m_view->detachDocument();
    if (page->scriptHost() == m_view.get())
        page->setScriptHost(nullptr);
    m_view->loadEmptyDocument(m_view->baseURL());
    mirrorDocument();
}

void KRPageDesignView::librariesFailedToLoad()
{
    if (m_designDocumentLoaded || m_waitingForServer || !m_mirrored)
        return;
    const auto page = m_page.lock();
    if (m_quickReloads < MaximumQuickReloads && KRLocalServerPort::port() >= 0) {
        ++m_quickReloads;
        reloadDocument();
        return;
    }
    KR_LOG(QStringLiteral("The design view of %1 loads again when the local runtime server starts")
               .arg(page ? page->kr_id() : QString()));
    m_waitingForServer = true;
    setLoadProblem(QStringLiteral("The page cannot be shown: the libraries it needs did not load from the local "
                                  "runtime server. It is loaded again when the server restarts; the run log has "
                                  "the details."));
}

void KRPageDesignView::setLoadProblem(const QString &problem)
{
    if (problem == m_loadProblem)
        return;
    m_loadProblem = problem;
    emit loadProblemDidChange();
}

namespace {

// The elements of the tree below `root`, itself included, walked without recursion.
qsizetype elementCount(const DOMNode &root)
{
    qsizetype count = 0;
    std::vector<const DOMNode *> pending{&root};
    while (!pending.empty()) {
        const DOMNode *node = pending.back();
        pending.pop_back();
        if (!node->isElement())
            continue;
        ++count;
        for (const auto &child : node->childNodes())
            pending.push_back(child.get());
    }
    return count;
}

} // namespace

// A page of very many elements takes the engine a while to lay out and jQuery Mobile a while
// to enhance: the loading picture says so, and which control holds most of them.
void KRPageDesignView::sayWhatTakesTime()
{
    const auto page = m_page.lock();
    const auto document = page ? page->domDocument() : nullptr;
    const auto root = document ? document->documentElement() : nullptr;
    if (m_designDocumentLoaded || !m_mirrored || m_waitingForServer || !m_loadProblem.isEmpty() || !root)
        return;
    const qsizetype total = elementCount(*root);
    if (total < ManyElements)
        return;
    QString holder;
    qsizetype most = 0;
    for (const auto &object : page->allObjects()) {
        const KRControl *control = dynamic_cast<const KRControl *>(object.get());
        const auto element = control ? control->domElement() : nullptr;
        if (!element)
            continue;
        if (const qsizetype count = elementCount(*element); count > most) {
            most = count;
            holder = object->kr_id();
        }
    }
    QString message = QStringLiteral("The page is still being drawn: it holds %L1 elements").arg(total);
    if (most * 2 > total) {
        const QString name = holder.size() > 60 ? holder.left(59) + QChar(0x2026) : holder;
        message += QStringLiteral(", %L1 of them in \u201C%2\u201D").arg(most).arg(name);
    }
    setLoadProblem(message + QStringLiteral(", which take a while to lay out."));
}

void KRPageDesignView::serverDidStart()
{
    m_quickReloads = 0;
    if (!m_waitingForServer)
        return; // loaded, or loading: a failure still reloads it
    m_waitingForServer = false;
    setLoadProblem(QString());
    if (m_mirrored)
        reloadDocument();
    else
        mirrorDocument();
}

std::shared_ptr<KRObject> KRPageDesignView::objectForElement(const std::shared_ptr<DOMNode> &node) const
{
    const auto page = m_page.lock();
    return page && node ? page->objectFromElement(node) : nullptr;
}

KRUndoManager *KRPageDesignView::undoManager() const
{
    const auto page = m_page.lock();
    const auto project = page ? page->project() : nullptr;
    const auto document = project ? project->krDocument() : nullptr;
    return document ? &document->undoManager() : nullptr;
}

KRNodeGeometry KRPageDesignView::NotingLayoutSource::geometryForNode(std::uint64_t nodeId) const
{
    KRNodeGeometry g = m_owner->m_view->layoutSource().geometryForNode(nodeId);
    switch (m_owner->readMode(nodeId)) {
    case ReadMode::Current:
        return g;
    case ReadMode::WithoutOverflow:
        // Positions and outer sizes rarely change with the content; overflow does.
        g.scrollWidth = g.clientWidth;
        g.scrollHeight = g.clientHeight;
        return g;
    case ReadMode::Unknown:
        break;
    }
    return {};
}

KRPageDesignView::ReadMode KRPageDesignView::readMode(std::uint64_t nodeId)
{
    if (m_view->isReady() && m_view->pendingBatch() <= m_view->appliedBatch())
        return ReadMode::Current;
    KRUndoManager *undo = undoManager();
    if (!undo)
        return ReadMode::Current;
    // Undo and redo restore recorded sizes: a check during them must not add changes.
    if (undo->isUndoing() || undo->isRedoing())
        return ReadMode::Unknown;
    if (undo->groupingLevel() == 0 || !undo->isUndoRegistrationEnabled() || !m_view->isReady())
        return ReadMode::Current;
    if (m_heldUndoManager && m_heldUndoManager != undo)
        return ReadMode::Current;
    m_lateNodes.insert(nodeId);
    m_lateBatch = std::max(m_lateBatch, m_view->pendingBatch());
    if (!m_heldUndoManager) {
        undo->beginUndoGrouping();
        m_heldUndoManager = undo;
        connect(undo, &KRUndoManager::willUndoOrRedo, this, &KRPageDesignView::letGo, Qt::UniqueConnection);
        m_lateRounds = 0;
    }
    m_lateTimer.start();
    return ReadMode::WithoutOverflow;
}

void KRPageDesignView::onBatchApplied(quint64 batch)
{
    if (m_heldUndoManager && !m_runningLateChecks && batch >= m_lateBatch)
        runLateChecks();
}

void KRPageDesignView::runLateChecks()
{
    const auto page = m_page.lock();
    const auto document = page ? page->domDocument() : nullptr;
    const QSet<std::uint64_t> nodes = std::exchange(m_lateNodes, {});
    ++m_lateRounds;
    m_runningLateChecks = true;
    QSet<const KRObject *> checked;
    for (const std::uint64_t nodeId : nodes) {
        const auto node = document ? document->nodeForId(nodeId) : nullptr;
        const auto object = node ? page->objectFromElement(node) : nullptr;
        if (!object || checked.contains(object.get()))
            continue;
        checked.insert(object.get());
        object->checkSize();
    }
    m_runningLateChecks = false;
    // A check that changed a size read the layout before its own change reached the view:
    // one more round, bounded.
    if (!m_lateNodes.isEmpty() && m_lateRounds < MaximumLateRounds && m_view->pendingBatch() > m_view->appliedBatch())
        return;
    letGo();
}

void KRPageDesignView::letGo()
{
    m_lateTimer.stop();
    m_lateNodes.clear();
    m_lateBatch = 0;
    m_lateRounds = 0;
    const QPointer<KRUndoManager> undo = std::exchange(m_heldUndoManager, nullptr);
    if (!undo)
        return;
    disconnect(undo, &KRUndoManager::willUndoOrRedo, this, &KRPageDesignView::letGo);
    undo->endUndoGrouping();
    emit sizesSettled();
}

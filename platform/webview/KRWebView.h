#pragma once

#include <platform/dom/DOMMutationListener.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/foundation/KRWebViewCacheView.h>

#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QJsonArray>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>

#include <functional>
#include <memory>

class DOMDocument;
class DOMNode;
class KRDesignAgentHost;
class KRLayoutCache;
class KRLayoutSource;
class KRWebPage;
class QTimer;
class QWebChannel;

// A press of the primary button in a KRWebView's page, as the page saw it: the nearest
// mirrored node of the topmost element under the pointer (0: none), and the modifiers held.
// The view sends it to itself, so whoever routes the presses of its window meets it in an
// event filter.
class KRWebViewPressEvent : public QEvent
{
public:
    KRWebViewPressEvent(quint64 nodeId, Qt::KeyboardModifiers modifiers)
        : QEvent(eventType()), m_nodeId(nodeId), m_modifiers(modifiers)
    {
    }
    static QEvent::Type eventType();
    quint64 nodeId() const { return m_nodeId; }
    Qt::KeyboardModifiers modifiers() const { return m_modifiers; }

private:
    quint64 m_nodeId;
    Qt::KeyboardModifiers m_modifiers;
};

// The web view of the design surface: a QtWebEngine view that shows an own-DOM document.
//
// The view first loads an empty document (no doctype, so quirks mode) with a base address;
// the design agent injected into every document connects back over a web channel. Attaching
// an own document then replaces the live document's content by the own document's, and from
// there on every change of the own document and every script evaluated through it reach the
// live document in the order they happened, batched per event-loop turn and addressed by
// node id. The agent reports element geometry into the view's layout cache after every
// batch and whenever the page changed itself.
//
// Page scripts call the program through host objects (setHostObject): "___kr_page" and
// "___kr_dwc" exist in the page before any page script runs and queue their calls until the
// channel is connected; an element argument arrives as the id of its nearest mirrored node
// (an unsigned 64-bit integer, 0 for none), an event as a map of plain values (type,
// clientX/Y, pageX/Y, button, shiftKey, ctrlKey, altKey, metaKey, target/targetTag/
// targetDataRole, for mouse events hit/hitTag/hitDataRole: the element under the pointer, and
// for a click after a press press/pressTag/pressDataRole: the element the button went down on).
// Host methods must be public slots or Q_INVOKABLE; other methods are not reachable.
//
// A press of the primary button in the page reaches the program first as a KRWebViewPressEvent
// that the view sends to itself (with the node under the pointer), then through the page's
// own handlers. Its default action is cancelled: a design page starts no text selection,
// engine drag, focus or pop-up of its own.
//
// What a project puts on its pages is data here, never code: whoever made the project, none of
// its scripts runs in a design view (they run in the built and previewed application). The
// document's policy lets only the scripts the program gives it run (the web libraries, the
// agent's evaluations, the page's own set-up scripts): no inline handler, "javascript:"
// address or script of the page's content. The design document reads only the project's web
// folder, the installed plug-ins' pictures and the shipped web libraries (from their folder,
// or from the local runtime server on 127.0.0.1 under "/__kr_bundle/"), and sends nothing
// anywhere else; the agent leaves out frames, plug-in objects, refreshes and handlers other
// than the bridges' (see KRDesignAgent.js).
//
// A project's pool of pre-loaded views (KRWebViewCache) makes them with KRWebViewFactory and
// sees them as KRWebViewCacheView.
class KRWebView : public QWebEngineView, public DOMScriptHost, public KRWebViewCacheView, private DOMMutationListener
{
    Q_OBJECT

public:
    explicit KRWebView(QWidget *parent = nullptr);
    ~KRWebView() override;

    // Loads the empty document with that base address (a folder or a file inside it). Loading
    // again (after the renderer ended, say) mirrors the attached document anew once the new
    // document's agent is connected.
    void loadEmptyDocument(const QUrl &baseURL);
    // KRWebViewCacheView: loads the HTML text as the view's document, like loadEmptyDocument,
    // under the design document's policy (a new one each load), which goes in front of the
    // text (so a doctype there no longer counts). It has a document once its agent is
    // connected and the document has its place (see documentLaidOut); it has failed while its
    // renderer is ended.
    void loadHTMLString(const QString &html, const QUrl &baseURL) override;
    bool isLoading() const override;
    bool hasDocument() const override { return m_ready && m_laidOut; }
    bool hasFailed() const override { return m_rendererTerminated; }
    void setStateObserver(std::function<void()> changed) override { m_stateObserver = std::move(changed); }
    QUrl baseURL() const { return m_baseURL; }
    // True once the agent of the current document is connected: the view has a document.
    bool isReady() const { return m_ready; }
    // True when the renderer process ended abnormally; the view shows nothing until reloaded.
    bool rendererTerminated() const { return m_rendererTerminated; }

    // Whether the engine describes its documents to assistive tools (a tool listens and the
    // engine may, or it was started to always). A document it does not describe stands empty
    // in the accessible tree for good.
    static bool documentsDescribed();
    // Whether assistive tools can be told where the document of `view` lies: the engine has
    // described its place (some time after its first layout, which it does in a shown view
    // only), or it describes no document to them. A tool that looks at the document before is
    // told that it has no place on the screen, and keeps that for good.
    static bool documentHasPlace(const QWebEngineView *view);

    // Mirrors `document` from now on (the view becomes its mutation listener and script
    // host). The view keeps the document weakly. Attaching another document detaches the first.
    void attachDocument(const std::shared_ptr<DOMDocument> &document);
    void detachDocument();
    std::shared_ptr<DOMDocument> attachedDocument() const { return m_document.lock(); }

    // Element geometry as last measured in the view.
    KRLayoutCache *layoutCache() const { return m_layout; }
    const KRLayoutSource &layoutSource() const;

    // DOMScriptHost. Scripts join the ordered stream; results are never returned.
    void setHostObject(const QString &name, QObject *object) override;
    QObject *hostObject(const QString &name) const override;
    void evaluateScript(const QString &script) override;

    // Batches are numbered from 1; a batch is applied when the agent has run all of it.
    quint64 issuedBatch() const { return m_issued; }
    quint64 appliedBatch() const { return m_applied; }
    // The batch that will carry the changes made so far: the next one while some are still
    // queued, otherwise the last one issued.
    quint64 pendingBatch() const { return m_pending.isEmpty() ? m_issued : m_issued + 1; }
    // True when every change made so far has been applied in the view.
    bool isInStep() const { return m_pending.isEmpty() && m_applied == m_issued; }
    // Sends what is queued now instead of at the end of the event-loop turn.
    void flush();

    // Problems the agent reported while applying batches (for the run log and tests).
    const QStringList &agentErrors() const { return m_agentErrors; }

    // The port of the local runtime server that serves the web libraries, asked for at each
    // request for one (the server may have restarted elsewhere); process-wide. Without a
    // provider, or while it answers a negative port, no document loads anything over http.
    static void setLibraryServerPortProvider(std::function<qint64()> provider);
    // Whether the design document may load `url` (a resource of that type, by that method):
    // a file among the shipped web libraries, a picture, style sheet, font or media file in
    // the project's web folder or an installed plug-in's, or a library from the local runtime
    // server.
    bool mayLoad(const QUrl &url, QWebEngineUrlRequestInfo::ResourceType type, const QByteArray &method) const;

signals:
    void agentReady();
    // After agentReady, once assistive tools can be told where the document lies: the engine
    // tells them only after the document's first layout, some time after it is ready, and a
    // tool that asks before is told that the document has no place on the screen for good.
    // At once when the engine describes no document to such tools.
    void documentLaidOut();
    void batchApplied(quint64 batch);
    void hostCallFailed(const QString &objectName, const QString &method);
    // A context menu was asked for over the node (0: none known) at `position` in the view;
    // the engine's own menu is never shown.
    void contextMenuRequested(quint64 nodeId, const QPoint &position);
    // The agent could not apply a change, or a script of the document failed: the document
    // may not show what the program sent it.
    void documentFailed(const QString &message);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void domDidMutate(const DOMMutation &mutation) override;
    void enqueue(QJsonObject &&op);
    void scheduleFlush();
    void sendInitialDocument();
    void onAgentReady(const QString &url);
    void tellStateObserver();
    bool documentHasPlace() const;
    void checkDocumentPlace();
    void onBatchApplied(quint64 batch, const QVariantList &rows);
    void dispatchHostCall(const QString &objectName, const QString &method, const QVariantList &args);
    static QJsonArray nodeTree(const DOMNode &node);
    QStringList projectFolders() const;

    KRWebPage *m_page;               // owned by the view (Qt parent)
    QWebChannel *m_channel;          // owned by the view (Qt parent)
    KRDesignAgentHost *m_agentHost;  // owned by the view (Qt parent)
    KRLayoutCache *m_layout;         // owned by the view (Qt parent)
    std::weak_ptr<DOMDocument> m_document;
    QHash<QString, QPointer<QObject>> m_hostObjects;
    QUrl m_baseURL;
    QString m_scriptNonce;  // the one mark of the scripts the document may run, new with each load
    QJsonArray m_pending;
    QStringList m_agentErrors;
    QString m_scriptFromStream; // the script the document reported just before handing it to the host
    bool m_hasScriptFromStream = false;
    bool m_ready = false;
    bool m_laidOut = false;
    static constexpr int PlaceCheckInterval = 10; // ms
    static constexpr qint64 PlaceWaitLimit = 3000; // ms
    QTimer *m_placeCheck;            // owned by the view (Qt parent)
    QElapsedTimer m_placeWait;
    bool m_rendererTerminated = false;
    std::function<void()> m_stateObserver;
    bool m_flushScheduled = false;
    quint64 m_issued = 0;
    quint64 m_applied = 0;
};

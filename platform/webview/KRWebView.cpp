#include "KRWebView.h"

#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMCharacterData.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRLogSink.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/webview/KRDesignAgentHost.h>
#include <platform/webview/KRLayoutCache.h>
#include <platform/webview/KRWebPage.h>

#include <QAccessible>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>

#include <algorithm>
#include <exception>

static void initWebViewResources()
{
    Q_INIT_RESOURCE(webview);
}

static QString resourceText(const QString &path)
{
    QFile file(path);
    KR_ASSERT(file.open(QIODevice::ReadOnly), "a script compiled into the program is missing");
    return QString::fromUtf8(file.readAll());
}

// A JavaScript string literal (JSON's escaping is valid JavaScript).
static QString jsString(const QString &text)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

static QWebEngineScript documentCreationScript(const QString &name, const QString &source)
{
    QWebEngineScript script;
    script.setName(name);
    script.setSourceCode(source);
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    return script;
}

namespace {

std::function<qint64()> &libraryServerPortProvider()
{
    static std::function<qint64()> provider;
    return provider;
}

// What the design document may do. Only scripts that carry the load's nonce run: the
// libraries and set-up scripts of the page and the agent's evaluations; never an inline
// handler, a "javascript:" address or eval. Pictures, styles and fonts come from files (the
// request filter keeps them to the project's web folder and the libraries) or the local
// runtime server; nothing else is fetched, framed, posted or connected to.
QString designDocumentPolicy(const QString &nonce)
{
    return QStringLiteral("default-src 'none'; script-src 'nonce-%1'; style-src 'unsafe-inline' file: http://127.0.0.1:*; "
                          "img-src file: data: blob: http://127.0.0.1:*; font-src file: data: http://127.0.0.1:*; "
                          "media-src file:; connect-src 'none'; object-src 'none'; frame-src 'none'; child-src 'none'; "
                          "worker-src 'none'; manifest-src 'none'; form-action 'none'; base-uri file:")
        .arg(nonce);
}

QString newNonce()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(words), sizeof words)
                                   .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The folder itself and everything below it (both canonical).
bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && (path == folder || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/')));
}

QString canonicalFolder(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

// Refuses every request of a design document that its view does not allow (KRWebView::mayLoad),
// and says so in the run log (the first few of each view: a page can ask for any number).
class KRDesignRequestFilter : public QWebEngineUrlRequestInterceptor
{
public:
    explicit KRDesignRequestFilter(KRWebView *view) : QWebEngineUrlRequestInterceptor(view), m_view(view) {}

    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        if (m_view->mayLoad(info.requestUrl(), info.resourceType(), info.requestMethod()))
            return;
        info.block(true);
        if (m_logged < MaximumLogged) {
            ++m_logged;
            KR_PLATFORM_LOG(QStringLiteral("Design view refused to load %1%2")
                                .arg(info.requestUrl().toDisplayString().left(300),
                                     m_logged == MaximumLogged ? QStringLiteral(" (further refusals are not logged)") : QString()));
        }
    }

private:
    static constexpr int MaximumLogged = 20;
    KRWebView *m_view;
    int m_logged = 0;
};

} // namespace

void KRWebView::setLibraryServerPortProvider(std::function<qint64()> provider)
{
    libraryServerPortProvider() = std::move(provider);
}

bool KRWebView::mayLoad(const QUrl &url, QWebEngineUrlRequestInfo::ResourceType type, const QByteArray &method) const
{
    using Info = QWebEngineUrlRequestInfo;
    if (type == Info::ResourceTypeMainFrame)
        return true; // the program's own loads: the page refuses every other navigation
    if (type != Info::ResourceTypeStylesheet && type != Info::ResourceTypeScript && type != Info::ResourceTypeImage
        && type != Info::ResourceTypeFontResource && type != Info::ResourceTypeMedia)
        return false;
    if (method != "GET")
        return false;
    if (url.scheme() == QLatin1String("data"))
        return type != Info::ResourceTypeScript;
    if (url.isLocalFile()) {
        const QString path = QFileInfo(url.toLocalFile()).canonicalFilePath();
        if (path.isEmpty())
            return false;
        if (isInside(path, canonicalFolder(KRResources::pathForResource(QStringLiteral("local-server")))))
            return true;
        if (type == Info::ResourceTypeScript)
            return false;
        // The pictures and styles of the installed plug-ins, which their controls draw with.
        if (isInside(path, canonicalFolder(KRPaths::applicationSupportDirectory() + QStringLiteral("/Plug-ins"))))
            return true;
        const QStringList folders = projectFolders();
        return std::any_of(folders.begin(), folders.end(), [&path](const QString &folder) { return isInside(path, folder); });
    }
    if (url.scheme() == QLatin1String("http") && url.host() == QLatin1String("127.0.0.1") && url.userInfo().isEmpty()) {
        static const QRegularExpression library(QStringLiteral("^/+__kr_bundle/"));
        const auto &provider = libraryServerPortProvider();
        const qint64 port = provider ? provider() : -1;
        return port > 0 && url.port() == port && library.match(url.path()).hasMatch();
    }
    return false;
}

// The folders of the document's base addresses: the one it was loaded with, and the one its
// base element names.
QStringList KRWebView::projectFolders() const
{
    QStringList folders;
    const auto add = [&folders](const QUrl &url) {
        if (!url.isLocalFile())
            return;
        const QString path = url.toLocalFile();
        const QString folder = canonicalFolder(path.endsWith(QLatin1Char('/')) ? path : QFileInfo(path).absolutePath());
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    };
    add(m_baseURL);
    if (const auto document = m_document.lock()) {
        const auto head = document->head();
        const auto base = head ? head->firstElementByTagName(QStringLiteral("base")) : nullptr;
        const QString href = base ? base->getAttribute(QStringLiteral("href")) : QString();
        if (href.startsWith(QLatin1Char('/')))
            add(QUrl::fromLocalFile(href));
        else if (!href.isEmpty())
            add(m_baseURL.resolved(QUrl(href)));
    }
    return folders;
}

QEvent::Type KRWebViewPressEvent::eventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

KRWebView::KRWebView(QWidget *parent)
    : QWebEngineView(parent),
      m_page(new KRWebPage(this)),
      m_channel(new QWebChannel(this)),
      m_agentHost(new KRDesignAgentHost(this)),
      m_layout(new KRLayoutCache(this)),
      m_placeCheck(new QTimer(this))
{
    initWebViewResources();
    resize(320, 420);

    QWebEngineSettings *settings = m_page->settings();
    // Design documents live in the project's web folder and load the web libraries from the
    // local runtime server on 127.0.0.1 (the engine refuses both to local content without these
    // two). What they may load is the request filter's to say (KRWebView::mayLoad), and their
    // policy lets no script fetch anything (designDocumentPolicy).
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    settings->setAttribute(QWebEngineSettings::FocusOnNavigationEnabled, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
    settings->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    settings->setAttribute(QWebEngineSettings::AllowRunningInsecureContent, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    m_page->setUrlRequestInterceptor(new KRDesignRequestFilter(this));

    static const QString channelSource = resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    static const QString agentSource = resourceText(QStringLiteral(":/kr/webview/KRDesignAgent.js"));
    m_page->scripts().insert(documentCreationScript(QStringLiteral("kr-qwebchannel"), channelSource));
    m_page->scripts().insert(documentCreationScript(QStringLiteral("kr-design-agent"), agentSource));

    m_channel->registerObject(QStringLiteral("___kr_host"), m_agentHost);
    m_page->setWebChannel(m_channel, QWebEngineScript::MainWorld);
    setPage(m_page);

    connect(m_agentHost, &KRDesignAgentHost::ready, this, &KRWebView::onAgentReady);
    connect(m_agentHost, &KRDesignAgentHost::applied, this, &KRWebView::onBatchApplied);
    connect(m_agentHost, &KRDesignAgentHost::geometry, m_layout, &KRLayoutCache::applyReport);
    m_layout->setAskHandler([this](quint64 nodeId) {
        enqueue(QJsonObject{{QStringLiteral("o"), QStringLiteral("m")}, {QStringLiteral("n"), QJsonArray{double(nodeId)}}});
    });
    connect(m_agentHost, &KRDesignAgentHost::failed, this, [this](const QStringList &errors) {
        m_agentErrors += errors;
        for (const QString &e : errors)
            KR_PLATFORM_LOG(QStringLiteral("Design view could not apply a change: %1").arg(e));
        if (!errors.isEmpty())
            emit documentFailed(QStringLiteral("a change could not be applied (%1)").arg(errors.first()));
    });
    connect(m_page, &KRWebPage::uncaughtScriptError, this, &KRWebView::documentFailed);
    connect(m_agentHost, &KRDesignAgentHost::hostCall, this, &KRWebView::dispatchHostCall);
    connect(m_agentHost, &KRDesignAgentHost::menu, this, [this](quint64 nodeId, const QVariantMap &event) {
        const QPointF client(event.value(QStringLiteral("clientX")).toDouble(), event.value(QStringLiteral("clientY")).toDouble());
        emit contextMenuRequested(nodeId, (client * zoomFactor()).toPoint());
    });
    connect(m_agentHost, &KRDesignAgentHost::press, this, [this](quint64 nodeId, const QVariantMap &event) {
        Qt::KeyboardModifiers modifiers;
        modifiers.setFlag(Qt::ShiftModifier, event.value(QStringLiteral("shiftKey")).toBool());
        modifiers.setFlag(Qt::ControlModifier, event.value(QStringLiteral("ctrlKey")).toBool());
        modifiers.setFlag(Qt::AltModifier, event.value(QStringLiteral("altKey")).toBool());
        modifiers.setFlag(Qt::MetaModifier, event.value(QStringLiteral("metaKey")).toBool());
        KRWebViewPressEvent press(nodeId, modifiers);
        QCoreApplication::sendEvent(this, &press);
    });
    m_placeCheck->setInterval(PlaceCheckInterval);
    connect(m_placeCheck, &QTimer::timeout, this, &KRWebView::checkDocumentPlace);
    connect(m_page, &KRWebPage::mainFrameNavigationAccepted, this, [this] {
        // A new document: nothing reaches it until its agent is connected.
        m_ready = false;
        m_laidOut = false;
    });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int exitCode) {
                if (status == QWebEnginePage::NormalTerminationStatus)
                    return;
                m_ready = false;
                m_laidOut = false;
                m_rendererTerminated = true;
                KR_PLATFORM_LOG(QStringLiteral("Design view renderer ended (status %1, exit code %2)").arg(int(status)).arg(exitCode));
                tellStateObserver();
            });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this] { tellStateObserver(); });
}

KRWebView::~KRWebView()
{
    detachDocument();
}

void KRWebView::loadEmptyDocument(const QUrl &baseURL)
{
    // An empty string, no doctype: the document is in quirks mode, which design markup
    // relies on (unitless lengths).
    loadHTMLString(QString(), baseURL);
}

void KRWebView::loadHTMLString(const QString &html, const QUrl &baseURL)
{
    m_baseURL = baseURL;
    m_ready = false;
    m_laidOut = false;
    m_rendererTerminated = false;
    // The policy comes first, before anything of the document: it holds for the document's
    // whole life, whatever replaces the head it was read from.
    m_scriptNonce = newNonce();
    const QString policy = QStringLiteral("<meta http-equiv=\"Content-Security-Policy\" content=\"%1\">")
                               .arg(designDocumentPolicy(m_scriptNonce));
    m_page->allowNextNavigation();
    m_page->setHtml(policy + html, baseURL);
}

bool KRWebView::isLoading() const
{
    return m_page->isLoading();
}

void KRWebView::contextMenuEvent(QContextMenuEvent *event)
{
    // The agent reports the request with its node; the engine's default items never show.
    event->accept();
}

const KRLayoutSource &KRWebView::layoutSource() const
{
    return *m_layout;
}

void KRWebView::attachDocument(const std::shared_ptr<DOMDocument> &document)
{
    detachDocument();
    if (!document)
        return;
    m_document = document;
    document->addMutationListener(this);
    document->setScriptHost(this);
    m_layout->clear();
    m_layout->forgetAskedNodes();
    // Changes queued for an earlier document mean nothing to this one.
    m_pending = QJsonArray();
    if (m_ready)
        sendInitialDocument();
}

void KRWebView::detachDocument()
{
    if (auto document = m_document.lock()) {
        document->removeMutationListener(this);
        if (document->scriptHost() == this)
            document->setScriptHost(nullptr);
    }
    m_document.reset();
    m_hasScriptFromStream = false;
}

void KRWebView::setHostObject(const QString &name, QObject *object)
{
    if (object)
        m_hostObjects.insert(name, object);
    else
        m_hostObjects.remove(name);
    // The two bridge objects exist in every page; other names are made known to the page.
    if (object && !name.startsWith(QLatin1String("___kr_"))) {
        enqueue(QJsonObject{{QStringLiteral("o"), QStringLiteral("e")},
                            {QStringLiteral("v"), QStringLiteral("window.___kr_agent.defineHostObject(%1)").arg(jsString(name))}});
    }
}

QObject *KRWebView::hostObject(const QString &name) const
{
    return m_hostObjects.value(name).data();
}

void KRWebView::evaluateScript(const QString &script)
{
    // The attached document reports its evaluations to its listeners before handing them to
    // its host; that report already queued the script.
    if (m_hasScriptFromStream && m_scriptFromStream == script) {
        m_hasScriptFromStream = false;
        m_scriptFromStream.clear();
        return;
    }
    enqueue(QJsonObject{{QStringLiteral("o"), QStringLiteral("e")}, {QStringLiteral("v"), script}});
}

QJsonArray KRWebView::nodeTree(const DOMNode &node)
{
    const double id = double(node.nodeId());
    if (node.isElement()) {
        const auto &element = static_cast<const DOMElement &>(node);
        QJsonArray attributes;
        for (const auto &attribute : element.attributes()) {
            attributes.append(attribute.first);
            attributes.append(attribute.second);
        }
        QJsonArray children;
        for (const auto &child : node.childNodes())
            children.append(nodeTree(*child));
        // Rules added to a style element's sheet, or taken from it, are in the sheet only: the
        // view's sheet starts from the rules, so that it holds what the page's does and the
        // rule changes that follow find their rules at the same places.
        const auto sheet = element.sheetIfParsed();
        if (sheet && children.size() == 1 && node.childNodes().front()->isText()) {
            QJsonArray text = children.at(0).toArray();
            text.replace(2, sheet->rulesText());
            children.replace(0, text);
        }
        return QJsonArray{id, 1, element.localName(), attributes, children};
    }
    if (node.isText() || node.isComment())
        return QJsonArray{id, int(node.nodeType()), static_cast<const DOMCharacterData &>(node).data()};
    return QJsonArray{id, 8, QString()};
}

void KRWebView::domDidMutate(const DOMMutation &m)
{
    using Type = DOMMutation::Type;
    if (m.type == Type::ScriptEvaluated) {
        auto document = m_document.lock();
        if (document && document->scriptHost() == this) {
            m_scriptFromStream = m.value;
            m_hasScriptFromStream = true;
        }
        enqueue(QJsonObject{{QStringLiteral("o"), QStringLiteral("e")}, {QStringLiteral("v"), m.value}});
        return;
    }
    // Before the agent is connected the changes are not recorded: the whole document goes
    // over once it is.
    if (!m_ready)
        return;
    const QString o = QStringLiteral("o");
    const QString n = QStringLiteral("n");
    const QString k = QStringLiteral("k");
    const QString v = QStringLiteral("v");
    QJsonObject op;
    switch (m.type) {
    case Type::ChildInserted:
        if (!m.insertedNode)
            return;
        op = {{o, QStringLiteral("i")}, {QStringLiteral("p"), double(m.target)}, {QStringLiteral("b"), double(m.before)},
              {QStringLiteral("t"), nodeTree(*m.insertedNode)}};
        break;
    case Type::ChildRemoved:
        op = {{o, QStringLiteral("r")}, {QStringLiteral("p"), double(m.target)}, {n, double(m.node)}};
        m_layout->removeNode(m.node);
        break;
    case Type::AttributeSet:
        op = {{o, QStringLiteral("a")}, {n, double(m.target)}, {k, m.name}, {v, m.value}};
        break;
    case Type::AttributeRemoved:
        op = {{o, QStringLiteral("ar")}, {n, double(m.target)}, {k, m.name}};
        break;
    case Type::TextChanged:
        op = {{o, QStringLiteral("t")}, {n, double(m.target)}, {v, m.value}};
        break;
    case Type::StyleSet:
    case Type::StyleRemoved:
        op = {{o, m.type == Type::StyleSet ? QStringLiteral("s") : QStringLiteral("sr")}, {n, double(m.target)},
              {k, m.name}, {v, m.value}, {QStringLiteral("p"), m.priority}, {QStringLiteral("x"), m.index}};
        break;
    case Type::ClassAdded:
        op = {{o, QStringLiteral("ca")}, {n, double(m.target)}, {k, m.name}};
        break;
    case Type::ClassRemoved:
        op = {{o, QStringLiteral("cr")}, {n, double(m.target)}, {k, m.name}};
        break;
    case Type::RuleInserted:
        op = {{o, QStringLiteral("ri")}, {n, double(m.target)}, {QStringLiteral("x"), m.index}, {v, m.value}};
        break;
    case Type::RuleDeleted:
        op = {{o, QStringLiteral("rd")}, {n, double(m.target)}, {QStringLiteral("x"), m.index}};
        break;
    case Type::ScriptEvaluated:
        return;
    }
    enqueue(std::move(op));
}

void KRWebView::enqueue(QJsonObject &&op)
{
    m_pending.append(std::move(op));
    scheduleFlush();
}

void KRWebView::scheduleFlush()
{
    if (m_flushScheduled || !m_ready)
        return;
    m_flushScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_flushScheduled = false;
        flush();
    });
}

void KRWebView::flush()
{
    if (!m_ready || m_pending.isEmpty())
        return;
    const quint64 batch = ++m_issued;
    const QByteArray ops = QJsonDocument(m_pending).toJson(QJsonDocument::Compact);
    m_pending = QJsonArray();
    m_page->runJavaScript(QStringLiteral("window.___kr_agent.apply(%1,%2,%3);").arg(batch).arg(QString::fromUtf8(ops), jsString(m_scriptNonce)));
}

void KRWebView::sendInitialDocument()
{
    auto document = m_document.lock();
    if (!document)
        return;
    // Scripts evaluated before the view was ready run after the document arrived, in order;
    // the document's changes are in the snapshot.
    QJsonArray scripts;
    for (const auto &op : std::as_const(m_pending))
        if (op.toObject().value(QStringLiteral("o")).toString() == QLatin1String("e"))
            scripts.append(op);
    m_pending = QJsonArray();
    if (const auto root = document->documentElement()) {
        m_pending.append(QJsonObject{{QStringLiteral("o"), QStringLiteral("init")},
                                     {QStringLiteral("d"), double(document->nodeId())},
                                     {QStringLiteral("t"), nodeTree(*root)}});
        // The nodes read so far are measured in this load too.
        QJsonArray asked;
        for (const quint64 id : m_layout->askedNodes())
            asked.append(double(id));
        if (!asked.isEmpty())
            m_pending.append(QJsonObject{{QStringLiteral("o"), QStringLiteral("m")}, {QStringLiteral("n"), asked}});
    }
    for (const auto &name : m_hostObjects.keys())
        if (!name.startsWith(QLatin1String("___kr_")) && m_hostObjects.value(name))
            m_pending.append(QJsonObject{{QStringLiteral("o"), QStringLiteral("e")},
                                         {QStringLiteral("v"), QStringLiteral("window.___kr_agent.defineHostObject(%1)").arg(jsString(name))}});
    for (const auto &op : std::as_const(scripts))
        m_pending.append(op);
    m_layout->clear();
    flush();
}

void KRWebView::onAgentReady(const QString &url)
{
    Q_UNUSED(url);
    m_ready = true;
    m_rendererTerminated = false;
    if (m_document.lock()) {
        sendInitialDocument();
    } else {
        // Without a document only scripts can be waiting.
        flush();
    }
    m_laidOut = documentHasPlace();
    if (!m_laidOut) {
        m_placeWait.start();
        m_placeCheck->start();
    }
    // Told before the signals, whose receivers may do anything with the view.
    tellStateObserver();
    const QPointer<KRWebView> self(this);
    emit agentReady();
    if (self && m_laidOut)
        emit documentLaidOut();
}

// Here the engine describes its documents only when a tool listens and it is allowed to (its
// variable), or when it was started to always.
bool KRWebView::documentsDescribed()
{
    static const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    static const bool always = flags.contains("--force-renderer-accessibility");
    static const bool allowed = qEnvironmentVariable("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", QStringLiteral("0")) != QLatin1String("0");
    return always || (allowed && QAccessible::isActive());
}

bool KRWebView::documentHasPlace() const
{
    return documentHasPlace(this);
}

bool KRWebView::documentHasPlace(const QWebEngineView *webView)
{
    // A document the engine does not describe stands empty in the accessible tree for good.
    if (!documentsDescribed())
        return true;
    // The document is the view's one accessible child; until the engine has described it, it
    // has no place.
    QAccessibleInterface *view = QAccessible::queryAccessibleInterface(const_cast<QWebEngineView *>(webView));
    QAccessibleInterface *document = view && view->childCount() > 0 ? view->child(0) : nullptr;
    return document && document->role() == QAccessible::WebDocument && !document->rect().isEmpty();
}

void KRWebView::checkDocumentPlace()
{
    if (!m_ready) {
        m_placeCheck->stop();
        return;
    }
    // An engine that never tells holds nobody up for long.
    if (!documentHasPlace() && m_placeWait.elapsed() < PlaceWaitLimit)
        return;
    m_placeCheck->stop();
    m_laidOut = true;
    tellStateObserver();
    emit documentLaidOut();
}

void KRWebView::tellStateObserver()
{
    // A copy: the observer may replace itself.
    if (const std::function<void()> observer = m_stateObserver)
        observer();
}

void KRWebView::onBatchApplied(quint64 batch, const QVariantList &rows)
{
    if (batch > m_applied && batch <= m_issued)
        m_applied = batch;
    m_layout->applyReport(rows);
    emit batchApplied(batch);
}

// Calls a public slot or invokable method of a host object whose name and argument count
// match, converting the page's plain values to the parameter types. Exceptions stop here: a
// page script must not be able to end the program.
void KRWebView::dispatchHostCall(const QString &objectName, const QString &method, const QVariantList &args)
{
    QObject *object = m_hostObjects.value(objectName).data();
    if (!object)
        return; // no one installed that bridge: the call has no receiver, as in a page without it
    const QMetaObject *meta = object->metaObject();
    const QByteArray name = method.toLatin1();
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.access() != QMetaMethod::Public || m.methodType() == QMetaMethod::Signal
            || m.methodType() == QMetaMethod::Constructor || m.name() != name
            || m.parameterCount() != args.size() || args.size() > 4)
            continue;
        QVariantList values = args;
        QGenericArgument a[4];
        bool ok = true;
        for (int p = 0; p < args.size(); ++p) {
            const QMetaType type = m.parameterMetaType(p);
            if (type.id() == QMetaType::QVariant) {
                a[p] = QGenericArgument("QVariant", &values[p]);
                continue;
            }
            if (!values[p].convert(type)) {
                ok = false;
                break;
            }
            a[p] = QGenericArgument(type.name(), values[p].constData());
        }
        if (!ok)
            continue;
        try {
            m.invoke(object, Qt::DirectConnection, a[0], a[1], a[2], a[3]);
        } catch (const std::exception &e) {
            KR_PLATFORM_LOG(QStringLiteral("%1.%2 from the design view failed: %3").arg(objectName, method, QString::fromUtf8(e.what())));
        }
        return;
    }
    KR_PLATFORM_LOG(QStringLiteral("Design view called %1.%2 with %3 arguments: no such method")
               .arg(objectName, method).arg(args.size()));
    emit hostCallFailed(objectName, method);
}

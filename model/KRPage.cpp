#include "KRPage.h"

#include <core/GCDispatch.h>
#include <core/KRJSONSerialization.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <core/KRXMLDocument.h>
#include <model/KRClassRegistry.h>
#include <model/KRDesignViewWriter.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRLocalServerPort.h>
#include <model/KRModelAdapter.h>
#include <model/KRObjectInfo.h>
#include <model/KRPasteboard.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRStyleClass.h>
#include <model/KRWebFolder.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMScriptHost.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <optional>

void KRPageProxy::jqueryLoaded() { m_delegate->addJQMjs(); }

void KRPageProxy::jqueryMobileLoaded() { m_delegate->jqueryMobileLoaded(); }

void KRPageProxy::libraryFailedToLoad() { m_delegate->libraryFailedToLoad(); }

namespace {

std::vector<KRPropertyDescriptor> pageDescriptors()
{
    auto d = [](const char *name, const char *css, std::uint32_t options, const char *html = "") {
        return KRPropertyDescriptor(QString::fromLatin1(name), QString::fromLatin1(html), QString::fromLatin1(css), options);
    };
    const std::uint32_t event = KRAdapterOptionEvent | KRAdapterOptionFunctionReference;
    // The background colour is a colour, never a function name: no function-reference bit.
    return {
        d("formAction", "", KRAdapterOptionJSString),
        d("formMethod", "", 0),
        d("cssIncludes", "", KRAdapterOptionXMLChildElement),
        d("javascriptIncludes", "", KRAdapterOptionXMLChildElement),
        d("title", "", KRAdapterOptionDOMText),
        d("color", "color", 0),
        d("onClick", "", event),
        d("onTouchStart", "", event),
        d("onTouchMove", "", event),
        d("onTouchEnd", "", event),
        d("onLoad", "", event),
        d("onOrientationChange", "", event),
        d("onSubmit", "", event),
        d("backgroundColor", "background-color",
          KRAdapterOptionCSSImportant | KRAdapterOptionUpdateDesignView | KRAdapterOptionParentStyle),
        d("backgroundImage", "background-image",
          KRAdapterOptionPerDevice | KRAdapterOptionCSSImportant | KRAdapterOptionCSSURL),
        d("backgroundGradient", "background", KRAdapterOptionCSSImportant | KRAdapterOptionLinearGradient),
        d("backgroundRepeat", "background-repeat", KRAdapterOptionCSSImportant),
        d("backgroundPosition", "background-position", KRAdapterOptionCSSImportant),
        d("backgroundAttachment", "background-attachment", KRAdapterOptionCSSImportant),
        d("fontFamily", "font-family", KRAdapterOptionCSSImportant),
        d("fontStyle", "font-style", 0),
        d("fontWeight", "font-weight", 0),
        d("fontSize", "font-size", KRAdapterOptionCSSPixels),
        d("textAlign", "text-align", 0),
        d("letterSpacing", "letter-spacing", KRAdapterOptionCSSPixels),
        d("lineHeight", "line-height", 0),
        d("textShadow", "text-shadow", 0),
        d("theme", "", KRAdapterOptionPageDiv | KRAdapterOptionUpdateDesignView, "data-theme"),
        d("onGET", "", KRAdapterOptionFunctionReference),
        d("onPOST", "", KRAdapterOptionFunctionReference),
    };
}

const QString kDesignStyleText = QStringLiteral(
    "html, body { font-size: 16px; font-family: \"Helvetica\"; background-color: #eee;}\n"
    "div { -webkit-box-sizing: border-box;}\n"
    "input, select { font-size: 24px; }\n"
    "input[type=\"text\"] { padding: 4px; }\n"
    "input { color: black }\n"
    "table, tr, td { border-color: black; border-width: 1px; }\n"
    ".ui-slider-input {display: none !important;}\n"
    ".ui-slider-track {width: 100% !important; margin: 0 0% 0 0% !important}\n"
    "form.ui-listview-filter {margin: 0 0% 0 0% !important}\n"
    // A button fills its control's box: what is drawn is what takes the clicks.
    "[data-kr-text] > .ui-input-btn {margin: 0; min-height: 100%; -webkit-box-sizing: border-box; box-sizing: border-box; "
    "display: -webkit-flex; display: flex; -webkit-align-items: center; align-items: center; "
    "-webkit-justify-content: center; justify-content: center;}\n");

// The sort key of a position attribute's text (null: the attribute is absent).
int positionKey(const QString &text)
{
    if (text.isNull())
        return std::numeric_limits<int>::max();
    bool ok = false;
    const int value = QStringView(text).trimmed().toInt(&ok);
    return ok ? value : 0;
}

// Where the build puts an object among those of its container: objects without "top" first,
// then by top and left; the caller keeps file order among equals (a stable sort).
struct BuildPlace
{
    bool hasTop = false;
    int top = 0;
    int left = 0;
};

BuildPlace buildPlace(const QString &top, const QString &left)
{
    return {!top.isNull(), positionKey(top), positionKey(left)};
}

BuildPlace buildPlace(const KRXMLNode &element)
{
    return buildPlace(element.attribute(QStringLiteral("top")), element.attribute(QStringLiteral("left")));
}

bool buildsBefore(const BuildPlace &a, const BuildPlace &b)
{
    if (a.hasTop != b.hasTop)
        return !a.hasTop;
    if (a.top != b.top)
        return a.top < b.top;
    return a.left < b.left;
}

// The objects of the list that no other one of it holds (a div holds what is nested in it),
// each once, in the list's order.
QList<std::shared_ptr<KRObject>> outermostOf(const QList<std::shared_ptr<KRObject>> &objects)
{
    QSet<const KRObject *> listed;
    for (const auto &object : objects)
        listed.insert(object.get());
    QList<std::shared_ptr<KRObject>> outermost;
    QSet<const KRObject *> taken;
    for (const auto &object : objects) {
        if (!object || taken.contains(object.get()))
            continue;
        bool held = false;
        for (auto parent = object->parentObject(); parent && !held; parent = parent->parentObject())
            held = listed.contains(parent.get());
        if (!held) {
            outermost.append(object);
            taken.insert(object.get());
        }
    }
    return outermost;
}

// Controls: objects that place an element on the page (the control base sets the flag) and
// every class derived from "KRControl".
bool isControl(const KRObject &object)
{
    return object.visualObject() || KRClassRegistry::sharedInstance().isKindOf(object.kr_className(), QStringLiteral("KRControl"));
}

// The text of a page's style element: the same for every page of a kind, made once.
QString makePageStyleText(bool designMode)
{
    QString styleText = kDesignStyleText;
    styleText += QStringLiteral("div[data-role=page].ui-page {background: inherit !important; font-family: inherit !important; "
                                "color: inherit !important; text-shadow: inherit !important;}\n");
    for (const QString &property : KRPage::widgetTextProperties())
        styleText += KRPage::widgetTextRule(QStringLiteral("[%1~=\"%2\"]").arg(KRPage::widgetTextAttribute(), property), {property}) +
                     QLatin1Char('\n');
    if (designMode) {
        // The design document is read in quirks mode, which puts a margin below a form: a list's
        // filter field stands above its items as in a built page.
        styleText += QStringLiteral("form.ui-filterable {margin-bottom: 0 !important;}\n");
        styleText += QStringLiteral(".ui-disabled, .ui-state-disabled {opacity: 1.0 !important;}\n"
                                    ".ui-select .ui-disabled, .ui-select .ui-state-disabled { opacity: 1.0 !important;}\n");
        // The page fills the screen whatever jQuery Mobile measured: it sizes the page while
        // fixed bars pad it, and the design view takes that padding away again.
        styleText += QStringLiteral("div[data-role=page].ui-page {min-height: 100vh !important;}\n");
    }
    styleText += QStringLiteral("p.kr-css-marker {}\n");
    return styleText;
}

const QString &pageStyleText(bool designMode)
{
    static const QString texts[2] = {makePageStyleText(false), makePageStyleText(true)};
    return texts[designMode];
}

} // namespace

void KRPage::registerPageClass()
{
    // Once per process: a build makes its pages (and asks for this) on several threads.
    static const bool registered = [] {
        KRObjectClass page;
        page.className = QStringLiteral("KRPage");
        page.superclassName = QStringLiteral("KRObject");
        page.idBase = QStringLiteral("page");
        page.descriptors = pageDescriptors();
        page.factory = [](const KRObjectInit &) -> std::shared_ptr<KRObject> { return nullptr; }; // made by create()
        KRClassRegistry::sharedInstance().registerClass(page);
        KRStyleClass::registerClass();
        if (!KRModelAdapter::domWriter())
            KRModelAdapter::setDOMWriter(std::make_shared<KRDesignViewWriter>());
        return true;
    }();
    (void)registered;
}

KRResult<std::shared_ptr<KRPage>> KRPage::create(const KRXMLElement &element, const std::shared_ptr<KRProject> &project,
                                                const QString &initialID, bool designMode)
{
    registerPageClass();
    if (initialID.isNull() && !element.hasAttribute(QStringLiteral("id")))
        return KRError(QStringLiteral("Korvane"), 100, QStringLiteral("A page of the project has no id."));
    KRObjectInit init;
    init.objectClass = KRClassRegistry::sharedInstance().classNamed(QStringLiteral("KRPage"));
    init.element = element;
    init.initialID = initialID;
    init.designMode = designMode;
    auto page = std::make_shared<KRPage>(init, project);
    page->buildDocument();
    page->setUp();
    page->finishDocument();
    return page;
}

KRPage::KRPage(const KRObjectInit &init, const std::shared_ptr<KRProject> &project) : KRPageBase(init), m_project(project)
{
}

KRPage::~KRPage() { cleanup(); }

std::shared_ptr<KRProjectBase> KRPage::pageProject() const { return m_project.lock(); }

void KRPage::setScriptHost(DOMScriptHost *host)
{
    // jQuery Mobile has yet to load in a new view: work queued from now on waits for it, and
    // the view starts from jQuery alone even when the last one never finished loading.
    const bool newView = host && host != m_scriptHost;
    if (newView) {
        m_didJQueryMobileLoad = false;
        detachJQMScripts();
    }
    m_scriptHost = host ? host : m_recordingHost.get();
    m_domDocument->setScriptHost(m_scriptHost);
    m_scriptHost->setHostObject(QStringLiteral("___kr_page"), m_proxy.get());
    if (newView)
        requeueDesignSetUps();
}

void KRPage::evaluateScript(const QString &script)
{
    if (m_scriptHost)
        m_scriptHost->evaluateScript(script);
}

std::shared_ptr<DOMElement> KRPage::getOrCreateChildElement(DOMDocument &document, const std::shared_ptr<DOMElement> &parent,
                                                            const QString &name)
{
    if (auto found = parent->firstElementByTagName(name))
        return found;
    auto element = document.createElement(name);
    parent->appendChild(element);
    return element;
}

QString KRPage::jQueryURL() const
{
    const auto proj = project();
    static const QString path = QStringLiteral("/__kr_bundle/jquery-1.9.0/jquery.min.js");
    const QString cdn = KRProject::publicLibraryURL(QStringLiteral("jquery"));
    QString src = path;
    if (designMode())
        src = QStringLiteral("http://127.0.0.1:%1/%2").arg(KRLocalServerPort::port()).arg(path);
    if (proj->publishBuildMode())
        src = cdn;
    if (proj->exportMode()) {
        src = KRUserDefaults::sharedInstance().stringValue(QStringLiteral("jquery-js"));
        if (src.isEmpty() && proj->exportLocalJQuerySources())
            src = QStringLiteral("jquery-1.9.0/jquery.min.js");
    }
    return src.isEmpty() ? cdn : src;
}

void KRPage::buildDocument()
{
    const auto proj = project();
    KR_ASSERT(proj != nullptr, "a page needs its project");
    m_domDocument = DOMDocument::createHTMLDocument();
    m_recordingHost = std::make_unique<DOMRecordingScriptHost>();
    // The bridge the design view's scripts call; a page made for output runs no script.
    if (designMode())
        m_proxy = std::make_unique<KRPageProxy>(this);
    setScriptHost(nullptr);
    DOMDocument &doc = *m_domDocument;
    m_htmlElement = doc.documentElement();
    KR_ASSERT(m_htmlElement != nullptr, "the design document has no document element");
    if (!designMode() && proj->generateManifest())
        m_htmlElement->setAttribute(QStringLiteral("manifest"), KRProject::manifestURL());
    m_headElement = getOrCreateChildElement(doc, m_htmlElement, QStringLiteral("head"));
    m_titleElement = getOrCreateChildElement(doc, m_headElement, QStringLiteral("title"));

    auto append = [&](const QString &tag, std::initializer_list<std::pair<QString, QString>> attributes) {
        auto element = doc.createElement(tag);
        for (const auto &[name, value] : attributes)
            element->setAttribute(name, value);
        m_headElement->appendChild(element);
        return element;
    };
    append(QStringLiteral("meta"), {{QStringLiteral("http-equiv"), QStringLiteral("Content-Type")},
                                    {QStringLiteral("content"), QStringLiteral("text/html; charset=UTF-8")}});
    if (!designMode() && !proj->appleTouchIcon().isEmpty()) {
        append(QStringLiteral("link"),
               {{QStringLiteral("rel"), QStringLiteral("apple-touch-icon")},
                {QStringLiteral("href"), KRWebFolder::linkAddress(proj->appleTouchIcon())}});
        m_manifestResources.insert(proj->appleTouchIcon());
    }
    append(QStringLiteral("meta"),
           {{QStringLiteral("name"), QStringLiteral("viewport")},
            {QStringLiteral("content"), QStringLiteral("user-scalable=no, width=device-width, initial-scale = 1.0,maximum-scale = 1.0")}});
    append(QStringLiteral("meta"), {{QStringLiteral("name"), QStringLiteral("apple-mobile-web-app-capable")},
                                    {QStringLiteral("content"), QStringLiteral("yes")}});

    const QString &styleText = pageStyleText(designMode());
    auto style = getOrCreateChildElement(doc, m_headElement, QStringLiteral("style"));
    style->setAttribute(QStringLiteral("type"), QStringLiteral("text/css"));
    style->setTextContent(styleText);
    m_headElement->appendChild(style);
    // The first style element's sheet is the page's; most pages built for output never ask.
    const auto styles = doc.getElementsByTagName(QStringLiteral("style"));
    m_styleElement = styles.empty() ? style : styles.front();
    m_styleSheet.reset();

    addCSS(proj->jqmStructureCSSURL(designMode()));
    addCSS(proj->jqmIconsCSSURL(designMode()));

    const QString jquery = jQueryURL();
    auto script = doc.createElement(QStringLiteral("script"));
    script->setAttribute(QStringLiteral("src"), KRWebFolder::linkAddress(jquery));
    if (designMode()) {
        script->setAttribute(QStringLiteral("onload"), QStringLiteral("window.___kr_page.jqueryLoaded()"));
        script->setAttribute(QStringLiteral("onerror"), QStringLiteral("window.___kr_page.libraryFailedToLoad()"));
    }
    m_headElement->appendChild(script);
    m_manifestResources.insert(jquery);

    if (!designMode()) {
        addJQMMobileinit();
        const QString jqm = proj->jqmJSURL(false);
        addExternalScript(jqm);
    }

    m_bodyElement = getOrCreateChildElement(doc, m_htmlElement, QStringLiteral("body"));
    if (designMode()) {
        static const std::pair<const char *, const char *> handlers[] = {
            {"ondragenter", "window.___kr_dwc.onDragEnter_(event)"},
            {"ondragover", "window.___kr_dwc.onDragOver_(event)"},
            {"onclick", "window.___kr_dwc.onClickBody_(event)"},
            {"onmousedown", "window.___kr_dwc.onMouseDown_(event)"},
            {"onmouseup", "window.___kr_dwc.onMouseUp_(event)"}};
        for (const auto &[name, value] : handlers)
            m_bodyElement->setAttribute(QString::fromLatin1(name), QString::fromLatin1(value));
        m_bodyElement->style().setProperty(QStringLiteral("-webkit-user-select"), QStringLiteral("none"));
        if (const auto document = proj->krDocument()) {
            const std::weak_ptr<KRObject> weak = weak_from_this();
            m_tokens.push_back(KRNotificationCenter::defaultCenter().addObserver(
                KRDidSaveDocumentNotification, document->identity(), [weak](const KRNotification &) {
                    const auto self = std::static_pointer_cast<KRPage>(weak.lock());
                    if (!self)
                        return;
                    // A document set up before the project had a folder of its own points
                    // at the application's resources; re-point it after the first save.
                    const auto base = self->m_headElement->firstElementByTagName(QStringLiteral("base"));
                    const auto proj = self->project();
                    if (base && proj && !base->getAttribute(QStringLiteral("href")).startsWith(proj->webFolder()->krwebPath())) {
                        self->m_headElement->removeChild(base);
                        self->addBaseElement();
                    }
                }));
        }
        auto drag = doc.createElement(QStringLiteral("div"));
        drag->setAttribute(QStringLiteral("id"), QStringLiteral("___kr_dragdiv"));
        DOMCSSStyleDeclaration &dragStyle = drag->style();
        dragStyle.setProperty(QStringLiteral("position"), QStringLiteral("absolute"));
        dragStyle.setProperty(QStringLiteral("top"), QStringLiteral("1"));
        dragStyle.setProperty(QStringLiteral("left"), QStringLiteral("1"));
        dragStyle.setProperty(QStringLiteral("width"), QStringLiteral("1"));
        dragStyle.setProperty(QStringLiteral("height"), QStringLiteral("1"));
        dragStyle.setProperty(QStringLiteral("z-index"), QStringLiteral("-9999999"));
        m_bodyElement->appendChild(drag);
        auto dragScript = doc.createElement(QStringLiteral("script"));
        dragScript->setAttribute(QStringLiteral("type"), QStringLiteral("text/javascript"));
        dragScript->setTextContent(QStringLiteral(
            "function dragstart(element, event) { event.dataTransfer.setDragImage(document.getElementById(\"___kr_dragdiv\"), "
            "0, 0); window.___kr_dwc.onDragStart_withEvent_(element, event);}"));
        m_bodyElement->appendChild(dragScript);
    }

    m_pageDivElement = doc.createElement(QStringLiteral("div"));
    m_pageDivElement->setAttribute(QStringLiteral("id"), value(QStringLiteral("kr_id")).isNull()
                                                             ? xmlElement().attribute(QStringLiteral("id"))
                                                             : kr_id());
    m_pageDivElement->setDataAttribute(QStringLiteral("role"), QStringLiteral("page"));
    m_bodyElement->appendChild(m_pageDivElement);
    setDomElement(m_pageDivElement);
}

void KRPage::willEnableModelAdapters()
{
    if (const auto title = modelAdapter(QStringLiteral("kr_title")))
        title->setDomElement(m_titleElement);
}

void KRPage::finishDocument()
{
    setThemeCSS();
    m_bodyElement->style().setProperty(QStringLiteral("margin"), QStringLiteral("0"));
    m_bodyElement->style().setProperty(QStringLiteral("padding"), QStringLiteral("0"));
    rebuildAllObjectsArray();

    if (!designMode()) {
        QStringList includes = project()->cssIncludes();
        includes += value(QStringLiteral("kr_cssIncludes")).split(QLatin1Char('\n'));
        for (const QString &entry : includes) {
            if (entry.isEmpty())
                continue;
            auto link = m_domDocument->createElement(QStringLiteral("link"));
            link->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
            const bool less = entry.endsWith(QLatin1String(".less")) && !entry.startsWith(QLatin1String("http"));
            link->setAttribute(QStringLiteral("type"), less ? QStringLiteral("text/less") : QStringLiteral("text/css"));
            link->setAttribute(QStringLiteral("href"), KRWebFolder::linkAddress(entry));
            m_headElement->appendChild(link);
            m_manifestResources.insert(entry);
        }
    }
    addObject(std::static_pointer_cast<KRObject>(shared_from_this()));

    if (designMode()) {
        addBaseElement();
        queueToolbarFix();
    }
}

void KRPage::queueToolbarFix()
{
    if (m_toolbarFixQueued)
        return;
    m_toolbarFixQueued = true;
    const std::weak_ptr<KRObject> weak = weak_from_this();
    onJQueryMobileLoaded([weak] {
        const auto self = std::static_pointer_cast<KRPage>(weak.lock());
        if (!self)
            return;
        self->m_toolbarFixQueued = false;
        QFile file(KRResources::pathForResource(QStringLiteral("toolbar-fix.js")));
        if (file.open(QIODevice::ReadOnly))
            self->evaluateScript(QString::fromUtf8(file.readAll()));
    });
}

void KRPage::addJQMjs()
{
    // jQuery has loaded in a view mirroring the page. The jQuery Mobile scripts follow it, and
    // leave the document again once jQuery Mobile has loaded (jqueryMobileLoaded), so that a
    // view that mirrors the page later (another view, or this one reloaded) starts from
    // jQuery alone as the first did, instead of running them before jQuery is there.
    if (!m_jqmScripts.empty()) {
        if (m_jqmScripts.front()->parentNode())
            return; // still on their way: this load runs them
        // A later load: the same elements once more, and the page's own set-up once more.
        m_didJQueryMobileLoad = false;
        for (const auto &script : m_jqmScripts)
            m_headElement->appendChild(script);
        requeueDesignSetUps();
        return;
    }
    const auto headScripts = [this] { return m_headElement->getElementsByTagName(QStringLiteral("script")).size(); };
    const auto before = headScripts();
    addJQMMobileinit();
    if (headScripts() > before)
        m_jqmScripts.push_back(m_headElement->getElementsByTagName(QStringLiteral("script")).back());
    const auto proj = project();
    if (!proj)
        return;
    auto script = m_domDocument->createElement(QStringLiteral("script"));
    const QString src = QStringLiteral("http://127.0.0.1:%1/%2").arg(KRLocalServerPort::port()).arg(proj->jqmURLs().value(QStringLiteral("jsLocalPath")));
    script->setAttribute(QStringLiteral("src"), src);
    if (designMode()) {
        script->setAttribute(QStringLiteral("onload"), QStringLiteral("window.___kr_page.jqueryMobileLoaded()"));
        script->setAttribute(QStringLiteral("onerror"), QStringLiteral("window.___kr_page.libraryFailedToLoad()"));
    }
    m_headElement->appendChild(script);
    m_jqmScripts.push_back(script);
    m_manifestResources.insert(src);
}

void KRPage::detachJQMScripts()
{
    for (const auto &script : m_jqmScripts) {
        if (const auto parent = script->parentNode())
            parent->removeChild(script);
    }
}

void KRPage::addJQMMobileinit()
{
    const auto proj = project();
    if (!proj || proj->ajaxPageLoading())
        return;
    addScript(QStringLiteral("$(document).bind(\"mobileinit\", function() {\n"
                             "$.mobile.ajaxEnabled = false;\n"
                             "$.mobile.hashListeningEnabled = false;\n"
                             "$.mobile.pushStateEnabled = false;\n"
                             "});\n"));
}

void KRPage::jqueryMobileLoaded()
{
    m_didJQueryMobileLoad = true;
    // Loaded: the scripts have done their work in the view (see addJQMjs).
    detachJQMScripts();
    std::vector<Block> blocks;
    blocks.swap(m_onJQMLoadedBlocks);
    if (!blocks.empty())
        GCDispatch::performBlocksInMainQueue(std::move(blocks));
}

void KRPage::libraryFailedToLoad()
{
    KR_LOG(QStringLiteral("A library of the design view of %1 did not load").arg(kr_id()));
    KRNotificationCenter::defaultCenter().post(KRPageLibraryDidFailToLoadNotification, identity());
}

void KRPage::refreshLibraryAddresses()
{
    if (!designMode() || !m_headElement)
        return;
    static const QRegularExpression serverAddress(QStringLiteral("^http://127\\.0\\.0\\.1:-?\\d+/"));
    const QString current = QStringLiteral("http://127.0.0.1:%1/").arg(KRLocalServerPort::port());
    const auto repoint = [&](const std::shared_ptr<DOMElement> &element, const QString &name) {
        const QString value = element->getAttribute(name);
        const QRegularExpressionMatch match = serverAddress.match(value);
        if (match.hasMatch() && match.captured() != current)
            element->setAttribute(name, current + value.mid(match.capturedLength()));
    };
    for (const auto &link : m_headElement->getElementsByTagName(QStringLiteral("link")))
        repoint(link, QStringLiteral("href"));
    for (const auto &script : m_headElement->getElementsByTagName(QStringLiteral("script")))
        repoint(script, QStringLiteral("src"));
    for (const auto &script : m_jqmScripts) {
        if (!script->parentNode())
            repoint(script, QStringLiteral("src"));
    }
    // A theme of the project's own points its pictures at the server too.
    if (m_themeStyleElement)
        setThemeCSS();
}

void KRPage::onJQueryMobileLoaded(Block block)
{
    if (m_didJQueryMobileLoad && m_onJQMLoadedBlocks.empty()) {
        block();
        return;
    }
    m_onJQMLoadedBlocks.push_back(std::move(block));
    if (m_didJQueryMobileLoad)
        jqueryMobileLoaded();
}

namespace {
bool classNamesScripts(const QString &className)
{
    const KRClassRegistry &classes = KRClassRegistry::sharedInstance();
    for (const KRObjectClass *k = classes.classNamed(className); k; k = classes.classNamed(k->superclassName)) {
        if (!k->requiredScripts.isEmpty())
            return true;
        if (k->superclassName.isEmpty())
            break;
    }
    return false;
}
} // namespace

void KRPage::queueDesignSetUp(const std::shared_ptr<KRObject> &object, Block block)
{
    if (!object || !block)
        return;
    DesignSetUp &setUp = m_designSetUps[object];
    setUp.block = block;
    setUp.pending = true;
    const quint64 serial = setUp.serial = ++m_designSetUpSerial;
    const std::weak_ptr<KRObject> weakSelf = weak_from_this();
    const std::weak_ptr<KRObject> weakObject = object;
    onJQueryMobileLoaded([weakSelf, weakObject, serial, block = std::move(block)] {
        // Marked first: a set-up that queues another one leaves that one pending.
        if (const auto self = std::static_pointer_cast<KRPage>(weakSelf.lock())) {
            const auto found = self->m_designSetUps.find(weakObject);
            if (found != self->m_designSetUps.end() && found->second.serial == serial)
                found->second.pending = false;
        }
        block();
    });
}

void KRPage::queueDesignSetUpScript(const std::shared_ptr<KRObject> &object, const QString &script)
{
    const std::weak_ptr<KRObject> weakSelf = weak_from_this();
    queueDesignSetUp(object, [weakSelf, script] {
        if (const auto self = std::static_pointer_cast<KRPage>(weakSelf.lock()))
            self->evaluateScript(script);
    });
}

bool KRPage::hasPendingDesignSetUps() const
{
    return std::any_of(m_designSetUps.begin(), m_designSetUps.end(),
                       [](const auto &entry) { return entry.second.pending && !entry.first.expired(); });
}

bool KRPage::evaluateScriptFileOnce(const QString &path)
{
    if (m_evaluatedScriptFiles.contains(path))
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    evaluateScript(QString::fromUtf8(file.readAll()));
    m_evaluatedScriptFiles.insert(path);
    return true;
}

void KRPage::evaluateRequiredObjectScripts()
{
    // In the order the classes name them, each once per view.
    const QDir resources(KRResources::resourcesDirectory());
    for (const QString &path : std::as_const(m_requiredObjectScripts)) {
        if (!evaluateScriptFileOnce(resources.filePath(QStringLiteral("local-server/") + path)))
            KR_LOG(QStringLiteral("Unable to load source for class resource %1").arg(path));
    }
}

namespace {
// The objects of the table in the order of their elements below the root (the root included).
std::vector<std::shared_ptr<KRObject>> inDocumentOrder(const DOMNode &root,
                                                       const QHash<const DOMNode *, std::shared_ptr<KRObject>> &byElement)
{
    std::vector<std::shared_ptr<KRObject>> ordered;
    std::vector<const DOMNode *> stack{&root};
    while (!stack.empty() && ordered.size() < static_cast<size_t>(byElement.size())) {
        const DOMNode *node = stack.back();
        stack.pop_back();
        if (const auto found = byElement.constFind(node); found != byElement.constEnd())
            ordered.push_back(found.value());
        const auto &children = node->childNodes();
        for (auto child = children.rbegin(); child != children.rend(); ++child)
            stack.push_back(child->get());
    }
    return ordered;
}
} // namespace

void KRPage::requeueDesignSetUps()
{
    if (!designMode())
        return;
    // As in a freshly opened page: the toolbar fix first, the controls after it.
    queueToolbarFix();
    // The class scripts again, just before the first object whose class names any.
    bool classScriptsQueued = m_evaluatedScriptFiles.isEmpty();
    m_evaluatedScriptFiles.clear();
    const auto queueClassScripts = [this, &classScriptsQueued] {
        classScriptsQueued = true;
        const std::weak_ptr<KRObject> weak = weak_from_this();
        onJQueryMobileLoaded([weak] {
            if (const auto self = std::static_pointer_cast<KRPage>(weak.lock()))
                self->evaluateRequiredObjectScripts();
        });
    };
    // The set-ups that have run; one still pending runs in the new view anyway. An object
    // whose element is out of the document (deleted) has nothing to set up.
    QHash<const DOMNode *, std::shared_ptr<KRObject>> byElement;
    std::vector<std::shared_ptr<KRObject>> withoutElement;
    for (auto it = m_designSetUps.begin(); it != m_designSetUps.end();) {
        const auto object = it->first.lock();
        if (!object) {
            it = m_designSetUps.erase(it);
            continue;
        }
        if (!it->second.pending) {
            if (const auto element = object->domElement())
                byElement.insert(element.get(), object);
            else if (m_objects.value(object->kr_id()) == object)
                withoutElement.push_back(object);
        }
        ++it;
    }
    std::vector<std::shared_ptr<KRObject>> ordered = inDocumentOrder(*m_domDocument, byElement);
    ordered.insert(ordered.end(), withoutElement.begin(), withoutElement.end());
    for (const auto &object : ordered) {
        if (!classScriptsQueued && classNamesScripts(object->kr_className()))
            queueClassScripts();
        queueDesignSetUp(object, m_designSetUps[object].block);
    }
    if (!classScriptsQueued)
        queueClassScripts();
}

void KRPage::rerunDesignSetUps(const std::shared_ptr<KRObject> &object)
{
    if (!designMode() || !object->domElement())
        return;
    QHash<const DOMNode *, std::shared_ptr<KRObject>> byElement;
    for (const auto &restored : withDescendants(object)) {
        const auto found = m_designSetUps.find(restored);
        // One still waiting runs on the restored element anyway.
        if (found != m_designSetUps.end() && !found->second.pending && restored->domElement())
            byElement.insert(restored->domElement().get(), restored);
    }
    for (const auto &restored : inDocumentOrder(*object->domElement(), byElement))
        queueDesignSetUp(restored, m_designSetUps[restored].block);
}

std::shared_ptr<DOMElement> KRPage::externalScriptElement(DOMDocument &document, const QString &source)
{
    auto script = document.createElement(QStringLiteral("script"));
    script->setAttribute(QStringLiteral("src"), KRWebFolder::linkAddress(source));
    if (source.endsWith(QLatin1String(".coffee")))
        script->setAttribute(QStringLiteral("type"), QStringLiteral("text/coffeescript"));
    return script;
}

std::shared_ptr<DOMElement> KRPage::stylesheetLinkElement(DOMDocument &document, const QString &href)
{
    auto link = document.createElement(QStringLiteral("link"));
    link->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
    link->setAttribute(QStringLiteral("href"), KRWebFolder::linkAddress(href));
    return link;
}

void KRPage::addExternalScript(const QString &source)
{
    m_headElement->appendChild(externalScriptElement(*m_domDocument, source));
    m_manifestResources.insert(source);
}

void KRPage::addCSS(const QString &href)
{
    m_headElement->appendChild(stylesheetLinkElement(*m_domDocument, href));
    m_manifestResources.insert(href);
}

void KRPage::addScript(const QString &text)
{
    auto script = m_domDocument->createElement(QStringLiteral("script"));
    script->setTextContent(text);
    m_headElement->appendChild(script);
}

void KRPage::addBaseElement()
{
    const auto proj = project();
    if (!proj || m_headElement->firstElementByTagName(QStringLiteral("base")))
        return;
    auto base = m_domDocument->createElement(QStringLiteral("base"));
    base->setAttribute(QStringLiteral("href"), QDir(proj->webFolder()->krwebPath()).filePath(kr_id() + QStringLiteral(".html")));
    m_headElement->appendChild(base);
}

void KRPage::setThemeCSS()
{
    const auto proj = project();
    if (!proj)
        return;
    const auto resource = proj->resourceForThemeName(proj->defaultTheme());
    if (resource && designMode()) {
        if (m_themeLinkElement) {
            m_headElement->removeChild(m_themeLinkElement);
            m_themeLinkElement.reset();
        }
        if (!m_themeStyleElement) {
            m_themeStyleElement = m_domDocument->createElement(QStringLiteral("style"));
            m_headElement->appendChild(m_themeStyleElement);
        }
        const QString images = QStringLiteral("url(%1/images/")
                                   .arg(QStringLiteral("http://127.0.0.1:%1/%2")
                                            .arg(KRLocalServerPort::port())
                                            .arg(proj->jqmURLs().value(QStringLiteral("localPathRoot"))));
        QString css = resource->stringContents().value_or(QString());
        css.replace(QStringLiteral("url(images/"), images);
        m_themeStyleElement->setTextContent(css);
    } else if (resource) {
        if (m_themeLinkElement)
            m_headElement->removeChild(m_themeLinkElement);
        m_themeLinkElement = m_domDocument->createElement(QStringLiteral("link"));
        m_themeLinkElement->setAttribute(QStringLiteral("href"), KRWebFolder::linkAddress(resource->themeRelativePath()));
        m_themeLinkElement->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
        m_headElement->appendChild(m_themeLinkElement);
        m_manifestResources.insert(resource->themeRelativePath());
    } else {
        if (m_themeStyleElement) {
            m_headElement->removeChild(m_themeStyleElement);
            m_themeStyleElement.reset();
        }
        if (!m_themeLinkElement) {
            const QString href = proj->jqmThemeCSSURL(designMode());
            m_themeLinkElement = m_domDocument->createElement(QStringLiteral("link"));
            m_themeLinkElement->setAttribute(QStringLiteral("href"), KRWebFolder::linkAddress(href));
            m_themeLinkElement->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
            m_headElement->appendChild(m_themeLinkElement);
            m_manifestResources.insert(href);
        }
    }
}

void KRPage::setValue(const QString &key, const QString &newValue)
{
    const bool isID = key == QLatin1String("kr_id");
    const QString oldID = kr_id();
    KRObject::setValue(key, newValue);
    if (key == QLatin1String("kr_backgroundGradient") && !newValue.isEmpty() &&
        value(QStringLiteral("kr_backgroundAttachment")).isEmpty())
        KRObject::setValue(QStringLiteral("kr_backgroundAttachment"), QStringLiteral("fixed"));
    if (isID && !oldID.isNull() && oldID != newValue) {
        if (const auto proj = project()) {
            followPageRename(*proj, oldID, newValue);
            KRNotificationCenter::defaultCenter().post(
                KRProjectDidRenamePageNotification, proj->identity(),
                {{QStringLiteral("oldValue"), oldID}, {QStringLiteral("newValue"), newValue}});
        }
    }
}

namespace {

// The JSON item list with every "gotoPage" of the old id changed; null when none was.
QString krPageRenamedItems(const QString &text, const QString &oldID, const QString &newID)
{
    const KRResult<QJsonDocument> document = KRJSONSerialization::readDocument(text.toUtf8());
    if (!document || !document.value().isArray())
        return QString();
    QJsonArray items = document.value().array();
    bool changed = false;
    for (qsizetype i = 0; i < items.size(); ++i) {
        QJsonObject item = items.at(i).toObject();
        if (items.at(i).isObject() && item.value(QStringLiteral("gotoPage")).toString() == oldID) {
            item.insert(QStringLiteral("gotoPage"), newID);
            items.replace(i, item);
            changed = true;
        }
    }
    return changed ? KRJSONSerialization::storableText(QJsonDocument(items)) : QString();
}

} // namespace

void KRPage::followPageRename(KRProject &project, const QString &oldID, const QString &newID)
{
    // Every link to the page follows it, on every page and whether or not anyone shows it,
    // within the same undo step as the rename.
    for (const auto &page : project.krPages()) {
        QList<std::shared_ptr<KRObject>> objects = page->allObjects();
        objects.prepend(page);
        for (const auto &object : std::as_const(objects)) {
            for (const QString &key : object->objectProperties()) {
                const QString text = object->value(key);
                if (text.isEmpty())
                    continue;
                if ((key == QLatin1String("kr_gotoPage") || key.endsWith(QLatin1String("GotoPage"))) && text == oldID) {
                    object->setValue(key, newID);
                } else if (key == QLatin1String("kr_items") || key == QLatin1String("kr_navbarItems")) {
                    const QString renamed = krPageRenamedItems(text, oldID, newID);
                    if (!renamed.isNull())
                        object->setValue(key, renamed);
                }
            }
        }
    }
}

void KRPage::updateDesignView(KRModelAdapter &adapter, const QString &)
{
    const QString name = adapter.descriptor().propertyName();
    if (name == QLatin1String("backgroundColor"))
        evaluateScript(QStringLiteral("$('div[data-role=page]').trigger('pagecreate');"));
    else if (name == QLatin1String("theme"))
        updateTheme();
}

void KRPage::updateTheme()
{
    const QString theme = value(QStringLiteral("kr_theme"));
    m_pageDivElement->removeClassWithPrefix(QStringLiteral("ui-body-"));
    m_pageDivElement->addClass(QStringLiteral("ui-body-") + theme);
    m_bodyElement->removeClassWithPrefix(QStringLiteral("ui-overlay-"));
    m_bodyElement->addClass(QStringLiteral("ui-overlay-") + theme);
    for (const auto &object : m_allObjects) {
        const auto adapters = object->modelAdapters();
        if (adapters.empty())
            continue;
        object->updateDesignView(*adapters.front(), QString());
    }
}

QList<KRMenuItem> KRPage::contextMenuItemsForObject()
{
    QList<KRMenuItem> items = KRObject::contextMenuItemsForObject();
    addEventContextMenuItems(items, {QStringLiteral("onClick"), QStringLiteral("onTouchStart"), QStringLiteral("onTouchMove"),
                                     QStringLiteral("onTouchEnd"), QStringLiteral("onLoad"),
                                     QStringLiteral("onOrientationChange"), QStringLiteral("onSubmit"),
                                     QStringLiteral("onGET"), QStringLiteral("onPOST")});
    return items;
}

void KRPage::cleanup()
{
    if (m_didCleanup)
        return;
    m_didCleanup = true;
    m_tokens.clear();
    m_objects.clear();
    children().clear();
    m_allObjects.clear();
    m_designSetUps.clear();
    m_heldArrangements.clear();
    // Last: the objects gone with their observers, the tokens have nothing left to remove.
    m_idTokens.clear();
}

const QStringList &KRPage::widgetTextProperties()
{
    static const QStringList properties = {
        QStringLiteral("color"),       QStringLiteral("font-family"),    QStringLiteral("font-size"),
        QStringLiteral("font-style"),  QStringLiteral("font-weight"),    QStringLiteral("letter-spacing"),
        QStringLiteral("line-height"), QStringLiteral("text-align"),     QStringLiteral("text-shadow")};
    return properties;
}

QString KRPage::widgetTextRule(const QString &scope, const QStringList &properties)
{
    // Every element inside: the widget's buttons, labels, bars and fields all set some of
    // these properties themselves, and a widget holds no other control.
    QString rule = scope + QStringLiteral(" * {");
    for (const QString &property : properties)
        rule += QStringLiteral(" %1: inherit !important;").arg(property);
    return rule + QStringLiteral(" }");
}

std::shared_ptr<DOMCSSStyleSheet> KRPage::styleSheet() const
{
    if (!m_styleSheet && m_styleElement)
        m_styleSheet = m_styleElement->sheet();
    return m_styleSheet;
}

// --- Objects

void KRPage::rebuildAllObjectsArray()
{
    observable().willChange(QStringLiteral("allObjects"), QVariant());
    // The table's keys are the ids: sorting them spares reading each object's id again and again.
    std::vector<std::pair<QString, std::shared_ptr<KRObject>>> byID;
    byID.reserve(m_objects.size());
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it)
        byID.emplace_back(it.key(), it.value());
    std::sort(byID.begin(), byID.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    m_allObjects.clear();
    m_allObjects.reserve(qsizetype(byID.size()));
    for (auto &entry : byID)
        m_allObjects.append(std::move(entry.second));
    observable().didChange(QStringLiteral("allObjects"), QVariant());
}

void KRPage::objectIDDidChange(KRObject &changed, const QVariant &oldValue, const QVariant &newValue)
{
    // Neither goes while the observer can be called (the page keeps its token, the object its
    // observable); a page or object being destroyed is left alone.
    const auto self = std::static_pointer_cast<KRPage>(weak_from_this().lock());
    const std::shared_ptr<KRObject> object = changed.weak_from_this().lock();
    if (!self || !object)
        return;
    const QString oldID = oldValue.toString();
    if (m_objects.value(oldID) == object)
        m_objects.remove(oldID);
    if (object != self) {
        const QString newID = newValue.toString();
        m_objects.insert(newID, object);
        noteID(newID);
    }
    rebuildAllObjectsArray();
}

void KRPage::objectDidMove(KRObject &moved)
{
    const auto self = std::static_pointer_cast<KRPage>(weak_from_this().lock());
    const std::shared_ptr<KRObject> object = moved.weak_from_this().lock();
    if (!self || !object)
        return;
    if (m_buildOrderHeld)
        m_heldArrangements.push_back(object);
    else
        arrangeInBuildOrder(object);
}

void KRPage::observeID(const std::shared_ptr<KRObject> &object)
{
    // The page keeps the token and the object its observable: the observer captures both
    // plainly (and so is kept without an allocation of its own).
    KRPage *const page = this;
    KRObject *const observed = object.get();
    // Design mode: a control's move re-arranges its container (arrangeInBuildOrder). Its id
    // and its position are followed by one observer (a design page has thousands of controls).
    if (object.get() != this && designMode() && isControl(*object)) {
        m_idTokens.insert_or_assign(
            object->identity(),
            object->observable().observe(QString(), [page, observed](const void *, const QString &key, const QVariant &oldValue,
                                                                     const QVariant &newValue) {
                if (key == QLatin1String("kr_id"))
                    page->objectIDDidChange(*observed, oldValue, newValue);
                else if (key == QLatin1String("kr_top") || key == QLatin1String("kr_left"))
                    page->objectDidMove(*observed);
            }));
        return;
    }
    m_idTokens.insert_or_assign(object->identity(),
                                object->observable().observe(QStringLiteral("kr_id"),
                                                             [page, observed](const void *, const QString &, const QVariant &oldValue,
                                                                              const QVariant &newValue) {
                                                                 page->objectIDDidChange(*observed, oldValue, newValue);
                                                             }));
}

std::shared_ptr<KRObject> KRPage::objectForID(const QString &objectID) const
{
    if (objectID == kr_id())
        return std::const_pointer_cast<KRObject>(shared_from_this());
    return m_objects.value(objectID);
}

QList<std::shared_ptr<KRObject>> KRPage::allObjects() const
{
    QList<std::shared_ptr<KRObject>> list = m_allObjects;
    const auto self = std::const_pointer_cast<KRObject>(shared_from_this());
    const auto at = std::lower_bound(list.begin(), list.end(), self,
                                     [](const auto &a, const auto &b) { return a->kr_id() < b->kr_id(); });
    list.insert(at, self);
    return list;
}

void KRPage::addObject(const std::shared_ptr<KRObject> &object)
{
    // The page answers for its own id; holding itself would keep it alive for ever.
    if (object.get() != this) {
        const QString id = object->kr_id();
        const qsizetype before = m_objects.size();
        // One look-up: a slot that was there already is an id taken.
        std::shared_ptr<KRObject> *slot = id == kr_id() ? nullptr : &m_objects[id];
        if (!slot || m_objects.size() == before)
            krRaise(QStringLiteral("DuplicateIDException"), QStringLiteral("Duplicate 'id' attribute (%1) in element").arg(id));
        *slot = object;
        noteID(id);
    }
    observeID(object);
    if (object.get() == this) {
        if (m_loadDepth == 0)
            rebuildAllObjectsArray();
    } else if (m_loadDepth == 0) {
        // Into its place in id order: sorting the whole list for every object added made
        // adding objects quadratic. During a load the list is built once at its end.
        observable().willChange(QStringLiteral("allObjects"), QVariant());
        const auto at = std::lower_bound(m_allObjects.begin(), m_allObjects.end(), object,
                                         [](const auto &a, const auto &b) { return a->kr_id() < b->kr_id(); });
        m_allObjects.insert(at, object);
        observable().didChange(QStringLiteral("allObjects"), QVariant());
    }
    if (object.get() != this)
        object->setOwningPage(std::static_pointer_cast<KRPageBase>(shared_from_this()));
    object->setEnableUndo(true);
}

KRXMLNode KRPage::contentsElement()
{
    KRXMLNode element = xmlElement();
    return element.firstElementForName(QStringLiteral("KRContents"), true);
}

void KRPage::loadRequiredResourcesFromClass(const QString &className)
{
    const KRObjectClass *objectClass = KRClassRegistry::sharedInstance().classNamed(className);
    // Inherited lists count too.
    for (const KRObjectClass *k = objectClass; k; k = KRClassRegistry::sharedInstance().classNamed(k->superclassName)) {
        for (const QString &path : k->requiredScripts) {
            if (m_requiredObjectScripts.contains(path))
                continue;
            m_requiredObjectScripts.append(path);
            if (designMode()) {
                const std::weak_ptr<KRObject> weak = weak_from_this();
                onJQueryMobileLoaded([weak] {
                    if (const auto self = std::static_pointer_cast<KRPage>(weak.lock()))
                        self->evaluateRequiredObjectScripts();
                });
            }
        }
        for (const QString &path : k->requiredStylesheets)
            m_requiredStylesheets.insert(path);
        for (const QString &path : k->requiredResources)
            m_requiredResources.insert(path);
        if (k->superclassName.isEmpty())
            break;
    }
}

bool KRPage::isSoundLoadedID(const QString &className, const QString &objectID)
{
    return isSoundLoadedID(objectID, KRClassRegistry::sharedInstance().isKindOf(className, QStringLiteral("KRStyleClass")));
}

bool KRPage::isSoundLoadedID(const QString &objectID, bool styleClass)
{
    if (!KRJavaScript::isValidIdentifier(objectID) || KRObjectInfo::sharedInstance().isJavaScriptReservedWord(objectID))
        return false;
    // A style class's id is also a class name in the page's style sheet.
    return !styleClass || KRStyleClass::isValidClassName(objectID);
}

KRPage::LoadClass KRPage::loadClass(const QString &className)
{
    for (const auto &[name, known] : m_loadClassList) {
        if (name == className)
            return known;
    }
    if (!m_loadClasses.isEmpty()) {
        const auto found = m_loadClasses.constFind(className);
        if (found != m_loadClasses.cend())
            return found.value();
    }
    const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    LoadClass loaded;
    const KRObjectClass *objectClass = registry.classNamed(className);
    loaded.instantiable = objectClass && !objectClass->abstractClass;
    if (loaded.instantiable) {
        loaded.className = objectClass->className;
        // What the class needs is the same for each of its objects.
        loadRequiredResourcesFromClass(loaded.className);
        loaded.styleClass = registry.isKindOf(loaded.className, QStringLiteral("KRStyleClass"));
        loaded.function = registry.isKindOf(loaded.className, QStringLiteral("KRFunction"));
        loaded.div = registry.isKindOf(loaded.className, QStringLiteral("KRDiv"));
    }
    constexpr std::size_t listed = 16;
    if (m_loadClassList.size() < listed)
        m_loadClassList.emplace_back(className, loaded);
    else
        m_loadClasses.insert(className, loaded);
    return loaded;
}

QString KRPage::freeLoadID(const QString &base, int first)
{
    // Numbers already tried for a base are not tried again, so many copies of one id cost
    // one look-up each.
    int &next = m_nextLoadSuffix[base];
    next = std::max(next, first);
    QString candidate;
    do {
        candidate = base + QString::number(next++);
    } while (isIDTaken(candidate));
    return candidate;
}

void KRPage::loadChildrenFromElement(const KRXMLElement &contents, const std::shared_ptr<KRObject> &parent)
{
    // The sorted list of all objects is made once, when the outermost load ends.
    beginObjectBatch();
    const auto batchEnd = qScopeGuard([this] { endObjectBatch(); });
    loadChildren(contents, parent);
}

void KRPage::endObjectBatch()
{
    if (--m_loadDepth > 0)
        return;
    m_nextLoadSuffix.clear();
    m_loadClassList.clear();
    m_loadClasses.clear();
    rebuildAllObjectsArray();
}

void KRPage::loadChildren(const KRXMLElement &contents, const std::shared_ptr<KRObject> &parent)
{
    // The elements are borrowed from the list of children, which outlives the loop: a copy of
    // a handle counts on its document, which all threads making pages share.
    struct Placed
    {
        KRXMLNode *element;
        BuildPlace place;
        QString id;
    };
    std::vector<Placed> elements;
    QList<KRXMLNode> children = contents.elements();
    // The objects read nearly all of their elements' attributes, one element after the other.
    KRXMLNode::prefetchAttributes(children);
    m_objects.reserve(m_objects.size() + children.size());
    elements.reserve(std::size_t(children.size()));
    // The place and the id in one pass over each element's attributes.
    static const QByteArray readNames[] = {QByteArrayLiteral("top"), QByteArrayLiteral("left"), QByteArrayLiteral("id")};
    for (KRXMLNode &element : children) {
        QString read[3];
        element.attributeValues(readNames, 3, read);
        elements.push_back({&element, buildPlace(read[0], read[1]), std::move(read[2])});
    }
    // Elements without "top" first, then by top and left; ties keep file order.
    std::stable_sort(elements.begin(), elements.end(),
                     [](const Placed &a, const Placed &b) { return buildsBefore(a.place, b.place); });
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    const auto self = std::static_pointer_cast<KRPageBase>(shared_from_this());
    // A hostile file may hold thousands of problems: the run log gets the first ones only.
    constexpr qsizetype loggedWarnings = 50;
    auto warn = [this](const KRXMLNode &element, const QString &message) {
        const QString warning = QStringLiteral("line %1: %2").arg(element.lineNumber()).arg(message);
        m_loadWarnings.append(warning);
        if (m_loadWarnings.size() <= loggedWarnings)
            KR_LOG(warning);
        else if (m_loadWarnings.size() == loggedWarnings + 1)
            KR_LOG(QStringLiteral("Further load warnings of the page %1 are not logged").arg(kr_id()));
    };
    for (Placed &placed : elements) {
        KRXMLNode &element = *placed.element;
        const QString className = element.name();
        const LoadClass kind = loadClass(className);
        if (!kind.instantiable) {
            warn(element, QStringLiteral("Invalid KRObject class: '%1' (skipped, kept in the file)").arg(className));
            // A base class's element is left out too, but its class is known.
            if (!registry.classNamed(className) && !m_unknownClassNames.contains(className))
                m_unknownClassNames.append(className);
            continue;
        }
        const QString id = placed.id;
        const bool soundID = isSoundLoadedID(id, kind.styleClass);
        QString newID;
        if (!soundID)
            newID = freeLoadID(registry.idBase(kind.className), 1);
        else if (isIDTaken(id))
            newID = freeLoadID(id, 2);
        if (!newID.isNull()) {
            element.setAttribute(QStringLiteral("id"), newID);
            warn(element, (soundID ? QStringLiteral("The id '%1' is used twice; this %2 is now '%3'")
                                   : QStringLiteral("'%1' is no valid id; this %2 is now '%3'"))
                              .arg(id, className, newID));
        }
        // A function's parameter list goes into the generated script as it stands: one that is
        // no list of identifiers would run as code where the script loads. It becomes the
        // event's own parameters, and the user is told.
        if (kind.function) {
            const QString arguments = element.attribute(QStringLiteral("arguments"));
            if (!arguments.isNull() && !KRFunction::isSoundArgumentList(arguments)) {
                const QString replacement = KRFunction::eventArguments(
                    element.attribute(QStringLiteral("serverFunction")) == QLatin1String("Yes"));
                element.setAttribute(QStringLiteral("arguments"), replacement);
                const QString function = element.attribute(QStringLiteral("id"));
                if (KRFunction::hasTooManyArguments(arguments))
                    warn(element, QStringLiteral("The function '%1' has too many arguments (%2, at most %3); it now takes (%4)")
                                      .arg(function)
                                      .arg(arguments.count(QLatin1Char(',')) + 1)
                                      .arg(KRFunction::MaximumArgumentCount)
                                      .arg(replacement));
                else
                    warn(element, QStringLiteral("'%1' is no valid parameter list; the function '%2' now takes (%3)")
                                      .arg(arguments, function, replacement));
            }
        }
        std::optional<KRResult<std::shared_ptr<KRObject>>> made;
        try {
            made.emplace(registry.makeObject(kind.className, element, self, parent, QString(), designMode(),
                                             newID.isNull() ? id : newID));
        } catch (const KRException &exception) {
            made.emplace(KRError(exception.name(), 0, exception.reason()));
        }
        if (!*made) {
            warn(element, made->error().message());
            continue;
        }
        const std::shared_ptr<KRObject> object = made->value();
        addObject(object);
        parent->children().append(object);
        if (kind.div) {
            const KRXMLNode nested = std::as_const(element).firstElementForName(QStringLiteral("KRContents"));
            if (!nested.isNull())
                loadChildren(nested, object);
        }
    }
}

std::shared_ptr<KRObject> KRPage::createNewObject(const QString &className, double x, double y, const QString &idBase)
{
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    if (!registry.classNamed(className))
        return nullptr;
    KRXMLNode element = xmlElement().document().createElement(className);
    KRXMLNode contents = contentsElement();
    loadRequiredResourcesFromClass(className);
    const QString base = idBase.isNull() ? registry.idBase(className) : idBase;
    QString id;
    for (int n = 1; n <= 99998; ++n) {
        id = (n == 1 && !idBase.isNull()) ? base : base + QString::number(n);
        if (!isIDTaken(id))
            break;
    }
    contents.appendChild(element);
    KRResult<std::shared_ptr<KRObject>> made = registry.makeObject(
        className, element, std::static_pointer_cast<KRPageBase>(shared_from_this()), shared_from_this(), id, designMode());
    if (!made) {
        element.detach();
        KR_LOG(QStringLiteral("Cannot create %1: %2").arg(className, made.error().message()));
        return nullptr;
    }
    const auto object = made.value();
    object->initializeDefaultProperties();
    if (isControl(*object)) {
        if (object->value(QStringLiteral("kr_left")).isEmpty())
            object->setValue(QStringLiteral("kr_left"), QString::number(x, 'f', 0));
        if (object->value(QStringLiteral("kr_top")).isEmpty())
            object->setValue(QStringLiteral("kr_top"), QString::number(y, 'f', 0));
        object->checkSize();
    }
    addObject(object);
    arrangeInBuildOrder(object);
    if (KRUndoManager *undo = undoManager()) {
        // In a group of its own: with none open, a name would go to the previous step.
        undo->beginUndoGrouping();
        if (undo->undoActionName().isEmpty())
            undo->setActionName(QStringLiteral("Create %1").arg(object->kr_className()));
        const std::weak_ptr<KRObject> weak = weak_from_this();
        undo->registerUndo(identity(), [weak, object] {
            if (const auto self = std::static_pointer_cast<KRPage>(weak.lock()))
                self->deleteObjects({object});
        });
        undo->endUndoGrouping();
    }
    return object;
}

namespace {

// The project's syntax errors are the findings its functions hold: a function with findings
// that leaves the page, or comes back, changes them, and their observers (the errors pane,
// the outline's count) hear of it as of a check.
class KRSyntaxErrorsChange
{
public:
    KRSyntaxErrorsChange(const std::shared_ptr<KRProject> &project, const QList<std::shared_ptr<KRObject>> &objects)
    {
        for (const auto &object : objects) {
            const auto function = std::dynamic_pointer_cast<KRFunction>(object);
            if (function && !function->syntaxErrors().isEmpty()) {
                m_project = project;
                break;
            }
        }
        if (m_project)
            m_project->observable().willChange(QStringLiteral("syntaxErrors"), QVariant());
    }
    ~KRSyntaxErrorsChange()
    {
        if (m_project)
            m_project->observable().didChange(QStringLiteral("syntaxErrors"), QVariant());
    }
    KRSyntaxErrorsChange(const KRSyntaxErrorsChange &) = delete;
    KRSyntaxErrorsChange &operator=(const KRSyntaxErrorsChange &) = delete;

private:
    std::shared_ptr<KRProject> m_project;
};

// The index of the group of `container` among the elements grouped by their container so
// far, and whether the group is new (the caller then adds it at that index).
std::pair<std::size_t, bool> groupOf(QHash<const DOMNode *, std::size_t> &groups, const DOMNode *container)
{
    if (const auto at = groups.constFind(container); at != groups.cend())
        return {at.value(), false};
    const auto index = std::size_t(groups.size());
    groups.insert(container, index);
    return {index, true};
}

} // namespace

void KRPage::deleteObjects(const QList<std::shared_ptr<KRObject>> &objects, const QString &actionName)
{
    // An object inside a div being deleted leaves with the div.
    const QList<std::shared_ptr<KRObject>> outermost = outermostOf(objects);
    QList<std::shared_ptr<KRObject>> leaving;
    for (const auto &object : outermost)
        leaving += withDescendants(object);
    if (leaving.isEmpty())
        return;
    const KRSyntaxErrorsChange errors(project(), leaving);
    // One undo for them all, made before what the deletion tells others (who may make undos of
    // their own, to be undone before the objects come back): putting objects back one by one
    // told everything that lists them of each, and the undo of a large deletion grew with its
    // square.
    const auto deleted = std::make_shared<std::vector<DeletedObject>>();
    deleted->reserve(std::size_t(outermost.size()));
    KRUndoManager *undo = undoManager();
    if (undo) {
        undo->beginUndoGrouping();
        if (undo->undoActionName().isEmpty())
            undo->setActionName(actionName);
        const std::weak_ptr<KRObject> weak = weak_from_this();
        undo->registerUndo(identity(), [weak, deleted] {
            if (const auto self = std::static_pointer_cast<KRPage>(weak.lock()))
                self->undoDeleteObjects(*deleted);
        });
    }
    // Their elements leave the design document first, each container's in one pass: one by
    // one, each was looked for among thousands of siblings.
    std::vector<std::pair<std::shared_ptr<DOMNode>, DOMNode::NodeList>> containers;
    QHash<const DOMNode *, std::size_t> containerIndex;
    for (const auto &object : outermost) {
        const auto dom = object->domElement();
        if (const std::shared_ptr<DOMNode> parent = dom ? dom->parentNode() : nullptr) {
            const auto [index, isNew] = groupOf(containerIndex, parent.get());
            if (isNew)
                containers.push_back({parent, {}});
            containers[index].second.push_back(dom);
        }
    }
    QHash<const DOMNode *, std::pair<std::shared_ptr<DOMNode>, std::shared_ptr<DOMNode>>> domPlaces;
    for (const auto &[parent, children] : containers) {
        const DOMNode::NodeList followers = parent->removeChildren(children);
        for (std::size_t i = 0; i < children.size(); ++i)
            domPlaces.insert(children[i].get(), {parent, followers[i]});
    }
    for (const auto &object : outermost) {
        // The objects nested in a div leave the page with it: their ids are free again.
        for (const auto &gone : withDescendants(object)) {
            m_idTokens.erase(gone->identity());
            if (m_objects.value(gone->kr_id()) == gone)
                m_objects.remove(gone->kr_id());
        }
        DeletedObject place{object, {}, {}, nullptr, nullptr};
        KRXMLNode element = object->xmlElement();
        place.xmlParent = element.parent();
        place.xmlNext = element.nextSibling();
        element.detach();
        if (const auto dom = object->domElement()) {
            const auto was = domPlaces.constFind(dom.get());
            if (was != domPlaces.cend())
                std::tie(place.domParent, place.domNext) = was.value();
        }
        deleted->push_back(std::move(place));
        KRNotificationCenter::defaultCenter().post(KRPageDidDeleteObjectNotification, identity(),
                                                   {{QStringLiteral("deletedObject"), QVariant::fromValue(KRObjectHandle{object})}});
    }
    if (undo)
        undo->endUndoGrouping();
    rebuildAllObjectsArray();
}

QList<std::shared_ptr<KRObject>> KRPage::withDescendants(const std::shared_ptr<KRObject> &object)
{
    QList<std::shared_ptr<KRObject>> list{object};
    for (qsizetype i = 0; i < list.size(); ++i)
        for (const auto &child : list.at(i)->children())
            if (child && !list.contains(child))
                list.append(child);
    return list;
}

void KRPage::undoDeleteObjects(const std::vector<DeletedObject> &deleted)
{
    QList<std::shared_ptr<KRObject>> returning;
    for (const DeletedObject &place : deleted)
        returning += withDescendants(place.object);
    const KRSyntaxErrorsChange errors(project(), returning);
    std::vector<std::shared_ptr<KRObject>> placed;
    struct Container
    {
        std::shared_ptr<DOMNode> parent;
        std::vector<DOMNode::ChildPlacement> placements;
        std::vector<bool> made;
    };
    std::vector<Container> containers;
    struct Returned
    {
        std::shared_ptr<KRObject> object;
        std::size_t container;
        std::size_t placement;
    };
    std::vector<Returned> returned;
    QHash<const DOMNode *, std::size_t> containerIndex;
    {
        beginObjectBatch();
        const auto batchEnd = qScopeGuard([this] { endObjectBatch(); });
        for (const auto &back : std::as_const(returning))
            addObject(back);
        for (auto place = deleted.rbegin(); place != deleted.rend(); ++place) {
            const std::shared_ptr<KRObject> &object = place->object;
            KRXMLElement xmlParent = place->xmlParent;
            if (!xmlParent.isNull()) {
                if (!place->xmlNext.isNull() && place->xmlNext.parent() == xmlParent)
                    xmlParent.insertBefore(object->xmlElement(), place->xmlNext);
                else
                    xmlParent.appendChild(object->xmlElement());
            }
            if (place->domParent && object->domElement()) {
                const auto [index, isNew] = groupOf(containerIndex, place->domParent.get());
                if (isNew)
                    containers.push_back({place->domParent, {}, {}});
                // Before the sibling it had if that is back in place by then, else at the end.
                returned.push_back({object, index, containers[index].placements.size()});
                containers[index].placements.push_back({object->domElement(), place->domNext, false});
            }
        }
        // Each container's elements go back in one pass.
        for (Container &container : containers)
            container.made = container.parent->placeChildren(container.placements);
        for (const auto &[object, container, placement] : returned)
            if (containers[container].made[placement]) {
                rerunDesignSetUps(object);
                placed.push_back(object);
            }
    }
    arrangeEachContainerOnce(placed);
    // The redo deletes them again, at once.
    if (KRUndoManager *undo = undoManager()) {
        QList<std::shared_ptr<KRObject>> objects;
        for (const DeletedObject &place : deleted)
            objects.append(place.object);
        const std::weak_ptr<KRObject> weak = weak_from_this();
        undo->registerUndo(identity(), [weak, objects] {
            if (const auto self = std::static_pointer_cast<KRPage>(weak.lock()))
                self->deleteObjects(objects);
        });
    }
}

void KRPage::pasteboardCopyObjects(const QList<std::shared_ptr<KRObject>> &objects)
{
    QString text = QStringLiteral("<objects>");
    int count = 0;
    // An object inside a copied div comes with the div's XML: on its own as well, a paste would
    // make it twice.
    for (const auto &object : outermostOf(objects)) {
        const QString xml = object->xmlElement().xmlString();
        if (xml.isEmpty())
            continue;
        text += xml;
        ++count;
    }
    if (count == 0)
        return;
    text += QStringLiteral("</objects>");
    KRPasteboard::generalPasteboard().setString(KRObjectPboardType, text);
    m_pasteTop = m_pasteLeft = 0;
    m_lastPasteboardOperatorWasCopy = true;
}

void KRPage::cutObjects(const QList<std::shared_ptr<KRObject>> &objects)
{
    pasteboardCopyObjects(objects);
    deleteObjects(objects, QStringLiteral("Cut"));
    m_pasteTop = m_pasteLeft = 0;
    m_lastPasteboardOperatorWasCopy = false;
}

namespace {

// How many levels of elements lie below the element (0: none), walked without recursion.
int levelsBelow(const KRXMLNode &element)
{
    int deepest = 0;
    std::vector<std::pair<QList<KRXMLNode>, qsizetype>> stack;
    stack.emplace_back(element.elements(), 0);
    while (!stack.empty()) {
        deepest = std::max(deepest, int(stack.size()) - (stack.back().first.isEmpty() ? 1 : 0));
        auto &[children, next] = stack.back();
        if (next == children.size()) {
            stack.pop_back();
            continue;
        }
        const KRXMLNode child = children.at(next++);
        stack.emplace_back(child.elements(), 0);
    }
    return deepest;
}

// How deep the element lies in its document (the root element: 1).
int depthOf(KRXMLNode element)
{
    int depth = 0;
    for (; !element.isNull() && element.isElement(); element = element.parent())
        ++depth;
    return depth;
}

} // namespace

QList<std::shared_ptr<KRObject>> KRPage::pasteObjects()
{
    const QString text = KRPasteboard::generalPasteboard().stringForType(KRObjectPboardType);
    if (text.isEmpty())
        return {};
    // Objects nested too deep to be held, or text the reader refuses for its shape (an element
    // of too many attributes, ...), are refused with a message; nothing is pasted and no undo
    // step is made.
    const auto refuse = [](const QString &why) {
        KR_LOG(QStringLiteral("Paste: refused: %1").arg(why));
        KRAlert alert;
        alert.messageText = QStringLiteral("The objects could not be pasted.");
        alert.informativeText = why;
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
    };
    // A character no project can hold is never in text the application copied.
    if (const qsizetype at = KRXMLDocument::firstUnstorable(text); at < text.size()) {
        refuse(QStringLiteral("The text copied holds the character U+%1 on line %2, which a project cannot hold.")
                   .arg(QString::number(text.at(at).unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')))
                   .arg(QStringView(text).first(at).count(QLatin1Char('\n')) + 1));
        return {};
    }
    // The text is characters already, whatever its declaration names: the byte-order mark
    // makes the reader take it as the UTF-8 it is now. Read as a project is read, with room
    // for what saving the pasted objects adds.
    KRResult<KRXMLDocument> parsed =
        KRXMLDocument::fromData(QByteArrayLiteral("\xEF\xBB\xBF") + text.toUtf8(), KRDocument::adaptersAdditions());
    if (!parsed) {
        refuse(parsed.error().message());
        return {};
    }
    if (parsed.value().rootElement().isNull())
        return {};
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    // Checked before anything touches the project: a known class and an id of sound form.
    QList<KRXMLNode> elements;
    QStringList skipped;
    for (const KRXMLNode &element : parsed.value().rootElement().elements()) {
        if (!registry.isInstantiable(element.name()) || registry.isKindOf(element.name(), QStringLiteral("KRPage"))) {
            KR_LOG(QStringLiteral("Paste: skipped an element of unknown class '%1'").arg(element.name()));
            if (skipped.size() < 3)
                skipped.append(QStringLiteral("\u201C%1\u201D").arg(element.name().left(60)));
            continue;
        }
        elements.append(element);
    }
    if (elements.isEmpty()) {
        refuse(skipped.isEmpty() ? QStringLiteral("The text copied holds no objects.")
                                        : QStringLiteral("The text copied holds no object of a class Korvane knows (%1).")
                                              .arg(skipped.join(QStringLiteral(", "))));
        return {};
    }
    for (const KRXMLNode &element : elements) {
        if (KRResult<void> within = KRModelAdapter::checkJSONValueDepth(element); !within) {
            refuse(within.error().message());
            return {};
        }
    }
    // The copies land in the page's contents: the project they make is read back only if it
    // nests no deeper than a document may.
    const int room = KRXMLDocument::MaximumDepth - depthOf(contentsElement());
    for (const KRXMLNode &element : elements) {
        if (const int levels = 1 + levelsBelow(element); levels > room) {
            refuse(QStringLiteral("The \u201C%1\u201D copied nests elements %2 levels deep, and a page may hold "
                                         "them at most %3 levels deep.")
                              .arg(element.name().left(60))
                              .arg(levels)
                              .arg(room));
            return {};
        }
    }
    if (m_lastPasteboardOperatorWasCopy) {
        m_pasteTop += 8;
        m_pasteLeft += 8;
        m_lastPasteboardOperatorWasCopy = false;
    }
    // Every id of the copies, those of the objects nested in them included, is chosen before
    // any object is made: a copy that refers to another one (a button and its handler copied
    // together) then refers to that one's new id.
    QList<KRXMLNode> copies;
    QSet<QString> chosen;
    QHash<QString, QString> renamed;
    QHash<QString, int> tried;
    for (const KRXMLNode &element : elements) {
        KRXMLNode copy = xmlElement().document().importNode(element);
        choosePastedIDs(copy, chosen, renamed, tried);
        copies.append(copy);
    }
    for (KRXMLNode &copy : copies)
        followPastedRenames(copy, renamed);
    KRXMLNode contents = contentsElement();
    const auto self = std::static_pointer_cast<KRPageBase>(shared_from_this());
    QList<std::shared_ptr<KRObject>> pasted;
    // Everything that lists the page's objects hears of the pasted ones once.
    beginObjectBatch();
    auto batchEnd = qScopeGuard([this] { endObjectBatch(); });
    for (KRXMLNode copy : copies) {
        contents.appendChild(copy);
        loadRequiredResourcesFromClass(copy.name());
        KRResult<std::shared_ptr<KRObject>> made = registry.makeObject(
            copy.name(), copy, self, shared_from_this(), copy.attribute(QStringLiteral("id")), designMode());
        if (!made) {
            copy.detach();
            continue;
        }
        const auto object = made.value();
        if (isControl(*object)) {
            object->setValue(QStringLiteral("kr_top"),
                             QString::number(object->value(QStringLiteral("kr_top")).toInt() + m_pasteTop));
            object->setValue(QStringLiteral("kr_left"),
                             QString::number(object->value(QStringLiteral("kr_left")).toInt() + m_pasteLeft));
        }
        addObject(object);
        pasteNestedObjects(copy, object);
        pasted.append(object);
    }
    batchEnd.dismiss();
    endObjectBatch();
    arrangeEachContainerOnce({pasted.begin(), pasted.end()});
    m_pasteTop += 8;
    m_pasteLeft += 8;
    if (KRUndoManager *undo = undoManager(); undo && !pasted.isEmpty()) {
        undo->beginUndoGrouping();
        undo->setActionName(QStringLiteral("Paste"));
        const std::weak_ptr<KRObject> weak = weak_from_this();
        // The nested objects leave with their divs.
        undo->registerUndo(identity(), [weak, pasted] {
            if (const auto self = std::static_pointer_cast<KRPage>(weak.lock()))
                self->deleteObjects(pasted);
        });
        undo->endUndoGrouping();
    }
    return pasted;
}

void KRPage::choosePastedIDs(KRXMLNode &element, QSet<QString> &chosen, QHash<QString, QString> &renamed,
                             QHash<QString, int> &tried)
{
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    const QString pastedID = element.attribute(QStringLiteral("id"));
    QString id = pastedID;
    if (!isSoundLoadedID(element.name(), id) || isIDTaken(id) || chosen.contains(id)) {
        const QString base = registry.idBase(element.name());
        // The numbers below the last one tried are taken or chosen already: trying them again
        // for every copy made pasting many objects take time with the square of their number.
        int &n = tried[base];
        n = std::max(n, 1);
        for (; n <= 99998; ++n) {
            id = base + QString::number(n);
            if (!isIDTaken(id) && !chosen.contains(id))
                break;
        }
    }
    chosen.insert(id);
    if (id != pastedID) {
        element.setAttribute(QStringLiteral("id"), id);
        if (!pastedID.isEmpty() && !renamed.contains(pastedID))
            renamed.insert(pastedID, id);
    }
    KRXMLNode nested = std::as_const(element).firstElementForName(QStringLiteral("KRContents"));
    if (nested.isNull())
        return;
    // Only a div's contents are objects; anything else there would keep its ids in the file
    // without an object to answer for them.
    if (!registry.isKindOf(element.name(), QStringLiteral("KRDiv"))) {
        nested.detach();
        return;
    }
    for (KRXMLNode child : nested.elements()) {
        if (!registry.isInstantiable(child.name()) || registry.isKindOf(child.name(), QStringLiteral("KRPage"))) {
            KR_LOG(QStringLiteral("Paste: skipped a nested element of unknown class '%1'").arg(child.name()));
            child.detach();
            continue;
        }
        choosePastedIDs(child, chosen, renamed, tried);
    }
}

void KRPage::followPastedRenames(KRXMLNode &element, const QHash<QString, QString> &renamed)
{
    if (renamed.isEmpty())
        return;
    for (const KRPropertyDescriptor &descriptor : KRClassRegistry::sharedInstance().descriptorTable(element.name())) {
        if (!descriptor.hasOption(KRAdapterOptionFunctionReference) || descriptor.hasOption(KRAdapterOptionXMLText)
            || descriptor.hasOption(KRAdapterOptionXMLChildElement))
            continue;
        const QString target = element.attribute(descriptor.propertyName());
        const auto found = renamed.constFind(target);
        if (!target.isEmpty() && found != renamed.cend())
            element.setAttribute(descriptor.propertyName(), found.value());
    }
    KRXMLNode nested = std::as_const(element).firstElementForName(QStringLiteral("KRContents"));
    if (nested.isNull())
        return;
    for (KRXMLNode child : nested.elements())
        followPastedRenames(child, renamed);
}

void KRPage::pasteNestedObjects(const KRXMLNode &element, const std::shared_ptr<KRObject> &parent)
{
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    if (!registry.isKindOf(element.name(), QStringLiteral("KRDiv")))
        return;
    const KRXMLNode nested = element.firstElementForName(QStringLiteral("KRContents"));
    if (nested.isNull())
        return;
    // In the order a load makes them, so that their elements stand as in a built page.
    QList<KRXMLNode> children = nested.elements();
    std::stable_sort(children.begin(), children.end(),
                     [](const KRXMLNode &a, const KRXMLNode &b) { return buildsBefore(buildPlace(a), buildPlace(b)); });
    const auto self = std::static_pointer_cast<KRPageBase>(shared_from_this());
    for (KRXMLNode child : children) {
        loadRequiredResourcesFromClass(child.name());
        KRResult<std::shared_ptr<KRObject>> made = registry.makeObject(
            child.name(), child, self, parent, child.attribute(QStringLiteral("id")), designMode());
        if (!made) {
            KR_LOG(QStringLiteral("Paste: cannot make the nested %1: %2").arg(child.name(), made.error().message()));
            child.detach();
            continue;
        }
        const auto object = made.value();
        addObject(object);
        parent->children().append(object);
        pasteNestedObjects(child, object);
    }
}

std::shared_ptr<KRObject> KRPage::objectFromElement(const std::shared_ptr<DOMNode> &node) const
{
    if (!node)
        return nullptr;
    // The nearest enclosing control wins: a control nested in a div is what a click on it
    // means, whichever of the two ids sorts first.
    QHash<const DOMNode *, std::shared_ptr<KRObject>> byElement;
    for (const auto &object : m_allObjects)
        if (object->domElement() && isControl(*object))
            byElement.insert(object->domElement().get(), object);
    for (const DOMNode *n = node.get(); n; n = n->parent())
        if (const auto found = byElement.constFind(n); found != byElement.cend())
            return found.value();
    return nullptr;
}

void KRPage::holdBuildOrder(bool hold)
{
    m_buildOrderHeld = hold;
    if (hold)
        return;
    std::vector<std::shared_ptr<KRObject>> held;
    for (const auto &weak : std::exchange(m_heldArrangements, {}))
        if (const auto object = weak.lock())
            held.push_back(object);
    arrangeEachContainerOnce(held);
}

void KRPage::arrangeEachContainerOnce(const std::vector<std::shared_ptr<KRObject>> &objects)
{
    QSet<const DOMNode *> arranged;
    for (const auto &object : objects) {
        const auto element = object ? object->domElement() : nullptr;
        const std::shared_ptr<DOMNode> container = element ? element->parentNode() : nullptr;
        if (!container || !isControl(*object) || m_objects.value(object->kr_id()) != object)
            continue;
        if (!arranged.contains(container.get())) {
            arranged.insert(container.get());
            arrangeInBuildOrder(object);
        }
    }
}

void KRPage::arrangeInBuildOrder(const std::shared_ptr<KRObject> &object)
{
    if (!designMode() || !object || !isControl(*object))
        return;
    const auto element = object->domElement();
    const std::shared_ptr<DOMNode> container = element ? element->parentNode() : nullptr;
    // Still on the page: an object being deleted or not yet placed has nothing to arrange.
    if (!container || m_objects.value(object->kr_id()) != object)
        return;
    QHash<const DOMNode *, std::shared_ptr<KRObject>> byElement;
    for (const auto &candidate : std::as_const(m_objects)) {
        const auto dom = candidate->domElement();
        if (dom && dom->parent() == container.get() && isControl(*candidate))
            byElement.insert(dom.get(), candidate);
    }
    if (byElement.size() < 2)
        return;
    // The controls as they stand, and their places in a built page: ties in the order of
    // their elements in the file.
    std::vector<std::shared_ptr<KRObject>> current;
    for (const auto &child : container->childNodes())
        if (const auto found = byElement.constFind(child.get()); found != byElement.cend())
            current.push_back(found.value());
    QHash<QString, int> fileOrder;
    const KRXMLNode xmlParent = object->xmlElement().parent();
    if (!xmlParent.isNull()) {
        int index = 0;
        for (const KRXMLNode &sibling : xmlParent.elements())
            fileOrder.insert(sibling.attribute(QStringLiteral("id")), index++);
    }
    struct Entry
    {
        BuildPlace place;
        int fileIndex;
        std::size_t now; // index in current
    };
    std::vector<Entry> wanted;
    wanted.reserve(current.size());
    for (std::size_t i = 0; i < current.size(); ++i)
        wanted.push_back({buildPlace(current[i]->xmlElement()), fileOrder.value(current[i]->kr_id(), std::numeric_limits<int>::max()), i});
    std::stable_sort(wanted.begin(), wanted.end(), [](const Entry &a, const Entry &b) {
        if (buildsBefore(a.place, b.place))
            return true;
        if (buildsBefore(b.place, a.place))
            return false;
        return a.fileIndex < b.fileIndex;
    });
    // The longest run of controls already in order stays; the others move, each just after
    // the one before it in the wanted order.
    const std::size_t n = wanted.size();
    std::vector<std::size_t> rank(n); // current index -> wanted index
    for (std::size_t w = 0; w < n; ++w)
        rank[wanted[w].now] = w;
    std::vector<std::size_t> tails;          // indices into current, by run length
    std::vector<std::ptrdiff_t> before(n, -1); // the previous element of the run ending at i
    for (std::size_t i = 0; i < n; ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), rank[i],
                                         [&rank](std::size_t t, std::size_t r) { return rank[t] < r; });
        if (at != tails.begin())
            before[i] = std::ptrdiff_t(*(at - 1));
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> stays(n, false);
    for (std::ptrdiff_t i = tails.empty() ? -1 : std::ptrdiff_t(tails.back()); i >= 0; i = before[std::size_t(i)])
        stays[std::size_t(i)] = true;
    if (tails.size() == n)
        return;
    // All the moves in one pass over the container's children: one by one, each looked for
    // its place among thousands.
    std::vector<DOMNode::ChildPlacement> placements;
    std::vector<std::shared_ptr<KRObject>> moving;
    std::shared_ptr<DOMNode> previous;
    for (std::size_t w = 0; w < n; ++w) {
        const auto &control = current[wanted[w].now];
        const std::shared_ptr<DOMNode> dom = control->domElement();
        if (!stays[wanted[w].now]) {
            if (previous) {
                placements.push_back({dom, previous, true});
            } else {
                std::shared_ptr<DOMNode> reference;
                for (const auto &child : container->childNodes())
                    if (byElement.contains(child.get())) {
                        reference = child;
                        break;
                    }
                placements.push_back({dom, reference, false});
            }
            moving.push_back(control);
        }
        previous = dom;
    }
    const std::vector<bool> moved = container->placeChildren(placements);
    // The view builds a moved element anew from its markup: what its set-ups made of it
    // there is made again.
    for (std::size_t m = 0; m < moving.size(); ++m)
        if (moved[m])
            rerunDesignSetUps(moving[m]);
}

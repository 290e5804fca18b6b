#include "KRPageOutput.h"

#include <controls/KRPlugin.h>
#include <controls/jqm/JQMShadowedNames.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <model/KRClassRegistry.h>
#include <model/KRFunction.h>
#include <model/KRObjectClass.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMCSSStyleSheet.h>
#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMHTMLSerializer.h>
#include <platform/dom/DOMTextWriter.h>
#include <platform/foundation/KRException.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>
#include <mutex>

namespace {

const QString kFormControlClass = QStringLiteral("KRFormControl");

std::mutex g_providerLock;
KRPageOutput::PluginClassDataProvider &pluginProvider()
{
    static KRPageOutput::PluginClassDataProvider provider;
    return provider;
}

// The loaded plug-ins' data: the class's bundle and the full paths of its scripts and those
// of its plug-in superclasses (a superclass's scripts lie in its own bundle).
KRPageOutput::PluginClassData loadedPluginData(const KRObjectClass &objectClass)
{
    KRPageOutput::PluginClassData data;
    if (const KRPluginClassData *plugin = KRPlugin::subclassData(objectClass.className)) {
        data.pluginBasePath = plugin->pluginBasePath;
        data.runtimeSource = KRPlugin::runtimeSourcePaths(objectClass.className);
    }
    return data;
}

KRPageOutput::PluginClassData pluginData(const KRObjectClass &objectClass)
{
    KRPageOutput::PluginClassDataProvider provider;
    {
        std::lock_guard lock(g_providerLock);
        provider = pluginProvider();
    }
    return provider ? provider(objectClass) : loadedPluginData(objectClass);
}

// The page's plug-in classes (each once, in the page's id order) with their data.
QList<KRPageOutput::PluginClassData> pluginClasses(const KRPage &page)
{
    QList<KRPageOutput::PluginClassData> classes;
    QSet<const KRObjectClass *> seen;
    for (const auto &object : page.allObjects()) {
        const KRObjectClass *objectClass = &object->objectClass();
        if (!objectClass->plugin || seen.contains(objectClass))
            continue;
        seen.insert(objectClass);
        classes.append(pluginData(*objectClass));
    }
    return classes;
}

// Replaces every "<prefix>rest')" (quoted) or "<prefix>rest)" by "url('rest')", where rest is
// at least one character up to the first quote (quoted) or parenthesis; with skipHost a host
// name and "/" between prefix and rest are dropped as well. One plain scan, without building
// a pattern for each page's addresses.
void rewriteURLs(QString &html, const QString &prefix, bool quoted, bool skipHost)
{
    const QChar stop = quoted ? QLatin1Char('\'') : QLatin1Char(')');
    QString out;
    qsizetype copied = 0;
    qsizetype from = 0;
    qsizetype at;
    while ((at = html.indexOf(prefix, from)) >= 0) {
        from = at + 1;
        qsizetype start = at + prefix.size();
        if (skipHost) {
            const qsizetype slash = html.indexOf(QLatin1Char('/'), start);
            if (slash <= start)
                continue;
            start = slash + 1;
        }
        const qsizetype end = html.indexOf(stop, start);
        if (end <= start || (quoted && (end + 1 >= html.size() || html.at(end + 1) != QLatin1Char(')'))))
            continue;
        if (out.isEmpty())
            out.reserve(html.size());
        out += QStringView(html).mid(copied, at - copied);
        out += QLatin1String("url('");
        out += QStringView(html).mid(start, end - start);
        out += QLatin1String("')");
        copied = end + (quoted ? 2 : 1);
        from = copied;
    }
    if (copied == 0)
        return;
    out += QStringView(html).mid(copied);
    html = out;
}

// Whether "url(" stands anywhere in the text. A page's text runs to tens of thousands of
// characters and seldom holds an address: the search goes from bracket to bracket, which
// Qt finds many characters at a time, where a search for the word looks at every one.
bool holdsURLFunction(QStringView text)
{
    for (qsizetype at = text.indexOf(u'('); at >= 0; at = text.indexOf(u'(', at + 1)) {
        if (at >= 3 && text.sliced(at - 3, 3) == u"url")
            return true;
    }
    return false;
}

// Replaces url('<address>rest') and url(<address>rest) by url('rest').
void makeRelative(QString &html, const QString &address)
{
    if (address.isEmpty())
        return;
    rewriteURLs(html, QStringLiteral("url('") + address, true, false);
    rewriteURLs(html, QStringLiteral("url(") + address, false, false);
}

} // namespace

void KRPageOutput::setPluginClassDataProvider(PluginClassDataProvider provider)
{
    std::lock_guard lock(g_providerLock);
    pluginProvider() = std::move(provider);
}

KRResult<std::unique_ptr<KRPageOutput>> KRPageOutput::create(const KRXMLNode &pageElement,
                                                             const std::shared_ptr<KRProject> &project)
{
    try {
        auto page = KRPage::create(pageElement, project, QString(), false);
        if (!page.ok())
            return page.error();
        const KRXMLNode contents = pageElement.firstElementForName(QStringLiteral("KRContents"));
        if (!contents.isNull())
            page.value()->loadChildrenFromElement(contents, page.value());
        return std::make_unique<KRPageOutput>(page.value());
    } catch (const KRException &exception) {
        return KRError(QStringLiteral("Korvane"), 101,
                       QStringLiteral("The page \u201C%1\u201D could not be built: %2")
                           .arg(pageElement.attribute(QStringLiteral("id")), exception.reason()));
    }
}

KRPageOutput::KRPageOutput(std::shared_ptr<KRPage> page) : m_page(std::move(page)) {}

KRPageOutput::~KRPageOutput()
{
    // The page's objects and observers refer back to it: release them with the build.
    if (m_page)
        m_page->cleanup();
}

QString KRPageOutput::pageID() const
{
    return m_page->kr_id();
}

bool KRPageOutput::serverScriptsEnabled() const
{
    return serverScriptsEnabled(*m_page);
}

bool KRPageOutput::serverScriptsEnabled(const KRObject &page)
{
    return !page.value(QStringLiteral("kr_onGET")).isEmpty() || !page.value(QStringLiteral("kr_onPOST")).isEmpty();
}

void KRPageOutput::addFormElement()
{
    const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    const auto objects = m_page->allObjects();
    const bool hasFormControl = std::any_of(objects.cbegin(), objects.cend(), [&](const auto &object) {
        return !object->isPage() && registry.isKindOf(object->kr_className(), kFormControlClass);
    });
    const auto pageDiv = m_page->pageDivElement();
    if (!hasFormControl || !pageDiv)
        return;
    const auto document = m_page->domDocument();
    auto form = document->createElement(QStringLiteral("form"));
    form->setAttribute(QStringLiteral("data-ajax"), QStringLiteral("false"));
    const QString method = m_page->value(QStringLiteral("kr_formMethod"));
    if (!method.isEmpty())
        form->setAttribute(QStringLiteral("method"), method);
    form->setAttribute(QStringLiteral("id"), QStringLiteral("_form_") + pageID());
    while (const auto child = pageDiv->firstChild())
        form->appendChild(child);
    pageDiv->appendChild(form);
}

void KRPageOutput::separateShadowingNames()
{
    const auto pageDiv = m_page->pageDivElement();
    if (!pageDiv)
        return;
    const auto form = m_page->domDocument()->getElementById(QStringLiteral("_form_") + pageID());
    // The object each element belongs to: the nearest one whose element holds it.
    QHash<const DOMNode *, QString> objectIDs;
    for (const auto &object : m_page->allObjects()) {
        if (const auto element = object->domElement(); element && !object->isPage())
            objectIDs.insert(element.get(), object->kr_id());
    }
    auto ownerOf = [&](const DOMNode *node) {
        for (; node && node != pageDiv.get(); node = node->parent()) {
            if (const auto found = objectIDs.constFind(node); found != objectIDs.cend())
                return QStringLiteral("\u201C%1\u201D").arg(*found);
        }
        return QStringLiteral("the page");
    };
    QSet<QString> said;
    auto warn = [&](const QString &warning) {
        if (!said.contains(warning)) {
            said.insert(warning);
            m_warnings.append(warning);
        }
    };
    // Content nests as deep as the user wrote it: walked without recursion.
    std::vector<std::shared_ptr<DOMElement>> pending = pageDiv->children();
    while (!pending.empty()) {
        const std::shared_ptr<DOMElement> element = std::move(pending.back());
        pending.pop_back();
        for (auto &child : element->children())
            pending.push_back(std::move(child));
        const QString &tag = element->localName();
        // The document also answers for objects by id, and for named images by id.
        const bool inForm = form && JQMShadowedNames::isNamedOnForm(*element) && form->contains(element.get());
        const bool inDocument = JQMShadowedNames::isNamedOnDocument(*element);
        if (!inForm && !inDocument)
            continue;
        const QString name = element->getAttribute(QStringLiteral("name"));
        const QString id = element->id();
        const bool nameBreaksForm = inForm && JQMShadowedNames::breaksForm(name);
        if (!name.isEmpty() && (nameBreaksForm || (inDocument && JQMShadowedNames::breaksDocument(name)))) {
            element->setAttribute(QStringLiteral("data-kr-name"), name);
            element->setAttribute(QStringLiteral("name"), QStringLiteral("kr-name-") + name);
            // What the form submits goes out under the user's name (the runtime's "formdata").
            const bool sent = inForm && tag != QLatin1String("img") && tag != QLatin1String("fieldset")
                && tag != QLatin1String("output") && tag != QLatin1String("object");
            warn(QStringLiteral("The name \u201C%1\u201D of %2 on the page \u201C%3\u201D is that of a member of %4 that jQuery "
                                "and jQuery Mobile rely on, and the page would not run with it: the built page names it "
                                "\u201Ckr-name-%1\u201D, %5the page\u2019s styles and scripts find it only by that name "
                                "([name=\"kr-name-%1\"]%6).")
                     .arg(name, ownerOf(element.get()), pageID(),
                          nameBreaksForm ? QStringLiteral("its form") : QStringLiteral("the document"),
                          sent ? QStringLiteral("the form sends it as \u201C%1\u201D and a server page fills it by that name; ").arg(name)
                               : QString(),
                          sent ? QStringLiteral(", form.elements, $(form).serialize()") : QString()));
        }
        if (id.isEmpty())
            continue;
        const bool idBreaksForm = inForm && JQMShadowedNames::breaksForm(id);
        if (idBreaksForm
            || ((tag == QLatin1String("object") || (tag == QLatin1String("img") && !name.isEmpty()))
                && JQMShadowedNames::breaksDocument(id))) {
            element->setAttribute(QStringLiteral("id"), QStringLiteral("kr-id-") + id);
            warn(QStringLiteral("The id \u201C%1\u201D of an element of %2 on the page \u201C%3\u201D is that of a member of %4 "
                                "that jQuery and jQuery Mobile rely on, and the page would not run with it: the built page gives "
                                "it the id \u201Ckr-id-%1\u201D, and style rules (#%1), labels for it and scripts that look it "
                                "up by its id do not find it.")
                     .arg(id, ownerOf(element.get()), pageID(),
                          idBreaksForm ? QStringLiteral("its form") : QStringLiteral("the document")));
        }
    }
}

void KRPageOutput::addScripts()
{
    m_page->addExternalScript(QStringLiteral("KRObjects-min.js"));
    m_page->addExternalScript(QStringLiteral("KR-user-scripts.js"));
    if (const auto project = m_page->project()) {
        for (const QString &include : project->javascriptIncludes()) {
            if (!include.isEmpty())
                m_page->addExternalScript(include);
        }
    }
    for (const QString &line : m_page->value(QStringLiteral("kr_javascriptIncludes")).split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            m_page->addExternalScript(line);
    }
    // The builder copies each run-time file into the output folder under its own name.
    for (const QString &file : pluginRuntimeScriptFiles())
        m_page->addExternalScript(QFileInfo(file).fileName());
    // The server fills the form data into a served page file; an exported page is a plain
    // HTML file that no server processes, where the template expression would be a script
    // that does not parse.
    const auto project = m_page->project();
    if (serverScriptsEnabled() && !(project && project->exportMode()) && KRJavaScript::isValidIdentifier(pageID())) {
        if (const auto pageDiv = m_page->pageDivElement()) {
            auto script = m_page->domDocument()->createElement(QStringLiteral("script"));
            script->setTextContent(
                QStringLiteral("application._pages.%1.form = <%=response._formJSON()%>;\n").arg(pageID()));
            pageDiv->appendChild(script);
        }
    }
}

QString KRPageOutput::userScripts()
{
    const QString id = pageID();
    const auto project = m_page->project();
    const bool serverURL = serverScriptsEnabled() && !(project && project->exportMode());
    const auto objects = m_page->allObjects();

    // Loading gives the page and its objects identifiers; an id that is none anyway never
    // goes into the code.
    if (!KRJavaScript::isValidIdentifier(id)) {
        KR_LOG(QStringLiteral("No script for a page whose id is no identifier: %1").arg(KRJavaScript::quotedString(id)));
        return QStringLiteral("\n");
    }
    // Room for what a page's objects mostly write, made once rather than grown step by step;
    // the thousands of pieces go straight into it. Appended piece by piece also because the
    // values may hold "%1".
    QString text;
    text.reserve(1024 + objects.size() * 192);
    {
        DOMTextWriter out(text);
        out.append(QLatin1Char('\n'));
        out.append(QStringLiteral("application._pages.%1 = new KRPage(\"%1\");\n").arg(id));
        out.append(QLatin1String("(function(p) {\n"));
        out.append(QStringLiteral("p._pageURL = \"%1.%2\";\n").arg(id, serverURL ? QStringLiteral("krml") : QStringLiteral("html")));
        for (const auto &object : objects) {
            const auto *function = dynamic_cast<const KRFunction *>(object.get());
            if (function && function->kr_serverFunction() != QLatin1String("Yes") && KRJavaScript::isValidIdentifier(function->kr_id())) {
                // A list set since loading is bounded here: the function takes its event's
                // parameters instead, and the build says so.
                if (KRFunction::hasTooManyArguments(function->kr_arguments()))
                    KR_LOG(QStringLiteral("The function %1 of the page %2 has too many arguments (at most %3); it is built taking (%4)")
                               .arg(function->kr_id(), id)
                               .arg(KRFunction::MaximumArgumentCount)
                               .arg(KRFunction::eventArguments(false)));
                out.append(function->functionSource());
            }
        }
        out.append(QStringLiteral("$(document).off('_kr_pagechange', '#%1').on('_kr_pagechange', '#%1', function() {\n").arg(id));
        out.append(QLatin1String("p._load(function(o) {\n"));
        m_page->writeJSPropertyInitializations(out, u"p.");
        QString prefix; // "o.<object id>.", its room kept from one object to the next
        for (const auto &object : objects) {
            if (object->isPage() || !object->hasJSInstanceVariable())
                continue;
            const QString objectID = object->kr_id();
            if (!KRJavaScript::isValidIdentifier(objectID) || !KRJavaScript::isValidIdentifier(object->kr_className())) {
                KR_LOG(QStringLiteral("No script for an object whose id is no identifier: %1").arg(KRJavaScript::quotedString(objectID)));
                continue;
            }
            out.append(QLatin1String("o."));
            out.append(objectID);
            out.append(QLatin1String(" = new "));
            out.append(object->kr_className());
            out.append(QLatin1String("(\""));
            out.append(id);
            out.append(QLatin1Char('_'));
            out.append(objectID);
            out.append(QLatin1String("\");\n"));
            prefix.clear();
            prefix.append(QLatin1String("o.")).append(objectID).append(QLatin1Char('.'));
            object->writeJSPropertyInitializations(out, prefix);
        }
        out.append(QLatin1String("});\n"));
        out.append(QLatin1String("});\n"));
        out.append(QStringLiteral("})(application._pages.%1);\n").arg(id));
    }
    return text;
}

QStringList KRPageOutput::pluginRuntimeScripts() const
{
    QStringList scripts;
    for (const PluginClassData &data : pluginClasses(*m_page)) {
        for (const QString &script : data.runtimeSource) {
            if (!scripts.contains(script))
                scripts.append(script);
        }
    }
    return scripts;
}

QStringList KRPageOutput::pluginRuntimeScriptFiles()
{
    QStringList files;
    for (const PluginClassData &data : pluginClasses(*m_page)) {
        for (const QString &script : data.runtimeSource) {
            const QString file = QDir(data.pluginBasePath).filePath(script);
            if (!files.contains(file))
                files.append(file);
        }
    }
    return files;
}

QSet<QString> KRPageOutput::manifestResources() const
{
    return m_page->manifestResources();
}

QStringList KRPageOutput::requiredObjectScripts() const
{
    return m_page->requiredObjectScripts();
}

QSet<QString> KRPageOutput::requiredStylesheets() const
{
    return m_page->requiredStylesheets();
}

QSet<QString> KRPageOutput::requiredResources() const
{
    return m_page->requiredResources();
}

void KRPageOutput::addCSS(const QString &path)
{
    m_page->addCSS(path);
}

void KRPageOutput::addExternalScript(const QString &path)
{
    m_page->addExternalScript(path);
}

std::shared_ptr<DOMElement> KRPageOutput::pageDivElement() const
{
    return m_page->pageDivElement();
}

QString KRPageOutput::pageHTML()
{
    // Written straight after the doctype, into one buffer.
    QString html = QStringLiteral("<!DOCTYPE HTML>\n");
    DOMHTMLSerializer::serializeNode(*m_page->domDocument()->documentElement(), html);

    // Rules added after the marker (the style classes) are in the sheet only, not in the style
    // element's text; a sheet never asked for has none.
    QString rules;
    if (const auto sheet = m_page->styleSheetIfParsed()) {
        bool afterMarker = false;
        for (const auto &rule : sheet->cssRules()) {
            const QString text = rule->cssText();
            if (afterMarker)
                rules += text + QLatin1Char('\n');
            else if (text.contains(QLatin1String("kr-css-marker")))
                afterMarker = true;
        }
    }
    const QString styleTag = QStringLiteral("<style type=\"text/css\">");
    const qsizetype styleAt = html.indexOf(styleTag);
    if (styleAt < 0)
        krRaise(KRExceptionName::InternalInconsistency, QStringLiteral("style element not found in HTML source: %1").arg(html));
    html.insert(styleAt + styleTag.size(), rules);

    // Addresses of files in the web folder become relative to it, those elsewhere in the
    // package relative to the package. The design document may carry an address encoded or
    // not, so both spellings are taken. Every address rewritten follows "url(".
    const auto project = m_page->project();
    if (project && holdsURLFunction(html)) {
        const QUrl webURL = project->krwebURL();
        QStringList webForms = {webURL.toString()};
        if (webURL.toString(QUrl::FullyEncoded) != webForms.first())
            webForms.append(webURL.toString(QUrl::FullyEncoded));
        QStringList packageForms;
        for (QString &web : webForms) {
            web.replace(QStringLiteral("file://localhost"), QStringLiteral("file://"));
            QString package = web;
            const qsizetype webFolderAt = package.lastIndexOf(QStringLiteral("/kr-web"));
            if (webFolderAt >= 0)
                package.remove(webFolderAt, 7);
            packageForms.append(package);
        }
        for (const QString &web : webForms)
            makeRelative(html, web);
        rewriteURLs(html, QStringLiteral("url('applewebdata://"), true, true);
        rewriteURLs(html, QStringLiteral("url(applewebdata://"), false, true);
        for (const QString &package : packageForms)
            makeRelative(html, package);
    }
    return html;
}

QString KRPageOutput::pageHTMLWithLibraryPlaceholder(const QString &placeholder)
{
    m_page->headElement()->appendChild(m_page->domDocument()->createComment(placeholder));
    return pageHTML();
}

QString KRPageOutput::libraryLinksText(const QStringList &stylesheets, const QStringList &scripts)
{
    // Elements are written out alike whatever their document and place.
    const std::shared_ptr<DOMDocument> document = DOMDocument::createHTMLDocument();
    QString text;
    for (const QString &stylesheet : stylesheets)
        text += KRPage::stylesheetLinkElement(*document, stylesheet)->outerHTML();
    for (const QString &script : scripts)
        text += KRPage::externalScriptElement(*document, script)->outerHTML();
    return text;
}

QString KRPageOutput::pageKRML()
{
    KRXMLDocument document = KRXMLDocument::create(QStringLiteral("krml"));
    KRXMLNode root = document.rootElement();

    QJsonObject pageMap;
    if (const auto project = m_page->project()) {
        for (const auto &page : project->sortedPages()) {
            pageMap.insert(page->kr_id(), page->kr_id() + (serverScriptsEnabled(*page) ? QStringLiteral(".krml")
                                                                                       : QStringLiteral(".html")));
        }
    }
    KRXMLNode mapElement = document.createElement(QStringLiteral("pageMap"));
    mapElement.appendChild(document.createCDATASection(
        QString::fromUtf8(QJsonDocument(pageMap).toJson(QJsonDocument::Compact))));
    root.appendChild(mapElement);

    KRXMLNode htmlElement = document.createElement(QStringLiteral("html"));
    htmlElement.appendChild(document.createCDATASection(pageHTML()));
    root.appendChild(htmlElement);

    KRXMLNode events = document.createElement(QStringLiteral("events"));
    for (const char *event : {"onGET", "onPOST"}) {
        const QString name = m_page->value(QStringLiteral("kr_") + QString::fromLatin1(event));
        if (name.isEmpty())
            continue;
        const auto *function = dynamic_cast<const KRFunction *>(m_page->objectForID(name).get());
        if (!function)
            continue;
        KRXMLNode element = document.createElement(QStringLiteral("event"));
        element.setAttribute(QStringLiteral("id"), QString::fromLatin1(event));
        element.appendChild(document.createCDATASection(function->kr_source()));
        events.appendChild(element);
    }
    root.appendChild(events);
    return QString::fromUtf8(document.xmlData());
}

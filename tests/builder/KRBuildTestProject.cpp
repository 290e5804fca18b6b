#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <core/KRFileManagerAdditions.h>
#include <model/KRClassRegistry.h>
#include <model/KRModelAdapter.h>
#include <model/KRPage.h>
#include <model/KRProjectResource.h>
#include <model/KRPropertyDescriptor.h>
#include <model/KRWebFolder.h>
#include <platform/dom/DOMComment.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMText.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

namespace {

QStringList wordList(const KRXMLNode &element, const char *attribute)
{
    return element.attribute(QString::fromLatin1(attribute)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

QSet<QString> words(const KRXMLNode &element, const char *attribute)
{
    const QStringList list = wordList(element, attribute);
    return QSet<QString>(list.begin(), list.end());
}

class KRStandInPage final : public KRBuildPage
{
public:
    KRStandInPage(const KRXMLNode &element, KRBuildTestProject &project) : m_project(project)
    {
        m_id = element.attribute(QStringLiteral("id"));
        m_serverScripts = element.attribute(QStringLiteral("serverScripts")) == QLatin1String("true");
        m_brokenHTML = element.attribute(QStringLiteral("brokenHTML")) == QLatin1String("true");
        m_scripts = wordList(element, "requiredScripts");
        m_stylesheets = words(element, "requiredStylesheets");
        m_resources = words(element, "requiredResources");
        m_manifest = words(element, "manifest");
        for (const QString &plugin : words(element, "plugins"))
            m_plugins.append(project.pluginFolder() + QLatin1Char('/') + plugin);
        std::sort(m_plugins.begin(), m_plugins.end());

        m_document = DOMDocument::parseHTML(QStringLiteral(
            "<html><head><meta charset=\"utf-8\"><title>%1</title><style type=\"text/css\">.kr-css-marker {}</style>"
            "</head><body><div data-role=\"page\" id=\"%1\"></div></body></html>").arg(m_id));
        m_pageDiv = m_document->getElementById(m_id);
        const KRXMLNode contents = element.firstElementForName(QStringLiteral("KRContents"));
        if (contents) {
            for (const KRXMLNode &object : contents.elements()) {
                const QString objectID = object.attribute(QStringLiteral("id"));
                m_objects.append({objectID, object.name()});
                if (object.attribute(QStringLiteral("form")) == QLatin1String("true"))
                    m_hasFormControl = true;
                auto div = m_document->createElement(QStringLiteral("div"));
                div->setAttribute(QStringLiteral("id"), m_id + QLatin1Char('_') + objectID);
                div->setAttribute(QStringLiteral("class"), QStringLiteral("kr-") + object.name());
                div->appendChild(std::shared_ptr<DOMNode>(m_document->createTextNode(object.stringValue())));
                m_pageDiv->appendChild(div);
            }
        }
    }

    QString pageID() const override { return m_id; }

    void addFormElement() override
    {
        if (!m_hasFormControl)
            return;
        auto form = m_document->createElement(QStringLiteral("form"));
        form->setAttribute(QStringLiteral("data-ajax"), QStringLiteral("false"));
        form->setAttribute(QStringLiteral("id"), QStringLiteral("_form_") + m_id);
        while (auto child = m_pageDiv->firstChild())
            form->appendChild(child);
        m_pageDiv->appendChild(form);
    }

    void addScripts() override
    {
        addExternalScript(QStringLiteral("KRObjects-min.js"));
        addExternalScript(QStringLiteral("KR-user-scripts.js"));
        for (const QString &plugin : m_plugins)
            addExternalScript(QFileInfo(plugin).fileName());
    }

    QString userScripts() override
    {
        QString block = QStringLiteral("\napplication._pages.%1 = new KRPage(\"%1\");\n(function(p) {\n").arg(m_id);
        block += QStringLiteral("p._pageURL = \"%1.%2\";\n")
                     .arg(m_id, m_serverScripts && !m_project.exportMode() ? QStringLiteral("krml") : QStringLiteral("html"));
        block += QStringLiteral("$(document).off('_kr_pagechange', '#%1').on('_kr_pagechange', '#%1', function() {\n"
                                "p._load(function(o) {\n").arg(m_id);
        for (const auto &[objectID, className] : m_objects)
            block += QStringLiteral("o.%1 = new %2(\"%3_%1\");\n").arg(objectID, className, m_id);
        block += QStringLiteral("});\n});\n})(application._pages.%1);\n").arg(m_id);
        return block;
    }

    QStringList pluginRuntimeScriptFiles() override { return m_plugins; }
    QSet<QString> manifestResources() const override { return m_manifestResources + m_manifest; }
    QStringList requiredObjectScripts() const override { return m_scripts; }
    QSet<QString> requiredStylesheets() const override { return m_stylesheets; }
    QSet<QString> requiredResources() const override { return m_resources; }

    static std::shared_ptr<DOMElement> linkElement(DOMDocument &document, const QString &path)
    {
        auto link = document.createElement(QStringLiteral("link"));
        link->setAttribute(QStringLiteral("rel"), QStringLiteral("stylesheet"));
        link->setAttribute(QStringLiteral("href"), path);
        return link;
    }
    static std::shared_ptr<DOMElement> scriptElement(DOMDocument &document, const QString &path)
    {
        auto script = document.createElement(QStringLiteral("script"));
        script->setAttribute(QStringLiteral("src"), path);
        return script;
    }

    void addCSS(const QString &path) override
    {
        m_document->head()->appendChild(linkElement(*m_document, path));
        m_manifestResources.insert(path);
    }

    void addExternalScript(const QString &path) override
    {
        m_document->head()->appendChild(scriptElement(*m_document, path));
        m_manifestResources.insert(path);
    }

    std::shared_ptr<DOMElement> pageDivElement() const override { return m_pageDiv; }
    bool serverScriptsEnabled() const override { return m_serverScripts; }

    QString pageHTML() override
    {
        if (m_brokenHTML)
            krRaise(KRExceptionName::InternalInconsistency, QStringLiteral("style element not found in HTML source: ..."));
        return QStringLiteral("<!DOCTYPE HTML>\n") + m_document->documentElement()->outerHTML();
    }

    QString pageHTMLWithLibraryPlaceholder(const QString &placeholder) override
    {
        if (!m_project.linksLibrariesLate())
            return {};
        m_document->head()->appendChild(m_document->createComment(placeholder));
        return pageHTML();
    }

    QString pageKRML() override
    {
        return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<krml><html><![CDATA[%1]]></html></krml>\n")
            .arg(pageHTML());
    }

private:
    KRBuildTestProject &m_project;
    QString m_id;
    bool m_serverScripts = false;
    bool m_hasFormControl = false;
    bool m_brokenHTML = false;
    QStringList m_scripts;
    QSet<QString> m_stylesheets;
    QSet<QString> m_resources;
    QSet<QString> m_manifest;
    QSet<QString> m_manifestResources;
    QStringList m_plugins;
    QList<std::pair<QString, QString>> m_objects;
    std::shared_ptr<DOMDocument> m_document;
    std::shared_ptr<DOMElement> m_pageDiv;
};

} // namespace

KRBuildTestProject::KRBuildTestProject(const QString &packagePath, const QByteArray &projectXML)
    : m_packagePath(packagePath)
{
    auto xml = KRXMLDocument::fromData(projectXML);
    EXPECT_TRUE(xml.ok()) << (xml.ok() ? std::string() : xml.error().toString().toStdString());
    if (xml.ok())
        m_xml = xml.value();
    QDir().mkpath(packagePath + QStringLiteral("/kr-web"));
    m_webFolder = KRWebFolder::create(this);
}

KRBuildTestProject::~KRBuildTestProject() = default;

KRResult<std::unique_ptr<KRBuildPage>> KRBuildTestProject::makeOutputPage(const KRXMLNode &pageElement)
{
    if (pageElement.attribute(QStringLiteral("broken")) == QLatin1String("true"))
        return KRError(QStringLiteral("Korvane"), 100, QStringLiteral("A page of the project has no id."));
    // The process is killed while this page is made, once the build has begun to make files
    // in the web folder (or after a few seconds): what a build stopped at that moment leaves.
    if (pageElement.attribute(QStringLiteral("killsTheProcess")) == QLatin1String("true")) {
        const QDir web(m_packagePath + QStringLiteral("/kr-web"));
        for (int wait = 0; wait < 5000; ++wait) {
            if (!web.entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression(QStringLiteral("\\.html$|^\\.kr-write-"))).isEmpty())
                break;
            ::usleep(1000);
        }
        ::_exit(9);
    }
    return std::unique_ptr<KRBuildPage>(std::make_unique<KRStandInPage>(pageElement, *this));
}

std::optional<QString> KRBuildTestProject::libraryLinksText(const QStringList &stylesheets,
                                                           const QStringList &scripts) const
{
    if (!m_linksLibrariesLate)
        return std::nullopt;
    const auto document = DOMDocument::createHTMLDocument();
    QString text;
    for (const QString &stylesheet : stylesheets)
        text += KRStandInPage::linkElement(*document, stylesheet)->outerHTML();
    for (const QString &script : scripts)
        text += KRStandInPage::scriptElement(*document, script)->outerHTML();
    return text;
}

QString KRBuildTestProject::webFolderPath()
{
    return m_webFolder->krwebPath();
}

QVariantMap KRBuildTestProject::jqmURLs() const
{
    return {
        {QStringLiteral("localPathRoot"), QStringLiteral("/__kr_bundle/jquery.mobile-1.4.0")},
        {QStringLiteral("urlRoot"), QStringLiteral("http://cdn.example.com/ajax/jquery.mobile/1.4.0")},
        {QStringLiteral("bundlePathRoot"), QStringLiteral("jquery.mobile-1.4.0")},
    };
}

void KRBuildTestProject::setExportMode(bool exportMode)
{
    m_exportMode = exportMode;
    m_exportModeChanges.append(exportMode);
}

QList<std::shared_ptr<KRProjectResource>> KRBuildTestProject::resources()
{
    return m_webFolder->resources();
}

void KRBuildTestProject::reloadResources()
{
    ++m_reloadCount;
    m_webFolder->reloadResources();
}

std::shared_ptr<KRProjectResource> KRBuildTestProject::resourceForThemeName(const QString &name)
{
    return m_webFolder->resourceForThemeName(name);
}

void KRBuildTestProject::setSetting(const QString &key, const QString &value)
{
    KRXMLNode settings = m_xml.rootElement().firstElementForName(QStringLiteral("KRProject"), true);
    settings.setAttribute(key, value);
}

QString KRBuildTestProject::setting(const char *key) const
{
    return m_xml.rootElement().firstElementForName(QStringLiteral("KRProject")).attribute(QString::fromLatin1(key));
}

namespace KRBuildTest {

QString makeResourcesFolder()
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("resources"));
    const QString server = folder + QStringLiteral("/local-server/");
    KRTest::writeFile(folder + QStringLiteral("/runtime/KRObjects-min.js"), "/* object runtime */\nvar KRObjects={};\n");
    KRTest::writeFile(server + QStringLiteral("jquery-1.9.0/jquery.min.js"), "/* jQuery */\n");
    KRTest::writeFile(server + QStringLiteral("jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js"), "/* jQuery Mobile */\n");
    KRTest::writeFile(server + QStringLiteral("jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css"), "/* structure */\n");
    KRTest::writeFile(server + QStringLiteral("jquery.mobile-1.4.0/images/ajax-loader.gif"), "GIF89a");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe.min.js"), "/* PhotoSwipe */\n");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe.css"), "/* PhotoSwipe styles */\n");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/photoswipe-ui-default.min.js"), "/* PhotoSwipe UI */\n");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.png"), "PNG");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.css"), "/* skin */\n");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/default-skin.svg"), "<svg/>");
    KRTest::writeFile(server + QStringLiteral("photoswipe-3.0.5/default-skin/preloader.gif"), "GIF89a");
    KRTest::writeFile(server + QStringLiteral("js-class.js"), "/* classes */\n");
    KRTest::writeFile(server + QStringLiteral("bluff-src.js"), "/* charts */\n");
    return folder;
}

QString dumpFolder(const QString &folder, const QString &deviceMapJSON, bool allContents)
{
    QStringList paths;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths.append(QDir(folder).relativeFilePath(it.next()));
    std::sort(paths.begin(), paths.end());

    const QString generated = QString::fromLatin1(KRProjectResource::GeneratedFileMark);
    const QString staged = QString::fromLatin1(KRProjectResource::StagedFileMark);
    QString listing;
    QString contents;
    for (const QString &path : paths) {
        const QString full = folder + QLatin1Char('/') + path;
        const QFileInfo info(full);
        QString line = info.isDir() ? path + QLatin1Char('/') : path;
        const bool isGenerated = KRFileManager::extendedAttributeOfItemAtPath(full, generated) == QLatin1String("true");
        if (isGenerated)
            line += QStringLiteral(" [generated]");
        if (KRFileManager::extendedAttributeOfItemAtPath(full, staged) == QLatin1String("true"))
            line += QStringLiteral(" [staged]");
        listing += line + QLatin1Char('\n');
        if (info.isFile() && (isGenerated || allContents)) {
            QString text = QString::fromUtf8(KRTest::readFile(full));
            if (!deviceMapJSON.isEmpty())
                text.replace(deviceMapJSON, QStringLiteral("{{deviceMap}}"));
            contents += QStringLiteral("\n==== %1\n%2").arg(path, text);
        }
    }
    return listing + contents;
}

void expectMatchesReference(const QString &text, const QString &name)
{
    const QString path = QStringLiteral(KR_TEST_DATA_DIR "/builder/") + name;
    if (qEnvironmentVariable("KR_UPDATE_REFERENCE") == QLatin1String("1")) {
        KRTest::writeFile(path, text.toUtf8());
        return;
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "missing reference " << path.toStdString();
    const QString expected = QString::fromUtf8(file.readAll());
    if (expected != text)
        KRTest::writeFile(path + QStringLiteral(".FAILED"), text.toUtf8());
    else
        QFile::remove(path + QStringLiteral(".FAILED"));
    EXPECT_EQ(expected.toStdString(), text.toStdString()) << "see " << path.toStdString() << ".FAILED";
}

} // namespace KRBuildTest

namespace KRBuildTest {

QByteArray sampleProjectXML()
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
  <KRProject startPage="settings" designTarget="iPhone" sitemap="true" generateManifest="true" defaultTheme="blue" ajaxPageLoading="true"/>
  <KRPages>
    <KRPage id="home" requiredScripts="js-class.js bluff-src.js" manifest="images/logo.png">
      <KRContents><KRLabel id="title">Welcome &amp; hello</KRLabel><KRBluffGraph id="chart"/></KRContents>
    </KRPage>
    <KRPage id="order" serverScripts="true" requiredScripts="photoswipe-3.0.5/photoswipe.min.js"
            requiredStylesheets="photoswipe-3.0.5/photoswipe.css" requiredResources="photoswipe-3.0.5/default-skin/default-skin.png">
      <KRContents><JQMTextbox id="name" form="true"/><KRButton id="send"/></KRContents>
    </KRPage>
    <KRPage id="settings" plugins="MyGauge.js">
      <KRContents><MyGauge id="gauge"/></KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
)";
}

void populateSampleProject(KRBuildTestProject &project)
{
    const QString web = project.webFolderPath() + QLatin1Char('/');
    KRTest::writeFile(web + QStringLiteral("blue.css"),
                      ".ui-btn {} .ui-body-a { background: url(images/bg.png); } .ui-bar-a {} .ui-shadow {}\n");
    KRTest::writeFile(web + QStringLiteral("app.css"), "body { color: black; }\n");
    KRTest::writeFile(web + QStringLiteral("images/logo.png"), "PNG");
    KRTest::writeFile(web + QStringLiteral(".hidden"), "not listed");
    KRTest::writeFile(project.pluginFolder() + QStringLiteral("/MyGauge.js"),
                      "KRPlugin.define('MyGauge', { render: function (e) {} });\n");
}

bool supportsFileMarks(const QString &folder)
{
    const QString probe = folder + QStringLiteral("/.mark-probe");
    KRTest::writeFile(probe, "x");
    KRFileManager::setExtendedAttributeOfItemAtPath(probe, QStringLiteral("com.korvane.probe"), QStringLiteral("true"));
    const bool supported = KRFileManager::extendedAttributeOfItemAtPath(probe, QStringLiteral("com.korvane.probe"))
        == QLatin1String("true");
    QFile::remove(probe);
    return supported;
}

} // namespace KRBuildTest

namespace {

// A control whose output markup is one div "<page>_<id>" in the page element.
class KROutputTestControl : public KRObject
{
public:
    using KRObject::KRObject;

protected:
    void willEnableModelAdapters() override
    {
        const auto page = std::dynamic_pointer_cast<KRPage>(owningPage());
        if (!page || !page->pageDivElement())
            return;
        auto div = page->domDocument()->createElement(QStringLiteral("div"));
        div->setAttribute(QStringLiteral("id"), page->kr_id() + QLatin1Char('_') + kr_id());
        page->pageDivElement()->appendChild(div);
        setDomElement(div);
    }
};

} // namespace

void KRBuildTest::registerOutputTestClasses()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KRPage::registerPageClass();
    KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    auto make = [](const char *name, const char *superclass) {
        KRObjectClass objectClass;
        objectClass.className = QString::fromLatin1(name);
        objectClass.superclassName = QString::fromLatin1(superclass);
        objectClass.factory = [](const KRObjectInit &init) { return std::make_shared<KROutputTestControl>(init); };
        objectClass.descriptors = {
            KRPropertyDescriptor(QStringLiteral("text"), QString(), QString(), KRAdapterOptionJSString),
            KRPropertyDescriptor(QStringLiteral("onClick"), QString(), QString(),
                                 KRAdapterOptionEvent | KRAdapterOptionFunctionReference),
        };
        return objectClass;
    };
    if (!registry.classNamed(QStringLiteral("KRFormControl")))
        registry.registerClass(make("KRFormControl", "KRObject"));
    registry.registerClass(make("KROutputTextbox", "KRFormControl"));
    KRObjectClass label = make("KROutputLabel", "KRObject");
    label.requiredScripts = {QStringLiteral("js-class.js")};
    label.requiredStylesheets = {QStringLiteral("photoswipe-3.0.5/photoswipe.css")};
    registry.registerClass(label);
    KRObjectClass gauge = make("KROutputGauge", "KRObject");
    gauge.plugin = true;
    registry.registerClass(gauge);
}

QByteArray KRBuildTest::outputProjectXML()
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="page2" javascriptIncludes="[&quot;lib/extra.js&quot;,&quot;&quot;]"
             defaultTheme="blue" sitemap="true" generateManifest="true"/>
  <KRPages>
    <KRPage id="page1" title="Order" formMethod="post" onGET="serve" onLoad="loaded">
      <javascriptIncludes>a.js

b.coffee</javascriptIncludes>
      <KRContents>
        <KROutputTextbox id="name" text="He said &quot;hi&quot;" onClick="clicked"/>
        <KRFunction id="clicked" arguments="event">return 1;</KRFunction>
        <KRFunction id="loaded" arguments="event">var x = 2;</KRFunction>
        <KRFunction id="serve" serverFunction="Yes" arguments="request, response">response.write("a]]&gt;b");</KRFunction>
        <KRStyleClass id="Highlight" color="red"/>
      </KRContents>
    </KRPage>
    <KRPage id="page2" title="Start">
      <KRContents>
        <KROutputLabel id="label" text="Welcome"/>
        <KROutputGauge id="gauge"/>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
)";
}

#include <builder/KRBuilderSetup.h>
#include <controls/KRPluginLoader.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRObjectInfo.h>
#include <model/KRProject.h>

#include <QRegularExpression>

namespace KRBuildTest {

void setUpRealControls()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KRLocalServerPort::setProvider([] { return qint64(4242); });
    KRObjectInfo::sharedInstance();
    setUpProjectBuilder();
    KRPluginLoader loader;
    loader.loadPlugin(QStringLiteral(KR_TEST_DATA_DIR "/plugins/Gauge.krplugin"));
    EXPECT_TRUE(loader.problems().isEmpty()) << loader.problems().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(loader.loadedClasses().contains(QStringLiteral("KRSampleGauge")));
}

QByteArray controlProjectXML()
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<KRProjectDocument appVersion="0.1.0">
  <KRProject JQMVersion="1.4" designTarget="iPhone" startPage="home" sitemap="true" generateManifest="true"
             defaultTheme="blue" ajaxPageLoading="true"/>
  <KRPages>
    <KRPage id="order" title="Order &amp; pay" formMethod="post" onGET="serve">
      <KRContents>
        <JQMHeaderToolbar id="header1" title="Your order" leftButtonLabel="Back" leftButtonGotoPage="home"/>
        <JQMTextbox id="name" top="50" left="10" width="300" label="Name" placeholder="you@example.org" type="email"/>
        <JQMTextArea id="notes" top="110" left="10" width="300" label="Notes" value="a&#10;b"/>
        <JQMSelect id="size" top="200" left="10" width="300" label="Size" value="m">s|Small
m|Medium
l|Large</JQMSelect>
        <JQMSlider id="count" top="260" left="10" width="300" label="How many" value="2" step="1"/>
        <JQMSlideToggle id="gift" top="320" left="10" width="300" label="Gift wrap" value="On"/>
        <JQMCheckboxGroup id="extras" top="380" left="10" width="300" label="Extras" value="y">x|Card
y|Ribbon</JQMCheckboxGroup>
        <JQMRadioButtonGroup id="pay" top="460" left="10" width="300" label="Pay by" value="b" orientation="horizontal">a|Cash
b|Card</JQMRadioButtonGroup>
        <JQMButton id="send" top="540" left="10" width="300" value="Send" icon="check" onClick="submitted"/>
        <KRTextbox id="code" top="600" left="10" width="120" value="" placeholder="Code" name="code"/>
        <KRCheckbox id="terms" top="600" left="140" value="yes" checked="true"/>
        <KRRadioButton id="fast" top="600" left="170" value="fast" checked="false"/>
        <KRSelect id="country" top="640" left="10" width="120" value="Two">One
Two</KRSelect>
        <KRTextArea id="remarks" top="680" left="10" width="300" height="60" value="line 1&#10;line 2"/>
        <KRFunction id="submitted" arguments="event">alert("Thanks, " + this.page.o.name.value + "!");</KRFunction>
        <KRFunction id="serve" serverFunction="Yes" arguments="request, response">response.write("]]&gt;");</KRFunction>
      </KRContents>
    </KRPage>
    <KRPage id="home" title="Shop" onLoad="welcome">
      <KRContents>
        <JQMHeaderToolbar id="header1" title="Tom &amp; Jerry's" theme="b" position="fixed" rightButtonLabel="Order"
                          rightButtonGotoPage="order" rightButtonIcon="arrow-r"
                          navbarItems='[{"label":"Home","icon":"home","active":true},{"label":"Order","gotoPage":"order"},{"label":"Hi","onClick":"welcome"}]'/>
        <KRLabel id="title" top="60" left="10" width="300" value="Welcome &lt;home&gt;" styleClass="Big" fontSize="18"/>
        <KRImage id="logo" top="100" left="10" width="64" height="64" src="images/logo.png"/>
        <KRButton id="go" top="180" left="10" width="120" value="Go" gotoPage="media" gotoPageTransition="slide"/>
        <KRDiv id="box" top="220" left="10" width="300" height="80">Some &lt;b&gt;text&lt;/b&gt;<KRContents><KRLabel id="inner" top="5" left="5" value="Inside"/></KRContents></KRDiv>
        <JQMListView id="list" top="320" left="0" width="100%" height="200" icon="arrow-r" inset="true">[{"divider":true,"label":"Fruit"},{"label":"Apple \"red\"","badge":"3","gotoPage":"order"},{"label":"Pear","onClick":"welcome"}]</JQMListView>
        <JQMFooterToolbar id="footer1" title="" navbarItems='[{"label":"A"},{"label":"B","active":1}]'/>
        <KRFunction id="welcome" arguments="event">var who = 'world';
return "Hello, " + who + "&lt;/script&gt;";</KRFunction>
        <KRStyleClass id="Big" color="red" fontSize="24"/>
      </KRContents>
    </KRPage>
    <KRPage id="media" title="Media">
      <KRContents>
        <KRBluffGraph id="chart" top="10" left="10" width="300" height="200" type="Bar" theme="keynote" title="Sales 'Q1'"/>
        <KRPhotoSwipe id="gallery" top="220" left="10" width="300" height="200" loop="true">images/logo.png|The logo
images/logo.png</KRPhotoSwipe>
        <JQMSimplePopup id="popup1" title="Saved" message="All done." button1Label="OK" onButton1Click="closed"/>
        <KRTimer id="timer1" interval="1500" onTimeout="tick"/>
        <KRTable id="table1" top="430" left="10" width="300" height="80" rows="2" columns="3" borderStyle="solid" borderWidth="1"/>
        <KRCanvas id="canvas1" top="520" left="10" width="100" height="50"/>
        <KRLocalDataSource id="dataSource1"/>
        <KRSampleGauge id="gauge1" top="580" left="10" width="100" height="50" caption="Fuel" value="40" onLimit="tick"/>
        <KRFunction id="tick" arguments="event">console.log(1);</KRFunction>
        <KRFunction id="closed" arguments="event">return false;</KRFunction>
      </KRContents>
    </KRPage>
  </KRPages>
</KRProjectDocument>
)";
}

OpenedProject openPackage(const QString &package, const QByteArray &xml)
{
    OpenedProject result;
    result.package = package;
    QDir().mkpath(result.webFolder());
    KRTest::writeFile(package + QStringLiteral("/project.xml"), xml);
    auto document = KRDocument::openPackage(package);
    EXPECT_TRUE(document.ok()) << (document.ok() ? std::string() : document.error().toString().toStdString());
    if (!document.ok())
        return result;
    result.document = document.value();
    auto project = KRProject::create(result.document, true);
    EXPECT_TRUE(project.ok()) << (project.ok() ? std::string() : project.error().toString().toStdString());
    if (project.ok())
        result.project = project.value();
    return result;
}

OpenedProject openTestProject(const QByteArray &xml)
{
    return openPackage(KRTest::makeTempDir(QStringLiteral("project")) + QStringLiteral("/Test.krproj"), xml);
}

ControlProject openControlProject(const QByteArray &xml)
{
    const QString package = KRTest::makeTempDir(QStringLiteral("shop")) + QStringLiteral("/Shop.krproj");
    const QString web = package + QStringLiteral("/kr-web/");
    QDir().mkpath(web);
    KRTest::writeFile(web + QStringLiteral("blue.css"),
                      ".ui-btn {} .ui-body-a { background: url(images/bg.png); } .ui-bar-a {} .ui-shadow {}\n");
    KRTest::writeFile(web + QStringLiteral("images/logo.png"), "PNG");
    return openPackage(package, xml.isEmpty() ? controlProjectXML() : xml);
}

QStringList inlineScripts(const QString &html)
{
    static const QRegularExpression script(QStringLiteral("<script(\\s[^>]*)?>(.*?)</script>"),
                                           QRegularExpression::DotMatchesEverythingOption
                                               | QRegularExpression::CaseInsensitiveOption);
    QStringList scripts;
    for (auto it = script.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        if (!match.captured(1).contains(QStringLiteral("src=")))
            scripts.append(match.captured(2));
    }
    return scripts;
}

} // namespace KRBuildTest

const QString KRBuildSampleProjectTest::deviceMapJSON =
    QStringLiteral(R"({"iPhone":{"width":320,"height":480,"screenWidth":320,"screenHeight":480}})");

void KRBuildSampleProjectTest::SetUp()
{
    static const QString resources = KRBuildTest::makeResourcesFolder();
    KRResources::setResourcesDirectory(resources);
    m_alerts = std::make_shared<KRScriptedAlertService>();
    m_previousAlerts = KRAlertService::setCurrent(m_alerts);
    for (const char *key : {"JSMinimize", "sitemapBaseURL", "hostingDomain", "SuppressExportOverwriteWarning"})
        KRUserDefaults::sharedInstance().removeObject(QString::fromLatin1(key));

    m_package = KRTest::makeTempDir(QStringLiteral("package"));
    if (!KRBuildTest::supportsFileMarks(m_package))
        GTEST_SKIP() << "the test folder's file system keeps no extended attributes";
    m_project = std::make_shared<KRBuildTestProject>(m_package, KRBuildTest::sampleProjectXML());
    KRBuildTest::populateSampleProject(*m_project);
}

void KRBuildSampleProjectTest::TearDown()
{
    KRAlertService::setCurrent(m_previousAlerts);
    KRResources::setResourcesDirectory(QString());
}

// The output of pages made with design mode off: the script block, the form, the script
// elements, the HTML text and the server page file; and whole builds of a small project.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRPageOutput.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocument.h>
#include <model/KRModelAdapter.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRPropertyDescriptor.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QFile>

#include <gtest/gtest.h>

#include <optional>

namespace {

class KRPageOutputTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRBuildTest::registerOutputTestClasses();
        KRPageOutput::setPluginClassDataProvider([this](const KRObjectClass &objectClass) {
            KRPageOutput::PluginClassData data;
            if (objectClass.className == QLatin1String("KROutputGauge")) {
                data.pluginBasePath = m_pluginFolder;
                data.runtimeSource = {QStringLiteral("gauge.js")};
            }
            return data;
        });
        m_alerts = std::make_shared<KRScriptedAlertService>();
        m_previousAlerts = KRAlertService::setCurrent(m_alerts);
        m_folder = KRTest::makeTempDir(QStringLiteral("output"));
        m_pluginFolder = m_folder + QStringLiteral("/Gauge.plugin");
        KRTest::writeFile(m_pluginFolder + QStringLiteral("/gauge.js"), "KRPlugin.define('KROutputGauge', {});\n");
        open(KRBuildTest::outputProjectXML());
    }
    void TearDown() override
    {
        m_project.reset();
        m_document.reset();
        KRPageOutput::setPluginClassDataProvider({});
        KRAlertService::setCurrent(m_previousAlerts);
    }

    void open(const QByteArray &xml)
    {
        m_package = m_folder + QStringLiteral("/Test.krproj");
        QDir().mkpath(m_package + QStringLiteral("/kr-web"));
        KRTest::writeFile(m_package + QStringLiteral("/kr-web/blue.css"),
                          ".ui-btn {} .ui-body-a { background: url(images/bg.png); } .ui-bar-a {} .ui-shadow {}\n");
        KRTest::writeFile(m_package + QStringLiteral("/kr-web/images/logo.png"), "PNG");
        KRTest::writeFile(m_package + QStringLiteral("/project.xml"), xml);
        auto document = KRDocument::openPackage(m_package);
        ASSERT_TRUE(document.ok()) << document.error().toString().toStdString();
        m_document = document.value();
        auto project = KRProject::create(m_document, true);
        ASSERT_TRUE(project.ok()) << project.error().toString().toStdString();
        m_project = project.value();
    }

    std::unique_ptr<KRPageOutput> outputPage(const QString &id)
    {
        for (const KRXMLNode &element : m_document->xmlDocument().nodesForXPath(QStringLiteral("//KRPages/KRPage"))) {
            if (element.attribute(QStringLiteral("id")) == id) {
                auto page = KRPageOutput::create(element, m_project);
                EXPECT_TRUE(page.ok());
                return page.ok() ? std::move(page).value() : nullptr;
            }
        }
        return nullptr;
    }

    std::shared_ptr<KRScriptedAlertService> m_alerts;
    std::shared_ptr<KRAlertService> m_previousAlerts;
    QString m_folder;
    QString m_package;
    QString m_pluginFolder;
    std::shared_ptr<KRDocument> m_document;
    std::shared_ptr<KRProject> m_project;
};

TEST_F(KRPageOutputTest, ScriptBlockIsExact)
{
    auto page = outputPage(QStringLiteral("page1"));
    ASSERT_TRUE(page);
    page->addFormElement();
    page->addScripts();
    EXPECT_EQ(page->userScripts().toStdString(),
              "\n"
              "application._pages.page1 = new KRPage(\"page1\");\n"
              "(function(p) {\n"
              "p._pageURL = \"page1.krml\";\n"
              "application._pages.page1._events.clicked = function(event) {\nreturn 1;\n};\n"
              "application._pages.page1._events.loaded = function(event) {\nvar x = 2;\n};\n"
              "$(document).off('_kr_pagechange', '#page1').on('_kr_pagechange', '#page1', function() {\n"
              "p._load(function(o) {\n"
              "p.onLoad = application._pages.page1._events.loaded;\n"
              "o.name = new KROutputTextbox(\"page1_name\");\n"
              "o.name.text = \"He said \\\"hi\\\"\";\n"
              "o.name.onClick = application._pages.page1._events.clicked;\n"
              "});\n"
              "});\n"
              "})(application._pages.page1);\n");

    m_project->setExportMode(true);
    EXPECT_TRUE(page->userScripts().contains(QStringLiteral("p._pageURL = \"page1.html\";\n")));
    m_project->setExportMode(false);
}

TEST_F(KRPageOutputTest, FormWrapsTheContentOnlyWithAFormControl)
{
    auto page1 = outputPage(QStringLiteral("page1"));
    page1->addFormElement();
    const auto div = page1->pageDivElement();
    ASSERT_EQ(div->childNodes().size(), 1u);
    const auto form = std::dynamic_pointer_cast<DOMElement>(div->firstChild());
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->outerHTML().startsWith(QStringLiteral("<form data-ajax=\"false\" method=\"post\" id=\"_form_page1\"><")))
        << form->outerHTML().toStdString();
    EXPECT_TRUE(form->innerHTML().contains(QStringLiteral("id=\"page1_name\"")));

    auto page2 = outputPage(QStringLiteral("page2"));
    page2->addFormElement();
    EXPECT_FALSE(page2->pageDivElement()->outerHTML().contains(QStringLiteral("<form")));
}

TEST_F(KRPageOutputTest, ScriptElementsInOrder)
{
    auto page1 = outputPage(QStringLiteral("page1"));
    page1->addFormElement();
    page1->addScripts();
    const QString html = page1->pageHTML();
    const QStringList expected = {
        QStringLiteral("<script src=\"KRObjects-min.js\"></script>"),
        QStringLiteral("<script src=\"KR-user-scripts.js\"></script>"),
        QStringLiteral("<script src=\"lib/extra.js\"></script>"),
        QStringLiteral("<script src=\"a.js\"></script>"),
        QStringLiteral("<script src=\"b.coffee\" type=\"text/coffeescript\"></script>"),
    };
    qsizetype at = 0;
    for (const QString &element : expected) {
        const qsizetype found = html.indexOf(element, at);
        EXPECT_GE(found, at) << element.toStdString() << "\n" << html.toStdString();
        at = std::max(at, found);
    }
    EXPECT_EQ(html.count(QStringLiteral("<script src=\"\"")), 0);
    EXPECT_TRUE(html.contains(QStringLiteral("<script>application._pages.page1.form = <%=response._formJSON()%>;\n</script></div>")))
        << html.toStdString();

    // An exported server page is never served through the server: no template expression.
    m_project->setExportMode(true);
    auto exported = outputPage(QStringLiteral("page1"));
    exported->addScripts();
    m_project->setExportMode(false);
    EXPECT_FALSE(exported->pageHTML().contains(QStringLiteral("_formJSON"))) << exported->pageHTML().toStdString();

    auto page2 = outputPage(QStringLiteral("page2"));
    page2->addScripts();
    EXPECT_EQ(page2->pluginRuntimeScripts(), QStringList{QStringLiteral("gauge.js")});
    EXPECT_EQ(page2->pluginRuntimeScriptFiles(), QStringList{m_pluginFolder + QStringLiteral("/gauge.js")});
    EXPECT_TRUE(page2->pageHTML().contains(QStringLiteral("<script src=\"gauge.js\"></script>")));
    EXPECT_FALSE(page2->pageHTML().contains(QStringLiteral("_formJSON")));
}

TEST_F(KRPageOutputTest, HTMLHasStyleClassesFirstAndRelativeAddresses)
{
    auto page = outputPage(QStringLiteral("page1"));
    const QString web = QUrl::fromLocalFile(m_package + QStringLiteral("/kr-web/")).toString();
    const QString package = QUrl::fromLocalFile(m_package + QStringLiteral("/")).toString();
    auto div = page->page()->domDocument()->createElement(QStringLiteral("div"));
    div->setAttribute(QStringLiteral("style"), QStringLiteral("background-image: url('%1images/a.png'); border-image: url(%2other/b.png)")
                                                   .arg(web, package));
    page->pageDivElement()->appendChild(div);
    auto text = page->page()->domDocument()->createElement(QStringLiteral("p"));
    text->setTextContent(QStringLiteral("url('applewebdata://h1/img/c.png') url(applewebdata://h2/d.png) "
                                        "url('applewebdata://h3/') url('applewebdata://h4/e'y) url(applewebdata://nohost)"));
    page->pageDivElement()->appendChild(text);
    const QString html = page->pageHTML();
    EXPECT_TRUE(html.startsWith(QStringLiteral("<!DOCTYPE HTML>\n<html")));
    EXPECT_TRUE(html.contains(QStringLiteral("url('images/a.png')"))) << html.toStdString();
    EXPECT_TRUE(html.contains(QStringLiteral("url('other/b.png')"))) << html.toStdString();
    // Only complete addresses change.
    EXPECT_TRUE(html.contains(QStringLiteral("url('img/c.png') url('d.png') url('applewebdata://h3/') "
                                             "url('applewebdata://h4/e'y) url(applewebdata://nohost)")))
        << html.toStdString();
    EXPECT_FALSE(html.contains(QStringLiteral("file://")));
    const qsizetype style = html.indexOf(QStringLiteral("<style type=\"text/css\">"));
    ASSERT_GE(style, 0);
    const QString styleText = html.mid(style + 23);
    EXPECT_TRUE(styleText.startsWith(QStringLiteral(".highlight"))) << styleText.left(200).toStdString();
    EXPECT_LT(styleText.indexOf(QStringLiteral(".highlight")), styleText.indexOf(QStringLiteral("kr-css-marker")));
}

TEST_F(KRPageOutputTest, MissingStyleElementRaises)
{
    auto page = outputPage(QStringLiteral("page2"));
    for (const auto &style : page->page()->domDocument()->getElementsByTagName(QStringLiteral("style")))
        style->parentNode()->removeChild(style);
    try {
        page->pageHTML();
        FAIL() << "no exception";
    } catch (const KRException &exception) {
        EXPECT_EQ(exception.name(), KRExceptionName::InternalInconsistency);
        EXPECT_TRUE(exception.reason().startsWith(QStringLiteral("style element not found in HTML source: <!DOCTYPE HTML>")));
    }
}

TEST_F(KRPageOutputTest, ServerPageFileKeepsEveryTextThroughCDATA)
{
    auto page = outputPage(QStringLiteral("page1"));
    EXPECT_TRUE(page->serverScriptsEnabled());
    EXPECT_FALSE(outputPage(QStringLiteral("page2"))->serverScriptsEnabled());
    page->addFormElement();
    page->addScripts();
    const QString krml = page->pageKRML();
    auto parsed = KRXMLDocument::fromData(krml.toUtf8());
    ASSERT_TRUE(parsed.ok()) << krml.toStdString();
    const KRXMLNode root = parsed.value().rootElement();
    EXPECT_EQ(root.name().toStdString(), "krml");
    QStringList names;
    for (const KRXMLNode &child : root.elements())
        names.append(child.name());
    EXPECT_EQ(names, (QStringList{QStringLiteral("pageMap"), QStringLiteral("html"), QStringLiteral("events")}));
    EXPECT_EQ(root.firstElementForName(QStringLiteral("pageMap")).stringValue().toStdString(),
              "{\"page1\":\"page1.krml\",\"page2\":\"page2.html\"}");
    EXPECT_EQ(root.firstElementForName(QStringLiteral("html")).stringValue(), page->pageHTML());
    const auto events = root.firstElementForName(QStringLiteral("events")).elements();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events.first().attribute(QStringLiteral("id")).toStdString(), "onGET");
    EXPECT_EQ(events.first().stringValue().toStdString(), "response.write(\"a]]>b\");");
    // The server function is not in the browser's script.
    EXPECT_FALSE(page->userScripts().contains(QStringLiteral("_events.serve")));
}

TEST_F(KRPageOutputTest, ProjectHasServerScriptsWhenAnyPageHasAHandler)
{
    EXPECT_TRUE(m_project->serverScriptsEnabled());
    QByteArray xml = KRBuildTest::outputProjectXML();
    xml.replace("onGET=\"serve\"", "onPOST=\"serve\"");
    open(xml);
    EXPECT_TRUE(m_project->serverScriptsEnabled());
    xml.replace("onPOST=\"serve\"", "");
    open(xml);
    EXPECT_FALSE(m_project->serverScriptsEnabled());
}

TEST_F(KRPageOutputTest, ResourcesNeverTakeTheNameOfAFileTheBuildWrites)
{
    const QString web = m_package + QStringLiteral("/kr-web/");
    for (const char *name : {"KR-user-scripts.js", "cache.manifest", "KR-sitemap.xml", "robots.txt", "KRObjects-min.js",
                             ".kr-generated", "page1.html", "page2.krml"})
        EXPECT_FALSE(m_project->validateNewResourceName(QLatin1String(name))) << name;
    EXPECT_TRUE(m_project->validateNewResourceName(QStringLiteral("page3.html")));

    const QString source = m_folder + QStringLiteral("/robots.txt");
    KRTest::writeFile(source, "User-agent: *\n");
    EXPECT_FALSE(m_project->importResource(source, web + QStringLiteral("robots.txt")));
    EXPECT_FALSE(m_project->createResource(QStringLiteral("page1.krml"), QStringLiteral("nothing")));
    EXPECT_FALSE(QFile::exists(web + QStringLiteral("robots.txt")));
    m_project->reloadResources();
    std::shared_ptr<KRProjectResource> theme, logo;
    for (const auto &resource : m_project->resources()) {
        if (resource->name() == QLatin1String("blue.css"))
            theme = resource;
        else if (resource->name() == QLatin1String("images"))
            logo = resource->contents().value(0);
    }
    ASSERT_TRUE(theme && logo);
    EXPECT_FALSE(theme->renameResource(QStringLiteral("page2.html")));
    EXPECT_TRUE(QFile::exists(web + QStringLiteral("blue.css")));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 3);
    for (const KRAlert &alert : m_alerts->shownAlerts())
        EXPECT_TRUE(alert.messageText.contains(QStringLiteral("the next build would replace it")))
            << alert.messageText.toStdString();
    // Below the top of the web folder no build writes: the name is free there.
    EXPECT_TRUE(logo->renameResource(QStringLiteral("robots.txt")));
    EXPECT_TRUE(QFile::exists(web + QStringLiteral("images/robots.txt")));
}

TEST_F(KRPageOutputTest, UnknownHandlerNameGivesNoEvent)
{
    QByteArray xml = KRBuildTest::outputProjectXML();
    xml.replace("onGET=\"serve\"", "onGET=\"nowhere\" onPOST=\"clicked\"");
    open(xml);
    auto page = outputPage(QStringLiteral("page1"));
    const auto parsed = KRXMLDocument::fromData(page->pageKRML().toUtf8());
    ASSERT_TRUE(parsed.ok());
    const auto events = parsed.value().rootElement().firstElementForName(QStringLiteral("events")).elements();
    ASSERT_EQ(events.size(), 1);
    EXPECT_EQ(events.first().attribute(QStringLiteral("id")).toStdString(), "onPOST");
}

TEST_F(KRPageOutputTest, BuildsTheProject)
{
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    static const QString resources = KRBuildTest::makeResourcesFolder();
    const QString web = m_package + QStringLiteral("/kr-web");
    struct Row
    {
        const char *reference;
        bool singlePage;
        bool exportMode;
    };
    for (const Row &row : {Row{"build-project.txt", false, false}, Row{"build-project-single-page.txt", true, false},
                           Row{"build-project-export.txt", false, true}}) {
        SCOPED_TRACE(row.reference);
        m_project->setSinglePageDeploy(row.singlePage);
        KRResources::setResourcesDirectory(resources);
        KRProjectBuilder builder(m_project);
        builder.setExportMode(row.exportMode);
        builder.setDeviceInformationJSON(deviceMap);
        auto built = builder.build();
        KRResources::setResourcesDirectory(QString());
        ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();
        EXPECT_EQ(built.value().toStdString(), (web + QStringLiteral("/page2.html")).toStdString());
        EXPECT_EQ(m_project->indexPage().toStdString(), "page2.html");
        EXPECT_FALSE(m_project->exportMode());
        EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
        QString listing = KRBuildTest::dumpFolder(web, deviceMap);
        listing.replace(m_package, QStringLiteral("{{package}}"));
        KRBuildTest::expectMatchesReference(listing, QString::fromLatin1(row.reference));
    }
}

// Every address a build writes names the file on disk when a browser reads it: each page's
// scripts, style sheets and manifest, and each line of the cache manifest, resolved against
// the page's own address. Names holding "?", "#", "%", spaces, quotes or "<" fetched another
// file or none ("a%41.png" fetched "aA.png").
TEST_F(KRPageOutputTest, EveryAddressNamesItsFile)
{
    const QStringList scripts = {QStringLiteral("lib/a%41.js"), QStringLiteral("q?x=1.js"), QStringLiteral("h#1.js"),
                                 QStringLiteral("say \"hi\" <b> & 'bye'.js"), QStringLiteral("c:d.js"),
                                 QStringLiteral("\u00e9t\u00e9 100%.coffee")};
    const QStringList stylesheets = {QStringLiteral("st%2Fyle #2.css"), QStringLiteral("w?.css")};
    const QStringList files = {QStringLiteral("images/b%20c.png"), QStringLiteral("images/d?.png"),
                               QStringLiteral("e#f.png"), QStringLiteral("%zz.png")};
    QByteArray xml = KRBuildTest::outputProjectXML();
    const QByteArray includes = "<javascriptIncludes>a.js\n\nb.coffee</javascriptIncludes>";
    ASSERT_TRUE(xml.contains(includes));
    QString replacement = QStringLiteral("<javascriptIncludes>%1</javascriptIncludes><cssIncludes>%2</cssIncludes>")
                              .arg(scripts.join(QLatin1Char('\n')).toHtmlEscaped(), stylesheets.join(QLatin1Char('\n')).toHtmlEscaped());
    xml.replace(includes, replacement.toUtf8());
    xml.replace(" onGET=\"serve\"", ""); // a plain page file in a build too
    m_project.reset();
    m_document.reset();
    open(xml);
    const QString web = m_package + QStringLiteral("/kr-web");
    for (const QString &name : scripts + stylesheets + files + QStringList{QStringLiteral("lib/extra.js")})
        KRTest::writeFile(web + QLatin1Char('/') + name, "x");

    static const QString resources = KRBuildTest::makeResourcesFolder();
    // What an address names: a file of the web folder, or nothing for an address elsewhere.
    const auto fileOf = [&](const QUrl &base, const QString &address) -> std::optional<QString> {
        const QUrl url = base.resolved(QUrl(address));
        if (url.scheme() != QLatin1String("file"))
            return std::nullopt;
        if (url.hasQuery() || url.hasFragment())
            return url.toString().toStdString().empty() ? QString() : QStringLiteral("(query or fragment) ") + url.toString();
        return QDir::cleanPath(url.toLocalFile());
    };
    for (const bool exportMode : {false, true}) {
        SCOPED_TRACE(exportMode ? "export" : "build");
        KRResources::setResourcesDirectory(resources);
        KRProjectBuilder builder(m_project);
        builder.setExportMode(exportMode);
        auto built = builder.build();
        KRResources::setResourcesDirectory(QString());
        ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();

        QFile pageFile(web + QStringLiteral("/page1.html"));
        ASSERT_TRUE(pageFile.open(QIODevice::ReadOnly));
        const QUrl pageURL = QUrl::fromLocalFile(web + QStringLiteral("/page1.html"));
        const auto document = DOMDocument::parseHTML(QString::fromUtf8(pageFile.readAll()), pageURL);
        QSet<QString> linked;
        const auto take = [&](const QString &address) {
            const std::optional<QString> file = fileOf(pageURL, address);
            if (!file || address.startsWith(QLatin1String("/__kr_bundle/")))
                return; // a library elsewhere, or served by the local server
            EXPECT_TRUE(QFileInfo(*file).isFile()) << address.toStdString() << " -> " << file->toStdString();
            linked.insert(*file);
        };
        for (const auto &script : document->getElementsByTagName(QStringLiteral("script"))) {
            if (script->hasAttribute(QStringLiteral("src")))
                take(script->getAttribute(QStringLiteral("src")));
        }
        for (const auto &link : document->getElementsByTagName(QStringLiteral("link")))
            take(link->getAttribute(QStringLiteral("href")));
        for (const auto &html : document->getElementsByTagName(QStringLiteral("html")))
            take(html->getAttribute(QStringLiteral("manifest")));
        for (const QString &name : scripts + stylesheets + QStringList{QStringLiteral("cache.manifest")})
            EXPECT_TRUE(linked.contains(web + QLatin1Char('/') + name)) << name.toStdString();

        QFile manifestFile(web + QStringLiteral("/cache.manifest"));
        ASSERT_TRUE(manifestFile.open(QIODevice::ReadOnly));
        const QUrl manifestURL = QUrl::fromLocalFile(web + QStringLiteral("/cache.manifest"));
        QStringList lines = QString::fromUtf8(manifestFile.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.takeFirst().toStdString(), "CACHE MANIFEST");
        QSet<QString> listed;
        for (const QString &line : std::as_const(lines)) {
            const std::optional<QString> file = fileOf(manifestURL, line);
            if (!file || line.startsWith(QLatin1String("/__kr_bundle/")))
                continue;
            EXPECT_TRUE(QFileInfo(*file).isFile()) << line.toStdString() << " -> " << file->toStdString();
            listed.insert(*file);
        }
        for (const QString &name : scripts + stylesheets + files)
            EXPECT_TRUE(listed.contains(web + QLatin1Char('/') + name)) << name.toStdString();
        // What the page links, the manifest lists alike.
        for (const QString &file : std::as_const(linked)) {
            if (!file.endsWith(QLatin1String("/cache.manifest")))
                EXPECT_TRUE(listed.contains(file)) << file.toStdString();
        }
    }
}

} // namespace

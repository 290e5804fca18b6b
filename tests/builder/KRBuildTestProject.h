#pragma once

// A project for builder tests: the real web folder and resource records of the model, the
// pages read from a project.xml text, and stand-in output pages on the own DOM. A stand-in
// page takes what it answers from its page element:
//
//   <KRPage id="p1" serverScripts="true" requiredScripts="a.js b.js" requiredStylesheets="x.css"
//           requiredResources="img/a.png" plugins="MyGauge.js" manifest="logo.png">
//     <KRContents><KRTextbox id="t1" form="true"/><KRLabel id="l1"/></KRContents>
//   </KRPage>
//
// Each object becomes a div "P_O" in the page div and a constructor line in the script
// block; an object with form="true" makes the page wrap its content in a form. "plugins"
// names files of the project's plug-in folder.

#include <builder/KRBuildSource.h>
#include <model/KRWebFolderOwner.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

#include <gtest/gtest.h>

class KRWebFolder;

class KRBuildTestProject : public KRBuildProject, public KRWebFolderOwner
{
public:
    // The package folder (the web folder is its "kr-web", created here) and the XML text.
    KRBuildTestProject(const QString &packagePath, const QByteArray &projectXML);
    ~KRBuildTestProject() override;

    // KRBuildProject
    const void *documentIdentity() const override { return this; }
    KRXMLDocument xmlDocument() const override { return m_xml; }
    KRResult<std::unique_ptr<KRBuildPage>> makeOutputPage(const KRXMLNode &pageElement) override;
    int concurrentPageLimit() const override { return m_concurrentPageLimit; }
    void setConcurrentPageLimit(int limit) { m_concurrentPageLimit = limit; }
    // With late links on, plain pages give their text before they are linked to the libraries
    // (KRBuildPage::pageHTMLWithLibraryPlaceholder), as the application's pages do.
    std::optional<QString> libraryLinksText(const QStringList &stylesheets, const QStringList &scripts) const override;
    bool linksLibrariesLate() const { return m_linksLibrariesLate; }
    void setLinksLibrariesLate(bool late) { m_linksLibrariesLate = late; }
    QString webFolderPath() override;
    QString startPage() const override { return setting("startPage"); }
    bool singlePageDeploy() const override { return flag("singlePageDeploy"); }
    bool ajaxPageLoading() const override { return flag("ajaxPageLoading"); }
    bool sitemap() const override { return flag("sitemap"); }
    bool generateManifest() const override { return flag("generateManifest"); }
    bool exportLocalJQuerySources() const override { return flag("exportLocalJQuerySources"); }
    bool publishBuildMode() const override { return false; }
    QString defaultTheme() const override { return setting("defaultTheme"); }
    QVariantMap jqmURLs() const override;
    bool exportMode() const override { return m_exportMode; }
    void setExportMode(bool exportMode) override;
    void setIndexPage(const QString &fileName) override { m_indexPage = fileName; }
    QList<std::shared_ptr<KRProjectResource>> resources() override;
    void reloadResources() override;
    std::shared_ptr<KRProjectResource> resourceForThemeName(const QString &name) override;

    // KRWebFolderOwner
    QString packagePath() const override { return m_packagePath; }
    QStringList javascriptIncludes() const override { return {}; }
    void setJavascriptIncludes(const QStringList &) override {}
    QStringList cssIncludes() const override { return {}; }
    void setCssIncludes(const QStringList &) override {}
    void setDefaultTheme(const QString &) override {}

    void setSetting(const QString &key, const QString &value);
    QString indexPage() const { return m_indexPage; }
    QString pluginFolder() const { return m_packagePath + QStringLiteral("/Plug-ins"); }
    // Every export-mode change the builder made, in order.
    const QList<bool> &exportModeChanges() const { return m_exportModeChanges; }
    int reloadCount() const { return m_reloadCount; }

private:
    QString setting(const char *key) const;
    bool flag(const char *key) const { return setting(key) == QLatin1String("true"); }

    QString m_packagePath;
    KRXMLDocument m_xml;
    std::shared_ptr<KRWebFolder> m_webFolder;
    bool m_exportMode = false;
    QString m_indexPage;
    QList<bool> m_exportModeChanges;
    int m_reloadCount = 0;
    int m_concurrentPageLimit = 1;
    bool m_linksLibrariesLate = false;
};

namespace KRBuildTest {

// A resources folder with the files a build copies: "runtime/KRObjects-min.js" and small
// library files below "local-server" (jquery-1.9.0, jquery.mobile-1.4.0 with images,
// photoswipe-3.0.5, js-class.js, bluff-src.js).
QString makeResourcesFolder();

// A listing of a built folder for golden comparisons: one line per file and folder (sorted
// paths, with "[generated]" or "[staged]" marks), then the text of every generated file (or
// every file when allContents is set). The device map is shown as {{deviceMap}}.
QString dumpFolder(const QString &folder, const QString &deviceMapJSON, bool allContents = false);

// Compares the text with tests/data/builder/<name>; on a mismatch writes <name>.FAILED next
// to it. With KR_UPDATE_REFERENCE=1 in the environment, writes the reference instead.
void expectMatchesReference(const QString &text, const QString &name);

} // namespace KRBuildTest

namespace KRBuildTest {

// The sample project of the golden tests: pages "home", "order" (a server page with a form
// control and the gallery's library files) and "settings" (the start page, with a plug-in
// object); a sitemap, a cache manifest and the default theme "blue".
QByteArray sampleProjectXML();
// Fills the sample project's web folder with the user's files (a theme "blue.css", "app.css",
// "images/logo.png", ".hidden") and its plug-in folder with "MyGauge.js".
void populateSampleProject(KRBuildTestProject &project);
// Whether the folder's file system keeps user extended attributes.
bool supportsFileMarks(const QString &folder);

} // namespace KRBuildTest

namespace KRBuildTest {

// Page-object classes for page output tests: "KROutputTextbox" (a form control),
// "KROutputLabel" (needs a script and a style sheet of the libraries) and "KROutputGauge" (a
// plug-in class); each puts one div "<page>_<id>" into the page element.
void registerOutputTestClasses();
// A project of two pages over those classes: "page1" (a form, functions, a server function
// handling onGET, a style class, JavaScript includes) and "page2" (the start page); the
// default theme "blue", a sitemap and a cache manifest.
QByteArray outputProjectXML();

} // namespace KRBuildTest

class KRDocument;
class KRProject;

namespace KRBuildTest {

// Real controls: the page class and the control library registered, the sample plug-in
// (tests/data/plugins/Gauge.krplugin) loaded and the builder set up to link its run-time
// scripts. Once per process; must run while the application's own resources are current
// (the catalogue is read from them).
void setUpRealControls();

// A project opened from its package in design mode.
struct OpenedProject
{
    QString package;
    std::shared_ptr<KRDocument> document; // the project holds it weakly
    std::shared_ptr<KRProject> project;
    QString webFolder() const { return package + QStringLiteral("/kr-web"); }
};
// Writes the XML as the package's project.xml, makes its web folder and opens it; a failure
// to open is a test failure and leaves the document or the project null.
OpenedProject openPackage(const QString &package, const QByteArray &xml);
// The same in a new package "Test.krproj" of a temporary folder.
OpenedProject openTestProject(const QByteArray &xml);

// The shop project of the real-control builds, in a new package "Shop.krproj": pages "home"
// (the start page: toolbars with a navigation bar, plain controls, a list view, a function
// and a style class), "order" (a server page with the jQuery Mobile form and option-list
// widgets and plain form controls) and "media" (graph, photo gallery, pop-up, timer, table,
// canvas, data source and the sample plug-in's gauge); the theme "blue", a sitemap and a
// cache manifest. The web folder holds "blue.css" and "images/logo.png".
using ControlProject = OpenedProject;
QByteArray controlProjectXML();
// Opens the project from the XML text (the shop project when empty).
ControlProject openControlProject(const QByteArray &xml = QByteArray());

// The inline scripts (script elements without "src") of an HTML text, in order.
QStringList inlineScripts(const QString &html);

} // namespace KRBuildTest

class KRAlertService;
class KRScriptedAlertService;

// A test over the sample project in a fresh package: the made-up resources folder, scripted
// alerts, the build settings at their defaults. Skips where the file system keeps no marks.
class KRBuildSampleProjectTest : public ::testing::Test
{
protected:
    // The iPhone entry of the device map, as the builder reads it.
    static const QString deviceMapJSON;

    void SetUp() override;
    void TearDown() override;

    std::shared_ptr<KRScriptedAlertService> m_alerts;
    std::shared_ptr<KRAlertService> m_previousAlerts;
    QString m_package;
    std::shared_ptr<KRBuildTestProject> m_project;
};

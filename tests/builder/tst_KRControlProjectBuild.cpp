// Builds of a project made of the real control library: whole built folders against
// reference listings (normal, single-page, export with and without the local jQuery files),
// the plug-in's run-time script, rebuilds, and the design-surface drag rule of the controls.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRPageOutput.h>
#include <builder/KRProjectBuildSource.h>
#include <builder/KRProjectBuilder.h>
#include <core/KRFileManagerAdditions.h>
#include <controls/KRControl.h>
#include <controls/KRPlugin.h>
#include <model/KRDocument.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class KRControlProjectBuildTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRBuildTest::setUpRealControls();
        static const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
        static const QString resources = KRBuildTest::makeResourcesFolder();
        m_deviceMap = deviceMap;
        KRResources::setResourcesDirectory(resources);
        m_alerts = std::make_shared<KRScriptedAlertService>();
        m_previousAlerts = KRAlertService::setCurrent(m_alerts);
        for (const char *key : {"JSMinimize", "sitemapBaseURL", "hostingDomain", "SuppressExportOverwriteWarning"})
            KRUserDefaults::sharedInstance().removeObject(QString::fromLatin1(key));
        m_shop = KRBuildTest::openControlProject();
        ASSERT_TRUE(m_shop.project);
        if (!KRBuildTest::supportsFileMarks(m_shop.webFolder()))
            GTEST_SKIP() << "the test folder's file system keeps no extended attributes";
    }
    void TearDown() override
    {
        KRAlertService::setCurrent(m_previousAlerts);
        KRResources::setResourcesDirectory(QString());
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("SuppressExportOverwriteWarning"));
    }

    // The same package, opened again after its project.xml has been written with `xml`.
    void reopenWith(const QString &xml)
    {
        KRTest::writeFile(m_shop.package + QStringLiteral("/project.xml"), xml.toUtf8());
        auto document = KRDocument::openPackage(m_shop.package);
        ASSERT_TRUE(document.ok());
        auto project = KRProject::create(document.value(), true);
        ASSERT_TRUE(project.ok());
        m_shop.document = document.value();
        m_shop.project = project.value();
    }

    QString build(bool exportMode = false)
    {
        KRProjectBuilder builder(m_shop.project);
        builder.setExportMode(exportMode);
        builder.setDeviceInformationJSON(m_deviceMap);
        auto result = builder.build();
        EXPECT_TRUE(result.ok()) << (result.ok() ? std::string() : result.error().toString().toStdString());
        return result.ok() ? result.value() : QString();
    }
    bool exportTo(const QString &folder)
    {
        KRProjectBuilder builder(m_shop.project);
        builder.setDeviceInformationJSON(m_deviceMap);
        return builder.exportProjectToFolder(folder);
    }
    QString web(const QString &name) const { return m_shop.webFolder() + QLatin1Char('/') + name; }
    QString readWeb(const QString &name) const { return QString::fromUtf8(KRTest::readFile(web(name))); }
    QString shownAlerts() const
    {
        QStringList texts;
        for (const KRAlert &alert : m_alerts->shownAlerts())
            texts.append(alert.messageText + QStringLiteral(": ") + alert.informativeText);
        return texts.join(QLatin1Char('\n'));
    }

    QString m_deviceMap;
    std::shared_ptr<KRScriptedAlertService> m_alerts;
    std::shared_ptr<KRAlertService> m_previousAlerts;
    KRBuildTest::ControlProject m_shop;
};

TEST_F(KRControlProjectBuildTest, BuildsTheWholeFolder)
{
    EXPECT_EQ(build().toStdString(), web(QStringLiteral("home.html")).toStdString());
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << shownAlerts().toStdString();
    KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(m_shop.webFolder(), m_deviceMap),
                                        QStringLiteral("controls-build.txt"));
    // The server page is a page template; the others are plain pages.
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("order.krml"))));
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("order.html"))));
    // Each family's library files come with the page that needs them.
    for (const char *name : {"js-class.js", "bluff-src.js", "photoswipe-3.0.5/photoswipe.min.js",
                             "photoswipe-3.0.5/default-skin/default-skin.css", "photoswipe-3.0.5/default-skin/preloader.gif"})
        EXPECT_TRUE(QFile::exists(web(QString::fromLatin1(name)))) << name;
}

TEST_F(KRControlProjectBuildTest, PluginRuntimeScriptIsCopiedAndLinkedByThePageThatUsesIt)
{
    // The application installs no provider of its own: the loaded plug-ins are found anyway.
    KRPageOutput::setPluginClassDataProvider({});
    const QString source = QStringLiteral(KR_TEST_DATA_DIR "/plugins/Gauge.krplugin/gauge-runtime.js");
    EXPECT_EQ(KRPlugin::runtimeSourcePaths(QStringLiteral("KRSampleGauge")), QStringList{source});
    build();
    EXPECT_EQ(KRTest::readFile(web(QStringLiteral("gauge-runtime.js"))), KRTest::readFile(source));
    EXPECT_TRUE(readWeb(QStringLiteral("media.html")).contains(QStringLiteral("<script src=\"gauge-runtime.js\"></script>")))
        << readWeb(QStringLiteral("media.html")).toStdString();
    EXPECT_FALSE(readWeb(QStringLiteral("home.html")).contains(QStringLiteral("gauge-runtime.js")));
    EXPECT_TRUE(readWeb(QStringLiteral("cache.manifest")).contains(QStringLiteral("\ngauge-runtime.js\n")));
    // The sample's other class is not on any page: its script stays out.
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("badge-runtime.js"))));
}

// A plug-in names its run-time script, and so the file the build puts in the web folder: a
// file or a folder of the user's of that name stays as it is, with a warning, whatever the
// plug-in says; the build's own copy is replaced by later builds as before.
TEST_F(KRControlProjectBuildTest, APluginScriptNeverReplacesTheUsersOwnItemOfItsName)
{
    KRPageOutput::setPluginClassDataProvider({});
    const QString source = QStringLiteral(KR_TEST_DATA_DIR "/plugins/Gauge.krplugin/gauge-runtime.js");
    const QString target = web(QStringLiteral("gauge-runtime.js"));
    const auto buildWarnings = [&] {
        KRProjectBuilder builder(m_shop.project);
        builder.setDeviceInformationJSON(m_deviceMap);
        const auto built = builder.build();
        EXPECT_TRUE(built.ok()) << (built.ok() ? std::string() : built.error().toString().toStdString());
        return builder.warnings().join(QLatin1Char('\n'));
    };
    for (const bool folder : {false, true}) {
        SCOPED_TRACE(folder ? "a folder" : "a file");
        const QString mine = folder ? target + QStringLiteral("/notes.txt") : target;
        KRTest::writeFile(mine, "the user's own");
        const QString warnings = buildWarnings();
        EXPECT_EQ(KRTest::readFile(mine), QByteArray("the user's own"));
        EXPECT_TRUE(warnings.contains(QStringLiteral("gauge-runtime.js"))) << warnings.toStdString();
        ASSERT_TRUE(KRFileManager::removeItemRecursively(target).ok());
    }
    for (const char *build : {"the first copy", "the build's own copy replaced"}) {
        SCOPED_TRACE(build);
        const QString warnings = buildWarnings();
        EXPECT_FALSE(warnings.contains(QStringLiteral("gauge-runtime.js"))) << warnings.toStdString();
        EXPECT_EQ(KRTest::readFile(target), KRTest::readFile(source));
    }
}

TEST_F(KRControlProjectBuildTest, SinglePageDeployPutsEveryPageIntoTheStartPage)
{
    m_shop.project->setSinglePageDeploy(true);
    EXPECT_EQ(build().toStdString(), web(QStringLiteral("home.html")).toStdString());
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << shownAlerts().toStdString();
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("media.html"))));
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("order.krml"))));
    const QString home = readWeb(QStringLiteral("home.html"));
    EXPECT_LT(home.indexOf(QStringLiteral("id=\"home\"")), home.indexOf(QStringLiteral("id=\"order\"")));
    EXPECT_LT(home.indexOf(QStringLiteral("id=\"order\"")), home.indexOf(QStringLiteral("id=\"media\"")));
    // The server page's form-data template would be a broken script in a plain file.
    EXPECT_FALSE(home.contains(QStringLiteral("<%="))) << home.toStdString();
    KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(m_shop.webFolder(), m_deviceMap),
                                        QStringLiteral("controls-build-single-page.txt"));
}

TEST_F(KRControlProjectBuildTest, SinglePageDeployFromAServerPageKeepsItsTemplate)
{
    // A second server page: the start page's form data must not become its own.
    QByteArray xml = KRBuildTest::controlProjectXML();
    xml.replace("<KRPage id=\"media\"", "<KRPage id=\"media\" onPOST=\"posted\"");
    m_shop = KRBuildTest::openControlProject(xml);
    ASSERT_TRUE(m_shop.project);
    ASSERT_TRUE(m_shop.project->pageForID(QStringLiteral("media"))->value(QStringLiteral("kr_onPOST")) == QStringLiteral("posted"));
    m_shop.project->setSinglePageDeploy(true);
    m_shop.project->setStartPage(QStringLiteral("order"));
    ASSERT_EQ(m_shop.project->startPage().toStdString(), "order");
    EXPECT_EQ(build().toStdString(), web(QStringLiteral("order.krml")).toStdString());
    const QString order = readWeb(QStringLiteral("order.krml"));
    EXPECT_TRUE(order.contains(QStringLiteral("application._pages.order.form = <%=response._formJSON()%>;")));
    EXPECT_TRUE(order.contains(QStringLiteral("id=\"media\"")));
    EXPECT_EQ(order.count(QStringLiteral("<%=")), 1) << order.toStdString();
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("home.html"))));
}

TEST_F(KRControlProjectBuildTest, RebuildRemovesStaleFiles)
{
    build();
    ASSERT_TRUE(QFile::exists(web(QStringLiteral("media.html"))));
    QString xml = QString::fromUtf8(KRBuildTest::controlProjectXML());
    xml.replace(QStringLiteral("<KRPage id=\"media\""), QStringLiteral("<KRPage id=\"gallery\""));
    xml.replace(QStringLiteral("gotoPage=\"media\""), QStringLiteral("gotoPage=\"gallery\""));
    // The same package, opened again with the page renamed.
    reopenWith(xml);
    ASSERT_FALSE(HasFatalFailure());
    KRTest::writeFile(web(QStringLiteral("media-notes.html")), "mine");
    build();
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("media.html"))));
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("gallery.html"))));
    EXPECT_EQ(KRTest::readFile(web(QStringLiteral("media-notes.html"))), QByteArray("mine"));
    const QString manifest = readWeb(QStringLiteral("cache.manifest"));
    EXPECT_FALSE(manifest.contains(QStringLiteral("media.html"))) << manifest.toStdString();
    EXPECT_TRUE(manifest.contains(QStringLiteral("\ngallery.html\n"))) << manifest.toStdString();
    EXPECT_FALSE(readWeb(QStringLiteral("KR-sitemap.xml")).contains(QStringLiteral("media.html")));
    EXPECT_TRUE(readWeb(QStringLiteral("KR-user-scripts.js")).contains(QStringLiteral("application._pages.gallery =")));
    EXPECT_FALSE(readWeb(QStringLiteral("KR-user-scripts.js")).contains(QStringLiteral("application._pages.media =")));
}

// A control whose link leads to a page the project does not have (deleted, or renamed outside
// the application) is named in a warning, once for each page it leads to, and the build goes
// on; "(back)" and links to pages that are there are no cause for one. The field "name" of the
// order page, named like a member of its form that does the page no harm, keeps its name with no
// word; renamed "parentNode", which would hang the page, it is named otherwise and said, after
// the links.
TEST_F(KRControlProjectBuildTest, LinksToPagesThatDoNotExistAreWarnedAndTheBuildGoesOn)
{
    const QString field = QStringLiteral(
        "The name “parentNode” of “parentNode” on the page “checkout” is that of a member of its "
        "form that jQuery and jQuery Mobile rely on, and the page would not run with it: the built page names it "
        "“kr-name-parentNode”, the form sends it as “parentNode” and a server page fills it by that name; "
        "the page’s styles and scripts find it only by that name ([name=\"kr-name-parentNode\"], form.elements, "
        "$(form).serialize()).");
    {
        KRProjectBuilder builder(m_shop.project);
        builder.setDeviceInformationJSON(m_deviceMap);
        ASSERT_TRUE(builder.build().ok());
        EXPECT_EQ(builder.warnings(), QStringList()) << builder.warnings().join(QLatin1Char('\n')).toStdString();
        const QString order = readWeb(QStringLiteral("order.krml"));
        EXPECT_TRUE(order.contains(QStringLiteral("<input id=\"_order_name_inp\" type=\"email\" name=\"name\"")))
            << order.toStdString();
        EXPECT_FALSE(order.contains(QStringLiteral("kr-name"))) << order.toStdString();
    }
    QString xml = QString::fromUtf8(KRBuildTest::controlProjectXML());
    xml.replace(QStringLiteral("<KRPage id=\"order\""), QStringLiteral("<KRPage id=\"checkout\""));
    xml.replace(QStringLiteral("gotoPage=\"media\""), QStringLiteral("gotoPage=\"(back)\""));
    xml.replace(QStringLiteral("<JQMTextbox id=\"name\" top=\"50\""), QStringLiteral("<JQMTextbox id=\"parentNode\" top=\"50\""));
    reopenWith(xml);
    ASSERT_FALSE(HasFatalFailure());
    KRProjectBuilder builder(m_shop.project);
    builder.setDeviceInformationJSON(m_deviceMap);
    ASSERT_TRUE(builder.build().ok());
    // The header links by its button and by a navigation bar item, the list by an item.
    const QString missing = QStringLiteral(" on the page “home” links to the page “order”, which does not exist.");
    EXPECT_EQ(builder.warnings(), QStringList({QStringLiteral("header1") + missing, QStringLiteral("list") + missing,
                                               field}))
        << builder.warnings().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("home.html"))));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << shownAlerts().toStdString();
}

// Pages made side by side give the files pages made one by one give, also when making them
// repairs the project's XML (a project not opened for design: an invalid id in every page).
TEST_F(KRControlProjectBuildTest, PagesMadeSideBySideBuildAsOneByOne)
{
    QString xml = QString::fromUtf8(KRBuildTest::controlProjectXML());
    QString copies;
    for (const QString &pageID : {QStringLiteral("order"), QStringLiteral("home"), QStringLiteral("media")}) {
        const qsizetype from = xml.indexOf(QStringLiteral("<KRPage id=\"%1\"").arg(pageID));
        const qsizetype to = xml.indexOf(QStringLiteral("</KRPage>"), from) + 9;
        ASSERT_TRUE(from >= 0 && to > from);
        for (int n = 2; n <= 5; ++n) {
            QString page = xml.mid(from, to - from);
            page.replace(QStringLiteral("<KRPage id=\"%1\"").arg(pageID), QStringLiteral("<KRPage id=\"%1%2\"").arg(pageID).arg(n));
            page.replace(QStringLiteral("<KRContents>"), QStringLiteral("<KRContents><KRLabel id=\"9bad\" value=\"repaired\"/>"));
            copies += page;
        }
    }
    xml.replace(QStringLiteral("</KRPages>"), copies + QStringLiteral("</KRPages>"));
    KRTest::writeFile(m_shop.package + QStringLiteral("/project.xml"), xml.toUtf8());
    auto document = KRDocument::openPackage(m_shop.package);
    ASSERT_TRUE(document.ok());
    auto project = KRProject::create(document.value(), false);
    ASSERT_TRUE(project.ok());
    QStringList listings;
    for (int threads : {8, 1, 8}) {
        KRProjectBuilder builder(std::make_shared<KRProjectBuildSource>(project.value(), threads));
        builder.setDeviceInformationJSON(m_deviceMap);
        const auto built = builder.build();
        ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();
        QFile::remove(web(QStringLiteral(".kr-generated"))); // holds the files' times
        listings.append(KRBuildTest::dumpFolder(m_shop.webFolder(), m_deviceMap, true));
    }
    EXPECT_TRUE(listings.at(0).contains(QStringLiteral("id=\"media5_label1\"")));
    EXPECT_EQ(listings.at(0).toStdString(), listings.at(1).toStdString());
    EXPECT_EQ(listings.at(2).toStdString(), listings.at(1).toStdString());
}

TEST_F(KRControlProjectBuildTest, ExportWithAndWithoutLocalJQueryFiles)
{
    for (const bool local : {false, true}) {
        SCOPED_TRACE(local);
        m_shop.project->setExportLocalJQuerySources(local);
        const QString target = KRTest::makeTempDir(QStringLiteral("export"));
        ASSERT_TRUE(exportTo(target));
        EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << shownAlerts().toStdString();
        EXPECT_EQ(QFileInfo::exists(target + QStringLiteral("/jquery-1.9.0/jquery.min.js")), local);
        // An exported server page is a plain page.
        EXPECT_TRUE(QFile::exists(target + QStringLiteral("/order.html")));
        EXPECT_FALSE(QFile::exists(target + QStringLiteral("/order.krml")));
        KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(target, m_deviceMap, true),
                                            local ? QStringLiteral("controls-export-local-jquery.txt")
                                                  : QStringLiteral("controls-export.txt"));
    }
}

// An exported site runs where it is served only when every library it does not carry loads
// from a host that has it, over HTTPS (an HTTPS page loads no script over HTTP).
TEST_F(KRControlProjectBuildTest, ExportedSitesNameOnlyTheHTTPSLibraryAddresses)
{
    const QStringList table = KRProject::publicLibraryURLs();
    EXPECT_EQ(table, (QStringList{QStringLiteral("https://ajax.googleapis.com/ajax/libs/jquery/1.9.0/jquery.min.js"),
                                  QStringLiteral("https://ajax.aspnetcdn.com/ajax/jquery.mobile/1.4.0")}));
    for (const QString &url : table)
        EXPECT_TRUE(url.startsWith(QLatin1String("https://"))) << url.toStdString();

    const QString target = KRTest::makeTempDir(QStringLiteral("export"));
    ASSERT_TRUE(exportTo(target));
    // Every absolute address in the pages (src, href), the theme (url()) and the manifest.
    static const QRegularExpression address(QStringLiteral("(?:src|href)=\"([^\"]*//[^\"]*)\"|url\\(([^)]*//[^)]*)\\)"
                                                           "|^([a-z]+://\\S*)$"),
                                            QRegularExpression::MultilineOption);
    int checked = 0;
    for (const QString &name : QDir(target).entryList({QStringLiteral("*.html"), QStringLiteral("*.css"),
                                                       QStringLiteral("cache.manifest")}, QDir::Files)) {
        const QString text = QString::fromUtf8(KRTest::readFile(target + QLatin1Char('/') + name));
        for (auto match = address.globalMatch(text); match.hasNext();) {
            const QRegularExpressionMatch found = match.next();
            const QString url = found.captured(1) + found.captured(2) + found.captured(3);
            const bool listed = std::any_of(table.cbegin(), table.cend(), [&](const QString &entry) {
                return url == entry || url.startsWith(entry + QLatin1Char('/'));
            });
            EXPECT_TRUE(listed) << name.toStdString() << ": " << url.toStdString();
            ++checked;
        }
    }
    // Pages link jQuery and jQuery Mobile's script and style sheets; the theme its images.
    EXPECT_GE(checked, 10);
    const QString home = QString::fromUtf8(KRTest::readFile(target + QStringLiteral("/home.html")));
    EXPECT_TRUE(home.contains(QStringLiteral(
        "<script src=\"https://ajax.googleapis.com/ajax/libs/jquery/1.9.0/jquery.min.js\"></script>"
        "<script src=\"https://ajax.aspnetcdn.com/ajax/jquery.mobile/1.4.0/jquery.mobile-1.4.0.min.js\"></script>")))
        << home.toStdString();
}

// A build publishes what the project holds: the pages of a second "KRPages" element (the
// project shows only the first) are neither written nor in the script, the sitemap or the
// manifest; and a parameter list that was code runs nowhere, replaced when the project opened.
TEST_F(KRControlProjectBuildTest, BuildsOnlyThePagesTheProjectHoldsWithSoundParameterLists)
{
    QByteArray xml = KRBuildTest::controlProjectXML();
    ASSERT_TRUE(xml.contains("<KRFunction id=\"submitted\" arguments=\"event\">"));
    xml.replace("<KRFunction id=\"submitted\" arguments=\"event\">",
                "<KRFunction id=\"submitted\" arguments=\"event = steal(document.cookie)\">");
    xml.replace("</KRPages>", "</KRPages>\n  <KRPages><KRPage id=\"hidden\"><KRContents>"
                              "<KRFunction id=\"unseen\" arguments=\"event\">leak();</KRFunction>"
                              "</KRContents></KRPage></KRPages>");
    m_shop = KRBuildTest::openControlProject(xml);
    ASSERT_TRUE(m_shop.project);
    QStringList pageIDs;
    for (const auto &page : m_shop.project->krPages())
        pageIDs.append(page->kr_id());
    EXPECT_FALSE(pageIDs.contains(QStringLiteral("hidden")));
    EXPECT_TRUE(m_shop.project->loadWarnings().join(QLatin1Char('\n')).contains(QStringLiteral("is no valid parameter list")));

    build();
    EXPECT_FALSE(QFileInfo::exists(web(QStringLiteral("hidden.html"))));
    const QString script = readWeb(QStringLiteral("KR-user-scripts.js"));
    EXPECT_FALSE(script.contains(QStringLiteral("_pages.hidden")));
    EXPECT_FALSE(script.contains(QStringLiteral("leak()")));
    EXPECT_FALSE(script.contains(QStringLiteral("steal(")));
    EXPECT_TRUE(script.contains(QStringLiteral("_events.submitted = function(event) {"))) << script.toStdString();
    EXPECT_FALSE(readWeb(QStringLiteral("KR-sitemap.xml")).contains(QStringLiteral("hidden.html")));
    EXPECT_FALSE(readWeb(QStringLiteral("cache.manifest")).contains(QStringLiteral("hidden.html")));
}

TEST_F(KRControlProjectBuildTest, ToolbarsAndLockedControlsCannotBeDragged)
{
    const auto home = m_shop.project->krPages();
    std::shared_ptr<KRPage> page;
    for (const auto &candidate : home)
        if (candidate->kr_id() == QLatin1String("home"))
            page = candidate;
    ASSERT_TRUE(page);
    auto control = [&](const char *id) {
        return std::dynamic_pointer_cast<KRControl>(page->objectForID(QString::fromLatin1(id)));
    };
    for (const char *toolbar : {"header1", "footer1"}) {
        ASSERT_TRUE(control(toolbar)) << toolbar;
        EXPECT_FALSE(control(toolbar)->canDrag()) << toolbar;
        // Not even an explicit unlock makes a bar movable.
        control(toolbar)->setValue(QStringLiteral("kr_locked"), QStringLiteral("false"));
        EXPECT_FALSE(control(toolbar)->canDrag()) << toolbar;
    }
    const auto list = control("list");
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->canDrag());
    list->setValue(QStringLiteral("kr_locked"), QStringLiteral("true"));
    EXPECT_FALSE(list->canDrag());
}

} // namespace

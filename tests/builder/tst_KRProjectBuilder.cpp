// Building a project into its web folder: whole built folders against reference listings
// (page order, marks, single-page deploy, manifest, sitemap), rebuilds, and what a failed
// build reports.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRProjectResource.h>
#include <core/KRFileManagerAdditions.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDateTime>
#include <QDirIterator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

class KRProjectBuilderTest : public KRBuildSampleProjectTest
{
protected:
    void SetUp() override
    {
        KRBuildSampleProjectTest::SetUp();
        if (IsSkipped())
            return;
        m_web = m_project->webFolderPath();
    }

    std::unique_ptr<KRProjectBuilder> makeBuilder(bool exportMode = false)
    {
        auto builder = std::make_unique<KRProjectBuilder>(m_project);
        builder->setExportMode(exportMode);
        builder->setDeviceInformationJSON(deviceMapJSON);
        return builder;
    }
    QString build(bool exportMode = false)
    {
        auto result = makeBuilder(exportMode)->build();
        EXPECT_TRUE(result.ok()) << (result.ok() ? std::string() : result.error().toString().toStdString());
        return result.ok() ? result.value() : QString();
    }
    QString web(const QString &name) const { return m_web + QLatin1Char('/') + name; }
    QString readWeb(const QString &name) const { return QString::fromUtf8(KRTest::readFile(web(name))); }

    QString m_web;
};

TEST_F(KRProjectBuilderTest, BuildsTheWholeFolder)
{
    const QString startPath = build();
    EXPECT_EQ(startPath.toStdString(), web(QStringLiteral("settings.html")).toStdString());
    EXPECT_EQ(m_project->indexPage().toStdString(), "settings.html");
    EXPECT_EQ(m_project->exportModeChanges(), (QList<bool>{false, false}));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
    KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(m_web, deviceMapJSON), QStringLiteral("build.txt"));
}

TEST_F(KRProjectBuilderTest, SinglePageDeployWritesOnlyTheStartPageWithEveryPageDiv)
{
    m_project->setSetting(QStringLiteral("singlePageDeploy"), QStringLiteral("true"));
    EXPECT_EQ(build().toStdString(), web(QStringLiteral("settings.html")).toStdString());
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("home.html"))));
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("order.krml"))));
    KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(m_web, deviceMapJSON),
                                        QStringLiteral("build-single-page.txt"));
}

TEST_F(KRProjectBuilderTest, PageOrderPutsTheStartPageFirst)
{
    struct Row
    {
        const char *startPage;
        const char *indexPage;
        const char *order;
    };
    for (const Row &row : {Row{"settings", "settings.html", "settings home order"},
                           Row{"order", "order.krml", "order home settings"},
                           Row{"", "home.html", "home order settings"},
                           Row{"nowhere", "home.html", "home order settings"}}) {
        SCOPED_TRACE(row.startPage);
        m_project->setSetting(QStringLiteral("startPage"), QString::fromLatin1(row.startPage));
        m_project->setSetting(QStringLiteral("generateManifest"), QStringLiteral("false"));
        EXPECT_EQ(build().toStdString(), web(QString::fromLatin1(row.indexPage)).toStdString());
        // The sitemap lists the pages in the order they were written.
        const QString sitemap = readWeb(QStringLiteral("KR-sitemap.xml"));
        QStringList order;
        for (const QString &id : QString::fromLatin1(row.order).split(QLatin1Char(' ')))
            order.append(QString::number(sitemap.indexOf(QStringLiteral("<loc>") + id + QLatin1Char('.'))));
        QStringList sortedOrder = order;
        std::sort(sortedOrder.begin(), sortedOrder.end(), [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
        EXPECT_EQ(order, sortedOrder) << sitemap.toStdString();
        EXPECT_FALSE(order.contains(QStringLiteral("-1"))) << sitemap.toStdString();
        // The script keeps document order whatever the start page.
        const QString script = readWeb(QStringLiteral("KR-user-scripts.js"));
        EXPECT_LT(script.indexOf(QStringLiteral("_pages.home =")), script.indexOf(QStringLiteral("_pages.order =")));
        EXPECT_LT(script.indexOf(QStringLiteral("_pages.order =")), script.indexOf(QStringLiteral("_pages.settings =")));
    }
}

TEST_F(KRProjectBuilderTest, RebuildRemovesStaleFilesAndKeepsUnchangedCopies)
{
    build();
    const QString runtimeCopy = web(QStringLiteral("KRObjects-min.js"));
    const QString libraryCopy = web(QStringLiteral("photoswipe-3.0.5/photoswipe.css"));
    // A copy with the source's date and size is taken as unchanged: mark both by content.
    for (const QString &path : {runtimeCopy, libraryCopy}) {
        const QDateTime date = QFileInfo(path).lastModified();
        QByteArray bytes = KRTest::readFile(path);
        bytes[0] = '#';
        KRTest::writeFile(path, bytes);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(date, QFileDevice::FileModificationTime));
    }

    // The page "home" becomes "start"; a user file named like a page stays.
    QString xml = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    xml.replace(QStringLiteral("id=\"home\""), QStringLiteral("id=\"start\""));
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
    KRTest::writeFile(web(QStringLiteral("notes.html")), "mine");
    build();

    EXPECT_FALSE(QFile::exists(web(QStringLiteral("home.html"))));
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("start.html"))));
    EXPECT_EQ(KRTest::readFile(web(QStringLiteral("notes.html"))), QByteArray("mine"));
    EXPECT_TRUE(KRTest::readFile(runtimeCopy).startsWith('#'));
    EXPECT_TRUE(KRTest::readFile(libraryCopy).startsWith('#'));
    EXPECT_FALSE(readWeb(QStringLiteral("cache.manifest")).contains(QStringLiteral("home.html")));
    EXPECT_TRUE(readWeb(QStringLiteral("cache.manifest")).contains(QStringLiteral("notes.html\n")));

    // A changed source is copied again.
    const QString source = KRResources::pathForResource(QStringLiteral("runtime/KRObjects-min.js"));
    const QByteArray original = KRTest::readFile(source);
    KRTest::writeFile(source, "/* a newer object runtime */\n");
    build();
    EXPECT_EQ(KRTest::readFile(runtimeCopy), QByteArray("/* a newer object runtime */\n"));
    KRTest::writeFile(source, original);
}

TEST_F(KRProjectBuilderTest, GeneratedFileListRemovesStaleFilesWithoutMarksAndNothingElse)
{
    build();
    const QString list = readWeb(QStringLiteral(".kr-generated"));
    EXPECT_TRUE(list.contains(QStringLiteral(" home.html\n"))) << list.toStdString();
    EXPECT_TRUE(list.contains(QStringLiteral(" KR-user-scripts.js\n"))) << list.toStdString();
    // A file system that keeps no marks.
    for (const QString &name : QDir(m_web).entryList(QDir::Files | QDir::Hidden))
        KRFileManager::setExtendedAttributeOfItemAtPath(web(name), QString::fromLatin1(KRProjectResource::GeneratedFileMark),
                                                        QStringLiteral("false"));
    // The pages "home" and "settings" are renamed; the user has since put a file of his own
    // where "settings.html" was; the list also names a file outside the folder.
    KRTest::writeFile(web(QStringLiteral("settings.html")), "mine");
    KRTest::writeFile(m_package + QStringLiteral("/keep.txt"), "keep");
    const QFileInfo outside(m_package + QStringLiteral("/keep.txt"));
    KRTest::writeFile(web(QStringLiteral(".kr-generated")),
                      (list + QStringLiteral("%1 %2 ../keep.txt\n")
                                  .arg(outside.size())
                                  .arg(outside.lastModified().toMSecsSinceEpoch()))
                          .toUtf8());
    QString xml = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    xml.replace(QStringLiteral("id=\"home\""), QStringLiteral("id=\"start\""));
    xml.replace(QStringLiteral("id=\"settings\""), QStringLiteral("id=\"prefs\""));
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
    build();

    EXPECT_FALSE(QFile::exists(web(QStringLiteral("home.html"))));
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("start.html"))));
    EXPECT_EQ(KRTest::readFile(web(QStringLiteral("settings.html"))), QByteArray("mine"));
    EXPECT_TRUE(outside.exists());
    const QString relisted = readWeb(QStringLiteral(".kr-generated"));
    EXPECT_FALSE(relisted.contains(QStringLiteral("keep.txt"))) << relisted.toStdString();
    EXPECT_FALSE(relisted.contains(QStringLiteral(" home.html\n"))) << relisted.toStdString();
}

// A project copied with cp -r keeps neither the marks nor the dates of the build's files: its
// resources still leave out what the build wrote and copied, and its next build still removes
// what the last one wrote (the export's index page), and nothing of the user's.
TEST_F(KRProjectBuilderTest, ACopiedProjectStillKnowsItsBuildOutput)
{
    build(true);
    ASSERT_TRUE(QFileInfo::exists(web(QStringLiteral("index.html"))));
    const QString copy = KRTest::makeTempDir(QStringLiteral("copy")) + QStringLiteral("/Copy.krproj");
    QProcess cp;
    cp.start(QStringLiteral("cp"), {QStringLiteral("-r"), m_package, copy});
    ASSERT_TRUE(cp.waitForFinished(60000));
    ASSERT_EQ(cp.exitCode(), 0);
    const QString copiedWeb = copy + QStringLiteral("/kr-web");
    ASSERT_TRUE(KRFileManager::extendedAttributeOfItemAtPath(copiedWeb + QStringLiteral("/home.html"),
                                                             QString::fromLatin1(KRProjectResource::GeneratedFileMark))
                    .isEmpty());
    // Copied later than built: every file gets a date of its own.
    const QDateTime later = QDateTime::currentDateTime().addSecs(3600);
    QDirIterator files(copiedWeb, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(later, QFileDevice::FileModificationTime));
    }

    auto copied = std::make_shared<KRBuildTestProject>(copy, KRBuildTest::sampleProjectXML());
    const auto userResources = [&copied] {
        copied->reloadResources();
        QStringList names;
        for (const auto &resource : copied->resources()) {
            if (!resource->isGenerated() && !resource->isStaged())
                names.append(resource->name());
        }
        names.sort();
        return names.join(QLatin1Char(' ')).toStdString();
    };
    const std::string expected = "app.css blue.css images";
    EXPECT_EQ(userResources(), expected);

    KRProjectBuilder rebuild(copied);
    rebuild.setDeviceInformationJSON(deviceMapJSON);
    const KRResult<QString> rebuilt = rebuild.build();
    ASSERT_TRUE(rebuilt.ok()) << rebuilt.error().toString().toStdString();
    EXPECT_FALSE(QFileInfo::exists(copiedWeb + QStringLiteral("/index.html")));
    EXPECT_TRUE(QFileInfo::exists(copiedWeb + QStringLiteral("/app.css")));
    EXPECT_TRUE(QFileInfo::exists(copiedWeb + QStringLiteral("/images/logo.png")));
    EXPECT_EQ(userResources(), expected);
}

// The list of generated files is read only when the builder could have written it: one that
// is larger than any build's list (or a link, which may lead to a device that never ends) is
// not taken as a list of files to remove.
TEST_F(KRProjectBuilderTest, GeneratedFileListThatNoBuildWroteIsNotRead)
{
    const QString css = web(QStringLiteral("app.css"));
    const QByteArray line = QByteArray::number(QFileInfo(css).size()) + ' '
        + QByteArray::number(QFileInfo(css).lastModified().toMSecsSinceEpoch()) + " app.css\n";
    KRTest::writeFile(web(QStringLiteral(".kr-generated")), line);
    ASSERT_TRUE(QFile::resize(web(QStringLiteral(".kr-generated")), (qint64(16) << 20) + 1)); // sparse
    build();
    EXPECT_TRUE(QFileInfo::exists(css));
    EXPECT_LT(QFileInfo(web(QStringLiteral(".kr-generated"))).size(), 4096); // this build's own list
}

TEST_F(KRProjectBuilderTest, ReadOnlyLibraryFilesKeepTheirDate)
{
    const QString source = KRResources::pathForResource(QStringLiteral("local-server/js-class.js"));
    const QFileDevice::Permissions permissions = QFile::permissions(source);
    ASSERT_TRUE(QFile::setPermissions(source, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    build();
    QFile::setPermissions(source, permissions);
    EXPECT_EQ(QFileInfo(web(QStringLiteral("js-class.js"))).lastModified(), QFileInfo(source).lastModified());
}

TEST_F(KRProjectBuilderTest, ManifestListsFilesOnceSortedAndNeverFolders)
{
    KRTest::writeFile(web(QStringLiteral("images/icons/star.png")), "PNG");
    build();
    build(); // the second build sees the first one's files in the web folder
    const QString manifest = readWeb(QStringLiteral("cache.manifest"));
    QStringList lines = manifest.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst().toStdString(), "CACHE MANIFEST");
    QStringList sortedLines = lines;
    std::sort(sortedLines.begin(), sortedLines.end());
    sortedLines.removeDuplicates();
    EXPECT_EQ(lines, sortedLines);
    for (const QString &line : lines)
        EXPECT_TRUE(QFileInfo(web(line)).isFile()) << line.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("images/icons/star.png")));
    EXPECT_TRUE(lines.contains(QStringLiteral("MyGauge.js")));
    EXPECT_TRUE(lines.contains(QStringLiteral("__blue.css")));
    EXPECT_FALSE(lines.contains(QStringLiteral("blue.css")));
    EXPECT_FALSE(lines.contains(QStringLiteral("cache.manifest")));
    EXPECT_FALSE(lines.contains(QStringLiteral("images")));
}

// Each address is one line of the manifest: a file name holding line breaks can neither open a
// section ("NETWORK: *") nor hide the entries after it; spaces, "#" and "%" are encoded too,
// as in every address of a file. Full addresses of libraries elsewhere stay as they are.
TEST_F(KRProjectBuilderTest, ManifestEntriesAreOneLineEach)
{
    KRTest::writeFile(web(QStringLiteral("a\nNETWORK:\n*\nb.png")), "x");
    KRTest::writeFile(web(QStringLiteral("images/my #1 at 100%.png")), "x");
    build();
    QStringList lines = readWeb(QStringLiteral("cache.manifest")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.takeFirst().toStdString(), "CACHE MANIFEST");
    EXPECT_FALSE(lines.contains(QStringLiteral("NETWORK:")));
    EXPECT_FALSE(lines.contains(QStringLiteral("*")));
    EXPECT_TRUE(lines.contains(QStringLiteral("a%0ANETWORK%3A%0A%2A%0Ab.png")));
    EXPECT_TRUE(lines.contains(QStringLiteral("images/my%20%231%20at%20100%25.png")));
    for (const char *kept : {"settings.html", "robots.txt", "images/logo.png", "js-class.js"})
        EXPECT_TRUE(lines.contains(QString::fromLatin1(kept))) << kept;

    EXPECT_EQ(KRProjectBuilder::manifestEntry(QStringLiteral("https://ajax.googleapis.com/ajax/libs/jquery/1.9.0/jquery.min.js")),
              QStringLiteral("https://ajax.googleapis.com/ajax/libs/jquery/1.9.0/jquery.min.js"));
    EXPECT_EQ(KRProjectBuilder::manifestEntry(QStringLiteral("a%20b\tc\rd\u2028\u00e9.png")),
              QStringLiteral("a%20b%09c%0Dd%E2%80%A8\u00e9.png"));
}

// A package may bring links in place of the files a build writes or copies, leading to any
// file of the user's. Each is replaced by the file the build makes, never written through;
// where a folder the build copies into leads out of the web folder, nothing is copied there
// (an alert says so and the build goes on). Nothing outside the web folder changes.
TEST_F(KRProjectBuilderTest, LinksInTheWebFolderAreReplacedNeverWrittenThrough)
{
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    const QStringList names = {QStringLiteral("settings.html"), QStringLiteral("home.html"), QStringLiteral("order.krml"),
                               QStringLiteral("KR-user-scripts.js"), QStringLiteral("KRObjects-min.js"),
                               QStringLiteral("MyGauge.js"), QStringLiteral("__blue.css"), QStringLiteral("KR-sitemap.xml"),
                               QStringLiteral("robots.txt"), QStringLiteral("cache.manifest"), QStringLiteral(".kr-generated"),
                               QStringLiteral("js-class.js")};
    for (const QString &name : names) {
        KRTest::writeFile(outside + QStringLiteral("/victim") + name, "the user's own");
        ASSERT_TRUE(QFile::link(outside + QStringLiteral("/victim") + name, web(name)));
    }
    KRTest::writeFile(outside + QStringLiteral("/library/photoswipe.css"), "the user's own");
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/library"), web(QStringLiteral("photoswipe-3.0.5"))));

    build();
    build(); // the second build removes and rewrites what the first one made
    QStringList outsideFiles;
    QDirIterator it(outside, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        outsideFiles.append(QDir(outside).relativeFilePath(path));
        EXPECT_EQ(KRTest::readFile(path), QByteArray("the user's own")) << path.toStdString();
    }
    EXPECT_EQ(outsideFiles.size(), names.size() + 1);
    for (const QString &name : names) {
        EXPECT_FALSE(QFileInfo(web(name)).isSymLink()) << name.toStdString();
        EXPECT_TRUE(QFileInfo(web(name)).isFile()) << name.toStdString();
    }
    EXPECT_TRUE(readWeb(QStringLiteral("KR-user-scripts.js")).startsWith(QStringLiteral("(function(window) {")));
    EXPECT_FALSE(m_alerts->shownAlerts().isEmpty());
    for (const KRAlert &alert : m_alerts->shownAlerts())
        EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("leads out of the output folder")))
            << alert.messageText.toStdString() << " " << alert.informativeText.toStdString();
}

TEST_F(KRProjectBuilderTest, SitemapAddressesFollowTheBase)
{
    struct Row
    {
        const char *base;
        const char *domain;
        const char *loc;
        const char *robots;
    };
    for (const Row &row : {Row{"http://example.org/app/", "", "http://example.org/app/settings.html",
                               "Sitemap: http://example.org/app/KR-sitemap.xml\n"},
                           Row{"http://example.org/app", "", "http://example.org/appsettings.html",
                               "Sitemap: http://example.org/app/KR-sitemap.xml\n"},
                           Row{"", "shop", "http://shop.korvane.site/settings.html",
                               "Sitemap: http://shop.korvane.site/KR-sitemap.xml\n"},
                           // Without a full site address there is no valid sitemap line.
                           Row{"", "", "settings.html", ""},
                           Row{"app/", "", "app/settings.html", ""},
                           Row{"javascript:alert(1)//", "", "javascript:alert(1)//settings.html", ""}}) {
        SCOPED_TRACE(row.base);
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("sitemapBaseURL"), QString::fromLatin1(row.base));
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("hostingDomain"), QString::fromLatin1(row.domain));
        build();
        EXPECT_TRUE(readWeb(QStringLiteral("KR-sitemap.xml"))
                        .contains(QStringLiteral("<url><loc>%1</loc></url>").arg(QString::fromLatin1(row.loc))))
            << readWeb(QStringLiteral("KR-sitemap.xml")).toStdString();
        EXPECT_EQ(readWeb(QStringLiteral("robots.txt")).toStdString(), row.robots);
    }
}

TEST_F(KRProjectBuilderTest, ThemeFileOnlyForAnExistingDefaultTheme)
{
    m_project->setSetting(QStringLiteral("defaultTheme"), QString());
    build();
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("__blue.css"))));

    m_project->setSetting(QStringLiteral("defaultTheme"), QStringLiteral("gone"));
    build();
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("__blue.css"))));
    EXPECT_FALSE(QFile::exists(web(QStringLiteral("__gone.css"))));

    m_project->setSetting(QStringLiteral("defaultTheme"), QStringLiteral("blue"));
    build(true); // export mode points the images at the public CDN
    EXPECT_TRUE(readWeb(QStringLiteral("__blue.css"))
                    .contains(QStringLiteral("url(http://cdn.example.com/ajax/jquery.mobile/1.4.0/images/bg.png)")));
}

TEST_F(KRProjectBuilderTest, MinifyingKeepsTheScriptWhenTheMinifierFails)
{
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), true);
    auto builder = makeBuilder();
    QString seen;
    builder->setMinifier([&](const QString &text) -> KRResult<QString> {
        seen = text;
        return KRError(QStringLiteral("test"), 1, QStringLiteral("no server"));
    });
    ASSERT_TRUE(builder->build().ok());
    EXPECT_EQ(readWeb(QStringLiteral("KR-user-scripts.js")), seen);
    EXPECT_TRUE(seen.startsWith(builder->userScriptHeader()));
    EXPECT_TRUE(seen.endsWith(KRProjectBuilder::userScriptFooter()));

    builder = makeBuilder();
    builder->setMinifier([](const QString &) -> KRResult<QString> { return QStringLiteral("min();"); });
    ASSERT_TRUE(builder->build().ok());
    EXPECT_EQ(readWeb(QStringLiteral("KR-user-scripts.js")).toStdString(), "min();");
}

TEST_F(KRProjectBuilderTest, ScriptHeaderCarriesTheProjectOptions)
{
    auto builder = makeBuilder();
    EXPECT_EQ(builder->userScriptHeader().toStdString(),
              "(function(window) {\n$(document).on('pagechange pagebeforeshow', function() {\napplication._pageChange();\n});\n"
              "window.application = new KRApplication({\n_deviceMap: " + deviceMapJSON.toStdString()
                  + ", _jqm: true, _jqmAJAX: true});\nvar application = window.application;\n");
    m_project->setSetting(QStringLiteral("ajaxPageLoading"), QStringLiteral("false"));
    m_project->setSetting(QStringLiteral("singlePageDeploy"), QStringLiteral("true"));
    EXPECT_TRUE(builder->userScriptHeader().endsWith(
        QStringLiteral(", _jqm: true, _jqmAJAX: false, _singlePageDeploy: true});\nvar application = window.application;\n")));
    EXPECT_EQ(KRProjectBuilder::userScriptFooter().toStdString(), "})(window);\n");
}

TEST_F(KRProjectBuilderTest, WillBuildNotificationComesFirstWithTheDocument)
{
    bool posted = false;
    bool folderUntouched = false;
    auto token = KRNotificationCenter::defaultCenter().addObserver(
        KRWillBuildDocumentNotification, m_project->documentIdentity(), [&](const KRNotification &) {
            posted = true;
            folderUntouched = !QFile::exists(web(QStringLiteral("settings.html")));
        });
    build();
    EXPECT_TRUE(posted);
    EXPECT_TRUE(folderUntouched);
}

TEST_F(KRProjectBuilderTest, MissingOutputFolderWritesNothing)
{
    auto builder = makeBuilder(true);
    const QString missing = m_package + QStringLiteral("/nowhere");
    builder->setOutputDirectory(missing);
    auto result = builder->build();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), KRProjectBuilder::NoOutputFolderError);
    EXPECT_EQ(result.error().message().toStdString(),
              QStringLiteral("krwebURL %1 doesn't exist or isn't a directory.").arg(missing).toStdString());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_EQ(m_project->exportModeChanges(), (QList<bool>{true, false}));
}

// The web folder replaced by a link while the project is open: the build is refused and
// writes nothing where the link leads; the web folder of its own builds again once back.
TEST_F(KRProjectBuilderTest, AWebFolderSwappedForALinkIsNotBuiltInto)
{
    build();
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    const QString moved = m_web + QStringLiteral(".moved");
    ASSERT_TRUE(QDir().rename(m_web, moved));
    ASSERT_TRUE(QFile::link(outside, m_web));
    auto result = makeBuilder()->build();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), KRProjectBuilder::NoOutputFolderError);
    EXPECT_TRUE(QDir(outside).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
    ASSERT_TRUE(QFile::remove(m_web));
    ASSERT_TRUE(QDir().rename(moved, m_web));
    build();
    EXPECT_TRUE(QFileInfo(web(QStringLiteral("js-class.js"))).isFile());
}

// A library copy and a generated file go nowhere but below the output folder: written
// relative to folders opened without following links.
TEST_F(KRProjectBuilderTest, LibraryCopiesKeepDatesAndAreWrittenInsideTheOutputFolder)
{
    const QString source = KRResources::pathForResource(QStringLiteral("local-server/js-class.js"));
    build();
    EXPECT_EQ(QFileInfo(web(QStringLiteral("js-class.js"))).lastModified(), QFileInfo(source).lastModified());
    EXPECT_EQ(KRTest::readFile(web(QStringLiteral("js-class.js"))), KRTest::readFile(source));
    QStringList temporary;
    QDirIterator it(m_web, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (KRFileManager::isTemporaryWriteName(QFileInfo(path).fileName()))
            temporary.append(path);
    }
    EXPECT_TRUE(temporary.isEmpty()) << temporary.join(QLatin1Char(' ')).toStdString();
}

TEST_F(KRProjectBuilderTest, ProjectWithoutPagesIsReportedAndTheLastBuildStays)
{
    build();
    m_project = std::make_shared<KRBuildTestProject>(
        m_package, "<KRProjectDocument><KRProject/><KRPages/></KRProjectDocument>");
    auto result = makeBuilder()->build();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), KRProjectBuilder::NoPagesError);
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("settings.html"))));
    EXPECT_FALSE(m_project->exportMode());
}

TEST_F(KRProjectBuilderTest, PageThatCannotBeMadeFailsTheBuild)
{
    QString xml = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    xml.replace(QStringLiteral("<KRPage id=\"order\""), QStringLiteral("<KRPage broken=\"true\" id=\"order\""));
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
    auto result = makeBuilder()->build();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), KRProjectBuilder::PageError);
    EXPECT_EQ(result.error().message().toStdString(),
              "The page \u201Corder\u201D could not be built: A page of the project has no id.");
}

// Pages made side by side fail as pages made one by one: the first failing page in document
// order names the error, whichever failed first, and what a page throws ends the build.
TEST_F(KRProjectBuilderTest, PagesMadeSideBySideFailInDocumentOrder)
{
    const QString original = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    QString xml = original;
    for (const char *pageID : {"order", "settings"})
        xml.replace(QStringLiteral("<KRPage id=\"%1\"").arg(QLatin1String(pageID)),
                    QStringLiteral("<KRPage broken=\"true\" id=\"%1\"").arg(QLatin1String(pageID)));
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
    m_project->setConcurrentPageLimit(4);
    for (int run = 0; run < 10; ++run) {
        auto result = makeBuilder()->build();
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().message().toStdString(),
                  "The page \u201Corder\u201D could not be built: A page of the project has no id.");
    }
    xml = original;
    xml.replace(QStringLiteral("<KRPage id=\"home\""), QStringLiteral("<KRPage brokenHTML=\"true\" id=\"home\""));
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
    m_project->setConcurrentPageLimit(4);
    auto result = makeBuilder()->build();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), KRProjectBuilder::PageError);
    EXPECT_TRUE(result.error().message().contains(QStringLiteral("style element not found")));
}

// Plain pages may give their file text before the libraries every page links are known, and
// have their files made while other pages are being made: the built folder is the same as
// with every page linked first, and a build that stops leaves none of the files made ahead.
TEST_F(KRProjectBuilderTest, PagesWrittenBeforeTheirLinksAreKnownMatchPagesLinkedFirst)
{
    for (const bool exportMode : {false, true}) {
        SCOPED_TRACE(exportMode);
        QStringList listings;
        for (const bool late : {false, true}) {
            m_project->setLinksLibrariesLate(late);
            m_project->setConcurrentPageLimit(late ? 4 : 1);
            build(exportMode);
            QFile::remove(web(QStringLiteral(".kr-generated"))); // holds the files' times
            listings.append(KRBuildTest::dumpFolder(m_web, deviceMapJSON, true));
        }
        EXPECT_TRUE(listings.at(0).contains(QStringLiteral("<link rel=\"stylesheet\" href=\"photoswipe-3.0.5/photoswipe.css\">")));
        EXPECT_EQ(listings.at(1).toStdString(), listings.at(0).toStdString());
    }
    const QString original = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    for (const QString &settings : {QStringLiteral("<KRPage broken=\"true\" id=\"settings\""), QStringLiteral("<KRPage id=\"home\"")}) {
        SCOPED_TRACE(settings.toStdString());
        QString xml = original;
        xml.replace(QStringLiteral("<KRPage id=\"settings\""), settings);
        m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
        m_project->setLinksLibrariesLate(true);
        m_project->setConcurrentPageLimit(4);
        EXPECT_EQ(makeBuilder()->build().error().code(), KRProjectBuilder::PageError);
        EXPECT_EQ(QDir(m_web).entryList({QStringLiteral("*.html"), QStringLiteral("*.krml")}, QDir::Files).join(u' ').toStdString(),
                  "");
    }
}

// The build of AKilledBuildLeavesNoPageFileTakenForTheUsers, in the process that test starts:
// its page named "settings" ends the process while the pages are made.
TEST_F(KRProjectBuilderTest, BuildThatKillsItsProcess)
{
    const QString package = qEnvironmentVariable("KR_KILLED_BUILD_PACKAGE");
    if (package.isEmpty())
        GTEST_SKIP() << "run by AKilledBuildLeavesNoPageFileTakenForTheUsers in a process of its own";
    QString xml = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    xml.replace(QStringLiteral("<KRPage id=\"settings\""), QStringLiteral("<KRPage killsTheProcess=\"true\" id=\"settings\""));
    m_project = std::make_shared<KRBuildTestProject>(package, xml.toUtf8());
    m_project->setLinksLibrariesLate(true);
    m_project->setConcurrentPageLimit(4);
    (void)makeBuilder()->build();
    ::_exit(0); // not reached: the page ends the process
}

// A build killed while it makes its pages (with their files made ahead on another thread)
// leaves no page file that is empty or unmarked, which the next build would take for the
// user's own: a page's file shows under its name only whole and marked as generated. What it
// leaves instead is the application's own temporary files, which the next opening removes.
TEST_F(KRProjectBuilderTest, AKilledBuildLeavesNoPageFileTakenForTheUsers)
{
    const QString output = m_web;
    const QByteArray probe = QFile::encodeName(output + QStringLiteral("/.probe"));
    KRTest::writeFile(QFile::decodeName(probe), "x");
    const bool marks = ::setxattr(probe.constData(), "user.kr-probe", "1", 1, 0) == 0;
    ::unlink(probe.constData());
    if (!marks)
        GTEST_SKIP() << "the file system of the test folder refuses user extended attributes";
    // The build runs in a process of its own started afresh (a fork of this one, which has
    // threads, could inherit a lock held by one of them and wait for ever).
    QProcess child;
    child.setProgram(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath());
    child.setArguments({QStringLiteral("--gtest_filter=KRProjectBuilderTest.BuildThatKillsItsProcess")});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KR_KILLED_BUILD_PACKAGE"), m_package);
    child.setProcessEnvironment(environment);
    child.start();
    ASSERT_TRUE(child.waitForStarted(30000));
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        FAIL() << "the build did not stop";
    }
    ASSERT_TRUE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 9)
        << "the build did not stop where it was meant to: " << child.readAll().toStdString();

    const QStringList left = QDir(output).entryList(QDir::Files | QDir::Hidden);
    const QString mark = QString::fromLatin1(KRProjectResource::GeneratedFileMark);
    bool sawTemporary = false;
    for (const QString &name : left) {
        const QString path = output + QLatin1Char('/') + name;
        if (name.endsWith(QLatin1String(".html")) || name.endsWith(QLatin1String(".krml"))) {
            EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(path, mark), QStringLiteral("true")) << name.toStdString();
            EXPECT_GT(QFileInfo(path).size(), 0) << name.toStdString();
        } else if (KRFileManager::isTemporaryWriteName(name)) {
            sawTemporary = true;
            EXPECT_TRUE(KRFileManager::isOwnTemporaryWrite(path)) << name.toStdString();
        }
    }
    EXPECT_TRUE(sawTemporary) << left.join(u' ').toStdString();
}

// A page's file may be a link, or a second name of a file of the user's, when the build starts:
// the page's new file takes its place and what it led to stays as it was, whether the pages
// are linked first or written on several threads with their files made ahead.
TEST_F(KRProjectBuilderTest, PageFilesReplaceLinksAndSecondNamesInTheirPlace)
{
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    const QStringList names = {QStringLiteral("home.html"), QStringLiteral("settings.html"), QStringLiteral("order.krml")};
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late);
        for (const QString &name : names) {
            const QString victim = outside + QStringLiteral("/") + name;
            QFile::remove(victim);
            QFile::remove(web(name));
            KRTest::writeFile(victim, "the user's own");
            if (name == names.first())
                ASSERT_TRUE(QFile::link(victim, web(name)));
            else
                ASSERT_EQ(::link(QFile::encodeName(victim).constData(), QFile::encodeName(web(name)).constData()), 0);
        }
        m_project->setLinksLibrariesLate(late);
        m_project->setConcurrentPageLimit(late ? 4 : 1);
        build();
        for (const QString &name : names) {
            EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/") + name), QByteArray("the user's own")) << name.toStdString();
            struct stat status{};
            ASSERT_EQ(::lstat(QFile::encodeName(web(name)).constData(), &status), 0) << name.toStdString();
            EXPECT_TRUE(S_ISREG(status.st_mode)) << name.toStdString();
            EXPECT_EQ(status.st_nlink, 1u) << name.toStdString();
            EXPECT_TRUE(readWeb(name).contains(QStringLiteral("<html"))) << name.toStdString();
        }
    }
}

// A page id is a file name: one that leads elsewhere, or that another page has, writes nothing.
TEST_F(KRProjectBuilderTest, PageIdThatIsNoSafeFileNameFailsTheBuild)
{
    const QString original = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    const QString outside = QFileInfo(m_web).absolutePath() + QStringLiteral("/escaped");
    for (const QString &id : {QStringLiteral("../escaped"), QStringLiteral("home")}) {
        QString xml = original;
        xml.replace(QStringLiteral("<KRPage id=\"order\""), QStringLiteral("<KRPage id=\"%1\"").arg(id));
        m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
        auto result = makeBuilder()->build();
        ASSERT_FALSE(result.ok()) << id.toStdString();
        EXPECT_EQ(result.error().code(), KRProjectBuilder::PageError);
        EXPECT_TRUE(result.error().message().contains(id)) << result.error().message().toStdString();
        EXPECT_FALSE(QFile::exists(outside + QStringLiteral(".krml")));
        EXPECT_FALSE(QFile::exists(outside + QStringLiteral(".html")));
    }
}

TEST_F(KRProjectBuilderTest, BrokenPageDocumentFailsTheBuild)
{
    QString xml = QString::fromUtf8(KRBuildTest::sampleProjectXML());
    xml.replace(QStringLiteral("<KRPage id=\"home\""), QStringLiteral("<KRPage brokenHTML=\"true\" id=\"home\""));
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
    auto builder = makeBuilder(true);
    auto result = builder->build();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code(), KRProjectBuilder::PageError);
    EXPECT_TRUE(result.error().message().contains(QStringLiteral("style element not found")));
    EXPECT_EQ(m_project->exportModeChanges(), (QList<bool>{true, false}));
}

TEST_F(KRProjectBuilderTest, WriteErrorsFailTheBuildNamingTheFile)
{
    for (const char *name : {"home.html", "KR-user-scripts.js", "__blue.css", "KR-sitemap.xml", "cache.manifest"}) {
        SCOPED_TRACE(name);
        const QString blocker = web(QString::fromLatin1(name));
        ASSERT_TRUE(QDir().mkpath(blocker + QStringLiteral("/inside"))); // a folder where the file goes
        auto result = makeBuilder()->build();
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().code(), KRProjectBuilder::WriteError);
        EXPECT_TRUE(result.error().message().contains(QString::fromLatin1(name))) << result.error().message().toStdString();
        EXPECT_FALSE(m_project->exportMode());
        QDir(blocker).removeRecursively();
    }
    EXPECT_TRUE(makeBuilder()->build().ok());
}

TEST_F(KRProjectBuilderTest, LibraryFolderTakenByAFileIsSkippedWithAnAlert)
{
    KRTest::writeFile(web(QStringLiteral("photoswipe-3.0.5")), "a file");
    m_alerts->scriptButton(QStringLiteral("Abort"));
    ASSERT_TRUE(makeBuilder()->build().ok());
    ASSERT_GE(m_alerts->shownAlerts().size(), 1);
    const KRAlert &alert = m_alerts->shownAlerts().first();
    EXPECT_EQ(alert.messageText.toStdString(), "\"photoswipe-3.0.5\" exists.");
    EXPECT_EQ(alert.informativeText.toStdString(),
              QStringLiteral("\"%1\" already exists, but isn't a directory.  Skipping...")
                  .arg(web(QStringLiteral("photoswipe-3.0.5")))
                  .toStdString());
    EXPECT_EQ(alert.buttonTitles, QStringList{QStringLiteral("Abort")});
    EXPECT_EQ(KRTest::readFile(web(QStringLiteral("photoswipe-3.0.5"))), QByteArray("a file"));
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("js-class.js"))));
}

TEST_F(KRProjectBuilderTest, MissingBundleFileIsShownAndTheBuildGoesOn)
{
    const QString source = KRResources::pathForResource(QStringLiteral("runtime/KRObjects-min.js"));
    const QByteArray original = KRTest::readFile(source);
    QFile::remove(source);
    auto result = makeBuilder()->build();
    KRTest::writeFile(source, original);
    ASSERT_TRUE(result.ok());
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(m_alerts->shownAlerts().first().messageText.contains(QStringLiteral("KRObjects-min.js")));
    EXPECT_TRUE(QFile::exists(web(QStringLiteral("KR-user-scripts.js"))));
}

// A library path names a file or folder below the output folder: one that comes to the folder
// itself names no library, and is skipped without an error; the user's files stay as they are.
TEST_F(KRProjectBuilderTest, LibraryPathNamingTheOutputFolderItselfIsSkipped)
{
    KRTest::writeFile(web(QStringLiteral("mine.txt")), "the user's own");
    for (const QString &path : {QStringLiteral("."), QStringLiteral("images/..")}) {
        SCOPED_TRACE(path.toStdString());
        QString xml = QString::fromUtf8(KRBuildTest::sampleProjectXML());
        xml.replace(QStringLiteral("<KRPage id=\"home\""),
                    QStringLiteral("<KRPage id=\"home\" requiredResources=\"%1\"").arg(path));
        m_project = std::make_shared<KRBuildTestProject>(m_package, xml.toUtf8());
        ASSERT_TRUE(makeBuilder()->build().ok());
        EXPECT_EQ(KRTest::readFile(web(QStringLiteral("mine.txt"))), QByteArray("the user's own"));
        EXPECT_FALSE(QFileInfo::exists(web(QStringLiteral("jquery-1.9.0"))));
        EXPECT_TRUE(QFile::exists(web(QStringLiteral("js-class.js"))));
        EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
    }
}

TEST_F(KRProjectBuilderTest, ResourceListIsReadAgainAfterTheBuild)
{
    const int before = m_project->reloadCount();
    build();
    EXPECT_GT(m_project->reloadCount(), before);
    bool listsPage = false;
    for (const auto &resource : m_project->resources())
        listsPage = listsPage || resource->name() == QLatin1String("settings.html");
    EXPECT_TRUE(listsPage);
}

} // namespace

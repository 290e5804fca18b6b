// Exporting a built project to a folder: the exported tree with and without the local jQuery
// files, the replace questions, and the failures that stop an export.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRProjectBuilder.h>
#include <core/KRFileManagerAdditions.h>
#include <model/KRProjectResource.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QProcess>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSuppressKey = QStringLiteral("SuppressExportOverwriteWarning");

class KRProjectExportTest : public KRBuildSampleProjectTest
{
protected:
    void SetUp() override
    {
        KRBuildSampleProjectTest::SetUp();
        if (IsSkipped())
            return;
        m_target = KRTest::makeTempDir(QStringLiteral("export"));
    }
    void TearDown() override
    {
        KRBuildSampleProjectTest::TearDown();
        KRUserDefaults::sharedInstance().removeObject(kSuppressKey);
    }

    // Exports into the folder, as the export command does (the export builds the project).
    bool exportTo(const QString &folder)
    {
        KRProjectBuilder builder(m_project);
        builder.setDeviceInformationJSON(deviceMapJSON);
        return builder.exportProjectToURL(QUrl::fromLocalFile(folder));
    }
    QStringList questions() const
    {
        QStringList names;
        for (const KRAlert &alert : m_alerts->shownAlerts())
            names.append(alert.messageText);
        return names;
    }

    bool isSameOrInsideExport(const QString &path) const
    {
        const QString root = QFileInfo(m_target).canonicalFilePath();
        return !path.isEmpty() && (path == root || path.startsWith(root + QLatin1Char('/')));
    }

    QString m_target;
};

TEST_F(KRProjectExportTest, ExportWithLocalJQueryFiles)
{
    m_project->setSetting(QStringLiteral("exportLocalJQuerySources"), QStringLiteral("true"));
    ASSERT_TRUE(exportTo(m_target));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(m_project->exportMode());
    // The web folder, which the export leaves as it was, then the exported folder (every page
    // as HTML, the local files in the manifest, no marks).
    KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(m_project->webFolderPath(), deviceMapJSON)
                                            + QStringLiteral("\n######## exported\n")
                                            + KRBuildTest::dumpFolder(m_target, deviceMapJSON, true),
                                        QStringLiteral("export-local-jquery.txt"));
}

TEST_F(KRProjectExportTest, LinksInsideTheWebFolderStayLinksAndOthersAreSkipped)
{
    const QString web = m_project->webFolderPath() + QLatin1Char('/');
    KRTest::writeFile(m_package + QStringLiteral("/private.txt"), "secret");
    ASSERT_TRUE(QFile::link(QStringLiteral("images/logo.png"), web + QStringLiteral("logo-link.png")));
    ASSERT_TRUE(QFile::link(web + QStringLiteral("images"), web + QStringLiteral("pictures")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../app.css"), web + QStringLiteral("images/up.png")));
    ASSERT_TRUE(QFile::link(m_package + QStringLiteral("/private.txt"), web + QStringLiteral("private.txt")));
    ASSERT_TRUE(QFile::link(m_package, web + QStringLiteral("package")));
    ASSERT_TRUE(QFile::link(QStringLiteral("nowhere"), web + QStringLiteral("dangling")));

    ASSERT_TRUE(exportTo(m_target));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();
    const QString exported = m_target + QLatin1Char('/');
    for (const char *name : {"logo-link.png", "pictures", "images/up.png"}) {
        const QFileInfo link(exported + QLatin1String(name));
        EXPECT_TRUE(link.isSymLink()) << name;
        EXPECT_TRUE(isSameOrInsideExport(link.canonicalFilePath())) << name << " -> " << link.canonicalFilePath().toStdString();
    }
    EXPECT_EQ(KRTest::readFile(exported + QStringLiteral("logo-link.png")), QByteArray("PNG"));
    EXPECT_EQ(KRTest::readFile(exported + QStringLiteral("pictures/logo.png")), QByteArray("PNG"));
    for (const char *name : {"private.txt", "package", "dangling"})
        EXPECT_FALSE(QFileInfo(exported + QLatin1String(name)).isSymLink() || QFileInfo::exists(exported + QLatin1String(name)))
            << name;
    EXPECT_TRUE(QFileInfo::exists(exported + QStringLiteral("order.html")));
}

// A file whose name is not UTF-8 (as old archives carry them) is not silently left out of an
// export that then reports success: the export stops and names it.
TEST_F(KRProjectExportTest, NamesThatAreNotUTF8StopTheExportAndAreNamed)
{
    const QByteArray web = QFile::encodeName(m_project->webFolderPath());
    const int fd = ::open(web + "/images/caf\xe9.png", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_FALSE(exportTo(m_target));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_alerts->shownAlerts().first().messageText.contains(QStringLiteral("not UTF-8")));
    EXPECT_EQ(m_alerts->shownAlerts().first().informativeText, QStringLiteral("images/caf\\xE9.png"));
}

// Folders of the web folder nested past the path limit are exported whole, not left out, and a
// sparse file (3 GB of nothing, as Save As carries it) is exported with its holes.
TEST_F(KRProjectExportTest, FoldersNestedPastThePathLimitAndSparseFilesAreExported)
{
    {
        const int fd = ::open(QFile::encodeName(m_project->webFolderPath() + QStringLiteral("/empty.bin")).constData(),
                              O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t(3) << 30), 0);
        ::close(fd);
    }
    const QByteArray name(240, 'n');
    const auto openDeep = [&](const QString &folder, bool make) {
        int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level < 20 && fd >= 0; ++level) {
            if (make)
                ::mkdirat(fd, name.constData(), 0755);
            const int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(fd);
            fd = next;
        }
        return fd;
    };
    const QString deep = m_project->webFolderPath() + QStringLiteral("/deep");
    QDir().mkpath(deep);
    int fd = openDeep(deep, true);
    ASSERT_GE(fd, 0);
    const int file = ::openat(fd, "end.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::write(file, "bottom", 6), 6);
    ::close(file);
    ::close(fd);
    ASSERT_TRUE(exportTo(m_target)) << questions().join(QLatin1Char('\n')).toStdString();
    fd = openDeep(m_target + QStringLiteral("/deep"), false);
    ASSERT_GE(fd, 0) << "the deep folders were left out";
    EXPECT_EQ(::faccessat(fd, "end.txt", R_OK, 0), 0);
    ::close(fd);
    struct stat sparse{};
    ASSERT_EQ(::stat(QFile::encodeName(m_target + QStringLiteral("/empty.bin")).constData(), &sparse), 0);
    EXPECT_EQ(sparse.st_size, off_t(3) << 30);
    EXPECT_LT(qint64(sparse.st_blocks) * 512, qint64(1) << 20) << "the holes were written out";
    for (const QString &folder : {deep, m_target + QStringLiteral("/deep")})
        EXPECT_TRUE(KRFileManager::removeItemRecursively(folder).ok());
}

// Nothing is copied through a folder of the chosen folder that leads out of it: the export
// stops with an error, and what the link leads to stays as it was.
TEST_F(KRProjectExportTest, NothingIsCopiedThroughALinkOutOfTheChosenFolder)
{
    m_project->setSetting(QStringLiteral("exportLocalJQuerySources"), QStringLiteral("true"));
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    ASSERT_TRUE(QFile::link(outside, m_target + QStringLiteral("/jquery-1.9.0")));
    EXPECT_FALSE(exportTo(m_target));
    EXPECT_TRUE(QDir(outside).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_alerts->shownAlerts().first().messageText.contains(QStringLiteral("jquery.min.js")));
    EXPECT_TRUE(m_alerts->shownAlerts().first().informativeText.contains(QStringLiteral("leads out of the folder chosen")));
}

TEST_F(KRProjectExportTest, ExportWithoutLocalJQueryFiles)
{
    ASSERT_TRUE(exportTo(m_target));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_target + QStringLiteral("/jquery-1.9.0")));
    EXPECT_TRUE(QFileInfo::exists(m_target + QStringLiteral("/order.html")));
    EXPECT_FALSE(QFileInfo::exists(m_target + QStringLiteral("/order.krml")));
    KRBuildTest::expectMatchesReference(KRBuildTest::dumpFolder(m_target, deviceMapJSON, false),
                                        QStringLiteral("export-cdn.txt"));
}

// A web server shows "index.html" at a site's root: an export has one that opens the start
// page, unless a page or a file of the user's is that file.
TEST_F(KRProjectExportTest, ExportHasAnIndexPageThatOpensTheStartPage)
{
    ASSERT_TRUE(exportTo(m_target));
    const QString index = QString::fromUtf8(KRTest::readFile(m_target + QStringLiteral("/index.html")));
    EXPECT_TRUE(index.contains(QStringLiteral("<meta http-equiv=\"refresh\" content=\"0; url=settings.html\">")))
        << index.toStdString();
    EXPECT_TRUE(index.contains(QStringLiteral("<a href=\"settings.html\">settings.html</a>"))) << index.toStdString();
    EXPECT_TRUE(KRTest::readFile(m_target + QStringLiteral("/cache.manifest")).contains("\nindex.html\n"));
    // A plain build of the web folder drops it again.
    KRProjectBuilder builder(m_project);
    builder.setDeviceInformationJSON(deviceMapJSON);
    ASSERT_TRUE(builder.build().ok());
    EXPECT_FALSE(QFileInfo::exists(m_project->webFolderPath() + QStringLiteral("/index.html")));

    // Whatever the file name, it is text in the address and in the markup.
    const QString odd = KRProjectBuilder::indexPageHTML(QStringLiteral("a\"b<c> d&e.html"));
    EXPECT_TRUE(odd.contains(QStringLiteral("url=a%22b%3Cc%3E%20d%26e.html\"")) && odd.contains(QStringLiteral("href=\"a%22b%3Cc%3E%20d%26e.html\""))
                && odd.contains(QStringLiteral(">a&quot;b&lt;c&gt; d&amp;e.html</a>")))
        << odd.toStdString();

    // The user's own index.html is exported as it is.
    KRTest::writeFile(m_project->webFolderPath() + QStringLiteral("/index.html"), "mine");
    const QString second = KRTest::makeTempDir(QStringLiteral("export"));
    ASSERT_TRUE(exportTo(second));
    EXPECT_EQ(KRTest::readFile(second + QStringLiteral("/index.html")), QByteArray("mine"));
    EXPECT_EQ(KRTest::readFile(m_project->webFolderPath() + QStringLiteral("/index.html")), QByteArray("mine"));
    QFile::remove(m_project->webFolderPath() + QStringLiteral("/index.html"));

    // A page named "index" is the index page.
    QByteArray xml = KRBuildTest::sampleProjectXML();
    xml.replace("<KRPage id=\"home\"", "<KRPage id=\"index\"");
    m_project = std::make_shared<KRBuildTestProject>(m_package, xml);
    KRBuildTest::populateSampleProject(*m_project);
    const QString third = KRTest::makeTempDir(QStringLiteral("export"));
    ASSERT_TRUE(exportTo(third));
    EXPECT_TRUE(KRTest::readFile(third + QStringLiteral("/index.html")).contains("id=\"index\""));
}

TEST_F(KRProjectExportTest, SecondExportAsksOncePerExistingItem)
{
    ASSERT_TRUE(exportTo(m_target));
    const int items = int(QDir(m_target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
    ASSERT_GT(items, 3);
    ASSERT_TRUE(exportTo(m_target));
    ASSERT_EQ(m_alerts->shownAlerts().size(), items);
    const KRAlert &question = m_alerts->shownAlerts().first();
    EXPECT_TRUE(question.messageText.endsWith(QStringLiteral("\" already exists. Do you want to replace it?")));
    EXPECT_EQ(question.informativeText.toStdString(),
              QStringLiteral("A file or folder with the same name already exists in the folder %1. "
                             "Replacing it will overwrite its current contents.")
                  .arg(QFileInfo(m_target).fileName())
                  .toStdString());
    EXPECT_EQ(question.buttonTitles, (QStringList{QStringLiteral("Replace This File"), QStringLiteral("Replace All Files"),
                                                  QStringLiteral("Cancel")}));
    EXPECT_EQ(question.suppressionButtonTitle.toStdString(), "Don't ask again.");
}

TEST_F(KRProjectExportTest, ReplaceAllAsksOnce)
{
    ASSERT_TRUE(exportTo(m_target));
    KRTest::writeFile(m_target + QStringLiteral("/app.css"), "old");
    m_alerts->scriptButton(QStringLiteral("Replace All Files"));
    ASSERT_TRUE(exportTo(m_target));
    EXPECT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_EQ(KRTest::readFile(m_target + QStringLiteral("/app.css")), QByteArray("body { color: black; }\n"));
}

TEST_F(KRProjectExportTest, DontAskAgainIsRemembered)
{
    ASSERT_TRUE(exportTo(m_target));
    m_alerts->scriptButton(QStringLiteral("Replace This File"));
    m_alerts->scriptSuppressionChecked(true);
    ASSERT_TRUE(exportTo(m_target));
    EXPECT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(KRUserDefaults::sharedInstance().boolValue(kSuppressKey));
    m_alerts->clear();
    ASSERT_TRUE(exportTo(m_target));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
}

TEST_F(KRProjectExportTest, CancelStopsTheExportAndForgetsTheTick)
{
    ASSERT_TRUE(exportTo(m_target));
    KRTest::writeFile(m_target + QStringLiteral("/app.css"), "old");
    // Cancel at the first question: nothing more is replaced, and a ticked box is not kept.
    m_alerts->scriptButton(QStringLiteral("Cancel"));
    m_alerts->scriptSuppressionChecked(true);
    QStringList before = QDir(m_target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_FALSE(exportTo(m_target));
    EXPECT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_FALSE(KRUserDefaults::sharedInstance().boolValue(kSuppressKey));
    EXPECT_EQ(QDir(m_target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    EXPECT_EQ(KRTest::readFile(m_target + QStringLiteral("/app.css")), QByteArray("old"));
}

TEST_F(KRProjectExportTest, FileInTheWayOfAFolderAbortsTheExport)
{
    m_project->setSetting(QStringLiteral("exportLocalJQuerySources"), QStringLiteral("true"));
    KRTest::writeFile(m_target + QStringLiteral("/jquery-1.9.0"), "a file");
    EXPECT_FALSE(exportTo(m_target));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
    const KRAlert &alert = m_alerts->shownAlerts().first();
    const QString folder = m_target + QStringLiteral("/jquery-1.9.0");
    EXPECT_EQ(alert.messageText.toStdString(), QStringLiteral("\"%1\" exists.").arg(folder).toStdString());
    EXPECT_EQ(alert.informativeText.toStdString(),
              QStringLiteral("\"%1\" already exists, but isn't a directory.  Aborting export.").arg(folder).toStdString());
    EXPECT_EQ(alert.buttonTitles, QStringList{QStringLiteral("Abort")});
    // The jQuery Mobile files come after jQuery in the list: none was copied.
    EXPECT_FALSE(QFileInfo::exists(m_target + QStringLiteral("/jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js")));
    EXPECT_EQ(KRTest::readFile(folder), QByteArray("a file"));
}

TEST_F(KRProjectExportTest, ExportIntoTheWebFolderIsRefusedBeforeAnythingChanges)
{
    KRProjectBuilder builder(m_project);
    builder.setExportMode(true);
    builder.setDeviceInformationJSON(deviceMapJSON);
    ASSERT_TRUE(builder.build().ok());
    const QString web = m_project->webFolderPath();
    KRTest::writeFile(web + QStringLiteral("/images/out/keep.txt"), "keep");
    const QString listing = KRBuildTest::dumpFolder(web, deviceMapJSON, true);

    for (const QString &folder : {web, web + QStringLiteral("/images/out"), web + QStringLiteral("/new/deeper"),
                                  m_package + QStringLiteral("/./kr-web/")}) {
        SCOPED_TRACE(folder.toStdString());
        m_alerts->clear();
        EXPECT_FALSE(builder.exportProjectToURL(QUrl::fromLocalFile(folder)));
        ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
        EXPECT_TRUE(m_alerts->shownAlerts().first().messageText.contains(QStringLiteral("own web folder")));
        EXPECT_EQ(KRBuildTest::dumpFolder(web, deviceMapJSON, true).toStdString(), listing.toStdString());
    }
    // Through a symbolic link too.
    const QString link = m_target + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(web, link));
    EXPECT_FALSE(builder.exportProjectToURL(QUrl::fromLocalFile(link)));
    EXPECT_EQ(KRBuildTest::dumpFolder(web, deviceMapJSON, true).toStdString(), listing.toStdString());

    // The package folder around the web folder is the project's too.
    m_alerts->clear();
    EXPECT_FALSE(builder.exportProjectToURL(QUrl::fromLocalFile(m_package + QStringLiteral("/exported"))));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(m_alerts->shownAlerts().first().messageText.contains(QStringLiteral("own package")));
    EXPECT_FALSE(QFileInfo::exists(m_package + QStringLiteral("/exported")));
}

// An export never writes into the open package, nor replaces it or anything in it: a target
// that is the package, lies in it or leads into it (through a link or ".."), and a target
// holding the package where an exported item would replace it or a folder around it, are
// refused with a message before anything is asked or touched, even with "Don't ask again"
// set. Exporting into the package with a resource named "project.xml" replaced the project
// file; a folder named "kr-web" deleted the web folder; one named like the package, exported
// beside it, deleted the whole package.
TEST_F(KRProjectExportTest, ExportIntoOrOverThePackageIsRefusedBeforeAnythingChanges)
{
    const QString holder = KRTest::makeTempDir(QStringLiteral("holder")) + QStringLiteral("/Projects");
    const QString package = holder + QStringLiteral("/Shop.krproj");
    m_project = std::make_shared<KRBuildTestProject>(package, KRBuildTest::sampleProjectXML());
    KRBuildTest::populateSampleProject(*m_project);
    KRTest::writeFile(package + QStringLiteral("/project.xml"), "<KRProjectDocument/>\n");
    const QString web = m_project->webFolderPath();
    // Resources named like what they would replace.
    KRTest::writeFile(web + QStringLiteral("/project.xml"), "not the project");
    KRTest::writeFile(web + QStringLiteral("/kr-web/note.txt"), "not the web folder");
    KRTest::writeFile(web + QStringLiteral("/Shop.krproj/note.txt"), "not the package");
    KRTest::writeFile(web + QStringLiteral("/Projects/note.txt"), "not the folder holding it");
    KRUserDefaults::sharedInstance().setValue(kSuppressKey, true);

    KRProjectBuilder builder(m_project);
    builder.setExportMode(true);
    builder.setDeviceInformationJSON(deviceMapJSON);
    ASSERT_TRUE(builder.build().ok());
    const QString top = QFileInfo(holder).absolutePath();
    const QString before = KRBuildTest::dumpFolder(top, deviceMapJSON, true);
    ASSERT_TRUE(QFile::link(package, top + QStringLiteral("/to-package")));
    ASSERT_TRUE(QFile::link(holder, top + QStringLiteral("/to-holder")));
    const QString withLinks = KRBuildTest::dumpFolder(top, deviceMapJSON, true);
    const auto refused = [&](const QString &folder, const QString &message) {
        SCOPED_TRACE(folder.toStdString());
        m_alerts->clear();
        EXPECT_FALSE(builder.exportProjectToURL(QUrl::fromLocalFile(folder)));
        ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(m_alerts->shownAlerts().first().messageText.contains(message))
            << m_alerts->shownAlerts().first().messageText.toStdString();
        EXPECT_EQ(m_alerts->shownAlerts().first().buttonTitles, QStringList{QStringLiteral("OK")});
        EXPECT_EQ(KRBuildTest::dumpFolder(top, deviceMapJSON, true).toStdString(), withLinks.toStdString());
    };
    // Into the package, or a folder in it (made or not), as written, through a link or "..".
    for (const QString &folder : {package, package + QStringLiteral("/"), package + QStringLiteral("/site/new"),
                                  holder + QStringLiteral("/../Projects/Shop.krproj"), top + QStringLiteral("/to-package"),
                                  top + QStringLiteral("/to-holder/Shop.krproj/site"),
                                  web + QStringLiteral("/../site")})
        refused(folder, QStringLiteral("into its own package"));
    // Into the folder holding the package, or the one holding that, where a resource would
    // replace the package or the folder around it.
    for (const QString &folder : {holder, top, top + QStringLiteral("/to-holder"), package + QStringLiteral("/..")})
        refused(folder, QStringLiteral("can\u2019t be exported into"));
    EXPECT_TRUE(m_alerts->shownAlerts().first().informativeText.contains(QStringLiteral("would replace the project")));

    // Or where a folder on the way is a link into the package.
    ASSERT_TRUE(QDir(web + QStringLiteral("/Shop.krproj")).removeRecursively());
    ASSERT_TRUE(QFile::remove(top + QStringLiteral("/to-package")));
    ASSERT_TRUE(QFile::remove(top + QStringLiteral("/to-holder")));
    m_project->setSetting(QStringLiteral("exportLocalJQuerySources"), QStringLiteral("true"));
    ASSERT_TRUE(QFile::link(package + QStringLiteral("/kr-web"), holder + QStringLiteral("/jquery-1.9.0")));
    const QString withLink = KRBuildTest::dumpFolder(top, deviceMapJSON, true);
    m_alerts->clear();
    EXPECT_FALSE(builder.exportProjectToURL(QUrl::fromLocalFile(holder)));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(m_alerts->shownAlerts().first().informativeText.contains(QStringLiteral("jquery-1.9.0/jquery.min.js")));
    EXPECT_EQ(KRBuildTest::dumpFolder(top, deviceMapJSON, true).toStdString(), withLink.toStdString());
    ASSERT_TRUE(QFile::remove(holder + QStringLiteral("/jquery-1.9.0")));
    m_project->setSetting(QStringLiteral("exportLocalJQuerySources"), QStringLiteral("false"));

    // Without such a resource or link, the folder holding the package is a folder like any other.
    m_alerts->clear();
    EXPECT_TRUE(builder.exportProjectToURL(QUrl::fromLocalFile(holder)));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(QFileInfo::exists(holder + QStringLiteral("/settings.html")));
    EXPECT_EQ(KRTest::readFile(holder + QStringLiteral("/project.xml")), QByteArray("not the project"));
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/project.xml")), QByteArray("<KRProjectDocument/>\n"));
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/kr-web/Projects/note.txt")), QByteArray("not the folder holding it"));
    EXPECT_TRUE(before.contains(QStringLiteral("Projects/Shop.krproj/kr-web/settings.html")));
}

// A folder typed by name in the export's dialog is made when the folder it names is there, and
// refused with a message naming the missing one when it is not. An export never replaces,
// removes or writes over what another Korvane project holds: a resource folder named like a
// project beside it (asked about, then replaced, and with "Don't ask again" without a word), a
// folder holding a project, one holding a project file, and items inside a project, are refused
// before anything is touched. A file merely named "project.xml" makes no folder a project.
TEST_F(KRProjectExportTest, ANewFolderIsMadeWhereItsParentIsAndNoProjectIsReplaced)
{
    const QString site = m_target + QStringLiteral("/Site");
    ASSERT_TRUE(exportTo(site));
    EXPECT_TRUE(QFileInfo::exists(site + QStringLiteral("/settings.html")));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();

    // Projects beside the export, and in it.
    const QByteArray projectFile = "<?xml version=\"1.0\"?>\n<KRProjectDocument appVersion=\"1.0.0\"/>\n";
    KRTest::writeFile(m_target + QStringLiteral("/Tips.krproj/project.xml"), projectFile);
    KRTest::writeFile(m_target + QStringLiteral("/Tips.krproj/kr-web/settings.html"), "the other project's page");
    KRTest::writeFile(m_target + QStringLiteral("/Projects/Old.krproj/project.xml"), projectFile);
    KRTest::writeFile(m_target + QStringLiteral("/Letters/project.xml"), projectFile);
    KRTest::writeFile(m_target + QStringLiteral("/Letters/letter.txt"), "dear");
    const QString web = m_project->webFolderPath();
    KRUserDefaults::sharedInstance().setValue(kSuppressKey, true);
    const auto refused = [&](const QString &resource, const QString &folder, const QString &project) {
        SCOPED_TRACE(resource.toStdString());
        if (!resource.isEmpty())
            KRTest::writeFile(web + QLatin1Char('/') + resource + QStringLiteral("/note.txt"), "a resource");
        const QString before = KRBuildTest::dumpFolder(m_target, deviceMapJSON, true);
        m_alerts->clear();
        EXPECT_FALSE(exportTo(folder));
        ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
        const KRAlert &alert = m_alerts->shownAlerts().first();
        EXPECT_TRUE(alert.messageText.contains(QStringLiteral("can\u2019t be exported into"))) << alert.messageText.toStdString();
        EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("\u201C%1\u201D").arg(project)))
            << alert.informativeText.toStdString();
        EXPECT_TRUE(alert.informativeText.contains(QStringLiteral("never replaces a project")));
        EXPECT_EQ(KRBuildTest::dumpFolder(m_target, deviceMapJSON, true).toStdString(), before.toStdString());
        if (!resource.isEmpty())
            EXPECT_TRUE(QDir(web + QLatin1Char('/') + resource).removeRecursively());
    };
    refused(QStringLiteral("Tips.krproj"), m_target, m_target + QStringLiteral("/Tips.krproj"));
    refused(QStringLiteral("Projects"), m_target, m_target + QStringLiteral("/Projects/Old.krproj"));
    refused(QStringLiteral("Letters"), m_target, m_target + QStringLiteral("/Letters"));
    refused({}, m_target + QStringLiteral("/Tips.krproj/kr-web"), m_target + QStringLiteral("/Tips.krproj"));

    // A folder holding a file named "project.xml" that is no project is exported over.
    KRTest::writeFile(web + QStringLiteral("/Notes/note.txt"), "a resource");
    KRTest::writeFile(m_target + QStringLiteral("/Notes/project.xml"), "my own notes");
    m_alerts->clear();
    EXPECT_TRUE(exportTo(m_target));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(m_target + QStringLiteral("/Notes/project.xml")));
    EXPECT_EQ(KRTest::readFile(m_target + QStringLiteral("/Tips.krproj/kr-web/settings.html")),
              QByteArray("the other project's page"));
    EXPECT_EQ(KRTest::readFile(m_target + QStringLiteral("/Letters/letter.txt")), QByteArray("dear"));

    const QString nowhere = m_target + QStringLiteral("/Missing/Site");
    m_alerts->clear();
    EXPECT_FALSE(exportTo(nowhere));
    ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_alerts->shownAlerts().first().messageText.toStdString(),
              "The folder \u201CSite\u201D can\u2019t be made.");
    EXPECT_TRUE(m_alerts->shownAlerts().first().informativeText.contains(m_target + QStringLiteral("/Missing")));
    EXPECT_FALSE(QFileInfo::exists(m_target + QStringLiteral("/Missing")));

    // A folder replaced by a resource of its name, with a bind mount of the same file system in
    // it: what is mounted there keeps what it holds (it was emptied), and the export says why it stopped.
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    KRTest::writeFile(outside + QStringLiteral("/keep.txt"), "keep");
    KRTest::writeFile(web + QStringLiteral("/Shared/note.txt"), "a resource");
    const QString mounted = m_target + QStringLiteral("/Shared/mounted");
    QDir().mkpath(mounted);
    if (::mount(QFile::encodeName(outside).constData(), QFile::encodeName(mounted).constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "this system refuses a bind mount here: " << std::strerror(errno);
    m_alerts->clear();
    const bool exported = exportTo(m_target);
    ::umount2(QFile::encodeName(mounted).constData(), MNT_DETACH);
    EXPECT_FALSE(exported);
    EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));
    ASSERT_FALSE(m_alerts->shownAlerts().isEmpty());
    EXPECT_TRUE(m_alerts->shownAlerts().last().informativeText.contains(QStringLiteral("another mounted file system")))
        << m_alerts->shownAlerts().last().informativeText.toStdString();
}

// An export leaves the web folder as the last build made it, byte for byte: a running preview
// serves that folder, and an export built there took the preview's server pages, scripts and
// library links away (its pages linked the hosted libraries) until the next build. Nor does an
// export ever write into another Korvane project: a package, a folder holding a project file, a
// folder inside either or a new folder to be made inside either is refused, the first time and
// again, with "Don't ask again" or without, with a message saying that the folder is a project
// or lies inside one, and nothing there changes. The first export there wrote the site inside
// the project (only items already there were looked at), and one into a folder holding an
// earlier export's files was refused naming one of those files.
TEST_F(KRProjectExportTest, ExportLeavesTheServedWebFolderAndEveryProjectAsTheyAre)
{
    const QString web = m_project->webFolderPath();
    {
        KRProjectBuilder preview(m_project);
        preview.setDeviceInformationJSON(deviceMapJSON);
        ASSERT_TRUE(preview.build().ok());
    }
    ASSERT_TRUE(QFileInfo::exists(web + QStringLiteral("/order.krml")));
    const QString served = KRBuildTest::dumpFolder(web, deviceMapJSON, true);

    // What the export of a process that ended midway left behind, and what one still going on
    // in another process has, where the export is built.
    const QString stages = KRPaths::cachesDirectory() + QStringLiteral("/Exports");
    QProcess ended;
    ended.start(QStringLiteral("/bin/sleep"), {QStringLiteral("0.01")});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 endedID = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const QString abandoned = stages + QStringLiteral("/%1-abandoned").arg(endedID);
    KRTest::writeFile(abandoned + QStringLiteral("/page1.html"), "what a crashed export left");
    QProcess running;
    running.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(running.waitForStarted());
    const QString going = stages + QStringLiteral("/%1-going").arg(running.processId());
    KRTest::writeFile(going + QStringLiteral("/page1.html"), "an export under way");

    const QString site = m_target + QStringLiteral("/Site");
    ASSERT_TRUE(exportTo(site));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty()) << questions().join(QLatin1Char('\n')).toStdString();
    running.kill();
    running.waitForFinished();
    EXPECT_FALSE(QFileInfo::exists(abandoned));
    EXPECT_EQ(KRTest::readFile(going + QStringLiteral("/page1.html")), "an export under way");
    QDir(going).removeRecursively();
    EXPECT_EQ(KRBuildTest::dumpFolder(web, deviceMapJSON, true).toStdString(), served.toStdString());
    // What was exported is the export's build: the server page as a plain page, an index page.
    for (const char *name : {"order.html", "index.html", "settings.html", "KR-user-scripts.js", "app.css", "images/logo.png"})
        EXPECT_TRUE(QFileInfo::exists(site + QLatin1Char('/') + QLatin1String(name))) << name;
    EXPECT_FALSE(QFileInfo::exists(site + QStringLiteral("/order.krml")));
    EXPECT_FALSE(m_project->exportMode());
    // The folder the export was built in is gone.
    EXPECT_TRUE(QDir(KRPaths::cachesDirectory() + QStringLiteral("/Exports"))
                    .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));

    // Other projects: a package, and a folder holding a project file.
    const QString shelf = KRTest::makeTempDir(QStringLiteral("shelf"));
    const QByteArray projectFile = "<?xml version=\"1.0\"?>\n<KRProjectDocument appVersion=\"1.0.0\"><KRProject/>"
                                   "<KRPages><KRPage id=\"page1\"/></KRPages></KRProjectDocument>\n";
    const QString tips = shelf + QStringLiteral("/Tips.krproj");
    const QString letters = shelf + QStringLiteral("/Letters");
    KRTest::writeFile(tips + QStringLiteral("/project.xml"), projectFile);
    KRTest::writeFile(tips + QStringLiteral("/kr-web/page1.html"), "the other project's page");
    KRTest::writeFile(letters + QStringLiteral("/project.xml"), projectFile);
    KRTest::writeFile(letters + QStringLiteral("/drafts/letter.txt"), "dear");
    // An earlier export's files where a second export would go.
    const auto holdEarlierExport = [&](const QString &folder) {
        for (QDirIterator it(site, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString file = it.next();
            KRTest::writeFile(folder + QLatin1Char('/') + QDir(site).relativeFilePath(file), KRTest::readFile(file));
        }
    };
    struct Target
    {
        QString folder;
        QString said; // what the message says of the folder
    };
    const QList<Target> targets = {
        {tips, QStringLiteral("\u201C%1\u201D is a Korvane project").arg(tips)},
        {letters, QStringLiteral("\u201C%1\u201D is a Korvane project").arg(letters)},
        {tips + QStringLiteral("/kr-web"),
         QStringLiteral("\u201C%1/kr-web\u201D lies inside the Korvane project \u201C%1\u201D").arg(tips)},
        {letters + QStringLiteral("/drafts"),
         QStringLiteral("\u201C%1/drafts\u201D lies inside the Korvane project \u201C%1\u201D").arg(letters)},
        {tips + QStringLiteral("/site"),
         QStringLiteral("\u201C%1/site\u201D lies inside the Korvane project \u201C%1\u201D").arg(tips)},
        {letters + QStringLiteral("/new/deeper"),
         QStringLiteral("\u201C%1/new/deeper\u201D lies inside the Korvane project \u201C%1\u201D").arg(letters)},
    };
    for (const bool earlierExport : {false, true}) {
        if (earlierExport) {
            holdEarlierExport(tips);
            holdEarlierExport(letters + QStringLiteral("/drafts"));
        }
        for (const Target &target : targets) {
            for (const bool dontAsk : {false, true}) {
                KRUserDefaults::sharedInstance().setValue(kSuppressKey, dontAsk);
                const QString before = KRBuildTest::dumpFolder(shelf, deviceMapJSON, true);
                for (int attempt = 1; attempt <= 2; ++attempt) {
                    SCOPED_TRACE(QStringLiteral("%1, don't ask again %2, attempt %3, earlier export there %4")
                                     .arg(target.folder).arg(dontAsk).arg(attempt).arg(earlierExport)
                                     .toStdString());
                    m_alerts->clear();
                    EXPECT_FALSE(exportTo(target.folder));
                    ASSERT_EQ(m_alerts->shownAlerts().size(), 1) << questions().join(QLatin1Char('\n')).toStdString();
                    const KRAlert &alert = m_alerts->shownAlerts().first();
                    EXPECT_EQ(alert.messageText.toStdString(),
                              QStringLiteral("The project can\u2019t be exported into \u201C%1\u201D.")
                                  .arg(QFileInfo(target.folder).fileName())
                                  .toStdString());
                    EXPECT_EQ(alert.informativeText.toStdString(),
                              (target.said + QStringLiteral(", and an export never replaces a project or writes into "
                                                            "one. Choose a folder outside it."))
                                  .toStdString());
                    EXPECT_EQ(alert.buttonTitles, QStringList{QStringLiteral("OK")});
                    EXPECT_EQ(KRBuildTest::dumpFolder(shelf, deviceMapJSON, true).toStdString(), before.toStdString());
                }
            }
        }
    }
    EXPECT_EQ(KRBuildTest::dumpFolder(web, deviceMapJSON, true).toStdString(), served.toStdString());
}

TEST_F(KRProjectExportTest, LibraryRecordsNameTheirPathBelowTheLibraryFolder)
{
    KRProjectBuilder builder(m_project);
    QList<std::shared_ptr<KRProjectResource>> records;
    builder.addResourcesFromPath(QStringLiteral("jquery.mobile-1.4.0"), records);
    builder.addResourcesFromPath(QStringLiteral("missing.js"), records);
    builder.addResourcesFromPath(QStringLiteral("../outside"), records);
    QStringList names;
    for (const auto &record : records) {
        names.append(record->name());
        EXPECT_TRUE(record->fullPath().endsWith(QStringLiteral("local-server/") + record->name()));
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("jquery.mobile-1.4.0/images/ajax-loader.gif"),
                                  QStringLiteral("jquery.mobile-1.4.0/jquery.mobile-1.4.0.min.js"),
                                  QStringLiteral("jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css"),
                                  QStringLiteral("missing.js")}));
}

TEST_F(KRProjectExportTest, MissingLibraryFileStopsTheExportWithAnError)
{
    m_project->setSetting(QStringLiteral("exportLocalJQuerySources"), QStringLiteral("true"));
    const QString source = KRResources::pathForResource(QStringLiteral("local-server/jquery-1.9.0/jquery.min.js"));
    const QByteArray original = KRTest::readFile(source);
    QFile::remove(source);
    const bool exported = exportTo(m_target);
    KRTest::writeFile(source, original);
    EXPECT_FALSE(exported);
    ASSERT_FALSE(m_alerts->shownAlerts().isEmpty());
    EXPECT_TRUE(m_alerts->shownAlerts().last().messageText.contains(QStringLiteral("jquery.min.js")));
    EXPECT_FALSE(QFileInfo::exists(m_target + QStringLiteral("/jquery.mobile-1.4.0")));
}

} // namespace

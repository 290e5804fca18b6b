#include "KRModelTestFixtures.h"
#include "KRPageTestSupport.h"

#include <core/KRFileManagerAdditions.h>
#include <model/KRDocumentWindowController.h>
#include <model/KRFunction.h>
#include <model/KRProject.h>
#include <model/KRWebFolder.h>
#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>

#include <KRTestSupport.h>
#include <KRXMLAllocationGuard.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

namespace {

QString makePackage(const QByteArray &projectXML)
{
    const QString package = KRTest::makeTempDir() + QStringLiteral("/P.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    if (!projectXML.isNull())
        KRTest::writeFile(package + QStringLiteral("/project.xml"), projectXML);
    return package;
}

QByteArray projectVersion(const QByteArray &version)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument" + version
           + "><KRProject/><KRPages/></KRProjectDocument>\n";
}

TEST(DocumentVersion, NumericComparison)
{
    EXPECT_EQ(KRDocument::compareVersions(QStringLiteral("1.10"), QStringLiteral("1.9")), 1);
    EXPECT_EQ(KRDocument::compareVersions(QStringLiteral("1.9"), QStringLiteral("1.10")), -1);
    EXPECT_EQ(KRDocument::compareVersions(QStringLiteral("0.1.0"), QStringLiteral("0.1.0")), 0);
    EXPECT_EQ(KRDocument::compareVersions(QStringLiteral("1.01"), QStringLiteral("1.1")), 0);
    EXPECT_EQ(KRDocument::compareVersions(QStringLiteral("1.0.1"), QStringLiteral("1.0")), 1);
    EXPECT_EQ(KRDocument::compareVersions(QStringLiteral("99999999999999999999"), QStringLiteral("2")), 1);
}

class DocumentOpen : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("2.3.4"));
        alerts = std::make_shared<KRScriptedAlertService>();
        previous = KRAlertService::setCurrent(alerts);
    }
    void TearDown() override
    {
        KRAlertService::setCurrent(previous);
        QCoreApplication::setApplicationVersion(QString());
    }
    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRAlertService> previous;
};

TEST_F(DocumentOpen, VersionCheck)
{
    EXPECT_TRUE(KRDocument::openPackage(makePackage(projectVersion(" appVersion=\"2.3.4\""))).ok());
    EXPECT_TRUE(KRDocument::openPackage(makePackage(projectVersion(" appVersion=\"2.3.4.99\""))).ok()); // fourth ignored
    EXPECT_TRUE(KRDocument::openPackage(makePackage(projectVersion(""))).ok());
    EXPECT_TRUE(KRDocument::openPackage(makePackage(projectVersion(" appVersion=\"2.3\""))).ok());
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    const auto newer = KRDocument::openPackage(makePackage(projectVersion(" appVersion=\"3.0.0\"")));
    ASSERT_FALSE(newer.ok());
    EXPECT_EQ(newer.error().code(), KRDocument::NewerVersionCode);
    EXPECT_TRUE(newer.error().userInfo().value(QStringLiteral("alertShown")).toBool());
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("Unsupported project version."));
    EXPECT_EQ(alerts->shownAlerts().first().informativeText,
              QStringLiteral("This document was created by a newer version of Korvane and cannot be opened.  "
                             "Please update your version of Korvane."));
    EXPECT_FALSE(KRDocument::openPackage(makePackage(projectVersion(" appVersion=\"2.10\""))).ok());
}

TEST_F(DocumentOpen, PackageErrors)
{
    const auto missing = KRDocument::openPackage(makePackage(QByteArray()));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().domain(), QStringLiteral("Project Error"));
    EXPECT_EQ(missing.error().code(), 1);
    EXPECT_TRUE(missing.error().message().endsWith(
        QStringLiteral(" is not a Korvane project: the folder has no project.xml.")))
        << missing.error().message().toStdString();
    const auto broken = KRDocument::openPackage(makePackage("<KRProjectDocument><KRPages>"));
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().domain(), KRXMLDocument::errorDomain);
    // Moved, renamed or deleted since it was listed: said to be gone, not to be no project.
    const auto gone = KRDocument::openPackage(KRTest::makeTempDir() + QStringLiteral("/absent.krproj"));
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error().code(), KRDocument::NotThereCode);
    EXPECT_TRUE(gone.error().message().startsWith(QStringLiteral("“absent.krproj” is not there any more: nothing is at /")))
        << gone.error().message().toStdString();
}

// A web folder that is a link out of its package, or to nothing, is refused when the package
// opens, before anything is read or written: merely opening a project with legacy themes
// wrote their style sheets where the link led. A link to a folder of the package opens.
TEST_F(DocumentOpen, WebFolderLeadingOutOfThePackageIsRefused)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument><KRProject/>"
                           "<KRPages><KRPage id=\"page1\"/></KRPages><KRThemes><KRProjectTheme name=\"legacy\">"
                           ".ui-btn{} .ui-body-a{} .ui-bar-a{} .ui-shadow{}</KRProjectTheme></KRThemes></KRProjectDocument>\n";
    const QString package = makePackage(xml);
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    const QString web = package + QStringLiteral("/kr-web");
    ASSERT_TRUE(QDir(web).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, web));
    const auto opened = KRDocument::openPackage(package);
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error().domain(), QLatin1String(KRWebFolder::ErrorDomain));
    EXPECT_EQ(opened.error().code(), KRWebFolder::OutsidePackage);
    EXPECT_TRUE(opened.error().message().contains(QStringLiteral("outside the project package")))
        << opened.error().message().toStdString();
    EXPECT_TRUE(opened.error().message().contains(QFileInfo(outside).canonicalFilePath()));
    EXPECT_TRUE(QDir(outside).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));

    ASSERT_TRUE(QFile::remove(web));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/later"), web)); // leads nowhere, yet
    EXPECT_EQ(KRDocument::openPackage(package).error().code(), KRWebFolder::OutsidePackage);
    ASSERT_TRUE(QFile::remove(web));
    ASSERT_TRUE(QFile::link(QStringLiteral("../"), web)); // the folder holding the package
    EXPECT_EQ(KRDocument::openPackage(package).error().code(), KRWebFolder::OutsidePackage);

    ASSERT_TRUE(QFile::remove(web));
    ASSERT_TRUE(QDir().mkpath(package + QStringLiteral("/site")));
    ASSERT_TRUE(QFile::link(QStringLiteral("site"), web));
    const auto inside = KRDocument::openPackage(package);
    EXPECT_TRUE(inside.ok()) << inside.error().toString().toStdString();
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
}

TEST(Document, UntitledDocumentsStartFromTheTemplate)
{
    const auto document = KRDocument::makeUntitled();
    ASSERT_TRUE(document.ok());
    EXPECT_TRUE(document.value()->fileURL().isEmpty());
    const KRXMLNode root = document.value()->xmlDocument().rootElement();
    EXPECT_EQ(root.firstElementForXPath(QStringLiteral("//KRProject")).attribute(QStringLiteral("JQMVersion")),
              QStringLiteral("1.4"));
    EXPECT_FALSE(root.firstElementForXPath(QStringLiteral("//KRPages/KRPage")).isNull());
    EXPECT_FALSE(document.value()->save().ok()); // needs a package first
    const QString package = KRTest::makeTempDir() + QStringLiteral("/New.krproj");
    ASSERT_TRUE(document.value()->saveToPackage(package).ok());
    EXPECT_TRUE(QFileInfo(package + QStringLiteral("/kr-web")).isDir());
    EXPECT_TRUE(KRDocument::openPackage(package).ok());
}

// Mixed content and the white space of function sources survive a save byte for byte, and
// an edit changes only what it edits.
TEST(Document, SaveRoundTripKeepsTheFileAsWritten)
{
    const QByteArray original =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<KRProjectDocument appVersion=\"1.0.0\">\n  <!-- kept -->\n  <KRProject showGrid=\"false\"/>\n"
        "  <KRPages>\n    <KRPage id=\"page1\" title=\"\" onLoad=\"\"><KRContents>\n"
        "      <KRFunction id=\"f\" serverFunction=\"No\" arguments=\"event\">\n\t  // body &amp; more\n  \n</KRFunction>\n"
        "      <KRTestControl id=\"d\" top=\"\" left=\"\" text=\"\" count=\"\" enabled=\"\" raw=\"\" onClick=\"\" custom=\"\" both=\"\">"
        "div text <KRContents><KRTestControl id=\"e\" top=\"\" left=\"\" text=\"&lt;b&gt;\" count=\"\" enabled=\"\" raw=\"\""
        " onClick=\"\" custom=\"\"/></KRContents> tail</KRTestControl>\n"
        "      <![CDATA[x]]>\n    </KRContents></KRPage>\n  </KRPages>\n</KRProjectDocument>\n";
    auto project = krOpenTestProject(KRTest::makeTempDir(), original, true);
    ASSERT_TRUE(project);
    const auto document = project->krDocument();
    const QString file = document->fileURL() + QStringLiteral("/project.xml");
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(QString::fromUtf8(KRTest::readFile(file)), QString::fromUtf8(original));

    const auto page = project->testPages().first();
    const auto function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(QStringLiteral("f")));
    EXPECT_EQ(function->kr_source(), QStringLiteral("\n\t  // body & more\n  \n"));
    function->setKr_source(QStringLiteral("  \n\treturn 1;  \n"));
    page->objectForID(QStringLiteral("d"))->setValue(QStringLiteral("kr_content"), QStringLiteral("new text"));
    ASSERT_TRUE(document->save().ok());
    QByteArray expected = original;
    expected.replace("\n\t  // body &amp; more\n  \n", "  \n\treturn 1;  \n");
    expected.replace("div text <KRContents>", "new text<KRContents>");
    expected.replace("</KRContents> tail</KRTestControl>", "</KRContents></KRTestControl>");
    EXPECT_EQ(QString::fromUtf8(KRTest::readFile(file)), QString::fromUtf8(expected));
    auto reopened = krOpenTestProject(KRTest::makeTempDir(), KRTest::readFile(file), true);
    EXPECT_EQ(std::dynamic_pointer_cast<KRFunction>(reopened->testPages().first()->objectForID(QStringLiteral("f")))->kr_source(),
              QStringLiteral("  \n\treturn 1;  \n"));
}

QString appVersion(const QByteArray &xml)
{
    return KRXMLDocument::fromData(xml).value().rootElement().attribute(QStringLiteral("appVersion"));
}

TEST(Document, SaveWritesVersionNotifiesAndCleansTheDirtyState)
{
    QCoreApplication::setApplicationVersion(QStringLiteral("5.6.7"));
    auto project = krOpenTestProject(KRTest::makeTempDir(), projectVersion(" appVersion=\"1.0\""), true);
    const auto document = project->krDocument();
    QStringList order;
    auto &center = KRNotificationCenter::defaultCenter();
    KRObservationToken t1 = center.addObserver(KRWillSaveDocumentNotification, document->identity(), [&](const KRNotification &) {
        order << QStringLiteral("will:") + appVersion(KRTest::readFile(document->fileURL() + "/project.xml"));
    });
    KRObservationToken t2 = center.addObserver(KRDidSaveDocumentNotification, document->identity(), [&](const KRNotification &) {
        order << QStringLiteral("did:") + appVersion(KRTest::readFile(document->fileURL() + "/project.xml"));
    });
    KRObservationToken t3 = center.addObserver(KRWillCloseDocumentNotification, document->identity(),
                                               [&](const KRNotification &) { order << QStringLiteral("close"); });
    document->undoManager().registerUndo(document.get(), [] {});
    QCoreApplication::processEvents();
    EXPECT_TRUE(document->isDocumentEdited());
    ASSERT_TRUE(document->save().ok());
    EXPECT_FALSE(document->isDocumentEdited());
    document->close();
    EXPECT_EQ(order, (QStringList{"will:1.0", "did:5.6.7", "close"}));
    QCoreApplication::setApplicationVersion(QString());
}

class ResourceWindow : public KRDocumentWindowController
{
public:
    explicit ResourceWindow(std::shared_ptr<KRProjectBase> project) : m_project(std::move(project)) {}
    std::shared_ptr<KRProjectBase> project() const override { return m_project.lock(); }
    void editFunction(const std::shared_ptr<KRFunction> &) override {}
    void projectRunAction() override {}
    void createPageAction() override {}
    std::weak_ptr<KRProjectBase> m_project;
};

TEST(Document, EditedResourcesAreWrittenOnSave)
{
    auto project = krOpenTestProject(KRTest::makeTempDir(), projectVersion(""), true);
    const auto document = project->krDocument();
    KRDocument::setWindowControllerFactory([project](KRDocument &) { return std::make_unique<ResourceWindow>(project); });
    document->makeWindowControllers();
    KRDocument::setWindowControllerFactory(nullptr);
    const QString web = document->fileURL() + QStringLiteral("/kr-web");
    KRTest::writeFile(web + "/theme.css", "old css");
    KRTest::writeFile(web + "/js/app.js", "old js");
    KRTest::writeFile(web + "/keep.txt", "untouched");
    KRFileManager::setExtendedAttributeOfItemAtPath(web + "/theme.css", QStringLiteral("com.korvane.isTheme"), QStringLiteral("YES"));
    QVariantMap &cache = project->modifiedResourceCache();
    cache.insert(QStringLiteral("theme.css"), QByteArray("new css"));
    cache.insert(QStringLiteral("theme.css//enc"), 4);
    cache.insert(QStringLiteral("js/app.js"), QByteArray("new js"));
    KRResourceEntry js{QStringLiteral("js"), QStringLiteral("js"), true, {{QStringLiteral("app.js"), QStringLiteral("js/app.js"), false, {}}}};
    document->setResourceListProvider([js] {
        return QList<KRResourceEntry>{{QStringLiteral("theme.css"), QStringLiteral("theme.css"), false, {}},
                                      js, {QStringLiteral("keep.txt"), QStringLiteral("keep.txt"), false, {}}};
    });
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(web + "/theme.css"), QByteArray("new css"));
    EXPECT_EQ(KRTest::readFile(web + "/js/app.js"), QByteArray("new js"));
    EXPECT_EQ(KRTest::readFile(web + "/keep.txt"), QByteArray("untouched"));
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(web + "/theme.css", QStringLiteral("com.korvane.isTheme")), QString());
    EXPECT_TRUE(cache.isEmpty()); // written entries leave the cache
}

TEST(SpecialUndoManager, RemovesOnlyItsTargetsActions)
{
    auto document = KRDocument::makeUntitled().value();
    KRUndoManager &undo = document->undoManager();
    KRSpecialUndoManager &special = document->specialUndoManager();
    EXPECT_EQ(&special, &document->specialUndoManager());
    int editorA = 0, editorB = 0, pageTarget = 0;
    special.registerUndo(&editorA, [] {});
    undo.registerUndo(&pageTarget, [] {});
    QCoreApplication::processEvents();
    special.registerUndo(&editorB, [] {});
    QCoreApplication::processEvents();
    EXPECT_EQ(undo.undoCount(), 2);
    special.specialRemoveAllActions(); // closing one editor tab clears every editor's text actions
    EXPECT_EQ(undo.undoCount(), 1);
    EXPECT_EQ(special.targetCount(), 2);
    special.removeAllActions();
    EXPECT_EQ(undo.undoCount(), 0);
}

// Every file below the folder (hidden ones too) with its bytes, by relative path.
QMap<QString, QByteArray> filesBelow(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); // no pipes
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(folder).relativeFilePath(path), KRTest::readFile(path));
    }
    return files;
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// A file as a write killed midway leaves it: its temporary name and the application's mark.
void plantAbandonedWrite(const QString &path, const QByteArray &bytes)
{
    KRTest::writeFile(path, bytes);
    ::setxattr(QFile::encodeName(path).constData(), "user.com.korvane.temporaryWrite", "1", 1, 0);
}

// The mark a Save As gives the package it builds (in the folder at path): the save's id, the
// name of the place it saves to and, when given, what it moved aside from there.
void plantSaveMark(const QString &path, const QByteArray &id, const QByteArray &place, const QString &movedAside = {})
{
    QByteArray text = "Korvane Save As\nid " + id + "\nplace " + place.toHex() + '\n';
    struct stat aside{};
    if (!movedAside.isEmpty() && ::lstat(QFile::encodeName(movedAside).constData(), &aside) == 0)
        text += "replaced " + QFile::encodeName(QFileInfo(movedAside).fileName()).toHex() + ' '
            + QByteArray::number(quint64(aside.st_dev)) + ' ' + QByteArray::number(quint64(aside.st_ino)) + '\n';
    KRTest::writeFile(path + QStringLiteral("/.kr-save-mark"), text);
}

// Makes the file (raw bytes of a path, whatever their encoding) with the bytes.
void writeRaw(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.toStdString();
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    ::close(fd);
}

QByteArray readRaw(const QByteArray &path)
{
    QFile file;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return QByteArray("(missing)");
    return file.readAll();
}

// A chain of folders below folder whose path is longer than PATH_MAX, with a file at its
// end; the open folder at the end (the caller closes it), or -1.
constexpr int deepLevels = 20;
QByteArray deepName(int level)
{
    return QByteArray(240, char('a' + level % 26));
}
int openDeep(const QString &folder, bool make)
{
    int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < deepLevels && fd >= 0; ++level) {
        if (make)
            ::mkdirat(fd, deepName(level).constData(), 0755);
        const int next = ::openat(fd, deepName(level).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    return fd;
}

// A project over a package holding resources in sub-folders, a hidden file and a file of its
// own beside project.xml, with an unsaved edit of a nested style sheet and a changed setting.
struct EditedPackage
{
    EditedPackage()
    {
        project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>")), true, &document);
        package = document->fileURL();
        const QString web = package + QStringLiteral("/kr-web");
        KRTest::writeFile(web + QStringLiteral("/images/logo.png"), QByteArray("\x89PNG\0\x01\xff", 7));
        KRTest::writeFile(web + QStringLiteral("/theme.css"), ".ui-btn{}");
        KRTest::writeFile(web + QStringLiteral("/css/deep/site.css"), "on disk");
        KRTest::writeFile(web + QStringLiteral("/.hidden"), "hidden");
        KRTest::writeFile(package + QStringLiteral("/notes.txt"), "my notes");
        QFile::link(QStringLiteral("../theme.css"), web + QStringLiteral("/images/link.css"));
        project->reloadResources();
        (void)project->resources();
        project->webFolder()->modifiedResourceCache().setContents(QStringLiteral("css/deep/site.css"), "edited", QString());
        project->setShowGrid(true);
        QCoreApplication::processEvents();
        originalFiles = filesBelow(package);
    }
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    QString package;
    QMap<QString, QByteArray> originalFiles;
};

TEST(DocumentSaveAs, CarriesTheWholePackageWithItsUnsavedEdits)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    QStringList moves;
    KRObservationToken token = p.document->observable().observe(
        QStringLiteral("fileURL"), [&](const void *, const QString &, const QVariant &, const QVariant &now) { moves << now.toString(); });
    // A pipe in the package (reading it would block) is left behind.
    ASSERT_EQ(::mkfifo(QFile::encodeName(p.package + QStringLiteral("/kr-web/pipe")).constData(), 0600), 0);
    const QString target = KRTest::makeTempDir() + QStringLiteral("/Copy.krproj");
    const auto saved = p.document->saveToPackage(target);
    ASSERT_TRUE(saved.ok()) << saved.error().toString().toStdString();
    EXPECT_EQ(p.document->fileURL(), target);
    EXPECT_EQ(moves, QStringList{target});
    EXPECT_FALSE(p.document->isDocumentEdited());
    EXPECT_TRUE(p.project->webFolder()->modifiedResourceCache().isEmpty());

    QMap<QString, QByteArray> expected = p.originalFiles;
    expected.insert(QStringLiteral("kr-web/css/deep/site.css"), "edited");
    expected.remove(QStringLiteral("project.xml"));
    QMap<QString, QByteArray> copied = filesBelow(target);
    EXPECT_TRUE(copied.take(QStringLiteral("project.xml")).contains("showGrid=\"true\""));
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(entriesOf(QFileInfo(target).path()), QStringList{QStringLiteral("Copy.krproj")}); // nothing left beside
    EXPECT_EQ(QFileInfo(target + QStringLiteral("/kr-web/images/link.css")).symLinkTarget(),
              target + QStringLiteral("/kr-web/theme.css"));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/kr-web/pipe")));
    // The old package is as it was: the edit went to the new one only.
    EXPECT_EQ(filesBelow(p.package), p.originalFiles);
    // Later saves go to the new place.
    p.project->setShowGrid(false);
    ASSERT_TRUE(p.document->save().ok());
    EXPECT_TRUE(KRTest::readFile(target + QStringLiteral("/project.xml")).contains("showGrid=\"false\""));
    EXPECT_EQ(filesBelow(p.package), p.originalFiles);

    // Another package at the place is replaced; a folder of the user's own is never.
    const QString other = KRTest::makeTempDir();
    KRTest::writeFile(other + QStringLiteral("/Old.krproj/project.xml"), "<old/>");
    KRTest::writeFile(other + QStringLiteral("/Old.krproj/kr-web/stale.js"), "stale");
    ASSERT_TRUE(p.document->saveToPackage(other + QStringLiteral("/Old.krproj")).ok());
    EXPECT_FALSE(QFileInfo::exists(other + QStringLiteral("/Old.krproj/kr-web/stale.js")));
    EXPECT_EQ(KRTest::readFile(other + QStringLiteral("/Old.krproj/kr-web/css/deep/site.css")), QByteArray("edited"));
    EXPECT_EQ(entriesOf(other), QStringList{QStringLiteral("Old.krproj")});
    KRTest::writeFile(other + QStringLiteral("/Mine/thesis.txt"), "years of work");
    const QString before = p.document->fileURL();
    EXPECT_FALSE(p.document->saveToPackage(other + QStringLiteral("/Mine")).ok());
    EXPECT_FALSE(p.document->saveToPackage(before + QStringLiteral("/kr-web/Inner.krproj")).ok());
    EXPECT_FALSE(p.document->saveToPackage(other).ok()); // the folder holding the package
    EXPECT_EQ(p.document->fileURL(), before);
    EXPECT_EQ(KRTest::readFile(other + QStringLiteral("/Mine/thesis.txt")), QByteArray("years of work"));
    EXPECT_EQ(entriesOf(other + QStringLiteral("/Mine")), QStringList{QStringLiteral("thesis.txt")});
}

// The copy carries the package's links that lead inside it, leading inside the copy; links
// that lead out of the package or nowhere stay behind, so the copy shares no file or folder
// with the original or anything else.
TEST(DocumentSaveAs, LinksLeadingOutOfThePackageStayBehind)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    KRTest::writeFile(outside + QStringLiteral("/shared.js"), "shared");
    const QString web = p.package + QStringLiteral("/kr-web");
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/shared.js"), web + QStringLiteral("/shared.js")));
    ASSERT_TRUE(QFile::link(outside, web + QStringLiteral("/shared-folder")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../../"), web + QStringLiteral("/images/up")));
    ASSERT_TRUE(QFile::link(QStringLiteral("nowhere"), web + QStringLiteral("/dangling")));
    ASSERT_TRUE(QFile::link(outside, p.package + QStringLiteral("/beside")));
    ASSERT_TRUE(QFile::link(QStringLiteral("kr-web/images"), p.package + QStringLiteral("/pictures")));

    const QString target = KRTest::makeTempDir() + QStringLiteral("/Copy.krproj");
    const auto saved = p.document->saveToPackage(target);
    ASSERT_TRUE(saved.ok()) << saved.error().toString().toStdString();
    EXPECT_EQ(QFileInfo(target + QStringLiteral("/kr-web/images/link.css")).symLinkTarget(),
              target + QStringLiteral("/kr-web/theme.css"));
    EXPECT_EQ(QFileInfo(target + QStringLiteral("/pictures")).symLinkTarget(), target + QStringLiteral("/kr-web/images"));
    for (const char *left : {"/kr-web/shared.js", "/kr-web/shared-folder", "/kr-web/images/up", "/kr-web/dangling", "/beside"}) {
        const QFileInfo item(target + QLatin1String(left));
        EXPECT_FALSE(item.exists() || item.isSymLink()) << left;
    }
    EXPECT_EQ(entriesOf(outside), QStringList{QStringLiteral("shared.js")});
    EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/shared.js")), QByteArray("shared"));
}

// Saving replaces a link at project.xml or at an edited resource with the file written; the
// file it led to, outside the package, is never written.
TEST(DocumentSave, LinksAreReplacedNeverWrittenThrough)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    KRTest::writeFile(outside + QStringLiteral("/victim.xml"), "<victim/>");
    KRTest::writeFile(outside + QStringLiteral("/victim.css"), "victim");
    const QString projectFile = p.package + QStringLiteral("/project.xml");
    const QString edited = p.package + QStringLiteral("/kr-web/css/deep/site.css");
    ASSERT_TRUE(QFile::remove(projectFile) && QFile::link(outside + QStringLiteral("/victim.xml"), projectFile));
    ASSERT_TRUE(QFile::remove(edited) && QFile::link(outside + QStringLiteral("/victim.css"), edited));

    const auto saved = p.document->save();
    ASSERT_TRUE(saved.ok()) << saved.error().toString().toStdString();
    EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/victim.xml")), QByteArray("<victim/>"));
    EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/victim.css")), QByteArray("victim"));
    EXPECT_FALSE(QFileInfo(projectFile).isSymLink());
    EXPECT_TRUE(KRTest::readFile(projectFile).contains("showGrid=\"true\""));
    EXPECT_FALSE(QFileInfo(edited).isSymLink());
    EXPECT_EQ(KRTest::readFile(edited), QByteArray("edited"));
}

// Save As onto the package itself, or into it, named through a linked folder, is refused
// and the package keeps everything it holds; a temporary file of an unfinished save is never
// copied.
TEST(DocumentSaveAs, ThePackageItselfThroughAnotherPathIsRefused)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    ASSERT_EQ(::mkfifo(QFile::encodeName(p.package + QStringLiteral("/pipe")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("notes.txt"), p.package + QStringLiteral("/alias.txt")));
    const QString linked = KRTest::makeTempDir(QStringLiteral("linked")) + QStringLiteral("/parent");
    ASSERT_TRUE(QFile::link(QFileInfo(p.package).absolutePath(), linked));
    const QString name = QFileInfo(p.package).fileName();

    for (const QString &target : {linked + QLatin1Char('/') + name, linked + QLatin1Char('/') + name + QStringLiteral("/kr-web/In.krproj")}) {
        const auto refused = p.document->saveToPackage(target);
        ASSERT_FALSE(refused.ok()) << target.toStdString();
        EXPECT_TRUE(refused.error().message().contains(QStringLiteral("cannot be saved as"))) << refused.error().message().toStdString();
    }
    EXPECT_EQ(p.document->fileURL(), p.package);
    EXPECT_TRUE(QFileInfo(p.package + QStringLiteral("/alias.txt")).isSymLink());
    struct stat pipe{};
    ASSERT_EQ(::lstat(QFile::encodeName(p.package + QStringLiteral("/pipe")).constData(), &pipe), 0);
    EXPECT_TRUE(S_ISFIFO(pipe.st_mode));
    QMap<QString, QByteArray> files = filesBelow(p.package);
    EXPECT_EQ(files.take(QStringLiteral("alias.txt")), QByteArray("my notes"));
    EXPECT_EQ(files, p.originalFiles);

    plantAbandonedWrite(p.package + QStringLiteral("/.kr-write-12ab"), "<half/>");
    plantAbandonedWrite(p.package + QStringLiteral("/kr-web/css/.kr-write-34cd"), "half");
    const QString target = KRTest::makeTempDir() + QStringLiteral("/Copy.krproj");
    ASSERT_TRUE(p.document->saveToPackage(target).ok());
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/.kr-write-12ab")));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/kr-web/css/.kr-write-34cd")));
}

// Save As carries what old archives and other tools put in a package: names that are not
// UTF-8, a sparse file (3 GB of nothing, which stays nothing on disk), folders nested past
// the path limit, and a file of the user's that merely looks like a temporary one.
TEST(DocumentSaveAs, CarriesOddNamesSparseFilesAndFoldersPastThePathLimit)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QByteArray web = QFile::encodeName(p.package + QStringLiteral("/kr-web"));
    writeRaw(web + "/images/caf\xe9.png", "from an old archive");
    ASSERT_EQ(::mkdir(web + "/d\xfcr", 0755), 0);
    writeRaw(web + "/d\xfcr/inside.txt", "inside");
    constexpr off_t sparseSize = off_t(3) << 30;
    {
        const int fd = ::open(web + "/empty.bin", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, sparseSize), 0);
        ::close(fd);
    }
    {
        const int deep = openDeep(QFile::decodeName(web), true);
        ASSERT_GE(deep, 0);
        const int fd = ::openat(deep, "end.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_EQ(::write(fd, "at the bottom", 13), 13);
        ::close(fd);
        ::close(deep);
    }
    KRTest::writeFile(p.package + QStringLiteral("/.kr-write-notes"), "the user's own");
    plantAbandonedWrite(p.package + QStringLiteral("/kr-web/.kr-write-5eed"), "<half/>");

    const QString target = KRTest::makeTempDir() + QStringLiteral("/Copy.krproj");
    const KRResult<void> saved = p.document->saveToPackage(target);
    ASSERT_TRUE(saved.ok()) << saved.error().message().toStdString();
    const QByteArray copy = QFile::encodeName(target + QStringLiteral("/kr-web"));
    EXPECT_EQ(readRaw(copy + "/images/caf\xe9.png"), QByteArray("from an old archive"));
    EXPECT_EQ(readRaw(copy + "/d\xfcr/inside.txt"), QByteArray("inside"));
    struct stat sparse{};
    ASSERT_EQ(::stat(copy + "/empty.bin", &sparse), 0);
    EXPECT_EQ(sparse.st_size, sparseSize);
    EXPECT_LT(qint64(sparse.st_blocks) * 512, qint64(1) << 20) << "the holes were written out";
    const int deep = openDeep(QFile::decodeName(copy), false);
    ASSERT_GE(deep, 0) << "the folders past the path limit were not carried";
    char bottom[32] = {};
    const int fd = ::openat(deep, "end.txt", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::read(fd, bottom, sizeof bottom), 13);
    EXPECT_STREQ(bottom, "at the bottom");
    ::close(fd);
    ::close(deep);
    EXPECT_EQ(KRTest::readFile(target + QStringLiteral("/.kr-write-notes")), QByteArray("the user's own"));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/kr-web/.kr-write-5eed")));

    for (const QString &package : {p.package, target})
        EXPECT_TRUE(KRFileManager::removeItemRecursively(package + QStringLiteral("/kr-web/") + QFile::decodeName(deepName(0))).ok());
}

// Save As runs killed midway leave the new package half-made beside its place, and the old
// one moved aside: opening the place, or saving to it, clears what is abandoned, puts an old
// package back when its place is empty, and leaves alone what a save still going on (in this
// or another process) holds, and what belongs to another place.
TEST(DocumentSaveAs, WhatKilledSavesLeftIsClearedWhenThePlaceIsNextUsed)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QString folder = KRTest::makeTempDir();
    const QString target = folder + QStringLiteral("/Copy.krproj");
    ASSERT_TRUE(p.document->saveToPackage(target).ok());
    const auto plantPackage = [](const QString &path) {
        KRTest::writeFile(path + QStringLiteral("/project.xml"), "<KRProjectDocument/>");
        QDir().mkpath(path + QStringLiteral("/kr-web"));
        writeRaw(QFile::encodeName(path) + "/kr-web/caf\xe9.png", "odd name");
    };
    const QString halfMade = folder + QStringLiteral("/.Copy.krproj.kr-save-00000000-0000-4000-8000-000000001111");
    const QString movedAside = folder + QStringLiteral("/.Copy.krproj.kr-replaced-00000000-0000-4000-8000-000000002222");
    const QString liveSave = folder + QStringLiteral("/.Copy.krproj.kr-save-00000000-0000-4000-8000-000000003333");
    const QString liveAside = folder + QStringLiteral("/.Copy.krproj.kr-replaced-00000000-0000-4000-8000-000000003333");
    const QString otherPlace = folder + QStringLiteral("/.Other.krproj.kr-save-00000000-0000-4000-8000-000000004444");
    const QString usersOwn = folder + QStringLiteral("/.Copy.krproj.kr-save-notes"); // no save's name
    for (const QString &path : {halfMade, movedAside, liveSave, liveAside, otherPlace, usersOwn})
        plantPackage(path);
    const auto idOf = [](const QString &path) { return path.right(36).toLatin1(); };
    plantSaveMark(halfMade, idOf(halfMade), "Copy.krproj");
    plantSaveMark(target, idOf(movedAside), "Copy.krproj", movedAside); // killed once it took the place
    plantSaveMark(liveSave, idOf(liveSave), "Copy.krproj", liveAside);
    plantSaveMark(otherPlace, idOf(otherPlace), "Other.krproj");
    // A save going on: it holds the lock on its new package.
    const int lock = ::open(QFile::encodeName(liveSave).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);

    const auto opened = KRDocument::openPackage(target);
    ASSERT_TRUE(opened.ok()) << opened.error().message().toStdString();
    EXPECT_EQ(entriesOf(folder), (QStringList{QStringLiteral(".Copy.krproj.kr-replaced-00000000-0000-4000-8000-000000003333"),
                                              QStringLiteral(".Copy.krproj.kr-save-00000000-0000-4000-8000-000000003333"),
                                              QStringLiteral(".Copy.krproj.kr-save-notes"),
                                              QStringLiteral(".Other.krproj.kr-save-00000000-0000-4000-8000-000000004444"), QStringLiteral("Copy.krproj")}));
    ::close(lock); // the save is gone now

    // The place empty, its old package moved aside by a save killed before the new package
    // took the place: the old package goes back into it, and a save replaces it as usual.
    const QString gone = folder + QStringLiteral("/Gone.krproj");
    const QString goneAside = folder + QStringLiteral("/.Gone.krproj.kr-replaced-00000000-0000-4000-8000-000000005555");
    plantPackage(goneAside);
    const QString goneSave = folder + QStringLiteral("/.Gone.krproj.kr-save-00000000-0000-4000-8000-000000005555");
    plantPackage(goneSave);
    plantSaveMark(goneSave, idOf(goneSave), "Gone.krproj", goneAside);
    ASSERT_TRUE(p.document->saveToPackage(gone).ok());
    ASSERT_TRUE(p.document->saveToPackage(target).ok());
    EXPECT_EQ(entriesOf(folder), (QStringList{QStringLiteral(".Copy.krproj.kr-save-notes"),
                                              QStringLiteral(".Other.krproj.kr-save-00000000-0000-4000-8000-000000004444"),
                                              QStringLiteral("Copy.krproj"), QStringLiteral("Gone.krproj")}));
    EXPECT_TRUE(KRTest::readFile(gone + QStringLiteral("/project.xml")).contains("showGrid=\"true\""));
}

// Copies that trust their source, and clean-ups by name. Another program's save replaces the
// package while Save As copies it: the save fails and says so, and leaves nothing. Beside the
// place, what merely looks like a killed save's leftover is the user's and stays, while a
// marked leftover goes; in the package, a temporary file marked only by its name (as on a file
// system without attributes) is not carried, and is removed on opening. A name as long as a
// name may be is saved to, and replaced. A project that a Save As killed between its two
// renames moved aside is put back when its place is opened.
TEST(DocumentSaveAs, CopiesCheckTheirSourceAndCleanUpsTouchOnlyWhatIsMarked)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QString folder = KRTest::makeTempDir();
    const QString target = folder + QStringLiteral("/Copy.krproj");

    // Replaced once the copy has begun, as another process's Save As into the same place does:
    // the package moved aside and removed, a new one in its place.
    bool swapped = false;
    KRFileManager::setCopyObserverForTesting([&](const QByteArray &) {
        if (std::exchange(swapped, true))
            return;
        const QString old = p.package + QStringLiteral(".old"), fresh = p.package + QStringLiteral(".new");
        KRTest::writeFile(fresh + QStringLiteral("/project.xml"), KRTest::readFile(p.package + QStringLiteral("/project.xml")));
        KRTest::writeFile(fresh + QStringLiteral("/kr-web/css/deep/site.css"), "saved by another");
        ASSERT_EQ(::rename(QFile::encodeName(p.package).constData(), QFile::encodeName(old).constData()), 0);
        ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(p.package).constData()), 0);
        ASSERT_TRUE(KRFileManager::removeItemRecursively(old).ok());
    });
    const auto partial = p.document->saveToPackage(target);
    KRFileManager::setCopyObserverForTesting({});
    ASSERT_TRUE(swapped);
    ASSERT_FALSE(partial.ok()) << "a copy of a package removed under it passed for a save";
    EXPECT_TRUE(partial.error().message().contains(QStringLiteral("changed while it was copied")))
        << partial.error().message().toStdString();
    EXPECT_EQ(p.document->fileURL(), p.package);
    EXPECT_EQ(entriesOf(folder), QStringList());

    // Beside the place: the user's own look-alikes, and a half-made package a killed save left.
    const QString lookAlike = folder + QStringLiteral("/.Copy.krproj.kr-save-00000000-0000-4000-8000-00000000aaaa");
    const QString lookAside = folder + QStringLiteral("/.Copy.krproj.kr-replaced-00000000-0000-4000-8000-00000000aaaa");
    KRTest::writeFile(lookAlike + QStringLiteral("/notes.txt"), "mine");
    KRTest::writeFile(lookAside + QStringLiteral("/notes.txt"), "mine too");
    const QString leftover = folder + QStringLiteral("/.Copy.krproj.kr-save-00000000-0000-4000-8000-00000000bbbb");
    KRTest::writeFile(leftover + QStringLiteral("/project.xml"), "<KRProjectDocument/>");
    plantSaveMark(leftover, leftover.right(36).toLatin1(), "Copy.krproj");
    // In the package: a temporary file of a killed write, marked by its name only.
    const QString web = p.package + QStringLiteral("/kr-web");
    const int webFolder = ::open(QFile::encodeName(web).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(webFolder, 0);
    const KRFileManager::TemporaryFile killed = KRFileManager::makeTemporaryFileIn(webFolder);
    ::close(webFolder);
    ASSERT_FALSE(killed.name.isEmpty());
    const QByteArray killedPath = QFile::encodeName(web) + '/' + killed.name;
    ::removexattr(killedPath.constData(), "user.com.korvane.temporaryWrite");
    const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, killedPath.constData(), old, 0), 0);
    KRTest::writeFile(web + QStringLiteral("/.kr-write-0123456789abcdef-0123456789abcdef"), "the user's own");

    const auto saved = p.document->saveToPackage(target);
    ASSERT_TRUE(saved.ok()) << saved.error().message().toStdString();
    EXPECT_EQ(entriesOf(folder), (QStringList{QFileInfo(lookAside).fileName(), QFileInfo(lookAlike).fileName(),
                                              QStringLiteral("Copy.krproj")}));
    EXPECT_EQ(KRTest::readFile(lookAlike + QStringLiteral("/notes.txt")), QByteArray("mine"));
    EXPECT_EQ(KRTest::readFile(lookAside + QStringLiteral("/notes.txt")), QByteArray("mine too"));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/notes.txt")));
    EXPECT_EQ(entriesOf(target + QStringLiteral("/kr-web")),
              (QStringList{QStringLiteral(".kr-write-0123456789abcdef-0123456789abcdef"), QStringLiteral("css")}));
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/.kr-save-mark")));
    EXPECT_TRUE(KRDocument::openPackage(p.package).ok());
    EXPECT_FALSE(QFileInfo::exists(QFile::decodeName(killedPath))) << "the killed write's file stayed";

    // A name of 255 bytes, the most a name may have: saved to, then replaced.
    const QString longName = QString(255 - 7, QLatin1Char('L')) + QStringLiteral(".krproj");
    const QString longTarget = folder + QLatin1Char('/') + longName;
    const auto saveLong = p.document->saveToPackage(longTarget);
    ASSERT_TRUE(saveLong.ok()) << saveLong.error().message().toStdString();
    ASSERT_TRUE(p.document->saveToPackage(target).ok());
    const auto replaceLong = p.document->saveToPackage(longTarget);
    ASSERT_TRUE(replaceLong.ok()) << replaceLong.error().message().toStdString();
    EXPECT_TRUE(KRDocument::openPackage(longTarget).ok());
    EXPECT_EQ(entriesOf(folder), (QStringList{QFileInfo(lookAside).fileName(), QFileInfo(lookAlike).fileName(),
                                              QStringLiteral("Copy.krproj"), longName}));

    // Killed between its two renames: the place empty, the project moved aside, the new package
    // half-made beside it. Opening the place puts the project back.
    const QString id = QStringLiteral("00000000-0000-4000-8000-00000000cccc");
    const QString movedAside = folder + QStringLiteral("/.Copy.krproj.kr-replaced-") + id;
    const QString halfMade = folder + QStringLiteral("/.Copy.krproj.kr-save-") + id;
    ASSERT_EQ(::rename(QFile::encodeName(target).constData(), QFile::encodeName(movedAside).constData()), 0);
    KRTest::writeFile(halfMade + QStringLiteral("/project.xml"), "<KRProjectDocument/>");
    plantSaveMark(halfMade, id.toLatin1(), "Copy.krproj", movedAside);
    const auto reopened = KRDocument::openPackage(target);
    ASSERT_TRUE(reopened.ok()) << reopened.error().message().toStdString();
    EXPECT_TRUE(KRTest::readFile(target + QStringLiteral("/project.xml")).contains("showGrid=\"true\""));
    EXPECT_EQ(entriesOf(folder), (QStringList{QFileInfo(lookAside).fileName(), QFileInfo(lookAlike).fileName(),
                                              QStringLiteral("Copy.krproj"), longName}));
}

// A save mark is a plain file, and so travels with a package someone sends, or beside it in
// the same archive as a folder named like a save's new package. Marks that name ".", "..", a
// folder of the user's (with its device and inode), an absolute path, another place's hidden
// name or a name no save gives, or that lie in a folder no save of the place makes, remove
// nothing: the folders around the project keep everything, and the project opens.
TEST(DocumentSaveAs, ForgedMarksRemoveNothingAroundThePackage)
{
    const QByteArray id = "00000000-0000-4000-8000-00000000f00d";
    struct Forgery
    {
        const char *what;
        QString markFolder;  // below Projects: the package, or a folder beside it
        QByteArray idInMark;
        QByteArray replaced; // as the mark names it
        QString statted;     // below the top folder: whose device and inode the mark carries
    };
    const QString staging = QStringLiteral(".Tips.krproj.kr-save-") + QString::fromLatin1(id);
    const QList<Forgery> forgeries = {
        {"the place's own folder", QStringLiteral("Tips.krproj"), id, ".", QStringLiteral("Home/Projects")},
        {"the folder above", QStringLiteral("Tips.krproj"), id, "..", QStringLiteral("Home")},
        {"a sibling", QStringLiteral("Tips.krproj"), id, "Letters", QStringLiteral("Home/Projects/Letters")},
        {"an absolute path", QStringLiteral("Tips.krproj"), id, "", QStringLiteral("Home/Projects/Letters")},
        {"another place's hidden name", QStringLiteral("Tips.krproj"), id, ".Other.krproj.kr-replaced-" + id,
         QStringLiteral("Home/Projects/.Other.krproj.kr-replaced-") + QString::fromLatin1(id)},
        {"a hidden name of no save's id", QStringLiteral("Tips.krproj"), "0000000000000000000000000000000000f0",
         ".Tips.krproj.kr-replaced-0000000000000000000000000000000000f0",
         QStringLiteral("Home/Projects/.Tips.krproj.kr-replaced-0000000000000000000000000000000000f0")},
        {"a staging-shaped folder naming the place's folder", staging, id, ".", QStringLiteral("Home/Projects")},
        {"a staging-shaped folder naming the folder above", staging, id, "..", QStringLiteral("Home")},
        {"a folder named as no save of the place names one", QStringLiteral(".T.kr-save-") + QString::fromLatin1(id), id, {}, {}},
    };
    for (const Forgery &forgery : forgeries) {
        SCOPED_TRACE(forgery.what);
        const QString top = KRTest::makeTempDir();
        const QString projects = top + QStringLiteral("/Home/Projects");
        const QString package = projects + QStringLiteral("/Tips.krproj");
        KRTest::writeFile(package + QStringLiteral("/project.xml"), projectVersion(""));
        QDir().mkpath(package + QStringLiteral("/kr-web"));
        KRTest::writeFile(projects + QStringLiteral("/Letters/letter.txt"), "dear");
        KRTest::writeFile(projects + QStringLiteral("/budget.ods"), "sums");
        KRTest::writeFile(top + QStringLiteral("/Home/thesis.txt"), "chapter one");
        QDir().mkpath(projects + QStringLiteral("/.Other.krproj.kr-replaced-") + QString::fromLatin1(id));
        QDir().mkpath(projects + QStringLiteral("/.Tips.krproj.kr-replaced-0000000000000000000000000000000000f0"));

        QByteArray text = "Korvane Save As\nid " + forgery.idInMark + "\nplace " + QByteArray("Tips.krproj").toHex() + '\n';
        if (!forgery.statted.isEmpty()) {
            struct stat status{};
            ASSERT_EQ(::lstat(QFile::encodeName(top + QLatin1Char('/') + forgery.statted).constData(), &status), 0);
            const QByteArray replaced = forgery.replaced.isEmpty() ? QFile::encodeName(top + QLatin1Char('/') + forgery.statted)
                                                                   : forgery.replaced;
            text += "replaced " + replaced.toHex() + ' ' + QByteArray::number(quint64(status.st_dev)) + ' '
                + QByteArray::number(quint64(status.st_ino)) + '\n';
        }
        KRTest::writeFile(projects + QLatin1Char('/') + forgery.markFolder + QStringLiteral("/.kr-save-mark"), text);
        const auto everything = [&top] {
            QStringList items;
            for (QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                items.append(it.next());
            items.sort();
            return items;
        };
        const QStringList before = everything();

        const auto opened = KRDocument::openPackage(package);
        EXPECT_TRUE(opened.ok()) << opened.error().message().toStdString();
        EXPECT_EQ(everything(), before);
    }
}

// A Save As that fails says what failed and where, with the system's reason.
TEST(DocumentSaveAs, FailuresSayWhatFailedWhereAndWhy)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const auto refused = p.document->saveToPackage(QStringLiteral("/proc/Copy.krproj"));
    ASSERT_FALSE(refused.ok());
    EXPECT_TRUE(refused.error().message().contains(QStringLiteral("/proc"))) << refused.error().message().toStdString();
    EXPECT_TRUE(refused.error().message().contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
        << refused.error().message().toStdString();

    QString deep = KRTest::makeTempDir();
    for (int level = 0; level < deepLevels; ++level)
        deep += QLatin1Char('/') + QFile::decodeName(deepName(level));
    const auto tooLong = p.document->saveToPackage(deep + QStringLiteral("/Long.krproj"));
    ASSERT_FALSE(tooLong.ok());
    EXPECT_TRUE(tooLong.error().message().contains(QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))))
        << tooLong.error().message().toStdString();
    EXPECT_EQ(p.document->fileURL(), p.package);
}

// A folder of the web folder replaced by a link after the project opened: saving its edited
// resource fails and writes nothing where the link leads.
TEST(DocumentSave, AResourceFolderSwappedForALinkIsNotWrittenThrough)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    const QString deep = p.package + QStringLiteral("/kr-web/css/deep");
    ASSERT_TRUE(QDir(deep).removeRecursively());
    ASSERT_TRUE(QFile::link(outside, deep));
    EXPECT_FALSE(p.document->save().ok());
    EXPECT_EQ(entriesOf(outside), QStringList());
}

TEST(DocumentSaveAs, AFailureLeavesTheDocumentWhereItWasAndSaveStillWorks)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    int moves = 0;
    KRObservationToken token = p.document->observable().observe(
        QStringLiteral("fileURL"), [&](const void *, const QString &, const QVariant &, const QVariant &) { ++moves; });
    const auto unchanged = [&] {
        EXPECT_EQ(p.document->fileURL(), p.package);
        EXPECT_EQ(moves, 0);
        EXPECT_TRUE(p.document->isDocumentEdited());
        EXPECT_TRUE(p.project->webFolder()->modifiedResourceCache().contains(QStringLiteral("css/deep/site.css")));
        EXPECT_EQ(filesBelow(p.package), p.originalFiles);
    };
    // A folder nothing can be created in (read-only for every user, root included).
    EXPECT_FALSE(p.document->saveToPackage(QStringLiteral("/proc/Copy.krproj")).ok());
    unchanged();

    // Half-way: the edited style sheet cannot be written at its place in the new package.
    const QString site = p.package + QStringLiteral("/kr-web/css/deep/site.css");
    QFile::remove(site);
    QDir().mkpath(site + QStringLiteral("/blocker"));
    const QString parent = KRTest::makeTempDir();
    EXPECT_FALSE(p.document->saveToPackage(parent + QStringLiteral("/Copy.krproj")).ok());
    EXPECT_TRUE(entriesOf(parent).isEmpty()) << entriesOf(parent).join(QLatin1Char(' ')).toStdString();
    QDir(site).removeRecursively();
    KRTest::writeFile(site, "on disk");
    unchanged();

    // The document can still be saved where it is.
    ASSERT_TRUE(p.document->save().ok());
    EXPECT_FALSE(p.document->isDocumentEdited());
    EXPECT_EQ(KRTest::readFile(site), QByteArray("edited"));
    EXPECT_TRUE(KRTest::readFile(p.package + QStringLiteral("/project.xml")).contains("showGrid=\"true\""));
}

TEST(DocumentSaveAs, FirstSaveOfAnUntitledProjectKeepsItsWebFolderFiles)
{
    krRegisterDesignTestClasses();
    auto document = KRDocument::makeUntitled().value();
    QString temporary;
    const QString package = KRTest::makeTempDir() + QStringLiteral("/First.krproj");
    {
        auto project = KRProject::create(document, true).value();
        temporary = project->webFolder()->krwebPath();
        KRTest::writeFile(temporary + QStringLiteral("/images/photo.jpg"), "jpeg bytes");
        KRTest::writeFile(temporary + QStringLiteral("/js/app.js"), "on disk");
        project->reloadResources();
        (void)project->resources();
        project->webFolder()->modifiedResourceCache().setContents(QStringLiteral("js/app.js"), "edited", QString());
        ASSERT_TRUE(document->saveToPackage(package).ok());
        EXPECT_EQ(project->webFolder()->krwebPath(), package + QStringLiteral("/kr-web"));
    }
    // Closing the project removes its temporary folder; the package keeps the files.
    EXPECT_FALSE(QFileInfo::exists(temporary));
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/kr-web/images/photo.jpg")), QByteArray("jpeg bytes"));
    EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/kr-web/js/app.js")), QByteArray("edited"));
    EXPECT_TRUE(KRDocument::openPackage(package).ok());
}

// A save inside an undo group that stays open: what the group records after the save makes
// the document dirty, and undo or redo never lands on a state that reads as saved by mistake.
TEST(DocumentSave, ChangesAfterASaveInAnOpenGroupMakeTheDocumentDirty)
{
    auto project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>")));
    ASSERT_TRUE(project);
    const auto document = project->krDocument();
    KRUndoManager &undo = document->undoManager();
    undo.beginUndoGrouping();
    project->setShowGrid(true);
    ASSERT_TRUE(document->save().ok());
    EXPECT_FALSE(document->isDocumentEdited());
    project->setSnapGrid(8);
    EXPECT_TRUE(document->isDocumentEdited());
    undo.endUndoGrouping();
    QCoreApplication::processEvents();
    EXPECT_TRUE(document->isDocumentEdited());
    undo.undo();
    undo.redo();
    EXPECT_TRUE(document->isDocumentEdited());

    // Nothing after the save: the group closes clean, its redo lands on the saved state.
    undo.beginUndoGrouping();
    project->setShowGrid(false);
    ASSERT_TRUE(document->save().ok());
    undo.endUndoGrouping();
    QCoreApplication::processEvents();
    EXPECT_FALSE(document->isDocumentEdited());
    undo.undo();
    undo.redo();
    EXPECT_FALSE(document->isDocumentEdited());
}

// The application reads and writes the format in full: files of that version and older open.
TEST_F(DocumentOpen, ReleaseVersionOpensStoredProjects)
{
    QCoreApplication::setApplicationVersion(QString());
    EXPECT_EQ(KRDocument::applicationShortVersion(), QStringLiteral("1.0.0"));
    for (const char *version : {" appVersion=\"1.0.0\"", " appVersion=\"1.0\"", " appVersion=\"0.1.0\""})
        EXPECT_TRUE(KRDocument::openPackage(makePackage(projectVersion(version))).ok()) << version;
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(KRDocument::openPackage(makePackage(projectVersion(" appVersion=\"1.0.1\""))).error().code(),
              KRDocument::NewerVersionCode);
}

// A 0.9 KB project.xml whose DOCTYPE declares entities nested nine levels deep, used in a
// page's title or a function's text: opening it never ended (minutes, gigabytes, no window).
// It is refused at the first declaration with a message saying why, and the package is left
// as it was.
TEST_F(DocumentOpen, AProjectThatDeclaresEntitiesIsRefusedAtOnce)
{
    QByteArray declarations = "<!ENTITY lol \"lol\">\n";
    QByteArray previous = "lol";
    for (int level = 1; level <= 9; ++level) {
        const QByteArray name = "lol" + QByteArray::number(level);
        declarations += "<!ENTITY " + name + " \"" + QByteArray("&" + previous + ";").repeated(10) + "\">\n";
        previous = name;
    }
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE KRProjectDocument [\n" + declarations + "]>\n";
    KRTest::XMLAllocationGuard guard(64 << 20);
    for (const QByteArray &body :
         {QByteArray("<KRProjectDocument><KRProject/><KRPages><KRPage id=\"p\" title=\"&lol9;\"/></KRPages></KRProjectDocument>\n"),
          QByteArray("<KRProjectDocument><KRProject/><KRPages><KRPage id=\"p\"><KRContents><KRFunction id=\"f\">&lol9;"
                     "</KRFunction></KRContents></KRPage></KRPages></KRProjectDocument>\n")}) {
        const QByteArray xml = head + body;
        ASSERT_LT(xml.size(), 1100);
        const QString package = makePackage(xml);
        guard.reset();
        const auto opened = KRDocument::openPackage(package);
        EXPECT_LT(guard.requested(), std::size_t(1) << 20);
        ASSERT_FALSE(opened.ok());
        EXPECT_EQ(opened.error().domain(), KRXMLDocument::errorDomain);
        EXPECT_EQ(opened.error().message().toStdString(),
                  "The file \"" + package.toStdString() + "/project.xml\" is refused: line 3: it declares the entity "
                  "\u201Clol\u201D, and documents that declare entities are not read.");
        EXPECT_EQ(KRTest::readFile(package + QStringLiteral("/project.xml")), xml);
        EXPECT_TRUE(QDir(package + QStringLiteral("/kr-web")).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
    }
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
}

} // namespace

// Another program (another instance, a version-control update) changed project.xml since the
// document read it: a save asks first, and Cancel leaves that change alone. A file only
// touched, or written by this document, asks nothing.
TEST(DocumentSave, AProjectFileChangedOnDiskIsNotReplacedWithoutAsking)
{
    auto alerts = std::make_shared<KRScriptedAlertService>();
    const auto previous = KRAlertService::setCurrent(alerts);
    auto project = krOpenTestProject(KRTest::makeTempDir(), projectVersion(" appVersion=\"1.0\""), true);
    const auto document = project->krDocument();
    const QString file = document->fileURL() + QStringLiteral("/project.xml");
    EXPECT_FALSE(document->projectFileChangedOnDisk());
    ASSERT_TRUE(document->save().ok());
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());

    // The same bytes written again by someone else, with another time: no change.
    const QByteArray ours = KRTest::readFile(file);
    KRTest::writeFile(file, ours);
    ASSERT_EQ(::utime(QFile::encodeName(file).constData(), nullptr), 0);
    EXPECT_FALSE(document->projectFileChangedOnDisk());

    // Changed content is a change.
    const QByteArray theirs = ours + "<!-- theirs -->\n";
    KRTest::writeFile(file, theirs);
    EXPECT_TRUE(document->projectFileChangedOnDisk());
    alerts->scriptButton(QStringLiteral("Cancel"));
    const KRResult<void> cancelled = document->save();
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error().code(), KRDocument::SaveCancelledCode);
    EXPECT_EQ(KRTest::readFile(file), theirs);
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_TRUE(alerts->shownAlerts().first().messageText.contains(QStringLiteral("changed on disk")));
    EXPECT_TRUE(alerts->shownAlerts().first().destructive);

    alerts->scriptButton(QStringLiteral("Save Anyway"));
    ASSERT_TRUE(document->save().ok());
    EXPECT_EQ(KRTest::readFile(file), ours);
    EXPECT_FALSE(document->projectFileChangedOnDisk());

    // Removed: a save asks too.
    QFile::remove(file);
    EXPECT_TRUE(document->projectFileChangedOnDisk());
    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_FALSE(document->save().ok());
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(alerts->pendingAnswerCount(), 0);
    KRAlertService::setCurrent(previous);
}

// What a killed Save As moved aside goes back into the empty place only as what the place was:
// a link there goes back only where the save's mark says the place was a link; one named by a
// mark that does not say so stays aside, at an open and at a Save As into the place (it was put
// back and opened, or refused, as the project, wherever it led). The clean-up never reaches into
// another mount: a bind mount of the same file system at the moved-aside name, or inside what
// was moved aside, keeps what it holds (it was emptied: only another device was told apart).
TEST(DocumentSaveAs, CleanUpsPutBackOnlyWhatTheMarkSaysAndNeverReachIntoAnotherMount)
{
    EditedPackage p;
    ASSERT_TRUE(p.project);
    const QString folder = KRTest::makeTempDir();
    const QString elsewhere = folder + QStringLiteral("/Elsewhere.krproj");
    KRTest::writeFile(elsewhere + QStringLiteral("/project.xml"), projectVersion(""));
    QDir().mkpath(elsewhere + QStringLiteral("/kr-web"));
    const auto leftovers = [&](const QString &place, const QString &id, bool markSaysLink) {
        const QString aside = folder + QStringLiteral("/.%1.kr-replaced-%2").arg(place, id);
        const QString halfMade = folder + QStringLiteral("/.%1.kr-save-%2").arg(place, id);
        EXPECT_TRUE(QFile::link(elsewhere, aside));
        KRTest::writeFile(halfMade + QStringLiteral("/project.xml"), "<KRProjectDocument/>");
        plantSaveMark(halfMade, id.toLatin1(), QFile::encodeName(place), aside);
        if (markSaysLink) {
            QFile mark(halfMade + QStringLiteral("/.kr-save-mark"));
            EXPECT_TRUE(mark.open(QIODevice::Append));
            mark.write("replacedLink yes\n");
        }
        return aside;
    };
    // Opened: the link stays aside, the half-made package goes, and nothing opens.
    const QString tips = folder + QStringLiteral("/Tips.krproj");
    const QString tipsAside = leftovers(QStringLiteral("Tips.krproj"), QStringLiteral("00000000-0000-4000-8000-00000000d001"), false);
    EXPECT_FALSE(KRDocument::openPackage(tips).ok());
    EXPECT_FALSE(QFileInfo(tips).isSymLink());
    EXPECT_TRUE(QFileInfo(tipsAside).isSymLink());
    // Saved as: the save takes the empty place.
    const QString copy = folder + QStringLiteral("/Copy.krproj");
    const QString copyAside = leftovers(QStringLiteral("Copy.krproj"), QStringLiteral("00000000-0000-4000-8000-00000000d002"), false);
    const auto saved = p.document->saveToPackage(copy);
    EXPECT_TRUE(saved.ok()) << saved.error().message().toStdString();
    EXPECT_FALSE(QFileInfo(copy).isSymLink());
    EXPECT_TRUE(QFileInfo(copyAside).isSymLink());
    // A mark that says the place was a link: the link goes back.
    const QString linked = folder + QStringLiteral("/Linked.krproj");
    leftovers(QStringLiteral("Linked.krproj"), QStringLiteral("00000000-0000-4000-8000-00000000d003"), true);
    EXPECT_TRUE(KRDocument::openPackage(linked).ok());
    EXPECT_TRUE(QFileInfo(linked).isSymLink());
    EXPECT_EQ(filesBelow(elsewhere).keys(), QStringList{QStringLiteral("project.xml")});

    // Bind mounts of the same file system: at the moved-aside name, and inside what was moved aside.
    const QString outside = KRTest::makeTempDir();
    KRTest::writeFile(outside + QStringLiteral("/keep.txt"), "keep");
    const QString atName = folder + QStringLiteral("/.Copy.krproj.kr-replaced-00000000-0000-4000-8000-00000000e001");
    const QString inside = folder + QStringLiteral("/.Copy.krproj.kr-replaced-00000000-0000-4000-8000-00000000e002");
    QDir().mkpath(atName);
    QDir().mkpath(inside + QStringLiteral("/kr-web/mounted"));
    struct Mounts
    {
        QStringList points;
        ~Mounts()
        {
            for (const QString &point : std::as_const(points))
                ::umount2(QFile::encodeName(point).constData(), MNT_DETACH);
        }
    } mounts;
    for (const QString &point : {atName, inside + QStringLiteral("/kr-web/mounted")}) {
        if (::mount(QFile::encodeName(outside).constData(), QFile::encodeName(point).constData(), nullptr, MS_BIND, nullptr) != 0)
            GTEST_SKIP() << "this system refuses a bind mount here: " << std::strerror(errno);
        mounts.points.append(point);
    }
    for (const QString &aside : {atName, inside}) {
        const QString halfMade = folder + QStringLiteral("/.Copy.krproj.kr-save-") + aside.right(36);
        KRTest::writeFile(halfMade + QStringLiteral("/project.xml"), "<KRProjectDocument/>");
        plantSaveMark(halfMade, aside.right(36).toLatin1(), "Copy.krproj", aside);
    }
    // The place holds the saved package: what was moved aside was to be replaced, and is removed.
    const auto opened = KRDocument::openPackage(copy);
    EXPECT_TRUE(opened.ok()) << opened.error().message().toStdString();
    EXPECT_EQ(KRTest::readFile(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));
    EXPECT_TRUE(QFileInfo::exists(atName + QStringLiteral("/keep.txt")));
    EXPECT_TRUE(QFileInfo::exists(inside + QStringLiteral("/kr-web/mounted/keep.txt")));
    EXPECT_TRUE(KRTest::readFile(copy + QStringLiteral("/project.xml")).contains("showGrid=\"true\""));
}

#include <core/KRFileManagerAdditions.h>
#include <core/QZZipArchive.h>
#include <model/KREditableResourceTypes.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <model/KRWebFolderOwner.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>

#include "../support/KRTestSupport.h"
#include "KRWebFolderTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using KRWebFolderTest::Owner;
using KRWebFolderTest::marksWork;
using KRWebFolderTest::themeCSS;

class WebFolderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRResources::setResourcesDirectory(QStringLiteral(KR_SOURCE_DIR "/resources"));
        alerts = std::make_shared<KRScriptedAlertService>();
        KRAlertService::setCurrent(alerts);
        owner.package = KRTest::makeTempDir(QStringLiteral("pkg"));
        folder = KRWebFolder::create(&owner);
        web = folder->krwebPath();
        QDir().mkpath(web);
        outside = KRTest::makeTempDir(QStringLiteral("src"));
    }
    void TearDown() override
    {
        EXPECT_EQ(alerts->pendingAnswerCount(), 0) << "scripted answers left over";
        KRAlertService::setCurrent(nullptr);
    }

    QStringList titles() const
    {
        QStringList list;
        for (const KRAlert &alert : alerts->shownAlerts())
            list << alert.messageText;
        return list;
    }
    QStringList topNames()
    {
        QStringList names;
        for (const auto &resource : folder->resources())
            names << resource->name();
        names.sort();
        return names;
    }
    std::shared_ptr<KRProjectResource> find(const QString &relativePath)
    {
        std::function<std::shared_ptr<KRProjectResource>(const QList<std::shared_ptr<KRProjectResource>> &)> walk =
            [&](const auto &list) -> std::shared_ptr<KRProjectResource> {
            for (const auto &resource : list) {
                if (resource->relativePath() == relativePath)
                    return resource;
                if (auto found = walk(resource->contents()))
                    return found;
            }
            return nullptr;
        };
        return walk(folder->resources());
    }
    QString source(const QString &name, const QByteArray &bytes)
    {
        const QString path = outside + QLatin1Char('/') + name;
        KRTest::writeFile(path, bytes);
        return path;
    }
    QString zip(const QString &name, const QList<QPair<QString, QByteArray>> &entries)
    {
        const QString path = outside + QLatin1Char('/') + name;
        QZZipArchive archive(path);
        EXPECT_TRUE(archive.open());
        for (const auto &[entry, bytes] : entries)
            EXPECT_TRUE(archive.writeData(bytes, entry));
        EXPECT_TRUE(archive.close());
        return path;
    }
    // Leftovers of copies or theme extractions.
    QStringList leftovers()
    {
        QStringList found = QDir(web).entryList({QStringLiteral(".kr-copy-*")}, QDir::AllEntries | QDir::Hidden);
        found += QDir(KRPaths::temporaryDirectory()).entryList({QStringLiteral("kr-theme-extraction*")}, QDir::AllEntries);
        return found;
    }

    Owner owner;
    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRWebFolder> folder;
    QString web;
    QString outside;
};

TEST_F(WebFolderTest, ListsTheTreeWithoutDotItems)
{
    KRTest::writeFile(web + QStringLiteral("/app.js"), "12345");
    KRTest::writeFile(web + QStringLiteral("/css/site.css"), "body{}");
    KRTest::writeFile(web + QStringLiteral("/css/.hidden.css"), "x");
    KRTest::writeFile(web + QStringLiteral("/.git/config"), "x");
    KRTest::writeFile(web + QStringLiteral("/.DS_Store"), "x");

    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("app.js"), QStringLiteral("css")}));
    const auto app = find(QStringLiteral("app.js"));
    ASSERT_TRUE(app);
    EXPECT_EQ(app->fullPath(), web + QStringLiteral("/app.js"));
    EXPECT_EQ(app->fileSize(), 5);
    EXPECT_FALSE(app->isDirectory());
    EXPECT_EQ(app->project(), folder);
    const auto css = find(QStringLiteral("css"));
    ASSERT_TRUE(css);
    EXPECT_TRUE(css->isDirectory());
    EXPECT_EQ(css->fileSize(), std::nullopt);
    ASSERT_EQ(css->contents().size(), 1);
    EXPECT_EQ(css->contents().value(0)->relativePath(), QStringLiteral("css/site.css"));
    EXPECT_EQ(css->contents().value(0)->fullPath(), web + QStringLiteral("/css/site.css"));
}

TEST_F(WebFolderTest, ListIsKeptUntilReloaded)
{
    KRTest::writeFile(web + QStringLiteral("/a.js"), "");
    ASSERT_EQ(topNames(), QStringList{QStringLiteral("a.js")});
    KRTest::writeFile(web + QStringLiteral("/b.js"), "");
    EXPECT_EQ(topNames(), QStringList{QStringLiteral("a.js")});
    folder->reloadResources();
    EXPECT_EQ(owner.events, (QStringList{QStringLiteral("will"), QStringLiteral("did")}));
    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("a.js"), QStringLiteral("b.js")}));
}

TEST_F(WebFolderTest, LinkToAnAncestorIsNotFollowed)
{
    KRTest::writeFile(web + QStringLiteral("/sub/a.js"), "");
    ASSERT_TRUE(QFile::link(web, web + QStringLiteral("/sub/loop")));
    const auto loop = find(QStringLiteral("sub/loop"));
    ASSERT_TRUE(loop);
    EXPECT_FALSE(loop->isDirectory());
    EXPECT_TRUE(loop->contents().isEmpty());
}

TEST_F(WebFolderTest, MarksTellGeneratedAndStagedFilesApart)
{
    SKIP_WITHOUT_MARKS(web);
    KRTest::writeFile(web + QStringLiteral("/index.html"), "");
    KRTest::writeFile(web + QStringLiteral("/lib/jquery.js"), "");
    KRTest::writeFile(web + QStringLiteral("/blue.css"), themeCSS);
    KRTest::writeFile(web + QStringLiteral("/__blue.css"), themeCSS);
    KRTest::writeFile(web + QStringLiteral("/mine.js"), "");
    KRFileManager::setExtendedAttributeOfItemAtPath(web + QStringLiteral("/index.html"),
                                                    QString::fromLatin1(KRProjectResource::GeneratedFileMark), QStringLiteral("true"));
    KRFileManager::setExtendedAttributeOfItemAtPath(web + QStringLiteral("/__blue.css"),
                                                    QString::fromLatin1(KRProjectResource::GeneratedFileMark), QStringLiteral("true"));
    KRFileManager::setExtendedAttributesOfAllItemsAtPath(web + QStringLiteral("/lib"),
                                                         QString::fromLatin1(KRProjectResource::StagedFileMark), QStringLiteral("true"));
    KRFileManager::setExtendedAttributeOfItemAtPath(web + QStringLiteral("/mine.js"),
                                                    QString::fromLatin1(KRProjectResource::StagedFileMark), QStringLiteral("yes"));

    EXPECT_TRUE(find(QStringLiteral("index.html"))->isGenerated());
    EXPECT_FALSE(find(QStringLiteral("index.html"))->isStaged());
    EXPECT_TRUE(find(QStringLiteral("lib"))->isStaged());
    EXPECT_TRUE(find(QStringLiteral("lib/jquery.js"))->isStaged());
    EXPECT_FALSE(find(QStringLiteral("mine.js"))->isStaged()); // only "true" counts
    EXPECT_FALSE(find(QStringLiteral("mine.js"))->isGenerated());

    // The generated processed copy is never offered as a theme.
    EXPECT_EQ(folder->themes(), QStringList{QStringLiteral("blue")});
    EXPECT_EQ(folder->resourceForThemeName(QStringLiteral("blue"))->name(), QStringLiteral("blue.css"));
    owner.theme = QStringLiteral("blue");
    EXPECT_TRUE(find(QStringLiteral("blue.css"))->isSelectedTheme());
    EXPECT_FALSE(find(QStringLiteral("__blue.css"))->isSelectedTheme());
}

TEST_F(WebFolderTest, ThemeLookupsUseTopLevelNamesWithoutExtension)
{
    KRTest::writeFile(web + QStringLiteral("/blue.css"), themeCSS);
    KRTest::writeFile(web + QStringLiteral("/site.css"), "body{}");
    KRTest::writeFile(web + QStringLiteral("/css/green.css"), themeCSS);
    EXPECT_EQ(folder->themes(), QStringList{QStringLiteral("blue")});
    EXPECT_EQ(folder->resourceForThemeName(QStringLiteral("site"))->name(), QStringLiteral("site.css"));
    EXPECT_EQ(folder->resourceForThemeName(QStringLiteral("green")), nullptr);
}

TEST_F(WebFolderTest, NewNamesClashOnlyAtTopLevel)
{
    KRTest::writeFile(web + QStringLiteral("/app.js"), "");
    KRTest::writeFile(web + QStringLiteral("/css/site.css"), "");
    EXPECT_FALSE(folder->validateNewResourceName(QStringLiteral("app.js")));
    EXPECT_FALSE(folder->validateNewResourceName(QStringLiteral("css")));
    EXPECT_TRUE(folder->validateNewResourceName(QStringLiteral("site.css")));
    EXPECT_TRUE(folder->validateNewResourceName(QStringLiteral("App.js")));
    // Names that would land outside the web folder or nowhere.
    for (const char *bad : {"", ".", "..", "../evil.js", "css/x.css"})
        EXPECT_FALSE(folder->validateNewResourceName(QLatin1String(bad))) << bad;
}

TEST_F(WebFolderTest, ImportingAScriptAsksForTheIncludeList)
{
    alerts->scriptButton(QStringLiteral("Add"));
    ASSERT_TRUE(folder->importResource(source(QStringLiteral("app.js"), "var a;"), web + QStringLiteral("/app.js")));
    EXPECT_EQ(owner.js, QStringList{QStringLiteral("app.js")});
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    const KRAlert &alert = alerts->shownAlerts().value(0);
    EXPECT_EQ(alert.messageText, QStringLiteral("Add to javascriptIncludes?"));
    EXPECT_EQ(alert.informativeText,
              QStringLiteral("Adding JavaScript source 'app.js' to project. Also add to the project's 'javascriptIncludes' property?"));
    EXPECT_EQ(alert.buttonTitles, (QStringList{QStringLiteral("Add"), QStringLiteral("Skip")}));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/app.js")), QByteArray("var a;"));

    alerts->scriptButton(QStringLiteral("Skip"));
    ASSERT_TRUE(folder->addResource(source(QStringLiteral("more.JS"), "")));
    EXPECT_EQ(owner.js, QStringList{QStringLiteral("app.js")});
    EXPECT_EQ(titles().value(1), QStringLiteral("Add to javascriptIncludes?"));
    EXPECT_TRUE(QFileInfo::exists(web + QStringLiteral("/more.JS")));
    EXPECT_TRUE(owner.css.isEmpty());
}

TEST_F(WebFolderTest, ImportingAStylesheetAsksUnlessItIsATheme)
{
    alerts->scriptButton(QStringLiteral("Add"));
    ASSERT_TRUE(folder->addResource(source(QStringLiteral("site.css"), "body{}")));
    EXPECT_EQ(owner.css, QStringList{QStringLiteral("site.css")});
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().value(0).messageText, QStringLiteral("Add to cssIncludes?"));
    EXPECT_EQ(alerts->shownAlerts().value(0).informativeText,
              QStringLiteral("Adding Cascading Style Sheet 'site.css' to project. Also add to the project's 'cssIncludes' property?"));

    ASSERT_TRUE(folder->addResource(source(QStringLiteral("blue.css"), themeCSS)));
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(owner.css, QStringList{QStringLiteral("site.css")});
    EXPECT_EQ(folder->themes(), QStringList{QStringLiteral("blue")});
}

TEST_F(WebFolderTest, ZipWithThemeOffersExtraction)
{
    const QString archive = zip(QStringLiteral("theme.zip"),
                                {{QStringLiteral("index.html"), "<html>"},
                                 {QStringLiteral("themes/blue.css"), themeCSS},
                                 {QStringLiteral("themes/blue.min.css"), themeCSS},
                                 {QStringLiteral("themes/images/x.png"), "png"}});
    QDir().mkpath(web + QStringLiteral("/css"));
    alerts->scriptButton(QStringLiteral("Extract Theme"));
    ASSERT_TRUE(folder->importResource(archive, web + QStringLiteral("/css/theme.zip")));

    ASSERT_EQ(alerts->shownAlerts().size(), 1); // no include question: the file is a theme
    const KRAlert &alert = alerts->shownAlerts().value(0);
    EXPECT_EQ(alert.messageText, QStringLiteral("Extract jQuery Mobile Theme?"));
    EXPECT_EQ(alert.informativeText,
              QStringLiteral("This ZIP archive appears to contain the jQuery Mobile Theme CSS file 'themes/blue.css'. Would you like Korvane to extract the theme CSS file, or import the entire ZIP archive?"));
    EXPECT_EQ(alert.buttonTitles, (QStringList{QStringLiteral("Extract Theme"), QStringLiteral("Import ZIP Archive")}));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/css/blue.css")), themeCSS);
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/css/theme.zip")));
    EXPECT_EQ(owner.theme, QStringLiteral("blue"));
    EXPECT_TRUE(owner.css.isEmpty());
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(WebFolderTest, ZipThemeDeclinedImportsTheArchive)
{
    const QString archive = zip(QStringLiteral("theme.zip"),
                                {{QStringLiteral("themes/blue.css"), themeCSS},
                                 {QStringLiteral("themes/blue.min.css"), themeCSS}});
    alerts->scriptButton(QStringLiteral("Import ZIP Archive"));
    ASSERT_TRUE(folder->addResource(archive));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/theme.zip")), KRTest::readFile(archive));
    EXPECT_EQ(topNames(), QStringList{QStringLiteral("theme.zip")});
    EXPECT_EQ(owner.theme, QString());
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(WebFolderTest, ZipWithoutThemePairOrUnreadableIsImportedWhole)
{
    const QString single = zip(QStringLiteral("single.zip"), {{QStringLiteral("themes/blue.css"), themeCSS}});
    ASSERT_TRUE(folder->addResource(single));
    const QString broken = source(QStringLiteral("broken.zip"), "PK\x03\x04 nothing");
    ASSERT_TRUE(folder->addResource(broken));
    // The pair is there, but the stylesheet is no theme: nothing to offer.
    const QString fake = zip(QStringLiteral("fake.zip"), {{QStringLiteral("themes/red.css"), "body{}"},
                                                          {QStringLiteral("themes/red.min.css"), "body{}"}});
    ASSERT_TRUE(folder->addResource(fake));
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("broken.zip"), QStringLiteral("fake.zip"), QStringLiteral("single.zip")}));
    EXPECT_EQ(owner.theme, QString());
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(WebFolderTest, ZipThemeEntryEscapingTheFolderIsNotExtracted)
{
    const QString archive = zip(QStringLiteral("evil.zip"),
                                {{QStringLiteral("../themes/evil.css"), themeCSS},
                                 {QStringLiteral("../themes/evil.min.css"), themeCSS}});
    ASSERT_TRUE(folder->addResource(archive));
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(KRPaths::temporaryDirectory() + QStringLiteral("/themes/evil.css")));
    EXPECT_EQ(topNames(), QStringList{QStringLiteral("evil.zip")});
    EXPECT_EQ(leftovers(), QStringList());
}

// An archive whose theme entry would unpack far beyond its size is refused with an error:
// neither the theme nor the archive lands in the project.
TEST_F(WebFolderTest, ZipThemeThatUnpacksTooFarIsRefused)
{
    QByteArray huge = themeCSS;
    huge += QByteArray(8 << 20, ' ');
    const QString archive = zip(QStringLiteral("bomb.zip"), {{QStringLiteral("themes/blue.css"), huge},
                                                             {QStringLiteral("themes/blue.min.css"), themeCSS}});
    EXPECT_FALSE(folder->addResource(archive));
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().value(0).style, KRAlert::Style::Critical);
    EXPECT_TRUE(alerts->shownAlerts().value(0).messageText.contains(QStringLiteral("bomb.zip")))
        << alerts->shownAlerts().value(0).messageText.toStdString();
    EXPECT_EQ(topNames(), QStringList());
    EXPECT_EQ(owner.theme, QString());
    EXPECT_EQ(leftovers(), QStringList());
}

// An archive of more entries than an import may take is refused with an error, without
// working through them all on the importing thread.
TEST_F(WebFolderTest, ZipOfTooManyEntriesIsRefused)
{
    QStringList names;
    for (qint64 i = 0; i <= QZZipArchive::MaximumEntryCount; ++i)
        names.append(QStringLiteral("f%1").arg(i));
    const QString archive = source(QStringLiteral("crowd.zip"), KRTest::zipOfEmptyFiles(names));
    EXPECT_FALSE(folder->addResource(archive));
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts().value(0).style, KRAlert::Style::Critical);
    EXPECT_TRUE(alerts->shownAlerts().value(0).messageText.contains(QStringLiteral("crowd.zip")))
        << alerts->shownAlerts().value(0).messageText.toStdString();
    EXPECT_TRUE(alerts->shownAlerts().value(0).messageText.contains(QStringLiteral("entries")))
        << alerts->shownAlerts().value(0).messageText.toStdString();
    EXPECT_EQ(topNames(), QStringList());
    EXPECT_EQ(leftovers(), QStringList());
}

// A name is one line: a line break would start an entry of its own in the cache manifest and
// the list of generated files.
TEST_F(WebFolderTest, NamesWithLineBreaksOrControlCharactersAreRefused)
{
    KRTest::writeFile(web + QStringLiteral("/a.css"), "x");
    for (const QString &name : {QStringLiteral("x.png\nNETWORK:\n*"), QStringLiteral("x\r.png"), QStringLiteral("tab\t.png"),
                                QStringLiteral("x\u2028.png"), QStringLiteral("del\x7f.png")}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(KRWebFolder::isPlainFileName(name));
        EXPECT_FALSE(folder->validateNewResourceName(name));
        EXPECT_FALSE(folder->createResource(name, QStringLiteral("templates/stylesheet.css")));
        EXPECT_FALSE(find(QStringLiteral("a.css"))->renameResource(name));
    }
    EXPECT_TRUE(KRWebFolder::isPlainFileName(QStringLiteral("caf\u00e9 menu.png")));
    EXPECT_EQ(topNames(), QStringList{QStringLiteral("a.css")});
}

TEST_F(WebFolderTest, FailedImportChangesNothing)
{
    KRTest::writeFile(web + QStringLiteral("/app.js"), "original");
    EXPECT_FALSE(folder->addResource(source(QStringLiteral("app.js"), "replacement")));
    ASSERT_EQ(alerts->shownAlerts().size(), 1); // the error, no include question
    EXPECT_EQ(alerts->shownAlerts().value(0).style, KRAlert::Style::Critical);
    EXPECT_TRUE(alerts->shownAlerts().value(0).messageText.contains(QStringLiteral("already exists")));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/app.js")), QByteArray("original"));
    EXPECT_TRUE(owner.js.isEmpty());

    alerts->clear();
    EXPECT_FALSE(folder->importResource(outside + QStringLiteral("/missing.css"), web + QStringLiteral("/missing.css")));
    EXPECT_EQ(alerts->shownAlerts().size(), 1);

    // A theme archive whose copy fails sets no theme.
    KRTest::writeFile(web + QStringLiteral("/blue.css"), "mine");
    const QString archive = zip(QStringLiteral("theme.zip"), {{QStringLiteral("themes/blue.css"), themeCSS},
                                                              {QStringLiteral("themes/blue.min.css"), themeCSS}});
    alerts->clear();
    alerts->scriptButton(QStringLiteral("Extract Theme"));
    EXPECT_FALSE(folder->addResource(archive));
    EXPECT_EQ(owner.theme, QString());
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/blue.css")), QByteArray("mine"));
    EXPECT_EQ(leftovers(), QStringList());
    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("app.js"), QStringLiteral("blue.css")}));
}

// A folder comes in with its links that lead inside it, leading inside the copy; links that
// lead out of it (back to the original, or anywhere) stay behind.
TEST_F(WebFolderTest, ImportsAFolderWithItsContents)
{
    KRTest::writeFile(outside + QStringLiteral("/images/a.png"), "a");
    KRTest::writeFile(outside + QStringLiteral("/images/icons/b.png"), "b");
    KRTest::writeFile(outside + QStringLiteral("/secret.txt"), "secret");
    ASSERT_TRUE(QFile::link(QStringLiteral("../a.png"), outside + QStringLiteral("/images/icons/a-link.png")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/secret.txt"), outside + QStringLiteral("/images/secret.txt")));
    ASSERT_TRUE(folder->addResource(outside + QStringLiteral("/images")));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/images/icons/b.png")), QByteArray("b"));
    ASSERT_TRUE(find(QStringLiteral("images/icons/b.png")));
    EXPECT_EQ(QFileInfo(web + QStringLiteral("/images/icons/a-link.png")).symLinkTarget(), web + QStringLiteral("/images/a.png"));
    EXPECT_FALSE(QFileInfo(web + QStringLiteral("/images/secret.txt")).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/images/secret.txt")));
    // Into itself: refused, nothing left.
    alerts->clear();
    EXPECT_FALSE(folder->importResource(web + QStringLiteral("/images"), web + QStringLiteral("/images/icons/copy")));
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/images/icons/copy")));
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(WebFolderTest, CreatesAResourceFromEveryShippedTemplate)
{
    int index = 0;
    for (const KREditableResourceType &type : KREditableResourceTypes::shared().templates()) {
        const QString name = QStringLiteral("new%1.%2").arg(index++).arg(type.extensions.value(0));
        if (type.extensions.value(0) == QLatin1String("css") || type.extensions.value(0) == QLatin1String("js"))
            alerts->scriptButton(QStringLiteral("Skip"));
        owner.events.clear();
        ASSERT_TRUE(folder->createResource(name, type.templateFile)) << name.toStdString();
        EXPECT_EQ(KRTest::readFile(web + QLatin1Char('/') + name),
                  KRTest::readFile(KRResources::pathForResource(type.templateFile)));
        EXPECT_EQ(owner.events, (QStringList{QStringLiteral("will"), QStringLiteral("did")}));
        EXPECT_FALSE(folder->validateNewResourceName(name));
    }
    EXPECT_GE(index, 3);
    EXPECT_TRUE(owner.js.isEmpty());
    EXPECT_TRUE(owner.css.isEmpty());
}

TEST_F(WebFolderTest, CreateRefusesUnsafeNamesAndMissingTemplates)
{
    EXPECT_FALSE(folder->createResource(QStringLiteral("../../evil.css"), QStringLiteral("templates/stylesheet.css")));
    EXPECT_FALSE(QFileInfo::exists(owner.package + QStringLiteral("/../evil.css")));
    EXPECT_FALSE(folder->createResource(QStringLiteral("x.css"), QStringLiteral("templates/none.css")));
    EXPECT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_TRUE(topNames().isEmpty());
}

// Unsaved edits follow a renamed file, and the files below a renamed folder; a name that
// only starts like the folder's keeps its own.
TEST_F(WebFolderTest, RenameReloadsAndCarriesEditedBytes)
{
    KRTest::writeFile(web + QStringLiteral("/a.css"), "disk");
    KRTest::writeFile(web + QStringLiteral("/b.css"), "other");
    KRTest::writeFile(web + QStringLiteral("/js/deep/app.js"), "disk js");
    KRTest::writeFile(web + QStringLiteral("/jsx.js"), "disk jsx");
    KRProjectResourceCache &cache = folder->modifiedResourceCache();
    cache.setContents(QStringLiteral("a.css"), "edited", QStringLiteral("ISO-8859-1"));
    cache.setContents(QStringLiteral("js/deep/app.js"), "edited js", QString());
    cache.setContents(QStringLiteral("jsx.js"), "edited jsx", QString());
    const auto a = find(QStringLiteral("a.css"));
    owner.events.clear();
    ASSERT_TRUE(a->renameResource(QStringLiteral("c.css")));
    EXPECT_EQ(owner.events, (QStringList{QStringLiteral("will"), QStringLiteral("did")}));
    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("b.css"), QStringLiteral("c.css"), QStringLiteral("js"), QStringLiteral("jsx.js")}));
    EXPECT_EQ(cache.contents(QStringLiteral("c.css")), QByteArray("edited"));
    EXPECT_EQ(cache.encoding(QStringLiteral("c.css")), QStringLiteral("ISO-8859-1"));
    EXPECT_FALSE(cache.contains(QStringLiteral("a.css")));
    ASSERT_TRUE(find(QStringLiteral("js/deep"))->renameResource(QStringLiteral("lib")));
    ASSERT_TRUE(find(QStringLiteral("js"))->renameResource(QStringLiteral("scripts")));
    EXPECT_EQ(cache.relativePaths(), (QStringList{QStringLiteral("c.css"), QStringLiteral("jsx.js"), QStringLiteral("scripts/lib/app.js")}));
    // The next save writes them under the new names.
    const auto written = folder->writeModifiedResources(web);
    ASSERT_TRUE(written.ok());
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/scripts/lib/app.js")), QByteArray("edited js"));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/c.css")), QByteArray("edited"));
    folder->didSaveModifiedResources(*written);

    // Onto an existing name: refused, shown, not reloaded.
    const auto c = find(QStringLiteral("c.css"));
    owner.events.clear();
    EXPECT_FALSE(c->renameResource(QStringLiteral("b.css")));
    EXPECT_FALSE(c->renameResource(QStringLiteral("../b.css")));
    EXPECT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_TRUE(owner.events.isEmpty());
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/b.css")), QByteArray("other"));
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/c.css")), QByteArray("edited"));
}

TEST_F(WebFolderTest, DeleteAsksPerIncludeEntry)
{
    KRTest::writeFile(web + QStringLiteral("/app.js"), "");
    owner.js = {QStringLiteral("app.js"), QStringLiteral("other.js"), QStringLiteral("app.js")};
    owner.css = {QStringLiteral("site.css")};
    alerts->scriptButton(QStringLiteral("Delete"));
    alerts->scriptButton(QStringLiteral("Remove"));
    alerts->scriptButton(QStringLiteral("Don't Remove"));
    ASSERT_TRUE(folder->deleteResource(find(QStringLiteral("app.js"))));

    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/app.js")));
    EXPECT_TRUE(topNames().isEmpty());
    EXPECT_EQ(owner.js, (QStringList{QStringLiteral("other.js"), QStringLiteral("app.js")}));
    EXPECT_EQ(owner.css, QStringList{QStringLiteral("site.css")});
    // Both lists are stored back even when nothing was dropped.
    EXPECT_EQ(owner.jsStores, 1);
    EXPECT_EQ(owner.cssStores, 1);
    ASSERT_EQ(alerts->shownAlerts().size(), 3);
    EXPECT_EQ(alerts->shownAlerts().value(0).messageText, QStringLiteral("Delete Project Resource"));
    EXPECT_EQ(alerts->shownAlerts().value(0).informativeText,
              QStringLiteral("Do you wish to delete the project resource \"app.js\"?  This will remove the resource from this project, and delete the file from disk."));
    EXPECT_EQ(alerts->shownAlerts().value(0).buttonTitles, (QStringList{QStringLiteral("Delete"), QStringLiteral("Cancel")}));
    EXPECT_TRUE(alerts->shownAlerts().value(0).destructive) << "Return must not delete the file";
    EXPECT_EQ(alerts->shownAlerts().value(1).messageText, QStringLiteral("Remove JavaScript Include"));
    EXPECT_EQ(alerts->shownAlerts().value(1).informativeText,
              QStringLiteral("The resource \"app.js\" is also present in the project's javascriptIncludes property.  Remove it?"));
    EXPECT_EQ(alerts->shownAlerts().value(1).buttonTitles, (QStringList{QStringLiteral("Remove"), QStringLiteral("Don't Remove")}));
}

TEST_F(WebFolderTest, DeleteOfANestedStylesheetCleansTheCssList)
{
    KRTest::writeFile(web + QStringLiteral("/css/site.css"), "");
    owner.css = {QStringLiteral("css/site.css")};
    alerts->scriptButton(QStringLiteral("Delete"));
    alerts->scriptButton(QStringLiteral("Remove"));
    ASSERT_TRUE(folder->deleteResource(find(QStringLiteral("css/site.css"))));
    EXPECT_TRUE(owner.css.isEmpty());
    EXPECT_EQ(titles().value(1), QStringLiteral("Remove CSS Include"));
    EXPECT_EQ(alerts->shownAlerts().value(1).informativeText,
              QStringLiteral("The resource \"css/site.css\" is also present in the project's cssIncludes property.  Remove it?"));
}

TEST_F(WebFolderTest, DeleteCancelledLeavesEverything)
{
    KRTest::writeFile(web + QStringLiteral("/app.js"), "");
    owner.js = {QStringLiteral("app.js")};
    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_FALSE(folder->deleteResource(find(QStringLiteral("app.js"))));
    EXPECT_TRUE(QFileInfo::exists(web + QStringLiteral("/app.js")));
    EXPECT_EQ(owner.jsStores, 0);
    EXPECT_TRUE(owner.events.isEmpty());
}

TEST_F(WebFolderTest, EditedBytesOfADeletedFileDoNotReturn)
{
    KRTest::writeFile(web + QStringLiteral("/css/a.css"), "old");
    folder->modifiedResourceCache().setContents(QStringLiteral("css/a.css"), "edited", QString());
    alerts->scriptButton(QStringLiteral("Delete"));
    ASSERT_TRUE(folder->deleteResource(find(QStringLiteral("css"))));
    EXPECT_FALSE(QFileInfo::exists(web + QStringLiteral("/css")));
    EXPECT_TRUE(folder->modifiedResourceCache().isEmpty());

    // A new file at the same path shows and saves its own text.
    KRTest::writeFile(web + QStringLiteral("/css/a.css"), "new");
    folder->reloadResources();
    EXPECT_EQ(find(QStringLiteral("css/a.css"))->stringContents(), QStringLiteral("new"));
    const auto written = folder->writeModifiedResources(web);
    ASSERT_TRUE(written.ok());
    EXPECT_TRUE(written->isEmpty());
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/css/a.css")), QByteArray("new"));
}

TEST_F(WebFolderTest, SavingWritesEditedResourcesAndForgetsThem)
{
    KRTest::writeFile(web + QStringLiteral("/css/blue.css"), "body{}");
    KRTest::writeFile(web + QStringLiteral("/app.js"), "unchanged");
    const bool marks = marksWork(web);
    ASSERT_FALSE(KRProjectResource::fileIsJQMTheme(web + QStringLiteral("/css/blue.css")));
    folder->modifiedResourceCache().setContents(QStringLiteral("css/blue.css"), "/* caf\xe9 */ " + themeCSS,
                                                QStringLiteral("ISO-8859-1"));

    const auto written = folder->writeModifiedResources(web);
    ASSERT_TRUE(written.ok()) << written.error().toString().toStdString();
    EXPECT_EQ(*written, QStringList{QStringLiteral("css/blue.css")});
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/css/blue.css")), "/* caf\xe9 */ " + themeCSS);
    EXPECT_EQ(KRTest::readFile(web + QStringLiteral("/app.js")), QByteArray("unchanged"));
    if (marks) {
        EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(web + QStringLiteral("/css/blue.css"),
                                                               QString::fromLatin1(KRProjectResource::IsThemeMark)),
                  QString());
    }
    // The next theme test reads the saved text.
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(web + QStringLiteral("/css/blue.css"))); // Latin-1 is not UTF-8

    folder->didSaveModifiedResources(*written);
    EXPECT_TRUE(folder->modifiedResourceCache().isEmpty());
}

TEST_F(WebFolderTest, SavingReportsAWriteFailure)
{
    KRTest::writeFile(web + QStringLiteral("/a.css"), "");
    folder->modifiedResourceCache().setContents(QStringLiteral("a.css"), "edited", QString());
    (void)folder->resources();
    const auto written = folder->writeModifiedResources(outside + QStringLiteral("/no/such/folder"));
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error().code(), KRWebFolder::WriteFailed);
    EXPECT_TRUE(folder->modifiedResourceCache().contains(QStringLiteral("a.css")));
}

TEST(UntitledWebFolder, EachUntitledProjectGetsAFreshFolderOfItsOwn)
{
    Owner first, second;
    QString firstPath;
    {
        auto a = KRWebFolder::create(&first);
        auto b = KRWebFolder::create(&second);
        firstPath = a->krwebPath();
        const QString secondPath = b->krwebPath();
        EXPECT_NE(firstPath, secondPath);
        EXPECT_EQ(a->krwebPath(), firstPath); // remembered
        for (const QString &path : {firstPath, secondPath}) {
            EXPECT_TRUE(QFileInfo(path).isDir());
            EXPECT_TRUE(path.startsWith(KRPaths::temporaryDirectory() + QLatin1Char('/'))) << path.toStdString();
        }
        EXPECT_EQ(a->krwebURL(), QUrl::fromLocalFile(firstPath + QLatin1Char('/')));

        KRTest::writeFile(firstPath + QStringLiteral("/mine.js"), "");
        EXPECT_EQ(a->resources().size(), 1);
        EXPECT_TRUE(b->resources().isEmpty());

        // Once saved, the package's folder is the web folder.
        first.package = QStringLiteral("/somewhere/My.krproj/");
        EXPECT_EQ(a->krwebPath(), QStringLiteral("/somewhere/My.krproj/kr-web"));
        EXPECT_EQ(a->temporaryWebFolderPath(), firstPath);
    }
    // Closing the project removes its temporary folder.
    EXPECT_FALSE(QFileInfo::exists(firstPath));
}

} // namespace

// One name check for every way a resource gets a name: typed in the New Resource sheet, a
// rename, a file imported under its own name, a theme extracted from an archive. A name the
// list would never show (hidden), or that is not one line, is refused everywhere alike.
TEST_F(WebFolderTest, OneNameCheckForCreateRenameImportAndExtractedThemes)
{
    KRTest::writeFile(web + QStringLiteral("/a.css"), "x");
    const QString longName = QString(252, QLatin1Char('x')) + QStringLiteral(".css"); // 256 bytes
    const QStringList refused = {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral(".hidden.css"),
                                 QStringLiteral("a/b.css"), QStringLiteral("a\\b.css"), QStringLiteral("x\n.css"),
                                 QStringLiteral("x\u2029.css"), longName};
    for (const QString &name : refused) {
        SCOPED_TRACE(name.toStdString());
        const KRResult<void> checked = KRWebFolder::checkFileName(name);
        ASSERT_FALSE(checked.ok());
        EXPECT_EQ(checked.error().code(), KRWebFolder::InvalidName);
        EXPECT_FALSE(checked.error().message().isEmpty());
        EXPECT_FALSE(folder->validateNewResourceName(name));
        const qsizetype before = alerts->shownAlerts().size();
        EXPECT_FALSE(folder->createResource(name, QStringLiteral("templates/stylesheet.css")));
        EXPECT_FALSE(find(QStringLiteral("a.css"))->renameResource(name));
        EXPECT_EQ(alerts->shownAlerts().size(), before + 2);
        EXPECT_EQ(alerts->shownAlerts().last().messageText, checked.error().message());
    }
    EXPECT_TRUE(KRWebFolder::checkFileName(QString(251, QLatin1Char('x')) + QStringLiteral(".css")).ok());
    EXPECT_TRUE(KRWebFolder::checkFileName(QStringLiteral("caf\u00e9 menu.png")).ok());
    EXPECT_FALSE(KRWebFolder::checkFileName(QString(127, QChar(0x00e9)) + QStringLiteral(".css")).ok()); // 258 bytes

    // A file of the disk imported under its own hidden name.
    const qsizetype before = alerts->shownAlerts().size();
    EXPECT_FALSE(folder->addResource(source(QStringLiteral(".hidden.css"), "body{}")));
    EXPECT_EQ(alerts->shownAlerts().size(), before + 1);
    // A theme whose name in the archive holds a line break, and a hidden one: extracted,
    // they would carry the name into the web folder; they are refused, and nothing is left.
    for (const QString &entry : {QStringLiteral("themes/blue\nNETWORK.css"), QStringLiteral("themes/.blue.css")}) {
        SCOPED_TRACE(entry.toStdString());
        const QString minified = KRProjectResource::deletingPathExtension(entry) + QStringLiteral(".min.css");
        const QString archive = zip(QStringLiteral("theme.zip"), {{entry, themeCSS}, {minified, themeCSS}});
        alerts->scriptButton(QStringLiteral("Extract Theme"));
        EXPECT_FALSE(folder->importResource(archive, web + QStringLiteral("/theme.zip")));
        EXPECT_TRUE(alerts->shownAlerts().last().messageText.contains(QStringLiteral("not a valid file name")))
            << alerts->shownAlerts().last().messageText.toStdString();
        QFile::remove(archive);
    }
    EXPECT_TRUE(owner.theme.isEmpty());
    EXPECT_EQ(QDir(web).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("a.css")});
}

// A file or folder whose name is not UTF-8 (as old archives carry them) can be reached by no
// resource path: the listing leaves it out and names it, as it does a pipe, so the window
// tells the user rather than hide it.
TEST_F(WebFolderTest, NamesThatAreNotUTF8AreSkippedAndNamed)
{
    KRTest::writeFile(web + QStringLiteral("/site.css"), "body{}");
    const QByteArray raw = QFile::encodeName(web);
    ASSERT_EQ(::mkdir(raw + "/d\xfcr", 0755), 0);
    QDir().mkpath(web + QStringLiteral("/css"));
    for (const QByteArray &path : {raw + "/caf\xe9.png", raw + "/css/n\xf6tes.css"}) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    folder->reloadResources();
    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("css"), QStringLiteral("site.css")}));
    EXPECT_TRUE(find(QStringLiteral("css"))->contents().isEmpty());
    QStringList skipped = folder->skippedFiles();
    skipped.sort();
    EXPECT_EQ(skipped, (QStringList{QStringLiteral("kr-web/caf\\xE9.png has a name that is not UTF-8; it is skipped"),
                                    QStringLiteral("kr-web/css/n\\xF6tes.css has a name that is not UTF-8; it is skipped"),
                                    QStringLiteral("kr-web/d\\xFCr has a name that is not UTF-8; it is skipped")}));

    // A folder imported from elsewhere brings such a file along, and its sparse file stays
    // sparse: nothing is left out on the way, nor written out in full.
    const QByteArray outside = QFile::encodeName(KRTest::makeTempDir(QStringLiteral("archive")) + QStringLiteral("/old"));
    ASSERT_EQ(::mkdir(outside, 0755), 0);
    for (const QByteArray &name : {QByteArray("/r\xe9sum\xe9.txt"), QByteArray("/empty.bin")}) {
        const int fd = ::open((outside + name).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        if (name == "/empty.bin")
            ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0);
        else
            ASSERT_EQ(::write(fd, "cv", 2), 2);
        ::close(fd);
    }
    ASSERT_TRUE(folder->importResource(QFile::decodeName(outside), web + QStringLiteral("/old")));
    struct stat status{};
    ASSERT_EQ(::stat(raw + "/old/r\xe9sum\xe9.txt", &status), 0) << "the file whose name is not UTF-8 was left out";
    EXPECT_EQ(status.st_size, 2);
    ASSERT_EQ(::stat(raw + "/old/empty.bin", &status), 0);
    EXPECT_EQ(status.st_size, off_t(1) << 30);
    EXPECT_LT(qint64(status.st_blocks) * 512, qint64(1) << 20) << "the holes were written out";
}

// A pipe, or a link to a device, in the web folder is never read: the listing leaves it out
// and says so, and the theme scan and the reads of a resource's text end at once.
TEST_F(WebFolderTest, PipesAndDevicesAreSkippedWithAWarning)
{
    KRTest::writeFile(web + QStringLiteral("/site.css"), "body{}");
    KRTest::writeFile(web + QStringLiteral("/blue.css"), themeCSS);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), web + QStringLiteral("/theme.css")));
    QDir().mkpath(web + QStringLiteral("/css"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(web + QStringLiteral("/css/feed.css")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("css/feed.css"), web + QStringLiteral("/feed-link.css")));

    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("blue.css"), QStringLiteral("css"), QStringLiteral("site.css")}));
    QStringList skipped = folder->skippedFiles();
    skipped.sort();
    EXPECT_EQ(skipped, (QStringList{QStringLiteral("kr-web/css/feed.css is a pipe, not a regular file; it is skipped"),
                                    QStringLiteral("kr-web/feed-link.css is a link to a pipe, not a regular file; it is skipped"),
                                    QStringLiteral("kr-web/theme.css is a link to a device, not a regular file; it is skipped")}));
    EXPECT_EQ(folder->themes(), QStringList{QStringLiteral("blue")});
    EXPECT_TRUE(find(QStringLiteral("css"))->contents().isEmpty());
    // Asked directly (an import's destination, say), the theme test reads nothing of them.
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(web + QStringLiteral("/theme.css")));
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(web + QStringLiteral("/css/feed.css")));
    // Nor is one imported: the copy ends at once with the reason, and nothing is left.
    const qsizetype before = alerts->shownAlerts().size();
    EXPECT_FALSE(folder->importResource(web + QStringLiteral("/css/feed.css"), web + QStringLiteral("/copy.css")));
    ASSERT_EQ(alerts->shownAlerts().size(), before + 1);
    EXPECT_TRUE(alerts->shownAlerts().last().messageText.contains(QStringLiteral("a pipe")))
        << alerts->shownAlerts().last().messageText.toStdString();
    EXPECT_FALSE(QFileInfo(web + QStringLiteral("/copy.css")).exists());

    folder->reloadResources();
    QFile::remove(web + QStringLiteral("/theme.css"));
    QFile::remove(web + QStringLiteral("/feed-link.css"));
    QFile::remove(web + QStringLiteral("/css/feed.css"));
    EXPECT_EQ(topNames(), (QStringList{QStringLiteral("blue.css"), QStringLiteral("css"), QStringLiteral("site.css")}));
    EXPECT_TRUE(folder->skippedFiles().isEmpty());
}

#include <core/KRDataExtensions.h>
#include <core/KRFileManagerAdditions.h>
#include <core/KRXMLDocument.h>
#include <core/KRXMLNode.h>
#include <core/QZZipArchive.h>
#include <model/KREditableResourceTypes.h>
#include <model/KRProjectResource.h>
#include <model/KRProjectResourceCache.h>
#include <model/KRProjectResourceWorkspace.h>
#include <model/KRProjectTheme.h>
#include <model/KRWebFolder.h>
#include <model/KRWebFolderOwner.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>

#include "../support/KRTestSupport.h"
#include "KRWebFolderTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

using KRWebFolderTest::Owner;
using KRWebFolderTest::marksWork;
using KRWebFolderTest::themeCSS;
const QString isThemeMark = QString::fromLatin1(KRProjectResource::IsThemeMark);

class ProjectResourceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRResources::setResourcesDirectory(QStringLiteral(KR_SOURCE_DIR "/resources"));
        dir = KRTest::makeTempDir(QStringLiteral("res"));
    }
    QString dir;
};

TEST_F(ProjectResourceTest, ThemeTestNeedsAllFourSelectors)
{
    const QString theme = dir + QStringLiteral("/theme.css");
    const QString plain = dir + QStringLiteral("/plain.css");
    KRTest::writeFile(theme, "/* theme */\n" + themeCSS);
    KRTest::writeFile(plain, ".ui-btn{} .ui-body-a{} .ui-bar-a{}");
    EXPECT_TRUE(KRProjectResource::fileIsJQMTheme(theme));
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(plain));

    // Only a name ending in ".css" can be a theme, whatever it holds.
    const QString text = dir + QStringLiteral("/theme.txt");
    KRTest::writeFile(text, themeCSS);
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(text));
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(dir + QStringLiteral("/missing.css")));
    // Text that is not UTF-8 cannot be read as a stylesheet.
    const QString binary = dir + QStringLiteral("/binary.css");
    KRTest::writeFile(binary, themeCSS + "\xff\xfe");
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(binary));
}

// The test reads a large file in blocks (an archive's entry can be hundreds of megabytes):
// a selector or a character split between blocks counts as in one piece, and a bad byte far
// into the file or a character cut off at its end still makes it no theme.
TEST_F(ProjectResourceTest, ThemeTestOfLargeFilesReadInBlocks)
{
    const qsizetype block = qsizetype(1) << 20;
    const auto write = [&](const QString &name, const QByteArray &bytes) {
        KRTest::writeFile(dir + QLatin1Char('/') + name, bytes);
        return dir + QLatin1Char('/') + name;
    };
    QByteArray split(block - 4, ' ');
    split += ".ui-shadow{} \xc3\xa9 .ui-btn{} .ui-body-a{} .ui-bar-a{}";
    EXPECT_TRUE(KRProjectResource::fileIsJQMTheme(write(QStringLiteral("split.css"), split)));
    QByteArray character(block - 1, ' ');
    character += "\xc3\xa9" + themeCSS;
    EXPECT_TRUE(KRProjectResource::fileIsJQMTheme(write(QStringLiteral("character.css"), character)));
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(write(QStringLiteral("late.css"), themeCSS + QByteArray(3 * block, ' ') + "\xe9 ")));
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(write(QStringLiteral("cut.css"), themeCSS + QByteArray(block, ' ') + "\xe2\x82")));
}

TEST_F(ProjectResourceTest, ThemeVerdictIsCachedInTheFileMark)
{
    SKIP_WITHOUT_MARKS(dir);
    const QString theme = dir + QStringLiteral("/blue.css");
    const QString plain = dir + QStringLiteral("/site.css");
    KRTest::writeFile(theme, themeCSS);
    KRTest::writeFile(plain, "body{}");
    ASSERT_TRUE(KRProjectResource::fileIsJQMTheme(theme));
    ASSERT_FALSE(KRProjectResource::fileIsJQMTheme(plain));
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(theme, isThemeMark), QStringLiteral("true"));
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(plain, isThemeMark), QStringLiteral("false"));

    // The second test believes the mark, not the text.
    KRTest::writeFile(theme, "body{}");
    KRTest::writeFile(plain, themeCSS);
    EXPECT_TRUE(KRProjectResource::fileIsJQMTheme(theme));
    EXPECT_FALSE(KRProjectResource::fileIsJQMTheme(plain));

    // An emptied mark (a saved edit) makes the test read the file again.
    KRFileManager::setExtendedAttributeOfItemAtPath(plain, isThemeMark, QString());
    EXPECT_TRUE(KRProjectResource::fileIsJQMTheme(plain));
}

TEST_F(ProjectResourceTest, RecordCachesItsVerdictAndNeverCallsAGeneratedFileATheme)
{
    const QString path = dir + QStringLiteral("/blue.css");
    KRTest::writeFile(path, themeCSS);
    KRProjectResource generated;
    generated.setName(QStringLiteral("blue.css"));
    generated.setFullPath(path);
    generated.setIsGenerated(true);
    EXPECT_FALSE(generated.isTheme());

    KRProjectResource record;
    record.setName(QStringLiteral("blue.css"));
    record.setFullPath(path);
    EXPECT_TRUE(record.isTheme());
    QFile::remove(path);
    EXPECT_TRUE(record.isTheme()); // for the record's life
}

QString writeZip(const QString &path, const QList<QPair<QString, QByteArray>> &entries)
{
    QZZipArchive zip(path);
    EXPECT_TRUE(zip.open());
    for (const auto &[name, bytes] : entries)
        EXPECT_TRUE(zip.writeData(bytes, name));
    EXPECT_TRUE(zip.close());
    return path;
}

TEST_F(ProjectResourceTest, ZipThemeNeedsItsMinifiedTwin)
{
    const QString pair = writeZip(dir + QStringLiteral("/pair.zip"),
                                  {{QStringLiteral("readme.txt"), "x"},
                                   {QStringLiteral("themes/blue.min.css"), themeCSS},
                                   {QStringLiteral("themes/blue.css"), themeCSS}});
    EXPECT_EQ(KRProjectResource::zipFileJQMTheme(pair), QStringLiteral("themes/blue.css"));

    const QString single = writeZip(dir + QStringLiteral("/single.zip"),
                                    {{QStringLiteral("themes/blue.css"), themeCSS}});
    EXPECT_EQ(KRProjectResource::zipFileJQMTheme(single), QString());

    const QString broken = dir + QStringLiteral("/broken.zip");
    KRTest::writeFile(broken, "PK\x03\x04 not really");
    EXPECT_EQ(KRProjectResource::zipFileJQMTheme(broken), QString());
}

TEST_F(ProjectResourceTest, ThemeRelativePathPrefixesTheFileName)
{
    KRProjectResource nested;
    nested.setRelativePath(QStringLiteral("css/blue.css"));
    EXPECT_EQ(nested.themeRelativePath(), QStringLiteral("css/__blue.css"));
    KRProjectResource top;
    top.setRelativePath(QStringLiteral("blue.css"));
    EXPECT_EQ(top.themeRelativePath(), QStringLiteral("__blue.css"));
}

TEST_F(ProjectResourceTest, ResourceTypeComparesExtensionsExactly)
{
    KRProjectResource lower;
    lower.setFullPath(dir + QStringLiteral("/a.css"));
    ASSERT_TRUE(lower.isEditable());
    EXPECT_EQ(lower.resourceTypeInfo()->syntaxName(), QStringLiteral("CSS"));

    KRProjectResource upper;
    upper.setFullPath(dir + QStringLiteral("/A.CSS"));
    EXPECT_FALSE(upper.isEditable());

    KRProjectResource image;
    image.setFullPath(dir + QStringLiteral("/logo.png"));
    EXPECT_FALSE(image.isEditable());
}

TEST_F(ProjectResourceTest, Md5SumOfTheFileOrOfNothing)
{
    const QString path = dir + QStringLiteral("/abc.txt");
    KRTest::writeFile(path, "abc");
    KRProjectResource record;
    record.setFullPath(path);
    EXPECT_EQ(record.md5Sum(), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    // Bigger than one read block.
    KRTest::writeFile(path, QByteArray(10000, 'a'));
    EXPECT_EQ(record.md5Sum(), QStringLiteral("0d0c9c4db6953fee9e03f528cafd7d3e"));
    record.setFullPath(dir + QStringLiteral("/missing"));
    EXPECT_EQ(record.md5Sum(), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
}

struct DecodeCase {
    const char *name;
    QByteArray bytes;
    const char *encoding;
    std::optional<QString> expected;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(DecodeTest, DecodesWithTheStoredEncoding)
{
    const DecodeCase &c = GetParam();
    EXPECT_EQ(KRProjectResourceCache::decode(c.bytes, QString::fromLatin1(c.encoding)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodeTest,
    ::testing::Values(
        DecodeCase{"utf8", "caf\xc3\xa9", "UTF-8", QStringLiteral("caf\u00e9")},
        DecodeCase{"noEncodingMeansUtf8", "caf\xc3\xa9", "", QStringLiteral("caf\u00e9")},
        DecodeCase{"latin1", "caf\xe9", "ISO-8859-1", QStringLiteral("caf\u00e9")},
        DecodeCase{"windows1252ThroughIcu", "\x80 5", "windows-1252", QStringLiteral("\u20ac 5")},
        DecodeCase{"utf16le", QByteArray("a\0b\0", 4), "UTF-16LE", QStringLiteral("ab")},
        DecodeCase{"empty", "", "UTF-8", QStringLiteral("")},
        DecodeCase{"invalidUtf8", "caf\xe9", "UTF-8", std::nullopt},
        DecodeCase{"unknownEncoding", "abc", "no-such-encoding", std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

class ResourceCacheTest : public ProjectResourceTest
{
protected:
    Owner owner;
};

TEST_F(ResourceCacheTest, StringContentsPrefersEditedBytesInTheirEncoding)
{
    owner.package = dir;
    auto folder = KRWebFolder::create(&owner);
    KRTest::writeFile(folder->krwebPath() + QStringLiteral("/a.css"), "body { color: red; } /* \xc3\xa9 */");
    const auto resource = folder->resources().value(0);
    ASSERT_TRUE(resource);
    EXPECT_EQ(resource->stringContents(), QStringLiteral("body { color: red; } /* \u00e9 */"));

    // The editor stored its text in Latin-1: the design view must see the same text.
    folder->modifiedResourceCache().setContents(QStringLiteral("a.css"), "/* caf\xe9 */",
                                                QStringLiteral("ISO-8859-1"));
    EXPECT_EQ(resource->stringContents(), QStringLiteral("/* caf\u00e9 */"));
    EXPECT_EQ(folder->modifiedResourceCache().entries().value(QStringLiteral("a.css//enc")).toString(),
              QStringLiteral("ISO-8859-1"));

    folder->modifiedResourceCache().remove(QStringLiteral("a.css"));
    EXPECT_TRUE(folder->modifiedResourceCache().isEmpty());
    KRTest::writeFile(resource->fullPath(), "\xff\xfe");
    EXPECT_EQ(resource->stringContents(), std::nullopt);
}

TEST_F(ResourceCacheTest, RemoveTreeDropsEverythingBelowAFolder)
{
    KRProjectResourceCache cache;
    cache.setContents(QStringLiteral("css"), "x", QString());
    cache.setContents(QStringLiteral("css/a.css"), "a", QString());
    cache.setContents(QStringLiteral("css/sub/b.css"), "b", QString());
    cache.setContents(QStringLiteral("cssx.css"), "c", QString());
    cache.removeTree(QStringLiteral("css"));
    EXPECT_EQ(cache.relativePaths(), QStringList{QStringLiteral("cssx.css")});
    EXPECT_EQ(cache.entries().size(), 2);
}

class Workspace : public KRProjectResourceWorkspace
{
public:
    bool openURL(const QUrl &url) override
    {
        calls << QStringLiteral("open ") + url.toLocalFile();
        return true;
    }
    bool selectItem(const QString &path, const QString &root) override
    {
        calls << QStringLiteral("select ") + path + QStringLiteral(" in ") + root;
        return true;
    }
    QStringList calls;
};

// What the outline hands to the desktop: only items inside the project's web folder (a link
// leading out of it is refused), and never a program or a desktop launcher to the opener.
TEST_F(ProjectResourceTest, TheDesktopGetsOnlyItemsOfTheWebFolderAndNoPrograms)
{
    auto alerts = std::make_shared<KRScriptedAlertService>();
    KRAlertService::setCurrent(alerts);
    auto workspace = std::make_shared<Workspace>();
    KRProjectResourceWorkspace::setCurrent(workspace);
    Owner owner;
    owner.package = dir;
    const std::shared_ptr<KRWebFolder> folder = KRWebFolder::create(&owner);
    const QString web = QFileInfo(dir).canonicalFilePath() + QStringLiteral("/kr-web");
    const QString outside = KRTest::makeTempDir(QStringLiteral("outside"));
    KRTest::writeFile(web + QStringLiteral("/a.css"), "a");
    KRTest::writeFile(web + QStringLiteral("/tool.js"), "t");
    QFile::setPermissions(web + QStringLiteral("/tool.js"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    KRTest::writeFile(web + QStringLiteral("/start.desktop"), "[Desktop Entry]\nExec=true\n");
    KRTest::writeFile(outside + QStringLiteral("/secret.txt"), "s");
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/secret.txt"), web + QStringLiteral("/secret.txt")));
    const auto record = [&](const QString &name) {
        for (const std::shared_ptr<KRProjectResource> &resource : folder->resources())
            if (resource->name() == name)
                return resource;
        ADD_FAILURE() << "no resource " << name.toStdString();
        return std::make_shared<KRProjectResource>();
    };
    const auto lastAlert = [&] {
        return alerts->shownAlerts().isEmpty() ? QString() : alerts->shownAlerts().last().messageText;
    };

    EXPECT_TRUE(record(QStringLiteral("a.css"))->revealResourceInFinder());
    EXPECT_TRUE(record(QStringLiteral("a.css"))->openResourceWithFinder());
    EXPECT_EQ(workspace->calls, (QStringList{QStringLiteral("select ") + web + QStringLiteral("/a.css in ") + web,
                                             QStringLiteral("open ") + web + QStringLiteral("/a.css")}));
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());

    // A program and a launcher may be shown, never opened.
    workspace->calls.clear();
    EXPECT_TRUE(record(QStringLiteral("tool.js"))->revealResourceInFinder());
    EXPECT_FALSE(record(QStringLiteral("tool.js"))->openResourceWithFinder());
    EXPECT_EQ(lastAlert(), QStringLiteral("\u201Ctool.js\u201D is not opened because it is a program."));
    EXPECT_FALSE(record(QStringLiteral("start.desktop"))->openResourceWithFinder());
    EXPECT_EQ(lastAlert(), QStringLiteral("\u201Cstart.desktop\u201D is not opened because it is a desktop launcher."));
    EXPECT_EQ(workspace->calls, QStringList{QStringLiteral("select ") + web + QStringLiteral("/tool.js in ") + web});

    // A link out of the project is neither shown nor opened.
    workspace->calls.clear();
    EXPECT_FALSE(record(QStringLiteral("secret.txt"))->revealResourceInFinder());
    EXPECT_FALSE(record(QStringLiteral("secret.txt"))->openResourceWithFinder());
    EXPECT_EQ(lastAlert(), QStringLiteral("\u201Csecret.txt\u201D is not inside the project\u2019s folder, so it is not opened."));
    EXPECT_TRUE(workspace->calls.isEmpty());
    // Nor is a record of no project.
    KRProjectResource loose;
    loose.setFullPath(web + QStringLiteral("/a.css"));
    EXPECT_FALSE(loose.openResourceWithFinder());
    EXPECT_TRUE(workspace->calls.isEmpty());

    // Without a desktop service nothing is opened.
    KRProjectResourceWorkspace::setCurrent(nullptr);
    EXPECT_FALSE(record(QStringLiteral("a.css"))->openResourceWithFinder());
    EXPECT_FALSE(record(QStringLiteral("a.css"))->revealResourceInFinder());
    KRAlertService::setCurrent(nullptr);
}

TEST(EditableResourceTypes, ReadsTheTableAndSkipsBadEntries)
{
    const auto notJson = KREditableResourceTypes::loadFromData("[{");
    ASSERT_FALSE(notJson.ok());
    EXPECT_EQ(notJson.error().domain(), QString::fromLatin1(KREditableResourceTypes::ErrorDomain));

    const auto notArray = KREditableResourceTypes::loadFromData("{\"extensions\": [\"css\"]}");
    ASSERT_TRUE(notArray.ok());
    EXPECT_TRUE(notArray->isEmpty());

    const auto table = KREditableResourceTypes::loadFromData(
        R"([7, {"syntax": "CSS"},
            {"extensions": ["js"], "syntax": "JavaScript"},
            {"extensions": ["txt"], "template": {"description": "Text"}},
            {"extensions": ["css", "less"], "template": {"description": "Sheet", "templateFile": "templates/s.css"}}])");
    ASSERT_TRUE(table.ok());
    ASSERT_EQ(table->types().size(), 3);
    EXPECT_EQ(table->typeForExtension(QStringLiteral("js"))->syntaxName(), QStringLiteral("JavaScript"));
    EXPECT_EQ(table->typeForExtension(QStringLiteral("txt"))->syntaxName(), QStringLiteral("none"));
    EXPECT_FALSE(table->typeForExtension(QStringLiteral("txt"))->hasTemplate());
    EXPECT_EQ(table->typeForExtension(QStringLiteral("less"))->templateFile, QStringLiteral("templates/s.css"));
    EXPECT_EQ(table->typeForExtension(QStringLiteral("LESS")), nullptr);
    ASSERT_EQ(table->templates().size(), 1);
    EXPECT_EQ(table->templates().value(0).templateDescription, QStringLiteral("Sheet"));
}

TEST(EditableResourceTypes, ShippedTableNamesExistingTemplatesAndUniqueExtensions)
{
    const QString resources = QStringLiteral(KR_SOURCE_DIR "/resources");
    const auto table = KREditableResourceTypes::loadFromFile(resources + QLatin1Char('/') + KREditableResourceTypes::FileName);
    ASSERT_TRUE(table.ok()) << table.error().toString().toStdString();
    ASSERT_FALSE(table->isEmpty());
    QSet<QString> seen;
    for (const KREditableResourceType &type : table->types()) {
        EXPECT_FALSE(type.extensions.isEmpty());
        for (const QString &extension : type.extensions) {
            EXPECT_FALSE(seen.contains(extension)) << extension.toStdString() << " appears twice";
            seen.insert(extension);
        }
        if (type.hasTemplate()) {
            EXPECT_FALSE(type.templateDescription.isEmpty());
            EXPECT_TRUE(QFileInfo(resources + QLatin1Char('/') + type.templateFile).isFile())
                << type.templateFile.toStdString();
        }
    }
    for (const char *needed : {"css", "js", "html"})
        EXPECT_TRUE(seen.contains(QLatin1String(needed))) << needed;
}

TEST(ProjectTheme, WritesThroughToItsElement)
{
    const auto document = KRXMLDocument::fromData(
        "<KRThemes><KRProjectTheme name=\"mytheme\">.a{}</KRProjectTheme><KRProjectTheme>.b{}</KRProjectTheme></KRThemes>");
    ASSERT_TRUE(document.ok());
    const QList<KRXMLNode> elements = document->rootElement().elements();
    KRProjectTheme theme(elements.value(0));
    EXPECT_EQ(theme.name(), QStringLiteral("mytheme"));
    EXPECT_EQ(theme.css(), QStringLiteral(".a{}"));
    EXPECT_EQ(theme.filename(), KRData::MD5String(QByteArray(".a{}")) + QStringLiteral(".css"));

    theme.setCss(QStringLiteral(".c{}"));
    theme.setName(QStringLiteral("other"));
    EXPECT_EQ(elements.value(0).stringValue(), QStringLiteral(".c{}"));
    EXPECT_EQ(elements.value(0).attribute(QStringLiteral("name")), QStringLiteral("other"));
    EXPECT_EQ(theme.filename(), KRData::MD5String(QByteArray(".c{}")) + QStringLiteral(".css"));

    // Only an existing name attribute is written.
    KRProjectTheme unnamed(elements.value(1));
    unnamed.setName(QStringLiteral("x"));
    EXPECT_EQ(unnamed.name(), QStringLiteral("x"));
    EXPECT_FALSE(elements.value(1).hasAttribute(QStringLiteral("name")));
}

} // namespace

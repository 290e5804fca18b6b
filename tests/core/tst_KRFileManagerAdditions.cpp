#include <core/KRFileManagerAdditions.h>
#include <platform/foundation/KRPaths.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/xattr.h>

namespace {

const QString mark = QStringLiteral("com.korvane.generatedFile");

// Whether the file system under the test folder keeps user attributes.
bool userAttributesSupported(const QString &folder)
{
    const QString probe = folder + "/.xattr-probe";
    KRTest::writeFile(probe, "x");
    const QByteArray path = QFile::encodeName(probe);
    const bool ok = ::setxattr(path.constData(), "user.kr-probe", "1", 1, 0) == 0;
    QFile::remove(probe);
    return ok;
}

} // namespace

TEST(KRFileManagerMarks, AbsentMarkReadsEmpty)
{
    const QString dir = KRTest::makeTempDir("marks");
    KRTest::writeFile(dir + "/plain.txt", "x");
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(dir + "/plain.txt", mark), "");
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(dir + "/missing.txt", mark), "");
}

TEST(KRFileManagerMarks, SetsUnderUserNamespaceAndReadsBack)
{
    const QString dir = KRTest::makeTempDir("marks");
    if (!userAttributesSupported(dir))
        GTEST_SKIP() << "the file system of the test folder refuses user extended attributes";
    const QString file = dir + "/a.css";
    KRTest::writeFile(file, "x");
    KRFileManager::setExtendedAttributeOfItemAtPath(file, mark, QStringLiteral("thème"));
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(file, mark), "thème");

    char raw[64] = {};
    const ssize_t n = ::getxattr(QFile::encodeName(file).constData(),
                                 "user.com.korvane.generatedFile", raw, sizeof raw);
    EXPECT_EQ(QByteArray(raw, int(n)), QStringLiteral("thème").toUtf8());
}

TEST(KRFileManagerMarks, MarksWholeTreeWithoutLeavingIt)
{
    const QString dir = KRTest::makeTempDir("marks");
    if (!userAttributesSupported(dir))
        GTEST_SKIP() << "the file system of the test folder refuses user extended attributes";
    const QString outside = KRTest::makeTempDir("outside");
    KRTest::writeFile(outside + "/foreign.txt", "x");
    KRTest::writeFile(dir + "/tree/top.txt", "x");
    KRTest::writeFile(dir + "/tree/sub/deeper/leaf.txt", "x");
    ASSERT_TRUE(QFile::link(outside, dir + "/tree/link"));

    KRFileManager::setExtendedAttributesOfAllItemsAtPath(dir + "/tree", mark, "yes");
    for (const char *item : {"", "/top.txt", "/sub", "/sub/deeper", "/sub/deeper/leaf.txt"})
        EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(dir + "/tree" + item, mark), "yes") << item;
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(outside, mark), "");
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(outside + "/foreign.txt", mark), "");
}

// Writes of user data replace a link at the target, never write through it (a package's
// project.xml or resource may be a link to any file of the user's); a failed write leaves
// the target and its folder as they were.
TEST(KRFileManagerAtomicWrite, ReplacesLinksKeepsPermissionsAndLeavesNothingOnFailure)
{
    const QString dir = KRTest::makeTempDir("atomic");
    const QString outside = KRTest::makeTempDir("outside") + "/victim.txt";
    KRTest::writeFile(outside, "the user's own");
    ASSERT_TRUE(QFile::link(outside, dir + "/linked.xml"));
    ASSERT_TRUE(KRFileManager::writeFileAtomically(dir + "/linked.xml", "written").ok());
    EXPECT_EQ(KRTest::readFile(outside), QByteArray("the user's own"));
    EXPECT_FALSE(QFileInfo(dir + "/linked.xml").isSymLink());
    EXPECT_EQ(KRTest::readFile(dir + "/linked.xml"), QByteArray("written"));

    // A link that leads nowhere is replaced too; nothing is made where it pointed.
    const QString nowhere = KRTest::makeTempDir("nowhere") + "/made.txt";
    ASSERT_TRUE(QFile::link(nowhere, dir + "/dangling.js"));
    ASSERT_TRUE(KRFileManager::writeFileAtomically(dir + "/dangling.js", "x", false).ok());
    EXPECT_FALSE(QFileInfo::exists(nowhere));
    EXPECT_EQ(KRTest::readFile(dir + "/dangling.js"), QByteArray("x"));

    KRTest::writeFile(dir + "/private.txt", "old");
    ASSERT_TRUE(QFile::setPermissions(dir + "/private.txt", QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    const QFileDevice::Permissions permissions = QFile::permissions(dir + "/private.txt");
    ASSERT_TRUE(KRFileManager::writeFileAtomically(dir + "/private.txt", "new").ok());
    EXPECT_EQ(QFile::permissions(dir + "/private.txt"), permissions);
    EXPECT_EQ(KRTest::readFile(dir + "/private.txt"), QByteArray("new"));

    // A folder at the target is refused; a folder that cannot be written to fails. Either
    // way nothing is left behind.
    QDir().mkpath(dir + "/folder");
    const auto refused = KRFileManager::writeFileAtomically(dir + "/folder", "x");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().domain(), "NSPOSIXErrorDomain");
    EXPECT_FALSE(refused.error().message().isEmpty());
    EXPECT_FALSE(KRFileManager::writeFileAtomically(dir + "/missing/file.txt", "x").ok());
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
              QStringList({"dangling.js", "folder", "linked.xml", "private.txt"}));
}

TEST(KRFileManagerTemporary, FreshPathsUnderPrivateFolder)
{
    const QString a = KRFileManager::pathForTemporaryFileWithPrefix("kr-theme-extraction");
    const QString b = KRFileManager::pathForTemporaryFileWithPrefix("kr-theme-extraction");
    EXPECT_NE(a, b);
    const QString folder = KRPaths::temporaryDirectory();
    ASSERT_FALSE(folder.isEmpty());
    static const QRegularExpression shape(QStringLiteral(
        "^kr-theme-extraction-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    for (const QString &path : {a, b}) {
        EXPECT_EQ(QFileInfo(path).absolutePath(), folder);
        EXPECT_TRUE(shape.match(QFileInfo(path).fileName()).hasMatch()) << path.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

TEST(KRFileManagerDirectories, FindsOrCreatesTheFolder)
{
    const auto first = KRFileManager::findOrCreateDirectory(
        KRFileManager::SearchPathDirectory::ApplicationSupport, "Fresh/Nested");
    ASSERT_TRUE(first.ok()) << first.error().toString().toStdString();
    EXPECT_EQ(*first, qEnvironmentVariable("XDG_DATA_HOME") + "/Fresh/Nested");
    EXPECT_TRUE(QFileInfo(*first).isDir());
    // Again, now that it exists.
    const auto second = KRFileManager::findOrCreateDirectory(
        KRFileManager::SearchPathDirectory::ApplicationSupport, "Fresh/Nested");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(*second, *first);

    EXPECT_EQ(KRFileManager::applicationSupportDirectory(), KRPaths::applicationSupportDirectory());
}

TEST(KRFileManagerDirectories, PlainFileInTheWayIsCodeOne)
{
    KRTest::writeFile(qEnvironmentVariable("XDG_CACHE_HOME") + "/Blocked", "a file");
    const auto result = KRFileManager::findOrCreateDirectory(KRFileManager::SearchPathDirectory::Caches,
                                                             "Blocked");
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().domain(), "DirectoryLocationDomain");
    EXPECT_EQ(result.error().code(), 1);
    EXPECT_EQ(result.error().message(), "File exists at requested directory location.");
    EXPECT_EQ(result.error().userInfo().value("NSSearchPathDirectory").toInt(), 13);
    EXPECT_EQ(result.error().userInfo().value("NSSearchPathDomainMask").toInt(), 1);

    // Below the file: creation fails with the system's reason.
    const auto below = KRFileManager::findOrCreateDirectory(KRFileManager::SearchPathDirectory::Caches,
                                                            "Blocked/inner");
    ASSERT_FALSE(below.ok());
    EXPECT_EQ(below.error().domain(), "NSPOSIXErrorDomain");
}

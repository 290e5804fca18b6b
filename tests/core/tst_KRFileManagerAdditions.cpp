#include <core/KRFileManagerAdditions.h>
#include <platform/foundation/KRPaths.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>

#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

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

// A package's file is read only when what was opened is a regular file within the limit: a
// pipe, a device, a folder or a link to one is refused at once (never blocking), and so is a
// file over the limit; a copy makes the same refusals and leaves nothing behind.
TEST(KRFileManagerPackageFiles, OnlyRegularFilesWithinTheLimitAreReadOrCopied)
{
    const QString dir = KRTest::makeTempDir("package");
    KRTest::writeFile(dir + "/site.css", "body{}");
    ASSERT_TRUE(QFile::link(dir + "/site.css", dir + "/site-link.css"));
    ASSERT_TRUE(QFile::link("/dev/zero", dir + "/zero.css"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/pipe.css").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(dir + "/pipe.css", dir + "/pipe-link.css"));
    ASSERT_TRUE(QDir().mkpath(dir + "/folder.css"));
    ASSERT_TRUE(QFile::link(dir + "/missing.css", dir + "/dangling.css"));

    using namespace KRFileManager;
    EXPECT_EQ(readPackageFile(dir + "/site.css").value(), QByteArray("body{}"));
    EXPECT_EQ(readPackageFile(dir + "/site-link.css").value(), QByteArray("body{}"));
    EXPECT_EQ(readPackageFile(dir + "/site.css", 6).value(), QByteArray("body{}"));
    const struct {
        const char *name;
        int code;
        const char *says;
    } refused[] = {
        {"zero.css", PackageFileNotRegular, "\u201Czero.css\u201D is a link to a device, not a regular file"},
        {"pipe.css", PackageFileNotRegular, "\u201Cpipe.css\u201D is a pipe, not a regular file"},
        {"pipe-link.css", PackageFileNotRegular, "is a link to a pipe"},
        {"folder.css", PackageFileNotRegular, "is a folder"},
        {"dangling.css", PackageFileUnreadable, "couldn\u2019t be read"},
        {"missing.css", PackageFileUnreadable, "couldn\u2019t be read"},
    };
    for (const auto &item : refused) {
        SCOPED_TRACE(item.name);
        const KRResult<QByteArray> read = readPackageFile(dir + "/" + item.name);
        ASSERT_FALSE(read.ok());
        EXPECT_EQ(read.error().domain(), QLatin1String(PackageFileErrorDomain));
        EXPECT_EQ(read.error().code(), item.code);
        EXPECT_TRUE(read.error().message().contains(QString::fromUtf8(item.says))) << read.error().message().toStdString();
        const KRResult<void> copied = copyPackageFile(dir + "/" + item.name, dir + "/copy.css");
        ASSERT_FALSE(copied.ok());
        EXPECT_EQ(copied.error().code(), item.code);
        EXPECT_FALSE(QFileInfo(dir + "/copy.css").exists() || QFileInfo(dir + "/copy.css").isSymLink());
    }
    const KRResult<QByteArray> large = readPackageFile(dir + "/site.css", 5);
    ASSERT_FALSE(large.ok());
    EXPECT_EQ(large.error().code(), PackageFileTooLarge);
    EXPECT_EQ(copyPackageFile(dir + "/site.css", dir + "/copy.css", 5).error().code(), PackageFileTooLarge);
    EXPECT_FALSE(QFileInfo::exists(dir + "/copy.css"));

    // A copy keeps the permissions, and never replaces nor writes through what is there.
    QFile::setPermissions(dir + "/site.css", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(copyPackageFile(dir + "/site-link.css", dir + "/copy.css").ok());
    EXPECT_EQ(KRTest::readFile(dir + "/copy.css"), QByteArray("body{}"));
    EXPECT_FALSE(QFileInfo(dir + "/copy.css").isSymLink());
    EXPECT_TRUE(QFileInfo(dir + "/copy.css").isExecutable());
    KRTest::writeFile(dir + "/other.css", "p{}");
    EXPECT_FALSE(copyPackageFile(dir + "/other.css", dir + "/copy.css").ok());
    EXPECT_EQ(KRTest::readFile(dir + "/copy.css"), QByteArray("body{}"));
    ASSERT_TRUE(QFile::link(dir + "/victim.css", dir + "/trap.css"));
    EXPECT_FALSE(copyPackageFile(dir + "/other.css", dir + "/trap.css").ok());
    EXPECT_FALSE(QFileInfo::exists(dir + "/victim.css"));

    EXPECT_EQ(specialFileKind(dir + "/site.css"), QString());
    EXPECT_EQ(specialFileKind(dir + "/site-link.css"), QString());
    EXPECT_EQ(specialFileKind(dir + "/folder.css"), QString());
    EXPECT_EQ(specialFileKind(dir + "/dangling.css"), QString());
    EXPECT_EQ(specialFileKind(dir + "/missing.css"), QString());
    EXPECT_EQ(specialFileKind(dir + "/zero.css"), QStringLiteral("a link to a device"));
    EXPECT_EQ(specialFileKind(dir + "/pipe.css"), QStringLiteral("a pipe"));
    EXPECT_EQ(specialFileKind(dir + "/pipe-link.css"), QStringLiteral("a link to a pipe"));
}

// A folder of the tree swapped for a link is never written through, and the refusal leaves
// nothing behind in the folder the link leads to.
TEST(KRFileManagerAtomicWrite, BelowRootFollowsNoLinkOnTheWay)
{
    const QString root = KRTest::makeTempDir("package");
    const QString outside = KRTest::makeTempDir("outside");
    QDir().mkpath(root + "/kr-web/images");
    ASSERT_TRUE(KRFileManager::writeFileAtomicallyBelow(root, "kr-web/images/a.txt", "first").ok());
    EXPECT_EQ(KRTest::readFile(root + "/kr-web/images/a.txt"), QByteArray("first"));

    // The web folder, then a folder inside it, replaced by a link to a folder elsewhere.
    for (const QString &swapped : {QStringLiteral("kr-web"), QStringLiteral("kr-web/images")}) {
        const QString real = root + "/" + swapped + ".real";
        ASSERT_TRUE(QDir().rename(root + "/" + swapped, real));
        ASSERT_TRUE(QFile::link(outside, root + "/" + swapped));
        const auto refused = KRFileManager::writeFileAtomicallyBelow(root, "kr-web/images/a.txt", "second");
        ASSERT_FALSE(refused.ok()) << swapped.toStdString();
        EXPECT_TRUE(refused.error().code() == ELOOP || refused.error().code() == ENOTDIR);
        EXPECT_TRUE(QDir(outside).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
        ASSERT_TRUE(QFile::remove(root + "/" + swapped));
        ASSERT_TRUE(QDir().rename(real, root + "/" + swapped));
    }
    EXPECT_EQ(KRTest::readFile(root + "/kr-web/images/a.txt"), QByteArray("first"));

    for (const QString &bad : {QStringLiteral("../escape.txt"), QStringLiteral("kr-web//a.txt"), QStringLiteral("./a")})
        EXPECT_FALSE(KRFileManager::writeFileAtomicallyBelow(root, bad, "x").ok()) << bad.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(root).absolutePath() + "/escape.txt"));
}

// The replaced file keeps its owner, group, setgid bit and extended attributes; a read-only
// file is refused and stays as it was.
TEST(KRFileManagerAtomicWrite, KeepsOwnerModeAndAttributesAndRefusesReadOnly)
{
    const QString dir = KRTest::makeTempDir("keep");
    const QString file = dir + "/project.xml";
    const QByteArray path = QFile::encodeName(file);
    KRTest::writeFile(file, "old");
    ASSERT_EQ(::chmod(path.constData(), 02664), 0);
    const bool root = ::geteuid() == 0;
    if (root)
        ASSERT_EQ(::chown(path.constData(), 4321, 8765), 0);
    const bool attributes = userAttributesSupported(dir);
    if (attributes)
        ASSERT_EQ(::setxattr(path.constData(), "user.kr-test", "kept", 4, 0), 0);

    ASSERT_TRUE(KRFileManager::writeFileAtomically(file, "new").ok());
    EXPECT_EQ(KRTest::readFile(file), QByteArray("new"));
    struct stat status{};
    ASSERT_EQ(::stat(path.constData(), &status), 0);
    if (root) {
        EXPECT_EQ(status.st_uid, 4321u);
        EXPECT_EQ(status.st_gid, 8765u);
        EXPECT_EQ(status.st_mode & 07777, 02664u);
    } else {
        EXPECT_EQ(status.st_mode & 0777, 0664u);
    }
    if (attributes) {
        char value[16] = {};
        EXPECT_EQ(::getxattr(path.constData(), "user.kr-test", value, sizeof value), 4);
        EXPECT_EQ(QByteArray(value), QByteArray("kept"));
    }

    // No write permission: refused with a clear reason, even for a user who could rename over it.
    ASSERT_EQ(::chmod(path.constData(), 0444), 0);
    const ino_t inode = status.st_ino;
    const auto refused = KRFileManager::writeFileAtomicallyBelow(dir, "project.xml", "lost");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), EACCES);
    EXPECT_EQ(refused.error().message(), "the file is read-only");
    EXPECT_EQ(KRTest::readFile(file), QByteArray("new"));
    ASSERT_EQ(::stat(path.constData(), &status), 0);
    EXPECT_EQ(status.st_ino, inode);
    EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({"project.xml"}));
}

// Temporary files of a killed write are recognised and removed when older than the process;
// other files stay: a file that merely has such a name, and one a writer still holds.
TEST(KRFileManagerAtomicWrite, RemovesStaleTemporaryWrites)
{
    const QString dir = KRTest::makeTempDir("stale");
    if (!userAttributesSupported(dir))
        GTEST_SKIP() << "the file system of the test folder refuses user extended attributes";
    QDir().mkpath(dir + "/kr-web/js");
    const auto plant = [](const QString &file, bool marked) {
        KRTest::writeFile(file, "left by a killed save");
        if (marked)
            EXPECT_EQ(::setxattr(QFile::encodeName(file).constData(), "user.com.korvane.temporaryWrite", "1", 1, 0), 0);
        const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), old, 0), 0);
    };
    const QStringList stale = {dir + "/.kr-write-1a2b", dir + "/kr-web/js/.kr-write-ff"};
    for (const QString &file : stale)
        plant(file, true);
    plant(dir + "/.kr-write-0a0b", false); // the user's own, by its name alone
    plant(dir + "/kr-web/.kr-write-beef", true);
    const int writer = ::open(QFile::encodeName(dir + "/kr-web/.kr-write-beef").constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0); // a writer (of any process) still at it
    KRTest::writeFile(dir + "/.kr-write-fresh", "a write of this process");
    KRTest::writeFile(dir + "/kr-web/.kr-write", "not ours: no number");
    KRTest::writeFile(dir + "/project.xml", "x");
    EXPECT_TRUE(KRFileManager::isTemporaryWriteName(".kr-write-1a2b"));
    EXPECT_FALSE(KRFileManager::isTemporaryWriteName("kr-write-1a2b"));

    EXPECT_EQ(KRFileManager::removeStaleTemporaryWrites(dir), 2);
    for (const QString &file : stale)
        EXPECT_FALSE(QFileInfo::exists(file)) << file.toStdString();
    for (const char *kept : {"/.kr-write-0a0b", "/kr-web/.kr-write-beef", "/.kr-write-fresh", "/kr-web/.kr-write", "/project.xml"})
        EXPECT_TRUE(QFileInfo::exists(dir + kept)) << kept;
    ::close(writer);
    EXPECT_EQ(KRFileManager::removeStaleTemporaryWrites(dir), 1);
    EXPECT_FALSE(QFileInfo::exists(dir + "/kr-web/.kr-write-beef"));

    // What the atomic writes make is marked while written and never afterwards.
    ASSERT_TRUE(KRFileManager::writeFileAtomically(dir + "/page.html", "<html>", false,
                                                   {{QStringLiteral("com.korvane.generatedFile"), QStringLiteral("true")}}).ok());
    EXPECT_EQ(KRFileManager::extendedAttributeOfItemAtPath(dir + "/page.html", mark), "true");
    EXPECT_EQ(::getxattr(QFile::encodeName(dir + "/page.html").constData(), "user.com.korvane.temporaryWrite", nullptr, 0), -1);
}

// A write into a folder the user may not write says so, naming the folder and the system's
// reason (no read-only file is involved); a copy that fails names the item and why.
TEST(KRFileManagerAtomicWrite, FailuresNameTheFolderAndTheReason)
{
    const QString dir = KRTest::makeTempDir("closed");
    QDir().mkpath(dir + "/closed");
    ASSERT_EQ(::chmod(QFile::encodeName(dir + "/closed").constData(), 0555), 0);
    const int folder = ::open(QFile::encodeName(dir + "/closed").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    // As root, the file system is asked as another user (this thread only).
    const bool root = ::geteuid() == 0;
    if (root)
        ::setfsuid(65534);
    const auto refused = KRFileManager::writeFileAtomicallyIn(folder, "project.xml", dir + "/closed/project.xml", {"x"}, false, {});
    if (root)
        ::setfsuid(0);
    ::close(folder);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code(), EACCES);
    EXPECT_TRUE(refused.error().message().contains(dir + "/closed")) << refused.error().message().toStdString();
    EXPECT_TRUE(refused.error().message().contains(QString::fromLocal8Bit(std::strerror(EACCES))))
        << refused.error().message().toStdString();
    EXPECT_FALSE(refused.error().message().contains("read-only")) << refused.error().message().toStdString();

    // A copy onto an item that is there already names it.
    QDir().mkpath(dir + "/from");
    QDir().mkpath(dir + "/to");
    KRTest::writeFile(dir + "/from/a.txt", "a");
    KRTest::writeFile(dir + "/to/a.txt", "taken");
    const auto copied = KRFileManager::copyFolderContents(dir + "/from", dir + "/to");
    ASSERT_FALSE(copied.ok());
    EXPECT_TRUE(copied.error().message().contains(dir + "/to/a.txt")) << copied.error().message().toStdString();
    EXPECT_TRUE(copied.error().message().contains(QString::fromLocal8Bit(std::strerror(EEXIST))));
    EXPECT_EQ(KRTest::readFile(dir + "/to/a.txt"), QByteArray("taken"));
}

// Names are bytes: one that is not UTF-8 is shown with its odd bytes escaped, is found below
// a folder, and a package file copied by the importer keeps a sparse file's holes.
TEST(KRFileManagerCopies, OddNamesAreShownAndFoundAndHolesAreKept)
{
    EXPECT_EQ(KRFileManager::displayPath("kr-web/caf\xe9.png"), QStringLiteral("kr-web/caf\\xE9.png"));
    EXPECT_EQ(KRFileManager::displayPath("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    EXPECT_TRUE(KRFileManager::isDecodableName("caf\xc3\xa9"));
    EXPECT_FALSE(KRFileManager::isDecodableName("caf\xe9"));

    const QString dir = KRTest::makeTempDir("odd");
    QDir().mkpath(dir + "/web/css");
    const QByteArray web = QFile::encodeName(dir + "/web");
    ASSERT_EQ(::mkdir(web + "/d\xfcr", 0755), 0);
    const int odd = ::open(web + "/d\xfcr/caf\xe9.png", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(odd, 0);
    ::close(odd);
    KRTest::writeFile(dir + "/web/css/site.css", "body{}");
    EXPECT_EQ(KRFileManager::undecodableNamesBelow(dir + "/web"),
              (QStringList{QStringLiteral("d\\xFCr"), QStringLiteral("d\\xFCr/caf\\xE9.png")}));

    const QString sparse = dir + "/sparse.bin";
    const int fd = ::open(QFile::encodeName(sparse).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "end", 3, (off_t(512) << 20) - 3), 3);
    ::close(fd);
    ASSERT_TRUE(KRFileManager::copyPackageFile(sparse, dir + "/copy.bin").ok());
    struct stat status{};
    ASSERT_EQ(::stat(QFile::encodeName(dir + "/copy.bin").constData(), &status), 0);
    EXPECT_EQ(status.st_size, off_t(512) << 20);
    EXPECT_LT(qint64(status.st_blocks) * 512, qint64(1) << 20) << "the holes were written out";
    char end[4] = {};
    const int copy = ::open(QFile::encodeName(dir + "/copy.bin").constData(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(::pread(copy, end, 3, status.st_size - 3), 3);
    ::close(copy);
    EXPECT_STREQ(end, "end");
}

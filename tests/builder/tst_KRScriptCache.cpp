// The cache of what the syntax check and the minifier answered, kept on disk from one run of
// the application to the next.

#include <builder/KRScriptCache.h>

#include <KRTestSupport.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

QVariantList someFindings(int line)
{
    return {QVariantMap{{QStringLiteral("line"), line},
                        {QStringLiteral("character"), 7},
                        {QStringLiteral("reason"), QStringLiteral("Missing \"semicolon\" — ünïcode")},
                        {QStringLiteral("evidence"), QStringLiteral("\tvar a = 1")}},
            QVariantMap{{QStringLiteral("line"), line + 1}, {QStringLiteral("code"), QStringLiteral("W116")}}};
}

QStringList entryFiles(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

// What the folder's files take on disk.
qint64 folderBytes(const QString &folder)
{
    qint64 total = 0;
    for (const QString &file : entryFiles(folder)) {
        struct stat status;
        if (::stat(QFile::encodeName(file).constData(), &status) == 0)
            total += std::max<qint64>(qint64(status.st_blocks) * 512, (status.st_size + 4095) / 4096 * 4096);
    }
    return total;
}

// What one run keeps, the next run (a new cache on the same folder) finds: each answer under
// its text, its options and the tools that gave it, and nothing under anything else.
TEST(KRScriptCache, theNextRunFindsTheAnswersOfTheSameToolsOnly)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("scripts")) + QStringLiteral("/Scripts");
    const QString source = QStringLiteral("application._pages.p._events.f = function() {\n\treturn \"é\";\n};\n");
    {
        KRScriptCache first;
        first.setPersistentFolder(folder, "tools-1");
        // Written from several threads at once, as a build does.
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&first, &source, t] {
                for (int i = t; i < 40; i += 4) {
                    first.setMinified(source + QString::number(i), QStringLiteral("min(%1)é").arg(i));
                    first.setFindings(QStringLiteral("{\"curly\":true}"), source + QString::number(i),
                                      i % 2 ? someFindings(i) : QVariantList());
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
    }
    KRScriptCache next;
    next.setPersistentFolder(folder, "tools-1");
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(next.minified(source + QString::number(i)), QStringLiteral("min(%1)é").arg(i)) << i;
        const std::optional<QVariantList> findings = next.findings(QStringLiteral("{\"curly\":true}"), source + QString::number(i));
        ASSERT_TRUE(findings.has_value()) << i;
        EXPECT_EQ(*findings, i % 2 ? someFindings(i) : QVariantList()) << i;
    }
    EXPECT_FALSE(next.minified(source));
    EXPECT_FALSE(next.findings(QStringLiteral("{\"curly\":false}"), source + QStringLiteral("1")));
    EXPECT_FALSE(next.findings(QStringLiteral("{\"curly\":true}"), source + QStringLiteral("x")));

    KRScriptCache otherTools;
    otherTools.setPersistentFolder(folder, "tools-2");
    EXPECT_FALSE(otherTools.minified(source + QStringLiteral("1")));
    EXPECT_FALSE(otherTools.findings(QStringLiteral("{\"curly\":true}"), source + QStringLiteral("1")));

    // A cache without a folder writes nothing.
    const qsizetype files = entryFiles(folder).size();
    KRScriptCache memoryOnly;
    memoryOnly.setMinified(QStringLiteral("x"), QStringLiteral("y"));
    EXPECT_EQ(entryFiles(folder).size(), files);
    EXPECT_EQ(files, 80);
}

// A damaged entry (cut short, changed, emptied, of another kind) is no answer: it is asked
// again, and the new answer is kept.
TEST(KRScriptCache, damagedEntriesAreNoAnswers)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("scripts"));
    const QStringList sources{QStringLiteral("a();"), QStringLiteral("b();"), QStringLiteral("c();"),
                              QStringLiteral("d();"), QStringLiteral("e();")};
    {
        KRScriptCache cache;
        cache.setPersistentFolder(folder, "tools");
        for (const QString &source : sources)
            cache.setFindings(QStringLiteral("o"), source, someFindings(3));
    }
    const QStringList files = entryFiles(folder);
    ASSERT_EQ(files.size(), sources.size());
    const QByteArray good = KRTest::readFile(files[0]);
    KRTest::writeFile(files[0], good.left(good.size() - 3));
    QByteArray changed = KRTest::readFile(files[1]);
    changed[changed.size() - 5] = 'X';
    KRTest::writeFile(files[1], changed);
    KRTest::writeFile(files[2], QByteArray());
    QByteArray otherKind = KRTest::readFile(files[3]);
    otherKind[6] = 'm';
    KRTest::writeFile(files[3], otherKind);
    KRTest::writeFile(files[4], QByteArray(100000, '\n'));

    KRScriptCache next;
    next.setPersistentFolder(folder, "tools");
    for (const QString &source : sources)
        EXPECT_FALSE(next.findings(QStringLiteral("o"), source)) << source.toStdString();
    for (const QString &source : sources)
        next.setFindings(QStringLiteral("o"), source, someFindings(9));
    KRScriptCache after;
    after.setPersistentFolder(folder, "tools");
    for (const QString &source : sources)
        EXPECT_EQ(after.findings(QStringLiteral("o"), source), someFindings(9)) << source.toStdString();
}

// The folder holds at most its bound; what was used last stays.
TEST(KRScriptCache, theFolderStaysWithinItsBound)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("scripts"));
    constexpr qint64 bound = 256 * 1024; // some 64 entries
    const QString filler(1000, QLatin1Char('x'));
    KRScriptCache cache;
    cache.setPersistentFolder(folder, "tools", bound);
    cache.setMinified(QStringLiteral("kept"), filler);
    for (int i = 0; i < 300; ++i) {
        cache.setMinified(QString::number(i), filler);
        // The first entry is in use all along.
        if (i % 20 == 0) {
            KRScriptCache reader;
            reader.setPersistentFolder(folder, "tools", bound);
            ASSERT_TRUE(reader.minified(QStringLiteral("kept"))) << i;
        }
        EXPECT_LE(folderBytes(folder), bound) << i;
    }
    EXPECT_GT(folderBytes(folder), bound / 2);
    KRScriptCache next;
    next.setPersistentFolder(folder, "tools", bound);
    EXPECT_TRUE(next.minified(QString::number(299)));
    EXPECT_FALSE(next.minified(QString::number(0)));
}

// The tools' key changes with either tool's version and with the server's script that runs
// them, and is empty when one of them cannot be read.
TEST(KRScriptCache, theToolsKeyFollowsTheToolsVersions)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("server"));
    KRTest::writeFile(folder + QStringLiteral("/node_modules/jshint/package.json"), "{\"version\": \"2.13.6\"}");
    KRTest::writeFile(folder + QStringLiteral("/node_modules/uglify-js/package.json"), "{\"version\": \"3.19.3\"}");
    KRTest::writeFile(folder + QStringLiteral("/kr-server-tools.js"), "'use strict';\n");
    const QByteArray first = KRScriptCache::toolsKey(folder);
    EXPECT_FALSE(first.isEmpty());
    EXPECT_EQ(KRScriptCache::toolsKey(folder), first);
    KRTest::writeFile(folder + QStringLiteral("/node_modules/jshint/package.json"), "{\"version\": \"2.13.7\"}");
    const QByteArray second = KRScriptCache::toolsKey(folder);
    EXPECT_NE(second, first);
    KRTest::writeFile(folder + QStringLiteral("/kr-server-tools.js"), "'use strict'; // other options\n");
    EXPECT_NE(KRScriptCache::toolsKey(folder), second);
    KRTest::writeFile(folder + QStringLiteral("/node_modules/uglify-js/package.json"), "{}");
    EXPECT_TRUE(KRScriptCache::toolsKey(folder).isEmpty());
    EXPECT_TRUE(KRScriptCache::toolsKey(folder + QStringLiteral("/none")).isEmpty());
}

} // namespace

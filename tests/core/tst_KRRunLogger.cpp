#include <core/KRRunLogger.h>
#include <platform/foundation/KRLogSink.h>

#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <memory>

namespace {

QString lastLine(const QString &path)
{
    const QByteArray text = KRTest::readFile(path);
    const QList<QByteArray> lines = text.split('\n');
    return lines.size() >= 2 ? QString::fromUtf8(lines.at(lines.size() - 2)) : QString();
}

} // namespace

TEST(KRRunLogger, LineFormat)
{
    const QString dir = KRTest::makeTempDir("log");
    KRRunLogger logger(dir);
    logger.log(QStringLiteral("opened 100% of it"), "void KRWindowController::selectPage(int)", 225);
    logger.flush();
    EXPECT_EQ(QFileInfo(logger.logURL()).fileName(), "com.korvane.Korvane.log");
    EXPECT_EQ(QFileInfo(logger.oldLogURL()).fileName(), "com.korvane.Korvane.old.log");
    const QString line = lastLine(logger.logURL());
    static const QRegularExpression re(
        QStringLiteral("^\\d{8}\\S+\\d{6}\\.\\d{2} KRWindowController::selectPage:225 opened 100% of it$"));
    EXPECT_TRUE(re.match(line).hasMatch()) << line.toStdString();
}

TEST(KRRunLogger, TimestampPattern)
{
    // 5 November 2013, 14:30:12.25 in New York (EST, UTC-5).
    const double ms = 1383679812250.0;
    EXPECT_EQ(KRRunLogger::formatTimestamp(ms, "America/New_York"), "20131105EST143012.25");
    EXPECT_EQ(KRRunLogger::shortFunctionName("static QString KRFoo::bar(const QString&)"), "KRFoo::bar");
    EXPECT_EQ(KRRunLogger::shortFunctionName("main"), "main");
}

TEST(KRRunLogger, RotatesPastThreshold)
{
    const QString dir = KRTest::makeTempDir("log");
    KRTest::writeFile(dir + "/com.korvane.Korvane.old.log", "previous old log\n");
    KRRunLogger logger(dir);
    // The line that opens the file is not counted (the count is taken from the file's length
    // at opening); the next line brings the count to 249,990 bytes.
    logger.log(QString(), "f", 1);
    logger.flush();
    const qint64 prefix = QFileInfo(logger.logURL()).size();
    logger.log(QString(249990 - prefix, QLatin1Char('x')), "f", 1);
    logger.flush();
    ASSERT_EQ(QFileInfo(logger.logURL()).size(), prefix + 249990);

    // A line that takes the count past 250,000 moves the file aside (replacing the old one)
    // and becomes the first line of a new file.
    const QString shortMessage = QString(5, QLatin1Char('y'));
    logger.log(shortMessage, "f", 1);
    logger.flush();
    EXPECT_EQ(QFileInfo(logger.oldLogURL()).size(), prefix + 249990);
    EXPECT_EQ(QFileInfo(logger.logURL()).size(), prefix + 5);
    EXPECT_TRUE(lastLine(logger.logURL()).endsWith(shortMessage));
}

TEST(KRRunLogger, ExistingLargeFileRotatesOnSecondLine)
{
    const QString dir = KRTest::makeTempDir("log");
    KRTest::writeFile(dir + "/com.korvane.Korvane.log", QByteArray(260000, 'z'));
    KRRunLogger logger(dir);
    logger.log("first", "f", 1);
    logger.flush();
    EXPECT_FALSE(QFile::exists(logger.oldLogURL()));
    EXPECT_TRUE(lastLine(logger.logURL()).endsWith("first"));
    logger.log("second", "f", 2);
    logger.flush();
    EXPECT_TRUE(QFile::exists(logger.oldLogURL()));
    EXPECT_TRUE(lastLine(logger.oldLogURL()).endsWith("first"));
    EXPECT_TRUE(lastLine(logger.logURL()).endsWith("second"));
}

TEST(KRRunLogger, CountsUtf8BytesAndKeepsOrder)
{
    // Each line is about 900 bytes of UTF-8 but under 300 characters (about 410 UTF-16 units):
    // counted in bytes, the file is moved aside within the 300 lines; counted any other way
    // it would not be.
    QString tail;
    for (int i = 0; i < 125; ++i)
        tail += QStringLiteral("\u20AC\U0001F600");
    auto message = [&](int i) { return QStringLiteral("Gr\u00FC\u00DFe %1 ").arg(i, 3, 10, QLatin1Char('0')) + tail; };

    const QString dir = KRTest::makeTempDir("log");
    {
        KRRunLogger logger(dir);
        for (int i = 0; i < 300; ++i)
            logger.log(message(i), "f", 1);
        // The destructor drains the queue.
    }
    QList<QByteArray> old = KRTest::readFile(dir + "/com.korvane.Korvane.old.log").split('\n');
    QList<QByteArray> current = KRTest::readFile(dir + "/com.korvane.Korvane.log").split('\n');
    ASSERT_GE(old.size(), 2);
    ASSERT_GE(current.size(), 2);
    old.removeLast();
    current.removeLast();

    // Every line once, in the order logged, across both files.
    const QList<QByteArray> lines = old + current;
    ASSERT_EQ(lines.size(), 300);
    for (int i = 0; i < 300; ++i)
        EXPECT_TRUE(lines.at(i).endsWith(message(i).toUtf8())) << i;

    // The file was moved aside at the first line whose bytes took the count past 250,000 (the
    // line that opened the file is not counted).
    qint64 counted = 0;
    for (qsizetype i = 1; i < old.size(); ++i)
        counted += old.at(i).size() + 1;
    EXPECT_LE(counted, 250000);
    EXPECT_GT(counted + current.first().size() + 1, 250000);
}

TEST(KRRunLogger, UnwritableFolderDropsLinesSilently)
{
    const QString dir = KRTest::makeTempDir("log");
    KRTest::writeFile(dir + "/blocker", "file, not a folder");
    KRRunLogger logger(dir + "/blocker/logs");
    logger.log("lost", "f", 1);
    logger.flush();
    EXPECT_FALSE(QFile::exists(logger.logURL()));
}

// The platform layer cannot reach the run log itself; a program that has the run log gets the
// platform's lines in it, with their function and line.
TEST(KRRunLogger, PlatformLinesJoinTheRunLog)
{
    KR_PLATFORM_LOG(QStringLiteral("design view renderer ended"));
    const int line = __LINE__ - 1;
    KRRunLogger::sharedInstance().flush();
    const QString last = lastLine(KRRunLogger::sharedInstance().logURL());
    EXPECT_TRUE(last.endsWith(QStringLiteral(":%1 design view renderer ended").arg(line))) << last.toStdString();
}

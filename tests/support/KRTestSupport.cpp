#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <vector>

namespace KRTest {

extern QString g_sandboxDir; // set by the test main

QString sandboxDir()
{
    return g_sandboxDir;
}

namespace {

std::vector<void (*)()> &beforeApplicationHooks()
{
    static std::vector<void (*)()> hooks;
    return hooks;
}

} // namespace

bool addBeforeApplicationHook(void (*hook)())
{
    beforeApplicationHooks().push_back(hook);
    return true;
}

void runBeforeApplicationHooks()
{
    for (auto hook : beforeApplicationHooks())
        hook();
}

QString makeTempDir(const QString &prefix)
{
    const QString path = g_sandboxDir + QStringLiteral("/") + prefix + QStringLiteral("-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDir().mkpath(path);
    return path;
}

bool processEventsUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);
    // Wakes the waiting loop for conditions no event of this thread announces (another
    // thread's flag, another process's file).
    QTimer tick;
    tick.start(std::chrono::milliseconds(10));
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        // Sleeps until something is ready, then handles all that is ready with it (what one
        // event sets off included) before the predicate is asked again.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QString artifactsDir(const QString &component)
{
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/") + component;
    QDir().mkpath(dir);
    return dir;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace KRTest

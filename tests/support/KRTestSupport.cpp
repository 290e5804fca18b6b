#include "KRTestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <algorithm>
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

QByteArray zipOfEmptyFiles(const QStringList &names)
{
    QByteArray local;
    QByteArray central;
    const auto put16 = [](QByteArray &out, quint32 value) {
        out.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
    };
    const auto put32 = [&put16](QByteArray &out, quint32 value) {
        put16(out, value & 0xFFFF);
        put16(out, value >> 16);
    };
    for (const QString &text : names) {
        const QByteArray name = text.toUtf8();
        const auto offset = quint32(local.size());
        local.append("PK\x03\x04", 4);
        put16(local, 10); // version needed
        for (int field = 0; field < 4; ++field)
            put16(local, 0); // flags, method (stored), time, date
        for (int field = 0; field < 3; ++field)
            put32(local, 0); // CRC, sizes
        put16(local, quint32(name.size()));
        put16(local, 0);
        local.append(name);

        central.append("PK\x01\x02", 4);
        put16(central, 20);
        put16(central, 10);
        for (int field = 0; field < 4; ++field)
            put16(central, 0);
        for (int field = 0; field < 3; ++field)
            put32(central, 0);
        put16(central, quint32(name.size()));
        for (int field = 0; field < 4; ++field)
            put16(central, 0); // extra, comment, disk, internal attributes
        put32(central, 0);
        put32(central, offset);
        central.append(name);
    }
    QByteArray zip = local + central;
    const quint32 count = quint32(std::min<qsizetype>(names.size(), 0xFFFF)); // "many" beyond
    zip.append("PK\x05\x06", 4);
    put16(zip, 0);
    put16(zip, 0);
    put16(zip, count);
    put16(zip, count);
    put32(zip, quint32(central.size()));
    put32(zip, quint32(local.size()));
    put16(zip, 0);
    return zip;
}

} // namespace KRTest

// The parts of the bench support that need only Qt, for benchmarks that do not link the model.
#include "KRBenchSupport.h"
#include "KRBenchTargets.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <QDir>
#include <QHash>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace KRBench {

void usePrivateUserFolders(const QString &folder)
{
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(name, (folder + QLatin1Char('/') + QString::fromLatin1(name)).toUtf8());
}

PrivateApplication::PrivateApplication(int &argc, char **argv)
{
    usePrivateUserFolders(m_home.path());
    m_application = std::make_unique<QCoreApplication>(argc, argv);
    benchmark::Initialize(&argc, argv);
}

PrivateApplication::~PrivateApplication() = default;

long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

void resetPeakResident()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

namespace {

// This process and its descendants, from the parent of every process in /proc.
QList<qint64> processTree()
{
    QHash<qint64, QList<qint64>> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        std::ifstream stat("/proc/" + entry.toStdString() + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const size_t close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        qint64 parent = 0;
        if (rest >> state >> parent)
            children[parent].append(pid);
    }
    QList<qint64> tree{QCoreApplication::applicationPid()};
    for (qsizetype i = 0; i < tree.size(); ++i)
        tree += children.value(tree.at(i));
    return tree;
}

} // namespace

long processTreePeakResidentKiB()
{
    long total = 0;
    bool known = false;
    for (const qint64 pid : processTree()) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmHWM:", 0) == 0) {
                total += std::stol(line.substr(6));
                known = true;
                break;
            }
        }
    }
    return known ? total : -1;
}

void resetProcessTreePeakResident()
{
    for (const qint64 pid : processTree())
        std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}

double processorMs(qint64 pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    // "pid (name) state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime
    // stime ...": the name may hold spaces and parentheses.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    for (int skipped = 0; skipped < 11 && rest >> field; ++skipped) {
    }
    double user = 0, system = 0;
    if (!(rest >> user >> system))
        return -1;
    return (user + system) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

double processTreeProcessorMs()
{
    const qint64 self = QCoreApplication::applicationPid();
    double ms = 0;
    for (const qint64 pid : processTree()) {
        if (pid != self)
            ms += std::max(0.0, processorMs(pid));
    }
    timespec own{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &own);
    return ms + own.tv_sec * 1e3 + own.tv_nsec / 1e6;
}

bool waitUntil(const std::function<bool()> &predicate, int milliseconds, int pollMilliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, pollMilliseconds);
    }
    return true;
}

void mirrorThousandEdits(benchmark::State &state, const std::string &name, double targetMs,
                         const std::function<void()> &edit, const std::function<void()> &flush,
                         const std::function<bool()> &inStep, const std::function<void()> &afterEach)
{
    double editMs = 0, mirrorMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        for (int k = 0; k < 1000; ++k)
            edit();
        editMs += timer.nsecsElapsed() / 1e6;
        timer.restart();
        flush();
        if (!waitUntil(inStep, 10000)) {
            state.SkipWithError("the view did not apply the edits");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        mirrorMs += timer.nsecsElapsed() / 1e6;
        if (afterEach)
            afterEach();
    }
    state.counters["model_ms"] = benchmark::Counter(editMs / double(state.iterations()));
    reportTarget(state, name, mirrorMs / double(state.iterations()) / targetMs, 1.0);
}

void timeEditRoundTrips(benchmark::State &state, const std::string &name, double targetMs,
                        const std::function<void()> &edit, const std::function<bool()> &inStep)
{
    double totalMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        edit();
        // As the event loop would: the batch goes at the end of the turn.
        if (!waitUntil(inStep, 10000)) {
            state.SkipWithError("the view did not apply the edit");
            return;
        }
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        totalMs += timer.nsecsElapsed() / 1e6;
    }
    reportTarget(state, name, totalMs / double(state.iterations()) / targetMs, 1.0);
}

} // namespace KRBench

// The parts of the bench support that need only Qt, for benchmarks that do not link the model.
#include "KRBenchSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace KRBench {

void usePrivateUserFolders(const QString &folder)
{
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        qputenv(name, (folder + QLatin1Char('/') + QString::fromLatin1(name)).toUtf8());
}

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

std::vector<std::pair<QString, QString>> &figures()
{
    static std::vector<std::pair<QString, QString>> list;
    return list;
}

} // namespace

void recordFigure(const QString &name, double value, const QString &target)
{
    const QString line = QStringLiteral("%1 %2 (target %3)").arg(name, QString::number(value, 'f', value < 10 ? 2 : 1), target);
    for (auto &figure : figures()) {
        if (figure.first == name) {
            figure.second = line;
            return;
        }
    }
    figures().emplace_back(name, line);
}

void printFigures()
{
    for (const auto &figure : figures())
        std::printf("%s\n", figure.second.toUtf8().constData());
    std::fflush(stdout);
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

void mirrorThousandEdits(benchmark::State &state, const std::function<void()> &edit, const std::function<void()> &flush,
                         const std::function<bool()> &inStep, const std::function<void()> &afterEach)
{
    double editMs = 0;
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
        if (afterEach)
            afterEach();
    }
    state.counters["model_ms"] = benchmark::Counter(editMs / double(state.iterations()));
}

void timeEditRoundTrips(benchmark::State &state, const std::function<void()> &edit, const std::function<bool()> &inStep)
{
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
    }
}

} // namespace KRBench

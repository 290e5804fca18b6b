// The parts of the bench support that need only Qt, for benchmarks that do not link the model.
#include "KRBenchSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <fstream>
#include <string>

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

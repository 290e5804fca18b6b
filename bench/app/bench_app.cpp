// Cold start: a fresh application process, offscreen, from exec to its start gallery's window
// exposed, which ends its launch. Target: under 1.5 s in a release build (the gallery comes up
// one second after launch). Each run is a fresh process; the floors run beside each run, so that
// all figures share the machine's state. Means over the runs:
//
// - "launch_ms": exec of the application's start (KRApplicationStartup as main() makes it, see
//   bench_app_launch) to the gallery's window exposed. It includes the process start, loading
//   the libraries, the web engine set-up, the launch's deliberate one-second wait and what runs
//   during it, the blank project opened in its window, and the gallery.
// - "work_ms": the processor time of the application's main thread over the same span, loading
//   the program included: the start's own work, the wait not, what runs during it yes.
// - "wait_work_ms": of that work, what ran during the wait (plug-ins, the runtime server's start,
//   the news, ...), counted apart.
// - "floor_ms" and "floor_work_ms": exec of bench_app_floor to its window exposed, the same
//   event, and its main thread's processor time: the same web engine environment and
//   application object, one plain window shown.
// - "x_floor": the launch over the floor; "x_floor_work": the work over the floor's work.
// - "floor_web_ms": the floor with one web view showing an empty page, to the page loaded (the
//   returning user's gallery shows no web page): no ratio to it, it tells what one web page adds.
#include <bench/support/KRBenchTargets.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <ctime>
#include <optional>

namespace {

struct Start
{
    double ms = 0;     // exec to the window exposed
    double workMs = 0; // the main thread's processor time meanwhile
    double waitWorkMs = 0;
};

qint64 appBenchMonotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The program's start up to its report; nothing when it failed or did not report.
std::optional<Start> appBenchRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    const qint64 started = appBenchMonotonicNanoseconds();
    process.start(program, arguments);
    // The report is what counts: how the program then ends is not measured.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
    }
    static const QRegularExpression report(QStringLiteral("exposed_ns=(\\d+) cpu_ns=(\\d+) marked_cpu_ns=(\\d+)"));
    const QRegularExpressionMatch match = report.match(QString::fromLatin1(process.readAllStandardOutput()));
    if (!match.hasMatch())
        return std::nullopt;
    Start start;
    start.ms = double(match.captured(1).toLongLong() - started) / 1e6;
    start.workMs = double(match.captured(2).toLongLong()) / 1e6;
    start.waitWorkMs = double(match.captured(3).toLongLong()) / 1e6;
    return start;
}

// The environment of one run: folders of its own for a returning user (no welcome page) whose
// hosting service answers at once with nothing: no network in the measurement. Each run starts
// in fresh folders, as what a run leaves behind (its untitled project) can hold the next start.
QProcessEnvironment appBenchEnvironment(const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        environment.insert(QString::fromLatin1(name), home + QLatin1Char('/') + QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX"), QStringLiteral("1"));
    QDir().mkpath(home + QStringLiteral("/XDG_CONFIG_HOME/Korvane"));
    QFile settings(home + QStringLiteral("/XDG_CONFIG_HOME/Korvane/Korvane.conf"));
    if (settings.open(QIODevice::WriteOnly))
        settings.write("[General]\nlastExecutedVersion=999\napiURL=http://127.0.0.1:1/api.php\ninsecureSiteURL=http://127.0.0.1:1/\n");
    return environment;
}

void BM_ColdStartToGallery(benchmark::State &state)
{
    double launch = 0, work = 0, waitWork = 0, floor = 0, floorWork = 0, floorWeb = 0;
    int runs = 0;
    for (auto _ : state) {
        QTemporaryDir home;
        const QProcessEnvironment environment = appBenchEnvironment(home.path());
        const std::optional<Start> start = appBenchRun(QStringLiteral(KR_LAUNCH_PATH), {}, environment);
        if (!start) {
            state.SkipWithError("the application did not show its gallery");
            break;
        }
        state.SetIterationTime(start->ms / 1e3);
        const std::optional<Start> plain = appBenchRun(QStringLiteral(KR_FLOOR_PATH), {}, environment);
        const std::optional<Start> web = appBenchRun(QStringLiteral(KR_FLOOR_PATH), {QStringLiteral("--web")}, environment);
        if (!plain || !web) {
            state.SkipWithError("the floor program did not show its window");
            break;
        }
        launch += start->ms;
        work += start->workMs;
        waitWork += start->waitWorkMs;
        floor += plain->ms;
        floorWork += plain->workMs;
        floorWeb += web->ms;
        ++runs;
    }
    if (runs) {
        state.counters["launch_ms"] = launch / runs;
        state.counters["work_ms"] = work / runs;
        state.counters["wait_work_ms"] = waitWork / runs;
        state.counters["floor_ms"] = floor / runs;
        state.counters["x_floor"] = launch / floor;
        state.counters["floor_work_ms"] = floorWork / runs;
        state.counters["x_floor_work"] = work / floorWork;
        state.counters["floor_web_ms"] = floorWeb / runs;
        KRBench::reportTarget(state, "launch_over_target", launch / runs / 1500.0, 1.0, KRBench::Bound::Below);
    }
}
BENCHMARK(BM_ColdStartToGallery)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    KRBench::printTargets();
    return 0;
}

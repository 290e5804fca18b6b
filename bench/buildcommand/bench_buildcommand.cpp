// The Build command with the default settings (syntax check and minifying on, both through the
// real local runtime server, as the application does), for a generated project of 50 pages
// with 40 objects each (buttons, labels, text fields and a function in every four: 500
// functions) and for the Showcase sample. Each build is what the window runs after Ctrl+B:
// the copy of the project taken on the calling thread, then on a thread of its own the check of
// every function, the copy read, its pages made and written, its script minified and written.
// "first" is the first build after opening (nothing checked or minified yet in this process;
// the server was started 1.5 s before the project is opened, as at the application's launch);
// "repeat" the next build of the unchanged project; "edited" a build after one function of one
// page changed. The floor, measured in the same run, is the builder alone on the open project
// with check and minifying off (pages made, all files written); each build is also given as a
// ratio to it. For comparison the command as it ran before is timed in the same run, last
// (with the server's workers warmed up by the builds before it; the cache is not involved):
// one check request after another, then the builder on the open project minifying the whole
// script in one request. "reopened" is the first build of the unchanged project in the next
// run of the application: a new cache on the folder in which the one before kept its answers
// on disk. The 50-page project is then built again in the same way with the program and a
// server of its own confined to two processors ("_2cores", as on a two-core machine; the
// server's workers start with the first build there, nothing warmed ahead). Targets: the
// 50-page project built in at most 1 s, Showcase in at most 300 ms.

#include <bench/support/KRBenchCores.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <builder/KRBuilderSetup.h>
#include <builder/KRProjectBuilder.h>
#include <builder/KRProjectSyntaxCheck.h>
#include <builder/KRRuntimeServer.h>
#include <builder/KRScriptCache.h>
#include <builder/KRSyntaxChecker.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <network/NetRuntimeServerSupport.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <sched.h>
#include <cstdio>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

qint64 g_port = -1;
// The least time from the application's launch (its server started) to the first Build.
constexpr int launchToBuildMs = 1500;

QByteArray objectXML(int o)
{
    const QByteArray n = QByteArray::number(o);
    const QByteArray place = "top=\"" + QByteArray::number(o * 48) + "\" left=\"4\" width=\"300\"";
    const QByteArray handler = "\"f" + QByteArray::number((o / 4 + 1) * 4) + "\"";
    if (o % 4 == 0)
        return "<KRFunction id=\"f" + n + "\" serverFunction=\"No\" arguments=\"event\">\n\tvar x = \"" + n
            + "\";\n\tif (x.length > 3) {\n\t\tx = x + \"!\";\n\t}\n\treturn x;\n</KRFunction>";
    if (o % 3 == 0)
        return "<JQMButton id=\"c" + n + "\" " + place + " value=\"Button " + n + "\" onClick=" + handler + "/>";
    if (o % 3 == 1)
        return "<KRLabel id=\"c" + n + "\" " + place + " onClick=" + handler + ">Label " + n + "</KRLabel>";
    return "<JQMTextbox id=\"c" + n + "\" " + place + " label=\"Field " + n + "\" placeholder=\"Type\"/>";
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

QString g_root;

// The processor time (user and system, ms) the server of the builds has taken so far; -1 when
// it is not found.
double serverProcessorMs()
{
    const QByteArray root = QFile::encodeName(g_root);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (entry.toLongLong() <= 0 || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.size() < 3 || !arguments[1].endsWith("kr-local-runtime.js") || arguments[2] != root)
            continue;
        return KRBench::processorMs(entry.toLongLong());
    }
    return -1;
}

// One Build command as the window runs it; its time in ms, negative when it failed.
double buildCommand(KRProject &project, KRScriptCache &cache)
{
    const auto start = std::chrono::steady_clock::now();
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), true);
    const QList<KRSyntaxCheckFunction> functions = KRProjectSyntaxCheck::functionsToCheck(project);
    const KRProject::Snapshot snapshot = project.snapshot();
    const KRSyntaxCheckOptions options = KRSyntaxCheckOptions::fromUserDefaults(KRUserDefaults::sharedInstance());
    bool ok = false;
    std::thread thread([&] {
        KRSyntaxChecker checker([] { return g_port; });
        checker.setOptions(options);
        checker.setCache(&cache);
        checker.setShowsAlerts(false);
        const KRSyntaxCheckRun run = checker.checkFunctions(functions);
        if (run.outcome != KRSyntaxCheckRun::Outcome::NoErrors) {
            for (const KRSyntaxCheckFunctionResult &result : run.functions) {
                if (!result.errors || !result.errors->isEmpty()) {
                    std::fprintf(stderr, "the check of %s.%s: %s\n", qPrintable(result.pageID), qPrintable(result.functionID),
                                 result.errors ? qPrintable(result.errors->first().toMap().value(QStringLiteral("reason")).toString())
                                               : "not checked");
                    break;
                }
            }
            return;
        }
        KRResult<std::shared_ptr<KRProject>> copy = KRProject::fromSnapshot(snapshot);
        if (!copy)
            return;
        KRProjectBuilder builder(copy.value());
        builder.setRunsInBackground(true);
        builder.setScriptCache(&cache);
        builder.setServerPort(g_port);
        const KRResult<QString> built = builder.build();
        if (!built)
            std::fprintf(stderr, "the build failed: %s\n", qPrintable(built.error().toString()));
        for (const KRAlert &alert : builder.deferredAlerts())
            std::fprintf(stderr, "the build would have shown: %s %s\n", qPrintable(alert.messageText),
                         qPrintable(alert.informativeText));
        ok = built.ok() && builder.deferredAlerts().isEmpty();
    });
    thread.join();
    return ok ? msSince(start) : -1;
}

// The Build command as it ran before it moved off the main thread, for comparison: one check
// request after another, the builder on the open project minifying the whole script at once.
double wholeBuild(KRProject &project, const std::shared_ptr<KRProject> &shared)
{
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), true);
    const auto start = std::chrono::steady_clock::now();
    KRSyntaxChecker checker([] { return g_port; });
    checker.setShowsAlerts(false);
    if (KRProjectSyntaxCheck::checkFunctionSyntax(project, checker).outcome != KRSyntaxCheckRun::Outcome::NoErrors)
        return -1;
    const bool ok = KRProjectBuilder(shared).build().ok();
    return ok ? msSince(start) : -1;
}

// The builder alone on the open project, check and minifying off.
double floorBuild(const std::shared_ptr<KRProject> &project)
{
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), false);
    const auto start = std::chrono::steady_clock::now();
    const bool ok = KRProjectBuilder(project).build().ok();
    const double ms = msSince(start);
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), true);
    return ok ? ms : -1;
}

void editOneFunction(KRProject &project)
{
    for (const auto &object : project.sortedPages().first()->allObjects()) {
        if (const auto function = std::dynamic_pointer_cast<KRFunction>(object)) {
            function->setKr_source(QStringLiteral("var y = 1;\n") + function->kr_source());
            return;
        }
    }
}

// first, repeat, edited and reopened builds of the project against the floor, as figures
// `name_…`; `comparison`: also the command as it ran before.
void measure(benchmark::State &state, const std::shared_ptr<KRProject> &project, const std::string &name,
             double targetMs, bool comparison = true)
{
    QTemporaryDir kept;
    const QByteArray tools = KRScriptCache::toolsKey(KRNodeRunner::localServerPath());
    KRScriptCache cache;
    cache.setPersistentFolder(kept.path(), tools);
    const double floorMs = floorBuild(project);
    const double serverBefore = serverProcessorMs();
    const double first = buildCommand(*project, cache);
    const double serverFirst = serverProcessorMs() - serverBefore;
    const double repeat = buildCommand(*project, cache);
    editOneFunction(*project);
    const double edited = buildCommand(*project, cache);
    KRScriptCache nextRun;
    nextRun.setPersistentFolder(kept.path(), tools);
    const double reopened = buildCommand(*project, nextRun);
    const double whole = comparison ? wholeBuild(*project, project) : 0;
    if (floorMs < 0 || whole < 0 || first < 0 || repeat < 0 || edited < 0 || reopened < 0) {
        state.SkipWithError("a build failed");
        return;
    }
    state.counters["floor_ms"] = floorMs;
    if (comparison)
        state.counters["before_ms"] = whole;
    KRBench::reportTarget(state, name + "_first_ms", first, "ms", targetMs);
    KRBench::reportTarget(state, name + "_repeat_ms", repeat, "ms", targetMs);
    KRBench::reportTarget(state, name + "_edited_ms", edited, "ms", targetMs);
    KRBench::reportTarget(state, name + "_reopened_ms", reopened, "ms", targetMs);
    state.counters[name + "_first_server_cpu_ms"] = serverFirst;
    state.counters[name + "_first_over_floor"] = first / floorMs;
    state.counters[name + "_repeat_over_floor"] = repeat / floorMs;
    state.counters[name + "_edited_over_floor"] = edited / floorMs;
    state.counters[name + "_reopened_over_floor"] = reopened / floorMs;
    if (comparison)
        state.counters[name + "_before_over_floor"] = whole / floorMs;
}

// The package opened, then its builds measured as figures `name_…`; `failure` when it does not open.
void measurePackage(benchmark::State &state, const QString &package, const char *failure, const std::string &name,
                    double targetMs, bool comparison = true)
{
    const KRBench::Opened opened = KRBench::openProject(package);
    if (!opened.project) {
        state.SkipWithError(failure);
        return;
    }
    for (auto _ : state)
        measure(state, opened.project, name, targetMs, comparison);
}

// Starts the server the builds use (a new one), then waits as long as a first Build comes
// after the application's launch at the least.
bool startServer(std::unique_ptr<KRNodeRunner> &runner, const QString &root)
{
    if (runner)
        runner->terminate();
    runner = std::make_unique<KRNodeRunner>();
    runner->setDocumentRootPath(root);
    runner->setRequestedPortNumber(0);
    runner->start();
    g_port = runner->portNumber();
    if (g_port <= 0)
        return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(launchToBuildMs));
    return true;
}

std::unique_ptr<KRNodeRunner> g_runner;



void BM_BuildGenerated(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString package = KRBench::writePackage(folder.path(), KRBench::generatedProjectXML(50, 40, objectXML));
    measurePackage(state, package, "the project did not open", "build50x40", 1000);
}
BENCHMARK(BM_BuildGenerated)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_BuildShowcase(benchmark::State &state)
{
    QTemporaryDir folder;
    const QString package = folder.path() + QStringLiteral("/Showcase.krproj");
    const QString source = QStringLiteral(KR_SOURCE_DIR "/resources/samples/Showcase.krproj");
    if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-R"), source, package}) != 0) {
        state.SkipWithError("no Showcase sample");
        return;
    }
    measurePackage(state, package, "Showcase did not open", "showcase", 300);
}
BENCHMARK(BM_BuildShowcase)->Iterations(1)->Unit(benchmark::kMillisecond);

// The 50-page project on two processors: this thread (and those it starts from now on) and a
// new server confined to the first two this process may use.
void BM_BuildGeneratedOnTwoCores(benchmark::State &state)
{
    cpu_set_t allowed;
    if (!KRBench::confineToTwoProcessors(&allowed)) {
        state.SkipWithError("fewer than two processors");
        return;
    }
    if (!startServer(g_runner, g_root)) {
        state.SkipWithError("the local runtime server did not start");
        return;
    }
    QTemporaryDir folder;
    const QString package = KRBench::writePackage(folder.path(), KRBench::generatedProjectXML(50, 40, objectXML));
    measurePackage(state, package, "the project did not open", "build50x40_2cores", 1000, false);
    ::sched_setaffinity(0, sizeof allowed, &allowed);
}
BENCHMARK(BM_BuildGeneratedOnTwoCores)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    const KRBench::PrivateApplication program(argc, argv);
    KRObjectInfo::sharedInstance();
    setUpProjectBuilder();
    NetRuntimeServerSupport::install();
    // The application starts its server at launch; a first Build comes after a project has
    // been opened, seconds later.
    g_root = program.home();
    if (!startServer(g_runner, g_root)) {
        std::fprintf(stderr, "the local runtime server did not start\n");
        return 1;
    }
    KRRuntimeServer::setPortProvider([] { return g_port; });
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSCheckSyntax"), true);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_runner->terminate();
    g_runner.reset();
    KRNodeRunner::endAllServers();
    return 0;
}

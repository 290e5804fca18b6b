// Start-up of a built application in the offscreen engine: the time from navigation to an
// interactive start page (jQuery Mobile has shown it and the runtime has set up its objects;
// target 1.5 s) for the largest sample, and the size of KRObjects-min.js (target < 60 KB).
// Pages are fetched from the local runtime server with the HTTP cache off, as on a first visit.
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <bench/support/KRBenchFloor.h>
#include <bench/support/KRBenchWeb.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <platform/foundation/KRResources.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <memory>

namespace {

// The start page is polled finely: its time is the measurement.
constexpr int WaitPollMs = 2;

struct Fixture {
    QTemporaryDir scratch;
    QString webFolder;
    QString startFile;
    QString startPageID;
    std::shared_ptr<KRDocument> document;
    std::unique_ptr<KRNodeRunner> server;
    std::unique_ptr<QWebEngineProfile> profile;
    std::unique_ptr<QWebEnginePage> page;
    std::unique_ptr<QWebEngineView> view;
    qint64 port = -1;
    QString error;
};

Fixture *g_fixture = nullptr;

Fixture *fixture()
{
    if (g_fixture)
        return g_fixture->error.isEmpty() ? g_fixture : nullptr;
    g_fixture = new Fixture;
    Fixture &f = *g_fixture;
    // The Showcase sample (the largest), built by the project builder into its web folder.
    KRBench::BuiltSample sample = KRBench::buildSample(QStringLiteral("Showcase"), f.scratch.path());
    if (sample.startPage.isEmpty()) {
        f.error = QStringLiteral("could not build or stage the application");
        return nullptr;
    }
    f.document = std::move(sample.document);
    f.webFolder = QFileInfo(sample.startPage).path();
    f.startFile = QFileInfo(sample.startPage).fileName();
    f.startPageID = QFileInfo(sample.startPage).completeBaseName();
    f.server = std::make_unique<KRNodeRunner>();
    f.server->setDocumentRootPath(f.webFolder);
    f.server->setRequestedPortNumber(0);
    f.server->start();
    f.port = f.server->portNumber();
    if (f.port <= 0) {
        f.error = QStringLiteral("the local runtime server did not start");
        return nullptr;
    }
    f.profile = std::make_unique<QWebEngineProfile>();
    f.profile->setHttpCacheType(QWebEngineProfile::NoCache);
    f.page = std::make_unique<QWebEnginePage>(f.profile.get());
    f.view = std::make_unique<QWebEngineView>();
    f.view->setPage(f.page.get());
    f.view->resize(320, 480);
    f.view->show();
    return &f;
}

bool interactive(Fixture &f)
{
    return KRBench::scriptIsTrue(f.page.get(),
                                 QStringLiteral("(function() { try { var a = window.application, m = window.$ && $.mobile;"
                                                " return !!(a && m && m.activePage && m.activePage.attr('id') === '%1'"
                                                " && a._currentPage === m.activePage[0]"
                                                " && Object.keys(a._pages['%1']._objects).length > 0); }"
                                                " catch (e) { return false; } })()")
                                     .arg(f.startPageID),
                                 WaitPollMs);
}

void BM_StartPageInteractive(benchmark::State &state)
{
    Fixture *f = fixture();
    if (!f) {
        state.SkipWithError(g_fixture->error.toUtf8().constData());
        return;
    }
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/%2").arg(f->port).arg(f->startFile));
    double totalMs = 0;
    for (auto _ : state) {
        f->page->setHtml(QString());
        KRBench::waitUntil([] { return false; }, 20, WaitPollMs);
        QElapsedTimer timer;
        timer.start();
        f->page->load(url);
        if (!KRBench::waitUntil([&] { return interactive(*f); }, 30000, WaitPollMs)) {
            state.SkipWithError("the start page did not become interactive within 30 s");
            return;
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        totalMs += double(timer.nsecsElapsed()) / 1e6;
    }
    KRBench::reportTarget(state, "interactive_over_target", totalMs / double(state.iterations()) / 1500, 1.0);
}

void BM_RuntimeScriptSize(benchmark::State &state)
{
    const QFileInfo runtime(KRResources::pathForResource(QStringLiteral("runtime/KRObjects-min.js")));
    if (!runtime.exists()) {
        state.SkipWithError("KRObjects-min.js is not staged (build runtime_js)");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(runtime.size());
    state.counters["KRObjects-min.js_bytes"] = double(runtime.size());
    KRBench::reportTarget(state, "runtime_script_over_target", double(runtime.size()) / (60 * 1024), 1.0,
                          KRBench::Bound::Below);
}

} // namespace

BENCHMARK(BM_StartPageInteractive)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_RuntimeScriptSize)->Iterations(1);

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv, {}, [] {
        if (!g_fixture)
            return;
        // The views go before the profile, the server before the application object.
        g_fixture->view.reset();
        g_fixture->page.reset();
        g_fixture->profile.reset();
        if (g_fixture->server)
            g_fixture->server->terminate();
        g_fixture->server.reset();
        KRNodeRunner::endAllServers();
        delete g_fixture;
    });
}

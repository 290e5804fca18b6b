// "Run" in the preview window with the application already built: from handing the window the
// start page (its own runtime server starts) to the first frame of the start page shown in the
// device (jQuery Mobile has shown the page and the engine has drawn a frame after it). Target
// under 1 s. The window is reused between runs, as the project window does.
//
// The floor, measured beside each run ("floor_ms"): a bare main window with one web view of the
// device page's size, loading the same built start page from a runtime server on the same build
// folder, already running, to the first frame drawn after jQuery Mobile showed the page (the
// view is reused and starts from a blank page, as the preview's is). The figure also starts its
// own server and lays out the device; the floor does neither. "x_floor" is the mean time over
// the floor.
#include <bench/support/KRBenchFloor.h>
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <bench/support/KRBenchWeb.h>
#include <workspace/preview/KRDeviceBrowserWindowController.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <QWebEngineView>

#include <memory>

namespace {

constexpr int PreviewPollMs = 2;

struct PreviewFixture {
    QTemporaryDir scratch;
    QString startPage;
    QString startPageID;
    std::shared_ptr<KRDocument> document;
    std::unique_ptr<KRDeviceBrowserWindowController> preview;
    std::unique_ptr<KRNodeRunner> floorServer;
    std::unique_ptr<KRBench::FloorWebWindow> floorWindow;
    QUrl floorPage;
    QString error;
};

PreviewFixture *g_previewFixture = nullptr;

PreviewFixture *previewFixture()
{
    if (g_previewFixture)
        return g_previewFixture->error.isEmpty() ? g_previewFixture : nullptr;
    g_previewFixture = new PreviewFixture;
    PreviewFixture &f = *g_previewFixture;
    KRBench::BuiltSample sample = KRBench::buildSample(QStringLiteral("Showcase"), f.scratch.path());
    if (sample.startPage.isEmpty()) {
        f.error = QStringLiteral("could not copy, open or build the sample");
        return nullptr;
    }
    f.document = std::move(sample.document);
    f.startPage = sample.startPage;
    f.startPageID = QFileInfo(f.startPage).completeBaseName();
    f.preview = std::make_unique<KRDeviceBrowserWindowController>();
    f.preview->window()->show();

    f.floorServer = std::make_unique<KRNodeRunner>();
    f.floorServer->setDocumentRootPath(QFileInfo(f.startPage).absolutePath());
    f.floorServer->start();
    const qint64 port = f.floorServer->portNumber();
    if (port <= 0) {
        f.error = QStringLiteral("the floor's runtime server did not start");
        return nullptr;
    }
    f.floorPage = QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(QFileInfo(f.startPage).fileName()));
    f.floorWindow = std::make_unique<KRBench::FloorWebWindow>();
    return &f;
}

// True once the start page is the shown page and a frame has been drawn after that.
bool previewStartPageDrawn(PreviewFixture &f)
{
    QWebEngineView *view = f.preview->webView();
    if (!view)
        return false;
    return KRBench::scriptIsTrue(
        view->page(),
        QStringLiteral("(function() { try { var m = window.$ && $.mobile;"
                       " if (!(m && m.activePage && m.activePage.attr('id') === '%1')) return false;"
                       " if (window.__benchFrame) return true;"
                       " requestAnimationFrame(function() { window.__benchFrame = true; }); return false; }"
                       " catch (e) { return false; } })()")
            .arg(f.startPageID),
        PreviewPollMs);
}

bool previewBlank(PreviewFixture &f)
{
    return KRBench::scriptIsTrue(f.preview->webView()->page(), QStringLiteral("!window.$ && !window.__benchFrame"),
                                 PreviewPollMs);
}

void BM_RunToFirstFrame(benchmark::State &state)
{
    PreviewFixture *f = previewFixture();
    if (!f) {
        state.SkipWithError(g_previewFixture->error.toUtf8().constData());
        return;
    }
    double total = 0, floorTotal = 0;
    int runs = 0;
    for (auto _ : state) {
        // The reused window still shows the last run's page: start from a blank one.
        if (QWebEngineView *view = f->preview->webView()) {
            view->setHtml(QString());
            KRBench::waitUntil([&] { return previewBlank(*f); }, 5000, PreviewPollMs);
        }
        QElapsedTimer timer;
        timer.start();
        f->preview->setMode(0);
        f->preview->setIndexFilePath(f->startPage);
        if (!KRBench::waitUntil([&] { return previewStartPageDrawn(*f); }, 30000, PreviewPollMs)) {
            state.SkipWithError("the start page was not shown within 30 s");
            return;
        }
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        f->floorWindow->resizeView(f->preview->webView()->size());
        const double floorMs = f->floorWindow->loadToFirstFrame(f->floorPage,
                                                                KRBench::jQueryMobilePageShownScript(f->startPageID),
                                                                PreviewPollMs);
        if (floorMs < 0) {
            state.SkipWithError("the floor page was not drawn within 30 s");
            return;
        }
        total += seconds * 1e3;
        floorTotal += floorMs;
        ++runs;
    }
    if (runs) {
        KRBench::reportTarget(state, "run_to_first_frame_over_target", total / runs / 1000, 1.0);
        KRBench::reportFloor(state, total / runs, floorTotal / runs);
    }
}

} // namespace

BENCHMARK(BM_RunToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv, {}, [] {
        if (!g_previewFixture)
            return;
        // The window and its server go before the application object.
        g_previewFixture->preview.reset();
        g_previewFixture->floorWindow.reset();
        KRNodeRunner::endAllServers();
        delete g_previewFixture;
    });
}

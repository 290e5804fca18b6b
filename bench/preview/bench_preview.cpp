// "Run" in the preview window with the application already built: from handing the window the
// start page (its own runtime server starts) to the first frame of the start page shown in the
// device (jQuery Mobile has shown the page and the engine has drawn a frame after it). Target
// under 1 s. The window is reused between runs, as the project window does.
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchWeb.h>
#include <builder/preview/KRDeviceBrowserWindowController.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <platform/webview/KRWebEngineEnvironment.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
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
    KRBench::prepareRuntimeServers();
    f.preview = std::make_unique<KRDeviceBrowserWindowController>();
    f.preview->window()->show();
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
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["target_ms"] = 1000;
}

} // namespace

BENCHMARK(BM_RunToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char **argv)
{
    KRWebEngineEnvironment::prepare();
    return KRBench::runWithApplication(argc, argv, {}, [] {
        if (!g_previewFixture)
            return;
        // The window and its server go before the application object.
        g_previewFixture->preview.reset();
        KRNodeRunner::endAllServers();
        delete g_previewFixture;
    });
}

// "Run" in the preview window with the application already built: from handing the window the
// start page (its own runtime server starts) to the first frame of the start page shown in the
// device (jQuery Mobile has shown the page and the engine has drawn a frame after it). Target
// under 1 s. The window is reused between runs, as the project window does.
#include <bench/support/KRBenchSupport.h>
#include <builder/KRProjectBuilder.h>
#include <builder/preview/KRDeviceBrowserWindowController.h>
#include <controls/KRControlLibrary.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <network/NetRuntimeServerSupport.h>
#include <platform/foundation/KRResources.h>
#include <platform/webview/KRWebEngineEnvironment.h>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QWebEngineView>

#include <csignal>
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

bool previewCopyTree(const QString &from, const QString &to)
{
    const QDir source(from);
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(file);
        QDir().mkpath(QFileInfo(target).path());
        if (!QFile::copy(file, target))
            return false;
    }
    return true;
}

PreviewFixture *previewFixture()
{
    if (g_previewFixture)
        return g_previewFixture->error.isEmpty() ? g_previewFixture : nullptr;
    g_previewFixture = new PreviewFixture;
    PreviewFixture &f = *g_previewFixture;
    registerControlLibrary();
    const QString package = f.scratch.path() + QStringLiteral("/Showcase.krproj");
    auto document = previewCopyTree(KRResources::resourcesDirectory() + QStringLiteral("/samples/Showcase.krproj"), package)
                        ? KRDocument::openPackage(package)
                        : KRResult<std::shared_ptr<KRDocument>>(KRError(QStringLiteral("bench"), 1, QStringLiteral("copy")));
    if (!document) {
        f.error = QStringLiteral("could not copy or open the sample");
        return nullptr;
    }
    f.document = document.value();
    auto project = KRProject::create(f.document, false);
    const KRResult<QString> built = project ? KRProjectBuilder(project.value()).build() : KRResult<QString>(project.error());
    if (!built) {
        f.error = QStringLiteral("could not build the sample");
        return nullptr;
    }
    f.startPage = built.value();
    f.startPageID = QFileInfo(f.startPage).completeBaseName();
    std::signal(SIGPIPE, SIG_IGN);
    NetRuntimeServerSupport::install();
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
    bool done = false, drawn = false;
    view->page()->runJavaScript(
        QStringLiteral("(function() { try { var m = window.$ && $.mobile;"
                       " if (!(m && m.activePage && m.activePage.attr('id') === '%1')) return false;"
                       " if (window.__benchFrame) return true;"
                       " requestAnimationFrame(function() { window.__benchFrame = true; }); return false; }"
                       " catch (e) { return false; } })()")
            .arg(f.startPageID),
        [&](const QVariant &r) {
            drawn = r.toBool();
            done = true;
        });
    KRBench::waitUntil([&] { return done; }, 5000, PreviewPollMs);
    return drawn;
}

bool previewBlank(PreviewFixture &f)
{
    bool done = false, blank = false;
    f.preview->webView()->page()->runJavaScript(QStringLiteral("!window.$ && !window.__benchFrame"), [&](const QVariant &r) {
        blank = r.toBool();
        done = true;
    });
    KRBench::waitUntil([&] { return done; }, 5000, PreviewPollMs);
    return blank;
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

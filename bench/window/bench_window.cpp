// Opening a project into a ready window: from the open command to the start page shown live in
// its design view (jQuery Mobile loaded in the page). Targets: the Showcase sample under 2 s, a
// generated project of 20 pages under 5 s. Each benchmark reports its mean time over its target
// (below 1 is met) and the peak resident memory of the application ("peak_MiB"): the process
// and every process it runs (the web engine's renderers, GPU and utility processes, the runtime
// server), each process's high-water mark since the run began, summed once the start page
// shows. The application is started as main() starts it, and keeps its launch's blank project
// and gallery open; projects are opened through its windows.
//
// The floor, measured beside each run ("floor_ms"): a bare main window with one web view of the
// design view's size, loading the same start page's design document, written out as a static
// page and served by a runtime server of the floor's own (with a base address into the
// project's web folder, so its pictures load too), from the load to the first frame drawn after
// jQuery Mobile showed the page. The window is made for each run, its view showing a blank page
// before the load as the design views of the pool do, and is gone before the next run (nor is it
// in "peak_MiB"). "x_floor" is the mean time over the floor. The figure ends once jQuery Mobile
// has loaded in the design view, without waiting for a frame: the floor's frame makes the
// ratio, if anything, low.
#include <bench/support/KRBenchFloor.h>
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMDocument.h>
#include <platform/webview/KRWebView.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRTabPaneViewController.h>
#include <workspace/panes/KRTabPropertyGroupViewController.h>
#include <workspace/surface/KRDesignCanvas.h>
#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSize>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>

namespace {

struct WindowBenchFixture {
    QTemporaryDir scratch;
    std::unique_ptr<KRNodeRunner> server;
    QString showcase;
    QString generated;
    QUrl showcaseFloorPage; // the start page's design document, served by the runtime server
    QUrl generatedFloorPage;
};

WindowBenchFixture *g_windowBench = nullptr;

QString windowBenchCopySample(const QString &name, const QString &folder)
{
    const QString from = QStringLiteral(KR_SOURCE_DIR "/resources/samples/") + name + QStringLiteral(".krproj");
    const QString to = folder + QLatin1Char('/') + name + QStringLiteral(".krproj");
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + file.mid(from.size());
        QDir().mkpath(QFileInfo(target).absolutePath());
        QFile::copy(file, target);
    }
    return to;
}

KRDesignCanvas *windowBenchCanvas(KRWindowController *controller)
{
    KRTabPropertyGroupViewController *group = controller->masterTabPaneViewController()->currentTabPropertyGroupViewController();
    KRTabPaneViewController *tabs = group ? group->tabPaneViewController() : nullptr;
    return tabs ? tabs->designCanvas() : nullptr;
}

bool windowBenchStartPageShown(KRWindowController *controller)
{
    KRDesignCanvas *canvas = windowBenchCanvas(controller);
    return canvas && canvas->isVisible() && canvas->designView() && canvas->designView()->isDesignDocumentLoaded();
}

// Writes the design document of the package's start page (as a design view is given it) into
// the runtime server's document root, and returns its address on the runtime server whose document root is `root`.
QUrl windowBenchWriteFloorPage(const QString &package, const QString &root, qint64 port)
{
    const KRBench::Opened opened = KRBench::openProject(package);
    if (!opened.project)
        return {};
    std::shared_ptr<KRPage> start = opened.project->pageForID(opened.project->startPage());
    if (!start && !opened.project->krPages().isEmpty())
        start = opened.project->krPages().first();
    if (!start || !start->domDocument())
        return {};
    // As a design view has it once jQuery has loaded: the jQuery Mobile scripts follow it.
    start->addJQMjs();
    const QString name = QFileInfo(package).completeBaseName();
    const QString webFolder = QDir(root).relativeFilePath(package) + QStringLiteral("/kr-web/");
    QString html = start->domDocument()->serialize();
    // The page's calls to its host go to stand-ins that do nothing.
    const QString base = QStringLiteral("<base href=\"http://127.0.0.1:%1/%2\"><script>window.___kr_page ="
                                        " {jqueryLoaded: function() {}, jqueryMobileLoaded: function() {}};</script>")
                             .arg(port)
                             .arg(webFolder);
    const qsizetype head = html.indexOf(QLatin1String("<head"), 0, Qt::CaseInsensitive);
    const qsizetype headEnd = head < 0 ? -1 : html.indexOf(QLatin1Char('>'), head);
    if (headEnd < 0)
        return {};
    html.insert(headEnd + 1, base);
    QFile file(root + QStringLiteral("/floor-") + name + QStringLiteral(".html"));
    if (!file.open(QIODevice::WriteOnly) || file.write(html.toUtf8()) < 0)
        return {};
    return QUrl(QStringLiteral("http://127.0.0.1:%1/floor-%2.html").arg(port).arg(name));
}

void windowBenchOpen(benchmark::State &state, const QString &package, const QUrl &floorPage, double targetSeconds,
                     const std::string &figure)
{
    if (package.isEmpty() || floorPage.isEmpty()) {
        state.SkipWithError("the project or its floor page could not be prepared");
        return;
    }
    double floorTotal = 0;
    long peakKiB = -1;
    double total = 0;
    int runs = 0;
    for (auto _ : state) {
        KRBench::resetProcessTreePeakResident();
        QElapsedTimer timer;
        timer.start();
        KRResult<KRWindowController *> opened = KRProjectWindows::openProject(package);
        if (!opened || !*opened) {
            state.SkipWithError("the project did not open");
            break;
        }
        KRWindowController *controller = *opened;
        if (!KRBench::waitUntil([&] { return windowBenchStartPageShown(controller); }, 60000, 2)) {
            state.SkipWithError("the start page was not shown");
            break;
        }
        const double seconds = timer.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        total += seconds;
        ++runs;
        peakKiB = std::max(peakKiB, KRBench::processTreePeakResidentKiB()); // the floor stays out of it
        const QSize designViewSize = windowBenchCanvas(controller)->designView()->webView()->size();
        KRProjectWindows::closeProject(controller);
        KRBench::waitUntil([] { return false; }, 200, 20); // the closed window's views go
        double floorMs = -1;
        {
            KRBench::FloorWebWindow floor;
            floor.resizeView(designViewSize);
            floorMs = floor.loadToFirstFrame(floorPage, KRBench::jQueryMobilePageShownScript());
        }
        KRBench::waitUntil([] { return false; }, 200, 20); // and the floor's
        if (floorMs < 0) {
            state.SkipWithError("the floor page was not drawn");
            break;
        }
        floorTotal += floorMs;
    }
    if (runs) {
        KRBench::reportTarget(state, figure, total / runs / targetSeconds, 1.0);
        state.counters["peak_MiB"] = peakKiB / 1024.0;
        KRBench::reportFloor(state, total / runs * 1e3, floorTotal / runs);
    }
}

void BM_OpenShowcaseToFirstDesignView(benchmark::State &state)
{
    windowBenchOpen(state, g_windowBench ? g_windowBench->showcase : QString(),
                    g_windowBench ? g_windowBench->showcaseFloorPage : QUrl(), 2.0, "open_showcase_over_target");
}

void BM_OpenGenerated20PagesToFirstDesignView(benchmark::State &state)
{
    windowBenchOpen(state, g_windowBench ? g_windowBench->generated : QString(),
                    g_windowBench ? g_windowBench->generatedFloorPage : QUrl(), 5.0, "open_generated_over_target");
}

} // namespace

BENCHMARK(BM_OpenShowcaseToFirstDesignView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenGenerated20PagesToFirstDesignView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(
        argc, argv,
        [] {
            g_windowBench = new WindowBenchFixture;
            g_windowBench->server = KRBench::startFloorServer(g_windowBench->scratch.path());
            g_windowBench->showcase = windowBenchCopySample(QStringLiteral("Showcase"), g_windowBench->scratch.path());
            const QString folder = g_windowBench->scratch.path() + QStringLiteral("/generated");
            QDir().mkpath(folder);
            g_windowBench->generated = KRBench::writePackage(
                folder, KRBench::generatedProjectXML(20, 12, [](int o) {
                    return QStringLiteral("<KRLabel id=\"label%1\" top=\"%2\" left=\"10\" width=\"200\" height=\"30\">Label %1</KRLabel>")
                        .arg(o)
                        .arg(10 + 35 * (o - 1))
                        .toUtf8();
                }));
            if (g_windowBench->server) {
                const qint64 port = g_windowBench->server->portNumber();
                const QString root = g_windowBench->scratch.path();
                g_windowBench->showcaseFloorPage = windowBenchWriteFloorPage(g_windowBench->showcase, root, port);
                g_windowBench->generatedFloorPage = windowBenchWriteFloorPage(g_windowBench->generated, root, port);
            }
        },
        [] {
            delete g_windowBench;
            g_windowBench = nullptr;
        });
}

// Opening a project into a ready window: from the open command to the start page shown live in
// its design view (jQuery Mobile loaded in the page). Targets: the Showcase sample under 2 s, a
// generated project of 20 pages under 5 s. Each benchmark reports "ratio" (mean time over the
// target, below 1 is met) and the peak resident memory of its runs ("peak_MiB").
#include <bench/support/KRBenchSupport.h>
#include <controls/KRControlLibrary.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <platform/webview/KRWebViewFactory.h>
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
#include <QTemporaryDir>

namespace {

struct WindowBenchFixture {
    QTemporaryDir scratch;
    std::unique_ptr<KRNodeRunner> server;
    QString showcase;
    QString generated;
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

bool windowBenchStartPageShown(KRWindowController *controller)
{
    KRTabPropertyGroupViewController *group = controller->masterTabPaneViewController()->currentTabPropertyGroupViewController();
    KRTabPaneViewController *tabs = group ? group->tabPaneViewController() : nullptr;
    KRDesignCanvas *canvas = tabs ? tabs->designCanvas() : nullptr;
    return canvas && canvas->isVisible() && canvas->designView() && canvas->designView()->isDesignDocumentLoaded();
}

void windowBenchOpen(benchmark::State &state, const QString &package, double targetSeconds)
{
    if (package.isEmpty()) {
        state.SkipWithError("the project could not be prepared");
        return;
    }
    double total = 0;
    int runs = 0;
    KRBench::resetPeakResident();
    for (auto _ : state) {
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
        KRProjectWindows::closeAll();
        KRBench::waitUntil([] { return false; }, 200, 20); // the closed window's views go
    }
    if (runs) {
        state.counters["ratio"] = total / runs / targetSeconds;
        state.counters["peak_MiB"] = KRBench::peakResidentKiB() / 1024.0;
    }
}

void BM_OpenShowcaseToFirstDesignView(benchmark::State &state)
{
    windowBenchOpen(state, g_windowBench ? g_windowBench->showcase : QString(), 2.0);
}

void BM_OpenGenerated20PagesToFirstDesignView(benchmark::State &state)
{
    windowBenchOpen(state, g_windowBench ? g_windowBench->generated : QString(), 5.0);
}

} // namespace

BENCHMARK(BM_OpenShowcaseToFirstDesignView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_OpenGenerated20PagesToFirstDesignView)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    KRWebEngineEnvironment::prepare();
    return KRBench::runWithApplication(
        argc, argv,
        [] {
            g_windowBench = new WindowBenchFixture;
            KRBench::usePrivateUserFolders(g_windowBench->scratch.path() + QStringLiteral("/user"));
            KRPage::registerPageClass();
            registerControlLibrary();
            g_windowBench->server = KRBench::startRuntimeServer(g_windowBench->scratch.path());
            KRProject::setWebViewFactory(std::make_shared<KRWebViewFactory>());
            KRProjectWindows::install();
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
        },
        [] {
            KRProjectWindows::closeAll();
            KRProject::setWebViewFactory(nullptr);
            delete g_windowBench;
            g_windowBench = nullptr;
        });
}

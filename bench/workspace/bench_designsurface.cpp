// The design canvas with a page shown live: one step of a drag-move, from the pointer event
// reaching the view to the moved control and its box placed in the view (target: one frame,
// 16 ms), and a palette drop, from the drop to the new control measured in the view (target
// 100 ms). A page whose div holds 200,000 nested divs: from the view made to the page drawn
// and its controls measured (target 5 s), and a control moved on it to its new place measured
// (target 100 ms). Every object of a page of 1,000 and of 4,000 labels, in a project window,
// copied, deleted and pasted back, and the paste undone, each through the window's Edit command
// and until the page is drawn and the pasted labels measured, with an assistive tool listening
// (target: 4,000 take at most 5 times the processor time of 1,000); the paste is undone once
// more a second and a half after it was drawn, as a person presses Undo. The other benchmarks report their mean time over their target
// (below 1 is met). The application is started as main() starts it; the pages of the first
// three are shown beside its windows.
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/webview/KRWebView.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRTabPaneViewController.h>
#include <workspace/panes/KRTabPropertyGroupViewController.h>
#include <workspace/surface/KRDesignCanvas.h>
#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>

#include <benchmark/benchmark.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QMimeData>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <vector>

namespace {

struct Fixture {
    QTemporaryDir folder;
    std::shared_ptr<KRDocument> document;
    std::shared_ptr<KRProject> project;
    std::shared_ptr<KRPage> page;
    std::unique_ptr<KRPageDesignView> live;
    std::unique_ptr<KRDesignCanvas> canvas;
    bool ready = false;
};

Fixture *g_fixture = nullptr;

// A project of one page of two labels, and what `more` adds to it.
QByteArray projectXML(const QString &more)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"%1\">"
                          "<KRProject JQMVersion=\"1.4\"/><KRPages><KRPage id=\"page1\"><KRContents>"
                          "<KRLabel id=\"label1\" top=\"20\" left=\"20\" width=\"100\" height=\"30\">One</KRLabel>"
                          "<KRLabel id=\"label2\" top=\"80\" left=\"60\" width=\"60\" height=\"40\">Two</KRLabel>%2"
                          "</KRContents></KRPage></KRPages></KRProjectDocument>\n")
        .arg(KRDocument::applicationShortVersion(), more)
        .toUtf8();
}

// That project, its page shown live on a canvas.
void showPage(Fixture &f, const QString &more)
{
    const KRBench::Opened opened = KRBench::openProject(KRBench::writePackage(f.folder.path(), projectXML(more)));
    if (!opened.project)
        return;
    f.document = opened.document;
    f.project = opened.project;
    f.page = f.project->pageForID(QStringLiteral("page1"));
    auto live = KRPageDesignView::create(f.page);
    if (!live)
        return;
    f.live = std::move(live.value());
    f.canvas = std::make_unique<KRDesignCanvas>(f.live.get());
    f.canvas->resize(700, 900);
    f.canvas->show();
    f.ready = KRBench::waitUntil([&] { return f.live->isDesignDocumentLoaded() && f.live->webView()->isInStep(); }, 60000);
}

Fixture &fixture()
{
    if (!g_fixture) {
        g_fixture = new Fixture;
        showPage(*g_fixture, QString());
    }
    return *g_fixture;
}

bool inStep(Fixture &f)
{
    f.live->webView()->flush();
    return f.live->webView()->isInStep() && !f.live->isWaitingForSizes();
}

void BM_DragMoveStepToBoxPlaced(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ready) {
        state.SkipWithError("the page could not be shown live");
        return;
    }
    const auto label = f.page->objectForID(QStringLiteral("label1"));
    KRDesignViewController *surface = f.canvas->surface();
    surface->selectObject(label);
    KRBench::waitUntil([&] { return inStep(f); }, 5000);
    QWidget *input = f.live->webView()->focusProxy();
    const QPoint start(70, 35);
    QTest::mousePress(input, Qt::LeftButton, Qt::NoModifier, start);
    if (!KRBench::waitUntil([&] { return surface->isDragging(); }, 5000)) {
        state.SkipWithError("the drag did not start");
        return;
    }
    int step = 0;
    double total = 0;
    for (auto _ : state) {
        const int dx = (++step % 2) ? 40 : 0; // back and forth
        const QString expected = QString::number(20 + dx);
        QElapsedTimer timer;
        timer.start();
        QTest::mouseMove(input, start + QPoint(dx, 0));
        const bool placed = KRBench::waitUntil(
            [&] { return label->value(QStringLiteral("kr_left")) == expected && inStep(f); }, 5000);
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (!placed) {
            state.SkipWithError("the control did not follow the pointer");
            break;
        }
        total += seconds;
        state.SetIterationTime(seconds);
    }
    QTest::mouseRelease(input, Qt::LeftButton, Qt::NoModifier, start);
    KRBench::waitUntil([&] { return !surface->isDragging() && inStep(f); }, 5000);
    if (state.iterations() > 0)
        KRBench::reportTarget(state, "drag_step_over_frame", (total / double(state.iterations())) / 0.016, 1.0);
}

void BM_PaletteDropToVisible(benchmark::State &state)
{
    Fixture &f = fixture();
    if (!f.ready) {
        state.SkipWithError("the page could not be shown live");
        return;
    }
    QWidget *input = f.live->webView()->focusProxy();
    KRDesignViewController *surface = f.canvas->surface();
    double total = 0;
    for (auto _ : state) {
        QMimeData palette;
        palette.setData(KRDesignViewController::ObjectMimeType, "KRLabel");
        QDropEvent drop(QPointF(150, 250), Qt::CopyAction, &palette, Qt::LeftButton, Qt::NoModifier);
        // A real drag enters before it drops.
        QDragEnterEvent enter(QPoint(150, 250), Qt::CopyAction, &palette, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(input, &enter);
        QElapsedTimer timer;
        timer.start();
        QCoreApplication::sendEvent(input, &drop);
        const auto made = surface->selectedObjects().value(0);
        const bool shown = made && KRBench::waitUntil([&] {
            return inStep(f) && f.live->webView()->layoutSource().geometryForNode(made->domElement()->nodeId()).valid;
        }, 5000);
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (!shown) {
            state.SkipWithError("the dropped control did not show");
            break;
        }
        total += seconds;
        state.SetIterationTime(seconds);
        state.PauseTiming();
        surface->deleteSelection();
        KRBench::waitUntil([&] { return inStep(f); }, 5000);
        f.document->undoManager().removeAllActions();
        state.ResumeTiming();
    }
    if (state.iterations() > 0)
        KRBench::reportTarget(state, "drop_over_target", (total / double(state.iterations())) / 0.100, 1.0);
}

void BM_DeepContentPageShown(benchmark::State &state)
{
    for (auto _ : state) {
        Fixture f;
        QElapsedTimer timer;
        timer.start();
        showPage(f, QStringLiteral("<KRDiv id=\"deep\" top=\"140\" left=\"10\" width=\"300\" height=\"100\">%1</KRDiv>")
                        .arg(QStringLiteral("&lt;div&gt;").repeated(200000)));
        const auto label = f.page ? f.page->objectForID(QStringLiteral("label1")) : nullptr;
        const auto measured = [&] {
            return f.live->webView()->layoutSource().geometryForNode(label->domElement()->nodeId()).offsetLeft;
        };
        if (!f.ready || !label || !KRBench::waitUntil([&] { return inStep(f) && measured() == 20; }, 60000)) {
            state.SkipWithError("the page of deep content could not be shown live");
            break;
        }
        const double shown = timer.nsecsElapsed() / 1e9;
        timer.restart();
        label->setValue(QStringLiteral("kr_left"), QStringLiteral("60"));
        const bool moved = KRBench::waitUntil([&] { return inStep(f) && measured() == 60; }, 60000);
        const double move = timer.nsecsElapsed() / 1e9;
        f.canvas.reset();
        f.live.reset();
        if (!moved) {
            state.SkipWithError("the moved label was not measured");
            break;
        }
        state.SetIterationTime(shown);
        KRBench::reportTarget(state, "deep_page_shown_over_target", shown / 5.0, 1.0);
        KRBench::reportTarget(state, "deep_page_move_measured_over_target", move / 0.100, 1.0);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Every object of a page of 1,000 and of 4,000 labels, in a project window as the user has it
// (the inspector, the list of the page's objects, the project's outline beside the design
// surface), selected with Select All and copied, then deleted, pasted back, and the paste
// undone: each through the window's own Edit command, from the command to the page in step with
// its model and every label measured (or gone). Then the labels are pasted once more and Undo is
// pressed a second and a half after they are drawn, without waiting for the application to be
// idle (undo_soon): what the paste still had to do after drawing counts there. An assistive tool
// listens throughout (the accessibility interfaces are active, so the engine describes the page
// to them), as for a person who uses one. The figures are the growth from 1,000 to 4,000
// of the median, over the runs, of the CPU time each command took in the application and its
// web engine processes: on a busy machine the time until a command shows is mostly time spent
// waiting for a processor, and its growth swings with what else runs. The counters give the
// medians of both, in ms.
void BM_ManyObjectsPastedShown(benchmark::State &state)
{
    const int sizes[2] = {1000, 4000};
    enum Command { Delete, Paste, Undo, UndoSoon, Commands };
    const char *names[Commands] = {"delete", "paste", "undo_paste", "undo_soon"};
    QAccessible::setActive(true);
    const auto quiet = qScopeGuard([] { QAccessible::setActive(false); });
    std::vector<double> wall[2][Commands];
    std::vector<double> cpu[2][Commands];
    for (auto _ : state) {
        for (int s = 0; s < 2; ++s) {
            QTemporaryDir folder;
            QString labels;
            for (int i = 0; i < sizes[s]; ++i)
                labels += QStringLiteral("<KRLabel id=\"many%1\" top=\"%2\" left=\"%3\" width=\"90\" height=\"20\">Label %1</KRLabel>")
                              .arg(i)
                              .arg(140 + (i / 3) * 24)
                              .arg(10 + (i % 3) * 100);
            KRResult<KRWindowController *> opened = KRProjectWindows::openProject(KRBench::writePackage(folder.path(), projectXML(labels)));
            if (!opened || !*opened) {
                state.SkipWithError("the project of many labels did not open");
                return;
            }
            KRWindowController *window = *opened;
            const auto closeWindow = qScopeGuard([&] {
                KRProjectWindows::closeProject(window);
                KRBench::waitUntil([] { return false; }, 200, 20); // the closed window's views go
            });
            const auto page = window->currentPage();
            KRDesignCanvas *canvas = nullptr;
            KRPageDesignView *live = nullptr;
            const auto measured = [&](const std::shared_ptr<KRObject> &object) {
                return object && object->domElement() && live->webView()->layoutSource().geometryForNode(object->domElement()->nodeId()).valid;
            };
            const auto inStep = [&] {
                live->webView()->flush();
                return live->webView()->isInStep() && !live->isWaitingForSizes();
            };
            const bool shown = page && KRBench::waitUntil(
                [&] {
                    KRTabPropertyGroupViewController *group = window->masterTabPaneViewController()->currentTabPropertyGroupViewController();
                    KRTabPaneViewController *tabs = group ? group->tabPaneViewController() : nullptr;
                    canvas = tabs ? tabs->designCanvas() : nullptr;
                    live = canvas ? canvas->designView() : nullptr;
                    return live && live->isDesignDocumentLoaded() && inStep() &&
                           measured(page->objectForID(QStringLiteral("many%1").arg(sizes[s] - 1)));
                },
                120000);
            if (!shown) {
                state.SkipWithError("the page of many labels could not be shown live");
                return;
            }
            // The commands go to the design surface, as after a click on the page.
            window->projectWindow()->activateWindow();
            canvas->focusPage();
            if (!KRBench::waitUntil([&] { return QApplication::focusWidget() && window->currentDesignWebView()->isAncestorOf(QApplication::focusWidget()); },
                                    10000)) {
                state.SkipWithError("the design surface did not take the keyboard");
                return;
            }
            KRDesignViewController *surface = canvas->surface();
            QList<std::shared_ptr<KRObject>> pasted;
            // What the last command left to do (the boxes drawn, the inspector) is done first:
            // the processes are all but idle for a quarter of a second, or 10 s have passed.
            const auto settle = [&] {
                KRBench::waitUntil(inStep, 120000);
                double before = KRBench::processTreeProcessorMs();
                for (int i = 0; i < 40; ++i) {
                    KRBench::waitUntil([] { return false; }, 250, 20);
                    const double now = KRBench::processTreeProcessorMs();
                    if (now - before < 25)
                        break;
                    before = now;
                }
            };
            const auto time = [&](int c, const char *command, const std::function<bool()> &done, bool idleFirst = true) {
                if (idleFirst)
                    settle();
                const double cpuBefore = KRBench::processTreeProcessorMs();
                QElapsedTimer timer;
                timer.start();
                window->performMenuCommand(QLatin1String(command));
                if (!KRBench::waitUntil([&] { return inStep() && done(); }, 120000))
                    return false;
                wall[s][c].push_back(timer.nsecsElapsed() / 1e6);
                cpu[s][c].push_back(KRBench::processTreeProcessorMs() - cpuBefore);
                return true;
            };
            window->performMenuCommand(QStringLiteral("selectAll"));
            const int objects = int(surface->selectedObjects().size());
            window->performMenuCommand(QStringLiteral("copy"));
            const bool done = objects == sizes[s] + 2
                              && time(Delete, "delete", [&] { return page->kr_objects().isEmpty(); })
                              && time(Paste, "paste",
                                      [&] {
                                          pasted = surface->selectedObjects();
                                          return pasted.size() == objects && measured(pasted.first()) && measured(pasted.last());
                                      })
                              && time(Undo, "undo", [&] { return page->kr_objects().isEmpty(); });
            // Pasted again, drawn, and undone a second and a half later.
            const auto shownAgain = [&] {
                const QList<std::shared_ptr<KRObject>> selected = surface->selectedObjects();
                return inStep() && selected.size() == objects && measured(selected.first()) && measured(selected.last());
            };
            const bool soon = done && (settle(), window->performMenuCommand(QStringLiteral("paste")), KRBench::waitUntil(shownAgain, 120000))
                              && !KRBench::waitUntil([] { return false; }, 1500, 20)
                              && time(UndoSoon, "undo", [&] { return page->kr_objects().isEmpty(); }, false);
            if (!done || !soon) {
                state.SkipWithError("a command did not take effect on every label");
                return;
            }
        }
    }
    for (int c = 0; c < Commands; ++c) {
        for (int s = 0; s < 2; ++s) {
            state.counters[std::string(names[c]) + "_ms_" + std::to_string(sizes[s])] = median(wall[s][c]);
            state.counters[std::string(names[c]) + "_cpu_ms_" + std::to_string(sizes[s])] = median(cpu[s][c]);
        }
        KRBench::reportTarget(state, std::string("shown_many_objects_growth_") + names[c], median(cpu[1][c]) / median(cpu[0][c]), 5.0);
    }
}

} // namespace

BENCHMARK(BM_DragMoveStepToBoxPlaced)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_PaletteDropToVisible)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_DeepContentPageShown)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_ManyObjectsPastedShown)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv, {}, [] {
        if (g_fixture) {
            g_fixture->canvas.reset();
            g_fixture->live.reset();
            g_fixture->project.reset();
        }
        delete g_fixture;
    });
}

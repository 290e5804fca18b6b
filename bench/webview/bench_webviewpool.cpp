// Memory of the design views of a 50-page project opened and each page shown once in turn
// (shown, jQuery Mobile loaded in its view, hidden again), in one run, three ways:
//  - floor: only the first page shown (one view in use, the pool's spares beside it);
//  - bounded: the pages shown through KRPageDesignViews, whose views the pool takes back;
//  - unbounded: every page keeps a view of its own, as before the pool was bounded.
// Counted after the last page: the design views alive, the web engine's renderer processes and
// their proportional set size (PSS, so that shared pages count once), and the PSS of the
// program itself; also the most views alive at any point. The application is started as main()
// starts it: its launch's blank project stays open, and its renderer counts in every way. The counters "*_to_unbounded" and
// "*_to_floor" are the bounded figures divided by the other two.
#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRWebViewCache.h>
#include <platform/webview/KRWebView.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/designview/KRPageDesignViews.h>

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <vector>

#include <unistd.h>

namespace {

constexpr int Pages = 50;

struct Memory
{
    int renderers = 0;
    double rendererMiB = 0;
    double programMiB = 0;
};

QByteArray readProcFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double pssMiB(qint64 pid)
{
    for (const QByteArray &line : readProcFile(QStringLiteral("/proc/%1/smaps_rollup").arg(pid)).split('\n')) {
        if (line.startsWith("Pss:"))
            return line.mid(4).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// The renderer processes among this program's descendants, and everybody's PSS. Renderers are
// forked by the web engine's zygote process and keep its command line: they are the live
// children of a process whose command line says "--type=zygote".
Memory measure()
{
    std::map<qint64, qint64> parentOf;
    std::map<qint64, char> stateOf;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype close = stat.lastIndexOf(')');
        if (close > 0) {
            const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
            stateOf[pid] = fields.isEmpty() || fields.first().isEmpty() ? char(0) : fields.first().at(0);
            parentOf[pid] = fields.value(1).toLongLong();
        }
    }
    const qint64 self = getpid();
    Memory m;
    m.programMiB = pssMiB(self);
    for (const auto &[pid, parent] : parentOf) {
        qint64 up = parent;
        while (up > 1 && up != self)
            up = parentOf.count(up) ? parentOf[up] : 0;
        if (up != self || stateOf[pid] == 'Z')
            continue;
        if (!readProcFile(QStringLiteral("/proc/%1/cmdline").arg(parent)).contains("--type=zygote"))
            continue;
        ++m.renderers;
        m.rendererMiB += pssMiB(pid);
    }
    return m;
}

struct Outcome
{
    bool ok = false;
    int views = 0;
    int peakViews = 0;
    Memory memory;
};

enum class Way { Floor, Bounded, Unbounded };

// Opens the project, shows its pages as `way` says, measures, and closes everything again.
Outcome showPages(const QString &package, Way way)
{
    Outcome out;
    const KRBench::Opened opened = KRBench::openProject(package);
    if (!opened.project || opened.project->krPages().size() != Pages)
        return out;
    KRWebViewCache *pool = opened.project->webViewCache();
    std::vector<std::unique_ptr<KRPageDesignView>> kept; // unbounded and floor
    auto views = std::make_unique<KRPageDesignViews>(opened.project);
    const int shown = way == Way::Floor ? 1 : Pages;
    out.ok = true;
    for (int i = 0; i < shown && out.ok; ++i) {
        const auto page = opened.project->krPages().at(i);
        KRPageDesignView *view = nullptr;
        if (way == Way::Bounded) {
            auto made = views->show(page);
            view = made ? made.value() : nullptr;
        } else {
            auto made = KRPageDesignView::create(page);
            if (made) {
                view = made.value().get();
                kept.push_back(std::move(made.value()));
            }
        }
        if (!view) {
            out.ok = false;
            break;
        }
        view->webView()->show();
        out.ok = KRBench::waitUntil([view] { return view->isDesignDocumentLoaded(); }, 60000);
        view->webView()->hide();
        const int alive = pool->pooledViewCount() + (way == Way::Bounded ? views->count() : int(kept.size()));
        out.peakViews = std::max(out.peakViews, alive);
    }
    out.views = pool->pooledViewCount() + (way == Way::Bounded ? views->count() : int(kept.size()));
    KRBench::waitUntil([] { return false; }, 2000); // let the renderers settle
    out.memory = measure();
    views.reset();
    kept.clear();
    return out;
}

struct Fixture
{
    QTemporaryDir folder;
    int baseRenderers = 0;
    QString package;
};

Fixture *g_fixture = nullptr;

void BM_FiftyPagesEachShownOnce(benchmark::State &state)
{
    Fixture &f = *g_fixture;
    std::map<Way, Outcome> outcomes;
    for (auto _ : state) {
        for (Way way : {Way::Floor, Way::Bounded, Way::Unbounded}) {
            outcomes[way] = showPages(f.package, way);
            // The next way starts once the renderers of this one have ended.
            KRBench::waitUntil([&f] { return measure().renderers <= f.baseRenderers; }, 20000);
        }
    }
    for (const auto &[way, outcome] : outcomes) {
        if (!outcome.ok) {
            state.SkipWithError("a page could not be shown live");
            return;
        }
    }
    const Outcome &floor = outcomes[Way::Floor], &bounded = outcomes[Way::Bounded], &old = outcomes[Way::Unbounded];
    const auto add = [&state](const char *name, double value) { state.counters[name] = value; };
    add("views_floor", floor.views);
    add("views_bounded", bounded.views);
    add("views_unbounded", old.views);
    add("peak_views_bounded", bounded.peakViews);
    add("peak_views_unbounded", old.peakViews);
    add("renderers_floor", floor.memory.renderers);
    add("renderers_bounded", bounded.memory.renderers);
    add("renderers_unbounded", old.memory.renderers);
    add("renderer_MiB_floor", floor.memory.rendererMiB);
    add("renderer_MiB_bounded", bounded.memory.rendererMiB);
    add("renderer_MiB_unbounded", old.memory.rendererMiB);
    add("program_MiB_floor", floor.memory.programMiB);
    add("program_MiB_bounded", bounded.memory.programMiB);
    add("program_MiB_unbounded", old.memory.programMiB);
    const auto total = [](const Outcome &o) { return o.memory.rendererMiB + o.memory.programMiB; };
    add("total_MiB_to_unbounded", total(bounded) / std::max(total(old), 1.0));
    add("total_MiB_to_floor", total(bounded) / std::max(total(floor), 1.0));
    add("renderers_to_unbounded", double(bounded.memory.renderers) / std::max(old.memory.renderers, 1));
    add("renderers_to_floor", double(bounded.memory.renderers) / std::max(floor.memory.renderers, 1));
}

} // namespace

BENCHMARK(BM_FiftyPagesEachShownOnce)->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char **argv)
{
    const auto setUp = [] {
        g_fixture = new Fixture;
        // The renderers of the application's own windows (the launch's blank project) are there
        // in every way, and counted in each.
        g_fixture->baseRenderers = measure().renderers;
        g_fixture->package = KRBench::writePackage(g_fixture->folder.path(),
                                                   KRBench::generatedProjectXML(Pages, 0, [](int) { return QByteArray(); }));
    };
    return KRBench::runStartedApplication(argc, argv, setUp, [] { delete g_fixture; });
}

// Opening a large project with design mode off (as the builder does for every page) and
// reading every property's JavaScript initialiser. Target: under 300 ms and 150 MB peak.

#include "KRModelTestFixtures.h"

#include <bench/support/KRBenchTargets.h>
#include <model/KRModelAdapter.h>

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

constexpr int kPages = 50;
constexpr int kObjectsPerPage = 40;

QByteArray generatedProject()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KRProjectDocument appVersion=\"0.1.0\">\n"
                     "  <KRProject JQMVersion=\"1.4\" designTarget=\"iPhone\" autoAdjustObjects=\"false\"/>\n  <KRPages>\n";
    for (int p = 1; p <= kPages; ++p) {
        xml += "    <KRPage id=\"page" + QByteArray::number(p) + "\" title=\"Page " + QByteArray::number(p)
               + "\" onLoad=\"\">\n      <KRContents>\n";
        for (int o = 1; o <= kObjectsPerPage; ++o) {
            const QByteArray n = QByteArray::number(o);
            if (o % 4 == 0) {
                xml += "        <KRFunction id=\"f" + n + "\" serverFunction=\"No\" arguments=\"event\">\n"
                       "\tvar x = \"" + n + "\";\n\treturn x;\n</KRFunction>\n";
            } else {
                xml += "        <KRTestControl id=\"c" + n + "\" top=\"" + QByteArray::number(o * 12) + "\" left=\"-4\" "
                       "text=\"Label &quot;" + n + "&quot;&#10;line two\" count=\"" + n + "px\" enabled=\"true\" "
                       "raw=\"[1,2]\" onClick=\"f" + QByteArray::number((o / 4 + 1) * 4) + "\" custom=\"v\">content "
                       + n + "<notes>note</notes></KRTestControl>\n";
            }
        }
        xml += "      </KRContents>\n    </KRPage>\n";
    }
    xml += "  </KRPages>\n</KRProjectDocument>\n";
    return xml;
}

void BM_OpenProjectAndReadInitialisers(benchmark::State &state)
{
    const QByteArray xml = generatedProject();
    QTemporaryDir folder;
    std::int64_t initialisers = 0;
    const KRBench::LoopClock clock;
    for (auto _ : state) {
        auto project = krOpenTestProject(folder.path(), xml, false);
        if (!project || !project->loadErrors.isEmpty()) {
            state.SkipWithError("the generated project did not load");
            return;
        }
        initialisers = 0;
        for (const auto &page : project->testPages()) {
            initialisers += page->jsPropertyInitializations().count();
            for (const auto &object : page->objects())
                initialisers += object->jsPropertyInitializations().count();
        }
        benchmark::DoNotOptimize(initialisers);
    }
    const double ms = clock.seconds() * 1e3 / double(state.iterations());
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["initialisers"] = double(initialisers);
    state.counters["objects"] = double(kPages * kObjectsPerPage);
    state.counters["maxRSS_MB"] = double(usage.ru_maxrss) / 1024.0;
    KRBench::reportTarget(state, "open_and_read_ms", ms, "ms", 300, KRBench::Bound::Below);
    KRBench::reportTarget(state, "peak_MB", double(usage.ru_maxrss) / 1024.0, "MB", 150, KRBench::Bound::Below);
}
BENCHMARK(BM_OpenProjectAndReadInitialisers)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

// The side-bar widgets against one frame (16 ms): a source list of 2,000 rows filled from its
// data source and painted, and a scope bar laid out and painted again for every pixel of a
// resize. Each figure is the mean time of one step divided by 16 ms (below 1 is in time).

#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <widgets/scopebar/SBScopeBar.h>
#include <widgets/sourcelist/SLSourceList.h>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QImage>

#include <vector>

namespace {

constexpr double kFrameMs = 16.0;

// Four groups of 499 rows: 2,000 rows with the headings; every third row has a badge,
// every other one an icon.
struct BigOutline : SLSourceListDataSource
{
    struct Row
    {
        QString title;
        int level = 0;
        std::vector<int> children;
    };
    std::vector<Row> rows;
    std::vector<int> groups;
    QImage picture{16, 16, QImage::Format_ARGB32_Premultiplied};

    BigOutline()
    {
        picture.fill(QColor(90, 120, 200));
        for (int g = 0; g < 4; ++g) {
            groups.push_back(int(rows.size()));
            rows.push_back({QStringLiteral("Group %1").arg(g), 0, {}});
            const int group = groups.back();
            for (int i = 0; i < 499; ++i) {
                rows[size_t(group)].children.push_back(int(rows.size()));
                rows.push_back({QStringLiteral("page%1-%2.html").arg(g).arg(i), 1, {}});
            }
        }
    }
    static int id(SLItem item) { return int(reinterpret_cast<quintptr>(item)) - 1; }
    static SLItem item(int id) { return reinterpret_cast<SLItem>(quintptr(id + 1)); }

    int numberOfChildren(SLSourceList *, SLItem it) override
    {
        return it ? int(rows[size_t(id(it))].children.size()) : int(groups.size());
    }
    SLItem child(SLSourceList *, int index, SLItem it) override
    {
        return item(it ? rows[size_t(id(it))].children[size_t(index)] : groups[size_t(index)]);
    }
    QVariant objectValue(SLSourceList *, SLItem it) override { return rows[size_t(id(it))].title; }
    bool isItemExpandable(SLSourceList *, SLItem it) override { return rows[size_t(id(it))].level == 0; }
    std::optional<bool> itemHasBadge(SLSourceList *, SLItem it) override { return id(it) % 3 == 0; }
    std::optional<qint64> badgeValue(SLSourceList *, SLItem it) override { return id(it) % 50; }
    std::optional<bool> itemHasIcon(SLSourceList *, SLItem it) override { return id(it) % 2 == 0; }
    std::optional<QImage> icon(SLSourceList *, SLItem) override { return picture; }
};

struct AlwaysOpen : SLSourceListDelegate
{
    std::optional<bool> isGroupAlwaysExpanded(SLSourceList *, SLItem) override { return true; }
};

void BM_SourceListFillAndShow(benchmark::State &state)
{
    BigOutline outline;
    AlwaysOpen delegate;
    SLSourceList list;
    list.resize(240, 800);
    list.setDelegate(&delegate);
    list.show();
    QImage image(list.size(), QImage::Format_ARGB32_Premultiplied);
    double totalMs = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        list.setDataSource(&outline);
        list.scrollTo(list.indexAtRow(1000));
        list.render(&image);
        const double ms = timer.nsecsElapsed() / 1e6;
        totalMs += ms;
        state.SetIterationTime(ms / 1e3);
        if (list.numberOfRows() != 2000) {
            state.SkipWithError("not every row is shown");
            return;
        }
        list.setDataSource(nullptr);
    }
    KRBench::reportTarget(state, "fill_and_show_over_frame", totalMs / double(state.iterations()) / kFrameMs, 1.0);
}


struct Titles : SBScopeBarDataSource
{
    std::vector<QStringList> titles{{"List", "Icons"},
                                    {"All", "Controls", "Timers", "Data Sources", "Handlers", "Styles"},
                                    {"Visible", "Hidden"}};
    int numberOfObjectsInGroup(SBScopeBar *, int group) override { return int(titles[size_t(group)].size()); }
    QVariant valueForObject(SBScopeBar *, int group, int index) override { return titles[size_t(group)][index]; }
};

void BM_ScopeBarRelayoutPerPixel(benchmark::State &state)
{
    Titles titles;
    SBScopeBar bar;
    bar.setDataSource(&titles);
    for (const char *id : {"displayTypeGroup", "objectTypeGroup", "visibilityGroup"})
        bar.addGroup()->setIdentifier(id);
    bar.groupAtIndex(1)->setLabel("Show:");
    bar.groupAtIndex(1)->setGroupSelectionStyle(SBScopeBarGroup::MultipleSelection);
    bar.reloadData();
    bar.resize(700, 25);
    bar.show();
    QImage image(QSize(700, 25), QImage::Format_ARGB32_Premultiplied);
    // Narrowing and widening across every fold: squeeze, pop-ups, overflow and back.
    int width = 700;
    int step = -1;
    double totalMs = 0;
    for (auto _ : state) {
        width += step;
        if (width <= 100 || width >= 700)
            step = -step;
        QElapsedTimer timer;
        timer.start();
        bar.resize(width, 25);
        bar.render(&image);
        const double ms = timer.nsecsElapsed() / 1e6;
        totalMs += ms;
        state.SetIterationTime(ms / 1e3);
    }
    KRBench::reportTarget(state, "scope_bar_step_over_frame", totalMs / double(state.iterations()) / kFrameMs, 1.0);
}

} // namespace

BENCHMARK(BM_SourceListFillAndShow)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);
BENCHMARK(BM_ScopeBarRelayoutPerPixel)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(1200);

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv);
}

// Tab bar speed against one frame at 60 Hz (16.7 ms): the widths of 100 fitted tabs, a full
// relayout of a bar of 100 tabs, and a full repaint of a 1,200-pixel Unified bar. Each run
// reports its mean time as a share of a frame (below 1 is in time).

#include <bench/support/KRBenchStartup.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabLayout.h>
#include <widgets/tabbar/TBTabView.h>

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <QElapsedTimer>

namespace {

constexpr double kFrameSeconds = 1.0 / 60.0;

// The mean time of one step over a frame, from the time the benchmark's loop took.
void reportFrames(benchmark::State &state, const std::string &name, const QElapsedTimer &loop)
{
    KRBench::reportTarget(state, name, double(loop.nsecsElapsed()) / 1e9 / double(state.iterations()) / kFrameSeconds, 1.0);
}

void BM_FittedWidthsOf100Tabs(benchmark::State &state)
{
    TBTabWidthInput in;
    in.available = 1171;
    in.sizeCellsToFit = true;
    for (int i = 0; i < 100; ++i)
        in.desiredWidths.push_back(90 + (i * 37) % 160);
    QElapsedTimer loop;
    loop.start();
    for (auto _ : state)
        benchmark::DoNotOptimize(TBGenerateTabWidths(in));
    reportFrames(state, "fitted_widths_over_frame", loop);
}
BENCHMARK(BM_FittedWidthsOf100Tabs);

struct Bar
{
    Bar()
    {
        bar.setStyleNamed(QStringLiteral("Unified"));
        bar.setSizeCellsToFit(true);
        bar.resize(1200, 22);
        bar.setTabView(&tabView);
        for (int i = 0; i < 100; ++i)
            tabView.addItem(QStringLiteral("tab%1").arg(i), QStringLiteral("Page number %1").arg(i));
    }
    TBTabView tabView;
    TBTabBarControl bar;
};

void BM_LayoutOf100Tabs(benchmark::State &state)
{
    Bar b;
    QElapsedTimer loop;
    loop.start();
    for (auto _ : state)
        b.bar.updateTabs(false);
    reportFrames(state, "layout_over_frame", loop);
}
BENCHMARK(BM_LayoutOf100Tabs);

void BM_RepaintOf1200PixelBar(benchmark::State &state)
{
    Bar b;
    QImage image(b.bar.size(), QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer loop;
    loop.start();
    for (auto _ : state) {
        image.fill(Qt::white);
        b.bar.render(&image);
    }
    reportFrames(state, "repaint_over_frame", loop);
}
BENCHMARK(BM_RepaintOf1200PixelBar);

} // namespace

int main(int argc, char **argv)
{
    return KRBench::runStartedApplication(argc, argv);
}

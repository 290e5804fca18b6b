// Tab bar speed against one frame at 60 Hz (16.7 ms): the widths of 100 fitted tabs, a full
// relayout of a bar of 100 tabs, and a full repaint of a 1,200-pixel Unified bar. Each run
// reports its time as a share of a frame ("frames").

#include <bench/support/KRBenchSupport.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabLayout.h>
#include <widgets/tabbar/TBTabView.h>

#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

constexpr double kFrameSeconds = 1.0 / 60.0;

void reportFrames(benchmark::State &state)
{
    state.counters["frames"] = benchmark::Counter(double(state.iterations()) * kFrameSeconds,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FittedWidthsOf100Tabs(benchmark::State &state)
{
    TBTabWidthInput in;
    in.available = 1171;
    in.sizeCellsToFit = true;
    for (int i = 0; i < 100; ++i)
        in.desiredWidths.push_back(90 + (i * 37) % 160);
    for (auto _ : state)
        benchmark::DoNotOptimize(TBGenerateTabWidths(in));
    reportFrames(state);
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
    for (auto _ : state)
        b.bar.updateTabs(false);
    reportFrames(state);
}
BENCHMARK(BM_LayoutOf100Tabs);

void BM_RepaintOf1200PixelBar(benchmark::State &state)
{
    Bar b;
    QImage image(b.bar.size(), QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        image.fill(Qt::white);
        b.bar.render(&image);
    }
    reportFrames(state);
}
BENCHMARK(BM_RepaintOf1200PixelBar);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return KRBench::runWithApplication(argc, argv);
}

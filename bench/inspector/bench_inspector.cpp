// Inspector speed against one frame at 60 Hz (16.7 ms): selecting an object of the richest
// class and showing its whole inspector (rows built, laid out and painted), and switching the
// shown inspector between two objects. Each run reports its time as a share of a frame
// ("frames"); the target is below 1.

#include <bench/support/KRBenchSupport.h>
#include <controls/KRControlLibrary.h>
#include <inspector/KRPropertyEditorViewController.h>
#include <model/KRLocalServerPort.h>
#include <model/KRPage.h>
#include <model/KRProject.h>

#include <QApplication>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr double kFrameSeconds = 1.0 / 60.0;

void reportFrames(benchmark::State &state)
{
    state.counters["frames"] = benchmark::Counter(double(state.iterations()) * kFrameSeconds,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

struct Project
{
    Project()
    {
        KRLocalServerPort::setProvider([] { return qint64(4242); });
        KRPage::registerPageClass();
        registerControlLibrary();
        const QByteArray xml = KRBench::generatedProjectXML(1, 2, [](int o) -> QByteArray {
            return o == 1 ? "<KRPhotoSwipe id=\"gallery\" top=\"10\" left=\"10\" width=\"200\" height=\"200\">a.png\nb.png</KRPhotoSwipe>"
                          : "<JQMTextbox id=\"name\" top=\"240\" left=\"10\" width=\"200\" height=\"40\" color=\"#333333\"/>";
        });
        opened = KRBench::openProject(KRBench::writePackage(folder.path(), xml));
        for (const auto &object : KRBench::allObjects(opened))
            (object->kr_id() == QLatin1String("gallery") ? rich : other) = object;
    }
    QTemporaryDir folder;
    KRBench::Opened opened;
    std::shared_ptr<KRObject> rich;
    std::shared_ptr<KRObject> other;
};

Project &project()
{
    static Project p;
    return p;
}

void BM_ShowInspectorOfRichestObject(benchmark::State &state)
{
    Project &p = project();
    if (!p.rich) {
        state.SkipWithError("project did not open");
        return;
    }
    for (auto _ : state) {
        auto inspector = KRCachingViewController::create<KRPropertyEditorViewController>();
        inspector->setObject(p.rich);
        inspector->view()->resize(300, 900);
        benchmark::DoNotOptimize(inspector->view()->grab());
    }
    reportFrames(state);
}
BENCHMARK(BM_ShowInspectorOfRichestObject)->Unit(benchmark::kMillisecond);

void BM_SwitchBetweenTwoObjects(benchmark::State &state)
{
    Project &p = project();
    if (!p.rich || !p.other) {
        state.SkipWithError("project did not open");
        return;
    }
    // The host keeps one inspector per object and shows the selected one.
    QStackedWidget stack;
    auto first = KRCachingViewController::create<KRPropertyEditorViewController>();
    first->setObject(p.rich);
    auto second = KRCachingViewController::create<KRPropertyEditorViewController>();
    second->setObject(p.other);
    stack.addWidget(first->view());
    stack.addWidget(second->view());
    stack.resize(300, 900);
    int index = 0;
    for (auto _ : state) {
        index = 1 - index;
        stack.setCurrentIndex(index);
        benchmark::DoNotOptimize(stack.grab());
    }
    reportFrames(state);
    stack.removeWidget(first->view());
    stack.removeWidget(second->view());
    first->view()->setParent(nullptr);
    second->view()->setParent(nullptr);
}
BENCHMARK(BM_SwitchBetweenTwoObjects)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return KRBench::runWithApplication(argc, argv);
}

// The main of the benchmarks with widgets.
#include "KRBenchSupport.h"
#include "KRBenchTargets.h"

#include <QApplication>

namespace KRBench {

int runWithApplication(int argc, char **argv, const std::function<void()> &setUp, const std::function<void()> &tearDown)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (setUp)
        setUp();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printTargets();
    if (tearDown)
        tearDown();
    return 0;
}

} // namespace KRBench

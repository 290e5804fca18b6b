// The main of the network benchmarks: the figures beside their targets after the table.
#include <bench/support/KRBenchSupport.h>

#include <QCoreApplication>

#include <benchmark/benchmark.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    KRBench::printFigures();
    return 0;
}

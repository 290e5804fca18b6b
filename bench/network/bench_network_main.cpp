// The main of the network benchmarks: the figures beside their targets after the table.
#include <QCoreApplication>

#include <benchmark/benchmark.h>

void printDownloadFigures(); // bench_NetHTTPRequest.cpp

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printDownloadFigures();
    return 0;
}

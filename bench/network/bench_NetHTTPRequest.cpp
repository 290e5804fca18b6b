// Download throughput of NetHTTPRequest against the stand-in server, next to the curl
// command-line tool on the same URL in the same run, and the peak memory of a download to a
// file (which must not grow with the body).
#include "support/KRTestHTTPServer.h"

#include <bench/support/KRBenchSupport.h>

#include <network/NetHTTPRequest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>


namespace {

constexpr qint64 bodySize = 200LL * 1024 * 1024;

KRTestHTTPServer &server()
{
    static KRTestHTTPServer *s = [] {
        auto *srv = new KRTestHTTPServer;
        srv->start();
        srv->setFallback([](const KRTestRequest &r) {
            KRTestResponse resp;
            resp.generatedBodyLength = r.queryItem("size").toLongLong();
            return resp;
        });
        return srv;
    }();
    return *s;
}

QUrl bodyURL(qint64 size)
{
    return server().url(QStringLiteral("/body?size=%1").arg(size));
}

QString scratch()
{
    static QTemporaryDir dir;
    return dir.path();
}

void BM_DownloadToFile(benchmark::State &state)
{
    const qint64 size = state.range(0) * 1024 * 1024;
    const QString dest = scratch() + "/download.bin";
    long peak = 0;
    for (auto _ : state) {
        KRBench::resetPeakResident();
        auto r = NetHTTPRequest::requestWithURL(bodyURL(size));
        r->setDownloadDestinationPath(dest);
        r->setTimeOutSeconds(60);
        r->startSynchronous();
        peak = std::max(peak, KRBench::peakResidentKiB());
        if (r->error() || QFileInfo(dest).size() != size)
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["peak_rss_MiB"] = double(peak) / 1024.0;
    QFile::remove(dest);
}

void BM_DownloadToMemory(benchmark::State &state)
{
    const qint64 size = state.range(0) * 1024 * 1024;
    for (auto _ : state) {
        auto r = NetHTTPRequest::requestWithURL(bodyURL(size));
        r->setTimeOutSeconds(60);
        r->startSynchronous();
        if (r->error() || r->rawResponseData().size() != size)
            state.SkipWithError("download failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_CurlTool(benchmark::State &state)
{
    const qint64 size = state.range(0) * 1024 * 1024;
    const QString dest = scratch() + "/curl.bin";
    for (auto _ : state) {
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--http1.1"), QStringLiteral("-o"), dest,
                                            bodyURL(size).toString()});
        if (!curl.waitForFinished(120000) || curl.exitCode() != 0 || QFileInfo(dest).size() != size)
            state.SkipWithError("curl failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
    QFile::remove(dest);
}

} // namespace

BENCHMARK(BM_CurlTool)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DownloadToFile)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_DownloadToMemory)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Download throughput of NetHTTPRequest against the stand-in server (in this process, on
// 127.0.0.1), next to the curl command-line tool fetching the same URL into the same folder in
// the same iterations, on two file systems: a tmpfs folder (/dev/shm), where writing costs
// least and the download's own path is what is left, and the file system of the build folder.
// Each iteration runs curl, then the request; "speed_over_curl" is the median over the
// iterations of curl's time (which includes starting the curl process, a few milliseconds of
// half a second) over the request's (from starting the request until its file is in place).
// Before each download the file system's unwritten data is written out (not timed).
// The peak memory of a download to a file must not grow with the body: the 20 MiB download
// on the build folder's file system is the floor of the 200 MiB one.
#include "support/KRTestHTTPServer.h"

#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>

#include <network/NetHTTPRequest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

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

enum FileSystem { TmpFS = 0, BuildFolder = 1 };

// A scratch folder on the file system: under /dev/shm, or beside the benchmark program.
QString scratch(FileSystem fileSystem)
{
    static QTemporaryDir shm(QStringLiteral("/dev/shm/kr-bench-XXXXXX"));
    static QTemporaryDir build(QCoreApplication::applicationDirPath() + QStringLiteral("/download-XXXXXX"));
    return fileSystem == TmpFS ? shm.path() : build.path();
}

QString fileSystemName(FileSystem fileSystem)
{
    return fileSystem == TmpFS ? QStringLiteral("tmpfs")
                               : QString::fromLatin1(QStorageInfo(scratch(fileSystem)).fileSystemType());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Writes out what the file system holds unwritten, so that each download starts from the same
// state and none pays for the other's writing.
void settle(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// Seconds curl takes to fetch the body into the file; negative on failure.
double curlSeconds(const QUrl &url, const QString &dest, qint64 size)
{
    QFile::remove(dest);
    settle(QFileInfo(dest).path());
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--http1.1"), QStringLiteral("-o"), dest,
                                        url.toString()});
    if (!curl.waitForFinished(120000) || curl.exitCode() != 0 || QFileInfo(dest).size() != size)
        return -1;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    QFile::remove(dest);
    return seconds;
}

// The lines printed once the benchmarks have run: each figure beside its target.
QStringList &figures()
{
    static QStringList lines;
    return lines;
}

long floorPeakKiB = 0;

void BM_DownloadToFile(benchmark::State &state)
{
    const auto fileSystem = FileSystem(state.range(0));
    const qint64 size = state.range(1) * 1024 * 1024;
    if (scratch(fileSystem).isEmpty()) {
        state.SkipWithError("no scratch folder on the file system");
        return;
    }
    const QString dest = scratch(fileSystem) + QStringLiteral("/download.bin");
    const QString curlDest = scratch(fileSystem) + QStringLiteral("/curl.bin");
    const QUrl url = bodyURL(size);
    std::vector<double> ratios;
    long peak = 0;
    for (auto _ : state) {
        const double curl = curlSeconds(url, curlDest, size);
        if (curl <= 0) {
            state.SkipWithError("curl failed");
            return;
        }
        QFile::remove(dest);
        settle(scratch(fileSystem));
        KRBench::resetPeakResident();
        QElapsedTimer timer;
        timer.start();
        auto r = NetHTTPRequest::requestWithURL(url);
        r->setDownloadDestinationPath(dest);
        r->setTimeOutSeconds(60);
        r->startSynchronous();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        peak = std::max(peak, KRBench::peakResidentKiB());
        if (r->error() || QFileInfo(dest).size() != size) {
            state.SkipWithError("download failed");
            return;
        }
        ratios.push_back(curl / seconds);
    }
    QFile::remove(dest);
    state.SetBytesProcessed(state.iterations() * size);
    const double ratio = median(ratios);
    state.counters["speed_over_curl"] = ratio;
    state.counters["peak_rss_MiB"] = double(peak) / 1024.0;
    state.SetLabel(fileSystemName(fileSystem).toStdString());
    if (fileSystem == BuildFolder && state.range(1) == 20) {
        floorPeakKiB = peak;
        return;
    }
    KRBench::reportTarget(state, "download_over_curl_" + fileSystemName(fileSystem).toStdString(), ratio, 1,
                          KRBench::Bound::AtLeast);
    figures().append(QStringLiteral("%1  %2\u00d7 curl   target \u2265 1\u00d7")
                         .arg(QStringLiteral("download/%1").arg(fileSystemName(fileSystem)).leftJustified(16),
                              QString::number(ratio, 'f', 2).rightJustified(6)));
    if (fileSystem == BuildFolder && floorPeakKiB > 0) {
        const double flat = double(peak) / double(floorPeakKiB);
        KRBench::reportTarget(state, "download_peak_200MiB_over_20MiB", flat, 1.1);
        figures().append(QStringLiteral("%1  %2\u00d7 the peak memory of 20 MiB   target \u2264 1.1\u00d7")
                             .arg(QStringLiteral("peak/200 MiB").leftJustified(16), QString::number(flat, 'f', 2).rightJustified(6)));
    }
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

} // namespace

// The 20 MiB download runs first: it is the floor of the peak memory of the 200 MiB ones.
BENCHMARK(BM_DownloadToFile)
    ->Args({BuildFolder, 20})
    ->Args({BuildFolder, 200})
    ->Args({TmpFS, 200})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_DownloadToMemory)->Arg(200)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void printDownloadFigures()
{
    for (const QString &line : std::as_const(figures()))
        std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

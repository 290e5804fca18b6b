// Peak memory of a multipart form upload of a big file (1 GiB) against the stand-in server,
// next to the peak of a tiny upload (1 MiB) in the same run as the floor. The file is read
// from disk while the body is sent, so the two peaks must be about the same. Each iteration
// includes building the form's body, the whole exchange over loopback and the server
// reading and discarding the body; writing the source file is outside the measurement.
#include "support/KRTestHTTPServer.h"

#include <bench/support/KRBenchSupport.h>

#include <network/NetFormDataRequest.h>

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>


namespace {

KRTestHTTPServer &uploadServer()
{
    static KRTestHTTPServer *s = [] {
        auto *srv = new KRTestHTTPServer;
        srv->start();
        srv->discardBodies("/upload");
        srv->route("/upload", [](const KRTestRequest &r) { return KRTestResponse::text(QByteArray::number(r.bodyLength)); });
        return srv;
    }();
    return *s;
}

bool writePatternFile(const QString &path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 31 + 7);
    for (qint64 written = 0; written < size; written += block.size()) {
        if (f.write(block.constData(), std::min<qint64>(block.size(), size - written)) < 0)
            return false;
    }
    return true;
}

long tinyUploadPeakKiB = 0;

void BM_FormFileUploadPeakMemory(benchmark::State &state)
{
    const qint64 size = state.range(0) * 1024 * 1024;
    QTemporaryDir dir;
    const QString file = dir.path() + "/upload.bin";
    if (!writePatternFile(file, size)) {
        state.SkipWithError("cannot write the source file");
        return;
    }
    uploadServer();
    long peak = 0;
    for (auto _ : state) {
        KRBench::resetPeakResident();
        auto r = NetFormDataRequest::requestWithURL(uploadServer().url("/upload"));
        r->setTimeOutSeconds(300);
        r->addPostValue(QStringLiteral("value"), QStringLiteral("key"));
        r->addFile(file, QStringLiteral("file"));
        r->startSynchronous();
        peak = std::max(peak, KRBench::peakResidentKiB());
        if (r->error() || r->postLength() <= std::uint64_t(size)
            || r->responseString() != QString::number(r->postLength()))
            state.SkipWithError("upload failed");
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["peak_rss_MiB"] = double(peak) / 1024.0;
    if (state.range(0) == 1)
        tinyUploadPeakKiB = peak;
    else if (tinyUploadPeakKiB > 0)
        state.counters["peak_vs_tiny_upload"] = double(peak) / double(tinyUploadPeakKiB);
}

} // namespace

// The tiny upload runs first: it is the floor of the big one.
BENCHMARK(BM_FormFileUploadPeakMemory)->Arg(1)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// What the local runtime server costs while it starts and waits: the application starts one at
// launch and Run starts a second (the device viewer's), both while the user waits for a window
// or a page. Both are started at once, as Run does while the application's is still young; the
// figures are the time until both have answered a file, the processor time both took in the
// first three seconds (which the application's own start-up shares the processors with), and
// the memory each holds then. Measured once with the processors this program may use and once
// confined to two of them ("_2cores", as on a two-core machine). Targets: both answer within
// 1 s, take at most 400 ms of processor time between them, and hold at most 80 MB each.

#include <bench/support/KRBenchCores.h>
#include <bench/support/KRBenchLoopback.h>
#include <bench/support/KRBenchSupport.h>
#include <bench/support/KRBenchTargets.h>
#include <core/KRNodeRunner.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <sched.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString g_home;

// The status of GET `path` from 127.0.0.1:port, or 0.
int getStatus(qint64 port, const char *path)
{
    const int fd = KRBench::connectToLoopback(port);
    if (fd < 0)
        return 0;
    const std::string request = std::string("GET ") + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    ::send(fd, request.data(), request.size(), 0);
    char head[64] = {};
    const ssize_t got = ::recv(fd, head, sizeof head - 1, MSG_WAITALL);
    ::close(fd);
    return got > 12 ? std::atoi(head + 9) : 0;
}

// The server process serving `root`, or 0.
qint64 serverFor(const QString &root)
{
    const QByteArray needle = QFile::encodeName(root);
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (entry.toLongLong() <= 0 || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.size() > 2 && arguments[1].endsWith("kr-local-runtime.js") && arguments[2] == needle)
            return entry.toLongLong();
    }
    return 0;
}

double residentMB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

void measure(benchmark::State &state, const std::string &suffix)
{
    for (auto _ : state) {
        const QString roots[2] = {g_home + QStringLiteral("/app") + QString::fromStdString(suffix),
                                  g_home + QStringLiteral("/run") + QString::fromStdString(suffix)};
        QElapsedTimer timer;
        timer.start();
        KRNodeRunner runners[2];
        for (int i = 0; i < 2; ++i) {
            QDir().mkpath(roots[i]);
            runners[i].setDocumentRootPath(roots[i]);
            runners[i].setRequestedPortNumber(0);
            runners[i].start();
        }
        int answered = 0;
        for (KRNodeRunner &runner : runners) {
            const qint64 port = runner.portNumber();
            if (port > 0 && getStatus(port, "/__kr_bundle/jquery-1.9.0/VERSION") == 200)
                ++answered;
        }
        const double answerMs = double(timer.nsecsElapsed()) / 1e6;
        if (answered != 2) {
            state.SkipWithError("a server did not answer");
            return;
        }
        // The first three seconds, events going on as in the application.
        while (timer.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        double cpuMs = 0;
        double largestMB = 0;
        for (const QString &root : roots) {
            const qint64 pid = serverFor(root);
            if (pid <= 0) {
                state.SkipWithError("a server process was not found");
                return;
            }
            cpuMs += KRBench::processorMs(pid);
            largestMB = std::max(largestMB, residentMB(pid));
        }
        KRBench::reportTarget(state, "two_servers_answer_ms" + suffix, answerMs, "ms", 1000);
        KRBench::reportTarget(state, "two_servers_start_cpu_ms" + suffix, cpuMs, "ms", 400);
        KRBench::reportTarget(state, "server_start_rss_mb" + suffix, largestMB, "MB", 80);
        std::printf("two servers%s: both answer after %.0f ms; processor time in 3 s %.0f ms; the larger holds %.0f MB\n",
                    suffix.c_str(), answerMs, cpuMs, largestMB);
        for (KRNodeRunner &runner : runners)
            runner.terminate();
    }
}

void BM_TwoServersStart(benchmark::State &state)
{
    measure(state, "");
}
BENCHMARK(BM_TwoServersStart)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// This thread (which starts the servers) confined to the first two processors it may use.
void BM_TwoServersStartOnTwoCores(benchmark::State &state)
{
    cpu_set_t allowed;
    if (!KRBench::confineToTwoProcessors(&allowed)) {
        state.SkipWithError("fewer than two processors");
        return;
    }
    measure(state, "_2cores");
    ::sched_setaffinity(0, sizeof allowed, &allowed);
}
BENCHMARK(BM_TwoServersStartOnTwoCores)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    g_home = home.path();
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    KRNodeRunner::endAllServers();
    return 0;
}

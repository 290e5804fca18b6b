// Throughput of the local runtime server: GET requests of a ~50 KB file from 16 clients
// (requests per second; the server closes each connection after its answer, so every request
// opens one), GET requests of a small server page (for every request
// the page is read, its onGET handler and two template expressions run in the sandboxed script
// processes, and the answer comes back over their pipes) against a static file of the same
// size as its peer, server pages as a share of the static rate measured in the same run at 1
// and 16 clients, server pages at one client against their floor (the same page answered the
// way the server answered pages before their scripts ran in processes of their own, measured in
// the same run), server pages against the same server without the read-only view of their
// script processes, the time a script process takes to start with and without that view, the
// stored-data path of server pages with a store of about 10 MB, and the syntax check of a
// 1,000-line script. main() prints what each figure includes.

#include <bench/support/KRBenchCores.h>
#include <bench/support/KRBenchLoopback.h>
#include <bench/support/KRBenchTargets.h>
#include <builder/KRSyntaxChecker.h>
#include <core/KRNodeRunner.h>

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

qint64 g_port = -1;
std::string g_token;
// The floor server of the server page figures (pre-sandbox-floor.js beside this file).
qint64 g_floorPort = -1;
// The same server started by node as it is (g_viewPort) and with script processes that have no
// view of their own (g_withoutViewPort), both the same way (walls-server.js beside this file).
qint64 g_viewPort = -1;
qint64 g_withoutViewPort = -1;
QString g_root;


// One request on an open connection; returns the body size, or -1. `closed` tells whether the
// server ends the connection after this answer ("Connection: close"), as the runtime server
// does after every answer.
long exchange(int fd, const std::string &request, std::string &buffer, bool *closed = nullptr)
{
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return -1;
    buffer.clear();
    size_t headerEnd = std::string::npos;
    long length = -1;
    char chunk[65536];
    for (;;) {
        if (headerEnd != std::string::npos && buffer.size() >= headerEnd + 4 + static_cast<size_t>(length))
            break;
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return -1;
        buffer.append(chunk, static_cast<size_t>(n));
        if (headerEnd == std::string::npos) {
            headerEnd = buffer.find("\r\n\r\n");
            if (headerEnd != std::string::npos) {
                if (buffer.compare(0, 12, "HTTP/1.1 200") != 0)
                    return -1;
                const size_t at = buffer.find("ontent-Length: ");
                if (at == std::string::npos || at > headerEnd)
                    return -1;
                length = std::stol(buffer.substr(at + 15));
                if (closed) {
                    const size_t connection = buffer.find("\r\nConnection: close\r\n");
                    *closed = connection != std::string::npos && connection < headerEnd;
                }
            }
        }
    }
    return length;
}

// `requests` GET requests of `path` spread over `connections` clients, each asking one request
// after the other on its connection, and opening a new one when the server closed it after
// an answer; the bytes of the answers' bodies, or -1 when a request failed.
long getAll(const std::string &path, int requests, int connections, qint64 port = g_port)
{
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::atomic<int> failures{0};
    std::atomic<long> received{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&, c] {
            int fd = -1;
            std::string buffer;
            const int share = requests / connections + (c < requests % connections ? 1 : 0);
            for (int i = 0; i < share; ++i) {
                if (fd < 0 && (fd = KRBench::connectToLoopback(port)) < 0) {
                    ++failures;
                    return;
                }
                bool closed = false;
                const long n = exchange(fd, request, buffer, &closed);
                if (n < 0) {
                    ++failures;
                    break;
                }
                received += n;
                if (closed) {
                    ::close(fd);
                    fd = -1;
                }
            }
            if (fd >= 0)
                ::close(fd);
        });
    }
    for (auto &t : threads)
        t.join();
    return failures ? -1 : received.load();
}

// Requests per second of getAll(), or -1.
double rate(const std::string &path, int requests, int connections, qint64 port = g_port)
{
    const auto start = std::chrono::steady_clock::now();
    if (getAll(path, requests, connections, port) < 0)
        return -1;
    return requests / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void runGets(benchmark::State &state, const std::string &path, int requests = 10000)
{
    constexpr int connections = 16;
    long bytes = 0;
    for (auto _ : state) {
        const long received = getAll(path, requests, connections);
        if (received < 0) {
            state.SkipWithError("requests failed");
            return;
        }
        bytes += received;
    }
    state.SetItemsProcessed(state.iterations() * requests);
    state.SetBytesProcessed(bytes);
    state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations() * requests),
                                                      benchmark::Counter::kIsRate);
}

void BM_BundleGet_68KB(benchmark::State &state)
{
    runGets(state, "/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css");
}
BENCHMARK(BM_BundleGet_68KB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DocumentRootGet_50KB(benchmark::State &state)
{
    runGets(state, "/file-50k.js");
}
BENCHMARK(BM_DocumentRootGet_50KB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A server page whose answer is about 1 KB: the whole path of a request (reading the page,
// running onGET, filling the template) against a static file of the same size.
const char benchServerPage[] = R"XML(<?xml version="1.0" encoding="UTF-8"?>
<krml><pageMap><![CDATA[{"page":"page.krml"}]]></pageMap><html><![CDATA[<!DOCTYPE HTML>
<html><body><div id="greeting"><%= response.form.greeting %></div>
<script>application._pages.page.form = <%=response._formJSON()%>;</script>
)XML";

void BM_ServerPageGet_1KB(benchmark::State &state)
{
    runGets(state, "/page.krml?name=Ada", 2000);
}
BENCHMARK(BM_ServerPageGet_1KB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_StaticPeerGet_1KB(benchmark::State &state)
{
    runGets(state, "/peer-1k.html", 2000);
}
BENCHMARK(BM_StaticPeerGet_1KB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Server pages per second against static files per second, both measured in each iteration,
// with state.range(0) clients: the page's whole path (reading the page, running onGET and the
// template in a script process, the answer back over the pipes) against a 1 KB file.
void BM_ServerPagesShareOfStatic(benchmark::State &state)
{
    const int clients = static_cast<int>(state.range(0));
    const int pageRequests = clients == 1 ? 400 : 2000;
    double pages = 0;
    double files = 0;
    for (auto _ : state) {
        const double fileRate = rate("/peer-1k.html", 4 * pageRequests, clients);
        const double pageRate = rate("/page.krml?name=Ada", pageRequests, clients);
        if (fileRate < 0 || pageRate < 0) {
            state.SkipWithError("requests failed");
            return;
        }
        files += fileRate;
        pages += pageRate;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["pages/s"] = pages / n;
    state.counters["files/s"] = files / n;
    state.counters["pages/files"] = pages / files;
}
BENCHMARK(BM_ServerPagesShareOfStatic)->ArgName("clients")->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(2);

// A server page at one client against its floor: the page as the server answers it (page file
// read, onGET and the template run in a sandboxed script process, the answer back over its
// pipes), the same page from the floor server (page file read, onGET and the template run in a
// new context in the server's own process, as before page scripts had processes of their own)
// and the static 1 KB file. Both servers are first warmed up alike, past the first replacement
// of a script process; then each repetition asks 1,000 of each, in turns of 50 (page, floor,
// file), so that a change in what else the machine runs meets all three alike, and takes the
// time per request of each from its total. page/floor is the time per page against the
// floor's (the target is at most 1.5); pages/files is the page rate as a share of the file rate.
// The server's project holds the store of about 10 MB of the stored-data figures, as a
// project's server pages may.
std::vector<double> g_pageOverFloor;
std::vector<double> g_pageShareOfFile;
// The machine's load (one-minute average) at the start and end of each repetition.
std::vector<double> g_loads;

double loadAverage()
{
    double load = -1;
    return ::getloadavg(&load, 1) == 1 ? load : -1;
}

// The time `requests` GET requests of `path` take from `clients` clients, each asking one after
// the other, in seconds, or -1.
double secondsFor(const std::string &path, int requests, qint64 port, int clients = 1)
{
    const auto start = std::chrono::steady_clock::now();
    if (getAll(path, requests, clients, port) < 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ServerPageAgainstPreSandboxFloor(benchmark::State &state)
{
    constexpr int turns = 20;
    constexpr int perTurn = 50;
    constexpr int warmUp = 250;
    if (g_floorPort <= 0) {
        state.SkipWithError("the floor server did not start");
        return;
    }
    if (getAll("/page.krml?name=Ada", warmUp, 1) < 0 || getAll("/page.krml?name=Ada", warmUp, 1, g_floorPort) < 0
        || getAll("/peer-1k.html", warmUp, 1) < 0) {
        state.SkipWithError("requests failed");
        return;
    }
    double page = 0;
    double floor = 0;
    double file = 0;
    g_loads.push_back(loadAverage());
    for (auto _ : state) {
        for (int turn = 0; turn < turns; ++turn) {
            const double pageSeconds = secondsFor("/page.krml?name=Ada", perTurn, g_port);
            const double floorSeconds = secondsFor("/page.krml?name=Ada", perTurn, g_floorPort);
            const double fileSeconds = secondsFor("/peer-1k.html", perTurn, g_port);
            if (pageSeconds < 0 || floorSeconds < 0 || fileSeconds < 0) {
                state.SkipWithError("requests failed");
                return;
            }
            page += pageSeconds;
            floor += floorSeconds;
            file += fileSeconds;
        }
    }
    g_loads.push_back(loadAverage());
    const double requests = static_cast<double>(state.iterations()) * turns * perTurn;
    state.counters["pages/s"] = requests / page;
    state.counters["floor/s"] = requests / floor;
    state.counters["files/s"] = requests / file;
    state.counters["page/floor"] = page / floor;
    state.counters["pages/files"] = file / page;
    g_pageOverFloor.push_back(page / floor);
    g_pageShareOfFile.push_back(file / page);
}
BENCHMARK(BM_ServerPageAgainstPreSandboxFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)
    ->Repetitions(3);

// Server pages with and without the view of their script processes (the file system each
// sees: the system's programs and the site, read-only, made once for the server and entered by
// each process), at state.range(0) clients, from two servers started alike on the same two
// processors that differ in that alone (their project has no stored data): both are first
// warmed up alike, past the first replacement of their script processes; then each repetition
// asks 2,000 pages of each in turns of 100, each server first in every other turn, so that a
// change in what else the machine runs meets both alike. with/without is the page rate with
// the view as a share of the rate without it.
std::vector<double> g_viewShare[2];

void BM_ServerPageWithViewAgainstWithout(benchmark::State &state)
{
    const int clients = static_cast<int>(state.range(0));
    const std::string page = "/page.krml?name=Ada";
    if (g_viewPort <= 0 || g_withoutViewPort <= 0) {
        state.SkipWithError("a server did not start");
        return;
    }
    double withView = 0;
    double without = 0;
    if (secondsFor(page, 400, g_viewPort, clients) < 0 || secondsFor(page, 400, g_withoutViewPort, clients) < 0) {
        state.SkipWithError("requests failed");
        return;
    }
    for (auto _ : state) {
        for (int turn = 0; turn < 20; ++turn) {
            // Each goes first in every other turn.
            const double plain = turn % 2 ? secondsFor(page, 100, g_withoutViewPort, clients) : 0;
            const double viewed = secondsFor(page, 100, g_viewPort, clients);
            const double plainAfter = turn % 2 ? 0 : secondsFor(page, 100, g_withoutViewPort, clients);
            if (viewed < 0 || plain < 0 || plainAfter < 0) {
                state.SkipWithError("requests failed");
                return;
            }
            withView += viewed;
            without += plain + plainAfter;
        }
    }
    const double requests = static_cast<double>(state.iterations()) * 20 * 100;
    state.counters["with/s"] = requests / withView;
    state.counters["without/s"] = requests / without;
    state.counters["with/without"] = without / withView;
    g_viewShare[clients == 1 ? 0 : 1].push_back(without / withView);
}
BENCHMARK(BM_ServerPageWithViewAgainstWithout)->ArgName("clients")->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(1)->Repetitions(5);

// A script process started and ended, one after the other (script-process-start.js beside this
// file): with its view, in namespaces of its own without the view, with no walls; the view is
// made once, first.
void BM_ScriptProcessStart(benchmark::State &state)
{
    QJsonObject figures;
    for (auto _ : state) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(KRNodeRunner::nodeExecutablePath(),
                      {QStringLiteral(KR_SOURCE_DIR "/bench/localserver/script-process-start.js"),
                       KRNodeRunner::localServerPath(), g_root, QStringLiteral("20")});
        if (!process.waitForFinished(120000)) {
            process.kill();
            process.waitForFinished(5000);
            state.SkipWithError("the processes did not finish");
            return;
        }
        figures = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    }
    const QJsonArray view = figures.value(QStringLiteral("view")).toArray();
    const QJsonArray without = figures.value(QStringLiteral("withoutView")).toArray();
    const QJsonArray none = figures.value(QStringLiteral("none")).toArray();
    if (view.size() != 2 || without.size() != 2 || view.at(0).toDouble() < 0 || without.at(0).toDouble() < 0) {
        state.SkipWithError("a process did not start");
        return;
    }
    state.counters["view_ms"] = view.at(0).toDouble();
    state.counters["view_cpu_ms"] = view.at(1).toDouble();
    state.counters["without_view_ms"] = without.at(0).toDouble();
    state.counters["without_view_cpu_ms"] = without.at(1).toDouble();
    state.counters["no_walls_ms"] = none.at(0).toDouble();
    state.counters["no_walls_cpu_ms"] = none.at(1).toDouble();
    state.counters["view_made_ms"] = figures.value(QStringLiteral("viewMade")).toDouble(-1);
}
BENCHMARK(BM_ScriptProcessStart)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

// A helper server started by node on `script` and its arguments; its port (from the first
// line it writes), or -1.
qint64 startHelperServer(QProcess &process, const QString &script, const QStringList &arguments)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setWorkingDirectory(KRNodeRunner::localServerPath());
    process.start(KRNodeRunner::nodeExecutablePath(), QStringList{script} + arguments);
    if (!process.waitForStarted(10000))
        return -1;
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return -1;
    }
    return QJsonDocument::fromJson(process.readLine()).object().value(QStringLiteral("port")).toInteger(-1);
}

// The floor server on `root`; its port, or -1.
qint64 startFloorServer(QProcess &process, const QString &root)
{
    return startHelperServer(process, QStringLiteral(KR_SOURCE_DIR "/bench/localserver/pre-sandbox-floor.js"), {root});
}

// The median of `values` as "0.00×", and their number, least and greatest.
struct Spread
{
    std::string median;
    std::string range;
    double value = 0;
};

Spread spread(std::vector<double> values)
{
    if (values.empty())
        return {"not measured", ""};
    std::sort(values.begin(), values.end());
    char median[32];
    char range[96];
    std::snprintf(median, sizeof median, "%.2f×", values[values.size() / 2]);
    std::snprintf(range, sizeof range, "median of %zu repetitions, min %.2f×, max %.2f×", values.size(), values.front(),
                  values.back());
    return {median, range, values[values.size() / 2]};
}

// The stored-data path with a store of about 10 MB (ten items of a million characters):
// reading one small item, and writing one. A read includes the script process's look-up of the
// item in the store it holds (the store reaches each process once, later changes follow as
// changes); a write includes that, the change applied in the server, the whole store written
// to a new file and synced before the answer, and the change sent on to the script processes.
void storageRequests(benchmark::State &state, const std::string &path)
{
    const int clients = static_cast<int>(state.range(0));
    const int requests = clients == 1 ? 100 : 400;
    for (auto _ : state) {
        if (getAll(path, requests, clients) < 0) {
            state.SkipWithError("requests failed");
            return;
        }
    }
    state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations() * requests),
                                                      benchmark::Counter::kIsRate);
}

void BM_StorageRead_10MBStore(benchmark::State &state)
{
    storageRequests(state, "/store.krml?get=small");
}
BENCHMARK(BM_StorageRead_10MBStore)->ArgName("clients")->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(2);

void BM_StorageWrite_10MBStore(benchmark::State &state)
{
    storageRequests(state, "/store.krml?set=small");
}
BENCHMARK(BM_StorageWrite_10MBStore)->ArgName("clients")->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)
    ->UseRealTime()->Iterations(2);

std::string thousandLineScript()
{
    std::string script;
    for (int f = 0; f < 100; ++f) {
        script += "function handler" + std::to_string(f) + "(event, items) {\n";
        script += "    var total = 0, index;\n";
        script += "    for (index = 0; index < items.length; index += 1) {\n";
        script += "        if (items[index] === " + std::to_string(f) + ") { total += items[index]; }\n";
        script += "    }\n";
        script += "    var label = 'Item ' + total + \" of \" + items.length;\n";
        script += "    $('#page_" + std::to_string(f) + "').text(label);\n";
        script += "    if (total == 3) { return null; }\n";
        script += "    return { total: total, label: label };\n";
        script += "}\n";
    }
    return script;
}

void BM_CheckSyntax_1000Lines(benchmark::State &state)
{
    const QJsonObject options{{"eqeqeq", true}, {"bitwise", true}, {"curly", true}, {"latedef", false},
                              {"plusplus", false}, {"sub", true}, {"mixed", false}};
    const QByteArray body = QJsonDocument(QJsonObject{{"src", QString::fromStdString(thousandLineScript())},
                                                      {"options", options}})
                                .toJson(QJsonDocument::Compact);
    const std::string request = "POST /__kr_check_syntax HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                                + std::string(KRNodeRunner::tokenHeaderName) + ": " + g_token + "\r\n"
                                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body.toStdString();
    // One connection a check: the server closes each after its answer.
    std::string buffer;
    const auto check = [&] {
        const int fd = KRBench::connectToLoopback(g_port);
        const long n = fd < 0 ? -1 : exchange(fd, request, buffer);
        if (fd >= 0)
            ::close(fd);
        return n;
    };
    check(); // loads jshint
    for (auto _ : state) {
        if (check() < 0) {
            state.SkipWithError("check failed");
            break;
        }
    }
    const size_t at = buffer.find("\"errors\":[");
    state.counters["findings"] = at == std::string::npos ? -1 : static_cast<double>(std::count(buffer.begin() + at, buffer.end(), '{'));
}
BENCHMARK(BM_CheckSyntax_1000Lines)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same script as one event function through the syntax-check client: JSON encoding, the
// synchronous HTTP request and reading the findings back.
void BM_SyntaxChecker_1000Lines(benchmark::State &state)
{
    const KRSyntaxCheckFunction function{QStringLiteral("page1"), QStringLiteral("onLoad"),
                                         QStringLiteral("application._pages.page1._events.onLoad = function(event) {\n") +
                                             QString::fromStdString(thousandLineScript()) + QStringLiteral("\n};\n")};
    KRSyntaxChecker checker([] { return g_port; });
    KRSyntaxCheckOptions options;
    options.eqeqeq = true;
    checker.setOptions(options);
    checker.checkFunctions({function}); // loads jshint
    qsizetype findings = -1;
    for (auto _ : state) {
        const KRSyntaxCheckRun run = checker.checkFunctions({function});
        if (run.outcome == KRSyntaxCheckRun::Outcome::NotChecked) {
            state.SkipWithError("check failed");
            break;
        }
        findings = run.functions.first().errors->size();
    }
    state.counters["findings"] = static_cast<double>(findings);
}
BENCHMARK(BM_SyntaxChecker_1000Lines)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    QFile file(QDir(home.path()).filePath("file-50k.js"));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QByteArray(50 * 1024, 'x'));
    file.close();
    QByteArray page(benchServerPage);
    page += QByteArray(1024 - 200, 'p') + "\n</body></html>]]></html><events><event id=\"onGET\"><![CDATA["
            "response.setFormValue(\"greeting\", \"Hello, \" + (request.query.name || \"nobody\"));"
            "]]></event></events></krml>\n";
    QFile pageFile(QDir(home.path()).filePath("page.krml"));
    QFile peerFile(QDir(home.path()).filePath("peer-1k.html"));
    if (!pageFile.open(QIODevice::WriteOnly) || !peerFile.open(QIODevice::WriteOnly))
        return 1;
    pageFile.write(page);
    peerFile.write(QByteArray(1024, 'p'));
    pageFile.close();
    peerFile.close();
    QFile storeFile(QDir(home.path()).filePath("store.krml"));
    if (!storeFile.open(QIODevice::WriteOnly))
        return 1;
    storeFile.write("<krml><html><![CDATA[<p><%= response.form.result %></p>]]></html><events><event id=\"onGET\"><![CDATA["
                    "var q = request.query;"
                    "if (q.fill) storage.setItem('filler' + q.fill, 'f'.repeat(1000000));"
                    "if (q.set) storage.setItem(q.set, (storage.getItem(q.set) || 0) + 1);"
                    "response.setFormValue('result', String(storage.getItem(q.get || q.set || 'small')));"
                    "]]></event></events></krml>\n");
    storeFile.close();

    auto runner = std::make_unique<KRNodeRunner>();
    runner->setDocumentRootPath(home.path());
    runner->setRequestedPortNumber(0);
    runner->start();
    g_port = runner->portNumber();
    g_token = runner->token().toStdString();
    if (g_port <= 0) {
        std::fprintf(stderr, "the local runtime server did not start\n");
        return 1;
    }
    // A store of about 10 MB for the stored-data figures.
    for (int i = 0; i < 10; ++i) {
        if (getAll("/store.krml?fill=" + std::to_string(i), 1, 1) < 0) {
            std::fprintf(stderr, "the store could not be filled\n");
            return 1;
        }
    }
    getAll("/store.krml?set=small", 1, 1);
    QProcess floorServer;
    g_floorPort = startFloorServer(floorServer, home.path());
    g_root = home.path();
    // Both on the same two processors, with their script processes, as on a two-core machine:
    // what their walls cost to set up is taken from what answers pages.
    QProcess viewServer;
    QProcess withoutViewServer;
    cpu_set_t processors;
    const bool confined = KRBench::confineToTwoProcessors(&processors);
    for (auto [process, port, walls] : {std::tuple{&viewServer, &g_viewPort, "view"},
                                        std::tuple{&withoutViewServer, &g_withoutViewPort, "no-view"}}) {
        *port = startHelperServer(*process, QStringLiteral(KR_SOURCE_DIR "/bench/localserver/walls-server.js"),
                                  {KRNodeRunner::localServerPath(), home.path(), QLatin1String(walls)});
    }
    if (confined)
        ::sched_setaffinity(0, sizeof processors, &processors);
    std::printf(
        "What the figures include (every request on a connection of its own to 127.0.0.1, as the\n"
        "runtime server closes each after its answer; the floor server does the same):\n"
        "  BM_BundleGet, BM_DocumentRootGet: static files, 16 clients.\n"
        "  BM_ServerPageGet_1KB: a server page (page file read, onGET and the template run in a\n"
        "    sandboxed script process, answer back over its pipes), 16 clients; BM_StaticPeerGet_1KB:\n"
        "    a static file of the same size.\n"
        "  BM_ServerPagesShareOfStatic: pages/s and files/s of that page and file, measured in the\n"
        "    same iteration with 1 or 16 clients; pages/files is the page rate as a share of the file rate.\n"
        "  BM_ServerPageAgainstPreSandboxFloor: that page at 1 client, that file, and the same page from\n"
        "    a floor server that answers it as the server did before page scripts had processes of their\n"
        "    own (page file read, onGET and the template run in a new context in its own process, each with\n"
        "    a time limit), both warmed up alike, then 1,000 requests of each in turns of 50; page/floor is\n"
        "    the time per page against the floor's. The server's project holds a store of about 10 MB.\n"
        "  BM_ServerPageWithViewAgainstWithout: that page at 1 or 16 clients from two servers started\n"
        "    alike on the same two processors, with no stored data, one as it runs, one whose script\n"
        "    processes have namespaces of their own but no view of the file system (as where the system\n"
        "    refuses it), warmed up alike, then 2,000 of each in turns of 100; with/without is the rate\n"
        "    with the view as a share of the rate without.\n"
        "  BM_ScriptProcessStart: a script process (node, no script) started and ended, 20 one after the\n"
        "    other: the median time and the processor time of each (with the programs that set up its\n"
        "    walls), through its view (made once before), without the view, with no walls.\n"
        "  BM_StorageRead_10MBStore: that path plus storage.getItem of a small item from a store of\n"
        "    about 10 MB (the script process reads the store's index and that item only; the store\n"
        "    reaches each script process once, later changes follow as changes).\n"
        "  BM_StorageWrite_10MBStore: also storage.setItem of that item: the change applied in the\n"
        "    server, the whole store written to a new file and synced before the answer, and the change\n"
        "    sent on to the script processes.\n"
        "  BM_CheckSyntax, BM_SyntaxChecker: the syntax check of a 1,000-line script.\n\n");
    std::fflush(stdout);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const Spread overFloor = spread(g_pageOverFloor);
    const Spread shareOfFile = spread(g_pageShareOfFile);
    std::printf("\nserver page / pre-sandbox floor  %s  target ≤ 1.5×  (time per request, 1 client; %s)\n"
                "server page / static 1 KB file  %s  (rate, 1 client; %s)\n",
                overFloor.median.c_str(), overFloor.range.c_str(), shareOfFile.median.c_str(), shareOfFile.range.c_str());
    if (!g_loads.empty()) {
        // The floor starts and joins a thread for each time-limited script (three a page): on a
        // machine busier than it has cores that waits on the scheduler and the floor slows down
        // far more than the page, so that the figure flatters the server.
        const auto [least, most] = std::minmax_element(g_loads.begin(), g_loads.end());
        std::printf("  machine load meanwhile %.1f to %.1f on %u cores%s\n", *least, *most,
                    std::thread::hardware_concurrency(),
                    *most > std::thread::hardware_concurrency() ? ": busier than its cores, the floor is slowed down more "
                                                                  "than the page and the figure is too low"
                                                                : "");
    }
    if (!g_pageOverFloor.empty())
        KRBench::printFigure("server_page_over_pre_sandbox", overFloor.value, "x", 1.5);
    for (const int index : {0, 1}) {
        const Spread share = spread(g_viewShare[index]);
        std::printf("server page with view / without view  %s  target >= 0.95x  (rate, %d clients; %s)\n",
                    share.median.c_str(), index == 0 ? 1 : 16, share.range.c_str());
        if (!g_viewShare[index].empty())
            KRBench::printFigure(index == 0 ? "server_page_view_share_1_client" : "server_page_view_share_16_clients",
                                 share.value, "x", 0.95, KRBench::Bound::AtLeast);
    }
    for (QProcess *server : {&floorServer, &viewServer, &withoutViewServer}) {
        server->closeWriteChannel();
        if (!server->waitForFinished(5000))
            server->kill();
    }
    runner->terminate();
    runner.reset();
    KRNodeRunner::endAllServers();
    return 0;
}

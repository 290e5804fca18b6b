// Server pages under pressure: the stored data of each project, the queue of waiting requests,
// answers and bodies at their size limits, pages that keep failing, what one request leaves
// behind, the names a request brings, and the shape of what the server writes back (answers,
// log output).

#include <core/KRNodeRunner.h>

#include "KRNodeTestSupport.h"

#include <KRTestSupport.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <future>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

using namespace KRNodeTest;

namespace {

// A server page with these handlers; its template shows the form value "result".
QByteArray page(const QByteArray &onGET, const QByteArray &onPOST = {})
{
    QByteArray events = "<event id=\"onGET\"><![CDATA[" + onGET + "]]></event>";
    if (!onPOST.isEmpty())
        events += "<event id=\"onPOST\"><![CDATA[" + onPOST + "]]></event>";
    return "<krml><html><![CDATA[<p><%= response.form.result %></p>]]></html><events>" + events + "</events></krml>";
}

// A runtime server of its own, started through the runner, for one document root.
class Server
{
public:
    explicit Server(const QString &root, KRNodeRunnerDelegate *delegate = nullptr)
    {
        m_runner.setDocumentRootPath(root);
        m_runner.setRequestedPortNumber(0);
        m_runner.setDelegate(delegate);
        m_runner.start();
        m_port = reportedPort(m_runner);
    }
    ~Server()
    {
        m_runner.setDelegate(nullptr);
        m_runner.terminate();
    }
    qint64 port() const { return m_port; }
    // Bounded to find a server that no longer answers: a busy machine may take a minute to run
    // a page of several seconds of processor time.
    Response get(const QByteArray &path, int timeoutMilliseconds = 120000) const
    {
        return request(m_port, "GET", path, {}, {}, {}, timeoutMilliseconds);
    }

private:
    KRNodeRunner m_runner;
    qint64 m_port = -1;
};

// One request over a blocking socket, the body sent straight from `body` (no copy), the answer
// read to its Content-Length; each step bounded by two minutes.
Response exchange(qint64 port, const QByteArray &head, const QByteArray &body)
{
    Response response;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{120, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return response;
    }
    for (const QByteArray *part : {&head, &body}) {
        for (qsizetype sent = 0; sent < part->size();) {
            const ssize_t n = ::send(fd, part->constData() + sent, size_t(part->size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                break; // the answer may be there all the same
            sent += n;
        }
    }
    QByteArray raw;
    qsizetype headEnd = -1;
    qsizetype length = -1;
    char chunk[65536];
    while (headEnd < 0 || raw.size() < headEnd + 4 + length) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        raw.append(chunk, n);
        if (headEnd < 0 && (headEnd = raw.indexOf("\r\n\r\n")) >= 0) {
            const qsizetype at = raw.toLower().indexOf("\r\ncontent-length:");
            length = at >= 0 && at < headEnd ? raw.mid(at + 17, raw.indexOf('\r', at + 2) - at - 17).trimmed().toLongLong() : 0;
        }
    }
    ::close(fd);
    if (headEnd < 0)
        return response;
    const QList<QByteArray> lines = raw.left(headEnd).split('\n');
    response.statusLine = lines.value(0).trimmed();
    response.status = response.statusLine.split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            response.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    response.body = raw.mid(headEnd + 4);
    return response;
}

// The children of `pid` that have run for more than a tenth of a second: more than a script
// process takes to start (a few hundredths), yet little enough that a running script gets it
// well within its time limit on a busy machine, where the page would be paused before a longer
// bound were reached.
int busyChildren(qint64 pid)
{
    // A script process may sit below a launcher of its own (the server's child), whose time
    // is its own.
    std::map<qint64, std::pair<qint64, qint64>> processes; // pid -> parent, ticks used
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const QList<QByteArray> fields = processStatFields(entry.toLongLong());
        if (fields.isEmpty())
            continue;
        processes[entry.toLongLong()] = {fields.value(1).toLongLong(),
                                         fields.value(11).toLongLong() + fields.value(12).toLongLong()};
    }
    int busy = 0;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    for (const auto &[child, what] : processes) {
        if (what.first != pid)
            continue;
        qint64 used = what.second;
        for (const auto &[grandchild, below] : processes) {
            if (below.first == child)
                used += below.second;
        }
        if (used * 10 > ticks)
            ++busy;
    }
    return busy;
}

// ?set=key&size=N stores a string of N characters under the key; the page shows the length of
// what is stored under ?get (or the key just set), "none" when nothing is.
const QByteArray storePage = page(R"JS(
var q = request.query;
if (q.set) storage.setItem(q.set, "v".repeat(Number(q.size || 1)));
var value = storage.getItem(q.get || q.set);
response.setFormValue("result", value === null ? "none" : String(value.length));
)JS");

TEST(KRServerPages, eachProjectKeepsItsOwnBoundedStore)
{
    const QString first = KRTest::makeTempDir(QStringLiteral("first"));
    const QString second = KRTest::makeTempDir(QStringLiteral("second"));
    for (const QString &root : {first, second}) {
        KRTest::writeFile(root + QStringLiteral("/store.krml"), storePage);
        KRTest::writeFile(root + QStringLiteral("/index.html"), "<p>index</p>\n");
    }
    {
        Server a(first);
        Server b(second);
        ASSERT_GT(a.port(), 0);
        ASSERT_GT(b.port(), 0);
        EXPECT_EQ(a.get("/store.krml?set=shared&size=5").body.toStdString(), "<p>5</p>");
        // Another project served at the same time does not see it.
        EXPECT_EQ(b.get("/store.krml?get=shared").body.toStdString(), "<p>none</p>");

        // An item past its limit is refused with a clear error, and nothing of it is kept.
        const Response big = a.get("/store.krml?set=big&size=10000000");
        EXPECT_EQ(big.status, 500);
        EXPECT_TRUE(big.body.contains("an item may hold at most 1,048,576 characters")) << big.body.constData();
        EXPECT_EQ(a.get("/store.krml?get=big").body.toStdString(), "<p>none</p>");

        // The store fills up to its limit, then refuses more.
        int stored = 0;
        Response full;
        for (int i = 0; i < 20 && full.status == 0; ++i) {
            const Response response = a.get("/store.krml?set=item" + QByteArray::number(i) + "&size=1000000");
            if (response.status == 200)
                ++stored;
            else
                full = response;
        }
        EXPECT_EQ(stored, 16);
        EXPECT_EQ(full.status, 500);
        EXPECT_TRUE(full.body.contains("may keep at most 16,777,216 characters")) << full.body.constData();
        // A full store takes nothing from the pages of either project.
        EXPECT_EQ(a.get("/store.krml?get=shared").body.toStdString(), "<p>5</p>");
        EXPECT_EQ(a.get("/index.html").status, 200);
        EXPECT_EQ(b.get("/store.krml?set=other&size=2").body.toStdString(), "<p>2</p>");
    }
    {
        // What was answered is on disk.
        Server again(first);
        EXPECT_EQ(again.get("/store.krml?get=item15").body.toStdString(), "<p>1000000</p>");
        EXPECT_EQ(again.get("/store.krml?get=other").body.toStdString(), "<p>none</p>");
    }

    // A damaged file is set aside; the project starts again with an empty store.
    const QString file = projectStoreFile(first);
    ASSERT_FALSE(file.isEmpty());
    const QByteArray damage = "{\"format\": 1, \"root\": \"cut off";
    KRTest::writeFile(file, damage);
    {
        Server damaged(first);
        const Response response = damaged.get("/store.krml?get=shared");
        EXPECT_EQ(response.status, 200) << response.body.constData();
        EXPECT_EQ(response.body.toStdString(), "<p>none</p>");
        const QStringList aside = QFileInfo(file).dir().entryList({QStringLiteral("storage.json.damaged-*")});
        ASSERT_EQ(aside.size(), 1);
        EXPECT_EQ(KRTest::readFile(QFileInfo(file).dir().filePath(aside.first())), damage);
        EXPECT_EQ(damaged.get("/store.krml?set=again&size=3").body.toStdString(), "<p>3</p>");
    }
    EXPECT_EQ(projectStoreFile(first), file);
}

// Every request counts once: the page shows the count it found and stores it one higher.
const QByteArray counterPage = page(R"JS(
var seen = storage.getItem("count");
storage.setItem("count", (seen || 0) + 1);
response.setFormValue("result", String(seen || 0));
)JS");

TEST(KRServerPages, storedItemsStayCurrentAcrossScriptProcesses)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("counting"));
    KRTest::writeFile(root + QStringLiteral("/store.krml"), storePage);
    KRTest::writeFile(root + QStringLiteral("/count.krml"), counterPage);
    Server server(root);
    ASSERT_GT(server.port(), 0);
    // A large item: the stored items take a while to reach each new script process.
    ASSERT_EQ(server.get("/store.krml?set=large&size=1000000").body.toStdString(), "<p>1000000</p>");
    // One after another, past the replacement of the script processes (each serves a hundred
    // requests): each new process is handed the stored items before any request of its own, and
    // every request changes them meanwhile.
    for (int i = 0; i < 250; ++i) {
        const Response response = server.get("/count.krml");
        ASSERT_EQ(response.body.toStdString(), "<p>" + std::to_string(i) + "</p>")
            << i << ": " << response.status << " " << response.body.constData();
    }
    EXPECT_EQ(server.get("/store.krml?get=large").body.toStdString(), "<p>1000000</p>");
}

TEST(KRServerPages, waitingRequestsAndTheirBodiesAreBounded)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("crowd"));
    KRTest::writeFile(root + QStringLiteral("/store.krml"), storePage);
    KRTest::writeFile(root + QStringLiteral("/upload.krml"), page(
        "response.setFormValue('result', 'get');",
        "var filler = storage.getItem('filler0');\n"
        "response.setFormValue('result', request.body.length + '/' + (filler ? filler.length : 0));"));
    Server server(root);
    ASSERT_GT(server.port(), 0);
    const qint64 pid = serverProcessFor(root);
    ASSERT_GT(pid, 0);
    // A store of about 10 MB that every request reads.
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(server.get("/store.krml?set=filler" + QByteArray::number(i) + "&size=1000000").status, 200);

    const QByteArray body(30 * 1000 * 1000, 'a');
    const QByteArray postHead = "POST /upload.krml HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
                                "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    const QByteArray getHead = "GET /store.krml?get=filler3 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<std::future<Response>> posts;
    std::vector<std::future<Response>> gets;
    for (int i = 0; i < 32; ++i)
        posts.push_back(std::async(std::launch::async, [&] { return exchange(server.port(), postHead, body); }));
    for (int i = 0; i < 16; ++i)
        gets.push_back(std::async(std::launch::async, [&] { return exchange(server.port(), getHead, {}); }));

    int busy = 0;
    for (auto &post : posts) {
        const Response response = post.get();
        if (response.status == 503) {
            ++busy;
            EXPECT_GE(response.headers.value("retry-after").toInt(), 1);
        } else {
            EXPECT_EQ(response.status, 200) << response.statusLine.constData() << " " << response.body.left(200).constData();
            EXPECT_EQ(response.body.toStdString(), "<p>30000000/1000000</p>");
        }
    }
    EXPECT_GT(busy, 0) << "the queue has no bound";
    for (auto &get : gets) {
        const Response response = get.get();
        EXPECT_TRUE(response.status == 200 || response.status == 503) << response.statusLine.constData();
        if (response.status == 200) {
            EXPECT_EQ(response.body.toStdString(), "<p>1000000</p>");
        }
    }
    // Neither the bodies nor the store were held once for every request.
    const qint64 peak = peakResidentKiB(pid);
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 640 * 1024) << "KiB at most";
    EXPECT_EQ(server.get("/upload.krml").body.toStdString(), "<p>get</p>");
}

TEST(KRServerPages, answersAndBodiesReachTheirExactLimits)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("limits"));
    KRTest::writeFile(root + QStringLiteral("/size.krml"), page(
        "response.setFormValue('result', 'x'.repeat(Number(request.query.size)));",
        "response.setFormValue('result', String(request.body.length));"));
    Server server(root);
    ASSERT_GT(server.port(), 0);
    const qsizetype answerLimit = 64 * 1024 * 1024;
    const qsizetype frame = qsizetype(sizeof "<p></p>" - 1);

    const Response largest = server.get("/size.krml?size=" + QByteArray::number(answerLimit - frame));
    EXPECT_EQ(largest.status, 200) << largest.body.left(300).constData();
    EXPECT_EQ(largest.body.size(), answerLimit);
    EXPECT_TRUE(largest.body.endsWith("xxx</p>"));
    const Response tooLarge = server.get("/size.krml?size=" + QByteArray::number(answerLimit - frame + 1));
    EXPECT_EQ(tooLarge.status, 500);
    EXPECT_TRUE(tooLarge.body.contains("answer is too large")) << tooLarge.body.left(300).constData();

    const qsizetype bodyLimit = 32 * 1024 * 1024;
    const Response fullBody = request(server.port(), "POST", "/size.krml", QByteArray(bodyLimit, 'b'), "text/plain", {}, 120000);
    EXPECT_EQ(fullBody.status, 200) << fullBody.body.left(300).constData();
    EXPECT_EQ(fullBody.body.toStdString(), "<p>" + std::to_string(bodyLimit) + "</p>");
    EXPECT_EQ(request(server.port(), "POST", "/size.krml", QByteArray(bodyLimit + 1, 'b'), "text/plain", {}, 120000).status, 413);
    EXPECT_EQ(server.get("/size.krml?size=3").body.toStdString(), "<p>xxx</p>");
}

TEST(KRServerPages, aPageThatKeepsFailingCannotTakeEveryProcess)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("failing"));
    KRTest::writeFile(root + QStringLiteral("/loop.krml"), page("for (;;) {}"));
    KRTest::writeFile(root + QStringLiteral("/hog.krml"), page("var a = []; for (;;) { a.push(new Array(1e6).fill(1)); }"));
    KRTest::writeFile(root + QStringLiteral("/fine.krml"), page("response.setFormValue('result', 'fine');"));
    Server server(root);
    ASSERT_GT(server.port(), 0);
    const qint64 pid = serverProcessFor(root);
    ASSERT_GT(pid, 0);

    QElapsedTimer clock;
    clock.start();
    std::vector<std::future<std::pair<Response, qint64>>> loops;
    for (int i = 0; i < 16; ++i) {
        loops.push_back(std::async(std::launch::async, [&] {
            Response response = server.get("/loop.krml", 180000);
            return std::make_pair(response, clock.elapsed());
        }));
    }
    // Once the endless scripts run, another page is still served before any of them ends.
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return busyChildren(pid) >= 2; }));
    const Response fine = server.get("/fine.krml");
    const qint64 fineDone = clock.elapsed();
    EXPECT_EQ(fine.body.toStdString(), "<p>fine</p>");

    int timedOut = 0;
    int paused = 0;
    for (auto &loop : loops) {
        const auto [response, done] = loop.get();
        EXPECT_GT(done, fineDone) << "a normal page waited for the endless ones";
        if (response.status == 503) {
            ++paused;
            EXPECT_GE(response.headers.value("retry-after").toInt(), 1);
        } else {
            ++timedOut;
            EXPECT_EQ(response.status, 500);
            EXPECT_TRUE(response.body.contains("did not finish within 5 s of processor time")) << response.body.constData();
        }
    }
    // A few failures in a row, and the page is paused instead of running all sixteen.
    EXPECT_LE(timedOut, 4);
    EXPECT_EQ(timedOut + paused, 16);
    const Response refused = server.get("/loop.krml");
    EXPECT_EQ(refused.status, 503);
    EXPECT_TRUE(refused.body.contains("paused")) << refused.body.constData();

    // So is one whose process keeps crashing out of memory.
    for (int i = 0; i < 3; ++i) {
        const Response crashed = server.get("/hog.krml");
        EXPECT_EQ(crashed.status, 500);
        EXPECT_TRUE(crashed.body.contains("ran out of memory")) << crashed.body.constData();
    }
    const Response hogRefused = server.get("/hog.krml");
    EXPECT_EQ(hogRefused.status, 503);
    EXPECT_GE(hogRefused.headers.value("retry-after").toInt(), 1);

    // A page that was changed gets a fresh start.
    KRTest::writeFile(root + QStringLiteral("/loop.krml"), page("response.setFormValue('result', 'mended');"));
    EXPECT_EQ(server.get("/loop.krml").body.toStdString(), "<p>mended</p>");
    EXPECT_EQ(server.get("/fine.krml").body.toStdString(), "<p>fine</p>");
}

// Shows what earlier requests left behind, then leaves a global, changed built-ins (prototypes,
// JSON) and a promise that another request could settle.
const QByteArray leavingPage = page(R"JS(
response.setFormValue("result", [typeof leftOver, typeof ({}).polluted, typeof [].polluted, typeof [].map,
    JSON.stringify([1]), typeof settleLater].join(" "));
leftOver = 1;
Object.prototype.polluted = 1;
Array.prototype.polluted = 1;
Array.prototype.map = null;
JSON.stringify = function () { return "forged"; };
new Promise(function (resolve) { settleLater = resolve; });
)JS");

// Leaves callbacks that never end, for whatever would run them after the request: a timer's
// (Atomics.waitAsync) and a finalization registry's.
const QByteArray lateCallbacksPage = page(R"JS(
Atomics.waitAsync(new Int32Array(new SharedArrayBuffer(4)), 0, 0, 1).value.then(function () { for (;;) {} });
if (typeof FinalizationRegistry === "function") {
    var registry = new FinalizationRegistry(function () { for (;;) {} });
    for (var i = 0; i < 200000; ++i) registry.register({ item: [i] }, i);
}
response.setFormValue("result", "armed");
)JS");

TEST(KRServerPages, nothingOneRequestLeavesReachesAnother)
{
    const QString first = KRTest::makeTempDir(QStringLiteral("leaving"));
    const QString second = KRTest::makeTempDir(QStringLiteral("another"));
    for (const QString &root : {first, second}) {
        KRTest::writeFile(root + QStringLiteral("/leave.krml"), leavingPage);
        KRTest::writeFile(root + QStringLiteral("/late.krml"), lateCallbacksPage);
    }
    Server a(first);
    Server b(second);
    ASSERT_GT(a.port(), 0);
    ASSERT_GT(b.port(), 0);
    const std::string clean = "<p>undefined undefined undefined function [1] undefined</p>";
    // One after another, so each script process serves several of them.
    for (int i = 0; i < 8; ++i) {
        const Response response = a.get("/leave.krml");
        EXPECT_EQ(response.body.toStdString(), clean) << i << ": " << response.status;
    }
    // Nor does another project served at the same time.
    EXPECT_EQ(b.get("/leave.krml").body.toStdString(), clean);

    // The callbacks never run: neither between requests nor in a later one.
    for (int i = 0; i < 8; ++i) {
        const Response response = a.get("/late.krml");
        EXPECT_EQ(response.body.toStdString(), "<p>armed</p>") << i << ": " << response.status;
    }
}

// Shows which names of the query, the form and the headers the script got as their own, with
// their values, and sets form values and a header of the same names.
const QByteArray namesPage = [] {
    const QByteArray script = R"JS(
var names = ["__proto__", "constructor", "hasOwnProperty", "toString", "valueOf", "name"];
var own = function (map) {
    return names.filter(function (n) { return Object.prototype.hasOwnProperty.call(map, n); })
        .map(function (n) { return n + "=" + JSON.stringify(map[n]); }).join(" ");
};
names.forEach(function (n) { response.setFormValue(n, "set " + n); });
response.setHeader("__proto__", "header");
response.setFormValue("result", ["query: " + own(request.query), "form: " + own(request.form),
    "headers: " + own(request.headers), "polluted: " + typeof request.form.polluted + " " + typeof ({}).polluted,
    "name: " + request.form.name, "json: " + JSON.stringify(request.form), "plain: " + (Object.getPrototypeOf(request.form) === Object.prototype)].join(" | "));
)JS";
    return "<krml><html><![CDATA[<p><%= response.form.result %></p><%= response._formJSON() %>]]></html><events>"
           "<event id=\"onGET\"><![CDATA[" + script + "]]></event><event id=\"onPOST\"><![CDATA[" + script +
           "]]></event></events></krml>";
}();

TEST(KRServerPages, everyNameARequestBringsReachesThePageAsSent)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("names"));
    KRTest::writeFile(root + QStringLiteral("/names.krml"), namesPage);
    Server server(root);
    ASSERT_GT(server.port(), 0);

    // Names of the object's own members, in the query and the headers.
    const Response got = request(server.port(), "GET",
                                 "/names.krml?__proto__=q1&constructor=q2&hasOwnProperty=q3&toString=q4&valueOf=q5&name=q6",
                                 {}, {}, {{"__proto__", "h1"}, {"constructor", "h2"}});
    EXPECT_EQ(got.status, 200) << got.body.constData();
    const std::string queried = R"(__proto__="q1" constructor="q2" hasOwnProperty="q3" toString="q4" valueOf="q5" name="q6")";
    EXPECT_EQ(got.body.left(got.body.indexOf("</p>")).toStdString(),
              "<p>query: " + queried + " | form: " + queried + R"( | headers: __proto__="h1" constructor="h2")"
              " | polluted: undefined undefined | name: q6"
              R"( | json: {"__proto__":"q1","constructor":"q2","hasOwnProperty":"q3","toString":"q4","valueOf":"q5","name":"q6"})"
              " | plain: true");
    // What the page sets under those names reaches the result page's script, and its header the client.
    const QByteArray formExpression = got.body.mid(got.body.indexOf("</p>") + 4);
    EXPECT_EQ(runNode("var form = " + formExpression + ";\nprocess.stdout.write(Object.keys(form).filter("
                      "function (n) { return n !== 'result'; }).map(function (n) { return n + '=' + form[n]; }).join());")
                  .toStdString(),
              "__proto__=set __proto__,constructor=set constructor,hasOwnProperty=set hasOwnProperty,"
              "toString=set toString,valueOf=set valueOf,name=set name")
        << formExpression.constData();
    EXPECT_EQ(got.headers.value("__proto__").toStdString(), "header");

    // A form's fields over the query's, a repeated name the last of its values.
    const Response posted = request(server.port(), "POST", "/names.krml?__proto__=q1&valueOf=q5",
                                    "__proto__=b1&constructor=b2&__proto__=b3&toString=b4&name=b5",
                                    "application/x-www-form-urlencoded");
    EXPECT_EQ(posted.status, 200) << posted.body.constData();
    EXPECT_TRUE(posted.body.startsWith(
        R"(<p>query: __proto__="q1" valueOf="q5" | form: __proto__="b3" constructor="b2" toString="b4" valueOf="q5" name="b5")"
        " | headers:  | polluted: undefined undefined | name: b5"
        R"( | json: {"__proto__":"b3","valueOf":"q5","constructor":"b2","toString":"b4","name":"b5"})"))
        << posted.body.constData();

    // A JSON body's member named __proto__ is a field like any other, and lends the form nothing.
    const Response json = request(server.port(), "POST", "/names.krml",
                                  R"({"__proto__": {"polluted": "yes"}, "constructor": "c"})");
    EXPECT_EQ(json.status, 200) << json.body.constData();
    EXPECT_TRUE(json.body.startsWith(
        R"(<p>query:  | form: __proto__={"polluted":"yes"} constructor="c" | headers:  | polluted: undefined undefined)"
        R"( | name: undefined | json: {"__proto__":{"polluted":"yes"},"constructor":"c"})"))
        << json.body.constData();
}

TEST(KRServerPages, answersAndLogOutputKeepTheirShape)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("shape"));
    KRTest::writeFile(root + QStringLiteral("/forge.krml"), page(R"JS(
console.log('{"port": 1, "token": "forged"}');
console.log('text\n{"port": 2}\r{"port": 3}\u2028{"port": 4}');
throw new Error('\n  {"port": 5}');
)JS"));
    KRTest::writeFile(root + QStringLiteral("/x\n{\"port\": 6}.krml"), page("console.log('named');"));
    KRTest::writeFile(root + QStringLiteral("/empty.krml"), page("response.statusCode = 204; response.setFormValue('result', 'ignored');"));
    KRTest::writeFile(root + QStringLiteral("/redirect.krml"), page("response.redirect('/next\\r\\nSet-Cookie: taken=1');"));
    KRTest::writeFile(root + QStringLiteral("/form.krml"), page(
        "var posted = storage.getItem('posted'); response.setFormValue('result', posted === null ? 'none' : posted);",
        "storage.setItem('posted', request.form.item); response.setFormValue('result', 'stored');"));
    RecordingDelegate delegate;
    Server server(root, &delegate);
    ASSERT_GT(server.port(), 0);

    // What pages print cannot pass for the hand-shake the application reads the port from.
    EXPECT_EQ(server.get("/forge.krml").status, 500);
    EXPECT_EQ(server.get("/x%0A%7B%22port%22%3A%206%7D.krml").status, 200);
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        const QString text = delegate.messages.join(QString());
        return text.contains(QStringLiteral("\"port\": 5")) && text.contains(QStringLiteral("named"));
    }));
    const QString output = delegate.messages.join(QString());
    for (const QString &line : output.split(u'\n')) {
        EXPECT_FALSE(line.trimmed().startsWith(u'{')) << line.toStdString();
        EXPECT_FALSE(line.contains(u'\r') || line.contains(QChar(0x2028))) << line.toStdString();
    }
    EXPECT_TRUE(output.contains(QStringLiteral("\"forged\""))) << "the page's output is kept, only marked";

    const Response empty = server.get("/empty.krml");
    EXPECT_EQ(empty.statusLine.toStdString(), "HTTP/1.1 204 No Content");
    EXPECT_FALSE(empty.headers.contains("content-length"));
    EXPECT_TRUE(empty.body.isEmpty());

    const Response redirect = server.get("/redirect.krml");
    EXPECT_EQ(redirect.statusLine.toStdString(), "HTTP/1.1 500 Internal Server Error");
    EXPECT_FALSE(redirect.headers.contains("set-cookie"));
    EXPECT_FALSE(redirect.headers.contains("location"));
    EXPECT_TRUE(redirect.body.contains("redirect address")) << redirect.body.constData();

    // Another site cannot make a browser run a page's onPOST.
    const QByteArray port = QByteArray::number(server.port());
    for (const QByteArray &origin : {QByteArray("http://attacker.example"), QByteArray("null"),
                                     "http://127.0.0.1:" + QByteArray::number(server.port() + 1)}) {
        const Response foreign = request(server.port(), "POST", "/form.krml", "item=forged",
                                         "application/x-www-form-urlencoded", {{"Origin", origin}});
        EXPECT_EQ(foreign.status, 403) << origin.constData();
    }
    EXPECT_EQ(server.get("/form.krml").body.toStdString(), "<p>none</p>");
    const Response own = request(server.port(), "POST", "/form.krml", "item=tea", "application/x-www-form-urlencoded",
                                 {{"Origin", "http://127.0.0.1:" + port}});
    EXPECT_EQ(own.body.toStdString(), "<p>stored</p>");
    EXPECT_EQ(request(server.port(), "POST", "/form.krml", "item=milk", "application/x-www-form-urlencoded").body,
              "<p>stored</p>");
    EXPECT_EQ(server.get("/form.krml").body.toStdString(), "<p>milk</p>");
}

} // namespace

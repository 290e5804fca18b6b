// The real local runtime server, started through the runner.

#include <core/KRNodeRunner.h>

#include "KRNodeTestSupport.h"

#include <KRTestSupport.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace KRNodeTest;

namespace {

const char serverPage[] = R"XML(<?xml version="1.0" encoding="UTF-8"?>
<krml><pageMap><![CDATA[{"home":"home.krml","about":"about.html"}]]></pageMap><html><![CDATA[<!DOCTYPE HTML>
<html><body><div id="greeting"><%= response.form.greeting %></div>
<script>application._pages.home.form = <%=response._formJSON()%>;
</script></body></html>]]></html><events><event id="onGET"><![CDATA[var name = request.query.name || "nobody";
response.setFormValue("greeting", "Hello, " + name);]]></event><event id="onPOST"><![CDATA[response.setFormValue("greeting", "Posted " + request.form.item);
storage.setItem("last", request.form.item);]]></event></events></krml>
)XML";

QJsonObject json(const Response &response)
{
    return QJsonDocument::fromJson(response.body).object();
}

class KRLocalServerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(KRNodeRunner::nodeExecutablePath().isEmpty()) << "node is needed";
        ASSERT_TRUE(QFile::exists(KRNodeRunner::localServerPath() + QStringLiteral("/jquery-1.9.0/jquery.min.js")))
            << "the web libraries are staged by the build (tools/stage-web-libs)";
        installSocketTerminateSender();
        s_root = new QString(KRTest::makeTempDir(QStringLiteral("root")));
        KRTest::writeFile(*s_root + QStringLiteral("/index.html"), "<p>index</p>\n");
        KRTest::writeFile(*s_root + QStringLiteral("/home.krml"), serverPage);
        KRTest::writeFile(*s_root + QStringLiteral("/../outside.txt"), "secret\n");
        QFile::link(*s_root + QStringLiteral("/../outside.txt"), *s_root + QStringLiteral("/link.txt"));
        s_runner = new KRNodeRunner();
        s_runner->setDocumentRootPath(*s_root);
        s_runner->setRequestedPortNumber(0); // the system's choice
        s_runner->start();
        s_port = reportedPort(*s_runner);
    }

    static void TearDownTestSuite()
    {
        s_runner->terminate();
        delete s_runner;
        delete s_root;
        KRNodeRunner::endAllServers();
        KRNodeRunner::setTerminateRequestSender({});
    }

    void SetUp() override { ASSERT_GT(s_port, 0) << "the server reported no port"; }

    static Headers withToken() { return {{KRNodeRunner::tokenHeaderName, s_runner->token()}}; }

    static Response post(const QByteArray &path, const QJsonObject &body)
    {
        return request(s_port, "POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), "application/json",
                       withToken());
    }

    static QString *s_root;
    static KRNodeRunner *s_runner;
    static qint64 s_port;
};

QString *KRLocalServerTest::s_root = nullptr;
KRNodeRunner *KRLocalServerTest::s_runner = nullptr;
qint64 KRLocalServerTest::s_port = -1;

TEST_F(KRLocalServerTest, servesBundleFilesWithBothSlashFormsAndTypes)
{
    const QByteArray expected = KRTest::readFile(KRNodeRunner::localServerPath() + QStringLiteral("/jquery-1.9.0/jquery.min.js"));
    for (const QByteArray &path : {QByteArray("/__kr_bundle/jquery-1.9.0/jquery.min.js"),
                                  QByteArray("//__kr_bundle/jquery-1.9.0/jquery.min.js")}) {
        const Response response = request(s_port, "GET", path);
        EXPECT_EQ(response.status, 200) << path.constData();
        EXPECT_TRUE(response.headers.value("content-type").startsWith("application/javascript"));
        EXPECT_EQ(response.body, expected);
    }
    const Response css = request(s_port, "GET", "/__kr_bundle/jquery.mobile-1.4.0/jquery.mobile.structure-1.4.0.min.css");
    EXPECT_EQ(css.status, 200);
    EXPECT_TRUE(css.headers.value("content-type").startsWith("text/css"));
    const Response image = request(s_port, "GET", "/__kr_bundle/jquery.mobile-1.4.0/images/ajax-loader.gif");
    EXPECT_EQ(image.status, 200);
    EXPECT_EQ(image.headers.value("content-type"), "image/gif");
    EXPECT_TRUE(request(s_port, "GET", "/__kr_bundle/jquery-1.9.0/VERSION").body.contains("1.9.1"));
    const Response icon = request(s_port, "GET", "/__kr_bundle/photoswipe-3.0.5/aperture-icon.png");
    EXPECT_EQ(icon.status, 200);
    EXPECT_EQ(icon.headers.value("content-type"), "image/png");
    EXPECT_TRUE(icon.body.startsWith("\x89PNG"));
    EXPECT_EQ(request(s_port, "GET", "/__kr_bundle/jquery-1.9.0/missing.js").status, 404);
    EXPECT_EQ(request(s_port, "GET", "/__kr_bundle/node_modules/jshint/package.json").status, 404);
    EXPECT_EQ(request(s_port, "GET", "/__kr_bundle/js-class.js").status, 200);
    // Nothing of the server itself.
    for (const QByteArray &path : {QByteArray("/__kr_bundle/kr-local-runtime.js"), QByteArray("/__kr_bundle/package.json"),
                                  QByteArray("/__kr_bundle/kr-server-page-sandbox.js"),
                                  QByteArray("/__kr_bundle/package-lock.json"), QByteArray("/__kr_bundle/"),
                                  QByteArray("/__kr_bundle/test/graph.test.js")}) {
        const Response response = request(s_port, "GET", path);
        EXPECT_EQ(response.status, 404) << path.constData();
        EXPECT_FALSE(response.body.contains("require(")) << path.constData();
    }
}

TEST_F(KRLocalServerTest, servesTheDocumentRootAndRefusesEscapes)
{
    const Response index = request(s_port, "GET", "/index.html");
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(index.body, "<p>index</p>\n");
    EXPECT_TRUE(index.headers.value("content-type").startsWith("text/html"));
    EXPECT_EQ(request(s_port, "GET", "/nothing.html").status, 404);

    for (const QByteArray &path : {QByteArray("/../outside.txt"), QByteArray("/%2e%2e/outside.txt"),
                                  QByteArray("/a/../../outside.txt"), QByteArray("/link.txt"),
                                  QByteArray("/__kr_bundle/../kr-local-runtime.js"),
                                  QByteArray("/__kr_bundle/jquery-1.9.0/..%2f..%2fpackage.json")}) {
        const Response response = request(s_port, "GET", path);
        EXPECT_EQ(response.status, 403) << path.constData();
        EXPECT_FALSE(response.body.contains("secret"));
    }
    // A folder's index is confined like any file.
    QDir(*s_root).mkpath(QStringLiteral("folder"));
    QFile::link(*s_root + QStringLiteral("/../outside.txt"), *s_root + QStringLiteral("/folder/index.html"));
    const Response folderIndex = request(s_port, "GET", "/folder/");
    EXPECT_EQ(folderIndex.status, 403);
    EXPECT_FALSE(folderIndex.body.contains("secret"));
    EXPECT_EQ(request(s_port, "GET", "/").body, "<p>index</p>\n");
}

TEST_F(KRLocalServerTest, checkSyntaxHonoursTheOptions)
{
    const QString bad = QStringLiteral("//\nfunction f(a) {\n    if (a == 1) return 2;\n    return 3;\n}\n");
    QJsonObject options{{QStringLiteral("eqeqeq"), true}, {QStringLiteral("bitwise"), true},
                        {QStringLiteral("curly"), true}, {QStringLiteral("latedef"), false},
                        {QStringLiteral("plusplus"), false}, {QStringLiteral("sub"), true},
                        {QStringLiteral("mixed"), false}};
    Response response = post("/__kr_check_syntax", {{QStringLiteral("src"), bad}, {QStringLiteral("options"), options}});
    ASSERT_EQ(response.status, 200);
    QJsonArray errors = json(response).value(QStringLiteral("errors")).toArray();
    QStringList reasons;
    for (const QJsonValue &e : errors) {
        const QJsonObject error = e.toObject();
        reasons << error.value(QStringLiteral("reason")).toString();
        EXPECT_EQ(error.value(QStringLiteral("line")).toInt(), 3);
        EXPECT_GT(error.value(QStringLiteral("character")).toInt(), 0);
        EXPECT_TRUE(error.value(QStringLiteral("evidence")).toString().contains(QStringLiteral("a == 1")));
    }
    EXPECT_TRUE(reasons.join(u'|').contains(QStringLiteral("'==='"))) << reasons.join(u'|').toStdString();
    EXPECT_TRUE(reasons.join(u'|').contains(QStringLiteral("'{'")));
    EXPECT_FALSE(reasons.join(u'|').contains(QStringLiteral("Bad option")));

    options[QStringLiteral("eqeqeq")] = false;
    options[QStringLiteral("curly")] = false;
    response = post("/__kr_check_syntax", {{QStringLiteral("src"), bad}, {QStringLiteral("options"), options}});
    EXPECT_EQ(json(response).value(QStringLiteral("errors")).toArray().size(), 0) << response.body.constData();

    response = post("/__kr_check_syntax", {{QStringLiteral("src"), QStringLiteral("var x = ;\n")}});
    EXPECT_GT(json(response).value(QStringLiteral("errors")).toArray().size(), 0);

    // Several scripts in one request: each is checked on its own and answered in its place,
    // with what it is answered when sent alone.
    options[QStringLiteral("eqeqeq")] = true;
    const QStringList sources{bad, QStringLiteral("//\nvar clean = 1;\n"), QStringLiteral("//\nvar x = ;\n"), bad};
    response = post("/__kr_check_syntax", {{QStringLiteral("sources"), QJsonArray::fromStringList(sources)},
                                           {QStringLiteral("options"), options}});
    ASSERT_EQ(response.status, 200) << response.body.constData();
    const QJsonArray results = json(response).value(QStringLiteral("results")).toArray();
    ASSERT_EQ(results.size(), sources.size());
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const Response alone = post("/__kr_check_syntax", {{QStringLiteral("src"), sources[i]}, {QStringLiteral("options"), options}});
        EXPECT_EQ(results[i].toObject().value(QStringLiteral("errors")), json(alone).value(QStringLiteral("errors"))) << i;
    }
    EXPECT_FALSE(results[0].toObject().value(QStringLiteral("errors")).toArray().isEmpty());
    EXPECT_TRUE(results[1].toObject().value(QStringLiteral("errors")).toArray().isEmpty());
    // Only a list of texts is taken.
    for (const QJsonValue &sourcesValue : {QJsonValue(QJsonArray{1, 2}), QJsonValue(QJsonArray{}), QJsonValue(QStringLiteral("x"))})
        EXPECT_EQ(post("/__kr_check_syntax", {{QStringLiteral("sources"), sourcesValue}}).status, 400);
    EXPECT_EQ(post("/__kr_uglify", {{QStringLiteral("sources"), QJsonArray{QStringLiteral("var a;")}}}).status, 400);
}

TEST_F(KRLocalServerTest, minifiedScriptStillRuns)
{
    const QString source = QStringLiteral(
        "function total(items) {\n  var sum = 0;\n  for (var index = 0; index < items.length; index++) {\n"
        "    sum += items[index] * 2;\n  }\n  return sum;\n}\nconsole.log('total=' + total([1, 2, 3, 4]));\n");
    const Response response = post("/__kr_uglify", {{QStringLiteral("src"), source}});
    ASSERT_EQ(response.status, 200);
    const QString minified = json(response).value(QStringLiteral("src")).toString();
    EXPECT_LT(minified.size(), source.size());
    EXPECT_EQ(runNode(minified.toUtf8()).trimmed(), "total=20");
}

// Every answer ends its connection, the server's files, the libraries and errors alike: a
// client keeping connections for re-use (the web views) is told so and sees the end with the
// answer, so it closes its end itself. Left open, the server closed an idle one seconds later
// and the web views never closed theirs: they stayed half-closed (CLOSE-WAIT).
TEST_F(KRLocalServerTest, everyAnswerEndsItsConnection)
{
    for (const QByteArray &path : {QByteArray("/index.html"), QByteArray("/__kr_bundle/jquery-1.9.0/jquery.min.js"),
                                  QByteArray("/missing.html")}) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(s_port));
        ASSERT_TRUE(socket.waitForConnected(5000));
        // HTTP/1.1 without a Connection header: the client would keep the connection, and sends
        // its next request on it at once. A connection kept open would answer that one too
        // (and end only after its idle time); one that ends with the answer answers just one.
        const QByteArray get = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        socket.write(get + get);
        QByteArray raw;
        QElapsedTimer timer;
        timer.start();
        while (socket.state() == QAbstractSocket::ConnectedState && timer.elapsed() < 60000) {
            socket.waitForReadyRead(100);
            raw += socket.readAll();
        }
        raw += socket.readAll();
        const QByteArray head = raw.left(raw.indexOf("\r\n\r\n") + 2).toLower();
        EXPECT_TRUE(head.startsWith("http/1.1 ")) << path.constData() << ": " << raw.left(200).constData();
        EXPECT_TRUE(head.contains("\r\nconnection: close\r\n")) << path.constData() << ": " << head.constData();
        EXPECT_EQ(raw.count("HTTP/1.1 "), 1) << path.constData() << ": the connection went on after the answer";
        EXPECT_NE(socket.state(), QAbstractSocket::ConnectedState) << path.constData() << ": still open after the answer";
    }
}

TEST_F(KRLocalServerTest, badRequestsGetClearErrors)
{
    EXPECT_EQ(request(s_port, "POST", "/__kr_uglify", "{\"src\": ", "application/json", withToken()).status, 400);
    EXPECT_EQ(request(s_port, "POST", "/__kr_check_syntax", "[1, 2]", "application/json", withToken()).status, 400);
    EXPECT_EQ(request(s_port, "POST", "/__kr_uglify", "{\"text\": \"x\"}", "application/json", withToken()).status, 400);
    // A body past the limit is answered, not cut off.
    const Response large = request(s_port, "POST", "/home.krml", QByteArray(33 * 1024 * 1024, 'a'), "text/plain");
    EXPECT_EQ(large.status, 413);
    EXPECT_EQ(large.headers.value("connection"), "close");
    const Response broken = post("/__kr_uglify", {{QStringLiteral("src"), QStringLiteral("function (")}});
    EXPECT_EQ(broken.status, 422);
    EXPECT_FALSE(json(broken).contains(QStringLiteral("src")));
    EXPECT_EQ(request(s_port, "GET", "/__kr_check_syntax").status, 405);
    // Still serving.
    EXPECT_EQ(request(s_port, "GET", "/index.html").status, 200);
}

TEST_F(KRLocalServerTest, serverPageRunsItsHandlersAndFillsTheTemplate)
{
    const Response get = request(s_port, "GET", "/home.krml?name=Ada%20%3C%2Fscript%3E");
    ASSERT_EQ(get.status, 200) << get.body.constData();
    EXPECT_TRUE(get.headers.value("content-type").startsWith("text/html"));
    EXPECT_TRUE(get.body.contains("<div id=\"greeting\">Hello, Ada </script></div>")) << get.body.constData();
    // The form data inside the script element cannot end it.
    EXPECT_TRUE(get.body.contains("application._pages.home.form = {\"greeting\":\"Hello, Ada \\u003c/script\\u003e\"};"))
        << get.body.constData();
    EXPECT_FALSE(get.body.contains("<%"));

    const Response posted = request(s_port, "POST", "/home.krml", "item=tea", "application/x-www-form-urlencoded");
    ASSERT_EQ(posted.status, 200) << posted.body.constData();
    EXPECT_TRUE(posted.body.contains("Posted tea"));
    // Kept in the project's own store.
    const QByteArray stored = KRTest::readFile(projectStoreFile(*s_root));
    EXPECT_TRUE(stored.contains("\"last\":\"tea\"")) << stored.constData();

    KRTest::writeFile(*s_root + QStringLiteral("/broken.krml"), "<krml><html><![CDATA[x]]></html>");
    EXPECT_EQ(request(s_port, "GET", "/broken.krml").status, 500);
    KRTest::writeFile(*s_root + QStringLiteral("/throws.krml"),
                      "<krml><html><![CDATA[x]]></html><events><event id=\"onGET\"><![CDATA[nothing.here();]]></event></events></krml>");
    const Response throws = request(s_port, "GET", "/throws.krml");
    EXPECT_EQ(throws.status, 500);
    EXPECT_TRUE(throws.body.contains("nothing is not defined"));
}

// A page whose onGET is `script`; its template shows the form value "result".
QByteArray scriptPage(const QByteArray &script)
{
    return "<krml><html><![CDATA[<p><%= response.form.result %></p>]]></html><events><event id=\"onGET\"><![CDATA["
           + script + "]]></event></events></krml>";
}

TEST_F(KRLocalServerTest, serverScriptsReachNothingOfTheHost)
{
    // Each attempt writes the marker file if it gets through to the host.
    KRTest::writeFile(*s_root + QStringLiteral("/escape.krml"), scriptPage(R"JS(
var mark = request.query.mark, results = [];
var write = "var p = typeof process !== 'undefined' ? process : this.process;"
    + "(p.mainModule ? p.mainModule.require : require)('fs').writeFileSync(" + JSON.stringify(mark) + ", 'x'); return 'escaped';";
function attempt(name, f) {
    try { results.push(name + ": " + f()); } catch (e) { results.push(name + ": refused"); }
}
attempt("global", function () { return this.constructor.constructor(write)(); });
attempt("request", function () { return request.constructor.constructor(write)(); });
attempt("response", function () { return response.setFormValue.constructor(write)(); });
attempt("storage", function () { return storage.getItem.constructor(write)(); });
attempt("console", function () { return console.log.constructor(write)(); });
attempt("process", function () { return process.binding("fs") && "escaped"; });
attempt("require", function () { return require("child_process").execSync("touch " + mark) && "escaped"; });
attempt("frames", function () {
    Error.prepareStackTrace = function (e, frames) { return frames.map(function (f) { return f.getThis(); }); };
    var outer = new Error().stack.filter(function (t) { return t && t.constructor; });
    Error.prepareStackTrace = undefined;
    if (!outer.length) throw new Error("no frame");
    return outer.map(function (t) { return t.constructor.constructor(write)(); }).join();
});
import("fs").then(function (fs) { fs.writeFileSync(mark, "x"); });
response.setFormValue("result", results.join("; "));
)JS"));
    const QString mark = *s_root + QStringLiteral("/../escaped-mark");
    const Response response = request(s_port, "GET", "/escape.krml?mark=" + QUrl::toPercentEncoding(mark));
    ASSERT_EQ(response.status, 200) << response.body.constData();
    EXPECT_EQ(response.body.count("refused"), 8) << response.body.constData();
    EXPECT_FALSE(response.body.contains("escaped")) << response.body.constData();
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFile::exists(mark));

    // Nothing one request leaves behind reaches the next.
    KRTest::writeFile(*s_root + QStringLiteral("/leftover.krml"), scriptPage(R"JS(
response.setFormValue("result", typeof leftOver + "/" + typeof ({}).polluted);
leftOver = 1;
Object.prototype.polluted = 1;
)JS"));
    for (int i = 0; i < 6; ++i) {
        const Response next = request(s_port, "GET", "/leftover.krml");
        EXPECT_TRUE(next.body.contains("<p>undefined/undefined</p>")) << next.status << " " << next.body.constData();
    }
    EXPECT_EQ(request(s_port, "GET", "/home.krml?name=Bo").status, 200);
}

// The limit is on the processor time a script uses: a runaway ends once it has used 5 s of it,
// however long a busy machine takes to give it those (once ended after 5 s of the clock, having
// run a fraction of that). The script processes' processor time is read as they run.
TEST_F(KRLocalServerTest, runawayScriptsEndWithAnErrorWhileTheServerGoesOn)
{
    const QList<QPair<QByteArray, QByteArray>> pages{
        {"sync-loop", "for (;;) {}"},
        {"async-loop", "(async function () { for (;;) { await null; } })();"},
        {"microtask-loop", "(function again() { Promise.resolve().then(again); })();"},
        {"heap-hog", "var a = []; for (;;) { a.push(new Array(1e6).fill(1)); }"},
        {"buffer-hog", "var a = []; for (;;) { a.push(new Uint8Array(5e7).fill(1)); }"},
    };
    const qint64 server = serverProcessFor(*s_root);
    ASSERT_GT(server, 0);
    const std::map<qint64, qint64> before = processorMsBelow(server);
    std::atomic<bool> answered{false};
    auto sampling = std::async(std::launch::async, [&] {
        std::map<qint64, qint64> used; // by process, since the requests were sent
        while (!answered) {
            for (const auto &[pid, milliseconds] : processorMsBelow(server)) {
                const auto earlier = before.find(pid);
                used[pid] = std::max(used[pid], milliseconds - (earlier == before.end() ? 0 : earlier->second));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return used;
    });
    QElapsedTimer clock;
    clock.start();
    std::vector<std::future<std::pair<Response, qint64>>> answers;
    for (const auto &[name, script] : pages) {
        KRTest::writeFile(*s_root + QStringLiteral("/%1.krml").arg(QString::fromLatin1(name)), scriptPage(script));
        const QByteArray path = "/" + name + ".krml";
        answers.push_back(std::async(std::launch::async, [path, &clock] {
            Response response = request(s_port, "GET", path, {}, "application/json", {}, 180000);
            return std::make_pair(response, clock.elapsed());
        }));
    }
    // The server is not blocked meanwhile: a file comes before any of the scripts ends.
    EXPECT_EQ(request(s_port, "GET", "/index.html").status, 200);
    const qint64 fileDone = clock.elapsed();
    for (size_t i = 0; i < answers.size(); ++i) {
        const auto [response, done] = answers[i].get();
        const QByteArray &name = pages[qsizetype(i)].first;
        EXPECT_EQ(response.status, 500) << name.constData();
        EXPECT_TRUE(response.body.contains(name.endsWith("hog") ? "ran out of memory"
                                                                : "did not finish within 5 s of processor time"))
            << name.constData() << ": " << response.body.constData();
        if (!name.endsWith("hog")) {
            EXPECT_GT(done, fileDone) << name.constData();
        }
    }
    answered = true;
    const std::map<qint64, qint64> used = sampling.get();
    // Each endless loop ran for its 5 s, and no script much longer (a process's own start counts).
    int ranTheirTime = 0;
    for (const auto &[pid, milliseconds] : used) {
        EXPECT_LT(milliseconds, 6000) << "ms of processor time by process " << pid;
        ranTheirTime += milliseconds >= 4500;
    }
    EXPECT_GE(ranTheirTime, 3);
    const Response after = request(s_port, "GET", "/home.krml?name=Cy");
    EXPECT_EQ(after.status, 200);
    EXPECT_TRUE(after.body.contains("Hello, Cy"));
}

TEST_F(KRLocalServerTest, onlyTheApplicationMayAsk)
{
    const QByteArray port = QByteArray::number(s_port);
    // Another name for the address (DNS rebinding) or another port is refused; loopback names are not.
    EXPECT_EQ(request(s_port, "GET", "/index.html", {}, {}, {{"Host", "attacker.example:" + port}}).status, 421);
    EXPECT_EQ(request(s_port, "GET", "/index.html", {}, {}, {{"Host", "127.0.0.1:" + QByteArray::number(s_port + 1)}}).status, 421);
    EXPECT_EQ(request(s_port, "GET", "/index.html", {}, {}, {{"Host", "localhost:" + port}}).status, 200);
    EXPECT_EQ(request(s_port, "GET", "/__kr_bundle/jquery-1.9.0/VERSION", {}, {}, {{"Host", "127.0.0.1:" + port}}).status, 200);

    // Control requests: POST, the token, and no foreign origin.
    const QByteArray check = R"({"src": "var a = 1;"})";
    EXPECT_EQ(request(s_port, "GET", "/__kr_terminate").status, 405);
    EXPECT_EQ(request(s_port, "POST", "/__kr_terminate").status, 403);
    EXPECT_EQ(request(s_port, "POST", "/__kr_terminate", {}, {}, {{KRNodeRunner::tokenHeaderName, "0123"}}).status, 403);
    Headers foreign = withToken();
    foreign.append(qMakePair(QByteArray("Origin"), QByteArray("http://attacker.example")));
    EXPECT_EQ(request(s_port, "POST", "/__kr_terminate", {}, {}, foreign).status, 403);
    EXPECT_EQ(request(s_port, "POST", "/__kr_check_syntax", check).status, 403);
    EXPECT_EQ(request(s_port, "POST", "/__kr_uglify", check).status, 403);
    Headers own = withToken();
    own.append(qMakePair(QByteArray("Origin"), "http://127.0.0.1:" + port));
    EXPECT_EQ(request(s_port, "POST", "/__kr_check_syntax", check, "application/json", own).status, 200);
    EXPECT_EQ(request(s_port, "POST", "/__kr_uglify", check, "application/json", withToken()).status, 200);
    EXPECT_TRUE(portAcceptsConnections(s_port));
    EXPECT_EQ(KRNodeRunner::tokenForPort(s_port), s_runner->token());
    EXPECT_GE(s_runner->token().size(), 32);
}

TEST(KRLocalServerProcess, aSiteHostIsTheOnlyNameAndOriginOfTheSitesPages)
{
    installSocketTerminateSender();
    const QString root = KRTest::makeTempDir(QStringLiteral("site"));
    KRTest::writeFile(root + QStringLiteral("/index.html"), "<p>index</p>\n");
    KRTest::writeFile(root + QStringLiteral("/home.krml"), serverPage);
    KRNodeRunner runner;
    runner.setDocumentRootPath(root);
    runner.setRequestedPortNumber(0);
    runner.setSiteHostName(QStringLiteral("my-app-0123456789.localhost"));
    runner.start();
    const qint64 port = runner.portNumber();
    ASSERT_GT(port, 0);
    const QByteArray p = QByteArray::number(port);
    const QByteArray site = "my-app-0123456789.localhost:" + p;

    // The site's pages answer to its name alone: not to the loopback's, nor another site's.
    EXPECT_EQ(request(port, "GET", "/index.html", {}, {}, {{"Host", site}}).status, 200);
    EXPECT_EQ(request(port, "GET", "/index.html", {}, {}, {{"Host", "MY-APP-0123456789.localhost"}}).status, 200);
    const Response loopback = request(port, "GET", "/index.html");
    EXPECT_EQ(loopback.status, 421);
    EXPECT_TRUE(loopback.body.contains("my-app-0123456789.localhost:" + p)) << loopback.body.constData();
    EXPECT_EQ(request(port, "GET", "/index.html", {}, {}, {{"Host", "localhost:" + p}}).status, 421);
    EXPECT_EQ(request(port, "GET", "/index.html", {}, {}, {{"Host", "other-0123456789.localhost:" + p}}).status, 421);
    EXPECT_EQ(request(port, "GET", "/index.html", {}, {}, {{"Host", "x.my-app-0123456789.localhost:" + p}}).status, 421);
    EXPECT_EQ(request(port, "GET", "/__kr_bundle/jquery-1.9.0/VERSION", {}, {}, {{"Host", site}}).status, 200);

    // A server page's onPOST comes from the site's own origin only.
    const auto post = [&](const QByteArray &origin) {
        return request(port, "POST", "/home.krml", "item=tea", "application/x-www-form-urlencoded",
                       {{"Host", site}, {"Origin", origin}}).status;
    };
    EXPECT_EQ(post("http://127.0.0.1:" + p), 403);
    EXPECT_EQ(post("http://localhost:" + p), 403);
    EXPECT_EQ(post("http://other-0123456789.localhost:" + p), 403);
    EXPECT_EQ(post("http://" + site), 200);

    // The application's control requests still come on the loopback, with the token.
    Headers control{{KRNodeRunner::tokenHeaderName, runner.token()}};
    EXPECT_EQ(request(port, "POST", "/__kr_uglify", R"({"src": "var a = 1;"})", "application/json", control).status, 200);
    control.append(qMakePair(QByteArray("Origin"), "http://127.0.0.1:" + p));
    EXPECT_EQ(request(port, "POST", "/__kr_uglify", R"({"src": "var a = 1;"})", "application/json", control).status, 403);

    // Browsers try ::1 first for the name: the site answers there too, on the same port.
    QTcpSocket six;
    six.connectToHost(QHostAddress::LocalHostIPv6, quint16(port));
    if (six.waitForConnected(3000)) {
        six.write("GET /index.html HTTP/1.0\r\nHost: " + site + "\r\n\r\n");
        QByteArray answer;
        while (six.waitForReadyRead(3000))
            answer += six.readAll();
        EXPECT_TRUE(answer.startsWith("HTTP/1.1 200")) << answer.left(200).constData();
    }
    runner.terminate();

    // Anything but one name under localhost is refused: no server starts.
    for (const QString &name : {QStringLiteral("evil.example"), QStringLiteral("a.b.localhost"), QStringLiteral("-a.localhost"),
                                QStringLiteral("UPPER.localhost"), QStringLiteral("a b.localhost")}) {
        KRNodeRunner refused;
        refused.setDocumentRootPath(root);
        refused.setRequestedPortNumber(0);
        refused.setSiteHostName(name);
        refused.start();
        EXPECT_EQ(refused.portNumber(), -1) << name.toStdString();
    }
}

TEST(KRLocalServerProcess, takesAnotherPortWhenTheRequestedOneIsBusy)
{
    QTcpServer busy;
    ASSERT_TRUE(busy.listen(QHostAddress::LocalHost, 0));
    KRNodeRunner runner;
    runner.setRequestedPortNumber(busy.serverPort());
    runner.start();
    const qint64 port = runner.portNumber();
    EXPECT_GT(port, 0);
    EXPECT_NE(port, busy.serverPort());
    EXPECT_EQ(request(port, "GET", "/__kr_bundle/jquery-1.9.0/VERSION").status, 200);
    runner.terminate();
}

TEST(KRLocalServerProcess, terminateRequestEndsTheServer)
{
    installSocketTerminateSender();
    RecordingDelegate delegate;
    KRNodeRunner runner;
    runner.setDelegate(&delegate);
    runner.setRequestedPortNumber(0);
    runner.start();
    const qint64 port = runner.portNumber();
    ASSERT_GT(port, 0);
    EXPECT_EQ(delegate.ports, QList<qint64>{port});
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return delegate.messages.join(QString()).contains(QStringLiteral("Serving")); }));
    const int completed = completedTerminateRequests();
    runner.stop();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return completedTerminateRequests() > completed; }));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return !portAcceptsConnections(port); }));
    KRNodeRunner::setTerminateRequestSender({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The processes whose parent is `pid`.
QList<qint64> childProcesses(qint64 pid)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        const QList<QByteArray> fields = processStatFields(entry.toLongLong());
        if (fields.value(1).toLongLong() == pid && fields.value(0) != "Z")
            children.append(entry.toLongLong());
    }
    return children;
}

TEST(KRLocalServerProcess, scriptProcessesEndWithTheServer)
{
    for (const bool killAll : {false, true}) {
        const QString root = KRTest::makeTempDir(QStringLiteral("loops"));
        KRTest::writeFile(root + QStringLiteral("/loop.krml"), scriptPage("for (;;) {}"));
        KRNodeRunner runner;
        runner.setDocumentRootPath(root);
        runner.setRequestedPortNumber(0);
        runner.start();
        const qint64 port = runner.portNumber();
        ASSERT_GT(port, 0);
        const qint64 server = serverProcessFor(root);
        ASSERT_GT(server, 0);
        auto answer = std::async(std::launch::async, [port] { return request(port, "GET", "/loop.krml"); });
        // The script process and the one kept ready for the next request (with the process that
        // holds their view, where there is one).
        QList<qint64> scripts;
        ASSERT_TRUE(KRTest::processEventsUntil([&] { return (scripts = childProcesses(server)).size() >= 2; }));
        // The processor time each has used when the server is told to end, and the last seen
        // before it went: the looping script would end by its own limit (5 s of processor time)
        // if nothing ended it, however long a busy machine takes by the clock.
        std::map<qint64, std::pair<qint64, qint64>> used;
        for (qint64 pid : scripts) {
            const qint64 now = processorMs(pid);
            used[pid] = {now, now};
        }
        if (killAll)
            KRNodeRunner::endAllServers();
        else
            runner.terminate();
        for (qint64 pid : scripts) {
            EXPECT_TRUE(KRTest::processEventsUntil(
                [&] {
                    const qint64 now = processorMs(pid);
                    used[pid].second = std::max(used[pid].second, now);
                    return !processAlive(pid);
                },
                std::chrono::minutes(2)))
                << (killAll ? "killed" : "terminated");
            EXPECT_LT(used[pid].second - used[pid].first, 2500)
                << (killAll ? "killed" : "terminated") << ": ended by its own time limit, not by the server's end";
        }
        answer.wait();
        runner.terminate();
    }
}

// What each descriptor of process `pid` is ("socket:[1234]", "pipe:[99]", a path), by number.
std::map<int, QString> descriptorsOf(qint64 pid)
{
    std::map<int, QString> descriptors;
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    for (const QString &entry : QDir(folder).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t length = ::readlink(QFile::encodeName(folder + QLatin1Char('/') + entry).constData(), target,
                                          sizeof target);
        if (length > 0)
            descriptors[entry.toInt()] = QString::fromLocal8Bit(target, length);
    }
    return descriptors;
}

// Every process of a server (the server, the shell holding its scripts' view, each script
// process and the programs that set up its walls) holds none of the application's descriptors:
// its standard input, output and error, and what it opened itself. The application holds many
// that are not closed on exec (the web engine's channels to its helper processes, shared memory,
// a listening socket), which the server and every script process it started kept open.
TEST(KRLocalServerProcess, noProcessOfTheServerHoldsTheApplicationsDescriptors)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int socketDescriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    const int listening = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(socketDescriptor, 0);
    ASSERT_GE(listening, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);
    // Numbered low, and high as most of the application's are (node itself marks a few low
    // ones close-on-exec, not the others).
    std::vector<int> opened{pipeEnds[0], pipeEnds[1], socketDescriptor, listening};
    for (const int fd : {pipeEnds[0], pipeEnds[1], socketDescriptor, listening})
        opened.push_back(::fcntl(fd, F_DUPFD, 200));
    const std::map<int, QString> ours = descriptorsOf(::getpid());
    QStringList held;
    for (const int fd : opened) {
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        held.append(ours.at(fd));
    }

    const QString root = KRTest::makeTempDir(QStringLiteral("descriptors"));
    KRTest::writeFile(root + QStringLiteral("/page.krml"), scriptPage("response.setFormValue('result', 'ran');"));
    KRNodeRunner runner;
    runner.setDocumentRootPath(root);
    runner.setRequestedPortNumber(0);
    runner.start();
    const qint64 port = reportedPort(runner);
    ASSERT_GT(port, 0);
    const qint64 server = serverProcessFor(root);
    ASSERT_GT(server, 0);
    const Response page = request(port, "GET", "/page.krml", {}, "application/json", {}, 60000);
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("ran")) << page.body.constData();
    // The processes as they are once the page has run: the script process that ran it and the
    // one kept ready for the next request, each with the programs it was started through.
    QList<qint64> processes{server};
    for (qsizetype i = 0; i < processes.size(); ++i)
        processes += childProcesses(processes[i]);
    EXPECT_GE(processes.size(), 2) << "the server and a script process";
    for (const qint64 pid : processes) {
        // (A script process's command holds the whole sandbox script.)
        const QByteArray command =
            KRTest::readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).replace('\0', ' ').replace('\n', ' ').left(200);
        const std::map<int, QString> descriptors = descriptorsOf(pid);
        if (descriptors.empty())
            continue; // ended meanwhile
        for (const int standard : {0, 1, 2})
            EXPECT_TRUE(descriptors.count(standard)) << standard << " of " << command.constData();
        for (const auto &[fd, target] : descriptors) {
            EXPECT_FALSE(held.contains(target))
                << command.constData() << " holds the application's " << target.toStdString() << " as " << fd;
        }
    }
    runner.terminate();
    for (const int fd : opened)
        ::close(fd);
}

// A JavaScript string naming the file of the local server's folder.
QByteArray serverFile(const char *name)
{
    return QJsonDocument(QJsonArray{KRNodeRunner::localServerPath() + QLatin1Char('/') + QLatin1String(name)})
        .toJson(QJsonDocument::Compact)
        .mid(1)
        .chopped(1);
}

// What /proc says of a process: its processor time so far (user and system, in ms), its
// resident memory (KiB) and its threads.
struct ProcessUse
{
    double cpuMs = -1;
    qint64 residentKiB = -1;
    int threads = -1;
};

ProcessUse processUse(qint64 pid)
{
    ProcessUse use;
    if (const QList<QByteArray> fields = processStatFields(pid); !fields.isEmpty()) {
        const double tick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
        use.cpuMs = (fields.value(11).toDouble() + fields.value(12).toDouble()) * tick;
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                use.residentKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
            else if (line.startsWith("Threads:"))
                use.threads = line.mid(8).trimmed().toInt();
        }
    }
    return use;
}

// A server nobody has asked to check or minify anything (as the device viewer's, or the
// application's while a project opens) spends next to no processor time and holds little
// memory: no worker is started ahead of a build. The first check starts what it needs.
TEST(KRLocalServerProcess, aServerStartsNoToolsBeforeTheyAreAskedFor)
{
    const QString root = KRTest::makeTempDir(QStringLiteral("idle"));
    KRNodeRunner runner;
    runner.setDocumentRootPath(root);
    runner.setRequestedPortNumber(0);
    runner.start();
    const qint64 port = runner.portNumber();
    ASSERT_GT(port, 0);
    const qint64 pid = serverProcessFor(root);
    ASSERT_GT(pid, 0);
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(2500));
    const ProcessUse idle = processUse(pid);
    // Warming four workers up took 3.7 to 4.9 s of processor time and 180 MB.
    EXPECT_LT(idle.cpuMs, 1200) << "processor time in the first seconds";
    EXPECT_GT(idle.residentKiB, 0);
    EXPECT_LT(idle.residentKiB, 100 * 1024);

    const QByteArray check = QJsonDocument(QJsonObject{{QStringLiteral("src"), QStringLiteral("var a = 1\n")}}).toJson();
    const Response checked = request(port, "POST", "/__kr_check_syntax", check, "application/json",
                                     {{KRNodeRunner::tokenHeaderName, runner.token()}});
    EXPECT_EQ(checked.status, 200);
    EXPECT_EQ(QJsonDocument::fromJson(checked.body).object().value(QStringLiteral("errors")).toArray().size(), 1);
    EXPECT_GT(processUse(pid).threads, idle.threads) << "the check started a worker";
    runner.terminate();
}

// The workers start as jobs come, as many as run at once and no more than the pool; each
// loads only the tool its jobs use; the idle ones end after a while, the one used last after
// a longer while. Judged by what the pool holds and in which order its workers end, not by how
// soon a busy machine lets them run: counted after a wait of fixed length, a job that finished
// late left one worker idle long enough to end before the others had done (2 for 3), and a
// stall could end the last one within the short wait.
TEST(KRLocalServerTools, workersStartWithTheirJobsAndEndWhenIdle)
{
    const QByteArray script = "const { ServerTools } = require(" + serverFile("kr-server-tools.js") + R"JS();
const lastIdleMs = 3000;
const tools = new ServerTools(() => {}, { maxWorkers: 3, idleMs: 300, lastIdleMs });
const seen = { atStart: tools.workerCount(), most: 0, counts: [] };
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const watch = setInterval(() => { seen.most = Math.max(seen.most, tools.workerCount()); }, 5);
(async () => {
    const one = await tools.run('check', 'var a = 1;', {});
    seen.afterOne = tools.workerCount();
    const jobs = [];
    for (let i = 0; i < 8; ++i) jobs.push(tools.run(i % 2 ? 'minify' : 'check', 'var a' + i + ' = ' + i + ';', {}));
    seen.atOnce = tools.workerCount();
    const answers = await Promise.all(jobs);
    const done = Date.now();
    clearInterval(watch);
    seen.statuses = [one.status].concat(answers.map((a) => a.status));
    seen.minified = JSON.parse(answers[1].text).src;
    // Every count the pool goes through until it is empty, each once, in order.
    while (tools.workerCount() > 0 && Date.now() - done < 60000) {
        if (seen.counts[seen.counts.length - 1] !== tools.workerCount()) seen.counts.push(tools.workerCount());
        await sleep(20);
    }
    seen.counts.push(tools.workerCount());
    seen.emptyAfterMs = Date.now() - done;
    seen.lastIdleMs = lastIdleMs;
    const again = await tools.run('check', ['var b = 1', 'var c = 2;'], {});
    seen.again = JSON.parse(again.text).results.map((r) => r.errors.length);
    console.log(JSON.stringify(seen));
    process.exit(0);
})();
)JS";
    const QJsonObject seen = QJsonDocument::fromJson(runNode(script)).object();
    ASSERT_FALSE(seen.isEmpty());
    const QByteArray shown = QJsonDocument(seen).toJson();
    EXPECT_EQ(seen.value(QStringLiteral("atStart")).toInt(), 0);
    EXPECT_EQ(seen.value(QStringLiteral("afterOne")).toInt(), 1);
    for (const QJsonValue status : seen.value(QStringLiteral("statuses")).toArray())
        EXPECT_EQ(status.toInt(), 200);
    EXPECT_EQ(seen.value(QStringLiteral("minified")).toString(), QStringLiteral("var a1=1;"));
    EXPECT_EQ(seen.value(QStringLiteral("atOnce")).toInt(), 3) << "as many as the jobs that run at once";
    EXPECT_EQ(seen.value(QStringLiteral("most")).toInt(), 3) << "never more than the pool";
    // The idle ones end first, the one used last stays until its longer wait is over.
    const QJsonArray counts = seen.value(QStringLiteral("counts")).toArray();
    EXPECT_GE(counts.size(), 2) << shown.constData();
    EXPECT_EQ(counts.at(counts.size() - 2).toInt(), 1) << shown.constData();
    EXPECT_EQ(counts.last().toInt(), 0) << shown.constData();
    EXPECT_GE(seen.value(QStringLiteral("emptyAfterMs")).toInt(), seen.value(QStringLiteral("lastIdleMs")).toInt() - 100)
        << shown.constData();
    EXPECT_EQ(seen.value(QStringLiteral("again")).toArray(), (QJsonArray{1, 0}));
}

// The pool is sized from the processors the server may run on: its CPU affinity and its
// control group's quota (v1 or v2, the smallest along the group's path), not the machine's
// count of processors.
TEST(KRLocalServerTools, thePoolCountsTheProcessorsTheServerMayUse)
{
    const QByteArray script = "const file = " + serverFile("kr-server-tools.js") + R"JS(;
const tools = require(file);
const machine = (files) => (file) => {
    if (files[file] === undefined) throw new Error('ENOENT');
    return files[file];
};
const status = (list) => 'Name:\tnode\nCpus_allowed:\tff\nCpus_allowed_list:\t' + list + '\n';
const seen = {
    affinity: tools.usableProcessors(machine({ '/proc/self/status': status('0-1') })),
    scattered: tools.usableProcessors(machine({ '/proc/self/status': status('0,2,4-5') })),
    v2: tools.usableProcessors(machine({ '/proc/self/status': status('0-7'), '/proc/self/cgroup': '0::/app/korvane\n',
        '/sys/fs/cgroup/app/korvane/cpu.max': 'max 100000\n', '/sys/fs/cgroup/app/cpu.max': '150000 100000\n' })),
    v1: tools.usableProcessors(machine({ '/proc/self/status': status('0-7'),
        '/proc/self/cgroup': '4:memory:/x\n3:cpu,cpuacct:/user\n0::/\n',
        '/sys/fs/cgroup/cpu,cpuacct/user/cpu.cfs_quota_us': '50000\n', '/sys/fs/cgroup/cpu,cpuacct/user/cpu.cfs_period_us': '100000\n' })),
    unlimited: tools.usableProcessors(machine({ '/proc/self/status': status('0-5'), '/proc/self/cgroup': '0::/\n',
        '/sys/fs/cgroup/cpu.max': 'max 100000\n' })),
    unknown: tools.usableProcessors(machine({})),
    pools: [1, 2, 3, 4, 8, 64].map(tools.workerCount),
};
const pinned = require('child_process').spawnSync('taskset', ['-c', '0,1', process.execPath, '-e',
    'console.log(require(' + JSON.stringify(file) + ').usableProcessors())'], { encoding: 'utf8' });
seen.pinned = pinned.status === 0 ? Number(pinned.stdout) : -1;
console.log(JSON.stringify(seen));
)JS";
    const QJsonObject seen = QJsonDocument::fromJson(runNode(script)).object();
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.value(QStringLiteral("affinity")).toInt(), 2);
    EXPECT_EQ(seen.value(QStringLiteral("scattered")).toInt(), 4);
    EXPECT_EQ(seen.value(QStringLiteral("v2")).toInt(), 2);
    EXPECT_EQ(seen.value(QStringLiteral("v1")).toInt(), 1);
    EXPECT_EQ(seen.value(QStringLiteral("unlimited")).toInt(), 6);
    EXPECT_EQ(seen.value(QStringLiteral("unknown")).toInt(), 1);
    // A starting worker needs about a processor beside it for its compiler and collector.
    EXPECT_EQ(seen.value(QStringLiteral("pools")).toArray(), (QJsonArray{1, 1, 1, 2, 4, 4}));
    EXPECT_EQ(seen.value(QStringLiteral("pinned")).toInt(), 2) << "pinned to two processors";
}

// A script process that got out of its context would still reach no network (not even the
// loopback, where this test listens), could signal no other process, and would see of the
// file system only what node needs and its site, read-only: not the user's home, /tmp (where
// the X server's socket lies) or the session bus. Nor could it lift those bounds: it holds no
// capability, so remounting its site or its root writable is refused, also where the test runs
// as root. Where the test runs as root, the process is not root either: it cannot read a file of
// the site that only its owner may read. Where the system refuses the namespaces, the run log
// says so once, with the refusing program's reason also when that program says nothing.
TEST(KRLocalServerProcess, scriptProcessesReachNoNetworkNoOtherProcessAndOnlyTheirSite)
{
    const QString site = KRTest::makeTempDir(QStringLiteral("site"));
    KRTest::writeFile(site + QStringLiteral("/index.html"), "<p>site</p>\n");
    KRTest::writeFile(site + QStringLiteral("/owner-only"), "secret\n");
    QFile::setPermissions(site + QStringLiteral("/owner-only"), QFile::ReadOwner | QFile::WriteOwner);
    // Beside the site, in the home folder, and where the session bus and X server keep their sockets.
    QJsonArray looked;
    for (const QString &folder : {KRTest::makeTempDir(QStringLiteral("outside")), QDir::homePath(),
                                  qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/tmp")}) {
        if (folder.isEmpty())
            continue;
        const QString marker = folder + QStringLiteral("/kr-marker-") + QString::number(getpid());
        KRTest::writeFile(marker, "secret\n");
        looked.append(marker);
    }
    const QByteArray script = "const scripts = require(" + serverFile("kr-server-page-scripts.js") + ");\n"
        "const site = " + QJsonDocument(QJsonArray{site}).toJson(QJsonDocument::Compact).mid(1).chopped(1) + ";\n"
        "const looked = " + QJsonDocument(looked).toJson(QJsonDocument::Compact) + R"JS(;
const net = require('net');
const { spawn } = require('child_process');
const notes = [];
const listener = net.createServer((socket) => socket.end('hello\n')).listen(0, '127.0.0.1', () => {
    const walls = new scripts.ScriptWalls(site, (line) => notes.push(line), () => {
        // What an escaped script would try first: making its view writable again, then writing.
        const probe = 'const fs = require("fs"); const seen = { seen: ' + JSON.stringify(looked) + '.filter((p) => fs.existsSync(p)) };' +
            'const mount = ["/bin/mount", "/usr/bin/mount"].find((p) => fs.existsSync(p));' +
            'const tried = (words) => require("child_process").spawnSync(mount, words, { stdio: "ignore" }).status;' +
            'seen.remounts = [tried(["-o", "remount,bind,rw", "."]), tried(["-o", "remount,rw", "/"]), tried(["-o", "remount,bind,rw", "/"])];' +
            'seen.site = fs.existsSync("index.html"); seen.uid = process.getuid();' +
            'try { fs.readFileSync("owner-only"); seen.ownerOnly = "read"; } catch (e) { seen.ownerOnly = e.code; }' +
            'try { fs.writeFileSync("written", "x"); seen.write = "written"; } catch (e) { seen.write = e.code; }' +
            'try { fs.writeFileSync("/written", "x"); seen.rootWrite = "written"; } catch (e) { seen.rootWrite = e.code; }' +
            'try { seen.capabilities = fs.readFileSync("/proc/self/status", "utf8").split("\\n").filter((l) => /^Cap(Prm|Eff|Bnd)/.test(l)).map((l) => l.split("\\t")[1]); } catch (e) { seen.capabilities = e.code; }' +
            'try { process.kill(' + process.pid + ', 0); seen.signal = "sent"; } catch (e) { seen.signal = e.code; }' +
            'const s = require("net").connect(' + listener.address().port + ', "127.0.0.1");' +
            's.on("data", () => { seen.connect = "connected"; done(); }); s.on("error", (e) => { seen.connect = e.code; done(); });' +
            'function done() { console.log(JSON.stringify(seen)); process.exit(0); }';
        const words = walls.words.length > 0 ? walls.words.slice(1).concat([process.execPath, '-e', probe]) : ['-e', probe];
        const child = spawn(walls.words.length > 0 ? walls.words[0] : process.execPath, words, { env: {}, cwd: site });
        let out = '';
        child.stdout.on('data', (chunk) => { out += chunk; });
        child.on('close', () => {
            walls.end();
            console.log(JSON.stringify({ isolated: walls.words.includes('--mount'), notes, probe: JSON.parse(out || '{}') }));
            process.exit(0);
        });
    });
    walls.make();
});
)JS";
    const QJsonObject seen = QJsonDocument::fromJson(runNode(script)).object();
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.value(QStringLiteral("notes")).toArray(), QJsonArray());
    ASSERT_TRUE(seen.value(QStringLiteral("isolated")).toBool()) << "this system offers user and mount namespaces";
    const QJsonObject probe = seen.value(QStringLiteral("probe")).toObject();
    EXPECT_EQ(probe.value(QStringLiteral("signal")).toString(), QStringLiteral("ESRCH"));
    EXPECT_NE(probe.value(QStringLiteral("connect")).toString(), QStringLiteral("connected"));
    EXPECT_FALSE(probe.value(QStringLiteral("connect")).toString().isEmpty());
    EXPECT_TRUE(probe.value(QStringLiteral("site")).toBool());
    if (getuid() == 0) {
        EXPECT_NE(probe.value(QStringLiteral("uid")).toInt(0), 0) << "a script process of a server run by root is root";
        EXPECT_EQ(probe.value(QStringLiteral("ownerOnly")).toString(), QStringLiteral("EACCES"));
    } else {
        EXPECT_EQ(probe.value(QStringLiteral("ownerOnly")).toString(), QStringLiteral("read"));
    }
    const QJsonArray remounts = probe.value(QStringLiteral("remounts")).toArray();
    ASSERT_EQ(remounts.size(), 3);
    for (const QJsonValue status : remounts)
        EXPECT_NE(status.toInt(), 0) << "a remount was let through";
    EXPECT_EQ(probe.value(QStringLiteral("write")).toString(), QStringLiteral("EROFS"));
    EXPECT_EQ(probe.value(QStringLiteral("rootWrite")).toString(), QStringLiteral("EROFS"));
    const QString none = QStringLiteral("0000000000000000");
    EXPECT_EQ(probe.value(QStringLiteral("capabilities")).toArray(), (QJsonArray{none, none, none}));
    EXPECT_EQ(probe.value(QStringLiteral("seen")).toArray(), QJsonArray()) << "nothing outside the site and the system";
    EXPECT_FALSE(QFile::exists(site + QStringLiteral("/written")));
    for (const QJsonValue marker : looked)
        QFile::remove(marker.toString());

    // Refused: said once, whatever the number of processes started, with the reason of the
    // program that refused, also when it said nothing: the view's, ended by a signal, with the
    // other namespaces granted; then the view's, ended with a status, with those refused too.
    const QByteArray refused = R"JS(
const childProcess = require('child_process');
const realSpawn = childProcess.spawn;
const realSpawnSync = childProcess.spawnSync;
let viewEnds = 'kill -9 $$';
let othersRefused = false;
childProcess.spawn = (file, args, options) => args.includes('kr-script-view')
    ? realSpawn('/bin/sh', ['-c', viewEnds], options) : realSpawn(file, args, options);
childProcess.spawnSync = (file, args, options) => othersRefused ? { status: 1, stderr: Buffer.alloc(0) }
                                                                : realSpawnSync(file, args, options);
const scripts = require()JS" + serverFile("kr-server-page-scripts.js") + R"JS();
const said = [];
function refuse() {
    const lines = [];
    const pages = new scripts.ServerPageScripts({ sandboxSource: 'process.stdin.resume();', cwd: process.cwd(),
                                                  store: { loaded: false, items: new Map() }, log: (line) => lines.push(line) });
    pages.startWaiting();
    pages.startWaiting();
    const waited = setInterval(() => {
        if (pages.walls.words === null || (pages.live.size === 0 && !pages.walls.refusal)) return;
        clearInterval(waited);
        pages.startWaiting();
        said.push({ walls: pages.walls.words, processes: pages.live.size, lines });
        pages.endAll();
        if (othersRefused) {
            console.log(JSON.stringify(said));
            process.exit(0);
        }
        viewEnds = 'exit 1';
        othersRefused = true;
        refuse();
    }, 10);
}
refuse();
)JS";
    const QJsonArray said = QJsonDocument::fromJson(runNode(refused)).array();
    ASSERT_EQ(said.size(), 2);
    const QJsonObject viewRefused = said.at(0).toObject();
    const QJsonArray granted = viewRefused.value(QStringLiteral("walls")).toArray();
    EXPECT_TRUE(granted.contains(QStringLiteral("--net")) && !granted.contains(QStringLiteral("--mount")));
    QJsonArray lines = viewRefused.value(QStringLiteral("lines")).toArray();
    ASSERT_EQ(lines.size(), 1) << QJsonDocument(said).toJson().constData();
    EXPECT_TRUE(lines.at(0).toString().contains(QStringLiteral("see the whole file system")));
    EXPECT_TRUE(lines.at(0).toString().contains(QStringLiteral("(unshare was ended by signal SIGKILL)")));
    const QJsonObject allRefused = said.at(1).toObject();
    EXPECT_EQ(allRefused.value(QStringLiteral("walls")).toArray(), QJsonArray());
    lines = allRefused.value(QStringLiteral("lines")).toArray();
    ASSERT_EQ(lines.size(), 1) << QJsonDocument(said).toJson().constData();
    if (getuid() == 0) {
        // Nor can the user be changed: no script runs (see tst_KRServerPagesAsRoot).
        EXPECT_TRUE(lines.at(0).toString().contains(QStringLiteral("Server pages do not run")));
        EXPECT_TRUE(lines.at(0).toString().contains(QStringLiteral("(setpriv ended with exit status 1)")));
        EXPECT_EQ(allRefused.value(QStringLiteral("processes")).toInt(), 0);
    } else {
        EXPECT_TRUE(lines.at(0).toString().contains(QStringLiteral("without namespaces of their own")));
        EXPECT_TRUE(lines.at(0).toString().contains(QStringLiteral("(unshare ended with exit status 1)")));
    }
}

// Started directly, to control its standard input.
class DirectServer
{
public:
    DirectServer()
    {
        m_process.setProgram(KRNodeRunner::nodeExecutablePath());
        m_process.setArguments({KRNodeRunner::localServerPath() + QStringLiteral("/kr-local-runtime.js"),
                                KRTest::makeTempDir(QStringLiteral("direct")), QStringLiteral("0")});
        m_process.start();
    }
    ~DirectServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    qint64 port()
    {
        m_process.write("alive\n");
        for (int i = 0; i < 40 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(250);
        return QJsonDocument::fromJson(m_process.readLine()).object().value(QStringLiteral("port")).toInteger(-1);
    }
    QProcess m_process;
};

TEST(KRLocalServerProcess, watchdogEndsTheServerWhenStandardInputCloses)
{
    DirectServer server;
    const qint64 port = server.port();
    ASSERT_GT(port, 0);
    server.m_process.closeWriteChannel();
    EXPECT_TRUE(server.m_process.waitForFinished(5000));
    EXPECT_FALSE(portAcceptsConnections(port));
}

TEST(KRLocalServerProcess, watchdogEndsTheServerWhenAliveLinesStop)
{
    DirectServer server;
    ASSERT_GT(server.port(), 0);
    // Standard input stays open but silent.
    EXPECT_TRUE(server.m_process.waitForFinished(15000));
}

// A server that the machine gave no processor for a while is still there once it runs again: the
// alive lines that came meanwhile count (it ended, reading them only after its watchdog's check).
TEST(KRLocalServerProcess, watchdogKeepsAServerThatWasStoppedForAWhile)
{
    DirectServer server;
    const qint64 port = server.port();
    ASSERT_GT(port, 0);
    const auto keepAlive = [&](int milliseconds) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) {
            server.m_process.write("alive\n");
            server.m_process.waitForBytesWritten(200);
            server.m_process.waitForFinished(200);
        }
    };
    for (int round = 0; round < 3; ++round) {
        keepAlive(700);
        ASSERT_EQ(::kill(pid_t(server.m_process.processId()), SIGSTOP), 0);
        keepAlive(6500);
        ASSERT_EQ(::kill(pid_t(server.m_process.processId()), SIGCONT), 0);
        keepAlive(1500);
        ASSERT_EQ(server.m_process.state(), QProcess::Running) << "round " << round;
    }
    EXPECT_TRUE(portAcceptsConnections(port));
}

// A server of its own, as the application starts it, on a folder of pages for the load clients:
// home.krml answers at once, big.krml answers 40 MB, loop1.krml ... loop8.krml never finish,
// store.krml fills the stored items (?fill=N) and reads one (?get=name).
class LoadedServer
{
public:
    LoadedServer()
    {
        m_root = KRTest::makeTempDir(QStringLiteral("load"));
        KRTest::writeFile(m_root + QStringLiteral("/index.html"), "<p>index</p>\n");
        KRTest::writeFile(m_root + QStringLiteral("/home.krml"), serverPage);
        KRTest::writeFile(m_root + QStringLiteral("/big.krml"),
                          "<krml><html><![CDATA[<p><%= response.form.x %></p>]]></html><events><event id=\"onGET\"><![CDATA["
                          "response.setFormValue(\"x\", \"x\".repeat(40000000));]]></event></events></krml>\n");
        KRTest::writeFile(m_root + QStringLiteral("/store.krml"),
                          "<krml><html><![CDATA[<p><%= response.form.result %></p>]]></html><events><event id=\"onGET\"><![CDATA["
                          "var q = request.query;"
                          "if (q.fill) storage.setItem('f' + q.fill, 'f'.repeat(1000000));"
                          "response.setFormValue('result', String(storage.getItem(q.get || 'none')).length);"
                          "]]></event></events></krml>\n");
        for (int i = 1; i <= 8; ++i) {
            KRTest::writeFile(m_root + QStringLiteral("/loop%1.krml").arg(i),
                              QByteArray("<krml><html><![CDATA[<p>never</p>]]></html><events><event id=\"onGET\"><![CDATA["
                                         "var turns") + QByteArray::number(i) + " = 0; for (;;) { turns" + QByteArray::number(i)
                                  + "++; }]]></event></events></krml>\n");
        }
        m_runner.setDocumentRootPath(m_root);
        m_runner.setRequestedPortNumber(0);
        m_runner.start();
        m_port = reportedPort(m_runner);
    }
    ~LoadedServer() { m_runner.terminate(); }

    qint64 port() { return m_port; }

    // What the load clients saw in `scenario`, given at most `timeoutMilliseconds`.
    QJsonObject run(const QString &scenario, int timeoutMilliseconds = 90000)
    {
        return runHostileClients({scenario, QString::number(port()), m_runner.token(),
                                  QString::number(serverProcessFor(m_root))}, timeoutMilliseconds);
    }

private:
    QString m_root;
    KRNodeRunner m_runner;
    qint64 m_port = -1;
};

// Each test runs its scenario against a server of its own.
class KRLocalServerUnderLoad : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_GT(m_server.port(), 0); }

    qint64 port() { return m_server.port(); }
    QJsonObject run(const QString &scenario, int timeoutMilliseconds = 90000)
    {
        return m_server.run(scenario, timeoutMilliseconds);
    }

private:
    LoadedServer m_server;
};

TEST_F(KRLocalServerUnderLoad, filesAnswerWhileALargeScriptIsMinified)
{
    const QJsonObject seen = run(QStringLiteral("minifyWhileServing"));
    EXPECT_EQ(seen.value(QStringLiteral("fileStatus")).toInt(), 200);
    // The minification itself takes many seconds: the file does not wait for it.
    EXPECT_TRUE(seen.value(QStringLiteral("fileBeforeMinify")).toBool()) << QJsonDocument(seen).toJson().constData();
    EXPECT_EQ(request(port(), "GET", "/index.html").status, 200);
}

// While 64 clients trickle their bodies (16 hold every place a body of the page may have, the
// others are refused at once), the page is answered without waiting for any of those places:
// every GET is answered before the first trickler is cut off, whatever the time a busy machine
// takes for it. Then each trickler is cut off after the time a body has, and a form posts.
TEST_F(KRLocalServerUnderLoad, slowBodiesAreCutOffAndTakeNoPlaceOfOthers)
{
    const QJsonObject seen = run(QStringLiteral("tricklingBodies"), 150000);
    const QByteArray shown = QJsonDocument(seen).toJson();
    for (const QJsonValue status : seen.value(QStringLiteral("getStatuses")).toArray())
        EXPECT_EQ(status.toInt(), 200) << "the page while 64 clients trickle their bodies";
    EXPECT_EQ(seen.value(QStringLiteral("refused")).toInt(), 64) << shown.constData();
    EXPECT_GT(seen.value(QStringLiteral("timedOut")).toInt(), 0) << "some held a place until cut off";
    const QJsonArray gets = seen.value(QStringLiteral("getsDoneMs")).toArray();
    EXPECT_EQ(gets.size(), 5);
    for (const QJsonValue done : gets)
        EXPECT_LT(done.toInt(), seen.value(QStringLiteral("firstTimedOutMs")).toInt()) << shown.constData();
    EXPECT_EQ(seen.value(QStringLiteral("postStatus")).toInt(), 200);
}

// Clients that never read their large answers hold at most the budget for answers, each until
// its answer has stalled for a while; a client that reads is then answered in full. It comes
// after them and waits its turn: on a busy machine the twelve answers before it took 45 s to
// make, and its first try was refused while the last of them were held, so it tries again for as
// long as only an answer never given back could take.
TEST_F(KRLocalServerUnderLoad, clientsThatNeverReadHoldBoundedMemory)
{
    const QJsonObject seen = run(QStringLiteral("unreadAnswers"), 240000);
    // Twelve answers of 40 MB held for them would be 480 MB more.
    EXPECT_GT(seen.value(QStringLiteral("peakKiB")).toInt(), 0);
    EXPECT_LT(seen.value(QStringLiteral("peakKiB")).toInt(), 480 * 1024);
    EXPECT_EQ(seen.value(QStringLiteral("pageStatus")).toInt(), 200) << "an ordinary page meanwhile";
    EXPECT_EQ(seen.value(QStringLiteral("readerStatus")).toInt(), 200) << QJsonDocument(seen).toJson().constData();
    EXPECT_EQ(seen.value(QStringLiteral("readerBytes")).toInt(), 40000007);
}

// Once the clients that never read their large answers have gone, the server gives the memory
// back (it kept 386 MB twenty seconds later).
TEST_F(KRLocalServerUnderLoad, largeAnswersLeaveNoMemoryBehindOnceTheirClientsHaveGone)
{
    const QJsonObject seen = run(QStringLiteral("unreadAnswersLeave"));
    const int before = seen.value(QStringLiteral("beforeKiB")).toInt();
    EXPECT_GT(before, 0);
    EXPECT_GT(seen.value(QStringLiteral("peakKiB")).toInt(), before + 64 * 1024) << "the answers were made";
    EXPECT_LT(seen.value(QStringLiteral("laterKiB")).toInt(), before + 48 * 1024) << QJsonDocument(seen).toJson().constData();
    EXPECT_EQ(seen.value(QStringLiteral("pageStatus")).toInt(), 200);
}

// Clients that trickle their bodies and come again whenever they are cut off take every place
// a body may have, and the budget for bodies; a client that sends its body at once still
// posts, each time, and so does one whose body follows its head (once held at 503 for as long
// as the trickling went on), also when the body comes a moment after the head (it was refused
// 503 when nothing of it had come 0.1 s after the head, as on a busy machine).
TEST_F(KRLocalServerUnderLoad, tricklingClientsThatComeAgainLeaveOthersTheirPosts)
{
    const QJsonObject seen = run(QStringLiteral("reconnectingTricklers"), 180000);
    const QJsonArray statuses = seen.value(QStringLiteral("postStatuses")).toArray();
    EXPECT_EQ(statuses.size(), 10) << QJsonDocument(seen).toJson().constData();
    for (const QJsonValue status : statuses)
        EXPECT_EQ(status.toInt(), 200) << QJsonDocument(seen).toJson().constData();
    const QJsonArray uploads = seen.value(QStringLiteral("uploadStatuses")).toArray();
    EXPECT_EQ(uploads.size(), 10) << QJsonDocument(seen).toJson().constData();
    for (const QJsonValue status : uploads)
        EXPECT_EQ(status.toInt(), 200) << QJsonDocument(seen).toJson().constData();
    EXPECT_GT(seen.value(QStringLiteral("connections")).toInt(), 64) << "the trickling clients came again";
}

// A body is judged by its own rate, from the moment it is read: one that comes at a fair rate
// is read however long its size takes (a 2 MB body at 120 KiB/s was refused after 12 s), large
// bodies that fill the budget are not refused while they come, and a small upload sent whole
// goes on meanwhile (it was refused 408 after 11 s, its time spent waiting for room): it is
// answered before the 2 MB body has come, not once that body leaves room.
TEST_F(KRLocalServerUnderLoad, bodiesThatComeAtAFairRateAreReadHoweverLongTheyTake)
{
    const QJsonObject seen = run(QStringLiteral("fairUploads"));
    const QByteArray shown = QJsonDocument(seen).toJson();
    EXPECT_EQ(seen.value(QStringLiteral("steadyStatus")).toInt(), 200) << shown.constData();
    EXPECT_GT(seen.value(QStringLiteral("steadyMs")).toInt(), 14000) << "the body took its time";
    EXPECT_EQ(seen.value(QStringLiteral("quickStatus")).toInt(), 200) << shown.constData();
    EXPECT_LT(seen.value(QStringLiteral("quickDoneMs")).toInt(), seen.value(QStringLiteral("steadyDoneMs")).toInt())
        << shown.constData();
    EXPECT_EQ(seen.value(QStringLiteral("largeStatuses")).toArray(), (QJsonArray{-1, -1})) << "still coming, never refused";
}

// The quick page is answered before any of the endless ones ends (each after 5 s of processor
// time): it does not wait for a process of theirs. It was made to wait on a busy machine, where
// its first request took longer than a quick one by the clock.
TEST_F(KRLocalServerUnderLoad, endlessPagesLeaveAQuickPageItsAnswer)
{
    // Two rounds of endless pages, each of 5 s of processor time: many more by the clock on a
    // busy machine.
    const QJsonObject seen = run(QStringLiteral("endlessPages"), 300000);
    const QByteArray shown = QJsonDocument(seen).toJson();
    EXPECT_EQ(seen.value(QStringLiteral("pageStatus")).toInt(), 200) << shown.constData();
    const QJsonArray loops = seen.value(QStringLiteral("loopsDoneMs")).toArray();
    EXPECT_EQ(loops.size(), 8);
    for (const QJsonValue done : loops)
        EXPECT_LT(seen.value(QStringLiteral("pageDoneMs")).toInt(), done.toInt()) << shown.constData();
    for (const QJsonValue status : seen.value(QStringLiteral("loopStatuses")).toArray())
        EXPECT_TRUE(status.toInt() == 500 || status.toInt() == 503) << status.toInt();
}

TEST_F(KRLocalServerUnderLoad, aBurstOfRequestsForOnePageIsAnswered)
{
    const QJsonObject seen = run(QStringLiteral("burst"));
    EXPECT_EQ(seen.value(QStringLiteral("answered")).toInt(), 64) << QJsonDocument(seen).toJson().constData();
}

TEST_F(KRLocalServerUnderLoad, idleScriptProcessesLetTheStoredItemsGo)
{
    const QJsonObject seen = run(QStringLiteral("fullStoreThenIdle"));
    const QJsonObject afterBurst = seen.value(QStringLiteral("afterBurst")).toObject();
    const QJsonObject later = seen.value(QStringLiteral("later")).toObject();
    // Several processes served the burst, each sent the whole store; one stays ready.
    EXPECT_GT(afterBurst.value(QStringLiteral("count")).toInt(), 1);
    EXPECT_LE(later.value(QStringLiteral("count")).toInt(), 1) << QJsonDocument(seen).toJson().constData();
    EXPECT_LT(seen.value(QStringLiteral("laterMs")).toInt(), 25000);
    EXPECT_EQ(seen.value(QStringLiteral("pageStatus")).toInt(), 200);
}

} // namespace

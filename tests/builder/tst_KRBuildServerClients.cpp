// The syntax-check and minifier clients and the runner's terminate request against the real
// local runtime server (node), all through the HTTP client; a build minified through it.

#include "KRBuildTestProject.h"

#include <builder/KRProjectBuilder.h>
#include <builder/KRRuntimeServer.h>
#include <builder/KRScriptCache.h>
#include <builder/KRSyntaxChecker.h>
#include <builder/KRUglifyJavaScript.h>
#include <core/KRNodeRunner.h>
#include <model/KRObjectInfo.h>
#include <network/NetRuntimeServerSupport.h>

#include <KRTestSupport.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>

namespace {

// The process of the server serving `documentRoot` (its command line names the folder), or 0.
qint64 serverProcessFor(const QString &documentRoot)
{
    const QByteArray needle = QFile::encodeName(documentRoot);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.contains(needle) && arguments.size() > 1 && arguments[1].endsWith("kr-local-runtime.js"))
            return pid;
    }
    return 0;
}

bool processGone(qint64 pid)
{
    // Our own child may linger as a zombie until Qt reaps it; count that as gone.
    QFile status(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = status.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) == "Z";
}

struct StartedServer
{
    std::unique_ptr<KRNodeRunner> runner;
    QString documentRoot;
    qint64 port = -1;
    qint64 pid = 0;
};

StartedServer startServer()
{
    StartedServer server;
    server.documentRoot = QDir(KRTest::makeTempDir(QStringLiteral("root"))).canonicalPath();
    server.runner = std::make_unique<KRNodeRunner>();
    server.runner->setDocumentRootPath(server.documentRoot);
    server.runner->setRequestedPortNumber(0);
    server.runner->start();
    server.port = server.runner->portNumber();
    server.pid = serverProcessFor(server.documentRoot);
    return server;
}

QByteArray runNode(const QString &script)
{
    QProcess node;
    node.start(KRNodeRunner::nodeExecutablePath(), {QStringLiteral("-e"), script});
    if (!node.waitForFinished(20000))
        return {};
    return node.readAllStandardOutput();
}

// The text the function editor shows for a client function.
QString editorText(const QString &functionID, const QString &arguments, const QString &body)
{
    return QStringLiteral("// Client function: %1\nfunction %1(%2) {\n%3\n}").arg(functionID, arguments, body);
}

KRSyntaxCheckFunction function(const QString &functionID, const QString &arguments, const QString &body)
{
    return {QStringLiteral("page1"), functionID,
            QStringLiteral("application._pages.%1._events.%2 = function(%3) {\n%4\n};\n")
                .arg(QStringLiteral("page1"), functionID, arguments, body)};
}

class KRBuildServerClientsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::signal(SIGPIPE, SIG_IGN);
        NetRuntimeServerSupport::install();
        s_server = new StartedServer(startServer());
    }
    static void TearDownTestSuite()
    {
        s_server->runner->terminate();
        delete s_server;
        s_server = nullptr;
        KRNodeRunner::endAllServers();
        KRNodeRunner::setTerminateRequestSender({});
    }
    void SetUp() override
    {
        ASSERT_FALSE(KRNodeRunner::nodeExecutablePath().isEmpty()) << "node is needed";
        ASSERT_GT(s_server->port, 0) << "the local runtime server did not start";
        m_alerts = std::make_shared<KRScriptedAlertService>();
        m_previousAlerts = KRAlertService::setCurrent(m_alerts);
    }
    void TearDown() override { KRAlertService::setCurrent(m_previousAlerts); }

    static KRSyntaxChecker::PortProvider port()
    {
        return [] { return s_server->port; };
    }

    static StartedServer *s_server;
    std::shared_ptr<KRScriptedAlertService> m_alerts;
    std::shared_ptr<KRAlertService> m_previousAlerts;
};

StartedServer *KRBuildServerClientsTest::s_server = nullptr;

TEST_F(KRBuildServerClientsTest, findingsCarryTheEditorsLineNumbersAndHonourTheOptions)
{
    const QString body = QStringLiteral("var total = 0\n"
                                        "if (event.which == 2) total = 1;\n"
                                        "    var label = 'x' + total;\n"
                                        "total++;");
    const QList<KRSyntaxCheckFunction> functions{function(QStringLiteral("onClick"), QStringLiteral("event"), body)};

    KRSyntaxChecker checker(port());
    KRSyntaxCheckOptions lenient;
    lenient.curly = false;
    checker.setOptions(lenient);
    const KRSyntaxCheckRun lenientRun = checker.checkFunctions(functions);
    ASSERT_EQ(lenientRun.outcome, KRSyntaxCheckRun::Outcome::ErrorsFound);
    const QVariantList lenientFindings = *lenientRun.functions.first().errors;

    KRSyntaxCheckOptions strict;
    strict.eqeqeq = true;
    strict.curly = true;
    strict.plusplus = true;
    checker.setOptions(strict);
    const KRSyntaxCheckRun strictRun = checker.checkFunctions(functions);
    ASSERT_EQ(strictRun.outcome, KRSyntaxCheckRun::Outcome::ErrorsFound);
    const QVariantList strictFindings = *strictRun.functions.first().errors;

    const QStringList editorLines = editorText(QStringLiteral("onClick"), QStringLiteral("event"), body).split('\n');
    auto linesOf = [&](const QVariantList &findings) {
        QMap<int, QStringList> byLine;
        for (const QVariant &finding : findings) {
            const QVariantMap record = finding.toMap();
            const int line = record.value("line").toInt();
            EXPECT_TRUE(record.contains("character") && record.contains("reason")) << line;
            // The offending text stands on that line of the editor.
            EXPECT_GE(line, 3);
            EXPECT_LE(line, editorLines.size());
            if (line >= 1 && line <= editorLines.size() && record.contains("evidence")) {
                EXPECT_EQ(editorLines[line - 1], record.value("evidence").toString()) << line;
            }
            byLine[line].append(record.value("reason").toString());
        }
        return byLine;
    };
    const QMap<int, QStringList> lenientLines = linesOf(lenientFindings);
    const QMap<int, QStringList> strictLines = linesOf(strictFindings);

    // The missing semicolon of the body's first line is on the editor's line 3.
    ASSERT_TRUE(lenientLines.contains(3));
    EXPECT_TRUE(lenientLines[3].join(' ').contains(QStringLiteral("semicolon"), Qt::CaseInsensitive));
    // The option keys reach the linter: "==", the missing braces and "++" only when asked for.
    EXPECT_FALSE(lenientLines.contains(4));
    EXPECT_FALSE(lenientLines.contains(6));
    ASSERT_TRUE(strictLines.contains(4));
    EXPECT_TRUE(strictLines[4].join(' ').contains(QStringLiteral("===")));
    EXPECT_TRUE(strictLines[4].join(' ').contains(QStringLiteral("{")));
    ASSERT_TRUE(strictLines.contains(6));
    EXPECT_TRUE(strictLines[6].join(' ').contains(QStringLiteral("++")));
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
}

TEST_F(KRBuildServerClientsTest, columnsCountTabsAsOneCharacter)
{
    const QString body = QStringLiteral("if (event) {\n\t\tvar a = 1\n}");
    KRSyntaxChecker checker(port());
    checker.setOptions({});
    const KRSyntaxCheckRun run =
        checker.checkFunctions({function(QStringLiteral("onTap"), QStringLiteral("event"), body)});
    ASSERT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::ErrorsFound);
    const QVariantMap finding = run.functions.first().errors->first().toMap();
    const QStringList editorLines = editorText(QStringLiteral("onTap"), QStringLiteral("event"), body).split('\n');
    const int line = finding.value("line").toInt();
    ASSERT_EQ(line, 4);
    // The editor puts the insertion point at line start + character - 1: just after "1".
    EXPECT_EQ(editorLines[line - 1].left(finding.value("character").toInt() - 1), QStringLiteral("\t\tvar a = 1"));
}

TEST_F(KRBuildServerClientsTest, cleanFunctionsHaveNoFindings)
{
    KRSyntaxChecker checker(port());
    checker.setOptions({});
    const KRSyntaxCheckRun run = checker.checkFunctions(
        {function(QStringLiteral("onLoad"), QString(), QStringLiteral("var a = 1;\nreturn a;")),
         function(QStringLiteral("onTap"), QStringLiteral("event"), QStringLiteral("// Your code here"))});
    EXPECT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::NoErrors);
    ASSERT_EQ(run.functions.size(), 2);
    for (const KRSyntaxCheckFunctionResult &result : run.functions) {
        ASSERT_TRUE(result.errors.has_value());
        EXPECT_TRUE(result.errors->isEmpty()) << result.functionID.toStdString();
    }
}

TEST_F(KRBuildServerClientsTest, minifiedScriptStillRuns)
{
    const QString script = QStringLiteral(
        "function addAll(values) {\n"
        "    var runningTotal = 0;\n"
        "    for (var index = 0; index < values.length; index += 1) {\n"
        "        runningTotal += values[index]; // add up\n"
        "    }\n"
        "    return runningTotal;\n"
        "}\n"
        "console.log('sum=' + addAll([1, 2, 3, 4]) + ' \\u00e9');\n");
    const KRResult<QString> minified = KRUglifyJavaScript(port()).uglifyJavaScript(script);
    ASSERT_TRUE(minified.ok()) << minified.error().message().toStdString();
    EXPECT_FALSE(minified->isEmpty());
    EXPECT_LT(minified->size(), script.size());
    EXPECT_FALSE(minified->contains(QStringLiteral("runningTotal")) && minified->contains(QStringLiteral("// add up")));
    EXPECT_EQ(runNode(script), runNode(*minified));
    EXPECT_EQ(runNode(*minified), QStringLiteral("sum=10 \u00e9\n").toUtf8());

    // A script the minifier cannot parse is a failure, not an empty script.
    const KRResult<QString> broken = KRUglifyJavaScript(port()).uglifyJavaScript(QStringLiteral("function ( {"));
    EXPECT_FALSE(broken.ok());
}

// A minified build writes its script in the language of an unminified one: no arrow
// functions, let or const where the unminified script has none.
TEST_F(KRBuildServerClientsTest, aMinifiedBuildKeepsTheScriptsLanguageLevel)
{
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    const QString previousResources = KRResources::resourcesDirectory();
    KRResources::setResourcesDirectory(KRBuildTest::makeResourcesFolder());
    const QString package = KRTest::makeTempDir(QStringLiteral("package"));
    auto project = std::make_shared<KRBuildTestProject>(package, KRBuildTest::sampleProjectXML());
    KRBuildTest::populateSampleProject(*project);
    const QString scriptPath = project->webFolderPath() + QStringLiteral("/KR-user-scripts.js");
    const auto buildScript = [&](bool minimize) {
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), minimize);
        KRProjectBuilder builder(project);
        builder.setDeviceInformationJSON(deviceMap);
        builder.setMinifier([](const QString &script) { return KRUglifyJavaScript(port()).uglifyJavaScript(script); });
        const KRResult<QString> built = builder.build();
        EXPECT_TRUE(built.ok()) << (built.ok() ? std::string() : built.error().toString().toStdString());
        return QString::fromUtf8(KRTest::readFile(scriptPath));
    };
    const QString plain = buildScript(false);
    const QString minified = buildScript(true);
    // As the Build command minifies: piece by piece through the cache.
    KRScriptCache cache;
    KRProjectBuilder builder(project);
    builder.setDeviceInformationJSON(deviceMap);
    builder.setScriptCache(&cache);
    builder.setServerPort(s_server->port);
    const KRResult<QString> built = builder.build();
    EXPECT_TRUE(built.ok()) << (built.ok() ? std::string() : built.error().toString().toStdString());
    const QString byPieces = QString::fromUtf8(KRTest::readFile(scriptPath));
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSMinimize"));
    KRResources::setResourcesDirectory(previousResources);

    ASSERT_TRUE(plain.contains(QStringLiteral("function(window)")));
    ASSERT_LT(minified.size(), plain.size()) << "the script was not minified";
    ASSERT_LT(byPieces.size(), plain.size()) << "the script was not minified piece by piece";
    ASSERT_TRUE(byPieces.startsWith(QStringLiteral("(function(window){"))) << byPieces.left(300).toStdString();
    for (const char *pattern : {"=>", "\\blet\\b", "\\bconst\\b"}) {
        const QRegularExpression syntax(QString::fromLatin1(pattern));
        EXPECT_FALSE(plain.contains(syntax)) << pattern;
        EXPECT_FALSE(minified.contains(syntax)) << pattern << " in " << minified.left(300).toStdString();
        EXPECT_FALSE(byPieces.contains(syntax)) << pattern << " in " << byPieces.left(300).toStdString();
    }
    QProcess node;
    node.start(KRNodeRunner::nodeExecutablePath(), {QStringLiteral("--check"), scriptPath});
    ASSERT_TRUE(node.waitForFinished(20000));
    EXPECT_EQ(node.exitCode(), 0) << node.readAllStandardError().toStdString();
}

// The Build command asks about many functions per request: each is answered as when it is
// sent alone (the same findings, lines and columns), in its own place, over several requests.
TEST_F(KRBuildServerClientsTest, aCheckOfManyFunctionsAnswersEachAsWhenSentAlone)
{
    QList<KRSyntaxCheckFunction> functions;
    for (int i = 0; i < 3 * KRSyntaxChecker::functionsPerRequest + 7; ++i) {
        QString body = QStringLiteral("var value = %1;\nreturn value;").arg(i);
        if (i % 9 == 4)
            body = QStringLiteral("var value = %1\n\tif (event == value) value = 2;\nreturn value;").arg(i);
        else if (i % 13 == 6)
            body = QString(i % 3, QLatin1Char('\n')) + QStringLiteral("var broken = (;");
        functions.append(function(QStringLiteral("f%1").arg(i), QStringLiteral("event"), body));
    }
    KRSyntaxCheckOptions options;
    options.eqeqeq = true;
    KRSyntaxChecker alone(port());
    alone.setOptions(options);
    const KRSyntaxCheckRun expected = alone.checkFunctions(functions);

    KRScriptCache cache;
    KRSyntaxChecker batched(port());
    batched.setOptions(options);
    batched.setCache(&cache);
    batched.setShowsAlerts(false);
    int lastDone = 0;
    batched.setProgress([&](int done, int total) {
        EXPECT_EQ(total, functions.size());
        lastDone = std::max(lastDone, done);
    });
    const KRSyntaxCheckRun run = batched.checkFunctions(functions);
    EXPECT_EQ(lastDone, functions.size());
    ASSERT_EQ(run.outcome, KRSyntaxCheckRun::Outcome::ErrorsFound);
    ASSERT_EQ(run.functions.size(), functions.size());
    int withFindings = 0;
    for (qsizetype i = 0; i < functions.size(); ++i) {
        ASSERT_TRUE(run.functions[i].errors.has_value()) << i;
        ASSERT_TRUE(expected.functions[i].errors.has_value()) << i;
        EXPECT_EQ(run.functions[i].functionID, functions[i].functionID);
        EXPECT_EQ(*run.functions[i].errors, *expected.functions[i].errors) << i;
        EXPECT_EQ(run.functions[i].errors->isEmpty(), i % 9 != 4 && i % 13 != 6) << i;
        withFindings += run.functions[i].errors->isEmpty() ? 0 : 1;
    }
    EXPECT_GT(withFindings, 20);
    EXPECT_TRUE(m_alerts->shownAlerts().isEmpty());
}

TEST_F(KRBuildServerClientsTest, theProcessWideProviderIsAsked)
{
    const KRRuntimeServer::PortProvider previous = KRRuntimeServer::setPortProvider(port());
    KRSyntaxChecker checker;
    checker.setOptions({});
    const std::optional<QVariantList> findings = checker.checkFunctionSyntax(QStringLiteral("//\nvar a = 1\n"));
    KRRuntimeServer::setPortProvider(previous);
    ASSERT_TRUE(findings.has_value());
    ASSERT_EQ(findings->size(), 1);
    EXPECT_EQ(findings->first().toMap().value("line").toInt(), 2);
}

TEST_F(KRBuildServerClientsTest, terminateRequestThroughTheHTTPClientEndsTheServer)
{
    StartedServer server = startServer();
    ASSERT_GT(server.port, 0);
    ASSERT_GT(server.pid, 0);
    ASSERT_FALSE(processGone(server.pid));
    server.runner->stop();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return processGone(server.pid); }));
}

TEST_F(KRBuildServerClientsTest, theServerEndsOnTheRequestItself)
{
    // Nobody ends the process after the request here: the server must leave by itself, so
    // the POST really reached it and the completion ran.
    StartedServer server = startServer();
    ASSERT_GT(server.pid, 0);
    int completions = 0;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/__kr_terminate").arg(server.port));
    // Without the server's token the request is refused.
    NetRuntimeServerSupport::sendTerminateRequest(url, "not-the-token", [&completions] { ++completions; });
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return completions == 1; }));
    EXPECT_FALSE(processGone(server.pid));
    NetRuntimeServerSupport::sendTerminateRequest(url, server.runner->token(), [&completions] { ++completions; });
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return completions == 2 && processGone(server.pid); }));
    server.runner->terminate();
}

TEST_F(KRBuildServerClientsTest, aFailedTerminateRequestStillCompletesAndEndsTheServer)
{
    // A dead port: the completion runs once, from the failed block.
    int completions = 0;
    NetRuntimeServerSupport::sendTerminateRequest(QUrl(QStringLiteral("http://127.0.0.1:1/__kr_terminate")), "token",
                                                  [&completions] { ++completions; });
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return completions > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(completions, 1);

    // A server whose reported port nobody listens on: stop() still ends its process.
    const QString resources = KRTest::makeTempDir(QStringLiteral("fake"));
    KRTest::writeFile(resources + QStringLiteral("/local-server/kr-local-runtime.js"),
                      "process.stdout.write('{\"port\": 1}\\n');\n"
                      "process.stdin.on('end', () => process.exit(0));\nprocess.stdin.resume();\n");
    const QString previousResources = KRResources::resourcesDirectory();
    KRResources::setResourcesDirectory(resources);
    KRNodeRunner runner;
    const QString root = QDir(KRTest::makeTempDir(QStringLiteral("deadroot"))).canonicalPath();
    runner.setDocumentRootPath(root);
    runner.start();
    const qint64 reported = runner.portNumber();
    KRResources::setResourcesDirectory(previousResources);
    ASSERT_EQ(reported, 1);
    const qint64 pid = serverProcessFor(root);
    ASSERT_GT(pid, 0);
    runner.stop();
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return processGone(pid); }));
}

} // namespace

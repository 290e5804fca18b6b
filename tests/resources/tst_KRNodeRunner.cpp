// The runner against a fake server: a node script that prints planned chunks of output, so
// the hand-shake rules, chunking, the environment and the process handling can be checked.

#include <core/KRNodeRunner.h>

#include "KRNodeTestSupport.h"

#include <KRTestSupport.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

using namespace KRNodeTest;

namespace {

// The fake reads its plan from the file named as its document root: chunks of output (Base64)
// written 300 ms apart, then optionally its process id and environment. It exits when its
// standard input closes, like the real server.
const char fakeServer[] = R"JS(
const fs = require('fs');
const plan = JSON.parse(fs.readFileSync(process.argv[2], 'utf8'));
process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
let i = 0;
function next() {
    if (i < plan.chunks.length) {
        process.stdout.write(Buffer.from(plan.chunks[i++], 'base64'));
        setTimeout(next, 300);
        return;
    }
    if (plan.report) {
        process.stdout.write('REPORT ' + JSON.stringify({pid: process.pid, env: process.env, argv: process.argv}) + '\n');
    }
}
next();
)JS";

class KRNodeRunnerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(KRNodeRunner::nodeExecutablePath().isEmpty()) << "node is needed";
        m_folder = KRTest::makeTempDir(QStringLiteral("fake"));
        KRTest::writeFile(m_folder + QStringLiteral("/resources/local-server/kr-local-runtime.js"), fakeServer);
        KRResources::setResourcesDirectory(m_folder + QStringLiteral("/resources"));
        KRNodeRunner::setTerminateRequestSender({});
    }

    void TearDown() override
    {
        for (auto &runner : m_runners) {
            if (!runner)
                continue;
            runner->setDelegate(nullptr);
            runner->terminate();
        }
        for (qint64 pid : m_pids) {
            if (processAlive(pid))
                ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        m_runners.clear();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        KRResources::setResourcesDirectory(QString());
        KRNodeRunner::setTerminateRequestSender({});
    }

    // A started runner whose fake prints the given chunks.
    KRNodeRunner *startFake(const QList<QByteArray> &chunks, bool report = false)
    {
        QJsonArray encoded;
        for (const QByteArray &chunk : chunks)
            encoded.append(QString::fromLatin1(chunk.toBase64()));
        const QString plan = m_folder + QStringLiteral("/plan-%1.json").arg(m_runners.size());
        KRTest::writeFile(plan, QJsonDocument(QJsonObject{{QStringLiteral("chunks"), encoded},
                                                          {QStringLiteral("report"), report}})
                                    .toJson());
        auto runner = std::make_unique<KRNodeRunner>();
        runner->setDocumentRootPath(plan);
        runner->setDelegate(&m_delegate);
        runner->start();
        m_runners.push_back(std::move(runner));
        return m_runners.back().get();
    }

    // The fake's report line, once it came.
    QJsonObject waitForReport()
    {
        QJsonObject report;
        KRTest::processEventsUntil([&] {
            const QString all = m_delegate.messages.join(QString());
            const qsizetype at = all.indexOf(QStringLiteral("REPORT "));
            const qsizetype end = all.indexOf(u'\n', at);
            if (at < 0 || end < 0)
                return false;
            report = QJsonDocument::fromJson(all.mid(at + 7, end - at - 7).toUtf8()).object();
            m_pids.append(report.value(QStringLiteral("pid")).toInteger());
            return true;
        });
        return report;
    }

    static int logCount(const QString &text)
    {
        KRRunLogger::sharedInstance().flush();
        return QString::fromUtf8(KRTest::readFile(KRRunLogger::sharedInstance().logURL())).count(text);
    }

    QString m_folder;
    RecordingDelegate m_delegate;
    std::vector<std::unique_ptr<KRNodeRunner>> m_runners;
    QList<qint64> m_pids;
};

TEST_F(KRNodeRunnerTest, handshakeGivesPortOneStartNoticeAndOneEmptyMessage)
{
    KRNodeRunner *runner = startFake({"{\"port\": 44071, \"token\": \"tok-123_A\"}\n"}, true);
    EXPECT_EQ(runner->portNumber(), 44071);
    EXPECT_EQ(runner->token(), "tok-123_A");
    EXPECT_EQ(KRNodeRunner::tokenForPort(44071), "tok-123_A");
    const QJsonObject report = waitForReport();
    ASSERT_FALSE(report.isEmpty());
    EXPECT_EQ(m_delegate.ports, QList<qint64>{44071});
    EXPECT_EQ(m_delegate.messages.value(0), QString());

    // The environment is exactly the two variables, the database folder exists, and the
    // arguments are script, document root and the requested port.
    const QJsonObject env = report.value(QStringLiteral("env")).toObject();
    EXPECT_EQ(env.keys(), (QStringList{QStringLiteral("KR_DBDIR"), QStringLiteral("NODE_PATH")}));
    const QString databases = env.value(QStringLiteral("KR_DBDIR")).toString();
    EXPECT_EQ(databases, KRPaths::applicationSupportDirectory() + QStringLiteral("/Local Databases"));
    EXPECT_TRUE(QFileInfo(databases).isDir());
    EXPECT_EQ(env.value(QStringLiteral("NODE_PATH")).toString(),
              KRNodeRunner::localServerPath() + QStringLiteral("/node_modules"));
    const QJsonArray argv = report.value(QStringLiteral("argv")).toArray();
    ASSERT_EQ(argv.size(), 4);
    EXPECT_TRUE(QFileInfo(argv[0].toString()).isAbsolute());
    EXPECT_EQ(argv[1].toString(), KRNodeRunner::localServerPath() + QStringLiteral("/kr-local-runtime.js"));
    EXPECT_EQ(argv[3].toString(), QStringLiteral("42069"));
    runner->terminate();
    EXPECT_TRUE(KRNodeRunner::tokenForPort(44071).isEmpty());
}

TEST_F(KRNodeRunnerTest, handshakeSplitOverChunksCompletesWithTheClosingBrace)
{
    KRNodeRunner *runner = startFake({"{\"po", "rt\": 44071}\n"});
    EXPECT_EQ(runner->portNumber(), 44071);
    EXPECT_EQ(m_delegate.ports, QList<qint64>{44071});
    EXPECT_EQ(m_delegate.messages, (QStringList{QStringLiteral("{\"po"), QString()}));
}

TEST_F(KRNodeRunnerTest, textAfterTheHandshakeAndSplitCharactersAreForwarded)
{
    // "é" is C3 A9; the chunk boundary falls between its two bytes.
    KRNodeRunner *runner = startFake({"{\"port\": 44072}\nready caf\xC3", "\xA9 ok\n"});
    EXPECT_EQ(runner->portNumber(), 44072);
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return m_delegate.messages.size() >= 2; }));
    EXPECT_EQ(m_delegate.messages.value(0), QStringLiteral("ready caf"));
    EXPECT_EQ(m_delegate.messages.join(QString()), QStringLiteral("ready caf\u00e9 ok\n"));
    EXPECT_FALSE(m_delegate.messages.join(QString()).contains(QChar::ReplacementCharacter));
}

TEST_F(KRNodeRunnerTest, malformedHandshakesLeaveTheServerUnavailable)
{
    const QString error = QStringLiteral("Error reading port number from local server");
    const int before = logCount(error);
    const int beforeText = logCount(QStringLiteral("unexpected text before the port object"));
    const QList<KRNodeRunner *> runners{
        startFake({"starting {\"port\": 44073}\n"}),
        startFake({"{\"server\": {\"port\": 44074}}\n"}),
        startFake({"{\"listening\": 44075}\n"}),
        startFake({"{port: 44076}\n"}),
        // Text without any object is refused as soon as it comes.
        startFake({"starting up\n"}),
        // A token that could not travel in a header.
        startFake({"{\"port\": 44084, \"token\": \"a b\\r\\nX: y\"}\n"}),
    };
    // Each is refused once its handshake has been read, however long a busy machine takes to
    // start node (the application's own wait for a port may end before that).
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return logCount(error) >= before + 6; }, std::chrono::seconds(60)));
    for (KRNodeRunner *runner : runners)
        EXPECT_EQ(runner->portNumber(), -1);
    EXPECT_TRUE(m_delegate.ports.isEmpty());
    EXPECT_EQ(logCount(error), before + 6);
    EXPECT_EQ(logCount(QStringLiteral("unexpected text before the port object")), beforeText + 2);
    // The text still reaches the log view.
    EXPECT_TRUE(m_delegate.messages.join(QString()).contains(QStringLiteral("starting")));
}

TEST_F(KRNodeRunnerTest, portNumberWaitsForALateHandshake)
{
    KRNodeRunner *runner = startFake({"", "", "", "{\"port\": 44077}"});
    EXPECT_EQ(runner->portNumber(), 44077);
}

TEST_F(KRNodeRunnerTest, silentServerGivesNoPortAndHoldsTheCallersUpOnce)
{
    KRNodeRunner *runner = startFake({});
    EXPECT_EQ(runner->portNumber(), -1);
    EXPECT_TRUE(m_delegate.ports.isEmpty());
    // Every page asks for the port several times: the queries share the one wait.
    QElapsedTimer again;
    again.start();
    EXPECT_EQ(runner->portNumber(), -1);
    EXPECT_LT(again.elapsed(), 1500) << "a second wait for the same silent server";
}

TEST_F(KRNodeRunnerTest, stopBeforeTheHandshakeEndsTheProcessAtOnce)
{
    QList<QUrl> sent;
    installSocketTerminateSender(&sent);
    KRNodeRunner *runner = startFake({}, true);
    const qint64 pid = waitForReport().value(QStringLiteral("pid")).toInteger();
    ASSERT_TRUE(processAlive(pid));
    runner->stop();
    EXPECT_TRUE(waitForProcessExit(pid));
    EXPECT_TRUE(sent.isEmpty());
}

TEST_F(KRNodeRunnerTest, stopAfterTheHandshakeEndsTheProcessEvenWhenTheRequestFails)
{
    // Nothing listens on the fake's port, so the terminate request fails.
    QList<QUrl> sent;
    installSocketTerminateSender(&sent);
    KRNodeRunner *runner = startFake({"{\"port\": 1}\n"}, true);
    const qint64 pid = waitForReport().value(QStringLiteral("pid")).toInteger();
    ASSERT_EQ(runner->portNumber(), 1);
    const int completed = completedTerminateRequests();
    runner->stop();
    EXPECT_EQ(runner->portNumber(), 1);
    EXPECT_TRUE(waitForProcessExit(pid));
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return completedTerminateRequests() > completed; }));
    EXPECT_EQ(sent, QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:1/__kr_terminate"))});
}

TEST_F(KRNodeRunnerTest, terminateForgetsThePortAndEndsTheProcess)
{
    KRNodeRunner *runner = startFake({"{\"port\": 44078}\n"}, true);
    const qint64 pid = waitForReport().value(QStringLiteral("pid")).toInteger();
    ASSERT_EQ(runner->portNumber(), 44078);
    runner->terminate();
    EXPECT_EQ(runner->portNumber(), -1);
    EXPECT_TRUE(waitForProcessExit(pid));
}

TEST_F(KRNodeRunnerTest, serversStillRunningAreEndedAtExitAndWithTheirRunner)
{
    // A terminate request that never completes must not leave the server behind. Its
    // completion is held, never called: dropped, it would close the server's input, and the
    // server would end on its own, before or after the checks below.
    auto pending = std::make_shared<std::vector<std::function<void()>>>();
    KRNodeRunner::setTerminateRequestSender([pending](const QUrl &, const QByteArray &, std::function<void()> done) {
        pending->push_back(std::move(done));
    });
    KRNodeRunner *stopped = startFake({"{\"port\": 44079}\n"}, true);
    const qint64 stoppedPid = waitForReport().value(QStringLiteral("pid")).toInteger();
    ASSERT_EQ(stopped->portNumber(), 44079);
    m_delegate.messages.clear();
    startFake({"{\"port\": 44080}\n"}, true);
    const qint64 runningPid = waitForReport().value(QStringLiteral("pid")).toInteger();
    stopped->stop();
    ASSERT_TRUE(processAlive(stoppedPid));
    ASSERT_TRUE(processAlive(runningPid));
    KRNodeRunner::endAllServers();
    EXPECT_FALSE(processAlive(stoppedPid));
    EXPECT_FALSE(processAlive(runningPid));

    m_delegate.messages.clear();
    startFake({"{\"port\": 44081}\n"}, true);
    const qint64 ownedPid = waitForReport().value(QStringLiteral("pid")).toInteger();
    m_runners.back().reset();
    EXPECT_TRUE(waitForProcessExit(ownedPid));
}

TEST_F(KRNodeRunnerTest, aServerKilledFromOutsideIsLoggedAndStartedAgain)
{
    const int before = logCount(QStringLiteral("node watchdog failure"));
    const int restartsBefore = logCount(QStringLiteral("starting it again"));
    KRNodeRunner *runner = startFake({"{\"port\": 44082, \"token\": \"first\"}\n"}, true);
    const qint64 pid = waitForReport().value(QStringLiteral("pid")).toInteger();
    ASSERT_EQ(runner->portNumber(), 44082);
    m_delegate.messages.clear();
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    const qint64 second = waitForReport().value(QStringLiteral("pid")).toInteger();
    EXPECT_GT(second, 0);
    EXPECT_NE(second, pid);
    // The new server asked for the port it had, and the port reaches whoever asks the runner.
    EXPECT_EQ(runner->portNumber(), 44082);
    EXPECT_EQ(m_delegate.ports, (QList<qint64>{44082, 44082}));
    // The keep-alive has ended with the old process: a few more beats add nothing.
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(2500));
    EXPECT_EQ(logCount(QStringLiteral("node watchdog failure")), before + 1);
    EXPECT_EQ(logCount(QStringLiteral("starting it again")), restartsBefore + 1);
    EXPECT_TRUE(processAlive(second));

    // A server that keeps dying is given up.
    qint64 current = second;
    for (int i = 1; i < KRNodeRunner::maximumRestarts; ++i) {
        m_delegate.messages.clear();
        ::kill(static_cast<pid_t>(current), SIGKILL);
        current = waitForReport().value(QStringLiteral("pid")).toInteger();
        ASSERT_GT(current, 0);
    }
    m_delegate.messages.clear();
    ::kill(static_cast<pid_t>(current), SIGKILL);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return logCount(QStringLiteral("is not started again")) > 0; }));
    EXPECT_EQ(runner->portNumber(), -1);
    EXPECT_FALSE(m_delegate.messages.join(QString()).contains(QStringLiteral("REPORT")));
}

TEST_F(KRNodeRunnerTest, uncreatableDatabaseFolderLeavesTheServerUnavailable)
{
    const QString databases = KRPaths::applicationSupportDirectory() + QStringLiteral("/Local Databases");
    QDir(databases).removeRecursively();
    KRTest::writeFile(databases, "not a folder");
    QStringList alerts;
    KRNodeRunner::setLaunchFailureAlert([&](const QString &message) { alerts.append(message); });
    KRNodeRunner *runner = startFake({"{\"port\": 44083}\n"});
    EXPECT_EQ(runner->portNumber(), -1);
    EXPECT_EQ(alerts, QStringList{QStringLiteral("Path %1 exists, but is not a directory").arg(databases)});
    EXPECT_GT(logCount(QStringLiteral("exists, but is not a directory")), 0);
    KRNodeRunner::setLaunchFailureAlert({});
    QFile::remove(databases);
}

} // namespace

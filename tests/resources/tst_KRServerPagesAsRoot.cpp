// Server page scripts of a server run by root: they never run as root, whichever of the
// system's programs are missing.

#include <core/KRNodeRunner.h>

#include "KRNodeTestSupport.h"

#include <KRTestSupport.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace KRNodeTest;

namespace {

// A script, run before the server's own, that hides the named programs from its look-up of the
// system's programs, as on a system that lacks them.
QString hidingScript(const QStringList &programs)
{
    const QString path = KRTest::makeTempDir(QStringLiteral("hide")) + QStringLiteral("/hide.js");
    KRTest::writeFile(path, "const fs = require('fs');\nconst real = fs.existsSync;\nconst hidden = "
                                + QJsonDocument(QJsonArray::fromStringList(programs)).toJson(QJsonDocument::Compact)
                                + ";\nfs.existsSync = (p) => hidden.some((name) => String(p).endsWith('/' + name)) ? false : real(p);\n");
    return path;
}

QByteArray jsString(const QString &text)
{
    return QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact).mid(1).chopped(1);
}

// Where the user cannot be changed (no setpriv, or the system refuses the change), no script
// runs: the server page answers 500 with the reason, every time, and the run log says it once;
// no script process is started. Where only nsenter is missing (no view), the scripts run as the
// unprivileged user through setpriv. Before, each ran as uid 0 through unshare alone.
TEST(KRServerPagesAsRoot, aScriptNeverRunsAsRootAndThePageSaysWhyWhenTheUserCannotChange)
{
    if (getuid() != 0)
        GTEST_SKIP() << "only a server run by root changes its scripts' user";
    const QString site = KRTest::makeTempDir(QStringLiteral("site"));
    KRTest::writeFile(site + QStringLiteral("/who.krml"),
                      "<krml><html><![CDATA[<p>ran</p>]]></html><events><event id=\"onGET\"><![CDATA["
                      "response.setFormValue('x', 1);]]></event></events></krml>\n");
    QProcess server;
    server.setProgram(KRNodeRunner::nodeExecutablePath());
    server.setArguments({QStringLiteral("--require"), hidingScript({QStringLiteral("nsenter"), QStringLiteral("setpriv")}),
                         KRNodeRunner::localServerPath() + QStringLiteral("/kr-local-runtime.js"), site, QStringLiteral("0")});
    server.start();
    server.write("alive\n");
    for (int i = 0; i < 40 && !server.canReadLine(); ++i)
        server.waitForReadyRead(250);
    const qint64 port = QJsonDocument::fromJson(server.readLine()).object().value(QStringLiteral("port")).toInteger(-1);
    ASSERT_GT(port, 0);
    for (int i = 0; i < 2; ++i) {
        server.write("alive\n");
        const Response answer = request(port, "GET", "/who.krml");
        EXPECT_EQ(answer.status, 500) << answer.body.constData();
        EXPECT_TRUE(answer.body.contains("Server pages do not run")) << answer.body.constData();
        EXPECT_TRUE(answer.body.contains("no setpriv program")) << answer.body.constData();
        EXPECT_FALSE(answer.headers.contains("retry-after"));
    }
    const QString children = QString::fromLatin1(
        KRTest::readFile(QStringLiteral("/proc/%1/task/%1/children").arg(server.processId())).trimmed());
    EXPECT_TRUE(children.isEmpty()) << "script processes were started: " << children.toStdString();
    server.closeWriteChannel(); // the server ends with its input
    EXPECT_TRUE(server.waitForFinished(5000));
    const QByteArray log = server.readAllStandardOutput();
    EXPECT_EQ(log.count("Server pages do not run"), 1) << log.constData();

    // Without nsenter, setpriv makes them the unprivileged user; where the system refuses that
    // change, nothing runs, and the reason is the refusing program's.
    const QByteArray script = "require(" + jsString(hidingScript({QStringLiteral("nsenter")})) + R"JS();
const childProcess = require('child_process');
const realSpawnSync = childProcess.spawnSync;
let userRefused = false;
childProcess.spawnSync = (file, args, options) => userRefused && args.includes('--reuid=65534')
    ? { status: 1, stderr: Buffer.from('setpriv: setresuid failed: Operation not permitted\n') }
    : realSpawnSync(file, args, options);
const scripts = require()JS" + jsString(KRNodeRunner::localServerPath() + QStringLiteral("/kr-server-page-scripts.js"))
        + R"JS();
const seen = {};
const walls = new scripts.ScriptWalls(process.cwd(), (line) => { seen.notes = (seen.notes || []).concat([line]); }, () => {
    const ran = realSpawnSync(walls.words[0], walls.words.slice(1).concat([process.execPath, '-e', 'console.log(process.getuid())']));
    seen.uid = Number(String(ran.stdout).trim());
    walls.end();
    userRefused = true;
    const lines = [];
    const pages = new scripts.ServerPageScripts({ sandboxSource: 'process.stdin.resume();', cwd: process.cwd(),
                                                  store: { loaded: false, items: new Map() }, log: (line) => lines.push(line) });
    const ticket = pages.admit('/page.krml', '1', 'page.krml', false);
    pages.run(ticket, {}, Buffer.alloc(0)).then(() => { seen.ran = true; }, (refusal) => {
        seen.refused = { status: refusal.status, message: refusal.message };
    }).then(() => {
        pages.release(ticket);
        seen.lines = lines;
        seen.processes = pages.live.size;
        pages.endAll();
        console.log(JSON.stringify(seen));
        process.exit(0);
    });
});
walls.make();
)JS";
    const QJsonObject seen = QJsonDocument::fromJson(runNode(script)).object();
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.value(QStringLiteral("uid")).toInt(), 65534) << QJsonDocument(seen).toJson().constData();
    const QJsonArray notes = seen.value(QStringLiteral("notes")).toArray();
    ASSERT_EQ(notes.size(), 1) << QJsonDocument(seen).toJson().constData();
    EXPECT_TRUE(notes.at(0).toString().contains(QStringLiteral("no nsenter program")));
    EXPECT_TRUE(notes.at(0).toString().contains(QStringLiteral("unprivileged user")));
    EXPECT_FALSE(seen.value(QStringLiteral("ran")).toBool());
    const QJsonObject refused = seen.value(QStringLiteral("refused")).toObject();
    EXPECT_EQ(refused.value(QStringLiteral("status")).toInt(), 500);
    EXPECT_TRUE(refused.value(QStringLiteral("message")).toString().contains(QStringLiteral("setresuid failed")))
        << QJsonDocument(seen).toJson().constData();
    EXPECT_EQ(seen.value(QStringLiteral("lines")).toArray().size(), 1) << QJsonDocument(seen).toJson().constData();
    EXPECT_EQ(seen.value(QStringLiteral("processes")).toInt(), 0);
}

} // namespace

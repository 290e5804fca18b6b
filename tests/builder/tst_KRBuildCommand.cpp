// What the window's Build runs off the main thread, against the real local runtime server
// (node): a copy of the open project taken before the user goes on editing, the check and the
// minification through the cache by content, and a copy of an untitled project.

#include "KRBuildTestProject.h"

#include <builder/KRProjectBuilder.h>
#include <builder/KRProjectSyntaxCheck.h>
#include <builder/KRScriptCache.h>
#include <builder/KRSyntaxChecker.h>
#include <core/KRNodeRunner.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRWebFolder.h>
#include <network/NetRuntimeServerSupport.h>

#include <KRTestSupport.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <thread>

namespace {

class KRBuildCommandTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        std::signal(SIGPIPE, SIG_IGN);
        NetRuntimeServerSupport::install();
        s_runner = new KRNodeRunner();
        s_runner->setDocumentRootPath(QDir(KRTest::makeTempDir(QStringLiteral("root"))).canonicalPath());
        s_runner->setRequestedPortNumber(0);
        s_runner->start();
        s_port = s_runner->portNumber();
    }
    static void TearDownTestSuite()
    {
        s_runner->terminate();
        delete s_runner;
        s_runner = nullptr;
        KRNodeRunner::endAllServers();
    }
    void SetUp() override
    {
        ASSERT_FALSE(KRNodeRunner::nodeExecutablePath().isEmpty()) << "node is needed";
        ASSERT_GT(s_port, 0) << "the local runtime server did not start";
        KRBuildTest::registerOutputTestClasses();
        m_previousAlerts = KRAlertService::setCurrent(m_alerts);
        KRUserDefaults::sharedInstance().setValue(QStringLiteral("JSMinimize"), true);
    }
    void TearDown() override
    {
        KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSMinimize"));
        KRAlertService::setCurrent(m_previousAlerts);
    }

    // Builds a copy as the window does: made, built and released on a thread of its own.
    static KRResult<QString> buildCopy(const KRProject::Snapshot &snapshot, KRScriptCache &cache, qint64 port,
                                       QList<KRAlert> *alerts = nullptr)
    {
        KRResult<QString> result = KRError(QStringLiteral("test"), 1, QStringLiteral("not built"));
        std::thread thread([&] {
            KRResult<std::shared_ptr<KRProject>> copy = KRProject::fromSnapshot(snapshot);
            if (!copy) {
                result = copy.error();
                return;
            }
            KRProjectBuilder builder(copy.value());
            builder.setRunsInBackground(true);
            builder.setScriptCache(&cache);
            builder.setServerPort(port);
            result = builder.build();
            if (alerts)
                *alerts = builder.deferredAlerts();
        });
        thread.join();
        return result;
    }

    static QString nodeCheck(const QString &path)
    {
        QProcess node;
        node.start(KRNodeRunner::nodeExecutablePath(), {QStringLiteral("--check"), path});
        if (!node.waitForFinished(20000))
            return QStringLiteral("node did not finish");
        return node.exitCode() == 0 ? QString() : QString::fromUtf8(node.readAllStandardError());
    }

    static KRNodeRunner *s_runner;
    static qint64 s_port;
    std::shared_ptr<KRScriptedAlertService> m_alerts = std::make_shared<KRScriptedAlertService>();
    std::shared_ptr<KRAlertService> m_previousAlerts;
};

KRNodeRunner *KRBuildCommandTest::s_runner = nullptr;
qint64 KRBuildCommandTest::s_port = -1;

// The copy holds the project as it was when it was taken, whatever the user does next; its
// script is minified piece by piece into a script node accepts, and a rebuild of what did not
// change needs no server at all, while a changed function is sent again.
TEST_F(KRBuildCommandTest, aCopyBuildsTheProjectAsTakenAndARebuildMinifiesOnlyWhatChanged)
{
    const KRBuildTest::OpenedProject opened = KRBuildTest::openTestProject(KRBuildTest::outputProjectXML());
    ASSERT_TRUE(opened.project);
    const QString &package = opened.package;
    const std::shared_ptr<KRPage> page = opened.project->pageForID(QStringLiteral("page1"));
    ASSERT_TRUE(page);
    std::shared_ptr<KRFunction> clicked;
    for (const auto &object : page->allObjects()) {
        if (object->kr_id() == QLatin1String("clicked"))
            clicked = std::dynamic_pointer_cast<KRFunction>(object);
    }
    ASSERT_TRUE(clicked);

    const KRProject::Snapshot taken = opened.project->snapshot();
    clicked->setKr_source(QStringLiteral("return 'edited after the copy';"));

    KRScriptCache cache;
    const QString scriptPath = package + QStringLiteral("/kr-web/KR-user-scripts.js");
    const KRResult<QString> built = buildCopy(taken, cache, s_port);
    ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();
    const QString first = QString::fromUtf8(KRTest::readFile(scriptPath));
    EXPECT_FALSE(first.contains(QStringLiteral("edited after the copy"))) << "the copy saw a later edit";
    EXPECT_TRUE(first.startsWith(QStringLiteral("(function(window){"))) << first.left(200).toStdString();
    EXPECT_TRUE(first.contains(QStringLiteral("application._pages.page2"))) << first.toStdString();
    EXPECT_LT(first.count(QLatin1Char('\n')), 3) << "the script was not minified: " << first.left(300).toStdString();
    EXPECT_EQ(nodeCheck(scriptPath).toStdString(), "");
    EXPECT_TRUE(QFile::exists(package + QStringLiteral("/kr-web/page2.html")));
    EXPECT_EQ(m_alerts->shownAlerts().size(), 0) << "a build off the main thread showed an alert";

    // Nothing changed: the cache answers for every piece, with no server there.
    QList<KRAlert> alerts;
    ASSERT_TRUE(buildCopy(taken, cache, -1, &alerts).ok());
    EXPECT_EQ(QString::fromUtf8(KRTest::readFile(scriptPath)).toStdString(), first.toStdString());
    EXPECT_TRUE(alerts.isEmpty());

    // The edit is in the next copy; its page is sent again, and without a server the script
    // is written unminified (the user is told afterwards), never lost.
    const KRProject::Snapshot later = opened.project->snapshot();
    ASSERT_TRUE(buildCopy(later, cache, -1, &alerts).ok());
    const QString unminified = QString::fromUtf8(KRTest::readFile(scriptPath));
    EXPECT_TRUE(unminified.contains(QStringLiteral("edited after the copy")));
    EXPECT_TRUE(unminified.startsWith(QStringLiteral("(function(window) {\n")));
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts.first().messageText.toStdString(), "Unable to process JavaScript");
    ASSERT_TRUE(buildCopy(later, cache, s_port).ok());
    const QString second = QString::fromUtf8(KRTest::readFile(scriptPath));
    EXPECT_TRUE(second.contains(QStringLiteral("edited after the copy")));
    EXPECT_EQ(nodeCheck(scriptPath).toStdString(), "");
}

// What one run of the application checked and minified, the next run finds on disk: the first
// build after reopening the unchanged project needs no server at all and writes the same
// script. The application's cache keeps its answers in the caches folder.
TEST_F(KRBuildCommandTest, theNextRunBuildsWhatDidNotChangeWithoutAServer)
{
    EXPECT_EQ(KRScriptCache::sharedInstance().persistentFolder().toStdString(),
              (KRPaths::cachesDirectory() + QStringLiteral("/Scripts")).toStdString());
    const KRBuildTest::OpenedProject opened = KRBuildTest::openTestProject(KRBuildTest::outputProjectXML());
    ASSERT_TRUE(opened.project);
    const QList<KRSyntaxCheckFunction> functions = KRProjectSyntaxCheck::functionsToCheck(*opened.project);
    ASSERT_FALSE(functions.isEmpty());
    const QString folder = KRTest::makeTempDir(QStringLiteral("kept"));
    const QByteArray tools = KRScriptCache::toolsKey(KRNodeRunner::localServerPath());
    ASSERT_FALSE(tools.isEmpty());
    const QString scriptPath = opened.package + QStringLiteral("/kr-web/KR-user-scripts.js");
    const auto checkAndBuild = [&](KRScriptCache &cache, qint64 port, QList<KRAlert> *alerts) {
        KRSyntaxChecker checker([port] { return port; });
        checker.setOptions({});
        checker.setCache(&cache);
        checker.setShowsAlerts(false);
        const KRSyntaxCheckRun run = checker.checkFunctions(functions);
        EXPECT_TRUE(buildCopy(opened.project->snapshot(), cache, port, alerts).ok());
        return run;
    };

    QList<KRAlert> alerts;
    KRScriptCache firstRun;
    firstRun.setPersistentFolder(folder, tools);
    const KRSyntaxCheckRun checked = checkAndBuild(firstRun, s_port, &alerts);
    ASSERT_NE(checked.outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    const QString first = QString::fromUtf8(KRTest::readFile(scriptPath));
    ASSERT_TRUE(first.startsWith(QStringLiteral("(function(window){"))) << "minified";

    KRScriptCache nextRun;
    nextRun.setPersistentFolder(folder, tools);
    const KRSyntaxCheckRun again = checkAndBuild(nextRun, -1, &alerts);
    EXPECT_EQ(again.outcome, checked.outcome);
    ASSERT_EQ(again.functions.size(), checked.functions.size());
    for (qsizetype i = 0; i < checked.functions.size(); ++i)
        EXPECT_EQ(again.functions[i].errors, checked.functions[i].errors) << i;
    EXPECT_EQ(QString::fromUtf8(KRTest::readFile(scriptPath)).toStdString(), first.toStdString());
    EXPECT_TRUE(alerts.isEmpty()) << alerts.value(0).messageText.toStdString();

    // Other tools: nothing of it counts.
    KRScriptCache otherTools;
    otherTools.setPersistentFolder(folder, tools + "-next");
    EXPECT_EQ(checkAndBuild(otherTools, -1, &alerts).outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_EQ(m_alerts->shownAlerts().size(), 0);
}

// A check answered from the cache is the answer for that text under those options only.
TEST_F(KRBuildCommandTest, theCheckIsCachedByTextAndOptions)
{
    const QList<KRSyntaxCheckFunction> functions = {
        {QStringLiteral("page1"), QStringLiteral("clean"),
         QStringLiteral("application._pages.page1._events.clean = function(event) {\n\treturn 1;\n};\n")},
        {QStringLiteral("page1"), QStringLiteral("loose"),
         QStringLiteral("application._pages.page1._events.loose = function(event) {\n\tif (event == null) {\n\t\treturn;\n\t}\n};\n")},
    };
    KRScriptCache cache;
    qint64 port = s_port;
    KRSyntaxChecker checker([&port] { return port; });
    checker.setCache(&cache);
    checker.setShowsAlerts(false);
    KRSyntaxCheckOptions strict;
    strict.eqeqeq = true;
    checker.setOptions(strict);
    const KRSyntaxCheckRun run = checker.checkFunctions(functions);
    ASSERT_EQ(run.functions.size(), 2);
    ASSERT_TRUE(run.functions[0].errors && run.functions[1].errors);
    EXPECT_TRUE(run.functions[0].errors->isEmpty());
    EXPECT_FALSE(run.functions[1].errors->isEmpty()) << "eqeqeq found nothing in \"== null\"";
    EXPECT_TRUE(run.foundErrors());

    port = -1; // the server is gone: what was checked is answered from the cache
    const KRSyntaxCheckRun again = checker.checkFunctions(functions);
    ASSERT_TRUE(again.functions[1].errors);
    EXPECT_EQ(*again.functions[1].errors, *run.functions[1].errors);
    EXPECT_TRUE(again.foundErrors());

    checker.setOptions({}); // other options: not the same question
    const KRSyntaxCheckRun other = checker.checkFunctions(functions);
    EXPECT_FALSE(other.functions[1].errors);
    EXPECT_EQ(other.outcome, KRSyntaxCheckRun::Outcome::NotChecked);
    EXPECT_EQ(m_alerts->shownAlerts().size(), 0);
}

// The copy of an untitled project builds into the project's own temporary web folder, and
// that folder, with the user's files, stays when the copy goes.
TEST_F(KRBuildCommandTest, aCopyOfAnUntitledProjectUsesAndKeepsItsWebFolder)
{
    auto document = KRDocument::makeUntitled();
    if (!document.ok())
        GTEST_SKIP() << "no default project: " << document.error().toString().toStdString();
    auto project = KRProject::create(document.value(), true);
    ASSERT_TRUE(project.ok());
    const QString web = project.value()->webFolder()->krwebPath();
    ASSERT_FALSE(web.isEmpty());
    KRTest::writeFile(web + QStringLiteral("/mine.css"), "body { color: red; }\n");

    KRScriptCache cache;
    const KRResult<QString> built = buildCopy(project.value()->snapshot(), cache, s_port);
    ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();
    EXPECT_EQ(QFileInfo(built.value()).absolutePath().toStdString(), QFileInfo(web).absoluteFilePath().toStdString());
    EXPECT_TRUE(QFile::exists(web + QStringLiteral("/KR-user-scripts.js")));
    EXPECT_TRUE(QFile::exists(web + QStringLiteral("/mine.css"))) << "the copy took the user's file with it";
    EXPECT_EQ(project.value()->webFolder()->krwebPath().toStdString(), web.toStdString());
}

} // namespace

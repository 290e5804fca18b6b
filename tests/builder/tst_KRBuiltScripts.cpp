// node accepts every script a build writes or copies, for a normal, a single-page and an
// export build.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

class KRBuiltScriptsTest : public ::testing::TestWithParam<const char *>
{
};

TEST_P(KRBuiltScriptsTest, NodeAcceptsEveryScript)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed";
    // The catalogue's own device map, as a real build writes it (read before the resources
    // folder is swapped for the test's).
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    ASSERT_FALSE(deviceMap.isEmpty());
    const QString resources = KRBuildTest::makeResourcesFolder();
    KRResources::setResourcesDirectory(resources);
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSMinimize"));

    const QString package = KRTest::makeTempDir(QStringLiteral("package"));
    auto project = std::make_shared<KRBuildTestProject>(package, KRBuildTest::sampleProjectXML());
    KRBuildTest::populateSampleProject(*project);
    const QString mode = QString::fromLatin1(GetParam());
    if (mode == QLatin1String("single-page"))
        project->setSetting(QStringLiteral("singlePageDeploy"), QStringLiteral("true"));
    KRProjectBuilder builder(project);
    builder.setExportMode(mode == QLatin1String("export"));
    builder.setDeviceInformationJSON(deviceMap);
    auto built = builder.build();
    KRAlertService::setCurrent(previous);
    KRResources::setResourcesDirectory(QString());
    ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();

    int checked = 0;
    QDirIterator it(project->webFolderPath(), {QStringLiteral("*.js")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString script = it.next();
        QProcess process;
        process.start(node, {QStringLiteral("--check"), script});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << script.toStdString() << "\n"
                                         << process.readAllStandardError().toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 5); // the user script, the runtime, the plug-in and the library scripts
}

INSTANTIATE_TEST_SUITE_P(Builds, KRBuiltScriptsTest, ::testing::Values("normal", "single-page", "export"));

// Projects of the page-output classes, built with scripted alerts and checked with node.
class KRBuiltProjectScriptTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_node = QStandardPaths::findExecutable(QStringLiteral("node"));
        if (m_node.isEmpty())
            GTEST_SKIP() << "node is not installed";
        KRBuildTest::registerOutputTestClasses();
        m_previousAlerts = KRAlertService::setCurrent(std::make_shared<KRScriptedAlertService>());
    }
    void TearDown() override
    {
        if (!m_node.isEmpty()) // the alerts were swapped
            KRAlertService::setCurrent(m_previousAlerts);
    }

    QString m_node;

private:
    std::shared_ptr<KRAlertService> m_previousAlerts;
};

// The script of a project built from real pages: functions, initialisers with quoted text,
// a server page.
TEST_F(KRBuiltProjectScriptTest, NodeAcceptsTheUserScript)
{
    const KRBuildTest::OpenedProject opened = KRBuildTest::openTestProject(KRBuildTest::outputProjectXML());
    ASSERT_TRUE(opened.project);
    for (const bool exportMode : {false, true}) {
        KRProjectBuilder builder(opened.project);
        builder.setExportMode(exportMode);
        ASSERT_TRUE(builder.build().ok());
        QProcess process;
        process.start(m_node, {QStringLiteral("--check"), opened.webFolder() + QStringLiteral("/KR-user-scripts.js")});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
}

// A function of more parameters than a script engine takes would make the whole user script
// fail to load: a list read from the file and one set later both give way to the event's
// own, and the user is told which function.
TEST_F(KRBuiltProjectScriptTest, TooManyArgumentsNeverBreakTheScript)
{
    QStringList names;
    for (int i = 0; i <= KRFunction::MaximumArgumentCount; ++i)
        names.append(QStringLiteral("a%1").arg(i));
    const QString tooMany = names.join(QLatin1Char(','));
    QByteArray xml = KRBuildTest::outputProjectXML();
    const QByteArray clicked = "<KRFunction id=\"clicked\" arguments=\"event\">";
    ASSERT_TRUE(xml.contains(clicked));
    xml.replace(clicked, "<KRFunction id=\"clicked\" arguments=\"" + tooMany.toUtf8() + "\">");
    const KRBuildTest::OpenedProject opened = KRBuildTest::openTestProject(xml);
    ASSERT_TRUE(opened.project);
    const QString warnings = opened.project->loadWarnings().join(QLatin1Char('\n'));
    EXPECT_TRUE(warnings.contains(QStringLiteral("The function 'clicked' has too many arguments (65535, at most 65534)")))
        << warnings.left(300).toStdString();
    // One more than a function may take, set as the inspector does, and the most it may take.
    std::shared_ptr<KRFunction> loaded, clickedFunction;
    for (const auto &page : opened.project->krPages()) {
        if (auto function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(QStringLiteral("loaded"))))
            loaded = function;
        if (auto function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(QStringLiteral("clicked"))))
            clickedFunction = function;
    }
    ASSERT_TRUE(loaded && clickedFunction);
    EXPECT_EQ(clickedFunction->kr_arguments().left(40).toStdString(), "event");
    loaded->setKr_arguments(tooMany);
    clickedFunction->setKr_arguments(names.mid(1).join(QLatin1Char(',')));
    KRProjectBuilder builder(opened.project);
    ASSERT_TRUE(builder.build().ok());
    const QString scriptPath = opened.webFolder() + QStringLiteral("/KR-user-scripts.js");
    QProcess process;
    process.start(m_node, {QStringLiteral("--check"), scriptPath});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().left(300).toStdString();
    QFile file(scriptPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray script = file.readAll();
    EXPECT_TRUE(script.contains("._events.loaded = function(event) {"));
    EXPECT_TRUE(script.contains("._events.clicked = function(a1,a2,"));
    EXPECT_TRUE(script.contains(",a65534) {"));
}

} // namespace

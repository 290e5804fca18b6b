// node accepts every script a build writes or copies, for a normal, a single-page and an
// export build.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRDocument.h>
#include <model/KRObjectInfo.h>
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

// The script of a project built from real pages: functions, initialisers with quoted text,
// a server page.
TEST(KRBuiltProjectScriptTest, NodeAcceptsTheUserScript)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed";
    KRBuildTest::registerOutputTestClasses();
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    const QString package = KRTest::makeTempDir(QStringLiteral("project")) + QStringLiteral("/Test.krproj");
    QDir().mkpath(package + QStringLiteral("/kr-web"));
    KRTest::writeFile(package + QStringLiteral("/project.xml"), KRBuildTest::outputProjectXML());
    auto document = KRDocument::openPackage(package);
    ASSERT_TRUE(document.ok());
    auto project = KRProject::create(document.value(), true);
    ASSERT_TRUE(project.ok());
    for (const bool exportMode : {false, true}) {
        KRProjectBuilder builder(project.value());
        builder.setExportMode(exportMode);
        ASSERT_TRUE(builder.build().ok());
        QProcess process;
        process.start(node, {QStringLiteral("--check"), package + QStringLiteral("/kr-web/KR-user-scripts.js")});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    }
    KRAlertService::setCurrent(previous);
}

} // namespace

// node accepts every script a build of a project made of the real control library writes or
// copies, and every inline script of its built pages, for a normal, a single-page and an
// export build.

#include "KRBuildTestProject.h"

#include <KRTestSupport.h>
#include <builder/KRProjectBuilder.h>
#include <model/KRObjectInfo.h>
#include <model/KRProject.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

// Checks the file with "node --check"; the message is node's complaint.
void expectNodeAccepts(const QString &node, const QString &script, const std::string &what)
{
    QProcess process;
    process.start(node, {QStringLiteral("--check"), script});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << what << "\n" << process.readAllStandardError().toStdString();
}

// A project of the real control library: every family, a plug-in, functions with quoted and
// hostile text, a server page.
class KRBuiltControlScriptsTest : public ::testing::TestWithParam<const char *>
{
};

TEST_P(KRBuiltControlScriptsTest, NodeAcceptsEveryScriptAndInlineScript)
{
    const QString node = QStandardPaths::findExecutable(QStringLiteral("node"));
    if (node.isEmpty())
        GTEST_SKIP() << "node is not installed";
    KRBuildTest::setUpRealControls();
    const QString deviceMap = KRObjectInfo::sharedInstance().deviceInformationJSON();
    static const QString resources = KRBuildTest::makeResourcesFolder();
    KRResources::setResourcesDirectory(resources);
    auto alerts = std::make_shared<KRScriptedAlertService>();
    auto previous = KRAlertService::setCurrent(alerts);
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("JSMinimize"));

    auto shop = KRBuildTest::openControlProject();
    ASSERT_TRUE(shop.project);
    const QString mode = QString::fromLatin1(GetParam());
    shop.project->setSinglePageDeploy(mode == QLatin1String("single-page"));
    KRProjectBuilder builder(shop.project);
    const bool exportMode = mode == QLatin1String("export");
    builder.setExportMode(exportMode);
    builder.setDeviceInformationJSON(deviceMap);
    auto built = builder.build();
    KRAlertService::setCurrent(previous);
    KRResources::setResourcesDirectory(QString());
    ASSERT_TRUE(built.ok()) << built.error().toString().toStdString();

    const QString scratch = KRTest::makeTempDir(QStringLiteral("inline"));
    int files = 0;
    int inlines = 0;
    QDirIterator it(shop.webFolder(), {QStringLiteral("*.js"), QStringLiteral("*.html"), QStringLiteral("*.krml")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".js"))) {
            expectNodeAccepts(node, path, path.toStdString());
            ++files;
            continue;
        }
        int index = 0;
        for (const QString &script : KRBuildTest::inlineScripts(QString::fromUtf8(KRTest::readFile(path)))) {
            // A page template's form data is filled in by the server before any browser sees it.
            if (!exportMode && path.endsWith(QLatin1String(".krml")) && script.contains(QLatin1String("<%=response._formJSON()%>")))
                continue;
            const QString file = QStringLiteral("%1/%2-%3.js").arg(scratch, QFileInfo(path).fileName()).arg(++index);
            KRTest::writeFile(file, script.toUtf8());
            expectNodeAccepts(node, file, (path + QStringLiteral(" inline script ") + QString::number(index)).toStdString()
                                              + "\n" + script.toStdString());
            ++inlines;
        }
    }
    EXPECT_GE(files, 6); // the user script, the runtime, the plug-in and the library scripts
    // Single-page deploy carries the server page's element into a plain file.
    if (mode == QLatin1String("single-page"))
        EXPECT_EQ(inlines, 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, KRBuiltControlScriptsTest, ::testing::Values("normal", "single-page", "export"));

} // namespace

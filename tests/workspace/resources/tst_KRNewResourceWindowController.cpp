// The new-resource sheet: a type, a proposed free name, refused names, the file made from
// the template, and a damaged list of types that ends the sheet and nothing else.

#include "../../model/KRModelTestFixtures.h"
#include "../../model/KRPageTestSupport.h"

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <model/KRProjectResource.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <workspace/resources/KRNewResourceWindowController.h>

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class NewResourceSheet : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRResources::setResourcesDirectory(QStringLiteral(KR_SOURCE_DIR "/resources"));
        alerts = std::make_shared<KRScriptedAlertService>();
        previousAlerts = KRAlertService::setCurrent(alerts);
        project = krOpenProject(krProjectXML(QStringLiteral("<KRPage id=\"page1\"/>")));
        ASSERT_TRUE(project);
        web = project->krwebURL().toLocalFile();
        KRTest::writeFile(web + "/style.css", "p {}");
        project->reloadResources();
        host.resize(500, 300);
        host.show();
        sheet.setProject(project);
    }
    void TearDown() override
    {
        KRResources::setResourcesDirectory(QStringLiteral(KR_SOURCE_DIR "/resources"));
        KRAlertService::setCurrent(previousAlerts);
    }
    void begin()
    {
        sheet.beginSheetForWindow(&host, [this] { ++ended; });
    }
    void typeName(const QString &name)
    {
        sheet.filenameTextField()->clear();
        QTest::keyClicks(sheet.filenameTextField(), name);
    }

    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRAlertService> previousAlerts;
    std::shared_ptr<KRProject> project;
    QString web;
    QWidget host;
    KRNewResourceWindowController sheet;
    int ended = 0;
};

} // namespace

TEST_F(NewResourceSheet, ProposesTheFirstFreeNameForTheChosenType)
{
    KRTest::writeFile(web + "/resource.css", "");
    KRTest::writeFile(web + "/resource2.css", "");
    project->reloadResources();
    begin();
    ASSERT_TRUE(sheet.isSheetShown());
    // Types sorted by name; the first is proposed with the number that is free.
    const QList<QVariantMap> types = sheet.resourceTypes();
    ASSERT_FALSE(types.isEmpty());
    for (int i = 1; i < types.size(); ++i)
        EXPECT_LE(types[i - 1]["name"].toString(), types[i]["name"].toString());
    EXPECT_EQ(sheet.selectedResourceTemplateFile(), types.first()["value"].toString());
    EXPECT_EQ(sheet.resourceFilename(), "resource3.css");
    EXPECT_EQ(sheet.filenameTextField()->text(), "resource3.css");
    KRTest::saveScreenshot(*sheet.window(), "resources", "new-resource-sheet.png");

    // Another type keeps the typed stem; an empty field proposes "resource".
    typeName("main.css");
    sheet.resourceTypePopup()->setCurrentIndex(sheet.resourceTypePopup()->findText("JavaScript Source"));
    EXPECT_EQ(sheet.resourceFilename(), "main.js");
    typeName("");
    sheet.popupButtonAction();
    EXPECT_EQ(sheet.resourceFilename(), "resource.js");
}

TEST_F(NewResourceSheet, RefusesNamesThatAreTakenOrNoPlainFileNameAndKeepsTheSheetUp)
{
    begin();
    for (const QString &bad : {QString(), QStringLiteral("."), QStringLiteral(".."), QStringLiteral("css/new.css"),
                               QStringLiteral("../new.css"), QStringLiteral("style.css")}) {
        alerts->clear();
        typeName(bad);
        sheet.addButton()->click();
        EXPECT_EQ(alerts->shownAlerts().size(), 1) << bad.toStdString();
        EXPECT_TRUE(sheet.isSheetShown()) << bad.toStdString();
    }
    EXPECT_EQ(alerts->shownAlerts().first().messageText, KRNewResourceWindowController::TakenNameMessage);
    EXPECT_FALSE(QFile::exists(web + "/../new.css"));
    EXPECT_EQ(KRTest::readFile(web + "/style.css"), "p {}");
    EXPECT_EQ(ended, 0);

    typeName("new.css");
    sheet.addButton()->click();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(sheet.isSheetShown());
    EXPECT_EQ(KRTest::readFile(web + "/new.css"), KRTest::readFile(KR_SOURCE_DIR "/resources/templates/stylesheet.css"));
}

TEST_F(NewResourceSheet, ADamagedListOfTypesIsToldAndEndsOnlyTheSheet)
{
    const QString damaged = KRTest::makeTempDir("res");
    KRTest::writeFile(damaged + "/editable-resources.json", "[{\"extensions\": [\"css\"], ");
    KRResources::setResourcesDirectory(damaged);
    bool quit = false;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [&quit] { quit = true; });
    begin();
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(sheet.isSheetShown());
    QCoreApplication::processEvents();
    EXPECT_FALSE(quit);
}

#include "KRAppTestSupport.h"

#include <app/KRApplicationDefaults.h>
#include <app/KRPreferencesWindowController.h>
#include <codeeditor/CEEditor.h>
#include <codeeditor/CETextView.h>
#include <core/KRPasswordValueTransformer.h>
#include <core/KRRunLogger.h>
#include <model/KRObjectInfo.h>
#include <platform/appkit/KRFontPanel.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

class KRPreferencesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        defaults = std::make_unique<KRUserDefaults>(KRTest::makeTempDir(QStringLiteral("defaults")) + QStringLiteral("/k.conf"));
        KRApplicationDefaults::registerDefaults(*defaults);
        alerts = KRAppTest::installScriptedAlerts();
        prefs = std::make_unique<KRPreferencesWindowController>(*defaults, nullptr);
    }
    void TearDown() override
    {
        prefs.reset();
        KRAlertService::setCurrent(nullptr);
    }
    QStringList storedDeviceIDs() const
    {
        QStringList ids;
        for (const auto &device : KRUserDeviceInformation::storedDevices(*defaults))
            ids << device->deviceID;
        return ids;
    }
    void removeRow(int row)
    {
        prefs->devicesTable->selectRow(row);
        prefs->removeDeviceButton->click();
    }

    std::unique_ptr<KRUserDefaults> defaults;
    std::shared_ptr<KRScriptedAlertService> alerts;
    std::unique_ptr<KRPreferencesWindowController> prefs;
};

} // namespace

TEST_F(KRPreferencesTest, TitleFollowsThePaneChosenInTheToolbar)
{
    prefs->showWindow();
    EXPECT_EQ(prefs->window()->windowTitle(), QStringLiteral("Preferences : General"));
    for (QAction *action : prefs->toolbar->actions()) {
        action->trigger();
        EXPECT_EQ(prefs->window()->windowTitle(), QStringLiteral("Preferences : ") + action->text());
        EXPECT_EQ(prefs->selectedPaneLabel(), action->text());
        EXPECT_TRUE(action->isChecked());
    }
    prefs->selectTabViewItemWithLabel(QStringLiteral("No Such Pane"));
    EXPECT_EQ(prefs->selectedPaneLabel(), QStringLiteral("Hosting"));

    prefs->selectTabViewItemWithLabel(QStringLiteral("JavaScript"));
    KRTest::saveScreenshot(*prefs->window(), QStringLiteral("app"), QStringLiteral("preferences-javascript.png"), {1});
    prefs->selectTabViewItemWithLabel(QStringLiteral("General"));
    KRTest::saveScreenshot(*prefs->window(), QStringLiteral("app"), QStringLiteral("preferences-general.png"), {1});
}

TEST_F(KRPreferencesTest, EveryControlWritesItsDefaultAndFollowsIt)
{
    prefs->showWindow();
    // Check boxes, both ways.
    for (auto it = prefs->checkBoxes.cbegin(); it != prefs->checkBoxes.cend(); ++it) {
        QCheckBox *box = it.value();
        const bool before = defaults->boolValue(it.key());
        EXPECT_EQ(box->isChecked(), before) << it.key().toStdString();
        box->click();
        EXPECT_EQ(defaults->boolValue(it.key()), !before) << it.key().toStdString();
        defaults->setValue(it.key(), before);
        EXPECT_EQ(box->isChecked(), before) << it.key().toStdString();
    }
    EXPECT_TRUE(prefs->checkBoxes.contains(QStringLiteral("openLastProjectOnStartup")));
    EXPECT_EQ(prefs->checkBoxes.size(), 13);

    prefs->tabWidthField->setValue(7);
    EXPECT_EQ(defaults->integerValue(QStringLiteral("TabWidth")), 7);

    prefs->editModesPopupMenu->setCurrentIndex(1);
    emit prefs->editModesPopupMenu->activated(1);
    EXPECT_EQ(defaults->stringValue(QStringLiteral("defaultDIVEditMode")), QStringLiteral("HTML"));

    const int plain = prefs->designViewBackgroundPopup->findData(QStringLiteral("KR-design-background-plain"));
    ASSERT_GE(plain, 0);
    prefs->designViewBackgroundPopup->setCurrentIndex(plain);
    emit prefs->designViewBackgroundPopup->activated(plain);
    EXPECT_EQ(defaults->stringValue(QStringLiteral("designViewBackground")), QStringLiteral("KR-design-background-plain"));

    // The password is stored enciphered and shown plain.
    prefs->selectTabViewItemWithLabel(QStringLiteral("Hosting"));
    prefs->hostingPassword->setText(QStringLiteral("s3cret"));
    emit prefs->hostingPassword->editingFinished();
    const QString stored = defaults->stringValue(QStringLiteral("hostingPassword"));
    EXPECT_NE(stored, QStringLiteral("s3cret"));
    EXPECT_EQ(KRPasswordValueTransformer().transformedValue(stored), QStringLiteral("s3cret"));
    EXPECT_TRUE(prefs->hostingValuesDidChange());

    // The service address, and the site address registered from it, follow at once; an
    // address that is none is refused.
    const KRObservationToken following = KRApplicationDefaults::followServiceAddress(*defaults);
    prefs->serviceAddressField->setText(QStringLiteral("http://localhost:9000/api.php"));
    emit prefs->serviceAddressField->editingFinished();
    EXPECT_EQ(defaults->stringValue(QStringLiteral("apiURL")), QStringLiteral("http://localhost:9000/api.php"));
    EXPECT_EQ(defaults->stringValue(QStringLiteral("insecureSiteURL")), QStringLiteral("http://localhost:9000/"));
    prefs->serviceAddressField->setText(QStringLiteral("not an address"));
    emit prefs->serviceAddressField->editingFinished();
    EXPECT_EQ(defaults->stringValue(QStringLiteral("apiURL")), QStringLiteral("http://localhost:9000/api.php"));
    // An empty address is no service at all, and no site.
    prefs->serviceAddressField->setText(QString());
    emit prefs->serviceAddressField->editingFinished();
    EXPECT_EQ(defaults->stringValue(QStringLiteral("apiURL")), QString());
    EXPECT_EQ(defaults->stringValue(QStringLiteral("insecureSiteURL")), QString());
}

TEST_F(KRPreferencesTest, TheRunningEditorFollowsTheFontAndTabWidth)
{
    QWidget host;
    host.resize(300, 200);
    CEEditor editor(defaults.get());
    editor.embedInView(&host);
    host.show();

    QFont chosen = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    chosen.setPixelSize(21);
    prefs->changeFont(chosen);
    EXPECT_EQ(KRApplicationDefaults::editorFont(*defaults).pixelSize(), 21);
    EXPECT_EQ(editor.textView()->font().pixelSize(), 21);
    EXPECT_TRUE(prefs->editorFontField->text().endsWith(QStringLiteral(" 21"))) << prefs->editorFontField->text().toStdString();

    // Select… hands the font panel to the preferences: a font picked there is the editor's.
    prefs->editorFontSelectButton->click();
    QFont picked = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    picked.setPointSize(17); // the panel speaks points; the preference keeps the number as pixels
    KRFontPanel::shared().fontDialog()->setCurrentFont(picked);
    EXPECT_EQ(editor.textView()->font().pixelSize(), 17);
    KRFontPanel::shared().clearTarget();
    KRFontPanel::shared().fontDialog()->hide();

    // A font dialog that reports no font stores a fixed-width one rather than nothing.
    prefs->changeFont(QFont(QString()));
    EXPECT_FALSE(KRApplicationDefaults::editorFont(*defaults).family().isEmpty());
    EXPECT_EQ(KRApplicationDefaults::editorFont(*defaults).pixelSize(), 14);
}

TEST_F(KRPreferencesTest, EveryHelpButtonHasHelp)
{
    QStringList keys;
    for (QToolButton *button : prefs->window()->findChildren<QToolButton *>()) {
        if (button->objectName().startsWith(QLatin1String("help-")))
            keys << button->objectName().mid(5);
    }
    EXPECT_EQ(keys.size(), 12);
    for (const QString &key : keys)
        EXPECT_FALSE(KRObjectInfo::sharedInstance().otherHelpHTML(key).isEmpty()) << key.toStdString();
}

TEST_F(KRPreferencesTest, HelpButtonsStandByTheirSettingsAndForgotPasswordOpensTheServicesPage)
{
    prefs->window()->show();
    prefs->selectTabViewItemWithLabel(QStringLiteral("JavaScript"));
    QApplication::processEvents();
    const QList<std::pair<QString, QString>> pairs{{QStringLiteral("jsCheckSyntax"), QStringLiteral("JSCheckSyntax")},
                                                   {QStringLiteral("jsMinimize"), QStringLiteral("JSMinimize")},
                                                   {QStringLiteral("jsPlusplus"), QStringLiteral("JSSyntaxOptionPlusplus")}};
    for (const auto &[help, key] : pairs) {
        auto *button = prefs->window()->findChild<QToolButton *>(QStringLiteral("help-") + help);
        ASSERT_NE(button, nullptr) << help.toStdString();
        QCheckBox *box = prefs->checkBoxes.value(key);
        const QRect boxFrame(box->mapTo(prefs->window(), QPoint(0, 0)), box->size());
        const QPoint buttonCenter = button->mapTo(prefs->window(), button->rect().center());
        EXPECT_GT(buttonCenter.x(), boxFrame.left()) << help.toStdString();
        EXPECT_TRUE(buttonCenter.y() >= boxFrame.top() && buttonCenter.y() <= boxFrame.bottom())
            << help.toStdString() << " stands off its setting's row";
    }

    auto urls = std::make_shared<KRRecordingOpenURLService>();
    const auto previous = KROpenURLService::setCurrent(urls);
    const KRObservationToken following = KRApplicationDefaults::followServiceAddress(*defaults);
    defaults->setValue(QStringLiteral("apiURL"), QStringLiteral("http://localhost:9000/api.php"));
    EXPECT_FALSE(prefs->forgotPasswordButton->isHidden());
    prefs->forgotPasswordButton->click();
    ASSERT_EQ(urls->openedURLs().size(), 1);
    EXPECT_EQ(urls->openedURLs().first(), QUrl(QStringLiteral("http://localhost:9000/password?utm_source=app")));
    // No service, no page: the button goes.
    defaults->setValue(QStringLiteral("apiURL"), QString());
    EXPECT_TRUE(prefs->forgotPasswordButton->isHidden());
    prefs->forgotPasswordAction();
    EXPECT_EQ(urls->openedURLs().size(), 1);
    KROpenURLService::setCurrent(previous);
}

TEST_F(KRPreferencesTest, UnknownBackgroundShowsTheFirstEntryWithoutStoringIt)
{
    defaults->setValue(QStringLiteral("designViewBackground"), QStringLiteral("gone"));
    KRPreferencesWindowController fresh(*defaults, nullptr);
    const QList<QVariantMap> entries = fresh.designViewBackgroundContents();
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(), [](const QVariantMap &a, const QVariantMap &b) {
        return a.value(QStringLiteral("description")).toString() < b.value(QStringLiteral("description")).toString();
    }));
    EXPECT_EQ(fresh.designViewBackground(), entries.first());
    EXPECT_EQ(fresh.designViewBackgroundPopup->currentIndex(), 0);
    EXPECT_EQ(defaults->stringValue(QStringLiteral("designViewBackground")), QStringLiteral("gone"));
    fresh.setDesignViewBackground(QStringLiteral("not an entry"));
    EXPECT_EQ(defaults->stringValue(QStringLiteral("designViewBackground")), QStringLiteral("gone"));
}

// Stored devices the reader refuses (nested too deep, unreadable, no list) are not shown as
// none without a word: the Devices pane says why above its empty table, and the run log names
// the setting; a device added then replaces them and the notice goes.
TEST_F(KRPreferencesTest, DevicesThatCannotBeReadAreSaidToBeSo)
{
    const QString deep = QString(600, QLatin1Char('[')) + QString(600, QLatin1Char(']'));
    for (const QString &stored : {deep, QStringLiteral("[{\"deviceID\":"), QStringLiteral("{\"deviceID\":\"tab\"}")}) {
        SCOPED_TRACE(stored.left(20).toStdString());
        defaults->setValue(KRUserDeviceInformation::UserDevicesKey, stored);
        KRPreferencesWindowController fresh(*defaults, nullptr);
        fresh.selectTabViewItemWithLabel(QStringLiteral("Devices"));
        EXPECT_EQ(fresh.devicesTable->rowCount(), 0);
        const KRResult<QList<std::shared_ptr<KRUserDeviceInformation>>> read = KRUserDeviceInformation::readStoredDevices(*defaults);
        ASSERT_FALSE(read);
        EXPECT_FALSE(fresh.devicesNoticeLabel->isHidden());
        EXPECT_EQ(fresh.devicesNoticeLabel->text(), QStringLiteral("The devices stored in the settings could not be read. %1 Adding or "
                                                                   "changing a device here replaces them.")
                                                        .arg(read.error().message()));
        KRRunLogger::sharedInstance().flush();
        QFile log(KRRunLogger::sharedInstance().logURL());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(QStringLiteral("The devices in the setting userDevices of %1 could not be read. %2")
                                                                  .arg(defaults->filePath(), read.error().message())));
        fresh.addDeviceButton->click();
        EXPECT_TRUE(fresh.devicesNoticeLabel->isHidden());
        EXPECT_EQ(storedDeviceIDs(), QStringList{QStringLiteral("device1")});
    }
    // A list read as it is stored says nothing.
    EXPECT_TRUE(prefs->devicesNoticeLabel->isHidden());
}

TEST_F(KRPreferencesTest, DevicesAreStoredAsSoonAsTheListChanges)
{
    prefs->selectTabViewItemWithLabel(QStringLiteral("Devices"));
    for (int i = 0; i < 3; ++i)
        prefs->addDeviceButton->click();
    // Stored at once, although no record was edited.
    EXPECT_EQ(storedDeviceIDs(), (QStringList{QStringLiteral("device1"), QStringLiteral("device2"), QStringLiteral("device3")}));
    EXPECT_EQ(prefs->devicesTable->item(0, 2)->text(), QStringLiteral("320"));

    alerts->scriptButton(QStringLiteral("Remove Device"));
    removeRow(1);
    prefs->addDeviceButton->click();
    EXPECT_EQ(storedDeviceIDs(), (QStringList{QStringLiteral("device1"), QStringLiteral("device3"), QStringLiteral("device2")}));

    // An edit of a record is stored; a refused value goes back to the record.
    prefs->devicesTable->item(0, 1)->setText(QStringLiteral("Tablet"));
    EXPECT_EQ(KRUserDeviceInformation::storedDevices(*defaults).first()->name, QStringLiteral("Tablet"));
    prefs->devicesTable->item(0, 2)->setText(QStringLiteral("wide"));
    QCoreApplication::processEvents();
    EXPECT_EQ(prefs->devicesTable->item(0, 2)->text(), QStringLiteral("320"));
    KRTest::saveScreenshot(*prefs->window(), QStringLiteral("app"), QStringLiteral("preferences-devices.png"), {1});

    // Keeping the device with the box ticked: it stays, and the next removal asks nothing.
    alerts->scriptButton(QStringLiteral("Keep Device"));
    alerts->scriptSuppressionChecked(true);
    removeRow(0);
    EXPECT_EQ(storedDeviceIDs().size(), 3);
    const qsizetype asked = alerts->shownAlerts().size();
    removeRow(0);
    removeRow(0);
    removeRow(0);
    EXPECT_EQ(alerts->shownAlerts().size(), asked);
    EXPECT_FALSE(defaults->hasStoredValue(KRUserDeviceInformation::UserDevicesKey)) << "an empty list removes the key";
}

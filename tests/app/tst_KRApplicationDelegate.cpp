#include "KRAppTestSupport.h"

#include <app/KRApplicationDefaults.h>
#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryWindowController.h>
#include <app/KROpenProjectPanel.h>
#include <app/KRPreferencesWindowController.h>
#include <core/KRRunLogger.h>
#include <ui/KRMainMenu.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <KRTestSupport.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QJsonArray>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace {

class KRDelegateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KRAppTest::installTestWindowFactory();
        alerts = KRAppTest::installScriptedAlerts();
        urls = KRAppTest::installURLRecorder();
        KRAppTest::closeAllDocuments();
        KRApplicationDefaults::registerDefaults(KRUserDefaults::sharedInstance());
        KRGalleryWindowController::setHeldSamples(QJsonArray());
        KRApplicationDelegate::setSavePanel([this](QWidget *, const QString &, const QString &, const QString &, const QString &,
                                                   std::function<void(const QString &)> done) { done(savePanelAnswer); });
        delegate = std::make_unique<KRApplicationDelegate>();
    }
    void TearDown() override
    {
        delegate.reset();
        KRApplicationDelegate::setSavePanel(nullptr);
        KRAppTest::closeAllDocuments();
        KROpenURLService::setCurrent(nullptr);
        KRAlertService::setCurrent(nullptr);
    }
    QList<std::shared_ptr<KRDocument>> documents() const { return KRDocumentController::sharedDocumentController().documents(); }

    std::shared_ptr<KRScriptedAlertService> alerts;
    std::shared_ptr<KRRecordingOpenURLService> urls;
    std::unique_ptr<KRApplicationDelegate> delegate;
    QString savePanelAnswer;
};

} // namespace

TEST(KRApplicationDefaults, RegistersEveryKeyInOrderAndDerivesTheSiteFromTheService)
{
    const auto table = KRApplicationDefaults::firstRegistration();
    QStringList keys;
    for (const auto &[key, value] : table)
        keys << key;
    EXPECT_EQ(keys.first(), QStringLiteral("apiURL"));
    EXPECT_EQ(keys.last(), QStringLiteral("WebIconDatabaseEnabled"));
    EXPECT_EQ(keys.size(), 18);
    EXPECT_FALSE(keys.contains(QStringLiteral("insecureSiteURL")));

    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/k.conf"));
    defaults.setValue(QStringLiteral("apiURL"), QStringLiteral("http://localhost:8080/api.php"));
    defaults.setValue(QStringLiteral("JSMinimize"), false);
    KRApplicationDefaults::registerDefaults(defaults);
    EXPECT_FALSE(defaults.boolValue(QStringLiteral("JSMinimize"))) << "the user's value wins";
    EXPECT_TRUE(defaults.boolValue(QStringLiteral("JSSyntaxOptionCurly")));
    EXPECT_EQ(defaults.integerValue(QStringLiteral("TabWidth")), 4);
    // The second registration follows the stored service address.
    EXPECT_EQ(defaults.stringValue(QStringLiteral("insecureSiteURL")), QStringLiteral("http://localhost:8080/"));
    // The site is the service's own host; no address is shipped, and none means no site.
    EXPECT_EQ(KRApplicationDefaults::insecureSiteURL(QStringLiteral("https://me:pw@svc.example:8443/x/api.php?k=1")),
              QStringLiteral("https://svc.example:8443/"));
    KRUserDefaults fresh(KRTest::makeTempDir() + QStringLiteral("/f.conf"));
    KRApplicationDefaults::registerDefaults(fresh);
    EXPECT_EQ(fresh.stringValue(QStringLiteral("apiURL")), QString());
    EXPECT_EQ(fresh.stringValue(QStringLiteral("insecureSiteURL")), QString());
    EXPECT_EQ(KRApplicationDefaults::insecureSiteURL(QStringLiteral("not an address")), QString());

    // Exactly one slash, whether the site ends in one or not.
    EXPECT_EQ(KRApplicationDefaults::joinURL(QStringLiteral("http://localhost"), QStringLiteral("docs?utm_source=app")),
              QStringLiteral("http://localhost/docs?utm_source=app"));
    EXPECT_EQ(KRApplicationDefaults::joinURL(QStringLiteral("http://h/"), QStringLiteral("/feed.xml")), QStringLiteral("http://h/feed.xml"));
}

TEST(KRApplicationDefaults, EditorFontIsAnInstalledFontEvenWhenNoneOfTheListedIs)
{
    QFont font;
    ASSERT_TRUE(font.fromString(KRApplicationDefaults::defaultEditorFont()));
    EXPECT_TRUE(QFontDatabase::families().contains(font.family(), Qt::CaseInsensitive)
                || font.family() == QFontDatabase::systemFont(QFontDatabase::FixedFont).family())
        << font.family().toStdString();
    EXPECT_GT(font.pixelSize(), 0) << "fonts are sized in pixels";
}

TEST(KRApplicationInspiration, QuotationsUnscrambleAndChangeEveryFiveMinutes)
{
    const QByteArray json = R"([["one","A"],["two","B"],["three","C"]])";
    const auto quotes = KRApplicationDelegate::inspirationQuotes(KRApplicationDelegate::scrambleInspiration(json));
    ASSERT_TRUE(quotes);
    EXPECT_EQ(quotes->size(), 3);
    EXPECT_EQ(KRApplicationDelegate::inspirationIndex(299, 3), 0);
    EXPECT_EQ(KRApplicationDelegate::inspirationIndex(300, 3), 1);
    EXPECT_EQ(KRApplicationDelegate::inspirationIndex(900, 3), 0);
    for (const QByteArray &bad : {QByteArray("[]"), QByteArray("{\"a\":1}"), QByteArray("not json")})
        EXPECT_FALSE(KRApplicationDelegate::inspirationQuotes(KRApplicationDelegate::scrambleInspiration(bad)));
    EXPECT_FALSE(KRApplicationDelegate::inspirationQuotes(json)) << "unscrambled data is not read as plain JSON";

    Q_INIT_RESOURCE(app);
    QFile shipped(QStringLiteral(":/kr-app/insp.dat"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const auto shippedQuotes = KRApplicationDelegate::inspirationQuotes(shipped.readAll());
    ASSERT_TRUE(shippedQuotes);
    for (const QJsonValue &entry : *shippedQuotes)
        EXPECT_EQ(entry.toArray().size(), 2);
}

// File ▸ Open…: a project opens however it is gone into, and any other folder is walked into
// however it is chosen, never opened.
TEST(KROpenProjectPanel, AProjectOpensHoweverItIsGoneIntoAndOtherFoldersAreWalkedInto)
{
    const QString home = QDir::cleanPath(KRTest::makeTempDir(QStringLiteral("open")));
    ASSERT_TRUE(QDir(home).mkpath(QStringLiteral("Letters/Notes.krproj/kr-web")));
    ASSERT_TRUE(QDir(home).mkpath(QStringLiteral("Tips.krproj/kr-web")));
    KROpenProjectPanel panel(nullptr, home);
    QSignalSpy chosen(&panel, &QFileDialog::fileSelected);
    panel.show();
    QApplication::setActiveWindow(&panel);
    auto *name = panel.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name);
    name->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return name->hasFocus(); }));
    QTest::keyClicks(name, QStringLiteral("Letters"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_EQ(QDir::cleanPath(panel.directory().absolutePath()), home + QStringLiteral("/Letters"));
    EXPECT_TRUE(name->text().isEmpty());
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_TRUE(panel.isVisible());
    QTest::keyClicks(name, QStringLiteral("Notes.krproj"));
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen.first().first().toString(), home + QStringLiteral("/Letters/Notes.krproj"));

    // A double click (or Return) on a project's row: the project, not its inside.
    KROpenProjectPanel again(nullptr, home);
    QSignalSpy opened(&again, &QFileDialog::fileSelected);
    again.show();
    auto *view = again.findChild<QTreeView *>(QStringLiteral("treeView"));
    auto *files = again.findChild<QFileSystemModel *>();
    ASSERT_TRUE(view && files);
    ASSERT_EQ(view->model(), files);
    const QModelIndex tips = files->index(home + QStringLiteral("/Tips.krproj"));
    ASSERT_TRUE(tips.isValid());
    emit view->activated(tips);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return opened.size() == 1; }));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.first().first().toString(), home + QStringLiteral("/Tips.krproj"));
    EXPECT_EQ(QDir::cleanPath(again.directory().absolutePath()), home);
}

// The save dialog offers a file name made from any name (a sample's comes from the service):
// in the folder, never out of it or hidden, short enough, and one nothing there has yet.
TEST(KRSavePanel, OffersAFreeFileNameInTheFolderWhateverTheNameGiven)
{
    const QString folder = QDir::cleanPath(KRTest::makeTempDir(QStringLiteral("offered")));
    ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Tips.krproj")));
    ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Tips 2.krproj")));
    ASSERT_TRUE(QFile::link(folder + QStringLiteral("/nowhere"), folder + QStringLiteral("/Cafe.krproj")));
    const auto offered = [&](const QString &name) { return KRApplicationDelegate::offeredPackageName(folder, name); };
    EXPECT_EQ(offered(QStringLiteral("Showcase")), QStringLiteral("Showcase.krproj"));
    EXPECT_EQ(offered(QStringLiteral("Tips")), QStringLiteral("Tips 3.krproj"));
    EXPECT_EQ(offered(QStringLiteral("Cafe")), QStringLiteral("Cafe 2.krproj"));
    EXPECT_EQ(offered(QStringLiteral("Shop.krproj")), QStringLiteral("Shop.krproj"));
    EXPECT_EQ(offered(QStringLiteral("../../etc/passwd")), QStringLiteral("etc passwd.krproj"));
    EXPECT_EQ(offered(QStringLiteral(".hidden")), QStringLiteral("hidden.krproj"));
    EXPECT_EQ(offered(QStringLiteral("Line\nbreak\tand\u0001bell")), QStringLiteral("Line break and bell.krproj"));
    EXPECT_EQ(offered(QStringLiteral(" /.. ")), QStringLiteral("Untitled.krproj"));
    EXPECT_EQ(offered(QString()), QStringLiteral("Untitled.krproj"));
    const QString longName = offered(QStringLiteral("\U0001F600").repeated(300));
    EXPECT_LE(longName.toUtf8().size(), 255 - 4);
    EXPECT_TRUE(longName.endsWith(QStringLiteral("\U0001F600.krproj"))) << longName.toStdString();
}

TEST_F(KRDelegateTest, SiteStoreAndNewsLinksOpenOutside)
{
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("insecureSiteURL"), QStringLiteral("http://localhost"));
    const QStringList commands{QStringLiteral("korvaneDocs"), QStringLiteral("korvaneSite"), QStringLiteral("korvaneVersionHistory"),
                               QStringLiteral("checkUpdates"), QStringLiteral("newsAccount")};
    for (const QString &command : commands)
        EXPECT_TRUE(KRMainMenu::shared().perform(command)) << command.toStdString();
    ASSERT_EQ(urls->openedURLs().size(), 5);
    EXPECT_EQ(urls->openedURLs().at(0), QUrl(QStringLiteral("http://localhost/docs?utm_source=app")));
    EXPECT_EQ(urls->openedURLs().at(1), QUrl(QStringLiteral("http://localhost/blog?utm_source=app")));
    EXPECT_EQ(urls->openedURLs().at(2), QUrl(QStringLiteral("http://localhost/blog/version-history.html?utm_source=app")));
    for (const QUrl &url : urls->openedURLs())
        EXPECT_EQ(url.host(), QStringLiteral("localhost")) << url.toString().toStdString();

    // Without a service address no link leads anywhere: each says why instead.
    KRUserDefaults::sharedInstance().setValue(QStringLiteral("insecureSiteURL"), QString());
    for (const QString &command : commands)
        EXPECT_TRUE(KRMainMenu::shared().perform(command)) << command.toStdString();
    EXPECT_EQ(urls->openedURLs().size(), 5);
    ASSERT_EQ(alerts->shownAlerts().size(), 5);
    EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("No service address is set."));
    KRUserDefaults::sharedInstance().removeObject(QStringLiteral("insecureSiteURL"));
}

TEST_F(KRDelegateTest, NewProjectCreatesThePackageAndOpensIt)
{
    savePanelAnswer = KRTest::makeTempDir(QStringLiteral("new")) + QStringLiteral("/Shop.krproj");
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("newDocument")));
    ASSERT_EQ(documents().size(), 1);
    EXPECT_EQ(documents().first()->fileURL(), savePanelAnswer);
    EXPECT_TRUE(QFileInfo(savePanelAnswer + QStringLiteral("/kr-web")).isDir());
    EXPECT_TRUE(QFileInfo(savePanelAnswer + QStringLiteral("/project.xml")).isFile());
    EXPECT_TRUE(KRDocumentController::windowForDocument(*documents().first())->isVisible());

    // A folder of other things is not turned into a project.
    const QString other = KRTest::makeTempDir(QStringLiteral("other"));
    KRTest::writeFile(other + QStringLiteral("/notes.txt"), "mine");
    EXPECT_FALSE(delegate->createAndOpenProject(other));
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_FALSE(QFileInfo::exists(other + QStringLiteral("/project.xml")));

    // An existing project chosen in the panel is opened as it is, down to its file's permissions.
    const QString existing = KRAppTest::makePackage(KRTest::makeTempDir(QStringLiteral("existing")), QStringLiteral("Kept"));
    const QString projectFile = existing + QStringLiteral("/project.xml");
    const QByteArray content = KRTest::readFile(projectFile);
    const QFileDevice::Permissions modeBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                              | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                              | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(projectFile, QFileDevice::ReadOwner));
    EXPECT_TRUE(delegate->createAndOpenProject(existing));
    EXPECT_EQ(QFile::permissions(projectFile) & modeBits, QFileDevice::ReadOwner);
    EXPECT_EQ(KRTest::readFile(projectFile), content);
    QFile::setPermissions(projectFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

TEST_F(KRDelegateTest, BlankProjectOutlivesTheSessionAndFollowsNoLink)
{
    // Kept with the application's data, not in the runtime folder that logging out empties.
    const QString blank = KRApplicationDelegate::blankProjectPath();
    EXPECT_TRUE(blank.startsWith(KRPaths::applicationSupportDirectory() + QLatin1Char('/')));
    EXPECT_FALSE(blank.startsWith(KRPaths::temporaryDirectory() + QLatin1Char('/')));
    EXPECT_TRUE(KRDocumentController::isScratchPackage(blank)) << "reopened as the blank project, never as a recent one";

    // Something planted at the blank project's place is neither followed nor opened.
    const QString planted = KRAppTest::makePackage(KRTest::makeTempDir(QStringLiteral("planted")), QStringLiteral("Evil"));
    QDir(blank).removeRecursively();
    ASSERT_TRUE(QFile::link(planted, blank));
    delegate->newBlankDocument();
    EXPECT_TRUE(documents().isEmpty());
    EXPECT_EQ(alerts->shownAlerts().size(), 1);
    QFile::remove(blank);

    // An earlier run's blank project is opened as it is.
    delegate->newBlankDocument();
    ASSERT_EQ(documents().size(), 1);
    KRTest::writeFile(blank + QStringLiteral("/kr-web/kept.css"), "kept");
    KRAppTest::closeAllDocuments();
    delegate->newBlankDocument();
    EXPECT_EQ(KRTest::readFile(blank + QStringLiteral("/kr-web/kept.css")), QByteArray("kept"));
    KRAppTest::closeAllDocuments();

    // One an earlier version kept in the runtime folder moves here, with what it holds...
    const QString old = KRPaths::temporaryDirectory() + QStringLiteral("/Untitled.krproj");
    QDir(blank).removeRecursively();
    QDir(old).removeRecursively();
    KRAppTest::makePackage(KRPaths::temporaryDirectory(), QStringLiteral("Untitled"));
    KRTest::writeFile(old + QStringLiteral("/kr-web/work.css"), "work");
    ASSERT_TRUE(QFile::link(QStringLiteral("work.css"), old + QStringLiteral("/kr-web/alias.css")));
    delegate->newBlankDocument();
    ASSERT_EQ(documents().size(), 1);
    EXPECT_EQ(documents().first()->fileURL(), blank);
    EXPECT_EQ(KRTest::readFile(blank + QStringLiteral("/kr-web/work.css")), QByteArray("work"));
    EXPECT_TRUE(QFileInfo(blank + QStringLiteral("/kr-web/alias.css")).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(old));
    KRAppTest::closeAllDocuments();
    // ...but never over one kept here already.
    KRAppTest::makePackage(KRPaths::temporaryDirectory(), QStringLiteral("Untitled"));
    EXPECT_FALSE(KRApplicationDelegate::moveBlankProjectOutOfTemporaryFolder());
    EXPECT_TRUE(QFileInfo::exists(old));
    EXPECT_EQ(KRTest::readFile(blank + QStringLiteral("/kr-web/work.css")), QByteArray("work"));
    QDir(old).removeRecursively();
    QDir(blank).removeRecursively();
}

TEST_F(KRDelegateTest, LaunchOpensTheLastProjectWhenAskedElseTheBlankProjectAndTheGallery)
{
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    defaults.setValue(QStringLiteral("lastExecutedVersion"), KRDocument::applicationShortVersion());
    const QString last = KRAppTest::makePackage(KRTest::makeTempDir(QStringLiteral("last")), QStringLiteral("Last"));
    KRDocumentController::sharedDocumentController().recentDocuments().noteDocument(last);

    delegate->openGalleryAtLaunch();
    ASSERT_EQ(documents().size(), 1);
    EXPECT_EQ(documents().first()->fileURL(), last);
    EXPECT_EQ(delegate->galleryWindowController(), nullptr);

    KRAppTest::closeAllDocuments();
    defaults.setValue(QStringLiteral("openLastProjectOnStartup"), false);
    delegate->openGalleryAtLaunch();
    ASSERT_EQ(documents().size(), 1);
    EXPECT_EQ(documents().first()->fileURL(), KRApplicationDelegate::blankProjectPath());
    ASSERT_NE(delegate->galleryWindowController(), nullptr);
    EXPECT_FALSE(delegate->galleryWindowController()->welcomeMode()) << "same version: the recent list";
    EXPECT_EQ(defaults.stringValue(QStringLiteral("lastExecutedVersion")), KRDocument::applicationShortVersion());
    defaults.removeObject(QStringLiteral("openLastProjectOnStartup"));
    QDir(KRApplicationDelegate::blankProjectPath()).removeRecursively();
}

TEST_F(KRDelegateTest, ClosingTheLastProjectWindowShowsTheGalleryAndQuitAsksAboutChanges)
{
    const QString package = KRAppTest::makePackage(KRTest::makeTempDir(QStringLiteral("p")), QStringLiteral("P"));
    ASSERT_TRUE(KRDocumentController::sharedDocumentController().openDocument(package));
    QWidget *window = KRDocumentController::windowForDocument(*documents().first());
    window->close();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return documents().isEmpty(); }));
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        return delegate->galleryWindowController() && delegate->galleryWindowController()->window()->isVisible();
    }));

    // Quitting with unsaved changes asks first, edited resources alone included; Cancel keeps
    // everything open.
    ASSERT_TRUE(KRDocumentController::sharedDocumentController().openDocument(package));
    const std::shared_ptr<KRDocument> document = documents().first();
    auto project = KRProject::create(document);
    ASSERT_TRUE(project);
    document->setProject(*project);
    (*project)->modifiedResourceCache().insert(QStringLiteral("app.css"), QByteArray("body{}"));
    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_FALSE(delegate->terminateAction());
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    (*project)->modifiedResourceCache().clear();

    document->undoManager().registerUndo(this, [] {});
    ASSERT_TRUE(document->isDocumentEdited());
    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_FALSE(delegate->terminateAction());
    ASSERT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_TRUE(alerts->shownAlerts().last().messageText.contains(QStringLiteral("“P”")));
    EXPECT_EQ(documents().size(), 1);
}

// The preferences come back each time they are asked for: after the window was closed (a new
// one), and out of the minimised state; and the window answers the Edit menu.
TEST_F(KRDelegateTest, PreferencesComeBackAndAnswerTheEditMenu)
{
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("preferences")));
    QPointer<KRPreferencesWindowController> first = delegate->preferencesWindowController();
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->window()->isVisible());
    first->window()->close();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return first.isNull(); }));
    EXPECT_EQ(delegate->preferencesWindowController(), nullptr);

    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("preferences")));
    KRPreferencesWindowController *prefs = delegate->preferencesWindowController();
    ASSERT_NE(prefs, nullptr);
    EXPECT_TRUE(prefs->window()->isVisible());
    prefs->window()->showMinimized();
    ASSERT_TRUE(prefs->window()->windowState() & Qt::WindowMinimized);
    ASSERT_TRUE(KRMainMenu::shared().perform(QStringLiteral("preferences")));
    EXPECT_EQ(delegate->preferencesWindowController(), prefs);
    EXPECT_FALSE(prefs->window()->windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(prefs->window()->isVisible());

    // Edit ▸ Copy and Select All reach the focused field.
    KRMainMenu &menu = KRMainMenu::shared();
    menu.addCommand(QStringLiteral("Edit"), QStringLiteral("copy"), QStringLiteral("Copy"));
    menu.addCommand(QStringLiteral("Edit"), QStringLiteral("selectAll"), QStringLiteral("Select All"));
    QApplication::setActiveWindow(prefs->window());
    prefs->selectTabViewItemWithLabel(QStringLiteral("Hosting"));
    prefs->hostingDomain->setText(QStringLiteral("shop.example"));
    prefs->hostingDomain->setFocus();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QApplication::focusWidget() == prefs->hostingDomain; }));
    prefs->hostingDomain->deselect();
    menu.validate();
    EXPECT_FALSE(menu.action(QStringLiteral("copy"))->isEnabled()) << "nothing selected";
    ASSERT_TRUE(menu.action(QStringLiteral("selectAll"))->isEnabled());
    menu.action(QStringLiteral("selectAll"))->trigger();
    ASSERT_TRUE(menu.action(QStringLiteral("copy"))->isEnabled());
    menu.action(QStringLiteral("copy"))->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("shop.example"));
}

// A project.xml that holds no project is refused as it is read: the user sees why, and no
// window and no recent entry pretend it opened.
// One process holds every window: a project that fails to open, whether the opening says why
// or throws (out of memory, a fault in a control's set-up), is reported as not opened and
// leaves the open project and its window as they were.
TEST_F(KRDelegateTest, AProjectThatFailsToOpenLeavesTheOpenOnesAsTheyWere)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("failing"));
    const QString kept = KRAppTest::makePackage(folder, QStringLiteral("Kept"));
    delegate->openRecentDocument(kept);
    ASSERT_EQ(documents().size(), 1);
    const std::shared_ptr<KRDocument> open = documents().first();
    QWidget *window = KRDocumentController::windowForDocument(*open);
    ASSERT_TRUE(window && window->isVisible());
    const QString failing = KRAppTest::makePackage(folder, QStringLiteral("Failing"));
    for (const char *how : {"KRException", "bad_alloc"}) {
        SCOPED_TRACE(how);
        alerts->clear();
        KRDocumentController::setProjectOpener([how](const QString &) -> KRResult<std::shared_ptr<KRDocument>> {
            if (std::strcmp(how, "bad_alloc") == 0)
                throw std::bad_alloc();
            throw KRException(QStringLiteral("KRObjectException"), QStringLiteral("a control could not be set up"));
        });
        delegate->openRecentDocument(failing);
        KRDocumentController::setProjectOpener(nullptr);
        ASSERT_EQ(alerts->shownAlerts().size(), 1);
        EXPECT_EQ(alerts->shownAlerts().first().messageText, QStringLiteral("The project “Failing.krproj” could not be opened."));
        ASSERT_EQ(documents().size(), 1);
        EXPECT_EQ(documents().first(), open);
        EXPECT_FALSE(alerts->shownAlerts().first().informativeText.isEmpty());
        EXPECT_TRUE(window->isVisible());
    }
}

TEST_F(KRDelegateTest, AFileThatHoldsNoProjectShowsItsErrorOnly)
{
    const QString folder = KRTest::makeTempDir(QStringLiteral("bad"));
    struct Case {
        QString name;
        QByteArray xml;
        QString why;
    };
    const QList<Case> cases{
        {QStringLiteral("Page"), "<?xml version=\"1.0\"?>\n<html appVersion=\"0.1.0\"><KRProject/><KRPages/></html>\n",
         QStringLiteral("root element is “html”")},
        {QStringLiteral("Empty"), "<?xml version=\"1.0\"?>\n<KRProjectDocument appVersion=\"0.1.0\"/>\n",
         QStringLiteral("no project settings or no pages")},
    };
    for (const Case &bad : cases) {
        SCOPED_TRACE(bad.name.toStdString());
        alerts->clear();
        const QString package = KRAppTest::makePackage(folder, bad.name);
        KRTest::writeFile(package + QStringLiteral("/project.xml"), bad.xml);
        delegate->openRecentDocument(package);
        ASSERT_EQ(alerts->shownAlerts().size(), 1);
        EXPECT_EQ(alerts->shownAlerts().first().messageText,
                  QStringLiteral("The project “%1.krproj” could not be opened.").arg(bad.name));
        EXPECT_TRUE(alerts->shownAlerts().first().informativeText.contains(bad.why))
            << alerts->shownAlerts().first().informativeText.toStdString();
        // The run log keeps the path and the reason once the alert is gone.
        KRRunLogger::sharedInstance().flush();
        QFile log(KRRunLogger::sharedInstance().logURL());
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(log.readAll())
                        .contains(QStringLiteral("Refused to open %1: %2").arg(package, alerts->shownAlerts().first().informativeText)));
        EXPECT_TRUE(documents().isEmpty());
        for (QWidget *window : QApplication::topLevelWidgets())
            EXPECT_FALSE(window->isVisible() && window->windowTitle().contains(bad.name)) << window->windowTitle().toStdString();
        EXPECT_TRUE(KRDocumentController::sharedDocumentController().recentDocuments().paths().isEmpty());
    }
}

#include "KRApplicationDelegate.h"

#include "KRApplicationDefaults.h"
#include "KRCrashReporterWindowController.h"
#include "KRDocumentController.h"
#include "KRGalleryThumbnails.h"
#include "KRGalleryWindowController.h"
#include "KROpenProjectPanel.h"
#include "KRPreferencesWindowController.h"

#include <builder/KRBuilderSetup.h>
#include <builder/KRRuntimeServer.h>
#include <controls/KRPluginLoader.h>
#include <core/KRNodeRunner.h>
#include <core/KRRunLogger.h>
#include <ui/KRWindowControllerBase.h>
#include <model/KRDocument.h>
#include <network/KRNewsController.h>
#include <network/NetRuntimeServerSupport.h>
#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/crash/KRCrashReporter.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>
#include <widgets/help/KRActionSchemeHandler.h>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QShortcut>
#include <QTimer>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <csignal>
#include <utility>

namespace {

KRApplicationDelegate::SavePanel &appSavePanel()
{
    static KRApplicationDelegate::SavePanel panel;
    return panel;
}

KRApplicationDelegate::OpenPanel &appOpenPanel()
{
    static KRApplicationDelegate::OpenPanel panel;
    return panel;
}

// Tells the model when the application-wide runtime server answers (again).
class AppNodeRunnerDelegate final : public KRNodeRunnerDelegate
{
public:
    void nodeRunner(KRNodeRunner *, qint64 startedOnPort) override { KRRuntimeServer::serverDidStart(startedOnPort); }
    void nodeRunner(KRNodeRunner *, const QString &) override {}
};

KRCrashReporter *appCrashReporter = nullptr;
bool appWebEngineAndCatalogueDeferred = false; // until the launch
QPointer<KRNodeRunner> appNodeRunner; // the application object owns it
KRApplicationDelegate *appSharedDelegate = nullptr;
constexpr unsigned char appInspirationKey = 0x5A;

void appShowError(const QString &message, const QString &informative = {})
{
    KRAlert alert;
    alert.style = KRAlert::Style::Critical;
    alert.messageText = message;
    alert.informativeText = informative;
    KRAlertService::current().runModal(alert);
}

// The commands the application answers whichever window is in front (all of them always
// enabled).
const QHash<QString, void (*)(KRApplicationDelegate &)> &appMenuCommands()
{
    using Delegate = KRApplicationDelegate;
    static const QHash<QString, void (*)(Delegate &)> commands{
        {QStringLiteral("newDocument"), [](Delegate &d) { d.newDocument(); }},
        {QStringLiteral("openDocument"), [](Delegate &d) { d.openDocumentAction(); }},
        {QStringLiteral("about"), [](Delegate &d) { d.aboutKorvaneAction(); }},
        {QStringLiteral("inspiration"), [](Delegate &d) { d.inspAction(); }},
        {QStringLiteral("preferences"), [](Delegate &d) { d.orderFrontPrefsPanel(); }},
        {QStringLiteral("welcome"), [](Delegate &d) { d.welcomeAction(); }},
        {QStringLiteral("gallery"), [](Delegate &d) { d.galleryAction(false); }},
        {QStringLiteral("sendProblemReport"), [](Delegate &d) { d.sendProblemReportAction(); }},
        {QStringLiteral("checkUpdates"), [](Delegate &d) { d.checkUpdatesAction(); }},
        {QStringLiteral("newsAccount"), [](Delegate &d) { d.newsAccountAction(); }},
        {QStringLiteral("korvaneSite"), [](Delegate &d) { d.korvaneSiteAction(); }},
        {QStringLiteral("korvaneDocs"), [](Delegate &d) { d.korvaneDocsAction(); }},
        {QStringLiteral("korvaneVersionHistory"), [](Delegate &d) { d.korvaneVersionHistoryAction(); }},
        {QStringLiteral("quit"), [](Delegate &d) { d.terminateAction(); }},
    };
    return commands;
}

} // namespace

void KRApplicationDelegate::setSavePanel(SavePanel panel)
{
    appSavePanel() = std::move(panel);
}

void KRApplicationDelegate::setOpenPanel(OpenPanel panel)
{
    appOpenPanel() = std::move(panel);
}

QString KRApplicationDelegate::offeredPackageName(const QString &folder, const QString &name)
{
    static const QString suffix = QStringLiteral(".krproj");
    QString base = name;
    if (base.endsWith(suffix, Qt::CaseInsensitive))
        base.chop(suffix.size());
    for (QChar &c : base) {
        if (c == QLatin1Char('/') || c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    base = base.simplified();
    while (base.startsWith(QLatin1Char('.')))
        base = base.mid(1).trimmed();
    // File names hold 255 bytes: the name, a number and the suffix.
    while (base.toUtf8().size() > 200) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate())
            base.chop(1);
    }
    base = base.trimmed();
    if (base.isEmpty())
        base = QStringLiteral("Untitled");
    const QDir dir(folder);
    for (int n = 1;; ++n) {
        const QString candidate = (n == 1 ? base : QStringLiteral("%1 %2").arg(base).arg(n)) + suffix;
        // A link to nothing takes the name too.
        const QFileInfo there(dir.filePath(candidate));
        if (!there.exists() && !there.isSymLink())
            return candidate;
    }
}

void KRApplicationDelegate::runSavePanel(QWidget *parent, const QString &title, const QString &prompt, const QString &name,
                                         std::function<void(const QString &)> done)
{
    const QString directory = KRPaths::documentsDirectory(); // home when there is no documents folder
    const QString offered = offeredPackageName(directory, name);
    if (appSavePanel()) {
        appSavePanel()(parent, title, prompt, directory, offered, std::move(done));
        return;
    }
    auto *dialog = new QFileDialog(parent, title, directory);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setNameFilter(QStringLiteral("Korvane projects (*.krproj)"));
    dialog->setDefaultSuffix(QStringLiteral("krproj"));
    dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    // As in Save As: the name ready to be typed over but for its suffix.
    dialog->selectFile(offered);
    QTimer::singleShot(0, dialog, [dialog, offered] {
        if (auto *field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
            field->setFocus(Qt::OtherFocusReason);
            if (field->text() == offered)
                field->setSelection(0, int(offered.size() - QStringLiteral(".krproj").size()));
        }
    });
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [done](const QString &path) {
        QString package = path;
        if (!package.endsWith(QLatin1String(".krproj")))
            package += QStringLiteral(".krproj");
        done(package);
    });
    dialog->open();
}

void KRApplicationDelegate::startWebEngineAndCatalogue()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // Every web view shares the default profile. The in-application scheme's handler goes in
    // before the first view exists: installed later, it cuts the views already loaded off the
    // network (design views then could load no library from the runtime server). Making the
    // profile starts the web engine's processes, which takes a good part of a start.
    KRActionSchemeHandler::installIn(QWebEngineProfile::defaultProfile());

    setUpProjectBuilder();
    // Plug-in controls join the catalogue before any project opens.
    KRPluginLoader loader;
    loader.loadAllPlugins();
    for (const QString &problem : loader.problems())
        qWarning("Plug-in not loaded: %s", qPrintable(problem));
}

void KRApplicationDelegate::initialize(WebEngineStart start)
{
    static bool done = false;
    if (done)
        return;
    done = true;
    KR_LOG(QStringLiteral("**** Begin ****"));
    std::signal(SIGPIPE, SIG_IGN);
    KRApplicationDefaults::registerDefaults(KRUserDefaults::sharedInstance());
    static const KRObservationToken serviceAddress = KRApplicationDefaults::followServiceAddress(KRUserDefaults::sharedInstance());

    KRCrashReporter &reporter = appCrashReporter ? *appCrashReporter : KRCrashReporter::sharedReporter();
    if (KRCrashReporterWindowController::shouldOfferAtStart(reporter)) {
        KRCrashReporterWindowController window(reporter);
        window.runModal();
    }
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers report crashes themselves and own the fault signals.
    const bool capture = false;
#else
    const bool capture = true;
#endif
    QString error;
    if (capture && !reporter.enableCrashReporter(&error))
        qWarning("Warning: Could not enable crash reporter: %s", qPrintable(error));

    appWebEngineAndCatalogueDeferred = start == WebEngineStart::AtLaunch;
    if (!appWebEngineAndCatalogueDeferred)
        startWebEngineAndCatalogue();
    NetRuntimeServerSupport::install();
    KRNodeRunner::setLaunchFailureAlert([](const QString &message) {
        KRAlert alert;
        alert.messageText = QStringLiteral("Error");
        alert.informativeText = message;
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
    });
    appNodeRunner = new KRNodeRunner(qApp);
    appNodeRunner->setRequestedPortNumber(44069);
    KRRuntimeServer::setPortProvider([] { return appNodeRunner ? appNodeRunner->portNumber() : qint64(-1); });
    // Design views that could not load their libraries yet load them once the server answers.
    static AppNodeRunnerDelegate runnerDelegate;
    appNodeRunner->setDelegate(&runnerDelegate);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { KRNodeRunner::endAllServers(); });
    QTimer::singleShot(0, appNodeRunner, [] { appNodeRunner->start(); });
}

KRNodeRunner *KRApplicationDelegate::sharedNodeRunner()
{
    return appNodeRunner.data();
}

void KRApplicationDelegate::setCrashReporter(KRCrashReporter *reporter)
{
    appCrashReporter = reporter;
}

KRApplicationDelegate *KRApplicationDelegate::shared()
{
    return appSharedDelegate;
}

KRApplicationDelegate::KRApplicationDelegate(QObject *parent)
    : QObject(parent)
{
    if (!appSharedDelegate)
        appSharedDelegate = this;
    Q_INIT_RESOURCE(app);
    qApp->setQuitOnLastWindowClosed(false);
    connect(&KRDocumentController::sharedDocumentController(), &KRDocumentController::lastDocumentClosed, this,
            &KRApplicationDelegate::showLastDocumentClosed);
    registerMenuCommands();
    KRMainMenu::shared().setApplicationResponder(this);
    connect(&KRDocumentController::sharedDocumentController(), &KRDocumentController::documentOpened, this,
            &KRApplicationDelegate::rebuildOpenRecentMenu);
    connect(&KRDocumentController::sharedDocumentController(), &KRDocumentController::recentDocumentsChanged, this,
            &KRApplicationDelegate::rebuildOpenRecentMenu);
    if (QMenu *menu = windowMenu())
        connect(menu, &QMenu::aboutToShow, this, &KRApplicationDelegate::rebuildWindowList);
    if (QAction *submenu = KRMainMenu::shared().action(QStringLiteral("openRecent")); submenu && submenu->menu())
        connect(submenu->menu(), &QMenu::aboutToShow, this, &KRApplicationDelegate::rebuildOpenRecentMenu);
    rebuildOpenRecentMenu();
}

KRApplicationDelegate::~KRApplicationDelegate()
{
    delete m_aboutWindowController;
    delete m_galleryWindowController;
    delete m_preferencesWindowController;
    delete m_createHostingAccountWindow;
    if (appSharedDelegate == this) {
        appSharedDelegate = nullptr;
        KRMainMenu::shared().setApplicationResponder(nullptr);
    }
}

KRHTMLWindowController *KRApplicationDelegate::aboutWindowController() const
{
    return m_aboutWindowController;
}

KRGalleryWindowController *KRApplicationDelegate::galleryWindowController() const
{
    return m_galleryWindowController;
}

KRPreferencesWindowController *KRApplicationDelegate::preferencesWindowController() const
{
    return m_preferencesWindowController;
}

void KRApplicationDelegate::applicationDidFinishLaunching()
{
    KR_LOG(QString());
    // The gallery's second counts from here: what the start left to the launch runs within it.
    QTimer::singleShot(1000, Qt::PreciseTimer, this, &KRApplicationDelegate::openGalleryAtLaunch);
    if (std::exchange(appWebEngineAndCatalogueDeferred, false))
        startWebEngineAndCatalogue();
    const QStringList projects = std::exchange(m_projectsToOpenAtLaunch, {});
    m_openedProjectsAtLaunch = !projects.isEmpty();
    m_openingProjectsAtLaunch = true;
    for (const QString &path : projects)
        openRecentDocument(path);
    m_openingProjectsAtLaunch = false;
    if (std::exchange(m_galleryWaitsForProjects, false))
        openGalleryAtLaunch();
    KRNewsController::shared().loadRSS();
    // The gallery's pictures are decoded on other threads while the launch waits for it (not
    // when the launch is to reopen the last project instead).
    if (!m_openedProjectsAtLaunch && !KRUserDefaults::sharedInstance().boolValue(QStringLiteral("openLastProjectOnStartup")))
        KRGalleryThumbnails::prefetchRecentProjects();
}

void KRApplicationDelegate::applicationWillTerminate()
{
    KR_LOG(QString());
    if (appNodeRunner)
        appNodeRunner->terminate();
}

void KRApplicationDelegate::openGalleryAtLaunch()
{
    // Not before the projects asked for are open: the last project would open a second time
    // beside the one still opening, or a blank one and the gallery would come up beside it.
    if (m_openingProjectsAtLaunch) {
        m_galleryWaitsForProjects = true;
        return;
    }
    if (std::exchange(appWebEngineAndCatalogueDeferred, false))
        startWebEngineAndCatalogue();
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    const QString running = KRDocument::applicationShortVersion();
    const QString stored = defaults.stringValue(QStringLiteral("lastExecutedVersion"));
    // The welcome page on the first run and after an update; the recent list otherwise.
    const bool welcome = stored.isEmpty() || KRDocument::compareVersions(running, stored) > 0;
    defaults.setValue(QStringLiteral("lastExecutedVersion"), running);

    KRDocumentController &documents = KRDocumentController::sharedDocumentController();
    // Projects named on the command line are what the user asked to see, also on a first run
    // (Window ▸ Welcome shows the welcome page).
    if (m_openedProjectsAtLaunch && !documents.documents().isEmpty())
        return;
    // A project named on the command line that could not be opened is not replaced by
    // another: the user is told, and the gallery offers the rest.
    if (m_openedProjectsAtLaunch) {
        galleryAction(welcome);
        return;
    }
    if (documents.documents().isEmpty() && defaults.boolValue(QStringLiteral("openLastProjectOnStartup"))) {
        const QStringList recent = documents.recentDocumentPaths();
        if (!recent.isEmpty() && documents.openDocument(recent.first()) && !welcome)
            return; // the last project is what the user asked to see
    }
    if (documents.documents().isEmpty())
        newBlankDocument();
    galleryAction(welcome);
}

void KRApplicationDelegate::galleryAction(bool welcome)
{
    KR_LOG(QString());
    if (!m_galleryWindowController) {
        m_galleryWindowController = new KRGalleryWindowController(this);
        connect(m_galleryWindowController, &KRGalleryWindowController::windowClosed, this, [this] {
            if (m_galleryWindowController)
                m_galleryWindowController->deleteLater();
            m_galleryWindowController = nullptr;
        });
    }
    if (welcome)
        m_galleryWindowController->showWelcome();
    else if (m_galleryWindowController->welcomeMode())
        m_galleryWindowController->showRecentProjects(); // the Gallery command leads to the recent projects
    QPointer<KRGalleryWindowController> gallery = m_galleryWindowController;
    QTimer::singleShot(0, this, [gallery] {
        if (gallery)
            gallery->showWindow();
    });
}

void KRApplicationDelegate::welcomeAction()
{
    KR_LOG(QString());
    galleryAction(true);
}

void KRApplicationDelegate::showLastDocumentClosed()
{
    KR_LOG(QString());
    if (!m_terminating)
        galleryAction(false);
}

KRHTMLWindowController *KRApplicationDelegate::ensureAboutWindow()
{
    if (!m_aboutWindowController) {
        m_aboutWindowController = new KRHTMLWindowController(this);
        m_aboutWindowController->setDelegate(this);
        QPointer<KRHTMLWindowController> controller = m_aboutWindowController;
        // Like every window it carries the menu bar, and File ▸ Close (Ctrl+W) closes it; so
        // does Escape, as it closes a panel that only shows something.
        QWidget *window = m_aboutWindowController->window();
        window->layout()->setMenuBar(KRMainMenu::shared().createMenuBar(window));
        auto *commands = new KRWindowControllerBase(m_aboutWindowController);
        commands->setWindow(window);
        auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
        connect(escape, &QShortcut::activated, window, &QWidget::close);
        // A closed window takes its controller along; the next command makes a new one.
        m_aboutWindowController->window()->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_aboutWindowController->window(), &QObject::destroyed, this, [this, controller] {
            if (controller)
                controller->deleteLater();
            if (m_aboutWindowController == controller)
                m_aboutWindowController = nullptr;
        });
    }
    return m_aboutWindowController;
}

void KRApplicationDelegate::aboutKorvaneAction()
{
    KR_LOG(QString());
    KRHTMLWindowController *controller = ensureAboutWindow();
    const QVariantMap dictionary{{QStringLiteral("KR_VERSION"), KRDocument::applicationShortVersion()}};
    controller->setTemplateDictionary(dictionary);
    controller->window()->setWindowTitle(QStringLiteral("About Korvane"));
    controller->webView()->setHtml(KRHTMLWindowController::readTemplate(QStringLiteral(":/kr-app/About.html"), dictionary),
                                   QUrl(QStringLiteral("qrc:/kr-app/About.html")));
    KRWindowControllerBase::orderFront(controller->window()); // also out of the minimised state
}

std::optional<QJsonArray> KRApplicationDelegate::inspirationQuotes(const QByteArray &scrambled)
{
    const QJsonDocument document = QJsonDocument::fromJson(scrambleInspiration(scrambled));
    if (!document.isArray() || document.array().isEmpty())
        return std::nullopt;
    return document.array();
}

QByteArray KRApplicationDelegate::scrambleInspiration(const QByteArray &data)
{
    QByteArray result = data;
    for (char &c : result)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ appInspirationKey);
    return result;
}

int KRApplicationDelegate::inspirationIndex(qint64 secondsSince1970, int count)
{
    return count > 0 ? static_cast<int>((secondsSince1970 / 300) % count) : 0;
}

void KRApplicationDelegate::inspAction()
{
    KR_LOG(QString());
    QFile file(QStringLiteral(":/kr-app/insp.dat"));
    const std::optional<QJsonArray> quotes = file.open(QIODevice::ReadOnly) ? inspirationQuotes(file.readAll()) : std::nullopt;
    if (!quotes)
        return;
    const QJsonArray entry = quotes->at(inspirationIndex(QDateTime::currentSecsSinceEpoch(), int(quotes->size()))).toArray();
    QString quote = entry.at(0).toString().toHtmlEscaped();
    quote.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    const QVariantMap dictionary{{QStringLiteral("quote"), quote},
                                 {QStringLiteral("attribution"), entry.at(1).toString().toHtmlEscaped()}};
    KRHTMLWindowController *controller = ensureAboutWindow();
    controller->setTemplateDictionary(dictionary);
    controller->window()->setWindowTitle(QStringLiteral("Inspiration"));
    controller->webView()->setHtml(KRHTMLWindowController::readTemplate(QStringLiteral(":/kr-app/insp.html"), dictionary),
                                   QUrl(QStringLiteral("qrc:/kr-app/insp.html")));
    KRWindowControllerBase::orderFront(controller->window());
}

void KRApplicationDelegate::orderFrontPrefsPanel()
{
    KR_LOG(QString());
    if (!m_preferencesWindowController) {
        m_preferencesWindowController = new KRPreferencesWindowController(this);
        connect(m_preferencesWindowController, &KRPreferencesWindowController::windowClosed, this, [this] {
            if (m_preferencesWindowController)
                m_preferencesWindowController->deleteLater();
            m_preferencesWindowController = nullptr;
        });
    }
    m_preferencesWindowController->showWindow();
}

void KRApplicationDelegate::orderFrontCreateHostingAccount()
{
    KR_LOG(QString());
    // Accounts are made on the service's site; the window points there.
    openSiteLink(QStringLiteral("signup?utm_source=app"));
}

void KRApplicationDelegate::sendProblemReportAction()
{
    KR_LOG(QString());
    KRCrashReporterWindowController window(appCrashReporter ? *appCrashReporter : KRCrashReporter::sharedReporter());
    window.enableProblemReportMode();
    window.runModal();
}

void KRApplicationDelegate::checkUpdatesAction()
{
    openSiteLink(QStringLiteral("download?utm_source=app"));
}

void KRApplicationDelegate::newsAccountAction()
{
    openSiteLink(QStringLiteral("news?utm_source=app"));
}

void KRApplicationDelegate::openSiteLink(const QString &path)
{
    const QString site = KRUserDefaults::sharedInstance().stringValue(QStringLiteral("insecureSiteURL"));
    if (site.isEmpty()) {
        appShowError(QStringLiteral("No service address is set."),
                     QStringLiteral("The site belongs to the hosting service. Enter its address under Service "
                                    "address in the Hosting preferences."));
        return;
    }
    KROpenURLService::current().openURL(QUrl(KRApplicationDefaults::joinURL(site, path)));
}

void KRApplicationDelegate::korvaneSiteAction()
{
    openSiteLink(QStringLiteral("blog?utm_source=app"));
}

void KRApplicationDelegate::korvaneDocsAction()
{
    openSiteLink(QStringLiteral("docs?utm_source=app"));
}

void KRApplicationDelegate::korvaneVersionHistoryAction()
{
    openSiteLink(QStringLiteral("blog/version-history.html?utm_source=app"));
}

QString KRApplicationDelegate::blankProjectPath()
{
    return KRPaths::applicationSupportDirectory() + QStringLiteral("/Untitled.krproj");
}

namespace {

// Copies a folder's contents into an existing folder; links are copied as links, never
// followed.
bool appCopyFolder(const QString &from, const QString &to)
{
    const QDir source(from);
    const QFileInfoList entries = source.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isSymLink()) {
            if (!QFile::link(entry.symLinkTarget(), target))
                return false;
        } else if (entry.isDir()) {
            if (!QDir().mkdir(target) || !appCopyFolder(entry.filePath(), target))
                return false;
        } else if (!QFile::copy(entry.filePath(), target)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool KRApplicationDelegate::moveBlankProjectOutOfTemporaryFolder()
{
    const QString temporary = KRPaths::temporaryDirectory();
    if (temporary.isEmpty())
        return false;
    const QString old = temporary + QStringLiteral("/Untitled.krproj");
    const QFileInfo package(old);
    if (package.isSymLink() || !package.isDir() || !QFileInfo(old + QStringLiteral("/project.xml")).isFile())
        return false;
    const QString now = blankProjectPath();
    const QFileInfo place(now);
    // One kept there already is the one the user works on: the old one stays where it is.
    if (place.exists() || place.isSymLink())
        return false;
    if (!QDir().rename(old, now)) {
        // The temporary folder is on another file system: a copy beside the new place, renamed
        // into it once complete; the old one goes after.
        const QString staging = now + QStringLiteral(".kr-moving");
        QDir(staging).removeRecursively();
        if (!QDir().mkdir(staging) || !appCopyFolder(old, staging) || !QDir().rename(staging, now)) {
            QDir(staging).removeRecursively();
            KR_LOG(QStringLiteral("The blank project could not be moved from %1 to %2").arg(old, now));
            return false;
        }
        QDir(old).removeRecursively();
    }
    KR_LOG(QStringLiteral("The blank project moved from %1 to %2").arg(old, now));
    return true;
}

bool KRApplicationDelegate::createAndOpenProject(const QString &packagePath)
{
    const QFileInfo package(packagePath);
    if (package.isSymLink() || (package.exists() && !package.isDir())) {
        appShowError(QStringLiteral("The project “%1” could not be created.").arg(package.fileName()),
                     QStringLiteral("Something that is not a project folder is in its place."));
        return false;
    }
    if (package.isDir() && !QFileInfo(packagePath + QStringLiteral("/project.xml")).isFile()
        && !QDir(packagePath).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        appShowError(QStringLiteral("The project “%1” could not be created.").arg(package.fileName()),
                     QStringLiteral("The folder is not empty and holds no project."));
        return false;
    }
    QDir().mkpath(packagePath + QStringLiteral("/kr-web"));
    // An existing project.xml stays as it is (its permissions too); a fresh copy of the
    // read-only resource is made writable.
    const QString projectFile = packagePath + QStringLiteral("/project.xml");
    if (QFile::copy(KRResources::pathForResource(QStringLiteral("DefaultProject.xml")), projectFile))
        QFile::setPermissions(projectFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                               | QFileDevice::ReadOther);
    const auto opened = KRDocumentController::sharedDocumentController().openDocument(packagePath);
    if (!opened) {
        if (opened.error().code() != KRDocument::NewerVersionCode)
            appShowError(opened.error().message());
        return false;
    }
    return true;
}

void KRApplicationDelegate::newDocument()
{
    KR_LOG(QString());
    QPointer<KRApplicationDelegate> self(this);
    runSavePanel(nullptr, QStringLiteral("Create"), QStringLiteral("Create"), QStringLiteral("Untitled"),
                 [self](const QString &path) {
                     if (self && !path.isEmpty() && self->createAndOpenProject(path))
                         self->closeStartWindows(path);
                 });
}

void KRApplicationDelegate::closeStartWindows(const QString &opened)
{
    if (m_galleryWindowController && m_galleryWindowController->window())
        m_galleryWindowController->window()->close();
    const QString blank = QDir::cleanPath(blankProjectPath());
    if (QDir::cleanPath(opened) == blank)
        return;
    for (const auto &document : KRDocumentController::sharedDocumentController().documents()) {
        // Only one nothing was done in since it opened: a change, even saved or undone, keeps it.
        const KRUndoManager &undo = document->undoManager();
        if (QDir::cleanPath(document->fileURL()) != blank || document->isDocumentEdited() || undo.canUndo()
            || undo.canRedo())
            continue;
        if (QWidget *window = KRDocumentController::windowForDocument(*document))
            window->close();
    }
}

void KRApplicationDelegate::newBlankDocument()
{
    KR_LOG(QString());
    moveBlankProjectOutOfTemporaryFolder();
    createAndOpenProject(blankProjectPath());
}

void KRApplicationDelegate::openDocumentAction()
{
    QPointer<KRApplicationDelegate> self(this);
    auto done = [self](const QString &path) {
        if (self && !path.isEmpty())
            self->openRecentDocument(path);
    };
    if (appOpenPanel()) {
        appOpenPanel()(nullptr, KRPaths::documentsDirectory(), done);
        return;
    }
    auto *dialog = new KROpenProjectPanel(nullptr, KRPaths::documentsDirectory());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, done);
    dialog->open();
}

void KRApplicationDelegate::openRecentDocument(const QString &path)
{
    // A package that is not there any more is said to be gone by the document controller,
    // which drops it from the recent projects.
    const auto opened = KRDocumentController::sharedDocumentController().openDocument(path);
    if (!opened && opened.error().code() != KRDocument::NewerVersionCode)
        appShowError(QStringLiteral("The project “%1” could not be opened.").arg(QFileInfo(path).fileName()),
                     opened.error().message());
}

void KRApplicationDelegate::openProjectsFromAnotherStart(const QStringList &packagePaths)
{
    KR_LOG(packagePaths.join(QStringLiteral(", ")));
    if (m_terminating)
        return;
    for (const QString &path : packagePaths)
        openRecentDocument(path);
    if (!packagePaths.isEmpty())
        return;
    for (const auto &document : KRDocumentController::sharedDocumentController().documents()) {
        if (QWidget *window = KRDocumentController::windowForDocument(*document); window && window->isVisible()) {
            KRWindowControllerBase::orderFront(window);
            return;
        }
    }
    galleryAction(false);
}

bool KRApplicationDelegate::terminateAction()
{
    // A question still open (one a window other than the front one asked, say) is answered
    // with its harmless choice first; the quit goes on once its event loop has unwound, since
    // quitting from inside it would end it without an answer.
    if (KRMessageBoxAlertService::cancelOpenQuestions()) {
        QTimer::singleShot(0, this, [this] { terminateAction(); });
        return false;
    }
    if (!KRDocumentController::sharedDocumentController().reviewUnsavedDocuments())
        return false;
    m_terminating = true;
    applicationWillTerminate();
    // Every question has been asked: the windows go without being asked to close (quit()
    // would ask each one again).
    QCoreApplication::exit(0);
    return true;
}

void KRApplicationDelegate::htmlWindowControllerSelectAction(KRHTMLWindowController *, const QString &action)
{
    if (action == QLatin1String("preferences"))
        orderFrontPrefsPanel();
}

bool KRApplicationDelegate::performMenuCommand(const QString &identifier)
{
    const auto command = appMenuCommands().constFind(identifier);
    if (command == appMenuCommands().constEnd())
        return false;
    command.value()(*this);
    return true;
}

bool KRApplicationDelegate::validateMenuCommand(const QString &identifier, QAction *action)
{
    if (!appMenuCommands().contains(identifier))
        return false;
    if (action)
        action->setEnabled(true);
    return true;
}

void KRApplicationDelegate::registerMenuCommands(const std::function<void()> &windowCommands)
{
    KRMainMenu &menu = KRMainMenu::shared();
    if (menu.action(QStringLiteral("newDocument")))
        return;
    const QString file = QStringLiteral("File");
    menu.addCommand(file, QStringLiteral("newDocument"), QStringLiteral("New Project…"), QKeySequence::New);
    menu.addCommand(file, QStringLiteral("openDocument"), QStringLiteral("Open…"), QKeySequence::Open);
    menu.addSubmenu(file, QStringLiteral("openRecent"), QStringLiteral("Open Recent"));
    menu.addSeparator(file);
    if (windowCommands)
        windowCommands();
    menu.addSeparator(file);
    menu.addCommand(file, QStringLiteral("quit"), QStringLiteral("Quit"), QKeySequence::Quit);
    menu.addSeparator(QStringLiteral("Edit"));
    menu.addCommand(QStringLiteral("Edit"), QStringLiteral("preferences"), QStringLiteral("Preferences…"), QKeySequence::Preferences);
    const QString window = QStringLiteral("Window");
    menu.addCommand(window, QStringLiteral("gallery"), QStringLiteral("Gallery"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
    menu.addCommand(window, QStringLiteral("welcome"), QStringLiteral("Welcome"));
    const QString help = QStringLiteral("Help");
    menu.addCommand(help, QStringLiteral("korvaneDocs"), QStringLiteral("Korvane Documentation"), QKeySequence::HelpContents);
    menu.addCommand(help, QStringLiteral("korvaneSite"), QStringLiteral("Korvane Blog"));
    menu.addCommand(help, QStringLiteral("korvaneVersionHistory"), QStringLiteral("Version History"));
    menu.addCommand(help, QStringLiteral("newsAccount"), QStringLiteral("Follow Korvane News"));
    menu.addSeparator(help);
    menu.addCommand(help, QStringLiteral("sendProblemReport"), QStringLiteral("Send Problem Report…"));
    menu.addCommand(help, QStringLiteral("checkUpdates"), QStringLiteral("Check for Updates…"));
    menu.addSeparator(help);
    menu.addCommand(help, QStringLiteral("inspiration"), QStringLiteral("Inspiration"));
    menu.addCommand(help, QStringLiteral("about"), QStringLiteral("About Korvane"));
}

QMenu *KRApplicationDelegate::windowMenu()
{
    // The shared Window menu holds the Gallery command.
    QAction *gallery = KRMainMenu::shared().action(QStringLiteral("gallery"));
    return gallery ? qobject_cast<QMenu *>(gallery->parent()) : nullptr;
}

void KRApplicationDelegate::rebuildWindowList()
{
    QMenu *menu = windowMenu();
    if (!menu)
        return;
    for (QAction *old : std::exchange(m_windowListActions, {})) {
        menu->removeAction(old);
        old->deleteLater();
    }
    QList<QWidget *> windows;
    for (const auto &document : KRDocumentController::sharedDocumentController().documents()) {
        if (QWidget *window = KRDocumentController::windowForDocument(*document); window && window->isVisible())
            windows.append(window);
    }
    if (windows.isEmpty())
        return;
    QWidget *active = QApplication::activeWindow();
    m_windowListActions.append(menu->addSeparator());
    for (QWidget *window : windows) {
        QString title = window->windowTitle();
        title.remove(QStringLiteral("[*]"));
        auto *item = new QAction(title, menu);
        item->setCheckable(true);
        item->setChecked(window == active);
        QPointer<QWidget> target = window;
        connect(item, &QAction::triggered, this, [target] {
            if (target)
                KRWindowControllerBase::orderFront(target);
        });
        menu->addAction(item);
        m_windowListActions.append(item);
    }
}

void KRApplicationDelegate::rebuildOpenRecentMenu()
{
    QAction *submenu = KRMainMenu::shared().action(QStringLiteral("openRecent"));
    QMenu *recent = submenu ? submenu->menu() : nullptr;
    if (!recent)
        return;
    recent->clear();
    for (const QString &path : KRDocumentController::sharedDocumentController().recentDocumentPaths()) {
        QAction *item = recent->addAction(QFileInfo(path).completeBaseName());
        item->setToolTip(path);
        connect(item, &QAction::triggered, this, [this, path] { openRecentDocument(path); });
    }
    if (!recent->isEmpty()) {
        recent->addSeparator();
        connect(recent->addAction(QStringLiteral("Clear Menu")), &QAction::triggered, this, [this] {
            KRDocumentController::sharedDocumentController().recentDocuments().clear();
            rebuildOpenRecentMenu();
        });
    }
}

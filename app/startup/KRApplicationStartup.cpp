#include "KRApplicationStartup.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryWindowController.h>
#include <app/startup/KRSingleInstance.h>
#include <app/windows/KRProjectWindowHookup.h>
#include <model/KRProject.h>
#include <workspace/network/KRProxyAuthViewController.h>
#include <platform/appkit/KRDesktopResourceWorkspace.h>
#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <platform/webview/KRWebViewFactory.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cstdio>

KRApplicationStartup::Arguments KRApplicationStartup::parseArguments(const QStringList &arguments)
{
    // Read before any application object exists, so that --help and --version answer without
    // a display.
    const QString usage = QStringLiteral(
        "Usage: korvane [options] [project…]\n"
        "Designs mobile web applications and builds them into jQuery Mobile web sites.\n\n"
        "Options:\n"
        "  -h, --help     Shows this help.\n"
        "  -v, --version  Shows the version.\n\n"
        "Arguments:\n"
        "  project        A project package (a .krproj folder, or its project.xml) to open.\n");
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    Arguments result;
    if (!parser.parse(arguments)) {
        result.answer = QStringLiteral("korvane: %1\n\n%2").arg(parser.errorText(), usage);
        result.exitStatus = 2;
        return result;
    }
    if (parser.isSet(help)) {
        result.answer = usage;
        return result;
    }
    if (parser.isSet(version)) {
        result.answer = QStringLiteral("Korvane %1\n").arg(QStringLiteral(KR_VERSION_TEXT));
        return result;
    }
    for (const QString &argument : parser.positionalArguments()) {
        QFileInfo path(argument);
        // A package's project.xml names its package.
        if (path.fileName() == QLatin1String("project.xml") && path.isFile())
            path = QFileInfo(path.absolutePath());
        result.projects.append(QDir::cleanPath(path.absoluteFilePath()));
    }
    return result;
}

void KRApplicationStartup::prepareProcess()
{
    // QtWebEngine reads its schemes, sandbox setting and the shared OpenGL contexts before the
    // application object exists.
    KRWebEngineEnvironment::prepare();
    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral(KR_VERSION_TEXT));
}

void KRApplicationStartup::installServices(KRApplicationDelegate::WebEngineStart webEngine)
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    // Before the first window that holds a web view.
    KRWebEngineEnvironment::chooseViewDrawing();
    KRAlertService::setCurrent(std::make_shared<KRMessageBoxAlertService>());
    // The outline's "Open With Default Application" and "Show in File Manager".
    KRProjectResourceWorkspace::setCurrent(std::make_shared<KRDesktopResourceWorkspace>());
    KRProxyAuthViewController::installAsProxyCredentialPrompt();
    // Every page of a project draws its design document in a web view of the project's pool.
    KRProject::setWebViewFactory(std::make_shared<KRWebViewFactory>());
    KRApplicationDelegate::initialize(webEngine);
    installProjectWindows();
}

KRApplicationStartup::KRApplicationStartup(const QStringList &projects, KRApplicationDelegate::WebEngineStart webEngine)
{
    installServices(webEngine);
    m_delegate = std::make_unique<KRApplicationDelegate>();
    m_delegate->setProjectsToOpenAtLaunch(projects);
    QTimer::singleShot(0, m_delegate.get(), &KRApplicationDelegate::applicationDidFinishLaunching);
}

KRApplicationStartup::~KRApplicationStartup()
{
    closeProjectWindows();
    KRDocumentController::sharedDocumentController().closeAllDocuments();
    m_delegate.reset();
}

int KRApplicationStartup::main(int argc, char *argv[])
{
    QStringList commandLine;
    for (int i = 0; i < argc; ++i)
        commandLine.append(QString::fromLocal8Bit(argv[i]));
    const Arguments arguments = parseArguments(commandLine);
    if (arguments.answer) {
        std::fputs(arguments.answer->toLocal8Bit().constData(), arguments.exitStatus ? stderr : stdout);
        return arguments.exitStatus;
    }
    prepareProcess();
    QApplication application(argc, argv);
    // One Korvane per session: two would open the same project side by side and save over each
    // other's work. A later start hands its projects to the running one.
    KRSingleInstance instance;
    const KRSingleInstance::Result started = instance.start(arguments.projects);
    if (started.outcome == KRSingleInstance::Outcome::HandedOver)
        return 0;
    if (started.outcome == KRSingleInstance::Outcome::Refused) {
        std::fprintf(stderr, "korvane: Korvane is running but does not answer (%s). Try again once it does, or end it.\n",
                     qPrintable(started.error));
        return 1;
    }
    int status = 0;
    {
        // Nothing here makes a web view before the event loop runs.
        KRApplicationStartup startup(arguments.projects, KRApplicationDelegate::WebEngineStart::AtLaunch);
        instance.setOpener([delegate = QPointer<KRApplicationDelegate>(&startup.delegate())](const QStringList &projects) {
            if (delegate)
                delegate->openProjectsFromAnotherStart(projects);
        });
        // The start-up benchmark measures a launch up to the gallery on screen.
        QTimer quitWhenGalleryShown;
        if (qEnvironmentVariableIsSet("KR_QUIT_WHEN_GALLERY_SHOWN")) {
            KRApplicationDelegate *delegate = &startup.delegate();
            QObject::connect(&quitWhenGalleryShown, &QTimer::timeout, delegate, [delegate] {
                if (delegate->galleryWindowController() && delegate->galleryWindowController()->window()->isVisible())
                    QCoreApplication::quit();
            });
            quitWhenGalleryShown.start(5);
        }
        status = application.exec();
        instance.setOpener({});
    }
    KRAlertService::setCurrent(nullptr);
    return status;
}

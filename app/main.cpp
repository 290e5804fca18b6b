#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryWindowController.h>
#ifdef KR_HAVE_PROJECT_WINDOW
#include <app/windows/KRProjectWindowHookup.h>
#endif
#ifdef KR_HAVE_NETWORK_UI
#include <network/ui/KRProxyAuthViewController.h>
#endif

#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/webview/KRWebEngineEnvironment.h>

#include <QApplication>
#include <QTimer>

#include <memory>

int main(int argc, char *argv[])
{
    // QtWebEngine reads its schemes, sandbox setting and the shared OpenGL contexts before
    // the application object exists.
    KRWebEngineEnvironment::prepare();

    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication::setApplicationVersion(QStringLiteral(KR_VERSION_TEXT));
    QApplication application(argc, argv);

    KRAlertService::setCurrent(std::make_shared<KRMessageBoxAlertService>());
#ifdef KR_HAVE_NETWORK_UI
    KRProxyAuthViewController::installAsProxyCredentialPrompt();
#endif
    KRApplicationDelegate::initialize();
#ifdef KR_HAVE_PROJECT_WINDOW
    installProjectWindows();
#endif
    int status = 0;
    {
        KRApplicationDelegate delegate;
        QTimer::singleShot(0, &delegate, &KRApplicationDelegate::applicationDidFinishLaunching);
        // The start-up benchmark measures a launch up to the gallery on screen.
        QTimer quitWhenGalleryShown;
        if (qEnvironmentVariableIsSet("KR_QUIT_WHEN_GALLERY_SHOWN")) {
            QObject::connect(&quitWhenGalleryShown, &QTimer::timeout, &delegate, [&delegate] {
                if (delegate.galleryWindowController() && delegate.galleryWindowController()->window()->isVisible())
                    QCoreApplication::quit();
            });
            quitWhenGalleryShown.start(5);
        }
        status = application.exec();
        // Documents and their windows go while the application object exists.
#ifdef KR_HAVE_PROJECT_WINDOW
        closeProjectWindows();
#endif
        KRDocumentController::sharedDocumentController().closeAllDocuments();
    }
    KRAlertService::setCurrent(nullptr);
    return status;
}

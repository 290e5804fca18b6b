#include <app/KRApplicationDelegate.h>
#ifdef KR_HAVE_PROJECT_WINDOW
#include <app/windows/KRProjectWindowHookup.h>
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
    KRApplicationDelegate::initialize();
#ifdef KR_HAVE_PROJECT_WINDOW
    installProjectWindows();
#endif
    int status = 0;
    {
        KRApplicationDelegate delegate;
        QTimer::singleShot(0, &delegate, &KRApplicationDelegate::applicationDidFinishLaunching);
        status = application.exec();
    }
    KRAlertService::setCurrent(nullptr);
    return status;
}

#include "KRUnderConstructionWindow.h"

#include <builder/KRBuilderSetup.h>
#include <platform/appkit/KRMessageBoxAlertService.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/webview/KRWebEngineEnvironment.h>

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    // QtWebEngine reads its schemes, sandbox setting and the shared OpenGL contexts before
    // the application object exists.
    KRWebEngineEnvironment::prepare();

    QApplication::setOrganizationName(QStringLiteral("Korvane"));
    QApplication::setApplicationName(QStringLiteral("Korvane"));
    QApplication application(argc, argv);

    KRAlertService::setCurrent(std::make_shared<KRMessageBoxAlertService>());
    setUpProjectBuilder();

    KRUnderConstructionWindow window;
    window.show();
    const int status = application.exec();
    KRAlertService::setCurrent(nullptr);
    return status;
}

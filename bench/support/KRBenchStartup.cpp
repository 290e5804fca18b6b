#include "KRBenchStartup.h"

#include "KRBenchSupport.h"
#include "KRBenchTargets.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRGalleryWindowController.h>
#include <app/startup/KRApplicationStartup.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>

namespace KRBench {

int runStartedApplication(int argc, char **argv, const std::function<void()> &setUp, const std::function<void()> &tearDown)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The web engine's sandbox cannot start as root, where benchmarks often run.
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // A returning user (no welcome page) whose hosting service answers at once with nothing.
    QTemporaryDir home;
    usePrivateUserFolders(home.path());
    const QString settings = home.path() + QStringLiteral("/XDG_CONFIG_HOME/Korvane");
    QDir().mkpath(settings);
    QFile file(settings + QStringLiteral("/Korvane.conf"));
    if (file.open(QIODevice::WriteOnly))
        file.write("[General]\nlastExecutedVersion=999\napiURL=http://127.0.0.1:1/api.php\n"
                   "insecureSiteURL=http://127.0.0.1:1/\n");
    file.close();

    KRApplicationStartup::prepareProcess();
    QApplication application(argc, argv);
    {
        KRApplicationStartup startup;
        const bool launched = waitUntil(
            [&] {
                KRGalleryWindowController *gallery = startup.delegate().galleryWindowController();
                return gallery && gallery->window() && gallery->window()->isVisible();
            },
            60000, 10);
        if (!launched) {
            std::fprintf(stderr, "The application did not finish its launch.\n");
            return 1;
        }
        if (setUp)
            setUp();
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        if (tearDown)
            tearDown();
    }
    printTargets();
    return 0;
}

} // namespace KRBench

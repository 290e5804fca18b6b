// The start the start-up benchmark measures: the application as main() makes it
// (KRApplicationStartup), up to the start gallery drawn with what a returning user expects in it
// and settled (see KRBenchLaunchClock.h). Not a benchmark of its own. The gallery counts as
// usable once it is exposed and active, lists every recent project (KR_BENCH_RECENT_COUNT of
// them) with the thumbnail of each that has a preview picture, and lists the samples. The launch
// waits a second before it opens the blank project and the gallery; the work the main thread
// does during that wait (its processor time, from the first time the event loop waits to the
// blank project's opening) is reported apart.
#include "KRBenchLaunchClock.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryItemViewController.h>
#include <app/KRGalleryWindowController.h>
#include <app/startup/KRApplicationStartup.h>

#include <QAbstractEventDispatcher>
#include <QFileInfo>
#include <QListWidget>
#include <QWidget>

#include <utility>

namespace {

bool galleryIsUsable(KRGalleryWindowController *gallery, int recentCount)
{
    if (!gallery || !gallery->window()->isActiveWindow() || gallery->welcomeMode())
        return false;
    if (!gallery->recentProjectsTable->isVisible() || gallery->recentProjects().size() != recentCount)
        return false;
    for (KRGalleryItemViewController *row : gallery->recentProjects()) {
        if (QFileInfo(row->url().toLocalFile() + QStringLiteral("/preview.png")).isFile() && !row->hasThumbnail())
            return false;
    }
    return gallery->samplesTable->isVisible() && !gallery->samples().isEmpty();
}

} // namespace

int main(int argc, char *argv[])
{
    KRApplicationStartup::prepareProcess();
    KRBenchLaunch::Application application(argc, argv);
    const int recentCount = qEnvironmentVariableIntValue("KR_BENCH_RECENT_COUNT");
    int status = 0;
    {
        KRApplicationStartup startup({}, KRApplicationDelegate::WebEngineStart::AtLaunch); // as main() starts it
        KRApplicationDelegate &delegate = startup.delegate();
        application.watch(
            [&delegate]() -> QWidget * {
                KRGalleryWindowController *gallery = delegate.galleryWindowController();
                return gallery ? gallery->window() : nullptr;
            },
            [&delegate, recentCount] { return galleryIsUsable(delegate.galleryWindowController(), recentCount); });
        // The wait begins once the launch has run (the event loop's first wait) and ends with
        // the blank project that the launch opens after it.
        bool waited = false;
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &application, [&] {
            if (!std::exchange(waited, true))
                application.setMarked(true);
        });
        QObject::connect(&KRDocumentController::sharedDocumentController(), &KRDocumentController::documentOpened, &application,
                         [&] { application.setMarked(false); });
        status = application.exec();
    }
    return status;
}

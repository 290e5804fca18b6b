// The start the start-up benchmark measures: the application as main() makes it
// (KRApplicationStartup), up to the start gallery's window exposed, which ends its launch. Not a
// benchmark of its own. The launch waits a second before it opens the blank project and the
// gallery; the work the main thread does during that wait (its processor time, from the first
// time the event loop waits to the blank project's opening) is reported apart.
#include "KRBenchLaunchClock.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <app/KRGalleryWindowController.h>
#include <app/startup/KRApplicationStartup.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QWidget>

#include <utility>

int main(int argc, char *argv[])
{
    KRApplicationStartup::prepareProcess();
    QApplication application(argc, argv);
    int status = 0;
    {
        KRApplicationStartup startup;
        KRApplicationDelegate &delegate = startup.delegate();
        KRBenchLaunch::Clock clock([&delegate]() -> QWindow * {
            KRGalleryWindowController *gallery = delegate.galleryWindowController();
            return gallery && gallery->window() ? gallery->window()->windowHandle() : nullptr;
        });
        // The wait begins once the launch has run (the event loop's first wait) and ends with
        // the blank project that the launch opens after it.
        bool waited = false;
        QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, &clock, [&] {
            if (!std::exchange(waited, true))
                clock.setMarked(true);
        });
        QObject::connect(&KRDocumentController::sharedDocumentController(), &KRDocumentController::documentOpened, &clock,
                         [&] { clock.setMarked(false); });
        status = application.exec();
    }
    return status;
}

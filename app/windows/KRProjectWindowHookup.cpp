#include "KRProjectWindowHookup.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <model/KRDocument.h>
#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>

void installProjectWindows()
{
    KRApplicationDelegate::registerMenuCommands([] { KRWindowController::registerMenuCommands(); });
    KRProjectWindows::install();
    KRDocumentController::setProjectOpener([](const QString &packagePath) -> KRResult<std::shared_ptr<KRDocument>> {
        KRResult<KRWindowController *> opened = KRProjectWindows::openProject(packagePath);
        if (!opened)
            return opened.error();
        return (*opened)->document().shared_from_this();
    });
}

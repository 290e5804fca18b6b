#include "KRProjectWindowHookup.h"

#include <app/KRApplicationDelegate.h>
#include <app/KRDocumentController.h>
#include <controls/KRBluffGraph.h>
#include <model/KRDocument.h>
#include <workspace/window/KRProjectWindows.h>
#include <workspace/window/KRWindowController.h>

void installProjectWindows()
{
    KRApplicationDelegate::registerMenuCommands([] { KRWindowController::registerMenuCommands(); });
    KRProjectWindows::install();
    // A chart's design script pauses while objects are dragged in any project window.
    KRBluffGraph::setDraggingProvider([] {
        for (KRWindowController *controller : KRProjectWindows::openWindows()) {
            if (controller->isDragging())
                return true;
        }
        return false;
    });
    KRDocumentController::setProjectOpener([](const QString &packagePath) -> KRResult<std::shared_ptr<KRDocument>> {
        KRResult<KRWindowController *> opened = KRProjectWindows::openProject(packagePath);
        if (!opened)
            return opened.error();
        return (*opened)->document().shared_from_this();
    });
    // At quit each project window asks its own question, the one closing it asks.
    KRDocumentController::setWindowReview([](const std::shared_ptr<KRDocument> &document) -> std::optional<bool> {
        for (KRWindowController *controller : KRProjectWindows::openWindows()) {
            if (&controller->document() != document.get())
                continue;
            if (controller->hasUnsavedChanges()) {
                if (QWidget *window = controller->projectWindow()) {
                    window->show();
                    window->raise();
                }
            }
            return controller->shouldCloseDocument();
        }
        return std::nullopt;
    });
    KRDocumentController::setDocumentLister([] {
        QList<std::shared_ptr<KRDocument>> documents;
        for (KRWindowController *controller : KRProjectWindows::openWindows())
            documents.append(controller->document().shared_from_this());
        return documents;
    });
}

void closeProjectWindows()
{
    KRDocumentController::sharedDocumentController().closeAllDocuments();
    KRProjectWindows::closeAll();
}

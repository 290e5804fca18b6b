#include <workspace/window/KRProjectWindows.h>

#include <workspace/window/KRWindowController.h>

#include <model/KRDocument.h>

#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>

namespace {

struct KRProjectWindowsEntry {
    std::shared_ptr<KRDocument> document;
    KRWindowController *controller = nullptr; // owned by the document
};

QList<KRProjectWindowsEntry> &krProjectWindowsOpen()
{
    static QList<KRProjectWindowsEntry> open;
    return open;
}

// Documents whose windows have closed, dropped on the next pass of the event loop (or by
// closeAll): a window is still inside its close event when it asks.
QList<std::shared_ptr<KRDocument>> &krProjectWindowsClosing()
{
    static QList<std::shared_ptr<KRDocument>> closing;
    return closing;
}

void krProjectWindowsDropClosed()
{
    const QList<std::shared_ptr<KRDocument>> closing = std::exchange(krProjectWindowsClosing(), {});
    for (const auto &document : closing)
        document->close();
}

void krProjectWindowsForget(KRWindowController *controller)
{
    auto &open = krProjectWindowsOpen();
    for (qsizetype i = 0; i < open.size(); ++i) {
        if (open[i].controller != controller)
            continue;
        krProjectWindowsClosing().append(open.takeAt(i).document);
        QTimer::singleShot(0, &krProjectWindowsDropClosed);
        return;
    }
}

} // namespace

namespace KRProjectWindows {

void install()
{
    KRDocument::setWindowControllerFactory([](KRDocument &document) -> std::unique_ptr<KRDocumentWindowController> {
        return std::make_unique<KRWindowController>(document);
    });
    KRWindowController::registerMenuCommands();
}

KRWindowController *showDocument(const std::shared_ptr<KRDocument> &document)
{
    install();
    document->makeWindowControllers();
    auto *controller = dynamic_cast<KRWindowController *>(document->krWindowController());
    if (!controller)
        return nullptr;
    krProjectWindowsOpen().append({document, controller});
    QObject::connect(controller, &KRWindowController::windowDidClose, controller,
                     [controller] { krProjectWindowsForget(controller); });
    if (QWidget *window = controller->projectWindow()) {
        // The window opens zoomed to the screen where the screen is large enough for it.
        const QScreen *screen = window->screen();
        if (screen && screen->availableSize().width() >= window->minimumWidth()
            && screen->availableSize().height() >= window->minimumHeight())
            window->showMaximized();
        else
            window->show();
        window->raise();
        window->activateWindow();
    }
    return controller;
}

KRResult<KRWindowController *> openProject(const QString &packagePath)
{
    const QString canonical = QFileInfo(packagePath).absoluteFilePath();
    for (const KRProjectWindowsEntry &entry : std::as_const(krProjectWindowsOpen())) {
        if (QFileInfo(entry.document->fileURL()).absoluteFilePath() == canonical) {
            entry.controller->projectWindow()->raise();
            entry.controller->projectWindow()->activateWindow();
            return entry.controller;
        }
    }
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(packagePath);
    if (!document)
        return document.error();
    return showDocument(*document);
}

KRResult<KRWindowController *> newProject()
{
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::makeUntitled();
    if (!document)
        return document.error();
    return showDocument(*document);
}

void closeProject(KRWindowController *controller)
{
    auto &open = krProjectWindowsOpen();
    for (qsizetype i = 0; i < open.size(); ++i) {
        if (open[i].controller != controller)
            continue;
        std::shared_ptr<KRDocument> document = open.takeAt(i).document;
        document->close();
        return;
    }
}

KRWindowController *reopenProject(KRWindowController *controller)
{
    const QString path = controller->document().fileURL();
    KRResult<std::shared_ptr<KRDocument>> document = KRDocument::openPackage(path);
    if (!document)
        return nullptr;
    const QRect geometry = controller->projectWindow()->geometry();
    // The old window closes now and goes on the next pass: the command that asked for this
    // runs inside it.
    controller->closeWindowWithoutAsking();
    KRWindowController *fresh = showDocument(*document);
    if (fresh)
        fresh->projectWindow()->setGeometry(geometry);
    return fresh;
}

QList<KRWindowController *> openWindows()
{
    QList<KRWindowController *> controllers;
    for (const KRProjectWindowsEntry &entry : std::as_const(krProjectWindowsOpen()))
        controllers << entry.controller;
    return controllers;
}

void closeAll()
{
    krProjectWindowsDropClosed();
    while (!krProjectWindowsOpen().isEmpty())
        closeProject(krProjectWindowsOpen().first().controller);
}

} // namespace KRProjectWindows

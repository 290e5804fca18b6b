#include "KRDocumentController.h"

#include "KRApplicationDelegate.h"

#include <core/KRRunLogger.h>
#include <ui/KRProjectWindowController.h>
#include <model/KRDocument.h>
#include <model/KRProjectBase.h>
#include <platform/appkit/KRRecentDocuments.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace {

KRDocumentController::ProjectOpener &documentControllerOpener()
{
    static KRDocumentController::ProjectOpener opener;
    return opener;
}

KRDocumentController::DocumentLister &documentControllerLister()
{
    static KRDocumentController::DocumentLister lister;
    return lister;
}

KRDocumentController::WindowReview &documentControllerWindowReview()
{
    static KRDocumentController::WindowReview review;
    return review;
}

} // namespace

void KRDocumentController::setDocumentLister(DocumentLister lister)
{
    documentControllerLister() = std::move(lister);
}

void KRDocumentController::setWindowReview(WindowReview review)
{
    documentControllerWindowReview() = std::move(review);
}

QList<std::shared_ptr<KRDocument>> KRDocumentController::documents() const
{
    const DocumentLister &lister = documentControllerLister();
    return lister ? lister() : m_documents;
}

void KRDocumentController::setProjectOpener(ProjectOpener opener)
{
    documentControllerOpener() = std::move(opener);
}

KRDocumentController &KRDocumentController::sharedDocumentController()
{
    static auto *controller = new KRDocumentController(KRUserDefaults::sharedInstance());
    return *controller;
}

KRDocumentController::KRDocumentController(KRUserDefaults &defaults, QObject *parent)
    : QObject(parent)
    , m_recent(std::make_unique<KRRecentDocuments>(defaults))
{
    m_saveObservation = KRNotificationCenter::defaultCenter().addObserver(
        KRDidSaveDocumentNotification, nullptr,
        [this](const KRNotification &notification) { documentDidSave(notification.sender); });
}

KRDocumentController::~KRDocumentController() = default;

std::shared_ptr<KRDocument> KRDocumentController::documentForPath(const QString &packagePath) const
{
    const QString wanted = QFileInfo(packagePath).absoluteFilePath();
    for (const auto &document : documents()) {
        if (!document->fileURL().isEmpty() && QFileInfo(document->fileURL()).absoluteFilePath() == wanted)
            return document;
    }
    return nullptr;
}

QWidget *KRDocumentController::windowForDocument(const KRDocument &document)
{
    auto *controller = dynamic_cast<KRProjectWindowController *>(document.krWindowController());
    return controller ? controller->window() : nullptr;
}

KRResult<std::shared_ptr<KRDocument>> KRDocumentController::openDocument(const QString &packagePath, bool display)
{
    if (auto open = documentForPath(packagePath)) {
        if (QWidget *window = windowForDocument(*open); window && display) {
            window->show();
            window->raise();
            window->activateWindow();
        }
        return open;
    }
    const ProjectOpener &opener = documentControllerOpener();
    // One process holds every window: a project that fails to open, however it fails, is
    // said to have failed and leaves the other windows and their work as they are.
    const auto failure = [](const std::exception &exception) {
        const auto *known = dynamic_cast<const KRException *>(&exception);
        return KRError(known ? known->name() : QStringLiteral("KRDocumentErrorDomain"), 0,
                       known ? known->reason() : QString::fromLocal8Bit(exception.what()));
    };
    // The reason goes into the run log too, beside the path: the alert that shows it is gone
    // once answered.
    const auto refused = [&packagePath](KRError error) {
        QString line = QStringLiteral("Refused to open %1: %2").arg(packagePath, error.message());
        line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' ')); // one line each
        KR_LOG(line);
        return error;
    };
    KRResult<std::shared_ptr<KRDocument>> opened = KRError(QStringLiteral("KRDocumentErrorDomain"), 0, QString());
    try {
        opened = opener ? opener(packagePath) : KRDocument::openPackage(packagePath);
    } catch (const std::exception &exception) {
        return refused(failure(exception));
    }
    if (!opened) {
        refused(opened.error());
        // Moved, renamed or deleted since it was listed: no recent project any more.
        if (opened.error().domain() == KRDocument::ProjectErrorDomain && opened.error().code() == KRDocument::NotThereCode)
            forgetRecent(packagePath);
        return opened;
    }
    std::shared_ptr<KRDocument> document = *opened;
    m_documents.append(document);
    m_knownPaths.insert(document->identity(), QDir::cleanPath(QFileInfo(packagePath).absoluteFilePath()));
    if (!opener) {
        try {
            document->makeWindowControllers();
        } catch (const std::exception &exception) {
            m_documents.removeOne(document);
            m_knownPaths.remove(document->identity());
            document->close();
            return refused(failure(exception));
        }
    }
    noteRecent(packagePath);
    if (QWidget *window = windowForDocument(*document)) {
        window->installEventFilter(this);
        if (display) {
            window->show();
            window->raise();
            window->activateWindow();
        }
    }
    KR_LOG(QStringLiteral("Opened %1").arg(packagePath));
    emit documentOpened();
    return document;
}

void KRDocumentController::removeDocument(const std::shared_ptr<KRDocument> &document)
{
    if (!m_documents.removeOne(document))
        return;
    m_knownPaths.remove(document->identity());
    if (!documentControllerOpener())
        document->close();
    if (m_documents.isEmpty())
        emit lastDocumentClosed();
}

void KRDocumentController::closeAllDocuments()
{
    const QList<std::shared_ptr<KRDocument>> open = std::exchange(m_documents, {});
    if (!documentControllerOpener()) {
        for (const auto &document : open)
            document->close();
    }
}

bool KRDocumentController::eventFilter(QObject *watched, QEvent *event)
{
    // The window decides whether it closes, and may ask first (the question's event loop runs
    // the look below while the window is still up): looked at again once it has hidden.
    if (event->type() == QEvent::Close || (event->type() == QEvent::Hide && !event->spontaneous())) {
        QPointer<QWidget> window = qobject_cast<QWidget *>(watched);
        QTimer::singleShot(0, this, [this, window] {
            for (const auto &document : m_documents) {
                QWidget *own = windowForDocument(*document);
                if (own && (own == window || !window) && !own->isVisible()) {
                    removeDocument(document);
                    return;
                }
            }
        });
    }
    return QObject::eventFilter(watched, event);
}

bool KRDocumentController::hasVisibleWindows() const
{
    for (const auto &document : documents()) {
        if (QWidget *window = windowForDocument(*document); window && window->isVisible())
            return true;
    }
    return false;
}

bool KRDocumentController::isScratchPackage(const QString &packagePath)
{
    const QString folder = KRPaths::temporaryDirectory();
    if (folder.isEmpty() || packagePath.isEmpty())
        return false;
    const QString temporary = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString package = QDir::cleanPath(QFileInfo(packagePath).absoluteFilePath());
    // The blank start-up project is reopened as such, not through the recent list.
    return package == temporary || package.startsWith(temporary + QLatin1Char('/'))
           || package == QDir::cleanPath(KRApplicationDelegate::blankProjectPath());
}

void KRDocumentController::noteRecent(const QString &packagePath)
{
    if (packagePath.isEmpty() || isScratchPackage(packagePath))
        return;
    m_recent->noteDocument(packagePath);
    emit recentDocumentsChanged();
}

void KRDocumentController::forgetRecent(const QString &packagePath)
{
    if (!m_recent->paths().contains(QDir::cleanPath(QFileInfo(packagePath).absoluteFilePath())))
        return;
    m_recent->removeDocument(packagePath);
    emit recentDocumentsChanged();
}

void KRDocumentController::documentDidSave(const void *identity)
{
    for (const auto &document : documents()) {
        if (document->identity() != identity)
            continue;
        // Only a save to another package (Save As) changes the list: a plain save keeps the
        // list's order.
        if (document->fileURL().isEmpty())
            return;
        const QString path = QDir::cleanPath(QFileInfo(document->fileURL()).absoluteFilePath());
        const auto known = m_knownPaths.constFind(identity);
        const QStringList recent = m_recent->paths();
        const bool moved = known != m_knownPaths.constEnd() ? known.value() != path
                                                            : recent.isEmpty() || QDir::cleanPath(recent.first()) != path;
        m_knownPaths.insert(identity, path);
        if (moved)
            noteRecent(path);
        return;
    }
}

QStringList KRDocumentController::recentDocumentPaths() const
{
    QStringList existing;
    for (const QString &path : m_recent->paths()) {
        if (isScratchPackage(path))
            continue;
        if (QFileInfo(path + QStringLiteral("/project.xml")).isFile())
            existing.append(path);
    }
    return existing;
}

bool KRDocumentController::reviewUnsavedDocuments()
{
    for (const auto &document : documents()) {
        if (const WindowReview &review = documentControllerWindowReview()) {
            if (const std::optional<bool> mayQuit = review(document)) {
                if (!*mayQuit)
                    return false;
                continue;
            }
        }
        // Edited resources (a stylesheet open in an editor) are saved with the document too.
        const std::shared_ptr<KRProjectBase> project = document->project();
        if (!document->isDocumentEdited() && (!project || project->modifiedResourceCache().isEmpty()))
            continue;
        if (QWidget *window = windowForDocument(*document)) {
            window->show();
            window->raise();
        }
        const QString name = document->fileURL().isEmpty() ? QStringLiteral("Untitled")
                                                            : QFileInfo(document->fileURL()).completeBaseName();
        KRAlert alert;
        alert.messageText = QStringLiteral("Do you want to save the changes made to the document “%1”?").arg(name);
        alert.informativeText = QStringLiteral("Your changes will be lost if you don’t save them.");
        alert.buttonTitles = {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don’t Save")};
        const int answer = KRAlertService::current().runModal(alert);
        if (answer == KRAlertService::SecondButtonReturn)
            return false;
        if (answer == KRAlertService::FirstButtonReturn) {
            const KRResult<void> saved = document->save();
            if (!saved && saved.error().code() == KRDocument::SaveCancelledCode)
                return false;
            if (!saved) {
                KRAlert failure;
                failure.messageText = saved.error().message();
                KRAlertService::current().runModal(failure);
                return false;
            }
        }
    }
    return true;
}

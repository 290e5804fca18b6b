#include <workspace/window/KRWindowController.h>
#include <workspace/window/KRProjectWindows.h>

#include <core/KRRunLogger.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRPaths.h>

#include <QFileDialog>
#include <QFileInfo>

namespace {

void krWindowShowSaveFailure(const KRError &error)
{
    if (error.code() == KRDocument::SaveCancelledCode)
        return; // the user chose Cancel: nothing went wrong
    KRAlert alert;
    alert.style = KRAlert::Style::Critical;
    alert.messageText = QStringLiteral("The document could not be saved.");
    alert.informativeText = error.message();
    KRAlertService::current().runModal(alert);
}

} // namespace

QString KRWindowController::panelStartFolder() const
{
    const QString package = m_document.fileURL();
    const QString parent = package.isEmpty() ? QString() : QFileInfo(package).absolutePath();
    // The blank start-up project lives in the application's own folders, which are no place
    // to offer for the user's projects.
    const auto inside = [&parent](const QString &folder) {
        return !folder.isEmpty() && (parent == folder || parent.startsWith(folder + QLatin1Char('/')));
    };
    if (parent.isEmpty() || !QFileInfo(parent).isDir() || inside(KRPaths::applicationSupportDirectory())
        || inside(KRPaths::temporaryDirectory()))
        return KRPaths::documentsDirectory();
    return parent;
}

bool KRWindowController::hasUnsavedChanges() const
{
    if (m_document.isDocumentEdited())
        return true;
    return m_project && !m_project->modifiedResourceCache().isEmpty();
}

bool KRWindowController::saveDocument()
{
    KR_LOG(QString());
    if (m_document.fileURL().isEmpty())
        return saveDocumentAs();
    if (!commitEditing())
        return false;
    KRResult<void> saved = m_document.save();
    if (!saved) {
        krWindowShowSaveFailure(saved.error());
        return false;
    }
    m_window->setWindowModified(false);
    KRMainMenu::shared().validate();
    return true;
}

bool KRWindowController::saveDocumentAs()
{
    KR_LOG(QString());
    QStringList chosen;
    if (savePathChooser()) {
        chosen = savePathChooser()(m_window.get());
    } else {
        // Beside the project, under its name.
        QFileDialog dialog(m_window.get(), QStringLiteral("Save As"), panelStartFolder());
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.selectFile(m_document.fileURL().isEmpty() ? QStringLiteral("Untitled.krproj")
                                                         : QFileInfo(m_document.fileURL()).fileName());
        dialog.setNameFilter(QStringLiteral("Korvane projects (*.krproj)"));
        dialog.setDefaultSuffix(QStringLiteral("krproj"));
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles();
    }
    if (chosen.isEmpty())
        return false;
    QString path = chosen.first();
    if (!path.endsWith(QLatin1String(".krproj")))
        path += QLatin1String(".krproj");
    return saveDocumentTo(path);
}

bool KRWindowController::saveDocumentTo(const QString &packagePath)
{
    if (!commitEditing())
        return false;
    KRResult<void> saved = m_document.saveToPackage(packagePath);
    if (!saved) {
        krWindowShowSaveFailure(saved.error());
        return false;
    }
    m_window->setWindowTitle(QFileInfo(packagePath).completeBaseName());
    m_window->setWindowFilePath(packagePath);
    m_window->setWindowModified(false);
    KRMainMenu::shared().validate();
    return true;
}

void KRWindowController::revertDocumentToSaved()
{
    KR_LOG(QString());
    if (m_document.fileURL().isEmpty() || !hasUnsavedChanges())
        return;
    KRAlert alert;
    alert.messageText = QStringLiteral("Do you want to revert to the most recently saved version of the document “%1”?")
                            .arg(QFileInfo(m_document.fileURL()).completeBaseName());
    alert.informativeText = QStringLiteral("Your current changes will be lost.");
    alert.buttonTitles = {QStringLiteral("Revert"), QStringLiteral("Cancel")};
    alert.destructive = true;
    if (KRAlertService::current().runModal(alert) != KRAlertService::FirstButtonReturn)
        return;
    KRProjectWindows::reopenProject(this);
}

void KRWindowController::closeWindowWithoutAsking()
{
    m_closing = true;
    m_window->close();
}

bool KRWindowController::shouldCloseDocument()
{
    if (!hasUnsavedChanges())
        return true;
    const QString name = m_document.fileURL().isEmpty() ? QStringLiteral("Untitled")
                                                        : QFileInfo(m_document.fileURL()).completeBaseName();
    KRAlert alert;
    alert.messageText = QStringLiteral("Do you want to save the changes made to the document “%1”?").arg(name);
    alert.informativeText = QStringLiteral("Your changes will be lost if you don’t save them.");
    alert.buttonTitles = {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don’t Save")};
    switch (KRAlertService::current().runModal(alert)) {
    case KRAlertService::FirstButtonReturn:
        return saveDocument();
    case KRAlertService::ThirdButtonReturn:
        return true;
    default:
        return false;
    }
}

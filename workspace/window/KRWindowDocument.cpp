#include <workspace/window/KRWindowController.h>
#include <workspace/window/KRProjectWindows.h>

#include <core/KRRunLogger.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

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
        // Beside the project, under a name that is free there, its part before the suffix
        // selected: typing replaces it, and Return saves rather than going into a package.
        const QString folder = panelStartFolder();
        const QString offered = offeredSaveName(folder);
        QFileDialog dialog(m_window.get(), QStringLiteral("Save As"), folder);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilter(QStringLiteral("Korvane projects (*.krproj)"));
        dialog.setDefaultSuffix(QStringLiteral("krproj"));
        dialog.selectFile(offered);
        QTimer::singleShot(0, &dialog, [&dialog, offered] {
            if (auto *field = dialog.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
                field->setFocus(Qt::OtherFocusReason);
                if (field->text() == offered)
                    field->setSelection(0, int(offered.size() - QStringLiteral(".krproj").size()));
            }
        });
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

QString KRWindowController::offeredSaveName(const QString &folder) const
{
    // A project saved before is offered as a copy of itself ("Name copy", "Name copy 2", …);
    // the blank start-up project, which lives in the application's own folders, under its own
    // name ("Untitled", "Untitled 2", …) in the folder offered.
    const QString package = m_document.fileURL();
    const bool ownFolder = !package.isEmpty() && QFileInfo(package).absolutePath() == folder;
    QString base = package.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(package).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("Untitled");
    const QDir dir(folder);
    for (int n = 1;; ++n) {
        QString name = base;
        if (ownFolder)
            name += n == 1 ? QStringLiteral(" copy") : QStringLiteral(" copy %1").arg(n);
        else if (n > 1)
            name += QStringLiteral(" %1").arg(n);
        name += QStringLiteral(".krproj");
        // A link to nothing takes the name too.
        const QFileInfo there(dir.filePath(name));
        if (!there.exists() && !there.isSymLink())
            return name;
    }
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

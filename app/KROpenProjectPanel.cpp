#include "KROpenProjectPanel.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>

KROpenProjectPanel::KROpenProjectPanel(QWidget *parent, const QString &directory)
    : QFileDialog(parent, QStringLiteral("Open"), directory)
{
    // Qt's own chooser, whose ways into a folder can be told apart, on every desktop.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::Directory);
    setOption(QFileDialog::ShowDirsOnly);
    setNameFilter(QStringLiteral("Korvane projects (*.krproj)"));
    setLabelText(QFileDialog::Accept, QStringLiteral("Open"));
    connect(this, &QFileDialog::directoryEntered, this, &KROpenProjectPanel::directoryWasEntered);
}

bool KROpenProjectPanel::isProjectPackage(const QString &path)
{
    return QFileInfo(QDir::cleanPath(path)).fileName().endsWith(QLatin1String(".krproj"));
}

QString KROpenProjectPanel::chosenPath() const
{
    // What is typed, where anything is; else the one folder chosen in the list.
    const auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QString typed = name ? name->text() : QString();
    if (!typed.isEmpty()) {
        if (typed == QLatin1String("~") || typed.startsWith(QLatin1String("~/")))
            typed = QDir::homePath() + typed.mid(1);
        return QDir::cleanPath(directory().absoluteFilePath(typed));
    }
    const QStringList selected = selectedFiles();
    return selected.size() == 1 ? QDir::cleanPath(selected.first()) : QString();
}

void KROpenProjectPanel::accept()
{
    const QString chosen = chosenPath();
    if (!chosen.isEmpty() && QFileInfo(chosen).isDir()) {
        if (isProjectPackage(chosen)) {
            // The chooser's own choice is this one, whatever else its list holds selected.
            selectFile(chosen);
        } else {
            walkInto(chosen);
            return;
        }
    }
    QFileDialog::accept();
}

void KROpenProjectPanel::walkInto(const QString &folder)
{
    setDirectory(folder);
    // What was chosen outside is no choice inside.
    if (auto *list = findChild<QAbstractItemView *>(QStringLiteral("listView")); list && list->selectionModel())
        list->selectionModel()->clear();
    if (auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
        name->clear();
        // Nor does the completion of the name typed come back over the folder's list once the
        // folder has been read.
        if (QCompleter *completer = name->completer()) {
            completer->setCompletionPrefix(QString());
            completer->popup()->hide();
        }
    }
}

void KROpenProjectPanel::directoryWasEntered(const QString &directory)
{
    if (!isProjectPackage(directory))
        return;
    // Gone into a project (a double click on it, Return on its row): back beside it, before
    // anything of its inside is drawn, and it opens once the chooser's own handling is done.
    const QFileInfo package(QDir::cleanPath(directory));
    setDirectory(package.absolutePath());
    QTimer::singleShot(0, this, [this, path = package.absoluteFilePath()] {
        selectFile(path);
        accept();
    });
}

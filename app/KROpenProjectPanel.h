#pragma once

#include <QFileDialog>

// The File ▸ Open… chooser. A project is a folder ("<name>.krproj"), which a folder chooser
// would walk into: here a project opens however it is gone into (a double click, Return on
// its row, its path typed), and any other folder is walked into however it is chosen (Open,
// Return, its path typed), never opened as a project.
class KROpenProjectPanel : public QFileDialog
{
public:
    explicit KROpenProjectPanel(QWidget *parent, const QString &directory);

    // Whether the folder at the path is a project package, by its name.
    static bool isProjectPackage(const QString &path);

    void accept() override;

private:
    // The folder the user means: the path typed, else the one chosen in the list.
    QString chosenPath() const;
    void walkInto(const QString &folder);
    void directoryWasEntered(const QString &directory);
};

#pragma once

#include <QList>
#include <QString>

// One file or folder of the project's web folder, as the document's save needs it (the
// project's resource list provides them).
struct KRResourceEntry
{
    QString name;         // file name
    QString relativePath; // inside the web folder; the key of the modified-resource cache
    bool isDirectory = false;
    QList<KRResourceEntry> children;
};

#pragma once

// Copies a folder's files (hidden ones too, sub-folders made as needed) into another folder,
// replacing files of the same name. For tests and benchmarks that work on copies of shipped
// projects; Qt Core only, so benchmarks include it too.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace KRTest {

// False when the source folder is missing or a file could not be copied.
inline bool copyTree(const QString &from, const QString &to)
{
    const QDir source(from);
    if (!source.exists())
        return false;
    QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(file);
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        if (!QFile::copy(file, target))
            return false;
    }
    return true;
}

} // namespace KRTest

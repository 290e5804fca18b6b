#include "KRGeneratedFileList.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

namespace {

const QString kStaged = QStringLiteral("staged");

QString listPath(const QString &folder)
{
    return folder + QLatin1Char('/') + QLatin1String(KRProjectResource::GeneratedFileListName);
}

bool isDigest(const QString &text)
{
    return text.size() == 64 && std::all_of(text.cbegin(), text.cend(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
           });
}

} // namespace

KRGeneratedFileList KRGeneratedFileList::read(const QString &folder)
{
    KRGeneratedFileList list;
    const QFileInfo info(listPath(folder));
    if (info.isSymLink() || (info.exists() && (!info.isFile() || info.size() > MaximumSize))) {
        KR_LOG(QStringLiteral("The list of generated files %1 is no list a build wrote; it is not read").arg(info.filePath()));
        return list;
    }
    const KRResult<QByteArray> bytes = KRFileManager::readPackageFile(info.filePath(), MaximumSize);
    if (!bytes)
        return list;
    const QStringList lines = QString::fromUtf8(bytes.value()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() < 2)
            continue;
        if (fields.at(0) == kStaged) {
            const QString name = line.section(QLatin1Char(' '), 1);
            if (KRWebFolder::isPlainFileName(name))
                list.addStaged(name);
            continue;
        }
        if (fields.size() < 3)
            continue;
        File entry;
        bool sizeOK = false;
        bool dateOK = false;
        entry.size = fields.at(0).toLongLong(&sizeOK);
        entry.modified = fields.at(1).toLongLong(&dateOK);
        if (fields.size() >= 4 && isDigest(fields.at(2))) {
            entry.digest = fields.at(2).toLatin1();
            entry.name = line.section(QLatin1Char(' '), 3);
        } else {
            entry.name = line.section(QLatin1Char(' '), 2);
        }
        if (sizeOK && dateOK && KRWebFolder::isPlainFileName(entry.name))
            list.files.append(entry);
    }
    return list;
}

KRResult<void> KRGeneratedFileList::write(const QString &folder) const
{
    QString text;
    for (const File &file : files)
        text += QStringLiteral("%1 %2 %3 %4\n").arg(file.size).arg(file.modified).arg(QString::fromLatin1(file.digest), file.name);
    for (const QString &name : staged)
        text += kStaged + QLatin1Char(' ') + name + QLatin1Char('\n');
    // Without a sync, as the files it lists: a torn list leaves files of this build behind for
    // the user to delete, and costs nothing else.
    return KRFileManager::writeFileAtomically(listPath(folder), text.toUtf8(), false);
}

const KRGeneratedFileList::File *KRGeneratedFileList::file(const QString &name) const
{
    for (const File &entry : files) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

void KRGeneratedFileList::addStaged(const QString &name)
{
    if (!staged.contains(name))
        staged.append(name);
}

bool KRGeneratedFileList::isStillListedFile(const File &file, const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() != file.size)
        return false;
    if (modifiedMSecs(path) == file.modified)
        return true;
    return !file.digest.isEmpty() && digestOfFile(path) == file.digest;
}

bool KRGeneratedFileList::lists(const QString &folder, const QString &name) const
{
    if (isStaged(name))
        return true;
    const File *entry = file(name);
    return entry && isStillListedFile(*entry, folder + QLatin1Char('/') + name);
}

QByteArray KRGeneratedFileList::digest(std::initializer_list<QByteArrayView> parts)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QByteArrayView part : parts)
        hash.addData(part);
    return hash.result().toHex();
}

QByteArray KRGeneratedFileList::digestOfFile(const QString &path)
{
    const KRResult<QByteArray> bytes = KRFileManager::readPackageFile(path);
    if (!bytes)
        return {};
    return digest({bytes.value()});
}

qint64 KRGeneratedFileList::modifiedMSecs(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

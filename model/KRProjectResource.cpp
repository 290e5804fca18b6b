#include "KRProjectResource.h"

#include <core/KRArray.h>
#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <core/QZZipArchive.h>
#include <model/KREditableResourceTypes.h>
#include <model/KRProjectResourceCache.h>
#include <model/KRProjectResourceWorkspace.h>
#include <model/KRWebFolder.h>
#include <model/KRWebFolderOwner.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <iterator>

// Only the last extension counts ("blue.min.css" has "css"), and a leading full stop does not
// start one (".htaccess" has none).
static qsizetype extensionDot(const QString &name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > slash + 1 ? dot : -1;
}

QString KRProjectResource::pathExtension(const QString &name)
{
    const qsizetype dot = extensionDot(name);
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString KRProjectResource::deletingPathExtension(const QString &name)
{
    const qsizetype dot = extensionDot(name);
    return dot < 0 ? name : name.left(dot);
}

const KREditableResourceType *KRProjectResource::resourceTypeInfo()
{
    if (!m_resourceType)
        m_resourceType = KREditableResourceTypes::shared().typeForExtension(pathExtension(m_fullPath));
    return m_resourceType;
}

bool KRProjectResource::isTheme()
{
    if (!m_isTheme)
        m_isTheme = m_isGenerated ? false : fileIsJQMTheme(m_fullPath);
    return *m_isTheme;
}

bool KRProjectResource::isSelectedTheme()
{
    if (!isTheme())
        return false;
    const auto folder = project();
    return folder && folder->owner()
        && deletingPathExtension(m_name) == folder->owner()->defaultTheme();
}

QString KRProjectResource::themeRelativePath() const
{
    const qsizetype slash = m_relativePath.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : m_relativePath.left(slash + 1);
    const QString fileName = slash < 0 ? m_relativePath : m_relativePath.mid(slash + 1);
    return folder + QStringLiteral("__") + fileName;
}

std::optional<QString> KRProjectResource::stringContents() const
{
    if (const auto folder = project()) {
        const KRProjectResourceCache &cache = folder->modifiedResourceCache();
        if (const auto bytes = cache.contents(m_relativePath))
            return KRProjectResourceCache::decode(*bytes, cache.encoding(m_relativePath));
    }
    const KRResult<QByteArray> bytes = KRFileManager::readPackageFile(m_fullPath);
    if (!bytes) {
        KR_LOG(bytes.error().toString());
        return std::nullopt;
    }
    return KRProjectResourceCache::decode(bytes.value(), QString());
}

QString KRProjectResource::md5Sum() const
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (const KRResult<QByteArray> bytes = KRFileManager::readPackageFile(m_fullPath))
        hash.addData(bytes.value());
    return QString::fromLatin1(hash.result().toHex());
}

bool KRProjectResource::deleteResource()
{
    const QFileInfo info(m_fullPath);
    bool removed;
    if (info.isDir() && !info.isSymLink())
        removed = QDir(m_fullPath).removeRecursively();
    else
        removed = QFile::remove(m_fullPath);
    if (!removed) {
        KRWebFolder::showError(KRError(QString::fromLatin1(KRWebFolder::ErrorDomain),
                                       KRWebFolder::WriteFailed,
                                       QStringLiteral("\u201C%1\u201D couldn\u2019t be removed.").arg(m_name),
                                       {{QStringLiteral("path"), m_fullPath}}));
        return false;
    }
    // Edited bytes of a deleted file must not be written over a later file of the same path.
    if (const auto folder = project())
        folder->modifiedResourceCache().removeTree(m_relativePath);
    return true;
}

bool KRProjectResource::isGeneratedFileName(const QString &name, const QStringList &pageIDs)
{
    static const QStringList fixedNames = {
        QStringLiteral("KR-user-scripts.js"), QStringLiteral("KRObjects-min.js"), QStringLiteral("cache.manifest"),
        QStringLiteral("KR-sitemap.xml"),     QStringLiteral("robots.txt"),
        QString::fromLatin1(GeneratedFileListName)};
    if (fixedNames.contains(name))
        return true;
    for (const char *extension : {".html", ".krml"}) {
        if (name.endsWith(QLatin1String(extension))
            && pageIDs.contains(name.left(name.size() - qsizetype(qstrlen(extension)))))
            return true;
    }
    return false;
}

bool KRProjectResource::renameResource(const QString &newName)
{
    const QString folderPath = QFileInfo(m_fullPath).path();
    const QString destination = folderPath + QLatin1Char('/') + newName;
    const auto folder = project();
    // Generated files are written at the top of the web folder only.
    const bool topLevel = !m_relativePath.contains(QLatin1Char('/'));
    KRError error;
    if (const KRResult<void> valid = KRWebFolder::checkFileName(newName); !valid) {
        error = valid.error();
    } else if (topLevel && KRWebFolder::isReservedName(newName, folder ? folder->owner() : nullptr)) {
        error = KRWebFolder::reservedNameError(newName);
    } else if (QFileInfo(destination).exists() || QFileInfo(destination).isSymLink()) {
        error = KRError(QString::fromLatin1(KRWebFolder::ErrorDomain), KRWebFolder::ItemExists,
                        QStringLiteral("\u201C%1\u201D couldn\u2019t be moved because an item with the name \u201C%2\u201D already exists.")
                            .arg(m_name, newName));
    } else if (!QDir().rename(m_fullPath, destination)) {
        error = KRError(QString::fromLatin1(KRWebFolder::ErrorDomain), KRWebFolder::WriteFailed,
                        QStringLiteral("\u201C%1\u201D couldn\u2019t be renamed to \u201C%2\u201D.").arg(m_name, newName));
    }
    if (error) {
        KRWebFolder::showError(error);
        return false;
    }
    if (folder) {
        // Unsaved edits follow the file (and, for a folder, the files below it) to the new name.
        const int slash = m_relativePath.lastIndexOf(QLatin1Char('/'));
        const QString renamed = slash < 0 ? newName : m_relativePath.left(slash + 1) + newName;
        QMap<QString, QVariant> &entries = folder->modifiedResourceCache().mutableEntries();
        QMap<QString, QVariant> moved;
        for (auto it = entries.begin(); it != entries.end();) {
            const QString &entryKey = it.key();
            const bool below = entryKey.startsWith(m_relativePath + QLatin1Char('/'));
            if (below || entryKey == m_relativePath || entryKey == KRProjectResourceCache::encodingKey(m_relativePath)) {
                moved.insert(renamed + entryKey.mid(m_relativePath.size()), it.value());
                it = entries.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = moved.cbegin(); it != moved.cend(); ++it)
            entries.insert(it.key(), it.value());
        folder->reloadResources();
    }
    return true;
}

// The resource's real path (links followed) when it lies inside its project's web folder;
// otherwise shows why it is not handed to the desktop and answers empty. A project can come
// from anyone, and a link in it may lead anywhere on the disk.
static QString pathInsideWebFolder(const KRProjectResource &resource)
{
    const std::shared_ptr<KRWebFolder> folder = resource.project();
    const QString web = folder ? QFileInfo(folder->krwebPath()).canonicalFilePath() : QString();
    const QString real = QFileInfo(resource.fullPath()).canonicalFilePath();
    if (!web.isEmpty() && !real.isEmpty() && real.startsWith(web + QLatin1Char('/')))
        return real;
    KRWebFolder::showError(KRError(QString::fromLatin1(KRWebFolder::ErrorDomain), KRWebFolder::OutsidePackage,
                                   QStringLiteral("\u201C%1\u201D is not inside the project\u2019s folder, so it is not opened.")
                                       .arg(resource.name().isEmpty() ? resource.fullPath() : resource.name())));
    return {};
}

bool KRProjectResource::revealResourceInFinder() const
{
    KRProjectResourceWorkspace *workspace = KRProjectResourceWorkspace::current();
    if (!workspace) {
        KR_LOG(QStringLiteral("No file viewer to reveal %1").arg(m_fullPath));
        return false;
    }
    const QString path = pathInsideWebFolder(*this);
    if (path.isEmpty())
        return false;
    return workspace->selectItem(path, QFileInfo(path).path());
}

bool KRProjectResource::openResourceWithFinder() const
{
    KRProjectResourceWorkspace *workspace = KRProjectResourceWorkspace::current();
    if (!workspace) {
        KR_LOG(QStringLiteral("No desktop service to open %1").arg(m_fullPath));
        return false;
    }
    const QString path = pathInsideWebFolder(*this);
    if (path.isEmpty())
        return false;
    // The desktop's opener runs programs and launchers: a project's file never gets there.
    const QFileInfo info(path);
    const bool launcher = info.suffix().compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0
                          || QFileInfo(m_fullPath).suffix().compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0;
    if (info.isFile() && (launcher || info.isExecutable())) {
        KRWebFolder::showError(KRError(QString::fromLatin1(KRWebFolder::ErrorDomain), KRWebFolder::NotOpened,
                                       QStringLiteral("\u201C%1\u201D is not opened because it is %2.")
                                           .arg(info.fileName(), launcher ? QStringLiteral("a desktop launcher")
                                                                          : QStringLiteral("a program"))));
        return false;
    }
    return workspace->openURL(QUrl::fromLocalFile(path));
}

// True when the file is valid UTF-8 and holds the selectors every jQuery Mobile theme has.
// Looked at in blocks; the selectors are ASCII, so they are looked for in the bytes.
static bool isUTF8WithThemeSelectors(QIODevice &file)
{
    static constexpr qint64 blockSize = qint64(1) << 20;
    static const QByteArray selectors[] = {".ui-btn", ".ui-body-a", ".ui-bar-a", ".ui-shadow"};
    static constexpr qsizetype overlap = 9; // the longest selector but one byte
    bool found[std::size(selectors)] = {};
    QStringDecoder decoder(QStringConverter::Utf8);
    QByteArray carried; // the end of the previous block, for a selector split across blocks
    QByteArray tail;    // the last bytes read, to find a sequence cut off at the end
    for (;;) {
        const QByteArray block = file.read(blockSize);
        if (block.isEmpty())
            break;
        const QString text = decoder.decode(block); // only to check the bytes
        if (decoder.hasError())
            return false;
        const QByteArray window = carried + block;
        for (std::size_t i = 0; i < std::size(selectors); ++i)
            found[i] = found[i] || window.contains(selectors[i]);
        carried = window.right(overlap);
        tail = window.right(4);
    }
    // A multi-byte sequence cut off at the end of the file is invalid too.
    for (qsizetype i = tail.size() - 1; i >= 0 && i >= tail.size() - 4; --i) {
        const auto byte = quint8(tail.at(i));
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte
        const qsizetype length = byte < 0x80 ? 1 : byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
        if (tail.size() - i < length)
            return false;
        break;
    }
    return std::all_of(std::begin(found), std::end(found), [](bool f) { return f; });
}

bool KRProjectResource::fileIsJQMTheme(const QString &path)
{
    if (!path.endsWith(QLatin1String(".css")))
        return false;
    const QString mark = QString::fromLatin1(IsThemeMark);
    const QString cached = KRFileManager::extendedAttributeOfItemAtPath(path, mark);
    if (!cached.isEmpty())
        return cached == QLatin1String("true");

    // Only a regular file of a style sheet's size is read: a pipe or a link to a device in the
    // package would block the test, or never end.
    bool theme = false;
    KRResult<QByteArray> bytes = KRFileManager::readPackageFile(path);
    if (bytes) {
        QBuffer buffer(&bytes.value());
        if (buffer.open(QIODevice::ReadOnly))
            theme = isUTF8WithThemeSelectors(buffer);
    } else {
        KR_LOG(bytes.error().toString());
    }
    // The verdict is kept on the file itself; a link's would go to the file it leads to,
    // which may be anyone's.
    if (!QFileInfo(path).isSymLink())
        KRFileManager::setExtendedAttributeOfItemAtPath(path, mark,
                                                        theme ? QStringLiteral("true") : QStringLiteral("false"));
    return theme;
}

QString KRProjectResource::zipFileJQMTheme(const QString &path, KRError *error)
{
    const auto names = QZZipArchive::contentsOfZipFileAtPath(path, QString());
    if (!names.ok()) {
        if (error)
            *error = names.error();
        return {};
    }
    const QStringList themes =
        KRArray::stringsMatchingRegex(names.value(), QStringLiteral("themes/[\\w,\\s\\.-]+.css"));
    // Looked up in a set: an archive of many such names costs one look-up per name.
    const QSet<QString> themeSet(themes.cbegin(), themes.cend());
    for (const QString &name : themes) {
        if (themeSet.contains(deletingPathExtension(name) + QStringLiteral(".min.css")))
            return name;
    }
    return {};
}

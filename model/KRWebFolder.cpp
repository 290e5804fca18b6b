#include "KRWebFolder.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <core/QZZipArchive.h>
#include <model/KRGeneratedFileList.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolderOwner.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRResources.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <functional>

#include <dirent.h>

static KRError webFolderError(int code, const QString &message, const QString &path = {})
{
    QVariantMap info;
    if (!path.isEmpty())
        info.insert(QStringLiteral("path"), path);
    return KRError(QString::fromLatin1(KRWebFolder::ErrorDomain), code, message, info);
}

namespace {

bool isAsciiLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

} // namespace

QString KRWebFolder::addressForFileName(const QString &name)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(name, QByteArrayLiteral("/")));
}

bool KRWebFolder::isAbsoluteAddress(const QString &link)
{
    // A scheme and "//", or "//" alone: a path of the site's files never has an empty segment.
    if (link.startsWith(QLatin1String("//")))
        return true;
    const qsizetype schemeEnd = link.indexOf(QLatin1String("://"));
    if (schemeEnd < 1 || !isAsciiLetter(link.at(0)))
        return false;
    for (qsizetype i = 1; i < schemeEnd; ++i) {
        const QChar c = link.at(i);
        if (!isAsciiLetter(c) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('+')
            && c != QLatin1Char('-') && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

QString KRWebFolder::linkAddress(const QString &link)
{
    return isAbsoluteAddress(link) ? link : addressForFileName(link);
}

KRResult<void> KRWebFolder::checkFileName(const QString &name)
{
    // A name with a line break is not repeated in the message: it would break the message.
    const bool oneLine = std::none_of(name.cbegin(), name.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || u == 0x7F || u == 0x85 || u == 0x2028 || u == 0x2029;
    });
    const auto refused = [&](const QString &why) {
        const QString named = oneLine && !name.isEmpty() ? QStringLiteral("\u201C%1\u201D").arg(name)
                                                         : QStringLiteral("The name");
        return webFolderError(InvalidName, QStringLiteral("%1 is not a valid file name: %2.").arg(named, why));
    };
    if (name.isEmpty())
        return refused(QStringLiteral("a name can\u2019t be empty"));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return refused(QStringLiteral("it names a folder, not a file"));
    // A hidden file is never listed, so it could be neither seen nor deleted.
    if (name.startsWith(QLatin1Char('.')))
        return refused(QStringLiteral("a name starting with \u201C.\u201D is hidden"));
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return refused(QStringLiteral("a name can\u2019t contain \u201C/\u201D or \u201C\\\u201D"));
    // A name is one line of text: it is listed in line-based files (the cache manifest, the
    // list of generated files), where a line break would start an entry of its own.
    if (!oneLine)
        return refused(QStringLiteral("a name can\u2019t contain line breaks or other control characters"));
    if (name.toUtf8().size() > 255)
        return refused(QStringLiteral("a name can\u2019t be longer than 255 bytes"));
    return {};
}

KRResult<void> KRWebFolder::checkPackageWebFolder(const QString &packagePath)
{
    const QString web = QDir::cleanPath(packagePath) + QLatin1Char('/') + QLatin1String(WebFolderName);
    const QFileInfo info(web);
    if (!info.isSymLink())
        return {};
    // A link is a web folder only when it leads to a folder of the package itself: anything
    // opening, building or saving the project would otherwise write where it leads.
    const QString package = QFileInfo(packagePath).canonicalFilePath();
    const QString real = info.canonicalFilePath();
    if (!package.isEmpty() && !real.isEmpty() && real.startsWith(package + QLatin1Char('/')) && QFileInfo(real).isDir())
        return {};
    const QString where = real.isEmpty() ? QStringLiteral("nothing") : QStringLiteral("\u201C%1\u201D").arg(real);
    KR_LOG(QStringLiteral("The web folder %1 leads out of its package to %2").arg(web, where));
    return webFolderError(OutsidePackage,
                          QStringLiteral("The web folder \u201C%1\u201D is a link to %2, outside the project package.")
                              .arg(QLatin1String(WebFolderName), where),
                          web);
}

static bool itemExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Asks a question whose first button is the only one that leads to the action (destructive:
// one that Return does not choose).
static bool askFirstButton(const QString &title, const QString &text, const QStringList &buttons,
                           bool destructive = false)
{
    KRAlert alert;
    alert.messageText = title;
    alert.informativeText = text;
    alert.buttonTitles = buttons;
    alert.destructive = destructive;
    return KRAlertService::current().runModal(alert) == KRAlertService::FirstButtonReturn;
}

// Copies a file or folder to a destination that must not exist yet. The copy is made under a
// hidden name beside the destination and renamed into place when complete, so a failure
// leaves nothing behind and the resource list never shows a half-copied item.
static KRResult<void> copyItem(const QString &source, const QString &destination)
{
    const QFileInfo sourceInfo(source);
    const QString name = QFileInfo(destination).fileName();
    if (!sourceInfo.exists()) {
        return webFolderError(KRWebFolder::CopyFailed,
                              QStringLiteral("The file \u201C%1\u201D couldn\u2019t be opened because there is no such file.")
                                  .arg(sourceInfo.fileName()),
                              source);
    }
    if (itemExists(destination)) {
        return webFolderError(KRWebFolder::ItemExists,
                              QStringLiteral("\u201C%1\u201D couldn\u2019t be copied because an item with the same name already exists.")
                                  .arg(name),
                              destination);
    }
    const QString parent = QFileInfo(destination).absolutePath();
    if (!QFileInfo(parent).isDir()) {
        return webFolderError(KRWebFolder::CopyFailed,
                              QStringLiteral("\u201C%1\u201D couldn\u2019t be copied because the folder \u201C%2\u201D does not exist.")
                                  .arg(name, parent),
                              destination);
    }
    const QString sourceCanonical = sourceInfo.canonicalFilePath();
    const QString parentCanonical = QFileInfo(parent).canonicalFilePath();
    const bool isFolder = sourceInfo.isDir() && !sourceInfo.isSymLink();
    if (isFolder
        && (parentCanonical == sourceCanonical
            || parentCanonical.startsWith(sourceCanonical + QLatin1Char('/')))) {
        return webFolderError(KRWebFolder::CopyFailed,
                              QStringLiteral("\u201C%1\u201D couldn\u2019t be copied into itself.").arg(name),
                              destination);
    }

    const QString temporary = parent + QStringLiteral("/.kr-copy-")
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    // A folder's links are copied as links only when they lead inside it, so the copy never
    // leads back out to the folder it came from or beyond.
    bool copied;
    QString reason;
    if (isFolder) {
        copied = KRFileManager::copyItemWithin(source, temporary, sourceCanonical, &reason);
    } else {
        // Only a regular file of bounded size: a pipe or a device would never end.
        const KRResult<void> file = KRFileManager::copyPackageFile(source, temporary);
        copied = file.ok();
        if (!copied)
            reason = file.error().message();
    }
    // rename(2) would replace a file created meanwhile at the destination: check again.
    if (copied && !itemExists(destination))
        copied = QDir().rename(temporary, destination);
    else
        copied = false;
    if (!copied) {
        KRFileManager::removeItemRecursively(temporary);
        if (!reason.isEmpty())
            return webFolderError(KRWebFolder::CopyFailed, reason, destination);
        return webFolderError(KRWebFolder::CopyFailed,
                              QStringLiteral("\u201C%1\u201D couldn\u2019t be copied to \u201C%2\u201D.")
                                  .arg(sourceInfo.fileName(), parent),
                              destination);
    }
    return {};
}

std::shared_ptr<KRWebFolder> KRWebFolder::create(KRWebFolderOwner *owner)
{
    return std::shared_ptr<KRWebFolder>(new KRWebFolder(owner));
}

KRWebFolder::KRWebFolder(KRWebFolderOwner *owner) : m_owner(owner)
{
    KR_ASSERT(owner, "a web folder needs its project");
}

KRWebFolder::~KRWebFolder()
{
    if (!m_temporaryPath.isEmpty() && !m_borrowedTemporaryPath)
        QDir(m_temporaryPath).removeRecursively();
}

void KRWebFolder::useTemporaryWebFolder(const QString &path)
{
    const std::lock_guard lock(m_temporaryPathLock);
    if (!m_temporaryPath.isEmpty() && !m_borrowedTemporaryPath)
        QDir(m_temporaryPath).removeRecursively();
    m_temporaryPath = path;
    m_borrowedTemporaryPath = true;
}

QString KRWebFolder::krwebPath()
{
    const QString package = m_owner->packagePath();
    if (!package.isEmpty())
        return QDir::cleanPath(package) + QLatin1Char('/') + QLatin1String(WebFolderName);
    // Each untitled project gets a fresh folder of its own: a shared one would show one
    // project's files in another and carry leftovers of earlier sessions into a new package.
    // Made once, whichever thread asks first (pages for a build are made on several).
    const std::lock_guard lock(m_temporaryPathLock);
    if (m_temporaryPath.isEmpty()) {
        const QString path = KRFileManager::pathForTemporaryFileWithPrefix(QStringLiteral("krweb-temp"));
        if (QDir::isAbsolutePath(path) && QDir().mkpath(path))
            m_temporaryPath = path;
        else
            KR_LOG(QStringLiteral("No temporary web folder could be made at %1").arg(path));
    }
    return m_temporaryPath;
}

QUrl KRWebFolder::krwebURL()
{
    const QString path = krwebPath();
    return path.isEmpty() ? QUrl() : QUrl::fromLocalFile(path + QLatin1Char('/'));
}

const QList<std::shared_ptr<KRProjectResource>> &KRWebFolder::resources()
{
    // Listed once; the list stays as it is until reloadResources, which is never called while
    // a build makes pages.
    const std::lock_guard lock(m_resourcesLock);
    if (!m_resources) {
        QList<std::shared_ptr<KRProjectResource>> list;
        const QString path = krwebPath();
        m_skippedFiles.clear();
        if (!path.isEmpty()) {
            loadResourcesFromPath(path, QString(), list, &m_skippedFiles);
            markListedBuildOutput(path, list);
        }
        m_resources = std::move(list);
    }
    return *m_resources;
}

void KRWebFolder::reloadResources()
{
    m_owner->resourcesWillChange();
    {
        const std::lock_guard lock(m_resourcesLock);
        m_resources.reset();
    }
    m_owner->resourcesDidChange();
}

QStringList KRWebFolder::skippedFiles()
{
    resources();
    const std::lock_guard lock(m_resourcesLock);
    return m_skippedFiles;
}

void KRWebFolder::loadResourcesFromPath(const QString &path, const QString &basePath,
                                        QList<std::shared_ptr<KRProjectResource>> &array, QStringList *skipped)
{
    const QStringList names = QDir(path).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    const QString generatedMark = QString::fromLatin1(KRProjectResource::GeneratedFileMark);
    const QString stagedMark = QString::fromLatin1(KRProjectResource::StagedFileMark);
    // Names that are not UTF-8 (old archives carry them) reach no QString path: such an item
    // is no resource, and the user is told which ones, as for a pipe.
    QSet<QByteArray> onDisk;
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    const bool listed = dir != nullptr;
    if (dir) {
        while (const struct dirent *entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            onDisk.insert(name);
            if (name.startsWith('.') || KRFileManager::isDecodableName(name))
                continue;
            const QString relativePath = KRFileManager::displayPath(basePath.isEmpty() ? name : QFile::encodeName(basePath) + '/' + name);
            const QString line = QStringLiteral("%1/%2 has a name that is not UTF-8; it is skipped")
                                     .arg(QLatin1String(WebFolderName), relativePath);
            KR_LOG(line);
            if (skipped)
                skipped->append(line);
        }
        ::closedir(dir);
    }
    for (const QString &name : names) {
        if (name.startsWith(QLatin1Char('.')) || (listed && !onDisk.contains(QFile::encodeName(name))))
            continue;
        // Reading a pipe or a device blocks or never ends: such an item is no resource.
        const QString relativePath = basePath.isEmpty() ? name : basePath + QLatin1Char('/') + name;
        if (const QString kind = KRFileManager::specialFileKind(path + QLatin1Char('/') + name); !kind.isEmpty()) {
            const QString line = QStringLiteral("%1/%2 is %3, not a regular file; it is skipped")
                                     .arg(QLatin1String(WebFolderName), relativePath, kind);
            KR_LOG(line);
            if (skipped)
                skipped->append(line);
            continue;
        }
        auto resource = std::make_shared<KRProjectResource>();
        resource->setProject(weak_from_this());
        resource->setName(name);
        resource->setFullPath(path + QLatin1Char('/') + name);
        resource->setRelativePath(basePath.isEmpty() ? name : basePath + QLatin1Char('/') + name);
        array.append(resource);
        const QString fullPath = resource->fullPath();
        resource->setIsGenerated(KRFileManager::extendedAttributeOfItemAtPath(fullPath, generatedMark)
                                 == QLatin1String("true"));
        resource->setIsStaged(KRFileManager::extendedAttributeOfItemAtPath(fullPath, stagedMark)
                              == QLatin1String("true"));
        // A link to a folder is listed as an item of its own, never followed: a link back up
        // the tree would otherwise never end.
        const QFileInfo info(fullPath);
        if (info.isDir() && !info.isSymLink()) {
            resource->setIsDirectory(true);
            loadResourcesFromPath(fullPath, resource->relativePath(), resource->contents(), skipped);
        } else {
            resource->setFileSize(info.size());
        }
    }
}

// Whatever the builder's list names is build output too, marked or not: a project copied by a
// tool that keeps no extended attributes (cp -r) has lost the marks. A staged folder is the
// builder's with everything in it.
void KRWebFolder::markListedBuildOutput(const QString &path, const QList<std::shared_ptr<KRProjectResource>> &array)
{
    const KRGeneratedFileList listed = KRGeneratedFileList::read(path);
    if (listed.files.isEmpty() && listed.staged.isEmpty())
        return;
    const std::function<void(const KRProjectResource &)> stageContents = [&](const KRProjectResource &folder) {
        for (const auto &child : folder.contents()) {
            child->setIsStaged(true);
            stageContents(*child);
        }
    };
    for (const auto &resource : array) {
        if (resource->isGenerated() || resource->isStaged())
            continue;
        if (listed.isStaged(resource->name())) {
            resource->setIsStaged(true);
            stageContents(*resource);
        } else if (const KRGeneratedFileList::File *file = listed.file(resource->name());
                   file && KRGeneratedFileList::isStillListedFile(*file, resource->fullPath())) {
            resource->setIsGenerated(true);
        }
    }
}

QStringList KRWebFolder::themes()
{
    QStringList names;
    for (const auto &resource : resources()) {
        if (resource->isTheme())
            names.append(KRProjectResource::deletingPathExtension(resource->name()));
    }
    return names;
}

std::shared_ptr<KRProjectResource> KRWebFolder::resourceForThemeName(const QString &name)
{
    for (const auto &resource : resources()) {
        if (KRProjectResource::deletingPathExtension(resource->name()) == name)
            return resource;
    }
    return nullptr;
}

bool KRWebFolder::isReservedName(const QString &name, const KRWebFolderOwner *owner)
{
    return KRProjectResource::isGeneratedFileName(name, owner ? owner->pageIDs() : QStringList());
}

KRError KRWebFolder::reservedNameError(const QString &name)
{
    return webFolderError(InvalidName,
                          QStringLiteral("\u201C%1\u201D is the name of a file the build writes; the next build "
                                         "would replace it. Choose another name.")
                              .arg(name));
}

bool KRWebFolder::validateNewResourceName(const QString &name)
{
    if (!isPlainFileName(name) || isReservedName(name, m_owner))
        return false;
    for (const auto &resource : resources()) {
        if (resource->name() == name)
            return false;
    }
    return true;
}

bool KRWebFolder::createResource(const QString &name, const QString &templateFile)
{
    if (const KRResult<void> valid = checkFileName(name); !valid) {
        showError(valid.error());
        return false;
    }
    if (isReservedName(name, m_owner)) {
        showError(reservedNameError(name));
        return false;
    }
    const QString source = KRResources::pathForResource(templateFile);
    if (templateFile.isEmpty() || !QFileInfo(source).isFile()) {
        showError(webFolderError(MissingTemplate,
                                 QStringLiteral("The template \u201C%1\u201D is missing from the application\u2019s resources.")
                                     .arg(templateFile),
                                 source));
        return false;
    }
    const QString folder = krwebPath();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        showError(webFolderError(NoWebFolder, QStringLiteral("The project\u2019s web folder cannot be created."), folder));
        return false;
    }
    const bool imported = importResource(source, folder + QLatin1Char('/') + name);
    reloadResources();
    return imported;
}

bool KRWebFolder::addResource(const QString &sourcePath)
{
    const QString folder = krwebPath();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        showError(webFolderError(NoWebFolder, QStringLiteral("The project\u2019s web folder cannot be created."), folder));
        return false;
    }
    const QString name = QFileInfo(QDir::cleanPath(sourcePath)).fileName();
    const bool imported = importResource(sourcePath, folder + QLatin1Char('/') + name);
    reloadResources();
    return imported;
}

bool KRWebFolder::importResource(const QString &sourcePath, const QString &destinationPath)
{
    // Generated files lie at the top of the web folder only.
    const QFileInfo destinationInfo(destinationPath);
    if (QDir::cleanPath(destinationInfo.absolutePath()) == QDir::cleanPath(QFileInfo(krwebPath()).absoluteFilePath())
        && isReservedName(destinationInfo.fileName(), m_owner)) {
        showError(reservedNameError(destinationInfo.fileName()));
        return false;
    }
    // A pipe or a device is never read, not even as an archive (the archive reader opens it
    // by its path); the copy below refuses one too, on what it opened.
    if (const QString kind = KRFileManager::specialFileKind(sourcePath); !kind.isEmpty()) {
        showError(webFolderError(CopyFailed,
                                 QStringLiteral("\u201C%1\u201D is %2, not a regular file, so it is not read.")
                                     .arg(QFileInfo(sourcePath).fileName(), kind),
                                 sourcePath));
        return false;
    }
    QString source = sourcePath;
    QString destination = destinationPath;
    QString extractionFolder;
    QString themeName;

    if (KRProjectResource::pathExtension(destination).compare(QLatin1String("zip"), Qt::CaseInsensitive) == 0) {
        KRError listingError;
        const QString entry = KRProjectResource::zipFileJQMTheme(source, &listingError);
        if (listingError.code() == QZZipArchive::TooLarge
            && listingError.domain() == QLatin1String(QZZipArchive::ErrorDomain)) {
            // An archive of more entries than any theme has is refused as one that unpacks
            // to too much is.
            showError(KRError(listingError.domain(), listingError.code(),
                              QStringLiteral("\u201C%1\u201D can\u2019t be imported: %2.")
                                  .arg(QFileInfo(source).fileName(), listingError.message()),
                              {{QStringLiteral("path"), source}}));
            return false;
        }
        if (!entry.isEmpty()) {
            extractionFolder = KRFileManager::pathForTemporaryFileWithPrefix(QStringLiteral("kr-theme-extraction"));
            KRError error;
            const QString extracted = extractionFolder + QLatin1Char('/') + entry;
            if (!QZZipArchive::unzipFileAtPath(source, entry, extractionFolder, true, QString(), &error)) {
                KR_LOG(QStringLiteral("Theme extraction from %1 failed: %2").arg(source, error.toString()));
                if (error.code() == QZZipArchive::TooLarge) {
                    // An archive built to fill the disk is not imported at all.
                    QDir(extractionFolder).removeRecursively();
                    showError(KRError(error.domain(), error.code(),
                                      QStringLiteral("\u201C%1\u201D can\u2019t be imported: %2.")
                                          .arg(QFileInfo(source).fileName(), error.message()),
                                      {{QStringLiteral("path"), source}}));
                    return false;
                }
            } else if (KRProjectResource::fileIsJQMTheme(extracted)
                       && askFirstButton(
                           QStringLiteral("Extract jQuery Mobile Theme?"),
                           QStringLiteral("This ZIP archive appears to contain the jQuery Mobile Theme CSS file '%1'. Would you like Korvane to extract the theme CSS file, or import the entire ZIP archive?")
                               .arg(entry),
                           {QStringLiteral("Extract Theme"), QStringLiteral("Import ZIP Archive")})) {
                const QString fileName = QFileInfo(entry).fileName();
                source = extracted;
                destination = QFileInfo(destination).path() + QLatin1Char('/') + fileName;
                themeName = KRProjectResource::deletingPathExtension(fileName);
            }
        }
    }

    // A name from an archive or from the disk is checked like one the user types.
    if (const KRResult<void> valid = checkFileName(QFileInfo(destination).fileName()); !valid) {
        if (!extractionFolder.isEmpty())
            QDir(extractionFolder).removeRecursively();
        showError(valid.error());
        return false;
    }
    const KRResult<void> copied = copyItem(source, destination);
    if (!extractionFolder.isEmpty())
        QDir(extractionFolder).removeRecursively();
    if (!copied.ok()) {
        showError(copied.error());
        return false;
    }

    const QString fileName = QFileInfo(destination).fileName();
    const QString extension = KRProjectResource::pathExtension(destination);
    if (extension.compare(QLatin1String("css"), Qt::CaseInsensitive) == 0
        && !KRProjectResource::fileIsJQMTheme(destination)) {
        if (askFirstButton(QStringLiteral("Add to cssIncludes?"),
                           QStringLiteral("Adding Cascading Style Sheet '%1' to project. Also add to the project's 'cssIncludes' property?")
                               .arg(fileName),
                           {QStringLiteral("Add"), QStringLiteral("Skip")}))
            m_owner->setCssIncludes(m_owner->cssIncludes() << fileName);
    } else if (extension.compare(QLatin1String("js"), Qt::CaseInsensitive) == 0) {
        if (askFirstButton(QStringLiteral("Add to javascriptIncludes?"),
                           QStringLiteral("Adding JavaScript source '%1' to project. Also add to the project's 'javascriptIncludes' property?")
                               .arg(fileName),
                           {QStringLiteral("Add"), QStringLiteral("Skip")}))
            m_owner->setJavascriptIncludes(m_owner->javascriptIncludes() << fileName);
    }
    if (!themeName.isEmpty())
        m_owner->setDefaultTheme(themeName);
    return true;
}

bool KRWebFolder::deleteResource(const std::shared_ptr<KRProjectResource> &resource)
{
    KR_ASSERT(resource, "deleting no resource");
    // Keep the record alive through the reload, which drops the list holding it.
    const std::shared_ptr<KRProjectResource> keep = resource;
    const QString relativePath = keep->relativePath();
    if (!askFirstButton(QStringLiteral("Delete Project Resource"),
                        QStringLiteral("Do you wish to delete the project resource \"%1\"?  This will remove the resource from this project, and delete the file from disk.")
                            .arg(relativePath),
                        {QStringLiteral("Delete"), QStringLiteral("Cancel")}, true))
        return false;

    const bool deleted = keep->deleteResource();
    reloadResources();

    const auto cleanIncludes = [&](const QStringList &includes, const QString &title, const QString &text) {
        QStringList kept;
        for (const QString &entry : includes) {
            if (entry == relativePath
                && askFirstButton(title, text.arg(relativePath),
                                  {QStringLiteral("Remove"), QStringLiteral("Don't Remove")}))
                continue;
            kept.append(entry);
        }
        return kept;
    };
    m_owner->setJavascriptIncludes(
        cleanIncludes(m_owner->javascriptIncludes(), QStringLiteral("Remove JavaScript Include"),
                      QStringLiteral("The resource \"%1\" is also present in the project's javascriptIncludes property.  Remove it?")));
    m_owner->setCssIncludes(
        cleanIncludes(m_owner->cssIncludes(), QStringLiteral("Remove CSS Include"),
                      QStringLiteral("The resource \"%1\" is also present in the project's cssIncludes property.  Remove it?")));
    return deleted;
}

static KRResult<void> writeResources(const QList<std::shared_ptr<KRProjectResource>> &resources,
                                     const KRProjectResourceCache &cache, const QString &webFolderPath,
                                     QStringList &written)
{
    for (const auto &resource : resources) {
        if (resource->isDirectory()) {
            const KRResult<void> result = writeResources(resource->contents(), cache, webFolderPath, written);
            if (!result.ok())
                return result;
            continue;
        }
        const auto bytes = cache.contents(resource->relativePath());
        if (!bytes)
            continue;
        const QString target = webFolderPath + QLatin1Char('/') + resource->relativePath();
        // A link in the file's place is replaced by the edited file, never written through;
        // the web folder and every folder below it are opened from the package without
        // following links, so one swapped for a link fails the save instead of leading it out.
        const QFileInfo web(webFolderPath);
        const KRResult<void> saved = KRFileManager::writeFileAtomicallyBelow(
            web.absolutePath(), web.fileName() + QLatin1Char('/') + resource->relativePath(), *bytes);
        if (!saved) {
            return webFolderError(KRWebFolder::WriteFailed,
                                  QStringLiteral("The edited resource \u201C%1\u201D couldn\u2019t be saved: %2")
                                      .arg(resource->relativePath(), saved.error().message()),
                                  target);
        }
        // An edited stylesheet must be tested for a theme again.
        if (resource->name().endsWith(QLatin1String(".css"))) {
            const QString mark = QString::fromLatin1(KRProjectResource::IsThemeMark);
            if (!QFileInfo(resource->fullPath()).isSymLink()) // never the mark of what a link leads to
                KRFileManager::setExtendedAttributeOfItemAtPath(resource->fullPath(), mark, QString());
            KRFileManager::setExtendedAttributeOfItemAtPath(target, mark, QString());
        }
        written.append(resource->relativePath());
    }
    return {};
}

KRResult<QStringList> KRWebFolder::writeModifiedResources(const QString &webFolderPath)
{
    QStringList written;
    if (m_cache.isEmpty())
        return written;
    const KRResult<void> result = writeResources(resources(), m_cache, QDir::cleanPath(webFolderPath), written);
    if (!result.ok())
        return result.error();
    return written;
}

void KRWebFolder::didSaveModifiedResources(const QStringList &relativePaths)
{
    for (const QString &path : relativePaths)
        m_cache.remove(path);
}

void KRWebFolder::showError(const KRError &error)
{
    KR_LOG(error.toString());
    KRAlert alert;
    alert.style = KRAlert::Style::Critical;
    alert.messageText = error.message();
    KRAlertService::current().runModal(alert);
}

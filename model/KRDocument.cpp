#include "KRDocument.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <model/KRClassRegistry.h>
#include <model/KRDocumentWindowController.h>
#include <model/KRProject.h>
#include <model/KRProjectBase.h>
#include <model/KRWebFolder.h>
#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#ifndef KR_APP_VERSION
#define KR_APP_VERSION "0.0.0"
#endif

namespace {

KRDocument::WindowControllerFactory &factoryStorage()
{
    static KRDocument::WindowControllerFactory factory;
    return factory;
}

const QString kWebFolder = QStringLiteral("kr-web");
const QString kProjectFile = QStringLiteral("project.xml");
const QString kProjectRoot = QStringLiteral("KRProjectDocument");

} // namespace

KRDocument::KRDocument() : m_undoManager(std::make_unique<KRUndoManager>()), m_observable(this) {}

KRDocument::~KRDocument()
{
    KR_LOG(QString());
    m_windowController.reset();
}

QString KRDocument::applicationShortVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral(KR_APP_VERSION) : version;
}

int KRDocument::compareVersions(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Compare by value without overflow: skip leading zeros, then length, then digits.
            QString x = a.mid(i, ei - i), y = b.mid(j, ej - j);
            while (x.size() > 1 && x.startsWith(QLatin1Char('0')))
                x.remove(0, 1);
            while (y.size() > 1 && y.startsWith(QLatin1Char('0')))
                y.remove(0, 1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
            if (const int c = x.compare(y))
                return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
        } else {
            if (a.at(i) != b.at(j))
                return a.at(i) < b.at(j) ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

bool KRDocument::isSupportedVersion(const QString &documentVersion)
{
    if (documentVersion.isEmpty())
        return true;
    QStringList parts = documentVersion.split(QLatin1Char('.'));
    if (parts.size() >= 4)
        parts = parts.mid(0, 3);
    return compareVersions(parts.join(QLatin1Char('.')), applicationShortVersion()) <= 0;
}

bool KRDocument::autosavesInPlace()
{
    return KRUserDefaults::sharedInstance().boolValue(QStringLiteral("autosavesInPlace"));
}

KRResult<std::shared_ptr<KRDocument>> KRDocument::makeUntitled()
{
    KR_LOG(QString());
    KRResult<KRXMLDocument> xml = KRXMLDocument::fromFile(KRResources::pathForResource(QStringLiteral("DefaultProject.xml")));
    if (!xml)
        return xml.error();
    std::shared_ptr<KRDocument> document(new KRDocument());
    document->m_xml = xml.value();
    return document;
}

KRResult<std::shared_ptr<KRDocument>> KRDocument::openPackage(const QString &packagePath)
{
    std::shared_ptr<KRDocument> document(new KRDocument());
    const KRResult<void> read = document->readFromPackage(packagePath);
    if (!read)
        return read.error();
    return document;
}

std::shared_ptr<KRDocument> KRDocument::makeCopy(const KRXMLDocument &xml, const QString &packagePath)
{
    std::shared_ptr<KRDocument> copy(new KRDocument());
    copy->m_packagePath = packagePath;
    copy->m_xml = xml;
    return copy;
}

const KRXMLDocument::EmptyAttributeNames &KRDocument::adaptersEmptyAttributes()
{
    static const KRXMLDocument::EmptyAttributeNames names = [](const char *element) -> const std::vector<QByteArray> * {
        const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
        const QString className = QString::fromUtf8(element);
        if (!registry.isInstantiable(className))
            return nullptr;
        const std::vector<KRPropertyDescriptor> *table = registry.lastingDescriptorTable(className);
        return table ? registry.attributeNames(className, table).get() : nullptr;
    };
    return names;
}

KRResult<void> KRDocument::readFromPackage(const QString &packagePath)
{
    KR_LOG(QString());
    const QString path = QDir(packagePath).filePath(kProjectFile);
    if (!QFileInfo(path).isFile())
        return KRError(ProjectErrorDomain, 1, QStringLiteral("Failed to load project.xml from project bundle"));
    if (const KRResult<void> web = KRWebFolder::checkPackageWebFolder(packagePath); !web)
        return web.error();
    // A project the application saved holds an empty attribute for every property an object
    // lacks, which its adapter would add on opening anyway: read, they take a name's room.
    KRResult<KRXMLDocument> xml = KRXMLDocument::fromFile(path, adaptersEmptyAttributes());
    if (!xml)
        return xml.error();
    const KRXMLNode root = xml.value().rootElement();
    // Refused here, before anything (a window, the recent list) takes the package for a project.
    if (root.isNull() || root.name() != kProjectRoot) {
        const QString found = root.isNull() ? QStringLiteral("none") : QStringLiteral("“%1”").arg(root.name());
        KR_LOG(QStringLiteral("%1 is no project file: its root element is %2").arg(path, found));
        return KRError(ProjectErrorDomain, NotAProjectCode,
                       QStringLiteral("The file project.xml holds no Korvane project: its root element is %1, not “%2”.")
                           .arg(found, kProjectRoot));
    }
    if (root.firstElementForXPath(QStringLiteral("//KRProject")).isNull()
        || root.firstElementForXPath(QStringLiteral("//KRPages")).isNull())
        return KRError(ProjectErrorDomain, NotAProjectCode, QStringLiteral("The project file has no project settings or no pages."));
    const QString version = root.attribute(QStringLiteral("appVersion"));
    if (!isSupportedVersion(version)) {
        KRAlert alert;
        alert.messageText = QStringLiteral("Unsupported project version.");
        alert.informativeText = QStringLiteral("This document was created by a newer version of Korvane and cannot "
                                               "be opened.  Please update your version of Korvane.");
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
        return KRError(ProjectErrorDomain, NewerVersionCode, alert.messageText, {{QStringLiteral("alertShown"), true}});
    }
    m_xml = xml.value();
    m_packagePath = QFileInfo(packagePath).absoluteFilePath();
    // A save that was killed leaves its temporary file behind; nothing else ever removes it.
    KRFileManager::removeStaleTemporaryWrites(m_packagePath);
    return {};
}

KRSpecialUndoManager &KRDocument::specialUndoManager()
{
    if (!m_specialUndoManager)
        m_specialUndoManager = std::make_unique<KRSpecialUndoManager>(*m_undoManager);
    return *m_specialUndoManager;
}

bool KRDocument::isDocumentEdited() const
{
    return m_undoManager->changeCount() != m_savedChangeCount;
}

namespace {

bool isSameOrInside(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Whether the item at path, or a folder it lies in, is the folder (the same device and
// inode, whichever links either path goes through).
bool isSameItemOrInside(const QString &path, const QString &folder)
{
    struct stat wanted{};
    if (::stat(QFile::encodeName(folder).constData(), &wanted) != 0)
        return false;
    for (QString current = QDir::cleanPath(QFileInfo(path).absoluteFilePath());;) {
        struct stat status{};
        if (::stat(QFile::encodeName(current).constData(), &status) == 0 && status.st_dev == wanted.st_dev
            && status.st_ino == wanted.st_ino)
            return true;
        const QString parent = QFileInfo(current).absolutePath();
        if (parent == current)
            return false;
        current = parent;
    }
}

// The "user." marks travel with a copied item (generated, staged, theme verdict); a file
// system that refuses them is logged once and the copy goes on without.
void copyMarks(const QString &source, const QString &destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    const ssize_t size = ::llistxattr(from.constData(), nullptr, 0);
    if (size <= 0)
        return;
    QByteArray names(size, '\0');
    const ssize_t listed = ::llistxattr(from.constData(), names.data(), names.size());
    if (listed <= 0)
        return;
    static bool logged = false;
    for (const QByteArray &name : names.left(listed).split('\0')) {
        if (!name.startsWith("user."))
            continue;
        const ssize_t length = ::lgetxattr(from.constData(), name.constData(), nullptr, 0);
        if (length < 0)
            continue;
        QByteArray value(length, '\0');
        const ssize_t read = ::lgetxattr(from.constData(), name.constData(), value.data(), value.size());
        if (read < 0)
            continue;
        if (::lsetxattr(to.constData(), name.constData(), value.constData(), static_cast<size_t>(read), 0) != 0
            && !logged) {
            logged = true;
            KR_LOG(QStringLiteral("File marks are not kept in %1: %2").arg(destination, QString::fromLocal8Bit(strerror(errno))));
        }
    }
}

// Copies a folder's contents into an existing folder. Links are copied as links, never
// followed: one that leads inside root (the canonical folder being copied) as a link to the
// same item of the copy, one that leads out of it or to nothing not at all, so a copy never
// shares a file or folder with anything outside itself. Pipes, sockets and devices are left
// out, since reading one could block for ever. The names in skip (top level only) stay
// behind.
bool copyFolderContents(const QString &source, const QString &destination, const QString &root,
                        const QStringList &skip = {})
{
    const QFileInfoList entries = QDir(source).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &entry : entries) {
        // A temporary file of an unfinished save is no part of the project.
        if (skip.contains(entry.fileName()) || KRFileManager::isTemporaryWriteName(entry.fileName()))
            continue;
        const QString target = destination + QLatin1Char('/') + entry.fileName();
        if (entry.isSymLink()) {
            if (KRFileManager::copyLinkWithin(entry.filePath(), target, root) == KRFileManager::LinkCopy::Failed)
                return false;
            continue;
        }
        if (entry.isDir()) {
            if (!QDir().mkdir(target) || !copyFolderContents(entry.filePath(), target, root))
                return false;
        } else if (entry.isFile()) {
            if (!QFile::copy(entry.filePath(), target))
                return false;
        } else {
            KR_LOG(QStringLiteral("Not copied (not a file or folder): %1").arg(entry.filePath()));
            continue;
        }
        copyMarks(entry.filePath(), target);
    }
    return true;
}

// Whether a Save-As may put a package in place of what is at the path: nothing, a file, an
// empty folder or another package. Any other folder belongs to the user and stays.
bool mayReplace(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!info.isDir() || info.isSymLink())
        return !info.isDir();
    const QDir folder(path);
    return folder.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
        || QFileInfo(folder.filePath(kProjectFile)).isFile();
}

} // namespace

KRResult<void> KRDocument::saveToPackage(const QString &packagePath)
{
    const QString target = QDir::cleanPath(QFileInfo(packagePath).absoluteFilePath());
    if (!m_packagePath.isEmpty() && target == QDir::cleanPath(m_packagePath)) {
        if (!QDir().mkpath(QDir(target).filePath(kWebFolder)))
            return KRError(ProjectErrorDomain, 3, QStringLiteral("Could not create the project folder %1.").arg(packagePath));
        return save();
    }
    return saveAs(target);
}

QString KRDocument::currentWebFolderPath() const
{
    if (!m_packagePath.isEmpty())
        return QDir(m_packagePath).filePath(kWebFolder);
    // An untitled project keeps its resources in a temporary folder of its own.
    if (const auto krProject = std::dynamic_pointer_cast<KRProject>(project()))
        if (const auto folder = krProject->webFolder())
            return folder->temporaryWebFolderPath();
    return QString();
}

KRResult<QStringList> KRDocument::writePackageContents(const QString &packagePath)
{
    KRXMLNode root = m_xml.rootElement();
    if (!root.isNull())
        root.setAttribute(QStringLiteral("appVersion"), applicationShortVersion());
    // Written relative to the package folder opened once, whatever its path leads to later.
    const KRResult<void> written = KRFileManager::writeFileAtomicallyBelow(packagePath, kProjectFile, m_xml.xmlData());
    if (!written) {
        const QString path = QDir(packagePath).filePath(kProjectFile);
        return KRError(ProjectErrorDomain, 5,
                       QStringLiteral("The file \u201C%1\u201D could not be written: %2.").arg(path, written.error().message()),
                       {{QStringLiteral("path"), path}});
    }

    const QString web = QDir(packagePath).filePath(kWebFolder);
    const std::shared_ptr<KRProjectBase> proj = project();
    if (proj && proj->hasWebFolder())
        return proj->writeModifiedResources(web);
    if (proj && m_resourceList)
        return writeModifiedResources(m_resourceList(), web, proj->modifiedResourceCache());
    return QStringList();
}

void KRDocument::didSave(const QStringList &writtenResources)
{
    m_savedChangeCount = m_undoManager->changeCount();
    // A change still to come in a group that is open now must make the document dirty again.
    m_undoManager->markSavePoint();
    const std::shared_ptr<KRProjectBase> proj = project();
    if (proj && proj->hasWebFolder()) {
        proj->didSaveModifiedResources(writtenResources);
    } else if (proj) {
        // Written bytes are on disk now; stale entries would overwrite a later file of the
        // same path.
        QVariantMap &cache = proj->modifiedResourceCache();
        for (const QString &relativePath : writtenResources) {
            cache.remove(relativePath);
            cache.remove(relativePath + QStringLiteral("//enc"));
        }
    }
    KRNotificationCenter::defaultCenter().post(KRDidSaveDocumentNotification, identity());
}

KRResult<void> KRDocument::save()
{
    if (m_packagePath.isEmpty())
        return KRError(ProjectErrorDomain, 4, QStringLiteral("The project has not been saved to a package yet."));
    KRNotificationCenter::defaultCenter().post(KRWillSaveDocumentNotification, identity());
    const KRResult<QStringList> written = writePackageContents(m_packagePath);
    if (!written)
        return written.error();
    didSave(written.value());
    return {};
}

KRResult<void> KRDocument::saveAs(const QString &target)
{
    KR_LOG(target);
    const QString source = m_packagePath.isEmpty() ? QString() : QDir::cleanPath(m_packagePath);
    const QString sourceWeb = currentWebFolderPath();
    const auto refuse = [&](const QString &message) {
        return KRError(ProjectErrorDomain, 6, message.arg(target), {{QStringLiteral("path"), target}});
    };
    if (!source.isEmpty() && isSameItemOrInside(target, source) && !isSameOrInside(target, source)) {
        // Another path to the package itself: replacing it would remove what it holds.
        return refuse(QStringLiteral("The project cannot be saved as %1: that place is the project itself or inside it, "
                                     "reached through another path."));
    }
    if (!source.isEmpty()
        && (isSameOrInside(target, source) || isSameOrInside(source, target) || isSameItemOrInside(source, target)))
        return refuse(QStringLiteral("The project cannot be saved as %1: that place is inside the project or holds it."));
    if (!sourceWeb.isEmpty() && isSameOrInside(target, QDir::cleanPath(sourceWeb)))
        return refuse(QStringLiteral("The project cannot be saved as %1: that place is inside its web folder."));
    if (!mayReplace(target))
        return refuse(QStringLiteral("The project cannot be saved as %1: a folder that is not a project is there."));

    const QFileInfo targetInfo(target);
    const QString parent = targetInfo.absolutePath();
    const QString unique = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // The new package is built beside its place and renamed into it when complete, so a
    // failure leaves neither a half-written package nor a changed document behind.
    const QString staging = parent + QStringLiteral("/.") + targetInfo.fileName() + QStringLiteral(".kr-save-") + unique;
    const auto failed = [&](const QString &message) {
        QDir(staging).removeRecursively();
        KR_LOG(message);
        return KRError(ProjectErrorDomain, 3, message, {{QStringLiteral("path"), target}});
    };
    if (!QDir().mkpath(parent) || !QDir().mkdir(staging))
        return failed(QStringLiteral("Could not create the project folder %1.").arg(target));

    KRNotificationCenter::defaultCenter().post(KRWillSaveDocumentNotification, identity());
    // Everything of the package travels: the web folder with its resources and any other
    // file; project.xml is written afresh.
    bool copied = true;
    if (!source.isEmpty() && QFileInfo(source).isDir()) {
        copied = copyFolderContents(source, staging, QFileInfo(source).canonicalFilePath(), {kProjectFile});
    } else if (!sourceWeb.isEmpty() && QFileInfo(sourceWeb).isDir()) {
        const QString stagingWeb = QDir(staging).filePath(kWebFolder);
        copied = QDir().mkdir(stagingWeb)
            && copyFolderContents(sourceWeb, stagingWeb, QFileInfo(sourceWeb).canonicalFilePath());
    }
    if (!copied || !QDir().mkpath(QDir(staging).filePath(kWebFolder)))
        return failed(QStringLiteral("Could not copy the project's files to %1.").arg(target));

    const KRResult<QStringList> written = writePackageContents(staging);
    if (!written)
        return failed(written.error().message());

    QString replaced;
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        replaced = parent + QStringLiteral("/.") + targetInfo.fileName() + QStringLiteral(".kr-replaced-") + unique;
        if (!QDir().rename(target, replaced))
            return failed(QStringLiteral("Could not replace %1.").arg(target));
    }
    if (!QDir().rename(staging, target)) {
        if (!replaced.isEmpty())
            QDir().rename(replaced, target);
        return failed(QStringLiteral("Could not move the saved project to %1.").arg(target));
    }
    if (!replaced.isEmpty()) {
        const bool removed = QFileInfo(replaced).isDir() ? QDir(replaced).removeRecursively() : QFile::remove(replaced);
        if (!removed)
            KR_LOG(QStringLiteral("The replaced package is left at %1").arg(replaced));
    }

    const QString old = m_packagePath;
    m_packagePath = target;
    m_observable.notifyChange(QStringLiteral("fileURL"), old, m_packagePath);
    didSave(written.value());
    return {};
}

KRResult<QStringList> KRDocument::writeModifiedResources(const QList<KRResourceEntry> &resources,
                                                         const QString &folderPath, const QVariantMap &cache)
{
    KR_LOG(QString());
    QStringList written;
    const QDir folder(folderPath);
    for (const KRResourceEntry &resource : resources) {
        const QString path = folder.filePath(resource.name);
        const QFileInfo info(path);
        const auto edited = cache.constFind(resource.relativePath);
        if (edited != cache.constEnd() && info.exists() && !info.isDir()) {
            // A link in the file's place is replaced by the edited file, never written through;
            // the folder is opened from its parent without following a link.
            const QFileInfo parent(folderPath);
            const KRResult<void> saved = KRFileManager::writeFileAtomicallyBelow(
                parent.absolutePath(), parent.fileName() + QLatin1Char('/') + resource.name, edited->toByteArray());
            if (!saved)
                return KRError(ProjectErrorDomain, 5,
                               QStringLiteral("Could not write %1: %2")
                                   .arg(resource.relativePath, saved.error().message()));
            if (resource.name.endsWith(QLatin1String(".css")))
                KRFileManager::setExtendedAttributeOfItemAtPath(path, QStringLiteral("com.korvane.isTheme"), QString());
            written.append(resource.relativePath);
        }
        if (resource.isDirectory && info.isDir() && !info.isSymLink()) {
            const KRResult<QStringList> inner = writeModifiedResources(resource.children, path, cache);
            if (!inner)
                return inner;
            written += inner.value();
        }
    }
    return written;
}

void KRDocument::close()
{
    KRNotificationCenter::defaultCenter().post(KRWillCloseDocumentNotification, identity());
}

void KRDocument::setWindowControllerFactory(WindowControllerFactory factory)
{
    factoryStorage() = std::move(factory);
}

void KRDocument::makeWindowControllers()
{
    if (!m_windowController && factoryStorage())
        m_windowController = factoryStorage()(*this);
}

std::shared_ptr<KRProjectBase> KRDocument::project() const
{
    if (m_windowController)
        if (auto project = m_windowController->project())
            return project;
    return m_project.lock();
}

void KRDocument::projectRunAction()
{
    if (m_windowController)
        m_windowController->projectRunAction();
}

void KRDocument::createPageAction()
{
    if (m_windowController)
        m_windowController->createPageAction();
}

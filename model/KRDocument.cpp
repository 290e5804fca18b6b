#include "KRDocument.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRRunLogger.h>
#include <model/KRDocumentWindowController.h>
#include <model/KRProjectBase.h>
#include <model/KRSpecialUndoManager.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUndoManager.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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

KRResult<void> KRDocument::readFromPackage(const QString &packagePath)
{
    KR_LOG(QString());
    const QString path = QDir(packagePath).filePath(kProjectFile);
    if (!QFileInfo(path).isFile())
        return KRError(ProjectErrorDomain, 1, QStringLiteral("Failed to load project.xml from project bundle"));
    KRResult<KRXMLDocument> xml = KRXMLDocument::fromFile(path);
    if (!xml)
        return xml.error();
    const KRXMLNode root = xml.value().rootElement();
    const QString version = root.isNull() ? QString() : root.attribute(QStringLiteral("appVersion"));
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

KRResult<void> KRDocument::saveToPackage(const QString &packagePath)
{
    if (!QDir().mkpath(QDir(packagePath).filePath(kWebFolder)))
        return KRError(ProjectErrorDomain, 3, QStringLiteral("Could not create the project folder %1.").arg(packagePath));
    const QString old = m_packagePath;
    m_packagePath = QFileInfo(packagePath).absoluteFilePath();
    if (old != m_packagePath)
        m_observable.notifyChange(QStringLiteral("fileURL"), old, m_packagePath);
    return save();
}

KRResult<void> KRDocument::save()
{
    if (m_packagePath.isEmpty())
        return KRError(ProjectErrorDomain, 4, QStringLiteral("The project has not been saved to a package yet."));
    auto &center = KRNotificationCenter::defaultCenter();
    center.post(KRWillSaveDocumentNotification, identity());

    KRXMLNode root = m_xml.rootElement();
    if (!root.isNull())
        root.setAttribute(QStringLiteral("appVersion"), applicationShortVersion());
    const KRResult<void> written = m_xml.saveToFile(QDir(m_packagePath).filePath(kProjectFile));
    if (!written)
        return written;

    const std::shared_ptr<KRProjectBase> proj = project();
    QStringList writtenResources;
    if (proj && proj->hasWebFolder()) {
        const KRResult<QStringList> resources = proj->writeModifiedResources(QDir(m_packagePath).filePath(kWebFolder));
        if (!resources)
            return resources.error();
        writtenResources = resources.value();
    } else if (proj && m_resourceList) {
        QVariantMap &cache = proj->modifiedResourceCache();
        const KRResult<QStringList> resources =
            writeModifiedResources(m_resourceList(), QDir(m_packagePath).filePath(kWebFolder), cache);
        if (!resources)
            return resources.error();
        // Written bytes are on disk now; stale entries would overwrite a later file of the
        // same path.
        for (const QString &relativePath : resources.value()) {
            cache.remove(relativePath);
            cache.remove(relativePath + QStringLiteral("//enc"));
        }
    }
    m_savedChangeCount = m_undoManager->changeCount();
    if (proj && proj->hasWebFolder())
        proj->didSaveModifiedResources(writtenResources);
    center.post(KRDidSaveDocumentNotification, identity());
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
            if (resource.name.endsWith(QLatin1String(".css")))
                KRFileManager::setExtendedAttributeOfItemAtPath(path, QStringLiteral("com.korvane.isTheme"), QString());
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(edited->toByteArray()) < 0 || !file.commit())
                return KRError(ProjectErrorDomain, 5,
                               QStringLiteral("Could not write %1: %2").arg(resource.relativePath, file.errorString()));
            written.append(resource.relativePath);
        }
        if (resource.isDirectory && info.isDir()) {
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

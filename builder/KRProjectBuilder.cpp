#include "KRProjectBuilder.h"

#include <builder/KRHelperThreads.h>
#include <builder/KRProjectBuildSource.h>
#include <builder/KRRuntimeServer.h>
#include <builder/KRScriptCache.h>
#include <builder/KRUglifyJavaScript.h>
#include <core/KRFileManagerAdditions.h>
#include <core/KRJavaScript.h>
#include <core/KRRunLogger.h>
#include <model/KRObjectInfo.h>
#include <model/KRPageLinks.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <model/KRWebFolderOwner.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRException.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <cerrno>
#include <cstring>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <signal.h>
#include <unistd.h>
#include <filesystem>
#include <utility>
#include <vector>

const QString KRProjectBuilder::errorDomain = QStringLiteral("KRProjectBuilderErrorDomain");
const QString KRProjectBuilder::userScriptsFileName = QStringLiteral("KR-user-scripts.js");
const QString KRProjectBuilder::sitemapFileName = QStringLiteral("KR-sitemap.xml");
const QString KRProjectBuilder::robotsFileName = QStringLiteral("robots.txt");
const QString KRProjectBuilder::runtimeScriptName = QStringLiteral("KRObjects-min.js");
const QString KRProjectBuilder::runtimeScriptResource = QStringLiteral("runtime/KRObjects-min.js");
const QString KRProjectBuilder::localJQueryPath = QStringLiteral("jquery-1.9.0/jquery.min.js");
const QString KRProjectBuilder::indexFileName = QStringLiteral("index.html");
const QString KRProjectBuilder::hostingSiteDomain = QStringLiteral("korvane.site");

namespace {

const QString kTrue = QStringLiteral("true");

QString generatedMark()
{
    return QString::fromLatin1(KRProjectResource::GeneratedFileMark);
}

QString stagedMark()
{
    return QString::fromLatin1(KRProjectResource::StagedFileMark);
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

QString localServerPath(const QString &relativePath)
{
    return KRResources::pathForResource(QStringLiteral("local-server/") + relativePath);
}

// A relative path that stays below the folder it is joined to.
bool isContainedRelativePath(const QString &path)
{
    if (path.isEmpty() || QDir::isAbsolutePath(path))
        return false;
    const QString clean = QDir::cleanPath(path);
    return clean != QLatin1String(".") && clean != QLatin1String("..") && !clean.startsWith(QLatin1String("../"));
}

// The file's modification time in milliseconds since the epoch, as the list of generated files
// keeps it (what QFileInfo::lastModified gives, without its conversion to local time); -1
// when the file cannot be read.
qint64 modifiedMSecs(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return -1;
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

bool sameFileDate(const QFileInfo &source, const QFileInfo &target)
{
    return source.exists() && target.exists() && source.size() == target.size()
        && source.lastModified() == target.lastModified();
}

bool removeItem(const QString &path, QString *reason = nullptr)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    bool removed;
    if (info.isDir() && !info.isSymLink()) {
        // Links never followed, and nothing mounted below it entered.
        const KRResult<void> gone = KRFileManager::removeItemRecursively(path);
        removed = gone.ok();
        if (!removed && reason)
            *reason = gone.error().message();
    } else {
        QFile file(path);
        removed = file.remove();
        if (!removed && reason)
            *reason = file.errorString();
    }
    if (!removed && reason && reason->isEmpty())
        *reason = QStringLiteral("it could not be removed");
    return removed;
}

using KRFileManager::canonicalPathAllowingMissing;
using KRFileManager::isSameItemOrInside;
using KRFileManager::isSameOrInside;

// Whether an item at the path stays inside the folder: the folder holding it, as far as it
// exists, resolves to the folder or below it (a link on the way may lead anywhere). The item
// itself is replaced by what is written, never written through.
bool staysInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty()
        && isSameOrInside(canonicalPathAllowingMissing(QFileInfo(path).absolutePath()),
                          canonicalPathAllowingMissing(folder));
}

// What an export may not touch: the open package, and everything in it.
class PackageGuard
{
public:
    explicit PackageGuard(const QString &package)
        : m_package(package.isEmpty() ? QString() : QDir::cleanPath(package))
        , m_canonical(m_package.isEmpty() ? QString() : canonicalPathAllowingMissing(m_package))
    {
    }

    // Whether writing into the folder would write into the package.
    bool isInside(const QString &folder) const
    {
        if (m_package.isEmpty())
            return false;
        return isSameOrInside(canonicalPathAllowingMissing(folder), m_canonical) || isSameItemOrInside(folder, m_package);
    }
    // Whether replacing the item at the path (removed, not followed, when it is a link) would
    // replace or delete the package or something in it.
    bool isTouchedByReplacing(const QString &path) const
    {
        if (m_package.isEmpty())
            return false;
        const QFileInfo info(path);
        const QString item = joinPath(canonicalPathAllowingMissing(info.absolutePath()), info.fileName());
        if (isSameOrInside(item, m_canonical) || isSameItemOrInside(info.absolutePath(), m_package))
            return true;
        if (isSameOrInside(m_canonical, item))
            return true;
        // A folder there (not a link to one) that holds the package through another path.
        return info.isDir() && !info.isSymLink() && isSameItemOrInside(m_package, path);
    }

private:
    QString m_package;
    QString m_canonical;
};

// Finds the Korvane projects an export would write into or replace: a ".krproj" folder, or a
// folder holding a project file (a "project.xml" that is a Korvane project, not a file merely so
// named). Folders are never looked at through a link; what was found is remembered for the
// export's items.
class ProjectFinder
{
public:
    // The project that the folder is or lies inside (links on the way resolved); a folder that
    // is not there yet is judged by the folders that are. Empty when there is none.
    QString holding(const QString &folder)
    {
        for (QString candidate = canonicalPathAllowingMissing(folder);;) {
            if (isProject(candidate))
                return candidate;
            const QString parent = QFileInfo(candidate).absolutePath();
            if (parent == candidate)
                return {};
            candidate = parent;
        }
    }

    // The project that writing the item at the path (removing what is there first, not
    // following it when it is a link) would change, remove or replace: one holding the item,
    // whether or not the item is there yet, the item itself or one below it. Empty when no
    // project is touched.
    QString touchedByReplacing(const QString &path)
    {
        const QFileInfo info(path);
        if (const QString project = holding(info.absolutePath()); !project.isEmpty())
            return project;
        if (!info.isDir() || info.isSymLink())
            return {};
        if (isProject(path))
            return path;
        for (QDirIterator it(path, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString folder = it.next();
            if (isProject(folder))
                return folder;
        }
        return {};
    }

private:
    bool isProject(const QString &folder)
    {
        const auto known = m_known.constFind(folder);
        if (known != m_known.constEnd())
            return *known;
        const QFileInfo info(folder);
        bool project = false;
        if (info.isDir() && !info.isSymLink()) {
            project = info.fileName().endsWith(QLatin1String(".krproj"), Qt::CaseInsensitive);
            QFile file(joinPath(folder, QStringLiteral("project.xml")));
            if (!project && QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly))
                project = file.read(4096).contains("<KRProjectDocument");
        }
        m_known.insert(folder, project);
        return project;
    }

    QHash<QString, bool> m_known;
};

// Copies a file, or a folder with everything below it; the target must not exist. Symbolic
// links are followed, or, with a link root (a canonical folder path), copied as links when
// they lead inside it and left out otherwise.
bool copyItem(const QString &source, const QString &target, bool keepDates, QString *reason,
              const QString &linkRoot = QString())
{
    const QFileInfo info(source);
    if (!linkRoot.isEmpty() && info.isSymLink())
        return KRFileManager::copyLinkWithin(source, target, linkRoot, reason) != KRFileManager::LinkCopy::Failed;
    // What the web folder holds is copied as Save As copies it: by names as bytes, one folder
    // at a time (no depth is too deep), sparse files with their holes, and what cannot be
    // copied named with the system's reason.
    if (!linkRoot.isEmpty())
        return KRFileManager::copyItemWithin(source, target, linkRoot, reason);
    if (info.isDir() && !info.isSymLink()) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(target).toStdString()), error);
        if (error) {
            *reason = QStringLiteral("the folder \u201C%1\u201D could not be created: %2")
                          .arg(target, QString::fromLocal8Bit(std::strerror(error.value())));
            return false;
        }
        const QStringList names = QDir(source).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            // A pipe or a device is never read: it is left out, as from the resource list.
            if (!KRFileManager::specialFileKind(joinPath(source, name)).isEmpty())
                continue;
            if (!copyItem(joinPath(source, name), joinPath(target, name), keepDates, reason, linkRoot))
                return false;
        }
        return true;
    }
    if (!info.exists()) {
        *reason = QStringLiteral("no such file exists");
        return false;
    }
    // A plain copy, without the sync a file-by-file safe copy would add: a build copies the
    // same library files again when a copy is lost.
    // Only a regular file of bounded size is read.
    if (const KRResult<void> copied = KRFileManager::copyPackageFile(source, target); !copied) {
        *reason = copied.error().message();
        return false;
    }
    if (keepDates) {
        // Without opening the copy: a read-only copy keeps the date too.
        std::error_code error;
        const auto date = std::filesystem::last_write_time(QFile::encodeName(source).toStdString(), error);
        if (!error)
            std::filesystem::last_write_time(QFile::encodeName(target).toStdString(), date, error);
    }
    return true;
}

// Copies a file, or a folder with the files below it, as relativePath below the output
// folder, keeping the files' dates. Each file is written relative to the output folder's
// parent, opened once, and the folders below it opened one by one without following a link,
// so a folder swapped for a link while the build runs takes no copy out of the output folder.
// Links in the source are followed, as copyItem does without a link root.
bool copyIntoOutput(const QString &source, const QString &output, const QString &relativePath, QString *reason)
{
    const QFileInfo info(source);
    if (info.isDir()) {
        const QStringList names = QDir(source).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            if (!copyIntoOutput(joinPath(source, name), output, relativePath + QLatin1Char('/') + name, reason))
                return false;
        }
        return true;
    }
    if (!info.exists()) {
        *reason = QStringLiteral("no such file exists");
        return false;
    }
    const QFileInfo folder(output);
    const KRResult<void> copied = KRFileManager::copyFileBelow(
        source, folder.absolutePath(), folder.fileName() + QLatin1Char('/') + relativePath, true);
    if (!copied) {
        *reason = copied.error().message();
        return false;
    }
    return true;
}

// What writing one generated file came to: its size and date, or why it failed.
struct WrittenFile
{
    bool written = false;
    QString reason;
    qint64 size = 0;
    qint64 modified = -1; // milliseconds since the epoch
    QByteArray digest;    // SHA-256 of what was written, lower-case hexadecimal
};

// The output folder of a build, opened once before the pages are written: their files are
// made in it by plain names, so no link on the way, nor one in a file's place, takes a write
// anywhere else, whatever changes in the paths while the build runs.
class OutputFolder
{
public:
    explicit OutputFolder(const QString &path)
        : m_path(path),
          m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC))
    {
    }
    ~OutputFolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OutputFolder(const OutputFolder &) = delete;
    OutputFolder &operator=(const OutputFolder &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const QString &path() const { return m_path; }

private:
    QString m_path;
    int m_fd;
};

// A page's file made empty ahead of its text, on the thread that made the page, under a
// temporary name: which page file it is for, and which file it is, so that only that file
// is written and renamed into place later.
struct FileMadeAhead
{
    QByteArray name; // the page's file name; empty: none made
    KRFileManager::TemporaryFile file;
};

// Makes an empty temporary file in the folder for the named page file.
FileMadeAhead makeFileAhead(const OutputFolder &folder, const QString &name)
{
    FileMadeAhead made;
    made.file = KRFileManager::makeTemporaryFileIn(folder.fd());
    if (!made.file.name.isEmpty())
        made.name = QFile::encodeName(name);
    return made;
}

qint64 modifiedMSecs(const struct stat &status)
{
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

// Writes a page's file (a plain name) in the output folder and marks it as generated; safe
// on any thread. Without a sync: a generated file is made again by every build, so a torn
// write costs a rebuild, never the user's work. The text goes into a temporary file (the one
// made ahead for it, when it is still that empty file), which is marked and then renamed into
// place: whenever the build is stopped, a page's file is whole and marked, or not there. What
// is in its place (a file of the user's, a link a package brought) is replaced, never written
// through.
WrittenFile writePageFile(const OutputFolder &folder, const QString &name, std::initializer_list<QByteArrayView> parts,
                          const FileMadeAhead &ahead)
{
    WrittenFile result;
    for (const QByteArrayView part : parts)
        result.size += part.size();
    const QByteArray fileName = QFile::encodeName(name);
    struct stat status{};
    const KRResult<void> written = KRFileManager::writeFileAtomicallyIn(
        folder.fd(), fileName, joinPath(folder.path(), name), parts, false, {{generatedMark(), kTrue}},
        ahead.name == fileName ? &ahead.file : nullptr, &status);
    KRFileManager::removeTemporaryFileIn(folder.fd(), ahead.file); // when it was not the one written
    if (!written) {
        result.reason = written.error().message();
        return result;
    }
    result.written = true;
    result.modified = modifiedMSecs(status);
    result.digest = KRGeneratedFileList::digest(parts);
    return result;
}

QString copyErrorMessage(const QString &source, const QString &target)
{
    return QStringLiteral("\u201C%1\u201D couldn\u2019t be copied to \u201C%2\u201D.")
        .arg(QFileInfo(source).fileName(), QFileInfo(target).absolutePath());
}

// Every file below a resource (the resource itself when it is a file), by path below the web
// folder.
void collectFiles(const KRProjectResource &resource, QSet<QString> &entries)
{
    if (resource.isDirectory()) {
        for (const auto &child : resource.contents()) {
            if (!child->isStaged())
                collectFiles(*child, entries);
        }
    } else {
        entries.insert(resource.relativePath().isEmpty() ? resource.name() : resource.relativePath());
    }
}

QStringList sorted(const QSet<QString> &set)
{
    QStringList list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return list;
}

// Drops the script elements of a page element that hold a server template expression.
void removeServerTemplateScripts(DOMElement &pageDiv)
{
    for (const auto &script : pageDiv.getElementsByTagName(QStringLiteral("script"))) {
        if (script->textContent().contains(QLatin1String("<%=")))
            if (const auto parent = script->parentNode())
                parent->removeChild(script);
    }
}

} // namespace

QList<KRXMLNode> KRBuildProject::pageElements() const
{
    const KRXMLDocument document = xmlDocument();
    const KRXMLNode root = document.isNull() ? KRXMLNode() : document.rootElement();
    const KRXMLNode pages = root.isNull() ? KRXMLNode() : root.firstElementForXPath(QStringLiteral("//KRPages"));
    return pages.isNull() ? QList<KRXMLNode>() : pages.elementsForName(QStringLiteral("KRPage"));
}

// Keeps the project's export mode equal to the builder's while a build runs, and sets it
// back to off however the build ends.
class KRProjectBuilder::BuildRun
{
public:
    BuildRun(KRBuildProject &project, bool exportMode) : m_project(project)
    {
        m_project.setExportMode(exportMode);
    }
    ~BuildRun() { m_project.setExportMode(false); }
    BuildRun(const BuildRun &) = delete;
    BuildRun &operator=(const BuildRun &) = delete;

private:
    KRBuildProject &m_project;
};

// The folder an export is built in before it is copied to the folder chosen for it: a private
// folder of its own in the caches folder, holding copies of the user's files of the web folder
// and then what the export's build writes, listed as a web folder is. The web folder, which a
// running preview serves, is only read; the stage goes, with all it holds, with this object.
class KRProjectBuilder::ExportStage final : public KRWebFolderOwner
{
public:
    explicit ExportStage(KRBuildProject &project) : m_project(project)
    {
        const QString parent = joinPath(KRPaths::cachesDirectory(), QStringLiteral("Exports"));
        // Named after the process that makes it, so that a later export removes the stages of
        // processes that ended without removing theirs (a crash, a kill).
        const QString path = joinPath(parent, QStringLiteral("%1-%2").arg(::getpid()).arg(
                                                  QUuid::createUuid().toString(QUuid::WithoutBraces)));
        if (!QDir::isAbsolutePath(parent) || !QDir().mkpath(parent)) {
            m_error = QStringLiteral("The folder \u201C%1\u201D can\u2019t be made.").arg(parent);
            return;
        }
        removeAbandonedStages(parent);
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        m_path = path;
        m_folder = KRWebFolder::create(this);
        m_folder->useTemporaryWebFolder(m_path);
    }
    ~ExportStage() override
    {
        m_folder.reset();
        if (m_path.isEmpty())
            return;
        if (const KRResult<void> removed = KRFileManager::removeItemRecursively(m_path); !removed)
            KR_LOG(QStringLiteral("The export's folder %1 stays: %2").arg(m_path, removed.error().message()));
    }
    ExportStage(const ExportStage &) = delete;
    ExportStage &operator=(const ExportStage &) = delete;

    // Removes the stages in `parent` whose process has ended.
    static void removeAbandonedStages(const QString &parent)
    {
        for (const QFileInfo &entry : QDir(parent).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
            bool number = false;
            const qint64 pid = entry.fileName().section(QLatin1Char('-'), 0, 0).toLongLong(&number);
            if (!number || pid <= 0 || entry.isSymLink() || pid == ::getpid() || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
                continue;
            if (const KRResult<void> removed = KRFileManager::removeItemRecursively(entry.filePath()); !removed)
                KR_LOG(QStringLiteral("An abandoned export folder %1 stays: %2").arg(entry.filePath(), removed.error().message()));
        }
    }

    // The folder; empty when it could not be made (error() says why).
    const QString &path() const { return m_path; }
    const QString &error() const { return m_error; }

    // Copies the user's own files of the web folder into the stage: its top-level items but
    // for what a build wrote or copied there (for the preview: its server pages, its scripts,
    // the library copies), which the export's build writes afresh for the export. Links that
    // lead inside the web folder stay links, those that lead out of it are left out, as the
    // export leaves them out. False with *reason and *source set when an item cannot be copied.
    bool copyUserFiles(const QList<std::shared_ptr<KRProjectResource>> &webResources, const QString &linkRoot,
                       QString *source, QString *reason)
    {
        for (const auto &resource : webResources) {
            if (resource->isGenerated() || resource->isStaged())
                continue;
            if (!copyItem(resource->fullPath(), joinPath(m_path, resource->name()), false, reason, linkRoot)) {
                *source = resource->fullPath();
                return false;
            }
        }
        return true;
    }

    QList<std::shared_ptr<KRProjectResource>> resources()
    {
        return m_folder ? m_folder->resources() : QList<std::shared_ptr<KRProjectResource>>();
    }
    void reloadResources()
    {
        if (m_folder)
            m_folder->reloadResources();
    }

    // KRWebFolderOwner: the stage is no package; its includes and theme are the project's.
    QString packagePath() const override { return {}; }
    QStringList javascriptIncludes() const override { return {}; }
    void setJavascriptIncludes(const QStringList &) override {}
    QStringList cssIncludes() const override { return {}; }
    void setCssIncludes(const QStringList &) override {}
    QString defaultTheme() const override { return m_project.defaultTheme(); }
    void setDefaultTheme(const QString &) override {}

private:
    KRBuildProject &m_project;
    QString m_path;
    QString m_error;
    std::shared_ptr<KRWebFolder> m_folder;
};

KRProjectBuilder::KRProjectBuilder(std::shared_ptr<KRBuildProject> project) : m_project(std::move(project))
{
    Q_ASSERT(m_project);
}

KRProjectBuilder::KRProjectBuilder(const std::shared_ptr<KRProject> &project)
    : KRProjectBuilder(std::make_shared<KRProjectBuildSource>(project))
{
}

KRProjectBuilder::~KRProjectBuilder() = default;

QString KRProjectBuilder::resolvedOutputDirectory()
{
    if (m_stage)
        return m_stage->path();
    return m_outputDirectory.isEmpty() ? m_project->webFolderPath() : m_outputDirectory;
}

QList<std::shared_ptr<KRProjectResource>> KRProjectBuilder::outputResources()
{
    return m_stage ? m_stage->resources() : m_project->resources();
}

void KRProjectBuilder::reloadOutputResources()
{
    if (m_stage)
        m_stage->reloadResources();
    else
        m_project->reloadResources();
}

QString KRProjectBuilder::deviceInformationJSON() const
{
    if (!m_deviceInformationJSON.isEmpty())
        return m_deviceInformationJSON;
    return KRObjectInfo::sharedInstance().deviceInformationJSON();
}

void KRProjectBuilder::showError(const QString &message, const QString &informativeText)
{
    KRAlert alert;
    alert.style = KRAlert::Style::Critical;
    alert.messageText = message;
    alert.informativeText = informativeText;
    runAlert(alert);
}

int KRProjectBuilder::runAlert(const KRAlert &alert)
{
    if (!m_background)
        return KRAlertService::current().runModal(alert);
    // The alerts of a build are notices: their first button is the answer.
    m_deferredAlerts.append(alert);
    return KRAlertService::FirstButtonReturn;
}

void KRProjectBuilder::progress(const QString &text) const
{
    if (m_progress)
        m_progress(text);
}

KRResult<QString> KRProjectBuilder::minify(const QString &text)
{
    if (m_minifier)
        return m_minifier(text);
    const qint64 port = m_serverPort ? *m_serverPort : KRRuntimeServer::portNumber();
    if (port < 0 && m_background) {
        KR_LOG(KRUglifyJavaScript::serverUnavailableMessage);
        runAlert(KRUglifyJavaScript::serverUnavailableAlert());
        return KRUglifyJavaScript::serverUnavailableError();
    }
    return KRUglifyJavaScript([port] { return port; }).uglifyJavaScript(text);
}

std::optional<QString> KRProjectBuilder::minifiedByPieces(const QString &footer)
{
    // The header opens the script's function; what follows its first line are statements,
    // as is each page's block. Minified on their own and put back inside the function, they
    // mean what they meant there: names declared at a piece's top level keep their names.
    const QString opening = QStringLiteral("(function(window) {\n");
    if (m_scriptPieces.isEmpty() || !m_scriptPieces.first().startsWith(opening)
        || footer != QStringLiteral("})(window);\n"))
        return std::nullopt;
    QStringList pieces = m_scriptPieces;
    pieces.first().remove(0, opening.size());

    // Written from several threads, each slot by one: no shared container's bookkeeping.
    std::vector<std::optional<QString>> minified(std::size_t(pieces.size()));
    std::vector<qsizetype> asked;
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        minified[std::size_t(i)] = m_scriptCache->minified(pieces[i]);
        if (!minified[std::size_t(i)])
            asked.push_back(i);
    }
    const qint64 port = asked.empty() ? 0 : m_serverPort ? *m_serverPort : KRRuntimeServer::portNumber();
    if (port < 0)
        return std::nullopt;
    const int total = int(pieces.size());
    std::atomic<int> done{int(pieces.size() - qsizetype(asked.size()))};
    std::atomic<bool> failed{false};
    progress(QStringLiteral("minifying %1 of %2 script parts").arg(done.load()).arg(total));
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        KRUglifyJavaScript minifier([port] { return port; });
        for (std::size_t n; (n = next.fetch_add(1)) < asked.size();) {
            if (failed.load() || (m_cancelled && m_cancelled->load()))
                return;
            const QString &piece = pieces[asked[n]];
            KRResult<QString> answer = minifier.uglifyJavaScript(piece);
            if (!answer) {
                failed = true;
                return;
            }
            m_scriptCache->setMinified(piece, answer.value());
            minified[std::size_t(asked[n])] = answer.value();
            progress(QStringLiteral("minifying %1 of %2 script parts").arg(++done).arg(total));
        }
    };
    runOnHelperThreads(asked.size(), concurrentMinifications, work);

    QString script = QStringLiteral("(function(window){");
    for (const std::optional<QString> &piece : minified) {
        if (!piece)
            return std::nullopt;
        script += *piece;
        // A piece may end without a semicolon; the next may start with a parenthesis.
        if (!piece->isEmpty() && !piece->endsWith(QLatin1Char(';')))
            script += QLatin1Char(';');
    }
    script += QStringLiteral("})(window);");
    return script;
}

KRResult<QString> KRProjectBuilder::build()
{
    m_generatedFiles.clear();
    m_stagedItems.clear();
    KRResult<QString> result = [this]() -> KRResult<QString> {
        try {
            return buildProject();
        } catch (const KRException &exception) {
            // A page whose output document is broken (an invariant of the page model).
            const QString reason = QStringLiteral("The build stopped: %1").arg(exception.reason());
            KR_LOG(QStringLiteral("%1 (%2)").arg(reason, exception.name()));
            return KRError(errorDomain, PageError, reason, {{QStringLiteral("exception"), exception.name()}});
        }
    }();
    // Also after a failed build: what it wrote is removed by the next one.
    writeGeneratedFileList();
    return result;
}

void KRProjectBuilder::writeGeneratedFileList()
{
    if (m_generatedFiles.isEmpty() && m_stagedItems.isEmpty())
        return;
    KRGeneratedFileList list;
    list.files = m_generatedFiles;
    for (const QString &name : std::as_const(m_stagedItems))
        list.addStaged(name);
    // A link in its place is replaced.
    if (const KRResult<void> written = list.write(resolvedOutputDirectory()); !written)
        KR_LOG(QStringLiteral("The list of generated files could not be written: %1").arg(written.error().message()));
}

// Removes the files of the list the last build wrote, each only when it is still the file
// that build wrote (same size, and same date or, in a copied project whose dates are new,
// same bytes: a file the user put there since stays), and only plain names directly inside
// the output folder, whatever the list says. The staged items it names that are still there
// stay the build's: the build never removes them. Only a list the builder could have written
// is read (KRGeneratedFileList::read).
void KRProjectBuilder::deleteListedGeneratedFiles()
{
    const QString output = resolvedOutputDirectory();
    const KRGeneratedFileList list = KRGeneratedFileList::read(output);
    for (const GeneratedFile &file : list.files) {
        const QString path = joinPath(output, file.name);
        if (KRGeneratedFileList::isStillListedFile(file, path))
            QFile::remove(path);
    }
    for (const QString &name : list.staged) {
        const QFileInfo item(joinPath(output, name));
        if ((item.exists() || item.isSymLink()) && !m_stagedItems.contains(name))
            m_stagedItems.append(name);
    }
    // The staged items stay listed while the build runs: it lists the user's files meanwhile.
    if (m_stagedItems.isEmpty())
        QFile::remove(joinPath(output, QString::fromLatin1(KRProjectResource::GeneratedFileListName)));
    else
        writeGeneratedFileList();
}

namespace {

// One page of a build, made with its block of the user script and what it needs; or what
// stopped it. A plain page whose file text could be made at once (all but the links to the
// project's libraries, which are known once every page is made) is released then, and only
// its text is kept.
struct MadePage
{
    std::optional<KRResult<std::unique_ptr<KRBuildPage>>> page;
    QString pageID;
    bool serverPage = false;
    QString script;
    QStringList pluginRuntimeFiles;
    QSet<QString> manifestResources;
    QStringList requiredScripts;
    QSet<QString> requiredStylesheets;
    QSet<QString> requiredResources;
    QStringList warnings;
    QByteArray text;                  // the UTF-8 file text made at once
    qsizetype linksAt = -1;           // where the library links go in it; -1: no text made
    std::exception_ptr textException; // what making the text threw
    FileMadeAhead fileMadeAhead;      // the page's file, made empty by this build and not written yet
    std::exception_ptr exception;
};

// A file made ahead for a page that was not written (the build stopped first) goes again.
struct PageFilesMadeAhead
{
    const OutputFolder &folder;
    std::vector<MadePage> &made;
    ~PageFilesMadeAhead()
    {
        for (const MadePage &slot : made)
            KRFileManager::removeTemporaryFileIn(folder.fd(), slot.fileMadeAhead.file);
    }
};

// Makes the page's file text with the placeholder where the library links go, and releases
// the page, while what it is made of is fresh in this thread's memory.
void makeTextAtOnce(KRBuildPage &page, const QString &placeholder, MadePage &slot)
{
    try {
        const QString text = page.pageHTMLWithLibraryPlaceholder(placeholder);
        if (text.isNull())
            return; // the page is linked and written as it is
        QByteArray utf8 = text.toUtf8();
        const QByteArray comment = "<!--" + placeholder.toUtf8() + "-->";
        const qsizetype at = utf8.indexOf(comment);
        if (at < 0)
            krRaise(KRExceptionName::InternalInconsistency, QStringLiteral("the page text has no place for the library links"));
        utf8.remove(at, comment.size());
        slot.text = std::move(utf8);
        slot.linksAt = at;
    } catch (...) {
        slot.textException = std::current_exception();
    }
    slot.page->value().reset();
}

// `placeholder`: the text of the comment that stands for the library links in a plain page
// made at once; empty when pages are linked first.
void makePage(KRBuildProject &project, const KRXMLNode &element, bool exportMode, const QString &placeholder,
              MadePage &slot)
{
    try {
        slot.page.emplace(project.makeOutputPage(element));
        if (slot.page->ok()) {
            KRBuildPage &page = *slot.page->value();
            page.addFormElement();
            page.separateShadowingNames();
            slot.warnings = page.warnings();
            page.addScripts();
            slot.script = page.userScripts();
            slot.pluginRuntimeFiles = page.pluginRuntimeScriptFiles();
            slot.manifestResources = page.manifestResources();
            slot.requiredScripts = page.requiredObjectScripts();
            slot.requiredStylesheets = page.requiredStylesheets();
            slot.requiredResources = page.requiredResources();
            slot.pageID = page.pageID();
            slot.serverPage = page.serverScriptsEnabled() && !exportMode;
            if (!placeholder.isEmpty() && !slot.serverPage)
                makeTextAtOnce(page, placeholder, slot);
        }
    } catch (...) {
        slot.page.reset();
        slot.exception = std::current_exception();
    }
}

// Calls work(i) for each i below count, on up to `threads` threads, this one among them;
// returns when all calls have returned. This thread first does `ownWork` (when given), while
// the others start on the pages. The calls, and ownWork, catch what they throw.
void forEachPage(std::size_t count, int threads, const std::function<void(std::size_t)> &work,
                 const std::function<void()> &ownWork = {})
{
    std::atomic<std::size_t> next{0};
    runOnHelperThreads(
        count, std::size_t(std::max(threads, 1)),
        [&] {
            for (std::size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;)
                work(i);
        },
        ownWork);
}

// Every page, in document order. Pages are made side by side when the project allows it:
// each takes a fair share of a build, and what one page makes is its own. Whatever happens,
// the build goes on with the first page (in document order) that failed, as a one-by-one
// build would.
// `output`: when given, the calling thread first makes the pages' files there, empty and one
// after the other, when none is there, while the other threads make pages, and stops once
// every page is made: making a file can take long (a file system slow to find room for one),
// and files made in one folder side by side only wait for each other while holding up the
// threads that make pages. Only a page whose id makes a file name gets one, and keeps it only
// when the page came out plain under that id; the build checks the names again before it
// writes.
void makePages(KRBuildProject &project, const QList<KRXMLNode> &elements, bool exportMode, const QString &placeholder,
               const OutputFolder *output, std::vector<MadePage> &made)
{
    made.resize(std::size_t(elements.size()));
    std::vector<QString> names(made.size());
    if (output) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            const QString id = elements.at(qsizetype(i)).attribute(QStringLiteral("id"));
            if (KRJavaScript::isValidIdentifier(id))
                names[i] = id + QStringLiteral(".html");
        }
    }
    // Files not made by the time every page is are made when written.
    std::vector<FileMadeAhead> ahead(made.size());
    std::atomic<std::size_t> pagesMade{0};
    const auto makeFiles = [&] {
        for (std::size_t i = 0; i < names.size() && pagesMade.load(std::memory_order_relaxed) < names.size(); ++i) {
            if (!names[i].isEmpty())
                ahead[i] = makeFileAhead(*output, names[i]);
        }
    };
    forEachPage(
        made.size(), project.concurrentPageLimit(),
        [&](std::size_t i) {
            makePage(project, elements.at(qsizetype(i)), exportMode, placeholder, made[i]);
            pagesMade.fetch_add(1, std::memory_order_relaxed);
        },
        output ? std::function<void()>(makeFiles) : std::function<void()>());
    for (std::size_t i = 0; i < ahead.size(); ++i) {
        if (ahead[i].name.isEmpty())
            continue;
        if (made[i].linksAt >= 0 && ahead[i].name == QFile::encodeName(made[i].pageID + QStringLiteral(".html")))
            made[i].fileMadeAhead = ahead[i];
        else
            KRFileManager::removeTemporaryFileIn(output->fd(), ahead[i].file);
    }
}

// A page finished and written on a helper thread: what writing its file came to, and what
// stopped it.
struct PageFile
{
    WrittenFile file;
    std::exception_ptr exception;
};

} // namespace

KRResult<QString> KRProjectBuilder::buildProject()
{
    KR_LOG(QString());
    // A build in the background is of a copy of the project: the window posts this itself
    // before it takes the copy.
    if (!m_background)
        KRNotificationCenter::defaultCenter().post(KRWillBuildDocumentNotification, m_project->documentIdentity());
    BuildRun run(*m_project, m_exportMode);

    const QString output = resolvedOutputDirectory();
    if (output.isEmpty() || !QFileInfo(output).isDir()) {
        const QString reason = QStringLiteral("krwebURL %1 doesn't exist or isn't a directory.").arg(output);
        KR_LOG(reason);
        return KRError(errorDomain, NoOutputFolderError, reason, {{QStringLiteral("path"), output}});
    }

    // The project's web folder replaced by a link after the project opened would take every
    // file of the build out of the package.
    if (QFileInfo(output).isSymLink()) {
        const QString reason = QStringLiteral("The folder %1 is a link; the build writes only into a folder of its own.").arg(output);
        KR_LOG(reason);
        return KRError(errorDomain, NoOutputFolderError, reason, {{QStringLiteral("path"), output}});
    }

    const QList<KRXMLNode> pageElements = m_project->pageElements();
    if (pageElements.isEmpty()) {
        const QString reason = QStringLiteral("The project has no pages to build.");
        KR_LOG(reason);
        return KRError(errorDomain, NoPagesError, reason);
    }

    // A link to a page that is not there (deleted, or renamed outside the application) leads
    // nowhere in the built application: said, and the build goes on.
    m_warnings.clear();
    for (const KRPageLink &link : krLinksToMissingPages(pageElements)) {
        const QString warning = QStringLiteral("%1 on the page “%2” links to the page “%3”, which does not exist.")
                                    .arg(link.objectID, link.pageID, link.target);
        KR_LOG(warning);
        m_warnings.append(warning);
    }

    m_project->setIndexPage(QString());
    deleteAllGeneratedFiles();

    QString script = userScriptHeader();
    m_scriptPieces = {script};
    progress(QStringLiteral("making %1 pages").arg(pageElements.size()));

    std::vector<std::unique_ptr<KRBuildPage>> pages;
    QStringList pluginRuntimeFiles; // in first-seen order, each once
    QStringList requiredScripts; // first-seen order: a script may need one linked before it
    QSet<QString> requiredStylesheets;
    QSet<QString> requiredResources;
    QSet<QString> manifestEntries;
    const QString startPageID = m_project->startPage();

    // The pages read the user defaults: made here if they are not yet, as a QObject belongs
    // to the thread that makes it.
    KRUserDefaults::sharedInstance();
    // Plain pages are turned into their file text as soon as they are made, but for the links
    // to the libraries (a placeholder stands for them until every page is made and they are
    // known); the pages of a single-page deploy are all needed at once.
    const bool singlePage = m_project->singlePageDeploy();
    const QString placeholder = !singlePage && m_project->libraryLinksText({}, {})
        ? QStringLiteral("kr-library-links-%1").arg(QUuid::createUuid().toString(QUuid::WithoutBraces))
        : QString();
    const OutputFolder outputFolder(output);
    if (!outputFolder.isOpen()) {
        const QString reason = QStringLiteral("The output folder %1 cannot be opened: %2").arg(output, qt_error_string(errno));
        KR_LOG(reason);
        return KRError(errorDomain, NoOutputFolderError, reason, {{QStringLiteral("path"), output}});
    }
    std::vector<MadePage> made;
    const PageFilesMadeAhead madeAhead{outputFolder, made};
    // Files are made ahead only while other threads make pages (on one thread nothing is won),
    // and only for pages whose text is made at once.
    makePages(*m_project, pageElements, m_exportMode, placeholder,
              m_project->concurrentPageLimit() > 1 && !placeholder.isEmpty() ? &outputFolder : nullptr, made);
    std::vector<MadePage *> ordered; // as `pages`
    // The pages' blocks of the user script run to a large text: room for all of them at once.
    qsizetype scriptSize = script.size();
    for (const MadePage &slot : made)
        scriptSize += slot.script.size();
    script.reserve(scriptSize + 1024); // and the footer
    for (qsizetype index = 0; index < pageElements.size(); ++index) {
        MadePage &slot = made[std::size_t(index)];
        if (slot.exception)
            std::rethrow_exception(slot.exception); // as though the page had been made here
        if (!slot.page->ok()) {
            const QString pageID = pageElements.at(index).attribute(QStringLiteral("id"));
            const QString reason = QStringLiteral("The page \u201C%1\u201D could not be built: %2")
                                       .arg(pageID, slot.page->error().message());
            KR_LOG(reason);
            return KRError(errorDomain, PageError, reason, {{QStringLiteral("pageID"), pageID}});
        }
        std::unique_ptr<KRBuildPage> page = std::move(*slot.page).value(); // null once its text is made
        script += slot.script;
        m_scriptPieces.append(slot.script);
        for (const QString &warning : std::as_const(slot.warnings)) {
            KR_LOG(warning);
            m_warnings.append(warning);
        }

        for (const QString &file : std::as_const(slot.pluginRuntimeFiles)) {
            if (!pluginRuntimeFiles.contains(file))
                pluginRuntimeFiles.append(file);
        }
        manifestEntries.unite(slot.manifestResources);
        for (const QString &requiredScript : std::as_const(slot.requiredScripts)) {
            if (!requiredScripts.contains(requiredScript))
                requiredScripts.append(requiredScript);
        }
        requiredStylesheets.unite(slot.requiredStylesheets);
        requiredResources.unite(slot.requiredResources);
        manifestEntries.unite(QSet<QString>(slot.requiredScripts.cbegin(), slot.requiredScripts.cend()));
        manifestEntries.unite(slot.requiredStylesheets);
        manifestEntries.unite(slot.requiredResources);

        // Document order, with the start page moved to the front (the first page leads when
        // the start page is unset or names no page).
        if (!startPageID.isEmpty() && slot.pageID == startPageID) {
            pages.insert(pages.begin(), std::move(page));
            ordered.insert(ordered.begin(), &slot);
        } else {
            pages.push_back(std::move(page));
            ordered.push_back(&slot);
        }
    }

    // Every page links what any page of the project needs: style sheets sorted, so builds are
    // repeatable; scripts in the order pages (document order) and classes name them, since
    // a library script can depend on one named before it ("js-class.js" before "bluff-src.js").
    const QStringList stylesheetList = sorted(requiredStylesheets);
    const QStringList &scriptList = requiredScripts;
    const auto linkLibraries = [&](KRBuildPage &page) {
        for (const QString &stylesheet : stylesheetList)
            page.addCSS(stylesheet);
        for (const QString &requiredScript : scriptList)
            page.addExternalScript(requiredScript);
    };

    if (singlePage) {
        KRBuildPage &startPage = *pages.front();
        for (const auto &page : pages)
            linkLibraries(*page);
        const std::shared_ptr<DOMElement> startDiv = startPage.pageDivElement();
        const std::shared_ptr<DOMNode> parent = startDiv ? startDiv->parentNode() : nullptr;
        const std::shared_ptr<DOMDocument> document = startDiv ? startDiv->ownerDocument() : nullptr;
        if (parent && document) {
            // The server fills a served file's template expressions with the form data of the
            // page requested, the start page: another page's form-data script would be given
            // the start page's data (and in a plain file it would not even parse). Only the
            // start page keeps its own.
            for (std::size_t i = 1; i < pages.size(); ++i) {
                const std::shared_ptr<DOMElement> div = pages[i]->pageDivElement();
                if (!div)
                    continue;
                const auto imported = std::dynamic_pointer_cast<DOMElement>(document->importNode(*div, true));
                if (imported)
                    removeServerTemplateScripts(*imported);
                parent->appendChild(imported);
            }
        } else {
            KR_LOG(QStringLiteral("The start page %1 has no page element; the other pages are not added to it")
                       .arg(startPage.pageID()));
        }
    }

    // The pages written (a single-page deploy writes the start page alone) and their file
    // names. The page id is the file name: only an identifier may be one, so no page writes
    // outside the output folder or over another page's file.
    QStringList pageIDs;
    for (const MadePage *slot : ordered)
        pageIDs.append(slot->pageID);
    QStringList pageFileNames;
    std::vector<bool> serverPages;
    for (std::size_t i = 0; i < (singlePage ? 1 : pages.size()); ++i) {
        const QString &pageID = pageIDs.at(qsizetype(i));
        const bool serverPage = ordered[i]->serverPage;
        if (!KRJavaScript::isValidIdentifier(pageID) || pageFileNames.contains(pageID + QStringLiteral(".html"))
            || pageFileNames.contains(pageID + QStringLiteral(".krml"))) {
            const QString reason = QStringLiteral("The page id %1 cannot be a file name: it is no identifier or is taken.")
                                       .arg(KRJavaScript::quotedString(pageID));
            KR_LOG(reason);
            return KRError(errorDomain, PageError, reason);
        }
        pageFileNames.append(pageID + (serverPage ? QStringLiteral(".krml") : QStringLiteral(".html")));
        serverPages.push_back(serverPage);
    }

    // Each page's file is written on a thread of its own, side by side like makePages: the text
    // made at once with the library links in place of the placeholder, or else the page linked
    // to the libraries and its text made now; a page still held is released as soon as it is
    // done with. Meanwhile this thread writes the other files, whose texts do not depend on
    // the pages' (the pages only read the project).
    std::vector<PageFile> pageFiles(serverPages.size());
    const qsizetype generatedBefore = m_generatedFiles.size();
    std::optional<KRError> otherFilesError;
    std::exception_ptr otherFilesException;
    const QByteArray links = placeholder.isEmpty()
        ? QByteArray()
        : m_project->libraryLinksText(stylesheetList, scriptList).value_or(QString()).toUtf8();
    const auto finishPage = [&](std::size_t i) {
        MadePage &slot = *ordered[i];
        try {
            if (slot.textException)
                std::rethrow_exception(slot.textException);
            const QString name = i < pageFiles.size() ? pageFileNames.at(qsizetype(i)) : QString();
            if (slot.linksAt >= 0) {
                const QByteArrayView text(slot.text);
                pageFiles[i].file = writePageFile(outputFolder, name, {text.first(slot.linksAt), links, text.sliced(slot.linksAt)},
                                                  slot.fileMadeAhead);
                slot.fileMadeAhead = {}; // written, or removed again when it could not be
            } else {
                if (!singlePage)
                    linkLibraries(*pages[i]);
                if (i < pageFiles.size()) {
                    const QString text = serverPages[i] ? pages[i]->pageKRML() : pages[i]->pageHTML();
                    pageFiles[i].file = writePageFile(outputFolder, name, {text.toUtf8()}, slot.fileMadeAhead);
                }
            }
        } catch (...) {
            if (i < pageFiles.size())
                pageFiles[i].exception = std::current_exception();
        }
        pages[i].reset();
        slot.text = QByteArray();
    };
    forEachPage(pages.size(), m_project->concurrentPageLimit(), finishPage, [&] {
        try {
            if (KRResult<void> written = writeFilesBesidePages(pageFileNames, pageIDs, script, pluginRuntimeFiles,
                                                               scriptList, stylesheetList, requiredResources,
                                                               manifestEntries);
                !written)
                otherFilesError = written.error();
        } catch (...) {
            otherFilesException = std::current_exception();
        }
    });

    // What the page threads wrote is listed before the other files, as though written first,
    // whatever failed; the first failure in that order then stops the build.
    QList<GeneratedFile> pageEntries;
    std::exception_ptr pageException;
    std::optional<KRError> pageError;
    for (std::size_t i = 0; i < pageFiles.size(); ++i) {
        const bool failedBefore = pageException || pageError;
        if (pageFiles[i].exception) {
            if (!failedBefore)
                pageException = pageFiles[i].exception;
            continue;
        }
        const WrittenFile &file = pageFiles[i].file;
        if (file.written)
            pageEntries.append(GeneratedFile{pageFileNames.at(qsizetype(i)), file.size, file.modified, file.digest});
        else if (!failedBefore)
            pageError = writeError(joinPath(output, pageFileNames.at(qsizetype(i))), file.reason);
    }
    std::vector<PageFile>().swap(pageFiles);
    if (pageException || pageError) {
        // As though the build had stopped at the page: the files written beside the pages go.
        for (qsizetype i = generatedBefore; i < m_generatedFiles.size(); ++i)
            QFile::remove(joinPath(output, m_generatedFiles.at(i).name));
        m_generatedFiles.resize(generatedBefore);
    }
    for (qsizetype i = 0; i < pageEntries.size(); ++i)
        m_generatedFiles.insert(generatedBefore + i, pageEntries.at(i));
    if (pageException)
        std::rethrow_exception(pageException);
    if (pageError)
        return *pageError;
    if (otherFilesException)
        std::rethrow_exception(otherFilesException);
    if (otherFilesError)
        return *otherFilesError;
    m_project->setIndexPage(pageFileNames.first());
    const QString startPagePath = joinPath(output, pageFileNames.first());

    // Listed before the resources are read again, which tells the build's output by the list
    // where the files carry no marks.
    writeGeneratedFileList();
    reloadOutputResources();
    return startPagePath;
}

// The files written while the pages are: the index page of an export, the user script, the
// theme, the sitemap, the copies of the object runtime, the plug-ins' run-time scripts and the
// libraries, and the cache manifest (the pages' own files go into it by name). Main thread.
KRResult<void> KRProjectBuilder::writeFilesBesidePages(const QStringList &pageFileNames, const QStringList &pageIDs,
                                                      QString &script, const QStringList &pluginRuntimeFiles,
                                                      const QStringList &scriptList, const QStringList &stylesheetList,
                                                      const QSet<QString> &requiredResources,
                                                      QSet<QString> &manifestEntries)
{
    const QString output = resolvedOutputDirectory();
    // A web server shows a folder's "index.html" at the site's root: an export without a
    // page of that name gets one that opens the start page. A file of the user's keeps it.
    if (m_exportMode && !pageFileNames.contains(indexFileName)) {
        const QString indexPath = joinPath(output, indexFileName);
        if (QFileInfo::exists(indexPath) || QFileInfo(indexPath).isSymLink()) {
            KR_LOG(QStringLiteral("No index page is written: the web folder has its own %1").arg(indexFileName));
        } else {
            if (KRResult<void> saved = saveGeneratedFileString(indexPageHTML(pageFileNames.first()), indexPath); !saved)
                return saved;
            manifestEntries.insert(indexFileName);
        }
    }

    script += userScriptFooter();
    if (KRUserDefaults::sharedInstance().boolValue(QStringLiteral("JSMinimize"))) {
        std::optional<QString> byPieces;
        if (m_scriptCache && !m_minifier)
            byPieces = minifiedByPieces(userScriptFooter());
        if (!byPieces)
            progress(QStringLiteral("minifying the script"));
        KRResult<QString> minified = byPieces                                     ? KRResult<QString>(*byPieces)
                                     : (m_cancelled && m_cancelled->load()) ? KRResult<QString>(KRError(
                                                                                   errorDomain, 0, QStringLiteral("stopped")))
                                                                             : minify(script);
        if (minified)
            script = minified.value();
        else
            KR_LOG(QStringLiteral("The generated script is saved unminified: %1").arg(minified.error().toString()));
    }
    if (KRResult<void> saved = saveGeneratedFileString(script, joinPath(output, userScriptsFileName)); !saved)
        return saved;
    manifestEntries.insert(userScriptsFileName);

    const QString themeName = m_project->defaultTheme();
    if (!themeName.isEmpty()) {
        std::shared_ptr<KRProjectResource> theme = m_project->resourceForThemeName(themeName);
        // A style sheet that is a link out of the web folder is no file of the project's:
        // what it leads to is never published.
        const QFileInfo themeFile(theme ? theme->fullPath() : QString());
        const QString webFolder = QFileInfo(m_project->webFolderPath()).canonicalFilePath();
        if (theme && themeFile.isSymLink()
            && (webFolder.isEmpty() || !isSameOrInside(themeFile.canonicalFilePath(), webFolder))) {
            KR_LOG(QStringLiteral("The default theme %1 is a link out of the web folder; it is not read")
                       .arg(theme->fullPath()));
            theme.reset();
        }
        const std::optional<QString> contents = theme ? theme->stringContents() : std::nullopt;
        if (!contents) {
            KR_LOG(QStringLiteral("The default theme %1 has no readable style sheet; no theme file is written")
                       .arg(themeName));
        } else {
            const QVariantMap urls = m_project->jqmURLs();
            const QString imageRoot = (m_project->publishBuildMode() || m_exportMode)
                ? urls.value(QStringLiteral("urlRoot")).toString()
                : urls.value(QStringLiteral("localPathRoot")).toString();
            QString css = *contents;
            css.replace(QStringLiteral("url(images/"), QStringLiteral("url(%1/images/").arg(imageRoot));
            const QString themePath = joinPath(output, theme->themeRelativePath());
            if (KRResult<void> saved = saveGeneratedFileString(css, themePath); !saved)
                return saved;
        }
    }

    if (m_project->sitemap()) {
        if (KRResult<void> built = buildSitemap(pageFileNames); !built)
            return built;
    }

    for (const QString &fileName : pageFileNames)
        manifestEntries.insert(fileName);

    copyBundleResource(runtimeScriptResource);
    manifestEntries.insert(runtimeScriptName);

    // Each run-time script is copied under its file name: never over a file this build
    // writes, nor over another plug-in's script of that name (the plug-in loader refuses
    // both; a plug-in loaded some other way is checked here).
    QHash<QString, QString> copiedRuntimeFiles; // file name -> source
    for (const QString &file : pluginRuntimeFiles) {
        const QString fileName = QFileInfo(file).fileName();
        if (KRProjectResource::isGeneratedFileName(fileName, pageIDs)) {
            KR_LOG(QStringLiteral("The plug-in script %1 is not copied: the build writes a file of that name").arg(file));
            continue;
        }
        if (const QString other = copiedRuntimeFiles.value(fileName); !other.isEmpty()) {
            KR_LOG(QStringLiteral("The plug-in script %1 is not copied: %2 has the same name").arg(file, other));
            continue;
        }
        copiedRuntimeFiles.insert(fileName, file);
        // Nor over a file or folder of the user's that has the name: only what an earlier build
        // copied there (it carries the build's mark, or the script's own bytes) is replaced.
        if (const QFileInfo existing(joinPath(output, fileName));
            existing.exists() && !existing.isSymLink()
            && KRFileManager::extendedAttributeOfItemAtPath(existing.filePath(), stagedMark()) != kTrue
            && !(existing.isFile()
                 && KRGeneratedFileList::digestOfFile(existing.filePath()) == KRGeneratedFileList::digestOfFile(file))) {
            const QString warning = QStringLiteral("The plug-in script “%1” is not copied: the project has a file or folder "
                                                   "of that name of its own, which stays.")
                                        .arg(fileName);
            KR_LOG(QStringLiteral("%1 (%2)").arg(warning, file));
            m_warnings.append(warning);
            continue;
        }
        copyResource(file);
        manifestEntries.insert(fileName);
    }

    // The user's own files, read again so that the list holds what is there now. Folders are
    // listed by their files; staged library copies come in through the required sets above.
    reloadOutputResources();
    for (const auto &resource : outputResources()) {
        if (resource->isTheme() || resource->isStaged())
            continue;
        collectFiles(*resource, manifestEntries);
    }
    manifestEntries.remove(m_project->manifestURL());

    for (const QString &path : scriptList)
        copyLocalServerResource(path);
    for (const QString &path : stylesheetList)
        copyLocalServerResource(path);
    for (const QString &path : sorted(requiredResources))
        copyLocalServerResource(path);

    if (m_exportMode && m_project->exportLocalJQuerySources()) {
        QList<std::shared_ptr<KRProjectResource>> localFiles;
        addResourcesFromPath(localJQueryPath, localFiles);
        addResourcesFromPath(m_project->jqmURLs().value(QStringLiteral("bundlePathRoot")).toString(), localFiles);
        for (const auto &file : localFiles)
            manifestEntries.insert(file->name());
    }

    if (m_project->generateManifest()) {
        if (KRResult<void> built = buildCacheManifest(manifestEntries); !built)
            return built;
    }

    return {};
}

QString KRProjectBuilder::indexPageHTML(const QString &startPageFileName)
{
    // The file name goes into an address and into markup: escaped for both, so any name
    // stays text.
    const QString address = KRWebFolder::addressForFileName(startPageFileName).toHtmlEscaped();
    const QString title = startPageFileName.toHtmlEscaped();
    return QStringLiteral("<!DOCTYPE html>\n"
                          "<html><head><meta charset=\"UTF-8\">"
                          "<meta http-equiv=\"refresh\" content=\"0; url=%1\">"
                          "<title>%2</title></head>\n"
                          "<body><p><a href=\"%1\">%2</a></p></body></html>\n")
        .arg(address, title);
}

QString KRProjectBuilder::userScriptHeader() const
{
    QString header;
    header += QStringLiteral("(function(window) {\n");
    header += QStringLiteral("$(document).on('pagechange pagebeforeshow', function() {\napplication._pageChange();\n});\n");
    header += QStringLiteral("window.application = new KRApplication({\n");
    header += QStringLiteral("_deviceMap: %1").arg(deviceInformationJSON());
    header += QStringLiteral(", _jqm: true");
    header += QStringLiteral(", _jqmAJAX: %1").arg(m_project->ajaxPageLoading() ? kTrue : QStringLiteral("false"));
    if (m_project->singlePageDeploy())
        header += QStringLiteral(", _singlePageDeploy: true");
    header += QStringLiteral("});\n");
    header += QStringLiteral("var application = window.application;\n");
    return header;
}

QString KRProjectBuilder::userScriptFooter()
{
    return QStringLiteral("})(window);\n");
}

QString KRProjectBuilder::manifestEntry(const QString &entry)
{
    // One address per line: what would end the line, split it or start a comment is
    // percent-encoded, as is a "%" that starts no escape (a file name's own "%").
    QString escaped;
    escaped.reserve(entry.size());
    const auto isHex = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    };
    for (qsizetype i = 0; i < entry.size(); ++i) {
        const QChar c = entry.at(i);
        const bool escape = c.unicode() <= 0x20 || c.unicode() == 0x7F || c == QLatin1Char('#')
            || c.unicode() == 0x85 || c.unicode() == 0x2028 || c.unicode() == 0x2029
            || (c == QLatin1Char('%') && !(i + 2 < entry.size() && isHex(entry.at(i + 1)) && isHex(entry.at(i + 2))));
        if (!escape) {
            escaped += c;
            continue;
        }
        for (const char byte : QString(c).toUtf8())
            escaped += QStringLiteral("%%1").arg(uint(quint8(byte)), 2, 16, QLatin1Char('0')).toUpper();
    }
    return escaped;
}

KRResult<void> KRProjectBuilder::buildCacheManifest(const QSet<QString> &entries)
{
    QString text = QStringLiteral("CACHE MANIFEST\n");
    // A file's name is written as its address, as the pages link it; a full address (a
    // library elsewhere) as it stands, kept on its line.
    for (const QString &entry : sorted(entries)) {
        text += KRWebFolder::isAbsoluteAddress(entry) ? manifestEntry(entry) : KRWebFolder::addressForFileName(entry);
        text += QLatin1Char('\n');
    }
    return saveGeneratedFileString(text, joinPath(resolvedOutputDirectory(), m_project->manifestURL()));
}

QString KRProjectBuilder::sitemapBase()
{
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    const QString base = defaults.value(QStringLiteral("sitemapBaseURL")).toString();
    if (!base.isEmpty())
        return base;
    const QString domain = defaults.value(QStringLiteral("hostingDomain")).toString();
    if (!domain.isEmpty())
        return QStringLiteral("http://%1.%2/").arg(domain, hostingSiteDomain);
    return QString();
}

KRResult<void> KRProjectBuilder::buildSitemap(const QStringList &pageFileNames)
{
    const QString output = resolvedOutputDirectory();
    const QString base = sitemapBase();
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                                 "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">");
    for (const QString &fileName : pageFileNames)
        xml += QStringLiteral("<url><loc>%1</loc></url>").arg((base + KRWebFolder::addressForFileName(fileName)).toHtmlEscaped());
    xml += QStringLiteral("</urlset>\n");
    if (KRResult<void> saved = saveGeneratedFileData(xml.toUtf8(), joinPath(output, sitemapFileName)); !saved)
        return saved;

    // A crawler takes the sitemap only from a full address: without a site address the file
    // says nothing (and allows everything).
    const QUrl baseURL(base);
    const bool absolute = (baseURL.scheme() == QLatin1String("http") || baseURL.scheme() == QLatin1String("https"))
        && !baseURL.host().isEmpty();
    if (!absolute) {
        KR_LOG(QStringLiteral("robots.txt names no sitemap: no site address is set"));
        return saveGeneratedFileString(QString(), joinPath(output, robotsFileName));
    }
    // The address of the sitemap file that is written, under the base with exactly one "/".
    QString address = base;
    if (!address.endsWith(QLatin1Char('/')))
        address += QLatin1Char('/');
    address += sitemapFileName;
    return saveGeneratedFileString(QStringLiteral("Sitemap: %1\n").arg(address), joinPath(output, robotsFileName));
}

KRResult<void> KRProjectBuilder::saveGeneratedFileString(const QString &text, const QString &path)
{
    return saveGeneratedFileData(text.toUtf8(), path);
}

KRError KRProjectBuilder::writeError(const QString &path, const QString &reason)
{
    const QString message = QStringLiteral("The file \u201C%1\u201D could not be written: %2")
                                .arg(QFileInfo(path).fileName(), reason);
    KR_LOG(QStringLiteral("%1 (%2)").arg(message, path));
    return KRError(errorDomain, WriteError, message, {{QStringLiteral("path"), path}});
}

KRResult<void> KRProjectBuilder::saveGeneratedFileData(const QByteArray &data, const QString &path)
{
    // Without a sync: a generated file is made again by every build, so a torn write costs a
    // rebuild, never the user's work. A new file replaces whatever is at the path, so a link
    // there (a package may bring one to any file of the user's) is replaced, never written
    // through; and nothing is written where a folder on the way leads out of the output
    // folder. Every failure is reported.
    const auto failed = [&path](const QString &reason) { return writeError(path, reason); };
    const QString output = resolvedOutputDirectory();
    if (!staysInside(path, output))
        return failed(QStringLiteral("its folder leads out of the output folder"));
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir())
        QDir().mkpath(folder);
    // Written from the output folder's parent opened once, no folder on the way followed.
    const QFileInfo outputInfo(output);
    const QString below = outputInfo.fileName() + QLatin1Char('/') + QDir(output).relativeFilePath(path);
    // Marked before it takes its name: a build stopped at any moment leaves no unmarked file.
    if (const KRResult<void> written =
            KRFileManager::writeFileAtomicallyBelow(outputInfo.absolutePath(), below, data, false, {{generatedMark(), kTrue}});
        !written)
        return failed(written.error().message());
    // Listed too, for file systems that keep no marks.
    const QFileInfo info(path);
    if (QDir::cleanPath(info.absolutePath()) == QDir::cleanPath(QFileInfo(output).absoluteFilePath())
        && KRWebFolder::isPlainFileName(info.fileName())) {
        const GeneratedFile file{info.fileName(), qint64(data.size()), modifiedMSecs(path),
                                 KRGeneratedFileList::digest({data})};
        const auto same = std::find_if(m_generatedFiles.begin(), m_generatedFiles.end(),
                                       [&](const GeneratedFile &listed) { return listed.name == file.name; });
        if (same != m_generatedFiles.end())
            *same = file;
        else
            m_generatedFiles.append(file);
    }
    return {};
}

void KRProjectBuilder::deleteAllGeneratedFiles()
{
    deleteListedGeneratedFiles();
    const QString output = resolvedOutputDirectory();
    const QFileInfoList entries = QDir(output).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir())
            continue;
        if (KRFileManager::extendedAttributeOfItemAtPath(entry.filePath(), generatedMark()) == kTrue)
            QFile::remove(entry.filePath());
    }
}

bool KRProjectBuilder::copyLocalServerResource(const QString &relativePath)
{
    if (!isContainedRelativePath(relativePath)) {
        KR_LOG(QStringLiteral("Skipping the library file %1: not a path inside the library folder").arg(relativePath));
        return false;
    }
    const QString output = resolvedOutputDirectory();
    const QString source = localServerPath(relativePath);
    const QString target = joinPath(output, QDir::cleanPath(relativePath));
    const QString targetFolder = QFileInfo(target).absolutePath();

    // Nothing is removed or written where a folder on the way leads out of the output
    // folder; a link at the target is replaced by the copy.
    if (!staysInside(target, output)) {
        const QString reason = QStringLiteral("A folder on the way leads out of the output folder.");
        KR_LOG(QStringLiteral("Copying %1 to %2 refused: %3").arg(source, target, reason));
        showError(copyErrorMessage(source, target), reason);
        return false;
    }
    const QFileInfo sourceInfo(source);
    const QFileInfo targetInfo(target);
    const QString firstComponent = QDir::cleanPath(relativePath).section(QLatin1Char('/'), 0, 0);
    if (sourceInfo.isFile() && !targetInfo.isSymLink() && targetInfo.isFile() && sameFileDate(sourceInfo, targetInfo)) {
        addStagedItem(firstComponent);
        return true; // copied by an earlier build and unchanged since
    }
    removeItem(target);

    const QFileInfo folderInfo(targetFolder);
    if (folderInfo.exists() && !folderInfo.isDir()) {
        KRAlert alert;
        alert.messageText = QStringLiteral("\"%1\" exists.").arg(folderInfo.fileName());
        alert.informativeText =
            QStringLiteral("\"%1\" already exists, but isn't a directory.  Skipping...").arg(targetFolder);
        alert.buttonTitles = {QStringLiteral("Abort")};
        runAlert(alert);
        return false;
    }
    if (!folderInfo.exists()) {
        QDir().mkpath(targetFolder);
        KRFileManager::setExtendedAttributesOfAllItemsAtPath(joinPath(output, firstComponent), stagedMark(), kTrue);
    }

    QString reason;
    if (!copyIntoOutput(source, output, QDir::cleanPath(relativePath), &reason)) {
        KR_LOG(QStringLiteral("Copying %1 to %2 failed: %3").arg(source, target, reason));
        showError(copyErrorMessage(source, target), reason);
        return false;
    }
    KRFileManager::setExtendedAttributeOfItemAtPath(target, stagedMark(), kTrue);
    addStagedItem(firstComponent);
    return true;
}

void KRProjectBuilder::addStagedItem(const QString &name)
{
    if (KRWebFolder::isPlainFileName(name) && !m_stagedItems.contains(name))
        m_stagedItems.append(name);
}

bool KRProjectBuilder::copyBundleResource(const QString &name)
{
    return copyResource(KRResources::pathForResource(name));
}

bool KRProjectBuilder::copyResource(const QString &fullPath)
{
    const QString target = joinPath(resolvedOutputDirectory(), QFileInfo(fullPath).fileName());
    const QFileInfo sourceInfo(fullPath);
    const QFileInfo targetInfo(target);
    if (targetInfo.exists() || targetInfo.isSymLink()) {
        // A link in its place is replaced, whatever it leads to.
        if (!targetInfo.isSymLink() && sameFileDate(sourceInfo, targetInfo)) {
            addStagedItem(targetInfo.fileName());
            return true;
        }
        removeItem(target);
    }
    QString reason;
    if (!copyIntoOutput(fullPath, resolvedOutputDirectory(), targetInfo.fileName(), &reason)) {
        KR_LOG(QStringLiteral("Copying %1 to %2 failed: %3").arg(fullPath, target, reason));
        showError(copyErrorMessage(fullPath, target), reason);
        return false;
    }
    KRFileManager::setExtendedAttributeOfItemAtPath(target, stagedMark(), kTrue);
    addStagedItem(targetInfo.fileName());
    return true;
}

bool KRProjectBuilder::exportProjectToURL(const QUrl &folderURL)
{
    return exportProjectToFolder(folderURL.toLocalFile());
}

bool KRProjectBuilder::exportProjectToFolder(const QString &folderPath)
{
    const QString webFolder = m_project->webFolderPath();
    const QString exportFolder = QDir::cleanPath(folderPath);
    if (exportFolder.isEmpty())
        return false;
    // A target the export may not write to: said, logged, and nothing touched.
    const auto refuse = [&](const QString &message, const QString &informativeText, const QString &logLine) {
        KRAlert alert;
        alert.messageText = message;
        alert.informativeText = informativeText;
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
        KR_LOG(QStringLiteral("Export into %1 refused: %2").arg(exportFolder, logLine));
        return false;
    };

    // Copying the web folder into itself would copy what it is copying without end, and
    // replacing items there would delete the project's own files.
    if (!webFolder.isEmpty()) {
        const QString canonicalWeb = canonicalPathAllowingMissing(webFolder);
        if (isSameOrInside(canonicalPathAllowingMissing(exportFolder), canonicalWeb)) {
            return refuse(QStringLiteral("The project can\u2019t be exported into its own web folder."),
                          QStringLiteral("\u201C%1\u201D is the project\u2019s web folder or lies inside it. "
                                         "Choose a folder outside it.")
                              .arg(exportFolder),
                          QStringLiteral("inside the web folder %1").arg(webFolder));
        }
    }

    // Nor is anything written into the package around it: a resource named "project.xml" or a
    // folder named "kr-web" would replace the project's own, and the web folder's links and
    // files could overwrite anything in it.
    const PackageGuard package(m_project->packagePath());
    if (package.isInside(exportFolder)) {
        return refuse(QStringLiteral("The project can\u2019t be exported into its own package."),
                      QStringLiteral("\u201C%1\u201D is the project\u2019s package or lies inside it. "
                                     "Choose a folder outside it.")
                          .arg(exportFolder),
                      QStringLiteral("inside the package %1").arg(m_project->packagePath()));
    }

    // Nor into another Korvane project, or a folder inside one (made or not), whatever "Don't
    // ask again" says: the site's files would mix with that project's own.
    ProjectFinder projects;
    if (const QString project = projects.holding(exportFolder); !project.isEmpty()) {
        const QString where = project == canonicalPathAllowingMissing(exportFolder)
            ? QStringLiteral("\u201C%1\u201D is a Korvane project").arg(exportFolder)
            : QStringLiteral("\u201C%1\u201D lies inside the Korvane project \u201C%2\u201D").arg(exportFolder, project);
        return refuse(QStringLiteral("The project can\u2019t be exported into \u201C%1\u201D.")
                          .arg(QFileInfo(exportFolder).fileName()),
                      QStringLiteral("%1, and an export never replaces a project or writes into one. Choose a "
                                     "folder outside it.")
                          .arg(where),
                      QStringLiteral("inside the project %1").arg(project));
    }

    m_project->reloadResources();
    // A file whose name is not UTF-8 is no resource and could not be copied by name: the
    // export stops and names them rather than leave them out.
    if (const QStringList odd = webFolder.isEmpty() ? QStringList() : KRFileManager::undecodableNamesBelow(webFolder);
        !odd.isEmpty()) {
        showError(QStringLiteral("The project can\u2019t be exported: some of its files have names that are not UTF-8."),
                  odd.mid(0, 20).join(QLatin1Char('\n')));
        return false;
    }

    // The export is built in a stage of its own, never in the web folder: a running preview
    // serves that folder, and its server pages, scripts and library links are a build's for
    // the preview, which an export build would replace.
    ExportStage stage(*m_project);
    if (stage.path().isEmpty()) {
        showError(QStringLiteral("The project can\u2019t be exported: there is no folder to build it in."), stage.error());
        return false;
    }
    {
        QString source;
        QString reason;
        const QString webRoot = webFolder.isEmpty() ? QString() : canonicalPathAllowingMissing(webFolder);
        if (!stage.copyUserFiles(m_project->resources(), webRoot, &source, &reason)) {
            showError(copyErrorMessage(source, joinPath(stage.path(), QFileInfo(source).fileName())), reason);
            return false;
        }
    }
    {
        const auto unstage = qScopeGuard([this, exportMode = m_exportMode] {
            m_stage = nullptr;
            m_exportMode = exportMode;
        });
        m_stage = &stage;
        m_exportMode = true;
        const KRResult<QString> built = build();
        if (!built) {
            showError(QStringLiteral("The project could not be built."), built.error().message());
            return false;
        }
    }

    QList<std::shared_ptr<KRProjectResource>> records = stage.resources();
    // Links in the stage stay links (those leading out of it are skipped); the library files
    // that follow are copied as files.
    const qsizetype webRecords = records.size();
    const QString linkRoot = canonicalPathAllowingMissing(stage.path());
    if (m_project->exportLocalJQuerySources()) {
        addResourcesFromPath(localJQueryPath, records);
        addResourcesFromPath(m_project->jqmURLs().value(QStringLiteral("bundlePathRoot")).toString(), records);
    }

    // An item of the export that would replace the package, or the folder holding it (the
    // chosen folder holds the package, and a resource has its name), stops the export before
    // anything is asked or touched, whatever "Don't ask again" says.
    for (const auto &record : std::as_const(records)) {
        const QString name = record->relativePath().isEmpty() ? record->name() : record->relativePath();
        if (!isContainedRelativePath(name))
            continue;
        const QString target = joinPath(exportFolder, QDir::cleanPath(name));
        if (!package.isTouchedByReplacing(target))
            continue;
        return refuse(QStringLiteral("The project can\u2019t be exported into \u201C%1\u201D.")
                          .arg(QFileInfo(exportFolder).fileName()),
                      QStringLiteral("Exporting \u201C%1\u201D there would replace the project\u2019s own "
                                     "package, a folder holding it or a file in it. Choose another folder.")
                          .arg(name),
                      QStringLiteral("%1 would replace the package %2").arg(target, m_project->packagePath()));
    }

    // Nor does an item replace another Korvane project, a folder holding one, or anything in
    // one, whatever "Don't ask again" says.
    for (const auto &record : std::as_const(records)) {
        const QString name = record->relativePath().isEmpty() ? record->name() : record->relativePath();
        if (!isContainedRelativePath(name))
            continue;
        const QString target = joinPath(exportFolder, QDir::cleanPath(name));
        const QString project = projects.touchedByReplacing(target);
        if (project.isEmpty())
            continue;
        return refuse(QStringLiteral("The project can\u2019t be exported into \u201C%1\u201D.")
                          .arg(QFileInfo(exportFolder).fileName()),
                      QStringLiteral("Exporting \u201C%1\u201D there would replace the Korvane project \u201C%2\u201D "
                                     "or something in it, and an export never replaces a project. Rename the "
                                     "resource, or choose another folder.")
                          .arg(name, project),
                      QStringLiteral("%1 would replace the project %2").arg(target, project));
    }

    // A folder named in the dialog that is not there yet is made, inside a folder that is.
    if (const QFileInfo chosen(exportFolder); !chosen.exists()) {
        const QString parent = chosen.absolutePath();
        const QString cannot = QStringLiteral("The folder \u201C%1\u201D can\u2019t be made.").arg(chosen.fileName());
        if (!QFileInfo(parent).isDir())
            return refuse(cannot,
                          QStringLiteral("The folder \u201C%1\u201D it would be made in doesn\u2019t exist. Choose a "
                                         "folder that exists, or type the name of a new folder inside one.")
                              .arg(parent),
                          QStringLiteral("no folder %1").arg(parent));
        if (::mkdir(QFile::encodeName(exportFolder).constData(), 0777) != 0) {
            const QString reason = QString::fromLocal8Bit(std::strerror(errno));
            return refuse(cannot, reason, reason);
        }
    } else if (!chosen.isDir()) {
        return refuse(QStringLiteral("The project can\u2019t be exported into \u201C%1\u201D.").arg(chosen.fileName()),
                      QStringLiteral("\u201C%1\u201D is a file, not a folder. Choose a folder.").arg(exportFolder),
                      QStringLiteral("a file"));
    }

    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    const QString suppressKey = QStringLiteral("SuppressExportOverwriteWarning");
    bool replaceAll = false;
    QStringList copiedTargets; // what this export wrote: never asked about again

    for (qsizetype index = 0; index < records.size(); ++index) {
        const auto &record = records.at(index);
        const QString name = record->relativePath().isEmpty() ? record->name() : record->relativePath();
        if (!isContainedRelativePath(name)) {
            KR_LOG(QStringLiteral("Export skips %1: not a path inside the folder").arg(name));
            continue;
        }
        const QString target = joinPath(exportFolder, QDir::cleanPath(name));
        const QString targetFolder = QFileInfo(target).absolutePath();
        // A folder on the way (a link copied a moment ago, or one that was there) must not
        // lead the copy out of the chosen folder.
        if (!staysInside(target, exportFolder)) {
            showError(copyErrorMessage(record->fullPath(), target),
                      QStringLiteral("A folder on the way leads out of the folder chosen for the export."));
            return false;
        }
        // Nor into the package, through a link copied a moment ago.
        if (package.isTouchedByReplacing(target)) {
            showError(copyErrorMessage(record->fullPath(), target),
                      QStringLiteral("A folder on the way leads into the project\u2019s own package."));
            return false;
        }

        const QFileInfo folderInfo(targetFolder);
        if (!folderInfo.exists()) {
            QDir().mkpath(targetFolder);
        } else if (!folderInfo.isDir()) {
            KRAlert alert;
            alert.messageText = QStringLiteral("\"%1\" exists.").arg(targetFolder);
            alert.informativeText =
                QStringLiteral("\"%1\" already exists, but isn't a directory.  Aborting export.").arg(targetFolder);
            alert.buttonTitles = {QStringLiteral("Abort")};
            KRAlertService::current().runModal(alert);
            return false;
        }

        const QFileInfo targetInfo(target);
        if (targetInfo.exists() || targetInfo.isSymLink()) {
            const bool writtenNow = std::any_of(copiedTargets.cbegin(), copiedTargets.cend(),
                                                [&](const QString &copied) { return isSameOrInside(target, copied); });
            if (!writtenNow && !replaceAll && !defaults.boolValue(suppressKey)) {
                KRAlert alert;
                alert.messageText =
                    QStringLiteral("\"%1\" already exists. Do you want to replace it?").arg(name);
                alert.informativeText =
                    QStringLiteral("A file or folder with the same name already exists in the folder %1. "
                                   "Replacing it will overwrite its current contents.")
                        .arg(QFileInfo(exportFolder).fileName());
                alert.buttonTitles = {QStringLiteral("Replace This File"), QStringLiteral("Replace All Files"),
                                      QStringLiteral("Cancel")};
                alert.suppressionButtonTitle = QStringLiteral("Don't ask again.");
                const int answer = KRAlertService::current().runModal(alert);
                if (answer == KRAlertService::ThirdButtonReturn)
                    return false;
                if (*alert.suppressionButtonChecked)
                    defaults.setValue(suppressKey, true);
                if (answer == KRAlertService::SecondButtonReturn)
                    replaceAll = true;
            }
            QString reason;
            if (!removeItem(target, &reason)) {
                showError(QStringLiteral("\u201C%1\u201D couldn\u2019t be removed.").arg(name), reason);
                return false;
            }
        }

        QString reason;
        if (!copyItem(record->fullPath(), target, false, &reason, index < webRecords ? linkRoot : QString())) {
            showError(copyErrorMessage(record->fullPath(), target), reason);
            return false;
        }
        copiedTargets.append(target);
    }
    return true;
}

void KRProjectBuilder::addResourcesFromPath(const QString &relativePath,
                                            QList<std::shared_ptr<KRProjectResource>> &array)
{
    if (!isContainedRelativePath(relativePath)) {
        KR_LOG(QStringLiteral("No library files under \"%1\"").arg(relativePath));
        return;
    }
    const QString path = localServerPath(relativePath);
    if (!QFileInfo(path).isDir()) {
        addResourceFromFile(path, relativePath, array);
        return;
    }
    const QStringList names =
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names) {
        const QString childRelative = joinPath(relativePath, name);
        if (QFileInfo(joinPath(path, name)).isDir())
            addResourcesFromPath(childRelative, array);
        else
            addResourceFromFile(joinPath(path, name), childRelative, array);
    }
}

void KRProjectBuilder::addResourceFromFile(const QString &fullPath, const QString &name,
                                           QList<std::shared_ptr<KRProjectResource>> &array)
{
    auto record = std::make_shared<KRProjectResource>();
    record->setName(name);
    record->setFullPath(fullPath);
    array.append(record);
}

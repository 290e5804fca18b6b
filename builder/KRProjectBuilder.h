#pragma once

#include <builder/KRBuildSource.h>
#include <model/KRGeneratedFileList.h>

#include <platform/foundation/KRError.h>

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <platform/foundation/KRAlertService.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class KRProject;
class KRProjectResource;
class KRScriptCache;

// Posted (sender: the project's document) when a build begins, so that open editors write
// their pending text into the model first.
inline const QString KRWillBuildDocumentNotification = QStringLiteral("KRWillBuildDocumentNotification");

// Turns a project into a static web application in a folder (by default the project's web
// folder): one file per page, "KR-user-scripts.js", the default theme's style sheet, the
// sitemap with "robots.txt", the cache manifest, the object runtime "KRObjects-min.js" and the
// library files the pages need. An export builds in export mode in a private folder of its own
// holding copies of the user's files of the web folder, with an "index.html" that opens the
// start page unless a page or a file of the user's has that name, and copies that folder into a
// folder of the user's choice; the web folder, which a running preview serves, stays as it is.
// One builder serves one build (and one export); main thread only. Pages are made and written
// out on several threads at once when the project allows it
// (KRBuildProject::concurrentPageLimit), each page's file written by the thread that made its
// text; the other files are written from the calling thread meanwhile. Page files
// are made by plain names in the output folder, opened once before the pages are made, never
// through a link.
//
// Files the builder writes carry the mark "com.korvane.generatedFile" (removed by the next
// build); library, runtime and plug-in files it copies carry "com.korvane.stagedFile" and keep
// their source's modification date, so a rebuild copies only what changed.
class KRProjectBuilder
{
public:
    static const QString errorDomain; // "KRProjectBuilderErrorDomain"
    enum ErrorCode {
        NoOutputFolderError = 1, // the output folder is missing or not a folder
        NoPagesError = 2,        // the project has no page to build
        PageError = 3,           // a page could not be made
        WriteError = 4,          // a page or generated file could not be written
    };

    static const QString userScriptsFileName;  // "KR-user-scripts.js"
    static const QString sitemapFileName;      // "KR-sitemap.xml"
    static const QString robotsFileName;       // "robots.txt"
    static const QString runtimeScriptName;    // "KRObjects-min.js"
    static const QString runtimeScriptResource; // "runtime/KRObjects-min.js" in the resources
    static const QString localJQueryPath;      // "jquery-1.9.0/jquery.min.js"
    static const QString indexFileName;        // "index.html"
    // The hosting service's site domain, under which "hostingDomain" names a site.
    static const QString hostingSiteDomain;

    explicit KRProjectBuilder(std::shared_ptr<KRBuildProject> project);
    // Builds an open project: its pages are made afresh with design mode off.
    explicit KRProjectBuilder(const std::shared_ptr<KRProject> &project);
    ~KRProjectBuilder();
    KRProjectBuilder(const KRProjectBuilder &) = delete;
    KRProjectBuilder &operator=(const KRProjectBuilder &) = delete;

    // The folder to write; empty (the default) means the project's web folder.
    void setOutputURL(const QUrl &url) { m_outputDirectory = url.toLocalFile(); }
    void setOutputDirectory(const QString &path) { m_outputDirectory = path; }
    QString outputDirectory() const { return m_outputDirectory; }

    bool exportMode() const { return m_exportMode; }
    void setExportMode(bool exportMode) { m_exportMode = exportMode; }

    // Minifies the generated script when "JSMinimize" is on; the default asks the local
    // runtime server (KRUglifyJavaScript). A failure keeps the unminified script.
    using Minifier = std::function<KRResult<QString>(const QString &)>;
    void setMinifier(Minifier minifier) { m_minifier = std::move(minifier); }
    // With a cache and no minifier of the caller's, the generated script is minified piece by
    // piece (the header's statements, then each page's block, each a script of its own placed
    // back inside the script's function) and each piece's result kept in the cache by its
    // text, so that a rebuild sends the server only the pages that changed; several pieces go
    // at once. When a piece cannot be minified the whole script is sent as without a cache.
    // The cache must outlive the builder.
    void setScriptCache(KRScriptCache *cache) { m_scriptCache = cache; }
    // The local runtime server's port the default minifier uses (asked of KRRuntimeServer on
    // the building thread when not set; below 0: no server).
    void setServerPort(qint64 port) { m_serverPort = port; }
    // A build off the main thread: it posts no notification and shows no alert; the alerts it
    // would have shown are kept in deferredAlerts() for the caller to show afterwards.
    void setRunsInBackground(bool background) { m_background = background; }
    const QList<KRAlert> &deferredAlerts() const { return m_deferredAlerts; }
    // What the last build found wrong without stopping for it, one sentence each: controls
    // whose links lead to pages the project does not have. Also written to the log.
    const QStringList &warnings() const { return m_warnings; }
    // Called on the building thread as the build goes on, with what it is doing.
    void setProgress(std::function<void(const QString &)> progress) { m_progress = std::move(progress); }
    // Once set, minifying stops: the script is written as it is.
    void setCancelFlag(const std::atomic<bool> *cancelled) { m_cancelled = cancelled; }

    // Pieces of the script minified at once (with a cache).
    static constexpr int concurrentMinifications = 4;

    // The "_deviceMap" of the generated script; the default is the catalogue's
    // deviceInformationJSON.
    void setDeviceInformationJSON(const QString &json) { m_deviceInformationJSON = json; }

    // Builds; returns the full path of the start page's file. Fails, naming the cause, when
    // the output folder is missing (nothing is written), when the project has no pages
    // (nothing is written), when a page cannot be made, or when a page file or generated file
    // cannot be written. Copy errors of library files are shown and the build goes on.
    KRResult<QString> build();

    // The page an export writes as "index.html" when no page has that name: it opens the
    // start page's file.
    static QString indexPageHTML(const QString &startPageFileName);

    QString userScriptHeader() const;
    static QString userScriptFooter();

    // Writes the cache manifest: its header, then each entry on a line of its own, sorted: a
    // file's name as its address (KRWebFolder::addressForFileName), a full address escaped by
    // manifestEntry.
    KRResult<void> buildCacheManifest(const QSet<QString> &entries);
    // A full address as a line of the cache manifest: white space, control characters, line and
    // paragraph separators, "#" and a "%" that starts no escape are percent-encoded (UTF-8),
    // so that no name ends the line, adds a section or hides the entries after it.
    static QString manifestEntry(const QString &entry);
    KRResult<void> buildSitemap(const QStringList &pageFileNames);
    // The sitemap's base address from the user defaults "sitemapBaseURL" and "hostingDomain".
    static QString sitemapBase();

    // Write the content (strings as UTF-8) and mark the file as generated. A link at the path
    // is replaced, never written through; a path whose folder leads out of the output folder
    // is refused (WriteError).
    KRResult<void> saveGeneratedFileString(const QString &text, const QString &path);
    KRResult<void> saveGeneratedFileData(const QByteArray &data, const QString &path);
    // Removes the files (not folders, not below sub-folders) of the output folder that carry
    // the generated mark, or that the last build listed in the output folder's list of
    // generated files (".kr-generated", written at the end of each build, for file systems
    // that keep no marks) and that are unchanged since.
    void deleteAllGeneratedFiles();

    // Copy a library file (path relative to the resources' "local-server" folder, kept below
    // the output folder), a file of the application's resources, or any file (under its own
    // name) into the output folder, and mark the copy as staged. A link at the target is
    // replaced; nothing is copied where a folder on the way leads out of the output folder.
    // Errors are shown; false then.
    bool copyLocalServerResource(const QString &relativePath);
    bool copyBundleResource(const QString &name);
    bool copyResource(const QString &fullPath);

    // Exports the project into the folder (made when it is not there, inside one that is):
    // builds it in export mode, as build() does, in a private folder of its own holding copies
    // of the user's files of the web folder (never in the web folder itself, nor in the output
    // folder set), then copies every file of that build, and the local jQuery and jQuery
    // Mobile files when the project asks for them, into the folder, asking before anything is
    // replaced (unless "SuppressExportOverwriteWarning" is on). Stops at the first failure or
    // "Cancel", which it shows; false then. A folder that is the web folder or the package, or
    // lies inside either, or that is or lies inside another Korvane project, is refused with a
    // message saying so before anything is built or touched, and so is a folder where an item
    // would replace the package, a project, a folder holding either or anything in one. Links
    // of the web folder that lead out of it are left out, and nothing is written where a folder
    // on the way leads out of the chosen folder.
    bool exportProjectToURL(const QUrl &folderURL);
    bool exportProjectToFolder(const QString &folderPath);
    // Records of every file under a path relative to the "local-server" folder (the path
    // itself when it is not a folder), named by their path relative to that folder.
    void addResourcesFromPath(const QString &relativePath, QList<std::shared_ptr<KRProjectResource>> &array);
    void addResourceFromFile(const QString &fullPath, const QString &name,
                             QList<std::shared_ptr<KRProjectResource>> &array);

private:
    class BuildRun;
    class ExportStage;

    KRResult<QString> buildProject();
    KRResult<void> writeFilesBesidePages(const QStringList &pageFileNames, const QStringList &pageIDs, QString &script,
                                         const QStringList &pluginRuntimeFiles, const QStringList &scriptList,
                                         const QStringList &stylesheetList, const QSet<QString> &requiredResources,
                                         QSet<QString> &manifestEntries);
    static KRError writeError(const QString &path, const QString &reason);
    QString resolvedOutputDirectory();
    // The files of the output folder as resources: the web folder's, or the export's stage's.
    QList<std::shared_ptr<KRProjectResource>> outputResources();
    void reloadOutputResources();
    QString deviceInformationJSON() const;
    void showError(const QString &message, const QString &informativeText);
    int runAlert(const KRAlert &alert);
    void progress(const QString &text) const;
    // The script minified piece by piece through the cache; null when a piece could not be.
    std::optional<QString> minifiedByPieces(const QString &footer);
    KRResult<QString> minify(const QString &text);
    void writeGeneratedFileList();
    void deleteListedGeneratedFiles();
    // Lists an item copied from the libraries directly into the output folder.
    void addStagedItem(const QString &name);

    // A generated file written directly into the output folder by this build.
    using GeneratedFile = KRGeneratedFileList::File;

    std::shared_ptr<KRBuildProject> m_project;
    QString m_outputDirectory;
    ExportStage *m_stage = nullptr; // while an export builds: its output folder
    bool m_exportMode = false;
    Minifier m_minifier;
    QString m_deviceInformationJSON;
    KRScriptCache *m_scriptCache = nullptr;
    std::optional<qint64> m_serverPort;
    bool m_background = false;
    QList<KRAlert> m_deferredAlerts;
    QStringList m_warnings;
    std::function<void(const QString &)> m_progress;
    const std::atomic<bool> *m_cancelled = nullptr;
    // The script's pieces as made: the header, then each page's block.
    QStringList m_scriptPieces;
    QList<GeneratedFile> m_generatedFiles;
    // The items directly in the output folder copied from the libraries, by this build or an
    // earlier one (the build never removes them).
    QStringList m_stagedItems;
};

#pragma once

#include <model/KRProjectResourceCache.h>
#include <platform/foundation/KRError.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <mutex>
#include <optional>

class KRProjectResource;
class KRWebFolderOwner;

// The resource side of a project: its web folder ("kr-web" in the package, or a fresh
// temporary folder of its own while the project is untitled), the tree of resources listed
// from it, the modified-resource cache, and the operations that add, import, create, rename
// and delete resources with their questions. The project owns one and forwards to it.
class KRWebFolder : public std::enable_shared_from_this<KRWebFolder>
{
public:
    static constexpr const char *WebFolderName = "kr-web";
    static constexpr const char *ErrorDomain = "KRWebFolder";
    enum ErrorCode {
        InvalidName = 1,
        ItemExists = 2,
        CopyFailed = 3,
        NoWebFolder = 4,
        MissingTemplate = 5,
        WriteFailed = 6,
        OutsidePackage = 7,
        NotOpened = 8,
    };

    // A name that stays one visible item inside its folder, on one line: not empty, not
    // starting with "." (hidden, so never listed), no "/" or "\\", no control character (NUL,
    // line breaks, ...) and no line or paragraph separator, at most 255 bytes. Every name a
    // resource is created, renamed or imported under passes this before anything is done, and
    // the builder asks the same of every name it lists. The error (InvalidName) says why.
    static KRResult<void> checkFileName(const QString &name);
    static bool isPlainFileName(const QString &name) { return checkFileName(name).ok(); }
    // The address of a file of the site from its name (its path relative to the site's
    // folder): every byte of the name's UTF-8 but letters, digits, "-", ".", "_", "~" and "/"
    // is percent-encoded, so "?", "#", "%", spaces and quotes stay part of the name. Every
    // address a build writes for a file (pages, cache manifest, scripts, style sheets) is this.
    static QString addressForFileName(const QString &name);
    // Whether a link is a full address (a scheme and "//", as "https://", or "//" alone): a
    // path of the site's files is never one, having no empty segment.
    static bool isAbsoluteAddress(const QString &link);
    // A link as written into a page: a full address as it stands, a file's name as its address.
    static QString linkAddress(const QString &link);
    // The package's "kr-web" may be a folder, or a link to a folder inside the package; a
    // link that leads out of the package, or to nothing, is an error (OutsidePackage, naming
    // where it leads), given before anything reads or writes the project.
    static KRResult<void> checkPackageWebFolder(const QString &packagePath);

    // The owner must outlive the folder (the project owns it).
    static std::shared_ptr<KRWebFolder> create(KRWebFolderOwner *owner);
    // Removes the temporary web folder of an untitled project.
    ~KRWebFolder();
    KRWebFolder(const KRWebFolder &) = delete;
    KRWebFolder &operator=(const KRWebFolder &) = delete;

    KRWebFolderOwner *owner() const { return m_owner; }

    // The web folder: the package's "kr-web", or for an untitled project its own temporary
    // folder, made on first use. Empty only when no temporary folder can be had.
    QString krwebPath();
    // The same as a folder URL (with a trailing slash, so relative addresses resolve in it).
    QUrl krwebURL();
    // The untitled project's temporary folder; empty when none was made.
    QString temporaryWebFolderPath() const { return m_temporaryPath; }
    // A copy of an untitled project (for a build) uses the original's temporary folder,
    // which stays when the copy goes.
    void useTemporaryWebFolder(const QString &path);

    // Top-level records of the web folder, listed on first use and kept until
    // reloadResources.
    const QList<std::shared_ptr<KRProjectResource>> &resources();
    // Clears the list inside a "resources" change of the owner; the next use lists again.
    void reloadResources();
    // Lists one folder into the array: entries in file-system order, names starting with "."
    // left out with everything below them, and pipes, devices and sockets (or links to them)
    // left out too, each with a line in *skipped when given.
    void loadResourcesFromPath(const QString &path, const QString &basePath,
                               QList<std::shared_ptr<KRProjectResource>> &array, QStringList *skipped = nullptr);
    // Why files of the web folder were left out of the last listing (pipes, devices, links to
    // them: never read), one line each, naming the file; empty when none was.
    QStringList skippedFiles();
    // Marks the top-level items the list of generated files in the folder names as the
    // build's (KRGeneratedFileList), when they carry no mark of their own.
    static void markListedBuildOutput(const QString &path, const QList<std::shared_ptr<KRProjectResource>> &array);

    // Names without extension of the top-level themes, in list order.
    QStringList themes();
    // The first top-level resource whose name without extension is the theme name.
    std::shared_ptr<KRProjectResource> resourceForThemeName(const QString &name);
    // True when the name can be given to a new top-level resource: no top-level resource has
    // it, it is a plain file name (no "/", not "." or "..") and no build writes a file of
    // that name.
    bool validateNewResourceName(const QString &name);
    // Whether a build writes a top-level file of that name for the owner's project (any
    // project when there is no owner).
    static bool isReservedName(const QString &name, const KRWebFolderOwner *owner);
    // The error shown when a top-level resource would take such a name.
    static KRError reservedNameError(const QString &name);

    // Copies the template file (a path in the application's resources) into the web folder
    // under the name, with the import questions; then reloads. False when refused or failed
    // (the failure is shown).
    bool createResource(const QString &name, const QString &templateFile);
    // Imports the file into the web folder under its own name; then reloads.
    bool addResource(const QString &sourcePath);
    // Copies source to destination with the theme-extraction and include-list questions.
    // False when the copy failed (the error is shown); nothing is left half-copied.
    bool importResource(const QString &sourcePath, const QString &destinationPath);
    // Asks, deletes, reloads and offers to remove the resource from the include lists.
    // False when the user declined or the deletion failed.
    bool deleteResource(const std::shared_ptr<KRProjectResource> &resource);

    KRProjectResourceCache &modifiedResourceCache() { return m_cache; }
    const KRProjectResourceCache &modifiedResourceCache() const { return m_cache; }

    // Saving: writes the edited bytes of every listed resource that has some to the same
    // relative path below webFolderPath (atomically), empties the theme mark of a written
    // stylesheet, and returns the relative paths written. Files of unedited resources are
    // not touched. Stops at the first failure.
    KRResult<QStringList> writeModifiedResources(const QString &webFolderPath);
    // After the whole save succeeded: drops the cache entries that were written.
    void didSaveModifiedResources(const QStringList &relativePaths);

    // Shows an error in a sheet through the alert service.
    static void showError(const KRError &error);

private:
    explicit KRWebFolder(KRWebFolderOwner *owner);

    KRWebFolderOwner *m_owner; // not owned: the owner outlives the folder
    QString m_temporaryPath;
    bool m_borrowedTemporaryPath = false;
    std::optional<QList<std::shared_ptr<KRProjectResource>>> m_resources;
    QStringList m_skippedFiles; // of the listing in m_resources
    std::mutex m_resourcesLock; // pages made side by side ask for the list at once
    std::mutex m_temporaryPathLock;
    KRProjectResourceCache m_cache;
};

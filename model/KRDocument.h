#pragma once

#include <core/KRXMLDocument.h>
#include <model/KRResourceEntry.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservable.h>

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

class KRDocumentWindowController;
class KRProjectBase;
class KRSpecialUndoManager;
class KRUndoManager;

// Posted on the default notification centre with the document's identity() as sender.
inline const QString KRWillSaveDocumentNotification = QStringLiteral("KRWillSaveDocumentNotification");
inline const QString KRDidSaveDocumentNotification = QStringLiteral("KRDidSaveDocumentNotification");
inline const QString KRWillCloseDocumentNotification = QStringLiteral("KRWillCloseDocumentNotification");
// A value given to an object held characters the project file cannot hold, which it now holds
// without them (KRXMLDocument::storableText). User info: "message", naming the property, the
// object and its page.
inline const QString KRDocumentDidReplaceCharactersNotification =
    QStringLiteral("KRDocumentDidReplaceCharactersNotification");

// A project package (a ".krproj" folder holding "project.xml" and the "kr-web" folder) as
// one live XML document. Model objects write every change into the XML at once; saving
// serialises it. The document owns the XML, its undo history and the window controller,
// which owns the project. Main thread only.
class KRDocument : public std::enable_shared_from_this<KRDocument>
{
public:
    using WindowControllerFactory = std::function<std::unique_ptr<KRDocumentWindowController>(KRDocument &)>;

    static inline const QString ProjectErrorDomain = QStringLiteral("Project Error");
    // Code of the refusal of a file written by a newer version: the alert has been shown,
    // callers show nothing more.
    static constexpr int NewerVersionCode = 2;
    // Code of a project.xml that holds no project (another root element, no settings or no
    // pages): nothing has been shown.
    static constexpr int NotAProjectCode = 7;
    // Code of a save the user cancelled (project.xml had changed on disk): nothing more to show.
    static constexpr int SaveCancelledCode = 8;
    // Code of a package that is not there any more (moved, renamed or deleted since it was
    // listed): nothing has been shown.
    static constexpr int NotThereCode = 9;

    // A new untitled document from the application's "DefaultProject.xml".
    static KRResult<std::shared_ptr<KRDocument>> makeUntitled();
    // Reads the package (with the version check); a project.xml that holds no project is an
    // error here. The empty attributes its objects' adapters would add (as a save writes
    // them) are read as added with KRXMLNode::addEmptyAttribute.
    static KRResult<std::shared_ptr<KRDocument>> openPackage(const QString &packagePath);
    // A document of its own over the XML, at that package folder, owned by no window: a copy
    // of an open project for a build to read while the user goes on editing.
    static std::shared_ptr<KRDocument> makeCopy(const KRXMLDocument &xml, const QString &packagePath);
    // For an element, the empty attributes its object's adapters add when it is opened (what
    // a save writes for the properties the object lacks): a project's text read with these
    // keeps them as names only. Safe on any thread.
    static const KRXMLDocument::EmptyAttributeNames &adaptersEmptyAttributes();
    // The same with every name the application may write into a project: a project is read
    // only with room left for what saving it adds, and what saving writes is read with them
    // before it is written.
    static KRXMLDocument::Additions adaptersAdditions();
    // An object as the user knows it in messages: "the KRLabel “tip” on the page “home”"
    // (`page`: the id of the page it is on, empty when none). One without an id is "the
    // KRLabel", or "a KRLabel" when `indefinite`. Ids longer than 60 characters are cut short.
    static QString objectPlace(const QString &element, const QString &id, const QString &page, bool indefinite = false);

    ~KRDocument();
    KRDocument(const KRDocument &) = delete;
    KRDocument &operator=(const KRDocument &) = delete;

    const void *identity() const { return static_cast<const void *>(this); }

    // The application's short version (QCoreApplication's when set, else the build's).
    static QString applicationShortVersion();
    // Numeric comparison: runs of digits compare by value ("1.10" > "1.9"); -1, 0 or 1.
    static int compareVersions(const QString &a, const QString &b);
    // Whether a file of that "appVersion" may be opened: its first three components are not
    // newer than the application's. A missing version opens.
    static bool isSupportedVersion(const QString &documentVersion);
    // "autosavesInPlace" of the user defaults.
    static bool autosavesInPlace();

    KRXMLDocument xmlDocument() const { return m_xml; }
    void setXmlDocument(const KRXMLDocument &xml) { m_xml = xml; }

    // The package folder; empty for an untitled document. Observable key "fileURL".
    QString fileURL() const { return m_packagePath; }
    KRObservable &observable() { return m_observable; }

    KRUndoManager &undoManager() const { return *m_undoManager; }
    KRSpecialUndoManager &specialUndoManager();
    // Unsaved changes: the undo history is not at the state of the last save.
    bool isDocumentEdited() const;

    // Writes the package: will-save notification, "appVersion", project.xml (atomically),
    // the edited resources of the project's modified-resource cache into "kr-web", did-save
    // notification. The written cache entries are removed. An untitled document needs
    // saveToPackage first.
    KRResult<void> save();
    // Saves into that package folder. At another place (Save-As, the first save of an
    // untitled project) the whole package is built beside it (every file of the current
    // package or of the untitled project's web folder, then project.xml and the edited
    // resources) and renamed into place; only then does the document move there. On failure
    // nothing moves and the current package stays as it was. An existing package, file or
    // empty folder at that place is replaced; any other folder is refused.
    KRResult<void> saveToPackage(const QString &packagePath);
    // Whether the package's project.xml differs from what this document last read or wrote
    // (another program, another instance or a version-control update changed or removed it):
    // a save would replace those changes. Compared by size and modification time, then, when
    // those differ, by content.
    bool projectFileChangedOnDisk() const;
    // Replaces edited files of the resources in the folder with their cached bytes.
    // Returns the relative paths written.
    KRResult<QStringList> writeModifiedResources(const QList<KRResourceEntry> &resources, const QString &folderPath,
                                                 const QVariantMap &cache);
    // Posts the will-close notification; the caller drops the document afterwards.
    void close();

    // The resource list written on save; the project installs it (empty: none).
    void setResourceListProvider(std::function<QList<KRResourceEntry>()> provider) { m_resourceList = std::move(provider); }

    // --- Window controller seam
    static void setWindowControllerFactory(WindowControllerFactory factory);
    void makeWindowControllers();
    KRDocumentWindowController *krWindowController() const { return m_windowController.get(); }
    // The window controller's project, else the one registered with setProject.
    std::shared_ptr<KRProjectBase> project() const;
    // A project made without a window (the builder, tests) registers itself here.
    void setProject(const std::shared_ptr<KRProjectBase> &project) { m_project = project; }
    void projectRunAction();
    void createPageAction();

private:
    KRDocument();
    KRResult<void> readFromPackage(const QString &packagePath);
    KRResult<void> saveAs(const QString &target);
    // The web folder whose files the package carries: the package's, or the untitled
    // project's temporary one (empty when it has none).
    QString currentWebFolderPath() const;
    // project.xml and the edited resources into that package folder; the relative paths of
    // the resources written.
    KRResult<QStringList> writePackageContents(const QString &packagePath);
    void didSave(const QStringList &writtenResources);

    KRXMLDocument m_xml;
    QString m_packagePath;
    std::unique_ptr<KRUndoManager> m_undoManager;
    std::unique_ptr<KRSpecialUndoManager> m_specialUndoManager;
    std::unique_ptr<KRDocumentWindowController> m_windowController;
    std::function<QList<KRResourceEntry>()> m_resourceList;
    std::weak_ptr<KRProjectBase> m_project;
    KRObservable m_observable;
    // project.xml as last read or written: size, modification time (ns) and content hash.
    struct DiskState {
        qint64 size = -1;
        qint64 modified = -1;
        QByteArray hash;
    };
    DiskState m_diskState;
    void noteProjectFileOnDisk();
    std::int64_t m_savedChangeCount = 0;
};

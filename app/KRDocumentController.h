#pragma once

#include <platform/appkit/KRRecentDocuments.h>
#include <platform/foundation/KRError.h>
#include <platform/foundation/KRObservationToken.h>

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class KRDocument;
class KRUserDefaults;

// The open project documents of the application and the recent-documents list. Opening a
// package that is already open brings its window forward instead of reading it twice; a
// document leaves the list when its window closes. Main thread only.
class KRDocumentController : public QObject
{
    Q_OBJECT

public:
    // Opens a package in its project window (or brings that window forward) and returns the
    // document; the windows' host closes the document when its window closes.
    using ProjectOpener = std::function<KRResult<std::shared_ptr<KRDocument>>(const QString &packagePath)>;

    // The documents open in project windows, whichever way they were opened (a reverted
    // project gets a new window there too).
    using DocumentLister = std::function<QList<std::shared_ptr<KRDocument>>()>;

    // Asks the window of a document about its unsaved changes as closing that window would
    // (its own question, its own Save); answers whether the quit may go on, or nothing when
    // the document has no such window.
    using WindowReview = std::function<std::optional<bool>(const std::shared_ptr<KRDocument> &document)>;

    static KRDocumentController &sharedDocumentController();
    // Hands opening to the project windows (null: documents open here, through the document's
    // window-controller factory).
    static void setProjectOpener(ProjectOpener opener);
    // With a lister the open documents are the lister's (null: the ones opened here).
    static void setDocumentLister(DocumentLister lister);
    // With a review, documents that have a window are asked about there (null: here).
    static void setWindowReview(WindowReview review);

    explicit KRDocumentController(KRUserDefaults &defaults, QObject *parent = nullptr);
    ~KRDocumentController() override;

    QList<std::shared_ptr<KRDocument>> documents() const;
    std::shared_ptr<KRDocument> documentForPath(const QString &packagePath) const;

    // Reads the package, makes its window (through the document's window-controller factory)
    // and, with display, shows it; notes the package in the recent list. The error is the
    // document's own (not shown here).
    KRResult<std::shared_ptr<KRDocument>> openDocument(const QString &packagePath, bool display = true);
    // Drops the document (its window has closed).
    void removeDocument(const std::shared_ptr<KRDocument> &document);
    // Drops every document without asking and without lastDocumentClosed (shutdown, tests).
    void closeAllDocuments();

    // The recent projects that still exist, most recent first. The blank start-up project is
    // never among them.
    QStringList recentDocumentPaths() const;
    // Whether the package is the blank start-up project or lives in the application's
    // temporary folder: such a package is no recent project.
    static bool isScratchPackage(const QString &packagePath);
    KRRecentDocuments &recentDocuments() { return *m_recent; }

    // Asks about each document with unsaved changes, once: save, don't save, or cancel. False
    // when the user cancelled or a save failed (the error has been shown).
    bool reviewUnsavedDocuments();

    // Whether some open document shows a window (a document may be open without one).
    bool hasVisibleWindows() const;

    // The window of a document (null when it has none).
    static QWidget *windowForDocument(const KRDocument &document);

signals:
    void documentOpened();
    // The recent list has changed (a project was opened, or saved under a new name).
    void recentDocumentsChanged();
    // The last document's window has closed.
    void lastDocumentClosed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void noteRecent(const QString &packagePath);
    void forgetRecent(const QString &packagePath);
    void documentDidSave(const void *identity);

    QList<std::shared_ptr<KRDocument>> m_documents;
    std::unique_ptr<KRRecentDocuments> m_recent;
    // Saving under a new name (Save As) makes the new package the most recent project.
    KRObservationToken m_saveObservation;
    QHash<const void *, QString> m_knownPaths; // each open document's package as last seen
};

#pragma once

#include <ui/KRMainMenu.h>
#include <widgets/help/KRHTMLWindowController.h>

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class KRCrashReporter;
class KRGalleryWindowController;
class KRNodeRunner;
class KRPreferencesWindowController;
class KRUserDefaults;
class QAction;
class QMenu;
class QWidget;

// The application object's delegate: the start-up sequence, the application-wide runtime
// server, and the commands that need no open project (About, Inspiration, Preferences, the
// gallery, New Project, Open, the help and store links, problem reports, Quit). Closing the
// last project window brings the gallery back instead of quitting. Main thread only.
class KRApplicationDelegate : public QObject, public KRHTMLWindowControllerDelegate, public KRMenuResponder
{
    Q_OBJECT

public:
    // Asks for the path of a new package (a save dialog) in the folder given, offering the file
    // name given; answers with the path, or empty when the user cancelled. Tests install one
    // that answers at once.
    using SavePanel = std::function<void(QWidget *parent, const QString &title, const QString &prompt,
                                         const QString &directory, const QString &offeredName,
                                         std::function<void(const QString &path)> done)>;
    // Asks for an existing package folder to open (empty: cancelled).
    using OpenPanel = std::function<void(QWidget *parent, const QString &directory, std::function<void(const QString &path)> done)>;

    static void setSavePanel(SavePanel panel);
    static void setOpenPanel(OpenPanel panel);
    // The save panel in use (the gallery asks through it too): in the documents folder, the
    // name offered made from `name` (a sample's, which the service may spell any way) and free
    // there ("Name.krproj", "Name 2.krproj", …), its part before the suffix selected.
    static void runSavePanel(QWidget *parent, const QString &title, const QString &prompt, const QString &name,
                             std::function<void(const QString &path)> done);
    // That name: no folder separators, control characters or leading dots, short enough for a
    // file name with room for a number; "Untitled" when nothing is left.
    static QString offeredPackageName(const QString &folder, const QString &name);

    // When the web engine starts and the control catalogue (builder, plug-ins) is set up: at
    // once, or when the launch runs (applicationDidFinishLaunching), inside the second the
    // launch waits before the gallery, and before it opens any project. The engine's start
    // must come before the first web view exists: AtLaunch only suits a start that makes no
    // web view before the event loop runs.
    enum class WebEngineStart { AtOnce, AtLaunch };
    // The start-up that precedes the first window, after the application object exists: run
    // log, SIGPIPE, the defaults, the pending crash report, crash capture, the web engine and
    // the control catalogue (see WebEngineStart), the runtime server. Runs once.
    static void initialize(WebEngineStart start = WebEngineStart::AtOnce);
    static KRNodeRunner *sharedNodeRunner();
    // The crash reporter the start-up uses (the shared one unless a test sets another).
    static void setCrashReporter(KRCrashReporter *reporter);

    static KRApplicationDelegate *shared();
    explicit KRApplicationDelegate(QObject *parent = nullptr);
    ~KRApplicationDelegate() override;

    // The projects named on the command line, opened when the launch finishes.
    void setProjectsToOpenAtLaunch(const QStringList &packagePaths) { m_projectsToOpenAtLaunch = packagePaths; }
    // After the event loop has started: the projects named on the command line, the news, then
    // the gallery a second later.
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void openGalleryAtLaunch();

    // Commands.
    void aboutKorvaneAction();
    void inspAction();
    void orderFrontPrefsPanel();
    void welcomeAction();
    void galleryAction(bool welcome = false);
    void sendProblemReportAction();
    void checkUpdatesAction();
    void newsAccountAction();
    void korvaneSiteAction();
    void korvaneDocsAction();
    void korvaneVersionHistoryAction();
    // File ▸ New Project: the project made and opened takes the place of the start's windows
    // (closeStartWindows).
    void newDocument();
    void newBlankDocument();
    void openDocumentAction();
    void openRecentDocument(const QString &path);
    // What another start of the application asked for: its projects opened (or, already
    // open, brought to the front); with none, a window of this one brought to the front.
    void openProjectsFromAnotherStart(const QStringList &packagePaths);
    void orderFrontCreateHostingAccount();
    // Asks to save every edited project, then quits; false when the user cancelled.
    bool terminateAction();

    // Adds the application's commands to the shared menu around the project window's own
    // (registered by windowCommands, when there is a project window): New Project, Open and
    // Open Recent first in File, Quit last; Preferences in Edit; Gallery and Welcome in
    // Window; the links, reports, Inspiration and About in Help. Runs once.
    static void registerMenuCommands(const std::function<void()> &windowCommands = {});

    // KRMenuResponder: the application's commands by identifier ("newDocument", "about", …).
    bool performMenuCommand(const QString &identifier) override;
    bool validateMenuCommand(const QString &identifier, QAction *action) override;

    // Makes a package at the path ("kr-web" and "project.xml" from the default project, an
    // existing project.xml stays) and opens it. Refuses a symbolic link or a folder that is
    // neither empty nor a package. The error, if any, has been shown.
    bool createAndOpenProject(const QString &packagePath);
    // Where the blank start-up project lives: "Untitled.krproj" in the application's data
    // folder, which outlives the session (the next launch reopens it).
    static QString blankProjectPath();
    // Moves a blank project an earlier version kept in the temporary folder (emptied at
    // logout) to blankProjectPath(), unless one is there already. True when it moved.
    static bool moveBlankProjectOutOfTemporaryFolder();
    // Once a project other than the blank one has opened: closes the gallery, and the blank
    // start-up project's window when nothing has been done in it since it opened.
    void closeStartWindows(const QString &opened);

    // The quotations of "insp.dat" (unscrambled JSON); nothing when it is no non-empty array.
    static std::optional<QJsonArray> inspirationQuotes(const QByteArray &scrambled);
    static QByteArray scrambleInspiration(const QByteArray &data); // its own inverse
    // The quotation shown at that moment: one for every five minutes.
    static int inspirationIndex(qint64 secondsSince1970, int count);

    KRHTMLWindowController *aboutWindowController() const;
    KRGalleryWindowController *galleryWindowController() const;
    KRPreferencesWindowController *preferencesWindowController() const;

    // KRHTMLWindowControllerDelegate
    void htmlWindowControllerSelectAction(KRHTMLWindowController *controller, const QString &action) override;

private:
    static void startWebEngineAndCatalogue();
    void openSiteLink(const QString &path);
    KRHTMLWindowController *ensureAboutWindow();
    void showLastDocumentClosed();
    void rebuildOpenRecentMenu();
    // The open project windows at the end of the Window menu, the active one checked.
    void rebuildWindowList();
    static QMenu *windowMenu();

    QPointer<KRHTMLWindowController> m_aboutWindowController;
    QPointer<KRPreferencesWindowController> m_preferencesWindowController;
    QPointer<KRGalleryWindowController> m_galleryWindowController;
    QPointer<QWidget> m_createHostingAccountWindow;
    QStringList m_projectsToOpenAtLaunch;
    QList<QAction *> m_windowListActions; // in the Window menu, rebuilt as it opens
    bool m_openedProjectsAtLaunch = false;
    // While the projects named on the command line open (a large one takes seconds and lets
    // events through meanwhile), the launch's gallery or last project waits for them.
    bool m_openingProjectsAtLaunch = false;
    bool m_galleryWaitsForProjects = false;
    bool m_terminating = false;
};

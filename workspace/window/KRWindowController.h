#pragma once

#include <ui/KRMainMenu.h>
#include <ui/KRProjectWindowController.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <workspace/outline/KRProjectPaneViewController.h>
#include <workspace/resources/KRResourceTabPaneViewController.h>
#include <workspace/resources/KRSyntaxErrorViewController.h>

#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <memory>
#include <thread>

class JWPopUpToolbarItem;
class KRDesignViewController;
class KRDeviceBrowserWindowController;
class KRDocument;
class KRFunction;
class KRMasterTabPaneViewController;
class KRNewResourceWindowController;
class KRObject;
class KRPage;
class KRPalettePane;
class KRPopover;
class KRProject;
class KRProjectPaneViewController;
class KRProjectResource;
class KRTabPaneViewController;
class KRWindow;
class QAction;
class QKeyEvent;
class QToolBar;
class QTimer;
class QToolButton;

// The controller of an open project's window: the outline on the left, the object palette, and
// the master tab pane with one tab per page (each with its inspector). It makes the project
// from the document, shows the start page and carries the window's commands (build, run,
// export, import, pages, resources, the settings and news pop-overs) and its key routing, edit
// commands and menu validation. The document owns the controller; the controller owns the
// window and the project.
class KRWindowController : public QObject,
                           public KRProjectWindowController,
                           public KRMenuResponder,
                           public KRProjectPaneDelegate,
                           public KRResourceTabPaneDelegate,
                           public KRSyntaxErrorViewDelegate
{
    Q_OBJECT

public:
    // What runs once a build has succeeded.
    enum class FollowUp { None, Run, RunDefaultBrowser };

    explicit KRWindowController(KRDocument &document);
    ~KRWindowController() override;

    // Registers the window's commands with the application's menu (once per process).
    static void registerMenuCommands();

    KRDocument &document() const { return m_document; }
    KRWindow *projectWindow() const;
    QToolBar *toolbar() const { return m_toolbar; }
    KRProjectPaneViewController *projectPaneViewController() const { return m_projectPane.get(); }
    KRPalettePane *palettePane() const { return m_palettePane; }
    KRMasterTabPaneViewController *masterTabPaneViewController() const { return m_masterTabPane.get(); }
    KRDeviceBrowserWindowController *deviceBrowserWindowController() const { return m_deviceBrowser.get(); }
    QWidget *projectPaneContainerView() const { return m_projectContainer; }
    QWidget *palettePaneContainerView() const { return m_paletteContainer; }
    QWidget *masterTabPaneContainerView() const { return m_masterContainer; }
    // Shown while the project and its start page are being built.
    QWidget *loadingView() const { return m_loadingView; }

    std::shared_ptr<KRProject> krProject() const { return m_project; }
    std::shared_ptr<KRPage> currentPage() const { return m_currentPage.lock(); }
    QString builtProjectIndex() const { return m_builtProjectIndex; }
    // The design surface of the shown page tab; null when another tab is shown.
    KRDesignViewController *currentDesignViewController() const;
    // The widget the shown page is drawn in (its live view); null when none.
    QWidget *currentDesignWebView() const;
    // Where the selected controls show on the screen (the part of the design surface in view);
    // empty when the design surface is not shown or nothing on it is selected.
    QRect selectionScreenRect() const;
    bool isDragging() const;

    // --- KRDocumentWindowController
    std::shared_ptr<KRProjectBase> project() const override;
    void editFunction(const std::shared_ptr<KRFunction> &function) override;
    void projectRunAction() override;
    void createPageAction() override;

    // --- Commands
    // Shows the page's tab and selects its row in the outline; the page's inspector keeps
    // what it showed.
    void selectPage(const std::shared_ptr<KRPage> &page);
    void projectBuildAction();
    void projectRunDefaultBrowserAction();
    // Commits pending edits, checks the syntax when "JSCheckSyntax" is on and builds; then
    // runs the follow-up. False when the build did not happen. Waits for the build.
    bool buildProject(FollowUp followUp);
    // The same, with the check and the build of a copy of the project on a thread of their
    // own: the status line tells what they are doing, and the follow-up runs when they have
    // finished. Asked while a build runs, one more build (with the later follow-up) follows it.
    void startBuild(FollowUp followUp);
    bool isBuilding() const { return m_buildJob != nullptr || m_buildStarting; }
    void runProject();
    void runProjectDefaultBrowser();
    void exportProjectAction();
    void addResourceAction();
    // Imports the paths, asking for folders and for files over 1,000,000 bytes.
    void addResources(const QStringList &paths);
    void newResourceAction();
    void duplicatePageAction();
    void createFunctionAction();
    void editResource(const std::shared_ptr<KRProjectResource> &resource);
    void deletePage(const std::shared_ptr<KRPage> &page);
    void projectSettingsAction();
    void newsAction();
    void selectDesignViewAction();
    void lastResourceTabClosedAction();
    void palettePaneWillDragObject(const QString &className);

    // Saving and closing. Each returns whether the document was saved (closed).
    bool saveDocument();
    bool saveDocumentAs();
    // Saves to that package folder (Save As without the panel).
    bool saveDocumentTo(const QString &packagePath);
    void revertDocumentToSaved();
    // Asks about unsaved changes ("Save", "Cancel", "Don't Save"); true when the window may
    // close.
    bool shouldCloseDocument();
    // Closes the window without the question (its document is being replaced or dropped).
    void closeWindowWithoutAsking();
    // Unsaved changes, edited resources waiting in the project's cache included.
    bool hasUnsavedChanges() const;

    // --- KRProjectPaneDelegate
    void projectPaneDidSelectPage(KRProjectPaneViewController *pane, const std::shared_ptr<KRPage> &page) override;
    void projectPaneDeletePage(KRProjectPaneViewController *pane, const std::shared_ptr<KRPage> &page) override;
    bool projectPaneResourceIsOpenInTab(KRProjectPaneViewController *pane,
                                        const std::shared_ptr<KRProjectResource> &resource) override;
    void projectPaneEditResource(KRProjectPaneViewController *pane,
                                 const std::shared_ptr<KRProjectResource> &resource) override;
    void showSyntaxErrorsForProjectPane(KRProjectPaneViewController *pane) override;
    void projectSettingsAction(KRProjectPaneViewController *pane, QWidget *sender) override;

    // --- KRResourceTabPaneDelegate, KRSyntaxErrorViewDelegate
    void lastResourceTabClosedAction(KRResourceTabPaneViewController *pane) override;
    void syntaxErrorViewShowFunction(KRSyntaxErrorViewController *pane, const std::shared_ptr<KRPage> &page,
                                     const std::shared_ptr<KRFunction> &function, std::optional<int> line,
                                     std::optional<int> character) override;

    // The news item's button (with its unread badge); the news pop-over opens under it.
    QToolButton *newsButton() const { return m_newsButton; }
    KRPopover *popover() const { return m_popover; }

    // --- Keys and edit commands
    // Whether the widget is the shown page's live view or lies inside it.
    bool isDesignViewFirstResponder(const QWidget *widget) const;
    // The object browser or the page's live view.
    bool isEditViewSelected(const QWidget *widget) const;
    // The master tab pane's selected object unless it is the page itself.
    std::shared_ptr<KRObject> editableObject() const;
    // What Cut, Copy and Delete act on with the focus there (validation asks the same): in the
    // live view the controls selected on the surface, in the object browser the editable
    // object; nothing elsewhere.
    QList<std::shared_ptr<KRObject>> editedObjects(const QWidget *focus) const;
    // The page that Paste puts objects on.
    std::shared_ptr<KRPage> pastePage() const;
    // Routes a key press aimed at the focused widget; true when the controller took it (the
    // key then goes no further).
    bool routeKeyPress(QKeyEvent *event, QWidget *focus);
    // Whether routeKeyPress would take the key: such keys are claimed before shortcuts run, so
    // each acts exactly once.
    bool wantsKey(const QKeyEvent *event, QWidget *focus) const;
    // A press on the shown page's live view over that node (the nearest mirrored node of the
    // topmost element under the pointer): the control it belongs to is selected (added with
    // Shift) before the page's own handlers see the press. A control already selected stays as
    // the selection is (a drag of several starts there).
    void designViewMouseDown(quint64 nodeId, bool shift);
    void deleteKeyEvent();
    void controlTabKeyEvent();
    void tabKeyEvent();
    bool arrowKeyEvent(int key);
    void commandXEvent();
    void commandCEvent();
    void commandVEvent();
    void commandAEvent();
    void showGridAction();
    // "None" or a title beginning with a number and "-".
    void gridAction(const QString &title);

    // --- KRMenuResponder
    bool performMenuCommand(const QString &identifier) override;
    bool validateMenuCommand(const QString &identifier, QAction *action) override;

    // Dialog seams for tests: a chooser returns the chosen paths (empty: cancelled).
    using PathChooser = std::function<QStringList(QWidget *parent)>;
    static void setImportPathChooser(PathChooser chooser);
    static void setExportFolderChooser(PathChooser chooser);
    static void setSavePathChooser(PathChooser chooser);

signals:
    // The window has shown its start page (or failed to load the project).
    void windowDidLoad();
    // The user closed the window; the owner of the document drops it now.
    void windowDidClose();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class KRWindow;

    static PathChooser &savePathChooser();
    // Where Save As and Export open: beside the project (the documents folder for a project
    // that has none of the user's, as the blank start-up one).
    QString panelStartFolder() const;
    // The name Save As offers in that folder: one nothing there has yet.
    QString offeredSaveName(const QString &folder) const;
    void windowDidLoadProject();
    // What the opening found that the user is told of (classes not known, files not read, a
    // jQuery Mobile version not shipped), over this window brought to the front.
    static constexpr int openingProblemTries = 50;
    void tellOfOpeningProblems(int triesLeft = openingProblemTries);
    bool m_broughtForwardToTell = false;
    // True while selectPage runs: the outline then follows the window, no user chose the page.
    bool m_selectingPage = false;
    void buildWindow();
    void buildToolbar();
    void hideUI();
    void showUI();
    bool commitEditing();
    struct BuildJob;
    // What a build needs, taken from the window and the project on the main thread; null when
    // the build stops before it starts (the status says why).
    std::shared_ptr<BuildJob> prepareBuild(FollowUp followUp, bool checkSyntax);
    void launchBuild(const std::shared_ptr<BuildJob> &job);
    // Shows the outcome and runs the follow-up; false when no build was made. In the
    // background, a build without the check that the user asks for then is launched too.
    bool finishBuild(const std::shared_ptr<BuildJob> &job, bool inBackground);
    bool askToBuildWithoutCheck(bool ranOutOfTime = false);
    void pollBuild();
    // Lets the running build finish and shows its outcome; no further build follows it.
    void waitForBuild();
    // Stops the running build (closing, quitting): it is never reported.
    void stopBuild();
    QString buildingStatus(const QString &activity) const;
    void deviceBrowserWindowClosed();
    // Makes the preview window when there is none and shows the built project in it (mode 0:
    // the device preview of the design target; 1: the default browser).
    void showDeviceBrowser(int mode);
    KRTabPaneViewController *currentTabPane() const;
    QWidget *focusWidget() const;
    void sendToFocus(int command);
    void windowBecameActive();
    void adoptTabPanes();
    // contentSize empty: the content's own size hint.
    void showPopover(QWidget *content, QObject *contentOwner, QWidget *anchor, int edge, const QSize &contentSize = QSize());
    // Project Settings in a pop-over pointing at the anchor (null or hidden: the project pane's
    // header).
    void showProjectSettings(QWidget *anchor);

    KRDocument &m_document;
    std::unique_ptr<KRWindow> m_window;
    QToolBar *m_toolbar = nullptr;
    JWPopUpToolbarItem *m_runToolbarItem = nullptr;
    QAction *m_toolbarRunInternalMenu = nullptr;
    QToolButton *m_newsButton = nullptr;
    QWidget *m_projectContainer = nullptr;
    QWidget *m_paletteContainer = nullptr;
    QWidget *m_masterContainer = nullptr;
    QWidget *m_loadingView = nullptr;
    KRPalettePane *m_palettePane = nullptr;
    std::unique_ptr<KRProjectPaneViewController> m_projectPane;
    std::unique_ptr<KRMasterTabPaneViewController> m_masterTabPane;
    std::unique_ptr<KRDeviceBrowserWindowController> m_deviceBrowser;
    std::unique_ptr<KRNewResourceWindowController> m_newResource;
    QPointer<KRPopover> m_popover;
    std::shared_ptr<KRProject> m_project;
    std::weak_ptr<KRPage> m_currentPage;
    QString m_builtProjectIndex;
    std::shared_ptr<BuildJob> m_buildJob; // the build running on m_buildThread
    std::thread m_buildThread;
    QTimer *m_buildTimer = nullptr;
    std::optional<FollowUp> m_nextBuild; // asked for while a build ran
    bool m_buildStarting = false; // "Building…" shown, the copy not yet taken
    int m_buildCount = 0;
    bool m_closing = false;
    KRObservationToken m_replacedCharacters; // told in the status line
};

// The project window: routes the keys meant for page objects to its controller before the
// normal dispatch, and asks before it closes with unsaved changes.
class KRWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit KRWindow(KRWindowController &controller);
    ~KRWindow() override;

    KRWindowController &controller() const { return m_controller; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    KRWindowController &m_controller;
};

#include <workspace/window/KRWindowController.h>

#include <builder/KRProjectBuilder.h>
#include <builder/KRProjectSyntaxCheck.h>
#include <builder/KRRuntimeServer.h>
#include <builder/KRScriptCache.h>
#include <builder/KRSyntaxChecker.h>
#include <controls/KRPluginLoader.h>
#include <workspace/preview/KRDeviceBrowserWindowController.h>
#include <core/KRRunLogger.h>
#include <model/KRDocument.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRPageLinks.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <widgets/views/KRPaneHeaderView.h>
#include <platform/appkit/KRColorPanel.h>
#include <platform/appkit/KRPopover.h>
#include <platform/appkit/KRViewExtensions.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <platform/foundation/KRUserDefaults.h>
#include <workspace/network/KRBadgeView.h> // KRBadgedButton.h needs it complete
#include <workspace/network/KRBadgedButton.h>
#include <workspace/network/KRNewsViewController.h>
#include <widgets/toolbaritem/JWDelayedPopUpButton.h>
#include <widgets/toolbaritem/JWPopUpToolbarItem.h>
#include <platform/webview/KRWebView.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/palette/KRPalettePane.h>
#include <workspace/panes/KRFunctionViewController.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRTabPaneViewController.h>
#include <workspace/panes/KRTabPropertyGroupViewController.h>
#include <workspace/resources/KRNewResourceWindowController.h>
#include <workspace/resources/KRResourceTabPaneViewController.h>
#include <workspace/resources/KRSyntaxErrorViewController.h>
#include <workspace/settings/KRProjectSettingsViewController.h>
#include <workspace/surface/KRDesignCanvas.h>

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <mutex>
#include <atomic>
#include <QTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScopedValueRollback>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QtMath>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <functional>
#include <utility>

namespace {

KRWindowController::PathChooser &krWindowImportChooser()
{
    static KRWindowController::PathChooser chooser;
    return chooser;
}

KRWindowController::PathChooser &krWindowExportChooser()
{
    static KRWindowController::PathChooser chooser;
    return chooser;
}

// The export's folder dialog: the name of a folder that is not there yet, typed in it, is a
// choice too (the export makes that folder, and says so when the folder it would be made in is
// missing), where the dialog would keep its button grey and say the folder was not found.
class KRExportFolderDialog : public QFileDialog
{
public:
    KRExportFolderDialog(QWidget *parent, const QString &caption, const QString &folder)
        : QFileDialog(parent, caption, folder)
    {
        // Its own dialog, as the Open panel's: a desktop's would not take a typed new name.
        setOption(QFileDialog::DontUseNativeDialog);
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly);
        setLabelText(QFileDialog::Accept, QStringLiteral("Export"));
        // After the dialog's own judgement of the typed text, which greys the button for a
        // folder that is not there.
        if (auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            connect(name, &QLineEdit::textChanged, this, [this] {
                if (newFolder().isEmpty())
                    return;
                if (auto *buttons = findChild<QDialogButtonBox *>(QStringLiteral("buttonBox")))
                    if (QPushButton *button = buttons->button(QDialogButtonBox::Open))
                        button->setEnabled(true);
            });
    }

    void accept() override
    {
        if (newFolder().isEmpty())
            QFileDialog::accept();
        else
            QDialog::accept();
    }

private:
    // The one folder typed that is not there yet (nothing, not even a link), or "".
    QString newFolder() const
    {
        const QStringList chosen = selectedFiles();
        if (chosen.size() != 1 || chosen.first().isEmpty())
            return {};
        const QFileInfo info(chosen.first());
        return info.exists() || info.isSymLink() ? QString() : chosen.first();
    }
};

KRWindowController::PathChooser &krWindowSaveChooser()
{
    static KRWindowController::PathChooser chooser;
    return chooser;
}

int krWindowAsk(KRAlert alert)
{
    return KRAlertService::current().runModal(alert);
}

// A pane fills its container and follows its size.
void krWindowFill(QWidget *container, QWidget *pane)
{
    auto *layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pane);
}

// The status line at the foot of the project window: what the last build or export did and
// where its output is.
const QString kWindowStatusLine = QStringLiteral("statusLine");

// Calls `done` once `widget` has been painted and what it shows has been handed to the window
// system and taken by it, so that it is on screen while `done` holds the window. A widget that
// cannot be painted (hidden, or in a window that is not on screen) does not wait. Nothing here
// goes by the clock: on a busy machine the paint may come long after it was asked for, and work
// started at a deadline instead would hold the window before it was drawn. `limitMs` only
// hastens a paint that has not come by then.
class KRAfterPaint : public QObject
{
public:
    KRAfterPaint(QWidget *widget, int limitMs, std::function<void()> done)
        : QObject(widget), m_widget(widget), m_done(std::move(done))
    {
        if (!canBePainted()) {
            QTimer::singleShot(0, this, [this] { finish(); });
            return;
        }
        widget->installEventFilter(this);
        QTimer::singleShot(limitMs, this, [this] {
            if (m_painted)
                return;
            if (canBePainted())
                m_widget->repaint(); // painted and handed over now; the filter sees it
            if (!m_painted)
                finish();
        });
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_painted) {
            m_painted = true;
            // The window hands its picture over once its widgets are painted: once that is
            // done, the window system is made to take it before the work begins.
            QTimer::singleShot(0, this, [this] {
                QGuiApplication::sync();
                finish();
            });
        }
        return false;
    }

private:
    bool canBePainted() const
    {
        const QWindow *window = m_widget->window()->windowHandle();
        return m_widget->isVisible() && window && window->isExposed();
    }

    void finish()
    {
        if (!m_done)
            return;
        const std::function<void()> done = std::exchange(m_done, {});
        deleteLater();
        done();
    }

    QWidget *m_widget;
    bool m_painted = false;
    std::function<void()> m_done;
};

void krWindowSetStatus(QMainWindow *window, const QString &text)
{
    if (auto *line = window ? window->findChild<QLabel *>(kWindowStatusLine) : nullptr) {
        line->setText(text);
        line->setAccessibleDescription(text); // its name is "Status": the text is read from here
    }
}

void krWindowShowError(const QString &message, const QString &informative)
{
    KRAlert alert;
    alert.style = KRAlert::Style::Critical;
    alert.messageText = message;
    alert.informativeText = informative;
    KRAlertService::current().runModal(alert);
}

// Keeps the window's menu shortcuts working while a single-line field (an inspector row,
// say) has the focus: such a field takes keys like Ctrl+E (end of line) for itself, so the
// command would never run and what the user types next would land in the field. The field's
// edit is committed first, as every command expects. The keys a field edits with (cut,
// copy, paste, delete, select all, undo, redo) stay the field's.
class KRWindowShortcutRouter : public QObject
{
public:
    KRWindowShortcutRouter(QMainWindow *window, std::function<void()> commitEditing)
        : QObject(window), m_window(window), m_commitEditing(std::move(commitEditing))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::ShortcutOverride)
            return false;
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!widget || widget->window() != m_window || !isSingleLineField(widget))
            return false;
        auto *key = static_cast<QKeyEvent *>(event);
        // Plain typing never names a menu command.
        if (!(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            && !(key->key() >= Qt::Key_F1 && key->key() <= Qt::Key_F35))
            return false;
        KRMainMenu::shared().validate();
        if (!windowCommandFor(QKeySequence(key->keyCombination())))
            return false;
        m_commitEditing();
        // Not accepted: the key goes to the window's shortcuts instead of the field.
        key->ignore();
        return true;
    }

private:
    static bool isSingleLineField(QWidget *widget)
    {
        if (qobject_cast<QLineEdit *>(widget) || qobject_cast<QAbstractSpinBox *>(widget))
            return true;
        auto *combo = qobject_cast<QComboBox *>(widget);
        return combo && combo->isEditable();
    }

    QAction *windowCommandFor(const QKeySequence &keys) const
    {
        static const QSet<QString> fieldCommands{
            QStringLiteral("undo"),  QStringLiteral("redo"),   QStringLiteral("cut"),       QStringLiteral("copy"),
            QStringLiteral("paste"), QStringLiteral("delete"), QStringLiteral("selectAll"),
        };
        QMenuBar *bar = m_window->menuBar();
        QList<QAction *> pending = bar ? bar->actions() : QList<QAction *>();
        while (!pending.isEmpty()) {
            QAction *action = pending.takeFirst();
            if (QMenu *menu = action->menu()) {
                pending += menu->actions();
                continue;
            }
            if (action->isEnabled() && action->shortcuts().contains(keys) && !fieldCommands.contains(action->objectName()))
                return action;
        }
        return nullptr;
    }

    QMainWindow *m_window; // the parent
    std::function<void()> m_commitEditing;
};

// The projects (by their folder's absolute path) whose user was told that the jQuery Mobile
// version they name is not shipped.
const QString kUnshippedJQMToldKey = QStringLiteral("unshippedJQMVersionTold");

// A project naming an unshipped jQuery Mobile version (or none) says so in the run log at
// every opening, and to the user in an alert at the first opening.
void krWindowTellOfUnshippedJQMVersion(const KRProject &project, const QString &packagePath)
{
    const QString notice = project.unshippedJQMVersionNotice();
    if (notice.isNull())
        return;
    KR_LOG(QStringLiteral("%1: %2").arg(packagePath, notice));
    const QString key = QFileInfo(packagePath).absoluteFilePath();
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    QVariantList told = defaults.arrayValue(kUnshippedJQMToldKey);
    if (packagePath.isEmpty() || told.contains(key))
        return;
    told.append(key);
    defaults.setValue(kUnshippedJQMToldKey, told);
    KRAlert alert;
    alert.style = KRAlert::Style::Informational;
    alert.messageText = QStringLiteral("This project runs on jQuery Mobile %1").arg(KRProject::shippedJQMVersion());
    alert.informativeText = notice;
    KRAlertService::current().runModal(alert);
}

// Files of the web folder that are pipes, devices or links to them are never read (reading
// one would block the window, or never end); the user is told which ones when the project
// opens.
void krWindowTellOfSkippedFiles(const KRProject &project)
{
    const std::shared_ptr<KRWebFolder> folder = project.webFolder();
    const QStringList skipped = folder ? folder->skippedFiles() : QStringList();
    if (skipped.isEmpty())
        return;
    constexpr qsizetype shown = 20;
    QStringList lines = skipped.mid(0, shown);
    if (skipped.size() > shown)
        lines.append(QStringLiteral("and %1 more").arg(skipped.size() - shown));
    KRAlert alert;
    alert.style = KRAlert::Style::Warning;
    alert.messageText = QStringLiteral("Some files of this project are not read");
    alert.informativeText = lines.join(QLatin1Char('\n'));
    KRAlertService::current().runModal(alert);
}

// Elements of classes this version does not know (a plug-in's that is not installed, say) are
// left out of the design and kept in the file: the user is told once per opening, with every
// such class named once, and why for a class of a plug-in that was refused as it loaded.
void krWindowTellOfUnknownClasses(const KRProject &project, const QString &projectName)
{
    const QStringList unknown = project.unknownClassNames();
    if (unknown.isEmpty())
        return;
    constexpr qsizetype shown = 20;
    QStringList lines;
    // The names come from the file, and the plug-in's words from the plug-in: only their
    // first characters are repeated.
    for (const QString &name : unknown.mid(0, shown)) {
        QString line = name.size() > 80 ? name.left(80) + QChar(0x2026) : name;
        if (const QString refusal = KRPluginLoader::refusalOfClass(name); !refusal.isEmpty()) {
            line += QStringLiteral(" \u2014 not loaded from the plug-in %1")
                        .arg(refusal.size() > 300 ? refusal.left(300) + QChar(0x2026) : refusal);
        }
        lines.append(line);
    }
    if (unknown.size() > shown)
        lines.append(QStringLiteral("and %1 more").arg(unknown.size() - shown));
    KRAlert alert;
    alert.style = KRAlert::Style::Warning;
    // Named, since another start may have handed the project over while another window is in use.
    alert.messageText = (unknown.size() == 1 ? QStringLiteral("The project “%1” holds objects of a class that is not known")
                                             : QStringLiteral("The project “%1” holds objects of classes that are not known"))
                            .arg(projectName);
    alert.informativeText = QStringLiteral("They are left out of the design and kept in the project file as they are:\n%1")
                                .arg(lines.join(QLatin1Char('\n')));
    KRAlertService::current().runModal(alert);
}

} // namespace

void KRWindowController::setImportPathChooser(PathChooser chooser) { krWindowImportChooser() = std::move(chooser); }
void KRWindowController::setExportFolderChooser(PathChooser chooser) { krWindowExportChooser() = std::move(chooser); }
void KRWindowController::setSavePathChooser(PathChooser chooser) { krWindowSaveChooser() = std::move(chooser); }
KRWindowController::PathChooser &KRWindowController::savePathChooser() { return krWindowSaveChooser(); }

KRWindowController::KRWindowController(KRDocument &document) : m_document(document)
{
    registerMenuCommands();
    m_window = std::make_unique<KRWindow>(*this);
    setWindow(m_window.get());
    buildWindow();
    KRMainMenu::shared().createMenuBar(m_window.get());
    KRMainMenu::setResponder(m_window.get(), this);
    new KRWindowShortcutRouter(m_window.get(), [this] { commitEditing(); });
    windowDidLoadProject();
    // The colour panel opens where it leaves the controls being coloured in view.
    KRColorPanel::setKeptVisibleArea([](const QWidget *asker) {
        const auto *window = qobject_cast<const KRWindow *>(asker);
        return window ? window->controller().selectionScreenRect() : QRect();
    });
}

KRWindowController::~KRWindowController()
{
    m_closing = true;
    stopBuild();
    if (m_window)
        KRMainMenu::setResponder(m_window.get(), nullptr);
    delete m_popover.data();
    m_deviceBrowser.reset();
    m_newResource.reset();
    if (m_projectPane)
        m_projectPane->windowWillClose();
    if (m_project)
        m_project->windowWillClose();
    // The panes' views live in the window: the controllers go first, then the window, then the
    // project the panes looked at.
    m_masterTabPane.reset();
    m_projectPane.reset();
    m_window.reset();
    m_project.reset();
}

KRWindow *KRWindowController::projectWindow() const
{
    return m_window.get();
}

std::shared_ptr<KRProjectBase> KRWindowController::project() const
{
    return m_project;
}

// --- Window set-up

void KRWindowController::buildWindow()
{
    KRWindow &window = *m_window;
    window.setObjectName(QStringLiteral("KRDocument"));
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    const QString path = m_document.fileURL();
    window.setWindowTitle(path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).completeBaseName());
    window.setWindowFilePath(path);
    window.setMinimumSize(900, 560);
    window.resize(1280, 800);

    buildToolbar();

    auto *central = new QWidget;
    central->setObjectName(QStringLiteral("contentView"));
    auto *layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *splitter = new QSplitter(Qt::Horizontal);
    splitter->setObjectName(QStringLiteral("windowSplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->setHandleWidth(1);
    m_projectContainer = new QWidget;
    m_projectContainer->setObjectName(QStringLiteral("projectPaneContainerView"));
    m_paletteContainer = new QWidget;
    m_paletteContainer->setObjectName(QStringLiteral("palettePaneContainerView"));
    m_masterContainer = new QWidget;
    m_masterContainer->setObjectName(QStringLiteral("masterTabPaneContainerView"));
    m_projectContainer->setMinimumWidth(180);
    m_paletteContainer->setMinimumWidth(200);
    m_masterContainer->setMinimumWidth(480);
    splitter->addWidget(m_projectContainer);
    splitter->addWidget(m_paletteContainer);
    splitter->addWidget(m_masterContainer);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 0);
    splitter->setStretchFactor(2, 1);
    splitter->setSizes({210, 240, 830});
    layout->addWidget(splitter);
    window.setCentralWidget(central);

    // The loading overlay covers the palette and the master tab pane until the project is
    // built.
    m_loadingView = new QWidget(central);
    m_loadingView->setObjectName(QStringLiteral("loadingView"));
    m_loadingView->setAutoFillBackground(true);
    auto *loadingLayout = new QVBoxLayout(m_loadingView);
    loadingLayout->addStretch();
    auto *progress = new QProgressBar;
    progress->setRange(0, 0);
    progress->setMaximumWidth(160);
    loadingLayout->addWidget(progress, 0, Qt::AlignCenter);
    loadingLayout->addStretch();

    auto *status = new QLabel;
    status->setObjectName(kWindowStatusLine);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse); // the output's path can be copied
    status->setAccessibleName(QStringLiteral("Status"));
    window.statusBar()->setSizeGripEnabled(false);
    window.statusBar()->addWidget(status, 1);
    hideUI();
}

void KRWindowController::buildToolbar()
{
    m_toolbar = new QToolBar(QStringLiteral("Toolbar"), m_window.get());
    m_toolbar->setObjectName(QStringLiteral("toolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(24, 24));
    QStyle *style = QApplication::style();
    const auto addItem = [&](const QString &identifier, const QString &title, QStyle::StandardPixmap icon,
                             void (KRWindowController::*slot)()) {
        QAction *item = m_toolbar->addAction(style->standardIcon(icon), title);
        item->setObjectName(identifier);
        connect(item, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
        return item;
    };
    addItem(QStringLiteral("build-item"), QStringLiteral("Build"), QStyle::SP_BrowserReload,
            &KRWindowController::projectBuildAction);

    // The Run item: a click runs in the preview window; holding it offers the browser.
    m_runToolbarItem = new JWPopUpToolbarItem(QStringLiteral("runToolbarItem"), m_toolbar);
    m_runToolbarItem->setObjectName(QStringLiteral("runToolbarItem"));
    m_runToolbarItem->setText(QStringLiteral("Run"));
    m_runToolbarItem->setToolTip(QStringLiteral("Run the project (hold for more)"));
    m_runToolbarItem->setImage(style->standardIcon(QStyle::SP_MediaPlay).pixmap(64, 64).toImage());
    auto *runMenu = new QMenu(m_window.get());
    runMenu->setObjectName(QStringLiteral("runMenu"));
    m_toolbarRunInternalMenu = runMenu->addAction(QStringLiteral("Run in Device Preview"));
    m_toolbarRunInternalMenu->setObjectName(QStringLiteral("toolbarRunInternalMenu"));
    connect(m_toolbarRunInternalMenu, &QAction::triggered, this, [this] { projectRunAction(); });
    QAction *browser = runMenu->addAction(QStringLiteral("Run in Browser"));
    browser->setObjectName(QStringLiteral("toolbarRunBrowserMenu"));
    connect(browser, &QAction::triggered, this, [this] { projectRunDefaultBrowserAction(); });
    m_runToolbarItem->setPopUpMenu(runMenu);
    connect(m_runToolbarItem, &QAction::triggered, this, [this] { projectRunAction(); });
    m_toolbar->addAction(m_runToolbarItem);
    // Labelled under its image like the other items.
    if (JWDelayedPopUpButton *button = m_runToolbarItem->buttonIn(m_toolbar)) {
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setText(QStringLiteral("Run"));
        button->setMinimumSize(0, 0);
        button->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        button->setIconSize(m_toolbar->iconSize());
    }

    addItem(QStringLiteral("export-item"), QStringLiteral("Export"), QStyle::SP_DialogSaveButton,
            &KRWindowController::exportProjectAction);
    m_toolbar->addSeparator();
    addItem(QStringLiteral("newpage-item"), QStringLiteral("New Page"), QStyle::SP_FileIcon,
            &KRWindowController::createPageAction);
    addItem(QStringLiteral("newfunction-item"), QStringLiteral("New Function"), QStyle::SP_FileDialogContentsView,
            &KRWindowController::createFunctionAction);
    addItem(QStringLiteral("addresource-item"), QStringLiteral("Import"), QStyle::SP_DirOpenIcon,
            &KRWindowController::addResourceAction);
    auto *spacer = new QWidget;
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(spacer);
    addItem(QStringLiteral("settings-item"), QStringLiteral("Settings"), QStyle::SP_FileDialogDetailedView,
            &KRWindowController::projectSettingsAction);
    // The news item carries the unread count as a badge.
    m_newsButton = new KRBadgedButton(m_toolbar);
    m_newsButton->setObjectName(QStringLiteral("newsButton"));
    m_newsButton->setText(QStringLiteral("News"));
    m_newsButton->setIcon(style->standardIcon(QStyle::SP_MessageBoxInformation));
    m_newsButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_newsButton->setAutoRaise(true);
    m_newsButton->setFocusPolicy(Qt::NoFocus);
    connect(m_newsButton, &QToolButton::clicked, this, [this] { newsAction(); });
    m_toolbar->addWidget(m_newsButton)->setObjectName(QStringLiteral("news-item"));
    m_window->addToolBar(Qt::TopToolBarArea, m_toolbar);
}

void KRWindowController::hideUI()
{
    for (QWidget *container : {m_projectContainer, m_paletteContainer, m_masterContainer})
        container->setVisible(false);
    QWidget *central = m_window->centralWidget();
    m_loadingView->setGeometry(central->rect());
    m_loadingView->show();
    m_loadingView->raise();
}

void KRWindowController::showUI()
{
    m_loadingView->hide();
    for (QWidget *container : {m_projectContainer, m_paletteContainer, m_masterContainer})
        container->setVisible(true);
}

void KRWindowController::windowDidLoadProject()
{
    m_palettePane = new KRPalettePane(KRUserDefaults::sharedInstance());
    m_palettePane->setObjectName(QStringLiteral("palettePane"));
    connect(m_palettePane, &KRPalettePane::willDragObject, this, &KRWindowController::palettePaneWillDragObject);
    krWindowFill(m_paletteContainer, m_palettePane);

    auto result = KRProject::create(m_document.shared_from_this());
    if (!result) {
        krWindowShowError(QStringLiteral("The project could not be opened."), result.error().message());
        emit windowDidLoad();
        return;
    }
    m_project = *result;
    m_replacedCharacters = KRNotificationCenter::defaultCenter().addObserver(
        KRDocumentDidReplaceCharactersNotification, m_document.identity(), [this](const KRNotification &notification) {
            krWindowSetStatus(m_window.get(), notification.userInfo.value(QStringLiteral("message")).toString());
        });

    m_projectPane = KRCachingViewController::create<KRProjectPaneViewController>();
    m_projectPane->setProject(m_project);
    m_projectPane->setDelegate(this);
    krWindowFill(m_projectContainer, m_projectPane->view());
    m_masterTabPane = KRCachingViewController::create<KRMasterTabPaneViewController>();
    m_masterTabPane->setProject(m_project);
    krWindowFill(m_masterContainer, m_masterTabPane->view());
    m_projectPane->didOpenProject(m_project);
    adoptTabPanes();

    std::shared_ptr<KRPage> start = m_project->pageForID(m_project->startPage());
    if (!start && !m_project->krPages().isEmpty())
        start = m_project->krPages().first();
    if (start)
        selectPage(start);
    showUI();
    emit windowDidLoad();
    // Told once the window shows.
    QTimer::singleShot(0, this, [this] { tellOfOpeningProblems(); });
}

void KRWindowController::tellOfOpeningProblems(int triesLeft)
{
    if (!m_project || !m_window)
        return;
    const bool anything = !m_project->unknownClassNames().isEmpty() || !m_project->unshippedJQMVersionNotice().isNull()
        || (m_project->webFolder() && !m_project->webFolder()->skippedFiles().isEmpty());
    // The messages go over this window, which is brought to the front first: a project another
    // start handed over may open behind the window in use, whose messages these are not. The
    // window manager is waited for a second at most.
    if (anything && !m_window->isActiveWindow() && triesLeft > 0) {
        if (m_window->isVisible() && !std::exchange(m_broughtForwardToTell, true))
            KRWindowControllerBase::orderFront(m_window.get());
        QTimer::singleShot(20, this, [this, triesLeft] { tellOfOpeningProblems(triesLeft - 1); });
        return;
    }
    krWindowTellOfUnshippedJQMVersion(*m_project, m_document.fileURL());
    if (m_project)
        krWindowTellOfSkippedFiles(*m_project);
    if (m_project && m_window)
        krWindowTellOfUnknownClasses(*m_project, m_window->windowTitle());
}

// --- Pages and tabs

void KRWindowController::selectPage(const std::shared_ptr<KRPage> &page)
{
    if (!page)
        return;
    KR_LOG(QStringLiteral("select page: ") + page->kr_id());
    m_currentPage = page;
    const QScopedValueRollback<bool> selecting(m_selectingPage, true);
    if (m_projectPane)
        m_projectPane->selectPage(page);
    if (m_masterTabPane)
        m_masterTabPane->selectTabWithPage(page);
    KRMainMenu::shared().validate();
}

KRTabPaneViewController *KRWindowController::currentTabPane() const
{
    if (!m_masterTabPane)
        return nullptr;
    KRTabPropertyGroupViewController *group = m_masterTabPane->currentTabPropertyGroupViewController();
    return group ? group->tabPaneViewController() : nullptr;
}

KRDesignViewController *KRWindowController::currentDesignViewController() const
{
    KRTabPaneViewController *tabPane = currentTabPane();
    return tabPane ? tabPane->selectedDesignViewController() : nullptr;
}

QWidget *KRWindowController::currentDesignWebView() const
{
    KRTabPaneViewController *tabPane = currentTabPane();
    if (!tabPane || !tabPane->isDesignViewSelected() || !tabPane->designCanvas())
        return nullptr;
    KRPageDesignView *live = tabPane->designCanvas()->designView();
    return live ? live->webView() : nullptr;
}

QRect KRWindowController::selectionScreenRect() const
{
    KRTabPaneViewController *tabPane = currentTabPane();
    KRDesignCanvas *canvas = tabPane && tabPane->isDesignViewSelected() ? tabPane->designCanvas() : nullptr;
    QWidget *view = currentDesignWebView();
    if (!canvas || !canvas->surface() || !view || !view->isVisible())
        return {};
    const QRect page = canvas->surface()->selectionRect();
    if (page.isEmpty())
        return {};
    const double zoom = canvas->zoom();
    const QRect inView(QPoint(qFloor(page.left() * zoom), qFloor(page.top() * zoom)),
                       QPoint(qCeil((page.right() + 1) * zoom) - 1, qCeil((page.bottom() + 1) * zoom) - 1));
    // Only the part the canvas shows (the page scrolls inside it).
    return QRect(view->mapToGlobal(inView.topLeft()), inView.size())
        .intersected(QRect(canvas->mapToGlobal(QPoint(0, 0)), canvas->size()));
}

bool KRWindowController::isDragging() const
{
    KRDesignViewController *surface = currentDesignViewController();
    return surface && surface->isDragging();
}

void KRWindowController::createPageAction()
{
    KR_LOG(QString());
    if (m_project)
        selectPage(m_project->createNewPage());
}

void KRWindowController::duplicatePageAction()
{
    KR_LOG(QString());
    if (m_project && currentPage())
        selectPage(m_project->duplicatePage(currentPage()));
}

void KRWindowController::createFunctionAction()
{
    KR_LOG(QString());
    std::shared_ptr<KRPage> page = currentPage();
    if (!page)
        return;
    if (auto function = std::dynamic_pointer_cast<KRFunction>(page->createNewObject(QStringLiteral("KRFunction"), QString())))
        editFunction(function);
}

void KRWindowController::editFunction(const std::shared_ptr<KRFunction> &function)
{
    KR_LOG(QString());
    if (!function)
        return;
    auto page = std::dynamic_pointer_cast<KRPage>(function->owningPage());
    if (page)
        selectPage(page);
    if (KRDesignViewController *surface = currentDesignViewController())
        surface->selectObject(function);
    if (KRTabPropertyGroupViewController *group = m_masterTabPane ? m_masterTabPane->currentTabPropertyGroupViewController() : nullptr)
        group->editFunction(function);
}

void KRWindowController::editResource(const std::shared_ptr<KRProjectResource> &resource)
{
    KR_LOG(QString());
    if (!resource)
        return;
    // A file no editor here takes (a picture, a font) opens in the desktop's application for it.
    if (!resource->isEditable()) {
        if (!resource->isDirectory())
            resource->openResourceWithFinder();
        return;
    }
    if (!m_masterTabPane)
        return;
    m_masterTabPane->selectResourceTab();
    adoptTabPanes();
    if (KRResourceTabPaneViewController *tabs = m_masterTabPane->resourceTabPaneViewController())
        tabs->editResource(resource);
}

void KRWindowController::deletePage(const std::shared_ptr<KRPage> &page)
{
    KR_LOG(QString());
    if (!m_project || !page || m_project->krPages().size() < 2)
        return;
    KRAlert alert;
    alert.messageText = QStringLiteral("Delete Page");
    alert.informativeText = QStringLiteral("Do you want to delete the page \"%1\" from this project?").arg(page->kr_id());
    // The controls of other pages that go to it keep their links, which then lead nowhere.
    QList<KRXMLNode> pageElements;
    for (const auto &each : m_project->krPages())
        pageElements.append(each->xmlElement());
    QList<KRPageLink> links;
    for (const KRPageLink &link : krPageLinks(pageElements)) {
        if (link.target == page->kr_id() && link.pageID != page->kr_id())
            links.append(link);
    }
    if (links.size() == 1)
        alert.informativeText += QStringLiteral(" The control %1 links to it; its link will then lead to a page that "
                                                "does not exist.").arg(krPageLinkList(links));
    else if (!links.isEmpty())
        alert.informativeText += QStringLiteral(" These controls link to it: %1; their links will then lead to a page "
                                                "that does not exist.").arg(krPageLinkList(links));
    alert.buttonTitles = {QStringLiteral("Delete Page"), QStringLiteral("Cancel")};
    alert.destructive = true;
    if (krWindowAsk(alert) != KRAlertService::FirstButtonReturn)
        return;
    m_project->deletePage(page);
    if (!m_project->krPages().isEmpty())
        selectPage(m_project->krPages().first());
}

void KRWindowController::selectDesignViewAction()
{
    KRTabPaneViewController *tabPane = currentTabPane();
    if (!tabPane)
        return;
    if (tabPane->isDesignViewSelected())
        tabPane->selectPreviousTab();
    else
        tabPane->selectDesignView();
}

void KRWindowController::lastResourceTabClosedAction()
{
    if (m_project && !m_project->krPages().isEmpty())
        selectPage(m_project->krPages().first());
}

void KRWindowController::palettePaneWillDragObject(const QString &className)
{
    KRTabPaneViewController *tabPane = currentTabPane();
    if (!tabPane)
        return;
    if (KRObjectInfo::sharedInstance().isVisualObject(className))
        tabPane->selectDesignView();
    else
        tabPane->selectObjectView();
}

// --- The outline's requests

void KRWindowController::projectPaneDidSelectPage(KRProjectPaneViewController *, const std::shared_ptr<KRPage> &page)
{
    // The page the user chose in the outline (a click, the keys, Return) is the one inspected,
    // whatever its design had selected, also when its row was the one selected already. A page
    // the window turns to itself (a new one, a function's) is not chosen there.
    const bool chosenInOutline = !m_selectingPage;
    selectPage(page);
    KRTabPropertyGroupViewController *group = m_masterTabPane ? m_masterTabPane->currentTabPropertyGroupViewController() : nullptr;
    if (chosenInOutline && group && group->page() == page)
        group->selectObject(page);
    if (QWidget *view = currentDesignWebView())
        view->setFocus(Qt::OtherFocusReason);
}

void KRWindowController::projectPaneDeletePage(KRProjectPaneViewController *, const std::shared_ptr<KRPage> &page)
{
    deletePage(page);
}

bool KRWindowController::projectPaneResourceIsOpenInTab(KRProjectPaneViewController *,
                                                        const std::shared_ptr<KRProjectResource> &resource)
{
    KRResourceTabPaneViewController *tabs = m_masterTabPane ? m_masterTabPane->resourceTabPaneViewController() : nullptr;
    return tabs && tabs->isResourceOpenInTab(resource);
}

void KRWindowController::projectPaneEditResource(KRProjectPaneViewController *,
                                                 const std::shared_ptr<KRProjectResource> &resource)
{
    editResource(resource);
}

void KRWindowController::showSyntaxErrorsForProjectPane(KRProjectPaneViewController *)
{
    if (m_masterTabPane)
        m_masterTabPane->selectSyntaxErrorTab();
}

void KRWindowController::projectSettingsAction(KRProjectPaneViewController *, QWidget *sender)
{
    showProjectSettings(sender);
}

// --- Pop-overs

void KRWindowController::showPopover(QWidget *content, QObject *contentOwner, QWidget *anchor, int edge, const QSize &contentSize)
{
    // One pop-over at a time. One held open by a question its content asked goes once the
    // question is answered, not under the method that asked it.
    if (m_popover && m_popover->isHeld())
        m_popover->close();
    else
        delete m_popover.data();
    auto *popover = new KRPopover(m_window.get());
    popover->setBehavior(KRPopover::Behavior::Transient);
    popover->setContentWidget(content);
    popover->setContentSize(contentSize);
    // The pop-over keeps the controller of its contents and goes when it closes.
    contentOwner->setParent(popover);
    connect(popover, &KRPopover::closed, popover, &QObject::deleteLater);
    m_popover = popover;
    popover->showRelativeToRect(anchor->rect(), anchor, static_cast<KRPopover::Edge>(edge));
}

void KRWindowController::projectSettingsAction()
{
    // From the toolbar or the keyboard: the pop-over points at the toolbar's Settings button.
    QWidget *button = nullptr;
    if (m_toolbar) {
        for (QAction *item : m_toolbar->actions()) {
            if (item->objectName() == QLatin1String("settings-item"))
                button = m_toolbar->widgetForAction(item);
        }
    }
    showProjectSettings(button);
}

void KRWindowController::showProjectSettings(QWidget *anchor)
{
    KR_LOG(QString());
    if (!m_project || !m_projectPane)
        return;
    auto settings = KRCachingViewController::create<KRProjectSettingsViewController>();
    settings->setProject(m_project);
    settings->view()->setObjectName(QStringLiteral("projectSettingsView"));
    if (!anchor || !anchor->isVisible()) {
        anchor = m_projectContainer;
        if (QWidget *header = m_projectPane->headerView())
            anchor = header;
    }
    QWidget *view = settings->view();
    // Below the button or header it points at: a pop-over beside an anchor near the top of the
    // window would be pushed up over the title and menu bars.
    showPopover(view, settings.release(), anchor, KRPopover::BottomEdge);
}

void KRWindowController::newsAction()
{
    KR_LOG(QString());
    auto news = KRCachingViewController::create<KRNewsViewController>();
    QWidget *view = news->view();
    const QSize size = KRNewsViewController::popoverContentSize(view, m_window.get());
    showPopover(view, news.release(), m_newsButton, KRPopover::BottomEdge, size);
}

// --- Tabs of resources and syntax errors

void KRWindowController::adoptTabPanes()
{
    if (!m_masterTabPane)
        return;
    if (KRResourceTabPaneViewController *tabs = m_masterTabPane->resourceTabPaneViewController())
        tabs->setDelegate(this);
    if (KRSyntaxErrorViewController *errors = m_masterTabPane->syntaxErrorViewController())
        errors->setDelegate(this);
}

void KRWindowController::lastResourceTabClosedAction(KRResourceTabPaneViewController *)
{
    lastResourceTabClosedAction();
}

void KRWindowController::syntaxErrorViewShowFunction(KRSyntaxErrorViewController *, const std::shared_ptr<KRPage> &page,
                                                     const std::shared_ptr<KRFunction> &function, std::optional<int> line,
                                                     std::optional<int> character)
{
    selectPage(page);
    if (!function || !m_masterTabPane)
        return;
    KRTabPropertyGroupViewController *group = m_masterTabPane->currentTabPropertyGroupViewController();
    KRFunctionViewController *editor = group ? group->editFunction(function) : nullptr;
    if (editor && line && character)
        editor->selectRow(*line, *character);
}

// --- Build and run

bool KRWindowController::commitEditing()
{
    // An editor writes its pending text into the model when it loses the focus; one that
    // refuses to let it go stops the command.
    QWidget *focus = QApplication::focusWidget();
    if (!focus || focus->window() != m_window.get())
        return true;
    m_window->setFocus(Qt::OtherFocusReason);
    if (QApplication::focusWidget() == focus && focus != m_window.get())
        return false;
    focus->setFocus(Qt::OtherFocusReason);
    return true;
}

void KRWindowController::projectBuildAction()
{
    startBuild(FollowUp::None);
}

void KRWindowController::projectRunAction()
{
    startBuild(FollowUp::Run);
}

void KRWindowController::projectRunDefaultBrowserAction()
{
    startBuild(FollowUp::RunDefaultBrowser);
}

// One build: what it was given on the main thread (a copy of the project, the functions to
// check), and what it came to. The building thread writes the outcome; the main thread reads
// it once `finished` is set.
struct KRWindowController::BuildJob
{
    FollowUp followUp = FollowUp::None;
    bool checkSyntax = false;
    qint64 port = -1;
    KRSyntaxCheckOptions options;
    QList<KRSyntaxCheckFunction> functions;
    KRProject::Snapshot snapshot;
    QElapsedTimer clock;

    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    mutable std::mutex progressLock;
    QString progress;

    KRSyntaxCheckRun run;
    bool checked = false;
    std::optional<KRResult<QString>> built;
    QList<KRAlert> alerts;
    QStringList warnings;

    void setProgress(const QString &text)
    {
        const std::lock_guard lock(progressLock);
        progress = text;
    }
    QString currentProgress() const
    {
        const std::lock_guard lock(progressLock);
        return progress;
    }

    // Any thread: reads only the copy and what it was given.
    void perform()
    {
        if (checkSyntax) {
            KRSyntaxChecker checker([port = port] { return port; });
            checker.setOptions(options);
            checker.setCache(&KRScriptCache::sharedInstance());
            checker.setShowsAlerts(false);
            checker.setCancelFlag(&cancelled);
            checker.setProgress([this](int done, int total) {
                setProgress(QStringLiteral("checking %1 of %2 functions").arg(done).arg(total));
            });
            run = checker.checkFunctions(functions);
            checked = true;
            if (run.outcome != KRSyntaxCheckRun::Outcome::NoErrors)
                return; // the main thread tells or asks
        }
        if (cancelled)
            return;
        setProgress(QStringLiteral("reading the project"));
        {
            // The copy is made, read and released on this thread.
            KRResult<std::shared_ptr<KRProject>> copy = KRProject::fromSnapshot(snapshot);
            snapshot.xml = QByteArray(); // read: the copy holds the project now
            if (!copy) {
                built = copy.error();
                return;
            }
            KRProjectBuilder builder(copy.value());
            builder.setRunsInBackground(true);
            builder.setScriptCache(&KRScriptCache::sharedInstance());
            builder.setServerPort(port);
            builder.setCancelFlag(&cancelled);
            builder.setProgress([this](const QString &text) { setProgress(text); });
            built = builder.build();
            alerts = builder.deferredAlerts();
            warnings = builder.warnings();
        }
        KRProject::releaseBuildMemory();
    }
};

QString KRWindowController::buildingStatus(const QString &activity) const
{
    QString text = QStringLiteral("Building…");
    if (!activity.isEmpty())
        text += QLatin1Char(' ') + activity;
    if (m_nextBuild)
        text += QStringLiteral(" (another build follows)");
    return text;
}

void KRWindowController::startBuild(FollowUp followUp)
{
    KR_LOG(QString());
    if (!m_project || m_closing)
        return;
    if (isBuilding()) {
        // The project may have changed since this build took its copy: one more build follows,
        // with the follow-up asked for last (a run wins over none).
        if (!m_nextBuild || followUp != FollowUp::None)
            m_nextBuild = followUp;
        krWindowSetStatus(m_window.get(), buildingStatus(m_buildJob ? m_buildJob->currentProgress() : QString()));
        return;
    }
    // The copy of a large project holds the window for a moment: "Building…" reaches the
    // screen first, and the copy is taken once it has been drawn.
    krWindowSetStatus(m_window.get(), QStringLiteral("Building…"));
    m_buildStarting = true;
    const auto begin = [this, followUp] {
        m_buildStarting = false;
        if (!m_project || m_closing || m_buildJob)
            return;
        const bool checkSyntax = KRUserDefaults::sharedInstance().boolValue(QStringLiteral("JSCheckSyntax"));
        std::shared_ptr<BuildJob> job = prepareBuild(followUp, checkSyntax);
        if (!job) {
            m_nextBuild.reset(); // the status says why this one did not start
            return;
        }
        launchBuild(job);
    };
    if (auto *line = m_window->findChild<QLabel *>(kWindowStatusLine))
        new KRAfterPaint(line, 100, begin);
    else
        QTimer::singleShot(0, this, begin);
}

void KRWindowController::launchBuild(const std::shared_ptr<BuildJob> &job)
{
    m_buildJob = job;
    if (!m_buildTimer) {
        m_buildTimer = new QTimer(m_window.get());
        m_buildTimer->setInterval(30);
        connect(m_buildTimer, &QTimer::timeout, this, [this] { pollBuild(); });
        // Quitting ends the event loop before the windows go: the build stops while what it
        // uses is still there.
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stopBuild(); });
    }
    try {
        m_buildThread = std::thread([job] { job->perform(); job->finished = true; });
    } catch (...) {
        // No thread to be had: the build runs here.
        job->perform();
        job->finished = true;
    }
    m_buildTimer->start();
}

void KRWindowController::pollBuild()
{
    if (!m_buildJob)
        return;
    if (!m_buildJob->finished) {
        const QString text = buildingStatus(m_buildJob->currentProgress());
        const auto *line = m_window->findChild<QLabel *>(kWindowStatusLine);
        if (!line || line->text() != text) // unchanged text tells assistive tools nothing new
            krWindowSetStatus(m_window.get(), text);
        return;
    }
    m_buildTimer->stop();
    if (m_buildThread.joinable())
        m_buildThread.join();
    const std::shared_ptr<BuildJob> job = std::move(m_buildJob);
    m_buildJob.reset();
    const bool built = finishBuild(job, true);
    if (m_buildJob)
        return; // built again without the check, in the background
    if (m_nextBuild) {
        const FollowUp next = *m_nextBuild;
        m_nextBuild.reset();
        // A build stopped by a syntax error or a failure shows why; another would hide it.
        if (built)
            startBuild(next);
    }
}

void KRWindowController::stopBuild()
{
    if (!m_buildJob)
        return;
    // What is left is written as it is (unminified), never reported: nothing waits for the
    // main thread on the building one.
    m_buildJob->cancelled = true;
    if (m_buildThread.joinable())
        m_buildThread.join();
    if (m_buildTimer)
        m_buildTimer->stop();
    m_buildJob.reset();
    m_nextBuild.reset();
}

std::shared_ptr<KRWindowController::BuildJob> KRWindowController::prepareBuild(FollowUp followUp, bool checkSyntax)
{
    if (!commitEditing()) {
        krWindowSetStatus(m_window.get(), QStringLiteral("Build stopped: the edit in progress could not be finished."));
        return nullptr;
    }
    krWindowSetStatus(m_window.get(), QStringLiteral("Building…"));
    // Shown now, before the copy is taken.
    if (auto *line = m_window->findChild<QLabel *>(kWindowStatusLine))
        line->repaint();
    // Editors write their pending text into the model before the copy is taken.
    KRNotificationCenter::defaultCenter().post(KRWillBuildDocumentNotification, m_document.identity());

    auto job = std::make_shared<BuildJob>();
    job->clock.start();
    job->followUp = followUp;
    job->checkSyntax = checkSyntax;
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    if (checkSyntax || defaults.boolValue(QStringLiteral("JSMinimize")))
        job->port = KRRuntimeServer::portNumber();
    if (checkSyntax) {
        if (job->port <= 0) {
            if (!askToBuildWithoutCheck())
                return nullptr;
            job->checkSyntax = false;
        } else {
            job->options = KRSyntaxCheckOptions::fromUserDefaults(defaults);
            job->functions = KRProjectSyntaxCheck::functionsToCheck(*m_project);
        }
    }
    job->snapshot = m_project->snapshot();
    if (job->snapshot.xml.isEmpty()) {
        krWindowSetStatus(m_window.get(), QStringLiteral("Build failed: the project has no document."));
        return nullptr;
    }
    return job;
}

// A check that cannot run is no pass: the user decides. False (and the status says so) when the
// build is cancelled.
bool KRWindowController::askToBuildWithoutCheck(bool ranOutOfTime)
{
    KRAlert alert;
    alert.messageText = QStringLiteral("Unable to perform syntax check");
    alert.informativeText =
        (ranOutOfTime ? KRSyntaxChecker::ranOutOfTimeExplanation()
                      : QStringLiteral("The syntax of the project's functions could not be checked because the local "
                                       "server is not available."))
        + QStringLiteral(" Do you want to build the project without the check?");
    alert.buttonTitles = {QStringLiteral("Build Anyway"), QStringLiteral("Cancel")};
    if (krWindowAsk(alert) == KRAlertService::FirstButtonReturn)
        return true;
    krWindowSetStatus(m_window.get(), QStringLiteral("Build cancelled."));
    return false;
}

bool KRWindowController::finishBuild(const std::shared_ptr<BuildJob> &job, bool inBackground)
{
    if (job->checked && m_project)
        KRProjectSyntaxCheck::applyRun(*m_project, job->functions, job->run);
    if (job->checked && job->run.foundErrors()) {
        KR_LOG(QStringLiteral("syntax errors"));
        const qsizetype count = m_project->syntaxErrors().size();
        krWindowSetStatus(m_window.get(), count == 1 ? QStringLiteral("Build stopped: 1 JavaScript syntax error.")
                                                     : QStringLiteral("Build stopped: %1 JavaScript syntax errors.").arg(count));
        KRTabPaneViewController *tabPane = currentTabPane();
        KRFunctionViewController *editor = tabPane ? tabPane->selectedFunctionViewController() : nullptr;
        if (editor && editor->function() && !editor->function()->syntaxErrors().isEmpty()) {
            editor->showFirstSyntaxError();
        } else {
            if (m_masterTabPane) {
                m_masterTabPane->selectSyntaxErrorTab();
                adoptTabPanes();
            }
            if (m_projectPane)
                m_projectPane->selectSyntaxErrorItem();
        }
        return false;
    }
    if (job->checked && job->run.outcome == KRSyntaxCheckRun::Outcome::NotChecked) {
        if (!askToBuildWithoutCheck(job->run.ranOutOfTime))
            return false;
        // Built now, without the check, as before.
        std::shared_ptr<BuildJob> again = prepareBuild(job->followUp, false);
        if (!again)
            return false;
        if (inBackground) {
            launchBuild(again);
            return true;
        }
        again->perform();
        return finishBuild(again, false);
    }
    if (!job->built) {
        krWindowSetStatus(m_window.get(), QStringLiteral("Build stopped."));
        return false;
    }
    for (const KRAlert &alert : std::as_const(job->alerts))
        KRAlertService::current().runModal(alert);
    const KRResult<QString> &built = *job->built;
    if (!built) {
        krWindowSetStatus(m_window.get(), QStringLiteral("Build failed: %1").arg(built.error().message()));
        krWindowShowError(QStringLiteral("The project could not be built."), built.error().message());
        return false;
    }
    m_builtProjectIndex = *built;
    ++m_buildCount;
    // Each build ends with a text of its own: a person tells this one from the last.
    QString status = QStringLiteral("Build %1 finished at %2 in %3 s: %4")
                         .arg(m_buildCount)
                         .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")))
                         .arg(double(job->clock.elapsed()) / 1000.0, 0, 'f', 2)
                         .arg(QDir::toNativeSeparators(QFileInfo(*built).absolutePath()));
    // What the build found wrong follows, the first few in full.
    if (!job->warnings.isEmpty()) {
        constexpr qsizetype shown = 3;
        status += job->warnings.size() == 1 ? QStringLiteral(". Warning: ")
                                            : QStringLiteral(". %1 warnings: ").arg(job->warnings.size());
        status += job->warnings.mid(0, shown).join(QLatin1Char(' '));
        if (job->warnings.size() > shown)
            status += QStringLiteral(" (and %1 more)").arg(job->warnings.size() - shown);
    }
    krWindowSetStatus(m_window.get(), status);
    switch (job->followUp) {
    case FollowUp::Run:
        runProject();
        break;
    case FollowUp::RunDefaultBrowser:
        runProjectDefaultBrowser();
        break;
    case FollowUp::None:
        break;
    }
    return true;
}

bool KRWindowController::buildProject(FollowUp followUp)
{
    KR_LOG(QString());
    if (!m_project)
        return false;
    // A build in the background finishes first: two would write the same folder.
    waitForBuild();
    const bool checkSyntax = KRUserDefaults::sharedInstance().boolValue(QStringLiteral("JSCheckSyntax"));
    std::shared_ptr<BuildJob> job = prepareBuild(followUp, checkSyntax);
    if (!job)
        return false;
    job->perform();
    return finishBuild(job, false);
}

void KRWindowController::waitForBuild()
{
    // A build that the user has it go on without the check is one more to wait for.
    while (m_buildJob) {
        if (m_buildThread.joinable())
            m_buildThread.join();
        m_nextBuild.reset(); // the caller's command comes next
        pollBuild();
    }
}

void KRWindowController::runProject()
{
    KR_LOG(QString());
    showDeviceBrowser(0);
}

void KRWindowController::runProjectDefaultBrowser()
{
    KR_LOG(QString());
    showDeviceBrowser(1);
}

void KRWindowController::showDeviceBrowser(int mode)
{
    if (!m_deviceBrowser) {
        m_deviceBrowser = std::make_unique<KRDeviceBrowserWindowController>();
        if (QWidget *window = m_deviceBrowser->window())
            window->installEventFilter(this);
    }
    m_deviceBrowser->setMode(mode);
    m_deviceBrowser->setIndexFilePath(m_builtProjectIndex);
    if (mode == 0)
        m_deviceBrowser->setDeviceID(m_project->designTarget());
    m_deviceBrowser->showWindow();
}

void KRWindowController::deviceBrowserWindowClosed()
{
    if (!m_deviceBrowser)
        return;
    // The window is still in its close event: the controller goes on the next pass.
    auto *closing = m_deviceBrowser.release();
    if (QWidget *window = closing->window())
        window->removeEventFilter(this);
    closing->deleteLater();
}

// --- Export and import

void KRWindowController::exportProjectAction()
{
    KR_LOG(QString());
    if (!m_project)
        return;
    if (!commitEditing()) {
        krWindowSetStatus(m_window.get(), QStringLiteral("Export stopped: the edit in progress could not be finished."));
        return;
    }
    KRUserDefaults &defaults = KRUserDefaults::sharedInstance();
    if (m_project->serverScriptsEnabled() && !defaults.boolValue(QStringLiteral("SuppressExportWarning"))) {
        KRAlert alert;
        alert.messageText = QStringLiteral("Exporting projects with server-side scripting");
        alert.informativeText = QStringLiteral(
            "The server-side scripting used by this project is only supported by the built-in Korvane hosting "
            "service.  The onGET() and onPOST() events in this project will be omitted from the exported web "
            "application.");
        alert.buttonTitles = {QStringLiteral("Export"), QStringLiteral("Cancel")};
        alert.suppressionButtonTitle = QStringLiteral("Do not show this message again.");
        const int answer = krWindowAsk(alert);
        if (*alert.suppressionButtonChecked)
            defaults.setValue(QStringLiteral("SuppressExportWarning"), true);
        if (answer != KRAlertService::FirstButtonReturn)
            return;
    }
    if (m_document.fileURL().isEmpty()) {
        if (saveDocumentAs())
            exportProjectAction();
        return;
    }
    QStringList chosen;
    if (krWindowExportChooser()) {
        chosen = krWindowExportChooser()(m_window.get());
    } else {
        KRExportFolderDialog dialog(m_window.get(), QStringLiteral("Export as Web Application"), panelStartFolder());
        if (dialog.exec() == QDialog::Accepted)
            chosen = dialog.selectedFiles();
    }
    if (chosen.isEmpty())
        return;
    const QString folder = QDir::toNativeSeparators(QDir::cleanPath(chosen.first()));
    // The export copies the user's files of the web folder: a build writing there finishes
    // first. The export builds in a folder of its own, and leaves the web folder, which a
    // running preview serves, as that build made it.
    waitForBuild();
    krWindowSetStatus(m_window.get(), QStringLiteral("Exporting to %1…").arg(folder));
    KRProjectBuilder builder(m_project);
    // The export says itself what stopped it (or the user stopped it at a question).
    if (builder.exportProjectToFolder(chosen.first()))
        krWindowSetStatus(m_window.get(), QStringLiteral("Exported to %1").arg(folder));
    else
        krWindowSetStatus(m_window.get(), QStringLiteral("Export to %1 did not finish.").arg(folder));
}

void KRWindowController::addResourceAction()
{
    KR_LOG(QString());
    if (!m_project)
        return;
    QStringList paths;
    if (krWindowImportChooser()) {
        paths = krWindowImportChooser()(m_window.get());
    } else {
        // The dialog starts beside the project, where its files usually come from (in the
        // documents folder for the blank start-up project), as Save As and Export do.
        QFileDialog dialog(m_window.get(), QStringLiteral("Import Resource into Project"), panelStartFolder());
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Add"));
        if (dialog.exec() == QDialog::Accepted)
            paths = dialog.selectedFiles();
    }
    addResources(paths);
}

void KRWindowController::addResources(const QStringList &paths)
{
    if (!m_project || !m_project->webFolder())
        return;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        KRAlert alert;
        alert.buttonTitles = {QString(), QStringLiteral("Skip")};
        if (info.isDir()) {
            alert.messageText = QStringLiteral("Import Folder");
            alert.informativeText = QStringLiteral("Copy the contents of the folder '%1' into this project?").arg(path);
            alert.buttonTitles[0] = QStringLiteral("Copy");
        } else if (info.size() > 1000000) {
            alert.messageText = QStringLiteral("Import File");
            alert.informativeText = QStringLiteral("Import the file '%1' (%2MB) into this project?")
                                        .arg(path)
                                        .arg(double(info.size()) / 1000000.0, 0, 'f', 1);
            alert.buttonTitles[0] = QStringLiteral("Import");
        }
        if (!alert.messageText.isEmpty() && krWindowAsk(alert) != KRAlertService::FirstButtonReturn)
            continue;
        m_project->webFolder()->addResource(path);
    }
}

void KRWindowController::newResourceAction()
{
    KR_LOG(QString());
    if (!m_project || m_newResource)
        return;
    m_newResource = std::make_unique<KRNewResourceWindowController>();
    m_newResource->setProject(m_project);
    m_newResource->beginSheetForWindow(m_window.get(), [this] {
        // The sheet is still ending: the controller goes on the next pass.
        if (m_newResource)
            m_newResource.release()->deleteLater();
    });
}

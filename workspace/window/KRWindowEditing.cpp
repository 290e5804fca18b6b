// The project window's keys, edit commands, grid and align commands, and its menu commands with
// their validation.
#include <workspace/window/KRWindowController.h>

#include <codeeditor/CETextMenuController.h>
#include <core/KRRunLogger.h>
#include <ui/KRWindowControllerBase.h>
#include <model/KRDocument.h>
#include <model/KRObject.h>
#include <model/KRPage.h>
#include <model/KRPasteboard.h>
#include <model/KRProject.h>
#include <platform/appkit/KRColorPanel.h>
#include <platform/webview/KRDesignViewControllerProxy.h>
#include <platform/webview/KRWebView.h>
#include <platform/foundation/KRUndoManager.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/palette/KRObjectBrowser.h>
#include <workspace/surface/KRDesignCanvas.h>
#include <workspace/panes/KRMasterTabPaneViewController.h>
#include <workspace/panes/KRTabPaneViewController.h>
#include <workspace/panes/KRTabPropertyGroupViewController.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <QWindow>

namespace {

using EditCommand = KRWindowControllerBase::EditCommand;

const char *krWindowEditMethod(EditCommand command)
{
    switch (command) {
    case EditCommand::Cut:
        return "cut()";
    case EditCommand::Copy:
        return "copy()";
    case EditCommand::Paste:
        return "paste()";
    case EditCommand::Delete:
        return "del()";
    case EditCommand::SelectAll:
        return "selectAll()";
    }
    return "";
}

// Whether the focused widget, or one of its ancestors in the window, takes the command.
bool krWindowFocusTakes(QWidget *focus, EditCommand command)
{
    for (QWidget *w = focus; w; w = w->parentWidget()) {
        if (command == EditCommand::Delete
            && (qobject_cast<QLineEdit *>(w) || qobject_cast<QTextEdit *>(w) || qobject_cast<QPlainTextEdit *>(w)))
            return true;
        if (w->metaObject()->indexOfMethod(krWindowEditMethod(command)) >= 0)
            return true;
        if (w->isWindow())
            break;
    }
    return false;
}

struct KRWindowCommand {
    const char *menu;
    const char *identifier;
    const char *title;
    QKeySequence shortcut;
    bool checkable = false;
};

const QString kObjectPboardType = QStringLiteral("KRObjectPboardType");

// Puts the shared colour panel away when it is up (without making one).
void krWindowCloseColourPanel()
{
    // Every press of the window passes here, once for each widget it travels through: the
    // panel is looked for among the shown windows, a few, rather than among every widget of
    // the application (which the list of top-level widgets walks).
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible() || !window->handle())
            continue;
        if (auto *panel = qobject_cast<KRColorPanel *>(QWidget::find(window->winId())); panel && panel->isVisible())
            panel->close();
    }
}

} // namespace

void KRWindowController::registerMenuCommands()
{
    KRMainMenu &menu = KRMainMenu::shared();
    if (menu.action(QStringLiteral("build")))
        return;
    const auto add = [&menu](const char *m, const char *identifier, const char *title, QKeySequence shortcut = {},
                             bool checkable = false) {
        menu.addCommand(QString::fromUtf8(m), QString::fromUtf8(identifier), QString::fromUtf8(title), shortcut, checkable);
    };
    const QString file = QStringLiteral("File");
    add("File", "closeWindow", "Close", QKeySequence::Close);
    add("File", "saveDocument", "Save", QKeySequence::Save);
    add("File", "saveDocumentAs", "Save As…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    add("File", "revertDocument", "Revert to Saved");
    menu.addSeparator(file);
    add("File", "importResource", "Import Resource…", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
    add("File", "newResource", "New Resource…");
    add("File", "exportProject", "Export as Web Application…", QKeySequence(Qt::CTRL | Qt::Key_E));

    const QString edit = QStringLiteral("Edit");
    add("Edit", "undo", "Undo", QKeySequence::Undo);
    add("Edit", "redo", "Redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    menu.addSeparator(edit);
    add("Edit", "cut", "Cut", QKeySequence::Cut);
    add("Edit", "copy", "Copy", QKeySequence::Copy);
    add("Edit", "paste", "Paste", QKeySequence::Paste);
    add("Edit", "delete", "Delete");
    add("Edit", "selectAll", "Select All", QKeySequence::SelectAll);
    // The settings submenus of the code editors (encoding, line endings, ...) show the settings
    // of the editor that has the focus in the active window when they open.
    const auto addEditorSubmenu = [](QMenu *submenu, const QString &identifier) {
        if (!CETextMenuController::isSettingsMenu(identifier))
            return;
        QObject::connect(submenu, &QMenu::aboutToShow, submenu, [submenu, identifier] {
            const auto *window = qobject_cast<const KRWindow *>(QApplication::activeWindow());
            CETextMenuController::fillSettingsMenu(identifier, submenu,
                                                   window ? window->controller().focusWidget() : nullptr);
        });
        // What it was filled with acts on one editor: once the choice made in it has been
        // carried out (after the menu hides), it goes, and no other window's menu bar offers it.
        QObject::connect(submenu, &QMenu::aboutToHide, submenu, [submenu] {
            QTimer::singleShot(0, submenu, [submenu] { CETextMenuController::fillSettingsMenu({}, submenu, nullptr); });
        });
    };
    // The code editors' commands: find in Edit, the text commands in a Text menu of their own.
    const auto addEditorCommands = [&menu, &addEditorSubmenu](const QString &title, const QList<CEMenuCommand> &commands) {
        for (const CEMenuCommand &command : commands) {
            const QString parent = command.parent.isEmpty() ? title : command.parent;
            if (command.kind == CEMenuCommand::Kind::Separator)
                menu.addSeparator(parent);
            else if (command.kind == CEMenuCommand::Kind::Submenu)
                addEditorSubmenu(menu.addSubmenu(parent, command.identifier, command.title), command.identifier);
            else
                menu.addCommand(parent, command.identifier, command.title, command.shortcut);
        }
    };
    menu.addSeparator(edit);
    addEditorCommands(edit, CETextMenuController::findCommands());
    menu.addSeparator(edit);
    add("Edit", "alignLeft", "Align Left");
    add("Edit", "alignCenter", "Align Center");
    add("Edit", "alignRight", "Align Right");
    add("Edit", "vAlignTop", "Align Top");
    add("Edit", "vAlignCenter", "Align Middle");
    add("Edit", "vAlignBottom", "Align Bottom");
    addEditorCommands(QStringLiteral("Text"), CETextMenuController::textCommands());

    add("View", "showGrid", "Show Grid", QKeySequence(Qt::CTRL | Qt::Key_Apostrophe), true);
    menu.addSubmenu(QStringLiteral("View"), QStringLiteral("snapToGrid"), QStringLiteral("Snap to Grid"));
    add("snapToGrid", "snapGridNone", "None", {}, true);
    add("snapToGrid", "snapGrid5", "5-Pixel Grid", {}, true);
    add("snapToGrid", "snapGrid10", "10-Pixel Grid", {}, true);
    add("snapToGrid", "snapGrid20", "20-Pixel Grid", {}, true);
    menu.addSeparator(QStringLiteral("View"));
    add("View", "selectDesignView", "Toggle Design View", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));

    add("Project", "build", "Build", QKeySequence(Qt::CTRL | Qt::Key_B));
    add("Project", "run", "Run", QKeySequence(Qt::CTRL | Qt::Key_R));
    add("Project", "runInBrowser", "Run in Browser", QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_R));
    menu.addSeparator(QStringLiteral("Project"));
    add("Project", "newPage", "New Page", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    add("Project", "duplicatePage", "Duplicate Page");
    add("Project", "deletePage", "Delete Page…");
    add("Project", "newFunction", "New Function", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    menu.addSeparator(QStringLiteral("Project"));
    add("Project", "projectSettings", "Project Settings…", QKeySequence(Qt::CTRL | Qt::Key_Comma));
    add("Project", "news", "News");
}

// --- Predicates

QWidget *KRWindowController::focusWidget() const
{
    QWidget *focus = QApplication::focusWidget();
    if (!focus)
        return nullptr;
    // While the keys walk the menus, the menu bar or an open menu (a window of its own) holds
    // the focus: the commands are about the widget the user works in.
    const bool inMenu = qobject_cast<QMenu *>(focus->window()) && m_window->isActiveWindow();
    if (focus->window() != m_window.get() && !inMenu)
        return nullptr;
    return KRMainMenu::workingFocus(m_window.get());
}

bool KRWindowController::isDesignViewFirstResponder(const QWidget *widget) const
{
    QWidget *view = currentDesignWebView();
    return widget && view && (widget == view || view->isAncestorOf(widget));
}

bool KRWindowController::isEditViewSelected(const QWidget *widget) const
{
    for (const QWidget *w = widget; w; w = w->parentWidget())
        if (qobject_cast<const KRObjectBrowser *>(w))
            return true;
    return isDesignViewFirstResponder(widget);
}

std::shared_ptr<KRObject> KRWindowController::editableObject() const
{
    if (!m_masterTabPane)
        return nullptr;
    std::shared_ptr<KRObject> object = m_masterTabPane->selectedObject();
    // A page has no owning page of its own: it is never the object of an edit command.
    if (!object || object->isPage())
        return nullptr;
    return object;
}

QList<std::shared_ptr<KRObject>> KRWindowController::editedObjects(const QWidget *focus) const
{
    if (!isEditViewSelected(focus))
        return {};
    // On the page's live view, what is selected there: never an object out of sight.
    if (isDesignViewFirstResponder(focus)) {
        KRDesignViewController *surface = currentDesignViewController();
        return surface ? surface->selectedObjects() : QList<std::shared_ptr<KRObject>>();
    }
    if (std::shared_ptr<KRObject> object = editableObject())
        return {object};
    return {};
}

std::shared_ptr<KRPage> KRWindowController::pastePage() const
{
    // The page of the selected object, the page itself when that is selected (as it is after
    // a cut); the shown page when nothing is.
    if (std::shared_ptr<KRObject> selected = m_masterTabPane ? m_masterTabPane->selectedObject() : nullptr)
        if (auto page = std::dynamic_pointer_cast<KRPage>(selected->page()))
            return page;
    return currentPage();
}

// --- Keys

bool KRWindowController::wantsKey(const QKeyEvent *event, QWidget *focus) const
{
    const bool command = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return currentDesignViewController() && isDesignViewFirstResponder(focus);
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        return isEditViewSelected(focus);
    case Qt::Key_Tab:
        // Alt+Tab belongs to the window manager.
        if (event->modifiers() & Qt::AltModifier)
            return false;
        if (command)
            return m_masterTabPane && m_masterTabPane->currentPageTabPropertyGroupViewController();
        return currentDesignViewController() && isDesignViewFirstResponder(focus);
    case Qt::Key_X:
    case Qt::Key_C:
    case Qt::Key_V:
    case Qt::Key_A:
        // Elsewhere the focused widget (or the menu's shortcut) does the edit, once.
        return command && isEditViewSelected(focus);
    default:
        return false;
    }
}

bool KRWindowController::routeKeyPress(QKeyEvent *event, QWidget *focus)
{
    if (!wantsKey(event, focus))
        return false;
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return arrowKeyEvent(event->key());
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        deleteKeyEvent();
        return true;
    case Qt::Key_Tab:
        if (event->modifiers() & Qt::ControlModifier)
            controlTabKeyEvent();
        else
            tabKeyEvent();
        return true;
    case Qt::Key_X:
        commandXEvent();
        return true;
    case Qt::Key_C:
        commandCEvent();
        return true;
    case Qt::Key_V:
        commandVEvent();
        return true;
    case Qt::Key_A:
        commandAEvent();
        return true;
    default:
        return false;
    }
}

void KRWindowController::deleteKeyEvent()
{
    QWidget *focus = focusWidget();
    if (isEditViewSelected(focus)) {
        const QList<std::shared_ptr<KRObject>> selection = editedObjects(focus);
        if (selection.isEmpty())
            return;
        KRUndoManager &undo = m_document.undoManager();
        undo.beginUndoGrouping();
        if (selection.size() >= 2)
            undo.setActionName(QStringLiteral("Delete Objects"));
        // Each page's at once: deleted one by one, each told everything that lists the page's
        // objects, and deleting many took time with the square of their number.
        std::vector<std::pair<std::shared_ptr<KRPageBase>, QList<std::shared_ptr<KRObject>>>> byPage;
        for (const auto &object : selection) {
            const auto page = object->owningPage();
            if (!page)
                continue;
            auto same = std::find_if(byPage.begin(), byPage.end(), [&](const auto &entry) { return entry.first == page; });
            if (same == byPage.end())
                same = byPage.insert(byPage.end(), {page, {}});
            same->second.append(object);
        }
        for (const auto &[page, objects] : byPage)
            page->deleteObjects(objects);
        undo.endUndoGrouping();
    } else {
        // The menu's Delete with the focus in a text: the text's own delete.
        KRWindowControllerBase::sendEditCommand(m_window.get(), EditCommand::Delete);
    }
    KRMainMenu::shared().validate();
}

void KRWindowController::controlTabKeyEvent()
{
    if (!m_masterTabPane)
        return;
    if (KRTabPropertyGroupViewController *group = m_masterTabPane->currentPageTabPropertyGroupViewController())
        if (KRTabPaneViewController *tabPane = group->tabPaneViewController())
            tabPane->nextTab();
}

void KRWindowController::tabKeyEvent()
{
    if (KRDesignViewController *surface = currentDesignViewController())
        if (isDesignViewFirstResponder(focusWidget()))
            surface->selectNextObject();
}

bool KRWindowController::arrowKeyEvent(int key)
{
    KRDesignViewController *surface = currentDesignViewController();
    if (!surface || !isDesignViewFirstResponder(focusWidget()))
        return false;
    switch (key) {
    case Qt::Key_Up:
        surface->moveObjects(KRDesignViewController::Arrow::Up);
        break;
    case Qt::Key_Down:
        surface->moveObjects(KRDesignViewController::Arrow::Down);
        break;
    case Qt::Key_Left:
        surface->moveObjects(KRDesignViewController::Arrow::Left);
        break;
    default:
        surface->moveObjects(KRDesignViewController::Arrow::Right);
        break;
    }
    return true;
}

void KRWindowController::commandXEvent()
{
    QWidget *focus = focusWidget();
    if (!isEditViewSelected(focus)) {
        KRWindowControllerBase::sendEditCommand(m_window.get(), EditCommand::Cut);
    } else if (const QList<std::shared_ptr<KRObject>> objects = editedObjects(focus); !objects.isEmpty()) {
        if (auto page = std::dynamic_pointer_cast<KRPage>(objects.first()->page()))
            page->cutObjects(objects);
    }
    KRMainMenu::shared().validate();
}

void KRWindowController::commandCEvent()
{
    QWidget *focus = focusWidget();
    if (!isEditViewSelected(focus)) {
        KRWindowControllerBase::sendEditCommand(m_window.get(), EditCommand::Copy);
    } else if (const QList<std::shared_ptr<KRObject>> objects = editedObjects(focus); !objects.isEmpty()) {
        if (auto page = std::dynamic_pointer_cast<KRPage>(objects.first()->page()))
            page->pasteboardCopyObjects(objects);
    }
    KRMainMenu::shared().validate();
}

void KRWindowController::commandVEvent()
{
    QWidget *focus = focusWidget();
    if (!isEditViewSelected(focus)) {
        KRWindowControllerBase::sendEditCommand(m_window.get(), EditCommand::Paste);
        return;
    }
    std::shared_ptr<KRPage> page = pastePage();
    if (!page)
        return;
    const QList<std::shared_ptr<KRObject>> pasted = page->pasteObjects();
    if (!pasted.isEmpty()) {
        if (KRDesignViewController *surface = currentDesignViewController())
            surface->selectObjects(pasted);
        else if (KRTabPaneViewController *tabPane = currentTabPane(); tabPane && page == currentPage())
            tabPane->selectObject(pasted.last());
    }
    KRMainMenu::shared().validate();
}

void KRWindowController::commandAEvent()
{
    QWidget *focus = focusWidget();
    if (!isEditViewSelected(focus)) {
        KRWindowControllerBase::sendEditCommand(m_window.get(), EditCommand::SelectAll);
    } else if (isDesignViewFirstResponder(focus)) {
        if (KRDesignViewController *surface = currentDesignViewController())
            surface->selectAll();
        else
            KRWindowControllerBase::sendEditCommand(m_window.get(), EditCommand::SelectAll);
    }
    KRMainMenu::shared().validate();
}

// --- Pointer

void KRWindowController::designViewMouseDown(quint64 nodeId, bool shift)
{
    KRDesignViewController *surface = currentDesignViewController();
    KRTabPaneViewController *tabPane = currentTabPane();
    KRPageDesignView *live = tabPane && tabPane->designCanvas() ? tabPane->designCanvas()->designView() : nullptr;
    if (!surface || !live)
        return;
    std::shared_ptr<KRObject> object = surface->objectForElement(live->designViewControllerProxy()->nodeForId(nodeId));
    if (!object || surface->selectedObjects().contains(object))
        return;
    if (shift)
        surface->addObjectToSelection(object);
    else
        surface->selectObject(object);
}

// --- Grid

void KRWindowController::showGridAction()
{
    if (m_project)
        m_project->setShowGrid(!m_project->showGrid());
}

void KRWindowController::gridAction(const QString &title)
{
    if (!m_project)
        return;
    if (title == QLatin1String("None"))
        m_project->setSnapGrid(0);
    else
        m_project->setSnapGrid(title.section(QLatin1Char('-'), 0, 0).trimmed().toLongLong());
}

// --- Menu commands

bool KRWindowController::performMenuCommand(const QString &identifier)
{
    if (CETextMenuController::isCommand(identifier)) {
        CETextMenuController::perform(identifier, focusWidget());
        return true;
    }
    using Command = void (KRWindowController::*)();
    static const QHash<QString, Command> commands = {
        {QStringLiteral("importResource"), &KRWindowController::addResourceAction},
        {QStringLiteral("newResource"), &KRWindowController::newResourceAction},
        {QStringLiteral("exportProject"), &KRWindowController::exportProjectAction},
        {QStringLiteral("revertDocument"), &KRWindowController::revertDocumentToSaved},
        {QStringLiteral("cut"), &KRWindowController::commandXEvent},
        {QStringLiteral("copy"), &KRWindowController::commandCEvent},
        {QStringLiteral("paste"), &KRWindowController::commandVEvent},
        {QStringLiteral("delete"), &KRWindowController::deleteKeyEvent},
        {QStringLiteral("selectAll"), &KRWindowController::commandAEvent},
        {QStringLiteral("showGrid"), &KRWindowController::showGridAction},
        {QStringLiteral("selectDesignView"), &KRWindowController::selectDesignViewAction},
        {QStringLiteral("build"), &KRWindowController::projectBuildAction},
        {QStringLiteral("run"), &KRWindowController::projectRunAction},
        {QStringLiteral("runInBrowser"), &KRWindowController::projectRunDefaultBrowserAction},
        {QStringLiteral("newPage"), &KRWindowController::createPageAction},
        {QStringLiteral("duplicatePage"), &KRWindowController::duplicatePageAction},
        {QStringLiteral("newFunction"), &KRWindowController::createFunctionAction},
        {QStringLiteral("projectSettings"), &KRWindowController::projectSettingsAction},
        {QStringLiteral("news"), &KRWindowController::newsAction},
    };
    if (Command command = commands.value(identifier)) {
        (this->*command)();
        return true;
    }
    if (identifier == QLatin1String("saveDocument")) {
        saveDocument();
    } else if (identifier == QLatin1String("saveDocumentAs")) {
        saveDocumentAs();
    } else if (identifier == QLatin1String("closeWindow")) {
        m_window->close();
    } else if (identifier == QLatin1String("deletePage")) {
        deletePage(currentPage());
    } else if (identifier == QLatin1String("undo") || identifier == QLatin1String("redo")) {
        const bool undo = identifier == QLatin1String("undo");
        KRUndoManager &manager = m_document.undoManager();
        if (undo && manager.canUndo())
            manager.undo();
        else if (!undo && manager.canRedo())
            manager.redo();
    } else if (identifier.startsWith(QLatin1String("align")) || identifier.startsWith(QLatin1String("vAlign"))) {
        KRDesignViewController *surface = currentDesignViewController();
        if (!surface)
            return true;
        static const QHash<QString, void (KRDesignViewController::*)()> aligns = {
            {QStringLiteral("alignLeft"), &KRDesignViewController::alignLeft},
            {QStringLiteral("alignCenter"), &KRDesignViewController::alignCenter},
            {QStringLiteral("alignRight"), &KRDesignViewController::alignRight},
            {QStringLiteral("vAlignTop"), &KRDesignViewController::vAlignTop},
            {QStringLiteral("vAlignCenter"), &KRDesignViewController::vAlignCenter},
            {QStringLiteral("vAlignBottom"), &KRDesignViewController::vAlignBottom},
        };
        if (auto align = aligns.value(identifier))
            (surface->*align)();
    } else if (identifier.startsWith(QLatin1String("snapGrid"))) {
        if (QAction *action = KRMainMenu::shared().action(identifier))
            gridAction(action->text());
    } else {
        return false;
    }
    return true;
}

bool KRWindowController::validateMenuCommand(const QString &identifier, QAction *action)
{
    static const QSet<QString> always = {
        QStringLiteral("closeWindow"), QStringLiteral("saveDocument"), QStringLiteral("saveDocumentAs"),
        QStringLiteral("newResource"), QStringLiteral("exportProject"), QStringLiteral("selectDesignView"),
        QStringLiteral("build"), QStringLiteral("run"), QStringLiteral("runInBrowser"), QStringLiteral("newPage"),
        QStringLiteral("duplicatePage"), QStringLiteral("newFunction"), QStringLiteral("projectSettings"),
        QStringLiteral("news"),
    };
    if (always.contains(identifier)) {
        action->setEnabled(m_project != nullptr);
        return true;
    }
    QWidget *focus = focusWidget();
    if (CETextMenuController::isCommand(identifier)) {
        // Only the editor that has the focus (its text, or for find its find bar).
        action->setEnabled(CETextMenuController::validate(identifier, focus));
    } else if (CETextMenuController::isSettingsMenu(identifier)) {
        action->setEnabled(CETextMenuController::validateSettingsMenu(identifier, focus));
    } else if (identifier == QLatin1String("importResource")) {
        action->setEnabled(!m_document.fileURL().isEmpty());
    } else if (identifier == QLatin1String("revertDocument")) {
        action->setEnabled(!m_document.fileURL().isEmpty() && hasUnsavedChanges());
    } else if (identifier == QLatin1String("deletePage")) {
        action->setEnabled(m_project && m_project->krPages().size() >= 2);
    } else if (identifier == QLatin1String("undo") || identifier == QLatin1String("redo")) {
        const KRUndoManager &manager = m_document.undoManager();
        const bool undo = identifier == QLatin1String("undo");
        action->setEnabled(undo ? manager.canUndo() : manager.canRedo());
        action->setText(undo ? manager.undoMenuItemTitle() : manager.redoMenuItemTitle());
    } else if (identifier == QLatin1String("cut") || identifier == QLatin1String("copy")
               || identifier == QLatin1String("delete")) {
        const EditCommand command = identifier == QLatin1String("cut")    ? EditCommand::Cut
                                    : identifier == QLatin1String("copy") ? EditCommand::Copy
                                                                          : EditCommand::Delete;
        // Enabled exactly when the command has something to act on.
        action->setEnabled(isEditViewSelected(focus) ? !editedObjects(focus).isEmpty() : krWindowFocusTakes(focus, command));
    } else if (identifier == QLatin1String("paste")) {
        action->setEnabled(isEditViewSelected(focus)
                               ? pastePage() && !KRPasteboard::generalPasteboard().stringForType(kObjectPboardType).isEmpty()
                               : krWindowFocusTakes(focus, EditCommand::Paste));
    } else if (identifier == QLatin1String("selectAll")) {
        // The object browser has no select-all of its own.
        action->setEnabled(isEditViewSelected(focus) ? isDesignViewFirstResponder(focus)
                                                     : krWindowFocusTakes(focus, EditCommand::SelectAll));
    } else if (identifier.startsWith(QLatin1String("align")) || identifier.startsWith(QLatin1String("vAlign"))) {
        KRDesignViewController *surface = currentDesignViewController();
        action->setEnabled(surface && surface->selectedObjects().size() >= 2);
    } else if (identifier.startsWith(QLatin1String("snapGrid"))) {
        const qint64 grid = m_project ? m_project->snapGrid() : 0;
        action->setEnabled(m_project != nullptr);
        if (action->text() == QLatin1String("None"))
            action->setChecked(grid < 2);
        else
            action->setChecked(action->text().section(QLatin1Char('-'), 0, 0).trimmed().toLongLong() == grid);
    } else if (identifier == QLatin1String("showGrid")) {
        action->setEnabled(m_project && m_project->snapGrid() >= 1);
        action->setChecked(m_project && m_project->showGrid());
    } else {
        return false;
    }
    return true;
}

// --- The window

KRWindow::KRWindow(KRWindowController &controller) : m_controller(controller)
{
    qApp->installEventFilter(this);
}

KRWindow::~KRWindow()
{
    qApp->removeEventFilter(this);
}

bool KRWindow::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress && type != QEvent::MouseButtonPress
        && type != KRWebViewPressEvent::eventType())
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this)
        return false;
    if (type == QEvent::MouseButtonPress) {
        // A click anywhere in the window puts the colour panel away.
        krWindowCloseColourPanel();
        return false;
    }
    if (type == KRWebViewPressEvent::eventType()) {
        // The shown page's view reports the press with the topmost node under the pointer,
        // before the page's own handlers hear of it.
        auto *press = static_cast<KRWebViewPressEvent *>(event);
        if (widget == m_controller.currentDesignWebView())
            m_controller.designViewMouseDown(press->nodeId(), press->modifiers() & Qt::ShiftModifier);
        return false;
    }
    auto *key = static_cast<QKeyEvent *>(event);
    QWidget *focus = QApplication::focusWidget();
    if (!focus || focus->window() != this)
        return false;
    if (type == QEvent::ShortcutOverride) {
        // Claimed keys come back as key presses to the focused widget and are routed there;
        // no shortcut runs for them.
        if (m_controller.wantsKey(key, focus)) {
            key->accept();
            return true;
        }
        return false;
    }
    return m_controller.routeKeyPress(key, focus);
}

void KRWindow::closeEvent(QCloseEvent *event)
{
    if (!m_controller.m_closing && !m_controller.shouldCloseDocument()) {
        event->ignore();
        return;
    }
    event->accept();
    emit m_controller.windowDidClose();
}

void KRWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_controller.windowBecameActive();
}

// --- Controller glue

void KRWindowController::windowBecameActive()
{
    krWindowCloseColourPanel();
    KRMainMenu::shared().validate();
}

bool KRWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close && m_deviceBrowser && watched == m_deviceBrowser->window())
        deviceBrowserWindowClosed();
    return QObject::eventFilter(watched, event);
}

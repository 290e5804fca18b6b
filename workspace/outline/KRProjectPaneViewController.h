#pragma once

#include <ui/KRCachingViewController.h>
#include <widgets/sourcelist/SLSourceListInterfaces.h>

#include <QMenu>
#include <QPointer>

#include <memory>

class KRPage;
class KRPaneHeaderView;
class KRProject;
class KRProjectPaneDataSource;
class KRProjectPaneViewController;
class KRProjectResource;
class QAbstractButton;
class SLSourceList;

// What the outline asks of the project window. The resource menu's commands have a plain
// default (open the editor, hand the file to the desktop, the outline's own guarded delete);
// the window overrides what it wants to do itself.
class KRProjectPaneDelegate
{
public:
    virtual ~KRProjectPaneDelegate() = default;

    // A page row was selected: show the page's tab.
    virtual void projectPaneDidSelectPage(KRProjectPaneViewController *pane, const std::shared_ptr<KRPage> &page) = 0;
    // Delete key or "Delete Page" on a page row: ask and delete; the deletion comes back as a
    // project notification.
    virtual void projectPaneDeletePage(KRProjectPaneViewController *pane, const std::shared_ptr<KRPage> &page) = 0;
    // Whether an editor tab for the resource is open.
    virtual bool projectPaneResourceIsOpenInTab(KRProjectPaneViewController *pane,
                                                const std::shared_ptr<KRProjectResource> &resource) = 0;
    // Open the resource's editor tab or bring it forward.
    virtual void projectPaneEditResource(KRProjectPaneViewController *pane,
                                         const std::shared_ptr<KRProjectResource> &resource) = 0;
    // The syntax-error row was selected: show the syntax-error tab.
    virtual void showSyntaxErrorsForProjectPane(KRProjectPaneViewController *pane) = 0;
    // The header's settings button: show the project settings pop-over.
    virtual void projectSettingsAction(KRProjectPaneViewController *pane, QWidget *sender) = 0;

    // The resource menu's commands.
    virtual void openResourceAction(KRProjectPaneViewController *pane, const std::shared_ptr<KRProjectResource> &resource);
    virtual void openResourceWithFinderAction(KRProjectPaneViewController *pane,
                                              const std::shared_ptr<KRProjectResource> &resource);
    virtual void revealResourceInFinderAction(KRProjectPaneViewController *pane,
                                              const std::shared_ptr<KRProjectResource> &resource);
    virtual void deleteResourceAction(KRProjectPaneViewController *pane, const std::shared_ptr<KRProjectResource> &resource);
};

// The left-hand pane of the project window: the "Project" header with the settings button
// above the outline of pages, syntax errors and web resources.
class KRProjectPaneViewController : public KRCachingViewController, public SLSourceListDelegate
{
    Q_OBJECT

public:
    KRProjectPaneViewController();
    ~KRProjectPaneViewController() override;
    QString nibName() const override { return QStringLiteral("KRProjectPaneView"); }

    KRProjectPaneDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRProjectPaneDelegate *delegate) { m_delegate = delegate; }
    SLSourceList *sourceList() const { return m_sourceList; }
    KRPaneHeaderView *headerView() const { return m_headerView; }
    QAbstractButton *projectSettingsButton() const { return m_projectSettingsButton; }
    KRProjectPaneDataSource *dataSource() const { return m_dataSource.get(); }

    // Called once by the window when its project exists.
    void didOpenProject(const std::shared_ptr<KRProject> &project);
    // The window is closing (the window calls this once its close is certain): the outline
    // lets go of the model and shows nothing.
    void windowWillClose();

    void reloadData();
    // Selects the page's row alone (which shows its tab).
    void selectPage(const std::shared_ptr<KRPage> &page);
    // Reloads, then selects the syntax-error row when there is one.
    void selectSyntaxErrorItem();
    bool resourceIsOpenInTab(const std::shared_ptr<KRProjectResource> &resource);
    // Whether the resource (or, for a folder, anything in it) may be renamed or deleted now:
    // not while an editor of it is open or its edits wait in the project's cache, which an
    // editor and the next save would write back under the old name. When not, the user is
    // told why ("renamed" or "deleted").
    bool resourceCanBeRenamedOrDeleted(const std::shared_ptr<KRProjectResource> &resource, const QString &verb);
    // Deletes the resource after the project's confirmation, unless the guard above refuses.
    void deleteResource(const std::shared_ptr<KRProjectResource> &resource);

    // Rows and menus.
    void selectItemAlone(const void *item);
    // A fresh menu that the pane keeps until the next one.
    QMenu *makeContextMenu();
    // The menu shown last; null before the first.
    QMenu *contextMenu() const { return m_menu.get(); }
    // While a rename or a drop is being committed the list must not be rebuilt under it; the
    // reloads asked meanwhile run once the commit is done.
    void beginDeferringReloads() { ++m_deferReloads; }
    void endDeferringReloads();

    // --- SLSourceListDelegate
    std::optional<bool> isGroupAlwaysExpanded(SLSourceList *list, SLItem item) override;
    QMenu *menuForEvent(SLSourceList *list, QContextMenuEvent *event, SLItem item) override;
    std::optional<bool> shouldEditItem(SLSourceList *list, SLItem item) override;
    // A row chosen by a change of the selection, or by a plain click on the row that is
    // already the one selected (which changes no selection): the row shows what it stands for.
    void sourceListSelectionDidChange(const KRNotification &notification) override;
    void sourceListDeleteKeyPressedOnRows(const KRNotification &notification) override;
    void sourceListDoubleAction();
    // Return on a row: its editor takes the keyboard (a page's design, a resource's text).
    void sourceListReturnAction(int row);

protected:
    void awakeFromNib() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The one selected row acts as chosen: it shows its page, its open file or the errors.
    void selectedRowChosen();

    SLSourceList *m_sourceList = nullptr;
    KRPaneHeaderView *m_headerView = nullptr;
    QAbstractButton *m_projectSettingsButton = nullptr;
    std::unique_ptr<KRProjectPaneDataSource> m_dataSource;
    std::weak_ptr<KRPage> m_currentPage;
    KRProjectPaneDelegate *m_delegate = nullptr; // not owned: the window controller
    std::unique_ptr<QMenu> m_menu;
    int m_pressOnSelectedRow = -1; // a plain press on the one selected row, until the list has taken it
    int m_deferReloads = 0;
    bool m_reloadPending = false;
    bool m_reloading = false;
    bool m_didCleanup = false;
};

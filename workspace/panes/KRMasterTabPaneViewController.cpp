#include "KRMasterTabPaneViewController.h"

#include "KRTabView.h"

#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <platform/foundation/KRAssert.h>

#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

KRMasterTabPaneViewController::KRMasterTabPaneViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRMasterTabPaneView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRMasterTabPaneView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRMasterTabPaneViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            controller->m_tabView = new KRTabView(view);
            layout->addWidget(controller->m_tabView);
            view->resize(980, 640);
            return view;
        });
}

KRMasterTabPaneViewController::~KRMasterTabPaneViewController()
{
    m_deletePageToken = {};
    // The groups' views leave the tab view before it goes with the pane's view.
    m_groups.clear();
    m_syntaxErrors.reset();
    m_resources.reset();
}

void KRMasterTabPaneViewController::awakeFromNib()
{
}

KRTabPropertyGroupViewController *KRMasterTabPaneViewController::selectTabWithPage(const std::shared_ptr<KRPage> &page)
{
    if (!page)
        return nullptr;
    if (!m_deletePageToken.isActive()) {
        if (const auto project = std::dynamic_pointer_cast<KRProject>(page->pageProject()))
            m_deletePageToken = KRNotificationCenter::defaultCenter().addObserver(
                KRProjectDidDeletePageNotification, project->identity(), [this](const KRNotification &notification) {
                    projectDidDeletePage(notification.userInfo.value(QStringLiteral("deletedPage")).value<KRPageHandle>().page);
                });
    }
    const QString id = page->kr_id();
    std::shared_ptr<Group> group = m_groups.value(id);
    if (!group)
        for (const auto &candidate : std::as_const(m_groups))
            if (candidate->page.lock() == page)
                group = candidate;
    if (!group) {
        group = std::make_shared<Group>();
        group->controller = KRCachingViewController::create<KRTabPropertyGroupViewController>();
        group->controller->setPage(page);
        group->page = page;
        m_tabView->addTabViewItem(id, id, group->controller->view());
        m_groups.insert(id, group);
        group->controller->tabPaneViewController()->selectDesignView();
        group->idToken = page->observable().observe(QStringLiteral("kr_id"),
                                                    [this](const void *, const QString &, const QVariant &oldValue, const QVariant &newValue) {
                                                        pageIDChanged(oldValue.toString(), newValue.toString());
                                                    });
    }
    m_tabView->selectItemWithIdentifier(page->kr_id());
    return group->controller.get();
}

void KRMasterTabPaneViewController::pageIDChanged(const QString &oldID, const QString &newID)
{
    if (oldID == newID)
        return;
    if (TBTabViewItem *item = m_tabView->item(oldID)) {
        item->setIdentifier(newID);
        item->setLabel(newID);
    }
    if (m_groups.contains(oldID))
        m_groups.insert(newID, m_groups.take(oldID));
}

void KRMasterTabPaneViewController::projectDidDeletePage(const std::shared_ptr<KRPage> &page)
{
    if (!page)
        return;
    const QString id = page->kr_id();
    // The tab goes first and is freed last: the group's view leaves it in between.
    std::unique_ptr<TBTabViewItem> item;
    if (TBTabViewItem *found = m_tabView->item(id))
        item = m_tabView->takeItem(found);
    m_groups.remove(id);
}

KRTabPropertyGroupViewController *KRMasterTabPaneViewController::groupForPageID(const QString &pageID) const
{
    const auto group = m_groups.value(pageID);
    return group ? group->controller.get() : nullptr;
}

KRTabPropertyGroupViewController *KRMasterTabPaneViewController::currentTabPropertyGroupViewController() const
{
    return groupForPageID(m_tabView->selectedIdentifier());
}

KRTabPropertyGroupViewController *KRMasterTabPaneViewController::currentPageTabPropertyGroupViewController() const
{
    return groupForPageID(m_tabView->selectedIdentifier());
}

std::shared_ptr<KRObject> KRMasterTabPaneViewController::selectedObject() const
{
    KRTabPropertyGroupViewController *group = currentTabPropertyGroupViewController();
    return group ? group->selectedObject() : nullptr;
}

KRResourceTabPaneViewController *KRMasterTabPaneViewController::selectResourceTab()
{
    if (!m_resources) {
        m_resources = KRCachingViewController::create<KRResourceTabPaneViewController>();
        m_resources->setProject(project());
        m_tabView->addTabViewItem(ResourcesTabIdentifier, QStringLiteral("Resources"), m_resources->view());
    }
    m_tabView->selectItemWithIdentifier(ResourcesTabIdentifier);
    return m_resources.get();
}

KRSyntaxErrorViewController *KRMasterTabPaneViewController::selectSyntaxErrorTab()
{
    if (!m_syntaxErrors) {
        m_syntaxErrors = KRCachingViewController::create<KRSyntaxErrorViewController>();
        KR_ASSERT(m_syntaxErrors->view(), "KRSyntaxErrorViewController has no view: the interface KRSyntaxErrorView is missing");
        m_syntaxErrors->setProject(project());
        m_syntaxErrors->setDelegate(this);
        m_tabView->addTabViewItem(SyntaxErrorsTabIdentifier, QStringLiteral("Syntax Errors"), m_syntaxErrors->view());
        // The list binds to the project once the tab is in place.
        QTimer::singleShot(0, m_syntaxErrors.get(), [pane = m_syntaxErrors.get()] { pane->setup(); });
    }
    m_tabView->selectItemWithIdentifier(SyntaxErrorsTabIdentifier);
    if (m_syntaxErrors->tableView())
        m_syntaxErrors->tableView()->setFocus();
    return m_syntaxErrors.get();
}

void KRMasterTabPaneViewController::syntaxErrorViewShowFunction(KRSyntaxErrorViewController *, const std::shared_ptr<KRPage> &page,
                                                                const std::shared_ptr<KRFunction> &function,
                                                                std::optional<int> line, std::optional<int> character)
{
    KRTabPropertyGroupViewController *group = selectTabWithPage(page);
    KRFunctionViewController *editor = group && function ? group->editFunction(function) : nullptr;
    if (editor && line && character)
        editor->selectRow(*line, *character);
}

#include "KRProjectPaneViewController.h"

#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <widgets/sourcelist/SLSourceList.h>
#include <widgets/views/KRPaneHeaderView.h>

#include <QToolButton>
#include <QVBoxLayout>

class KRProjectPaneDataSource
{
};

void KRProjectPaneDelegate::openResourceAction(KRProjectPaneViewController *pane,
                                               const std::shared_ptr<KRProjectResource> &resource)
{
    projectPaneEditResource(pane, resource);
}

void KRProjectPaneDelegate::openResourceWithFinderAction(KRProjectPaneViewController *,
                                                         const std::shared_ptr<KRProjectResource> &resource)
{
    resource->openResourceWithFinder();
}

void KRProjectPaneDelegate::revealResourceInFinderAction(KRProjectPaneViewController *,
                                                         const std::shared_ptr<KRProjectResource> &resource)
{
    resource->revealResourceInFinder();
}

void KRProjectPaneDelegate::deleteResourceAction(KRProjectPaneViewController *, const std::shared_ptr<KRProjectResource> &)
{
}

bool KRProjectPaneDelegate::projectPaneResourceHasUnsavedEdits(KRProjectPaneViewController *,
                                                               const std::shared_ptr<KRProjectResource> &)
{
    return false;
}

KRProjectPaneViewController::KRProjectPaneViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRProjectPaneView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRProjectPaneView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRProjectPaneViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            controller->m_headerView = new KRPaneHeaderView(view);
            controller->m_sourceList = new SLSourceList(view);
            layout->addWidget(controller->m_headerView);
            layout->addWidget(controller->m_sourceList, 1);
            view->resize(220, 500);
            return view;
        });
}

KRProjectPaneViewController::~KRProjectPaneViewController() = default;

void KRProjectPaneViewController::awakeFromNib() {}
void KRProjectPaneViewController::didOpenProject(const std::shared_ptr<KRProject> &) {}
void KRProjectPaneViewController::windowWillClose() {}
void KRProjectPaneViewController::reloadData() {}
void KRProjectPaneViewController::selectPage(const std::shared_ptr<KRPage> &) {}
void KRProjectPaneViewController::selectSyntaxErrorItem() {}
bool KRProjectPaneViewController::resourceIsOpenInTab(const std::shared_ptr<KRProjectResource> &) { return false; }
bool KRProjectPaneViewController::resourceCanBeRenamedOrDeleted(const std::shared_ptr<KRProjectResource> &) { return true; }
std::optional<bool> KRProjectPaneViewController::isGroupAlwaysExpanded(SLSourceList *, SLItem) { return true; }
QMenu *KRProjectPaneViewController::menuForEvent(SLSourceList *, QContextMenuEvent *, SLItem) { return nullptr; }
std::optional<bool> KRProjectPaneViewController::shouldEditItem(SLSourceList *, SLItem) { return false; }
void KRProjectPaneViewController::sourceListSelectionDidChange(const KRNotification &) {}
void KRProjectPaneViewController::sourceListDeleteKeyPressedOnRows(const KRNotification &) {}
void KRProjectPaneViewController::sourceListDoubleAction() {}

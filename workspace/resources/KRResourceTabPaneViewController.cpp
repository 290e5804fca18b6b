#include "KRResourceTabPaneViewController.h"

#include "KRResourceViewController.h"

#include <model/KRProjectResource.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabView.h>

#include <QVBoxLayout>

namespace {
KRResourceTabPaneViewController::ThemeEditorFactory &resourceTabPaneThemeEditorFactory()
{
    static KRResourceTabPaneViewController::ThemeEditorFactory factory;
    return factory;
}
} // namespace

void KRResourceTabPaneViewController::setThemeEditorFactory(ThemeEditorFactory factory)
{
    resourceTabPaneThemeEditorFactory() = std::move(factory);
}

KRResourceTabPaneViewController::KRResourceTabPaneViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRResourceTabPaneView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRResourceTabPaneView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRResourceTabPaneViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            controller->m_tabBarControl = new TBTabBarControl(view);
            controller->m_tabView = new TBTabView(view);
            layout->addWidget(controller->m_tabBarControl);
            layout->addWidget(controller->m_tabView, 1);
            view->resize(600, 500);
            return view;
        });
}

KRResourceTabPaneViewController::~KRResourceTabPaneViewController() = default;

void KRResourceTabPaneViewController::awakeFromNib() {}
KRResourceViewController *KRResourceTabPaneViewController::editResource(const std::shared_ptr<KRProjectResource> &) { return nullptr; }
KRCachingViewController *KRResourceTabPaneViewController::editTheme(const QString &) { return nullptr; }
bool KRResourceTabPaneViewController::isResourceOpenInTab(const std::shared_ptr<KRProjectResource> &) const { return false; }
bool KRResourceTabPaneViewController::themeIsOpenInTab(const QString &) const { return false; }
void KRResourceTabPaneViewController::selectResource(const std::shared_ptr<KRProjectResource> &) {}
void KRResourceTabPaneViewController::selectTheme(const QString &) {}
void KRResourceTabPaneViewController::nextTab() {}
void KRResourceTabPaneViewController::purgeViewControllers() {}
KRResourceViewController *KRResourceTabPaneViewController::resourceViewController(const std::shared_ptr<KRProjectResource> &) const { return nullptr; }
KRCachingViewController *KRResourceTabPaneViewController::selectedViewController() const { return nullptr; }
int KRResourceTabPaneViewController::numberOfTabs() const { return 0; }
std::optional<bool> KRResourceTabPaneViewController::tabViewShouldCloseItem(TBTabView *, TBTabViewItem *) { return true; }
void KRResourceTabPaneViewController::tabViewDidCloseItem(TBTabView *, TBTabViewItem *) {}

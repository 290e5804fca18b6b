#include "KRResourceTabPaneViewController.h"

#include "KRResourceViewController.h"

#include <codeeditor/CETextView.h>
#include <model/KRDocument.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <widgets/tabbar/TBTabStyle.h>
#include <widgets/tabbar/TBTabView.h>

#include <QFileInfo>
#include <QVBoxLayout>

namespace {

KRResourceTabPaneViewController::ThemeEditorFactory &resourceTabPaneThemeEditorFactory()
{
    static KRResourceTabPaneViewController::ThemeEditorFactory factory;
    return factory;
}

// Theme editors are known by the theme's name, kept beside them.
const char *const resourceTabPaneThemeNameProperty = "krThemeName";

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

KRResourceTabPaneViewController::~KRResourceTabPaneViewController()
{
    if (m_tabBarControl)
        m_tabBarControl->setDelegate(nullptr);
    // The editors' views sit in the tab view: they go with their controllers first.
    m_viewControllers.clear();
}

void KRResourceTabPaneViewController::awakeFromNib()
{
    m_tabBarControl->setTabView(m_tabView);
    m_tabBarControl->setDelegate(this);
    m_tabBarControl->setPartnerView(view());
    m_tabBarControl->setStyleNamed(QStringLiteral("Unified"));
    m_tabBarControl->setCanCloseOnlyTab(true);
    m_tabBarControl->setAllowsResizing(false);
    m_tabBarControl->setSizeCellsToFit(true);
    m_tabBarControl->setCellMinWidth(100);
    // In the layout the bar keeps the height of its tabs.
    m_tabBarControl->setFixedHeight(int(m_tabBarControl->style()->tabCellHeight()));
    m_viewControllers.clear();
}

KRCachingViewController *KRResourceTabPaneViewController::showEditor(
    const QString &identifier, const QString &label, const std::function<std::unique_ptr<KRCachingViewController>()> &make,
    bool *created)
{
    *created = false;
    KRCachingViewController *controller = nullptr;
    if (TBTabViewItem *item = m_tabView->itemWithIdentifier(identifier)) {
        m_tabView->selectItem(item);
        controller = m_viewControllers.value(identifier).get();
    }
    if (!controller) {
        std::unique_ptr<KRCachingViewController> made = make();
        if (!made)
            return nullptr;
        controller = made.get();
        if (TBTabViewItem *stale = m_tabView->itemWithIdentifier(identifier))
            m_tabView->removeItem(stale);
        TBTabViewItem *item = m_tabView->addItem(identifier, label, controller->view());
        m_tabView->selectItem(item);
        m_viewControllers.insert(identifier, std::shared_ptr<KRCachingViewController>(std::move(made)));
        *created = true;
    }
    return controller;
}

KRResourceViewController *KRResourceTabPaneViewController::editResource(const std::shared_ptr<KRProjectResource> &resource)
{
    if (!resource)
        return nullptr;
    bool created = false;
    auto *controller = static_cast<KRResourceViewController *>(showEditor(
        resource->fullPath(), QFileInfo(resource->fullPath()).fileName(),
        [this] {
            auto editor = KRCachingViewController::create<KRResourceViewController>();
            editor->setDelegate(this);
            if (const std::shared_ptr<KRProjectBase> known = project())
                editor->setProject(known);
            return std::unique_ptr<KRCachingViewController>(std::move(editor));
        },
        &created));
    if (!controller)
        return nullptr;
    if (created)
        controller->setResource(resource);
    if (controller->textView())
        controller->textView()->setFocus(Qt::OtherFocusReason);
    purgeViewControllers();
    return controller;
}

KRCachingViewController *KRResourceTabPaneViewController::editTheme(const QString &themeName)
{
    const ThemeEditorFactory &factory = resourceTabPaneThemeEditorFactory();
    if (themeName.isEmpty() || (!factory && !themeIsOpenInTab(themeName)))
        return nullptr;
    bool created = false;
    KRCachingViewController *controller = showEditor(
        themeName, themeName,
        [&]() -> std::unique_ptr<KRCachingViewController> {
            std::unique_ptr<KRCachingViewController> editor = factory(themeName);
            if (editor)
                editor->setProperty(resourceTabPaneThemeNameProperty, themeName);
            return editor;
        },
        &created);
    if (controller && controller->view())
        controller->view()->setFocus(Qt::OtherFocusReason);
    purgeViewControllers();
    return controller;
}

bool KRResourceTabPaneViewController::isResourceOpenInTab(const std::shared_ptr<KRProjectResource> &resource) const
{
    return resource && m_tabView && m_tabView->itemWithIdentifier(resource->fullPath());
}

bool KRResourceTabPaneViewController::themeIsOpenInTab(const QString &themeName) const
{
    return m_tabView && m_tabView->itemWithIdentifier(themeName);
}

void KRResourceTabPaneViewController::select(const QString &identifier)
{
    TBTabViewItem *item = m_tabView->itemWithIdentifier(identifier);
    if (!item)
        return;
    m_tabView->selectItem(item);
    if (KRCachingViewController *controller = m_viewControllers.value(identifier).get()) {
        auto *editor = qobject_cast<KRResourceViewController *>(controller);
        QWidget *focus = editor && editor->textView() ? static_cast<QWidget *>(editor->textView()) : controller->view();
        if (focus)
            focus->setFocus(Qt::OtherFocusReason);
    }
    purgeViewControllers();
}

void KRResourceTabPaneViewController::selectResource(const std::shared_ptr<KRProjectResource> &resource)
{
    if (resource)
        select(resource->fullPath());
}

void KRResourceTabPaneViewController::selectTheme(const QString &themeName)
{
    select(themeName);
}

void KRResourceTabPaneViewController::nextTab()
{
    const int count = m_tabView->numberOfItems();
    if (count == 0)
        return;
    const int selected = m_tabView->indexOfItem(m_tabView->selectedItem());
    m_tabView->selectItemAtIndex(selected + 1 < count ? selected + 1 : 0);
}

void KRResourceTabPaneViewController::purgeViewControllers()
{
    for (auto it = m_viewControllers.begin(); it != m_viewControllers.end();) {
        QString identifier;
        if (auto *editor = qobject_cast<KRResourceViewController *>(it.value().get()))
            identifier = editor->resource() ? editor->resource()->fullPath() : it.key();
        else
            identifier = it.value()->property(resourceTabPaneThemeNameProperty).toString();
        if (!identifier.isEmpty() && !m_tabView->itemWithIdentifier(identifier))
            it = m_viewControllers.erase(it);
        else
            ++it;
    }
}

KRResourceViewController *
KRResourceTabPaneViewController::resourceViewController(const std::shared_ptr<KRProjectResource> &resource) const
{
    if (!isResourceOpenInTab(resource))
        return nullptr;
    return qobject_cast<KRResourceViewController *>(m_viewControllers.value(resource->fullPath()).get());
}

KRCachingViewController *KRResourceTabPaneViewController::selectedViewController() const
{
    TBTabViewItem *item = m_tabView->selectedItem();
    return item ? m_viewControllers.value(item->identifier().toString()).get() : nullptr;
}

int KRResourceTabPaneViewController::numberOfTabs() const
{
    return m_tabView->numberOfItems();
}

std::optional<bool> KRResourceTabPaneViewController::tabViewShouldCloseItem(TBTabView *, TBTabViewItem *item)
{
    auto *editor = qobject_cast<KRResourceViewController *>(m_viewControllers.value(item->identifier().toString()).get());
    if (!editor || !editor->resource())
        return true;
    // Editing ends, so the latest text reaches the cache.
    editor->textDidEndEditing();
    if (!editor->isDirty())
        return true;

    KRAlert alert;
    alert.style = KRAlert::Style::Warning;
    alert.messageText = QStringLiteral("Do you want to save the changes you've made to the resource \"%1\" before closing this tab?")
                            .arg(editor->resource()->name());
    alert.informativeText = QStringLiteral("Your changes to this resource will be lost if you don't save.");
    alert.buttonTitles = {QStringLiteral("Save Project"), QStringLiteral("Cancel"), QStringLiteral("Don't Save")};
    const int answer = KRAlertService::current().runModal(alert);
    if (answer == KRAlertService::ThirdButtonReturn) {
        editor->discardChanges();
        return true;
    }
    if (answer != KRAlertService::FirstButtonReturn)
        return false;

    const auto project = std::dynamic_pointer_cast<KRProject>(editor->project());
    const std::shared_ptr<KRDocument> document = project ? project->krDocument() : nullptr;
    if (!document)
        return false;
    const KRResult<void> saved = document->fileURL().isEmpty() ? KRResult<void>(KRError(QStringLiteral("KRError"), 3,
                                                                  QStringLiteral("Save the project from the File menu first.")))
                                                               : document->save();
    if (!saved) {
        KRAlert failure;
        failure.style = KRAlert::Style::Critical;
        failure.messageText = QStringLiteral("The project couldn\u2019t be saved.");
        failure.informativeText = saved.error().message();
        KRAlertService::current().runModal(failure);
        return false;
    }
    // Text its encoding cannot hold was not saved: the tab stays open.
    return !editor->isDirty();
}

void KRResourceTabPaneViewController::tabViewDidCloseItem(TBTabView *, TBTabViewItem *item)
{
    if (auto *editor = qobject_cast<KRResourceViewController *>(m_viewControllers.value(item->identifier().toString()).get()))
        editor->didClose();
    purgeViewControllers();
    if (m_tabView->numberOfItems() == 0 && m_delegate)
        m_delegate->lastResourceTabClosedAction(this);
}

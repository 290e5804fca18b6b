#include "KRTabPropertyGroupViewController.h"

#include <model/KRPage.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QResizeEvent>
#include <QVBoxLayout>

void KRTabPropertyGroupSplitter::resizeEvent(QResizeEvent *event)
{
    QSplitter::resizeEvent(event);
    // The first real size places the divider; later sizes leave the inspector as it is (its
    // stretch factor is 0).
    if (!m_fixed && event->size().width() > 0 && count() == 2) {
        m_fixed = true;
        const int total = event->size().width() - handleWidth();
        setSizes({total - KRTabPropertyGroupViewController::InspectorWidth, KRTabPropertyGroupViewController::InspectorWidth});
    }
}

KRTabPropertyGroupViewController::KRTabPropertyGroupViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRTabPropertyGroupView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRTabPropertyGroupView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRTabPropertyGroupViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            controller->m_splitView = new KRTabPropertyGroupSplitter(Qt::Horizontal, view);
            controller->m_splitView->setChildrenCollapsible(false);
            controller->m_splitView->setHandleWidth(1);
            layout->addWidget(controller->m_splitView);
            return view;
        });
}

KRTabPropertyGroupViewController::~KRTabPropertyGroupViewController()
{
    m_observers.clear();
    // The panes' views leave the split view before it goes with the group's view.
    m_tabPane.reset();
    m_propertyPane.reset();
}

void KRTabPropertyGroupViewController::awakeFromNib()
{
    m_tabPane = KRCachingViewController::create<KRTabPaneViewController>();
    m_propertyPane = KRCachingViewController::create<KRPropertyPaneViewController>();
    m_splitView->addWidget(m_tabPane->view());
    m_splitView->addWidget(m_propertyPane->view());
    m_propertyPane->view()->setMinimumWidth(MinimumInspectorWidth);
    m_splitView->setStretchFactor(0, 1);
    m_splitView->setStretchFactor(1, 0);
    // The list only picks the object: the keyboard goes back to where the page's edit commands
    // act on it.
    connect(m_propertyPane.get(), &KRPropertyPaneViewController::objectChosenFromList, this,
            [this] { m_tabPane->focusObjects(); });
}

void KRTabPropertyGroupViewController::setPage(const std::shared_ptr<KRPage> &page)
{
    m_page = page;
    m_observers.clear();
    m_tabPane->setPage(page);
    m_tabPane->setDelegate(this);
    m_propertyPane->setPage(page);
    m_propertyPane->setDelegate(this);
    if (!page)
        return;
    m_observers.push_back(KRNotificationCenter::defaultCenter().addObserver(
        KRPageDidDeleteObjectNotification, page->identity(), [this](const KRNotification &notification) {
            const auto deleted = notification.userInfo.value(QStringLiteral("deletedObject")).value<KRObjectHandle>().object;
            if (deleted)
                selectObject(deleted->owningPage());
        }));
    selectObject(page);
}

void KRTabPropertyGroupViewController::selectObject(const std::shared_ptr<KRObject> &object)
{
    m_tabPane->selectObject(object);
    m_propertyPane->selectObject(object);
}

std::shared_ptr<KRObject> KRTabPropertyGroupViewController::selectedObject() const
{
    return m_tabPane->selectedObject();
}

KRFunctionViewController *KRTabPropertyGroupViewController::editFunction(const std::shared_ptr<KRFunction> &function)
{
    return m_tabPane->editFunction(function);
}

void KRTabPropertyGroupViewController::editHTML(const std::shared_ptr<KRObject> &object, const QString &key)
{
    m_tabPane->editHTML(object, key);
}

void KRTabPropertyGroupViewController::editListViewItems(const std::shared_ptr<KRObject> &listView)
{
    m_tabPane->editListViewItems(listView);
}

void KRTabPropertyGroupViewController::editNavbarItems(const std::shared_ptr<KRObject> &object, const QString &key)
{
    m_tabPane->editNavbarItems(object, key);
}

void KRTabPropertyGroupViewController::tabPaneDidSelectObject(KRTabPaneViewController *, const std::shared_ptr<KRObject> &object)
{
    selectObject(object);
}

void KRTabPropertyGroupViewController::tabPaneDidDoubleClickObject(KRTabPaneViewController *, const std::shared_ptr<KRObject> &object)
{
    m_propertyPane->editDefaultPropertyForObject(object);
}

void KRTabPropertyGroupViewController::propertyPaneDidSelectObject(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &object)
{
    selectObject(object);
}

void KRTabPropertyGroupViewController::propertyPaneEditFunction(KRPropertyPaneViewController *, const std::shared_ptr<KRFunction> &function)
{
    editFunction(function);
}

void KRTabPropertyGroupViewController::propertyPaneEditHTML(KRPropertyPaneViewController *, const std::shared_ptr<KRObject> &object,
                                                            const QString &key)
{
    editHTML(object, key);
}

void KRTabPropertyGroupViewController::propertyPaneEditListViewItems(KRPropertyPaneViewController *,
                                                                     const std::shared_ptr<KRObject> &listView)
{
    editListViewItems(listView);
}

void KRTabPropertyGroupViewController::propertyPaneEditNavbarItems(KRPropertyPaneViewController *,
                                                                   const std::shared_ptr<KRObject> &object, const QString &key)
{
    editNavbarItems(object, key);
}

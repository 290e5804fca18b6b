#include "KRTabPaneViewController.h"

#include "KRTabView.h"

#include <codeeditor/CETextView.h>
#include <model/KRFunction.h>
#include <model/KRPage.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <widgets/tabbar/TBTabBarControl.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>
#include <workspace/palette/KRObjectBrowser.h>
#include <workspace/surface/KRDesignCanvas.h>

#include <QListView>
#include <QLabel>
#include <QVBoxLayout>

KRTabPaneViewController::KRTabPaneViewController()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRTabPaneView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRTabPaneView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRTabPaneViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->setSpacing(0);
            controller->m_tabBar = new TBTabBarControl(view);
            controller->m_tabBar->setFixedHeight(22);
            layout->addWidget(controller->m_tabBar);
            controller->m_tabView = new KRTabView(view);
            layout->addWidget(controller->m_tabView, 1);
            view->resize(700, 600);
            return view;
        });
}

KRTabPaneViewController::~KRTabPaneViewController()
{
    m_deleteToken = {};
    m_observedObjects.clear();
    if (m_tabBar)
        m_tabBar->setDelegate(nullptr);
    // Editors, canvas and browser leave the tab view before it goes with the pane's view.
    m_editors.clear();
    delete m_designCanvas.data();
    m_designView.reset();
    delete m_objectBrowser.data();
}

void KRTabPaneViewController::awakeFromNib()
{
    m_tabBar->setTabView(m_tabView);
    m_tabBar->setDelegate(this);
    m_tabBar->setPartnerView(view());
    m_tabBar->setStyleNamed(QStringLiteral("Unified"));
    m_tabBar->setCanCloseOnlyTab(false);
    m_tabBar->setAllowsResizing(false);
    m_tabBar->setSizeCellsToFit(true);
    m_tabBar->setCellMinWidth(100);
}

QString KRTabPaneViewController::labelFormat(EditorKind kind)
{
    switch (kind) {
    case EditorKind::Function:
        return QStringLiteral("%1");
    case EditorKind::Content:
        return QStringLiteral("Content: %1");
    case EditorKind::ListView:
        return QStringLiteral("List View: %1");
    case EditorKind::Navbar:
        return QStringLiteral("Navbar: %1");
    }
    return QStringLiteral("%1");
}

void KRTabPaneViewController::setPage(const std::shared_ptr<KRPage> &page)
{
    m_page = page;
    m_deleteToken = {};
    if (!page)
        return;
    m_deleteToken = KRNotificationCenter::defaultCenter().addObserver(
        KRPageDidDeleteObjectNotification, page->identity(), [this](const KRNotification &notification) {
            pageDidDeleteObject(notification.userInfo.value(QStringLiteral("deletedObject")).value<KRObjectHandle>().object);
        });

    // The design surface needs a live view of the page; without a renderer the tab holds a
    // plain stand-in.
    QWidget *designView = nullptr;
    if (auto made = KRPageDesignView::create(page)) {
        m_designView = std::move(made.value());
        m_designCanvas = new KRDesignCanvas(m_designView.get());
        KRDesignViewController *surface = m_designCanvas->surface();
        connect(surface, &KRDesignViewController::didSelectObject, this,
                [this](KRObject *object) { designViewDidSelectObject(object); });
        connect(surface, &KRDesignViewController::didDoubleClickObject, this, [this](KRObject *object) {
            if (m_delegate && object)
                m_delegate->tabPaneDidDoubleClickObject(this, shared(object));
        });
        designView = m_designCanvas;
    } else {
        auto *placeholder = new QLabel(QStringLiteral("The design view is not available."));
        placeholder->setAlignment(Qt::AlignCenter);
        placeholder->setObjectName(QStringLiteral("KRDesignPlaceholder"));
        designView = placeholder;
    }
    m_tabView->addTabViewItem(DesignTabIdentifier, QStringLiteral("Design"), designView);

    m_objectBrowser = new KRObjectBrowser;
    m_objectBrowser->setPage(page);
    connect(m_objectBrowser, &KRObjectBrowser::didSelectObject, this, [this](KRObject *object) { objectViewDidSelectObject(object); });
    connect(m_objectBrowser, &KRObjectBrowser::didDoubleClickObject, this,
            [this](KRObject *object) { objectViewDidDoubleClickObject(object); });
    m_tabView->addTabViewItem(ObjectsTabIdentifier, QStringLiteral("Objects"), m_objectBrowser);
}

std::shared_ptr<KRObject> KRTabPaneViewController::shared(KRObject *object) const
{
    return object ? object->shared_from_this() : nullptr;
}

KRDesignViewController *KRTabPaneViewController::designViewController() const
{
    return m_designCanvas ? m_designCanvas->surface() : nullptr;
}

void KRTabPaneViewController::nextTab()
{
    const int count = m_tabView->numberOfItems();
    if (count == 0)
        return;
    const int index = m_tabView->indexOfItem(m_tabView->selectedItem());
    m_tabView->selectItemAtIndex((index + 1) % count);
}

void KRTabPaneViewController::selectDesignView()
{
    TBTabViewItem *item = m_tabView->item(DesignTabIdentifier);
    KR_ASSERT(item, "design tab missing from tabview");
    m_tabView->selectItem(item);
}

bool KRTabPaneViewController::isDesignViewSelected() const
{
    KR_ASSERT(m_tabView->item(DesignTabIdentifier), "design tab missing from tabview");
    return m_tabView->selectedIdentifier() == DesignTabIdentifier;
}

void KRTabPaneViewController::selectObjectView()
{
    TBTabViewItem *item = m_tabView->item(ObjectsTabIdentifier);
    KR_ASSERT(item, "object tab missing from tabview");
    m_tabView->selectItem(item);
    m_objectBrowser->selectIconView();
}

void KRTabPaneViewController::focusObjects()
{
    if (isDesignViewSelected()) {
        if (m_designCanvas)
            m_designCanvas->focusPage();
    } else if (m_objectBrowser && m_tabView->selectedIdentifier() == ObjectsTabIdentifier) {
        (m_objectBrowser->isShowingIcons() ? m_objectBrowser->iconView() : m_objectBrowser->listView())
            ->setFocus(Qt::OtherFocusReason);
    }
}

void KRTabPaneViewController::selectPreviousTab()
{
    if (!m_previousTabIdentifier.isEmpty())
        m_tabView->selectItemWithIdentifier(m_previousTabIdentifier);
}

KRDesignViewController *KRTabPaneViewController::selectedDesignViewController() const
{
    return m_tabView->selectedIdentifier() == DesignTabIdentifier ? designViewController() : nullptr;
}

KRFunctionViewController *KRTabPaneViewController::selectedFunctionViewController() const
{
    const auto editor = m_editors.value(m_tabView->selectedIdentifier());
    return editor && editor->kind == EditorKind::Function ? static_cast<KRFunctionViewController *>(editor->controller.get())
                                                          : nullptr;
}

KRCachingViewController *KRTabPaneViewController::cachedEditor(const QString &objectID) const
{
    const auto editor = m_editors.value(objectID);
    return editor ? editor->controller.get() : nullptr;
}

void KRTabPaneViewController::selectObject(const std::shared_ptr<KRObject> &object)
{
    if (!object || object == m_selectedObject.lock())
        return;
    m_selectedObject = object;
    if (m_objectBrowser)
        m_objectBrowser->selectObject(object);
    if (KRDesignViewController *surface = designViewController())
        surface->selectObject(object);
    if (m_delegate)
        m_delegate->tabPaneDidSelectObject(this, object);
}

KRCachingViewController *KRTabPaneViewController::openEditor(const std::shared_ptr<KRObject> &object, EditorKind kind,
                                                             const std::function<std::unique_ptr<KRCachingViewController>()> &make)
{
    const QString id = object->kr_id();
    if (TBTabViewItem *item = m_tabView->item(id)) {
        m_tabView->selectItem(item);
        if (const auto cached = m_editors.value(id))
            return cached->controller.get();
    }
    auto editor = std::make_shared<Editor>();
    editor->kind = kind;
    editor->object = object;
    editor->controller = make();
    KRCachingViewController *controller = editor->controller.get();
    m_tabView->selectItem(m_tabView->addTabViewItem(id, labelFormat(kind).arg(id), controller->view()));
    observeID(object);
    m_editors.insert(id, editor);
    return controller;
}

KRFunctionViewController *KRTabPaneViewController::editFunction(const std::shared_ptr<KRFunction> &function)
{
    if (!function)
        return nullptr;
    bool made = false;
    auto *editor = static_cast<KRFunctionViewController *>(openEditor(function, EditorKind::Function, [&] {
        made = true;
        auto controller = KRCachingViewController::create<KRFunctionViewController>();
        controller->setDelegate(this);
        return std::unique_ptr<KRCachingViewController>(std::move(controller));
    }));
    // The function comes once the tab is up, so that the editor lays its text out in place.
    if (made)
        editor->setFunction(function);
    if (editor->textView())
        editor->textView()->setFocus();
    purgeViewControllers();
    return editor;
}

KRHTMLViewController *KRTabPaneViewController::editHTML(const std::shared_ptr<KRObject> &object, const QString &key)
{
    if (!object)
        return nullptr;
    auto *editor = static_cast<KRHTMLViewController *>(openEditor(object, EditorKind::Content, [&] {
        auto controller = KRCachingViewController::create<KRHTMLViewController>();
        controller->setDelegate(this);
        controller->setObject(object, key);
        return std::unique_ptr<KRCachingViewController>(std::move(controller));
    }));
    if (editor->textView())
        editor->textView()->setFocus();
    purgeViewControllers();
    return editor;
}

KRListViewItemEditorViewController *KRTabPaneViewController::editListViewItems(const std::shared_ptr<KRObject> &listView)
{
    if (!listView)
        return nullptr;
    auto *editor = static_cast<KRListViewItemEditorViewController *>(openEditor(listView, EditorKind::ListView, [&] {
        auto controller = KRCachingViewController::create<KRListViewItemEditorViewController>();
        controller->setDelegate(&m_itemEditorRelay);
        controller->setListView(listView);
        return std::unique_ptr<KRCachingViewController>(std::move(controller));
    }));
    purgeViewControllers();
    return editor;
}

KRNavbarItemEditorViewController *KRTabPaneViewController::editNavbarItems(const std::shared_ptr<KRObject> &object, const QString &key)
{
    if (!object)
        return nullptr;
    auto *editor = static_cast<KRNavbarItemEditorViewController *>(openEditor(object, EditorKind::Navbar, [&] {
        auto controller = KRCachingViewController::create<KRNavbarItemEditorViewController>();
        controller->setDelegate(&m_itemEditorRelay);
        controller->setPropertyName(key);
        controller->setObject(object);
        return std::unique_ptr<KRCachingViewController>(std::move(controller));
    }));
    purgeViewControllers();
    return editor;
}

void KRTabPaneViewController::purgeViewControllers()
{
    QList<std::shared_ptr<Editor>> dropped;
    for (auto it = m_editors.begin(); it != m_editors.end();) {
        const auto object = it.value()->object.lock();
        if (object && m_tabView->item(object->kr_id())) {
            ++it;
            continue;
        }
        dropped.append(it.value());
        it = m_editors.erase(it);
    }
    for (const auto &editor : std::as_const(dropped)) {
        switch (editor->kind) {
        case EditorKind::Function: {
            // A deleted function gets nothing more written into it.
            auto *functionEditor = static_cast<KRFunctionViewController *>(editor->controller.get());
            const auto object = editor->object.lock();
            const auto page = m_page.lock();
            if (object && page && page->objectForID(object->kr_id()) == object)
                functionEditor->close();
            else
                functionEditor->discard();
            break;
        }
        case EditorKind::Content:
            static_cast<KRHTMLViewController *>(editor->controller.get())->close();
            break;
        case EditorKind::ListView:
        case EditorKind::Navbar:
            static_cast<KRItemEditorViewController *>(editor->controller.get())->close();
            break;
        }
    }
}

void KRTabPaneViewController::observeID(const std::shared_ptr<KRObject> &object)
{
    if (m_observedObjects.count(object.get()))
        return;
    m_observedObjects[object.get()] = object->observable().observe(
        QStringLiteral("kr_id"), [this](const void *, const QString &, const QVariant &oldValue, const QVariant &newValue) {
            objectIDChanged(oldValue.toString(), newValue.toString());
        });
}

void KRTabPaneViewController::objectIDChanged(const QString &oldID, const QString &newID)
{
    if (oldID == newID)
        return;
    const auto editor = m_editors.take(oldID);
    if (TBTabViewItem *item = m_tabView->item(oldID)) {
        item->setIdentifier(newID);
        // Each kind keeps its own label format ("Content: ", "List View: " ...).
        item->setLabel(editor ? labelFormat(editor->kind).arg(newID) : newID);
    }
    if (editor)
        m_editors.insert(newID, editor);
    if (m_previousTabIdentifier == oldID)
        m_previousTabIdentifier = newID;
}

void KRTabPaneViewController::pageDidDeleteObject(const std::shared_ptr<KRObject> &object)
{
    if (!object)
        return;
    if (TBTabViewItem *item = m_tabView->item(object->kr_id()))
        m_tabView->removeItem(item);
    m_observedObjects.erase(object.get());
    // The editor goes with its tab: an editor left behind would still write into the deleted
    // object when the document is saved.
    purgeViewControllers();
}

void KRTabPaneViewController::designViewDidSelectObject(KRObject *object)
{
    if (object)
        selectObject(shared(object));
}

void KRTabPaneViewController::objectViewDidSelectObject(KRObject *object)
{
    if (object)
        selectObject(shared(object));
}

void KRTabPaneViewController::objectViewDidDoubleClickObject(KRObject *object)
{
    if (!object)
        return;
    const auto target = shared(object);
    if (target->visualObject())
        selectDesignView();
    if (auto function = std::dynamic_pointer_cast<KRFunction>(target))
        editFunction(function);
    else if (m_delegate)
        m_delegate->tabPaneDidDoubleClickObject(this, target);
}

void KRTabPaneViewController::tabViewWillSelectItem(TBTabView *, TBTabViewItem *)
{
    const QString leaving = m_tabView->selectedIdentifier();
    if (!leaving.isEmpty())
        m_previousTabIdentifier = leaving;
}

std::optional<bool> KRTabPaneViewController::tabViewDisableTabCloseForItem(TBTabView *, TBTabViewItem *item)
{
    return item && item->identifier().toString().startsWith(QStringLiteral("!!"));
}

void KRTabPaneViewController::tabViewDidCloseItem(TBTabView *, TBTabViewItem *)
{
    purgeViewControllers();
}

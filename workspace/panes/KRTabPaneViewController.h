#pragma once

#include "KRFunctionViewController.h"

#include <ui/KRCachingViewController.h>
#include <inspector/KRItemEditorViewController.h>
#include <platform/foundation/KRObservationToken.h>
#include <widgets/tabbar/TBTabBarControlDelegate.h>
#include <workspace/content/KRHTMLViewController.h>
#include <workspace/palette/KRObjectBrowser.h>
#include <workspace/surface/KRDesignCanvas.h>

#include <QHash>
#include <QPointer>

#include <map>
#include <memory>
#include <vector>

class KRDesignCanvas;
class KRDesignViewController;
class KRFunction;
class KRObject;
class KRObjectBrowser;
class KRPage;
class KRPageDesignView;
class KRTabPaneViewController;
class KRTabView;
class TBTabBarControl;

// The page group, told what happens in the page's tabs.
class KRTabPaneDelegate
{
public:
    virtual ~KRTabPaneDelegate() = default;
    virtual void tabPaneDidSelectObject(KRTabPaneViewController *pane, const std::shared_ptr<KRObject> &object) = 0;
    virtual void tabPaneDidDoubleClickObject(KRTabPaneViewController *pane, const std::shared_ptr<KRObject> &object) = 0;
};

// The editor tabs of one page under a tab bar: the design surface ("Design") and the object
// browser ("Objects"), which cannot be closed, then one tab per edited object: function,
// content, list-view items, navigation-bar items. A tab's identifier, and the key of its
// editor in the cache, is the edited object's id; both follow a change of the id. Deleting an
// object closes its tab and lets go of its editor.
class KRTabPaneViewController : public KRCachingViewController,
                                public TBTabBarControlDelegate,
                                public KRFunctionViewDelegate,
                                public KRHTMLViewDelegate
{
    Q_OBJECT

public:
    static inline const QString DesignTabIdentifier = QStringLiteral("!!Design");
    static inline const QString ObjectsTabIdentifier = QStringLiteral("!!Objects");

    enum class EditorKind { Function, Content, ListView, Navbar };

    KRTabPaneViewController();
    ~KRTabPaneViewController() override;
    QString nibName() const override { return QStringLiteral("KRTabPaneView"); }

    std::shared_ptr<KRPage> page() const { return m_page.lock(); }
    // Builds the design and object tabs.
    void setPage(const std::shared_ptr<KRPage> &page);
    KRTabPaneDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRTabPaneDelegate *delegate) { m_delegate = delegate; }
    std::shared_ptr<KRObject> selectedObject() const { return m_selectedObject.lock(); }

    void nextTab();
    void selectDesignView();
    bool isDesignViewSelected() const;
    void selectObjectView();
    void selectPreviousTab();
    // Gives the keyboard to the shown design surface's page, or to the object browser while it
    // is shown: there the edit commands act on the page's objects.
    void focusObjects();
    // The design surface while the design tab is shown; null otherwise, and always null when
    // the page has no live design view (no renderer).
    KRDesignViewController *selectedDesignViewController() const;
    KRFunctionViewController *selectedFunctionViewController() const;
    void selectObject(const std::shared_ptr<KRObject> &object);

    KRFunctionViewController *editFunction(const std::shared_ptr<KRFunction> &function);
    KRHTMLViewController *editHTML(const std::shared_ptr<KRObject> &object, const QString &key);
    KRListViewItemEditorViewController *editListViewItems(const std::shared_ptr<KRObject> &listView);
    KRNavbarItemEditorViewController *editNavbarItems(const std::shared_ptr<KRObject> &object, const QString &key);
    // Closes and drops every cached editor whose tab is gone.
    void purgeViewControllers();

    // The cached editor under an object id; null when none.
    KRCachingViewController *cachedEditor(const QString &objectID) const;
    int cachedEditorCount() const { return int(m_editors.size()); }
    TBTabBarControl *tabBarControl() const { return m_tabBar; }
    KRTabView *tabView() const { return m_tabView; }
    KRObjectBrowser *objectViewController() const { return m_objectBrowser; }
    // The design canvas; null when the page has no live design view.
    KRDesignCanvas *designCanvas() const { return m_designCanvas; }
    KRDesignViewController *designViewController() const;
    QString previousTabIdentifier() const { return m_previousTabIdentifier; }

    // TBTabBarControlDelegate
    void tabViewWillSelectItem(TBTabView *, TBTabViewItem *item) override;
    std::optional<bool> tabViewDisableTabCloseForItem(TBTabView *, TBTabViewItem *item) override;
    void tabViewDidCloseItem(TBTabView *, TBTabViewItem *) override;

    // The label format of an editor tab, "%1" standing for the object id.
    static QString labelFormat(EditorKind kind);

protected:
    void awakeFromNib() override;

private:
    // The item editors' requests to open a handler.
    class ItemEditorRelay : public KRItemEditorDelegate
    {
    public:
        explicit ItemEditorRelay(KRTabPaneViewController &pane) : m_pane(pane) {}
        void editFunction(const std::shared_ptr<KRFunction> &function) override { m_pane.editFunction(function); }

    private:
        KRTabPaneViewController &m_pane;
    };
    struct Editor {
        EditorKind kind;
        std::unique_ptr<KRCachingViewController> controller;
        std::weak_ptr<KRObject> object;
    };
    // The open editor of the object (its tab selected), or the one made by `make` in a new tab.
    KRCachingViewController *openEditor(const std::shared_ptr<KRObject> &object, EditorKind kind,
                                        const std::function<std::unique_ptr<KRCachingViewController>()> &make);
    void observeID(const std::shared_ptr<KRObject> &object);
    void objectIDChanged(const QString &oldID, const QString &newID);
    void pageDidDeleteObject(const std::shared_ptr<KRObject> &object);
    void designViewDidSelectObject(KRObject *object);
    void objectViewDidSelectObject(KRObject *object);
    void objectViewDidDoubleClickObject(KRObject *object);
    std::shared_ptr<KRObject> shared(KRObject *object) const;

    TBTabBarControl *m_tabBar = nullptr; // part of view()
    KRTabView *m_tabView = nullptr;
    std::unique_ptr<KRPageDesignView> m_designView;
    QPointer<KRDesignCanvas> m_designCanvas;
    QPointer<KRObjectBrowser> m_objectBrowser;
    std::map<const KRObject *, KRObservationToken> m_observedObjects;
    QHash<QString, std::shared_ptr<Editor>> m_editors; // by object id
    QString m_previousTabIdentifier;
    ItemEditorRelay m_itemEditorRelay{*this};
    KRTabPaneDelegate *m_delegate = nullptr;
    std::weak_ptr<KRPage> m_page;
    std::weak_ptr<KRObject> m_selectedObject;
    KRObservationToken m_deleteToken;
};

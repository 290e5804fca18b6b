#pragma once

#include <platform/foundation/KRObservationToken.h>
#include <widgets/scopebar/SBScopeBar.h>

#include <QAbstractListModel>
#include <QWidget>

#include <memory>

class KRObject;
class KRPage;
class QListView;
class QMenu;
class QStackedWidget;

// The page first, then its objects sorted by id; optionally only the visual ones (the page
// among them) or only the non-visual ones (without the page).
class KRObjectListModel : public QAbstractListModel
{
public:
    enum class Filter { All, Nonvisual, Visual };

    using QAbstractListModel::QAbstractListModel;
    void setPage(const std::shared_ptr<KRPage> &page);
    void setFilter(Filter filter);
    Filter filter() const { return m_filter; }
    // Reads the page's objects again.
    void reload();

    std::shared_ptr<KRObject> objectAt(int row) const;
    int rowOf(const KRObject *object) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    std::weak_ptr<KRPage> m_page;
    QList<std::shared_ptr<KRObject>> m_objects;
    Filter m_filter = Filter::All;
};

// The page object browser: the page's objects as a list or as icons (chosen in the scope bar,
// with the filter All / Nonvisual / Visual beside it), the selection kept with whoever shows
// the page, double clicks, context menus from the model's descriptions, and palette drops on
// the icons, which create the class without a position. Only drags that carry a palette
// class are taken.
class KRObjectBrowser : public QWidget, private SBScopeBarDataSource, private SBScopeBarDelegate
{
    Q_OBJECT

public:
    explicit KRObjectBrowser(QWidget *parent = nullptr);
    ~KRObjectBrowser() override;

    void setPage(const std::shared_ptr<KRPage> &page);
    std::shared_ptr<KRPage> page() const { return m_page.lock(); }

    std::shared_ptr<KRObject> selectedObject() const { return m_selected.lock(); }
    // Selects the object in the lists and tells listeners, unless it is already the one.
    void selectObject(const std::shared_ptr<KRObject> &object);
    // Shows the icons (the palette does this when a non-visual class is dragged).
    void selectIconView();
    void setFilter(KRObjectListModel::Filter filter);
    bool isShowingIcons() const;

    KRObjectListModel *model() const { return m_model; }
    QListView *listView() const { return m_list; }
    QListView *iconView() const { return m_icons; }
    SBScopeBar *scopeBar() const { return m_scopeBar; }
    // The menu for the object as the model describes it; null when it has no entries.
    QMenu *contextMenuForObject(const std::shared_ptr<KRObject> &object, QWidget *parent) const;

signals:
    void didSelectObject(KRObject *object);
    void didDoubleClickObject(KRObject *object);
    void didInsertObject(KRObject *object);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    int numberOfObjectsInGroup(SBScopeBar *bar, int group) override;
    QVariant valueForObject(SBScopeBar *bar, int group, int index) override;
    void scopeBarSelectionDidChange(const KRNotification &notification) override;
    void applyScopes();
    void selectionIndexesChanged(QListView *view);
    void syncViews();

    SBScopeBar *m_scopeBar;
    QStackedWidget *m_stack;
    QListView *m_list;
    QListView *m_icons;
    KRObjectListModel *m_model;
    std::weak_ptr<KRPage> m_page;
    std::weak_ptr<KRObject> m_selected;
    KRObservationToken m_objectsToken;
    bool m_syncing = false;
    bool m_viewsBehind = false; // the selection changed while the browser was out of sight
};

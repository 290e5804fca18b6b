#pragma once

#include "KRPropertyEditorItemBooleanViewController.h"
#include "KRPropertyEditorItemColorViewController.h"
#include "KRPropertyEditorItemContentViewController.h"
#include "KRPropertyEditorItemControlViewController.h"
#include "KRPropertyEditorItemEnumComboViewController.h"
#include "KRPropertyEditorItemEnumViewController.h"
#include "KRPropertyEditorItemEventViewController.h"
#include "KRPropertyEditorItemHLineViewController.h"
#include "KRPropertyEditorItemHeaderViewController.h"
#include "KRPropertyEditorItemMLTableViewController.h"
#include "KRPropertyEditorItemMultilineStringViewController.h"
#include "KRPropertyEditorItemPageViewController.h"
#include "KRPropertyEditorItemStringViewController.h"
#include "KRPropertyEditorItemTextShadowViewController.h"
#include "KRPropertyEditorItemViewController.h"

#include <ui/KRCachingViewController.h>
#include <model/KRObjectInfo.h>

#include <QPointer>
#include <QScrollArea>
#include <QSet>

#include <functional>
#include <memory>
#include <vector>

class KRFunction;
class KRObject;
class KRPropertyEditorViewController;
class QVBoxLayout;

// What the inspector asks of its host: the requests that open larger editors.
class KRPropertyEditorDelegate
{
public:
    virtual ~KRPropertyEditorDelegate() = default;
    virtual void propertyEditorViewEditFunction(KRPropertyEditorViewController *editor,
                                                const std::shared_ptr<KRFunction> &function) = 0;
    virtual void propertyEditorViewEditHTML(KRPropertyEditorViewController *editor,
                                            const std::shared_ptr<KRObject> &object, const QString &key) = 0;
    virtual void propertyEditorViewEditListViewItems(KRPropertyEditorViewController *editor,
                                                     const std::shared_ptr<KRObject> &listView) = 0;
    virtual void propertyEditorViewEditNavbarItems(KRPropertyEditorViewController *editor,
                                                   const std::shared_ptr<KRObject> &toolbar, const QString &key) = 0;
};

// The one-column table of rows, stacked top to bottom in a scroll area.
class KRPropertyEditorTableView : public QScrollArea
{
public:
    explicit KRPropertyEditorTableView(KRPropertyEditorViewController *controller, QWidget *parent = nullptr);
    // Lays the visible rows out again.
    void reloadData();
    void noteHeightOfRowChanged(int row);
    // The visible row holding the widget; -1 when none does.
    int rowForView(QWidget *view) const;
    // Tab and back-Tab across rows; true when a control took the focus.
    bool attemptToSelectKeyViewFollowingView(QWidget *view);
    bool attemptToSelectKeyViewPrecedingView(QWidget *view);
    bool attemptToSelectNextKeyViewAtRow(int row);
    bool attemptToSelectLastKeyViewAtRow(int row);

protected:
    bool focusNextPrevChild(bool next) override;
    // A turn of the wheel over a pop-up or a stepper that does not have the keyboard scrolls
    // the rows instead of changing the property.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void guardWheel(QWidget *view);

    KRPropertyEditorViewController *m_controller; // not owned: the inspector owns this table
    QWidget *m_content;                           // the scroll area's widget
    QVBoxLayout *m_layout;
};

// The inspector of one object: builds the object's rows by class and shows the visible ones.
class KRPropertyEditorViewController : public KRCachingViewController
{
public:
    KRPropertyEditorViewController();
    ~KRPropertyEditorViewController() override;
    QString nibName() const override { return QStringLiteral("KRPropertyEditorView"); }

    std::shared_ptr<KRObject> object() const { return m_object.lock(); }
    // Builds the rows when the object differs from the current one.
    void setObject(const std::shared_ptr<KRObject> &object);
    // The height the table shows at once, when known (0: not known). The rows below the first
    // screenful are then made with those of closed sections, so that the inspector shows
    // without waiting for them.
    void setVisibleHeight(int height) { m_visibleHeight = height; }
    KRPropertyEditorDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRPropertyEditorDelegate *delegate) { m_delegate = delegate; }

    KRPropertyEditorTableView *propertyTableView() const { return m_tableView; }
    // Every row, in order: the rows of closed sections, and those below the first screenful,
    // are made when anything asks for them, or once the inspector has been drawn, so that it
    // shows without waiting for them.
    const std::vector<std::unique_ptr<KRPropertyEditorItemViewController>> &propertyEditorItems() const
    {
        makeDeferredRows();
        return m_items;
    }
    // The rows made so far, for the table.
    const std::vector<std::unique_ptr<KRPropertyEditorItemViewController>> &madeRows() const { return m_items; }
    const QList<KRPropertyEditorItemViewController *> &visiblePropertyEditorItems() const { return m_visibleItems; }

    void buildPropertyEditorItems();
    void buildVisiblePropertyEditorItems();
    // After a header toggled: the table shows the new set of visible rows.
    void reloadTable();
    // A row changed its height.
    void rowSizeChanged(QWidget *rowView);
    // Puts the focus on the control of the object's default property.
    void editDefaultProperty();

    void editFunction(const std::shared_ptr<KRFunction> &function);
    void editHTML(const QString &key);
    void editListViewItems(const std::shared_ptr<KRObject> &listView);
    void editNavbarItems(const std::shared_ptr<KRObject> &toolbar, const QString &key);

    // One line per row: "kind property [section] open|closed", for checks and logs.
    QStringList layoutDescription() const;

    // Plug-in properties by group, in catalogue order.
    using PluginProperties = OrderedDictionary<QString, QList<KRPropertyInfo>>;
    PluginProperties buildPluginPropertyDictionary() const;

protected:
    void awakeFromNib() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A row of a closed section, to be made in its place.
    struct DeferredRow
    {
        size_t position; // in the complete list of rows
        std::function<std::unique_ptr<KRPropertyEditorItemViewController>()> make;
    };
    // Makes the deferred rows in their places and gives them to the table.
    void makeDeferredRows() const;
    // Adds the row made by `make` (its header, if any, takes it), or defers it when its header
    // is closed or the rows made so far fill the visible height.
    void addMade(KRPropertyEditorItemHeaderViewController *header,
                 std::function<std::unique_ptr<KRPropertyEditorItemViewController>()> make);
    bool isKindOf(const QString &className) const;
    template <typename Row>
    Row *add(KRPropertyEditorItemHeaderViewController *header = nullptr);
    template <typename Row>
    void addRow(const QString &propertyName, KRPropertyEditorItemHeaderViewController *header = nullptr);
    KRPropertyEditorItemHeaderViewController *addHeader(const QString &title, bool open);
    void addHLine(KRPropertyEditorItemHeaderViewController *header = nullptr);
    void addEvent(const QString &name, KRPropertyEditorItemHeaderViewController *header);
    void addPluginPropertiesForGroup(const QString &group, KRPropertyEditorItemHeaderViewController *header,
                                     PluginProperties &pluginProperties);
    void buildClassBlock(PluginProperties &plugins);
    void buildBackgroundRows(KRPropertyEditorItemHeaderViewController *header);
    void buildFontRows(KRPropertyEditorItemHeaderViewController *header);

    std::weak_ptr<KRObject> m_object;
    // What the object's class holds, for the rows that check it: the keys of its descriptors,
    // and the keys its classes declare without one.
    std::shared_ptr<const QHash<QString, qsizetype>> m_descriptorKeys;
    QSet<QString> m_extraKeys;
    bool holdsProperty(const QString &key) const;
    bool m_hasObject = false;
    KRPropertyEditorDelegate *m_delegate = nullptr; // not owned: the host outlives its inspectors
    KRPropertyEditorTableView *m_tableView = nullptr; // part of view()
    std::vector<std::unique_ptr<KRPropertyEditorItemViewController>> m_items;
    QList<KRPropertyEditorItemViewController *> m_visibleItems;
    std::vector<DeferredRow> m_deferredRows;
    bool m_makingDeferredRows = false;
    int m_visibleHeight = 0;
    double m_madeHeight = 0; // of the visible rows made while building
};

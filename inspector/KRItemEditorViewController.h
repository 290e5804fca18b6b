#pragma once

// Editors of item lists kept as JSON in one property: the items of a list view and the
// navigation-bar items of a toolbar. Each shows a table with one row per item (text, pop-up,
// combo and check-box columns), a blank insert row for typing a new item, reordering by
// drag, deletion with the delete keys, and handler creation from the handler column.
//
// The working copy follows the object: every change of the stored items (undo included)
// replaces it. Nothing is stored while the insert row is still blank.

#include "KRValueTransformers.h"

#include <ui/KRCachingViewController.h>
#include <platform/foundation/KRObservationToken.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QTableWidget>
#include <QVariantMap>

#include <memory>
#include <vector>

class KRFunction;
class KRObject;
class KRPopover;
class QAbstractButton;

class KRItemEditorDelegate
{
public:
    virtual ~KRItemEditorDelegate() = default;
    virtual void editFunction(const std::shared_ptr<KRFunction> &function) = 0;
};

// The table: delete keys remove the selection, divider rows are grey, rows move by drag
// within the table only.
class KRTableView : public QTableWidget
{
public:
    using QTableWidget::QTableWidget;
    std::function<void()> deleteSelection;
    std::function<void(int from, int dropRow)> moveRow;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

class KRItemEditorViewController : public KRCachingViewController
{
public:
    ~KRItemEditorViewController() override;

    std::shared_ptr<KRObject> object() const { return m_object.lock(); }
    KRItemEditorDelegate *delegate() const { return m_delegate; }
    void setDelegate(KRItemEditorDelegate *delegate) { m_delegate = delegate; }
    KRTableView *tableView() const { return m_table; }
    const QList<QVariantMap> &items() const { return m_items; }
    QStringList columnIdentifiers() const { return m_columns; }
    int column(const QString &identifier) const { return int(m_columns.indexOf(identifier)); }
    // The titles the pop-up or combo column offers ("" first for pages).
    QStringList menuTitles(const QString &identifier) const;

    // What the table shows in a cell: an index for pop-up columns, text otherwise.
    QVariant objectValue(int row, const QString &identifier) const;
    // A value chosen or typed in a cell (pop-up columns: the index).
    void setObjectValue(int row, const QString &identifier, const QVariant &value);

    void addRow();
    void deleteRows(QList<int> rows);
    void moveRow(int from, int dropRow);
    bool hasInsertRow() const;
    void possiblyRemoveInsertRow();
    // Opens the handler of the row.
    void buttonAction(int row);
    QString columnHelpHTML(const QString &identifier) const;
    void clickedColumnHeader(int column);
    void close() {}

protected:
    KRItemEditorViewController() = default;
    static void registerInterfaces();
    QWidget *makeView();
    void bindObject(const std::shared_ptr<KRObject> &object, const QString &key);
    virtual QString helpClassName() const = 0;
    virtual bool hasDividers() const = 0;
    virtual QList<QPair<QString, QString>> iconList() const = 0;
    virtual bool iconKeysMapped() const = 0;

    QStringList m_columns;
    QStringList m_checkColumns;
    QString m_key;

private:
    void readItems();
    void saveItems();
    void reloadTable();
    void setupOnClickMenu();
    void setupGotoPageMenu();
    QString createFunction();
    bool cellEnabled(int row, const QString &identifier) const;

    std::weak_ptr<KRObject> m_object;
    KRItemEditorDelegate *m_delegate = nullptr; // not owned: the tab pane outlives its editors
    KRTableView *m_table = nullptr;             // part of view()
    QList<QVariantMap> m_items;
    QList<QPair<QString, QString>> m_themeList;
    QList<QPair<QString, QString>> m_transitionList;
    QStringList m_gotoPageList;
    QStringList m_onClickMenu; // titles; the first two are fixed, then function ids
    bool m_reloading = false;
    bool m_saving = false;
    // Why the stored items were refused as read (nested deeper than JSON may), or empty.
    QString m_refusedReason;
    KRObservationToken m_observation;
    std::vector<KRObservationToken> m_observers;
    KRPopover *m_popover = nullptr; // a child of view(), made on first use
};

class KRListViewItemEditorViewController : public KRItemEditorViewController
{
public:
    KRListViewItemEditorViewController();
    QString nibName() const override { return QStringLiteral("KRListViewItemEditorView"); }
    void setListView(const std::shared_ptr<KRObject> &listView);
    std::shared_ptr<KRObject> listView() const { return object(); }

protected:
    void awakeFromNib() override;
    QString helpClassName() const override { return QStringLiteral("JQMListViewItem"); }
    bool hasDividers() const override { return true; }
    QList<QPair<QString, QString>> iconList() const override;
    bool iconKeysMapped() const override { return true; }
};

class KRNavbarItemEditorViewController : public KRItemEditorViewController
{
public:
    KRNavbarItemEditorViewController();
    QString nibName() const override { return QStringLiteral("KRNavbarItemEditorView"); }
    // The key of the navigation-bar items property ("kr_navbarItems"); set before setObject.
    void setPropertyName(const QString &key) { m_key = key; }
    QString propertyName() const { return m_key; }
    void setObject(const std::shared_ptr<KRObject> &toolbar);

protected:
    void awakeFromNib() override;
    QString helpClassName() const override { return QStringLiteral("JQMNavbarItem"); }
    bool hasDividers() const override { return false; }
    QList<QPair<QString, QString>> iconList() const override;
    bool iconKeysMapped() const override { return false; }
};

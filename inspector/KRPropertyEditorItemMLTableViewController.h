#pragma once

#include "KRPropertyEditorItemViewController.h"

// A list of lines (options, images, include files) with add, remove and reordering.
class KRPropertyEditorItemMLTableViewController : public KRPropertyEditorItemTypedViewController
{
public:
    ~KRPropertyEditorItemMLTableViewController() override;
    QString nibName() const override { return QStringLiteral("KRPropertyEditorItemMLTable"); }
    QString kindName() const override { return QStringLiteral("MLTable"); }
    QWidget *buildView() override;
    QListWidget *tableView() const { return m_table; }
    QStringList lines() const { return m_lines; }
    void addRow();
    void removeRow();
    // Moves the row to the drop position (before the row that was there).
    void moveRow(int from, int dropRow);
    void setLine(int row, const QString &text);
    void updateModel();

protected:
    void setup() override;
    QWidget *editControl() const override;

private:
    void readLines();
    void reloadTable();
    QListWidget *m_table = nullptr;
    QToolButton *m_addButton = nullptr;
    QToolButton *m_removeButton = nullptr;
    QStringList m_lines;
    bool m_reloading = false;
    bool m_open = false;
    QMetaObject::Connection m_focusConnection;
    KRObservationToken m_observation;
};

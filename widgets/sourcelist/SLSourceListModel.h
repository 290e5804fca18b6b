#pragma once

#include "SLSourceListInterfaces.h"

#include <QAbstractItemModel>
#include <QHash>

#include <memory>
#include <vector>

// The item model behind the list: a snapshot of the data source's tree, taken on every
// reload, so that each host item keeps one node (and one QModelIndex) until the next reload.
class SLSourceListModel : public QAbstractItemModel
{
public:
    explicit SLSourceListModel(SLSourceList *list);
    ~SLSourceListModel() override;

    void setDataSource(SLSourceListDataSource *dataSource) { m_dataSource = dataSource; } // not owned
    SLSourceListDataSource *dataSource() const { return m_dataSource; }

    // Reads the whole tree again.
    void reload();

    SLItem itemForIndex(const QModelIndex &index) const;
    QModelIndex indexForItem(SLItem item) const;
    int levelOfIndex(const QModelIndex &index) const; // 0 for a group
    int numberOfGroups() const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool canDropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                         const QModelIndex &parent) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

private:
    struct Node
    {
        SLItem item = nullptr;
        Node *parent = nullptr; // not owned
        int row = 0;
        std::vector<std::unique_ptr<Node>> children;
    };
    void fill(Node &node, int depth);
    Node *nodeOf(const QModelIndex &index) const;

    SLSourceList *m_list; // not owned: the list owns the model
    SLSourceListDataSource *m_dataSource = nullptr;
    Node m_root;
    QHash<SLItem, Node *> m_nodes;
};

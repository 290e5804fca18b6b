#include "SLSourceListModel.h"

#include "SLSourceList.h"

#include <QMimeData>

namespace {

// Deeper trees are cut off: a data source that answers an item as its own child must not
// recurse without end.
constexpr int SLModelMaximumDepth = 64;

} // namespace

SLSourceListModel::SLSourceListModel(SLSourceList *list)
    : QAbstractItemModel(list)
    , m_list(list)
{
}

SLSourceListModel::~SLSourceListModel() = default;

void SLSourceListModel::reload()
{
    beginResetModel();
    m_root.children.clear();
    m_nodes.clear();
    if (m_dataSource)
        fill(m_root, 0);
    endResetModel();
}

void SLSourceListModel::fill(Node &node, int depth)
{
    if (depth >= SLModelMaximumDepth)
        return;
    const int count = std::max(0, m_dataSource->numberOfChildren(m_list, node.item));
    node.children.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        auto child = std::make_unique<Node>();
        child->item = m_dataSource->child(m_list, i, node.item);
        child->parent = &node;
        child->row = i;
        m_nodes.insert(child->item, child.get());
        if (m_dataSource->isItemExpandable(m_list, child->item))
            fill(*child, depth + 1);
        node.children.push_back(std::move(child));
    }
}

SLSourceListModel::Node *SLSourceListModel::nodeOf(const QModelIndex &index) const
{
    return index.isValid() ? static_cast<Node *>(index.internalPointer()) : const_cast<Node *>(&m_root);
}

SLItem SLSourceListModel::itemForIndex(const QModelIndex &index) const
{
    return index.isValid() ? nodeOf(index)->item : nullptr;
}

QModelIndex SLSourceListModel::indexForItem(SLItem item) const
{
    Node *node = m_nodes.value(item);
    return node ? createIndex(node->row, 0, node) : QModelIndex();
}

int SLSourceListModel::levelOfIndex(const QModelIndex &index) const
{
    int level = -1;
    for (const Node *node = nodeOf(index); node && node != &m_root; node = node->parent)
        ++level;
    return level;
}

int SLSourceListModel::numberOfGroups() const
{
    return int(m_root.children.size());
}

QModelIndex SLSourceListModel::index(int row, int column, const QModelIndex &parent) const
{
    const Node *node = nodeOf(parent);
    if (column != 0 || row < 0 || row >= int(node->children.size()))
        return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex SLSourceListModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    Node *parent = nodeOf(index)->parent;
    return parent == &m_root ? QModelIndex() : createIndex(parent->row, 0, parent);
}

int SLSourceListModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(nodeOf(parent)->children.size());
}

int SLSourceListModel::columnCount(const QModelIndex &) const
{
    return 1;
}

QVariant SLSourceListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !m_dataSource || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_dataSource->objectValue(m_list, itemForIndex(index));
}

bool SLSourceListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || !m_dataSource || role != Qt::EditRole)
        return false;
    m_dataSource->setObjectValue(m_list, value, itemForIndex(index));
    emit dataChanged(index, index);
    return true;
}

Qt::ItemFlags SLSourceListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    // Group headings can be neither selected, edited nor dragged.
    if (levelOfIndex(index) == 0)
        return Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    if (m_list->shouldEditIndex(index))
        flags |= Qt::ItemIsEditable;
    return flags;
}

QStringList SLSourceListModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *SLSourceListModel::mimeData(const QModelIndexList &indexes) const
{
    if (!m_dataSource)
        return nullptr;
    QList<SLItem> items;
    for (const QModelIndex &index : indexes) {
        if (index.isValid() && levelOfIndex(index) > 0 && !items.contains(itemForIndex(index)))
            items.append(itemForIndex(index));
    }
    if (items.isEmpty())
        return nullptr;
    auto data = std::make_unique<QMimeData>();
    if (!m_dataSource->writeItems(m_list, items, data.get()).value_or(false))
        return nullptr;
    return data.release();
}

bool SLSourceListModel::canDropMimeData(const QMimeData *data, Qt::DropAction, int row, int,
                                        const QModelIndex &parent) const
{
    if (!m_dataSource)
        return false;
    return m_dataSource->validateDrop(m_list, data, itemForIndex(parent), row).value_or(Qt::IgnoreAction)
        != Qt::IgnoreAction;
}

bool SLSourceListModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                     const QModelIndex &parent)
{
    if (!canDropMimeData(data, action, row, column, parent))
        return false;
    return m_dataSource->acceptDrop(m_list, data, itemForIndex(parent), row).value_or(false);
}

Qt::DropActions SLSourceListModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions SLSourceListModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

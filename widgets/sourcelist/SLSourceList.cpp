#include "SLSourceList.h"

#include "SLSourceListItemDelegate.h"
#include "SLSourceListModel.h"

#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>

const QString SLSourceList::SelectionIsChangingNotification = QStringLiteral("SLSourceListSelectionIsChanging");
const QString SLSourceList::SelectionDidChangeNotification = QStringLiteral("SLSourceListSelectionDidChange");
const QString SLSourceList::ItemWillExpandNotification = QStringLiteral("SLSourceListItemWillExpand");
const QString SLSourceList::ItemDidExpandNotification = QStringLiteral("SLSourceListItemDidExpand");
const QString SLSourceList::ItemWillCollapseNotification = QStringLiteral("SLSourceListItemWillCollapse");
const QString SLSourceList::ItemDidCollapseNotification = QStringLiteral("SLSourceListItemDidCollapse");
const QString SLSourceList::DeleteKeyPressedOnRowsNotification = QStringLiteral("SLSourceListDeleteKeyPressedOnRows");

namespace {

constexpr double SLListGroupInset = 7.0;
constexpr double SLListTextInset = 18.0;
constexpr double SLListIconGap = 4.0;
constexpr double SLListBadgeMargin = 5.0;

// Keeps group headings, and rows the delegate refuses, out of every selection, however it
// is asked for (click, keyboard, code).
class SLSourceListSelectionModel : public QItemSelectionModel
{
public:
    SLSourceListSelectionModel(QAbstractItemModel *model, SLSourceList *list)
        : QItemSelectionModel(model, list)
        , m_list(list)
    {
    }

    using QItemSelectionModel::select;
    void select(const QItemSelection &selection, SelectionFlags command) override
    {
        if (!(command & (Select | Toggle))) {
            if (!(selection.isEmpty() && (command & Clear) && !m_list->allowsEmptySelection()))
                QItemSelectionModel::select(selection, command);
            return;
        }
        QItemSelection allowed;
        for (const QItemSelectionRange &range : selection) {
            for (const QModelIndex &index : range.indexes()) {
                if (m_list->shouldSelectIndex(index))
                    allowed.select(index, index);
            }
        }
        if (allowed.isEmpty())
            return;
        QItemSelectionModel::select(allowed, command);
    }

private:
    SLSourceList *m_list; // not owned: the list owns this model
};

} // namespace

SLSourceList::SLSourceList(QWidget *parent)
    : QTreeView(parent)
    , m_model(new SLSourceListModel(this))
{
    setModel(m_model);
    QItemSelectionModel *previous = selectionModel();
    setSelectionModel(new SLSourceListSelectionModel(m_model, this));
    delete previous;
    setItemDelegate(new SLSourceListItemDelegate(this));
    setHeaderHidden(true);
    setIndentation(12);
    setExpandsOnDoubleClick(false);
    setSelectionMode(ExtendedSelection);
    setSelectionBehavior(SelectRows);
    setEditTriggers(SelectedClicked | EditKeyPressed);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(DragDrop);
    setDropIndicatorShown(true);
    setFrameShape(QFrame::NoFrame);

    QPalette colors = palette();
    colors.setColor(QPalette::Base, QColor(226, 231, 237));
    colors.setColor(QPalette::Active, QPalette::Highlight, QColor(58, 117, 206));
    colors.setColor(QPalette::Inactive, QPalette::Highlight, QColor(150, 163, 182));
    colors.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(colors);

    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { rowsChanged(); });
    connect(this, &QTreeView::expanded, this, &SLSourceList::onExpanded);
    connect(this, &QTreeView::collapsed, this, &SLSourceList::onCollapsed);
    // A choice takes effect as it is made: on the press of either button, not on a release
    // that a drag or a context menu may swallow. While a button is held the change is also
    // told as still going on (a drag over the rows may change it again).
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (QGuiApplication::mouseButtons() != Qt::NoButton) {
            post(SelectionIsChangingNotification);
            emit selectionIsChanging();
        }
        post(SelectionDidChangeNotification);
        emit selectionDidChange();
    });
}

SLSourceList::~SLSourceList()
{
    m_delegateObservations.clear();
}

void SLSourceList::setDelegate(SLSourceListDelegate *delegate)
{
    m_delegateObservations.clear();
    m_delegate = delegate;
    if (!delegate)
        return;
    using Method = void (SLSourceListDelegate::*)(const KRNotification &);
    const std::pair<QString, Method> routes[] = {
        {SelectionIsChangingNotification, &SLSourceListDelegate::sourceListSelectionIsChanging},
        {SelectionDidChangeNotification, &SLSourceListDelegate::sourceListSelectionDidChange},
        {ItemWillExpandNotification, &SLSourceListDelegate::sourceListItemWillExpand},
        {ItemDidExpandNotification, &SLSourceListDelegate::sourceListItemDidExpand},
        {ItemWillCollapseNotification, &SLSourceListDelegate::sourceListItemWillCollapse},
        {ItemDidCollapseNotification, &SLSourceListDelegate::sourceListItemDidCollapse},
        {DeleteKeyPressedOnRowsNotification, &SLSourceListDelegate::sourceListDeleteKeyPressedOnRows},
    };
    for (const auto &[name, method] : routes) {
        m_delegateObservations.push_back(KRNotificationCenter::defaultCenter().addObserver(
            name, this, [delegate, method](const KRNotification &n) { (delegate->*method)(n); }));
    }
}

SLSourceListDataSource *SLSourceList::dataSource() const
{
    return m_model->dataSource();
}

void SLSourceList::setDataSource(SLSourceListDataSource *dataSource)
{
    m_model->setDataSource(dataSource);
    reloadData();
}

void SLSourceList::setItemIconSize(const QSizeF &size)
{
    m_iconSize = size;
    if (m_iconSize.height() > m_rowHeight && m_iconSize.height() > 0) {
        m_iconSize.setWidth(m_iconSize.width() * m_rowHeight / m_iconSize.height());
        m_iconSize.setHeight(m_rowHeight);
    }
    viewport()->update();
}

void SLSourceList::setRowHeight(double height)
{
    m_rowHeight = height;
    scheduleDelayedItemsLayout();
}

void SLSourceList::post(const QString &name, const QVariantMap &userInfo)
{
    KRNotificationCenter::defaultCenter().post(name, this, userInfo);
}

void SLSourceList::reloadData()
{
    QList<SLItem> selected;
    for (int row : selectedRowIndexes())
        selected.append(itemAtRow(row));
    m_model->reload();

    if (m_delegate && dataSource()) {
        for (int g = 0; g < m_model->numberOfGroups(); ++g) {
            const QModelIndex group = m_model->index(g, 0);
            if (isGroupAlwaysExpanded(m_model->itemForIndex(group)))
                expand(group);
        }
    }

    QItemSelection keep;
    for (SLItem item : selected) {
        const QModelIndex index = m_model->indexForItem(item);
        if (index.isValid() && rowForIndex(index) >= 0)
            keep.select(index, index);
    }
    if (!keep.isEmpty())
        selectionModel()->select(keep, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (selectedRowIndexes().isEmpty() && !m_allowsEmptySelection) {
        for (int row = 0; row < numberOfRows(); ++row) {
            if (levelForRow(row) > 0) {
                selectRowIndexes({row}, false);
                break;
            }
        }
    }
}

void SLSourceList::ensureRows() const
{
    if (m_rowsValid)
        return;
    m_rows.clear();
    m_rowOfNode.clear();
    const std::function<void(const QModelIndex &)> walk = [&](const QModelIndex &parent) {
        const int count = m_model->rowCount(parent);
        for (int i = 0; i < count; ++i) {
            const QModelIndex index = m_model->index(i, 0, parent);
            m_rowOfNode.insert(index.internalPointer(), int(m_rows.size()));
            m_rows.push_back(index);
            if (isExpanded(index))
                walk(index);
        }
    };
    walk(QModelIndex());
    m_rowsValid = true;
}

int SLSourceList::numberOfRows() const
{
    ensureRows();
    return int(m_rows.size());
}

int SLSourceList::numberOfGroups() const
{
    return m_model->numberOfGroups();
}

QModelIndex SLSourceList::indexAtRow(int row) const
{
    ensureRows();
    return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)] : QModelIndex();
}

int SLSourceList::rowForIndex(const QModelIndex &index) const
{
    if (!index.isValid())
        return -1;
    ensureRows();
    return m_rowOfNode.value(index.internalPointer(), -1);
}

SLItem SLSourceList::itemForIndex(const QModelIndex &index) const
{
    return m_model->itemForIndex(index);
}

int SLSourceList::rowForItem(SLItem item) const
{
    return rowForIndex(m_model->indexForItem(item));
}

SLItem SLSourceList::itemAtRow(int row) const
{
    return m_model->itemForIndex(indexAtRow(row));
}

int SLSourceList::levelForRow(int row) const
{
    const QModelIndex index = indexAtRow(row);
    return index.isValid() ? m_model->levelOfIndex(index) : -1;
}

bool SLSourceList::isGroupItem(SLItem item) const
{
    const QModelIndex index = m_model->indexForItem(item);
    return index.isValid() && m_model->levelOfIndex(index) == 0;
}

bool SLSourceList::isGroupAlwaysExpanded(SLItem item) const
{
    return m_delegate && isGroupItem(item)
        && m_delegate->isGroupAlwaysExpanded(const_cast<SLSourceList *>(this), item).value_or(false);
}

bool SLSourceList::itemHasBadge(SLItem item) const
{
    return dataSource() && dataSource()->itemHasBadge(const_cast<SLSourceList *>(this), item).value_or(false);
}

bool SLSourceList::itemHasIcon(SLItem item) const
{
    return dataSource() && dataSource()->itemHasIcon(const_cast<SLSourceList *>(this), item).value_or(false);
}

bool SLSourceList::shouldSelectIndex(const QModelIndex &index) const
{
    if (!index.isValid() || m_model->levelOfIndex(index) == 0)
        return false;
    return !m_delegate
        || m_delegate->shouldSelectItem(const_cast<SLSourceList *>(this), m_model->itemForIndex(index)).value_or(true);
}

bool SLSourceList::shouldEditIndex(const QModelIndex &index) const
{
    if (!index.isValid() || m_model->levelOfIndex(index) == 0)
        return false;
    return !m_delegate
        || m_delegate->shouldEditItem(const_cast<SLSourceList *>(this), m_model->itemForIndex(index)).value_or(true);
}

int SLSourceList::selectedRow() const
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && selectionModel()->isSelected(current))
        return rowForIndex(current);
    const QList<int> rows = selectedRowIndexes();
    return rows.isEmpty() ? -1 : rows.last();
}

QList<int> SLSourceList::selectedRowIndexes() const
{
    QList<int> rows;
    for (const QModelIndex &index : selectionModel()->selectedIndexes()) {
        const int row = rowForIndex(index);
        if (row >= 0 && !rows.contains(row))
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void SLSourceList::selectRowIndexes(const QList<int> &rows, bool extend)
{
    if (rows.isEmpty() && !m_allowsEmptySelection)
        return;
    QItemSelection selection;
    QModelIndex last;
    for (int row : rows) {
        const QModelIndex index = indexAtRow(row);
        if (index.isValid() && m_model->levelOfIndex(index) > 0) {
            selection.select(index, index);
            last = index;
        }
    }
    if (selection.isEmpty() && !rows.isEmpty())
        return;
    const auto command = extend ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect;
    if (last.isValid())
        selectionModel()->setCurrentIndex(last, QItemSelectionModel::NoUpdate);
    selectionModel()->select(selection, command | QItemSelectionModel::Rows);
}

QString SLSourceList::badgeStringForItem(SLItem item) const
{
    if (!itemHasBadge(item))
        return {};
    auto *list = const_cast<SLSourceList *>(this);
    if (const std::optional<qint64> value = dataSource()->badgeValue(list, item))
        return QString::number(*value);
    return dataSource()->badgeString(list, item).value_or(QString());
}

QFont SLSourceList::badgeFont()
{
    QFont font;
    font.setPixelSize(11);
    font.setBold(true);
    return font;
}

QSizeF SLSourceList::sizeOfBadgeAtRow(int row) const
{
    const SLItem item = itemAtRow(row);
    if (!indexAtRow(row).isValid() || !itemHasBadge(item))
        return {};
    const double textWidth = QFontMetricsF(badgeFont()).horizontalAdvance(badgeStringForItem(item));
    return QSizeF(std::max(22.0, textWidth + 10.0), 14.0);
}

QColor SLSourceList::delegateColor(const std::optional<QColor> &answer, const QColor &fallback) const
{
    return answer && answer->isValid() ? *answer : fallback;
}

SLSourceList::BadgeColors SLSourceList::badgeColorsForRow(int row) const
{
    const QModelIndex index = indexAtRow(row);
    const SLItem item = m_model->itemForIndex(index);
    auto *list = const_cast<SLSourceList *>(this);
    SLSourceListDataSource *source = dataSource();
    const bool visible = window()->isVisible();
    const bool selected = index.isValid() && selectionModel()->isSelected(index);
    BadgeColors colors;
    if (!selected) {
        if (!visible)
            return {QColor::fromRgbF(0.7059f, 0.7059f, 0.7059f), Qt::white};
        colors.background = delegateColor(source ? source->badgeBackgroundColor(list, item) : std::nullopt,
                                          QColor::fromRgbF(0.5961f, 0.6588f, 0.7922f));
        colors.text = delegateColor(source ? source->badgeTextColor(list, item) : std::nullopt, Qt::white);
        return colors;
    }
    colors.background = delegateColor(source ? source->selectedBadgeBackgroundColor(list, item) : std::nullopt, Qt::white);
    const bool focused = hasFocus();
    const bool edited = state() == EditingState && currentIndex() == index;
    if (!visible)
        colors.text = delegateColor(source ? source->selectedHiddenBadgeTextColor(list, item) : std::nullopt,
                                    QColor::fromRgbF(0.6667f, 0.6667f, 0.6667f));
    else if (focused || edited)
        colors.text = delegateColor(source ? source->selectedBadgeTextColor(list, item) : std::nullopt,
                                    palette().color(QPalette::Active, QPalette::Highlight));
    else
        colors.text = delegateColor(source ? source->selectedUnfocusedBadgeTextColor(list, item) : std::nullopt,
                                    QColor::fromRgbF(0.6f, 0.6627f, 0.7961f));
    return colors;
}

void SLSourceList::drawBadgeForRow(QPainter &painter, int row, const QRectF &rect) const
{
    const BadgeColors colors = badgeColorsForRow(row);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect, 7.0, 7.0);
    painter.fillPath(path, colors.background);
    painter.setFont(badgeFont());
    painter.setPen(colors.text);
    painter.drawText(rect, Qt::AlignCenter, badgeStringForItem(itemAtRow(row)));
    painter.restore();
}

QRectF SLSourceList::frameOfCellAtRow(int row) const
{
    const QModelIndex index = indexAtRow(row);
    if (!index.isValid())
        return {};
    const QRect cell = visualRect(index);
    const QRectF rowRect(0, cell.y(), viewport()->width(), cell.height());
    const int level = m_model->levelOfIndex(index);
    const SLItem item = m_model->itemForIndex(index);
    const QFont font = level == 0 ? SLSourceListItemDelegate::headingFont() : SLSourceListItemDelegate::rowFont();
    const double h = QFontMetricsF(font).height();
    const double y = rowRect.y() + rowRect.height() / 2 - h / 2;
    if (level == 0) {
        const double x = isGroupAlwaysExpanded(item) ? SLListGroupInset : cell.x();
        return QRectF(x, y, rowRect.width() - x, h);
    }
    double x = indentation() * level + SLListTextInset;
    if (itemHasIcon(item))
        x += m_iconSize.width() + SLListIconGap;
    const double badgeWidth = itemHasBadge(item) ? sizeOfBadgeAtRow(row).width() : 0;
    return QRectF(x, y, std::max(0.0, rowRect.width() - (badgeWidth + SLListBadgeMargin) - x), h);
}

QRectF SLSourceList::iconRectAtRow(int row) const
{
    const QRectF cell = frameOfCellAtRow(row);
    if (cell.isNull() || levelForRow(row) == 0 || !itemHasIcon(itemAtRow(row)))
        return {};
    return QRectF(cell.x() - m_iconSize.width() - 2.0, cell.y() + cell.height() / 2 - m_iconSize.height() / 2,
                  m_iconSize.width(), m_iconSize.height());
}

QRectF SLSourceList::badgeRectAtRow(int row) const
{
    const QModelIndex index = indexAtRow(row);
    const QSizeF size = sizeOfBadgeAtRow(row);
    if (size.isEmpty())
        return {};
    const QRect cell = visualRect(index);
    return QRectF(viewport()->width() - size.width() - SLListBadgeMargin,
                  cell.y() + cell.height() / 2.0 - size.height() / 2, size.width(), size.height());
}

QColor SLSourceList::selectionColor() const
{
    return palette().color(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight);
}

void SLSourceList::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // The selection spans the whole row, indentation included.
    if (selectionModel()->isSelected(index))
        painter->fillRect(QRect(0, option.rect.y(), viewport()->width(), option.rect.height()), selectionColor());
    QTreeView::drawRow(painter, option, index);
    const int row = rowForIndex(index);
    if (row < 0)
        return;
    const QRectF iconRect = iconRectAtRow(row);
    if (!iconRect.isNull() && dataSource()) {
        const QImage image = dataSource()->icon(const_cast<SLSourceList *>(this), itemForIndex(index)).value_or(QImage());
        if (!image.isNull()) {
            QRectF target = iconRect;
            // A smaller picture keeps its own size, centred.
            if (image.width() < iconRect.width() || image.height() < iconRect.height())
                target = QRectF(iconRect.center() - QPointF(image.width() / 2.0, image.height() / 2.0), image.size());
            painter->save();
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(target, image);
            painter->restore();
        }
    }
    const QRectF badge = badgeRectAtRow(row);
    if (!badge.isNull())
        drawBadgeForRow(*painter, row, badge);
}

void SLSourceList::drawBranches(QPainter *painter, const QRect &rect, const QModelIndex &index) const
{
    // Only items that can open and close get a disclosure triangle; the rest of the
    // indentation shows the row's own background.
    if (isGroupAlwaysExpanded(itemForIndex(index)) || !m_model->hasChildren(index))
        return;
    if (selectionModel()->isSelected(index))
        painter->fillRect(rect, selectionColor());
    QTreeView::drawBranches(painter, rect, index);
}

void SLSourceList::onExpanded(const QModelIndex &index)
{
    rowsChanged();
    if (m_adjustingExpansion)
        return;
    const SLItem item = itemForIndex(index);
    if (m_delegate && !m_delegate->shouldExpandItem(this, item).value_or(true)) {
        m_adjustingExpansion = true;
        collapse(index);
        m_adjustingExpansion = false;
        return;
    }
    const QVariantMap info{{QStringLiteral("item"), QVariant::fromValue(quintptr(item))}};
    post(ItemWillExpandNotification, info);
    post(ItemDidExpandNotification, info);
    emit itemDidExpand(item);
}

void SLSourceList::onCollapsed(const QModelIndex &index)
{
    rowsChanged();
    if (m_adjustingExpansion)
        return;
    const SLItem item = itemForIndex(index);
    // An always-expanded group, or one the delegate keeps open, opens again at once.
    if (isGroupAlwaysExpanded(item) || (m_delegate && !m_delegate->shouldCollapseItem(this, item).value_or(true))) {
        m_adjustingExpansion = true;
        expand(index);
        m_adjustingExpansion = false;
        return;
    }
    const QVariantMap info{{QStringLiteral("item"), QVariant::fromValue(quintptr(item))}};
    post(ItemWillCollapseNotification, info);
    post(ItemDidCollapseNotification, info);
    emit itemDidCollapse(item);
}

void SLSourceList::keyPressEvent(QKeyEvent *event)
{
    const QList<int> rows = selectedRowIndexes();
    if (!rows.isEmpty() && state() != EditingState) {
        const int key = event->key();
        if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
            QVariantList list;
            for (int row : rows)
                list.append(row);
            post(DeleteKeyPressedOnRowsNotification, {{QStringLiteral("rows"), list}});
            emit deleteKeyPressedOnRows(rows);
            event->accept();
            return;
        }
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && rows.size() == 1
            && !(event->modifiers() & ~Qt::KeypadModifier)) {
            emit returnKeyPressedOnRow(rows.first());
            event->accept();
            return;
        }
        if ((key == Qt::Key_Up || key == Qt::Key_Down) && rows.size() == 1
            && !(event->modifiers() & Qt::ShiftModifier)) {
            const int step = key == Qt::Key_Up ? -1 : 1;
            for (int row = rows.first() + step; row >= 0 && row < numberOfRows(); row += step) {
                if (levelForRow(row) > 0) {
                    selectRowIndexes({row}, false);
                    scrollTo(indexAtRow(row));
                    break;
                }
            }
            event->accept();
            return;
        }
    }
    QTreeView::keyPressEvent(event);
}

void SLSourceList::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_delegate) {
        const SLItem item = itemForIndex(indexAt(event->pos()));
        if (QMenu *menu = m_delegate->menuForEvent(this, event, item)) {
            menu->popup(event->globalPos());
            event->accept();
            return;
        }
    }
    QTreeView::contextMenuEvent(event);
}

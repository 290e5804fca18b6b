#include "KRItemEditorViewController.h"
#include "KRPropertyEditorItemViewController.h"

#include <core/KRJSONSerialization.h>
#include <ui/KRUIColors.h>
#include <model/KRFunction.h>
#include <model/KRObject.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/appkit/KRPopover.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

const QStringList &krItemEditorPopupColumns()
{
    static const QStringList columns{QStringLiteral("theme"), QStringLiteral("gotoPage"), QStringLiteral("onClick"),
                                     QStringLiteral("gotoPageTransition"), QStringLiteral("icon")};
    return columns;
}

QList<QPair<QString, QString>> krItemEditorOptions(const QString &set)
{
    QList<QPair<QString, QString>> list;
    const OrderedDictionary<QString, QString> options = KRObjectInfo::sharedInstance().enumOptions(set);
    for (const QString &key : options.allKeys())
        list.append({key, options.objectForKey(key)});
    return list;
}

// The editor of a pop-up cell. Every choice it reports is one the user made in its list: the
// keys that would step the closed box to another entry (the arrows, Page Up and Down, Home and
// End, a typed letter) open the list rather than step through the entries (stepping would pass
// over "Create New Event Handler..." and make a handler on the way; a letter then finds its
// entry in the open list), and the wheel does nothing.
class KRItemEditorPopUp : public QComboBox
{
public:
    using QComboBox::QComboBox;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const int key = event->key();
        const bool chosen = !isEditable(); // an editable box's keys edit its text
        const bool steps = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp || key == Qt::Key_PageDown
                           || (chosen && (key == Qt::Key_Home || key == Qt::Key_End));
        const bool finds = chosen && key != Qt::Key_Space && !event->text().isEmpty() && event->text().at(0).isPrint()
                           && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (steps || finds) {
            showPopup();
            if (finds)
                QCoreApplication::sendEvent(view(), event);
            return;
        }
        QComboBox::keyPressEvent(event);
    }
    void wheelEvent(QWheelEvent *event) override { event->ignore(); }
};

// Pop-up and combo cells: the editor receives the choice; the table is never written directly.
class KRItemEditorCellDelegate : public QStyledItemDelegate
{
public:
    KRItemEditorCellDelegate(KRItemEditorViewController *editor, QObject *parent)
        : QStyledItemDelegate(parent), m_editor(editor)
    {
    }

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const QString id = m_editor->columnIdentifiers().value(index.column());
        if (!krItemEditorPopupColumns().contains(id))
            return QStyledItemDelegate::createEditor(parent, option, index);
        auto *combo = new KRItemEditorPopUp(parent);
        combo->setEditable(id == QLatin1String("icon"));
        const QStringList titles = m_editor->menuTitles(id);
        for (int i = 0; i < titles.size(); ++i) {
            if (id == QLatin1String("onClick") && i == 2)
                combo->insertSeparator(combo->count());
            combo->addItem(titles[i]);
        }
        // A choice takes effect the moment it is made, not when the cell later loses the focus
        // ("Create New Event Handler..." opens the new handler at once). The view ignores a
        // second commit of an editor it has closed, so the focus leaving afterwards changes
        // nothing more.
        auto *self = const_cast<KRItemEditorCellDelegate *>(this);
        QObject::connect(combo, &QComboBox::activated, self, [self, combo] {
            emit self->commitData(combo);
            emit self->closeEditor(combo, QAbstractItemDelegate::NoHint);
        });
        return combo;
    }
    void setEditorData(QWidget *widget, const QModelIndex &index) const override
    {
        auto *combo = qobject_cast<QComboBox *>(widget);
        if (!combo)
            return QStyledItemDelegate::setEditorData(widget, index);
        const QString id = m_editor->columnIdentifiers().value(index.column());
        const QVariant value = m_editor->objectValue(index.row(), id);
        if (id == QLatin1String("icon"))
            combo->setEditText(value.toString());
        else
            combo->setCurrentIndex(id == QLatin1String("onClick") && value.toInt() >= 2 ? value.toInt() + 1
                                                                                         : value.toInt());
    }
    void setModelData(QWidget *widget, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        auto *combo = qobject_cast<QComboBox *>(widget);
        if (!combo)
            return QStyledItemDelegate::setModelData(widget, model, index);
        const QString id = m_editor->columnIdentifiers().value(index.column());
        if (id == QLatin1String("icon")) {
            m_editor->setObjectValue(index.row(), id, combo->currentText());
            return;
        }
        int chosen = combo->currentIndex();
        if (id == QLatin1String("onClick") && chosen > 2)
            --chosen; // the separator
        m_editor->setObjectValue(index.row(), id, chosen);
    }

private:
    KRItemEditorViewController *m_editor;
};

} // namespace

// --- Table

void KRTableView::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) && state() != EditingState &&
        deleteSelection) {
        deleteSelection();
        return;
    }
    QTableWidget::keyPressEvent(event);
}

void KRTableView::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->source() != this)
        return event->ignore();
    QTableWidget::dragEnterEvent(event);
}

void KRTableView::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->source() != this)
        return event->ignore();
    QTableWidget::dragMoveEvent(event);
}

void KRTableView::dropEvent(QDropEvent *event)
{
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (event->source() != this || selected.isEmpty())
        return event->ignore();
    const QPoint point = event->position().toPoint();
    int dropRow = rowAt(point.y());
    if (dropRow < 0)
        dropRow = rowCount();
    else if (point.y() > rowViewportPosition(dropRow) + rowHeight(dropRow) / 2)
        ++dropRow;
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (moveRow)
        moveRow(selected.first().row(), dropRow);
}

// --- Editor

KRItemEditorViewController::~KRItemEditorViewController() = default;

QWidget *KRItemEditorViewController::makeView()
{
    auto *view = new QWidget;
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 8, 8, 8);
    m_table = new KRTableView(view);
    m_table->setColumnCount(int(m_columns.size()));
    m_table->setHorizontalHeaderLabels(m_columns);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setDragEnabled(true);
    m_table->setAcceptDrops(true);
    m_table->setDragDropMode(QAbstractItemView::InternalMove);
    m_table->setItemDelegate(new KRItemEditorCellDelegate(this, m_table));
    m_table->horizontalHeader()->setSectionsClickable(true);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setDefaultSectionSize(86);
    m_table->verticalHeader()->setDefaultSectionSize(22);
    m_table->setWordWrap(false);
    for (int c = 0; c < m_columns.size(); ++c)
        if (m_columns[c] == QLatin1String("eventAction") || m_checkColumns.contains(m_columns[c]))
            m_table->setColumnWidth(c, m_columns[c] == QLatin1String("eventAction") ? 76 : 56);
    layout->addWidget(m_table);
    auto *buttons = new QHBoxLayout;
    auto *add = new QToolButton(view);
    add->setText(QStringLiteral("+"));
    auto *remove = new QToolButton(view);
    remove->setText(QStringLiteral("−"));
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    QObject::connect(add, &QToolButton::clicked, m_table, [this] { addRow(); });
    const auto deleteSelected = [this] {
        QList<int> rows;
        for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
            rows.append(index.row());
        deleteRows(rows);
    };
    QObject::connect(remove, &QToolButton::clicked, m_table, deleteSelected);
    m_table->deleteSelection = deleteSelected;
    m_table->moveRow = [this](int from, int to) { moveRow(from, to); };
    QObject::connect(m_table, &QTableWidget::itemChanged, m_table, [this](QTableWidgetItem *item) {
        if (m_reloading)
            return;
        const QString id = m_columns.value(item->column());
        if (m_checkColumns.contains(id))
            setObjectValue(item->row(), id, item->checkState() == Qt::Checked ? 1 : 0);
        else if (!krItemEditorPopupColumns().contains(id))
            setObjectValue(item->row(), id, item->text());
    });
    QObject::connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, m_table,
                     [this] { possiblyRemoveInsertRow(); });
    QObject::connect(m_table->horizontalHeader(), &QHeaderView::sectionClicked, m_table,
                     [this](int column) { clickedColumnHeader(column); });
    QObject::connect(m_table, &QTableWidget::cellClicked, m_table, [this](int row, int column) {
        if (m_columns.value(column) == QLatin1String("eventAction"))
            buttonAction(row);
    });
    view->resize(760, 300);
    return view;
}

void KRItemEditorViewController::bindObject(const std::shared_ptr<KRObject> &object, const QString &key)
{
    m_object = object;
    m_key = key;
    m_themeList = krItemEditorOptions(QStringLiteral("themeOptions"));
    m_transitionList = krItemEditorOptions(QStringLiteral("pageTransitionOptions"));
    readItems();
    if (!m_refusedReason.isEmpty()) {
        // Not shown as no items without a word: the user learns why before a change replaces them.
        KRAlert alert;
        alert.style = KRAlert::Style::Warning;
        alert.messageText = QStringLiteral("The %1 could not be read.").arg(m_key.startsWith(QLatin1String("kr_")) ? m_key.mid(3) : m_key);
        alert.informativeText = m_refusedReason + QStringLiteral(" The editor shows none; a change here replaces them.");
        KRAlertService::current().runModal(alert);
    }
    setupOnClickMenu();
    setupGotoPageMenu();
    reloadTable();
    if (!object)
        return;
    m_observation = object->observable().observe(key, [this](const void *, const QString &, const QVariant &,
                                                             const QVariant &) {
        if (m_saving)
            return;
        readItems();
        reloadTable();
    });
    const auto project = std::dynamic_pointer_cast<KRProject>(object->project());
    if (!project)
        return;
    auto &centre = KRNotificationCenter::defaultCenter();
    for (const QString &name : {KRProjectDidCreatePageNotification, KRProjectDidDeletePageNotification,
                                KRProjectDidRenamePageNotification})
        // A renamed page's links are already moved by the model; the item list re-reads them.
        m_observers.push_back(centre.addObserver(name, project->identity(), [this](const KRNotification &) {
            setupGotoPageMenu();
            reloadTable();
        }));
    if (const auto page = object->page())
        m_observers.push_back(page->observable().observe(
            QStringLiteral("allObjects"),
            [this](const void *, const QString &, const QVariant &, const QVariant &) {
                // A function renamed, deleted or made again (an undo puts the items' handler
                // names back before the function they name): the rows name it again.
                setupOnClickMenu();
                if (!m_reloading)
                    reloadTable();
            }));
}

void KRItemEditorViewController::readItems()
{
    m_items.clear();
    m_refusedReason.clear();
    const auto o = object();
    if (!o)
        return;
    // Text that is not a JSON array gives an empty list; the next save replaces it. Text the
    // reader refuses for its depth is said to be so when the editor opens.
    const KRResult<QJsonDocument> document = KRJSONSerialization::readDocument(o->value(m_key).toUtf8());
    if (!document && document.error().userInfo().value(QStringLiteral("refused")).toBool())
        m_refusedReason = document.error().message();
    if (!document || !document.value().isArray())
        return;
    for (const QJsonValue &value : document.value().array())
        m_items.append(value.toObject().toVariantMap());
}

void KRItemEditorViewController::saveItems()
{
    const auto o = object();
    if (!o || hasInsertRow())
        return;
    QJsonArray array;
    for (const QVariantMap &item : std::as_const(m_items))
        array.append(QJsonObject::fromVariantMap(item));
    const QString text = KRJSONSerialization::storableText(QJsonDocument(array));
    if (o->value(m_key) == text)
        return;
    const QString name = m_key.startsWith(QLatin1String("kr_")) ? m_key.mid(3) : m_key;
    // Items are stored only as deep as they are read back (the editor writes what it read, so
    // this holds unless what it read changes): the value stays as it was.
    const QByteArray utf8 = text.toUtf8();
    if (const KRResult<void> within = KRJSONSerialization::checkDepth(std::string_view(utf8.constData(), std::size_t(utf8.size())));
        !within) {
        KRAlert alert;
        alert.messageText = QStringLiteral("The value of %1 is refused: %2.")
                                .arg(name, within.error().userInfo().value(QStringLiteral("reason")).toString());
        KRAlertService::current().runModal(alert);
        return;
    }
    m_saving = true;
    o->setValueNamingUndo(m_key, text, krPropertyChangeActionName(name));
    m_saving = false;
}

void KRItemEditorViewController::setupOnClickMenu()
{
    m_onClickMenu = {QObject::tr("No Event Handler"), QObject::tr("Create New Event Handler...")};
    const auto o = object();
    const auto page = o ? std::dynamic_pointer_cast<KRPage>(o->page()) : nullptr;
    if (!page)
        return;
    for (const auto &object : page->allObjects())
        if (const auto function = std::dynamic_pointer_cast<KRFunction>(object))
            if (function->value(QStringLiteral("kr_serverFunction")) != QLatin1String("Yes"))
                m_onClickMenu.append(function->kr_id());
}

void KRItemEditorViewController::setupGotoPageMenu()
{
    m_gotoPageList = {QString(QLatin1String(""))};
    const auto o = object();
    const auto project = o ? std::dynamic_pointer_cast<KRProject>(o->project()) : nullptr;
    if (project)
        for (const auto &page : project->sortedPages())
            m_gotoPageList.append(page->kr_id());
}

QStringList KRItemEditorViewController::menuTitles(const QString &identifier) const
{
    QStringList titles;
    if (identifier == QLatin1String("theme"))
        for (const auto &[key, value] : m_themeList)
            titles.append(value);
    else if (identifier == QLatin1String("gotoPageTransition"))
        for (const auto &[key, value] : m_transitionList)
            titles.append(value);
    else if (identifier == QLatin1String("icon"))
        for (const auto &[key, value] : iconList())
            titles.append(value);
    else if (identifier == QLatin1String("gotoPage"))
        titles = m_gotoPageList;
    else if (identifier == QLatin1String("onClick"))
        titles = m_onClickMenu;
    return titles;
}

QVariant KRItemEditorViewController::objectValue(int row, const QString &identifier) const
{
    if (row < 0 || row >= m_items.size())
        return QVariant();
    const QVariantMap &item = m_items[row];
    const QString value = item.value(identifier).toString();
    const auto indexIn = [&](const QList<QPair<QString, QString>> &list) {
        for (int i = 0; i < list.size(); ++i)
            if (list[i].first == value)
                return i;
        return 0;
    };
    if (identifier == QLatin1String("theme"))
        return indexIn(m_themeList);
    if (identifier == QLatin1String("gotoPageTransition"))
        return indexIn(m_transitionList);
    if (identifier == QLatin1String("gotoPage"))
        return qMax(0, int(m_gotoPageList.indexOf(value)));
    if (identifier == QLatin1String("onClick"))
        return value.isEmpty() ? 0 : qMax(0, int(m_onClickMenu.indexOf(value, 2)));
    if (identifier == QLatin1String("icon") && iconKeysMapped()) {
        for (const auto &[key, title] : iconList())
            if (key == value)
                return title;
        return value;
    }
    return item.value(identifier);
}

void KRItemEditorViewController::setObjectValue(int row, const QString &identifier, const QVariant &value)
{
    if (row < 0 || row >= m_items.size())
        return;
    QVariant stored = value;
    const int index = value.toInt();
    if (identifier == QLatin1String("theme")) {
        stored = m_themeList.value(index).first;
    } else if (identifier == QLatin1String("gotoPageTransition")) {
        stored = m_transitionList.value(index).first;
    } else if (identifier == QLatin1String("gotoPage")) {
        stored = m_gotoPageList.value(index);
    } else if (identifier == QLatin1String("onClick")) {
        stored = index >= 2 ? m_onClickMenu.value(index) : index == 1 ? createFunction() : QString(QLatin1String(""));
    } else if (identifier == QLatin1String("icon") && iconKeysMapped()) {
        // A typed name that is no option is kept as a custom icon.
        for (const auto &[key, title] : iconList())
            if (title == value.toString())
                stored = key;
    }
    if (m_items[row].value(identifier) == stored)
        return;
    m_items[row].insert(identifier, stored);
    saveItems();
    reloadTable();
}

QString KRItemEditorViewController::createFunction()
{
    const auto o = object();
    const auto page = o ? o->page() : nullptr;
    if (!page)
        return QString(QLatin1String(""));
    const auto function = std::dynamic_pointer_cast<KRFunction>(
        page->createNewObject(QStringLiteral("KRFunction"), QStringLiteral("%1_onClick").arg(o->kr_id())));
    if (!function)
        return QString(QLatin1String(""));
    function->setValue(QStringLiteral("kr_arguments"), QStringLiteral("event"));
    setupOnClickMenu();
    if (m_delegate)
        m_delegate->editFunction(function);
    return function->kr_id();
}

void KRItemEditorViewController::buttonAction(int row)
{
    const auto o = object();
    const auto page = o ? o->page() : nullptr;
    const QString id = row >= 0 && row < m_items.size() ? m_items[row].value(QStringLiteral("onClick")).toString() : QString();
    if (!page || id.isEmpty())
        return;
    // A handler id that names no function of the page opens nothing.
    if (const auto function = std::dynamic_pointer_cast<KRFunction>(page->objectForID(id)); function && m_delegate)
        m_delegate->editFunction(function);
}

bool KRItemEditorViewController::hasInsertRow() const
{
    if (m_items.isEmpty())
        return false;
    for (const QVariant &value : m_items.last()) {
        if (value.typeId() == QMetaType::QString && !value.toString().isEmpty())
            return false;
        if (value.typeId() != QMetaType::QString && value.toDouble() > 0)
            return false;
    }
    return true;
}

void KRItemEditorViewController::possiblyRemoveInsertRow()
{
    if (m_reloading || !hasInsertRow())
        return;
    const int last = int(m_items.size()) - 1;
    if (m_table->selectionModel()->isRowSelected(last, QModelIndex()))
        return;
    m_items.removeLast();
    reloadTable();
}

void KRItemEditorViewController::addRow()
{
    if (!hasInsertRow()) {
        m_items.append(QVariantMap());
        reloadTable();
    }
    const int last = int(m_items.size()) - 1;
    m_reloading = true;
    m_table->selectRow(last);
    m_reloading = false;
    m_table->editItem(m_table->item(last, column(QStringLiteral("label"))));
}

void KRItemEditorViewController::deleteRows(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    int removed = 0;
    for (int row : std::as_const(rows))
        if (row - removed >= 0 && row - removed < m_items.size())
            m_items.removeAt(row - removed++);
    reloadTable();
    saveItems();
}

void KRItemEditorViewController::moveRow(int from, int dropRow)
{
    if (from < 0 || from >= m_items.size() || dropRow < 0 || dropRow > m_items.size())
        return;
    const QVariantMap item = m_items.takeAt(from);
    m_items.insert(dropRow > from ? dropRow - 1 : dropRow, item);
    saveItems();
    reloadTable();
}

bool KRItemEditorViewController::cellEnabled(int row, const QString &identifier) const
{
    const bool divider = hasDividers() && m_items[row].value(QStringLiteral("divider")).toInt() != 0;
    if (identifier == QLatin1String("eventAction"))
        return !divider && !m_items[row].value(QStringLiteral("onClick")).toString().isEmpty();
    if (!divider)
        return true;
    static const QStringList dividerColumns{QStringLiteral("divider"), QStringLiteral("label"), QStringLiteral("theme"),
                                            QStringLiteral("icon"), QStringLiteral("gotoPage")};
    return dividerColumns.contains(identifier);
}

void KRItemEditorViewController::reloadTable()
{
    m_reloading = true;
    m_table->setRowCount(int(m_items.size()));
    for (int row = 0; row < m_items.size(); ++row) {
        const bool divider = hasDividers() && m_items[row].value(QStringLiteral("divider")).toInt() != 0;
        for (int c = 0; c < m_columns.size(); ++c) {
            const QString id = m_columns[c];
            QTableWidgetItem *cell = m_table->item(row, c);
            if (!cell) {
                cell = new QTableWidgetItem;
                m_table->setItem(row, c, cell);
            }
            Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
            const bool enabled = cellEnabled(row, id);
            if (enabled)
                flags |= Qt::ItemIsEnabled;
            if (m_checkColumns.contains(id)) {
                flags |= Qt::ItemIsUserCheckable;
                cell->setCheckState(objectValue(row, id).toInt() != 0 ? Qt::Checked : Qt::Unchecked);
            } else if (id == QLatin1String("eventAction")) {
                cell->setText(enabled ? QStringLiteral("→") : QString());
                cell->setTextAlignment(Qt::AlignCenter);
            } else {
                if (enabled)
                    flags |= Qt::ItemIsEditable;
                const QVariant value = objectValue(row, id);
                cell->setText(krItemEditorPopupColumns().contains(id) && id != QLatin1String("icon")
                                  ? menuTitles(id).value(value.toInt())
                                  : value.toString());
            }
            cell->setFlags(flags);
            // Dividers read as headings: grey rows.
            cell->setBackground(divider ? QBrush(KRUIColors::grayBackgroundColor()) : QBrush());
        }
    }
    m_reloading = false;
}

QString KRItemEditorViewController::columnHelpHTML(const QString &identifier) const
{
    return KRObjectInfo::sharedInstance().propertyHelpHTML(identifier, helpClassName());
}

void KRItemEditorViewController::clickedColumnHeader(int column)
{
    if (column < 0 || column >= m_columns.size())
        return;
    if (!m_popover) {
        m_popover = new KRPopover(view());
        m_popover->setBehavior(KRPopover::Behavior::Transient);
        m_popover->setContentWidget(new QTextBrowser);
        m_popover->setContentSize(QSize(320, 240));
    }
    static_cast<QTextBrowser *>(m_popover->contentWidget())->setHtml(columnHelpHTML(m_columns[column]));
    QHeaderView *header = m_table->horizontalHeader();
    const QRect rect(header->sectionViewportPosition(column), 0, header->sectionSize(column), header->height());
    m_popover->showRelativeToRect(rect, header, KRPopover::BottomEdge);
}

void KRItemEditorViewController::registerInterfaces()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    for (const char *name : {"KRListViewItemEditorView", "KRNavbarItemEditorView"})
        KRInterfaceRegistry::registerInterface(QLatin1String(name), [](QObject *owner) -> QWidget * {
            auto *editor = dynamic_cast<KRItemEditorViewController *>(owner);
            return editor ? editor->makeView() : nullptr;
        });
}

// --- List view items

KRListViewItemEditorViewController::KRListViewItemEditorViewController()
{
    registerInterfaces();
    m_columns = {QStringLiteral("label"),          QStringLiteral("badge"),    QStringLiteral("theme"),
                 QStringLiteral("icon"),           QStringLiteral("thumbnailImage"), QStringLiteral("gotoPage"),
                 QStringLiteral("onClick"),        QStringLiteral("eventAction"),    QStringLiteral("divider")};
    m_checkColumns = {QStringLiteral("divider")};
}

void KRListViewItemEditorViewController::awakeFromNib()
{
}

QList<QPair<QString, QString>> KRListViewItemEditorViewController::iconList() const
{
    return krItemEditorOptions(QStringLiteral("listIconOptions"));
}

void KRListViewItemEditorViewController::setListView(const std::shared_ptr<KRObject> &listView)
{
    bindObject(listView, QStringLiteral("kr_items"));
}

// --- Navigation-bar items

KRNavbarItemEditorViewController::KRNavbarItemEditorViewController()
{
    registerInterfaces();
    m_columns = {QStringLiteral("label"),    QStringLiteral("icon"),    QStringLiteral("theme"),
                 QStringLiteral("gotoPage"), QStringLiteral("gotoPageTransition"), QStringLiteral("onClick"),
                 QStringLiteral("eventAction"), QStringLiteral("active")};
    m_checkColumns = {QStringLiteral("active")};
}

void KRNavbarItemEditorViewController::awakeFromNib()
{
}

QList<QPair<QString, QString>> KRNavbarItemEditorViewController::iconList() const
{
    // The names are stored as they are shown.
    QList<QPair<QString, QString>> list;
    for (const auto &[key, value] : krItemEditorOptions(QStringLiteral("buttonIconOptions")))
        list.append({value, value});
    return list;
}

void KRNavbarItemEditorViewController::setObject(const std::shared_ptr<KRObject> &toolbar)
{
    bindObject(toolbar, m_key.isEmpty() ? QStringLiteral("kr_navbarItems") : m_key);
}

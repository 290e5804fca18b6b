#include "KRObjectBrowser.h"

#include <ui/KRUIColors.h>
#include <model/KRObject.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <platform/foundation/KRNotificationCenter.h>
#include <widgets/scopebar/SBScopeBarGroup.h>

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

const QString KRObjectBrowserMimeType = QStringLiteral("KRObject");
const QString KRObjectBrowserDisplayGroup = QStringLiteral("displayTypeGroup");
const QString KRObjectBrowserTypeGroup = QStringLiteral("objectTypeGroup");

void krObjectBrowserFillMenu(QMenu &menu, const QList<KRMenuItem> &items)
{
    for (const KRMenuItem &item : items) {
        if (item.separator) {
            menu.addSeparator();
        } else if (item.hasSubmenu) {
            krObjectBrowserFillMenu(*menu.addMenu(item.title), item.submenu);
        } else {
            QAction *action = menu.addAction(item.title);
            if (item.action)
                QObject::connect(action, &QAction::triggered, action, item.action);
            else
                action->setEnabled(false);
        }
    }
}

} // namespace

// --- KRObjectListModel

void KRObjectListModel::setPage(const std::shared_ptr<KRPage> &page)
{
    m_page = page;
    reload();
}

void KRObjectListModel::setFilter(Filter filter)
{
    if (filter == m_filter)
        return;
    m_filter = filter;
    reload();
}

void KRObjectListModel::reload()
{
    beginResetModel();
    m_objects.clear();
    if (const auto page = m_page.lock()) {
        // The page heads the list of everything and of what is seen; it is no non-visual
        // helper of itself. Its objects follow, sorted by id.
        if (m_filter != Filter::Nonvisual)
            m_objects.append(page);
        for (const auto &object : page->allObjects()) {
            if (object != page && (m_filter == Filter::All || object->visualObject() == (m_filter == Filter::Visual)))
                m_objects.append(object);
        }
    }
    endResetModel();
}

std::shared_ptr<KRObject> KRObjectListModel::objectAt(int row) const
{
    return m_objects.value(row);
}

int KRObjectListModel::rowOf(const KRObject *object) const
{
    for (int i = 0; i < m_objects.size(); ++i)
        if (m_objects[i].get() == object)
            return i;
    return -1;
}

int KRObjectListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_objects.size());
}

QVariant KRObjectListModel::data(const QModelIndex &index, int role) const
{
    const auto object = objectAt(index.row());
    if (!object)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return object->kr_id();
    case Qt::DecorationRole:
        return KRObjectInfo::sharedInstance().objectIcon(object->kr_className());
    case Qt::ToolTipRole:
        return object->kr_className();
    default:
        return {};
    }
}

// --- KRObjectBrowser

KRObjectBrowser::KRObjectBrowser(QWidget *parent)
    : QWidget(parent), m_scopeBar(new SBScopeBar(this)), m_stack(new QStackedWidget(this)), m_list(new QListView),
      m_icons(new QListView), m_model(new KRObjectListModel(this))
{
    const KRGradient gradient = KRUIColors::lightGrayGradient();
    m_scopeBar->setBackgroundTopColor(gradient.linearGradient(QRectF(0, 0, 1, 1)).stops().value(0).second);
    m_scopeBar->setDataSource(this);
    m_scopeBar->setDelegate(this);
    auto display = std::make_unique<SBScopeBarGroup>(KRObjectBrowserDisplayGroup, SBScopeBarGroup::RadioSelection);
    display->setSelectionIndexes({0});
    m_scopeBar->insertGroup(std::move(display), 0);
    auto types = std::make_unique<SBScopeBarGroup>(KRObjectBrowserTypeGroup, SBScopeBarGroup::RadioSelection);
    types->setSelectionIndexes({0});
    m_scopeBar->insertGroup(std::move(types), 1);
    m_scopeBar->reloadData();

    for (QListView *view : {m_list, m_icons}) {
        view->setModel(m_model);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setFrameShape(QFrame::NoFrame);
        view->viewport()->installEventFilter(this);
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, view] { selectionIndexesChanged(view); });
        connect(view, &QAbstractItemView::doubleClicked, this, [this] {
            if (const auto object = selectedObject())
                emit didDoubleClickObject(object.get());
        });
        m_stack->addWidget(view);
    }
    m_list->setIconSize(QSize(16, 16));
    m_icons->setViewMode(QListView::IconMode);
    m_icons->setIconSize(QSize(32, 32));
    m_icons->setGridSize(QSize(84, 64));
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setMovement(QListView::Static);
    m_icons->setAcceptDrops(true);
    m_icons->viewport()->setAcceptDrops(true);
    m_icons->setDragDropMode(QAbstractItemView::DropOnly);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_scopeBar);
    layout->addWidget(m_stack, 1);
}

KRObjectBrowser::~KRObjectBrowser()
{
    m_scopeBar->setDelegate(nullptr);
    m_scopeBar->setDataSource(nullptr);
}

int KRObjectBrowser::numberOfObjectsInGroup(SBScopeBar *, int group)
{
    return group == 0 ? 2 : 3;
}

QVariant KRObjectBrowser::valueForObject(SBScopeBar *, int group, int index)
{
    static const QStringList display{QStringLiteral("List"), QStringLiteral("Icons")};
    static const QStringList types{QStringLiteral("All Objects"), QStringLiteral("Nonvisual Objects"),
                                   QStringLiteral("Visual Objects")};
    const QStringList &titles = group == 0 ? display : types;
    return titles.value(index, QStringLiteral("?"));
}

void KRObjectBrowser::scopeBarSelectionDidChange(const KRNotification &)
{
    applyScopes();
}

void KRObjectBrowser::applyScopes()
{
    const auto first = [](SBScopeBarGroup *group) {
        return group && !group->selectionIndexes().empty() ? *group->selectionIndexes().begin() : -1;
    };
    const int display = first(m_scopeBar->groupWithIdentifier(KRObjectBrowserDisplayGroup));
    if (display == 0 || display == 1)
        m_stack->setCurrentIndex(display);
    const int type = first(m_scopeBar->groupWithIdentifier(KRObjectBrowserTypeGroup));
    if (type >= 0 && type <= 2) {
        m_model->setFilter(static_cast<KRObjectListModel::Filter>(type));
        syncViews();
    }
}

void KRObjectBrowser::selectIconView()
{
    if (SBScopeBarGroup *group = m_scopeBar->groupWithIdentifier(KRObjectBrowserDisplayGroup))
        group->setSelectionIndexes({1});
    m_scopeBar->update();
    applyScopes();
}

void KRObjectBrowser::setFilter(KRObjectListModel::Filter filter)
{
    if (SBScopeBarGroup *group = m_scopeBar->groupWithIdentifier(KRObjectBrowserTypeGroup))
        group->setSelectionIndexes({int(filter)});
    m_scopeBar->update();
    applyScopes();
}

bool KRObjectBrowser::isShowingIcons() const
{
    return m_stack->currentWidget() == m_icons;
}

void KRObjectBrowser::setPage(const std::shared_ptr<KRPage> &page)
{
    if (page == m_page.lock())
        return;
    m_page = page;
    m_selected.reset();
    m_model->setPage(page);
    m_objectsToken = page ? page->observable().observe(QStringLiteral("allObjects"),
                                                       [this](const void *, const QString &, const QVariant &, const QVariant &) {
                                                           m_model->reload();
                                                           syncViews();
                                                       })
                          : KRObservationToken();
}

void KRObjectBrowser::selectObject(const std::shared_ptr<KRObject> &object)
{
    if (object == m_selected.lock())
        return;
    m_selected = object;
    syncViews();
    emit didSelectObject(object.get());
}

void KRObjectBrowser::syncViews()
{
    // A browser out of sight (its pane shows the design) catches up when it shows: a hidden
    // view marking a row still lays out its items to name the row to accessibility clients,
    // and that on every selection made on the design surface.
    if (!isVisible()) {
        m_viewsBehind = true;
        return;
    }
    m_viewsBehind = false;
    // Shows the selection in both views without taking it for a user's choice.
    m_syncing = true;
    const int row = m_model->rowOf(m_selected.lock().get());
    for (QListView *view : {m_list, m_icons}) {
        if (row >= 0)
            view->selectionModel()->select(m_model->index(row), QItemSelectionModel::ClearAndSelect);
        else
            view->selectionModel()->clearSelection();
    }
    m_syncing = false;
}

void KRObjectBrowser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_viewsBehind)
        syncViews();
}

void KRObjectBrowser::selectionIndexesChanged(QListView *view)
{
    if (m_syncing)
        return;
    const QModelIndexList rows = view->selectionModel()->selectedIndexes();
    if (rows.isEmpty()) {
        m_selected.reset(); // nobody is told
        return;
    }
    selectObject(m_model->objectAt(rows.first().row()));
}

QMenu *KRObjectBrowser::contextMenuForObject(const std::shared_ptr<KRObject> &object, QWidget *parent) const
{
    if (!object)
        return nullptr;
    const QList<KRMenuItem> items = object->contextMenuItemsForObject();
    if (items.isEmpty())
        return nullptr;
    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    krObjectBrowserFillMenu(*menu, items);
    return menu;
}

bool KRObjectBrowser::eventFilter(QObject *watched, QEvent *event)
{
    const bool onIcons = watched == m_icons->viewport();
    switch (event->type()) {
    case QEvent::ContextMenu: {
        auto *view = onIcons ? m_icons : m_list;
        auto *menuEvent = static_cast<QContextMenuEvent *>(event);
        const QModelIndex index = view->indexAt(menuEvent->pos());
        if (QMenu *menu = contextMenuForObject(m_model->objectAt(index.row()), this))
            menu->popup(menuEvent->globalPos());
        return true;
    }
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (onIcons) {
            auto *drag = static_cast<QDropEvent *>(event);
            if (drag->mimeData() && drag->mimeData()->hasFormat(KRObjectBrowserMimeType)) {
                drag->setDropAction(Qt::CopyAction);
                drag->accept();
            } else {
                drag->ignore();
            }
            return true;
        }
        break;
    case QEvent::Drop:
        if (onIcons) {
            auto *drop = static_cast<QDropEvent *>(event);
            const auto page = m_page.lock();
            if (!page || !drop->mimeData() || !drop->mimeData()->hasFormat(KRObjectBrowserMimeType)) {
                drop->ignore();
                return true;
            }
            const QString className = QString::fromUtf8(drop->mimeData()->data(KRObjectBrowserMimeType)).trimmed();
            const auto object = page->createNewObject(className, QString());
            if (!object) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            emit didInsertObject(object.get());
            selectObject(object);
            // The dropped object is chosen where the Edit commands act: the keyboard comes here
            // (from the palette, which never takes it).
            m_icons->setFocus(Qt::OtherFocusReason);
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

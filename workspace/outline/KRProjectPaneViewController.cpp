#include "KRProjectPaneViewController.h"

#include "KRProjectPaneDataSource.h"

#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAlertService.h>
#include <widgets/sourcelist/SLSourceList.h>
#include <widgets/views/KRBorderedView.h>
#include <widgets/views/KRPaneHeaderView.h>

#include <functional>
#include <utility>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

bool projectPaneResourceHasCachedEdits(const std::shared_ptr<KRProjectResource> &resource)
{
    const std::shared_ptr<KRWebFolder> folder = resource->project();
    if (!folder)
        return false;
    const QString path = resource->relativePath();
    for (const QString &edited : folder->modifiedResourceCache().relativePaths()) {
        if (edited == path || edited.startsWith(path + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

// --- Delegate defaults

void KRProjectPaneDelegate::openResourceAction(KRProjectPaneViewController *pane,
                                               const std::shared_ptr<KRProjectResource> &resource)
{
    projectPaneEditResource(pane, resource);
}

void KRProjectPaneDelegate::openResourceWithFinderAction(KRProjectPaneViewController *,
                                                         const std::shared_ptr<KRProjectResource> &resource)
{
    resource->openResourceWithFinder();
}

void KRProjectPaneDelegate::revealResourceInFinderAction(KRProjectPaneViewController *,
                                                         const std::shared_ptr<KRProjectResource> &resource)
{
    resource->revealResourceInFinder();
}

void KRProjectPaneDelegate::deleteResourceAction(KRProjectPaneViewController *pane,
                                                 const std::shared_ptr<KRProjectResource> &resource)
{
    pane->deleteResource(resource);
}

// --- Controller

KRProjectPaneViewController::KRProjectPaneViewController()
{
    Q_INIT_RESOURCE(outline);
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRProjectPaneView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRProjectPaneView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRProjectPaneViewController *>(owner);
            auto *view = new KRBorderedView;
            auto *layout = new QVBoxLayout(view);
            // Room for the pane's own right and bottom borders.
            layout->setContentsMargins(0, 0, 1, 1);
            layout->setSpacing(0);
            controller->m_headerView = new KRPaneHeaderView(view);
            controller->m_sourceList = new SLSourceList(view);
            layout->addWidget(controller->m_headerView);
            layout->addWidget(controller->m_sourceList, 1);
            view->resize(220, 500);
            return view;
        });
}

KRProjectPaneViewController::~KRProjectPaneViewController()
{
    if (m_sourceList) {
        m_sourceList->setDelegate(nullptr);
        m_sourceList->setDataSource(nullptr);
    }
    if (m_dataSource)
        m_dataSource->cleanup();
}

void KRProjectPaneViewController::awakeFromNib()
{
    m_headerView->setLabelText(QStringLiteral("Project"));
    m_headerView->setDrawBottomBorder(true);
    m_headerView->setDrawBackground(true);

    auto *button = new QToolButton;
    button->setObjectName(QStringLiteral("projectSettingsButton"));
    button->setAutoRaise(true);
    button->setFixedSize(16, 16);
    button->setIcon(QIcon(QStringLiteral(":/outline/KR-action-gear.png")));
    button->setToolTip(QStringLiteral("Project Settings"));
    button->setAccessibleName(QStringLiteral("Project Settings"));
    m_headerView->setButton(button);
    m_projectSettingsButton = button;

    if (auto *bordered = qobject_cast<KRBorderedView *>(view())) {
        bordered->setDrawRightBorder(true);
        bordered->setDrawBottomBorder(true);
    }
    QObject::connect(m_sourceList, &QAbstractItemView::doubleClicked, this, [this] { sourceListDoubleAction(); });
    QObject::connect(m_sourceList, &SLSourceList::returnKeyPressedOnRow, this,
                     [this](int row) { sourceListReturnAction(row); });
    // A click on the row that is selected already changes no selection: it is routed once the
    // list has taken the press, as a click that selects a row is routed by its selection.
    m_sourceList->viewport()->installEventFilter(this);
    QObject::connect(m_sourceList, &QAbstractItemView::pressed, this, [this](const QModelIndex &index) {
        const int row = std::exchange(m_pressOnSelectedRow, -1);
        if (row >= 0 && m_sourceList->rowForIndex(index) == row && m_sourceList->selectedRowIndexes() == QList<int>{row})
            selectedRowChosen();
    });
    QTimer::singleShot(0, this, [this] {
        if (m_sourceList && m_sourceList->numberOfRows() > 0)
            m_sourceList->scrollTo(m_sourceList->indexAtRow(0));
    });
}

void KRProjectPaneViewController::didOpenProject(const std::shared_ptr<KRProject> &project)
{
    setProject(project);
    m_dataSource = std::make_unique<KRProjectPaneDataSource>(project);
    m_dataSource->setDelegate(this);
    m_sourceList->setDelegate(this);
    m_sourceList->setDataSource(m_dataSource.get());
    reloadData();
    QObject::connect(m_projectSettingsButton, &QAbstractButton::clicked, this, [this] {
        if (m_delegate)
            m_delegate->projectSettingsAction(this, m_projectSettingsButton);
    });
}

void KRProjectPaneViewController::windowWillClose()
{
    if (m_didCleanup)
        return;
    m_didCleanup = true;
    m_sourceList->setDataSource(nullptr);
    m_sourceList->setDelegate(nullptr);
    QObject::disconnect(m_projectSettingsButton, nullptr, this, nullptr);
    if (m_dataSource)
        m_dataSource->setDelegate(nullptr);
    m_sourceList->reloadData();
    if (m_dataSource)
        m_dataSource->cleanup();
}

void KRProjectPaneViewController::reloadData()
{
    if (m_deferReloads > 0) {
        m_reloadPending = true;
        return;
    }
    if (!m_sourceList)
        return;
    // Reading the tree again keeps the selected rows; that is no new choice to route.
    m_reloading = true;
    m_sourceList->reloadData();
    m_reloading = false;
    if (m_dataSource)
        m_dataSource->forgetRetiredItems();
}

void KRProjectPaneViewController::endDeferringReloads()
{
    if (--m_deferReloads > 0 || !m_reloadPending)
        return;
    m_reloadPending = false;
    // After the list has finished the edit or the drop that is under way.
    QTimer::singleShot(0, this, [this] { reloadData(); });
}

void KRProjectPaneViewController::selectPage(const std::shared_ptr<KRPage> &page)
{
    if (!m_dataSource || !page)
        return;
    const auto findRow = [&]() -> int {
        const auto item = m_dataSource->pagesDataSourceItem()
                               ? m_dataSource->pagesDataSourceItem()->dataSourceItemForPage(page)
                               : nullptr;
        return item ? m_sourceList->rowForItem(item.get()) : -1;
    };
    if (m_currentPage.lock() == page) {
        const int row = findRow();
        if (row >= 0 && m_sourceList->selectedRow() == row && m_sourceList->selectedRowIndexes().size() == 1)
            return;
    }
    m_currentPage = page;
    int row = findRow();
    if (row < 0) {
        reloadData();
        row = findRow();
        if (row < 0)
            return;
    }
    m_sourceList->selectRowIndexes({row}, false);
}

void KRProjectPaneViewController::selectSyntaxErrorItem()
{
    reloadData();
    if (m_dataSource && m_dataSource->syntaxErrorsDataSourceItem()) {
        const int row = m_sourceList->rowForItem(m_dataSource->syntaxErrorsDataSourceItem());
        if (row >= 0)
            m_sourceList->selectRowIndexes({row}, false);
    }
}

bool KRProjectPaneViewController::resourceIsOpenInTab(const std::shared_ptr<KRProjectResource> &resource)
{
    return m_delegate && resource && m_delegate->projectPaneResourceIsOpenInTab(this, resource);
}

bool KRProjectPaneViewController::resourceCanBeRenamedOrDeleted(const std::shared_ptr<KRProjectResource> &resource,
                                                                const QString &verb)
{
    std::function<bool(const std::shared_ptr<KRProjectResource> &)> openSomewhere =
        [&](const std::shared_ptr<KRProjectResource> &item) {
            if (resourceIsOpenInTab(item))
                return true;
            for (const auto &inside : item->contents()) {
                if (openSomewhere(inside))
                    return true;
            }
            return false;
        };
    QString reason;
    if (openSomewhere(resource))
        reason = QStringLiteral("Close its editor tab first.");
    else if (projectPaneResourceHasCachedEdits(resource))
        reason = QStringLiteral("It has changes that are not saved yet. Save the project first.");
    if (reason.isEmpty())
        return true;
    KRAlert alert;
    alert.style = KRAlert::Style::Warning;
    alert.messageText = QStringLiteral("\u201C%1\u201D can\u2019t be %2 now.").arg(resource->name(), verb);
    alert.informativeText = reason;
    KRAlertService::current().runModal(alert);
    return false;
}

void KRProjectPaneViewController::deleteResource(const std::shared_ptr<KRProjectResource> &resource)
{
    const auto project = std::dynamic_pointer_cast<KRProject>(this->project());
    if (!project || !resource || !resourceCanBeRenamedOrDeleted(resource, QStringLiteral("deleted")))
        return;
    project->deleteResource(resource);
    reloadData();
}

void KRProjectPaneViewController::selectItemAlone(const void *item)
{
    const int row = m_sourceList->rowForItem(item);
    if (row >= 0)
        m_sourceList->selectRowIndexes({row}, false);
}

QMenu *KRProjectPaneViewController::makeContextMenu()
{
    m_menu = std::make_unique<QMenu>();
    return m_menu.get();
}

std::optional<bool> KRProjectPaneViewController::isGroupAlwaysExpanded(SLSourceList *, SLItem)
{
    return true;
}

QMenu *KRProjectPaneViewController::menuForEvent(SLSourceList *, QContextMenuEvent *event, SLItem item)
{
    // A context menu event comes from the right button or the menu key; Ctrl-click stays a
    // selection gesture.
    if (!m_dataSource || !item)
        return nullptr;
    return KRProjectPaneDataSource::itemFor(item)->menuForEvent(event);
}

std::optional<bool> KRProjectPaneViewController::shouldEditItem(SLSourceList *, SLItem item)
{
    return m_dataSource && item && KRProjectPaneDataSource::itemFor(item)->shouldEditItem();
}

bool KRProjectPaneViewController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress && m_sourceList && watched == m_sourceList->viewport()) {
        const auto *press = static_cast<const QMouseEvent *>(event);
        const int row = m_sourceList->rowForIndex(m_sourceList->indexAt(press->position().toPoint()));
        const bool plain = press->button() == Qt::LeftButton && press->modifiers() == Qt::NoModifier;
        m_pressOnSelectedRow = plain && row >= 0 && m_sourceList->selectedRowIndexes() == QList<int>{row} ? row : -1;
    }
    return KRCachingViewController::eventFilter(watched, event);
}

void KRProjectPaneViewController::sourceListSelectionDidChange(const KRNotification &)
{
    if (m_reloading)
        return;
    selectedRowChosen();
}

void KRProjectPaneViewController::selectedRowChosen()
{
    if (!m_dataSource)
        return;
    const QList<int> rows = m_sourceList->selectedRowIndexes();
    if (rows.size() != 1)
        return;
    SLItem item = m_sourceList->itemAtRow(rows.first());
    if (!item)
        return;
    const std::shared_ptr<KRProjectPaneDataSourceItem> row = KRProjectPaneDataSource::itemFor(item)->shared_from_this();
    // A row chosen with the keys leaves the keyboard in the outline, so that the next key
    // moves on; the row's editor takes it on Return, or when a page's row is clicked. A click
    // on a file's row keeps it here too, so that Return opens or shows the file, never types
    // into it.
    const bool keepFocus = m_sourceList->hasFocus()
        && (QGuiApplication::mouseButtons() == Qt::NoButton || row->keepsKeyboardWhenClicked());
    row->didSelectItem();
    if (keepFocus && m_sourceList)
        m_sourceList->setFocus(Qt::OtherFocusReason);
    if (row.get() == m_dataSource->syntaxErrorsDataSourceItem() && m_delegate)
        m_delegate->showSyntaxErrorsForProjectPane(this);
}

void KRProjectPaneViewController::sourceListDeleteKeyPressedOnRows(const KRNotification &notification)
{
    const QVariantList rows = notification.userInfo.value(QStringLiteral("rows")).toList();
    if (!m_dataSource || rows.isEmpty())
        return;
    if (SLItem item = m_sourceList->itemAtRow(rows.first().toInt()))
        KRProjectPaneDataSource::itemFor(item)->shared_from_this()->deleteKeyPressedOnItem();
}

void KRProjectPaneViewController::sourceListReturnAction(int row)
{
    if (!m_dataSource)
        return;
    if (SLItem item = m_sourceList->itemAtRow(row))
        KRProjectPaneDataSource::itemFor(item)->shared_from_this()->returnKeyPressedOnItem();
}

void KRProjectPaneViewController::sourceListDoubleAction()
{
    const QList<int> rows = m_sourceList->selectedRowIndexes();
    if (!m_dataSource || rows.isEmpty())
        return;
    if (SLItem item = m_sourceList->itemAtRow(rows.first()))
        KRProjectPaneDataSource::itemFor(item)->shared_from_this()->doubleAction();
}

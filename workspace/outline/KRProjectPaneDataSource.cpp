#include "KRProjectPaneDataSource.h"

#include "KRProjectPaneViewController.h"

#include <builder/KRProjectSyntaxCheck.h>
#include <core/KRFileManagerAdditions.h>
#include <ui/KRUIColors.h>
#include <model/KRDocument.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRProjectResource.h>
#include <model/KRWebFolder.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QContextMenuEvent>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include <algorithm>

namespace {

// Marks the outline's own drags, so that a drop of them back onto the outline is refused.
const QString projectPaneDragMarkType = QStringLiteral("application/x-korvane-project-outline");

bool projectPaneIsOwnDrag(const QMimeData *data)
{
    return data && data->hasFormat(projectPaneDragMarkType);
}

// Files may be dropped only into a project that has been saved: an untitled project's web
// folder is a temporary one (as "Import Resource" is offered only for a saved project).
bool projectPaneAcceptsFiles(const std::shared_ptr<KRProject> &project)
{
    if (!project || project->krwebURL().isEmpty())
        return false;
    const std::shared_ptr<KRDocument> document = project->krDocument();
    return document && !document->fileURL().isEmpty();
}

QStringList projectPaneDroppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

void projectPaneShowAlert(const QString &message, const QString &informative = {})
{
    KRAlert alert;
    alert.style = KRAlert::Style::Warning;
    alert.messageText = message;
    alert.informativeText = informative;
    KRAlertService::current().runModal(alert);
}

// Copies a file or a folder with everything in it; never replaces an existing item. Symbolic
// links are copied as links, never followed: a link in a dropped folder must not pull in the
// file it points at, wherever that is.
bool projectPaneCopyEntry(const QString &source, const QString &destination, QString *failed)
{
    const QFileInfo info(source);
    if (QFileInfo(destination).exists() || QFileInfo(destination).isSymLink()) {
        *failed = destination;
        return false;
    }
    if (info.isSymLink()) {
        if (!QFile::link(info.symLinkTarget(), destination)) {
            *failed = source;
            return false;
        }
        return true;
    }
    if (!info.isDir()) {
        // Only a regular file: copying a pipe or a device would never end.
        if (!KRFileManager::copyPackageFile(source, destination)) {
            *failed = source;
            return false;
        }
        return true;
    }
    if (!QDir().mkdir(destination)) {
        *failed = destination;
        return false;
    }
    const QStringList entries = QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!projectPaneCopyEntry(source + QLatin1Char('/') + entry, destination + QLatin1Char('/') + entry, failed))
            return false;
    }
    return true;
}

// A folder dropped onto itself or onto a folder inside it is refused: its copy would land in
// the folder being read and be copied again, level after level.
bool projectPaneCopyItem(const QString &source, const QString &destination, QString *failed)
{
    const QFileInfo info(source);
    if (info.isDir() && !info.isSymLink()) {
        const QString from = info.canonicalFilePath();
        const QString into = QFileInfo(QFileInfo(destination).absolutePath()).canonicalFilePath();
        if (into == from || into.startsWith(from + QLatin1Char('/'))) {
            *failed = source;
            return false;
        }
    }
    return projectPaneCopyEntry(source, destination, failed);
}

// The name a dropped item keeps: the last component of its path, also when a folder's path
// ends in "/".
QString projectPaneDroppedName(const QString &path)
{
    return QFileInfo(QDir::cleanPath(path)).fileName();
}

QImage projectPanePageIcon()
{
    static const QImage icon(QStringLiteral(":/outline/KR-object-icon-page-proj-pane.png"));
    return icon;
}

} // namespace

// --- Base row

KRProjectPaneDataSourceItem::KRProjectPaneDataSourceItem(KRProjectPaneDataSource *dataSource, const QString &label)
    : m_dataSource(dataSource)
    , m_label(label)
{
}

KRProjectPaneDataSourceItem::~KRProjectPaneDataSourceItem() = default;

void KRProjectPaneDataSourceItem::cleanup()
{
    for (const auto &child : m_children)
        child->cleanup();
}

KRProjectPaneViewController *KRProjectPaneDataSourceItem::pane() const
{
    return m_dataSource ? m_dataSource->delegate() : nullptr;
}

void KRProjectPaneDataSourceItem::reloadOutline() const
{
    if (KRProjectPaneViewController *controller = pane())
        controller->reloadData();
}

// --- PAGES

KRProjectPanePagesDataSourceItem::KRProjectPanePagesDataSourceItem(KRProjectPaneDataSource *dataSource,
                                                                   const std::shared_ptr<KRProject> &project)
    : KRProjectPaneDataSourceItem(dataSource, KRProjectPaneDataSource::PagesLabel)
    , m_project(project)
{
    reloadPages(true);
    KRNotificationCenter &center = KRNotificationCenter::defaultCenter();
    m_observations.push_back(center.addObserver(KRProjectDidCreatePageNotification, project->identity(),
                                                [this](const KRNotification &notification) {
                                                    reloadPages(false);
                                                    reloadOutline();
                                                    const auto handle = notification.userInfo.value(QStringLiteral("newPage"))
                                                                            .value<KRPageHandle>();
                                                    if (KRProjectPaneViewController *controller = pane();
                                                        controller && handle.page)
                                                        controller->selectPage(handle.page);
                                                }));
    // A renamed page takes its place in the order of the ids at once.
    for (const QString &name : {KRProjectDidDeletePageNotification, KRProjectDidRenamePageNotification})
        m_observations.push_back(center.addObserver(name, project->identity(), [this](const KRNotification &) {
            reloadPages(false);
            reloadOutline();
        }));
}

void KRProjectPanePagesDataSourceItem::reloadPages(bool makeNew)
{
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> rows;
    if (const std::shared_ptr<KRProject> project = m_project.lock()) {
        for (const std::shared_ptr<KRPage> &page : project->sortedPages()) {
            std::shared_ptr<KRProjectPaneDataSourceItem> row = makeNew ? nullptr : dataSourceItemForPage(page);
            if (!row)
                row = std::make_shared<KRProjectPanePageDataSourceItem>(dataSource(), page);
            rows.push_back(row);
        }
    }
    // A plain comparison of the ids: case-sensitive, character by character.
    std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) { return a->label() < b->label(); });
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> old;
    old.swap(children());
    children() = std::move(rows);
    for (const auto &row : old) {
        if (std::find(children().begin(), children().end(), row) == children().end())
            row->cleanup();
    }
    if (dataSource())
        dataSource()->retire(std::move(old));
}

std::shared_ptr<KRProjectPaneDataSourceItem>
KRProjectPanePagesDataSourceItem::dataSourceItemForPage(const std::shared_ptr<KRPage> &page) const
{
    for (const auto &child : children()) {
        auto *row = dynamic_cast<KRProjectPanePageDataSourceItem *>(child.get());
        if (row && row->page() == page)
            return child;
    }
    return nullptr;
}

void KRProjectPanePagesDataSourceItem::cleanup()
{
    m_observations.clear();
    KRProjectPaneDataSourceItem::cleanup();
}

// --- Page row

KRProjectPanePageDataSourceItem::KRProjectPanePageDataSourceItem(KRProjectPaneDataSource *dataSource,
                                                                 const std::shared_ptr<KRPage> &page)
    : KRProjectPaneDataSourceItem(dataSource, page->kr_id())
    , m_page(page)
{
    setIcon(projectPanePageIcon());
    m_observation = page->observable().observe(QStringLiteral("kr_id"), [this](const void *, const QString &, const QVariant &,
                                                                             const QVariant &) {
        if (const std::shared_ptr<KRPage> observed = m_page.lock())
            setLabel(observed->kr_id());
        reloadOutline();
    });
}

void KRProjectPanePageDataSourceItem::setObjectValue(const QVariant &value)
{
    const std::shared_ptr<KRPage> page = m_page.lock();
    if (!page)
        return;
    const QString newID = value.toString();
    if (newID == page->kr_id())
        return;
    const KRResult<void> valid = page->validateKr_id(newID);
    if (!valid) {
        KRAlert alert;
        alert.style = KRAlert::Style::Critical;
        alert.messageText = valid.error().message();
        KRAlertService::current().runModal(alert);
        reloadOutline();
        return;
    }
    page->setKr_id(newID);
    setLabel(page->kr_id());
}

void KRProjectPanePageDataSourceItem::didSelectItem()
{
    KRProjectPaneViewController *controller = pane();
    const std::shared_ptr<KRPage> page = m_page.lock();
    if (controller && controller->delegate() && page)
        controller->delegate()->projectPaneDidSelectPage(controller, page);
}

void KRProjectPanePageDataSourceItem::deleteKeyPressedOnItem()
{
    KRProjectPaneViewController *controller = pane();
    const std::shared_ptr<KRPage> page = m_page.lock();
    if (controller && controller->delegate() && page)
        controller->delegate()->projectPaneDeletePage(controller, page);
}

QMenu *KRProjectPanePageDataSourceItem::menuForEvent(QContextMenuEvent *)
{
    KRProjectPaneViewController *controller = pane();
    if (!controller)
        return nullptr;
    QMenu *menu = controller->makeContextMenu();
    std::weak_ptr<KRProjectPaneDataSourceItem> weakRow = weak_from_this();
    QObject::connect(menu->addAction(QStringLiteral("Delete Page")), &QAction::triggered, menu, [weakRow] {
        if (const auto row = weakRow.lock())
            row->deleteKeyPressedOnItem();
    });
    return menu;
}

// --- RESOURCES

KRProjectPaneResourcesDataSourceItem::KRProjectPaneResourcesDataSourceItem(KRProjectPaneDataSource *dataSource,
                                                                           const std::shared_ptr<KRProject> &project)
    : KRProjectPaneDataSourceItem(dataSource, KRProjectPaneDataSource::ResourcesLabel)
    , m_project(project)
{
    reloadResources();
    const auto changed = [this](const void *, const QString &, const QVariant &, const QVariant &) {
        reloadResources();
        reloadOutline();
    };
    m_observations.push_back(project->observable().observe(QStringLiteral("resources"), changed));
    m_observations.push_back(project->observable().observe(QStringLiteral("defaultTheme"), changed));
}

void KRProjectPaneResourcesDataSourceItem::reloadResources()
{
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> old;
    old.swap(children());
    for (const auto &row : old)
        row->cleanup();
    if (dataSource())
        dataSource()->retire(std::move(old));
    if (const std::shared_ptr<KRProject> project = m_project.lock())
        addResourcesFromArray(project->resources(), children());
}

void KRProjectPaneResourcesDataSourceItem::addResourcesFromArray(
    const QList<std::shared_ptr<KRProjectResource>> &resources, std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &target)
{
    for (const std::shared_ptr<KRProjectResource> &resource : resources) {
        if (resource->isGenerated() || resource->isStaged())
            continue;
        auto row = std::make_shared<KRProjectPaneResourceDataSourceItem>(dataSource(), resource);
        target.push_back(row);
        addResourcesFromArray(resource->contents(), row->children());
    }
}

Qt::DropAction KRProjectPaneResourcesDataSourceItem::validateDrop(const QMimeData *data, int)
{
    if (projectPaneIsOwnDrag(data) || projectPaneDroppedPaths(data).isEmpty())
        return Qt::IgnoreAction;
    return projectPaneAcceptsFiles(m_project.lock()) ? Qt::CopyAction : Qt::IgnoreAction;
}

bool KRProjectPaneResourcesDataSourceItem::acceptDrop(const QMimeData *data, int childIndex)
{
    const std::shared_ptr<KRProject> project = m_project.lock();
    if (validateDrop(data, childIndex) == Qt::IgnoreAction || !project)
        return false;
    const QString folder = project->krwebURL().toLocalFile();
    for (const QString &path : projectPaneDroppedPaths(data))
        project->importResource(path, folder + QLatin1Char('/') + projectPaneDroppedName(path));
    project->reloadResources();
    return true;
}

void KRProjectPaneResourcesDataSourceItem::cleanup()
{
    m_observations.clear();
    KRProjectPaneDataSourceItem::cleanup();
}

// --- Resource row

KRProjectPaneResourceDataSourceItem::KRProjectPaneResourceDataSourceItem(KRProjectPaneDataSource *dataSource,
                                                                         const std::shared_ptr<KRProjectResource> &resource)
    : KRProjectPaneDataSourceItem(dataSource, resource->name())
    , m_resource(resource)
{
    static QFileIconProvider provider;
    setIcon(provider.icon(QFileInfo(resource->fullPath())).pixmap(16, 16).toImage());
}

void KRProjectPaneResourceDataSourceItem::setObjectValue(const QVariant &value)
{
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    KRProjectPaneViewController *controller = pane();
    if (!resource || !controller)
        return;
    const QString newName = value.toString();
    if (newName == resource->name())
        return;
    if (const KRResult<void> valid = KRWebFolder::checkFileName(newName); !valid) {
        projectPaneShowAlert(valid.error().message(), QString());
        reloadOutline();
        return;
    }
    if (!controller->resourceCanBeRenamedOrDeleted(resource, QStringLiteral("renamed"))) {
        reloadOutline();
        return;
    }
    // The project's list is read again by the rename, which replaces this row: keep it alive.
    const std::shared_ptr<KRProjectPaneDataSourceItem> keep = shared_from_this();
    resource->renameResource(newName);
    setLabel(resource->name());
    reloadOutline();
}

void KRProjectPaneResourceDataSourceItem::didSelectItem()
{
    KRProjectPaneViewController *controller = pane();
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    if (!controller || !controller->delegate() || !resource)
        return;
    if (controller->delegate()->projectPaneResourceIsOpenInTab(controller, resource))
        controller->delegate()->projectPaneEditResource(controller, resource);
}

void KRProjectPaneResourceDataSourceItem::deleteKeyPressedOnItem()
{
    KRProjectPaneViewController *controller = pane();
    if (const std::shared_ptr<KRProjectResource> resource = m_resource.lock(); controller && resource)
        controller->deleteResource(resource);
}

void KRProjectPaneResourceDataSourceItem::doubleAction()
{
    KRProjectPaneViewController *controller = pane();
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    if (controller && controller->delegate() && resource)
        controller->delegate()->projectPaneEditResource(controller, resource);
}

QMenu *KRProjectPaneResourceDataSourceItem::menuForEvent(QContextMenuEvent *)
{
    KRProjectPaneViewController *controller = pane();
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    if (!controller || !resource)
        return nullptr;
    const bool open = controller->resourceIsOpenInTab(resource);
    controller->selectItemAlone(this);
    QMenu *menu = controller->makeContextMenu();
    const auto add = [&](const QString &title, void (KRProjectPaneDelegate::*command)(KRProjectPaneViewController *,
                                                                                       const std::shared_ptr<KRProjectResource> &)) {
        QAction *action = menu->addAction(title);
        action->setData(QVariant::fromValue(resource->fullPath()));
        std::weak_ptr<KRProjectResource> weakResource = resource;
        QObject::connect(action, &QAction::triggered, menu, [controller, command, weakResource] {
            const std::shared_ptr<KRProjectResource> chosen = weakResource.lock();
            if (chosen && controller->delegate())
                (controller->delegate()->*command)(controller, chosen);
        });
        return action;
    };
    add(QStringLiteral("Open Resource"), &KRProjectPaneDelegate::openResourceAction);
    menu->addSeparator();
    add(QStringLiteral("Open With Default Application"), &KRProjectPaneDelegate::openResourceWithFinderAction);
    add(QStringLiteral("Show in File Manager"), &KRProjectPaneDelegate::revealResourceInFinderAction);
    if (open)
        menu->addAction(QStringLiteral("Delete Resource"))->setEnabled(false);
    else
        add(QStringLiteral("Delete Resource"), &KRProjectPaneDelegate::deleteResourceAction);
    return menu;
}

bool KRProjectPaneResourceDataSourceItem::itemHasBadge() const
{
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    return resource && resource->isTheme();
}

QString KRProjectPaneResourceDataSourceItem::badgeStringForItem() const
{
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    if (!resource || !resource->isTheme())
        return {};
    return resource->isSelectedTheme() ? QStringLiteral("T\u2713") : QStringLiteral("T");
}

Qt::DropAction KRProjectPaneResourceDataSourceItem::validateDrop(const QMimeData *data, int)
{
    // Only a folder that already holds something takes files.
    if (projectPaneIsOwnDrag(data) || projectPaneDroppedPaths(data).isEmpty() || children().empty())
        return Qt::IgnoreAction;
    return projectPaneAcceptsFiles(dataSource() ? dataSource()->project() : nullptr) ? Qt::CopyAction : Qt::IgnoreAction;
}

bool KRProjectPaneResourceDataSourceItem::acceptDrop(const QMimeData *data, int childIndex)
{
    const std::shared_ptr<KRProjectResource> resource = m_resource.lock();
    const std::shared_ptr<KRProject> project = dataSource() ? dataSource()->project() : nullptr;
    if (!resource || !project || validateDrop(data, childIndex) == Qt::IgnoreAction)
        return false;
    const QString folder = resource->fullPath();
    // The reload below replaces this row.
    const std::shared_ptr<KRProjectPaneDataSourceItem> keep = shared_from_this();
    for (const QString &path : projectPaneDroppedPaths(data)) {
        const QString name = projectPaneDroppedName(path);
        QString failed;
        if (!projectPaneCopyItem(path, folder + QLatin1Char('/') + name, &failed)) {
            KRAlert alert;
            alert.style = KRAlert::Style::Critical;
            alert.messageText = QStringLiteral("\u201C%1\u201D couldn\u2019t be copied to \u201C%2\u201D.")
                                    .arg(name, QFileInfo(folder).fileName());
            alert.informativeText = QFileInfo(failed).exists() && failed != path
                                        ? QStringLiteral("An item with the same name already exists.")
                                        : QString();
            KRAlertService::current().runModal(alert);
        }
    }
    project->reloadResources();
    return true;
}

// --- Syntax errors

KRProjectPaneSyntaxErrorDataSourceItem::KRProjectPaneSyntaxErrorDataSourceItem(KRProjectPaneDataSource *dataSource,
                                                                               const std::shared_ptr<KRProject> &project)
    : KRProjectPaneDataSourceItem(dataSource, QStringLiteral("JavaScript Syntax Errors"))
    , m_project(project)
{
}

QString KRProjectPaneSyntaxErrorDataSourceItem::badgeStringForItem() const
{
    return QString::number(m_project ? m_project->syntaxErrors().size() : 0);
}

QColor KRProjectPaneSyntaxErrorDataSourceItem::badgeBackgroundColorForItem() const
{
    return KRUIColors::brightSyntaxErrorBackgroundColor();
}

QColor KRProjectPaneSyntaxErrorDataSourceItem::selectedBadgeBackgroundColorForItem() const
{
    return KRUIColors::brightSyntaxErrorBackgroundColor();
}

// --- Data source

KRProjectPaneDataSource::KRProjectPaneDataSource(const std::shared_ptr<KRProject> &project)
    : m_project(project)
{
    loadData();
    if (const std::shared_ptr<KRDocument> document = project->krDocument())
        m_observations.push_back(KRNotificationCenter::defaultCenter().addObserver(
            KRDidPerformSyntaxCheckDocumentNotification, document->identity(),
            [this](const KRNotification &) { didPerformSyntaxCheck(); }));
    // A check announces its findings on the project as well; either way the group follows.
    m_observations.push_back(project->observable().observe(
        QStringLiteral("syntaxErrors"), [this](const void *, const QString &, const QVariant &, const QVariant &) {
            didPerformSyntaxCheck();
        }));
}

KRProjectPaneDataSource::~KRProjectPaneDataSource()
{
    cleanup();
}

void KRProjectPaneDataSource::loadData()
{
    retire(std::move(m_data));
    m_data.clear();
    const std::shared_ptr<KRProject> project = m_project.lock();
    if (!project)
        return;
    m_pagesItem = std::make_shared<KRProjectPanePagesDataSourceItem>(this, project);
    m_data.push_back(m_pagesItem);
    m_resourcesItem = std::make_shared<KRProjectPaneResourcesDataSourceItem>(this, project);
    m_data.push_back(m_resourcesItem);
}

void KRProjectPaneDataSource::didPerformSyntaxCheck()
{
    const std::shared_ptr<KRProject> project = m_project.lock();
    if (!project || m_didCleanup)
        return;
    const bool errors = !project->syntaxErrors().isEmpty();
    const bool group = m_data.size() > 2 && m_data[1]->label() == SyntaxErrorsLabel;
    if (errors && !group) {
        auto heading = std::make_shared<KRProjectPaneDataSourceItem>(this, SyntaxErrorsLabel);
        m_syntaxErrorItem = std::make_shared<KRProjectPaneSyntaxErrorDataSourceItem>(this, project);
        heading->children().push_back(m_syntaxErrorItem);
        m_data.insert(m_data.begin() + 1, heading);
    } else if (!errors && group) {
        m_retired.push_back(m_data[1]);
        m_data.erase(m_data.begin() + 1);
        m_syntaxErrorItem.reset();
    }
    if (m_delegate)
        m_delegate->reloadData();
}

void KRProjectPaneDataSource::cleanup()
{
    if (m_didCleanup)
        return;
    m_didCleanup = true;
    m_observations.clear();
    m_pagesItem.reset();
    m_resourcesItem.reset();
    m_syntaxErrorItem.reset();
    for (const auto &item : m_data)
        item->cleanup();
    m_data.clear();
    m_retired.clear();
}

void KRProjectPaneDataSource::retire(std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &&items)
{
    for (auto &item : items)
        m_retired.push_back(std::move(item));
    items.clear();
}

int KRProjectPaneDataSource::numberOfChildren(SLSourceList *, SLItem item)
{
    return item ? int(itemFor(item)->children().size()) : int(m_data.size());
}

SLItem KRProjectPaneDataSource::child(SLSourceList *, int index, SLItem item)
{
    const auto &list = item ? itemFor(item)->children() : m_data;
    return index >= 0 && size_t(index) < list.size() ? list[size_t(index)].get() : nullptr;
}

QVariant KRProjectPaneDataSource::objectValue(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->objectValue() : QVariant();
}

bool KRProjectPaneDataSource::isItemExpandable(SLSourceList *, SLItem item)
{
    return item && !itemFor(item)->children().empty();
}

void KRProjectPaneDataSource::setObjectValue(SLSourceList *, const QVariant &value, SLItem item)
{
    if (!item)
        return;
    // Renaming reads the tree again; the outline reloads once the list has finished the edit.
    const std::shared_ptr<KRProjectPaneDataSourceItem> keep = itemFor(item)->shared_from_this();
    if (m_delegate)
        m_delegate->beginDeferringReloads();
    keep->setObjectValue(value);
    if (m_delegate)
        m_delegate->endDeferringReloads();
}

std::optional<bool> KRProjectPaneDataSource::itemHasBadge(SLSourceList *, SLItem item)
{
    return item && itemFor(item)->itemHasBadge();
}

std::optional<QString> KRProjectPaneDataSource::badgeString(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->badgeStringForItem() : QString();
}

std::optional<QColor> KRProjectPaneDataSource::badgeBackgroundColor(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->badgeBackgroundColorForItem() : QColor();
}

std::optional<QColor> KRProjectPaneDataSource::selectedBadgeBackgroundColor(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->selectedBadgeBackgroundColorForItem() : QColor();
}

std::optional<QColor> KRProjectPaneDataSource::selectedBadgeTextColor(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->selectedBadgeTextColorForItem() : QColor();
}

std::optional<QColor> KRProjectPaneDataSource::selectedUnfocusedBadgeTextColor(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->selectedUnfocusedBadgeTextColorForItem() : QColor();
}

std::optional<QColor> KRProjectPaneDataSource::selectedHiddenBadgeTextColor(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->selectedHiddenBadgeTextColorForItem() : QColor();
}

std::optional<bool> KRProjectPaneDataSource::itemHasIcon(SLSourceList *, SLItem item)
{
    return item && !itemFor(item)->icon().isNull();
}

std::optional<QImage> KRProjectPaneDataSource::icon(SLSourceList *, SLItem item)
{
    return item ? itemFor(item)->icon() : QImage();
}

std::optional<bool> KRProjectPaneDataSource::writeItems(SLSourceList *, const QList<SLItem> &items, QMimeData *data)
{
    QList<QUrl> urls;
    for (SLItem item : items) {
        auto *row = item ? dynamic_cast<KRProjectPaneResourceDataSourceItem *>(itemFor(item)) : nullptr;
        if (const auto resource = row ? row->resource() : nullptr)
            urls.append(QUrl::fromLocalFile(resource->fullPath()));
    }
    if (urls.isEmpty())
        return false;
    data->setUrls(urls);
    data->setData(projectPaneDragMarkType, QByteArray());
    return true;
}

// Files dropped on the outline outside its rows go into the project's resources, as onto the
// RESOURCES group: the pane stands for the project.
std::optional<Qt::DropAction> KRProjectPaneDataSource::validateDrop(SLSourceList *, const QMimeData *data, SLItem item,
                                                                    int childIndex)
{
    if (!item)
        return m_resourcesItem ? m_resourcesItem->validateDrop(data, -1) : Qt::IgnoreAction;
    return itemFor(item)->validateDrop(data, childIndex);
}

std::optional<bool> KRProjectPaneDataSource::acceptDrop(SLSourceList *, const QMimeData *data, SLItem item, int childIndex)
{
    if (!item && !m_resourcesItem)
        return false;
    const std::shared_ptr<KRProjectPaneDataSourceItem> keep =
        item ? itemFor(item)->shared_from_this() : std::shared_ptr<KRProjectPaneDataSourceItem>(m_resourcesItem);
    if (!item)
        childIndex = -1;
    if (m_delegate)
        m_delegate->beginDeferringReloads();
    const bool accepted = keep->acceptDrop(data, childIndex);
    if (m_delegate)
        m_delegate->endDeferringReloads();
    return accepted;
}

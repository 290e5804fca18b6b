#pragma once

#include <platform/foundation/KRObservationToken.h>
#include <widgets/sourcelist/SLSourceListInterfaces.h>

#include <QImage>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class KRPage;
class KRProject;
class KRProjectPaneDataSource;
class KRProjectPaneViewController;
class KRProjectResource;
class QContextMenuEvent;
class QMenu;
class QMimeData;

// One row of the project outline. Each kind of row decides its own label, icon, badge,
// editing, selection, deletion, menu and drop behaviour; the base answers "nothing".
class KRProjectPaneDataSourceItem : public std::enable_shared_from_this<KRProjectPaneDataSourceItem>
{
public:
    explicit KRProjectPaneDataSourceItem(KRProjectPaneDataSource *dataSource, const QString &label = {});
    virtual ~KRProjectPaneDataSourceItem();
    KRProjectPaneDataSourceItem(const KRProjectPaneDataSourceItem &) = delete;
    KRProjectPaneDataSourceItem &operator=(const KRProjectPaneDataSourceItem &) = delete;

    QString label() const { return m_label; }
    void setLabel(const QString &label) { m_label = label; }
    QImage icon() const { return m_icon; }
    void setIcon(const QImage &icon) { m_icon = icon; }
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &children() { return m_children; }
    const std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &children() const { return m_children; }
    KRProjectPaneDataSource *dataSource() const { return m_dataSource; }

    virtual QVariant objectValue() const { return m_label; }
    virtual void setObjectValue(const QVariant &) {}
    virtual void didSelectItem() {}
    // Whether a click that chooses the row leaves the keyboard in the outline (as the arrow
    // keys always do) rather than handing it to what the row shows.
    virtual bool keepsKeyboardWhenClicked() const { return false; }
    virtual void deleteKeyPressedOnItem() {}
    virtual void doubleAction() {}
    // Return on the selected row: its editor takes the keyboard.
    virtual void returnKeyPressedOnItem() {}
    virtual bool shouldEditItem() const { return false; }
    virtual QMenu *menuForEvent(QContextMenuEvent *) { return nullptr; }
    virtual bool itemHasBadge() const { return false; }
    virtual QString badgeStringForItem() const { return {}; }
    // Invalid: the list's own colour.
    virtual QColor badgeBackgroundColorForItem() const { return {}; }
    virtual QColor selectedBadgeBackgroundColorForItem() const { return {}; }
    virtual QColor selectedBadgeTextColorForItem() const { return {}; }
    virtual QColor selectedUnfocusedBadgeTextColorForItem() const { return {}; }
    virtual QColor selectedHiddenBadgeTextColorForItem() const { return {}; }
    virtual Qt::DropAction validateDrop(const QMimeData *, int) { return Qt::IgnoreAction; }
    virtual bool acceptDrop(const QMimeData *, int) { return false; }
    virtual void cleanup();

protected:
    // The pane controller, through the data source; null after tear-down.
    KRProjectPaneViewController *pane() const;
    void reloadOutline() const;

private:
    KRProjectPaneDataSource *m_dataSource; // not owned: owns this item
    QString m_label;
    QImage m_icon;
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> m_children;
};

// "PAGES": one row per page, sorted by page id.
class KRProjectPanePagesDataSourceItem : public KRProjectPaneDataSourceItem
{
public:
    KRProjectPanePagesDataSourceItem(KRProjectPaneDataSource *dataSource, const std::shared_ptr<KRProject> &project);
    // Rebuilds the rows; existing rows are kept for their pages unless makeNew.
    void reloadPages(bool makeNew);
    std::shared_ptr<KRProjectPaneDataSourceItem> dataSourceItemForPage(const std::shared_ptr<KRPage> &page) const;
    void cleanup() override;

private:
    std::weak_ptr<KRProject> m_project;
    std::vector<KRObservationToken> m_observations;
};

// A page row: the page id, renamed in place.
class KRProjectPanePageDataSourceItem : public KRProjectPaneDataSourceItem
{
public:
    KRProjectPanePageDataSourceItem(KRProjectPaneDataSource *dataSource, const std::shared_ptr<KRPage> &page);
    std::shared_ptr<KRPage> page() const { return m_page.lock(); }

    void setObjectValue(const QVariant &value) override;
    void didSelectItem() override;
    void returnKeyPressedOnItem() override { didSelectItem(); }
    void deleteKeyPressedOnItem() override;
    bool shouldEditItem() const override { return true; }
    QMenu *menuForEvent(QContextMenuEvent *event) override;
    void cleanup() override { m_observation = {}; KRProjectPaneDataSourceItem::cleanup(); }

private:
    std::weak_ptr<KRPage> m_page;
    KRObservationToken m_observation;
};

// "RESOURCES": the web folder's files and folders as a tree, without the build's outputs.
class KRProjectPaneResourcesDataSourceItem : public KRProjectPaneDataSourceItem
{
public:
    KRProjectPaneResourcesDataSourceItem(KRProjectPaneDataSource *dataSource, const std::shared_ptr<KRProject> &project);
    void reloadResources();
    void addResourcesFromArray(const QList<std::shared_ptr<KRProjectResource>> &resources,
                               std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &target);
    Qt::DropAction validateDrop(const QMimeData *data, int childIndex) override;
    bool acceptDrop(const QMimeData *data, int childIndex) override;
    void cleanup() override;

private:
    std::weak_ptr<KRProject> m_project;
    std::vector<KRObservationToken> m_observations;
};

// A file or folder of the web folder.
class KRProjectPaneResourceDataSourceItem : public KRProjectPaneDataSourceItem
{
public:
    KRProjectPaneResourceDataSourceItem(KRProjectPaneDataSource *dataSource,
                                        const std::shared_ptr<KRProjectResource> &resource);
    std::shared_ptr<KRProjectResource> resource() const { return m_resource.lock(); }

    void setObjectValue(const QVariant &value) override;
    void didSelectItem() override;
    // A click shows the file's open tab; only Return or a double click edits it.
    bool keepsKeyboardWhenClicked() const override { return true; }
    void deleteKeyPressedOnItem() override;
    void doubleAction() override;
    void returnKeyPressedOnItem() override { doubleAction(); }
    bool shouldEditItem() const override { return true; }
    QMenu *menuForEvent(QContextMenuEvent *event) override;
    bool itemHasBadge() const override;
    QString badgeStringForItem() const override;
    Qt::DropAction validateDrop(const QMimeData *data, int childIndex) override;
    bool acceptDrop(const QMimeData *data, int childIndex) override;

private:
    std::weak_ptr<KRProjectResource> m_resource;
};

// The one row of "SYNTAX ERRORS", with the number of findings as its badge.
class KRProjectPaneSyntaxErrorDataSourceItem : public KRProjectPaneDataSourceItem
{
public:
    KRProjectPaneSyntaxErrorDataSourceItem(KRProjectPaneDataSource *dataSource, const std::shared_ptr<KRProject> &project);
    bool itemHasBadge() const override { return true; }
    QString badgeStringForItem() const override;
    QColor badgeBackgroundColorForItem() const override;
    QColor selectedBadgeBackgroundColorForItem() const override;
    QColor selectedBadgeTextColorForItem() const override { return Qt::white; }
    QColor selectedUnfocusedBadgeTextColorForItem() const override { return Qt::white; }
    QColor selectedHiddenBadgeTextColorForItem() const override { return Qt::white; }

private:
    std::shared_ptr<KRProject> m_project;
};

// Answers the outline's questions by asking the item concerned. Top level: PAGES, then
// SYNTAX ERRORS while the last check found errors, then RESOURCES.
class KRProjectPaneDataSource : public SLSourceListDataSource
{
public:
    static inline const QString PagesLabel = QStringLiteral("PAGES");
    static inline const QString ResourcesLabel = QStringLiteral("RESOURCES");
    static inline const QString SyntaxErrorsLabel = QStringLiteral("SYNTAX ERRORS");

    explicit KRProjectPaneDataSource(const std::shared_ptr<KRProject> &project);
    ~KRProjectPaneDataSource() override;

    std::shared_ptr<KRProject> project() const { return m_project.lock(); }
    KRProjectPaneViewController *delegate() const { return m_delegate; }
    void setDelegate(KRProjectPaneViewController *delegate) { m_delegate = delegate; }
    const std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &data() const { return m_data; }
    KRProjectPanePagesDataSourceItem *pagesDataSourceItem() const { return m_pagesItem.get(); }
    KRProjectPaneResourcesDataSourceItem *resourcesDataSourceItem() const { return m_resourcesItem.get(); }
    KRProjectPaneSyntaxErrorDataSourceItem *syntaxErrorsDataSourceItem() const { return m_syntaxErrorItem.get(); }

    void loadData();
    void didPerformSyntaxCheck();
    void cleanup();
    // Keeps rows that left the tree alive until the outline has read the tree again.
    void retire(std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> &&items);
    void forgetRetiredItems() { m_retired.clear(); }

    static KRProjectPaneDataSourceItem *itemFor(SLItem item)
    {
        return static_cast<KRProjectPaneDataSourceItem *>(const_cast<void *>(item));
    }

    // --- SLSourceListDataSource
    int numberOfChildren(SLSourceList *list, SLItem item) override;
    SLItem child(SLSourceList *list, int index, SLItem item) override;
    QVariant objectValue(SLSourceList *list, SLItem item) override;
    bool isItemExpandable(SLSourceList *list, SLItem item) override;
    void setObjectValue(SLSourceList *list, const QVariant &value, SLItem item) override;
    std::optional<bool> itemHasBadge(SLSourceList *list, SLItem item) override;
    std::optional<QString> badgeString(SLSourceList *list, SLItem item) override;
    std::optional<QColor> badgeBackgroundColor(SLSourceList *list, SLItem item) override;
    std::optional<QColor> selectedBadgeBackgroundColor(SLSourceList *list, SLItem item) override;
    std::optional<QColor> selectedBadgeTextColor(SLSourceList *list, SLItem item) override;
    std::optional<QColor> selectedUnfocusedBadgeTextColor(SLSourceList *list, SLItem item) override;
    std::optional<QColor> selectedHiddenBadgeTextColor(SLSourceList *list, SLItem item) override;
    std::optional<bool> itemHasIcon(SLSourceList *list, SLItem item) override;
    std::optional<QImage> icon(SLSourceList *list, SLItem item) override;
    std::optional<bool> writeItems(SLSourceList *list, const QList<SLItem> &items, QMimeData *data) override;
    std::optional<Qt::DropAction> validateDrop(SLSourceList *list, const QMimeData *data, SLItem item, int childIndex) override;
    std::optional<bool> acceptDrop(SLSourceList *list, const QMimeData *data, SLItem item, int childIndex) override;

private:
    std::weak_ptr<KRProject> m_project;
    KRProjectPaneViewController *m_delegate = nullptr; // not owned: the pane controller
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> m_data;
    std::shared_ptr<KRProjectPanePagesDataSourceItem> m_pagesItem;
    std::shared_ptr<KRProjectPaneResourcesDataSourceItem> m_resourcesItem;
    std::shared_ptr<KRProjectPaneSyntaxErrorDataSourceItem> m_syntaxErrorItem;
    std::vector<std::shared_ptr<KRProjectPaneDataSourceItem>> m_retired;
    std::vector<KRObservationToken> m_observations;
    bool m_didCleanup = false;
};

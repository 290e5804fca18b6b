#pragma once

#include <platform/foundation/KRNotificationCenter.h>

#include <QColor>
#include <QImage>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

class QContextMenuEvent;
class QMenu;
class QMimeData;
class SLSourceList;

// The host's items, opaque to the list; null stands for the invisible root.
using SLItem = const void *;

// What the list shows. The first four questions are required; every optional one answers
// nullopt when the host does not implement it, which the list tells apart from an answer
// (a colour answer may still be an invalid QColor: "no colour", and the default is used).
class SLSourceListDataSource
{
public:
    virtual ~SLSourceListDataSource() = default;

    virtual int numberOfChildren(SLSourceList *list, SLItem item) = 0;
    virtual SLItem child(SLSourceList *list, int index, SLItem item) = 0;
    virtual QVariant objectValue(SLSourceList *list, SLItem item) = 0;
    virtual bool isItemExpandable(SLSourceList *list, SLItem item) = 0;

    // Stores a renamed value; without it an edit is dropped.
    virtual void setObjectValue(SLSourceList *, const QVariant &, SLItem) {}

    virtual std::optional<bool> itemHasBadge(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<qint64> badgeValue(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QString> badgeString(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QColor> badgeTextColor(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QColor> badgeBackgroundColor(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QColor> selectedBadgeBackgroundColor(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QColor> selectedBadgeTextColor(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QColor> selectedUnfocusedBadgeTextColor(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QColor> selectedHiddenBadgeTextColor(SLSourceList *, SLItem) { return std::nullopt; }

    virtual std::optional<bool> itemHasIcon(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<QImage> icon(SLSourceList *, SLItem) { return std::nullopt; }

    // Drag and drop: fill the data for dragged items (file rows as URLs, text/uri-list),
    // judge and take a drop on `item` at `childIndex` (-1: onto the item itself).
    virtual std::optional<bool> writeItems(SLSourceList *, const QList<SLItem> &, QMimeData *) { return std::nullopt; }
    virtual std::optional<Qt::DropAction> validateDrop(SLSourceList *, const QMimeData *, SLItem, int) { return std::nullopt; }
    virtual std::optional<bool> acceptDrop(SLSourceList *, const QMimeData *, SLItem, int) { return std::nullopt; }
};

// The host's say in selection, editing and expansion; nullopt lets the list decide. The
// notification methods are called for the list's own notifications (see SLSourceList).
class SLSourceListDelegate
{
public:
    virtual ~SLSourceListDelegate() = default;

    virtual std::optional<bool> isGroupAlwaysExpanded(SLSourceList *, SLItem) { return std::nullopt; }
    // A context menu for the item under the mouse (null between rows); not owned by the list.
    virtual QMenu *menuForEvent(SLSourceList *, QContextMenuEvent *, SLItem) { return nullptr; }
    virtual std::optional<bool> shouldSelectItem(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<bool> shouldEditItem(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<bool> shouldExpandItem(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<bool> shouldCollapseItem(SLSourceList *, SLItem) { return std::nullopt; }
    virtual std::optional<double> heightOfRow(SLSourceList *, SLItem) { return std::nullopt; }

    virtual void sourceListSelectionIsChanging(const KRNotification &) {}
    virtual void sourceListSelectionDidChange(const KRNotification &) {}
    virtual void sourceListItemWillExpand(const KRNotification &) {}
    virtual void sourceListItemDidExpand(const KRNotification &) {}
    virtual void sourceListItemWillCollapse(const KRNotification &) {}
    virtual void sourceListItemDidCollapse(const KRNotification &) {}
    virtual void sourceListDeleteKeyPressedOnRows(const KRNotification &) {}
};

#pragma once

#include "SBScopeBarCell.h"
#include "SBScopeBarGroup.h"
#include "SBScopeBarLayout.h"

#include <platform/foundation/KRNotificationCenter.h>

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class SBScopeBar;
struct SBScopeBarGroupHelper;

class SBScopeBarDataSource
{
public:
    virtual ~SBScopeBarDataSource() = default;
    virtual int numberOfObjectsInGroup(SBScopeBar *bar, int group) = 0;
    // The object; its title is the bar's formatter's text for it, else its string value.
    virtual QVariant valueForObject(SBScopeBar *bar, int group, int index) = 0;
    // The image beside the title; nullopt or a null image for none.
    virtual std::optional<QImage> imageForObject(SBScopeBar *, int /*group*/, int /*index*/) { return std::nullopt; }
};

// Every question answers nullopt when the delegate has no opinion (the bar then allows).
class SBScopeBarDelegate
{
public:
    virtual ~SBScopeBarDelegate() = default;
    // A selection of this delegate's own bar changed (the notification below).
    virtual void scopeBarSelectionDidChange(const KRNotification &) {}
    virtual std::optional<bool> shouldSelectObject(SBScopeBar *, const QVariant &) { return std::nullopt; }
    virtual std::optional<bool> shouldCollapseGroup(SBScopeBar *, SBScopeBarGroup *) { return std::nullopt; }
    virtual std::optional<bool> shouldExpandGroup(SBScopeBar *, SBScopeBarGroup *) { return std::nullopt; }
};

// A horizontal filter bar of groups of toggle buttons, painted entirely by itself. When it is
// too narrow it squeezes the buttons, then folds groups from the right into pop-ups, then moves
// buttons from the right into an overflow menu at its right end; widening undoes the same
// steps. Layout is lazy: changes mark it, painting (or calcSize) runs it.
class SBScopeBar : public QWidget
{
    Q_OBJECT

public:
    // Posted on the default notification centre with the bar as sender and the group's
    // identifier under SelectionGroupIdentifierKey (absent when the group has none).
    static const QString SelectionDidChangeNotification;
    static const QString SelectionGroupIdentifierKey;

    explicit SBScopeBar(QWidget *parent = nullptr);
    ~SBScopeBar() override;

    SBScopeBarDelegate *delegate() const { return m_delegate; }
    void setDelegate(SBScopeBarDelegate *delegate); // not owned
    SBScopeBarDataSource *dataSource() const { return m_dataSource; }
    void setDataSource(SBScopeBarDataSource *dataSource); // not owned

    // Groups, owned by the bar. The first group made with addGroup() shows no separator.
    SBScopeBarGroup *addGroup();
    SBScopeBarGroup *addGroup(std::unique_ptr<SBScopeBarGroup> group);
    SBScopeBarGroup *insertGroup(std::unique_ptr<SBScopeBarGroup> group, int index);
    std::unique_ptr<SBScopeBarGroup> removeGroup(SBScopeBarGroup *group);
    std::unique_ptr<SBScopeBarGroup> removeGroupAtIndex(int index);
    void moveGroupWithIndex(int from, int to);
    int numberOfGroups() const { return int(m_groups.size()); }
    SBScopeBarGroup *groupAtIndex(int index) const;
    int indexOfGroup(const SBScopeBarGroup *group) const; // -1 when absent
    SBScopeBarGroup *groupWithIdentifier(const QString &identifier) const;

    // Re-reads the objects and repairs radio groups (one object on whenever one is allowed).
    void reloadData();
    void reloadDataForGroup(int index);

    // The button of an object as it is drawn now; nullopt without a data source.
    std::optional<SBScopeBarCell> preparedButtonCellForGroup(int group, int object) const;
    // A collapsed group's pop-up: the selected object, or a placeholder.
    SBScopeBarCell preparedPopUpCellForGroup(int group) const;

    int minimumButtonWidth() const { return m_metrics.minimumButtonWidth; }
    void setMinimumButtonWidth(int width);
    int minimumPopUpWidth() const { return m_metrics.minimumPopUpWidth; }
    void setMinimumPopUpWidth(int width);
    int intercellSpacing() const { return m_metrics.intercellSpacing; }
    void setIntercellSpacing(int spacing);
    bool autoResizesGroups() const { return m_metrics.autoResizesGroups; }
    void setAutoResizesGroups(bool resizes);
    void setFormatter(std::function<QString(const QVariant &)> formatter);

    QWidget *accessoryView() const { return m_accessoryView; }
    void setAccessoryView(QWidget *view); // becomes a child of the bar

    QColor backgroundTopColor() const { return m_topColor; }
    void setBackgroundTopColor(const QColor &color);
    QColor backgroundBottomColor() const { return m_bottomColor; }
    void setBackgroundBottomColor(const QColor &color);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color) { m_borderColor = color; }
    QColor separatorColor() const { return m_separatorColor; }
    void setSeparatorColor(const QColor &color) { m_separatorColor = color; }
    QColor labelColor() const { return m_labelColor; }
    void setLabelColor(const QColor &color) { m_labelColor = color; }

    // Runs the layout now.
    void calcSize();
    // Marks the layout for the next painting.
    void adjustSubviews();

    // The geometry of the last layout, in widget coordinates.
    const SBBarLayout &currentLayout() const { return m_layout; }
    QRect groupFrame(int group) const;
    std::vector<QRect> buttonRects(int group) const; // empty for a collapsed group
    QRect buttonStripRect(int group) const;
    QRect separatorRect(int group) const;
    QRect labelRect(int group) const;
    // The overflow menu's entries (titles; an empty string is a separator), without its face.
    QStringList overflowMenuTitles() const;
    QImage overflowImage() const { return m_overflowImage; }

    // A choice in a collapsed group's pop-up menu, and in the overflow menu.
    void popUpMenuItemSelected(int group, int object);
    void overflowPullDownItemSelected(const QVariant &object);

    QSize sizeHint() const override;

signals:
    void selectionDidChange(SBScopeBarGroup *group);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    friend class SBScopeBarGroup;
    bool mayChangeCollapse(SBScopeBarGroup *group, bool collapse) const;
    bool mayTurnOn(const QVariant &object) const;
    void groupSelectionDidChange(SBScopeBarGroup *group);
    void resetSelectionForGroup(SBScopeBarGroup *group);
    void checkGroupIndex(int index, const char *message) const;
    QString titleFor(const QVariant &object) const;
    SBGroupMeasure measureGroup(int index) const;
    bool drawsSeparator(int index) const;
    void placeGroup(int index);
    void layoutIfNeeded();
    void updateHover(const QPoint &pos);
    QMenu *makeMenu();
    void openGroupMenu(int group);
    void openOverflowMenu();

    SBScopeBarDelegate *m_delegate = nullptr;     // not owned
    SBScopeBarDataSource *m_dataSource = nullptr; // not owned
    KRObservationToken m_delegateObservation;
    std::vector<std::unique_ptr<SBScopeBarGroupHelper>> m_groups;
    SBLayoutMetrics m_metrics;
    std::function<QString(const QVariant &)> m_formatter;
    QPointer<QWidget> m_accessoryView;
    QColor m_topColor;
    QColor m_bottomColor;
    QColor m_borderColor;
    QColor m_separatorColor;
    QColor m_labelColor;
    QImage m_overflowImage;
    SBBarLayout m_layout;
    bool m_needsLayout = true;

    // Mouse state: the button (or pop-up, object -1) under the mouse, the button being
    // pressed, and whether the overflow button is under the mouse.
    int m_hoverGroup = -1;
    int m_hoverObject = -1;
    int m_pressedGroup = -1;
    int m_pressedObject = -1;
    bool m_pressedInside = false;
    bool m_trackingOverflow = false;
    QPointer<QMenu> m_menu;
};

#include "SBScopeBar.h"
#include "SBScopeBarAccessible.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <stdexcept>

static void initScopeBarResources()
{
    Q_INIT_RESOURCE(scopebar);
}

const QString SBScopeBar::SelectionDidChangeNotification = QStringLiteral("SBScopeBarSelectionDidChangeNotification");
const QString SBScopeBar::SelectionGroupIdentifierKey = QStringLiteral("SBGroupIdentifierKey");

// One group as the bar lays it out and tracks it.
struct SBScopeBarGroupHelper
{
    std::unique_ptr<SBScopeBarGroup> group;
    SBGroupMeasure measure;
    int peeled = 0;
    QRect frame;
    QRect buttonStrip;
    QRect separatorRect;
    QRect labelRect;
    std::vector<QRect> buttonRects;
};

namespace {

constexpr double SBBarSeparatorInset = 0.18;
constexpr int SBBarSpaceAfterSeparator = 10;
constexpr int SBBarSpaceAfterLabel = 10;

QFont sbBarLabelFont()
{
    QFont font;
    font.setPixelSize(12);
    font.setBold(true);
    return font;
}

} // namespace

SBScopeBar::SBScopeBar(QWidget *parent)
    : QWidget(parent)
    , m_topColor(QColor::fromRgbF(0.94f, 0.94f, 0.94f))
    , m_bottomColor(QColor::fromRgbF(0.8f, 0.8f, 0.8f))
    , m_borderColor(QColor::fromRgbF(0.6f, 0.6f, 0.6f))
    , m_separatorColor(QColor::fromRgbF(0.46f, 0.46f, 0.46f))
    , m_labelColor(QColor::fromRgbF(0.46f, 0.46f, 0.46f))
{
    initScopeBarResources();
    SBInstallScopeBarAccessibility();
    m_overflowImage = QImage(QStringLiteral(":/scopebar/overflowImage.png"));
    setMouseTracking(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

SBScopeBar::~SBScopeBar()
{
    delete m_menu;
}

void SBScopeBar::setDelegate(SBScopeBarDelegate *delegate)
{
    if (delegate == m_delegate)
        return;
    m_delegateObservation.reset();
    m_delegate = delegate;
    if (!m_delegate)
        return;
    // Only this bar's changes: a window's delegate has no business with another window's bar.
    m_delegateObservation = KRNotificationCenter::defaultCenter().addObserver(
        SelectionDidChangeNotification, this, [this](const KRNotification &notification) {
            if (m_delegate)
                m_delegate->scopeBarSelectionDidChange(notification);
        });
}

void SBScopeBar::setDataSource(SBScopeBarDataSource *dataSource)
{
    m_dataSource = dataSource;
    adjustSubviews();
}

SBScopeBarGroup *SBScopeBar::addGroup()
{
    auto group = std::make_unique<SBScopeBarGroup>();
    if (m_groups.empty())
        group->m_showsSeparator = false;
    return addGroup(std::move(group));
}

SBScopeBarGroup *SBScopeBar::addGroup(std::unique_ptr<SBScopeBarGroup> group)
{
    return insertGroup(std::move(group), numberOfGroups());
}

SBScopeBarGroup *SBScopeBar::insertGroup(std::unique_ptr<SBScopeBarGroup> group, int index)
{
    if (index < 0 || index > numberOfGroups())
        throw std::out_of_range("SBScopeBar:insertGroup:atIndex: groupIndex invalid");
    if (!group)
        throw std::invalid_argument("SBScopeBar:insertGroup:atIndex: group missing");
    auto helper = std::make_unique<SBScopeBarGroupHelper>();
    helper->group = std::move(group);
    helper->group->m_scopeBar = this;
    SBScopeBarGroup *inserted = helper->group.get();
    m_groups.insert(m_groups.begin() + index, std::move(helper));
    adjustSubviews();
    return inserted;
}

std::unique_ptr<SBScopeBarGroup> SBScopeBar::removeGroup(SBScopeBarGroup *group)
{
    const int index = indexOfGroup(group);
    return index < 0 ? nullptr : removeGroupAtIndex(index);
}

std::unique_ptr<SBScopeBarGroup> SBScopeBar::removeGroupAtIndex(int index)
{
    if (index < 0 || index >= numberOfGroups())
        throw std::out_of_range("SBScopeBar:removeGroup:atIndex: groupIndex invalid");
    std::unique_ptr<SBScopeBarGroup> group = std::move(m_groups[size_t(index)]->group);
    group->m_scopeBar = nullptr;
    m_groups.erase(m_groups.begin() + index);
    m_hoverGroup = m_pressedGroup = -1;
    adjustSubviews();
    return group;
}

void SBScopeBar::moveGroupWithIndex(int from, int to)
{
    if (from < 0 || from >= numberOfGroups())
        throw std::out_of_range("SBScopeBar:moveGroupWithIndex:toIndex: originalIndex invalid");
    if (to < 0 || to >= numberOfGroups())
        throw std::out_of_range("SBScopeBar:moveGroupWithIndex:toIndex: destinationIndex invalid");
    auto helper = std::move(m_groups[size_t(from)]);
    m_groups.erase(m_groups.begin() + from);
    m_groups.insert(m_groups.begin() + to, std::move(helper));
    adjustSubviews();
}

SBScopeBarGroup *SBScopeBar::groupAtIndex(int index) const
{
    checkGroupIndex(index, "SBScopeBar:groupAtIndex: groupIndex invalid");
    return m_groups[size_t(index)]->group.get();
}

int SBScopeBar::indexOfGroup(const SBScopeBarGroup *group) const
{
    for (size_t i = 0; i < m_groups.size(); ++i) {
        if (m_groups[i]->group.get() == group)
            return int(i);
    }
    return -1;
}

SBScopeBarGroup *SBScopeBar::groupWithIdentifier(const QString &identifier) const
{
    for (const auto &helper : m_groups) {
        if (helper->group->identifier() == identifier)
            return helper->group.get();
    }
    return nullptr;
}

void SBScopeBar::checkGroupIndex(int index, const char *message) const
{
    if (index < 0 || index >= numberOfGroups())
        throw std::out_of_range(message);
}

void SBScopeBar::reloadData()
{
    for (const auto &helper : m_groups)
        resetSelectionForGroup(helper->group.get());
    adjustSubviews();
}

void SBScopeBar::reloadDataForGroup(int index)
{
    checkGroupIndex(index, "SBScopeBar:reloadDataForGroup: groupIndex invalid");
    resetSelectionForGroup(m_groups[size_t(index)]->group.get());
    adjustSubviews();
}

void SBScopeBar::resetSelectionForGroup(SBScopeBarGroup *group)
{
    if (!group->isRadio())
        return;
    const std::set<int> &selection = group->selectionIndexes();
    if (selection.empty()) {
        const int count = group->numberOfObjects();
        for (int i = 0; i < count; ++i) {
            if (mayTurnOn(group->objectAtIndex(i))) {
                group->setSelectionIndexes({i});
                return;
            }
        }
    } else if (selection.size() > 1) {
        group->setSelectionIndexes({*selection.begin()});
    }
}

bool SBScopeBar::mayTurnOn(const QVariant &object) const
{
    if (!m_delegate)
        return true;
    return m_delegate->shouldSelectObject(const_cast<SBScopeBar *>(this), object).value_or(true);
}

bool SBScopeBar::mayChangeCollapse(SBScopeBarGroup *group, bool collapse) const
{
    if (!m_delegate)
        return true;
    auto *bar = const_cast<SBScopeBar *>(this);
    const std::optional<bool> answer = collapse ? m_delegate->shouldCollapseGroup(bar, group)
                                                : m_delegate->shouldExpandGroup(bar, group);
    return answer.value_or(true);
}

void SBScopeBar::groupSelectionDidChange(SBScopeBarGroup *group)
{
    QVariantMap userInfo;
    if (!group->identifier().isEmpty())
        userInfo.insert(SelectionGroupIdentifierKey, group->identifier());
    KRNotificationCenter::defaultCenter().post(SelectionDidChangeNotification, this, userInfo);
    emit selectionDidChange(group);
}

QString SBScopeBar::titleFor(const QVariant &object) const
{
    return m_formatter ? m_formatter(object) : object.toString();
}

std::optional<SBScopeBarCell> SBScopeBar::preparedButtonCellForGroup(int groupIndex, int object) const
{
    checkGroupIndex(groupIndex, "SBScopeBar:preparedButtonCellForGroup:object: groupIndex invalid");
    const SBScopeBarGroup *group = m_groups[size_t(groupIndex)]->group.get();
    if (object < 0 || object >= group->numberOfObjects())
        throw std::out_of_range("SBScopeBar:preparedButtonCellForGroup:object: objectIndex invalid");
    if (!m_dataSource)
        return std::nullopt;
    SBScopeBarCell cell;
    auto *bar = const_cast<SBScopeBar *>(this);
    cell.title = titleFor(m_dataSource->valueForObject(bar, groupIndex, object));
    cell.image = m_dataSource->imageForObject(bar, groupIndex, object).value_or(QImage());
    cell.on = group->selectionIndexes().count(object) > 0;
    return cell;
}

SBScopeBarCell SBScopeBar::preparedPopUpCellForGroup(int groupIndex) const
{
    checkGroupIndex(groupIndex, "SBScopeBar:preparedPopUpCellForGroup: groupIndex invalid");
    const SBScopeBarGroup *group = m_groups[size_t(groupIndex)]->group.get();
    SBScopeBarCell cell;
    cell.popUp = true;
    std::vector<int> on;
    const int count = group->numberOfObjects();
    for (int index : group->selectionIndexes()) {
        if (index < count)
            on.push_back(index);
    }
    if (on.empty()) {
        cell.title = group->noSelectionPlaceholder();
    } else if (on.size() == 1) {
        if (std::optional<SBScopeBarCell> button = preparedButtonCellForGroup(groupIndex, on.front())) {
            cell.title = button->title;
            cell.image = button->image;
        }
        cell.alwaysBordered = true;
    } else {
        cell.title = group->multipleSelectionPlaceholder();
        cell.alwaysBordered = true;
    }
    return cell;
}

void SBScopeBar::setMinimumButtonWidth(int width)
{
    m_metrics.minimumButtonWidth = std::max(0, width);
    reloadData();
}

void SBScopeBar::setMinimumPopUpWidth(int width)
{
    m_metrics.minimumPopUpWidth = std::max(0, width);
    reloadData();
}

void SBScopeBar::setIntercellSpacing(int spacing)
{
    m_metrics.intercellSpacing = std::max(0, spacing);
    reloadData();
}

void SBScopeBar::setAutoResizesGroups(bool resizes)
{
    m_metrics.autoResizesGroups = resizes;
}

void SBScopeBar::setFormatter(std::function<QString(const QVariant &)> formatter)
{
    m_formatter = std::move(formatter);
    reloadData();
}

void SBScopeBar::setAccessoryView(QWidget *view)
{
    if (m_accessoryView == view)
        return;
    delete m_accessoryView;
    m_accessoryView = view;
    if (view)
        view->setParent(this);
    adjustSubviews();
}

void SBScopeBar::setBackgroundTopColor(const QColor &color)
{
    m_topColor = color;
    adjustSubviews();
}

void SBScopeBar::setBackgroundBottomColor(const QColor &color)
{
    m_bottomColor = color;
    adjustSubviews();
}

void SBScopeBar::adjustSubviews()
{
    m_needsLayout = true;
    update();
}

// A separator stands between groups: the first group never draws one, whichever way it came
// to be first (inserted at the front, or the group before it removed).
bool SBScopeBar::drawsSeparator(int index) const
{
    return index > 0 && m_groups[size_t(index)]->group->showsSeparator();
}

SBGroupMeasure SBScopeBar::measureGroup(int index) const
{
    const SBScopeBarGroup *group = m_groups[size_t(index)]->group.get();
    SBGroupMeasure measure;
    const double labelWidth = group->showsLabel() ? QFontMetricsF(sbBarLabelFont()).horizontalAdvance(group->label()) : 0;
    measure.headerWidth = sbHeaderWidth(group->showsLabel(), labelWidth, drawsSeparator(index));
    measure.collapsed = group->isCollapsed();
    if (!m_dataSource)
        return measure;
    const int count = group->numberOfObjects();
    measure.buttonWidths.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        measure.buttonWidths.push_back(preparedButtonCellForGroup(index, i)->naturalSize().width());
    measure.popUpWidth = preparedPopUpCellForGroup(index).naturalSize().width();
    return measure;
}

void SBScopeBar::calcSize()
{
    m_needsLayout = false;
    std::vector<SBGroupMeasure> measures;
    measures.reserve(m_groups.size());
    for (int i = 0; i < numberOfGroups(); ++i)
        measures.push_back(measureGroup(i));
    const QSize overflowSize = m_overflowImage.isNull() ? QSize() : m_overflowImage.size() + QSize(12, 0);
    const QSize accessory = m_accessoryView ? m_accessoryView->size() : QSize();
    m_layout = sbLayoutBar(rect(), measures, m_metrics, overflowSize, accessory,
                           [this](int group, bool collapse) {
                               return mayChangeCollapse(m_groups[size_t(group)]->group.get(), collapse);
                           });
    if (m_accessoryView)
        m_accessoryView->setGeometry(m_layout.accessoryRect);
    for (int i = 0; i < numberOfGroups(); ++i) {
        SBScopeBarGroupHelper &helper = *m_groups[size_t(i)];
        const SBGroupPlacement &placement = m_layout.groups[size_t(i)];
        helper.measure = std::move(measures[size_t(i)]);
        helper.measure.collapsed = placement.collapsed;
        helper.group->m_collapsed = placement.collapsed;
        helper.peeled = placement.peeled;
        helper.frame = placement.frame;
        placeGroup(i);
    }
}

void SBScopeBar::layoutIfNeeded()
{
    if (m_needsLayout)
        calcSize();
}

// The separator, label and button strip inside a group's frame.
void SBScopeBar::placeGroup(int index)
{
    SBScopeBarGroupHelper &helper = *m_groups[size_t(index)];
    const SBScopeBarGroup &group = *helper.group;
    helper.separatorRect = helper.labelRect = helper.buttonStrip = QRect();
    helper.buttonRects.clear();
    const int count = int(helper.measure.buttonWidths.size());
    if (count == 0)
        return;
    QRect strip = helper.frame;
    if (drawsSeparator(index)) {
        const int inset = int(SBBarSeparatorInset * strip.height());
        helper.separatorRect = QRect(strip.x(), strip.y() + inset, 1, std::max(0, strip.height() - 2 * inset));
        strip.setLeft(strip.left() + 1);
        if (strip.width() >= SBBarSpaceAfterSeparator)
            strip.setLeft(strip.left() + SBBarSpaceAfterSeparator);
    }
    if (group.showsLabel()) {
        const QFontMetricsF metrics(sbBarLabelFont());
        const int width = int(1 + metrics.horizontalAdvance(group.label()));
        const int height = int(std::ceil(metrics.height()));
        // Centred, one point above the middle.
        helper.labelRect = QRect(strip.x(), strip.y() + (strip.height() - height) / 2 - 1, width, height);
        strip.setLeft(strip.left() + width);
        if (strip.width() >= SBBarSpaceAfterLabel)
            strip.setLeft(strip.left() + SBBarSpaceAfterLabel);
    }
    const int height = SBScopeBarCell::Height + SBScopeBarCell::Height % 2;
    helper.buttonStrip = QRect(strip.x(), helper.frame.y() + (helper.frame.height() - height) / 2,
                               std::max(0, strip.width()), height);
    if (!group.isCollapsed())
        helper.buttonRects = sbButtonFrames(helper.buttonStrip, helper.frame.width(), helper.measure,
                                            count - helper.peeled, m_metrics);
}

QRect SBScopeBar::groupFrame(int group) const
{
    checkGroupIndex(group, "SBScopeBar:groupFrame: groupIndex invalid");
    return m_groups[size_t(group)]->frame;
}

std::vector<QRect> SBScopeBar::buttonRects(int group) const
{
    checkGroupIndex(group, "SBScopeBar:buttonRects: groupIndex invalid");
    return m_groups[size_t(group)]->buttonRects;
}

QRect SBScopeBar::buttonStripRect(int group) const
{
    checkGroupIndex(group, "SBScopeBar:buttonStripRect: groupIndex invalid");
    return m_groups[size_t(group)]->buttonStrip;
}

QRect SBScopeBar::separatorRect(int group) const
{
    checkGroupIndex(group, "SBScopeBar:separatorRect: groupIndex invalid");
    return m_groups[size_t(group)]->separatorRect;
}

QRect SBScopeBar::labelRect(int group) const
{
    checkGroupIndex(group, "SBScopeBar:labelRect: groupIndex invalid");
    return m_groups[size_t(group)]->labelRect;
}

QStringList SBScopeBar::overflowMenuTitles() const
{
    QStringList titles;
    for (const SBOverflowEntry &entry : m_layout.overflow) {
        if (entry.isSeparator())
            titles.append(QString());
        else if (auto cell = preparedButtonCellForGroup(entry.group, entry.object))
            titles.append(cell->title);
    }
    return titles;
}

void SBScopeBar::popUpMenuItemSelected(int groupIndex, int object)
{
    SBScopeBarGroup *group = groupAtIndex(groupIndex);
    if (!mayTurnOn(group->objectAtIndex(object)))
        return;
    group->didClickObject(object);
    adjustSubviews();
}

void SBScopeBar::overflowPullDownItemSelected(const QVariant &object)
{
    for (const auto &helper : m_groups) {
        const int index = helper->group->indexForObject(object);
        if (index < 0)
            continue;
        if (!mayTurnOn(object))
            return;
        helper->group->didClickObject(index);
        adjustSubviews();
        return;
    }
}

QSize SBScopeBar::sizeHint() const
{
    int width = 2 * m_metrics.outerMargin;
    for (int i = 0; i < numberOfGroups(); ++i)
        width += sbGroupWidths(measureGroup(i), 0, m_metrics).maximum + (i > 0 ? m_metrics.groupSpacing : 0);
    return QSize(width, 25);
}

void SBScopeBar::paintEvent(QPaintEvent *)
{
    layoutIfNeeded();
    QPainter painter(this);
    // The gradient runs from the bottom colour up.
    QLinearGradient gradient(0, height(), 0, 0);
    gradient.setColorAt(0, m_bottomColor);
    gradient.setColorAt(1, m_topColor);
    painter.fillRect(rect(), gradient);
    painter.fillRect(QRect(0, height() - 1, width(), 1), m_borderColor);

    for (int g = 0; g < numberOfGroups(); ++g) {
        const SBScopeBarGroupHelper &helper = *m_groups[size_t(g)];
        const int count = int(helper.measure.buttonWidths.size());
        if (helper.peeled >= count)
            continue;
        if (!helper.separatorRect.isEmpty())
            painter.fillRect(helper.separatorRect, m_separatorColor);
        if (!helper.labelRect.isEmpty()) {
            painter.setFont(sbBarLabelFont());
            painter.setPen(m_labelColor);
            painter.drawText(helper.labelRect, Qt::AlignLeft | Qt::AlignVCenter, helper.group->label());
        }
        if (helper.group->isCollapsed()) {
            SBScopeBarCell cell = preparedPopUpCellForGroup(g);
            cell.hovered = m_hoverGroup == g;
            cell.draw(painter, helper.buttonStrip);
            continue;
        }
        for (size_t i = 0; i < helper.buttonRects.size(); ++i) {
            std::optional<SBScopeBarCell> cell = preparedButtonCellForGroup(g, int(i));
            if (!cell)
                break;
            const bool pressed = m_pressedGroup == g && m_pressedObject == int(i);
            cell->hovered = (m_hoverGroup == g && m_hoverObject == int(i)) || pressed;
            cell->highlighted = pressed && m_pressedInside;
            cell->draw(painter, helper.buttonRects[i]);
        }
    }

    if (!m_layout.overflow.empty() && !m_overflowImage.isNull()) {
        const QRect face = m_layout.overflowRect;
        if (m_trackingOverflow) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0, 0, 0, 40));
            painter.drawRoundedRect(QRectF(face).adjusted(0, -2, 0, 2), 4, 4);
        }
        painter.drawImage(QPoint(face.x() + (face.width() - m_overflowImage.width()) / 2,
                                 face.y() + (face.height() - m_overflowImage.height()) / 2),
                          m_overflowImage);
    }
}

void SBScopeBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    adjustSubviews();
}

void SBScopeBar::updateHover(const QPoint &pos)
{
    int group = -1;
    int object = -1;
    const bool overflow = !m_layout.overflow.empty() && m_layout.overflowRect.contains(pos);
    for (int g = 0; !overflow && g < numberOfGroups() && group < 0; ++g) {
        const SBScopeBarGroupHelper &helper = *m_groups[size_t(g)];
        if (!helper.frame.contains(pos) || helper.peeled >= int(helper.measure.buttonWidths.size()))
            continue;
        if (helper.group->isCollapsed()) {
            if (pos.x() >= helper.buttonStrip.left() && pos.x() <= helper.buttonStrip.right())
                group = g;
            continue;
        }
        for (size_t i = 0; i < helper.buttonRects.size(); ++i) {
            if (helper.buttonRects[i].contains(pos)) {
                group = g;
                object = int(i);
                break;
            }
        }
    }
    if (group != m_hoverGroup || object != m_hoverObject || overflow != m_trackingOverflow) {
        m_hoverGroup = group;
        m_hoverObject = object;
        m_trackingOverflow = overflow;
        update();
    }
}

void SBScopeBar::mouseMoveEvent(QMouseEvent *event)
{
    layoutIfNeeded();
    const QPoint pos = event->position().toPoint();
    if (m_pressedGroup >= 0) {
        const std::vector<QRect> &rects = m_groups[size_t(m_pressedGroup)]->buttonRects;
        const bool inside = m_pressedObject < int(rects.size()) && rects[size_t(m_pressedObject)].contains(pos);
        if (inside != m_pressedInside) {
            m_pressedInside = inside;
            update();
        }
        return;
    }
    updateHover(pos);
}

void SBScopeBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    layoutIfNeeded();
    updateHover(event->position().toPoint());
    if (m_trackingOverflow) {
        openOverflowMenu();
        return;
    }
    if (m_hoverGroup < 0)
        return;
    SBScopeBarGroup *group = m_groups[size_t(m_hoverGroup)]->group.get();
    if (m_hoverObject < 0) {
        openGroupMenu(m_hoverGroup);
        return;
    }
    if (!mayTurnOn(group->objectAtIndex(m_hoverObject)))
        return;
    m_pressedGroup = m_hoverGroup;
    m_pressedObject = m_hoverObject;
    m_pressedInside = true;
    update();
}

void SBScopeBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_pressedGroup < 0) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const int groupIndex = m_pressedGroup;
    const int object = m_pressedObject;
    const std::vector<QRect> &rects = m_groups[size_t(groupIndex)]->buttonRects;
    const bool inside = object < int(rects.size()) && rects[size_t(object)].contains(event->position().toPoint());
    m_pressedGroup = m_pressedObject = -1;
    m_pressedInside = false;
    if (inside) {
        m_groups[size_t(groupIndex)]->group->didClickObject(object);
        adjustSubviews();
    }
    updateHover(event->position().toPoint());
    update();
}

void SBScopeBar::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (m_pressedGroup < 0)
        updateHover(QPoint(-1, -1));
}

QMenu *SBScopeBar::makeMenu()
{
    delete m_menu;
    m_menu = new QMenu(this);
    m_menu->setAttribute(Qt::WA_DeleteOnClose);
    return m_menu;
}

void SBScopeBar::openGroupMenu(int groupIndex)
{
    QMenu *menu = makeMenu();
    const SBScopeBarGroup *group = groupAtIndex(groupIndex);
    const int count = group->numberOfObjects();
    for (int i = 0; i < count; ++i) {
        const std::optional<SBScopeBarCell> cell = preparedButtonCellForGroup(groupIndex, i);
        if (!cell)
            break;
        QAction *action = menu->addAction(cell->title);
        if (!cell->image.isNull())
            action->setIcon(QPixmap::fromImage(cell->image));
        action->setCheckable(true);
        action->setChecked(cell->on);
        connect(action, &QAction::triggered, this, [this, groupIndex, i] { popUpMenuItemSelected(groupIndex, i); });
    }
    menu->popup(mapToGlobal(m_groups[size_t(groupIndex)]->buttonStrip.bottomLeft()));
}

void SBScopeBar::openOverflowMenu()
{
    QMenu *menu = makeMenu();
    // The pull-down's face (the image) is the button itself, not an entry of the menu.
    for (const SBOverflowEntry &entry : m_layout.overflow) {
        if (entry.isSeparator()) {
            menu->addSeparator();
            continue;
        }
        const std::optional<SBScopeBarCell> cell = preparedButtonCellForGroup(entry.group, entry.object);
        if (!cell)
            continue;
        QAction *action = menu->addAction(cell->title);
        if (!cell->image.isNull())
            action->setIcon(QPixmap::fromImage(cell->image));
        action->setCheckable(true);
        action->setChecked(cell->on);
        const QVariant object = groupAtIndex(entry.group)->objectAtIndex(entry.object);
        connect(action, &QAction::triggered, this, [this, object] { overflowPullDownItemSelected(object); });
    }
    m_trackingOverflow = false;
    menu->popup(mapToGlobal(m_layout.overflowRect.bottomLeft()));
}

#include "KRPropertyEditorViewController.h"

#include <model/KRClassRegistry.h>
#include <model/KRObjectClass.h>
#include <model/KRFunction.h>
#include <model/KRObject.h>
#include <model/KRProject.h>
#include <platform/appkit/KRBinding.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRLogSink.h>
#include <widgets/help/KRHelpButtonController.h>

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmapCache>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <optional>

// --- Table

namespace {

// The table's scroll bar. Every inspector has one, and the style draws it with gradients that
// take long over its whole height; one at rest is drawn once for each look it takes and then
// copied. Under the pointer or held it is drawn as any other, with its hover and press states.
class KRPropertyEditorScrollBar : public QScrollBar
{
public:
    using QScrollBar::QScrollBar;

protected:
    static constexpr int ScrollBarBand = 48;

    void paintEvent(QPaintEvent *event) override
    {
        if (underMouse() || isSliderDown()) {
            QScrollBar::paintEvent(event);
            return;
        }
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        option.activeSubControls = QStyle::SC_None;
        const qreal ratio = devicePixelRatioF();
        const QString key = QStringLiteral("KRPropertyEditorScrollBar:%1:%2:%3:%4:%5:%6:%7:%8:%9")
                                .arg(style()->name())
                                .arg(QString::number(width()) + QLatin1Char('x') + QString::number(height()))
                                .arg(QString::number(option.minimum) + QLatin1Char(',') + QString::number(option.maximum))
                                .arg(QString::number(option.sliderPosition) + QLatin1Char(',') + QString::number(option.pageStep))
                                .arg(int(option.state))
                                .arg(int(option.orientation))
                                .arg(option.palette.cacheKey())
                                .arg(ratio)
                                .arg(int(option.direction));
        QPixmap picture;
        if (!QPixmapCache::find(key, &picture)) {
            // On the window's background, as the bar stands, in bands a few dozen lines high,
            // each drawn whole into a picture of its own: the painter fills a taller area line
            // group by line group on other threads, and waking them costs more than the drawing.
            picture = QPixmap((QSizeF(size()) * ratio).toSize());
            picture.setDevicePixelRatio(ratio);
            QPainter whole(&picture);
            for (int top = 0; top < height(); top += ScrollBarBand) {
                QImage band((QSizeF(width(), std::min(ScrollBarBand, height() - top)) * ratio).toSize(),
                            QImage::Format_ARGB32_Premultiplied);
                band.setDevicePixelRatio(ratio);
                band.fill(palette().color(QPalette::Window));
                QPainter painter(&band);
                painter.translate(0, -top);
                style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, this);
                painter.end();
                whole.drawImage(QPoint(0, top), band);
            }
            whole.end();
            QPixmapCache::insert(key, picture);
        }
        QPainter(this).drawPixmap(0, 0, picture);
    }
};

// The style of the rows' text fields and check boxes: the application's, with the field's
// panel and the box's square drawn once for each size and state and then copied. Showing an
// inspector draws every field and box it shows, and their rounded, antialiased frames took
// longer to draw than anything else of a row.
class KRRowControlStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    // Null when the application's style cannot be made again to draw under this one.
    static QStyle *shared()
    {
        static QStyle *const style = [] () -> QStyle * {
            QStyle *base = QStyleFactory::create(QApplication::style()->name());
            return base ? new KRRowControlStyle(base) : nullptr;
        }();
        return style;
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if ((element != PE_PanelLineEdit && element != PE_IndicatorCheckBox) || !option || option->rect.isEmpty()
            || option->rect.width() > 1000 || option->rect.height() > 200
            || painter->transform().type() > QTransform::TxTranslate) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        const qreal ratio = painter->device()->devicePixelRatioF();
        QString key = QStringLiteral("KRRowControlStyle:%1:%2x%3@%4:%5:%6:%7:%8")
                          .arg(int(element))
                          .arg(option->rect.width())
                          .arg(option->rect.height())
                          .arg(ratio)
                          .arg(int(option->state))
                          .arg(option->palette.cacheKey())
                          .arg(int(option->palette.currentColorGroup()))
                          .arg(int(option->direction));
        // A copy at the picture's origin (the options have no virtual destructor: each kind is
        // kept as itself).
        std::optional<QStyleOptionFrame> frameAtOrigin;
        std::optional<QStyleOptionButton> buttonAtOrigin;
        QStyleOption *atOrigin = nullptr;
        if (const auto *frame = qstyleoption_cast<const QStyleOptionFrame *>(option)) {
            key += QStringLiteral(":%1:%2:%3:%4")
                       .arg(frame->lineWidth)
                       .arg(frame->midLineWidth)
                       .arg(int(frame->features))
                       .arg(int(frame->frameShape));
            atOrigin = &frameAtOrigin.emplace(*frame);
        } else if (const auto *button = qstyleoption_cast<const QStyleOptionButton *>(option)) {
            key += QStringLiteral(":%1").arg(int(button->features));
            atOrigin = &buttonAtOrigin.emplace(*button);
        } else {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            return;
        }
        atOrigin->rect.moveTo(0, 0);
        QPixmap picture;
        if (!QPixmapCache::find(key, &picture)) {
            picture = QPixmap((QSizeF(option->rect.size()) * ratio).toSize());
            picture.setDevicePixelRatio(ratio);
            picture.fill(Qt::transparent);
            QPainter into(&picture);
            QProxyStyle::drawPrimitive(element, atOrigin, &into, widget);
            into.end();
            QPixmapCache::insert(key, picture);
        }
        painter->drawPixmap(option->rect.topLeft(), picture);
    }
};

// A text field or check box of a row takes the row style; those inside other controls (the
// field of a combo box or a stepper) are drawn by their control.
void krUseRowControlStyle(QWidget *control)
{
    QStyle *style = KRRowControlStyle::shared();
    if (!style || control->style() == style || control->testAttribute(Qt::WA_SetStyle)
        || !control->styleSheet().isEmpty() || !qApp->styleSheet().isEmpty())
        return;
    QWidget *parent = control->parentWidget();
    if (qobject_cast<QLineEdit *>(control)
        && (qobject_cast<QComboBox *>(parent) || qobject_cast<QAbstractSpinBox *>(parent)))
        return;
    control->setStyle(style);
}

} // namespace

KRPropertyEditorTableView::KRPropertyEditorTableView(KRPropertyEditorViewController *controller, QWidget *parent)
    : QScrollArea(parent), m_controller(controller), m_content(new QWidget), m_layout(new QVBoxLayout(m_content))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_layout->addStretch(1);
    setWidget(m_content);
    // The rows stand on the window's own background. An opaque content widget (or viewport)
    // would be repainted on its own and then again under the rows when the pane shows the
    // inspector, since showing marks every row for repainting.
    m_content->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBar(new KRPropertyEditorScrollBar(Qt::Vertical, this));
}

void KRPropertyEditorTableView::reloadData()
{
    const auto &items = m_controller->madeRows();
    const auto &visible = m_controller->visiblePropertyEditorItems();
    // Every row's view sits in the layout in build order; hidden rows take no room.
    int position = 0;
    for (const auto &item : items) {
        QWidget *view = item->view();
        if (!view)
            continue;
        if (m_layout->indexOf(view) != position) {
            m_layout->removeWidget(view);
            m_layout->insertWidget(position, view);
        }
        ++position;
        view->setFixedHeight(int(item->viewHeight()));
        view->setVisible(visible.contains(item.get()));
        guardWheel(view);
    }
}

void KRPropertyEditorTableView::guardWheel(QWidget *view)
{
    // A row may make its controls after it is first laid out: each layout looks again (a
    // filter installed twice is kept once).
    for (QWidget *child : view->findChildren<QWidget *>()) {
        if (qobject_cast<QLineEdit *>(child) || qobject_cast<QCheckBox *>(child))
            krUseRowControlStyle(child);
        if (!qobject_cast<QComboBox *>(child) && !qobject_cast<QAbstractSpinBox *>(child))
            continue;
        // A turn of the wheel would otherwise give it the keyboard before it reaches it.
        if (child->focusPolicy() == Qt::WheelFocus)
            child->setFocusPolicy(Qt::StrongFocus);
        child->installEventFilter(this);
    }
}

bool KRPropertyEditorTableView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel) {
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && !widget->hasFocus()) {
            // Scrolled here: a turn handed on to the scroll bar comes back up through its
            // parents when the bar is at its end.
            const auto *wheel = static_cast<QWheelEvent *>(event);
            QScrollBar *bar = verticalScrollBar();
            const int pixels = wheel->pixelDelta().y();
            const int by = pixels ? -pixels
                                  : -qRound(wheel->angleDelta().y() / 120.0 * bar->singleStep() * QApplication::wheelScrollLines());
            bar->setValue(bar->value() + by);
            return true;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void KRPropertyEditorTableView::noteHeightOfRowChanged(int row)
{
    const auto &visible = m_controller->visiblePropertyEditorItems();
    if (row >= 0 && row < visible.size() && visible[row]->view())
        visible[row]->view()->setFixedHeight(int(visible[row]->viewHeight()));
}

int KRPropertyEditorTableView::rowForView(QWidget *view) const
{
    const auto &visible = m_controller->visiblePropertyEditorItems();
    for (int row = 0; row < visible.size(); ++row) {
        QWidget *rowView = visible[row]->view();
        if (rowView && view && (rowView == view || rowView->isAncestorOf(view)))
            return row;
    }
    return -1;
}

bool KRPropertyEditorTableView::attemptToSelectNextKeyViewAtRow(int row)
{
    const auto &visible = m_controller->visiblePropertyEditorItems();
    return row >= 0 && row < visible.size() && visible[row]->focusFirstControl();
}

bool KRPropertyEditorTableView::attemptToSelectLastKeyViewAtRow(int row)
{
    const auto &visible = m_controller->visiblePropertyEditorItems();
    return row >= 0 && row < visible.size() && visible[row]->focusLastControl();
}

bool KRPropertyEditorTableView::attemptToSelectKeyViewFollowingView(QWidget *view)
{
    const int r = rowForView(view);
    const int n = int(m_controller->visiblePropertyEditorItems().size());
    if (n == 0)
        return false;
    QList<int> order;
    for (int row = r + 1; row < n; ++row)
        order.append(row);
    // Row 0 is the object's title: the loop wraps to row 1.
    for (int row = 1; row <= qMax(r, 0) && row < n; ++row)
        if (!order.contains(row) && (row < r || r == 1))
            order.append(row);
    for (int row : std::as_const(order))
        if (attemptToSelectNextKeyViewAtRow(row))
            return true;
    return false;
}

bool KRPropertyEditorTableView::attemptToSelectKeyViewPrecedingView(QWidget *view)
{
    const int n = int(m_controller->visiblePropertyEditorItems().size());
    const int r = rowForView(view);
    if (n == 0)
        return false;
    QList<int> order;
    for (int row = r - 1; row >= 0; --row)
        order.append(row);
    for (int row = n - 1; row > r || (r == n - 1 && row == r); --row)
        if (!order.contains(row))
            order.append(row);
    for (int row : std::as_const(order))
        if (attemptToSelectLastKeyViewAtRow(row))
            return true;
    return false;
}

bool KRPropertyEditorTableView::focusNextPrevChild(bool next)
{
    QWidget *focus = window()->focusWidget();
    const int row = rowForView(focus);
    if (row < 0)
        return QScrollArea::focusNextPrevChild(next);
    // Inside a row Qt's own order applies; leaving the row runs the table's loop.
    const auto &visible = m_controller->visiblePropertyEditorItems();
    QWidget *rowView = visible[row]->view();
    // A stop is a widget that takes the focus from Tab and keeps it: the line edit of an
    // editable combo box hands its focus back to the box, which must not count as a move.
    const auto isStop = [focus](QWidget *widget) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || !widget->isVisible() || !widget->isEnabled())
            return false;
        QWidget *taker = widget;
        while (taker->focusProxy())
            taker = taker->focusProxy();
        return taker != focus;
    };
    QWidget *candidate = next ? focus->nextInFocusChain() : focus->previousInFocusChain();
    while (candidate && candidate != focus && !isStop(candidate))
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
    if (candidate && candidate != focus && rowView->isAncestorOf(candidate)) {
        candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return next ? attemptToSelectKeyViewFollowingView(focus) : attemptToSelectKeyViewPrecedingView(focus);
}

// --- Inspector

KRPropertyEditorViewController::KRPropertyEditorViewController()
{
    KRPropertyEditorItemViewController::registerInterfaces();
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRPropertyEditorView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRPropertyEditorView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRPropertyEditorViewController *>(owner);
            auto *view = new QWidget;
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(0, 0, 0, 0);
            controller->m_tableView = new KRPropertyEditorTableView(controller, view);
            layout->addWidget(controller->m_tableView);
            view->resize(290, 500);
            return view;
        });
}

KRPropertyEditorViewController::~KRPropertyEditorViewController()
{
    // Rows go first: their views sit inside the table.
    m_visibleItems.clear();
    m_items.clear();
}

void KRPropertyEditorViewController::awakeFromNib()
{
    m_items.clear();
    m_visibleItems.clear();
}

void KRPropertyEditorViewController::setObject(const std::shared_ptr<KRObject> &object)
{
    if (m_hasObject && object == m_object.lock())
        return;
    m_object = object;
    m_hasObject = true;
    buildPropertyEditorItems();
    buildVisiblePropertyEditorItems();
    m_tableView->reloadData();
    // The first row (the object's title) is always drawn when the inspector is.
    if (!m_deferredRows.empty() && !m_visibleItems.isEmpty() && m_visibleItems.first()->view())
        m_visibleItems.first()->view()->installEventFilter(this);
}

bool KRPropertyEditorViewController::eventFilter(QObject *watched, QEvent *event)
{
    // The closed sections' rows are made once the inspector has been drawn.
    if (event->type() == QEvent::Paint && !m_deferredRows.empty())
        QMetaObject::invokeMethod(this, [this] { makeDeferredRows(); }, Qt::QueuedConnection);
    return KRCachingViewController::eventFilter(watched, event);
}

void KRPropertyEditorViewController::addMade(KRPropertyEditorItemHeaderViewController *header,
                                             std::function<std::unique_ptr<KRPropertyEditorItemViewController>()> make)
{
    const bool belowFirstScreen = m_visibleHeight > 0 && m_madeHeight >= m_visibleHeight;
    if (((header && !header->isOpen()) || belowFirstScreen) && !m_makingDeferredRows) {
        m_deferredRows.push_back({m_items.size() + m_deferredRows.size(), std::move(make)});
        return;
    }
    const KRPropertyEditorRowParentScope inTable(m_tableView ? m_tableView->widget() : nullptr);
    m_items.push_back(make());
    if (m_items.back()->visible())
        m_madeHeight += m_items.back()->viewHeight();
}

void KRPropertyEditorViewController::makeDeferredRows() const
{
    if (m_deferredRows.empty() || m_makingDeferredRows)
        return;
    auto *self = const_cast<KRPropertyEditorViewController *>(this);
    self->m_makingDeferredRows = true;
    // In the order they would have been made, each into its place.
    std::vector<DeferredRow> deferred = std::exchange(self->m_deferredRows, {});
    const KRPropertyEditorRowParentScope inTable(m_tableView ? m_tableView->widget() : nullptr);
    for (DeferredRow &row : deferred)
        self->m_items.insert(self->m_items.begin() + qsizetype(row.position), row.make());
    self->m_makingDeferredRows = false;
    self->buildVisiblePropertyEditorItems();
    if (m_tableView)
        m_tableView->reloadData();
}

void KRPropertyEditorViewController::buildVisiblePropertyEditorItems()
{
    m_visibleItems.clear();
    for (const auto &item : m_items)
        if (item->visible())
            m_visibleItems.append(item.get());
}

void KRPropertyEditorViewController::reloadTable()
{
    makeDeferredRows();
    buildVisiblePropertyEditorItems();
    m_tableView->reloadData();
}

void KRPropertyEditorViewController::rowSizeChanged(QWidget *rowView)
{
    const int row = m_tableView->rowForView(rowView);
    if (row >= 0)
        m_tableView->noteHeightOfRowChanged(row);
}

void KRPropertyEditorViewController::editDefaultProperty()
{
    const auto target = object();
    if (!target)
        return;
    const QString name = target->defaultProperty();
    for (const auto &item : propertyEditorItems())
        if (item->editProperty(name))
            return;
}

void KRPropertyEditorViewController::editFunction(const std::shared_ptr<KRFunction> &function)
{
    if (m_delegate)
        m_delegate->propertyEditorViewEditFunction(this, function);
}

void KRPropertyEditorViewController::editHTML(const QString &key)
{
    if (m_delegate)
        m_delegate->propertyEditorViewEditHTML(this, object(), key);
}

void KRPropertyEditorViewController::editListViewItems(const std::shared_ptr<KRObject> &listView)
{
    if (m_delegate)
        m_delegate->propertyEditorViewEditListViewItems(this, listView);
}

void KRPropertyEditorViewController::editNavbarItems(const std::shared_ptr<KRObject> &toolbar, const QString &key)
{
    if (m_delegate)
        m_delegate->propertyEditorViewEditNavbarItems(this, toolbar, key);
}

QStringList KRPropertyEditorViewController::layoutDescription() const
{
    QStringList lines;
    QString section;
    for (const auto &item : propertyEditorItems()) {
        QString line = item->kindName();
        if (auto *header = dynamic_cast<KRPropertyEditorItemHeaderViewController *>(item.get())) {
            line += QStringLiteral(" \"%1\" %2").arg(header->label()->text(),
                                                     header->isOpen() ? QStringLiteral("open") : QStringLiteral("closed"));
            lines.append(line);
            continue;
        }
        if (!item->propertyName().isEmpty())
            line += QLatin1Char(' ') + item->propertyName();
        if (!item->visible())
            line += QStringLiteral(" (hidden)");
        lines.append(line);
    }
    return lines;
}

bool KRPropertyEditorViewController::holdsProperty(const QString &key) const
{
    return (m_descriptorKeys && m_descriptorKeys->contains(key)) || m_extraKeys.contains(key);
}

bool KRPropertyEditorViewController::isKindOf(const QString &className) const
{
    const auto target = object();
    return target && KRClassRegistry::sharedInstance().isKindOf(target->kr_className(), className);
}

template <typename Row>
Row *KRPropertyEditorViewController::add(KRPropertyEditorItemHeaderViewController *header)
{
    const KRPropertyEditorRowParentScope inTable(m_tableView ? m_tableView->widget() : nullptr);
    std::unique_ptr<Row> row = KRCachingViewController::create<Row>();
    Row *raw = row.get();
    raw->setTargetObject(object());
    raw->setDelegate(this);
    m_items.push_back(std::move(row));
    if (header)
        header->addObject(raw);
    if (raw->visible())
        m_madeHeight += raw->viewHeight();
    return raw;
}

template <typename Row>
void KRPropertyEditorViewController::addRow(const QString &propertyName, KRPropertyEditorItemHeaderViewController *header)
{
    const auto target = object();
    // Built-in layouts name only keys the class has: anything else is a programming error.
    KR_ASSERT(target && holdsProperty(QStringLiteral("kr_") + propertyName),
              "inspector row for a property the object does not have");
    addMade(header, [this, header, propertyName]() -> std::unique_ptr<KRPropertyEditorItemViewController> {
        std::unique_ptr<Row> row = KRCachingViewController::create<Row>();
        row->setTargetObject(object());
        row->setDelegate(this);
        if (header)
            header->addObject(row.get());
        row->setPropertyName(propertyName);
        return row;
    });
}

KRPropertyEditorItemHeaderViewController *KRPropertyEditorViewController::addHeader(const QString &title, bool open)
{
    auto *header = add<KRPropertyEditorItemHeaderViewController>();
    header->label()->setText(title);
    header->setOpen(open);
    return header;
}

void KRPropertyEditorViewController::addHLine(KRPropertyEditorItemHeaderViewController *header)
{
    addMade(header, [header]() -> std::unique_ptr<KRPropertyEditorItemViewController> {
        std::unique_ptr<KRPropertyEditorItemHLineViewController> row =
            KRCachingViewController::create<KRPropertyEditorItemHLineViewController>();
        if (header)
            header->addObject(row.get());
        return row;
    });
}

void KRPropertyEditorViewController::addEvent(const QString &name, KRPropertyEditorItemHeaderViewController *header)
{
    addRow<KRPropertyEditorItemEventViewController>(name, header);
}

KRPropertyEditorViewController::PluginProperties KRPropertyEditorViewController::buildPluginPropertyDictionary() const
{
    PluginProperties result;
    const auto target = object();
    if (!target)
        return result;
    const KRObjectInfo::GroupedProperties &groups = KRObjectInfo::sharedInstance().propertyInfo(target->kr_className());
    for (const QString &group : groups.allKeys())
        for (const KRPropertyInfo &info : groups.objectForKey(group))
            if (info.pluginProperty) {
                QList<KRPropertyInfo> list = result.objectForKey(info.group);
                list.append(info);
                result.setObject(list, info.group);
            }
    return result;
}

void KRPropertyEditorViewController::addPluginPropertiesForGroup(const QString &group,
                                                                 KRPropertyEditorItemHeaderViewController *header,
                                                                 PluginProperties &pluginProperties)
{
    if (!pluginProperties.contains(group))
        return;
    const QList<KRPropertyInfo> list = pluginProperties.objectForKey(group);
    pluginProperties.removeObjectForKey(group);
    const auto target = object();
    for (const KRPropertyInfo &info : list) {
        // A plug-in's manifest may name a property its class cannot hold: skip that row.
        if (!target || !holdsProperty(QStringLiteral("kr_") + info.name)) {
            KR_PLATFORM_LOG(QStringLiteral("Inspector: plug-in property \"%1\" of %2 is not a property of the object; "
                                           "no row shown")
                                .arg(info.name, target ? target->kr_className() : QString()));
            continue;
        }
        switch (info.propertyType) {
        case KRPropertyInfo::String:
        case KRPropertyInfo::Number:
            addRow<KRPropertyEditorItemStringViewController>(info.name, header);
            break;
        case KRPropertyInfo::Enum:
            addRow<KRPropertyEditorItemEnumViewController>(info.name, header);
            break;
        case KRPropertyInfo::Color:
            addRow<KRPropertyEditorItemColorViewController>(info.name, header);
            break;
        default:
            break;
        }
    }
}

void KRPropertyEditorViewController::buildBackgroundRows(KRPropertyEditorItemHeaderViewController *header)
{
    for (const char *name : {"backgroundImage", "backgroundAttachment", "backgroundPosition", "backgroundRepeat"})
        addRow<KRPropertyEditorItemStringViewController>(QLatin1String(name), header);
    addRow<KRPropertyEditorItemColorViewController>(QStringLiteral("backgroundColor"), header);
    addRow<KRPropertyEditorItemStringViewController>(QStringLiteral("backgroundGradient"), header);
}

void KRPropertyEditorViewController::buildFontRows(KRPropertyEditorItemHeaderViewController *header)
{
    addRow<KRPropertyEditorItemEnumViewController>(QStringLiteral("fontFamily"), header);
    addRow<KRPropertyEditorItemEnumViewController>(QStringLiteral("fontWeight"), header);
    addRow<KRPropertyEditorItemEnumViewController>(QStringLiteral("fontStyle"), header);
    addRow<KRPropertyEditorItemStringViewController>(QStringLiteral("fontSize"), header);
    addRow<KRPropertyEditorItemTextShadowViewController>(QStringLiteral("textShadow"), header);
    addRow<KRPropertyEditorItemEnumViewController>(QStringLiteral("textAlign"), header);
    addRow<KRPropertyEditorItemStringViewController>(QStringLiteral("letterSpacing"), header);
    addRow<KRPropertyEditorItemStringViewController>(QStringLiteral("lineHeight"), header);
}

void KRPropertyEditorViewController::buildClassBlock(PluginProperties &plugins)
{
    using String = KRPropertyEditorItemStringViewController;
    using Enum = KRPropertyEditorItemEnumViewController;
    using Boolean = KRPropertyEditorItemBooleanViewController;
    using MLTable = KRPropertyEditorItemMLTableViewController;
    const auto any = [this](std::initializer_list<const char *> classes) {
        for (const char *c : classes)
            if (isKindOf(QLatin1String(c)))
                return true;
        return false;
    };
    const auto strings = [this](std::initializer_list<const char *> names) {
        for (const char *n : names)
            addRow<String>(QLatin1String(n));
    };
    const auto enums = [this](std::initializer_list<const char *> names) {
        for (const char *n : names)
            addRow<Enum>(QLatin1String(n));
    };
    const bool graph = isKindOf(QStringLiteral("KRBluffGraph"));

    if (isKindOf(QStringLiteral("JQMTextbox")))
        enums({"type"});
    if (!graph)
        addRow<KRPropertyEditorItemColorViewController>(QStringLiteral("color"));
    addRow<KRPropertyEditorItemTextShadowViewController>(QStringLiteral("boxShadow"));
    if (isKindOf(QStringLiteral("KRFormControl"))) {
        strings({"name"});
        addRow<Boolean>(QStringLiteral("disabled"));
    }
    if (isKindOf(QStringLiteral("KRDiv")))
        addRow<KRPropertyEditorItemContentViewController>(QStringLiteral("content"));
    if (isKindOf(QStringLiteral("KRImage")))
        strings({"src"});
    if (any({"JQMSelect", "JQMSlider", "JQMCheckboxRadio", "JQMTextbox", "JQMTextArea", "JQMSlideToggle"}))
        strings({"label"});
    if (isKindOf(QStringLiteral("JQMSlider"))) {
        strings({"min", "max", "step"});
        enums({"highlight"});
    }
    if (isKindOf(QStringLiteral("JQMCheckboxRadio")))
        enums({"orientation"});
    if (any({"KRTextbox", "JQMTextbox"}))
        strings({"placeholder"});
    if (any({"KRLabel", "KRTextbox", "KRCheckbox", "KRRadioButton", "KRSelect", "KRButton", "KRTextArea", "JQMSlider",
             "JQMButton", "JQMRadioButtonGroup", "JQMSelect", "JQMTextbox", "JQMTextArea", "JQMSlideToggle"}))
        strings({"value"});
    if (any({"KRButton", "JQMButton"})) {
        addRow<KRPropertyEditorItemPageViewController>(QStringLiteral("gotoPage"));
        enums({"gotoPageTransition"});
    }
    if (isKindOf(QStringLiteral("JQMButton")))
        enums({"corners"});
    if (any({"JQMButton", "JQMSelect"})) {
        addRow<KRPropertyEditorItemEnumComboViewController>(QStringLiteral("icon"));
        enums({"iconpos", "iconshadow", "shadow"});
    }
    if (isKindOf(QStringLiteral("JQMSelect")))
        enums({"nativeMenu"});
    if (any({"JQMButton", "JQMSelect", "JQMSlider", "JQMCheckboxRadio", "JQMTextbox", "JQMTextArea", "JQMSlideToggle"}))
        enums({"theme", "mini"});
    if (any({"JQMSlider", "JQMSlideToggle"}))
        enums({"trackTheme"});
    if (graph) {
        addHLine();
        enums({"type"});
        strings({"title"});
        enums({"theme"});
    }
    if (isKindOf(QStringLiteral("KRPhotoSwipe"))) {
        addHLine();
        addRow<MLTable>(QStringLiteral("images"));
        addHLine();
        enums({"allowUserZoom", "autoStartSlideshow", "allowRotationOnUserZoom"});
        strings({"captionAndToolbarAutoHideDelay"});
        enums({"captionAndToolbarFlipPosition", "captionAndToolbarHide"});
        strings({"captionAndToolbarOpacity"});
        enums({"captionAndToolbarShowEmptyCaptions"});
        strings({"doubleTapZoomLevel"});
        enums({"enableDrag"});
        strings({"fadeInSpeed", "fadeOutSpeed"});
        enums({"imageScaleMethod", "loop"});
        strings({"margin", "maxUserZoom", "minUserZoom"});
        enums({"preventSlideshow"});
        strings({"slideshowDelay", "slideSpeed"});
    }
    if (any({"KRTextbox", "JQMTextbox"}))
        strings({"maxsize"});
    if (any({"KRTextbox", "JQMTextbox", "KRTextArea", "JQMTextArea"}))
        enums({"autocapitalize", "autocorrect"});
    if (any({"KRCheckbox", "KRRadioButton"}))
        addRow<Boolean>(QStringLiteral("checked"));
    if (any({"KRSelect", "JQMCheckboxRadio", "JQMSelect", "JQMSlideToggle"}))
        addRow<MLTable>(QStringLiteral("options"));
    if (isKindOf(QStringLiteral("KRTable")))
        strings({"rows", "columns"});
    addPluginPropertiesForGroup(QStringLiteral("Object Properties"), nullptr, plugins);
    addHLine();

    if (!graph) {
        auto *background = addHeader(QStringLiteral("Background"), false);
        buildBackgroundRows(background);
        addPluginPropertiesForGroup(QStringLiteral("Background"), background, plugins);
        addHLine(background);
    }
    auto *font = addHeader(QStringLiteral("Font & Text"), true);
    buildFontRows(font);
    addPluginPropertiesForGroup(QStringLiteral("Font & Text"), font, plugins);
    addHLine(font);

    auto *borders = addHeader(QStringLiteral("Borders & Padding"), false);
    addRow<Enum>(QStringLiteral("borderStyle"), borders);
    addRow<KRPropertyEditorItemColorViewController>(QStringLiteral("borderColor"), borders);
    addRow<String>(QStringLiteral("borderWidth"), borders);
    addRow<String>(QStringLiteral("borderRadius"), borders);
    addHLine(borders);
    for (const char *side : {"Top", "Bottom", "Left", "Right"}) {
        addRow<Enum>(QStringLiteral("border%1Style").arg(QLatin1String(side)), borders);
        addRow<KRPropertyEditorItemColorViewController>(QStringLiteral("border%1Color").arg(QLatin1String(side)),
                                                        borders);
        addRow<String>(QStringLiteral("border%1Width").arg(QLatin1String(side)), borders);
        addHLine(borders);
    }
    for (const char *name : {"padding", "paddingTop", "paddingBottom", "paddingLeft", "paddingRight"})
        addRow<String>(QLatin1String(name), borders);
    addPluginPropertiesForGroup(QStringLiteral("Borders & Padding"), borders, plugins);
    addHLine(borders);
}

void KRPropertyEditorViewController::buildPropertyEditorItems()
{
    m_visibleItems.clear();
    m_deferredRows.clear();
    m_items.clear();
    m_madeHeight = 0;
    const auto target = object();
    if (!target)
        return;
    // What the class holds (the keys KRObject::objectProperties lists), once for all the rows.
    const KRClassRegistry &registry = KRClassRegistry::sharedInstance();
    m_descriptorKeys = registry.descriptorIndexPointer(target->kr_className());
    m_extraKeys.clear();
    for (const KRObjectClass *c = registry.classNamed(target->kr_className()); c;
         c = c->superclassName.isEmpty() ? nullptr : registry.classNamed(c->superclassName))
        for (const QString &key : c->extraProperties)
            m_extraKeys.insert(key);
    using String = KRPropertyEditorItemStringViewController;
    using Enum = KRPropertyEditorItemEnumViewController;
    using Boolean = KRPropertyEditorItemBooleanViewController;
    PluginProperties plugins = buildPluginPropertyDictionary();
    const QString className = target->kr_className();

    // Block 1: title and id.
    auto *title = addHeader(QStringLiteral("%1 Properties").arg(className), true);
    title->hideDisclosureButton();
    title->setHelpButtonIdentifier(QStringLiteral("objectHelp_") + className);
    addRow<String>(QStringLiteral("id"));

    const bool control = isKindOf(QStringLiteral("KRControl"));
    const bool toolbar = isKindOf(QStringLiteral("JQMBaseToolbar"));
    const bool listView = isKindOf(QStringLiteral("JQMListView"));
    if (control && !toolbar && !listView) {
        add<KRPropertyEditorItemControlViewController>()->setup();
        addRow<String>(QStringLiteral("styleClass"));
    }
    if ((control || isKindOf(QStringLiteral("KRStyleClass"))) && !toolbar && !listView)
        buildClassBlock(plugins);

    if (listView) {
        for (const char *name : {"top", "left", "width", "height", "zIndex"})
            addRow<String>(QLatin1String(name));
        addRow<KRPropertyEditorItemEnumComboViewController>(QStringLiteral("icon"));
        for (const char *name : {"theme", "inset", "wordwrap", "gotoPageTransition", "autodividers", "filter"})
            addRow<Enum>(QLatin1String(name));
        addRow<String>(QStringLiteral("filterPlaceholder"));
        addRow<KRPropertyEditorItemContentViewController>(QStringLiteral("items"));
        addHLine();
    }

    if (toolbar) {
        addRow<String>(QStringLiteral("title"));
        if (isKindOf(QStringLiteral("JQMHeaderToolbar")))
            addRow<Enum>(QStringLiteral("position"));
        addRow<Enum>(QStringLiteral("theme"));
        addHLine();
        for (const char *side : {"left", "right"}) {
            const QString s = QLatin1String(side);
            addRow<String>(s + QStringLiteral("ButtonLabel"));
            addRow<KRPropertyEditorItemEnumComboViewController>(s + QStringLiteral("ButtonIcon"));
            addRow<Enum>(s + QStringLiteral("ButtonIconpos"));
            addRow<Enum>(s + QStringLiteral("ButtonTheme"));
            addRow<KRPropertyEditorItemPageViewController>(s + QStringLiteral("ButtonGotoPage"));
            addRow<Enum>(s + QStringLiteral("ButtonGotoPageTransition"));
            addHLine();
        }
        addRow<KRPropertyEditorItemContentViewController>(QStringLiteral("navbarItems"));
        addRow<Enum>(QStringLiteral("navbarIconpos"));
        addHLine();
        auto *events = addHeader(QStringLiteral("Events"), false);
        for (const char *name : {"leftButtonOnClick", "rightButtonOnClick", "navbarOnClick"})
            addEvent(QLatin1String(name), events);
    }

    if (control && !toolbar) {
        auto *events = addHeader(QStringLiteral("Events"), false);
        QStringList names{QStringLiteral("onClick")};
        if (!listView) {
            names << QStringLiteral("onTouchStart") << QStringLiteral("onTouchMove") << QStringLiteral("onTouchEnd");
            if (isKindOf(QStringLiteral("KRFormControl")))
                names.insert(0, QStringLiteral("onChange"));
            bool focusEvents = false;
            for (const char *c : {"KRTextbox", "KRTextArea", "KRSelect", "JQMTextbox", "JQMTextArea", "JQMSelect"})
                focusEvents = focusEvents || isKindOf(QLatin1String(c));
            if (focusEvents) {
                const qsizetype at = names.indexOf(QStringLiteral("onTouchStart"));
                names.insert(at, QStringLiteral("onFocus"));
                names.insert(at + 1, QStringLiteral("onBlur"));
            }
        }
        if (isKindOf(QStringLiteral("KRImage")))
            names.insert(1, QStringLiteral("onLoad"));
        for (const QString &name : std::as_const(names))
            addEvent(name, events);
        addPluginPropertiesForGroup(QStringLiteral("Events"), events, plugins);
        addHLine(events);
    }

    if (isKindOf(QStringLiteral("KRTimer"))) {
        addRow<String>(QStringLiteral("interval"));
        addRow<Boolean>(QStringLiteral("enabled"));
        addHLine();
        addEvent(QStringLiteral("onTimeout"), nullptr);
        addHLine();
    }

    if (isKindOf(QStringLiteral("JQMSimplePopup"))) {
        for (const char *name : {"title", "message", "text"})
            addRow<String>(QLatin1String(name));
        addRow<Enum>(QStringLiteral("transition"));
        for (const char *name : {"shadow", "corners", "inlineButtons"})
            addRow<Boolean>(QLatin1String(name));
        for (const char *name : {"theme", "overlayTheme", "headerTheme", "contentTheme"})
            addRow<Enum>(QLatin1String(name));
        addHLine();
        for (const char *n : {"1", "2"}) {
            addRow<String>(QStringLiteral("button%1Label").arg(QLatin1String(n)));
            addRow<Enum>(QStringLiteral("button%1Theme").arg(QLatin1String(n)));
            addEvent(QStringLiteral("onButton%1Click").arg(QLatin1String(n)), nullptr);
            addHLine();
        }
    }

    if (isKindOf(QStringLiteral("KRFunction"))) {
        addRow<String>(QStringLiteral("arguments"));
        addRow<KRPropertyEditorItemContentViewController>(QStringLiteral("source"));
        addHLine();
    }

    if (isKindOf(QStringLiteral("KRPage"))) {
        addRow<String>(QStringLiteral("title"));
        addRow<KRPropertyEditorItemColorViewController>(QStringLiteral("color"));
        addRow<Enum>(QStringLiteral("theme"));
        addRow<String>(QStringLiteral("formAction"));
        addRow<String>(QStringLiteral("formMethod"));
        const auto project = std::dynamic_pointer_cast<KRProject>(target->project());
        if (!project || !project->ajaxPageLoading()) {
            addRow<KRPropertyEditorItemMLTableViewController>(QStringLiteral("cssIncludes"));
            addRow<KRPropertyEditorItemMLTableViewController>(QStringLiteral("javascriptIncludes"));
        }
        addHLine();
        auto *background = addHeader(QStringLiteral("Background"), false);
        buildBackgroundRows(background);
        addHLine(background);
        auto *font = addHeader(QStringLiteral("Font & Text"), true);
        buildFontRows(font);
        addHLine(font);
        auto *events = addHeader(QStringLiteral("Events"), false);
        for (const char *name : {"onClick", "onTouchStart", "onTouchMove", "onTouchEnd", "onLoad",
                                 "onOrientationChange", "onSubmit"})
            addEvent(QLatin1String(name), events);
        addHLine(events);
        auto *server = addHeader(QStringLiteral("Server Events"), false);
        addEvent(QStringLiteral("onGET"), server);
        addEvent(QStringLiteral("onPOST"), server);
        addHLine(server);
    }

    // Whatever plug-in groups are left, in catalogue order, each under its own closed header.
    const QStringList leftover = plugins.allKeys();
    for (const QString &group : leftover) {
        auto *header = addHeader(group, false);
        addPluginPropertiesForGroup(group, header, plugins);
        addHLine(header);
    }
}

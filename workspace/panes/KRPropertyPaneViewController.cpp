#include "KRPropertyPaneViewController.h"

#include "KRTabView.h"

#include <ui/KRUIColors.h>
#include <model/KRFunction.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/foundation/KRNotificationCenter.h>

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>
#include <QScopedValueRollback>
#include <QTimer>
#include <QVBoxLayout>

// --- Header

KRPropertyPaneHeaderView::KRPropertyPaneHeaderView(QWidget *parent)
    : QWidget(parent)
{
    setFixedHeight(PreferredHeight);
}

KRPropertyPaneHeaderView::~KRPropertyPaneHeaderView() = default;

void KRPropertyPaneHeaderView::setObject(const std::shared_ptr<KRObject> &object)
{
    m_idToken = {};
    m_object = object;
    m_icon = object ? classIcon(object) : QImage();
    if (object)
        m_idToken = object->observable().observe(QStringLiteral("kr_id"),
                                                 [this](const void *, const QString &, const QVariant &, const QVariant &) { update(); });
    update();
}

// An object's icon goes with its class; each request for it reads and decodes its file anew.
QImage KRPropertyPaneHeaderView::classIcon(const std::shared_ptr<KRObject> &object)
{
    static QHash<QString, QImage> icons;
    const QString className = object->kr_className();
    auto found = icons.constFind(className);
    if (found == icons.constEnd())
        found = icons.insert(className, object->objectIcon());
    return *found;
}

// Each object pressed draws the header anew: the picture of each look it takes is kept, as
// the gradient over its width takes long to draw.
void KRPropertyPaneHeaderView::paintEvent(QPaintEvent *)
{
    const auto object = m_object.lock();
    const qreal ratio = devicePixelRatioF();
    const QString key = QStringLiteral("KRPropertyPaneHeaderView:%1x%2@%3:%4:%5:%6\n%7")
                            .arg(width())
                            .arg(height())
                            .arg(ratio)
                            .arg(font().key())
                            .arg(object ? m_icon.cacheKey() : -1)
                            .arg(palette().cacheKey())
                            .arg(object ? object->kr_id() : QString());
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = QPixmap((QSizeF(size()) * ratio).toSize());
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setFont(font());
        draw(painter);
        painter.end();
        QPixmapCache::insert(key, picture);
    }
    QPainter(this).drawPixmap(0, 0, picture);
}

// Drawn as on a y-up canvas of height h: every y of the design becomes h - y.
void KRPropertyPaneHeaderView::draw(QPainter &painter) const
{
    const qreal w = width();
    const qreal h = height();
    painter.fillRect(rect(), KRUIColors::headerGradient().linearGradient(QRectF(0, 0, w, h), 90));
    painter.setPen(QPen(KRUIColors::grayLineColor(), 1));
    QPainterPath edges;
    edges.moveTo(0.5, 0);
    edges.lineTo(0.5, h - 0.5);
    edges.lineTo(w, h - 0.5);
    painter.drawPath(edges);
    const auto object = m_object.lock();
    if (!object)
        return;
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QColor(0, 0, 0, qRound(0.85 * 255)));
    painter.drawText(QPointF(44, h - 14), object->kr_id());
    const QImage &icon = m_icon;
    if (!icon.isNull()) {
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRectF(6, h - 6 - 32, 32, 32), icon);
        painter.restore();
    }
}

void KRPropertyPaneHeaderView::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_delegate && event->button() == Qt::LeftButton)
        m_delegate->propertyPaneHeaderMouseUp(this, event);
}

// --- Background

void KRPropertyPaneView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(KRUIColors::grayLineColor(), 1));
    QPainterPath lines;
    lines.moveTo(0.5, 0);
    lines.lineTo(0.5, height());
    if (m_tabView) {
        const qreal y = m_tabView->geometry().top() - 1.5;
        lines.moveTo(0, y);
        lines.lineTo(width(), y);
    }
    painter.drawPath(lines);
}

void KRPropertyPanePopUp::hidePopup()
{
    QComboBox::hidePopup();
    emit popupHidden();
}

// The arrows, Home, End, Page Up and Down, a typed letter or the wheel on the closed box
// activate the object they step to, as if it had been chosen.
void KRPropertyPanePopUp::keyPressEvent(QKeyEvent *event)
{
    const QScopedValueRollback stepping(m_stepping, true);
    QComboBox::keyPressEvent(event);
}

void KRPropertyPanePopUp::wheelEvent(QWheelEvent *event)
{
    const QScopedValueRollback stepping(m_stepping, true);
    QComboBox::wheelEvent(event);
}

// --- Pane

KRPropertyPaneViewController::KRPropertyPaneViewController()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    m_clock = [timer] { return timer->elapsed(); };
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRPropertyPaneView")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRPropertyPaneView"), [](QObject *owner) -> QWidget * {
            auto *controller = dynamic_cast<KRPropertyPaneViewController *>(owner);
            auto *view = new KRPropertyPaneView;
            view->setAccessibleName(QStringLiteral("Inspector"));
            auto *layout = new QVBoxLayout(view);
            layout->setContentsMargins(1, 0, 0, 0);
            layout->setSpacing(0);
            controller->m_headerView = new KRPropertyPaneHeaderView(view);
            layout->addWidget(controller->m_headerView);
            controller->m_popupButton = new KRPropertyPanePopUp(view);
            controller->m_popupButton->setIconSize(QSize(32, 32));
            auto *popupRow = new QVBoxLayout;
            popupRow->setContentsMargins(6, 4, 6, 6);
            popupRow->addWidget(controller->m_popupButton);
            layout->addLayout(popupRow);
            controller->m_tabView = new KRTabView(view);
            layout->addWidget(controller->m_tabView, 1);
            view->setTabView(controller->m_tabView);
            view->resize(InspectorWidth, 600);
            return view;
        });
}

KRPropertyPaneViewController::~KRPropertyPaneViewController()
{
    m_allObjectsToken = {};
    m_deleteToken = {};
    // The pop-up closes its list as the view goes, after this part of the controller.
    if (m_popupButton)
        m_popupButton->disconnect(this);
    // The inspectors' views leave the tab view before it goes with the pane's view.
    m_editors.clear();
}

void KRPropertyPaneViewController::awakeFromNib()
{
    m_prepareTimer.setInterval(0);
    connect(&m_prepareTimer, &QTimer::timeout, this, [this] { prepareNextClass(); });
    m_headerView->setDelegate(this);
    connect(m_popupButton, qOverload<int>(&QComboBox::activated), this, [this] { popupSelected(); });
    connect(m_popupButton, &KRPropertyPanePopUp::popupHidden, this, [this] {
        if (m_headerOpened) {
            m_headerOpened = false;
            m_lastHeaderClick = m_clock();
        }
    });
}

void KRPropertyPaneViewController::setPage(const std::shared_ptr<KRPage> &page)
{
    m_page = page;
    m_allObjectsToken = {};
    m_deleteToken = {};
    setPopupButtonContents();
    if (!page)
        return;
    m_allObjectsToken = page->observable().observe(QStringLiteral("allObjects"),
                                                   [this](const void *, const QString &, const QVariant &, const QVariant &) {
                                                       setPopupButtonContents();
                                                       prepareClasses();
                                                   });
    prepareClasses();
    m_deleteToken = KRNotificationCenter::defaultCenter().addObserver(
        KRPageDidDeleteObjectNotification, page->identity(), [this](const KRNotification &notification) {
            pageDidDeleteObject(notification.userInfo.value(QStringLiteral("deletedObject")).value<KRObjectHandle>().object);
        });
}

namespace {

QSet<QString> &krClassesPrepared()
{
    static QSet<QString> prepared;
    return prepared;
}

} // namespace

// An inspector looks its class's properties up in the object catalogue, which reads them from
// its XML the first time a class is asked for. The classes of the page's objects are asked for
// while the window waits, one a turn, so that the first inspector of a class shows as fast as
// the next.
void KRPropertyPaneViewController::prepareClasses()
{
    const auto page = m_page.lock();
    if (!page)
        return;
    for (const auto &object : page->allObjects()) {
        const QString className = object->kr_className();
        if (!krClassesPrepared().contains(className) && !m_classesToPrepare.contains(className))
            m_classesToPrepare.append(className);
    }
    if (!m_classesToPrepare.isEmpty())
        m_prepareTimer.start();
}

void KRPropertyPaneViewController::prepareNextClass()
{
    if (m_classesToPrepare.isEmpty()) {
        m_prepareTimer.stop();
        return;
    }
    const QString className = m_classesToPrepare.takeFirst();
    if (!krClassesPrepared().contains(className)) {
        krClassesPrepared().insert(className);
        KRObjectInfo::sharedInstance().propertyInfo(className);
    }
}

void KRPropertyPaneViewController::setPopupButtonContents()
{
    m_popupButton->clear();
    m_popupObjects.clear();
    const auto page = m_page.lock();
    if (!page)
        return;
    const auto selected = m_selectedObject.lock();
    // The page first, as in the object browser; then its objects by id.
    QList<std::shared_ptr<KRObject>> objects = page->allObjects();
    objects.removeOne(page);
    objects.prepend(page);
    for (const auto &object : std::as_const(objects)) {
        const QImage icon = object->objectIcon();
        m_popupButton->addItem(icon.isNull() ? QIcon() : QIcon(QPixmap::fromImage(icon.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation))),
                               object->kr_id());
        m_popupObjects.push_back(object);
        if (object == selected)
            m_popupButton->setCurrentIndex(m_popupButton->count() - 1);
    }
}

void KRPropertyPaneViewController::popupSelected()
{
    const int index = m_popupButton->currentIndex();
    if (index < 0 || size_t(index) >= m_popupObjects.size())
        return;
    if (auto object = m_popupObjects[size_t(index)].lock()) {
        selectObject(object);
        if (!m_popupButton->isStepping())
            emit objectChosenFromList();
    }
}

void KRPropertyPaneViewController::selectObject(const std::shared_ptr<KRObject> &object)
{
    if (!object || object == m_selectedObject.lock())
        return;
    m_selectedObject = object;
    for (size_t i = 0; i < m_popupObjects.size(); ++i)
        if (m_popupObjects[i].lock() == object)
            m_popupButton->setCurrentIndex(int(i));
    selectTabViewItemForObject(object);
    m_headerView->setObject(object);
    if (m_delegate)
        m_delegate->propertyPaneDidSelectObject(this, object);
}

void KRPropertyPaneViewController::editDefaultPropertyForObject(const std::shared_ptr<KRObject> &object)
{
    selectObject(object);
    if (KRPropertyEditorViewController *editor = propertyEditorViewControllerForObject(object))
        editor->editDefaultProperty();
}

void KRPropertyPaneViewController::selectTabViewItemForObject(const std::shared_ptr<KRObject> &object)
{
    KRPropertyEditorViewController *editor = propertyEditorViewControllerForObject(object);
    if (!editor)
        return;
    const QString id = object->kr_id();
    // The tab view switches without walking the widgets of the inspectors it keeps.
    if (!m_tabView->selectItemWithIdentifier(id))
        m_tabView->selectItem(m_tabView->addTabViewItem(id, id, editor->view()));
}

KRPropertyEditorViewController *KRPropertyPaneViewController::propertyEditorViewControllerForObject(const std::shared_ptr<KRObject> &object)
{
    if (!object)
        return nullptr;
    const QString id = object->kr_id();
    if (auto found = m_editors.value(id))
        return found->editor.get();
    auto entry = std::make_shared<Entry>();
    entry->editor = KRCachingViewController::create<KRPropertyEditorViewController>();
    entry->editor->setDelegate(this);
    // The inspector fills the tab view: what lies below its first screenful can wait.
    if (m_tabView->isVisible())
        entry->editor->setVisibleHeight(m_tabView->height());
    entry->editor->setObject(object);
    entry->object = object;
    entry->idToken = object->observable().observe(QStringLiteral("kr_id"),
                                                  [this](const void *, const QString &, const QVariant &oldValue, const QVariant &newValue) {
                                                      objectIDChanged(oldValue.toString(), newValue.toString());
                                                  });
    m_editors.insert(id, entry);
    return entry->editor.get();
}

KRPropertyEditorViewController *KRPropertyPaneViewController::cachedPropertyEditor(const QString &objectID) const
{
    const auto found = m_editors.value(objectID);
    return found ? found->editor.get() : nullptr;
}

void KRPropertyPaneViewController::objectIDChanged(const QString &oldID, const QString &newID)
{
    if (oldID == newID || !m_editors.contains(oldID))
        return;
    m_editors.insert(newID, m_editors.take(oldID));
    if (TBTabViewItem *item = m_tabView->item(oldID)) {
        item->setIdentifier(newID);
        item->setLabel(newID);
    }
}

void KRPropertyPaneViewController::pageDidDeleteObject(const std::shared_ptr<KRObject> &object)
{
    if (!object)
        return;
    const QString id = object->kr_id();
    // The tab goes first and is freed last: the inspector's view leaves it in between.
    std::unique_ptr<TBTabViewItem> item;
    if (TBTabViewItem *found = m_tabView->item(id))
        item = m_tabView->takeItem(found);
    m_editors.remove(id);
}

void KRPropertyPaneViewController::propertyEditorViewEditFunction(KRPropertyEditorViewController *,
                                                                  const std::shared_ptr<KRFunction> &function)
{
    if (m_delegate)
        m_delegate->propertyPaneEditFunction(this, function);
}

void KRPropertyPaneViewController::propertyEditorViewEditHTML(KRPropertyEditorViewController *,
                                                              const std::shared_ptr<KRObject> &object, const QString &key)
{
    if (m_delegate)
        m_delegate->propertyPaneEditHTML(this, object, key);
}

void KRPropertyPaneViewController::propertyEditorViewEditListViewItems(KRPropertyEditorViewController *,
                                                                       const std::shared_ptr<KRObject> &listView)
{
    if (m_delegate)
        m_delegate->propertyPaneEditListViewItems(this, listView);
}

void KRPropertyPaneViewController::propertyEditorViewEditNavbarItems(KRPropertyEditorViewController *,
                                                                     const std::shared_ptr<KRObject> &toolbar, const QString &key)
{
    if (m_delegate)
        m_delegate->propertyPaneEditNavbarItems(this, toolbar, key);
}

void KRPropertyPaneViewController::propertyPaneHeaderMouseUp(KRPropertyPaneHeaderView *, QMouseEvent *)
{
    if (m_lastHeaderClick >= 0 && m_clock() - m_lastHeaderClick < HeaderClickGuardMSecs)
        return;
    m_headerOpened = true;
    m_popupButton->showPopup();
}

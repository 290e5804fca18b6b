#include "KRDesignCanvas.h"

#include <model/KRDeviceInformation.h>
#include <model/KRObjectInfo.h>
#include <model/KRPage.h>
#include <model/KRProject.h>
#include <model/KRUserDeviceInformation.h>
#include <platform/foundation/KRResources.h>
#include <platform/foundation/KRUserDefaults.h>
#include <platform/webview/KRDesignViewControllerProxy.h>
#include <platform/webview/KRLayoutCache.h>
#include <platform/webview/KRWebView.h>
#include <workspace/KRDesignViewController.h>
#include <workspace/designview/KRPageDesignView.h>

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMenu>
#include <QPainter>
#include <QRadialGradient>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const int KRDesignCanvasZooms[] = {50, 75, 100, 125, 150, 175, 200};

void krDesignCanvasFillMenu(QMenu &menu, const QList<KRMenuItem> &items)
{
    for (const KRMenuItem &item : items) {
        if (item.separator) {
            menu.addSeparator();
        } else if (item.hasSubmenu) {
            QMenu *sub = menu.addMenu(item.title);
            krDesignCanvasFillMenu(*sub, item.submenu);
        } else {
            QAction *action = menu.addAction(item.title);
            if (item.bold) {
                QFont font = action->font();
                font.setBold(true);
                action->setFont(font);
            }
            if (item.action)
                QObject::connect(action, &QAction::triggered, action, item.action);
            else
                action->setEnabled(false);
        }
    }
}

} // namespace

KRDesignCanvasLayout KRDesignCanvasLayout::compute(QSize skinSize, double zoom, QSize clipSize,
                                                   const KRDeviceInformation &device)
{
    KRDesignCanvasLayout l;
    const double sw = skinSize.width() * zoom;
    const double sh = skinSize.height() * zoom;
    l.contentSize = QSize(std::max(clipSize.width(), int(std::ceil(sw))), std::max(clipSize.height(), int(std::ceil(sh))));
    const double x = l.contentSize.width() / 2.0 - sw / 2.0;
    const double y = l.contentSize.height() > sh ? l.contentSize.height() / 2.0 - sh / 2.0 : 0.0;
    l.skinRect = QRect(int(std::floor(x)), int(std::floor(y)), qRound(sw), qRound(sh));
    l.pageRect = QRect(l.skinRect.x() + qRound(device.offsetX() * zoom), l.skinRect.y() + qRound(device.offsetY() * zoom),
                       qRound(device.width * zoom), qRound(device.height * zoom));
    return l;
}

// The zoomed area: the light canvas and the device picture, scaled.
class KRDesignCanvas::ZoomView : public QWidget
{
public:
    explicit ZoomView(KRDesignCanvas *canvas) : QWidget(nullptr), m_canvas(canvas) {}

protected:
    // A click beside the page is a click on the design surface: the page's commands (paste,
    // select all, delete) go on answering the keys and the menus.
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_canvas->focusPage();
        QWidget::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            m_canvas->m_surface->deviceFrameClicked();
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        if (m_canvas->m_background.isNull())
            p.fillRect(rect(), QColor(0xe8, 0xe8, 0xe8));
        else
            p.fillRect(rect(), QBrush(m_canvas->m_background));
        if (!m_canvas->m_skin.isNull()) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(m_canvas->m_layout.skinRect, m_canvas->m_skin);
        }
    }

private:
    KRDesignCanvas *m_canvas;
};

// The grid over the page, one line every grid step (scaled); it never takes the pointer.
class KRDesignCanvas::GridOverlay : public QWidget
{
public:
    explicit GridOverlay(KRDesignCanvas *canvas, QWidget *parent) : QWidget(parent), m_canvas(canvas)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const auto project = m_canvas->m_project.lock();
        const int grid = project ? int(project->snapGrid()) : 0;
        if (grid <= 0)
            return;
        QPainter p(this);
        p.setPen(QColor(0x50, 0x78, 0xc8, 70));
        const double step = grid * m_canvas->m_zoom;
        for (double x = step; x < width(); x += step)
            p.drawLine(QLineF(x, 0, x, height()));
        for (double y = step; y < height(); y += step)
            p.drawLine(QLineF(0, y, width(), y));
    }

private:
    KRDesignCanvas *m_canvas;
};

// Covers the page until its design document has loaded; says why when it cannot load.
class KRDesignCanvas::LoadingView : public QWidget
{
public:
    using QWidget::QWidget;

    void setMessage(const QString &message)
    {
        m_message = message;
        setAccessibleName(message);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const double w = width(), h = height();
        QRadialGradient g(QPointF(w / 2, 0.34 * h), std::max(1.0, w));
        g.setColorAt(0, QColor::fromRgbF(0.97f, 0.97f, 0.97f));
        g.setColorAt(1, QColor::fromRgbF(0.68f, 0.68f, 0.68f));
        p.fillRect(rect(), g);
        if (m_message.isEmpty())
            return;
        p.setPen(QColor::fromRgbF(0.15f, 0.15f, 0.15f));
        const int margin = std::min(24, width() / 10);
        p.drawText(rect().adjusted(margin, margin, -margin, -margin), Qt::AlignCenter | Qt::TextWordWrap, m_message);
    }

private:
    QString m_message;
};

KRDesignCanvas::KRDesignCanvas(KRPageDesignView *designView, QWidget *parent, KRUserDefaults *defaults)
    : QWidget(parent), m_designView(designView), m_defaults(defaults ? defaults : &KRUserDefaults::sharedInstance())
{
    const auto page = designView->page();
    m_project = page ? page->project() : nullptr;
    m_surface = std::make_unique<KRDesignViewController>(page);
    designView->setHandler(m_surface.get());
    setAccessibleName(QStringLiteral("Design Surface"));

    auto *header = new QWidget(this);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(6, 3, 6, 3);
    m_devicePopUp = new QComboBox(header);
    m_zoomPopUp = new QComboBox(header);
    for (int z : KRDesignCanvasZooms)
        m_zoomPopUp->addItem(QStringLiteral("%1%").arg(z), z);
    m_zoomPopUp->setCurrentIndex(m_zoomPopUp->findData(100));
    headerLayout->addWidget(m_devicePopUp);
    headerLayout->addStretch();
    headerLayout->addWidget(m_zoomPopUp);

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // The keyboard belongs to the page inside: the area would take it from the page at a click
    // on its scroll bars or beside the device, where no command of the page reaches.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(false);
    m_zoomView = new ZoomView(this);
    m_scroll->setWidget(m_zoomView);

    KRWebView *view = designView->webView();
    view->setParent(m_zoomView);
    // A view the pool handed out before its document came still carries its off-screen mark.
    view->setAttribute(Qt::WA_DontShowOnScreen, false);
    m_grid = new GridOverlay(this, m_zoomView);
    m_loading = new LoadingView(m_zoomView);
    m_loading->setObjectName(QStringLiteral("designLoadingView"));
    m_loading->setMessage(designView->loadProblem());
    m_loading->setVisible(!designView->isDesignDocumentLoaded());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(m_scroll, 1);

    connect(m_zoomPopUp, &QComboBox::activated, this, [this](int index) {
        setZoomPercent(m_zoomPopUp->itemData(index).toInt());
    });
    connect(m_devicePopUp, &QComboBox::activated, this, [this](int index) {
        if (const auto project = m_project.lock())
            project->setDesignTarget(m_devicePopUp->itemData(index).toString());
    });
    connect(designView, &KRPageDesignView::loadProblemDidChange, this,
            [this] { m_loading->setMessage(m_designView ? m_designView->loadProblem() : QString()); });
    connect(designView, &KRPageDesignView::designDocumentDidLoad, this, [this] {
        m_loading->hide();
        installDropFilter();
    });
    // Boxes follow every new measurement: after each batch and when the page moved things itself.
    connect(view->layoutCache(), &KRLayoutCache::geometryDidChange, this, [this] { m_surface->updateSelectionBoxes(); });
    connect(view, &KRWebView::contextMenuRequested, this, [this, view](quint64 nodeId, const QPoint &position) {
        if (QMenu *menu = contextMenuForNode(nodeId, this))
            menu->popup(view->mapToGlobal(position));
    });

    // Tokens end the observations with the canvas: a canvas gone with its page is never told.
    if (const auto project = m_project.lock()) {
        m_targetToken = project->observable().observe(
            QStringLiteral("designTarget"), [this](const void *, const QString &, const QVariant &, const QVariant &) {
                setupDevice();
                viewResized();
                m_scroll->verticalScrollBar()->setValue(0);
            });
        const auto repaintGrid = [this](const void *, const QString &, const QVariant &, const QVariant &) {
            m_grid->setVisible(isGridShown());
            m_grid->update();
        };
        m_gridToken = project->observable().observe(QStringLiteral("snapGrid"), repaintGrid);
        m_showGridToken = project->observable().observe(QStringLiteral("showGrid"), repaintGrid);
    }
    m_backgroundToken = m_defaults->observe(QStringLiteral("designViewBackground"),
                                            [this](const QString &, const QVariant &) { loadBackground(); });
    // The pop-up lists the devices the user keeps in the preferences as they come, go and
    // change; the skin follows a change of the shown one.
    m_userDevicesToken = m_defaults->observe(KRUserDeviceInformation::UserDevicesKey, [this](const QString &, const QVariant &) {
        buildDevicePopUp();
        setupDevice();
        viewResized();
    });
    loadBackground();
    buildDevicePopUp();
    setupDevice();
    viewResized();
    installDropFilter();
}

KRDesignCanvas::~KRDesignCanvas()
{
    // The web view belongs to the page's design view, which outlives this canvas's widgets.
    if (m_designView) {
        m_designView->setHandler(nullptr);
        if (KRWebView *view = m_designView->webView()) {
            if (m_filtered)
                m_filtered->removeEventFilter(this);
            view->removeEventFilter(this);
            view->hide();
            view->setParent(nullptr);
        }
    }
}

void KRDesignCanvas::loadBackground()
{
    QString name = m_defaults->stringValue(QStringLiteral("designViewBackground"));
    if (name.isEmpty())
        name = QStringLiteral("KR-design-background-grid");
    // Only a plain image name: the default is user data.
    if (name.contains(u'/') || name.contains(u'\\') || name.startsWith(u'.'))
        name.clear();
    m_background = name.isEmpty() ? QImage()
                                  : QImage(KRResources::pathForResource(QStringLiteral("backgrounds/") + name + QStringLiteral(".png")));
    m_zoomView->update();
}

void KRDesignCanvas::buildDevicePopUp()
{
    const QSignalBlocker blocker(m_devicePopUp);
    m_devicePopUp->clear();
    const auto devices = KRObjectInfo::sharedInstance().deviceInformation(*m_defaults);
    for (const auto &device : devices.allValues()) {
        if (device->name == QLatin1String("Design View"))
            continue;
        m_devicePopUp->addItem(device->name, device->deviceID);
    }
}

QString KRDesignCanvas::deviceID() const
{
    return m_device ? m_device->deviceID : QString();
}

void KRDesignCanvas::setupDevice()
{
    const auto project = m_project.lock();
    const auto devices = KRObjectInfo::sharedInstance().deviceInformation(*m_defaults);
    QString target = project ? project->designTarget() : QString();
    if (!devices.contains(target)) {
        target = QStringLiteral("iPhone");
        if (project)
            project->setDesignTarget(target);
    }
    m_device = devices.objectForKey(target);
    m_skin = m_device ? m_device->image() : QImage();
    const QSignalBlocker blocker(m_devicePopUp);
    m_devicePopUp->setCurrentIndex(m_devicePopUp->findData(target));
}

void KRDesignCanvas::setZoomPercent(int percent)
{
    const int index = m_zoomPopUp->findData(percent);
    if (index < 0)
        return;
    m_zoomPopUp->setCurrentIndex(index);
    m_zoom = percent / 100.0;
    viewResized();
}

bool KRDesignCanvas::isGridShown() const
{
    const auto project = m_project.lock();
    return project && project->showGrid() && project->snapGrid() > 0;
}

void KRDesignCanvas::viewResized()
{
    if (!m_device || !m_designView)
        return;
    m_layout = KRDesignCanvasLayout::compute(m_skin.size(), m_zoom, m_scroll->maximumViewportSize(), *m_device);
    m_zoomView->resize(m_layout.contentSize);
    KRWebView *view = m_designView->webView();
    view->setGeometry(m_layout.pageRect);
    // The engine scales the page: the page keeps the device's width in CSS pixels.
    view->setZoomFactor(m_zoom);
    view->show();
    m_grid->setGeometry(m_layout.pageRect);
    m_grid->setVisible(isGridShown());
    m_grid->raise();
    m_loading->setGeometry(m_layout.pageRect);
    m_loading->raise();
    m_zoomView->update();
}

void KRDesignCanvas::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    viewResized();
}

void KRDesignCanvas::installDropFilter()
{
    if (!m_designView)
        return;
    KRWebView *view = m_designView->webView();
    view->installEventFilter(this);
    // Drag events reach the engine's input widget, the view's focus proxy.
    QWidget *proxy = view->focusProxy();
    if (proxy && proxy != m_filtered) {
        if (m_filtered)
            m_filtered->removeEventFilter(this);
        proxy->installEventFilter(this);
        m_filtered = proxy;
    }
}

bool KRDesignCanvas::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        if (m_designView && watched == m_designView->webView())
            QMetaObject::invokeMethod(this, &KRDesignCanvas::installDropFilter, Qt::QueuedConnection);
        break;
    case QEvent::KeyPress:
        if (watched == m_filtered) {
            // Tab walks the page's controls; the arrows move the selection. Alt+Tab switches
            // windows: a window manager that has not taken the keys yet lets it through, and it
            // must not walk the page.
            auto *key = static_cast<QKeyEvent *>(event);
            const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
            if (tab && (key->modifiers() & Qt::AltModifier))
                break;
            switch (key->key()) {
            case Qt::Key_Tab:
                m_surface->selectNextObject();
                return true;
            case Qt::Key_Backtab:
                m_surface->selectPreviousObject();
                return true;
            case Qt::Key_Up:
                m_surface->moveObjects(KRDesignViewController::Arrow::Up);
                return true;
            case Qt::Key_Down:
                m_surface->moveObjects(KRDesignViewController::Arrow::Down);
                return true;
            case Qt::Key_Left:
                m_surface->moveObjects(KRDesignViewController::Arrow::Left);
                return true;
            case Qt::Key_Right:
                m_surface->moveObjects(KRDesignViewController::Arrow::Right);
                return true;
            case Qt::Key_Delete:
                m_surface->deleteSelection();
                return true;
            default:
                break;
            }
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (KRDesignViewController::acceptsDrag(drag->mimeData())) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!KRDesignViewController::acceptsDrag(drop->mimeData())) {
            drop->ignore();
            return true;
        }
        auto *widget = static_cast<QWidget *>(watched);
        const QPointF inView = m_designView->webView()->mapFromGlobal(widget->mapToGlobal(drop->position()));
        if (m_surface->performDrop(drop->mimeData(), inView, m_zoom)) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            focusPage();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void KRDesignCanvas::focusPage()
{
    if (m_designView && m_designView->webView())
        m_designView->webView()->setFocus(Qt::MouseFocusReason);
}

QMenu *KRDesignCanvas::contextMenuForNode(quint64 nodeId, QWidget *parent)
{
    if (!m_designView)
        return nullptr;
    const auto node = m_designView->designViewControllerProxy()->nodeForId(nodeId);
    const QList<KRMenuItem> items = m_surface->contextMenuItemsForNode(node);
    if (items.isEmpty())
        return nullptr;
    auto *menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    krDesignCanvasFillMenu(*menu, items);
    return menu;
}

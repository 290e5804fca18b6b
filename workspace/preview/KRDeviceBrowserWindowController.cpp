#include "KRDeviceBrowserWindowController.h"

#include "KRDeviceBackgroundView.h"
#include "KRDeviceBrowserZoomView.h"

#include <core/KRNodeRunner.h>
#include <core/KRRunLogger.h>
#include <model/KRDeviceInformation.h>
#include <model/KRObjectInfo.h>
#include <platform/appkit/KRInterfaceRegistry.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRPaths.h>
#include <platform/webview/KRWebView.h>
#include <ui/KRMainMenu.h>
#include <widgets/views/KRDeviceBrowserHeaderView.h>
#include <workspace/surface/KRDesignCanvas.h>

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <map>

namespace {

// The log pane under the device: its height in device-viewer mode.
constexpr int deviceBrowserLogPaneHeight = 100;

// Defines window.__kr_controller before any page script runs; calls made before the channel
// is connected are queued. The console is left alone: its messages reach the client log
// through the page.
const char *const deviceBrowserBridgeScript = R"JS(
(function () {
    if (window.__kr_controller)
        return;
    var target = null, queue = [];
    function send(name, args) {
        if (target)
            target[name].apply(target, args);
        else
            queue.push([name, args]);
    }
    window.__kr_controller = {
        consoleLog_: function (message) { send('consoleLog_', [String(message)]); },
        jsWatchdog: function () { send('jsWatchdog', []); }
    };
    // A sign of life every second while the page's scripts leave it free, whether or not the
    // page runs the application's runtime: the window watches only a page that has given one.
    send('jsWatchdog', []);
    setInterval(function () { send('jsWatchdog', []); }, 1000);
    new QWebChannel(qt.webChannelTransport, function (channel) {
        target = channel.objects.__kr_controller;
        for (var i = 0; i < queue.length; ++i)
            target[queue[i][0]].apply(target, queue[i][1]);
        queue = [];
    });
})();
)JS";

// Tells the page of the device's orientation, as a turn of the device would (the page reads
// the new one from its size): through jQuery, which a page without it does not listen with.
// Once the page has loaded, the application's runtime binds its page's handlers only when the
// page is shown, which jQuery Mobile does some time later: the notice waits for that (a few
// seconds at most).
const char *const deviceBrowserOrientationNotice = R"JS(
(function () {
    var $ = window.jQuery;
    if (typeof $ !== 'function')
        return;
    var tries = 0;
    (function tell() {
        var app = window.application;
        if (typeof KRApplication === 'function' && app instanceof KRApplication && !app._currentPage && ++tries < 100) {
            setTimeout(tell, 50);
            return;
        }
        $(window).trigger('orientationchange', {sender: 'devbrowser'});
    })();
})();
)JS";

// The device turned a quarter counter-clockwise (its top to the left): the screen's size
// swapped and its place in the turned picture, whose portrait width is `skinWidth`.
std::shared_ptr<KRDeviceInformation> deviceBrowserTurnedDevice(const KRDeviceInformation &device, int skinWidth)
{
    auto turned = std::make_shared<KRDeviceInformation>();
    turned->deviceID = device.deviceID;
    turned->name = device.name;
    turned->imageName = device.imageName;
    turned->imageFolder = device.imageFolder;
    turned->width = device.height;
    turned->height = device.width;
    turned->screenWidth = device.screenHeight;
    turned->screenHeight = device.screenWidth;
    turned->setOffset(device.offsetY(), skinWidth - device.offsetX() - device.width);
    return turned;
}

// The browsing data of a previewed site (its storage, cookies and service workers), kept in a
// folder of its own and shared by the windows that show the site while any does. Without an
// application-support folder the data lasts only as long as the profile.
std::shared_ptr<QWebEngineProfile> deviceBrowserProfile(const QString &siteHost)
{
    static std::map<QString, std::weak_ptr<QWebEngineProfile>> profiles;
    std::weak_ptr<QWebEngineProfile> &entry = profiles[siteHost];
    if (std::shared_ptr<QWebEngineProfile> shown = entry.lock())
        return shown;
    const QString support = KRPaths::applicationSupportDirectory();
    QWebEngineProfile *profile = nullptr;
    if (support.isEmpty()) {
        profile = new QWebEngineProfile();
    } else {
        profile = new QWebEngineProfile(QStringLiteral("Preview-") + siteHost);
        const QString folder = QDir(support).filePath(QStringLiteral("Preview Storage/") + siteHost);
        profile->setPersistentStoragePath(folder);
        profile->setCachePath(folder + QStringLiteral("/Cache"));
    }
    // Every build is shown as it is now.
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    std::shared_ptr<QWebEngineProfile> shared(profile);
    entry = shared;
    return shared;
}

// The window manager's frame around a window (title bar and borders), as Qt last read it, or
// null where it is not one: a window manager frames a window in steps (it puts the window in a
// frame of 1 x 1 pixel, then gives the frame its size and says how wide it is), and Qt, asked in
// between (as assistive tools ask for a window's place), makes the frame up from the unsized one
// and keeps that answer until the window next moves or changes size: a frame smaller than the
// window, whose sides are negative. A screen less such a frame would be larger than the screen.
QMargins deviceBrowserReportedFrame(const QWidget *w)
{
    const QRect frame = w->frameGeometry();
    const QRect inner = w->geometry();
    const QMargins margins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                           frame.bottom() - inner.bottom());
    if (margins.left() < 0 || margins.top() < 0 || margins.right() < 0 || margins.bottom() < 0)
        return {};
    return margins;
}

// The window manager's frame around a window (title bar and borders): its own once the window
// manager has framed it, else that of another framed preview window (a maximised window may have
// no borders), else of another framed window of the application, else a title bar.
QMargins deviceBrowserFrameMargins(const QWidget *window)
{
    if (window->isVisible()) {
        if (const QMargins own = deviceBrowserReportedFrame(window); !own.isNull())
            return own;
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const bool sameKind : {true, false}) {
        for (const QWidget *other : windows) {
            if (other == window || !other->isVisible() || other->windowType() != Qt::Window
                || (sameKind && other->objectName() != window->objectName()))
                continue;
            if (const QMargins theirs = deviceBrowserReportedFrame(other); !theirs.isNull())
                return theirs;
        }
    }
    return QMargins(0, window->style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
}

// The room the frame of a window takes around it.
QSize deviceBrowserFrameExtent(const QWidget *window)
{
    const QMargins frame = deviceBrowserFrameMargins(window);
    return QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

// Where a window stands on the screen with its frame, or with the frame it will have.
QRect deviceBrowserFrameRect(const QWidget *window)
{
    return window->geometry().marginsAdded(deviceBrowserFrameMargins(window));
}

// A window's frame moved into the screen's free area as far as it fits: one as tall as the area
// stays at its top however far down it was put.
QRect deviceBrowserKeptInside(QRect frame, const QRect &area)
{
    frame.moveTo(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width() + 1)),
                 std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height() + 1)));
    return frame;
}

QString deviceBrowserChannelSource()
{
    QFile file(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// The runtime server of one previewed site, shared by the windows that show the site (the
// Device Viewer and the Local Server window of two project windows of it, or a window that
// runs it again): it listens on the site's own port and ends when the last of them lets go.
class KRPreviewSiteServer final : public KRNodeRunnerDelegate
{
public:
    KRPreviewSiteServer(const QString &siteHost, const QString &documentRoot) : m_documentRoot(documentRoot)
    {
        m_runner.setDocumentRootPath(documentRoot);
        m_runner.setSiteHostName(siteHost);
        m_runner.setRequestedPortNumber(KRDeviceBrowserWindowController::sitePortNumber(siteHost));
        m_runner.setDelegate(this);
    }
    ~KRPreviewSiteServer() override
    {
        m_runner.setDelegate(nullptr);
        m_runner.stop();
    }

    // The server of the site, running or starting, or a new one (not started yet).
    static std::shared_ptr<KRPreviewSiteServer> forSite(const QString &siteHost, const QString &documentRoot)
    {
        auto &servers = all();
        std::erase_if(servers, [](const auto &entry) { return entry.second.expired(); });
        std::weak_ptr<KRPreviewSiteServer> &entry = servers[siteHost];
        if (std::shared_ptr<KRPreviewSiteServer> running = entry.lock(); running && running->m_runner.isRunning())
            return running;
        auto server = std::make_shared<KRPreviewSiteServer>(siteHost, documentRoot);
        entry = server;
        return server;
    }

    // The folder of the site whose server, another one than that of siteHost, runs on the port;
    // empty when none of the application's does.
    static QString documentRootOnPort(qint64 port, const QString &siteHost)
    {
        for (const auto &[host, weak] : all()) {
            const auto server = weak.lock();
            if (server && host != siteHost && server->m_port == port && server->m_runner.isRunning())
                return server->m_documentRoot;
        }
        return {};
    }

    KRNodeRunner *runner() { return &m_runner; }
    // The port the server reported; -1 until it has.
    qint64 port() const { return m_port; }
    void start()
    {
        if (m_started)
            return;
        m_started = true;
        m_runner.start();
    }
    void addViewer(KRDeviceBrowserWindowController *viewer) { m_viewers.append(viewer); }
    void removeViewer(KRDeviceBrowserWindowController *viewer) { m_viewers.removeAll(viewer); }

    void nodeRunner(KRNodeRunner *runner, qint64 startedOnPort) override
    {
        m_port = startedOnPort;
        for (const QPointer<KRDeviceBrowserWindowController> &viewer : QList(m_viewers)) {
            if (viewer)
                static_cast<KRNodeRunnerDelegate *>(viewer.data())->nodeRunner(runner, startedOnPort);
        }
    }
    void nodeRunner(KRNodeRunner *runner, const QString &receivedTextMessage) override
    {
        for (const QPointer<KRDeviceBrowserWindowController> &viewer : QList(m_viewers)) {
            if (viewer)
                static_cast<KRNodeRunnerDelegate *>(viewer.data())->nodeRunner(runner, receivedTextMessage);
        }
    }

private:
    static std::map<QString, std::weak_ptr<KRPreviewSiteServer>> &all()
    {
        static std::map<QString, std::weak_ptr<KRPreviewSiteServer>> servers;
        return servers;
    }

    QString m_documentRoot;
    KRNodeRunner m_runner;
    bool m_started = false;
    qint64 m_port = -1;
    QList<QPointer<KRDeviceBrowserWindowController>> m_viewers;
};

// The script bridge, "__kr_controller" in the page.
class KRDeviceBrowserWindowControllerProxy : public QObject
{
    Q_OBJECT

public:
    explicit KRDeviceBrowserWindowControllerProxy(KRDeviceBrowserWindowController *delegate)
        : m_delegate(delegate)
    {
    }
    void setDelegate(KRDeviceBrowserWindowController *delegate) { m_delegate = delegate; }

public slots:
    void consoleLog_(const QString &message)
    {
        if (m_delegate)
            m_delegate->consoleLog(message);
    }
    void jsWatchdog()
    {
        if (m_delegate)
            m_delegate->jsWatchdog();
    }

private:
    QPointer<KRDeviceBrowserWindowController> m_delegate;
};

// The page of the preview: its console, parse errors and dialogs go to the window.
class KRDeviceBrowserPage : public QWebEnginePage
{
public:
    KRDeviceBrowserPage(QWebEngineProfile *profile, KRDeviceBrowserWindowController *controller, QObject *parent)
        : QWebEnginePage(profile, parent)
        , m_controller(controller)
    {
    }

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override
    {
        if (m_controller)
            m_controller->pageConsoleMessage(int(level), message, lineNumber, sourceID);
    }
    void javaScriptAlert(const QUrl &, const QString &message) override
    {
        if (m_controller)
            m_controller->pageDialog(message, false);
    }
    bool javaScriptConfirm(const QUrl &, const QString &message) override
    {
        return m_controller && m_controller->pageDialog(message, true);
    }

private:
    QPointer<KRDeviceBrowserWindowController> m_controller;
};

// Builds the window and connects the controller's outlets.
struct KRDeviceBrowserWindowBuilder
{
    static QToolButton *headerButton(const QString &text, QWidget *parent)
    {
        auto *button = new QToolButton(parent);
        button->setText(text);
        button->setAutoRaise(true);
        return button;
    }

    static QWidget *build(QObject *owner)
    {
        auto *c = qobject_cast<KRDeviceBrowserWindowController *>(owner);
        auto *window = new QWidget(nullptr, Qt::Window);
        window->setObjectName(QStringLiteral("KRDeviceBrowserWindow"));
        window->resize(720, 760);
        auto *layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        // The application's menus, as every window has them (Close among them).
        layout->setMenuBar(KRMainMenu::shared().createMenuBar(window));

        auto *header = new KRDeviceBrowserHeaderView(window);
        header->setFixedHeight(34);
        auto *headerLayout = new QHBoxLayout(header);
        headerLayout->setContentsMargins(8, 4, 8, 5);
        headerLayout->setSpacing(4);
        QToolButton *back = headerButton(QStringLiteral("Back"), header);
        QToolButton *forward = headerButton(QStringLiteral("Forward"), header);
        back->setIcon(window->style()->standardIcon(QStyle::SP_ArrowBack));
        forward->setIcon(window->style()->standardIcon(QStyle::SP_ArrowForward));
        back->setToolTip(QStringLiteral("Back"));
        forward->setToolTip(QStringLiteral("Forward"));
        back->setEnabled(false);
        forward->setEnabled(false);
        auto *address = new QLineEdit(header);
        address->setMinimumWidth(160);
        address->setAccessibleName(QStringLiteral("Address"));
        address->setPlaceholderText(QStringLiteral("Address of a page of the application"));
        auto *devices = new QComboBox(header);
        auto *orientation = new QComboBox(header);
        orientation->addItems({QStringLiteral("Portrait"), QStringLiteral("Landscape")});
        auto *zoom = new QComboBox(header);
        QToolButton *openBrowser = headerButton(QStringLiteral("Open in Browser"), header);
        headerLayout->addWidget(back);
        headerLayout->addWidget(forward);
        headerLayout->addWidget(address, 1);
        headerLayout->addWidget(devices);
        headerLayout->addWidget(orientation);
        headerLayout->addWidget(zoom);
        headerLayout->addWidget(openBrowser);
        layout->addWidget(header);

        auto *serverHeader = new KRDeviceBrowserHeaderView(window);
        serverHeader->setMinimumHeight(34);
        auto *serverHeaderLayout = new QHBoxLayout(serverHeader);
        serverHeaderLayout->setContentsMargins(10, 4, 8, 5);
        // Says where the application runs; the address can be selected and copied.
        auto *serverAddress = new QLabel(serverHeader);
        serverAddress->setObjectName(QStringLiteral("serverAddress"));
        serverAddress->setWordWrap(true);
        serverAddress->setTextFormat(Qt::PlainText);
        serverAddress->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        serverHeaderLayout->addWidget(serverAddress, 1);
        QToolButton *serverOpenBrowser = headerButton(QStringLiteral("Open in Browser"), serverHeader);
        serverHeaderLayout->addWidget(serverOpenBrowser);
        serverHeader->hide();
        layout->addWidget(serverHeader);

        auto *split = new QSplitter(Qt::Vertical, window);
        split->setChildrenCollapsible(true);
        auto *scroll = new QScrollArea(split);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(false);
        auto *zoomView = new KRDeviceBrowserZoomView;
        auto *skin = new KRDeviceBackgroundView(zoomView);
        scroll->setWidget(zoomView);
        split->addWidget(scroll);

        auto *logPane = new QWidget(split);
        auto *logLayout = new QHBoxLayout(logPane);
        logLayout->setContentsMargins(0, 0, 0, 0);
        logLayout->setSpacing(1);
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPixelSize(12);
        auto makeLog = [&](const QString &name) {
            auto *log = new QPlainTextEdit(logPane);
            log->setObjectName(name);
            log->setReadOnly(true);
            log->setFont(fixed);
            log->setLineWrapMode(QPlainTextEdit::NoWrap);
            logLayout->addWidget(log, 1);
            return log;
        };
        QPlainTextEdit *clientLog = makeLog(QStringLiteral("clientLog"));
        QPlainTextEdit *serverLog = makeLog(QStringLiteral("serverLog"));
        split->addWidget(logPane);
        split->setStretchFactor(0, 1);
        split->setStretchFactor(1, 0);
        layout->addWidget(split, 1);

        if (c) {
            c->m_headerContainer = header;
            c->m_serverHeaderContainer = serverHeader;
            c->m_serverAddressLabel = serverAddress;
            c->showServerAddress();
            c->m_backButton = back;
            c->m_forwardButton = forward;
            c->m_addressField = address;
            c->m_devicePopUp = devices;
            c->m_orientationPopUp = orientation;
            c->m_zoomPopUp = zoom;
            c->m_splitView = split;
            c->m_scrollView = scroll;
            c->m_zoomView = zoomView;
            c->m_skinView = skin;
            c->m_clientLog = clientLog;
            c->m_serverLog = serverLog;
            QObject::connect(back, &QToolButton::clicked, c, [c] { c->forwardBackAction(0); });
            QObject::connect(forward, &QToolButton::clicked, c, [c] { c->forwardBackAction(1); });
            QObject::connect(openBrowser, &QToolButton::clicked, c, &KRDeviceBrowserWindowController::openBrowserAction);
            QObject::connect(serverOpenBrowser, &QToolButton::clicked, c,
                             &KRDeviceBrowserWindowController::openBrowserAction);
            QObject::connect(devices, &QComboBox::activated, c, &KRDeviceBrowserWindowController::devicePopUpChanged);
            QObject::connect(orientation, &QComboBox::activated, c,
                             &KRDeviceBrowserWindowController::orientationPopUpChanged);
            QObject::connect(zoom, &QComboBox::activated, c, &KRDeviceBrowserWindowController::zoomPopUpChanged);
            QObject::connect(address, &QLineEdit::returnPressed, c, &KRDeviceBrowserWindowController::addressEntered);
        }
        return window;
    }
};

void KRDeviceBrowserWindowController::registerInterface()
{
    if (!KRInterfaceRegistry::hasInterface(QStringLiteral("KRDeviceBrowserWindow")))
        KRInterfaceRegistry::registerInterface(QStringLiteral("KRDeviceBrowserWindow"), &KRDeviceBrowserWindowBuilder::build);
}

KRDeviceBrowserWindowController::KRDeviceBrowserWindowController()
    : m_controllerProxy(new KRDeviceBrowserWindowControllerProxy(this))
{
    m_controllerProxy->setParent(this);
    registerInterface();
    setWindow(KRInterfaceRegistry::instantiate(QStringLiteral("KRDeviceBrowserWindow"), this));
    m_watchdogTimer.setInterval(250);
    connect(&m_watchdogTimer, &QTimer::timeout, this, &KRDeviceBrowserWindowController::checkWatchdog);
    m_placeCheck.setInterval(10);
    connect(&m_placeCheck, &QTimer::timeout, this, &KRDeviceBrowserWindowController::showWebViewOnceItsDocumentHasPlace);
    awakeFromNib();
}

KRDeviceBrowserWindowController::~KRDeviceBrowserWindowController()
{
    m_controllerProxy->setDelegate(nullptr);
    stopServer();
    dropWebView();
    // The parts of the window are not asked about anything while they go.
    if (m_watchedViewport)
        m_watchedViewport->removeEventFilter(this);
    m_watchedViewport = nullptr;
    if (m_splitView)
        m_splitView->removeEventFilter(this);
    if (window())
        window()->removeEventFilter(this);
    delete window();
}

void KRDeviceBrowserWindowController::awakeFromNib()
{
    window()->installEventFilter(this);
    m_watchedViewport = m_scrollView->viewport();
    m_watchedViewport->installEventFilter(this);
    m_splitView->installEventFilter(this);
    connect(m_splitView.data(), &QSplitter::splitterMoved, this, &KRDeviceBrowserWindowController::relayout);
    m_zoomFactor = 1.0;

    for (int percent : {50, 75, 100, 125, 150, 175, 200})
        m_zoomPopUp->addItem(QStringLiteral("%1%").arg(percent), QString::number(percent));
    m_zoomPopUp->setCurrentText(QStringLiteral("100%"));

    const auto devices = KRObjectInfo::sharedInstance().deviceInformation();
    for (const auto &device : devices.allValues()) {
        if (device->name == QLatin1String("Design View"))
            continue;
        m_devicePopUp->addItem(device->name, device->deviceID);
    }
    setDeviceID(QStringLiteral("iPhone"));

    m_clientLog->clear();
    m_serverLog->clear();
    logMessage(QStringLiteral(">> Client log <<"), false);
    logMessage(QStringLiteral(">> Server log <<"), true);
}

void KRDeviceBrowserWindowController::setMode(int mode)
{
    m_mode = mode;
    if (mode == 0) {
        KR_LOG(QStringLiteral("KRDeviceBrowserModeInternal"));
        showTitle();
        // A window that showed the server only gets its page view back.
        if (!m_webView && !m_urlString.isEmpty()) {
            ensureWebView();
            m_webView->load(QUrl(m_urlString));
        }
        zoomWindowOnce();
        m_headerContainer->show();
        m_serverHeaderContainer->hide();
        m_splitView->widget(0)->show();
        m_clientLog->show();
        m_splitView->handle(1)->setEnabled(true);
        m_logPanePending = true;
        placeLogPane();
    } else {
        KR_LOG(QStringLiteral("KRDeviceBrowserModeExternal"));
        showTitle();
        dropWebView();
        undoWindowZoom();
        m_headerContainer->hide();
        showServerAddress();
        m_serverHeaderContainer->show();
        // The device pane goes; the server log takes the whole log pane.
        m_logPanePending = false;
        m_splitView->widget(0)->hide();
        m_clientLog->hide();
        m_splitView->handle(1)->setEnabled(false);
    }
    relayout();
}

// The log pane takes its height under the device, and the device the rest. A split view that
// has not been laid out yet (the window not shown) would share out the sizes given now by
// their ratio, leaving the device no room: they are given once it has its height.
void KRDeviceBrowserWindowController::placeLogPane()
{
    if (!m_logPanePending || !m_splitView || !m_splitView->isVisible())
        return;
    const int total = m_splitView->height() - m_splitView->handleWidth();
    if (total <= deviceBrowserLogPaneHeight)
        return;
    m_logPanePending = false;
    m_splitView->setSizes({total - deviceBrowserLogPaneHeight, deviceBrowserLogPaneHeight});
}

void KRDeviceBrowserWindowController::setIndexFilePath(const QString &path)
{
    m_indexFilePath = path;
    m_indexFileName = QFileInfo(path).fileName();
    m_urlString.clear();
    m_orientationNoticePending = true;
    showServerAddress();
    const QString root = QFileInfo(path).absolutePath();
    const QString siteHost = siteHostName(root);
    if (siteHost != m_siteHost || !m_profile) {
        // Another site: its pages go with the browsing data they were shown with.
        dropWebView();
        m_siteHost = siteHost;
        m_profile = deviceBrowserProfile(siteHost);
    }
    // The page's view comes now, as the run is asked for, and shows the page once the server
    // answers: made then, its window would close whatever menu or pop-up list the user had
    // opened meanwhile, as showing a window does.
    if (m_mode == 0)
        ensureWebView();
    showTitle();
    // The site's server, which another window may run already: the start page is shown once
    // it answers.
    std::shared_ptr<KRPreviewSiteServer> server = KRPreviewSiteServer::forSite(m_siteHost, root);
    if (server != m_server) {
        stopServer();
        m_server = std::move(server);
        m_server->addViewer(this);
    }
    if (m_server->port() != -1) {
        QTimer::singleShot(0, this, [this, server = std::weak_ptr<KRPreviewSiteServer>(m_server)] {
            const std::shared_ptr<KRPreviewSiteServer> running = server.lock();
            if (running && running == m_server && running->port() != -1 && m_urlString.isEmpty())
                nodeRunner(running->runner(), running->port());
        });
    }
    m_server->start();
}

KRNodeRunner *KRDeviceBrowserWindowController::nodeRunner() const
{
    return m_server ? m_server->runner() : nullptr;
}

QString KRDeviceBrowserWindowController::projectName(const QString &documentRoot)
{
    const QFileInfo root(QDir::cleanPath(QFileInfo(documentRoot).absoluteFilePath()));
    // The project's folder holds the built site in "kr-web".
    QString name = root.fileName() == QLatin1String("kr-web") ? QFileInfo(root.absolutePath()).fileName() : root.fileName();
    if (name.endsWith(QLatin1String(".krproj"), Qt::CaseInsensitive))
        name.chop(7);
    return name;
}

int KRDeviceBrowserWindowController::sitePortNumber(const QString &siteHost)
{
    const QByteArray digest = QCryptographicHash::hash(siteHost.toUtf8(), QCryptographicHash::Sha256);
    const quint32 value = (quint32(quint8(digest[0])) << 24) | (quint32(quint8(digest[1])) << 16)
        | (quint32(quint8(digest[2])) << 8) | quint32(quint8(digest[3]));
    return firstSitePort + int(value % quint32(sitePortCount));
}

void KRDeviceBrowserWindowController::showTitle()
{
    QWidget *w = window();
    if (!w)
        return;
    const QString role = m_mode == 0 ? QStringLiteral("Device Viewer") : QStringLiteral("Local Server");
    const QString project = m_indexFilePath.isEmpty() ? QString() : projectName(QFileInfo(m_indexFilePath).absolutePath());
    w->setWindowTitle(project.isEmpty() ? role : project + QStringLiteral(" — ") + role);
}

// Called as the window is first shown, before it is mapped: it goes where windows are put (over
// the active window), or, where another preview window lies already (the same corner or the same
// centre: both are put over their project window), down and to the right of it, as windows
// cascade. Places are compared frame with frame: the window, not framed yet, stands where it is
// put and gets its frame around it, the others have theirs.
void KRDeviceBrowserWindowController::placeBesideOtherPreviews()
{
    QWidget *w = window();
    if (!w->testAttribute(Qt::WA_Moved))
        KRWindowControllerBase::placeOnFirstShow(w);
    QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QMargins margins = deviceBrowserFrameMargins(w);
    QRect frame = w->geometry().marginsAdded(margins);
    const auto onScreen = [&area](const QRect &r) { return deviceBrowserKeptInside(r, area); };
    constexpr int step = 32;
    const auto near = [](QPoint a, QPoint b) { return std::abs(a.x() - b.x()) < step && std::abs(a.y() - b.y()) < step; };
    const QWidgetList windows = QApplication::topLevelWidgets();
    frame = onScreen(frame);
    for (int tries = 0; tries < 20; ++tries) {
        // Of the previews lying there, the one furthest down and right (whatever order the
        // windows are listed in): the window goes on from it, or on from its own place when it
        // is there already.
        const QWidget *under = nullptr;
        for (const QWidget *other : windows) {
            if (other == w || !other->isVisible() || other->objectName() != w->objectName())
                continue;
            const QRect there = deviceBrowserFrameRect(other);
            if (!near(there.topLeft(), frame.topLeft()) && !near(there.center(), frame.center()))
                continue;
            const QPoint last = under ? deviceBrowserFrameRect(under).topLeft() : QPoint();
            if (!under || std::pair(there.x() + there.y(), there.x()) > std::pair(last.x() + last.y(), last.x()))
                under = other;
        }
        if (!under)
            break;
        QRect next = frame;
        next.moveTo(deviceBrowserFrameRect(under).topLeft() + QPoint(step, step));
        next = onScreen(next);
        if (next.topLeft() == frame.topLeft())
            next = onScreen(frame.translated(step, step));
        if (next.topLeft() == frame.topLeft())
            break; // the screen's corner: no place further on
        frame = next;
    }
    w->move(frame.topLeft() + QPoint(margins.left(), margins.top()));
}

QString KRDeviceBrowserWindowController::siteHostName(const QString &documentRoot)
{
    const QFileInfo root(QDir::cleanPath(QFileInfo(documentRoot).absoluteFilePath()));
    const QString path = root.canonicalFilePath().isEmpty() ? root.absoluteFilePath() : root.canonicalFilePath();
    const QString name = projectName(documentRoot);
    QString label;
    for (const QChar c : name.toLower()) {
        if (label.size() >= 40)
            break;
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            label += c;
        else if (!label.isEmpty() && !label.endsWith(QLatin1Char('-')))
            label += QLatin1Char('-');
    }
    while (label.endsWith(QLatin1Char('-')))
        label.chop(1);
    if (label.isEmpty())
        label = QStringLiteral("project");
    const QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(10);
    return label + QLatin1Char('-') + QString::fromLatin1(digest) + QStringLiteral(".localhost");
}

void KRDeviceBrowserWindowController::stopServer()
{
    if (!m_server)
        return;
    // The server ends with the last window that shows its site.
    m_server->removeViewer(this);
    m_server.reset();
}

void KRDeviceBrowserWindowController::setDeviceID(const QString &deviceID)
{
    if (deviceID == m_deviceID && m_deviceInformation)
        return;
    const auto devices = KRObjectInfo::sharedInstance().deviceInformation();
    std::shared_ptr<KRDeviceInformation> device = devices.objectForKey(deviceID);
    m_deviceID = deviceID;
    if (!device) {
        m_deviceID = QStringLiteral("iPhone");
        device = devices.objectForKey(m_deviceID);
    }
    if (!device)
        return;
    m_deviceInformation = device;
    m_devicePopUp->setCurrentText(device->name);
    deviceSetup();
}

void KRDeviceBrowserWindowController::deviceSetup()
{
    if (!m_deviceInformation)
        return;
    const QImage upright = m_deviceInformation->image();
    if (isLandscape()) {
        m_templateImage = rotateIndividualImage(upright, false);
        m_shownDevice = deviceBrowserTurnedDevice(*m_deviceInformation,
                                                  upright.isNull() ? m_deviceInformation->width : upright.width());
    } else {
        m_templateImage = upright;
        m_shownDevice = m_deviceInformation;
    }
    m_skinView->setImage(m_templateImage);
    fitWindowToDevice();
    relayout();
    scrollToTop();
}

bool KRDeviceBrowserWindowController::isLandscape() const
{
    return m_orientationPopUp && m_orientationPopUp->currentIndex() == 1;
}

void KRDeviceBrowserWindowController::relayout()
{
    if (!m_shownDevice || !m_scrollView)
        return;
    const QSize skinSize = m_templateImage.isNull() ? QSize(m_shownDevice->width, m_shownDevice->height)
                                                    : m_templateImage.size();
    const KRDesignCanvasLayout layout = KRDesignCanvasLayout::compute(skinSize, m_zoomFactor,
                                                                      m_scrollView->viewport()->size(), *m_shownDevice);
    m_zoomView->resize(layout.contentSize);
    m_skinView->setGeometry(layout.skinRect);
    if (m_webView) {
        m_webView->setGeometry(layout.pageRect);
        // The engine scales the page: it keeps the device's size in CSS pixels.
        m_webView->setZoomFactor(m_zoomFactor);
        if (m_webView->parentWidget() == m_zoomView)
            m_webView->raise();
    }
}

void KRDeviceBrowserWindowController::scrollToTop()
{
    if (m_scrollView)
        m_scrollView->verticalScrollBar()->setValue(m_scrollView->verticalScrollBar()->minimum());
}

void KRDeviceBrowserWindowController::zoomWindowOnce()
{
    if (m_didInitialZoom)
        return;
    m_didInitialZoom = true;
    m_geometryBeforeZoom = window()->geometry();
    fitWindowToDevice();
}

QSize KRDeviceBrowserWindowController::windowSizeForDevice(double zoom) const
{
    QWidget *w = window();
    const QSize skin = (m_templateImage.isNull() ? QSize(400, 700) : m_templateImage.size()) * zoom;
    const QWidget *menuBar = w->layout() ? w->layout()->menuBar() : nullptr;
    const int above = (menuBar ? menuBar->sizeHint().height() : 0)
        + std::max(m_headerContainer->minimumHeight(), m_headerContainer->sizeHint().height());
    // The device with a margin, above the log pane; never narrower than the header's controls.
    return QSize(std::max(skin.width() + 40, w->minimumSizeHint().width()),
                 above + skin.height() + 40 + m_splitView->handleWidth() + deviceBrowserLogPaneHeight);
}

QSize KRDeviceBrowserWindowController::roomOnScreen() const
{
    QWidget *w = window();
    QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return screen->availableGeometry().size() - deviceBrowserFrameExtent(w);
}

void KRDeviceBrowserWindowController::fitWindowToDevice()
{
    QWidget *w = window();
    if (!w || m_mode != 0 || !m_didInitialZoom)
        return;
    // The chosen zoom, or the largest smaller one of the pop-up at which the whole device fits
    // the screen (the smallest when none does).
    const QSize room = roomOnScreen();
    double zoom = m_chosenZoom;
    for (int i = m_zoomPopUp->count() - 1; i >= 0; --i) {
        const double candidate = m_zoomPopUp->itemData(i).toString().toDouble() / 100.0;
        if (candidate > m_chosenZoom)
            continue;
        zoom = candidate;
        const QSize needed = windowSizeForDevice(candidate);
        if (needed.width() <= room.width() && needed.height() <= room.height())
            break;
    }
    showZoom(zoom);
    // The window takes the device's size, larger or smaller than before, on the screen.
    w->resize(windowSizeForDevice(zoom).boundedTo(room));
    keepFrameOnScreen();
}

// Keeps the window's frame on the screen's free area, title bar first, once the window has its
// place (until then it goes where windows are put, as it is first shown).
void KRDeviceBrowserWindowController::keepFrameOnScreen()
{
    QWidget *w = window();
    if (!m_placed)
        return;
    QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins margins = deviceBrowserFrameMargins(w);
    const QRect frame = w->geometry().marginsAdded(margins);
    const QPoint topLeft = deviceBrowserKeptInside(frame, screen->availableGeometry()).topLeft();
    if (topLeft != frame.topLeft())
        w->move(topLeft + QPoint(margins.left(), margins.top()));
}

// Once the window manager has framed the window, its frame is known rather than guessed: a
// window that then turns out larger than the screen's free area is fitted again.
void KRDeviceBrowserWindowController::checkFittedFrame()
{
    QWidget *w = window();
    if (!m_frameCheckPending || !w->isVisible() || deviceBrowserReportedFrame(w).isNull())
        return;
    m_frameCheckPending = false;
    const QSize room = roomOnScreen();
    if (w->width() > room.width() || w->height() > room.height())
        fitWindowToDevice();
    else
        keepFrameOnScreen();
}

void KRDeviceBrowserWindowController::showZoom(double zoom)
{
    m_zoomFactor = zoom;
    const int item = m_zoomPopUp->findData(QString::number(qRound(zoom * 100)));
    if (item >= 0)
        m_zoomPopUp->setCurrentIndex(item);
    relayout();
}

void KRDeviceBrowserWindowController::undoWindowZoom()
{
    if (!m_didInitialZoom)
        return;
    m_didInitialZoom = false;
    window()->resize(m_geometryBeforeZoom.size());
}

void KRDeviceBrowserWindowController::ensureWebView()
{
    if (m_webView)
        return;
    // A window of its own at first: see showWebViewOnceItsDocumentHasPlace.
    auto *view = new QWebEngineView();
    if (!m_profile)
        m_profile = deviceBrowserProfile(m_siteHost.isEmpty() ? QStringLiteral("localhost") : m_siteHost);
    auto *page = new KRDeviceBrowserPage(m_profile.get(), this, view);
    view->setPage(page);
    view->setContextMenuPolicy(Qt::NoContextMenu);
    QWebEngineSettings *settings = page->settings();
    settings->setAttribute(QWebEngineSettings::LocalStorageEnabled, true);
    // A phone's screen has no desktop scroll bars; a page taller than the screen scrolls by
    // dragging or the wheel.
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setFontSize(QWebEngineSettings::DefaultFontSize, 16);
    settings->setFontSize(QWebEngineSettings::DefaultFixedFontSize, 16);

    m_channel = new QWebChannel(page);
    m_channel->registerObject(QStringLiteral("__kr_controller"), m_controllerProxy);
    page->setWebChannel(m_channel);
    QWebEngineScript bridge;
    bridge.setName(QStringLiteral("KRDeviceBrowserBridge"));
    bridge.setInjectionPoint(QWebEngineScript::DocumentCreation);
    bridge.setWorldId(QWebEngineScript::MainWorld);
    bridge.setRunsOnSubFrames(false);
    static const QString channelSource = deviceBrowserChannelSource();
    bridge.setSourceCode(channelSource + QLatin1Char('\n') + QLatin1String(deviceBrowserBridgeScript));
    page->scripts().insert(bridge);

    connect(page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &info) {
        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            // A view standing off the screen waits for its first page's place from the page's
            // load on: the view may have been made well before its server answered.
            if (m_webView && m_webView->testAttribute(Qt::WA_DontShowOnScreen) && !m_placeCheck.isActive()) {
                m_placeWait.start();
                m_placeCheck.start();
            }
            pageLoadStarted(info.url());
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            m_webViewLoaded = true;
            pageLoadFinished(info.url());
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            m_webViewLoaded = true;
            logMessage(QStringLiteral("Failed loading: %1 (%2)").arg(info.url().toString(), info.errorString()), false);
            break;
        default:
            break;
        }
    });
    m_webView = view;
    m_lastJavascriptWatchdog = {};
    m_webViewLoaded = false;
    if (KRWebView::documentsDescribed()) {
        // The engine lays out the page of a shown view only, and tells assistive tools where
        // its document lies some time after that; a tool that looks at the document before (a
        // screen reader looks at the window as it opens) is told that the page has no place on
        // the screen, and keeps that for good. So the view is shown off the screen, at the
        // device's size, until its first page is there and described, and comes into the
        // device then.
        view->setAttribute(Qt::WA_DontShowOnScreen);
        relayout();
        view->show();
    } else {
        view->setParent(m_zoomView);
        relayout();
        view->show();
    }
    m_pageSilence = 0;
    m_watchdogClock.start();
    m_watchdogTimer.start();
}

void KRDeviceBrowserWindowController::showWebViewOnceItsDocumentHasPlace()
{
    QWebEngineView *view = m_webView;
    if (!view || !view->testAttribute(Qt::WA_DontShowOnScreen)) {
        m_placeCheck.stop();
        return;
    }
    // A page that is slow to come, or an engine that never tells, holds the device's screen
    // empty for a few seconds at most.
    if (!(m_webViewLoaded && KRWebView::documentHasPlace(view)) && m_placeWait.elapsed() < webViewPlaceWaitLimit)
        return;
    m_placeCheck.stop();
    // Hiding keeps the document's place.
    view->hide();
    view->setAttribute(Qt::WA_DontShowOnScreen, false);
    view->setParent(m_zoomView);
    relayout();
    view->show();
}

void KRDeviceBrowserWindowController::showServerAddress()
{
    if (!m_serverAddressLabel)
        return;
    if (m_urlString.isEmpty()) {
        m_serverAddressLabel->setText(
            QStringLiteral("The application runs in your browser once the local server has started."));
        return;
    }
    // Each project has a name of its own under "localhost", which the browser must take for
    // this computer rather than look up on the network.
    m_serverAddressLabel->setText(
        QStringLiteral("The application runs in your browser at %1\n"
                       "Your browser must take names under “localhost” for this computer; one that looks them "
                       "up on the network does not find the application.")
            .arg(m_urlString));
}

void KRDeviceBrowserWindowController::dropWebView()
{
    m_watchdogTimer.stop();
    m_placeCheck.stop();
    m_lastJavascriptWatchdog = {};
    if (m_channel)
        m_channel->deregisterObject(m_controllerProxy);
    delete m_webView.data();
}

void KRDeviceBrowserWindowController::nodeRunner(KRNodeRunner *, qint64 startedOnPort)
{
    QUrl start;
    start.setScheme(QStringLiteral("http"));
    start.setHost(m_siteHost.isEmpty() ? QStringLiteral("127.0.0.1") : m_siteHost);
    start.setPort(int(startedOnPort));
    start.setPath(QLatin1Char('/') + m_indexFileName);
    m_urlString = start.toString(QUrl::FullyEncoded);
    logMessage(QStringLiteral("Local server running application at %1").arg(m_urlString), true);
    const int ownPort = sitePortNumber(m_siteHost);
    if (!m_siteHost.isEmpty() && startedOnPort != ownPort) {
        // Two projects may have the same port: the holder is then named.
        const QString other = KRPreviewSiteServer::documentRootOnPort(ownPort, m_siteHost);
        const QString holder = other.isEmpty() ? QStringLiteral("another program")
                                               : QStringLiteral("Korvane's preview of the project “%1”").arg(projectName(other));
        const QString message = QStringLiteral("Port %1, at which this project is always previewed, is in use by "
                                               "%3: the application runs at port %2 this time, where "
                                               "what its pages stored at port %1 (local storage, databases, service "
                                               "workers, caches) is not found.")
                                    .arg(ownPort)
                                    .arg(startedOnPort)
                                    .arg(holder);
        KR_LOG(message);
        logMessage(message, true);
    }
    showServerAddress();
    if (m_mode != 0) {
        KROpenURLService::current().openURL(QUrl(m_urlString));
        return;
    }
    ensureWebView();
    m_webView->load(QUrl(m_urlString));
}

void KRDeviceBrowserWindowController::nodeRunner(KRNodeRunner *, const QString &receivedTextMessage)
{
    for (const QString &line : receivedTextMessage.split(QLatin1Char('\n'))) {
        if (!line.isEmpty())
            logMessage(line, true);
    }
}

QString KRDeviceBrowserWindowController::logTimestamp(const QTime &time)
{
    const int hour = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QStringLiteral("%1:%2:%3.%4")
        .arg(hour)
        .arg(time.minute(), 2, 10, QLatin1Char('0'))
        .arg(time.second(), 2, 10, QLatin1Char('0'))
        .arg(time.msec() / 10, 2, 10, QLatin1Char('0'));
}

void KRDeviceBrowserWindowController::logMessage(const QString &message, bool serverMessage)
{
    QPlainTextEdit *log = serverMessage ? m_serverLog : m_clientLog;
    if (!log)
        return;
    QTextCursor cursor(log->document());
    cursor.movePosition(QTextCursor::End);
    if (!log->document()->isEmpty())
        cursor.insertText(QStringLiteral("\n"));
    cursor.insertText(QStringLiteral("[%1]: %2").arg(logTimestamp(QTime::currentTime()), message));
    log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
}

QImage KRDeviceBrowserWindowController::rotateIndividualImage(const QImage &image, bool clockwise)
{
    if (image.isNull())
        return {};
    // Qt's y axis points down, so a clockwise turn is a positive angle here.
    return image.transformed(QTransform().rotate(clockwise ? 90 : -90), Qt::SmoothTransformation);
}

void KRDeviceBrowserWindowController::openBrowserAction()
{
    if (m_urlString.isEmpty())
        return;
    // The page the device shows, when it is one of the application's; else the start page.
    const QUrl start(m_urlString);
    const QUrl shown = m_mode == 0 && m_webView ? m_webView->url() : QUrl();
    const bool ownPage = shown.scheme() == start.scheme() && shown.host() == start.host() && shown.port() == start.port()
        && shown.userInfo().isEmpty();
    KROpenURLService::current().openURL(ownPage ? shown : start);
}

std::optional<QUrl> KRDeviceBrowserWindowController::addressOfPreviewedPage(const QString &typed, const QString &startPage)
{
    const QUrl start(startPage);
    const QString text = typed.trimmed();
    if (!start.isValid() || start.isRelative() || text.isEmpty())
        return std::nullopt;
    const QUrl entered = QUrl::fromUserInput(text);
    // A bare page name ("page2.html") is a page beside the start page.
    const QUrl wanted = QUrl(text).isRelative() && !text.contains(QLatin1Char(':')) ? start.resolved(QUrl(text)) : entered;
    if (!wanted.isValid() || wanted.scheme() != start.scheme() || wanted.host() != start.host()
        || wanted.port() != start.port() || !wanted.userInfo().isEmpty())
        return std::nullopt;
    return wanted;
}

void KRDeviceBrowserWindowController::addressEntered()
{
    const QString typed = m_addressField->text();
    const std::optional<QUrl> page = addressOfPreviewedPage(typed, m_urlString);
    if (!page) {
        // Whatever is typed stays out of the preview unless the local server serves it.
        m_addressField->setText(m_webView ? m_webView->url().toString() : m_urlString);
        KRAlert alert;
        alert.style = KRAlert::Style::Warning;
        alert.messageText = QStringLiteral("The preview shows only pages of the application it runs.");
        alert.informativeText = m_urlString.isEmpty()
            ? QStringLiteral("The application has not started yet.")
            : QStringLiteral("“%1” is not an address on its local server, %2.")
                  .arg(typed.trimmed().left(200), QUrl(m_urlString).adjusted(QUrl::RemovePath).toString() + QLatin1Char('/'));
        alert.buttonTitles = {QStringLiteral("OK")};
        KRAlertService::current().runModal(alert);
        return;
    }
    ensureWebView();
    m_webView->load(*page);
}

void KRDeviceBrowserWindowController::forwardBackAction(int segment)
{
    if (!m_webView)
        return;
    if (segment == 0)
        m_webView->back();
    else if (segment == 1)
        m_webView->forward();
}

void KRDeviceBrowserWindowController::devicePopUpChanged()
{
    setDeviceID(m_devicePopUp->currentData().toString());
}

void KRDeviceBrowserWindowController::orientationPopUpChanged()
{
    // The skin and the screen turn; the page has the new size already and is told.
    deviceSetup();
    if (m_webView)
        m_webView->page()->runJavaScript(QLatin1String(deviceBrowserOrientationNotice));
}

void KRDeviceBrowserWindowController::zoomPopUpChanged()
{
    m_zoomFactor = m_zoomPopUp->currentData().toString().toDouble() / 100.0;
    m_chosenZoom = m_zoomFactor;
    relayout();
    scrollToTop();
}

void KRDeviceBrowserWindowController::consoleLog(const QString &text)
{
    logMessage(QStringLiteral("console.log: %1").arg(text), false);
}

void KRDeviceBrowserWindowController::pageConsoleMessage(int level, const QString &message, int line, const QString &)
{
    switch (QWebEnginePage::JavaScriptConsoleMessageLevel(level)) {
    case QWebEnginePage::InfoMessageLevel:
        logMessage(QStringLiteral("console.log: %1").arg(message), false);
        break;
    case QWebEnginePage::WarningMessageLevel:
        logMessage(QStringLiteral("console.warn: %1").arg(message), false);
        break;
    case QWebEnginePage::ErrorMessageLevel:
        if (message.startsWith(QLatin1String("Uncaught SyntaxError")))
            logMessage(QStringLiteral("Parse failed, line: %1, %2").arg(line).arg(message), false);
        else if (message.startsWith(QLatin1String("Uncaught ")))
            logMessage(QStringLiteral("JavaScript error, line: %1, %2").arg(line).arg(message), false);
        else
            logMessage(QStringLiteral("console.error: %1").arg(message), false);
        break;
    }
}

bool KRDeviceBrowserWindowController::pageDialog(const QString &message, bool confirm)
{
    KRAlert alert;
    alert.style = KRAlert::Style::Informational;
    alert.messageText = QStringLiteral("JavaScript");
    alert.informativeText = message;
    alert.buttonTitles = confirm ? QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")}
                                 : QStringList{QStringLiteral("OK")};
    // The page's scripts wait for the answer: no sign of life is expected meanwhile.
    m_watchdogPaused = true;
    const int answer = KRAlertService::current().runModal(alert);
    m_watchdogPaused = false;
    if (m_lastJavascriptWatchdog.isValid())
        jsWatchdog();
    return answer == KRAlertService::FirstButtonReturn;
}

void KRDeviceBrowserWindowController::jsWatchdog()
{
    m_lastJavascriptWatchdog = QDateTime::currentDateTimeUtc();
    m_pageSilence = 0;
}

void KRDeviceBrowserWindowController::checkWatchdog()
{
    // The page's signs of life reach this window on its thread, as the checks do. While the
    // thread was busy elsewhere (a project opening, say) the check comes late and the signs
    // sent meanwhile wait behind it: only the time the thread was free to hear the page counts,
    // at most two check intervals from one check to the next.
    const qint64 sinceCheck = std::min<qint64>(m_watchdogClock.restart(), 2 * m_watchdogTimer.interval());
    if (m_watchdogPaused || !m_lastJavascriptWatchdog.isValid() || !m_webView)
        return;
    m_pageSilence += sinceCheck;
    if (m_pageSilence <= qint64(watchdogSeconds * 1000))
        return;
    KR_LOG(QStringLiteral("the previewed page stopped answering"));
    // The page's scripts are stuck: its view goes first, then the user is told.
    dropWebView();
    KRAlert alert;
    alert.style = KRAlert::Style::Critical;
    alert.messageText = QStringLiteral("JavaScript Error");
    alert.informativeText = QStringLiteral("JavaScript error or endless loop detected.  Closing window.");
    alert.buttonTitles = {QStringLiteral("Close")};
    // The alert is about this window and closes it: it comes on this window, in front, wherever
    // the user was working meanwhile.
    QPointer<QWidget> w = window();
    if (w) {
        KRWindowControllerBase::orderFront(w);
        QApplication::setActiveWindow(w);
    }
    KRAlertService::current().runModal(alert);
    if (w)
        w->close();
}

void KRDeviceBrowserWindowController::pageLoadStarted(const QUrl &url)
{
    logMessage(QStringLiteral("Loading %1...").arg(url.toString()), false);
    m_addressField->setText(url.toString());
    // A page being loaded is not judged: it is watched once its document has pinged.
    m_lastJavascriptWatchdog = {};
}

void KRDeviceBrowserWindowController::pageLoadFinished(const QUrl &url)
{
    logMessage(QStringLiteral("Finished loading: %1").arg(url.toString()), false);
    if (m_webView) {
        m_backButton->setEnabled(m_webView->history()->canGoBack());
        m_forwardButton->setEnabled(m_webView->history()->canGoForward());
    }
    m_addressField->setText(url.toString());
    // The first page of a run is told how the device stands once it is there.
    if (m_orientationNoticePending && m_webView) {
        m_orientationNoticePending = false;
        m_webView->page()->runJavaScript(QLatin1String(deviceBrowserOrientationNotice));
    }
}

void KRDeviceBrowserWindowController::windowClosing()
{
    stopServer();
    dropWebView();
    emit windowWillClose();
}

bool KRDeviceBrowserWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::Close) {
        windowClosing();
    } else if (watched == window() && event->type() == QEvent::Show && !m_placed) {
        // However the window was sized since, a Device Viewer first shows at a size that the
        // screen's free area holds, its device fitted at the zoom that allows; it is checked
        // again once its frame is known.
        fitWindowToDevice();
        placeBesideOtherPreviews();
        m_placed = true;
        m_frameCheckPending = m_mode == 0 && m_didInitialZoom;
    } else if (watched == window() && m_frameCheckPending
               && (event->type() == QEvent::Move || event->type() == QEvent::Resize
                   || event->type() == QEvent::WindowActivate)) {
        checkFittedFrame();
    } else if (watched == m_watchedViewport && event->type() == QEvent::Resize) {
        relayout();
    } else if (watched == m_splitView && (event->type() == QEvent::Resize || event->type() == QEvent::Show)) {
        placeLogPane();
    }
    return KRWindowControllerBase::eventFilter(watched, event);
}

#include "KRDeviceBrowserWindowController.moc"

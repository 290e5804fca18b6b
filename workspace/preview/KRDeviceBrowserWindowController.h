#pragma once

#include <workspace/preview/KRDeviceBackgroundView.h>
#include <workspace/preview/KRDeviceBrowserZoomView.h>
#include <core/KRNodeRunnerDelegate.h>
#include <ui/KRWindowControllerBase.h>

#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSplitter>
#include <QToolButton>
#include <QWebChannel>
#include <QWebEngineView>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <QUrl>

#include <memory>
#include <optional>

class KRDeviceBrowserPage;
class KRDeviceBrowserWindowControllerProxy;
class KRDeviceInformation;
class KRNodeRunner;
class KRPreviewSiteServer;
class QLabel;
class QWebEngineProfile;

// The device preview window: runs a built application through the runtime server of its site
// and shows it in the picture of a device ("<Project> — Device Viewer", mode 0) or in the
// user's browser with only the server's log in the window ("<Project> — Local Server", any
// other mode). The window is kept and reused between runs. In landscape the device's picture
// and its screen lie on their side (the top to the left), and the page is told; the first page
// of each run is told once it is there. A second
// preview window opened where another is placed is moved down and to the right of it.
//
// Each project's site has an origin of its own, http://<siteHostName>:<sitePortNumber>/, in
// the window and in the browser, the same at every run whatever else is previewed, and in the
// window browsing data of its own (storage, cookies, service workers, kept in a folder per
// site): nothing one project's pages store or register reaches another's, and what they
// stored is there at the next run. The windows that show one site share its server, which
// ends with the last of them. Should another program hold the site's port, the server takes
// another one for the run and the server log says so.
//
// The window takes the size of the device (growing or shrinking with another device or
// orientation) within the screen's free area, showing the device smaller than the zoom chosen
// when it would not fit at that zoom.
//
// The page's console messages go to the client log. Every page shown pings
// __kr_controller.jsWatchdog() every second while its scripts leave it free (the window's
// bridge does, the application's runtime as well). Only a page that has pinged is watched:
// one silent for longer than watchdogSeconds since (a script in an endless loop) has its view
// closed, the user told by an alert on this window, and the window closed. The silence is
// counted in the time the window's thread was free to hear the page: while Korvane itself is
// busy, the page's pings wait as the watchdog does, and that time is not the page's. A page
// being loaded has not pinged yet, so neither it nor one that never pings is judged.
class KRDeviceBrowserWindowController : public KRWindowControllerBase, private KRNodeRunnerDelegate
{
    Q_OBJECT

public:
    static constexpr double watchdogSeconds = 5.0;

    KRDeviceBrowserWindowController();
    ~KRDeviceBrowserWindowController() override;

    int mode() const { return m_mode; }
    void setMode(int mode);
    QString indexFilePath() const { return m_indexFilePath; }
    QString indexFileName() const { return m_indexFileName; }
    void setIndexFilePath(const QString &path);
    QString deviceID() const { return m_deviceID; }
    void setDeviceID(const QString &deviceID);
    // The zoom the device is shown at: the one chosen, or a smaller one at which it fits.
    double zoomFactor() const { return m_zoomFactor; }
    // The local address of the start page once the server runs; empty before.
    QString urlString() const { return m_urlString; }
    // The page's last sign of life; invalid until its runtime first pinged.
    QDateTime lastJavascriptWatchdog() const { return m_lastJavascriptWatchdog; }

    // Appends a time-stamped line to the server log (true) or the client log (false).
    void logMessage(const QString &message, bool serverMessage);
    // "[h:mm:ss.cc]: " without the brackets: 12-hour clock, hundredths of a second.
    static QString logTimestamp(const QTime &time);
    // The picture turned by 90 degrees (clockwise when asked) about its centre.
    static QImage rotateIndividualImage(const QImage &image, bool clockwise);

    // Actions of the window's controls.
    void openBrowserAction();
    void forwardBackAction(int segment);
    void devicePopUpChanged();
    void orientationPopUpChanged();
    void zoomPopUpChanged();
    // Shows the page whose address was typed in the address field, when it is one of the local
    // server's; anything else is refused with a message.
    void addressEntered();
    // The address typed in the address field as a page of the site at startPage (a page name
    // relative to it, or an address with the same scheme, host and port); nothing for any
    // other address.
    static std::optional<QUrl> addressOfPreviewedPage(const QString &typed, const QString &startPage);
    // The name under "localhost" that the site built into `documentRoot` is previewed under:
    // the project folder's name as a host-name label and a digest of the folder's path, so the
    // same folder gets the same name at every run and another folder another one.
    static QString siteHostName(const QString &documentRoot);
    // The port the site under `siteHost` is previewed at: derived from its name, so the same
    // at every run; within [firstSitePort, firstSitePort + sitePortCount). The range lies below
    // the ports the system hands out for outgoing connections (32768 and up on Linux): one of
    // those, or its time-wait, holding a site's port would send the site to another port.
    static constexpr int firstSitePort = 24000;
    static constexpr int sitePortCount = 3000;
    static int sitePortNumber(const QString &siteHost);
    // The name of the project whose site is built into `documentRoot` ("<name>.krproj/kr-web").
    static QString projectName(const QString &documentRoot);

    // The window's parts, for the project window and tests. The web view is made as a run in
    // the device is asked for and shows its page once the server answers; it is null in
    // local-server mode and after closing. While assistive tools are told about pages, a new
    // one stands off the screen until its first page is there and described, and lies in the
    // zoom view then.
    QWebEngineView *webView() const { return m_webView; }
    QPlainTextEdit *clientLog() const { return m_clientLog; }
    QPlainTextEdit *serverLog() const { return m_serverLog; }
    QComboBox *devicePopUp() const { return m_devicePopUp; }
    QComboBox *zoomPopUp() const { return m_zoomPopUp; }
    QComboBox *orientationPopUp() const { return m_orientationPopUp; }
    QLineEdit *addressField() const { return m_addressField; }
    KRDeviceBackgroundView *skinView() const { return m_skinView; }
    KRDeviceBrowserZoomView *zoomView() const { return m_zoomView; }
    QScrollArea *scrollView() const { return m_scrollView; }
    QWidget *headerContainer() const { return m_headerContainer; }
    QWidget *serverHeaderContainer() const { return m_serverHeaderContainer; }
    QSplitter *splitView() const { return m_splitView; }
    KRNodeRunner *nodeRunner() const;

    // Registers the "KRDeviceBrowserWindow" interface (done by the controller when needed).
    static void registerInterface();

signals:
    // The window is closing: its server is stopped and its page closed.
    void windowWillClose();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class KRDeviceBrowserPage;
    friend class KRDeviceBrowserWindowControllerProxy;
    friend struct KRDeviceBrowserWindowBuilder;
    friend class KRPreviewSiteServer;

    void awakeFromNib();
    void nodeRunner(KRNodeRunner *runner, qint64 startedOnPort) override;
    void nodeRunner(KRNodeRunner *runner, const QString &receivedTextMessage) override;
    void stopServer();
    void showTitle();
    void placeBesideOtherPreviews();
    void ensureWebView();
    void showWebViewOnceItsDocumentHasPlace();
    void dropWebView();
    // The Local Server window's line: where the application runs, once its server has started.
    void showServerAddress();
    void deviceSetup();
    bool isLandscape() const;
    void relayout();
    void placeLogPane();
    void scrollToTop();
    void zoomWindowOnce();
    QSize windowSizeForDevice(double zoom) const;
    QSize roomOnScreen() const;
    void keepFrameOnScreen();
    void checkFittedFrame();
    void fitWindowToDevice();
    void showZoom(double zoom);
    void undoWindowZoom();
    void windowClosing();

    // From the page.
    void consoleLog(const QString &text);
    void jsWatchdog();
    void checkWatchdog();
    void pageLoadStarted(const QUrl &url);
    void pageLoadFinished(const QUrl &url);
    void pageConsoleMessage(int level, const QString &message, int line, const QString &source);
    bool pageDialog(const QString &message, bool confirm);

    int m_mode = 0;
    QString m_indexFilePath;
    QString m_indexFileName;
    QString m_deviceID;
    std::shared_ptr<KRDeviceInformation> m_deviceInformation;
    // The device as shown: the catalogue's record, or that record turned on its side.
    std::shared_ptr<KRDeviceInformation> m_shownDevice;
    QImage m_templateImage;
    double m_zoomFactor = 1.0;
    double m_chosenZoom = 1.0; // the zoom pop-up's last choice
    bool m_didInitialZoom = false;
    bool m_orientationNoticePending = false; // the first page of a run is told its orientation
    bool m_logPanePending = false; // the log pane is placed once the split view has its height
    QRect m_geometryBeforeZoom;
    std::shared_ptr<KRPreviewSiteServer> m_server; // the site's server, shared with other windows
    bool m_placed = false;
    bool m_frameCheckPending = false; // the first showing's fit waits for the window's frame
    QString m_siteHost;
    std::shared_ptr<QWebEngineProfile> m_profile; // the site's browsing data; outlives the page
    QString m_urlString;
    QDateTime m_lastJavascriptWatchdog;
    bool m_watchdogPaused = false;
    QTimer m_watchdogTimer;
    // A new page view waits off the screen until its first page is there and assistive tools
    // can be told where it lies, at most webViewPlaceWaitLimit ms.
    static constexpr qint64 webViewPlaceWaitLimit = 5000;
    QTimer m_placeCheck;
    QElapsedTimer m_placeWait;
    bool m_webViewLoaded = false;
    QElapsedTimer m_watchdogClock; // since the last check
    qint64 m_pageSilence = 0;      // ms of the window's free time since the page's last sign of life

    KRDeviceBrowserWindowControllerProxy *m_controllerProxy = nullptr; // owned by this controller
    QPointer<QWebChannel> m_channel;
    QPointer<QWebEngineView> m_webView;
    QPointer<QComboBox> m_devicePopUp;
    QPointer<QComboBox> m_zoomPopUp;
    QPointer<QComboBox> m_orientationPopUp;
    QPointer<QScrollArea> m_scrollView;
    QPointer<KRDeviceBrowserZoomView> m_zoomView;
    QPointer<KRDeviceBackgroundView> m_skinView;
    QPointer<QSplitter> m_splitView;
    QPointer<QPlainTextEdit> m_clientLog;
    QPointer<QPlainTextEdit> m_serverLog;
    QPointer<QLineEdit> m_addressField;
    QPointer<QToolButton> m_backButton;
    QPointer<QToolButton> m_forwardButton;
    QPointer<QWidget> m_headerContainer;
    QPointer<QWidget> m_serverHeaderContainer;
    QPointer<QLabel> m_serverAddressLabel;
    QPointer<QObject> m_watchedViewport; // compared only: it may be on its way out
};

// The preview window running the Showcase sample: built by the project builder, served by the
// window's own runtime server and shown in the picture of a device.
#include "../../../e2e/E2ESupport.h"

#include <workspace/preview/KRDeviceBrowserWindowController.h>
#include <core/KRNodeRunner.h>
#include <platform/appkit/KROpenURL.h>
#include <platform/foundation/KRScriptedAlertService.h>
#include <workspace/surface/KRDesignCanvas.h>
#include <model/KRDeviceInformation.h>
#include <model/KRObjectInfo.h>
#include <KRTestSupport.h>
#include <KRWebTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QThread>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <gtest/gtest.h>

using namespace KRE2E;

namespace {

bool previewWaitFor(KRDeviceBrowserWindowController &c, const QString &expression)
{
    return KRTest::processEventsUntil(
        [&] { return c.webView() && KRTest::evaluateScript(c.webView(), QStringLiteral("!!(%1)").arg(expression)).toBool(); });
}

// The window with its page laid over it where the page is visible (the engine composes the
// page's picture itself).
QImage previewScreenshot(KRDeviceBrowserWindowController &c, const QString &name)
{
    QWebEngineView *view = c.webView();
    // The engine draws a new size a few frames later.
    EXPECT_TRUE(KRTest::framesDrawn(view, 3));
    const QImage page = KRTest::paintedPage(view, 100);
    EXPECT_FALSE(page.isNull()) << "the page did not paint";
    QWidget *window = c.window();
    QImage shot = KRTest::renderWidget(*window, {1, QColor(236, 236, 236), true});
    QPainter painter(&shot);
    const QRect viewport(c.scrollView()->viewport()->mapTo(window, QPoint(0, 0)), c.scrollView()->viewport()->size());
    painter.setClipRect(viewport);
    painter.drawImage(view->mapTo(window, QPoint(0, 0)), page);
    painter.end();
    EXPECT_TRUE(shot.save(KRTest::artifactsDir(QStringLiteral("preview")) + QLatin1Char('/') + name));
    return shot;
}

class KRDeviceBrowserWeb : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_sample = buildSuiteSample(QStringLiteral("Showcase"));
    }
    static void TearDownTestSuite() { s_sample.reset(); }
    void SetUp() override
    {
        if (!webLibrariesStaged())
            GTEST_SKIP() << "web libraries or the runtime not staged (build stage_web_libs and runtime_js)";
        ASSERT_FALSE(s_sample->startPage.isEmpty()) << "build failed: " << s_sample->failure.toStdString();
        previousOpener = KROpenURLService::setCurrent(opened);
        previousAlerts = KRAlertService::setCurrent(alerts);
        controller = std::make_unique<KRDeviceBrowserWindowController>();
        controller->window()->show();
    }
    void TearDown() override
    {
        controller.reset();
        KRAlertService::setCurrent(previousAlerts);
        KROpenURLService::setCurrent(previousOpener);
    }

    // What the project window does for "Run".
    void run(int mode, const QString &device = {})
    {
        controller->setMode(mode);
        controller->setIndexFilePath(s_sample->startPage);
        if (!device.isEmpty())
            controller->setDeviceID(device);
        controller->window()->show();
    }
    bool waitForStartPage()
    {
        return previewWaitFor(*controller, QStringLiteral("window.$ && $.mobile && $.mobile.activePage && "
                                                          "$.mobile.activePage.attr('id') === 'home'"));
    }
    bool clientLogContains(const QString &text)
    {
        return KRTest::processEventsUntil([&] { return controller->clientLog()->toPlainText().contains(text); });
    }
    void expectPageInTheScreen()
    {
        const auto device = KRObjectInfo::sharedInstance().deviceInformation().objectForKey(controller->deviceID());
        ASSERT_TRUE(device);
        const KRDesignCanvasLayout layout = KRDesignCanvasLayout::compute(
            device->image().size(), controller->zoomFactor(), controller->scrollView()->viewport()->size(), *device);
        EXPECT_EQ(controller->skinView()->geometry(), layout.skinRect);
        EXPECT_EQ(controller->webView()->geometry(), layout.pageRect);
        EXPECT_DOUBLE_EQ(controller->webView()->zoomFactor(), controller->zoomFactor());
        // The page keeps the device's width in CSS pixels at every zoom.
        double cssWidth = 0;
        EXPECT_TRUE(KRTest::processEventsUntil([&] {
            cssWidth = KRTest::evaluateScript(controller->webView(), QStringLiteral("window.innerWidth")).toDouble();
            return std::abs(cssWidth - device->width) <= 1.0;
        })) << cssWidth << " CSS pixels wide, not " << device->width;
    }

    static inline std::unique_ptr<SuiteSample> s_sample;
    std::shared_ptr<KRRecordingOpenURLService> opened = std::make_shared<KRRecordingOpenURLService>();
    std::shared_ptr<KROpenURLService> previousOpener;
    std::shared_ptr<KRScriptedAlertService> alerts = std::make_shared<KRScriptedAlertService>();
    std::shared_ptr<KRAlertService> previousAlerts;
    std::unique_ptr<KRDeviceBrowserWindowController> controller;
};


TEST_F(KRDeviceBrowserWeb, RunsTheSampleInTheDeviceAtTwoZoomsAndItsButtonsWork)
{
    run(0, QStringLiteral("iPhone"));
    EXPECT_EQ(controller->window()->windowTitle(), QStringLiteral("Showcase — Device Viewer"));
    ASSERT_TRUE(waitForStartPage());
    EXPECT_TRUE(QUrl(controller->urlString()).host().endsWith(QLatin1String(".localhost"))) << controller->urlString().toStdString();
    EXPECT_TRUE(controller->urlString().endsWith(QLatin1String("/home.html")));
    EXPECT_TRUE(controller->serverLog()->toPlainText().contains(
        QStringLiteral("Local server running application at ") + controller->urlString()));
    EXPECT_TRUE(clientLogContains(QStringLiteral("]: Finished loading: ") + controller->urlString()));
    EXPECT_TRUE(controller->clientLog()->toPlainText().startsWith(QStringLiteral("[")));
    EXPECT_EQ(controller->addressField()->text(), controller->urlString());
    expectPageInTheScreen();

    KRTest::evaluateScript(controller->webView(), QStringLiteral("$('#_home_helloButton_inp')[0].click()"));
    EXPECT_TRUE(previewWaitFor(*controller, QStringLiteral("$('#home_greeting').text() === 'Hello, world!'")));
    previewScreenshot(*controller, QStringLiteral("preview-iphone-100.png"));

    const QSize fullSkin = controller->skinView()->size() / controller->zoomFactor();
    controller->zoomPopUp()->setCurrentText(QStringLiteral("50%"));
    controller->zoomPopUpChanged();
    EXPECT_DOUBLE_EQ(controller->zoomFactor(), 0.5);
    EXPECT_NEAR(controller->skinView()->width(), fullSkin.width() / 2, 1);
    expectPageInTheScreen();

    controller->devicePopUp()->setCurrentIndex(controller->devicePopUp()->findData(QStringLiteral("Android")));
    controller->devicePopUpChanged();
    EXPECT_EQ(controller->deviceID(), QStringLiteral("Android"));
    controller->zoomPopUp()->setCurrentText(QStringLiteral("75%"));
    controller->zoomPopUpChanged();
    expectPageInTheScreen();
    previewScreenshot(*controller, QStringLiteral("preview-android-75.png"));
}

TEST_F(KRDeviceBrowserWeb, TheConsoleAndDialogsOfThePageReachTheWindow)
{
    run(0);
    ASSERT_TRUE(waitForStartPage());
    EXPECT_EQ(KRTest::evaluateScript(controller->webView(), QStringLiteral("console.log('hello from the page');"
                                                               "console.error('something broke');"
                                                               "console.warn('careful'); console.info('fyi');"
                                                               "typeof console.error + typeof console.table"))
                  .toString(),
              QStringLiteral("functionfunction"));
    EXPECT_TRUE(clientLogContains(QStringLiteral("]: console.log: hello from the page")));
    EXPECT_TRUE(clientLogContains(QStringLiteral("]: console.error: something broke")));
    EXPECT_TRUE(clientLogContains(QStringLiteral("]: console.warn: careful")));
    KRTest::evaluateScript(controller->webView(), QStringLiteral("__kr_controller.consoleLog_('through the bridge')"));
    EXPECT_TRUE(clientLogContains(QStringLiteral("]: console.log: through the bridge")));

    alerts->scriptButton(QStringLiteral("Cancel"));
    EXPECT_EQ(KRTest::evaluateScript(controller->webView(), QStringLiteral("confirm('Really?')")).toBool(), false);
    alerts->scriptButton(QStringLiteral("OK"));
    EXPECT_EQ(KRTest::evaluateScript(controller->webView(), QStringLiteral("confirm('Really?')")).toBool(), true);
    ASSERT_EQ(alerts->shownAlerts().size(), 2);
    EXPECT_EQ(alerts->shownAlerts()[0].messageText, QStringLiteral("JavaScript"));
    EXPECT_EQ(alerts->shownAlerts()[0].informativeText, QStringLiteral("Really?"));
    EXPECT_EQ(alerts->shownAlerts()[0].buttonTitles, (QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")}));
    EXPECT_EQ(controller->webView()->contextMenuPolicy(), Qt::NoContextMenu);
}

TEST_F(KRDeviceBrowserWeb, APageStuckInAnEndlessLoopHasItsViewClosed)
{
    QSignalSpy closing(controller.get(), &KRDeviceBrowserWindowController::windowWillClose);
    run(0);
    ASSERT_TRUE(waitForStartPage());
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return controller->lastJavascriptWatchdog().isValid(); }))
        << "the runtime pings the window";
    // A quiet page that still pings stays open, for longer than the watchdog allows a silence.
    const QDateTime firstPing = controller->lastJavascriptWatchdog();
    ASSERT_TRUE(KRTest::processEventsUntil([&] {
        return !controller->webView()
               || firstPing.msecsTo(controller->lastJavascriptWatchdog()) > qint64(KRDeviceBrowserWindowController::watchdogSeconds * 1000);
    }));
    ASSERT_NE(controller->webView(), nullptr);
    // Nor is it judged for the time Korvane itself is busy (opening a large project, say):
    // its signs of life wait for the window's thread, as the watchdog does.
    for (int busy = 0; busy < 2; ++busy) {
        QThread::msleep(qint64(KRDeviceBrowserWindowController::watchdogSeconds * 1000) + 2000);
        QElapsedTimer free;
        free.start();
        KRTest::processEventsUntil([&] { return !controller->webView() || free.elapsed() > 1500; });
        ASSERT_NE(controller->webView(), nullptr) << "a quiet page was closed after Korvane was busy " << busy + 1 << " time(s)";
    }
    EXPECT_TRUE(alerts->shownAlerts().isEmpty());

    QElapsedTimer timer;
    timer.start();
    controller->webView()->page()->runJavaScript(QStringLiteral("setTimeout(function () { for (;;) {} }, 0); 0"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return controller->webView() == nullptr; }));
    EXPECT_GE(timer.elapsed(), 4000);
    ASSERT_EQ(alerts->shownAlerts().size(), 1);
    EXPECT_EQ(alerts->shownAlerts()[0].messageText, QStringLiteral("JavaScript Error"));
    EXPECT_EQ(alerts->shownAlerts()[0].informativeText,
              QStringLiteral("JavaScript error or endless loop detected.  Closing window."));
    EXPECT_EQ(alerts->shownAlerts()[0].buttonTitles, QStringList{QStringLiteral("Close")});
    EXPECT_FALSE(controller->window()->isVisible());
    EXPECT_EQ(closing.count(), 1);
    EXPECT_EQ(controller->nodeRunner(), nullptr);
}

TEST_F(KRDeviceBrowserWeb, RunInBrowserThenRunAgainShowsThePageInTheSameWindow)
{
    QWidget *window = controller->window();
    run(1);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Showcase — Local Server"));
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return !opened->openedURLs().isEmpty(); }));
    EXPECT_EQ(opened->openedURLs()[0], QUrl(controller->urlString()));
    EXPECT_EQ(controller->webView(), nullptr);
    EXPECT_FALSE(controller->headerContainer()->isVisible());
    EXPECT_TRUE(controller->serverHeaderContainer()->isVisible());
    EXPECT_FALSE(controller->clientLog()->isVisible());
    EXPECT_TRUE(controller->serverLog()->isVisible());

    controller->openBrowserAction();
    EXPECT_EQ(opened->openedURLs().size(), 2);

    run(0);
    EXPECT_EQ(controller->window(), window) << "the window is reused";
    ASSERT_NE(controller->webView(), nullptr) << "no empty window after running in the browser";
    EXPECT_TRUE(waitForStartPage());
    EXPECT_TRUE(controller->headerContainer()->isVisible());
    EXPECT_TRUE(controller->clientLog()->isVisible());
    EXPECT_EQ(opened->openedURLs().size(), 2);

    // Closed, the window lets its server go; the next run starts them again.
    window->close();
    EXPECT_EQ(controller->webView(), nullptr);
    EXPECT_EQ(controller->nodeRunner(), nullptr);
    run(0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(waitForStartPage());

    // A second window of the same site (the project window makes a new one after a close)
    // shows it at the same origin, through the same server, and is not laid over the first.
    KRDeviceBrowserWindowController second;
    second.setMode(0);
    second.setIndexFilePath(s_sample->startPage);
    second.window()->show();
    EXPECT_TRUE(previewWaitFor(second, QStringLiteral("window.$ && $.mobile && $.mobile.activePage && "
                                                      "$.mobile.activePage.attr('id') === 'home'")));
    EXPECT_EQ(second.urlString(), controller->urlString());
    EXPECT_EQ(second.nodeRunner(), controller->nodeRunner());
    EXPECT_NE(second.window()->pos(), window->pos());
    EXPECT_TRUE(waitForStartPage()) << "the first window keeps its page";

    // The third and the fourth go on down and to the right, also where the screen keeps
    // windows as tall as itself at its top; made taller than the screen before, each first
    // shows within its free area.
    const QRect area = window->screen()->availableGeometry();
    window->setGeometry(area.left() + 20, area.top(), window->width(), area.height());
    second.window()->setGeometry(area.left() + 52, area.top(), window->width(), area.height());
    QList<QPoint> places = {window->pos(), second.window()->pos()};
    KRDeviceBrowserWindowController third;
    KRDeviceBrowserWindowController fourth;
    for (KRDeviceBrowserWindowController *next : {&third, &fourth}) {
        next->setMode(0);
        next->setIndexFilePath(s_sample->startPage);
        next->window()->resize(window->width(), area.height() + 100);
        next->window()->move(window->pos());
        next->window()->show();
        EXPECT_TRUE(area.contains(next->window()->geometry())) << "shown at " << next->window()->height() << " px high";
        const QPoint place = next->window()->pos();
        EXPECT_FALSE(places.contains(place)) << place.x() << "," << place.y() << " is taken already";
        EXPECT_GT(place.x(), places.last().x());
        places.append(place);
    }
}

TEST_F(KRDeviceBrowserWeb, AProjectWhosePortAnotherProgramHoldsRunsElsewhereAndTheLogSaysSo)
{
    const QString siteHost = KRDeviceBrowserWindowController::siteHostName(s_sample->folder);
    const int ownPort = KRDeviceBrowserWindowController::sitePortNumber(siteHost);
    EXPECT_EQ(KRDeviceBrowserWindowController::sitePortNumber(siteHost), ownPort);
    // The site's server of the test before, told to end when its window went, may hold the
    // port for a moment longer.
    QTcpServer other;
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return other.listen(QHostAddress::LocalHost, quint16(ownPort)); },
                                           std::chrono::seconds(10)))
        << "port " << ownPort << " is taken already";
    run(0);
    ASSERT_TRUE(waitForStartPage());
    EXPECT_NE(QUrl(controller->urlString()).port(), ownPort);
    EXPECT_TRUE(controller->serverLog()->toPlainText().contains(
        QStringLiteral("Port %1, at which this project is always previewed, is in use by another program").arg(ownPort)))
        << controller->serverLog()->toPlainText().toStdString();

    // Held by the preview of another project of the same port: that project is named.
    controller.reset();
    other.close();
    const QString base = QFileInfo(KRTest::makeTempDir(QStringLiteral("twins"))).canonicalFilePath();
    QString twin;
    for (int n = 0; n < 100000 && twin.isEmpty(); ++n) {
        const QString root = base + QStringLiteral("/Twin%1.krproj/kr-web").arg(n);
        if (KRDeviceBrowserWindowController::sitePortNumber(KRDeviceBrowserWindowController::siteHostName(root)) == ownPort)
            twin = root;
    }
    ASSERT_FALSE(twin.isEmpty());
    ASSERT_TRUE(QDir().mkpath(twin));
    const QString twinPage = twin + QLatin1Char('/') + QFileInfo(s_sample->startPage).fileName();
    ASSERT_TRUE(QFile::copy(s_sample->startPage, twinPage));
    KRDeviceBrowserWindowController holder;
    holder.setMode(0);
    holder.setIndexFilePath(twinPage);
    holder.window()->show();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return QUrl(holder.urlString()).port() == ownPort; }, std::chrono::seconds(20)))
        << holder.urlString().toStdString();
    controller = std::make_unique<KRDeviceBrowserWindowController>();
    run(0);
    ASSERT_TRUE(waitForStartPage());
    const QString named = QStringLiteral("Port %1, at which this project is always previewed, is in use by Korvane's "
                                         "preview of the project “%2”")
                              .arg(ownPort)
                              .arg(QFileInfo(QFileInfo(twin).absolutePath()).completeBaseName());
    EXPECT_TRUE(controller->serverLog()->toPlainText().contains(named)) << controller->serverLog()->toPlainText().toStdString();
}

TEST_F(KRDeviceBrowserWeb, LandscapeTurnsTheDeviceAndThePageOnTheirSide)
{
    run(0, QStringLiteral("iPhone"));
    ASSERT_TRUE(waitForStartPage());
    KRTest::evaluateScript(controller->webView(), QStringLiteral("window.__turns = 0; $(window).on('orientationchange', "
                                                                 "function () { ++window.__turns; }); 0"));
    const auto device = KRObjectInfo::sharedInstance().deviceInformation().objectForKey(QStringLiteral("iPhone"));
    ASSERT_TRUE(device);
    const QSize skin = device->image().size();

    controller->orientationPopUp()->setCurrentText(QStringLiteral("Landscape"));
    controller->orientationPopUpChanged();
    EXPECT_EQ(controller->skinView()->size(), skin.transposed());
    // The screen lies where the turned skin has it: its top-left corner was the screen's
    // top-right one.
    const QRect skinRect = controller->skinView()->geometry();
    const QRect screen = controller->webView()->geometry();
    EXPECT_EQ(screen.size(), QSize(device->height, device->width));
    EXPECT_EQ(screen.topLeft() - skinRect.topLeft(), QPoint(device->offsetY(), skin.width() - device->offsetX() - device->width));
    EXPECT_TRUE(previewWaitFor(*controller, QStringLiteral("window.__turns > 0 && window.innerWidth === %1 && window.innerHeight === %2")
                                                .arg(device->height)
                                                .arg(device->width)))
        << KRTest::evaluateScript(controller->webView(), QStringLiteral("window.innerWidth + 'x' + window.innerHeight")).toString().toStdString();
    previewScreenshot(*controller, QStringLiteral("preview-iphone-landscape.png"));

    controller->orientationPopUp()->setCurrentText(QStringLiteral("Portrait"));
    controller->orientationPopUpChanged();
    expectPageInTheScreen();
}

TEST_F(KRDeviceBrowserWeb, TheFirstPageOfEachRunIsToldHowTheDeviceStandsOnceItIsThere)
{
    run(0, QStringLiteral("iPhone"));
    ASSERT_TRUE(waitForStartPage());
    // From now on every page of the site notes what it is told, listening from its start.
    QWebEngineScript listener;
    listener.setInjectionPoint(QWebEngineScript::DocumentCreation);
    listener.setWorldId(QWebEngineScript::MainWorld);
    listener.setSourceCode(QStringLiteral(
        "window.__told = []; document.addEventListener('DOMContentLoaded', function () {"
        "  jQuery(window).on('orientationchange', function (event, data) {"
        "    __told.push((data && data.sender) + ' ' + (innerWidth > innerHeight ? 'landscape' : 'portrait')); }); });"));
    controller->webView()->page()->profile()->scripts()->insert(listener);
    controller->orientationPopUp()->setCurrentText(QStringLiteral("Landscape"));
    controller->orientationPopUpChanged();

    // Run again, in Landscape: the start page is told once, when its scripts listen.
    run(0);
    ASSERT_TRUE(previewWaitFor(*controller, QStringLiteral("window.__told && window.$ && $.mobile && $.mobile.activePage")));
    EXPECT_TRUE(previewWaitFor(*controller, QStringLiteral("__told.length > 0")));
    KRTest::processEventsUntil([] { return false; }, std::chrono::milliseconds(1500));
    EXPECT_EQ(KRTest::evaluateScript(controller->webView(), QStringLiteral("__told.join(',')")).toString(),
              QStringLiteral("devbrowser landscape"));
    // Nothing was said to a page that could not hear it.
    EXPECT_FALSE(controller->clientLog()->toPlainText().contains(QLatin1String("JavaScript error"))) << controller->clientLog()->toPlainText().toStdString();
}

TEST_F(KRDeviceBrowserWeb, EachProjectRunsAtAnOriginOfItsOwnAndKeepsWhatItStoresToItself)
{
    // A second project: the same site built into another project's folder. Each site has a
    // page of its own and a worker that would answer that page for whichever site it controls.
    const QString firstSite = s_sample->folder;
    const QString secondSite = KRTest::makeTempDir(QStringLiteral("second")) + QStringLiteral("/Second App.krproj/kr-web");
    ASSERT_TRUE(copyTree(firstSite, secondSite));
    const QString secondStart = secondSite + QLatin1Char('/') + QFileInfo(s_sample->startPage).fileName();
    KRTest::writeFile(firstSite + QStringLiteral("/own.html"), "<title>first</title><p>the first project's page</p>\n");
    KRTest::writeFile(secondSite + QStringLiteral("/own.html"), "<title>second</title><p>the second project's page</p>\n");
    KRTest::writeFile(firstSite + QStringLiteral("/own-worker.js"), R"JS(
self.addEventListener('install', function () { self.skipWaiting(); });
self.addEventListener('activate', function (event) { event.waitUntil(self.clients.claim()); });
self.addEventListener('fetch', function (event) {
    if (/\/own\.html$/.test(new URL(event.request.url).pathname))
        event.respondWith(new Response('<title>worker</title><p>answered by the first project\'s worker</p>',
                                       { headers: { 'Content-Type': 'text/html' } }));
});
)JS");
    const auto runSecond = [&] {
        auto second = std::make_unique<KRDeviceBrowserWindowController>();
        second->setMode(0);
        second->setIndexFilePath(secondStart);
        second->window()->show();
        return second;
    };
    const auto startPageOf = [](KRDeviceBrowserWindowController &c) {
        return previewWaitFor(c, QStringLiteral("window.$ && $.mobile && $.mobile.activePage && "
                                                "$.mobile.activePage.attr('id') === 'home'"));
    };
    const auto stored = [](KRDeviceBrowserWindowController &c) {
        return KRTest::evaluateScript(c.webView(), QStringLiteral("String(localStorage.getItem('owner'))")).toString();
    };
    const auto originOf = [](KRDeviceBrowserWindowController &c) {
        return KRTest::evaluateScript(c.webView(), QStringLiteral("location.origin")).toString();
    };

    // The first project stores an item, sets a cookie and registers its worker.
    run(0, QStringLiteral("iPhone"));
    ASSERT_TRUE(waitForStartPage());
    const QString firstOrigin = originOf(*controller);
    KRTest::evaluateScript(controller->webView(), QStringLiteral(
        "localStorage.setItem('owner', 'first'); document.cookie = 'owner=first; max-age=3600';"
        "navigator.serviceWorker.register('own-worker.js').then(function () { return navigator.serviceWorker.ready; })"
        ".then(function () { window.__workerReady = true; }, function (e) { window.__workerFailed = String(e); }); 0"));
    ASSERT_TRUE(previewWaitFor(*controller, QStringLiteral("window.__workerReady || window.__workerFailed")));
    ASSERT_EQ(KRTest::evaluateScript(controller->webView(), QStringLiteral("window.__workerFailed || ''")).toString(), QString());
    controller->webView()->load(QUrl(controller->urlString()).resolved(QUrl(QStringLiteral("own.html"))));
    ASSERT_TRUE(previewWaitFor(*controller, QStringLiteral("document.title === 'worker'")))
        << "the worker answers the first project's page";

    // The second project, run while the first is still shown, sees none of it, and its page is
    // its own; its windows are titled with its name and not laid over the first project's.
    std::unique_ptr<KRDeviceBrowserWindowController> second = runSecond();
    EXPECT_EQ(second->window()->windowTitle(), QStringLiteral("Second App — Device Viewer"));
    ASSERT_TRUE(startPageOf(*second));
    EXPECT_NE(second->window()->pos(), controller->window()->pos());
    const QString secondOrigin = originOf(*second);
    EXPECT_NE(secondOrigin, firstOrigin);
    EXPECT_TRUE(QUrl(firstOrigin).host().endsWith(QLatin1String(".localhost"))) << firstOrigin.toStdString();
    EXPECT_TRUE(QUrl(secondOrigin).host().startsWith(QLatin1String("second-app-"))) << secondOrigin.toStdString();
    EXPECT_EQ(stored(*second), QStringLiteral("null"));
    EXPECT_EQ(KRTest::evaluateScript(second->webView(), QStringLiteral("document.cookie")).toString(), QString());
    EXPECT_FALSE(KRTest::evaluateScript(second->webView(), QStringLiteral("!!navigator.serviceWorker.controller")).toBool());
    KRTest::evaluateScript(second->webView(), QStringLiteral("localStorage.setItem('owner', 'second'); 0"));
    second->webView()->load(QUrl(second->urlString()).resolved(QUrl(QStringLiteral("own.html"))));
    EXPECT_TRUE(previewWaitFor(*second, QStringLiteral("document.title === 'second'")))
        << KRTest::evaluateScript(second->webView(), QStringLiteral("document.title")).toString().toStdString();
    EXPECT_TRUE(previewWaitFor(*controller, QStringLiteral("document.title === 'worker'"))) << "the first keeps its page";

    // Run again the other way round, each while the other is shown: each project is back at
    // its own origin with what it stored.
    controller.reset();
    second.reset();
    second = runSecond();
    ASSERT_TRUE(startPageOf(*second));
    controller = std::make_unique<KRDeviceBrowserWindowController>();
    run(0, QStringLiteral("iPhone"));
    ASSERT_TRUE(waitForStartPage());
    EXPECT_EQ(originOf(*second), secondOrigin);
    EXPECT_EQ(originOf(*controller), firstOrigin);
    EXPECT_EQ(stored(*second), QStringLiteral("second"));
    EXPECT_EQ(stored(*controller), QStringLiteral("first"));

    // "Open in Browser" opens the page shown, at the project's own origin.
    second->webView()->load(QUrl(second->urlString()).resolved(QUrl(QStringLiteral("own.html"))));
    ASSERT_TRUE(previewWaitFor(*second, QStringLiteral("document.title === 'second'")));
    second->openBrowserAction();
    ASSERT_EQ(opened->openedURLs().size(), 1);
    EXPECT_EQ(opened->openedURLs()[0], QUrl(secondOrigin + QStringLiteral("/own.html")));

    // The server answers the site's pages under its own name only.
    const QString loopback = QStringLiteral("http://127.0.0.1:%1/own.html").arg(QUrl(secondOrigin).port());
    second->webView()->load(QUrl(loopback));
    EXPECT_TRUE(previewWaitFor(*second, QStringLiteral("document.body && /Misdirected request/.test(document.body.innerText)")));
}

} // namespace

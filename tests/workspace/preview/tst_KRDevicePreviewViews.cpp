#include <workspace/preview/KRDeviceBackgroundView.h>
#include <workspace/preview/KRDeviceBrowserWindowController.h>
#include <workspace/preview/KRDeviceBrowserZoomView.h>
#include <platform/foundation/KRUserDefaults.h>
#include <KRTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <QApplication>
#include <QDir>
#include <QRegularExpression>
#include <QSplitter>
#include <QTime>

#include <gtest/gtest.h>

namespace {

TEST(KRDeviceBrowserWindowController, LogTimesUseATwelveHourClockWithHundredths)
{
    EXPECT_EQ(KRDeviceBrowserWindowController::logTimestamp(QTime(0, 5, 9, 70)), QStringLiteral("12:05:09.07"));
    EXPECT_EQ(KRDeviceBrowserWindowController::logTimestamp(QTime(12, 0, 0, 999)), QStringLiteral("12:00:00.99"));
    EXPECT_EQ(KRDeviceBrowserWindowController::logTimestamp(QTime(23, 59, 30, 250)), QStringLiteral("11:59:30.25"));
}

TEST(KRDeviceBrowserWindowController, RotatedPicturesSwapTheirSidesAndTurnTheRightWay)
{
    QImage image(40, 20, QImage::Format_ARGB32);
    image.fill(Qt::white);
    image.setPixel(0, 0, qRgb(255, 0, 0)); // top left
    const QImage clockwise = KRDeviceBrowserWindowController::rotateIndividualImage(image, true);
    ASSERT_EQ(clockwise.size(), QSize(20, 40));
    EXPECT_EQ(clockwise.pixel(19, 0), qRgb(255, 0, 0)) << "top left goes to top right";
    const QImage counter = KRDeviceBrowserWindowController::rotateIndividualImage(image, false);
    ASSERT_EQ(counter.size(), QSize(20, 40));
    EXPECT_EQ(counter.pixel(0, 39), qRgb(255, 0, 0)) << "top left goes to bottom left";
    EXPECT_TRUE(KRDeviceBrowserWindowController::rotateIndividualImage(QImage(), true).isNull());
}

TEST(KRDeviceBrowserWindowController, TheAddressFieldTakesOnlyPagesOfTheLocalServer)
{
    const QString start = QStringLiteral("http://127.0.0.1:44070/page1.html");
    const auto page = [&](const QString &typed) {
        const std::optional<QUrl> url = KRDeviceBrowserWindowController::addressOfPreviewedPage(typed, start);
        return url ? url->toString() : QStringLiteral("refused");
    };
    EXPECT_EQ(page(QStringLiteral("page2.html")), QStringLiteral("http://127.0.0.1:44070/page2.html"));
    EXPECT_EQ(page(QStringLiteral(" http://127.0.0.1:44070/page2.html#p ")), QStringLiteral("http://127.0.0.1:44070/page2.html#p"));
    EXPECT_EQ(page(QStringLiteral("/sub/page3.html?x=1")), QStringLiteral("http://127.0.0.1:44070/sub/page3.html?x=1"));
    for (const char *elsewhere : {"http://example.com/", "//example.com/page2.html", "http://127.0.0.1:44071/page2.html",
                                  "http://localhost:44070/page2.html", "https://127.0.0.1:44070/page2.html",
                                  "http://user@127.0.0.1:44070/page2.html", "javascript:alert(1)",
                                  "file:///etc/passwd", "data:text/html,<b>x</b>", ""})
        EXPECT_EQ(page(QString::fromUtf8(elsewhere)), QStringLiteral("refused")) << elsewhere;
    // Before the server has started there is no page to go to.
    EXPECT_FALSE(KRDeviceBrowserWindowController::addressOfPreviewedPage(QStringLiteral("page2.html"), QString()));
}

TEST(KRDeviceBackgroundView, DrawsThePictureScaledToItsFrame)
{
    QImage picture(40, 80, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    for (int x = 0; x < 40; ++x)
        picture.setPixel(x, 0, qRgb(255, 0, 0)); // the top row
    KRDeviceBackgroundView view;
    view.setImage(picture);
    view.resize(20, 40); // 50 %
    const QImage drawn = KRTest::renderWidget(view, {1, Qt::transparent, false});
    EXPECT_EQ(QColor(drawn.pixel(10, 0)).red(), 255 / 2 + 1) << "the top row, halved, at the top";
    EXPECT_EQ(drawn.pixel(10, 30), qRgb(0, 0, 255));
    EXPECT_EQ(drawn.pixel(19, 39), qRgb(0, 0, 255));
}

TEST(KRDeviceBrowserZoomView, PatternFollowsTheBackgroundDefault)
{
    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/defaults.plist"));
    defaults.setValue(QStringLiteral("designViewBackground"), QStringLiteral("KR-design-background-dark"));
    KRDeviceBrowserZoomView view(nullptr, &defaults);
    view.resize(64, 64);
    const QImage dark = view.backgroundImage();
    ASSERT_FALSE(dark.isNull());
    EXPECT_EQ(KRTest::renderWidget(view).pixel(5, 5), dark.pixel(5, 5));

    defaults.setValue(QStringLiteral("designViewBackground"), QStringLiteral("KR-design-background-plain"));
    EXPECT_NE(view.backgroundImage(), dark);
    defaults.setValue(QStringLiteral("designViewBackground"), QStringLiteral("../../etc/picture"));
    EXPECT_TRUE(view.backgroundImage().isNull()) << "only plain names of the backgrounds folder";
    EXPECT_EQ(KRTest::renderWidget(view).pixel(5, 5), qRgb(0xe8, 0xe8, 0xe8));
}

TEST(KRDeviceBrowserWindowController, EachProjectFolderHasASiteNameOfItsOwnUnderLocalhost)
{
    const QString base = KRTest::makeTempDir(QStringLiteral("sites"));
    const QRegularExpression hostName(QStringLiteral("^[a-z0-9](?:[a-z0-9-]{0,61}[a-z0-9])?\\.localhost$"));
    const auto name = [](const QString &folder) { return KRDeviceBrowserWindowController::siteHostName(folder); };
    QStringList seen;
    for (const QString &project : {QStringLiteral("My Shop.krproj"), QStringLiteral("Ça -- va?.krproj"),
                                   QStringLiteral("xn--nxasmq6b.krproj"), QStringLiteral("...krproj"),
                                   QStringLiteral("a/b.krproj"), QString(60, u'z') + QStringLiteral(".krproj")}) {
        const QString site = base + QLatin1Char('/') + project + QStringLiteral("/kr-web");
        ASSERT_TRUE(QDir().mkpath(site));
        const QString host = name(site);
        EXPECT_TRUE(hostName.match(host).hasMatch()) << host.toStdString();
        EXPECT_FALSE(host.contains(QLatin1String("--"))) << host.toStdString();
        EXPECT_EQ(name(site + QStringLiteral("/")), host) << "the same folder, the same name";
        EXPECT_FALSE(seen.contains(host)) << host.toStdString();
        seen << host;
    }
    EXPECT_TRUE(seen[0].startsWith(QLatin1String("my-shop-"))) << seen[0].toStdString();
    EXPECT_TRUE(seen[3].startsWith(QLatin1String("project-"))) << seen[3].toStdString();
    // A copy of a project elsewhere is another site.
    ASSERT_TRUE(QDir().mkpath(base + QStringLiteral("/copy/My Shop.krproj/kr-web")));
    EXPECT_NE(name(base + QStringLiteral("/copy/My Shop.krproj/kr-web")), seen[0]);
}

TEST(KRDeviceBrowserWindowController, WindowLaysTheDeviceOutAndSwitchesModes)
{
    KRDeviceBrowserWindowController c;
    QWidget *window = c.window();
    ASSERT_NE(window, nullptr);
    QStringList zooms;
    for (int i = 0; i < c.zoomPopUp()->count(); ++i)
        zooms.append(c.zoomPopUp()->itemText(i));
    EXPECT_EQ(zooms.join(u' '), QStringLiteral("50% 75% 100% 125% 150% 175% 200%"));
    EXPECT_EQ(c.zoomPopUp()->currentText(), QStringLiteral("100%"));
    EXPECT_EQ(c.devicePopUp()->findText(QStringLiteral("Design View")), -1);
    EXPECT_EQ(c.deviceID(), QStringLiteral("iPhone"));
    const QRegularExpression firstLine(QStringLiteral("^\\[\\d{1,2}:\\d\\d:\\d\\d\\.\\d\\d\\]: >> (Client|Server) log <<$"));
    EXPECT_TRUE(firstLine.match(c.clientLog()->toPlainText()).hasMatch()) << c.clientLog()->toPlainText().toStdString();
    EXPECT_TRUE(firstLine.match(c.serverLog()->toPlainText()).hasMatch());
    c.logMessage(QStringLiteral("second"), true);
    EXPECT_TRUE(c.serverLog()->toPlainText().contains(QStringLiteral("<<\n[")));

    window->resize(640, 700);
    window->show();
    const QSize before = window->size();
    c.setMode(0);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Device Viewer"));
    EXPECT_NE(window->size(), before) << "zoomed for the device";
    EXPECT_EQ(c.webView(), nullptr) << "nothing to show yet";
    QApplication::processEvents();
    const QImage skin = c.skinView()->image();
    ASSERT_FALSE(skin.isNull());
    // Wider than the visible area: the device starts at the left and the backdrop grows.
    c.zoomPopUp()->setCurrentText(QStringLiteral("200%"));
    c.zoomPopUpChanged();
    ASSERT_GT(skin.width() * 2, c.scrollView()->viewport()->width());
    EXPECT_EQ(c.skinView()->geometry(), QRect(QPoint(0, 0), skin.size() * 2));
    EXPECT_EQ(c.zoomView()->width(), skin.width() * 2);

    c.zoomPopUp()->setCurrentText(QStringLiteral("50%"));
    c.zoomPopUpChanged();
    const int visibleWidth = c.scrollView()->viewport()->width();
    EXPECT_EQ(c.skinView()->size(), skin.size() / 2);
    EXPECT_EQ(c.skinView()->x(), int(std::floor(visibleWidth / 2.0 - skin.width() / 4.0)));

    c.setDeviceID(QStringLiteral("Toaster"));
    EXPECT_EQ(c.deviceID(), QStringLiteral("iPhone"));
    EXPECT_EQ(c.devicePopUp()->currentData().toString(), QStringLiteral("iPhone"));

    c.setMode(1);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Local Server"));
    EXPECT_EQ(window->size(), before) << "the zoom is undone";
    EXPECT_FALSE(c.headerContainer()->isVisible());
    EXPECT_TRUE(c.serverHeaderContainer()->isVisible());
    EXPECT_FALSE(c.scrollView()->isVisible());
    EXPECT_FALSE(c.clientLog()->isVisible());
    EXPECT_TRUE(c.serverLog()->isVisible());
    window->resize(500, 500);
    c.setMode(1);
    EXPECT_EQ(window->size(), QSize(500, 500)) << "undone once only";
    c.setMode(0);
    EXPECT_TRUE(c.headerContainer()->isVisible());
    EXPECT_TRUE(c.clientLog()->isVisible());
    EXPECT_TRUE(c.scrollView()->isVisible());
}

TEST(KRDeviceBrowserWindowController, OpensWithTheDeviceInViewAndTheLogsUnderItAndTurnsItOnItsSide)
{
    // As a run opens it: the mode is set before the window is on screen.
    KRDeviceBrowserWindowController c;
    c.setMode(0);
    c.window()->show();
    QSplitter *split = c.splitView();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return split->sizes().value(1) == 100; }))
        << split->sizes().value(0) << " / " << split->sizes().value(1);
    EXPECT_EQ(split->sizes().value(0), split->height() - split->handleWidth() - 100) << "the device has the rest";
    const QImage upright = c.skinView()->image();
    ASSERT_FALSE(upright.isNull());
    ASSERT_LT(upright.width(), upright.height());
    // The window fits the screen, the device shown smaller when it would not fit at 100 %.
    const QRect screen = c.window()->screen()->availableGeometry();
    EXPECT_LE(c.window()->height(), screen.height());
    const int shown = c.skinView()->height();
    EXPECT_EQ(shown, qRound(upright.height() * c.zoomFactor()));
    EXPECT_EQ(c.zoomPopUp()->currentText(), QStringLiteral("%1%").arg(qRound(c.zoomFactor() * 100)));
    EXPECT_GE(c.scrollView()->viewport()->height(), std::min(shown, split->height() - split->handleWidth() - 100));
    EXPECT_EQ(c.skinView()->y(), c.scrollView()->viewport()->height() > shown
                                     ? (c.scrollView()->viewport()->height() - shown) / 2
                                     : 0);

    // Landscape: the skin lies on its side, its top to the left.
    c.orientationPopUp()->setCurrentText(QStringLiteral("Landscape"));
    c.orientationPopUpChanged();
    const QImage turned = c.skinView()->image();
    EXPECT_EQ(turned.size(), upright.size().transposed());
    EXPECT_EQ(turned, KRDeviceBrowserWindowController::rotateIndividualImage(upright, false));
    EXPECT_EQ(c.skinView()->size(), upright.size().transposed() * c.zoomFactor());
    // It stays on its side on another device, and stands up again for Portrait.
    c.devicePopUp()->setCurrentIndex(c.devicePopUp()->findData(QStringLiteral("Android")));
    c.devicePopUpChanged();
    EXPECT_GT(c.skinView()->image().width(), c.skinView()->image().height());
    c.orientationPopUp()->setCurrentText(QStringLiteral("Portrait"));
    c.orientationPopUpChanged();
    EXPECT_LT(c.skinView()->image().width(), c.skinView()->image().height());
}

} // namespace

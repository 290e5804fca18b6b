#include <model/KRObjectInfo.h>
#include <platform/foundation/KRUserDefaults.h>
#include <platform/webview/KRWebEngineEnvironment.h>
#include <widgets/help/KRHelpButtonController.h>
#include <workspace/palette/KRPaletteObjectViewController.h>
#include <workspace/palette/KRPalettePane.h>

#include <KRTestSupport.h>
#include <KRWebTestSupport.h>
#include <KRWidgetTestSupport.h>

#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QWebEngineView>

namespace {

const bool g_schemeRegistered = KRTest::addBeforeApplicationHook(KRWebEngineEnvironment::prepare);

QString pageText(QWebEngineView *view)
{
    return KRTest::evaluateScript(view, QStringLiteral("document.body ? document.body.innerText.replace(/\\s+/g, ' ') : ''"))
        .toString();
}

TEST(KRPaletteHelp, ClickingARowsHelpButtonShowsTheClassHelpBesideTheRow)
{
    KRUserDefaults defaults(KRTest::makeTempDir() + QStringLiteral("/defaults.conf"));
    KRPalettePane pane(defaults);
    pane.setGeometry(100, 100, 240, 420);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane, int(KRTest::WaitTimeout.count())));

    const int row = int(pane.model()->classNames().indexOf(QStringLiteral("KRTimer")));
    ASSERT_GE(row, 0);
    pane.list()->scrollTo(pane.model()->index(row));
    KRPaletteObjectViewController *object = pane.paletteObjects().value(row);
    KRHelpButtonController *help = object->helpButtonController();
    help->setFadeInDelay(10);
    help->setFadeDuration(20);
    const QRect rowRect = pane.list()->visualRect(pane.model()->index(row));
    QTest::mouseMove(pane.list()->viewport(), rowRect.center());
    ASSERT_TRUE(KRTest::processEventsUntil(
        [&] { return qFuzzyCompare(help->helpButtonOpacity(), KRHelpButtonController::ShownOpacity); }));
    QTest::mouseClick(object->helpButton(), Qt::LeftButton);

    ASSERT_TRUE(help->popover());
    ASSERT_TRUE(help->popover()->isShown());
    EXPECT_EQ(help->popover()->shownEdge(), KRPopover::RightEdge);
    QWebEngineView *view = help->helpViewController()->webView();
    const QString expected = QTextDocumentFragment::fromHtml(KRObjectInfo::sharedInstance().objectHelpHTML(QStringLiteral("KRTimer")))
                                 .toPlainText()
                                 .simplified()
                                 .left(40);
    ASSERT_GE(expected.size(), 20);
    EXPECT_TRUE(KRTest::processEventsUntil([&] { return pageText(view).contains(expected); }))
        << pageText(view).toStdString() << " / " << expected.toStdString();

    // The picture: the pane with the pop-over where it stands beside it, the page laid in once
    // the engine has painted it.
    QImage page;
    EXPECT_TRUE(KRTest::processEventsUntil([&] {
        page = view->grab().toImage();
        for (int y = 0; y < page.height(); y += 2)
            for (int x = 0; x < page.width(); x += 2)
                if (page.pixel(x, y) != page.pixel(0, 0))
                    return true;
        return false;
    }));
    QWidget *popover = help->popover();
    const QRect paneFrame(pane.mapToGlobal(QPoint(0, 0)), pane.size());
    const QRect popoverFrame(popover->mapToGlobal(QPoint(0, 0)), popover->size());
    const QRect all = paneFrame.united(popoverFrame);
    QImage shot(all.size(), QImage::Format_ARGB32);
    shot.fill(QColor(200, 200, 200));
    QPainter painter(&shot);
    painter.drawImage(paneFrame.topLeft() - all.topLeft(), KRTest::renderWidget(pane, {1, QColor(236, 236, 236), false}));
    painter.drawImage(popoverFrame.topLeft() - all.topLeft(), KRTest::renderWidget(*popover, {1, QColor(236, 236, 236), false}));
    painter.drawImage(view->mapToGlobal(QPoint(0, 0)) - all.topLeft(), page);
    painter.end();
    EXPECT_TRUE(shot.save(KRTest::artifactsDir(QStringLiteral("workspace")) + QStringLiteral("/palette-help.png")));
}

} // namespace

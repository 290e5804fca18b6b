#include <app/KRUnderConstructionWindow.h>

#include <KRTestSupport.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <gtest/gtest.h>

TEST(KRUnderConstructionWindow, TitleNoticeAndQuit)
{
    KRUnderConstructionWindow window;
    window.show();
    ASSERT_TRUE(KRTest::processEventsUntil([&] { return window.isVisible(); }));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Korvane"));

    auto *notice = window.findChild<QLabel *>(QStringLiteral("notice"));
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->text().contains(QStringLiteral("Korvane is under construction")));
    EXPECT_TRUE(notice->alignment() & Qt::AlignHCenter);

    // Quit sits in the menu bar with the platform's key.
    QStringList menuActions;
    for (QAction *menu : window.menuBar()->actions()) {
        for (QAction *action : menu->menu()->actions())
            menuActions << action->text();
    }
    EXPECT_TRUE(menuActions.contains(window.quitAction()->text()));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QKeySequence::Quit));
    QTimer::singleShot(0, window.quitAction(), &QAction::trigger);
    QTimer giveUp; // only fires if Quit does nothing
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);

    // The notice is drawn in the middle of the window: the centre row holds text pixels
    // (darker than the background) and the corners do not.
    const QImage image = window.grab().toImage();
    const QString dir = QStringLiteral(KR_BUILD_DIR "/test-artifacts/app");
    QDir().mkpath(dir);
    EXPECT_TRUE(image.save(dir + QStringLiteral("/under-construction-window.png")));
    const QRect text = notice->geometry();
    const QColor background = image.pixelColor(text.left() + 2, text.bottom() - 2);
    int darkInMiddle = 0;
    for (int x = text.left(); x < text.right(); ++x) {
        for (int y = text.center().y() - 30; y < text.center().y() + 30; ++y)
            darkInMiddle += image.pixelColor(x, y).lightness() < background.lightness() - 60;
    }
    EXPECT_GT(darkInMiddle, 50);
}

#include <app/KRUnderConstructionWindow.h>

#include <KRTestSupport.h>

#include <QAction>
#include <QCoreApplication>
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

    // Quit sits in the menu bar's first menu, with the platform's key, and ends the run.
    ASSERT_FALSE(window.menuBar()->actions().isEmpty());
    EXPECT_TRUE(window.menuBar()->actions().first()->menu()->actions().contains(window.quitAction()));
    EXPECT_EQ(window.quitAction()->shortcut(), QKeySequence(QKeySequence::Quit));
    QTimer::singleShot(0, window.quitAction(), &QAction::trigger);
    QTimer giveUp; // only fires if Quit does nothing
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    giveUp.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);

    EXPECT_TRUE(window.grab().save(KRTest::artifactsDir(QStringLiteral("app")) + QStringLiteral("/under-construction-window.png")));
}

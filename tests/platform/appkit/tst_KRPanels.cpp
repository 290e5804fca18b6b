#include "AppKitTestSupport.h"

#include <platform/appkit/KRColorPanel.h>
#include <platform/appkit/KRFontPanel.h>

#include <gtest/gtest.h>

#include <QColorDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <memory>

namespace {

TEST(KRColorPanel, ReportsPickedColoursToTheLivingTargetOnly)
{
    KRColorPanel &panel = KRColorPanel::shared();
    QList<QColor> first, second;
    auto owner = std::make_unique<QObject>();
    QObject otherOwner;
    panel.setTarget(owner.get(), [&](const QColor &c) { first.append(c); });

    // Showing the target's value is not an edit.
    panel.setColor(QColor(10, 20, 30));
    EXPECT_EQ(panel.color(), QColor(10, 20, 30));
    EXPECT_TRUE(first.isEmpty());
    panel.colorDialog()->setCurrentColor(QColor(200, 0, 0));
    EXPECT_EQ(first, QList<QColor>{QColor(200, 0, 0)});

    // A click on a name of the "HTML Colors" list picks that colour for the new target.
    EXPECT_EQ(panel.htmlColorList()->count(), KRColorPanel::htmlColorNames().size());
    EXPECT_TRUE(KRColorPanel::htmlColorNames().contains(QStringLiteral("rebeccapurple")));
    EXPECT_EQ(KRColorPanel::htmlColor(QStringLiteral("rebeccapurple")), QColor(0x66, 0x33, 0x99));
    panel.setTarget(&otherOwner, [&](const QColor &c) { second.append(c); });
    QListWidget *list = panel.htmlColorList();
    QListWidgetItem *item = list->findItems(QStringLiteral("cornflowerblue"), Qt::MatchExactly).value(0);
    ASSERT_TRUE(item);
    list->scrollToItem(item);
    panel.orderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    EXPECT_EQ(second, QList<QColor>{QColor(100, 149, 237)});
    EXPECT_EQ(first.size(), 1);

    // A destroyed owner is never called back, and the panel, with nothing left to edit, hides;
    // a target given up leaves it shown.
    panel.setTarget(owner.get(), [&](const QColor &c) { first.append(c); });
    owner.reset();
    panel.colorDialog()->setCurrentColor(QColor(0, 0, 200));
    EXPECT_EQ(first.size(), 1);
    EXPECT_FALSE(panel.isVisible());
    panel.orderFront();
    panel.setTarget(&otherOwner, [&](const QColor &c) { second.append(c); });
    panel.clearTarget();
    EXPECT_TRUE(panel.isVisible());

    KRAppKitTest::saveScreenshot(panel, QStringLiteral("color-panel"));
    panel.hide();
}

TEST(KRFontPanel, ReportsTypedFontsButNotShownOnes)
{
    KRFontPanel &panel = KRFontPanel::shared();
    QList<QFont> picked;
    QObject owner;
    panel.setTarget(&owner, [&](const QFont &f) { picked.append(f); });
    QFont shown = panel.panelFont();
    shown.setPointSize(17);
    panel.setPanelFont(shown);
    EXPECT_EQ(panel.panelFont().pointSize(), 17);
    EXPECT_TRUE(picked.isEmpty());

    // The size field is the third line edit of the chooser.
    QLineEdit *sizeEdit = panel.fontDialog()->findChildren<QLineEdit *>().value(2);
    ASSERT_TRUE(sizeEdit);
    sizeEdit->selectAll();
    QTest::keyClicks(sizeEdit, QStringLiteral("24"));
    ASSERT_FALSE(picked.isEmpty());
    EXPECT_EQ(picked.last().pointSize(), 24);
    panel.clearTarget();
}

} // namespace

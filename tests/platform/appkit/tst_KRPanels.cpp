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

TEST(KRColorPanel, ReportsPickedColoursToTheCurrentTargetOnly)
{
    KRColorPanel &panel = KRColorPanel::shared();
    EXPECT_EQ(&panel, &KRColorPanel::shared());

    QList<QColor> first, second;
    auto owner = std::make_unique<QObject>();
    QObject otherOwner;
    panel.setTarget(owner.get(), [&](const QColor &c) { first.append(c); });

    // Showing the target's value is not an edit.
    panel.setColor(QColor(10, 20, 30));
    EXPECT_EQ(panel.color(), QColor(10, 20, 30));
    EXPECT_TRUE(first.isEmpty());

    panel.colorDialog()->setCurrentColor(QColor(200, 0, 0));
    ASSERT_EQ(first.size(), 1);
    EXPECT_EQ(first.last(), QColor(200, 0, 0));

    // A named colour from the list goes through the chooser to the target.
    panel.setTarget(&otherOwner, [&](const QColor &c) { second.append(c); });
    QListWidget *list = panel.htmlColorList();
    const auto items = list->findItems(QStringLiteral("cornflowerblue"), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    list->scrollToItem(items.first());
    panel.orderFront();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items.first()).center());
    ASSERT_EQ(second.size(), 1);
    EXPECT_EQ(second.last(), QColor(100, 149, 237));
    EXPECT_EQ(first.size(), 1);

    // A destroyed owner is never called back.
    panel.setTarget(owner.get(), [&](const QColor &c) { first.append(c); });
    owner.reset();
    EXPECT_FALSE(panel.hasTarget());
    panel.colorDialog()->setCurrentColor(QColor(0, 0, 200));
    EXPECT_EQ(first.size(), 1);

    KRAppKitTest::saveScreenshot(panel, QStringLiteral("color-panel"));
    panel.hide();
}

TEST(KRColorPanel, ListsTheNamedWebColours)
{
    const QStringList names = KRColorPanel::htmlColorNames();
    EXPECT_GE(names.size(), 140);
    for (const char *name : {"aliceblue", "rebeccapurple", "yellowgreen", "black", "white"})
        EXPECT_TRUE(names.contains(QLatin1String(name))) << name;
    EXPECT_EQ(KRColorPanel::htmlColor(QStringLiteral("rebeccapurple")), QColor(0x66, 0x33, 0x99));
    EXPECT_EQ(KRColorPanel::shared().htmlColorList()->count(), names.size());
}

TEST(KRFontPanel, ReportsPickedFontsButNotShownOnes)
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

    // The user types a size.
    const auto edits = panel.fontDialog()->findChildren<QLineEdit *>();
    ASSERT_GE(edits.size(), 3);
    QLineEdit *sizeEdit = edits.at(2);
    sizeEdit->selectAll();
    QTest::keyClicks(sizeEdit, QStringLiteral("24"));
    ASSERT_FALSE(picked.isEmpty());
    EXPECT_EQ(picked.last().pointSize(), 24);
    EXPECT_FALSE(panel.fontDialog()->isModal());
    panel.clearTarget();
}

} // namespace

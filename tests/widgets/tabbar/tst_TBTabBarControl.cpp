// The bar over its tab view, driven with the mouse: selection marks, the overflow menu,
// closing (vetoed, suppressed, "close others"), the title binding, tool tips, hiding for a
// single tab, style selection and the images the widths rely on.

#include "TabBarTestSupport.h"

#include <widgets/tabbar/TBTabBarButtons.h>
#include <widgets/tabbar/TBTabBarController.h>
#include <widgets/tabbar/TBTabStyle.h>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QMenu>
#include <QContextMenuEvent>
#include <QTest>

TEST(TBTabBarControl, NewBarDefaultsAndStyleNames)
{
    TBTabBarControl bar;
    EXPECT_EQ(bar.styleName(), "Metal");
    EXPECT_EQ(bar.cellMinWidth(), 100);
    EXPECT_EQ(bar.cellMaxWidth(), 280);
    EXPECT_EQ(bar.cellOptimumWidth(), 130);
    EXPECT_TRUE(bar.useOverflowMenu());
    EXPECT_TRUE(bar.allowsBackgroundTabClosing());
    EXPECT_FALSE(bar.canCloseOnlyTab() || bar.sizeCellsToFit() || bar.hideForSingleTab() || bar.showAddTabButton());
    bar.setStyleNamed("Unified");
    EXPECT_EQ(bar.styleName(), "Unified");
    bar.setStyleNamed("unified");
    EXPECT_EQ(bar.styleName(), "Metal");
    bar.setStyleNamed(QString());
    EXPECT_EQ(bar.styleName(), "Metal");
}

TEST(TBTabBarControl, SelectionMarksFollowTheTabView)
{
    BarWindow w;
    w.addTabs({"A", "B", "C", "D"});
    const auto &cells = w.bar->cells();
    ASSERT_EQ(cells.size(), 4u);
    EXPECT_EQ(cells[0]->tabState(), TBTabState::Selected | TBTabState::First);
    EXPECT_TRUE(cells[0]->accessibilityFocused());   // selected and first
    EXPECT_EQ(cells[3]->tabState(), TBTabState::Last);

    QTest::mouseClick(w.bar, Qt::LeftButton, {}, cellCentre(cells[2]));
    EXPECT_EQ(w.tabView->selectedItem()->label(), "C");
    EXPECT_EQ(cells[0]->tabState(), TBTabState::WasSelected);
    EXPECT_TRUE(cells[1]->tabState() & TBTabState::RightIsSelected);
    EXPECT_EQ(cells[2]->tabState(), TBTabState::Selected);
    EXPECT_TRUE(cells[3]->tabState() & TBTabState::LeftIsSelected);
    EXPECT_FALSE(cells[0]->accessibilityFocused());
    EXPECT_TRUE(cells[2]->accessibilityFocused());

    // A click on the left margin hits no tab.
    QTest::mouseClick(w.bar, Qt::LeftButton, {}, QPoint(2, 10));
    EXPECT_EQ(w.tabView->selectedItem()->label(), "C");
}

TEST(TBTabBarControl, TabsThatDoNotFitAreListedInTheOverflowMenu)
{
    // 500 wide, margins 5 and 24: four tabs of 117 fit, a fifth would get 94.
    BarWindow w(500);
    auto *model = new QObject(w.window.get());
    model->setProperty("objectCount", 3);
    const QString longTitle = QString(70, QLatin1Char('x'));
    w.addTabs({"A", "B", "C", "D", "E"});
    w.tabView->addItem(QVariant::fromValue(model), "Counted");
    w.tabView->addItem("long", longTitle);
    EXPECT_EQ(w.visibleTitles(), QStringList({"A", "B", "C", "D"}));
    EXPECT_EQ(w.bar->cells()[0]->frame().width(), 117);
    EXPECT_EQ(w.bar->numberOfVisibleTabs(), 4);
    EXPECT_EQ(w.bar->lastVisibleTab()->stringValue(), "D");

    ASSERT_TRUE(w.bar->overflowMenu());
    QStringList titles;
    for (QAction *action : w.bar->overflowMenu()->actions())
        titles << action->text();
    EXPECT_EQ(titles, QStringList({"E", "Counted (3)", QString(59, QLatin1Char('x')) + QChar(0x2026)}));
    EXPECT_TRUE(w.bar->overflowPopUpButton()->isVisible());

    // Choosing an entry selects its tab; the menu marks the selected one when it opens.
    w.bar->overflowMenu()->actions()[1]->trigger();
    EXPECT_EQ(w.tabView->selectedItem()->label(), "Counted");
    TBTabBarCell *counted = w.bar->cells()[5];
    EXPECT_EQ(counted->tabState(), TBTabState::Selected);
    EXPECT_FALSE(w.bar->cells()[4]->tabState() & TBTabState::RightIsSelected);
    emit w.bar->overflowMenu()->aboutToShow();
    EXPECT_TRUE(w.bar->overflowMenu()->actions()[1]->isChecked());
    EXPECT_FALSE(w.bar->overflowMenu()->actions()[0]->isChecked());

    // With room for all, the menu and its button go.
    w.window->resize(1200, 80);
    QTest::qWait(1);
    EXPECT_FALSE(w.bar->overflowMenu());
    EXPECT_FALSE(w.bar->overflowPopUpButton()->isVisible());
}

TEST(TBTabBarControl, ClosingHonoursTheOnlyTabTheVetoAndSuppressedButtons)
{
    BarWindow w;
    w.addTabs({"A"});
    TBTabBarCell *only = w.bar->cells()[0];
    EXPECT_TRUE(only->isCloseButtonSuppressed());
    QTest::mouseClick(w.bar, Qt::LeftButton, {}, closeButtonCentre(only));
    EXPECT_EQ(w.labels(), QStringList({"A"}));

    w.addTabs({"B", "C"});
    w.delegate.shouldClose = false;
    TBTabBarCell *b = w.bar->cells()[1];
    QTest::mousePress(w.bar, Qt::LeftButton, {}, closeButtonCentre(b));
    EXPECT_TRUE(b->closeButtonPressed());
    QTest::mouseRelease(w.bar, Qt::LeftButton, {}, closeButtonCentre(b));
    EXPECT_EQ(w.labels(), QStringList({"A", "B", "C"}));
    EXPECT_FALSE(b->closeButtonPressed());
    EXPECT_EQ(w.tabView->selectedItem()->label(), "A");   // a close click selects nothing

    w.delegate.shouldClose = std::nullopt;
    QTest::mouseClick(w.bar, Qt::LeftButton, {}, closeButtonCentre(b));
    EXPECT_EQ(w.labels(), QStringList({"A", "C"}));
    EXPECT_EQ(w.delegate.heard, QStringList({"closed B"}));

    // Pressing the close button and releasing elsewhere closes nothing.
    TBTabBarCell *c = w.bar->cells()[1];
    QTest::mousePress(w.bar, Qt::LeftButton, {}, closeButtonCentre(c));
    QTest::mouseMove(w.bar, cellCentre(c) + QPoint(30, 0));
    EXPECT_FALSE(c->closeButtonPressed());
    QTest::mouseRelease(w.bar, Qt::LeftButton, {}, cellCentre(c) + QPoint(30, 0));
    EXPECT_EQ(w.labels(), QStringList({"A", "C"}));

    w.bar->setDisableTabClose(true);
    QTest::mouseClick(w.bar, Qt::LeftButton, {}, closeButtonCentre(c));
    EXPECT_EQ(w.labels(), QStringList({"A", "C"}));
}

TEST(TBTabBarControl, CloseOthersKeepsTabsThatCannotBeClosed)
{
    BarWindow w(900, "Unified", true);
    w.delegate.disableClose = [](TBTabViewItem *item) { return item->identifier().toString().startsWith("!!"); };
    w.addTabs({"!!Design", "!!Objects", "A", "B", "C"});
    EXPECT_TRUE(w.bar->cells()[0]->isCloseButtonSuppressed());
    TBTabBarCell *b = w.bar->cells()[3];
    QTest::mousePress(w.bar, Qt::LeftButton, Qt::AltModifier, closeButtonCentre(b));
    QTest::mouseRelease(w.bar, Qt::LeftButton, Qt::AltModifier, closeButtonCentre(b));
    EXPECT_EQ(w.labels(), QStringList({"!!Design", "!!Objects", "B"}));
    EXPECT_EQ(w.delegate.heard, QStringList({"closed A", "closed C"}));
    EXPECT_FALSE(w.bar->cells()[2]->closeButtonPressed());

    // The same from a tab's context menu, which the bar offers when its delegate has none;
    // with nothing left to close the entry is off.
    w.addTabs({"D", "E"});
    w.delegate.heard.clear();
    const auto menuOf = [&](TBTabBarCell *cell) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, cellCentre(cell), w.bar->mapToGlobal(cellCentre(cell)));
        QApplication::sendEvent(w.bar, &event);
        QMenu *menu = w.bar->findChild<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
        return menu && menu->isVisible() ? menu : nullptr;
    };
    QMenu *menu = menuOf(w.bar->cells()[3]);
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Close Other Tabs");
    EXPECT_TRUE(menu->actions()[0]->isEnabled());
    menu->actions()[0]->trigger();
    menu->close();
    EXPECT_EQ(w.labels(), QStringList({"!!Design", "!!Objects", "D"}));
    EXPECT_EQ(w.delegate.heard, QStringList({"closed B", "closed E"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    menu = menuOf(w.bar->cells()[2]);
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions()[0]->isEnabled());
    menu->close();
}

TEST(TBTabBarControl, TitlesFollowLabelsAndHoverTracksTabsAndCloseButtons)
{
    BarWindow w(700, "Unified", true);
    w.addTabs({"A", "B"});
    TBTabBarCell *a = w.bar->cells()[0];
    const double before = a->frame().width();
    w.tabView->itemAt(0)->setLabel("A much longer title than before");
    EXPECT_EQ(a->stringValue(), "A much longer title than before");
    EXPECT_GT(a->frame().width(), before);

    EXPECT_EQ(w.bar->toolTipAt(cellCentre(a)), "tip A much longer title than before");
    EXPECT_EQ(w.bar->toolTipAt(QPoint(2, 10)), QString());

    QTest::mouseMove(w.bar, cellCentre(a));
    EXPECT_TRUE(a->isHighlighted());
    EXPECT_FALSE(a->closeButtonOver());
    QTest::mouseMove(w.bar, closeButtonCentre(a));
    EXPECT_TRUE(a->closeButtonOver());
    // Background closing off: the close button of an unselected tab does not light up.
    w.bar->setAllowsBackgroundTabClosing(false);
    TBTabBarCell *b = w.bar->cells()[1];
    QTest::mouseMove(w.bar, closeButtonCentre(b));
    EXPECT_TRUE(b->closeButtonOverRaw());
    EXPECT_FALSE(b->closeButtonOver());
}

TEST(TBTabBarControl, HidesForASingleTabAndShowsForTwo)
{
    BarWindow w;
    w.bar->setHideForSingleTab(true);
    w.addTabs({"A"});
    EXPECT_TRUE(w.bar->isTabBarHidden());
    // Hidden in four steps of a thirtieth of a second; the delegate hears of it at the end.
    EXPECT_TRUE(w.delegate.heard.isEmpty());
    QTRY_COMPARE(w.delegate.heard, QStringList({"hid"}));
    EXPECT_EQ(w.bar->height(), 1);
    w.addTabs({"B"});
    EXPECT_FALSE(w.bar->isTabBarHidden());
    QTRY_COMPARE(w.delegate.heard, QStringList({"hid", "unhid"}));
    EXPECT_EQ(w.bar->height(), 22);
    w.tabView->removeItem(w.tabView->itemAt(1));
    QTRY_COMPARE(w.delegate.heard, QStringList({"hid", "unhid", "closed B", "hid"}));
}

TEST(TBTabBarControl, NamedImagesLoadAtTheSizesTheWidthsAssume)
{
    const QStringList closeNames = {"AquaTabClose_Front", "AquaTabClose_Front_Pressed", "AquaTabClose_Front_Rollover",
                                    "AquaTabCloseDirty_Front", "AquaTabCloseDirty_Front_Pressed", "AquaTabCloseDirty_Front_Rollover",
                                    "TabClose_Front", "TabClose_Front_Pressed", "TabClose_Front_Rollover",
                                    "TabClose_Dirty", "TabClose_Dirty_Pressed", "TabClose_Dirty_Rollover"};
    for (const QString &name : closeNames)
        EXPECT_EQ(TBTabDrawing::image(name).size(), QSize(13, 13)) << name.toStdString();
    for (const QString &name : {"AquaTabNew", "AquaTabNewPressed", "AquaTabNewRollover", "TabNewMetal",
                                "TabNewMetalPressed", "TabNewMetalRollover", "pi"})
        EXPECT_EQ(TBTabDrawing::image(name).size(), QSize(16, 16)) << name.toStdString();
    for (const QString &name : {"overflowImage", "overflowImagePressed"})
        EXPECT_EQ(TBTabDrawing::image(name).size(), QSize(14, 14)) << name.toStdString();
    EXPECT_TRUE(TBTabDrawing::image("NoSuchImage").isNull());
}

TEST(TBTabBarControl, AddButtonFollowsTheLastTab)
{
    BarWindow w(600);
    w.bar->setShowAddTabButton(true);
    EXPECT_EQ(w.bar->layoutEngine()->addButtonRect().topLeft(), QPointF(5 + 2, 3));
    w.addTabs({"A", "B"});
    EXPECT_TRUE(w.bar->addTabButton()->isVisible());
    EXPECT_EQ(w.bar->addTabButton()->geometry().topLeft(), QPoint(5 + 260 + 2, 3));
    EXPECT_EQ(w.bar->addTabButton()->usualImage().size(), QSize(16, 16));
}

namespace {

struct CountingDelegate : RecordingDelegate
{
    std::optional<QString> accessibilityStringForTabView(TBTabView *, long) override { return QStringLiteral("objects"); }
    QMenu *tabViewMenuForItem(TBTabView *, TBTabViewItem *item) override
    {
        menu.clear();
        menu.addAction("Close " + item->label());
        return &menu;
    }
    QMenu menu;
};

} // namespace

TEST(TBTabBarControl, AccessibleTabsAreButtonsThatSelectWhenPressed)
{
    BarWindow w(300);
    CountingDelegate delegate;
    w.bar->setDelegate(&delegate);
    auto *model = new QObject(w.window.get());
    model->setProperty("objectCount", 7);
    w.tabView->addItem(QVariant::fromValue(model), "Counted");
    w.addTabs({"B", "C"});   // C does not fit
    QAccessibleInterface *group = QAccessible::queryAccessibleInterface(w.bar);
    ASSERT_TRUE(group);
    EXPECT_EQ(group->role(), QAccessible::Grouping);
    ASSERT_EQ(group->childCount(), 2);
    QAccessibleInterface *first = group->child(0);
    EXPECT_EQ(first->role(), QAccessible::Button);
    EXPECT_TRUE(first->state().focused);          // selected and first: the selection bit decides
    EXPECT_EQ(first->text(QAccessible::Help), "Counted, 7 objects");
    QAccessibleInterface *second = group->child(1);
    EXPECT_FALSE(second->state().focused);
    second->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(w.tabView->selectedItem()->label(), "B");
    EXPECT_TRUE(second->state().focused);
    EXPECT_FALSE(first->state().focused);

    // The context menu of a tab is the delegate's.
    QContextMenuEvent event(QContextMenuEvent::Mouse, cellCentre(w.bar->cells()[1]), w.bar->mapToGlobal(cellCentre(w.bar->cells()[1])));
    QApplication::sendEvent(w.bar, &event);
    EXPECT_TRUE(delegate.menu.isVisible());
    EXPECT_EQ(delegate.menu.actions().value(0)->text(), "Close B");
    delegate.menu.hide();
    w.bar->setDelegate(nullptr);
}

TEST(TBTabBarControl, OverflowButtonPulsesOnlyWhileShown)
{
    BarWindow w(300);
    w.addTabs({"A", "B", "C"});
    TBOverflowPopUpButton *button = w.bar->overflowPopUpButton();
    ASSERT_TRUE(button->isVisible());
    button->setAnimatingAlternateImage(true);
    EXPECT_DOUBLE_EQ(button->animationValue(), double(0.033f));
    for (int i = 0; i < 31; ++i)
        button->animateStep();
    // The thirtieth step passes 1.0 and starts again at 0.033; the next makes 0.066.
    EXPECT_NEAR(button->animationValue(), 2 * double(0.033f), 1e-6);
    button->hide();
    const double frozen = button->animationValue();
    QTest::qWait(150);
    EXPECT_EQ(button->animationValue(), frozen);
}

TEST(TBTabBarControl, ActiveTabChosenFromTheMenuMovesToTheFront)
{
    BarWindow w(300);
    w.bar->setAlwaysShowActiveTab(true);
    w.addTabs({"A", "B", "C", "D"});
    ASSERT_EQ(w.visibleTitles(), QStringList({"A", "B"}));
    w.bar->overflowMenu()->actions().last()->trigger();
    EXPECT_EQ(w.labels(), QStringList({"D", "A", "B", "C"}));
    EXPECT_EQ(w.visibleTitles(), QStringList({"D", "A"}));
    EXPECT_EQ(w.tabView->selectedItem()->label(), "D");
    EXPECT_TRUE(w.bar->cells()[0]->tabState() & TBTabState::Selected);
}

TEST(TBTabBarControl, AnimatedUpdatesGlideToTheLayout)
{
    BarWindow w(600);
    w.addTabs({"A", "B"});
    w.bar->setAutomaticallyAnimates(true);
    w.addTabs({"C"});
    EXPECT_TRUE(w.bar->isAnimating());
    QTRY_VERIFY(!w.bar->isAnimating());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(w.bar->cells()[std::size_t(i)]->frame(), QRectF(5 + 130 * i, 0, 130, 22));
}

TEST(TBTabBarControl, VerticalBarStacksTabsAndResizesFromItsRightEdge)
{
    QWidget window;
    window.resize(400, 200);
    auto *bar = new TBTabBarControl(&window);
    auto *view = new TBTabView(&window);
    bar->setGeometry(0, 0, 150, 200);
    view->setGeometry(150, 0, 250, 200);
    bar->setOrientation(TBTabBarOrientation::Vertical);
    bar->setTabView(view);
    bar->setPartnerView(view);
    bar->setAllowsResizing(true);
    bar->setCellMaxWidth(300);
    for (const char *title : {"One", "Two", "Three", "Four", "Five", "Six", "Seven", "Eight", "Nine"})
        view->addItem(QString::fromLatin1(title), QString::fromLatin1(title));
    window.show();
    QTest::qWait(1);
    // Metal: 10 points on top, 22 per tab; the ninth does not fit and less than 17 points
    // would be left under the eighth, so it goes too.
    EXPECT_EQ(bar->cells()[1]->frame(), QRectF(0, 32, 150, 22));
    EXPECT_EQ(bar->numberOfVisibleTabs(), 7);
    screenshot(window, "vertical-metal.png");

    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(148, 190));
    QTest::mouseMove(bar, QPoint(160, 190));
    QTest::mouseMove(bar, QPoint(175, 190));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(175, 190));
    EXPECT_EQ(bar->width(), 177);   // the pointer moved 27 points
    EXPECT_EQ(view->geometry(), QRect(177, 0, 223, 200));
    // Never as wide as the maximum.
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(176, 190));
    QTest::mouseMove(bar, QPoint(200, 190));
    QTest::mouseMove(bar, QPoint(330, 190));
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(330, 190));
    EXPECT_EQ(bar->width(), 201);
}

// Switching pages leaves the view taking updates, with the chosen page alone shown and painted.
TEST(TBTabBarControl, SwitchingPagesShowsTheChosenOneAndKeepsUpdatesOn)
{
    QWidget window;
    window.resize(300, 200);
    auto *view = new TBTabView(&window);
    view->setGeometry(0, 0, 300, 200);
    std::vector<QWidget *> pages;
    for (const char *title : {"Red", "Green", "Blue"}) {
        TBTabViewItem *item = view->addItem(QString::fromLatin1(title), QString::fromLatin1(title));
        item->view()->setAutoFillBackground(true);
        QPalette palette = item->view()->palette();
        palette.setColor(QPalette::Window, QColor(QString::fromLatin1(title).toLower()));
        item->view()->setPalette(palette);
        pages.push_back(item->view());
    }
    window.show();
    QTest::qWait(1);
    for (std::size_t chosen : {2u, 0u, 1u}) {
        view->selectItem(view->items()[chosen]);
        EXPECT_TRUE(view->updatesEnabled());
        for (std::size_t i = 0; i < pages.size(); ++i)
            EXPECT_EQ(pages[i]->isVisible(), i == chosen) << i;
        EXPECT_EQ(view->grab().toImage().pixelColor(150, 100), pages[chosen]->palette().color(QPalette::Window));
    }
}

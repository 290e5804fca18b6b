// Tab dragging with the mouse: placeholders and their sine steps, reordering within a bar,
// dropping back on the gap, moving between bars, tearing off into a new window (made and
// refused), and spring-loading under a drag of another kind.

#include "TabBarTestSupport.h"

#include <widgets/tabbar/TBTabDragAssistant.h>

#include <gtest/gtest.h>

#include <QDropEvent>
#include <QMimeData>
#include <QTest>

namespace {

TBTabDragAssistant &assistant()
{
    return TBTabDragAssistant::sharedDragAssistant();
}

std::vector<bool> placeholderPattern(const TBTabBarControl *bar)
{
    std::vector<bool> out;
    for (TBTabBarCell *cell : bar->cells())
        out.push_back(cell->isPlaceholder());
    return out;
}

// Presses on a tab and moves far enough to start dragging it.
void startDrag(TBTabBarControl *bar, TBTabBarCell *cell)
{
    QTest::mousePress(bar, Qt::LeftButton, {}, cellCentre(cell));
    QTest::mouseMove(bar, cellCentre(cell) + QPoint(12, 0));
}

// Moves the pointer to a point of any bar (given in that bar) and lets the gaps settle.
void dragTo(TBTabBarControl *source, TBTabBarControl *over, QPoint point)
{
    const QPoint inSource = source->mapFromGlobal(over->mapToGlobal(point));
    QTest::mouseMove(source, inSource);
    for (int tick = 0; tick < 8; ++tick)
        assistant().animateDrag();
}

void dropAt(TBTabBarControl *source, TBTabBarControl *over, QPoint point)
{
    dragTo(source, over, point);
    QTest::mouseRelease(source, Qt::LeftButton, {}, source->mapFromGlobal(over->mapToGlobal(point)));
}

} // namespace

TEST(TBTabDrag, SineStepsAndPlaceholdersAroundTheGap)
{
    const std::vector<int> steps = TBTabDragAssistant::sineCurve(136, 130);
    ASSERT_EQ(steps.size(), 8u);
    EXPECT_EQ(steps[0], 0);
    EXPECT_EQ(steps[6], 116);                    // about 85 % of the cell and its gap
    EXPECT_EQ(steps[7], 130);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));

    BarWindow w;
    w.delegate.shouldDrag = true;
    w.addTabs({"A", "B", "C"});
    // A press and a move of under 10 points starts nothing.
    QTest::mousePress(w.bar, Qt::LeftButton, {}, cellCentre(w.bar->cells()[1]));
    QTest::mouseMove(w.bar, cellCentre(w.bar->cells()[1]) + QPoint(9, 0));
    EXPECT_FALSE(assistant().isDragging());
    QTest::mouseMove(w.bar, cellCentre(w.bar->cells()[1]) + QPoint(12, 0));
    ASSERT_TRUE(assistant().isDragging());
    EXPECT_EQ(assistant().draggedCell()->stringValue(), "B");
    EXPECT_EQ(assistant().draggedCellIndex(), 1);
    EXPECT_EQ(assistant().sineCurveWidths(), TBTabDragAssistant::sineCurve(136, 130));
    // A closed placeholder before each tab and after the last; B's own gap stays open.
    EXPECT_EQ(placeholderPattern(w.bar), (std::vector<bool>{true, false, true, false, true}));
    EXPECT_EQ(w.bar->cells()[2]->currentStep(), 7);
    EXPECT_EQ(w.bar->cells()[2]->width(), 130);
    EXPECT_EQ(w.bar->numberOfVisibleTabs(), 2);
    EXPECT_FALSE(assistant().tabWindow());       // no tear-off offered

    // Left of the margin the leading placeholder opens, one step per tick.
    dragTo(w.bar, w.bar, QPoint(2, 10));
    EXPECT_EQ(assistant().targetCell(), w.bar->cells()[0]);
    EXPECT_EQ(w.bar->cells()[0]->currentStep(), 7);
    EXPECT_EQ(w.bar->cells()[2]->currentStep(), 0);
    screenshot(*w.window, "drag-gap.png");
    QTest::mouseRelease(w.bar, Qt::LeftButton, {}, QPoint(2, 10));
    EXPECT_FALSE(assistant().isDragging());
    EXPECT_EQ(w.labels(), QStringList({"B", "A", "C"}));
    EXPECT_EQ(placeholderPattern(w.bar), std::vector<bool>(3, false));
}

TEST(TBTabDrag, ReorderWithinABarAndDropBackOnTheGap)
{
    BarWindow w;
    w.delegate.shouldDrag = true;
    w.addTabs({"A", "B", "C"});
    startDrag(w.bar, w.bar->cells()[0]);
    // Past the last tab: the trailing placeholder.
    dropAt(w.bar, w.bar, QPoint(450, 10));
    EXPECT_EQ(w.labels(), QStringList({"B", "C", "A"}));
    EXPECT_EQ(w.delegate.heard, QStringList({"dropped A"}));
    EXPECT_EQ(w.bar->cells()[2]->stringValue(), "A");
    // The moved tab still follows its label.
    w.tabView->itemAt(2)->setLabel("A2");
    EXPECT_EQ(w.bar->cells()[2]->stringValue(), "A2");

    w.delegate.heard.clear();
    TBTabBarCell *b = w.bar->cells()[0];
    startDrag(w.bar, b);
    dropAt(w.bar, w.bar, cellCentre(w.bar->cells()[0]));
    EXPECT_EQ(w.labels(), QStringList({"B", "C", "A2"}));
    EXPECT_TRUE(w.delegate.heard.isEmpty());
}

TEST(TBTabDrag, MovesATabIntoAnotherBar)
{
    BarWindow from, to;
    from.window->move(0, 0);
    to.window->move(0, 300);
    from.delegate.shouldDrag = true;
    from.addTabs({"A", "B", "C"});
    to.addTabs({"X", "Y"});
    startDrag(from.bar, from.bar->cells()[0]);
    dragTo(from.bar, to.bar, QPoint(450, 10));
    EXPECT_EQ(assistant().destinationTabBar(), to.bar);
    EXPECT_TRUE(assistant().isParticipating(to.bar));
    QTest::mouseRelease(from.bar, Qt::LeftButton, {}, from.bar->mapFromGlobal(to.bar->mapToGlobal(QPoint(450, 10))));

    EXPECT_EQ(from.labels(), QStringList({"B", "C"}));
    EXPECT_EQ(to.labels(), QStringList({"X", "Y", "A"}));
    EXPECT_EQ(to.tabView->selectedItem()->label(), "A");
    EXPECT_EQ(to.bar->cells().size(), 3u);
    EXPECT_EQ(to.bar->cells()[2]->controlView(), to.bar);
    EXPECT_TRUE(to.bar->cells()[2]->tabState() & TBTabState::Selected);
    EXPECT_EQ(from.delegate.heard, QStringList({"dropped A"}));
    EXPECT_EQ(from.bar->cells().size(), 2u);
}

TEST(TBTabDrag, TearsOffIntoANewWindowOrPutsTheTabBack)
{
    BarWindow w;
    w.delegate.shouldDrag = true;
    w.delegate.shouldTearOff = true;
    std::unique_ptr<BarWindow> made;
    w.delegate.newBar = [&made](TBTabViewItem *) {
        made = std::make_unique<BarWindow>(400);
        made->window->move(900, 900);
        return made->bar;
    };
    w.addTabs({"A", "B", "C"});
    startDrag(w.bar, w.bar->cells()[1]);
    ASSERT_TRUE(assistant().tabWindow());        // the tab's picture follows the pointer
    dropAt(w.bar, w.bar, QPoint(200, 300));
    ASSERT_TRUE(made);
    EXPECT_EQ(w.labels(), QStringList({"A", "C"}));
    EXPECT_EQ(made->labels(), QStringList({"B"}));
    EXPECT_EQ(made->bar->cells().size(), 1u);
    EXPECT_EQ(w.delegate.heard, QStringList({"dropped B"}));
    EXPECT_FALSE(assistant().tabWindow());

    // A delegate that makes no window gets the tab back where it was.
    w.delegate.heard.clear();
    w.delegate.newBar = [](TBTabViewItem *) { return nullptr; };
    startDrag(w.bar, w.bar->cells()[1]);
    dropAt(w.bar, w.bar, QPoint(200, 300));
    EXPECT_EQ(w.labels(), QStringList({"A", "C"}));
    ASSERT_EQ(w.bar->cells().size(), 2u);
    EXPECT_EQ(w.bar->cells()[1]->stringValue(), "C");
    EXPECT_EQ(w.bar->cells()[1]->representedItem(), w.tabView->itemAt(1));
    EXPECT_TRUE(w.delegate.heard.isEmpty());
}

TEST(TBTabDrag, ForeignDragsSpringLoadTabsAndUntakenDropsAreRefused)
{
    BarWindow w;
    w.addTabs({"A", "B", "C"});
    w.bar->springLoad(cellCentre(w.bar->cells()[2]));
    EXPECT_TRUE(w.bar->isSpringLoading());
    EXPECT_EQ(w.tabView->selectedItem()->label(), "A");
    QTRY_COMPARE_WITH_TIMEOUT(w.tabView->selectedItem()->label(), QStringLiteral("C"), 1000);
    // Outside every tab nothing springs.
    w.bar->springLoad(QPoint(2, 10));
    EXPECT_FALSE(w.bar->isSpringLoading());

    QMimeData data;
    data.setText("dropped text");
    QDropEvent drop(QPointF(cellCentre(w.bar->cells()[1])), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(w.bar, &drop);
    EXPECT_FALSE(drop.isAccepted());
}

TEST(TBTabDrag, TearOffStyleOneShowsAMiniatureOutsideTheBars)
{
    BarWindow w(500);
    w.window->move(0, 0);
    w.window->resize(500, 250);
    w.delegate.shouldDrag = true;
    w.delegate.shouldTearOff = true;
    w.bar->setTearOffStyle(1);
    std::unique_ptr<BarWindow> made;
    w.delegate.newBar = [&made](TBTabViewItem *) {
        made = std::make_unique<BarWindow>(300);
        return made->bar;
    };
    w.addTabs({"A", "B"});
    startDrag(w.bar, w.bar->cells()[0]);
    TBTabDragWindow *tab = assistant().tabWindow();
    ASSERT_TRUE(tab);
    screenshot(*tab, "tear-off-tab.png");
    dragTo(w.bar, w.bar, QPoint(200, 400));
    EXPECT_TRUE(tab->showingAlternate());
    EXPECT_EQ(tab->alternateImage().size(), QSize(125, 62));   // 500 x 250, scaled down
    QTRY_VERIFY(!tab->isAnimating());
    EXPECT_EQ(tab->size(), QSize(125, 62));
    screenshot(*tab, "tear-off-miniature.png");
    dragTo(w.bar, w.bar, QPoint(300, 10));
    EXPECT_FALSE(tab->showingAlternate());
    dropAt(w.bar, w.bar, QPoint(200, 400));
    ASSERT_TRUE(made);
    EXPECT_EQ(made->labels(), QStringList({"A"}));
    QWidget *placed = made->window.get();
    EXPECT_EQ(placed->pos() + QPoint(placed->width() / 2, placed->height() / 2), w.bar->mapToGlobal(QPoint(200, 400)));
    QTRY_COMPARE(made->window->windowOpacity(), 1.0);
}

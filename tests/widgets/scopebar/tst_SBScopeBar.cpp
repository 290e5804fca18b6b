// The scope bar offscreen: selection rules per group type, its notification, the exact
// exceptions, mouse tracking, pixels, and screenshots under test-artifacts/scopebar/.

#include <widgets/scopebar/SBScopeBar.h>

#include <KRWidgetTestSupport.h>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QImage>
#include <QMenu>
#include <QTest>

namespace {

struct Source : SBScopeBarDataSource
{
    std::vector<QStringList> titles{{"List", "Icons"}, {"All", "Controls", "Timers", "Data Sources"}};
    int numberOfObjectsInGroup(SBScopeBar *, int group) override { return int(titles[size_t(group)].size()); }
    QVariant valueForObject(SBScopeBar *, int group, int index) override { return titles[size_t(group)][index]; }
};

struct Delegate : SBScopeBarDelegate
{
    QStringList heard; // group identifiers, "-" for none
    QStringList refused;
    bool refuseCollapse = false;
    void scopeBarSelectionDidChange(const KRNotification &n) override
    {
        heard << n.userInfo.value(SBScopeBar::SelectionGroupIdentifierKey, QStringLiteral("-")).toString();
    }
    std::optional<bool> shouldSelectObject(SBScopeBar *, const QVariant &object) override
    {
        return !refused.contains(object.toString());
    }
    std::optional<bool> shouldCollapseGroup(SBScopeBar *, SBScopeBarGroup *) override
    {
        return refuseCollapse ? std::optional<bool>(false) : std::nullopt;
    }
};

// The object browser's bar: a radio display group and a multiple filter group with a label.
struct Bar
{
    Source source;
    Delegate delegate;
    SBScopeBar bar;
    SBScopeBarGroup *display;
    SBScopeBarGroup *filter;

    explicit Bar(int width = 600)
    {
        bar.setDataSource(&source);
        bar.setDelegate(&delegate);
        display = bar.addGroup();
        display->setIdentifier("displayTypeGroup");
        filter = bar.addGroup();
        filter->setIdentifier("objectTypeGroup");
        filter->setGroupSelectionStyle(SBScopeBarGroup::MultipleSelection);
        filter->setLabel("Show:");
        bar.resize(width, 25);
        bar.reloadData();
        bar.calcSize();
        delegate.heard.clear();
    }
    QPoint centreOf(int group, int object) { return bar.buttonRects(group)[size_t(object)].center(); }
};

void screenshot(QWidget &widget, const QString &name)
{
    KRTest::saveScreenshot(widget, QStringLiteral("scopebar"), name);
}

template <typename E, typename F>
std::string messageOf(F f)
{
    try {
        f();
    } catch (const E &e) {
        return e.what();
    }
    return "no exception";
}

} // namespace

TEST(SBScopeBar, firstGroupHasNoSeparatorAndRadioGroupsAreRepairedOnReload)
{
    Bar b;
    EXPECT_FALSE(b.display->showsSeparator());
    EXPECT_TRUE(b.filter->showsSeparator());
    EXPECT_TRUE(b.bar.separatorRect(0).isEmpty());
    EXPECT_EQ(b.bar.separatorRect(1).width(), 1);
    // Radio: one object on after reload; multiple: left empty.
    EXPECT_EQ(b.display->selectionIndexes(), std::set<int>{0});
    EXPECT_TRUE(b.filter->selectionIndexes().empty());

    // Emptied with the first object refused: the first one allowed is turned on at once.
    b.delegate.refused = {"List"};
    b.display->setSelectionIndexes({});
    EXPECT_EQ(b.display->selectionIndexes(), std::set<int>{1});
    // Several on in a radio group: the lowest stays.
    b.delegate.refused.clear();
    b.display->setSelectionIndexes({0, 1});
    EXPECT_EQ(b.display->selectionIndexes(), std::set<int>{0});
}

TEST(SBScopeBar, clicksFollowTheSelectionStyleAndNotifyOnlyRealChanges)
{
    Bar b;
    // Radio: clicking the object that is on keeps it on, silently.
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.centreOf(0, 0));
    EXPECT_EQ(b.display->selectionIndexes(), std::set<int>{0});
    EXPECT_TRUE(b.delegate.heard.isEmpty());
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.centreOf(0, 1));
    EXPECT_EQ(b.display->selectedObject(), QVariant("Icons"));
    EXPECT_EQ(b.delegate.heard, QStringList{"displayTypeGroup"});

    // Multiple: clicks toggle, each one notifies.
    b.bar.calcSize();
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.centreOf(1, 1));
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.centreOf(1, 3));
    EXPECT_EQ(b.filter->selectedObjects(), (QVariantList{"Controls", "Data Sources"}));
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.centreOf(1, 1));
    EXPECT_EQ(b.filter->selectionIndexes(), std::set<int>{3});
    EXPECT_EQ(b.delegate.heard.size(), 4);

    // Selecting what is already on posts nothing, in either style.
    b.delegate.heard.clear();
    b.filter->selectObjectWithIndex(3);
    b.display->selectObjectWithIndex(1);
    EXPECT_TRUE(b.delegate.heard.isEmpty());

    // A refused object is not turned on by a click.
    b.delegate.refused = {"Timers"};
    QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.centreOf(1, 2));
    EXPECT_EQ(b.filter->selectionIndexes(), std::set<int>{3});
}

// Assistive tools see each shown button, named by its title, on or off, and press it through
// its action under the same rules as a click.
TEST(SBScopeBar, buttonsAreNamedTogglesForAssistiveTools)
{
    Bar b;
    b.bar.show();
    QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(&b.bar);
    ASSERT_TRUE(bar);
    QStringList names;
    QAccessibleInterface *controls = nullptr;
    for (int i = 0; i < bar->childCount(); ++i) {
        QAccessibleInterface *button = bar->child(i);
        ASSERT_TRUE(button);
        EXPECT_EQ(bar->indexOfChild(button), i);
        EXPECT_EQ(button->role(), QAccessible::Button);
        EXPECT_TRUE(button->state().checkable);
        names << button->text(QAccessible::Name);
        if (button->text(QAccessible::Name) == QLatin1String("Controls"))
            controls = button;
    }
    EXPECT_EQ(names, (QStringList{"List", "Icons", "All", "Controls", "Timers", "Data Sources"}));
    EXPECT_TRUE(bar->child(0)->state().checked);
    EXPECT_FALSE(bar->child(1)->state().checked);
    EXPECT_EQ(bar->child(1)->rect().center(), b.bar.mapToGlobal(b.centreOf(0, 1)));
    EXPECT_EQ(bar->childAt(bar->child(1)->rect().center().x(), bar->child(1)->rect().center().y()), bar->child(1));

    ASSERT_TRUE(controls && controls->actionInterface());
    controls->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(b.filter->selectionIndexes(), std::set<int>{1});
    EXPECT_TRUE(controls->state().checked);
    EXPECT_EQ(b.delegate.heard, QStringList{"objectTypeGroup"});
    b.delegate.refused = {"Timers"};
    bar->child(4)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(b.filter->selectionIndexes(), std::set<int>{1});
}

TEST(SBScopeBar, selectObjectComparesByValueAndTheDelegateHearsOnlyItsOwnBar)
{
    Bar first;
    Bar second;
    // A title built at run time, not the data source's own string.
    first.filter->selectObject(QVariant(QString("Tim") + QString("ers")));
    EXPECT_EQ(first.filter->selectionIndexes(), std::set<int>{2});
    EXPECT_EQ(first.delegate.heard, QStringList{"objectTypeGroup"});
    EXPECT_TRUE(second.delegate.heard.isEmpty());

    // Without an identifier the notification carries no key; another delegate takes over.
    first.display->setIdentifier(QString());
    Delegate other;
    first.bar.setDelegate(&other);
    first.display->selectObjectWithIndex(1);
    EXPECT_EQ(other.heard, QStringList{"-"});
    EXPECT_EQ(first.delegate.heard.size(), 1);
}

TEST(SBScopeBar, badIndexesAndForeignObjectsThrowTheirMessages)
{
    Bar b;
    using range = std::out_of_range;
    EXPECT_EQ(messageOf<range>([&] { b.filter->objectAtIndex(4); }), "SBScopeBarGroup:objectAtIndex: objectIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.filter->didClickObject(-1); }),
              "SBScopeBarGroup:didClickObject_:alwaysSetToOnState: objectIndex invalid");
    EXPECT_EQ(messageOf<std::invalid_argument>([&] { b.filter->selectObject("Pages"); }),
              "SBScopeBarGroup:selectObject theObject not a member of this group");
    EXPECT_EQ(messageOf<range>([&] { b.filter->selectObjectWithIndex(9); }),
              "SBScopeBarGroup:selectObjectWithIndex: objectIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.insertGroup(std::make_unique<SBScopeBarGroup>(), 3); }),
              "SBScopeBar:insertGroup:atIndex: groupIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.removeGroupAtIndex(2); }), "SBScopeBar:removeGroup:atIndex: groupIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.moveGroupWithIndex(2, 0); }),
              "SBScopeBar:moveGroupWithIndex:toIndex: originalIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.moveGroupWithIndex(0, 2); }),
              "SBScopeBar:moveGroupWithIndex:toIndex: destinationIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.reloadDataForGroup(5); }), "SBScopeBar:reloadDataForGroup: groupIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.preparedButtonCellForGroup(2, 0); }),
              "SBScopeBar:preparedButtonCellForGroup:object: groupIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.preparedButtonCellForGroup(0, 2); }),
              "SBScopeBar:preparedButtonCellForGroup:object: objectIndex invalid");
    EXPECT_EQ(messageOf<range>([&] { b.bar.preparedPopUpCellForGroup(-1); }),
              "SBScopeBar:preparedPopUpCellForGroup: groupIndex invalid");
    // The checks come before any change.
    EXPECT_EQ(b.bar.numberOfGroups(), 2);
    EXPECT_EQ(b.filter->selectionIndexes(), std::set<int>{});
}

TEST(SBScopeBar, draggingOutOfAButtonCancelsAndBackInClicks)
{
    Bar b;
    const QRect button = b.bar.buttonRects(0)[1];
    QTest::mousePress(&b.bar, Qt::LeftButton, {}, button.center());
    QTest::mouseMove(&b.bar, QPoint(button.center().x(), 40));
    QTest::mouseRelease(&b.bar, Qt::LeftButton, {}, QPoint(button.center().x(), 40));
    EXPECT_EQ(b.display->selectionIndexes(), std::set<int>{0});

    QTest::mousePress(&b.bar, Qt::LeftButton, {}, button.center());
    QTest::mouseMove(&b.bar, QPoint(button.center().x(), 40));
    QTest::mouseMove(&b.bar, button.center() + QPoint(2, 0));
    QTest::mouseRelease(&b.bar, Qt::LeftButton, {}, button.center() + QPoint(2, 0));
    EXPECT_EQ(b.display->selectionIndexes(), std::set<int>{1});
}

TEST(SBScopeBar, collapsedGroupsAndTheOverflowMenuOfferTheirObjects)
{
    Bar b(330);
    EXPECT_TRUE(b.filter->isCollapsed());
    EXPECT_EQ(b.bar.preparedPopUpCellForGroup(1).title, "objectTypeGroup");
    b.filter->setSelectionIndexes({1, 2});
    EXPECT_EQ(b.bar.preparedPopUpCellForGroup(1).title, "<Multiple>");
    b.filter->setMultipleSelectionPlaceholder("Several");
    EXPECT_EQ(b.bar.preparedPopUpCellForGroup(1).title, "Several");

    // A click on the pop-up opens the group's menu, its states checked; a choice toggles.
    b.bar.calcSize();
    QTest::mousePress(&b.bar, Qt::LeftButton, {}, b.bar.buttonStripRect(1).center());
    auto *menu = b.bar.findChild<QMenu *>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_TRUE(menu->actions()[1]->isChecked());
    EXPECT_FALSE(menu->actions()[3]->isChecked());
    menu->actions()[1]->trigger();
    EXPECT_EQ(b.filter->selectionIndexes(), std::set<int>{2});

    // Too narrow for the pop-ups: the filter group's objects sit in the overflow menu, which
    // lists them without an entry for its own face.
    b.delegate.refuseCollapse = true;
    b.bar.resize(200, 25);
    b.bar.calcSize();
    EXPECT_FALSE(b.display->isCollapsed());
    EXPECT_EQ(b.bar.overflowMenuTitles(), (QStringList{"All", "Controls", "Timers", "Data Sources"}));
    QTest::mousePress(&b.bar, Qt::LeftButton, {}, b.bar.currentLayout().overflowRect.center());
    menu = b.bar.findChild<QMenu *>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_EQ(menu->actions()[3]->text(), "Data Sources");
    menu->actions()[3]->trigger();
    EXPECT_EQ(b.filter->selectionIndexes(), (std::set<int>{2, 3}));
    b.delegate.refused = {"All"};
    menu->actions()[0]->trigger();
    EXPECT_EQ(b.filter->selectionIndexes(), (std::set<int>{2, 3}));
}

TEST(SBScopeBar, paintsItsGradientBorderAndSelectedButton)
{
    EXPECT_FALSE(QImage(":/scopebar/overflowImage.png").isNull());
    EXPECT_FALSE(QImage(":/scopebar/overflowImage@2x.png").isNull());

    Bar b;
    const QImage image = KRTest::renderWidget(b.bar);
    // Light at the top, darker at the bottom, a border line along the bottom edge.
    EXPECT_NEAR(qGray(image.pixel(2, 0)), 238, 4);
    EXPECT_NEAR(qGray(image.pixel(2, 23)), 206, 4);
    EXPECT_NEAR(qGray(image.pixel(2, 24)), 153, 2);
    // The button that is on is filled darker than the one that is off, away from the title.
    const QRect on = b.bar.buttonRects(0)[0];
    const QRect off = b.bar.buttonRects(0)[1];
    EXPECT_LT(qGray(image.pixel(on.left() + 4, on.center().y())) + 40,
              qGray(image.pixel(off.left() + 4, off.center().y())));
}

// Built as the object browser builds its bar: both groups made by the caller and inserted, so
// that the first one carries a separator flag of its own.
TEST(SBScopeBar, screenshotsAtSeveralWidthsShowNoSeparatorBeforeTheFirstGroup)
{
    for (int width : {600, 470, 330, 200, 150}) {
        Source source;
        Delegate delegate;
        SBScopeBar bar;
        bar.setDataSource(&source);
        bar.setDelegate(&delegate);
        bar.insertGroup(std::make_unique<SBScopeBarGroup>("displayTypeGroup", SBScopeBarGroup::RadioSelection), 0);
        auto filter = std::make_unique<SBScopeBarGroup>("objectTypeGroup", SBScopeBarGroup::MultipleSelection);
        filter->setLabel("Show:");
        bar.insertGroup(std::move(filter), 1);
        ASSERT_TRUE(bar.groupAtIndex(0)->showsSeparator());
        bar.resize(width, 25);
        bar.reloadData();
        bar.groupAtIndex(1)->setSelectionIndexes({1, 3});
        delegate.refuseCollapse = width == 150;
        bar.adjustSubviews();
        bar.calcSize();
        screenshot(bar, QStringLiteral("scopebar-%1.png").arg(width));

        const QImage image = KRTest::renderWidget(bar);
        const int middle = image.height() / 2;
        EXPECT_TRUE(bar.separatorRect(0).isEmpty()) << width;
        // Nothing as dark as a separator between the bar's left end and the first buttons,
        // which start at the group's left edge.
        const QRect strip = bar.buttonStripRect(0);
        if (!bar.buttonRects(0).empty())
            EXPECT_EQ(strip.left(), bar.groupFrame(0).left()) << width;
        for (int x = 0; x < strip.left(); ++x)
            EXPECT_GT(qGray(image.pixel(x, middle)), 150) << "a line at x " << x << " of the bar " << width << " wide";
        // The second group's separator is drawn where it is placed, unless the whole group
        // went to the overflow menu.
        const QRect separator = bar.separatorRect(1);
        if (bar.currentLayout().groups[1].peeled < int(source.titles[1].size()))
            EXPECT_NEAR(qGray(image.pixel(separator.x(), separator.center().y())), 117, 12) << width;
    }
    // The mouse over an off button, and pressed on another, drawn darker than when left alone.
    Bar b;
    b.filter->setSelectionIndexes({1});
    b.bar.calcSize();
    const QPoint pressed = b.centreOf(1, 3);
    const auto fill = [&](const QImage &image) {
        return qGray(image.pixel(pressed.x(), b.bar.buttonRects(1)[3].top() + 2));
    };
    const int alone = fill(KRTest::renderWidget(b.bar));
    QTest::mouseMove(&b.bar, b.centreOf(1, 2));
    screenshot(b.bar, QStringLiteral("scopebar-hover.png"));
    QTest::mousePress(&b.bar, Qt::LeftButton, {}, pressed);
    screenshot(b.bar, QStringLiteral("scopebar-pressed.png"));
    EXPECT_LT(fill(KRTest::renderWidget(b.bar)) + 10, alone);
    QTest::mouseRelease(&b.bar, Qt::LeftButton, {}, pressed);
}

#include <platform/foundation/KRUndoManager.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <memory>

namespace {

// Lets the posted end-of-turn work run: the automatic group closes here.
void endEventLoopTurn()
{
    QCoreApplication::processEvents();
}

// A value whose setter records its inverse through the normal setter, as model objects do;
// so undo registers redo without any extra code.
struct Value
{
    KRUndoManager &undoManager;
    QString name;
    int value = 0;
    QStringList *log = nullptr;

    void set(int newValue)
    {
        const int old = value;
        undoManager.registerUndo(this, [this, old] { set(old); });
        value = newValue;
        if (log)
            log->append(QStringLiteral("%1=%2").arg(name).arg(newValue));
    }
};

// Sets each value in an event-loop turn of its own: one undo step each.
void setInTurns(Value &v, std::initializer_list<int> values)
{
    for (int value : values) {
        v.set(value);
        endEventLoopTurn();
    }
}

} // namespace

TEST(KRUndoManager, GroupsEverythingOfOneEventLoopTurn)
{
    KRUndoManager um;
    Value a{um, "a"};
    Value b{um, "b"};

    // two changes in one turn: one open group, nothing recorded yet
    a.set(1);
    b.set(1);
    EXPECT_EQ(um.groupingLevel(), 1);
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_TRUE(um.canUndo());

    // end of the turn closes the group: one step
    endEventLoopTurn();
    EXPECT_EQ(um.groupingLevel(), 0);
    EXPECT_EQ(um.undoCount(), 1);

    // a change in the next turn is a second step
    a.set(2);
    endEventLoopTurn();
    EXPECT_EQ(um.undoCount(), 2);

    // undo takes back the second turn only
    um.undo();
    EXPECT_EQ(a.value, 1);
    EXPECT_EQ(b.value, 1);
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_EQ(um.redoCount(), 1);

    // then the first turn, both values together
    um.undo();
    EXPECT_EQ(a.value, 0);
    EXPECT_EQ(b.value, 0);
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_EQ(um.redoCount(), 2);
    EXPECT_FALSE(um.canUndo());
}

TEST(KRUndoManager, UndoRecordsRedoAndRedoRecordsUndo)
{
    KRUndoManager um;
    Value v{um, "v"};
    setInTurns(v, {1, 2});
    ASSERT_EQ(um.undoCount(), 2);

    // undo: the inverse registered while undoing becomes the redo step
    um.undo();
    EXPECT_EQ(v.value, 1);
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_EQ(um.redoCount(), 1);
    EXPECT_TRUE(um.canRedo());

    // redo: its inverse goes back onto the undo side, the redo side keeps the rest
    um.redo();
    EXPECT_EQ(v.value, 2);
    EXPECT_EQ(um.undoCount(), 2);
    EXPECT_EQ(um.redoCount(), 0);

    // and round again: undo after redo still works
    um.undo();
    um.undo();
    EXPECT_EQ(v.value, 0);
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_EQ(um.redoCount(), 2);
    um.redo();
    EXPECT_EQ(v.value, 1);
    EXPECT_EQ(um.undoCount(), 1);
    EXPECT_EQ(um.redoCount(), 1);

    // a new change drops what could have been redone
    v.set(5);
    EXPECT_FALSE(um.canRedo());
    EXPECT_EQ(um.redoCount(), 0);
    endEventLoopTurn();
    EXPECT_EQ(um.undoCount(), 2);
    um.undo();
    EXPECT_EQ(v.value, 1);
}

TEST(KRUndoManager, UndoClosesTheOpenAutomaticGroupFirst)
{
    KRUndoManager um;
    Value v{um, "v"};
    v.set(1);
    v.set(2);
    // no turn ended: undo closes the group and takes back both changes
    um.undo();
    EXPECT_EQ(v.value, 0);
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_EQ(um.redoCount(), 1);
    // the end-of-turn work finds nothing left to close
    endEventLoopTurn();
    EXPECT_EQ(um.redoCount(), 1);
    um.redo();
    EXPECT_EQ(v.value, 2);
}

TEST(KRUndoManager, NestedExplicitGroupsFormOneStepUndoneInReverseOrder)
{
    KRUndoManager um;
    um.setGroupsByEvent(false);
    QStringList log;
    Value a{um, "a", 0, &log};
    Value b{um, "b", 0, &log};

    um.beginUndoGrouping();
    a.set(1);
    um.beginUndoGrouping();
    b.set(1);
    a.set(2);
    um.endUndoGrouping();
    // inner group closed: still nothing recorded, level back to 1
    EXPECT_EQ(um.groupingLevel(), 1);
    EXPECT_EQ(um.undoCount(), 0);
    um.endUndoGrouping();
    EXPECT_EQ(um.undoCount(), 1);

    // one undo runs the three inverses, latest first
    log.clear();
    um.undo();
    EXPECT_EQ(log, (QStringList{"a=1", "b=0", "a=0"}));
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_EQ(um.redoCount(), 1);

    // and one redo replays them forwards again
    log.clear();
    um.redo();
    EXPECT_EQ(log, (QStringList{"a=1", "b=1", "a=2"}));
    EXPECT_EQ(a.value, 2);
    EXPECT_EQ(b.value, 1);
}

TEST(KRUndoManager, ExplicitGroupInsideATurnJoinsTheTurnsStep)
{
    KRUndoManager um;
    Value v{um, "v"};
    v.set(1);
    um.beginUndoGrouping();
    EXPECT_EQ(um.groupingLevel(), 2);
    v.set(2);
    um.endUndoGrouping();
    v.set(3);
    endEventLoopTurn();
    EXPECT_EQ(um.undoCount(), 1);
    um.undo();
    EXPECT_EQ(v.value, 0);
}

TEST(KRUndoManager, NestedEventLoopInsideAnExplicitGroupKeepsOneStep)
{
    KRUndoManager um;
    Value v{um, "v"};
    um.beginUndoGrouping();
    v.set(1);
    // a modal question runs a nested loop: the turn's end must not cut the open command
    endEventLoopTurn();
    EXPECT_EQ(um.groupingLevel(), 2);
    EXPECT_EQ(um.undoCount(), 0);
    v.set(2);
    um.endUndoGrouping();
    // the automatic group closes at the end of the next turn instead
    EXPECT_EQ(um.groupingLevel(), 1);
    endEventLoopTurn();
    EXPECT_EQ(um.groupingLevel(), 0);
    EXPECT_EQ(um.undoCount(), 1);
    um.undo();
    EXPECT_EQ(v.value, 0);
}

TEST(KRUndoManager, EmptyGroupsLeaveNoStep)
{
    KRUndoManager um;
    um.beginUndoGrouping();
    um.endUndoGrouping();
    endEventLoopTurn();
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_FALSE(um.canUndo());
}

TEST(KRUndoManager, ActionNamesFollowTheStepToRedoAndBack)
{
    KRUndoManager um;
    Value v{um, "v"};
    EXPECT_EQ(um.undoMenuItemTitle(), "Undo");

    // a command names its group; a nested command that names only unnamed groups keeps it
    um.beginUndoGrouping();
    um.setActionName("Cut");
    um.beginUndoGrouping();
    if (um.undoActionName().isEmpty())
        um.setActionName("Delete");
    v.set(1);
    um.endUndoGrouping();
    um.endUndoGrouping();
    EXPECT_EQ(um.undoActionName(), "Cut");
    endEventLoopTurn();
    EXPECT_EQ(um.undoActionName(), "Cut");
    EXPECT_EQ(um.undoMenuItemTitle(), "Undo Cut");

    // undo moves the name to the redo side
    um.undo();
    EXPECT_EQ(um.undoActionName(), "");
    EXPECT_EQ(um.redoActionName(), "Cut");
    EXPECT_EQ(um.redoMenuItemTitle(), "Redo Cut");

    // and redo back again
    um.redo();
    EXPECT_EQ(um.undoActionName(), "Cut");
    EXPECT_EQ(um.redoActionName(), "");

    // with no group open the name goes to the latest step
    um.setActionName("Cut Button");
    EXPECT_EQ(um.undoActionName(), "Cut Button");
}

// The closures of a step do what other commands do, naming included: undoing a creation
// deletes (and names "Delete" when nothing is named yet), redoing a deletion deletes again
// (and names it outright). The steps they record keep the name of the step they reverse.
TEST(KRUndoManager, ReplayedStepsKeepTheirNamesWhateverTheClosuresName)
{
    KRUndoManager um;
    int objects = 0;
    std::function<void()> create;
    std::function<void()> remove = [&] {
        um.beginUndoGrouping();
        if (um.undoActionName().isEmpty())
            um.setActionName("Delete");
        --objects;
        um.registerUndo(&objects, create);
        um.endUndoGrouping();
    };
    create = [&] {
        ++objects;
        um.registerUndo(&objects, remove);
        um.setActionName("Create Page");
    };

    um.beginUndoGrouping();
    um.setActionName("Create Button");
    ++objects;
    um.registerUndo(&objects, remove);
    um.endUndoGrouping();
    endEventLoopTurn();

    um.undo();
    EXPECT_EQ(objects, 0);
    EXPECT_EQ(um.redoMenuItemTitle(), "Redo Create Button");
    um.redo();
    EXPECT_EQ(objects, 1);
    EXPECT_EQ(um.undoMenuItemTitle(), "Undo Create Button");
    um.undo();
    EXPECT_EQ(um.redoMenuItemTitle(), "Redo Create Button");

    // an unnamed step takes the name its closures give it
    um.redo();
    remove();
    endEventLoopTurn();
    ASSERT_EQ(um.undoActionName(), "Delete");
    um.setActionName("");
    um.undo();
    EXPECT_EQ(um.redoActionName(), "Create Page");
}

TEST(KRUndoManager, RemoveAllActionsWithTargetDropsStepsLeftEmpty)
{
    KRUndoManager um;
    QStringList log;
    Value editor{um, "editor", 0, &log};
    Value page{um, "page", 0, &log};

    // step 1: editor only; step 2: editor and page; step 3: page only
    editor.set(1);
    endEventLoopTurn();
    editor.set(2);
    page.set(2);
    endEventLoopTurn();
    page.set(3);
    endEventLoopTurn();
    // step 4 becomes a redo step: editor only
    editor.set(4);
    endEventLoopTurn();
    um.undo();
    log.clear();
    ASSERT_EQ(um.undoCount(), 3);
    ASSERT_EQ(um.redoCount(), 1);

    // removing the editor's actions: step 1 and the redo step vanish, step 2 keeps the page
    um.removeAllActionsWithTarget(&editor);
    EXPECT_EQ(um.undoCount(), 2);
    EXPECT_EQ(um.redoCount(), 0);

    // undo twice touches the page only
    um.undo();
    um.undo();
    EXPECT_EQ(log, (QStringList{"page=2", "page=0"}));
    EXPECT_EQ(editor.value, 2);
    EXPECT_FALSE(um.canUndo());
}

TEST(KRUndoManager, RemoveAllActionsClearsBothSides)
{
    KRUndoManager um;
    Value v{um, "v"};
    setInTurns(v, {1, 2});
    um.undo();
    um.removeAllActions();
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_EQ(um.redoCount(), 0);
    EXPECT_FALSE(um.canUndo());
    EXPECT_FALSE(um.canRedo());
}

TEST(KRUndoManager, DisabledRegistrationRecordsNothingAndNests)
{
    KRUndoManager um;
    Value v{um, "v"};
    um.disableUndoRegistration();
    um.disableUndoRegistration();
    v.set(1);
    um.enableUndoRegistration();
    // one enable of two: still off
    EXPECT_FALSE(um.isUndoRegistrationEnabled());
    v.set(2);
    um.enableUndoRegistration();
    EXPECT_TRUE(um.isUndoRegistrationEnabled());
    endEventLoopTurn();
    EXPECT_EQ(um.undoCount(), 0);
    EXPECT_FALSE(um.canUndo());

    v.set(3);
    endEventLoopTurn();
    um.undo();
    EXPECT_EQ(v.value, 2);
}

TEST(KRUndoManager, ChangeCountMarksTheDocumentsState)
{
    KRUndoManager um;
    Value v{um, "v"};
    EXPECT_EQ(um.changeCount(), 0);

    // do, do: 1, 2
    v.set(1);
    EXPECT_EQ(um.changeCount(), 1);
    endEventLoopTurn();
    v.set(2);
    endEventLoopTurn();
    EXPECT_EQ(um.changeCount(), 2);
    const auto savedAt = um.changeCount();

    // undo goes back to 1, redo forwards to the saved state again
    um.undo();
    EXPECT_EQ(um.changeCount(), 1);
    EXPECT_NE(um.changeCount(), savedAt);
    um.redo();
    EXPECT_EQ(um.changeCount(), savedAt);

    // undo to the start is the untouched state 0
    um.undo();
    um.undo();
    EXPECT_EQ(um.changeCount(), 0);

    // a different change from there never looks like a saved state
    v.set(7);
    endEventLoopTurn();
    EXPECT_NE(um.changeCount(), 1);
    EXPECT_NE(um.changeCount(), savedAt);
    um.undo();
    EXPECT_EQ(um.changeCount(), 0);
}

TEST(KRUndoManager, SignalsUndoRedoAndClosedGroups)
{
    KRUndoManager um;
    Value v{um, "v"};
    int undos = 0, redos = 0, closes = 0, changes = 0;
    bool undoingDuringUndo = false;
    QObject::connect(&um, &KRUndoManager::didUndo, [&] { ++undos; });
    QObject::connect(&um, &KRUndoManager::didRedo, [&] { ++redos; });
    QObject::connect(&um, &KRUndoManager::didCloseUndoGroup, [&] { ++closes; });
    QObject::connect(&um, &KRUndoManager::changed, [&] { ++changes; });
    um.registerUndo(&v, [&] { undoingDuringUndo = um.isUndoing(); });

    endEventLoopTurn();
    EXPECT_EQ(closes, 1);
    um.undo();
    EXPECT_TRUE(undoingDuringUndo);
    EXPECT_FALSE(um.isUndoing());
    EXPECT_EQ(undos, 1);
    EXPECT_EQ(redos, 0);
    // the undo registered nothing: nothing to redo, and no new step was closed
    EXPECT_FALSE(um.canRedo());
    um.redo();
    EXPECT_EQ(redos, 0);
    EXPECT_EQ(closes, 1);
    EXPECT_GT(changes, 0);
}

TEST(KRUndoManager, LevelsOfUndoDropTheOldestSteps)
{
    KRUndoManager um;
    um.setLevelsOfUndo(2);
    Value v{um, "v"};
    setInTurns(v, {1, 2, 3});
    EXPECT_EQ(um.undoCount(), 2);
    um.undo();
    um.undo();
    EXPECT_EQ(v.value, 1);
    EXPECT_FALSE(um.canUndo());
}

TEST(KRUndoManager, ActionsKeepWhatTheyCaptureAlive)
{
    KRUndoManager um;
    auto deletedObject = std::make_shared<QString>("button1");
    std::weak_ptr<QString> watch = deletedObject;
    um.registerUndo(deletedObject, [deletedObject] {});
    deletedObject.reset();
    endEventLoopTurn();
    // only the undo step holds it now
    EXPECT_FALSE(watch.expired());
    um.removeAllActions();
    EXPECT_TRUE(watch.expired());
}

namespace {
// An object that takes its own actions out of the history when it goes away.
struct SelfRemoving
{
    KRUndoManager *um;
    ~SelfRemoving() { um->removeAllActionsWithTarget(this); }
};
} // namespace

TEST(KRUndoManager, DestroyingActionsMayCallBackIntoTheManager)
{
    // step 1 and a redo step each hold the only reference to a self-removing object
    auto um = std::make_unique<KRUndoManager>();
    auto first = std::make_shared<SelfRemoving>(SelfRemoving{um.get()});
    um->registerUndo(first.get(), [first] {});
    endEventLoopTurn();
    auto second = std::make_shared<SelfRemoving>(SelfRemoving{um.get()});
    um->registerUndo(second.get(), [second] {});
    first.reset();
    second.reset();
    endEventLoopTurn();
    ASSERT_EQ(um->undoCount(), 2);

    // removing a target destroys the other objects' closures only after the history is whole
    um->removeAllActions();
    EXPECT_EQ(um->undoCount(), 0);

    auto third = std::make_shared<SelfRemoving>(SelfRemoving{um.get()});
    um->registerUndo(third.get(), [third] {});
    third.reset();
    endEventLoopTurn();
    // and the manager's own destruction survives the call back too
    um.reset();
}

TEST(KRUndoManagerDeathTest, EndingAGroupThatWasNeverBegunIsFatal)
{
    KRUndoManager um;
    EXPECT_DEATH(um.endUndoGrouping(), "endUndoGrouping without a matching beginUndoGrouping");
    // the automatic group of a turn is not the caller's to end
    um.registerUndo(&um, [] {});
    EXPECT_DEATH(um.endUndoGrouping(), "endUndoGrouping without a matching beginUndoGrouping");
}

#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// A document's undo history.
//
// Actions are closures registered with a target identity. What a closure captures stays
// alive as long as the action is in the history, so a deleted page or object survives in
// the closure that brings it back. Registering while undoing records a redo action, and
// registering while redoing records an undo action: an undo closure that performs the
// inverse change through the model's normal setter, which registers again, makes redo work
// with no extra code.
//
// Actions are collected in groups; undo and redo always act on a whole group, running its
// closures in reverse order of registration. With groupsByEvent (the default) the first
// registration or beginUndoGrouping outside any group opens an automatic group that closes
// at the end of the current event-loop turn, so everything one user event does is one undo
// step. Explicit groups nest inside it; a nested group's actions and action name become the
// outermost group's. An empty group leaves no step.
//
// changeCount() names the document's state in the history: equal counts mean the same
// state. A document is dirty exactly when the count differs from the count at its last save.
// It grows with each new step and with redo and goes back with undo; a step recorded after
// undoing gets a fresh number, so a save point that can no longer be reached never matches.
//
// Main thread only.
class KRUndoManager : public QObject
{
    Q_OBJECT

public:
    using Action = std::function<void()>;

    explicit KRUndoManager(QObject *parent = nullptr);
    ~KRUndoManager() override;

    // Records an action for the target (identity only). Ignored while registration is
    // disabled. Outside undo and redo it clears the redo history.
    void registerUndo(const void *target, Action action);
    // Same, keeping the target alive for as long as the action is recorded.
    template <typename T>
    void registerUndo(const std::shared_ptr<T> &target, Action action)
    {
        registerUndoImpl(static_cast<const void *>(target.get()),
                         std::shared_ptr<const void>(target), std::move(action));
    }

    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const { return m_groupingLevel; }
    bool groupsByEvent() const { return m_groupsByEvent; }
    void setGroupsByEvent(bool on) { m_groupsByEvent = on; }

    // Steps kept in each direction; 0 (the default) is no limit. The oldest steps go first.
    int levelsOfUndo() const { return m_levelsOfUndo; }
    void setLevelsOfUndo(int levels);

    // Closes a group still open at level one (the automatic one), then undoes the latest step.
    void undo();
    void redo();
    // Undoes the latest step; no group may be open.
    void undoNestedGroup();

    bool canUndo() const;
    bool canRedo() const;
    bool isUndoing() const { return m_mode == Mode::Undoing; }
    bool isRedoing() const { return m_mode == Mode::Redoing; }
    // Recorded steps (an open group is not counted until it closes).
    int undoCount() const { return static_cast<int>(m_undoStack.size()); }
    int redoCount() const { return static_cast<int>(m_redoStack.size()); }

    void removeAllActions();
    // Removes the target's actions from every step; steps left empty disappear.
    void removeAllActionsWithTarget(const void *target);

    // Nested: registration is on again after as many enables as disables.
    void disableUndoRegistration();
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const { return m_disableCount == 0; }

    // Names the open group, or the latest step when no group is open. The redo step of an
    // undone step keeps its name (and the undo step of a redone one): what the closures name
    // while they run names only a step that had no name.
    void setActionName(const QString &name);
    QString undoActionName() const;
    QString redoActionName() const;
    void setActionIsDiscardable(bool discardable);
    bool undoActionIsDiscardable() const;
    bool redoActionIsDiscardable() const;
    // "Undo" or "Undo <name>"; "Redo" or "Redo <name>".
    QString undoMenuItemTitle() const { return undoMenuTitleForUndoActionName(undoActionName()); }
    QString redoMenuItemTitle() const { return redoMenuTitleForUndoActionName(redoActionName()); }
    static QString undoMenuTitleForUndoActionName(const QString &name);
    static QString redoMenuTitleForUndoActionName(const QString &name);

    std::int64_t changeCount() const { return m_changeCount; }
    // The document was saved at the current count while a group is still open: the group's
    // next change gets a fresh count, so a change made after the save never reads as saved.
    void markSavePoint();

signals:
    // undo() or redo() is about to run: a caller still holding an explicit group open for a
    // late part of the latest action ends it now.
    void willUndoOrRedo();
    void didUndo();
    void didRedo();
    // A new step was recorded (not by undo or redo).
    void didCloseUndoGroup();
    // Anything a menu shows may have changed: can undo/redo, names, change count.
    void changed();

private:
    enum class Mode { Normal, Undoing, Redoing };

    struct Item
    {
        const void *target = nullptr;
        std::shared_ptr<const void> keepAlive;
        Action action;
    };

    struct Group
    {
        std::vector<Item> items;
        QString actionName;
        bool discardable = false;
        bool numbered = false;
        bool renumber = false; // a save point was taken after the group's first change
        std::int64_t countBefore = 0; // change count before the step was done
        std::int64_t countAfter = 0;  // and after
    };
    using Stack = std::vector<std::unique_ptr<Group>>;

    void registerUndoImpl(const void *target, std::shared_ptr<const void> keepAlive, Action action);
    void openAutomaticGroup();
    void scheduleAutomaticClose();
    void automaticCloseDue();
    void closeOutermostGroup(Stack &graveyard);
    void push(Stack &stack, std::unique_ptr<Group> group, Stack &graveyard);
    void replay(std::unique_ptr<Group> group, Mode mode);
    Group *pendingUndoGroup() const;

    Stack m_undoStack; // latest step last
    Stack m_redoStack;
    std::unique_ptr<Group> m_openGroup;
    int m_groupingLevel = 0;
    bool m_outermostIsInternal = false; // opened automatically or by undo/redo, not by a caller
    bool m_outermostIsAutomatic = false;
    bool m_automaticCloseScheduled = false;
    bool m_automaticCloseDue = false; // the turn ended while explicit groups were still open
    bool m_groupsByEvent = true;
    int m_disableCount = 0;
    int m_levelsOfUndo = 0;
    Mode m_mode = Mode::Normal;
    std::int64_t m_changeCount = 0;
    std::int64_t m_lastIssuedCount = 0;
};

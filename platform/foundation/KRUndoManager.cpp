#include "KRUndoManager.h"

#include <platform/foundation/KRAssert.h>

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

// Closures are destroyed only after the manager's state is consistent again: destroying one
// may destroy a model object whose destructor calls back into this manager (for instance
// removeAllActionsWithTarget). Every function that drops steps or actions moves them into a
// local "graveyard" declared before any other local, so it dies last.

KRUndoManager::KRUndoManager(QObject *parent) : QObject(parent) {}

KRUndoManager::~KRUndoManager()
{
    Stack undoStack = std::move(m_undoStack);
    Stack redoStack = std::move(m_redoStack);
    std::unique_ptr<Group> open = std::move(m_openGroup);
    m_undoStack.clear();
    m_redoStack.clear();
    m_groupingLevel = 0;
}

void KRUndoManager::registerUndo(const void *target, Action action)
{
    registerUndoImpl(target, nullptr, std::move(action));
}

void KRUndoManager::registerUndoImpl(const void *target, std::shared_ptr<const void> keepAlive,
                                     Action action)
{
    KR_ASSERT(static_cast<bool>(action), "registerUndo needs an action");
    Stack graveyard;
    if (m_disableCount > 0)
        return;
    if (m_groupingLevel == 0) {
        KR_ASSERT(m_groupsByEvent, "registerUndo outside an undo group while groupsByEvent is off");
        openAutomaticGroup();
    }
    bool visibleChange = false;
    if (m_mode == Mode::Normal) {
        if (!m_redoStack.empty()) {
            for (auto &group : m_redoStack)
                graveyard.push_back(std::move(group));
            m_redoStack.clear();
            visibleChange = true;
        }
        if (!m_openGroup->numbered) {
            m_openGroup->numbered = true;
            m_openGroup->countBefore = m_changeCount;
            m_openGroup->countAfter = ++m_lastIssuedCount;
            m_changeCount = m_openGroup->countAfter;
            visibleChange = true;
        } else if (m_openGroup->renumber) {
            // Undo still returns to countBefore; only the state after the group is new.
            m_openGroup->renumber = false;
            m_openGroup->countAfter = ++m_lastIssuedCount;
            m_changeCount = m_openGroup->countAfter;
            visibleChange = true;
        }
    }
    m_openGroup->items.push_back(Item{target, std::move(keepAlive), std::move(action)});
    if (visibleChange)
        emit changed();
}

void KRUndoManager::markSavePoint()
{
    if (m_openGroup && m_openGroup->numbered && m_mode == Mode::Normal)
        m_openGroup->renumber = true;
}

void KRUndoManager::openAutomaticGroup()
{
    KR_ASSERT(m_groupingLevel == 0, "automatic undo group inside another group");
    m_openGroup = std::make_unique<Group>();
    m_groupingLevel = 1;
    m_outermostIsInternal = true;
    m_outermostIsAutomatic = true;
    m_automaticCloseDue = false;
    scheduleAutomaticClose();
}

void KRUndoManager::scheduleAutomaticClose()
{
    if (m_automaticCloseScheduled || !QCoreApplication::instance())
        return;
    m_automaticCloseScheduled = true;
    // Runs when the event loop next processes posted events: the end of the current turn.
    QMetaObject::invokeMethod(this, [this] { automaticCloseDue(); }, Qt::QueuedConnection);
}

void KRUndoManager::automaticCloseDue()
{
    m_automaticCloseScheduled = false;
    if (!m_openGroup || !m_outermostIsAutomatic || m_mode != Mode::Normal)
        return;
    if (m_groupingLevel > 1) {
        // A nested event loop ran inside an explicit group: close when that group ends.
        m_automaticCloseDue = true;
        return;
    }
    Stack graveyard;
    closeOutermostGroup(graveyard);
    emit changed();
}

void KRUndoManager::beginUndoGrouping()
{
    if (m_groupingLevel == 0 && m_groupsByEvent && m_mode == Mode::Normal)
        openAutomaticGroup();
    if (m_groupingLevel == 0) {
        m_openGroup = std::make_unique<Group>();
        m_outermostIsInternal = false;
        m_outermostIsAutomatic = false;
    }
    ++m_groupingLevel;
}

void KRUndoManager::endUndoGrouping()
{
    // beginUndoGrouping and endUndoGrouping must pair up; the groups that this manager
    // opens itself (per event-loop turn, around undo and redo) are closed only by it.
    KR_ASSERT(m_groupingLevel > 0, "endUndoGrouping without a matching beginUndoGrouping");
    KR_ASSERT(!(m_groupingLevel == 1 && m_outermostIsInternal),
              "endUndoGrouping without a matching beginUndoGrouping");
    Stack graveyard;
    --m_groupingLevel;
    if (m_groupingLevel == 0) {
        closeOutermostGroup(graveyard);
        emit changed();
    } else if (m_groupingLevel == 1 && m_outermostIsAutomatic && m_automaticCloseDue) {
        m_automaticCloseDue = false;
        scheduleAutomaticClose();
    }
}

void KRUndoManager::closeOutermostGroup(Stack &graveyard)
{
    std::unique_ptr<Group> group = std::move(m_openGroup);
    const Mode mode = m_mode;
    m_groupingLevel = 0;
    m_outermostIsInternal = false;
    m_outermostIsAutomatic = false;
    m_automaticCloseDue = false;
    if (!group)
        return;
    if (group->items.empty()) {
        graveyard.push_back(std::move(group));
        return;
    }
    push(mode == Mode::Undoing ? m_redoStack : m_undoStack, std::move(group), graveyard);
    if (mode == Mode::Normal)
        emit didCloseUndoGroup();
}

void KRUndoManager::push(Stack &stack, std::unique_ptr<Group> group, Stack &graveyard)
{
    stack.push_back(std::move(group));
    if (m_levelsOfUndo > 0 && stack.size() > static_cast<size_t>(m_levelsOfUndo)) {
        const auto excess = static_cast<std::ptrdiff_t>(stack.size()) - m_levelsOfUndo;
        for (auto it = stack.begin(); it != stack.begin() + excess; ++it)
            graveyard.push_back(std::move(*it));
        stack.erase(stack.begin(), stack.begin() + excess);
    }
}

void KRUndoManager::setLevelsOfUndo(int levels)
{
    Stack graveyard;
    m_levelsOfUndo = levels < 0 ? 0 : levels;
    if (m_levelsOfUndo == 0)
        return;
    for (Stack *stack : {&m_undoStack, &m_redoStack}) {
        while (stack->size() > static_cast<size_t>(m_levelsOfUndo)) {
            graveyard.push_back(std::move(stack->front()));
            stack->erase(stack->begin());
        }
    }
    emit changed();
}

void KRUndoManager::undo()
{
    KR_ASSERT(m_mode == Mode::Normal, "undo while undoing or redoing");
    emit willUndoOrRedo();
    Stack graveyard;
    if (m_groupingLevel == 1)
        closeOutermostGroup(graveyard);
    undoNestedGroup();
}

void KRUndoManager::undoNestedGroup()
{
    KR_ASSERT(m_mode == Mode::Normal, "undo while undoing or redoing");
    KR_ASSERT(m_groupingLevel == 0, "undo while an undo group is open");
    if (m_undoStack.empty())
        return;
    std::unique_ptr<Group> group = std::move(m_undoStack.back());
    m_undoStack.pop_back();
    replay(std::move(group), Mode::Undoing);
    emit didUndo();
    emit changed();
}

void KRUndoManager::redo()
{
    KR_ASSERT(m_mode == Mode::Normal, "redo while undoing or redoing");
    emit willUndoOrRedo();
    Stack graveyard;
    if (m_groupingLevel == 1)
        closeOutermostGroup(graveyard);
    KR_ASSERT(m_groupingLevel == 0, "redo while an undo group is open");
    if (m_redoStack.empty())
        return;
    std::unique_ptr<Group> group = std::move(m_redoStack.back());
    m_redoStack.pop_back();
    replay(std::move(group), Mode::Redoing);
    emit didRedo();
    emit changed();
}

// Runs a step backwards; what its closures register forms the opposite step, which keeps
// the name and the change counts of the step it reverses.
void KRUndoManager::replay(std::unique_ptr<Group> group, Mode mode)
{
    Stack graveyard;
    m_mode = mode;
    m_openGroup = std::make_unique<Group>();
    m_openGroup->actionName = group->actionName;
    m_openGroup->discardable = group->discardable;
    m_openGroup->numbered = true;
    m_openGroup->countBefore = group->countBefore;
    m_openGroup->countAfter = group->countAfter;
    m_groupingLevel = 1;
    m_outermostIsInternal = true;
    m_outermostIsAutomatic = false;

    const auto finish = [&] {
        KR_ASSERT(m_groupingLevel == 1, "an undo action left an undo group open");
        closeOutermostGroup(graveyard);
        m_mode = Mode::Normal;
        m_changeCount = mode == Mode::Undoing ? group->countBefore : group->countAfter;
    };
    try {
        for (auto it = group->items.rbegin(); it != group->items.rend(); ++it)
            it->action();
    } catch (...) {
        // Named exceptions are caught at the GUI entry points; leave a usable history.
        m_groupingLevel = 1;
        finish();
        graveyard.push_back(std::move(group));
        throw;
    }
    finish();
    graveyard.push_back(std::move(group));
}

KRUndoManager::Group *KRUndoManager::pendingUndoGroup() const
{
    if (m_groupingLevel > 0 && m_mode != Mode::Undoing)
        return m_openGroup.get();
    return nullptr;
}

bool KRUndoManager::canUndo() const
{
    if (!m_undoStack.empty())
        return true;
    const Group *pending = pendingUndoGroup();
    return pending && !pending->items.empty();
}

bool KRUndoManager::canRedo() const
{
    return !m_redoStack.empty();
}

void KRUndoManager::removeAllActions()
{
    Stack graveyard;
    std::vector<Item> droppedItems;
    for (auto &group : m_undoStack)
        graveyard.push_back(std::move(group));
    for (auto &group : m_redoStack)
        graveyard.push_back(std::move(group));
    m_undoStack.clear();
    m_redoStack.clear();
    if (m_openGroup)
        droppedItems.swap(m_openGroup->items);
    emit changed();
}

void KRUndoManager::removeAllActionsWithTarget(const void *target)
{
    Stack graveyard;
    std::vector<Item> droppedItems;
    bool removed = false;
    const auto strip = [&](Group &group) {
        std::vector<Item> kept;
        kept.reserve(group.items.size());
        for (Item &item : group.items) {
            if (item.target == target)
                droppedItems.push_back(std::move(item));
            else
                kept.push_back(std::move(item));
        }
        removed = removed || kept.size() != group.items.size();
        group.items.swap(kept);
    };
    for (Stack *stack : {&m_undoStack, &m_redoStack}) {
        Stack kept;
        for (auto &group : *stack) {
            strip(*group);
            if (group->items.empty())
                graveyard.push_back(std::move(group));
            else
                kept.push_back(std::move(group));
        }
        stack->swap(kept);
    }
    if (m_openGroup)
        strip(*m_openGroup);
    if (removed)
        emit changed();
}

void KRUndoManager::disableUndoRegistration()
{
    ++m_disableCount;
}

void KRUndoManager::enableUndoRegistration()
{
    KR_ASSERT(m_disableCount > 0, "enableUndoRegistration without disableUndoRegistration");
    --m_disableCount;
}

void KRUndoManager::setActionName(const QString &name)
{
    Group *group = m_groupingLevel > 0 ? m_openGroup.get()
                                       : (m_undoStack.empty() ? nullptr : m_undoStack.back().get());
    if (!group || group->actionName == name)
        return;
    // Undoing "Create Button" runs a deletion that names its own steps "Delete"; the step it
    // records is still the redo of "Create Button". Only an unnamed step takes a name then.
    if (m_mode != Mode::Normal && m_groupingLevel > 0 && !group->actionName.isEmpty())
        return;
    group->actionName = name;
    emit changed();
}

QString KRUndoManager::undoActionName() const
{
    if (const Group *pending = pendingUndoGroup())
        return pending->actionName;
    return m_undoStack.empty() ? QString() : m_undoStack.back()->actionName;
}

QString KRUndoManager::redoActionName() const
{
    if (m_mode == Mode::Undoing && m_openGroup)
        return m_openGroup->actionName;
    return m_redoStack.empty() ? QString() : m_redoStack.back()->actionName;
}

void KRUndoManager::setActionIsDiscardable(bool discardable)
{
    Group *group = m_groupingLevel > 0 ? m_openGroup.get()
                                       : (m_undoStack.empty() ? nullptr : m_undoStack.back().get());
    if (group)
        group->discardable = discardable;
}

bool KRUndoManager::undoActionIsDiscardable() const
{
    if (const Group *pending = pendingUndoGroup())
        return pending->discardable;
    return !m_undoStack.empty() && m_undoStack.back()->discardable;
}

bool KRUndoManager::redoActionIsDiscardable() const
{
    return !m_redoStack.empty() && m_redoStack.back()->discardable;
}

QString KRUndoManager::undoMenuTitleForUndoActionName(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("Undo") : QStringLiteral("Undo ") + name;
}

QString KRUndoManager::redoMenuTitleForUndoActionName(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("Redo") : QStringLiteral("Redo ") + name;
}

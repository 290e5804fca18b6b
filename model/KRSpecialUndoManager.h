#pragma once

#include <platform/foundation/KRUndoManager.h>

#include <QSet>
#include <QString>

// Wraps a document's undo manager for the editor texts of its window: everything lands in
// the wrapped manager, and specialRemoveAllActions removes the actions of every target ever
// registered through the wrapper while page and setting actions survive.
class KRSpecialUndoManager
{
public:
    explicit KRSpecialUndoManager(KRUndoManager &wrapped) : m_wrapped(wrapped) {}

    KRUndoManager &wrapped() const { return m_wrapped; }

    void registerUndo(const void *target, KRUndoManager::Action action)
    {
        m_targets.insert(target);
        m_wrapped.registerUndo(target, std::move(action));
    }
    // Removes the actions of every registered target from the wrapped manager; the target
    // set stays as it is.
    void specialRemoveAllActions();
    int targetCount() const { return int(m_targets.size()); }

    // Forwarded unchanged.
    void beginUndoGrouping() { m_wrapped.beginUndoGrouping(); }
    void endUndoGrouping() { m_wrapped.endUndoGrouping(); }
    int groupingLevel() const { return m_wrapped.groupingLevel(); }
    void disableUndoRegistration() { m_wrapped.disableUndoRegistration(); }
    void enableUndoRegistration() { m_wrapped.enableUndoRegistration(); }
    bool isUndoRegistrationEnabled() const { return m_wrapped.isUndoRegistrationEnabled(); }
    bool groupsByEvent() const { return m_wrapped.groupsByEvent(); }
    void setGroupsByEvent(bool on) { m_wrapped.setGroupsByEvent(on); }
    int levelsOfUndo() const { return m_wrapped.levelsOfUndo(); }
    void setLevelsOfUndo(int levels) { m_wrapped.setLevelsOfUndo(levels); }
    void undo() { m_wrapped.undo(); }
    void redo() { m_wrapped.redo(); }
    void undoNestedGroup() { m_wrapped.undoNestedGroup(); }
    bool canUndo() const { return m_wrapped.canUndo(); }
    bool canRedo() const { return m_wrapped.canRedo(); }
    bool isUndoing() const { return m_wrapped.isUndoing(); }
    bool isRedoing() const { return m_wrapped.isRedoing(); }
    // Clears the whole history of the document, not only the wrapper's targets.
    void removeAllActions() { m_wrapped.removeAllActions(); }
    void removeAllActionsWithTarget(const void *target) { m_wrapped.removeAllActionsWithTarget(target); }
    void setActionIsDiscardable(bool discardable) { m_wrapped.setActionIsDiscardable(discardable); }
    bool undoActionIsDiscardable() const { return m_wrapped.undoActionIsDiscardable(); }
    bool redoActionIsDiscardable() const { return m_wrapped.redoActionIsDiscardable(); }
    QString undoActionName() const { return m_wrapped.undoActionName(); }
    QString redoActionName() const { return m_wrapped.redoActionName(); }
    void setActionName(const QString &name) { m_wrapped.setActionName(name); }
    QString undoMenuItemTitle() const { return m_wrapped.undoMenuItemTitle(); }
    QString redoMenuItemTitle() const { return m_wrapped.redoMenuItemTitle(); }

private:
    KRUndoManager &m_wrapped; // the document's; lives as long as the document
    QSet<const void *> m_targets;
};

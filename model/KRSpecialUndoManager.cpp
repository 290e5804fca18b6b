#include "KRSpecialUndoManager.h"

void KRSpecialUndoManager::specialRemoveAllActions()
{
    const QSet<const void *> targets = m_targets;
    for (const void *target : targets)
        m_wrapped.removeAllActionsWithTarget(target);
}

#include "SBScopeBarGroup.h"

#include "SBScopeBar.h"

#include <stdexcept>

SBScopeBarGroup::SBScopeBarGroup()
    : SBScopeBarGroup(QString(), RadioSelection)
{
}

SBScopeBarGroup::SBScopeBarGroup(const QString &identifier, int selectionStyle)
    : m_identifier(identifier)
    , m_selectionStyle(selectionStyle)
{
}

void SBScopeBarGroup::reloadInBar()
{
    if (m_scopeBar)
        m_scopeBar->reloadDataForGroup(m_scopeBar->indexOfGroup(this));
}

void SBScopeBarGroup::setLabel(const QString &label)
{
    if (label == m_label)
        return;
    m_label = label;
    m_showsLabel = !m_label.isEmpty();
    reloadInBar();
}

void SBScopeBarGroup::setGroupSelectionStyle(int style)
{
    m_selectionStyle = style;
    reloadInBar();
}

void SBScopeBarGroup::setShowsSeparator(bool shows)
{
    m_showsSeparator = shows;
    reloadInBar();
}

void SBScopeBarGroup::setShowsLabel(bool shows)
{
    m_showsLabel = shows;
    reloadInBar();
}

bool SBScopeBarGroup::setCollapsed(bool collapsed)
{
    if (collapsed == m_collapsed)
        return true;
    if (m_scopeBar && !m_scopeBar->mayChangeCollapse(this, collapsed))
        return false;
    m_collapsed = collapsed;
    return true;
}

void SBScopeBarGroup::setSelectionIndexes(const std::set<int> &indexes)
{
    const bool changed = indexes != m_selection;
    m_selection = indexes;
    if (!m_scopeBar)
        return;
    reloadInBar();
    if (changed)
        m_scopeBar->groupSelectionDidChange(this);
}

QString SBScopeBarGroup::multipleSelectionPlaceholder() const
{
    return m_multiplePlaceholder.isNull() ? QStringLiteral("<Multiple>") : m_multiplePlaceholder;
}

void SBScopeBarGroup::setMultipleSelectionPlaceholder(const QString &placeholder)
{
    if (placeholder == m_multiplePlaceholder)
        return;
    m_multiplePlaceholder = placeholder;
    reloadInBar();
}

QString SBScopeBarGroup::noSelectionPlaceholder() const
{
    if (!m_noSelectionPlaceholder.isNull())
        return m_noSelectionPlaceholder;
    return m_identifier.isNull() ? QStringLiteral("<Untitled>") : m_identifier;
}

void SBScopeBarGroup::setNoSelectionPlaceholder(const QString &placeholder)
{
    if (placeholder == m_noSelectionPlaceholder)
        return;
    m_noSelectionPlaceholder = placeholder;
    reloadInBar();
}

int SBScopeBarGroup::numberOfObjects() const
{
    if (!m_scopeBar || !m_scopeBar->dataSource())
        return 0;
    return std::max(0, m_scopeBar->dataSource()->numberOfObjectsInGroup(m_scopeBar, m_scopeBar->indexOfGroup(this)));
}

QVariant SBScopeBarGroup::objectAtIndex(int index) const
{
    if (index < 0 || index >= numberOfObjects())
        throw std::out_of_range("SBScopeBarGroup:objectAtIndex: objectIndex invalid");
    return m_scopeBar->dataSource()->valueForObject(m_scopeBar, m_scopeBar->indexOfGroup(this), index);
}

int SBScopeBarGroup::indexForObject(const QVariant &object) const
{
    // Compared by value: hosts pass titles they spelled themselves, not the data source's own
    // instances.
    const int count = numberOfObjects();
    for (int i = 0; i < count; ++i) {
        if (objectAtIndex(i) == object)
            return i;
    }
    return -1;
}

QVariantList SBScopeBarGroup::selectedObjects() const
{
    QVariantList objects;
    const int count = numberOfObjects();
    for (int index : m_selection) {
        if (index < count)
            objects.append(objectAtIndex(index));
    }
    return objects;
}

QVariant SBScopeBarGroup::selectedObject() const
{
    const QVariantList objects = selectedObjects();
    return objects.isEmpty() ? QVariant() : objects.first();
}

void SBScopeBarGroup::didClickObject(int index, bool alwaysSetToOnState)
{
    if (index < 0 || index >= numberOfObjects())
        throw std::out_of_range("SBScopeBarGroup:didClickObject_:alwaysSetToOnState: objectIndex invalid");
    const bool on = m_selection.count(index) > 0;
    if (alwaysSetToOnState && on)
        return;
    std::set<int> selection = m_selection;
    if (isRadio())
        selection = {index};
    else if (on)
        selection.erase(index);
    else
        selection.insert(index);
    setSelectionIndexes(selection);
}

void SBScopeBarGroup::selectObject(const QVariant &object)
{
    const int index = indexForObject(object);
    if (index < 0)
        throw std::invalid_argument("SBScopeBarGroup:selectObject theObject not a member of this group");
    selectObjectWithIndex(index);
}

void SBScopeBarGroup::selectObjectWithIndex(int index)
{
    if (index < 0 || index >= numberOfObjects())
        throw std::out_of_range("SBScopeBarGroup:selectObjectWithIndex: objectIndex invalid");
    didClickObject(index, true);
}

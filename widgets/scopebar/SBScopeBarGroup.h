#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <set>

class SBScopeBar;

// One group of a scope bar: a labelled set of toggle buttons of which exactly one (radio) or
// any number (multiple) are on. The objects come from the bar's data source; a group that
// belongs to no bar only stores what it is given.
class SBScopeBarGroup
{
public:
    enum SelectionStyle { RadioSelection = 0, MultipleSelection = 1 };

    SBScopeBarGroup();
    SBScopeBarGroup(const QString &identifier, int selectionStyle);
    SBScopeBarGroup(const SBScopeBarGroup &) = delete;
    SBScopeBarGroup &operator=(const SBScopeBarGroup &) = delete;

    QString identifier() const { return m_identifier; }
    void setIdentifier(const QString &identifier) { m_identifier = identifier; }

    // Setting a different label also decides whether it is shown.
    QString label() const { return m_label; }
    void setLabel(const QString &label);

    // 0 is radio; every other value is multiple.
    int groupSelectionStyle() const { return m_selectionStyle; }
    void setGroupSelectionStyle(int style);
    bool isRadio() const { return m_selectionStyle == RadioSelection; }

    bool showsSeparator() const { return m_showsSeparator; }
    void setShowsSeparator(bool shows);
    bool showsLabel() const { return m_showsLabel; }
    void setShowsLabel(bool shows);

    // Shown as one pop-up button. Asks the bar's delegate first; false when it refused.
    bool isCollapsed() const { return m_collapsed; }
    bool setCollapsed(bool collapsed);

    const std::set<int> &selectionIndexes() const { return m_selection; }
    // Posts the bar's selection notification when the set changes.
    void setSelectionIndexes(const std::set<int> &indexes);

    // Shown by a collapsed group with several objects on ("<Multiple>" unless set) and with
    // none on (the identifier, or "<Untitled>", unless set).
    QString multipleSelectionPlaceholder() const;
    void setMultipleSelectionPlaceholder(const QString &placeholder);
    QString noSelectionPlaceholder() const;
    void setNoSelectionPlaceholder(const QString &placeholder);

    SBScopeBar *scopeBar() const { return m_scopeBar; }

    int numberOfObjects() const;
    // Throws std::out_of_range for an index outside the objects.
    QVariant objectAtIndex(int index) const;
    // The first object equal to `object`, -1 when there is none.
    int indexForObject(const QVariant &object) const;
    QVariantList selectedObjects() const;
    QVariant selectedObject() const;

    // A click on a button: a radio group turns that object on alone, a multiple group toggles
    // it; with `alwaysSetToOnState` an object already on stays as it is.
    void didClickObject(int index, bool alwaysSetToOnState = false);
    // Turns an object on (never off). Throw std::invalid_argument / std::out_of_range.
    void selectObject(const QVariant &object);
    void selectObjectWithIndex(int index);

private:
    friend class SBScopeBar;
    void reloadInBar();

    QString m_identifier;
    QString m_label;
    int m_selectionStyle = RadioSelection;
    bool m_showsSeparator = true;
    bool m_collapsed = false;
    bool m_showsLabel = false;
    std::set<int> m_selection;
    SBScopeBar *m_scopeBar = nullptr; // not owned: the bar owns its groups
    QString m_multiplePlaceholder;
    QString m_noSelectionPlaceholder;
};

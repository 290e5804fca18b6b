#pragma once

#include <model/KRObject.h>
#include <platform/foundation/KRObservationToken.h>

class DOMCSSRule;
class DOMCSSStyleSheet;

// A named set of CSS declarations of a page: one rule ".<name> { ... }" in the page's style
// sheet, after its marker rule. The class name in the rule is lower-cased to match the
// elements that use it (built pages are case-sensitive). The rule is kept by identity, so
// other rules added or removed do not lose it. A second rule carries the class's text
// properties into the jQuery Mobile widgets that use it.
class KRStyleClass final : public KRObject
{
public:
    using KRObject::KRObject;
    ~KRStyleClass() override;

    // Registers "KRStyleClass" (once per process).
    static void registerClass();

    // An id that can stand as a class name in a CSS selector as it is: letters, digits and
    // "_", not starting with a digit (an object id may hold "$", a selector may not).
    static bool isValidClassName(const QString &id);

    // Null while the id is no valid class name: the class then has no rule and its values
    // stay in the file only.
    std::shared_ptr<DOMCSSRule> cssRule() const { return m_rule; }
    // A control's class list (its "styleClass": names apart by white space) with every name of
    // the class oldID, in any case, changed to newID.
    static QString renamedInClassList(const QString &list, const QString &oldID, const QString &newID);
    bool hasJSInstanceVariable() const override { return false; }

protected:
    void willEnableModelAdapters() override;

private:
    DOMCSSStyleSheet *sheet() const;
    void idDidChange(const QString &oldID, const QString &newID);
    // Points the class lists of the page's objects from the old name to the new one.
    void followRename(const QString &oldID, const QString &newID);
    // At index at of the sheet (its end when at is past it or negative).
    void insertRule(const QString &text, int at = -1);
    // Removes the class's rules from the sheet.
    void removeRule();
    // Keeps, right after the class's rule, the rule by which jQuery Mobile's elements inside the
    // elements of the class inherit the text properties the class sets (KRPage::widgetTextRule),
    // or none while it sets none.
    void updateWidgetTextRule();
    void pageDidDeleteObject(const std::shared_ptr<KRObject> &object);

    std::shared_ptr<DOMCSSRule> m_rule;
    std::shared_ptr<DOMCSSRule> m_widgetTextRule;
    QStringList m_widgetTextProperties; // those m_widgetTextRule names
    KRObservationToken m_idToken;
    std::vector<KRObservationToken> m_tokens;
};

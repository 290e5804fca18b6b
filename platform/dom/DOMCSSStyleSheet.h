#pragma once

#include <QString>

#include <memory>
#include <vector>

class DOMCSSRule;
class DOMDocument;
class DOMElement;

// The sheet of a style element: its rules, parsed once from the element's text. Inserting or
// deleting rules changes the sheet only, never the element's text; writing rules into the
// text is an explicit step (DOMElement::writeRulesIntoText).
class DOMCSSStyleSheet
{
public:
    explicit DOMCSSStyleSheet(DOMElement *ownerNode, const QString &text);
    ~DOMCSSStyleSheet();
    DOMCSSStyleSheet(const DOMCSSStyleSheet &) = delete;
    DOMCSSStyleSheet &operator=(const DOMCSSStyleSheet &) = delete;

    // The style element; null once the element's text replaced this sheet or the element died.
    DOMElement *ownerNode() const { return m_owner; } // not owned

    const std::vector<std::shared_ptr<DOMCSSRule>> &cssRules() const { return m_rules; }
    int length() const { return int(m_rules.size()); }
    // Null outside the list.
    std::shared_ptr<DOMCSSRule> item(int index) const;
    int indexOf(const DOMCSSRule *rule) const;

    // Inserts the one rule of `ruleText` at `index` (0..length) and returns that index; -1 when
    // the text is not exactly one rule or the index is outside the list.
    int insertRule(const QString &ruleText, int index);
    // False when the index is outside the list.
    bool deleteRule(int index);

    // The text of the rules from `fromIndex` on, each followed by "\n".
    QString rulesText(int fromIndex = 0) const;

private:
    friend class DOMCSSRule;
    friend class DOMElement;

    DOMDocument *reportingDocument() const;
    void ruleDidChange(const DOMCSSRule *rule, const QString &name, const QString &value, const QString &priority);

    DOMElement *m_owner; // not owned; the element clears it when it lets go of the sheet
    std::vector<std::shared_ptr<DOMCSSRule>> m_rules;
};

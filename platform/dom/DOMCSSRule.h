#pragma once

#include <platform/dom/DOMCSSStyleDeclaration.h>

#include <QString>

#include <memory>

class DOMCSSStyleSheet;

// One rule of a style sheet: a style rule (selector and declaration) or any other rule
// (an at-rule), which is kept as its text.
class DOMCSSRule : private DOMCSSStyleDeclaration::Owner
{
public:
    enum class Type { Style = 1, Other = 0 };

    Type type() const { return m_type; }
    // Empty for a rule other than a style rule.
    const QString &selectorText() const { return m_selector; }
    void setSelectorText(const QString &selector);
    DOMCSSStyleDeclaration &style() { return m_style; }
    const DOMCSSStyleDeclaration &style() const { return m_style; }
    // "selector { declarations }", or the at-rule's own text.
    QString cssText() const;
    // The sheet holding the rule; null once the rule is deleted from it.
    DOMCSSStyleSheet *parentStyleSheet() const { return m_sheet; } // not owned

    // Rules of a sheet's text, in order; unreadable parts are skipped as a browser does.
    static std::vector<std::shared_ptr<DOMCSSRule>> parseRules(const QString &text);

    DOMCSSRule(Type type, const QString &selectorOrText);

private:
    friend class DOMCSSStyleSheet;

    void styleDeclarationDidChange(const QString &name, const QString &value, const QString &priority) override;

    Type m_type;
    QString m_selector;
    QString m_text; // at-rules
    DOMCSSStyleDeclaration m_style{this};
    DOMCSSStyleSheet *m_sheet = nullptr; // not owned; the sheet clears it when it lets go
};

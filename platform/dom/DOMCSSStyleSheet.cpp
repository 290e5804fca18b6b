#include "DOMCSSStyleSheet.h"

#include <platform/dom/DOMCSSRule.h>
#include <platform/dom/DOMDocument.h>
#include <platform/dom/DOMElement.h>
#include <platform/dom/DOMMutationListener.h>

DOMCSSStyleSheet::DOMCSSStyleSheet(DOMElement *ownerNode, const QString &text)
    : m_owner(ownerNode)
    , m_rules(DOMCSSRule::parseRules(text))
{
    for (const auto &rule : m_rules)
        rule->m_sheet = this;
}

DOMCSSStyleSheet::~DOMCSSStyleSheet()
{
    for (const auto &rule : m_rules)
        rule->m_sheet = nullptr;
}

std::shared_ptr<DOMCSSRule> DOMCSSStyleSheet::item(int index) const
{
    return index >= 0 && index < length() ? m_rules[std::size_t(index)] : nullptr;
}

int DOMCSSStyleSheet::indexOf(const DOMCSSRule *rule) const
{
    for (std::size_t i = 0; i < m_rules.size(); ++i)
        if (m_rules[i].get() == rule)
            return int(i);
    return -1;
}

int DOMCSSStyleSheet::insertRule(const QString &ruleText, int index)
{
    if (index < 0 || index > length())
        return -1;
    auto parsed = DOMCSSRule::parseRules(ruleText);
    if (parsed.size() != 1)
        return -1;
    const auto &rule = parsed.front();
    rule->m_sheet = this;
    m_rules.insert(m_rules.begin() + index, rule);
    if (DOMDocument *doc = reportingDocument()) {
        DOMMutation m{DOMMutation::Type::RuleInserted};
        m.target = m_owner->nodeId();
        m.index = index;
        m.value = rule->cssText();
        doc->notify(std::move(m));
    }
    return index;
}

bool DOMCSSStyleSheet::deleteRule(int index)
{
    if (index < 0 || index >= length())
        return false;
    m_rules[std::size_t(index)]->m_sheet = nullptr;
    m_rules.erase(m_rules.begin() + index);
    if (DOMDocument *doc = reportingDocument()) {
        DOMMutation m{DOMMutation::Type::RuleDeleted};
        m.target = m_owner->nodeId();
        m.index = index;
        doc->notify(std::move(m));
    }
    return true;
}

QString DOMCSSStyleSheet::rulesText(int fromIndex) const
{
    QString out;
    for (int i = std::max(0, fromIndex); i < length(); ++i) {
        out += m_rules[std::size_t(i)]->cssText();
        out += QLatin1Char('\n');
    }
    return out;
}

// The owner's document when it reports changes of the owner, else null.
DOMDocument *DOMCSSStyleSheet::reportingDocument() const
{
    if (!m_owner)
        return nullptr;
    DOMDocument *doc = m_owner->document();
    return doc && doc->reports(m_owner) ? doc : nullptr;
}

void DOMCSSStyleSheet::ruleDidChange(const DOMCSSRule *rule, const QString &name, const QString &value,
                                     const QString &priority)
{
    DOMDocument *doc = reportingDocument();
    if (!doc)
        return;
    DOMMutation m{value.isEmpty() ? DOMMutation::Type::StyleRemoved : DOMMutation::Type::StyleSet};
    m.target = m_owner->nodeId();
    m.index = indexOf(rule);
    m.name = name;
    m.value = value;
    m.priority = priority;
    doc->notify(std::move(m));
}

#include "DOMCSSRule.h"

#include <platform/dom/DOMCSSStyleSheet.h>

namespace {

QString simplifySelector(const QString &selector)
{
    return selector.simplified();
}

// Index just after the block that opens at `open` ("{"), honouring strings and comments;
// the text's length when the block is not closed (a browser closes it at the end).
qsizetype blockEnd(const QString &text, qsizetype open)
{
    int depth = 0;
    QChar quote;
    for (qsizetype i = open; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            quote = c;
        } else if (c == QLatin1Char('/') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? text.size() : end + 1;
        } else if (c == QLatin1Char('{')) {
            ++depth;
        } else if (c == QLatin1Char('}') && --depth == 0) {
            return i + 1;
        }
    }
    return text.size();
}

} // namespace

DOMCSSRule::DOMCSSRule(Type type, const QString &selectorOrText)
    : m_type(type)
{
    if (type == Type::Style)
        m_selector = simplifySelector(selectorOrText);
    else
        m_text = selectorOrText.trimmed();
}

void DOMCSSRule::setSelectorText(const QString &selector)
{
    const QString s = simplifySelector(selector);
    if (m_type != Type::Style || s.isEmpty() || s.contains(QLatin1Char('{')) || s.contains(QLatin1Char('}')))
        return;
    m_selector = s;
    if (m_sheet)
        m_sheet->ruleDidChange(this, QStringLiteral("selectorText"), s, QString());
}

QString DOMCSSRule::cssText() const
{
    if (m_type != Type::Style)
        return m_text;
    const QString declarations = m_style.cssText();
    return declarations.isEmpty() ? m_selector + QStringLiteral(" { }")
                                  : m_selector + QStringLiteral(" { ") + declarations + QStringLiteral(" }");
}

void DOMCSSRule::styleDeclarationDidChange(const QString &name, const QString &value, const QString &priority)
{
    if (m_sheet)
        m_sheet->ruleDidChange(this, name, value, priority);
}

std::vector<std::shared_ptr<DOMCSSRule>> DOMCSSRule::parseRules(const QString &text)
{
    std::vector<std::shared_ptr<DOMCSSRule>> rules;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && text.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            continue;
        }
        if (text.mid(i, 4) == QLatin1String("<!--")) {
            i += 4;
            continue;
        }
        if (text.mid(i, 3) == QLatin1String("-->")) {
            i += 3;
            continue;
        }
        // The prelude runs to the first top-level "{" (or ";" for an at-rule without block).
        qsizetype j = i;
        QChar quote;
        bool atRule = c == QLatin1Char('@');
        while (j < n) {
            const QChar d = text.at(j);
            if (!quote.isNull()) {
                if (d == QLatin1Char('\\'))
                    ++j;
                else if (d == quote)
                    quote = QChar();
            } else if (d == QLatin1Char('"') || d == QLatin1Char('\'')) {
                quote = d;
            } else if (d == QLatin1Char('{') || (atRule && d == QLatin1Char(';'))) {
                break;
            } else if (d == QLatin1Char('}')) {
                break; // a stray closing brace ends a broken prelude
            }
            ++j;
        }
        if (j >= n)
            break; // a prelude without block is dropped
        if (text.at(j) == QLatin1Char('}')) {
            i = j + 1;
            continue;
        }
        if (atRule && text.at(j) == QLatin1Char(';')) {
            rules.push_back(std::make_shared<DOMCSSRule>(Type::Other, text.mid(i, j + 1 - i)));
            i = j + 1;
            continue;
        }
        const qsizetype end = blockEnd(text, j);
        if (atRule) {
            rules.push_back(std::make_shared<DOMCSSRule>(Type::Other, text.mid(i, end - i)));
        } else {
            const QString selector = text.mid(i, j - i);
            if (!selector.trimmed().isEmpty()) {
                auto rule = std::make_shared<DOMCSSRule>(Type::Style, selector);
                const qsizetype bodyEnd = end > j && text.at(end - 1) == QLatin1Char('}') ? end - 1 : end;
                rule->m_style.parse(text.mid(j + 1, bodyEnd - j - 1));
                rules.push_back(std::move(rule));
            }
        }
        i = end;
    }
    return rules;
}

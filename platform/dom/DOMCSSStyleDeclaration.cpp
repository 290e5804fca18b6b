#include "DOMCSSStyleDeclaration.h"

#include <platform/dom/DOMCSSProperties.h>
#include <platform/dom/DOMCompactList.h>
#include <platform/dom/DOMTextWriter.h>

#include <QStringList>
#include <QVarLengthArray>

namespace {

const QString kImportant = QStringLiteral("important");

// Splits declaration text at top-level ";" (outside brackets, quotes and comments).
QStringList splitDeclarations(const QString &text)
{
    QStringList out;
    QString current;
    int depth = 0;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            current += c;
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                current += text.at(++i);
            else if (c == quote)
                quote = QChar();
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = text.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? text.size() : end + 1;
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            quote = c;
        else if (c == QLatin1Char('(') || c == QLatin1Char('['))
            ++depth;
        else if ((c == QLatin1Char(')') || c == QLatin1Char(']')) && depth > 0)
            --depth;
        else if (c == QLatin1Char(';') && depth == 0) {
            out.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    out.append(current);
    return out;
}

} // namespace

QString DOMCSSStyleDeclaration::item(int index) const
{
    return index >= 0 && index < length() ? m_properties[index].name : QString();
}

// A name the tables know is found by its entry; any other by its text.
int DOMCSSStyleDeclaration::indexOf(const QString &canonicalName, const DOMCSSProperties::Known *known) const
{
    for (qsizetype i = 0; i < m_properties.size(); ++i) {
        const Property &p = m_properties[i];
        if (known ? p.known == known : (!p.known && p.name == canonicalName))
            return int(i);
    }
    return -1;
}

// The shorthand written from its longhands: empty unless all are there with one priority.
QString DOMCSSStyleDeclaration::shorthandValue(const DOMCSSProperties::Known &shorthand) const
{
    QStringList values;
    values.reserve(qsizetype(shorthand.longhands.size()));
    bool important = false;
    for (const DOMCSSProperties::Known *longhand : shorthand.longhands) {
        const int i = indexOf(longhand->name, longhand);
        if (i < 0)
            return {};
        if (values.isEmpty())
            important = m_properties[i].important;
        else if (important != m_properties[i].important)
            return {};
        values.append(m_properties[i].value);
    }
    return DOMCSSProperties::compose(shorthand, values);
}

QString DOMCSSStyleDeclaration::getPropertyValue(const QString &name) const
{
    const DOMCSSProperties::Known *known = nullptr;
    const QString n = DOMCSSProperties::canonicalName(name, &known);
    if (known && known->isShorthand())
        return shorthandValue(*known);
    const int i = indexOf(n, known);
    return i < 0 ? QString() : m_properties[i].value;
}

QString DOMCSSStyleDeclaration::getPropertyPriority(const QString &name) const
{
    const DOMCSSProperties::Known *known = nullptr;
    const QString n = DOMCSSProperties::canonicalName(name, &known);
    if (known && known->isShorthand()) {
        for (const DOMCSSProperties::Known *longhand : known->longhands) {
            const int i = indexOf(longhand->name, longhand);
            if (i < 0 || !m_properties[i].important)
                return {};
        }
        return kImportant;
    }
    const int i = indexOf(n, known);
    return i >= 0 && m_properties[i].important ? kImportant : QString();
}

bool DOMCSSStyleDeclaration::apply(const QString &n, const DOMCSSProperties::Known *known, const QString &value,
                                   bool important)
{
    if (known && known->isShorthand()) {
        const auto values = DOMCSSProperties::expandRepeating(*known, value);
        if (!values)
            return false;
        int at = -1;
        for (std::size_t i = 0; i < known->longhands.size(); ++i)
            at = store(known->longhands[i]->name, known->longhands[i], values->at(qsizetype(i) % values->size()), important,
                       at + 1);
        return true;
    }
    if (n.isEmpty() || !DOMCSSProperties::isValidValue(known, n, value))
        return false;
    store(n, known, value, important);
    return true;
}

int DOMCSSStyleDeclaration::store(const QString &n, const DOMCSSProperties::Known *known, const QString &value,
                                  bool important, int hint)
{
    const bool atHint = known && hint >= 0 && hint < int(m_properties.size()) && m_properties[hint].known == known;
    const int i = atHint ? hint : indexOf(n, known);
    if (i < 0) {
        reserveForOneMore(m_properties);
        m_properties.push_back({n, value, important, known});
        return int(m_properties.size()) - 1;
    }
    Property &p = m_properties[i];
    p.value = value;
    p.important = important;
    return i;
}

bool DOMCSSStyleDeclaration::removeCanonical(const QString &n, const DOMCSSProperties::Known *known)
{
    bool removed = false;
    if (known && known->isShorthand()) {
        for (const DOMCSSProperties::Known *longhand : known->longhands)
            removed = removeCanonical(longhand->name, longhand) || removed;
        return removed;
    }
    const int i = indexOf(n, known);
    if (i < 0)
        return false;
    m_properties.erase(m_properties.begin() + i);
    return true;
}

bool DOMCSSStyleDeclaration::setProperty(const QString &name, const QString &value, const QString &priority)
{
    const QString v = DOMCSSProperties::trimmed(value);
    if (v.isEmpty()) {
        removeProperty(name);
        return true;
    }
    const bool important = priority.compare(kImportant, Qt::CaseInsensitive) == 0;
    if (!important && !priority.isEmpty())
        return false;
    const DOMCSSProperties::Known *known = nullptr;
    const QString n = DOMCSSProperties::canonicalName(name, &known);
    if (!apply(n, known, v, important))
        return false;
    tell(name, v, important ? kImportant : QString());
    return true;
}

QString DOMCSSStyleDeclaration::removeProperty(const QString &name)
{
    const DOMCSSProperties::Known *known = nullptr;
    const QString n = DOMCSSProperties::canonicalName(name, &known);
    const QString old = getPropertyValue(n);
    if (removeCanonical(n, known))
        tell(name, QString(), QString());
    return old;
}

QString DOMCSSStyleDeclaration::cssText() const
{
    if (m_properties.empty())
        return {};
    // The declarations to write are collected first and the text made at its final size:
    // every element's style is written out this way.
    struct Written
    {
        const QString *name;
        const QString *value;
        bool important;
        QString composed; // a shorthand's value
    };
    QVarLengthArray<Written, 8> written;
    written.reserve(m_properties.size()); // no moves: `value` may point at `composed`
    QVarLengthArray<bool, 16> done(m_properties.size(), false);
    for (qsizetype i = 0; i < m_properties.size(); ++i) {
        if (done[i])
            continue;
        const Property &p = m_properties[i];
        bool isWritten = false;
        if (p.known) {
            for (const DOMCSSProperties::Known *shorthand : p.known->shorthands) {
                bool usable = true;
                for (const DOMCSSProperties::Known *longhand : shorthand->longhands) {
                    const int k = indexOf(longhand->name, longhand);
                    if (k < 0 || done[k] || m_properties[k].important != p.important) {
                        usable = false;
                        break;
                    }
                }
                if (!usable)
                    continue;
                QString value = shorthandValue(*shorthand);
                if (value.isEmpty())
                    continue;
                Written &w = written.emplace_back(Written{&shorthand->name, nullptr, p.important, std::move(value)});
                w.value = &w.composed;
                for (const DOMCSSProperties::Known *longhand : shorthand->longhands)
                    done[indexOf(longhand->name, longhand)] = true;
                isWritten = true;
                break;
            }
        }
        if (!isWritten) {
            written.push_back(Written{&p.name, &p.value, p.important, QString()});
            done[i] = true;
        }
    }

    const QLatin1String separator(": "), importantSuffix(" !important");
    qsizetype total = qsizetype(written.size()) - 1; // the blanks between declarations
    for (const Written &w : written)
        total += w.name->size() + separator.size() + w.value->size() + (w.important ? importantSuffix.size() : 0) + 1;
    QString out;
    out.reserve(total);
    {
        DOMTextWriter writer(out);
        for (qsizetype i = 0; i < written.size(); ++i) {
            const Written &w = written[i];
            if (i > 0)
                writer.append(QLatin1Char(' '));
            writer.append(*w.name);
            writer.append(separator);
            writer.append(*w.value);
            if (w.important)
                writer.append(importantSuffix);
            writer.append(QLatin1Char(';'));
        }
    }
    return out;
}

void DOMCSSStyleDeclaration::parse(const QString &text)
{
    m_properties.clear();
    if (text.isEmpty()) {
        m_properties.squeeze();
        return;
    }
    const QStringList declarations = splitDeclarations(text);
    m_properties.reserve(declarations.size());
    for (const QString &declaration : declarations) {
        const qsizetype colon = declaration.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        QString value = declaration.mid(colon + 1).trimmed();
        bool important = false;
        const qsizetype bang = value.lastIndexOf(QLatin1Char('!'));
        if (bang >= 0 && value.mid(bang + 1).trimmed().compare(kImportant, Qt::CaseInsensitive) == 0) {
            important = true;
            value = value.left(bang).trimmed();
        }
        if (value.isEmpty())
            continue;
        const DOMCSSProperties::Known *known = nullptr;
        const QString n = DOMCSSProperties::canonicalName(declaration.left(colon), &known);
        apply(n, known, value, important);
    }
    m_properties.squeeze(); // a style is mostly parsed once and kept: no spare room
}

void DOMCSSStyleDeclaration::setCssText(const QString &text)
{
    parse(text);
    tell(QStringLiteral("cssText"), cssText(), QString());
}

void DOMCSSStyleDeclaration::tell(const QString &name, const QString &value, const QString &priority)
{
    if (m_owner)
        m_owner->styleDeclarationDidChange(name, value, priority);
}

#include "DOMCSSStyleDeclaration.h"

#include <platform/dom/DOMCSSProperties.h>

#include <QStringList>

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
    return index >= 0 && index < length() ? m_properties[std::size_t(index)].name : QString();
}

int DOMCSSStyleDeclaration::indexOf(const QString &canonicalName) const
{
    for (std::size_t i = 0; i < m_properties.size(); ++i)
        if (m_properties[i].name == canonicalName)
            return int(i);
    return -1;
}

QString DOMCSSStyleDeclaration::getPropertyValue(const QString &name) const
{
    const QString n = DOMCSSProperties::canonicalName(name);
    if (const QStringList *longhands = DOMCSSProperties::longhands(n)) {
        QStringList values;
        bool important = false;
        for (const QString &l : *longhands) {
            const int i = indexOf(l);
            if (i < 0)
                return {};
            if (values.isEmpty())
                important = m_properties[std::size_t(i)].important;
            else if (important != m_properties[std::size_t(i)].important)
                return {};
            values.append(m_properties[std::size_t(i)].value);
        }
        return DOMCSSProperties::compose(n, values);
    }
    const int i = indexOf(n);
    return i < 0 ? QString() : m_properties[std::size_t(i)].value;
}

QString DOMCSSStyleDeclaration::getPropertyPriority(const QString &name) const
{
    const QString n = DOMCSSProperties::canonicalName(name);
    if (const QStringList *longhands = DOMCSSProperties::longhands(n)) {
        for (const QString &l : *longhands) {
            const int i = indexOf(l);
            if (i < 0 || !m_properties[std::size_t(i)].important)
                return {};
        }
        return kImportant;
    }
    const int i = indexOf(n);
    return i >= 0 && m_properties[std::size_t(i)].important ? kImportant : QString();
}

bool DOMCSSStyleDeclaration::apply(const QString &n, const QString &value, bool important)
{
    if (const QStringList *longhands = DOMCSSProperties::longhands(n)) {
        const auto values = DOMCSSProperties::expand(n, value);
        if (!values)
            return false;
        for (qsizetype i = 0; i < longhands->size(); ++i)
            store(longhands->at(i), values->at(i), important);
        return true;
    }
    if (n.isEmpty() || !DOMCSSProperties::isValidValue(n, value))
        return false;
    store(n, value, important);
    return true;
}

void DOMCSSStyleDeclaration::store(const QString &n, const QString &value, bool important)
{
    const int i = indexOf(n);
    if (i >= 0) {
        Property &p = m_properties[std::size_t(i)];
        p.value = value;
        p.important = important;
    } else {
        m_properties.push_back({n, value, important});
    }
}

bool DOMCSSStyleDeclaration::removeCanonical(const QString &n)
{
    bool removed = false;
    if (const QStringList *longhands = DOMCSSProperties::longhands(n)) {
        for (const QString &l : *longhands)
            removed = removeCanonical(l) || removed;
        return removed;
    }
    const int i = indexOf(n);
    if (i < 0)
        return false;
    m_properties.erase(m_properties.begin() + i);
    return true;
}

bool DOMCSSStyleDeclaration::setProperty(const QString &name, const QString &value, const QString &priority)
{
    const QString v = value.trimmed();
    if (v.isEmpty()) {
        removeProperty(name);
        return true;
    }
    const bool important = priority.compare(kImportant, Qt::CaseInsensitive) == 0;
    if (!important && !priority.isEmpty())
        return false;
    if (!apply(DOMCSSProperties::canonicalName(name), v, important))
        return false;
    tell(name, v, important ? kImportant : QString());
    return true;
}

QString DOMCSSStyleDeclaration::removeProperty(const QString &name)
{
    const QString n = DOMCSSProperties::canonicalName(name);
    const QString old = getPropertyValue(n);
    if (removeCanonical(n))
        tell(name, QString(), QString());
    return old;
}

QString DOMCSSStyleDeclaration::cssText() const
{
    if (m_properties.empty())
        return {};
    QString out;
    out.reserve(int(m_properties.size()) * 24);
    std::vector<bool> done(m_properties.size(), false);
    const auto write = [&out](const QString &name, const QString &value, bool important) {
        if (!out.isEmpty())
            out += QLatin1Char(' ');
        out += name;
        out += QLatin1String(": ");
        out += value;
        if (important)
            out += QLatin1String(" !important");
        out += QLatin1Char(';');
    };
    for (std::size_t i = 0; i < m_properties.size(); ++i) {
        if (done[i])
            continue;
        const Property &p = m_properties[i];
        bool written = false;
        for (const QString &shorthand : DOMCSSProperties::shorthandsOf(p.name)) {
            const QStringList &longhands = *DOMCSSProperties::longhands(shorthand);
            bool usable = true;
            for (const QString &l : longhands) {
                const int k = indexOf(l);
                if (k < 0 || done[std::size_t(k)] || m_properties[std::size_t(k)].important != p.important) {
                    usable = false;
                    break;
                }
            }
            if (!usable)
                continue;
            const QString value = getPropertyValue(shorthand);
            if (value.isEmpty())
                continue;
            write(shorthand, value, p.important);
            for (const QString &l : longhands)
                done[std::size_t(indexOf(l))] = true;
            written = true;
            break;
        }
        if (!written) {
            write(p.name, p.value, p.important);
            done[i] = true;
        }
    }
    return out;
}

void DOMCSSStyleDeclaration::parse(const QString &text)
{
    m_properties.clear();
    if (text.isEmpty())
        return;
    for (const QString &declaration : splitDeclarations(text)) {
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
        if (!value.isEmpty())
            apply(DOMCSSProperties::canonicalName(declaration.left(colon)), value, important);
    }
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

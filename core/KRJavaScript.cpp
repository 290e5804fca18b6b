#include "KRJavaScript.h"

#include <QRegularExpression>

namespace KRJavaScript {

QString quotedString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    out += QLatin1Char('"');
    const qsizetype n = text.size();
    const QChar *chars = text.constData();
    // Characters that need no escape are copied a run at a time.
    const auto plain = [](char16_t u) {
        return u >= 0x20 && u != 0x7f && u != '\\' && u != '"' && u != '/' && u != '<' && u != 0x2028 && u != 0x2029;
    };
    for (qsizetype i = 0; i < n; ++i) {
        if (plain(chars[i].unicode())) {
            qsizetype end = i + 1;
            while (end < n && plain(chars[end].unicode()))
                ++end;
            out.append(chars + i, end - i);
            i = end - 1;
            continue;
        }
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        switch (u) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case '\b': out += QLatin1String("\\b"); break;
        case '\f': out += QLatin1String("\\f"); break;
        case 0x2028: out += QLatin1String("\\u2028"); break;
        case 0x2029: out += QLatin1String("\\u2029"); break;
        case '/':
            // "</script" (any case) and "<!--" would end or confuse an enclosing script element.
            if (i > 0 && text.at(i - 1) == QLatin1Char('<'))
                out += QLatin1String("\\/");
            else
                out += c;
            break;
        case '<':
            if (text.mid(i, 4) == QLatin1String("<!--"))
                out += QLatin1String("\\x3C");
            else
                out += c;
            break;
        default:
            if (u < 0x20 || u == 0x7f)
                out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

bool isValidIdentifier(const QString &text)
{
    // A letter, "_" or "$", then letters, digits and "_", checked by hand (it is asked
    // thousands of times per build). Nothing else, not even a final line feed: an id is put
    // into generated scripts as it stands.
    const qsizetype size = text.size();
    if (size == 0)
        return false;
    const auto isLetter = [](char16_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    const char16_t first = text.at(0).unicode();
    if (!isLetter(first) && first != '$')
        return false;
    for (qsizetype i = 1; i < size; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!isLetter(c) && !(c >= '0' && c <= '9'))
            return false;
    }
    return true;
}

QString numberLiteral(const QString &value)
{
    qsizetype first = -1, last = -1;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i).unicode() >= '0' && value.at(i).unicode() <= '9') {
            if (first < 0)
                first = i;
            last = i;
        }
    }
    if (first < 0)
        return {};
    qsizetype start = first;
    if (start > 0 && value.at(start - 1) == QLatin1Char('.'))
        --start;
    if (start > 0 && value.at(start - 1) == QLatin1Char('-'))
        --start;
    QString run = value.mid(start, last - start + 1);
    static const QRegularExpression re(
        QStringLiteral("^(-?)(\\d*)((?:\\.\\d+)?)([eE][-+]?\\d+)?$"));
    const QRegularExpressionMatch m = re.match(run);
    if (!m.hasMatch())
        return {};
    QString integer = m.captured(2);
    const QString fraction = m.captured(3);
    if (integer.isEmpty() && fraction.isEmpty())
        return {};
    while (integer.size() > 1 && integer.startsWith(QLatin1Char('0')))
        integer.remove(0, 1);
    if (integer.isEmpty())
        integer = QStringLiteral("0");
    return m.captured(1) + integer + fraction + m.captured(4);
}

} // namespace KRJavaScript

#include "KRString.h"

#include <core/KRRegex.h>
#include <platform/foundation/KRException.h>

#include <functional>
#include <optional>

namespace {

std::int32_t toIndex(qsizetype index)
{
    return index < 0 ? -1 : static_cast<std::int32_t>(index);
}

// The pieces of one option or image line: text split at each "|", "\|" giving a literal bar.
// A direct scan, so no other text is ever taken for an escaped bar.
QStringList lineTokens(const QString &line)
{
    // Without an escape the pieces lie between the bars as they stand.
    if (!line.contains(QLatin1Char('\\')))
        return line.split(QLatin1Char('|'));
    QStringList pieces;
    QString current;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('|')) {
            current += QLatin1Char('|');
            ++i;
        } else if (c == QLatin1Char('|')) {
            pieces.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    pieces.append(current);
    return pieces;
}

QStringList nonEmptyLines(const QString &string)
{
    QStringList lines = string.split(QLatin1Char('\n'));
    lines.removeIf([](const QString &line) { return line.isEmpty(); });
    return lines;
}

QString substitute(const QString &string, const std::function<std::optional<QString>(const QString &)> &lookup,
                   bool removeNonmatched)
{
    static const KRRegex token(QStringLiteral("(\\{\\{[\\w]+\\}\\})"));
    const QList<KRRegexMatch> matches = token.allMatches(string);
    if (matches.isEmpty())
        return string;
    QString result = string;
    qsizetype shift = 0;
    for (const KRRegexMatch &match : matches) {
        const QString name = string.mid(match.start() + 2, match.length() - 4);
        std::optional<QString> value = lookup(name);
        if (!value) {
            if (!removeNonmatched)
                continue;
            value = QString();
        }
        result.replace(match.start() + shift, match.length(), *value);
        shift += value->size() - match.length();
    }
    return result;
}

QString textOf(const QVariant &value)
{
    return value.toString();
}

const QString &textOf(const QString &value)
{
    return value;
}

// Substitutes from a map of names to values (QVariantMap, QHash<QString, QString>).
template <typename Map>
QString substituteFrom(const QString &string, const Map &values, bool removeNonmatched)
{
    return substitute(
        string,
        [&values](const QString &name) -> std::optional<QString> {
            auto it = values.constFind(name);
            if (it == values.constEnd())
                return std::nullopt;
            return textOf(*it);
        },
        removeNonmatched);
}

} // namespace

namespace KRString {

int compareTo(const QString &string, const QString &other)
{
    const int order = string.compare(other, Qt::CaseSensitive);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int compareToIgnoreCase(const QString &string, const QString &other)
{
    return compareTo(string.toLower(), other.toLower());
}

bool contains(const QString &string, const QString &part)
{
    return !part.isEmpty() && string.contains(part);
}

bool startsWith(const QString &string, const QString &prefix)
{
    return !prefix.isEmpty() && string.startsWith(prefix);
}

bool endsWith(const QString &string, const QString &suffix)
{
    return !suffix.isEmpty() && suffix.size() <= string.size() && string.endsWith(suffix);
}

std::int32_t indexOf(const QString &string, const QString &part)
{
    return part.isEmpty() ? -1 : toIndex(string.indexOf(part));
}

std::int32_t indexOf(const QString &string, const QString &part, std::int32_t start)
{
    if (start < 0 || start > string.size())
        krRaise(KRExceptionName::Range, QStringLiteral("indexOf: start %1 beyond length %2").arg(start).arg(string.size()));
    return part.isEmpty() ? -1 : toIndex(string.indexOf(part, start));
}

std::int32_t lastIndexOf(const QString &string, const QString &part)
{
    return part.isEmpty() ? -1 : toIndex(string.lastIndexOf(part));
}

std::int32_t lastIndexOf(const QString &string, const QString &part, std::int32_t start)
{
    if (start < 0 || start > string.size())
        krRaise(KRExceptionName::Range, QStringLiteral("lastIndexOf: start %1 beyond length %2").arg(start).arg(string.size()));
    return lastIndexOf(string.mid(start), part);
}

QString substring(const QString &string, std::int32_t from, std::int32_t to)
{
    if (from < 0 || to < from || to > string.size()) {
        krRaise(KRExceptionName::Range,
                QStringLiteral("substring: range %1..%2 outside length %3").arg(from).arg(to).arg(string.size()));
    }
    return string.mid(from, to - from);
}

QString trim(const QString &string)
{
    return string.trimmed();
}

QStringList split(const QString &string, const QString &separator, int limit)
{
    QStringList pieces;
    if (separator.isEmpty()) {
        if (!string.isEmpty())
            pieces.append(string);
        return pieces;
    }
    qsizetype restStart = 0;
    for (;;) {
        const qsizetype found = string.indexOf(separator, restStart);
        if (found < 0)
            break;
        if (limit > 0 && pieces.size() >= limit - 1)
            break;
        pieces.append(string.mid(restStart, found - restStart));
        restStart = found + separator.size();
    }
    if (restStart < string.size())
        pieces.append(string.mid(restStart));
    return pieces;
}

QString replace(const QString &string, const QString &target, const QString &replacement)
{
    if (target.isEmpty())
        return string;
    QString result = string;
    return result.replace(target, replacement, Qt::CaseSensitive);
}

bool isValidEmail(const QString &string)
{
    static const KRRegex email(QStringLiteral("[A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]{2,4}"));
    return email.matchesEntirely(string);
}

QString hexStringFromBuffer(const void *buffer, qsizetype size)
{
    if (!buffer || size <= 0)
        return QString(QLatin1String(""));
    static const char digits[] = "0123456789abcdef";
    const auto *bytes = static_cast<const unsigned char *>(buffer);
    QString text;
    text.reserve(size * 2);
    for (qsizetype i = 0; i < size; ++i) {
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 0x0f]);
    }
    return text;
}

QString stringBySubstitutingTemplateValues(const QString &string, const QVariantMap &values, bool removeNonmatched)
{
    return substituteFrom(string, values, removeNonmatched);
}

QString stringBySubstitutingTemplateValues(const QString &string, const QHash<QString, QString> &values,
                                           bool removeNonmatched)
{
    return substituteFrom(string, values, removeNonmatched);
}

OrderedDictionary<QString, QString> parseOptionTokens(const QString &string)
{
    OrderedDictionary<QString, QString> options;
    for (const QString &line : nonEmptyLines(string)) {
        const QStringList pieces = lineTokens(line);
        const QString &key = pieces.at(0);
        options.setObject(pieces.size() > 1 ? pieces.at(1) : key, key);
    }
    return options;
}

QList<std::pair<QString, QString>> parseOptionTokenList(const QString &string)
{
    QList<std::pair<QString, QString>> options;
    // A list is mostly a few lines: a repeated key is searched for along it, and through a
    // table of places once it has grown long.
    constexpr qsizetype searched = 16;
    QHash<QString, qsizetype> places;
    for (const QString &line : nonEmptyLines(string)) {
        QStringList pieces = lineTokens(line);
        QString label = pieces.size() > 1 ? pieces.at(1) : pieces.at(0);
        QString &key = pieces[0];
        qsizetype place = -1;
        if (options.size() <= searched) {
            for (qsizetype i = 0; i < options.size(); ++i) {
                if (options.at(i).first == key) {
                    place = i;
                    break;
                }
            }
        } else {
            if (places.isEmpty()) {
                for (qsizetype i = 0; i < options.size(); ++i)
                    places.insert(options.at(i).first, i);
            }
            place = places.value(key, -1);
        }
        if (place >= 0) {
            options[place].second = std::move(label);
            continue;
        }
        if (!places.isEmpty())
            places.insert(key, options.size());
        options.append({std::move(key), std::move(label)});
    }
    return options;
}

QList<ImageToken> parseImageTokens(const QString &string)
{
    QList<ImageToken> images;
    images.reserve(10);
    for (const QString &line : nonEmptyLines(string)) {
        const QStringList pieces = lineTokens(line);
        images.append({pieces.at(0), pieces.size() > 1 ? pieces.at(1) : QString(QLatin1String(""))});
    }
    return images;
}

QString stringByPrependingString(const QString &string, const QString &prefix)
{
    return prefix + string;
}

} // namespace KRString

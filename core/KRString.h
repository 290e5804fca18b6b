#pragma once

#include <core/OrderedDictionary.h>

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <cstdint>
#include <utility>

// String operations with fixed edge behaviour that the model and the controls rely on.
// Indexes and lengths are UTF-16 code units; index results are 32-bit, -1 meaning "absent".
// A caller error (an index outside the string) raises NSRangeException. All functions are
// stateless and safe on any thread.
namespace KRString {

// -1, 0 or 1: case-sensitive comparison of UTF-16 code units.
int compareTo(const QString &string, const QString &other);
// compareTo of both strings in lower case.
int compareToIgnoreCase(const QString &string, const QString &other);

// An empty argument never occurs: contains, startsWith and endsWith give false for it.
bool contains(const QString &string, const QString &part);
bool startsWith(const QString &string, const QString &prefix);
// A true suffix test ("a.css.css" ends with ".css").
bool endsWith(const QString &string, const QString &suffix);

// First occurrence; -1 when absent or for an empty argument.
std::int32_t indexOf(const QString &string, const QString &part);
// First occurrence at or after `start`, counted from the beginning; start > length is a
// caller error.
std::int32_t indexOf(const QString &string, const QString &part, std::int32_t start);
// Start of the last occurrence, overlapping ones included ("aaa", "aa" → 1); -1 when absent.
std::int32_t lastIndexOf(const QString &string, const QString &part);
// lastIndexOf of the text from `start` on; the result counts from `start`.
std::int32_t lastIndexOf(const QString &string, const QString &part, std::int32_t start);

// Characters from `from` up to, not including, `to`; to < from or to > length is a caller error.
QString substring(const QString &string, std::int32_t from, std::int32_t to);
// Without white space and line breaks at both ends.
QString trim(const QString &string);

// Splits at each occurrence of the separator. A trailing separator leaves no empty last
// piece; leading and doubled ones give empty pieces; an empty string gives no pieces; an
// empty separator gives the string itself. With limit n > 0 at most n pieces are made, the
// last holding the unsplit rest; limit <= 0 means no limit.
QStringList split(const QString &string, const QString &separator, int limit = 0);

// Every literal occurrence of `target` replaced (an empty target replaces nothing).
QString replace(const QString &string, const QString &target, const QString &replacement);

// The whole string matches [A-Z0-9a-z._%+-]+@[A-Za-z0-9.-]+\.[A-Za-z]{2,4}.
bool isValidEmail(const QString &string);

// Two lower-case hexadecimal digits per byte, in order; "" for a size of 0 or less.
QString hexStringFromBuffer(const void *buffer, qsizetype size);

// Replaces each {{name}} token (name: one or more word characters) by the value of that name;
// a token without a value becomes "" when removeNonmatched holds and stays otherwise. Tokens
// are found once in the original text: inserted values are never searched again.
QString stringBySubstitutingTemplateValues(const QString &string, const QVariantMap &values,
                                           bool removeNonmatched);
QString stringBySubstitutingTemplateValues(const QString &string, const QHash<QString, QString> &values,
                                           bool removeNonmatched);

// One option per line ("value|label"): key and label, label = key for a line without "|",
// pieces after the second ignored, empty lines skipped, nothing trimmed (a carriage return is
// text). "\|" stands for a literal "|". A repeated key keeps its first place and last label.
OrderedDictionary<QString, QString> parseOptionTokens(const QString &string);
// The same entries as a list of (key, label) in key order, for reading them all once.
QList<std::pair<QString, QString>> parseOptionTokenList(const QString &string);

// The same lines as parseOptionTokens, one entry per non-empty line in order ("" value for a
// line without "|"); repeated keys give one entry each.
struct ImageToken
{
    QString key;
    QString value;
    friend bool operator==(const ImageToken &a, const ImageToken &b)
    {
        return a.key == b.key && a.value == b.value;
    }
};
QList<ImageToken> parseImageTokens(const QString &string);

// prefix + string.
QString stringByPrependingString(const QString &string, const QString &prefix);

} // namespace KRString

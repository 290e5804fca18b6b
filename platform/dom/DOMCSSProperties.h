#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// The property knowledge behind inline styles and rule declarations: names and their aliases,
// the shorthands with their longhands, how a shorthand value expands and how it is written
// back from its longhands, and which keyword-valued properties reject which values.
// Values are kept as written (no colour or unit normalisation).
class DOMCSSProperties
{
public:
    enum class ShorthandKind : unsigned char { None, Box, BorderSide, Border, Radius, Background, Font };

    // All the tables know of one canonical name, found with one look-up (a style sets and
    // writes the same few names over and over). The entries never change once made.
    struct Known {
        QString name;
        ShorthandKind kind = ShorthandKind::None;
        // A shorthand's longhands in their fixed order (empty for a longhand).
        std::vector<const Known *> longhands;
        // The shorthands containing this longhand, in shorthandsOf() order.
        std::vector<const Known *> shorthands;
        // The keywords of a keyword-valued property (lower case); null and empty for others.
        const QSet<QString> *keywords = nullptr;
        QStringList keywordList;

        bool isShorthand() const { return kind != ShorthandKind::None; }
    };

    // canonicalName() together with what the tables know of the result (null when nothing).
    static QString canonicalName(const QString &name, const Known **known);
    static std::optional<QStringList> expand(const Known &shorthand, const QString &value);
    // expand() without repeating what repeats: longhand i takes value i modulo the size of
    // the list (a border's four sides take one side's three values, a CSS-wide keyword is
    // given once).
    static std::optional<QStringList> expandRepeating(const Known &shorthand, const QString &value);
    static QString compose(const Known &shorthand, const QStringList &values);
    // isValidValue() with the property's entry already at hand.
    static bool isValidValue(const Known *known, const QString &canonicalName, const QString &value);

    // Lower-cased name with aliases resolved ("-webkit-border-radius" is "border-radius").
    // Custom properties ("--x") keep their case.
    static QString canonicalName(const QString &name);
    // The longhands of a shorthand in their fixed order; null for a longhand.
    static const QStringList *longhands(const QString &canonicalName);
    // Shorthands containing a longhand, those with more longhands first.
    static const QStringList &shorthandsOf(const QString &canonicalName);
    // The values of the shorthand's longhands (in longhands() order) that a shorthand value
    // sets; longhands the value leaves out get "initial". Nullopt when the value is not valid.
    static std::optional<QStringList> expand(const QString &shorthand, const QString &value);
    // The shorthand value for its longhands' values (in longhands() order); empty when the
    // shorthand cannot express them.
    static QString compose(const QString &shorthand, const QStringList &values);
    // False for a value a browser would reject for the property (only keyword properties are
    // checked; everything else with balanced brackets and no ";" is accepted).
    static bool isValidValue(const QString &canonicalName, const QString &value);
    static bool isCSSWideKeyword(const QString &value);

    // The text without white space at either end, as QString::trimmed() gives it; answered
    // inline for the usual name or value, which has none.
    static QString trimmed(const QString &text)
    {
        return text.isEmpty() || (!text.front().isSpace() && !text.back().isSpace()) ? text : text.trimmed();
    }

    // Splits at top-level white space (outside brackets and quotes).
    static QStringList splitTokens(const QString &value);
    // Splits at top-level occurrences of `separator`, trimming the pieces.
    static QStringList splitTopLevel(const QString &value, QChar separator);
};

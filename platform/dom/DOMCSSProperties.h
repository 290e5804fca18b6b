#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The property knowledge behind inline styles and rule declarations: names and their aliases,
// the shorthands with their longhands, how a shorthand value expands and how it is written
// back from its longhands, and which keyword-valued properties reject which values.
// Values are kept as written (no colour or unit normalisation).
class DOMCSSProperties
{
public:
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

    // Splits at top-level white space (outside brackets and quotes).
    static QStringList splitTokens(const QString &value);
    // Splits at top-level occurrences of `separator`, trimming the pieces.
    static QStringList splitTopLevel(const QString &value, QChar separator);
};

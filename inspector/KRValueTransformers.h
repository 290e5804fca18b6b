#pragma once

// Conversions between the model's text values and what the inspector's controls show.
// Model text (numbers, lengths) is always read and written in the C locale, whatever the
// user's locale: "0.5" stays valid CSS. Only display-only text follows the user's locale.

#include <QColor>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

// One value/description pair of an enumeration, in catalogue order.
struct KREnumOption
{
    QString value;
    QString description;
};
using KREnumOptions = QList<KREnumOption>;

// Display only: 0 is "-", thousands "1.5K", millions "2.5M".
struct KRHumanNumberValueTransformer
{
    static QString transformedValue(const QVariant &value);
};

// Display only: "yyyy-MM-dd kk:mm:ss" (hours 1 to 24) as the user's short date; text that
// does not match is shown as it is.
struct KRHumanDateValueTransformer
{
    static QString transformedValue(const QVariant &value);
};

// Model text to a stepper's number and back. A text ending in "%" is passed through and
// remembered, so the following reverse call writes the number back with "%".
class KRStepperValueTransformer
{
public:
    // A number (double) for readable text, the text itself for a percentage, none otherwise.
    QVariant transformedValue(const QVariant &value);
    // The model text for a number; a string is returned as it is; anything else gives "".
    QString reverseTransformedValue(const QVariant &value) const;
    int precision() const { return m_precision; }
    void setPrecision(int precision) { m_precision = precision; }
    bool isPercentage() const { return m_isPercentage; }

    // Reads a number from model text (C locale, white space trimmed); none when unreadable.
    static std::optional<double> readNumber(const QString &text);
    // Writes a number as model text with at most `precision` fraction digits.
    static QString writeNumber(double number, int precision);

private:
    int m_precision = 0;
    bool m_isPercentage = false;
};

// A stored value to its description; an unknown value is shown as itself.
class KRDictionaryValueTransformer
{
public:
    virtual ~KRDictionaryValueTransformer() = default;
    QString transformedValue(const QString &value) const;
    const KREnumOptions &values() const { return m_values; }
    void setValues(const KREnumOptions &values) { m_values = values; }

protected:
    KREnumOptions m_values;
};

// Two-way: a typed title is stored as its value, other text as typed.
class KRDictionaryValueTransformer2 : public KRDictionaryValueTransformer
{
public:
    QString reverseTransformedValue(const QString &description) const;
};

// "true" (any case) to a check-box state (1 on, 0 off, -1 mixed) and back.
class KRTrueFalseValueTransformer
{
public:
    int transformedValue(const QVariant &value) const;
    QVariant reverseTransformedValue(const QVariant &state) const;
    bool useTriState() const { return m_useTriState; }
    void setUseTriState(bool on) { m_useTriState = on; }

protected:
    bool m_useTriState = true;
};

class KRTrueFalseValueTransformer2 : public KRTrueFalseValueTransformer
{
public:
    KRTrueFalseValueTransformer2() { m_useTriState = false; }
};

// A box that is ticked when the property is not "true".
struct KRTrueFalseValueTransformerInverted
{
    static int transformedValue(const QVariant &value);
    static QVariant reverseTransformedValue(const QVariant &state);
};

// A number with up to two fraction digits (model text, C locale).
struct KRRoundingNumberValueTransformer2
{
    static QVariant transformedValue(const QVariant &value);
    static QVariant reverseTransformedValue(const QVariant &value);
};

// Model colour text to a colour; the reverse writes "#RRGGBB".
struct KRColorValueTransformer
{
    static std::optional<QColor> transformedValue(const QString &text);
    static QString reverseTransformedValue(const QColor &colour);
};

// What a content row shows for its property.
struct KRContentDescValueTransformer
{
    bool functionMode = false;
    QString transformedValue(const QVariant &value) const;
};

// Typed text of a CSS length property to the model text it is stored as. A pixel property
// holds a plain number, which the model writes with "px", or a percentage: "20", "20px" and
// " 20 PX" all store "20". Line height is stored as CSS text: a plain number (a multiple of
// the font size), a number with a CSS unit, a percentage or "normal". Empty text clears the
// property.
struct KRCSSLengthValueTransformer
{
    enum class Kind { None, Pixels, LineHeight };

    // The kind of a class's property ("fontSize" of "KRLabel": Pixels); None for properties
    // that are no length.
    static Kind kindOfProperty(const QString &className, const QString &propertyName);
    // The text to store; nullopt when the typed text is no length of that kind.
    static std::optional<QString> reverseTransformedValue(const QString &typed, Kind kind);
    // What such a property accepts, for the message that refuses other text.
    static QString expectedText(Kind kind);
};

// A CSS shadow "colour Xpx Ypx Blurpx" (lengths whole pixels).
struct KRTextShadow
{
    QString color = QStringLiteral("#000000");
    int x = 1;
    int y = 1;
    int blur = 1;

    // Reads the text; text that does not match gives the defaults.
    static KRTextShadow fromString(const QString &text);
    QString stringValue() const;
    friend bool operator==(const KRTextShadow &, const KRTextShadow &) = default;
};

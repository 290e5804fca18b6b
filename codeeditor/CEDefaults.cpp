#include "CEDefaults.h"

#include <platform/foundation/KRUserDefaults.h>

namespace CEDefaults {

namespace {

QString ceDefaultsRgb(double red, double green, double blue)
{
    return QColor::fromRgbF(float(red), float(green), float(blue)).name(QColor::HexArgb);
}

} // namespace

QVariantMap initialValues()
{
    return {
        {commandsColourWell, ceDefaultsRgb(0.031, 0, 0.855)},
        {commentsColourWell, ceDefaultsRgb(0, 0.45, 0)},
        {instructionsColourWell, ceDefaultsRgb(0.45, 0.45, 0.45)},
        {keywordsColourWell, ceDefaultsRgb(0.737, 0, 0.647)},
        {autocompleteColourWell, ceDefaultsRgb(0.84, 0.41, 0.006)},
        {variablesColourWell, ceDefaultsRgb(0.73, 0, 0.74)},
        {stringsColourWell, ceDefaultsRgb(0.804, 0.071, 0.153)},
        {attributesColourWell, ceDefaultsRgb(0.5, 0.5, 0.2)},
        {highlightLineColourWell, ceDefaultsRgb(0.96, 0.96, 0.71)},
        {colourCommands, true},
        {colourComments, true},
        {colourInstructions, true},
        {colourKeywords, true},
        {colourAutocomplete, false},
        {colourVariables, true},
        {colourStrings, true},
        {colourAttributes, true},
        {highlightCurrentLine, false},
        {onlyColourTillTheEndOfLine, true},
        {colourMultiLineStrings, false},
        {colourAutocompleteWordsAsKeywords, true},
        {syntaxColouringPopUpString, QStringLiteral("Standard")},
    };
}

void registerInitialValues(KRUserDefaults &defaults)
{
    defaults.registerInitialValues(initialValues());
}

QColor colourValue(const KRUserDefaults &defaults, const QString &key)
{
    const QVariant value = defaults.value(key);
    if (value.typeId() == QMetaType::QColor)
        return value.value<QColor>();
    return QColor::fromString(value.toString());
}

} // namespace CEDefaults

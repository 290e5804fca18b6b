#include "CEDefaults.h"

#include <platform/foundation/KRUserDefaults.h>

#include <QHash>
#include <QThread>

namespace CEDefaults {

namespace {

QString ceDefaultsRgb(double red, double green, double blue)
{
    return QColor::fromRgbF(float(red), float(green), float(blue)).name(QColor::HexArgb);
}

struct CEReadValues
{
    QHash<QString, bool> bools;
    QHash<QString, qint64> integers;
};

// Never destroyed: the shared defaults may outlive any static at exit, and their destruction
// still reaches the cache.
QHash<const KRUserDefaults *, CEReadValues> &ceReadValues()
{
    static auto *values = new QHash<const KRUserDefaults *, CEReadValues>;
    return *values;
}

// The values read from the defaults so far; empty after any change of theirs.
CEReadValues *ceReadValuesOf(const KRUserDefaults &defaults)
{
    if (QThread::currentThread() != defaults.thread())
        return nullptr;
    auto &all = ceReadValues();
    auto found = all.find(&defaults);
    if (found != all.end())
        return &*found;
    auto *object = const_cast<KRUserDefaults *>(&defaults);
    QObject::connect(object, &KRUserDefaults::valueChanged, object, [object] {
        auto it = ceReadValues().find(object);
        if (it != ceReadValues().end())
            *it = {};
    });
    QObject::connect(object, &QObject::destroyed, [object] { ceReadValues().remove(object); });
    return &*all.insert(&defaults, {});
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

bool boolValue(const KRUserDefaults &defaults, const QString &key)
{
    CEReadValues *read = ceReadValuesOf(defaults);
    if (!read)
        return defaults.boolValue(key);
    auto found = read->bools.constFind(key);
    if (found == read->bools.constEnd())
        found = read->bools.insert(key, defaults.boolValue(key));
    return *found;
}

qint64 integerValue(const KRUserDefaults &defaults, const QString &key)
{
    CEReadValues *read = ceReadValuesOf(defaults);
    if (!read)
        return defaults.integerValue(key);
    auto found = read->integers.constFind(key);
    if (found == read->integers.constEnd())
        found = read->integers.insert(key, defaults.integerValue(key));
    return *found;
}

} // namespace CEDefaults

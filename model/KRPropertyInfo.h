#pragma once

#include <core/OrderedDictionary.h>

#include <QString>

#include <cstdint>
#include <optional>

// Inspector metadata of one property of one class, as the catalogue describes it. A new
// record has type 0, every flag false and every other field empty.
struct KRPropertyInfo
{
    // Type codes of the catalogue's type words.
    enum Type : std::int32_t {
        String = 0,
        MultilineString = 25,
        Number = 50,
        Color = 100,
        Enum = 200,
        Function = 300,
        HTML = 400,
        JavaScript = 500,
    };

    // The code of a type word; 0 for an unknown or empty word (known set to false then).
    static std::int32_t typeCodeForWord(const QString &word, bool *known = nullptr);

    QString name; // without the "kr_" prefix
    std::int32_t propertyType = String;
    QString group;
    bool groupOpen = false;
    OrderedDictionary<QString, QString> enumOptions; // key to label
    std::optional<double> minValue;
    std::optional<double> maxValue;
    std::optional<double> increment;
    std::optional<int> precision;
    QString defaultValue;
    bool serverFunction = false;
    bool pluginProperty = false;
};

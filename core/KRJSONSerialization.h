#pragma once

#include <platform/foundation/KRError.h>

#include <nlohmann/json.hpp>

#include <QString>
#include <QVariant>

#include <optional>
#include <string_view>

// JSON text from values, for the page map of server pages and request bodies.
namespace KRJSONSerialization {

enum WritingOption {
    Compact = 0,
    PrettyPrinted = 1, // two blanks per level, one member per line
};

inline const QString errorDomain = QStringLiteral("KRJSONErrorDomain");

// The JSON text of the value (objects keep their member order); an error when the value
// cannot be written (text that is not valid UTF-8).
KRResult<QString> UTF8StringWithJSONObject(const nlohmann::ordered_json &object, int options = Compact);
// The same from a QVariant of strings, numbers, booleans, lists and maps (a map's members
// in key order); an error for a value of any other type.
KRResult<QString> UTF8StringWithJSONObject(const QVariant &object, int options = Compact);

// The deepest arrays and objects may be nested in JSON text read here (the outermost one is
// at depth 1): writing a value, and the script engine reading it, go once down each level.
inline constexpr int MaximumDepth = 512;
// The depth of the deepest array or object in the JSON text (0 for a scalar), counted
// outside strings, in one pass that stops at the first level past `stopPast`.
int nestingDepth(std::string_view text, int stopPast = MaximumDepth);
// The value of the JSON text; nullopt when the text is no JSON or nests deeper than
// MaximumDepth.
std::optional<nlohmann::ordered_json> parse(std::string_view text);

// The JSON value of a QVariant as above; an error for a value of an unsupported type.
KRResult<nlohmann::ordered_json> jsonFromVariant(const QVariant &value);

} // namespace KRJSONSerialization

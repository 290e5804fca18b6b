#pragma once

#include <platform/foundation/KRError.h>

#include <nlohmann/json.hpp>

#include <QByteArray>
#include <QJsonDocument>
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
// Every reader of JSON text that comes from outside (a project's item lists and per-device
// values, a paste, a plug-in manifest, a service's reply, a helper program's answer) goes
// through read or readDocument: text nested deeper than MaximumDepth is refused before any
// tree is built, since building, copying and freeing a tree each go once down every level.
//
// The value of the JSON text, or an error: one naming the depth (userInfo "depth" and
// "refused") for text nested deeper than MaximumDepth, another for text that is no JSON; both
// with a "reason" to quote.
KRResult<nlohmann::ordered_json> read(std::string_view text);
// The same as a Qt document, for the readers that walk QJsonValues.
KRResult<QJsonDocument> readDocument(const QByteArray &text);
// Nothing for text nested no deeper than MaximumDepth, else the error read gives for it. One
// pass of the text, and no tree: for those who only hold the text.
KRResult<void> checkDepth(std::string_view text);
// Why text nested `depth` levels deep is refused: "nests arrays and objects 600 levels deep,
// and JSON may nest them at most 512 levels deep".
QString tooDeepReason(int depth);
// The value of the JSON text; nullopt where read gives an error.
std::optional<nlohmann::ordered_json> parse(std::string_view text);

// Compact JSON text as a project file keeps it: each character the file cannot hold as it is
// (see KRXMLDocument::storableText) is written as a \uXXXX escape, which reads back as that
// very character, where the writers put it raw. Every JSON text the application writes into a
// project goes through one of these.
QString storableText(const QJsonDocument &document);
QString storableText(const nlohmann::ordered_json &value);

// The JSON value of a QVariant as above; an error for a value of an unsupported type.
KRResult<nlohmann::ordered_json> jsonFromVariant(const QVariant &value);

} // namespace KRJSONSerialization

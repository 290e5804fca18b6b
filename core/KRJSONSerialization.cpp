#include "KRJSONSerialization.h"

#include <core/KRVariantMap.h>
#include <core/KRXMLDocument.h>

#include <QVariantHash>
#include <algorithm>
#include <limits>
#include <QVariantList>
#include <QVariantMap>

namespace KRJSONSerialization {

int nestingDepth(std::string_view text, int stopPast)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > stopPast)
                return deepest;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

namespace {

// The text with every character XML cannot hold escaped. Such characters stand only inside
// strings (JSON writes controls as escapes already), where an escape means the same.
QString escapedUnstorable(const QString &json)
{
    return KRXMLDocument::replacingUnstorable(json, [](QString &out, char16_t unit) {
        out.append(QStringLiteral("\\u%1").arg(unit, 4, 16, QLatin1Char('0')));
    });
}

} // namespace

QString storableText(const QJsonDocument &document)
{
    return escapedUnstorable(QString::fromUtf8(document.toJson(QJsonDocument::Compact)));
}

QString storableText(const nlohmann::ordered_json &value)
{
    return escapedUnstorable(QString::fromStdString(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
}

QString tooDeepReason(int depth)
{
    return QStringLiteral("nests arrays and objects %1 levels deep, and JSON may nest them at most %2 levels deep")
        .arg(depth)
        .arg(MaximumDepth);
}

// The depth named is the text's own: counting on past the bound costs one more pass of the
// text only when it is refused.
KRResult<void> checkDepth(std::string_view text)
{
    if (nestingDepth(text) <= MaximumDepth)
        return {};
    const int depth = nestingDepth(text, std::numeric_limits<int>::max());
    const QString reason = QStringLiteral("it ") + tooDeepReason(depth);
    return KRError(errorDomain, 2, QStringLiteral("The JSON text is refused: %1.").arg(reason),
                   {{QStringLiteral("depth"), depth}, {QStringLiteral("refused"), true}, {QStringLiteral("reason"), reason}});
}

KRResult<nlohmann::ordered_json> read(std::string_view text)
{
    if (KRResult<void> within = checkDepth(text); !within)
        return within.error();
    // Without exceptions: per-device values are read this way, and most of them are no JSON.
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(text, nullptr, false);
    if (json.is_discarded())
        return KRError(errorDomain, 3, QStringLiteral("The text is not valid JSON."),
                       {{QStringLiteral("reason"), QStringLiteral("not valid JSON")}});
    return json;
}

KRResult<QJsonDocument> readDocument(const QByteArray &text)
{
    if (KRResult<void> within = checkDepth(std::string_view(text.constData(), std::size_t(text.size()))); !within)
        return within.error();
    QJsonParseError error;
    QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        const QString reason = QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset);
        return KRError(errorDomain, 3, QStringLiteral("The text is not valid JSON: %1.").arg(reason),
                       {{QStringLiteral("reason"), reason}});
    }
    return document;
}

std::optional<nlohmann::ordered_json> parse(std::string_view text)
{
    KRResult<nlohmann::ordered_json> json = read(text);
    if (!json)
        return std::nullopt;
    return std::move(json).value();
}

KRResult<QString> UTF8StringWithJSONObject(const nlohmann::ordered_json &object, int options)
{
    try {
        const std::string text = (options & PrettyPrinted) ? object.dump(2) : object.dump();
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    } catch (const nlohmann::json::exception &exception) {
        return KRError(errorDomain, exception.id,
                       QStringLiteral("The value could not be written as JSON: %1.").arg(QString::fromUtf8(exception.what())));
    }
}

KRResult<nlohmann::ordered_json> jsonFromVariant(const QVariant &value)
{
    using json = nlohmann::ordered_json;
    if (!value.isValid() || value.isNull())
        return json(nullptr);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return json(value.toBool());
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return json(value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        return json(value.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return json(value.toDouble());
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QByteArray utf8 = value.typeId() == QMetaType::QString ? value.toString().toUtf8() : value.toByteArray();
        return json(std::string(utf8.constData(), static_cast<size_t>(utf8.size())));
    }
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        json array = json::array();
        for (const QVariant &element : value.toList()) {
            KRResult<json> converted = jsonFromVariant(element);
            if (!converted)
                return converted.error();
            array.push_back(std::move(converted).value());
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        const QVariantMap map = KRVariantMap::sortedMap(value);
        json object = json::object();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            KRResult<json> converted = jsonFromVariant(it.value());
            if (!converted)
                return converted.error();
            object[it.key().toStdString()] = std::move(converted).value();
        }
        return object;
    }
    default:
        return KRError(errorDomain, 1,
                       QStringLiteral("A value of type %1 cannot be written as JSON.").arg(QString::fromLatin1(value.typeName())));
    }
}

KRResult<QString> UTF8StringWithJSONObject(const QVariant &object, int options)
{
    KRResult<nlohmann::ordered_json> converted = jsonFromVariant(object);
    if (!converted)
        return converted.error();
    return UTF8StringWithJSONObject(converted.value(), options);
}

} // namespace KRJSONSerialization

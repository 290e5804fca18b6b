#include "KREditableResourceTypes.h"

#include <core/KRJSONSerialization.h>
#include <core/KRRunLogger.h>
#include <platform/foundation/KRAlertService.h>
#include <platform/foundation/KRResources.h>

#include <QFile>

#include <nlohmann/json.hpp>

static QString fromJson(const nlohmann::ordered_json &value)
{
    return QString::fromStdString(value.get<std::string>());
}

KRResult<KREditableResourceTypes> KREditableResourceTypes::loadFromData(const QByteArray &json)
{
    KRResult<nlohmann::ordered_json> read =
        KRJSONSerialization::read(std::string_view(json.constData(), std::size_t(json.size())));
    if (!read)
        return KRError(QString::fromLatin1(ErrorDomain), 1,
                       QStringLiteral("The table of editable resource types is not read: %1").arg(read.error().message()));
    const nlohmann::ordered_json root = std::move(read).value();

    KREditableResourceTypes table;
    if (!root.is_array())
        return table;
    int index = 0;
    for (const nlohmann::ordered_json &entry : root) {
        const auto skip = [index](const char *reason) {
            KR_LOG(QStringLiteral("Skipping editable resource type %1 due to %2")
                       .arg(index)
                       .arg(QLatin1String(reason)));
        };
        ++index;
        if (!entry.is_object()) {
            skip("not being an object");
            continue;
        }
        const auto extensions = entry.find("extensions");
        if (extensions == entry.end() || !extensions->is_array()) {
            skip("a missing \"extensions\" array");
            continue;
        }
        KREditableResourceType type;
        for (const nlohmann::ordered_json &extension : *extensions) {
            if (extension.is_string())
                type.extensions.append(fromJson(extension));
        }
        if (const auto syntax = entry.find("syntax"); syntax != entry.end() && syntax->is_string())
            type.syntax = fromJson(*syntax);
        if (const auto tmpl = entry.find("template"); tmpl != entry.end() && tmpl->is_object()) {
            const auto description = tmpl->find("description");
            const auto file = tmpl->find("templateFile");
            if (description != tmpl->end() && description->is_string() && file != tmpl->end()
                && file->is_string()) {
                type.templateDescription = fromJson(*description);
                type.templateFile = fromJson(*file);
            } else {
                skip("an incomplete \"template\" (type kept without it)");
            }
        }
        table.m_types.append(type);
    }
    return table;
}

KRResult<KREditableResourceTypes> KREditableResourceTypes::loadFromFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return KRError(QString::fromLatin1(ErrorDomain), 2,
                       QStringLiteral("The table of editable resource types \"%1\" cannot be read: %2")
                           .arg(path, file.errorString()));
    }
    return loadFromData(file.readAll());
}

const KREditableResourceTypes &KREditableResourceTypes::shared()
{
    // A damaged table is shown once and leaves nothing editable; it does not end the
    // application, which would take unsaved projects with it.
    static const KREditableResourceTypes table = [] {
        auto loaded = loadFromFile(KRResources::pathForResource(QString::fromLatin1(FileName)));
        if (loaded.ok())
            return std::move(loaded).value();
        KR_LOG(loaded.error().toString());
        KRAlert alert;
        alert.style = KRAlert::Style::Critical;
        alert.messageText = loaded.error().message();
        KRAlertService::current().runModal(alert);
        return KREditableResourceTypes();
    }();
    return table;
}

const KREditableResourceType *KREditableResourceTypes::typeForExtension(const QString &extension) const
{
    for (const KREditableResourceType &type : m_types) {
        if (type.extensions.contains(extension))
            return &type;
    }
    return nullptr;
}

QList<KREditableResourceType> KREditableResourceTypes::templates() const
{
    QList<KREditableResourceType> result;
    for (const KREditableResourceType &type : m_types) {
        if (type.hasTemplate())
            result.append(type);
    }
    return result;
}

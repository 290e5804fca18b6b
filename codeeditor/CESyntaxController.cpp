#include "CESyntaxController.h"

#include <core/KRPropertyList.h>
#include <platform/foundation/KRAssert.h>
#include <platform/foundation/KRPaths.h>
#include <platform/foundation/KRResources.h>

#include <QDir>
#include <QFileInfo>

CESyntaxController &CESyntaxController::sharedInstance()
{
    static CESyntaxController shared(KRResources::pathForResource(QStringLiteral("syntax")),
                                     KRPaths::applicationSupportDirectory());
    return shared;
}

CESyntaxController::CESyntaxController(const QString &shippedDirectory, const QString &userDirectory)
    : m_shippedDirectory(shippedDirectory), m_userDirectory(userDirectory)
{
    insertSyntaxDefinitions();
}

void CESyntaxController::addSyntaxDefinitions(QVariantList &entries, const QString &path)
{
    if (!QFileInfo::exists(path))
        return;
    KRResult<QVariant> list = KRPropertyList::propertyListFromFile(path);
    if (!list || list->typeId() != QMetaType::QVariantList) {
        qWarning("Syntax definition index %s is not a list", qPrintable(path));
        return;
    }
    entries.append(list->toList());
}

void CESyntaxController::insertSyntaxDefinitions()
{
    QVariantList entries{
        QVariantMap{{"name", standardSyntaxDefinitionName()}, {"file", "standard"}, {"extensions", ""}},
        QVariantMap{{"name", "None"}, {"file", "none"}, {"extensions", ""}},
    };
    const QString shippedIndex = QDir(m_shippedDirectory).filePath(indexFileName);
    KR_ASSERT(QFileInfo::exists(shippedIndex), "framework syntax definitions not found");
    addSyntaxDefinitions(entries, shippedIndex);
    if (!m_userDirectory.isEmpty())
        addSyntaxDefinitions(entries, QDir(m_userDirectory).filePath(indexFileName));

    for (const QVariant &entry : std::as_const(entries)) {
        if (entry.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap map = entry.toMap();
        const QVariant name = map.value("name");
        const QVariant extensions = map.value("extensions");
        if (name.typeId() != QMetaType::QString || name.toString().isEmpty()
            || extensions.typeId() == QMetaType::QVariantList)
            continue;
        CESyntaxRecord record;
        record.name = name.toString();
        if (map.value("file").typeId() == QMetaType::QString)
            record.file = map.value("file").toString();
        if (extensions.typeId() == QMetaType::QString)
            record.extensions = extensions.toString();
        record.sortOrder = int(m_names.size());
        const QString key = record.name.toLower();
        if (auto found = m_recordByName.constFind(key); found != m_recordByName.constEnd()) {
            m_records[*found] = record;
        } else {
            m_recordByName.insert(key, m_records.size());
            m_records.append(record);
        }
        m_names.append(record.name);
    }
}

CESyntaxRecord CESyntaxController::standardSyntaxDefinition() const
{
    const qsizetype index = m_recordByName.value(standardSyntaxDefinitionName().toLower(), -1);
    KR_ASSERT(index >= 0, "standard syntax definition not found");
    return m_records.at(index);
}

CESyntaxRecord CESyntaxController::syntaxDefinitionWithName(const QString &name) const
{
    const qsizetype index = m_recordByName.value(name.toLower(), -1);
    return index >= 0 ? m_records.at(index) : standardSyntaxDefinition();
}

std::optional<CESyntaxRecord> CESyntaxController::syntaxDefinitionWithExtension(const QString &extension) const
{
    const QString wanted = extension.toLower();
    if (wanted.isEmpty())
        return std::nullopt;
    for (const CESyntaxRecord &record : m_records) {
        if (record.extensions.isEmpty())
            continue;
        QString extensions = record.extensions;
        extensions.remove(QLatin1Char('.'));
        if (extensions.split(QLatin1Char(' ')).contains(wanted))
            return record;
    }
    return std::nullopt;
}

QString CESyntaxController::syntaxDefinitionNameWithExtension(const QString &extension) const
{
    const auto record = syntaxDefinitionWithExtension(extension);
    return record ? record->name : QString();
}

std::optional<QVariantMap> CESyntaxController::readDefinition(const CESyntaxRecord &record) const
{
    // A file name from the user's index must not reach outside the definition folders.
    if (record.file.isEmpty() || record.file.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString fileName = record.file + QStringLiteral(".plist");
    for (const QString &directory : {m_shippedDirectory, m_userDirectory}) {
        if (directory.isEmpty())
            continue;
        const QString path = QDir(directory).filePath(fileName);
        if (!QFileInfo::exists(path))
            continue;
        KRResult<QVariant> definition = KRPropertyList::propertyListFromFile(path);
        if (definition && definition->typeId() == QMetaType::QVariantMap)
            return definition->toMap();
        qWarning("Syntax definition %s is not a dictionary", qPrintable(path));
    }
    return std::nullopt;
}

std::optional<QVariantMap> CESyntaxController::syntaxDictionaryWithName(const QString &name) const
{
    const CESyntaxRecord record = syntaxDefinitionWithName(name.isNull() ? standardSyntaxDefinitionName() : name);
    if (auto definition = readDefinition(record))
        return definition;
    return readDefinition(standardSyntaxDefinition());
}

#include "OrderedDictionary.h"

#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

QString krDescriptionOfEntries(const QList<std::pair<QString, QString>> &entries, int indent)
{
    const QString indentation = QStringLiteral("    ").repeated(qMax(indent, 0));
    QString text = indentation + QStringLiteral("{\n");
    for (const auto &[key, value] : entries)
        text += indentation + QStringLiteral("    ") + key + QStringLiteral(" = ") + value + QStringLiteral(";\n");
    text += indentation + QStringLiteral("}\n");
    return text;
}

QString krDescriptionText(const QString &value, const QLocale &, int)
{
    return value;
}

QString krDescriptionText(const QVariant &value, const QLocale &locale, int indent)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QList<std::pair<QString, QString>> entries;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            entries.append({it.key(), krDescriptionText(it.value(), locale, indent)});
        return krDescriptionOfEntries(entries, indent);
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = value.toList();
        const QString indentation = QStringLiteral("    ").repeated(qMax(indent, 0));
        QString text = indentation + QStringLiteral("(\n");
        for (qsizetype i = 0; i < list.size(); ++i) {
            text += indentation + QStringLiteral("    ") + krDescriptionText(list.at(i), locale, indent);
            text += i + 1 < list.size() ? QStringLiteral(",\n") : QStringLiteral("\n");
        }
        return text + indentation + QStringLiteral(")");
    }
    case QMetaType::Double:
    case QMetaType::Float:
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        if (!value.isValid())
            return QStringLiteral("<null>");
        return value.toString();
    }
}

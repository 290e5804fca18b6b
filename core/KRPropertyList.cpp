#include "KRPropertyList.h"

#include <core/KRFileManagerAdditions.h>
#include <core/KRVariantMap.h>
#include <core/KRXMLDocument.h>

#include <QDateTime>
#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

namespace {

KRError formatError(const QString &message, int line)
{
    return KRError(KRPropertyList::errorDomain, 2,
                   line > 0 ? QStringLiteral("The property list is not valid: line %1: %2.").arg(line).arg(message)
                            : QStringLiteral("The property list is not valid: %1.").arg(message),
                   {{QStringLiteral("line"), line}});
}

KRResult<QVariant> readValue(const KRXMLNode &element, int depth)
{
    if (depth > 512)
        return formatError(QStringLiteral("nested too deeply"), element.lineNumber());
    const QString type = element.name();
    if (type == QLatin1String("dict")) {
        QVariantMap map;
        const QList<KRXMLNode> children = element.elements();
        for (qsizetype i = 0; i < children.size(); i += 2) {
            if (children.at(i).name() != QLatin1String("key"))
                return formatError(QStringLiteral("<key> expected in <dict>, found <%1>").arg(children.at(i).name()),
                                   children.at(i).lineNumber());
            if (i + 1 >= children.size())
                return formatError(QStringLiteral("<key> without a value"), children.at(i).lineNumber());
            KRResult<QVariant> value = readValue(children.at(i + 1), depth + 1);
            if (!value)
                return value;
            map.insert(children.at(i).stringValue(), value.value());
        }
        return QVariant(map);
    }
    if (type == QLatin1String("array")) {
        QVariantList list;
        for (const KRXMLNode &child : element.elements()) {
            KRResult<QVariant> value = readValue(child, depth + 1);
            if (!value)
                return value;
            list.append(value.value());
        }
        return QVariant(list);
    }
    if (type == QLatin1String("string"))
        return QVariant(element.stringValue());
    if (type == QLatin1String("integer")) {
        const QString text = element.stringValue().trimmed();
        bool ok = false;
        const qlonglong value = text.toLongLong(&ok, 10);
        if (ok)
            return QVariant(value);
        const qulonglong unsignedValue = text.toULongLong(&ok, 10);
        if (ok)
            return QVariant(unsignedValue);
        if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
            const qlonglong hexValue = text.mid(2).toLongLong(&ok, 16);
            if (ok)
                return QVariant(hexValue);
        }
        return formatError(QStringLiteral("bad <integer> \"%1\"").arg(text), element.lineNumber());
    }
    if (type == QLatin1String("real")) {
        const QString text = element.stringValue().trimmed();
        const QString lower = text.toLower();
        if (lower == QLatin1String("nan"))
            return QVariant(std::nan(""));
        if (lower == QLatin1String("inf") || lower == QLatin1String("+inf") || lower == QLatin1String("infinity")
            || lower == QLatin1String("+infinity"))
            return QVariant(HUGE_VAL);
        if (lower == QLatin1String("-inf") || lower == QLatin1String("-infinity"))
            return QVariant(-HUGE_VAL);
        bool ok = false;
        const double value = text.toDouble(&ok);
        if (!ok)
            return formatError(QStringLiteral("bad <real> \"%1\"").arg(text), element.lineNumber());
        return QVariant(value);
    }
    if (type == QLatin1String("true"))
        return QVariant(true);
    if (type == QLatin1String("false"))
        return QVariant(false);
    if (type == QLatin1String("date")) {
        const QString text = element.stringValue().trimmed();
        QDateTime date = QDateTime::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return formatError(QStringLiteral("bad <date> \"%1\"").arg(text), element.lineNumber());
        return QVariant(date.toUTC());
    }
    if (type == QLatin1String("data")) {
        QByteArray base64 = element.stringValue().toLatin1();
        base64.replace(' ', "").replace('\t', "").replace('\n', "").replace('\r', "");
        const auto decoded = QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return formatError(QStringLiteral("bad base64 in <data>"), element.lineNumber());
        return QVariant(*decoded);
    }
    return formatError(QStringLiteral("unknown element <%1>").arg(type), element.lineNumber());
}

QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '\t': case '\n': case '\r': out += c; break;
        default:
            if (c.unicode() >= 0x20)
                out += c; // C0 controls cannot stand in XML: dropped
            break;
        }
    }
    return out;
}

bool writeValue(const QVariant &value, int depth, QString &out, QString &failure)
{
    const QString indent(depth, QLatin1Char('\t'));
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        const QVariantMap map = KRVariantMap::sortedMap(value);
        if (map.isEmpty()) {
            out += indent + QLatin1String("<dict/>\n");
            return true;
        }
        out += indent + QLatin1String("<dict>\n");
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            out += indent + QLatin1String("\t<key>") + escaped(it.key()) + QLatin1String("</key>\n");
            if (!writeValue(it.value(), depth + 1, out, failure))
                return false;
        }
        out += indent + QLatin1String("</dict>\n");
        return true;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        const QVariantList list = value.toList();
        if (list.isEmpty()) {
            out += indent + QLatin1String("<array/>\n");
            return true;
        }
        out += indent + QLatin1String("<array>\n");
        for (const QVariant &element : list) {
            if (!writeValue(element, depth + 1, out, failure))
                return false;
        }
        out += indent + QLatin1String("</array>\n");
        return true;
    }
    case QMetaType::QString:
        out += indent + QLatin1String("<string>") + escaped(value.toString()) + QLatin1String("</string>\n");
        return true;
    case QMetaType::Bool:
        out += indent + (value.toBool() ? QLatin1String("<true/>\n") : QLatin1String("<false/>\n"));
        return true;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        out += indent + QLatin1String("<integer>") + QString::number(value.toLongLong()) + QLatin1String("</integer>\n");
        return true;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
        out += indent + QLatin1String("<integer>") + QString::number(value.toULongLong()) + QLatin1String("</integer>\n");
        return true;
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = value.toDouble();
        QString text;
        if (std::isnan(d))
            text = QStringLiteral("nan");
        else if (std::isinf(d))
            text = d > 0 ? QStringLiteral("+infinity") : QStringLiteral("-infinity");
        else
            text = QString::number(d, 'g', QLocale::FloatingPointShortest);
        out += indent + QLatin1String("<real>") + text + QLatin1String("</real>\n");
        return true;
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid()) {
            failure = QStringLiteral("an invalid date");
            return false;
        }
        out += indent + QLatin1String("<date>") + date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"))
            + QLatin1String("</date>\n");
        return true;
    }
    case QMetaType::QByteArray:
        out += indent + QLatin1String("<data>") + QString::fromLatin1(value.toByteArray().toBase64())
            + QLatin1String("</data>\n");
        return true;
    default:
        failure = value.isValid() ? QStringLiteral("a value of type %1").arg(QString::fromLatin1(value.typeName()))
                                  : QStringLiteral("an empty value");
        return false;
    }
}

} // namespace

namespace KRPropertyList {

KRResult<QVariant> propertyListFromData(const QByteArray &bytes)
{
    KRResult<KRXMLDocument> document = KRXMLDocument::fromData(bytes);
    if (!document)
        return KRError(errorDomain, 1, document.error().message(), document.error().userInfo());
    const KRXMLNode root = document.value().rootElement();
    if (!root || root.name() != QLatin1String("plist"))
        return formatError(QStringLiteral("the root element is not <plist>"), root ? root.lineNumber() : 0);
    const QList<KRXMLNode> values = root.elements();
    if (values.size() != 1)
        return formatError(QStringLiteral("<plist> must hold exactly one value"), root.lineNumber());
    return readValue(values.first(), 0);
}

KRResult<QVariant> propertyListFromFile(const QString &path)
{
    // Looked at before anything is read: a pipe would block the read for ever, and a large
    // (or sparse) file would be read whole before the parser refused it.
    const KRResult<QByteArray> bytes = KRFileManager::readPackageFile(path, MaximumFileSize);
    if (!bytes) {
        return KRError(errorDomain, 3, QStringLiteral("%1 (%2)").arg(bytes.error().message(), path),
                       {{QStringLiteral("path"), path}, {QStringLiteral("reason"), bytes.error().code()}});
    }
    KRResult<QVariant> result = propertyListFromData(bytes.value());
    if (!result) {
        QVariantMap info = result.error().userInfo();
        info.insert(QStringLiteral("path"), path);
        return KRError(errorDomain, result.error().code(),
                       QStringLiteral("%1 (%2)").arg(result.error().message(), path), info);
    }
    return result;
}

KRResult<QByteArray> dataFromPropertyList(const QVariant &value)
{
    QString text = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\">\n");
    QString failure;
    if (!writeValue(value, 0, text, failure))
        return KRError(errorDomain, 4, QStringLiteral("The property list cannot hold %1.").arg(failure));
    text += QLatin1String("</plist>\n");
    return text.toUtf8();
}

KRResult<void> writePropertyList(const QVariant &value, const QString &path)
{
    KRResult<QByteArray> bytes = dataFromPropertyList(value);
    if (!bytes)
        return bytes.error();
    const KRResult<void> written = KRFileManager::writeFileAtomically(path, bytes.value());
    if (!written) {
        return KRError(errorDomain, 5,
                       QStringLiteral("The file \"%1\" could not be written: %2.").arg(path, written.error().message()),
                       {{QStringLiteral("path"), path}});
    }
    return {};
}

} // namespace KRPropertyList

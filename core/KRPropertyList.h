#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QString>
#include <QVariant>

// XML property lists (the "plist" format of syntax definitions, caches and read state) to and
// from QVariant.
//
// Types: dict ↔ QVariantMap (a QVariantHash is also written), array ↔ QVariantList (a
// QStringList is also written), string ↔ QString, integer ↔ qlonglong (qulonglong above its
// range), real ↔ double, true/false ↔ bool, date ↔ QDateTime (UTC, ISO 8601 "Z" form),
// data ↔ QByteArray (base64).
//
// Dictionaries are QVariantMap, so their keys come back sorted, and are written sorted. This
// is the usual order of property lists; a format that needs another order keeps it in an
// array.
namespace KRPropertyList {

inline const QString errorDomain = QStringLiteral("KRPropertyListErrorDomain");

// The longest property list read from a file (16 MiB).
inline constexpr qint64 MaximumFileSize = qint64(16) << 20;

KRResult<QVariant> propertyListFromData(const QByteArray &bytes);
// Only a regular file of at most MaximumFileSize is read: a pipe, a device, a folder or a
// larger file is refused before anything is read, naming the file and why.
KRResult<QVariant> propertyListFromFile(const QString &path);

// The XML text of the value; an error for a value of a type the format cannot hold
// (including an invalid QVariant inside a container).
KRResult<QByteArray> dataFromPropertyList(const QVariant &value);
// Writes the XML text atomically (a temporary file renamed over the target).
KRResult<void> writePropertyList(const QVariant &value, const QString &path);

} // namespace KRPropertyList

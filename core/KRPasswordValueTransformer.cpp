#include "KRPasswordValueTransformer.h"

#include <core/KRDataExtensions.h>

#include <QStringDecoder>

QString KRPasswordValueTransformer::transformedValue(const QString &stored) const
{
    if (stored.isEmpty())
        return stored;
    QByteArray bytes = KRData::dataWithHexString(stored);
    if (!KRData::decryptWithKey(bytes, passwordKey()))
        return QString();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString plain = decoder.decode(bytes);
    if (decoder.hasError())
        return QString();
    return plain.isNull() ? QStringLiteral("") : plain;
}

QString KRPasswordValueTransformer::reverseTransformedValue(const QString &plain) const
{
    if (plain.isEmpty())
        return plain;
    QByteArray bytes = plain.toUtf8();
    if (!KRData::encryptWithKey(bytes, passwordKey()))
        return QString();
    return KRData::stringWithHexBytes(bytes);
}

QString KRPasswordValueTransformer::passwordKey()
{
    return QStringLiteral("QmarTvel\n");
}

#include "KRProjectResourceCache.h"

#include <QStringDecoder>

#include <unicode/ucnv.h>

#include <memory>

void KRProjectResourceCache::setContents(const QString &relativePath, const QByteArray &bytes,
                                         const QString &encoding)
{
    m_entries.insert(relativePath, bytes);
    m_entries.insert(encodingKey(relativePath),
                     encoding.isEmpty() ? QStringLiteral("UTF-8") : encoding);
}

bool KRProjectResourceCache::contains(const QString &relativePath) const
{
    const auto it = m_entries.constFind(relativePath);
    return it != m_entries.constEnd() && it->typeId() == QMetaType::QByteArray;
}

std::optional<QByteArray> KRProjectResourceCache::contents(const QString &relativePath) const
{
    if (!contains(relativePath))
        return std::nullopt;
    return m_entries.value(relativePath).toByteArray();
}

QString KRProjectResourceCache::encoding(const QString &relativePath) const
{
    return m_entries.value(encodingKey(relativePath)).toString();
}

void KRProjectResourceCache::remove(const QString &relativePath)
{
    m_entries.remove(relativePath);
    m_entries.remove(encodingKey(relativePath));
}

void KRProjectResourceCache::removeTree(const QString &relativePath)
{
    remove(relativePath);
    const QString prefix = relativePath + QLatin1Char('/');
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it.key().startsWith(prefix))
            it = m_entries.erase(it);
        else
            ++it;
    }
}

QStringList KRProjectResourceCache::relativePaths() const
{
    QStringList paths;
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it) {
        if (it->typeId() == QMetaType::QByteArray)
            paths.append(it.key());
    }
    return paths;
}

std::optional<QString> KRProjectResourceCache::decode(const QByteArray &bytes, const QString &encoding)
{
    const QString name = encoding.isEmpty() ? QStringLiteral("UTF-8") : encoding;
    if (const auto known = QStringConverter::encodingForName(name.toLatin1().constData())) {
        QStringDecoder decoder(*known, QStringConverter::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (decoder.hasError())
            return std::nullopt;
        if (text.isNull())
            text = QLatin1String("");
        return text;
    }

    // Encodings Qt does not know itself (legacy code pages) go through ICU; bytes that do
    // not convert stop the conversion instead of turning into replacement characters.
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(
        ucnv_open(name.toLatin1().constData(), &status), &ucnv_close);
    if (U_FAILURE(status) || !converter)
        return std::nullopt;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return std::nullopt;
    QString text(bytes.size() * 2 + 1, Qt::Uninitialized);
    int32_t length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar *>(text.data()),
                                   static_cast<int32_t>(text.size()), bytes.constData(),
                                   static_cast<int32_t>(bytes.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        text.resize(length + 1);
        length = ucnv_toUChars(converter.get(), reinterpret_cast<UChar *>(text.data()),
                               static_cast<int32_t>(text.size()), bytes.constData(),
                               static_cast<int32_t>(bytes.size()), &status);
    }
    if (U_FAILURE(status))
        return std::nullopt;
    text.resize(length);
    return text;
}

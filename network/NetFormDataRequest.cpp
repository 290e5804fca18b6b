#include "NetFormDataRequest.h"

#include "NetInputStream.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringEncoder>

NetFormDataRequest::NetFormDataRequest(Passkey key, const QUrl &url) : NetHTTPRequest(key, url)
{
    m_boundary = QStringLiteral("KRFormBoundary%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

std::shared_ptr<NetFormDataRequest> NetFormDataRequest::requestWithURL(const QUrl &url)
{
    return std::make_shared<NetFormDataRequest>(Passkey{}, url);
}

void NetFormDataRequest::removeKey(const QString &key, bool files)
{
    if (files) {
        for (int i = m_fileData.size() - 1; i >= 0; --i) {
            if (m_fileData[i].key == key)
                m_fileData.removeAt(i);
        }
    } else {
        for (int i = m_postData.size() - 1; i >= 0; --i) {
            if (m_postData[i].first == key)
                m_postData.removeAt(i);
        }
    }
}

void NetFormDataRequest::addPostValue(const QVariant &value, const QString &key)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_postData.append({key, value.toString()});
}

void NetFormDataRequest::setPostValue(const QVariant &value, const QString &key)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    removeKey(key, false);
    m_postData.append({key, value.toString()});
}

void NetFormDataRequest::addFile(const QString &path, const QString &key) { addFile(path, QString(), QString(), key); }

void NetFormDataRequest::addFile(const QString &path, const QString &fileName, const QString &contentType, const QString &key)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_postFormat = MultipartFormDataPostFormat;
    QString type = contentType;
    if (type.isEmpty())
        type = mimeTypeForFileAtPath(path);
    if (type.isEmpty())
        type = QStringLiteral("application/octet-stream");
    m_fileData.append({QVariant(path), type, fileName.isEmpty() ? QFileInfo(path).fileName() : fileName, key});
}

void NetFormDataRequest::setFile(const QString &path, const QString &key) { setFile(path, QString(), QString(), key); }

void NetFormDataRequest::setFile(const QString &path, const QString &fileName, const QString &contentType, const QString &key)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    removeKey(key, true);
    addFile(path, fileName, contentType, key);
}

void NetFormDataRequest::addData(const QByteArray &data, const QString &key) { addData(data, QString(), QString(), key); }

void NetFormDataRequest::addData(const QByteArray &data, const QString &fileName, const QString &contentType, const QString &key)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    m_postFormat = MultipartFormDataPostFormat;
    m_fileData.append({QVariant(data), contentType.isEmpty() ? QStringLiteral("application/octet-stream") : contentType,
                       fileName.isEmpty() ? QStringLiteral("file") : fileName, key});
}

void NetFormDataRequest::setData(const QByteArray &data, const QString &key) { setData(data, QString(), QString(), key); }

void NetFormDataRequest::setData(const QByteArray &data, const QString &fileName, const QString &contentType, const QString &key)
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    removeKey(key, true);
    addData(data, fileName, contentType, key);
}

void NetFormDataRequest::setPostFormat(PostFormat format) { std::lock_guard<std::recursive_mutex> g(m_lock); m_postFormat = format; }
NetFormDataRequest::PostFormat NetFormDataRequest::postFormat() const { std::lock_guard<std::recursive_mutex> g(m_lock); return m_postFormat; }
QString NetFormDataRequest::boundary() const { std::lock_guard<std::recursive_mutex> g(m_lock); return m_boundary; }
void NetFormDataRequest::setStringEncoding(const QString &n) { std::lock_guard<std::recursive_mutex> g(m_lock); m_stringEncoding = n; }
QString NetFormDataRequest::stringEncoding() const { std::lock_guard<std::recursive_mutex> g(m_lock); return m_stringEncoding; }

QString NetFormDataRequest::encodeURL(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(QByteArray(), QByteArray("~")));
}

std::shared_ptr<NetHTTPRequest> NetFormDataRequest::copy() const
{
    std::lock_guard<std::recursive_mutex> g(m_lock);
    auto r = requestWithURL(url());
    copySettingsTo(*r);
    r->m_postData = m_postData;
    r->m_fileData = m_fileData;
    r->m_postFormat = m_postFormat;
    r->m_stringEncoding = m_stringEncoding;
    r->m_boundary = m_boundary;
    if (haveBuiltPostBody() && (!m_postData.isEmpty() || !m_fileData.isEmpty())) {
        // The copy builds its own body from the form: a body file built here goes with this
        // request, and the files may have changed since.
        r->setPostBody(QByteArray());
        r->setPostBodyParts({});
        r->setPostBodyFilePath(QString());
        r->setShouldStreamPostDataFromDisk(false);
        r->setHaveBuiltPostBody(false);
    }
    return r;
}

bool NetFormDataRequest::encoded(QStringEncoder &encoder, const QString &text, QByteArray *out)
{
    encoder.resetState();
    *out = encoder.encode(text);
    if (!encoder.hasError())
        return true;
    failWithError(errorWithCode(InternalErrorWhileBuildingRequestType,
                                QStringLiteral("The form text \"%1\" cannot be written in the encoding %2")
                                    .arg(text.left(64), m_stringEncoding)));
    return false;
}

void NetFormDataRequest::buildPostBody()
{
    if (haveBuiltPostBody() || (m_postData.isEmpty() && m_fileData.isEmpty()))
        return;
    QStringEncoder encoder(m_stringEncoding.toLatin1().constData());
    if (!encoder.isValid()) {
        failWithError(errorWithCode(InternalErrorWhileBuildingRequestType,
                                    QStringLiteral("Unknown text encoding \"%1\"").arg(m_stringEncoding)));
        return;
    }
    if (!m_fileData.isEmpty())
        m_postFormat = MultipartFormDataPostFormat;
    if (m_postFormat == URLEncodedPostFormat)
        buildURLEncodedPostBody(encoder);
    else
        buildMultipartFormDataPostBody(encoder);
}

namespace {
QString charsetName(const QStringEncoder &encoder)
{
    return QString::fromLatin1(encoder.name()).toLower();
}

// A line break would start a new header line.
QString withoutLineBreaks(const QString &value)
{
    QString v = value;
    v.remove(u'\r');
    v.remove(u'\n');
    return v;
}

// A quote would end the parameter.
QString escapedParameter(const QString &value)
{
    QString v = withoutLineBreaks(value);
    v.replace(u'\\', QStringLiteral("\\\\"));
    v.replace(u'"', QStringLiteral("\\\""));
    return v;
}
} // namespace

bool NetFormDataRequest::buildURLEncodedPostBody(QStringEncoder &encoder)
{
    addRequestHeader(QStringLiteral("Content-Type"),
                     QStringLiteral("application/x-www-form-urlencoded; charset=%1").arg(charsetName(encoder)));
    QByteArray body;
    for (const auto &p : m_postData) {
        QByteArray key, value;
        if (!encoded(encoder, p.first, &key) || !encoded(encoder, p.second, &value))
            return false;
        if (!body.isEmpty())
            body += '&';
        body += key.toPercentEncoding(QByteArray(), QByteArray("~")) + '=' + value.toPercentEncoding(QByteArray(), QByteArray("~"));
    }
    appendPostData(body);
    return true;
}

bool NetFormDataRequest::buildMultipartFormDataPostBody(QStringEncoder &encoder)
{
    // The boundary must not occur in any part; pick another until it does not.
    auto occursInParts = [this] {
        for (const auto &p : m_postData) {
            if (p.second.contains(m_boundary))
                return true;
        }
        for (const auto &f : m_fileData) {
            if (f.data.typeId() == QMetaType::QByteArray && f.data.toByteArray().contains(m_boundary.toLatin1()))
                return true;
        }
        return false;
    };
    while (occursInParts())
        m_boundary = QStringLiteral("KRFormBoundary%1").arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));

    for (const auto &f : m_fileData) {
        if (f.data.typeId() != QMetaType::QString)
            continue;
        const QString path = f.data.toString();
        const QFileInfo info(path);
        if (!info.exists() || info.isDir()) {
            failWithError(errorWithCode(InternalErrorWhileBuildingRequestType, QStringLiteral("No file exists at %1").arg(path)));
            return false;
        }
        if (QFile in(path); !in.open(QIODevice::ReadOnly)) {
            failWithError(errorWithCode(InternalErrorWhileBuildingRequestType,
                                        QStringLiteral("Unable to read the file at %1").arg(path)));
            return false;
        }
    }
    addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; charset=%1; boundary=%2")
                                                         .arg(charsetName(encoder), m_boundary));

    // Files go into the body as parts of their own, read from disk while the body is sent.
    QList<NetBodyPart> parts{NetBodyPart()};
    bool hasFiles = false;
    auto appendText = [&](const QString &text) {
        QByteArray bytes;
        if (!encoded(encoder, text, &bytes))
            return false;
        parts.last().data += bytes;
        return true;
    };
    const QString separator = QStringLiteral("\r\n--%1\r\n").arg(m_boundary);
    if (!appendText(QStringLiteral("--%1\r\n").arg(m_boundary)))
        return false;
    int i = 0;
    for (const auto &p : m_postData) {
        if (!appendText(QStringLiteral("Content-Disposition: form-data; name=\"%1\"\r\n\r\n").arg(escapedParameter(p.first)))
            || !appendText(p.second))
            return false;
        if ((++i != m_postData.size() || !m_fileData.isEmpty()) && !appendText(separator))
            return false;
    }
    i = 0;
    for (const auto &f : m_fileData) {
        if (!appendText(QStringLiteral("Content-Disposition: form-data; name=\"%1\"; filename=\"%2\"\r\n")
                            .arg(escapedParameter(f.key), escapedParameter(f.fileName)))
            || !appendText(QStringLiteral("Content-Type: %1\r\n\r\n").arg(withoutLineBreaks(f.contentType))))
            return false;
        if (f.data.typeId() == QMetaType::QString) {
            NetBodyPart file;
            file.filePath = f.data.toString();
            parts << file << NetBodyPart();
            hasFiles = true;
        } else {
            parts.last().data += f.data.toByteArray();
        }
        if (++i != m_fileData.size() && !appendText(separator))
            return false;
    }
    if (!appendText(QStringLiteral("\r\n--%1--\r\n").arg(m_boundary)))
        return false;
    if (hasFiles)
        setPostBodyParts(parts);
    else
        appendPostData(parts.first().data);
    return true;
}

#include "NetFormDataRequest.h"

#include <QFileInfo>
#include <QRandomGenerator>

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

QString NetFormDataRequest::encodeURL(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(QByteArray(), QByteArray("~")));
}

void NetFormDataRequest::buildPostBody()
{
    if (haveBuiltPostBody())
        return;
    if (m_fileData.isEmpty() && m_postFormat == URLEncodedPostFormat)
        buildURLEncodedPostBody();
    else
        buildMultipartFormDataPostBody();
}

void NetFormDataRequest::buildURLEncodedPostBody()
{
    addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded; charset=utf-8"));
    QStringList pairs;
    for (const auto &p : m_postData)
        pairs << encodeURL(p.first) + u'=' + encodeURL(p.second);
    if (!pairs.isEmpty())
        appendPostData(pairs.join(u'&').toUtf8());
}

namespace {
// A quote would end the parameter and a line break would start a new header line.
QByteArray escapedParameter(const QString &value)
{
    QString v = value;
    v.remove(u'\r');
    v.remove(u'\n');
    v.replace(u'\\', QStringLiteral("\\\\"));
    v.replace(u'"', QStringLiteral("\\\""));
    return v.toUtf8();
}
} // namespace

void NetFormDataRequest::buildMultipartFormDataPostBody()
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
        if (f.data.typeId() == QMetaType::QString) {
            const QFileInfo info(f.data.toString());
            if (!info.exists() || info.isDir()) {
                failWithError(errorWithCode(InternalErrorWhileBuildingRequestType,
                                            QStringLiteral("No file exists at %1").arg(f.data.toString())));
                return;
            }
        }
    }
    addRequestHeader(QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; charset=utf-8; boundary=%1").arg(m_boundary));
    const QByteArray boundary = m_boundary.toLatin1();
    const QByteArray separator = "\r\n--" + boundary + "\r\n";
    QByteArray body = "--" + boundary + "\r\n";
    int i = 0;
    for (const auto &p : m_postData) {
        body += "Content-Disposition: form-data; name=\"" + escapedParameter(p.first) + "\"\r\n\r\n" + p.second.toUtf8();
        if (++i != m_postData.size() || !m_fileData.isEmpty())
            body += separator;
    }
    i = 0;
    for (const auto &f : m_fileData) {
        body += "Content-Disposition: form-data; name=\"" + escapedParameter(f.key) + "\"; filename=\""
                + escapedParameter(f.fileName) + "\"\r\n";
        body += "Content-Type: " + f.contentType.toUtf8() + "\r\n\r\n";
        appendPostData(body);
        body.clear();
        if (f.data.typeId() == QMetaType::QString)
            appendPostDataFromFile(f.data.toString());
        else
            appendPostData(f.data.toByteArray());
        if (++i != m_fileData.size())
            body += separator;
    }
    body += "\r\n--" + boundary + "--\r\n";
    appendPostData(body);
}

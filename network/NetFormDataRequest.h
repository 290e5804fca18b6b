#pragma once

#include <network/NetHTTPRequest.h>

#include <QVariant>

// A request whose body is built from form values and files: URL-encoded (the default) or
// multipart form data (always when files are added). Multipart boundaries are random per
// request; names and file names are escaped inside the part headers.
class NetFormDataRequest : public NetHTTPRequest
{
public:
    enum PostFormat { MultipartFormDataPostFormat = 0, URLEncodedPostFormat = 1 };

    explicit NetFormDataRequest(Passkey key, const QUrl &url);
    static std::shared_ptr<NetFormDataRequest> requestWithURL(const QUrl &url);

    void addPostValue(const QVariant &value, const QString &key);
    void setPostValue(const QVariant &value, const QString &key);
    void addFile(const QString &path, const QString &key);
    void addFile(const QString &path, const QString &fileName, const QString &contentType, const QString &key);
    void setFile(const QString &path, const QString &key);
    void setFile(const QString &path, const QString &fileName, const QString &contentType, const QString &key);
    void addData(const QByteArray &data, const QString &key);
    void addData(const QByteArray &data, const QString &fileName, const QString &contentType, const QString &key);
    void setData(const QByteArray &data, const QString &key);
    void setData(const QByteArray &data, const QString &fileName, const QString &contentType, const QString &key);

    void setPostFormat(PostFormat format);
    PostFormat postFormat() const;
    QString boundary() const;

    // Percent-encodes everything but unreserved characters; "~" is escaped too, a space
    // becomes "%20".
    static QString encodeURL(const QString &text);

protected:
    void buildPostBody() override;

private:
    struct FileEntry {
        QVariant data; // a path (QString) or the bytes (QByteArray)
        QString contentType, fileName, key;
    };
    void buildMultipartFormDataPostBody();
    void buildURLEncodedPostBody();
    void removeKey(const QString &key, bool files);

    QList<QPair<QString, QString>> m_postData;
    QList<FileEntry> m_fileData;
    PostFormat m_postFormat = URLEncodedPostFormat;
    QString m_boundary;
};

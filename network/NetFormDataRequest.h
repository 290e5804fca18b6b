#pragma once

#include <network/NetHTTPRequest.h>

#include <QVariant>

class QStringEncoder;

// A request whose body is built from form values and files: URL-encoded (the default) or
// multipart form data (always when files are added). Multipart boundaries are random per
// request; names and file names are escaped inside the part headers. The files of a form are
// read from disk while the body is sent: never held in memory nor copied.
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
    // The text encoding of keys, values and file names, by its IANA name ("utf-8" by default);
    // it is named as the charset of the body's content type. An unknown name, or text the
    // encoding cannot represent, fails the request when the body is built.
    void setStringEncoding(const QString &ianaName);
    QString stringEncoding() const;

    // Percent-encodes the UTF-8 bytes of everything but unreserved characters; "~" is escaped
    // too, a space becomes "%20".
    static QString encodeURL(const QString &text);

    // A new form request with this one's settings (as NetHTTPRequest::copy()), form values,
    // files, format and encoding; its body is built afresh when it starts.
    std::shared_ptr<NetHTTPRequest> copy() const override;

protected:
    void buildPostBody() override;

private:
    struct FileEntry {
        QVariant data; // a path (QString) or the bytes (QByteArray)
        QString contentType, fileName, key;
    };
    bool buildMultipartFormDataPostBody(QStringEncoder &encoder);
    bool buildURLEncodedPostBody(QStringEncoder &encoder);
    bool encoded(QStringEncoder &encoder, const QString &text, QByteArray *out);
    void removeKey(const QString &key, bool files);

    QList<QPair<QString, QString>> m_postData;
    QList<FileEntry> m_fileData;
    PostFormat m_postFormat = URLEncodedPostFormat;
    QString m_boundary;
    QString m_stringEncoding = QStringLiteral("utf-8");
};

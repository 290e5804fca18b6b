#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class NetHTTPRequest;
class QFile;

// A request body read from memory or a file, with every read counted against the
// process-wide bandwidth throttle. Under the throttle a read takes at most the throttle's
// allowance (one byte when none is left).
class NetInputStream
{
public:
    static std::unique_ptr<NetInputStream> inputStreamWithFileAtPath(const QString &path, std::weak_ptr<NetHTTPRequest> request);
    static std::unique_ptr<NetInputStream> inputStreamWithData(const QByteArray &data, std::weak_ptr<NetHTTPRequest> request);
    ~NetInputStream();

    bool open();
    // Bytes read, 0 at the end, -1 on error.
    qint64 read(char *buffer, qint64 maxLength);
    bool rewind();

private:
    NetInputStream() = default;
    QByteArray m_data;
    qint64 m_offset = 0;
    std::unique_ptr<QFile> m_file;
    std::weak_ptr<NetHTTPRequest> m_request;
};

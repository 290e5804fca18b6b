#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class NetHTTPRequest;
class QFile;

// One part of a request body: bytes, or the whole file at `filePath`, read only while the
// body is sent.
struct NetBodyPart
{
    QByteArray data;
    QString filePath; // when set, the part is this file's bytes and `data` is unused
    qint64 fileSize = -1; // the file's size when the body was measured (measureParts())
};

// A request body read from memory, a file or a sequence of parts, with every read counted
// against the process-wide bandwidth throttle. Under the throttle a read takes at most the
// throttle's allowance (one byte when none is left).
class NetInputStream
{
public:
    static std::unique_ptr<NetInputStream> inputStreamWithFileAtPath(const QString &path, std::weak_ptr<NetHTTPRequest> request);
    static std::unique_ptr<NetInputStream> inputStreamWithData(const QByteArray &data, std::weak_ptr<NetHTTPRequest> request);
    // The files of `parts` are opened one after the other while reading, and each gives exactly
    // its measured size: a file that shrank since is a read error, one that grew is cut there.
    static std::unique_ptr<NetInputStream> inputStreamWithParts(const QList<NetBodyPart> &parts,
                                                                std::weak_ptr<NetHTTPRequest> request);
    ~NetInputStream();

    bool open();
    // Bytes read, 0 at the end, -1 on error.
    qint64 read(char *buffer, qint64 maxLength);
    bool rewind();
    // Why the last read failed, when a file of the body is at fault; empty otherwise.
    QString errorString() const { return m_error; }

    // Records the sizes of the files in `parts` not measured yet and answers the length of the
    // body; -1 when a file is missing or is a folder, with its path in `*missing`.
    static qint64 measureParts(QList<NetBodyPart> &parts, QString *missing = nullptr);

private:
    NetInputStream() = default;
    qint64 readParts(char *buffer, qint64 length);

    QByteArray m_data;
    qint64 m_offset = 0;
    std::unique_ptr<QFile> m_file;
    std::weak_ptr<NetHTTPRequest> m_request;

    QList<NetBodyPart> m_parts;
    QList<qint64> m_partSizes; // taken by open()
    int m_part = 0;
    bool m_isParts = false;
    QString m_error;
};

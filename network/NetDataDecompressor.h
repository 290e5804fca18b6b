#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QString>

#include <memory>

// Inflates gzip or zlib data (window bits 47) as a stream, in one shot, or file to file.
// Errors are "NetHTTPRequestErrorDomain" code 11.
class NetDataDecompressor
{
public:
    static std::unique_ptr<NetDataDecompressor> decompressor();
    ~NetDataDecompressor();

    KRError setupStream();
    KRError closeStream();
    bool streamReady() const { return m_ready; }
    // The end of the compressed stream has been read.
    bool streamEnded() const { return m_ended; }

    // Empty input gives empty output and no error; a null result with `error` set on failure.
    QByteArray uncompressBytes(const char *bytes, qsizetype length, KRError *error);

    static QByteArray uncompressData(const QByteArray &data, KRError *error);
    static bool uncompressDataFromFile(const QString &source, const QString &destination, KRError *error);
    static KRError inflateErrorWithCode(int status);

private:
    NetDataDecompressor();
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    bool m_ready = false;
    bool m_ended = false;
};

#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QString>

#include <memory>

// gzip deflate (window bits 31) as a stream, in one shot, or file to file in 256 KiB chunks.
// Errors are "NetHTTPRequestErrorDomain" code 11.
class NetDataCompressor
{
public:
    static std::unique_ptr<NetDataCompressor> compressor();
    ~NetDataCompressor();

    KRError setupStream();
    KRError closeStream();
    bool streamReady() const { return m_ready; }

    // Empty input gives empty output and no error. Output space starts at
    // max(half the input, 4 KiB) and grows by the same step, so tiny inputs compress.
    QByteArray compressBytes(const char *bytes, qsizetype length, KRError *error, bool shouldFinish);

    static QByteArray compressData(const QByteArray &data, KRError *error);
    static bool compressDataFromFile(const QString &source, const QString &destination, KRError *error);
    static KRError deflateErrorWithCode(int status);

private:
    NetDataCompressor();
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    bool m_ready = false;
};

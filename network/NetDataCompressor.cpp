#include "NetDataCompressor.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>

namespace {
constexpr qsizetype chunkSize = 262144;
constexpr qsizetype minimumStep = 4096;
const QString errorDomain = QStringLiteral("NetHTTPRequestErrorDomain");
}

struct NetDataCompressor::Stream
{
    z_stream z{};
};

NetDataCompressor::NetDataCompressor() : m_stream(std::make_unique<Stream>()) {}

NetDataCompressor::~NetDataCompressor()
{
    closeStream();
}

std::unique_ptr<NetDataCompressor> NetDataCompressor::compressor()
{
    std::unique_ptr<NetDataCompressor> c(new NetDataCompressor);
    c->setupStream();
    return c;
}

KRError NetDataCompressor::setupStream()
{
    if (m_ready)
        return {};
    m_stream->z = z_stream{};
    const int status = deflateInit2(&m_stream->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    if (status != Z_OK)
        return deflateErrorWithCode(status);
    m_ready = true;
    return {};
}

KRError NetDataCompressor::closeStream()
{
    if (!m_ready)
        return {};
    m_ready = false;
    const int status = deflateEnd(&m_stream->z);
    if (status != Z_OK && status != Z_DATA_ERROR)
        return deflateErrorWithCode(status);
    return {};
}

QByteArray NetDataCompressor::compressBytes(const char *bytes, qsizetype length, KRError *error, bool shouldFinish)
{
    if (length == 0 && !shouldFinish)
        return {};
    if (!m_ready) {
        if (error)
            *error = deflateErrorWithCode(Z_STREAM_ERROR);
        return {};
    }
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes));
    z.avail_in = static_cast<uInt>(length);
    const qsizetype step = std::max(length / 2, minimumStep);
    QByteArray out(step, Qt::Uninitialized);
    qsizetype produced = 0;
    for (;;) {
        if (produced == out.size())
            out.resize(out.size() + step);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        z.avail_out = static_cast<uInt>(out.size() - produced);
        const int status = deflate(&z, shouldFinish ? Z_FINISH : Z_NO_FLUSH);
        produced = out.size() - z.avail_out;
        if (status == Z_STREAM_END)
            break;
        if (status != Z_OK && status != Z_BUF_ERROR) {
            if (error)
                *error = deflateErrorWithCode(status);
            return {};
        }
        if (z.avail_out != 0 && z.avail_in == 0)
            break;
    }
    out.truncate(produced);
    return out;
}

QByteArray NetDataCompressor::compressData(const QByteArray &data, KRError *error)
{
    auto c = compressor();
    if (!c->streamReady()) {
        if (error)
            *error = deflateErrorWithCode(Z_STREAM_ERROR);
        return {};
    }
    KRError e;
    QByteArray out = c->compressBytes(data.constData(), data.size(), &e, true);
    if (e) {
        if (error)
            *error = e;
        return {};
    }
    e = c->closeStream();
    if (e && error)
        *error = e;
    return e ? QByteArray() : out;
}

bool NetDataCompressor::compressDataFromFile(const QString &source, const QString &destination, KRError *error)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = KRError(errorDomain, 11, message);
        return false;
    };
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("Compression of %1 failed because we were to create a file at %2").arg(source, destination));
    QFileInfo info(source);
    if (!info.exists() || info.isDir())
        return fail(QStringLiteral("Compression of %1 failed the file does not exist").arg(source));
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Compression of %1 failed because we were unable to read from the source data file").arg(source));
    auto c = compressor();
    bool finished = false;
    while (!finished && c->streamReady()) {
        const QByteArray chunk = in.read(chunkSize);
        if (chunk.isNull() && in.error() != QFileDevice::NoError)
            return fail(QStringLiteral("Compression of %1 failed because we were unable to read from the source data file").arg(source));
        // A short read finishes the stream; so does the end of input at a chunk boundary.
        finished = chunk.size() < chunkSize || in.atEnd();
        KRError e;
        const QByteArray piece = c->compressBytes(chunk.constData(), chunk.size(), &e, finished);
        if (e) {
            if (error)
                *error = e;
            return false;
        }
        if (out.write(piece) != piece.size())
            return fail(QStringLiteral("Compression of %1 failed because we were unable to write to the destination data file at %2").arg(source, destination));
    }
    if (!out.flush())
        return fail(QStringLiteral("Compression of %1 failed because we were unable to write to the destination data file at %2").arg(source, destination));
    const KRError e = c->closeStream();
    if (e && error)
        *error = e;
    return !e;
}

KRError NetDataCompressor::deflateErrorWithCode(int status)
{
    return KRError(errorDomain, 11, QStringLiteral("Compression of data failed with code %1").arg(status));
}

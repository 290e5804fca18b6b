#include "NetDataDecompressor.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>

namespace {
constexpr qsizetype chunkSize = 262144;
constexpr qsizetype minimumStep = 4096;
const QString errorDomain = QStringLiteral("NetHTTPRequestErrorDomain");
}

struct NetDataDecompressor::Stream
{
    z_stream z{};
};

NetDataDecompressor::NetDataDecompressor() : m_stream(std::make_unique<Stream>()) {}

NetDataDecompressor::~NetDataDecompressor()
{
    closeStream();
}

std::unique_ptr<NetDataDecompressor> NetDataDecompressor::decompressor()
{
    std::unique_ptr<NetDataDecompressor> d(new NetDataDecompressor);
    d->setupStream();
    return d;
}

KRError NetDataDecompressor::setupStream()
{
    if (m_ready)
        return {};
    m_stream->z = z_stream{};
    const int status = inflateInit2(&m_stream->z, 47);
    if (status != Z_OK)
        return inflateErrorWithCode(status);
    m_ready = true;
    m_ended = false;
    return {};
}

KRError NetDataDecompressor::closeStream()
{
    if (!m_ready)
        return {};
    m_ready = false;
    const int status = inflateEnd(&m_stream->z);
    if (status != Z_OK)
        return inflateErrorWithCode(status);
    return {};
}

QByteArray NetDataDecompressor::uncompressBytes(const char *bytes, qsizetype length, KRError *error)
{
    if (length == 0)
        return QByteArray("");
    if (!m_ready) {
        if (error)
            *error = inflateErrorWithCode(Z_STREAM_ERROR);
        return {};
    }
    if (m_ended)
        return QByteArray(""); // trailing bytes after the end of the stream are ignored
    z_stream &z = m_stream->z;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes));
    z.avail_in = static_cast<uInt>(length);
    // Output space starts at 1.5 times the input and grows by max(half the input, 4 KiB),
    // so a one-byte read still has room to make progress.
    const qsizetype step = std::max(length / 2, minimumStep);
    QByteArray out(std::max(length + length / 2, minimumStep), Qt::Uninitialized);
    qsizetype produced = 0;
    while (z.avail_in > 0 || produced == out.size()) {
        if (produced == out.size())
            out.resize(out.size() + step);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + produced);
        z.avail_out = static_cast<uInt>(out.size() - produced);
        const int status = inflate(&z, Z_NO_FLUSH);
        produced = out.size() - z.avail_out;
        if (status == Z_STREAM_END) {
            m_ended = true;
            break;
        }
        if (status == Z_BUF_ERROR && z.avail_in == 0)
            break;
        if (status != Z_OK) {
            if (error)
                *error = inflateErrorWithCode(status);
            return {};
        }
        if (z.avail_out != 0 && z.avail_in == 0)
            break;
    }
    out.truncate(produced);
    if (out.isNull())
        out = QByteArray("");
    return out;
}

QByteArray NetDataDecompressor::uncompressData(const QByteArray &data, KRError *error)
{
    auto d = decompressor();
    KRError e;
    QByteArray out = d->uncompressBytes(data.constData(), data.size(), &e);
    if (e) {
        if (error)
            *error = e;
        return {};
    }
    e = d->closeStream();
    if (e) {
        if (error)
            *error = e;
        return {};
    }
    return out;
}

bool NetDataDecompressor::uncompressDataFromFile(const QString &source, const QString &destination, KRError *error)
{
    auto fail = [&](const QString &message) {
        if (error)
            *error = KRError(errorDomain, 11, message);
        return false;
    };
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("Decompression of %1 failed because we were to create a file at %2").arg(source, destination));
    QFileInfo info(source);
    if (!info.exists() || info.isDir())
        return fail(QStringLiteral("Decompression of %1 failed the file does not exist").arg(source));
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Decompression of %1 failed because we were unable to read from the source data file").arg(source));
    auto d = decompressor();
    bool anyInput = false;
    while (d->streamReady()) {
        const QByteArray chunk = in.read(chunkSize);
        if (chunk.isNull() && in.error() != QFileDevice::NoError)
            return fail(QStringLiteral("Decompression of %1 failed because we were unable to read from the source data file").arg(source));
        if (chunk.isEmpty())
            break;
        anyInput = true;
        KRError e;
        const QByteArray piece = d->uncompressBytes(chunk.constData(), chunk.size(), &e);
        if (e) {
            if (error)
                *error = e;
            return false;
        }
        if (out.write(piece) != piece.size())
            return fail(QStringLiteral("Decompression of %1 failed because we were unable to write to the destination data file at %2").arg(source, destination));
    }
    if (!out.flush())
        return fail(QStringLiteral("Decompression of %1 failed because we were unable to write to the destination data file at %2").arg(source, destination));
    if (anyInput && !d->streamEnded()) // the compressed data stops short of its end
        return fail(QStringLiteral("Decompression of %1 failed because the compressed data is incomplete").arg(source));
    const KRError e = d->closeStream();
    if (e && error)
        *error = e;
    return !e;
}

KRError NetDataDecompressor::inflateErrorWithCode(int status)
{
    return KRError(errorDomain, 11, QStringLiteral("Decompression of data failed with code %1").arg(status));
}

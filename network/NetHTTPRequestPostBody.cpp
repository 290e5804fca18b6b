#include "NetHTTPRequestPrivate.h"

using namespace nethttp;

// ---------------------------------------------------------------- request body

void NetHTTPRequest::appendPostData(const QByteArray &data)
{
    LOCKED;
    if (data.isEmpty())
        return;
    if (d->shouldStreamPostDataFromDisk) {
        if (d->postBodyFilePath.isEmpty()) {
            d->postBodyFilePath = temporaryPath();
            d->didCreateTemporaryPostDataFile = true;
        }
        QFile f(d->postBodyFilePath);
        if (f.open(QIODevice::Append))
            f.write(data);
    } else {
        d->postBody.append(data);
    }
    if (isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

void NetHTTPRequest::appendPostDataFromFile(const QString &path)
{
    LOCKED;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return;
    if (d->shouldStreamPostDataFromDisk) {
        if (d->postBodyFilePath.isEmpty()) {
            d->postBodyFilePath = temporaryPath();
            d->didCreateTemporaryPostDataFile = true;
        }
        QFile out(d->postBodyFilePath);
        if (!out.open(QIODevice::Append))
            return;
        for (;;) {
            const QByteArray chunk = in.read(262144);
            if (chunk.isEmpty()) // end, or a read error: stop either way
                break;
            out.write(chunk);
        }
    } else {
        d->postBody.append(in.readAll());
    }
    if (isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

void NetHTTPRequest::setPostBody(const QByteArray &body)
{
    LOCKED;
    d->postBody = body;
    d->postLength = std::uint64_t(body.size());
    if (!body.isEmpty() && isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}
QByteArray NetHTTPRequest::postBody() const { LOCKED; return d->postBody; }
void NetHTTPRequest::setPostBodyFilePath(const QString &path)
{
    LOCKED;
    d->postBodyFilePath = path;
    d->shouldStreamPostDataFromDisk = true;
}

void NetHTTPRequest::setPostBodyParts(const QList<NetBodyPart> &parts)
{
    LOCKED;
    d->postBodyParts = parts;
    if (!parts.isEmpty() && isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

void NetHTTPRequest::buildPostBody()
{
}

// A body of parts that is to be compressed is first joined into a temporary body file.
bool NetHTTPRequest::writePostBodyPartsToFile()
{
    const QString path = temporaryPath();
    QFile out(path);
    bool ok = out.open(QIODevice::WriteOnly);
    for (const NetBodyPart &part : std::as_const(d->postBodyParts)) {
        if (!ok)
            break;
        if (part.filePath.isEmpty()) {
            ok = out.write(part.data) == part.data.size();
            continue;
        }
        QFile in(part.filePath);
        ok = in.open(QIODevice::ReadOnly);
        while (ok && !in.atEnd()) {
            const QByteArray chunk = in.read(262144);
            ok = !chunk.isEmpty() && out.write(chunk) == chunk.size();
        }
    }
    ok = ok && out.flush();
    out.close();
    if (!ok) {
        QFile::remove(path);
        failWithError(errorWithCode(FileManagementError, QStringLiteral("Unable to write the request body to '%1'").arg(path)));
        return false;
    }
    if (d->didCreateTemporaryPostDataFile)
        QFile::remove(d->postBodyFilePath);
    d->postBodyFilePath = path;
    d->didCreateTemporaryPostDataFile = true;
    d->shouldStreamPostDataFromDisk = true;
    d->postBodyParts.clear();
    return true;
}

void NetHTTPRequest::setupPostBody()
{
    if (!d->postBodyParts.isEmpty() && d->shouldCompressRequestBody && !writePostBodyPartsToFile())
        return;
    if (!d->postBodyParts.isEmpty()) {
        QString missing;
        const qint64 length = NetInputStream::measureParts(d->postBodyParts, &missing);
        if (length < 0) {
            failWithError(errorWithCode(FileManagementError,
                                        QStringLiteral("Failed to get attributes for file at path '%1'").arg(missing)));
            return;
        }
        d->postLength = std::uint64_t(length);
    } else if (d->shouldStreamPostDataFromDisk && !d->postBodyFilePath.isEmpty()) {
        QString path = d->postBodyFilePath;
        if (d->shouldCompressRequestBody) {
            if (d->compressedPostBodyFilePath.isEmpty()) {
                d->compressedPostBodyFilePath = temporaryPath();
                KRError e;
                if (!NetDataCompressor::compressDataFromFile(d->postBodyFilePath, d->compressedPostBodyFilePath, &e)) {
                    failWithError(e);
                    return;
                }
            }
            path = d->compressedPostBodyFilePath;
        }
        QFileInfo info(path);
        if (!info.exists()) {
            failWithError(errorWithCode(FileManagementError,
                                        QStringLiteral("Failed to get attributes for file at path '%1'").arg(path)));
            return;
        }
        d->postLength = std::uint64_t(info.size());
    } else if (d->shouldCompressRequestBody && !d->postBody.isEmpty()) {
        KRError e;
        d->compressedPostBody = NetDataCompressor::compressData(d->postBody, &e);
        if (e) {
            failWithError(e);
            return;
        }
        d->postLength = std::uint64_t(d->compressedPostBody.size());
    } else {
        d->postLength = std::uint64_t(d->postBody.size());
    }
    if (d->postLength > 0 && isMethodWithoutBody(d->requestMethod))
        setRequestMethod(QStringLiteral("POST"));
}

size_t NetHTTPRequest::curlRead(char *data, size_t size, size_t n, void *user)
{
    return static_cast<NetHTTPRequest *>(user)->onReadBody(data, size * n);
}

int NetHTTPRequest::curlSeek(void *user, std::int64_t offset, int origin)
{
    auto *self = static_cast<NetHTTPRequest *>(user);
    std::lock_guard<std::recursive_mutex> g(self->m_lock);
    if (offset != 0 || origin != SEEK_SET || !self->d->bodyStream)
        return CURL_SEEKFUNC_CANTSEEK;
    return self->d->bodyStream->rewind() ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_FAIL;
}

std::size_t NetHTTPRequest::onReadBody(char *buffer, std::size_t size)
{
    LOCKED;
    CallbackScope scope(d->inCallback);
    if (d->complete || d->cancelled || !d->bodyStream)
        return CURL_READFUNC_ABORT;
    if (isBandwidthThrottled()) {
        std::lock_guard<std::mutex> g(bandwidthLock);
        measureBandwidthLocked();
        if (bandwidth.hasWakeUp && bandwidth.wakeUp > Clock::now()) {
            d->sendPaused = true;
            d->readStreamIsScheduled = false;
            return CURL_READFUNC_PAUSE;
        }
    }
    const qint64 n = d->bodyStream->read(buffer, qint64(size));
    if (n < 0) {
        const QString fileProblem = d->bodyStream->errorString();
        d->callbackError = fileProblem.isEmpty()
                               ? errorWithCode(ConnectionFailureErrorType, QStringLiteral("A connection failure occurred"))
                               : errorWithCode(FileManagementError, fileProblem);
        return CURL_READFUNC_ABORT;
    }
    d->hasLastActivity = true;
    d->lastActivityTime = Clock::now();
    return size_t(n);
}

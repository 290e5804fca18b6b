#include "NetHTTPRequestPrivate.h"

using namespace nethttp;

// ---------------------------------------------------------------- bodies, download files and resume

bool NetHTTPRequest::openDownloadFiles()
{
    bool append = false;
    if (d->temporaryFileDownloadPath.isEmpty()) {
        d->temporaryFileDownloadPath = temporaryPath();
    } else if (d->allowResumeForFileDownloads) {
        const bool sentRange = !requestHeader(QStringLiteral("Range")).isEmpty();
        if (sentRange && d->responseHeaders.contains(QStringLiteral("Content-Range"))) {
            append = true;
        } else if (sentRange) {
            incrementDownloadSizeBy(-std::int64_t(d->partialDownloadSize));
            d->partialDownloadSize = 0;
        }
    }
    const auto mode = append ? QIODevice::Append : (QIODevice::WriteOnly | QIODevice::Truncate);
    d->fileDownloadOutputStream = std::make_unique<QFile>(d->temporaryFileDownloadPath);
    if (!d->fileDownloadOutputStream->open(mode))
        return false;
    if (isResponseCompressed() && !d->shouldWaitToInflateCompressedResponses) {
        if (d->temporaryUncompressedDataDownloadPath.isEmpty())
            d->temporaryUncompressedDataDownloadPath = temporaryPath();
        d->inflatedFileDownloadOutputStream = std::make_unique<QFile>(d->temporaryUncompressedDataDownloadPath);
        if (!d->inflatedFileDownloadOutputStream->open(mode))
            return false;
    }
    return true;
}

std::size_t NetHTTPRequest::onBodyBytes(const char *data, std::size_t size)
{
    LOCKED;
    CallbackScope scope(d->inCallback);
    if (d->complete || d->cancelled)
        return 0;
    if (!d->headersRead) {
        readResponseHeaders();
        if (d->complete || d->callbackError)
            return 0;
    }
    if (isBandwidthThrottled()) {
        std::lock_guard<std::mutex> g(bandwidthLock);
        measureBandwidthLocked();
        if (bandwidth.hasWakeUp && bandwidth.wakeUp > Clock::now()) {
            d->receivePaused = true;
            d->readStreamIsScheduled = false;
            return CURL_WRITEFUNC_PAUSE;
        }
    }
    QByteArray inflated;
    const bool inflating = isResponseCompressed() && !d->shouldWaitToInflateCompressedResponses;
    if (inflating) {
        if (!d->dataDecompressor)
            d->dataDecompressor = NetDataDecompressor::decompressor();
        KRError e;
        inflated = d->dataDecompressor->uncompressBytes(data, qsizetype(size), &e);
        if (e) {
            d->callbackError = e;
            return 0;
        }
    }
    d->totalBytesRead += size;
    d->hasLastActivity = true;
    d->lastActivityTime = Clock::now();
    incrementBandwidthUsedInLastSecond(size);

    if (d->needsRedirect)
        return size; // the body of a redirect is not kept

    auto dl = d->delegate.lock();
    const bool toDelegate = d->dataReceivedBlock || (dl && dl->answersDidReceiveData());
    if (!toDelegate) {
        if (d->downloadDestinationPath.isEmpty()) {
            if (inflating)
                d->rawResponseData.append(inflated);
            else
                d->rawResponseData.append(data, qsizetype(size));
        } else {
            if (!d->fileDownloadOutputStream && !openDownloadFiles()) {
                d->callbackError = errorWithCode(FileManagementError,
                                                 QStringLiteral("Failed to write to file at path '%1'").arg(d->temporaryFileDownloadPath));
                return 0;
            }
            if (d->fileDownloadOutputStream->write(data, qint64(size)) != qint64(size)
                || (inflating && d->inflatedFileDownloadOutputStream->write(inflated) != inflated.size())) {
                d->callbackError = errorWithCode(FileManagementError,
                                                 QStringLiteral("Failed to write to file at path '%1'").arg(d->temporaryFileDownloadPath));
                return 0;
            }
        }
    } else {
        passOnReceivedData(inflating ? inflated : QByteArray(data, qsizetype(size)));
    }
    return size;
}

void NetHTTPRequest::updatePartialDownloadSize()
{
    if (d->allowResumeForFileDownloads && !d->downloadDestinationPath.isEmpty() && !d->temporaryFileDownloadPath.isEmpty()) {
        QFileInfo info(d->temporaryFileDownloadPath);
        if (info.exists())
            d->partialDownloadSize = std::uint64_t(info.size());
    }
}

bool NetHTTPRequest::removeFileAtPath(const QString &path, KRError *error)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return true;
    if (QFile::remove(path))
        return true;
    if (error)
        *error = KRError(errorDomain, FileManagementError, QStringLiteral("Failed to delete file at path '%1'").arg(path));
    return false;
}

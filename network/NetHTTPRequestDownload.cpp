#include "NetHTTPRequestPrivate.h"

#include <core/KRFileManagerAdditions.h>

#include <sys/xattr.h>

using namespace nethttp;

namespace {

// A new file name beside the destination, so that the finished file takes the destination's
// place by a rename on the same file system instead of being copied there; in the process's
// temporary folder when the destination's folder is missing (the move then reports it).
QString temporaryPathBeside(const QString &destination)
{
    const QFileInfo info(destination);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir())
        return temporaryPath();
    return QDir(folder).filePath(QStringLiteral(".%1.download").arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
}

} // namespace

// ---------------------------------------------------------------- bodies, download files and resume

// Where the body of a download goes, once the headers are read. An error status keeps its body
// in memory and leaves the destination and the partial file as they were. A resumed download
// continues the partial file only on a 206 answer whose range starts where the file ends; a 416
// answer for exactly the file's size means the file is whole; any other answer to a range
// request that is not the whole body starts the download again without the partial file.
void NetHTTPRequest::chooseDownloadTarget()
{
    d->bodyToMemory = d->appendToPartial = d->partialIsComplete = d->restartDownload = false;
    if (d->downloadDestinationPath.isEmpty())
        return;
    const int status = d->responseStatusCode;
    const bool sentRange = !requestHeader(QStringLiteral("Range")).isEmpty();
    if (sentRange && (status == 206 || status == 416)) {
        // "bytes first-last/total" or "bytes */total"
        const QString range = d->responseHeaders.value(QStringLiteral("Content-Range")).trimmed();
        const QString value = range.startsWith(QLatin1String("bytes "), Qt::CaseInsensitive) ? range.mid(6).trimmed() : QString();
        const int slash = value.indexOf(u'/');
        const QString span = slash < 0 ? value : value.left(slash);
        bool firstOk = false, totalOk = false;
        const std::uint64_t first = span.section(u'-', 0, 0).trimmed().toULongLong(&firstOk);
        const std::uint64_t total = slash < 0 ? 0 : value.mid(slash + 1).trimmed().toULongLong(&totalOk);
        if (status == 206 && firstOk && first == d->partialDownloadSize) {
            d->appendToPartial = true;
            return;
        }
        if (status == 416 && span == QLatin1String("*") && totalOk && total == d->partialDownloadSize) {
            d->partialIsComplete = true;
            return;
        }
        if (!d->restartedDownload) {
            d->restartDownload = true;
            return;
        }
    }
    if (status >= 400) {
        d->bodyToMemory = true;
        d->rawResponseData = QByteArray("");
        return;
    }
    if (sentRange)
        d->partialDownloadSize = 0; // the whole body comes again: the partial file starts over
}

void NetHTTPRequest::restartDownloadWithoutPartial()
{
    d->restartDownload = false;
    d->restartedDownload = true;
    destroyReadStream();
    releaseConnection();
    d->fileDownloadOutputStream.reset();
    d->inflatedFileDownloadOutputStream.reset();
    if (!d->temporaryFileDownloadPath.isEmpty())
        QFile::remove(d->temporaryFileDownloadPath);
    d->partialDownloadSize = 0;
    d->resumeValidator.clear();
    d->requestHeaders.erase(std::remove_if(d->requestHeaders.begin(), d->requestHeaders.end(),
                                           [](const QPair<QString, QString> &h) {
                                               return h.first.compare(QLatin1String("Range"), Qt::CaseInsensitive) == 0
                                                      || h.first.compare(QLatin1String("If-Range"), Qt::CaseInsensitive) == 0;
                                           }),
                            d->requestHeaders.end());
    startRequest();
}

// Asks for the rest of a partial download, on condition (If-Range) that the resource is still
// the one the file began with.
void NetHTTPRequest::applyResumeHeaders()
{
    if (d->fileDownloadOutputStream)
        d->fileDownloadOutputStream->flush();
    updatePartialDownloadSize();
    if (d->partialDownloadSize == 0)
        return;
    addRequestHeader(QStringLiteral("Range"), QStringLiteral("bytes=%1-").arg(d->partialDownloadSize));
    if (d->resumeValidator.isEmpty())
        d->resumeValidator = KRFileManager::extendedAttributeOfItemAtPath(d->temporaryFileDownloadPath, resumeValidatorAttribute);
    if (!d->resumeValidator.isEmpty())
        addRequestHeader(QStringLiteral("If-Range"), d->resumeValidator);
}

// A strong ETag, else Last-Modified: what If-Range may name.
void NetHTTPRequest::rememberResumeValidator()
{
    const QString etag = d->responseHeaders.value(QStringLiteral("Etag"));
    d->resumeValidator = !etag.isEmpty() && !etag.startsWith(QLatin1String("W/")) ? etag
                                                                                   : d->responseHeaders.value(QStringLiteral("Last-Modified"));
    if (d->allowResumeForFileDownloads && !d->resumeValidator.isEmpty())
        KRFileManager::setExtendedAttributeOfItemAtPath(d->temporaryFileDownloadPath, resumeValidatorAttribute, d->resumeValidator);
}

bool NetHTTPRequest::openDownloadFiles()
{
    // A partial file kept for resuming stays in the temporary folder, as it always did: beside
    // the destination it would be left there whenever the download fails.
    if (d->temporaryFileDownloadPath.isEmpty())
        d->temporaryFileDownloadPath = d->allowResumeForFileDownloads ? temporaryPath()
                                                                      : temporaryPathBeside(d->downloadDestinationPath);
    const bool append = d->appendToPartial;
    d->fileDownloadOutputStream = std::make_unique<DownloadFile>(d->temporaryFileDownloadPath);
    if (!d->fileDownloadOutputStream->open(append))
        return false;
    if (!append)
        rememberResumeValidator();
    if (isResponseCompressed() && !d->shouldWaitToInflateCompressedResponses) {
        if (d->temporaryUncompressedDataDownloadPath.isEmpty())
            d->temporaryUncompressedDataDownloadPath = temporaryPathBeside(d->downloadDestinationPath);
        d->inflatedFileDownloadOutputStream = std::make_unique<DownloadFile>(d->temporaryUncompressedDataDownloadPath);
        if (!d->inflatedFileDownloadOutputStream->open(false))
            return false;
    }
    return true;
}

// Puts the finished download in place of the destination. Nothing replaces the destination
// unless the whole body is there (inflated when it came compressed).
KRError NetHTTPRequest::finishDownloadFile(bool wroteFile, bool inflatedStreamEnded)
{
    if (d->partialIsComplete || (wroteFile && !isResponseCompressed())) {
        const KRError error = moveToDestination(d->temporaryFileDownloadPath);
        // A body that cannot be put in place is not left beside the destination either (a
        // partial file kept for resuming stays where it is).
        if (!error || !d->allowResumeForFileDownloads) {
            if (error)
                QFile::remove(d->temporaryFileDownloadPath);
            d->temporaryFileDownloadPath.clear();
        }
        return error;
    }
    if (!wroteFile) {
        // An empty body still produces the file.
        const QString empty = temporaryPathBeside(d->downloadDestinationPath);
        QFile f(empty);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return errorWithCode(FileManagementError, QStringLiteral("Failed to write to file at path '%1'").arg(empty));
        f.close();
        const KRError error = moveToDestination(empty);
        if (error)
            QFile::remove(empty);
        return error;
    }
    KRError error;
    QString inflated;
    if (d->shouldWaitToInflateCompressedResponses && d->maximumResponseSize > 0) {
        inflated = temporaryPathBeside(d->downloadDestinationPath);
        error = inflateFileWithinBound(d->temporaryFileDownloadPath, inflated);
    } else if (d->shouldWaitToInflateCompressedResponses) {
        inflated = temporaryPathBeside(d->downloadDestinationPath);
        NetDataDecompressor::uncompressDataFromFile(d->temporaryFileDownloadPath, inflated, &error);
    } else {
        inflated = d->temporaryUncompressedDataDownloadPath;
        if (!inflatedStreamEnded)
            error = NetDataDecompressor::inflateErrorWithCode(-3); // the compressed stream stops short
    }
    QFile::remove(d->temporaryFileDownloadPath);
    d->temporaryFileDownloadPath.clear();
    d->temporaryUncompressedDataDownloadPath.clear();
    if (!error)
        error = moveToDestination(inflated);
    QFile::remove(inflated); // gone already when it was moved
    return error;
}

// Inflates a downloaded file piece by piece, stopping as soon as the inflated body passes the
// answer's bound (a small compressed file can inflate to any size).
KRError NetHTTPRequest::inflateFileWithinBound(const QString &source, const QString &destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return errorWithCode(FileManagementError, QStringLiteral("Failed to read file at path '%1'").arg(source));
    DownloadFile out(destination);
    if (!out.open(false))
        return errorWithCode(FileManagementError, QStringLiteral("Failed to write to file at path '%1'").arg(destination));
    auto inflater = NetDataDecompressor::decompressor();
    std::uint64_t size = 0;
    while (!in.atEnd() && !inflater->streamEnded()) {
        const QByteArray piece = in.read(16384); // inflates to at most about 16 MB
        if (piece.isEmpty())
            return errorWithCode(FileManagementError, QStringLiteral("Failed to read file at path '%1'").arg(source));
        KRError error;
        const QByteArray text = inflater->uncompressBytes(piece.constData(), piece.size(), &error);
        if (error)
            return error;
        size += std::uint64_t(text.size());
        if (size > d->maximumResponseSize)
            return responseTooLargeError();
        if (!out.write(text))
            return errorWithCode(FileManagementError, QStringLiteral("Failed to write to file at path '%1'").arg(destination));
    }
    if (!inflater->streamEnded())
        return NetDataDecompressor::inflateErrorWithCode(-3);
    if (!out.close())
        return errorWithCode(FileManagementError, QStringLiteral("Failed to write to file at path '%1'").arg(destination));
    return {};
}

KRError NetHTTPRequest::moveToDestination(const QString &source)
{
    const QString dest = d->downloadDestinationPath;
    ::removexattr(QFile::encodeName(source).constData(), ("user." + resumeValidatorAttribute).toUtf8().constData());
    KRError error;
    if (!removeFileAtPath(dest, &error))
        return error;
    if (!QFile::rename(source, dest))
        return errorWithCode(FileManagementError, QStringLiteral("Failed to move file from '%1' to '%2'").arg(source, dest));
    return {};
}

// A download that can never be completed (its body is corrupt) leaves no file behind, not even
// one kept for resuming.
void NetHTTPRequest::discardDownloadFiles()
{
    d->fileDownloadOutputStream.reset();
    d->inflatedFileDownloadOutputStream.reset();
    for (QString *path : {&d->temporaryFileDownloadPath, &d->temporaryUncompressedDataDownloadPath}) {
        if (!path->isEmpty())
            QFile::remove(*path);
        path->clear();
    }
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
    // The body of a redirect is not kept, nor that of an answer that ends a resumed download
    // or makes it start again.
    const bool discard = d->needsRedirect || d->partialIsComplete || d->restartDownload;
    QByteArray inflated;
    const bool inflating = isResponseCompressed() && !d->shouldWaitToInflateCompressedResponses && !discard;
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

    if (discard)
        return size;
    // A bounded answer is refused as soon as it is known to be too large: by its announced
    // length, by what arrived, or by what it inflates to.
    if (inflating)
        d->inflatedBytesKept += std::uint64_t(inflated.size());
    const std::uint64_t limit = d->maximumResponseSize;
    if (limit > 0 && (d->contentLength > limit || d->totalBytesRead > limit || d->inflatedBytesKept > limit)) {
        d->callbackError = responseTooLargeError();
        return 0;
    }

    auto dl = d->delegate.lock();
    const bool toDelegate = d->dataReceivedBlock || (dl && dl->answersDidReceiveData());
    if (!toDelegate) {
        if (d->downloadDestinationPath.isEmpty() || d->bodyToMemory) {
            const QByteArray &chunk = inflating ? inflated : QByteArray::fromRawData(data, qsizetype(size));
            // Room grows with what has arrived (twice as much, up to the announced length): one
            // move per doubling, and never much more memory than the body really takes.
            QByteArray &body = d->rawResponseData;
            if (body.size() + chunk.size() > body.capacity() && d->contentLength > std::uint64_t(body.size()) && !inflating)
                body.reserve(qsizetype(std::min<std::uint64_t>(d->contentLength, 2 * std::uint64_t(body.size() + chunk.size()))));
            body.append(chunk);
        } else {
            if (!d->fileDownloadOutputStream && !openDownloadFiles()) {
                d->callbackError = errorWithCode(FileManagementError,
                                                 QStringLiteral("Failed to write to file at path '%1'").arg(d->temporaryFileDownloadPath));
                return 0;
            }
            if (!d->fileDownloadOutputStream->write(data, qsizetype(size))
                || (inflating && !d->inflatedFileDownloadOutputStream->write(inflated))) {
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

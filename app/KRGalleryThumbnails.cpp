#include "KRGalleryThumbnails.h"

#include "KRDocumentController.h"
#include "KRGalleryItemViewController.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <future>
#include <memory>
#include <utility>

namespace {

// What a picture was decoded from: a file that changes gets decoded again.
struct ThumbnailStamp
{
    qint64 modified = -1;
    qint64 changed = -1;
    qint64 size = -1;
    QSize fit;
    bool operator==(const ThumbnailStamp &other) const = default;
};

ThumbnailStamp thumbnailStamp(const QString &file, QSize fit)
{
    const QFileInfo info(file);
    return {info.lastModified().toMSecsSinceEpoch(), info.metadataChangeTime().toMSecsSinceEpoch(), info.size(), fit};
}

QImage decodeThumbnail(const QString &file, QSize fit)
{
    QImageReader reader(file);
    const QImage image = reader.read();
    return image.isNull() ? image : image.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

struct ThumbnailEntry
{
    ThumbnailStamp stamp;
    std::shared_future<QImage> image;
    QRunnable *pending = nullptr; // queued on the pool and not started: may be taken back
};

// The workers own nothing but the decoding and never wait for the main thread; the process
// waits for them as it ends.
struct ThumbnailPool : QThreadPool
{
    ThumbnailPool() { setMaxThreadCount(std::clamp(QThread::idealThreadCount() / 2, 1, 4)); }
};
Q_GLOBAL_STATIC(ThumbnailPool, thumbnailWorkers)

QThreadPool &thumbnailPool()
{
    return *thumbnailWorkers();
}

// Bounded: a gallery lists ten recent projects at most, and the samples of a service come
// from the network, not from here.
constexpr int ThumbnailCacheLimit = 64;

QHash<QString, std::shared_ptr<ThumbnailEntry>> &thumbnailCache()
{
    static QHash<QString, std::shared_ptr<ThumbnailEntry>> cache;
    return cache;
}

std::shared_ptr<ThumbnailEntry> startThumbnail(const QString &file, QSize fit)
{
    QHash<QString, std::shared_ptr<ThumbnailEntry>> &cache = thumbnailCache();
    if (cache.size() >= ThumbnailCacheLimit)
        cache.clear(); // the entries being decoded finish on their own
    auto entry = std::make_shared<ThumbnailEntry>();
    entry->stamp = thumbnailStamp(file, fit);
    auto promise = std::make_shared<std::promise<QImage>>();
    entry->image = promise->get_future().share();
    // The runnable holds no reference to the entry: it may outlive it.
    QRunnable *task = QRunnable::create([file, fit, promise] { promise->set_value(decodeThumbnail(file, fit)); });
    entry->pending = task;
    cache.insert(file, entry);
    thumbnailPool().start(task);
    return entry;
}

} // namespace

namespace KRGalleryThumbnails {

void prefetch(const QStringList &files, QSize size)
{
    for (const QString &file : files) {
        const auto known = thumbnailCache().constFind(file);
        if (known != thumbnailCache().constEnd() && (*known)->stamp == thumbnailStamp(file, size))
            continue;
        startThumbnail(file, size);
    }
}

QImage thumbnail(const QString &file, QSize size)
{
    std::shared_ptr<ThumbnailEntry> entry = thumbnailCache().value(file);
    if (!entry || !(entry->stamp == thumbnailStamp(file, size)))
        entry = startThumbnail(file, size);
    // Not started yet: decoded here rather than waited for behind other pictures.
    if (QRunnable *queued = std::exchange(entry->pending, nullptr); queued && thumbnailPool().tryTake(queued)) {
        queued->run();
        delete queued;
    }
    return entry->image.get();
}

void prefetchRecentProjects()
{
    QStringList pictures;
    for (const QString &package : KRDocumentController::sharedDocumentController().recentDocumentPaths()) {
        const QString preview = package + QStringLiteral("/preview.png");
        if (QFileInfo(preview).isFile())
            pictures.append(preview);
    }
    prefetch(pictures, KRGalleryItemViewController::ThumbnailSize);
}

void clear()
{
    thumbnailCache().clear();
}

} // namespace KRGalleryThumbnails

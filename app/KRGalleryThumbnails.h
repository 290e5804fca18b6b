#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// The thumbnails of pictures on disk that the gallery's rows show (a project's "preview.png"),
// decoded and scaled on worker threads ahead of need and kept for the process. The launch asks
// for the recent projects' pictures while it waits for the gallery, so that the gallery finds
// them ready. A picture that changed since it was decoded (its time or size) is decoded again.
// Main thread only; the workers decode and scale, nothing more.
namespace KRGalleryThumbnails {

// Starts decoding each picture that is not decoded yet, to fit `size` (aspect kept).
void prefetch(const QStringList &files, QSize size);
// The picture scaled to fit `size`: ready, or waited for (decoded here when no worker has
// started on it yet). A null image when the file cannot be read as a picture.
QImage thumbnail(const QString &file, QSize size);
// The launch's part: the pictures of the recent projects that have one.
void prefetchRecentProjects();
// Forgets every picture (tests).
void clear();

} // namespace KRGalleryThumbnails

#pragma once

#include <platform/foundation/KRError.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Zip archives over minizip: extraction and listing (class operations) and a writer
// (instance: open, add entries, close). Entry names are UTF-8.
//
// Extraction is confined to the destination folder: entries whose name is absolute or has a
// ".." component are refused, and no symbolic link met on the way is followed. A refused or
// failed entry does not stop the others; the call then returns false with an error naming
// the first such entry, and nothing partial is left behind (files are written to a temporary
// name and renamed into place only when complete, so a file being overwritten survives a
// failed entry intact).
//
// Extraction is also bounded, so that a small archive cannot fill the disk: the entries to
// extract may unpack to MaximumUnpackedSize bytes in all, and an entry larger than
// RatioCheckThreshold may unpack to at most MaximumCompressionRatio times its packed size.
// The sizes the archive declares are checked before anything is written, and no entry may
// unpack to more than it declares; an archive over a limit fails with TooLarge, and the files
// and folders the call had made by then are removed again.
//
// Listing and extraction take archives of at most MaximumEntryCount entries (the most an
// archive holds without the 64-bit extension); one that declares or holds more fails with
// TooLarge before its entries are handed on, so that no caller works through millions.
class QZZipArchive
{
public:
    static constexpr const char *ErrorDomain = "QZZipArchiveErrorDomain";
    enum ErrorCode {
        FailedToOpenArchive = -1, // "failed to open zip file"
        FailedToOpenEntry = -2, // "failed to open first file in zip file" / "... current file ..."
        RefusedEntry = -3, // an entry whose path leaves the destination
        FailedToExtractEntry = -4, // an entry that could not be read or written
        TooLarge = -5, // the archive unpacks to more than the limits allow
    };
    static constexpr qint64 MaximumUnpackedSize = qint64(512) << 20;
    static constexpr qint64 MaximumCompressionRatio = 100;
    static constexpr qint64 RatioCheckThreshold = qint64(4) << 20;
    static constexpr qint64 MaximumEntryCount = 65535;

    // Extracts everything, overwriting, without password or error report.
    static bool unzipFileAtPath(const QString &path, const QString &destination);
    static bool unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                const QString &password, KRError *error = nullptr);
    // Extracts only the entry whose raw name equals extractFilename when that is non-empty
    // (a name that matches nothing: true, nothing written). An empty password means none.
    static bool unzipFileAtPath(const QString &path, const QString &extractFilename,
                                const QString &destination, bool overwrite, const QString &password,
                                KRError *error = nullptr);

    // Entry names in archive order; TooLarge for more than MaximumEntryCount entries.
    static KRResult<QStringList> contentsOfZipFileAtPath(const QString &path, const QString &password);

    // A new archive holding each file under its last path component; files that cannot be
    // read are left out. False when the archive cannot be created or finished.
    static bool createZipFileAtPath(const QString &path, const QStringList &filePaths);

    // 1 January 1980, 00:00 local time: the origin of zip dates.
    static QDateTime dateFor1980();

    // Writer. Calls out of order (open twice, write or close before open) are programming
    // errors and raise KRException "NSInternalInconsistencyException".
    explicit QZZipArchive(const QString &path); // initWithPath
    ~QZZipArchive(); // finishes an archive still open
    QZZipArchive(const QZZipArchive &) = delete;
    QZZipArchive &operator=(const QZZipArchive &) = delete;

    // Creates the archive file, replacing any file at the path.
    bool open();
    // Adds the file under its last path component; false when it cannot be read or written.
    bool writeFile(const QString &path);
    // Adds the bytes under the name; a null QByteArray raises "Nil data" (an empty one is a
    // valid empty entry). False when the archive cannot be written.
    bool writeData(const QByteArray &data, const QString &filename);
    // Writes the central directory; false when that fails.
    bool close();

    QString path() const { return m_path; }

private:
    QString m_path;
    void *m_zip = nullptr; // minizip writer handle while open
};

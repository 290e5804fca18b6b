#include "QZZipArchive.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRException.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static constexpr qint64 readChunkSize = 4096;
static constexpr qint64 writeChunkSize = 16384;

static KRError zipError(int code, const QString &message, QVariantMap userInfo = {})
{
    return KRError(QLatin1String(QZZipArchive::ErrorDomain), code, message, std::move(userInfo));
}

static void setError(KRError *error, KRError value)
{
    if (error)
        *error = std::move(value);
}

static QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Information and raw name (cut at the first NUL) of the current entry.
static bool currentEntryInfo(unzFile zip, unz_file_info64 *info, QByteArray *name)
{
    if (unzGetCurrentFileInfo64(zip, info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    QByteArray buffer(qsizetype(info->size_filename) + 1, '\0');
    if (unzGetCurrentFileInfo64(zip, info, buffer.data(), uLong(buffer.size()), nullptr, 0, nullptr, 0)
        != UNZ_OK) {
        return false;
    }
    buffer.truncate(qsizetype(::strnlen(buffer.constData(), size_t(info->size_filename))));
    *name = buffer;
    return true;
}

namespace {

// Reads the current entry's decompressed bytes. The system's minizip is built without
// decryption, so entries under traditional PKWARE encryption are read raw and decrypted and
// inflated here; everything else goes through minizip's own reading.
class EntryReader
{
public:
    EntryReader(unzFile zip, const unz_file_info64 &info, const QByteArray &password)
        : m_zip(zip), m_info(info), m_password(password)
    {}
    ~EntryReader()
    {
        if (m_inflating)
            inflateEnd(&m_stream);
    }
    EntryReader(const EntryReader &) = delete;
    EntryReader &operator=(const EntryReader &) = delete;

    // UNZ_OK when the entry is open for reading.
    int open();
    // Bytes read into buffer, 0 at the end, negative for damaged data or a wrong password.
    int read(char *buffer, int size);
    // Closes the entry; false when the data did not check out (CRC, incomplete stream).
    bool finish();

private:
    bool readHeader();
    void decrypt(unsigned char *bytes, int count);
    void updateKeys(unsigned char c);
    int readRaw(unsigned char *buffer, int size);

    unzFile m_zip;
    const unz_file_info64 &m_info;
    QByteArray m_password;
    bool m_decrypting = false;
    int m_method = 0;
    bool m_headerRead = false;
    bool m_ended = false;
    bool m_failed = false;
    bool m_inflating = false;
    z_stream m_stream{};
    unsigned char m_input[4096];
    bool m_inputDone = false;
    uLong m_crc = 0;
    quint32 m_keys[3] = {305419896u, 591751049u, 878082192u};
    const z_crc_t *m_crcTable = get_crc_table();
};

int EntryReader::open()
{
    m_decrypting = (m_info.flag & 1) != 0 && !m_password.isEmpty();
    if (!m_decrypting)
        return unzOpenCurrentFile(m_zip);
    int level = 0;
    const int rc = unzOpenCurrentFile2(m_zip, &m_method, &level, 1);
    if (rc != UNZ_OK)
        return rc;
    for (char c : m_password)
        updateKeys(static_cast<unsigned char>(c));
    if (m_method == Z_DEFLATED) {
        if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK)
            return UNZ_INTERNALERROR;
        m_inflating = true;
    }
    return UNZ_OK;
}

void EntryReader::updateKeys(unsigned char c)
{
    m_keys[0] = m_crcTable[(m_keys[0] ^ c) & 0xFF] ^ (m_keys[0] >> 8);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = m_crcTable[(m_keys[2] ^ (m_keys[1] >> 24)) & 0xFF] ^ (m_keys[2] >> 8);
}

void EntryReader::decrypt(unsigned char *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        const unsigned temp = (m_keys[2] & 0xFFFF) | 2;
        bytes[i] ^= static_cast<unsigned char>(((temp * (temp ^ 1)) >> 8) & 0xFF);
        updateKeys(bytes[i]);
    }
}

int EntryReader::readRaw(unsigned char *buffer, int size)
{
    const int n = unzReadCurrentFile(m_zip, buffer, unsigned(size));
    if (n > 0)
        decrypt(buffer, n);
    return n;
}

// The 12-byte encryption header ends with a check byte: the CRC's high byte, or the high
// byte of the DOS time when sizes and CRC follow the data.
bool EntryReader::readHeader()
{
    unsigned char header[12];
    int got = 0;
    while (got < 12) {
        const int n = readRaw(header + got, 12 - got);
        if (n <= 0)
            return false;
        got += n;
    }
    const unsigned char check = header[11];
    if (check == ((m_info.crc >> 24) & 0xFF))
        return true;
    return (m_info.flag & 8) != 0 && check == ((m_info.dosDate >> 8) & 0xFF);
}

int EntryReader::read(char *buffer, int size)
{
    if (!m_decrypting)
        return unzReadCurrentFile(m_zip, buffer, unsigned(size));
    if (m_failed)
        return -1;
    if (!m_headerRead) {
        m_headerRead = true;
        if (!readHeader() || (m_method != 0 && m_method != Z_DEFLATED)) {
            m_failed = true;
            return -1;
        }
    }
    auto *out = reinterpret_cast<unsigned char *>(buffer);
    int produced = 0;
    if (m_method == 0) {
        produced = readRaw(out, size);
        if (produced < 0) {
            m_failed = true;
            return -1;
        }
        m_ended = produced == 0;
    } else {
        m_stream.next_out = out;
        m_stream.avail_out = uInt(size);
        while (m_stream.avail_out > 0 && !m_ended) {
            if (m_stream.avail_in == 0 && !m_inputDone) {
                const int n = readRaw(m_input, int(sizeof m_input));
                if (n < 0) {
                    m_failed = true;
                    return -1;
                }
                m_inputDone = n == 0;
                m_stream.next_in = m_input;
                m_stream.avail_in = uInt(n);
            }
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                m_ended = true;
            } else if (status != Z_OK && !(status == Z_BUF_ERROR && !m_inputDone)) {
                m_failed = true; // damaged, wrong password, or cut short
                return -1;
            }
        }
        produced = size - int(m_stream.avail_out);
    }
    m_crc = crc32(m_crc, out, uInt(produced));
    return produced;
}

bool EntryReader::finish()
{
    const int rc = unzCloseCurrentFile(m_zip);
    if (!m_decrypting)
        return rc != UNZ_CRCERROR;
    return !m_failed && m_ended && m_crc == m_info.crc;
}

struct EntryFailure
{
    int code;
    QString message;
};

static QString mebibytes(qint64 bytes)
{
    return QStringLiteral("%1 MiB").arg(QString::number(double(bytes) / double(1 << 20), 'f', 1));
}

static EntryFailure tooManyEntries()
{
    return EntryFailure{QZZipArchive::TooLarge,
                        QStringLiteral("the archive holds more than %1 entries, more than an import may take")
                            .arg(QZZipArchive::MaximumEntryCount)};
}

static EntryFailure totalTooLarge()
{
    return EntryFailure{QZZipArchive::TooLarge,
                        QStringLiteral("the archive unpacks to more than %1, more than an import may take")
                            .arg(mebibytes(QZZipArchive::MaximumUnpackedSize))};
}

// Checks one entry's unpacked byte count against its packed size.
static std::optional<EntryFailure> ratioFailure(const QString &name, qint64 unpacked, qint64 packed)
{
    if (unpacked <= QZZipArchive::RatioCheckThreshold
        || double(unpacked) <= double(packed) * double(QZZipArchive::MaximumCompressionRatio))
        return std::nullopt;
    return EntryFailure{QZZipArchive::TooLarge,
                        QStringLiteral("\u201c%1\u201d unpacks to %2 from %3 bytes, more than %4 times its packed size")
                            .arg(name, mebibytes(unpacked))
                            .arg(packed)
                            .arg(QZZipArchive::MaximumCompressionRatio)};
}

// One entry's extraction into the destination folder. The caller opens the current entry
// before run() and closes it afterwards.
class EntryExtractor
{
public:
    EntryExtractor(const QByteArray &destination, bool overwrite)
        : m_destination(destination), m_overwrite(overwrite)
    {}

    std::optional<EntryFailure> run(const QByteArray &rawName, const unz_file_info64 &info,
                                    EntryReader &reader);
    // Removes the files and folders this extractor made, newest first.
    void removeCreated();

private:
    std::optional<EntryFailure> makeFolders(const QList<QByteArray> &components, qsizetype count);
    std::optional<EntryFailure> writeFile(const QByteArray &target, const unz_file_info64 &info,
                                          EntryReader &reader);

    QString m_name; // for messages
    QByteArray m_destination;
    bool m_overwrite;
    QList<QByteArray> m_created; // paths that did not exist before, in creation order
};

void EntryExtractor::removeCreated()
{
    for (auto it = m_created.crbegin(); it != m_created.crend(); ++it) {
        if (::unlink(it->constData()) != 0)
            ::rmdir(it->constData()); // a folder; stays when something else was put in it
    }
    m_created.clear();
}

std::optional<EntryFailure> EntryExtractor::run(const QByteArray &rawName, const unz_file_info64 &info,
                                                EntryReader &reader)
{
    m_name = QString::fromUtf8(rawName);
    const bool isFolder = rawName.endsWith('/') || rawName.endsWith('\\');
    QByteArray name = rawName;
    name.replace('\\', '/');

    // Only relative names that stay below the destination are extracted.
    QList<QByteArray> components;
    bool escapes = name.startsWith('/');
    for (const QByteArray &component : name.split('/')) {
        if (component == "..")
            escapes = true;
        else if (!component.isEmpty() && component != ".")
            components.append(component);
    }
    if (!escapes && components.isEmpty() && isFolder)
        return std::nullopt; // "./": the destination itself
    if (escapes || components.isEmpty()) {
        return EntryFailure{QZZipArchive::RefusedEntry,
                            QStringLiteral("refused to extract \u201c%1\u201d: its path leaves the "
                                           "destination folder").arg(m_name)};
    }

    if (isFolder)
        return makeFolders(components, components.size());
    if (auto failure = makeFolders(components, components.size() - 1))
        return failure;
    return writeFile(m_destination + '/' + components.join('/'), info, reader);
}

// Creates destination/components[0..count) one level at a time, refusing to pass through a
// symbolic link so that nothing lands outside the destination.
std::optional<EntryFailure> EntryExtractor::makeFolders(const QList<QByteArray> &components,
                                                        qsizetype count)
{
    QByteArray path = m_destination;
    for (qsizetype i = 0; i < count; ++i) {
        path += '/' + components.at(i);
        struct stat st;
        if (::lstat(path.constData(), &st) != 0) {
            const bool made = errno == ENOENT && ::mkdir(path.constData(), 0777) == 0;
            if (made)
                m_created.append(path);
            if ((made || errno == EEXIST) && ::lstat(path.constData(), &st) == 0) {
                // created (or raced with another creator): checked below
            } else {
                return EntryFailure{QZZipArchive::FailedToExtractEntry,
                                    QStringLiteral("failed to extract \u201c%1\u201d: %2")
                                        .arg(m_name, errnoText(errno))};
            }
        }
        if (S_ISLNK(st.st_mode)) {
            return EntryFailure{QZZipArchive::RefusedEntry,
                                QStringLiteral("refused to extract \u201c%1\u201d: a symbolic link "
                                               "is in the way").arg(m_name)};
        }
        if (!S_ISDIR(st.st_mode)) {
            return EntryFailure{QZZipArchive::FailedToExtractEntry,
                                QStringLiteral("failed to extract \u201c%1\u201d: a file is in the "
                                               "way of its folder").arg(m_name)};
        }
    }
    return std::nullopt;
}

// The DOS date and time as local time. Out-of-range fields roll over (day 0 is the last day
// of the previous month), as calendar arithmetic does.
static QDateTime entryDate(const tm_unz &t)
{
    const QDate date = QDate(int(t.tm_year), 1, 1).addMonths(int(t.tm_mon)).addDays(qint64(t.tm_mday) - 1);
    return QDateTime(date, QTime(0, 0), Qt::LocalTime)
        .addSecs(qint64(t.tm_hour) * 3600 + qint64(t.tm_min) * 60 + qint64(t.tm_sec));
}

std::optional<EntryFailure> EntryExtractor::writeFile(const QByteArray &target,
                                                      const unz_file_info64 &info,
                                                      EntryReader &reader)
{
    struct stat st;
    const bool existed = ::lstat(target.constData(), &st) == 0;
    if (existed && !m_overwrite)
        return std::nullopt; // keep what is there

    const auto failed = [this](const QString &reason) {
        return EntryFailure{QZZipArchive::FailedToExtractEntry,
                            QStringLiteral("failed to extract \u201c%1\u201d: %2").arg(m_name, reason)};
    };

    // Written under a temporary name beside the target and renamed over it when complete:
    // a failed entry leaves no partial file, and rename replaces a symbolic link at the
    // target instead of writing through it.
    const QByteArray folder = target.left(target.lastIndexOf('/'));
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder + "/.kr-unzip-"
            + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return failed(errnoText(errno));

    std::optional<EntryFailure> failure;
    char buffer[readChunkSize];
    qint64 entryBytes = 0;
    for (;;) {
        const int read = reader.read(buffer, int(sizeof buffer));
        if (read < 0) {
            failure = failed(QStringLiteral("the data is damaged or the password is wrong"));
            break;
        }
        if (read == 0)
            break;
        // The declared sizes passed the limits; an entry that unpacks to more is a lie.
        entryBytes += read;
        if (entryBytes > qint64(info.uncompressed_size)) {
            failure = EntryFailure{QZZipArchive::TooLarge,
                                   QStringLiteral("\u201c%1\u201d unpacks to more than the archive declares").arg(m_name)};
            break;
        }
        qint64 done = 0;
        while (done < read) {
            const ssize_t written = ::write(fd, buffer + done, size_t(read - done));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                failure = failed(errnoText(errno));
                break;
            }
            done += written;
        }
        if (failure)
            break;
    }
    // Closing the entry after reading all of it checks the CRC.
    if (!failure && !reader.finish())
        failure = failed(QStringLiteral("checksum mismatch (damaged data or wrong password)"));

    if (!failure && info.dosDate != 0) {
        const QDateTime date = entryDate(info.tmu_date);
        struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
        times[1].tv_sec = time_t(date.toSecsSinceEpoch());
        if (!date.isValid() || ::futimens(fd, times) != 0)
            KR_LOG(QStringLiteral("Failed to set attributes"));
    }
    if (::close(fd) != 0 && !failure)
        failure = failed(errnoText(errno));
    if (!failure && ::rename(temporary.constData(), target.constData()) != 0)
        failure = failed(errnoText(errno));
    if (failure) {
        ::unlink(temporary.constData());
        return failure;
    }
    if (!existed)
        m_created.append(target);
    return std::nullopt;
}

} // namespace

bool QZZipArchive::unzipFileAtPath(const QString &path, const QString &destination)
{
    return unzipFileAtPath(path, QString(), destination, true, QString(), nullptr);
}

bool QZZipArchive::unzipFileAtPath(const QString &path, const QString &destination, bool overwrite,
                                   const QString &password, KRError *error)
{
    return unzipFileAtPath(path, QString(), destination, overwrite, password, error);
}

namespace {

// The archive opened at its first entry; TooLarge when it declares more entries than an
// archive may hold.
KRResult<unzFile> openAtFirstEntry(const QString &path)
{
    unzFile zip = unzOpen64(QFile::encodeName(path).constData());
    if (!zip)
        return zipError(QZZipArchive::FailedToOpenArchive, QStringLiteral("failed to open zip file"));
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) == UNZ_OK && global.number_entry > ZPOS64_T(QZZipArchive::MaximumEntryCount)) {
        unzClose(zip);
        const EntryFailure failure = tooManyEntries();
        KR_LOG(QStringLiteral("Opening %1: %2").arg(path, failure.message));
        return zipError(failure.code, failure.message);
    }
    if (unzGoToFirstFile(zip) != UNZ_OK) {
        unzClose(zip);
        return zipError(QZZipArchive::FailedToOpenEntry, QStringLiteral("failed to open first file in zip file"));
    }
    return zip;
}

// Opens each entry from the current one on and hands it to visit, until visit returns false;
// closes the archive. Stops with an error at the first entry that cannot be opened.
KRResult<void> visitEntries(unzFile zip, const QByteArray &password,
                            const std::function<bool(const QByteArray &rawName, const unz_file_info64 &info,
                                                     EntryReader &reader)> &visit)
{
    int status = UNZ_OK;
    while (status == UNZ_OK) {
        unz_file_info64 info;
        QByteArray rawName;
        const bool known = currentEntryInfo(zip, &info, &rawName);
        EntryReader reader(zip, info, password);
        if (!known || reader.open() != UNZ_OK) {
            unzCloseCurrentFile(zip);
            unzClose(zip);
            return zipError(QZZipArchive::FailedToOpenEntry, QStringLiteral("failed to open current file in zip file"));
        }
        const bool goOn = visit(rawName, info, reader);
        unzCloseCurrentFile(zip); // no-op when the visitor closed it already
        status = goOn ? unzGoToNextFile(zip) : UNZ_END_OF_LIST_OF_FILE;
    }
    unzClose(zip);
    return {};
}

// Checks the sizes the central directory declares for the entries to extract (every entry,
// or the one named `wanted`) before anything is written; leaves the archive at its first
// entry.
std::optional<EntryFailure> checkDeclaredSizes(unzFile zip, const QByteArray &wanted)
{
    qint64 total = 0;
    qint64 entries = 0;
    std::optional<EntryFailure> failure;
    for (int status = UNZ_OK; status == UNZ_OK && !failure; status = unzGoToNextFile(zip)) {
        // The declared count may be the 16-bit field's "many": the entries are counted too.
        if (++entries > QZZipArchive::MaximumEntryCount) {
            failure = tooManyEntries();
            break;
        }
        unz_file_info64 info;
        QByteArray rawName;
        if (!currentEntryInfo(zip, &info, &rawName))
            break; // reported when the entry is opened
        if ((!wanted.isEmpty() && rawName != wanted) || rawName.endsWith('/') || rawName.endsWith('\\'))
            continue;
        const qint64 unpacked = qint64(std::min<ZPOS64_T>(info.uncompressed_size, ZPOS64_T(1) << 62));
        total += unpacked;
        if (total > QZZipArchive::MaximumUnpackedSize)
            failure = totalTooLarge();
        else
            failure = ratioFailure(QString::fromUtf8(rawName), unpacked, qint64(info.compressed_size));
    }
    unzGoToFirstFile(zip);
    return failure;
}

} // namespace

bool QZZipArchive::unzipFileAtPath(const QString &path, const QString &extractFilename,
                                   const QString &destination, bool overwrite,
                                   const QString &password, KRError *error)
{
    const KRResult<unzFile> zip = openAtFirstEntry(path);
    if (!zip) {
        setError(error, zip.error());
        return false;
    }

    const QByteArray wanted = extractFilename.toUtf8();
    if (std::optional<EntryFailure> tooLarge = checkDeclaredSizes(*zip, wanted)) {
        unzClose(*zip);
        KR_LOG(QStringLiteral("Unzipping %1: %2").arg(path, tooLarge->message));
        setError(error, zipError(tooLarge->code, tooLarge->message));
        return false;
    }
    QByteArray destinationPath = QFile::encodeName(destination.isEmpty() ? QStringLiteral(".") : destination);
    QDir().mkpath(destination.isEmpty() ? QStringLiteral(".") : destination);
    while (destinationPath.size() > 1 && destinationPath.endsWith('/'))
        destinationPath.chop(1);
    EntryExtractor extractor(destinationPath, overwrite);

    std::optional<EntryFailure> firstFailure, tooLarge;
    QStringList failedEntries;
    const KRResult<void> walked = visitEntries(*zip, password.toUtf8(), [&](const QByteArray &rawName,
                                                                            const unz_file_info64 &info,
                                                                            EntryReader &reader) {
        if (!wanted.isEmpty() && rawName != wanted)
            return true;
        if (std::optional<EntryFailure> failure = extractor.run(rawName, info, reader)) {
            KR_LOG(QStringLiteral("Unzipping %1: %2").arg(path, failure->message));
            if (failure->code == TooLarge) {
                // No other entry is worth extracting, and none of this call's stays.
                tooLarge = failure;
                return false;
            }
            failedEntries.append(QString::fromUtf8(rawName));
            if (!firstFailure)
                firstFailure = failure;
        }
        return true;
    });
    if (tooLarge) {
        extractor.removeCreated();
        setError(error, zipError(tooLarge->code, tooLarge->message));
        return false;
    }
    if (!walked) {
        setError(error, walked.error());
        return false;
    }
    if (firstFailure) {
        setError(error, zipError(firstFailure->code, firstFailure->message,
                                 {{QStringLiteral("failedEntries"), failedEntries}}));
        return false;
    }
    return true;
}

KRResult<QStringList> QZZipArchive::contentsOfZipFileAtPath(const QString &path, const QString &password)
{
    const KRResult<unzFile> zip = openAtFirstEntry(path);
    if (!zip)
        return zip.error();
    QStringList names;
    bool tooMany = false;
    const KRResult<void> walked = visitEntries(*zip, password.toUtf8(),
                                               [&](const QByteArray &rawName, const unz_file_info64 &, EntryReader &) {
                                                   tooMany = names.size() >= QZZipArchive::MaximumEntryCount;
                                                   if (!tooMany)
                                                       names.append(QString::fromUtf8(rawName));
                                                   return !tooMany;
                                               });
    if (!walked)
        return walked.error();
    if (tooMany) {
        const EntryFailure failure = tooManyEntries();
        KR_LOG(QStringLiteral("Listing %1: %2").arg(path, failure.message));
        return zipError(failure.code, failure.message);
    }
    return names;
}

bool QZZipArchive::createZipFileAtPath(const QString &path, const QStringList &filePaths)
{
    QZZipArchive archive(path);
    if (!archive.open())
        return false;
    for (const QString &file : filePaths)
        archive.writeFile(file);
    return archive.close();
}

QDateTime QZZipArchive::dateFor1980()
{
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0), Qt::LocalTime);
}

QZZipArchive::QZZipArchive(const QString &path) : m_path(path) {}

QZZipArchive::~QZZipArchive()
{
    if (m_zip)
        zipClose(static_cast<zipFile>(m_zip), nullptr);
}

bool QZZipArchive::open()
{
    if (m_zip) {
        krRaise(KRExceptionName::InternalInconsistency,
                QStringLiteral("Attempting open an archive which is already open"));
    }
    m_zip = zipOpen64(QFile::encodeName(m_path).constData(), APPEND_STATUS_CREATE);
    return m_zip != nullptr;
}

// One deflated entry with no extra fields, comment or file information (zero date and
// attributes). Names outside ASCII get the UTF-8 flag so that other tools read them right.
static bool writeEntry(zipFile zip, const QString &name, qint64 size,
                       const std::function<qint64(char *, qint64)> &read)
{
    const QByteArray rawName = name.toUtf8();
    bool ascii = true;
    for (char c : rawName)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    zip_fileinfo info;
    std::memset(&info, 0, sizeof info);
    if (zipOpenNewFileInZip4_64(zip, rawName.constData(), &info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                Z_DEFAULT_STRATEGY, nullptr, 0, 0, ascii ? 0 : (1 << 11),
                                size >= 0xffffffffLL ? 1 : 0)
        != ZIP_OK) {
        return false;
    }
    bool ok = true;
    char buffer[writeChunkSize];
    for (;;) {
        const qint64 n = read(buffer, writeChunkSize);
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (zipWriteInFileInZip(zip, buffer, unsigned(n)) != ZIP_OK) {
            ok = false;
            break;
        }
    }
    return zipCloseFileInZip(zip) == ZIP_OK && ok;
}

bool QZZipArchive::writeFile(const QString &path)
{
    if (!m_zip) {
        krRaise(KRExceptionName::InternalInconsistency,
                QStringLiteral("Attempting to write to an archive which was never opened"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return writeEntry(static_cast<zipFile>(m_zip), QFileInfo(path).fileName(), file.size(),
                      [&file](char *buffer, qint64 max) { return file.read(buffer, max); });
}

bool QZZipArchive::writeData(const QByteArray &data, const QString &filename)
{
    if (!m_zip) {
        krRaise(KRExceptionName::InternalInconsistency,
                QStringLiteral("Attempting to write to an archive which was never opened"));
    }
    if (data.isNull())
        krRaise(KRExceptionName::InternalInconsistency, QStringLiteral("Nil data"));
    qint64 offset = 0;
    return writeEntry(static_cast<zipFile>(m_zip), filename, data.size(),
                      [&data, &offset](char *buffer, qint64 max) {
                          const qint64 n = qMin(max, qint64(data.size()) - offset);
                          std::memcpy(buffer, data.constData() + offset, size_t(n));
                          offset += n;
                          return n;
                      });
}

bool QZZipArchive::close()
{
    if (!m_zip) {
        krRaise(KRExceptionName::InternalInconsistency,
                QStringLiteral("Attempting to close an archive which was never opened"));
    }
    const int rc = zipClose(static_cast<zipFile>(m_zip), nullptr);
    m_zip = nullptr;
    return rc == ZIP_OK;
}

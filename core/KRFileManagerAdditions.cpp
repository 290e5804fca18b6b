#include "KRFileManagerAdditions.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRPaths.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <climits>
#include <limits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <dirent.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace KRFileManager {

static QByteArray attributeName(const QString &name)
{
    return QByteArrayLiteral("user.") + name.toUtf8();
}

static bool isUnsupportedError(int error)
{
    return error == ENOTSUP || error == EOPNOTSUPP;
}

// Logs the first refusal of user attributes in this process; later ones are expected.
static void noteAttributeFailure(const QByteArray &path, int error)
{
    static std::atomic<bool> logged{false};
    if (!isUnsupportedError(error) || logged.exchange(true))
        return;
    KR_LOG(QStringLiteral("Extended attributes are not supported on the file system of %1 (%2); "
                          "file marks are not kept")
               .arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(error))));
}

static void setAttribute(const QByteArray &path, const QByteArray &name, const QByteArray &value,
                         bool followLink)
{
    const int rc = followLink
        ? ::setxattr(path.constData(), name.constData(), value.constData(), size_t(value.size()), 0)
        : ::lsetxattr(path.constData(), name.constData(), value.constData(), size_t(value.size()), 0);
    // Symbolic links cannot carry user attributes (EPERM): nothing to report.
    if (rc != 0)
        noteAttributeFailure(path, errno);
}

void setExtendedAttributeOfItemAtPath(const QString &path, const QString &name, const QString &value)
{
    setAttribute(QFile::encodeName(path), attributeName(name), value.toUtf8(), true);
}

void setExtendedAttributeOfOpenFile(int fd, const QString &path, const QString &name, const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    if (::fsetxattr(fd, attributeName(name).constData(), bytes.constData(), size_t(bytes.size()), 0) != 0)
        noteAttributeFailure(QFile::encodeName(path), errno);
}

void setExtendedAttributesOfAllItemsAtPath(const QString &path, const QString &name,
                                           const QString &value)
{
    const QByteArray attr = attributeName(name);
    const QByteArray bytes = value.toUtf8();
    const QByteArray root = QFile::encodeName(path);
    setAttribute(root, attr, bytes, true);

    namespace fs = std::filesystem;
    std::error_code ec;
    // Without follow_directory_symlink the iterator lists a link to a folder but does not
    // descend into it; lsetxattr then leaves the link's target alone.
    fs::recursive_directory_iterator it(fs::path(root.toStdString()),
                                        fs::directory_options::skip_permission_denied, ec);
    const fs::recursive_directory_iterator end;
    while (!ec && it != end) {
        setAttribute(QByteArray::fromStdString(it->path().native()), attr, bytes, false);
        it.increment(ec);
    }
}

QString extendedAttributeOfItemAtPath(const QString &path, const QString &name)
{
    const QByteArray file = QFile::encodeName(path);
    const QByteArray attr = attributeName(name);
    // The size may change between the two calls; retry a few times on ERANGE.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = ::getxattr(file.constData(), attr.constData(), nullptr, 0);
        if (size <= 0)
            return QString();
        QByteArray buffer(size, Qt::Uninitialized);
        const ssize_t read = ::getxattr(file.constData(), attr.constData(), buffer.data(), size_t(size));
        if (read >= 0)
            return QString::fromUtf8(buffer.constData(), read);
        if (errno != ERANGE)
            return QString();
    }
    return QString();
}

namespace {

const QByteArray kTemporaryWritePrefix = QByteArrayLiteral(".kr-write-");

// When this process began: temporary files older than that are no write of ours.
const struct timespec processStart = [] {
    struct timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}();

QByteArray temporaryMarkName()
{
    return QByteArrayLiteral("user.") + TemporaryWriteMark;
}

// The check part of a temporary file's name for its random part: where the file system keeps
// no user attributes, the name alone tells the application's temporary files from a file that
// merely starts like one.
QByteArray temporaryNameCheck(QByteArrayView random)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(TemporaryWriteMark));
    hash.addData(random);
    return hash.result().left(8).toHex();
}

// ".kr-write-", 16 random hex digits, "-", their check: the name a write gives its file.
QByteArray newTemporaryName()
{
    const QByteArray random = QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
    return kTemporaryWritePrefix + random + '-' + temporaryNameCheck(random);
}

// Whether the name is one newTemporaryName gave.
bool isCheckedTemporaryName(const QByteArray &name)
{
    const qsizetype prefix = kTemporaryWritePrefix.size();
    if (name.size() != prefix + 16 + 1 + 16 || !name.startsWith(kTemporaryWritePrefix) || name.at(prefix + 16) != '-')
        return false;
    return name.mid(prefix + 17) == temporaryNameCheck(QByteArrayView(name).sliced(prefix, 16));
}

// A file descriptor closed at the end of its scope.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

KRError posixFailure(const QString &path, int error, const QString &because = QString())
{
    QString reason = because.isEmpty() ? QString::fromLocal8Bit(std::strerror(error)) : because;
    if (because.isEmpty() && (error == ELOOP || error == ENOTDIR))
        reason = QStringLiteral("a folder on its way is a link or not a folder");
    return KRError(QStringLiteral("NSPOSIXErrorDomain"), error, reason, {{QStringLiteral("path"), path}});
}

// Why nothing could be made in the folder holding path: the folder and the system's reason
// (a folder the user may not write is no read-only file).
KRError folderFailure(const QString &path, int error)
{
    const QString folder = QFileInfo(path).absolutePath();
    return posixFailure(path, error,
                        QStringLiteral("nothing can be made in the folder \u201C%1\u201D: %2")
                            .arg(folder, QString::fromLocal8Bit(std::strerror(error))));
}

// Whether the user may write the file (the status of the file itself, in folder): someone
// has write permission, and this user has.
bool isWritableFile(int folder, const QByteArray &name, const struct stat &status)
{
    if ((status.st_mode & 0222) == 0)
        return false;
    return ::faccessat(folder, name.constData(), W_OK, AT_EACCESS) == 0;
}

// Copies the extended attributes of the open item from onto the open item to: all of them, or
// with marksOnly only the "user." marks. Those the file system or the user's rights refuse are
// left out, and told in the run log when shownPath names the item.
void copyAttributes(int from, int to, bool marksOnly = false, const QByteArray &shownPath = {})
{
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return;
    QByteArray names(size, '\0');
    const ssize_t listed = ::flistxattr(from, names.data(), size_t(names.size()));
    if (listed <= 0)
        return;
    for (const QByteArray &name : names.left(listed).split('\0')) {
        if (name.isEmpty() || (marksOnly && !name.startsWith("user.")) || name == temporaryMarkName())
            continue;
        const ssize_t length = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (length < 0)
            continue;
        QByteArray value(length, '\0');
        const ssize_t read = ::fgetxattr(from, name.constData(), value.data(), size_t(value.size()));
        if (read >= 0 && ::fsetxattr(to, name.constData(), value.constData(), size_t(read), 0) != 0
            && !shownPath.isEmpty())
            noteAttributeFailure(shownPath, errno);
    }
}

// Writes the parts one after the other, from where the file is; an error number on failure.
int writeParts(int fd, std::initializer_list<QByteArrayView> parts)
{
    std::vector<iovec> pieces;
    for (const QByteArrayView part : parts) {
        if (!part.isEmpty())
            pieces.push_back({const_cast<char *>(part.data()), std::size_t(part.size())});
    }
    for (std::size_t first = 0; first < pieces.size();) {
        const ssize_t n = ::writev(fd, pieces.data() + first, int(std::min<std::size_t>(pieces.size() - first, IOV_MAX)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        // Past what was written: whole pieces, then into the next.
        for (std::size_t left = std::size_t(n); left > 0;) {
            iovec &piece = pieces[first];
            const std::size_t taken = std::min(left, piece.iov_len);
            piece.iov_base = static_cast<char *>(piece.iov_base) + taken;
            piece.iov_len -= taken;
            left -= taken;
            if (piece.iov_len == 0)
                ++first;
        }
    }
    return 0;
}

// Makes a new temporary file in the folder, exclusively and never through a link, locked and
// marked as an atomic write's while it is written; -1 with errno set when none can be made.
// Where the file system allows, the file is made without a name, locked and marked, and only
// then given its name, so that no process stopped at any moment leaves one unmarked.
int makeTemporaryFile(int folder, QByteArray *name)
{
    const auto lockAndMark = [](int fd, const QByteArray &shown) {
        // Locked before it is marked: a marked file nobody holds is one a killed writer left.
        (void)::flock(fd, LOCK_EX | LOCK_NB);
        if (::fsetxattr(fd, temporaryMarkName().constData(), "1", 1, 0) != 0)
            noteAttributeFailure(shown, errno);
    };
    const int unnamed = ::openat(folder, ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
        lockAndMark(unnamed, QByteArrayLiteral("a temporary file"));
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(unnamed);
        for (int attempt = 0; attempt < 16; ++attempt) {
            *name = newTemporaryName();
            if (::linkat(AT_FDCWD, self.constData(), folder, name->constData(), AT_SYMLINK_FOLLOW) == 0)
                return unnamed;
            if (errno != EEXIST)
                break;
        }
        ::close(unnamed); // no /proc, or no linking here: made with its name instead
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        *name = newTemporaryName();
        const int fd = ::openat(folder, name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd >= 0)
            lockAndMark(fd, *name);
        return fd;
    }
    errno = EEXIST;
    return -1;
}

// The atomic write of the file named name in the open folder; path names it in errors.
KRResult<void> writeInFolder(int folder, const QByteArray &name, const QString &path,
                             std::initializer_list<QByteArrayView> parts, bool sync,
                             const struct timespec *modified = nullptr, const QList<FileMark> &marks = {},
                             const TemporaryFile *ahead = nullptr, struct stat *writtenStatus = nullptr)
{
    struct stat existing{};
    const bool exists = ::fstatat(folder, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return posixFailure(path, EISDIR);
    const bool replacesFile = exists && S_ISREG(existing.st_mode);
    // A file the user protected stays as it is: renaming over it would go round the protection.
    if (replacesFile && !isWritableFile(folder, name, existing))
        return posixFailure(path, EACCES, QStringLiteral("the file is read-only"));

    // A fresh name beside the target: the rename stays on one file system, and O_EXCL with
    // O_NOFOLLOW never opens anything that was there already, a link least of all. A file made
    // ahead is taken only while it is still that empty file.
    QByteArray temporary;
    Descriptor file;
    if (ahead && !ahead->name.isEmpty()) {
        file.reset(::openat(folder, ahead->name.constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat status{};
        if (file.get() >= 0
            && (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_dev != ahead->device
                || status.st_ino != ahead->inode || status.st_nlink != 1 || status.st_size != 0))
            file.reset(-1);
        if (file.get() >= 0) {
            temporary = ahead->name;
            (void)::flock(file.get(), LOCK_EX | LOCK_NB);
        }
    }
    if (file.get() < 0)
        file.reset(makeTemporaryFile(folder, &temporary));
    if (file.get() < 0)
        return folderFailure(path, errno);

    if (replacesFile) {
        // Owner first: a change of owner clears the setgid bit, which the mode then restores.
        // Each is best effort; what the user may not set stays as the new file has it.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())
            (void)::fchown(file.get(), existing.st_uid, existing.st_gid);
        ::fchmod(file.get(), existing.st_mode & 07777);
        // Read without blocking, and only when it is still the file looked at above.
        const Descriptor old(::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat opened{};
        if (old.get() >= 0 && ::fstat(old.get(), &opened) == 0 && opened.st_dev == existing.st_dev
            && opened.st_ino == existing.st_ino)
            copyAttributes(old.get(), file.get());
    }

    int error = writeParts(file.get(), parts);
    if (!error && modified) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, *modified};
        if (::futimens(file.get(), times) != 0)
            error = errno;
    }
    if (!error && sync && ::fdatasync(file.get()) != 0)
        error = errno;
    if (!error) {
        // The marks first, the temporary one off last: under its name the file is whole and
        // marked, and no cleaner takes it for abandoned once it is unlocked.
        for (const FileMark &mark : marks) {
            const QByteArray value = mark.value.toUtf8();
            if (::fsetxattr(file.get(), attributeName(mark.name).constData(), value.constData(), size_t(value.size()), 0) != 0)
                noteAttributeFailure(QFile::encodeName(path), errno);
        }
        (void)::fremovexattr(file.get(), temporaryMarkName().constData());
        if (writtenStatus && ::fstat(file.get(), writtenStatus) != 0)
            error = errno;
    }
    if (::close(file.release()) != 0 && !error)
        error = errno;
    // renameat(2) replaces a link at the target itself, never what it leads to.
    if (!error && ::renameat(folder, temporary.constData(), folder, name.constData()) != 0)
        error = errno;
    if (error) {
        ::unlinkat(folder, temporary.constData(), 0);
        return posixFailure(path, error);
    }
    return {};
}

} // namespace

KRResult<void> writeFileAtomically(const QString &path, const QByteArray &data, bool sync, const QList<FileMark> &marks)
{
    const QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return posixFailure(path, ENOENT);
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folderPath = slash < 0 ? QByteArrayLiteral(".") : slash == 0 ? QByteArrayLiteral("/") : target.left(slash);
    const QByteArray name = target.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return posixFailure(path, EISDIR);
    const Descriptor folder(::open(folderPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return posixFailure(path, errno);
    return writeInFolder(folder.get(), name, path, {data}, sync, nullptr, marks);
}

namespace {

// Opens the folder holding the last component of relativePath below root: root as named,
// every folder below it relative to the one before and never through a link; with create,
// missing folders are made. The last component is put in *name.
int openFolderBelow(const QString &root, const QString &relativePath, bool create, QByteArray *name, int *error)
{
    const QList<QByteArray> components = QFile::encodeName(relativePath).split('/');
    for (const QByteArray &component : components) {
        if (component.isEmpty() || component == "." || component == "..") {
            *error = EINVAL;
            return -1;
        }
    }
    Descriptor folder(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        *error = errno;
        return -1;
    }
    for (qsizetype i = 0; i + 1 < components.size(); ++i) {
        const char *component = components.at(i).constData();
        if (create && ::mkdirat(folder.get(), component, 0777) != 0 && errno != EEXIST) {
            *error = errno;
            return -1;
        }
        const int next = ::openat(folder.get(), component, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            *error = errno;
            return -1;
        }
        folder.reset(next);
    }
    *name = components.last();
    return folder.release();
}

} // namespace

KRResult<void> writeFileAtomicallyBelow(const QString &root, const QString &relativePath, const QByteArray &data,
                                        bool sync, const QList<FileMark> &marks)
{
    const QString path = root + QLatin1Char('/') + relativePath;
    QByteArray name;
    int error = 0;
    const Descriptor folder(openFolderBelow(root, relativePath, false, &name, &error));
    if (folder.get() < 0)
        return posixFailure(path, error);
    return writeInFolder(folder.get(), name, path, {data}, sync, nullptr, marks);
}

TemporaryFile makeTemporaryFileIn(int folder)
{
    TemporaryFile made;
    QByteArray name;
    const Descriptor file(makeTemporaryFile(folder, &name));
    struct stat status{};
    if (file.get() < 0)
        return made;
    if (::fstat(file.get(), &status) == 0)
        made = {name, status.st_dev, status.st_ino};
    else
        ::unlinkat(folder, name.constData(), 0);
    return made;
}

void removeTemporaryFileIn(int folder, const TemporaryFile &file)
{
    struct stat status{};
    if (!file.name.isEmpty() && ::fstatat(folder, file.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0
        && status.st_dev == file.device && status.st_ino == file.inode)
        ::unlinkat(folder, file.name.constData(), 0);
}

KRResult<void> writeFileAtomicallyIn(int folder, const QByteArray &name, const QString &path,
                                     std::initializer_list<QByteArrayView> parts, bool sync,
                                     const QList<FileMark> &marks, const TemporaryFile *ahead, struct stat *written)
{
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..")
        return posixFailure(path, EINVAL);
    return writeInFolder(folder, name, path, parts, sync, nullptr, marks, ahead, written);
}

static KRError packageFileError(int code, const QString &message, const QString &path)
{
    return KRError(QString::fromLatin1(PackageFileErrorDomain), code, message, {{QStringLiteral("path"), path}});
}

static QString kindOfMode(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    return QStringLiteral("no regular file");
}

static QString sizeText(qint64 bytes)
{
    return bytes % (qint64(1) << 30) == 0 ? QStringLiteral("%1 GB").arg(bytes >> 30)
                                           : QStringLiteral("%1 MB").arg(bytes >> 20);
}

static KRError unreadable(const QString &path, int error)
{
    return packageFileError(PackageFileUnreadable,
                            QStringLiteral("\u201C%1\u201D couldn\u2019t be read: %2.")
                                .arg(QFileInfo(path).fileName(), QString::fromLocal8Bit(std::strerror(error))),
                            path);
}

static KRError tooLarge(const QString &path, qint64 limit)
{
    return packageFileError(PackageFileTooLarge,
                            QStringLiteral("\u201C%1\u201D is larger than %2, so it is not read.")
                                .arg(QFileInfo(path).fileName(), sizeText(limit)),
                            path);
}

// The file opened for reading, checked to be a regular file of at most limit bytes. The
// open never waits (O_NONBLOCK: a pipe without a writer would block it); the checks look at
// what was opened, so nothing can be swapped in between.
static KRResult<int> openPackageFile(const QString &path, qint64 limit)
{
    const QString name = QFileInfo(path).fileName();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return unreadable(path, errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return unreadable(path, error);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        const bool link = QFileInfo(path).isSymLink();
        return packageFileError(PackageFileNotRegular,
                                QStringLiteral("\u201C%1\u201D is %2%3, not a regular file, so it is not read.")
                                    .arg(name, link ? QStringLiteral("a link to ") : QString(), kindOfMode(info.st_mode)),
                                path);
    }
    if (info.st_size > limit) {
        ::close(fd);
        return tooLarge(path, limit);
    }
    return fd;
}

// The rest of the open file fd (checked by openPackageFile), at most limit bytes: the file
// may have grown since it was looked at.
static KRResult<QByteArray> readOpenPackageFile(int fd, const QString &path, qint64 limit)
{
    QByteArray bytes;
    char block[65536];
    for (;;) {
        const ssize_t count = ::read(fd, block, sizeof block);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return unreadable(path, errno);
        if (count == 0)
            return bytes;
        if (bytes.size() + count > limit)
            return tooLarge(path, limit);
        bytes.append(block, count);
    }
}

KRResult<void> copyFileBelow(const QString &source, const QString &root, const QString &relativePath, bool keepDate)
{
    const QString path = root + QLatin1Char('/') + relativePath;
    const KRResult<int> opened = openPackageFile(source, PackageCopyFileLimit);
    if (!opened)
        return opened.error();
    const Descriptor input(opened.value());
    struct stat status{};
    ::fstat(input.get(), &status);
    const KRResult<QByteArray> data = readOpenPackageFile(input.get(), source, PackageCopyFileLimit);
    if (!data)
        return data.error();
    QByteArray name;
    int error = 0;
    const Descriptor folder(openFolderBelow(root, relativePath, true, &name, &error));
    if (folder.get() < 0)
        return posixFailure(path, error);
    return writeInFolder(folder.get(), name, path, {data.value()}, false, keepDate ? &status.st_mtim : nullptr);
}

bool isTemporaryWriteName(const QString &name)
{
    return name.startsWith(QLatin1String(kTemporaryWritePrefix)) && name.size() > kTemporaryWritePrefix.size();
}

namespace {

bool olderThanThisProcess(const struct stat &status)
{
    return status.st_mtim.tv_sec < processStart.tv_sec
        || (status.st_mtim.tv_sec == processStart.tv_sec && status.st_mtim.tv_nsec < processStart.tv_nsec);
}

// The open file, still the one named, carries the temporary-write mark: in its name, or (where
// the file system keeps them, and for the files of earlier versions) as a user attribute.
bool hasTemporaryMark(int fd, const QByteArray &name)
{
    if (isCheckedTemporaryName(name))
        return true;
    char value[8];
    return ::fgetxattr(fd, temporaryMarkName().constData(), value, sizeof value) >= 0;
}

QByteArray fileNameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// Removes the file at path when it is an abandoned temporary file of an atomic write (see
// removeStaleTemporaryWrites).
bool removeIfAbandoned(const QByteArray &path)
{
    struct stat status{};
    if (::lstat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) || !olderThanThisProcess(status))
        return false;
    const Descriptor file(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat opened{};
    if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || opened.st_dev != status.st_dev
        || opened.st_ino != status.st_ino)
        return false;
    // A writer holds the lock while the file is marked and takes the attribute off before it
    // lets go; the name goes with the rename right after. A marked file older than this process
    // that can be locked was left by a writer that is gone.
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0 || !hasTemporaryMark(file.get(), fileNameOf(path)))
        return false;
    struct stat again{};
    if (::lstat(path.constData(), &again) != 0 || again.st_dev != status.st_dev || again.st_ino != status.st_ino)
        return false;
    return ::unlink(path.constData()) == 0;
}

} // namespace

bool isOwnTemporaryWrite(const QString &path)
{
    if (!isTemporaryWriteName(QFileInfo(path).fileName()))
        return false;
    const Descriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat status{};
    return file.get() >= 0 && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode)
        && hasTemporaryMark(file.get(), QFile::encodeName(QFileInfo(path).fileName()));
}

int removeStaleTemporaryWrites(const QString &folder)
{
    namespace fs = std::filesystem;
    int removed = 0;
    std::error_code ec;
    // The iterator lists a link to a folder without descending into it.
    fs::recursive_directory_iterator it(fs::path(QFile::encodeName(folder).toStdString()),
                                        fs::directory_options::skip_permission_denied, ec);
    const fs::recursive_directory_iterator end;
    while (!ec && it != end) {
        const QByteArray entryPath = QByteArray::fromStdString(it->path().native());
        const QByteArray fileName = QByteArray::fromStdString(it->path().filename().native());
        if (fileName.startsWith(kTemporaryWritePrefix) && fileName.size() > kTemporaryWritePrefix.size()
            && removeIfAbandoned(entryPath)) {
            ++removed;
            KR_LOG(QStringLiteral("Removed the temporary file %1 of a write that did not finish")
                       .arg(displayPath(entryPath)));
        }
        it.increment(ec);
    }
    return removed;
}

QString displayPath(const QByteArray &path)
{
    QString shown;
    shown.reserve(path.size());
    const auto *bytes = reinterpret_cast<const unsigned char *>(path.constData());
    const qsizetype size = path.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = bytes[i];
        // The length of a well-formed UTF-8 sequence starting here, or 0.
        qsizetype length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        }
        bool valid = length > 0 && i + length <= size;
        for (qsizetype k = 1; valid && k < length; ++k) {
            const unsigned char next = bytes[i + k];
            valid = k == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        }
        if (valid) {
            shown += QString::fromUtf8(path.constData() + i, length);
            i += length;
        } else {
            shown += QStringLiteral("\\x") + QString::number(lead, 16).toUpper().rightJustified(2, QLatin1Char('0'));
            ++i;
        }
    }
    return shown;
}

bool isDecodableName(const QByteArray &name)
{
    return QFile::encodeName(QFile::decodeName(name)) == name;
}

namespace {

// The names of the entries of the open folder but "." and ".."; false with errno set when the
// folder cannot be listed.
bool listNames(int folder, QList<QByteArray> *names)
{
    const int listing = ::dup(folder);
    if (listing < 0)
        return false;
    DIR *dir = ::fdopendir(listing);
    if (!dir) {
        const int error = errno;
        ::close(listing);
        errno = error;
        return false;
    }
    ::rewinddir(dir);
    errno = 0;
    while (const struct dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names->append(name);
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    errno = error;
    return error == 0;
}

// Walks the tree below the open folder folder by folder, without recursion; a folder that
// cannot be opened or listed is passed over.
void collectUndecodable(int folder, QStringList &found)
{
    struct Level
    {
        Descriptor fd;
        QByteArray path;
        QList<QByteArray> names;
        qsizetype next = 0;
    };
    std::vector<std::unique_ptr<Level>> levels;
    const auto enter = [&](int fd, const QByteArray &path) {
        auto level = std::make_unique<Level>();
        level->fd.reset(fd);
        level->path = path;
        if (fd >= 0 && listNames(fd, &level->names))
            levels.push_back(std::move(level));
    };
    enter(::dup(folder), {});
    while (!levels.empty()) {
        Level &level = *levels.back();
        if (level.next == level.names.size()) {
            levels.pop_back();
            continue;
        }
        const QByteArray name = level.names.at(level.next++);
        const QByteArray path = level.path.isEmpty() ? name : level.path + '/' + name;
        struct stat status{};
        if (::fstatat(level.fd.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was listed
        if (!isDecodableName(name))
            found.append(displayPath(path));
        if (S_ISDIR(status.st_mode))
            enter(::openat(level.fd.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), path);
    }
}

} // namespace

QStringList undecodableNamesBelow(const QString &folder)
{
    QStringList found;
    const Descriptor root(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() >= 0)
        collectUndecodable(root.get(), found);
    found.sort();
    return found;
}

namespace {

// The error number a copy gives when what it reads changed under it: a file shorter or
// longer than it was, a folder moved, replaced or removed.
constexpr int ChangedWhileCopied = ESTALE;

// The system's reason for the error number, or what ChangedWhileCopied means.
QString reasonOf(int error)
{
    return error == ChangedWhileCopied
        ? QStringLiteral("it changed while it was copied (it was moved, replaced, written to or removed meanwhile)")
        : QString::fromLocal8Bit(std::strerror(error));
}

// Copies the bytes of the open regular file in (size bytes) to the open file out, leaving
// out its holes: a sparse file stays sparse. An error number on failure, ChangedWhileCopied
// when the file is no longer size bytes long: nothing shorter or longer passes for a copy.
int copyFileData(int in, int out, off_t size)
{
    std::vector<char> buffer(std::size_t(1) << 18);
    const auto copyRange = [&](off_t from, off_t to) {
        for (off_t at = from; at < to;) {
            const ssize_t count = ::pread(in, buffer.data(), size_t(std::min<off_t>(to - at, off_t(buffer.size()))), at);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return errno;
            if (count == 0)
                return ChangedWhileCopied; // shorter than it was
            for (ssize_t written = 0; written < count;) {
                const ssize_t n = ::pwrite(out, buffer.data() + written, size_t(count - written), at + written);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    return n < 0 ? errno : EIO;
                written += n;
            }
            at += count;
        }
        return 0;
    };
    for (off_t at = 0; at < size;) {
        off_t data = ::lseek(in, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // a hole to the end
        if (data < 0) {
            // The file system cannot tell where the holes are: everything is copied.
            if (const int error = copyRange(at, size))
                return error;
            break;
        }
        if (data >= size)
            break;
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0 || hole > size)
            hole = size;
        if (const int error = copyRange(data, hole))
            return error;
        at = hole;
    }
    struct stat after{};
    if (::fstat(in, &after) != 0)
        return errno;
    if (after.st_size != size)
        return ChangedWhileCopied;
    return ::ftruncate(out, size) == 0 ? 0 : errno;
}

// Splits a canonical path into its names.
QList<QByteArray> pathNames(const QByteArray &path)
{
    QList<QByteArray> names = path.split('/');
    names.removeAll(QByteArray());
    return names;
}

// The path from the canonical folder from to the canonical path to, as a link would name it.
QByteArray relativeLinkPath(const QByteArray &from, const QByteArray &to)
{
    const QList<QByteArray> a = pathNames(from), b = pathNames(to);
    qsizetype common = 0;
    while (common < a.size() && common < b.size() && a.at(common) == b.at(common))
        ++common;
    QList<QByteArray> parts;
    for (qsizetype i = common; i < a.size(); ++i)
        parts.append("..");
    for (qsizetype i = common; i < b.size(); ++i)
        parts.append(b.at(i));
    return parts.isEmpty() ? QByteArray(".") : parts.join('/');
}

QByteArray canonicalBytes(const QByteArray &path)
{
    char *real = ::realpath(path.constData(), nullptr);
    if (!real)
        return {};
    QByteArray result(real);
    std::free(real);
    return result;
}

bool isSameOrInsideBytes(const QByteArray &path, const QByteArray &folder)
{
    if (folder == "/")
        return path.startsWith('/');
    return path == folder || path.startsWith(folder + '/');
}

bool sameItem(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::function<void(const QByteArray &)> &copyObserver()
{
    static std::function<void(const QByteArray &)> observer;
    return observer;
}

// A copy of a folder's tree, walked folder by folder without recursion: each folder entered
// is held open (with its copy) until everything in it is copied, so depth costs two open
// files a level and no stack. Whatever is read is checked to be what was listed, and each
// folder to be still in its place when it is done: a source moved, replaced or removed while
// it is copied fails the copy (ChangedWhileCopied) instead of passing for a smaller one.
struct TreeCopy
{
    QByteArray linkRoot;    // canonical; empty: links are left out
    QList<QByteArray> skip; // at the top
    bool keepMarks = true;
    KRError error;

    bool fail(const QByteArray &path, int code, const QString &what)
    {
        error = KRError(QStringLiteral("NSPOSIXErrorDomain"), code,
                        QStringLiteral("\u201C%1\u201D %2: %3").arg(displayPath(path), what, reasonOf(code)),
                        {{QStringLiteral("path"), displayPath(path)}});
        return false;
    }
    bool changed(const QByteArray &path) { return fail(path, ChangedWhileCopied, QStringLiteral("couldn\u2019t be copied")); }

    struct Level
    {
        Descriptor source, target;
        QByteArray sourcePath, targetPath;
        QByteArray name;   // in the folder above; empty at the top
        struct stat status{}; // the source folder as entered
        QList<QByteArray> names;
        qsizetype next = 0;
        QByteArray sourceReal; // canonical, when a link needed it
    };

    // Copies the open source folder's entries into the open target folder.
    bool copy(int source, int target, const QByteArray &sourcePath, const QByteArray &targetPath)
    {
        std::vector<std::unique_ptr<Level>> levels;
        const auto enter = [&](int in, int out, const QByteArray &from, const QByteArray &to, const QByteArray &name) {
            auto level = std::make_unique<Level>();
            level->source.reset(in);
            level->target.reset(out);
            level->sourcePath = from;
            level->targetPath = to;
            level->name = name;
            if (::fstat(in, &level->status) != 0 || !listNames(in, &level->names))
                return fail(from, errno, QStringLiteral("couldn\u2019t be read"));
            levels.push_back(std::move(level));
            return true;
        };
        const int top = ::dup(source), topOut = ::dup(target);
        if (top < 0 || topOut < 0) {
            const int error = errno;
            if (top >= 0)
                ::close(top);
            if (topOut >= 0)
                ::close(topOut);
            return fail(sourcePath, error, QStringLiteral("couldn\u2019t be read"));
        }
        if (!enter(top, topOut, sourcePath, targetPath, {}))
            return false;
        while (!levels.empty()) {
            Level &level = *levels.back();
            if (level.next == level.names.size()) {
                // Done: the folder must still be the one listed, in its place.
                struct stat now{}, placed{};
                if (::fstat(level.source.get(), &now) != 0 || now.st_nlink == 0)
                    return changed(level.sourcePath);
                if (levels.size() > 1
                    && (::fstatat(levels[levels.size() - 2]->source.get(), level.name.constData(), &placed, AT_SYMLINK_NOFOLLOW) != 0
                        || !sameItem(placed, level.status)))
                    return changed(level.sourcePath);
                levels.pop_back();
                continue;
            }
            const QByteArray name = level.names.at(level.next++);
            if (levels.size() == 1 && skip.contains(name))
                continue;
            if (!copyEntry(level, name, enter))
                return false;
            if (const auto &observer = copyObserver())
                observer(level.sourcePath + '/' + name);
        }
        return true;
    }

    template<typename Enter>
    bool copyEntry(Level &level, const QByteArray &name, Enter &&enter)
    {
        const int source = level.source.get(), target = level.target.get();
        const QByteArray from = level.sourcePath + '/' + name;
        const QByteArray to = level.targetPath + '/' + name;
        struct stat status{};
        if (::fstatat(source, name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone since it was listed: only a temporary file of a write going on may go.
            if (errno == ENOENT && name.startsWith(kTemporaryWritePrefix))
                return true;
            return errno == ENOENT ? changed(from) : fail(from, errno, QStringLiteral("couldn\u2019t be read"));
        }
        if (S_ISLNK(status.st_mode)) {
            const QByteArray real = linkRoot.isEmpty() ? QByteArray() : canonicalBytes(from);
            if (real.isEmpty() || !isSameOrInsideBytes(real, linkRoot)) {
                KR_LOG(QStringLiteral("The link %1 is not copied: it leads out of %2 or to nothing")
                           .arg(displayPath(from), displayPath(linkRoot)));
                return true;
            }
            if (level.sourceReal.isEmpty())
                level.sourceReal = canonicalBytes(level.sourcePath);
            if (level.sourceReal.isEmpty())
                return fail(level.sourcePath, errno ? errno : ENOENT, QStringLiteral("couldn\u2019t be read"));
            if (::symlinkat(relativeLinkPath(level.sourceReal, real).constData(), target, name.constData()) != 0)
                return fail(to, errno, QStringLiteral("couldn\u2019t be made"));
            return true;
        }
        if (S_ISDIR(status.st_mode)) {
            if (::mkdirat(target, name.constData(), (status.st_mode & 07777) | 0700) != 0)
                return fail(to, errno, QStringLiteral("couldn\u2019t be made"));
            Descriptor in(::openat(source, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat opened{};
            if (in.get() < 0)
                return errno == ENOENT || errno == ELOOP || errno == ENOTDIR ? changed(from)
                                                                              : fail(from, errno, QStringLiteral("couldn\u2019t be read"));
            if (::fstat(in.get(), &opened) != 0 || !sameItem(opened, status))
                return changed(from);
            Descriptor out(::openat(target, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (out.get() < 0)
                return fail(to, errno, QStringLiteral("couldn\u2019t be opened"));
            if (keepMarks)
                copyAttributes(in.get(), out.get(), true, to);
            return enter(in.release(), out.release(), from, to, name);
        }
        if (!S_ISREG(status.st_mode)) {
            KR_LOG(QStringLiteral("Not copied (not a file or folder): %1").arg(displayPath(from)));
            return true;
        }
        const Descriptor in(::openat(source, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        if (in.get() < 0) {
            if (errno == ENOENT && name.startsWith(kTemporaryWritePrefix))
                return true;
            return errno == ENOENT || errno == ELOOP ? changed(from) : fail(from, errno, QStringLiteral("couldn\u2019t be read"));
        }
        struct stat opened{};
        if (::fstat(in.get(), &opened) != 0)
            return fail(from, errno, QStringLiteral("couldn\u2019t be read"));
        if (!sameItem(opened, status))
            return changed(from); // swapped since it was listed
        // A temporary file of an unfinished write is no part of what is copied.
        if (name.startsWith(kTemporaryWritePrefix) && hasTemporaryMark(in.get(), name))
            return true;
        const Descriptor out(::openat(target, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                      opened.st_mode & 07777));
        if (out.get() < 0)
            return fail(to, errno, QStringLiteral("couldn\u2019t be made"));
        if (const int error = copyFileData(in.get(), out.get(), opened.st_size))
            return fail(from, error, QStringLiteral("couldn\u2019t be copied"));
        // Written to in the meantime, or no longer the file of that name: what was read is
        // not the file.
        struct stat after{}, placed{};
        if (::fstat(in.get(), &after) != 0 || after.st_mtim.tv_sec != opened.st_mtim.tv_sec
            || after.st_mtim.tv_nsec != opened.st_mtim.tv_nsec
            || ::fstatat(source, name.constData(), &placed, AT_SYMLINK_NOFOLLOW) != 0 || !sameItem(placed, opened))
            return changed(from);
        if (keepMarks)
            copyAttributes(in.get(), out.get(), true, to);
        return true;
    }
};

// Removes everything below the open folder (path names it), folder by folder without
// recursion, links never followed, never entering another mount.
bool removeBelow(int folder, const QByteArray &path, KRError *error)
{
    struct Level
    {
        Descriptor fd;
        QByteArray path, name;
        QList<QByteArray> names;
        qsizetype next = 0;
    };
    const auto removeFailed = [&](const QByteArray &item) {
        *error = posixFailure(displayPath(item), errno,
                              QStringLiteral("\u201C%1\u201D couldn\u2019t be removed: %2")
                                  .arg(displayPath(item), QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    };
    std::vector<std::unique_ptr<Level>> levels;
    const auto enter = [&](int fd, const QByteArray &item, const QByteArray &name) {
        auto level = std::make_unique<Level>();
        level->fd.reset(fd);
        level->path = item;
        level->name = name;
        if (fd < 0 || !listNames(fd, &level->names)) {
            *error = posixFailure(displayPath(item), errno);
            return false;
        }
        levels.push_back(std::move(level));
        return true;
    };
    if (!enter(::dup(folder), path, {}))
        return false;
    while (!levels.empty()) {
        Level &level = *levels.back();
        if (level.next == level.names.size()) {
            const QByteArray name = level.name, item = level.path;
            levels.pop_back();
            if (!levels.empty() && ::unlinkat(levels.back()->fd.get(), name.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                return removeFailed(item);
            continue;
        }
        const QByteArray name = level.names.at(level.next++);
        const QByteArray item = level.path + '/' + name;
        struct stat status{};
        if (::fstatat(level.fd.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue; // gone since it was listed
            *error = posixFailure(displayPath(item), errno);
            return false;
        }
        if (S_ISDIR(status.st_mode)) {
            if (isMountedOn(level.fd.get(), name)) {
                *error = posixFailure(displayPath(item), EBUSY,
                                      QStringLiteral("\u201C%1\u201D is another mounted file system: nothing in it is removed")
                                          .arg(displayPath(item)));
                return false;
            }
            if (!enter(::openat(level.fd.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC), item, name))
                return false;
            continue;
        }
        if (::unlinkat(level.fd.get(), name.constData(), 0) != 0 && errno != ENOENT)
            return removeFailed(item);
    }
    return true;
}

} // namespace

bool isMountedOn(int folder, const QByteArray &name)
{
    struct statx item{}, around{};
    if (::statx(folder, name.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE | STATX_MNT_ID, &item) != 0)
        return false;
    if (item.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
        return (item.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    if (::statx(folder, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT, STATX_MNT_ID, &around) != 0)
        return false;
    if (item.stx_mask & around.stx_mask & STATX_MNT_ID)
        return item.stx_mnt_id != around.stx_mnt_id;
    // A kernel that tells no mount: another file system at least. Only folders are compared,
    // since some file systems give a file the device of the layer it lies on.
    return S_ISDIR(item.stx_mode) && (item.stx_dev_major != around.stx_dev_major || item.stx_dev_minor != around.stx_dev_minor);
}

void setCopyObserverForTesting(std::function<void(const QByteArray &path)> observer)
{
    copyObserver() = std::move(observer);
}

KRResult<void> copyFolderContents(const QString &source, const QString &destination, const FolderCopy &options)
{
    const QByteArray sourcePath = QFile::encodeName(source);
    const QByteArray targetPath = QFile::encodeName(destination);
    TreeCopy copy;
    copy.linkRoot = QFile::encodeName(options.linkRoot);
    copy.keepMarks = options.keepMarks;
    for (const QString &name : options.skip)
        copy.skip.append(QFile::encodeName(name));
    const Descriptor in(::open(sourcePath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (in.get() < 0) {
        copy.fail(sourcePath, errno, QStringLiteral("couldn\u2019t be read"));
        return copy.error;
    }
    const Descriptor out(::open(targetPath.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (out.get() < 0) {
        copy.fail(targetPath, errno, QStringLiteral("couldn\u2019t be opened"));
        return copy.error;
    }
    if (!copy.copy(in.get(), out.get(), sourcePath, targetPath))
        return copy.error;
    // The folder copied must still be the one its path names: one replaced under the copy
    // (another program's save into that place) leaves a copy of something that is gone.
    struct stat copied{}, named{};
    if (::fstat(in.get(), &copied) != 0 || ::stat(sourcePath.constData(), &named) != 0 || !sameItem(copied, named)) {
        copy.changed(sourcePath);
        return copy.error;
    }
    return {};
}

KRResult<void> removeItemRecursively(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    struct stat status{};
    if (::lstat(bytes.constData(), &status) != 0)
        return errno == ENOENT ? KRResult<void>() : KRResult<void>(posixFailure(path, errno));
    if (S_ISDIR(status.st_mode)) {
        const QFileInfo info(path);
        const Descriptor parent(::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.get() >= 0 && isMountedOn(parent.get(), QFile::encodeName(info.fileName())))
            return posixFailure(path, EBUSY,
                                QStringLiteral("\u201C%1\u201D is another mounted file system: nothing in it is removed")
                                    .arg(displayPath(bytes)));
        const Descriptor folder(::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.get() < 0)
            return posixFailure(path, errno);
        KRError error;
        if (!removeBelow(folder.get(), bytes, &error))
            return error;
        if (::rmdir(bytes.constData()) != 0 && errno != ENOENT)
            return posixFailure(path, errno);
        return {};
    }
    if (::unlink(bytes.constData()) != 0 && errno != ENOENT)
        return posixFailure(path, errno);
    return {};
}

QString canonicalPathAllowingMissing(const QString &path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList rest;
    while (!QFileInfo::exists(existing)) {
        const QFileInfo info(existing);
        const QString parent = info.absolutePath();
        if (parent == existing)
            break;
        rest.prepend(info.fileName());
        existing = parent;
    }
    QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = existing;
    for (const QString &component : std::as_const(rest))
        canonical += QLatin1Char('/') + component;
    return QDir::cleanPath(canonical);
}

bool isSameOrInside(const QString &path, const QString &folder)
{
    if (folder == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

bool isSameItemOrInside(const QString &path, const QString &folder)
{
    struct stat wanted{};
    if (folder.isEmpty() || ::stat(QFile::encodeName(folder).constData(), &wanted) != 0)
        return false;
    for (QString current = QDir::cleanPath(QFileInfo(path).absoluteFilePath());;) {
        struct stat status{};
        if (::stat(QFile::encodeName(current).constData(), &status) == 0 && status.st_dev == wanted.st_dev
            && status.st_ino == wanted.st_ino)
            return true;
        const QString parent = QFileInfo(current).absolutePath();
        if (parent == current)
            return false;
        current = parent;
    }
}

LinkCopy copyLinkWithin(const QString &linkPath, const QString &target, const QString &root, QString *reason)
{
    const QFileInfo link(linkPath);
    const QString real = link.canonicalFilePath(); // empty for a link that leads nowhere
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    if (real.isEmpty() || canonicalRoot.isEmpty() || !isSameOrInside(real, canonicalRoot)) {
        KR_LOG(QStringLiteral("The link %1 is not copied: it leads out of %2 or to nothing").arg(linkPath, root));
        return LinkCopy::LeftOut;
    }
    // Relative to the link's own folder, so that the copy leads into the copied tree.
    const QString linkFolder = QFileInfo(link.absolutePath()).canonicalFilePath();
    QString relative = QDir(linkFolder).relativeFilePath(real);
    if (relative.isEmpty())
        relative = QStringLiteral(".");
    if (::symlink(QFile::encodeName(relative).constData(), QFile::encodeName(target).constData()) != 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(errno));
        return LinkCopy::Failed;
    }
    return LinkCopy::Copied;
}

bool copyItemWithin(const QString &source, const QString &target, const QString &root, QString *reason)
{
    const QFileInfo info(source);
    if (info.isSymLink())
        return copyLinkWithin(source, target, root, reason) != LinkCopy::Failed;
    const QByteArray targetPath = QFile::encodeName(target);
    if (info.isDir()) {
        if (::mkdir(targetPath.constData(), 0777) != 0) {
            if (reason)
                *reason = QStringLiteral("the folder \u201C%1\u201D could not be created: %2")
                              .arg(target, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        FolderCopy options;
        options.linkRoot = root;
        options.keepMarks = false;
        const KRResult<void> copied = copyFolderContents(source, target, options);
        if (!copied && reason)
            *reason = copied.error().message();
        return copied.ok();
    }
    if (!info.isFile()) {
        KR_LOG(QStringLiteral("Not copied (not a file or folder): %1").arg(source));
        return true;
    }
    const KRResult<void> copied = copyPackageFile(source, target, std::numeric_limits<qint64>::max());
    if (!copied && reason)
        *reason = copied.error().message();
    return copied.ok();
}

KRResult<QByteArray> readPackageFile(const QString &path, qint64 limit)
{
    const KRResult<int> opened = openPackageFile(path, limit);
    if (!opened)
        return opened.error();
    const Descriptor file(opened.value());
    return readOpenPackageFile(file.get(), path, limit);
}

KRResult<void> copyPackageFile(const QString &source, const QString &target, qint64 limit)
{
    const KRResult<int> opened = openPackageFile(source, limit);
    if (!opened)
        return opened.error();
    const Descriptor in(opened.value());
    struct stat info {};
    ::fstat(in.get(), &info);
    const QByteArray targetPath = QFile::encodeName(target);
    Descriptor out(::open(targetPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          info.st_mode & 07777));
    int error = out.get() < 0 ? errno : copyFileData(in.get(), out.get(), info.st_size);
    if (out.get() >= 0 && ::close(out.release()) != 0 && !error)
        error = errno;
    if (!error)
        return {};
    if (error != EEXIST)
        ::unlink(targetPath.constData());
    return packageFileError(PackageFileUnreadable,
                            QStringLiteral("\u201C%1\u201D couldn\u2019t be copied to \u201C%2\u201D: %3.")
                                .arg(QFileInfo(source).fileName(), target, reasonOf(error)),
                            source);
}

QString specialFileKind(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat own {};
    if (::lstat(encoded.constData(), &own) != 0)
        return {};
    const bool link = S_ISLNK(own.st_mode);
    struct stat info = own;
    if (link && ::stat(encoded.constData(), &info) != 0)
        return {};
    if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
        return {};
    return (link ? QStringLiteral("a link to ") : QString()) + kindOfMode(info.st_mode);
}

QString pathForTemporaryFileWithPrefix(const QString &prefix)
{
    return KRPaths::temporaryDirectory() + QLatin1Char('/') + prefix + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

static QString xdgFolder(const char *variable, const QString &belowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    const QString home = QDir::homePath();
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        return {};
    return home + QLatin1Char('/') + belowHome;
}

static QString searchPath(SearchPathDirectory directory)
{
    switch (directory) {
    case SearchPathDirectory::ApplicationSupport:
        return xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share"));
    case SearchPathDirectory::Caches:
        return xdgFolder("XDG_CACHE_HOME", QStringLiteral(".cache"));
    case SearchPathDirectory::Documents:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    return {};
}

KRResult<QString> findOrCreateDirectory(SearchPathDirectory directory, const QString &appendComponent)
{
    const QVariantMap userInfo{
        {QStringLiteral("NSSearchPathDirectory"), int(directory)},
        {QStringLiteral("NSSearchPathDomainMask"), UserDomainMask},
    };
    QString path = searchPath(directory);
    if (path.isEmpty()) {
        return KRError(QLatin1String(DirectoryLocationErrorDomain), DirectoryLocationNoPath,
                       QStringLiteral("No path found for directory in domain."), userInfo);
    }
    if (!appendComponent.isEmpty())
        path += QLatin1Char('/') + appendComponent;

    const QFileInfo info(path);
    if (info.isDir())
        return path;
    if (info.exists() || info.isSymLink()) {
        return KRError(QLatin1String(DirectoryLocationErrorDomain), DirectoryLocationFileExists,
                       QStringLiteral("File exists at requested directory location."), userInfo);
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), ec);
    if (ec) {
        return KRError(QStringLiteral("NSPOSIXErrorDomain"), ec.value(),
                       QStringLiteral("The folder \u201c%1\u201d could not be created: %2")
                           .arg(path, QString::fromLocal8Bit(ec.message().c_str())));
    }
    return path;
}

QString applicationSupportDirectory()
{
    const QString path = KRPaths::applicationSupportDirectory();
    if (!path.isEmpty())
        return path;
    // Ask again through the searching path to learn why it failed.
    const KRResult<QString> result = findOrCreateDirectory(SearchPathDirectory::ApplicationSupport,
                                                           QLatin1String(KRPaths::applicationName));
    const QString reason = result.ok() ? QStringLiteral("unknown error") : result.error().toString();
    KR_LOG(QStringLiteral("Unable to find or create application support directory:\n%1").arg(reason));
    return {};
}

} // namespace KRFileManager

#include "KRFileManagerAdditions.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
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

KRError posixFailure(const QString &path, int error)
{
    QString reason = QString::fromLocal8Bit(std::strerror(error));
    if (error == EACCES)
        reason = QStringLiteral("the file is read-only");
    else if (error == ELOOP || error == ENOTDIR)
        reason = QStringLiteral("a folder on its way is a link or not a folder");
    return KRError(QStringLiteral("NSPOSIXErrorDomain"), error, reason, {{QStringLiteral("path"), path}});
}

// Whether the user may write the file (the status of the file itself, in folder): someone
// has write permission, and this user has.
bool isWritableFile(int folder, const QByteArray &name, const struct stat &status)
{
    if ((status.st_mode & 0222) == 0)
        return false;
    return ::faccessat(folder, name.constData(), W_OK, AT_EACCESS) == 0;
}

// Copies the extended attributes of the open file from onto the open file to; those the
// file system or the user's rights refuse are left out.
void copyAttributes(int from, int to)
{
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0)
        return;
    QByteArray names(size, '\0');
    const ssize_t listed = ::flistxattr(from, names.data(), size_t(names.size()));
    if (listed <= 0)
        return;
    for (const QByteArray &name : names.left(listed).split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t length = ::fgetxattr(from, name.constData(), nullptr, 0);
        if (length < 0)
            continue;
        QByteArray value(length, '\0');
        const ssize_t read = ::fgetxattr(from, name.constData(), value.data(), size_t(value.size()));
        if (read >= 0)
            ::fsetxattr(to, name.constData(), value.constData(), size_t(read), 0);
    }
}

// The atomic write of the file named name in the open folder; path names it in errors.
KRResult<void> writeInFolder(int folder, const QByteArray &name, const QString &path, const QByteArray &data,
                             bool sync, const struct timespec *modified = nullptr)
{
    struct stat existing{};
    const bool exists = ::fstatat(folder, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return posixFailure(path, EISDIR);
    const bool replacesFile = exists && S_ISREG(existing.st_mode);
    // A file the user protected stays as it is: renaming over it would go round the protection.
    if (replacesFile && !isWritableFile(folder, name, existing))
        return posixFailure(path, EACCES);

    // A fresh name beside the target: the rename stays on one file system, and O_EXCL with
    // O_NOFOLLOW never opens anything that was there already, a link least of all.
    QByteArray temporary;
    Descriptor file;
    for (int attempt = 0; attempt < 16 && file.get() < 0; ++attempt) {
        temporary = kTemporaryWritePrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        file.reset(::openat(folder, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file.get() < 0 && errno != EEXIST)
            break;
    }
    if (file.get() < 0)
        return posixFailure(path, errno);

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

    int error = 0;
    for (qsizetype done = 0; done < data.size() && !error;) {
        const ssize_t written = ::write(file.get(), data.constData() + done, size_t(data.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            error = written < 0 ? errno : EIO;
        else
            done += written;
    }
    if (!error && modified) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, *modified};
        if (::futimens(file.get(), times) != 0)
            error = errno;
    }
    if (!error && sync && ::fdatasync(file.get()) != 0)
        error = errno;
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

KRResult<void> writeFileAtomically(const QString &path, const QByteArray &data, bool sync)
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
    return writeInFolder(folder.get(), name, path, data, sync);
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
                                        bool sync)
{
    const QString path = root + QLatin1Char('/') + relativePath;
    QByteArray name;
    int error = 0;
    const Descriptor folder(openFolderBelow(root, relativePath, false, &name, &error));
    if (folder.get() < 0)
        return posixFailure(path, error);
    return writeInFolder(folder.get(), name, path, data, sync);
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
    return writeInFolder(folder.get(), name, path, data.value(), false, keepDate ? &status.st_mtim : nullptr);
}

bool isTemporaryWriteName(const QString &name)
{
    return name.startsWith(QLatin1String(kTemporaryWritePrefix)) && name.size() > kTemporaryWritePrefix.size();
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
        struct stat status{};
        if (isTemporaryWriteName(QFile::decodeName(QByteArray::fromStdString(it->path().filename().native())))
            && ::lstat(entryPath.constData(), &status) == 0 && S_ISREG(status.st_mode)
            && (status.st_mtim.tv_sec < processStart.tv_sec
                || (status.st_mtim.tv_sec == processStart.tv_sec && status.st_mtim.tv_nsec < processStart.tv_nsec))
            && ::unlink(entryPath.constData()) == 0) {
            ++removed;
            KR_LOG(QStringLiteral("Removed the temporary file %1 of a save that did not finish")
                       .arg(QFile::decodeName(entryPath)));
        }
        it.increment(ec);
    }
    return removed;
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
    if (info.isDir()) {
        if (!QDir().mkdir(target)) {
            if (reason)
                *reason = QStringLiteral("the folder \u201C%1\u201D could not be created").arg(target);
            return false;
        }
        const QStringList names =
            QDir(source).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            if (!copyItemWithin(source + QLatin1Char('/') + name, target + QLatin1Char('/') + name, root, reason))
                return false;
        }
        return true;
    }
    if (!info.isFile()) {
        KR_LOG(QStringLiteral("Not copied (not a file or folder): %1").arg(source));
        return true;
    }
    QFile file(source);
    if (!file.copy(target)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    return true;
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
    const int in = opened.value();
    struct stat info {};
    ::fstat(in, &info);
    const QByteArray targetPath = QFile::encodeName(target);
    const int out = ::open(targetPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           info.st_mode & 07777);
    const auto fail = [&](int error) -> KRResult<void> {
        ::close(in);
        if (out >= 0) {
            ::close(out);
            ::unlink(targetPath.constData());
        }
        return packageFileError(PackageFileUnreadable,
                                QStringLiteral("\u201C%1\u201D couldn\u2019t be copied: %2.")
                                    .arg(QFileInfo(source).fileName(), QString::fromLocal8Bit(std::strerror(error))),
                                source);
    };
    if (out < 0)
        return fail(errno);
    char block[65536];
    qint64 total = 0;
    for (;;) {
        const ssize_t count = ::read(in, block, sizeof block);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return fail(errno);
        if (count == 0)
            break;
        total += count;
        if (total > limit)
            return fail(EFBIG);
        for (ssize_t written = 0; written < count;) {
            const ssize_t n = ::write(out, block + written, size_t(count - written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail(errno);
            written += n;
        }
    }
    ::close(in);
    if (::close(out) != 0) {
        const int error = errno;
        ::unlink(targetPath.constData());
        return packageFileError(PackageFileUnreadable,
                                QStringLiteral("\u201C%1\u201D couldn\u2019t be copied: %2.")
                                    .arg(QFileInfo(source).fileName(), QString::fromLocal8Bit(std::strerror(error))),
                                source);
    }
    return {};
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

#include "KRFileManagerAdditions.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

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

KRResult<void> writeFileAtomically(const QString &path, const QByteArray &data, bool sync)
{
    const QByteArray target = QFile::encodeName(path);
    const auto failure = [&path](int error) {
        return KRError(QStringLiteral("NSPOSIXErrorDomain"), error, QString::fromLocal8Bit(std::strerror(error)),
                       {{QStringLiteral("path"), path}});
    };
    if (target.isEmpty())
        return failure(ENOENT);
    struct stat existing{};
    const bool exists = ::lstat(target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return failure(EISDIR);

    // A fresh name beside the target: the rename stays on one file system, and O_EXCL with
    // O_NOFOLLOW never opens anything that was there already, a link least of all.
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArrayLiteral(".") : target.left(slash);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = folder + "/.kr-write-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return failure(errno);
    if (exists && S_ISREG(existing.st_mode))
        ::fchmod(fd, existing.st_mode & 07777); // the file keeps its permissions; best effort

    int error = 0;
    for (qsizetype done = 0; done < data.size() && !error;) {
        const ssize_t written = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            error = written < 0 ? errno : EIO;
        else
            done += written;
    }
    if (!error && sync && ::fdatasync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    // rename(2) replaces a link at the target itself, never what it leads to.
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return failure(error);
    }
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

#include "KRFileManagerAdditions.h"

#include <core/KRRunLogger.h>
#include <platform/foundation/KRPaths.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <sys/xattr.h>

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

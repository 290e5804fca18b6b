#include "KRPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace KRPaths {

static QString ensured(const QString &path, bool privateFolder = false)
{
    if (path.isEmpty())
        return {};
    QDir dir;
    if (!dir.mkpath(path))
        return {};
    if (privateFolder) {
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                        | QFileDevice::ExeOwner);
    }
    return QFileInfo(path).absoluteFilePath();
}

static QString xdgFolder(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return value;
    return QDir::homePath() + QLatin1Char('/') + fallbackBelowHome;
}

QString applicationSupportDirectory()
{
    return ensured(xdgFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QLatin1Char('/')
                   + QLatin1String(applicationName));
}

QString logsDirectory()
{
    return ensured(xdgFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) + QLatin1Char('/')
                   + QLatin1String(applicationName));
}

QString cachesDirectory()
{
    return ensured(xdgFolder("XDG_CACHE_HOME", QStringLiteral(".cache")) + QLatin1Char('/')
                   + QLatin1String(applicationName));
}

QString temporaryDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir() && QFileInfo(runtime).isWritable()) {
        const QString path = ensured(runtime + QLatin1Char('/') + QLatin1String(applicationName), true);
        if (!path.isEmpty())
            return path;
    }
    const QString caches = cachesDirectory();
    if (caches.isEmpty())
        return {};
    return ensured(caches + QStringLiteral("/tmp"), true);
}

QString documentsDirectory()
{
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return docs.isEmpty() ? QDir::homePath() : docs;
}

} // namespace KRPaths

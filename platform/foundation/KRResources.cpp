#include "KRResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>

namespace KRResources {

static QMutex s_mutex;
static QString s_override;
static QString s_found;

static QString lookUp()
{
    const QString fromEnv = qEnvironmentVariable("KR_RESOURCES_DIR");
    if (!fromEnv.isEmpty() && QFileInfo(fromEnv).isDir())
        return QFileInfo(fromEnv).absoluteFilePath();
    if (QCoreApplication::instance()) {
        const QString installed = QCoreApplication::applicationDirPath()
            + QStringLiteral("/../share/korvane/resources");
        if (QFileInfo(installed).isDir())
            return QFileInfo(installed).canonicalFilePath();
    }
    return QStringLiteral(KR_SOURCE_RESOURCES_DIR);
}

QString resourcesDirectory()
{
    QMutexLocker lock(&s_mutex);
    if (!s_override.isEmpty())
        return s_override;
    if (s_found.isEmpty())
        s_found = lookUp();
    return s_found;
}

QString pathForResource(const QString &relativePath)
{
    return resourcesDirectory() + QLatin1Char('/') + relativePath;
}

void setResourcesDirectory(const QString &path)
{
    QMutexLocker lock(&s_mutex);
    s_override = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

} // namespace KRResources

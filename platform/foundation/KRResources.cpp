#include "KRResources.h"

#include <platform/foundation/KRLogSink.h>

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
    // The program's own folder, also before the application object exists (the answer is
    // kept for the process).
    QString programFolder;
    if (QCoreApplication::instance())
        programFolder = QCoreApplication::applicationDirPath();
    else if (const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(); !program.isEmpty())
        programFolder = QFileInfo(program).absolutePath();
    const QString installed = programFolder + QStringLiteral("/../share/korvane/resources");
    if (!programFolder.isEmpty() && QFileInfo(installed).isDir())
        return QFileInfo(installed).canonicalFilePath();
    return QStringLiteral(KR_SOURCE_RESOURCES_DIR);
}

QString resourcesDirectory()
{
    QMutexLocker lock(&s_mutex);
    if (!s_override.isEmpty())
        return s_override;
    if (s_found.isEmpty()) {
        s_found = lookUp();
        const QString found = s_found;
        lock.unlock();
        // Which copy a run uses (an installed one, or a source tree's): worth a line in the log.
        KR_PLATFORM_LOG(QStringLiteral("Resources: %1").arg(found));
        return found;
    }
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

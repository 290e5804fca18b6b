#include "KRWebEngineEnvironment.h"

#include <QCoreApplication>
#include <QtGlobal>

#include <unistd.h>

namespace KRWebEngineEnvironment {

void prepare()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (!QCoreApplication::instance())
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

} // namespace KRWebEngineEnvironment

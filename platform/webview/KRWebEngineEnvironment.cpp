#include "KRWebEngineEnvironment.h"

#include <QCoreApplication>
#include <QWebEngineUrlScheme>
#include <QtGlobal>

#include <unistd.h>

namespace KRWebEngineEnvironment {

void prepare()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    if (QCoreApplication::instance())
        return;
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // "kr://action" links of help pages and HTML windows: the action is the host, so the
    // scheme has host syntax (with path syntax the engine would fold the action into the path).
    if (QWebEngineUrlScheme::schemeByName("kr").name().isEmpty()) {
        QWebEngineUrlScheme kr("kr");
        kr.setSyntax(QWebEngineUrlScheme::Syntax::Host);
        QWebEngineUrlScheme::registerScheme(kr);
    }
}

} // namespace KRWebEngineEnvironment

#include "KRWebEngineEnvironment.h"

#include <platform/foundation/KRLogSink.h>

#include <QCoreApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QWebEngineUrlScheme>
#include <QtGlobal>

#include <unistd.h>

namespace KRWebEngineEnvironment {

void prepare()
{
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // On Linux the engine describes its pages to assistive tools only when this is set; it then
    // does so while a tool listens, as the rest of the window is described. A value set in the
    // environment stands.
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"))
        qputenv("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", "1");
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

void chooseViewDrawing()
{
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND"))
        return;
    // The context every view shares exists once the application does (see prepare); where
    // it cannot be made current (no OpenGL, an offscreen platform) nothing is known and
    // nothing changes.
    QOpenGLContext *const context = QOpenGLContext::globalShareContext();
    if (!context)
        return;
    QOffscreenSurface surface;
    surface.setFormat(context->format());
    surface.create();
    if (!surface.isValid() || !context->makeCurrent(&surface))
        return;
    const QByteArray renderer(reinterpret_cast<const char *>(context->functions()->glGetString(GL_RENDERER)));
    context->doneCurrent();
    if (!isSoftwareRenderer(renderer))
        return;
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    KR_PLATFORM_LOG(QStringLiteral("Web views are drawn like the other widgets: OpenGL renders on the CPU here (%1)")
                        .arg(QString::fromUtf8(renderer)));
}

bool isSoftwareRenderer(QByteArrayView renderer)
{
    // Mesa's CPU renderers, the one Chromium and others ship, and the one Windows offers a
    // Linux system run under it without a graphics driver.
    for (const char *name : {"llvmpipe", "softpipe", "Software Rasterizer", "swrast", "SwiftShader", "Basic Render Driver"}) {
        if (renderer.contains(QByteArrayView(name)))
            return true;
    }
    return false;
}

} // namespace KRWebEngineEnvironment

#pragma once

#include <QByteArrayView>

// Process set-up that QtWebEngine needs before the QApplication and the first view exist.
namespace KRWebEngineEnvironment {

// Chromium's sandbox refuses to start as root; only then is it switched off
// (QTWEBENGINE_DISABLE_SANDBOX=1). Lets the engine describe pages to assistive tools while one
// listens (QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY=1, unless set otherwise). Also shares OpenGL
// contexts, which QtWebEngine asks for before the application object is made, and registers
// the application's own "kr" link scheme. Call once, early in main(), before the QApplication
// exists.
void prepare();

// How web views are drawn into their windows. A window that holds one is otherwise drawn
// whole through OpenGL each time any of its widgets changes; where OpenGL itself renders on
// the CPU (no graphics hardware, or a display server that offers none), that costs some
// milliseconds for every key typed and every row of the inspector. There the views are
// drawn as the other widgets are, and a window sends only what changed. A renderer chosen
// in the environment (QT_QUICK_BACKEND, QSG_RHI_BACKEND) stands. Call once the
// QApplication exists and before the first web view is made.
void chooseViewDrawing();

// Whether an OpenGL renderer name (GL_RENDERER) is one of the renderers that run on the CPU.
bool isSoftwareRenderer(QByteArrayView renderer);

} // namespace KRWebEngineEnvironment

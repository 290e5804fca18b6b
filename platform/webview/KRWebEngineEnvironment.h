#pragma once

// Process set-up that QtWebEngine needs before the QApplication and the first view exist.
namespace KRWebEngineEnvironment {

// Chromium's sandbox refuses to start as root; only then is it switched off
// (QTWEBENGINE_DISABLE_SANDBOX=1). Also shares OpenGL contexts, which QtWebEngine asks for
// before the application object is made, and registers the application's own "kr" link
// scheme. Call once, early in main(), before the QApplication exists.
void prepare();

} // namespace KRWebEngineEnvironment

// The floor of the start-up benchmark: the least a Qt application with a web engine does to put
// a window on screen. Same platform start as the application (the web engine environment, then
// the application object), one top-level window shown, and done once the window is exposed, the
// event the application's measure ends at too. With "--web" the window holds one web view
// showing an empty page, and is done once that page has loaded as well (the exposure is then
// reported at the load).
#include "KRBenchLaunchClock.h"

#include <platform/webview/KRWebEngineEnvironment.h>

#include <QApplication>
#include <QMainWindow>
#include <QWebEngineView>

#include <cstring>

int main(int argc, char *argv[])
{
    KRWebEngineEnvironment::prepare();
    bool withWebView = false;
    for (int i = 1; i < argc; ++i)
        withWebView = withWebView || std::strcmp(argv[i], "--web") == 0;

    QApplication application(argc, argv);
    QMainWindow window;
    window.resize(800, 600);
    bool pageLoaded = !withWebView;
    KRBenchLaunch::Clock clock([&]() -> QWindow * { return pageLoaded ? window.windowHandle() : nullptr; });
    if (withWebView) {
        auto *view = new QWebEngineView(&window);
        QObject::connect(view, &QWebEngineView::loadFinished, &window, [&](bool ok) {
            pageLoaded = ok;
            clock.check(); // the window may have been exposed before the page came
        });
        window.setCentralWidget(view);
        view->setHtml(QString());
    }
    window.show();
    return application.exec();
}

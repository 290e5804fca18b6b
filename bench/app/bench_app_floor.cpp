// The floor of the start-up benchmark: the least a Qt widget application does to put a usable
// window on screen, started and measured as the application is (same display, window manager
// and home; to the window drawn and settled, see KRBenchLaunchClock.h). One main window with a
// list of a few rows, shown; usable once it is exposed and active. With "--web" the
// application first prepares the web engine as the application does, and the window holds one
// web view showing an empty page, usable once that page has loaded as well: what one web page
// adds, not a floor.
#include "KRBenchLaunchClock.h"

#include <platform/webview/KRWebEngineEnvironment.h>

#include <QListWidget>
#include <QMainWindow>
#include <QWebEngineView>

#include <cstring>

int main(int argc, char *argv[])
{
    bool withWebView = false;
    for (int i = 1; i < argc; ++i)
        withWebView = withWebView || std::strcmp(argv[i], "--web") == 0;
    if (withWebView)
        KRWebEngineEnvironment::prepare();

    KRBenchLaunch::Application application(argc, argv);
    QMainWindow window;
    window.resize(800, 600);
    bool pageLoaded = !withWebView;
    application.watch([&window]() -> QWidget * { return &window; }, [&] { return pageLoaded && window.isActiveWindow(); });
    if (withWebView) {
        auto *view = new QWebEngineView(&window);
        QObject::connect(view, &QWebEngineView::loadFinished, &window, [&](bool ok) { pageLoaded = ok; });
        window.setCentralWidget(view);
        view->setHtml(QString());
    } else {
        auto *list = new QListWidget(&window);
        for (int i = 0; i < 5; ++i)
            list->addItem(QStringLiteral("Row %1").arg(i + 1));
        window.setCentralWidget(list);
    }
    window.show();
    return application.exec();
}

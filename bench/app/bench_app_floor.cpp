// The floor of the cold-start benchmark: the least a Qt application with a web engine does to
// put a window on screen. Same platform start as korvane (the web engine environment, then the
// application object), one top-level window shown, and exit once the window is exposed, checked
// every 5 ms as korvane checks its gallery. With "--web" the window holds one web view showing
// an empty page, and the program exits once that page has loaded as well.
#include <platform/webview/KRWebEngineEnvironment.h>

#include <QApplication>
#include <QMainWindow>
#include <QTimer>
#include <QWebEngineView>
#include <QWindow>

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
    if (withWebView) {
        auto *view = new QWebEngineView(&window);
        QObject::connect(view, &QWebEngineView::loadFinished, &window, [&pageLoaded](bool ok) { pageLoaded = ok; });
        window.setCentralWidget(view);
        view->setHtml(QString());
    }
    window.show();

    QTimer quitWhenShown;
    QObject::connect(&quitWhenShown, &QTimer::timeout, &window, [&] {
        if (pageLoaded && window.windowHandle() && window.windowHandle()->isExposed())
            QCoreApplication::quit();
    });
    quitWhenShown.start(5);
    return application.exec();
}

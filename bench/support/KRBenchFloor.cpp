#include "KRBenchFloor.h"

#include "KRBenchSupport.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace KRBench {

bool scriptIsTrue(QWebEnginePage *page, const QString &script, int pollMilliseconds)
{
    bool done = false, answer = false;
    page->runJavaScript(script, [&](const QVariant &r) {
        answer = r.toBool();
        done = true;
    });
    waitUntil([&] { return done; }, 5000, pollMilliseconds);
    return answer;
}

QString jQueryMobilePageShownScript(const QString &pageID)
{
    const QString check = pageID.isEmpty() ? QStringLiteral("m.activePage.length > 0")
                                           : QStringLiteral("m.activePage.attr('id') === '%1'").arg(pageID);
    return QStringLiteral("(function() { var m = window.$ && $.mobile; return !!(m && m.activePage && %1); })()").arg(check);
}

FloorWebWindow::FloorWebWindow()
    : m_window(std::make_unique<QMainWindow>())
{
    m_view = new QWebEngineView(m_window.get());
    m_window->setCentralWidget(m_view);
    m_window->resize(320, 480); // a phone's page, until resizeView gives the figure's size
    m_window->show();
}

FloorWebWindow::~FloorWebWindow() = default;

void FloorWebWindow::resizeView(const QSize &size)
{
    // A bare main window: its central widget is all of it.
    if (size.isValid() && !size.isEmpty())
        m_window->resize(size);
}

double FloorWebWindow::loadToFirstFrame(const QUrl &url, const QString &readyScript, int pollMilliseconds)
{
    QWebEnginePage *page = m_view->page();
    m_view->setHtml(QString());
    waitUntil([&] { return scriptIsTrue(page, QStringLiteral("!window.$ && !window.__floorFrame"), pollMilliseconds); },
              5000, pollMilliseconds);

    // Ready, then a frame requested after that has been drawn.
    const QString drawn = QStringLiteral("(function() { try { if (!%1) return false;"
                                         " if (window.__floorFrame) return true;"
                                         " if (!window.__floorAsked) { window.__floorAsked = true;"
                                         " requestAnimationFrame(function() { window.__floorFrame = true; }); }"
                                         " return false; } catch (e) { return false; } })()")
                              .arg(readyScript);
    QElapsedTimer timer;
    timer.start();
    m_view->load(url);
    if (!waitUntil([&] { return scriptIsTrue(page, drawn, pollMilliseconds); }, 30000, pollMilliseconds))
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

void reportFloor(benchmark::State &state, double meanMs, double floorMs)
{
    if (floorMs <= 0)
        return;
    state.counters["floor_ms"] = floorMs;
    state.counters["x_floor"] = meanMs / floorMs;
}

} // namespace KRBench

#pragma once

// The floor of a benchmark that ends with a page drawn in a web view: a bare main window
// holding one web view, loading a page to its first frame in the same run as the figure, so
// that the figure can be given as a ratio to what the web engine alone costs on this machine.

#include <QString>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <memory>

class QMainWindow;
class QSize;
class QWebEnginePage;
class QWebEngineView;

namespace KRBench {

// The script's result as a boolean (false when it did not answer within 5 s), waiting on the
// event loop every `pollMilliseconds`.
bool scriptIsTrue(QWebEnginePage *page, const QString &script, int pollMilliseconds);

// A script, for a jQuery Mobile page, that is true once jQuery Mobile has shown a page (the one
// with the id when one is given).
QString jQueryMobilePageShownScript(const QString &pageID = QString());

class FloorWebWindow
{
public:
    FloorWebWindow(); // shown at once; it may serve many loads
    ~FloorWebWindow();

    QWebEngineView *view() const { return m_view; }
    // The view's size: that of the view the figure draws in, for the same amount to draw.
    void resizeView(const QSize &size);

    // Milliseconds from handing the view the address to the first frame drawn after
    // `readyScript` held in the page; negative when that did not happen within 30 s. Each load
    // starts from a blank page (not timed).
    double loadToFirstFrame(const QUrl &url, const QString &readyScript, int pollMilliseconds = 2);

private:
    std::unique_ptr<QMainWindow> m_window;
    QWebEngineView *m_view = nullptr;
};

// The counters "floor_ms" (the floor) and "x_floor" (the figure's mean over the floor); nothing
// when the floor is unknown.
void reportFloor(benchmark::State &state, double meanMs, double floorMs);

} // namespace KRBench

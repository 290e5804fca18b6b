#pragma once

// Scripts run in a web view's page and its painted picture, for tests that make web views
// (label web).

#include <KRTestSupport.h>

#include <QImage>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace KRTest {

// The result of the script in the view's page; an invalid value when it did not answer in time.
inline QVariant evaluateScript(QWebEngineView *view, const QString &script)
{
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant &r) {
        result = r;
        done = true;
    });
    processEventsUntil([&] { return done; });
    return result;
}

// The view's picture once the page has painted: more than `differing` of the pixels sampled
// every `step` pixels differ from the top-left one (the engine composes the picture itself, so
// it is grabbed on its own). A null image when that did not happen in time.
inline QImage paintedPage(QWebEngineView *view, int differing, int step = 4)
{
    QImage page;
    const bool painted = processEventsUntil([&] {
        page = view->grab().toImage();
        int count = 0;
        for (int y = 0; y < page.height(); y += step)
            for (int x = 0; x < page.width(); x += step)
                count += page.pixel(x, y) != page.pixel(0, 0) ? 1 : 0;
        return count > differing;
    });
    return painted ? page : QImage();
}

} // namespace KRTest

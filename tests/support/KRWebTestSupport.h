#pragma once

// Scripts run in a web view's page and its painted picture, for tests that make web views
// (label web).

#include <KRTestSupport.h>

#include <QImage>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <memory>

namespace KRTest {

// The result of the script in the page; an invalid value when it did not answer in time.
// The answer is kept apart from the caller's frame: it may come after the wait has given up,
// or when the page goes (the engine then answers every open request with nothing).
inline QVariant evaluateScript(QWebEnginePage *page, const QString &script, std::chrono::milliseconds timeout = WaitTimeout)
{
    struct Answer {
        bool done = false;
        QVariant value;
    };
    const auto answer = std::make_shared<Answer>();
    page->runJavaScript(script, [answer](const QVariant &value) {
        answer->value = value;
        answer->done = true;
    });
    processEventsUntil([&] { return answer->done; }, timeout);
    return answer->value;
}

inline QVariant evaluateScript(QWebEngineView *view, const QString &script, std::chrono::milliseconds timeout = WaitTimeout)
{
    return evaluateScript(view->page(), script, timeout);
}

// The page's text as the engine gives it for copying; empty when it did not answer in time.
// Kept apart from the caller's frame like a script's answer.
inline QString plainText(QWebEnginePage *page, std::chrono::milliseconds timeout = WaitTimeout)
{
    struct Answer {
        bool done = false;
        QString text;
    };
    const auto answer = std::make_shared<Answer>();
    page->toPlainText([answer](const QString &text) {
        answer->text = text;
        answer->done = true;
    });
    processEventsUntil([&] { return answer->done; }, timeout);
    return answer->text;
}

// Waits until the page has drawn `frames` more frames of its own, so that a picture taken
// next shows what changed before the call. False when it did not draw them in time.
inline bool framesDrawn(QWebEngineView *view, int frames = 2, std::chrono::milliseconds timeout = WaitTimeout)
{
    static int lastToken = 0;
    const int token = ++lastToken;
    evaluateScript(view, QStringLiteral("(function (left) {"
                                        "  var step = function () {"
                                        "    if (--left > 0) requestAnimationFrame(step); else window.__krFramesDrawn = %1;"
                                        "  };"
                                        "  requestAnimationFrame(step);"
                                        "})(%2); 0")
                             .arg(token)
                             .arg(frames));
    return processEventsUntil([&] { return evaluateScript(view, QStringLiteral("window.__krFramesDrawn")).toInt() == token; },
                              timeout);
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

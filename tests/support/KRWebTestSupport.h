#pragma once

// Scripts run in a web view's page by tests that make web views (label web).

#include <KRTestSupport.h>

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

} // namespace KRTest
